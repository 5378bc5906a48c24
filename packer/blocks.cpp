// Block writing: each block's three codes, its header and its symbols, and
// the exact size of a block, by which the splitters weigh their choices.
//
// Format notes: a block is the 16-bit symbol count, the pre-code's short
// length list (5-bit count, 3-bit lengths with a unary tail from 7 on, a
// 2-bit zero run after the third length), the literal/length lengths as
// pre-code items under a 9-bit count, the distance code's short list, then
// the symbols. A code with one symbol goes in the single-value form (count
// 0, then the symbol) and costs no bits per use; a reader builds tables only
// from complete codes, so every code of two or more symbols must be one.
#include <cstring>

#include "encoder_internal.h"

namespace {

// One item of the literal/length length list, in pre-code symbols.
struct LengthItem {
  std::uint8_t symbol;     // 0: one zero; 1, 2: a run of zeros; 3..18: length symbol - 2
  std::uint8_t extraBits;  // 4 after symbol 1, 9 after symbol 2
  std::uint16_t extra;
};

// A block's three codes. Each code with fewer than two used symbols has all
// lengths 0 and goes in the single-value form with its only (or any) symbol.
struct BlockPlan {
  std::uint8_t literalLengths[arj::LiteralCount];
  unsigned literalUsed, literalSingle;  // symbols in use; the first of them
  std::uint8_t distanceLengths[arj::DistanceCount];
  unsigned distanceUsed, distanceSingle;
  std::uint8_t preLengths[arj::PreCodeCount];
  unsigned preUsed, preSingle;
  LengthItem items[arj::LiteralCount];  // the literal/length lengths as pre-code items
  unsigned itemCount;
};

// Stands in for a BitWriter where only the size of the output matters.
struct BitCounter {
  std::uint64_t bits;  // bits that would have been written
};

inline void PutBits(BitCounter &bc, std::uint32_t, unsigned count) { bc.bits += count; }

unsigned FirstUsed(const std::uint32_t *freq, unsigned count) {
  for (unsigned s = 0; s < count; s++)
    if (freq[s]) return s;
  return 0;
}

unsigned ListLength(const std::uint8_t *lengths, unsigned count) {
  while (count && !lengths[count - 1]) count--;
  return count;
}

void AddZeroRun(BlockPlan &p, unsigned run) {
  while (run) {
    if (run <= 2) {
      p.items[p.itemCount++] = {0, 0, 0};
      run--;
    } else if (run <= 18) {
      p.items[p.itemCount++] = {1, 4, static_cast<std::uint16_t>(run - 3)};
      run = 0;
    } else if (run == 19) {
      p.items[p.itemCount++] = {0, 0, 0};
      run--;
    } else {
      unsigned take = run < 531 ? run : 531;
      p.items[p.itemCount++] = {2, 9, static_cast<std::uint16_t>(take - 20)};
      run -= take;
    }
  }
}

template <class Sink>
void EmitBlockHeader(Sink &sink, const BlockPlan &p, std::size_t symbols, const std::uint16_t *preCodes);
std::uint64_t PlanBits(const BlockHistogram &h, const BlockPlan &p);
void PlanLengthList(BlockPlan &p);

// The Huffman code is the cheapest for the symbols alone, but its length
// list, sent in the header, often costs more than a flatter code loses:
// rare symbols spread over many lengths, each a different pre-code item.
// A block also tries the codes of its counts raised by each of these
// quarters and keeps whichever makes the block smallest.
constexpr std::uint32_t FlatteningQuarters[] = {2, 4, 8, 16, 32};
// The fast level's blocks try only the one that does best alone.
constexpr std::uint32_t FewFlatteningQuarters[] = {4};

void PlanBlock(const BlockHistogram &h, BlockPlan &p, const std::uint32_t *quarterList = FlatteningQuarters,
               unsigned tries = sizeof FlatteningQuarters / sizeof *FlatteningQuarters) {
  unsigned used[arj::LiteralCount];
  unsigned m = SortUsedSymbols(h.literal, arj::LiteralCount, used);
  p.literalUsed =
      CodeLengthsOfSorted(h.literal, used, m, arj::LiteralCount, arj::MaxCodeLength, p.literalLengths);
  p.literalSingle = FirstUsed(h.literal, arj::LiteralCount);
  p.distanceUsed = BuildCodeLengths(h.distance, arj::DistanceCount, arj::MaxCodeLength, p.distanceLengths);
  p.distanceSingle = FirstUsed(h.distance, arj::DistanceCount);
  PlanLengthList(p);
  if (p.literalUsed < 2) return;
  std::uint64_t bestBits = PlanBits(h, p);
  BlockPlan q = p;
  std::uint32_t freq[arj::LiteralCount];
  for (unsigned t = 0; t < tries; t++) {
    std::uint32_t quarters = quarterList[t];
    // Raised counts sort as the counts do, so the order is reused.
    for (unsigned i = 0; i < m; i++) freq[used[i]] = h.literal[used[i]] * 4 + quarters;
    CodeLengthsOfSorted(freq, used, m, arj::LiteralCount, arj::MaxCodeLength, q.literalLengths);
    PlanLengthList(q);
    std::uint64_t bits = PlanBits(h, q);
    if (bits < bestBits) {
      bestBits = bits;
      p = q;
    }
  }
}

void PlanLengthList(BlockPlan &p) {
  p.itemCount = 0;
  std::uint32_t preFreq[arj::PreCodeCount] = {};
  if (p.literalUsed >= 2) {
    unsigned n = ListLength(p.literalLengths, arj::LiteralCount);
    for (unsigned i = 0; i < n;) {
      if (p.literalLengths[i]) {
        p.items[p.itemCount++] = {static_cast<std::uint8_t>(p.literalLengths[i] + 2), 0, 0};
        i++;
        continue;
      }
      unsigned run = 0;
      while (i + run < n && !p.literalLengths[i + run]) run++;
      AddZeroRun(p, run);
      i += run;
    }
    for (unsigned k = 0; k < p.itemCount; k++) preFreq[p.items[k].symbol]++;
  }
  p.preUsed = BuildCodeLengths(preFreq, arj::PreCodeCount, arj::MaxCodeLength, p.preLengths);
  p.preSingle = FirstUsed(preFreq, arj::PreCodeCount);
}

template <class Sink>
void EmitLength(Sink &sink, unsigned length) {
  if (length < 7)
    PutBits(sink, length, 3);
  else
    PutBits(sink, (1u << (length - 3)) - 2, length - 3);  // 111, then length - 7 ones, then 0
}

template <class Sink>
void EmitShortList(Sink &sink, const std::uint8_t *lengths, unsigned count, unsigned used, unsigned single,
                   bool zeroRun) {
  if (used < 2) {
    PutBits(sink, 0, 5);
    PutBits(sink, single, 5);
    return;
  }
  unsigned n = ListLength(lengths, count);
  PutBits(sink, n, 5);
  for (unsigned i = 0; i < n;) {
    EmitLength(sink, lengths[i++]);
    if (zeroRun && i == arj::PreCodeZeroRunAfter) {
      unsigned z = 0;
      while (z < 3 && i + z < n && !lengths[i + z]) z++;
      PutBits(sink, z, 2);
      i += z;
    }
  }
}

template <class Sink>
void EmitBlockHeader(Sink &sink, const BlockPlan &p, std::size_t symbols, const std::uint16_t *preCodes) {
  PutBits(sink, static_cast<std::uint32_t>(symbols & 0xFFFF), arj::BlockSymbolBits);
  EmitShortList(sink, p.preLengths, arj::PreCodeCount, p.preUsed, p.preSingle, true);
  if (p.literalUsed < 2) {
    PutBits(sink, 0, 9);
    PutBits(sink, p.literalSingle, 9);
  } else {
    PutBits(sink, ListLength(p.literalLengths, arj::LiteralCount), 9);
    for (unsigned k = 0; k < p.itemCount; k++) {
      const LengthItem &item = p.items[k];
      PutBits(sink, preCodes[item.symbol], p.preLengths[item.symbol]);
      if (item.extraBits) PutBits(sink, item.extra, item.extraBits);
    }
  }
  EmitShortList(sink, p.distanceLengths, arj::DistanceCount, p.distanceUsed, p.distanceSingle, false);
}

std::uint64_t PlanBits(const BlockHistogram &h, const BlockPlan &p) {
  const std::uint16_t uncounted[arj::PreCodeCount] = {};  // a BitCounter counts lengths, not codes
  BitCounter bc{0};
  EmitBlockHeader(bc, p, h.symbols, uncounted);
  for (unsigned s = 0; s < arj::LiteralCount; s++)
    bc.bits += std::uint64_t(h.literal[s]) * p.literalLengths[s];
  for (unsigned c = 0; c < arj::DistanceCount; c++)
    bc.bits += std::uint64_t(h.distance[c]) * (p.distanceLengths[c] + (c ? c - 1 : 0));
  return bc.bits;
}

}  // namespace

