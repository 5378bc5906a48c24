// Finding the archive inside the setup file and reading its headers.
//
// Everything here is read from an untrusted file: sizes, offsets and strings
// are checked against the header buffer before use, and a header that would
// need reading outside it is refused with XR_BAD_HEADER.
#include <cstring>

#include "extract_internal.h"

// Framing of one header:
//   id (2) | basic size N (2) | basic header (N) | CRC-32 of it (4)
//   | extended size E (2) | [extended header (E) | its CRC (4) | next E (2)]...
// N = 0 is the end marker and nothing follows it.

std::int64_t FindArchive() {
  EntryHeader &h = extractState.header;
  std::int64_t p = TellSetupStream();
  std::int64_t end = SetupStreamSize() - 2;
  if (end > arj::ScanLimit) end = arj::ScanLimit;

  while (p < end) {
    // Find the next id pair at or after p. A 0x60 not followed by 0xEA does
    // not consume its neighbour, so 0x60 0x60 0xEA is found at its second byte.
    SeekSetupStream(p);
    std::int64_t q = p;
    unsigned c = ReadArchiveByte();
    for (;;) {
      if (q >= end) return -1;
      unsigned next = ReadArchiveByte();
      if (c == arj::HeaderIdByte0 && next == arj::HeaderIdByte1) break;
      c = next;
      q++;
    }

    unsigned size = ReadWord16();
    if (size <= arj::MaxBasicHeaderSize) {
      std::uint32_t crc = Crc32(0, h.headerBuffer, ReadSetupBlock(h.headerBuffer, size));
      if (crc == ReadWord32()) {
        SeekSetupStream(q);
        return q;
      }
    }
    p = q + 1;
  }
  return -1;
}

unsigned ReadHeaderField16(const unsigned char *buffer, unsigned *cursor) {
  unsigned v = buffer[*cursor] | buffer[*cursor + 1] << 8;
  *cursor += 2;
  return v;
}

std::uint32_t ReadHeaderField32(const unsigned char *buffer, unsigned *cursor) {
  std::uint32_t lo = ReadHeaderField16(buffer, cursor);
  return lo | static_cast<std::uint32_t>(ReadHeaderField16(buffer, cursor)) << 16;
}

void StripParity(char *text) {
  for (; *text; text++) *text = static_cast<char>(*text & 0x7F);
}

// Copies the NUL-terminated string at from (within [from, limit)) into out,
// at most capacity - 1 characters. Returns the offset just past the stored
// terminator. Returns on bad input: 0 when there is none before limit.
static unsigned CopyHeaderString(const unsigned char *buffer, unsigned from, unsigned limit, char *out,
                                 unsigned capacity, unsigned *length) {
  const void *nul = from < limit ? std::memchr(buffer + from, 0, limit - from) : nullptr;
  if (!nul) return 0;
  unsigned n = static_cast<unsigned>(static_cast<const unsigned char *>(nul) - buffer) - from;
  *length = n;
  unsigned kept = n < capacity ? n : capacity - 1;
  std::memcpy(out, buffer + from, kept);
  out[kept] = 0;
  return from + n + 1;
}

int ReadHeader(HeaderKind kind) {
  EntryHeader &h = extractState.header;
  if (ReadWord16() != arj::HeaderId) RaiseExtractError(kind == MainHeader ? XR_NO_ARCHIVE : XR_BAD_HEADER);
  unsigned size = ReadWord16();
  h.basicHeaderSize = static_cast<std::uint16_t>(size);
  if (size == 0) return 0;
  if (size > arj::MaxBasicHeaderSize) RaiseExtractError(XR_BAD_HEADER);

  std::uint32_t crc = Crc32(0, h.headerBuffer, ReadSetupBlock(h.headerBuffer, size));
  if (crc != ReadWord32()) RaiseExtractError(XR_HEADER_CRC);

  const unsigned char *b = h.headerBuffer;
  if (size < arj::FixedHeaderSize) RaiseExtractError(XR_BAD_HEADER);
  h.firstHeaderSize = b[arj::OffFirstHeaderSize];
  h.archiverVersion = b[arj::OffArchiverVersion];
  h.minVersion = b[arj::OffMinVersion];
  h.hostOs = b[arj::OffHostOs];
  h.flags = b[arj::OffFlags];
  h.method = b[arj::OffMethod];
  h.fileType = b[arj::OffFileType];
  unsigned cursor = arj::OffTimestamp;
  h.timestamp = ReadHeaderField32(b, &cursor);
  extractState.compressedLeft = ReadHeaderField32(b, &cursor);
  h.fileSize = static_cast<std::int32_t>(ReadHeaderField32(b, &cursor));
  h.fileCrc = ReadHeaderField32(b, &cursor);
  h.entryPos = static_cast<std::int16_t>(ReadHeaderField16(b, &cursor));
  h.fileMode = static_cast<std::uint16_t>(ReadHeaderField16(b, &cursor));
  h.hostData = static_cast<std::uint16_t>(ReadHeaderField16(b, &cursor));

  // The name must end inside the header and fit its buffer whole: a cut name
  // would extract under a name nobody stored. The comment is never used, so
  // a long one is merely cut.
  unsigned nameLength = 0, commentLength = 0;
  unsigned commentStart = CopyHeaderString(b, h.firstHeaderSize, size, h.name, NameSize, &nameLength);
  if (commentStart == 0 || nameLength >= NameSize) RaiseExtractError(XR_BAD_HEADER);
  if (!CopyHeaderString(b, commentStart, size, h.comment, CommentSize, &commentLength))
    RaiseExtractError(XR_BAD_HEADER);
  if (h.entryPos < 0 || static_cast<unsigned>(h.entryPos) > nameLength) RaiseExtractError(XR_BAD_HEADER);
  if (h.hostOs != arj::HostOsKeepsBit7) {
    StripParity(h.name);
    StripParity(h.comment);
  }

  // Extended headers are skipped unread. Each step moves forward at least
  // four bytes, so a damaged chain ends at the end of the file with XR_EOF.
  for (unsigned ext = ReadWord16(); ext != 0; ext = ReadWord16())
    SeekSetupStream(TellSetupStream() + ext + 4);
  return 1;
}

void SkipEntryData() { SeekSetupStream(TellSetupStream() + extractState.compressedLeft); }

ExtractResult CheckEntry() {
  const EntryHeader &h = extractState.header;
  ExtractResult refusal = XR_OK;
  if (h.minVersion > arj::MaxExtractorVersion)
    refusal = XR_VERSION;
  else if (h.flags & arj::FlagEncrypted)
    refusal = XR_ENCRYPTED;
  else if (h.method > 4 || (h.method == 4 && h.archiverVersion == 1))
    refusal = XR_METHOD;
  else if (h.fileType != arj::FileTypeBinary && h.fileType != arj::FileTypeText)
    refusal = XR_FILE_TYPE;
  if (refusal != XR_OK) SkipEntryData();
  return refusal;
}
