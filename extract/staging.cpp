// All-or-nothing output: every entry's file staged beside its final name,
// and the commit that puts them all in place or takes them all back.
//
// Nothing the destination held before the call changes until every entry
// has been written, closed and checked. Temporary and backup files live in
// the directory of the file they stand in for, so moves never cross a
// volume, and are created only where no file of that name exists, so they
// never overwrite anything, whatever names the archive holds.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "extract_internal.h"

enum CommitStep : unsigned { Staged, BackupReserved, OldSetAside, OldLinked, Placed };

constexpr std::size_t SiblingNameSize = 16;  // "~kx" + 8 hex digits + ".tmp" + NUL

static std::size_t DirectoryLength(const char *path) {
  std::size_t length = 0;
  for (std::size_t i = 0; path[i]; i++)
    if (IsPathSeparator(path[i])) length = i + 1;
  return length;
}

constexpr unsigned SiblingTries = 100000;

// Puts the next name ~kx<number>.tmp beside path into out.
static void NextSiblingName(const char *path, char *out) {
  std::size_t dirLength = DirectoryLength(path);
  std::memcpy(out, path, dirLength);
  // Spelled out rather than formatted: the setup stub carries no printf.
  char *p = out + dirLength;
  std::memcpy(p, "~kx", 3);
  p += 3;
  unsigned number = ++extractState.nameCounter;
  int shift = 28;
  while (shift > 0 && (number >> shift) == 0) shift -= 4;
  for (; shift >= 0; shift -= 4) *p++ = "0123456789abcdef"[(number >> shift) & 15];
  std::memcpy(p, ".tmp", 5);
}

// Creates a new, empty file of a sibling name, its name in out. Null when
// the directory refuses new files.
static std::FILE *CreateSibling(const char *path, char *out) {
  for (unsigned tries = 0; tries < SiblingTries; tries++) {
    NextSiblingName(path, out);
    CreateOutcome outcome;
    std::FILE *file = CreateNewFile(out, &outcome);
    if (file || outcome != NameTaken) return file;
  }
  return nullptr;
}

// Opens the entry's output file and records it. XR_CREATE_OUTPUT when the
// name can be neither created nor replaced: the same names as when files
// were opened in place. A name held by another process now is staged all
// the same: the commit decides whether it waits, or waits for a restart.
ExtractResult StageOutput(const char *finalPath) {
  ExtractState &s = extractState;
  if (s.stagedCount == s.stagedCapacity) {
    unsigned capacity = s.stagedCapacity ? 2 * s.stagedCapacity : 16;
    StagedOutput *grown = static_cast<StagedOutput *>(AllocOrRaise(capacity * sizeof(StagedOutput)));
    if (s.stagedCount) std::memcpy(grown, s.staged, s.stagedCount * sizeof(StagedOutput));
    std::free(s.staged);
    s.staged = grown;
    s.stagedCapacity = capacity;
  }
  std::size_t finalSize = std::strlen(finalPath) + 1;
  std::size_t siblingSize = DirectoryLength(finalPath) + SiblingNameSize;
  StagedOutput o;
  o.finalPath = static_cast<char *>(AllocOrRaise(finalSize + 2 * siblingSize));
  o.tempPath = o.finalPath + finalSize;
  o.backupPath = o.tempPath + siblingSize;
  o.step = Staged;
  std::memcpy(o.finalPath, finalPath, finalSize);

  CreateOutcome outcome;
  s.outputStream = CreateNewFile(finalPath, &outcome);
  if (!s.outputStream && outcome == NameTaken && CheckReplaceable(finalPath) != FileRefused)
    s.outputStream = CreateSibling(finalPath, o.tempPath);
  if (!s.outputStream) {
    std::free(o.finalPath);
    return XR_CREATE_OUTPUT;
  }
  // The decoder hands on whole chunks: through a stdio buffer each would
  // cost two system calls, the buffer's fill and the rest.
  std::setvbuf(s.outputStream, nullptr, _IONBF, 0);
  s.staged[s.stagedCount++] = o;
  return XR_OK;
}

