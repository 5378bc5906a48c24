// Writing a whole setup file: the stub's bytes, the main header, each input
// as an entry, the end marker. Everything that can be checked before the
// first byte is compressed (missing files, names, sizes) is checked first;
// the file is written under a temporary name and renamed only when whole.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "format.h"
#include "packer.h"
#include "seal.h"
#include "text.h"

namespace {

constexpr std::uint64_t MaxEntrySize = 0x7FFFFFFF;  // a reader keeps the size signed
constexpr std::uint64_t ProgressThreshold = 1u << 20;
constexpr std::size_t ScanWindow = arj::ScanLimit + arj::MaxBasicHeaderSize + 16;

struct PlannedEntry {
  const PackInput *input;
  std::string name;
  std::uint64_t size;
  std::uint32_t timestamp;
};

std::string BaseName(const std::string &path) {
  std::size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return path;
  std::size_t slash = path.find_last_of('/', end);
  return path.substr(slash == std::string::npos ? 0 : slash + 1,
                     end - (slash == std::string::npos ? 0 : slash + 1) + 1);
}

bool Fail(std::string *error, const std::string &message) {
  *error = message;
  return false;
}

// Entry timestamps honour SOURCE_DATE_EPOCH, so the same inputs can give
// the same setup file on every build machine.
std::time_t ClampTime(std::time_t t) {
  const char *epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (!epoch || !*epoch) return t;
  std::time_t limit = static_cast<std::time_t>(std::strtoll(epoch, nullptr, 10));
  return t > limit ? limit : t;
}

bool PlanEntries(const PackJob &job, std::vector<PlannedEntry> *plan, std::string *error) {
  if (job.inputs.empty()) return Fail(error, "no input files");
  for (const PackInput &input : job.inputs) {
    struct stat st;
    if (stat(input.path.c_str(), &st) != 0) return Fail(error, input.path + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return Fail(error, input.path + ": not a regular file");
    if (std::uint64_t(st.st_size) > MaxEntrySize)
      return Fail(error, input.path + ": larger than 2 GiB, which an entry cannot hold");
    PlannedEntry e{&input, BaseName(input.path), std::uint64_t(st.st_size),
                   DosTimestamp(ClampTime(st.st_mtime))};
    std::string problem;
    if (!CheckEntryName(e.name, &problem))
      return Fail(error, input.path + ": cannot store the name \"" + e.name + "\": " + problem);
    // Windows names ignore case: two such entries would install as one file.
    for (const PlannedEntry &other : *plan)
      if (SameText(other.name.c_str(), e.name.c_str()))
        return Fail(error, input.path + ": another input already installs as \"" + e.name + "\"");
    plan->push_back(e);
  }
  return true;
}

struct Progress {
  std::FILE *log;
  const std::string *name;
  std::uint64_t total;
  int lastPercent;
};

void ShowProgress(std::uint64_t done, void *context) {
  Progress *p = static_cast<Progress *>(context);
  int percent = p->total ? static_cast<int>(done * 100 / p->total) : 100;
  if (percent == p->lastPercent) return;
  p->lastPercent = percent;
  std::fprintf(p->log, "\r  %s: %3d%%", p->name->c_str(), percent);
  std::fflush(p->log);
}

bool WriteBytes(std::FILE *f, const std::vector<std::uint8_t> &bytes) {
  return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
}

bool WriteEntry(std::FILE *out, const PackJob &job, const PlannedEntry &e, bool verbose, std::string *error) {
  // A text input is converted from bytes in memory, so it is read.
  InputFile file;
  if (!LoadInput(e.input->path, e.size, !e.input->text, &file, error)) return false;
  std::vector<std::uint8_t> converted;
  const std::uint8_t *data = file.data;
  std::size_t size = file.size;
  if (e.input->text) {
    std::string problem;
    if (!TextForStorage(file.bytes, &converted, &problem))
      return Fail(error, e.input->path + ": cannot store as text: " + problem);
    data = converted.data();
    size = converted.size();
  }
  Progress progress{job.log, &e.name, size, -1};
  bool showPercent = verbose && size >= ProgressThreshold && isatty(fileno(job.log));
  std::vector<std::uint8_t> packed = EncodeMethod123(data, size, LevelForMethod(job.method),
                                                     showPercent ? ShowProgress : nullptr, &progress);
  std::uint32_t crc = Crc32(0, data, size);
  bool whole = InputStillWhole(e.input->path, file, error);
  UnloadInput(&file);
  if (!whole) return false;
  if (packed.size() > 0xFFFFFFFFu) return Fail(error, e.input->path + ": compressed data too large");
  EntryFields fields{e.name,
                     0,
                     job.method,
                     e.input->text ? arj::FileTypeText : arj::FileTypeBinary,
                     e.timestamp,
                     static_cast<std::uint32_t>(packed.size()),
                     static_cast<std::uint32_t>(size),
                     crc};
  if (!WriteBytes(out, BuildEntryHeader(fields)) || !WriteBytes(out, packed))
    return Fail(error, job.output + ": write error: " + std::strerror(errno));
  if (verbose)
    std::fprintf(job.log, "%s  %s: %zu -> %zu bytes\n", showPercent ? "\r" : "", e.name.c_str(), size,
                 packed.size());
  return true;
}

// The reader finds the archive by scanning from the file's start; a stub
// that happens to hold something that passes for a header would be taken
// for the archive, so the scan is repeated on the finished file.
bool CheckArchiveIsFound(const std::string &path, std::size_t stubSize, std::string *error) {
  std::FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) return Fail(error, path + ": cannot read back: " + std::strerror(errno));
  std::vector<std::uint8_t> head(ScanWindow);
  head.resize(std::fread(head.data(), 1, head.size(), f));
  std::fclose(f);
  long found = FindArchiveStart(head.data(), head.size());
  if (found < 0) return Fail(error, path + ": a reader would not find the archive in the finished file");
  if (found != static_cast<long>(stubSize))
    return Fail(error, "the stub holds bytes that a reader would take for an archive header (at offset " +
                           std::to_string(found) + "), so the setup could not find its own archive");
  return true;
}

bool WriteAll(std::FILE *out, const PackJob &job, const std::vector<PlannedEntry> &plan,
              const std::vector<std::uint8_t> &stub, std::string *error) {
  std::uint64_t total = 0;
  // The archive is as new as its newest entry, so the same inputs make the
  // same setup file.
  std::uint32_t newest = 0;
  for (const PlannedEntry &e : plan) {
    total += e.size;
    if (e.timestamp > newest) newest = e.timestamp;
  }
  bool verbose = job.log && total >= ProgressThreshold;
  if (!WriteBytes(out, stub) || !WriteBytes(out, BuildMainHeader(BaseName(job.output), newest)))
    return Fail(error, job.output + ": write error: " + std::strerror(errno));
  for (const PlannedEntry &e : plan)
    if (!WriteEntry(out, job, e, verbose, error)) return false;
  if (!WriteBytes(out, BuildEndMarker()))
    return Fail(error, job.output + ": write error: " + std::strerror(errno));
  return true;
}

// Where the stub's blank seal block starts: the magic followed by zeros.
// npos for a stub without one (it installs unsealed: tests, other stubs);
// false for a stub with two, or one already filled in by an earlier run.
bool FindBlankSeal(const std::vector<std::uint8_t> &stub, std::size_t *at, std::string *error) {
  static const std::uint8_t blank[SealSize] = {KELVRA_SEAL_MAGIC};
  static const std::uint8_t magic[SealMagicSize] = {KELVRA_SEAL_MAGIC};
  *at = std::string::npos;
  std::size_t blanks = 0, magics = 0;
  for (std::size_t i = 0; i + SealSize <= stub.size(); i++) {
    if (std::memcmp(&stub[i], magic, SealMagicSize) != 0) continue;
    magics++;
    if (std::memcmp(&stub[i], blank, SealSize) == 0) {
      blanks++;
      *at = i;
    }
  }
  if (magics > 1 || blanks != magics)
    return Fail(error, "the stub holds " + std::to_string(magics) + " seal blocks, " +
                           std::to_string(blanks) + " of them blank; it takes one blank block");
  return true;
}

// Fills in the stub's seal with the archive that now follows it.
bool SealArchive(const std::string &path, std::size_t stubSize, std::size_t sealAt, std::string *error) {
  std::FILE *f = std::fopen(path.c_str(), "r+b");
  if (!f) return Fail(error, path + ": cannot reopen to seal: " + std::strerror(errno));
  ArchiveSeal seal{stubSize, 0, {}};
  Sha256 hash;
  Sha256Start(&hash);
  std::uint8_t buffer[1 << 16];
  bool ok = std::fseek(f, static_cast<long>(stubSize), SEEK_SET) == 0;
  std::size_t n;
  while (ok && (n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
    Sha256Update(&hash, buffer, n);
    seal.length += n;
  }
  Sha256Finish(&hash, seal.digest);
  std::uint8_t block[SealSize] = {KELVRA_SEAL_MAGIC};
  WriteSeal(block, seal);
  ok = ok && !std::ferror(f) && std::fseek(f, static_cast<long>(sealAt), SEEK_SET) == 0 &&
       std::fwrite(block, 1, SealSize, f) == SealSize;
  if (std::fclose(f) != 0) ok = false;
  return ok || Fail(error, path + ": cannot seal: " + std::strerror(errno));
}

// An interrupted run removes its temporary file too, and so does one whose
// mapped input was cut short under it, which faults with SIGBUS.
char pendingTemporary[4096];

void RemoveTemporaryAndDie(int signal) {
  unlink(pendingTemporary);
  if (signal == SIGBUS) {
    static const char message[] = "mksetup: an input file was cut short while being packed\n";
    ssize_t ignored = write(STDERR_FILENO, message, sizeof message - 1);
    (void)ignored;
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

constexpr int CleanupSignalCount = 4;
const int CleanupSignals[CleanupSignalCount] = {SIGINT, SIGTERM, SIGHUP, SIGBUS};

struct CleanupGuard {
  void (*previous[CleanupSignalCount])(int);
};

void GuardTemporary(CleanupGuard &guard, const std::string &path) {
  std::snprintf(pendingTemporary, sizeof pendingTemporary, "%s", path.c_str());
  for (int i = 0; i < CleanupSignalCount; i++) {
    guard.previous[i] = std::signal(CleanupSignals[i], RemoveTemporaryAndDie);
    if (guard.previous[i] == SIG_IGN) std::signal(CleanupSignals[i], SIG_IGN);  // as under nohup
  }
}

void ReleaseTemporary(const CleanupGuard &guard) {
  for (int i = 0; i < CleanupSignalCount; i++) std::signal(CleanupSignals[i], guard.previous[i]);
}

}  // namespace

bool WriteSetupFile(const PackJob &job, std::string *error) {
  if (job.method < 1 || job.method > 3) return Fail(error, "method must be 1, 2 or 3");
  if (job.output.empty()) return Fail(error, "no output file");
  std::vector<PlannedEntry> plan;
  if (!PlanEntries(job, &plan, error)) return false;
  std::vector<std::uint8_t> stub;
  if (!job.stub.empty()) {
    if (!ReadWholeFile(job.stub, &stub, error)) return false;
    if (stub.size() >= std::size_t(arj::ScanLimit))
      return Fail(error, job.stub + ": the stub is " + std::to_string(stub.size()) +
                             " bytes; the archive must start within the first " +
                             std::to_string(arj::ScanLimit));
  }
  std::size_t sealAt;
  if (!FindBlankSeal(stub, &sealAt, error)) return false;

  std::string temporary = job.output + ".tmpXXXXXX";
  int fd = mkstemp(&temporary[0]);
  if (fd < 0)
    return Fail(error, job.output + ": cannot create a temporary file beside it: " + std::strerror(errno));
  CleanupGuard guard;
  GuardTemporary(guard, temporary);
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  std::FILE *out = fdopen(fd, "wb");
  bool ok = out != nullptr;
  if (!ok) {
    close(fd);
    Fail(error, job.output + ": cannot write: " + std::strerror(errno));
  }
  ok = ok && WriteAll(out, job, plan, stub, error);
  if (out && std::fclose(out) != 0 && ok)
    ok = Fail(error, job.output + ": write error: " + std::strerror(errno));
  if (ok && sealAt != std::string::npos) ok = SealArchive(temporary, stub.size(), sealAt, error);
  ok = ok && CheckArchiveIsFound(temporary, stub.size(), error);
  if (ok && std::rename(temporary.c_str(), job.output.c_str()) != 0)
    ok = Fail(error, job.output + ": cannot rename the finished file into place: " + std::strerror(errno));
  if (!ok) unlink(temporary.c_str());
  ReleaseTemporary(guard);
  return ok;
}
