// The decoding loop of methods 1 to 3: block headers with their three codes,
// literals and matches, and the output buffer that feeds WriteDecoded.
//
// The stream is untrusted. Counts beyond an alphabet, zero runs past its end,
// lengths above 16, single values outside the alphabet, tree walks longer
// than a code can be and distances beyond the window raise XR_BAD_TABLE;
// other damage surfaces as a CRC mismatch.
#include <cstdlib>
#include <cstring>

#include "extract_internal.h"

using arj::WindowSize;

// Format notes, one block:
//   16 bits   symbol count (0 means 65536)
//   pre-code  short length list for 19 symbols, 2-bit zero run after length 3
//   lit/len   9-bit count, then pre-coded lengths for up to 510 symbols
//   distance  short length list for 17 symbols
//   symbols   literal/length code; a match adds a distance code and c - 1 extra bits
// Short list: 5-bit n (0: 5-bit single value follows), then 3 bits per length,
// 7 extended by a run of 1 bits closed by a 0 bit.

void ReleaseWindow() {
  std::free(decoderState.slidingWindow);
  decoderState.slidingWindow = nullptr;
}

void StartDecoder() {
  decoderState.blockLeft = 0;
  StartBitReader();
}

// The single-value form: no lengths, and every table entry decodes to v
// without consuming a bit. A value outside the alphabet would be taken for a
// tree node, so it is refused. Raises: XR_BAD_TABLE for such a value.
static void SetSingleValue(unsigned v, unsigned count, std::uint8_t *lengths, std::uint16_t *table,
                           unsigned tableBits) {
  if (v >= count) RaiseExtractError(XR_BAD_TABLE);
  std::memset(lengths, 0, count);
  for (unsigned i = 0; i < (1u << tableBits); i++) table[i] = static_cast<std::uint16_t>(v);
}

void ReadPreLengths(unsigned count, unsigned countBits, int zeroRunAfter) {
  DecoderState &d = decoderState;
  unsigned n = TakeBits(countBits);
  if (n == 0) {
    SetSingleValue(TakeBits(countBits), count, d.auxLengths, d.auxTable, arj::AuxTableBits);
    return;
  }
  if (n > count) RaiseExtractError(XR_BAD_TABLE);

  unsigned i = 0;
  while (i < n) {
    unsigned x = PeekBits16() >> 13;
    if (x == 7) {
      for (unsigned bit = 1u << 12; bit && (PeekBits16() & bit); bit >>= 1) x++;
    }
    ConsumeBits(x < 7 ? 3 : x - 3);
    if (x > arj::MaxCodeLength) RaiseExtractError(XR_BAD_TABLE);
    d.auxLengths[i++] = static_cast<std::uint8_t>(x);
    if (static_cast<int>(i) == zeroRunAfter) {
      unsigned z = TakeBits(2);
      if (i + z > count) RaiseExtractError(XR_BAD_TABLE);
      std::memset(d.auxLengths + i, 0, z);
      i += z;
    }
  }
  if (i < count) std::memset(d.auxLengths + i, 0, count - i);
  BuildDecodeTable(count, d.auxLengths, arj::AuxTableBits, d.auxTable);
}

void ReadSymbolLengths() {
  DecoderState &d = decoderState;
  const unsigned count = arj::LiteralCount;
  unsigned n = TakeBits(9);
  if (n == 0) {
    SetSingleValue(TakeBits(9), count, d.literalLengths, d.literalTable, arj::LiteralTableBits);
    d.literalEntriesFilled = false;
    return;
  }
  if (n > count) RaiseExtractError(XR_BAD_TABLE);

  unsigned i = 0;
  while (i < n) {
    unsigned c = LookupCode(d.auxTable, arj::AuxTableBits, arj::PreCodeCount, d.auxLengths);
    if (c >= 3) {
      d.literalLengths[i++] = static_cast<std::uint8_t>(c - 2);
      continue;
    }
    unsigned run = c == 0 ? 1 : c == 1 ? TakeBits(4) + 3 : TakeBits(9) + 20;
    if (i + run > count) RaiseExtractError(XR_BAD_TABLE);
    std::memset(d.literalLengths + i, 0, run);
    i += run;
  }
  if (i < count) std::memset(d.literalLengths + i, 0, count - i);
  d.literalEntriesFilled =
      BuildDecodeTable(count, d.literalLengths, arj::LiteralTableBits, d.literalTable, d.literalEntries);
}

