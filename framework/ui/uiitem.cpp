// The UI item base, buttons, labels and separators, and the item window
// procedure that feeds the application's item-event handlers.
#include "framework/ui/uiitem.h"

#include <commctrl.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "framework/application.h"
#include "framework/framelist.h"
#include "framework/ui/framewindow.h"
#include "framework/messages.h"
#include "framework/ui/graphics.h"
#include "framework/ui/listitems.h"
#include "framework/ui/menu.h"
#include "framework/ui/valueitems.h"
#include "framework/utilities.h"

// Hover and press state of the item windows; the press times find double
// clicks per button (left, right, middle).
static HWND gHoveredWindow;
static HWND gPressedWindow;
static ULONGLONG gPressTimes[3];
static HWND gPressWindows[3];   // two quick presses on different items are no double click
// Depth of running item window procedures, and the items retired meanwhile.
static int gProcedureDepth;
static CGrowArray<CUIItem *> gRetiredItems;

CUIItem::CUIItem()
    : window(0), owner(0), commandId(0xFFFF), flags(0), typeCode(0), width(0), height(0),
      iconWidth(0), iconHeight(0), contentWidth(0), contentHeight(0), textWidth(0),
      textHeight(0), shortcutWidth(0), shortcutHeight(0), extraWidth(0), extraHeight(0),
      parentItem(0), iconColumn(0), lastMousePosition(0), dragging(0), mouseCallback(0),
      ownNotices(0), hasTooltip(0)
{
    SetRectEmpty(&iconRect);
    SetRectEmpty(&textRect);
    SetRectEmpty(&contentRect);
    SetRectEmpty(&shortcutRect);
    CUIItem *self = this;
    gApp.items.Add(self);
}

// Subclasses release their own resources in their destructors; here only
// what the base owns is undone.
CUIItem::~CUIItem()
{
    gApp.SetItemState(this, 0, CMDF_HOT | CMDF_PRESSED);
    for (int i = gApp.items.count - 1; i >= 0; i--)
        if (gApp.items.data[i] == this)
            gApp.items.RemoveAt(i);
    if (gApp.hoveredItem == this)
        gApp.hoveredItem = 0;
    if (gApp.openMenu == this)
        gApp.openMenu = 0;
    CUIItem::Destroy();
}

bool CUIItem::ReadEntry(CommandEntry *entry) const
{
    if (gApp.GetCommand(commandId, entry) == 0)
        return true;
    memset(entry, 0, sizeof *entry);
    entry->id = commandId;
    return false;
}

int CUIItem::Dpi() const
{
    HMONITOR monitor = window ? MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST) : 0;
    return GetMonitorDpi(monitor);
}

int CUIItem::SpaceWidth() const
{
    if (!gGraphics)
        return 3;
    int dpi = Dpi();
    gGraphics->GetFont(FONT_USER, dpi);   // made on first use at this DPI
    return gGraphics->GetSpaceWidth(dpi);
}

const char *CUIItem::GetText(int subIndex) const
{
    CommandEntry entry;
    if (!ReadEntry(&entry))
        return 0;
    if (entry.stringId == CMD_STRING_ASKOWNER)
        return owner ? (const char *)SendMessageA(owner, QRFM_GETITEMTEXT, commandId, subIndex)
                     : 0;
    const char *text = gApp.strings.GetText((uint16_t)entry.stringId, subIndex);
    if (text)
        return text;
    // The entry's own text stands in for the name only.
    CommandEntry *live = gApp.CommandById(commandId);
    return (subIndex == TEXT_NAME && live && live->text[0]) ? live->text : 0;
}

bool RegisterUIItemClass()
{
    static bool registered = false;
    if (registered)
        return true;
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = UIItemWindowProc;
    wc.hInstance = GetModuleHandleA(0);
    wc.hCursor = LoadCursor(0, IDC_ARROW);
    wc.lpszClassName = UI_ITEM_CLASS;
    registered = RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    return registered;
}

