#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "test_support.h"

namespace {

// Decodes `compressed` as one entry of `fileSize` bytes into a file and
// returns the raised code and the bytes that reached the file.
struct Decoded {
  ExtractResult result;
  Bytes bytes;
  std::uint32_t crc;  // what the decoder returned
  std::int64_t streamPosition;
};

class DecodeTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    ClearDecodeTables();
  }
  void TearDown() override {
    UnloadCompressed();
    TempDirTest::TearDown();
  }

  // declared: the entry's compressed size when it differs from the bytes present.
  Decoded Decode(const Bytes &compressed, std::int32_t fileSize, std::int64_t declared = -1) {
    LoadCompressed(compressed, static_cast<std::uint32_t>(declared < 0 ? compressed.size() : declared));
    EntryHeader &h = extractState.header;
    h.fileSize = fileSize;
    h.fileType = 0;
    h.hostOs = 0;
    std::filesystem::path out = dir / "out.bin";
    extractState.outputStream = std::fopen(PathString(out).c_str(), "wb");
    Decoded d{};
    d.result = Guarded([&d] { d.crc = DecodeMethod123(); });
    d.streamPosition = TellSetupStream();
    CloseOutputStream();
    ReleaseWindow();
    d.bytes = ReadFileBytes(out);
    return d;
  }
};

// A code over all 510 literal/length symbols (two of 8 bits, the rest 9)
// and all 17 distance symbols (fifteen of 4 bits, two of 5): every literal,
// length and distance can be sent.
std::vector<unsigned> FullLiteralLengths() {
  std::vector<unsigned> lengths(arj::LiteralCount, 9);
  lengths[0] = lengths[1] = 8;
  return lengths;
}

std::vector<unsigned> FullDistanceLengths() {
  std::vector<unsigned> lengths(arj::DistanceCount, 5);
  for (unsigned i = 0; i < 15; i++) lengths[i] = 4;
  return lengths;
}

struct Op {
  unsigned length;  // 0 for a literal
  unsigned value;   // the literal, or the distance value
};

// What the format means, written as plainly as possible: a match of
// distance d copies from d + 1 bytes back, and history before the first
// byte reads as zeros.
Bytes Model(const std::vector<Op> &ops) {
  Bytes out;
  for (const Op &op : ops) {
    if (op.length == 0) {
      out.push_back(static_cast<unsigned char>(op.value));
      continue;
    }
    for (unsigned k = 0; k < op.length; k++) {
      std::int64_t from = static_cast<std::int64_t>(out.size()) - op.value - 1;
      out.push_back(from < 0 ? 0 : out[from]);
    }
  }
  return out;
}

Bytes Encode(const std::vector<Op> &ops, const std::vector<std::size_t> &blockSizes,
             const std::vector<unsigned> &literalLengths = FullLiteralLengths(),
             const std::vector<unsigned> &distanceLengths = FullDistanceLengths(),
             std::vector<std::uint64_t> *bitsAfterOp = nullptr) {
  BitWriter bw;
  std::size_t next = 0;
  for (std::size_t size : blockSizes) {
    BlockCodes codes = PutBlockHeader(bw, static_cast<unsigned>(size), literalLengths, distanceLengths);
    for (std::size_t i = 0; i < size && next < ops.size(); i++, next++) {
      if (ops[next].length == 0)
        PutLiteral(bw, codes, ops[next].value);
      else
        PutMatch(bw, codes, ops[next].length, ops[next].value);
      if (bitsAfterOp) bitsAfterOp->push_back(bw.bitCount);
    }
  }
  return bw.bytes;
}

TEST_F(DecodeTest, SingleValueBlockRepeatsItsLiteral) {
  BitWriter bw;
  PutSingleValueBlock(bw, 10, 'x');
  Decoded d = Decode(bw.bytes, 10);
  EXPECT_EQ(d.result, XR_OK);
  EXPECT_EQ(d.bytes, Bytes(10, 'x'));
  EXPECT_EQ(d.crc, ReferenceCrc32(Bytes(10, 'x')));
}

