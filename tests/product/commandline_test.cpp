// KELVRA.EXE's command line, over tables of command lines as a shell, a
// deployment tool or a person would type them.
#include "commandline.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(ParseCommandLine, ReadsTheUninstallSwitchesInAnyCaseAndOrder) {
  const std::string longLog = "/UNINSTALL /LOG=C:\\" + std::string(PathCapacity, 'a');
  struct Case {
    const char *line;
    CommandKind kind;
    bool silent, elevated;
    const char *log;
  } cases[] = {
      {"", COMMAND_METER, false, false, ""},
      {"/UNINSTALL", COMMAND_UNINSTALL, false, false, ""},
      {"/uninstall", COMMAND_UNINSTALL, false, false, ""},
      {"  /UnInstall  ", COMMAND_UNINSTALL, false, false, ""},
      {"\"/UNINSTALL\"", COMMAND_UNINSTALL, false, false, ""},
      {"-uninstall -s", COMMAND_UNINSTALL, true, false, ""},
      {"/S /UNINSTALL", COMMAND_UNINSTALL, true, false, ""},
      {"/UNINSTALL /S /LOG=C:\\u.log", COMMAND_UNINSTALL, true, false, "C:\\u.log"},
      {"/UNINSTALL \"/LOG=C:\\My Logs\\u.log\" /S", COMMAND_UNINSTALL, true, false, "C:\\My Logs\\u.log"},
      {"/UNINSTALL /log=\"C:\\My Logs\\u.log\"", COMMAND_UNINSTALL, false, false, "C:\\My Logs\\u.log"},
      {"/ELEVATED /UNINSTALL /S", COMMAND_UNINSTALL, true, true, ""},
      // With /UNINSTALL, a word it does not take stops it: a misspelt
      // "/SILENT" must not turn into a question nobody answers.
      {"/UNINSTALL /SILENT", COMMAND_INVALID, false, false, ""},
      {"/UNINSTALL /S /X", COMMAND_INVALID, true, false, ""},
      {"-minimized /UNINSTALL", COMMAND_INVALID, false, false, ""},
      {"a-very-long-word-that-is-no-switch /UNINSTALL", COMMAND_INVALID, false, false, ""},
      {"/UNINSTALL /LOG=", COMMAND_INVALID, false, false, ""},
      {longLog.c_str(), COMMAND_INVALID, false, false, ""},
      {"/UNINSTALL /CLEANUP 1 C:\\K", COMMAND_INVALID, false, false, ""},
      // Quotes around a whole word or value only, as the setup has them.
      {"/UNINSTALL /LOG=C:\\\"My Logs\"\\u.log", COMMAND_INVALID, false, false, ""},
      {"/UNIN\"STALL\" /S", COMMAND_METER, true, false, ""},
      // Without it, the meter starts whatever else is there.
      {"/S", COMMAND_METER, true, false, ""},
      {"notes.txt", COMMAND_METER, false, false, ""},
      {"/UNINSTALLX", COMMAND_METER, false, false, ""},
      {"/UNINSTAL", COMMAND_METER, false, false, ""},
      {"UNINSTALL", COMMAND_METER, false, false, ""},
  };
  for (const Case &c : cases) {
    const Command command = ParseCommandLine(c.line);
    EXPECT_EQ(command.kind, c.kind) << "[" << c.line << "]";
    if (command.kind == COMMAND_METER) continue;
    EXPECT_EQ(command.silent, c.silent) << "[" << c.line << "]";
    EXPECT_EQ(command.elevatedRestart, c.elevated) << "[" << c.line << "]";
    EXPECT_STREQ(command.logFile, c.log) << "[" << c.line << "]";
  }
  EXPECT_EQ(ParseCommandLine(nullptr).kind, COMMAND_METER);
}

// The longest log name that fits is kept whole.
TEST(ParseCommandLine, KeepsALogNameThatJustFits) {
  const std::string name = "C:\\" + std::string(PathCapacity - 4, 'a');  // 259 characters
  const Command command = ParseCommandLine(("/UNINSTALL /LOG=\"" + name + "\"").c_str());
  ASSERT_EQ(command.kind, COMMAND_UNINSTALL);
  EXPECT_EQ(command.logFile, name);
}

// The elevated restart sees the same command, marked so that it never asks again.
TEST(BuildElevatedArguments, GivesTheSameCommandMarkedAsRestarted) {
  const char *lines[] = {"/UNINSTALL", "/UNINSTALL /S \"/LOG=C:\\My Logs\\u.log\"",
                         "/UNINSTALL /LOG=\"C:\\unterminated"};
  for (const char *line : lines) {
    char arguments[600];
    ASSERT_TRUE(BuildElevatedArguments(line, arguments, sizeof(arguments)));
    const Command original = ParseCommandLine(line), restarted = ParseCommandLine(arguments);
    EXPECT_EQ(restarted.kind, original.kind) << arguments;
    EXPECT_TRUE(restarted.elevatedRestart) << arguments;
    EXPECT_FALSE(original.elevatedRestart) << line;
    EXPECT_EQ(restarted.silent, original.silent) << arguments;
    EXPECT_STREQ(restarted.logFile, original.logFile) << arguments;
  }
  char small[12];
  EXPECT_FALSE(BuildElevatedArguments("/UNINSTALL", small, sizeof(small)));
  EXPECT_STREQ(small, "");
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
      "/CLEANUP 1 C:\\\"Program Files\"\\Kelvra",
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

}  // namespace
