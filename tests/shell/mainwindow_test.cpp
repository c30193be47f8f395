// The main window's timer, ticked with a clock of the test's own, watched
// through what it really does: the download workers it starts (their check
// times in the settings, their requests at a local server), the
// "ScreenSaverActive" record it reads at most every 15 s, the real render
// jobs it starts on a tiny map set (their pictures), the desktop wallpaper
// setting it hands a new picture to only while some of the desktop shows,
// and the message box of each failure, shown once. Also the commands the
// tray menu runs and the options dialog at start.
#include "outputs.h"

#include <gtest/gtest.h>

#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "earth/clouds.h"
#include "earth/renderjobs.h"
#include "earth/settings.h"
#include "earth/weather.h"
#include "framework/application.h"
#include "framework/messages.h"
#include "framework/recordfile.h"
#include "framework/utilities.h"
#include "desktoputil.h"
#include "shell/desktop.h"
#include "shell/entry.h"
#include "shell/mainwindow.h"
#include "shell/optionsdialog.h"
#include "shell/profiles.h"
#include "shell/program.h"
#include "testutil.h"

namespace {

const int64_t kStart = 1000000;

void WriteSaverRecord(int32_t running)
{
    ASSERT_EQ(4, WriteRecordFile("ScreenSaverActive", -1, &running, sizeof running, 0));
}

// The system's wallpaper setting, where the desktop reads it.
std::string DesktopWallpaper()
{
    return ReadDesktopValue("Wallpaper");
}

void SetDesktopWallpaper(const char *path)
{
    WriteDesktopValue("Wallpaper", path);
}

// A window larger than the desktop on every side: nothing of it shows.
class DesktopCover {
public:
    DesktopCover()
    {
        WNDCLASSA c = {};
        c.lpfnWndProc = DefWindowProcA;
        c.hInstance = GetModuleHandleA(0);
        c.lpszClassName = "VtMainCover";
        RegisterClassA(&c);
        RECT desktop;
        HWND progman = FindWindowA("Progman", 0);
        GetWindowRect(progman ? progman : GetDesktopWindow(), &desktop);
        window = CreateWindowExA(WS_EX_TOPMOST, "VtMainCover", "", WS_POPUP | WS_VISIBLE,
                                 desktop.left - 10, desktop.top - 10,
                                 desktop.right - desktop.left + 20,
                                 desktop.bottom - desktop.top + 20, 0, 0, GetModuleHandleA(0), 0);
    }
    ~DesktopCover() { Remove(); }
    void Remove()
    {
        if (window)
            DestroyWindow(window);
        window = 0;
    }
    HWND window = 0;
};

class MainTimer : public ::testing::Test {
protected:
    std::string folder, install;
    // Every download of the program goes here, never further.
    LocalHttpServer server;

