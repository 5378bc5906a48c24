// The path builders the setup and the installed program share: bounds, the
// argument order of JoinPath, and the one rule for the backslash after a
// drive; the trust decisions on the paths they meet, and the restart-time
// moves both take back.
#include "paths.h"
#include "pending.h"
#include "trust.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(JoinPath, FillsTheBufferExactlyAndNeverBeyond) {
  char out[16];
  EXPECT_TRUE(JoinPath(out, sizeof(out), "C:\\K\\", "README.TXT"));
  EXPECT_STREQ(out, "C:\\K\\README.TXT");  // 15 characters and the NUL: exactly full
  EXPECT_FALSE(JoinPath(out, sizeof(out), "C:\\K\\", "LICENSE.TXT"));
  EXPECT_STREQ(out, "");
  EXPECT_TRUE(JoinPath(out, sizeof(out), "C:", "\\", "K", ".lnk"));
  EXPECT_STREQ(out, "C:\\K.lnk");
  strcpy(out, "C:\\K\\");
  EXPECT_TRUE(JoinPath(out, sizeof(out), out, "X"));  // the directory may be the output
  EXPECT_STREQ(out, "C:\\K\\X");
  EXPECT_FALSE(JoinPath(out, 0, "a", ""));  // no room even for the NUL: nothing written
}

// "X:" is drive-relative and "X:\" the root: neither function turns one into the other.
TEST(TrailingBackslash, KeepsDrivesAndRootsAsTheyAre) {
  struct Case {
    const char *path, *added, *removed;
  } cases[] = {
      {"", "", ""},
      {"C:", "C:", "C:"},
      {"C:\\", "C:\\", "C:\\"},
      {"\\", "\\", "\\"},
      {"C:\\K", "C:\\K\\", "C:\\K"},
      {"C:\\K\\", "C:\\K\\", "C:\\K"},
      {"K\\\\", "K\\\\", "K\\"},  // one at a time
      {"\\\\server\\share\\", "\\\\server\\share\\", "\\\\server\\share"},
      {"C:\\Program Files\\Kelvra", "C:\\Program Files\\Kelvra\\", "C:\\Program Files\\Kelvra"},
  };
  for (const Case &c : cases) {
    char path[32];
    strcpy(path, c.path);
    EXPECT_EQ(AddTrailingBackslash(path, sizeof(path)), path) << c.path;
    EXPECT_STREQ(path, c.added);
    strcpy(path, c.path);
    RemoveTrailingBackslash(path);
    EXPECT_STREQ(path, c.removed) << c.path;
  }
}

TEST(AddTrailingBackslash, LeavesAFullBufferUntouched) {
  char path[8] = "C:\\Kelv";  // no room for the backslash and the NUL
  EXPECT_EQ(AddTrailingBackslash(path, sizeof(path)), nullptr);
  EXPECT_STREQ(path, "C:\\Kelv");
  char roomy[8] = "C:\\Kel";
  EXPECT_STREQ(AddTrailingBackslash(roomy, sizeof(roomy)), "C:\\Kel\\");
}

TEST(DirectoryOfPath, KeepsTheFinalBackslashOrTheDrive) {
  struct Case {
    const char *path;
    size_t size;
    const char *expected;  // nullptr: refused, out empty
  } cases[] = {
      {"C:\\K\\KELVRA.EXE", 16, "C:\\K\\"},
      {"C:\\KELVRA.EXE", 16, "C:\\"},
      {"C:KELVRA.EXE", 16, "C:"},  // the drive-relative command of a setup given "C:\"
      {"KELVRA.EXE", 16, nullptr},
      {"", 16, nullptr},
      {"C:\\a-long-directory\\KELVRA.EXE", 16, nullptr},
      {"C:\\abc\\x", 7, nullptr},  // "C:\abc\" and its NUL need 8
      {"C:\\abc\\x", 8, "C:\\abc\\"},
  };
  for (const Case &c : cases) {
    char out[32];
    memset(out, 'x', sizeof(out));
    EXPECT_EQ(DirectoryOfPath(c.path, out, c.size), c.expected != nullptr) << c.path;
    EXPECT_STREQ(out, c.expected ? c.expected : "") << c.path;
  }
}

