// The CRC-32 written out bit by bit, sharing nothing with the library's
// table code, and the repair of a framed header's CRC after its bytes were
// changed. Free of the test framework: the fuzz harnesses use it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Continued from crc (0 for none), as the library's Crc32.
std::uint32_t ReferenceCrc32(std::uint32_t crc, const std::uint8_t *data, std::size_t size);
inline std::uint32_t ReferenceCrc32(const std::vector<std::uint8_t> &data) {
  return ReferenceCrc32(0, data.data(), data.size());
}

// Where bytes[at..] holds an id pair and a basic header size that fits the
// format and the bytes, puts the CRC-32 that follows the basic header right,
// so damage behind it reaches the checks the CRC would have stopped. True
// when a byte changed.
bool RepairHeaderCrc(std::vector<std::uint8_t> &bytes, std::size_t at);
