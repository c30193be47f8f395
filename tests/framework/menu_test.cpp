// Popup menus and UI items under Wine: building a popup from a command
// list, placement by the monitor edges, sub-menus, clicks and keys, owner-
// supplied lists, and a screenshot of an open menu.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <string.h>
#include <string>
#include <vector>

#include "framework/application.h"
#include "framework/dialogs.h"
#include "framework/messages.h"
#include "framework/ui/graphics.h"
#include "framework/ui/menu.h"
#include "framework/ui/uiitem.h"
#include "framework/utilities.h"
#include "testutil.h"

namespace {

enum {
    ID_TOP = 0x100,
    ID_OPEN = 0x101,
    ID_CLOUDS = 0x102,
    ID_EXPORT = 0x103,
    ID_MORE = 0x104,
    ID_EXIT = 0x105,
    ID_TREE = 0x106,
    ID_DAY = 0x111,
    ID_NIGHT = 0x112,
    ID_OWNERLIST = 0x120,
    ID_EMPTY = 0x121,
    ID_BROKEN = 0x122,
    ID_MISSING = 0x7777,
};

const uint16_t kTopItems[] = {ID_OPEN,   ID_CLOUDS, CMD_ID_SEPARATOR, ID_EXPORT,
                              ID_TREE,   ID_MORE,   ID_EXIT,          CMD_ID_LIST_END};
const uint16_t kMoreItems[] = {ID_DAY, ID_NIGHT, CMD_ID_LIST_END};
const uint16_t kOwnerItems[] = {ID_OPEN, ID_EXIT, CMD_ID_LIST_END};
const uint16_t kEmptyItems[] = {CMD_ID_LIST_END};
const uint16_t kBrokenItems[] = {ID_OPEN, ID_MISSING, ID_EXIT, CMD_ID_LIST_END};

// What the stand-in frame window saw and answers.
struct FrameLog {
    std::vector<WPARAM> commands;
    std::vector<WPARAM> doubleClicks;
    int commandsWhileMenuOpen;
    int listRequests;
    WPARAM listRequestId;
    const uint16_t *ownerList;
    LRESULT openMenu;
};
FrameLog gLog;

bool AnyMenuPopupVisible()
{
    for (CMenu *menu = (CMenu *)gApp.openMenu; menu; menu = menu->openSubMenu)
        if (menu->popup && IsWindowVisible(menu->popup))
            return true;
    return gPopupMenu && gPopupMenu->popup && IsWindowVisible(gPopupMenu->popup);
}

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case QRFM_COMMAND:
        gLog.commands.push_back(wParam);
        if (gApp.openMenu || AnyMenuPopupVisible())
            gLog.commandsWhileMenuOpen++;
        return 0;
    case QRFM_ITEMDBLCLK:
        gLog.doubleClicks.push_back(wParam);
        return 0;
    case QRFM_GETMENUCOMMANDS:
        gLog.listRequests++;
        gLog.listRequestId = wParam;
        return (LRESULT)gLog.ownerList;
    case QRFM_GETITEMTEXT:
        if (wParam == ID_OPEN)
            return (LRESULT)(lParam == 0 ? "Open Map..." : lParam == 1 ? "Ctrl+O" : 0);
        return 0;
    case QRFM_SETOPENMENU:
        gLog.openMenu = lParam;
        return 0;
    case QRFM_GETOPENMENU:
        return gLog.openMenu;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeFrame()
{
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = FrameProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hbrBackground = (HBRUSH)GetStockObject(GRAY_BRUSH);
        wc.lpszClassName = "VtMenuTestFrame";
        RegisterClassA(&wc);
        registered = true;
    }
    return CreateWindowExA(0, "VtMenuTestFrame", "", WS_POPUP | WS_VISIBLE, 20, 20, 120, 60, 0,
                           0, GetModuleHandleA(nullptr), 0);
}

void AddNamed(uint16_t id, uint16_t type, uint32_t flags, const char *name, uint32_t data = 0,
              int16_t stringId = -1)
{
    ASSERT_GE(gApp.AddCommand(id, type, flags, 0, stringId, data, 0, 0), 0);
    CopyText(gApp.CommandById(id)->text, name, 260);
}

