#include "reference_crc.h"

#include "format.h"

std::uint32_t ReferenceCrc32(std::uint32_t crc, const std::uint8_t *data, std::size_t size) {
  crc = ~crc;
  for (std::size_t i = 0; i < size; i++) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; bit++) crc = (crc >> 1) ^ (crc & 1 ? 0xEDB88320u : 0);
  }
  return ~crc;
}

bool RepairHeaderCrc(std::vector<std::uint8_t> &bytes, std::size_t at) {
  if (at + 4 > bytes.size() || bytes[at] != arj::HeaderIdByte0 || bytes[at + 1] != arj::HeaderIdByte1)
    return false;
  std::size_t size = bytes[at + 2] | bytes[at + 3] << 8;
  if (size == 0 || size > arj::MaxBasicHeaderSize || at + 4 + size + 4 > bytes.size()) return false;
  std::uint32_t crc = ReferenceCrc32(0, &bytes[at + 4], size);
  bool changed = false;
  for (int k = 0; k < 4; k++) {
    std::uint8_t b = static_cast<std::uint8_t>(crc >> (8 * k));
    changed |= bytes[at + 4 + size + k] != b;
    bytes[at + 4 + size + k] = b;
  }
  return changed;
}
