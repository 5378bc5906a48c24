// Bytes in, through the packer's encoder and archive writer, through the
// extractor, the same bytes out: at every level, binary and (where the
// bytes allow it) text, which comes back with CR LF line ends.
#include <cstdlib>

#include "extract.h"
#include "fuzz_support.h"
#include "packer.h"

static void RoundTrip(const std::vector<std::uint8_t> &content, unsigned fileType, PackLevel level) {
  std::vector<std::uint8_t> stored = content;
  if (fileType == 1) {
    std::string problem;
    if (!TextForStorage(content, &stored, &problem)) return;
  }
  EntryFields entry;
  entry.name = "R.BIN";
  entry.entryPos = 0;
  entry.method = 1;
  entry.fileType = fileType;
  entry.timestamp = 0;
  std::vector<std::uint8_t> packed = EncodeMethod123(stored.data(), stored.size(), level);
  entry.compressedSize = static_cast<std::uint32_t>(packed.size());
  entry.fileSize = static_cast<std::uint32_t>(stored.size());
  entry.fileCrc = Crc32(0, stored.data(), stored.size());

  std::vector<std::uint8_t> file = BuildMainHeader("RT.ARJ", 0);
  std::vector<std::uint8_t> header = BuildEntryHeader(entry);
  file.insert(file.end(), header.begin(), header.end());
  file.insert(file.end(), packed.begin(), packed.end());
  std::vector<std::uint8_t> end = BuildEndMarker();
  file.insert(file.end(), end.begin(), end.end());

  std::string setup = WriteSetupInput(file.data(), file.size());
  std::string dest = FreshDestination();
  if (ExtractArchive(setup.c_str(), dest.c_str()) != XR_OK) std::abort();
  // A text entry comes out with CR LF line ends, whatever it went in with.
  std::vector<std::uint8_t> expected;
  for (std::uint8_t c : stored) {
    if (fileType == 1 && c == '\n') expected.push_back('\r');
    expected.push_back(c);
  }
  if (fileType == 0 && expected != content) std::abort();
  if (ReadWhole(dest + "R.BIN") != expected) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  FuzzSetUp();
  if (size == 0) return 0;
  PackLevel level = static_cast<PackLevel>(data[0] % 3);
  std::vector<std::uint8_t> content(data + 1, data + size);
  RoundTrip(content, 0, level);
  RoundTrip(content, 1, level);
  return 0;
}
