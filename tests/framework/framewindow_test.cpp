// Frame windows and the frame list under Wine: placement records, styles,
// opacity, the status-text mutex, display-change rescaling and the tray icon.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <string>
#include <stdio.h>
#include <string.h>

#include "framework/application.h"
#include "framework/framelist.h"
#include "framework/ui/frameedges.h"
#include "framework/messages.h"
#include "framework/recordfile.h"
#include "framework/ui/dockbay.h"
#include "framework/ui/framewindow.h"
#include "framework/utilities.h"

namespace {

class FrameFixture : public ::testing::Test {
protected:
    char folder[MAX_PATH];
    void SetUp() override
    {
        GetTempPathA(sizeof folder, folder);
        strcat(folder, "vtframe");
        CreateDirectoryA(folder, 0);
        CopyText(gApp.dataFolder, folder, MAX_TEXT);
        gApp.placementInvalid = 0;
        memset(&gWindowHooks, 0, sizeof gWindowHooks);
        InstallFrameHooks();
    }
    void TearDown() override
    {
        DestroyFrameWindows();
        for (int i = 0; i < 4; i++) {
            char path[MAX_PATH];
            GetRecordFilePath("(QRF)Win", i, path, 0);
            DeleteFileA(path);
        }
        memset(&gWindowHooks, 0, sizeof gWindowHooks);
    }
    CFrameWindow *Make(uint16_t index, uint32_t options, int x, int y, int w, int h)
    {
        int position = CreateFrameWindow(index, 0, "Frame", 1, options, x, y, w, h);
        return position < 0 ? 0 : gFrames.data[position];
    }
};

TEST(FrameStyles, ExactBitsPerOptionCombination)
{
    struct Case {
        uint32_t options;
        DWORD style, ex;
    } cases[] = {
        {0, 0x86080000 | WS_THICKFRAME | WS_CAPTION, 0},
        {FRAME_MINMAXBOX, 0x86080000 | WS_THICKFRAME | WS_CAPTION | WS_MINIMIZEBOX | WS_MAXIMIZEBOX, 0},
        {FRAME_BORDERLESS, 0x86080000, 0},
        {FRAME_BORDERLESS | FRAME_MINMAXBOX, 0x86080000, 0},
        {FRAME_NOCAPTION, 0x86080000 | WS_THICKFRAME, 0},
        {FRAME_MAXIMIZED, 0x86080000 | WS_THICKFRAME | WS_CAPTION | WS_MAXIMIZE, 0},
        {FRAME_TASKBAR | FRAME_SMALLCAPTION | FRAME_TOPMOST | FRAME_ACCEPTFILES,
         0x86080000 | WS_THICKFRAME | WS_CAPTION,
         WS_EX_APPWINDOW | WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_ACCEPTFILES},
        {FRAME_LOCKPOS | FRAME_LOCKSIZE | FRAME_KEEPONRESCALE, 0x86080000 | WS_THICKFRAME | WS_CAPTION, 0},
    };
    EXPECT_EQ((DWORD)0x86080000, (DWORD)(WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_SYSMENU));
    for (const Case &c : cases) {
        DWORD style = 1, ex = 1;
        GetFrameStyles(c.options, &style, &ex);
        EXPECT_EQ(c.style, style) << std::hex << c.options;
        EXPECT_EQ(c.ex, ex) << std::hex << c.options;
    }
}

TEST(FrameDefaults, FirstStartOnFullHdMonitorCascades)
{
    RECT monitor = {0, 0, 1920, 1080};
    int x = 0, y = 0, w = 0, h = 0;
    DefaultFrameRect(monitor, 0, &x, &y, &w, &h);
    EXPECT_EQ(320, x);
    EXPECT_EQ(180, y);
    EXPECT_EQ(1280, w);
    EXPECT_EQ(720, h);
    x = y = w = h = 0;
    DefaultFrameRect(monitor, 1, &x, &y, &w, &h);
    EXPECT_EQ(360, x);
    EXPECT_EQ(220, y);
    // A window as large as the bound would divide by zero in the wrap.
    x = 5, y = 7, w = 1920, h = 1080;
    DefaultFrameRect(monitor, 0, &x, &y, &w, &h);
    EXPECT_EQ(5, x);
    EXPECT_EQ(7, y);
}

TEST(FrameDefaults, PlacementNeedsSizeAndATopCornerOnAMonitor)
{
    MonitorTable table;
    memset(&table, 0, sizeof table);
    table.count = 1;
    SetRect(&table.rect[0], 0, 0, 1920, 1080);
    FramePlacementRecord r = {-300, 100, 400, 300, 0, 0};
    EXPECT_TRUE(PlacementUsable(r, table));    // only the top-right point is on it
    r.width = 310;
    EXPECT_FALSE(PlacementUsable(r, table));   // x + width - 20 = -10
    r = {100, 100, 0, 300, 0, 0};
    EXPECT_FALSE(PlacementUsable(r, table));
    r = {100, 1070, 400, 300, 0, 0};
    EXPECT_FALSE(PlacementUsable(r, table));
}

TEST_F(FrameFixture, PlacementRecordRoundTrips)
{
    CFrameWindow *frame = Make(2, FRAME_TOPMOST, 100, 120, 400, 300);
    ASSERT_NE(nullptr, frame);
    EXPECT_EQ(2, frame->index);
    frame->SetTransparency(30);
    frame->SetClickThrough(true);
    ASSERT_EQ(16, frame->SavePlacement());
    FramePlacementRecord raw;
    ASSERT_EQ(16, ReadRecordFile("(QRF)Win", 2, &raw, 16, 0));
    EXPECT_EQ(100, raw.x);
    EXPECT_EQ(120, raw.y);
    EXPECT_EQ(400, raw.width);
    EXPECT_EQ(300, raw.height);
    EXPECT_EQ((uint32_t)FRAME_TOPMOST, raw.options);
    EXPECT_EQ(30u | 0x1000u, raw.transparency);
    DestroyFrameWindows();

    // The stored placement wins over the caller's numbers.
    CFrameWindow *again = Make(2, 0, 10, 10, 200, 200);
    ASSERT_NE(nullptr, again);
    EXPECT_EQ(100, again->currentRect.left);
    EXPECT_EQ(120, again->currentRect.top);
    EXPECT_EQ(500, again->currentRect.right);
    EXPECT_EQ(420, again->currentRect.bottom);
    EXPECT_EQ((uint32_t)FRAME_TOPMOST, again->options);
    EXPECT_EQ(30, again->transparency);
    EXPECT_EQ(1, again->clickThrough);
    // An invalid settings version ignores it.
    DestroyFrameWindows();
    gApp.placementInvalid = 1;
    CFrameWindow *fresh = Make(2, 0, 10, 10, 200, 200);
    gApp.placementInvalid = 0;
    ASSERT_NE(nullptr, fresh);
    EXPECT_EQ(200, fresh->currentRect.right - fresh->currentRect.left);
    EXPECT_EQ(0, fresh->transparency);
}

TEST_F(FrameFixture, ListFindsByIndexHandleAndAncestor)
{
    CFrameWindow *a = Make(0, 0, 10, 10, 300, 200);
    CFrameWindow *b = Make(3, 0, 20, 20, 300, 200);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(b, FindFrameByIndex(3));
    EXPECT_EQ(nullptr, FindFrameByIndex(1));
    EXPECT_EQ(a, FindFrameByHwnd(a->window));
    HWND child = CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 5, 5, b->window, 0, 0, 0);
    EXPECT_EQ(b, FindParentFrame(child));
    EXPECT_EQ(nullptr, FindParentFrame(b->window));   // only its ancestors count
    EXPECT_EQ(2, FrameCount());
    EXPECT_EQ(b->window, FrameWindowAt(1));
    EXPECT_EQ((HWND)0, FrameWindowAt(2));
    EXPECT_EQ((HWND)0, FrameWindowAt(-1));
}

