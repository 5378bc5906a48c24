// The setup's one dialog: the destination box with its default, Browse,
// Install and the abort question. The install itself is
// InstallToDirectory's.
#include "setup.h"

#include <shlobj.h>

#include "resource.h"

// Copies the destination box into the shared buffer. The box takes any
// length; at most 259 characters are asked for, so the NUL always fits, and
// a longer text, cut here, is refused later as too long.
void ReadDestinationBox(HWND dialog) {
  char *buffer = setupState.destination;
  WORD capacity = sizeof setupState.destination - 1;
  CopyMemory(buffer, &capacity, sizeof capacity);
  LRESULT copied =
      SendDlgItemMessageA(dialog, IDC_DESTINATION, EM_GETLINE, 0, reinterpret_cast<LPARAM>(buffer));
  if (copied < 0 || copied > capacity) copied = 0;
  buffer[copied] = '\0';
}

// The /D= destination when one was given, else the proposed one.
static void ShowDefaultDestination(HWND dialog) {
  if (setupState.options.haveDestination) {
    SendDlgItemMessageA(dialog, IDC_DESTINATION, WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>(setupState.options.destination));
    return;
  }
  char destination[PathCapacity];
  ProposeDestination(destination);
  SendDlgItemMessageA(dialog, IDC_DESTINATION, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(destination));
}

static BOOL OnCommand(HWND dialog, WORD id) {
  switch (id) {
    case IDOK:
      ReadDestinationBox(dialog);
      if (InstallToDirectory(dialog) == 0) return FALSE;
      EndDialog(dialog, IDOK);
      return TRUE;
    case IDCANCEL:
      if (MessageBoxA(dialog, AbortQuestionText, SetupCaption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) !=
          IDYES)
        return FALSE;
      EndDialog(dialog, IDCANCEL);  // also after a failed attempt: the user chose to stop
      return TRUE;
    case IDC_BROWSE:
      ReadDestinationBox(dialog);
      if (BrowseForDestination(dialog, setupState.destination))
        SendDlgItemMessageA(dialog, IDC_DESTINATION, WM_SETTEXT, 0,
                            reinterpret_cast<LPARAM>(setupState.destination));
      return FALSE;
  }
  return FALSE;
}

INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      // The icon is shared and lives as long as the module; never destroyed.
      HICON icon = LoadIconA(setupState.instance, MAKEINTRESOURCEA(IDI_SETUP));
      SetClassLongPtrA(dialog, GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));
      ShowDefaultDestination(dialog);
      return TRUE;
    }
    case WM_COMMAND:
      return OnCommand(dialog, LOWORD(wParam));
    case WM_DPICHANGED:
      // The dialog manager rescales the dialog and its fonts; the picture
      // is drawn again for the new frame.
      InvalidateRect(GetDlgItem(dialog, IDC_PICTURE), NULL, FALSE);
      return FALSE;
    case WM_DRAWITEM:
      if (wParam != IDC_PICTURE) return FALSE;
      PaintPicture(GetDlgItem(dialog, IDC_PICTURE));
      return TRUE;
  }
  return FALSE;
}

// path: PathCapacity bytes, the initial selection on entry. Changed only
// when the user chose a folder that has a file-system path.
bool BrowseForDestination(HWND owner, char *path) {
  char chosen[PathCapacity] = "";
  BROWSEINFOA browse = {};
  browse.hwndOwner = owner;
  browse.pidlRoot = NULL;
  browse.pszDisplayName = chosen;
  browse.lpszTitle = BrowseTitleText;
  browse.ulFlags = BIF_RETURNONLYFSDIRS;
  browse.lpfn = BrowseCallback;
  browse.lParam = reinterpret_cast<LPARAM>(path);
  browse.iImage = 0;
  LPITEMIDLIST item = SHBrowseForFolderA(&browse);
  if (item == NULL) return false;
  // The display-name buffer holds the folder's display name until the path
  // replaces it; without a path that name must not become the destination.
  BOOL converted = SHGetPathFromIDListA(item, chosen);
  CoTaskMemFree(item);
  if (!converted) return false;
  lstrcpynA(path, chosen, PathCapacity);
  return true;
}

int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED && data != 0) SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, data);
  return 0;
}
