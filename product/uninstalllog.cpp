// "/LOG=file": a plain-text account of an uninstall for whoever ran it
// unattended. Each line is appended and the file closed again at once, so
// that the elevated copy can write to the same file and a line written
// before a failure is not lost. A log that cannot be written changes
// nothing else.
#include "product.h"
#include "trustwin.h"

static char logPath[PathCapacity];  // empty: no log asked for

void StartLog(const char *path) {
  logPath[0] = '\0';
  if (path) JoinPath(logPath, sizeof(logPath), path, "");
}

void LogLine(const char *text, const char *detail, DWORD error) {
  if (!logPath[0]) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  char line[3 * PathCapacity];
  wsprintfA(line, "%04u-%02u-%02u %02u:%02u:%02u ", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
            now.wSecond);
  AppendText(line, sizeof(line), text);
  AppendText(line, sizeof(line), detail);
  if (error) {
    char code[32];
    wsprintfA(code, " (error %lu)", error);
    AppendText(line, sizeof(line), code);
  }
  AppendText(line, sizeof(line), "\r\n");
  const char *refusal;  // a link, or someone else's file: the elevated uninstaller writes no log there
  HANDLE file = OpenLogForAppend(logPath, &refusal);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(file, line, DWORD(lstrlenA(line)), &written, nullptr);
  CloseHandle(file);
}
