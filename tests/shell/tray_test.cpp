// Tray icon: the progress pictures, the tooltip and its download times in a
// forced month/day/year format, what reaches the shell across idle, removal,
// the taskbar's re-creation and the tray setting (the real Shell_NotifyIcon,
// told to a stand-in taskbar window of this process), and the tray menu
// under Wine: its enabling, a right-click opening the real popup and a left
// click posting the options command.
#include <gtest/gtest.h>

#include <limits.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "framework/seams.h"
#include "earth/renderjobs.h"
#include "earth/settings.h"
#include "framework/application.h"
#include "framework/commands.h"
#include "framework/framelist.h"
#include "framework/ui/framewindow.h"
#include "framework/ui/frameedges.h"
#include "framework/messages.h"
#include "framework/ui/graphics.h"
#include "framework/ui/menu.h"
#include "framework/utilities.h"
#include "shell/program.h"
#include "testutil.h"

// The main window's globals live with the main window; this executable has
// its own.
HWND gOptionsDialog;
static HWND gTestMain;
static void IgnoreRendered(int) {}   // the progress sink's rendered share, unwatched
HWND MainWindow() { return gTestMain; }

namespace {

// What reached the taskbar: one entry per call that changed its icons (a
// failed modify is no call: the tray adds the icon after it).
struct TrayCall {
    DWORD message;       // NIM_ADD, NIM_MODIFY, NIM_DELETE
    uint16_t frame;      // the icon's id: the frame index
    uint16_t icon;       // the tray's record of the icon it sent; 0 removes
    std::string tip;
};
std::vector<TrayCall> gCalls;
std::vector<std::pair<HWND, UINT>> gTaskbarEntries;
bool gTaskbarChanged;

// The shell hands every change to the window of the taskbar's class as
// WM_COPYDATA, dwData the NIM_ message; the data opens with the owner window,
// the id, the flags, the callback message and the tip in UTF-16.
struct NotifyHead {
    LONG window;
    UINT id, flags, callbackMessage;
    WCHAR tip[128];
};

LRESULT CALLBACK TaskbarStandIn(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_COPYDATA)
        return DefWindowProcA(window, message, wParam, lParam);
    const COPYDATASTRUCT *data = (const COPYDATASTRUCT *)lParam;
    if (!data || data->cbData < sizeof(NotifyHead))
        return FALSE;
    const NotifyHead *head = (const NotifyHead *)data->lpData;
    std::pair<HWND, UINT> key((HWND)(LONG_PTR)head->window, head->id);
    auto found = std::find(gTaskbarEntries.begin(), gTaskbarEntries.end(), key);
    bool known = found != gTaskbarEntries.end();
    if (data->dwData == NIM_MODIFY && !known)
        return FALSE;
    if (data->dwData == NIM_ADD && known)
        return FALSE;
    char tip[260] = "";
    WideCharToMultiByte(CP_ACP, 0, head->tip, -1, tip, sizeof tip, 0, 0);
    gCalls.push_back({(DWORD)data->dwData, (uint16_t)head->id, 0, tip});
    gTaskbarChanged = true;
    if (data->dwData == NIM_ADD)
        gTaskbarEntries.push_back(key);
    else if (data->dwData == NIM_DELETE && known)
        gTaskbarEntries.erase(found);
    return data->dwData == NIM_DELETE ? known : TRUE;
}

// The stand-in taskbar, made once; it must be the one the shell finds.
HWND TaskbarWindow()
{
    static HWND window = MakeStandInWindow("Shell_TrayWnd", TaskbarStandIn);
    return window;
}

// One step of the tray; the icon of a call it made, from the tray's record.
void Step(const std::function<void()> &step)
{
    gTaskbarChanged = false;
    size_t before = gCalls.size();
    step();
    for (size_t i = before; i < gCalls.size(); i++)
        gCalls[i].icon = gCalls[i].message == NIM_DELETE ? 0 : (uint16_t)TrayIconShown();
}

void Show(int percent)
{
    Step([percent] { ShowTrayIcon(percent); });
}

