#include <cerrno>
#include <map>
#include <set>

#ifdef __linux__
#include <sys/mount.h>
#include <sys/stat.h>
#endif

#include "test_support.h"

namespace {

class DriverTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    out = dir / "out";
    std::filesystem::create_directories(out);
  }
  // Writes image + archive as the setup file and extracts it into out/.
  ExtractResult Extract(const Bytes &archive, const Bytes &image = StandInImage()) {
    Bytes setup = image;
    setup.insert(setup.end(), archive.begin(), archive.end());
    setupFile = dir / "setup.exe";
    WriteFileBytes(setupFile, setup);
    return ExtractArchive(PathString(setupFile).c_str(), DestinationOf(out).c_str());
  }
  Bytes Output(const std::string &name) { return ReadFileBytes(out / name); }
  // Writes image + archive as the setup file; returns its path.
  std::string SetupFileOf(const Bytes &archive) {
    Bytes setup = StandInImage();
    setup.insert(setup.end(), archive.begin(), archive.end());
    WriteFileBytes(dir / "setup.bin", setup);
    return PathString(dir / "setup.bin");
  }
  // Every file and folder below where, with the files' bytes.
  std::map<std::string, Bytes> Snapshot(const std::filesystem::path &where) {
    std::map<std::string, Bytes> all;
    for (const auto &e : std::filesystem::recursive_directory_iterator(where))
      all[e.path().lexically_relative(where).generic_string()] =
          e.is_regular_file() ? ReadFileBytes(e.path()) : Bytes{'/'};
    return all;
  }
  std::set<std::string> Listing(const std::filesystem::path &where) {
    std::set<std::string> names;
    for (const auto &e : std::filesystem::recursive_directory_iterator(where))
      names.insert(e.path().lexically_relative(where).generic_string());
    return names;
  }
  std::filesystem::path out;
  std::filesystem::path setupFile;
};

Bytes B(const std::string &s) { return Bytes(s.begin(), s.end()); }

TestEntry Changed(TestEntry e, void (*change)(TestEntry &)) {
  change(e);
  return e;
}

// An entry of 5 bytes whose last match would write 11, with the CRC of all
// 11: only the 5 bytes come out, and those fail the CRC.
TestEntry OverlongLastMatch() {
  BitWriter bw;
  std::vector<unsigned> literal(arj::LiteralCount, 0);
  literal['a'] = literal[256 + 10 - arj::MinMatch] = 1;
  BlockCodes codes = PutBlockHeader(bw, 2, literal, {1, 1});
  PutLiteral(bw, codes, 'a');
  PutMatch(bw, codes, 10, 0);
  TestEntry e;
  e.fields.name = "LONG.BIN";
  e.fields.fileSize = 5;
  e.fields.fileCrc = Crc32(Bytes(11, 'a'));
  e.data = bw.bytes;
  return e;
}

TEST_F(DriverTest, ExtractsEveryEntry) {
  Bytes big(100000);
  for (std::size_t i = 0; i < big.size(); i++) big[i] = static_cast<unsigned char>(i * 7 + i / 300);
  ASSERT_EQ(Extract(ArchiveBytes({StoredAsLiterals("ONE.BIN", B("first")), StoredAsLiterals("TWO.BIN", big),
                                  StoredAsLiterals("EMPTY.BIN", {})})),
            XR_OK);
  EXPECT_EQ(Output("ONE.BIN"), B("first"));
  EXPECT_EQ(Output("TWO.BIN"), big);
  EXPECT_TRUE(std::filesystem::exists(out / "EMPTY.BIN"));
  EXPECT_EQ(Output("EMPTY.BIN").size(), 0u);
}

TEST_F(DriverTest, ArchiveWithoutEntriesWritesNothing) {
  EXPECT_EQ(Extract(ArchiveBytes({})), XR_OK);
  EXPECT_TRUE(std::filesystem::is_empty(out));
}

