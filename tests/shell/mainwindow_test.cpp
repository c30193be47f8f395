// The main window's timer with an injected clock and observers for every
// action: downloads once a minute, the screen-saver flag at most every 15 s,
// due renders, the wallpaper handed over only while the desktop shows, each
// failure reported once; and the commands the tray menu runs.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "earth/renderjobs.h"
#include "earth/settings.h"
#include "framework/application.h"
#include "framework/messages.h"
#include "framework/recordfile.h"
#include "framework/utilities.h"
#include "shell/desktop.h"
#include "shell/entry.h"
#include "shell/mainwindow.h"
#include "shell/optionsdialog.h"
#include "shell/profiles.h"
#include "shell/program.h"
#include "testutil.h"

namespace {

// The program's own hooks, before the tests put their observers in.
const MainHooks kProgramHooks = gMainHooks;

int64_t gClock;
std::vector<std::string> gCalls;
int gSaverRecord;
bool gVisible = true;
bool gOurs = true;
bool gCloudBusy;

void Note(const std::string &call) { gCalls.push_back(call); }
int64_t TestNow() { return gClock; }
int StartClouds(int mode) { Note("clouds " + std::to_string(mode)); return 0; }
int StartWeather(int mode) { Note("weather " + std::to_string(mode)); return 0; }
bool CloudBusy() { return gCloudBusy; }
int ReadSaver() { Note("saver?"); return gSaverRecord; }
int Render(int which, int order, int wait)
{
    Note("render " + std::to_string(which) + " " + std::to_string(order) + " " +
         std::to_string(wait));
    return 0;
}
bool Visible() { Note("visible?"); return gVisible; }
bool Ours() { return gOurs; }
int Install(int mode) { Note("install " + std::to_string(mode)); return 0; }
void Report(int job, int code) { Note("report " + std::to_string(job) + " " + std::to_string(code)); }

int Count(const std::string &call)
{
    int n = 0;
    for (const std::string &c : gCalls)
        n += c == call;
    return n;
}

class MainTimer : public ::testing::Test {
protected:
    std::string folder;

