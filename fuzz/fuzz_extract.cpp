// Any bytes as a setup file: the extraction must end in a result code,
// write nothing outside its destination and leave no stream open.
#include <cstdlib>

#include "extract.h"
#include "fuzz_support.h"

static bool IsResult(ExtractResult r) { return r == XR_OK || (r >= XR_NO_MAIN_HEADER && r <= XR_VERSION); }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  FuzzSetUp();
  std::string setup = WriteSetupInput(data, size);
  std::string dest = FreshDestination();
  ExtractResult first = ExtractArchive(setup.c_str(), dest.c_str());
  if (!IsResult(first)) std::abort();
  CheckNothingOutsideDestination();
  // The same input gives the same result again at once.
  if (ExtractArchive(setup.c_str(), FreshDestination().c_str()) != first) std::abort();
  return 0;
}
