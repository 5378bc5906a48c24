// Canonical code tables: a direct lookup table for codes up to tableBits
// long and a binary tree below it for the longer ones.
//
// Lengths come from the compressed stream and are untrusted. A list that
// does not describe a complete code, a length above 16, a tree that would
// need more nodes than the node arrays hold, or a walk longer than a 16-bit
// code can be, raises XR_BAD_TABLE. Nothing is read or written outside a
// table or the node arrays, whatever the lengths.
#include <cstring>

#include "extract_internal.h"

// Spans are powers of two; the wide ones go sixteen bytes a store.
static void FillEntries(std::uint16_t *entry, std::uint32_t span, std::uint16_t value) {
  if (span < 8) {
    for (std::uint32_t i = 0; i < span; i++) entry[i] = value;
    return;
  }
  const std::uint16_t eight[8] = {value, value, value, value, value, value, value, value};
  for (std::uint32_t i = 0; i < span; i += 8) std::memcpy(entry + i, eight, sizeof eight);
}

static void FillLoopEntries(std::uint32_t *entry, std::uint32_t span, std::uint32_t value) {
  if (span < 4) {
    for (std::uint32_t i = 0; i < span; i++) entry[i] = value;
    return;
  }
  const std::uint32_t four[4] = {value, value, value, value};
  for (std::uint32_t i = 0; i < span; i += 4) std::memcpy(entry + i, four, sizeof four);
}

// Format notes: codes are handed out in ascending order of length and,
// within one length, of symbol. first[L] is the first code of length L,
// left-aligned in 16 bits; a complete code makes first[17] wrap to 0. A table
// entry or tree child holds a symbol (below count) or a node number (count
// and up); node numbers start at count so that the distance code's nodes stay
// below those of the literal/length code built before it in the same block.
//
// Only a code whose lengths fill the code space exactly (no more, no less)
// fills loopEntries too: then every slot of the table is a symbol or a tree
// node, whatever the table held before.
bool BuildDecodeTable(unsigned count, const std::uint8_t *lengths, unsigned tableBits, std::uint16_t *table,
                      std::uint32_t *loopEntries) {
  DecoderState &d = decoderState;
  unsigned codes[arj::MaxCodeLength + 1] = {};
  for (unsigned s = 0; s < count; s++) {
    if (lengths[s] > arj::MaxCodeLength) RaiseExtractError(XR_BAD_TABLE);
    codes[lengths[s]]++;
  }

  std::uint32_t first[arj::MaxCodeLength + 2];
  first[1] = 0;
  for (unsigned L = 1; L <= arj::MaxCodeLength; L++)
    first[L + 1] = (first[L] + (codes[L] << (16 - L))) & 0xFFFF;
  if (first[arj::MaxCodeLength + 1] != 0) RaiseExtractError(XR_BAD_TABLE);
  std::uint32_t codeSpace = 0, tableSpace = 0;  // taken by all codes, by those within the table
  for (unsigned L = 1; L <= arj::MaxCodeLength; L++) {
    codeSpace += codes[L] << (16 - L);
    if (L == tableBits) tableSpace = codeSpace;
  }
  if (codeSpace != 1u << 16) loopEntries = nullptr;

  const unsigned shift = 16 - tableBits;
  const std::uint32_t tableSize = 1u << tableBits;
  std::uint32_t span[arj::MaxCodeLength + 1];
  for (unsigned L = 1; L <= arj::MaxCodeLength; L++) {
    if (L <= tableBits) {
      first[L] >>= shift;
      span[L] = 1u << (tableBits - L);
    } else {
      span[L] = 1u << (16 - L);
    }
  }

  std::uint32_t rootStart = first[tableBits + 1] >> shift;
  if (rootStart != 0) std::memset(table + rootStart, 0, (tableSize - rootStart) * sizeof table[0]);
  if (loopEntries && tableSpace != 1u << 16)
    FillLoopEntries(loopEntries + rootStart, tableSize - rootStart, LoopEntryNeedsWalk);

  unsigned nextNode = count;
  const std::uint32_t treeBit = 1u << (15 - tableBits);
  for (unsigned s = 0; s < count; s++) {
    unsigned L = lengths[s];
    if (L == 0) continue;
    std::uint32_t k = first[L];
    std::uint32_t end = k + span[L];
    if (L <= tableBits) {
      if (end > tableSize) RaiseExtractError(XR_BAD_TABLE);
      FillEntries(table + k, span[L], static_cast<std::uint16_t>(s));
      if (loopEntries) FillLoopEntries(loopEntries + k, span[L], s << 8 | L);
    } else {
      std::uint16_t *slot = &table[k >> shift];
      for (unsigned step = tableBits; step < L; step++) {
        if (*slot == 0) {
          if (nextNode >= NodeCount) RaiseExtractError(XR_BAD_TABLE);
          d.leftChild[nextNode] = d.rightChild[nextNode] = 0;
          *slot = static_cast<std::uint16_t>(nextNode++);
        }
        if (*slot >= NodeCount) RaiseExtractError(XR_BAD_TABLE);
        slot = (k & treeBit) ? &d.rightChild[*slot] : &d.leftChild[*slot];
        k <<= 1;
      }
      *slot = static_cast<std::uint16_t>(s);
    }
    first[L] = end & 0xFFFF;
  }
  return loopEntries != nullptr;
}

void ClearDecodeTables() {
  DecoderState &d = decoderState;
  std::memset(d.literalTable, 0, sizeof d.literalTable);
  std::memset(d.literalLengths, 0, sizeof d.literalLengths);
  std::memset(d.auxTable, 0, sizeof d.auxTable);
  std::memset(d.auxLengths, 0, sizeof d.auxLengths);
  std::memset(d.leftChild, 0, sizeof d.leftChild);
  std::memset(d.rightChild, 0, sizeof d.rightChild);
}