void ReadBlockHeader() {
  DecoderState &d = decoderState;
  d.blockLeft = TakeBits(arj::BlockSymbolBits);
  if (d.blockLeft == 0) d.blockLeft = 1u << 16;
  ReadPreLengths(arj::PreCodeCount, 5, arj::PreCodeZeroRunAfter);
  ReadSymbolLengths();
  ReadPreLengths(arj::DistanceCount, 5, -1);
}

// Format notes, the loop's lookup entries: literalEntries[i] and
// distanceEntries[i] hold what a lookup in literalTable or auxTable gives for
// a stream whose first table bits are i, with the bit count the symbol's
// length removes (its stored length, whatever the code's own length):
//   literal/length  symbol << 8 | bits
//   distance        base << 16 | extra << 8 | bits + extra, the distance
//                   being base plus the value of the extra bits that
//                   follow the code, both removed at once
// A table slot that points into the tree gives NeedsWalk (DistanceNeedsWalk)
// instead: the loop then walks the tree for the stream at hand, which is
// where a damaged or stale table raises, exactly as a lookup would.
constexpr std::uint32_t NeedsWalk = LoopEntryNeedsWalk;
constexpr std::uint32_t DistanceNeedsWalk = 0x80;  // above any bit count, below the extra bits
// Bit counts are at most 31; a shift by the entry's low six bits is one
// instruction on most processors.
constexpr std::uint32_t EntryShiftMask = 0x3F;
constexpr std::uint32_t EntryBitsMask = 0xFF;
// Entries below this are literals the table gives outright: NeedsWalk lies
// above every symbol.
constexpr std::uint32_t DirectLiteralLimit = 256u << 8;

static std::uint32_t LiteralEntry(unsigned symbol) {
  return symbol << 8 | decoderState.literalLengths[symbol];
}

static std::uint32_t DistanceEntry(unsigned c) {
  std::uint32_t base = c == 0 ? 0 : 1u << (c - 1);
  std::uint32_t extra = c == 0 ? 0 : c - 1;
  return base << 16 | extra << 8 | (decoderState.auxLengths[c] + extra);
}

// Runs after each block header, once the three codes are final: the
// distance code replaced the pre-code in auxTable. Most literal/length codes
// had their entries filled by their build; the others (a single value, a
// table kept from an earlier block) are resolved slot by slot.
static void BuildLoopEntries() {
  DecoderState &d = decoderState;
  if (!d.literalEntriesFilled) {
    std::uint32_t bySymbol[arj::LiteralCount];  // each slot then costs one load
    for (unsigned c = 0; c < arj::LiteralCount; c++) bySymbol[c] = LiteralEntry(c);
    for (unsigned i = 0; i < (1u << arj::LiteralTableBits); i++) {
      unsigned e = d.literalTable[i];
      d.literalEntries[i] = e < arj::LiteralCount ? bySymbol[e] : NeedsWalk;
    }
  }
  std::uint32_t byCode[arj::DistanceCount];
  for (unsigned c = 0; c < arj::DistanceCount; c++) byCode[c] = DistanceEntry(c);
  for (unsigned i = 0; i < (1u << arj::AuxTableBits); i++) {
    unsigned e = d.auxTable[i];
    d.distanceEntries[i] = e < arj::DistanceCount ? byCode[e] : DistanceNeedsWalk;
  }
}

// A match needs at most 16 + 16 bits for its two codes and 15 for the
// distance's extra bits; four literals the table gives outright at most 48.
constexpr unsigned LoopBitsNeeded = 56;

static inline std::uint64_t LoadBigEndian64(const unsigned char *p) {
  return static_cast<std::uint64_t>(p[0]) << 56 | static_cast<std::uint64_t>(p[1]) << 48 |
         static_cast<std::uint64_t>(p[2]) << 40 | static_cast<std::uint64_t>(p[3]) << 32 |
         static_cast<std::uint64_t>(p[4]) << 24 | static_cast<std::uint64_t>(p[5]) << 16 |
         static_cast<std::uint64_t>(p[6]) << 8 | static_cast<std::uint64_t>(p[7]);
}

