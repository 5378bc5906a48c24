// Pure logic of KELVRA.EXE: counter arithmetic, units, graph scaling, the
// command line, and the paths and texts of the uninstaller. No Windows calls.
#include "meter.h"

#include <cctype>
#include <cstring>

// ---- Bounded text ----
// The program formats a handful of texts; these few lines spare it the C
// library's printf family and make every cut explicit.

// Appends the first `length` bytes of text to out (outSize bytes, holding a
// NUL-terminated string), as much as fits; false when something was cut.
static bool AppendBytes(char *out, size_t outSize, const char *text, size_t length) {
  const size_t used = strlen(out);
  const size_t room = outSize - 1 - used;
  const size_t taken = length < room ? length : room;
  memcpy(out + used, text, taken);
  out[used + taken] = '\0';
  return taken == length;
}

static bool AppendText(char *out, size_t outSize, const char *text) {
  return AppendBytes(out, outSize, text, strlen(text));
}

static bool AppendNumber(char *out, size_t outSize, uint64_t value) {
  char digits[20];
  size_t count = 0;
  do {
    digits[sizeof(digits) - 1 - count++] = char('0' + value % 10);
    value /= 10;
  } while (value);
  return AppendBytes(out, outSize, digits + sizeof(digits) - count, count);
}

// ---- Interface counters and rates ----

void StartCounters(CounterState &state) {
  memset(state.previous, 0, sizeof(state.previous));
  state.previousCount = 0;
  state.havePrevious = false;
}

uint64_t CounterDelta(uint64_t before, uint64_t after, unsigned counterBits) {
  if (counterBits >= 64) return after >= before ? after - before : 0;
  const uint64_t range = uint64_t(1) << counterBits;
  const uint64_t delta = (after - before) & (range - 1);
  return delta > range / 2 ? 0 : delta;
}

static const InterfaceSample *FindInterface(const CounterState &state, uint64_t id) {
  for (unsigned i = 0; i < state.previousCount; i++)
    if (state.previous[i].id == id) return &state.previous[i];
  return nullptr;
}

void TakeReading(CounterState &state, const InterfaceSample *now, unsigned count, uint64_t &receivedBytes,
                 uint64_t &sentBytes) {
  if (count > MaxInterfaces) count = MaxInterfaces;
  receivedBytes = 0;
  sentBytes = 0;
  for (unsigned i = 0; state.havePrevious && i < count; i++) {
    const InterfaceSample *before = FindInterface(state, now[i].id);
    if (!before || before->counterBits != now[i].counterBits) continue;
    receivedBytes += CounterDelta(before->inOctets, now[i].inOctets, now[i].counterBits);
    sentBytes += CounterDelta(before->outOctets, now[i].outOctets, now[i].counterBits);
  }
  memcpy(state.previous, now, count * sizeof(InterfaceSample));
  state.previousCount = count;
  state.havePrevious = true;
}

uint64_t RatePerSecond(uint64_t bytes, uint32_t elapsedMs) {
  if (elapsedMs == 0) return 0;
  // Split so that bytes * 1000 cannot overflow.
  return bytes / elapsedMs * 1000 + bytes % elapsedMs * 1000 / elapsedMs;
}

// ---- Units ----

void FormatRate(uint64_t bytesPerSecond, char *out, size_t outSize) {
  static const char *const Units[] = {" KB/s", " MB/s"};
  if (outSize == 0) return;
  out[0] = '\0';
  if (bytesPerSecond < 1024) {
    AppendNumber(out, outSize, bytesPerSecond);
    AppendText(out, outSize, " B/s");
    return;
  }
  uint64_t unitSize = 1024;
  unsigned unit = 0;
  for (;;) {
    // Tenths of the unit, rounded; below 100 units one decimal is shown.
    const uint64_t tenths =
        (bytesPerSecond / unitSize) * 10 + ((bytesPerSecond % unitSize) * 10 + unitSize / 2) / unitSize;
    if (tenths < 1000) {
      AppendNumber(out, outSize, tenths / 10);
      AppendText(out, outSize, ".");
      AppendNumber(out, outSize, tenths % 10);
      AppendText(out, outSize, Units[unit]);
      return;
    }
    const uint64_t whole = bytesPerSecond / unitSize + (bytesPerSecond % unitSize >= unitSize / 2 ? 1 : 0);
    if (whole < 1024 || unit + 1 == sizeof(Units) / sizeof(Units[0])) {
      AppendNumber(out, outSize, whole);
      AppendText(out, outSize, Units[unit]);
      return;
    }
    unitSize *= 1024;
    unit++;
  }
}

// ---- Graph ----

