// PendingFileRenameOperations, the system's list of moves for the next
// restart, as the setup and the uninstaller take back what in it would
// undo their own work. The pure part is here, tested natively; the
// registry's side is pendingwin.cpp.
#pragma once

#include <cstddef>

// The list as UTF-16: pairs of strings, a source and a target (empty: the
// source is deleted; a leading '!': the move may replace), each path behind
// "\??\". Removes in place every pair whose source or target is one of
// files (full paths, compared without regard to ASCII case), so that an
// earlier setup's or uninstall's pending work cannot undo ours at the
// restart. units: the list's length in units, its final empty string
// included or not. dropped hears each removed pair, paths without their
// prefixes; orphan says the source is a file in directory (ending in '\'),
// none of files, that the removed move would have taken away, which is now
// nobody's.
// Returns the new length, with the final empty string (0 for an
// empty list).
typedef void (*DroppedOperationFn)(const char16_t *source, const char16_t *target, bool orphan,
                                   void *context);
std::size_t DropPendingOperations(char16_t *list, std::size_t units, const char16_t *directory,
                                  const char16_t *const *files, unsigned fileCount,
                                  DroppedOperationFn dropped, void *context);

// Windows only (pendingwin.cpp). Takes out of the system's list every move
// that names one of names (relative to directory, which ends in '\'; '/'
// counts as '\') and deletes the orphans those moves leave. noted hears
// each pair taken back, in the ANSI code page, target "" for a deletion.
// False (GetLastError says why) when the list could not be read or
// rewritten.
typedef void (*PendingNoteFn)(const char *source, const char *target);
bool TakeBackPendingOperations(const char *directory, const char *const *names, unsigned count,
                               PendingNoteFn noted);
