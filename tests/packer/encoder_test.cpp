#include "packer_test_support.h"

namespace {

const PackLevel AllLevels[] = {PackFast, PackNormal, PackBest};

// What a reader makes of tokens: the reference the writer is held to.
Bytes ExpandTokens(const std::vector<Token> &tokens) {
  Bytes out;
  for (const Token &t : tokens) {
    if (t.symbol < 256) {
      out.push_back(static_cast<std::uint8_t>(t.symbol));
      continue;
    }
    std::size_t from = out.size() - t.distance - 1;
    for (unsigned i = 0; i < t.symbol - 253u; i++) {
      std::uint8_t b = out[from + i];
      out.push_back(b);
    }
  }
  return out;
}

std::vector<Token> Parse(const Bytes &data, PackLevel level, std::size_t segment) {
  std::vector<Token> tokens;
  ParserState *ps = StartParser(data.data(), data.size(), level);
  for (std::size_t begin = 0; begin < data.size(); begin += segment)
    ParseSegment(ps, begin, std::min(data.size(), begin + segment), &tokens);
  EndParser(ps);
  return tokens;
}

Bytes WriteBlocks(const std::vector<std::vector<Token>> &blocks) {
  Bytes out;
  BitWriter bw{&out, 0, 0};
  for (const auto &block : blocks) WriteBlock(bw, block.data(), block.size());
  FlushBits(bw);
  return out;
}

Bytes DataOfKind(int kind, std::size_t size, std::mt19937 &rng) {
  switch (kind) {
    case 0:
      return RandomBytes(rng, size);
    case 1:
      return Bytes(size, 0);
    case 2:
      return TextLike(rng, size, false);
    default:
      return MixedBytes(rng, size);
  }
}

}  // namespace

TEST_F(PackerTest, RoundTripsEverySizeKindAndLevel) {
  const std::size_t sizes[] = {0, 1, 2, 3, 4, 255, 26623, 26624, 26625, 65535, 65536, 65537, 200000};
  std::mt19937 rng(7);
  for (std::size_t size : sizes)
    for (int kind = 0; kind < 4; kind++) {
      Bytes data = DataOfKind(kind, size, rng);
      for (PackLevel level : AllLevels) {
        SCOPED_TRACE("size " + std::to_string(size) + " kind " + std::to_string(kind) + " level " +
                     std::to_string(level));
        Bytes back;
        EncodeStats stats;
        ASSERT_EQ(RoundTrip(data, level, &back, &stats), XR_OK);
        ASSERT_EQ(back, data);
        EXPECT_LE(stats.largestBlock, MaxBlockSymbols);
      }
    }
}

TEST_F(PackerTest, RoundTripsRandomMixturesWithFixedSeeds) {
  for (unsigned seed = 1; seed <= 12; seed++) {
    std::mt19937 rng(seed);
    Bytes data = MixedBytes(rng, 1 + rng() % 150000);
    for (PackLevel level : AllLevels) {
      SCOPED_TRACE("seed " + std::to_string(seed) + " level " + std::to_string(level));
      Bytes back;
      ASSERT_EQ(RoundTrip(data, level, &back), XR_OK);
      ASSERT_EQ(back, data);
    }
  }
}

TEST_F(PackerTest, RoundTripsAcrossSegmentsAndTheSplittersCarriedBlocks) {
  // Past the first segment of each level (best: 512 KiB, fast: 1 MiB), with
  // the kind of data changing inside segments and across their bounds.
  std::mt19937 rng(21);
  Bytes data;
  for (int part = 0; data.size() <= (1u << 20); part++) {
    Bytes piece = DataOfKind(part % 4 == 1 ? 3 : part % 4, 150000 + rng() % 5000, rng);
    data.insert(data.end(), piece.begin(), piece.end());
  }
  for (PackLevel level : {PackFast, PackBest}) {
    Bytes input(data.begin(), data.begin() + (level == PackBest ? 600000 : data.size()));
    Bytes back;
    EncodeStats stats;
    ASSERT_EQ(RoundTrip(input, level, &back, &stats), XR_OK) << "level " << level;
    ASSERT_EQ(back, input) << "level " << level;
    EXPECT_GT(stats.blocks, 1u);
    EXPECT_LE(stats.largestBlock, MaxBlockSymbols);
  }
}

