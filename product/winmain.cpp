// Entry of KELVRA.EXE: picks the meter, the uninstaller or its cleanup helper.
#include "product.h"

#include "dllsearch.h"

// A plain file-scope value: a function-local static would pull in the
// runtime's thread-safe initialisation guard and, with it, half of libstdc++.
static UINT exitMessage;

UINT ExitMessage() {
  if (exitMessage == 0) exitMessage = RegisterWindowMessageA(ExitMessageName);
  return exitMessage;
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
