// The user-interface thread's message loop, the framework's pre-translation
// of every message, the waiting pump and the hidden window's procedure.
#include <windows.h>
#include <string.h>

#include "framework/application.h"
#include "framework/clamp.h"
#include "framework/configarchive.h"
#include "framework/frames.h"
#include "framework/messages.h"
#include "framework/utilities.h"

enum { HOURLY_TIMER = 0x4321, HOUR_MS = 3600000, CHECK_AFTER_HOURS = 23 };

int CApplication::Run()
{
    inLoop = 1;
    int code = 0;
    MSG msg;
    for (;;) {
        BOOL got = GetMessageA(&msg, 0, 0, 0);
        if (got == 0) {
            code = (int)msg.wParam;
            break;
        }
        // A failing GetMessage would fail again: end instead of spinning.
        if (got == -1) {
            code = -1;
            break;
        }
        PreTranslate(&msg);
    }
    inLoop = 0;
    return code;
}

static bool IsDialogWindow(HWND window)
{
    char name[16];
    return GetClassNameA(window, name, sizeof name) > 0 && strcmp(name, "#32770") == 0;
}

static void Dispatch(MSG *msg)
{
    for (HWND window = msg->hwnd; window; window = GetParent(window)) {
        if (!IsDialogWindow(window))
            continue;
        if (IsDialogMessageA(window, msg))
            return;
        break;
    }
    TranslateMessage(msg);
    DispatchMessageA(msg);
}

static bool KeyDown(int key) { return GetKeyState(key) < 0; }

// The accelerator table for a key press; true when the key was consumed.
static bool TranslateAccelerators(const MSG *msg)
{
    for (int i = 0; i < gApp.acceleratorTable.count; i++) {
        const AcceleratorEntry &accel = gApp.acceleratorTable.data[i];
        if (accel.key != msg->wParam)
            continue;
        // Only the modifiers an entry requires are checked.
        if ((accel.shift && !KeyDown(VK_SHIFT)) || (accel.ctrl && !KeyDown(VK_CONTROL)) ||
            (accel.alt && !KeyDown(VK_MENU)))
            continue;
        HWND front = gApp.GetOwnForegroundWindow();
        // The entry names a frame by its own index, which need not be its
        // place in the frame list.
        if (accel.frameIndex != ACCEL_ANY_WINDOW) {
            HWND frame = FrameWindowOfIndex(accel.frameIndex);
            if (!frame)
                return false;
            if (frame != front)
                continue;
        }
        const CommandEntry *entry = gApp.CommandById(accel.commandId);
        if (entry && !(entry->flags & (CMDF_ENABLED | CMDF_ACCELWHENDISABLED)))
            return true;
        SendMessageA(front, QRFM_COMMAND, accel.commandId | QRF_ACCELERATOR_BIT,
                     (LPARAM)GetFocus());
        return true;
    }
    return false;
}

bool CApplication::PreTranslate(MSG *msg)
{
    // Open menus, edge sizing and Tab focus belong to the frame windows.
    if (gWindowHooks.preTranslateFrames && gWindowHooks.preTranslateFrames(msg))
        return true;
    if (!menuOpen) {
        if (msg->message == WM_KEYDOWN && msg->wParam != VK_SHIFT &&
            msg->wParam != VK_CONTROL && msg->wParam != VK_MENU && accelerators &&
            TranslateAccelerators(msg))
            return true;
        if (msg->message == WM_SYSKEYUP && msg->wParam == VK_MENU && MenuKeyboardMode(0) == 0)
            return true;
    }
    Dispatch(msg);
    return false;
}

void CApplication::SetSizeCursor(int edge)
{
    LPCSTR cursor;
    switch (edge) {
    case 1: case 5: cursor = IDC_SIZENWSE; break;
    case 3: case 7: cursor = IDC_SIZENESW; break;
    case 2: case 6: cursor = IDC_SIZEWE; break;
    case 4: case 8: cursor = IDC_SIZENS; break;
    default: return;
    }
    SetCursor(LoadCursorA(0, cursor));
}

int CApplication::MenuKeyboardMode(int type)
{
    if (type == 0)
        navigationItems.RemoveAll();
    if (gWindowHooks.menuKeyboardMode)
        return gWindowHooks.menuKeyboardMode(type);
    // Without frame windows there is nothing to navigate.
    if (navigationItems.count == 0 && type == 2)
        CloseMenu(0);
    return 1;
}

// Off the user-interface thread there are no messages to keep flowing.
static bool OnInterfaceThread()
{
    HWND hidden = gApp.hiddenWindow;
    return hidden && GetWindowThreadProcessId(hidden, 0) == GetCurrentThreadId();
}

