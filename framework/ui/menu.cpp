// Popup menus: building a popup's items from a command list, placing it by
// the monitor edges, sub-menus, closing, the opener's painting, keyboard
// navigation, and the hooks that connect items and menus to the command
// table.
#include "framework/ui/menu.h"

#include <string.h>

#include "framework/application.h"
#include "framework/dialogs.h"
#include "framework/framelist.h"
#include "framework/ui/framewindow.h"
#include "framework/messages.h"
#include "framework/ui/graphics.h"
#include "framework/utilities.h"

CMenu *gPopupMenu;

enum { DWM_CORNER_PREFERENCE = 33, DWM_CORNER_ROUND_SMALL = 3, POPUP_BORDER = 3 };

CMenu::CMenu() : openSubMenu(0), open(0), arrowHot(0), commandList(0), popup(0)
{
    typeCode = ITEM_TYPE_MENU;
    items.growStep = -1;
}

// The base destructor cannot reach the menu's own clean-up, so it runs here.
CMenu::~CMenu()
{
    CMenu::OnDestroy();
    items.RemoveAll();
}

static bool RegisterPopupClass()
{
    static bool registered = false;
    if (registered)
        return true;
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.style = CS_DROPSHADOW;
    wc.lpfnWndProc = MenuPopupWindowProc;
    wc.hInstance = GetModuleHandleA(0);
    wc.hCursor = LoadCursor(0, IDC_ARROW);
    wc.lpszClassName = MENU_POPUP_CLASS;
    if (!RegisterClassA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        wc.style = 0;   // systems without drop shadows
        if (!RegisterClassA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            return false;
    }
    registered = true;
    return true;
}

// A data word of -1 means the owner supplies the list: never an address.
static const uint16_t *ListOfEntry(const CommandEntry &entry)
{
    if (entry.data == 0 || entry.data == CMD_DATA_OWNERLIST)
        return 0;
    return (const uint16_t *)(uintptr_t)entry.data;
}

int CMenu::OnCreate(const CommandEntry &entry, HWND parent, HWND, CMenu *)
{
    commandList = ListOfEntry(entry);
    if (!RegisterPopupClass())
        return QRF_ERR_WINDOW;
    popup = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, MENU_POPUP_CLASS, "",
                            WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, 0, 0, parent, 0,
                            GetModuleHandleA(0), 0);
    if (!popup)
        return QRF_ERR_WINDOW;
    SetWindowLongPtrA(popup, GWLP_USERDATA, (LONG_PTR)this);
    return 0;
}

void CMenu::MeasureContent(const CommandEntry &entry, int)
{
    if (InMenu() || (entry.flags & ITEMF_ARROWZONE))
        extraWidth = 6 * SpaceWidth();
}

void CMenu::OnDestroy()
{
    if (open)
        Close();
    if (popup) {
        HWND gone = popup;
        popup = 0;
        SetWindowLongPtrA(gone, GWLP_USERDATA, 0);
        DestroyWindow(gone);
    }
}

bool CMenu::IsOverArrow() const
{
    POINT cursor;
    RECT client;
    if (!window || !GetCursorPos(&cursor))
        return false;
    ScreenToClient(window, &cursor);
    GetClientRect(window, &client);
    return cursor.x >= client.right - extraWidth;
}

int CMenu::BuildItems()
{
    for (const uint16_t *id = commandList; *id != CMD_ID_LIST_END; id++) {
        CommandEntry entry;
        if (gApp.GetCommand(*id, &entry) != 0)
            return QRF_ERR_NOCOMMAND;
        CUIItem *item = NewItemForType(entry.type);
        if (!item)
            continue;
        if (item->Create(*id, popup, owner, this) != 0) {
            DeleteItemSafely(item);
            return QRF_ERR_MEMORY;
        }
        if (items.Add(item) < 0) {
            DeleteItemSafely(item);
            return QRF_ERR_MEMORY;
        }
    }
    return 0;
}

