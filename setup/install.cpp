// The install sequence behind the Install button: check the destination,
// create and enter it, extract the appended archive, then register the
// product and start it. It never removes anything, also after a failure.
#include "setup.h"

#include "extract.h"

static void ShowMessage(HWND dialog, const char *text, UINT icon) {
  MessageBoxA(dialog, text, SetupCaption, MB_OK | icon);
}

// Whether the directory can be entered; the current directory is put back
// afterwards. A current directory too long to save is not restored, which
// leaves the process in a directory it was allowed to enter.
static bool CanEnterDirectory(const char *directory) {
  char saved[PathCapacity];
  DWORD length = GetCurrentDirectoryA(PathCapacity - 1, saved);
  bool haveSaved = length != 0 && length < PathCapacity - 1;
  bool entered = SetCurrentDirectoryA(directory) != FALSE;
  if (haveSaved) SetCurrentDirectoryA(saved);
  return entered;
}

// The destination comes from the user, typed or browsed; this is where it
// is checked. Returns 1 on success; 0 after one message box.
int InstallToDirectory(HWND dialog) {
  char working[PathCapacity];
  if (PrepareWorkingPath(setupState.destination, working) != DestinationCheck::Ok) {
    ShowMessage(dialog, InvalidDestinationText, MB_ICONEXCLAMATION);
    return 0;
  }
  CreateDirectoryA(working, NULL);  // may exist already: entering it decides
  if (!CanEnterDirectory(working)) {
    ShowMessage(dialog, CannotCreateText, MB_ICONHAND);
    return 0;
  }
  JoinPath(working, sizeof working, working, "\\");  // fits: checked above

  ExtractResult result = ExtractArchive(setupState.setupPath, working);
  if (result != XR_OK) {
    ShowMessage(dialog, ExtractFailureMessage(result), MB_ICONHAND);
    return 0;
  }

  CreateStartMenuShortcut(working, ProgramFile, ProgramShortcut);
  CreateStartMenuShortcut(working, HelpFile, HelpShortcut);
  RegisterUninstall(working);
  ShowMessage(dialog, SuccessText, MB_ICONASTERISK);

  char command[PathCapacity];
  if (BuildProgramCommand(working, command, sizeof command)) WinExec(command, SW_SHOW);
  return 1;
}
