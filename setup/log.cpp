// The install log asked for with /LOG=file: plain text appended line by
// line, so that a deployment tool that runs the setup again keeps the
// earlier runs. A log that cannot be opened is no reason to fail an install;
// the exit code still tells the outcome.
#include "setup.h"

#include <stdarg.h>

static HANDLE logFile = INVALID_HANDLE_VALUE;  // open from OpenSetupLog to CloseSetupLog

static void WriteBytes(const char *bytes, DWORD length) {
  DWORD written = 0;
  if (logFile != INVALID_HANDLE_VALUE) WriteFile(logFile, bytes, length, &written, NULL);
}

void OpenSetupLog(const char *path) {
  if (path[0] == '\0') return;
  // Appending access only: every write lands at the end, also when two
  // setups share one log.
  logFile = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, NULL);
  SYSTEMTIME now;
  GetLocalTime(&now);
  LogLine("%04u-%02u-%02u %02u:%02u:%02u %s", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
          now.wSecond, LogHeading);
}

void CloseSetupLog() {
  if (logFile != INVALID_HANDLE_VALUE) CloseHandle(logFile);
  logFile = INVALID_HANDLE_VALUE;
}

// A line of at most 1024 characters: the formatter's own bound. Paths fit.
void LogLine(const char *format, ...) {
  if (logFile == INVALID_HANDLE_VALUE) return;
  char line[1024 + 2];
  va_list arguments;
  va_start(arguments, format);
  int length = wvsprintfA(line, format, arguments);
  va_end(arguments);
  if (length < 0) return;
  line[length] = '\r';
  line[length + 1] = '\n';
  WriteBytes(line, static_cast<DWORD>(length + 2));
}

void LogText(const char *label, const char *text) {
  WriteBytes(label, static_cast<DWORD>(lstrlenA(label)));
  WriteBytes(text, static_cast<DWORD>(lstrlenA(text)));
  WriteBytes("\r\n", 2);
}
