// The options dialog and its area selectors, driven with real messages; what
// OK, Apply and Cancel render is seen as the pictures of the real render
// jobs on a tiny map set, and what they put on the desktop as the system's
// wallpaper setting.
#include "outputs.h"

#include <windows.h>
#include <commctrl.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <functional>
#include <string>

#include "earth/compositor.h"
#include "earth/renderjobs.h"
#include "earth/settings.h"
#include "framework/application.h"
#include "framework/utilities.h"
#include "desktoputil.h"
#include "shell/aboutdialog.h"
#include "shell/areaselector.h"
#include "shell/desktop.h"
#include "shell/mainwindow.h"
#include "shell/optionsdialog.h"
#include "shell/program.h"
#include "shell/viewdialogs.h"
#include "testutil.h"

namespace {

const double kPi = 3.14159265358979323846;

void Pump()
{
    MSG msg;
    for (int round = 0; round < 3; round++) {
        while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
            if (!gOptionsDialog || !IsDialogMessageA(gOptionsDialog, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
        Sleep(10);
    }
}

LPARAM At(int x, int y)
{
    return MAKELPARAM(x, y);
}

// ---------------------------------------------------------------- pure helpers

TEST(OptionsMath, ZoomMapsToTheTrackbarBothWays)
{
    EXPECT_EQ(0, ZoomToTrackbar(0.01));
    EXPECT_EQ(500, ZoomToTrackbar(1.0));
    EXPECT_EQ(750, ZoomToTrackbar(3.0));
    EXPECT_EQ(1000, ZoomToTrackbar(5.0));
    EXPECT_EQ(688, ZoomToTrackbar(2.5));   // 687.5 rounds away from zero
    EXPECT_EQ(0, ZoomToTrackbar(0.001));   // clamped
    EXPECT_EQ(1000, ZoomToTrackbar(9.0));
    EXPECT_DOUBLE_EQ(0.01, TrackbarToZoom(0));
    EXPECT_DOUBLE_EQ(1.0, TrackbarToZoom(500));
    EXPECT_DOUBLE_EQ(0.505, TrackbarToZoom(250));
    EXPECT_DOUBLE_EQ(3.0, TrackbarToZoom(750));
    EXPECT_DOUBLE_EQ(5.0, TrackbarToZoom(1000));
    for (int p = 0; p <= 1000; p += 37)
        EXPECT_EQ(p, ZoomToTrackbar(TrackbarToZoom(p))) << p;
}

TEST(OptionsMath, ViewpointTextBothWays)
{
    char text[64];
    FormatViewpointText(0.75, 0.25, text, sizeof text);
    EXPECT_STREQ("45.00\260 N   90.00\260 E", text);
    FormatViewpointText(0.25, 0.75, text, sizeof text);
    EXPECT_STREQ("45.00\260 S   90.00\260 W", text);

    double x = -1, y = -1;
    ASSERT_TRUE(ParseViewpointText("12,5 S", &x, &y));
    EXPECT_NEAR((90 + 12.5) / 180, y, 1e-12);   // latitude -12.5
    EXPECT_NEAR(0.5, x, 1e-12);
    ASSERT_TRUE(ParseViewpointText("10\260 N   200\260 E", &x, &y));
    EXPECT_NEAR(1.0, x, 1e-12);                 // longitude clamped to 180
    ASSERT_TRUE(ParseViewpointText("95 S 30 W", &x, &y));
    EXPECT_NEAR(1.0, y, 1e-12);                 // latitude clamped to -90
    EXPECT_NEAR((180 - 30) / 360.0, x, 1e-12);
    // What Format writes, Parse reads back.
    FormatViewpointText(0.3, 0.6, text, sizeof text);
    ASSERT_TRUE(ParseViewpointText(text, &x, &y));
    EXPECT_NEAR(0.3, x, 1e-4);
    EXPECT_NEAR(0.6, y, 1e-4);
    EXPECT_FALSE(ParseViewpointText("north", &x, &y));
}

TEST(OptionsMath, PixelsRoundHalfAwayFromZero)
{
    EXPECT_EQ(3, RoundHalfAway(2.5));
    EXPECT_EQ(-3, RoundHalfAway(-2.5));
    // Binary fractions: the halves are exact.
    gScreenX = -1;
    gScreenY = 2;
    gScreenW = 8;
    gScreenH = 8;
    FractionRect r = {{1 / 16.0, 3 / 16.0, 6 / 16.0, 1.0}};
    int px[4];
    ScreenRectToPixels(&r, px);
    EXPECT_EQ(-1, px[0]);     // 0.5 - 1 = -0.5
    EXPECT_EQ(4, px[1]);      // 1.5 + 2 = 3.5
    EXPECT_EQ(3, px[2]);      // 2.5
    EXPECT_EQ(7, px[3]);      // 6.5
}

TEST(OptionsMath, ViewListsDifferIgnoresTimesAndSwitchesAndKeepsTheSnapshot)
{
    ViewList a, b;
    a.Add(*DefaultView(0));
    b.Add(*DefaultView(0));
    EXPECT_FALSE(ViewListsDiffer(&a, &b));
    a.data[0].tLastUpdate = 12345;
    a.data[0].bActive = 0;
    EXPECT_FALSE(ViewListsDiffer(&a, &b));
    EXPECT_EQ(1, b.data[0].bActive);   // the snapshot is left as it was
    EXPECT_EQ(0, b.data[0].tLastUpdate);
    a.data[0].iCloudsOpacity = 7;
    EXPECT_TRUE(ViewListsDiffer(&a, &b));
    a.data[0].iCloudsOpacity = b.data[0].iCloudsOpacity;
    a.Add(*DefaultView(1));
    EXPECT_TRUE(ViewListsDiffer(&a, &b));
    a.RemoveAll();
    b.RemoveAll();
}

// ---------------------------------------------------------------- selector

const int kPlaceholder = 100, kSelector = 401;

struct Heard {
    int count;
    WPARAM wParam[64];
    LPARAM lParam[64];
} gHeard;

LRESULT CALLBACK SelectorParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && LOWORD(wParam) == kSelector && gHeard.count < 64) {
        gHeard.wParam[gHeard.count] = wParam;
        gHeard.lParam[gHeard.count++] = lParam;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Two monitors side by side; the selector's picture is 201 x 100 pixels.
struct SelectorFixture : ::testing::Test {
    HWND parent;
    AreaSelector selector;
    void SetUp() override
    {
        gScreenX = gScreenY = 0;
        gScreenW = 2000;
        gScreenH = 1000;
        memset(&gMonitors, 0, sizeof gMonitors);
        gMonitors.count = 2;
        SetRect(&gMonitors.rect[0], 0, 0, 1000, 1000);
        SetRect(&gMonitors.rect[1], 1000, 0, 2000, 1000);
        WNDCLASSA wc = {};
        wc.lpfnWndProc = SelectorParentProc;
        wc.hInstance = GetModuleHandleA(0);
        wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
        wc.lpszClassName = "VtSelectorTestParent";
        RegisterClassA(&wc);
        parent = CreateWindowExA(0, wc.lpszClassName, "Selector", WS_OVERLAPPED | WS_VISIBLE, 30,
                                 30, 300, 200, 0, 0, wc.hInstance, 0);
        CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_ETCHEDFRAME, 10, 10, 208, 108,
                        parent, (HMENU)(INT_PTR)kPlaceholder, wc.hInstance, 0);
        gHeard = Heard();
    }
    void TearDown() override
    {
        selector.Reset();
        DestroyWindow(parent);
    }
    void Create(int mode)
    {
        ASSERT_EQ(0, selector.Create(parent, kPlaceholder, kSelector, mode, true));
        ASSERT_EQ(201, selector.displayWidth);
        ASSERT_EQ(100, selector.displayHeight);
    }
    void Send(UINT message, WPARAM keys, int x, int y)
    {
        SendMessageA(selector.window, message, keys, At(x, y));
    }
    void Drag(int x0, int y0, int x1, int y1)
    {
        Send(WM_LBUTTONDOWN, MK_LBUTTON, x0, y0);
        Send(WM_MOUSEMOVE, MK_LBUTTON, (x0 + x1) / 2, (y0 + y1) / 2);
        Send(WM_MOUSEMOVE, MK_LBUTTON, x1, y1);
        Send(WM_LBUTTONUP, 0, x1, y1);
    }
};

TEST_F(SelectorFixture, MonitorsBecomeTheBackground)
{
    Create(AREA_MODE_RECTANGLES);
    ASSERT_EQ(2, selector.background.count);
    EXPECT_DOUBLE_EQ(0.5, selector.background.data[1].p[0]);
    EXPECT_DOUBLE_EQ(1.0, selector.background.data[1].p[2]);
    selector.showMonitors = 0;
    selector.LoadMonitors();
    ASSERT_EQ(1, selector.background.count);
    EXPECT_DOUBLE_EQ(1.0, selector.background.data[0].p[3]);
}

TEST_F(SelectorFixture, ClickInAnOverlapSelectsTheHigherIndexAndNotifies)
{
    Create(AREA_MODE_RECTANGLES);
    FractionRect a = {{0.1, 0.1, 0.6, 0.6}}, b = {{0.4, 0.4, 0.9, 0.9}};
    ASSERT_EQ(0, selector.AddItem(a, 0));
    ASSERT_EQ(1, selector.AddItem(b, 99));   // clamped to the end
    Send(WM_LBUTTONDOWN, MK_LBUTTON, 100, 50);   // inside both
    Send(WM_LBUTTONUP, 0, 100, 50);
    EXPECT_EQ(1, selector.selected);
    ASSERT_EQ(2, gHeard.count);
    EXPECT_EQ((WPARAM)(kSelector + AREA_NOTIFY_SELECT), gHeard.wParam[0]);
    EXPECT_EQ(1, gHeard.lParam[0]);
    EXPECT_EQ((WPARAM)(kSelector + AREA_NOTIFY_CHANGED), gHeard.wParam[1]);
    // Beside everything: nothing selected, told with -1.
    Send(WM_LBUTTONDOWN, MK_LBUTTON, 3, 97);
    Send(WM_LBUTTONUP, 0, 3, 97);
    EXPECT_EQ(-1, selector.selected);
    EXPECT_EQ(-1, gHeard.lParam[2]);
}

TEST_F(SelectorFixture, HitTestReportsEdgesAndCursors)
{
    Create(AREA_MODE_RECTANGLES);
    FractionRect a = {{0.2, 0.2, 0.8, 0.8}};   // pixels 40,20 .. 161,80
    selector.AddItem(a, 0);
    POINT inside = {100, 50}, left = {41, 50}, corner = {160, 79}, outside = {10, 5};
    EXPECT_EQ(0, selector.HitTest(inside));
    EXPECT_EQ(AREA_EDGE_LEFT, selector.HitTest(left));
    EXPECT_EQ(AREA_EDGE_RIGHT | AREA_EDGE_BOTTOM, selector.HitTest(corner));
    EXPECT_EQ(-1, selector.HitTest(outside));
    EXPECT_EQ(-1, selector.hovered);
    EXPECT_EQ(IDC_SIZEALL, AreaCursorForHit(0));
    EXPECT_EQ(IDC_SIZENWSE, AreaCursorForHit(12));
    EXPECT_EQ(IDC_SIZENESW, AreaCursorForHit(9));
    EXPECT_EQ(IDC_ARROW, AreaCursorForHit(-1));
}

// Under nine pixels each way the cursor is near all four edges; the press
// takes the top-left corner, so a drag widens the rectangle from there and
// does not squeeze it onto the cursor.
TEST_F(SelectorFixture, TinyRectangleIsResizedByItsTopLeftCorner)
{
    Create(AREA_MODE_RECTANGLES);
    FractionRect a = {{0.3, 0.3, 0.32, 0.36}};   // pixels 60,30 .. 64,36
    selector.AddItem(a, 0);
    POINT middle = {62, 33};
    EXPECT_EQ(AREA_EDGE_LEFT | AREA_EDGE_TOP, selector.HitTest(middle));
    Drag(62, 33, 42, 23);
    const double *p = selector.items.data[0].p;
    EXPECT_NEAR(40 / 201.0, p[0], 1e-9);
    EXPECT_NEAR(0.2, p[1], 1e-9);
    EXPECT_DOUBLE_EQ(0.32, p[2]);
    EXPECT_DOUBLE_EQ(0.36, p[3]);
}

TEST_F(SelectorFixture, LeftEdgeDraggedNearAMonitorEdgeSnapsOntoIt)
{
    Create(AREA_MODE_RECTANGLES);
    FractionRect a = {{0.2, 0.2, 0.8, 0.8}};
    selector.AddItem(a, 0);
    // Left edge at pixel 40 to pixel 104: 0.517, 0.017 from the monitor edge 0.5.
    Drag(40, 50, 104, 50);
    EXPECT_DOUBLE_EQ(0.5, selector.items.data[0].p[0]);
    EXPECT_DOUBLE_EQ(0.8, selector.items.data[0].p[2]);
    EXPECT_DOUBLE_EQ(0.2, selector.items.data[0].p[1]);
    // Moving notifications while the button was down, then "changed".
    EXPECT_EQ((WPARAM)(kSelector + AREA_NOTIFY_MOVING), gHeard.wParam[1]);
    EXPECT_EQ((WPARAM)(kSelector + AREA_NOTIFY_CHANGED), gHeard.wParam[gHeard.count - 1]);
    // Far from any edge it follows the mouse.
    Drag(161, 50, 140, 50);
    EXPECT_NEAR(140 / 201.0, selector.items.data[0].p[2], 1e-9);
}

TEST_F(SelectorFixture, MovingKeepsTheSizeAndSnaps)
{
    Create(AREA_MODE_RECTANGLES);
    FractionRect a = {{0.1, 0.3, 0.3, 0.5}};
    selector.AddItem(a, 0);
    int cx = (20 + 60) / 2, cy = (30 + 50) / 2;
    Drag(cx, cy, cx + 50, cy + 1);
    const double *p = selector.items.data[0].p;
    EXPECT_NEAR(0.2, p[2] - p[0], 1e-9);
    EXPECT_NEAR(0.2, p[3] - p[1], 1e-9);
    EXPECT_NEAR(0.1 + 50 / 201.0, p[0], 0.01);
    // Moved so that its right edge comes within 0.03 of the monitors' middle
    // edge: it lands on it, the left edge moving along.
    Drag(75, 40, 66, 40);
    EXPECT_DOUBLE_EQ(0.5, selector.items.data[0].p[2]);
    EXPECT_NEAR(0.3, selector.items.data[0].p[0], 1e-9);
}

TEST_F(SelectorFixture, DoubleClickFillsTheMonitor)
{
    Create(AREA_MODE_RECTANGLES);
    FractionRect a = {{0.6, 0.2, 0.8, 0.4}};
    selector.AddItem(a, 0);
    Send(WM_LBUTTONDOWN, MK_LBUTTON, 140, 30);
    Send(WM_LBUTTONUP, 0, 140, 30);
    Send(WM_LBUTTONDBLCLK, MK_LBUTTON, 140, 30);
    Send(WM_MOUSEMOVE, MK_LBUTTON, 10, 10);   // skipped after the double click
    Send(WM_LBUTTONUP, 0, 140, 30);
    const double *p = selector.items.data[0].p;
    EXPECT_DOUBLE_EQ(0.5, p[0]);
    EXPECT_DOUBLE_EQ(0.0, p[1]);
    EXPECT_DOUBLE_EQ(1.0, p[2]);
    EXPECT_DOUBLE_EQ(1.0, p[3]);
}

TEST_F(SelectorFixture, ClickBesideThePointMovesItThere)
{
    Create(AREA_MODE_POINT);
    selector.AddPoint(0.5, 0.5);
    selector.selected = 0;
    Send(WM_LBUTTONDOWN, MK_LBUTTON, 20, 80);
    Send(WM_LBUTTONUP, 0, 20, 80);
    EXPECT_NEAR(20 / 201.0, selector.items.data[0].p[0], 1e-9);
    EXPECT_NEAR(0.8, selector.items.data[0].p[1], 1e-9);
    // Grabbed on the point it follows the drag, clamped to the picture.
    int x = (int)floor(selector.items.data[0].p[0] * 201 + 0.5);
    Drag(x + 2, 80, x + 2 - 500, 80);
    EXPECT_DOUBLE_EQ(0.0, selector.items.data[0].p[0]);
    Send(WM_LBUTTONDBLCLK, MK_LBUTTON, 150, 50);   // in the right monitor
    EXPECT_DOUBLE_EQ(0.75, selector.items.data[0].p[0]);
    EXPECT_DOUBLE_EQ(0.5, selector.items.data[0].p[1]);
}

// ---------------------------------------------------------------- dialog

// Another program's wallpaper file that still counts as ours by its name;
// an install replaces it with the program's own path.
const char kOurNameElsewhere[] = "C:\\elsewhere\\Veltaspar.bmp";
const char kUsersWallpaper[] = "C:\\users\\me\\beach.bmp";

// A sub-dialog that a button of the options dialog opens, answered by a
// helper thread as a user would: it waits for a visible dialog with the
// caption and a control of the template, owned by the options dialog, runs
// the script on it and closes it with closeWith. Every wait is bounded: a
// dialog that never shows leaves found false.
struct SubDialog {
    HWND owner;
    const char *caption;
    int templateControl;
    std::function<void(HWND)> script;
    int closeWith;
    bool found, closed;
};

std::string ItemText(HWND dialog, int id)
{
    char text[256] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

DWORD WINAPI AnswerSubDialog(LPVOID parameter)
{
    SubDialog *sub = (SubDialog *)parameter;
    HWND dialog = 0;
    for (int waited = 0; !dialog && waited < 10000; waited += 20) {
        HWND found = 0;
        while ((found = FindWindowExA(0, found, "#32770", sub->caption)) != 0)
            if (found != sub->owner && IsWindowVisible(found) &&
                GetWindow(found, GW_OWNER) == sub->owner &&
                GetDlgItem(found, sub->templateControl))
                break;
        if (found)
            dialog = found;
        else
            Sleep(20);
    }
    sub->found = dialog != 0;
    if (!dialog) {
        // Whatever else the click opened is closed, so that the test fails
        // instead of waiting for ever.
        DWORD thread = GetWindowThreadProcessId(sub->owner, 0);
        HWND other = 0;
        while ((other = FindWindowExA(0, other, "#32770", 0)) != 0)
            if (other != sub->owner && IsWindowVisible(other) &&
                GetWindowThreadProcessId(other, 0) == thread) {
                char caption[64] = "";
                GetWindowTextA(other, caption, sizeof caption);
                fprintf(stderr, "closing \"%s\", owned by %p, instead\n", caption,
                        (void *)GetWindow(other, GW_OWNER));
                PostMessageA(other, WM_COMMAND, IDCANCEL, 0);
            }
        return 0;
    }
    Sleep(100);   // its own posted initialisation runs first
    if (sub->script)
        sub->script(dialog);
    PostMessageA(dialog, WM_COMMAND, sub->closeWith, 0);
    for (int waited = 0; waited < 10000 && IsWindow(dialog); waited += 20)
        Sleep(20);
    sub->closed = !IsWindow(dialog);
    return 0;
}

// The whole display from the helper thread while a sub-dialog is up, under
// the build folder; RunHostScript's result (0 when taken).
int ShotOfSubDialog(const char *name)
{
    Sleep(300);   // painted
    std::string report;
    return ShotOfDisplay(std::string("options-") + name, &report);
}

// The night layer dialog's "City lights" trackbar and edit.
enum { NIGHT_LIGHTS_TRACK = 1166, NIGHT_LIGHTS_EDIT = 1099, NIGHT_EQUATOR_EDIT = 1117 };

struct DialogFixture : ::testing::Test {
    HWND dialog;
    std::string folder;
    void SetUp() override
    {
        folder = FreshTempFolder("options");
        CopyText(gApp.dataFolder, folder.c_str(), sizeof gApp.dataFolder);
        CopyText(gApp.ownFolder, folder.c_str(), sizeof gApp.ownFolder);
        gPrefs = kDefaultPrefs;
        gPrefs.szCurProfile[0] = 0;
        gPrefs.bMultiMon = 0;
        gScreenX = gScreenY = 0;
        gScreenW = 1280;
        gScreenH = 1024;
        memset(&gMonitors, 0, sizeof gMonitors);
        gMonitors.count = 1;
        SetRect(&gMonitors.rect[0], 0, 0, 1280, 1024);
        for (int i = 0; i < 2; i++) {
            gViewLists[i].RemoveAll();
            gViewLists[i].Add(*DefaultView(i));
        }
        gOptions.editedList = 0;
        gOptions.clipboard.RemoveAll();
        // Real renders on a tiny map, onto the same output screen.
        CopyText(gPrefs.szCurProfile, "Test", sizeof gPrefs.szCurProfile);
        CreateDirectoryA((folder + "\\Profile-Test").c_str(), 0);
        UseTinyMaps(folder + "\\Program");
        gScreenW = 1280;
        gScreenH = 1024;
        memset((void *)&gRenderJobs, 0, sizeof gRenderJobs);
        // Whatever OK starts, no download leaves this machine.
        ASSERT_TRUE(server.Start());
        PointDownloadsAt(server);
        // The desktop has a wallpaper of ours; the screen saver is the user's.
        SetDesktopPaths();
        gWallpaperInstalled = 0;
        WriteDesktopValue("Wallpaper", kOurNameElsewhere);
        WritePrivateProfileStringA("boot", "SCRNSAVE.EXE", "", "SYSTEM.INI");
        OpenOptionsDialog(false);
        dialog = gOptionsDialog;
        ASSERT_TRUE(dialog != 0);
        Pump();
    }
    void TearDown() override
    {
        CloseOptionsDialog();
        Pump();
        EXPECT_TRUE(WaitFor(RenderJobsIdle));
        EXPECT_TRUE(WaitFor(WorkersIdle));
        WaitForScreenSaverThreads();
        server.Stop();
    }
    LocalHttpServer server;
    // What the last button rendered: the output pictures that appeared
    // ("wallpaper", "saver", in the order they started), the output still
    // requested ("+saver", "+wallpaper") and the order flag; then all of
    // it cleared for the next button.
    std::string Rendered()
    {
        EXPECT_TRUE(WaitFor(RenderJobsIdle));
        std::string wallpaper = folder + "\\Veltaspar.bmp", saver = folder + "\\VTScrsvr.bmp";
        std::string result;
        if (FileExists(wallpaper))
            result += "wallpaper";
        if (FileExists(saver))
            result += "saver";
        if (gRenderJobs.pending[0])
            result += " +wallpaper";
        if (gRenderJobs.pending[1])
            result += " +saver";
        if (!result.empty())
            result += gRenderJobs.order ? ", saver first" : ", wallpaper first";
        DeleteFileA(wallpaper.c_str());
        DeleteFileA(saver.c_str());
        gRenderJobs.pending[0] = gRenderJobs.pending[1] = 0;
        return result;
    }
    HWND Item(int id) { return GetDlgItem(dialog, id); }
    void Click(int id)
    {
        SendMessageA(Item(id), BM_CLICK, 0, 0);
        Pump();
    }
    bool Enabled(int id) { return IsWindowEnabled(Item(id)) != 0; }
    // Clicks a button that opens a modal sub-dialog while a helper thread
    // answers it; the click returns when the sub-dialog has ended.
    void ClickThrough(int id, SubDialog *sub)
    {
        sub->found = sub->closed = false;
        HANDLE thread = CreateThread(0, 0, AnswerSubDialog, sub, 0, 0);
        ASSERT_TRUE(thread != 0);
        Click(id);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 25000));
        CloseHandle(thread);
    }
    std::string Text(int id)
    {
        char text[256];
        GetDlgItemTextA(dialog, id, text, sizeof text);
        return text;
    }
    // Typed by the user: the edit has the focus.
    void Type(int id, const char *text)
    {
        SetFocus(Item(id));
        SetDlgItemTextA(dialog, id, text);
        Pump();
    }
    void SelectCombo(int id, int index)
    {
        SendMessageA(Item(id), CB_SETCURSEL, index, 0);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), (LPARAM)Item(id));
        Pump();
    }
    void SelectTab(int tab)
    {
        SendMessageA(Item(IDC_OPT_TABS), TCM_SETCURSEL, tab, 0);
        NMHDR header = {Item(IDC_OPT_TABS), (UINT_PTR)IDC_OPT_TABS, (UINT)TCN_SELCHANGE};
        SendMessageA(dialog, WM_NOTIFY, IDC_OPT_TABS, (LPARAM)&header);
        Pump();
    }
    ViewList &List() { return gViewLists[gOptions.editedList]; }
    // The whole display, under the build folder (the host must reach it).
    void Screenshot(const char *name)
    {
        RedrawWindow(dialog, 0, 0, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Pump();
        std::string report;
        EXPECT_NE(2, ShotOfDisplay(std::string("options-") + name, &report)) << report;
    }
};

