// Dock bays and bars under Wine: bay rectangles around the client area, the
// item layout of a bar (overflow, stretch), mouse drags of bars between bays
// and rows and of fill-row splitters, the locks, hiding and showing, the
// placement record, keyboard navigation of bar menus, and a screenshot.
#include <gtest/gtest.h>
#include <windows.h>
#include <string.h>
#include <string>
#include <vector>

#include "framework/application.h"
#include "framework/framelist.h"
#include "framework/ui/frameedges.h"
#include "framework/messages.h"
#include "framework/recordfile.h"
#include "framework/ui/dockbay.h"
#include "framework/ui/framewindow.h"
#include "framework/ui/graphics.h"
#include "framework/ui/menu.h"
#include "framework/utilities.h"
#include "testutil.h"

namespace {

enum {
    ID_BAR = 0x200, ID_BAR2 = 0x201, ID_FILLBAR = 0x202, ID_MENUBAR = 0x203,
    ID_A = 0x210, ID_B, ID_C, ID_D, ID_MORE, ID_FILE, ID_VIEW, ID_X, ID_EDIT,
    ID_MISSING = 0x7777,
};
const uint16_t kItems[] = {ID_A, ID_B, ID_C, ID_D, ID_MORE, CMD_ID_LIST_END};
const uint16_t kSmall[] = {ID_A, ID_MORE, CMD_ID_LIST_END};
const uint16_t kMenus[] = {ID_FILE, ID_VIEW, ID_MORE, CMD_ID_LIST_END};
const uint16_t kThreeMenus[] = {ID_FILE, ID_EDIT, ID_VIEW, ID_MORE, CMD_ID_LIST_END};
const uint16_t kBroken[] = {ID_A, ID_MISSING, ID_MORE, CMD_ID_LIST_END};
const uint16_t kSubItems[] = {ID_X, CMD_ID_LIST_END};

std::vector<std::pair<WPARAM, LPARAM>> gShown;

LRESULT CALLBACK TestFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == QRFM_BARSHOWN)
        gShown.push_back({wParam, lParam});
    return DefFrameWindowProc(window, message, wParam, lParam);
}

// Real input: the cursor moves, the button goes down and up through the
// system's input queue.
void CursorTo(POINT screen)
{
    SetCursorPos(screen.x, screen.y);
    mouse_event(MOUSEEVENTF_MOVE, 0, 0, 0, 0);
    PumpMessages(60);
}
void Drag(POINT from, POINT to)
{
    CursorTo(from);
    mouse_event(MOUSEEVENTF_LEFTDOWN, 0, 0, 0, 0);
    PumpMessages(60);
    POINT mid = {(from.x + to.x) / 2, (from.y + to.y) / 2};
    CursorTo(mid);
    CursorTo(to);
    mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
    PumpMessages(80);
}

RECT RectIn(HWND window, HWND reference)
{
    RECT r;
    GetWindowRect(window, &r);
    MapWindowPoints(0, reference, (POINT *)&r, 2);
    return r;
}

#define EXPECT_RECT(r, l, t, rr, b)                                                     \
    do {                                                                               \
        RECT got_ = (r);                                                               \
        EXPECT_EQ(got_.left, (l));                                                     \
        EXPECT_EQ(got_.top, (t));                                                      \
        EXPECT_EQ(got_.right, (rr));                                                   \
        EXPECT_EQ(got_.bottom, (b));                                                   \
    } while (0)

class Bays : public ::testing::Test {
protected:
    CGraphics graphics;
    char folder[MAX_PATH];
    int W = 0, H = 0;   // every icon item measures W x H

