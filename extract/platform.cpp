// The few file operations the C library cannot express: creating a file
// only if it is new, asking whether an existing name may be replaced,
// moving a file over another (now or at the next restart), giving a file a
// second name, reserving its room, flushing it to the disk; and a clock to
// wait by. Everything else in extract/ is standard C++.
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
#include <time.h>
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

#ifdef _WIN32
// What a scanner, an indexer or a running program holding the file gives;
// each may pass.
static bool IsBusyError(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}
#endif

// An existing name is replaced only where opening it for writing in place
// would have worked: a plain file this process may write. A read-only file,
// a directory and, on Windows, a hidden or system file (which a
// create-always open refuses) are refused before anything is moved. On
// Windows the open asks for the right to delete too, so that a file held
// without delete sharing, or a running program's image, shows as busy.
FileAccess CheckReplaceable(const char *path) {
#ifdef _WIN32
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return GetLastError() == ERROR_FILE_NOT_FOUND ? FileFree : FileRefused;
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DEVICE))
    return FileRefused;
  HANDLE h = CreateFileA(path, GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) return IsBusyError(GetLastError()) ? FileBusy : FileRefused;
  CloseHandle(h);
  return FileFree;
#else
  struct stat st;
  if (stat(path, &st) != 0) return errno == ENOENT ? FileFree : FileRefused;
  return S_ISREG(st.st_mode) && access(path, W_OK) == 0 ? FileFree : FileRefused;
#endif
}

MoveOutcome MoveReplacing(const char *from, const char *to) {
#ifdef _WIN32
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return Moved;
  DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND) return SourceMissing;
  return IsBusyError(error) ? MoveBusy : MoveFailed;
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

void ReserveFileSpace(std::FILE *file, std::int64_t size) {
#ifdef __linux__
  // Room found for the whole file at once costs the file system less than
  // finding it page by page as the writes arrive: a twentieth of a large
  // entry's extraction. The size stays as it is, so a failing entry's file
  // holds just what was written.
  if (size > 0) (void)fallocate(fileno(file), FALLOC_FL_KEEP_SIZE, 0, size);
#else
  (void)file;
  (void)size;
#endif
}

bool SyncToDisk(std::FILE *file) {
#ifdef _WIN32
  return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) != FALSE;
#else
  return fsync(fileno(file)) == 0;
#endif
}

bool ScheduleAtRestart(const char *from, const char *to) {
#ifdef _WIN32
  return MoveFileExA(from, to, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING) != FALSE;
#else
  (void)from;
  (void)to;
  return false;  // no such facility
#endif
}

unsigned long MillisecondsNow() {
#ifdef _WIN32
  return GetTickCount();
#else
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<unsigned long>(now.tv_sec) * 1000ul + static_cast<unsigned long>(now.tv_nsec / 1000000);
#endif
}

void PauseMilliseconds(unsigned ms) {
#ifdef _WIN32
  Sleep(ms);
#else
  struct timespec pause = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000l};
  nanosleep(&pause, nullptr);
#endif
}
