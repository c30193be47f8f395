// Veltaspar.scr: the exports the platform's screen-saver library calls; it
// supplies the entry point, the modes and the window class.
#include <windows.h>
#include <scrnsave.h>

#include "screensaver/screenhost.h"

#include "resources/resource.h"
#include "screensaver/saver.h"

LRESULT WINAPI ScreenSaverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    bool handled = false;
    LRESULT result = HandleSaverMessage(&gSaver, window, message, wParam, lParam, &handled);
    return handled ? result : DefScreenSaverProc(window, message, wParam, lParam);
}

// Configuration lives in the main program; this only says so.
BOOL WINAPI ScreenSaverConfigureDialog(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message != WM_INITDIALOG)
        return FALSE;
    char text[512];
    if (!LoadStringA(GetModuleHandleA(0), IDS_SAVER_CONFIGURE, text, sizeof text))
        text[0] = 0;
    MessageBoxA(dialog, text, SAVER_PRODUCT_NAME, MB_OK | MB_ICONWARNING);
    EndDialog(dialog, IDCANCEL);
    return TRUE;
}

BOOL WINAPI RegisterDialogClasses(HANDLE)
{
    return TRUE;
}