    void SetUp() override
    {
        ASSERT_EQ(graphics.Init(), 0);
        gGraphics = &graphics;
        graphics.LoadColours();
        GetTempPathA(sizeof folder, folder);
        strcat(folder, "vtdock");
        CreateDirectoryA(folder, 0);
        CopyText(gApp.dataFolder, folder, MAX_TEXT);
        gApp.placementInvalid = 1;   // no stored placement unless a test wants it
        gApp.commands.RemoveAll();
        memset(&gWindowHooks, 0, sizeof gWindowHooks);
        InstallFrameHooks();
        InstallMenuHooks();
        InstallDockBayHooks();
        gShown.clear();
        SetCursorPos(1200, 900);
        Add(CMD_ID_SEPARATOR, CMD_SEPARATOR, 0, "");
        Add(ID_BAR, CMD_BUTTON, 0x1, "Tools Bar");
        Add(ID_BAR2, CMD_BUTTON, 0x1, "Second Bar");
        Add(ID_FILLBAR, CMD_BUTTON, 0x1, "Fill Bar");
        Add(ID_MENUBAR, CMD_BUTTON, 0x1, "Menu Bar");
        Add(ID_A, CMD_BUTTON, 0x1 | ITEMF_ICON, "A");
        Add(ID_B, CMD_BUTTON, 0x1 | ITEMF_ICON | BARITEM_STRETCH, "B");
        Add(ID_C, CMD_BUTTON, 0x1 | ITEMF_ICON | BARITEM_OPTIONAL, "C");
        Add(ID_D, CMD_BUTTON, 0x1 | ITEMF_ICON | BARITEM_OPTIONAL, "D");
        Add(ID_MORE, CMD_MENU, 0x1 | ITEMF_ICON, "More", (uint32_t)(uintptr_t)kSubItems);
        Add(ID_FILE, CMD_MENU, 0x1 | ITEMF_ICON | BARITEM_MENU, "File", (uint32_t)(uintptr_t)kSubItems);
        Add(ID_VIEW, CMD_MENU, 0x1 | ITEMF_ICON | BARITEM_MENU, "View", (uint32_t)(uintptr_t)kSubItems);
        Add(ID_EDIT, CMD_MENU, 0x1 | ITEMF_ICON | BARITEM_MENU, "Edit", (uint32_t)(uintptr_t)kSubItems);
        Add(ID_X, CMD_BUTTON, 0x1 | 0x80, "Exit");
    }
    void TearDown() override
    {
        gApp.CloseMenu(0);
        gApp.navigationItems.RemoveAll();
        DestroyBars();
        DestroyFrameWindows();
        char path[MAX_PATH];
        GetRecordFilePath("(QRF)Bar", ID_BAR, path, 0);
        DeleteFileA(path);
        memset(&gWindowHooks, 0, sizeof gWindowHooks);
        gApp.commands.RemoveAll();
        gGraphics = 0;
    }
    void Add(uint16_t id, uint16_t type, uint32_t flags, const char *name, uint32_t data = 0)
    {
        ASSERT_GE(gApp.AddCommand(id, type, flags, 0, -1, data, 0, 0), 0);
        CopyText(gApp.CommandById(id)->text, name, 260);
    }
    // A frame whose client area is exactly cw x ch, shown at (x, y).
    CFrameWindow *Frame(uint16_t index, uint32_t options, int x, int y, int cw, int ch)
    {
        int position = CreateFrameWindow(index, TestFrameProc, "Dock", 1, options, x, y, 300, 200);
        if (position < 0)
            return 0;
        CFrameWindow *frame = gFrames.data[position];
        frame->minWidth = frame->minHeight = 0;
        RECT outer = {0, 0, cw, ch};
        DWORD style, ex;
        frame->GetStyles(&style, &ex);
        AdjustWindowRectEx(&outer, style, FALSE, ex);
        frame->Move(x, y, outer.right - outer.left, outer.bottom - outer.top, true);
        ShowWindow(frame->window, SW_SHOW);
        SetForegroundWindow(frame->window);
        PumpMessages(50);
        RECT client;
        GetClientRect(frame->window, &client);
        EXPECT_EQ(client.right, cw);
        EXPECT_EQ(client.bottom, ch);
        return frame;
    }
    CBar *Bar(uint16_t id, CFrameWindow *frame, int side, const uint16_t *ids, int row = 0,
              int position = 0, uint16_t flags = BARF_VISIBLE)
    {
        CBar *bar = AddBar(id, frame->index, ids, BayId(side, frame->index), row, position, flags);
        if (bar && !W) {
            W = bar->items.data[0]->width;
            H = bar->items.data[0]->height;
        }
        return bar;
    }
    CDockBay *Bay(CFrameWindow *frame, int side) { return frame->bays.data[side]; }
    // A menu bar of these commands on a new frame, which becomes the active one.
    CBar *ActiveMenuBar(const uint16_t *ids)
    {
        CFrameWindow *frame = Frame(0, 0, 60, 60, 300, 200);
        CBar *bar = frame ? Bar(ID_MENUBAR, frame, BAY_TOP, ids) : 0;
        if (bar)
            gApp.activeFrame = frame->index;
        return bar;
    }
    POINT ScreenOf(HWND window, int x, int y)
    {
        POINT p = {x, y};
        ClientToScreen(window, &p);
        return p;
    }
};