int CUIItem::Create(uint16_t id, HWND parent, HWND ownerWindow, CMenu *parentMenu)
{
    RegisterUIItemClass();
    HWND made = CreateWindowExA(0, UI_ITEM_CLASS, "", WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                                0, 0, 0, 0, parent, (HMENU)(UINT_PTR)id, GetModuleHandleA(0), 0);
    if (!made)
        return QRF_ERR_WINDOW;
    window = made;
    SetWindowLongPtrA(made, GWLP_USERDATA, (LONG_PTR)this);
    commandId = id;
    owner = ownerWindow;
    parentItem = parentMenu;
    CommandEntry entry;
    ReadEntry(&entry);
    if (!parentMenu || (entry.flags & ITEMF_MENUTOOLTIP))
        AddTooltip(entry);
    if (OnCreate(entry, parent, ownerWindow, parentMenu) != 0)
        return QRF_ERR_WINDOW;
    Measure(entry, ORIENT_HORIZONTAL);
    return 0;
}

int CUIItem::OnCreate(const CommandEntry &, HWND, HWND, CMenu *) { return 0; }

static void MeasureOne(const char *text, bool bold, int dpi, int *w, int *h)
{
    *w = *h = 0;
    if (text && gGraphics)
        gGraphics->MeasureTextForDpi(text, w, h, bold, dpi);
}

static float Factor(uint32_t bits)
{
    float value;
    memcpy(&value, &bits, sizeof value);
    return isfinite(value) ? value : 0.0f;
}

void CUIItem::Measure(const CommandEntry &entry, int orientation)
{
    flags = entry.flags;
    iconWidth = iconHeight = textWidth = textHeight = -1;
    contentWidth = contentHeight = extraWidth = extraHeight = 0;
    MeasureContent(entry, orientation);
    int dpi = Dpi(), s = SpaceWidth();
    bool bold = (flags & ITEMF_BOLD) != 0;
    if (iconWidth < 0)
        iconWidth = iconHeight = (flags & ITEMF_ICON) ? 16 : 0;
    if (textWidth < 0) {
        textWidth = textHeight = 0;
        if ((InMenu() && contentWidth == 0) || (flags & ITEMF_MEASURETEXT))
            MeasureOne(GetText((flags & ITEMF_SHORTNAME) ? TEXT_SHORTNAME : TEXT_NAME), bold, dpi,
                       &textWidth, &textHeight);
    }
    shortcutWidth = shortcutHeight = 0;
    if (InMenu())
        MeasureOne(GetText(TEXT_SHORTCUT), bold, dpi, &shortcutWidth, &shortcutHeight);
    iconWidth = iconWidth * dpi / 96;
    iconHeight = iconHeight * dpi / 96;
    iconColumn = iconWidth;
    textWidth += (int)(textHeight * Factor(entry.valueA));
    textHeight += (int)(textHeight * Factor(entry.valueB));
    if (textHeight < 16)
        textHeight = 16;
    int tallest = iconHeight;
    const int others[4] = {contentHeight, textHeight, shortcutHeight, extraHeight};
    for (int i = 0; i < 4; i++)
        if (others[i] > tallest)
            tallest = others[i];
    height = tallest + 2 * s;
    width = extraWidth + s;
    if (iconWidth > 0)
        width += iconWidth + s;
    if (contentWidth > 0)
        width += contentWidth + s;
    if (textWidth > 0)
        width += textWidth + s;
    if (shortcutWidth > 0)
        width += 4 * s + shortcutWidth;
}

void CUIItem::MeasureContent(const CommandEntry &, int) {}

void CUIItem::AddTooltip(const CommandEntry &)
{
    if (!gApp.tooltipWindow || !window)
        return;
    char text[260];
    const char *tip = GetText(TEXT_TOOLTIP), *name = GetText(TEXT_NAME),
               *shortcut = GetText(TEXT_SHORTCUT);
    if (tip)
        CopyText(text, tip, sizeof text);
    else if (name && shortcut)
        snprintf(text, sizeof text, "%s (%s)", name, shortcut);
    else if (name)
        CopyText(text, name, sizeof text);
    else
        return;
    text[sizeof text - 1] = 0;
    TOOLINFOA tool;
    memset(&tool, 0, sizeof tool);
    tool.cbSize = sizeof tool < 48 ? sizeof tool : 48;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = GetParent(window);
    tool.uId = (UINT_PTR)window;
    tool.lpszText = text;
    hasTooltip = SendMessageA(gApp.tooltipWindow, TTM_ADDTOOLA, 0, (LPARAM)&tool) ? 1 : 0;
}