// Which running programs the setup waits for: those started from the destination.
TEST(PathIsInside, MatchesTheFolderPrefixWithoutCase) {
  struct Case {
    const char *path, *directory;
    bool inside;
  } cases[] = {
      {"C:\\Program Files\\Kelvra\\KELVRA.EXE", "c:\\program files\\kelvra\\", true},
      {"C:\\Program Files\\Kelvra\\sub\\x.exe", "C:\\Program Files\\Kelvra\\", true},
      {"C:\\Program Files\\Kelvra", "C:\\Program Files\\Kelvra\\", false},  // the folder itself
      {"C:\\Program Files\\Kelvra2\\KELVRA.EXE", "C:\\Program Files\\Kelvra\\", false},
      {"C:\\Program Files\\Kelvra\\KELVRA.EXE", "C:\\Program Files\\Kelvra", false},  // no final '\'
      {"C:\\KELVRA.EXE", "", false},
  };
  for (const Case &c : cases) EXPECT_EQ(PathIsInside(c.path, c.directory), c.inside) << c.path;
}

// ---- The restart-time moves the setup and the uninstaller take back ------

// The restart-time operations a new install or an uninstall takes back:
// those that would delete, move away or overwrite one of its files; nobody
// else's, and not the uninstaller's own deletion of its renamed image.
TEST(DropPendingOperations, TakesBackOnlyWhatNamesOurFiles) {
  const char16_t *files[] = {u"C:\\K\\KELVRA.EXE", u"C:\\K\\README.TXT"};
  struct Pair {
    std::u16string source, target;
    bool dropped, orphan;
  } pairs[] = {
      {u"\\??\\C:\\K\\~kx1.tmp", u"!\\??\\C:\\K\\KELVRA.EXE", true, true},  // an earlier setup's staged file
      {u"\\??\\C:\\K\\KELVRA.EXE", u"", true, false},                       // an uninstall's deletion
      {u"\\??\\C:\\K\\README.TXT", u"!\\??\\C:\\K\\README.BAK", true, false},  // moving ours away: ours stays
      {u"\\??\\c:\\k\\readme.txt", u"", true, false},                          // case aside
      {u"\\??\\D:\\new.tmp", u"!\\??\\C:\\K\\README.TXT", true, false},  // from elsewhere: not ours to delete
      {u"\\??\\C:\\K\\Kelvra-0123456789abcdef.old", u"", false, false},  // the uninstaller's renamed image
      {u"\\??\\C:\\K", u"", false, false},                               // the folder: fails while not empty
      {u"\\??\\C:\\Other\\a.dll", u"!\\??\\C:\\Other\\b.dll", false, false},
      {u"\\??\\C:\\K\\KELVRA.EXE.bak", u"", false, false},
  };
  std::u16string list, kept;
  std::vector<std::u16string> expected;
  for (const Pair &p : pairs) {
    std::u16string pair = p.source + u'\0' + p.target + u'\0';
    list += pair;
    if (!p.dropped) kept += pair;
    if (p.dropped)
      expected.push_back(p.source.substr(p.source[0] == u'!' ? 5 : 4) + u"|" +
                         p.target.substr(p.target.empty() ? 0 : 5) + (p.orphan ? u"|orphan" : u""));
  }
  list += u'\0';
  kept += u'\0';
  std::vector<std::u16string> seen;
  auto note = [](const char16_t *source, const char16_t *target, bool orphan, void *context) {
    static_cast<std::vector<std::u16string> *>(context)->push_back(std::u16string(source) + u"|" + target +
                                                                   (orphan ? u"|orphan" : u""));
  };
  std::size_t length = DropPendingOperations(&list[0], list.size(), u"C:\\K\\", files, 2, note, &seen);
  EXPECT_EQ(list.substr(0, length), kept);
  EXPECT_EQ(seen, expected);

  // All ours: nothing left. Cut short after a source: the tail stays as it was.
  std::u16string ours = u"\\??\\C:\\K\\KELVRA.EXE" + std::u16string(1, u'\0') + u'\0' + u'\0';
  EXPECT_EQ(DropPendingOperations(&ours[0], ours.size(), u"C:\\K\\", files, 2, nullptr, nullptr), 0u);
  std::u16string cut = u"\\??\\C:\\K\\KELVRA.EXE";
  EXPECT_EQ(DropPendingOperations(&cut[0], cut.size(), u"C:\\K\\", files, 2, nullptr, nullptr), cut.size());
  EXPECT_EQ(cut, u"\\??\\C:\\K\\KELVRA.EXE");
}

}  // namespace

