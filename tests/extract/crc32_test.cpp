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

TEST(Crc32, UpdatesInPiecesAsInOneGo) {
  BuildCrcTable();
  const char text[] = "123456789";
  extractState.runningCrc = 0xFFFFFFFFu;
  Crc32Update(text, 4);
  Crc32Update(text, 0);
  Crc32Update(text + 4, 5);
  EXPECT_EQ(~extractState.runningCrc, 0xCBF43926u);
}
