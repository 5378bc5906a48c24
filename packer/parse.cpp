// Turning bytes into literals and matches: tree match finding and the
// cost-based parse of the best level; the fast and normal levels' lazy
// parse is in lazy.cpp.
//
// The best level prices every way to reach each position of a segment
// (literal, or a match of any length up to the longest found) and keeps the
// cheapest path. The first pass is priced by the statistics of the data
// before; each later pass by the code lengths the blocks of the pass before
// would really get, block by block.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "encoder_internal.h"

// Where the compiler has vector types, lengths are priced a group of lanes
// at a time; on x86 processors with AVX2, eight lanes instead of four.
#if defined(__GNUC__)
#define KELVRA_PRICE_LANES 1
#endif
#if defined(KELVRA_PRICE_LANES) && (defined(__x86_64__) || defined(__i386__))
#define KELVRA_PRICE_AVX2 1
#endif

namespace {

constexpr unsigned HashBits = 16;
constexpr unsigned ChainSize = 32768;  // a power of two above the window
constexpr unsigned ChainMask = ChainSize - 1;
constexpr unsigned MaxOffset = arj::MaxDistance + 1;
constexpr std::uint32_t NoPosition = 0xFFFFFFFFu;

struct Match {
  std::uint16_t length;
  std::uint16_t distance;  // distance value: offset - 1
};

// Parses after the first, each priced by the blocks of the one before; they
// stop early once a pass gains less than 1 / 2^SettledShift of the size.
constexpr unsigned BestPasses = 4;
constexpr unsigned SettledShift = 10;
// Each price is part whole code length, part the symbol's own share.
constexpr float ShareWeight = 0.5f;

struct LevelParams {
  unsigned maxChain;    // tree depth
  unsigned niceLength;  // stop looking once a match is this long
};

const LevelParams BestParams{256, 256};

inline std::uint32_t Hash3(const std::uint8_t *p) {
  std::uint32_t v = std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
  return (v * 2654435761u) >> (32 - HashBits);
}

// Cost in bits of each literal/length symbol and each distance symbol, the
// latter with its extra bits.
struct CostModel {
  // Seven more than the symbols: the parse prices lengths in groups of up
  // to eight, and the last group's lanes past the longest length read these.
  float literal[arj::LiteralCount + 7];
  float distance[arj::DistanceCount];
};

}  // namespace

struct ParserState {
  const std::uint8_t *data;  // the whole input; matches may reach back anywhere in the window
  std::size_t size;          // bytes of data
  PackLevel level;
  LazyFinder *lazy;  // the fast and normal levels' state; null at the best level
  LevelParams params;
  std::vector<std::uint32_t> head;  // the root of each hash's tree, or NoPosition
  // Per hash, a binary search tree of the window's positions, ordered by
  // the bytes that follow them, newest at the root; children by position &
  // ChainMask. Each node is older than its parent.
  // The match tree's two children of each window position side by side,
  // smaller then larger: a walk meets both in one cache line.
  std::vector<std::uint32_t> children;
  // The best level's segment state.
  std::vector<Match> matches;             // candidates of the segment, by position
  std::vector<std::uint32_t> firstMatch;  // per position: index into matches; one more at the end
  std::vector<float> price;               // cheapest bits to reach each position
  std::vector<std::uint32_t>
      arrival;  // how that cheapest way arrives: length | distance << 16 (length 1: literal)
  std::vector<Token> bestTokens;                   // the cheapest pass so far
  std::vector<std::uint32_t> blockEnds, bestEnds;  // PlanSplits of the latest pass, of the cheapest
};

// Prices by each symbol's share of the counts, smoothed.
static void ModelFromHistogram(CostModel &model, const BlockHistogram &h) {
  double literalTotal = 0, distanceTotal = 0;
  for (unsigned s = 0; s < arj::LiteralCount; s++) literalTotal += h.literal[s] + 0.25;
  for (unsigned c = 0; c < arj::DistanceCount; c++) distanceTotal += h.distance[c] + 0.25;
  for (unsigned s = 0; s < arj::LiteralCount; s++)
    model.literal[s] = static_cast<float>(std::log2(literalTotal / (h.literal[s] + 0.25)));
  for (unsigned c = 0; c < arj::DistanceCount; c++)
    model.distance[c] =
        static_cast<float>(std::log2(distanceTotal / (h.distance[c] + 0.25)) + (c ? c - 1 : 0));
}

