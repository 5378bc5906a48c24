// Pure logic of the meter: nothing here needs Windows, so it is tested natively.
#pragma once

#include <cstddef>
#include <cstdint>

// True when the command line asks for the uninstaller ("/UNINSTALL" in any case,
// as a word of its own, also when the shell wraps it in quotes).
bool IsUninstallCommand(const char *commandLine);