// Copies a match of length bytes from back bytes behind out (back = distance
// + 1, 1 to WindowSize). Whole groups may write up to 31 bytes past the
// match's end, into bytes that later symbols overwrite or into the slack; a
// group never reads a byte that this copy has yet to write. Most matches are
// short: their first groups go without a test, so that the copy's length
// costs no branch.
static inline void CopyMatch(unsigned char *out, std::size_t back, unsigned length) {
  const unsigned char *from = out - back;
  if (back >= 16) {
    std::memcpy(out, from, 16);
    std::memcpy(out + 16, from + 16, 16);
    for (unsigned k = 32; k < length; k += 16) std::memcpy(out + k, from + k, 16);
  } else if (back >= 8) {
    std::memcpy(out, from, 8);
    std::memcpy(out + 8, from + 8, 8);
    for (unsigned k = 16; k < length; k += 8) std::memcpy(out + k, from + k, 8);
  } else if (back == 1) {
    std::memset(out, from[0], length);
  } else {
    // A short repeat: its first bytes one at a time, then groups of 8 from a
    // whole number of repeats back, at least 8 bytes behind.
    unsigned period =
        static_cast<unsigned>(back) * ((7 + static_cast<unsigned>(back)) / static_cast<unsigned>(back));
    unsigned k = 0;
    for (; k < period; k++) out[k] = from[k];
    for (; k < length; k += 8) std::memcpy(out + k, out + k - period, 8);
  }
}

// ---- The loop's bit reader ---------------------------------------------
//
// The loop keeps the bit reader in a local record: bits holds the next count
// bits of the stream from bit 63 down (below them, further stream bits or
// zeros). While eight bytes of the entry's compressed data stand in the read
// buffer, a refill is one 64-bit load; elsewhere (the buffer's last bytes,
// the entry's last bytes, past its end, a truncated file) the loop hands the
// state back to RefillBits, which keeps the rules for compressedLeft and for
// bytes the file cannot supply. SaveLoopBits accounts for every byte the loop
// took, so SyncBitReader leaves the stream exactly where the reader of
// bitreader.cpp alone would.
struct LoopBits {
  std::uint64_t bits;
  unsigned count;
  unsigned countAtLoad;
  const unsigned char *in;  // next byte of the read buffer
  const unsigned char *inAtLoad;
  // While in is below this, a 64-bit load at in stays inside both the
  // entry's compressed data and the bytes the read buffer holds.
  const unsigned char *inFastLimit;
};

// Takes the bit reader's state over from decoderState.
static inline void LoadLoopBits(LoopBits &r) {
  const DecoderState &d = decoderState;
  const ExtractState &s = extractState;
  r.bits = d.bitReservoir;
  r.count = r.countAtLoad = d.bitsHeld;
  r.in = r.inAtLoad = s.inputBuffer + s.inputPos;
  std::uint32_t available = s.inputEnd - s.inputPos;
  if (available > s.compressedLeft) available = s.compressedLeft;
  r.inFastLimit = available >= 8 ? r.in + available - 7 : r.in;
}

// Hands the state back to decoderState, with the bytes taken since the load.
static inline void SaveLoopBits(const LoopBits &r) {
  DecoderState &d = decoderState;
  ExtractState &s = extractState;
  std::uint32_t taken = static_cast<std::uint32_t>(r.in - r.inAtLoad);
  s.inputPos += taken;
  s.compressedLeft -= taken;
  d.bytesTaken += taken;
  d.bytesRead += taken;
  d.bitsConsumed += std::uint64_t{8} * taken + r.countAtLoad - r.count;
  d.bitsHeld = r.count;
  d.bitReservoir = r.count == 0 ? 0 : r.bits & (~std::uint64_t{0} << (64 - r.count));
}

// At least LoopBitsNeeded bits, or the whole rest of the entry, held.
static inline void EnsureLoopBits(LoopBits &r) {
  if (r.count >= LoopBitsNeeded) return;
  if (r.in < r.inFastLimit) {
    r.bits |= LoadBigEndian64(r.in) >> r.count;
    r.in += (63 - r.count) >> 3;
    r.count |= 56;
    return;
  }
  SaveLoopBits(r);
  RefillBits();
  LoadLoopBits(r);
}

// Removes the bits a lookup entry accounts for.
static inline void DropEntryBits(LoopBits &r, std::uint32_t entry) {
  r.bits <<= entry & EntryShiftMask;
  r.count -= entry & EntryBitsMask;
}

// ---- Symbols -------------------------------------------------------------

