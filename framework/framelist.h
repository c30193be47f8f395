// The list of frame windows and the helpers the rest of the program reaches
// the windows through: finding frames, the tray icon, opacity, layout saving,
// the autostart shortcut and the DPI queries.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "framework/errors.h"
#include "framework/frames.h"
#include "framework/growarray.h"
#include "framework/utilities.h"

class CFrameWindow;   // ui/framewindow.h: the list only holds and hands out pointers

extern CGrowArray<CFrameWindow *> gFrames;

int CreateFrameWindow(uint16_t index, WNDPROC procedure, const char *title, uint16_t iconId,
                      uint32_t options, int x, int y, int width, int height);
void DestroyFrameWindows();
CFrameWindow *FindFrameByIndex(uint16_t index);
CFrameWindow *FindFrameByHwnd(HWND window);
CFrameWindow *FindParentFrame(HWND window);
// The frame of the window itself, else the first among its ancestors.
CFrameWindow *FindOwningFrame(HWND window);

// tip: printf-style, null for the product name; icon id 0 removes the icon.
// False when the shell refused every call.
bool SetTrayIcon(uint16_t frameIndex, uint16_t iconId, const char *format, ...);

bool SetWindowOpacity(HWND window, int percent, bool clickThrough);
uint8_t OpacityAlpha(int percent);
int SetAutostartShortcut(bool create, const char *extraArguments, bool keepExisting,
                         const char *iconPath, const char *linkName);

BOOL AdjustWindowRectForDpi(RECT *rect, DWORD style, BOOL menu, DWORD exStyle, UINT dpi);
int GetWindowDpi(HWND window);
int GetRectDpi(const RECT *rect, HMONITOR monitor);

// A frame's placed rectangle after a display change, scaled within its own
// monitor: the offset from that monitor's corner and the size follow the
// monitor's change of size, so a window on a secondary monitor stays there.
RECT RescaleOnOwnMonitor(const RECT &placed, const MonitorTable &before, const MonitorTable &now);
