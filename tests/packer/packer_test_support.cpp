#include "packer_test_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

void PackerTest::SetUp() {
  char pattern[] = "/tmp/packer-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  dir = pattern;
}

void PackerTest::TearDown() { std::filesystem::remove_all(dir); }

std::string PackerTest::WriteFile(const std::string &name, const Bytes &bytes) {
  std::string path = Path(name);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), bytes.size());
  return path;
}

Bytes PackerTest::ReadFile(const std::string &path) const {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool PackerTest::Exists(const std::string &path) const { return std::filesystem::exists(path); }

std::vector<std::string> PackerTest::ListDir(const std::string &path) const {
  std::vector<std::string> names;
  for (const auto &e : std::filesystem::directory_iterator(path))
    names.push_back(e.path().filename().string());
  return names;
}

ExtractResult PackerTest::ExtractStream(const Bytes &stream, const Bytes &original, Bytes *extracted) {
  std::string name = "a" + std::to_string(++archives);
  EntryFields fields{"DATA.BIN",
                     0,
                     1,
                     0,
                     0,
                     static_cast<std::uint32_t>(stream.size()),
                     static_cast<std::uint32_t>(original.size()),
                     Crc32(0, original.data(), original.size())};
  Bytes archive = BuildMainHeader(name, 0);
  for (const Bytes &part : {BuildEntryHeader(fields), stream, BuildEndMarker()})
    archive.insert(archive.end(), part.begin(), part.end());
  std::string out = Path(name + ".out");
  std::filesystem::create_directory(out);
  ExtractResult r = ExtractArchive(WriteFile(name + ".arj", archive).c_str(), (out + "/").c_str());
  *extracted = ReadFile(out + "/DATA.BIN");
  return r;
}

ExtractResult PackerTest::RoundTrip(const Bytes &data, PackLevel level, Bytes *extracted,
                                    EncodeStats *stats) {
  return ExtractStream(EncodeMethod123(data.data(), data.size(), level, nullptr, nullptr, stats), data,
                       extracted);
}

Bytes RandomBytes(std::mt19937 &rng, std::size_t size) {
  Bytes b(size);
  for (auto &x : b) x = static_cast<std::uint8_t>(rng());
  return b;
}

Bytes TextLike(std::mt19937 &rng, std::size_t size, bool crLf) {
  static const char *const words[] = {"the",      "setup", "window", "Kelvra", "rate", "of",    "a",  "graph",
                                      "transfer", "bytes", "per",    "second", "and",  "shows", "it", "now"};
  std::string s;
  while (s.size() < size) {
    s += words[rng() % 16];
    s += (rng() % 9 == 0) ? (crLf ? "\r\n" : "\n") : " ";
  }
  s.resize(size);
  if (crLf && size && s.back() == '\r') s.back() = '.';
  return Bytes(s.begin(), s.end());
}

Bytes MixedBytes(std::mt19937 &rng, std::size_t size) {
  Bytes b;
  while (b.size() < size) {
    std::size_t n = 1 + rng() % 600;
    switch (rng() % 4) {
      case 0: {
        Bytes r = RandomBytes(rng, n);
        b.insert(b.end(), r.begin(), r.end());
        break;
      }
      case 1:
        b.insert(b.end(), n, static_cast<std::uint8_t>(rng()));
        break;
      default:
        if (b.empty()) break;
        std::size_t from = b.size() - 1 - rng() % std::min<std::size_t>(b.size(), arj::WindowSize + 100);
        for (std::size_t i = 0; i < n; i++) {
          std::uint8_t v = b[from + i];
          b.push_back(v);
        }
    }
  }
  b.resize(size);
  return b;
}