TEST_F(DriverTest, WritesTextEntriesWithCrLfAndMaskedBytes) {
  struct Case {
    unsigned fileType, hostOs;
    std::string data, onDisk;
  } cases[] = {
      {1, 0, "a\nb\r\nc\n", "a\r\nb\r\r\nc\r\n"},
      {1, 0, "caf\xE9\n", "cafi\r\n"},
      {1, 2, "caf\xE9\n", "caf\xE9\r\n"},
      {0, 0, "caf\xE9\n\r\n", "caf\xE9\n\r\n"},
  };
  for (const Case &c : cases) {
    TestEntry e = StoredAsLiterals("T.TXT", B(c.data), c.fileType);
    e.fields.hostOs = c.hostOs;
    ASSERT_EQ(Extract(ArchiveBytes({e})), XR_OK) << c.data;
    EXPECT_EQ(Output("T.TXT"), B(c.onDisk)) << c.data;
  }
}

// The commit keeps each old file under a second link where the file system
// has them, and moves it onto a placeholder where it has not: every test
// of this fixture runs both ways.
class CommitTest : public DriverTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    simulateNoHardLinks = !GetParam();
  }
  void TearDown() override {
    simulateNoHardLinks = false;
    DriverTest::TearDown();
  }
};

INSTANTIATE_TEST_SUITE_P(Links, CommitTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool> &info) {
                           return info.param ? "WithHardLinks" : "WithoutHardLinks";
                         });

// Whatever fails, and wherever in the archive, the destination keeps every
// byte it held: old versions of the entries, the user's own files, folders.
TEST_P(CommitTest, LeavesTheDestinationAsItWasWhenAnyEntryFails) {
  TestEntry one = StoredAsLiterals("ONE.BIN", B("first")), two = StoredAsLiterals("TWO.BIN", B("second"));
  TestEntry good = StoredAsLiterals("NEW.BIN", B("third"));
  struct Case {
    const char *what;
    std::vector<TestEntry> entries;
    ExtractResult expected;
  } cases[] = {
      {"CRC mismatch", {one, two, Changed(good, [](TestEntry &e) { e.fields.fileCrc ^= 1; })}, XR_CRC},
      {"CRC mismatch over an old file",
       {one, Changed(two, [](TestEntry &e) { e.fields.fileCrc++; })},
       XR_CRC},
      {"unusable table, raised mid-entry",
       {one, two,
        Changed(good,
                [](TestEntry &e) {
                  e.data = Bytes{0, 1, 0xA0, 0};
                })},
       XR_BAD_TABLE},
      {"unsupported method", {one, two, Changed(good, [](TestEntry &e) { e.fields.method = 0; })}, XR_METHOD},
      {"encrypted", {one, two, Changed(good, [](TestEntry &e) { e.fields.flags = 1; })}, XR_ENCRYPTED},
      {"name refused",
       {one, two, Changed(good, [](TestEntry &e) { e.fields.name = "..\\X"; })},
       XR_CREATE_OUTPUT},
      {"folder missing",
       {one, two, Changed(good, [](TestEntry &e) { e.fields.name = "NOSUB\\X"; })},
       XR_CREATE_OUTPUT},
      {"a folder of the name",
       {one, two, Changed(good, [](TestEntry &e) { e.fields.name = "SUB"; })},
       XR_CREATE_OUTPUT},
      {"size of 2 GiB",
       {one, two, Changed(good, [](TestEntry &e) { e.fields.fileSize = 0x80000000u; })},
       XR_BAD_HEADER},
      {"one name twice, then a failure",
       {one, two, StoredAsLiterals("ONE.BIN", B("again")),
        Changed(good, [](TestEntry &e) { e.fields.fileCrc ^= 1; })},
       XR_CRC},
      {"a last match past the entry's size", {one, two, OverlongLastMatch()}, XR_CRC},
      {"a temporary's name, then a failure",
       {one, StoredAsLiterals("~kx1.tmp", B("x")),
        Changed(good, [](TestEntry &e) { e.fields.fileCrc ^= 1; })},
       XR_CRC},
  };
  WriteFileBytes(out / "ONE.BIN", B("old one, longer than the new"));
  WriteFileBytes(out / "TWO.BIN", B("old two"));
  WriteFileBytes(out / "USER.DOC", B("the user's own"));
  std::filesystem::create_directory(out / "SUB");
  WriteFileBytes(out / "SUB" / "KEEP", B("k"));
  const std::map<std::string, Bytes> before = Snapshot(out);
  for (const Case &c : cases) {
    EXPECT_EQ(Extract(ArchiveBytes(c.entries)), c.expected) << c.what;
    EXPECT_EQ(Snapshot(out), before) << c.what;
  }
  // The same archive without its failing entry replaces the old versions.
  ASSERT_EQ(Extract(ArchiveBytes({one, two, good})), XR_OK);
  std::map<std::string, Bytes> after = before;
  after["ONE.BIN"] = B("first");
  after["TWO.BIN"] = B("second");
  after["NEW.BIN"] = B("third");
  EXPECT_EQ(Snapshot(out), after);
}