TEST_F(Bays, FrameWithoutBarsHasFourEmptyBays)
{
    CFrameWindow *frame = Frame(3, 0, 40, 40, 320, 200);
    ASSERT_TRUE(frame);
    ASSERT_EQ(frame->bays.count, 4);
    for (int side = 0; side < 4; side++) {
        CDockBay *bay = Bay(frame, side);
        EXPECT_EQ(bay->side, side);
        EXPECT_EQ(bay->id, side + 256 * 3);
        EXPECT_EQ(bay->vertical, side >= 2);
        EXPECT_EQ(bay->Extent(), 0);
        EXPECT_EQ(FindDockBay(bay->id), bay);
    }
    EXPECT_RECT(frame->clientArea, 0, 0, 320, 200);
    // No frame with that index, or not the expected position: no bay.
    CDockBay orphan;
    EXPECT_EQ(orphan.Create(0, 9, 0), QRF_ERR_WINDOW);
    EXPECT_EQ(orphan.Create(0, 3, 2), QRF_ERR_WINDOW);
    EXPECT_EQ(orphan.window, (HWND)0);
    // Bars cannot be made for a missing frame or a missing command.
    EXPECT_EQ(AddBar(ID_BAR, 9, kItems, 0, 0, 0, BARF_VISIBLE), (CBar *)0);
    EXPECT_EQ(AddBar(ID_BAR, 3, kBroken, BayId(0, 3), 0, 0, BARF_VISIBLE), (CBar *)0);
    EXPECT_EQ(gBars.count, 0);
    // A size grip is possible only in the bottom and right bays with option 0x2.
    CFrameWindow *boxed = Frame(4, FRAME_MINMAXBOX, 60, 60, 200, 150);
    ASSERT_TRUE(boxed);
    EXPECT_EQ(Bay(boxed, BAY_TOP)->gripState, -1);
    EXPECT_EQ(Bay(boxed, BAY_BOTTOM)->gripState, 0);
    EXPECT_EQ(Bay(boxed, BAY_RIGHT)->gripState, 0);
}

TEST_F(Bays, HorizontalBarDropsOptionalItemsFromTheRightAndStretches)
{
    CFrameWindow *frame = Frame(0, 0, 40, 40, 400, 200);
    ASSERT_TRUE(frame);
    CBar *bar = Bar(ID_BAR, frame, BAY_TOP, kItems);
    ASSERT_TRUE(bar);
    ASSERT_EQ(bar->items.count, 5);
    ASSERT_GT(W, 16);
    ASSERT_EQ(W, H);   // icon items: 16 + 2 spaces both ways
    int extent = H + 1 + 4, g = bar->itemGap;
    EXPECT_EQ(Bay(frame, BAY_TOP)->Extent(), extent);
    EXPECT_RECT(frame->clientArea, 0, extent, 400, 200);
    EXPECT_RECT(RectIn(bar->window, Bay(frame, BAY_TOP)->window), 0, 0, 400, extent);
    // Everything fits: the stretch item B takes all the rest of the bar.
    int total = 4 * (W + g), extra = 400 - total, top = (extent - H) / 2;
    CUIItem **it = bar->items.data;
    EXPECT_RECT(RectIn(it[0]->window, bar->window), 0, top, W, top + H);
    EXPECT_RECT(RectIn(it[1]->window, bar->window), W + g, top, 2 * W + g + extra, top + H);
    EXPECT_RECT(RectIn(it[2]->window, bar->window), 2 * W + 2 * g + extra, top,
                3 * W + 2 * g + extra, top + H);
    EXPECT_FALSE(IsWindowVisible(it[4]->window));
    EXPECT_EQ(bar->overflow[0], CMD_ID_LIST_END);
    // Every command entry carries 0x1000 from its insertion: all items may go.
    EXPECT_EQ(bar->minLength, 0);

    // Too short by half an item: D then C go, the overflow item shows at the end.
    int length = total - (W + g) / 2;
    RECT outer;
    GetWindowRect(frame->window, &outer);
    frame->Move(outer.left, outer.top, outer.right - outer.left - (400 - length),
                outer.bottom - outer.top, true);
    PumpMessages(30);
    EXPECT_FALSE(IsWindowVisible(it[3]->window));
    EXPECT_FALSE(IsWindowVisible(it[2]->window));
    ASSERT_TRUE(IsWindowVisible(it[4]->window));
    EXPECT_RECT(RectIn(it[4]->window, bar->window), length - W, top, length, top + H);
    int available = length - W - g;
    EXPECT_RECT(RectIn(it[1]->window, bar->window), W + g, top,
                W + g + W + (available - 2 * (W + g)), top + H);
    EXPECT_EQ(bar->overflow[0], ID_C);
    EXPECT_EQ(bar->overflow[1], ID_D);
    EXPECT_EQ(bar->overflow[2], CMD_ID_LIST_END);
    // The overflow menu lists exactly what did not fit.
    EXPECT_EQ(gApp.CommandById(ID_MORE)->data, (uint32_t)(uintptr_t)bar->overflow);
}