// Settings every test starts from: the tray on, all downloads off.
void ResetPrefs()
{
    gPrefs = kDefaultPrefs;
    gPrefs.bTrayIcon = 1;
    gPrefs.iCloudsData = 0;
    gPrefs.iWeatherData = 0;
    gPrefs.iMetarData = 0;
    gPrefs.tCloudsDown = gPrefs.tWeatherDown = gPrefs.tMetarDown = 0;
    CopyText(gApp.productName, "Veltaspar", MAX_TEXT);
}

// Seconds since 1970 of a local calendar time.
int64_t LocalSeconds(int year, int month, int day, int hour, int minute)
{
    SYSTEMTIME local = {}, utc;
    local.wYear = (WORD)year;
    local.wMonth = (WORD)month;
    local.wDay = (WORD)day;
    local.wHour = (WORD)hour;
    local.wMinute = (WORD)minute;
    local.wSecond = 10;
    TzSpecificLocalTimeToSystemTime(0, &local, &utc);
    FILETIME file;
    SystemTimeToFileTime(&utc, &file);
    ULONGLONG ticks = ((ULONGLONG)file.dwHighDateTime << 32) | file.dwLowDateTime;
    return (int64_t)((ticks - 116444736000000000ULL) / 10000000ULL);
}

std::string DownloadText(int64_t t)
{
    char text[LAST_DOWNLOAD_TEXT_SIZE];
    memset(text, 'x', sizeof text);
    LastDownloadText(t, text);
    return text;
}

std::string Tooltip()
{
    char tip[260];
    TrayTooltip(tip, sizeof tip);
    return tip;
}

std::string Trimmed(const char *date, int year)
{
    char text[64];
    CopyText(text, date, sizeof text);
    TrimShortDate(text, year);
    return text;
}

}  // namespace

// ---------------------------------------------------------------- pictures

TEST(TrayIcon, ProgressPicturesAndTheIdleIcon)
{
    struct Case {
        int percent, icon;
    } cases[] = {
        {0, 10},   {8, 10},  {9, 11},  {16, 11},  {17, 12},   {50, 16},      {91, 20},
        {92, 21},  {99, 21}, {100, 1}, {101, 1},  {1000, 1},  {TRAY_IDLE, 1}, {TRAY_REMOVE, 1},
        {-3, 1},   {-100, 1}, {INT_MIN, 1}, {INT_MAX, 1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.icon, TrayIconForPercent(c.percent)) << c.percent;
}

// ---------------------------------------------------------------- texts

TEST(TrayTexts, YearAndOuterNonDigitsLeaveTheShortDate)
{
    EXPECT_EQ("12/31", Trimmed("12/31/2026", 2026));
    EXPECT_EQ("31.12", Trimmed("31.12.2026", 2026));
    EXPECT_EQ("12-31", Trimmed("2026-12-31", 2026));
    EXPECT_EQ("12/31", Trimmed("2026/12/31", 2026));
    // The year only as a whole number: day 20 of 2020 stays.
    EXPECT_EQ("20.12", Trimmed("20.12.2020", 2020));
    EXPECT_EQ("12/20", Trimmed("12/20/2020", 2020));
    EXPECT_EQ("12/26", Trimmed("12/26/2026", 2026));
    // Two-digit years at either end.
    EXPECT_EQ("31/12", Trimmed("31/12/26", 2026));
    // Both ends alike: the end, where day-first and month-first formats
    // keep the year.
    EXPECT_EQ("26/12", Trimmed("26/12/26", 2026));
    EXPECT_EQ("12.31", Trimmed("26.12.31", 2026));
    // Letters around the digits go as well.
    EXPECT_EQ("12\xe6\x9c\x88" "31", Trimmed("2026\xe5\xb9\xb4" "12\xe6\x9c\x88" "31\xe6\x97\xa5", 2026));
    EXPECT_EQ("", Trimmed("2026", 2026));
}

TEST(TrayTexts, ZeroTimeIsNotAvailable)
{
    EXPECT_EQ("n/a", DownloadText(0));
    EXPECT_EQ("n/a", DownloadText(-5));
}

// The user's format forced to month/day/year and a 24-hour clock, restored
// afterwards.
class ForcedLocale : public ::testing::Test {
protected:
    char savedDate[80] = {0}, savedTime[80] = {0};
    bool forced = false;
    void SetUp() override
    {
        GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, savedDate, sizeof savedDate);
        GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, savedTime, sizeof savedTime);
        forced = SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, "MM/dd/yyyy") &&
                 SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, "HH:mm:ss");
    }
    void TearDown() override
    {
        if (savedDate[0])
            SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, savedDate);
        if (savedTime[0])
            SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, savedTime);
    }
};