// A read-only file of an entry's name cannot be replaced, as it could not
// be opened for writing: the code says so before anything else moved.
TEST_F(DriverTest, RefusesAReadOnlyFileOfAnEntrysName) {
  WriteFileBytes(out / "ONE.BIN", B("old one"));
  WriteFileBytes(out / "LOCKED.BIN", B("read-only"));
  std::filesystem::permissions(out / "LOCKED.BIN", std::filesystem::perms::owner_read);
#ifndef _WIN32  // on Windows the read-only attribute refuses every writer
  if (std::FILE *probe = std::fopen(PathString(out / "LOCKED.BIN").c_str(), "r+b")) {
    std::fclose(probe);
    GTEST_SKIP() << "SKIPPED: this process may write read-only files (root on Linux)";
  }
#endif
  const std::map<std::string, Bytes> before = Snapshot(out);
  EXPECT_EQ(
      Extract(ArchiveBytes({StoredAsLiterals("ONE.BIN", B("new")), StoredAsLiterals("LOCKED.BIN", B("x"))})),
      XR_CREATE_OUTPUT);
  EXPECT_EQ(Snapshot(out), before);
  std::filesystem::permissions(out / "LOCKED.BIN", std::filesystem::perms::owner_all);
}

// Temporaries are created only where no file of their name exists, so
// neither an entry nor a user's file of such a name gets lost.
TEST_F(DriverTest, LaterEntriesOfOneNameWinAndTemporaryNamesNeverClash) {
  struct Case {
    const char *what;
    std::map<std::string, Bytes> before;
    std::vector<TestEntry> entries;
    std::map<std::string, Bytes> after;
  } cases[] = {
      {"one name twice", {}, {StoredAsLiterals("A", B("1")), StoredAsLiterals("A", B("2"))}, {{"A", B("2")}}},
      {"one name twice over an old file",
       {{"A", B("old")}},
       {StoredAsLiterals("A", B("1")), StoredAsLiterals("A", B("2"))},
       {{"A", B("2")}}},
      {"an entry named like a temporary",
       {{"A", B("old")}},
       {StoredAsLiterals("A", B("new")), StoredAsLiterals("~kx1.tmp", B("mine"))},
       {{"A", B("new")}, {"~kx1.tmp", B("mine")}}},
      {"a user's file named like a temporary",
       {{"A", B("old")}, {"~kx1.tmp", B("user")}, {"~kx2.tmp", B("user 2")}},
       {StoredAsLiterals("A", B("new"))},
       {{"A", B("new")}, {"~kx1.tmp", B("user")}, {"~kx2.tmp", B("user 2")}}},
  };
  for (const Case &c : cases) {
    std::filesystem::remove_all(out);
    std::filesystem::create_directory(out);
    for (const auto &[name, bytes] : c.before) WriteFileBytes(out / name, bytes);
    EXPECT_EQ(Extract(ArchiveBytes(c.entries)), XR_OK) << c.what;
    EXPECT_EQ(Snapshot(out), c.after) << c.what;
  }
}