void Pump(int milliseconds)
{
    ULONGLONG end = GetTickCount64() + milliseconds;
    while (GetTickCount64() < end) {
        MSG msg;
        while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
}

class Menus : public ::testing::Test {
protected:
    // One frame for all tests: destroying a shown top-level window costs
    // Wine seconds.
    static HWND sharedFrame;
    static void SetUpTestSuite() { sharedFrame = MakeFrame(); }
    static void TearDownTestSuite() { DestroyWindow(sharedFrame); }
    CGraphics graphics;
    HWND frame = 0;
    int itemsBefore = 0;

    void SetUp() override
    {
        ASSERT_EQ(graphics.Init(), 0);
        gGraphics = &graphics;
        graphics.LoadColours();
        gApp.commands.RemoveAll();
        memset(&gWindowHooks, 0, sizeof gWindowHooks);
        InstallMenuHooks();
        gApp.openMenu = 0;
        gApp.menuOpen = 0;
        gApp.pendingOwner = 0;
        gApp.pendingCommand = 0;
        gLog = FrameLog();
        // The real cursor stays out of the way of every popup.
        SetCursorPos(0, 0);
        AddNamed(CMD_ID_SEPARATOR, CMD_SEPARATOR, 0x4, "");
        AddNamed(ID_TOP, CMD_MENU, 0x80, "Top", (uint32_t)(uintptr_t)kTopItems);
        AddNamed(ID_OPEN, CMD_BUTTON, 0x80, "", 0, CMD_STRING_ASKOWNER);
        AddNamed(ID_CLOUDS, CMD_BUTTON, 0x80 | CMDF_CHECKED, "Show Clouds");
        AddNamed(ID_EXPORT, CMD_BUTTON, 0x80, "Export Picture");
        gApp.EnableCommand(ID_EXPORT, false);
        AddNamed(ID_TREE, 7, 0, "Tree");   // a type without an item class
        AddNamed(ID_MORE, CMD_MENU, 0x80, "More Views", (uint32_t)(uintptr_t)kMoreItems);
        AddNamed(ID_EXIT, CMD_BUTTON, 0x80, "Exit");
        AddNamed(ID_DAY, CMD_BUTTON, 0x80, "Day Side");
        AddNamed(ID_NIGHT, CMD_BUTTON, 0x80, "Night Side");
        AddNamed(ID_OWNERLIST, CMD_MENU, 0x80, "Additional", CMD_DATA_OWNERLIST);
        AddNamed(ID_EMPTY, CMD_MENU, 0x80, "Empty", (uint32_t)(uintptr_t)kEmptyItems);
        AddNamed(ID_BROKEN, CMD_MENU, 0x80, "Broken", (uint32_t)(uintptr_t)kBrokenItems);
        frame = sharedFrame;
        ASSERT_TRUE(frame != 0);
        MoveWindow(frame, 20, 20, 120, 60, TRUE);
        itemsBefore = gApp.items.count;
    }
    void TearDown() override
    {
        gApp.CloseMenu(0);
        delete gPopupMenu;
        gPopupMenu = 0;
        memset(&gWindowHooks, 0, sizeof gWindowHooks);
        gApp.commands.RemoveAll();
        gApp.openMenu = 0;
        gApp.menuOpen = 0;
        gGraphics = 0;
    }
    // Items besides the application's one popup-menu object.
    int LiveItems() const { return gApp.items.count - (gPopupMenu ? 1 : 0); }
    int Open(uint16_t id, int x = 200, int y = 150)
    {
        POINT at = {x, y};
        return PopupMenu(id, &at, frame) ? 0 : gFrameworkLastError;
    }
    CUIItem *Item(CMenu *menu, uint16_t id)
    {
        for (int i = 0; menu && i < menu->items.count; i++)
            if (menu->items.data[i]->commandId == id)
                return menu->items.data[i];
        return nullptr;
    }
    RECT PopupRect(CMenu *menu)
    {
        RECT r;
        GetWindowRect(menu->popup, &r);
        return r;
    }
    bool Key(WPARAM key)
    {
        MSG msg = {};
        msg.hwnd = frame;
        msg.message = WM_KEYDOWN;
        msg.wParam = key;
        return gApp.PreTranslate(&msg);
    }
    uint16_t HotId(CMenu *menu)
    {
        int hot = FindHotMenuItem(menu);
        return hot < 0 ? 0 : menu->items.data[hot]->commandId;
    }
    CMenu *OpenMore()
    {
        CUIItem *more = Item(gPopupMenu, ID_MORE);
        if (!more)
            return nullptr;
        gWindowHooks.openItemPopup(more);
        return (CMenu *)more;
    }
};

HWND Menus::sharedFrame;

TEST_F(Menus, OpensFromCommandListWithOneItemPerCommand)
{
    ASSERT_EQ(Open(ID_TOP), 0);
    CMenu *menu = gPopupMenu;
    // Type 7 has no item class and is left out.
    ASSERT_EQ(menu->items.count, 6);
    EXPECT_TRUE(menu->open);
    EXPECT_TRUE(IsWindowVisible(menu->popup));
    EXPECT_EQ(gApp.openMenu, (CUIItem *)menu);
    EXPECT_EQ(gApp.menuOpen, 1);
    EXPECT_EQ(gLog.openMenu, (LRESULT)menu);

    int widest = 0, total = 0;
    for (int i = 0; i < menu->items.count; i++) {
        CUIItem *item = menu->items.data[i];
        int w = item->width + (item->iconColumn < menu->iconColumn
                                   ? menu->iconColumn - item->iconColumn : 0);
        widest = w > widest ? w : widest;
        total += item->height;
    }
    RECT popup = PopupRect(menu);
    EXPECT_EQ(popup.right - popup.left, widest + 6);
    EXPECT_EQ(popup.bottom - popup.top, total + 6);
    EXPECT_EQ(Item(menu, CMD_ID_SEPARATOR)->height, 6);
    EXPECT_EQ(menu->iconColumn, menu->items.data[0]->height + 4);

    // Stacked from (3, 3), all equally wide.
    int y = 3;
    for (int i = 0; i < menu->items.count; i++) {
        RECT r;
        GetWindowRect(menu->items.data[i]->window, &r);
        MapWindowPoints(0, menu->popup, (POINT *)&r, 2);
        EXPECT_EQ(r.left, 3);
        EXPECT_EQ(r.top, y);
        EXPECT_EQ(r.right - r.left, widest);
        y += menu->items.data[i]->height;
    }
    // Dropped down from the point.
    EXPECT_EQ(popup.left, 200);
    EXPECT_EQ(popup.top, 150);
}

TEST_F(Menus, MeasuresNameShortcutAndArrowZone)
{
    ASSERT_EQ(Open(ID_TOP), 0);
    CUIItem *open = Item(gPopupMenu, ID_OPEN), *more = Item(gPopupMenu, ID_MORE);
    ASSERT_TRUE(open && more);
    int s = open->SpaceWidth();
    int w = 0, h = 0;
    graphics.MeasureTextForDpi("Open Map...", &w, &h, false, open->Dpi());
    EXPECT_EQ(open->textWidth, w);
    EXPECT_GT(open->shortcutWidth, 0);
    EXPECT_EQ(open->width, s + (w + s) + (4 * s + open->shortcutWidth));
    EXPECT_EQ(open->height, (h > 16 ? h : 16) + 2 * s);
    // A sub-menu opener reserves its arrow zone.
    EXPECT_EQ(more->extraWidth, 6 * s);
    EXPECT_EQ(Item(gPopupMenu, ID_EXIT)->extraWidth, 0);
}

TEST_F(Menus, OpensNearTheRightAndBottomEdgesStayOnTheMonitor)
{
    RECT monitor;
    GetMonitorRect(300, 300, &monitor, 0, 0);
    ASSERT_EQ(Open(ID_TOP, monitor.right - 50, 150), 0);
    RECT r = PopupRect(gPopupMenu);
    EXPECT_EQ(r.right, monitor.right - 50);   // flipped: it ends at the point
    EXPECT_EQ(r.top, 150);

    ASSERT_EQ(Open(ID_TOP, 200, monitor.bottom - 20), 0);
    r = PopupRect(gPopupMenu);
    EXPECT_EQ(r.left, 200);
    EXPECT_EQ(r.bottom, monitor.bottom - 20);   // opens upward
}

TEST_F(Menus, PlacementFlipsBesideTheOpenerAndKeepsOnTheMonitor)
{
    RECT monitor;
    GetMonitorRect(300, 300, &monitor, 0, 0);
    RECT opener = {monitor.right - 150, monitor.bottom - 40, monitor.right - 20,
                   monitor.bottom - 10};
    POINT side = PlacePopup(opener, 200, 120, true);
    EXPECT_EQ(side.x, opener.left - 200);
    EXPECT_EQ(side.y, opener.bottom - 120);   // sub-menu opens upward to its opener's bottom
    RECT free = {100, 100, 180, 120};
    side = PlacePopup(free, 200, 120, true);
    EXPECT_EQ(side.x, 178);
    EXPECT_EQ(side.y, 98);
    POINT down = PlacePopup(free, 200, 120, false);
    EXPECT_EQ(down.x, 100);
    EXPECT_EQ(down.y, 120);
    // Too tall to flip above the opener: kept on the monitor instead.
    int tall = monitor.bottom - monitor.top - 10;
    RECT high = {100, monitor.top + 20, 180, monitor.top + 40};
    down = PlacePopup(high, 200, tall, false);
    EXPECT_GE(down.y, monitor.top);
    EXPECT_LE(down.y + tall, monitor.bottom);
}

TEST_F(Menus, SubMenuOpensBesideAndClosingTheTopClosesAll)
{
    ASSERT_EQ(Open(ID_TOP), 0);
    CMenu *more = OpenMore();
    ASSERT_TRUE(more != nullptr);
    ASSERT_TRUE(more->open);
    EXPECT_EQ(gPopupMenu->openSubMenu, more);
    EXPECT_EQ(more->items.count, 2);
    RECT opener, sub = PopupRect(more);
    GetWindowRect(more->window, &opener);
    EXPECT_EQ(sub.left, opener.right - 2);
    EXPECT_EQ(sub.top, opener.top - 2);
    EXPECT_TRUE(IsWindowVisible(more->popup));
    HWND subPopup = more->popup;

    gApp.CloseMenu(0);
    EXPECT_FALSE(gPopupMenu->open);
    EXPECT_FALSE(IsWindowVisible(gPopupMenu->popup));
    EXPECT_EQ(gPopupMenu->items.count, 0);
    EXPECT_EQ(gPopupMenu->openSubMenu, nullptr);
    EXPECT_EQ(gApp.openMenu, nullptr);
    EXPECT_EQ(gApp.menuOpen, 0);
    EXPECT_EQ(gLog.openMenu, 0);
    // The sub-menu item is gone and took its popup with it.
    EXPECT_FALSE(IsWindow(subPopup));
    EXPECT_EQ(LiveItems(), itemsBefore);
}

// Whether the clicked item outlived the closing of its menu: the close runs
// inside the item's own window procedure.
HWND gWatchedWindow;
int gWatchedAlive = -1;
void CheckWatchedItem()
{
    CUIItem *item = ItemFromWindow(gWatchedWindow);
    bool listed = false;
    for (int i = 0; i < gApp.items.count; i++)
        listed |= gApp.items.data[i] == item;
    gWatchedAlive = IsWindow(gWatchedWindow) && item && listed && !IsWindowVisible(gWatchedWindow);
}
// The menus' own close, then the check.
void (*gMenusClose)(CUIItem *menu);
void CloseThenCheck(CUIItem *menu)
{
    gMenusClose(menu);
    CheckWatchedItem();
}

TEST_F(Menus, ClickRunsTheCommandOnceAfterTheMenuClosed)
{
    ASSERT_EQ(Open(ID_TOP), 0);
    CUIItem *exit = Item(gPopupMenu, ID_EXIT);
    ASSERT_TRUE(exit != nullptr);
    gWatchedWindow = exit->window;
    gWatchedAlive = -1;
    gMenusClose = gWindowHooks.closeMenu;
    gWindowHooks.closeMenu = CloseThenCheck;   // checks right after the close
    // The release is handled inside the item's own window procedure, which
    // closes the menu that holds the item.
    SendMessageA(exit->window, WM_LBUTTONUP, 0, -1);
    ASSERT_EQ(gLog.commands.size(), 1u);
    EXPECT_EQ(LOWORD(gLog.commands[0]), ID_EXIT);
    EXPECT_EQ(HIWORD(gLog.commands[0]) & 1, 1);
    EXPECT_EQ(gLog.commandsWhileMenuOpen, 0);
    EXPECT_EQ(gApp.pendingOwner, (HWND)0);
    EXPECT_EQ(gWatchedAlive, 1);   // retired, not yet deleted, while its procedure ran
    EXPECT_FALSE(IsWindow(gWatchedWindow));   // and gone once it returned
    EXPECT_FALSE(gPopupMenu->open);
    EXPECT_EQ(gPopupMenu->items.count, 0);
    EXPECT_EQ(LiveItems(), itemsBefore);
    Pump(50);
    EXPECT_EQ(gLog.commands.size(), 1u);
}

TEST_F(Menus, RealMouseClickOnAnItemRunsItsCommand)
{
    ASSERT_EQ(Open(ID_TOP), 0);
    CUIItem *clouds = Item(gPopupMenu, ID_CLOUDS);
    ASSERT_TRUE(clouds != nullptr);
    RECT r;
    GetWindowRect(clouds->window, &r);
    SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    SendMessageA(clouds->window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 5));
    SendMessageA(clouds->window, WM_LBUTTONUP, 0, MAKELPARAM(10, 5));
    ASSERT_EQ(gLog.commands.size(), 1u);
    EXPECT_EQ(LOWORD(gLog.commands[0]), ID_CLOUDS);
    EXPECT_EQ(gLog.commandsWhileMenuOpen, 0);
    SetCursorPos(0, 0);
}

