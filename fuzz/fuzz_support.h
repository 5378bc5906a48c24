// What the fuzz harnesses share: a private work directory, and the checks
// that every run must pass whatever the input: nothing written outside the
// destination, and no output so large that a run stops being a test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Prepares the process once: a fresh work directory under the system's
// temporary folder, and a cap on the size of any file written, so that a
// header claiming gigabytes ends in a write error instead of filling a disk.
void FuzzSetUp();

// The work directory, with a trailing separator.
const std::string &FuzzWorkDir();

// Writes bytes as the file "setup.bin" in the work directory; returns its path.
std::string WriteSetupInput(const std::uint8_t *data, std::size_t size);

// A fresh, empty destination directory "dest/" in the work directory.
std::string FreshDestination();

// Aborts when the work directory holds anything besides setup.bin and dest/:
// an extraction wrote outside its destination.
void CheckNothingOutsideDestination();

// Reads a whole file; empty when it is missing.
std::vector<std::uint8_t> ReadWhole(const std::string &path);