TEST_F(FrameFixture, OpacityGivesExactAlpha)
{
    EXPECT_EQ(229, OpacityAlpha(10));
    EXPECT_EQ(0, OpacityAlpha(100));
    EXPECT_EQ(127, OpacityAlpha(50));
    CFrameWindow *frame = Make(0, 0, 10, 10, 300, 200);
    ASSERT_NE(nullptr, frame);
    for (int percent = 10; percent <= 90; percent += 10) {
        ASSERT_TRUE(frame->OnStandardCommand((uint16_t)(0xF161 + percent / 10)));
        BYTE alpha = 0;
        DWORD flags = 0;
        ASSERT_TRUE(GetLayeredWindowAttributes(frame->window, 0, &alpha, &flags));
        EXPECT_EQ((100 - percent) * 255 / 100, alpha);
        EXPECT_TRUE(flags & LWA_ALPHA);
        EXPECT_TRUE(GetWindowLongA(frame->window, GWL_EXSTYLE) & WS_EX_LAYERED);
    }
    frame->OnStandardCommand(0xF16B);   // ghost
    EXPECT_TRUE(GetWindowLongA(frame->window, GWL_EXSTYLE) & WS_EX_TRANSPARENT);
    frame->OnStandardCommand(0xF161);   // off drops both bits
    LONG ex = GetWindowLongA(frame->window, GWL_EXSTYLE);
    EXPECT_FALSE(ex & WS_EX_LAYERED);
    EXPECT_FALSE(ex & WS_EX_TRANSPARENT);
    // Re-styling keeps the transparency.
    frame->SetTransparency(20);
    frame->SetCaptionStyle(FRAME_SMALLCAPTION);
    ex = GetWindowLongA(frame->window, GWL_EXSTYLE);
    EXPECT_TRUE(ex & WS_EX_LAYERED);
    EXPECT_TRUE(ex & WS_EX_TOOLWINDOW);
}

struct HoldArgs {
    HANDLE mutex;
    HANDLE held;
    HANDLE release;
};