TEST_F(DialogFixture, OneViewDisablesRemoveUpAndDown)
{
    EXPECT_EQ(0, gOptions.currentView);
    EXPECT_FALSE(Enabled(IDC_OPT_REMOVE_VIEW));
    EXPECT_FALSE(Enabled(IDC_OPT_UP));
    EXPECT_FALSE(Enabled(IDC_OPT_DOWN));
    EXPECT_FALSE(Enabled(IDC_OPT_PASTE_VIEW));
    EXPECT_EQ("Active", Text(IDC_OPT_ACTIVE));
    EXPECT_FALSE(IsWindowVisible(Item(IDC_OPT_ACTIVE_MINUTES)));
    EXPECT_EQ(1, (int)SendMessageA(Item(IDC_OPT_VIEW), CB_GETCOUNT, 0, 0));
}

TEST_F(DialogFixture, AddRemoveAndReorderViews)
{
    Click(IDC_OPT_ADD_VIEW);
    ASSERT_EQ(2, List().count);
    EXPECT_EQ(1, gOptions.currentView);
    EXPECT_DOUBLE_EQ(0.25, List().data[1].sSelScr.p[0]);
    EXPECT_DOUBLE_EQ(0.75, List().data[1].sSelScr.p[3]);
    EXPECT_EQ("320", Text(IDC_OPT_X));
    EXPECT_EQ("640", Text(IDC_OPT_W));
    EXPECT_TRUE(Enabled(IDC_OPT_REMOVE_VIEW));
    EXPECT_FALSE(Enabled(IDC_OPT_UP));   // the last one
    EXPECT_TRUE(Enabled(IDC_OPT_DOWN));
    EXPECT_EQ(2, OptionsScreenSelector()->items.count);

    // Mark the views, then move the first one up.
    List().data[0].iCloudsOpacity = 11;
    List().data[1].iCloudsOpacity = 22;
    SelectCombo(IDC_OPT_VIEW, 0);
    EXPECT_EQ(0, gOptions.currentView);
    EXPECT_EQ(0, OptionsScreenSelector()->selected);
    Click(IDC_OPT_UP);
    EXPECT_EQ(1, gOptions.currentView);
    EXPECT_EQ(22, List().data[0].iCloudsOpacity);
    EXPECT_EQ(11, List().data[1].iCloudsOpacity);
    Click(IDC_OPT_DOWN);
    EXPECT_EQ(0, gOptions.currentView);
    EXPECT_EQ(11, List().data[0].iCloudsOpacity);

    // Copy, paste, remove.
    Click(IDC_OPT_COPY_VIEW);
    EXPECT_TRUE(Enabled(IDC_OPT_PASTE_VIEW));
    Click(IDC_OPT_PASTE_VIEW);
    ASSERT_EQ(3, List().count);
    EXPECT_EQ(2, gOptions.currentView);
    EXPECT_EQ(11, List().data[2].iCloudsOpacity);
    Click(IDC_OPT_REMOVE_VIEW);
    ASSERT_EQ(2, List().count);
    EXPECT_EQ(1, gOptions.currentView);
    EXPECT_EQ(3, (int)SendMessageA(Item(IDC_OPT_VIEW), CB_GETCOUNT, 0, 0) + 1);
}

