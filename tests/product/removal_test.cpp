// The uninstaller's decisions: whose files, whether to ask for rights,
// whether this copy is the installed one, and the command that removes the
// program's own file.
#include "removal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(ProductFiles, AreMatchedWithoutRegardToCase) {
  for (const char *file : ProductFiles) EXPECT_TRUE(IsProductFile(file)) << file;
  EXPECT_TRUE(IsProductFile("kelvra.exe"));
  EXPECT_TRUE(IsProductFile("Readme.Txt"));
  EXPECT_FALSE(IsProductFile("KELVRA.EXE.bak"));
  EXPECT_FALSE(IsProductFile("KELVRA"));
  EXPECT_FALSE(IsProductFile("my notes.txt"));
  EXPECT_FALSE(IsProductFile(""));
}

TEST(DecideUninstallStart, RestartsOnceForRightsAndThenFailsWithoutThem) {
  using U = UninstallStart;
  struct Case {
    const char *line;
    bool tokenElevated;
    U expected;
  } cases[] = {
      {"/UNINSTALL", false, U::RestartElevated},
      {"/UNINSTALL /S /LOG=u.log", false, U::RestartElevated},
      {"/UNINSTALL", true, U::Proceed},
      {"/ELEVATED /UNINSTALL", true, U::Proceed},
      {"/ELEVATED /UNINSTALL /S", false, U::ElevationMissing},  // no second prompt, no futile deletions
      {"", false, U::Proceed},                                  // the meter runs with the user's rights
      {"/CLEANUP 12 C:\\K", false, U::Proceed},  // the helper has the rights it was started with
      {"/UNINSTALL /X", false, U::Proceed},      // a bad command line asks for nothing
  };
  for (const Case &c : cases)
    EXPECT_EQ(DecideUninstallStart(ParseCommandLine(c.line), c.tokenElevated), c.expected)
        << c.line << (c.tokenElevated ? " elevated" : " not elevated");
}

TEST(RegisteredDirectory, PrefersInstallLocationElseReadsTheUninstallCommand) {
  struct Case {
    const char *location, *command;
    const char *expected;  // nullptr: no directory
  } cases[] = {
      {"C:\\Program Files\\Kelvra", "\"D:\\Elsewhere\\KELVRA.EXE\" /UNINSTALL",
       "C:\\Program Files\\Kelvra\\"},
      {"C:\\Program Files\\Kelvra\\", "", "C:\\Program Files\\Kelvra\\"},
      {"", "\"C:\\Program Files\\Kelvra\\KELVRA.EXE\" /UNINSTALL", "C:\\Program Files\\Kelvra\\"},
      {nullptr, "\"C:\\Program Files\\Kelvra\\KELVRA.EXE\"", "C:\\Program Files\\Kelvra\\"},
      {"", "C:\\Program Files\\Kelvra\\KELVRA.EXE /UNINSTALL", "C:\\Program Files\\Kelvra\\"},
      {"", "c:\\my.exe tools\\kelvra.exe /uninstall", "c:\\my.exe tools\\"},
      {"", "\"C:KELVRA.EXE\" /UNINSTALL", "C:"},
      {"C:", "", "C:"},
      {"", "\"C:\\Program Files\\Kelvra\\KELVRA.EXE /UNINSTALL", nullptr},  // unclosed quote
      {"", "KELVRA.EXE /UNINSTALL", nullptr},                               // no directory
      {"", "C:\\K\\KELVRA /UNINSTALL", nullptr},                            // no program
      {"", "", nullptr},
      {nullptr, nullptr, nullptr},
  };
  for (const Case &c : cases) {
    char out[PathCapacity];
    memset(out, 'x', sizeof(out));
    EXPECT_EQ(RegisteredDirectory(c.location, c.command, out, sizeof(out)), c.expected != nullptr)
        << (c.location ? c.location : "(none)") << " | " << (c.command ? c.command : "(none)");
    EXPECT_STREQ(out, c.expected ? c.expected : "");
  }
  const std::string tooLong = "C:\\" + std::string(PathCapacity, 'a');
  char out[PathCapacity];
  EXPECT_FALSE(RegisteredDirectory(tooLong.c_str(), "", out, sizeof(out)));
  EXPECT_STREQ(out, "");
}