TEST_F(ForcedLocale, MonthDayYearKeepsMonthDayThenTheTimeWithoutSeconds)
{
    ASSERT_TRUE(forced);
    EXPECT_EQ("12/31 - 13:45", DownloadText(LocalSeconds(2026, 12, 31, 13, 45)));
    EXPECT_EQ("01/02 - 07:05", DownloadText(LocalSeconds(2020, 1, 2, 7, 5)));
    ASSERT_TRUE(SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, "yyyy-MM-dd"));
    ASSERT_TRUE(SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, "h:mm:ss tt"));
    EXPECT_EQ("12-31 - 1:45 PM", DownloadText(LocalSeconds(2026, 12, 31, 13, 45)));
}

class TrayTooltips : public ::testing::Test {
protected:
    void SetUp() override { ResetPrefs(); }
};

TEST_F(TrayTooltips, CloudsOffIsDemoAndOtherLinesOnlyWhenOn)
{
    EXPECT_EQ("Veltaspar\nClouds: Demo", Tooltip());
    // A download time without the download still says Demo.
    gPrefs.tCloudsDown = LocalSeconds(2026, 5, 6, 7, 8);
    EXPECT_EQ("Veltaspar\nClouds: Demo", Tooltip());
    gPrefs.iWeatherData = 1;
    EXPECT_EQ("Veltaspar\nClouds: Demo\nWeather: n/a", Tooltip());
    gPrefs.iWeatherData = 0;
    gPrefs.iMetarData = 1;
    EXPECT_EQ("Veltaspar\nClouds: Demo\nMETAR: n/a", Tooltip());
}

TEST_F(TrayTooltips, EveryLineCarriesItsOwnTime)
{
    gPrefs.iCloudsData = 2;
    gPrefs.iWeatherData = 1;
    gPrefs.iMetarData = 1;
    EXPECT_EQ("Veltaspar\nClouds: n/a\nWeather: n/a\nMETAR: n/a", Tooltip());
    gPrefs.tCloudsDown = LocalSeconds(2026, 3, 4, 5, 6);
    gPrefs.tWeatherDown = LocalSeconds(2026, 7, 8, 9, 10);
    gPrefs.tMetarDown = LocalSeconds(2025, 11, 12, 13, 14);
    std::string expected = "Veltaspar\nClouds: " + DownloadText(gPrefs.tCloudsDown) +
                           "\nWeather: " + DownloadText(gPrefs.tWeatherDown) + "\nMETAR: " +
                           DownloadText(gPrefs.tMetarDown);
    EXPECT_EQ(expected, Tooltip());
    EXPECT_NE(DownloadText(gPrefs.tCloudsDown), DownloadText(gPrefs.tMetarDown));
}

// ---------------------------------------------------------------- shell calls

class TrayCalls : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetPrefs();
        gOptionsDialog = 0;
        ASSERT_TRUE(TaskbarWindow() != 0);
        ASSERT_EQ(TaskbarWindow(), FindWindowA("Shell_TrayWnd", 0))
            << "the shell would tell another taskbar";
        ForgetTrayIcon();
        Show(TRAY_REMOVE);   // no entry of ours is left from an earlier test
        ForgetTrayIcon();
        gCalls.clear();
    }
    void TearDown() override
    {
        gProgressSink.rendered = IgnoreRendered;
        gOptionsDialog = 0;
    }
    // The icons handed to the shell since the last look.
    std::vector<int> Icons()
    {
        std::vector<int> icons;
        for (const TrayCall &call : gCalls)
            icons.push_back(call.icon);
        gCalls.clear();
        return icons;
    }
};