TEST_F(DialogFixture, PositionAndSizeEdits)
{
    ViewOptions &view = List().data[0];
    Type(IDC_OPT_X, "128");   // live while focused
    EXPECT_DOUBLE_EQ(0.1, view.sSelScr.p[0]);
    EXPECT_DOUBLE_EQ(0.1, OptionsScreenSelector()->items.data[0].p[0]);
    Type(IDC_OPT_W, "");      // empty: reaches the right edge
    EXPECT_DOUBLE_EQ(0.9, view.sSelScr.p[2]);
    Type(IDC_OPT_W, "5");     // clamped to 10 pixels
    EXPECT_NEAR(0.1 + 10 / 1280.0, view.sSelScr.p[2], 1e-12);
    Type(IDC_OPT_H, "999999");
    EXPECT_NEAR(100000 / 1024.0, view.sSelScr.p[3], 1e-9);
}

TEST_F(DialogFixture, ZoomEditAndTrackbar)
{
    ViewOptions &view = List().data[0];
    Type(IDC_OPT_ZOOM, "250");
    EXPECT_DOUBLE_EQ(2.5, view.dSMpZoom);
    EXPECT_EQ(688, (int)SendMessageA(Item(IDC_OPT_ZOOM_BAR), TBM_GETPOS, 0, 0));
    Type(IDC_OPT_ZOOM, "900");
    EXPECT_DOUBLE_EQ(5.0, view.dSMpZoom);
    SetFocus(Item(IDC_OPT_VIEW));
    SendMessageA(Item(IDC_OPT_ZOOM_BAR), TBM_SETPOS, TRUE, 750);
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 750), (LPARAM)Item(IDC_OPT_ZOOM_BAR));
    EXPECT_DOUBLE_EQ(3.0, view.dSMpZoom);
    EXPECT_EQ("300", Text(IDC_OPT_ZOOM));
    SendMessageA(dialog, WM_HSCROLL, TB_ENDTRACK, (LPARAM)Item(IDC_OPT_ZOOM_BAR));
    // A commit leaves a zoom between whole percents alone.
    SendMessageA(Item(IDC_OPT_ZOOM_BAR), TBM_SETPOS, TRUE, 1);
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 1), (LPARAM)Item(IDC_OPT_ZOOM_BAR));
    SendMessageA(dialog, OPTIONS_COMMIT, 0, 0);
    EXPECT_DOUBLE_EQ(TrackbarToZoom(1), view.dSMpZoom);
}

