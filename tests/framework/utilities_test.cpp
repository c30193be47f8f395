#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <shlobj.h>

#include <fstream>
#include <string>
#include <vector>

#include "framework/clamp.h"
#include "framework/commands.h"
#include "framework/framelist.h"
#include "framework/utilities.h"
#include "testutil.h"

// Must stay the first test: Crc32 is called before anything built the table.
TEST(Crc32, WorksBeforeTheTableIsBuilt)
{
    EXPECT_EQ(Crc32("abc", -1), 0x352441C2u);
    InitCrc32Table();
    EXPECT_EQ(Crc32("abc", 3), 0x352441C2u);
    EXPECT_EQ(Crc32("abc", 0), 0u);
    EXPECT_EQ(Crc32(nullptr, 5), 0u);
}

// ---------------------------------------------------------------- reference vectors

// One line of text_vectors.txt: kind, value, bytes in hexadecimal ("-": none).
struct Vector {
    std::string value, hex, bytes;
};

static std::vector<Vector> LoadVectors(const char *kind)
{
    std::vector<Vector> vectors;
    std::ifstream in("text_vectors.txt");
    std::string k, value, hex;
    while (in >> k >> value >> hex) {
        std::string bytes;
        for (size_t i = 0; hex != "-" && i + 1 < hex.size(); i += 2)
            bytes += (char)strtoul(hex.substr(i, 2).c_str(), nullptr, 16);
        if (k == kind)
            vectors.push_back({value, hex, bytes});
    }
    return vectors;
}

TEST(Crc32, MatchesPythonOverManyLengths)
{
    std::vector<Vector> vectors = LoadVectors("crc");
    ASSERT_GT(vectors.size(), 60u) << "text_vectors.txt missing";
    for (const Vector &v : vectors) {
        uint32_t expected = (uint32_t)strtoul(v.value.c_str(), nullptr, 16);
        EXPECT_EQ(Crc32(v.bytes.data(), (int)v.bytes.size()), expected)
            << "length " << v.bytes.size();
        if (v.bytes.find('\0') == std::string::npos) {
            EXPECT_EQ(Crc32(v.bytes.c_str(), -1), expected) << "length " << v.bytes.size();
        }
    }
}

TEST(Utf8, AgreesWithTheStrictDecoder)
{
    std::vector<Vector> vectors = LoadVectors("utf8");
    ASSERT_GT(vectors.size(), 30000u) << "text_vectors.txt missing";
    for (const Vector &v : vectors)
        EXPECT_EQ(IsUtf8(v.bytes.c_str()), v.value == "1") << v.hex;
    EXPECT_TRUE(IsUtf8(nullptr));
    EXPECT_TRUE(IsUtf8(""));
}

// ---------------------------------------------------------------- text

TEST(Replace, GrowsUntilTheCapacityIsReached)
{
    char text[16];
    strcpy(text, "aaa");
    EXPECT_EQ(ReplaceAll(text, 8, "a", "bb"), 3);
    EXPECT_STREQ(text, "bbbbbb");

    memset(text, 'z', sizeof text);
    strcpy(text, "aaa");
    EXPECT_EQ(ReplaceAll(text, 6, "a", "bb"), -1);
    EXPECT_STREQ(text, "bbbba");          // the replacements that fitted stay
    EXPECT_EQ(text[6], 'z');              // nothing written past the capacity

    strcpy(text, "aaa");
    EXPECT_EQ(ReplaceAll(text, 7, "a", "bb"), 3);   // exactly fills: 6 + NUL
}

TEST(Replace, ScansOnAfterEachReplacement)
{
    char text[32] = "x.y.z";
    EXPECT_EQ(ReplaceAll(text, sizeof text, ".", ".."), 2);
    EXPECT_STREQ(text, "x..y..z");
    EXPECT_EQ(ReplaceAll(text, sizeof text, "..", ""), 2);
    EXPECT_STREQ(text, "xyz");
    EXPECT_EQ(ReplaceAll(text, sizeof text, "q", "r"), 0);
}