// A first guess for data nothing is known about yet.
static void DefaultModel(CostModel &model) {
  for (unsigned s = 0; s < 256; s++) model.literal[s] = 8.0f;
  for (unsigned s = 256; s < arj::LiteralCount; s++) model.literal[s] = 6.0f + (s - 256) / 64.0f;
  for (unsigned c = 0; c < arj::DistanceCount; c++) model.distance[c] = 3.0f + (c ? c - 1 : 0);
}

namespace {

#if defined(KELVRA_PRICE_LANES)
template <unsigned Lanes>
struct LaneTypes;
template <>
struct LaneTypes<4> {
  typedef float Floats __attribute__((vector_size(16)));
  typedef std::int32_t Ints __attribute__((vector_size(16)));
};
template <>
struct LaneTypes<8> {
  typedef float Floats __attribute__((vector_size(32)));
  typedef std::int32_t Ints __attribute__((vector_size(32)));
};

// Offers lengths from length up to top, through one candidate's distance
// at distanceBits, to the positions after the one at price and arrival:
// Lanes lengths at a time, the same sums and comparisons as one by one,
// without branches (which way is cheaper is hard to predict). Lanes past
// top keep what they hold; the arrays have room for the last group.
template <unsigned Lanes>
__attribute__((always_inline)) inline void OfferLengths(float *price, std::uint32_t *arrival,
                                                        const float *lengthBits, float distanceBits,
                                                        std::uint32_t way, unsigned length, unsigned top) {
  typedef typename LaneTypes<Lanes>::Floats Floats;
  typedef typename LaneTypes<Lanes>::Ints Ints;
  Ints steps;
  for (unsigned j = 0; j < Lanes; j++) steps[j] = static_cast<std::int32_t>(j);
  for (; length <= top; length += Lanes) {
    Ints lengths = static_cast<std::int32_t>(length) + steps;
    Floats cost, old;
    Ints oldWay;
    std::memcpy(&cost, lengthBits + length, sizeof cost);
    std::memcpy(&old, price + length, sizeof old);
    std::memcpy(&oldWay, arrival + length, sizeof oldWay);
    cost = distanceBits + cost;
    Ints cheaper = (cost < old) & (lengths <= static_cast<std::int32_t>(top));
    Floats newPrice = cheaper ? cost : old;
    Ints newWay = cheaper ? (static_cast<std::int32_t>(way) | lengths) : oldWay;
    std::memcpy(price + length, &newPrice, sizeof newPrice);
    std::memcpy(arrival + length, &newWay, sizeof newWay);
  }
}
#else
template <unsigned Lanes>
inline void OfferLengths(float *price, std::uint32_t *arrival, const float *lengthBits, float distanceBits,
                         std::uint32_t way, unsigned length, unsigned top) {
  for (; length <= top; length++) {
    float cost = distanceBits + lengthBits[length];
    bool cheaper = cost < price[length];
    price[length] = cheaper ? cost : price[length];
    arrival[length] = cheaper ? (way | length) : arrival[length];
  }
}
#endif

// Room past a segment's last position for the last group of lanes.
constexpr std::size_t PriceRoom = 8;

// The cheapest path through the segment's candidates. Block k of the
// segment, positions [modelStart[k], modelStart[k + 1]), is priced with
// models[k]; a token is priced by the block it starts in.
template <unsigned Lanes>
__attribute__((always_inline)) inline void PricePaths(ParserState &ps, std::size_t begin, std::size_t end,
                                                      const CostModel *models, const std::size_t *modelStart,
                                                      std::size_t modelCount) {
  const std::size_t n = end - begin;
  ps.price.assign(n + PriceRoom, INFINITY);
  // Every position is reached, if only by a literal, before its way is read.
  ps.arrival.resize(n + PriceRoom);
  ps.price[0] = 0;
  std::size_t block = 0;
  for (std::size_t i = 0; i < n; i++) {
    while (block + 1 < modelCount && i >= modelStart[block + 1]) block++;
    const CostModel &model = models[block];
    float base = ps.price[i];
    if (base == INFINITY) continue;
    float viaLiteral = base + model.literal[ps.data[begin + i]];
    if (viaLiteral < ps.price[i + 1]) {
      ps.price[i + 1] = viaLiteral;
      ps.arrival[i + 1] = 1;
    }
    // Candidates come shortest (and nearest) first. Each length goes to
    // the cheapest candidate long enough for it, which need not be the
    // nearest: a farther distance class may have the shorter code.
    const std::uint32_t k0 = ps.firstMatch[i];
    float distanceBits = INFINITY;
    std::uint32_t distance = 0;
    for (std::uint32_t k = ps.firstMatch[i + 1]; k-- > k0;) {
      const Match m = ps.matches[k];
      float bits = base + model.distance[DistanceSymbol(m.distance)];
      if (bits < distanceBits) {
        distanceBits = bits;
        distance = m.distance;
      }
      unsigned length = k > k0 ? ps.matches[k - 1].length + 1u : arj::MinMatch;
      OfferLengths<Lanes>(ps.price.data() + i, ps.arrival.data() + i, model.literal + 253, distanceBits,
                          distance << 16, length, m.length);
    }
  }
}

#if defined(KELVRA_PRICE_AVX2)
__attribute__((target("avx2"))) void PricePathsAvx2(ParserState &ps, std::size_t begin, std::size_t end,
                                                    const CostModel *models, const std::size_t *modelStart,
                                                    std::size_t modelCount) {
  PricePaths<8>(ps, begin, end, models, modelStart, modelCount);
}
#endif

void PricePathsPlain(ParserState &ps, std::size_t begin, std::size_t end, const CostModel *models,
                     const std::size_t *modelStart, std::size_t modelCount) {
  PricePaths<4>(ps, begin, end, models, modelStart, modelCount);
}

}  // namespace

