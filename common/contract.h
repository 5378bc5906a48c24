// What the setup and the installed program must agree on. Each side used to
// spell these out itself, and a change to one silently broke the other.
// Plain named constants, no system call, so both programs and the Linux
// tests read exactly these.
#pragma once

#include <cstdint>

#include "version.h"

// The folder both sides name: the Start menu folder, the uninstall key's last part.
constexpr const char *ProductName = KELVRA_PRODUCT_NAME;
// The installed program; the uninstall command and both shortcuts run it.
constexpr const char *ProgramFile = "KELVRA.EXE";
// Target of the help shortcut.
constexpr const char *HelpFile = "KELVRA.HLP";

// The uninstall entry the setup writes and the uninstaller reads and deletes.
constexpr const char *UninstallKeyPath =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" KELVRA_PRODUCT_NAME;
// KEY_WOW64_32KEY: the setup is a 32-bit program, so a 64-bit uninstaller must name its view.
constexpr std::uint32_t UninstallKeyView = 0x0200;
// Where the uninstaller finds the installation (first choice, then the command's directory).
constexpr const char *InstallLocationValue = "InstallLocation";
// The command the system runs to uninstall; the uninstaller reads its program's directory.
constexpr const char *UninstallStringValue = "UninstallString";
// The switch in UninstallString that makes KELVRA.EXE remove the product.
constexpr const char *UninstallSwitch = "/UNINSTALL";

// The Start menu shortcuts in the ProductName folder, as the setup makes and the uninstaller deletes them.
constexpr const char *ProgramShortcut = KELVRA_PRODUCT_NAME;
constexpr const char *HelpShortcut = KELVRA_PRODUCT_NAME " Help";
constexpr const char *ShortcutExtension = ".lnk";

// Broadcast by the setup and the uninstaller; a running meter closes on it.
constexpr const char *ExitMessageName = "KelvraExit";

// The files the setup installs, the only ones the uninstaller deletes.
// productfiles.inc is the one list; the payload's build and the scripts read it too.
#define KELVRA_PRODUCT_FILE(name, storage) name,
constexpr const char *const ProductFiles[] = {
#include "productfiles.inc"
};
#undef KELVRA_PRODUCT_FILE
constexpr unsigned ProductFileCount = sizeof ProductFiles / sizeof ProductFiles[0];
