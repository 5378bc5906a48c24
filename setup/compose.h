// The setup's decisions that need no system call: the default destination,
// the paths and command lines it composes, the uninstall entry's values,
// the words for an extraction result and the palette taken from a packed
// bitmap. Kept free of <windows.h> so that the Linux tests exercise exactly
// this code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "contract.h"
#include "paths.h"

constexpr const char *SetupCaption = "Kelvra Setup";
// The first line of each run in the /LOG= file, after the date and time.
constexpr const char *LogHeading = "Kelvra Setup " KELVRA_DISPLAY_VERSION;

constexpr const char *InvalidDestinationText = "Please specify valid destination directory.";
constexpr const char *CannotCreateText = "Cannot create destination directory.";
constexpr const char *SuccessText = "Kelvra has been successfully installed.";
constexpr const char *ReadFailureText = "Cannot read setup file, it's probably corrupted.";
constexpr const char *WriteFailureText = "Cannot write extracted file, probably disk is full.";
constexpr const char *InternalFailureText = "Internal error while extracting files.";
constexpr const char *InUseText = "Cannot replace a file that is in use. Close Kelvra and try again.";
constexpr const char *RestartText = "Kelvra will be completely installed when you restart your computer.";
constexpr const char *AbortQuestionText =
    "Kelvra setup has not been completed yet.\nAre you sure you want to abort it?";
constexpr const char *BrowseTitleText = "Please select directory:";

// Writes the proposed destination into out (PathCapacity bytes): the first
// two characters of windowsDir, whatever they are, then
// "\Program Files\Kelvra". A windowsDir shorter than two characters (the
// system would not tell) proposes drive C:.
void MakeDefaultDestination(const char *windowsDir, char *out);

enum class DestinationCheck {
  Ok,        // working path holds the directory, without a final backslash
  TooShort,  // fewer than 3 characters
  TooLong,   // the quoted program command would not fit a path buffer
};

// Turns the text of the destination box into the working path (capacity
// PathCapacity): the text itself, less one trailing backslash. Refuses text
// so long that "\"<dir>\KELVRA.EXE\"" would not fit 259 characters, so that
// every path and command built from it later fits its buffer.
DestinationCheck PrepareWorkingPath(const char *destinationText, char *working);

// "\"<directory>KELVRA.EXE\"": the quotes keep a planted "C:\Program.exe"
// from running in place of a program under "C:\Program Files". directory
// ends in a backslash. False when it would not fit capacity bytes.
bool BuildProgramCommand(const char *directory, char *out, std::size_t capacity);

// The program command followed by " /UNINSTALL".
bool BuildUninstallCommand(const char *directory, char *out, std::size_t capacity);

// Size in the uninstall entry's unit: kilobytes, rounded up.
std::uint32_t KilobytesFor(std::uint64_t bytes);

// The uninstall entry's description of the product, from the one place
// the version resources and the package manifest read too.
constexpr const char *ProductVersionText = KELVRA_DISPLAY_VERSION;
constexpr const char *PublisherName = KELVRA_PUBLISHER;

// The destination as the uninstall entry records it: no trailing backslash,
// except after a drive (C:\ stays: "C:" would name a current directory).
// False when it would not fit capacity bytes.
bool CopyInstallLocation(const char *directory, char *out, std::size_t capacity);

// "\"<directory>KELVRA.EXE\" /UNINSTALL /S"; directory ends in '\'.
bool BuildQuietUninstallCommand(const char *directory, char *out, std::size_t capacity);

// The shortcut file "<productFolder>\<shortcutName>.lnk" and its target
// "<destination>[\]<fileName>", each in PathCapacity bytes. False when the
// Programs folder is unknown (empty) or either path would not fit: the
// shortcut is then skipped rather than written somewhere unexpected.
bool ComposeShortcutPaths(const char *productFolder, const char *destination, const char *fileName,
                          const char *shortcutName, char *linkPath, char *targetPath);

// The message for a failed extraction, chosen by the code's low part; 16,
// a file in use, has its own.
const char *ExtractFailureMessage(std::uint32_t result);

// Colour-table size of a packed bitmap (BITMAPINFOHEADER first): 2^bits for
// up to 8 bits per pixel, else 0; a non-zero biClrUsed overrides.
unsigned PictureColourCount(const unsigned char *packedBitmap);

// Offset of the pixel data: header size plus 4 bytes per colour.
std::size_t PicturePixelOffset(const unsigned char *packedBitmap);

// Fills count palette entries (red, green, blue, flags 0: the layout of
// PALETTEENTRY) from the colour table that follows the header, whose
// entries are stored blue, green, red, reserved.
void FillPaletteEntries(const unsigned char *packedBitmap, unsigned count, unsigned char *entries);
