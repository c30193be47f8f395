// The data-folder wait and its blinking notification-area icon.
#include "framework/datafolder.h"

#include <shellapi.h>
#include <stdlib.h>
#include <string.h>

#include "framework/application.h"
#include "framework/errors.h"
#include "framework/messages.h"
#include "framework/recordfile.h"

enum { PUMPS_PER_ROUND = 10, PUMP_SLEEP_MS = 100, FOLDER_PATH_LIMIT = 519 };

static_assert(sizeof(NOTIFYICONDATAA) == 508, "notification data with a 128-character tip");

CWaitForDataFolder::CWaitForDataFolder() : module(GetModuleHandleA(0)), window(0), giveUp(0)
{
    tipText[0] = menuText[0] = 0;
}

// ---------------------------------------------------------------- icons

#pragma pack(push, 2)
struct IconGroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
struct IconGroupHeader {
    WORD reserved, type, count;
    IconGroupEntry entries[1];
};
#pragma pack(pop)

static int EntryWidth(const IconGroupEntry &entry) { return entry.width ? entry.width : 256; }

// Closest width among the entries of one bit count; -1 when there are none.
static int ChooseEntry(const IconGroupHeader *group, int bitCount, int size)
{
    int best = -1, bestDifference = 0;
    for (int i = 0; i < group->count; i++) {
        if (group->entries[i].bitCount != bitCount)
            continue;
        int difference = abs(EntryWidth(group->entries[i]) - size);
        if (size == 0)
            return i;
        if (best < 0 || difference < bestDifference) {
            best = i;
            bestDifference = difference;
        }
    }
    return best;
}

static int ChooseIconId(const IconGroupHeader *group, int depthPreference, int size)
{
    static const int kBitCounts[4] = {1, 4, 8, 32};
    if (depthPreference > 3)
        depthPreference = 3;
    for (int depth = depthPreference; depth >= 0; depth--) {
        int index = ChooseEntry(group, kBitCounts[depth], size);
        if (index >= 0)
            return group->entries[index].id;
    }
    int wanted = size ? size : GetSystemMetrics(SM_CXICON);
    return LookupIconIdFromDirectoryEx((PBYTE)group, TRUE, wanted, wanted, LR_DEFAULTCOLOR);
}

static void *LoadResourceBytes(HMODULE module, LPCSTR name, LPCSTR type, DWORD *size)
{
    HRSRC found = FindResourceA(module, name, type);
    HGLOBAL loaded = found ? LoadResource(module, found) : 0;
    if (!loaded)
        return 0;
    *size = SizeofResource(module, found);
    return LockResource(loaded);
}

HICON LoadIconResource(int groupId, int depthPreference, int size)
{
    HMODULE module = gApp.instance ? gApp.instance : GetModuleHandleA(0);
    DWORD bytes = 0;
    const IconGroupHeader *group = (const IconGroupHeader *)LoadResourceBytes(
        module, MAKEINTRESOURCEA(groupId), (LPCSTR)RT_GROUP_ICON, &bytes);
    if (!group || bytes < 6 || group->count == 0)
        return 0;
    int iconId = ChooseIconId(group, depthPreference, size);
    if (!iconId)
        return 0;
    void *icon = LoadResourceBytes(module, MAKEINTRESOURCEA(iconId), (LPCSTR)RT_ICON, &bytes);
    if (!icon)
        return 0;
    return CreateIconFromResourceEx((PBYTE)icon, bytes, TRUE, 0x30000, 0, 0, LR_DEFAULTCOLOR);
}

static bool ReadPixels(HDC dc, HBITMAP bitmap, BITMAPINFO *info, uint32_t *pixels)
{
    return GetDIBits(dc, bitmap, 0, (UINT)-info->bmiHeader.biHeight, pixels, info,
                     DIB_RGB_COLORS) != 0;
}

static uint8_t Mix(int light, int shadow, double x)
{
    double value = light * x + shadow * (1 - x);
    return (uint8_t)(value < 0 ? 0 : value > 255 ? 255 : value + 0.5);
}