TEST(Replace, RefusesBadArguments)
{
    char text[8] = "abc";
    EXPECT_EQ(ReplaceAll(text, sizeof text, "", "x"), -1);
    EXPECT_EQ(ReplaceAll(nullptr, 8, "a", "x"), -1);
    EXPECT_EQ(ReplaceAllTruncate(text, sizeof text, nullptr, "x", true), -1);
    EXPECT_EQ(ReplaceAllTruncate(text, sizeof text, "a", nullptr, true), -1);
    EXPECT_EQ(ReplaceAll(text, 0, "a", "x"), -1);
    EXPECT_EQ(ReplaceAll(text, 3, "a", "x"), -1);   // the text itself overruns its capacity
    EXPECT_STREQ(text, "abc");
}

TEST(Replace, TruncateCutsTheReplacementToTheRoomLeft)
{
    char text[12];
    memset(text, 'z', sizeof text);
    strcpy(text, "<a>");
    EXPECT_EQ(ReplaceAllTruncate(text, 8, "a", "123456789", true), 1);
    EXPECT_STREQ(text, "<12345>");        // 7 characters and the NUL fill 8
    EXPECT_EQ(text[8], 'z');
    strcpy(text, "<a>");
    EXPECT_EQ(ReplaceAllTruncate(text, 8, "a", "123456789", false), -1);
    EXPECT_STREQ(text, "<a>");
}

TEST(Text, TrimsBothEnds)
{
    char text[32] = " \t\r\n word  mid \n";
    TrimWhitespace(text);
    EXPECT_STREQ(text, "word  mid");
    strcpy(text, " \t \r\n");
    TrimWhitespace(text);
    EXPECT_STREQ(text, "");
    strcpy(text, "--==x-=y==--");
    TrimCharSet(text, "-=");
    EXPECT_STREQ(text, "x-=y");
    TrimCharSet(text, nullptr);
    TrimWhitespace(nullptr);
    EXPECT_STREQ(text, "x-=y");
}

TEST(Text, Searches)
{
    const char *text = "key=value=more";
    EXPECT_STREQ(FindAfter(text, "="), "value=more");
    EXPECT_EQ(FindAfter(text, "none"), text + strlen(text));
    EXPECT_EQ(FindAfter(text, "KEY"), text + strlen(text));   // case-sensitive
    EXPECT_EQ(FindTextNoCase(text, "VALUE"), text + 4);
    EXPECT_EQ(FindTextNoCase(text, "morex"), nullptr);
    EXPECT_EQ(FindTextNoCase(nullptr, "a"), nullptr);

    const char *name = "Picture.JPG";
    EXPECT_EQ(EndsWithNoCase(name, ".jpg"), name + 7);
    EXPECT_EQ(EndsWithNoCase(name, ".png"), nullptr);
    EXPECT_EQ(EndsWithNoCase("jpg", ".jpg"), nullptr);   // end longer than the text
    EXPECT_EQ(EndsWithNoCase("", ""), nullptr);
    EXPECT_EQ(EndsWithNoCase(name, ""), nullptr);
    EXPECT_EQ(EndsWithNoCase(nullptr, "x"), nullptr);
}

TEST(Text, HexPairs)
{
    char pair[3] = {0, 0, 'z'};
    for (int b = 0; b < 256; b++) {
        ByteToHexPair((uint8_t)b, pair);
        ASSERT_EQ(HexPairToByte(pair), b);
    }
    EXPECT_EQ(pair[2], 'z');   // exactly two characters written
    ByteToHexPair(0xAB, pair);
    EXPECT_EQ(std::string(pair, 2), "AB");
    EXPECT_EQ(HexPairToByte("ab"), 0xAB);
    EXPECT_EQ(HexPairToByte(""), 0);
    EXPECT_EQ(HexPairToByte(nullptr), 0);
}

