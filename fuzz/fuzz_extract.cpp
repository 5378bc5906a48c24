// Any bytes as a setup file: the extraction must end in a result code,
// write nothing outside its destination, leave nothing behind when it fails
// and no stream open. Each input runs twice: as it is, and with the CRC-32
// of every header in it put right, since a damaged header almost never
// passes its CRC and the field checks behind it would stay out of reach.
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "extract.h"
#include "fuzz_support.h"
#include "reference_crc.h"

static bool IsResult(ExtractResult r) { return r == XR_OK || (r >= XR_NO_MAIN_HEADER && r <= XR_VERSION); }

// Rewrites the CRC after every id pair followed by a plausible basic header.
static bool RepairHeaderCrcs(std::vector<std::uint8_t> &bytes) {
  bool changed = false;
  for (std::size_t i = 0; i + 4 <= bytes.size(); i++) changed |= RepairHeaderCrc(bytes, i);
  return changed;
}

static void ExtractTwice(const std::uint8_t *data, std::size_t size) {
  std::string setup = WriteSetupInput(data, size);
  std::string dest = FreshDestination();
  ExtractResult first = ExtractArchive(setup.c_str(), dest.c_str());
  if (!IsResult(first)) std::abort();
  CheckNothingOutsideDestination();
  if (first != XR_OK && !std::filesystem::is_empty(dest)) std::abort();  // all or nothing
  // The same input gives the same result again at once.
  if (ExtractArchive(setup.c_str(), FreshDestination().c_str()) != first) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  FuzzSetUp();
  ExtractTwice(data, size);
  std::vector<std::uint8_t> repaired(data, data + size);
  if (RepairHeaderCrcs(repaired)) ExtractTwice(repaired.data(), repaired.size());
  return 0;
}
