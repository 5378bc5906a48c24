// Asking Windows who owns what, and opening a log without following links.
#include "trustwin.h"

#include <aclapi.h>

#include "paths.h"

static bool IsRunningAccount(PSID owner) {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } buffer;
  DWORD length = 0;
  bool same = GetTokenInformation(token, TokenUser, &buffer, sizeof buffer, &length) &&
              EqualSid(buffer.user.User.Sid, owner);
  CloseHandle(token);
  return same;
}

OwnerKind OwnerOfObject(HANDLE object, int objectType) {
  PSID owner = NULL;
  PSECURITY_DESCRIPTOR descriptor = NULL;
  if (GetSecurityInfo(object, static_cast<SE_OBJECT_TYPE>(objectType), OWNER_SECURITY_INFORMATION, &owner,
                      NULL, NULL, NULL, &descriptor) != ERROR_SUCCESS)
    return OwnerKind::Unknown;
  OwnerKind kind = OwnerKind::Other;
  if (owner == NULL || !IsValidSid(owner))
    kind = OwnerKind::Unknown;
  else if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid))
    kind = OwnerKind::Administrators;
  else if (IsWellKnownSid(owner, WinLocalSystemSid))
    kind = OwnerKind::System;
  else if (IsRunningAccount(owner))
    kind = OwnerKind::RunningAccount;
  LocalFree(descriptor);
  return kind;
}

bool ProcessIsElevated() {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation = {};
  DWORD length = 0;
  bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &length) &&
                  elevation.TokenIsElevated != 0;
  CloseHandle(token);
  return elevated;
}

// Whether a folder on the way to path is a link (a junction a user made in
// a folder everyone may write, such as the system's temporary folder).
static bool FolderOnTheWayIsLink(const char *path) {
  char partial[PathCapacity];
  lstrcpynA(partial, path, sizeof partial);
  for (char *p = partial; *p != '\0'; p = CharNextA(p)) {
    if (!EndsFolderName(partial, p - partial)) continue;
    char separator = *p;
    *p = '\0';
    DWORD attributes = GetFileAttributesA(partial);
    *p = separator;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
  }
  return false;
}

HANDLE OpenLogForAppend(const char *path, const char **refusal) {
  *refusal = nullptr;
  if (FolderOnTheWayIsLink(path)) {
    *refusal = LogRefusalText(LogVerdict::RefuseLink);
    return INVALID_HANDLE_VALUE;
  }
  // Appending access only: every write lands at the end, also when two
  // processes share one log. The link itself is opened, never its target.
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  if (file == INVALID_HANDLE_VALUE) return file;
  bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  BY_HANDLE_FILE_INFORMATION info;
  bool link = !GetFileInformationByHandle(file, &info) ||
              (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || info.nNumberOfLinks > 1;
  LogVerdict verdict = JudgeLogFile(
      link, existed, existed ? OwnerOfObject(file, SE_FILE_OBJECT) : OwnerKind::Unknown, ProcessIsElevated());
  if (verdict == LogVerdict::Append) return file;
  CloseHandle(file);
  *refusal = LogRefusalText(verdict);
  return INVALID_HANDLE_VALUE;
}
