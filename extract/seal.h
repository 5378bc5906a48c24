// The seal that binds a setup file's archive to the stub it was packed
// with: a 64-byte block in the stub's read-only data, left blank by the
// build and filled in by the packer with where the archive starts, its
// length and its SHA-256. The running setup reads the block from its own
// mapped image, which nobody can change under it, and extracts only an
// archive that matches it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "extract.h"
#include "sha256.h"

constexpr std::size_t SealMagicSize = 16;
constexpr std::size_t SealSize = SealMagicSize + 8 + 8 + Sha256Size;
// The block as built: this text, then zeros. The packer fills in exactly one
// such block and refuses a stub with more than one.
#define KELVRA_SEAL_MAGIC 'K', 'e', 'l', 'v', 'r', 'a', ' ', 's', 'e', 'a', 'l', 'e', 'd', ' ', 'v', '1'

struct ArchiveSeal {
  std::uint64_t offset;  // where the archive starts in the setup file: the stub's length
  std::uint64_t length;  // the archive's bytes, end marker included; a signature follows them
  unsigned char digest[Sha256Size];
};

// The fields of a block (magic not checked: the stub holds no second copy
// of it to compare with). False when the block was never filled in.
bool ReadSeal(const unsigned char *block, ArchiveSeal *seal);
// Fills in the fields after the magic.
void WriteSeal(unsigned char *block, const ArchiveSeal &seal);

// XR_OK when file holds seal.length bytes from seal.offset on and they hash
// to seal.digest; XR_EOF when the file is shorter; XR_NO_ARCHIVE when the
// bytes are another archive than the one the stub was packed with.
ExtractResult CheckSeal(const SetupSource *file, const ArchiveSeal &seal);

// The sealed archive as a source of its own: what the extractor may read.
SetupSource SealedArchive(const SetupSource *file, const ArchiveSeal &seal);