static void ReleaseStaged() {
  ExtractState &s = extractState;
  for (unsigned i = 0; i < s.stagedCount; i++) std::free(s.staged[i].finalPath);
  std::free(s.staged);
  s.staged = nullptr;
  s.stagedCount = s.stagedCapacity = 0;
}

static void Note(const char *what, const char *path);
static MoveOutcome MoveWithRetries(const char *from, const char *to);

// Last output first, so that of two entries with one name the earlier
// one's state is restored after the later one's. What held a name a moment
// ago may be looking at it again: the moves back wait for it as the
// commit's moves do. An old file that still cannot go back keeps its
// backup name, and the log says so.
void DiscardOutputs() {
  ExtractState &s = extractState;
  for (unsigned i = s.stagedCount; i-- > 0;) {
    const StagedOutput &o = s.staged[i];
    if (!o.tempPath[0]) {
      std::remove(o.finalPath);  // created by this call
      continue;
    }
    switch (o.step) {
      case Placed:
      case OldSetAside:
        if (o.backupPath[0] && MoveWithRetries(o.backupPath, o.finalPath) != Moved)
          Note("not restored", o.finalPath);
        else if (!o.backupPath[0] && o.step == Placed)
          std::remove(o.finalPath);
        break;
      case OldLinked:  // the old file still has its name: drop the extra one
      case BackupReserved:
        std::remove(o.backupPath);
        break;
      default:
        break;
    }
    if (o.step != Placed) std::remove(o.tempPath);
  }
  ReleaseStaged();
}

// ---- Busy files -----------------------------------------------------------

static ExtractCommitOptions commitOptions;
static bool finishesAtRestart;
static bool lastMoveBusy;  // the last move that failed found its file busy

void SetExtractCommitOptions(const ExtractCommitOptions &options) { commitOptions = options; }
bool ExtractFinishesAtRestart() { return finishesAtRestart; }

static void Note(const char *what, const char *path) {
  if (commitOptions.note) commitOptions.note(what, path);
}

RetryDecision DecideRetry(FileAccess access, unsigned long elapsedMs) {
  switch (access) {
    case FileFree:
      return GoOn;
    case FileBusy:
      return elapsedMs < BusyRetryWindowMs ? TryAgain : GiveUpInUse;
    case FileRefused:
      break;
  }
  return GiveUpRefused;
}

unsigned RetryPauseMs(unsigned attempt) {
  unsigned pause = 50;
  for (; attempt > 1 && pause < 400; attempt--) pause *= 2;
  return pause;
}

CommitPlan DecideCommit(unsigned inUse, bool allowRestart) {
  if (inUse == 0) return ReplaceNow;
  return allowRestart ? ReplaceAtRestart : FailInUse;
}

// Waits within the retry window until path may be replaced.
static RetryDecision AwaitReplaceable(const char *path) {
  unsigned long start = MillisecondsNow();
  for (unsigned attempt = 1;; attempt++) {
    RetryDecision decision = DecideRetry(CheckReplaceable(path), MillisecondsNow() - start);
    if (decision != TryAgain) {
      if (attempt > 1) Note("retried", path);
      return decision;
    }
    PauseMilliseconds(RetryPauseMs(attempt));
  }
}

// A scanner may take a look at a file between the check and the move.
static MoveOutcome MoveWithRetries(const char *from, const char *to) {
  unsigned long start = MillisecondsNow();
  for (unsigned attempt = 1;; attempt++) {
    MoveOutcome outcome = MoveReplacing(from, to);
    lastMoveBusy = outcome == MoveBusy;
    if (!lastMoveBusy || DecideRetry(FileBusy, MillisecondsNow() - start) != TryAgain) return outcome;
    if (attempt == 1) Note("retried", to);
    PauseMilliseconds(RetryPauseMs(attempt));
  }
}