TEST_F(TrayCalls, UnchangedIconIsNotSentAgain)
{
    Show(TRAY_IDLE);
    Show(TRAY_IDLE);
    Show(100);
    EXPECT_EQ(std::vector<int>({1}), Icons());
    Show(50);
    Show(51);
    Show(58);
    Show(59);
    EXPECT_EQ(std::vector<int>({16, 17}), Icons());
}

TEST_F(TrayCalls, RemovalAfterTheIdleIconReachesTheShell)
{
    Show(TRAY_IDLE);
    Show(TRAY_REMOVE);
    EXPECT_EQ(std::vector<int>({1, 0}), Icons());
    Show(TRAY_REMOVE);
    EXPECT_TRUE(Icons().empty());
    // And back again after a removal.
    Show(TRAY_IDLE);
    EXPECT_EQ(std::vector<int>({1}), Icons());
}

TEST_F(TrayCalls, TaskbarRestartAddsTheSameIconAgain)
{
    Show(TRAY_IDLE);
    gTaskbarEntries.clear();   // the taskbar was made anew and knows no icon
    ForgetTrayIcon();
    Show(TRAY_IDLE);
    Show(TRAY_IDLE);
    ASSERT_EQ(2u, gCalls.size());
    EXPECT_EQ((DWORD)NIM_ADD, gCalls[1].message);
    EXPECT_EQ(std::vector<int>({1, 1}), Icons());
    Show(30);
    ForgetTrayIcon();
    Show(30);
    EXPECT_EQ(std::vector<int>({13, 13}), Icons());
}

TEST_F(TrayCalls, TraySettingOffRemovesAtTheNextCallAndOnBringsItBack)
{
    Show(TRAY_IDLE);
    gPrefs.bTrayIcon = 0;
    Show(TRAY_IDLE);
    Show(TRAY_IDLE);
    EXPECT_EQ(std::vector<int>({1, 0}), Icons());
    // Progress while the tray is off never adds an icon.
    Show(40);
    EXPECT_EQ(std::vector<int>({0}), Icons());
    gPrefs.bTrayIcon = 1;
    Show(40);
    EXPECT_EQ(std::vector<int>({14}), Icons());
}

TEST_F(TrayCalls, CallsGoToFrameZeroWithTheTooltip)
{
    gPrefs.iWeatherData = 1;
    Show(TRAY_IDLE);
    ASSERT_EQ(1u, gCalls.size());
    EXPECT_EQ(0, gCalls[0].frame);
    EXPECT_EQ("Veltaspar\nClouds: Demo\nWeather: n/a", gCalls[0].tip);
    EXPECT_EQ(Tooltip(), gCalls[0].tip);
}

TEST_F(TrayCalls, RendererReachesTheTrayThroughTheProgressSink)
{
    Step([] { gProgressSink.rendered(TRAY_IDLE); });
    EXPECT_TRUE(Icons().empty());
    InstallTrayHook();
    Step([] { gProgressSink.rendered(75); });
    Step([] { gProgressSink.rendered(TRAY_REMOVE); });
    EXPECT_EQ(std::vector<int>({19, 0}), Icons());
}

namespace {
std::vector<std::pair<WPARAM, LPARAM>> gSetIcons;
LRESULT CALLBACK DialogStandIn(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETICON)
        gSetIcons.push_back({wParam, lParam});
    return DefWindowProcA(window, message, wParam, lParam);
}
HWND MakeDialogStandIn()
{
    return MakeStandInWindow("VtTrayDialogStandIn", DialogStandIn);
}
}  // namespace

