#include <gtest/gtest.h>

#include <math.h>
#include <string.h>
#include <time.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "earth/compositor.h"
#include "earth/compositor_helpers.h"
#include "earth/mapfile.h"
#include "earth/renderjobs.h"
#include "earth/settings.h"
#include "framework/application.h"
#include "framework/installrecord.h"
#include "framework/seams.h"
#include "testutil.h"
#include "renderfixture.h"

static const double PI = 3.14159265358979323846;

// ---- watching the real renderer ---------------------------------------------

// Every render runs the real compositor on a tiny map set. It tells the
// progress sink when it is done drawing (also when a map was missing),
// before its final copy; a target
// file held open keeps that copy retrying, which holds a render there for as
// long as a test needs.
static volatile LONG gRendered;         // pictures drawn
static volatile LONG gCameraRunning;    // the camera job's flag while drawing
static void CountRendered(int percent)
{
    if (percent == 100) {
        gCameraRunning = gRenderJobs.running[RENDER_JOB_CAMERA_IMAGE];
        InterlockedIncrement(&gRendered);
    }
}

static bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A file opened for nobody else: no copy or move replaces it until released.
struct Hold {
    HANDLE file = INVALID_HANDLE_VALUE;
    Hold() {}
    explicit Hold(const std::string &path) { Take(path); }
    Hold(const Hold &) = delete;
    Hold &operator=(const Hold &) = delete;
    void Take(const std::string &path)
    {
        Release();
        file = CreateFileA(path.c_str(), GENERIC_READ, 0, 0, OPEN_ALWAYS, 0, 0);
        EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
    }
    void Release()
    {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
    }
    ~Hold() { Release(); }
};

// The size of a file, held or not; -1 when there is none.
static int64_t FileSize(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info))
        return -1;
    return ((int64_t)info.nFileSizeHigh << 32) | info.nFileSizeLow;
}

// Width and height of a 24-bit picture file, or -1, -1.
static std::pair<int, int> PictureSize(const std::string &path)
{
    std::string bytes = ReadWhole(path);
    BITMAPINFOHEADER info;
    if (bytes.size() < 14 + sizeof info || bytes[0] != 'B' || bytes[1] != 'M')
        return {-1, -1};
    memcpy(&info, bytes.data() + 14, sizeof info);
    int stride = (info.biWidth * 3 + 3) & ~3;
    if (info.biBitCount != 24 || bytes.size() != 54u + (size_t)stride * info.biHeight)
        return {-1, -1};
    return {info.biWidth, info.biHeight};
}


// Runs step on a thread of its own once the job's cancel flag is raised.
struct OnCancel {
    int job;
    std::function<void()> step;
    HANDLE thread;
    static DWORD WINAPI Run(LPVOID parameter)
    {
        OnCancel *self = (OnCancel *)parameter;
        for (int i = 0; i < 2000 && !gRenderJobs.cancel[self->job]; i++)
            Sleep(1);
        self->step();
        return 0;
    }
    OnCancel(int job, std::function<void()> step) : job(job), step(step)
    {
        thread = CreateThread(0, 0, Run, this, 0, 0);
    }
    ~OnCancel()
    {
        WaitForSingleObject(thread, 10000);
        CloseHandle(thread);
    }
};

class RenderJobs : public ::testing::Test {
protected:
    std::string data, install, profile;
    void (*savedRendered)(int);

    void SetUp() override
    {
        data = FreshTempFolder("jobs-data");
        install = FreshTempFolder("jobs-install");
        profile = data + "\\Profile-Test";
        CreateDirectoryA(profile.c_str(), 0);
        CopyText(gApp.dataFolder, data.c_str(), MAX_TEXT);
        CopyText((char *)gApp.installRecord + INSTALL_RECORD_INSTALL_PATH, install.c_str(),
                 INSTALL_RECORD_TEXT_BYTES);
        CopyText(gPrefs.szCurProfile, "Test", sizeof gPrefs.szCurProfile);
        gPrefs.bUseIdle = 0;
        gPrefs.iTimeBias = 0;
        gPrefs.iTransMove = 0;
        gScreenX = gScreenY = 0;
        gScreenW = 64;
        gScreenH = 32;
        // A held target: up to two seconds of retries.
        gComposeCopyAttempts = 400;
        gComposeCopyPauseMs = 5;
        WriteTinyMap(install + "\\Tiny.map", 8, 4);
        WriteTinyMap(install + "\\Tiny.min", MAP_MINI_WIDTH, MAP_MINI_HEIGHT);
        for (int list = 0; list < 2; list++) {
            ASSERT_TRUE(ResizeViewList(&gViewLists[list], 1));
            SetDefaultView(&gViewLists[list].data[0], list);
            CopyText(gViewLists[list].data[0].szMap, "Tiny", 64);
            gViewLists[list].data[0].bClouds = 0;
            gViewLists[list].data[0].bCities = 0;
        }
        memset((void *)&gRenderJobs, 0, sizeof gRenderJobs);
        memset((void *)gOutputStatus, 0, sizeof gOutputStatus);
        memset(&gPreviewHooks, 0, sizeof gPreviewHooks);
        gWallpaperReady = 0;
        gRendered = 0;
        gCameraRunning = 0;
        savedRendered = gProgressSink.rendered;
        gProgressSink.rendered = CountRendered;
        ASSERT_TRUE(buildCosineTable());
        buildRandomTable(0);
    }

