// The process's GUI entry: guards the DLL search, reads the command line,
// lets one setup run at a time, records who we are and runs the setup. The
// exit code tells every caller the outcome (SetupExitCode); without
// arguments the run is the interactive one it always was.
#include "setup.h"

#include "dllsearch.h"
#include "resource.h"

// Whether another setup holds the mutex. One created by another account
// (a deployment running as SYSTEM) may refuse us access: it exists all the
// same. A mutex that cannot be made for any other reason excludes nobody.
static bool AnotherSetupRuns(HANDLE mutex, DWORD error) {
  return mutex == NULL ? error == ERROR_ACCESS_DENIED : error == ERROR_ALREADY_EXISTS;
}

static int RunExclusively(bool silent) {
  HANDLE mutex = CreateMutexA(NULL, FALSE, SetupMutexName);
  int code;
  if (AnotherSetupRuns(mutex, GetLastError())) {
    if (!silent) MessageBoxA(NULL, AlreadyRunningText, SetupCaption, MB_OK | MB_ICONINFORMATION);
    code = ExitAlreadyRunning;
  } else {
    code = RunSetup(silent);
  }
  if (mutex != NULL) CloseHandle(mutex);
  return code;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  RestrictDllSearch();
  setupState.instance = instance;
  const char *commandLine = GetCommandLineA();
  ParseSetupCommandLine(commandLine, &setupState.options);
  StartDecision decision = DecideStart(setupState.options);
  if (decision == StartDecision::ExitAtOnce) return ExitBadCommandLine;
  if (decision == StartDecision::ShowUsage) {
    UINT icon = setupState.options.malformed ? MB_ICONEXCLAMATION : MB_ICONINFORMATION;
    MessageBoxA(NULL, UsageText, SetupCaption, MB_OK | icon);
    return UsageExitCode(setupState.options);
  }
  bool silent = decision == StartDecision::RunSilent;
  // No system box either (a drive without a disk, a crash report) where
  // nobody may be there to answer it.
  if (silent) SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX | SEM_NOGPFAULTERRORBOX);

  DWORD length = GetModuleFileNameA(NULL, setupState.setupPath, sizeof setupState.setupPath);
  if (length >= sizeof setupState.setupPath)
    setupState.setupPath[0] = '\0';  // cut short: opening it fails and says so
  OpenSetupLog(setupState.options.logFile);
  LogText("command line: ", commandLine);
  LogLine("setup file: %s", setupState.setupPath);
  int code = RunExclusively(silent);
  if (code == ExitFailed && setupState.lastFailure != nullptr)
    LogLine("result: %d %s (%s)", code, ExitCodeName(code), setupState.lastFailure);
  else
    LogLine("result: %d %s", code, ExitCodeName(code));
  CloseSetupLog();
  return code;
}
