// Command line and input rules of the screen-saver host, written here
// because the platform's screen-saver library is not available to link.
#include "screensaver/screenhost.h"

#include <ctype.h>
#include <stdlib.h>

HINSTANCE hMainInstance;
HWND hMainWindow;
BOOL fChildPreview;

static POINT gFirstMouse;
static bool gMouseSeen;

void ResetSaverInput()
{
    gMouseSeen = false;
}

static HWND ParseWindowNumber(const char *text)
{
    while (*text == ' ' || *text == ':')
        text++;
    return (HWND)(uintptr_t)strtoul(text, 0, 10);
}

int ParseSaverCommandLine(const char *commandLine, HWND *parent)
{
    *parent = 0;
    const char *p = commandLine ? commandLine : "";
    while (*p && *p != '/' && *p != '-')
        p++;
    if (!*p)
        return SAVER_MODE_CONFIGURE;
    char letter = (char)tolower((unsigned char)p[1]);
    if (letter == 's')
        return SAVER_MODE_RUN;
    *parent = ParseWindowNumber(p + 2);
    if (letter == 'p' || letter == 'l')
        return *parent ? SAVER_MODE_PREVIEW : SAVER_MODE_CONFIGURE;
    if (letter == 'a')
        return SAVER_MODE_PASSWORD;
    return SAVER_MODE_CONFIGURE;
}

// The first mouse message only records where the pointer rests.
static bool MouseMovedAway(LPARAM lParam)
{
    POINT at = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
    if (!gMouseSeen) {
        gFirstMouse = at;
        gMouseSeen = true;
        return false;
    }
    return abs(at.x - gFirstMouse.x) > SAVER_MOUSE_SLACK ||
           abs(at.y - gFirstMouse.y) > SAVER_MOUSE_SLACK;
}

static bool EndsTheSaver(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_MOUSEMOVE:
        return MouseMovedAway(lParam);
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        return true;
    case WM_ACTIVATEAPP:
        return wParam == FALSE;
    }
    return false;
}

LRESULT WINAPI DefScreenSaverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (fChildPreview)
        return DefWindowProcA(window, message, wParam, lParam);
    if (EndsTheSaver(message, wParam, lParam)) {
        PostMessageA(window, WM_CLOSE, 0, 0);
        return 0;
    }
    switch (message) {
    case WM_SETCURSOR:
        SetCursor(0);
        return TRUE;
    case WM_SYSCOMMAND:
        if (wParam == SC_SCREENSAVE || wParam == SC_CLOSE)
            return FALSE;   // already running; ending goes through input
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