TEST(Paths, Backslashes)
{
    char path[MAX_PATH] = "C:\\data";
    EXPECT_STREQ(AppendBackslash(path), "C:\\data\\");
    EXPECT_STREQ(AppendBackslash(path), "C:\\data\\");
    EXPECT_STREQ(StripTrailingBackslash(path), "C:\\data");
    EXPECT_STREQ(StripTrailingBackslash(path), "C:\\data");
    path[0] = 0;
    EXPECT_STREQ(AppendBackslash(path), "");
    EXPECT_EQ(AppendBackslash(nullptr), nullptr);

    memset(path, 'p', MAX_PATH - 1);    // 259 characters: no room for another
    path[MAX_PATH - 1] = 0;
    AppendBackslash(path);
    EXPECT_EQ(strlen(path), (size_t)MAX_PATH - 1);
    EXPECT_EQ(path[MAX_PATH - 2], 'p');
}

TEST(Paths, SpecialFolders)
{
    char path[MAX_PATH];
    ASSERT_TRUE(GetSpecialFolderPath(CSIDL_APPDATA, path));
    EXPECT_NE(GetFileAttributesA(path), INVALID_FILE_ATTRIBUTES);
    strcpy(path, "stale");
    EXPECT_FALSE(GetSpecialFolderPath(0x7F, path));
    EXPECT_STREQ(path, "");
    EXPECT_FALSE(GetSpecialFolderPath(CSIDL_APPDATA, nullptr));
}

// ---------------------------------------------------------------- colours

TEST(Colour, ByteOrders)
{
    EXPECT_EQ(SwapRedBlue(RGB(0x11, 0x22, 0x33)), RGB(0x33, 0x22, 0x11));
    EXPECT_EQ(ColorRefToArgb(RGB(0x11, 0x22, 0x33), 0x80), 0x80112233u);
}

static void ExpectHsl(COLORREF colour, int hue, int saturation, int lightness)
{
    uint32_t hsl = RgbToHsl(colour);
    EXPECT_EQ((int)(hsl & 0xFF), hue) << std::hex << colour;
    EXPECT_EQ((int)(hsl >> 16 & 0xFF), saturation) << std::hex << colour;
    EXPECT_EQ((int)(hsl >> 8 & 0xFF), lightness) << std::hex << colour;
    EXPECT_EQ(hsl >> 24, 0u);
}

TEST(Colour, RgbToHslKnownValues)
{
    ExpectHsl(RGB(255, 0, 0), 255, 255, 127);   // red is 360 degrees
    ExpectHsl(RGB(0, 255, 0), 85, 255, 127);
    ExpectHsl(RGB(0, 0, 255), 170, 255, 127);
    ExpectHsl(RGB(255, 0, 1), 254, 255, 127);   // just below 360
    ExpectHsl(RGB(255, 1, 0), 0, 255, 127);     // just above 360 wraps
    ExpectHsl(RGB(128, 128, 128), 0, 0, 128);
    ExpectHsl(RGB(255, 255, 255), 0, 0, 255);
    ExpectHsl(RGB(0, 0, 0), 0, 0, 0);
    ExpectHsl(RGB(255, 128, 128), 255, 255, 191);   // light: saturation by 2 - max - min
}

TEST(Colour, HslToRgbKnownValues)
{
    uint8_t r, g, b;
    HslToRgb(360, 0.5, 1, &r, &g, &b);
    EXPECT_EQ(RGB(r, g, b), RGB(255, 0, 0));
    HslToRgb(-120, 0.5, 1, &r, &g, &b);         // hues wrap
    EXPECT_EQ(RGB(r, g, b), RGB(0, 0, 255));
    HslToRgb(60, 0.25, 1, &r, &g, &b);
    EXPECT_EQ(RGB(r, g, b), RGB(128, 128, 0));
    HslToRgb(0, 2, -1, &r, &g, &b);             // out of range: clamped
    EXPECT_EQ(RGB(r, g, b), RGB(255, 255, 255));
    HslToRgb(0, 0.5, 1, nullptr, nullptr, &b);
}