void CUIItem::RemoveTooltip()
{
    if (!hasTooltip || !gApp.tooltipWindow || !window)
        return;
    TOOLINFOA tool;
    memset(&tool, 0, sizeof tool);
    tool.cbSize = sizeof tool < 48 ? sizeof tool : 48;
    tool.hwnd = GetParent(window);
    tool.uId = (UINT_PTR)window;
    SendMessageA(gApp.tooltipWindow, TTM_DELTOOLA, 0, (LPARAM)&tool);
    hasTooltip = 0;
}

void CUIItem::Destroy()
{
    OnDestroy();
    RemoveTooltip();
    if (window) {
        HWND gone = window;
        SetWindowLongPtrA(gone, GWLP_USERDATA, 0);
        window = 0;
        if (gHoveredWindow == gone)
            gHoveredWindow = 0;
        if (gPressedWindow == gone)
            gPressedWindow = 0;
        DestroyWindow(gone);
    }
}

void CUIItem::OnDestroy() {}
void CUIItem::Paint(HDC, const RECT &) {}
void CUIItem::OnSize() {}
void CUIItem::Reserved() {}

bool CUIItem::Refresh(int hint)
{
    if (hint == 0 && window)
        RedrawWindow(window, 0, 0, RDW_UPDATENOW | RDW_INVALIDATE);
    return OnRefresh(hint);
}

bool CUIItem::OnRefresh(int) { return false; }

int CUIItem::GetDrawState(uint32_t itemFlags, int *background, uint32_t *textColour, bool *centre,
                          bool *bold) const
{
    int type = BACKGROUND_PARENT;
    if (itemFlags & CMDF_CHECKED)
        type = (itemFlags & CMDF_ENABLED) ? BACKGROUND_CHECKED : BACKGROUND_CHECKED_DISABLED;
    if (itemFlags & CMDF_HOT)
        type = BACKGROUND_HOT;
    if (itemFlags & CMDF_PRESSED)
        type = BACKGROUND_PRESSED;
    *background = type;
    *textColour = (itemFlags & CMDF_ENABLED) ? COLOUR_TEXT : COLOUR_DISABLED;
    if (itemFlags & (CMDF_HOT | CMDF_PRESSED))
        *textColour = COLOUR_HIGHLIGHTED;
    *centre = (itemFlags & ITEMF_CENTRE) && !InMenu();
    *bold = (itemFlags & ITEMF_BOLD) != 0;
    return (itemFlags & CMDF_PRESSED) ? 1 : 0;
}

static RECT PartAt(int left, int top, int w, int h)
{
    RECT r = {left, top, left + w, top + h};
    return r;
}

void CUIItem::LayoutParts(const RECT &client, int offset, bool centre, bool inMenu)
{
    int s = SpaceWidth();
    int H = client.bottom - client.top, W = client.right - client.left;
    int a = offset;
    int iconTop = s + (H - 2 * s - iconHeight + 1) / 2 + offset;
    int contentTop = s + (H - 2 * s - contentHeight + 1) / 2 + offset;
    int textTop = (int)floor((H + 1 - 2 * s - textHeight) * 0.5 + offset + s + 0.5);
    int shortcutTop = (int)floor((H + 1 - 2 * s - shortcutHeight) * 0.5 + offset + s + 0.5);
    if (centre && !inMenu)
        a += (W - width) / 2;
    iconRect = PartAt(s + a, iconTop, iconWidth, iconHeight);
    int contentLeft;
    if (inMenu && parentItem)
        contentLeft = a + ((CUIItem *)parentItem)->iconColumn;
    else
        contentLeft = iconWidth > 0 ? iconRect.right + s : s + a;
    contentRect = PartAt(contentLeft, contentTop, contentWidth, contentHeight);
    int textLeft = contentWidth > 0 ? contentRect.right + s : contentRect.left;
    textRect = PartAt(textLeft, textTop, textWidth, textHeight);
    SetRectEmpty(&shortcutRect);
    if (inMenu && shortcutWidth > 0) {
        int right = W - extraWidth - s;
        shortcutRect = PartAt(right - shortcutWidth, shortcutTop, shortcutWidth, shortcutHeight);
    }
    if (flags & ITEMF_STRETCH)
        textRect.right = W - extraWidth - shortcutWidth - s;
    if (textRect.right < textRect.left)
        textRect.right = textRect.left;
}