    void TearDown() override
    {
        EXPECT_TRUE(WaitFor(RenderJobsIdle)) << "a job never cleared its running byte";
        gProgressSink.rendered = savedRendered;
        gComposeCopyAttempts = 2;
        gComposeCopyPauseMs = 10;
        FreeViewLists();
    }

    std::string InData(const char *name) { return data + "\\" + name; }
    std::string InProfile(const char *name) { return profile + "\\" + name; }
};

static const std::pair<int, int> kScreen(64, 32);
static const size_t kScreenBytes = 54 + 64 * 32 * 3;

// ---- requests ---------------------------------------------------------------

TEST_F(RenderJobs, ScreenSaverFirstAndWallpaperWaitsForTheNextRequest)
{
    Hold saver(InProfile("VTScrsvr.bmp"));
    EXPECT_EQ(RequestRender(RENDER_BOTH_OUTPUTS, 1, 0), 0);
    ASSERT_TRUE(WaitFor([] { return gRendered == 1; }));
    EXPECT_EQ(gRenderJobs.order, 1);
    EXPECT_EQ(gRenderJobs.running[1], 1);
    EXPECT_EQ(gRenderJobs.running[0], 0);
    EXPECT_EQ(gRenderJobs.pending[0], 1);
    EXPECT_EQ(gRenderJobs.pending[1], 0);

    // One output at a time: a pending-only request while the saver runs starts nothing.
    EXPECT_EQ(RequestRender(-1, 0, 0), 0);
    Sleep(50);
    EXPECT_EQ(gRendered, 1);
    EXPECT_EQ(gRenderJobs.running[0], 0);

    saver.Release();
    ASSERT_TRUE(WaitFor(RenderJobsIdle));
    EXPECT_EQ(gRendered, 1);
    EXPECT_TRUE(PictureSize(InProfile("VTScrsvr.bmp")) == kScreen);
    EXPECT_EQ(ReadWhole(InData("VTScrsvr.bmp")), ReadWhole(InProfile("VTScrsvr.bmp")));
    EXPECT_FALSE(Exists(InProfile("Veltaspar.bmp")));
    EXPECT_EQ(gRenderJobs.pending[0], 1) << "the wallpaper stays pending";

    EXPECT_EQ(RequestRender(-1, 0, 0), 0);
    ASSERT_TRUE(WaitFor([] { return gRendered == 2 && RenderJobsIdle(); }));
    EXPECT_TRUE(PictureSize(InProfile("Veltaspar.bmp")) == kScreen);
    EXPECT_EQ(gRenderJobs.pending[0], 0);
}

TEST_F(RenderJobs, OrderOtherThanOneStartsTheWallpaperFirst)
{
    Hold wallpaper(InProfile("Veltaspar.bmp"));
    EXPECT_EQ(RequestRender(RENDER_BOTH_OUTPUTS, 5, 0), 0);
    ASSERT_TRUE(WaitFor([] { return gRendered == 1; }));
    EXPECT_EQ(gRenderJobs.order, 0);
    EXPECT_EQ(gRenderJobs.running[0], 1);
    EXPECT_EQ(gRenderJobs.pending[1], 1);
    wallpaper.Release();
}

TEST_F(RenderJobs, PendingOnlyRequestWithNothingPendingDoesNothing)
{
    gRenderJobs.order = 0;
    EXPECT_EQ(RequestRender(-1, 1, 1), 0);
    EXPECT_EQ(gRenderJobs.order, 0) << "returns before storing the order";
    Sleep(50);
    EXPECT_EQ(gRendered, 0);
    EXPECT_TRUE(RenderJobsIdle());
}

TEST_F(RenderJobs, WaitingRequestCancelsTheRunningOutputAndRedoesIt)
{
    Hold drawing(InProfile("Veltaspar.bmp"));
    Hold copy;
    RequestRender(RENDER_JOB_WALLPAPER, 0, 0);
    ASSERT_TRUE(WaitFor([] { return gRendered == 1; }));
    {
        // Once cancelled, the drawn picture may go; the copy of the redone
        // one waits until the test has looked.
        OnCancel release(0, [&] {
            copy.Take(InData("Veltaspar.bmp"));
            drawing.Release();
        });
        EXPECT_EQ(RequestRender(RENDER_JOB_SCREENSAVER, 0, 1), 0);
    }
    ASSERT_TRUE(WaitFor([] { return gRendered == 2; }));
    EXPECT_EQ(gWallpaperReady, 0) << "a cancelled render copies nothing";
    EXPECT_EQ(FileSize(InData("Veltaspar.bmp")), 0);
    // The cancelled wallpaper was pending again and goes first by order 0.
    EXPECT_EQ(gRenderJobs.running[0], 1);
    EXPECT_EQ(gRenderJobs.cancel[0], 0);
    EXPECT_EQ(gRenderJobs.pending[1], 1);

    copy.Release();
    ASSERT_TRUE(WaitFor([] { return RenderJobsIdle(); }));
    EXPECT_EQ(gRendered, 2);
    EXPECT_EQ(ReadWhole(InData("Veltaspar.bmp")).size(), kScreenBytes);
    EXPECT_FALSE(Exists(InProfile("VTScrsvr.bmp")));
    EXPECT_EQ(gWallpaperReady, 1);
}

// ---- output jobs ------------------------------------------------------------

