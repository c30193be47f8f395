// The status sink with its status window, and the start-up progress dialog
// that the maintenance workers end with their result.
#include "shell/progress.h"

#include <commctrl.h>
#include <string.h>

#include "framework/application.h"
#include "framework/dialogs.h"
#include "framework/seams.h"
#include "resources/resource.h"

// Posted to the progress dialog: end with wParam as the result.
enum { PROGRESS_END = WM_APP + 0x107 };

// The cloud, weather and render workers write the text while the window
// threads read it: the lock keeps a reader from seeing two texts mixed.
static SRWLOCK gProgressTextLock = SRWLOCK_INIT;
static char gProgressText[PROGRESS_TEXT_SIZE] = "Idle";
static volatile int gProgressPercent = -1;
static volatile HWND gProgressWindow = 0;
static volatile int gLastProgressResult = 0;

// The status text control is only written when its text changes, so a worker
// reporting percentages does not make it flicker.
static void ShowStatusText(HWND window, const char *text)
{
    HWND control = GetDlgItem(window, IDC_STATUS_TEXT);
    if (!control)
        return;
    char shown[PROGRESS_TEXT_SIZE];
    if (!GetWindowTextA(control, shown, sizeof shown))
        shown[0] = 0;
    if (strcmp(shown, text) != 0)
        SetWindowTextA(control, text);
}

// The current text, copied whole under the lock.
static void CopyProgressText(char *out)
{
    AcquireSRWLockShared(&gProgressTextLock);
    CopyText(out, gProgressText, PROGRESS_TEXT_SIZE);
    ReleaseSRWLockShared(&gProgressTextLock);
}

void SetProgressStatus(const char *text, int percent)
{
    if (text) {
        AcquireSRWLockExclusive(&gProgressTextLock);
        CopyText(gProgressText, text, PROGRESS_TEXT_SIZE);
        ReleaseSRWLockExclusive(&gProgressTextLock);
    }
    gProgressPercent = percent;
    HWND window = gProgressWindow;
    if (!window)
        return;
    HWND bar = GetDlgItem(window, IDC_PROGRESS_BAR);
    EnableWindow(bar, percent >= 0);
    SendMessageA(bar, PBM_SETPOS, (WPARAM)percent, 0);
    char current[PROGRESS_TEXT_SIZE];
    CopyProgressText(current);
    ShowStatusText(window, current);
}

// A copy of the thread's own, so that the caller may read it while workers
// write the next text.
const char *GetProgressText()
{
    static thread_local char copy[PROGRESS_TEXT_SIZE];
    CopyProgressText(copy);
    return copy;
}
int GetProgressPercent() { return gProgressPercent; }

void RegisterProgressWindow(HWND window) { gProgressWindow = window; }
HWND GetProgressWindow() { return gProgressWindow; }

void EndProgressDialog(int result)
{
    gLastProgressResult = result;
    HWND window = gProgressWindow;
    if (window)
        PostMessageA(window, PROGRESS_END, (WPARAM)result, 0);
}

int GetLastProgressResult() { return gLastProgressResult; }

static void SetStatusFont(HWND dialog, int dpi)
{
    SendDlgItemMessageA(dialog, IDC_STATUS_TEXT, WM_SETFONT, (WPARAM)DialogFont(dpi, false), TRUE);
}

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        InitDialog(dialog);
        SetWindowTextA(dialog, gApp.productName[0] ? gApp.productName : "Veltaspar");
        SetStatusFont(dialog, DialogDpi(dialog));
        RegisterProgressWindow(dialog);
        return TRUE;
    case WM_DESTROY:
        if (gProgressWindow == dialog)
            RegisterProgressWindow(0);
        return FALSE;
    case WM_DPICHANGED:
        UpdateDialogFonts(dialog, LOWORD(wParam));
        SetStatusFont(dialog, LOWORD(wParam));
        return TRUE;
    case PBM_SETPOS:
        SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETPOS, wParam, 0);
        return TRUE;
    case PROGRESS_END:
        EndDialog(dialog, (INT_PTR)wParam);
        return TRUE;
    }
    return FALSE;
}

void InstallProgressSink()
{
    gProgressSink.status = SetProgressStatus;
    gProgressSink.window = GetProgressWindow;
    gProgressSink.waitForDialog = WaitForProgressDialog;
    gProgressSink.workerDone = EndProgressDialog;
}

// ---------------------------------------------------------------- workers

int gProgressDialogWaitChecks = PROGRESS_DIALOG_WAIT_CHECKS;

void WaitForProgressDialog()
{
    for (int check = 0; check < gProgressDialogWaitChecks && !GetProgressWindow(); check++)
        Sleep(10);
}

int RunBehindProgressDialog(LPTHREAD_START_ROUTINE worker)
{
    HANDLE thread = CreateThread(0, 0, worker, 0, 0, 0);
    if (!thread)
        return PROGRESS_NO_THREAD;
    DoModal(0, IDD_PROGRESS, ProgressDialogProc, 0);
    // Without a dialog the worker runs alone; its exit code is the result
    // either way.
    WaitForSingleObject(thread, INFINITE);
    DWORD code = PROGRESS_NO_THREAD;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    return (int)code;
}