TEST_F(Menus, DisabledItemsAndSubMenuOpenersRunNoCommand)
{
    ASSERT_EQ(Open(ID_TOP), 0);
    SendMessageA(Item(gPopupMenu, ID_EXPORT)->window, WM_LBUTTONUP, 0, -1);
    EXPECT_TRUE(gPopupMenu->open);
    CMenu *more = (CMenu *)Item(gPopupMenu, ID_MORE);
    SendMessageA(more->window, WM_LBUTTONUP, 0, -1);
    EXPECT_TRUE(more->open);
    EXPECT_TRUE(gPopupMenu->open);
    EXPECT_TRUE(gLog.commands.empty());
    // A click in the sub-menu closes every level, then runs.
    SendMessageA(Item(more, ID_NIGHT)->window, WM_LBUTTONUP, 0, -1);
    ASSERT_EQ(gLog.commands.size(), 1u);
    EXPECT_EQ(LOWORD(gLog.commands[0]), ID_NIGHT);
    EXPECT_EQ(gLog.commandsWhileMenuOpen, 0);
    EXPECT_FALSE(gPopupMenu->open);
    EXPECT_EQ(LiveItems(), itemsBefore);
}

TEST_F(Menus, KeyboardMovesWrapsAndSkipsSeparatorsAndDisabledItems)
{
    ASSERT_EQ(Open(ID_TOP), 0);
    CMenu *menu = gPopupMenu;
    EXPECT_EQ(HotId(menu), 0);
    EXPECT_TRUE(Key(VK_DOWN));
    EXPECT_EQ(HotId(menu), ID_OPEN);
    Key(VK_DOWN);
    EXPECT_EQ(HotId(menu), ID_CLOUDS);
    Key(VK_DOWN);   // past the separator and the disabled item
    EXPECT_EQ(HotId(menu), ID_MORE);
    Key(VK_DOWN);
    EXPECT_EQ(HotId(menu), ID_EXIT);
    Key(VK_DOWN);
    EXPECT_EQ(HotId(menu), ID_OPEN);   // wrapped to the top
    Key(VK_UP);
    EXPECT_EQ(HotId(menu), ID_EXIT);   // and back to the bottom
    Key(VK_UP);
    EXPECT_EQ(HotId(menu), ID_MORE);
    // Only one item is hot at a time.
    int hot = 0;
    for (int i = 0; i < menu->items.count; i++)
        hot += (gApp.CommandById(menu->items.data[i]->commandId)->flags & CMDF_HOT) != 0;
    EXPECT_EQ(hot, 1);
    EXPECT_TRUE(Key('X'));   // other keys are swallowed
    EXPECT_TRUE(gLog.commands.empty());
}

