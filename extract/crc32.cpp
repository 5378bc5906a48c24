// CRC-32 (reflected, polynomial 0xEDB88320) over headers and decoded data,
// for the extractor and the packer alike. Long stretches go sixteen bytes a step through fifteen further
// tables derived from the first ("slicing by sixteen"). On x86-64 processors with carry-less multiply,
// stretches of 64 bytes and more are folded 64 bytes a step instead, the choice made at run time. Every path
// gives the same result as one table lookup per byte.
#include <cstring>

#include "crc32.h"
#include "format.h"

#if defined(__GNUC__) && defined(__x86_64__)
#define KELVRA_CRC_FOLDING 1
#include <cpuid.h>
#include <emmintrin.h>
#include <wmmintrin.h>
#endif

// Built on first use: the tables would add 16 KiB to the setup file as data,
// and take well under a millisecond to compute.
static std::uint32_t crcSlices[16][256];  // [0] one lookup per byte, [k] k bytes further on
static bool tablesBuilt;

static std::uint32_t Load32(const unsigned char *p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

static std::uint32_t UpdateSliced(std::uint32_t crc, const unsigned char *p, std::size_t length) {
  const std::uint32_t(*t)[256] = crcSlices;
  for (; length >= 16; length -= 16, p += 16) {
    std::uint32_t a = Load32(p) ^ crc, b = Load32(p + 4), c = Load32(p + 8), d = Load32(p + 12);
    crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
          t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^ t[7][c & 0xFF] ^
          t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^ t[3][d & 0xFF] ^
          t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
  }
  for (std::size_t i = 0; i < length; i++) crc = t[0][(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

#ifdef KELVRA_CRC_FOLDING
// Format notes: a 16-byte group loaded little-endian holds the message bit
// of degree 127 - k in bit k. Moving a group n bits further on multiplies it
// by x^n; modulo the polynomial, its first eight bytes (degrees 64 to 127)
// times x^(n + 63) and its last eight times x^(n - 1), each product shifted
// one place by the multiply's own bit order, give a 96-bit remainder in the
// same layout. Four groups travel 512 bits a step, then fold into one,
// whose CRC from zero the table finishes.
struct FoldConstants {
  std::uint64_t by512[2], by128[2];  // [0] for the first eight bytes, [1] for the last
};
static FoldConstants foldConstants;
static bool useFolding;

static std::uint64_t ReflectedPower(unsigned n) {  // x^n mod P, bit 63 - d holding degree d
  std::uint64_t r = 1;
  for (unsigned i = 0; i < n; i++) {
    r <<= 1;
    if (r >> 32) r ^= 0x104C11DB7u;  // the polynomial, unreflected
  }
  std::uint64_t reflected = 0;
  for (unsigned d = 0; d < 32; d++)
    if (r >> d & 1) reflected |= std::uint64_t{1} << (63 - d);
  return reflected;
}

static bool CpuHasCarrylessMultiply() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  return (c & bit_PCLMUL) && (d & bit_SSE2);
}

__attribute__((target("pclmul,sse2"))) static __m128i Fold(__m128i group, __m128i k) {
  return _mm_xor_si128(_mm_clmulepi64_si128(group, k, 0x00), _mm_clmulepi64_si128(group, k, 0x11));
}

// length at least 64; returns the CRC register after the whole groups of 16
// and advances p and length past them.
__attribute__((target("pclmul,sse2"))) static std::uint32_t UpdateFolded(std::uint32_t crc,
                                                                         const unsigned char *&p,
                                                                         std::size_t &length) {
  const FoldConstants &f = foldConstants;
  const __m128i by512 =
      _mm_set_epi64x(static_cast<long long>(f.by512[1]), static_cast<long long>(f.by512[0]));
  const __m128i by128 =
      _mm_set_epi64x(static_cast<long long>(f.by128[1]), static_cast<long long>(f.by128[0]));
  auto load = [](const unsigned char *q) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(q)); };

  __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
  for (p += 64, length -= 64; length >= 64; p += 64, length -= 64) {
    x0 = _mm_xor_si128(Fold(x0, by512), load(p));
    x1 = _mm_xor_si128(Fold(x1, by512), load(p + 16));
    x2 = _mm_xor_si128(Fold(x2, by512), load(p + 32));
    x3 = _mm_xor_si128(Fold(x3, by512), load(p + 48));
  }
  __m128i x = _mm_xor_si128(Fold(x0, by128), x1);
  x = _mm_xor_si128(Fold(x, by128), x2);
  x = _mm_xor_si128(Fold(x, by128), x3);
  for (; length >= 16; p += 16, length -= 16) x = _mm_xor_si128(Fold(x, by128), load(p));

  unsigned char last[16];
  _mm_storeu_si128(reinterpret_cast<__m128i *>(last), x);
  return UpdateSliced(0, last, sizeof last);
}
#endif

static void BuildTables() {
  for (std::uint32_t n = 0; n < 256; n++) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; k++) c = (c & 1) ? (c >> 1) ^ arj::CrcPolynomial : c >> 1;
    crcSlices[0][n] = c;
  }
  for (std::uint32_t n = 0; n < 256; n++)
    for (int k = 1; k < 16; k++)
      crcSlices[k][n] = (crcSlices[k - 1][n] >> 8) ^ crcSlices[0][crcSlices[k - 1][n] & 0xFF];
#ifdef KELVRA_CRC_FOLDING
  foldConstants = {{ReflectedPower(512 + 63), ReflectedPower(512 - 1)},
                   {ReflectedPower(128 + 63), ReflectedPower(128 - 1)}};
  useFolding = CpuHasCarrylessMultiply();
#endif
  tablesBuilt = true;
}

bool UseFastestCrc(bool wanted) {
  if (!tablesBuilt) BuildTables();
#ifdef KELVRA_CRC_FOLDING
  useFolding = wanted && CpuHasCarrylessMultiply();
  return useFolding;
#else
  (void)wanted;
  return false;
#endif
}

std::uint32_t Crc32(std::uint32_t crc, const void *data, std::size_t size) {
  if (!tablesBuilt) BuildTables();
  const unsigned char *p = static_cast<const unsigned char *>(data);
  crc = ~crc;
#ifdef KELVRA_CRC_FOLDING
  if (useFolding && size >= 64) crc = UpdateFolded(crc, p, size);
#endif
  return ~UpdateSliced(crc, p, size);
}
