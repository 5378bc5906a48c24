// Extracting one entry: checks, the output file, the decoder run and the
// CRC comparison; and the writer every decoded byte leaves through.
//
// Output is always opened in binary mode and text entries get CR LF from the
// writer below, so every platform produces the same bytes.
#include <cstdio>
#include <cstring>

#include "devicename.h"
#include "extract_internal.h"

// A stored name is untrusted: it must stay below the destination. Empty,
// absolute, drive-qualified and ".." names are refused before anything is
// created; so are device names, which would write somewhere else entirely.
ExtractResult BuildOutputPath(const char *destination, const char *fileName, char *path) {
  if (!fileName[0] || IsPathSeparator(fileName[0]) || std::strchr(fileName, ':')) return XR_CREATE_OUTPUT;
  for (const char *part = fileName; *part;) {
    std::size_t n = 0;
    while (part[n] && !IsPathSeparator(part[n])) n++;
    if ((n == 2 && part[0] == '.' && part[1] == '.') || arj::IsWindowsDeviceName(part, n))
      return XR_CREATE_OUTPUT;
    part += n;
    if (*part) part++;
  }

  std::size_t destLength = std::strlen(destination);
  std::size_t nameLength = std::strlen(fileName);
  if (destLength + nameLength >= PathSize) return XR_CREATE_OUTPUT;
  std::memcpy(path, destination, destLength);
  std::memcpy(path + destLength, fileName, nameLength + 1);
#ifndef _WIN32
  // Stored names use backslashes; here the same name must reach the same
  // subdirectory as on Windows.
  for (char *c = path + destLength; *c; c++)
    if (*c == '\\') *c = '/';
#endif
  return XR_OK;
}

void CloseOutputStream() {
  if (extractState.outputStream) std::fclose(extractState.outputStream);
  extractState.outputStream = nullptr;
}

// Flushes and closes the entry's file. A full disk often shows only here:
// the last buffered bytes reach the file system at the flush or the close.
static bool FinishOutput() {
  std::FILE *out = extractState.outputStream;
  extractState.outputStream = nullptr;
  // Through to the disk before it may take an old file's name: after a
  // power cut the name must not hold data that never got there.
  bool flushed = std::fflush(out) == 0 && !std::ferror(out) && SyncToDisk(out);
  return std::fclose(out) == 0 && flushed;
}

// ---- One entry ----------------------------------------------------------

ExtractResult ExtractEntry() {
  ExtractResult refusal = CheckEntry();
  if (refusal != XR_OK) return refusal;

  const EntryHeader &h = extractState.header;
  char path[PathSize];
  if (BuildOutputPath(extractState.destination, h.name + h.entryPos, path) != XR_OK) {
    SkipEntryData();
    return XR_CREATE_OUTPUT;
  }
  bool decodable = h.method >= 1 && h.method <= 3;
  // The size is a signed count: from 2 GiB up it is negative and the decoder
  // would stop at once, so such an entry could never come out whole.
  if (decodable && h.fileSize < 0) {
    SkipEntryData();
    return XR_BAD_HEADER;
  }
  if (StageOutput(path) != XR_OK) {
    SkipEntryData();
    return XR_CREATE_OUTPUT;
  }
  if (decodable) {
    ReserveFileSpace(extractState.outputStream, h.fileSize);
    std::uint32_t crc = DecodeMethod123();
    if (!FinishOutput()) return XR_WRITE;
    return crc != h.fileCrc ? XR_CRC : XR_OK;
  }
  // Stored and method-4 entries are not supported.
  CloseOutputStream();
  SkipEntryData();
  return XR_METHOD;
}

void WriteDecoded(const unsigned char *block, std::size_t length) {
  const EntryHeader &h = extractState.header;
  std::FILE *out = extractState.outputStream;

  if ((h.fileType & 1) == arj::FileTypeBinary) {
    if (std::fwrite(block, 1, length, out) != length) RaiseExtractError(XR_WRITE);
    return;
  }
  // Text: bit 7 cleared unless the archiver's host keeps it, LF widened to
  // CR LF. The entry's CRC covers the data as decoded, before either change.
  unsigned char mask = h.hostOs == arj::HostOsKeepsBit7 ? 0xFF : 0x7F;
  unsigned char converted[2 * 4096];
  for (std::size_t done = 0; done < length;) {
    std::size_t n = 0;
    for (; done < length && n < sizeof converted - 1; done++) {
      unsigned char c = block[done] & mask;
      if (c == '\n') converted[n++] = '\r';
      converted[n++] = c;
    }
    if (std::fwrite(converted, 1, n, out) != n) RaiseExtractError(XR_WRITE);
  }
}
