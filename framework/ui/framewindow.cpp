// Frame windows: creation and placement, styles, bays, status texts,
// opacity, the standard context menu and the class window procedure.
#include "framework/ui/framewindow.h"

#include <commdlg.h>
#include <string.h>

#include "framework/application.h"
#include "framework/framelist.h"
#include "framework/messages.h"
#include "framework/recordfile.h"
#include "framework/utilities.h"
#include "framework/dialogs.h"
#include "framework/ui/dockbay.h"
#include "framework/ui/frameedges.h"
#include "framework/ui/menu.h"
#include "framework/ui/graphics.h"

COLORREF gCustomColours[16] = {
    0xCCCCCC, 0xCCCCCC, 0xCCCCCC, 0xCCCCCC, 0xCCCCCC, 0xCCCCCC, 0xCCCCCC, 0xCCCCCC,
    0xCCCCCC, 0xCCCCCC, 0xCCCCCC, 0xCCCCCC, 0xCCCCCC, 0xCCCCCC, 0xCCCCCC, 0xCCCCCC};

static const char kFrameClass[] = "QRFWindow";
static const char kPlacementRecord[] = "(QRF)Win";
enum { CASCADE_STEP = 40, CORNER_INSET = 20, CLICK_THROUGH_BIT = 0x1000, LOCK_BITS = 0x1080 };

// All frames share the class procedure, so one kept value serves them all.
static WNDPROC gKeptProcedure = FrameWindowProc;

static HINSTANCE Instance() { return gApp.instance ? gApp.instance : GetModuleHandleA(0); }

void GetFrameStyles(uint32_t options, DWORD *style, DWORD *exStyle)
{
    DWORD s = WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_SYSMENU;
    if (!(options & FRAME_BORDERLESS))
        s |= WS_THICKFRAME;
    if ((options & (FRAME_BORDERLESS | FRAME_MINMAXBOX)) == FRAME_MINMAXBOX)
        s |= WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME;
    if (!(options & (FRAME_NOCAPTION | FRAME_BORDERLESS)))
        s |= WS_CAPTION;
    if (options & FRAME_MAXIMIZED)
        s |= WS_MAXIMIZE;
    DWORD ex = 0;
    if (options & FRAME_TASKBAR)
        ex |= WS_EX_APPWINDOW;
    if (options & FRAME_SMALLCAPTION)
        ex |= WS_EX_TOOLWINDOW;
    if (options & FRAME_TOPMOST)
        ex |= WS_EX_TOPMOST;
    if (options & FRAME_ACCEPTFILES)
        ex |= WS_EX_ACCEPTFILES;
    *style = s;
    *exStyle = ex;
}

void DefaultFrameRect(const RECT &monitor, uint16_t index, int *x, int *y, int *width,
                      int *height)
{
    int monitorWidth = monitor.right - monitor.left;
    int monitorHeight = monitor.bottom - monitor.top;
    if (*width == 0)
        *width = monitorWidth * 2 / 3;
    if (*height == 0)
        *height = monitorHeight * 2 / 3;
    if (*x == 0)
        *x = (monitorWidth - *width) / 2 + index * CASCADE_STEP;
    if (*y == 0)
        *y = (monitorHeight - *height) / 2 + index * CASCADE_STEP;
    // Cascaded windows wrap around; a window exactly as large as the bound
    // leaves nothing to wrap by.
    int spanX = monitor.right - *width, spanY = monitor.bottom - *height;
    if (spanX != 0)
        *x %= spanX;
    if (spanY != 0)
        *y %= spanY;
}

static bool OnMonitor(const MonitorTable &table, int x, int y)
{
    POINT point = {x, y};
    int count = table.count < MONITOR_TABLE_SIZE ? table.count : MONITOR_TABLE_SIZE;
    for (int i = 0; i < count; i++)
        if (PtInRect(&table.rect[i], point))
            return true;
    return false;
}

bool PlacementUsable(const FramePlacementRecord &record, const MonitorTable &monitors)
{
    if (record.width == 0 || record.height == 0)
        return false;
    int top = record.y + CORNER_INSET;
    return OnMonitor(monitors, record.x + CORNER_INSET, top) ||
           OnMonitor(monitors, record.x + record.width - CORNER_INSET, top);
}

CFrameWindow *FrameOfWindow(HWND window)
{
    return window ? (CFrameWindow *)GetWindowLongPtrA(window, GWLP_USERDATA) : 0;
}