TEST_F(TrayCalls, OptionsDialogTakesTheSameIconBothSizes)
{
    HWND dialog = MakeDialogStandIn();
    ASSERT_TRUE(dialog != 0);
    gSetIcons.clear();
    Show(TRAY_IDLE);
    gOptionsDialog = dialog;
    // A dialog opened after the icon was shown gets it at the next call.
    Show(TRAY_IDLE);
    PumpMessages(50);
    HICON expected = LoadIconA(GetModuleHandleA(0), MAKEINTRESOURCEA(1));
    ASSERT_EQ(2u, gSetIcons.size());
    EXPECT_EQ((WPARAM)ICON_SMALL, gSetIcons[0].first);
    EXPECT_EQ((WPARAM)ICON_BIG, gSetIcons[1].first);
    EXPECT_EQ((LPARAM)expected, gSetIcons[0].second);
    EXPECT_EQ((LPARAM)expected, gSetIcons[1].second);
    gSetIcons.clear();
    Show(TRAY_IDLE);
    PumpMessages(20);
    EXPECT_TRUE(gSetIcons.empty());
    EXPECT_EQ(std::vector<int>({1, 1}), Icons());
    gOptionsDialog = 0;
    DestroyWindow(dialog);
}

// ---------------------------------------------------------------- menu

namespace {

const uint16_t kTrayItems[] = {CMD_PROFILE_MENU,    CMD_ID_SEPARATOR,   CMD_UPDATE_WALLPAPER,
                               CMD_CANCEL_UPDATES,  CMD_DOWNLOAD_CLOUDS, CMD_ID_SEPARATOR,
                               CMD_SCREEN_SAVER,    CMD_OPTIONS,        CMD_ID_SEPARATOR,
                               CMD_QUIT,            CMD_ID_LIST_END};
const uint16_t kProfileItems[] = {CMD_PROFILE_FIRST, CMD_ID_LIST_END};

std::vector<WPARAM> gCommands;

LRESULT CALLBACK TestMainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case QRFM_COMMAND:
        gCommands.push_back(wParam);
        return 0;
    case QRFM_GETMENUCOMMANDS:
        return wParam == CMD_PROFILE_MENU ? (LRESULT)kProfileItems : 0;
    }
    return DefFrameWindowProc(window, message, wParam, lParam);
}

void AddNamed(uint16_t id, uint16_t type, const char *name, uint32_t data = 0)
{
    ASSERT_GE(gApp.AddCommand(id, type, 128, 0, -1, data, 0, 0), 0);
    CopyText(gApp.CommandById(id)->text, name, 260);
}

bool Enabled(uint16_t id)
{
    CommandEntry *entry = gApp.CommandById(id);
    return entry && (entry->flags & CMDF_ENABLED);
}

