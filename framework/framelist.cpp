// The frame-window list and the window helpers around it. The list holds
// and creates the frame-window objects, so this file knows their class;
// what drives the windows themselves (colour scheme, edge sizing, Tab focus)
// lives with them in ui/.
#include "framework/framelist.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "framework/application.h"
#include "framework/clamp.h"
#include "framework/messages.h"
#include "framework/recordfile.h"
#include "framework/utilities.h"
#include "framework/ui/framewindow.h"

CGrowArray<CFrameWindow *> gFrames;

enum { TRAY_ICON_SIZE = 64, TRAY_TIP_SHOWN = 127, TRAY_DATA_SIZE = 508 };
static_assert(sizeof(NOTIFYICONDATAA) >= TRAY_DATA_SIZE, "tray record of the Vista shell");

int CreateFrameWindow(uint16_t index, WNDPROC procedure, const char *title, uint16_t iconId,
                      uint32_t options, int x, int y, int width, int height)
{
    CFrameWindow *frame = new CFrameWindow;
    int position = gFrames.Add(frame);
    if (position < 0) {
        delete frame;
        return -1;
    }
    if (frame->Create(index, procedure, title, iconId, options, x, y, width, height) != 0) {
        gFrames.RemoveAt(position);
        delete frame;
        return -1;
    }
    return position;
}

void DestroyFrameWindows()
{
    while (gFrames.count > 0) {
        CFrameWindow *frame = gFrames.data[gFrames.count - 1];
        gFrames.RemoveAt(gFrames.count - 1);
        delete frame;
    }
    gFrames.RemoveAll();
}

CFrameWindow *FindFrameByIndex(uint16_t index)
{
    for (int i = 0; i < gFrames.count; i++)
        if (gFrames.data[i]->index == index)
            return gFrames.data[i];
    return 0;
}

CFrameWindow *FindFrameByHwnd(HWND window)
{
    if (!window)
        return 0;
    for (int i = 0; i < gFrames.count; i++)
        if (gFrames.data[i]->window == window)
            return gFrames.data[i];
    return 0;
}

CFrameWindow *FindParentFrame(HWND window)
{
    for (HWND up = window ? GetParent(window) : 0; up; up = GetParent(up)) {
        CFrameWindow *frame = FindFrameByHwnd(up);
        if (frame)
            return frame;
    }
    return 0;
}

bool SetTrayIcon(uint16_t frameIndex, uint16_t iconId, const char *format, ...)
{
    NOTIFYICONDATAA data;
    memset(&data, 0, sizeof data);
    data.cbSize = TRAY_DATA_SIZE;
    CFrameWindow *frame = FindFrameByIndex(frameIndex);
    data.hWnd = frame && frame->window ? frame->window : GetDesktopWindow();
    data.uID = frameIndex;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = QRFM_TRAY;
    char tip[MAX_TEXT];
    if (format) {
        va_list arguments;
        va_start(arguments, format);
        vsnprintf(tip, sizeof tip, format, arguments);
        va_end(arguments);
    } else {
        CopyText(tip, gApp.productName, sizeof tip);
    }
    CopyText(data.szTip, tip, TRAY_TIP_SHOWN + 1);
    if (iconId == 0 || iconId == 0xFFFF) {
        if (frame)
            frame->trayEntry = 0;
        return Shell_NotifyIconA(NIM_DELETE, &data) != 0;
    }
    data.hIcon = (HICON)LoadImageA(gApp.instance ? gApp.instance : GetModuleHandleA(0),
                                   MAKEINTRESOURCEA(iconId), IMAGE_ICON, TRAY_ICON_SIZE,
                                   TRAY_ICON_SIZE, LR_SHARED);
    // Shared icons belong to the system: loading the same one again gives the
    // same handle, so the frame keeps it without ever destroying it.
    if (frame)
        frame->trayIcon = data.hIcon;
    // Modify fails when the icon is new or the taskbar was re-created.
    bool shown = Shell_NotifyIconA(NIM_MODIFY, &data) || Shell_NotifyIconA(NIM_ADD, &data);
    if (frame && shown)
        frame->trayEntry = 1;
    return shown;
}

static void RedrawWhole(HWND window)
{
    RedrawWindow(window, 0, 0, RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_INVALIDATE);
}

uint8_t OpacityAlpha(int percent)
{
    return (uint8_t)((100 - percent) * 255 / 100);
}

