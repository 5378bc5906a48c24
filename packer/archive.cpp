// The archive's bytes: framed headers with their CRC-32s, entry names that
// reach Windows unchanged, text entries' line ends, and the scan a reader
// makes to find the archive behind a stub.
#include <cstring>

#include "devicename.h"
#include "format.h"
#include "packer.h"

namespace {

// Entries are written as the setup files shipped so far carry them.
constexpr std::uint8_t ArchiverVersion = 7;
constexpr std::uint8_t MinVersion = 1;
constexpr std::uint16_t FileModeArchive = 0x20;  // DOS attribute: archive bit only

void PutLe(std::vector<std::uint8_t> &out, std::size_t at, std::uint32_t value, unsigned bytes) {
  for (unsigned i = 0; i < bytes; i++) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void AppendLe(std::vector<std::uint8_t> &out, std::uint32_t value, unsigned bytes) {
  out.resize(out.size() + bytes);
  PutLe(out, out.size() - bytes, value, bytes);
}

struct HeaderFields {
  std::uint8_t method, fileType;
  std::uint32_t timestamp, compressedSize, fileSize, fileCrc;
  std::uint16_t entryPos, fileMode;
  const std::string *name;
};

std::vector<std::uint8_t> FrameHeader(const HeaderFields &f) {
  std::vector<std::uint8_t> basic(arj::FixedHeaderSize, 0);
  basic[arj::OffFirstHeaderSize] = arj::FixedHeaderSize;
  basic[arj::OffArchiverVersion] = ArchiverVersion;
  basic[arj::OffMinVersion] = MinVersion;
  basic[arj::OffHostOs] = arj::HostOsMsdos;
  basic[arj::OffFlags] = 0;
  basic[arj::OffMethod] = f.method;
  basic[arj::OffFileType] = f.fileType;
  PutLe(basic, arj::OffTimestamp, f.timestamp, 4);
  PutLe(basic, arj::OffCompressedSize, f.compressedSize, 4);
  PutLe(basic, arj::OffFileSize, f.fileSize, 4);
  PutLe(basic, arj::OffFileCrc, f.fileCrc, 4);
  PutLe(basic, arj::OffEntryPos, f.entryPos, 2);
  PutLe(basic, arj::OffFileMode, f.fileMode, 2);
  basic.insert(basic.end(), f.name->begin(), f.name->end());
  basic.push_back(0);  // end of name
  basic.push_back(0);  // empty comment

  std::vector<std::uint8_t> out{arj::HeaderIdByte0, arj::HeaderIdByte1};
  AppendLe(out, static_cast<std::uint32_t>(basic.size()), 2);
  out.insert(out.end(), basic.begin(), basic.end());
  AppendLe(out, Crc32(0, basic.data(), basic.size()), 4);
  AppendLe(out, 0, 2);  // no extended header
  return out;
}

}  // namespace

std::uint32_t DosTimestamp(std::time_t t) {
  std::tm local{};
  if (!localtime_r(&t, &local) || local.tm_year < 80) return (1u << 21) | (1u << 16);  // 1980-01-01
  if (local.tm_year > 207) return (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;
  return std::uint32_t(local.tm_year - 80) << 25 | std::uint32_t(local.tm_mon + 1) << 21 |
         std::uint32_t(local.tm_mday) << 16 | std::uint32_t(local.tm_hour) << 11 |
         std::uint32_t(local.tm_min) << 5 | std::uint32_t(local.tm_sec / 2);
}

std::vector<std::uint8_t> BuildMainHeader(const std::string &archiveName, std::uint32_t timestamp) {
  // Readers strip bit 7 from names; the main header's name is never used,
  // so it is simply kept readable.
  std::string name = archiveName.substr(0, 511);
  for (char &c : name)
    if (static_cast<unsigned char>(c) >= 0x80 || static_cast<unsigned char>(c) < 0x20) c = '_';
  HeaderFields f{0, arj::FileTypeMain, timestamp, 0, 0, 0, 0, 0, &name};
  return FrameHeader(f);
}

std::vector<std::uint8_t> BuildEntryHeader(const EntryFields &entry) {
  HeaderFields f{static_cast<std::uint8_t>(entry.method),
                 static_cast<std::uint8_t>(entry.fileType),
                 entry.timestamp,
                 entry.compressedSize,
                 entry.fileSize,
                 entry.fileCrc,
                 static_cast<std::uint16_t>(entry.entryPos),
                 FileModeArchive,
                 &entry.name};
  return FrameHeader(f);
}

std::vector<std::uint8_t> BuildEndMarker() { return {arj::HeaderIdByte0, arj::HeaderIdByte1, 0, 0}; }

bool CheckEntryName(const std::string &name, std::string *problem) {
  if (name.empty()) return *problem = "the name is empty", false;
  if (name.size() > 511) return *problem = "the name is longer than 511 characters", false;
  for (unsigned char c : name) {
    if (c >= 0x80)
      return *problem = "the name has a character outside 7-bit ASCII, which the archive cannot keep", false;
    if (c < 0x20 || std::strchr("<>:\"/\\|?*", c))
      return *problem = "the name has a character that Windows file names cannot hold", false;
  }
  if (name == "." || name == "..") return *problem = "the name is not a file name", false;
  if (name.back() == '.' || name.back() == ' ')
    return *problem = "Windows drops a trailing dot or space, so the file would get another name", false;
  if (arj::IsWindowsDeviceName(name.data(), name.size()))
    return *problem = "the name is a Windows device name", false;
  return true;
}

bool TextForStorage(const std::vector<std::uint8_t> &file, std::vector<std::uint8_t> *stored,
                    std::string *problem) {
  std::size_t crLf = 0, bareLf = 0, firstBareLf = 0;
  for (std::size_t i = 0; i < file.size(); i++) {
    if (file[i] >= 0x80) {
      *problem = "byte " + std::to_string(file[i]) + " at offset " + std::to_string(i) +
                 " has bit 7 set, which a text entry loses; pack the file as binary";
      return false;
    }
    if (file[i] != '\n') continue;
    if (i && file[i - 1] == '\r') {
      crLf++;
    } else if (!bareLf++) {
      firstBareLf = i;
    }
  }
  if (crLf && bareLf) {
    *problem = "it mixes CR LF and bare LF line ends (first bare LF at offset " +
               std::to_string(firstBareLf) +
               "), and installing it would turn every bare LF into CR LF; pack it as binary";
    return false;
  }
  stored->clear();
  stored->reserve(file.size());
  for (std::size_t i = 0; i < file.size(); i++)
    if (!(crLf && file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n')) stored->push_back(file[i]);
  return true;
}

long FindArchiveStart(const std::uint8_t *data, std::size_t size) {
  if (size < 2) return -1;
  std::size_t end = size - 2 < std::size_t(arj::ScanLimit) ? size - 2 : std::size_t(arj::ScanLimit);
  for (std::size_t p = 0; p < end; p++) {
    if (data[p] != arj::HeaderIdByte0 || data[p + 1] != arj::HeaderIdByte1) continue;
    if (p + 4 > size) return -2;
    std::size_t n = data[p + 2] | std::size_t(data[p + 3]) << 8;
    if (n > arj::MaxBasicHeaderSize) continue;
    if (p + 8 + n > size) return -2;
    std::uint32_t stored = data[p + 4 + n] | std::uint32_t(data[p + 5 + n]) << 8 |
                           std::uint32_t(data[p + 6 + n]) << 16 | std::uint32_t(data[p + 7 + n]) << 24;
    if (Crc32(0, data + p + 4, n) == stored) return static_cast<long>(p);
  }
  return -1;
}