    void SetUp() override
    {
        ASSERT_TRUE(server.Start());
        folder = FreshTempFolder(std::string("main-") +
                                 testing::UnitTest::GetInstance()->current_test_info()->name());
        install = folder + "\\Program";
        CopyText(gApp.dataFolder, folder.c_str(), MAX_TEXT);
        CopyText(gApp.ownFolder, install.c_str(), MAX_TEXT);
        gApp.strings.SetProgramTable(0, gProgramStrings);
        SetDesktopPaths();
        gPrefs = kDefaultPrefs;
        gPrefs.iCloudsData = 3;     // no worker unless a test wants one
        gPrefs.iWeatherData = 2;
        gPrefs.bForceWPUpdate = 0;
        gPrefs.bDetectWP = 1;
        CopyText(gPrefs.szCurProfile, "Test", sizeof gPrefs.szCurProfile);
        CreateDirectoryA((folder + "\\Profile-Test").c_str(), 0);
        FreshOutputState();
        if (HasFatalFailure())
            return;
        for (int i = 0; i < 2; i++) {
            ViewOptions &view = gViewLists[i].data[0];
            view.bActive = view.bUpdate = 1;
            view.iUpdate = 10;
            view.tLastUpdate = kStart;   // fresh: nothing due
        }
        UseTinyMaps(install);
        PointDownloadsAt(server);
        SetDesktopWallpaper("");
        WriteSaverRecord(0);
    }
    void TearDown() override
    {
        EXPECT_TRUE(WaitFor(RenderJobsIdle)) << "a render job never ended";
        EXPECT_TRUE(WaitFor(WorkersIdle)) << "a download worker never ended";
        WaitForScreenSaverThreads();
        CloseOptionsDialog();
        server.Stop();
        FreeViewLists();
        RemoveTree(folder);
    }
    void TickAt(int64_t t)
    {
        MainTimerTick(t);
        ASSERT_TRUE(WaitFor(RenderJobsIdle));
        ASSERT_TRUE(WaitFor(WorkersIdle));
    }
    std::string Picture(int job) const
    {
        return folder + (job == 0 ? "\\Veltaspar.bmp" : "\\VTScrsvr.bmp");
    }
    // Which outputs one tick at t renders, as the pictures that appear;
    // what stays requested is in gRenderJobs.pending.
    std::string RenderedAt(int64_t t)
    {
        DeleteFileA(Picture(0).c_str());
        DeleteFileA(Picture(1).c_str());
        TickAt(t);
        return std::string(FileExists(Picture(0)) ? "wallpaper" : "") +
               (FileExists(Picture(1)) ? "saver" : "");
    }
    void Stamp(int list, int64_t t) { gViewLists[list].data[0].tLastUpdate = t; }
    bool OurWallpaperOnTheDesktop() { return DesktopWallpaper() == gWallpaperImage; }
};

// ---------------------------------------------------------------- downloads

// The workers note when they last looked (the cloud worker finds nothing
// due: its last picture is fresh).
TEST_F(MainTimer, DownloadsAreConsideredOnceAMinute)
{
    gPrefs.iCloudsData = CLOUDS_DATA_AUTOMATIC;
    gPrefs.iWeatherData = 1;
    gPrefs.tCloudsDown = (int64_t)time(0);
    // A cloud worker held busy by the test is not waited for.
    auto started = [](int64_t t, bool *clouds, bool *weather) {
        gPrefs.tCloudsCheck = gPrefs.tWeatherCheck = 0;
        bool held = gCloudUpdaterBusy != 0;
        MainTimerTick(t);
        ASSERT_TRUE(WaitFor([held] { return gWeatherBusy == 0 && (held || !gCloudUpdaterBusy); }));
        *clouds = gPrefs.tCloudsCheck != 0;
        *weather = gPrefs.tWeatherCheck != 0;
    };
    bool clouds, weather;
    started(kStart, &clouds, &weather);
    EXPECT_TRUE(clouds);
    EXPECT_TRUE(weather);
    started(kStart + 59, &clouds, &weather);
    EXPECT_FALSE(clouds);
    EXPECT_FALSE(weather);
    started(kStart + 60, &clouds, &weather);
    EXPECT_TRUE(clouds);
    EXPECT_TRUE(weather);
    EXPECT_EQ(kStart + 60, gLastDownloadCheck);

    // A busy cloud worker is skipped, but the minute still restarts.
    gCloudUpdaterBusy = 1;
    started(kStart + 120, &clouds, &weather);
    gCloudUpdaterBusy = 0;
    EXPECT_FALSE(clouds);
    EXPECT_TRUE(weather);
    EXPECT_EQ(kStart + 120, gLastDownloadCheck);
    // Nothing was due: not one request.
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(MainTimer, CloudsOnRequestOnlyAndWeatherOffStartNothing)
{
    gPrefs.iCloudsData = CLOUDS_DATA_ON_REQUEST;
    gPrefs.iWeatherData = 2;
    gPrefs.tCloudsDown = 0;   // a download would be due
    gPrefs.tCloudsCheck = gPrefs.tWeatherCheck = 0;
    for (int i = 0; i < 5; i++)
        TickAt(kStart + i * 60);
    EXPECT_EQ(0, gPrefs.tCloudsCheck);
    EXPECT_EQ(0, gPrefs.tWeatherCheck);
    EXPECT_TRUE(server.Requests().empty());

    // The menu's command still starts the cloud worker, which downloads.
    RunMainCommand(CMD_DOWNLOAD_CLOUDS, 0);
    ASSERT_TRUE(WaitFor(WorkersIdle));
    EXPECT_NE(0, gPrefs.tCloudsCheck);
    std::vector<std::string> requests = server.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(0u, requests[0].find("http://clouds.veltaspar.test/clouds")) << requests[0];

    // Not while the worker is busy.
    gPrefs.tCloudsCheck = 0;
    gCloudUpdaterBusy = 1;
    RunMainCommand(CMD_DOWNLOAD_CLOUDS, 0);
    Sleep(200);
    gCloudUpdaterBusy = 0;
    EXPECT_EQ(0, gPrefs.tCloudsCheck);
    EXPECT_EQ(requests.size(), server.Requests().size());
}

// ---------------------------------------------------------------- screen saver

TEST_F(MainTimer, ScreenSaverFlagIsReadAtMostEvery15Seconds)
{
    WriteSaverRecord(1);
    TickAt(kStart);
    EXPECT_EQ(1, gSaverActive);
    WriteSaverRecord(0);
    for (int s = 1; s < 15; s++)
        TickAt(kStart + s);
    EXPECT_EQ(1, gSaverActive);   // not read again yet
    TickAt(kStart + 15);
    EXPECT_EQ(0, gSaverActive);
    WriteSaverRecord(1);
    for (int s = 16; s < 30; s++)
        TickAt(kStart + s);
    EXPECT_EQ(0, gSaverActive);
    for (int s = 30; s < 45; s++)
        TickAt(kStart + s);
    EXPECT_EQ(1, gSaverActive);
    EXPECT_EQ(kStart + 30, gLastSaverPoll);
}

TEST_F(MainTimer, ScreenSaverRecordIsReadFromTheDataFolder)
{
    DeleteFileA((folder + "\\ScreenSaverActive.rgc").c_str());
    EXPECT_EQ(0, ReadSaverActiveRecord());   // missing reads as 0
    WriteSaverRecord(1);
    EXPECT_EQ(1, ReadSaverActiveRecord());
    WriteSaverRecord(0);
    EXPECT_EQ(0, ReadSaverActiveRecord());
    // A torn record is not a running screen saver.
    WriteWhole(folder + "\\ScreenSaverActive.rgc", std::string("\x01", 1));
    EXPECT_EQ(0, ReadSaverActiveRecord());
}

// ---------------------------------------------------------------- renders

TEST_F(MainTimer, DueOutputsFollowTheirIntervalsAndTheScreenSaverState)
{
    EXPECT_EQ("", RenderedAt(kStart + 599));   // nothing due, nothing pending
    EXPECT_EQ(0, gRenderJobs.pending[0] + gRenderJobs.pending[1]);
    EXPECT_EQ("wallpaper", RenderedAt(kStart + 600));   // the saver does not run
    EXPECT_EQ(0, gRenderJobs.pending[1]);
    EXPECT_EQ(1, gWallpaperReady);

    // The screen-saver image is renewed only while the screen saver shows
    // it: both due, the wallpaper first, the saver waits for the next tick.
    WriteSaverRecord(1);
    gLastSaverPoll = 0;
    Stamp(0, kStart);
    Stamp(1, kStart);
    EXPECT_EQ("wallpaper", RenderedAt(kStart + 601));
    EXPECT_EQ(0, gRenderJobs.order);
    EXPECT_EQ(1, gRenderJobs.pending[1]);
    EXPECT_EQ("saver", RenderedAt(kStart + 602));   // what was pending
    EXPECT_EQ(0, gRenderJobs.pending[1]);

    // Only the saver due: its order puts it first.
    Stamp(0, kStart + 602);
    Stamp(1, kStart);
    EXPECT_EQ("saver", RenderedAt(kStart + 603));
    EXPECT_EQ(1, gRenderJobs.order);

    // Without bUpdate, or switched off, a view is never due.
    gViewLists[1].data[0].bUpdate = 0;
    Stamp(1, 0);
    Stamp(0, kStart + 602);
    EXPECT_EQ("", RenderedAt(kStart + 604));
    Stamp(0, 0);
    gViewLists[0].data[0].bActive = 0;
    EXPECT_EQ(-1, DueOutputs(kStart + 605));
    EXPECT_EQ("", RenderedAt(kStart + 605));
}

// ---------------------------------------------------------------- the wallpaper

TEST_F(MainTimer, NewWallpaperWaitsUntilTheDesktopShows)
{
    gPrefs.bDetectWP = 0;
    DesktopCover cover;
    ASSERT_TRUE(cover.window != 0);
    gWallpaperReady = 1;
    TickAt(kStart);
    TickAt(kStart + 1);
    EXPECT_EQ("", DesktopWallpaper());
    EXPECT_EQ(1, gWallpaperReady);

    cover.Remove();
    TickAt(kStart + 2);
    EXPECT_TRUE(OurWallpaperOnTheDesktop()) << DesktopWallpaper();
    EXPECT_EQ(0, gWallpaperReady);
    // Handed over once: another wallpaper meanwhile stays.
    SetDesktopWallpaper("");
    TickAt(kStart + 3);
    EXPECT_EQ("", DesktopWallpaper());
}

TEST_F(MainTimer, ForcedUpdateOrRunningSaverSkipTheVisibilityTest)
{
    gPrefs.bDetectWP = 0;
    DesktopCover cover;
    ASSERT_TRUE(cover.window != 0);
    gPrefs.bForceWPUpdate = 1;
    gWallpaperReady = 1;
    TickAt(kStart);
    EXPECT_TRUE(OurWallpaperOnTheDesktop()) << DesktopWallpaper();
    EXPECT_EQ(0, gWallpaperReady);

    SetDesktopWallpaper("");
    gPrefs.bForceWPUpdate = 0;
    WriteSaverRecord(1);
    gLastSaverPoll = 0;
    gWallpaperReady = 1;
    TickAt(kStart + 1);   // the poll reads 1 first, in the same tick
    EXPECT_TRUE(OurWallpaperOnTheDesktop()) << DesktopWallpaper();
    EXPECT_EQ(0, gWallpaperReady);
}

TEST_F(MainTimer, ForeignWallpaperSwitchesTheViewOffAndSwitchedOffViewWaits)
{
    gWallpaperReady = 1;
    gViewLists[0].data[0].bActive = 0;
    TickAt(kStart);
    EXPECT_EQ(1, gWallpaperReady);   // stays up until the view is on again
    EXPECT_EQ("", DesktopWallpaper());

    // Another program's wallpaper, noticed (bDetectWP): the view goes off.
    SetDesktopWallpaper("C:\\users\\me\\beach.bmp");
    gViewLists[0].data[0].bActive = 1;
    TickAt(kStart + 1);
    EXPECT_EQ(0, gWallpaperReady);
    EXPECT_EQ(0, gViewLists[0].data[0].bActive);
    EXPECT_EQ("C:\\users\\me\\beach.bmp", DesktopWallpaper());
}

// ---------------------------------------------------------------- failures

TEST_F(MainTimer, EachFailureIsReportedOnceAndABusyTickDoesNothing)
{
    MessageBoxReader boxes;
    boxes.shotName = "main-failure-box";
    boxes.Start();
    gOutputStatus[2] = 7;
    gOutputStatus[3] = 'C';
    TickAt(kStart);
    TickAt(kStart + 1);
    ASSERT_EQ(2u, boxes.texts.size());
    EXPECT_NE(std::string::npos,
              boxes.texts[0].find("The screen preview could not be updated!"))
        << boxes.texts[0];
    EXPECT_NE(std::string::npos, boxes.texts[0].find("Error code: 7.")) << boxes.texts[0];
    EXPECT_NE(std::string::npos, boxes.texts[1].find("The map preview could not be updated!"))
        << boxes.texts[1];
    EXPECT_NE(std::string::npos, boxes.texts[1].find("Error code: 67.")) << boxes.texts[1];
    EXPECT_FALSE(boxes.shotResult != 0 && InCI()) << "no picture of the message box";
    EXPECT_EQ(0, gOutputStatus[2]);

    // A failed wallpaper render is reported and not handed over.
    gPrefs.bDetectWP = 0;
    gWallpaperReady = 1;
    gOutputStatus[0] = 5;
    TickAt(kStart + 2);
    ASSERT_EQ(3u, boxes.texts.size());
    EXPECT_NE(std::string::npos,
              boxes.texts[2].find("The wallpaper image could not be updated!"))
        << boxes.texts[2];
    EXPECT_NE(std::string::npos, boxes.texts[2].find("Error code: 5.")) << boxes.texts[2];
    EXPECT_EQ("", DesktopWallpaper());

    // A busy tick does nothing at all: no report, no poll, no render.
    gOutputStatus[1] = 9;
    gLastSaverPoll = 0;
    WriteSaverRecord(1);
    Stamp(0, 0);
    gTimerBusy = 1;
    EXPECT_EQ("", RenderedAt(kStart + 100));
    gTimerBusy = 0;
    PumpMessages(200);
    boxes.Stop();
    EXPECT_EQ(3u, boxes.texts.size());
    EXPECT_EQ(9, gOutputStatus[1]);
    EXPECT_EQ(0, gSaverActive);
    EXPECT_EQ(0, gLastSaverPoll);
    gOutputStatus[1] = 0;
}

// ---------------------------------------------------------------- commands

TEST_F(MainTimer, CommandsCancelRenderAndQuit)
{
    gRenderJobs.cancel[0] = gRenderJobs.cancel[1] = 0;
    RunMainCommand(CMD_CANCEL_UPDATES, 0);
    EXPECT_EQ(1, gRenderJobs.cancel[0]);
    EXPECT_EQ(1, gRenderJobs.cancel[1]);
    gRenderJobs.cancel[0] = gRenderJobs.cancel[1] = 0;

    // The wallpaper now, however fresh: a running screen-saver render is
    // cancelled and waited for first, and stays requested to be redone.
    gScreenW = 640;
    gScreenH = 480;
    ASSERT_EQ(0, RequestRender(RENDER_JOB_SCREENSAVER, 1, 0));
    ASSERT_EQ(1, gRenderJobs.running[1]);
    RunMainCommand(CMD_UPDATE_WALLPAPER, 0);
    EXPECT_EQ(0, gRenderJobs.running[1]);
    EXPECT_EQ(1, gRenderJobs.cancel[1]);
    EXPECT_EQ(1, gRenderJobs.pending[1]);
    ASSERT_TRUE(WaitFor(RenderJobsIdle));
    EXPECT_TRUE(FileExists(Picture(0)));
    EXPECT_FALSE(FileExists(Picture(1)));
    EXPECT_EQ(0, gRenderJobs.status[0]);
    gRenderJobs.pending[1] = 0;

    // The options command opens the real dialog, on the screen-saver tab
    // when the tray asks for it (lParam -1).
    RunMainCommand(CMD_OPTIONS, -1);
    HWND options = gOptionsDialog;
    ASSERT_TRUE(options && IsWindowVisible(options));
    EXPECT_EQ(1, gOptions.editedList);

    // Quitting closes it, saves the settings and posts the loop's end.
    CopyText(gPrefs.szCurProfile, "Default", sizeof gPrefs.szCurProfile);
    RunMainCommand(CMD_QUIT, 0);
    EXPECT_EQ(0, gOptionsDialog);
    EXPECT_FALSE(IsWindow(options));
    MSG msg;
    bool quit = false;
    while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE))
        quit = quit || msg.message == WM_QUIT;
    EXPECT_TRUE(quit);
    EXPECT_TRUE(FileExists(folder + "\\Profile-Default\\Settings.rgc"));
    EXPECT_TRUE(FileExists(folder + "\\Preferences.rgc"));
}

