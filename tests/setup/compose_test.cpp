// The setup's pure decisions: default destination, length refusals, the
// composed paths and commands, the failure messages and the palette taken
// from a packed bitmap.
#include "compose.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(MakeDefaultDestination, KeepsTheFirstTwoCharactersOfTheWindowsDirectory) {
  struct Case {
    const char *windowsDir;
    const char *expected;
  } cases[] = {
      {"C:\\WINDOWS", "C:\\Program Files\\Kelvra"},
      {"D:\\Windows", "D:\\Program Files\\Kelvra"},
      {"\\\\server\\share\\windows", "\\\\\\Program Files\\Kelvra"},
      {"E:", "E:\\Program Files\\Kelvra"},
      {"", "C:\\Program Files\\Kelvra"},  // the system did not tell
      {"X", "C:\\Program Files\\Kelvra"},
  };
  for (const Case &c : cases) {
    char out[PathCapacity];
    std::memset(out, 0x55, sizeof out);
    MakeDefaultDestination(c.windowsDir, out);
    EXPECT_STREQ(c.expected, out) << "windows directory " << c.windowsDir;
  }
}

TEST(PrepareWorkingPath, RefusesTooShortAndStripsOneBackslash) {
  struct Case {
    const char *text;
    DestinationCheck check;
    const char *working;
  } cases[] = {
      {"", DestinationCheck::TooShort, nullptr},
      {"C:", DestinationCheck::TooShort, nullptr},
      {"C:\\", DestinationCheck::Ok, "C:"},
      {"C:\\Apps", DestinationCheck::Ok, "C:\\Apps"},
      {"C:\\Apps\\", DestinationCheck::Ok, "C:\\Apps"},
      {"C:\\Apps\\\\", DestinationCheck::Ok, "C:\\Apps\\"},
      {" C:\\My Apps ", DestinationCheck::Ok, " C:\\My Apps "},
  };
  for (const Case &c : cases) {
    char working[PathCapacity] = "untouched";
    EXPECT_EQ(c.check, PrepareWorkingPath(c.text, working)) << c.text;
    if (c.working != nullptr) {
      EXPECT_STREQ(c.working, working);
    }
  }
}

// The longest accepted destination still yields a quoted program command
// of at most 259 characters; one more character is refused.
TEST(PrepareWorkingPath, RefusesADestinationWhoseCommandWouldNotFit) {
  std::string longest = "C:\\" + std::string(243, 'a');  // 246 characters
  char working[PathCapacity];
  ASSERT_EQ(DestinationCheck::Ok, PrepareWorkingPath(longest.c_str(), working));
  ASSERT_TRUE(JoinPath(working, sizeof working, working, "\\"));
  char command[PathCapacity];
  ASSERT_TRUE(BuildProgramCommand(working, command, sizeof command));
  EXPECT_EQ(259u, std::strlen(command));

  EXPECT_EQ(DestinationCheck::Ok, PrepareWorkingPath((longest + "\\").c_str(), working));
  EXPECT_EQ(DestinationCheck::TooLong, PrepareWorkingPath((longest + "b").c_str(), working));
  std::string box(259, 'x');  // the most the destination box hands over
  EXPECT_EQ(DestinationCheck::TooLong, PrepareWorkingPath(box.c_str(), working));
}

TEST(BuildProgramCommand, QuotesThePathSoSpacesCannotSplitIt) {
  char command[PathCapacity];
  ASSERT_TRUE(BuildProgramCommand("C:\\Program Files\\Kelvra\\", command, sizeof command));
  EXPECT_STREQ("\"C:\\Program Files\\Kelvra\\KELVRA.EXE\"", command);
  ASSERT_TRUE(BuildUninstallCommand("C:\\Program Files\\Kelvra\\", command, sizeof command));
  EXPECT_STREQ("\"C:\\Program Files\\Kelvra\\KELVRA.EXE\" /UNINSTALL", command);
  ASSERT_TRUE(BuildUninstallCommand("C:", command, sizeof command));
  EXPECT_STREQ("\"C:KELVRA.EXE\" /UNINSTALL", command);
}

