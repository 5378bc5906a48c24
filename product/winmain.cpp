// KELVRA.EXE entry: the meter window, or the uninstaller with /UNINSTALL.
#include <windows.h>

#include "meter.h"

static UINT exitMessage;  // "KelvraExit", shared by every process that registers it

static LRESULT CALLBACK MeterWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == exitMessage && exitMessage != 0) {
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showState)
{
    exitMessage = RegisterWindowMessageA("KelvraExit");
    if (IsUninstallCommand(commandLine)) return 0;

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = MeterWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "KelvraMeter";
    if (!RegisterClassA(&windowClass)) return 1;

    HWND window = CreateWindowExA(0, "KelvraMeter", "Kelvra", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 320, 200, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    ShowWindow(window, showState);
    UpdateWindow(window);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
