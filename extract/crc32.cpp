// CRC-32 (reflected, polynomial 0xEDB88320) over headers and decoded data.
#include "extract_internal.h"

void BuildCrcTable() {
  for (std::uint32_t n = 0; n < 256; n++) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; k++) c = (c & 1) ? (c >> 1) ^ arj::CrcPolynomial : c >> 1;
    extractState.crcTable[n] = c;
  }
}

void Crc32Update(const void *data, std::size_t length) {
  const unsigned char *p = static_cast<const unsigned char *>(data);
  const std::uint32_t *table = extractState.crcTable;
  std::uint32_t crc = extractState.runningCrc;
  for (std::size_t i = 0; i < length; i++) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  extractState.runningCrc = crc;
}

std::uint32_t Crc32Of(const void *data, std::size_t length) {
  extractState.runningCrc = 0xFFFFFFFFu;
  Crc32Update(data, length);
  return ~extractState.runningCrc;
}