bool SetWindowOpacity(HWND window, int percent, bool clickThrough)
{
    LONG ex = GetWindowLongA(window, GWL_EXSTYLE);
    if (percent <= 0) {
        SetWindowLongA(window, GWL_EXSTYLE, ex & ~(WS_EX_LAYERED | WS_EX_TRANSPARENT));
        RedrawWhole(window);
        return true;
    }
    if (percent > 100)
        percent = 100;
    LONG wanted = (ex & ~WS_EX_TRANSPARENT) | WS_EX_LAYERED;
    if (clickThrough)
        wanted |= WS_EX_TRANSPARENT;
    SetWindowLongA(window, GWL_EXSTYLE, wanted);
    SetLayeredWindowAttributes(window, 0, OpacityAlpha(percent), LWA_ALPHA);
    return GetWindowLongA(window, GWL_EXSTYLE) == wanted;
}

void SaveLayout()
{
    for (int i = 0; i < gFrames.count; i++)
        gFrames.data[i]->SavePlacement();
    WriteRecordFile("(QRF)App", -1, &gApp.appRecord, sizeof gApp.appRecord, 0);
}

static bool SaveShellLink(const char *target, const char *arguments, const char *icon,
                          const char *linkPath)
{
    IShellLinkA *link = 0;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, 0, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                (void **)&link)))
        return false;
    bool ok = SUCCEEDED(link->SetPath(target)) && SUCCEEDED(link->SetArguments(arguments)) &&
              SUCCEEDED(link->SetIconLocation(icon, 0));
    IPersistFile *file = 0;
    if (ok && SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void **)&file))) {
        WCHAR wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, linkPath, -1, wide, MAX_PATH);
        ok = SUCCEEDED(file->Save(wide, TRUE));
        file->Release();
    } else {
        ok = false;
    }
    link->Release();
    return ok;
}

int SetAutostartShortcut(bool create, const char *extraArguments, bool keepExisting,
                         const char *iconPath, const char *linkName)
{
    char startup[MAX_PATH];
    if (FAILED(SHGetFolderPathA(0, CSIDL_STARTUP | CSIDL_FLAG_CREATE, 0, 0, startup)))
        return QRF_ERR_SHORTCUT;
    AppendBackslash(startup);
    char linkPath[MAX_PATH];
    snprintf(linkPath, sizeof linkPath, "%s%s.lnk", startup,
             linkName && *linkName ? linkName : gApp.productName);
    if (!create) {
        DeleteFileA(linkPath);   // a missing link is as good as a deleted one
        return 0;
    }
    if (keepExisting && PathExists(linkPath))
        return 0;
    char arguments[MAX_LONG_TEXT];
    snprintf(arguments, sizeof arguments, "%s %s %s", "-WAITFORDATAPATH", "-AUTOSTART",
             extraArguments ? extraArguments : "");
    // The installed program, wherever this copy runs from; without an
    // installation record the running program's folder.
    const char *installed = InstallRecordText(gApp.installRecord, INSTALL_RECORD_INSTALL_PATH);
    char target[MAX_PATH];
    snprintf(target, sizeof target, "%s\\%s.exe", installed[0] ? installed : gApp.ownFolder,
             gApp.productName);
    const char *icon = iconPath && *iconPath ? iconPath : target;
    return SaveShellLink(target, arguments, icon, linkPath) ? 0 : QRF_ERR_SHORTCUT;
}

// ---------------------------------------------------------------- DPI

typedef UINT(WINAPI *DpiForWindowFn)(HWND);
typedef BOOL(WINAPI *AdjustForDpiFn)(RECT *, DWORD, BOOL, DWORD, UINT);

struct DpiFunctions {
    bool looked;
    DpiForWindowFn forWindow;
    AdjustForDpiFn adjust;
};
static DpiFunctions gDpi;

// Each may be missing on older systems.
static const DpiFunctions &Dpi()
{
    if (gDpi.looked)
        return gDpi;
    gDpi.looked = true;
    gDpi.forWindow = (DpiForWindowFn)SystemFunction("user32", "GetDpiForWindow");
    gDpi.adjust = (AdjustForDpiFn)SystemFunction("user32", "AdjustWindowRectExForDpi");
    return gDpi;
}

BOOL AdjustWindowRectForDpi(RECT *rect, DWORD style, BOOL menu, DWORD exStyle, UINT dpi)
{
    if (Dpi().adjust)
        return Dpi().adjust(rect, style, menu, exStyle, dpi);
    return AdjustWindowRectEx(rect, style, menu, exStyle);
}

static int DcDpi(HWND window)
{
    HDC dc = GetDC(window);
    if (!dc)
        return 96;
    int dpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(window, dc);
    return dpi > 0 ? dpi : 96;
}

int GetWindowDpi(HWND window)
{
    if (Dpi().forWindow) {
        UINT dpi = Dpi().forWindow(window);
        if (dpi)
            return (int)dpi;
    }
    int dpi = QueryMonitorDpi(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST));
    if (dpi >= 0)
        return dpi > 0 ? dpi : 96;
    return DcDpi(window);
}

