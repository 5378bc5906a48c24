// The packer's public face: the method 1-3 encoder, the archive writer's
// pieces, and WriteSetupFile, which joins a stub and an archive into one
// setup file. Linux-only tooling; the setup itself never links this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "crc32.h"

// How hard the encoder looks for a small output. Every level writes the same
// stream format; only the parse differs.
enum PackLevel {
  PackFast,    // lazy matching over hash chains of four-byte prefixes
  PackNormal,  // lazy matching over hash chains of three-byte prefixes
  PackBest,    // cost-based parse over match trees, priced block by block
};

// Methods 1 to 3 share one stream format; the number only tells a reader how
// hard the writer tried: 1 best, 2 normal, 3 fast.
PackLevel LevelForMethod(unsigned method);

typedef void (*PackProgressFn)(std::uint64_t bytesDone, void *context);

// What the encoder did, for tests and reports.
struct EncodeStats {
  unsigned blocks;        // blocks written
  unsigned largestBlock;  // symbols in the largest block
  std::uint64_t symbols;  // literals and matches in all blocks
};

// Compresses size bytes into one entry's method 1-3 stream, made up to whole
// bytes. An empty input gives an empty stream. progress, when set, is called
// now and then with the number of input bytes done.
std::vector<std::uint8_t> EncodeMethod123(const std::uint8_t *data, std::size_t size, PackLevel level,
                                          PackProgressFn progress = nullptr, void *context = nullptr,
                                          EncodeStats *stats = nullptr);

// Reserves room for bytes in buffer, backed by huge pages where the system
// offers them: for the input and output of an entry, tens of megabytes
// each, whose pages would otherwise fault in one by one.
void ReserveLargeBuffer(std::vector<std::uint8_t> *buffer, std::size_t bytes);

// The whole of a file, read to its end; false and why on failure.
bool ReadWholeFile(const std::string &path, std::vector<std::uint8_t> *bytes, std::string *error);

// An input file's bytes for the encoder: mapped from the file, or read
// into bytes where it cannot be mapped or mapping is not asked for.
struct InputFile {
  const std::uint8_t *data;
  std::size_t size;
  void *mapping;                    // the mapped file, or null
  std::vector<std::uint8_t> bytes;  // the bytes, when read
};

// Loads path, which was plannedSize bytes long when the run was planned.
// False and why when it cannot be read or its size has changed meanwhile.
bool LoadInput(const std::string &path, std::uint64_t plannedSize, bool mapped, InputFile *in,
               std::string *error);
// Whether a mapped input still has the size it was mapped with: one that
// grew while it was packed lost its new end to the mapping. True for an
// input that was read.
bool InputStillWhole(const std::string &path, const InputFile &in, std::string *error);
void UnloadInput(InputFile *in);

// Packed DOS date and time of t in local time, clamped to 1980..2107.
std::uint32_t DosTimestamp(std::time_t t);

// One entry header's variable fields; everything else is fixed by the writer.
struct EntryFields {
  std::string name;              // stored name
  unsigned entryPos;             // offset of the file-name part in name
  unsigned method;               // 1, 2 or 3
  unsigned fileType;             // 0 binary, 1 text
  std::uint32_t timestamp;       // packed DOS date and time
  std::uint32_t compressedSize;  // bytes of compressed data that follow the header
  std::uint32_t fileSize;        // bytes after decoding
  std::uint32_t fileCrc;         // CRC-32 of the decoded bytes
};

// Framed headers: id, size, basic header, its CRC-32, no extended header.
std::vector<std::uint8_t> BuildMainHeader(const std::string &archiveName, std::uint32_t timestamp);
std::vector<std::uint8_t> BuildEntryHeader(const EntryFields &entry);
std::vector<std::uint8_t> BuildEndMarker();

// Whether name can be stored as an entry's name and reach a Windows
// destination as the same file; otherwise false and why.
bool CheckEntryName(const std::string &name, std::string *problem);

// The bytes a text entry stores for a file: CR LF becomes LF, which the
// extractor widens again. False and why when the file would not come back
// as it went in (mixed line ends, bytes with bit 7 set).
bool TextForStorage(const std::vector<std::uint8_t> &file, std::vector<std::uint8_t> *stored,
                    std::string *problem);

// Where an extractor that scans from the file's start would find the main
// header: its offset, or -1 when no candidate passes, or -2 when the scan
// would run into the end of the file first.
long FindArchiveStart(const std::uint8_t *data, std::size_t size);

struct PackInput {
  std::string path;  // file to read
  bool text;         // store as a text entry
};

struct PackJob {
  std::string output;             // setup file to write
  std::string stub;               // executable to put in front; empty for a bare archive
  unsigned method;                // 1, 2 or 3
  std::vector<PackInput> inputs;  // entries in this order
  std::FILE *log;                 // progress and summary; null for silence
};

// Writes the setup file under a temporary name beside job.output and renames
// it when complete, so no partial file ever carries the final name. False
// and a message naming the culprit on any failure; nothing is left behind.
bool WriteSetupFile(const PackJob &job, std::string *error);
