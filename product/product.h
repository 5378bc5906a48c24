// KELVRA.EXE, the installed product: a network meter that also removes itself.
// Win32 side; the logic that needs no Windows call is in meter.h,
// commandline.h, removal.h and outcome.h.
#pragma once

#include <windows.h>

#include "commandline.h"
#include "meter.h"
#include "outcome.h"
#include "removal.h"
#include "text.h"
#include "trustwin.h"

// Class of the meter window: a second start finds the first copy by it.
constexpr char MeterWindowClass[] = "KelvraMeter";
// Held by the running meter, so that one copy runs at a time and the
// uninstaller can tell when the last one has gone.
constexpr char MeterInstanceMutex[] = "KelvraMeterRunning";
constexpr char Caption[] = "Kelvra";

// "KelvraExit": the setup and the uninstaller broadcast it to close the meter.
UINT ExitMessage();

// counters.cpp: a DLL loaded by its full path in System32, never found elsewhere.
HMODULE LoadSystemLibrary(const char *name);
// The system's interface counters, from iphlpapi.dll when present.
// False when neither table function exists; allowNewerTable false makes the
// program use the older table as on a system that lacks the newer one.
bool StartInterfaceCounters(bool allowNewerTable = true);
unsigned ReadInterfaceCounters(InterfaceSample *out, unsigned outCount, bool &ok);
void StopInterfaceCounters();

// meterwindow.cpp: the meter; returns the process exit code.
int RunMeter(HINSTANCE instance, int showState);

// uninstall.cpp: "/UNINSTALL"; `arguments` is the command line as given,
// for the elevated restart. Returns the process exit code.
int RunUninstall(const Command &command, const char *arguments);
// Deletes a file; one that is not there counts as deleted. A file still held
// open by a copy that is closing gets a few more tries.
bool DeleteIfPresent(const char *path);
// Removes a directory if it is empty, now or (delayFlags) at the next restart.
bool RemoveEmptyDirectory(const char *directory, DWORD delayFlags);
// Opens the installation directory without following a link and keeps
// anyone from renaming or deleting it while the handle is open, so that no
// junction can be put in its place while files are deleted in it. Null
// when it is a junction or symbolic link, or cannot be opened.
HANDLE HoldInstallFolder(const char *directory);

// elevation.cpp: the restart that asks for more rights (ProcessIsElevated
// in trustwin.h tells whether they are needed).
// Runs this program again with "runas" and `arguments` behind ElevatedSwitch,
// waits for it and returns its exit code; ElevationDeclinedExitCode when the
// user declined, -1 (GetLastError set) when it could not be started.
int RunElevatedCopy(const char *arguments);

// uninstallkey.cpp: the setup's uninstall entry, in the setup's registry view.
// The registered directory with its final backslash, or false when there is
// no entry or it names none.
bool ReadRegisteredDirectory(char *out, size_t outSize);
// True when the entry is gone afterwards.
bool DeleteUninstallKey();

// selfremoval.cpp: the program's own file, which it cannot delete while it runs.
// Starts the helper copy and waits until it signals that it runs; it then
// deletes `self`, and `directory` if nothing else is left in it, after this
// process exits. Where the helper does not signal in time, both are left to
// the next restart and outcome says so.
void HandOverSelfRemoval(const char *self, const char *directory, bool otherFiles, UninstallOutcome &outcome);
// "/CLEANUP <pid> <directory>": the helper's side.
int RunCleanup(const Command &command);

// uninstalllog.cpp: "/LOG=file": one line per step, appended, with the time.
void StartLog(const char *path);
void LogLine(const char *text, const char *detail = "", DWORD error = 0);
