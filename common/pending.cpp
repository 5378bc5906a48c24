// The restart-time list's pairs, read and rewritten without any system call.
#include "pending.h"

static char16_t FoldAscii(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - u'a' + u'A') : c; }

// Whether path starts with prefix, ASCII case aside; exact: the whole of path.
static bool Matches(const char16_t *path, const char16_t *prefix, bool exact) {
  for (; *prefix; path++, prefix++)
    if (FoldAscii(*path) != FoldAscii(*prefix)) return false;
  return !exact || *path == 0;
}

static const char16_t *StripPendingPrefix(const char16_t *path) {
  if (*path == u'!') path++;
  if (Matches(path, u"\\??\\", false)) path += 4;
  return path;
}

static std::size_t Length16(const char16_t *s) {
  std::size_t n = 0;
  while (s[n]) n++;
  return n;
}

std::size_t DropPendingOperations(char16_t *list, std::size_t units, const char16_t *directory,
                                  const char16_t *const *files, unsigned fileCount,
                                  DroppedOperationFn dropped, void *context) {
  std::size_t read = 0, written = 0;
  // A pair is whole only when both strings end within the list.
  while (read < units && list[read] != 0) {
    std::size_t sourceEnd = read;
    while (sourceEnd < units && list[sourceEnd]) sourceEnd++;
    std::size_t targetEnd = sourceEnd + 1;
    while (targetEnd < units && list[targetEnd]) targetEnd++;
    if (targetEnd >= units) break;  // cut short: the rest is kept as it was
    const char16_t *source = StripPendingPrefix(list + read);
    const char16_t *target = StripPendingPrefix(list + sourceEnd + 1);
    bool sourceOurs = false, targetOurs = false;
    for (unsigned i = 0; i < fileCount; i++) {
      sourceOurs = sourceOurs || Matches(source, files[i], true);
      targetOurs = targetOurs || (*target && Matches(target, files[i], true));
    }
    std::size_t pairLength = targetEnd + 1 - read;
    if (sourceOurs || targetOurs) {
      // A move that would take one of our files away leaves it ours: only a
      // stranger's file staged over ours is left without an owner.
      bool orphan = *target && !sourceOurs && Matches(source, directory, false) &&
                    Length16(source) > Length16(directory);
      if (dropped) dropped(source, target, orphan, context);
    } else {
      for (std::size_t i = 0; i < pairLength; i++) list[written + i] = list[read + i];
      written += pairLength;
    }
    read += pairLength;
  }
  while (read < units && list[read] != 0) list[written++] = list[read++];  // an unfinished tail
  if (written == 0) return 0;
  if (written < units) list[written++] = 0;  // a list without its final empty string keeps its length
  return written;
}