int GetRectDpi(const RECT *rect, HMONITOR monitor)
{
    if (!monitor && rect)
        monitor = MonitorFromRect(rect, MONITOR_DEFAULTTONEAREST);
    int dpi = QueryMonitorDpi(monitor);
    if (dpi >= 0)
        return dpi > 0 ? dpi : 96;
    if (!rect)
        return DcDpi(0);
    POINT centre = {(rect->left + rect->right) / 2, (rect->top + rect->bottom) / 2};
    return DcDpi(WindowFromPoint(centre));
}

// ---------------------------------------------------------------- display change

static int MonitorContaining(const MonitorTable &table, int x, int y)
{
    POINT point = {x, y};
    int count = table.count < MONITOR_TABLE_SIZE ? table.count : MONITOR_TABLE_SIZE;
    for (int i = 0; i < count; i++)
        if (PtInRect(&table.rect[i], point))
            return i;
    return 0;
}

// The same monitor after the change: by device name, else by position in the table.
static int SameMonitor(const MonitorTable &before, int old, const MonitorTable &now)
{
    int count = now.count < MONITOR_TABLE_SIZE ? now.count : MONITOR_TABLE_SIZE;
    for (int i = 0; i < count && before.device[old][0]; i++)
        if (strcmp(now.device[i], before.device[old]) == 0)
            return i;
    return old < count ? old : 0;
}

RECT RescaleOnOwnMonitor(const RECT &placed, const MonitorTable &before, const MonitorTable &now)
{
    if (before.count < 1 || now.count < 1)
        return placed;
    int old = MonitorContaining(before, placed.left, placed.top);
    const RECT &from = before.rect[old];
    const RECT &to = now.rect[SameMonitor(before, old, now)];
    LONG fromWidth = from.right - from.left, fromHeight = from.bottom - from.top;
    double h = fromWidth ? (double)(to.right - to.left) / fromWidth : 1.0;
    double v = fromHeight ? (double)(to.bottom - to.top) / fromHeight : 1.0;
    RECT out;
    out.left = to.left + RoundHalfAway((placed.left - from.left) * h);
    out.top = to.top + RoundHalfAway((placed.top - from.top) * v);
    out.right = out.left + RoundHalfAway((placed.right - placed.left) * h);
    out.bottom = out.top + RoundHalfAway((placed.bottom - placed.top) * v);
    return out;
}

// ---------------------------------------------------------------- the core's view (frames.h)

static CFrameWindow *FrameAt(int i) { return i >= 0 && i < gFrames.count ? gFrames.data[i] : 0; }

int FrameCount() { return gFrames.count; }

HWND FrameWindowAt(int i) { return FrameAt(i) ? FrameAt(i)->window : 0; }

HWND FrameWindowOfIndex(uint16_t frameIndex)
{
    CFrameWindow *frame = FindFrameByIndex(frameIndex);
    return frame ? frame->window : 0;
}

uint32_t FrameOptionsAt(int i) { return FrameAt(i) ? FrameAt(i)->options : 0; }

void ShowAllFrames()
{
    for (int i = 0; i < gFrames.count; i++)
        gFrames.data[i]->Show(SW_SHOW, 0);
}

CFrameWindow *FindOwningFrame(HWND window)
{
    CFrameWindow *frame = FindFrameByHwnd(window);
    return frame ? frame : FindParentFrame(window);
}

void ShowHoverStatus(HWND owner, const char *text)
{
    CFrameWindow *frame = FindOwningFrame(owner);
    if (frame)
        frame->SetStatusText(STATUS_KEY_HOVER, text);
}

void RestoreStatusText()
{
    CFrameWindow *frame = FindFrameByIndex(gApp.activeFrame);
    if (!frame)
        return;
    char text[STATUS_TEXT_SIZE] = "";
    for (int i = 0; i < frame->statusTexts.count; i++)
        if (frame->statusTexts.data[i].key == STATUS_KEY_DEFAULT)
            CopyText(text, frame->statusTexts.data[i].text, sizeof text);
    frame->SetStatusText(STATUS_KEY_HOVER, text);
}

// The message loop scales absolute coordinates, which sends windows on a
// secondary monitor off it; the frame is scaled within its own monitor instead.
void RescaleFrameAt(int i)
{
    CFrameWindow *frame = FrameAt(i);
    if (!frame)
        return;
    RECT r = RescaleOnOwnMonitor(frame->lastPlacedRect, gPrevMonitors, gMonitors);
    frame->Move(r.left, r.top, r.right - r.left, r.bottom - r.top, false);
}

bool FramePlacement(int i, RECT *placed)
{
    if (!FrameAt(i))
        return false;
    *placed = FrameAt(i)->lastPlacedRect;
    return true;
}
