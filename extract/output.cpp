// Extracting one entry: checks, the output file, the decoder run and the
// CRC comparison; and the writer every decoded byte leaves through.
//
// Output is always opened in binary mode and text entries get CR LF from the
// writer below, so every platform produces the same bytes.
#include <cstring>

#include "extract_internal.h"

static bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Device names that Windows resolves in any directory, with any extension.
static bool IsDeviceName(const char *component, std::size_t length) {
  static const char *const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  std::size_t base = 0;
  while (base < length && component[base] != '.') base++;
  char upper[8];
  if (base == 0 || base >= sizeof upper) return false;
  for (std::size_t i = 0; i < base; i++) {
    char c = component[i];
    upper[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  upper[base] = 0;
  for (const char *device : devices)
    if (std::strcmp(upper, device) == 0) return true;
  return base == 4 && (std::strncmp(upper, "COM", 3) == 0 || std::strncmp(upper, "LPT", 3) == 0) &&
         upper[3] >= '1' && upper[3] <= '9';
}

// A stored name is untrusted: it must stay below the destination. Empty,
// absolute, drive-qualified and ".." names are refused before anything is
// created; so are device names, which would write somewhere else entirely.
ExtractResult BuildOutputPath(const char *destination, const char *fileName, char *path) {
  if (!fileName[0] || IsSeparator(fileName[0]) || std::strchr(fileName, ':')) return XR_CREATE_OUTPUT;
  for (const char *part = fileName; *part;) {
    std::size_t n = 0;
    while (part[n] && !IsSeparator(part[n])) n++;
    if ((n == 2 && part[0] == '.' && part[1] == '.') || IsDeviceName(part, n)) return XR_CREATE_OUTPUT;
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

ExtractResult ExtractEntry() {
  ExtractResult refusal = CheckEntry();
  if (refusal != XR_OK) return refusal;

  const EntryHeader &h = extractState.header;
  char path[PathSize];
  if (BuildOutputPath(extractState.destination, h.name + h.entryPos, path) != XR_OK ||
      !(extractState.outputStream = std::fopen(path, "wb"))) {
    SkipEntryData();
    return XR_CREATE_OUTPUT;
  }
  extractState.runningCrc = 0xFFFFFFFFu;

  if (h.method >= 1 && h.method <= 3) {
    DecodeMethod123();
    CloseOutputStream();
    return ~extractState.runningCrc != h.fileCrc ? XR_CRC : XR_OK;
  }
  // Stored and method-4 entries are not supported: the empty file stays.
  CloseOutputStream();
  SkipEntryData();
  return XR_METHOD;
}

void WriteDecoded(const unsigned char *block, std::size_t length) {
  const EntryHeader &h = extractState.header;
  std::FILE *out = extractState.outputStream;
  Crc32Update(block, length);

  if ((h.fileType & 1) == arj::FileTypeBinary) {
    if (std::fwrite(block, 1, length, out) != length) RaiseExtractError(XR_WRITE);
    return;
  }
  // Text: bit 7 cleared unless the archiver's host keeps it, LF widened to
  // CR LF. The CRC above covers the data as decoded, before either change.
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
