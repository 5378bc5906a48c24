// CRC-32 as the archive format uses it (reflected, polynomial 0xEDB88320),
// shared by the extractor and the packer.
#pragma once

#include <cstddef>
#include <cstdint>

// The CRC-32 of the bytes before data, whose CRC-32 is crc (0 for none),
// followed by data[0..size).
std::uint32_t Crc32(std::uint32_t crc, const void *data, std::size_t size);

// Tests: allows or forbids the processor-specific path; returns whether it
// is taken from now on. Every path gives the same results.
bool UseFastestCrc(bool wanted);
