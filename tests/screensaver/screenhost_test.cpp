// The screen-saver host's switches and the input that ends a screen saver.
#include <gtest/gtest.h>

#include "screensaver/screenhost.h"

TEST(SaverCommandLine, SwitchesChooseTheMode)
{
    HWND parent = (HWND)1;
    EXPECT_EQ(ParseSaverCommandLine("/s", &parent), SAVER_MODE_RUN);
    EXPECT_TRUE(parent == 0);
    EXPECT_EQ(ParseSaverCommandLine("-S", &parent), SAVER_MODE_RUN);
    EXPECT_EQ(ParseSaverCommandLine("", &parent), SAVER_MODE_CONFIGURE);
    EXPECT_EQ(ParseSaverCommandLine(0, &parent), SAVER_MODE_CONFIGURE);
    EXPECT_EQ(ParseSaverCommandLine("/c", &parent), SAVER_MODE_CONFIGURE);
    EXPECT_EQ(ParseSaverCommandLine("/a 77", &parent), SAVER_MODE_PASSWORD);
}

TEST(SaverCommandLine, WindowFollowsAfterSpaceOrColon)
{
    HWND parent = 0;
    EXPECT_EQ(ParseSaverCommandLine("/p 12345", &parent), SAVER_MODE_PREVIEW);
    EXPECT_EQ((uintptr_t)parent, 12345u);
    EXPECT_EQ(ParseSaverCommandLine("/c:4242", &parent), SAVER_MODE_CONFIGURE);
    EXPECT_EQ((uintptr_t)parent, 4242u);
    EXPECT_EQ(ParseSaverCommandLine("  /P:99", &parent), SAVER_MODE_PREVIEW);
    EXPECT_EQ((uintptr_t)parent, 99u);
}

TEST(SaverCommandLine, PreviewWithoutWindowConfiguresInstead)
{
    HWND parent = (HWND)1;
    EXPECT_EQ(ParseSaverCommandLine("/p", &parent), SAVER_MODE_CONFIGURE);
    EXPECT_TRUE(parent == 0);
}

static LRESULT CALLBACK HostTestProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefScreenSaverProc(window, message, wParam, lParam);
}

class SaverInput : public ::testing::Test {
protected:
    HWND window = 0;

    void SetUp() override
    {
        static bool registered = false;
        if (!registered) {
            WNDCLASSA wc = {};
            wc.lpfnWndProc = HostTestProc;
            wc.hInstance = GetModuleHandleA(0);
            wc.lpszClassName = "VtTestSaverHost";
            registered = RegisterClassA(&wc) != 0;
        }
        fChildPreview = FALSE;
        ResetSaverInput();
        window = CreateWindowExA(0, "VtTestSaverHost", "", WS_POPUP, 0, 0, 10, 10, 0, 0,
                                 GetModuleHandleA(0), 0);
        ASSERT_TRUE(window != 0);
    }
    void TearDown() override
    {
        if (IsWindow(window))
            DestroyWindow(window);
        fChildPreview = FALSE;
    }
    // Runs the posted messages; true when the window is gone.
    bool Closed()
    {
        MSG message;
        while (PeekMessageA(&message, window, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        return !IsWindow(window);
    }
};

TEST_F(SaverInput, KeyOrClickEndsTheSaver)
{
    SendMessageA(window, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_TRUE(Closed());
}

TEST_F(SaverInput, ClickEndsTheSaver)
{
    SendMessageA(window, WM_LBUTTONDOWN, 0, 0);
    EXPECT_TRUE(Closed());
}

TEST_F(SaverInput, PointerRestingOrJitteringKeepsItRunning)
{
    SendMessageA(window, WM_MOUSEMOVE, 0, MAKELPARAM(100, 100));
    SendMessageA(window, WM_MOUSEMOVE, 0, MAKELPARAM(103, 96));
    EXPECT_FALSE(Closed());
    SendMessageA(window, WM_MOUSEMOVE, 0, MAKELPARAM(110, 100));
    EXPECT_TRUE(Closed());
}

TEST_F(SaverInput, PreviewIgnoresInput)
{
    fChildPreview = TRUE;
    SendMessageA(window, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_FALSE(Closed());
}

TEST_F(SaverInput, LosingActivationEndsTheSaver)
{
    SendMessageA(window, WM_ACTIVATEAPP, TRUE, 0);
    EXPECT_FALSE(Closed());
    SendMessageA(window, WM_ACTIVATEAPP, FALSE, 0);
    EXPECT_TRUE(Closed());
}