// Reads a block header through the bit reader of bitreader.cpp and resolves
// its codes for the loop. Returns the block's symbol count. Raises: what
// ReadBlockHeader raises.
static std::uint32_t StartBlock(LoopBits &r) {
  SaveLoopBits(r);
  ReadBlockHeader();
  BuildLoopEntries();
  LoadLoopBits(r);
  EnsureLoopBits(r);
  return decoderState.blockLeft;
}

// The next literal/length symbol, removed, from the lookup entry e for the
// stream at hand. Tables come from the stream: a slot into the tree is
// walked with the walk's bound checked. Raises: what ResolveCode raises,
// where a lookup would.
static inline unsigned TakeLiteralOrLength(LoopBits &r, std::uint32_t e) {
  if (e & NeedsWalk)
    e = LiteralEntry(ResolveCode(static_cast<unsigned>(r.bits >> 48), decoderState.literalTable,
                                 arj::LiteralTableBits, arj::LiteralCount));
  DropEntryBits(r, e);
  return e >> 8;
}

static inline std::uint32_t LiteralLookup(const LoopBits &r) {
  return decoderState.literalEntries[r.bits >> (64 - arj::LiteralTableBits)];
}

// After a literal of at most LiteralTableBits bits at least 44 bits remain,
// enough for three more without a refill: those the table gives outright
// are stored at once, up to stop; anything else goes round the loop.
static inline unsigned char *TakeFurtherLiterals(LoopBits &r, unsigned char *out, const unsigned char *stop,
                                                 std::uint32_t &blockLeft) {
  for (int more = 0; more < 3 && out < stop; more++) {
    std::uint32_t e = LiteralLookup(r);
    if (e >= DirectLiteralLimit) break;
    blockLeft--;
    DropEntryBits(r, e);
    *out++ = static_cast<unsigned char>(e >> 8);
  }
  return out;
}

// A match's distance value: its code, then its extra bits. Raises
// XR_BAD_TABLE for a distance that reaches further back than the window,
// the one check that keeps a copy inside the buffer.
static inline std::uint32_t TakeDistance(LoopBits &r) {
  std::uint32_t e = decoderState.distanceEntries[r.bits >> (64 - arj::AuxTableBits)];
  if (e & DistanceNeedsWalk)
    e = DistanceEntry(ResolveCode(static_cast<unsigned>(r.bits >> 48), decoderState.auxTable,
                                  arj::AuxTableBits, arj::DistanceCount));
  // The entry's bits end with the extra bits; a double shift takes them
  // when there are none, too.
  unsigned taken = e & EntryShiftMask, extra = (e >> 8) & EntryBitsMask;
  std::uint32_t extraValue = static_cast<std::uint32_t>((r.bits >> (63 - taken)) >> 1) & ((1u << extra) - 1);
  DropEntryBits(r, e);
  std::uint32_t distance = (e >> 16) + extraValue;
  if (distance > arj::MaxDistance) RaiseExtractError(XR_BAD_TABLE);
  return distance;
}

// Decodes symbols into out until it reaches stop; the last match may run
// past stop. Returns the new end of the output. Raises: XR_BAD_TABLE from
// the symbols' lookups and distances.
static inline unsigned char *DecodeRun(LoopBits &r, unsigned char *out, const unsigned char *stop,
                                       std::uint32_t &blockLeft) {
  while (out < stop) {
    EnsureLoopBits(r);
    blockLeft--;
    std::uint32_t e = LiteralLookup(r);
    if (e < DirectLiteralLimit) {
      DropEntryBits(r, e);
      *out++ = static_cast<unsigned char>(e >> 8);
      out = TakeFurtherLiterals(r, out, stop, blockLeft);
      continue;
    }
    unsigned symbol = TakeLiteralOrLength(r, e);
    if (symbol <= 255) {
      *out++ = static_cast<unsigned char>(symbol);
      continue;
    }
    unsigned length = symbol - (256 - arj::MinMatch);
    std::uint32_t distance = TakeDistance(r);
    CopyMatch(out, std::size_t{distance} + 1, length);
    out += length;
  }
  return out;
}

// ---- Output chunks -------------------------------------------------------

// The output buffer: WindowSize bytes of history (zeros before an entry's
// first byte), then an area of DecodeAreaBytes that goes to WriteDecoded at
// once when it is full, then slack for a match that starts near the end and
// for copies that move whole groups of 8 or 16 bytes up to 31 bytes past a
// match's end. Each hand-on costs the file system about as much as its
// bytes: handing on a window at a time took a tenth of a large entry's
// extraction, and sixteen windows leave little of that. The area is not
// cleared: the decoder reads only history and bytes it has written.
constexpr std::size_t OutputSlack = arj::MaxMatch + 32;
constexpr std::size_t OutputBufferSize = WindowSize + DecodeAreaBytes + OutputSlack;

