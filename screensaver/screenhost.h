// The screen-saver host: what the platform's screen-saver library does for
// a module (MinGW ships only an empty stub of it). The module supplies
// ScreenSaverProc, ScreenSaverConfigureDialog and RegisterDialogClasses.
#pragma once

#include <windows.h>

enum SaverMode {
    SAVER_MODE_CONFIGURE = 0,   // "/c" or "/c:<window>", also no switch at all
    SAVER_MODE_RUN = 1,         // "/s"
    SAVER_MODE_PREVIEW = 2,     // "/p <window>" (or "/l")
    SAVER_MODE_PASSWORD = 3,    // "/a <window>": nothing to do on NT systems
};

#define SAVER_WINDOW_CLASS "WindowsScreenSaverClass"

// The mode and the window a switch names (0 when none). Switches start with
// "/" or "-", in either case; the window follows after spaces or a colon.
int ParseSaverCommandLine(const char *commandLine, HWND *parent);

// Mouse travel in pixels that still does not end the screen saver.
enum { SAVER_MOUSE_SLACK = 4 };

extern "C" {
extern HINSTANCE hMainInstance;
extern HWND hMainWindow;
extern BOOL fChildPreview;
LRESULT WINAPI DefScreenSaverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
}

// Forgets the first mouse position, for a new screen-saver window.
void ResetSaverInput();
