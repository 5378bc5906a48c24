// Reading, writing and checking the archive seal.
#include "seal.h"

#include <cstring>

static std::uint64_t ReadLe64(const unsigned char *p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; i--) v = v << 8 | p[i];
  return v;
}

static void WriteLe64(unsigned char *p, std::uint64_t v) {
  for (int i = 0; i < 8; i++) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

bool ReadSeal(const unsigned char *block, ArchiveSeal *seal) {
  seal->offset = ReadLe64(block + SealMagicSize);
  seal->length = ReadLe64(block + SealMagicSize + 8);
  std::memcpy(seal->digest, block + SealMagicSize + 16, Sha256Size);
  return seal->length != 0;
}

void WriteSeal(unsigned char *block, const ArchiveSeal &seal) {
  WriteLe64(block + SealMagicSize, seal.offset);
  WriteLe64(block + SealMagicSize + 8, seal.length);
  std::memcpy(block + SealMagicSize + 16, seal.digest, Sha256Size);
}

ExtractResult CheckSeal(const SetupSource *file, const ArchiveSeal &seal) {
  if (!file || !file->readAt || seal.length == 0) return XR_NO_ARCHIVE;
  if (seal.offset > file->size || seal.length > file->size - seal.offset) return XR_EOF;
  Sha256 hash;
  Sha256Start(&hash);
  unsigned char buffer[16384];
  for (std::uint64_t done = 0; done < seal.length;) {
    std::uint64_t left = seal.length - done;
    std::size_t want = left < sizeof buffer ? static_cast<std::size_t>(left) : sizeof buffer;
    std::size_t got = file->readAt(file->context, file->start + seal.offset + done, buffer, want);
    if (got == 0 || got > want) return XR_EOF;
    Sha256Update(&hash, buffer, got);
    done += got;
  }
  unsigned char digest[Sha256Size];
  Sha256Finish(&hash, digest);
  return std::memcmp(digest, seal.digest, Sha256Size) == 0 ? XR_OK : XR_NO_ARCHIVE;
}

SetupSource SealedArchive(const SetupSource *file, const ArchiveSeal &seal) {
  return SetupSource{file->readAt, file->context, file->start + seal.offset, seal.length};
}
