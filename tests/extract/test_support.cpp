#include "test_support.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

#ifdef __linux__
#include <dirent.h>
#endif

void BitWriter::Put(unsigned value, unsigned bits) {
  for (unsigned i = bits; i-- > 0;) {
    if (bitCount % 8 == 0) bytes.push_back(0);
    if ((value >> i) & 1) bytes.back() |= static_cast<unsigned char>(0x80 >> (bitCount % 8));
    bitCount++;
  }
}

void BitWriter::PutCode(const std::vector<unsigned> &codes, const std::vector<unsigned> &lengths,
                        unsigned symbol) {
  ASSERT_LT(symbol, lengths.size());
  ASSERT_NE(lengths[symbol], 0u) << "symbol " << symbol << " has no code";
  Put(codes[symbol], lengths[symbol]);
}

std::vector<unsigned> CanonicalCodes(const std::vector<unsigned> &lengths) {
  std::vector<unsigned> codes(lengths.size(), 0);
  unsigned code = 0;
  for (unsigned L = 1; L <= 16; L++) {
    for (std::size_t s = 0; s < lengths.size(); s++)
      if (lengths[s] == L) codes[s] = code++;
    code <<= 1;
  }
  return codes;
}

static unsigned UsedCount(const std::vector<unsigned> &lengths, unsigned *only) {
  unsigned used = 0;
  for (std::size_t s = 0; s < lengths.size(); s++)
    if (lengths[s]) {
      used++;
      *only = static_cast<unsigned>(s);
    }
  return used;
}

static void PutLength(BitWriter &bw, unsigned x) {
  if (x < 7) {
    bw.Put(x, 3);
  } else {
    bw.Put(7, 3);
    bw.Put((1u << (x - 7)) - 1, x - 7);
    bw.Put(0, 1);
  }
}

void PutShortList(BitWriter &bw, const std::vector<unsigned> &lengths, int zeroRunAfter, unsigned zeroRun) {
  unsigned n = static_cast<unsigned>(lengths.size());
  bw.Put(n, 5);
  for (unsigned i = 0; i < n;) {
    PutLength(bw, lengths[i++]);
    if (static_cast<int>(i) == zeroRunAfter) {
      bw.Put(zeroRun, 2);
      i += zeroRun;
    }
  }
}

// A complete code over the used symbols: the first 2^k - m get k - 1 bits.
static std::vector<unsigned> BalancedLengthsFor(const std::vector<unsigned> &used, unsigned count) {
  std::vector<unsigned> lengths(count, 0);
  unsigned m = static_cast<unsigned>(used.size());
  if (m < 2) {
    if (m == 1) lengths[used[0]] = 1;
    return lengths;
  }
  unsigned k = 0;
  while ((1u << k) < m) k++;
  unsigned shorter = (1u << k) - m;
  for (unsigned i = 0; i < m; i++) lengths[used[i]] = i < shorter ? k - 1 : k;
  return lengths;
}

static std::vector<unsigned> Trimmed(std::vector<unsigned> lengths) {
  while (!lengths.empty() && lengths.back() == 0) lengths.pop_back();
  return lengths;
}

BlockCodes PutBlockHeader(BitWriter &bw, unsigned symbolCount, const std::vector<unsigned> &literalLengths,
                          const std::vector<unsigned> &distanceLengths) {
  BlockCodes codes;
  codes.literalLengths = literalLengths;
  codes.literalLengths.resize(arj::LiteralCount, 0);
  codes.distanceLengths = distanceLengths;
  codes.distanceLengths.resize(arj::DistanceCount, 0);
  bw.Put(symbolCount & 0xFFFF, 16);

  unsigned onlyLiteral = 0, onlyDistance = 0;
  unsigned literalUsed = UsedCount(codes.literalLengths, &onlyLiteral);
  std::vector<unsigned> literalList = Trimmed(codes.literalLengths);

  // Pre-code over the symbols the literal list needs: 0 for a zero, L + 2 for L.
  std::vector<unsigned> preUsed;
  std::vector<bool> seen(arj::PreCodeCount, false);
  for (unsigned L : literalList) {
    unsigned symbol = L == 0 ? 0 : L + 2;
    if (!seen[symbol]) seen[symbol] = true;
  }
  for (unsigned s = 0; s < arj::PreCodeCount; s++)
    if (seen[s]) preUsed.push_back(s);
  std::vector<unsigned> preLengths = BalancedLengthsFor(preUsed, arj::PreCodeCount);
  std::vector<unsigned> preCodes = CanonicalCodes(preLengths);

  if (literalUsed <= 1 || preUsed.size() <= 1) {
    bw.Put(0, 5);
    bw.Put(preUsed.empty() ? 0 : preUsed[0], 5);
  } else {
    PutShortList(bw, Trimmed(preLengths), 3);
  }

  if (literalUsed == 1) {
    bw.Put(0, 9);
    bw.Put(onlyLiteral, 9);
  } else {
    bw.Put(static_cast<unsigned>(literalList.size()), 9);
    for (unsigned L : literalList) {
      unsigned symbol = L == 0 ? 0 : L + 2;
      if (preUsed.size() > 1) bw.PutCode(preCodes, preLengths, symbol);
    }
  }

  if (UsedCount(codes.distanceLengths, &onlyDistance) <= 1) {
    bw.Put(0, 5);
    bw.Put(onlyDistance, 5);
  } else {
    PutShortList(bw, Trimmed(codes.distanceLengths), -1);
  }
  codes.literalCodes = CanonicalCodes(codes.literalLengths);
  codes.distanceCodes = CanonicalCodes(codes.distanceLengths);
  return codes;
}