CFrameWindow::CFrameWindow()
    : window(0), busyOverlay(0), focusToRestore(0), focusLostToItem(0), index(FRAME_NO_INDEX),
      options(0), statusCommand(FRAME_NO_COMMAND), restyling(0), minWidth(FRAME_MIN_WIDTH),
      minHeight(FRAME_MIN_HEIGHT), trayIcon(0), transparency(0), clickThrough(0), showMode(0),
      dpi(0), statusMutex(0), openMenu(0), trayEntry(0)
{
    SetRectEmpty(&clientArea);
    SetRectEmpty(&currentRect);
    SetRectEmpty(&lastPlacedRect);
    standardMenu[0] = CMD_ID_LIST_END;
    shownStatus[0] = 0;
    bays.growStep = -1;
    statusTexts.growStep = -1;
}

// Only the frame's own resources: a subclass releases its own in its own
// destructor, since this one cannot reach it.
CFrameWindow::~CFrameWindow()
{
    // The tray icon is a shared one (see SetTrayIcon): removed, not destroyed.
    if (trayEntry && index != FRAME_NO_INDEX)
        SetTrayIcon(index, 0, 0);
    trayIcon = 0;
    DestroyBays();
    if (statusMutex)
        CloseHandle(statusMutex);
    statusMutex = 0;
    if (window && IsWindow(window))
        DestroyWindow(window);
    window = 0;
    statusTexts.RemoveAll();
}

static void RegisterFrameClasses(uint16_t iconId)
{
    WNDCLASSA frameClass = {};
    frameClass.lpfnWndProc = FrameWindowProc;
    frameClass.hInstance = Instance();
    frameClass.hCursor = LoadCursorA(0, IDC_ARROW);
    frameClass.hIcon = LoadIconA(Instance(), MAKEINTRESOURCEA(iconId));
    frameClass.lpszClassName = kFrameClass;
    RegisterClassA(&frameClass);   // fails harmlessly once registered
    WNDCLASSA busyClass = {};
    busyClass.lpfnWndProc = DefWindowProcA;
    busyClass.hInstance = Instance();
    busyClass.hCursor = LoadCursorA(0, IDC_WAIT);
    busyClass.lpszClassName = "QRFBusy";
    RegisterClassA(&busyClass);
}

// Step 3 of creation: a stored placement replaces the defaults unwrapped.
static bool ReadPlacement(uint16_t index, FramePlacementRecord *record)
{
    if (!gApp.CanRestorePlacement())
        return false;
    if (ReadRecordFile(kPlacementRecord, index, record, sizeof *record, 0) != sizeof *record)
        return false;
    RefreshMonitors();
    return PlacementUsable(*record, gMonitors);
}

int CFrameWindow::Create(uint16_t newIndex, WNDPROC procedure, const char *title,
                         uint16_t iconId, uint32_t newOptions, int x, int y, int width,
                         int height)
{
    index = newIndex;
    options = newOptions;
    RegisterFrameClasses(iconId);
    RECT monitor;
    GetMonitorRect(0, 0, &monitor, 0, 0);
    DefaultFrameRect(monitor, index, &x, &y, &width, &height);
    uint32_t transparencyWord = 0;
    FramePlacementRecord record;
    if (ReadPlacement(index, &record)) {
        x = record.x;
        y = record.y;
        width = record.width;
        height = record.height;
        options = record.options;
        transparencyWord = record.transparency;
    }
    SetRect(&currentRect, x, y, x + width, y + height);
    lastPlacedRect = currentRect;
    transparency = transparencyWord & 0xFF;
    clickThrough = (transparencyWord & CLICK_THROUGH_BIT) ? 1 : 0;

    DWORD style, exStyle;
    GetStyles(&style, &exStyle);
    window = CreateWindowExA(exStyle, kFrameClass, title ? title : "", style, x, y, width,
                             height, gApp.hiddenWindow, 0, Instance(), 0);
    if (!window)
        return QRF_ERR_WINDOW;
    SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)this);
    if (procedure)
        gKeptProcedure = (WNDPROC)SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)procedure);
    // The caller's procedure missed the real WM_CREATE.
    CREATESTRUCTA empty;
    memset(&empty, 0, sizeof empty);
    SendMessageA(window, WM_CREATE, 0, (LPARAM)&empty);
    SetClassLongPtrA(window, GCLP_HICONSM, (LONG_PTR)LoadIconA(Instance(), MAKEINTRESOURCEA(iconId)));
    // A hidden frame is never shown, yet DPI changes divide by this.
    dpi = GetWindowDpi(window);
    for (int side = 0; side < 4; side++)
        if (AddDockBay(side) != side)
            return QRF_ERR_WINDOW;
    statusMutex = CreateMutexA(0, FALSE, 0);
    if (!statusMutex)
        return QRF_ERR_WINDOW;
    const char *ready = gApp.strings.GetText(QRF_STRING_READY, 0);
    SetStatusText(STATUS_KEY_DEFAULT, ready ? ready : "Ready");
    SetStatusText(STATUS_KEY_HOVER, ready ? ready : "Ready");
    ApplyOpacity();
    return 0;
}

