// Runs a fuzz harness over every file in the directories named on the
// command line: the committed corpus and the inputs that once failed.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char **argv) {
  int files = 0;
  for (int i = 1; i < argc; i++) {
    std::error_code ec;
    if (!std::filesystem::is_directory(argv[i], ec)) continue;
    for (const auto &e : std::filesystem::directory_iterator(argv[i])) {
      if (!e.is_regular_file()) continue;
      std::ifstream in(e.path(), std::ios::binary);
      std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(data.data(), data.size());
      files++;
    }
  }
  std::printf("replayed %d inputs\n", files);
  return 0;
}