// Every allocation of a call, failed in turn: XR_NO_MEMORY and nothing
// changed, until there are enough allocations for the call to succeed.
TEST_F(DriverTest, RunningOutOfMemoryChangesNothing) {
  WriteFileBytes(out / "ONE.BIN", B("old one"));
  const std::map<std::string, Bytes> before = Snapshot(out);
  std::vector<TestEntry> entries = {StoredAsLiterals("ONE.BIN", B("first")),
                                    StoredAsLiterals("TWO.BIN", B("2"))};
  for (int n = 0; n < 20; n++) entries.push_back(StoredAsLiterals("N" + std::to_string(n), B("n")));
  Bytes archive = ArchiveBytes(entries);
  for (unsigned n = 1; n < 200; n++) {
    failAllocationAt = n;
    ExtractResult result = Extract(archive);
    failAllocationAt = 0;
    if (result == XR_OK) break;
    EXPECT_EQ(result, XR_NO_MEMORY) << "allocation " << n;
    EXPECT_EQ(Snapshot(out), before) << "allocation " << n;
  }
  EXPECT_EQ(Output("ONE.BIN"), B("first"));
}

TEST_F(DriverTest, RefusesUnsupportedMethodsLeavingNothing) {
  for (unsigned method : {0u, 4u}) {
    TestEntry e = StoredAsLiterals("M.BIN", B("data"));
    e.fields.method = method;
    EXPECT_EQ(Extract(ArchiveBytes({e})), XR_METHOD);
    EXPECT_TRUE(std::filesystem::is_empty(out));
  }
}

TEST_F(DriverTest, UsesTheNameFromEntryPosAndOverwrites) {
  TestEntry first = StoredAsLiterals("SRC\\SUB\\SAME.TXT", B("old"));
  first.fields.entryPos = 8;
  TestEntry second = StoredAsLiterals("OTHER/SAME.TXT", B("new"));
  second.fields.entryPos = 6;
  WriteFileBytes(out / "SAME.TXT", B("previous content, longer"));
  ASSERT_EQ(Extract(ArchiveBytes({first, second})), XR_OK);
  EXPECT_EQ(Listing(out), std::set<std::string>{"SAME.TXT"});
  EXPECT_EQ(Output("SAME.TXT"), B("new"));
}

TEST_F(DriverTest, WritesIntoAnExistingSubdirectoryOnly) {
  TestEntry e = StoredAsLiterals("SUB\\F.BIN", B("x"));
  EXPECT_EQ(Extract(ArchiveBytes({e})), XR_CREATE_OUTPUT);
  std::filesystem::create_directory(out / "SUB");
  EXPECT_EQ(Extract(ArchiveBytes({e})), XR_OK);
  EXPECT_EQ(ReadFileBytes(out / "SUB" / "F.BIN"), B("x"));
}

// Names that would land outside the destination, or on a device, are
// refused before anything is created, wherever they come from.
TEST_F(DriverTest, RefusesNamesThatLeaveTheDestination) {
  const char *names[] = {
      "",        "..",           "../EVIL.TXT", "..\\EVIL.TXT", "SUB/../../EVIL.TXT",
      "SUB\\..", "/EVIL.TXT",    "\\EVIL.TXT",  "C:EVIL.TXT",   "C:\\EVIL.TXT",
      "A:B",     "CON",          "nul.txt",     "Com1",         "LPT9.LOG",
      "aux",     "SUB\\PRN.TXT", "CON .TXT",    "nul  ",        "AUX..",
      "Prn . x", "conout$",      "LPT1 ",
  };
  std::filesystem::create_directory(out / "SUB");
  Extract(ArchiveBytes({}));
  std::set<std::string> before = Listing(dir);
  for (const char *name : names) {
    TestEntry e = StoredAsLiterals(name, B("evil"));
    EXPECT_EQ(Extract(ArchiveBytes({e})), XR_CREATE_OUTPUT) << '"' << name << '"';
    std::set<std::string> after = Listing(dir);
    EXPECT_EQ(after, before) << '"' << name << '"';
  }
  // Superscript digits where the host keeps bit 7 (Windows-1252 bytes).
  for (const char *name : {"COM\xB9", "com\xB2.txt", "LPT\xB3", "LPT\xB9 .LOG"}) {
    TestEntry e = StoredAsLiterals(name, B("evil"));
    e.fields.hostOs = arj::HostOsKeepsBit7;
    EXPECT_EQ(Extract(ArchiveBytes({e})), XR_CREATE_OUTPUT) << '"' << name << '"';
    EXPECT_EQ(Listing(dir), before) << '"' << name << '"';
  }
  // Names that merely look alike stay allowed.
  for (const char *name : {"..A", "A..", "CONSOLE.TXT", "COM10", "LPT", "AUX2", "CON_.TXT", "COM\xB4"}) {
    TestEntry e = StoredAsLiterals(name, B("ok"));
    e.fields.hostOs = arj::HostOsKeepsBit7;
    EXPECT_EQ(Extract(ArchiveBytes({e})), XR_OK) << name;
    EXPECT_EQ(Output(name), B("ok"));
  }
}