TEST_F(Menus, EnterRunsTheHotItemAfterClosing)
{
    ASSERT_EQ(Open(ID_TOP), 0);
    Key(VK_DOWN);
    Key(VK_DOWN);
    EXPECT_TRUE(Key(VK_RETURN));
    ASSERT_EQ(gLog.commands.size(), 1u);
    EXPECT_EQ(LOWORD(gLog.commands[0]), ID_CLOUDS);
    EXPECT_EQ(gLog.commandsWhileMenuOpen, 0);
    EXPECT_FALSE(gPopupMenu->open);
    EXPECT_EQ(gApp.menuOpen, 0);
    EXPECT_EQ(LiveItems(), itemsBefore);
}

TEST_F(Menus, RightOpensSubMenuEscapeClosesOneLevel)
{
    ASSERT_EQ(Open(ID_TOP), 0);
    for (int i = 0; i < 3; i++)
        Key(VK_DOWN);
    ASSERT_EQ(HotId(gPopupMenu), ID_MORE);
    CMenu *more = (CMenu *)Item(gPopupMenu, ID_MORE);
    EXPECT_FALSE(more->open);   // moving onto it does not open it
    Key(VK_RIGHT);
    ASSERT_TRUE(more->open);
    EXPECT_EQ(HotId(more), ID_DAY);
    Key(VK_DOWN);
    EXPECT_EQ(HotId(more), ID_NIGHT);
    Key(VK_DOWN);
    EXPECT_EQ(HotId(more), ID_DAY);

    Key(VK_ESCAPE);   // only the sub-menu
    EXPECT_TRUE(gPopupMenu->open);
    EXPECT_EQ(gPopupMenu->openSubMenu, nullptr);
    EXPECT_EQ(gApp.openMenu, (CUIItem *)gPopupMenu);
    Key(VK_ESCAPE);   // then the top
    EXPECT_FALSE(gPopupMenu->open);
    EXPECT_EQ(gApp.openMenu, nullptr);
    EXPECT_EQ(gApp.menuOpen, 0);
    EXPECT_TRUE(gLog.commands.empty());
}

