// Constants of the archive format that the extractor and the packer share.
// Nothing here depends on either side's code.
#pragma once

#include <cstdint>

namespace arj {

constexpr unsigned HeaderId = 0xEA60;  // stored as the bytes 0x60 0xEA
constexpr unsigned char HeaderIdByte0 = 0x60;
constexpr unsigned char HeaderIdByte1 = 0xEA;
constexpr unsigned MaxBasicHeaderSize = 2600;  // bytes of basic header, CRC excluded
constexpr unsigned FixedHeaderSize = 30;       // fields up to and including hostData
constexpr long ScanLimit = 500000;             // the archive must start before this offset

// Offsets within the basic header.
constexpr unsigned OffFirstHeaderSize = 0;
constexpr unsigned OffArchiverVersion = 1;
constexpr unsigned OffMinVersion = 2;
constexpr unsigned OffHostOs = 3;
constexpr unsigned OffFlags = 4;
constexpr unsigned OffMethod = 5;
constexpr unsigned OffFileType = 6;
constexpr unsigned OffTimestamp = 8;
constexpr unsigned OffCompressedSize = 12;
constexpr unsigned OffFileSize = 16;
constexpr unsigned OffFileCrc = 20;
constexpr unsigned OffEntryPos = 24;
constexpr unsigned OffFileMode = 26;
constexpr unsigned OffHostData = 28;

constexpr unsigned FileTypeBinary = 0;
constexpr unsigned FileTypeText = 1;
constexpr unsigned FileTypeMain = 2;  // the archive's main header
constexpr unsigned HostOsMsdos = 0;
constexpr unsigned HostOsKeepsBit7 = 2;  // the one host whose names keep bit 7
constexpr unsigned FlagEncrypted = 0x01;
constexpr unsigned MaxExtractorVersion = 3;

// The compressed stream of methods 1 to 3.
constexpr unsigned WindowSize = 26624;            // bytes of history
constexpr unsigned MaxDistance = WindowSize - 1;  // largest distance value (match starts d + 1 back)
constexpr unsigned MinMatch = 3;
constexpr unsigned MaxMatch = 256;
constexpr unsigned LiteralCount = 510;  // 256 literals + 254 match lengths
constexpr unsigned PreCodeCount = 19;
constexpr unsigned DistanceCount = 17;
constexpr unsigned MaxCodeLength = 16;
constexpr unsigned LiteralTableBits = 12;
constexpr unsigned AuxTableBits = 8;
constexpr unsigned BlockSymbolBits = 16;     // symbol count of a block; 0 means 65536
constexpr unsigned PreCodeZeroRunAfter = 3;  // the pre-code's 2-bit zero run follows its third length

constexpr std::uint32_t CrcPolynomial = 0xEDB88320u;

}  // namespace arj