TEST(PlanSplits, CoversTheTokensInReadableBlocksAndCutsWhereTheDataChanges) {
  std::mt19937 rng(13);
  Bytes text = TextLike(rng, 200000, false), noise = RandomBytes(rng, 120000);
  std::vector<Token> tokens = Parse(text, PackFast, 1 << 20);
  const std::size_t change = tokens.size();
  for (std::uint8_t b : noise) tokens.push_back(LiteralToken(b));
  std::vector<std::uint32_t> ends;
  std::uint64_t bits = PlanSplits(tokens.data(), tokens.size(), &ends);
  ASSERT_FALSE(ends.empty());
  EXPECT_EQ(ends.back(), tokens.size());
  std::uint64_t sum = 0, fixed = 0;
  bool cutNearChange = false;
  for (std::size_t b = 0, from = 0; b < ends.size(); from = ends[b++]) {
    ASSERT_GT(ends[b], from);
    ASSERT_LE(ends[b] - from, MaxBlockSymbols);
    BlockHistogram h;
    ClearHistogram(h);
    CountTokens(h, tokens.data() + from, ends[b] - from);
    sum += BlockBits(h);
    cutNearChange |= ends[b] + 256 >= change && ends[b] <= change + 256;
  }
  EXPECT_EQ(bits, sum);
  EXPECT_TRUE(cutNearChange);
  // The rough plan is what the refinement starts from; the last refinement
  // may only gain, and each counts the blocks it leaves exactly.
  std::vector<std::uint32_t> rough, finished = ends;
  EXPECT_GE(RoughSplits(tokens.data(), tokens.size(), &rough), bits);
  std::uint64_t finishedBits = FinishSplits(tokens.data(), &finished);
  EXPECT_LE(finishedBits, bits);
  EXPECT_EQ(finished.back(), tokens.size());
  for (std::size_t b = 0, from = 0; b < finished.size(); from = finished[b++]) {
    BlockHistogram h;
    ClearHistogram(h);
    CountTokens(h, tokens.data() + from, finished[b] - from);
    finishedBits -= BlockBits(h);
  }
  EXPECT_EQ(finishedBits, 0u);
  for (std::size_t from = 0; from < tokens.size(); from += MaxBlockSymbols) {
    BlockHistogram h;
    ClearHistogram(h);
    CountTokens(h, tokens.data() + from, std::min<std::size_t>(MaxBlockSymbols, tokens.size() - from));
    fixed += BlockBits(h);
  }
  EXPECT_LT(bits, fixed);
  EXPECT_EQ(PlanSplits(tokens.data(), 0, &ends), 0u);
  EXPECT_TRUE(ends.empty());
}

// The streaming splitter weighs whole chunks, so a change of data inside
// a chunk would leave part of it in the wrong block; the block it closes
// is cut where the change is.
TEST(BlockSplitter, CutsAClosedBlockWhereTheDataChangesInsideAChunk) {
  // Chunks are 512 symbols; the changes fall inside chunks, on their
  // starts, one past them, and far into long parts.
  const std::vector<std::size_t> cases[] = {
      {2760, 3000, 2900}, {2560, 3072, 2560}, {2561, 3073, 2559}, {9100, 700, 12000}, {300, 20000, 4700}};
  for (const std::vector<std::size_t> &lengths : cases) {
    std::mt19937 rng(5);
    std::vector<Token> tokens;
    std::vector<std::uint32_t> ends;
    for (std::size_t part = 0; part < lengths.size(); part++) {
      for (std::size_t i = 0; i < lengths[part]; i++)
        tokens.push_back(LiteralToken(part == 1 ? 128 + rng() % 128 : 'a' + rng() % 16));
      ends.push_back(static_cast<std::uint32_t>(tokens.size()));
    }
    std::uint64_t ideal = 0;
    for (std::size_t b = 0, from = 0; b < ends.size(); from = ends[b++]) {
      BlockHistogram h;
      ClearHistogram(h);
      CountTokens(h, tokens.data() + from, ends[b] - from);
      ideal += BlockBits(h);
    }
    Bytes out;
    BitWriter bw{&out, 0, 0};
    BlockSplitter bs;
    StartBlockSplitter(bs);
    AddTokens(bs, bw, tokens.data(), tokens.size());
    FinishBlocks(bs, bw);
    FlushBits(bw);
    SCOPED_TRACE("parts " + std::to_string(lengths[0]) + " " + std::to_string(lengths[1]) + " " +
                 std::to_string(lengths[2]));
    EXPECT_GE(bs.stats.blocks, 3u);
    EXPECT_LE(out.size() * 8, ideal + ideal / 64);  // whole chunks alone: 2.8% more
  }
}