TEST_F(Menus, LeftClosesTheSubMenuAndKeepsItsOpenerHot)
{
    ASSERT_EQ(Open(ID_TOP), 0);
    for (int i = 0; i < 3; i++)
        Key(VK_DOWN);
    CMenu *more = (CMenu *)Item(gPopupMenu, ID_MORE);
    Key(VK_RIGHT);
    ASSERT_TRUE(more->open);
    Key(VK_LEFT);
    EXPECT_FALSE(more->open);
    EXPECT_EQ(HotId(gPopupMenu), ID_MORE);
    EXPECT_TRUE(gPopupMenu->open);
}

TEST_F(Menus, OwnerSuppliesTheListForDataMinusOne)
{
    gLog.ownerList = kOwnerItems;
    ASSERT_EQ(Open(ID_OWNERLIST), 0);
    EXPECT_EQ(gLog.listRequests, 1);
    EXPECT_EQ(gLog.listRequestId, (WPARAM)ID_OWNERLIST);
    ASSERT_EQ(gPopupMenu->items.count, 2);
    EXPECT_EQ(gPopupMenu->commandList, kOwnerItems);
    gApp.CloseMenu(0);
    // Asked again on every opening: the owner's list may change.
    ASSERT_EQ(Open(ID_OWNERLIST), 0);
    EXPECT_EQ(gLog.listRequests, 2);
}