TEST_F(RenderJobs, UpdateOffWritesNothingAndLaterRequestsStillStart)
{
    gViewLists[0].data[0].bUpdate = 0;
    gOutputStatus[0] = 99;
    EXPECT_EQ(RequestRender(RENDER_JOB_WALLPAPER, 0, 0), 0);
    ASSERT_TRUE(WaitFor(RenderJobsIdle));
    EXPECT_EQ(gRendered, 0);
    EXPECT_EQ(gRenderJobs.status[0], 0);
    EXPECT_EQ(gOutputStatus[0], 0);
    EXPECT_EQ(gViewLists[0].data[0].tLastUpdate, 0) << "not stamped";
    EXPECT_FALSE(Exists(InProfile("Veltaspar.bmp")));
    EXPECT_FALSE(Exists(InData("Veltaspar.bmp")));
    EXPECT_EQ(gWallpaperReady, 0);

    gViewLists[0].data[0].bUpdate = 1;
    EXPECT_EQ(RequestRender(RENDER_JOB_WALLPAPER, 0, 0), 0);
    ASSERT_TRUE(WaitFor([] { return gRendered == 1 && RenderJobsIdle(); }));
    EXPECT_NEAR((double)gViewLists[0].data[0].tLastUpdate, (double)_time64(0), 5);
}

TEST_F(RenderJobs, EmptyViewListRendersNothingAndClearsRunning)
{
    ASSERT_TRUE(ResizeViewList(&gViewLists[1], 0));
    EXPECT_EQ(RequestRender(RENDER_JOB_SCREENSAVER, 0, 0), 0);
    ASSERT_TRUE(WaitFor(RenderJobsIdle));
    EXPECT_EQ(gRendered, 0);
    EXPECT_EQ(gRenderJobs.status[1], 0);
    EXPECT_EQ(RequestRender(RENDER_JOB_WALLPAPER, 0, 0), 0);
    ASSERT_TRUE(WaitFor([] { return gRendered == 1 && RenderJobsIdle(); }));
}

TEST_F(RenderJobs, UnreadableMapTrailerIsAmpersand)
{
    CopyText(gViewLists[0].data[0].szMap, "Missing", 64);
    RequestRender(RENDER_JOB_WALLPAPER, 0, 0);
    ASSERT_TRUE(WaitFor(RenderJobsIdle));
    EXPECT_EQ(gRenderJobs.status[0], '&');
    EXPECT_EQ(gOutputStatus[0], 38);
    EXPECT_EQ(gRendered, 0);

    // A trailer that does not match its file is unreadable too.
    std::string bad = ReadWhole(install + "\\Tiny.map");
    WriteWhole(install + "\\Short.map", bad.substr(3));
    CopyText(gViewLists[1].data[0].szMap, "Short", 64);
    RequestRender(RENDER_JOB_SCREENSAVER, 0, 0);
    ASSERT_TRUE(WaitFor(RenderJobsIdle));
    EXPECT_EQ(gOutputStatus[1], '&');

    CopyText(gViewLists[0].data[0].szMap, "Tiny", 64);
    RequestRender(RENDER_JOB_WALLPAPER, 0, 0);
    ASSERT_TRUE(WaitFor([] { return gRendered == 1 && RenderJobsIdle(); }));
    EXPECT_EQ(gOutputStatus[0], 0);
}

TEST_F(RenderJobs, OutputListTakesTrailerScreenAndTimeButLeavesSavedViews)
{
    ASSERT_TRUE(ResizeViewList(&gViewLists[0], 2));
    SetDefaultView(&gViewLists[0].data[1], 0);
    CopyText(gViewLists[0].data[1].szMap, "Tiny", 64);
    gViewLists[0].data[1].iMapW = 999;
    gViewLists[0].data[1].bClouds = gViewLists[0].data[1].bCities = 0;
    ViewList jobs;
    ASSERT_EQ(BuildOutputList(&gViewLists[0], &jobs), 0);
    ASSERT_EQ(jobs.count, 2);
    for (int i = 0; i < jobs.count; i++) {
        const ViewOptions &j = jobs.data[i];
        EXPECT_EQ(j.iOutputW, 64);
        EXPECT_EQ(j.iOutputH, 32);
        EXPECT_EQ(j.iMapW, 8);
        EXPECT_EQ(j.iMapH, 4);
        EXPECT_EQ(j.bSeasonEnable, 1);
        EXPECT_GT(j.tTime.tm_year, 120);
    }
    jobs.RemoveAll();
    // The render of the same list draws both on the screen's picture.
    RequestRender(RENDER_JOB_WALLPAPER, 0, 0);
    ASSERT_TRUE(WaitFor([] { return gRendered == 1 && RenderJobsIdle(); }));
    EXPECT_EQ(gRenderJobs.status[0], 0);
    EXPECT_TRUE(PictureSize(InData("Veltaspar.bmp")) == kScreen);
    EXPECT_EQ(gViewLists[0].data[1].iMapW, 999);
    EXPECT_EQ(gViewLists[0].data[0].iOutputW, 0);
}

TEST_F(RenderJobs, ZeroScreenSizeMeansThePrimaryScreen)
{
    gScreenW = 0;
    int w, h;
    OutputScreenSize(&w, &h);
    EXPECT_EQ(w, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(h, GetSystemMetrics(SM_CYSCREEN));
    gScreenW = 100;
    gScreenH = 50;
    OutputScreenSize(&w, &h);
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 50);
}

