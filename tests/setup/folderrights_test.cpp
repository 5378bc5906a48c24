// The install folder's rules: descriptors as stored, owners and access
// lists judged, and the descriptor the setup gives a folder it creates.
#include "folderrights.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

constexpr const char *Self = "S-1-5-21-1004336348-1177238915-682003330-1001";
constexpr const char *OtherUser = "S-1-5-21-1004336348-1177238915-682003330-1002";
constexpr const char *Admins = "S-1-5-32-544";
constexpr const char *Users = "S-1-5-32-545";
constexpr const char *AuthenticatedUsers = "S-1-5-11";
constexpr const char *Everyone = "S-1-1-0";
constexpr std::uint8_t OICI = AceObjectInherit | AceContainerInherit;
constexpr std::uint8_t OICIIO = OICI | AceInheritOnly;

// The descriptor the setup creates folders with, written out by hand.
const std::uint8_t SetupFolderBytes[FolderDescriptorSize] = {
    1,  0, 0x04, 0x90,  // revision, spare, control: self-relative, protected list, list present
    20, 0, 0,    0,    0,    0, 0,    0,                              // owner at 20, no group
    0,  0, 0,    0,    36,   0, 0,    0,                              // no system list, access list at 36
    1,  2, 0,    0,    0,    0, 0,    5,                              // owner S-1-5-32-544
    32, 0, 0,    0,    0x20, 2, 0,    0,                              //
    2,  0, 76,   0,    3,    0, 0,    0,                              // list revision 2, 76 bytes, 3 entries
    0,  3, 20,   0,    0xFF, 1, 0x1F, 0,                              // allow, OI|CI, full control
    1,  1, 0,    0,    0,    0, 0,    5, 18, 0, 0, 0,                 //   S-1-5-18
    0,  3, 24,   0,    0xFF, 1, 0x1F, 0,                              // allow, OI|CI, full control
    1,  2, 0,    0,    0,    0, 0,    5, 32, 0, 0, 0, 0x20, 2, 0, 0,  //   S-1-5-32-544
    0,  3, 24,   0,    0xA9, 0, 0x12, 0,                              // allow, OI|CI, read and execute
    1,  2, 0,    0,    0,    0, 0,    5, 32, 0, 0, 0, 0x21, 2, 0, 0,  //   S-1-5-32-545
};

