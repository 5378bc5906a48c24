// Paths, command lines, the uninstall entry's values, messages and palette
// entries, composed without any system call. Every writer here is bounded
// by its buffer's capacity; the text it starts from (the destination box,
// the Windows directory, the Programs folder) is of any length.
#include "compose.h"

#include <cstring>

void MakeDefaultDestination(const char *windowsDir, char *out) {
  const char *drive = std::strlen(windowsDir) >= 2 ? windowsDir : "C:";
  out[0] = drive[0];
  out[1] = drive[1];
  std::strcpy(out + 2, "\\Program Files\\Kelvra");
}

DestinationCheck PrepareWorkingPath(const char *destinationText, char *working) {
  std::size_t length = std::strlen(destinationText);
  if (length < 3) return DestinationCheck::TooShort;
  if (destinationText[length - 1] == '\\') length--;
  // Later the path gets '\' and, quoted, KELVRA.EXE: two quotes, one
  // backslash, ten characters.
  if (length + 13 > PathCapacity - 1) return DestinationCheck::TooLong;
  std::memcpy(working, destinationText, length);
  working[length] = '\0';
  return DestinationCheck::Ok;
}

bool BuildProgramCommand(const char *directory, char *out, std::size_t capacity) {
  return JoinPath(out, capacity, "\"", directory, ProgramFile, "\"");
}

bool BuildUninstallCommand(const char *directory, char *out, std::size_t capacity) {
  char program[PathCapacity];
  return BuildProgramCommand(directory, program, sizeof program) &&
         JoinPath(out, capacity, program, " ", UninstallSwitch);
}

std::uint32_t KilobytesFor(std::uint64_t bytes) {
  std::uint64_t kilobytes = bytes / 1024 + (bytes % 1024 != 0);
  return kilobytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(kilobytes);
}

bool BuildQuietUninstallCommand(const char *directory, char *out, std::size_t capacity) {
  char program[PathCapacity];
  return BuildProgramCommand(directory, program, sizeof program) &&
         JoinPath(out, capacity, program, " ", UninstallSwitch, " /S");
}

bool CopyInstallLocation(const char *directory, char *out, std::size_t capacity) {
  // The shared rule for a final backslash, applied before the copy so that
  // out needs room only for what is kept.
  char location[PathCapacity];
  if (!JoinPath(location, sizeof location, directory, "")) return false;
  RemoveTrailingBackslash(location);
  return JoinPath(out, capacity, location, "");
}

static bool EndsWithBackslash(const char *path) {
  std::size_t length = std::strlen(path);
  return length > 0 && path[length - 1] == '\\';
}

bool ComposeShortcutPaths(const char *productFolder, const char *destination, const char *fileName,
                          const char *shortcutName, char *linkPath, char *targetPath) {
  linkPath[0] = '\0';
  targetPath[0] = '\0';
  if (productFolder[0] == '\0') return false;
  if (!JoinPath(linkPath, PathCapacity, productFolder, "\\", shortcutName, ShortcutExtension)) return false;
  const char *separator = EndsWithBackslash(destination) ? "" : "\\";
  if (!JoinPath(targetPath, PathCapacity, destination, separator, fileName)) {
    linkPath[0] = '\0';
    return false;
  }
  return true;
}

const char *ExtractFailureMessage(std::uint32_t result) {
  // Signed, so that a result from outside the code table (a platform fault
  // code, say) cannot land in the first two groups.
  std::int32_t group = static_cast<std::int32_t>(result ^ 0xE0000000u);
  if (group >= 1 && group <= 9) return ReadFailureText;
  if (group == 10 || group == 11) return WriteFailureText;
  if (group == 16) return InUseText;
  return InternalFailureText;
}

static std::uint32_t ReadLe32(const unsigned char *p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Format notes: BITMAPINFOHEADER holds biSize at byte 0, biBitCount (16 bits)
// at byte 14 and biClrUsed at byte 32; the colour table follows the header.
unsigned PictureColourCount(const unsigned char *packedBitmap) {
  unsigned bitCount = packedBitmap[14] | packedBitmap[15] << 8;
  std::uint32_t count = bitCount <= 8 ? 1u << bitCount : 0;
  std::uint32_t clrUsed = ReadLe32(packedBitmap + 32);
  if (clrUsed != 0) count = clrUsed;
  return count;
}

std::size_t PicturePixelOffset(const unsigned char *packedBitmap) {
  return ReadLe32(packedBitmap) + 4 * std::size_t{PictureColourCount(packedBitmap)};
}

void FillPaletteEntries(const unsigned char *packedBitmap, unsigned count, unsigned char *entries) {
  const unsigned char *table = packedBitmap + ReadLe32(packedBitmap);
  for (unsigned i = 0; i < count; i++) {
    entries[4 * i + 0] = table[4 * i + 2];  // red
    entries[4 * i + 1] = table[4 * i + 1];  // green
    entries[4 * i + 2] = table[4 * i + 0];  // blue
    entries[4 * i + 3] = 0;                 // flags
  }
}