TEST_F(RenderJobs, SuccessCopiesIntoTheDataFolderAndRaisesTheFlag)
{
    RequestRender(RENDER_JOB_WALLPAPER, 0, 0);
    ASSERT_TRUE(WaitFor([] { return gRendered == 1 && RenderJobsIdle(); }));
    EXPECT_EQ(gRenderJobs.status[0], 0);
    ASSERT_TRUE(Exists(InData("Veltaspar.bmp")));
    EXPECT_EQ(ReadWhole(InData("Veltaspar.bmp")), ReadWhole(InProfile("Veltaspar.bmp")));
    EXPECT_EQ(ReadWhole(InData("Veltaspar.bmp")).size(), kScreenBytes);
    EXPECT_EQ(gWallpaperReady, 1);

    gWallpaperReady = 0;
    RequestRender(RENDER_JOB_SCREENSAVER, 0, 0);
    ASSERT_TRUE(WaitFor([] { return gRendered == 2 && RenderJobsIdle(); }));
    EXPECT_EQ(ReadWhole(InData("VTScrsvr.bmp")), ReadWhole(InProfile("VTScrsvr.bmp")));
    EXPECT_EQ(ReadWhole(InData("VTScrsvr.bmp")).size(), kScreenBytes);
    EXPECT_EQ(gWallpaperReady, 0) << "only the wallpaper raises it";
}

TEST_F(RenderJobs, FailureOrCancelCopiesNothing)
{
    // The compositor reports its own failed final copy; the picture it may
    // have left must not reach the desktop.
    gComposeCopyAttempts = 3;
    {
        Hold target(InProfile("Veltaspar.bmp"));
        RequestRender(RENDER_JOB_WALLPAPER, 0, 0);
        ASSERT_TRUE(WaitFor([] { return gRendered == 1 && RenderJobsIdle(); }));
    }
    EXPECT_EQ(gOutputStatus[0], 'C');
    EXPECT_FALSE(Exists(InData("Veltaspar.bmp")));
    EXPECT_EQ(gWallpaperReady, 0);

    gComposeCopyAttempts = 400;
    WriteWhole(InProfile("Veltaspar.bmp"), "old picture");
    Hold target(InProfile("Veltaspar.bmp"));
    RequestRender(RENDER_JOB_WALLPAPER, 0, 0);
    ASSERT_TRUE(WaitFor([] { return gRendered == 2; }));
    gRenderJobs.cancel[0] = 1;
    target.Release();
    ASSERT_TRUE(WaitFor(RenderJobsIdle));
    EXPECT_EQ(gRenderJobs.status[0], 0);
    EXPECT_FALSE(Exists(InData("Veltaspar.bmp")));
    EXPECT_EQ(gWallpaperReady, 0);
}

TEST_F(RenderJobs, RealCompositorWritesTheWallpaper)
{
    gScreenW = 16;
    gScreenH = 8;
    RequestRender(RENDER_JOB_WALLPAPER, 0, 0);
    ASSERT_TRUE(WaitFor(RenderJobsIdle));
    EXPECT_EQ(gRenderJobs.status[0], 0);
    std::string picture = ReadWhole(InData("Veltaspar.bmp"));
    EXPECT_EQ(picture.size(), 54u + 8 * 48);
    EXPECT_EQ(picture, ReadWhole(InProfile("Veltaspar.bmp")));
    EXPECT_EQ(gWallpaperReady, 1);
}

// ---- previews and the camera image -------------------------------------------

static std::vector<std::string> gShown[3];
static int gCaptionCleared;
static void ShowScreen(const char *path) { gShown[0].push_back(path); }
static void ShowMap(const char *path) { gShown[1].push_back(path); }
static void ShowCamera(const char *path) { gShown[2].push_back(path); }
static void ClearCaption() { gCaptionCleared++; }

static void UseHooks(int screenWidth, int mapWidth, int cameraWidth)
{
    for (auto &shown : gShown)
        shown.clear();
    gCaptionCleared = 0;
    gPreviewHooks.screenPreviewWidth = screenWidth;
    gPreviewHooks.mapPreviewWidth = mapWidth;
    gPreviewHooks.cameraImageWidth = cameraWidth;
    gPreviewHooks.showScreenPreview = ShowScreen;
    gPreviewHooks.showMapPreview = ShowMap;
    gPreviewHooks.showCameraImage = ShowCamera;
    gPreviewHooks.clearCameraCaption = ClearCaption;
}

TEST_F(RenderJobs, ScreenPreviewUsesMiniatureMapsAtControlSize)
{
    UseHooks(100, 0, 0);
    ViewOptions *v = &gViewLists[0].data[0];
    v->iMapW = 4320;
    v->dSMpZoom = 0.5;
    v->iPrjType = 0;   // a globe keeps its zoom
    ViewList jobs;
    ASSERT_EQ(BuildScreenPreviewList(&jobs, 100), 0);
    ASSERT_EQ(jobs.count, 1);
    EXPECT_EQ(jobs.data[0].iMapW, 300);
    EXPECT_EQ(jobs.data[0].iMapH, 150);
    EXPECT_EQ(jobs.data[0].iOutputW, 100);
    EXPECT_EQ(jobs.data[0].iOutputH, 50);   // the 64 x 32 screen's shape
    EXPECT_DOUBLE_EQ(jobs.data[0].dSMpZoom, 0.5 * (4320 / 300.0) / (64 / 100.0));
    jobs.RemoveAll();

    EXPECT_EQ(StartScreenPreview(), 0);
    ASSERT_TRUE(WaitFor([] { return gRendered == 1 && RenderJobsIdle(); }));
    ASSERT_EQ(gShown[0].size(), 1u);
    EXPECT_EQ(gShown[0][0], InProfile("VTScrPrv.bmp"));
    EXPECT_TRUE(PictureSize(InProfile("VTScrPrv.bmp")) == std::make_pair(100, 50));
    EXPECT_EQ(gRenderJobs.status[2], 0);

    DeleteFileA((install + "\\Tiny.min").c_str());   // no miniature map
    StartScreenPreview();
    ASSERT_TRUE(WaitFor([] { return gShown[0].size() == 2 && RenderJobsIdle(); }));
    EXPECT_EQ(gShown[0][1], "") << "a failure clears the control";
    EXPECT_EQ(gOutputStatus[2], '+');
}

