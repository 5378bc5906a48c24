#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "packer_test_support.h"
#include "seal.h"

namespace {

PackJob Job(const std::string &output, std::vector<PackInput> inputs, const std::string &stub = "") {
  return PackJob{output, stub, 1, std::move(inputs), nullptr};
}

}  // namespace

TEST_F(PackerTest, SetupFileCarriesTheStubThenEveryEntry) {
  std::mt19937 rng(21);
  Bytes stub = RandomBytes(rng, 40000);
  stub[0] = 'M';
  stub[1] = 'Z';
  std::vector<PackInput> inputs;
  std::vector<Bytes> contents;
  for (unsigned i = 0; i < 150; i++) {
    contents.push_back(MixedBytes(rng, i % 10 == 0 ? 0 : rng() % (i % 7 == 0 ? 70000 : 900)));
    inputs.push_back({WriteFile("f" + std::to_string(i) + ".dat", contents.back()), false});
  }
  Bytes lines = TextLike(rng, 5000, true);
  inputs.push_back({WriteFile("README.TXT", lines), true});
  Bytes unixLines = TextLike(rng, 5000, false);
  inputs.push_back({WriteFile("unix.txt", unixLines), true});

  for (unsigned method : {1u, 2u, 3u}) {
    PackJob job = Job(Path("setup.exe"), inputs, WriteFile("stub.exe", stub));
    job.method = method;
    std::string error;
    ASSERT_TRUE(WriteSetupFile(job, &error)) << error;
    Bytes setup = ReadFile(job.output);
    ASSERT_TRUE(std::equal(stub.begin(), stub.end(), setup.begin()));

    std::string out = Path("out" + std::to_string(method));
    std::filesystem::create_directory(out);
    ASSERT_EQ(ExtractArchive(job.output.c_str(), (out + "/").c_str()), XR_OK);
    for (unsigned i = 0; i < 150; i++)
      ASSERT_EQ(ReadFile(out + "/f" + std::to_string(i) + ".dat"), contents[i]) << i;
    EXPECT_EQ(ReadFile(out + "/README.TXT"), lines);
    std::string widened;
    for (std::uint8_t c : unixLines) widened += c == '\n' ? "\r\n" : std::string(1, char(c));
    EXPECT_EQ(ReadFile(out + "/unix.txt"), Bytes(widened.begin(), widened.end()));
  }
}

TEST_F(PackerTest, FailuresNameTheCulpritAndLeaveNoOutput) {
  std::string good = WriteFile("good.bin", Bytes(100, 'g'));
  std::filesystem::create_directory(Path("folder"));
  Bytes bigStub(arj::ScanLimit, 'z');
  Bytes fakeHeader = {'M', 'Z', 0x60, 0xEA, 0, 0, 0, 0, 0, 0};
  Bytes twoSeals(2 * SealSize, 0), filledSeal(SealSize, 1);
  const unsigned char magic[] = {KELVRA_SEAL_MAGIC};
  for (std::size_t at : {std::size_t{0}, SealSize})
    std::copy(magic, magic + sizeof magic, twoSeals.begin() + at);
  std::copy(magic, magic + sizeof magic, filledSeal.begin());
  std::string mixed = "a\r\nb\nc\r\n";
  const struct {
    const char *what;
    PackJob job;
    const char *mentions;
  } cases[] = {
      {"no inputs", Job(Path("out.exe"), {}), "no input"},
      {"missing input", Job(Path("out.exe"), {{good, false}, {Path("missing.bin"), false}}), "missing.bin"},
      {"directory", Job(Path("out.exe"), {{Path("folder"), false}}), "not a regular file"},
      {"device name", Job(Path("out.exe"), {{WriteFile("aux.txt", {}), false}}), "device"},
      {"same name twice", Job(Path("out.exe"), {{good, false}, {WriteFile("GOOD.BIN", {}), false}}),
       "GOOD.BIN"},
      {"mixed line ends",
       Job(Path("out.exe"), {{WriteFile("m.txt", Bytes(mixed.begin(), mixed.end())), true}}), "m.txt"},
      {"missing stub", Job(Path("out.exe"), {{good, false}}, Path("nostub.exe")), "nostub.exe"},
      {"stub too large", Job(Path("out.exe"), {{good, false}}, WriteFile("big.exe", bigStub)), "500000"},
      {"stub with a header of its own",
       Job(Path("out.exe"), {{good, false}}, WriteFile("fake.exe", fakeHeader)), "stub"},
      {"two seal blocks", Job(Path("out.exe"), {{good, false}}, WriteFile("two.exe", twoSeals)), "2 seal"},
      {"a seal filled in before", Job(Path("out.exe"), {{good, false}}, WriteFile("re.exe", filledSeal)),
       "0 of them blank"},
      {"output directory missing", Job(Path("nodir/out.exe"), {{good, false}}), "nodir/out.exe"},
  };
  for (const auto &c : cases) {
    std::string error;
    EXPECT_FALSE(WriteSetupFile(c.job, &error)) << c.what;
    EXPECT_NE(error.find(c.mentions), std::string::npos) << c.what << ": " << error;
    EXPECT_FALSE(Exists(c.job.output)) << c.what;
  }
  for (const std::string &name : ListDir(dir)) EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
}

