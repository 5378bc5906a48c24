// Entry of KELVRA.EXE: picks the meter, the uninstaller or its cleanup helper.
#include "product.h"

// A plain file-scope value: a function-local static would pull in the
// runtime's thread-safe initialisation guard and, with it, half of libstdc++.
static UINT exitMessage;

UINT ExitMessage() {
  if (exitMessage == 0) exitMessage = RegisterWindowMessageA("KelvraExit");
  return exitMessage;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showState) {
  const Command command = ParseCommandLine(commandLine);
  switch (command.kind) {
    case COMMAND_UNINSTALL:
      return RunUninstall();
    case COMMAND_CLEANUP:
      return RunCleanup(command);
    default:
      return RunMeter(instance, showState);
  }
}
