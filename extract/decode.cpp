// The decoding loop of methods 1 to 3: block headers with their three codes,
// literals and matches, and the sliding window that feeds WriteDecoded.
//
// The stream is untrusted. Counts beyond an alphabet, zero runs past its end,
// lengths above 16, single values outside the alphabet and distances beyond
// the window raise XR_BAD_TABLE; other damage surfaces as a CRC mismatch.
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
// tree node, so it is refused.
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
    unsigned x = d.bitBuffer >> 13;
    if (x == 7) {
      for (unsigned bit = 1u << 12; bit && (d.bitBuffer & bit); bit >>= 1) x++;
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
  BuildDecodeTable(count, d.literalLengths, arj::LiteralTableBits, d.literalTable);
}

unsigned DecodeSymbol() {
  DecoderState &d = decoderState;
  if (d.blockLeft == 0) {
    d.blockLeft = TakeBits(arj::BlockSymbolBits);
    if (d.blockLeft == 0) d.blockLeft = 1u << 16;
    ReadPreLengths(arj::PreCodeCount, 5, arj::PreCodeZeroRunAfter);
    ReadSymbolLengths();
    ReadPreLengths(arj::DistanceCount, 5, -1);
  }
  d.blockLeft--;
  return LookupCode(d.literalTable, arj::LiteralTableBits, arj::LiteralCount, d.literalLengths);
}

unsigned DecodeDistance() {
  DecoderState &d = decoderState;
  unsigned c = LookupCode(d.auxTable, arj::AuxTableBits, arj::DistanceCount, d.auxLengths);
  if (c == 0) return 0;
  return (1u << (c - 1)) + TakeBits(c - 1);
}

void DecodeMethod123() {
  DecoderState &d = decoderState;
  unsigned char *window = static_cast<unsigned char *>(AllocOrRaise(WindowSize));
  d.slidingWindow = window;
  StartDecoder();

  const std::int64_t fileSize = extractState.header.fileSize;
  std::int64_t decoded = 0;
  unsigned w = 0;
  while (decoded < fileSize) {
    unsigned c = DecodeSymbol();
    if (c <= 255) {
      window[w++] = static_cast<unsigned char>(c);
      decoded++;
      if (w == WindowSize) {
        WriteDecoded(window, WindowSize);
        w = 0;
      }
      continue;
    }

    unsigned length = c - (256 - arj::MinMatch);
    decoded += length;
    unsigned distance = DecodeDistance();
    if (distance > arj::MaxDistance) RaiseExtractError(XR_BAD_TABLE);
    unsigned s = w >= distance + 1 ? w - distance - 1 : w + WindowSize - distance - 1;
    if (s < w && w < WindowSize - arj::MaxMatch - 1) {
      // Source wholly below w and the copy cannot reach the window's end.
      // A match that overlaps its own output repeats what it just wrote, so
      // eight bytes move at once only when the source stays eight behind;
      // nothing is written past the match, whose bytes ahead are history.
      unsigned char *out = window + w;
      const unsigned char *in = window + s;
      unsigned k = 0;
      if (w - s >= 8)
        for (; k + 8 <= length; k += 8) std::memcpy(out + k, in + k, 8);
      for (; k < length; k++) out[k] = in[k];
      w += length;
      continue;
    }
    for (unsigned k = 0; k < length; k++) {
      window[w++] = window[s++];
      if (w == WindowSize) {
        WriteDecoded(window, WindowSize);
        w = 0;
      }
      if (s == WindowSize) s = 0;
    }
  }
  if (w != 0) WriteDecoded(window, w);
  SyncBitReader();
  ReleaseWindow();
}
