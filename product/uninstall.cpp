// "KELVRA.EXE /UNINSTALL": removes what the setup put on the machine and
// nothing else: the five product files in the program's own directory, the
// Start menu folder "Kelvra" with its two shortcuts, and the uninstall key.
// The user's own files in the directory stay, and with them the directory.
//
// A running program cannot delete its own file. The uninstaller copies itself
// to the temporary directory and asks the command interpreter to run that copy
// with /CLEANUP and wait for it, then delete it; the copy waits until the
// uninstaller has exited, deletes KELVRA.EXE and removes the directory if it is
// empty. Where that cannot be started, both are left to the next restart.
#include <shlobj.h>

#include "product.h"

constexpr char UninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kelvra";
constexpr char Caption[] = "Kelvra";
constexpr DWORD BroadcastTimeoutMs = 5000;
constexpr DWORD MeterExitTimeoutMs = 5000;
constexpr DWORD HelperStartTimeoutMs = 10000;

static bool IsGone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Deletes a file; one that is not there counts as deleted. A file still held
// open by a copy that is closing gets a few more tries.
static bool DeleteIfPresent(const char *path) {
  for (int attempt = 0; attempt < 20; attempt++) {
    if (DeleteFileA(path)) return true;
    const DWORD error = GetLastError();
    if (IsGone(error)) return true;
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return false;
    Sleep(100);
  }
  return false;
}

// Asks every running meter to exit and waits until the last has let go of
// its instance mutex, so that its file can be deleted.
static void CloseRunningCopies() {
  DWORD_PTR result;
  SendMessageTimeoutA(HWND_BROADCAST, ExitMessage(), 0, 0, SMTO_ABORTIFHUNG, BroadcastTimeoutMs, &result);
  HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, MeterInstanceMutex);
  if (!mutex) return;
  const DWORD wait = WaitForSingleObject(mutex, MeterExitTimeoutMs);
  if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ReleaseMutex(mutex);
  CloseHandle(mutex);
}

// Removes a directory if it is empty. Some systems refuse a path that ends
// in a backslash for this, so it goes without.
static bool RemoveEmptyDirectory(const char *directory, DWORD delayFlags) {
  char path[MAX_PATH];
  if (!JoinPath(directory, "", path, sizeof(path))) return false;
  RemoveTrailingBackslash(path);
  return delayFlags ? MoveFileExA(path, nullptr, delayFlags) != 0 : RemoveDirectoryA(path) != 0;
}

// Deletes both shortcuts, then the folder if nothing else is in it.
static bool RemoveShortcuts() {
  char programs[MAX_PATH];
  // Without a Programs folder the setup could not have made shortcuts either.
  if (!SHGetSpecialFolderPathA(nullptr, programs, CSIDL_PROGRAMS, FALSE)) return true;
  char folder[MAX_PATH], shortcut[MAX_PATH];
  AddBackslash(programs, sizeof(programs));
  if (!JoinPath(programs, "Kelvra\\", folder, sizeof(folder))) return false;
  bool ok = true;
  static const char *const Shortcuts[] = {"Kelvra.lnk", "Kelvra Help.lnk"};
  for (const char *name : Shortcuts)
    ok = JoinPath(folder, name, shortcut, sizeof(shortcut)) && DeleteIfPresent(shortcut) && ok;
  if (!RemoveEmptyDirectory(folder, 0)) {
    const DWORD error = GetLastError();
    // A folder the user has put something else into is theirs to keep.
    if (!IsGone(error) && error != ERROR_DIR_NOT_EMPTY) ok = false;
  }
  return ok;
}