TEST_F(RenderJobs, ScreenPreviewOfTheEditedList)
{
    UseHooks(100, 0, 0);
    gPreviewHooks.list = &gViewLists[1];
    ASSERT_TRUE(ResizeViewList(&gViewLists[1], 2));
    SetDefaultView(&gViewLists[1].data[1], 1);
    CopyText(gViewLists[1].data[1].szMap, "Tiny", 64);
    gViewLists[1].data[1].bClouds = gViewLists[1].data[1].bCities = 0;
    ViewList jobs;
    ASSERT_EQ(BuildScreenPreviewList(&jobs, 100), 0);
    EXPECT_EQ(jobs.count, 2);
    jobs.RemoveAll();
    StartScreenPreview();
    ASSERT_TRUE(WaitFor([] { return gRendered == 1 && RenderJobsIdle(); }));
    EXPECT_EQ(gRenderJobs.status[2], 0);
    ASSERT_EQ(gShown[0].size(), 1u);
}

TEST_F(RenderJobs, NewScreenPreviewCancelsTheOldOneAndShowsOnlyTheNew)
{
    UseHooks(100, 0, 0);
    Hold target(InProfile("VTScrPrv.bmp"));
    StartScreenPreview();
    ASSERT_TRUE(WaitFor([] { return gRendered == 1; }));
    {
        OnCancel release(RENDER_JOB_SCREEN_PREVIEW, [&] { target.Release(); });
        EXPECT_EQ(StartScreenPreview(), 0);
    }
    ASSERT_TRUE(WaitFor([] { return gRendered == 2 && RenderJobsIdle(); }));
    EXPECT_EQ(gShown[0].size(), 1u) << "the cancelled one shows nothing";
    EXPECT_TRUE(PictureSize(InProfile("VTScrPrv.bmp")) == std::make_pair(100, 50));
}

TEST_F(RenderJobs, PreviewsWithoutTheirControlRenderNothing)
{
    UseHooks(0, 0, 0);
    EXPECT_EQ(StartScreenPreview(), 0);
    EXPECT_EQ(StartMapPreview(), 0);
    EXPECT_EQ(RenderCameraImage(), 0);
    ASSERT_TRUE(WaitFor(RenderJobsIdle));
    EXPECT_EQ(gRendered, 0);
    for (auto &shown : gShown)
        EXPECT_TRUE(shown.empty());
}

TEST_F(RenderJobs, MapPreviewIsTheDefaultViewWithTheEditedMapAndSeasons)
{
    UseHooks(0, 121, 0);
    ViewOptions *v = &gViewLists[0].data[0];
    CopyText(v->szMap, "Other", 64);
    v->bSeasonEnable = 0;
    v->iSeasonMonth = 7;
    v->bCities = 1;
    v->iPrjType = 0;
    ViewList jobs;
    ASSERT_EQ(BuildMapList(&jobs, 121), 0);
    ASSERT_EQ(jobs.count, 1);
    const ViewOptions &j = jobs.data[0];
    EXPECT_STREQ(j.szMap, "Other");
    EXPECT_EQ(j.bSeasonEnable, 0);
    EXPECT_EQ(j.iSeasonMonth, 7);
    EXPECT_EQ(j.bCities, DefaultView(0)->bCities);
    EXPECT_EQ(j.iPrjType, DefaultView(0)->iPrjType);
    EXPECT_EQ(j.iMapW, 300);
    EXPECT_EQ(j.iMapH, 150);
    EXPECT_EQ(j.iOutputW, 120);   // 121 x 60 fitted to the 2:1 map
    EXPECT_EQ(j.iOutputH, 60);
    jobs.RemoveAll();

    CopyText(v->szMap, "Tiny", 64);
    EXPECT_EQ(StartMapPreview(), 0);
    ASSERT_TRUE(WaitFor([] { return gRendered == 1 && RenderJobsIdle(); }));
    EXPECT_EQ(gRenderJobs.status[RENDER_JOB_MAP_PREVIEW], 0);
    ASSERT_EQ(gShown[1].size(), 1u);
    EXPECT_EQ(gShown[1][0], InProfile("VTMapPrv.bmp"));
    EXPECT_TRUE(PictureSize(InProfile("VTMapPrv.bmp")) == std::make_pair(120, 60));
}

