// The extraction driver: the one entry point, the error model, the setup
// file's buffered input and the word readers the header code builds on.
//
// Errors travel by longjmp from RaiseExtractError to the innermost RunGuarded,
// not by C++ exceptions: the setup stub cannot carry the exception runtime.
// Nothing between a raise and its guard owns a resource of its own; every
// stream and the window hang off the state records, and ExtractArchive
// releases them in one place on every path.
#include <cstdlib>
#include <cstring>

#include "extract_internal.h"

ExtractState extractState;
DecoderState decoderState;

void RaiseExtractError(ExtractResult code) {
  extractState.raised.code = code;
  if (!extractState.errorJump) std::abort();  // a raise outside any guard is a bug
  std::longjmp(*extractState.errorJump, 1);
}

ExtractResult RunGuarded(GuardedFn body, void *context) {
  std::jmp_buf jump;
  std::jmp_buf *outer = extractState.errorJump;
  extractState.errorJump = &jump;
  if (setjmp(jump) != 0) {
    extractState.errorJump = outer;
    return extractState.raised.code;
  }
  body(context);
  extractState.errorJump = outer;
  return XR_OK;
}

unsigned failAllocationAt;

void *AllocOrRaise(std::size_t size) {
  if (failAllocationAt && --failAllocationAt == 0) RaiseExtractError(XR_NO_MEMORY);
  // Zero-filled, so a match that reaches before an entry's first byte copies
  // zeros and the same archive always extracts to the same bytes.
  void *block = std::calloc(1, size);
  if (!block) RaiseExtractError(XR_NO_MEMORY);
  return block;
}

// ---- Setup stream -------------------------------------------------------

static int SeekFile(std::FILE *file, std::int64_t offset, int whence) {
#ifdef _WIN32
  return _fseeki64(file, offset, whence);
#else
  return fseeko(file, static_cast<off_t>(offset), whence);
#endif
}

static std::int64_t TellFile(std::FILE *file) {
#ifdef _WIN32
  return _ftelli64(file);
#else
  return ftello(file);
#endif
}

bool OpenSetupStream(const char *path) {
  ExtractState &s = extractState;
  s.setupStream = path ? std::fopen(path, "rb") : nullptr;
  s.inputPos = s.inputEnd = 0;
  s.inputOrigin = 0;
  return s.setupStream != nullptr;
}

void CloseSetupStream() {
  if (extractState.setupStream) std::fclose(extractState.setupStream);
  extractState.setupStream = nullptr;
}

// Invariant: the file's own position is inputOrigin + inputEnd.
static bool FillInput() {
  ExtractState &s = extractState;
  s.inputOrigin += s.inputEnd;
  s.inputPos = s.inputEnd = 0;
  s.inputEnd = static_cast<unsigned>(std::fread(s.inputBuffer, 1, InputBufferSize, s.setupStream));
  return s.inputEnd != 0;
}

int ReadSetupByte() {
  ExtractState &s = extractState;
  if (s.inputPos == s.inputEnd && !FillInput()) return -1;
  return s.inputBuffer[s.inputPos++];
}

std::size_t ReadSetupBlock(void *buffer, std::size_t length) {
  ExtractState &s = extractState;
  unsigned char *out = static_cast<unsigned char *>(buffer);
  std::size_t done = 0;
  while (done < length) {
    if (s.inputPos == s.inputEnd && !FillInput()) break;
    std::size_t n = s.inputEnd - s.inputPos;
    if (n > length - done) n = length - done;
    std::memcpy(out + done, s.inputBuffer + s.inputPos, n);
    s.inputPos += static_cast<unsigned>(n);
    done += n;
  }
  return done;
}

void SeekSetupStream(std::int64_t offset) {
  ExtractState &s = extractState;
  if (offset >= s.inputOrigin && offset <= s.inputOrigin + s.inputEnd) {
    s.inputPos = static_cast<unsigned>(offset - s.inputOrigin);
    return;
  }
  // A failed seek (a negative or absurd target) leaves the stream at its end,
  // so the next read reports end of file instead of reading stale bytes.
  if (offset < 0 || SeekFile(s.setupStream, offset, SEEK_SET) != 0) {
    SeekFile(s.setupStream, 0, SEEK_END);
    offset = TellFile(s.setupStream);
  }
  s.inputOrigin = offset;
  s.inputPos = s.inputEnd = 0;
}

std::int64_t TellSetupStream() { return extractState.inputOrigin + extractState.inputPos; }

std::int64_t SetupStreamSize() {
  ExtractState &s = extractState;
  std::int64_t here = TellSetupStream();
  SeekFile(s.setupStream, 0, SEEK_END);
  std::int64_t size = TellFile(s.setupStream);
  s.inputOrigin = size;
  s.inputPos = s.inputEnd = 0;
  SeekSetupStream(here);
  return size;
}

