#include <filesystem>

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
