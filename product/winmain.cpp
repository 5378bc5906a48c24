// Entry of KELVRA.EXE: picks the meter, the uninstaller or its cleanup helper.
#include "product.h"

UINT ExitMessage()
{
    static UINT message = RegisterWindowMessageA("KelvraExit");
    return message;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showState)
{
    const Command command = ParseCommandLine(commandLine);
    switch (command.kind) {
    case COMMAND_UNINSTALL: return RunUninstall();
    case COMMAND_CLEANUP: return RunCleanup(command);
    default: return RunMeter(instance, showState);
    }
}