TEST_F(DialogFixture, ViewpointTextAndMapSelector)
{
    ViewOptions &view = List().data[0];
    EXPECT_EQ("0.00\260 N   0.00\260 E", Text(IDC_OPT_VIEWPOINT));
    Type(IDC_OPT_VIEWPOINT, "12,5 S");
    EXPECT_NEAR(102.5 / 180, view.sSelMap.p[1], 1e-12);
    EXPECT_NEAR(0.5, view.sSelMap.p[0], 1e-12);
    Type(IDC_OPT_VIEWPOINT, "0 N 250 E");
    EXPECT_NEAR(1.0, view.sSelMap.p[0], 1e-12);
    EXPECT_NEAR(1.0, OptionsMapSelector()->items.data[0].p[0], 1e-12);

    // A click on the map moves the viewpoint.
    SetFocus(Item(IDC_OPT_VIEW));
    AreaSelector *map = OptionsMapSelector();
    int w = map->displayWidth, h = map->displayHeight;
    ASSERT_GT(w, 50);
    SendMessageA(map->window, WM_LBUTTONDOWN, MK_LBUTTON, At(w / 4, h / 4));
    SendMessageA(map->window, WM_LBUTTONUP, 0, At(w / 4, h / 4));
    Pump();
    EXPECT_NEAR((double)(w / 4) / w, view.sSelMap.p[0], 1e-9);
    EXPECT_NEAR((double)(h / 4) / h, view.sSelMap.p[1], 1e-9);
    char expected[64];
    FormatViewpointText(view.sSelMap.p[0], view.sSelMap.p[1], expected, sizeof expected);
    EXPECT_EQ(expected, Text(IDC_OPT_VIEWPOINT));
}