#if defined(KELVRA_PRICE_AVX2)
// Set while globals are initialized, which may come before the runtime's
// own look at the processor: hence the explicit start.
static bool ProcessorHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
bool widePricing = ProcessorHasAvx2();
#else
bool widePricing = false;
#endif

// Either width finds the same prices and ways: each lane is one length's
// own comparison.
static void PriceSegment(ParserState &ps, std::size_t begin, std::size_t end, const CostModel *models,
                         const std::size_t *modelStart, std::size_t modelCount, std::vector<Token> *tokens) {
#if defined(KELVRA_PRICE_AVX2)
  if (widePricing)
    PricePathsAvx2(ps, begin, end, models, modelStart, modelCount);
  else
#endif
    PricePathsPlain(ps, begin, end, models, modelStart, modelCount);
  const std::size_t n = end - begin;
  // The path is walked back twice: once to count its tokens, once to put
  // each in its place.
  std::size_t count = 0;
  for (std::size_t i = n; i > 0; i -= ps.arrival[i] & 0xFFFF) count++;
  std::size_t next = tokens->size() + count;
  tokens->resize(next);
  for (std::size_t i = n; i > 0;) {
    unsigned length = ps.arrival[i] & 0xFFFF, distance = ps.arrival[i] >> 16;
    i -= length;
    (*tokens)[--next] = length == 1 ? LiteralToken(ps.data[begin + i]) : MatchToken(length, distance);
  }
}

// Prices with the code lengths a block of these statistics would really
// get. A literal or length the block does not use yet would have to join
// the code, below its longest codes, so it is priced a bit above them; an
// unused distance symbol by its smoothed share.
static void ModelFromCode(CostModel &model, const BlockHistogram &h) {
  std::uint8_t literalLengths[arj::LiteralCount], distanceLengths[arj::DistanceCount];
  unsigned literalUsed = BuildCodeLengths(h.literal, arj::LiteralCount, arj::MaxCodeLength, literalLengths);
  unsigned distanceUsed =
      BuildCodeLengths(h.distance, arj::DistanceCount, arj::MaxCodeLength, distanceLengths);
  double literalTotal = 0, distanceTotal = 0;
  unsigned longest = 0;
  for (unsigned s = 0; s < arj::LiteralCount; s++) {
    literalTotal += h.literal[s] + 0.25;
    if (literalLengths[s] > longest) longest = literalLengths[s];
  }
  for (unsigned c = 0; c < arj::DistanceCount; c++) distanceTotal += h.distance[c] + 0.25;
  const float unusedLiteral =
      literalUsed >= 2 ? longest + 1.0f : static_cast<float>(std::log2(literalTotal / 0.25));
  for (unsigned s = 0; s < arj::LiteralCount; s++) {
    if (literalUsed < 2 && h.literal[s])
      model.literal[s] = 0;
    else if (literalLengths[s])
      model.literal[s] = literalLengths[s];
    else
      model.literal[s] = unusedLiteral;
  }
  for (unsigned c = 0; c < arj::DistanceCount; c++) {
    float extra = static_cast<float>(c ? c - 1 : 0);
    if (distanceUsed < 2 && h.distance[c])
      model.distance[c] = extra;
    else if (distanceLengths[c])
      model.distance[c] = distanceLengths[c] + extra;
    else
      model.distance[c] = static_cast<float>(std::log2(distanceTotal / 0.25)) + extra;
  }
  // Whole code lengths move in steps, so half of each price is the
  // symbol's own share: the passes then settle on slightly better paths.
  CostModel share;
  ModelFromHistogram(share, h);
  for (unsigned s = 0; s < arj::LiteralCount; s++)
    model.literal[s] = (1 - ShareWeight) * model.literal[s] + ShareWeight * share.literal[s];
  for (unsigned c = 0; c < arj::DistanceCount; c++)
    model.distance[c] = (1 - ShareWeight) * model.distance[c] + ShareWeight * share.distance[c];
}

