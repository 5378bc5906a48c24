// A fabricated entry with valid headers around arbitrary compressed bytes,
// so that every input reaches the decoder: the first bytes choose the
// entry's sizes, type and host, the rest is its compressed data.
#include <cstdlib>
#include <cstring>

#include "extract.h"
#include "format.h"
#include "fuzz_support.h"
#include "packer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  FuzzSetUp();
  if (size < 6) return 0;
  EntryFields entry;
  entry.name = "F.BIN";
  entry.entryPos = 0;
  entry.method = 1 + data[0] % 3;
  entry.fileType = (data[0] >> 2) & 1;
  entry.timestamp = 0;
  // Up to 256 KiB of output: ten windows, several blocks.
  entry.fileSize = data[1] | data[2] << 8 | (data[3] & 0x03) << 16;
  entry.fileCrc = 0;
  std::uint32_t declared = data[4] | data[5] << 8;
  const std::uint8_t *compressed = data + 6;
  std::size_t available = size - 6;
  // The declared size may be shorter or longer than the bytes present.
  entry.compressedSize = (data[0] & 0x80) ? declared : static_cast<std::uint32_t>(available);

  std::vector<std::uint8_t> file = BuildMainHeader("FUZZ.ARJ", 0);
  std::vector<std::uint8_t> header = BuildEntryHeader(entry);
  file.insert(file.end(), header.begin(), header.end());
  file.insert(file.end(), compressed, compressed + available);
  std::vector<std::uint8_t> end = BuildEndMarker();
  file.insert(file.end(), end.begin(), end.end());

  std::string setup = WriteSetupInput(file.data(), file.size());
  ExtractResult r = ExtractArchive(setup.c_str(), FreshDestination().c_str());
  if (r != XR_OK && !(r >= XR_NO_MAIN_HEADER && r <= XR_VERSION)) std::abort();
  CheckNothingOutsideDestination();
  return 0;
}
