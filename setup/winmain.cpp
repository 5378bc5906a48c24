// The process's GUI entry: guards the DLL search, reads the command line,
// lets one setup run at a time, records who we are and runs the setup, the
// dialog or the unattended install, holding the run's state. The exit code
// tells every caller the outcome (SetupExitCode); without arguments the run
// is the interactive one it always was.
#include "setup.h"

#include "dllsearch.h"
#include "resource.h"

SetupState setupState;

// Long enough for a busy Kelvra to close its window, short enough that a
// hung window elsewhere on the desktop does not keep the dialog away.
constexpr UINT ExitBroadcastTimeoutMs = 5000;

// The run after the command line was accepted and the mutex taken: a
// running Kelvra is asked to exit, then the dialog or the unattended
// install does the rest.
static SetupResult RunSetup(bool silent) {
  CoInitialize(NULL);
  UINT exitMessage = RegisterWindowMessageA(ExitMessageName);
  if (exitMessage != 0)
    SendMessageTimeoutA(HWND_BROADCAST, exitMessage, 0, 0, SMTO_ABORTIFHUNG, ExitBroadcastTimeoutMs, NULL);
  SetupResult result = {ExitFailed, ""};  // stays so when the dialog cannot open
  if (silent) {
    result = InstallSilently();
  } else {
    INT_PTR ended =
        DialogBoxParamA(setupState.instance, MAKEINTRESOURCEA(IDD_SETUP), NULL, SetupDialogProc, 0);
    if (ended == IDOK) result.exitCode = ExitInstalled;
    if (ended == IDCANCEL) result.exitCode = ExitCancelled;
  }
  CoUninitialize();
  return result;
}

// Whether another setup holds the mutex. One created by another account
// (a deployment running as SYSTEM) may refuse us access: it exists all the
// same. A mutex that cannot be made for any other reason excludes nobody.
static bool AnotherSetupRuns(HANDLE mutex, DWORD error) {
  return mutex == NULL ? error == ERROR_ACCESS_DENIED : error == ERROR_ALREADY_EXISTS;
}

static SetupResult RunExclusively(bool silent) {
  HANDLE mutex = CreateMutexA(NULL, FALSE, SetupMutexName);
  SetupResult result = {ExitAlreadyRunning, ""};
  if (AnotherSetupRuns(mutex, GetLastError())) {
    if (!silent) MessageBoxA(NULL, AlreadyRunningText, SetupCaption, MB_OK | MB_ICONINFORMATION);
  } else {
    result = RunSetup(silent);
  }
  if (mutex != NULL) CloseHandle(mutex);
  return result;
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
  SetupResult result = RunExclusively(silent);
  int code = result.exitCode;
  if (result.failure[0] != '\0')
    LogLine("result: %d %s (%s)", code, ExitCodeName(code), result.failure);
  else
    LogLine("result: %d %s", code, ExitCodeName(code));
  CloseSetupLog();
  return code;
}