void CUIItem::PaintParts(HDC dc, const RECT &client, const CommandEntry &entry, int a,
                         uint32_t colour, bool centre, bool bold)
{
    int s = SpaceWidth(), dpi = Dpi();
    LayoutParts(client, a, centre, InMenu());
    if (iconWidth > 0)
        gGraphics->DrawCommandIcon(dc, (uint16_t)entry.imageId,
                                   (entry.flags & CMDF_ENABLED) ? ICON_ENABLED : 0, &iconRect);
    const char *name = GetText(TEXT_NAME);
    if (name)
        gGraphics->DrawFormattedText(dc, dpi, "%s", colour, &textRect, centre ? 1 : 0, bold, name);
    const char *shortcut = InMenu() ? GetText(TEXT_SHORTCUT) : 0;
    if (shortcut)
        gGraphics->DrawFormattedText(dc, dpi, "%s", colour, &shortcutRect, 2, bold, shortcut);
    if (InMenu() && iconWidth == 0 && (entry.flags & CMDF_CHECKED)) {
        RECT square = {a, a, textHeight + 2 * s + a, client.bottom + a};
        gGraphics->DrawCheckMark(dc, COLOUR_HIGHLIGHTED, &square);
    }
}

bool CUIItem::BeginItemPaint(HDC target, const RECT &client, PaintState *p)
{
    if (!gGraphics)
        return false;
    p->dc = target;
    p->memory.Begin(&p->dc, client.right + 1, client.bottom + 1);
    ReadEntry(&p->entry);
    p->inset = GetDrawState(p->entry.flags, &p->background, &p->colour, &p->centre, &p->bold);
    return true;
}

void CUIItem::PaintButtonLike(HDC target, const RECT &client)
{
    PaintState p;
    if (!BeginItemPaint(target, client, &p))
        return;
    HDC dc = p.dc;
    const CommandEntry &entry = p.entry;
    int background = p.background, a = p.inset;
    uint32_t colour = p.colour;
    bool centre = p.centre, bold = p.bold;
    int checkWidth = InMenu() ? textHeight + 2 * SpaceWidth() : 0;
    gGraphics->DrawItemBackground(dc, &client, background, background ? 15 : 0, checkWidth, -1,
                                  -1, -1);
    PaintParts(dc, client, entry, a, colour, centre, bold);
    p.memory.End();
}

void CButton::Paint(HDC dc, const RECT &client) { PaintButtonLike(dc, client); }

const char *ParseLabelPrefixes(const char *text, int *iconCommand, int *percent)
{
    *iconCommand = 0;
    *percent = -1;
    if (!text)
        return 0;
    if (*text == '#') {
        char *end;
        long number = strtol(text + 1, &end, 10);
        *iconCommand = (end > text + 1) ? (int)number : 0;
        text = end > text + 1 ? end : text + 1;
    }
    if (*text == '@') {
        char *end;
        long number = strtol(text + 1, &end, 10);
        if (end > text + 1)
            *percent = number < 0 ? 0 : number > 100 ? 100 : (int)number;
        text = end > text + 1 ? end : text + 1;
    }
    return text;
}

