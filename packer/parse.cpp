// Turning bytes into literals and matches: hash-chain match finding and
// the lazy parse of the fast and normal levels; tree match finding and the
// cost-based parse of the best level.
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

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr unsigned HashBits = 16;
constexpr unsigned ChainSize = 32768;  // a power of two above the window
constexpr unsigned ChainMask = ChainSize - 1;
constexpr unsigned MaxOffset = arj::MaxDistance + 1;
constexpr std::uint32_t NoPosition = 0xFFFFFFFFu;
// The farthest a three-byte match is sought when chains hash four bytes;
// farther ones are dropped anyway (see LongestMatch).
constexpr unsigned NearThree = 4096;
// How much more, in Gain's units, the match one byte on must save to put
// off the match at hand: the literal that would come first costs too.
constexpr int LazyMargin = 2;

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
  unsigned maxChain;    // candidates tried per position; the best level: tree depth
  unsigned niceLength;  // stop looking once a match is this long
  unsigned goodLength;  // lazy levels: look ahead less after a match this long
  unsigned lazyLength;  // lazy levels: take a match this long without looking ahead
  unsigned hashBytes;   // 3, or 4 to skip chains of three-byte matches
};

// The fast level looks ahead only for short matches and stops at shorter
// ones: about a tenth less time for a few bytes in ten thousand.
const LevelParams FastParams{128, 128, 8, 32, 4};
const LevelParams NormalParams{128, 256, 32, 256, 3};
const LevelParams BestParams{256, 256, 0, 0, 3};

inline std::uint32_t Hash3(const std::uint8_t *p) {
  std::uint32_t v = std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
  return (v * 2654435761u) >> (32 - HashBits);
}

inline std::uint32_t Load32(const std::uint8_t *p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

inline std::uint32_t Hash4(const std::uint8_t *p) { return (Load32(p) * 2654435761u) >> (32 - HashBits); }

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

// Cost in bits of each literal/length symbol and each distance symbol, the
// latter with its extra bits.
struct CostModel {
  float literal[arj::LiteralCount];
  float distance[arj::DistanceCount];
};

}  // namespace

struct ParserState {
  const std::uint8_t *data;  // the whole input; matches may reach back anywhere in the window
  std::size_t size;          // bytes of data
  PackLevel level;
  LevelParams params;
  unsigned hashBytes;                // chain depth and nice length of the level
  std::vector<std::uint32_t> head;   // newest position per hash, or NoPosition
  std::vector<std::uint32_t> chain;  // previous position of the same hash, by position & ChainMask
  // Four-byte hashing: the newest position per three-byte hash, for the
  // near three-byte matches the chains cannot find.
  std::vector<std::uint32_t> head3;
  // Best level: per hash, a binary search tree of the window's positions,
  // ordered by the bytes that follow them, newest at the root; children by
  // position & ChainMask. Each node is older than its parent.
  std::vector<std::uint32_t> smaller, larger;
  std::size_t inserted;  // positions below this are in the chains
  // Best level only.
  std::vector<Match> matches;             // candidates of the segment, by position
  std::vector<std::uint32_t> firstMatch;  // per position: index into matches; one more at the end
  std::vector<float> price;               // cheapest bits to reach each position
  std::vector<std::uint32_t>
      arrival;  // how that cheapest way arrives: length | distance << 16 (length 1: literal)
  std::vector<Token> bestTokens;                   // the cheapest pass so far
  std::vector<std::uint32_t> blockEnds, bestEnds;  // PlanSplits of the latest pass, of the cheapest
};

static inline std::uint32_t Hash(const ParserState &ps, const std::uint8_t *p) {
  return ps.hashBytes == 4 ? Hash4(p) : Hash3(p);
}

static void InsertUpTo(ParserState &ps, std::size_t end) {
  // Only positions with hashBytes bytes to hash.
  std::size_t last = ps.size >= ps.hashBytes ? ps.size - ps.hashBytes + 1 : 0;
  if (end > last) end = last;
  for (std::size_t p = ps.inserted; p < end; p++) {
    std::uint32_t h = Hash(ps, ps.data + p);
    ps.chain[p & ChainMask] = ps.head[h];
    ps.head[h] = static_cast<std::uint32_t>(p);
    if (!ps.head3.empty()) ps.head3[Hash3(ps.data + p)] = static_cast<std::uint32_t>(p);
  }
  if (end > ps.inserted) ps.inserted = end;
}

