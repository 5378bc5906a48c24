// The meter's arithmetic: counter deltas, rates, units and graph scaling.
#include "meter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

constexpr uint64_t KB = 1024;
constexpr uint64_t MB = 1024 * 1024;

TEST(CounterDelta, FollowsWrapsAndTreatsResetsAsNothing) {
  struct Case {
    uint64_t before, after;
    unsigned bits;
    uint64_t expected;
  } cases[] = {
      {100, 250, 32, 150},
      {7, 7, 32, 0},
      {0xFFFFFF00u, 0x100, 32, 0x200},    // wrapped once
      {1000000000, 5, 32, 0},             // went down by far more than a wrap explains: reset
      {0, 0x80000000u, 32, 0x80000000u},  // exactly half the range still counts
      {0, 0x80000001u, 32, 0},            // beyond half: not believable in one interval
      {10, 10 + 5 * MB, 64, 5 * MB},
      {5 * MB, 10, 64, 0},  // a 64-bit counter going down was reset
      {UINT64_MAX - 10, UINT64_MAX, 64, 10},
  };
  for (const Case &c : cases)
    EXPECT_EQ(CounterDelta(c.before, c.after, c.bits), c.expected)
        << c.before << " -> " << c.after << " (" << c.bits << ")";
}

TEST(TakeReading, FirstReadingGivesNothing) {
  CounterState state;
  StartCounters(state);
  const InterfaceSample now[] = {{1, 5000, 7000, 64}};
  uint64_t in = 1, out = 1;
  TakeReading(state, now, 1, in, out);
  EXPECT_EQ(in, 0u);
  EXPECT_EQ(out, 0u);
  EXPECT_TRUE(state.havePrevious);
}

TEST(TakeReading, SumsInterfacesMatchedByIdInAnyOrder) {
  CounterState state;
  StartCounters(state);
  const InterfaceSample first[] = {{1, 1000, 100, 64}, {2, 0xFFFFFFF0u, 50, 32}, {3, 9, 9, 64}};
  // Interface 3 has gone, 4 is new, 1 and 2 swapped places; 2 wrapped.
  const InterfaceSample second[] = {{2, 0x10, 60, 32}, {4, 1 << 30, 1 << 30, 64}, {1, 1500, 400, 64}};
  uint64_t in, out;
  TakeReading(state, first, 3, in, out);
  TakeReading(state, second, 3, in, out);
  EXPECT_EQ(in, 500u + 0x20u);
  EXPECT_EQ(out, 300u + 10u);
  // The new interface is followed from here on.
  const InterfaceSample third[] = {{4, (1 << 30) + 77, (1 << 30) + 3, 64}};
  TakeReading(state, third, 1, in, out);
  EXPECT_EQ(in, 77u);
  EXPECT_EQ(out, 3u);
}

TEST(TakeReading, IgnoresInterfacesBeyondTheLimit) {
  CounterState state;
  StartCounters(state);
  InterfaceSample many[MaxInterfaces + 8];
  for (unsigned i = 0; i < MaxInterfaces + 8; i++) many[i] = {i, 0, 0, 64};
  uint64_t in, out;
  TakeReading(state, many, MaxInterfaces + 8, in, out);
  EXPECT_EQ(state.previousCount, MaxInterfaces);
  for (auto &sample : many) sample.inOctets = 10;
  TakeReading(state, many, MaxInterfaces + 8, in, out);
  EXPECT_EQ(in, 10u * MaxInterfaces);
}

TEST(RatePerSecond, ScalesToOneSecondWithoutOverflow) {
  struct Case {
    uint64_t bytes;
    uint32_t ms;
    uint64_t expected;
  } cases[] = {
      {1000, 0, 0},
      {1000, 1000, 1000},
      {1500, 1500, 1000},
      {1, 3, 333},
      {4096, 500, 8192},
      {UINT64_MAX, 1000, UINT64_MAX / 1000 * 1000 + UINT64_MAX % 1000},
      {UINT32_MAX, UINT32_MAX, 1000},
  };
  for (const Case &c : cases)
    EXPECT_EQ(RatePerSecond(c.bytes, c.ms), c.expected) << c.bytes << " in " << c.ms << " ms";
}

TEST(FormatRate, ChoosesTheUnitAfterRounding) {
  struct Case {
    uint64_t rate;
    const char *expected;
  } cases[] = {
      {0, "0 B/s"},
      {1023, "1023 B/s"},
      {1024, "1.0 KB/s"},
      {1536, "1.5 KB/s"},
      {10 * KB - 1, "10.0 KB/s"},
      {99 * KB + 973, "100 KB/s"},  // 99.95 KB/s rounds up out of the one-decimal range
      {512 * KB, "512 KB/s"},
      {1023 * KB + 511, "1023 KB/s"},
      {1023 * KB + 512, "1.0 MB/s"},  // never "1024 KB/s"
      {MB * 5 / 2, "2.5 MB/s"},
      {150 * MB, "150 MB/s"},
      {4096 * MB, "4096 MB/s"},  // the largest unit just grows
  };
  for (const Case &c : cases) {
    char text[RateTextSize];
    FormatRate(c.rate, text, sizeof(text));
    EXPECT_STREQ(text, c.expected) << c.rate;
  }
}

