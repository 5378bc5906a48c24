// Pieces of the method 1-3 encoder shared between its files and the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "format.h"
#include "packer.h"

// One literal/length symbol and, for a match, its distance value.
struct Token {
  std::uint16_t symbol;    // 0..255 literal, 256..509 match of length symbol - 253
  std::uint16_t distance;  // distance value 0..MaxDistance; the match starts distance + 1 back
};

constexpr unsigned MaxBlockSymbols = 65535;

inline Token LiteralToken(std::uint8_t byte) { return Token{byte, 0}; }
inline Token MatchToken(unsigned length, unsigned distance) {
  return Token{static_cast<std::uint16_t>(length + 253), static_cast<std::uint16_t>(distance)};
}

// Distance code symbol: 0 for distance 0, else the bit length of distance;
// symbol c carries c - 1 extra bits. Without a branch, for DistanceSlot.
inline unsigned DistanceSymbol(unsigned distance) {
#if defined(__GNUC__)
  // 63 - clz, written as an exclusive or, which compilers know to be the
  // bit-scan instruction itself.
  return 63 ^ static_cast<unsigned>(__builtin_clzll(std::uint64_t(distance) << 1 | 1));
#else
  unsigned c = 0;
  while (distance >> c) c++;
  return c;
#endif
}

// Where a token counts among the distance codes: its code for a match,
// the spare slot DistanceCount for a literal, whose distance is 0. Worked
// out by a sum, not a branch: literals and matches mix too irregularly
// for a branch between them to be foreseen.
inline unsigned DistanceSlot(const Token &token) {
  return DistanceSymbol(token.distance) + arj::DistanceCount * (token.symbol < 256);
}

// How many of the first limit bytes at a and b agree, eight at a time.
inline unsigned CommonLength(const std::uint8_t *a, const std::uint8_t *b, unsigned limit) {
  unsigned n = 0;
  while (n + 8 <= limit) {
    std::uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) {
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
      return n + static_cast<unsigned>(__builtin_ctzll(x ^ y) >> 3);
#else
      break;
#endif
    }
    n += 8;
  }
  while (n < limit && a[n] == b[n]) n++;
  return n;
}

// Bits are sent most significant first, bytes in file order.
struct BitWriter {
  std::vector<std::uint8_t> *out;
  std::uint64_t pending;  // the low pendingCount bits are not yet stored
  unsigned pendingCount;  // 0..7 between calls
};

inline void PutBits(BitWriter &bw, std::uint32_t value, unsigned count) {
  bw.pending = (bw.pending << count) | value;
  bw.pendingCount += count;
  while (bw.pendingCount >= 8) {
    bw.pendingCount -= 8;
    bw.out->push_back(static_cast<std::uint8_t>(bw.pending >> bw.pendingCount));
  }
}

inline void FlushBits(BitWriter &bw) {
  if (bw.pendingCount) PutBits(bw, 0, 8 - bw.pendingCount);
}

// Length-limited code lengths for count symbols of the given frequencies.
// Returns the number of symbols in use; with fewer than 2 every length is 0
// (the caller sends the single-value form), otherwise the lengths form a
// complete code of at most maxBits.
unsigned BuildCodeLengths(const std::uint32_t *freq, unsigned count, unsigned maxBits, std::uint8_t *lengths);

// BuildCodeLengths in two steps, for callers that try several frequency
// sets of one order: the used symbols by ascending frequency, ties by
// symbol; then the lengths for frequencies that sort the same way.
unsigned SortUsedSymbols(const std::uint32_t *freq, unsigned count, unsigned *used);
unsigned CodeLengthsOfSorted(const std::uint32_t *freq, const unsigned *used, unsigned m, unsigned count,
                             unsigned maxBits, std::uint8_t *lengths);

// Canonical codes for the lengths: shorter codes first, and within one
// length the lower symbol gets the lower code.
void BuildCanonicalCodes(const std::uint8_t *lengths, unsigned count, std::uint16_t *codes);

struct BlockHistogram {
  std::uint32_t literal[arj::LiteralCount];
  std::uint32_t distance[arj::DistanceCount];
  std::uint32_t symbols;  // tokens counted
};

void ClearHistogram(BlockHistogram &h);
void CountTokens(BlockHistogram &h, const Token *tokens, std::size_t count);
void AddHistogram(BlockHistogram &into, const BlockHistogram &h);

