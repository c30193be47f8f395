#include <gtest/gtest.h>

#include <string.h>
#include <time.h>

#include "earth/clouds.h"
#include "earth/maintenance.h"
#include "shell/progress.h"
#include "earth/renderjobs.h"
#include "earth/scramble.h"
#include "earth/settings.h"
#include "framework/application.h"
#include "imaging/image.h"
#include "testutil.h"

// Pictures are made here: drawn, encoded as JPEG by the image library and
// scrambled as the program stores them.
typedef RGBQUAD (*PixelFn)(int x, int top);

static std::string ScrambledJpeg(int width, int height, PixelFn pixel, int quality = 100)
{
    CImage image;
    image.Create(width, height, 24, FORMAT_JPG);
    for (int top = 0; top < height; top++)
        for (int x = 0; x < width; x++)
            image.SetPixelColor(x, height - 1 - top, pixel(x, top));
    image.SetJpegQuality(quality);
    unsigned char *jpeg = 0;
    int32_t size = 0;
    EXPECT_TRUE(image.Encode(&jpeg, &size, FORMAT_JPG)) << image.GetLastError();
    std::string bytes((const char *)jpeg, size);
    CDibImage::FreeEncodedBuffer(jpeg);
    ScrambleBytes((uint8_t *)&bytes[0], (uint32_t)bytes.size());
    return bytes;
}

static RGBQUAD Rgb(int r, int g, int b)
{
    RGBQUAD c = {(BYTE)b, (BYTE)g, (BYTE)r, 0};
    return c;
}

// Top half orange, bottom half blue, in flat 16-pixel blocks.
static RGBQUAD Halves(int, int top) { return top < 16 ? Rgb(200, 100, 50) : Rgb(20, 40, 230); }
static RGBQUAD Gradient(int x, int top) { return Rgb((x * 7) & 255, (top * 5) & 255, (x + top) & 255); }
static RGBQUAD Flat(int, int) { return Rgb(90, 150, 60); }

static int Grey(RGBQUAD c) { return (306 * c.rgbRed + 601 * c.rgbGreen + 117 * c.rgbBlue) >> 10; }

static std::string gData, gOwn;

static std::string DataFile(const char *name) { return gData + "\\" + name; }
static std::string OwnFile(const char *name) { return gOwn + "\\" + name; }

static bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

static uint32_t TrailerWord(const std::string &file, int index)
{
    uint32_t word = 0;
    if (file.size() >= 12)
        memcpy(&word, file.data() + file.size() - 12 + 4 * index, 4);
    return word;
}

// ---------------------------------------------------------------- fake transport

struct FakeTransport {
    int calls;
    int answer;
    std::string body;
    std::string lastModified, finalUrl;
    std::string url, user, ifModifiedSince, proxyServer;
    int proxyPort;
    bool proxyUserGiven;
};
static FakeTransport gFake;

static int FakeGet(HttpFileRequest *request)
{
    gFake.calls++;
    gFake.url = request->url;
    gFake.user = request->user ? request->user : "";
    gFake.ifModifiedSince = request->ifModifiedSince ? request->ifModifiedSince : "";
    gFake.proxyServer = request->proxyServer ? request->proxyServer : "";
    gFake.proxyPort = request->proxyPort;
    gFake.proxyUserGiven = request->proxyUser != 0;
    CopyText(request->lastModified, gFake.lastModified.c_str(), HTTP_MODIFIED_SIZE);
    CopyText(request->finalUrl, gFake.finalUrl.c_str(), HTTP_URL_SIZE);
    // The body in two pieces, as a real transfer would bring it.
    size_t half = gFake.body.size() / 2;
    const char *data = gFake.body.data();
    if (request->progress)
        request->progress(request->context, 0, (int64_t)gFake.body.size());
    int stop = request->body(request->context, data, (uint32_t)half);
    if (!stop)
        stop = request->body(request->context, data + half, (uint32_t)(gFake.body.size() - half));
    return stop ? stop : gFake.answer;
}

