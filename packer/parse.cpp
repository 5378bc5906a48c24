// Turning bytes into literals and matches: hash-chain match finding, the
// lazy parse of the fast and normal levels, and the cost-based parse of the
// best level.
//
// The best level prices every way to reach each position of a segment
// (literal, or a match of any length up to the longest found) with bit
// costs taken from the symbol statistics of the previous pass, and keeps
// the cheapest path; two passes per segment, the first priced from the
// previous segment.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "encoder_internal.h"

namespace {

constexpr unsigned HashBits = 16;
constexpr unsigned ChainSize = 32768;  // a power of two above the window
constexpr unsigned ChainMask = ChainSize - 1;
constexpr unsigned MaxOffset = arj::MaxDistance + 1;
constexpr std::uint32_t NoPosition = 0xFFFFFFFFu;
constexpr unsigned GoodLength = 32;  // the best level searches less after a match this long

struct Match {
  std::uint16_t length;
  std::uint16_t distance;  // distance value: offset - 1
};

struct LevelParams {
  unsigned maxChain;    // candidates tried per position
  unsigned niceLength;  // stop looking once a match is this long
  bool lazy;            // try the next position before taking a match
};

const LevelParams FastParams{16, 64, true};
const LevelParams NormalParams{128, 128, true};
const LevelParams BestParams{96, 128, false};

inline std::uint32_t Hash3(const std::uint8_t *p) {
  std::uint32_t v = std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
  return (v * 2654435761u) >> (32 - HashBits);
}

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
  LevelParams params;                // chain depth and nice length of the level
  std::vector<std::uint32_t> head;   // newest position per hash, or NoPosition
  std::vector<std::uint32_t> chain;  // previous position of the same hash, by position & ChainMask
  std::size_t inserted;              // positions below this are in the chains
  // Best level only.
  CostModel model;
  bool haveModel;                         // model holds statistics of earlier data
  std::vector<Match> matches;             // candidates of the segment, by position
  std::vector<std::uint32_t> firstMatch;  // per position: index into matches; one more at the end
  std::vector<float> price;               // cheapest bits to reach each position
  std::vector<Match> arrival;             // how that cheapest way arrives (length 1: literal)
};

static void InsertUpTo(ParserState &ps, std::size_t end) {
  std::size_t last = ps.size >= 3 ? ps.size - 2 : 0;  // positions with three bytes to hash
  if (end > last) end = last;
  for (std::size_t p = ps.inserted; p < end; p++) {
    std::uint32_t h = Hash3(ps.data + p);
    ps.chain[p & ChainMask] = ps.head[h];
    ps.head[h] = static_cast<std::uint32_t>(p);
  }
  if (end > ps.inserted) ps.inserted = end;
}

// Candidates at pos with strictly growing lengths, nearest first for each
// length; none reaches past limit. Inserts pos. Returns how many.
static unsigned FindMatches(ParserState &ps, std::size_t pos, std::size_t limit, unsigned maxChain,
                            Match *out) {
  InsertUpTo(ps, pos);
  unsigned found = 0;
  std::size_t room = limit - pos;
  unsigned maxLength = room < arj::MaxMatch ? static_cast<unsigned>(room) : arj::MaxMatch;
  if (maxLength >= arj::MinMatch && pos + 3 <= ps.size) {
    const std::uint8_t *here = ps.data + pos;
    unsigned best = arj::MinMatch - 1;
    std::uint32_t candidate = ps.head[Hash3(here)];
    for (unsigned tries = maxChain; tries && candidate != NoPosition; tries--) {
      std::size_t offset = pos - candidate;
      if (offset > MaxOffset) break;
      const std::uint8_t *there = ps.data + candidate;
      if (there[best] == here[best]) {
        unsigned length = CommonLength(here, there, maxLength);
        if (length > best) {
          best = length;
          out[found++] = Match{static_cast<std::uint16_t>(length), static_cast<std::uint16_t>(offset - 1)};
          if (length >= ps.params.niceLength || length == maxLength) break;
        }
      }
      std::uint32_t older = ps.chain[candidate & ChainMask];
      if (older == NoPosition || older >= candidate) break;
      candidate = older;
    }
  }
  InsertUpTo(ps, pos + 1);
  return found;
}

static Match LongestMatch(ParserState &ps, std::size_t pos, std::size_t limit) {
  Match found[arj::MaxMatch];
  unsigned n = FindMatches(ps, pos, limit, ps.params.maxChain, found);
  Match m = n ? found[n - 1] : Match{0, 0};
  // A far three-byte match costs about as much as three literals.
  if (m.length == arj::MinMatch && m.distance >= 4096) m.length = 0;
  return m;
}

