// UI items wired as the program wires them at start-up (frame, menu and
// bay hooks, so the application's click handler knows every item): value
// items send exactly the commands they are meant to, an item whose owner
// closes the menu holding it outlives its own handler, the factory's
// caller object, the focus an item takes, the popup menu's failures in the
// last-error word, the owner's frame in the menu-commands question, and
// floating bars reached by the frame redraws.
#include <gtest/gtest.h>
#include <windows.h>
#include <string.h>

#include <vector>

#include "framework/application.h"
#include "framework/dialogs.h"
#include "framework/framelist.h"
#include "framework/ui/frameedges.h"
#include "framework/messages.h"
#include "framework/recordfile.h"
#include "framework/ui/dockbay.h"
#include "framework/ui/framewindow.h"
#include "framework/ui/graphics.h"
#include "framework/ui/menu.h"
#include "framework/ui/uiitem.h"
#include "framework/ui/valueitems.h"
#include "framework/utilities.h"
#include "testutil.h"

namespace {

enum {
    ID_SLIDER = 0x310,
    ID_BRUSH = 0x311,
    ID_COLOR = 0x312,
    ID_BUTTON = 0x313,
    ID_MENU = 0x314,
    ID_ASKING_MENU = 0x315,
    ID_BAR = 0x316,
    ID_MORE = 0x317,
    ID_SPLIT = 0x318,
};

const uint16_t kMenuItems[] = {ID_SLIDER, ID_BUTTON, CMD_ID_LIST_END};
const uint16_t kAnswer[] = {ID_BUTTON, CMD_ID_LIST_END};
const uint16_t kBarItems[] = {ID_BUTTON, ID_MORE, CMD_ID_LIST_END};

struct Sent {
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Sent> gSent;
bool gCloseMenuOnCommand;
CUIItem *gWatched;            // the item whose life the owner checks
bool gWatchedAliveInHandler;
LPARAM gAskedFrame = -1;
const uint16_t *gMenuAnswer;

bool Listed(CUIItem *item)
{
    for (int i = 0; i < gApp.items.count; i++)
        if (gApp.items.data[i] == item)
            return true;
    return false;
}

LRESULT CALLBACK OwnerFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case QRFM_COMMAND:
        gSent.push_back({wParam, lParam});
        if (gCloseMenuOnCommand) {
            gApp.CloseMenu(0);
            gWatchedAliveInHandler = Listed(gWatched);
        }
        return 0;
    case QRFM_GETMENUCOMMANDS:
        gAskedFrame = lParam;
        return (LRESULT)gMenuAnswer;
    }
    return DefFrameWindowProc(window, message, wParam, lParam);
}

class Wiring : public ::testing::Test {
protected:
    CGraphics graphics;
    CFrameWindow *frame = 0;
    RangeValue range = {5, 0, 10};
    RangeValue brush = {10, 1, 30};
    ColorValue colour = {0xFF102030, 0};
    std::vector<CUIItem *> made;
    std::string folder;

