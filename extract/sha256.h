// SHA-256 (FIPS 180-4): the digest that binds a setup file's archive to the
// stub it was packed with. Portable, so that the packer, the setup and the
// native tests share one implementation.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t Sha256Size = 32;

struct Sha256 {
  std::uint32_t state[8];
  std::uint64_t length;  // bytes taken so far
  unsigned char block[64];
  unsigned used;  // bytes waiting in block
};

void Sha256Start(Sha256 *hash);
void Sha256Update(Sha256 *hash, const void *data, std::size_t length);
void Sha256Finish(Sha256 *hash, unsigned char digest[Sha256Size]);
