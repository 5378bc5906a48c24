// "KELVRA.EXE /UNINSTALL [/S] [/LOG=file]": removes what the setup put on the
// machine and nothing else: the five product files in the registered
// installation directory, the Start menu folder "Kelvra" with its two
// shortcuts (in the all-users and in the current user's Programs folder),
// and the uninstall entry. The user's own files in the directory stay, and
// with them the directory.
//
// Order matters for a removal that fails halfway: files and shortcuts go
// first and the entry last, and the entry stays while a product file does,
// so that the user can run the uninstall again from the list of installed
// programs. A copy of the program anywhere but the registered directory
// removes nothing: the same five names elsewhere (a copy in Downloads) are
// not the product's.
#include <shlobj.h>

#include "pending.h"
#include "product.h"

constexpr DWORD BroadcastTimeoutMs = 5000;
constexpr DWORD MeterExitTimeoutMs = 5000;

static bool IsGone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

bool DeleteIfPresent(const char *path) {
  for (int attempt = 0; attempt < 20; attempt++) {
    if (DeleteFileA(path)) return true;
    const DWORD error = GetLastError();
    if (IsGone(error)) return true;
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return false;
    Sleep(100);
  }
  return false;
}

// Some systems refuse a path that ends in a backslash for this, so it goes without.
bool RemoveEmptyDirectory(const char *directory, DWORD delayFlags) {
  char path[PathCapacity];
  if (!JoinPath(path, sizeof(path), directory, "")) return false;
  RemoveTrailingBackslash(path);
  return delayFlags ? MoveFileExA(path, nullptr, delayFlags) != 0 : RemoveDirectoryA(path) != 0;
}