    void SetUp() override
    {
        folder = FreshTempFolder("itemwiring");
        CopyText(gApp.dataFolder, folder.c_str(), MAX_TEXT);
        gApp.placementInvalid = 1;
        ASSERT_EQ(graphics.Init(), 0);
        gGraphics = &graphics;
        graphics.LoadColours();
        gApp.commands.RemoveAll();
        gApp.doubleClickTime = 1;   // no double clicks between the tests' presses
        // As start-up does, in its order.
        memset(&gWindowHooks, 0, sizeof gWindowHooks);
        InstallFrameHooks();
        InstallMenuHooks();
        InstallDockBayHooks();
        Add(CMD_ID_SEPARATOR, CMD_SEPARATOR, 0, "", 0);
        Add(ID_SLIDER, CMD_SLIDER, CMDF_ENABLED, "Level", &range);
        Add(ID_BRUSH, CMD_BRUSHSIZE, CMDF_ENABLED, "Size", &brush);
        Add(ID_COLOR, CMD_COLOR, CMDF_ENABLED, "Colour", &colour);
        Add(ID_BUTTON, CMD_BUTTON, CMDF_ENABLED | 0x80, "Go", 0);
        Add(ID_MENU, CMD_MENU, CMDF_ENABLED | 0x80, "Menu", kMenuItems);
        Add(ID_ASKING_MENU, CMD_MENU, CMDF_ENABLED | 0x80, "Asks", 0);
        Add(ID_BAR, CMD_BUTTON, CMDF_ENABLED, "Bar", 0);
        Add(ID_MORE, CMD_MENU, CMDF_ENABLED, "More", kAnswer);
        Add(ID_SPLIT, CMD_MENU, CMDF_ENABLED | ITEMF_ARROWZONE | 0x80, "Split", kAnswer);
        int at = CreateFrameWindow(0, OwnerFrameProc, "Wiring", 1, 0, 20, 20, 420, 260);
        ASSERT_GE(at, 0);
        frame = gFrames.data[at];
        ShowWindow(frame->window, SW_SHOW);
        SetForegroundWindow(frame->window);
        PumpMessages(50);
        gSent.clear();
        gCloseMenuOnCommand = false;
        gWatched = 0;
        gWatchedAliveInHandler = false;
        gAskedFrame = -1;
        gMenuAnswer = 0;
    }
    void TearDown() override
    {
        gApp.CloseMenu(0);
        for (CUIItem *item : made)
            delete item;
        DestroyBars();
        DestroyFrameWindows();
        PumpMessages(20);
        memset(&gWindowHooks, 0, sizeof gWindowHooks);
        gApp.commands.RemoveAll();
        gGraphics = 0;
        RemoveTree(folder);
    }
    void Add(uint16_t id, uint16_t type, uint32_t flags, const char *name, const void *data)
    {
        ASSERT_GE(gApp.AddCommand(id, type, flags, 0, -1, (uint32_t)(uintptr_t)data, 0, 0), 0);
        CopyText(gApp.CommandById(id)->text, name, 260);
    }
    CUIItem *Item(uint16_t id, int x, int y)
    {
        CUIItem *item = NewItemForType(gApp.CommandById(id)->type);
        EXPECT_TRUE(item != 0);
        if (!item)
            return 0;
        made.push_back(item);
        EXPECT_EQ(0, item->Create(id, frame->window, frame->window, 0));
        SetWindowPos(item->window, HWND_TOP, x, y, item->width, item->height,
                     SWP_SHOWWINDOW | SWP_NOACTIVATE);
        UpdateWindow(item->window);
        return item;
    }
    // A press and release at a client point, the cursor placed there.
    void Click(HWND window, int x, int y)
    {
        POINT at = {x, y};
        ClientToScreen(window, &at);
        SetCursorPos(at.x, at.y);
        SendMessageA(window, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
        SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
        SendMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    }
    int Sends(uint16_t id)
    {
        int n = 0;
        for (const Sent &s : gSent)
            n += LOWORD(s.wParam) == id;
        return n;
    }
};

// ---------------------------------------------------------------- one command a click

TEST_F(Wiring, ValueItemsSendTheirOwnCommandOnlyAndButtonsTheClick)
{
    CSlider *slider = (CSlider *)Item(ID_SLIDER, 10, 10);
    ASSERT_TRUE(slider && !IsRectEmpty(&slider->thumbRect));
    int y = slider->thumbRect.top + slider->contentHeight / 2;
    Click(slider->window, slider->thumbRect.right + 3, y);
    EXPECT_EQ(6, range.value);
    ASSERT_EQ(1, Sends(ID_SLIDER));
    EXPECT_EQ((WPARAM)ID_SLIDER, gSent[0].wParam);
    EXPECT_EQ(1, gSent[0].lParam);

    // A brush size clicked without a drag: the value it holds, once.
    gSent.clear();
    CUIItem *size = Item(ID_BRUSH, 10, 60);
    Click(size->window, size->width / 2, size->height / 2);
    ASSERT_EQ(1, Sends(ID_BRUSH));
    EXPECT_EQ((WPARAM)ID_BRUSH, gSent[0].wParam);
    EXPECT_EQ(10, brush.value);

    // A colour released over its own swatch picks nothing and sends nothing.
    gSent.clear();
    CUIItem *swatch = Item(ID_COLOR, 10, 110);
    Click(swatch->window, swatch->width / 2, swatch->height / 2);
    EXPECT_EQ(0, Sends(ID_COLOR));
    EXPECT_EQ(0xFF102030u, colour.colour);

    // A plain button still sends the click with its buttons.
    gSent.clear();
    CUIItem *button = Item(ID_BUTTON, 10, 160);
    Click(button->window, button->width / 2, button->height / 2);
    ASSERT_EQ(1, Sends(ID_BUTTON));
    EXPECT_EQ((WPARAM)(1 << 16 | ID_BUTTON), gSent[0].wParam);
    EXPECT_EQ(0, gSent[0].lParam);
}

// The slider sits in a popup menu and its owner closes that menu when told:
// the slider's window procedure is still running then, so the item must
// stay until it returns, and go afterwards.
TEST_F(Wiring, ItemWhoseOwnerClosesItsMenuOutlivesItsHandler)
{
    POINT at = {60, 60};
    ClientToScreen(frame->window, &at);
    ASSERT_NE(nullptr, PopupMenu(ID_MENU, &at, frame->window));
    EXPECT_EQ(0, gFrameworkLastError);
    CSlider *slider = 0;
    for (int i = 0; i < gApp.items.count; i++) {
        CUIItem *item = gApp.items.data[i];
        if (item->commandId == ID_SLIDER && item->InMenu() && item->window)
            slider = (CSlider *)item;
    }
    ASSERT_TRUE(slider != 0);
    HWND window = slider->window;
    RedrawWindow(window, 0, 0, RDW_INVALIDATE | RDW_UPDATENOW);
    ASSERT_FALSE(IsRectEmpty(&slider->thumbRect));
    gWatched = slider;
    gCloseMenuOnCommand = true;
    int y = slider->thumbRect.top + slider->contentHeight / 2;
    SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON,
                 MAKELPARAM(slider->thumbRect.right + 3, y));
    ASSERT_EQ(1, Sends(ID_SLIDER));
    EXPECT_EQ(6, range.value);
    EXPECT_TRUE(gWatchedAliveInHandler);   // retired, not yet deleted
    EXPECT_FALSE(Listed(slider));          // deleted once the procedure returned
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(0, gApp.menuOpen);
}