DWORD WINAPI HoldMutex(void *p)
{
    HoldArgs *args = (HoldArgs *)p;
    WaitForSingleObject(args->mutex, INFINITE);
    SetEvent(args->held);
    WaitForSingleObject(args->release, 10000);
    ReleaseMutex(args->mutex);
    return 0;
}

TEST_F(FrameFixture, StatusTextTimesOutAfterOneSecond)
{
    CFrameWindow *frame = Make(0, 0, 10, 10, 300, 200);
    ASSERT_NE(nullptr, frame);
    HoldArgs args = {frame->statusMutex, CreateEventA(0, TRUE, FALSE, 0),
                     CreateEventA(0, TRUE, FALSE, 0)};
    HANDLE thread = CreateThread(0, 0, HoldMutex, &args, 0, 0);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(args.held, 5000));
    int before = frame->statusTexts.count;
    ULONGLONG start = GetTickCount64();
    DWORD result = frame->SetStatusText(5, "busy");
    ULONGLONG took = GetTickCount64() - start;
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, result);
    EXPECT_GE(took, 950u);
    EXPECT_LT(took, 1600u);
    EXPECT_EQ(before, frame->statusTexts.count);   // nothing changed
    SetEvent(args.release);
    WaitForSingleObject(thread, 5000);
    EXPECT_EQ(0u, frame->SetStatusText(5, "busy"));
    CloseHandle(thread);
    CloseHandle(args.held);
    CloseHandle(args.release);
}

TEST_F(FrameFixture, StatusTextsFollowTheKeyRules)
{
    CFrameWindow *frame = Make(0, 0, 10, 10, 300, 200);
    ASSERT_NE(nullptr, frame);
    ASSERT_EQ(2, frame->statusTexts.count);
    EXPECT_STREQ("Ready", ShownStatusEntry(frame->statusTexts)->text);
    frame->SetStatusText(5, "five");
    EXPECT_STREQ("five", ShownStatusEntry(frame->statusTexts)->text);
    frame->SetStatusText(-1, "override");
    frame->SetStatusText(7, "seven");
    EXPECT_STREQ("override", ShownStatusEntry(frame->statusTexts)->text);
    frame->SetStatusText(5, "");
    EXPECT_STREQ("override", ShownStatusEntry(frame->statusTexts)->text);
    frame->SetStatusText(7, 0);   // the last program key takes the override along
    EXPECT_EQ(2, frame->statusTexts.count);
    EXPECT_STREQ("Ready", ShownStatusEntry(frame->statusTexts)->text);
    char longText[1500];
    memset(longText, 'x', sizeof longText - 1);
    longText[sizeof longText - 1] = 0;
    frame->SetStatusText(9, longText);
    EXPECT_EQ(1023u, strlen(ShownStatusEntry(frame->statusTexts)->text));
}

TEST(FrameRescale, DisplayChangeKeepsWindowOnItsOwnMonitor)
{
    MonitorTable before, now;
    memset(&before, 0, sizeof before);
    before.count = 2;
    SetRect(&before.rect[0], 0, 0, 1920, 1080);
    SetRect(&before.rect[1], 1920, 0, 3840, 1080);
    strcpy(before.device[0], "\\\\.\\DISPLAY1");
    strcpy(before.device[1], "\\\\.\\DISPLAY2");
    now = before;
    SetRect(&now.rect[0], 0, 0, 1280, 720);   // the primary shrinks
    SetRect(&now.rect[1], 1280, 0, 3200, 1080);
    RECT onSecond = {2120, 100, 2520, 400};
    RECT r = RescaleOnOwnMonitor(onSecond, before, now);
    EXPECT_EQ(1480, r.left);   // same offset on the unchanged second monitor
    EXPECT_EQ(100, r.top);
    EXPECT_EQ(400, r.right - r.left);
    EXPECT_EQ(300, r.bottom - r.top);
    RECT onFirst = {300, 150, 900, 450};
    r = RescaleOnOwnMonitor(onFirst, before, now);
    EXPECT_EQ(200, r.left);
    EXPECT_EQ(100, r.top);
    EXPECT_EQ(400, r.right - r.left);
    EXPECT_EQ(200, r.bottom - r.top);
    POINT centre = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    EXPECT_TRUE(PtInRect(&now.rect[0], centre));
}

TEST_F(FrameFixture, DpiChangeOnAHiddenFrameDoesNotDivideByZero)
{
    CFrameWindow *frame = Make(0, 0, 10, 10, 300, 200);
    ASSERT_NE(nullptr, frame);
    EXPECT_GT(frame->dpi, 0);   // recorded at creation although never shown
    frame->dpi = 0;
    RECT suggested = {20, 30, 420, 330};
    SendMessageA(frame->window, WM_DPICHANGED, MAKEWPARAM(144, 144), (LPARAM)&suggested);
    EXPECT_EQ(144, frame->dpi);
    RECT now;
    GetWindowRect(frame->window, &now);
    EXPECT_EQ(20, now.left);
    EXPECT_EQ(400, now.right - now.left);
}

