#include <algorithm>
#include <queue>

#include "packer_test_support.h"

namespace {

// Kraft sum in units of 2^-16: exactly 65536 for a complete code.
std::uint64_t KraftSum(const std::vector<std::uint8_t> &lengths) {
  std::uint64_t sum = 0;
  for (auto len : lengths)
    if (len) sum += 1u << (16 - len);
  return sum;
}

// Cost and depth of an unrestricted Huffman code, for comparison.
std::pair<std::uint64_t, unsigned> HuffmanCost(const std::vector<std::uint32_t> &freq) {
  typedef std::pair<std::uint64_t, unsigned> Tree;  // weight, height
  std::priority_queue<Tree, std::vector<Tree>, std::greater<>> q;
  for (auto f : freq)
    if (f) q.push({f, 0});
  std::uint64_t cost = 0;
  while (q.size() > 1) {
    Tree a = q.top();
    q.pop();
    Tree b = q.top();
    q.pop();
    cost += a.first + b.first;
    q.push({a.first + b.first, std::max(a.second, b.second) + 1});
  }
  return {cost, q.top().second};
}

std::vector<std::uint8_t> Lengths(const std::vector<std::uint32_t> &freq, unsigned maxBits, unsigned *used) {
  std::vector<std::uint8_t> lengths(freq.size());
  *used = BuildCodeLengths(freq.data(), static_cast<unsigned>(freq.size()), maxBits, lengths.data());
  return lengths;
}

}  // namespace

TEST(BuildCodeLengths, GivesNoLengthsBelowTwoSymbols) {
  for (auto freq : {std::vector<std::uint32_t>{0, 0, 0}, std::vector<std::uint32_t>{0, 7, 0}}) {
    unsigned used;
    auto lengths = Lengths(freq, 16, &used);
    EXPECT_EQ(used, std::count_if(freq.begin(), freq.end(), [](auto f) { return f != 0; }));
    EXPECT_EQ(std::count(lengths.begin(), lengths.end(), 0), 3);
  }
}

TEST(BuildCodeLengths, LimitsFibonacciWeightsToSixteenBitsAndStaysComplete) {
  // Fibonacci weights make an unrestricted tree as deep as it can be.
  std::vector<std::uint32_t> freq(30);
  freq[0] = freq[1] = 1;
  for (std::size_t i = 2; i < freq.size(); i++) freq[i] = freq[i - 1] + freq[i - 2];
  unsigned used;
  auto lengths = Lengths(freq, 16, &used);
  EXPECT_EQ(used, 30u);
  EXPECT_EQ(*std::max_element(lengths.begin(), lengths.end()), 16);
  EXPECT_EQ(KraftSum(lengths), 65536u);

  // The cheapest code of the first 22 within 16 bits costs 121372 bits, as
  // an independent model of package-merge found.
  freq.resize(22);
  lengths = Lengths(freq, 16, &used);
  std::uint64_t cost = 0;
  for (std::size_t s = 0; s < freq.size(); s++) cost += std::uint64_t(freq[s]) * lengths[s];
  EXPECT_EQ(cost, 121372u);
}

TEST(BuildCodeLengths, RandomFrequenciesGiveCompleteOptimalCodes) {
  std::mt19937 rng(1);
  for (int round = 0; round < 300; round++) {
    std::vector<std::uint32_t> freq(round % 3 == 0 ? 19 : round % 3 == 1 ? 17 : 510);
    unsigned density = 1 + rng() % 10;
    for (auto &f : freq) f = (rng() % 10 < density) ? (rng() % 2 ? rng() % 5 : rng() % 100000) : 0;
    freq[rng() % freq.size()] = 1;
    freq[rng() % freq.size()] = 3;
    unsigned used;
    auto lengths = Lengths(freq, 16, &used);
    ASSERT_GE(used, 2u);
    EXPECT_EQ(KraftSum(lengths), 65536u);
    std::uint64_t cost = 0;
    for (std::size_t s = 0; s < freq.size(); s++) {
      EXPECT_EQ(freq[s] != 0, lengths[s] != 0) << "symbol " << s;
      EXPECT_LE(lengths[s], 16);
      cost += std::uint64_t(freq[s]) * lengths[s];
    }
    // The limit costs nothing when the unrestricted tree fits it anyway.
    auto huffman = HuffmanCost(freq);
    if (huffman.second <= 16)
      EXPECT_EQ(cost, huffman.first);
    else
      EXPECT_GT(cost, huffman.first);
  }
}

TEST(BuildCanonicalCodes, NumbersShorterCodesFirstThenBySymbol) {
  const std::uint8_t lengths[] = {2, 1, 3, 0, 3};
  std::uint16_t codes[5];
  BuildCanonicalCodes(lengths, 5, codes);
  EXPECT_EQ(codes[1], 0b0);
  EXPECT_EQ(codes[0], 0b10);
  EXPECT_EQ(codes[2], 0b110);
  EXPECT_EQ(codes[4], 0b111);
}
