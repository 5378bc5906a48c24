// The bit reader: keeps the next 16 bits of an entry's compressed stream in
// view and never takes a byte beyond the entry's compressed size.
//
// Format notes: bytes are taken in file order, each from its most
// significant bit down; bit 15 of bitBuffer is the next bit of the stream.
// Past the entry's compressed bytes the stream reads as zeros. A byte that the
// file cannot supply (a truncated setup file) reads as 0xFF; the damage then
// shows as a table error or a CRC mismatch, never as a read outside the entry.
#include "extract_internal.h"

static unsigned TakeCompressedByte() {
  if (extractState.compressedLeft == 0) return 0;
  extractState.compressedLeft--;
  int c = ReadSetupByte();
  return c < 0 ? 0xFF : static_cast<unsigned>(c);
}

void StartBitReader() {
  DecoderState &d = decoderState;
  d.bitBuffer = 0;
  d.pendingByte = 0;
  d.pendingBits = 0;
  ConsumeBits(16);
  d.bitsConsumed = 0;
}

void ConsumeBits(unsigned n) {
  DecoderState &d = decoderState;
  d.bitsConsumed += n;
  d.bitBuffer = n >= 16 ? 0 : static_cast<std::uint16_t>(d.bitBuffer << n);
  while (n > d.pendingBits) {
    n -= d.pendingBits;
    d.bitBuffer = static_cast<std::uint16_t>(d.bitBuffer | (static_cast<std::uint32_t>(d.pendingByte) << n));
    d.pendingByte = static_cast<std::uint8_t>(TakeCompressedByte());
    d.pendingBits = 8;
  }
  d.pendingBits -= n;
  d.bitBuffer = static_cast<std::uint16_t>(d.bitBuffer | (d.pendingByte >> d.pendingBits));
}

unsigned TakeBits(unsigned n) {
  unsigned v = decoderState.bitBuffer >> (16 - n);
  ConsumeBits(n);
  return v;
}
