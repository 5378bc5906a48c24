// A deterministic campaign of damage over one small valid setup file: every
// truncation, every single-bit flip of its headers and of one entry's data,
// and seeded random multi-byte corruptions. Whatever the damage, each
// extraction must end in 0 or one of the result codes, within a stated time
// bound, with every descriptor closed, nothing written outside the
// destination, and the same result and bytes when repeated at once.
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>

#include <gtest/gtest.h>

#include "packer.h"
#include "test_support.h"

namespace fs = std::filesystem;
typedef std::vector<std::uint8_t> Bytes;

namespace {

// No single extraction of this small file may take longer than this. A
// header that claims more output than the data hold is bounded by the file
// size cap below, so this is a generous guard against a hang, not a goal.
constexpr double CallBoundSeconds = 10.0;

struct Range {
  std::size_t begin, end;
};

struct SetupFile {
  Bytes bytes;
  std::vector<Range> headers;  // main header, entry headers, end marker
  Range firstEntryData;
};

void Append(Bytes &to, const Bytes &more) { to.insert(to.end(), more.begin(), more.end()); }

SetupFile MakeSetupFile() {
  SetupFile f;
  std::mt19937 random(2026);
  f.bytes.resize(1500);  // a stand-in for the executable image
  for (auto &b : f.bytes) b = static_cast<std::uint8_t>(random() % 0x60);
  f.bytes[0] = 'M';
  f.bytes[1] = 'Z';

  std::string text;
  for (int i = 0; i < 40; i++) text += "Kelvra shows the rate, line " + std::to_string(i) + "\n";
  Bytes binary;
  for (int i = 0; i < 3000; i++) binary.push_back(static_cast<std::uint8_t>((i * i) >> 3));
  struct Entry {
    const char *name;
    Bytes data;
    unsigned type;
  } entries[] = {{"PROGRAM.BIN", binary, 0}, {"README.TXT", Bytes(text.begin(), text.end()), 1}};

  auto mark = [&](const Bytes &header) {
    f.headers.push_back({f.bytes.size(), f.bytes.size() + header.size()});
    Append(f.bytes, header);
  };
  mark(BuildMainHeader("SETUP.ARJ", 0x5A000000));
  for (const Entry &e : entries) {
    Bytes packed = EncodeMethod123(e.data.data(), e.data.size(), PackBest);
    EntryFields fields{e.name,
                       0,
                       1,
                       e.type,
                       0x5A000000,
                       static_cast<std::uint32_t>(packed.size()),
                       static_cast<std::uint32_t>(e.data.size()),
                       Crc32(0, e.data.data(), e.data.size())};
    mark(BuildEntryHeader(fields));
    if (f.headers.size() == 2) f.firstEntryData = {f.bytes.size(), f.bytes.size() + packed.size()};
    Append(f.bytes, packed);
  }
  mark(BuildEndMarker());
  return f;
}

std::map<std::string, Bytes> Contents(const fs::path &dir) {
  std::map<std::string, Bytes> all;
  for (const auto &e : fs::recursive_directory_iterator(dir)) {
    if (!e.is_regular_file()) continue;
    std::ifstream in(e.path(), std::ios::binary);
    all[e.path().lexically_relative(dir).string()] =
        Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  return all;
}

class MutationCampaign : public ::testing::Test {
 protected:
  void SetUp() override {
    work = fs::temp_directory_path() / ("kelvra-mutation-" + std::to_string(getpid()));
    fs::remove_all(work);
    fs::create_directories(work);
    // Damage to a size field can ask for gigabytes of output; a capped file
    // size turns that into a write error quickly.
    signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &savedLimit);
    struct rlimit cap = {16u << 20, savedLimit.rlim_max};
    setrlimit(RLIMIT_FSIZE, &cap);
    descriptors = OpenDescriptors();
  }
  void TearDown() override {
    setrlimit(RLIMIT_FSIZE, &savedLimit);
    std::error_code ec;
    fs::remove_all(work, ec);
    std::printf("%-20s %s\n", "result", "count");
    for (const auto &[name, count] : counts) std::printf("%-20s %d\n", name.c_str(), count);
  }

  // Extracts the damaged file twice into fresh destinations and checks
  // everything the campaign promises.
  void Check(const Bytes &damaged, const std::string &what) {
    fs::path setup = work / "setup.exe";
    {
      std::ofstream out(setup, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char *>(damaged.data()), static_cast<std::streamsize>(damaged.size()));
    }
    ExtractResult results[2];
    std::map<std::string, Bytes> outputs[2];
    for (int round = 0; round < 2; round++) {
      fs::path dest = work / ("dest" + std::to_string(round));
      fs::remove_all(dest);
      fs::create_directories(dest);
      auto start = std::chrono::steady_clock::now();
      results[round] = ExtractArchive(setup.string().c_str(), (dest.string() + "/").c_str());
      double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      ASSERT_LT(seconds, CallBoundSeconds) << what;
      longest = std::max(longest, seconds);
      ASSERT_TRUE(results[round] == XR_OK ||
                  (results[round] >= XR_NO_MAIN_HEADER && results[round] <= XR_VERSION))
          << what << ": 0x" << std::hex << results[round];
      ASSERT_EQ(OpenDescriptors(), descriptors) << what;
      outputs[round] = Contents(dest);
    }
    ASSERT_EQ(results[0], results[1]) << what;
    ASSERT_TRUE(outputs[0] == outputs[1]) << what;
    // All or nothing: a failed extraction leaves its fresh destination empty.
    if (results[0] != XR_OK) {
      ASSERT_TRUE(outputs[0].empty()) << what << " left files after a failure";
    }
    for (const auto &e : fs::directory_iterator(work)) {
      std::string name = e.path().filename().string();
      ASSERT_TRUE(name == "setup.exe" || name == "dest0" || name == "dest1") << what << " wrote " << name;
    }
    counts[ExtractResultName(results[0])]++;
    cases++;
    last = results[0];
  }

  fs::path work;
  struct rlimit savedLimit;
  int descriptors = 0;
  std::map<std::string, int> counts;
  int cases = 0;
  double longest = 0;
  ExtractResult last = XR_OK;
};

TEST_F(MutationCampaign, TheIntactFileExtracts) {
  SetupFile f = MakeSetupFile();
  Check(f.bytes, "intact");
  EXPECT_EQ(counts["OK"], 1);
}

TEST_F(MutationCampaign, EveryTruncation) {
  SetupFile f = MakeSetupFile();
  for (std::size_t length = 0; length < f.bytes.size(); length++) {
    Check(Bytes(f.bytes.begin(), f.bytes.begin() + length), "cut to " + std::to_string(length));
    if (HasFatalFailure()) return;
  }
  std::printf("%d truncations, longest call %.3f s\n", cases, longest);
}

TEST_F(MutationCampaign, EveryBitFlipOfTheHeadersAndOfOneEntrysData) {
  SetupFile f = MakeSetupFile();
  std::vector<Range> ranges = f.headers;
  ranges.push_back(f.firstEntryData);
  for (const Range &r : ranges)
    for (std::size_t i = r.begin; i < r.end; i++)
      for (int bit = 0; bit < 8; bit++) {
        Bytes damaged = f.bytes;
        damaged[i] ^= static_cast<std::uint8_t>(1 << bit);
        Check(damaged, "bit " + std::to_string(bit) + " of byte " + std::to_string(i));
        if (HasFatalFailure()) return;
      }
  std::printf("%d bit flips, longest call %.3f s\n", cases, longest);
}

TEST_F(MutationCampaign, SeededRandomCorruptions) {
  SetupFile f = MakeSetupFile();
  std::mt19937 random(31337);
  const std::size_t archiveStart = f.headers.front().begin;
  for (int round = 0; round < 3000; round++) {
    Bytes damaged = f.bytes;
    int changes = 1 + random() % 8;
    for (int c = 0; c < changes; c++) {
      std::size_t at = archiveStart + random() % (damaged.size() - archiveStart);
      std::size_t run = 1 + random() % 4;
      for (std::size_t k = 0; k < run && at + k < damaged.size(); k++)
        damaged[at + k] = static_cast<std::uint8_t>(random());
    }
    Check(damaged, "round " + std::to_string(round));
    if (HasFatalFailure()) return;
  }
  std::printf("%d random corruptions, longest call %.3f s\n", cases, longest);
}

// Damage to each field behind the header CRC, with the CRC put right: every
// check of an entry header is reached, and each gives its own code.
TEST_F(MutationCampaign, EveryHeaderFieldDamagedBehindARepairedCrc) {
  SetupFile f = MakeSetupFile();
  auto put16 = [](Bytes &b, std::size_t at, unsigned v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
  };
  auto put32 = [&](Bytes &b, std::size_t at, std::uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
  };
  struct Case {
    const char *what;
    int entry;                                         // 0 the binary entry, 1 the text entry
    std::function<void(Bytes &, std::size_t)> damage;  // on the basic header's offset
    ExtractResult expected;
  } cases[] = {
      // Each code's own checks have their tables in the header and driver
      // tests; these rows are the ones that need a real entry's data behind them.
      {"method 3 for 1", 0, [](Bytes &b, std::size_t h) { b[h + arj::OffMethod] = 3; }, XR_OK},
      {"text as binary", 1, [](Bytes &b, std::size_t h) { b[h + arj::OffFileType] = 0; }, XR_OK},
      {"file size one more", 0, [&](Bytes &b, std::size_t h) { b[h + arj::OffFileSize]++; }, XR_CRC},
      {"file size one less", 1, [&](Bytes &b, std::size_t h) { b[h + arj::OffFileSize]--; }, XR_CRC},
      {"file size 0", 0, [&](Bytes &b, std::size_t h) { put32(b, h + arj::OffFileSize, 0); }, XR_CRC},
      {"compressed size 0", 0, [&](Bytes &b, std::size_t h) { put32(b, h + arj::OffCompressedSize, 0); },
       XR_CRC},
      {"compressed size huge", 1,
       [&](Bytes &b, std::size_t h) { put32(b, h + arj::OffCompressedSize, 0x7FFFFFFF); }, XR_BAD_HEADER},
      {"entryPos inside the name", 0, [&](Bytes &b, std::size_t h) { put16(b, h + arj::OffEntryPos, 3); },
       XR_OK},
      {"entryPos at the end: empty name", 0,
       [&](Bytes &b, std::size_t h) { put16(b, h + arj::OffEntryPos, 11); }, XR_CREATE_OUTPUT},
      {"name start inside the fields: an empty name", 0,
       [](Bytes &b, std::size_t h) { b[h + arj::OffFirstHeaderSize] = 8; }, XR_CREATE_OUTPUT},
  };
  int fieldCases = 0;
  for (const Case &c : cases) {
    Bytes damaged = f.bytes;
    const Range &header = f.headers[1 + c.entry];
    c.damage(damaged, header.begin + 4);
    RepairHeaderCrc(damaged, header.begin);
    Check(damaged, c.what);
    if (HasFatalFailure()) return;
    EXPECT_EQ(ExtractResultName(last), std::string(ExtractResultName(c.expected))) << c.what;
    fieldCases++;
  }
  // Every byte of both entry headers set to each of a few values, CRC put
  // right: whatever the field, a result code, and nothing left on failure.
  for (int entry = 1; entry <= 2; entry++)
    for (std::size_t i = f.headers[entry].begin + 4; i + 6 < f.headers[entry].end; i++)
      for (std::uint8_t value : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
        Bytes damaged = f.bytes;
        damaged[i] = value;
        RepairHeaderCrc(damaged, f.headers[entry].begin);
        Check(damaged, "byte " + std::to_string(i) + " set to " + std::to_string(value));
        if (HasFatalFailure()) return;
      }
  std::printf("%d field cases, %d cases in all\n", fieldCases, this->cases);
}

}  // namespace