TEST_F(DialogFixture, ScreenSelectorDragMovesTheView)
{
    AreaSelector *screen = OptionsScreenSelector();
    int w = screen->displayWidth, h = screen->displayHeight;
    ASSERT_GT(w, 100);
    EXPECT_NEAR(1280.0 / 1024, (double)w / h, 0.02);   // the screen's shape
    // Right edge of the full-screen view dragged to the middle.
    SendMessageA(screen->window, WM_LBUTTONDOWN, MK_LBUTTON, At(w - 1, h / 2));
    SendMessageA(screen->window, WM_MOUSEMOVE, MK_LBUTTON, At(w / 2, h / 2));
    SendMessageA(screen->window, WM_LBUTTONUP, 0, At(w / 2, h / 2));
    Pump();
    ViewOptions &view = List().data[0];
    EXPECT_EQ(0, gOptions.currentView);
    EXPECT_NEAR(0.5, view.sSelScr.p[2], 2.0 / w);
    EXPECT_DOUBLE_EQ(0.0, view.sSelScr.p[0]);
    char width[16];
    snprintf(width, sizeof width, "%d", RoundHalfAway(view.sSelScr.p[2] * 1280));
    EXPECT_EQ(width, Text(IDC_OPT_W));
    // A click beside every view: no current view, per-view controls off.
    SendMessageA(screen->window, WM_LBUTTONDOWN, MK_LBUTTON, At(w - 3, h - 3));
    SendMessageA(screen->window, WM_LBUTTONUP, 0, At(w - 3, h - 3));
    Pump();
    EXPECT_EQ(-1, gOptions.currentView);
    EXPECT_FALSE(Enabled(IDC_OPT_X));
    EXPECT_FALSE(Enabled(IDC_OPT_DAY));
    EXPECT_FALSE(IsWindowEnabled(OptionsMapSelector()->window));
}

