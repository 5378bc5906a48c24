#include "dllsearch.h"

#include <windows.h>

void RestrictDllSearch() {
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  SetDefaultDllDirectoriesFn setDirectories = nullptr;
  if (kernel != NULL)
    setDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDirectories == nullptr || !setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryA("");
}