TEST_F(RenderJobs, CameraImageRendersOnTheCallersThread)
{
    UseHooks(0, 0, 200);
    std::string mini = ReadWhole(install + "\\Tiny.min");
    DeleteFileA((install + "\\Tiny.min").c_str());   // no miniature map
    EXPECT_EQ(RenderCameraImage(), '+');
    EXPECT_EQ(gRenderJobs.running[4], 0);
    EXPECT_EQ(gRenderJobs.status[4], '+');
    ASSERT_EQ(gShown[2].size(), 1u);
    EXPECT_EQ(gShown[2][0], "");
    EXPECT_EQ(gCaptionCleared, 1);

    WriteWhole(install + "\\Tiny.min", mini);
    LONG before = gRendered;
    gCameraRunning = 0;
    EXPECT_EQ(RenderCameraImage(), 0);
    EXPECT_EQ(gRendered, before + 1);   // drawn before it returned
    EXPECT_EQ(gCameraRunning, 1);
    EXPECT_EQ(gShown[2].back(), InData("VTCamImg.bmp"));
    EXPECT_TRUE(PictureSize(InData("VTCamImg.bmp")) == std::make_pair(200, 100));
    EXPECT_EQ(gCaptionCleared, 2);
}

// ---- picture time -----------------------------------------------------------

TEST_F(RenderJobs, PictureTimeAddsBiasAndTransitionMinutes)
{
    gPrefs.iTimeBias = 90;
    gPrefs.iTransMove = 30;
    struct tm t;
    PictureTime(&t);
    EXPECT_NEAR((double)_mkgmtime64(&t), (double)(_time64(0) + 120 * 60), 3);
}

// ---- camera paths -----------------------------------------------------------

static std::unique_ptr<ViewOptions> NewView()
{
    std::unique_ptr<ViewOptions> v(new ViewOptions());
    SetDefaultView(v.get(), 0);
    return v;
}

static void SetPoint(ViewOptions *v, int i, double lat, double lon, double zoom, int minutes)
{
    v->sCamPath[i].lat = lat;
    v->sCamPath[i].lon = lon;
    v->sCamPath[i].zoom = zoom;
    v->sCamPath[i].time = minutes;
}

static void At(ViewOptions *v, int hour, int minute, int second)
{
    v->tTime.tm_hour = hour;
    v->tTime.tm_min = minute;
    v->tTime.tm_sec = second;
}

static double LatitudeAt(ViewOptions *v, int hour, int minute, int second)
{
    At(v, hour, minute, second);
    double lat, lon, zoom;
    CameraPathPosition(v, &lat, &lon, &zoom);
    return lat;
}

TEST(CameraPath, NoPointsIsTheOriginAtZoomOne)
{
    auto v = NewView();
    v->iCamSteps = 0;
    SetPoint(v.get(), 0, 1, 2, 3, 0);   // ignored: not counted
    double lat = -9, lon = -9, zoom = -9;
    CameraPathPosition(v.get(), &lat, &lon, &zoom);
    EXPECT_EQ(lat, 0);
    EXPECT_EQ(lon, 0);
    EXPECT_EQ(zoom, 1);
}

TEST(CameraPath, OnePointStandsStill)
{
    auto v = NewView();
    v->iCamSteps = 1;
    SetPoint(v.get(), 0, 0.5, -1.25, 2, 600);
    At(v.get(), 17, 3, 9);
    double lat, lon, zoom;
    CameraPathPosition(v.get(), &lat, &lon, &zoom);
    EXPECT_EQ(lat, 0.5);
    EXPECT_EQ(lon, -1.25);
    EXPECT_EQ(zoom, 2);
}

TEST(CameraPath, TwoPointsThirtyMinutesApartCycleEveryThirtyMinutes)
{
    auto v = NewView();
    v->iCamSteps = 2;
    SetPoint(v.get(), 0, 0, 0, 1, 10);   // starts at 00:10
    SetPoint(v.get(), 1, 1, -2, 3, 30);
    EXPECT_DOUBLE_EQ(LatitudeAt(v.get(), 0, 10, 0), 0);
    EXPECT_DOUBLE_EQ(LatitudeAt(v.get(), 0, 25, 0), 0.5);
    EXPECT_DOUBLE_EQ(LatitudeAt(v.get(), 0, 40, 0), 0);
    EXPECT_DOUBLE_EQ(LatitudeAt(v.get(), 0, 4, 0), 0.8);        // before the start: wraps
    EXPECT_DOUBLE_EQ(LatitudeAt(v.get(), 13, 47, 30), 0.25);
    At(v.get(), 0, 32, 30);   // 0.75 of the way
    double lat, lon, zoom;
    CameraPathPosition(v.get(), &lat, &lon, &zoom);
    EXPECT_DOUBLE_EQ(lon, -1.5);
    EXPECT_DOUBLE_EQ(zoom, 2.5);
}

TEST(CameraPath, ZeroMinuteLegsJumpAndAllZeroStandsAtTheFirstPoint)
{
    auto v = NewView();
    v->iCamSteps = 4;
    SetPoint(v.get(), 0, 0, 0, 1, 0);
    SetPoint(v.get(), 1, 1, 0, 1, 10);
    SetPoint(v.get(), 2, 5, 0, 1, 0);   // a jump
    SetPoint(v.get(), 3, 7, 0, 1, 10);
    EXPECT_DOUBLE_EQ(LatitudeAt(v.get(), 0, 5, 0), 0.5);
    EXPECT_DOUBLE_EQ(LatitudeAt(v.get(), 0, 10, 0), 5);
    EXPECT_DOUBLE_EQ(LatitudeAt(v.get(), 0, 15, 0), 6);
    EXPECT_DOUBLE_EQ(LatitudeAt(v.get(), 0, 20, 0), 0);

    for (int i = 1; i < 4; i++)
        v->sCamPath[i].time = 0;
    double lat, lon, zoom;
    At(v.get(), 6, 0, 0);
    CameraPathPosition(v.get(), &lat, &lon, &zoom);
    EXPECT_EQ(lat, 0);
    EXPECT_EQ(zoom, 1);
    EXPECT_FALSE(isnan(lat));
}