struct RenderRecord {
    int calls, which, previews;
};
static RenderRecord gRenders;
static bool gDialogOpen;
static int FakeRender(int which, int, int)
{
    gRenders.calls++;
    gRenders.which = which;
    return 0;
}
static int FakePreview()
{
    gRenders.previews++;
    return 0;
}
static bool FakeDialogOpen() { return gDialogOpen; }

class Clouds : public ::testing::Test {
protected:
    void SetUp() override
    {
        gData = FreshTempFolder("clouds-data");
        gOwn = FreshTempFolder("clouds-own");
        CopyText(gApp.dataFolder, gData.c_str(), MAX_TEXT);
        CopyText(gApp.ownFolder, gOwn.c_str(), MAX_TEXT);
        memcpy(&gPrefs, &kDefaultPrefs, sizeof gPrefs);
        gPrefs.iCloudsEnhance = 0;
        gPrefs.iCloudsRes = 1;
        gCloudCopyRetries = 60;
        gCloudCopyPauseMs = 1000;
        gFake = FakeTransport();
        gFake.answer = 0;
        gHttpGetToFile = FakeGet;
        gRenders = RenderRecord();
        gDialogOpen = false;
        gCloudHooks.optionsDialogOpen = FakeDialogOpen;
        gCloudHooks.startScreenPreview = FakePreview;
        gCloudHooks.requestRender = FakeRender;
        InstallProgressSink();
        RegisterProgressWindow(0);
        ResizeViewList(&gViewLists[0], 0);
        ResizeViewList(&gViewLists[1], 0);
    }
    void TearDown() override { gHttpGetToFile = 0; }

    void UseDownload(const std::string &bytes)
    {
        gPrefs.iCloudsData = CLOUDS_DATA_AUTOMATIC;
        WriteWhole(DataFile("Clouds.net"), bytes);
    }
};

// ---------------------------------------------------------------- cloud map

TEST_F(Clouds, MapIsGreyRowsTopFirstWithTrailer)
{
    std::string jpeg = ScrambledJpeg(64, 32, Halves);
    UseDownload(jpeg);
    ASSERT_EQ(GenerateCloudMap(), 0);
    EXPECT_STREQ(GetProgressText(), "Update complete");
    EXPECT_EQ(GetProgressPercent(), -1);

    std::string map = ReadWhole(DataFile("Clouds.map"));
    ASSERT_EQ(map.size(), 64u * 32 + 12);
    EXPECT_EQ(TrailerWord(map, 0), 3u);
    EXPECT_EQ(TrailerWord(map, 1), 64u);
    EXPECT_EQ(TrailerWord(map, 2), 32u);
    EXPECT_FALSE(Exists(DataFile("Clouds.tmp")));

    // Every byte against the decoded picture, and the halves the right way up.
    CImage decoded;
    ASSERT_EQ(LoadScrambledJpeg(DataFile("Clouds.net").c_str(), &decoded), 0);
    for (int top = 0; top < 32; top++)
        for (int x = 0; x < 64; x++)
            ASSERT_EQ((uint8_t)map[top * 64 + x], Grey(decoded.GetPixelColor(x, 31 - top)))
                << x << "," << top;
    EXPECT_NEAR((uint8_t)map[5 * 64 + 5], Grey(Rgb(200, 100, 50)), 2);
    EXPECT_NEAR((uint8_t)map[27 * 64 + 5], Grey(Rgb(20, 40, 230)), 2);
}

TEST_F(Clouds, MiniatureIsNearestSamplesOfTheMap)
{
    for (int width : {600, 64, 1000}) {
        UseDownload(ScrambledJpeg(width, width / 2, Gradient, 90));
        ASSERT_EQ(GenerateCloudMap(), 0) << width;
        std::string map = ReadWhole(DataFile("Clouds.map"));
        std::string mini = ReadWhole(DataFile("Clouds.min"));
        ASSERT_EQ(mini.size(), 45012u) << width;
        EXPECT_EQ(TrailerWord(mini, 0), 3u);
        EXPECT_EQ(TrailerWord(mini, 1), 300u);
        EXPECT_EQ(TrailerWord(mini, 2), 150u);
        double s = width / 300.0;
        for (int r = 0; r < 150; r++)
            for (int k = 0; k < 300; k++)
                ASSERT_EQ(mini[r * 300 + k], map[(int)(r * s) * width + (int)(k * s)])
                    << width << ": " << k << "," << r;
    }
}