// Greys the opaque pixels between the 3-D light and shadow colours, by their
// brightness moved so the icon's average blue lands in the middle.
static void ShadePixels(uint32_t *colour, const uint32_t *mask, int count)
{
    long long blueSum = 0;
    int opaque = 0;
    for (int i = 0; i < count; i++)
        if ((mask[i] & 0xFFFFFF) != 0xFFFFFF) {
            blueSum += colour[i] & 0xFF;
            opaque++;
        }
    int offset = opaque ? 128 - (int)(blueSum / opaque) : 0;
    COLORREF light = GetSysColor(COLOR_3DLIGHT), shadow = GetSysColor(COLOR_BTNSHADOW);
    for (int i = 0; i < count; i++) {
        if ((mask[i] & 0xFFFFFF) == 0xFFFFFF)
            continue;
        uint32_t p = colour[i];
        int sum = (int)(p & 0xFF) + (int)(p >> 8 & 0xFF) + (int)(p >> 16 & 0xFF) + offset;
        double x = sum / 765.0;
        uint32_t blue = Mix(GetBValue(light), GetBValue(shadow), x);
        uint32_t green = Mix(GetGValue(light), GetGValue(shadow), x);
        uint32_t red = Mix(GetRValue(light), GetRValue(shadow), x);
        colour[i] = (p & 0xFF000000) | red << 16 | green << 8 | blue;
    }
}

static int MakeGreyCopy(HICON icon, HICON *grey)
{
    ICONINFO parts;
    if (!GetIconInfo(icon, &parts))
        return 1;
    int result = 0;
    BITMAP shape;
    if (!parts.hbmColor || !GetObjectA(parts.hbmColor, sizeof shape, &shape)) {
        *grey = CopyIcon(icon);   // a monochrome icon has no colours to grey
    } else {
        BITMAPINFO info;
        memset(&info, 0, sizeof info);
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = shape.bmWidth;
        info.bmiHeader.biHeight = -shape.bmHeight;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        size_t count = (size_t)shape.bmWidth * shape.bmHeight;
        uint32_t *colour = (uint32_t *)malloc(count * 4), *mask = (uint32_t *)malloc(count * 4);
        HDC dc = GetDC(0);
        if (!colour || !mask) {
            result = QRF_ERR_MEMORY;
        } else if (ReadPixels(dc, parts.hbmColor, &info, colour) &&
                   ReadPixels(dc, parts.hbmMask, &info, mask)) {
            ShadePixels(colour, mask, (int)count);
            SetDIBits(dc, parts.hbmColor, 0, (UINT)shape.bmHeight, colour, &info, DIB_RGB_COLORS);
            ICONINFO made = {TRUE, 0, 0, parts.hbmMask, parts.hbmColor};
            *grey = CreateIconIndirect(&made);
        }
        ReleaseDC(0, dc);
        free(colour);
        free(mask);
    }
    if (parts.hbmColor)
        DeleteObject(parts.hbmColor);
    DeleteObject(parts.hbmMask);
    return result;
}

int MakeShadedIcon(int iconId, HICON icons[2])
{
    icons[0] = LoadIconResource(iconId, -1, 0);
    icons[1] = 0;
    if (!icons[0])
        return 1;
    return MakeGreyCopy(icons[0], &icons[1]);
}

// ---------------------------------------------------------------- the wait

static void OpenGiveUpMenu(HWND window, CWaitForDataFolder *wait)
{
    HMENU menu = CreatePopupMenu();
    if (!menu)
        return;
    AppendMenuA(menu, MF_STRING, DATAFOLDER_GIVE_UP_COMMAND, wait->menuText);
    POINT cursor;
    GetCursorPos(&cursor);
    SetForegroundWindow(window);
    TrackPopupMenu(menu, TPM_LEFTBUTTON, cursor.x, cursor.y, 0, window, 0);
    PostMessageA(window, WM_NULL, 0, 0);   // lets the menu close when focus leaves it
    DestroyMenu(menu);
}