TEST(CameraPath, EndMarkInsideTheCountEndsThePath)
{
    auto v = NewView();
    v->iCamSteps = 3;
    SetPoint(v.get(), 0, 0, 0, 1, 0);
    SetPoint(v.get(), 1, 1, 0, 1, 10);
    SetPoint(v.get(), 2, 9, 0, 1, -1);
    EXPECT_DOUBLE_EQ(LatitudeAt(v.get(), 0, 15, 0), 0.5);   // a 10-minute cycle
}

// ---- view placement ---------------------------------------------------------

static std::unique_ptr<ViewOptions> FlatView(int outW, int outH)
{
    auto v = NewView();
    v->iPrjType = 1;
    v->iViewMode = 0;
    v->iMapW = 400;
    v->iMapH = 200;
    v->iOutputW = outW;
    v->iOutputH = outH;
    v->dSMpZoom = 0.01;
    v->sSelMap.p[0] = v->sSelMap.p[1] = 0.5;
    v->sSelScr.p[0] = v->sSelScr.p[1] = 0;
    v->sSelScr.p[2] = v->sSelScr.p[3] = 1;
    v->iViewRoi = 0;
    return v;
}

static std::unique_ptr<ViewOptions> GlobeView(int outW, int outH)
{
    auto v = FlatView(outW, outH);
    v->iPrjType = 0;
    v->bHalo = 0;
    return v;
}

#define EXPECT_RECT(area, a, b, c, d)                                                          \
    do {                                                                                      \
        EXPECT_EQ((area)[0], a);                                                              \
        EXPECT_EQ((area)[1], b);                                                              \
        EXPECT_EQ((area)[2], c);                                                              \
        EXPECT_EQ((area)[3], d);                                                              \
    } while (0)

TEST(PlaceView, FlatMapLetterboxOnANarrowOutput)
{
    auto v = FlatView(400, 300);
    PlaceView(v.get());
    EXPECT_DOUBLE_EQ(v->dSMpZoom, 1);   // raised until the map fills the width
    EXPECT_RECT(v->iMapArea, 0, 0, 399, 199);
    EXPECT_RECT(v->iClpArea, 0, 0, 399, 299);
    EXPECT_RECT(v->iDtpArea, 0, 50, 399, 249);
}

TEST(PlaceView, FlatMapPillarboxOnAWideOutput)
{
    auto v = FlatView(800, 200);
    PlaceView(v.get());
    EXPECT_DOUBLE_EQ(v->dSMpZoom, 1);
    EXPECT_RECT(v->iMapArea, 0, 0, 399, 199);
    EXPECT_RECT(v->iDtpArea, 200, 0, 599, 199);
}

TEST(PlaceView, FlatMapAreaShiftedAtTheTopAndBottomEdges)
{
    auto v = FlatView(400, 300);
    v->dSMpZoom = 4;   // 100 x 75 map pixels, halves 50 and 37
    v->sSelMap.p[1] = 0.05;
    PlaceView(v.get());
    EXPECT_RECT(v->iMapArea, 150, 0, 249, 73);
    v->sSelMap.p[1] = 0.98;
    PlaceView(v.get());
    EXPECT_RECT(v->iMapArea, 150, 126, 249, 199);
}

TEST(PlaceView, ViewRoiKeepsTheChosenPointInsideAFlatMap)
{
    auto v = FlatView(400, 300);
    v->dSMpZoom = 4;
    v->iViewMode = 2;   // centred on the camera at (0, 0): map pixel (200, 100)
    v->iCamSteps = 1;
    SetPoint(v.get(), 0, 0, 0, 1, 0);
    v->sSelMap.p[0] = 0.1;   // map x 40; margin 400 / 10 / 4 = 10
    PlaceView(v.get());
    EXPECT_RECT(v->iMapArea, 150, 63, 249, 136);
    v->iViewRoi = 1;
    PlaceView(v.get());
    EXPECT_RECT(v->iMapArea, 30, 63, 129, 136);
}

TEST(PlaceView, ClipAreaFromTheScreenSelection)
{
    auto v = FlatView(400, 300);
    v->sSelScr.p[0] = 0.25;
    v->sSelScr.p[1] = 0.1;
    v->sSelScr.p[2] = 0.75;
    v->sSelScr.p[3] = 0.9;
    PlaceView(v.get());
    EXPECT_RECT(v->iClpArea, 100, 30, 299, 269);
}

TEST(PlaceView, SmallGlobeFillsTheShorterSideCentred)
{
    auto v = GlobeView(400, 300);
    v->sSelMap.p[0] = 0.75;
    v->sSelMap.p[1] = 0.25;
    PlaceView(v.get());
    EXPECT_RECT(v->iDtpArea, 50, 0, 349, 299);
    EXPECT_NEAR(v->dRotateZ, PI / 2, 1e-12);
    EXPECT_NEAR(v->dRotateY, PI / 4, 1e-12);
}