    void SetUp() override
    {
        folder = FreshTempFolder(std::string("main-") +
                                 testing::UnitTest::GetInstance()->current_test_info()->name());
        CopyText(gApp.dataFolder, folder.c_str(), MAX_TEXT);
        gPrefs = kDefaultPrefs;
        gPrefs.iCloudsData = 0;
        gPrefs.iWeatherData = 1;
        gPrefs.bForceWPUpdate = 0;
        gMainHooks = MainHooks{TestNow, StartClouds, CloudBusy, StartWeather, 0, ReadSaver,
                               Render, Visible, Ours, Install, Report, 0, 0};
        gCalls.clear();
        gClock = 1000000;
        gLastDownloadCheck = gLastSaverPoll = 0;
        gSaverActive = gSaverRecord = 0;
        gVisible = gOurs = true;
        gCloudBusy = false;
        gTimerBusy = 0;
        gWallpaperReady = 0;
        memset((void *)gOutputStatus, 0, sizeof gOutputStatus);
        ASSERT_TRUE(ResizeViewList(&gViewLists[0], 1));
        ASSERT_TRUE(ResizeViewList(&gViewLists[1], 1));
        SetDefaultView(&gViewLists[0].data[0], 0);
        SetDefaultView(&gViewLists[1].data[0], 1);
        for (int i = 0; i < 2; i++) {
            ViewOptions &view = gViewLists[i].data[0];
            view.bActive = view.bUpdate = 1;
            view.iUpdate = 10;
            view.tLastUpdate = gClock;   // fresh: nothing due
        }
    }
    void TearDown() override
    {
        FreeViewLists();
        RemoveTree(folder);
    }
    void TickAt(int64_t t)
    {
        gClock = t;
        MainTimerTick();
    }
};

TEST_F(MainTimer, DownloadsAreConsideredOnceAMinute)
{
    TickAt(1000000);
    EXPECT_EQ(1, Count("clouds 1"));
    EXPECT_EQ(1, Count("weather 1"));
    TickAt(1000059);
    EXPECT_EQ(1, Count("clouds 1"));
    TickAt(1000060);
    EXPECT_EQ(2, Count("clouds 1"));
    EXPECT_EQ(2, Count("weather 1"));
    EXPECT_EQ(1000060, gLastDownloadCheck);

    // A busy cloud worker is skipped, but the minute still restarts.
    gCloudBusy = true;
    TickAt(1000120);
    EXPECT_EQ(2, Count("clouds 1"));
    EXPECT_EQ(1000120, gLastDownloadCheck);
}

TEST_F(MainTimer, CloudsOnRequestOnlyAndWeatherOffStartNothing)
{
    gPrefs.iCloudsData = 3;
    gPrefs.iWeatherData = 2;
    for (int i = 0; i < 5; i++)
        TickAt(1000000 + i * 60);
    EXPECT_EQ(0, Count("clouds 1"));
    EXPECT_EQ(0, Count("weather 1"));
    // The menu's command still starts the cloud worker, in its own mode.
    RunMainCommand(CMD_DOWNLOAD_CLOUDS, 0);
    EXPECT_EQ(1, Count("clouds 2"));
    gCloudBusy = true;
    RunMainCommand(CMD_DOWNLOAD_CLOUDS, 0);
    EXPECT_EQ(1, Count("clouds 2"));
}

TEST_F(MainTimer, ScreenSaverFlagIsReadAtMostEvery15Seconds)
{
    for (int s = 0; s < 45; s++)
        TickAt(1000000 + s);
    EXPECT_EQ(3, Count("saver?"));   // at 0, 15 and 30
    EXPECT_EQ(1000030, gLastSaverPoll);
}

TEST_F(MainTimer, DueOutputsFollowTheirIntervalsAndTheScreenSaverState)
{
    TickAt(1000000 + 599);
    EXPECT_EQ(1, Count("render -1 -1 0"));   // nothing due: only what is pending
    gCalls.clear();
    TickAt(1000000 + 600);
    EXPECT_EQ(1, Count("render 0 0 0"));     // the wallpaper; the saver does not run

    // The screen-saver image is renewed only while the screen saver shows it.
    gSaverRecord = 1;
    gLastSaverPoll = 0;
    gCalls.clear();
    TickAt(1000000 + 601);
    EXPECT_EQ(1, Count("render 2 2 0"));
    gViewLists[0].data[0].tLastUpdate = gClock;
    gCalls.clear();
    TickAt(1000000 + 602);
    EXPECT_EQ(1, Count("render 1 1 0"));

    // Without bUpdate, or switched off, a view is never due.
    gViewLists[1].data[0].bUpdate = 0;
    gCalls.clear();
    TickAt(1000000 + 603);
    EXPECT_EQ(1, Count("render -1 -1 0"));
    gViewLists[0].data[0].tLastUpdate = 0;
    gViewLists[0].data[0].bActive = 0;
    EXPECT_EQ(-1, DueOutputs(gClock));
}

TEST_F(MainTimer, NewWallpaperWaitsUntilTheDesktopShows)
{
    gWallpaperReady = 1;
    gVisible = false;
    TickAt(1000000);
    TickAt(1000001);
    EXPECT_EQ(0, Count("install 1"));
    EXPECT_EQ(2, Count("visible?"));
    EXPECT_EQ(1, gWallpaperReady);

    gVisible = true;
    TickAt(1000002);
    EXPECT_EQ(1, Count("install 1"));
    EXPECT_EQ(0, gWallpaperReady);
    TickAt(1000003);
    EXPECT_EQ(1, Count("install 1"));
}

TEST_F(MainTimer, ForcedUpdateOrRunningSaverSkipTheVisibilityTest)
{
    gVisible = false;
    gPrefs.bForceWPUpdate = 1;
    gWallpaperReady = 1;
    TickAt(1000000);
    EXPECT_EQ(0, Count("visible?"));
    EXPECT_EQ(1, Count("install 1"));

    gPrefs.bForceWPUpdate = 0;
    gSaverRecord = 1;
    gLastSaverPoll = 0;
    gWallpaperReady = 1;
    TickAt(1000001);   // the poll reads 1 first, in the same tick
    EXPECT_EQ(0, Count("visible?"));
    EXPECT_EQ(2, Count("install 1"));
}

TEST_F(MainTimer, ForeignWallpaperSwitchesTheViewOffAndSwitchedOffViewWaits)
{
    gWallpaperReady = 1;
    gViewLists[0].data[0].bActive = 0;
    TickAt(1000000);
    EXPECT_EQ(1, gWallpaperReady);   // stays up until the view is on again
    EXPECT_EQ(0, Count("install 1"));

    gViewLists[0].data[0].bActive = 1;
    gOurs = false;
    TickAt(1000001);
    EXPECT_EQ(0, gWallpaperReady);
    EXPECT_EQ(0, gViewLists[0].data[0].bActive);
    EXPECT_EQ(0, Count("install 1"));
}

TEST_F(MainTimer, EachFailureIsReportedOnceAndABusyTickDoesNothing)
{
    gOutputStatus[2] = 7;
    gOutputStatus[3] = 'C';
    TickAt(1000000);
    TickAt(1000001);
    EXPECT_EQ(1, Count("report 2 7"));
    EXPECT_EQ(1, Count("report 3 67"));
    EXPECT_EQ(0, gOutputStatus[2]);

    // A failed wallpaper render is reported and not handed over.
    gWallpaperReady = 1;
    gOutputStatus[0] = 5;
    TickAt(1000002);
    EXPECT_EQ(1, Count("report 0 5"));
    EXPECT_EQ(0, Count("install 1"));

    gCalls.clear();
    gTimerBusy = 1;
    TickAt(1000100);
    EXPECT_TRUE(gCalls.empty());
    gTimerBusy = 0;
}

TEST_F(MainTimer, CommandsCancelRenderAndQuit)
{
    gRenderJobs.cancel[0] = gRenderJobs.cancel[1] = 0;
    RunMainCommand(CMD_CANCEL_UPDATES, 0);
    EXPECT_EQ(1, gRenderJobs.cancel[0]);
    EXPECT_EQ(1, gRenderJobs.cancel[1]);
    gRenderJobs.cancel[0] = gRenderJobs.cancel[1] = 0;

    RunMainCommand(CMD_UPDATE_WALLPAPER, 0);
    EXPECT_EQ(1, Count("render 0 0 1"));

    // Quitting saves the settings and posts the loop's end.
    CopyText(gPrefs.szCurProfile, "Default", sizeof gPrefs.szCurProfile);
    RunMainCommand(CMD_QUIT, 0);
    MSG msg;
    bool quit = false;
    while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE))
        quit = quit || msg.message == WM_QUIT;
    EXPECT_TRUE(quit);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES,
              GetFileAttributesA((folder + "\\Profile-Default\\Settings.rgc").c_str()));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES,
              GetFileAttributesA((folder + "\\Preferences.rgc").c_str()));
}

