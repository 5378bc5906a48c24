// An earlier setup that finished at restart, or an uninstall that left a
// file to be deleted then, has its moves waiting in the system's list. Once
// this setup has put its files in place, the pending moves that name them
// would undo it at the restart: they are taken out of the list. The names
// come from the sealed archive, read through the handle held since the
// start, like every other read of the setup file.
#include "setup.h"

#include "extract.h"

static const char SessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
static const wchar_t PendingValue[] = L"PendingFileRenameOperations";

constexpr unsigned MaxInstalledFiles = 32;  // the archive holds five

struct InstalledFiles {
  const char *directory;
  char16_t paths[MaxInstalledFiles][PathCapacity];
  const char16_t *list[MaxInstalledFiles];
  unsigned count;
};

static bool Widen(const char *text, char16_t *out) {
  return MultiByteToWideChar(CP_ACP, 0, text, -1, reinterpret_cast<wchar_t *>(out), PathCapacity) != 0;
}

static void AddInstalledFile(const ArchiveEntryInfo *entry, void *context) {
  auto *files = static_cast<InstalledFiles *>(context);
  char path[PathCapacity];
  if (files->count == MaxInstalledFiles || !JoinPath(path, sizeof path, files->directory, entry->fileName))
    return;
  for (char *c = path; *c; c++)
    if (*c == '/') *c = '\\';
  if (!Widen(path, files->paths[files->count])) return;
  files->list[files->count] = files->paths[files->count];
  files->count++;
}

static void LogDropped(const char16_t *source, const char16_t *target, bool orphan, void *context) {
  ++*static_cast<unsigned *>(context);
  char from[PathCapacity], to[PathCapacity];
  if (!WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t *>(source), -1, from, sizeof from, NULL,
                           NULL))
    lstrcpyA(from, "?");
  if (!WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t *>(target), -1, to, sizeof to, NULL,
                           NULL))
    lstrcpyA(to, "?");
  LogLine("restart-time operation dropped: %s -> %s", from, to[0] ? to : "(delete)");
  if (orphan) DeleteFileW(reinterpret_cast<const wchar_t *>(source));
}

void SupersedePendingOperations(const SetupSource *archive, const char *directory) {
  static InstalledFiles files;
  files.directory = directory;
  files.count = 0;
  char16_t wideDirectory[PathCapacity];
  if (!Widen(directory, wideDirectory) || ListArchiveFrom(archive, AddInstalledFile, &files) != XR_OK) return;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
      ERROR_SUCCESS)
    return;
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, PendingValue, NULL, &type, NULL, &size) == ERROR_SUCCESS &&
      type == REG_MULTI_SZ && size >= sizeof(char16_t)) {
    auto *list = static_cast<char16_t *>(HeapAlloc(GetProcessHeap(), 0, size));
    if (list && RegQueryValueExW(key, PendingValue, NULL, &type, reinterpret_cast<BYTE *>(list), &size) ==
                    ERROR_SUCCESS) {
      std::size_t units = size / sizeof(char16_t);
      unsigned droppedCount = 0;
      std::size_t kept = DropPendingOperations(list, units, wideDirectory, files.list, files.count,
                                               LogDropped, &droppedCount);
      if (droppedCount > 0 && kept == 0)
        RegDeleteValueW(key, PendingValue);
      else if (droppedCount > 0)
        RegSetValueExW(key, PendingValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE *>(list),
                       static_cast<DWORD>(kept * sizeof(char16_t)));
    }
    if (list) HeapFree(GetProcessHeap(), 0, list);
  }
  RegCloseKey(key);
}