TEST_F(DialogFixture, ChecksModesAndAnglesCommit)
{
    ViewOptions &view = List().data[0];
    view.bClouds = 1;   // as by default; the fixture's renders go without
    SendMessageA(dialog, OPTIONS_REFRESH, 0, 0);
    Pump();
    Click(IDC_OPT_CLOUDS);
    EXPECT_EQ(0, view.bClouds);
    EXPECT_FALSE(Enabled(IDC_OPT_SUN_LAT));
    Click(IDC_OPT_MODE_SUN);
    EXPECT_EQ(1, view.iViewMode);
    EXPECT_TRUE(Enabled(IDC_OPT_SUN_LAT));
    EXPECT_TRUE(Enabled(IDC_OPT_KEEP_ON_SCREEN));
    EXPECT_FALSE(Enabled(IDC_OPT_DEFINE_PATH));
    Type(IDC_OPT_SUN_LAT, "45");
    SelectCombo(IDC_OPT_SUN_LAT_DIR, 1);
    EXPECT_NEAR(-kPi / 4, view.dVSLat, 1e-12);
    Type(IDC_OPT_SUN_LON, "200");   // clamped to 180
    EXPECT_NEAR(kPi, view.dVSLon, 1e-12);
    SelectCombo(IDC_OPT_PROJECTION, 0);
    EXPECT_EQ(0, view.iPrjType);
    Click(IDC_OPT_MODE_PATH);
    EXPECT_TRUE(Enabled(IDC_OPT_DEFINE_PATH));
    // "More..." of the night layer opens the real night dialog on the
    // current view; what the user drags there stays in the view, also
    // through the options dialog's refresh and its next commit.
    view.iNightLights = 40;
    std::string shownLights;
    int nightShot = -1;
    SubDialog night = {dialog, "Night view", NIGHT_EQUATOR_EDIT, [&](HWND d) {
                           shownLights = ItemText(d, NIGHT_LIGHTS_EDIT);
                           HWND track = GetDlgItem(d, NIGHT_LIGHTS_TRACK);
                           SendMessageA(track, TBM_SETPOS, TRUE, 73);
                           SendMessageA(d, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), (LPARAM)track);
                           nightShot = ShotOfSubDialog("night");
                       },
                       IDOK};
    ClickThrough(IDC_OPT_NIGHT_MORE, &night);
    EXPECT_TRUE(night.found);
    EXPECT_TRUE(night.closed);
    EXPECT_EQ("40", shownLights);
    EXPECT_NE(2, nightShot);   // the host's "import" could run
    EXPECT_EQ(73, view.iNightLights);
    SendMessageA(dialog, OPTIONS_COMMIT, 0, 0);
    EXPECT_EQ(73, List().data[0].iNightLights);
    EXPECT_TRUE(Enabled(IDC_OPT_DEFINE_PATH));
    // Cancel there gives the view back as it was.
    SubDialog cancelled = {dialog, "Night view", NIGHT_EQUATOR_EDIT, [&](HWND d) {
                               HWND track = GetDlgItem(d, NIGHT_LIGHTS_TRACK);
                               SendMessageA(track, TBM_SETPOS, TRUE, 5);
                               SendMessageA(d, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0),
                                            (LPARAM)track);
                           },
                           IDCANCEL};
    ClickThrough(IDC_OPT_NIGHT_MORE, &cancelled);
    EXPECT_TRUE(cancelled.found);
    EXPECT_EQ(73, List().data[0].iNightLights);
    // "About" opens the real About dialog over the options dialog; OK closes
    // it and the options dialog takes input again. Its caption is the
    // product's name, as the options dialog's own.
    char productName[MAX_TEXT];
    CopyText(productName, gApp.productName, sizeof productName);
    CopyText(gApp.productName, "Veltaspar", sizeof gApp.productName);
    std::string product;
    SubDialog about = {dialog, "Veltaspar", IDC_ABOUT_PRODUCT,
                       [&](HWND d) { product = ItemText(d, IDC_ABOUT_PRODUCT); }, IDOK};
    ClickThrough(IDC_OPT_ABOUT, &about);
    CopyText(gApp.productName, productName, sizeof gApp.productName);
    EXPECT_TRUE(about.found);
    EXPECT_TRUE(about.closed);
    char expected[64];
    snprintf(expected, sizeof expected, "Veltaspar v%d.%d.%d", gApp.versionMajor,
             gApp.versionMinor, gApp.versionBuild);
    EXPECT_EQ(expected, product);
    EXPECT_TRUE(IsWindowEnabled(dialog));
    EXPECT_EQ(dialog, gOptionsDialog);
}