TEST_F(MainTimer, ProfileMenuListsProfilesAndChecksTheCurrentOne)
{
    static char names[3][PROFILE_NAME_SIZE] = {"Default", "Map Only", "Travel"};
    gApp.strings.SetProgramTable(0, gProgramStrings);
    for (int i = 0; i < 3; i++)
        gApp.strings.SetText((uint16_t)(CMD_PROFILE_FIRST + i), 0, names[i]);
    gApp.strings.SetText(CMD_PROFILE_FIRST + 3, 0, "");
    gApp.commands.RemoveAll();
    ASSERT_EQ(0, AddProgramCommands());
    CopyText(gPrefs.szCurProfile, "Map Only", sizeof gPrefs.szCurProfile);

    const uint16_t *ids = ProfileMenuCommands();
    EXPECT_EQ(1101, ids[0]);
    EXPECT_EQ(1102, ids[1]);
    EXPECT_EQ(1103, ids[2]);
    EXPECT_EQ(0xFFFF, ids[3]);
    CommandEntry entry;
    ASSERT_EQ(0, gApp.GetCommand(1102, &entry));
    EXPECT_TRUE(entry.flags & CMDF_CHECKED);
    ASSERT_EQ(0, gApp.GetCommand(1101, &entry));
    EXPECT_FALSE(entry.flags & CMDF_CHECKED);
    // Case matters: "map only" is another name.
    CopyText(gPrefs.szCurProfile, "map only", sizeof gPrefs.szCurProfile);
    ProfileMenuCommands();
    ASSERT_EQ(0, gApp.GetCommand(1102, &entry));
    EXPECT_FALSE(entry.flags & CMDF_CHECKED);

    // The tray menu's list, in its order.
    ASSERT_EQ(0, gApp.GetCommand(CMD_TRAY_MENU, &entry));
    const uint16_t *tray = (const uint16_t *)(uintptr_t)entry.data;
    const uint16_t expected[] = {1100, 0xF000, 4006, 4004, 4002, 0xF000,
                                 4001, 4000, 0xF000, 4005, 0xFFFF};
    for (int i = 0; i < 11; i++)
        EXPECT_EQ(expected[i], tray[i]) << i;
    EXPECT_STREQ("Quit Veltaspar", gApp.strings.GetText(4005, 0));
    gApp.commands.RemoveAll();
}

TEST_F(MainTimer, ScreenSaverRecordIsReadFromTheDataFolder)
{
    EXPECT_EQ(0, kProgramHooks.readSaverActive());   // missing reads as 0
    int32_t running = 1;
    ASSERT_EQ(4, WriteRecordFile("ScreenSaverActive", -1, &running, sizeof running, 0));
    EXPECT_EQ(1, kProgramHooks.readSaverActive());
    running = 0;
    ASSERT_EQ(4, WriteRecordFile("ScreenSaverActive", -1, &running, sizeof running, 0));
    EXPECT_EQ(0, kProgramHooks.readSaverActive());
    // A torn record is not a running screen saver.
    WriteWhole(folder + "\\ScreenSaverActive.rgc", std::string("\x01", 1));
    EXPECT_EQ(0, kProgramHooks.readSaverActive());
}