static void PutSymbol(BitWriter &bw, const std::vector<unsigned> &codes, const std::vector<unsigned> &lengths,
                      unsigned symbol) {
  unsigned only = 0;
  if (UsedCount(lengths, &only) == 1) {
    EXPECT_EQ(only, symbol) << "single-value code cannot send another symbol";
    return;
  }
  bw.PutCode(codes, lengths, symbol);
}

void PutLiteral(BitWriter &bw, const BlockCodes &codes, unsigned byte) {
  PutSymbol(bw, codes.literalCodes, codes.literalLengths, byte);
}

void PutMatch(BitWriter &bw, const BlockCodes &codes, unsigned length, unsigned distance) {
  PutSymbol(bw, codes.literalCodes, codes.literalLengths, length + 256 - arj::MinMatch);
  unsigned c = 0;
  while ((distance >> c) != 0) c++;
  PutSymbol(bw, codes.distanceCodes, codes.distanceLengths, c);
  if (c > 1) bw.Put(distance - (1u << (c - 1)), c - 1);
}

void PutSingleValueBlock(BitWriter &bw, unsigned symbolCount, unsigned literal) {
  bw.Put(symbolCount & 0xFFFF, 16);
  bw.Put(0, 5);  // pre-code: single-value form
  bw.Put(0, 5);
  bw.Put(0, 9);  // literal/length code: single-value form
  bw.Put(literal, 9);
  bw.Put(0, 5);  // distance code: single-value form
  bw.Put(0, 5);
}

static void Put16(Bytes &b, unsigned v) {
  b.push_back(v & 0xFF);
  b.push_back((v >> 8) & 0xFF);
}

