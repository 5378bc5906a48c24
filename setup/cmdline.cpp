// The setup's command line: switches, their values in the quoted forms that
// launchers produce, and the decisions and path rules of the unattended
// mode. No system call; every writer is bounded by its buffer.
#include "cmdline.h"

#include <cstring>

#include "text.h"

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

// Copies a switch's value into out (PathCapacity bytes), cut to fit when cut
// is set. False when it is empty, holds a quote (no path may) or, without
// cut, does not fit.
static bool TakeValue(const char *value, std::size_t length, bool cut, char *out) {
  if (length == 0 || std::memchr(value, '"', length) != nullptr) return false;
  if (length > PathCapacity - 1) {
    if (!cut) return false;
    length = PathCapacity - 1;
  }
  std::memcpy(out, value, length);
  out[length] = '\0';
  return true;
}

// "/D=" at p, which takes the rest of the line: quoted as ReadArgument
// allows and followed by blanks only, or unquoted up to the end of the line
// with the trailing blanks dropped, spaces and all. Cut to fit: the install
// refuses a path that long.
static bool ParseDestination(const char *p, char *out) {
  if (*p != '"' && p[3] != '"') {
    const char *end = p + std::strlen(p);
    while (end > p && IsBlank(end[-1])) end--;
    return TakeValue(p + 3, static_cast<std::size_t>(end - p - 3), true, out);
  }
  char word[PathCapacity + 8];
  ArgumentRead read;
  const char *next = ReadArgument(p, word, sizeof word, &read);
  if (read == ArgumentRead::BadQuote || *SkipBlanks(next) != '\0') return false;
  return TakeValue(word + 3, std::strlen(word + 3), true, out);
}

// Any word that is /S on its own, quoted, half-quoted or not.
static bool MentionsSilent(const char *p) {
  for (p = SkipBlanks(p); *p != '\0'; p = SkipBlanks(SkipWord(p))) {
    const char *end = SkipWord(p);
    const char *word = p;
    if (word < end && word[0] == '"') word++;
    if (word < end && end[-1] == '"') end--;
    if (end - word == 2 && (word[0] == '/' || word[0] == '-') && FoldCase(word[1]) == 'S') return true;
  }
  return false;
}

void ParseSetupCommandLine(const char *commandLine, SetupOptions *options) {
  std::memset(options, 0, sizeof *options);
  const char *arguments = SkipProgramName(commandLine);
  const char *p = SkipBlanks(arguments);
  while (*p != '\0' && !options->malformed) {
    const char *unquoted = p + (*p == '"');
    if ((*unquoted == '/' || *unquoted == '-') && SameTextPrefix(unquoted + 1, "D=")) {
      // The destination takes the rest of the line, so nothing may follow.
      options->haveDestination = true;
      options->malformed = !ParseDestination(p, options->destination);
      break;
    }
    // Room for "/LOG=", the longest path and one byte to notice a longer one.
    char word[PathCapacity + 8];
    ArgumentRead read;
    p = SkipBlanks(ReadArgument(p, word, sizeof word, &read));
    if (read != ArgumentRead::Ok || (word[0] != '/' && word[0] != '-')) {
      options->malformed = true;
    } else if (SameTextPrefix(word + 1, "LOG=")) {
      // Two logs: which one the caller meant is unknown.
      options->malformed =
          options->logFile[0] != '\0' || !TakeValue(word + 5, std::strlen(word + 5), false, options->logFile);
    } else if (SameText(word + 1, "S")) {
      options->silent = true;
    } else if (SameText(word + 1, "?")) {
      options->help = true;
    } else {
      options->malformed = true;
    }
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