HANDLE HoldInstallFolder(const char *directory) {
  char path[PathCapacity];
  if (!JoinPath(path, sizeof(path), directory, "")) return nullptr;
  RemoveTrailingBackslash(path);
  HANDLE folder =
      CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(folder, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
      !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return folder;
  CloseHandle(folder);
  SetLastError(ERROR_CANT_ACCESS_FILE);
  return nullptr;
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

static bool DeleteLogged(const char *path) {
  if (DeleteIfPresent(path)) return true;
  LogLine("not deleted: ", path, GetLastError());
  return false;
}

// Deletes both shortcuts in one Programs folder, then its Kelvra folder if
// nothing else is in it.
static bool RemoveShortcuts(int folderId) {
  char folder[PathCapacity], shortcut[PathCapacity];
  // Without that Programs folder the setup could not have made shortcuts there either.
  if (!SHGetSpecialFolderPathA(nullptr, folder, folderId, FALSE)) return true;
  if (!AddTrailingBackslash(folder, sizeof(folder)) ||
      !JoinPath(folder, sizeof(folder), folder, ProductName, "\\"))
    return false;
  bool ok = true;
  const char *const shortcuts[] = {ProgramShortcut, HelpShortcut};
  for (const char *name : shortcuts)
    ok =
        JoinPath(shortcut, sizeof(shortcut), folder, name, ShortcutExtension) && DeleteLogged(shortcut) && ok;
  if (!RemoveEmptyDirectory(folder, 0)) {
    const DWORD error = GetLastError();
    // A folder the user has put something else into is theirs to keep.
    if (!IsGone(error) && error != ERROR_DIR_NOT_EMPTY) {
      LogLine("not removed: ", folder, error);
      ok = false;
    }
  }
  return ok;
}

// True when the directory holds anything besides `keep`.
static bool HoldsOtherFiles(const char *directory, const char *keep) {
  char pattern[PathCapacity];
  if (!JoinPath(pattern, sizeof(pattern), directory, "*")) return true;
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

static void Tell(const Command &command, const char *text, UINT icon) {
  if (!command.silent) MessageBoxA(nullptr, text, Caption, icon);
}

// A path as the file system spells it, so that a short 8.3 form or another
// spelling of the same directory compares equal; unchanged where it cannot
// be resolved.
static void LongForm(char *path) {
  char longPath[PathCapacity];
  const DWORD length = GetLongPathNameA(path, longPath, sizeof(longPath));
  if (length && length < sizeof(longPath)) strcpy(path, longPath);
}

// The running copy's path and directory; false (after telling) when this
// copy is not the one the uninstall entry registers.
static bool FindInstalledCopy(const Command &command, char *self, char *directory) {
  char registered[PathCapacity];
  const DWORD selfLength = GetModuleFileNameA(nullptr, self, PathCapacity);
  if (selfLength == 0 || selfLength >= PathCapacity || !DirectoryOfPath(self, directory, PathCapacity)) {
    LogLine("refused: the program's own path is unknown", "", GetLastError());
    Tell(command, "Kelvra cannot tell where it is installed, so nothing has been removed.", MB_ICONHAND);
    return false;
  }
  const bool haveEntry = ReadRegisteredDirectory(registered, sizeof(registered));
  LongForm(directory);
  if (haveEntry) LongForm(registered);
  if (haveEntry && SameDirectory(directory, registered)) return true;
  char text[3 * PathCapacity] =
      "This copy of Kelvra is not the installed one, so nothing has been removed.\n\n";
  AppendText(text, sizeof(text), "This copy is in:\n    ");
  AppendText(text, sizeof(text), directory);
  AppendText(text, sizeof(text),
             haveEntry ? "\nKelvra is installed in:\n    " : "\nKelvra is not installed.");
  if (haveEntry) AppendText(text, sizeof(text), registered);
  LogLine("refused: not the registered installation: ", directory);
  if (haveEntry) LogLine("registered installation: ", registered);
  Tell(command, text, MB_ICONEXCLAMATION);
  return false;
}

static void LogTakenBack(const char *source, const char *target) {
  char text[2 * PathCapacity + 16] = "";
  AppendText(text, sizeof(text), source);
  AppendText(text, sizeof(text), " -> ");
  AppendText(text, sizeof(text), target[0] ? target : "(delete)");
  LogLine("restart-time operation dropped: ", text);
}

// A setup that ended with 3010 left its staged files to replace the
// product's at the next restart, which would bring back what this uninstall
// removes: those moves are taken back, and their staged files deleted. The
// deletion of this program's renamed image at the restart names no product
// file, and is scheduled only after this anyway.
static void TakeBackRestartWork(const char *directory) {
  if (!TakeBackPendingOperations(directory, ProductFiles, ProductFileCount, LogTakenBack))
    LogLine("restart-time operations naming the product could not be taken back", "", GetLastError());
}

// Deletes the product files other than the running one; true when the running one is a product file.
static bool DeleteProductFiles(const char *directory, const char *selfName, UninstallOutcome &outcome) {
  bool selfIsProduct = false;
  char path[PathCapacity];
  for (const char *file : ProductFiles) {
    if (lstrcmpiA(file, selfName) == 0) {
      selfIsProduct = true;
      continue;
    }
    if (!JoinPath(path, sizeof(path), directory, file) || !DeleteLogged(path)) AddFailedFile(outcome, file);
  }
  return selfIsProduct;
}

// The closing report: the message box, the log's last line, the exit code.
static int Report(const Command &command, const UninstallOutcome &outcome) {
  char text[768];
  const bool complete = DescribeOutcome(outcome, text, sizeof(text));
  const int code = OutcomeExitCode(outcome);
  for (unsigned i = 0; i < outcome.failedFileCount; i++) LogLine("stayed: ", outcome.failedFiles[i]);
  if (outcome.shortcutsFailed) LogLine("stayed: a Start menu shortcut or folder");
  if (outcome.keyKept) LogLine("uninstall entry kept: a product file stayed");
  if (outcome.selfRemovalAtRestart) LogLine("KELVRA.EXE and its folder are deleted at the next restart");
  char result[48];
  wsprintfA(result, "result: exit code %d, ", code);
  LogLine(result, code == 0      ? "removed"
                  : code == 3010 ? "removed, restart needed"
                                 : "not removed completely");
  Tell(command, text, complete ? MB_ICONINFORMATION : MB_ICONEXCLAMATION);
  return code;
}

// Asks for administrator rights in a restarted copy and passes its exit code on.
static int RestartElevated(const Command &command, const char *arguments) {
  LogLine("asking for administrator rights");
  const int code = RunElevatedCopy(arguments);
  if (code == ElevationDeclinedExitCode) {
    LogLine("administrator rights declined: nothing removed, exit code 1602");
    Tell(command,
         "Kelvra has not been removed: removing it needs administrator rights, and they were not granted.",
         MB_ICONEXCLAMATION);
    return code;
  }
  if (code < 0) {
    LogLine("could not restart with administrator rights: nothing removed, exit code 1", "", GetLastError());
    Tell(command, "Kelvra has not been removed: it could not ask for administrator rights.", MB_ICONHAND);
    return 1;
  }
  return code;
}

int RunUninstall(const Command &command, const char *arguments) {
  StartLog(command.logFile);
  LogLine("KELVRA.EXE ", arguments);
  char self[PathCapacity], directory[PathCapacity];
  if (!FindInstalledCopy(command, self, directory)) return 1;
  switch (DecideUninstallStart(command, ProcessIsElevated())) {
    case UninstallStart::RestartElevated:
      return RestartElevated(command, arguments);
    case UninstallStart::ElevationMissing:
      LogLine("restarted without administrator rights: nothing removed, exit code 740");
      Tell(command, "Kelvra has not been removed: removing it needs administrator rights.", MB_ICONHAND);
      return ElevationRequiredExitCode;
    case UninstallStart::Proceed:
      break;
  }
  if (!command.silent && MessageBoxA(nullptr, "Remove Kelvra and its Start menu shortcuts?", Caption,
                                     MB_YESNO | MB_ICONQUESTION) != IDYES) {
    LogLine("cancelled: nothing removed, exit code 1602");
    return CancelledExitCode;
  }
  LogLine("removing from ", directory);
  LogLine("administrator rights: ", ProcessIsElevated() ? "yes" : "no");

  UninstallOutcome outcome;
  StartOutcome(outcome);
  CloseRunningCopies();
  HANDLE folder = HoldInstallFolder(directory);
  if (!folder) {
    LogLine("refused: the installation folder is a link or cannot be opened: ", directory, GetLastError());
    Tell(command,
         "Kelvra cannot be removed: its installation folder is a link to another place or cannot be opened.",
         MB_ICONHAND);
    return 1;
  }
  TakeBackRestartWork(directory);
  const char *selfName = self + strlen(directory);
  const bool selfIsProduct = DeleteProductFiles(directory, selfName, outcome);
  // The per-user folder too: older versions put the interactive install's shortcuts there.
  const bool commonOk = RemoveShortcuts(CSIDL_COMMON_PROGRAMS);
  outcome.shortcutsFailed = !RemoveShortcuts(CSIDL_PROGRAMS) || !commonOk;
  const bool otherFiles = HoldsOtherFiles(directory, selfName);
  outcome.userFilesKept = otherFiles && outcome.failedFileCount == 0;
  if (selfIsProduct) HandOverSelfRemoval(self, directory, otherFiles, outcome);
  CloseHandle(folder);  // the folder itself may go now
  if (!selfIsProduct && !otherFiles) RemoveEmptyDirectory(directory, 0);
  if (outcome.failedFileCount == 0)
    outcome.keyFailed = !DeleteUninstallKey();
  else
    outcome.keyKept = true;
  return Report(command, outcome);
}
