// Entry point of Veltaspar.scr: runs the screen saver full screen, in the
// control panel's preview, or opens the configuration dialog.
#include <windows.h>
#include <scrnsave.h>

#include "resources/resource.h"
#include "screensaver/screenhost.h"

// The host quits its loop when the window goes; the module sees every message.
static LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
        hMainWindow = window;
    if (message == WM_DESTROY)
        PostQuitMessage(0);
    return ScreenSaverProc(window, message, wParam, lParam);
}

static bool RegisterHostClass(HINSTANCE instance)
{
    WNDCLASSA wc = {};
    wc.style = CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = HostWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_PROGRAM));
    wc.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    wc.lpszClassName = SAVER_WINDOW_CLASS;
    return RegisterClassA(&wc) != 0;
}

static HWND CreateHostWindow(HINSTANCE instance, HWND parent)
{
    if (parent) {
        RECT client;
        GetClientRect(parent, &client);
        return CreateWindowExA(0, SAVER_WINDOW_CLASS, "Preview", WS_CHILD | WS_VISIBLE, 0, 0,
                               client.right, client.bottom, parent, 0, instance, 0);
    }
    return CreateWindowExA(WS_EX_TOPMOST, SAVER_WINDOW_CLASS, "Screen saver",
                           WS_POPUP | WS_VISIBLE, GetSystemMetrics(SM_XVIRTUALSCREEN),
                           GetSystemMetrics(SM_YVIRTUALSCREEN),
                           GetSystemMetrics(SM_CXVIRTUALSCREEN),
                           GetSystemMetrics(SM_CYVIRTUALSCREEN), 0, 0, instance, 0);
}

static int RunSaverWindow(HINSTANCE instance, HWND parent)
{
    fChildPreview = parent != 0;
    ResetSaverInput();
    if (!RegisterDialogClasses(instance) || !RegisterHostClass(instance))
        return 1;
    BOOL previous = FALSE;
    if (!parent)
        SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, TRUE, &previous, 0);
    HWND window = CreateHostWindow(instance, parent);
    if (window) {
        SetForegroundWindow(window);
        MSG message;
        while (GetMessageA(&message, 0, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    if (!parent)
        SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, FALSE, &previous, 0);
    return window ? 0 : 1;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    hMainInstance = instance;
    HWND parent = 0;
    switch (ParseSaverCommandLine(commandLine, &parent)) {
    case SAVER_MODE_RUN:
        return RunSaverWindow(instance, 0);
    case SAVER_MODE_PREVIEW:
        return RunSaverWindow(instance, parent);
    case SAVER_MODE_PASSWORD:
        return 0;
    }
    if (!RegisterDialogClasses(instance))
        return 1;
    DialogBoxParamA(instance, MAKEINTRESOURCEA(DLG_SCRNSAVECONFIGURE), parent,
                    (DLGPROC)ScreenSaverConfigureDialog, 0);
    return 0;
}
