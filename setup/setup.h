// The setup front end: the process's entry, the setup dialog, the install
// sequence, the Start menu shortcuts and uninstall entry, and the dialog's
// picture. Win32 only; what needs no system call lives in compose.h.
#pragma once

#include <windows.h>

#include "compose.h"

// What the front end keeps for the whole run.
struct SetupState {
  HINSTANCE instance;              // every resource is loaded through it
  char setupPath[PathCapacity];    // the running executable, holding the archive
  char destination[PathCapacity];  // the destination box's text, at most 259 characters
};
extern SetupState setupState;

// winmain.cpp: entry and dialog.
int RunSetup();
INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
bool BrowseForDestination(HWND owner, char *path);
int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM lParam, LPARAM data);
void ReadDestinationBox(HWND dialog);

// install.cpp: returns 1 when the product was installed, 0 after telling
// the user why not.
int InstallToDirectory(HWND dialog);

// shell.cpp: Start menu and uninstall entry. COM must be initialised.
void GetProgramsFolder(int folderId, char *out);
HRESULT CreateShellLink(const char *target, const char *linkFile, const char *description);
HRESULT CreateStartMenuShortcut(const char *destination, const char *fileName, const char *shortcutName);
int RegisterUninstall(char *destination);

// picture.cpp: the dialog's picture, rebuilt from the resource on each paint.
HPALETTE CreatePicturePalette(const unsigned char *packedBitmap, int *colourCount);
HBITMAP LoadPictureBitmap(HINSTANCE instance, int resourceId, HPALETTE *palette);
void PaintPicture(HWND control);
