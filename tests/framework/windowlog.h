// Test windows that log what they receive, fake UI items described to the
// command table through its hooks, and a clean command table per test.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <string.h>
#include <vector>

#include "framework/application.h"
#include "framework/messages.h"

struct LoggedMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

inline std::vector<LoggedMessage> &MessageLog()
{
    static std::vector<LoggedMessage> log;
    return log;
}

// What a logging window answers to the framework's questions.
struct WindowAnswers {
    LRESULT openMenu;     // QRFM_GETOPENMENU
    LRESULT menuClick;    // QRFM_MENUCLICK
    int paints;
    uint8_t inLoopSeen;
};
inline WindowAnswers &Answers()
{
    static WindowAnswers answers;
    return answers;
}

inline LRESULT CALLBACK LoggingWindowProc(HWND window, UINT message, WPARAM wParam,
                                          LPARAM lParam)
{
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        Answers().paints++;
        return 0;
    }
    if (message >= WM_USER) {
        MessageLog().push_back({window, message, wParam, lParam});
        Answers().inLoopSeen = gApp.inLoop;
    }
    if (message == QRFM_GETOPENMENU)
        return Answers().openMenu;
    if (message == QRFM_MENUCLICK)
        return Answers().menuClick;
    return DefWindowProcA(window, message, wParam, lParam);
}

inline HWND MakeLoggingWindow(HWND parent = 0, bool visible = false)
{
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = LoggingWindowProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "VtCmdTestWindow";
        RegisterClassA(&wc);
        registered = true;
    }
    DWORD style = parent ? WS_CHILD : WS_POPUP;
    if (visible)
        style |= WS_VISIBLE;
    return CreateWindowExA(0, "VtCmdTestWindow", "", style, 10, 10, 60, 20, parent, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

inline int CountLogged(UINT message)
{
    int n = 0;
    for (const LoggedMessage &m : MessageLog())
        n += m.message == message;
    return n;
}

inline const LoggedMessage *FindLogged(UINT message)
{
    for (const LoggedMessage &m : MessageLog())
        if (m.message == message)
            return &m;
    return nullptr;
}

// A stand-in for a UI item: the command table only sees it through the hook.
struct FakeItem {
    ItemFacts facts;
};

inline CUIItem *AsItem(FakeItem *item) { return reinterpret_cast<CUIItem *>(item); }

inline bool DescribeFake(CUIItem *item, ItemFacts *out)
{
    *out = reinterpret_cast<FakeItem *>(item)->facts;
    return true;
}

// Fresh table, hooks and menu state; the tests use gApp itself.
class CommandFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        gApp.commands.RemoveAll();
        gApp.items.RemoveAll();
        gApp.acceleratorTable.RemoveAll();
        memset(&gWindowHooks, 0, sizeof gWindowHooks);
        gWindowHooks.describeItem = DescribeFake;
        gApp.openMenu = 0;
        gApp.menuOpen = 0;
        gApp.hoveredItem = 0;
        gApp.pendingOwner = 0;
        gApp.pendingCommand = 0;
        gApp.accelerators = 1;
        memset(&Answers(), 0, sizeof Answers());
        MessageLog().clear();
    }
    void TearDown() override
    {
        for (HWND window : windows)
            DestroyWindow(window);
        memset(&gWindowHooks, 0, sizeof gWindowHooks);
        gApp.commands.RemoveAll();
        gApp.items.RemoveAll();
        gApp.acceleratorTable.RemoveAll();
        gApp.openMenu = 0;
        gApp.menuOpen = 0;
    }
    HWND Window(HWND parent = 0, bool visible = false)
    {
        HWND window = MakeLoggingWindow(parent, visible);
        windows.push_back(window);
        return window;
    }
    std::vector<HWND> windows;
};
