// The process's GUI entry: guards the DLL search, reads the command line,
// lets one setup run at a time, records who we are and runs the setup. The
// exit code tells every caller the outcome (SetupExitCode); without
// arguments the run is the interactive one it always was.
#include "setup.h"

#include <aclapi.h>
#include <sddl.h>

#include "dllsearch.h"
#include "resource.h"
#include "trustwin.h"

// The mutex that keeps setups from running at once. Any account may make
// a global object of its name first, so one that exists counts only when an
// administrator or the system made it; ours is made owned by the
// Administrators group and readable by administrators and the system, so
// that every setup can tell.
static HANDLE CreateSetupMutex(GuardVerdict *verdict) {
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, NULL, FALSE};
  ConvertStringSecurityDescriptorToSecurityDescriptorA("O:BAD:(A;;GA;;;BA)(A;;GA;;;SY)", SDDL_REVISION_1,
                                                       &attributes.lpSecurityDescriptor, NULL);
  HANDLE mutex = CreateMutexA(&attributes, FALSE, SetupMutexName);
  DWORD error = GetLastError();
  if (mutex == NULL && error != ERROR_ACCESS_DENIED) {  // not elevated: no right to name that owner
    mutex = CreateMutexA(NULL, FALSE, SetupMutexName);
    error = GetLastError();
  }
  LocalFree(attributes.lpSecurityDescriptor);
  OwnerKind owner = OwnerKind::Unknown;
  if (mutex != NULL && error == ERROR_ALREADY_EXISTS) {
    owner = OwnerOfObject(mutex, SE_KERNEL_OBJECT);
  } else if (mutex == NULL && error == ERROR_ACCESS_DENIED) {
    HANDLE existing = OpenMutexA(READ_CONTROL, FALSE, SetupMutexName);
    if (existing != NULL) {
      owner = OwnerOfObject(existing, SE_KERNEL_OBJECT);
      CloseHandle(existing);
    }
  }
  *verdict = JudgeSetupGuard(mutex != NULL, error, owner);
  return mutex;
}

static int RunExclusively(bool silent) {
  GuardVerdict verdict;
  HANDLE mutex = CreateSetupMutex(&verdict);
  int code;
  if (verdict == GuardVerdict::AnotherSetup) {
    if (!silent) MessageBoxA(NULL, AlreadyRunningText, SetupCaption, MB_OK | MB_ICONINFORMATION);
    code = ExitAlreadyRunning;
  } else {
    if (verdict == GuardVerdict::Squatted)
      LogLine("%s exists, made by an account that is not an administrator: ignored", SetupMutexName);
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
  OpenSetupFile();
  int code = RunExclusively(silent);
  if (code == ExitFailed && setupState.lastFailure != nullptr)
    LogLine("result: %d %s (%s)", code, ExitCodeName(code), setupState.lastFailure);
  else
    LogLine("result: %d %s", code, ExitCodeName(code));
  CloseSetupLog();
  if (setupState.setupFile != INVALID_HANDLE_VALUE) CloseHandle(setupState.setupFile);
  return code;
}
