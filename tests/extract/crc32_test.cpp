#include <random>

#include "test_support.h"

TEST(Crc32, MatchesKnownAnswers) {
  struct Case {
    std::string text;
    std::uint32_t crc;
  } cases[] = {
      {"", 0x00000000u},
      {"a", 0xE8B7BE43u},
      {"123456789", 0xCBF43926u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Crc32(Bytes(c.text.begin(), c.text.end())), c.crc) << '"' << c.text << '"';
}

TEST(Crc32, ContinuesInPiecesAsInOneGo) {
  const char text[] = "123456789";
  EXPECT_EQ(Crc32(Crc32(Crc32(0, text, 4), text, 0), text + 4, 5), 0xCBF43926u);
}

// Every length and alignment around the group sizes, and a long stretch, on
// each path this processor can take, against the bit-by-bit definition.
TEST(Crc32, EveryPathAgreesWithTheBitwiseDefinition) {
  std::mt19937 random(3);
  Bytes data(70000);
  for (auto &b : data) b = static_cast<unsigned char>(random());
  bool fastestAtStart = UseFastestCrc(true);
  for (bool fastest : {false, true}) {
    UseFastestCrc(fastest);
    for (std::size_t offset = 0; offset < 16; offset += 5) {
      for (std::size_t n : {0, 1, 15, 16, 17, 63, 64, 65, 127, 128, 129, 191, 200, 1000, 69984}) {
        ASSERT_EQ(Crc32(0x12345678u, data.data() + offset, n),
                  ReferenceCrc32(0x12345678u, data.data() + offset, n))
            << n << " bytes, fastest " << fastest;
      }
    }
  }
  UseFastestCrc(fastestAtStart);
}