TEST(KilobytesFor, RoundsUp) {
  EXPECT_EQ(0u, KilobytesFor(0));
  EXPECT_EQ(1u, KilobytesFor(1));
  EXPECT_EQ(1u, KilobytesFor(1024));
  EXPECT_EQ(2u, KilobytesFor(1025));
  EXPECT_EQ(0xFFFFFFFFu, KilobytesFor(std::uint64_t{1} << 50));
}

TEST(BuildQuietUninstallCommand, QuotesTheProgramAndAddsBothSwitches) {
  char out[PathCapacity + 32];
  ASSERT_TRUE(BuildQuietUninstallCommand("C:\\Program Files\\Kelvra\\", out, sizeof out));
  EXPECT_STREQ("\"C:\\Program Files\\Kelvra\\KELVRA.EXE\" /UNINSTALL /S", out);
  EXPECT_FALSE(BuildQuietUninstallCommand("C:\\Program Files\\Kelvra\\", out, 40));
}

TEST(CopyInstallLocation, DropsTheFinalBackslashButNotADrivesRoot) {
  struct Case {
    const char *directory;
    const char *expected;
  } cases[] = {
      {"C:\\Program Files\\Kelvra\\", "C:\\Program Files\\Kelvra"},
      {"C:\\Kelvra", "C:\\Kelvra"},
      {"C:\\", "C:\\"},
      {"\\\\server\\share\\", "\\\\server\\share"},
  };
  for (const Case &c : cases) {
    char out[PathCapacity];
    ASSERT_TRUE(CopyInstallLocation(c.directory, out, sizeof out));
    EXPECT_STREQ(c.expected, out);
  }
  char small[10];  // "C:\\Kelvra" and its NUL, exactly
  EXPECT_FALSE(CopyInstallLocation("C:\\Kelvra\\", small, sizeof small - 1));
  ASSERT_TRUE(CopyInstallLocation("C:\\Kelvra\\", small, sizeof small));
  EXPECT_STREQ("C:\\Kelvra", small);
}

TEST(BuildProgramCommand, FailsCleanlyWhenTheBufferIsTooSmall) {
  char command[16];
  EXPECT_FALSE(BuildProgramCommand("C:\\Kelvra\\", command, sizeof command));
  EXPECT_STREQ("", command);
  char exact[24];  // 22 characters and the NUL
  EXPECT_TRUE(BuildProgramCommand("C:\\Kelvra\\", exact, 23));
  EXPECT_STREQ("\"C:\\Kelvra\\KELVRA.EXE\"", exact);
  EXPECT_FALSE(BuildProgramCommand("C:\\Kelvra\\", exact, 22));
}

TEST(ComposeShortcutPaths, BuildsLinkAndTarget) {
  char link[PathCapacity], target[PathCapacity];
  const char *programs = "C:\\Users\\u\\Start Menu\\Programs\\Kelvra";
  ASSERT_TRUE(ComposeShortcutPaths(programs, "C:\\Program Files\\Kelvra\\", "KELVRA.HLP", "Kelvra Help", link,
                                   target));
  EXPECT_STREQ("C:\\Users\\u\\Start Menu\\Programs\\Kelvra\\Kelvra Help.lnk", link);
  EXPECT_STREQ("C:\\Program Files\\Kelvra\\KELVRA.HLP", target);

  ASSERT_TRUE(ComposeShortcutPaths(programs, "D:\\Apps", "KELVRA.EXE", "Kelvra", link, target));
  EXPECT_STREQ("D:\\Apps\\KELVRA.EXE", target);
}

TEST(ComposeShortcutPaths, SkipsAnUnknownFolderOrAPathThatWouldNotFit) {
  char link[PathCapacity], target[PathCapacity];
  EXPECT_FALSE(ComposeShortcutPaths("", "C:\\Kelvra\\", "KELVRA.EXE", "Kelvra", link, target));
  EXPECT_STREQ("", link);  // never "\Kelvra.lnk" in the root of a drive

  std::string deepFolder = "C:\\" + std::string(250, 'p');
  EXPECT_FALSE(
      ComposeShortcutPaths(deepFolder.c_str(), "C:\\Kelvra\\", "KELVRA.HLP", "Kelvra Help", link, target));
  std::string deepTarget = "C:\\" + std::string(250, 't') + "\\";
  EXPECT_FALSE(
      ComposeShortcutPaths("C:\\P\\Kelvra", deepTarget.c_str(), "KELVRA.HLP", "Kelvra Help", link, target));
  EXPECT_STREQ("", link);
}

