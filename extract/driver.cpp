// The extraction driver: the one entry point, the error model, the setup
// file's buffered input and the word readers the header code builds on.
//
// Errors travel by longjmp from RaiseExtractError to the innermost RunGuarded,
// not by C++ exceptions: the setup stub cannot carry the exception runtime.
// Nothing between a raise and its guard owns a resource of its own; every
// stream and the window hang off the state records, and ExtractArchive
// releases them in one place on every path.
#include <cstdint>
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

void *AllocOrRaise(std::size_t size, bool zeroed) {
  if (failAllocationAt && --failAllocationAt == 0) RaiseExtractError(XR_NO_MEMORY);
  void *block = zeroed ? std::calloc(1, size) : std::malloc(size);
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

static std::size_t ReadFileAt(void *context, std::uint64_t offset, void *buffer, std::size_t length) {
  std::FILE *file = static_cast<std::FILE *>(context);
  if (offset > INT64_MAX || SeekFile(file, static_cast<std::int64_t>(offset), SEEK_SET) != 0) return 0;
  return std::fread(buffer, 1, length, file);
}

static void StartInput() {
  ExtractState &s = extractState;
  s.inputPos = s.inputEnd = 0;
  s.inputOrigin = 0;
}

bool OpenSetupStream(const char *path) {
  ExtractState &s = extractState;
  StartInput();
  s.setupFile = path ? std::fopen(path, "rb") : nullptr;
  if (!s.setupFile) return false;
  std::int64_t size = SeekFile(s.setupFile, 0, SEEK_END) == 0 ? TellFile(s.setupFile) : -1;
  if (size < 0) {
    CloseSetupStream();
    return false;
  }
  s.source = SetupSource{ReadFileAt, s.setupFile, 0, static_cast<std::uint64_t>(size)};
  return true;
}

bool UseSetupSource(const SetupSource *source) {
  ExtractState &s = extractState;
  StartInput();
  s.setupFile = nullptr;
  // The buffer's offsets are signed: a source beyond that reads as absent.
  if (!source || !source->readAt || source->size > INT64_MAX || source->start > UINT64_MAX - source->size)
    return false;
  s.source = *source;
  return true;
}

void CloseSetupStream() {
  if (extractState.setupFile) std::fclose(extractState.setupFile);
  extractState.setupFile = nullptr;
  extractState.source = SetupSource{};
}

// The buffer holds the source's bytes from inputOrigin on; nothing past the
// source's size is ever asked for.
static bool FillInput() {
  ExtractState &s = extractState;
  s.inputOrigin += s.inputEnd;
  s.inputPos = s.inputEnd = 0;
  std::uint64_t here = static_cast<std::uint64_t>(s.inputOrigin);
  if (!s.source.readAt || here >= s.source.size) return false;
  std::uint64_t left = s.source.size - here;
  std::size_t want = left < InputBufferSize ? static_cast<std::size_t>(left) : InputBufferSize;
  std::size_t got = s.source.readAt(s.source.context, s.source.start + here, s.inputBuffer, want);
  s.inputEnd = static_cast<unsigned>(got > want ? 0 : got);
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
  // A target before the start or past the end (a damaged size) leaves the
  // stream at its end, so the next read reports end of file.
  std::int64_t size = SetupStreamSize();
  if (offset < 0 || offset > size) offset = size;
  s.inputOrigin = offset;
  s.inputPos = s.inputEnd = 0;
}

std::int64_t TellSetupStream() { return extractState.inputOrigin + extractState.inputPos; }

std::int64_t SetupStreamSize() { return static_cast<std::int64_t>(extractState.source.size); }

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

static ExtractResult ExtractOpened(const char *destination);

ExtractResult ExtractArchive(const char *setupPath, const char *destination) {
  if (!destination || std::strlen(destination) >= PathSize) return XR_CREATE_OUTPUT;
  if (!OpenSetupStream(setupPath)) return XR_OPEN_SETUP;
  return ExtractOpened(destination);
}

ExtractResult ExtractArchiveFrom(const SetupSource *source, const char *destination) {
  if (!destination || std::strlen(destination) >= PathSize) return XR_CREATE_OUTPUT;
  if (!UseSetupSource(source)) return XR_OPEN_SETUP;
  return ExtractOpened(destination);
}

// The stream is open; closed here on every path.
static ExtractResult ExtractOpened(const char *destination) {
  // Tables carry over from block to block and entry to entry, as the format
  // allows, but never from one call to the next: a damaged archive that
  // decodes with a table it never built must give the same result every time.
  ClearDecodeTables();
  extractState.nameCounter = 0;
  std::strcpy(extractState.destination, destination);

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

static ExtractResult ListOpened(ListEntryFn onEntry, void *context);

ExtractResult ListArchive(const char *setupPath, ListEntryFn onEntry, void *context) {
  if (!OpenSetupStream(setupPath)) return XR_OPEN_SETUP;
  return ListOpened(onEntry, context);
}

ExtractResult ListArchiveFrom(const SetupSource *source, ListEntryFn onEntry, void *context) {
  if (!UseSetupSource(source)) return XR_OPEN_SETUP;
  return ListOpened(onEntry, context);
}

static ExtractResult ListOpened(ListEntryFn onEntry, void *context) {
  ListContext list = {onEntry, context, XR_OK};
  ExtractResult raised = RunGuarded(ListAll, &list);
  CloseSetupStream();
  return raised != XR_OK ? raised : list.result;
}

const char *ExtractResultName(ExtractResult result) {
  static const char *const names[] = {
      "OK",           "XR_NO_MAIN_HEADER", "XR_BAD_HEADER", "XR_BAD_TABLE",  "XR_OPEN_SETUP",    "XR_EOF",
      "XR_CRC",       "XR_ENCRYPTED",      "XR_HEADER_CRC", "XR_NO_ARCHIVE", "XR_CREATE_OUTPUT", "XR_WRITE",
      "XR_NO_MEMORY", "XR_METHOD",         "XR_FILE_TYPE",  "XR_VERSION",    "XR_IN_USE",
  };
  if (result == XR_OK) return names[0];
  if (result >= XR_NO_MAIN_HEADER && result <= XR_IN_USE) return names[result - 0xE0000000u];
  return "unknown";
}