unsigned ReadArchiveByte() {
  int c = ReadSetupByte();
  if (c < 0) RaiseExtractError(XR_EOF);
  return static_cast<unsigned>(c);
}

unsigned ReadWord16() {
  unsigned b0 = ReadArchiveByte();
  unsigned b1 = ReadArchiveByte();
  return b0 | b1 << 8;
}

std::uint32_t ReadWord32() {
  std::uint32_t lo = ReadWord16();
  std::uint32_t hi = ReadWord16();
  return lo | hi << 16;
}

// ---- The driver ---------------------------------------------------------

// Finds the archive and reads its main header, leaving the stream at the
// first entry header. XR_OK, or the code that ends the walk.
static ExtractResult OpenArchive() {
  std::int64_t start = FindArchive();
  if (start < 0) return XR_NO_ARCHIVE;
  SeekSetupStream(start);
  return ReadHeader(MainHeader) ? XR_OK : XR_NO_MAIN_HEADER;
}

static void ExtractAll(void *context) {
  ExtractResult &result = *static_cast<ExtractResult *>(context);
  result = OpenArchive();
  if (result != XR_OK) return;
  while (ReadHeader(EntryHeaderKind)) {
    result = ExtractEntry();
    if (result != XR_OK) return;
  }
}

// Closes whatever a finished or failed extraction left open.
static void ReleaseAll() {
  CloseOutputStream();
  ReleaseWindow();
  CloseSetupStream();
}

ExtractResult ExtractArchive(const char *setupPath, const char *destination) {
  // Tables carry over from block to block and entry to entry, as the format
  // allows, but never from one call to the next: a damaged archive that
  // decodes with a table it never built must give the same result every time.
  ClearDecodeTables();
  extractState.nameCounter = 0;
  if (!destination || std::strlen(destination) >= PathSize) return XR_CREATE_OUTPUT;
  std::strcpy(extractState.destination, destination);
  if (!OpenSetupStream(setupPath)) return XR_OPEN_SETUP;

  ExtractResult result = XR_OK;
  ExtractResult raised = RunGuarded(ExtractAll, &result);
  if (raised != XR_OK) result = raised;
  ReleaseAll();
  // All or nothing: the outputs replace what the destination held only when
  // every entry came out whole; otherwise the destination is left as found.
  if (result == XR_OK) return CommitOutputs();
  DiscardOutputs();
  return result;
}

struct ListContext {
  ListEntryFn onEntry;
  void *context;
  ExtractResult result;
};

static void ListAll(void *context) {
  ListContext &list = *static_cast<ListContext *>(context);
  list.result = OpenArchive();
  if (list.result != XR_OK) return;
  while (ReadHeader(EntryHeaderKind)) {
    const EntryHeader &h = extractState.header;
    ArchiveEntryInfo info;
    info.name = h.name;
    info.fileName = h.name + h.entryPos;
    info.method = h.method;
    info.fileType = h.fileType;
    info.hostOs = h.hostOs;
    info.flags = h.flags;
    info.compressedSize = extractState.compressedLeft;
    info.fileSize = static_cast<std::uint32_t>(h.fileSize);
    info.fileCrc = h.fileCrc;
    info.timestamp = h.timestamp;
    if (list.onEntry) list.onEntry(&info, list.context);
    SkipEntryData();
  }
}

ExtractResult ListArchive(const char *setupPath, ListEntryFn onEntry, void *context) {
  if (!OpenSetupStream(setupPath)) return XR_OPEN_SETUP;
  ListContext list = {onEntry, context, XR_OK};
  ExtractResult raised = RunGuarded(ListAll, &list);
  CloseSetupStream();
  return raised != XR_OK ? raised : list.result;
}

const char *ExtractResultName(ExtractResult result) {
  static const char *const names[] = {
      "OK",           "XR_NO_MAIN_HEADER", "XR_BAD_HEADER", "XR_BAD_TABLE",  "XR_OPEN_SETUP",    "XR_EOF",
      "XR_CRC",       "XR_ENCRYPTED",      "XR_HEADER_CRC", "XR_NO_ARCHIVE", "XR_CREATE_OUTPUT", "XR_WRITE",
      "XR_NO_MEMORY", "XR_METHOD",         "XR_FILE_TYPE",  "XR_VERSION",
  };
  if (result == XR_OK) return names[0];
  if (result >= XR_NO_MAIN_HEADER && result <= XR_VERSION) return names[result - 0xE0000000u];
  return "unknown";
}