void CFrameWindow::GetStyles(DWORD *style, DWORD *exStyle) const
{
    GetFrameStyles(options, style, exStyle);
}

int CFrameWindow::AddDockBay(int side)
{
    CDockBay *bay = CreateFrameBay(window, side);
    if (!bay)
        return -1;
    int position = bays.Add(bay);
    if (position < 0)
        DestroyFrameBay(bay);
    return position;
}

void CFrameWindow::DestroyBays()
{
    for (int i = 0; i < bays.count; i++)
        DestroyFrameBay(bays.data[i]);
    bays.RemoveAll();
}

static SIZE BayExtent(const CGrowArray<CDockBay *> &bays, int side)
{
    SIZE none = {0, 0};
    if (side >= bays.count)
        return none;
    return FrameBayExtent(bays.data[side]);
}

static void PlaceBay(const CGrowArray<CDockBay *> &bays, int side, int left, int top,
                     int right, int bottom)
{
    if (side >= bays.count)
        return;
    RECT rect = {left, top, right, bottom};
    PlaceFrameBay(bays.data[side], &rect);
}

void CFrameWindow::LayOutBays(int w, int h)
{
    int top = BayExtent(bays, 0).cy, bottom = BayExtent(bays, 1).cy;
    int left = BayExtent(bays, 2).cx, right = BayExtent(bays, 3).cx;
    PlaceBay(bays, 0, 0, 0, w, top);
    PlaceBay(bays, 1, 0, h - bottom, w, h);
    PlaceBay(bays, 2, 0, top, left, h - bottom);
    PlaceBay(bays, 3, w - right, top, w, h - bottom);
    SetRect(&clientArea, left, top, w - right, h - bottom);
}

void CFrameWindow::TrackPlacement()
{
    bool zoomed = IsZoomed(window) != 0;
    SetFlagBits(&options, FRAME_MAXIMIZED, zoomed);
    if (zoomed || IsIconic(window) || restyling)
        return;
    RECT r;
    GetWindowRect(window, &r);
    if (!(options & FRAME_LOCKPOS))
        OffsetRect(&currentRect, r.left - currentRect.left, r.top - currentRect.top);
    if (!(options & FRAME_LOCKSIZE)) {
        currentRect.right = currentRect.left + (r.right - r.left);
        currentRect.bottom = currentRect.top + (r.bottom - r.top);
    }
}

void CFrameWindow::Relayout()
{
    RECT client;
    GetClientRect(window, &client);
    LPARAM size = MAKELPARAM(client.right, client.bottom);
    SendMessageA(window, WM_SIZE, SIZE_RESTORED, size);
    SendMessageA(window, WM_SIZE, SIZE_RESTORED, size);
}

void CFrameWindow::Show(int nCmdShow, int mode)
{
    if (mode != -1) {
        showMode = mode;
        if (nCmdShow != 0)
            Relayout();
        if (IsIconic(window) && nCmdShow == SW_SHOW) {
            ShowWindow(window, SW_SHOWNORMAL);
            SetForegroundWindow(window);
        } else {
            ShowWindow(window, nCmdShow);
            if (nCmdShow == SW_SHOW || nCmdShow == SW_SHOWNORMAL)
                SetForegroundWindow(window);
        }
    }
    ShowFloatingBars(index, nCmdShow);
}

void CFrameWindow::Move(int x, int y, int cx, int cy, bool show)
{
    if (cx == -1) {
        Relayout();
        return;
    }
    // A programmatic move is not the user's drag: the locks do not apply.
    uint32_t locks = options & LOCK_BITS;
    options &= ~LOCK_BITS;
    SetWindowPos(window, 0, x, y, cx, cy,
                 SWP_NOZORDER | SWP_NOACTIVATE | (show ? SWP_SHOWWINDOW : 0));
    options |= locks;
    lastPlacedRect = currentRect;
}

void CFrameWindow::MoveToRect(const RECT &rect, bool show)
{
    SetWindowPos(window, 0, rect.left, rect.top, rect.right - rect.left,
                 rect.bottom - rect.top,
                 SWP_NOZORDER | SWP_NOACTIVATE | (show ? SWP_SHOWWINDOW : 0));
    lastPlacedRect = currentRect;
}

