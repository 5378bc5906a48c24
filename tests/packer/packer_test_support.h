// Test support for the packer: a fixture with a fresh directory, and round
// trips through the real extraction library.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "encoder_internal.h"
#include "extract.h"
#include "packer.h"

typedef std::vector<std::uint8_t> Bytes;

class PackerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string Path(const std::string &name) const { return dir + "/" + name; }
  std::string WriteFile(const std::string &name, const Bytes &bytes);
  Bytes ReadFile(const std::string &path) const;
  bool Exists(const std::string &path) const;
  std::vector<std::string> ListDir(const std::string &path) const;

  // Writes an archive with one entry of the given compressed stream, then
  // extracts it into a fresh directory; extracted gets the entry's bytes.
  ExtractResult ExtractStream(const Bytes &stream, const Bytes &original, Bytes *extracted);
  // Encodes data at the level and extracts it again.
  ExtractResult RoundTrip(const Bytes &data, PackLevel level, Bytes *extracted, EncodeStats *stats = nullptr);

  std::string dir;
  unsigned archives = 0;
};

Bytes RandomBytes(std::mt19937 &rng, std::size_t size);
Bytes TextLike(std::mt19937 &rng, std::size_t size, bool crLf);
// Random bytes, runs, and copies of earlier stretches at random distances.
Bytes MixedBytes(std::mt19937 &rng, std::size_t size);