// Exact size in bits of a block of these tokens, header included.
std::uint64_t BlockBits(const BlockHistogram &h);

// Writes one block of 1 to MaxBlockSymbols tokens.
void WriteBlock(BitWriter &bw, const Token *tokens, std::size_t count);
// WriteBlock for a caller that has counted the tokens already: h must be
// exactly their histogram. fewFlattenings trades a little size for time.
void WriteCountedBlock(BitWriter &bw, const Token *tokens, std::size_t count, const BlockHistogram &h,
                       bool fewFlattenings = false);

// Writes the tokens as consecutive blocks of blockSymbols tokens (the last
// one shorter), for callers that need the boundaries at known places.
void WriteFixedBlocks(BitWriter &bw, const Token *tokens, std::size_t count, std::size_t blockSymbols);

// Where the splitter below would end blocks if these tokens came alone:
// the index after each block's last token, the last one count. Returns the
// size in bits of those blocks.
std::uint64_t PlanSplits(const Token *tokens, std::size_t count, std::vector<std::uint32_t> *blockEnds);

// PlanSplits without its last, finest step: for the parse's passes, which
// only need the blocks roughly.
std::uint64_t RoughSplits(const Token *tokens, std::size_t count, std::vector<std::uint32_t> *blockEnds);

// A last refinement of blocks planned by PlanSplits, with more moves of a
// bound priced exactly: for the blocks that are written. Returns their size
// in bits.
std::uint64_t FinishSplits(const Token *tokens, std::vector<std::uint32_t> *blockEnds);

// Chooses block boundaries by cost as tokens arrive, and writes each block
// once it is settled.
struct BlockSplitter {
  std::vector<Token> pending;  // tokens before openBegin are written
  std::size_t openBegin;
  std::size_t openCount;  // tokens [openBegin, openBegin + openCount) form the open block
  BlockHistogram openHistogram;
  float openBits;  // the open block's symbols under ideal codes
  EncodeStats stats;
  bool planned;         // blocks come from AddPlannedTokens, cut by their exact sizes
  bool fewFlattenings;  // the fast level: blocks are written with fewer code tries
  // The open block's chunks by their counts, for the streaming cuts: chunk
  // k starts at token k * 512 of the block, and its nonzero counts are
  // chunkCounts[chunkStarts[k], chunkStarts[k + 1]), each a slot (symbol,
  // or LiteralCount + distance code) above a 16-bit count.
  std::vector<std::uint32_t> chunkStarts;
  std::vector<std::uint32_t> chunkCounts;
};

void StartBlockSplitter(BlockSplitter &bs);
void AddTokens(BlockSplitter &bs, BitWriter &bw, const Token *tokens, std::size_t count);
// Splits the open block and these tokens as PlanSplits would and writes
// every block but the last, which stays open for what follows. plan is
// PlanSplits of the tokens alone.
void AddPlannedTokens(BlockSplitter &bs, BitWriter &bw, const Token *tokens, std::size_t count,
                      const std::vector<std::uint32_t> &plan);
void FinishBlocks(BlockSplitter &bs, BitWriter &bw);

// Parses data[begin, end) into tokens; matches reach back at most to
// data[0] and never past end. The parser keeps its hash chains in parser
// state across calls, which must cover the data in order.
struct ParserState;
// Whether the best level prices lengths eight at a time, as it does where
// the processor has AVX2, rather than four. Both give the same tokens;
// tests compare them.
extern bool widePricing;

ParserState *StartParser(const std::uint8_t *data, std::size_t size, PackLevel level);
void ParseSegment(ParserState *ps, std::size_t begin, std::size_t end, std::vector<Token> *tokens);
// The best level's PlanSplits of the tokens of the last segment parsed,
// which it works out anyway; null at the other levels.
const std::vector<std::uint32_t> *SegmentBlockEnds(const ParserState *ps);
void EndParser(ParserState *ps);

// The fast and normal levels' match finder, whose hash chains cover the
// data in order as ParseLazy goes.
struct LazyFinder;
LazyFinder *StartLazyFinder(const std::uint8_t *data, std::size_t size, PackLevel level);
void ParseLazy(LazyFinder &f, std::size_t begin, std::size_t end, std::vector<Token> *tokens);
void EndLazyFinder(LazyFinder *f);