int CFrameWindow::SavePlacement()
{
    if (index == FRAME_NO_INDEX)
        return 0;
    SaveFrameBars(index);
    FramePlacementRecord record;
    record.x = (int16_t)currentRect.left;
    record.y = (int16_t)currentRect.top;
    record.width = (uint16_t)(currentRect.right - currentRect.left);
    record.height = (uint16_t)(currentRect.bottom - currentRect.top);
    record.options = options;
    record.transparency = (uint32_t)(transparency & 0xFFF) | (clickThrough ? CLICK_THROUGH_BIT : 0);
    return WriteRecordFile(kPlacementRecord, index, &record, sizeof record, 0);
}

static BOOL CALLBACK CollectFocusableProc(HWND child, LPARAM list)
{
    LONG style = GetWindowLongA(child, GWL_STYLE);
    if (IsWindowVisible(child) && IsWindowEnabled(child) && (style & WS_TABSTOP))
        ((CGrowArray<HWND> *)list)->Add(child);
    return TRUE;
}

bool CFrameWindow::CycleFocus(int step)
{
    CGrowArray<HWND> list;
    EnumChildWindows(window, CollectFocusableProc, (LPARAM)&list);
    if (list.count == 0)
        return false;
    SendMessageA(window, QRFM_FOCUSLIST, 0, (LPARAM)&list);
    if (list.count == 0) {
        list.RemoveAll();
        return false;
    }
    HWND focus = GetFocus();
    int target = 0;
    for (int i = 0; i < list.count; i++)
        if (list.data[i] == focus) {
            target = i + step;
            break;
        }
    if (target < 0)
        target = list.count - 1;
    if (target >= list.count)
        target = 0;
    SetFocus(list.data[target]);
    list.RemoveAll();
    return true;
}

static int FindStatus(const CGrowArray<StatusEntry> &list, int key)
{
    for (int i = 0; i < list.count; i++)
        if (list.data[i].key == key)
            return i;
    return -1;
}

static bool HasProgramStatus(const CGrowArray<StatusEntry> &list)
{
    for (int i = 0; i < list.count; i++)
        if (list.data[i].key >= 0)
            return true;
    return false;
}

// Over-long texts are cut to the entry's 1,023 characters.
static void StoreStatus(CGrowArray<StatusEntry> *list, int found, int key, const char *text)
{
    if (found >= 0) {
        CopyText(list->data[found].text, text, STATUS_TEXT_SIZE);
        return;
    }
    StatusEntry *entry = (StatusEntry *)malloc(sizeof(StatusEntry));
    if (!entry)
        return;
    entry->key = key;
    CopyText(entry->text, text, STATUS_TEXT_SIZE);
    list->Add(*entry);
    free(entry);
}

const StatusEntry *ShownStatusEntry(const CGrowArray<StatusEntry> &list)
{
    int override = FindStatus(list, STATUS_KEY_OVERRIDE);
    if (override >= 0)
        return &list.data[override];
    return list.count > 0 ? &list.data[list.count - 1] : 0;
}

DWORD CFrameWindow::SetStatusText(int key, const char *text)
{
    DWORD wait = WaitForSingleObject(statusMutex, STATUS_WAIT_MS);
    if (wait != WAIT_OBJECT_0)
        return wait;
    int found = FindStatus(statusTexts, key);
    bool removal = !text || !*text;
    if (removal) {
        statusTexts.RemoveAt(found);
        // The override belongs to the program's texts and goes with the last one.
        if (!HasProgramStatus(statusTexts))
            statusTexts.RemoveAt(FindStatus(statusTexts, STATUS_KEY_OVERRIDE));
    } else {
        StoreStatus(&statusTexts, found, key, text);
    }
    CommandEntry *entry =
        statusCommand != FRAME_NO_COMMAND ? gApp.CommandById(statusCommand) : 0;
    if (!entry) {
        ReleaseMutex(statusMutex);
        return 0;
    }
    const StatusEntry *shown = ShownStatusEntry(statusTexts);
    CopyText(shownStatus, shown ? shown->text : "", STATUS_TEXT_SIZE);
    gApp.strings.SetText((uint16_t)entry->stringId, 0, shownStatus);
    ReleaseMutex(statusMutex);
    gApp.RefreshCommand(statusCommand, false, -1);
    return 0;
}

void CFrameWindow::ApplyOpacity()
{
    SetWindowOpacity(window, transparency, clickThrough != 0);
    SetFloatingBarsOpacity(index, transparency, clickThrough != 0);
}

void CFrameWindow::SetTransparency(int percent)
{
    transparency = percent;
    ApplyOpacity();
}