// The start-up posts carry 1234: they neither switch profiles by the screen
// nor open the options dialog; real ones do.
TEST_F(MainTimer, StartupPostsNeitherSwitchProfilesNorOpenOptions)
{
    gPrefs.bMultiMon = 0;
    ProfileSettings keep = gCurProfileSettings;
    gCurProfileSettings.scrtrigger = 1;
    gCurProfileSettings.scrx = gCurProfileSettings.scry = 0;
    gCurProfileSettings.scrw = GetSystemMetrics(SM_CXSCREEN);
    gCurProfileSettings.scrh = GetSystemMetrics(SM_CYSCREEN);
    ASSERT_EQ(PROFILE_DONE, ProfileIO(PROFILE_SAVE, "Desk"));
    gCurProfileSettings = ProfileSettings();
    ASSERT_EQ(PROFILE_DONE, ProfileIO(PROFILE_SAVE, "Default"));
    CopyText(gPrefs.szCurProfile, "Default", sizeof gPrefs.szCurProfile);

    MainWindowProc(0, WM_DISPLAYCHANGE, STARTUP_POST, 0);
    EXPECT_STREQ("Default", gPrefs.szCurProfile);
    MainWindowProc(0, WM_DISPLAYCHANGE, 24, 0);
    EXPECT_STREQ("Desk", gPrefs.szCurProfile);

    MSG msg;
    while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
    }
    gApp.minimize = 0;
    MainWindowProc(0, QRFM_SHOW, STARTUP_POST, 0);
    EXPECT_FALSE(PeekMessageA(&msg, 0, QRFM_COMMAND, QRFM_COMMAND, PM_REMOVE));
    MainWindowProc(0, QRFM_SHOW, 0, 0);
    ASSERT_TRUE(PeekMessageA(&msg, 0, QRFM_COMMAND, QRFM_COMMAND, PM_REMOVE));
    EXPECT_EQ((WPARAM)CMD_OPTIONS, msg.wParam);
    gApp.minimize = 1;   // "-MINIMIZE": nothing opens by itself
    MainWindowProc(0, QRFM_SHOW, 0, 0);
    EXPECT_FALSE(PeekMessageA(&msg, 0, QRFM_COMMAND, QRFM_COMMAND, PM_REMOVE));
    gApp.minimize = 0;
    gCurProfileSettings = keep;
}

// "-AUTOSTART" (or "-MINIMIZE", or a hidden main window) keeps the options
// closed at that start only: the next start of the program, which reaches
// this one as QRFM_SHOW, opens them.
TEST_F(MainTimer, MinimizedStartLetsALaterStartOpenTheOptions)
{
    MSG msg;
    while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
    }
    gApp.autoStart = 1;
    gApp.minimize = 1;
    MainWindowProc(0, QRFM_SHOW, STARTUP_POST, 0);
    EXPECT_FALSE(PeekMessageA(&msg, 0, QRFM_COMMAND, QRFM_COMMAND, PM_REMOVE));
    EXPECT_EQ(0, gApp.minimize);
    MainWindowProc(0, QRFM_SHOW, 0, 0);
    ASSERT_TRUE(PeekMessageA(&msg, 0, QRFM_COMMAND, QRFM_COMMAND, PM_REMOVE));
    EXPECT_EQ((WPARAM)CMD_OPTIONS, msg.wParam);
    gApp.autoStart = 0;
}

int gOpenCalls;
void CountOpen(bool) { gOpenCalls++; }

// The options dialog at start: a hidden main window sets the minimize byte
// and opens nothing; a dialog that cannot be created (this test program has
// no dialog templates) is error 50.
TEST_F(MainTimer, OptionsAtStartReportTheirFailure)
{
    gOpenCalls = 0;
    gMainHooks.openOptions = CountOpen;
    gPrefs.bShowMain = 0;
    gApp.minimize = gApp.autoStart = 0;
    EXPECT_EQ(0, OpenOptionsAtStart());
    EXPECT_EQ(1, gApp.minimize);
    EXPECT_EQ(0, gOpenCalls);

    gPrefs.bShowMain = 1;
    gApp.minimize = 0;
    gApp.autoStart = 1;
    EXPECT_EQ(0, OpenOptionsAtStart());
    EXPECT_EQ(0, gOpenCalls);

    gApp.autoStart = 0;
    gMainHooks.openOptions = OpenOptionsDialog;
    EXPECT_EQ(ENTRY_ERROR_WINDOW, OpenOptionsAtStart());
    EXPECT_EQ(50, ENTRY_ERROR_WINDOW);
    EXPECT_EQ(0, gOptionsDialog);
    gApp.minimize = 0;
}

}  // namespace
