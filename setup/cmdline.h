// The setup's command line and the decisions that follow from it: which
// switches were given, whether the run goes ahead, what it exits with, and
// the full-path rule of the unattended mode. Free of <windows.h>, like
// compose.h, so that the Linux tests exercise exactly this code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "compose.h"

// The codes that deployment tools and package managers already understand.
enum SetupExitCode : int {
  ExitInstalled = 0,
  ExitBadCommandLine = 87,    // unknown or malformed switch; /? in silent mode
  ExitCancelled = 1602,       // the user ended the dialog
  ExitFailed = 1603,          // any refusal or failure after the command line was accepted
  ExitAlreadyRunning = 1618,  // another Kelvra setup holds the mutex
};

// Global, so that a setup run as SYSTEM by a deployment tool and one started
// by a user exclude each other.
constexpr const char *SetupMutexName = "Global\\KelvraSetupRunning";
constexpr const char *AlreadyRunningText = "Kelvra Setup is already running.";
constexpr const char *UsageText =
    "Usage: KelvraSetup.exe [/S] [/LOG=file] [/D=path]\n\n"
    "/S\tinstall silently: no window and no message; Kelvra is not started\n"
    "/LOG=file\tappend a log of the install to file\n"
    "/D=path\tthe destination directory; must come last, may contain spaces\n"
    "/?\tshow this help\n\n"
    "Switches may also start with - and are not case-sensitive.\n\n"
    "Exit codes: 0 installed, 1602 cancelled, 1603 failed, 1618 another setup is running, "
    "87 bad command line.";

struct SetupOptions {
  bool silent;                     // /S: no window, no message box, no program start
  bool help;                       // /?
  bool malformed;                  // an unknown switch, a bad quote, an empty value
  bool haveDestination;            // /D= given
  char destination[PathCapacity];  // /D= text; cut at 259 bytes, which the install refuses as too long
  char logFile[PathCapacity];      // /LOG= path, empty when not given
};

// Parses a whole command line as the process received it, the program's
// name first (quoted or not). The line comes from whoever started the setup
// and is untrusted: any length, any bytes. Never fails; options->malformed
// says whether the line is usable. A line that is malformed still reports
// /S wherever it appears as a word of its own, so that a silent caller
// never gets a window because of a typo.
void ParseSetupCommandLine(const char *commandLine, SetupOptions *options);

// What the process does before any install.
enum class StartDecision {
  RunDialog,   // the interactive setup, as without arguments
  RunSilent,   // the unattended install
  ShowUsage,   // the usage box, then exit with UsageExitCode
  ExitAtOnce,  // silent and the line is bad: exit 87, nothing shown or changed
};
StartDecision DecideStart(const SetupOptions &options);

// The exit code after the usage box: 0 when help was asked for, 87 for a
// bad line.
int UsageExitCode(const SetupOptions &options);

// "installed", "cancelled" and so on, for the log.
const char *ExitCodeName(int code);

// Length of the part of a full path that is never created: "C:\" (3), or
// "\\server\share\" up to and including the backslash after the share. 0
// when path is not a full path: a relative path would land wherever the
// deployment tool happens to run, so the silent mode refuses it.
std::size_t FullPathRootLength(const char *path);