TEST_F(PackerTest, FailedRunLeavesThePreviousSetupFileUntouched) {
  std::string output = WriteFile("setup.exe", Bytes(10, 'o'));
  std::string error;
  EXPECT_FALSE(WriteSetupFile(Job(output, {{Path("missing"), false}}), &error));
  EXPECT_EQ(ReadFile(output), Bytes(10, 'o'));
  ASSERT_TRUE(WriteSetupFile(Job(output, {{WriteFile("x.bin", Bytes(5, 'x')), false}}), &error)) << error;
  EXPECT_NE(ReadFile(output), Bytes(10, 'o'));
}

TEST_F(PackerTest, SameInputsMakeTheSameSetupFile) {
  std::mt19937 rng(8);
  std::vector<PackInput> inputs{{WriteFile("a.bin", MixedBytes(rng, 50000)), false},
                                {WriteFile("b.txt", TextLike(rng, 3000, true)), true}};
  std::string error;
  for (const char *run : {"one", "two"}) {
    std::filesystem::create_directory(Path(run));
    ASSERT_TRUE(WriteSetupFile(Job(Path(run) + "/setup.exe", inputs), &error)) << error;
  }
  EXPECT_EQ(ReadFile(Path("one/setup.exe")), ReadFile(Path("two/setup.exe")));
}

// The stub's blank seal is filled in with the archive that follows it, so
// the setup can tell its own archive from any other; the rest of the stub
// is left as it was.
TEST_F(PackerTest, TheStubsSealNamesTheArchiveAfterIt) {
  std::mt19937 rng(17);
  Bytes stub = RandomBytes(rng, 9000);
  stub[0] = 'M';
  stub[1] = 'Z';
  const std::size_t at = 5000;
  Bytes blank(SealSize, 0);
  const unsigned char magic[] = {KELVRA_SEAL_MAGIC};
  std::copy(magic, magic + sizeof magic, blank.begin());
  std::copy(blank.begin(), blank.end(), stub.begin() + at);
  PackJob job = Job(Path("sealed.exe"), {{WriteFile("p.bin", MixedBytes(rng, 20000)), false}},
                    WriteFile("stub.exe", stub));
  std::string error;
  ASSERT_TRUE(WriteSetupFile(job, &error)) << error;
  Bytes setup = ReadFile(job.output);
  ArchiveSeal seal;
  ASSERT_TRUE(ReadSeal(setup.data() + at, &seal));
  EXPECT_EQ(seal.offset, stub.size());
  EXPECT_EQ(seal.offset + seal.length, setup.size());
  EXPECT_TRUE(std::equal(stub.begin(), stub.begin() + at + SealMagicSize, setup.begin()));
  EXPECT_TRUE(std::equal(stub.begin() + at + SealSize, stub.end(), setup.begin() + at + SealSize));
  SetupSource file{[](void *context, std::uint64_t offset, void *buffer, std::size_t length) -> std::size_t {
                     const Bytes &bytes = *static_cast<const Bytes *>(context);
                     if (offset >= bytes.size()) return 0;
                     std::size_t n = std::min<std::size_t>(length, bytes.size() - offset);
                     std::copy(bytes.begin() + offset, bytes.begin() + offset + n,
                               static_cast<std::uint8_t *>(buffer));
                     return n;
                   },
                   &setup, 0, setup.size()};
  EXPECT_EQ(CheckSeal(&file, seal), XR_OK);
}

