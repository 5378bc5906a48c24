// The meter's pure logic: counter arithmetic, units, graph scaling, the
// command line and the uninstaller's paths and messages.
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

TEST(ParseCommandLine, FindsTheUninstallSwitchInAnyCase) {
  struct Case {
    const char *line;
    CommandKind expected;
  } cases[] = {
      {"", COMMAND_METER},
      {"/UNINSTALL", COMMAND_UNINSTALL},
      {"/uninstall", COMMAND_UNINSTALL},
      {"  /UnInstall  ", COMMAND_UNINSTALL},
      {"\"/UNINSTALL\"", COMMAND_UNINSTALL},
      {"-minimized /UNINSTALL", COMMAND_UNINSTALL},
      {"/UNINSTALLX", COMMAND_METER},
      {"/UNINSTAL", COMMAND_METER},
      {"UNINSTALL", COMMAND_METER},
      {"a-very-long-word-that-is-no-switch /UNINSTALL", COMMAND_METER},
  };
  for (const Case &c : cases) EXPECT_EQ(ParseCommandLine(c.line).kind, c.expected) << "[" << c.line << "]";
  EXPECT_EQ(ParseCommandLine(nullptr).kind, COMMAND_METER);
}

TEST(ParseCommandLine, ReadsTheCleanupProcessAndDirectory) {
  struct Case {
    const char *line;
    uint32_t pid;
    const char *directory;
  } cases[] = {
      {"/CLEANUP 123 \"C:\\Program Files\\Kelvra\"", 123, "C:\\Program Files\\Kelvra\\"},
      {"/cleanup 4294967295 C:\\K\\", 4294967295u, "C:\\K\\"},
      {"/CLEANUP 7 \"C:\"", 7, "C:\\"},
  };
  for (const Case &c : cases) {
    const Command command = ParseCommandLine(c.line);
    ASSERT_EQ(command.kind, COMMAND_CLEANUP) << c.line;
    EXPECT_EQ(command.waitProcessId, c.pid);
    EXPECT_STREQ(command.directory, c.directory);
  }
}

TEST(ParseCommandLine, RefusesMalformedCleanup) {
  const std::string tooLong = "/CLEANUP 1 \"C:\\" + std::string(300, 'a') + "\"";
  const std::string longest =
      "/CLEANUP 1 C:\\" + std::string(255, 'a');  // 258 characters, then the backslash
  const char *lines[] = {
      "/CLEANUP",
      "/CLEANUP 12",
      "/CLEANUP 12a C:\\K",
      "/CLEANUP -1 C:\\K",
      "/CLEANUP 4294967296 C:\\K",
      "/CLEANUP 1 \"\"",
      "/CLEANUP 1 C:\\K extra",
      tooLong.c_str(),
  };
  for (const char *line : lines) {
    const Command command = ParseCommandLine(line);
    EXPECT_EQ(command.kind, COMMAND_METER) << line;
    EXPECT_STREQ(command.directory, "");
  }
  const Command command = ParseCommandLine(longest.c_str());
  ASSERT_EQ(command.kind, COMMAND_CLEANUP);
  EXPECT_EQ(strlen(command.directory), 259u);
}

TEST(ProductFiles, AreMatchedWithoutRegardToCase) {
  for (const char *file : ProductFiles) EXPECT_TRUE(IsProductFile(file)) << file;
  EXPECT_TRUE(IsProductFile("kelvra.exe"));
  EXPECT_TRUE(IsProductFile("Readme.Txt"));
  EXPECT_FALSE(IsProductFile("KELVRA.EXE.bak"));
  EXPECT_FALSE(IsProductFile("KELVRA"));
  EXPECT_FALSE(IsProductFile("my notes.txt"));
  EXPECT_FALSE(IsProductFile(""));
}

TEST(Paths, AreBuiltWithinTheirBuffers) {
  char out[16];
  EXPECT_TRUE(DirectoryOfPath("C:\\K\\KELVRA.EXE", out, sizeof(out)));
  EXPECT_STREQ(out, "C:\\K\\");
  EXPECT_FALSE(DirectoryOfPath("KELVRA.EXE", out, sizeof(out)));
  EXPECT_STREQ(out, "");
  EXPECT_FALSE(DirectoryOfPath("C:\\a-long-directory\\KELVRA.EXE", out, sizeof(out)));
  EXPECT_STREQ(out, "");

  EXPECT_TRUE(JoinPath("C:\\K\\", "README.TXT", out, sizeof(out)));
  EXPECT_STREQ(out, "C:\\K\\README.TXT");  // 15 characters and the NUL: exactly full
  EXPECT_FALSE(JoinPath("C:\\K\\", "LICENSE.TXT", out, sizeof(out)));
  EXPECT_STREQ(out, "");
  strcpy(out, "C:\\K\\");
  EXPECT_TRUE(JoinPath(out, "X", out, sizeof(out)));  // the first part may be the output
  EXPECT_STREQ(out, "C:\\K\\X");

  struct Case {
    const char *path;
    size_t size;
    bool ok;
    const char *expected;
  } cases[] = {
      {"", 8, true, ""},
      {"C:\\K", 8, true, "C:\\K\\"},
      {"C:\\K\\", 8, true, "C:\\K\\"},
      {"C:\\Kelv", 8, false, "C:\\Kelv"},  // no room for the backslash and the NUL
      {"C:\\Kel", 8, true, "C:\\Kel\\"},
  };
  for (const Case &c : cases) {
    char path[8];
    strcpy(path, c.path);
    EXPECT_EQ(AddBackslash(path, c.size), c.ok) << c.path;
    EXPECT_STREQ(path, c.expected);
  }
}

