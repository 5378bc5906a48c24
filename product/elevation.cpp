// The rights the uninstaller runs with. The program's manifest asks for
// none (asInvoker), so the meter runs with the user's normal rights; the
// uninstaller, which must write to Program Files and HKLM, restarts itself
// with "runas" when its token is not elevated.
#include "product.h"

int RunElevatedCopy(const char *arguments) {
  char self[PathCapacity], parameters[2 * PathCapacity + 64], directory[PathCapacity];
  const DWORD selfLength = GetModuleFileNameA(nullptr, self, sizeof(self));
  if (selfLength == 0 || selfLength >= sizeof(self)) return -1;
  if (!BuildElevatedArguments(arguments, parameters, sizeof(parameters))) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return -1;
  }
  // A relative log name means the same file to the restarted copy.
  const DWORD directoryLength = GetCurrentDirectoryA(sizeof(directory), directory);
  SHELLEXECUTEINFOA run = {};
  run.cbSize = sizeof(run);
  run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  run.lpVerb = "runas";
  run.lpFile = self;
  run.lpParameters = parameters;
  run.lpDirectory = directoryLength && directoryLength < sizeof(directory) ? directory : nullptr;
  run.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExA(&run)) return GetLastError() == ERROR_CANCELLED ? ElevationDeclinedExitCode : -1;
  if (!run.hProcess) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  WaitForSingleObject(run.hProcess, INFINITE);
  DWORD code = 1;
  if (!GetExitCodeProcess(run.hProcess, &code)) code = 1;
  CloseHandle(run.hProcess);
  return int(code);
}
