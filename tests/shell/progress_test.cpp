// The progress dialog and its status: the values kept without a window, and
// the real dialog template driven by a worker thread as a long job drives it.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <string.h>
#include <string>

#include "shell/progress.h"
#include "framework/application.h"
#include "framework/dialogs.h"
#include "resources/resource.h"

namespace {

std::string ControlText(HWND dialog, int id)
{
    char text[2048] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

HANDLE StartThread(LPTHREAD_START_ROUTINE routine, void *parameter)
{
    return CreateThread(0, 0, routine, parameter, 0, 0);
}

void Join(HANDLE thread)
{
    WaitForSingleObject(thread, 20000);
    CloseHandle(thread);
}

}  // namespace

TEST(Progress, WithoutAWindowTheValuesAreOnlyStored)
{
    RegisterProgressWindow(0);
    SetProgressStatus("Reading maps", 30);
    EXPECT_STREQ(GetProgressText(), "Reading maps");
    EXPECT_EQ(GetProgressPercent(), 30);
    SetProgressStatus(0, -1);
    EXPECT_STREQ(GetProgressText(), "Reading maps");
    EXPECT_EQ(GetProgressPercent(), -1);
    std::string longText(400, 'x');
    SetProgressStatus(longText.c_str(), 1);
    EXPECT_EQ(strlen(GetProgressText()), (size_t)PROGRESS_TEXT_SIZE - 1);
}

// The cloud and weather workers report through the one status at once: a
// reader must see one worker's whole text, never a mix of two.
namespace {
const char kLongStatus[] = "Downloading clouds from the second server, 40 % done";
volatile LONG gWritersStop;

DWORD WINAPI StatusWriter(LPVOID text)
{
    while (!gWritersStop)
        SetProgressStatus((const char *)text, -1);
    return 0;
}
}  // namespace

TEST(Progress, TextsFromTwoWorkersAreNeverReadMixed)
{
    RegisterProgressWindow(0);
    SetProgressStatus("Idle", -1);
    gWritersStop = 0;
    HANDLE a = StartThread(StatusWriter, (void *)kLongStatus);
    HANDLE b = StartThread(StatusWriter, (void *)"No new data available");
    ASSERT_TRUE(a && b);
    int mixed = 0, reads = 0;
    std::string example;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 1500; reads++) {
        std::string seen = GetProgressText();
        if (seen != kLongStatus && seen != "No new data available" && seen != "Idle") {
            mixed++;
            example = seen;
        }
    }
    InterlockedExchange(&gWritersStop, 1);
    Join(a);
    Join(b);
    EXPECT_EQ(0, mixed) << "of " << reads << " reads, e.g. \"" << example << "\"";
}

namespace {
struct ProgressSeen {
    bool registered;
    std::string title, statusBefore, statusAfter;
    int positionAt40, positionAfterSame, positionAfterDialogSet;
    bool enabledAt40, enabledAtIdle;
    int setTextsFirst, setTextsAfterSame;
    bool hasIcon;
};
ProgressSeen gProgress;
WNDPROC gStatusProc;
volatile int gStatusSetTexts;

LRESULT CALLBACK CountingStatusProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETTEXT)
        gStatusSetTexts++;
    return CallWindowProcA(gStatusProc, window, message, wParam, lParam);
}

DWORD WINAPI ProgressWorker(LPVOID)
{
    HWND dialog = 0;
    for (int i = 0; i < 500 && !(dialog = GetProgressWindow()); i++)
        Sleep(10);
    gProgress.registered = dialog != 0;
    if (!dialog) {
        EndProgressDialog(-1);
        return 0;
    }
    char title[64] = "";
    GetWindowTextA(dialog, title, sizeof title);
    gProgress.title = title;
    gProgress.statusBefore = ControlText(dialog, IDC_STATUS_TEXT);
    gProgress.hasIcon = SendMessageA(dialog, WM_GETICON, ICON_BIG, 0) != 0;
    HWND status = GetDlgItem(dialog, IDC_STATUS_TEXT), bar = GetDlgItem(dialog, IDC_PROGRESS_BAR);
    gStatusProc = (WNDPROC)SetWindowLongPtrA(status, GWLP_WNDPROC, (LONG_PTR)CountingStatusProc);
    SetProgressStatus("Converting Lights", 40);
    gProgress.setTextsFirst = gStatusSetTexts;
    gProgress.positionAt40 = (int)SendMessageA(bar, PBM_GETPOS, 0, 0);
    gProgress.enabledAt40 = IsWindowEnabled(bar) != 0;
    SetProgressStatus("Converting Lights", 55);
    gProgress.setTextsAfterSame = gStatusSetTexts;
    gProgress.positionAfterSame = (int)SendMessageA(bar, PBM_GETPOS, 0, 0);
    SetProgressStatus(0, -1);
    gProgress.enabledAtIdle = IsWindowEnabled(bar) != 0;
    SendMessageA(dialog, PBM_SETPOS, 70, 0);
    gProgress.positionAfterDialogSet = (int)SendMessageA(bar, PBM_GETPOS, 0, 0);
    gProgress.statusAfter = ControlText(dialog, IDC_STATUS_TEXT);
    Sleep(300);
    EndProgressDialog(26);
    return 0;
}
}  // namespace

TEST(Progress, DialogShowsStatusAndPercentAndEndsWithTheWorkersResult)
{
    CopyText(gApp.productName, "Veltaspar", MAX_TEXT);
    RegisterProgressWindow(0);
    HANDLE worker = StartThread(ProgressWorker, 0);
    int result = DoModal(0, IDD_PROGRESS, ProgressDialogProc, 0);
    Join(worker);
    EXPECT_EQ(result, 26);
    EXPECT_EQ(GetLastProgressResult(), 26);
    EXPECT_TRUE(gProgress.registered);
    EXPECT_EQ(gProgress.title, "Veltaspar");
    EXPECT_EQ(gProgress.statusBefore, "Extracting");
    EXPECT_TRUE(gProgress.hasIcon);
    EXPECT_EQ(gProgress.setTextsFirst, 1);
    EXPECT_EQ(gProgress.positionAt40, 40);
    EXPECT_TRUE(gProgress.enabledAt40);
    EXPECT_EQ(gProgress.setTextsAfterSame, 1);   // the same text is not written again
    EXPECT_EQ(gProgress.positionAfterSame, 55);
    EXPECT_FALSE(gProgress.enabledAtIdle);
    EXPECT_EQ(gProgress.positionAfterDialogSet, 70);
    EXPECT_EQ(gProgress.statusAfter, "Converting Lights");
    EXPECT_EQ(GetProgressWindow(), (HWND)0);
    EXPECT_EQ(gModalCount, 0);
}