TEST(RemoveTrailingBackslash, KeepsRootsIntact) {
  struct Case {
    const char *path, *expected;
  } cases[] = {
      {"C:\\K\\", "C:\\K"}, {"C:\\K", "C:\\K"}, {"C:\\", "C:\\"},
      {"\\", "\\"},         {"", ""},           {"K\\\\", "K\\"},  // one at a time
  };
  for (const Case &c : cases) {
    char path[16];
    strcpy(path, c.path);
    RemoveTrailingBackslash(path);
    EXPECT_STREQ(path, c.expected) << c.path;
  }
}

TEST(BuildCleanupCommand, QuotesPathsAndRoundTripsThroughTheParser) {
  char command[400];
  ASSERT_TRUE(BuildCleanupCommand("C:\\Temp\\KelvraCleanup9.exe", 9, "C:\\Program Files\\Kelvra\\", command,
                                  sizeof(command)));
  EXPECT_STREQ(
      command,
      "/d /c start \"\" /wait \"C:\\Temp\\KelvraCleanup9.exe\" /CLEANUP 9 \"C:\\Program Files\\Kelvra\""
      " & del /f /q \"C:\\Temp\\KelvraCleanup9.exe\"");

  const char *directories[] = {"C:\\Program Files\\Kelvra\\", "C:\\", "D:\\a & b\\(x)\\"};
  for (const char *directory : directories) {
    ASSERT_TRUE(BuildCleanupCommand("C:\\T\\h.exe", 4000000000u, directory, command, sizeof(command)));
    // What the helper receives: everything after its quoted path, up to the "&" that follows the directory.
    std::string arguments = strstr(command, "/CLEANUP");
    arguments = arguments.substr(0, arguments.rfind(" & del"));
    const Command parsed = ParseCommandLine(arguments.c_str());
    ASSERT_EQ(parsed.kind, COMMAND_CLEANUP) << arguments;
    EXPECT_EQ(parsed.waitProcessId, 4000000000u);
    EXPECT_STREQ(parsed.directory, directory);
  }
}

TEST(BuildCleanupCommand, RefusesWhatTheInterpreterWouldMisread) {
  char command[400];
  struct Case {
    const char *helper, *directory;
    size_t size;
  } cases[] = {
      {"C:\\T\\h.exe", "C:\\100%PATH%\\", sizeof(command)},
      {"C:\\%TEMP%\\h.exe", "C:\\K\\", sizeof(command)},
      {"C:\\T\\h.exe", "C:\\a\"b\\", sizeof(command)},
      {"", "C:\\K\\", sizeof(command)},
      {"C:\\T\\h.exe", "", sizeof(command)},
      {"C:\\T\\h.exe", "C:\\K\\", 40},  // does not fit
  };
  for (const Case &c : cases) {
    memset(command, 'x', sizeof(command));
    EXPECT_FALSE(BuildCleanupCommand(c.helper, 1, c.directory, command, c.size))
        << c.helper << " " << c.directory;
    EXPECT_STREQ(command, "");
  }
}

TEST(DescribeOutcome, TellsWhatWasLeftBehind) {
  UninstallOutcome outcome;
  StartOutcome(outcome);
  char text[512];
  EXPECT_TRUE(DescribeOutcome(outcome, text, sizeof(text)));
  EXPECT_STREQ(text, "Kelvra has been removed from your computer.");

  outcome.userFilesKept = true;
  EXPECT_TRUE(DescribeOutcome(outcome, text, sizeof(text)));
  EXPECT_NE(strstr(text, "left in the installation folder"), nullptr);

  AddFailedFile(outcome, "KELVRA.HLP");
  AddFailedFile(outcome, "README.TXT");
  outcome.keyFailed = true;
  EXPECT_FALSE(DescribeOutcome(outcome, text, sizeof(text)));
  EXPECT_EQ(strncmp(text, "Kelvra could not be removed completely.", 39), 0);
  EXPECT_NE(strstr(text, "KELVRA.HLP"), nullptr);
  EXPECT_NE(strstr(text, "README.TXT"), nullptr);
  EXPECT_NE(strstr(text, "administrator"), nullptr);
}

TEST(DescribeOutcome, StaysWithinSmallBuffers) {
  UninstallOutcome outcome;
  StartOutcome(outcome);
  for (int i = 0; i < 9; i++) AddFailedFile(outcome, "A-NAME-TOO-LONG-FOR-ITS-SLOT.TXT");
  EXPECT_EQ(outcome.failedFileCount, ProductFileCount);
  EXPECT_EQ(strlen(outcome.failedFiles[0]), sizeof(outcome.failedFiles[0]) - 1);
  outcome.shortcutsFailed = outcome.keyFailed = outcome.selfRemovalAtRestart = true;
  char text[24];
  memset(text, 'x', sizeof(text));
  EXPECT_FALSE(DescribeOutcome(outcome, text, sizeof(text)));
  EXPECT_EQ(strlen(text), sizeof(text) - 1);
}

}  // namespace