struct OutputArea {
  unsigned char *buffer;  // history, area and slack
  unsigned char *out;     // where the next decoded byte goes
  unsigned char *chunk;   // first byte not yet given to WriteDecoded
  std::uint32_t crc;      // of the bytes given to WriteDecoded
};

static OutputArea StartOutput() {
  OutputArea o;
  o.buffer = static_cast<unsigned char *>(AllocOrRaise(OutputBufferSize, false));
  // Zeros, so a match that reaches before an entry's first byte copies zeros
  // and the same archive always extracts to the same bytes.
  std::memset(o.buffer, 0, WindowSize);
  decoderState.slidingWindow = o.buffer;
  o.out = o.chunk = o.buffer + WindowSize;
  o.crc = 0;
  return o;
}

// Where the next run must stop: at the end of the window it is in or of the
// entry (left bytes on), and before the block's end: every symbol gives at
// least one byte, so a run no longer than the symbols left in the block
// cannot reach its end. Runs keep to windows so that an entry that fails
// leaves in its file the whole windows before the run that failed, whatever
// the area's size.
static inline unsigned char *RunStop(const OutputArea &o, std::int64_t left, std::uint32_t blockLeft) {
  unsigned char *stop = o.chunk + ((o.out - o.chunk) / WindowSize + 1) * WindowSize;
  if (stop - o.out > left) stop = o.out + left;
  if (stop - o.out > static_cast<std::ptrdiff_t>(blockLeft)) stop = o.out + blockLeft;
  return stop;
}

// Raises: XR_WRITE.
static void HandOn(OutputArea &o, std::size_t length) {
  o.crc = Crc32(o.crc, o.chunk, length);
  WriteDecoded(o.chunk, length);
  o.chunk += length;
}

// Gives a full area to WriteDecoded and moves the window's history and what
// the last match wrote past the area back to the start. Raises: XR_WRITE.
static inline void FlushFullArea(OutputArea &o) {
  unsigned char *const areaStart = o.buffer + WindowSize;
  if (o.out < areaStart + DecodeAreaBytes) return;
  HandOn(o, DecodeAreaBytes);
  std::size_t ahead = static_cast<std::size_t>(o.out - o.chunk);
  std::memmove(o.buffer, o.chunk - WindowSize, WindowSize + ahead);
  o.chunk = areaStart;
  o.out = areaStart + ahead;
}

// ---- The loop ------------------------------------------------------------

// The loop proper, on the output area at context, whose out stands at the
// start of the run under way when a raise leaves it. Raises: what
// DecodeMethod123 raises.
static void DecodeAll(void *context) {
  OutputArea &o = *static_cast<OutputArea *>(context);
  StartDecoder();
  std::int64_t left = extractState.header.fileSize;  // bytes still due
  std::uint32_t blockLeft = 0;
  LoopBits r;
  LoadLoopBits(r);
  while (left > 0) {
    EnsureLoopBits(r);
    if (blockLeft == 0) blockLeft = StartBlock(r);
    unsigned char *const runStart = o.out;
    o.out = DecodeRun(r, o.out, RunStop(o, left, blockLeft), blockLeft);
    left -= o.out - runStart;
    // A last match that runs past the entry's size is cut there: the entry
    // comes out at exactly its size, and its CRC is checked over just that.
    if (left < 0) {
      o.out += left;
      left = 0;
    }
    FlushFullArea(o);
  }
  // SyncBitReader counts on the reader holding 16 bits or the whole entry.
  EnsureLoopBits(r);
  SaveLoopBits(r);
  decoderState.blockLeft = blockLeft;
}

std::uint32_t DecodeMethod123() {
  OutputArea o = StartOutput();
  ExtractResult failed = RunGuarded(DecodeAll, &o);
  if (failed != XR_OK) {
    std::size_t whole = static_cast<std::size_t>(o.out - o.chunk) / WindowSize * WindowSize;
    if (whole) HandOn(o, whole);
    RaiseExtractError(failed);
  }
  if (o.out != o.chunk) HandOn(o, static_cast<std::size_t>(o.out - o.chunk));
  SyncBitReader();
  ReleaseWindow();
  return o.crc;
}
