// State records and internal operations of the extraction subsystem. Only
// extract/ and the tests include this header; the setup front end sees
// extract.h alone.
#pragma once

#include <csetjmp>
#include <cstdint>
#include <cstdio>

#include "crc32.h"
#include "extract.h"
#include "format.h"

constexpr unsigned InputBufferSize = 1u << 16;
constexpr unsigned NameSize = 512;      // stored name with its NUL
constexpr unsigned CommentSize = 2048;  // stored comment with its NUL
constexpr unsigned PathSize = 512;      // destination, output path
constexpr unsigned NodeCount = 2 * arj::LiteralCount - 1;

// What a raise carries from deep inside the readers, the writer or the
// decoder up to the guard that ends the extraction: the code and nothing else.
struct ExtractError {
  ExtractResult code;
};

// Fields of the header last read. The main header lands here too and is
// overwritten by the first entry header.
struct EntryHeader {
  std::uint16_t basicHeaderSize;                        // N of the last header, 0 at an end marker
  unsigned char headerBuffer[arj::MaxBasicHeaderSize];  // the basic header bytes
  unsigned firstHeaderSize;                             // offset of the name in the basic header
  unsigned archiverVersion;
  unsigned minVersion;
  unsigned hostOs;
  unsigned flags;
  std::uint16_t method;
  std::uint32_t fileType;
  std::uint32_t timestamp;    // packed date and time, never applied
  std::int32_t fileSize;      // bytes after decoding
  std::uint32_t fileCrc;      // CRC-32 of the decoded data
  std::int16_t entryPos;      // start of the file-name part within name
  std::uint16_t fileMode;     // never applied
  std::uint16_t hostData;     // never used
  char name[NameSize];        // stored name, NUL-terminated
  char comment[CommentSize];  // stored comment, cut to fit; never used
};

// One entry's output, from its creation to the end of the call. A name that
// did not exist is created and written in place; over an existing one the
// data go to tempPath beside it, and replace it only when the whole archive
// has extracted, the old file kept under backupPath until the end.
struct StagedOutput {
  char *finalPath;   // where the entry belongs; the block holding all three paths
  char *tempPath;    // the entry's data until the commit; empty when created in place
  char *backupPath;  // the old file during the commit; empty when there is none
  unsigned step;     // how far the commit got with this output
};

// The one running extraction.
struct ExtractState {
  char destination[PathSize];  // ends in a separator
  SetupSource source;          // what is read, from the call's start to its end
  std::FILE *setupFile;        // behind source when the call opened the file by name
  std::FILE *outputStream;     // open while one entry is written
  StagedOutput *staged;        // every output of this call, in entry order
  unsigned stagedCount;
  unsigned stagedCapacity;
  unsigned nameCounter;  // last number tried for a temporary name
  EntryHeader header;
  std::uint32_t compressedLeft;  // compressed bytes the bit reader may still take

  // Read buffer over the source: inputBuffer[inputPos..inputEnd) holds the
  // file's bytes from offset inputOrigin + inputPos on.
  unsigned char inputBuffer[InputBufferSize];
  unsigned inputPos;
  unsigned inputEnd;
  std::int64_t inputOrigin;  // file offset of inputBuffer[0]

  std::jmp_buf *errorJump;  // where RaiseExtractError lands; null outside a guard
  ExtractError raised;      // what the last raise carried
};

// The decoder's one record. The tables and node arrays keep their contents
// from block to block and from entry to entry within a call (each build
// overwrites only the entries it sets); ExtractArchive clears them at the
// start of every call.
struct DecoderState {
  std::uint64_t bitReservoir;         // next bitsHeld bits, earliest at bit 63, zeros below
  unsigned bitsHeld;                  // valid bits in bitReservoir, at least 16 once started
  std::uint64_t bitsConsumed;         // bits removed since StartBitReader
  std::uint32_t entryCompressedSize;  // compressedLeft when the reader started
  std::uint32_t bytesTaken;           // bytes taken from the entry so far (ahead of need)
  std::uint32_t bytesRead;            // of those, bytes the file supplied (the rest read as 0xFF)