void StartHistory(RateHistory &history) {
  memset(history.received, 0, sizeof(history.received));
  memset(history.sent, 0, sizeof(history.sent));
  history.next = 0;
  history.count = 0;
}

void PushRates(RateHistory &history, uint64_t received, uint64_t sent) {
  history.received[history.next] = received;
  history.sent[history.next] = sent;
  history.next = (history.next + 1) % HistoryLength;
  if (history.count < HistoryLength) history.count++;
}

void HistoryAt(const RateHistory &history, unsigned age, uint64_t &received, uint64_t &sent) {
  const unsigned slot = (history.next + HistoryLength - 1 - age % HistoryLength) % HistoryLength;
  received = history.received[slot];
  sent = history.sent[slot];
}

uint64_t GraphFullScale(const RateHistory &history) {
  uint64_t peak = 0;
  for (unsigned age = 0; age < history.count; age++) {
    uint64_t received, sent;
    HistoryAt(history, age, received, sent);
    if (received > peak) peak = received;
    if (sent > peak) peak = sent;
  }
  // Steps that read as round numbers in the units FormatRate shows.
  static const unsigned Steps[] = {1, 2, 5, 10, 20, 50, 100, 200, 500};
  for (uint64_t unit = 1024; unit <= UINT64_MAX / 1024 / 500; unit *= 1024)
    for (unsigned step : Steps)
      if (step * unit >= peak) return step * unit;
  return peak;
}

int ScaleToHeight(uint64_t rate, uint64_t fullScale, int height) {
  if (height <= 0 || fullScale == 0) return 0;
  if (rate >= fullScale) return height;
  // Drop low bits of both until rate * height cannot overflow.
  while (fullScale > UINT32_MAX) {
    rate >>= 1;
    fullScale >>= 1;
  }
  const uint64_t scaled = (rate * uint64_t(height) + fullScale / 2) / fullScale;
  return int(scaled);
}

// ---- Command line ----

static const char *SkipBlanks(const char *p) {
  while (*p == ' ' || *p == '\t') p++;
  return p;
}

// Next word of the command line: quoted words lose their quotes. Returns the
// position after the word, or nullptr when the word does not fit in out.
static const char *TakeWord(const char *p, char *out, size_t outSize) {
  size_t length = 0;
  bool quoted = false;
  p = SkipBlanks(p);
  while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
    if (*p == '"') {
      quoted = !quoted;
      p++;
      continue;
    }
    if (length + 1 >= outSize) return nullptr;
    out[length++] = *p++;
  }
  out[length] = '\0';
  return p;
}

static bool SameText(const char *a, const char *b) {
  while (*a && std::toupper((unsigned char)*a) == std::toupper((unsigned char)*b)) a++, b++;
  return std::toupper((unsigned char)*a) == std::toupper((unsigned char)*b);
}

static bool ParseCleanup(const char *p, Command &command) {
  char number[16];
  p = TakeWord(p, number, sizeof(number));
  if (!p || !number[0]) return false;
  uint64_t pid = 0;
  for (const char *d = number; *d; d++) {
    if (*d < '0' || *d > '9') return false;
    pid = pid * 10 + unsigned(*d - '0');
    if (pid > UINT32_MAX) return false;
  }
  // One byte kept back for the backslash that the directory gets.
  p = TakeWord(p, command.directory, sizeof(command.directory) - 1);
  if (!p || !command.directory[0] || *SkipBlanks(p)) return false;
  const size_t length = strlen(command.directory);
  if (command.directory[length - 1] != '\\') strcpy(command.directory + length, "\\");
  command.waitProcessId = uint32_t(pid);
  return true;
}

Command ParseCommandLine(const char *commandLine) {
  Command command;
  command.kind = COMMAND_METER;
  command.waitProcessId = 0;
  command.directory[0] = '\0';
  char word[16];
  const char *p = commandLine ? commandLine : "";
  while (*SkipBlanks(p)) {
    p = TakeWord(p, word, sizeof(word));
    if (!p) return command;  // too long to be a switch of ours
    if (SameText(word, "/UNINSTALL")) {
      command.kind = COMMAND_UNINSTALL;
      return command;
    }
    if (SameText(word, "/CLEANUP")) {
      if (ParseCleanup(p, command))
        command.kind = COMMAND_CLEANUP;
      else
        command.directory[0] = '\0';
      return command;
    }
  }
  return command;
}

// ---- Uninstall ----

const char *const ProductFiles[ProductFileCount] = {
    "KELVRA.EXE", "KELVRA.HLP", "KELVRA.INI", "README.TXT", "LICENSE.TXT",
};

