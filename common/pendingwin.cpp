// The restart-time list in the registry. An earlier setup that finished at
// restart, or an uninstall that left a file to be deleted then, has its
// moves waiting there; once the caller has put its files in place or taken
// them away, the moves that name them would undo that at the restart.
#include <windows.h>

#include "paths.h"
#include "pending.h"

static const char SessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
static const wchar_t PendingValue[] = L"PendingFileRenameOperations";

constexpr unsigned MaxNamedFiles = 32;  // the product has five

static bool Widen(const char *text, char16_t *out) {
  return MultiByteToWideChar(CP_ACP, 0, text, -1, reinterpret_cast<wchar_t *>(out), PathCapacity) != 0;
}

static void Narrow(const char16_t *text, char *out) {
  if (!WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t *>(text), -1, out, PathCapacity, NULL,
                           NULL))
    lstrcpyA(out, "?");
}

struct Dropping {
  PendingNoteFn noted;
  unsigned count;
};

static void OnDropped(const char16_t *source, const char16_t *target, bool orphan, void *context) {
  auto *dropping = static_cast<Dropping *>(context);
  dropping->count++;
  char from[PathCapacity], to[PathCapacity];
  Narrow(source, from);
  Narrow(target, to);
  if (dropping->noted) dropping->noted(from, to);
  if (orphan) DeleteFileW(reinterpret_cast<const wchar_t *>(source));
}

bool TakeBackPendingOperations(const char *directory, const char *const *names, unsigned count,
                               PendingNoteFn noted) {
  static char16_t paths[MaxNamedFiles][PathCapacity];
  static const char16_t *files[MaxNamedFiles];
  char16_t wideDirectory[PathCapacity];
  if (!Widen(directory, wideDirectory)) return false;
  unsigned fileCount = 0;
  for (unsigned i = 0; i < count && fileCount < MaxNamedFiles; i++) {
    char path[PathCapacity];
    if (!JoinPath(path, sizeof path, directory, names[i])) continue;
    for (char *c = path; *c; c++)
      if (*c == '/') *c = '\\';
    if (!Widen(path, paths[fileCount])) continue;
    files[fileCount] = paths[fileCount];
    fileCount++;
  }
  HKEY key;
  LONG opened =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
  if (opened != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(opened));
    return opened == ERROR_FILE_NOT_FOUND;
  }
  LONG error = ERROR_SUCCESS;
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, PendingValue, NULL, &type, NULL, &size) == ERROR_SUCCESS &&
      type == REG_MULTI_SZ && size >= sizeof(char16_t)) {
    auto *list = static_cast<char16_t *>(HeapAlloc(GetProcessHeap(), 0, size));
    error = list ? RegQueryValueExW(key, PendingValue, NULL, &type, reinterpret_cast<BYTE *>(list), &size)
                 : ERROR_NOT_ENOUGH_MEMORY;
    if (error == ERROR_SUCCESS) {
      Dropping dropping = {noted, 0};
      std::size_t kept = DropPendingOperations(list, size / sizeof(char16_t), wideDirectory, files, fileCount,
                                               OnDropped, &dropping);
      if (dropping.count > 0 && kept == 0)
        error = RegDeleteValueW(key, PendingValue);
      else if (dropping.count > 0)
        error = RegSetValueExW(key, PendingValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE *>(list),
                               static_cast<DWORD>(kept * sizeof(char16_t)));
    }
    if (list) HeapFree(GetProcessHeap(), 0, list);
  }
  RegCloseKey(key);
  SetLastError(static_cast<DWORD>(error));
  return error == ERROR_SUCCESS;
}