TEST(ParseSegment, TokensRebuildTheInputWithinTheWindow) {
  std::mt19937 rng(3);
  for (int kind = 0; kind < 4; kind++) {
    Bytes data = DataOfKind(kind, 120000, rng);
    for (PackLevel level : AllLevels)
      for (std::size_t segment : {std::size_t(1000), std::size_t(1) << 20}) {
        std::vector<Token> tokens = Parse(data, level, segment);
        std::size_t pos = 0;
        for (const Token &t : tokens) {
          if (t.symbol >= 256) {
            ASSERT_LE(t.distance, arj::MaxDistance);
            ASSERT_LT(t.distance, pos) << "match reaches before the first byte";
          }
          pos += t.symbol < 256 ? 1 : t.symbol - 253u;
        }
        ASSERT_EQ(ExpandTokens(tokens), data) << "kind " << kind << " level " << level;
        if (level == PackBest && widePricing) {
          // The processor's wide pricing must find the very same path.
          widePricing = false;
          std::vector<Token> narrow = Parse(data, level, segment);
          widePricing = true;
          ASSERT_TRUE(narrow.size() == tokens.size() &&
                      std::memcmp(narrow.data(), tokens.data(), tokens.size() * sizeof(Token)) == 0)
              << "kind " << kind << " segment " << segment;
        }
      }
  }
}

// Words of seven bytes from a small vocabulary, each after a random byte:
// the repeats run seven or eight bytes and seldom eleven, so the fast and
// normal levels find them only on their chains of four-byte prefixes.
TEST(ParseSegment, FindsTheRepeatsThatAreTooShortForTheLongChains) {
  std::mt19937 rng(12);
  std::vector<Bytes> words;
  for (int w = 0; w < 64; w++) words.push_back(RandomBytes(rng, 7));
  Bytes data;
  while (data.size() < 200000) {
    data.push_back(static_cast<std::uint8_t>(rng()));
    const Bytes &word = words[rng() % words.size()];
    data.insert(data.end(), word.begin(), word.end());
  }
  for (PackLevel level : AllLevels) {
    std::size_t covered = 0;
    for (const Token &t : Parse(data, level, 1 << 20))
      if (t.symbol >= 256 && t.symbol - 253u >= 4) covered += t.symbol - 253u;
    EXPECT_GT(covered, data.size() * 5 / 6) << "level " << level << " covered " << covered;
  }
}

TEST(ParseSegment, CopiesARepeatWholeFromItsNearestEarlierPlace) {
  std::mt19937 rng(8);
  Bytes piece = RandomBytes(rng, 3000), data = piece;
  data.insert(data.end(), piece.begin(), piece.end());
  data.insert(data.end(), piece.begin(), piece.end());  // the second copy is the nearer one for the third
  for (PackLevel level : AllLevels) {
    std::vector<Token> tokens = Parse(data, level, 1 << 20);
    std::size_t pos = 0, copied = 0;
    for (const Token &t : tokens) {
      std::size_t length = t.symbol < 256 ? 1 : t.symbol - 253u;
      if (pos >= piece.size() && t.symbol >= 256) {
        EXPECT_EQ(t.distance, piece.size() - 1) << "level " << level << " at " << pos;
        copied += length;
      }
      pos += length;
    }
    EXPECT_EQ(copied, 2 * piece.size()) << "level " << level;
  }
}