void CFrameWindow::SetClickThrough(bool on)
{
    clickThrough = on ? 1 : 0;
    ApplyOpacity();
}

void CFrameWindow::SetCaptionStyle(uint32_t bits)
{
    const uint32_t captionBits = FRAME_SMALLCAPTION | FRAME_NOCAPTION | FRAME_BORDERLESS;
    options = (options & ~captionBits) | (bits & captionBits);
    restyling = 1;
    bool visible = IsWindowVisible(window) != 0;
    if (visible)
        Show(0, 0);
    DWORD style, exStyle;
    GetStyles(&style, &exStyle);
    SetWindowLongA(window, GWL_STYLE, (LONG)style);
    SetWindowLongA(window, GWL_EXSTYLE, (LONG)exStyle);
    SendMessageA(window, QRFM_STYLECHANGED, style, exStyle);
    ApplyOpacity();   // the new extended style dropped the layered bit
    if (visible)
        Show((options & FRAME_MAXIMIZED) ? SW_MAXIMIZE : SW_SHOW, 0);
    SetWindowPos(window, 0, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOZORDER | SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    restyling = 0;
}

void CFrameWindow::SetOption(uint32_t bits, bool on)
{
    SetFlagBits(&options, bits, on);
    Relayout();
}

void CFrameWindow::ToggleOption(uint32_t bits)
{
    SetFlagBits(&options, bits, (options & bits) != bits);
    Relayout();
}

uint16_t CFrameWindow::BarCount() const
{
    return (uint16_t)FrameBarCount(index);
}

static void Check(uint16_t id, bool on) { gApp.CheckCommand(id, on); }

void CFrameWindow::BuildStandardMenu()
{
    static const uint16_t kTail[] = {0xF110, 0xF111, 0xF120, 0xF130, 0xF140, 0xF150, 0xF160};
    const int tailCount = (int)(sizeof kTail / sizeof kTail[0]);
    int n = 0;
    int bars = BarCount();
    // Room is left for the separator, the fixed entries and the end mark.
    for (int i = 0; i < bars && n < STANDARD_MENU_SIZE - tailCount - 2; i++) {
        uint16_t id = FrameBarCommand(index, i);
        standardMenu[n++] = id;
        Check(id, FrameBarVisible(index, i));
    }
    if (n > 0)
        standardMenu[n++] = CMD_ID_SEPARATOR;
    gApp.EnableCommand(0xF151, bars > 0);
    gApp.EnableCommand(0xF152, bars > 0);
    for (int i = 0; i < tailCount; i++)
        standardMenu[n++] = kTail[i];
    standardMenu[n] = CMD_ID_LIST_END;

    const uint32_t captionBits = FRAME_SMALLCAPTION | FRAME_NOCAPTION | FRAME_BORDERLESS;
    const uint32_t lockBits = FRAME_LOCKBARPOS | FRAME_LOCKBARSIZE | FRAME_LOCKPOS | FRAME_LOCKSIZE;
    Check(0xF110, options & FRAME_TOPMOST);
    Check(0xF111, options & FRAME_TASKBAR);
    Check(0xF121, !(options & captionBits));
    Check(0xF122, options & FRAME_SMALLCAPTION);
    Check(0xF123, options & FRAME_NOCAPTION);
    Check(0xF124, options & FRAME_BORDERLESS);
    for (int k = 0; k < 3; k++)
        Check((uint16_t)(0xF131 + k), gApp.appRecord.colorScheme == k);
    Check(0xF151, options & FRAME_LOCKBARPOS);
    Check(0xF152, options & FRAME_LOCKBARSIZE);
    Check(0xF153, options & FRAME_LOCKPOS);
    Check(0xF154, options & FRAME_LOCKSIZE);
    Check(0xF155, (options & lockBits) == lockBits);
    Check(0xF156, options & FRAME_KEEPONRESCALE);
    bool userFace = gApp.appRecord.fontFace[0] != 0;
    Check(0xF141, !userFace);
    Check(0xF142, userFace);
    for (int k = 0; k < 10; k++)
        Check((uint16_t)(0xF161 + k), transparency == 10 * k);
    Check(0xF16B, clickThrough != 0);
    gApp.EnableCommand(0xF16B, transparency > 0);
}

// The restart question after a font change; true when the user agreed.
static bool AskRestart(HWND owner)
{
    const UINT flags = 0x328;
    const char *text = gApp.strings.GetText(QRF_STRING_RESTART, 0);
    return FrameworkMessageBox(owner, gApp.productName, "%s", flags, 0, text ? text : "") ==
           IDOK;
}

static void WriteAppRecord()
{
    WriteRecordFile("(QRF)App", -1, &gApp.appRecord, sizeof gApp.appRecord, 0);
}

static void ChooseCustomColour(HWND owner, int slot)
{
    if (gGraphics) {
        gCustomColours[0] = gGraphics->activeCaption;
        gCustomColours[1] = gGraphics->inactiveCaption;
        gCustomColours[2] = gGraphics->highlight;
        gCustomColours[3] = gGraphics->menuText;
        gCustomColours[4] = gGraphics->highlightText;
    }
    CHOOSECOLORA dialog;
    memset(&dialog, 0, sizeof dialog);
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.rgbResult = gApp.appRecord.colors[slot];
    dialog.lpCustColors = gCustomColours;
    dialog.Flags = CC_RGBINIT | CC_FULLOPEN | CC_ANYCOLOR;
    if (!ChooseColorA(&dialog))
        return;
    gApp.appRecord.colors[slot] = dialog.rgbResult;
    SetColorScheme(2);
}

static void ChooseUserFont(HWND owner)
{
    LOGFONTA font;
    memset(&font, 0, sizeof font);
    CHOOSEFONTA dialog;
    memset(&dialog, 0, sizeof dialog);
    dialog.lStructSize = sizeof dialog;
    dialog.lpLogFont = &font;
    dialog.Flags = CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT | CF_FORCEFONTEXIST;
    if (gApp.appRecord.fontFace[0]) {
        CopyText(font.lfFaceName, gApp.appRecord.fontFace, LF_FACESIZE);
        font.lfHeight = -MulDiv(gApp.appRecord.fontSize, GetScreenDpi(), 72);
    }
    if (!ChooseFontA(&dialog))
        return;
    CopyText(gApp.appRecord.fontFace, font.lfFaceName, sizeof gApp.appRecord.fontFace);
    gApp.appRecord.fontSize = dialog.iPointSize / 10;
    WriteAppRecord();
    if (AskRestart(owner))
        gApp.RequestRestart(-1, 0, true);
}

static void UseDefaultFont(HWND owner)
{
    if (!gApp.appRecord.fontFace[0] || !AskRestart(owner))
        return;
    gApp.appRecord.fontFace[0] = 0;
    WriteAppRecord();
    gApp.RequestRestart(-1, 0, true);
}

bool CFrameWindow::OnStandardCommand(uint16_t id)
{
    const uint32_t lockBits = FRAME_LOCKBARPOS | FRAME_LOCKBARSIZE | FRAME_LOCKPOS | FRAME_LOCKSIZE;
    static const int kColourSlot[4] = {0, 2, 3, 4};
    switch (id) {
    case 0xF110:
        options ^= FRAME_TOPMOST;
        SetWindowPos(window, (options & FRAME_TOPMOST) ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0,
                     0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER |
                            SWP_NOSENDCHANGING);
        return true;
    case 0xF111:
        options ^= FRAME_TASKBAR;
        SetCaptionStyle(options);
        return true;
    case 0xF121: SetCaptionStyle(0); return true;
    case 0xF122: SetCaptionStyle(FRAME_SMALLCAPTION); return true;
    case 0xF123: SetCaptionStyle(FRAME_NOCAPTION); return true;
    case 0xF124: SetCaptionStyle(FRAME_BORDERLESS); return true;
    case 0xF131: case 0xF132: case 0xF133:
        SetColorScheme(id - 0xF131);
        return true;
    case 0xF134: case 0xF135: case 0xF136: case 0xF137:
        ChooseCustomColour(window, kColourSlot[id - 0xF134]);
        return true;
    case 0xF141: UseDefaultFont(window); return true;
    case 0xF142: ChooseUserFont(window); return true;
    case 0xF151: ToggleOption(FRAME_LOCKBARPOS); return true;
    case 0xF152: ToggleOption(FRAME_LOCKBARSIZE); return true;
    case 0xF153: ToggleOption(FRAME_LOCKPOS); return true;
    case 0xF154: ToggleOption(FRAME_LOCKSIZE); return true;
    case 0xF155: {
        bool set = (options & lockBits) != lockBits;
        SetOption(FRAME_LOCKBARPOS, set);
        SetOption(FRAME_LOCKBARSIZE, set);
        SetOption(FRAME_LOCKPOS, set);
        SetOption(FRAME_LOCKSIZE, set);
        return true;
    }
    case 0xF156: options ^= FRAME_KEEPONRESCALE; return true;
    case 0xF16B: SetClickThrough(!clickThrough); return true;
    }
    if (id >= 0xF161 && id <= 0xF16A) {
        SetTransparency((id - 0xF161) * 10);
        return true;
    }
    return ToggleBarByCommand(id);
}

static void RebuildFonts(int dpi)
{
    if (gGraphics)
        gGraphics->CreateFonts(gApp.appRecord.fontFace, gApp.appRecord.fontSize, dpi);
}

void CFrameWindow::OnDpiChanged(int newDpi, const RECT *suggested)
{
    // Without a recorded DPI there is nothing to scale from.
    double ratio = dpi > 0 ? (double)newDpi / dpi : 1.0;
    dpi = newDpi;
    RebuildFonts(newDpi);
    ScaleFrameBars(index, ratio);
    if (suggested)
        SetWindowPos(window, 0, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
}

void CFrameWindow::OnActivate(bool active)
{
    if (active) {
        gApp.activeFrame = index;
        SetFocus(focusToRestore && IsWindow(focusToRestore) ? focusToRestore : window);
    } else {
        if (gApp.activeFrame == index && !gApp.menuOpen)
            gApp.activeFrame = FRAME_NO_INDEX;
        HWND focus = GetFocus();
        focusToRestore = (focus && IsChild(window, focus)) ? focus : 0;
    }
    RedrawFrames();
}

LRESULT CFrameWindow::OnModal(WPARAM counter)
{
    if (counter > 0 && !busyOverlay) {
        RECT client;
        GetClientRect(window, &client);
        busyOverlay = CreateWindowExA(WS_EX_TRANSPARENT, "QRFBUSY", "", WS_CHILD, 0, 0,
                                      client.right, client.bottom, window, 0, Instance(), 0);
        if (busyOverlay) {
            ShowWindow(busyOverlay, SW_SHOW);
            SetCursor(LoadCursorA(0, IDC_WAIT));
        }
    } else if (counter == 0 && busyOverlay) {
        DestroyWindow(busyOverlay);
        busyOverlay = 0;
    }
    SetFloatingBarsBusy(index, counter > 0);
    return 0;
}

static void DrawColourIcon(HDC dc, ColorIconRequest *request)
{
    RECT *rect = &request->rect;
    if (IsRectEmpty(rect)) {
        rect->right = rect->left + 16;
        rect->bottom = rect->top + 16;
        return;
    }
    static const int kSlot[4] = {0, 2, 3, 4};
    if (!dc || request->commandId < 0xF134 || request->commandId > 0xF137)
        return;
    RECT frame;
    DeflateRect(rect, &frame, 4);
    HBRUSH black = CreateSolidBrush(0);
    FrameRect(dc, &frame, black);
    DeleteObject(black);
    RECT inside;
    DeflateRect(&frame, &inside, 1);
    HBRUSH fill = CreateSolidBrush(gApp.appRecord.colors[kSlot[request->commandId - 0xF134]]);
    FillRect(dc, &inside, fill);
    DeleteObject(fill);
}

static LRESULT OnContextMenu(CFrameWindow *frame)
{
    frame->BuildStandardMenu();
    CommandEntry *entry = gApp.CommandById(CMD_ID_CONTEXTMENU);
    if (entry)
        entry->data = (uint32_t)(uintptr_t)frame->standardMenu;
    POINT cursor;
    GetCursorPos(&cursor);
    PopupMenu(CMD_ID_CONTEXTMENU, &cursor, frame->window);
    return 0;
}

// Messages a bound frame handles itself; true when the result is final.
static bool HandleFrameMessage(CFrameWindow *frame, UINT message, WPARAM wParam,
                               LPARAM lParam, LRESULT *result)
{
    HWND window = frame->window;
    *result = 0;
    switch (message) {
    case WM_CREATE:
        RebuildFonts(GetWindowDpi(window));
        return true;
    case WM_SIZE:
        frame->LayOutBays(LOWORD(lParam), HIWORD(lParam));
        SendMessageA(window, QRFM_SIZED, wParam, lParam);
        if (frame->busyOverlay)
            MoveWindow(frame->busyOverlay, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        frame->TrackPlacement();
        return true;
    case WM_MOVE:
        frame->TrackPlacement();
        return true;
    case WM_EXITSIZEMOVE:
        GetWindowRect(window, &frame->lastPlacedRect);
        return true;
    case WM_WINDOWPOSCHANGING: {
        WINDOWPOS *position = (WINDOWPOS *)lParam;
        if (frame->options & FRAME_LOCKPOS)
            position->flags |= SWP_NOMOVE;
        if (frame->options & FRAME_LOCKSIZE)
            position->flags |= SWP_NOSIZE;
        return false;
    }
    case WM_SETCURSOR:
        if (KeepEdgeCursor(window)) {
            *result = 1;
            return true;
        }
        if (!(frame->options & FRAME_LOCKSIZE))
            return false;
        SetCursor(LoadCursorA(0, frame->busyOverlay ? IDC_WAIT : IDC_ARROW));
        *result = 1;
        return true;
    case WM_GETMINMAXINFO:
        ((MINMAXINFO *)lParam)->ptMinTrackSize.x = frame->minWidth;
        ((MINMAXINFO *)lParam)->ptMinTrackSize.y = frame->minHeight;
        return true;
    case WM_ACTIVATE:
        frame->OnActivate(LOWORD(wParam) != WA_INACTIVE);
        return true;
    case WM_NCACTIVATE:
        *result = DefWindowProcA(window, message, gApp.activeFrame == frame->index, lParam);
        return true;
    case WM_ACTIVATEAPP:
        if (gApp.menuOpen)
            gApp.CloseMenu(0);
        return false;
    case WM_SHOWWINDOW:
        frame->Show(wParam ? SW_SHOW : SW_HIDE, -1);
        frame->dpi = GetWindowDpi(window);
        return false;
    case WM_CLOSE:
        frame->SavePlacement();
        return true;
    case WM_DESTROY:
        frame->SavePlacement();
        return false;
    case WM_NCRBUTTONDOWN:
        return true;
    case WM_NCRBUTTONUP:
    case WM_RBUTTONUP:
        SendMessageA(window, QRFM_CONTEXTMENU, 0, 0);
        return true;
    case WM_HELP:
        if (GetKeyState(VK_CONTROL) < 0)
            *result = 1;
        else
            *result = SendMessageA(window, QRFM_HELP, wParam, lParam);
        return true;
    case WM_DPICHANGED:
        frame->OnDpiChanged(LOWORD(wParam), (const RECT *)lParam);
        return true;
    case QRFM_CONTEXTMENU:
        *result = OnContextMenu(frame);
        return true;
    case QRFM_COMMAND:
        frame->OnStandardCommand(LOWORD(wParam));
        return true;
    case QRFM_SETOPENMENU:
        frame->openMenu = (void *)lParam;
        return true;
    case QRFM_GETOPENMENU:
        *result = (LRESULT)frame->openMenu;
        return true;
    case QRFM_SHOWNORMAL:
        frame->Show(SW_SHOWNORMAL, 0);
        return true;
    case QRFM_DRAWCOLORICON:
        DrawColourIcon((HDC)wParam, (ColorIconRequest *)lParam);
        return true;
    case QRFM_MODAL:
        *result = frame->OnModal(wParam);
        return true;
    }
    return false;
}

LRESULT CALLBACK FrameWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CFrameWindow *frame = FrameOfWindow(window);
    if (!frame) {
        if (message == WM_GETMINMAXINFO) {
            ((MINMAXINFO *)lParam)->ptMinTrackSize.x = 0;
            ((MINMAXINFO *)lParam)->ptMinTrackSize.y = 0;
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    LRESULT result;
    if (HandleFrameMessage(frame, message, wParam, lParam, &result))
        return result;
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT DefFrameWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return CallWindowProcA(gKeptProcedure, window, message, wParam, lParam);
}

// ---------------------------------------------------------------- colour scheme

static void RedrawWhole(HWND window)
{
    RedrawWindow(window, 0, 0, RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_INVALIDATE);
}

int SetColorScheme(int scheme)
{
    gApp.appRecord.colorScheme = (uint8_t)scheme;
    WriteRecordFile("(QRF)App", -1, &gApp.appRecord, sizeof gApp.appRecord, 0);
    if (gGraphics) {
        gGraphics->LoadColours();
        gGraphics->ReloadIcons();
    }
    for (int i = 0; i < gFrames.count; i++)
        RedrawWhole(gFrames.data[i]->window);
    // Floating bars are windows of their own, outside every frame.
    for (int i = 0; i < gBars.count; i++)
        if (gBars.data[i]->window)
            RedrawWhole(gBars.data[i]->window);
    return 0;
}

void RedrawFrames()
{
    for (int i = 0; i < gFrames.count; i++) {
        HWND window = gFrames.data[i]->window;
        SendMessageA(window, WM_NCACTIVATE, 0, 0);
        if (gFrames.data[i]->options & FRAME_NOCAPTION)
            SendMessageA(window, WM_NCPAINT, 1, 0);
    }
    for (int i = 0; i < gBars.count; i++)
        if (gBars.data[i]->window)
            SendMessageA(gBars.data[i]->window, WM_NCACTIVATE, 0, 0);
}