LRESULT CALLBACK WaitForDataFolderWindowProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam)
{
    CWaitForDataFolder *wait = (CWaitForDataFolder *)GetWindowLongPtrA(window, GWLP_USERDATA);
    if (wait && message == QRFM_TRAY &&
        (lParam == WM_LBUTTONDOWN || lParam == WM_LBUTTONDBLCLK || lParam == WM_RBUTTONDOWN)) {
        OpenGiveUpMenu(window, wait);
        return 0;
    }
    if (wait && message == WM_COMMAND && LOWORD(wParam) == DATAFOLDER_GIVE_UP_COMMAND) {
        wait->giveUp = 1;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static HWND CreateWaitWindow(CWaitForDataFolder *wait)
{
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = WaitForDataFolderWindowProc;
    windowClass.hInstance = wait->module;
    windowClass.lpszClassName = DATAFOLDER_WINDOW_CLASS;
    RegisterClassA(&windowClass);   // already registered by an earlier wait: fine
    HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, DATAFOLDER_WINDOW_CLASS, "", WS_POPUP, 0, 0,
                                  0, 0, 0, 0, wait->module, 0);
    if (window)
        SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)wait);
    return window;
}

static void FillIconData(NOTIFYICONDATAA *data, const CWaitForDataFolder *wait, HICON icon)
{
    memset(data, 0, sizeof *data);
    data->cbSize = sizeof *data;
    data->hWnd = wait->window;
    data->uID = 1;
    data->uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data->uCallbackMessage = QRFM_TRAY;
    data->hIcon = icon;
    CopyText(data->szTip, wait->tipText, 128);
}

static void ShowRoundIcon(const CWaitForDataFolder *wait, HICON icon)
{
    NOTIFYICONDATAA data;
    FillIconData(&data, wait, icon);
    if (!icon) {
        Shell_NotifyIconA(NIM_DELETE, &data);
        return;
    }
    if (!Shell_NotifyIconA(NIM_MODIFY, &data))
        Shell_NotifyIconA(NIM_ADD, &data);
}

// One second of this thread's messages; true when the user gave up.
static bool PumpOneRound(CWaitForDataFolder *wait)
{
    for (int i = 0; i < PUMPS_PER_ROUND; i++) {
        MSG msg;
        while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
            if (wait->window && IsDialogMessageA(wait->window, &msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (wait->giveUp)
            return true;
        Sleep(PUMP_SLEEP_MS);
    }
    return wait->giveUp != 0;
}

static bool FolderReady(const char *folder)
{
    if (!folder || !folder[0] || strlen(folder) > FOLDER_PATH_LIMIT)
        return false;
    return CreateFolderPath(folder, false) == 0;
}

static void EndWait(CWaitForDataFolder *wait, HICON icons[2])
{
    NOTIFYICONDATAA data;
    FillIconData(&data, wait, 0);
    Shell_NotifyIconA(NIM_DELETE, &data);
    for (int i = 0; i < 2; i++)
        if (icons[i])
            DestroyIcon(icons[i]);
    if (wait->window)
        DestroyWindow(wait->window);
    wait->window = 0;
}

int WaitForDataFolder(const char *folder, int rounds, int iconId, const char *tipText,
                      const char *menuText)
{
    CWaitForDataFolder wait;
    HICON icons[2] = {0, 0};
    int round = 0;
    bool ready = false;
    for (;;) {
        ready = FolderReady(folder);
        // An empty path cannot appear later: waiting for it would only delay.
        if (ready || rounds == 0 || !folder || !folder[0])
            break;
        if (round == 0) {
            MakeShadedIcon(iconId, icons);   // without icons the retries still go on
            wait.window = CreateWaitWindow(&wait);
        }
        CopyText(wait.tipText, tipText, sizeof wait.tipText);
        CopyText(wait.menuText, menuText, sizeof wait.menuText);
        ShowRoundIcon(&wait, icons[round % 2 == 0 ? 1 : 0]);
        round++;
        if (PumpOneRound(&wait))
            break;
        if (rounds > 0)
            rounds--;
    }
    if (round > 0)
        EndWait(&wait, icons);
    if (ready)
        return DATAFOLDER_READY;
    return wait.giveUp ? DATAFOLDER_GAVE_UP : DATAFOLDER_UNREACHABLE;
}