static void ParseLazy(ParserState &ps, std::size_t begin, std::size_t end, std::vector<Token> *tokens) {
  std::size_t pos = begin;
  Match current = pos < end ? LongestMatch(ps, pos, end) : Match{0, 0};
  while (pos < end) {
    if (current.length < arj::MinMatch) {
      tokens->push_back(LiteralToken(ps.data[pos++]));
      if (pos < end) current = LongestMatch(ps, pos, end);
      continue;
    }
    if (ps.params.lazy && current.length < ps.params.niceLength && pos + 1 < end) {
      Match next = LongestMatch(ps, pos + 1, end);
      if (next.length > current.length) {
        tokens->push_back(LiteralToken(ps.data[pos++]));
        current = next;
        continue;
      }
    }
    tokens->push_back(MatchToken(current.length, current.distance));
    pos += current.length;
    InsertUpTo(ps, pos);
    if (pos < end) current = LongestMatch(ps, pos, end);
  }
}

static void ModelFromTokens(CostModel &model, const std::vector<Token> &tokens, std::size_t from) {
  BlockHistogram h;
  ClearHistogram(h);
  CountTokens(h, tokens.data() + from, tokens.size() - from);
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

static void PriceSegment(ParserState &ps, std::size_t begin, std::size_t end, std::vector<Token> *tokens) {
  const std::size_t n = end - begin;
  const CostModel &model = ps.model;
  ps.price.assign(n + 1, INFINITY);
  ps.arrival.assign(n + 1, Match{0, 0});
  ps.price[0] = 0;
  for (std::size_t i = 0; i < n; i++) {
    float base = ps.price[i];
    if (base == INFINITY) continue;
    float viaLiteral = base + model.literal[ps.data[begin + i]];
    if (viaLiteral < ps.price[i + 1]) {
      ps.price[i + 1] = viaLiteral;
      ps.arrival[i + 1] = Match{1, 0};
    }
    unsigned length = arj::MinMatch;
    for (std::uint32_t k = ps.firstMatch[i]; k < ps.firstMatch[i + 1]; k++) {
      const Match m = ps.matches[k];
      float distanceBits = base + model.distance[DistanceSymbol(m.distance)];
      for (; length <= m.length; length++) {
        float cost = distanceBits + model.literal[length + 253];
        if (cost < ps.price[i + length]) {
          ps.price[i + length] = cost;
          ps.arrival[i + length] = Match{static_cast<std::uint16_t>(length), m.distance};
        }
      }
    }
  }
  std::size_t first = tokens->size();
  for (std::size_t i = n; i > 0;) {
    Match a = ps.arrival[i];
    i -= a.length;
    tokens->push_back(a.length == 1 ? LiteralToken(ps.data[begin + i]) : MatchToken(a.length, a.distance));
  }
  std::reverse(tokens->begin() + first, tokens->end());
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
    ps.firstMatch[pos - begin] = static_cast<std::uint32_t>(ps.matches.size());
    if (pos < skipUntil) continue;
    // Inside a long match a shorter search finds nearly as much.
    unsigned chain = previousLongest >= GoodLength ? ps.params.maxChain / 4 : ps.params.maxChain;
    unsigned n = FindMatches(ps, pos, end, chain, found);
    ps.matches.insert(ps.matches.end(), found, found + n);
    previousLongest = n ? found[n - 1].length : 0;
    if (previousLongest >= ps.params.niceLength) skipUntil = pos + previousLongest;
  }
  ps.firstMatch[end - begin] = static_cast<std::uint32_t>(ps.matches.size());
  InsertUpTo(ps, end);
}

static void ParseBest(ParserState &ps, std::size_t begin, std::size_t end, std::vector<Token> *tokens) {
  GatherMatches(ps, begin, end);
  std::size_t first = tokens->size();
  if (!ps.haveModel) DefaultModel(ps.model);
  for (int pass = 0; pass < 2; pass++) {
    tokens->resize(first);
    PriceSegment(ps, begin, end, tokens);
    ModelFromTokens(ps.model, *tokens, first);
  }
  ps.haveModel = true;
}

ParserState *StartParser(const std::uint8_t *data, std::size_t size, PackLevel level) {
  ParserState *ps = new ParserState;
  ps->data = data;
  ps->size = size;
  ps->level = level;
  ps->params = level == PackBest ? BestParams : level == PackNormal ? NormalParams : FastParams;
  ps->head.assign(1u << HashBits, NoPosition);
  ps->chain.assign(ChainSize, NoPosition);
  ps->inserted = 0;
  ps->haveModel = false;
  return ps;
}

void ParseSegment(ParserState *ps, std::size_t begin, std::size_t end, std::vector<Token> *tokens) {
  if (ps->level == PackBest)
    ParseBest(*ps, begin, end, tokens);
  else
    ParseLazy(*ps, begin, end, tokens);
}

void EndParser(ParserState *ps) { delete ps; }