static void DrawPercentBar(HDC dc, int dpi, const RECT &textRect, int textWidth, int s,
                           int percent, uint32_t colour)
{
    int h = textRect.bottom - textRect.top;
    RECT bar;
    bar.left = textRect.left + textWidth + 2 * s;
    bar.right = bar.left + 10 * h;
    bar.top = textRect.top + 1 + 1;
    bar.bottom = bar.top + h - 2;
    gGraphics->FrameRect(dc, &bar, gGraphics->SelectorColour(colour));
    RECT fill;
    DeflateRect(&bar, &fill, 1);
    fill.right = fill.left + (fill.right - fill.left) * percent / 100;
    if (fill.right > fill.left)
        gGraphics->FillRect(dc, &fill, gGraphics->focusColour);
    RECT label = {bar.right + 2 * s, textRect.top, bar.right + 2 * s + 8 * h, textRect.bottom};
    gGraphics->DrawFormattedText(dc, dpi, "%d%%", colour, &label, 0, false, percent);
}

void CStatic::Paint(HDC target, const RECT &client)
{
    PaintState p;
    if (!BeginItemPaint(target, client, &p))
        return;
    HDC dc = p.dc;
    const CommandEntry &entry = p.entry;
    int a = p.inset;
    uint32_t colour = p.colour;
    bool centre = p.centre, bold = p.bold;
    int background = (entry.flags & ITEMF_ARROWZONE)  ? BACKGROUND_RAISED
                     : (entry.flags & ITEMF_SUNKEN) ? BACKGROUND_SUNKEN
                                                    : BACKGROUND_PARENT;
    gGraphics->DrawItemBackground(dc, &client, background, background ? 15 : 0, 0, -1, -1, -1);
    LayoutParts(client, a, centre, InMenu());
    if (iconWidth > 0)
        gGraphics->DrawCommandIcon(dc, (uint16_t)entry.imageId,
                                   (entry.flags & CMDF_ENABLED) ? ICON_ENABLED : 0, &iconRect);
    int s = SpaceWidth(), dpi = Dpi(), iconCommand, percent;
    const char *text = ParseLabelPrefixes(GetText(TEXT_NAME), &iconCommand, &percent);
    RECT r = textRect;
    if (text && iconCommand) {
        int side = r.bottom - r.top;
        RECT square = {r.left, r.top, r.left + side, r.bottom};
        gGraphics->DrawCommandIcon(dc, (uint16_t)iconCommand, ICON_ENABLED, &square);
        OffsetRect(&r, side + s, 0);
    }
    if (text) {
        int w = 0, h = 0;
        gGraphics->MeasureTextForDpi(text, &w, &h, bold, dpi);
        if (r.right - r.left < w)
            r.right = r.left + w;
        gGraphics->DrawFormattedText(dc, dpi, "%s", colour, &r, centre ? 1 : 0, bold, text);
        if (percent >= 0)
            DrawPercentBar(dc, dpi, r, w, s, percent, colour);
    }
    p.memory.End();
}

void CStatic::OnSize()
{
    if ((flags & ITEMF_STRETCH) && window)
        RedrawWindow(window, 0, 0, RDW_UPDATENOW | RDW_INVALIDATE);
}

void CSeparator::Measure(const CommandEntry &entry, int)
{
    flags = entry.flags;
    width = height = (entry.flags & ITEMF_ARROWZONE) ? 3 : 6;
}

void CSeparator::Paint(HDC target, const RECT &client)
{
    if (!gGraphics)
        return;
    CMemoryDC memory;
    HDC dc = target;
    memory.Begin(&dc, client.right + 1, client.bottom + 1);
    gGraphics->DrawItemBackground(dc, &client, BACKGROUND_PARENT, 0, 0, -1, -1, -1);
    int W = client.right, H = client.bottom;
    if (width == 6 || height == 6) {
        RECT line;
        if (W > H)
            SetRect(&line, 2, H / 2 - 1, W - 2, H / 2 + 1);
        else
            SetRect(&line, W / 2 - 1, 2, W / 2 + 1, H - 2);
        gGraphics->DrawEtchedLine(dc, &line);
    }
    memory.End();
}

CUIItem *ItemFromWindow(HWND window)
{
    return window ? (CUIItem *)GetWindowLongPtrA(window, GWLP_USERDATA) : 0;
}