TEST_F(DriverTest, RefusesPathsThatDoNotFit) {
  Bytes setup = ArchiveBytes({StoredAsLiterals("F.BIN", B("x"))});
  WriteFileBytes(dir / "setup.bin", setup);
  std::string longDestination(600, 'd');
  EXPECT_EQ(ExtractArchive(PathString(dir / "setup.bin").c_str(), longDestination.c_str()), XR_CREATE_OUTPUT);

#ifndef _WIN32  // Windows itself stops at 260 characters
  // A destination deep enough that "F.BIN" just fits the 512-byte path and
  // "FF.BIN" does not.
  std::filesystem::path deep = out;
  while (DestinationOf(deep).size() + 100 < PathSize - 1 - 5) deep /= std::string(90, 'd');
  deep /= std::string(PathSize - 1 - 5 - DestinationOf(deep).size() - 1, 'e');
  std::filesystem::create_directories(deep);
  ASSERT_EQ(DestinationOf(deep).size() + 5, PathSize - 1);
  WriteFileBytes(dir / "deep.bin",
                 ArchiveBytes({StoredAsLiterals("F.BIN", B("x")), StoredAsLiterals("FF.BIN", B("y"))}));
  EXPECT_EQ(ExtractArchive(PathString(dir / "deep.bin").c_str(), DestinationOf(deep).c_str()),
            XR_CREATE_OUTPUT);
  EXPECT_TRUE(std::filesystem::is_empty(deep));
#endif
}

TEST_F(DriverTest, ReportsACodeForEveryKindOfFailure) {
  auto withEntry = [](void (*change)(TestEntry &)) {
    TestEntry e = StoredAsLiterals("F.BIN", B("payload"));
    change(e);
    return ArchiveBytes({e});
  };
  Bytes noEntryId = ArchiveBytes({StoredAsLiterals("F.BIN", B("payload"))});
  noEntryId[MainHeaderBytes().size()] = 0x61;
  Bytes badHeaderCrc = ArchiveBytes({StoredAsLiterals("F.BIN", B("payload"))});
  badHeaderCrc[MainHeaderBytes().size() + 10] ^= 1;
  Bytes mainIsEnd = {0x60, 0xEA, 0, 0, 0, 0, 0, 0};
  Bytes cutInHeader = ArchiveBytes({StoredAsLiterals("F.BIN", B("payload"))});
  cutInHeader.resize(MainHeaderBytes().size() + 20);

  struct Case {
    const char *what;
    Bytes archive;
    ExtractResult expected;
  } cases[] = {
      {"main header is an end marker", mainIsEnd, XR_NO_MAIN_HEADER},
      {"entry without id", noEntryId, XR_BAD_HEADER},
      {"unusable table", withEntry([](TestEntry &e) {
         e.data = Bytes{0, 1, 0xA0, 0};
       }),
       XR_BAD_TABLE},
      {"cut inside an entry header", cutInHeader, XR_EOF},
      {"CRC mismatch", withEntry([](TestEntry &e) { e.fields.fileCrc++; }), XR_CRC},
      {"encrypted", withEntry([](TestEntry &e) { e.fields.flags = 1; }), XR_ENCRYPTED},
      {"header CRC", badHeaderCrc, XR_HEADER_CRC},
      {"no archive", Bytes(100, 0), XR_NO_ARCHIVE},
      {"name refused", withEntry([](TestEntry &e) { e.fields.name = "..\\X"; }), XR_CREATE_OUTPUT},
      {"method 6", withEntry([](TestEntry &e) { e.fields.method = 6; }), XR_METHOD},
      {"file type 2", withEntry([](TestEntry &e) { e.fields.fileType = 2; }), XR_FILE_TYPE},
      {"version 4", withEntry([](TestEntry &e) { e.fields.minVersion = 4; }), XR_VERSION},
      {"size 2 GiB", withEntry([](TestEntry &e) { e.fields.fileSize = 0x80000000u; }), XR_BAD_HEADER},
      {"size 4 GiB - 1, CRC 0", withEntry([](TestEntry &e) {
         e.fields.fileSize = 0xFFFFFFFFu;
         e.fields.fileCrc = 0;
       }),
       XR_BAD_HEADER},
  };
  for (const Case &c : cases) EXPECT_EQ(Extract(c.archive), c.expected) << c.what;
  EXPECT_EQ(ExtractArchive(PathString(dir / "missing.exe").c_str(), DestinationOf(out).c_str()),
            XR_OPEN_SETUP);
}