TEST(FormatRate, FitsAnyRateAndCutsToSmallBuffers) {
  char text[RateTextSize];
  FormatRate(UINT64_MAX, text, sizeof(text));
  EXPECT_LT(strlen(text), sizeof(text));
  EXPECT_EQ(std::string(text).substr(strlen(text) - 4), "MB/s");

  char small[5];
  memset(small, 'x', sizeof(small));
  FormatRate(1536, small, sizeof(small));
  EXPECT_STREQ(small, "1.5 ");
  char untouched = 'x';
  FormatRate(1536, &untouched, 0);
  EXPECT_EQ(untouched, 'x');
}

TEST(RateHistory, KeepsTheNewestMinute) {
  RateHistory history;
  StartHistory(history);
  for (uint64_t i = 1; i <= HistoryLength + 5; i++) PushRates(history, i, 1000 + i);
  EXPECT_EQ(history.count, HistoryLength);
  uint64_t received, sent;
  HistoryAt(history, 0, received, sent);
  EXPECT_EQ(received, HistoryLength + 5);
  EXPECT_EQ(sent, 1000 + HistoryLength + 5);
  HistoryAt(history, HistoryLength - 1, received, sent);
  EXPECT_EQ(received, 6u);
}

TEST(GraphFullScale, PicksTheNextRoundStepAboveThePeak) {
  struct Case {
    uint64_t peak;
    uint64_t expected;
  } cases[] =
      {
          {0, 1 * KB},      {1 * KB, 1 * KB},         {1 * KB + 1, 2 * KB},
          {3 * KB, 5 * KB}, {499 * KB, 500 * KB},     {600 * KB, 1 * MB},
          {3 * MB, 5 * MB}, {UINT64_MAX, UINT64_MAX},  // beyond every step: the peak itself, no overflow
      };
  for (const Case &c : cases) {
    RateHistory history;
    StartHistory(history);
    PushRates(history, 0, 0);
    PushRates(history, c.peak / 2, c.peak);  // the peak may be in either series
    PushRates(history, 1, 1);
    EXPECT_EQ(GraphFullScale(history), c.expected) << c.peak;
  }
}

TEST(GraphFullScale, ForgetsPeaksOlderThanAMinute) {
  RateHistory history;
  StartHistory(history);
  PushRates(history, 40 * MB, 0);
  for (unsigned i = 0; i < HistoryLength; i++) PushRates(history, 3 * KB, 0);
  EXPECT_EQ(GraphFullScale(history), 5 * KB);
}

TEST(ScaleToHeight, RoundsAndClipsToTheGraph) {
  struct Case {
    uint64_t rate, fullScale;
    int height, expected;
  } cases[] = {
      {0, 1024, 100, 0},
      {1024, 1024, 100, 100},
      {5000, 1024, 100, 100},  // above full scale: clipped
      {512, 1024, 100, 50},
      {5, 1024, 100, 0},  // 0.49 px
      {6, 1024, 100, 1},  // 0.59 px
      {1, 3, 2, 1},
      {100, 1024, 0, 0},
      {100, 1024, -5, 0},
      {100, 0, 100, 0},
      {uint64_t(1) << 62, uint64_t(1) << 63, 200, 100},  // too large to multiply directly
  };
  for (const Case &c : cases)
    EXPECT_EQ(ScaleToHeight(c.rate, c.fullScale, c.height), c.expected)
        << c.rate << "/" << c.fullScale << " of " << c.height;
}

// The setup's event, seen at start and then once a second: only a signal
// that arrives while the meter runs closes it.
TEST(ExitEventRequests, ObeysOnlyASignalSeenToArrive) {
  struct Case {
    const char *seen;  // the event at start, then each tick: '1' set, '0' clear or absent
    const char *exits;
  } cases[] = {
      {"0001", "0001"},  // a setup signals while the meter runs
      {"1111", "0000"},  // set before the start (a squatter, a wait just ending): ignored
      {"1101", "0001"},  // seen clear once, then set: obeyed
      {"0000", "0000"},
  };
  for (const Case &c : cases) {
    bool armed = false;
    for (int i = 0; c.seen[i]; i++)
      EXPECT_EQ(ExitEventRequests(armed, c.seen[i] == '1'), c.exits[i] == '1') << c.seen << " at " << i;
  }
}

}  // namespace