TEST(SameDirectory, MatchesOneDirectoryHoweverItsEndIsWritten) {
  struct Case {
    const char *a, *b;
    bool same;
  } cases[] = {
      {"C:\\Program Files\\Kelvra\\", "C:\\Program Files\\Kelvra", true},
      {"c:\\program files\\kelvra\\", "C:\\PROGRAM FILES\\KELVRA\\", true},
      {"C:\\", "C:", true},  // the setup given "C:\" installs into the root
      {"C:\\", "C:\\", true},
      {"C:\\Users\\me\\Downloads\\", "C:\\Program Files\\Kelvra\\", false},
      {"C:\\Program Files\\Kelvra\\", "C:\\Program Files\\Kelvra2\\", false},
      {"C:\\Program Files\\Kelvra\\Sub\\", "C:\\Program Files\\Kelvra\\", false},
      {"D:\\", "C:\\", false},
      {"C:\\K\\\\", "C:\\K\\", false},  // one backslash forgiven, not two
      {"", "", false},
      {"C:\\K\\", "", false},
      // Only ASCII letters fold: other bytes are parts of UTF-8 characters.
      {"C:\\\xC3\xA9t\xC3\xA9\\", "C:\\\xC3\xA9T\xC3\xA9", true},
      {"C:\\\xC3\xA9\\", "C:\\\xC3\x89\\", false},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(SameDirectory(c.a, c.b), c.same) << c.a << " | " << c.b;
    EXPECT_EQ(SameDirectory(c.b, c.a), c.same) << c.b << " | " << c.a;
  }
}

TEST(HelperDirectoryName, SpellsEveryRandomBitInHex) {
  const uint8_t random[8] = {0x00, 0x1f, 0xa0, 0xff, 0x12, 0x34, 0xcd, 0xef};
  char name[32];
  HelperDirectoryName(random, name, sizeof(name));
  EXPECT_STREQ(name, "Kelvra-001fa0ff1234cdef");
  char small[8];
  HelperDirectoryName(random, small, sizeof(small));
  EXPECT_STREQ(small, "Kelvra-");
}

TEST(BuildCleanupCommand, QuotesPathsAndRoundTripsThroughTheParser) {
  char command[500];
  ASSERT_TRUE(BuildCleanupCommand("C:\\Windows\\Temp\\Kelvra-01\\KelvraCleanup.exe", 9,
                                  "C:\\Program Files\\Kelvra\\", "C:\\Windows\\Temp\\Kelvra-01", command,
                                  sizeof(command)));
  EXPECT_STREQ(command,
               "/d /v:off /c start \"\" /wait \"C:\\Windows\\Temp\\Kelvra-01\\KelvraCleanup.exe\" /CLEANUP 9"
               " \"C:\\Program Files\\Kelvra\" & rd /s /q \"C:\\Windows\\Temp\\Kelvra-01\"");

  const char *directories[] = {"C:\\Program Files\\Kelvra\\", "C:\\", "D:\\a & b\\(x)!\\",
                               "C:\\\xD0\x96\xE6\xB8\xAC\\"};
  for (const char *directory : directories) {
    ASSERT_TRUE(
        BuildCleanupCommand("C:\\T\\h.exe", 4000000000u, directory, "C:\\T", command, sizeof(command)));
    // What the helper receives: everything after its quoted path, up to the "&" that follows the directory.
    std::string arguments = strstr(command, "/CLEANUP");
    arguments = arguments.substr(0, arguments.rfind(" & rd"));
    const Command parsed = ParseCommandLine(arguments.c_str());
    ASSERT_EQ(parsed.kind, COMMAND_CLEANUP) << arguments;
    EXPECT_EQ(parsed.waitProcessId, 4000000000u);
    EXPECT_STREQ(parsed.directory, directory);
  }
}

TEST(BuildCleanupCommand, RefusesWhatTheInterpreterWouldMisread) {
  char command[400];
  struct Case {
    const char *helper, *directory, *helperDirectory;
    size_t size;
  } cases[] = {
      {"C:\\T\\h.exe", "C:\\100%PATH%\\", "C:\\T", sizeof(command)},
      {"C:\\%TEMP%\\h.exe", "C:\\K\\", "C:\\T", sizeof(command)},
      {"C:\\T\\h.exe", "C:\\K\\", "C:\\%TEMP%", sizeof(command)},
      {"C:\\T\\h.exe", "C:\\a\"b\\", "C:\\T", sizeof(command)},
      {"", "C:\\K\\", "C:\\T", sizeof(command)},
      {"C:\\T\\h.exe", "", "C:\\T", sizeof(command)},
      {"C:\\T\\h.exe", "C:\\K\\", "", sizeof(command)},
      {"C:\\T\\h.exe", "C:\\K\\", "C:\\T", 40},  // does not fit
  };
  for (const Case &c : cases) {
    memset(command, 'x', sizeof(command));
    EXPECT_FALSE(BuildCleanupCommand(c.helper, 1, c.directory, c.helperDirectory, command, c.size))
        << c.helper << " " << c.directory << " " << c.helperDirectory;
    EXPECT_STREQ(command, "");
  }
}

}  // namespace
