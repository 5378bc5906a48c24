#include <cstdlib>
#include <ctime>

#include "packer_test_support.h"

namespace {

std::vector<ArchiveEntryInfo> listed;
std::vector<std::string> listedNames;

void Collect(const ArchiveEntryInfo *entry, void *) {
  listed.push_back(*entry);
  listedNames.push_back(std::string(entry->name) + "|" + entry->fileName);
}

}  // namespace

TEST(DosTimestamp, PacksLocalTimeAndClampsToTheDosRange) {
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(DosTimestamp(1709214358), (44u << 25) | (2u << 21) | (29u << 16) | (13u << 11) | (45u << 5) | 29u)
      << "2024-02-29 13:45:58";
  EXPECT_EQ(DosTimestamp(0), (1u << 21) | (1u << 16)) << "1970 clamps to 1980-01-01";
  unsetenv("TZ");
  tzset();
}

TEST(CheckEntryName, AcceptsPlainNamesAndRefusesWhatWindowsWouldNotKeep) {
  const struct {
    std::string name;
    bool good;
  } cases[] = {
      {"KELVRA.EXE", true},
      {"read me.txt", true},
      {"a", true},
      {std::string(511, 'n'), true},
      {"", false},
      {std::string(512, 'n'), false},
      {"caf\xE9.txt", false},
      {"a/b", false},
      {"a\\b", false},
      {"c:x", false},
      {"what?", false},
      {"tab\there", false},
      {".", false},
      {"..", false},
      {"name.", false},
      {"name ", false},
      {"con", false},
      {"NUL.txt", false},
      {"com1.log", false},
      {"LPT9", false},
      {"COM0", true},
      {"CON .TXT", false},
      {"Aux  .c", false},
      {"console", true},
  };
  for (const auto &c : cases) {
    std::string problem;
    EXPECT_EQ(CheckEntryName(c.name, &problem), c.good) << "\"" << c.name << "\" " << problem;
    EXPECT_EQ(problem.empty(), c.good);
  }
}

TEST(TextForStorage, StoresLfForCrLfAndRefusesWhatWouldNotComeBack) {
  const struct {
    std::string file, stored;
    bool good;
  } cases[] = {
      {"one\r\ntwo\r\n", "one\ntwo\n", true},
      {"unix\nlines\n", "unix\nlines\n", true},
      {"no line end", "no line end", true},
      {"", "", true},
      {"cr\r\r\nlone\rcr\r\n", "cr\r\nlone\rcr\n", true},
      {"ends in cr\r", "ends in cr\r", true},
      {"mixed\r\nline\nends\r\n", "", false},
      {"mixed\nthe other way\r\n", "", false},
      {"bit seven \xE9", "", false},
  };
  for (const auto &c : cases) {
    Bytes stored;
    std::string problem;
    EXPECT_EQ(TextForStorage(Bytes(c.file.begin(), c.file.end()), &stored, &problem), c.good) << c.file;
    if (c.good) {
      EXPECT_EQ(std::string(stored.begin(), stored.end()), c.stored);
    }
    EXPECT_EQ(problem.empty(), c.good) << problem;
  }
}

TEST(FindArchiveStart, FindsTheFirstHeaderThatPassesItsChecks) {
  Bytes archive = BuildMainHeader("x", 0);
  Bytes withEnd = BuildEndMarker();
  archive.insert(archive.end(), withEnd.begin(), withEnd.end());
  Bytes file = {0x60, 0xEA, 0xFF, 0xFF, 0x60, 0x60};  // an id with an oversized length, then a lone 0x60
  std::size_t at = file.size();
  file.insert(file.end(), archive.begin(), archive.end());
  EXPECT_EQ(FindArchiveStart(file.data(), file.size()), static_cast<long>(at));

  Bytes empty = {'M', 'Z', 0x60, 0xEA, 0, 0, 0, 0, 0, 0};  // an empty header whose CRC is 0
  empty.insert(empty.end(), archive.begin(), archive.end());
  EXPECT_EQ(FindArchiveStart(empty.data(), empty.size()), 2);

  Bytes cut(archive.begin(), archive.begin() + 10);
  EXPECT_EQ(FindArchiveStart(cut.data(), cut.size()), -2);
}

TEST_F(PackerTest, HeadersReadBackAsWritten) {
  Bytes data = {'h', 'i', '\n'};
  EntryFields entries[] = {
      {"HELLO.TXT", 0, 1, 1, 0x58A1B2C3u, 0, 3, Crc32(0, data.data(), 3)},
      {"docs\\PART.BIN", 5, 3, 0, 0x12345678u, 0, 0, 0},
  };
  Bytes archive = BuildMainHeader("SETUP.EXE", 0x58A1B2C3u);
  for (EntryFields &e : entries) {
    Bytes packed = EncodeMethod123(data.data(), e.fileSize, PackBest);
    e.compressedSize = static_cast<std::uint32_t>(packed.size());
    Bytes header = BuildEntryHeader(e);
    archive.insert(archive.end(), header.begin(), header.end());
    archive.insert(archive.end(), packed.begin(), packed.end());
  }
  Bytes end = BuildEndMarker();
  archive.insert(archive.end(), end.begin(), end.end());
  std::string path = WriteFile("headers.arj", archive);

  listed.clear();
  listedNames.clear();
  ASSERT_EQ(ListArchive(path.c_str(), Collect, nullptr), XR_OK);
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listedNames[0], "HELLO.TXT|HELLO.TXT");
  EXPECT_EQ(listedNames[1], "docs\\PART.BIN|PART.BIN");
  for (std::size_t i = 0; i < 2; i++) {
    EXPECT_EQ(listed[i].method, entries[i].method);
    EXPECT_EQ(listed[i].fileType, entries[i].fileType);
    EXPECT_EQ(listed[i].hostOs, 0u);
    EXPECT_EQ(listed[i].flags, 0u);
    EXPECT_EQ(listed[i].compressedSize, entries[i].compressedSize);
    EXPECT_EQ(listed[i].fileSize, entries[i].fileSize);
    EXPECT_EQ(listed[i].fileCrc, entries[i].fileCrc);
    EXPECT_EQ(listed[i].timestamp, entries[i].timestamp);
  }
  // The fixed part is 30 bytes, the reader's minimum version 1.
  EXPECT_EQ(archive[4], 30);
  EXPECT_EQ(archive[6], 1);
}