TEST_F(Clouds, UnreadableDownloadFallsBackToTheBuiltInPicture)
{
    gPrefs.iCloudsData = CLOUDS_DATA_AUTOMATIC;   // no Clouds.net at all
    WriteWhole(OwnFile("CloudsM.int"), ScrambledJpeg(48, 24, Flat));
    ASSERT_EQ(GenerateCloudMap(), 0);
    EXPECT_EQ(TrailerWord(ReadWhole(DataFile("Clouds.map")), 1), 48u);

    gPrefs.iCloudsData = CLOUDS_DATA_BUILTIN;   // the download is ignored then
    WriteWhole(DataFile("Clouds.net"), ScrambledJpeg(32, 16, Flat));
    ASSERT_EQ(GenerateCloudMap(), 0);
    EXPECT_EQ(TrailerWord(ReadWhole(DataFile("Clouds.map")), 1), 48u);
}

TEST_F(Clouds, NothingReadableAnywhereIsReported)
{
    gPrefs.iCloudsData = CLOUDS_DATA_AUTOMATIC;
    EXPECT_EQ(GenerateCloudMap(), CLOUDS_NOT_READABLE);
    EXPECT_STREQ(GetProgressText(), "Update failed");
}

TEST_F(Clouds, CorruptDownloadIsReportedAndTheOldMapStays)
{
    WriteWhole(OwnFile("CloudsM.int"), ScrambledJpeg(48, 24, Flat));
    WriteWhole(DataFile("Clouds.map"), "old map");
    UseDownload(std::string(5000, 'x'));
    EXPECT_EQ(GenerateCloudMap(), CLOUDS_NOT_DECODABLE);
    EXPECT_EQ(ReadWhole(DataFile("Clouds.map")), "old map");
    EXPECT_STREQ(GetProgressText(), "Update failed");

    // An unscrambled JPEG is not a cloud picture either.
    std::string plain = ScrambledJpeg(32, 16, Flat);
    ScrambleBytes((uint8_t *)&plain[0], (uint32_t)plain.size());
    UseDownload(plain);
    EXPECT_EQ(GenerateCloudMap(), CLOUDS_NOT_DECODABLE);
}

TEST_F(Clouds, HeldMapIsRetriedThenKeptAndReportedAsFailure)
{
    UseDownload(ScrambledJpeg(64, 32, Halves));
    WriteWhole(DataFile("Clouds.map"), "old map");
    HANDLE held = CreateFileA(DataFile("Clouds.map").c_str(), GENERIC_READ, FILE_SHARE_READ, 0,
                              OPEN_EXISTING, 0, 0);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    gCloudCopyRetries = 3;
    gCloudCopyPauseMs = 50;
    DWORD started = GetTickCount();
    EXPECT_EQ(GenerateCloudMap(), CLOUDS_MAP_NOT_REPLACED);
    EXPECT_GE(GetTickCount() - started, 140u);   // three pauses between four tries
    CloseHandle(held);
    EXPECT_EQ(ReadWhole(DataFile("Clouds.map")), "old map");
    EXPECT_FALSE(Exists(DataFile("Clouds.tmp")));
    EXPECT_FALSE(Exists(DataFile("Clouds.min")));

    ASSERT_EQ(GenerateCloudMap(), 0);   // released: replaced
    EXPECT_EQ(ReadWhole(DataFile("Clouds.map")).size(), 64u * 32 + 12);
}

TEST_F(Clouds, EnhancementKernelsKeepTheGain)
{
    const int centre[6] = {112, 80, 64, 56, 52, 50};
    const int divisor[6] = {72, 40, 24, 16, 12, 10};
    for (int level = 1; level <= 6; level++) {
        int k[9];
        ASSERT_EQ(CloudEnhanceKernel(level, k), divisor[level - 1]);
        const int expected[9] = {0, -10, 0, -10, centre[level - 1], -10, 0, -10, 0};
        for (int i = 0; i < 9; i++)
            EXPECT_EQ(k[i], expected[i]) << level << ":" << i;
    }
    int k[9] = {7, 7, 7, 7, 7, 7, 7, 7, 7};
    EXPECT_EQ(CloudEnhanceKernel(0, k), 0);
    EXPECT_EQ(CloudEnhanceKernel(7, k), 0);
    EXPECT_EQ(k[4], 7);
}