bool CApplication::PumpFor(int milliseconds)
{
    if (!OnInterfaceThread()) {
        Sleep(milliseconds > 0 ? (DWORD)milliseconds : 0);
        return true;
    }
    ULONGLONG end = GetTickCount64() + (milliseconds > 0 ? milliseconds : 0);
    bool quit = false;
    WPARAM quitCode = 0;
    for (;;) {
        MSG msg;
        // Once WM_QUIT is taken nothing more is, wherever it stood in the
        // queue; the loop above must still see it.
        while (!quit && PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                quitCode = msg.wParam;
            } else {
                PreTranslate(&msg);
            }
        }
        ULONGLONG now = GetTickCount64();
        if (now >= end)
            break;
        // Sleep until a message arrives or the time is up: a polling loop
        // would cost a round trip to the system per turn for the whole wait.
        DWORD left = (DWORD)(end - now);
        if (quit)
            Sleep(left);
        else
            MsgWaitForMultipleObjectsEx(0, 0, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    if (!quit)
        return true;
    PostQuitMessage((int)quitCode);
    return false;
}

void CApplication::RequestRestart(int mode, const char *parameters, bool broadcast)
{
    if (mode == -1)
        mode = IsElevated() != 0 ? 2 : 1;
    restartMode = mode;
    CopyText(restartParameters, parameters ? parameters : commandLine, MAX_TEXT);
    broadcastRestart = broadcast ? 1 : 0;
    PostQuitMessage(0);
}

LRESULT CApplication::SendToMainWindow(UINT message, WPARAM wParam, LPARAM lParam)
{
    int count = FrameCount();
    if (count < 1)
        return -1;
    int target = 0;
    for (int i = count - 1; i > 0; i--)
        if (FrameOptionsAt(i) & 0x400) {
            target = i;
            break;
        }
    return SendMessageA(FrameWindowAt(target), message, wParam, lParam);
}

static void CloseItemMenu(CUIItem *menu)
{
    if (menu && gWindowHooks.closeMenu)
        gWindowHooks.closeMenu(menu);
}

static HWND ParentOf(CUIItem *item)
{
    ItemFacts facts;
    memset(&facts, 0, sizeof facts);
    if (!item || !gWindowHooks.describeItem || !gWindowHooks.describeItem(item, &facts))
        return 0;
    return facts.window ? GetParent(facts.window) : 0;
}

CUIItem *CApplication::CloseMenu(CUIItem *item)
{
    if (item) {
        HWND parent = ParentOf(item);
        CUIItem *open = parent ? (CUIItem *)SendMessageA(parent, QRFM_GETOPENMENU, 0, 0) : 0;
        if (open) {
            CloseItemMenu(open);
            SendMessageA(parent, QRFM_SETOPENMENU, 0, 0);
        }
        return open;
    }
    CUIItem *top = openMenu;
    openMenu = 0;
    menuOpen = 0;
    if (!top)
        return 0;
    HWND parent = ParentOf(top);
    if (parent)
        SendMessageA(parent, QRFM_SETOPENMENU, 0, 0);
    CloseItemMenu(top);
    RestoreStatusText();
    return top;
}

static void TellFrames(UINT message, WPARAM wParam)
{
    for (int i = FrameCount() - 1; i >= 0; i--) {
        HWND frame = FrameWindowAt(i);
        if (frame)
            SendMessageA(frame, message, wParam, 0);
    }
}

static void RescaleFrames()
{
    for (int i = FrameCount() - 1; i >= 0; i--) {
        RECT placed;
        if ((FrameOptionsAt(i) & (0x4 | 0x10000000)) || !FramePlacement(i, &placed))
            continue;
        RescaleFrameAt(i);
    }
}

static bool VirtualScreenChanged(const MonitorTable &before)
{
    return before.virtualX != gMonitors.virtualX || before.virtualY != gMonitors.virtualY ||
           before.virtualWidth != gMonitors.virtualWidth ||
           before.virtualHeight != gMonitors.virtualHeight;
}

// The first monitor whose DPI changed, or 0 when none did.
static int ChangedDpi(const MonitorTable &before)
{
    for (int i = 0; i < gMonitors.count && i < MONITOR_TABLE_SIZE; i++)
        if (i >= before.count || before.dpi[i] != gMonitors.dpi[i])
            return gMonitors.dpi[i];
    return 0;
}

static void OnDisplayChange(UINT message, WPARAM wParam, LPARAM lParam)
{
    MonitorTable before = gMonitors;
    RefreshMonitors();
    if (VirtualScreenChanged(before)) {
        gPrevMonitors = before;
        RescaleFrames();
        TellFrames(QRFM_DISPLAYCHANGE, message == WM_DISPLAYCHANGE ? (WPARAM)lParam : 0);
        return;
    }
    int dpi = ChangedDpi(before);
    if (!dpi)
        return;
    memcpy(gPrevMonitors.dpi, before.dpi, sizeof before.dpi);
    TellFrames(QRFM_DPICHANGE, message == WM_DPICHANGED ? LOWORD(wParam) : (WPARAM)dpi);
}

static LRESULT OnControlMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Other products built on the framework carry other tokens.
    if ((uint32_t)lParam != gApp.token)
        return DefWindowProcA(window, message, wParam, lParam);
    if (wParam == QRFM_RESTART) {
        gApp.restartMode = IsElevated() != 0 ? 2 : 1;
        CopyText(gApp.restartParameters, gApp.commandLine, MAX_TEXT);
        PostQuitMessage(0);
        gApp.broadcastRestart = 0;
        return 0;
    }
    if (wParam == QRFM_SHOW)
        ShowAllFrames();
    gApp.SendToMainWindow((UINT)wParam, 0, 0);
    return 0;
}

static void OnHourlyTimer()
{
    if (++gApp.hourlyTicks <= CHECK_AFTER_HOURS)
        return;
    gApp.hourlyTicks = 0;
    RunDailyChecks();
}

LRESULT CALLBACK PhantomWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (gApp.controlMessage && message == gApp.controlMessage)
        return OnControlMessage(window, message, wParam, lParam);
    if (gApp.taskbarMessage && message == gApp.taskbarMessage) {
        gApp.SendToMainWindow(QRFM_TASKBARCREATED, 0, 0);
        return 0;
    }
    switch (message) {
    case WM_CREATE:
        SetTimer(window, HOURLY_TIMER, HOUR_MS, 0);
        break;
    case WM_DESTROY:
        KillTimer(window, HOURLY_TIMER);
        break;
    case WM_TIMER:
        if (wParam == HOURLY_TIMER) {
            OnHourlyTimer();
            return 0;
        }
        break;
    case WM_ENDSESSION:
        SaveLayout();
        break;
    case WM_DISPLAYCHANGE:
    case WM_DPICHANGED:
        OnDisplayChange(message, wParam, lParam);
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