TEST_F(Menus, NoOwnerListShowsNothing)
{
    gLog.ownerList = nullptr;
    EXPECT_EQ(Open(ID_OWNERLIST), QRF_ERR_NOMENUCOMMANDS);
    EXPECT_FALSE(IsWindowVisible(gPopupMenu->popup));
    EXPECT_EQ(gPopupMenu->items.count, 0);
    EXPECT_EQ(gApp.openMenu, nullptr);
    // Created but never opened: the -1 is not taken as a list.
    EXPECT_EQ(gPopupMenu->commandList, nullptr);
}

TEST_F(Menus, EmptyListOpensNothingAndLeavesNoOpenMenu)
{
    EXPECT_EQ(Open(ID_EMPTY), 0);
    EXPECT_FALSE(IsWindowVisible(gPopupMenu->popup));
    EXPECT_FALSE(gPopupMenu->open);
    EXPECT_EQ(gApp.openMenu, nullptr);
    EXPECT_EQ(gLog.openMenu, 0);
}

TEST_F(Menus, UnknownCommandStopsTheBuildAndCloseFreesWhatWasBuilt)
{
    EXPECT_EQ(Open(ID_BROKEN), QRF_ERR_NOCOMMAND);
    EXPECT_EQ(gPopupMenu->items.count, 1);
    EXPECT_FALSE(IsWindowVisible(gPopupMenu->popup));
    gApp.CloseMenu(0);
    EXPECT_EQ(gPopupMenu->items.count, 0);
    EXPECT_EQ(LiveItems(), itemsBefore);
}