// Walks pos's tree down from the root and rebuilds it with pos as the new
// root: every node whose bytes sort below pos's goes to pos's smaller side,
// the others to its larger side. Nodes met on the way share the most bytes
// with pos, so they are its candidates; those of strictly growing length,
// cut at limit, go to out when out is set. Returns how many.
static unsigned TreeMatches(ParserState &ps, std::size_t pos, std::size_t limit, Match *out) {
  const std::size_t available = ps.size - pos;
  if (available < 3) return 0;
  const unsigned maxLength = available < arj::MaxMatch ? static_cast<unsigned>(available) : arj::MaxMatch;
  const unsigned reportLimit = limit - pos < maxLength ? static_cast<unsigned>(limit - pos) : maxLength;
  const std::uint8_t *here = ps.data + pos;
  std::uint32_t &root = ps.head[Hash3(here)];
  std::uint32_t candidate = root;
  root = static_cast<std::uint32_t>(pos);
  std::uint32_t *smallerSlot = &ps.children[2 * (pos & ChainMask)];
  std::uint32_t *largerSlot = smallerSlot + 1;
  unsigned smallerShared = 0, largerShared = 0;  // bytes every node left below shares with pos
  unsigned best = arj::MinMatch - 1, found = 0;
  for (unsigned depth = ps.params.maxChain; candidate != NoPosition && pos - candidate <= MaxOffset && depth;
       depth--) {
    const std::uint8_t *there = ps.data + candidate;
    unsigned shared = smallerShared < largerShared ? smallerShared : largerShared;
    unsigned length = shared + CommonLength(here + shared, there + shared, maxLength - shared);
    unsigned reported = length < reportLimit ? length : reportLimit;
    if (out && reported >= best) {
      const bool sameClass =
          found && DistanceSymbol(pos - candidate - 1) == DistanceSymbol(out[found - 1].distance);
      if (reported > best || !sameClass) {
        // Distances only grow down the tree. The shorter candidate of the
        // same class costs what this one costs, and the parse, which prefers
        // the longer candidate among equals, would never take it.
        if (sameClass) found--;
        best = reported;
        out[found++] =
            Match{static_cast<std::uint16_t>(reported), static_cast<std::uint16_t>(pos - candidate - 1)};
      }
    }
    std::uint32_t *node = &ps.children[2 * (candidate & ChainMask)];
    if (length >= maxLength || length >= ps.params.niceLength) {
      // pos takes the candidate's place: no later search can tell them apart.
      *smallerSlot = node[0];
      *largerSlot = node[1];
      return found;
    }
    if (there[length] < here[length]) {
      *smallerSlot = candidate;
      smallerSlot = &node[1];
      candidate = *smallerSlot;
      smallerShared = length;
    } else {
      *largerSlot = candidate;
      largerSlot = &node[0];
      candidate = *largerSlot;
      largerShared = length;
    }
  }
  *smallerSlot = NoPosition;
  *largerSlot = NoPosition;
  return found;
}

