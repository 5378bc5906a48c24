#include "test_support.h"

class TablesTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearDecodeTables(); }
  void TearDown() override { UnloadCompressed(); }

  ExtractResult Build(const std::vector<unsigned> &lengths, unsigned tableBits, std::uint16_t *table) {
    for (std::size_t i = 0; i < lengths.size(); i++) bytes[i] = static_cast<std::uint8_t>(lengths[i]);
    unsigned count = static_cast<unsigned>(lengths.size());
    return Guarded([&] { BuildDecodeTable(count, bytes, tableBits, table); });
  }
  std::uint8_t bytes[arj::LiteralCount] = {};
};

TEST_F(TablesTest, FillsShortCodesDirectly) {
  struct Case {
    std::vector<unsigned> lengths;
    std::vector<std::pair<unsigned, unsigned>> firstEntryOfSymbol;  // (entry, symbol)
  } cases[] = {
      {{1, 1}, {{0, 0}, {127, 0}, {128, 1}, {255, 1}}},
      {{1, 2, 2}, {{0, 0}, {127, 0}, {128, 1}, {191, 1}, {192, 2}, {255, 2}}},
      {{2, 1, 2}, {{0, 1}, {127, 1}, {128, 0}, {191, 0}, {192, 2}}},
      {{0, 3, 3, 2, 2, 2}, {{0, 3}, {64, 4}, {128, 5}, {192, 1}, {224, 2}}},
  };
  for (const Case &c : cases) {
    ASSERT_EQ(Build(c.lengths, 8, decoderState.auxTable), XR_OK);
    for (auto [entry, symbol] : c.firstEntryOfSymbol)
      EXPECT_EQ(decoderState.auxTable[entry], symbol) << "entry " << entry;
  }
}

TEST_F(TablesTest, RejectsLengthsThatDoNotFormACompleteCode) {
  const std::vector<std::vector<unsigned>> bad = {
      {1},           // a single code of length 1
      {1, 1, 1},     // over-subscribed
      {1, 1, 1, 1},  // sums to a multiple of 2^16 but runs past the table
      {2, 2, 2},     // incomplete
      {1, 17, 17},   // longer than a code can be
      {1, 2, 20},
  };
  for (const auto &lengths : bad) EXPECT_EQ(Build(lengths, 8, decoderState.auxTable), XR_BAD_TABLE);
}

TEST_F(TablesTest, AllZeroLengthsLeaveTablesAsTheyWere) {
  ASSERT_EQ(Build({1, 2, 2}, 8, decoderState.auxTable), XR_OK);
  std::uint16_t before[256];
  std::memcpy(before, decoderState.auxTable, sizeof before);
  EXPECT_EQ(Build(std::vector<unsigned>(19, 0), 8, decoderState.auxTable), XR_OK);
  EXPECT_EQ(std::memcmp(before, decoderState.auxTable, sizeof before), 0);
}

// Lengths 1, 2, ..., 15, 16, 16: a complete code that walks the tree below
// the 12-bit table for lengths 13 to 16.
TEST_F(TablesTest, DecodesLongCodesThroughTheTree) {
  std::vector<unsigned> lengths(arj::LiteralCount, 0);
  for (unsigned s = 0; s < 16; s++) lengths[s * 30] = s + 1;
  lengths[16 * 30] = 16;
  for (std::size_t i = 0; i < lengths.size(); i++)
    decoderState.literalLengths[i] = static_cast<std::uint8_t>(lengths[i]);
  ASSERT_EQ(Guarded([] {
              BuildDecodeTable(arj::LiteralCount, decoderState.literalLengths, 12, decoderState.literalTable);
            }),
            XR_OK);

  std::vector<unsigned> codes = CanonicalCodes(lengths);
  for (unsigned s = 0; s < arj::LiteralCount; s++) {
    if (!lengths[s]) continue;
    BitWriter bw;
    bw.Put(codes[s], lengths[s]);
    bw.Put(0xA5A5, 16);  // what follows the code must stay unread
    LoadCompressed(bw.bytes, static_cast<std::uint32_t>(bw.bytes.size()));
    StartBitReader();
    unsigned got = 0;
    ASSERT_EQ(Guarded([&] {
                got =
                    LookupCode(decoderState.literalTable, 12, arj::LiteralCount, decoderState.literalLengths);
              }),
              XR_OK);
    EXPECT_EQ(got, s);
    EXPECT_EQ(decoderState.bitsConsumed, lengths[s]) << "symbol " << s;
    EXPECT_EQ(PeekBits16(), 0xA5A5);
  }
}

TEST_F(TablesTest, EndsAWalkThatCycles) {
  // A table entry leading into nodes that point at themselves, as stale
  // tables of damaged blocks can.
  for (auto &e : decoderState.literalTable) e = 600;
  decoderState.leftChild[600] = decoderState.rightChild[600] = 600;
  LoadCompressed({0x00, 0x00}, 2);
  StartBitReader();
  EXPECT_EQ(Guarded([] {
              LookupCode(decoderState.literalTable, 12, arj::LiteralCount, decoderState.literalLengths);
            }),
            XR_BAD_TABLE);
}

TEST_F(TablesTest, RebuildingTheDistanceCodeKeepsTheLiteralTree) {
  std::vector<unsigned> lengths(arj::LiteralCount, 0);
  for (unsigned s = 0; s < 16; s++) lengths[s] = s + 1;
  lengths[16] = 16;
  for (std::size_t i = 0; i < lengths.size(); i++)
    decoderState.literalLengths[i] = static_cast<std::uint8_t>(lengths[i]);
  ASSERT_EQ(Guarded([] {
              BuildDecodeTable(arj::LiteralCount, decoderState.literalLengths, 12, decoderState.literalTable);
            }),
            XR_OK);
  std::vector<std::uint16_t> left(decoderState.leftChild + 510, decoderState.leftChild + NodeCount);
  // A distance code with long codes: 1, 2, ..., 9, 10, 10 over 17 symbols.
  std::vector<unsigned> distance(arj::DistanceCount, 0);
  for (unsigned s = 0; s < 10; s++) distance[s] = s + 1;
  distance[10] = 10;
  ASSERT_EQ(Build(distance, 8, decoderState.auxTable), XR_OK);
  EXPECT_EQ(left,
            std::vector<std::uint16_t>(decoderState.leftChild + 510, decoderState.leftChild + NodeCount));
}
