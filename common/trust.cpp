// The trust decisions; the facts come from trustwin.cpp.
#include "trust.h"

static bool AdministrativeOwner(OwnerKind owner) {
  return owner == OwnerKind::Administrators || owner == OwnerKind::System;
}

GuardVerdict JudgeSetupGuard(bool haveHandle, std::uint32_t error, OwnerKind owner) {
  bool exists = haveHandle ? error == GuardErrorAlreadyExists : error == GuardErrorAccessDenied;
  if (!exists) return haveHandle ? GuardVerdict::Ours : GuardVerdict::NoGuard;
  // Any account may make a global mutex of this name first; only one an
  // elevated setup or a deployment service made means a setup is running.
  return AdministrativeOwner(owner) ? GuardVerdict::AnotherSetup : GuardVerdict::Squatted;
}

LogVerdict JudgeLogFile(bool isReparsePoint, bool existed, OwnerKind owner, bool elevated) {
  if (isReparsePoint) return LogVerdict::RefuseLink;
  // A file made just now is ours; an old one must be an administrator's
  // (or our own account's), or its owner could read, swap or redirect
  // what an elevated process writes.
  if (existed && elevated && !AdministrativeOwner(owner) && owner != OwnerKind::RunningAccount)
    return LogVerdict::RefuseOwner;
  return LogVerdict::Append;
}

static bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool EndsFolderName(const char *path, std::size_t at) {
  return IsSeparator(path[at]) && at > 0 && path[at - 1] != ':' && !IsSeparator(path[at - 1]);
}

const char *LogRefusalText(LogVerdict verdict) {
  switch (verdict) {
    case LogVerdict::Append:
      return "";
    case LogVerdict::RefuseLink:
      return "the log is a link";
    case LogVerdict::RefuseOwner:
      return "the log belongs to an account that is not an administrator";
  }
  return "";
}
