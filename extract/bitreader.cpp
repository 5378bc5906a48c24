// The bit reader: keeps the next bits of an entry's compressed stream in
// view and never takes a byte beyond the entry's compressed size.
//
// Format notes: bytes are taken in file order, each from its most
// significant bit down; bit 15 of PeekBits16() is the next bit of the stream.
// Past the entry's compressed bytes the stream reads as zeros. A byte that the
// file cannot supply (a truncated setup file) reads as 0xFF; the damage then
// shows as a table error or a CRC mismatch, never as a read outside the entry.
//
// Where the next header is read depends on how many bytes the reader has
// taken: exactly enough to keep 16 bits ahead of what was consumed. For speed
// the reader takes up to eight bytes ahead into bitReservoir, and
// SyncBitReader hands back the surplus when an entry ends, so the stream
// stands where a reader sixteen bits ahead would have left it.
#include <algorithm>

#include "extract_internal.h"

void RefillBits() {
  DecoderState &d = decoderState;
  ExtractState &s = extractState;
  if (s.compressedLeft >= 8 && s.inputEnd - s.inputPos >= 8) {
    // Whole bytes straight from the read buffer, as many as fit.
    unsigned count = (64 - d.bitsHeld) >> 3;
    std::uint64_t v = 0;
    const unsigned char *p = s.inputBuffer + s.inputPos;
    for (unsigned i = 0; i < count; i++) v = v << 8 | p[i];
    d.bitReservoir |= v << (64 - d.bitsHeld - 8 * count);
    d.bitsHeld += 8 * count;
    s.inputPos += count;
    s.compressedLeft -= count;
    d.bytesTaken += count;
    d.bytesRead += count;
    return;
  }
  while (d.bitsHeld <= 56) {
    unsigned byte = 0;
    if (s.compressedLeft != 0) {
      s.compressedLeft--;
      d.bytesTaken++;
      int c = s.inputPos < s.inputEnd ? s.inputBuffer[s.inputPos++] : ReadSetupByte();
      if (c < 0) {
        byte = 0xFF;
      } else {
        byte = static_cast<unsigned>(c);
        d.bytesRead++;
      }
    }
    d.bitReservoir |= static_cast<std::uint64_t>(byte) << (56 - d.bitsHeld);
    d.bitsHeld += 8;
  }
}

void StartBitReader() {
  DecoderState &d = decoderState;
  d.bitReservoir = 0;
  d.bitsHeld = 0;
  d.bitsConsumed = 0;
  d.bytesTaken = d.bytesRead = 0;
  d.entryCompressedSize = extractState.compressedLeft;
  RefillBits();
}

void SyncBitReader() {
  DecoderState &d = decoderState;
  std::uint64_t needed = (d.bitsConsumed + 16 + 7) / 8;
  if (needed > d.entryCompressedSize) needed = d.entryCompressedSize;
  std::uint32_t surplus = d.bytesTaken - static_cast<std::uint32_t>(needed);
  if (surplus == 0) return;

  // The bytes the file supplied come first (a file does not resume after its
  // end), so only those beyond the needed count are given back to it.
  std::uint32_t readNeeded = std::min(d.bytesRead, static_cast<std::uint32_t>(needed));
  SeekSetupStream(TellSetupStream() - (d.bytesRead - readNeeded));
  extractState.compressedLeft += surplus;
  d.bytesTaken = static_cast<std::uint32_t>(needed);
  d.bytesRead = readNeeded;
  // needed < the entry's size here, so at least 16 bits stay held.
  unsigned held = static_cast<unsigned>(needed * 8 - d.bitsConsumed);
  d.bitReservoir &= ~std::uint64_t{0} << (64 - held);
  d.bitsHeld = held;
}