TEST_F(DecodeTest, EntryWithoutCompressedBytesDecodesToZeros) {
  Decoded d = Decode({}, 70000);  // count 0 = 65536 symbols, then another block
  EXPECT_EQ(d.result, XR_OK);
  EXPECT_EQ(d.bytes, Bytes(70000, 0));
}

TEST_F(DecodeTest, EmptyEntryReadsNoBlockHeader) {
  BitWriter bw;
  PutSingleValueBlock(bw, 0, 'x');
  Decoded d = Decode(bw.bytes, 0);
  EXPECT_EQ(d.result, XR_OK);
  EXPECT_TRUE(d.bytes.empty());
  EXPECT_EQ(d.streamPosition, 2);  // the reader's first 16 bits only
}

TEST_F(DecodeTest, SymbolCountZeroMeans65536) {
  BitWriter bw;
  PutSingleValueBlock(bw, 0, 'a');
  PutSingleValueBlock(bw, 1, 'b');
  Decoded d = Decode(bw.bytes, 65537);
  ASSERT_EQ(d.result, XR_OK);
  ASSERT_EQ(d.bytes.size(), 65537u);
  EXPECT_EQ(d.bytes[65535], 'a');
  EXPECT_EQ(d.bytes[65536], 'b');
}

TEST_F(DecodeTest, SingleValueMatchCodeStillReadsDistances) {
  // Literal/length code: only symbol 256 (a match of 3); distance code:
  // two symbols, 0 and 1, one bit each.
  BitWriter bw;
  std::vector<unsigned> literal(arj::LiteralCount, 0);
  literal[256] = 1;
  BlockCodes codes = PutBlockHeader(bw, 2, literal, {1, 1});
  PutMatch(bw, codes, 3, 0);
  PutMatch(bw, codes, 3, 1);
  Decoded d = Decode(bw.bytes, 6);
  EXPECT_EQ(d.result, XR_OK);
  EXPECT_EQ(d.bytes, Bytes(6, 0));
  EXPECT_EQ(d.streamPosition, static_cast<std::int64_t>(bw.bytes.size()));
}

TEST_F(DecodeTest, MatchesCopyOverlappingAndFromBeforeTheStart) {
  struct Case {
    const char *what;
    std::vector<Op> ops;
    std::string expected;
  } cases[] = {
      {"distance 0 repeats the last byte", {{0, 'a'}, {5, 0}}, "aaaaaa"},
      {"overlap repeats a pair", {{0, 'a'}, {0, 'b'}, {6, 1}}, "abababab"},
      {"plain copy", {{0, 'x'}, {0, 'y'}, {0, 'z'}, {3, 2}}, "xyzxyz"},
      {"before the first byte reads zeros", {{0, 'q'}, {3, 2}}, std::string("q\0\0q", 4)},
  };
  for (const Case &c : cases) {
    Bytes compressed = Encode(c.ops, {c.ops.size()});
    Decoded d = Decode(compressed, static_cast<std::int32_t>(c.expected.size()));
    EXPECT_EQ(d.result, XR_OK) << c.what;
    EXPECT_EQ(d.bytes, Bytes(c.expected.begin(), c.expected.end())) << c.what;
  }
}

// The output and its CRC end at the entry's size, also where the match
// would have filled a chunk; the stream still stands after the whole match.
TEST_F(DecodeTest, LastMatchStopsAtTheFileSize) {
  std::vector<Op> acrossAChunk(106, {256, 0});  // 26,881 bytes
  acrossAChunk[0] = {0, 'a'};
  struct Case {
    std::vector<Op> ops;
    std::int32_t fileSize;
  } cases[] = {
      {{{0, 'a'}, {10, 0}}, 5}, {acrossAChunk, arj::WindowSize - 1}, {acrossAChunk, arj::WindowSize + 2}};
  for (const Case &c : cases) {
    Bytes compressed = Encode(c.ops, {c.ops.size()});
    Bytes expected = Model(c.ops);
    ASSERT_GT(expected.size(), static_cast<std::size_t>(c.fileSize) + 2);
    expected.resize(c.fileSize);
    Decoded d = Decode(compressed, c.fileSize);
    EXPECT_EQ(d.result, XR_OK) << c.fileSize;
    EXPECT_EQ(d.bytes, expected) << c.fileSize;
    EXPECT_EQ(d.crc, ReferenceCrc32(expected)) << c.fileSize;
    EXPECT_EQ(d.streamPosition, static_cast<std::int64_t>(compressed.size())) << c.fileSize;
  }
}