CUIItem *NewItemForType(int type, CUIItem *callersObject)
{
    switch (type) {
    case ITEM_TYPE_CALLERS:
        return callersObject;
    case CMD_BUTTON:
        return new CButton;
    case CMD_STATIC:
        return new CStatic;
    case CMD_MENU:
        return new CMenu;
    case CMD_SEPARATOR:
        return new CSeparator;
    case CMD_TREE:
        return new CTree;
    case CMD_LIST:
        return new CList;
    case CMD_SLIDER:
        return new CSlider;
    case CMD_BRUSHSIZE:
        return new CBrushSize;
    case CMD_COLOR:
        return new CColor;
    case CMD_PALETTE:
        return new CPalette;
    default:
        return 0;
    }
}

void DeleteItemSafely(CUIItem *item)
{
    if (!item)
        return;
    if (gProcedureDepth == 0) {
        delete item;
        return;
    }
    if (item->window)
        ShowWindow(item->window, SW_HIDE);
    gRetiredItems.Add(item);
}

static bool IsRetired(const CUIItem *item)
{
    for (int i = 0; i < gRetiredItems.count; i++)
        if (gRetiredItems.data[i] == item)
            return true;
    return false;
}

static void DeleteRetiredItems()
{
    while (gRetiredItems.count > 0) {
        CUIItem *item = gRetiredItems.data[gRetiredItems.count - 1];
        gRetiredItems.RemoveAt(gRetiredItems.count - 1);
        delete item;
    }
}

void DeliverPendingCommand()
{
    HWND target = gApp.pendingOwner;
    WPARAM command = gApp.pendingCommand;
    if (!target || gApp.openMenu)
        return;
    gApp.pendingOwner = 0;
    gApp.pendingCommand = 0;
    SendMessageA(target, QRFM_COMMAND, command, 0);
}

int GetMouseButtons(UINT message)
{
    int buttons = 0;
    if (message == WM_LBUTTONDOWN || message == WM_LBUTTONUP)
        buttons = 1;
    else if (message == WM_RBUTTONDOWN || message == WM_RBUTTONUP)
        buttons = 2;
    else if (message == WM_MBUTTONDOWN || message == WM_MBUTTONUP)
        buttons = 4;
    if (GetAsyncKeyState(VK_LBUTTON) < 0)
        buttons |= 1;
    if (GetAsyncKeyState(VK_RBUTTON) < 0)
        buttons |= 2;
    if (GetAsyncKeyState(VK_MBUTTON) < 0)
        buttons |= 4;
    return buttons;
}

bool ItemEnabled(const CUIItem *item)
{
    CommandEntry *entry = gApp.CommandById(item->commandId);
    return entry && (entry->flags & CMDF_ENABLED);
}

static bool CursorOverWindow(HWND window)
{
    POINT cursor;
    return GetCursorPos(&cursor) && WindowFromPoint(cursor) == window;
}

static void OnMouseMove(CUIItem *item, HWND window, LPARAM lParam)
{
    if (!ItemEnabled(item) || item->dragging || lParam == item->lastMousePosition)
        return;
    bool synthetic = lParam == -1;
    if (!synthetic)
        item->lastMousePosition = lParam;
    if (gHoveredWindow != window) {
        HWND previous = gHoveredWindow;
        gHoveredWindow = window;
        if (previous && IsWindow(previous))
            SendMessageA(previous, WM_MOUSELEAVE, 0, 0);
        if (!synthetic && CursorOverWindow(window)) {
            TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, window, 0};
            TrackMouseEvent(&track);
        }
        gApp.OnItemHover(item);
    }
    if ((item->flags & ITEMF_DRAGOUT) && gPressedWindow == window && !CursorOverWindow(window)) {
        item->dragging = 1;
        SendMessageA(item->owner, QRFM_DRAGOUT, item->commandId, 0);
        ReleaseCapture();
        item->dragging = 0;
        PostMessageA(window, WM_MOUSELEAVE, 0, 0);
    }
    gApp.OnItemMouseMove(item);
    if ((item->flags & ITEMF_ARROWZONE) && item->typeCode == ITEM_TYPE_MENU) {
        CMenu *menu = (CMenu *)item;
        uint8_t over = menu->IsOverArrow() ? 1 : 0;
        if (over != menu->arrowHot) {
            menu->arrowHot = over;
            InvalidateRect(window, 0, FALSE);
        }
    }
}