TEST_F(Clouds, EnhancementSharpensEdgesButNotFlatAreas)
{
    UseDownload(ScrambledJpeg(64, 32, Halves));
    ASSERT_EQ(GenerateCloudMap(), 0);
    std::string plain = ReadWhole(DataFile("Clouds.map"));
    gPrefs.iCloudsEnhance = 6;
    ASSERT_EQ(GenerateCloudMap(), 0);
    std::string sharp = ReadWhole(DataFile("Clouds.map"));
    ASSERT_EQ(sharp.size(), plain.size());
    EXPECT_NEAR((uint8_t)sharp[8 * 64 + 30], (uint8_t)plain[8 * 64 + 30], 2);   // inside a half
    // At the edge the bright side gets brighter.
    EXPECT_GT((uint8_t)sharp[15 * 64 + 30], (uint8_t)plain[15 * 64 + 30] + 10);
}

// ---------------------------------------------------------------- demo clouds

static void ExpectPictureSize(const std::string &path, int width, int height)
{
    CImage image;
    ASSERT_EQ(LoadScrambledJpeg(path.c_str(), &image), 0) << path;
    EXPECT_EQ(image.GetWidth(), width) << path;
    EXPECT_EQ(image.GetHeight(), height) << path;
}

TEST_F(Clouds, DemoCloudsAreRescaledFromTheHighPicture)
{
    WriteWhole(OwnFile("CloudsH.int"), ScrambledJpeg(64, 32, Gradient, 90));
    WriteWhole(OwnFile("CloudsL.int"), "stale");   // only one present: both are made
    gProgressDialogWaitChecks = 1;                 // the test has no dialog template
    EXPECT_FALSE(DemoCloudsPresent(gOwn.c_str()));
    EXPECT_EQ(RescaleDemoCloudsThread(0), 0u);
    EXPECT_TRUE(DemoCloudsPresent(gOwn.c_str()));
    gProgressDialogWaitChecks = PROGRESS_DIALOG_WAIT_CHECKS;
    ExpectPictureSize(OwnFile("CloudsM.int"), 4096, 2048);
    ExpectPictureSize(OwnFile("CloudsL.int"), 2048, 1024);
    EXPECT_EQ(GetProgressPercent(), 70);

    // Both present: nothing is touched.
    WriteWhole(OwnFile("CloudsL.int"), "kept");
    EXPECT_EQ(RescaleDemoCloudFiles(gOwn.c_str()), 0);
    EXPECT_EQ(ReadWhole(OwnFile("CloudsL.int")), "kept");
}

TEST_F(Clouds, DemoCloudsWithoutAHighPictureFail)
{
    EXPECT_EQ(RescaleDemoCloudFiles(gOwn.c_str()), CLOUDS_NOT_READABLE);
    WriteWhole(OwnFile("CloudsH.int"), "not a picture");
    EXPECT_EQ(RescaleDemoCloudFiles(gOwn.c_str()), CLOUDS_NOT_DECODABLE);
    EXPECT_FALSE(Exists(OwnFile("CloudsM.int")));
}

// ---------------------------------------------------------------- download

TEST_F(Clouds, ResultTexts)
{
    const struct {
        int code;
        const char *text;
    } rows[] = {
        {0, "Download complete"},
        {304, "No new data available"},
        {100, "Download failed - Can't send data"},
        {101, "Download failed - Can't receive data"},
        {102, "Download failed - Transfer error"},
        {103, "Download failed - Bad answer"},
        {104, "Download failed - Can't connect to proxy server"},
        {105, "Download failed - Can't connect to server"},
        {106, "Download failed - Bad URL format"},
        {107, "Download failed - Answer too large"},
        {300, "Download failed - Bad redirection"},
        {400, "Download failed - Bad request"},
        {401, "Download failed - Authorization required"},
        {403, "Download failed - Incorrect user name or password"},
        {404, "Download failed - File not found"},
        {407, "Download failed - Proxy requires authorization"},
        {17, "Download failed - Transfer error"},
        {18, "Download failed - Transfer error"},
        {500, "Download failed - Transfer error"},
    };
    for (const auto &row : rows) {
        char text[260];
        DownloadResultText(row.code, text, sizeof text);
        EXPECT_STREQ(text, row.text) << row.code;
    }
}

