// The meter's arithmetic: counter deltas, rates, units and graph scaling.
// No Windows calls.
#include "meter.h"

#include <cstring>

#include "text.h"

// ---- Interface counters and rates ----

void StartCounters(CounterState &state) {
  memset(state.previous, 0, sizeof(state.previous));
  state.previousCount = 0;
  state.havePrevious = false;
}

uint64_t CounterDelta(uint64_t before, uint64_t after, unsigned counterBits) {
  if (counterBits >= 64) return after >= before ? after - before : 0;
  const uint64_t range = uint64_t(1) << counterBits;
  const uint64_t delta = (after - before) & (range - 1);
  return delta > range / 2 ? 0 : delta;
}

static const InterfaceSample *FindInterface(const CounterState &state, uint64_t id) {
  for (unsigned i = 0; i < state.previousCount; i++)
    if (state.previous[i].id == id) return &state.previous[i];
  return nullptr;
}

void TakeReading(CounterState &state, const InterfaceSample *now, unsigned count, uint64_t &receivedBytes,
                 uint64_t &sentBytes) {
  if (count > MaxInterfaces) count = MaxInterfaces;
  receivedBytes = 0;
  sentBytes = 0;
  for (unsigned i = 0; state.havePrevious && i < count; i++) {
    const InterfaceSample *before = FindInterface(state, now[i].id);
    if (!before || before->counterBits != now[i].counterBits) continue;
    receivedBytes += CounterDelta(before->inOctets, now[i].inOctets, now[i].counterBits);
    sentBytes += CounterDelta(before->outOctets, now[i].outOctets, now[i].counterBits);
  }
  memcpy(state.previous, now, count * sizeof(InterfaceSample));
  state.previousCount = count;
  state.havePrevious = true;
}

uint64_t RatePerSecond(uint64_t bytes, uint32_t elapsedMs) {
  if (elapsedMs == 0) return 0;
  // Split so that bytes * 1000 cannot overflow.
  return bytes / elapsedMs * 1000 + bytes % elapsedMs * 1000 / elapsedMs;
}

// ---- Units ----

void FormatRate(uint64_t bytesPerSecond, char *out, size_t outSize) {
  static const char *const Units[] = {" KB/s", " MB/s"};
  if (outSize == 0) return;
  out[0] = '\0';
  if (bytesPerSecond < 1024) {
    AppendNumber(out, outSize, bytesPerSecond);
    AppendText(out, outSize, " B/s");
    return;
  }
  uint64_t unitSize = 1024;
  unsigned unit = 0;
  for (;;) {
    // Tenths of the unit, rounded; below 100 units one decimal is shown.
    const uint64_t tenths =
        (bytesPerSecond / unitSize) * 10 + ((bytesPerSecond % unitSize) * 10 + unitSize / 2) / unitSize;
    if (tenths < 1000) {
      AppendNumber(out, outSize, tenths / 10);
      AppendText(out, outSize, ".");
      AppendNumber(out, outSize, tenths % 10);
      AppendText(out, outSize, Units[unit]);
      return;
    }
    const uint64_t whole = bytesPerSecond / unitSize + (bytesPerSecond % unitSize >= unitSize / 2 ? 1 : 0);
    if (whole < 1024 || unit + 1 == sizeof(Units) / sizeof(Units[0])) {
      AppendNumber(out, outSize, whole);
      AppendText(out, outSize, Units[unit]);
      return;
    }
    unitSize *= 1024;
    unit++;
  }
}

// ---- Graph ----

void StartHistory(RateHistory &history) {
  memset(history.received, 0, sizeof(history.received));
  memset(history.sent, 0, sizeof(history.sent));
  history.next = 0;
  history.count = 0;
}

void PushRates(RateHistory &history, uint64_t received, uint64_t sent) {
  history.received[history.next] = received;
  history.sent[history.next] = sent;
  history.next = (history.next + 1) % HistoryLength;
  if (history.count < HistoryLength) history.count++;
}

void HistoryAt(const RateHistory &history, unsigned age, uint64_t &received, uint64_t &sent) {
  const unsigned slot = (history.next + HistoryLength - 1 - age % HistoryLength) % HistoryLength;
  received = history.received[slot];
  sent = history.sent[slot];
}

uint64_t GraphFullScale(const RateHistory &history) {
  uint64_t peak = 0;
  for (unsigned age = 0; age < history.count; age++) {
    uint64_t received, sent;
    HistoryAt(history, age, received, sent);
    if (received > peak) peak = received;
    if (sent > peak) peak = sent;
  }
  // Steps that read as round numbers in the units FormatRate shows.
  static const unsigned Steps[] = {1, 2, 5, 10, 20, 50, 100, 200, 500};
  for (uint64_t unit = 1024; unit <= UINT64_MAX / 1024 / 500; unit *= 1024)
    for (unsigned step : Steps)
      if (step * unit >= peak) return step * unit;
  return peak;
}

int ScaleToHeight(uint64_t rate, uint64_t fullScale, int height) {
  if (height <= 0 || fullScale == 0) return 0;
  if (rate >= fullScale) return height;
  // Drop low bits of both until rate * height cannot overflow.
  while (fullScale > UINT32_MAX) {
    rate >>= 1;
    fullScale >>= 1;
  }
  const uint64_t scaled = (rate * uint64_t(height) + fullScale / 2) / fullScale;
  return int(scaled);
}

bool ExitEventRequests(bool &armed, bool signalled) {
  if (signalled) return armed;
  armed = true;
  return false;
}