// Through packed bytes, a colour comes back within the rounding of its
// lightness and saturation bytes (up to 2) plus one hue step: 360/255
// degrees moves a channel by up to chroma / 42.5.
TEST(Colour, RoundTripStaysWithinTheRounding)
{
    for (int r = 0; r < 256; r += 5)
        for (int g = 0; g < 256; g += 3)
            for (int b = 0; b < 256; b += 7) {
                COLORREF back = AdjustColorHsl(RGB(r, g, b), 0, 0, 0);
                int top = r > g ? (r > b ? r : b) : (g > b ? g : b);
                int bottom = r < g ? (r < b ? r : b) : (g < b ? g : b);
                int allowed = 2 + ((top - bottom) * 2 + 84) / 85;
                ASSERT_LE(abs(GetRValue(back) - r), allowed) << r << "," << g << "," << b;
                ASSERT_LE(abs(GetGValue(back) - g), allowed) << r << "," << g << "," << b;
                ASSERT_LE(abs(GetBValue(back) - b), allowed) << r << "," << g << "," << b;
            }
    EXPECT_EQ(AdjustColorHsl(RGB(90, 90, 90), 0, 0, 0), RGB(90, 90, 90));
}

TEST(Colour, AdjustShiftsAndScales)
{
    // Pure colours come back at 254: their lightness byte is 127 (truncated).
    EXPECT_EQ(AdjustColorHsl(RGB(255, 0, 0), 1.0 / 3, 0, 0), RGB(0, 254, 0));
    EXPECT_EQ(AdjustColorHsl(RGB(255, 0, 0), -1.0 / 3, 0, 0), RGB(0, 0, 254));
    EXPECT_EQ(AdjustColorHsl(RGB(255, 0, 0), 5, 0, 0), RGB(254, 0, 0));   // whole turns
    EXPECT_EQ(AdjustColorHsl(RGB(200, 50, 50), 0, -1, 0), RGB(0, 0, 0));
    EXPECT_EQ(AdjustColorHsl(RGB(200, 50, 50), 0, 10, 0), RGB(255, 255, 255));
    COLORREF grey = AdjustColorHsl(RGB(200, 50, 50), 0, 0, -1);
    EXPECT_EQ(GetRValue(grey), GetGValue(grey));
    EXPECT_EQ(GetGValue(grey), GetBValue(grey));
}

// ---------------------------------------------------------------- monitors

TEST(Monitors, RefreshReadsTheScreen)
{
    RefreshMonitors();
    ASSERT_GE(gMonitors.count, 1);
    ASSERT_LE(gMonitors.count, (int)MONITOR_TABLE_SIZE);
    bool primary = false;
    for (int i = 0; i < gMonitors.count; i++) {
        EXPECT_FALSE(IsRectEmpty(&gMonitors.rect[i]));
        EXPECT_NE(gMonitors.device[i][0], '\\');
        EXPECT_NE(gMonitors.device[i][0], '.');
        EXPECT_GE(gMonitors.dpi[i], 72);
        primary |= (gMonitors.flags[i] & MONITORINFOF_PRIMARY) != 0;
    }
    EXPECT_TRUE(primary);
    EXPECT_EQ(gMonitors.virtualWidth, GetSystemMetrics(SM_CXVIRTUALSCREEN));
    EXPECT_EQ(gMonitors.virtualRect.right, gMonitors.virtualX + gMonitors.virtualWidth);
    POINT origin = {0, 0};
    EXPECT_EQ(gMonitors.dpi[0], GetMonitorDpi(MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY)));
    HDC screen = GetDC(0);
    EXPECT_EQ(GetMonitorDpi(nullptr), GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(0, screen);
}

