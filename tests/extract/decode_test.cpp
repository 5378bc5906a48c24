#include <random>

#include "test_support.h"

namespace {

// Decodes `compressed` as one entry of `fileSize` bytes into a file and
// returns the raised code and the bytes that reached the file.
struct Decoded {
  ExtractResult result;
  Bytes bytes;
  std::int64_t streamPosition;
};

class DecodeTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    ClearDecodeTables();
    BuildCrcTable();
  }
  void TearDown() override {
    UnloadCompressed();
    TempDirTest::TearDown();
  }

  Decoded Decode(const Bytes &compressed, std::int32_t fileSize) {
    LoadCompressed(compressed, static_cast<std::uint32_t>(compressed.size()));
    EntryHeader &h = extractState.header;
    h.fileSize = fileSize;
    h.fileType = 0;
    h.hostOs = 0;
    std::filesystem::path out = dir / "out.bin";
    extractState.outputStream = std::fopen(PathString(out).c_str(), "wb");
    extractState.runningCrc = 0xFFFFFFFFu;
    Decoded d;
    d.result = Guarded([] { DecodeMethod123(); });
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

Bytes Encode(const std::vector<Op> &ops, const std::vector<std::size_t> &blockSizes) {
  BitWriter bw;
  std::size_t next = 0;
  for (std::size_t size : blockSizes) {
    BlockCodes codes =
        PutBlockHeader(bw, static_cast<unsigned>(size), FullLiteralLengths(), FullDistanceLengths());
    for (std::size_t i = 0; i < size && next < ops.size(); i++, next++) {
      if (ops[next].length == 0)
        PutLiteral(bw, codes, ops[next].value);
      else
        PutMatch(bw, codes, ops[next].length, ops[next].value);
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
  std::uint32_t crc = ~extractState.runningCrc;  // read before anything else sets the register
  EXPECT_EQ(crc, ReferenceCrc32(Bytes(10, 'x')));
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

TEST_F(DecodeTest, LastMatchIsWrittenWholePastTheFileSize) {
  Bytes compressed = Encode({{0, 'a'}, {10, 0}}, {2});
  Decoded d = Decode(compressed, 4);
  EXPECT_EQ(d.result, XR_OK);
  EXPECT_EQ(d.bytes, Bytes(11, 'a'));
}

TEST_F(DecodeTest, RefusesADistanceBeyondTheWindow) {
  for (unsigned distance : {26624u, 40000u, 65535u}) {
    Bytes compressed = Encode({{0, 'a'}, {3, distance}}, {2});
    EXPECT_EQ(Decode(compressed, 4).result, XR_BAD_TABLE) << distance;
  }
  Bytes compressed = Encode({{0, 'a'}, {3, 26623}}, {2});
  EXPECT_EQ(Decode(compressed, 4).result, XR_OK);
}

// Random literals and matches across many blocks and several windows: the
// window's wrap, both copy paths and block boundaries against the model.
TEST_F(DecodeTest, AgreesWithTheModelOverRandomStreams) {
  for (unsigned seed = 1; seed <= 6; seed++) {
    std::mt19937 random(seed);
    std::vector<Op> ops;
    std::size_t produced = 0;
    while (produced < 90000) {
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
    std::uint32_t crc = ~extractState.runningCrc;  // read before anything else sets the register
    EXPECT_EQ(crc, ReferenceCrc32(expected)) << "seed " << seed;
    EXPECT_EQ(d.streamPosition, static_cast<std::int64_t>(compressed.size()));
  }
}

TEST_F(DecodeTest, WindowSizedEntriesFlushOnWindowBoundaries) {
  for (std::int32_t size : {26623, 26624, 26625, 2 * 26624}) {
    BitWriter bw;
    PutSingleValueBlock(bw, static_cast<unsigned>(size), 'w');
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

}  // namespace
