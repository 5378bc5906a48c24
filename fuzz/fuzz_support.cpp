#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;

static std::string workDir;

void FuzzSetUp() {
  if (!workDir.empty()) return;
  fs::path dir = fs::temp_directory_path() / ("kelvra-fuzz-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  workDir = dir.string() + "/";
  std::atexit([] {
    std::error_code ec;
    fs::remove_all(workDir, ec);
  });

  // 16 MiB per file: far more than any sane entry of a fuzz input decodes to.
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = {16u << 20, 16u << 20};
  setrlimit(RLIMIT_FSIZE, &limit);
}

const std::string &FuzzWorkDir() { return workDir; }

std::string WriteSetupInput(const std::uint8_t *data, std::size_t size) {
  std::string path = workDir + "setup.bin";
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
  return path;
}

std::string FreshDestination() {
  fs::path dest = fs::path(workDir) / "dest";
  std::error_code ec;
  fs::remove_all(dest, ec);
  fs::create_directories(dest);
  return dest.string() + "/";
}

void CheckNothingOutsideDestination() {
  for (const auto &e : fs::directory_iterator(workDir)) {
    std::string name = e.path().filename().string();
    if (name != "setup.bin" && name != "dest") {
      std::fprintf(stderr, "fuzz: extraction wrote outside its destination: %s\n", name.c_str());
      std::abort();
    }
  }
}

std::vector<std::uint8_t> ReadWhole(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
