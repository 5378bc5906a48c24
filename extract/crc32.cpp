// CRC-32 (reflected, polynomial 0xEDB88320) over headers and decoded data.
// Long stretches go eight bytes a step through seven further tables derived
// from the first ("slicing by eight"); the result is the same as one table
// lookup per byte.
#include <cstring>

#include "extract_internal.h"

static std::uint32_t crcSlices[8][256];  // [0] is a copy of crcTable

void BuildCrcTable() {
  for (std::uint32_t n = 0; n < 256; n++) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; k++) c = (c & 1) ? (c >> 1) ^ arj::CrcPolynomial : c >> 1;
    extractState.crcTable[n] = c;
    crcSlices[0][n] = c;
  }
  for (std::uint32_t n = 0; n < 256; n++)
    for (int k = 1; k < 8; k++)
      crcSlices[k][n] = (crcSlices[k - 1][n] >> 8) ^ crcSlices[0][crcSlices[k - 1][n] & 0xFF];
}

void Crc32Update(const void *data, std::size_t length) {
  const unsigned char *p = static_cast<const unsigned char *>(data);
  const std::uint32_t *table = extractState.crcTable;
  std::uint32_t crc = extractState.runningCrc;
  for (; length >= 8; length -= 8, p += 8) {
    std::uint32_t lo = (p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24) ^ crc;
    std::uint32_t hi = p[4] | p[5] << 8 | p[6] << 16 | static_cast<std::uint32_t>(p[7]) << 24;
    crc = crcSlices[7][lo & 0xFF] ^ crcSlices[6][(lo >> 8) & 0xFF] ^ crcSlices[5][(lo >> 16) & 0xFF] ^
          crcSlices[4][lo >> 24] ^ crcSlices[3][hi & 0xFF] ^ crcSlices[2][(hi >> 8) & 0xFF] ^
          crcSlices[1][(hi >> 16) & 0xFF] ^ crcSlices[0][hi >> 24];
  }
  for (std::size_t i = 0; i < length; i++) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  extractState.runningCrc = crc;
}

std::uint32_t Crc32Of(const void *data, std::size_t length) {
  extractState.runningCrc = 0xFFFFFFFFu;
  Crc32Update(data, length);
  return ~extractState.runningCrc;
}