TEST_F(FrameFixture, LocksStopMoveToRectButNotMove)
{
    CFrameWindow *frame = Make(0, 0, 10, 10, 300, 200);
    ASSERT_NE(nullptr, frame);
    frame->ToggleOption(FRAME_LOCKPOS | FRAME_LOCKSIZE);
    EXPECT_EQ((uint32_t)(FRAME_LOCKPOS | FRAME_LOCKSIZE), frame->options & 0x1080);
    RECT target = {50, 60, 450, 360};
    frame->MoveToRect(target, false);
    RECT r;
    GetWindowRect(frame->window, &r);
    EXPECT_EQ(10, r.left);
    EXPECT_EQ(300, r.right - r.left);
    frame->Move(50, 60, 400, 300, false);
    GetWindowRect(frame->window, &r);
    EXPECT_EQ(50, r.left);
    EXPECT_EQ(400, r.right - r.left);
    EXPECT_EQ(50, frame->lastPlacedRect.left);
    EXPECT_EQ(450, frame->lastPlacedRect.right);
    EXPECT_EQ((uint32_t)(FRAME_LOCKPOS | FRAME_LOCKSIZE), frame->options & 0x1080);
    // A display change moves it within its monitor, locks or not.
    RECT placed;
    ASSERT_TRUE(FramePlacement(0, &placed));
    EXPECT_FALSE(FramePlacement(1, &placed));
    EXPECT_EQ(50, placed.left);
}

TEST_F(FrameFixture, CloseSavesAndKeepsTheWindow)
{
    CFrameWindow *frame = Make(1, 0, 30, 40, 300, 200);
    ASSERT_NE(nullptr, frame);
    EXPECT_EQ(0, SendMessageA(frame->window, WM_CLOSE, 0, 0));
    EXPECT_TRUE(IsWindow(frame->window));
    FramePlacementRecord raw;
    EXPECT_EQ(16, ReadRecordFile("(QRF)Win", 1, &raw, 16, 0));
    EXPECT_EQ(30, raw.x);
}

TEST_F(FrameFixture, TrayIconCallsAnswerSoundly)
{
    CFrameWindow *frame = Make(0, 0, 10, 10, 300, 200);
    ASSERT_NE(nullptr, frame);
    // Wine's shell may or may not have a notification area here; either
    // way add, modify and delete must agree with each other.
    bool added = SetTrayIcon(0, 32512, "Tip %d", 1);
    bool modified = SetTrayIcon(0, 32512, 0);
    EXPECT_EQ(added || modified, frame->trayEntry != 0);
    bool deleted = SetTrayIcon(0, 0, 0);
    EXPECT_EQ(0, frame->trayEntry);
    printf("tray icon under Wine: add %d modify %d delete %d\n", added, modified, deleted);
    if (added) {
        EXPECT_TRUE(modified);
        EXPECT_TRUE(deleted);
    } else {
        EXPECT_FALSE(deleted);
    }
    // An index without a frame is owned by the desktop window.
    bool orphan = SetTrayIcon(9, 32512, 0);
    printf("tray icon owned by the desktop: %d\n", orphan);
    SetTrayIcon(9, 0, 0);
}

int gCallerCreates;

LRESULT CALLBACK CallerProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CREATE)
        gCallerCreates++;
    return DefFrameWindowProc(window, message, wParam, lParam);
}

TEST_F(FrameFixture, CallerProcedureSeesCreateAndPassesTheRestOn)
{
    gCallerCreates = 0;
    int position = CreateFrameWindow(0, CallerProcedure, "Frame", 1, 0, 10, 10, 300, 200);
    ASSERT_GE(position, 0);
    HWND window = gFrames.data[position]->window;
    EXPECT_EQ(1, gCallerCreates);
    EXPECT_EQ((LONG_PTR)CallerProcedure, GetWindowLongPtrA(window, GWLP_WNDPROC));
    SendMessageA(window, QRFM_SETOPENMENU, 0, 0x1234);
    EXPECT_EQ(0x1234, SendMessageA(window, QRFM_GETOPENMENU, 0, 0));
    MINMAXINFO info;
    memset(&info, 0, sizeof info);
    SendMessageA(window, WM_GETMINMAXINFO, 0, (LPARAM)&info);
    EXPECT_EQ(150, info.ptMinTrackSize.x);
    EXPECT_EQ(100, info.ptMinTrackSize.y);
}

TEST_F(FrameFixture, DpiChangeRecordsTheNewDpi)
{
    CFrameWindow *frame = Make(0, 0, 10, 10, 300, 200);
    ASSERT_NE(nullptr, frame);
    frame->dpi = 0;   // no recorded dpi: the bars keep their sizes (ratio 1)
    frame->OnDpiChanged(120, 0);
    EXPECT_EQ(120, frame->dpi);
}