TEST_F(Clouds, WithoutATransportTheServerCannotBeReached)
{
    gHttpGetToFile = 0;
    char url[HTTP_URL_SIZE] = "http://a.example/x";
    WriteWhole(DataFile("x"), "old");
    EXPECT_EQ(DownloadToFile(url, HTTP_URL_SIZE, DataFile("x").c_str(), 0, 0, 0, true), 105);
    EXPECT_STREQ(GetProgressText(), "Download failed - Can't connect to server");
    EXPECT_EQ(ReadWhole(DataFile("x")), "old");
    EXPECT_FALSE(Exists(DataFile("x.part")));
}

TEST_F(Clouds, SuccessfulDownloadWritesTheBodyAndCopiesBack)
{
    char url[HTTP_URL_SIZE] = "http://a.example/x";
    char modified[HTTP_MODIFIED_SIZE] = "Mon, 01 Jan 2024 00:00:00 GMT";
    gFake.body = "the whole cloud picture";
    gFake.lastModified = "Tue, 02 Jan 2024 00:00:00 GMT";
    gFake.finalUrl = "http://b.example/moved";
    std::string file = DataFile("x");
    EXPECT_EQ(DownloadToFile(url, HTTP_URL_SIZE, file.c_str(), "u", "p", modified, true), 0);
    EXPECT_EQ(ReadWhole(file), gFake.body);
    EXPECT_FALSE(Exists(file + ".part"));
    EXPECT_STREQ(modified, "Tue, 02 Jan 2024 00:00:00 GMT");
    EXPECT_STREQ(url, "http://b.example/moved");
    EXPECT_EQ(gFake.user, "u");
    EXPECT_EQ(gFake.ifModifiedSince, "");   // no old file: ask unconditionally
    EXPECT_STREQ(GetProgressText(), "Download complete");

    // Now the file exists: the modified text goes out; copy back off.
    gFake.finalUrl = "http://c.example/elsewhere";
    EXPECT_EQ(DownloadToFile(url, HTTP_URL_SIZE, file.c_str(), 0, 0, modified, false), 0);
    EXPECT_EQ(gFake.ifModifiedSince, "Tue, 02 Jan 2024 00:00:00 GMT");
    EXPECT_STREQ(url, "http://b.example/moved");
}

TEST_F(Clouds, FailedOrUnchangedDownloadKeepsThePreviousFile)
{
    char url[HTTP_URL_SIZE] = "http://a.example/x";
    std::string file = DataFile("x");
    WriteWhole(file, "previous");
    gFake.body = "<html>error page</html>";
    gFake.answer = 404;
    EXPECT_EQ(DownloadToFile(url, HTTP_URL_SIZE, file.c_str(), 0, 0, 0, true), 404);
    EXPECT_STREQ(GetProgressText(), "Download failed - File not found");
    EXPECT_EQ(ReadWhole(file), "previous");

    gFake.body = "";
    gFake.answer = 304;
    gFake.finalUrl = "http://b.example/x";
    EXPECT_EQ(DownloadToFile(url, HTTP_URL_SIZE, file.c_str(), 0, 0, 0, true), 304);
    EXPECT_STREQ(GetProgressText(), "No new data available");
    EXPECT_EQ(ReadWhole(file), "previous");
    EXPECT_STREQ(url, "http://b.example/x");   // 304 copies back too
    EXPECT_FALSE(Exists(file + ".part"));
}

TEST_F(Clouds, TargetThatCannotBeCreatedIsATransferError)
{
    char url[HTTP_URL_SIZE] = "http://a.example/x";
    std::string file = gData + "\\no such folder\\x";
    EXPECT_EQ(DownloadToFile(url, HTTP_URL_SIZE, file.c_str(), 0, 0, 0, true), 17);
    EXPECT_EQ(gFake.calls, 0);
    EXPECT_STREQ(GetProgressText(), "Download failed - Transfer error");
}

