// The setup file as the install reads it. The file is opened once, at the
// start, with sharing that lets nobody else write, rename or delete it while
// the setup runs: a user who could swap the file under an elevated setup
// would otherwise choose what it installs. The archive read through that
// handle must also match the seal that the packer wrote into this image, so
// a file swapped before the start is refused as well.
#include "setup.h"

#include "seal.h"

// Blank as built; mksetup fills in the fields after the magic. In the
// read-only data, which Windows maps read-only.
extern const unsigned char ArchiveSealBlock[SealSize];
const unsigned char ArchiveSealBlock[SealSize] = {KELVRA_SEAL_MAGIC};

// The block as the image holds it: the empty asm hides where the pointer
// came from, so the compiler cannot fold the blank it was given into code.
static const unsigned char *SealInImage() {
  const unsigned char *block = ArchiveSealBlock;
  __asm__("" : "+r"(block));
  return block;
}

static std::size_t ReadHandleAt(void *context, std::uint64_t offset, void *buffer, std::size_t length) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  DWORD want = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
  if (!ReadFile(static_cast<HANDLE>(context), buffer, want, &got, &at)) return 0;
  return got;
}

void OpenSetupFile() {
  setupState.setupFile = CreateFileA(setupState.setupPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, NULL);
  if (setupState.setupFile == INVALID_HANDLE_VALUE)
    LogLine("setup file cannot be opened: error %lu", static_cast<unsigned long>(GetLastError()));
}

ExtractResult OpenSealedArchive(SetupSource *archive) {
  LARGE_INTEGER size;
  if (setupState.setupFile == INVALID_HANDLE_VALUE || !GetFileSizeEx(setupState.setupFile, &size))
    return XR_OPEN_SETUP;
  SetupSource file = {ReadHandleAt, setupState.setupFile, 0, static_cast<std::uint64_t>(size.QuadPart)};
  ArchiveSeal seal;
  if (!ReadSeal(SealInImage(), &seal)) return XR_NO_ARCHIVE;
  ExtractResult checked = CheckSeal(&file, seal);
  if (checked != XR_OK) {
    LogLine("the archive is not the one this setup was built with (%s)", ExtractResultName(checked));
    return checked;
  }
  *archive = SealedArchive(&file, seal);
  return XR_OK;
}