TEST_F(FrameFixture, DisplayChangeHookMovesFrameWithinItsMonitor)
{
    CFrameWindow *frame = Make(0, 0, 10, 100, 400, 300);
    ASSERT_NE(nullptr, frame);
    frame->Move(2120, 100, 400, 300, false);   // creation would wrap it onto this screen
    ASSERT_EQ(2120, frame->lastPlacedRect.left);
    MonitorTable savedNow = gMonitors, savedBefore = gPrevMonitors;
    memset(&gPrevMonitors, 0, sizeof gPrevMonitors);
    gPrevMonitors.count = 2;
    SetRect(&gPrevMonitors.rect[0], 0, 0, 1920, 1080);
    SetRect(&gPrevMonitors.rect[1], 1920, 0, 3840, 1080);
    gMonitors = gPrevMonitors;
    SetRect(&gMonitors.rect[0], 0, 0, 1280, 720);
    SetRect(&gMonitors.rect[1], 1280, 0, 3200, 1080);
    RescaleFrameAt(0);
    RECT r;
    GetWindowRect(frame->window, &r);
    gMonitors = savedNow;
    gPrevMonitors = savedBefore;
    EXPECT_EQ(1480, r.left);
    EXPECT_EQ(100, r.top);
    EXPECT_EQ(400, r.right - r.left);
    EXPECT_EQ(1480, frame->lastPlacedRect.left);
}

TEST_F(FrameFixture, EveryFrameHasItsFourBays)
{
    // No set-up of the bar code: a frame has its bays all the same.
    CFrameWindow *frame = Make(2, FRAME_BORDERLESS, 10, 10, 300, 200);
    ASSERT_NE(nullptr, frame);
    ASSERT_EQ(4, frame->bays.count);
    for (int side = 0; side < 4; side++)
        EXPECT_EQ(frame->window, GetParent(frame->bays.data[side]->window)) << side;
    frame->LayOutBays(300, 200);
    EXPECT_EQ(0, frame->clientArea.left);
    EXPECT_EQ(0, frame->clientArea.top);
    EXPECT_EQ(300, frame->clientArea.right);
    EXPECT_EQ(200, frame->clientArea.bottom);
}

TEST_F(FrameFixture, StandardMenuListsBarsAndMarksTheState)
{
    gApp.commands.RemoveAll();
    ASSERT_EQ(0, gApp.AddStandardCommands());
    CFrameWindow *frame = Make(0, FRAME_TOPMOST | FRAME_LOCKPOS, 10, 10, 300, 200);
    ASSERT_NE(nullptr, frame);
    frame->BuildStandardMenu();
    const uint16_t plain[] = {0xF110, 0xF111, 0xF120, 0xF130, 0xF140, 0xF150, 0xF160, 0xFFFF};
    EXPECT_EQ(0, memcmp(plain, frame->standardMenu, sizeof plain));
    EXPECT_FALSE(gApp.CommandById(0xF151)->flags & CMDF_ENABLED);
    EXPECT_FALSE(gApp.CommandById(0xF16B)->flags & CMDF_ENABLED);   // ghost needs transparency
    EXPECT_TRUE(gApp.CommandById(0xF110)->flags & CMDF_CHECKED);
    EXPECT_TRUE(gApp.CommandById(0xF121)->flags & CMDF_CHECKED);
    EXPECT_TRUE(gApp.CommandById(0xF153)->flags & CMDF_CHECKED);
    EXPECT_FALSE(gApp.CommandById(0xF155)->flags & CMDF_CHECKED);
    EXPECT_TRUE(gApp.CommandById(0xF161)->flags & CMDF_CHECKED);

    // (The bars' entries ahead of these: the dock bay tests.)
    frame->SetTransparency(30);
    frame->BuildStandardMenu();
    EXPECT_EQ(0, memcmp(plain, frame->standardMenu, sizeof plain));
    EXPECT_FALSE(gApp.CommandById(0xF151)->flags & CMDF_ENABLED);   // no bars to lock
    EXPECT_TRUE(gApp.CommandById(0xF16B)->flags & CMDF_ENABLED);
    EXPECT_TRUE(gApp.CommandById(0xF164)->flags & CMDF_CHECKED);
    EXPECT_FALSE(gApp.CommandById(0xF161)->flags & CMDF_CHECKED);
    EXPECT_FALSE(frame->OnStandardCommand(0x7777));   // no standard command, no bar
    gApp.commands.RemoveAll();
}

TEST_F(FrameFixture, LockAllSetsAllThenClearsAll)
{
    CFrameWindow *frame = Make(0, FRAME_LOCKPOS, 10, 10, 300, 200);
    ASSERT_NE(nullptr, frame);
    frame->OnStandardCommand(0xF155);
    EXPECT_EQ(0x10E0u, frame->options & 0x10E0u);
    frame->OnStandardCommand(0xF155);
    EXPECT_EQ(0u, frame->options & 0x10E0u);
    frame->OnStandardCommand(0xF156);
    EXPECT_TRUE(frame->options & FRAME_KEEPONRESCALE);
}

StringTableRecord gProgramStrings[] = {{100, {"status"}}, {STRING_TABLE_END, {0}}};