static int PressedButtonIndex(UINT message)
{
    return message == WM_LBUTTONDOWN ? 0 : message == WM_RBUTTONDOWN ? 1 : 2;
}

static void OnButtonDown(CUIItem *item, HWND window, UINT message)
{
    if (!ItemEnabled(item))
        return;
    gPressedWindow = window;
    int buttons = GetMouseButtons(message);
    gApp.OnItemButtonDown(item);
    SetCapture(window);
    int index = PressedButtonIndex(message);
    ULONGLONG now = GetTickCount64();
    UINT doubleTime = gApp.doubleClickTime ? gApp.doubleClickTime : GetDoubleClickTime();
    if (gPressTimes[index] && gPressWindows[index] == window &&
        now - gPressTimes[index] < doubleTime) {
        int pressed = 1 << index;
        gApp.OnItemDoubleClick(item, pressed | (buttons & ~pressed));
    }
    gPressTimes[index] = now;
    gPressWindows[index] = window;
}

static void OnButtonUp(CUIItem *item, HWND window, UINT message, LPARAM lParam)
{
    if (!ItemEnabled(item))
        return;
    ReleaseCapture();
    bool overPressed = gPressedWindow == window && CursorOverWindow(window);
    if (overPressed || lParam == -1)
        gApp.OnItemClick(item, GetMouseButtons(message));
    gPressedWindow = 0;
}

static void OnMouseLeave(CUIItem *item, HWND window)
{
    gApp.OnItemLeave(item);
    if (ItemEnabled(item) && !item->dragging && gHoveredWindow == window)
        gHoveredWindow = 0;
}

static void PaintItem(CUIItem *item, HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    item->Paint(dc, client);
    EndPaint(window, &paint);
}

// Returns true when the message is fully handled (result 0 or 1 in *result).
static bool HandleItemMessage(CUIItem *item, HWND window, UINT message, WPARAM wParam,
                              LPARAM lParam, LRESULT *result)
{
    *result = 0;
    switch (message) {
    case WM_PAINT:
        PaintItem(item, window);
        return true;
    case WM_ERASEBKGND:
        *result = 1;
        return true;
    case WM_MOVE:
        InvalidateRect(window, 0, FALSE);
        break;
    case WM_SIZE:
        item->OnSize();
        break;
    case WM_SETFOCUS:
        // The frame keeps the window the item took the focus from.
        if (CFrameWindow *frame = FindParentFrame(window))
            frame->focusLostToItem = (HWND)wParam;
        break;
    case WM_MOUSEMOVE:
        OnMouseMove(item, window, lParam);
        break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        OnButtonDown(item, window, message);
        break;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
        OnButtonUp(item, window, message, lParam);
        break;
    case WM_MOUSELEAVE:
        OnMouseLeave(item, window);
        break;
    }
    return false;
}

LRESULT CALLBACK UIItemWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CUIItem *item = ItemFromWindow(window);
    if (!item)
        return DefWindowProcA(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        item->window = 0;
        return DefWindowProcA(window, message, wParam, lParam);
    }
    // The callback may tell the owner, which may close the menu holding this
    // item: inside the depth guard the item then outlives both handlers.
    gProcedureDepth++;
    LRESULT result = 0;
    bool handled = item->mouseCallback && item->mouseCallback(window, message, wParam, lParam, item);
    if (!handled && IsRetired(item)) {
        // Retired by the callback's owner: no more item work, no capture kept.
        if (GetCapture() == window)
            ReleaseCapture();
        handled = true;
    } else if (!handled) {
        handled = HandleItemMessage(item, window, message, wParam, lParam, &result);
    }
    gProcedureDepth--;
    // The item may be retired by now: only the window handle is used below.
    if (gProcedureDepth == 0) {
        DeleteRetiredItems();
        DeliverPendingCommand();
    }
    if (handled)
        return result;
    return IsWindow(window) ? DefWindowProcA(window, message, wParam, lParam) : 0;
}
