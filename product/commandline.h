// KELVRA.EXE's command line: which of its three jobs to do, and how. No
// Windows call, so that the Linux tests read exactly this parser.
#pragma once

#include <cstddef>
#include <cstdint>

#include "contract.h"
#include "paths.h"

enum CommandKind {
  COMMAND_METER,      // no switch of ours: show the meter
  COMMAND_UNINSTALL,  // "/UNINSTALL [/S] [/LOG=file]": remove the product
  COMMAND_CLEANUP,    // "/CLEANUP <pid> <directory>": finish removing a directory
  COMMAND_INVALID,    // "/UNINSTALL" with a switch it does not take
};

// Put in front of the arguments by a copy that restarts itself to ask for
// administrator rights, so that the restarted copy never asks again.
constexpr char ElevatedSwitch[] = "/ELEVATED";

struct Command {
  CommandKind kind;
  bool silent;                   // COMMAND_UNINSTALL: "/S", no question and no message box
  bool elevatedRestart;          // ElevatedSwitch was given
  uint32_t waitProcessId;        // COMMAND_CLEANUP: process to outlive first
  char directory[PathCapacity];  // COMMAND_CLEANUP: installation directory, ends in a backslash
  char logFile[PathCapacity];    // COMMAND_UNINSTALL: "/LOG=file", empty without
};

// Switches start with '/' or '-' and are matched without regard to case;
// quotes go around a whole word or a whole value and nowhere else, as
// ReadArgument has it (`"/LOG=C:\My Logs\u.log"` and
// `/LOG="C:\My Logs\u.log"` say the same; a word with quotes elsewhere is
// one this program does not take). The command line is untrusted:
// a malformed /CLEANUP gives COMMAND_METER, and with /UNINSTALL any word
// that is not one of its switches (or a log name too long for the buffer)
// gives COMMAND_INVALID, so that a misspelt "/SILENT" never turns into a
// question that nobody is there to answer.
Command ParseCommandLine(const char *commandLine);

// The arguments for the elevated restart: ElevatedSwitch, then the
// original arguments unchanged. False (out empty) when they do not fit.
bool BuildElevatedArguments(const char *arguments, char *out, size_t outSize);