TEST_F(Bays, BarsInTwoBaysFrameTheClientAreaAndScreenshot)
{
    CFrameWindow *frame = Frame(0, 0, 0, 0, 360, 220);
    ASSERT_TRUE(frame);
    CBar *top = Bar(ID_BAR, frame, BAY_TOP, kItems);
    CBar *left = Bar(ID_BAR2, frame, BAY_LEFT, kSmall);
    ASSERT_TRUE(top && left);
    int extent = H + 5;
    EXPECT_EQ(left->side, BAY_LEFT);
    EXPECT_EQ(Bay(frame, BAY_LEFT)->Extent(), extent);
    EXPECT_RECT(RectIn(Bay(frame, BAY_LEFT)->window, frame->window), 0, extent, extent, 220);
    EXPECT_RECT(frame->clientArea, extent, extent, 360, 220);
    // Items run down a vertical bar, centred across it.
    int across = (extent - W) / 2;
    EXPECT_RECT(RectIn(left->items.data[0]->window, left->window), across, 0, across + W, H);
    RedrawWindow(frame->window, 0, 0, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    PumpMessages(300);

    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    std::string shots = std::string(cwd) + "\\dock-shot";
    RemoveTree(shots);
    CreateDirectoryA(shots.c_str(), 0);
    std::string target = UnixPath(std::string(cwd) + "\\..\\..\\dock.png");
    ASSERT_FALSE(target.empty());
    std::string report;
    int started = RunHostScript(shots, "import -window root -crop 480x320+0+0 +repage '" + target + "'",
                                &report);
    VT_REQUIRE_OR_SKIP(started != 1, "no host shell");
    EXPECT_EQ(started, 0) << report;
    RemoveTree(shots);
}

TEST_F(Bays, MouseDragsMoveBarsBetweenBaysAndRowsUnlessLocked)
{
    CFrameWindow *frame = Frame(0, 0, 100, 100, 400, 260);
    ASSERT_TRUE(frame);
    CBar *first = Bar(ID_BAR, frame, BAY_TOP, kSmall);
    CBar *second = Bar(ID_BAR2, frame, BAY_TOP, kSmall, 0, 200);
    ASSERT_TRUE(first && second);
    int extent = H + 5;
    EXPECT_EQ(Bay(frame, BAY_TOP)->Extent(), extent);
    EXPECT_EQ(RectIn(second->window, Bay(frame, BAY_TOP)->window).left, 200);

    // The second bar's own top margin, dragged just below the first row: a new row.
    POINT grip = ScreenOf(second->window, 1, 0);
    POINT below = ScreenOf(frame->window, 201, extent + 3);
    Drag(grip, below);
    EXPECT_EQ(second->side, BAY_TOP);
    EXPECT_EQ(second->row, 1);
    EXPECT_EQ(Bay(frame, BAY_TOP)->Extent(), 2 * extent);
    EXPECT_RECT(RectIn(second->window, Bay(frame, BAY_TOP)->window), 200, extent,
                200 + second->width, 2 * extent);
    EXPECT_EQ(frame->clientArea.top, 2 * extent);

    // To the left side: the bar turns vertical there, the empty row closes.
    grip = ScreenOf(second->window, 1, 0);
    POINT side = ScreenOf(frame->window, 2, 150);
    Drag(grip, side);
    EXPECT_EQ(second->side, BAY_LEFT);
    EXPECT_EQ(second->dockTarget, BayId(BAY_LEFT, 0));
    EXPECT_EQ(second->row, 0);
    EXPECT_EQ(Bay(frame, BAY_TOP)->Extent(), extent);
    EXPECT_EQ(Bay(frame, BAY_LEFT)->Extent(), extent);
    EXPECT_EQ(GetParent(second->window), Bay(frame, BAY_LEFT)->window);
    EXPECT_RECT(frame->clientArea, extent, extent, 400, 260);
    RECT inLeft = RectIn(second->window, Bay(frame, BAY_LEFT)->window);
    EXPECT_EQ(inLeft.left, 0);
    EXPECT_EQ(inLeft.right, extent);

    // Bar positions locked: a drag changes nothing.
    frame->SetOption(FRAME_LOCKBARPOS, true);
    RECT before = RectIn(first->window, frame->window);
    Drag(ScreenOf(first->window, 1, 0), ScreenOf(frame->window, 398, 150));
    EXPECT_EQ(first->side, BAY_TOP);
    RECT after = RectIn(first->window, frame->window);
    EXPECT_TRUE(EqualRect(&before, &after));
    frame->SetOption(FRAME_LOCKBARPOS, false);

    // Out of the frame: the bar floats as a popup of its own.
    POINT outside = ScreenOf(frame->window, 500, 120);
    Drag(ScreenOf(first->window, 1, 0), outside);
    EXPECT_EQ(first->side, BAY_FLOATING);
    EXPECT_EQ((DWORD)GetWindowLongA(first->window, GWL_STYLE) & ~WS_VISIBLE, (DWORD)BAR_STYLE_FLOATING);
    EXPECT_EQ(GetParent(first->window), frame->window);   // owned by its frame
    EXPECT_EQ(Bay(frame, BAY_TOP)->Extent(), 0);
    EXPECT_RECT(frame->clientArea, extent, 0, 400, 260);
    // Floating bars follow their frame's show state and opacity.
    frame->Show(SW_HIDE, 0);
    EXPECT_FALSE(IsWindowVisible(first->window));
    frame->Show(SW_SHOW, 0);
    EXPECT_TRUE(IsWindowVisible(first->window));
    frame->SetTransparency(50);
    EXPECT_TRUE(GetWindowLongA(first->window, GWL_EXSTYLE) & WS_EX_LAYERED);
    frame->OnModal(1);
    EXPECT_TRUE(first->busyOverlay != 0);
    frame->OnModal(0);
    EXPECT_TRUE(first->busyOverlay == 0);
}

TEST_F(Bays, SplitterDragResizesTheFillRowUnlessSizesLocked)
{
    CFrameWindow *frame = Frame(0, 0, 100, 100, 400, 260);
    ASSERT_TRUE(frame);
    CBar *fill = Bar(ID_FILLBAR, frame, BAY_TOP, kSmall, 0, 0, BARF_VISIBLE | BARF_FILL);
    ASSERT_TRUE(fill);
    CDockBay *bay = Bay(frame, BAY_TOP);
    int extent = H + 5;
    EXPECT_EQ(bay->rowExtents[0], -extent - BAY_SPLITTER);
    EXPECT_EQ(bay->Extent(), extent + BAY_SPLITTER);
    POINT at = {10, extent + 1};
    EXPECT_EQ(bay->HitSplitter(&at), 0);
    at.y = extent - 1;
    EXPECT_EQ(bay->HitSplitter(&at), -1);

    POINT splitter = ScreenOf(bay->window, 50, extent + 1);
    Drag(splitter, {splitter.x, splitter.y + 30});
    EXPECT_EQ(fill->height, extent + 30);
    EXPECT_EQ(bay->Extent(), extent + 30 + BAY_SPLITTER);
    EXPECT_EQ(frame->clientArea.top, extent + 34);
    EXPECT_RECT(RectIn(fill->window, bay->window), 0, 0, W + fill->itemGap, extent + 30);

    // Never below the largest minimum extent of the row.
    splitter = ScreenOf(bay->window, 50, extent + 31);
    Drag(splitter, {splitter.x, splitter.y - 200});
    EXPECT_EQ(fill->height, extent);
    EXPECT_EQ(bay->Extent(), extent + BAY_SPLITTER);

    // Bar sizes locked: the splitter does not move.
    frame->SetOption(FRAME_LOCKBARSIZE, true);
    splitter = ScreenOf(bay->window, 50, extent + 1);
    Drag(splitter, {splitter.x, splitter.y + 40});
    EXPECT_EQ(fill->height, extent);
    EXPECT_EQ(bay->Extent(), extent + BAY_SPLITTER);
}

TEST_F(Bays, HidingAndShowingNotifiesTheFrameAndFreesTheRoom)
{
    CFrameWindow *frame = Frame(0, 0, 60, 60, 300, 200);
    ASSERT_TRUE(frame);
    CBar *bar = Bar(ID_BAR, frame, BAY_BOTTOM, kSmall);
    ASSERT_TRUE(bar);
    int extent = H + 5;
    EXPECT_RECT(RectIn(Bay(frame, BAY_BOTTOM)->window, frame->window), 0, 200 - extent, 300, 200);
    EXPECT_RECT(frame->clientArea, 0, 0, 300, 200 - extent);

    // The standard menu lists the bar, checked, and its command toggles it.
    frame->BuildStandardMenu();
    EXPECT_EQ(frame->standardMenu[0], ID_BAR);
    EXPECT_EQ(frame->standardMenu[1], CMD_ID_SEPARATOR);
    EXPECT_TRUE(gApp.CommandById(ID_BAR)->flags & CMDF_CHECKED);
    EXPECT_TRUE(frame->OnStandardCommand(ID_BAR));
    ASSERT_EQ(gShown.size(), 1u);
    EXPECT_EQ(gShown[0].first, 0u);
    EXPECT_EQ(gShown[0].second, (LPARAM)bar);
    EXPECT_FALSE(bar->flags & BARF_VISIBLE);
    EXPECT_FALSE(IsWindowVisible(bar->window));
    EXPECT_EQ(Bay(frame, BAY_BOTTOM)->Extent(), 0);
    EXPECT_RECT(frame->clientArea, 0, 0, 300, 200);
    frame->BuildStandardMenu();
    EXPECT_FALSE(gApp.CommandById(ID_BAR)->flags & CMDF_CHECKED);

    ShowBar(bar, true);
    ASSERT_EQ(gShown.size(), 2u);
    EXPECT_EQ(gShown[1].first, 1u);
    EXPECT_TRUE(IsWindowVisible(bar->window));
    EXPECT_RECT(frame->clientArea, 0, 0, 300, 200 - extent);
    EXPECT_FALSE(frame->OnStandardCommand(0x7001));   // no bar has it
}

TEST_F(Bays, DpiChangeScalesTheFramesBarsByTheRatio)
{
    CFrameWindow *frame = Frame(0, 0, 60, 60, 400, 300);
    ASSERT_TRUE(frame);
    CBar *bar = Bar(ID_BAR, frame, BAY_LEFT, kSmall);
    ASSERT_TRUE(bar);
    bar->y = 20;
    int height = bar->height;
    frame->dpi = 96;
    frame->OnDpiChanged(144, 0);
    EXPECT_EQ(bar->y, 30);   // along the bay, scaled by 1.5
    EXPECT_EQ(frame->dpi, 144);
    frame->dpi = 0;   // no recorded dpi: ratio 1
    frame->OnDpiChanged(120, 0);
    EXPECT_EQ(bar->y, 30);
    EXPECT_GT(height, 0);
}

TEST_F(Bays, PlacementRecordIsWrittenAndReadBack)
{
    gApp.placementInvalid = 0;
    CFrameWindow *frame = Frame(1, 0, 60, 60, 300, 200);
    ASSERT_TRUE(frame);
    CBar *bar = Bar(ID_BAR, frame, BAY_RIGHT, kSmall, 0, 30);
    ASSERT_TRUE(bar);
    int extent = H + 5;
    EXPECT_RECT(RectIn(Bay(frame, BAY_RIGHT)->window, frame->window), 300 - extent, 0, 300, 200);
    EXPECT_EQ(RectIn(bar->window, Bay(frame, BAY_RIGHT)->window).top, 30);
    ASSERT_EQ(frame->SavePlacement(), 16);   // the frame's bars write theirs too
    BarPlacementRecord raw;
    ASSERT_EQ(ReadRecordFile("(QRF)Bar", ID_BAR, &raw, 16, 0), 16);
    EXPECT_EQ(raw.x, 0);
    EXPECT_EQ(raw.y, 30);
    EXPECT_EQ(raw.width, extent);
    EXPECT_EQ(raw.height, bar->height);
    EXPECT_EQ(raw.frame, 1);
    EXPECT_EQ(raw.side, BAY_RIGHT);
    EXPECT_EQ(raw.row, 0);
    EXPECT_EQ(raw.flags, BARF_VISIBLE);
    DestroyBars();
    EXPECT_EQ(Bay(frame, BAY_RIGHT)->Extent(), 0);
    // The record wins over the caller's bay.
    CBar *again = Bar(ID_BAR, frame, BAY_TOP, kSmall);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->side, BAY_RIGHT);
    EXPECT_EQ(RectIn(again->window, Bay(frame, BAY_RIGHT)->window).top, 30);
    EXPECT_RECT(frame->clientArea, 0, 0, 300 - extent, 200);
    // Destroying the frame takes its bars along.
    DestroyFrameWindows();
    EXPECT_EQ(gBars.count, 0);
}

