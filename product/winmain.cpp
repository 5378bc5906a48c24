// Entry of KELVRA.EXE: picks the meter, the uninstaller or its cleanup helper.
#include "product.h"

// A plain file-scope value: a function-local static would pull in the
// runtime's thread-safe initialisation guard and, with it, half of libstdc++.
static UINT exitMessage;

UINT ExitMessage() {
  if (exitMessage == 0) exitMessage = RegisterWindowMessageA("KelvraExit");
  return exitMessage;
}

// DLLs loaded by name come from System32 only, never from the program's or
// the current directory, where a planted copy would run with the program's
// rights (an administrator's, for the uninstaller). The call is looked up:
// Windows 7 has it only with an update; there, the current directory at
// least leaves the search.
static void RestrictDllSearch() {
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD flags);
  const auto setDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
  if (!setDirectories || !setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryA("");
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showState) {
  RestrictDllSearch();
  const Command command = ParseCommandLine(commandLine);
  switch (command.kind) {
    case COMMAND_UNINSTALL:
      return RunUninstall(command, commandLine);
    case COMMAND_INVALID:
      if (!command.silent)
        MessageBoxA(nullptr,
                    "KELVRA.EXE /UNINSTALL [/S] [/LOG=file]\n\n"
                    "/UNINSTALL\tremoves Kelvra\n/S\twithout questions or messages\n"
                    "/LOG=file\tappends an account of the removal to the file",
                    Caption, MB_ICONINFORMATION);
      return ERROR_INVALID_PARAMETER;
    case COMMAND_CLEANUP:
      return RunCleanup(command);
    default:
      return RunMeter(instance, showState);
  }
}