  std::uint16_t literalTable[1u << arj::LiteralTableBits];
  std::uint8_t literalLengths[arj::LiteralCount];
  std::uint16_t auxTable[1u << arj::AuxTableBits];
  std::uint8_t auxLengths[arj::PreCodeCount];
  std::uint16_t leftChild[NodeCount];   // child on a 0 bit: symbol or node number
  std::uint16_t rightChild[NodeCount];  // child on a 1 bit

  // What a lookup in literalTable and auxTable gives, resolved once per block
  // for the decoding loop: see decode.cpp.
  std::uint32_t literalEntries[1u << arj::LiteralTableBits];
  bool literalEntriesFilled;  // by the literal/length code's build, for the current block
  std::uint32_t distanceEntries[1u << arj::AuxTableBits];

  std::uint32_t blockLeft;       // symbols left in the block, 0 = header due
  unsigned char *slidingWindow;  // output buffer with history while an entry is decoded
};
extern ExtractState extractState;
extern DecoderState decoderState;

// Errors: a raise jumps to the innermost guard, which returns the code.
// Every function below that reads archive bytes says what bad input does
// to it: what it raises, or what it returns instead.
[[noreturn]] void RaiseExtractError(ExtractResult code);
typedef void (*GuardedFn)(void *context);
// Runs body; returns XR_OK, or the code raised inside it. The guard releases
// nothing itself: callers clean up through the state records.
ExtractResult RunGuarded(GuardedFn body, void *context);
// Zero-filled unless told otherwise. Raises: XR_NO_MEMORY.
void *AllocOrRaise(std::size_t size, bool zeroed = true);
// Tests: when non-zero, counts allocations down and fails the one that
// reaches zero, as if memory had run out.
extern unsigned failAllocationAt;

// Setup stream access (buffered).
bool OpenSetupStream(const char *path);          // by name: the file's whole length
bool UseSetupSource(const SetupSource *source);  // an open source, left open at the close
void CloseSetupStream();
// Returns on bad input: -1 at the end of the file or on a read error.
int ReadSetupByte();  // 0..255
// Returns on bad input: fewer bytes than length, the count read.
std::size_t ReadSetupBlock(void *buffer, std::size_t length);
// From the start of the file. Returns on bad input: a target the file cannot
// reach leaves the stream at its end (the next read finds end of file).
void SeekSetupStream(std::int64_t offset);
std::int64_t TellSetupStream();
std::int64_t SetupStreamSize();
// The words are little-endian. Raises: XR_EOF where the file ends first.
unsigned ReadArchiveByte();
unsigned ReadWord16();
std::uint32_t ReadWord32();

// Headers.
// The position of the main header: the first id pair followed by a basic
// header that matches its CRC. Returns on bad input: -1 when there is none
// before the scan limit. Raises: XR_EOF when a candidate header runs past
// the end of the file.
std::int64_t FindArchive();
// Little-endian fields of the header buffer at a cursor that advances.
// Checks nothing: ReadHeader keeps the cursor inside the fixed fields.
unsigned ReadHeaderField16(const unsigned char *buffer, unsigned *cursor);
std::uint32_t ReadHeaderField32(const unsigned char *buffer, unsigned *cursor);
enum HeaderKind { MainHeader, EntryHeaderKind };
// 0 at an end marker, 1 after a header. Raises: XR_NO_ARCHIVE (main header)
// or XR_BAD_HEADER (entry) without the id; XR_BAD_HEADER for a size, name,
// comment or entryPos that does not fit; XR_HEADER_CRC; XR_EOF.
int ReadHeader(HeaderKind kind);
void StripParity(char *text);
// Returns on bad input: XR_VERSION, XR_ENCRYPTED, XR_METHOD or XR_FILE_TYPE,
// in that order of precedence, the entry's data skipped.
ExtractResult CheckEntry();
// Returns on bad input: a compressed size past the file's end leaves the
// stream at its end.
void SkipEntryData();