// A 24-bit picture of a blue-green gradient.
void WriteTestBitmap(const std::string &path, int width, int height)
{
    int row = (width * 3 + 3) & ~3;
    std::string bytes(54 + row * height, 0);
    auto put32 = [&](int at, uint32_t v) { memcpy(&bytes[at], &v, 4); };
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(2, (uint32_t)bytes.size());
    put32(10, 54);
    put32(14, 40);
    put32(18, width);
    put32(22, height);
    bytes[26] = 1;
    bytes[28] = 24;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            char *p = &bytes[54 + y * row + x * 3];
            p[0] = (char)(120 + y);
            p[1] = (char)(x);
            p[2] = 20;
        }
    WriteWhole(path, bytes);
}

TEST_F(DialogFixture, ScreenSaverTabShowsItsMinutes)
{
    Click(IDC_OPT_ADD_VIEW);
    std::string screen = folder + "\\screen.bmp", map = folder + "\\map.bmp";
    WriteTestBitmap(screen, 160, 128);
    WriteTestBitmap(map, 200, 100);
    EXPECT_EQ(0, OptionsScreenSelector()->LoadImage(screen.c_str()));
    EXPECT_EQ(0, OptionsMapSelector()->LoadImage(map.c_str()));
    Pump();
    Screenshot("wallpaper");
    SelectTab(1);
    EXPECT_EQ(1, gOptions.editedList);
    EXPECT_EQ("Activate after", Text(IDC_OPT_ACTIVE));
    EXPECT_TRUE(IsWindowVisible(Item(IDC_OPT_ACTIVE_MINUTES)));
    EXPECT_EQ(0, IsDlgButtonChecked(dialog, IDC_OPT_ACTIVE));   // not our saver
    EXPECT_FALSE(Enabled(IDC_OPT_ACTIVE_MINUTES));
    Click(IDC_OPT_ACTIVE);
    EXPECT_TRUE(Enabled(IDC_OPT_ACTIVE_MINUTES));
    Type(IDC_OPT_ACTIVE_MINUTES, "");
    SendMessageA(dialog, OPTIONS_COMMIT, 0, 0);
    EXPECT_EQ(10, gViewLists[1].data[0].iActive);   // empty: 10
    Type(IDC_OPT_ACTIVE_MINUTES, "5000");
    SendMessageA(dialog, OPTIONS_COMMIT, 0, 0);
    EXPECT_EQ(1000, gViewLists[1].data[0].iActive);
    Type(IDC_OPT_UPDATE_MINUTES, "-4");
    SendMessageA(dialog, OPTIONS_COMMIT, 0, 0);
    EXPECT_EQ(0, gViewLists[1].data[0].iUpdate);
    Screenshot("screensaver");
    SelectTab(0);
    EXPECT_EQ("Active", Text(IDC_OPT_ACTIVE));
}

