// KELVRA.EXE, the installed product: a network meter that also removes itself.
// Win32 side; the logic that needs no Windows call is in meter.h.
#pragma once

#include <windows.h>

#include "meter.h"

// Class of the meter window: a second start finds the first copy by it.
constexpr char MeterWindowClass[] = "KelvraMeter";
// Held by the running meter, so that one copy runs at a time and the
// uninstaller can tell when the last one has gone.
constexpr char MeterInstanceMutex[] = "KelvraMeterRunning";

// "KelvraExit": the setup and the uninstaller broadcast it to close the meter.
UINT ExitMessage();

// counters.cpp: the system's interface counters, from iphlpapi.dll when present.
// False when neither table function exists; allowNewerTable false makes the
// program use the older table as on a system that lacks the newer one.
bool StartInterfaceCounters(bool allowNewerTable = true);
unsigned ReadInterfaceCounters(InterfaceSample *out, unsigned outCount, bool &ok);
void StopInterfaceCounters();

// meterwindow.cpp: the meter; returns the process exit code.
int RunMeter(HINSTANCE instance, int showState);

// uninstall.cpp: "/UNINSTALL" and the helper that outlives the uninstaller.
int RunUninstall();
int RunCleanup(const Command &command);
