// The archive seal: SHA-256 against the standard's published examples, and
// the check that lets the setup read only the archive its stub was sealed
// with, through an open source.
#include <cstring>
#include <string>

#include "seal.h"
#include "test_support.h"

namespace {

std::string Hex(const unsigned char *bytes, std::size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < n; i++) out += std::string{digits[bytes[i] >> 4], digits[bytes[i] & 15]};
  return out;
}

std::string Sha256Hex(const std::string &message, std::size_t chunk, std::size_t repeat = 1) {
  Sha256 hash;
  Sha256Start(&hash);
  for (std::size_t r = 0; r < repeat; r++)
    for (std::size_t i = 0; i < message.size(); i += chunk)
      Sha256Update(&hash, message.data() + i, std::min(chunk, message.size() - i));
  unsigned char digest[Sha256Size];
  Sha256Finish(&hash, digest);
  return Hex(digest, Sha256Size);
}

std::size_t ReadBytesAt(void *context, std::uint64_t offset, void *buffer, std::size_t length) {
  const Bytes &bytes = *static_cast<const Bytes *>(context);
  if (offset >= bytes.size()) return 0;
  std::size_t n = std::min<std::size_t>(length, bytes.size() - offset);
  std::memcpy(buffer, bytes.data() + offset, n);
  return n;
}

}  // namespace

// The examples published with the standard, fed whole and in odd pieces,
// and the million 'a's that cross every block boundary.
TEST(Sha256, MatchesThePublishedExamples) {
  struct Case {
    std::string message;
    std::size_t repeat;
    const char *digest;
  } cases[] = {
      {"abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrs"
       "mnopqrstnopqrstu",
       1, "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000, 'a'), 1000, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case &c : cases)
    for (std::size_t chunk : {std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{1000}})
      EXPECT_EQ(Sha256Hex(c.message, chunk, c.repeat), c.digest)
          << c.message.substr(0, 10) << " by " << chunk;
}

// A file is a stub, a sealed archive and what a signature appends; the
// extractor then sees the sealed bytes and nothing else.
TEST(ArchiveSeal, OnlyTheSealedArchiveIsRead) {
  Bytes archive = ArchiveBytes({StoredAsLiterals("A.TXT", Bytes{'o', 'k'})});
  Bytes stub = StandInImage(3000);
  Bytes file = stub;
  file.insert(file.end(), archive.begin(), archive.end());
  Bytes signature(600, 0x60);  // id bytes a scan could be fooled by
  file.insert(file.end(), signature.begin(), signature.end());

  unsigned char block[SealSize] = {KELVRA_SEAL_MAGIC};
  ArchiveSeal empty;
  EXPECT_FALSE(ReadSeal(block, &empty));  // as built: no archive to accept
  ArchiveSeal seal{stub.size(), archive.size(), {}};
  Sha256 hash;
  Sha256Start(&hash);
  Sha256Update(&hash, archive.data(), archive.size());
  Sha256Finish(&hash, seal.digest);
  WriteSeal(block, seal);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(block), SealMagicSize), "Kelvra sealed v1");
  ArchiveSeal read;
  ASSERT_TRUE(ReadSeal(block, &read));
  EXPECT_EQ(read.offset, seal.offset);
  EXPECT_EQ(read.length, seal.length);

  SetupSource source{ReadBytesAt, &file, 0, file.size()};
  EXPECT_EQ(CheckSeal(&source, read), XR_OK);
  SetupSource sealed = SealedArchive(&source, read);
  auto dir = std::filesystem::path(testing::TempDir()) / "sealed-out";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  ASSERT_EQ(ExtractArchiveFrom(&sealed, DestinationOf(dir).c_str()), XR_OK);
  EXPECT_EQ(ReadFileBytes(dir / "A.TXT"), (Bytes{'o', 'k'}));
  int entries = 0;
  EXPECT_EQ(ListArchiveFrom(
                &sealed, [](const ArchiveEntryInfo *, void *n) { ++*static_cast<int *>(n); }, &entries),
            XR_OK);
  EXPECT_EQ(entries, 1);
  EXPECT_EQ(ExtractArchiveFrom(nullptr, DestinationOf(dir).c_str()), XR_OPEN_SETUP);

  // Another archive in its place, one byte changed, or the file cut short.
  Bytes swapped = file;
  swapped[stub.size() + archive.size() / 2] ^= 1;
  SetupSource other{ReadBytesAt, &swapped, 0, swapped.size()};
  EXPECT_EQ(CheckSeal(&other, read), XR_NO_ARCHIVE);
  Bytes cut(file.begin(), file.begin() + stub.size() + archive.size() - 1);
  SetupSource shorter{ReadBytesAt, &cut, 0, cut.size()};
  EXPECT_EQ(CheckSeal(&shorter, read), XR_EOF);
  ArchiveSeal moved = read;
  moved.offset += 1;
  EXPECT_EQ(CheckSeal(&source, moved), XR_NO_ARCHIVE);
}