void CMenu::LayOutItems(int *popupWidth, int *popupHeight)
{
    int column = items.data[0]->height;
    for (int i = 0; i < items.count; i++)
        if (items.data[i]->iconColumn > column)
            column = items.data[i]->iconColumn;
    iconColumn = column + 4;
    int widest = 0;
    for (int i = 0; i < items.count; i++) {
        CUIItem *item = items.data[i];
        int w = item->width;
        if (item->iconColumn < iconColumn)
            w += iconColumn - item->iconColumn;
        if (w > widest)
            widest = w;
    }
    int y = POPUP_BORDER;
    for (int i = 0; i < items.count; i++) {
        CUIItem *item = items.data[i];
        SetWindowPos(item->window, 0, POPUP_BORDER, y, widest, item->height,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
        y += item->height;
    }
    *popupWidth = widest + 2 * POPUP_BORDER;
    *popupHeight = y + POPUP_BORDER;
}

// Another menu opener of the same parent right above or below: a menu bar
// column, whose menus open to the side like sub-menus.
static bool MenuOpenerAt(HWND parent, int x, int y)
{
    POINT at = {x, y};
    HWND found = WindowFromPoint(at);
    CUIItem *item = ItemFromWindow(found);
    if (!item || GetParent(found) != parent)
        return false;
    CommandEntry *entry = gApp.CommandById(item->commandId);
    return entry && entry->type == CMD_MENU;
}

bool CMenu::OpensToTheSide(const RECT &opener) const
{
    if (InMenu())
        return true;
    HWND parent = window ? GetParent(window) : 0;
    int centre = (opener.left + opener.right) / 2;
    return parent && (MenuOpenerAt(parent, centre, opener.top - 5) ||
                      MenuOpenerAt(parent, centre, opener.bottom + 5));
}

static int KeepOn(int position, int size, int low, int high)
{
    if (position + size > high)
        position = high - size;
    return position < low ? low : position;
}

POINT PlacePopup(const RECT &opener, int width, int height, bool toTheSide)
{
    POINT at;
    if (toTheSide) {
        at.x = opener.right - 2;
        at.y = opener.top - 2;
    } else {
        at.x = opener.left;
        at.y = opener.bottom;
    }
    RECT monitor;
    GetMonitorRect(at.x, at.y, &monitor, 0, 0);
    if (at.x + width > monitor.right)
        at.x = toTheSide ? opener.left - width : opener.right - width;
    if (at.y + height > monitor.bottom)
        at.y = toTheSide ? opener.bottom - height : opener.top - height;
    // A flip can still leave it half off a small monitor: keep it on.
    at.x = KeepOn(at.x, width, monitor.left, monitor.right);
    at.y = KeepOn(at.y, height, monitor.top, monitor.bottom);
    return at;
}

// Forgets this menu as the one open under its opener's parent.
static void ForgetUnderParent(CMenu *menu)
{
    HWND parent = menu->window ? GetParent(menu->window) : 0;
    if (parent && (CMenu *)SendMessageA(parent, QRFM_GETOPENMENU, 0, 0) == menu)
        SendMessageA(parent, QRFM_SETOPENMENU, 0, 0);
    if (gApp.openMenu == menu)
        gApp.openMenu = 0;
}

// The frame window object the owner belongs to, or null.
static CFrameWindow *OwnersFrame(HWND owner)
{
    CFrameWindow *frame = FindFrameByHwnd(owner);
    return frame ? frame : FindParentFrame(owner);
}

int CMenu::Open(const RECT &opener)
{
    if (!popup)
        return QRF_ERR_WINDOW;
    if (open)
        Close();
    SetWindowPos(popup, 0, opener.left, opener.top, 0, 0,
                 SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOZORDER);
    CommandEntry entry;
    ReadEntry(&entry);
    const uint16_t *list = ListOfEntry(entry);
    if (!list)
        list = (const uint16_t *)SendMessageA(owner, QRFM_GETMENUCOMMANDS, commandId,
                                              (LPARAM)OwnersFrame(owner));
    if (!list)
        return QRF_ERR_NOMENUCOMMANDS;
    commandList = list;
    HWND parent = window ? GetParent(window) : 0;
    if (parent)
        SendMessageA(parent, QRFM_SETOPENMENU, 0, (LPARAM)this);
    if (!gApp.openMenu)
        gApp.openMenu = this;
    int result = BuildItems();
    if (result != 0)
        return result;
    if (items.count == 0) {
        // Nothing shown, so nothing may count as open.
        ForgetUnderParent(this);
        return 0;
    }
    gApp.menuOpen = 1;
    int w, h;
    LayOutItems(&w, &h);
    POINT at = PlacePopup(opener, w, h, OpensToTheSide(opener));
    SetWindowPos(popup, HWND_TOPMOST, at.x, at.y, w, h,
                 SWP_NOACTIVATE | SWP_SHOWWINDOW | SWP_NOOWNERZORDER);
    open = 1;
    return 0;
}

int CMenu::Close()
{
    if (openSubMenu) {
        CMenu *sub = openSubMenu;
        openSubMenu = 0;
        sub->Close();
    }
    open = 0;
    if (popup)
        ShowWindow(popup, SW_HIDE);
    while (items.count > 0) {
        CUIItem *item = items.data[items.count - 1];
        items.RemoveAt(items.count - 1);
        DeleteItemSafely(item);
    }
    if (gApp.openMenu == this)
        gApp.openMenu = 0;
    if (window)
        InvalidateRect(window, 0, TRUE);
    return 0;
}

void CMenu::PaintPopupBackground(HDC dc, int x, int y)
{
    if (!gGraphics || !popup)
        return;
    RECT client;
    GetClientRect(popup, &client);
    OffsetRect(&client, -x, -y);
    RECT column = client, rest = client;
    column.right = client.left + iconColumn;
    rest.left = column.right;
    const COLORREF *slots = gGraphics->slots;
    gGraphics->GradientRect(dc, slots[36], slots[37], &column, 0);
    gGraphics->FillRect(dc, &rest, slots[38]);
    gGraphics->Draw3DFrame(dc, &client, true, slots[39], slots[40]);
}

void CMenu::PaintArrowZone(HDC dc, const RECT &zone, uint32_t colour, int direction)
{
    gGraphics->DrawArrow(dc, colour, direction, &zone);
}

void CMenu::Paint(HDC target, const RECT &client)
{
    PaintState p;
    if (!BeginItemPaint(target, client, &p))
        return;
    HDC dc = p.dc;
    const CommandEntry &entry = p.entry;
    int background = p.background, a = p.inset;
    uint32_t colour = p.colour;
    bool centre = p.centre, bold = p.bold;
    if (open && !(entry.flags & CMDF_HOT)) {
        background = BACKGROUND_PRESSED;
        colour = COLOUR_HIGHLIGHTED;
    }
    int checkWidth = InMenu() ? textHeight + 2 * SpaceWidth() : 0;
    RECT main = client, zone = client;
    main.right = client.right - extraWidth + 1;
    zone.left = client.right - extraWidth;
    int arrowShift = 0;
    if ((entry.flags & ITEMF_ARROWZONE) && extraWidth > 0) {
        int mainType = background, zoneType = background, mainCorners = 15;
        int mainCheck = checkWidth;
        if (entry.flags & CMDF_CHECKED) {
            mainType = BACKGROUND_CHECKED;
            zoneType = BACKGROUND_PARENT;
            mainCheck = textHeight + 2 * SpaceWidth();   // also on a bar
        }
        if (entry.flags & CMDF_HOT) {
            mainType = arrowHot ? BACKGROUND_PRESSED : BACKGROUND_HOT;
            zoneType = arrowHot ? BACKGROUND_HOT : BACKGROUND_PRESSED;
        }
        if (entry.flags & CMDF_PRESSED)
            mainType = zoneType = BACKGROUND_PRESSED;
        if (entry.flags & CMDF_MENUOPEN) {
            mainType = zoneType = BACKGROUND_PRESSED;
            a = 0;
            mainCorners = CORNER_TOP_LEFT | CORNER_BOTTOM_LEFT;
            arrowShift = 1;
        }
        gGraphics->DrawItemBackground(dc, &main, mainType, mainType ? mainCorners : 0,
                                      mainCheck, -1, -1, -1);
        gGraphics->DrawItemBackground(dc, &zone, zoneType,
                                      zoneType ? CORNER_TOP_RIGHT | CORNER_BOTTOM_RIGHT : 0, 0,
                                      -1, -1, -1);
    } else {
        gGraphics->DrawItemBackground(dc, &client, background, background ? 15 : 0, checkWidth,
                                      -1, -1, -1);
    }
    PaintParts(dc, client, entry, a, colour, centre, bold);
    OffsetRect(&zone, arrowShift + a, arrowShift + a);
    if (InMenu())
        PaintArrowZone(dc, zone, colour, ARROW_RIGHT);
    else if (entry.flags & ITEMF_ARROWZONE)
        PaintArrowZone(dc, zone, colour, ARROW_DOWN);
    p.memory.End();
}

static void PaintPopup(CMenu *menu, HWND window)
{
    PAINTSTRUCT paint;
    HDC target = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    CMemoryDC memory;
    HDC dc = target;
    memory.Begin(&dc, client.right + 1, client.bottom + 1);
    if (menu)
        menu->PaintPopupBackground(dc, 0, 0);
    memory.End();
    EndPaint(window, &paint);
    gApp.menuOpen = 1;
}

typedef HRESULT(WINAPI *SetWindowAttributeFunction)(HWND, DWORD, LPCVOID, DWORD);

// Small rounded corners where the desktop window manager offers them.
static void AskForRoundedCorners(HWND window)
{
    HMODULE dwm = LoadLibraryA("dwmapi.dll");
    if (!dwm)
        return;
    SetWindowAttributeFunction set =
        (SetWindowAttributeFunction)(void (*)())GetProcAddress(dwm, "DwmSetWindowAttribute");
    DWORD preference = DWM_CORNER_ROUND_SMALL;
    if (set)
        set(window, DWM_CORNER_PREFERENCE, &preference, sizeof preference);
    FreeLibrary(dwm);
}

LRESULT CALLBACK MenuPopupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CMenu *menu = (CMenu *)GetWindowLongPtrA(window, GWLP_USERDATA);
    switch (message) {
    case WM_CREATE:
        AskForRoundedCorners(window);
        break;
    case WM_PAINT:
        PaintPopup(menu, window);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;   // clicks in a menu leave the focus where it is
    case QRFM_SETOPENMENU:
        if (menu)
            menu->openSubMenu = (CMenu *)lParam;
        return 0;
    case QRFM_GETOPENMENU:
        return menu ? (LRESULT)menu->openSubMenu : 0;
    case QRFM_PAINTITEMBACKGROUND:
        if (menu)
            menu->PaintPopupBackground((HDC)wParam, (short)LOWORD(lParam),
                                       (short)HIWORD(lParam));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// ---------------------------------------------------------------- keyboard

static bool CommandHasFlag(uint16_t id, uint32_t flag)
{
    CommandEntry *entry = gApp.CommandById(id);
    return entry && (entry->flags & flag);
}

int FindHotMenuItem(const CMenu *menu)
{
    for (int i = 0; menu && i < menu->items.count; i++)
        if (CommandHasFlag(menu->items.data[i]->commandId, CMDF_HOT))
            return i;
    return -1;
}

int NextMenuItem(const CMenu *menu, int index, int direction)
{
    int count = menu ? menu->items.count : 0;
    for (int step = 0; step < count; step++) {
        index += direction;
        if (index >= count)
            index = 0;
        if (index < 0)
            index = count - 1;
        CUIItem *item = menu->items.data[index];
        if (item->commandId == CMD_ID_SEPARATOR || item->typeCode == CMD_SEPARATOR)
            continue;
        if (CommandHasFlag(item->commandId, CMDF_ENABLED))
            return index;
    }
    return index;
}

static void MakeHot(CMenu *menu, int index)
{
    if (menu && index >= 0 && index < menu->items.count && menu->items.data[index]->window)
        SendMessageA(menu->items.data[index]->window, WM_MOUSEMOVE, 0, -1);
}

// Keys move the highlight without opening sub-menus on the way (Right does
// that): the hover rule opens them only while the menu-open byte is set.
static void MakeHotWithoutOpening(CMenu *menu, int index)
{
    uint8_t shown = gApp.menuOpen;
    gApp.menuOpen = 0;
    MakeHot(menu, index);
    gApp.menuOpen = shown;
}

static void MakeFirstHot(CMenu *menu) { MakeHot(menu, NextMenuItem(menu, -1, 1)); }

static CMenu *KeyboardMenu()
{
    CMenu *menu = (CMenu *)gApp.openMenu;
    while (menu && menu->openSubMenu && FindHotMenuItem(menu) < 0)
        menu = menu->openSubMenu;
    return menu;
}

static bool MenuVisible(const CMenu *menu) { return menu->popup && IsWindowVisible(menu->popup); }

static void OpenSubMenuOf(CMenu *menu, int hot)
{
    CUIItem *item = menu->items.data[hot];
    if (item->typeCode != ITEM_TYPE_MENU) {
        if (MenuVisible(menu))
            gApp.MenuKeyboardMode(1);
        return;
    }
    RECT rect;
    GetWindowRect(item->window, &rect);
    CMenu *sub = (CMenu *)item;
    if (sub->Open(rect) == 0)
        MakeFirstHot(sub);
}

static void KeyLeft(CMenu *menu, CMenu *top)
{
    if (menu == top) {
        if (MenuVisible(menu))
            gApp.MenuKeyboardMode(-1);
        return;
    }
    CMenu *parent = menu->parentItem;
    int index = -1;
    for (int i = 0; parent && i < parent->items.count; i++)
        if (parent->items.data[i] == menu)
            index = i;
    // The opener turns hot again once its sub-menu is gone.
    gApp.CloseMenu(menu);
    MakeHotWithoutOpening(parent, index >= 0 ? index : NextMenuItem(parent, -1, 1));
}

static void KeyRight(CMenu *menu)
{
    if (menu->openSubMenu) {
        MakeFirstHot(menu->openSubMenu);
        return;
    }
    int hot = FindHotMenuItem(menu);
    if (hot >= 0)
        OpenSubMenuOf(menu, hot);
    else if (MenuVisible(menu))
        gApp.MenuKeyboardMode(1);
}

static void KeyEnter(CMenu *menu)
{
    int hot = FindHotMenuItem(menu);
    if (hot < 0)
        return;
    HWND window = menu->items.data[hot]->window;
    SendMessageA(window, WM_LBUTTONUP, 0, -1);
    DeliverPendingCommand();
}

static void OnMenuKey(WPARAM key)
{
    CMenu *top = (CMenu *)gApp.openMenu, *menu = KeyboardMenu();
    if (!menu)
        return;
    switch (key) {
    case VK_RETURN:
        KeyEnter(menu);
        break;
    case VK_MENU:
        gApp.MenuKeyboardMode(2);
        break;
    case VK_ESCAPE:
        if (menu == top)
            gApp.MenuKeyboardMode(2);
        else
            gApp.CloseMenu(menu);
        break;
    case VK_LEFT:
        KeyLeft(menu, top);
        break;
    case VK_RIGHT:
        KeyRight(menu);
        break;
    case VK_UP:
    case VK_DOWN:
        MakeHotWithoutOpening(menu,
                              NextMenuItem(menu, FindHotMenuItem(menu), key == VK_UP ? -1 : 1));
        break;
    }
}

// The window is one of the open menus' popups or items, or an opener.
static bool InsideOpenMenus(HWND window)
{
    for (CMenu *menu = (CMenu *)gApp.openMenu; menu; menu = menu->openSubMenu) {
        if (window == menu->window || window == menu->popup ||
            (menu->popup && IsChild(menu->popup, window)))
            return true;
    }
    return false;
}

static bool IsButtonPress(UINT message)
{
    return message == WM_NCLBUTTONDOWN || message == WM_NCRBUTTONDOWN ||
           message == WM_NCMBUTTONDOWN || message == WM_LBUTTONDOWN ||
           message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN;
}

bool MenuPreTranslate(MSG *msg)
{
    if (!gApp.menuOpen || !gApp.openMenu)
        return false;
    if (IsButtonPress(msg->message)) {
        POINT cursor;
        GetCursorPos(&cursor);
        if (!InsideOpenMenus(WindowFromPoint(cursor)))
            gApp.CloseMenu(0);
        return false;
    }
    if (msg->message == WM_KEYDOWN) {
        OnMenuKey(msg->wParam);
        return true;
    }
    if (msg->message == WM_SYSKEYUP) {
        if (msg->wParam == VK_MENU)
            gApp.MenuKeyboardMode(2);
        return true;
    }
    return false;
}

CMenu *PopupMenu(uint16_t id, const POINT *point, HWND owner)
{
    gApp.CloseMenu(0);
    // A keyboard walk over bar menus ends with this menu. Its list may hold
    // another frame's bars, so Left and Right in the new menu collect the
    // active frame's bar menus afresh.
    gApp.navigationItems.RemoveAll();
    if (!gPopupMenu)
        gPopupMenu = new CMenu;
    gPopupMenu->Destroy();
    // Creation's or opening's result is the framework's last error, so a
    // caller that only sees a null menu can ask why.
    int result = gPopupMenu->Create(id, owner, owner, 0);
    gFrameworkLastError = result;
    if (result != 0)
        return 0;
    POINT at;
    if (point)
        at = *point;
    else
        GetCursorPos(&at);
    if (owner)
        SetForegroundWindow(owner);
    RECT rect = {at.x, at.y, at.x, at.y};
    result = gPopupMenu->Open(rect);
    gFrameworkLastError = result;
    return result == 0 ? gPopupMenu : 0;
}

// ---------------------------------------------------------------- hooks

static bool DescribeItem(CUIItem *item, ItemFacts *out)
{
    if (!item)
        return false;
    out->window = item->window;
    out->owner = item->owner;
    out->commandId = item->commandId;
    out->insideMenu = item->InMenu() ? 1 : 0;
    out->bar = 0;
    out->ownNotices = item->ownNotices;
    return true;
}

static bool OnArrowStrip(CUIItem *item)
{
    return item && item->typeCode == ITEM_TYPE_MENU && ((CMenu *)item)->IsOverArrow();
}

static void OpenItemPopup(CUIItem *item)
{
    if (!item || item->typeCode != ITEM_TYPE_MENU || !item->window)
        return;
    RECT rect;
    GetWindowRect(item->window, &rect);
    ((CMenu *)item)->Open(rect);
}

static void CloseItemMenu(CUIItem *item)
{
    if (item && item->typeCode == ITEM_TYPE_MENU)
        ((CMenu *)item)->Close();
}

static bool RefreshItem(CUIItem *item, int hint) { return item && item->Refresh(hint); }

static bool (*gFramesPreTranslate)(MSG *msg);

static bool PreTranslateMenusFirst(MSG *msg)
{
    if (MenuPreTranslate(msg))
        return true;
    return gFramesPreTranslate && gFramesPreTranslate(msg);
}

void InstallMenuHooks()
{
    gWindowHooks.describeItem = DescribeItem;
    gWindowHooks.onArrowStrip = OnArrowStrip;
    gWindowHooks.openItemPopup = OpenItemPopup;
    gWindowHooks.closeMenu = CloseItemMenu;
    gWindowHooks.refreshItem = RefreshItem;
    ChainPreTranslate(PreTranslateMenusFirst, &gFramesPreTranslate);
    RegisterUIItemClass();
}
