// The command-line parser of KELVRA.EXE: words, switches and the cleanup
// helper's arguments. Everything it reads is untrusted.
#include "commandline.h"

#include <cstring>

#include "text.h"

// Next word of the command line, its quotes dropped. Returns the position
// after the word; ok is false (out holding what fitted) when the word is
// longer than outSize - 1 or its quotes break the rule.
static const char *TakeWord(const char *p, char *out, size_t outSize, bool &ok) {
  ArgumentRead read;
  p = ReadArgument(p, out, outSize, &read);
  ok = read == ArgumentRead::Ok;
  return p;
}

// The switch named `name` (without its '/'), given with '/' or '-'.
static bool IsSwitch(const char *word, const char *name) {
  return (word[0] == '/' || word[0] == '-') && SameText(word + 1, name);
}

static bool ParseCleanup(const char *p, Command &command) {
  char number[16];
  bool ok;
  p = TakeWord(p, number, sizeof(number), ok);
  if (!ok || !number[0]) return false;
  uint64_t pid = 0;
  for (const char *d = number; *d; d++) {
    if (*d < '0' || *d > '9') return false;
    pid = pid * 10 + unsigned(*d - '0');
    if (pid > UINT32_MAX) return false;
  }
  // One byte kept back for the backslash that the directory gets.
  p = TakeWord(p, command.directory, sizeof(command.directory) - 1, ok);
  if (!ok || !command.directory[0] || *SkipBlanks(p)) return false;
  const size_t length = strlen(command.directory);
  if (command.directory[length - 1] != '\\') strcpy(command.directory + length, "\\");
  command.waitProcessId = uint32_t(pid);
  return true;
}

// "/LOG=file": the name goes to command.logFile; false when it is empty or
// does not fit.
static bool ParseLogSwitch(const char *word, Command &command) {
  const char *name = word + 5;
  if (!name[0] || strlen(name) >= sizeof(command.logFile)) return false;
  strcpy(command.logFile, name);
  return true;
}

Command ParseCommandLine(const char *commandLine) {
  Command command = {};
  command.kind = COMMAND_METER;
  bool uninstall = false, unknown = false;
  // Room for "/LOG=" and the longest path, and one byte to notice a longer one.
  char word[PathCapacity + 8];
  const char *p = commandLine ? commandLine : "";
  while (*SkipBlanks(p)) {
    bool ok;
    p = TakeWord(p, word, sizeof(word), ok);
    if (!ok)
      unknown = true;
    else if (IsSwitch(word, UninstallSwitch + 1))
      uninstall = true;
    else if (IsSwitch(word, "S"))
      command.silent = true;
    else if (IsSwitch(word, ElevatedSwitch + 1))
      command.elevatedRestart = true;
    else if ((word[0] == '/' || word[0] == '-') && SameTextPrefix(word + 1, "LOG="))
      unknown = !ParseLogSwitch(word, command) || unknown;
    else if (IsSwitch(word, "CLEANUP")) {
      if (uninstall) return command.kind = COMMAND_INVALID, command;
      Command cleanup = {};
      cleanup.kind = ParseCleanup(p, cleanup) ? COMMAND_CLEANUP : COMMAND_METER;
      if (cleanup.kind != COMMAND_CLEANUP) cleanup.directory[0] = '\0';
      return cleanup;
    } else
      unknown = true;
  }
  if (uninstall) command.kind = unknown ? COMMAND_INVALID : COMMAND_UNINSTALL;
  return command;
}

bool BuildElevatedArguments(const char *arguments, char *out, size_t outSize) {
  if (outSize == 0) return false;
  out[0] = '\0';
  const bool fits = AppendText(out, outSize, ElevatedSwitch) && AppendText(out, outSize, " ") &&
                    AppendText(out, outSize, arguments ? arguments : "");
  if (!fits) out[0] = '\0';
  return fits;
}