TEST_F(FrameFixture, StatusCommandStringShowsTheChosenText)
{
    gApp.strings.SetProgramTable(0, gProgramStrings);
    gApp.commands.RemoveAll();
    gApp.AddCommand(100, CMD_STATIC, CMDF_ENABLED, -1, -1, 0, 0, 0);
    CFrameWindow *frame = Make(0, 0, 10, 10, 300, 200);
    ASSERT_NE(nullptr, frame);
    frame->statusCommand = 100;
    EXPECT_EQ(0u, frame->SetStatusText(5, "five"));
    EXPECT_STREQ("five", gApp.strings.GetText(100, 0));
    frame->SetStatusText(-1, "override");
    frame->SetStatusText(6, "six");
    EXPECT_STREQ("override", gApp.strings.GetText(100, 0));
    // Hover help, as the command table shows it.
    frame->SetStatusText(-1, 0);
    frame->SetStatusText(6, 0);
    frame->SetStatusText(5, 0);
    ShowHoverStatus(frame->window, "hover");
    EXPECT_STREQ("hover", gApp.strings.GetText(100, 0));
    gApp.activeFrame = frame->index;
    RestoreStatusText();
    EXPECT_STREQ("Ready", gApp.strings.GetText(100, 0));
    gApp.commands.RemoveAll();
}

