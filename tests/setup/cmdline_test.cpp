// The setup's command line as launchers, package managers and people type
// it, and the decisions and full-path rule of the unattended mode.
#include "cmdline.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct LineCase {
  const char *line;  // as the process receives it, program name first
  bool silent, help, malformed;
  const char *destination;  // nullptr: no /D=
  const char *logFile;
  StartDecision decision;
};

constexpr StartDecision Dialog = StartDecision::RunDialog;
constexpr StartDecision Silent = StartDecision::RunSilent;
constexpr StartDecision Usage = StartDecision::ShowUsage;
constexpr StartDecision Exit87 = StartDecision::ExitAtOnce;

const LineCase LineCases[] = {
    // Nothing, or only blanks: the setup as it always was.
    {"KelvraSetup.exe", false, false, false, nullptr, "", Dialog},
    {"\"C:\\Down loads\\KelvraSetup.exe\"   \t", false, false, false, nullptr, "", Dialog},
    {"\"C:\\Down loads\\KelvraSetup.exe\"/S", true, false, false, nullptr, "", Silent},
    // Either prefix, any case, quoted or not.
    {"setup /S", true, false, false, nullptr, "", Silent},
    {"setup -s", true, false, false, nullptr, "", Silent},
    {"setup \"/S\"", true, false, false, nullptr, "", Silent},
    {"setup /s /S", true, false, false, nullptr, "", Silent},
    // The destination: the rest of the line, in the forms launchers quote it.
    {"setup /S /D=C:\\Program Files\\Kelvra", true, false, false, "C:\\Program Files\\Kelvra", "", Silent},
    {"setup /S /D=C:\\Program Files\\Kelvra  ", true, false, false, "C:\\Program Files\\Kelvra", "", Silent},
    {"setup /S \"/D=C:\\Program Files\\Kelvra\"", true, false, false, "C:\\Program Files\\Kelvra", "",
     Silent},
    {"setup /S /D=\"C:\\Program Files\\Kelvra\" ", true, false, false, "C:\\Program Files\\Kelvra", "",
     Silent},
    {"setup -S -d=D:\\Apps\\", true, false, false, "D:\\Apps\\", "", Silent},
    {"setup /D=C:\\Kelvra", false, false, false, "C:\\Kelvra", "", Dialog},
    {"setup /D=C:\\a /S", false, false, false, "C:\\a /S", "", Dialog},  // /D= must come last
    {"setup /D=\\\\server\\share\\Kelvra", false, false, false, "\\\\server\\share\\Kelvra", "", Dialog},
    // The log: one word, or quoted with spaces.
    {"setup /S /LOG=C:\\k.log /D=C:\\K", true, false, false, "C:\\K", "C:\\k.log", Silent},
    {"setup /log=\"C:\\My Logs\\k.log\" /s", true, false, false, nullptr, "C:\\My Logs\\k.log", Silent},
    {"setup \"-LOG=C:\\My Logs\\k.log\" -S", true, false, false, nullptr, "C:\\My Logs\\k.log", Silent},
    // Help.
    {"setup /?", false, true, false, nullptr, "", Usage},
    {"setup -?", false, true, false, nullptr, "", Usage},
    {"setup /S /?", true, true, false, nullptr, "", Exit87},
    // Unknown or malformed: the usage box, or in silent mode exit 87 at once,
    // wherever the /S stands.
    {"setup /X", false, false, true, nullptr, "", Usage},
    {"setup /SILENT", false, false, true, nullptr, "", Usage},
    {"setup S", false, false, true, nullptr, "", Usage},
    {"setup /", false, false, true, nullptr, "", Usage},
    {"setup /S /X", true, false, true, nullptr, "", Exit87},
    {"setup /X /S", true, false, true, nullptr, "", Exit87},
    {"setup /X \"-s\"", true, false, true, nullptr, "", Exit87},
    {"setup /S /D=", true, false, true, "", "", Exit87},
    {"setup /S /D=\"\"", true, false, true, "", "", Exit87},
    {"setup /S /D=\"C:\\Kelvra", true, false, true, "", "", Exit87},  // no closing quote
    {"setup /S \"/D=C:\\Kelvra", true, false, true, "", "", Exit87},
    {"setup /D=\"C:\\Kelvra\" /S", true, false, true, "", "", Exit87},  // after a quoted /D=
    {"setup /S /D=\"C:\\Kel\"vra", true, false, true, "", "", Exit87},
    {"setup /S /D=C:\\Kel\"vra", true, false, true, "", "", Exit87},
    {"setup /S /LOG=", true, false, true, nullptr, "", Exit87},
    {"setup /S /LOG=a.log /LOG=b.log", true, false, true, nullptr, "a.log", Exit87},
    {"setup /S /LOG=\"a.log\"x", true, false, true, nullptr, "", Exit87},
    {"setup \"/S", true, false, true, nullptr, "", Exit87},
    {"setup /Sx \"/S\"x", false, false, true, nullptr, "", Usage},
};