TEST(PlaceView, ZoomedGlobeDiameterFromTheMapScale)
{
    auto v = GlobeView(400, 300);
    v->dSMpZoom = 3;   // k = 3 / pi: diameter trunc(400 k) = 381
    PlaceView(v.get());
    EXPECT_RECT(v->iDtpArea, 9, -40, 389, 340);
}

TEST(PlaceView, HaloMarginAlongTheLimitingSide)
{
    auto v = GlobeView(400, 300);
    v->bHalo = 1;
    v->iOHaloRadius = 40;   // margin 0.04 x 0.5 of the selection's height
    PlaceView(v.get());
    EXPECT_RECT(v->iDtpArea, 56, 6, 343, 293);

    v->sSelScr.p[2] = 0.5;   // 200 x 300: now limited by the width
    PlaceView(v.get());
    EXPECT_RECT(v->iClpArea, 0, 0, 199, 299);
    EXPECT_RECT(v->iDtpArea, 4, 54, 195, 245);

    auto flat = FlatView(400, 300);
    flat->bHalo = 1;
    PlaceView(flat.get());
    EXPECT_RECT(flat->iDtpArea, 0, 50, 399, 249);   // no halo margin on a flat map
}

TEST(PlaceView, ViewRoiClampsTheGlobeCentreNearTheChosenPoint)
{
    auto v = GlobeView(400, 300);
    v->iViewMode = 2;
    v->iCamSteps = 1;
    SetPoint(v.get(), 0, -1, -2, 1, 0);
    v->sSelMap.p[0] = 0.75;   // longitude pi/2
    v->sSelMap.p[1] = 0.25;   // latitude pi/4
    v->iViewRoi = 1;
    PlaceView(v.get());
    double range = 0.6 * PI / 2;   // the globe fits: the whole range
    EXPECT_NEAR(v->dRotateZ, PI / 2 - range, 1e-9);
    EXPECT_NEAR(v->dRotateY, PI / 4 - range, 1e-9);

    v->dSMpZoom = 3;   // diameter 381 overflows the 300 rows
    PlaceView(v.get());
    EXPECT_NEAR(v->dRotateZ, PI / 2 - range, 1e-9);
    EXPECT_NEAR(v->dRotateY, PI / 4 - 0.6 * (PI / 2 - acos(300.0 / 381)), 1e-9);

    v->iViewRoi = 0;
    PlaceView(v.get());
    EXPECT_NEAR(v->dRotateZ, -2, 1e-12);
    EXPECT_NEAR(v->dRotateY, -1, 1e-12);
}

TEST(PlaceView, CameraZoomScalesTheMapZoom)
{
    auto v = GlobeView(400, 300);
    v->iViewMode = 2;
    v->iCamSteps = 1;
    SetPoint(v.get(), 0, 0, 0, 3, 0);
    v->dSMpZoom = 1;
    PlaceView(v.get());
    EXPECT_DOUBLE_EQ(v->dSMpZoom, 3);
}

// ---- random selection -------------------------------------------------------

TEST(RandomSelection, NeverLeavesTheOutput)
{
    buildRandomTable(0);
    auto v = NewView();
    const double starts[3][4] = {{0, 0, 1, 1}, {0.8, 0.7, 1, 1}, {0, 0, 0.6, 0.2}};
    for (int flags = 1; flags <= 3; flags++) {
        for (const auto &start : starts) {
            for (int i = 0; i < 3000; i++) {
                memcpy(v->sSelScr.p, start, sizeof start);
                v->bRndSize = (flags & 1) != 0;
                v->bRndPos = (flags & 2) != 0;
                RandomizeSelection(v.get());
                const double *r = v->sSelScr.p;
                ASSERT_GE(r[0], 0);
                ASSERT_GE(r[1], 0);
                ASSERT_LE(r[2], 1);
                ASSERT_LE(r[3], 1);
                ASSERT_LE(r[0], r[2]);
                ASSERT_LE(r[1], r[3]);
                double w = r[2] - r[0], h = r[3] - r[1];
                double w0 = start[2] - start[0], h0 = start[3] - start[1];
                ASSERT_NEAR(w * h0, h * w0, 1e-9) << "keeps the aspect";
                if (v->bRndSize)
                    ASSERT_GE(w > h ? w : h, 0.1 - 1e-12);
                else
                    ASSERT_NEAR(w, w0, 1e-12);
            }
        }
    }
}

TEST(RandomSelection, SizeOnlyKeepsTheCentreAndTheAspect)
{
    buildRandomTable(0);
    auto v = NewView();
    v->bRndSize = 1;
    v->bRndPos = 0;
    v->sSelScr.p[0] = 0.3;
    v->sSelScr.p[1] = 0.4;
    v->sSelScr.p[2] = 0.7;
    v->sSelScr.p[3] = 0.6;
    gRandomTableStart = 0;
    double draw = RandomTable[0];
    RandomizeSelection(v.get());
    double longer = 0.1 + 0.9 * draw;
    const double *r = v->sSelScr.p;
    EXPECT_NEAR(r[2] - r[0], longer, 1e-12);
    EXPECT_NEAR(r[3] - r[1], longer / 2, 1e-12);
    EXPECT_NEAR((r[0] + r[2]) / 2, 0.5, 1e-12);
    EXPECT_NEAR((r[1] + r[3]) / 2, 0.5, 1e-12);
    EXPECT_EQ(gRandomTableStart, 1);
}
