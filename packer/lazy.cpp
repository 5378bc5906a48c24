// The fast and normal levels: match finding over hash chains and a lazy
// parse, greedy with one step of lookahead.
//
// Two chains run through the window. The long one links positions whose
// next eleven bytes hash alike; it reaches the long matches of repetitive
// text in a few steps, where a chain of short prefixes would wade through
// every place a common word or an indent recurs. The short one links
// positions of the same four-byte prefix, for the matches below eleven
// bytes, and is walked only when the long one found nothing that long. A
// table of the newest place of each three-byte prefix adds the near
// three-byte matches that neither chain holds.
#include <cstring>

#include "encoder_internal.h"

namespace {

constexpr unsigned LongBytes = 11;  // bytes the long chains hash
constexpr unsigned LongHashBits = 16;
constexpr unsigned ShortHashBits = 16;
constexpr unsigned NearHashBits = 14;
constexpr unsigned ChainSize = 32768;  // a power of two above the window
constexpr unsigned ChainMask = ChainSize - 1;
constexpr std::size_t MaxOffset = arj::MaxDistance + 1;
constexpr std::uint32_t NoPosition = 0xFFFFFFFFu;
// Positions this close to the end of the data are not hashed: the long
// hash reads the whole word from there.
constexpr unsigned HashTail = 16;
// The farthest a three-byte match is taken: a farther one costs about as
// much as three literals.
constexpr std::size_t NearThree = 4096;
// How much more, in Gain's units, the match one byte on must save to put
// off the match at hand: the literal that would come first costs too.
constexpr int LazyMargin = 1;

struct LazyParams {
  unsigned longDepth;   // candidates tried on the long chain
  unsigned shortDepth;  // on the short chain
  unsigned niceLength;  // stop looking once a match is this long
  unsigned goodLength;  // look ahead on goodDepth candidates of the short chain after a match this long
  unsigned goodDepth;
  unsigned lazyLength;  // take a match this long without looking ahead
};

// The fast level's short chain is walked less deep than its long one: the
// streaming splitter's blocks save about what the four steps cost in size.
const LazyParams FastParams{16, 12, 128, 8, 2, 32};
const LazyParams NormalParams{64, 64, 256, 32, 17, 256};

struct Match {
  unsigned length;
  unsigned distance;  // distance value: offset - 1
};

inline std::uint32_t Load32(const std::uint8_t *p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

inline std::uint64_t Load64(const std::uint8_t *p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// One multiply of the eight bytes from the fourth on, with the first four
// laid over half of them: eleven bytes in two loads and an exclusive or.
// Hashing a twelfth byte made the fast level's output larger: it splits
// chains that an eleven-byte match would find.
inline std::uint32_t LongHash(const std::uint8_t *p) {
  std::uint64_t x = Load64(p + 3) ^ Load32(p);
  return static_cast<std::uint32_t>((x * 0x9E3779B97F4A7C15ull) >> (64 - LongHashBits));
}

// The short and near hashes share one product of the first four bytes.
inline std::uint32_t PrefixProduct(std::uint32_t first4) { return first4 * 2654435761u; }

inline std::uint32_t ShortHash(std::uint32_t product) { return product >> (32 - ShortHashBits); }

// The hash of the first three bytes: on a little-endian machine that of
// first4 << 8, whose product is the shared one shifted up a byte.
inline std::uint32_t NearHash(std::uint32_t first4, std::uint32_t product) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return PrefixProduct(first4 >> 8) >> (32 - NearHashBits);
#else
  (void)first4;
  return (product >> (24 - NearHashBits)) & ((1u << NearHashBits) - 1);
#endif
}

inline void Prefetch(const void *p) {
#if defined(__GNUC__)
  __builtin_prefetch(p);
#else
  (void)p;
#endif
}

}  // namespace

struct LazyFinder {
  const std::uint8_t *data;  // the whole input; matches may reach back anywhere in the window
  std::size_t size;          // bytes of data
  LazyParams params;
  std::size_t inserted;                        // positions below this are in the tables
  std::uint32_t longHead[1u << LongHashBits];  // newest position per hash, or NoPosition
  std::uint32_t shortHead[1u << ShortHashBits];
  std::uint32_t nearHead[1u << NearHashBits];
  // The previous position of the same hash, by position & ChainMask; an
  // entry holds for its own position as long as that is in the window.
  std::uint32_t longChain[ChainSize];
  std::uint32_t shortChain[ChainSize];
};

namespace {

void InsertUpTo(LazyFinder &f, std::size_t end) {
  std::size_t hashed = f.size >= HashTail ? f.size - HashTail + 1 : 0;
  std::size_t stop = end < hashed ? end : hashed;
  for (std::size_t p = f.inserted; p < stop; p++) {
    const std::uint8_t *at = f.data + p;
    std::uint32_t first4 = Load32(at), product = PrefixProduct(first4);
    std::uint32_t hl = LongHash(at), hs = ShortHash(product);
    f.longChain[p & ChainMask] = f.longHead[hl];
    f.longHead[hl] = static_cast<std::uint32_t>(p);
    f.shortChain[p & ChainMask] = f.shortHead[hs];
    f.shortHead[hs] = static_cast<std::uint32_t>(p);
    f.nearHead[NearHash(first4, product)] = static_cast<std::uint32_t>(p);
  }
  if (end > f.inserted) f.inserted = end;
}

// Whether place c, a position or NoPosition, lies in the window behind
// pos. Taken in 64 bits, c + MaxOffset - pos is below MaxOffset just for a
// position of the window: an older one, NoPosition above every position
// and anything from pos on all reach MaxOffset or beyond. In a walk, where
// MaxOffset - pos stays the same, the test costs one instruction.
inline bool InWindow(std::uint64_t c, std::size_t pos) {
  return c + (MaxOffset - std::uint64_t(pos)) < MaxOffset;
}

// Walks one chain from candidate for matches longer than best, nearest
// among equals; stops at the nice length or the end of the room.
inline void WalkChain(const LazyFinder &f, const std::uint32_t *chain, std::size_t pos, std::uint64_t c,
                      unsigned depth, unsigned maxLength, unsigned &best, Match &m) {
  const std::uint8_t *here = f.data + pos;
  // A candidate is tried first by the four bytes that would make its match
  // longer than the best so far, then by the first four, before the full
  // comparison; this side of both stays in registers, and the other side's
  // last four load from one base that moves with best.
  const std::uint32_t hereFirst = Load32(here);
  std::uint32_t hereLast = Load32(here + best - 3);
  const std::uint8_t *lasts = f.data + best - 3;
  for (; InWindow(c, pos); c = chain[c & ChainMask]) {
    if (Load32(lasts + c) == hereLast && Load32(f.data + c) == hereFirst) {
      unsigned length = CommonLength(here, f.data + c, maxLength);
      if (length > best) {
        best = length;
        m = Match{length, static_cast<unsigned>(pos - c - 1)};
        if (length >= f.params.niceLength || length == maxLength) return;
        hereLast = Load32(here + best - 3);
        lasts = f.data + best - 3;
      }
    }
    if (!--depth) return;
  }
}

// The longest match at pos up to limit that is at least atLeast long, or
// none; inserts pos. Only the short chain's depth varies between calls.
// Below easy, a match may run the whole MaxMatch and the hashes read
// their whole words, which spares most calls the tests for the ends.
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline Match
FindMatch(LazyFinder &f, std::size_t pos, std::size_t limit, std::size_t easy, unsigned atLeast,
          unsigned shortDepth) {
  if (f.inserted < pos) InsertUpTo(f, pos);
  Match m{0, 0};
  unsigned maxLength = arj::MaxMatch;
  if (pos >= easy) {
    std::size_t room = limit - pos;
    if (room < arj::MaxMatch) maxLength = static_cast<unsigned>(room);
    if (maxLength < atLeast || maxLength < arj::MinMatch || pos + HashTail > f.size) {
      InsertUpTo(f, pos + 1);
      return m;
    }
  }
  const std::uint8_t *here = f.data + pos;
  std::uint32_t first4 = Load32(here), product = PrefixProduct(first4);
  std::uint32_t hl = LongHash(here), hs = ShortHash(product), hn = NearHash(first4, product);
  // The next position's chains are mostly walked next, for a literal or the
  // lookahead after a match: their heads are fetched while this one's walk
  // waits on its own loads. HashTail keeps the hash's reads in the data.
  const std::uint8_t *next = here + 1;
  Prefetch(&f.longHead[LongHash(next)]);
  Prefetch(&f.shortHead[ShortHash(PrefixProduct(Load32(next)))]);
  std::uint32_t longCandidate = f.longHead[hl], shortCandidate = f.shortHead[hs];
  std::uint32_t nearCandidate = f.nearHead[hn];
  f.longChain[pos & ChainMask] = longCandidate;
  f.longHead[hl] = static_cast<std::uint32_t>(pos);
  f.shortChain[pos & ChainMask] = shortCandidate;
  f.shortHead[hs] = static_cast<std::uint32_t>(pos);
  f.nearHead[hn] = static_cast<std::uint32_t>(pos);
  f.inserted = pos + 1;

  // The chains hold matches of four bytes and more. Every place whose
  // first four bytes are these is on the short chain, so where its newest
  // place is out of the window neither chain can hold a match: one test
  // then spares both walks' own, which the data keeps from being foreseen.
  unsigned best = atLeast > arj::MinMatch ? atLeast - 1 : arj::MinMatch;
  if (maxLength > best && InWindow(shortCandidate, pos)) {
    WalkChain(f, f.longChain, pos, longCandidate, f.params.longDepth, maxLength, best, m);
    if (best < LongBytes && best < maxLength && shortCandidate != longCandidate)
      WalkChain(f, f.shortChain, pos, shortCandidate, shortDepth, maxLength, best, m);
  }
  // As in InWindow, one test in 64 bits keeps the near place within
  // NearThree and refuses NoPosition; its first three bytes are those of
  // a four-byte load, which stays inside the data.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  constexpr std::uint32_t FirstThree = 0xFFFFFF00u;
#else
  constexpr std::uint32_t FirstThree = 0x00FFFFFFu;
#endif
  if (!m.length && atLeast <= arj::MinMatch && std::uint64_t(pos) - 1 - nearCandidate < NearThree &&
      ((Load32(f.data + nearCandidate) ^ first4) & FirstThree) == 0)
    m = Match{arj::MinMatch, static_cast<unsigned>(pos - nearCandidate - 1)};
  return m;
}

// What a match saves, roughly, in quarter bytes: each byte it covers is a
// literal less, and each doubling of its distance costs an extra bit.
inline int Gain(Match m) {
  return m.length ? int(m.length) * 4 - int(DistanceSymbol(m.distance)) : INT32_MIN / 2;
}

}  // namespace

LazyFinder *StartLazyFinder(const std::uint8_t *data, std::size_t size, PackLevel level) {
  LazyFinder *f = new LazyFinder;
  f->data = data;
  f->size = size;
  f->params = level == PackNormal ? NormalParams : FastParams;
  f->inserted = 0;
  for (std::uint32_t &h : f->longHead) h = NoPosition;
  for (std::uint32_t &h : f->shortHead) h = NoPosition;
  for (std::uint32_t &h : f->nearHead) h = NoPosition;
  return f;
}

void EndLazyFinder(LazyFinder *f) { delete f; }

// A match is put off by a literal when the next position starts a match
// that saves clearly more, a longer one or one as long but much nearer.
// The lookahead only looks for matches at least as long as the one at
// hand; after a good match it tries a few candidates of the short chain, and
// after a long one it does not look at all.
void ParseLazy(LazyFinder &f, std::size_t begin, std::size_t end, std::vector<Token> *tokens) {
  const LazyParams &lp = f.params;
  tokens->reserve(tokens->size() + (end - begin));
  std::size_t pos = begin;
  std::size_t easy = end >= arj::MaxMatch ? end - arj::MaxMatch : 0;
  if (f.size < HashTail)
    easy = 0;
  else if (easy > f.size - HashTail)
    easy = f.size - HashTail;
  Match current = pos < end ? FindMatch(f, pos, end, easy, 0, lp.shortDepth) : Match{0, 0};
  while (pos < end) {
    if (current.length < arj::MinMatch) {
      tokens->push_back(LiteralToken(f.data[pos++]));
      if (pos < end) current = FindMatch(f, pos, end, easy, 0, lp.shortDepth);
      continue;
    }
    if (current.length < lp.lazyLength && pos + 1 < end) {
      unsigned depth = current.length >= lp.goodLength ? lp.goodDepth : lp.shortDepth;
      Match next = FindMatch(f, pos + 1, end, easy, current.length, depth);
      if (Gain(next) > Gain(current) + LazyMargin) {
        tokens->push_back(LiteralToken(f.data[pos++]));
        current = next;
        continue;
      }
    }
    tokens->push_back(MatchToken(current.length, current.distance));
    pos += current.length;
    InsertUpTo(f, pos);
    if (pos < end) current = FindMatch(f, pos, end, easy, 0, lp.shortDepth);
  }
}