TEST_F(Menus, DeletingAnOpenMenuClosesItAndDestroysItsPopup)
{
    CMenu *menu = new CMenu;
    ASSERT_EQ(menu->Create(ID_TOP, frame, frame, nullptr), 0);
    RECT at = {200, 150, 200, 150};
    ASSERT_EQ(menu->Open(at), 0);
    HWND popup = menu->popup, item = menu->items.data[0]->window;
    ASSERT_TRUE(IsWindowVisible(popup));
    delete menu;
    EXPECT_FALSE(IsWindow(popup));
    EXPECT_FALSE(IsWindow(item));
    EXPECT_EQ(gApp.openMenu, nullptr);
    EXPECT_EQ(LiveItems(), itemsBefore);
}

TEST_F(Menus, ClickOutsideTheMenusClosesThem)
{
    ASSERT_EQ(Open(ID_TOP), 0);
    SetCursorPos(5, 5);
    MSG msg = {};
    msg.hwnd = frame;
    msg.message = WM_LBUTTONDOWN;
    EXPECT_FALSE(MenuPreTranslate(&msg));   // closed, and the press goes on
    EXPECT_FALSE(gPopupMenu->open);
    SetCursorPos(0, 0);
}

TEST_F(Menus, ItemsOutsideMenusAndLabels)
{
    CButton button;
    ASSERT_EQ(button.Create(ID_EXIT, frame, frame, nullptr), 0);
    EXPECT_EQ(button.shortcutWidth, 0);   // shortcuts only inside menus
    EXPECT_GT(button.textWidth, 0);       // flag 0x80 measures the text
    EXPECT_EQ(button.typeCode, CMD_BUTTON);
    CSeparator thin;
    AddNamed(0x130, CMD_SEPARATOR, ITEMF_ARROWZONE, "");
    ASSERT_EQ(thin.Create(0x130, frame, frame, nullptr), 0);
    EXPECT_EQ(thin.width, 3);
    EXPECT_EQ(thin.height, 3);

    int icon, percent;
    EXPECT_STREQ(ParseLabelPrefixes("@150Loading", &icon, &percent), "Loading");
    EXPECT_EQ(percent, 100);
    EXPECT_STREQ(ParseLabelPrefixes("@Loading", &icon, &percent), "Loading");
    EXPECT_EQ(percent, -1);
    EXPECT_STREQ(ParseLabelPrefixes("#0Word", &icon, &percent), "Word");
    EXPECT_EQ(icon, 0);
    EXPECT_STREQ(ParseLabelPrefixes("#261@40Rendering", &icon, &percent), "Rendering");
    EXPECT_EQ(icon, 261);
    EXPECT_EQ(percent, 40);

    int background;
    uint32_t colour;
    bool centre, bold;
    EXPECT_EQ(button.GetDrawState(CMDF_ENABLED | CMDF_CHECKED | CMDF_HOT | CMDF_PRESSED,
                                  &background, &colour, &centre, &bold), 1);
    EXPECT_EQ(background, BACKGROUND_PRESSED);
    EXPECT_EQ(colour, (uint32_t)COLOUR_HIGHLIGHTED);
    button.GetDrawState(CMDF_CHECKED, &background, &colour, &centre, &bold);
    EXPECT_EQ(background, BACKGROUND_CHECKED_DISABLED);
    EXPECT_EQ(colour, (uint32_t)COLOUR_DISABLED);
}

TEST_F(Menus, ItemOfAMissingCommandIsDisabledAndTextless)
{
    CButton ghost;
    ASSERT_EQ(ghost.Create(ID_MISSING, frame, frame, nullptr), 0);
    EXPECT_EQ(ghost.GetText(TEXT_NAME), nullptr);
    SendMessageA(ghost.window, WM_LBUTTONUP, 0, -1);
    EXPECT_TRUE(gLog.commands.empty());
}