TEST_F(Clouds, ConnectionTestWithoutAFileAndProxySettings)
{
    char url[HTTP_URL_SIZE] = "http://a.example/x";
    gFake.body = "dropped";
    EXPECT_EQ(DownloadToFile(url, HTTP_URL_SIZE, 0, 0, 0, 0, false), 0);
    EXPECT_EQ(gFake.proxyServer, "");

    gPrefs.iProxyType = 1;
    CopyText(gPrefs.szProxyServer, "proxy.example", 260);
    gPrefs.iProxyPort = 3128;
    CopyText(gPrefs.szProxyUser, "pu", 64);
    gPrefs.bProxyAuth = 0;
    EXPECT_EQ(DownloadToFile(url, HTTP_URL_SIZE, 0, 0, 0, 0, false), 0);
    EXPECT_EQ(gFake.proxyServer, "proxy.example");
    EXPECT_EQ(gFake.proxyPort, 3128);
    EXPECT_FALSE(gFake.proxyUserGiven);
    gPrefs.bProxyAuth = 1;
    DownloadToFile(url, HTTP_URL_SIZE, 0, 0, 0, 0, false);
    EXPECT_TRUE(gFake.proxyUserGiven);
}

// ---------------------------------------------------------------- worker

static int RunWorker(int mode) { return (int)CloudDownloadThread((LPVOID)(INT_PTR)mode); }

TEST_F(Clouds, ShortIntervalIsRaisedAndOnlyADueDownloadRuns)
{
    gPrefs.iCloudsData = CLOUDS_DATA_AUTOMATIC;
    gPrefs.iCloudsInterval = 1;
    int64_t now = _time64(0);
    gPrefs.tCloudsDown = now - 2 * 3600;   // due by the stored hour, not by three
    RunWorker(CLOUD_MODE_IF_DUE);
    EXPECT_EQ(gPrefs.iCloudsInterval, 3);
    EXPECT_EQ(gFake.calls, 0);
    EXPECT_GE(gPrefs.tCloudsCheck, now);
    EXPECT_STREQ(GetProgressText(), "No new data available");
    EXPECT_EQ(gRenders.calls, 0);

    gPrefs.tCloudsDown = now - 3 * 3600 - 5;
    gFake.body = ScrambledJpeg(64, 32, Halves);
    EXPECT_EQ(RunWorker(CLOUD_MODE_IF_DUE_START), 0);
    EXPECT_EQ(gFake.calls, 1);
    EXPECT_GE(gPrefs.tCloudsDown, now);
    EXPECT_EQ(gFake.url, kDefaultPrefs.szCloudsUrl[2]);   // medium: entry 2
    EXPECT_EQ(ReadWhole(DataFile("Clouds.map")).size(), 64u * 32 + 12);
    EXPECT_EQ(gCloudUpdaterBusy, 0);
}

TEST_F(Clouds, DownloadNowIgnoresTheInterval)
{
    gPrefs.iCloudsData = CLOUDS_DATA_ON_REQUEST;
    gPrefs.tCloudsDown = _time64(0);
    gFake.body = ScrambledJpeg(64, 32, Halves);
    EXPECT_EQ(RunWorker(CLOUD_MODE_NOW), 0);
    EXPECT_EQ(gFake.calls, 1);
}

TEST_F(Clouds, FailureRestoresTheDefaultUrlButNotModifiedKeepsIt)
{
    gPrefs.iCloudsData = CLOUDS_DATA_AUTOMATIC;
    gPrefs.iCloudsRes = 2;
    CopyText(gPrefs.szCloudsUrl[3], "http://mirror.example/c.dat", HTTP_URL_SIZE);
    gFake.answer = 304;
    EXPECT_EQ(RunWorker(CLOUD_MODE_NOW), 304);
    EXPECT_STREQ(gPrefs.szCloudsUrl[3], "http://mirror.example/c.dat");
    EXPECT_EQ(gPrefs.tCloudsDown, 0);
    EXPECT_EQ(gRenders.calls, 0);   // nothing new, nothing rendered
    EXPECT_EQ(gLastCloudDownloadResult, 304);

    gFake.answer = 403;
    EXPECT_EQ(RunWorker(CLOUD_MODE_NOW), 403);
    EXPECT_STREQ(gPrefs.szCloudsUrl[3], kDefaultPrefs.szCloudsUrl[3]);
    EXPECT_STRNE(kDefaultPrefs.szCloudsUrl[3], "");
    EXPECT_EQ(gPrefs.tCloudsDown, 0);
}

