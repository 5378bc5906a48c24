// The meter's arithmetic: interface counters turned into rates, the units
// they are shown in and the scale of the graph. No Windows call, so that it
// builds and is tested on Linux too; the command line is in commandline.h,
// the uninstaller's decisions in removal.h.
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

// ---- The setup's exit event ----

// Called with whether the event is set, at start and on every tick, armed
// false before the first call. Returns true when the meter should exit. A
// meter obeys only a signal it has seen arrive: one already set when it
// started (a setup's wait ending, or a name someone else holds set) is
// ignored until the event has been seen clear or gone.
bool ExitEventRequests(bool &armed, bool signalled);