TEST_F(Menus, SecondPressWithinTheDoubleClickTimeIsADoubleClick)
{
    CButton button;
    ASSERT_EQ(button.Create(ID_EXIT, frame, frame, nullptr), 0);
    CButton other;
    ASSERT_EQ(other.Create(ID_CLOUDS, frame, frame, nullptr), 0);
    SendMessageA(other.window, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    SendMessageA(other.window, WM_LBUTTONUP, 0, -1);
    // A quick press on another item is no double click.
    SendMessageA(button.window, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    SendMessageA(button.window, WM_LBUTTONUP, 0, -1);
    EXPECT_EQ(gLog.doubleClicks.size(), 0u);
    SendMessageA(button.window, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    SendMessageA(button.window, WM_LBUTTONUP, 0, -1);
    gLog.commands.erase(gLog.commands.begin());
    // No menu open: each click goes straight to the owner.
    ASSERT_EQ(gLog.commands.size(), 2u);
    ASSERT_EQ(gLog.doubleClicks.size(), 1u);
    EXPECT_EQ(gLog.doubleClicks[0], (WPARAM)(1 << 16 | ID_EXIT));
    EXPECT_EQ(gApp.CommandById(ID_EXIT)->flags & CMDF_PRESSED, 0u);
}

TEST_F(Menus, TooltipsOutsideMenusOnlyUnlessAskedFor)
{
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&init);
    gApp.tooltipWindow = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, 0, WS_POPUP | TTS_ALWAYSTIP,
                                         0, 0, 0, 0, frame, 0, GetModuleHandleA(0), 0);
    ASSERT_TRUE(gApp.tooltipWindow != 0);
    {
        CButton button;
        ASSERT_EQ(button.Create(ID_OPEN, frame, frame, nullptr), 0);
        EXPECT_EQ(SendMessageA(gApp.tooltipWindow, TTM_GETTOOLCOUNT, 0, 0), 1);
        // The popup-menu object, an item outside menus, has its own; the
        // menu's items have none.
        ASSERT_EQ(Open(ID_TOP), 0);
        EXPECT_EQ(SendMessageA(gApp.tooltipWindow, TTM_GETTOOLCOUNT, 0, 0), 2);
        gApp.CloseMenu(0);
        gApp.CommandById(ID_OPEN)->flags |= ITEMF_MENUTOOLTIP;
        ASSERT_EQ(Open(ID_TOP), 0);
        EXPECT_EQ(SendMessageA(gApp.tooltipWindow, TTM_GETTOOLCOUNT, 0, 0), 3);
        char text[80] = "";
        TOOLINFOA tool = {};
        tool.cbSize = 48;
        tool.hwnd = gPopupMenu->popup;
        tool.uId = (UINT_PTR)Item(gPopupMenu, ID_OPEN)->window;
        tool.lpszText = text;
        SendMessageA(gApp.tooltipWindow, TTM_GETTEXTA, sizeof text, (LPARAM)&tool);
        EXPECT_STREQ(text, "Open Map... (Ctrl+O)");
        gApp.CloseMenu(0);
    }
    EXPECT_EQ(SendMessageA(gApp.tooltipWindow, TTM_GETTOOLCOUNT, 0, 0), 1);   // the popup object's
    gPopupMenu->Destroy();
    EXPECT_EQ(SendMessageA(gApp.tooltipWindow, TTM_GETTOOLCOUNT, 0, 0), 0);
    DestroyWindow(gApp.tooltipWindow);
    gApp.tooltipWindow = 0;
}

TEST_F(Menus, ScreenshotOfAnOpenMenu)
{
    MoveWindow(frame, 0, 0, 10, 10, TRUE);
    ASSERT_EQ(Open(ID_TOP, 40, 30), 0);
    for (int i = 0; i < 3; i++)
        Key(VK_DOWN);
    Key(VK_RIGHT);   // "More Views" opened, its first item hot
    CMenu *more = (CMenu *)Item(gPopupMenu, ID_MORE);
    ASSERT_TRUE(more->open);
    Pump(400);
    // The host script's folder must be reachable from the host: under the
    // build folder, not in the Wine prefix.
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    std::string folder = std::string(cwd) + "\\menu-shot";
    RemoveTree(folder);
    CreateDirectoryA(folder.c_str(), 0);
    std::string target = UnixPath(std::string(cwd) + "\\..\\..\\menu.png");
    ASSERT_FALSE(target.empty());
    std::string report;
    int started = RunHostScript(folder, "import -window root -crop 420x260+0+0 +repage '" + target + "'",
                                &report);
    VT_REQUIRE_OR_SKIP(started != 1, "no host shell");
    EXPECT_EQ(started, 0) << report;
    EXPECT_NE(GetFileAttributesA((std::string(cwd) + "\\..\\..\\menu.png").c_str()),
              INVALID_FILE_ATTRIBUTES)
        << report;
    RemoveTree(folder);
}

}  // namespace