// Keeps the old file under a backup name of its own, as a second link where
// the file system has them (nothing moves, the name never goes missing) or
// else by moving it there. False when neither works.
static bool KeepOldFile(StagedOutput &o) {
  for (unsigned tries = 0; tries < SiblingTries; tries++) {
    NextSiblingName(o.finalPath, o.backupPath);
    LinkOutcome link = LinkNewName(o.finalPath, o.backupPath);
    if (link == LinkNameTaken) continue;
    if (link == Linked) {
      o.step = OldLinked;
      return true;
    }
    if (link == LinkSourceMissing) break;
    // No links here: a placeholder of a fresh name, and the old file moved over it.
    std::FILE *reserved = CreateSibling(o.finalPath, o.backupPath);
    if (!reserved) {
      o.backupPath[0] = 0;
      return false;
    }
    std::fclose(reserved);
    o.step = BackupReserved;
    MoveOutcome aside = MoveWithRetries(o.finalPath, o.backupPath);
    if (aside == MoveFailed || aside == MoveBusy) return false;
    if (aside == Moved) {
      o.step = OldSetAside;
      return true;
    }
    std::remove(o.backupPath);
    break;
  }
  // An earlier output of this call took the old file away (its name was one
  // of our temporaries): there is nothing to keep.
  o.backupPath[0] = 0;
  o.step = OldSetAside;
  return true;
}

// One output over an existing name: the old file is kept aside, then the
// new one takes the name in one move.
static bool CommitOne(StagedOutput &o) {
  lastMoveBusy = false;
  if (!KeepOldFile(o) || MoveWithRetries(o.tempPath, o.finalPath) != Moved) return false;
  o.step = Placed;
  return true;
}

// Every staged file over its old one at the next restart, in entry order;
// nothing replaced now, so the versions never mix. Where one cannot be
// scheduled, the staged files go: what was scheduled then finds nothing.
static ExtractResult CommitAtRestart() {
  ExtractState &s = extractState;
  for (unsigned i = 0; i < s.stagedCount; i++) {
    const StagedOutput &o = s.staged[i];
    if (!o.tempPath[0]) continue;
    if (!ScheduleAtRestart(o.tempPath, o.finalPath)) {
      DiscardOutputs();
      return XR_IN_USE;
    }
    Note("at restart", o.finalPath);
  }
  finishesAtRestart = true;
  ReleaseStaged();  // the staged files stay for the restart
  return XR_OK;
}

ExtractResult CommitOutputs() {
  ExtractState &s = extractState;
  finishesAtRestart = false;
  unsigned inUse = 0;
  for (unsigned i = 0; i < s.stagedCount; i++) {
    const StagedOutput &o = s.staged[i];
    if (!o.tempPath[0]) continue;
    RetryDecision decision = AwaitReplaceable(o.finalPath);
    if (decision == GiveUpRefused) {
      DiscardOutputs();
      return XR_CREATE_OUTPUT;
    }
    if (decision == GiveUpInUse) {
      inUse++;
      Note("in use", o.finalPath);
    }
  }
  switch (DecideCommit(inUse, commitOptions.allowRestart)) {
    case FailInUse:
      DiscardOutputs();
      return XR_IN_USE;
    case ReplaceAtRestart:
      return CommitAtRestart();
    case ReplaceNow:
      break;
  }
  for (unsigned i = 0; i < s.stagedCount; i++) {
    if (s.staged[i].tempPath[0] && !CommitOne(s.staged[i])) {
      bool busy = lastMoveBusy;
      DiscardOutputs();
      return busy ? XR_IN_USE : XR_CREATE_OUTPUT;
    }
  }
  for (unsigned i = 0; i < s.stagedCount; i++)
    if (s.staged[i].tempPath[0] && s.staged[i].backupPath[0]) std::remove(s.staged[i].backupPath);
  ReleaseStaged();
  return XR_OK;
}
