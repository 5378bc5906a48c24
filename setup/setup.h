// The setup front end: the process's entry, the setup dialog, the install
// sequence, the Start menu shortcuts and uninstall entry, and the dialog's
// picture. Win32 only; what needs no system call lives in compose.h.
#pragma once

#include <windows.h>

#include "cmdline.h"
#include "compose.h"
#include "extract.h"

// What the front end keeps for the whole run; winmain.cpp holds it (the
// Wine tests' entry, in its place).
struct SetupState {
  HINSTANCE instance;              // every resource is loaded through it
  char setupPath[PathCapacity];    // the running executable, holding the archive; for the log
  HANDLE setupFile;                // that file, open from the start; every read goes through it
  char destination[PathCapacity];  // the destination box's text, at most 259 characters
  SetupOptions options;            // the command line, accepted by DecideStart
};
extern SetupState setupState;

// How a run ended: the process's exit code (SetupExitCode) and, for the
// log, why the install failed (empty unless it did).
struct SetupResult {
  int exitCode;
  char failure[96];
};

// dialog.cpp: the dialog. It ends with IDOK once the product is installed,
// with IDCANCEL when the user chose to stop.
INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
bool BrowseForDestination(HWND owner, char *path);
int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM lParam, LPARAM data);
void ReadDestinationBox(HWND dialog);

// install.cpp: returns 1 when the product was installed, 0 after telling
// the user why not.
int InstallToDirectory(HWND dialog);
// The destination both modes propose when /D= gave none (PathCapacity
// bytes): on the Windows directory's drive.
void ProposeDestination(char *out);
// The unattended install into the /D= destination or the default one: no
// window, no message. Ends with ExitInstalled, ExitRestartNeeded or ExitFailed.
SetupResult InstallSilently();

// closeprogram.cpp: asks every running Kelvra, in any session, to exit and
// waits a bounded time until no process runs a program from directory
// (ending in '\'). What still runs then is left to the commit to find.
void CloseRunningPrograms(const char *directory);

// pending.cpp: after the files were put in place in directory (ending in
// '\'), takes the restart-time operations that name them out of the
// system's list, so that the restart does not undo the install. The names
// are the entries of archive, the one OpenSealedArchive gave.
void SupersedePendingOperations(const SetupSource *archive, const char *directory);

// source.cpp: OpenSetupFile opens setupPath for the whole run, shared for
// reading only. OpenSealedArchive checks the archive behind that handle
// against the seal in this image: XR_OK and the archive to read, or why not.
void OpenSetupFile();
ExtractResult OpenSealedArchive(SetupSource *archive);

// folder.cpp: makes the install folder, or checks the existing one, so
// that only administrators can change what goes into it; missing parents
// are made too where createParents. False (after logging why) when it is
// refused or cannot be made or entered: every folder made here is removed
// again.
bool PrepareInstallFolder(const char *destination, bool createParents);

// launch.cpp: starts the installed program with the rights of the desktop
// shell's user rather than the setup's; directory ends in '\'.
void StartInstalledProgram(const char *directory);

// log.cpp: the /LOG= file. Every call does nothing when no log is open.
void OpenSetupLog(const char *path);
void CloseSetupLog();
void LogLine(const char *format, ...);
void LogText(const char *label, const char *text);  // text of any length

// shell.cpp: Start menu and uninstall entry. COM must be initialised.
// folderId: CSIDL_COMMON_PROGRAMS, everyone's, in both modes (older
// versions used the user's CSIDL_PROGRAMS in the dialog).
void GetProgramsFolder(int folderId, char *out);
HRESULT CreateShellLink(const char *target, const char *linkFile, const char *description);
HRESULT CreateStartMenuShortcut(int folderId, const char *destination, const char *fileName,
                                const char *shortcutName);
int RegisterUninstall(char *destination, DWORD estimatedKilobytes);
// The uninstall entry's InstallLocation into out, or false when there is none.
bool ReadRegisteredLocation(char *out, DWORD capacity);

// picture.cpp: the dialog's picture, rebuilt from the resource on each paint.
HPALETTE CreatePicturePalette(const unsigned char *packedBitmap, int *colourCount);
HBITMAP LoadPictureBitmap(HINSTANCE instance, int resourceId, HPALETTE *palette);
void PaintPicture(HWND control);
