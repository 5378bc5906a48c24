// Helpers for the extraction tests: a most-significant-bit-first bit writer,
// hand-built headers and archives, temporary directories and file access.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "extract_internal.h"
#include "reference_crc.h"

typedef std::vector<unsigned char> Bytes;

// Writes fields in the stream's bit order: each value's top bit first.
struct BitWriter {
  Bytes bytes;
  unsigned bitCount = 0;
  void Put(unsigned value, unsigned bits);
  void PutCode(const std::vector<unsigned> &codes, const std::vector<unsigned> &lengths, unsigned symbol);
};

// Canonical codes for the given lengths (0 = unused).
std::vector<unsigned> CanonicalCodes(const std::vector<unsigned> &lengths);

// Writes a short length list (pre-code or distance code) in the stream format;
// zeroRunAfter 3 for the pre-code, -1 for the distance code. Uses a zero run
// of zeroRun lengths when given.
void PutShortList(BitWriter &bw, const std::vector<unsigned> &lengths, int zeroRunAfter,
                  unsigned zeroRun = 0);

// Writes one block header: symbol count, a pre-code (all 16 lengths coded
// with pre-code symbols 3..18, single zeros as symbol 0), the literal/length
// lengths and the distance lengths. Returns nothing; codes for the symbols
// follow from CanonicalCodes of the same lengths.
struct BlockCodes {
  std::vector<unsigned> literalLengths;   // 510
  std::vector<unsigned> distanceLengths;  // 17
  std::vector<unsigned> literalCodes;
  std::vector<unsigned> distanceCodes;
};
BlockCodes PutBlockHeader(BitWriter &bw, unsigned symbolCount, const std::vector<unsigned> &literalLengths,
                          const std::vector<unsigned> &distanceLengths);
void PutLiteral(BitWriter &bw, const BlockCodes &codes, unsigned byte);
void PutMatch(BitWriter &bw, const BlockCodes &codes, unsigned length, unsigned distance);

// A block that needs no code bits: every symbol is literal `byte`.
void PutSingleValueBlock(BitWriter &bw, unsigned symbolCount, unsigned literal);

// One header's bytes: id, size, basic header, CRC, extended size 0.
struct HeaderFields {
  unsigned firstHeaderSize = 30;
  unsigned archiverVersion = 7;
  unsigned minVersion = 1;
  unsigned hostOs = 0;
  unsigned flags = 0;
  unsigned method = 1;
  unsigned fileType = 0;
  std::uint32_t timestamp = 0;
  std::uint32_t compressedSize = 0;
  std::uint32_t fileSize = 0;
  std::uint32_t fileCrc = 0;
  int entryPos = 0;
  std::string name = "FILE.BIN";
  std::string comment;
  Bytes extended;  // one extended header when not empty
};
Bytes BasicHeader(const HeaderFields &f);
Bytes FramedHeader(const Bytes &basic, const Bytes *extended = nullptr);
Bytes EndMarker();
inline std::uint32_t Crc32(const Bytes &data) { return Crc32(0, data.data(), data.size()); }

// A whole archive: main header, entries (header + data), end marker.
struct TestEntry {
  HeaderFields fields;
  Bytes data;  // compressed bytes; sizes filled in unless set
  bool keepSizes = false;
};
Bytes MainHeaderBytes();
Bytes ArchiveBytes(const std::vector<TestEntry> &entries);
// An entry whose compressed data decode to `content` (single-value blocks
// and literal blocks), ready for ArchiveBytes.
TestEntry StoredAsLiterals(const std::string &name, const Bytes &content, unsigned fileType = 0);

// Something that looks like an executable image and holds no archive.
Bytes StandInImage(std::size_t size = 40000);

Bytes ReadFileBytes(const std::filesystem::path &path);
void WriteFileBytes(const std::filesystem::path &path, const Bytes &bytes);
std::string PathString(const std::filesystem::path &path);    // native string, '/' or '\'
std::string DestinationOf(const std::filesystem::path &dir);  // with the trailing separator
std::filesystem::path FixturesDir();                          // empty when absent

#ifdef __linux__
// The process's open file descriptors, to show that nothing stays open.
int OpenDescriptors();
#endif

// Runs code that may raise; returns the raised code or XR_OK.
template <class F>
ExtractResult Guarded(F body) {
  return RunGuarded([](void *context) { (*static_cast<F *>(context))(); }, &body);
}

// Lays the bytes out as the setup stream with compressedLeft = the given
// count, as ReadHeader would leave them for an entry's data.
void LoadCompressed(const Bytes &bytes, std::uint32_t compressedLeft);
void UnloadCompressed();

class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::filesystem::path dir;
};