TEST_F(Bays, AltNavigatesTheActiveFramesBarMenus)
{
    CBar *bar = ActiveMenuBar(kMenus);
    ASSERT_TRUE(bar);
    CUIItem *file = bar->items.data[0], *view = bar->items.data[1];
    EXPECT_EQ(gApp.MenuKeyboardMode(0), 0);
    EXPECT_EQ(gApp.navigationItems.count, 2);   // the overflow menu is no bar menu
    EXPECT_EQ(gApp.openMenu, file);
    EXPECT_TRUE(((CMenu *)file)->open);
    EXPECT_EQ(gApp.MenuKeyboardMode(1), 0);
    EXPECT_EQ(gApp.openMenu, view);
    EXPECT_FALSE(((CMenu *)file)->open);
    EXPECT_EQ(gApp.MenuKeyboardMode(1), 0);   // wraps round
    EXPECT_EQ(gApp.openMenu, file);
    EXPECT_EQ(gApp.MenuKeyboardMode(-1), 0);
    EXPECT_EQ(gApp.openMenu, view);
    EXPECT_EQ(gApp.MenuKeyboardMode(2), 0);
    EXPECT_EQ(gApp.openMenu, (CUIItem *)0);
    EXPECT_FALSE(((CMenu *)view)->open);
    EXPECT_EQ(gApp.navigationItems.count, 0);
    // Without an active frame there is nothing to navigate.
    gApp.activeFrame = FRAME_NO_INDEX;
    EXPECT_EQ(gApp.MenuKeyboardMode(0), 1);
    EXPECT_EQ(gApp.openMenu, (CUIItem *)0);
}