// ---- Trust: the setup mutex and an existing log --------------------------

// The mutex counts as a running setup only when an administrator or the
// system made it; a standard user who made it first blocks nothing.
TEST(JudgeSetupGuard, CountsOnlyAnAdministratorsMutex) {
  constexpr std::uint32_t Exists = GuardErrorAlreadyExists, Denied = GuardErrorAccessDenied, Other = 1450;
  const struct {
    bool haveHandle;
    std::uint32_t error;
    OwnerKind owner;
    GuardVerdict verdict;
  } cases[] = {
      {true, 0, OwnerKind::Unknown, GuardVerdict::Ours},
      {true, Exists, OwnerKind::Administrators, GuardVerdict::AnotherSetup},
      {true, Exists, OwnerKind::System, GuardVerdict::AnotherSetup},
      {true, Exists, OwnerKind::Other, GuardVerdict::Squatted},
      {true, Exists, OwnerKind::RunningAccount, GuardVerdict::Squatted},  // an unelevated process of ours
      {true, Exists, OwnerKind::Unknown, GuardVerdict::Squatted},
      {false, Denied, OwnerKind::System, GuardVerdict::AnotherSetup},  // a deployment service's
      {false, Denied, OwnerKind::Unknown, GuardVerdict::Squatted},     // one that hides its owner
      {false, Other, OwnerKind::Unknown, GuardVerdict::NoGuard},
  };
  for (const auto &c : cases)
    EXPECT_EQ(JudgeSetupGuard(c.haveHandle, c.error, c.owner), c.verdict)
        << c.haveHandle << " " << c.error << " " << static_cast<int>(c.owner);
}

TEST(JudgeLogFile, RefusesLinksAndElevatedWritesToAStrangersFile) {
  const struct {
    bool link, existed;
    OwnerKind owner;
    bool elevated;
    LogVerdict verdict;
  } cases[] = {
      {false, false, OwnerKind::Unknown, true, LogVerdict::Append},  // made just now
      {false, true, OwnerKind::Administrators, true, LogVerdict::Append},
      {false, true, OwnerKind::System, true, LogVerdict::Append},
      {false, true, OwnerKind::RunningAccount, true, LogVerdict::Append},
      {false, true, OwnerKind::Other, true, LogVerdict::RefuseOwner},
      {false, true, OwnerKind::Unknown, true, LogVerdict::RefuseOwner},
      {false, true, OwnerKind::Other, false, LogVerdict::Append},  // no rights to lend
      {true, true, OwnerKind::Administrators, true, LogVerdict::RefuseLink},
      {true, true, OwnerKind::RunningAccount, false, LogVerdict::RefuseLink},
  };
  for (const auto &c : cases)
    EXPECT_EQ(JudgeLogFile(c.link, c.existed, c.owner, c.elevated), c.verdict)
        << c.link << c.existed << static_cast<int>(c.owner) << c.elevated;
}

// Every folder on the way to a log gets its link check, however the path
// separates them.
TEST(EndsFolderName, FindsEveryFolderOnTheWayToALog) {
  const struct {
    const char *path, *folders;  // the folders checked, '|' after each
  } cases[] = {
      {"C:\\Windows\\Temp\\j\\x.log", "C:\\Windows|C:\\Windows\\Temp|C:\\Windows\\Temp\\j|"},
      {"C:/Windows/Temp/j/x.log", "C:/Windows|C:/Windows/Temp|C:/Windows/Temp/j|"},
      {"C:\\Windows/Temp\\x.log", "C:\\Windows|C:\\Windows/Temp|"},
      {"\\\\server\\share\\x.log", "\\\\server|\\\\server\\share|"},
      {"//server/share/x.log", "//server|//server/share|"},
      {"C:\\j\\\\x.log", "C:\\j|"},  // a doubled separator is one
      {"j/x.log", "j|"},             // relative
      {"C:x.log", ""},
  };
  for (const auto &c : cases) {
    std::string folders;
    for (std::size_t at = 0; c.path[at]; at++)
      if (EndsFolderName(c.path, at)) folders += std::string(c.path, at) + "|";
    EXPECT_EQ(folders, c.folders) << c.path;
  }
}
