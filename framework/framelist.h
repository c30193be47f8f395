// The list of frame windows and the helpers the rest of the program reaches
// the windows through: finding frames, the tray icon, opacity, colour
// scheme, layout saving, the autostart shortcut and the DPI queries.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "framework/errors.h"
#include "framework/frames.h"
#include "framework/growarray.h"
#include "framework/utilities.h"
#include "framework/ui/framewindow.h"

extern CGrowArray<CFrameWindow *> gFrames;

int CreateFrameWindow(uint16_t index, WNDPROC procedure, const char *title, uint16_t iconId,
                      uint32_t options, int x, int y, int width, int height);
void DestroyFrameWindows();
CFrameWindow *FindFrameByIndex(uint16_t index);
CFrameWindow *FindFrameByHwnd(HWND window);
CFrameWindow *FindParentFrame(HWND window);

// tip: printf-style, null for the product name; icon id 0 removes the icon.
// False when the shell refused every call.
bool SetTrayIcon(uint16_t frameIndex, uint16_t iconId, const char *format, ...);

int SetColorScheme(int scheme);
bool SetWindowOpacity(HWND window, int percent, bool clickThrough);
uint8_t OpacityAlpha(int percent);
void RedrawFrames();
int SetAutostartShortcut(bool create, const char *extraArguments, bool keepExisting,
                         const char *iconPath, const char *linkName);

// Edge sizing of borderless frames by the message loop. Edge types: 1
// top-left, 2 left, 3 bottom-left, 4 bottom, 5 bottom-right, 6 right, 7
// top-right, 8 top (CApplication::SetSizeCursor takes the same).
enum {
    EDGE_NONE = 0,
    EDGE_TOP_LEFT = 1,
    EDGE_LEFT = 2,
    EDGE_BOTTOM_LEFT = 3,
    EDGE_BOTTOM = 4,
    EDGE_BOTTOM_RIGHT = 5,
    EDGE_RIGHT = 6,
    EDGE_TOP_RIGHT = 7,
    EDGE_TOP = 8,
    FRAME_EDGE_MARGIN = 5,
};
// The edge a client point lies on within the margin, EDGE_NONE inside.
int FrameEdgeAt(int x, int y, int width, int height);
// The window rectangle with the edge's sides moved to the screen cursor,
// kept the grab distances (left, top, right, bottom) away.
RECT SizeByEdge(const RECT &current, int edge, POINT cursor, const int grab[4]);
// A frame is being sized from its edge.
bool FrameEdgeSizing();
// WM_SETCURSOR of a frame: true, with the sizing cursor set, while the
// cursor is on the edge the loop found (the class cursor would flicker).
bool KeepEdgeCursor(HWND frameWindow);

BOOL AdjustWindowRectForDpi(RECT *rect, DWORD style, BOOL menu, DWORD exStyle, UINT dpi);
int GetWindowDpi(HWND window);
int GetRectDpi(const RECT *rect, HMONITOR monitor);

// A frame's placed rectangle after a display change, scaled within its own
// monitor: the offset from that monitor's corner and the size follow the
// monitor's change of size, so a window on a secondary monitor stays there.
RECT RescaleOnOwnMonitor(const RECT &placed, const MonitorTable &before, const MonitorTable &now);

// Chains the frames' message pre-translation (edge sizing, Tab focus).
void InstallFrameHooks();
