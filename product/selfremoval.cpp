// A running program cannot delete its own file. The uninstaller copies itself
// into a fresh private directory and has the command interpreter run that
// copy with /CLEANUP, wait for it, and then remove the directory with the
// copy in it; the copy waits until the uninstaller has exited, deletes
// KELVRA.EXE and removes the installation directory if it is empty.
//
// The copy runs with the uninstaller's rights, usually an administrator's,
// so where it lies must be out of any other user's reach: an elevated
// uninstaller makes its directory in the Windows temporary directory (which
// users may add to but not rename or delete in) with a protected ACL that
// lets only administrators and SYSTEM write, under a random name. One that
// runs with the user's own rights uses the user's temporary directory: the
// copy could then do nothing the user could not.
//
// Success is reported only once the copy has shown that it runs (antivirus
// or an application control policy may stop it). The two sides meet on two
// events named after the uninstaller's process id: the copy sets "ready"
// once it holds the uninstaller's process handle, and acts only if the
// uninstaller has set "go" by the time it exits. An uninstaller that waited
// in vain leaves "go" unset, schedules its file for the next restart and
// says so; a copy that starts late then does nothing.
#include "product.h"

#include <sddl.h>

constexpr DWORD HelperStartTimeoutMs = 15000;
constexpr char HelperFileName[] = "KelvraCleanup.exe";
// Protected (no inherited entries): full control for SYSTEM and Administrators only.
constexpr char PrivateDirectoryAcl[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// The system's random generator, from bcrypt.dll by its full path: the
// older call for it (advapi32's) is forwarded to a DLL that Windows does
// not protect, which an import would load from the program's folder.
static bool FillRandom(uint8_t *out, ULONG size) {
  typedef LONG(WINAPI * GenRandomFn)(void *algorithm, uint8_t *buffer, ULONG size, ULONG flags);
  constexpr ULONG SystemPreferredGenerator = 2;  // BCRYPT_USE_SYSTEM_PREFERRED_RNG
  HMODULE library = LoadSystemLibrary("bcrypt.dll");
  const auto generate = library ? reinterpret_cast<GenRandomFn>(
                                      reinterpret_cast<void *>(GetProcAddress(library, "BCryptGenRandom")))
                                : nullptr;
  return generate && generate(nullptr, out, size, SystemPreferredGenerator) >= 0;
}

static void EventName(const char *role, DWORD processId, char *out) {
  wsprintfA(out, "KelvraCleanup%s%lu", role, processId);
}

// Creates the private directory; out gets its path (no final backslash).
static bool CreatePrivateDirectory(char *out) {
  char parent[PathCapacity];
  bool elevated = ProcessIsElevated();
  DWORD length =
      elevated ? GetSystemWindowsDirectoryA(parent, sizeof(parent)) : GetTempPathA(sizeof(parent), parent);
  if (length == 0 || length >= sizeof(parent)) return false;
  if (!AddTrailingBackslash(parent, sizeof(parent)) ||
      (elevated && !JoinPath(parent, sizeof(parent), parent, "Temp\\")))
    return false;
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
  if (elevated && !ConvertStringSecurityDescriptorToSecurityDescriptorA(
                      PrivateDirectoryAcl, SDDL_REVISION_1, &attributes.lpSecurityDescriptor, nullptr))
    return false;
  bool created = false;
  // A name that exists already may be someone's trap: never reuse one, draw again.
  for (int attempt = 0; attempt < 4 && !created; attempt++) {
    uint8_t random[8];
    char name[32];
    if (!FillRandom(random, sizeof(random))) break;
    HelperDirectoryName(random, name, sizeof(name));
    created = JoinPath(out, PathCapacity, parent, name) && CreateDirectoryA(out, &attributes);
  }
  if (attributes.lpSecurityDescriptor) LocalFree(attributes.lpSecurityDescriptor);
  return created;
}

// Schedules the program file for deletion at the next restart under a
// fresh name in its directory: a reinstall before the restart puts a new
// KELVRA.EXE there, which a deletion by the old name would take away.
static bool DeleteAtRestart(const char *program, const char *directory) {
  uint8_t random[8];
  char name[32], retired[PathCapacity];
  if (!FillRandom(random, sizeof(random))) return false;
  HelperDirectoryName(random, name, sizeof(name));
  if (!JoinPath(retired, sizeof(retired), directory, name, ".old") || !MoveFileExA(program, retired, 0))
    return false;
  if (MoveFileExA(retired, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return true;
  MoveFileExA(retired, program, 0);  // back under its name, where the next uninstall finds it
  return false;
}

// Copies the program into the private directory and starts the interpreter
// that runs the copy; returns the interpreter's process handle, or null.
static HANDLE StartHelper(const char *self, const char *directory) {
  char privateDirectory[PathCapacity], helper[PathCapacity], system[PathCapacity], interpreter[PathCapacity];
  if (!CreatePrivateDirectory(privateDirectory)) {
    LogLine("no private directory for the cleanup helper", "", GetLastError());
    return nullptr;
  }
  const UINT systemLength = GetSystemDirectoryA(system, sizeof(system));
  char commandLine[4 * PathCapacity + 96] = "cmd.exe ";
  const size_t prefix = strlen(commandLine);
  const bool ready = JoinPath(helper, sizeof(helper), privateDirectory, "\\", HelperFileName) &&
                     systemLength && systemLength < sizeof(system) &&
                     JoinPath(interpreter, sizeof(interpreter), system, "\\cmd.exe") &&
                     BuildCleanupCommand(helper, GetCurrentProcessId(), directory, privateDirectory,
                                         commandLine + prefix, sizeof(commandLine) - prefix) &&
                     CopyFileA(self, helper, TRUE);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  // The interpreter starts in the system directory: a process whose current
  // directory is one of the two to be removed would keep it in place.
  if (!ready || !CreateProcessA(interpreter, commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                system, &startup, &process)) {
    LogLine("cleanup helper not started", "", GetLastError());
    DeleteFileA(helper);
    RemoveDirectoryA(privateDirectory);
    return nullptr;
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

// Waits until the helper is ready or its interpreter has ended without it.
static bool HelperIsReady(HANDLE ready, HANDLE interpreter) {
  HANDLE waits[] = {ready, interpreter};
  return WaitForMultipleObjects(2, waits, FALSE, HelperStartTimeoutMs) == WAIT_OBJECT_0;
}

void HandOverSelfRemoval(const char *self, const char *directory, bool otherFiles,
                         UninstallOutcome &outcome) {
  char readyName[48], goName[48];
  EventName("Ready", GetCurrentProcessId(), readyName);
  EventName("Go", GetCurrentProcessId(), goName);
  // Events that exist already were not made for this process: not trusted.
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, readyName);
  const bool readyFresh = ready && GetLastError() != ERROR_ALREADY_EXISTS;
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, goName);
  const bool goFresh = go && GetLastError() != ERROR_ALREADY_EXISTS;
  HANDLE interpreter = readyFresh && goFresh ? StartHelper(self, directory) : nullptr;
  if (interpreter && HelperIsReady(ready, interpreter)) {
    // The handles stay open until exit: the helper acts once this process is gone.
    SetEvent(go);
    CloseHandle(interpreter);
    LogLine("cleanup helper running: it deletes ", self);
    return;
  }
  if (interpreter) {
    LogLine("cleanup helper did not signal that it runs");
    CloseHandle(interpreter);
  }
  if (ready) CloseHandle(ready);
  if (go) CloseHandle(go);
  if (!DeleteAtRestart(self, directory)) {
    LogLine("not deleted, not even at restart: ", self, GetLastError());
    AddFailedFile(outcome, ProgramFile);
    return;
  }
  outcome.selfRemovalAtRestart = true;
  // Renames at restart run in order, so the directory goes after the file.
  if (!otherFiles) RemoveEmptyDirectory(directory, MOVEFILE_DELAY_UNTIL_REBOOT);
}

int RunCleanup(const Command &command) {
  // The process handle first: if the events still exist afterwards, the
  // uninstaller was alive after it was taken, so the id was not yet reused.
  HANDLE uninstaller = OpenProcess(SYNCHRONIZE, FALSE, command.waitProcessId);
  char readyName[48], goName[48];
  EventName("Ready", command.waitProcessId, readyName);
  EventName("Go", command.waitProcessId, goName);
  HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, readyName);
  HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, goName);
  bool proceed = uninstaller && ready && go;
  if (proceed) {
    SetEvent(ready);
    // The uninstaller's last message box is open until the user closes it.
    WaitForSingleObject(uninstaller, INFINITE);
    proceed = WaitForSingleObject(go, 0) == WAIT_OBJECT_0;
  }
  if (uninstaller) CloseHandle(uninstaller);
  if (ready) CloseHandle(ready);
  if (go) CloseHandle(go);
  if (!proceed) return 1;
  char program[PathCapacity];
  if (!JoinPath(program, sizeof(program), command.directory, ProgramFile)) return 1;
  HANDLE folder = HoldInstallFolder(command.directory);
  if (!folder) return 1;
  const bool deleted = DeleteIfPresent(program);
  // Held open by something else after all: the next restart takes it.
  const bool scheduled = deleted || DeleteAtRestart(program, command.directory);
  CloseHandle(folder);
  if (scheduled) RemoveEmptyDirectory(command.directory, deleted ? 0 : MOVEFILE_DELAY_UNTIL_REBOOT);
  return scheduled ? 0 : 1;
}