TEST_F(DecodeTest, RefusesADistanceBeyondTheWindow) {
  for (unsigned distance : {26624u, 40000u, 65535u}) {
    Bytes compressed = Encode({{0, 'a'}, {3, distance}}, {2});
    EXPECT_EQ(Decode(compressed, 4).result, XR_BAD_TABLE) << distance;
  }
  Bytes compressed = Encode({{0, 'a'}, {3, 26623}}, {2});
  EXPECT_EQ(Decode(compressed, 4).result, XR_OK);

  // Deep in one block, short of a full area: the file still holds the whole
  // windows decoded before the failing run.
  std::vector<Op> ops(60000, {0, 'a'});
  ops.push_back({3, 40000});
  Decoded d = Decode(Encode(ops, {ops.size()}), 3 * 26624);
  EXPECT_EQ(d.result, XR_BAD_TABLE);
  EXPECT_EQ(d.bytes, Bytes(2 * 26624, 'a'));
}

// Random literals and matches across many blocks and past the end of the
// output area: its wrap, both copy paths and block boundaries against the
// model.
TEST_F(DecodeTest, AgreesWithTheModelOverRandomStreams) {
  for (unsigned seed = 1; seed <= 6; seed++) {
    std::mt19937 random(seed);
    std::vector<Op> ops;
    std::size_t produced = 0;
    while (produced < DecodeAreaBytes + 90000) {
      if (random() % 3 == 0) {
        ops.push_back({0, static_cast<unsigned>(random() % 256)});
        produced++;
      } else {
        unsigned length = seed % 2 ? 3 + random() % 254 : 250 + random() % 7;
        unsigned distance = random() % 4 == 0 ? random() % 8 : random() % 26624;
        ops.push_back({length, distance});
        produced += length;
      }
    }
    std::vector<std::size_t> blocks;
    for (std::size_t left = ops.size(); left > 0;) {
      std::size_t n = 1 + random() % 3000;
      if (n > left) n = left;
      blocks.push_back(n);
      left -= n;
    }
    Bytes expected = Model(ops);
    Bytes compressed = Encode(ops, blocks);
    Decoded d = Decode(compressed, static_cast<std::int32_t>(expected.size()));
    ASSERT_EQ(d.result, XR_OK) << "seed " << seed;
    ASSERT_EQ(d.bytes.size(), expected.size()) << "seed " << seed;
    EXPECT_TRUE(d.bytes == expected) << "seed " << seed;
    EXPECT_EQ(d.crc, ReferenceCrc32(expected)) << "seed " << seed;
    EXPECT_EQ(d.streamPosition, static_cast<std::int64_t>(compressed.size()));
  }
}

// Lengths of a complete code with every symbol used and codes up to 16 bits:
// the leaves of a tree grown by splitting random leaves, deep ones first.
std::vector<unsigned> RandomCompleteLengths(std::mt19937 &random, unsigned count) {
  std::vector<unsigned> leaves = {0};
  while (leaves.size() < count) {
    std::size_t pick = random() % leaves.size();
    if (random() % 2) pick = std::max_element(leaves.begin(), leaves.end()) - leaves.begin();
    if (leaves[pick] == 16) pick = std::min_element(leaves.begin(), leaves.end()) - leaves.begin();
    leaves[pick]++;
    leaves.push_back(leaves[pick]);
  }
  std::shuffle(leaves.begin(), leaves.end(), random);
  return leaves;
}