inline bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

// Entry output.
// Returns on bad input: what CheckEntry returns; XR_CREATE_OUTPUT,
// XR_BAD_HEADER (a size from 2 GiB), XR_METHOD, XR_WRITE or XR_CRC.
// Raises: what StageOutput and DecodeMethod123 raise.
ExtractResult ExtractEntry();
// Raises: XR_WRITE.
void WriteDecoded(const unsigned char *block, std::size_t length);
// The output path of the current entry. Returns on bad input:
// XR_CREATE_OUTPUT when the name would leave the destination or the path
// does not fit.
ExtractResult BuildOutputPath(const char *destination, const char *fileName, char *path);
void CloseOutputStream();  // unchecked: for failure paths

// Staging (staging.cpp).
// Opens the entry's output file as extractState.outputStream and records it.
// Returns on bad input: XR_CREATE_OUTPUT when the name can be neither
// created nor replaced. Raises: XR_NO_MEMORY.
ExtractResult StageOutput(const char *finalPath);
// Every output of the call: moved over the final names when the call
// succeeded, or removed with the old files put back. XR_OK, or
// XR_CREATE_OUTPUT when a final name could not be replaced after all.
ExtractResult CommitOutputs();
void DiscardOutputs();

// File operations beyond the C library (platform.cpp).
enum CreateOutcome { Created, NameTaken, CannotCreate };
std::FILE *CreateNewFile(const char *path, CreateOutcome *outcome);  // never opens an existing name
// Whether an existing name may be replaced right now. FileBusy: another
// process holds it (a sharing violation or access denial, on Windows only),
// which may pass.
enum FileAccess { FileFree, FileBusy, FileRefused };
FileAccess CheckReplaceable(const char *path);
enum MoveOutcome { Moved, SourceMissing, MoveFailed, MoveBusy };
MoveOutcome MoveReplacing(const char *from, const char *to);
enum LinkOutcome { Linked, LinkNameTaken, LinkSourceMissing, LinkUnsupported };
LinkOutcome LinkNewName(const char *existing, const char *newName);  // a second name, never replacing one
// Asks the file system for room for size bytes without changing the file's
// size. Advice: where it cannot, or the disk is full, the writes find out.
void ReserveFileSpace(std::FILE *file, std::int64_t size);
// Flushes the file's written data through to the disk. False when the disk refused.
bool SyncToDisk(std::FILE *file);
// Asks the system to move from over to at its next restart, replacing it.
// False where it cannot (no rights, no such facility).
bool ScheduleAtRestart(const char *from, const char *to);
unsigned long MillisecondsNow();  // a monotonic clock; wraps
void PauseMilliseconds(unsigned ms);

// ---- The commit's decisions (staging.cpp), free of any system call.

// A busy file is tried again for this long before it counts as in use.
constexpr unsigned BusyRetryWindowMs = 3000;
enum RetryDecision { GoOn, TryAgain, GiveUpInUse, GiveUpRefused };
// What to do after an attempt found the file as access says, elapsedMs
// after the first attempt on it.
RetryDecision DecideRetry(FileAccess access, unsigned long elapsedMs);
// Pause before try number attempt (1 for the first retry): short at first
// for a scanner's brief look, doubling up to a cap.
unsigned RetryPauseMs(unsigned attempt);
enum CommitPlan { ReplaceNow, ReplaceAtRestart, FailInUse };
// Of the files to replace, inUse stayed in use after the retries.
CommitPlan DecideCommit(unsigned inUse, bool allowRestart);
// Tests: when set, LinkNewName answers as a file system without hard links
// does (FAT32, exFAT, some network shares), so the commit takes its other way.
extern bool simulateNoHardLinks;

