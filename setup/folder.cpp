// The install folder, made or checked before anything is written into it.
// A folder the setup creates gets the setup's own descriptor at creation
// (owner Administrators, a protected list that lets only administrators
// and SYSTEM write); given to CreateDirectory, it holds from the first
// moment, with no window in which the inherited rights apply. An existing
// folder, and every folder above it, is read through a handle that does
// not follow a link and judged by folderrights.h; the one repair allowed
// is of the folder an earlier version installed into.
#include "setup.h"

#include "folderrights.h"

static char selfSid[SidTextCapacity];  // the account running the setup; empty when unknown
static FolderSecurity scratch;         // the folder being judged: too large for the stack

static void ReadSelfSid() {
  selfSid[0] = '\0';
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } info;
  DWORD size;
  if (GetTokenInformation(token, TokenUser, &info, sizeof info, &size) && IsValidSid(info.user.User.Sid))
    ReadSidText(static_cast<const std::uint8_t *>(info.user.User.Sid), GetLengthSid(info.user.User.Sid),
                selfSid);
  CloseHandle(token);
}

// Whether the directory can be entered; the current directory is put back
// afterwards. A current directory too long to save is not restored, which
// leaves the process in a directory it was allowed to enter.
static bool CanEnterDirectory(const char *directory) {
  char saved[PathCapacity];
  DWORD length = GetCurrentDirectoryA(PathCapacity - 1, saved);
  bool haveSaved = length != 0 && length < PathCapacity - 1;
  bool entered = SetCurrentDirectoryA(directory) != FALSE;
  if (haveSaved) SetCurrentDirectoryA(saved);
  return entered;
}

static HANDLE OpenFolder(const char *path, DWORD access, bool followLink) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                     OPEN_EXISTING, flags, NULL);
}

// The open folder's attributes and security into scratch; false when it is
// no directory or its descriptor cannot be read.
static bool ReadOpenFolder(HANDLE folder, DWORD *attributes) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(folder, &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return false;
  *attributes = info.dwFileAttributes;
  const SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD size = 0;
  GetKernelObjectSecurity(folder, wanted, NULL, 0, &size);
  if (size == 0) return false;
  void *descriptor = HeapAlloc(GetProcessHeap(), 0, size);
  bool read = descriptor != NULL && GetKernelObjectSecurity(folder, wanted, descriptor, size, &size) &&
              ReadFolderSecurity(static_cast<const std::uint8_t *>(descriptor), size, &scratch);
  if (descriptor != NULL) HeapFree(GetProcessHeap(), 0, descriptor);
  return read;
}

static const char *VerdictText(FolderVerdict verdict) {
  switch (verdict) {
    case FolderVerdict::Accepted:
      return "accepted";
    case FolderVerdict::Link:
      return "a junction or symbolic link";
    case FolderVerdict::ForeignOwner:
      return "owned by another user";
    case FolderVerdict::OpenToOthers:
      break;
  }
  return "other users may change it";
}

// Judges an existing folder; false (logged) when it cannot be read.
static bool JudgeExisting(const char *path, bool followLink, FolderRole role, FolderVerdict *verdict,
                          DWORD *attributes) {
  HANDLE folder = OpenFolder(path, READ_CONTROL | FILE_READ_ATTRIBUTES, followLink);
  if (folder == INVALID_HANDLE_VALUE) {
    LogLine("folder not found or not open: %s (error %lu)", path, GetLastError());
    return false;
  }
  bool read = ReadOpenFolder(folder, attributes);
  CloseHandle(folder);
  if (!read) {
    LogLine("folder refused: %s: its owner and rights cannot be read", path);
    return false;
  }
  *verdict = JudgeFolder(*attributes, scratch, selfSid, role);
  if (*verdict != FolderVerdict::Accepted) LogLine("folder refused: %s: %s", path, VerdictText(*verdict));
  return true;
}

// A parent: the folder itself, and where it is a link, also where it leads.
static bool IsSafeParent(const char *path) {
  FolderVerdict verdict;
  DWORD attributes;
  if (!JudgeExisting(path, false, FolderRole::Parent, &verdict, &attributes) ||
      verdict != FolderVerdict::Accepted)
    return false;
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
  return JudgeExisting(path, true, FolderRole::Parent, &verdict, &attributes) &&
         verdict == FolderVerdict::Accepted;
}