HWND gFoundPopup;
BOOL CALLBACK FindVisiblePopup(HWND window, LPARAM)
{
    char name[64];
    if (GetClassNameA(window, name, sizeof name) && strcmp(name, MENU_POPUP_CLASS) == 0 &&
        IsWindowVisible(window)) {
        gFoundPopup = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

class TrayMenu : public ::testing::Test {
protected:
    // One main window for all tests: destroying a shown window costs Wine
    // seconds.
    static std::string folder;
    static void SetUpTestSuite()
    {
        folder = FreshTempFolder("tray");
        CopyText(gApp.dataFolder, folder.c_str(), MAX_TEXT);
        memset(&gWindowHooks, 0, sizeof gWindowHooks);
        InstallFrameHooks();
        InstallMenuHooks();
        int position = CreateFrameWindow(0, TestMainProc, "Veltaspar", 0, 0, 20, 20, 200, 100);
        gTestMain = position < 0 ? 0 : gFrames.data[position]->window;
    }
    static void TearDownTestSuite()
    {
        DestroyFrameWindows();
        gTestMain = 0;
        memset(&gWindowHooks, 0, sizeof gWindowHooks);
        RemoveTree(folder);
    }
    CGraphics graphics;

    void SetUp() override
    {
        ASSERT_TRUE(gTestMain != 0);
        ASSERT_EQ(graphics.Init(), 0);
        gGraphics = &graphics;
        graphics.LoadColours();
        ResetPrefs();
        gCommands.clear();
        memset((void *)&gRenderJobs, 0, sizeof gRenderJobs);
        ResizeViewList(&gViewLists[VIEW_LIST_WALLPAPER], 1);
        ResizeViewList(&gViewLists[VIEW_LIST_SCREENSAVER], 1);
        gViewLists[VIEW_LIST_WALLPAPER].data[0].bActive = 0;
        gViewLists[VIEW_LIST_SCREENSAVER].data[0].bActive = 0;
        gApp.commands.RemoveAll();
        gApp.openMenu = 0;
        gApp.menuOpen = 0;
        SetCursorPos(300, 300);
        AddNamed(CMD_ID_SEPARATOR, CMD_SEPARATOR, "");
        AddNamed(CMD_UPDATE_WALLPAPER, CMD_BUTTON, "Update Wallpaper");
        AddNamed(CMD_CANCEL_UPDATES, CMD_BUTTON, "Cancel Updates");
        AddNamed(CMD_DOWNLOAD_CLOUDS, CMD_BUTTON, "Download Clouds");
        AddNamed(CMD_SCREEN_SAVER, CMD_BUTTON, "Screen Saver");
        AddNamed(CMD_OPTIONS, CMD_BUTTON, "Options...");
        AddNamed(CMD_QUIT, CMD_BUTTON, "Quit Veltaspar");
        AddNamed(CMD_PROFILE_MENU, CMD_MENU, "Profile", CMD_DATA_OWNERLIST);
        AddNamed(CMD_PROFILE_FIRST, CMD_BUTTON, "Default");
        AddNamed(CMD_TRAY_MENU, CMD_MENU, "Tray", (uint32_t)(uintptr_t)kTrayItems);
    }
    void TearDown() override
    {
        gApp.CloseMenu(0);
        delete gPopupMenu;
        gPopupMenu = 0;
        PumpMessages(20);
        gApp.commands.RemoveAll();
        gApp.openMenu = 0;
        gApp.menuOpen = 0;
        FreeViewLists();
        gGraphics = 0;
    }
    void Enables(bool wallpaper, bool cancel, bool clouds, bool saver)
    {
        EnableTrayCommands();
        EXPECT_EQ(wallpaper, Enabled(CMD_UPDATE_WALLPAPER));
        EXPECT_EQ(cancel, Enabled(CMD_CANCEL_UPDATES));
        EXPECT_EQ(clouds, Enabled(CMD_DOWNLOAD_CLOUDS));
        EXPECT_EQ(saver, Enabled(CMD_SCREEN_SAVER));
        // The rest are never touched.
        EXPECT_TRUE(Enabled(CMD_OPTIONS));
        EXPECT_TRUE(Enabled(CMD_QUIT));
    }
};

std::string TrayMenu::folder;

TEST_F(TrayMenu, CommandsAreEnabledByWhatCanRunNow)
{
    Enables(false, false, false, false);
    gViewLists[VIEW_LIST_WALLPAPER].data[0].bActive = 1;
    Enables(true, false, false, false);
    gViewLists[VIEW_LIST_WALLPAPER].data[0].bActive = 0;
    gPrefs.iCloudsData = 3;
    Enables(false, false, true, false);
    gPrefs.iCloudsData = 0;
    gViewLists[VIEW_LIST_SCREENSAVER].data[0].bActive = 1;
    Enables(false, false, false, true);
    gViewLists[VIEW_LIST_SCREENSAVER].data[0].bActive = 0;
    gRenderJobs.running[RENDER_JOB_SCREENSAVER] = 1;
    Enables(false, true, false, false);
    gRenderJobs.running[RENDER_JOB_SCREENSAVER] = 0;
    gRenderJobs.running[RENDER_JOB_WALLPAPER] = 1;
    Enables(false, true, false, false);
    // The previews are not updates the menu cancels.
    gRenderJobs.running[RENDER_JOB_WALLPAPER] = 0;
    gRenderJobs.running[RENDER_JOB_MAP_PREVIEW] = 1;
    gRenderJobs.running[RENDER_JOB_SCREEN_PREVIEW] = 1;
    Enables(false, false, false, false);
    // Without views there is nothing to update.
    gPrefs.iCloudsData = 1;
    gViewLists[VIEW_LIST_WALLPAPER].RemoveAll();
    gViewLists[VIEW_LIST_SCREENSAVER].RemoveAll();
    Enables(false, false, true, false);
}

TEST_F(TrayMenu, RightClickOpensTheTrayMenuAtTheCursor)
{
    gViewLists[VIEW_LIST_WALLPAPER].data[0].bActive = 1;
    gPrefs.iCloudsData = 1;
    OnTrayMouse(WM_RBUTTONDOWN);
    PumpMessages(50);
    ASSERT_TRUE(gPopupMenu != 0);
    EXPECT_EQ(CMD_TRAY_MENU, gPopupMenu->commandId);
    EXPECT_TRUE(gPopupMenu->open);
    gFoundPopup = 0;
    EnumWindows(FindVisiblePopup, 0);
    ASSERT_TRUE(gFoundPopup != 0);
    EXPECT_EQ(gPopupMenu->popup, gFoundPopup);
    // One item per listed command, the enabling applied before it opened.
    ASSERT_EQ(10, gPopupMenu->items.count);
    EXPECT_EQ(CMD_PROFILE_MENU, gPopupMenu->items.data[0]->commandId);
    EXPECT_EQ(CMD_QUIT, gPopupMenu->items.data[9]->commandId);
    EXPECT_TRUE(Enabled(CMD_UPDATE_WALLPAPER));
    EXPECT_TRUE(Enabled(CMD_DOWNLOAD_CLOUDS));
    EXPECT_FALSE(Enabled(CMD_SCREEN_SAVER));
    EXPECT_FALSE(Enabled(CMD_CANCEL_UPDATES));
    RECT r;
    GetWindowRect(gFoundPopup, &r);
    POINT cursor;
    GetCursorPos(&cursor);
    EXPECT_TRUE(r.left == cursor.x || r.right == cursor.x) << r.left << " " << r.right;
    EXPECT_TRUE(r.top == cursor.y || r.bottom == cursor.y) << r.top << " " << r.bottom;
    EXPECT_TRUE(gCommands.empty());
}

TEST_F(TrayMenu, LeftClickAndDoubleClickPostTheOptionsCommand)
{
    OnTrayMouse(WM_LBUTTONDOWN);
    // Posted, not sent: nothing arrives before the loop runs.
    EXPECT_TRUE(gCommands.empty());
    PumpMessages(30);
    EXPECT_EQ(std::vector<WPARAM>({CMD_OPTIONS}), gCommands);
    OnTrayMouse(WM_LBUTTONDBLCLK);
    PumpMessages(30);
    EXPECT_EQ(std::vector<WPARAM>({CMD_OPTIONS, CMD_OPTIONS}), gCommands);
    EXPECT_TRUE(gPopupMenu == 0 || !gPopupMenu->open);
}

// The real shell path: the frame's record of its entry follows the icon that
// reached the taskbar and is gone after the removal.
TEST_F(TrayMenu, RealShellEntryFollowsIdleAndRemoval)
{
    ASSERT_EQ(TaskbarWindow(), FindWindowA("Shell_TrayWnd", 0));
    ForgetTrayIcon();
    CFrameWindow *frame = FindFrameByIndex(0);
    ASSERT_TRUE(frame != 0);
    gCalls.clear();
    Show(TRAY_IDLE);
    ASSERT_FALSE(gCalls.empty());
    EXPECT_EQ((DWORD)NIM_ADD, gCalls.back().message);
    EXPECT_EQ(1, frame->trayEntry);
    EXPECT_TRUE(frame->trayIcon == LoadImageA(GetModuleHandleA(0), MAKEINTRESOURCEA(1),
                                              IMAGE_ICON, 64, 64,
                                              LR_SHARED));
    Show(TRAY_REMOVE);
    EXPECT_EQ((DWORD)NIM_DELETE, gCalls.back().message);
    EXPECT_EQ(0, frame->trayEntry);
    ForgetTrayIcon();
}