void ClearHistogram(BlockHistogram &h) { std::memset(&h, 0, sizeof h); }

void CountTokens(BlockHistogram &h, const Token *tokens, std::size_t count) {
  std::uint32_t distance[arj::DistanceCount + 1] = {};  // and the literals' spare slot
  for (std::size_t i = 0; i < count; i++) {
    h.literal[tokens[i].symbol]++;
    distance[DistanceSlot(tokens[i])]++;
  }
  for (unsigned c = 0; c < arj::DistanceCount; c++) h.distance[c] += distance[c];
  h.symbols += static_cast<std::uint32_t>(count);
}

void AddHistogram(BlockHistogram &into, const BlockHistogram &h) {
  for (unsigned s = 0; s < arj::LiteralCount; s++) into.literal[s] += h.literal[s];
  for (unsigned s = 0; s < arj::DistanceCount; s++) into.distance[s] += h.distance[s];
  into.symbols += h.symbols;
}

std::uint64_t BlockBits(const BlockHistogram &h) {
  BlockPlan p;
  PlanBlock(h, p);
  return PlanBits(h, p);
}

// The symbols go through a local 64-bit accumulator, stored eight bytes at
// a time, instead of PutBits' byte at a time: a token adds at most 16 + 16
// + 15 bits to the 7 left over, so one store per token keeps up. A literal
// takes the distance code's spare entry, of no bits, so that no branch
// tells literals from matches.
static inline void StoreBigEndian64(std::uint8_t *at, std::uint64_t v) {
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  v = __builtin_bswap64(v);
  std::memcpy(at, &v, 8);
#else
  for (unsigned k = 0; k < 8; k++) at[k] = static_cast<std::uint8_t>(v >> (56 - 8 * k));
#endif
}