// The one lookup of the monitor DPI serves the monitor table, the window and
// the rectangle helpers alike: all three agree on the primary monitor, and a
// missing monitor never yields a made-up DPI.
TEST(Monitors, OneMonitorDpiLookupServesEveryHelper)
{
    POINT origin = {0, 0};
    HMONITOR primary = MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY);
    int queried = QueryMonitorDpi(primary);
    EXPECT_TRUE(queried == -1 || queried >= 72) << queried;
    int missing = QueryMonitorDpi(nullptr);
    EXPECT_TRUE(missing == -1 || missing == 0) << missing;
    EXPECT_EQ(missing < 0, queried < 0);   // the call is there or not, for both

    HDC screen = GetDC(0);
    int screenDpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(0, screen);
    EXPECT_EQ(GetScreenDpi(), screenDpi);
    EXPECT_EQ(GetMonitorDpi(primary), queried > 0 ? queried : screenDpi);

    MONITORINFO info = {};
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetMonitorInfoA(primary, &info));
    RECT inside = {info.rcMonitor.left + 10, info.rcMonitor.top + 10, info.rcMonitor.left + 50,
                   info.rcMonitor.top + 50};
    EXPECT_EQ(GetRectDpi(&inside, 0), GetRectDpi(0, primary));
    if (queried > 0) {
        EXPECT_EQ(GetRectDpi(&inside, 0), queried);
        EXPECT_EQ(GetRectDpi(0, 0), 96);   // no monitor: the system default, not the screen's
    }
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, inside.left, inside.top, 40, 40, 0, 0,
                                  0, 0);
    ASSERT_TRUE(window);
    EXPECT_EQ(GetWindowDpi(window), GetRectDpi(&inside, 0));
    DestroyWindow(window);
}

TEST(Monitors, SystemFunctionsAreFoundByModuleAndName)
{
    EXPECT_EQ((void *)SystemFunction("kernel32", "GetTickCount"),
              (void *)GetProcAddress(GetModuleHandleA("kernel32"), "GetTickCount"));
    EXPECT_TRUE(SystemFunction("kernel32", "NoSuchFunctionAnywhere") == 0);
    EXPECT_TRUE(SystemFunction("nosuchmodule", "GetTickCount") == 0);
    // The module is loaded when need be and stays loaded: the pointer is kept.
    SystemProc shell = SystemFunction("shlwapi", "PathIsRelativeA");
    ASSERT_TRUE(shell != 0);
    EXPECT_TRUE(GetModuleHandleA("shlwapi") != 0);
}

TEST(Numbers, RoundHalfAwayFromZero)
{
    const double in[] = {0.0, 0.49, 0.5, 1.5, 2.5, -0.49, -0.5, -1.5, -2.5, 1e6 + 0.5};
    const int out[] = {0, 0, 1, 2, 3, 0, -1, -2, -3, 1000001};
    for (int i = 0; i < (int)(sizeof in / sizeof in[0]); i++)
        EXPECT_EQ(RoundHalfAway(in[i]), out[i]) << in[i];
}

// The refresh rebuilds the current table from the real screen, so the
// several-monitor rules are exercised through the previous table.
TEST(Monitors, PointOutsideEveryMonitorTakesTheNearestCorner)
{
    MonitorTable saved = gPrevMonitors;
    memset(&gPrevMonitors, 0, sizeof gPrevMonitors);
    gPrevMonitors.count = 3;
    SetRect(&gPrevMonitors.rect[0], 0, 0, 1000, 800);
    SetRect(&gPrevMonitors.work[0], 0, 0, 1000, 760);
    SetRect(&gPrevMonitors.rect[1], 1000, 0, 2000, 800);
    SetRect(&gPrevMonitors.rect[2], -500, 800, 500, 1400);
    RECT r;
    EXPECT_EQ(GetMonitorRect(1500, 400, &r, 1, 0), 1);     // inside
    EXPECT_EQ(r.left, 1000);
    EXPECT_EQ(GetMonitorRect(2100, -50, &r, 1, 0), 1);     // beyond the top-right corner
    EXPECT_EQ(GetMonitorRect(-600, 1500, &r, 1, 0), 2);
    EXPECT_EQ(GetMonitorRect(1000, 800, &r, 1, 0), 0);     // equally near 0 and 1: the first
    EXPECT_EQ(GetMonitorRect(10, 10, &r, 1, 1), 0);
    EXPECT_EQ(r.bottom, 760);                              // the work area
    EXPECT_EQ(GetMonitorRect(10, 10, nullptr, 1, 0), 0);

    gPrevMonitors.count = 0;                               // never filled: the current table
    EXPECT_EQ(GetMonitorRect(10, 10, &r, 1, 0), 0);
    EXPECT_TRUE(EqualRect(&r, &gMonitors.rect[0]));
    gPrevMonitors = saved;
}

