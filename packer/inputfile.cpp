// Getting an input's bytes to the encoder. A binary input is mapped from
// the file, not read: reading tens of megabytes needs as many of fresh
// memory, and a virtual machine clears each new page at a cost that came
// to a seventh of the fast level's time, while the page cache holds the
// bytes already. A mapping sees the file as it is, so a file cut short
// while it is packed would fault on its lost pages: the setup file's
// writer removes its temporary file on that fault too.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "packer.h"

namespace {

bool Fail(std::string *error, const std::string &message) {
  *error = message;
  return false;
}

bool Changed(const std::string &path, std::string *error) {
  return Fail(error, path + ": changed while being packed");
}

}  // namespace

bool ReadWholeFile(const std::string &path, std::vector<std::uint8_t> *bytes, std::string *error) {
  std::FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) return Fail(error, path + ": cannot open: " + std::strerror(errno));
  bytes->clear();
  // Read straight into a vector sized up front: growing one of tens of
  // megabytes by doubling, or through a buffer, copies it over and over.
  // A file that grows meanwhile is read on to its end all the same.
  std::size_t have = 0;
  if (std::fseek(f, 0, SEEK_END) == 0) {
    long size = std::ftell(f);
    if (size > 0) {
      ReserveLargeBuffer(bytes, static_cast<std::size_t>(size));
      bytes->resize(static_cast<std::size_t>(size));
    }
    std::rewind(f);
  }
  // The file's end is found by reading past it into a probe, not into the
  // vector: growing a vector that was sized to the whole file would copy it
  // all into one of twice the size, page by page.
  for (;;) {
    if (have == bytes->size()) {
      std::uint8_t probe[1 << 12];
      std::size_t n = std::fread(probe, 1, sizeof probe, f);
      if (n == 0) break;
      bytes->insert(bytes->end(), probe, probe + n);
      have += n;
      continue;
    }
    std::size_t n = std::fread(bytes->data() + have, 1, bytes->size() - have, f);
    have += n;
    if (n == 0) break;
  }
  bytes->resize(have);
  bool failed = std::ferror(f);
  std::fclose(f);
  if (failed) return Fail(error, path + ": read error");
  return true;
}

bool LoadInput(const std::string &path, std::uint64_t plannedSize, bool mapped, InputFile *in,
               std::string *error) {
  in->data = nullptr;
  in->size = 0;
  in->mapping = nullptr;
  in->bytes.clear();
  // An empty file is read: one that only claims to be empty (as some
  // system files do) shows its true size that way.
  if (mapped && plannedSize > 0) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fail(error, path + ": cannot open: " + std::strerror(errno));
    struct stat st;
    if (fstat(fd, &st) != 0 || std::uint64_t(st.st_size) != plannedSize) {
      close(fd);
      return Changed(path, error);
    }
    int populate = 0;
#if defined(MAP_POPULATE)
    populate = MAP_POPULATE;  // one call maps every page, not a fault each
#endif
    void *m = mmap(nullptr, static_cast<std::size_t>(plannedSize), PROT_READ, MAP_PRIVATE | populate, fd, 0);
    close(fd);
    if (m != MAP_FAILED) {
      in->mapping = m;
      in->data = static_cast<const std::uint8_t *>(m);
      in->size = static_cast<std::size_t>(plannedSize);
      return true;
    }
    // Where the file system cannot map, the bytes are read.
  }
  if (!ReadWholeFile(path, &in->bytes, error)) return false;
  if (in->bytes.size() != plannedSize) return Changed(path, error);
  in->data = in->bytes.data();
  in->size = in->bytes.size();
  return true;
}

bool InputStillWhole(const std::string &path, const InputFile &in, std::string *error) {
  if (!in.mapping) return true;
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || std::uint64_t(st.st_size) != in.size) return Changed(path, error);
  return true;
}

void UnloadInput(InputFile *in) {
  if (in->mapping) munmap(in->mapping, in->size);
  in->mapping = nullptr;
  in->data = nullptr;
  in->size = 0;
  in->bytes.clear();
}