// The longest candidate at pos within chain tries, nearest among equals.
// Inserts pos.
static Match LongestMatch(ParserState &ps, std::size_t pos, std::size_t limit, unsigned chain) {
  InsertUpTo(ps, pos);
  Match m{0, 0};
  std::size_t room = limit - pos;
  unsigned maxLength = room < arj::MaxMatch ? static_cast<unsigned>(room) : arj::MaxMatch;
  if (maxLength >= arj::MinMatch && pos + ps.hashBytes <= ps.size) {
    const std::uint8_t *here = ps.data + pos;
    unsigned best = arj::MinMatch - 1;
    std::uint32_t candidate = ps.head[Hash(ps, here)];
    for (unsigned tries = chain; tries && candidate != NoPosition; tries--) {
      std::size_t offset = pos - candidate;
      if (offset > MaxOffset) break;
      const std::uint8_t *there = ps.data + candidate;
      // The last four bytes that would make the match longer than the best
      // so far, then the first four, before the full comparison.
      if ((best < 3 || Load32(there + best - 3) == Load32(here + best - 3)) &&
          (ps.hashBytes < 4 || maxLength < 4 || Load32(there) == Load32(here))) {
        unsigned length = CommonLength(here, there, maxLength);
        if (length > best) {
          best = length;
          m = Match{static_cast<std::uint16_t>(length), static_cast<std::uint16_t>(offset - 1)};
          if (length >= ps.params.niceLength || length == maxLength) break;
        }
      }
      std::uint32_t older = ps.chain[candidate & ChainMask];
      if (older == NoPosition || older >= candidate) break;
      candidate = older;
    }
  }
  if (!m.length && !ps.head3.empty() && maxLength >= arj::MinMatch && pos + 3 <= ps.size) {
    std::uint32_t candidate = ps.head3[Hash3(ps.data + pos)];
    if (candidate != NoPosition && pos - candidate <= NearThree &&
        std::memcmp(ps.data + candidate, ps.data + pos, 3) == 0)
      m = Match{3, static_cast<std::uint16_t>(pos - candidate - 1)};
  }
  InsertUpTo(ps, pos + 1);
  // A far three-byte match costs about as much as three literals.
  if (m.length == arj::MinMatch && m.distance >= 4096) m.length = 0;
  return m;
}

// What a match saves, roughly, in quarter bytes: each byte it covers is a
// literal less, and each doubling of its distance costs an extra bit.
static inline int Gain(Match m) {
  return m.length ? int(m.length) * 4 - int(DistanceSymbol(m.distance)) : INT32_MIN / 2;
}

// Greedy with one step of lookahead: a match is put off by a literal when
// the next position starts a match that saves clearly more, a longer one
// or one as long but much nearer. After a good match the lookahead
// searches a quarter of the chain, and after a long one not at all.
static void ParseLazy(ParserState &ps, std::size_t begin, std::size_t end, std::vector<Token> *tokens) {
  const LevelParams &lp = ps.params;
  std::size_t pos = begin;
  Match current = pos < end ? LongestMatch(ps, pos, end, lp.maxChain) : Match{0, 0};
  while (pos < end) {
    if (current.length < arj::MinMatch) {
      tokens->push_back(LiteralToken(ps.data[pos++]));
      if (pos < end) current = LongestMatch(ps, pos, end, lp.maxChain);
      continue;
    }
    if (current.length < lp.lazyLength && pos + 1 < end) {
      unsigned chain = current.length >= lp.goodLength ? lp.maxChain / 4 : lp.maxChain;
      Match next = LongestMatch(ps, pos + 1, end, chain);
      if (Gain(next) > Gain(current) + LazyMargin) {
        tokens->push_back(LiteralToken(ps.data[pos++]));
        current = next;
        continue;
      }
    }
    tokens->push_back(MatchToken(current.length, current.distance));
    pos += current.length;
    InsertUpTo(ps, pos);
    if (pos < end) current = LongestMatch(ps, pos, end, lp.maxChain);
  }
}

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

