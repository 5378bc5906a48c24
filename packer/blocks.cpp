// Block writing: each block's three codes, its header and its symbols; and
// the splitter that decides where one block ends and the next begins.
//
// Format notes: a block is the 16-bit symbol count, the pre-code's short
// length list (5-bit count, 3-bit lengths with a unary tail from 7 on, a
// 2-bit zero run after the third length), the literal/length lengths as
// pre-code items under a 9-bit count, the distance code's short list, then
// the symbols. A code with one symbol goes in the single-value form (count
// 0, then the symbol) and costs no bits per use; a reader builds tables only
// from complete codes, so every code of two or more symbols must be one.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "encoder_internal.h"

namespace {

constexpr unsigned SplitChunkSymbols = 512;
constexpr unsigned CutStep = 128;  // where a planned block may be cut in two
// The streaming splitter's guess at what a block's header costs beyond
// its symbols, found by measurement on mixed text and binaries.
constexpr float HeaderGuessBits = 150;
constexpr float HeaderGuessBitsPerSymbol = 3;
constexpr unsigned GuessCutStep = 16;  // where the streaming splitter may cut a closed block

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

void PlanBlock(const BlockHistogram &h, BlockPlan &p) {
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
  for (std::uint32_t quarters : FlatteningQuarters) {
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
  std::uint16_t preCodes[arj::PreCodeCount];
  BuildCanonicalCodes(p.preLengths, arj::PreCodeCount, preCodes);
  BitCounter bc{0};
  EmitBlockHeader(bc, p, h.symbols, preCodes);
  for (unsigned s = 0; s < arj::LiteralCount; s++)
    bc.bits += std::uint64_t(h.literal[s]) * p.literalLengths[s];
  for (unsigned c = 0; c < arj::DistanceCount; c++)
    bc.bits += std::uint64_t(h.distance[c]) * (p.distanceLengths[c] + (c ? c - 1 : 0));
  return bc.bits;
}

}  // namespace

void ClearHistogram(BlockHistogram &h) { std::memset(&h, 0, sizeof h); }

void CountTokens(BlockHistogram &h, const Token *tokens, std::size_t count) {
  for (std::size_t i = 0; i < count; i++) {
    h.literal[tokens[i].symbol]++;
    if (tokens[i].symbol >= 256) h.distance[DistanceSymbol(tokens[i].distance)]++;
  }
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

void WriteBlock(BitWriter &bw, const Token *tokens, std::size_t count) {
  BlockHistogram h;
  ClearHistogram(h);
  CountTokens(h, tokens, count);
  BlockPlan p;
  PlanBlock(h, p);
  std::uint16_t preCodes[arj::PreCodeCount], literalCodes[arj::LiteralCount],
      distanceCodes[arj::DistanceCount];
  BuildCanonicalCodes(p.preLengths, arj::PreCodeCount, preCodes);
  BuildCanonicalCodes(p.literalLengths, arj::LiteralCount, literalCodes);
  BuildCanonicalCodes(p.distanceLengths, arj::DistanceCount, distanceCodes);
  EmitBlockHeader(bw, p, count, preCodes);
  for (std::size_t i = 0; i < count; i++) {
    unsigned s = tokens[i].symbol;
    PutBits(bw, literalCodes[s], p.literalLengths[s]);
    if (s < 256) continue;
    unsigned d = tokens[i].distance, c = DistanceSymbol(d);
    PutBits(bw, distanceCodes[c], p.distanceLengths[c]);
    if (c > 1) PutBits(bw, d - (1u << (c - 1)), c - 1);
  }
}

void WriteFixedBlocks(BitWriter &bw, const Token *tokens, std::size_t count, std::size_t blockSymbols) {
  for (std::size_t i = 0; i < count; i += blockSymbols)
    WriteBlock(bw, tokens + i, count - i < blockSymbols ? count - i : blockSymbols);
}

static void UncountTokens(BlockHistogram &h, const Token *tokens, std::size_t count) {
  for (std::size_t i = 0; i < count; i++) {
    h.literal[tokens[i].symbol]--;
    if (tokens[i].symbol >= 256) h.distance[DistanceSymbol(tokens[i].distance)]--;
  }
  h.symbols -= static_cast<std::uint32_t>(count);
}

// The greedy split only ever weighs a new chunk against the open block, on
// chunk bounds. Afterwards each pair of neighbours may merge, or move the
// bound between them to wherever the two cost least, at a finer step.
static void RefineSplits(const Token *tokens, std::vector<std::uint32_t> &ends) {
  static const int Shifts[] = {-384, -256, -160, -96, -48, -16, 16, 48, 96, 160, 256, 384};
  std::vector<std::uint32_t> refined;
  std::size_t begin = 0;  // first token of block a
  for (std::size_t b = 0; b + 1 < ends.size(); b++) {
    std::size_t bound = ends[b], last = ends[b + 1];
    BlockHistogram a, c;
    ClearHistogram(a);
    ClearHistogram(c);
    CountTokens(a, tokens + begin, bound - begin);
    CountTokens(c, tokens + bound, last - bound);
    std::uint64_t apart = BlockBits(a) + BlockBits(c);
    if (last - begin <= MaxBlockSymbols) {
      BlockHistogram both = a;
      AddHistogram(both, c);
      if (BlockBits(both) <= apart) continue;  // block a now runs to last
    }
    std::size_t bestBound = bound;
    for (int shift : Shifts) {
      std::size_t moved = bound + shift;
      if (shift < 0 ? bound - begin <= std::size_t(-shift) : last - bound <= std::size_t(shift)) continue;
      if (moved - begin > MaxBlockSymbols || last - moved > MaxBlockSymbols) continue;
      BlockHistogram a2 = a, c2 = c;
      if (shift < 0) {
        UncountTokens(a2, tokens + moved, bound - moved);
        CountTokens(c2, tokens + moved, bound - moved);
      } else {
        CountTokens(a2, tokens + bound, moved - bound);
        UncountTokens(c2, tokens + bound, moved - bound);
      }
      std::uint64_t bits = BlockBits(a2) + BlockBits(c2);
      if (bits < apart) {
        apart = bits;
        bestBound = moved;
      }
    }
    refined.push_back(static_cast<std::uint32_t>(bestBound));
    begin = bestBound;
  }
  if (!ends.empty()) refined.push_back(ends.back());
  ends.swap(refined);
}

static void SubtractHistogram(BlockHistogram &from, const BlockHistogram &h) {
  for (unsigned s = 0; s < arj::LiteralCount; s++) from.literal[s] -= h.literal[s];
  for (unsigned s = 0; s < arj::DistanceCount; s++) from.distance[s] -= h.distance[s];
  from.symbols -= h.symbols;
}

// n log2 n for every count a block can hold.
static const float *NLogN() {
  static const std::vector<float> table = [] {
    std::vector<float> t(MaxBlockSymbols + 1, 0.0f);
    for (std::size_t n = 1; n < t.size(); n++) t[n] = static_cast<float>(n * std::log2(double(n)));
    return t;
  }();
  return table.data();
}

// The bits of the symbols under ideal codes, extra bits left out: a cheap
// stand-in for BlockBits when only the place of a cut is sought.
static float EntropyBits(const BlockHistogram &h, const float *nLogN) {
  float bits = 0;
  std::uint32_t distances = 0;
  for (unsigned s = 0; s < arj::LiteralCount; s++) bits -= nLogN[h.literal[s]];
  for (unsigned c = 0; c < arj::DistanceCount; c++) {
    bits -= nLogN[h.distance[c]];
    distances += h.distance[c];
  }
  return bits + nLogN[h.symbols] + nLogN[distances];
}

// The greedy rule only ever weighs one chunk, with a whole header of its
// own, against the open block, so it keeps together halves that would be
// cheaper apart. Each block is cut where its two parts cost least, if that
// beats it whole, and the parts are tried again.
static void CutBlocks(const Token *tokens, std::vector<std::uint32_t> &ends, std::size_t step) {
  std::vector<std::uint32_t> cut;
  std::vector<std::pair<std::size_t, std::size_t>> work;  // blocks still to try, last first
  const float *nLogN = NLogN();
  std::size_t from = 0;
  for (std::uint32_t blockEnd : ends) {
    work.push_back({from, blockEnd});
    while (!work.empty()) {
      std::size_t begin = work.back().first, end = work.back().second;
      work.pop_back();
      BlockHistogram whole, left, right;
      ClearHistogram(whole);
      CountTokens(whole, tokens + begin, end - begin);
      float bestGuess = INFINITY;
      std::size_t bestCut = 0;
      ClearHistogram(left);
      for (std::size_t at = begin + step; at + step <= end; at += step) {
        CountTokens(left, tokens + at - step, step);
        right = whole;
        SubtractHistogram(right, left);
        float guess = EntropyBits(left, nLogN) + EntropyBits(right, nLogN);
        if (guess < bestGuess) {
          bestGuess = guess;
          bestCut = at;
        }
      }
      if (bestCut) {
        ClearHistogram(left);
        CountTokens(left, tokens + begin, bestCut - begin);
        right = whole;
        SubtractHistogram(right, left);
        if (BlockBits(left) + BlockBits(right) >= BlockBits(whole)) bestCut = 0;
      }
      if (bestCut) {
        work.push_back({bestCut, end});
        work.push_back({begin, bestCut});
      } else {
        cut.push_back(static_cast<std::uint32_t>(end));
      }
    }
    from = blockEnd;
  }
  ends.swap(cut);
}

// The header a block of this histogram would add, as the streaming
// splitter guesses it.
static float HeaderGuess(const BlockHistogram &h) {
  unsigned used = 0;
  for (unsigned s = 0; s < arj::LiteralCount; s++) used += h.literal[s] != 0;
  return HeaderGuessBits + HeaderGuessBitsPerSymbol * used;
}

// CutBlocks for the streaming splitter, on one block it has just closed:
// cuts are judged by ideal code sizes and a guessed header for the smaller
// part, never by building codes. The sizes of both sides follow each token
// across the cut, so a scan costs a few steps per token. Appends the ends
// of the parts of [0, count), whose histogram is whole.
static void CutClosedBlock(const Token *tokens, std::size_t count, const BlockHistogram &whole,
                           std::vector<std::uint32_t> &ends) {
  struct Part {
    std::size_t begin, end;
    BlockHistogram h;
  };
  std::vector<Part> work;  // parts still to try, last first
  work.push_back({0, count, whole});
  const float *nLogN = NLogN();
  BlockHistogram left, right, bestLeft;
  while (!work.empty()) {
    Part part = work.back();
    work.pop_back();
    // Each side's size is n log n of its symbol and distance totals less
    // the sum of n log n over its counts; the sums move token by token.
    ClearHistogram(left);
    right = part.h;
    double leftSum = 0, rightSum = 0;
    std::uint32_t leftDistances = 0, rightDistances = 0;
    for (unsigned s = 0; s < arj::LiteralCount; s++) rightSum += nLogN[right.literal[s]];
    for (unsigned c = 0; c < arj::DistanceCount; c++) {
      rightSum += nLogN[right.distance[c]];
      rightDistances += right.distance[c];
    }
    const double wholeBits = nLogN[part.h.symbols] + nLogN[rightDistances] - rightSum;
    double bestGuess = INFINITY;
    std::size_t bestCut = 0;
    for (std::size_t at = part.begin; at + GuessCutStep < part.end;) {
      for (std::size_t stop = at + GuessCutStep; at < stop; at++) {
        unsigned sym = tokens[at].symbol;
        leftSum += nLogN[left.literal[sym] + 1] - nLogN[left.literal[sym]];
        rightSum += nLogN[right.literal[sym] - 1] - nLogN[right.literal[sym]];
        left.literal[sym]++;
        right.literal[sym]--;
        if (sym < 256) continue;
        unsigned c = DistanceSymbol(tokens[at].distance);
        leftSum += nLogN[left.distance[c] + 1] - nLogN[left.distance[c]];
        rightSum += nLogN[right.distance[c] - 1] - nLogN[right.distance[c]];
        left.distance[c]++;
        right.distance[c]--;
        leftDistances++;
        rightDistances--;
      }
      std::size_t leftSymbols = at - part.begin;
      double guess = nLogN[leftSymbols] + nLogN[leftDistances] - leftSum + nLogN[part.end - at] +
                     nLogN[rightDistances] - rightSum;
      if (guess < bestGuess) {
        bestGuess = guess;
        bestCut = at;
      }
    }
    if (bestCut) {
      ClearHistogram(bestLeft);
      CountTokens(bestLeft, tokens + part.begin, bestCut - part.begin);
      right = part.h;
      SubtractHistogram(right, bestLeft);
      float header = std::min(HeaderGuess(bestLeft), HeaderGuess(right));
      if (bestGuess + header < wholeBits) {
        work.push_back({bestCut, part.end, right});
        work.push_back({part.begin, bestCut, bestLeft});
        continue;
      }
    }
    ends.push_back(static_cast<std::uint32_t>(part.end));
  }
}

static std::uint64_t SplitBits(const Token *tokens, const std::vector<std::uint32_t> &ends) {
  std::uint64_t bits = 0;
  std::size_t from = 0;
  for (std::uint32_t blockEnd : ends) {
    BlockHistogram h;
    ClearHistogram(h);
    CountTokens(h, tokens + from, blockEnd - from);
    bits += BlockBits(h);
    from = blockEnd;
  }
  return bits;
}

// The streaming splitter's rule: a chunk joins the open block when one
// block of both costs less than two blocks, each with its own header.
// Judged by ideal code sizes and a guess at the chunk's own header, which
// grows with the symbols it uses, rather than by building two codes for
// every chunk. On joining, open and openBits take in the chunk.
static bool JoinChunk(BlockHistogram &open, float &openBits, std::size_t openCount,
                      const BlockHistogram &chunk, float chunkBits) {
  if (!openCount || openCount + chunk.symbols > MaxBlockSymbols) return false;
  BlockHistogram joined = open;
  AddHistogram(joined, chunk);
  float joinedBits = EntropyBits(joined, NLogN());
  unsigned used = 0;
  for (unsigned s = 0; s < arj::LiteralCount; s++) used += chunk.literal[s] != 0;
  if (joinedBits > openBits + chunkBits + HeaderGuessBits + HeaderGuessBitsPerSymbol * used) return false;
  open = joined;
  openBits = joinedBits;
  return true;
}

// The streaming splitter's greedy rule, on the same chunks.
static void GreedySplits(const Token *tokens, std::size_t count, std::vector<std::uint32_t> *blockEnds) {
  blockEnds->clear();
  BlockHistogram open;
  float openBits = 0;
  std::size_t openCount = 0;
  for (std::size_t pos = 0; pos < count;) {
    std::size_t chunk = count - pos < SplitChunkSymbols ? count - pos : SplitChunkSymbols;
    BlockHistogram h;
    ClearHistogram(h);
    CountTokens(h, tokens + pos, chunk);
    float chunkBits = EntropyBits(h, NLogN());
    if (JoinChunk(open, openBits, openCount, h, chunkBits)) {
      openCount += chunk;
    } else {
      if (openCount) blockEnds->push_back(static_cast<std::uint32_t>(pos));
      open = h;
      openBits = chunkBits;
      openCount = chunk;
    }
    pos += chunk;
  }
  if (count) blockEnds->push_back(static_cast<std::uint32_t>(count));
}

std::uint64_t PlanSplits(const Token *tokens, std::size_t count, std::vector<std::uint32_t> *blockEnds) {
  GreedySplits(tokens, count, blockEnds);
  CutBlocks(tokens, *blockEnds, CutStep);
  RefineSplits(tokens, *blockEnds);
  return SplitBits(tokens, *blockEnds);
}

static void WriteOpenBlock(BlockSplitter &bs, BitWriter &bw) {
  if (!bs.openCount) return;
  WriteBlock(bw, bs.pending.data() + bs.openBegin, bs.openCount);
  bs.stats.blocks++;
  bs.stats.symbols += bs.openCount;
  if (bs.openCount > bs.stats.largestBlock) bs.stats.largestBlock = static_cast<unsigned>(bs.openCount);
  bs.openBegin += bs.openCount;
  bs.openCount = 0;
  ClearHistogram(bs.openHistogram);
  bs.openBits = 0;
}

// The streaming splitter's open block, once closed, is written whole unless
// its parts promise to be cheaper; planned blocks are cut already.
static void WriteClosedBlock(BlockSplitter &bs, BitWriter &bw) {
  if (bs.planned || !bs.openCount) {
    WriteOpenBlock(bs, bw);
    return;
  }
  std::vector<std::uint32_t> ends;
  CutClosedBlock(bs.pending.data() + bs.openBegin, bs.openCount, bs.openHistogram, ends);
  std::size_t from = 0;
  for (std::uint32_t e : ends) {
    bs.openCount = e - from;
    WriteOpenBlock(bs, bw);
    from = e;
  }
}

static void JudgeChunk(BlockSplitter &bs, BitWriter &bw, std::size_t chunk) {
  BlockHistogram h;
  ClearHistogram(h);
  CountTokens(h, bs.pending.data() + bs.openBegin + bs.openCount, chunk);
  float chunkBits = EntropyBits(h, NLogN());
  if (JoinChunk(bs.openHistogram, bs.openBits, bs.openCount, h, chunkBits)) {
    bs.openCount += chunk;
    return;
  }
  WriteClosedBlock(bs, bw);
  bs.openHistogram = h;
  bs.openBits = chunkBits;
  bs.openCount = chunk;
}

void StartBlockSplitter(BlockSplitter &bs) {
  bs.pending.clear();
  bs.openBegin = 0;
  bs.openCount = 0;
  ClearHistogram(bs.openHistogram);
  bs.openBits = 0;
  bs.stats = EncodeStats{0, 0, 0};
  bs.planned = false;
}

void AddTokens(BlockSplitter &bs, BitWriter &bw, const Token *tokens, std::size_t count) {
  // Written tokens leave the front only once they are the larger part, so
  // each token is moved at most about once.
  if (bs.openBegin > bs.pending.size() / 2) {
    bs.pending.erase(bs.pending.begin(), bs.pending.begin() + bs.openBegin);
    bs.openBegin = 0;
  }
  bs.pending.insert(bs.pending.end(), tokens, tokens + count);
  while (bs.pending.size() - bs.openBegin - bs.openCount >= SplitChunkSymbols)
    JudgeChunk(bs, bw, SplitChunkSymbols);
}

void AddPlannedTokens(BlockSplitter &bs, BitWriter &bw, const Token *tokens, std::size_t count) {
  bs.planned = true;
  if (bs.openBegin > bs.pending.size() / 2) {
    bs.pending.erase(bs.pending.begin(), bs.pending.begin() + bs.openBegin);
    bs.openBegin = 0;
  }
  bs.pending.insert(bs.pending.end(), tokens, tokens + count);
  const Token *open = bs.pending.data() + bs.openBegin;
  const std::size_t total = bs.pending.size() - bs.openBegin;
  std::vector<std::uint32_t> ends, apart;
  std::uint64_t bits = PlanSplits(open, total, &ends);
  // The greedy split's chunks start at the open block, so the new tokens
  // may split worse than they would alone; the split they get alone, after
  // the open block as it stands, is the other choice.
  if (bs.openCount && count) {
    PlanSplits(open + bs.openCount, count, &apart);
    for (std::uint32_t &e : apart) e += static_cast<std::uint32_t>(bs.openCount);
    apart.insert(apart.begin(), static_cast<std::uint32_t>(bs.openCount));
    RefineSplits(open, apart);
    if (SplitBits(open, apart) < bits) ends.swap(apart);
  }
  if (ends.empty()) return;
  std::size_t from = 0;
  for (std::size_t b = 0; b + 1 < ends.size(); b++) {
    bs.openCount = ends[b] - from;
    WriteOpenBlock(bs, bw);
    from = ends[b];
  }
  bs.openCount = bs.pending.size() - bs.openBegin;
  ClearHistogram(bs.openHistogram);
  CountTokens(bs.openHistogram, bs.pending.data() + bs.openBegin, bs.openCount);
  bs.openBits = EntropyBits(bs.openHistogram, NLogN());
}

void FinishBlocks(BlockSplitter &bs, BitWriter &bw) {
  std::size_t rest = bs.pending.size() - bs.openBegin - bs.openCount;
  if (rest) JudgeChunk(bs, bw, rest);
  WriteClosedBlock(bs, bw);
}