// A disabled bar menu is stepped over both ways, as a disabled entry of a
// popup menu is; a popup menu opened meanwhile ends the walk and its list.
TEST_F(Bays, KeysSkipADisabledBarMenuAndAPopupMenuEmptiesTheirList)
{
    CBar *bar = ActiveMenuBar(kThreeMenus);
    ASSERT_TRUE(bar);
    CUIItem *file = bar->items.data[0], *view = bar->items.data[2];
    ASSERT_EQ(gApp.EnableCommand(ID_EDIT, false), 0);
    EXPECT_EQ(gApp.MenuKeyboardMode(0), 0);
    EXPECT_EQ(gApp.navigationItems.count, 3);
    EXPECT_EQ(gApp.openMenu, file);
    EXPECT_EQ(gApp.MenuKeyboardMode(1), 0);
    EXPECT_EQ(gApp.openMenu, view);
    EXPECT_EQ(gApp.MenuKeyboardMode(-1), 0);
    EXPECT_EQ(gApp.openMenu, file);
    POINT at = {100, 100};
    CMenu *popup = PopupMenu(ID_FILE, &at, FindFrameByIndex(0)->window);
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup, gPopupMenu);
    EXPECT_TRUE(popup->open);
    EXPECT_FALSE(((CMenu *)file)->open);
    EXPECT_EQ(gApp.navigationItems.count, 0);
    gApp.CloseMenu(0);
    delete gPopupMenu;   // its window lives in this test's frame
    gPopupMenu = 0;
}

}  // namespace
