// Archives made by other archivers, appended to a stand-in executable image:
// each must give the result its manifest states, and every entry of the
// complete ones must come out with the CRC-32 recorded for it.
#include <fstream>
#include <map>
#include <sstream>

#include "test_support.h"

namespace {

struct Expectation {
  std::string archive;
  std::string result;
};

std::vector<std::string> SplitTabs(const std::string &line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  std::string field;
  while (std::getline(in, field, '\t')) fields.push_back(field);
  return fields;
}

std::vector<Expectation> ReadExpectations(const std::filesystem::path &dir) {
  std::vector<Expectation> all;
  std::ifstream in(dir / "EXPECTED.tsv");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f = SplitTabs(line);
    if (f.size() >= 2) all.push_back({f[0], f[1]});
  }
  return all;
}

// archive -> (file name as extracted -> CRC-32 as hex), from the manifest.
std::map<std::string, std::map<std::string, std::string>> ReadEntryCrcs(const std::filesystem::path &dir) {
  std::map<std::string, std::map<std::string, std::string>> crcs;
  std::ifstream in(dir / "MANIFEST-entries.tsv");
  std::string line;
  std::getline(in, line);
  std::vector<std::string> header = SplitTabs(line);
  auto column = [&](const char *name) {
    for (std::size_t i = 0; i < header.size(); i++)
      if (header[i] == name) return i;
    return header.size();
  };
  std::size_t file = column("file"), name = column("name"), crc = column("crc32"), pos = column("entryPos");
  while (std::getline(in, line)) {
    std::vector<std::string> f = SplitTabs(line);
    if (f.size() <= std::max({file, name, crc, pos})) continue;
    std::size_t entryPos = std::stoul(f[pos]);
    std::string extracted = entryPos <= f[name].size() ? f[name].substr(entryPos) : f[name];
    crcs[f[file]][extracted] = f[crc];
  }
  return crcs;
}

class FixturesTest : public TempDirTest {};

TEST_F(FixturesTest, EveryArchiveGivesItsStatedResult) {
  std::filesystem::path fixtures = FixturesDir();
  if (fixtures.empty()) GTEST_SKIP() << "SKIPPED: no fixtures at " << KELVRA_FIXTURES_DIR;
  std::vector<Expectation> expectations = ReadExpectations(fixtures);
  ASSERT_GT(expectations.size(), 90u);
  auto crcs = ReadEntryCrcs(fixtures);

  int complete = 0, checkedEntries = 0;
  for (const Expectation &e : expectations) {
    SCOPED_TRACE(e.archive);
    Bytes setup = StandInImage();
    Bytes archive = ReadFileBytes(fixtures / e.archive);
    setup.insert(setup.end(), archive.begin(), archive.end());
    std::filesystem::path setupFile = dir / "setup.exe";
    std::filesystem::path out = dir / "out";
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out);
    WriteFileBytes(setupFile, setup);

    ExtractResult result = ExtractArchive(PathString(setupFile).c_str(), DestinationOf(out).c_str());
    std::string name = ExtractResultName(result);
    if (e.result == "XR_*")
      EXPECT_NE(result, XR_OK) << name;
    else
      EXPECT_EQ(name, e.result);
    if (result != XR_OK) {
      EXPECT_TRUE(std::filesystem::is_empty(out)) << name << " left files behind";
      continue;
    }

    complete++;
    for (const auto &[file, crc] : crcs[e.archive]) {
      Bytes data = ReadFileBytes(out / file);
      char hex[9];
      std::snprintf(hex, sizeof hex, "%08x", Crc32(data));
      EXPECT_EQ(hex, crc) << file;
      checkedEntries++;
    }
  }
  EXPECT_EQ(complete, 18);
  std::printf("fixtures: %zu archives, %d complete, %d entries checked by CRC-32\n", expectations.size(),
              complete, checkedEntries);
}

}  // namespace
