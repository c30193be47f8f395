#include "earth/progress.h"

#include "framework/application.h"

static char gProgressText[PROGRESS_TEXT_SIZE] = "Idle";
static volatile int gProgressPercent = -1;
static volatile HWND gProgressWindow = 0;
static volatile int gLastProgressResult = 0;

void SetProgressStatus(const char *text, int percent)
{
    if (text)
        CopyText(gProgressText, text, PROGRESS_TEXT_SIZE);
    gProgressPercent = percent;
}

const char *GetProgressText() { return gProgressText; }
int GetProgressPercent() { return gProgressPercent; }

void RegisterProgressWindow(HWND window) { gProgressWindow = window; }
HWND GetProgressWindow() { return gProgressWindow; }

void EndProgressDialog(int result)
{
    gLastProgressResult = result;
    HWND window = gProgressWindow;
    if (window)
        EndDialog(window, result);
}

int GetLastProgressResult() { return gLastProgressResult; }

void (*gTrayIconHook)(int percent);

void UpdateTrayIcon(int percent)
{
    void (*hook)(int) = gTrayIconHook;
    if (hook)
        hook(percent);
}