// An input is mapped or read; either way the encoder gets the bytes the
// run planned for, or the run stops and says the file changed.
TEST_F(PackerTest, InputsAreLoadedWholeOrRefusedWhenTheyChanged) {
  std::mt19937 rng(5);
  const Bytes content = MixedBytes(rng, 70000);
  const std::string path = WriteFile("in.bin", content), empty = WriteFile("empty.bin", {});
  const struct {
    const char *what;
    std::string path;
    std::uint64_t planned;
    bool mapped;
    const char *mentions;  // null when the load succeeds
  } cases[] = {
      {"mapped", path, content.size(), true, nullptr},
      {"read", path, content.size(), false, nullptr},
      {"empty, asked to map", empty, 0, true, nullptr},
      {"shrunk since planned, mapped", path, content.size() + 1, true, "changed while being packed"},
      {"grown since planned, mapped", path, content.size() - 1, true, "changed while being packed"},
      {"shrunk since planned, read", path, content.size() + 1, false, "changed while being packed"},
      {"gone", Path("gone.bin"), 10, true, "cannot open"},
  };
  for (const auto &c : cases) {
    InputFile in;
    std::string error;
    bool loaded = LoadInput(c.path, c.planned, c.mapped, &in, &error);
    EXPECT_EQ(loaded, c.mentions == nullptr) << c.what << ": " << error;
    if (!loaded) {
      EXPECT_NE(error.find(c.mentions), std::string::npos) << c.what << ": " << error;
      EXPECT_NE(error.find(c.path), std::string::npos) << c.what << ": " << error;
      continue;
    }
    EXPECT_EQ(in.mapping != nullptr, c.mapped && c.planned > 0) << c.what;
    EXPECT_EQ(Bytes(in.data, in.data + in.size), c.planned ? content : Bytes()) << c.what;
    EXPECT_TRUE(InputStillWhole(c.path, in, &error)) << c.what << ": " << error;
    UnloadInput(&in);
  }

  // A mapped input that grows while it is packed would lose its new end.
  InputFile in;
  std::string error;
  ASSERT_TRUE(LoadInput(path, content.size(), true, &in, &error)) << error;
  std::FILE *f = std::fopen(path.c_str(), "ab");
  ASSERT_NE(f, nullptr);
  std::fputc('+', f);
  std::fclose(f);
  EXPECT_FALSE(InputStillWhole(path, in, &error));
  EXPECT_NE(error.find("changed while being packed"), std::string::npos) << error;
  UnloadInput(&in);
}

// An input cut short while it is packed ends the run, by an error or by the
// fault on its lost pages, whichever the moment gives; either way without
// the output or the temporary file.
TEST_F(PackerTest, InputCutShortWhilePackedLeavesNothingBehind) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer takes the fault for itself";
#else
  std::mt19937 rng(9);
  const std::string input = WriteFile("big.bin", MixedBytes(rng, 8u << 20));
  PackJob job = Job(Path("cut.exe"), {{input, false}});
  const std::string folder = dir;
  auto cutWhilePacking = [&] {
    std::thread cutter([&] {
      for (int tries = 0; tries < 2000; tries++) {
        bool started = false;
        for (const auto &e : std::filesystem::directory_iterator(folder))
          started |= e.path().filename().string().find(".tmp") != std::string::npos;
        if (started) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (truncate(input.c_str(), 0) != 0) _exit(4);
    });
    std::string error;
    bool written = WriteSetupFile(job, &error);
    cutter.join();
    _exit(!written && error.find("changed while being packed") != std::string::npos ? 3 : 0);
  };
  EXPECT_EXIT(
      cutWhilePacking(),
      [](int status) {
        return (WIFSIGNALED(status) && WTERMSIG(status) == SIGBUS) ||
               (WIFEXITED(status) && WEXITSTATUS(status) == 3);
      },
      "");
  EXPECT_FALSE(Exists(job.output));
  for (const std::string &name : ListDir(dir)) EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
#endif
}
