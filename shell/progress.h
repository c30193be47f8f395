// The process-wide progress sink of long workers: the latest status text and
// percentage, and the window that shows them (text 1232, bar 1133) while one
// is registered; and the start-up progress dialog 107 that the workers end.
// The earth model's workers reach it through gProgressSink (framework/seams.h),
// which InstallProgressSink points here.
#pragma once

#include <windows.h>

#include "framework/seams.h"

enum {
    PROGRESS_NO_THREAD = 3,
    PROGRESS_DIALOG_WAIT_CHECKS = 1000,   // 10 ms apart
};

// Any thread may call it. A null text keeps the previous text; a negative
// percentage means there is no progress to show.
void SetProgressStatus(const char *text, int percent);

// The latest values. The text is a copy of the calling thread's own, whole,
// kept until that thread's next call.
const char *GetProgressText();
int GetProgressPercent();

// The status window (none: 0). The last one registered wins.
void RegisterProgressWindow(HWND window);
HWND GetProgressWindow();

// Ends the registered progress dialog with a worker's result and remembers
// the result; without a dialog it only remembers it. Any thread: the dialog
// ends itself on its own thread.
void EndProgressDialog(int result);
int GetLastProgressResult();

// A worker's first step: wait (gProgressDialogWaitChecks checks 10 ms apart)
// for the progress dialog to register; without it the worker works alone.
extern int gProgressDialogWaitChecks;   // tests shorten it
void WaitForProgressDialog();
// Runs worker on its own thread behind the modal progress dialog 107, which
// the worker ends with its result (EndProgressDialog). The worker's exit
// code, or 3 when its thread could not be created.
int RunBehindProgressDialog(LPTHREAD_START_ROUTINE worker);

// Dialog 107, shown through DoModal; registers itself as the status window
// while it exists.
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Points gProgressSink's status, window, waitForDialog and workerDone at this
// module (its rendered share is the tray's: InstallTrayHook).
void InstallProgressSink();