TEST_F(Clouds, BuiltInOnlyRegeneratesAndRendersTheUpdatingOutputs)
{
    gPrefs.iCloudsData = CLOUDS_DATA_BUILTIN;
    WriteWhole(OwnFile("CloudsM.int"), ScrambledJpeg(48, 24, Flat));
    ASSERT_TRUE(ResizeViewList(&gViewLists[VIEW_LIST_WALLPAPER], 1));
    ASSERT_TRUE(ResizeViewList(&gViewLists[VIEW_LIST_SCREENSAVER], 1));
    gViewLists[0].data[0].bActive = gViewLists[0].data[0].bUpdate = 1;

    RunWorker(CLOUD_MODE_NOW);   // built-in only: no download
    EXPECT_EQ(gFake.calls, 0);
    EXPECT_EQ(gRenders.calls, 0);
    EXPECT_EQ(gPrefs.tCloudsCheck, 0);

    RunWorker(CLOUD_MODE_NONE + CLOUD_MODE_REGENERATE);
    EXPECT_EQ(gFake.calls, 0);
    EXPECT_EQ(TrailerWord(ReadWhole(DataFile("Clouds.map")), 1), 48u);
    EXPECT_EQ(gRenders.calls, 1);
    EXPECT_EQ(gRenders.which, RENDER_JOB_WALLPAPER);
    EXPECT_EQ(gRenders.previews, 0);

    gViewLists[1].data[0].bActive = gViewLists[1].data[0].bUpdate = 1;
    gDialogOpen = true;
    RunWorker(CLOUD_MODE_REGENERATE);
    EXPECT_EQ(gRenders.which, RENDER_BOTH_OUTPUTS);
    EXPECT_EQ(gRenders.previews, 1);

    gViewLists[0].data[0].bUpdate = 0;
    RunWorker(CLOUD_MODE_REGENERATE);
    EXPECT_EQ(gRenders.which, RENDER_JOB_SCREENSAVER);

    gViewLists[1].data[0].bActive = 0;
    RunWorker(CLOUD_MODE_REGENERATE);
    EXPECT_EQ(gRenders.calls, 3);   // no output follows the clouds
}

TEST_F(Clouds, OneWorkerAtATime)
{
    gCloudUpdaterBusy = 1;
    EXPECT_EQ(StartCloudDownload(CLOUD_MODE_NOW, false), CLOUDS_BUSY);
    gCloudUpdaterBusy = 0;

    gPrefs.iCloudsData = CLOUDS_DATA_AUTOMATIC;
    gFake.answer = 404;
    ASSERT_EQ(StartCloudDownload(CLOUD_MODE_NOW, false), 0);
    for (int i = 0; i < 500 && gCloudUpdaterBusy; i++)
        Sleep(10);
    EXPECT_EQ(gCloudUpdaterBusy, 0);
    EXPECT_EQ(gFake.calls, 1);
    EXPECT_EQ(gLastCloudDownloadResult, 404);
}

TEST_F(Clouds, ShippedLowPictureBuildsAMap)
{
    std::string shipped = ReadWhole(std::string(VT_DATASET_DIR) + "/CloudsL.int");
    ASSERT_GT(shipped.size(), 1000u) << "the data build makes CloudsL.int";
    WriteWhole(OwnFile("CloudsL.int"), shipped);
    gPrefs.iCloudsData = CLOUDS_DATA_BUILTIN;
    gPrefs.iCloudsRes = 0;
    ASSERT_EQ(GenerateCloudMap(), 0);
    EXPECT_EQ(ReadWhole(DataFile("Clouds.map")).size(), 2048u * 1024 + 12);
    EXPECT_EQ(ReadWhole(DataFile("Clouds.min")).size(), 45012u);
}
