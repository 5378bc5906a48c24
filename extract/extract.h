// The archive extraction subsystem's public face: extract the ARJ archive
// appended to a setup file into a directory, and list its entries.
// This is the only header of extract/ that the setup front end includes.
#pragma once

#include <cstddef>
#include <cstdint>

// 0 is success; every failure is one of the codes below. A result outside
// this table never comes from this library, but callers treat any non-zero
// value as a failure.
typedef std::uint32_t ExtractResult;

enum : ExtractResult {
  XR_OK = 0,
  XR_NO_MAIN_HEADER = 0xE0000001u,  // the archive starts with an end marker
  XR_BAD_HEADER = 0xE0000002u,      // entry header without id, oversized, malformed, or size >= 2 GiB
  XR_BAD_TABLE = 0xE0000003u,       // compressed data describe an unusable code table
  XR_OPEN_SETUP = 0xE0000004u,      // the setup file cannot be opened
  XR_EOF = 0xE0000005u,             // the setup file ends where a header byte is due
  XR_CRC = 0xE0000006u,             // decoded data do not match the entry's CRC-32
  XR_ENCRYPTED = 0xE0000007u,       // the entry is encrypted
  XR_HEADER_CRC = 0xE0000008u,      // a basic header does not match its CRC-32
  XR_NO_ARCHIVE = 0xE0000009u,      // no archive in the setup file
  XR_CREATE_OUTPUT = 0xE000000Au,   // an output file cannot (or must not) be created
  XR_WRITE = 0xE000000Bu,           // writing, flushing or closing an output file failed
  XR_NO_MEMORY = 0xE000000Cu,       // the decoder's window or the list of outputs cannot be allocated
  XR_METHOD = 0xE000000Du,          // compression method not supported
  XR_FILE_TYPE = 0xE000000Eu,       // file type neither binary nor text
  XR_VERSION = 0xE000000Fu,         // entry needs a newer extractor
  XR_IN_USE = 0xE0000010u,          // a file to be replaced stays in use and cannot wait for a restart
};

// The setup file's bytes as the caller already holds them open: the
// extractor sees bytes [start, start + size) of the source as its whole file
// and reads them through readAt, never by a name that could meanwhile lead
// to another file.
struct SetupSource {
  // Copies up to length bytes from offset (counted from the source's own
  // start, not from start) into buffer; returns how many, 0 at the end or
  // on an error.
  std::size_t (*readAt)(void *context, std::uint64_t offset, void *buffer, std::size_t length);
  void *context;
  std::uint64_t start;
  std::uint64_t size;
};

// Extracts every entry of the archive appended to the file at setupPath into
// destination, which must exist and end in a path separator. Returns XR_OK
// when every entry was written, closed and its CRC-32 matched, otherwise the
// code of the first failure. All or nothing: existing files are replaced
// only once every entry has come out whole, and after a failure the
// destination holds what it held before the call. Not re-entrant.
ExtractResult ExtractArchive(const char *setupPath, const char *destination);
// The same from an open source; XR_OPEN_SETUP when source is null.
ExtractResult ExtractArchiveFrom(const SetupSource *source, const char *destination);

// How ExtractArchive may finish when a file it replaces stays in use (held
// by a running program) after a few seconds of retries. Without a restart,
// the call fails with XR_IN_USE and changes nothing. With it, nothing is
// replaced now either: every staged file is scheduled to replace its old
// one at the next restart, in entry order, and the call returns XR_OK with
// ExtractFinishesAtRestart() true. note, when set, hears what the commit
// retried ("retried"), found in use ("in use") and left to the restart
// ("at restart"), and an old file a failed call could not put back under
// its name ("not restored"), with the file's path.
struct ExtractCommitOptions {
  bool allowRestart;
  void (*note)(const char *what, const char *path);
};
void SetExtractCommitOptions(const ExtractCommitOptions &options);
// After XR_OK from the last call: the new files wait for the next restart.
bool ExtractFinishesAtRestart();

// "XR_CRC" and so on; "OK" for 0, "unknown" for a value outside the table.
const char *ExtractResultName(ExtractResult result);

// One entry as ListArchive reports it.
struct ArchiveEntryInfo {
  const char *name;              // stored name, NUL-terminated
  const char *fileName;          // the part that is extracted (from entryPos on)
  unsigned method;               // compression method
  unsigned fileType;             // 0 binary, 1 text
  unsigned hostOs;               // host system of the archiver
  unsigned flags;                // bit 0: encrypted
  std::uint32_t compressedSize;  // bytes of compressed data
  std::uint32_t fileSize;        // bytes after decoding
  std::uint32_t fileCrc;         // CRC-32 of the decoded data
  std::uint32_t timestamp;       // packed date and time
};

typedef void (*ListEntryFn)(const ArchiveEntryInfo *entry, void *context);

// Walks the archive's headers without decoding or writing anything, calling
// onEntry for each entry header. Returns XR_OK at the end marker, or the
// code of a header that cannot be read.
ExtractResult ListArchive(const char *setupPath, ListEntryFn onEntry, void *context);
ExtractResult ListArchiveFrom(const SetupSource *source, ListEntryFn onEntry, void *context);