TEST_F(DriverTest, RefusesToOverwriteADirectory) {
  std::filesystem::create_directory(out / "F.BIN");
  EXPECT_EQ(Extract(ArchiveBytes({StoredAsLiterals("F.BIN", B("x"))})), XR_CREATE_OUTPUT);
}

#ifdef __linux__
struct Unmount {
  std::string path;
  ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
};

// The last step can fail too: here the folder of the last entry has no
// room for the old file's backup once every entry is written. Every file
// already moved goes back, the later of two same-named entries first.
TEST_P(CommitTest, PutsEveryOldFileBackWhenTheLastMovesFail) {
  std::filesystem::path sub = out / "SUB";
  std::filesystem::create_directory(sub);
  if (mount("tmpfs", PathString(sub).c_str(), "tmpfs", 0, "size=64k,nr_inodes=3") != 0)
    GTEST_SKIP() << "SKIPPED: cannot mount a tmpfs here (needs root): " << std::strerror(errno);
  Unmount unmount{PathString(sub)};
  WriteFileBytes(out / "A", B("old a"));
  WriteFileBytes(sub / "B", B("old b"));  // its folder can hold one more file: the new B, not a backup
  const std::map<std::string, Bytes> before = Snapshot(out);
  EXPECT_EQ(
      Extract(ArchiveBytes({StoredAsLiterals("A", B("new a")), StoredAsLiterals("NEW", B("n")),
                            StoredAsLiterals("A", B("newer a")), StoredAsLiterals("SUB\\B", B("new b"))})),
      XR_CREATE_OUTPUT);
  EXPECT_EQ(Snapshot(out), before);
}

