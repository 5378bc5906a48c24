#include <random>

#include "test_support.h"

class BitReaderTest : public ::testing::Test {
 protected:
  void TearDown() override { UnloadCompressed(); }
};

TEST_F(BitReaderTest, TakesBitsMostSignificantFirstThenZeros) {
  // 1010 1011 | 1100 1101 | 1110 1111 | 0001 0010
  LoadCompressed({0xAB, 0xCD, 0xEF, 0x12}, 4);
  StartBitReader();
  EXPECT_EQ(PeekBits16(), 0xABCD);
  EXPECT_EQ(TakeBits(0), 0u);
  EXPECT_EQ(PeekBits16(), 0xABCD);
  EXPECT_EQ(TakeBits(4), 0xAu);
  EXPECT_EQ(TakeBits(16), 0xBCDEu);
  EXPECT_EQ(TakeBits(3), 0x7u);
  EXPECT_EQ(TakeBits(9), 0x112u);
  EXPECT_EQ(TakeBits(16), 0u);  // past the entry: zeros for ever
  EXPECT_EQ(extractState.compressedLeft, 0u);
}

TEST_F(BitReaderTest, ConsumesSeventeenBitsAtOnce) {
  LoadCompressed({0xFF, 0x80, 0x00, 0x01, 0x00}, 5);
  StartBitReader();
  // 11111111 1|0000000 00000000 00000001 0|0000000
  ConsumeBits(17);
  EXPECT_EQ(PeekBits16(), 0x0002);
  ConsumeBits(6);
  EXPECT_EQ(PeekBits16(), 0x0080);
}

TEST_F(BitReaderTest, StartsOnShortOrEmptyEntries) {
  LoadCompressed({0x5A, 0x77}, 1);
  StartBitReader();
  EXPECT_EQ(PeekBits16(), 0x5A00);
  EXPECT_EQ(extractState.compressedLeft, 0u);
  EXPECT_EQ(TellSetupStream(), 1);

  LoadCompressed({0x5A, 0x77}, 0);
  StartBitReader();
  EXPECT_EQ(PeekBits16(), 0x0000);
  EXPECT_EQ(TellSetupStream(), 0);  // the file was not read at all
}

TEST_F(BitReaderTest, ReadsMissingBytesOfATruncatedFileAsOnes) {
  LoadCompressed({0x12}, 3);
  StartBitReader();
  EXPECT_EQ(PeekBits16(), 0x12FF);
  EXPECT_EQ(TakeBits(16), 0x12FFu);
  EXPECT_EQ(PeekBits16(), 0xFF00);
  SyncBitReader();
  EXPECT_EQ(TellSetupStream(), 1);  // only the byte that exists was read
}

TEST_F(BitReaderTest, GivesBackOnlyBytesTheFileSupplied) {
  LoadCompressed({0xA1, 0xB2, 0xC3, 0xD4}, 10);
  StartBitReader();
  ConsumeBits(9);
  SyncBitReader();
  EXPECT_EQ(TellSetupStream(), 4);  // needs 4 bytes: all the file has
  EXPECT_EQ(extractState.compressedLeft, 10u - 4u);
  EXPECT_EQ(TakeBits(16), 0x6587u);  // 0xB2C3D4 from bit 9: 0110 0101 1000 0111 ...
}

// The next header is read wherever the reader stopped, so the number of
// bytes taken is part of the format: once synchronised, it runs 16 bits ahead
// of what was consumed, never past the entry, and reads on correctly.
TEST_F(BitReaderTest, TakesExactlySixteenBitsAheadOfWhatWasConsumed) {
  std::mt19937 random(7);
  Bytes data(64);
  for (auto &b : data) b = static_cast<unsigned char>(random());
  for (std::uint32_t size : {0u, 1u, 2u, 5u, 40u, 64u}) {
    LoadCompressed(data, size);
    StartBitReader();
    std::uint64_t consumed = 0;
    for (int step = 0; step < 60; step++) {
      unsigned n = random() % 18;
      ConsumeBits(n);
      consumed += n;
      std::uint64_t expected = (consumed + 16 + 7) / 8;
      if (expected > size) expected = size;
      SyncBitReader();
      ASSERT_EQ(extractState.compressedLeft, size - expected);
      ASSERT_EQ(TellSetupStream(), static_cast<std::int64_t>(expected))
          << "size " << size << " consumed " << consumed;
    }
  }
}

TEST_F(BitReaderTest, MatchesABitByBitModel) {
  std::mt19937 random(99);
  Bytes data(200);
  for (auto &b : data) b = static_cast<unsigned char>(random());
  auto bitAt = [&](std::uint64_t i) { return i / 8 < data.size() ? (data[i / 8] >> (7 - i % 8)) & 1 : 0; };
  LoadCompressed(data, static_cast<std::uint32_t>(data.size()));
  StartBitReader();
  std::uint64_t position = 0;
  while (position < data.size() * 8 + 40) {
    unsigned n = random() % 17;
    unsigned expected = 0;
    for (unsigned i = 0; i < n; i++) expected = expected << 1 | bitAt(position + i);
    ASSERT_EQ(TakeBits(n), expected) << "at bit " << position;
    position += n;
  }
}