// Tokens go out in groups, and the output grows by a group's worst case
// (six bytes a token, and the last store's eight) just before it: growing
// by the whole block's worst case would clear several times what the
// block writes.
constexpr std::size_t SymbolGroup = 256;

static void WriteSymbols(BitWriter &bw, const BlockPlan &p, const Token *tokens, std::size_t count) {
  std::uint16_t literalCodes[arj::LiteralCount], distanceCodes[arj::DistanceCount];
  BuildCanonicalCodes(p.literalLengths, arj::LiteralCount, literalCodes);
  BuildCanonicalCodes(p.distanceLengths, arj::DistanceCount, distanceCodes);
  // Per distance code: its code above room for the extra bits, the mask of
  // the extra bits in a distance value, and the bits of both.
  std::uint32_t distanceBase[arj::DistanceCount + 1], extraMask[arj::DistanceCount + 1];
  std::uint8_t distanceBits[arj::DistanceCount + 1];
  for (unsigned c = 0; c < arj::DistanceCount; c++) {
    unsigned extra = c > 1 ? c - 1 : 0;
    distanceBase[c] = std::uint32_t(distanceCodes[c]) << extra;
    extraMask[c] = (1u << extra) - 1;
    distanceBits[c] = static_cast<std::uint8_t>(p.distanceLengths[c] + extra);
  }
  distanceBase[arj::DistanceCount] = 0;
  extraMask[arj::DistanceCount] = 0;
  distanceBits[arj::DistanceCount] = 0;
  std::vector<std::uint8_t> &out = *bw.out;
  std::size_t written = out.size();
  std::uint64_t pending = bw.pending;
  unsigned pendingCount = bw.pendingCount;
  for (std::size_t i = 0; i < count;) {
    std::size_t stop = count - i < SymbolGroup ? count : i + SymbolGroup;
    out.resize(written + (stop - i) * 6 + 8);
    std::uint8_t *at = out.data() + written;
    for (; i < stop; i++) {
      unsigned s = tokens[i].symbol, d = tokens[i].distance;
      unsigned c = DistanceSlot(tokens[i]);
      unsigned bits = distanceBits[c];
      std::uint64_t distance = distanceBase[c] | (d & extraMask[c]);
      pending = (pending << p.literalLengths[s] | literalCodes[s]) << bits | distance;
      pendingCount += p.literalLengths[s] + bits;
      std::uint64_t word = pending << (63 - pendingCount) << 1;  // the unstored bits on top
      StoreBigEndian64(at, word);
      at += pendingCount >> 3;
      pendingCount &= 7;
    }
    written = static_cast<std::size_t>(at - out.data());
  }
  out.resize(written);
  bw.pending = pending;
  bw.pendingCount = pendingCount;
}

void WriteBlock(BitWriter &bw, const Token *tokens, std::size_t count) {
  BlockHistogram h;
  ClearHistogram(h);
  CountTokens(h, tokens, count);
  WriteCountedBlock(bw, tokens, count, h);
}

void WriteCountedBlock(BitWriter &bw, const Token *tokens, std::size_t count, const BlockHistogram &h,
                       bool fewFlattenings) {
  BlockPlan p;
  if (fewFlattenings)
    PlanBlock(h, p, FewFlatteningQuarters, sizeof FewFlatteningQuarters / sizeof *FewFlatteningQuarters);
  else
    PlanBlock(h, p);
  std::uint16_t preCodes[arj::PreCodeCount];
  BuildCanonicalCodes(p.preLengths, arj::PreCodeCount, preCodes);
  EmitBlockHeader(bw, p, count, preCodes);
  WriteSymbols(bw, p, tokens, count);
}

void WriteFixedBlocks(BitWriter &bw, const Token *tokens, std::size_t count, std::size_t blockSymbols) {
  for (std::size_t i = 0; i < count; i += blockSymbols)
    WriteBlock(bw, tokens + i, count - i < blockSymbols ? count - i : blockSymbols);
}
