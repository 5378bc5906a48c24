// The uninstaller's decisions, apart from the calls that carry them out:
// which files are the product's, whether to ask for administrator rights,
// whether the running copy is the installed one, where the uninstall entry
// lives and how the program's own file goes once it has exited. No Windows
// call, so that the Linux tests check exactly these rules.
#pragma once

#include <cstddef>
#include <cstdint>

#include "commandline.h"
#include "contract.h"

// True when `name` (a bare file name) is one of ProductFiles, in any case.
bool IsProductFile(const char *name);

// Removing the product writes to Program Files and HKLM: an uninstall whose
// token is not elevated restarts itself to ask for the rights. A restart
// that is still without them (the prompt switched off, a standard user's
// "runas") fails at once: it could delete nothing.
enum class UninstallStart {
  Proceed,           // the rights are there, or nothing needs them
  RestartElevated,   // ask for them in a restarted copy
  ElevationMissing,  // the restarted copy did not get them
};
UninstallStart DecideUninstallStart(const Command &command, bool tokenElevated);

// The code installers use for "cancelled by the user": the confirmation
// answered No, or the request for administrator rights declined.
constexpr int CancelledExitCode = 1602;
constexpr int ElevationDeclinedExitCode = CancelledExitCode;
// ERROR_ELEVATION_REQUIRED: a restarted copy still without the rights.
constexpr int ElevationRequiredExitCode = 740;

// The directory the uninstall entry registers, with its final backslash,
// into out: InstallLocation when it is not empty, else the directory of the
// program named by UninstallString (quoted, or bare up to its ".EXE").
// Both values come from the registry and are untrusted. False (out empty)
// when neither names a directory or it would not fit.
bool RegisteredDirectory(const char *installLocation, const char *uninstallString, char *out, size_t outSize);

// True when two directory paths name the same directory as text: ASCII
// letters in any case, one trailing backslash or none, "X:" taken as the
// drive's root "X:\" (where the setup installs for that destination).
// An empty path matches nothing.
bool SameDirectory(const char *a, const char *b);

// Name of the private directory that holds the cleanup helper:
// "Kelvra-" and 16 hexadecimal digits of `random`.
void HelperDirectoryName(const uint8_t random[8], char *out, size_t outSize);

// The command given to the command interpreter to remove the program's own
// file once it has exited: it runs `helper` (a copy of the program in
// `helperDirectory`, outside the installation) with
// "/CLEANUP <pid> <directory>", waits for it and then removes the helper's
// directory with the helper in it. Delayed expansion is switched off, so
// that only '%' and '"' are special inside the quotes; a path holding either
// is refused. False (out empty) also when it does not fit in outSize bytes.
bool BuildCleanupCommand(const char *helper, uint32_t processId, const char *directory,
                         const char *helperDirectory, char *out, size_t outSize);