// A destination on a file system that runs out of space: a big entry fails
// inside the writes, a small one only when its buffered bytes are flushed
// at the close. Either way XR_WRITE, and the old files are all there.
TEST_F(DriverTest, ReportsAFullDiskAndKeepsTheOldFiles) {
  std::filesystem::path small = dir / "small";
  std::filesystem::create_directory(small);
  if (mount("tmpfs", PathString(small).c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "SKIPPED: cannot mount a 64 KiB tmpfs here (needs root): " << std::strerror(errno);
  Unmount unmount{PathString(small)};
  std::vector<TestEntry> fits = {StoredAsLiterals("A.BIN", Bytes(3000, 'a')),
                                 StoredAsLiterals("C.BIN", B("new c"))};
  WriteFileBytes(small / "A.BIN", B("old a"));
  ASSERT_EQ(ExtractArchive(SetupFileOf(ArchiveBytes(fits)).c_str(), DestinationOf(small).c_str()), XR_OK)
      << "the entries fit before the disk is filled";
  WriteFileBytes(small / "A.BIN", B("old a"));
  WriteFileBytes(small / "C.BIN", B("old c"));
  {
    // The user's own file takes every block that is left.
    std::FILE *filler = std::fopen(PathString(small / "FILLER").c_str(), "wb");
    ASSERT_TRUE(filler);
    std::setvbuf(filler, nullptr, _IONBF, 0);
    Bytes block(512, 'f');
    while (std::fwrite(block.data(), 1, block.size(), filler) == block.size()) {
    }
    std::fclose(filler);
  }
  const std::map<std::string, Bytes> before = Snapshot(small);
  struct Case {
    const char *what;
    std::vector<TestEntry> entries;
  } cases[] = {
      {"3,000 bytes, flushed only at the close", {StoredAsLiterals("B.BIN", Bytes(3000, 'b'))}},
      {"over an old file, at the close", {StoredAsLiterals("A.BIN", Bytes(3000, 'a'))}},
      {"100,000 bytes, inside the writes",
       {StoredAsLiterals("C.BIN", B("new c")), StoredAsLiterals("BIG.BIN", Bytes(100000, 'g'))}},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(ExtractArchive(SetupFileOf(ArchiveBytes(c.entries)).c_str(), DestinationOf(small).c_str()),
              XR_WRITE)
        << c.what;
    EXPECT_EQ(Snapshot(small), before) << c.what;
  }
}

// The room is taken before the writes, and the size stays what they wrote:
// a failing entry's file must not read as zeros up to the promised size.
TEST_F(DriverTest, ReservedRoomKeepsTheFileItsWrittenSize) {
  std::filesystem::path path = dir / "RESERVED.BIN";
  CreateOutcome outcome;
  std::FILE *file = CreateNewFile(PathString(path).c_str(), &outcome);
  ASSERT_TRUE(file);
  ReserveFileSpace(file, 1 << 20);
  ASSERT_EQ(std::fwrite("12345", 1, 5, file), 5u);
  ASSERT_EQ(std::fclose(file), 0);
  EXPECT_EQ(std::filesystem::file_size(path), 5u);
  struct stat st;
  ASSERT_EQ(stat(PathString(path).c_str(), &st), 0);
  EXPECT_GE(st.st_blocks * 512, 1 << 20) << "the room was not taken";
}

TEST_F(DriverTest, ClosesEverythingOnEveryPath) {
  TestEntry crc = StoredAsLiterals("A.BIN", Bytes(70000, 'a'));
  crc.fields.fileCrc ^= 1;
  Bytes cutInData = ArchiveBytes({StoredAsLiterals("B.BIN", Bytes(70000, 'b'))});
  cutInData.resize(cutInData.size() / 2);
  int before = OpenDescriptors();
  for (const Bytes &archive : {ArchiveBytes({crc}), cutInData, Bytes(10, 0), ArchiveBytes({})}) {
    ExtractResult first = Extract(archive);
    EXPECT_EQ(OpenDescriptors(), before);
    // The setup file can be read again at once, with the same outcome.
    EXPECT_EQ(ExtractArchive(PathString(setupFile).c_str(), DestinationOf(out).c_str()), first);
    EXPECT_EQ(OpenDescriptors(), before);
  }
}
#endif

TEST_F(DriverTest, RepeatsTheSameResultAndBytes) {
  Bytes data(50000);
  for (std::size_t i = 0; i < data.size(); i++) data[i] = static_cast<unsigned char>(i % 251);
  Bytes archive = ArchiveBytes({StoredAsLiterals("R.BIN", data)});
  archive.resize(archive.size() - 5000);  // cut inside the data: bytes read as 0xFF
  ExtractResult first = Extract(archive);
  Bytes firstBytes = Output("R.BIN");
  EXPECT_NE(first, XR_OK);
  EXPECT_FALSE(std::filesystem::exists(out / "R.BIN"));
  EXPECT_EQ(Extract(archive), first);
  EXPECT_EQ(Output("R.BIN"), firstBytes);
}

// A block whose literal/length lengths are all zero builds no table and
// decodes with whatever table is there. Within one call that is the
// previous block's; a later call must not see an earlier call's.
TEST_F(DriverTest, StartsEveryCallWithFreshTables) {
  BitWriter bw;
  bw.Put(1, 16);  // one symbol
  bw.Put(0, 5);   // pre-code: single-value form...
  bw.Put(0, 5);   // ...of symbol 0, "one length 0"
  bw.Put(5, 9);   // five literal/length lengths, all 0: nothing built
  bw.Put(0, 5);   // distance code: single-value form
  bw.Put(0, 5);
  TestEntry stale;
  stale.fields.name = "STALE.BIN";
  stale.fields.fileSize = 1;
  stale.fields.fileCrc = Crc32(Bytes{0});  // what all-zero tables decode to
  stale.data = bw.bytes;
  Bytes staleArchive = ArchiveBytes({stale});

  BitWriter builds;
  PutSingleValueBlock(builds, 4, 'x');  // leaves every literal table entry at 'x'
  TestEntry first;
  first.fields.name = "BUILDS.BIN";
  first.fields.fileSize = 4;
  first.fields.fileCrc = Crc32(B("xxxx"));
  first.data = builds.bytes;
  EXPECT_EQ(Extract(ArchiveBytes({first})), XR_OK);
  EXPECT_EQ(Extract(staleArchive), XR_OK);
  EXPECT_EQ(Output("STALE.BIN"), Bytes{0});
}

TEST_F(DriverTest, ListsEntriesWithoutWriting) {
  TestEntry e = StoredAsLiterals("DIR\\LIST.TXT", B("line\n"), 1);
  e.fields.entryPos = 4;
  e.fields.timestamp = 0x5A5A1234;
  Extract(ArchiveBytes({e, StoredAsLiterals("B.BIN", B("bb"))}));
  std::filesystem::remove_all(out);
  std::vector<std::string> seen;
  auto collect = [](const ArchiveEntryInfo *info, void *context) {
    auto &v = *static_cast<std::vector<std::string> *>(context);
    v.push_back(std::string(info->fileName) + "/" + std::to_string(info->fileType) + "/" +
                std::to_string(info->fileSize) + "/" + std::to_string(info->timestamp));
  };
  EXPECT_EQ(ListArchive(PathString(setupFile).c_str(), collect, &seen), XR_OK);
  EXPECT_EQ(seen, (std::vector<std::string>{"LIST.TXT/1/5/" + std::to_string(0x5A5A1234), "B.BIN/0/2/0"}));
  EXPECT_FALSE(std::filesystem::exists(out));
}

// A busy file is tried again for a few seconds, with growing pauses, before
// it counts as in use; then all files wait for the restart, or none is
// replaced and the call fails.
TEST(CommitDecisions, RetriesBusyFilesThenDefersOrFails) {
  struct Retry {
    FileAccess access;
    unsigned long elapsedMs;
    RetryDecision expected;
  } retries[] = {
      {FileFree, 0, GoOn},
      {FileFree, 60000, GoOn},
      {FileBusy, 0, TryAgain},
      {FileBusy, BusyRetryWindowMs - 1, TryAgain},
      {FileBusy, BusyRetryWindowMs, GiveUpInUse},
      {FileRefused, 0, GiveUpRefused},  // read-only, a directory: no wait helps
  };
  for (const Retry &r : retries)
    EXPECT_EQ(DecideRetry(r.access, r.elapsedMs), r.expected) << r.access << " after " << r.elapsedMs;
  unsigned total = 0, attempt = 1;
  for (; total < BusyRetryWindowMs; attempt++) total += RetryPauseMs(attempt);
  EXPECT_EQ(RetryPauseMs(1), 50u);  // a scanner's look is brief
  EXPECT_EQ(RetryPauseMs(100), 400u);
  EXPECT_GE(attempt, 8u);  // many tries within the window, none of them long

  EXPECT_EQ(DecideCommit(0, false), ReplaceNow);
  EXPECT_EQ(DecideCommit(0, true), ReplaceNow);
  EXPECT_EQ(DecideCommit(1, true), ReplaceAtRestart);
  EXPECT_EQ(DecideCommit(3, false), FailInUse);
  EXPECT_STREQ(ExtractResultName(XR_IN_USE), "XR_IN_USE");
}

}  // namespace
