// SHA-256 as FIPS 180-4 defines it, written for size rather than speed: a
// setup file hashes its archive once.
#include "sha256.h"

#include <cstring>

static const std::uint32_t RoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

static std::uint32_t Rotr(std::uint32_t x, unsigned n) { return x >> n | x << (32 - n); }

static void Compress(std::uint32_t state[8], const unsigned char *block) {
  std::uint32_t w[64];
  for (unsigned t = 0; t < 16; t++)
    w[t] = std::uint32_t{block[4 * t]} << 24 | std::uint32_t{block[4 * t + 1]} << 16 |
           std::uint32_t{block[4 * t + 2]} << 8 | block[4 * t + 3];
  for (unsigned t = 16; t < 64; t++) {
    std::uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
    std::uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
    w[t] = w[t - 16] + s0 + w[t - 7] + s1;
  }
  std::uint32_t v[8];
  std::memcpy(v, state, sizeof v);
  for (unsigned t = 0; t < 64; t++) {
    std::uint32_t e = v[4], a = v[0];
    std::uint32_t t1 = v[7] + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & v[5]) ^ (~e & v[6])) +
                       RoundConstants[t] + w[t];
    std::uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & v[1]) ^ (a & v[2]) ^ (v[1] & v[2]));
    std::memmove(v + 1, v, 7 * sizeof v[0]);
    v[4] += t1;
    v[0] = t1 + t2;
  }
  for (unsigned i = 0; i < 8; i++) state[i] += v[i];
}

void Sha256Start(Sha256 *hash) {
  static const std::uint32_t Initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                           0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::memcpy(hash->state, Initial, sizeof Initial);
  hash->length = 0;
  hash->used = 0;
}

void Sha256Update(Sha256 *hash, const void *data, std::size_t length) {
  const unsigned char *bytes = static_cast<const unsigned char *>(data);
  hash->length += length;
  while (length > 0) {
    std::size_t n = 64 - hash->used;
    if (n > length) n = length;
    std::memcpy(hash->block + hash->used, bytes, n);
    hash->used += static_cast<unsigned>(n);
    bytes += n;
    length -= n;
    if (hash->used == 64) {
      Compress(hash->state, hash->block);
      hash->used = 0;
    }
  }
}

void Sha256Finish(Sha256 *hash, unsigned char digest[Sha256Size]) {
  std::uint64_t bits = hash->length * 8;
  unsigned char pad[72] = {0x80};
  // One 0x80, zeros up to 56 bytes modulo 64, then the length in bits.
  std::size_t padLength = (hash->used < 56 ? 56 : 120) - hash->used;
  for (unsigned i = 0; i < 8; i++) pad[padLength + i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
  Sha256Update(hash, pad, padLength + 8);
  for (unsigned i = 0; i < 8; i++)
    for (unsigned j = 0; j < 4; j++)
      digest[4 * i + j] = static_cast<unsigned char>(hash->state[i] >> (24 - 8 * j));
}