// Four-byte chains cannot see a three-byte repeat; a near one still saves
// a few bits over three literals at every level.
TEST(ParseSegment, CopiesANearThreeByteRepeat) {
  std::mt19937 rng(21);
  Bytes data = RandomBytes(rng, 6000);
  std::copy(data.begin() + 1000, data.begin() + 1003, data.begin() + 1100);
  data[1099] = static_cast<std::uint8_t>(data[999] + 1);
  data[1103] = static_cast<std::uint8_t>(data[1003] + 1);
  for (PackLevel level : AllLevels) {
    std::vector<Token> tokens = Parse(data, level, 1 << 20);
    std::size_t pos = 0;
    bool copied = false;
    for (const Token &t : tokens) {
      if (pos == 1100) copied = t.symbol == 256 && t.distance == 99;
      pos += t.symbol < 256 ? 1 : t.symbol - 253u;
    }
    EXPECT_TRUE(copied) << "level " << level;
  }
}

TEST(ParseSegment, ReachesTheWholeWindowButNoFurther) {
  std::mt19937 rng(5);
  for (std::size_t gap : {std::size_t(arj::WindowSize), std::size_t(arj::WindowSize) + 1}) {
    Bytes data = RandomBytes(rng, gap);
    data.insert(data.end(), data.begin(), data.begin() + 256);
    for (PackLevel level : AllLevels) {
      std::vector<Token> tokens = Parse(data, level, 1 << 20);
      bool farthest = false;
      for (const Token &t : tokens) farthest |= t.symbol >= 256 && t.distance == arj::MaxDistance;
      EXPECT_EQ(farthest, gap == arj::WindowSize) << "gap " << gap << " level " << level;
      EXPECT_EQ(ExpandTokens(tokens), data);
    }
  }
}

TEST_F(PackerTest, BlocksOfTheLargestSymbolCountRoundTrip) {
  std::mt19937 rng(11);
  for (std::size_t count : {std::size_t(65535), std::size_t(65536), std::size_t(131071)}) {
    std::vector<Token> tokens;
    for (std::size_t i = 0; i < count; i++)
      tokens.push_back(i > 10 && i % 7 == 0 ? MatchToken(3 + rng() % 254, rng() % 10) : LiteralToken(rng()));
    Bytes stream;
    BitWriter bw{&stream, 0, 0};
    WriteFixedBlocks(bw, tokens.data(), tokens.size(), MaxBlockSymbols);
    FlushBits(bw);
    EXPECT_EQ(stream[0], 0xFF);  // first block's symbol count: 65535
    EXPECT_EQ(stream[1], 0xFF);
    Bytes back;
    ASSERT_EQ(ExtractStream(stream, ExpandTokens(tokens), &back), XR_OK);
    EXPECT_EQ(back, ExpandTokens(tokens)) << count;
  }
}

TEST_F(PackerTest, CodesOfOneSymbolUseTheSingleValueForm) {
  std::vector<Token> permutation;
  for (unsigned b = 0; b < 256; b++) permutation.push_back(LiteralToken(static_cast<std::uint8_t>(b * 37)));
  std::vector<Token> lengthsAtOneDistance{LiteralToken('a'), LiteralToken('b')};
  for (unsigned n = 3; n < 200; n += 5) lengthsAtOneDistance.push_back(MatchToken(n, 1));
  const struct {
    const char *what;
    std::vector<std::vector<Token>> blocks;
  } cases[] = {
      {"one literal, no distances", {std::vector<Token>(1000, LiteralToken('q'))}},
      {"a block of only one match symbol and distance",
       {{LiteralToken('x')}, std::vector<Token>(300, MatchToken(256, 0))}},
      {"one distance symbol under many lengths", {lengthsAtOneDistance}},
      {"all literal lengths equal: one pre-code symbol", {permutation}},
      {"two symbols", {{LiteralToken('a'), LiteralToken('b'), LiteralToken('a')}}},
  };
  for (const auto &c : cases) {
    std::vector<Token> all;
    for (const auto &block : c.blocks) all.insert(all.end(), block.begin(), block.end());
    Bytes back;
    EXPECT_EQ(ExtractStream(WriteBlocks(c.blocks), ExpandTokens(all), &back), XR_OK) << c.what;
    EXPECT_EQ(back, ExpandTokens(all)) << c.what;
  }
}

