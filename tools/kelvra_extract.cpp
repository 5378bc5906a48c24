// kelvra-extract: extracts a setup file's archive on Linux, or lists it.
//
//   kelvra-extract SETUP_FILE DEST_DIR   prints OK, or the failure's name and code
//                                        (after a failure DEST_DIR is as it was)
//   kelvra-extract --list SETUP_FILE     one line per entry; writes nothing
//
// Exit status: 0 success, 1 extraction failure, 2 bad usage.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "extract.h"

static void PrintEntry(const ArchiveEntryInfo *e, void *) {
  std::printf("%-40s method %u  type %s  host %u  %10" PRIu32 " -> %10" PRIu32 "  crc %08" PRIX32 "\n",
              e->name, e->method,
              e->fileType == 0   ? "binary"
              : e->fileType == 1 ? "text  "
                                 : "other ",
              e->hostOs, e->compressedSize, e->fileSize, e->fileCrc);
}

static int Report(ExtractResult result) {
  if (result == XR_OK) {
    std::printf("OK\n");
    return 0;
  }
  std::printf("%s 0x%08" PRIX32 "\n", ExtractResultName(result), result);
  return 1;
}

int main(int argc, char **argv) {
  if (argc == 3 && std::strcmp(argv[1], "--list") == 0) {
    ExtractResult result = ListArchive(argv[2], PrintEntry, nullptr);
    return result == XR_OK ? 0 : Report(result);
  }
  if (argc != 3 || argv[1][0] == '-') {
    std::fprintf(stderr,
                 "usage: kelvra-extract SETUP_FILE DEST_DIR\n"
                 "       kelvra-extract --list SETUP_FILE\n");
    return 2;
  }
  std::string destination = argv[2];
  if (destination.empty() || destination.back() != '/') destination += '/';
  return Report(ExtractArchive(argv[1], destination.c_str()));
}