TEST(ParseSetupCommandLine, ReadsEachLineOfTheTable) {
  for (const LineCase &c : LineCases) {
    SetupOptions options;
    std::memset(&options, 0x55, sizeof options);  // every field must be set
    ParseSetupCommandLine(c.line, &options);
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.silent, options.silent);
    EXPECT_EQ(c.help, options.help);
    EXPECT_EQ(c.malformed, options.malformed);
    EXPECT_EQ(c.destination != nullptr, options.haveDestination);
    if (c.destination && !c.malformed) {
      EXPECT_STREQ(c.destination, options.destination);
    }
    EXPECT_STREQ(c.logFile, options.logFile);
    EXPECT_EQ(c.decision, DecideStart(options));
  }
}

TEST(ParseSetupCommandLine, CutsAnOverlongDestinationSoThatTheInstallRefusesIt) {
  std::string path = "C:\\" + std::string(400, 'k');
  SetupOptions options;
  ParseSetupCommandLine(("setup /S /D=" + path).c_str(), &options);
  ASSERT_FALSE(options.malformed);
  EXPECT_EQ(PathCapacity - 1, std::strlen(options.destination));
  char working[PathCapacity];
  EXPECT_EQ(DestinationCheck::TooLong, PrepareWorkingPath(options.destination, working));
}

TEST(ParseSetupCommandLine, RefusesAnOverlongLogRatherThanWritingAnotherFile) {
  SetupOptions options;
  ParseSetupCommandLine(("setup /S /LOG=C:\\" + std::string(300, 'l')).c_str(), &options);
  EXPECT_TRUE(options.malformed);
  EXPECT_STREQ("", options.logFile);
}

TEST(UsageExitCode, IsZeroForHelpAnd87ForABadLine) {
  SetupOptions options;
  ParseSetupCommandLine("setup /?", &options);
  EXPECT_EQ(0, UsageExitCode(options));
  ParseSetupCommandLine("setup /? /X", &options);
  EXPECT_EQ(87, UsageExitCode(options));
}

TEST(ExitCodeName, NamesTheCodesForTheLog) {
  EXPECT_STREQ("install failed", ExitCodeName(1603));
  EXPECT_STREQ("unknown", ExitCodeName(1));
}

TEST(FullPathRootLength, KnowsDrivesAndSharesAndRefusesTheRest) {
  struct Case {
    const char *path;
    std::size_t root;
  } cases[] = {
      {"C:\\Program Files\\Kelvra", 3},
      {"z:\\", 3},
      {"\\\\server\\share\\Kelvra\\x", 15},
      {"\\\\server\\share", 14},
      {"C:Kelvra", 0},  // relative to the drive's current directory
      {"C:", 0},
      {"Kelvra\\x", 0},  // relative
      {"\\Kelvra", 0},   // relative to the current drive
      {"1:\\Kelvra", 0},
      {"\\\\server", 0},
      {"\\\\\\share\\x", 0},
      {"\\\\server\\\\x", 0},
      {"\\\\?\\C:\\Kelvra", 0},
      {"\\\\.\\C:\\Kelvra", 0},
      {"", 0},
  };
  for (const Case &c : cases) EXPECT_EQ(c.root, FullPathRootLength(c.path)) << c.path;
}

}  // namespace