static void Put32(Bytes &b, std::uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

Bytes BasicHeader(const HeaderFields &f) {
  Bytes b;
  b.push_back(static_cast<unsigned char>(f.firstHeaderSize));
  b.push_back(static_cast<unsigned char>(f.archiverVersion));
  b.push_back(static_cast<unsigned char>(f.minVersion));
  b.push_back(static_cast<unsigned char>(f.hostOs));
  b.push_back(static_cast<unsigned char>(f.flags));
  b.push_back(static_cast<unsigned char>(f.method));
  b.push_back(static_cast<unsigned char>(f.fileType));
  b.push_back(0);
  Put32(b, f.timestamp);
  Put32(b, f.compressedSize);
  Put32(b, f.fileSize);
  Put32(b, f.fileCrc);
  Put16(b, static_cast<unsigned>(f.entryPos) & 0xFFFF);
  Put16(b, 0x20);
  Put16(b, 0);
  b.resize(f.firstHeaderSize > b.size() ? f.firstHeaderSize : b.size(), 0);
  b.insert(b.end(), f.name.begin(), f.name.end());
  b.push_back(0);
  b.insert(b.end(), f.comment.begin(), f.comment.end());
  b.push_back(0);
  return b;
}

Bytes FramedHeader(const Bytes &basic, const Bytes *extended) {
  Bytes b;
  Put16(b, arj::HeaderId);
  Put16(b, static_cast<unsigned>(basic.size()));
  b.insert(b.end(), basic.begin(), basic.end());
  Put32(b, Crc32(basic));
  if (extended && !extended->empty()) {
    Put16(b, static_cast<unsigned>(extended->size()));
    b.insert(b.end(), extended->begin(), extended->end());
    Put32(b, Crc32(*extended));
  }
  Put16(b, 0);
  return b;
}

Bytes EndMarker() { return Bytes{0x60, 0xEA, 0x00, 0x00}; }

Bytes MainHeaderBytes() {
  HeaderFields main;
  main.fileType = arj::FileTypeMain;
  main.method = 0;
  main.name = "TEST.ARJ";
  return FramedHeader(BasicHeader(main));
}

Bytes ArchiveBytes(const std::vector<TestEntry> &entries) {
  Bytes archive = MainHeaderBytes();
  for (const TestEntry &e : entries) {
    HeaderFields f = e.fields;
    if (!e.keepSizes) f.compressedSize = static_cast<std::uint32_t>(e.data.size());
    Bytes header = FramedHeader(BasicHeader(f), &f.extended);
    archive.insert(archive.end(), header.begin(), header.end());
    archive.insert(archive.end(), e.data.begin(), e.data.end());
  }
  Bytes end = EndMarker();
  archive.insert(archive.end(), end.begin(), end.end());
  archive.push_back('\r');
  archive.push_back('\n');
  return archive;
}

TestEntry StoredAsLiterals(const std::string &name, const Bytes &content, unsigned fileType) {
  // Every literal gets 8 bits, so each byte is coded as itself; the
  // pre-code has one symbol (length 8) and takes the single-value form.
  BitWriter bw;
  for (std::size_t done = 0; done < content.size() || done == 0;) {
    std::size_t n = content.size() - done;
    if (n > 65535) n = 65535;
    bw.Put(static_cast<unsigned>(n), 16);
    bw.Put(0, 5);
    bw.Put(8 + 2, 5);
    bw.Put(256, 9);
    bw.Put(0, 5);
    bw.Put(0, 5);
    for (std::size_t i = 0; i < n; i++) bw.Put(content[done + i], 8);
    done += n;
    if (content.empty()) break;
  }
  TestEntry e;
  e.fields.name = name;
  e.fields.fileType = fileType;
  e.fields.fileSize = static_cast<std::uint32_t>(content.size());
  e.fields.fileCrc = Crc32(content);
  e.data = content.empty() ? Bytes() : bw.bytes;
  return e;
}

Bytes StandInImage(std::size_t size) {
  // "MZ", a PE offset, then deterministic noise with the header id's first
  // byte sprinkled in so the scan has candidates to pass over.
  Bytes image(size, 0);
  std::mt19937 random(12345);
  for (auto &b : image) b = static_cast<unsigned char>(random());
  for (std::size_t i = 0; i + 1 < size; i++)
    if (image[i] == 0x60 && image[i + 1] == 0xEA) image[i + 1] = 0xEB;
  image[0] = 'M';
  image[1] = 'Z';
  return image;
}

Bytes ReadFileBytes(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path &path, const Bytes &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string PathString(const std::filesystem::path &path) { return path.string(); }

std::string DestinationOf(const std::filesystem::path &dir) {
  std::string s = dir.string();
#ifdef _WIN32
  s += '\\';
#else
  s += '/';
#endif
  return s;
}

std::filesystem::path FixturesDir() {
  std::string dir = KELVRA_FIXTURES_DIR;
#ifdef _WIN32
  // Under Wine the host's root is drive Z:.
  if (!dir.empty() && dir[0] == '/') dir = "Z:" + dir;
#endif
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) return {};
  return std::filesystem::canonical(dir, ec);
}

static std::filesystem::path compressedFile;

void LoadCompressed(const Bytes &bytes, std::uint32_t compressedLeft) {
  UnloadCompressed();
  compressedFile = std::filesystem::temp_directory_path() /
                   ("kelvra-bits-" + std::to_string(reinterpret_cast<std::uintptr_t>(&compressedFile)));
  WriteFileBytes(compressedFile, bytes);
  ASSERT_TRUE(OpenSetupStream(PathString(compressedFile).c_str()));
  extractState.compressedLeft = compressedLeft;
}

void UnloadCompressed() {
  CloseSetupStream();
  if (!compressedFile.empty()) std::filesystem::remove(compressedFile);
  compressedFile.clear();
}

void TempDirTest::SetUp() {
  static unsigned serial = 0;
  const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
  dir = std::filesystem::temp_directory_path() /
        ("kelvra-test-" + std::string(info->test_suite_name()) + "-" + info->name() + "-" +
         std::to_string(++serial) + "-" + std::to_string(std::random_device()() % 1000000));
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  std::filesystem::create_directories(dir);
}

void TempDirTest::TearDown() {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

#ifdef __linux__
int OpenDescriptors() {
  int n = 0;
  DIR *d = opendir("/proc/self/fd");
  while (readdir(d)) n++;
  closedir(d);
  return n;
}
#endif
