#include "test_support.h"

namespace {

class HeadersTest : public TempDirTest {
 protected:
  void TearDown() override {
    CloseSetupStream();
    TempDirTest::TearDown();
  }
  void Open(const Bytes &bytes) {
    std::filesystem::path file = dir / "setup.bin";
    WriteFileBytes(file, bytes);
    ASSERT_TRUE(OpenSetupStream(PathString(file).c_str()));
  }
  std::int64_t Find(const Bytes &bytes) {
    Open(bytes);
    std::int64_t found = -2;
    ExtractResult r = Guarded([&] { found = FindArchive(); });
    return r == XR_OK ? found : -static_cast<std::int64_t>(r);
  }
  ExtractResult Read(const Bytes &bytes, HeaderKind kind, int *returned = nullptr) {
    Open(bytes);
    return Guarded([&] {
      int r = ReadHeader(kind);
      if (returned) *returned = r;
    });
  }
};

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes &p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST_F(HeadersTest, ScanPassesOverFalseCandidates) {
  Bytes archive = ArchiveBytes({});
  Bytes oversized = {0x60, 0xEA, 0x29, 0x0A, 1, 2, 3};  // size 2601
  Bytes badCrc = FramedHeader(BasicHeader(HeaderFields()));
  badCrc[10] ^= 1;
  Bytes image = StandInImage(1000);
  Bytes setup = Concat({image, oversized, badCrc, {0x60}, archive});
  EXPECT_EQ(Find(setup), static_cast<std::int64_t>(setup.size() - archive.size()));
}

TEST_F(HeadersTest, ScanFindsTheIdAfterARepeatedFirstByte) {
  Bytes setup = Concat({{0x00, 0x60}, ArchiveBytes({})});
  EXPECT_EQ(Find(setup), 2);
}

TEST_F(HeadersTest, ScanLooksOnlyAtTheFirst500000Bytes) {
  Bytes archive = ArchiveBytes({});
  EXPECT_EQ(Find(Concat({StandInImage(499999), archive})), 499999);
  EXPECT_EQ(Find(Concat({StandInImage(500000), archive})), -1);
}

TEST_F(HeadersTest, ScanIgnoresAnIdInTheLastTwoBytes) {
  EXPECT_EQ(Find(Concat({StandInImage(100), {0x60, 0xEA}})), -1);
}

TEST_F(HeadersTest, ScanReportsEndOfFileInsideACandidate) {
  EXPECT_EQ(Find(Concat({StandInImage(100), {0x60, 0xEA, 0x10}})), -static_cast<std::int64_t>(XR_EOF));
  EXPECT_EQ(Find(Concat({StandInImage(100), {0x60, 0xEA, 0x02, 0x00, 1, 2, 3}})),
            -static_cast<std::int64_t>(XR_EOF));
}

TEST_F(HeadersTest, ReadsFieldsAndSkipsExtendedHeaders) {
  HeaderFields f;
  f.archiverVersion = 11;
  f.minVersion = 2;
  f.hostOs = 3;
  f.flags = 0x10;
  f.method = 3;
  f.fileType = 1;
  f.timestamp = 0x12345678;
  f.compressedSize = 77;
  f.fileSize = 0x80000001u;
  f.fileCrc = 0xCAFEBABE;
  f.name = "DIR\\NAME.TXT";
  f.entryPos = 4;
  f.comment = "a comment";
  Bytes extended(9, 0x55);
  Bytes bytes = Concat({FramedHeader(BasicHeader(f), &extended), {0xAA}});
  int returned = -1;
  ASSERT_EQ(Read(bytes, EntryHeaderKind, &returned), XR_OK);
  EXPECT_EQ(returned, 1);
  const EntryHeader &h = extractState.header;
  EXPECT_EQ(h.archiverVersion, 11u);
  EXPECT_EQ(h.minVersion, 2u);
  EXPECT_EQ(h.hostOs, 3u);
  EXPECT_EQ(h.flags, 0x10u);
  EXPECT_EQ(h.method, 3u);
  EXPECT_EQ(h.fileType, 1u);
  EXPECT_EQ(h.timestamp, 0x12345678u);
  EXPECT_EQ(extractState.compressedLeft, 77u);
  EXPECT_EQ(h.fileSize, static_cast<std::int32_t>(0x80000001u));
  EXPECT_EQ(h.fileCrc, 0xCAFEBABEu);
  EXPECT_STREQ(h.name, "DIR\\NAME.TXT");
  EXPECT_STREQ(h.name + h.entryPos, "NAME.TXT");
  EXPECT_STREQ(h.comment, "a comment");
  EXPECT_EQ(ReadSetupByte(), 0xAA);  // the stream stands at the entry's data
}

TEST_F(HeadersTest, EndMarkerReturnsZero) {
  int returned = -1;
  EXPECT_EQ(Read(EndMarker(), EntryHeaderKind, &returned), XR_OK);
  EXPECT_EQ(returned, 0);
}

TEST_F(HeadersTest, ClearsBit7OfNamesUnlessTheHostKeepsIt) {
  for (unsigned host : {0u, 2u}) {
    HeaderFields f;
    f.hostOs = host;
    f.name = "\xC1\xE9.TXT";
    ASSERT_EQ(Read(FramedHeader(BasicHeader(f)), EntryHeaderKind), XR_OK);
    EXPECT_STREQ(extractState.header.name, host == 2 ? "\xC1\xE9.TXT" : "Ai.TXT");
  }
}

TEST_F(HeadersTest, RefusesBrokenHeaders) {
  auto withSize = [](unsigned n) {
    HeaderFields f;
    f.name = "N";
    Bytes basic = BasicHeader(f);
    basic.resize(n, 'c');
    basic.back() = 0;
    return FramedHeader(basic);
  };
  HeaderFields longName;
  longName.name = std::string(512, 'n');
  HeaderFields fitsName;
  fitsName.name = std::string(511, 'n');
  HeaderFields longComment;
  longComment.comment = std::string(2500, 'c');
  HeaderFields badPos;
  badPos.name = "AB";
  badPos.entryPos = 3;
  HeaderFields negativePos;
  negativePos.entryPos = -1;
  Bytes beyondName = BasicHeader(HeaderFields());
  beyondName[0] = 250;  // the name would start past the header's end
  Bytes good = FramedHeader(BasicHeader(HeaderFields()));

  Bytes noNameEnd = BasicHeader(HeaderFields());
  noNameEnd.resize(34);  // cut inside the name
  Bytes noCommentEnd = BasicHeader(HeaderFields());
  noCommentEnd.pop_back();
  Bytes tooShort = BasicHeader(HeaderFields());
  tooShort.resize(29);
  Bytes badCrc = FramedHeader(BasicHeader(HeaderFields()));
  badCrc[6] ^= 0x40;

  struct Case {
    const char *what;
    Bytes bytes;
    HeaderKind kind;
    ExtractResult expected;
  } cases[] = {
      {"size 2600 accepted", withSize(2600), EntryHeaderKind, XR_OK},
      {"size 2601", {0x60, 0xEA, 0x29, 0x0A}, EntryHeaderKind, XR_BAD_HEADER},
      {"size 2601, main", {0x60, 0xEA, 0x29, 0x0A}, MainHeader, XR_BAD_HEADER},
      {"bad id, entry", {0x61, 0xEA, 0, 0}, EntryHeaderKind, XR_BAD_HEADER},
      {"bad id, main", {0x61, 0xEA, 0, 0}, MainHeader, XR_NO_ARCHIVE},
      {"bad CRC", badCrc, EntryHeaderKind, XR_HEADER_CRC},
      {"file ends in the id", {0x60}, EntryHeaderKind, XR_EOF},
      {"file ends in the basic header", Bytes(badCrc.begin(), badCrc.begin() + 20), EntryHeaderKind, XR_EOF},
      {"file ends before the extended size", Bytes(good.begin(), good.end() - 2), EntryHeaderKind, XR_EOF},
      {"shorter than the fixed fields", FramedHeader(tooShort), EntryHeaderKind, XR_BAD_HEADER},
      {"name beyond the header", FramedHeader(beyondName), EntryHeaderKind, XR_BAD_HEADER},
      {"name without terminator", FramedHeader(noNameEnd), EntryHeaderKind, XR_BAD_HEADER},
      {"comment without terminator", FramedHeader(noCommentEnd), EntryHeaderKind, XR_BAD_HEADER},
      {"name of 512 characters", FramedHeader(BasicHeader(longName)), EntryHeaderKind, XR_BAD_HEADER},
      {"name of 511 characters", FramedHeader(BasicHeader(fitsName)), EntryHeaderKind, XR_OK},
      {"long comment is cut", FramedHeader(BasicHeader(longComment)), EntryHeaderKind, XR_OK},
      {"entryPos past the name", FramedHeader(BasicHeader(badPos)), EntryHeaderKind, XR_BAD_HEADER},
      {"negative entryPos", FramedHeader(BasicHeader(negativePos)), EntryHeaderKind, XR_BAD_HEADER},
  };
  for (const Case &c : cases) EXPECT_EQ(Read(c.bytes, c.kind), c.expected) << c.what;
  EXPECT_EQ(Read(FramedHeader(BasicHeader(longComment)), EntryHeaderKind), XR_OK);
  EXPECT_EQ(std::strlen(extractState.header.comment), CommentSize - 1);
}

TEST_F(HeadersTest, ChecksEntriesInOrderAndSkipsTheirData) {
  struct Case {
    unsigned minVersion, flags, method, archiverVersion, fileType;
    ExtractResult expected;
  } cases[] = {
      {4, 1, 1, 7, 0, XR_VERSION},                               // version before encryption
      {3, 1, 9, 7, 0, XR_ENCRYPTED},                             // encryption before method
      {1, 0, 5, 7, 3, XR_METHOD},                                // method before file type
      {1, 0, 4, 1, 0, XR_METHOD},       {1, 0, 4, 7, 0, XR_OK},  // refused later, once the file exists
      {1, 0, 0, 7, 0, XR_OK},           {1, 0, 1, 7, 2, XR_FILE_TYPE}, {1, 0, 3, 7, 3, XR_FILE_TYPE},
      {1, 0, 1, 7, 0x81, XR_FILE_TYPE}, {3, 0xFE, 2, 1, 1, XR_OK},  // other flag bits mean nothing here
  };
  for (const Case &c : cases) {
    Open(Bytes(100, 0));
    extractState.header.minVersion = c.minVersion;
    extractState.header.flags = c.flags;
    extractState.header.method = static_cast<std::uint16_t>(c.method);
    extractState.header.archiverVersion = c.archiverVersion;
    extractState.header.fileType = c.fileType;
    extractState.compressedLeft = 40;
    EXPECT_EQ(CheckEntry(), c.expected) << c.minVersion << ' ' << c.flags << ' ' << c.method;
    EXPECT_EQ(TellSetupStream(), c.expected == XR_OK ? 0 : 40);
  }
}

}  // namespace