TEST_F(MainTimer, ProfileMenuListsProfilesAndChecksTheCurrentOne)
{
    static char names[3][PROFILE_NAME_SIZE] = {"Default", "Map Only", "Travel"};
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

// The start-up posts carry 1234: they neither switch profiles by the screen
// nor open the options dialog; real ones do.
// Saves the profile name with the whole current screen as its trigger; the
// current profile's settings stay as they were.
static void SaveProfileForThisScreen(const char *name)
{
    ProfileSettings keep = gCurProfileSettings;
    gCurProfileSettings.scrtrigger = 1;
    gCurProfileSettings.scrx = gCurProfileSettings.scry = 0;
    gCurProfileSettings.scrw = GetSystemMetrics(SM_CXSCREEN);
    gCurProfileSettings.scrh = GetSystemMetrics(SM_CYSCREEN);
    int saved = ProfileIO(PROFILE_SAVE, name);
    gCurProfileSettings = keep;
    ASSERT_EQ(PROFILE_DONE, saved) << name;
}

TEST_F(MainTimer, StartupPostsNeitherSwitchProfilesNorOpenOptions)
{
    gPrefs.bMultiMon = 0;
    ProfileSettings keep = gCurProfileSettings;
    ASSERT_NO_FATAL_FAILURE(SaveProfileForThisScreen("Desk"));
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

// A later start's "-PROFILE desk" makes the folder "Profile-Desk" current
// as "Desk": a display change to its own layout neither reloads it nor puts
// its last render over the desktop's picture again.
TEST_F(MainTimer, LaterStartsProfileInAnotherCaseIsNotReloadedByTheDisplay)
{
    gPrefs.bMultiMon = 0;
    ASSERT_NO_FATAL_FAILURE(SaveProfileForThisScreen("Desk"));
    WriteWhole(folder + "\\Profile-Desk\\Veltaspar.bmp", "desk's last render");
    const char *cmd = "-PROFILE desk";
    ASSERT_GT(WriteRecordFile("(QRF)Cmd", -1, cmd, (int)strlen(cmd) + 1, 0), 0);
    gApp.minimize = 1;   // no options dialog
    MainWindowProc(0, QRFM_SHOW, 0, 0);
    gApp.minimize = 0;
    EXPECT_STREQ("Desk", gPrefs.szCurProfile);
    EXPECT_EQ("desk's last render", ReadWhole(Picture(0)));
    WriteWhole(Picture(0), "rendered since");
    MainWindowProc(0, WM_DISPLAYCHANGE, 24, 0);
    EXPECT_STREQ("Desk", gPrefs.szCurProfile);
    EXPECT_EQ("rendered since", ReadWhole(Picture(0)));
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

// The options dialog at start: a hidden main window sets the minimize byte
// and opens nothing, nor does "-AUTOSTART"; otherwise the real dialog
// opens, and one that cannot be created (a resource module without its
// template) is error 50.
TEST_F(MainTimer, OptionsAtStartReportTheirFailure)
{
    gPrefs.bShowMain = 0;
    gApp.minimize = gApp.autoStart = 0;
    EXPECT_EQ(0, OpenOptionsAtStart());
    EXPECT_EQ(1, gApp.minimize);
    EXPECT_EQ(0, gOptionsDialog);

    gPrefs.bShowMain = 1;
    gApp.minimize = 0;
    gApp.autoStart = 1;
    EXPECT_EQ(0, OpenOptionsAtStart());
    EXPECT_EQ(0, gOptionsDialog);

    gApp.autoStart = 0;
    EXPECT_EQ(0, OpenOptionsAtStart());
    EXPECT_TRUE(gOptionsDialog && IsWindowVisible(gOptionsDialog));
    CloseOptionsDialog();
    ASSERT_TRUE(WaitFor(RenderJobsIdle));

    HINSTANCE own = gApp.instance;
    gApp.instance = GetModuleHandleA("kernel32.dll");
    EXPECT_EQ(ENTRY_ERROR_WINDOW, OpenOptionsAtStart());
    gApp.instance = own;
    EXPECT_EQ(50, ENTRY_ERROR_WINDOW);
    EXPECT_EQ(0, gOptionsDialog);
    gApp.minimize = 0;
}

}  // namespace