// Bit reader and code tables. The reader raises nothing: past the entry's
// compressed bytes the stream reads as zeros, and bytes the file cannot
// supply read as 0xFF.
void StartBitReader();
void RefillBits();     // tops bitReservoir up to more than 56 bits
void SyncBitReader();  // gives back bytes taken ahead of need
// Raises: XR_BAD_TABLE for lengths that are no usable code. With loopEntries,
// also fills those as the decoding loop reads them (symbol << 8 | length, or
// LoopEntryNeedsWalk for a slot into the tree) where the lengths allow it
// (see tables.cpp); returns whether it did.
constexpr std::uint32_t LoopEntryNeedsWalk = 0x80000000u;
bool BuildDecodeTable(unsigned count, const std::uint8_t *lengths, unsigned tableBits, std::uint16_t *table,
                      std::uint32_t *loopEntries = nullptr);
void ClearDecodeTables();  // back to the all-zero start state (tests)

// The stream's next 16 bits, the earliest at bit 15: the top of the
// reservoir, which holds at least 16 bits or the rest of the entry.
inline unsigned PeekBits16() { return static_cast<unsigned>(decoderState.bitReservoir >> 48); }

// Removes the first n bits (0 to 32) of the stream.
inline void ConsumeBits(unsigned n) {
  DecoderState &d = decoderState;
  if (d.bitsHeld < n + 16) RefillBits();
  d.bitsConsumed += n;
  d.bitReservoir <<= n;
  d.bitsHeld -= n;
}

// The first n bits (0 to 16) as a number, removed. Raises nothing.
inline unsigned TakeBits(unsigned n) {
  unsigned v = PeekBits16() >> (16 - n);
  ConsumeBits(n);
  return v;
}

// The symbol whose code starts bits16 (the stream's next 16 bits, earliest
// at bit 15). A valid code reaches its symbol within 16 - tableBits tree
// steps; tables left over from earlier blocks can lead anywhere, so the walk
// is bounded. Raises: XR_BAD_TABLE for a longer walk or one that leaves the
// node arrays.
inline unsigned ResolveCode(unsigned bits16, const std::uint16_t *table, unsigned tableBits, unsigned count) {
  const DecoderState &d = decoderState;
  unsigned e = table[bits16 >> (16 - tableBits)];
  if (e >= count) {
    unsigned bit = 1u << (15 - tableBits);
    for (unsigned steps = 0; e >= count; steps++) {
      if (steps == 16 - tableBits || e >= NodeCount) RaiseExtractError(XR_BAD_TABLE);
      e = (bits16 & bit) ? d.rightChild[e] : d.leftChild[e];
      bit >>= 1;
    }
  }
  return e;
}

// Decodes the symbol whose code starts the stream and removes exactly its
// bits: the symbol's own length, whatever the walk took. Raises: what
// ResolveCode raises.
inline unsigned LookupCode(const std::uint16_t *table, unsigned tableBits, unsigned count,
                           const std::uint8_t *lengths) {
  unsigned e = ResolveCode(PeekBits16(), table, tableBits, count);
  ConsumeBits(lengths[e]);
  return e;
}

// The decoding loop.
// Decodes the current entry to exactly its size through WriteDecoded;
// returns the CRC-32 of those bytes. Raises: XR_NO_MEMORY for the window,
// XR_BAD_TABLE (codes, tree walks, distances beyond the window), XR_WRITE.
std::uint32_t DecodeMethod123();
// The decoded bytes it hands to WriteDecoded at once, sixteen windows, but
// for an entry's last ones and the whole windows a failing entry leaves.
constexpr std::size_t DecodeAreaBytes = 16 * std::size_t{arj::WindowSize};
void StartDecoder();
// The block's symbol count and its three codes, and the two length lists
// they come from. Raises: XR_BAD_TABLE for a count or run beyond the
// alphabet, a length above 16, a single value outside it, or an unusable code.
void ReadBlockHeader();
void ReadPreLengths(unsigned count, unsigned countBits, int zeroRunAfter);
void ReadSymbolLengths();
void ReleaseWindow();