// Codes longer than the lookup tables, distances under one copy group,
// enough output to move the history several times and enough compressed
// data to refill the read buffer: against the model.
TEST_F(DecodeTest, AgreesWithTheModelWithLongCodesAndShortDistances) {
  std::mt19937 random(11);
  std::vector<unsigned> literal = RandomCompleteLengths(random, arj::LiteralCount);
  std::vector<unsigned> distance = RandomCompleteLengths(random, arj::DistanceCount);
  ASSERT_GT(*std::max_element(literal.begin(), literal.end()), 12u);
  ASSERT_GT(*std::max_element(distance.begin(), distance.end()), 8u);
  std::vector<Op> ops;
  std::size_t produced = 0;
  while (produced < 400000) {
    if (random() % 3) {
      ops.push_back({0, static_cast<unsigned>(random() % 256)});
      produced++;
    } else {
      unsigned length = random() % 8 ? 3 + random() % 12 : 3 + random() % 254;
      unsigned d = random() % 3 ? random() % 20 : random() % 26624;
      ops.push_back({length, d});
      produced += length;
    }
  }
  std::vector<std::size_t> blocks;
  for (std::size_t left = ops.size(); left > 0;) {
    std::size_t n = std::min<std::size_t>(left, 1 + random() % 20000);
    blocks.push_back(n);
    left -= n;
  }
  Bytes expected = Model(ops);
  Bytes compressed = Encode(ops, blocks, literal, distance);
  ASSERT_GT(compressed.size(), std::size_t{InputBufferSize});
  Decoded d = Decode(compressed, static_cast<std::int32_t>(expected.size()));
  ASSERT_EQ(d.result, XR_OK);
  EXPECT_TRUE(d.bytes == expected);
  EXPECT_EQ(d.streamPosition, static_cast<std::int64_t>(compressed.size()));
}

// Bytes a truncated file cannot supply read as 0xFF, bytes past the entry
// as zeros whatever follows it, wherever the data stops.
TEST_F(DecodeTest, ReadsMissingBytesAsOnesAndBytesPastTheEntryAsZeros) {
  std::mt19937 random(5);
  std::vector<Op> ops;
  for (int i = 0; i < 3000; i++) {
    unsigned a = static_cast<unsigned>(random()), b = static_cast<unsigned>(random());
    ops.push_back(a % 2 ? Op{0, b % 256} : Op{3 + a / 2 % 20, b % 300});
  }
  Bytes compressed = Encode(ops, {ops.size()});
  const std::int32_t size = static_cast<std::int32_t>(Model(ops).size());
  for (std::size_t cut : {compressed.size() / 3, compressed.size() - 9, compressed.size() - 1}) {
    Bytes head(compressed.begin(), compressed.begin() + static_cast<std::ptrdiff_t>(cut));
    Bytes ones = head, followed = head;
    ones.resize(compressed.size(), 0xFF);
    followed.resize(compressed.size() + 16, 0xA5);
    Decoded truncated = Decode(head, size, static_cast<std::int64_t>(compressed.size()));
    Decoded padded = Decode(ones, size);
    EXPECT_EQ(truncated.result, padded.result) << cut;
    EXPECT_TRUE(truncated.bytes == padded.bytes) << cut;
    Decoded shortEntry = Decode(head, size);
    Decoded shortEntryFollowed = Decode(followed, size, static_cast<std::int64_t>(cut));
    EXPECT_EQ(shortEntry.result, shortEntryFollowed.result) << cut;
    EXPECT_TRUE(shortEntry.bytes == shortEntryFollowed.bytes) << cut;
    EXPECT_EQ(shortEntryFollowed.streamPosition, static_cast<std::int64_t>(cut));
  }
}

// An entry whose output ends before its data does leaves the stream 16 bits
// past the last bit used, whether the reader was in the middle of the read
// buffer, near its end or in a later one.
TEST_F(DecodeTest, StopsSixteenBitsPastTheLastBitUsed) {
  std::mt19937 random(8);
  std::vector<Op> ops;
  for (int i = 0; i < 120000; i++) ops.push_back({0, static_cast<unsigned>(random() % 256)});
  std::vector<std::uint64_t> bitsAfter;
  Bytes compressed = Encode(ops, {ops.size() / 2, ops.size() - ops.size() / 2}, FullLiteralLengths(),
                            FullDistanceLengths(), &bitsAfter);
  ASSERT_GT(compressed.size(), std::size_t{InputBufferSize});
  for (std::size_t count : {std::size_t{1}, std::size_t{4097}, std::size_t{58250}, std::size_t{58254},
                            std::size_t{61000}, std::size_t{119990}}) {
    Decoded d = Decode(compressed, static_cast<std::int32_t>(count));
    ASSERT_EQ(d.result, XR_OK) << count;
    std::uint64_t expected = std::min<std::uint64_t>((bitsAfter[count - 1] + 16 + 7) / 8, compressed.size());
    EXPECT_EQ(d.streamPosition, static_cast<std::int64_t>(expected)) << count << " literals";
  }
}