// ---------------------------------------------------------------- item window

TEST_F(Wiring, FocusTakenByAnItemIsRecordedByItsFrame)
{
    HWND edit = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 200, 10, 80,
                                20, frame->window, 0, 0, 0);
    CSlider *slider = (CSlider *)Item(ID_SLIDER, 10, 10);
    SetFocus(edit);
    ASSERT_EQ(edit, GetFocus());
    EXPECT_EQ(0, frame->focusLostToItem);
    // The slider takes the focus when pressed.
    int y = slider->thumbRect.top + slider->contentHeight / 2;
    Click(slider->window, slider->thumbRect.right + 3, y);
    EXPECT_EQ(slider->window, GetFocus());
    EXPECT_EQ(edit, frame->focusLostToItem);
}

class CallersItem : public CButton {};

TEST_F(Wiring, FactoryHandsBackTheCallersObjectForTypeNinetyNine)
{
    CallersItem *own = new CallersItem;
    made.push_back(own);
    EXPECT_EQ((CUIItem *)own, NewItemForType(ITEM_TYPE_CALLERS, own));
    EXPECT_EQ(nullptr, NewItemForType(ITEM_TYPE_CALLERS));
    EXPECT_EQ(nullptr, NewItemForType(7, own));
    EXPECT_EQ(0, own->Create(ID_BUTTON, frame->window, frame->window, 0));
    EXPECT_EQ(own, ItemFromWindow(own->window));
}