TEST(ExtractFailureMessage, GroupsCodesIntoThreeMessages) {
  for (std::uint32_t low = 1; low <= 9; low++)
    EXPECT_STREQ(ReadFailureText, ExtractFailureMessage(0xE0000000u | low)) << low;
  EXPECT_STREQ(WriteFailureText, ExtractFailureMessage(0xE000000Au));
  EXPECT_STREQ(WriteFailureText, ExtractFailureMessage(0xE000000Bu));
  for (std::uint32_t low = 12; low <= 15; low++)
    EXPECT_STREQ(InternalFailureText, ExtractFailureMessage(0xE0000000u | low)) << low;
  // Results from outside the table: a platform fault, a stray small value.
  EXPECT_STREQ(InternalFailureText, ExtractFailureMessage(0xC0000005u));
  EXPECT_STREQ(InternalFailureText, ExtractFailureMessage(5u));
  EXPECT_STREQ(InternalFailureText, ExtractFailureMessage(0xE0000011u));
  EXPECT_STREQ(InUseText, ExtractFailureMessage(0xE0000010u));  // never the full-disk words
}

// A packed bitmap: 40-byte header, then count colour-table entries.
std::vector<unsigned char> PackedBitmap(unsigned bitCount, unsigned clrUsed, unsigned tableEntries) {
  std::vector<unsigned char> bitmap(40 + 4 * tableEntries, 0);
  bitmap[0] = 40;  // biSize
  bitmap[12] = 1;  // biPlanes
  bitmap[14] = static_cast<unsigned char>(bitCount);
  bitmap[32] = clrUsed & 0xFF;  // biClrUsed
  bitmap[33] = (clrUsed >> 8) & 0xFF;
  for (unsigned i = 0; i < tableEntries; i++) {
    bitmap[40 + 4 * i + 0] = static_cast<unsigned char>(i);      // blue
    bitmap[40 + 4 * i + 1] = static_cast<unsigned char>(i + 1);  // green
    bitmap[40 + 4 * i + 2] = static_cast<unsigned char>(i + 2);  // red
    bitmap[40 + 4 * i + 3] = 0xAA;                               // reserved
  }
  return bitmap;
}

TEST(PictureColourCount, FollowsBitDepthUnlessColoursUsedIsSet) {
  struct Case {
    unsigned bitCount, clrUsed, count;
    std::size_t pixelOffset;
  } cases[] = {
      {8, 0, 256, 40 + 1024}, {4, 0, 16, 40 + 64}, {1, 0, 2, 40 + 8}, {8, 100, 100, 40 + 400}, {24, 0, 0, 40},
  };
  for (const Case &c : cases) {
    std::vector<unsigned char> bitmap = PackedBitmap(c.bitCount, c.clrUsed, 0);
    EXPECT_EQ(c.count, PictureColourCount(bitmap.data())) << c.bitCount << "/" << c.clrUsed;
    EXPECT_EQ(c.pixelOffset, PicturePixelOffset(bitmap.data()));
  }
}

TEST(FillPaletteEntries, SwapsRedAndBlueAndClearsFlags) {
  std::vector<unsigned char> bitmap = PackedBitmap(8, 0, 256);
  bitmap[40 + 0] = 0x10;  // blue
  bitmap[40 + 1] = 0x20;  // green
  bitmap[40 + 2] = 0x30;  // red
  bitmap[40 + 3] = 0x00;  // reserved
  std::vector<unsigned char> entries(4 * 256, 0xEE);
  FillPaletteEntries(bitmap.data(), 256, entries.data());
  EXPECT_EQ(0x30, entries[0]);            // peRed
  EXPECT_EQ(0x20, entries[1]);            // peGreen
  EXPECT_EQ(0x10, entries[2]);            // peBlue
  EXPECT_EQ(0x00, entries[3]);            // peFlags
  EXPECT_EQ(0x01, entries[4 * 255 + 0]);  // red of the last entry: (255 + 2) mod 256
  EXPECT_EQ(0, entries[4 * 255 + 1]);
  EXPECT_EQ(255, entries[4 * 255 + 2]);
  EXPECT_EQ(0, entries[4 * 255 + 3]);  // the reserved 0xAA never leaks into flags
}

}  // namespace