TEST_F(DecodeTest, WindowSizedEntriesFlushOnWindowBoundaries) {
  const auto area = static_cast<std::int32_t>(DecodeAreaBytes);
  for (std::int32_t size : {26623, 26624, 26625, 2 * 26624, area - 1, area, area + 1, 2 * area + 26624}) {
    BitWriter bw;
    for (std::int32_t left = size, n; left > 0; left -= n) {
      n = std::min(left, 65535);
      PutSingleValueBlock(bw, static_cast<unsigned>(n), 'w');
    }
    Decoded d = Decode(bw.bytes, size);
    EXPECT_EQ(d.result, XR_OK);
    EXPECT_EQ(d.bytes, Bytes(static_cast<std::size_t>(size), 'w')) << size;
  }
}

// Block headers that describe no usable code.
TEST_F(DecodeTest, RefusesUnusableBlockHeaders) {
  struct Case {
    const char *what;
    void (*write)(BitWriter &);
  } cases[] = {
      {"pre-code count beyond 19",
       [](BitWriter &bw) {
         bw.Put(1, 16);
         bw.Put(20, 5);
       }},
      {"pre-code single value 19",
       [](BitWriter &bw) {
         bw.Put(1, 16);
         bw.Put(0, 5);
         bw.Put(19, 5);
       }},
      {"pre-code length 20",
       [](BitWriter &bw) {
         bw.Put(1, 16);
         bw.Put(2, 5);
         bw.Put(0xFFFF, 16);  // 111 then thirteen 1 bits: length 20
       }},
      {"incomplete pre-code",
       [](BitWriter &bw) {
         bw.Put(1, 16);
         bw.Put(2, 5);
         bw.Put(1, 3);
         bw.Put(2, 3);
       }},
      {"literal count beyond 510",
       [](BitWriter &bw) {
         bw.Put(1, 16);
         bw.Put(0, 5);
         bw.Put(3, 5);  // pre-code: always "length 1"
         bw.Put(511, 9);
       }},
      {"literal single value 510",
       [](BitWriter &bw) {
         bw.Put(1, 16);
         bw.Put(0, 5);
         bw.Put(0, 5);
         bw.Put(0, 9);
         bw.Put(510, 9);
       }},
      {"zero run past symbol 509",
       [](BitWriter &bw) {
         bw.Put(1, 16);
         bw.Put(0, 5);
         bw.Put(2, 5);  // pre-code: always "long zero run"
         bw.Put(510, 9);
         bw.Put(500, 9);  // 520 zeros
       }},
      {"distance count beyond 17",
       [](BitWriter &bw) {
         bw.Put(1, 16);
         bw.Put(0, 5);
         bw.Put(0, 5);
         bw.Put(0, 9);
         bw.Put(65, 9);
         bw.Put(18, 5);
       }},
      {"distance single value 17",
       [](BitWriter &bw) {
         bw.Put(1, 16);
         bw.Put(0, 5);
         bw.Put(0, 5);
         bw.Put(0, 9);
         bw.Put(65, 9);
         bw.Put(0, 5);
         bw.Put(17, 5);
       }},
  };
  for (const Case &c : cases) {
    BitWriter bw;
    c.write(bw);
    bw.Put(0, 32);
    EXPECT_EQ(Decode(bw.bytes, 1).result, XR_BAD_TABLE) << c.what;
  }
}