// Gives the folder the setup's descriptor, through a handle that is judged
// again first: it cannot have become a link or another's in between.
static bool RepairFolder(const char *path, const std::uint8_t *descriptor) {
  HANDLE folder = OpenFolder(path, READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES, false);
  if (folder == INVALID_HANDLE_VALUE) return false;
  DWORD attributes;
  bool repaired =
      ReadOpenFolder(folder, &attributes) &&
      MayRepairFolder(JudgeFolder(attributes, scratch, selfSid, FolderRole::Destination), true) &&
      SetKernelObjectSecurity(
          folder,
          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
          const_cast<std::uint8_t *>(descriptor)) &&
      ReadOpenFolder(folder, &attributes) &&
      JudgeFolder(attributes, scratch, selfSid, FolderRole::Destination) == FolderVerdict::Accepted;
  CloseHandle(folder);
  LogLine("folder %s: %s", repaired ? "repaired" : "NOT repaired", path);
  return repaired;
}

static bool HoldsRegisteredInstallation(const char *path) {
  char registered[PathCapacity];
  if (!ReadRegisteredLocation(registered, sizeof registered)) return false;
  RemoveTrailingBackslash(registered);
  return lstrcmpiA(registered, path) == 0;
}

static bool IsSafeDestination(const char *path, const std::uint8_t *descriptor) {
  FolderVerdict verdict;
  DWORD attributes;
  if (!JudgeExisting(path, false, FolderRole::Destination, &verdict, &attributes)) return false;
  if (verdict == FolderVerdict::Accepted) return true;
  return MayRepairFolder(verdict, HoldsRegisteredInstallation(path)) && RepairFolder(path, descriptor);
}

// Creates one folder with the setup's descriptor. Where the token may not
// make Administrators the owner (an account without that group), the owner
// is left to the token: the account itself, which the checks accept.
static bool CreateFolder(const char *path, std::uint8_t *descriptor, std::uint8_t *withoutOwner) {
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  if (CreateDirectoryA(path, &attributes)) return true;
  if (GetLastError() != ERROR_INVALID_OWNER) return false;
  attributes.lpSecurityDescriptor = withoutOwner;
  return CreateDirectoryA(path, &attributes) != FALSE;
}

bool PrepareInstallFolder(const char *destination, bool createParents) {
  char path[PathCapacity];
  DWORD length = GetFullPathNameA(destination, sizeof path, path, NULL);
  if (length == 0 || length >= sizeof path) return false;
  RemoveTrailingBackslash(path);
  std::size_t root = FullPathRootLength(path);
  if (root == 0) return false;
  ReadSelfSid();
  std::uint8_t descriptor[FolderDescriptorSize], withoutOwner[FolderDescriptorSize];
  BuildFolderDescriptor(descriptor, sizeof descriptor, true);
  BuildFolderDescriptor(withoutOwner, sizeof withoutOwner, false);

  char *made[PathCapacity / 2];  // the end of each folder made, in order
  int madeCount = 0;
  bool safe;
  if (path[root] == '\0') {
    safe = IsSafeDestination(path, descriptor);  // a drive's or share's root itself
  } else {
    char saved = path[root];
    path[root] = '\0';
    safe = IsSafeParent(path);
    path[root] = saved;
  }
  char *componentStart = path + root;
  for (char *p = componentStart; safe && *componentStart != '\0'; p = CharNextA(p)) {
    if (*p != '\\' && *p != '\0') continue;
    bool last = *p == '\0';
    if (p == componentStart) {  // an empty component: nothing to make or judge
      if (last) break;
      componentStart = p + 1;
      continue;
    }
    char saved = *p;
    *p = '\0';
    if ((last || createParents) && CreateFolder(path, descriptor, withoutOwner))
      made[madeCount++] = p;
    else if ((last || createParents) && GetLastError() != ERROR_ALREADY_EXISTS)
      safe = false;
    else
      safe = last ? IsSafeDestination(path, descriptor) : IsSafeParent(path);
    *p = saved;
    if (last) break;
    componentStart = p + 1;
  }
  if (safe && CanEnterDirectory(path)) return true;
  while (madeCount > 0) {
    *made[--madeCount] = '\0';
    RemoveDirectoryA(path);
  }
  return false;
}