// The cheapest path through the segment's candidates. Block k of the
// segment, positions [modelStart[k], modelStart[k + 1]), is priced with
// models[k]; a token is priced by the block it starts in.
static void PriceSegment(ParserState &ps, std::size_t begin, std::size_t end, const CostModel *models,
                         const std::size_t *modelStart, std::size_t modelCount, std::vector<Token> *tokens) {
  const std::size_t n = end - begin;
  ps.price.assign(n + 4, INFINITY);
  // Every position is reached, if only by a literal, before its way is read.
  ps.arrival.resize(n + 4);
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
      // Without branches: which way is cheaper is hard to predict.
      float *price = ps.price.data() + i;
      std::uint32_t *arrival = ps.arrival.data() + i;
      const float *lengthBits = model.literal + 253;
      const std::uint32_t way = distance << 16;
#if defined(__SSE2__)
      // Four lengths at a time, the same sums and comparisons as one by
      // one; lanes past the candidate's length keep what they hold. The
      // arrays have room for the last group, and the length prices run on
      // into the distance prices, which those lanes ignore.
      const __m128 add = _mm_set1_ps(distanceBits);
      const __m128i steps = _mm_setr_epi32(0, 1, 2, 3), top = _mm_set1_epi32(m.length + 1);
      const __m128i wayBits = _mm_set1_epi32(static_cast<int>(way));
      for (; length <= m.length; length += 4) {
        __m128i lengths = _mm_add_epi32(_mm_set1_epi32(static_cast<int>(length)), steps);
        __m128 cost = _mm_add_ps(add, _mm_loadu_ps(lengthBits + length));
        __m128 old = _mm_loadu_ps(price + length);
        __m128 cheaper = _mm_and_ps(_mm_cmplt_ps(cost, old), _mm_castsi128_ps(_mm_cmplt_epi32(lengths, top)));
        _mm_storeu_ps(price + length, _mm_or_ps(_mm_and_ps(cheaper, cost), _mm_andnot_ps(cheaper, old)));
        __m128i mask = _mm_castps_si128(cheaper);
        __m128i oldWay = _mm_loadu_si128(reinterpret_cast<const __m128i *>(arrival + length));
        __m128i newWay = _mm_or_si128(wayBits, lengths);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(arrival + length),
                         _mm_or_si128(_mm_and_si128(mask, newWay), _mm_andnot_si128(mask, oldWay)));
      }
#else
      for (; length <= m.length; length++) {
        float cost = distanceBits + lengthBits[length];
        bool cheaper = cost < price[length];
        price[length] = cheaper ? cost : price[length];
        arrival[length] = cheaper ? (way | length) : arrival[length];
      }
#endif
    }
  }
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
  std::uint32_t *smallerSlot = &ps.smaller[pos & ChainMask];
  std::uint32_t *largerSlot = &ps.larger[pos & ChainMask];
  unsigned smallerShared = 0, largerShared = 0;  // bytes every node left below shares with pos
  unsigned best = arj::MinMatch - 1, found = 0;
  for (unsigned depth = ps.params.maxChain; candidate != NoPosition && pos - candidate <= MaxOffset && depth;
       depth--) {
    const std::uint8_t *there = ps.data + candidate;
    unsigned shared = smallerShared < largerShared ? smallerShared : largerShared;
    unsigned length = shared + CommonLength(here + shared, there + shared, maxLength - shared);
    unsigned reported = length < reportLimit ? length : reportLimit;
    const bool sameClass =
        found && DistanceSymbol(pos - candidate - 1) == DistanceSymbol(out[found - 1].distance);
    if (out && (reported > best || (reported == best && !sameClass))) {
      // Distances only grow down the tree. The shorter candidate of the same
      // class costs what this one costs, and the parse, which prefers the
      // longer candidate among equals, would never take it.
      if (sameClass) found--;
      best = reported;
      out[found++] =
          Match{static_cast<std::uint16_t>(reported), static_cast<std::uint16_t>(pos - candidate - 1)};
    }
    std::uint32_t slot = candidate & ChainMask;
    if (length >= maxLength || length >= ps.params.niceLength) {
      // pos takes the candidate's place: no later search can tell them apart.
      *smallerSlot = ps.smaller[slot];
      *largerSlot = ps.larger[slot];
      return found;
    }
    if (there[length] < here[length]) {
      *smallerSlot = candidate;
      smallerSlot = &ps.larger[slot];
      candidate = *smallerSlot;
      smallerShared = length;
    } else {
      *largerSlot = candidate;
      largerSlot = &ps.smaller[slot];
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
  ps->params = level == PackBest ? BestParams : level == PackNormal ? NormalParams : FastParams;
  ps->hashBytes = ps->params.hashBytes;
  if (ps->hashBytes == 4) ps->head3.assign(1u << HashBits, NoPosition);
  ps->head.assign(1u << HashBits, NoPosition);
  if (level == PackBest) {
    ps->smaller.assign(ChainSize, NoPosition);
    ps->larger.assign(ChainSize, NoPosition);
  } else {
    ps->chain.assign(ChainSize, NoPosition);
  }
  ps->inserted = 0;
  return ps;
}

void ParseSegment(ParserState *ps, std::size_t begin, std::size_t end, std::vector<Token> *tokens) {
  if (ps->level == PackBest)
    ParseBest(*ps, begin, end, tokens);
  else
    ParseLazy(*ps, begin, end, tokens);
}

const std::vector<std::uint32_t> *SegmentBlockEnds(const ParserState *ps) {
  return ps->level == PackBest ? &ps->bestEnds : nullptr;
}

void EndParser(ParserState *ps) { delete ps; }
