// What an elevated setup or uninstaller may trust of what it finds on the
// machine: the one-setup-at-a-time mutex and an existing log file. The
// decisions are pure, so the Linux tests run exactly them; trustwin.cpp
// asks Windows for the facts.
#pragma once

#include <cstddef>
#include <cstdint>

// Who owns an object, as far as trust goes.
enum class OwnerKind {
  Administrators,  // the built-in group: what an elevated administrator makes
  System,          // the local system account: a deployment service
  RunningAccount,  // the account this process runs as
  Other,           // anyone else: may be a standard user
  Unknown,         // the owner could not be read
};

// The setup mutex as CreateMutex left it: whether a handle came back, the
// error it set (183 exists already, 5 access denied), and the owner of the
// existing object when there was one.
enum class GuardVerdict {
  Ours,          // made by this setup: it runs alone
  AnotherSetup,  // made by an administrator or the system: exit 1618
  Squatted,      // made by someone else: does not count, the setup runs on
  NoGuard,       // cannot be made for another reason: excludes nobody
};
constexpr std::uint32_t GuardErrorAlreadyExists = 183;
constexpr std::uint32_t GuardErrorAccessDenied = 5;
GuardVerdict JudgeSetupGuard(bool haveHandle, std::uint32_t error, OwnerKind owner);

// A /LOG= file as opened, without following a link.
enum class LogVerdict {
  Append,       // write to it
  RefuseLink,   // a symbolic link, junction or other reparse point
  RefuseOwner,  // elevated, and the file belongs to someone who is not an administrator
};
LogVerdict JudgeLogFile(bool isReparsePoint, bool existed, OwnerKind owner, bool elevated);
// Whether path[at] ends the name of a folder on the way to a log, whose
// link check comes before the log is opened: a '\' or a '/' (Windows takes
// either), not the first character and not after a drive's colon or
// another separator.
bool EndsFolderName(const char *path, std::size_t at);
// The log line's words for a refusal, "" for Append.
const char *LogRefusalText(LogVerdict verdict);
