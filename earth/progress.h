// The process-wide progress sink of long workers: the latest status text and
// percentage, and the window that shows them while one is registered. The
// progress dialog itself comes with the windows; until then the sink only
// stores, and a registered window is only ended with the worker's result.
#pragma once

#include <windows.h>

enum { PROGRESS_TEXT_SIZE = 260 };

// Any thread may call it. A null text keeps the previous text; a negative
// percentage means there is no progress to show.
void SetProgressStatus(const char *text, int percent);

// The latest values; plain process-wide writes without a lock, so a reader may
// see a text that is being replaced.
const char *GetProgressText();
int GetProgressPercent();

// The status window (none: 0). The last one registered wins.
void RegisterProgressWindow(HWND window);
HWND GetProgressWindow();

// Ends the registered progress dialog with a worker's result and remembers
// the result; without a dialog it only remembers it.
void EndProgressDialog(int result);
int GetLastProgressResult();

// The tray icon's progress picture: 0..100 progress, -1 idle, -2 removed.
// The tray sets the hook when it exists; until then the call does nothing.
extern void (*gTrayIconHook)(int percent);
void UpdateTrayIcon(int percent);
