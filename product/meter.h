// The parts of KELVRA.EXE that need no Windows call: counter arithmetic,
// rate units, graph scaling, the command line and the paths the uninstaller
// builds. Kept apart so that they build and are tested on Linux too.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Interface counters and rates ----

constexpr unsigned MaxInterfaces = 64;  // interfaces followed at once; more are ignored

// One interface's octet counters as read at one moment.
struct InterfaceSample {
  uint64_t id;           // stable per interface between two readings (index or LUID)
  uint64_t inOctets;     // bytes received since the counter started
  uint64_t outOctets;    // bytes sent since the counter started
  unsigned counterBits;  // 32 or 64: where the counter wraps
};

// The previous reading, kept to turn counters into amounts moved since then.
struct CounterState {
  InterfaceSample previous[MaxInterfaces];  // last reading, in table order
  unsigned previousCount;                   // entries of previous in use, <= MaxInterfaces
  bool havePrevious;                        // false until the first reading
};

void StartCounters(CounterState &state);

// Bytes a counter moved from `before` to `after`. A 32-bit counter that went
// down has wrapped; a jump of more than half its range, or a 64-bit counter
// going down, means it was reset, and counts as nothing rather than a spike.
uint64_t CounterDelta(uint64_t before, uint64_t after, unsigned counterBits);

// Takes a new reading (at most MaxInterfaces entries are used) and returns the
// bytes received and sent since the previous one, summed over the interfaces
// present in both. An interface seen for the first time adds nothing.
void TakeReading(CounterState &state, const InterfaceSample *now, unsigned count, uint64_t &receivedBytes,
                 uint64_t &sentBytes);

// Bytes per second for `bytes` moved in `elapsedMs`; 0 when no time passed.
uint64_t RatePerSecond(uint64_t bytes, uint32_t elapsedMs);

// ---- Units ----

constexpr size_t RateTextSize = 24;  // room for any formatted rate and its NUL

// "0 B/s" ... "1023 B/s", "1.0 KB/s" ... "99.9 KB/s", "100 KB/s" ... "1023 KB/s",
// then the same in MB/s. The unit is chosen after rounding, so no value ever
// reads "1024 KB/s". Writes at most outSize bytes, always NUL-terminated.
void FormatRate(uint64_t bytesPerSecond, char *out, size_t outSize);

// ---- Graph ----

constexpr unsigned HistoryLength = 60;  // one sample a second: the last minute

struct RateHistory {
  uint64_t received[HistoryLength];  // bytes per second, ring buffer
  uint64_t sent[HistoryLength];      // bytes per second, same slots as received
  unsigned next;                     // slot the next sample goes to, < HistoryLength
  unsigned count;                    // samples held, <= HistoryLength
};

void StartHistory(RateHistory &history);
void PushRates(RateHistory &history, uint64_t received, uint64_t sent);
// Sample `age` seconds old (0 is the newest); age must be below count.
void HistoryAt(const RateHistory &history, unsigned age, uint64_t &received, uint64_t &sent);

// Full scale of the graph: the smallest of 1, 2, 5, 10 ... 500 KB/s, 1, 2 ... MB/s
// and so on that the largest rate in the history does not exceed; 1 KB/s at least.
uint64_t GraphFullScale(const RateHistory &history);

// Height in pixels, 0..height, of a bar for `rate` on a graph whose top is
// `fullScale`. Rounds to the nearest pixel; anything above full scale is clipped.
int ScaleToHeight(uint64_t rate, uint64_t fullScale, int height);

// ---- Command line ----

enum CommandKind {
  COMMAND_METER,      // no switch: show the meter
  COMMAND_UNINSTALL,  // "/UNINSTALL": remove the product
  COMMAND_CLEANUP,    // "/CLEANUP <pid> <directory>": finish removing a directory
};

struct Command {
  CommandKind kind;
  uint32_t waitProcessId;  // COMMAND_CLEANUP: process to outlive first
  char directory[260];     // COMMAND_CLEANUP: installation directory, ends in a backslash
};

// Switches are matched without regard to case. The command line is untrusted:
// a malformed /CLEANUP or a directory too long for the buffer gives COMMAND_METER.
Command ParseCommandLine(const char *commandLine);

// ---- Uninstall ----

// The files the setup installs; the uninstaller deletes these and nothing else.
constexpr unsigned ProductFileCount = 5;
extern const char *const ProductFiles[ProductFileCount];

// True when `name` (a bare file name) is one of the product files, in any case.
bool IsProductFile(const char *name);

// out = directory part of `path`, up to and including the last backslash;
// false (out empty) when there is none or it does not fit.
bool DirectoryOfPath(const char *path, char *out, size_t outSize);

// Appends a backslash unless the path is empty or already ends in one; false
// (path unchanged) when there is no room for it.
bool AddBackslash(char *path, size_t pathSize);

// Removes one trailing backslash, except from a drive's root such as C:\ and
// from a lone backslash, whose meaning it would change.
void RemoveTrailingBackslash(char *path);

// out = `first` followed by `second`, or false (out empty) when it would not fit.
bool JoinPath(const char *first, const char *second, char *out, size_t outSize);

// The command given to the command interpreter to remove the program's own
// file once it has exited: it runs `helper` (a copy of the program outside the
// installation directory) with "/CLEANUP <pid> <directory>", waits for it and
// then deletes the helper. False when it does not fit in outSize bytes or a
// path holds a character the interpreter would expand or misread.
bool BuildCleanupCommand(const char *helper, uint32_t processId, const char *directory, char *out,
                         size_t outSize);

// What the uninstaller achieved, to be told in one message box.
struct UninstallOutcome {
  char failedFiles[ProductFileCount][16];  // product files that are still there
  unsigned failedFileCount;                // entries of failedFiles in use
  bool keyFailed;                          // the uninstall entry could not be deleted
  bool shortcutsFailed;                    // a shortcut or the Start menu folder remains
  bool selfRemovalAtRestart;               // the program file goes only at the next restart
  bool userFilesKept;                      // other files keep the directory in place
};

void StartOutcome(UninstallOutcome &outcome);
void AddFailedFile(UninstallOutcome &outcome, const char *name);

// The text of the closing message; returns true when everything went.
bool DescribeOutcome(const UninstallOutcome &outcome, char *out, size_t outSize);