// Gathers every position's candidates once; the passes only re-price them.
// After a match of nice length the positions it covers get no candidates of
// their own (a long run would otherwise cost a chain walk per byte), so
// paths through them end there and the cheapest path jumps over them.
static void GatherMatches(ParserState &ps, std::size_t begin, std::size_t end) {
  ps.matches.clear();
  ps.firstMatch.assign(end - begin + 1, 0);
  Match found[arj::MaxMatch];
  std::size_t skipUntil = begin;
  unsigned previousLongest = 0;
  for (std::size_t pos = begin; pos < end; pos++) {
#if defined(__GNUC__)
    // The next position's tree root is a likely cache miss; its slot is fetched early.
    if (pos + 4 <= ps.size) __builtin_prefetch(&ps.head[Hash3(ps.data + pos + 1)], 1);
#endif
    ps.firstMatch[pos - begin] = static_cast<std::uint32_t>(ps.matches.size());
    if (pos < skipUntil) {
      TreeMatches(ps, pos, end, nullptr);
      continue;
    }
    unsigned n = TreeMatches(ps, pos, end, found);
    ps.matches.insert(ps.matches.end(), found, found + n);
    previousLongest = n ? found[n - 1].length : 0;
    if (previousLongest >= ps.params.niceLength) skipUntil = pos + previousLongest;
  }
  ps.firstMatch[end - begin] = static_cast<std::uint32_t>(ps.matches.size());
}

// Parse and block split settle each other: the first parse is priced by
// a plain guess, its tokens are split into blocks, and each later parse
// prices every block's stretch with the code lengths that block got, then
// splits again. The guess is the same for every segment: prices carried
// over from the segment before hold its own last block's habits, which
// the passes then seldom shake off.
static void ParseBest(ParserState &ps, std::size_t begin, std::size_t end, std::vector<Token> *tokens) {
  GatherMatches(ps, begin, end);
  const std::size_t first = tokens->size();
  CostModel startModel;
  DefaultModel(startModel);
  std::size_t zero = 0;
  std::vector<std::uint32_t> &blockEnds = ps.blockEnds;
  std::vector<CostModel> models;
  std::vector<std::size_t> modelStart;
  // The passes need not improve every time; the cheapest one is kept.
  std::vector<Token> &best = ps.bestTokens;
  std::uint64_t bestBits = UINT64_MAX;
  PriceSegment(ps, begin, end, &startModel, &zero, 1, tokens);
  for (unsigned pass = 0;; pass++) {
    const Token *t = tokens->data() + first;
    std::size_t count = tokens->size() - first;
    // The first parse, priced by the plain guess, only has to give the
    // next one its prices, so its blocks are left rough.
    std::uint64_t bits = pass ? PlanSplits(t, count, &blockEnds) : RoughSplits(t, count, &blockEnds);
    bool settled = bestBits != UINT64_MAX && bits + (bestBits >> SettledShift) > bestBits;
    if (bits < bestBits) {
      bestBits = bits;
      best.assign(t, t + count);
      ps.bestEnds = blockEnds;
    }
    if (pass == BestPasses || settled) break;
    models.resize(blockEnds.size());
    modelStart.clear();
    std::size_t tokenBegin = 0, position = 0;
    for (std::size_t b = 0; b < blockEnds.size(); b++) {
      BlockHistogram h;
      ClearHistogram(h);
      CountTokens(h, t + tokenBegin, blockEnds[b] - tokenBegin);
      ModelFromCode(models[b], h);
      modelStart.push_back(position);
      for (; tokenBegin < blockEnds[b]; tokenBegin++)
        position += t[tokenBegin].symbol < 256 ? 1 : t[tokenBegin].symbol - 253;
    }
    tokens->resize(first);
    PriceSegment(ps, begin, end, models.data(), modelStart.data(), models.size(), tokens);
  }
  tokens->resize(first);
  tokens->insert(tokens->end(), best.begin(), best.end());
  FinishSplits(best.data(), &ps.bestEnds);
}

ParserState *StartParser(const std::uint8_t *data, std::size_t size, PackLevel level) {
  ParserState *ps = new ParserState;
  ps->data = data;
  ps->size = size;
  ps->level = level;
  ps->lazy = nullptr;
  ps->params = BestParams;
  if (level == PackBest) {
    ps->head.assign(1u << HashBits, NoPosition);
    ps->children.assign(2 * ChainSize, NoPosition);
  } else {
    ps->lazy = StartLazyFinder(data, size, level);
  }
  return ps;
}

void ParseSegment(ParserState *ps, std::size_t begin, std::size_t end, std::vector<Token> *tokens) {
  if (ps->level == PackBest)
    ParseBest(*ps, begin, end, tokens);
  else
    ParseLazy(*ps->lazy, begin, end, tokens);
}

const std::vector<std::uint32_t> *SegmentBlockEnds(const ParserState *ps) {
  return ps->level == PackBest ? &ps->bestEnds : nullptr;
}

void EndParser(ParserState *ps) {
  if (ps->lazy) EndLazyFinder(ps->lazy);
  delete ps;
}
