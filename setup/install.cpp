// The install sequence, behind the Install button and in the unattended
// mode: check the destination, create and enter it, extract the appended
// archive, then register the product. The interactive sequence tells the
// user the outcome and starts the program; the unattended one shows nothing
// and leaves the outcome to its exit code and the log. Neither removes
// anything it did not create in this run, also after a failure.
#include "setup.h"

#include <shlobj.h>

#include "extract.h"

enum class InstallStep {
  Done,            // files extracted; working path ends in '\'
  BadDestination,  // refused as typed or given
  CannotCreate,    // the directory cannot be created or entered
  ExtractFailed,   // the archive's result says why
};

static void ShowMessage(HWND dialog, const char *text, UINT icon) {
  MessageBoxA(dialog, text, SetupCaption, MB_OK | icon);
}

static void LogCommitNote(const char *what, const char *path) { LogLine("%s: %s", what, path); }

// The steps both modes share. working: PathCapacity bytes, the destination
// with its final backslash once accepted. The interactive mode keeps its
// rule of creating the last directory only; the unattended one takes full
// paths only and creates the parents. archive: the sealed archive, checked
// once here, for the registration to list.
static InstallStep InstallFiles(const char *destinationText, bool silent, char *working, SetupSource *archive,
                                ExtractResult *result) {
  *result = XR_OK;
  LogLine("destination: %s", destinationText);
  if (PrepareWorkingPath(destinationText, working) != DestinationCheck::Ok)
    return InstallStep::BadDestination;
  // Before any directory is made: a damaged or swapped file leaves nothing.
  *result = OpenSealedArchive(archive);
  if (*result != XR_OK) return InstallStep::ExtractFailed;
  if (silent && FullPathRootLength(working) == 0) return InstallStep::BadDestination;
  if (!PrepareInstallFolder(working, silent)) return InstallStep::CannotCreate;
  JoinPath(working, PathCapacity, working, "\\");  // fits: checked above
  CloseRunningPrograms(working);
  ExtractCommitOptions commit = {true, LogCommitNote};
  SetExtractCommitOptions(commit);
  *result = ExtractArchiveFrom(archive, working);
  if (*result == XR_OK && !ExtractFinishesAtRestart()) SupersedePendingOperations(archive, working);
  return *result == XR_OK ? InstallStep::Done : InstallStep::ExtractFailed;
}

static const char *StepMessage(InstallStep step, ExtractResult result) {
  switch (step) {
    case InstallStep::Done:
      return SuccessText;
    case InstallStep::BadDestination:
      return InvalidDestinationText;
    case InstallStep::CannotCreate:
      return CannotCreateText;
    case InstallStep::ExtractFailed:
      break;
  }
  return ExtractFailureMessage(result);
}

// Logs the failure and gives it, for the log's result line, into failure
// (96 bytes): with the archive's code and name where extraction failed
// ("XR_CRC 0xE0000006").
static void LogFailure(InstallStep step, ExtractResult result, char *failure) {
  if (step == InstallStep::ExtractFailed)
    wsprintfA(failure, "%s 0x%08lX", ExtractResultName(result), static_cast<unsigned long>(result));
  else
    lstrcpynA(failure, StepMessage(step, result), sizeof SetupResult::failure);
  LogLine("failed: %s: %s", failure, StepMessage(step, result));
}

struct MeasuredEntries {
  const char *directory;  // the destination, ending in '\'
  ULONGLONG bytes;        // sum of the installed files' sizes on disk
};

static void MeasureEntry(const ArchiveEntryInfo *entry, void *context) {
  auto *measured = static_cast<MeasuredEntries *>(context);
  char path[PathCapacity];
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!JoinPath(path, sizeof path, measured->directory, entry->fileName) ||
      !GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
    LogLine("installed: %s (size unknown)", entry->fileName);
    return;
  }
  ULONGLONG size = (ULONGLONG{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  measured->bytes += size;
  LogLine("installed: %s (%lu bytes)", path, static_cast<unsigned long>(size));
}

// Shortcuts and uninstall entry. The sizes are those on disk, text files
// with their line ends as written, which is what Apps & Features shows. The
// shortcuts go to everyone's Programs folder in both modes: under an
// administrator's approval the current user is the administrator, not the
// person at the desktop.
static void RegisterProduct(char *working, SetupSource *archive) {
  const int programsFolder = CSIDL_COMMON_PROGRAMS;
  MeasuredEntries measured = {working, 0};
  ListArchiveFrom(archive, MeasureEntry, &measured);
  HRESULT program = CreateStartMenuShortcut(programsFolder, working, ProgramFile, ProgramShortcut);
  HRESULT help = CreateStartMenuShortcut(programsFolder, working, HelpFile, HelpShortcut);
  char folder[PathCapacity];
  GetProgramsFolder(programsFolder, folder);
  LogLine("shortcuts in %s: %s 0x%08lX, %s 0x%08lX", folder, ProgramShortcut,
          static_cast<unsigned long>(program), HelpShortcut, static_cast<unsigned long>(help));
  int registered = RegisterUninstall(working, KilobytesFor(measured.bytes));
  LogLine("uninstall entry: %s", registered ? "written" : "NOT written");
}

// The destination comes from the user, typed or browsed; this is where it
// is checked. Returns 1 on success; 0 after one message box.
int InstallToDirectory(HWND dialog) {
  char working[PathCapacity];
  SetupSource archive;
  ExtractResult result;
  InstallStep step = InstallFiles(setupState.destination, false, working, &archive, &result);
  if (step != InstallStep::Done) {
    char failure[sizeof SetupResult::failure];
    LogFailure(step, result, failure);
    ShowMessage(dialog, StepMessage(step, result),
                step == InstallStep::BadDestination ? MB_ICONEXCLAMATION : MB_ICONHAND);
    return 0;
  }
  RegisterProduct(working, &archive);
  if (ExtractFinishesAtRestart()) {
    // The program still running keeps its old files until then: nothing to start.
    ShowMessage(dialog, RestartText, MB_ICONASTERISK);
    return 1;
  }
  ShowMessage(dialog, SuccessText, MB_ICONASTERISK);
  StartInstalledProgram(working);
  return 1;
}

void ProposeDestination(char *out) {
  char windowsDir[PathCapacity];
  UINT length = GetWindowsDirectoryA(windowsDir, sizeof windowsDir);
  if (length == 0 || length >= sizeof windowsDir) windowsDir[0] = '\0';
  MakeDefaultDestination(windowsDir, out);
}

SetupResult InstallSilently() {
  if (setupState.options.haveDestination)
    lstrcpynA(setupState.destination, setupState.options.destination, PathCapacity);
  else
    ProposeDestination(setupState.destination);
  char working[PathCapacity];
  SetupSource archive;
  ExtractResult result;
  InstallStep step = InstallFiles(setupState.destination, true, working, &archive, &result);
  SetupResult outcome = {ExitInstalled, ""};
  if (step != InstallStep::Done) {
    outcome.exitCode = ExitFailed;
    LogFailure(step, result, outcome.failure);
    return outcome;
  }
  RegisterProduct(working, &archive);
  if (ExtractFinishesAtRestart()) outcome.exitCode = ExitRestartNeeded;
  return outcome;
}
