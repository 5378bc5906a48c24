// The few file operations the C library cannot express: creating a file
// only if it is new, asking whether an existing name may be replaced,
// moving a file over another and giving a file a second name. Everything else in extract/ is standard C++.
#include <cerrno>
#include <cstdio>

#include "extract_internal.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

std::FILE *CreateNewFile(const char *path, CreateOutcome *outcome) {
#ifdef _WIN32
  int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
  if (fd < 0) {
    *outcome = errno == EEXIST ? NameTaken : CannotCreate;
    return nullptr;
  }
#ifdef _WIN32
  std::FILE *file = _fdopen(fd, "wb");
  if (!file) _close(fd);
#else
  std::FILE *file = fdopen(fd, "wb");
  if (!file) close(fd);
#endif
  if (!file) {
    std::remove(path);
    *outcome = CannotCreate;
    return nullptr;
  }
  *outcome = Created;
  return file;
}

// An existing name is replaced only where opening it for writing in place
// would have worked: a plain file this process may write right now. A
// read-only file, a directory and, on Windows, a hidden or system file (which
// a create-always open refuses) or a running program fail here, before
// anything is moved.
bool IsReplaceableFile(const char *path) {
#ifdef _WIN32
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DEVICE)))
    return false;
  HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
#else
  struct stat st;
  return stat(path, &st) == 0 && S_ISREG(st.st_mode) && access(path, W_OK) == 0;
#endif
}

MoveOutcome MoveReplacing(const char *from, const char *to) {
#ifdef _WIN32
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return Moved;
  DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND ? SourceMissing : MoveFailed;
#else
  if (std::rename(from, to) == 0) return Moved;
  return errno == ENOENT ? SourceMissing : MoveFailed;
#endif
}

bool simulateNoHardLinks;

LinkOutcome LinkNewName(const char *existing, const char *newName) {
  if (simulateNoHardLinks) return LinkUnsupported;
#ifdef _WIN32
  if (CreateHardLinkA(newName, existing, NULL)) return Linked;
  DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return LinkNameTaken;
  return error == ERROR_FILE_NOT_FOUND ? LinkSourceMissing : LinkUnsupported;
#else
  if (link(existing, newName) == 0) return Linked;
  if (errno == EEXIST) return LinkNameTaken;
  return errno == ENOENT ? LinkSourceMissing : LinkUnsupported;
#endif
}