TEST_F(DecodeTest, ReadsThePreCodeZeroRunOnlyFromTheThirdLength) {
  struct Case {
    std::vector<unsigned> lengths;
    unsigned zeroRun;
    unsigned bits;
  } cases[] = {
      {{1, 1}, 0, 5 + 3 + 3},
      {{1, 1, 0}, 0, 5 + 3 + 3 + 3 + 2},
      {{1, 0, 0, 0, 0, 0, 1}, 3, 5 + 3 + 3 + 3 + 2 + 3},
  };
  for (const Case &c : cases) {
    BitWriter bw;
    PutShortList(bw, c.lengths, 3, c.zeroRun);
    bw.Put(0, 16);
    LoadCompressed(bw.bytes, static_cast<std::uint32_t>(bw.bytes.size()));
    StartBitReader();
    ASSERT_EQ(Guarded([] { ReadPreLengths(arj::PreCodeCount, 5, 3); }), XR_OK);
    EXPECT_EQ(decoderState.bitsConsumed, c.bits);
    for (std::size_t i = 0; i < c.lengths.size(); i++) EXPECT_EQ(decoderState.auxLengths[i], c.lengths[i]);
  }
}

// The decoder as it stood when its steps were named is the reference for
// every later change, speed work above all: each input of the fuzz corpora,
// framed as the decode target frames it, and three deterministic mutations
// of it must give the recorded code, output, CRC and stream position.
// KELVRA_RECORD_DECODE_GOLDEN=1 rewrites the record from the corpora; do
// that only when the decoder is meant to change.
std::string DecodeOutcome(const Decoded &d) {
  std::ostringstream line;
  line << d.result << ' ' << std::hex << d.crc << ' ' << std::dec << d.bytes.size() << ' ' << std::hex
       << Crc32(d.bytes) << ' ' << std::dec << d.streamPosition << ' '
       << (d.result == XR_OK ? decoderState.bitsConsumed : 0);
  return line.str();
}

// 0 keeps the input; 1 flips a bit, 2 overwrites four bytes, 3 cuts the end.
Bytes Mutated(Bytes input, unsigned kind) {
  std::mt19937 random(kind * 1000003u + static_cast<unsigned>(input.size()));
  if (input.empty() || kind == 0) return input;
  if (kind == 1) input[random() % input.size()] ^= static_cast<unsigned char>(1u << (random() % 8));
  if (kind == 2)
    for (int i = 0; i < 4; i++) input[random() % input.size()] = static_cast<unsigned char>(random());
  if (kind == 3) input.resize(random() % input.size());
  return input;
}

TEST_F(DecodeTest, MatchesTheRecordedDecoderOverTheFuzzCorpora) {
  const bool record = std::getenv("KELVRA_RECORD_DECODE_GOLDEN") != nullptr;
  std::vector<std::string> names;
  if (record) {
    for (const char *corpus : {"decode", "extract"})
      for (const auto &e :
           std::filesystem::directory_iterator(std::filesystem::path(KELVRA_FUZZ_CORPUS) / corpus))
        names.push_back(std::string(corpus) + "/" + e.path().filename().string());
    std::sort(names.begin(), names.end());
  }
  std::ifstream golden(KELVRA_DECODE_GOLDEN);
  std::ostringstream written;
  std::string name, expected;
  std::size_t checked = 0;
  for (std::size_t n = 0;; n++) {
    unsigned kind = 0;
    if (record) {
      if (n == names.size() * 4) break;
      name = names[n / 4];
      kind = n % 4;
    } else if (!(golden >> name >> kind) || !std::getline(golden, expected)) {
      break;
    }
    Bytes input = Mutated(ReadFileBytes(std::filesystem::path(KELVRA_FUZZ_CORPUS) / name), kind);
    if (input.size() < 6) continue;
    // The decode target's framing: sizes from the first six bytes.
    std::int32_t fileSize = input[1] | input[2] << 8 | (input[3] & 0x03) << 16;
    std::int64_t declared = (input[0] & 0x80) ? input[4] | input[5] << 8 : -1;
    ClearDecodeTables();
    std::string outcome = DecodeOutcome(Decode(Bytes(input.begin() + 6, input.end()), fileSize, declared));
    if (record)
      written << name << ' ' << kind << ' ' << outcome << '\n';
    else
      EXPECT_EQ(outcome, expected.substr(1)) << name << " mutation " << kind;
    checked++;
  }
  if (record) std::ofstream(KELVRA_DECODE_GOLDEN) << written.str();
  EXPECT_GT(checked, 1000u);
}

}  // namespace