bool IsProductFile(const char *name) {
  for (const char *file : ProductFiles)
    if (SameText(name, file)) return true;
  return false;
}

bool DirectoryOfPath(const char *path, char *out, size_t outSize) {
  if (outSize == 0) return false;
  out[0] = '\0';
  const char *slash = strrchr(path, '\\');
  if (!slash) return false;
  const size_t length = size_t(slash - path) + 1;
  if (length >= outSize) return false;
  memcpy(out, path, length);
  out[length] = '\0';
  return true;
}

bool AddBackslash(char *path, size_t pathSize) {
  const size_t length = strlen(path);
  if (length == 0 || path[length - 1] == '\\') return true;
  if (length + 2 > pathSize) return false;
  path[length] = '\\';
  path[length + 1] = '\0';
  return true;
}

void RemoveTrailingBackslash(char *path) {
  const size_t length = strlen(path);
  if (length < 2 || path[length - 1] != '\\' || (length == 3 && path[1] == ':')) return;
  path[length - 1] = '\0';
}

bool JoinPath(const char *first, const char *second, char *out, size_t outSize) {
  if (outSize == 0) return false;
  const size_t a = strlen(first), b = strlen(second);
  if (a + b >= outSize) {
    out[0] = '\0';
    return false;
  }
  memmove(out, first, a);
  memcpy(out + a, second, b + 1);
  return true;
}

// Characters the interpreter treats specially even inside quotes: variable
// expansion, and a quote would end the quoted path early.
static bool SafeForInterpreter(const char *path) { return !strpbrk(path, "%\"") && path[0] != '\0'; }

bool BuildCleanupCommand(const char *helper, uint32_t processId, const char *directory, char *out,
                         size_t outSize) {
  if (outSize == 0) return false;
  out[0] = '\0';
  if (!SafeForInterpreter(helper) || !SafeForInterpreter(directory)) return false;
  // A backslash before the closing quote would escape the quote for the
  // starter's argument splitting, so the directory goes without it.
  size_t dirLength = strlen(directory);
  if (directory[dirLength - 1] == '\\') dirLength--;
  bool fits = AppendText(out, outSize, "/d /c start \"\" /wait \"") && AppendText(out, outSize, helper) &&
              AppendText(out, outSize, "\" /CLEANUP ") && AppendNumber(out, outSize, processId) &&
              AppendText(out, outSize, " \"") && AppendBytes(out, outSize, directory, dirLength) &&
              AppendText(out, outSize, "\" & del /f /q \"") && AppendText(out, outSize, helper) &&
              AppendText(out, outSize, "\"");
  if (!fits) out[0] = '\0';
  return fits;
}

void StartOutcome(UninstallOutcome &outcome) {
  memset(outcome.failedFiles, 0, sizeof(outcome.failedFiles));
  outcome.failedFileCount = 0;
  outcome.keyFailed = false;
  outcome.shortcutsFailed = false;
  outcome.selfRemovalAtRestart = false;
  outcome.userFilesKept = false;
}

void AddFailedFile(UninstallOutcome &outcome, const char *name) {
  if (outcome.failedFileCount == ProductFileCount) return;
  char *slot = outcome.failedFiles[outcome.failedFileCount++];
  slot[0] = '\0';
  AppendText(slot, sizeof(outcome.failedFiles[0]), name);
}

bool DescribeOutcome(const UninstallOutcome &outcome, char *out, size_t outSize) {
  if (outSize == 0) return false;
  out[0] = '\0';
  const bool complete = outcome.failedFileCount == 0 && !outcome.keyFailed && !outcome.shortcutsFailed;
  AppendText(
      out, outSize,
      complete ? "Kelvra has been removed from your computer." : "Kelvra could not be removed completely.");
  if (outcome.failedFileCount) {
    AppendText(out, outSize, "\n\nThese files could not be deleted:");
    for (unsigned i = 0; i < outcome.failedFileCount; i++) {
      AppendText(out, outSize, "\n    ");
      AppendText(out, outSize, outcome.failedFiles[i]);
    }
  }
  if (outcome.shortcutsFailed) AppendText(out, outSize, "\n\nThe Start menu shortcuts could not be deleted.");
  if (outcome.keyFailed)
    AppendText(out, outSize,
               "\n\nThe entry in the list of installed programs could not be deleted."
               " Removing it may need administrator rights.");
  if (outcome.selfRemovalAtRestart)
    AppendText(out, outSize, "\n\nKELVRA.EXE will be deleted when Windows restarts.");
  if (outcome.userFilesKept)
    AppendText(out, outSize,
               "\n\nFiles that were not installed by Kelvra have been left in the installation folder.");
  return complete;
}
