// The setup's command line: switches, their values in the quoted forms that
// launchers produce, and the decisions and path rules of the unattended
// mode. No system call; every writer is bounded by its buffer.
#include "cmdline.h"

#include <cstring>

static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

static const char *SkipBlanks(const char *p) {
  while (IsBlank(*p)) p++;
  return p;
}

static char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether text[0..length) is name, ignoring ASCII case.
static bool SameWord(const char *text, std::size_t length, const char *name) {
  if (std::strlen(name) != length) return false;
  for (std::size_t i = 0; i < length; i++)
    if (LowerAscii(text[i]) != LowerAscii(name[i])) return false;
  return true;
}

static bool StartsWithWord(const char *text, const char *prefix) {
  std::size_t length = std::strlen(prefix);
  for (std::size_t i = 0; i < length; i++)
    if (text[i] == '\0' || LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
  return true;
}

// The program's own name ends at its closing quote, or unquoted at the
// first blank, as the system's own rule for the first word has it.
static const char *SkipProgramName(const char *line) {
  if (*line == '"') {
    line = std::strchr(line + 1, '"');
    return line ? line + 1 : "";
  }
  while (*line != '\0' && !IsBlank(*line)) line++;
  return line;
}

static const char *SkipWord(const char *p) {
  while (*p != '\0' && !IsBlank(*p)) p++;
  return p;
}

// Reads a switch's value starting at value. quotedWord: the whole switch
// was quoted ("/D=a b"), so the value ends at the closing quote; a value
// that itself starts with a quote (/D="a b") likewise. Unquoted, the value
// ends at a blank, or with toEnd at the end of the line (trailing blanks
// dropped). Returns where parsing goes on, or nullptr when the value is
// empty, unterminated, followed by anything but a blank, holds a quote (no
// path may), or, when cut is false, does not fit out.
static const char *ReadValue(const char *value, bool quotedWord, bool toEnd, bool cut, char *out) {
  const char *end;
  const char *next;
  if (quotedWord || *value == '"') {
    if (!quotedWord) value++;
    end = std::strchr(value, '"');
    if (end == nullptr) return nullptr;
    next = end + 1;
    if (*next != '\0' && !IsBlank(*next)) return nullptr;
    if (toEnd && *SkipBlanks(next) != '\0') return nullptr;
  } else if (toEnd) {
    end = value + std::strlen(value);
    while (end > value && IsBlank(end[-1])) end--;
    next = end;
  } else {
    end = SkipWord(value);
    next = end;
  }
  std::size_t length = static_cast<std::size_t>(end - value);
  if (length == 0 || std::memchr(value, '"', length) != nullptr) return nullptr;
  if (length > PathCapacity - 1) {
    if (!cut) return nullptr;
    length = PathCapacity - 1;
  }
  std::memcpy(out, value, length);
  out[length] = '\0';
  return next;
}

// Any word that is /S on its own, quoted, half-quoted or not.
static bool MentionsSilent(const char *p) {
  for (p = SkipBlanks(p); *p != '\0'; p = SkipBlanks(SkipWord(p))) {
    const char *end = SkipWord(p);
    const char *word = p;
    if (word < end && word[0] == '"') word++;
    if (word < end && end[-1] == '"') end--;
    if (end - word == 2 && (word[0] == '/' || word[0] == '-') && LowerAscii(word[1]) == 's') return true;
  }
  return false;
}

void ParseSetupCommandLine(const char *commandLine, SetupOptions *options) {
  std::memset(options, 0, sizeof *options);
  const char *arguments = SkipProgramName(commandLine);
  const char *p = SkipBlanks(arguments);
  while (*p != '\0' && !options->malformed) {
    bool quotedWord = *p == '"';
    const char *word = p + quotedWord;
    if (*word != '/' && *word != '-') {
      options->malformed = true;
      break;
    }
    const char *name = word + 1;
    if (StartsWithWord(name, "D=")) {
      // The destination takes the rest of the line, so nothing may follow.
      options->haveDestination = true;
      if (ReadValue(name + 2, quotedWord, true, true, options->destination) == nullptr)
        options->malformed = true;
      break;
    }
    if (StartsWithWord(name, "LOG=")) {
      const char *next = options->logFile[0] == '\0'
                             ? ReadValue(name + 4, quotedWord, false, false, options->logFile)
                             : nullptr;  // two logs: which one the caller meant is unknown
      if (next == nullptr) options->malformed = true;
      p = next ? SkipBlanks(next) : p;
      continue;
    }
    const char *end = quotedWord ? std::strchr(name, '"') : SkipWord(name);
    if (end == nullptr || (quotedWord && end[1] != '\0' && !IsBlank(end[1]))) {
      options->malformed = true;
      break;
    }
    std::size_t length = static_cast<std::size_t>(end - name);
    if (SameWord(name, length, "S"))
      options->silent = true;
    else if (SameWord(name, length, "?"))
      options->help = true;
    else
      options->malformed = true;
    p = SkipBlanks(end + quotedWord);
  }
  if (options->malformed && MentionsSilent(arguments)) options->silent = true;
}

StartDecision DecideStart(const SetupOptions &options) {
  if (options.malformed || options.help)
    return options.silent ? StartDecision::ExitAtOnce : StartDecision::ShowUsage;
  return options.silent ? StartDecision::RunSilent : StartDecision::RunDialog;
}

int UsageExitCode(const SetupOptions &options) {
  return options.malformed ? ExitBadCommandLine : ExitInstalled;
}

const char *ExitCodeName(int code) {
  switch (code) {
    case ExitInstalled:
      return "installed";
    case ExitBadCommandLine:
      return "bad command line";
    case ExitCancelled:
      return "cancelled by the user";
    case ExitFailed:
      return "install failed";
    case ExitAlreadyRunning:
      return "another setup is running";
    case ExitRestartNeeded:
      return "installed, finishes at the next restart";
  }
  return "unknown";
}

std::size_t FullPathRootLength(const char *path) {
  bool letter = (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
  if (letter && path[1] == ':' && path[2] == '\\') return 3;
  if (path[0] != '\\' || path[1] != '\\') return 0;
  // \\server\share: both names non-empty; "\\?\" and "\\.\" name devices
  // and namespaces, not folders to create.
  const char *server = path + 2;
  const char *serverEnd = std::strchr(server, '\\');
  if (serverEnd == nullptr || serverEnd == server) return 0;
  if (serverEnd - server == 1 && (server[0] == '?' || server[0] == '.')) return 0;
  const char *share = serverEnd + 1;
  const char *shareEnd = std::strchr(share, '\\');
  if (shareEnd == share) return 0;
  if (shareEnd == nullptr) return std::strlen(path);
  return static_cast<std::size_t>(shareEnd + 1 - path);
}

std::uint32_t KilobytesFor(std::uint64_t bytes) {
  std::uint64_t kilobytes = bytes / 1024 + (bytes % 1024 != 0);
  return kilobytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(kilobytes);
}

bool BuildQuietUninstallCommand(const char *directory, char *out, std::size_t capacity) {
  char program[PathCapacity];
  return BuildProgramCommand(directory, program, sizeof program) &&
         JoinPath(out, capacity, program, UninstallSwitch, " /S");
}

bool CopyInstallLocation(const char *directory, char *out, std::size_t capacity) {
  // The shared rule for a final backslash, applied before the copy so that
  // out needs room only for what is kept.
  char location[PathCapacity];
  if (!JoinPath(location, sizeof location, directory, "")) return false;
  RemoveTrailingBackslash(location);
  return JoinPath(out, capacity, location, "");
}
