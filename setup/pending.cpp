// Once this setup has put its files in place, the restart-time moves that
// name them would undo it at the restart: they are taken out of the list.
// The names come from the sealed archive, read through the handle held
// since the start, like every other read of the setup file.
#include "setup.h"

#include "extract.h"
#include "pending.h"

constexpr unsigned MaxInstalledFiles = 32;  // the archive holds five

struct EntryNames {
  char names[MaxInstalledFiles][PathCapacity];
  const char *list[MaxInstalledFiles];
  unsigned count;
};

static void AddEntryName(const ArchiveEntryInfo *entry, void *context) {
  auto *entries = static_cast<EntryNames *>(context);
  if (entries->count == MaxInstalledFiles || lstrlenA(entry->fileName) >= int{PathCapacity}) return;
  lstrcpyA(entries->names[entries->count], entry->fileName);
  entries->list[entries->count] = entries->names[entries->count];
  entries->count++;
}

static void LogDropped(const char *source, const char *target) {
  LogLine("restart-time operation dropped: %s -> %s", source, target[0] ? target : "(delete)");
}

void SupersedePendingOperations(const SetupSource *archive, const char *directory) {
  static EntryNames entries;
  entries.count = 0;
  if (ListArchiveFrom(archive, AddEntryName, &entries) == XR_OK)
    TakeBackPendingOperations(directory, entries.list, entries.count, LogDropped);
}