// ---------------------------------------------------------------- windows

static HWND MakeWindow(int x, int y, int width, int height, HWND parent = nullptr,
                       DWORD style = WS_POPUP, DWORD exStyle = 0, const char *cls = "VtUtilTest",
                       const char *title = "")
{
    static bool registered;
    if (!registered) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "VtUtilTest";
        RegisterClassA(&wc);
        wc.lpszClassName = "QRFPhantom";
        RegisterClassA(&wc);
        registered = true;
    }
    return CreateWindowExA(exStyle, cls, title, style, x, y, width, height, parent, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

static void Pump()
{
    MSG msg;
    for (int round = 0; round < 5; round++) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        Sleep(20);
    }
}

static RECT WindowRect(HWND window)
{
    RECT r;
    GetWindowRect(window, &r);
    return r;
}

TEST(Windows, CenterOverTheReferenceAndKeepInsideTheWorkArea)
{
    RECT work;
    GetMonitorRect(0, 0, &work, 0, 1);
    HWND reference = MakeWindow(100, 100, 400, 300);
    HWND window = MakeWindow(0, 0, 200, 100);
    CenterWindow(window, nullptr, reference);
    EXPECT_EQ(WindowRect(window).left, 200);
    EXPECT_EQ(WindowRect(window).top, 200);

    HWND huge = MakeWindow(0, 0, 5000, 5000);
    CenterWindow(huge, nullptr, reference);
    EXPECT_EQ(WindowRect(huge).left, work.left);
    EXPECT_EQ(WindowRect(huge).top, work.top);

    SetWindowPos(reference, 0, work.right - 100, work.bottom - 50, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    CenterWindow(window, nullptr, reference);
    EXPECT_EQ(WindowRect(window).right, work.right);
    EXPECT_EQ(WindowRect(window).bottom, work.bottom);

    RECT rect = {0, 0, 40, 20};    // only the rectangle moves, keeping its size
    SetWindowPos(reference, 0, 100, 100, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    CenterWindow(nullptr, &rect, reference);
    EXPECT_EQ(rect.left, 280);
    EXPECT_EQ(rect.top, 240);
    EXPECT_EQ(rect.right - rect.left, 40);
    EXPECT_EQ(rect.bottom - rect.top, 20);
    CenterWindow(nullptr, nullptr, reference);   // nothing to centre

    HWND child = MakeWindow(0, 0, 100, 50, reference, WS_CHILD);   // parent by default
    CenterWindow(child, nullptr, nullptr);
    EXPECT_EQ(WindowRect(child).left, 250);
    EXPECT_EQ(WindowRect(child).top, 225);
    DestroyWindow(huge);
    DestroyWindow(window);
    DestroyWindow(reference);
}

TEST(Windows, TopmostFollowsTheOwner)
{
    HWND plainOwner = MakeWindow(0, 0, 50, 50);
    HWND topOwner = MakeWindow(0, 0, 50, 50, nullptr, WS_POPUP, WS_EX_TOPMOST);
    HWND underPlain = MakeWindow(0, 0, 20, 20, plainOwner);
    HWND underTop = MakeWindow(0, 0, 20, 20, topOwner);
    EXPECT_FALSE(SetTopmostLikeParent(underPlain));
    EXPECT_FALSE(GetWindowLongA(underPlain, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_TRUE(SetTopmostLikeParent(underTop));
    EXPECT_TRUE(GetWindowLongA(underTop, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_FALSE(SetTopmostLikeParent(nullptr));
    DestroyWindow(topOwner);
    DestroyWindow(plainOwner);
}

TEST(Windows, CursorOver)
{
    HWND window = MakeWindow(300, 300, 100, 100, nullptr, WS_POPUP | WS_VISIBLE);
    HWND other = MakeWindow(600, 300, 100, 100, nullptr, WS_POPUP | WS_VISIBLE);
    Pump();
    SetCursorPos(350, 350);
    Pump();
    EXPECT_TRUE(IsCursorOver(window));
    EXPECT_FALSE(IsCursorOver(other));
    EXPECT_FALSE(IsCursorOver(nullptr));
    DestroyWindow(other);
    DestroyWindow(window);
}

static bool Invalid(HWND window, int x, int y)
{
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    GetUpdateRgn(window, region, FALSE);
    bool inside = PtInRegion(region, x, y) != 0;
    DeleteObject(region);
    return inside;
}

TEST(Windows, InvalidateOnlyTheNewStrips)
{
    HWND window = MakeWindow(50, 50, 300, 200, nullptr, WS_POPUP | WS_VISIBLE);
    Pump();
    ValidateRect(window, nullptr);
    int width = 200, height = 150;
    InvalidateNewArea(window, 300, 200, &width, &height);
    EXPECT_TRUE(Invalid(window, 250, 10));     // right of the old width
    EXPECT_TRUE(Invalid(window, 10, 170));     // below the old height
    EXPECT_FALSE(Invalid(window, 10, 10));     // the old area
    EXPECT_EQ(width, 300);
    EXPECT_EQ(height, 200);

    ValidateRect(window, nullptr);
    InvalidateNewArea(window, 300, 100, &width, &height);   // same width: everything
    EXPECT_TRUE(Invalid(window, 10, 10));
    EXPECT_EQ(height, 100);
    ValidateRect(window, nullptr);
    InvalidateNewArea(window, 10, 10, nullptr, &height);
    EXPECT_TRUE(Invalid(window, 10, 10));
    DestroyWindow(window);
}

TEST(Windows, FindInstanceByClassAndTitle)
{
    HWND instance = MakeWindow(0, 0, 0, 0, nullptr, WS_POPUP, WS_EX_TOOLWINDOW, "QRFPhantom",
                               "VtInstanceProbe");
    HWND other = MakeWindow(0, 0, 0, 0, nullptr, WS_POPUP, 0, "VtUtilTest", "VtOtherProbe");
    EXPECT_EQ(FindInstanceWindow("VtInstanceProbe"), instance);
    EXPECT_EQ(FindInstanceWindow("vtinstanceprobe"), nullptr);   // the title must be equal
    EXPECT_EQ(FindInstanceWindow("VtOtherProbe"), nullptr);      // wrong class
    EXPECT_EQ(FindInstanceWindow(nullptr), nullptr);
    DestroyWindow(other);
    DestroyWindow(instance);
}

// ---------------------------------------------------------------- system

TEST(System, CommonControlsAreRecentEnough)
{
    EXPECT_TRUE(CheckComctl32Version());
}

TEST(System, ShellExecutePassesArgumentsAndFolder)
{
    std::string folder = FreshTempFolder("shellexec");
    EXPECT_EQ(ShellExecuteUnelevated(nullptr, "", "", "", SW_HIDE), E_INVALIDARG);
    HRESULT hr = ShellExecuteUnelevated("cmd.exe", "/c echo done>marker.txt", folder.c_str(),
                                        nullptr, SW_HIDE);
    ASSERT_TRUE(SUCCEEDED(hr)) << std::hex << hr;
    std::string marker = folder + "\\marker.txt";
    for (int i = 0; i < 300 && GetFileAttributesA(marker.c_str()) == INVALID_FILE_ATTRIBUTES; i++)
        Sleep(50);
    EXPECT_NE(GetFileAttributesA(marker.c_str()), INVALID_FILE_ATTRIBUTES);
    // Through the desktop a missing program is the shell's to report, so its
    // result says only that the request was handed over.
}

// Drives a modal dialog of this thread from a helper thread: waits for it,
// optionally types a file name, then presses a button.
struct DialogDriver {
    DWORD ownerThread;
    const char *name;
    int button;
    HWND dialog;
};

static BOOL CALLBACK FindOwnDialog(HWND window, LPARAM data)
{
    DialogDriver *driver = (DialogDriver *)data;
    char cls[16];
    if (GetWindowThreadProcessId(window, nullptr) != driver->ownerThread ||
        !IsWindowVisible(window) || !GetClassNameA(window, cls, sizeof cls) ||
        strcmp(cls, "#32770") != 0)
        return TRUE;
    driver->dialog = window;
    return FALSE;
}

static BOOL CALLBACK TypeIntoEdit(HWND child, LPARAM name)
{
    char cls[16];
    if (!GetClassNameA(child, cls, sizeof cls) || _stricmp(cls, "Edit") != 0 ||
        !IsWindowVisible(child))
        return TRUE;
    SendMessageA(child, WM_SETTEXT, 0, name);
    return FALSE;
}

static DWORD WINAPI DriveDialog(void *data)
{
    DialogDriver *driver = (DialogDriver *)data;
    for (int i = 0; i < 400 && !driver->dialog; i++) {
        Sleep(50);
        EnumWindows(FindOwnDialog, (LPARAM)driver);
    }
    if (!driver->dialog)
        return 1;
    Sleep(300);
    if (driver->name)
        EnumChildWindows(driver->dialog, TypeIntoEdit, (LPARAM)driver->name);
    PostMessageA(driver->dialog, WM_COMMAND, MAKEWPARAM(driver->button, BN_CLICKED),
                 (LPARAM)GetDlgItem(driver->dialog, driver->button));
    for (int i = 0; i < 100 && IsWindow(driver->dialog); i++)
        Sleep(50);
    if (IsWindow(driver->dialog)) {   // the button was ignored: fail, never hang
        PostMessageA(driver->dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return 2;
    }
    return 0;
}

static HANDLE StartDriver(DialogDriver *driver, const char *name, int button)
{
    *driver = {GetCurrentThreadId(), name, button, nullptr};
    return CreateThread(nullptr, 0, DriveDialog, driver, 0, nullptr);
}

static void StopDriver(HANDLE thread, DialogDriver *driver)
{
    WaitForSingleObject(thread, 30000);   // the helper gives up after 20 s
    CloseHandle(thread);
}

static const char kFilters[] = "All files (*.*)\0*.*\0Bitmaps (*.bmp;*.dib)\0*.bmp;*.dib\0";

TEST(System, SaveDialogAddsThePatternsExtension)
{
    std::string folder = FreshTempFolder("filedialog");
    char start[MAX_PATH];
    snprintf(start, sizeof start, "%s", folder.c_str());
    DialogDriver driver;
    HANDLE thread = StartDriver(&driver, "picture", IDOK);
    int index = -5;
    const char *path = ShowFileDialog(true, kFilters, 1, &index, start, "");
    StopDriver(thread, &driver);
    ASSERT_NE(path, nullptr);
    EXPECT_TRUE(EndsWithNoCase(path, "\\picture.bmp")) << path;
    EXPECT_EQ(index, 1);
    EXPECT_TRUE(EndsWithNoCase(start, "filedialog\\")) << start;   // cut at the file name

    thread = StartDriver(&driver, nullptr, IDCANCEL);
    EXPECT_EQ(ShowFileDialog(false, kFilters, 0, &index, start, ""), nullptr);
    StopDriver(thread, &driver);
    EXPECT_EQ(index, 1);
}

TEST(System, FolderPicker)
{
    std::string folder = FreshTempFolder("folderpicker");
    std::string inner = folder + "\\inner";
    CreateDirectoryA(inner.c_str(), nullptr);
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%s", folder.c_str());
    DialogDriver driver;
    HANDLE thread = StartDriver(&driver, nullptr, IDCANCEL);
    EXPECT_EQ(BrowseForFolder("Choose", path, true), 2);
    StopDriver(thread, &driver);
    EXPECT_STREQ(path, folder.c_str());        // cancelled: unchanged

    thread = StartDriver(&driver, inner.c_str(), IDOK);
    EXPECT_EQ(BrowseForFolder("Choose", path, true), 1);
    StopDriver(thread, &driver);
    EXPECT_TRUE(EndsWithNoCase(path, "folderpicker\\inner")) << path;
    EXPECT_EQ(BrowseForFolder("Choose", nullptr, true), 2);
}
