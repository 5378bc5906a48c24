// Where one block ends and the next begins. Two splitters share the work:
// the streaming one for the fast and normal levels, which judges chunks as
// the parser hands them over and guesses at sizes, and the planned one for
// the best level, which weighs whole segments by exact block sizes. Both
// start from the same greedy rule on chunks and then cut blocks in two by
// one loop, each with its own cost rule.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "encoder_internal.h"

namespace {

constexpr unsigned SplitChunkSymbols = 512;
constexpr unsigned CutStep = 128;  // where a planned block may be cut in two
// How many of the refinement's moves of a bound are priced exactly, as the
// parse's passes plan their blocks, and once more for the blocks written.
constexpr unsigned RefineTries = 2;
constexpr unsigned FinishTries = 6;
// The streaming splitter's guess at what a block's header costs beyond
// its symbols, found by measurement on mixed text and binaries.
constexpr float HeaderGuessBits = 150;
constexpr float HeaderGuessBitsPerSymbol = 3;
// Where a chunk would start a block of its own, the streaming splitter
// weighs each symbol it uses twice that: the block it starts goes on to
// code more symbols than its first chunk uses, and their lengths are sent
// too. Also found by measurement, on the fast and normal levels' output.
constexpr float JoinGuessBitsPerSymbol = 6;
constexpr unsigned GuessCutStep = 16;  // where the streaming splitter may cut a closed block

void UncountTokens(BlockHistogram &h, const Token *tokens, std::size_t count) {
  for (std::size_t i = 0; i < count; i++) {
    h.literal[tokens[i].symbol]--;
    if (tokens[i].symbol >= 256) h.distance[DistanceSymbol(tokens[i].distance)]--;
  }
  h.symbols -= static_cast<std::uint32_t>(count);
}

void SubtractHistogram(BlockHistogram &from, const BlockHistogram &h) {
  for (unsigned s = 0; s < arj::LiteralCount; s++) from.literal[s] -= h.literal[s];
  for (unsigned s = 0; s < arj::DistanceCount; s++) from.distance[s] -= h.distance[s];
  from.symbols -= h.symbols;
}

// n log2 n for every count a block can hold.
const float *NLogN() {
  static const std::vector<float> table = [] {
    std::vector<float> t(MaxBlockSymbols + 1, 0.0f);
    for (std::size_t n = 1; n < t.size(); n++) t[n] = static_cast<float>(n * std::log2(double(n)));
    return t;
  }();
  return table.data();
}

// The bits of the symbols under ideal codes, extra bits left out: a cheap
// stand-in for BlockBits when only the place of a cut is sought.
float EntropyBits(const BlockHistogram &h, const float *nLogN) {
  float bits = 0;
  std::uint32_t distances = 0;
  for (unsigned s = 0; s < arj::LiteralCount; s++) bits -= nLogN[h.literal[s]];
  for (unsigned c = 0; c < arj::DistanceCount; c++) {
    bits -= nLogN[h.distance[c]];
    distances += h.distance[c];
  }
  return bits + nLogN[h.symbols] + nLogN[distances];
}

// EntropyBits of left plus that of the rest of whole, worked out alike
// without making the rest's counts.
float SidesEntropyBits(const BlockHistogram &whole, const BlockHistogram &left, const float *nLogN) {
  float leftBits = 0, restBits = 0;
  std::uint32_t leftDistances = 0, restDistances = 0;
  for (unsigned s = 0; s < arj::LiteralCount; s++) {
    leftBits -= nLogN[left.literal[s]];
    restBits -= nLogN[whole.literal[s] - left.literal[s]];
  }
  for (unsigned c = 0; c < arj::DistanceCount; c++) {
    leftBits -= nLogN[left.distance[c]];
    restBits -= nLogN[whole.distance[c] - left.distance[c]];
    leftDistances += left.distance[c];
    restDistances += whole.distance[c] - left.distance[c];
  }
  return (leftBits + nLogN[left.symbols] + nLogN[leftDistances]) +
         (restBits + nLogN[whole.symbols - left.symbols] + nLogN[restDistances]);
}

// The header a block of this histogram would add, as the streaming
// splitter guesses it.
float HeaderGuess(const BlockHistogram &h) {
  unsigned used = 0;
  for (unsigned s = 0; s < arj::LiteralCount; s++) used += h.literal[s] != 0;
  return HeaderGuessBits + HeaderGuessBitsPerSymbol * used;
}

// Tokens [begin, end) of a block, with their histogram.
struct Part {
  std::size_t begin, end;
  BlockHistogram h;
};

// A cost rule of the split loop: the place where part is best cut in two,
// with the histogram of the tokens before it in left; 0 when the part
// costs less whole.
typedef std::size_t (*CutRule)(const Token *tokens, const Part &part, const BlockSplitter &bs,
                               BlockHistogram &left);

// The greedy rule only ever weighs one chunk, with a whole header of its
// own, against the open block, so it keeps together halves that would be
// cheaper apart. Each block is cut where the rule finds its two parts
// cheapest, if that beats it whole, and the parts are tried again. Appends
// the ends of the parts, in order, and their histograms when asked.
void SplitInTwo(const Token *tokens, const Part &block, CutRule rule, const BlockSplitter &bs,
                std::vector<std::uint32_t> &ends, std::vector<BlockHistogram> *histograms = nullptr) {
  std::vector<Part> work;  // parts still to try, last first
  work.push_back(block);
  BlockHistogram left;
  while (!work.empty()) {
    Part part = work.back();
    work.pop_back();
    std::size_t cut = rule(tokens, part, bs, left);
    if (!cut) {
      ends.push_back(static_cast<std::uint32_t>(part.end));
      if (histograms) histograms->push_back(part.h);
      continue;
    }
    Part right{cut, part.end, part.h};
    SubtractHistogram(right.h, left);
    work.push_back(right);
    work.push_back({part.begin, cut, left});
  }
}

// The planned splitter's cut: sought by ideal code sizes every CutStep
// tokens; 0 when the part is too short for one. Leaves the counts of both
// sides in left and right.
std::size_t GuessCut(const Token *tokens, const Part &part, BlockHistogram &left, BlockHistogram &right) {
  const float *nLogN = NLogN();
  float bestGuess = INFINITY;
  std::size_t bestCut = 0;
  BlockHistogram counted;  // the tokens before at
  ClearHistogram(counted);
  for (std::size_t at = part.begin + CutStep; at + CutStep <= part.end; at += CutStep) {
    CountTokens(counted, tokens + at - CutStep, CutStep);
    float guess = SidesEntropyBits(part.h, counted, nLogN);
    if (guess < bestGuess) {
      bestGuess = guess;
      bestCut = at;
      left = counted;
    }
  }
  if (!bestCut) return 0;
  right = part.h;
  SubtractHistogram(right, left);
  return bestCut;
}

// n log2 n for every count a block can hold, in 1/1024 bits, and the step
// from each count to the next: integer sums of these move token by token
// without the latency of floating-point adds.
struct FixedEntropy {
  std::vector<std::int32_t> nLogN;  // [n]: n log2 n
  std::vector<std::int32_t> step;   // [n]: nLogN[n + 1] - nLogN[n]
};

const FixedEntropy &FixedEntropyTables() {
  static const FixedEntropy tables = [] {
    FixedEntropy t;
    t.nLogN.assign(MaxBlockSymbols + 1, 0);
    for (std::size_t n = 1; n <= MaxBlockSymbols; n++)
      t.nLogN[n] = static_cast<std::int32_t>(std::lround(n * std::log2(double(n)) * 1024));
    t.step.assign(MaxBlockSymbols, 0);
    for (std::size_t n = 0; n < MaxBlockSymbols; n++) t.step[n] = t.nLogN[n + 1] - t.nLogN[n];
    return t;
  }();
  return tables;
}

// Slots of the streaming splitter's counts: the literal/length symbols,
// the distance codes, then a spare one that literals count into.
constexpr unsigned CountSlots = arj::LiteralCount + arj::DistanceCount + 1;
constexpr unsigned SpareSlot = CountSlots - 1;

// The streaming splitter's guess at a cut as it moves along a part: each
// side's size is n log n of its symbol and distance totals less the sum of
// n log n over its counts, and the sums move token by token, or chunk by
// chunk. The counts are the left side's, of [part.begin, at); the right
// side's are the part's less them.
struct CutScan {
  std::uint32_t whole[CountSlots];  // the part's counts; the spare slot holds its literals
  std::uint32_t left[CountSlots];
  std::uint32_t distances, leftDistances;
  std::int64_t leftSum, rightSum;  // in FixedEntropy's units
  std::size_t at;
};

void StartCutScan(CutScan &s, const Part &part, const std::int32_t *nLogN) {
  std::memcpy(s.whole, part.h.literal, sizeof part.h.literal);
  std::memcpy(s.whole + arj::LiteralCount, part.h.distance, sizeof part.h.distance);
  std::memset(s.left, 0, sizeof s.left);
  s.distances = 0;
  s.rightSum = 0;
  for (unsigned c = 0; c < arj::DistanceCount; c++) s.distances += part.h.distance[c];
  s.whole[SpareSlot] = part.h.symbols - s.distances;
  for (unsigned k = 0; k < SpareSlot; k++) s.rightSum += nLogN[s.whole[k]];
  s.leftDistances = 0;
  s.leftSum = 0;
  s.at = part.begin;
}

inline std::int64_t CutGuess(const CutScan &s, const Part &part, const std::int32_t *nLogN) {
  return std::int64_t(nLogN[s.at - part.begin]) + nLogN[s.leftDistances] - s.leftSum +
         nLogN[part.end - s.at] + nLogN[s.distances - s.leftDistances] - s.rightSum;
}

// Moves the cut past one token. A literal counts into the spare slot,
// whose steps weigh nothing, so that no branch tells literals from
// matches.
inline void ScanToken(CutScan &s, const Token &token, const std::int32_t *step) {
  std::uint32_t *literal = s.left, *distance = s.left + arj::LiteralCount;
  const std::uint32_t *literalTotal = s.whole, *distanceTotal = s.whole + arj::LiteralCount;
  unsigned sym = token.symbol, match = sym >= 256;
  unsigned c = DistanceSlot(token);
  std::uint32_t l = literal[sym], d = distance[c];
  std::int32_t weight = -static_cast<std::int32_t>(match);  // all ones for a match
  s.leftSum += step[l] + (step[d] & weight);
  s.rightSum -= step[literalTotal[sym] - l - 1] + (step[distanceTotal[c] - d - 1] & weight);
  literal[sym] = l + 1;
  distance[c] = d + 1;
  s.leftDistances += match;
  s.at++;
}

// Moves the cut on towards stop, judging it every GuessCutStep tokens
// while the right side keeps more than that.
void ScanTokens(CutScan &s, const Token *tokens, const Part &part, std::size_t stop,
                const std::int32_t *nLogN, const std::int32_t *step, std::int64_t &bestGuess,
                std::size_t &bestCut) {
  while (s.at + GuessCutStep < part.end && s.at + GuessCutStep <= stop) {
    for (std::size_t end = s.at + GuessCutStep; s.at < end;) ScanToken(s, tokens[s.at], step);
    std::int64_t guess = CutGuess(s, part, nLogN);
    if (guess < bestGuess) {
      bestGuess = guess;
      bestCut = s.at;
    }
  }
}

// Moves the cut over one whole chunk, forth (sign 1) or back (-1), by its
// counts alone.
void ScanChunk(CutScan &s, const BlockSplitter &bs, std::size_t chunk, int sign, const std::int32_t *nLogN) {
  std::uint32_t distances = 0;
  for (std::size_t e = bs.chunkStarts[chunk]; e < bs.chunkStarts[chunk + 1]; e++) {
    unsigned slot = bs.chunkCounts[e] >> 16;
    std::uint32_t n = bs.chunkCounts[e] & 0xFFFF, l = s.left[slot], r = s.whole[slot] - l;
    std::uint32_t l2 = sign > 0 ? l + n : l - n, r2 = sign > 0 ? r - n : r + n;
    s.leftSum += nLogN[l2] - nLogN[l];
    s.rightSum += nLogN[r2] - nLogN[r];
    s.left[slot] = l2;
    if (slot >= arj::LiteralCount) distances += n;
  }
  std::uint32_t literals = SplitChunkSymbols - distances;
  s.left[SpareSlot] = sign > 0 ? s.left[SpareSlot] + literals : s.left[SpareSlot] - literals;
  s.leftDistances = sign > 0 ? s.leftDistances + distances : s.leftDistances - distances;
  s.at = sign > 0 ? s.at + SplitChunkSymbols : s.at - SplitChunkSymbols;
}

// The streaming splitter's rule, for a block it has just closed: cuts are
// judged by ideal code sizes and a guessed header for the smaller part,
// never by building codes. A long part is first judged at the starts of
// its chunks, by their counts, and then token by token only within a
// chunk of the best of those; a short one token by token throughout.
std::size_t CutByGuess(const Token *tokens, const Part &part, const BlockSplitter &bs, BlockHistogram &left) {
  const FixedEntropy &fixed = FixedEntropyTables();
  const std::int32_t *nLogN = fixed.nLogN.data(), *step = fixed.step.data();
  CutScan s;
  StartCutScan(s, part, nLogN);
  const std::int64_t wholeBits = std::int64_t(nLogN[part.h.symbols]) + nLogN[s.distances] - s.rightSum;
  std::int64_t bestGuess = INT64_MAX;
  std::size_t bestCut = 0;
  const std::size_t firstChunk = part.begin / SplitChunkSymbols + 1;  // the first to start past part.begin
  const std::size_t chunks = bs.chunkStarts.empty() ? 0 : bs.chunkStarts.size() - 1;
  if ((firstChunk + 1) * SplitChunkSymbols >= part.end || part.end > chunks * SplitChunkSymbols) {
    ScanTokens(s, tokens, part, part.end, nLogN, step, bestGuess, bestCut);
  } else {
    std::size_t chunk = firstChunk;
    ScanTokens(s, tokens, part, chunk * SplitChunkSymbols, nLogN, step, bestGuess, bestCut);
    while (s.at < chunk * SplitChunkSymbols) ScanToken(s, tokens[s.at], step);
    CutScan atBest;  // s where a chunk's start was judged best
    bool chunkBest = false;
    for (;; chunk++) {
      std::int64_t guess = CutGuess(s, part, nLogN);
      if (guess < bestGuess) {
        bestGuess = guess;
        bestCut = s.at;
        atBest = s;
        chunkBest = true;
      }
      if ((chunk + 1) * SplitChunkSymbols >= part.end) break;
      ScanChunk(s, bs, chunk, 1, nLogN);
    }
    if (chunkBest) {
      // Token by token from the chunk before the best start to the end of
      // the one after it; before the first chunk the tokens were judged.
      s = atBest;
      if (bestCut > firstChunk * SplitChunkSymbols)
        ScanChunk(s, bs, bestCut / SplitChunkSymbols - 1, -1, nLogN);
      ScanTokens(s, tokens, part, bestCut + SplitChunkSymbols, nLogN, step, bestGuess, bestCut);
    }
  }
  if (!bestCut) return 0;
  // The counts cover the part up to at; the tokens past the cut leave
  // them, or the cut's left side is counted afresh when that is shorter.
  if (s.at - bestCut <= bestCut - part.begin) {
    std::memcpy(left.literal, s.left, sizeof left.literal);
    std::memcpy(left.distance, s.left + arj::LiteralCount, sizeof left.distance);
    left.symbols = static_cast<std::uint32_t>(s.at - part.begin);
    UncountTokens(left, tokens + bestCut, s.at - bestCut);
  } else {
    ClearHistogram(left);
    CountTokens(left, tokens + part.begin, bestCut - part.begin);
  }
  BlockHistogram right = part.h;
  SubtractHistogram(right, left);
  float header = std::min(HeaderGuess(left), HeaderGuess(right));
  return bestGuess + std::int64_t(header * 1024) < wholeBits ? bestCut : 0;
}

// Moves the bound between neighbours a and c from bound to moved.
void MoveBound(const Token *tokens, std::size_t bound, std::size_t moved, BlockHistogram &a,
               BlockHistogram &c) {
  if (moved < bound) {
    UncountTokens(a, tokens + moved, bound - moved);
    CountTokens(c, tokens + moved, bound - moved);
  } else {
    CountTokens(a, tokens + bound, moved - bound);
    UncountTokens(c, tokens + bound, moved - bound);
  }
}

// Each block of ends cut in two where GuessCut says, as long as the exact
// sizes of the parts beat the whole; the parts are tried again. Each
// block's exact size goes to bits, which the refinement starts from.
void CutBlocks(const Token *tokens, std::vector<std::uint32_t> &ends, std::vector<std::uint64_t> &bits) {
  struct PricedPart {
    Part part;
    std::uint64_t bits;  // BlockBits of part.h
  };
  std::vector<std::uint32_t> cut;
  std::vector<PricedPart> work;  // parts still to try, last first
  bits.clear();
  std::size_t begin = 0;
  BlockHistogram left, right;
  for (std::uint32_t blockEnd : ends) {
    PricedPart block;
    block.part.begin = begin;
    block.part.end = blockEnd;
    ClearHistogram(block.part.h);
    CountTokens(block.part.h, tokens + begin, blockEnd - begin);
    block.bits = BlockBits(block.part.h);
    work.push_back(block);
    while (!work.empty()) {
      PricedPart whole = work.back();
      work.pop_back();
      std::size_t at = GuessCut(tokens, whole.part, left, right);
      std::uint64_t leftBits = at ? BlockBits(left) : 0, rightBits = at ? BlockBits(right) : 0;
      if (!at || leftBits + rightBits >= whole.bits) {
        cut.push_back(static_cast<std::uint32_t>(whole.part.end));
        bits.push_back(whole.bits);
        continue;
      }
      work.push_back({{at, whole.part.end, right}, rightBits});
      work.push_back({{whole.part.begin, at, left}, leftBits});
    }
    begin = blockEnd;
  }
  ends.swap(cut);
}

// The greedy split only ever weighs a new chunk against the open block, on
// chunk bounds. Afterwards each pair of neighbours may merge, or move the
// bound between them to wherever the two cost least, at a finer step. Of
// the moves, only the few that ideal code sizes rank best are priced
// exactly. bits holds each block's exact size; returns the sum after.
std::uint64_t RefineSplits(const Token *tokens, std::vector<std::uint32_t> &ends,
                           const std::vector<std::uint64_t> &bits, unsigned tries) {
  static const int Shifts[] = {-384, -256, -160, -96, -48, -16, 16, 48, 96, 160, 256, 384};
  constexpr unsigned ShiftCount = sizeof Shifts / sizeof Shifts[0];
  const float *nLogN = NLogN();
  std::vector<std::uint32_t> refined;
  std::uint64_t total = 0;
  std::size_t begin = 0;  // first token of block a
  std::uint64_t aBits = ends.empty() ? 0 : bits[0];
  BlockHistogram a, c;  // the counts of block a, tokens [begin, bound), and of c, [bound, last)
  ClearHistogram(a);
  if (!ends.empty()) CountTokens(a, tokens, ends[0]);
  for (std::size_t b = 0; b + 1 < ends.size(); b++) {
    std::size_t bound = ends[b], last = ends[b + 1];
    ClearHistogram(c);
    CountTokens(c, tokens + bound, last - bound);
    const std::uint64_t cBits = bits[b + 1];
    std::uint64_t apart = aBits + cBits;
    BlockHistogram both = a;
    AddHistogram(both, c);
    if (last - begin <= MaxBlockSymbols) {
      std::uint64_t bothBits = BlockBits(both);
      if (bothBits <= apart) {  // block a now runs to last
        aBits = bothBits;
        a = both;
        continue;
      }
    }
    float guess[ShiftCount];
    for (unsigned k = 0; k < ShiftCount; k++) {
      int shift = Shifts[k];
      std::size_t moved = bound + shift;
      guess[k] = INFINITY;
      if (shift < 0 ? bound - begin <= std::size_t(-shift) : last - bound <= std::size_t(shift)) continue;
      if (moved - begin > MaxBlockSymbols || last - moved > MaxBlockSymbols) continue;
      BlockHistogram a2 = a;
      if (moved < bound)
        UncountTokens(a2, tokens + moved, bound - moved);
      else
        CountTokens(a2, tokens + bound, moved - bound);
      guess[k] = SidesEntropyBits(both, a2, nLogN);
    }
    float ranked[ShiftCount];
    std::copy(guess, guess + ShiftCount, ranked);
    std::sort(ranked, ranked + ShiftCount);
    const float worstTried = ranked[tries - 1];
    std::size_t bestBound = bound;
    std::uint64_t leftBits = aBits, rightBits = cBits;
    for (unsigned k = 0; k < ShiftCount; k++) {
      if (guess[k] == INFINITY || guess[k] > worstTried) continue;
      std::size_t moved = bound + Shifts[k];
      BlockHistogram a2 = a, c2 = c;
      MoveBound(tokens, bound, moved, a2, c2);
      std::uint64_t a2Bits = BlockBits(a2), c2Bits = BlockBits(c2);
      if (a2Bits + c2Bits < apart) {
        apart = a2Bits + c2Bits;
        bestBound = moved;
        leftBits = a2Bits;
        rightBits = c2Bits;
      }
    }
    refined.push_back(static_cast<std::uint32_t>(bestBound));
    total += leftBits;
    begin = bestBound;
    aBits = rightBits;
    MoveBound(tokens, bound, bestBound, a, c);
    a = c;
  }
  if (!ends.empty()) refined.push_back(ends.back());
  ends.swap(refined);
  return total + aBits;
}

// The exact size of each block of ends.
void BlockSizes(const Token *tokens, const std::vector<std::uint32_t> &ends,
                std::vector<std::uint64_t> &bits) {
  bits.clear();
  std::size_t from = 0;
  for (std::uint32_t blockEnd : ends) {
    BlockHistogram h;
    ClearHistogram(h);
    CountTokens(h, tokens + from, blockEnd - from);
    bits.push_back(BlockBits(h));
    from = blockEnd;
  }
}

// The greedy rule: a chunk joins the open block when one block of both
// costs less than two blocks, each with its own header. Judged by ideal
// code sizes and a guess at the chunk's own header, which grows with the
// symbols it uses, rather than by building two codes for every chunk. On
// joining, open and openBits take in the chunk.
bool JoinChunk(BlockHistogram &open, float &openBits, std::size_t openCount, const BlockHistogram &chunk,
               float chunkBits) {
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

// The greedy rule over all the tokens at once, as the planned splitter's
// first guess.
void GreedySplits(const Token *tokens, std::size_t count, std::vector<std::uint32_t> *blockEnds) {
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

void WriteOpenBlock(BlockSplitter &bs, BitWriter &bw, const BlockHistogram *counted = nullptr) {
  if (!bs.openCount) return;
  if (counted)
    WriteCountedBlock(bw, bs.pending.data() + bs.openBegin, bs.openCount, *counted, bs.fewFlattenings);
  else
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
void WriteClosedBlock(BlockSplitter &bs, BitWriter &bw) {
  if (bs.planned || !bs.openCount) {
    WriteOpenBlock(bs, bw);
    return;
  }
  Part block;
  block.begin = 0;
  block.end = bs.openCount;
  block.h = bs.openHistogram;
  std::vector<std::uint32_t> ends;
  std::vector<BlockHistogram> histograms;
  SplitInTwo(bs.pending.data() + bs.openBegin, block, CutByGuess, bs, ends, &histograms);
  std::size_t from = 0;
  for (std::size_t b = 0; b < ends.size(); b++) {
    bs.openCount = ends[b] - from;
    WriteOpenBlock(bs, bw, &histograms[b]);
    from = ends[b];
  }
}

// Appends a chunk of the open block to its counts by chunk. Every slot is
// stored and only a used one kept: no branch waits on counts that no
// pattern foretells.
void RecordChunk(BlockSplitter &bs, const BlockHistogram &h) {
  if (bs.chunkStarts.empty()) bs.chunkStarts.push_back(0);
  std::size_t kept = bs.chunkCounts.size();
  bs.chunkCounts.resize(kept + arj::LiteralCount + arj::DistanceCount);
  std::uint32_t *slots = bs.chunkCounts.data();
  for (unsigned s = 0; s < arj::LiteralCount; s++) {
    slots[kept] = s << 16 | h.literal[s];
    kept += h.literal[s] != 0;
  }
  for (unsigned c = 0; c < arj::DistanceCount; c++) {
    slots[kept] = (arj::LiteralCount + c) << 16 | h.distance[c];
    kept += h.distance[c] != 0;
  }
  bs.chunkCounts.resize(kept);
  bs.chunkStarts.push_back(static_cast<std::uint32_t>(kept));
}

// JoinChunk's rule for the chunk RecordChunk listed last, but with each
// used symbol weighed by JoinGuessBitsPerSymbol: the planned splitter
// refines its blocks by exact sizes afterwards and does best with the
// lighter weight. The chunk's ideal size, and what joining it would change
// of the open block's, are sums over the symbols it uses alone. On
// joining, the open block takes in the chunk.
bool JoinRecordedChunk(BlockSplitter &bs, const BlockHistogram &chunk, float &chunkBits) {
  const float *nLogN = NLogN();
  BlockHistogram &open = bs.openHistogram;
  const std::size_t first = bs.chunkStarts[bs.chunkStarts.size() - 2], last = bs.chunkCounts.size();
  double chunkSum = 0, joinedChange = 0;
  std::uint32_t distances = 0, openDistances = 0;
  unsigned used = 0;
  for (std::size_t e = first; e < last; e++) {
    unsigned slot = bs.chunkCounts[e] >> 16;
    std::uint32_t n = bs.chunkCounts[e] & 0xFFFF;
    std::uint32_t o = slot < arj::LiteralCount ? open.literal[slot] : open.distance[slot - arj::LiteralCount];
    chunkSum += nLogN[n];
    joinedChange += double(nLogN[o + n]) - nLogN[o];
    if (slot < arj::LiteralCount)
      used++;
    else
      distances += n;
  }
  chunkBits = static_cast<float>(nLogN[chunk.symbols] + double(nLogN[distances]) - chunkSum);
  if (!bs.openCount || bs.openCount + chunk.symbols > MaxBlockSymbols) return false;
  for (unsigned c = 0; c < arj::DistanceCount; c++) openDistances += open.distance[c];
  double joinedBits = bs.openBits - joinedChange - nLogN[open.symbols] - nLogN[openDistances] +
                      nLogN[open.symbols + chunk.symbols] + nLogN[openDistances + distances];
  if (joinedBits > double(bs.openBits) + chunkBits + HeaderGuessBits + JoinGuessBitsPerSymbol * used)
    return false;
  for (std::size_t e = first; e < last; e++) {
    unsigned slot = bs.chunkCounts[e] >> 16;
    std::uint32_t n = bs.chunkCounts[e] & 0xFFFF;
    if (slot < arj::LiteralCount)
      open.literal[slot] += n;
    else
      open.distance[slot - arj::LiteralCount] += n;
  }
  open.symbols += chunk.symbols;
  bs.openBits = static_cast<float>(joinedBits);
  return true;
}

void JudgeChunk(BlockSplitter &bs, BitWriter &bw, std::size_t chunk) {
  BlockHistogram h;
  ClearHistogram(h);
  CountTokens(h, bs.pending.data() + bs.openBegin + bs.openCount, chunk);
  RecordChunk(bs, h);
  float chunkBits;
  if (JoinRecordedChunk(bs, h, chunkBits)) {
    bs.openCount += chunk;
    return;
  }
  // The chunk starts a block of its own: the closed one is cut by its own
  // chunks.
  bs.chunkCounts.resize(bs.chunkStarts[bs.chunkStarts.size() - 2]);
  bs.chunkStarts.pop_back();
  WriteClosedBlock(bs, bw);
  bs.chunkStarts.clear();
  bs.chunkCounts.clear();
  RecordChunk(bs, h);
  bs.openHistogram = h;
  bs.openBits = chunkBits;
  bs.openCount = chunk;
}

}  // namespace

std::uint64_t PlanSplits(const Token *tokens, std::size_t count, std::vector<std::uint32_t> *blockEnds) {
  std::vector<std::uint64_t> bits;
  GreedySplits(tokens, count, blockEnds);
  CutBlocks(tokens, *blockEnds, bits);
  return RefineSplits(tokens, *blockEnds, bits, RefineTries);
}

std::uint64_t RoughSplits(const Token *tokens, std::size_t count, std::vector<std::uint32_t> *blockEnds) {
  std::vector<std::uint64_t> bits;
  GreedySplits(tokens, count, blockEnds);
  CutBlocks(tokens, *blockEnds, bits);
  std::uint64_t total = 0;
  for (std::uint64_t b : bits) total += b;
  return total;
}

std::uint64_t FinishSplits(const Token *tokens, std::vector<std::uint32_t> *blockEnds) {
  std::vector<std::uint64_t> bits;
  BlockSizes(tokens, *blockEnds, bits);
  return RefineSplits(tokens, *blockEnds, bits, FinishTries);
}

void StartBlockSplitter(BlockSplitter &bs) {
  bs.pending.clear();
  bs.openBegin = 0;
  bs.openCount = 0;
  ClearHistogram(bs.openHistogram);
  bs.openBits = 0;
  bs.stats = EncodeStats{0, 0, 0};
  bs.planned = false;
  bs.fewFlattenings = false;
  bs.chunkStarts.clear();
  bs.chunkCounts.clear();
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

void AddPlannedTokens(BlockSplitter &bs, BitWriter &bw, const Token *tokens, std::size_t count,
                      const std::vector<std::uint32_t> &plan) {
  bs.planned = true;
  if (bs.openBegin > bs.pending.size() / 2) {
    bs.pending.erase(bs.pending.begin(), bs.pending.begin() + bs.openBegin);
    bs.openBegin = 0;
  }
  bs.pending.insert(bs.pending.end(), tokens, tokens + count);
  const Token *open = bs.pending.data() + bs.openBegin;
  // The open block stays as it is, before the new tokens' own split; only
  // the bound between them may still move or go.
  std::vector<std::uint32_t> ends = plan;
  if (bs.openCount && count) {
    for (std::uint32_t &e : ends) e += static_cast<std::uint32_t>(bs.openCount);
    ends.insert(ends.begin(), static_cast<std::uint32_t>(bs.openCount));
    std::vector<std::uint64_t> bits;
    BlockSizes(open, ends, bits);
    RefineSplits(open, ends, bits, RefineTries);
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