TEST_F(PackerTest, SixteenBitCodesRoundTrip) {
  // Fibonacci counts drive the literal and distance codes to their depth limit.
  std::vector<Token> tokens;
  std::uint32_t a = 1, b = 1;
  for (unsigned s = 0; s < 22; s++, std::swap(a, b), b += a)
    for (std::uint32_t k = 0; k < a; k++)
      tokens.push_back(s < 17 ? LiteralToken(static_cast<std::uint8_t>(s * 11))
                              : MatchToken(3 + s, s == 17 ? 0 : (1u << (s - 17)) - 1));
  std::mt19937 rng(2);
  std::shuffle(tokens.begin(), tokens.end(), rng);
  // Matches need some history to copy from.
  for (std::size_t i = 0, j = 0; i < 20; i++) {
    j = std::max(j, i);
    while (tokens[j].symbol >= 256) j++;
    std::swap(tokens[i], tokens[j]);
  }
  BlockHistogram h;
  ClearHistogram(h);
  CountTokens(h, tokens.data(), tokens.size());
  std::uint8_t lengths[arj::LiteralCount];
  BuildCodeLengths(h.literal, arj::LiteralCount, 16, lengths);
  ASSERT_EQ(*std::max_element(lengths, lengths + arj::LiteralCount), 16);
  Bytes back;
  ASSERT_EQ(ExtractStream(WriteBlocks({tokens}), ExpandTokens(tokens), &back), XR_OK);
  EXPECT_EQ(back, ExpandTokens(tokens));
}

TEST(BlockBits, CountsExactlyWhatWriteBlockWrites) {
  std::mt19937 rng(4);
  for (int kind = 0; kind < 4; kind++) {
    Bytes data = DataOfKind(kind, 30000, rng);
    std::vector<Token> tokens = Parse(data, PackBest, 1 << 20);
    tokens.resize(std::min<std::size_t>(tokens.size(), MaxBlockSymbols));
    BlockHistogram h;
    ClearHistogram(h);
    CountTokens(h, tokens.data(), tokens.size());
    Bytes out;
    BitWriter bw{&out, 0, 0};
    WriteBlock(bw, tokens.data(), tokens.size());
    EXPECT_EQ(BlockBits(h), out.size() * 8 + bw.pendingCount) << "kind " << kind;
  }
}

TEST_F(PackerTest, LongTailedBlocksRoundTripAndAreCountedExactly) {
  // A few frequent literals and many seen once or twice: the block whose
  // flatter code beats the plain one in its header.
  std::mt19937 rng(6);
  for (unsigned tail : {40u, 250u}) {
    std::vector<Token> tokens;
    for (unsigned s = 0; s < tail; s++)
      for (unsigned k = 0; k <= s % 3; k++) tokens.push_back(LiteralToken(static_cast<std::uint8_t>(s)));
    for (unsigned k = 0; k < 3000; k++)
      tokens.push_back(LiteralToken(static_cast<std::uint8_t>('a' + k % 5)));
    for (unsigned k = 0; k < 200; k++) tokens.push_back(MatchToken(3 + k % 40, k % 500));
    std::shuffle(tokens.begin() + 600, tokens.end(), rng);
    BlockHistogram h;
    ClearHistogram(h);
    CountTokens(h, tokens.data(), tokens.size());
    Bytes out;
    BitWriter bw{&out, 0, 0};
    WriteBlock(bw, tokens.data(), tokens.size());
    EXPECT_EQ(BlockBits(h), out.size() * 8 + bw.pendingCount) << "tail " << tail;
    FlushBits(bw);
    Bytes back;
    ASSERT_EQ(ExtractStream(out, ExpandTokens(tokens), &back), XR_OK) << "tail " << tail;
    EXPECT_EQ(back, ExpandTokens(tokens));
  }
}

TEST(EncodeMethod123, BestLevelIsNoLargerThanFastLevel) {
  std::mt19937 rng(9);
  for (int kind = 2; kind < 4; kind++) {
    Bytes data = DataOfKind(kind, 300000, rng);
    std::size_t best = EncodeMethod123(data.data(), data.size(), PackBest).size();
    std::size_t fast = EncodeMethod123(data.data(), data.size(), PackFast).size();
    EXPECT_LE(best, fast) << "kind " << kind;
  }
}