TEST_F(DialogFixture, OkWithoutChangesRendersNothing)
{
    EXPECT_EQ("", Rendered());   // opening renders no output
    // A selection that is no whole pixel survives the commit unchanged.
    List().data[0].sSelScr.p[0] = 1 / 3.0;
    SendMessageA(dialog, OPTIONS_REFRESH, 0, 0);
    ShowWindow(dialog, SW_HIDE);
    ShowWindow(dialog, SW_SHOWNORMAL);   // new snapshots
    Pump();
    Click(IDOK);
    EXPECT_EQ(0, gOptionsDialog);
    EXPECT_EQ("", Rendered());
    EXPECT_EQ(kOurNameElsewhere, ReadDesktopValue("Wallpaper"));   // nothing installed
    EXPECT_DOUBLE_EQ(1 / 3.0, gViewLists[0].data[0].sSelScr.p[0]);
}

TEST_F(DialogFixture, OnlyCloudResolutionChangedRendersBothOnOk)
{
    gPrefs.iCloudsRes = 1;
    Click(IDOK);
    // Both requested, the wallpaper first; the saver waits for the timer.
    EXPECT_EQ("wallpaper +saver, wallpaper first", Rendered());
}

TEST_F(DialogFixture, OkRendersTheListThatChangedAndInstallsTheWallpaper)
{
    gPrefs.bDetectWP = 1;
    WriteDesktopValue("Wallpaper", kUsersWallpaper);
    ShowWindow(dialog, SW_HIDE);
    ShowWindow(dialog, SW_SHOWNORMAL);
    Pump();
    EXPECT_EQ(0, gViewLists[0].data[0].bActive);   // taken from the desktop
    Click(IDC_OPT_ACTIVE);
    Click(IDOK);
    EXPECT_EQ(gWallpaperImage, ReadDesktopValue("Wallpaper"));
    EXPECT_EQ("", Rendered());   // the switch alone renders nothing
}

TEST_F(DialogFixture, CancelAfterApplyRestoresWhatWasShownAndRendersTheDifference)
{
    Click(IDC_OPT_CITIES);
    EXPECT_EQ(1, gViewLists[0].data[0].bCities);
    Click(IDC_OPT_APPLY);
    EXPECT_EQ("wallpaper, wallpaper first", Rendered());   // the edited list
    EXPECT_TRUE(gOptionsDialog != 0);
    Click(IDC_OPT_ACTIVE);             // off, after the Apply
    SelectTab(1);
    Click(IDC_OPT_DAY);
    Click(IDCANCEL);
    EXPECT_EQ(0, gOptionsDialog);
    EXPECT_EQ(0, gViewLists[0].data[0].bCities);
    EXPECT_EQ(1, gViewLists[0].data[0].bActive);
    EXPECT_EQ(1, gViewLists[1].data[0].bDay);
    // Both lists differ from the show-time state; the saver list was edited.
    EXPECT_EQ("saver +wallpaper, saver first", Rendered());
}

TEST_F(DialogFixture, ApplyWithAChangedPreferenceRendersBoth)
{
    gPrefs.iTimeBias = 60;
    Click(IDC_OPT_APPLY);
    EXPECT_EQ("wallpaper +saver, wallpaper first", Rendered());
    Click(IDCANCEL);
    EXPECT_EQ(0, gPrefs.iTimeBias);
    EXPECT_EQ("wallpaper +saver, wallpaper first", Rendered());
}

TEST_F(DialogFixture, OpeningForTheScreenSaverSelectsItsTab)
{
    OpenOptionsDialog(true);
    Pump();
    EXPECT_EQ(dialog, gOptionsDialog);
    EXPECT_EQ(1, gOptions.editedList);
    EXPECT_EQ(1, (int)SendMessageA(Item(IDC_OPT_TABS), TCM_GETCURSEL, 0, 0));
    EXPECT_EQ(&gViewLists[1], gPreviewHooks.list);
    EXPECT_EQ(0, gPreviewHooks.viewIndex);
    EXPECT_EQ(OptionsScreenSelector()->displayWidth, gPreviewHooks.screenPreviewWidth);
    // The system menu's quit entry.
    HMENU menu = GetSystemMenu(dialog, FALSE);
    char text[64] = "";
    GetMenuStringA(menu, CMD_QUIT, text, sizeof text, MF_BYCOMMAND);
    EXPECT_STREQ("&Quit Veltaspar", text);
}

}  // namespace
