// The uninstaller's rules: product files, rights, the registered location,
// the registry view and the command that removes the program's own file.
#include "removal.h"

#include <cstring>

#include "text.h"

bool IsProductFile(const char *name) {
  for (const char *file : ProductFiles)
    if (SameText(name, file)) return true;
  return false;
}

UninstallStart DecideUninstallStart(const Command &command, bool tokenElevated) {
  if (command.kind != COMMAND_UNINSTALL || tokenElevated) return UninstallStart::Proceed;
  return command.elevatedRestart ? UninstallStart::ElevationMissing : UninstallStart::RestartElevated;
}

// The program path at the start of an uninstall command, into out.
static bool ProgramOfCommand(const char *command, char *out, size_t outSize) {
  while (*command == ' ') command++;
  size_t length;
  if (*command == '"') {
    const char *end = strchr(++command, '"');
    if (!end) return false;
    length = size_t(end - command);
  } else {
    // Unquoted, the path may hold spaces: it ends at the last ".EXE" that
    // ends a word.
    const char *end = nullptr;
    for (const char *p = command; *p; p++)
      if (SameTextPrefix(p, ".EXE") && (p[4] == '\0' || p[4] == ' ')) end = p + 4;
    if (!end) return false;
    length = size_t(end - command);
  }
  if (length == 0 || length >= outSize) return false;
  memcpy(out, command, length);
  out[length] = '\0';
  return true;
}

bool RegisteredDirectory(const char *installLocation, const char *uninstallString, char *out,
                         size_t outSize) {
  if (outSize == 0) return false;
  out[0] = '\0';
  if (installLocation && installLocation[0]) {
    if (!JoinPath(out, outSize, installLocation, "") || !AddTrailingBackslash(out, outSize)) {
      out[0] = '\0';
      return false;
    }
    return true;
  }
  char program[PathCapacity];
  if (!uninstallString || !ProgramOfCommand(uninstallString, program, sizeof(program))) return false;
  return DirectoryOfPath(program, out, outSize);
}

// path as compared: "X:" made "X:\", then one trailing backslash dropped
// (never the root's).
static bool NormalDirectory(const char *path, char *out) {
  if (!path[0] || !JoinPath(out, PathCapacity, path, "")) return false;
  if (out[1] == ':' && out[2] == '\0' && !JoinPath(out, PathCapacity, out, "\\")) return false;
  RemoveTrailingBackslash(out);
  return true;
}

bool SameDirectory(const char *a, const char *b) {
  char normalA[PathCapacity], normalB[PathCapacity];
  return NormalDirectory(a, normalA) && NormalDirectory(b, normalB) && SameText(normalA, normalB);
}

void HelperDirectoryName(const uint8_t random[8], char *out, size_t outSize) {
  static const char Digits[] = "0123456789abcdef";
  char name[24] = "Kelvra-";
  for (unsigned i = 0; i < 8; i++) {
    name[7 + 2 * i] = Digits[random[i] >> 4];
    name[8 + 2 * i] = Digits[random[i] & 15];
  }
  name[23] = '\0';
  if (outSize == 0) return;
  out[0] = '\0';
  AppendText(out, outSize, name);
}

// Characters the interpreter treats specially even inside quotes: variable
// expansion, and a quote would end the quoted path early.
static bool SafeForInterpreter(const char *path) { return !strpbrk(path, "%\"") && path[0] != '\0'; }

// Appends path in quotes, less a final backslash: before the closing quote
// it would escape the quote for the starter's argument splitting.
static bool AppendQuotedDirectory(char *out, size_t outSize, const char *path) {
  size_t length = strlen(path);
  if (length > 1 && path[length - 1] == '\\') length--;
  return AppendText(out, outSize, "\"") && AppendBytes(out, outSize, path, length) &&
         AppendText(out, outSize, "\"");
}

bool BuildCleanupCommand(const char *helper, uint32_t processId, const char *directory,
                         const char *helperDirectory, char *out, size_t outSize) {
  if (outSize == 0) return false;
  out[0] = '\0';
  if (!SafeForInterpreter(helper) || !SafeForInterpreter(directory) || !SafeForInterpreter(helperDirectory))
    return false;
  bool fits = AppendText(out, outSize, "/d /v:off /c start \"\" /wait \"") &&
              AppendText(out, outSize, helper) && AppendText(out, outSize, "\" /CLEANUP ") &&
              AppendNumber(out, outSize, processId) && AppendText(out, outSize, " ") &&
              AppendQuotedDirectory(out, outSize, directory) && AppendText(out, outSize, " & rd /s /q ") &&
              AppendQuotedDirectory(out, outSize, helperDirectory);
  if (!fits) out[0] = '\0';
  return fits;
}
