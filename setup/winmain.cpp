// The process's GUI entry: guards the DLL search, records who we are and
// runs the setup. The exit code is 0 whatever happened; the user has been
// told everything through message boxes.
#include "setup.h"

#include "resource.h"

// A setup file usually runs from a download folder where anyone may have
// left a DLL of a system name; from here on only System32 is searched.
// Looked up at run time so that systems without the call still start.
static void RestrictDllSearch() {
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == NULL) return;
  auto setDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDirectories != NULL) setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  RestrictDllSearch();
  setupState.instance = instance;
  DWORD length = GetModuleFileNameA(NULL, setupState.setupPath, sizeof setupState.setupPath);
  if (length >= sizeof setupState.setupPath)
    setupState.setupPath[0] = '\0';  // cut short: opening it fails and says so
  RunSetup();
  return 0;
}