TEST_F(FrameFixture, CaptionAndTaskbarCommandsRestyle)
{
    CFrameWindow *frame = Make(0, 0, 10, 10, 300, 200);
    ASSERT_NE(nullptr, frame);
    frame->OnStandardCommand(0xF111);
    EXPECT_TRUE(GetWindowLongA(frame->window, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    frame->OnStandardCommand(0xF124);
    LONG style = GetWindowLongA(frame->window, GWL_STYLE);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_FALSE(style & WS_CAPTION);
    EXPECT_EQ((uint32_t)(FRAME_BORDERLESS | FRAME_TASKBAR), frame->options);
    frame->OnStandardCommand(0xF121);
    style = GetWindowLongA(frame->window, GWL_STYLE);
    EXPECT_EQ((LONG)WS_CAPTION, style & WS_CAPTION);
    frame->OnStandardCommand(0xF110);
    EXPECT_TRUE(GetWindowLongA(frame->window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    frame->OnStandardCommand(0xF110);
    EXPECT_FALSE(GetWindowLongA(frame->window, GWL_EXSTYLE) & WS_EX_TOPMOST);
}

TEST_F(FrameFixture, TabCyclesThroughTabStopsBothWays)
{
    CFrameWindow *frame = Make(0, 0, 10, 10, 300, 200);
    ASSERT_NE(nullptr, frame);
    ShowWindow(frame->window, SW_SHOW);
    DWORD stop = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
    HWND first = CreateWindowExA(0, "BUTTON", "a", stop, 0, 0, 20, 20, frame->window, 0, 0, 0);
    CreateWindowExA(0, "BUTTON", "x", WS_CHILD | WS_VISIBLE, 0, 30, 20, 20, frame->window, 0, 0, 0);
    HWND second = CreateWindowExA(0, "BUTTON", "b", stop, 0, 60, 20, 20, frame->window, 0, 0, 0);
    SetFocus(first);
    ASSERT_EQ(first, GetFocus());
    EXPECT_TRUE(frame->CycleFocus(1));
    EXPECT_EQ(second, GetFocus());
    EXPECT_TRUE(frame->CycleFocus(1));   // wraps to the start
    EXPECT_EQ(first, GetFocus());
    EXPECT_TRUE(frame->CycleFocus(-1));  // and back to the end
    EXPECT_EQ(second, GetFocus());
    MSG tab = {second, WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
    EXPECT_TRUE(gWindowHooks.preTranslateFrames(&tab));
    EXPECT_EQ(first, GetFocus());
    MSG other = {second, WM_KEYDOWN, 'A', 0, 0, {0, 0}};
    EXPECT_FALSE(gWindowHooks.preTranslateFrames(&other));
}

// ---------------------------------------------------------------- edge sizing

TEST(EdgeSizing, FiveColumnMarginGivesTheEdgeTypes)
{
    const int w = 300, h = 200;
    EXPECT_EQ(EDGE_TOP_LEFT, FrameEdgeAt(0, 0, w, h));
    EXPECT_EQ(EDGE_TOP_LEFT, FrameEdgeAt(4, 4, w, h));
    EXPECT_EQ(EDGE_LEFT, FrameEdgeAt(4, 5, w, h));
    EXPECT_EQ(EDGE_BOTTOM_LEFT, FrameEdgeAt(4, 195, w, h));
    EXPECT_EQ(EDGE_LEFT, FrameEdgeAt(4, 194, w, h));
    EXPECT_EQ(EDGE_BOTTOM, FrameEdgeAt(150, 195, w, h));
    EXPECT_EQ(EDGE_BOTTOM_RIGHT, FrameEdgeAt(295, 199, w, h));
    EXPECT_EQ(EDGE_RIGHT, FrameEdgeAt(295, 100, w, h));
    EXPECT_EQ(EDGE_TOP_RIGHT, FrameEdgeAt(299, 0, w, h));
    EXPECT_EQ(EDGE_TOP, FrameEdgeAt(150, 4, w, h));
    EXPECT_EQ(EDGE_NONE, FrameEdgeAt(5, 5, w, h));
    EXPECT_EQ(EDGE_NONE, FrameEdgeAt(294, 194, w, h));

    RECT r = {100, 100, 400, 300};
    int grab[4] = {2, 3, 298, 197};
    POINT cursor = {52, 60};
    RECT top = SizeByEdge(r, EDGE_TOP_LEFT, cursor, grab);
    EXPECT_EQ(50, top.left);
    EXPECT_EQ(57, top.top);
    EXPECT_EQ(400, top.right);
    EXPECT_EQ(300, top.bottom);
    RECT bottom = SizeByEdge(r, EDGE_BOTTOM, cursor, grab);
    EXPECT_EQ(100, bottom.left);
    EXPECT_EQ(257, bottom.bottom);
}

class EdgeFixture : public FrameFixture {
protected:
    // A posted mouse message at a screen point, run through the loop's
    // pre-translation as the message loop would; true when it was taken.
    bool Mouse(HWND window, UINT message, WPARAM keys, int screenX, int screenY)
    {
        POINT p = {screenX, screenY};
        ScreenToClient(window, &p);
        PostMessageA(window, message, keys, MAKELPARAM(p.x, p.y));
        MSG msg;
        bool taken = false;
        while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE))
            if (msg.message == message)
                taken = gApp.PreTranslate(&msg);
            else
                gApp.PreTranslate(&msg);
        return taken;
    }
    RECT Rect(HWND window)
    {
        RECT r;
        GetWindowRect(window, &r);
        return r;
    }
};

TEST_F(EdgeFixture, BorderlessFrameIsSizedByDraggingItsEdges)
{
    CFrameWindow *frame = Make(1, FRAME_BORDERLESS, 100, 100, 300, 200);
    ASSERT_NE(nullptr, frame);
    HWND w = frame->window;
    ShowWindow(w, SW_SHOW);
    RECT start = Rect(w);
    ASSERT_EQ(300, start.right - start.left);

    // Onto the right edge: the sizing cursor, and the move is taken.
    EXPECT_TRUE(Mouse(w, WM_MOUSEMOVE, 0, start.right - 2, start.top + 100));
    EXPECT_EQ(LoadCursorA(0, IDC_SIZEWE), GetCursor());
    EXPECT_TRUE(Mouse(w, WM_LBUTTONDOWN, MK_LBUTTON, start.right - 2, start.top + 100));
    EXPECT_TRUE(FrameEdgeSizing());
    EXPECT_EQ(w, GetCapture());
    EXPECT_TRUE(Mouse(w, WM_MOUSEMOVE, MK_LBUTTON, start.right + 48, start.top + 130));
    EXPECT_TRUE(Mouse(w, WM_LBUTTONUP, 0, start.right + 48, start.top + 130));
    EXPECT_FALSE(FrameEdgeSizing());
    EXPECT_EQ(0, GetCapture());
    RECT wider = Rect(w);
    EXPECT_EQ(start.left, wider.left);
    EXPECT_EQ(start.right + 50, wider.right);
    EXPECT_EQ(start.bottom, wider.bottom);   // a side edge leaves the height

    // The top-left corner follows the cursor in both directions.
    EXPECT_TRUE(Mouse(w, WM_MOUSEMOVE, 0, wider.left + 1, wider.top + 1));
    EXPECT_EQ(LoadCursorA(0, IDC_SIZENWSE), GetCursor());
    EXPECT_TRUE(Mouse(w, WM_LBUTTONDOWN, MK_LBUTTON, wider.left + 1, wider.top + 1));
    EXPECT_TRUE(Mouse(w, WM_MOUSEMOVE, MK_LBUTTON, wider.left - 19, wider.top + 11));
    EXPECT_TRUE(Mouse(w, WM_LBUTTONUP, 0, wider.left - 19, wider.top + 11));
    RECT moved = Rect(w);
    EXPECT_EQ(wider.left - 20, moved.left);
    EXPECT_EQ(wider.top + 10, moved.top);
    EXPECT_EQ(wider.right, moved.right);
    EXPECT_EQ(wider.bottom, moved.bottom);

    // The bottom edge dragged far up stops at the frame's minimum height.
    EXPECT_TRUE(Mouse(w, WM_MOUSEMOVE, 0, moved.left + 100, moved.bottom - 1));
    EXPECT_EQ(LoadCursorA(0, IDC_SIZENS), GetCursor());
    EXPECT_TRUE(Mouse(w, WM_LBUTTONDOWN, MK_LBUTTON, moved.left + 100, moved.bottom - 1));
    EXPECT_TRUE(Mouse(w, WM_MOUSEMOVE, MK_LBUTTON, moved.left + 100, moved.top - 300));
    EXPECT_TRUE(Mouse(w, WM_LBUTTONUP, 0, moved.left + 100, moved.top - 300));
    RECT small = Rect(w);
    EXPECT_EQ(moved.top, small.top);
    EXPECT_EQ(frame->minHeight, small.bottom - small.top);

    // The frame keeps the sizing cursor against its class cursor while the
    // cursor stays on the edge.
    SetCursorPos(small.left + 100, small.bottom - 1);
    EXPECT_TRUE(Mouse(w, WM_MOUSEMOVE, 0, small.left + 100, small.bottom - 1));
    SetCursor(LoadCursorA(0, IDC_ARROW));
    SendMessageA(w, WM_SETCURSOR, (WPARAM)w, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(LoadCursorA(0, IDC_SIZENS), GetCursor());

    // Inside, away from the edges, nothing is taken.
    EXPECT_FALSE(Mouse(w, WM_MOUSEMOVE, 0, small.left + 50, small.top + 40));
    EXPECT_FALSE(Mouse(w, WM_LBUTTONDOWN, MK_LBUTTON, small.left + 50, small.top + 40));
    EXPECT_FALSE(FrameEdgeSizing());
    ReleaseCapture();
}

TEST_F(EdgeFixture, FramesWithBordersOrALockedSizeAreNotEdgeSized)
{
    CFrameWindow *locked = Make(1, FRAME_BORDERLESS | FRAME_LOCKSIZE, 100, 100, 300, 200);
    CFrameWindow *bordered = Make(2, 0, 450, 100, 300, 200);
    ASSERT_NE(nullptr, locked);
    ASSERT_NE(nullptr, bordered);
    ShowWindow(locked->window, SW_SHOW);
    ShowWindow(bordered->window, SW_SHOW);
    RECT r = Rect(locked->window);
    EXPECT_FALSE(Mouse(locked->window, WM_MOUSEMOVE, 0, r.right - 2, r.top + 100));
    EXPECT_FALSE(Mouse(locked->window, WM_LBUTTONDOWN, MK_LBUTTON, r.right - 2, r.top + 100));
    EXPECT_FALSE(FrameEdgeSizing());
    RECT client;
    GetClientRect(bordered->window, &client);
    POINT p = {client.right - 2, 100};
    ClientToScreen(bordered->window, &p);
    EXPECT_FALSE(Mouse(bordered->window, WM_MOUSEMOVE, 0, p.x, p.y));
    EXPECT_FALSE(FrameEdgeSizing());
    ReleaseCapture();
}

// The autostart link starts the installed program with the start-up
// switches, also when another copy made the link.
TEST(Autostart, LinkTargetsTheInstallationFolder)
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(0)) || true);
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string installed = std::string(temp) + "vt-installed";
    CreateDirectoryA(installed.c_str(), 0);
    std::string exe = installed + "\\Veltaspar.exe";
    FILE *f = fopen(exe.c_str(), "wb");
    ASSERT_TRUE(f != 0);
    fputs("MZ", f);
    fclose(f);
    CopyText(gApp.productName, "Veltaspar", MAX_TEXT);
    CopyText(gApp.ownFolder, "C:\\elsewhere", MAX_TEXT);
    memset(gApp.installRecord, 0, sizeof gApp.installRecord);
    CopyText((char *)gApp.installRecord + INSTALL_RECORD_INSTALL_PATH, installed.c_str(),
             INSTALL_RECORD_TEXT_BYTES);

    ASSERT_EQ(0, SetAutostartShortcut(true, "-PROFILE Work", false, 0, "VtAutostartTest"));
    char startup[MAX_PATH];
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathA(0, CSIDL_STARTUP, 0, 0, startup)));
    std::string link = std::string(startup) + "\\VtAutostartTest.lnk";
    IShellLinkA *shell = 0;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, 0, CLSCTX_INPROC_SERVER,
                                           IID_IShellLinkA, (void **)&shell)));
    IPersistFile *file = 0;
    ASSERT_TRUE(SUCCEEDED(shell->QueryInterface(IID_IPersistFile, (void **)&file)));
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, link.c_str(), -1, wide, MAX_PATH);
    EXPECT_TRUE(SUCCEEDED(file->Load(wide, STGM_READ)));
    char target[MAX_PATH] = "", arguments[MAX_PATH] = "";
    shell->GetPath(target, sizeof target, 0, 0);
    shell->GetArguments(arguments, sizeof arguments);
    file->Release();
    shell->Release();
    EXPECT_STREQ(exe.c_str(), target);
    EXPECT_STREQ("-WAITFORDATAPATH -AUTOSTART -PROFILE Work", arguments);

    EXPECT_EQ(0, SetAutostartShortcut(false, 0, false, 0, "VtAutostartTest"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(link.c_str()));
    memset(gApp.installRecord, 0, sizeof gApp.installRecord);
    DeleteFileA(exe.c_str());
    RemoveDirectoryA(installed.c_str());
}

}  // namespace