static bool RemoveUninstallKey() {
  const LONG result = RegDeleteKeyA(HKEY_LOCAL_MACHINE, UninstallKey);
  return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

// True when the directory holds anything besides `keep`.
static bool HoldsOtherFiles(const char *directory, const char *keep) {
  char pattern[MAX_PATH];
  if (!JoinPath(directory, "*", pattern, sizeof(pattern))) return true;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool other = false;
  do {
    const char *name = found.cFileName;
    if (strcmp(name, ".") != 0 && strcmp(name, "..") != 0 && lstrcmpiA(name, keep) != 0) other = true;
  } while (!other && FindNextFileA(search, &found));
  FindClose(search);
  return other;
}

// Name of the event the helper sets once it holds the uninstaller's process
// handle: until then the uninstaller must not exit, or the helper could end up
// waiting on an unrelated process that was given the same id.
static void ReadyEventName(DWORD processId, char *out) { wsprintfA(out, "KelvraCleanupReady%lu", processId); }

// Starts the helper that deletes the program file once this process is gone.
static bool StartCleanupHelper(const char *self, const char *directory) {
  char temp[MAX_PATH], helper[MAX_PATH], name[32];
  const DWORD tempLength = GetTempPathA(sizeof(temp), temp);
  if (tempLength == 0 || tempLength >= sizeof(temp)) return false;
  wsprintfA(name, "KelvraCleanup%lu.exe", GetCurrentProcessId());
  if (!JoinPath(temp, name, helper, sizeof(helper))) return false;

  char interpreter[MAX_PATH];
  const UINT systemLength = GetSystemDirectoryA(interpreter, sizeof(interpreter));
  if (systemLength == 0 || systemLength >= sizeof(interpreter)) return false;
  AddBackslash(interpreter, sizeof(interpreter));
  if (!JoinPath(interpreter, "cmd.exe", interpreter, sizeof(interpreter))) return false;

  char commandLine[3 * MAX_PATH + 64] = "cmd.exe ";
  const size_t prefix = strlen(commandLine);
  if (!BuildCleanupCommand(helper, GetCurrentProcessId(), directory, commandLine + prefix,
                           sizeof(commandLine) - prefix))
    return false;
  if (!CopyFileA(self, helper, FALSE)) return false;

  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(interpreter, commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, temp,
                      &startup, &process)) {
    DeleteFileA(helper);
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// Removes the program's own file once it is no longer running: soon after the
// exit through the helper, or at the next restart. Returns the helper's ready
// event to wait for before exiting, or null.
static HANDLE RemoveSelf(const char *self, const char *directory, bool otherFiles,
                         UninstallOutcome &outcome) {
  char eventName[40];
  ReadyEventName(GetCurrentProcessId(), eventName);
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, eventName);
  if (ready && StartCleanupHelper(self, directory)) return ready;
  if (ready) CloseHandle(ready);
  if (!MoveFileExA(self, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    AddFailedFile(outcome, "KELVRA.EXE");
    return nullptr;
  }
  outcome.selfRemovalAtRestart = true;
  // Renames at restart run in order, so the directory goes after the file.
  if (!otherFiles) RemoveEmptyDirectory(directory, MOVEFILE_DELAY_UNTIL_REBOOT);
  return nullptr;
}

int RunUninstall() {
  if (MessageBoxA(nullptr, "Remove Kelvra and its Start menu shortcuts?", Caption,
                  MB_YESNO | MB_ICONQUESTION) != IDYES)
    return 0;

  UninstallOutcome outcome;
  StartOutcome(outcome);
  CloseRunningCopies();
  outcome.shortcutsFailed = !RemoveShortcuts();
  outcome.keyFailed = !RemoveUninstallKey();

  HANDLE helperReady = nullptr;
  char self[MAX_PATH], directory[MAX_PATH], path[MAX_PATH];
  const DWORD selfLength = GetModuleFileNameA(nullptr, self, sizeof(self));
  if (selfLength == 0 || selfLength >= sizeof(self) || !DirectoryOfPath(self, directory, sizeof(directory))) {
    for (const char *file : ProductFiles) AddFailedFile(outcome, file);
  } else {
    const char *selfName = self + strlen(directory);
    bool selfIsProduct = false;
    for (const char *file : ProductFiles) {
      if (lstrcmpiA(file, selfName) == 0) {
        selfIsProduct = true;
        continue;
      }
      if (!JoinPath(directory, file, path, sizeof(path)) || !DeleteIfPresent(path))
        AddFailedFile(outcome, file);
    }
    const bool otherFiles = HoldsOtherFiles(directory, selfName);
    outcome.userFilesKept = otherFiles && outcome.failedFileCount == 0;
    if (selfIsProduct)
      helperReady = RemoveSelf(self, directory, otherFiles, outcome);
    else if (!otherFiles)
      RemoveEmptyDirectory(directory, 0);
  }

  char text[512];
  const bool complete = DescribeOutcome(outcome, text, sizeof(text));
  MessageBoxA(nullptr, text, Caption, complete ? MB_ICONINFORMATION : MB_ICONEXCLAMATION);
  if (helperReady) {
    WaitForSingleObject(helperReady, HelperStartTimeoutMs);
    CloseHandle(helperReady);
  }
  return complete ? 0 : 1;
}

// "/CLEANUP <pid> <directory>", run from a copy outside the directory: waits
// for the uninstaller to exit, then deletes its KELVRA.EXE and the directory
// if it is empty. Shows nothing; touches no other file.
int RunCleanup(const Command &command) {
  HANDLE uninstaller = OpenProcess(SYNCHRONIZE, FALSE, command.waitProcessId);
  char eventName[40];
  ReadyEventName(command.waitProcessId, eventName);
  HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, eventName);
  if (ready) {
    SetEvent(ready);
    CloseHandle(ready);
  }
  if (uninstaller) {
    // The uninstaller's last message box is open until the user closes it.
    WaitForSingleObject(uninstaller, INFINITE);
    CloseHandle(uninstaller);
  }
  char program[MAX_PATH];
  if (!JoinPath(command.directory, "KELVRA.EXE", program, sizeof(program))) return 1;
  const bool deleted = DeleteIfPresent(program);
  if (deleted) RemoveEmptyDirectory(command.directory, 0);
  return deleted ? 0 : 1;
}