// ---------------------------------------------------------------- popup menus

TEST_F(Wiring, PopupMenuAnswersTheMenuOrNullWithTheReasonInTheLastError)
{
    POINT at = {40, 40};
    ClientToScreen(frame->window, &at);
    // The owner answers nothing: the menu cannot be built.
    gFrameworkLastError = 0;
    EXPECT_EQ(nullptr, PopupMenu(ID_ASKING_MENU, &at, frame->window));
    EXPECT_EQ(QRF_ERR_NOMENUCOMMANDS, gFrameworkLastError);
    EXPECT_EQ((LPARAM)frame, gAskedFrame);
    // A menu that opens clears the word again.
    gMenuAnswer = kAnswer;
    CMenu *opened = PopupMenu(ID_ASKING_MENU, &at, frame->window);
    ASSERT_NE(nullptr, opened);
    EXPECT_EQ(gPopupMenu, opened);
    EXPECT_EQ(0, gFrameworkLastError);
    EXPECT_EQ((LPARAM)frame, gAskedFrame);
    EXPECT_EQ(1, gApp.menuOpen);
    gApp.CloseMenu(0);
}

// ---------------------------------------------------------------- floating bars

int gBarActivations, gBarPaints;
WNDPROC gBarProc;
LRESULT CALLBACK CountingBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCACTIVATE)
        gBarActivations++;
    if (message == WM_PAINT)
        gBarPaints++;
    return CallWindowProcA(gBarProc, window, message, wParam, lParam);
}

TEST_F(Wiring, FloatingBarsFollowFrameRedrawsAndColourSchemes)
{
    CBar *bar = AddBar(ID_BAR, frame->index, kBarItems, BAY_NO_TARGET, 0, 0, BARF_VISIBLE);
    ASSERT_TRUE(bar != 0);
    ASSERT_EQ(BAY_FLOATING, bar->side);
    bar->Show(SW_SHOWNOACTIVATE);
    PumpMessages(30);
    gBarProc = (WNDPROC)SetWindowLongPtrA(bar->window, GWLP_WNDPROC, (LONG_PTR)CountingBarProc);
    gBarActivations = gBarPaints = 0;
    RedrawFrames();
    EXPECT_EQ(1, gBarActivations);
    int scheme = gApp.appRecord.colorScheme;
    EXPECT_EQ(0, SetColorScheme(scheme));
    EXPECT_GE(gBarPaints, 1);
    SetWindowLongPtrA(bar->window, GWLP_WNDPROC, (LONG_PTR)gBarProc);
}

// A checked split opener on a bar (not in a menu) shows its check column:
// the checked look covers only the column, the rest of the main part shows
// what lies behind the item.
TEST_F(Wiring, CheckedSplitOpenerOutsideAMenuHasACheckColumn)
{
    CUIItem *split = Item(ID_SPLIT, 10, 10);
    ASSERT_TRUE(split != 0);
    ASSERT_GT(split->extraWidth, 0);
    gApp.CheckCommand(ID_SPLIT, true);
    RECT client = {0, 0, split->width, split->height};
    HDC screen = GetDC(0);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, split->width + 1, split->height + 1);
    HGDIOBJ old = SelectObject(dc, bitmap);
    split->Paint(dc, client);
    int column = split->textHeight + 2 * split->SpaceWidth();
    ASSERT_LT(column + 3, split->width - split->extraWidth);
    COLORREF inColumn = GetPixel(dc, 3, 2);
    COLORREF beside = GetPixel(dc, column + 3, 2);
    COLORREF zone = GetPixel(dc, split->width - split->extraWidth / 2, 2);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(0, screen);
    EXPECT_NE(inColumn, beside);
    EXPECT_EQ(beside, zone);   // the arrow zone is plain as well
}

}  // namespace