TEST(ReadSidText, SpellsSidsAsTheSystemDoes) {
  struct Case {
    std::vector<std::uint8_t> sid;
    const char *expected;  // nullptr: refused
  } cases[] = {
      {{1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0}, "S-1-5-18"},
      {{1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}, "S-1-1-0"},
      {{1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 2, 0, 0}, "S-1-5-32-545"},
      {{1, 2, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}, "S-1-5-21-4294967295"},
      {{1, 0, 0, 0, 1, 0, 0, 0}, "S-1-16777216"},
      {{1, 0, 0, 1, 0, 0, 0, 0}, "S-1-0x000100000000"},              // authority beyond 32 bits
      {{2, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0}, nullptr},              // revision 2
      {{1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0}, nullptr},  // one byte short
      {{1, 16, 0, 0, 0, 0, 0, 5}, nullptr},                          // 16 sub-authorities
  };
  for (const Case &c : cases) {
    char text[SidTextCapacity] = "unchanged";
    bool ok = ReadSidText(c.sid.data(), c.sid.size(), text);
    EXPECT_EQ(c.expected != nullptr, ok) << (c.expected ? c.expected : "malformed");
    if (c.expected && ok) {
      EXPECT_STREQ(c.expected, text);
    }
  }
  std::vector<std::uint8_t> longest = {1, 15, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  longest.resize(8 + 60, 0xFF);
  char text[SidTextCapacity + 1];
  text[SidTextCapacity] = '#';
  ASSERT_TRUE(ReadSidText(longest.data(), longest.size(), text));
  EXPECT_EQ(SidTextCapacity - 1, std::strlen(text));
  EXPECT_EQ('#', text[SidTextCapacity]);
}

TEST(BuildFolderDescriptor, GivesAdministratorsTheFolderAndUsersReadOnly) {
  std::uint8_t built[FolderDescriptorSize + 8];
  ASSERT_EQ(FolderDescriptorSize, BuildFolderDescriptor(built, sizeof built, true));
  EXPECT_EQ(0, std::memcmp(SetupFolderBytes, built, FolderDescriptorSize));
  EXPECT_EQ(0u, BuildFolderDescriptor(built, FolderDescriptorSize - 1, true));

  static FolderSecurity security;
  ASSERT_TRUE(ReadFolderSecurity(built, FolderDescriptorSize, &security));
  EXPECT_STREQ(Admins, security.owner);
  ASSERT_EQ(3u, security.aceCount);
  EXPECT_STREQ(Users, security.aces[2].sid);
  EXPECT_EQ(0x1200A9u, security.aces[2].mask);
  EXPECT_EQ(FolderVerdict::Accepted, JudgeFolder(0x10, security, Self, FolderRole::Destination));
  EXPECT_EQ(FolderVerdict::Accepted, JudgeFolder(0x10, security, OtherUser, FolderRole::Destination));

  // Without the owner: the same list, the owner left to the creating token.
  ASSERT_EQ(FolderDescriptorSize - 16, BuildFolderDescriptor(built, sizeof built, false));
  ASSERT_TRUE(ReadFolderSecurity(built, FolderDescriptorSize - 16, &security));
  EXPECT_STREQ("", security.owner);
  EXPECT_EQ(3u, security.aceCount);
  EXPECT_EQ(0, std::memcmp(SetupFolderBytes + 36, built + 20, 76));
}

TEST(ReadFolderSecurity, RefusesEveryTruncationAndForeignLayouts) {
  static FolderSecurity security;
  for (std::size_t size = 0; size < FolderDescriptorSize; size++)
    EXPECT_FALSE(ReadFolderSecurity(SetupFolderBytes, size, &security)) << size << " bytes";
  std::uint8_t bytes[FolderDescriptorSize];
  std::memcpy(bytes, SetupFolderBytes, sizeof bytes);
  bytes[3] = 0x10;  // absolute layout: offsets would be pointers
  EXPECT_FALSE(ReadFolderSecurity(bytes, sizeof bytes, &security));
  std::memcpy(bytes, SetupFolderBytes, sizeof bytes);
  bytes[36 + 4] = MaxFolderAces + 1;  // more entries than judged
  EXPECT_FALSE(ReadFolderSecurity(bytes, sizeof bytes, &security));
  std::memcpy(bytes, SetupFolderBytes, sizeof bytes);
  bytes[36 + 8 + 2] = 200;  // an entry longer than its list
  EXPECT_FALSE(ReadFolderSecurity(bytes, sizeof bytes, &security));
  std::memcpy(bytes, SetupFolderBytes, sizeof bytes);
  bytes[2] = 0;  // no list present: everyone may do everything
  ASSERT_TRUE(ReadFolderSecurity(bytes, sizeof bytes, &security));
  EXPECT_FALSE(security.daclPresent);
  EXPECT_EQ(FolderVerdict::OpenToOthers, JudgeFolder(0x10, security, Self, FolderRole::Destination));
}

TEST(ReadFolderSecurity, FindsTheSidOfAnObjectEntryBehindItsGuids) {
  std::vector<std::uint8_t> bytes = {
      1, 0, 0x04, 0x80, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0,
      0, 0, 20,   0,    0, 0, 2, 0, 64, 0, 1, 0, 0, 0,  // list: 64 bytes, 1 entry
      5, 0, 56,   0,    2, 0, 0, 0,                     // allowed-object, write data
      3, 0, 0,    0};                                   // object flags: both GUIDs
  bytes.resize(bytes.size() + 32, 0xEE);
  bytes.insert(bytes.end(), {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0});  // S-1-1-0
  static FolderSecurity security;
  ASSERT_TRUE(ReadFolderSecurity(bytes.data(), bytes.size(), &security));
  EXPECT_STREQ(Everyone, security.aces[0].sid);
  EXPECT_STREQ("", security.owner);
  bytes[30] = 52;  // the entry ends inside its SID
  EXPECT_FALSE(ReadFolderSecurity(bytes.data(), bytes.size(), &security));
}

struct Ace {
  std::uint8_t type, flags;
  std::uint32_t mask;
  const char *sid;
};

FolderSecurity &Security(const char *owner, std::initializer_list<Ace> aces, bool daclPresent = true) {
  static FolderSecurity security;
  std::strcpy(security.owner, owner);
  security.daclPresent = daclPresent;
  security.aceCount = 0;
  for (const Ace &a : aces) {
    FolderAce &entry = security.aces[security.aceCount++];
    entry.type = a.type;
    entry.flags = a.flags;
    entry.mask = a.mask;
    std::strcpy(entry.sid, a.sid);
  }
  return security;
}

TEST(JudgeFolder, LetsOnlyAdministratorsChangeTheDestinationOrMoveItAway) {
  using V = FolderVerdict;
  const char *trustedInstaller = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
  const Ace adminsFull = {0, OICI, 0x1F01FF, Admins};
  const Ace usersRead = {0, OICI, 0x1200A9, Users};
  struct Row {
    const char *what;
    std::uint32_t attributes;
    const char *owner;
    std::initializer_list<Ace> aces;
    V destination, parent;
    bool hasList = true;
  } rows[] = {
      // One row a line, as a table reads.
      // clang-format off
      {"as the setup makes it", 0x10, Admins, {adminsFull, usersRead}, V::Accepted, V::Accepted},
      {"a junction", 0x410, Admins, {adminsFull}, V::Link, V::Accepted},
      {"owned by the running account", 0x10, Self, {adminsFull}, V::Accepted, V::Accepted},
      {"owned by TrustedInstaller", 0x10, trustedInstaller, {usersRead}, V::Accepted, V::Accepted},
      {"owned by SYSTEM", 0x10, "S-1-5-18", {usersRead}, V::Accepted, V::Accepted},
      {"owned by another user", 0x10, OtherUser, {adminsFull}, V::ForeignOwner, V::ForeignOwner},
      {"owned by Users", 0x10, Users, {adminsFull}, V::ForeignOwner, V::ForeignOwner},
      {"without an owner", 0x10, "", {adminsFull}, V::ForeignOwner, V::ForeignOwner},
      {"inherited from a drive's root", 0x10, Admins, {adminsFull, {0, OICI | 0x10, 0x1301BF, AuthenticatedUsers}}, V::OpenToOthers, V::OpenToOthers},
      {"a drive's root", 0x10, "S-1-5-18", {adminsFull, usersRead, {0, OICIIO, 0xE0010000, AuthenticatedUsers}, {0, 0, 0x4, AuthenticatedUsers}}, V::OpenToOthers, V::Accepted},
      {"Everyone may rewrite the list", 0x10, Admins, {{0, 0, 0x40000, Everyone}}, V::OpenToOthers, V::OpenToOthers},
      {"another user may take it", 0x10, Admins, {{0, 0, 0x80000, OtherUser}}, V::OpenToOthers, V::OpenToOthers},
      {"Users may delete in it", 0x10, Admins, {{0, 0, 0x40, Users}}, V::OpenToOthers, V::OpenToOthers},
      {"Users may add files", 0x10, Admins, {{0, 0, 0x2, Users}}, V::OpenToOthers, V::Accepted},
      {"Users' files may be written", 0x10, Admins, {{0, AceObjectInherit | AceInheritOnly, 0x40000000, Users}}, V::OpenToOthers, V::Accepted},
      {"generic all, by callback", 0x10, Admins, {{9, 0, 0x10000000, Users}}, V::OpenToOthers, V::OpenToOthers},
      {"an object entry for Everyone", 0x10, Admins, {{5, 0, 0x10000, Everyone}}, V::OpenToOthers, V::OpenToOthers},
      {"a denial never opens", 0x10, Admins, {{1, OICI, 0x1F01FF, Everyone}, adminsFull}, V::Accepted, V::Accepted},
      {"the creator owner", 0x10, trustedInstaller, {{0, OICIIO, 0x10000000, "S-1-3-0"}}, V::Accepted, V::Accepted},
      {"the running account's own entry", 0x10, Admins, {{0, OICI, 0x1F01FF, Self}}, V::Accepted, V::Accepted},
      {"no list at all", 0x10, Admins, {}, V::OpenToOthers, V::OpenToOthers, false},
      {"an empty list", 0x10, Admins, {}, V::Accepted, V::Accepted},
      // clang-format on
  };
  for (const Row &r : rows) {
    FolderSecurity &s = Security(r.owner, r.aces, r.hasList);
    EXPECT_EQ(r.destination, JudgeFolder(r.attributes, s, Self, FolderRole::Destination)) << r.what;
    EXPECT_EQ(r.parent, JudgeFolder(r.attributes, s, Self, FolderRole::Parent)) << r.what;
  }
}

}  // namespace
