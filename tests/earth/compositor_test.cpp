// The compositor: oracles that need no stored picture (a plain map comes
// back unchanged, low-memory reading changes nothing, the sun's side is lit),
// the output file's exact form, failures that keep the old picture, the
// colour adjustment, and golden pictures of every layer at fixed moments.
#include "testutil.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "earth/compositor.h"
#include "earth/compositor_helpers.h"
#include "earth/mapfile.h"
#include "framework/seams.h"
#include "earth/settings.h"
#include "framework/application.h"
#include "framework/bytes.h"

#ifndef VT_SOURCE_DIR
#define VT_SOURCE_DIR "."
#endif

static std::string gMaps, gData, gOut;
static void IgnoreRendered(int) {}   // the progress sink's rendered share, unwatched

static void PutTrailer(std::string *bytes, uint32_t flags, uint32_t w, uint32_t h)
{
    uint8_t t[12];
    Put32(t, flags);
    Put32(t + 4, w);
    Put32(t + 8, h);
    bytes->append((const char *)t, 12);
}

// A colour map whose pixel (x, y) of month m is colour(x, y, m), BGR.
static void WriteColourMap(const std::string &name, int w, int h, int months,
                           void (*colour)(int x, int y, int m, uint8_t bgr[3]))
{
    std::string bytes;
    for (int m = 0; m < months; m++)
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                uint8_t bgr[3];
                colour(x, y, m, bgr);
                bytes.append((const char *)bgr, 3);
            }
    PutTrailer(&bytes, months == 12 ? 0x11 : 1, w, h);
    WriteWhole(gMaps + "\\" + name, bytes);
}

static void WriteGreyMap(const std::string &path, int w, int h, uint32_t kind,
                         int (*grey)(int x, int y))
{
    std::string bytes;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            bytes.push_back((char)grey(x, y));
    PutTrailer(&bytes, kind, w, h);
    WriteWhole(path, bytes);
}

// Continents: a few smooth blobs of land on blue water, brighter in
// summer months so the seasonal mix shows.
static void EarthColour(int x, int y, int m, uint8_t bgr[3])
{
    double u = x / 12.0, v = y / 9.0;
    double land = sin(u) * cos(v * 1.3) + 0.6 * sin(u * 2.1 + v);
    if (land > 0.3) {
        bgr[0] = (uint8_t)(40 + m * 2);
        bgr[1] = (uint8_t)(110 + (x * 3) % 60);
        bgr[2] = (uint8_t)(90 + (y * 5) % 80);
    } else {
        bgr[0] = (uint8_t)(120 + (x + y) % 40);
        bgr[1] = 40;
        bgr[2] = 20;
    }
}

static int UrbanGrey(int x, int y) { return (x * 7 + y * 13) % 97 < 9 ? 255 : (x * y) % 23 * 4; }
static int CloudGrey(int x, int y) { return (int)(127 + 127 * sin(x / 7.0) * cos(y / 5.0)); }

static void WriteWorld(int w, int h)
{
    WriteColourMap("World.map", w, h, 12, EarthColour);
    char name[64];
    snprintf(name, sizeof name, "\\Urban-%d.map", w);
    WriteGreyMap(gMaps + name, w, h, 2, UrbanGrey);
    WriteGreyMap(gData + "\\Clouds.map", w * 2, h * 2, 3, CloudGrey);
}

class Compositor : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        buildCosineTable();
        gMaps = FreshTempFolder("comp-maps");
        gData = FreshTempFolder("comp-data");
        gOut = FreshTempFolder("comp-out");
        CopyText((char *)gApp.installRecord + INSTALL_RECORD_INSTALL_PATH, gMaps.c_str(),
                 INSTALL_RECORD_TEXT_BYTES);
        CopyText(gApp.dataFolder, gData.c_str(), MAX_TEXT);
        WriteWorld(128, 64);
        // Season mask: 0 at the top rising to 255 at the bottom.
        SeasonMask = (uint8_t *)malloc(SEASON_MASK_WIDTH * SEASON_MASK_HEIGHT);
        for (int y = 0; y < SEASON_MASK_HEIGHT; y++)
            memset(SeasonMask + y * SEASON_MASK_WIDTH, y * 255 / (SEASON_MASK_HEIGHT - 1),
                   SEASON_MASK_WIDTH);
    }
    void SetUp() override
    {
        gApp.osCode = 10;
        gPrefs.bLowMemMode = 0;
        gPrefs.iCloudsRes = 1;
        gScreenX = gScreenY = 0;
        gScreenW = 1920;
        gScreenH = 1080;
        gComposeCopyAttempts = 61;
        gComposeCopyPauseMs = 1000;
        gRenderThreads = 0;
        gProgressSink.rendered = IgnoreRendered;
        srand(7);
        buildRandomTable(0);
    }
};

static void SetMoment(ViewOptions *v, int year, int month, int day, int hour)
{
    struct tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    time_t when = _mkgmtime(&t);
    gmtime_s(&v->tTime, &when);
}

static void SetRect(int *area, int l, int t, int r, int b)
{
    area[0] = l;
    area[1] = t;
    area[2] = r;
    area[3] = b;
}

// The whole map on the whole output, every effect off but the day layer.
static void PlainFlatView(ViewOptions *v, int w, int h)
{
    SetDefaultView(v, 0);
    CopyText(v->szMap, "World", sizeof v->szMap);
    v->iMapW = w;
    v->iMapH = h;
    v->iOutputW = w;
    v->iOutputH = h;
    v->iPrjType = 1;
    SetRect(v->iMapArea, 0, 0, w - 1, h - 1);
    SetRect(v->iDtpArea, 0, 0, w - 1, h - 1);
    SetRect(v->iClpArea, 0, 0, w - 1, h - 1);
    v->dSMpZoom = 1;
    v->bSeasonEnable = 1;
    v->iSeasonMonth = 3;
    v->bSeasonMixNext = 0;
    v->bNight = 0;
    v->iDayUrban = 0;
    v->iDaySunBright = 0;
    v->iDayBrightness = v->iDayContrast = v->iDaySaturation = 0;
    v->bHalo = 0;
    v->bClouds = 0;
    v->bCities = 0;
    v->bBackground = 0;
    SetMoment(v, 2024, 3, 20, 12);
}

// Every layer on: a globe of the given diameter facing (lat, lon).
static void FullGlobeView(ViewOptions *v, int w, int h, double lat, double lon)
{
    SetDefaultView(v, 0);
    CopyText(v->szMap, "World", sizeof v->szMap);
    v->iMapW = 128;
    v->iMapH = 64;
    v->iOutputW = w;
    v->iOutputH = h;
    v->iPrjType = 0;
    int s = h * 8 / 10, left = (w - s) / 2, top = (h - s) / 2;
    SetRect(v->iDtpArea, left, top, left + s - 1, top + s - 1);
    SetRect(v->iClpArea, 0, 0, w - 1, h - 1);
    v->dRotateY = lat;
    v->dRotateZ = lon;
    v->dSMpZoom = 2;
    v->bSeasonEnable = 1;
    v->bClouds = 1;
    v->bHalo = 1;
    v->bBackground = 1;
    v->iBGMode = 1;
    v->crBackground = 0x00100804;
    v->bStars = 1;
    v->bCities = 0;
}

static void FullFlatView(ViewOptions *v, int w, int h)
{
    FullGlobeView(v, w, h, 0, 0);
    v->iPrjType = 1;
    SetRect(v->iMapArea, 0, 0, 127, 63);
    SetRect(v->iDtpArea, 0, h / 8, w - 1, h - h / 8 - 1);
    v->dSMpZoom = (double)w / 128;
}

static int Render(ViewList *jobs, const std::string &path, volatile uint8_t *cancel = 0,
                  int output = RENDER_OUTPUT_WALLPAPER)
{
    return ComposeImage(cancel, jobs, path.c_str(), output);
}

static int RenderOne(const ViewOptions &view, const std::string &path)
{
    ViewList jobs;
    EXPECT_TRUE(ResizeViewList(&jobs, 1));
    jobs.data[0] = view;
    int status = Render(&jobs, path);
    jobs.RemoveAll();
    return status;
}

// Pixel (x, y) of a 24-bit bottom-up BMP, counted from the top; BGR.
static const uint8_t *BmpPixel(const std::string &bmp, int x, int y)
{
    int w = (int)Le32((const uint8_t *)bmp.data() + 18), h = (int)Le32((const uint8_t *)bmp.data() + 22);
    int stride = ((w * 24 + 31) / 32) * 4;
    return (const uint8_t *)bmp.data() + 54 + (size_t)(h - 1 - y) * stride + x * 3;
}

static int Luma(const uint8_t *bgr) { return (bgr[0] + 5 * bgr[1] + 2 * bgr[2]) / 8; }

static bool NoTemporaryFiles(const std::string &folder)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\*.tmp").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return true;
    FindClose(find);
    return false;
}

TEST_F(Compositor, PlainFlatMapReproducesTheMap)
{
    ViewOptions *v = (ViewOptions *)calloc(1, sizeof(ViewOptions));
    PlainFlatView(v, 128, 64);
    std::string path = gOut + "\\plain.bmp";
    ASSERT_EQ(RENDER_OK, RenderOne(*v, path));
    std::string bmp = ReadWhole(path);
    int mismatches = 0;
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 128; x++) {
            uint8_t want[3];
            EarthColour(x, y, 2, want);   // month 3 is image 2
            mismatches += memcmp(BmpPixel(bmp, x, y), want, 3) != 0;
        }
    EXPECT_EQ(0, mismatches);
    free(v);
}

TEST_F(Compositor, OutputFileHasTheExactBitmapLayout)
{
    // Nothing drawn but the background colour: the header and padding count.
    ViewOptions *v = (ViewOptions *)calloc(1, sizeof(ViewOptions));
    PlainFlatView(v, 128, 64);
    v->bDay = 0;
    v->bBackground = 1;
    v->iBGMode = 1;
    v->crBackground = 0x00332211;
    v->iOutputW = 1920;
    v->iOutputH = 1080;
    SetRect(v->iClpArea, 0, 0, 1919, 1079);
    std::string path = gOut + "\\layout.bmp";
    ASSERT_EQ(RENDER_OK, RenderOne(*v, path));
    std::string bmp = ReadWhole(path);
    const uint8_t *b = (const uint8_t *)bmp.data();
    ASSERT_EQ(6220854u, bmp.size());
    EXPECT_EQ('B', b[0]);
    EXPECT_EQ('M', b[1]);
    EXPECT_EQ(6220854u, Le32(b + 2));
    EXPECT_EQ(0u, Le32(b + 6));
    EXPECT_EQ(54u, Le32(b + 10));
    EXPECT_EQ(40u, Le32(b + 14));
    EXPECT_EQ(1920u, Le32(b + 18));
    EXPECT_EQ(1080u, Le32(b + 22));
    EXPECT_EQ(1, Le16(b + 26));
    EXPECT_EQ(24, Le16(b + 28));
    for (int i = 30; i < 54; i += 4)
        EXPECT_EQ(0u, Le32(b + i)) << "header byte " << i;
    EXPECT_EQ(0x33, b[54]);   // 0x00BBGGRR stored blue, green, red
    EXPECT_EQ(0x22, b[55]);
    EXPECT_EQ(0x11, b[56]);
    EXPECT_EQ(0x11, b[54 + 5760 * 1080 - 1]);   // last pixel's red; rows are 5,760 bytes

    // An odd width pads every row to four bytes with zeros.
    v->iOutputW = 5;
    v->iOutputH = 3;
    SetRect(v->iClpArea, 0, 0, 4, 2);
    ASSERT_EQ(RENDER_OK, RenderOne(*v, path));
    bmp = ReadWhole(path);
    ASSERT_EQ(54u + 16 * 3, bmp.size());
    for (int row = 0; row < 3; row++)
        EXPECT_EQ(0, bmp[54 + row * 16 + 15]) << row;
    free(v);
}

TEST_F(Compositor, LowMemoryReadingGivesTheSameBytes)
{
    ViewOptions *v = (ViewOptions *)calloc(1, sizeof(ViewOptions));
    for (int projection = 0; projection < 2; projection++) {
        if (projection)
            FullFlatView(v, 96, 48);
        else
            FullGlobeView(v, 96, 48, 0.3, 0.5);
        SetMoment(v, 2024, 6, 20, 18);
        srand(11);
        buildRandomTable(0);
        ASSERT_EQ(RENDER_OK, RenderOne(*v, gOut + "\\whole.bmp"));
        gPrefs.bLowMemMode = 1;
        srand(11);
        buildRandomTable(0);
        ASSERT_EQ(RENDER_OK, RenderOne(*v, gOut + "\\windowed.bmp"));
        gPrefs.bLowMemMode = 0;
        std::string a = ReadWhole(gOut + "\\whole.bmp"), b = ReadWhole(gOut + "\\windowed.bmp");
        ASSERT_EQ(a.size(), b.size());
        EXPECT_TRUE(a == b) << "projection " << projection;
    }
    free(v);
}

TEST_F(Compositor, SubSolarPointIsLitAndItsAntipodeDark)
{
    ViewOptions *v = (ViewOptions *)calloc(1, sizeof(ViewOptions));
    PlainFlatView(v, 128, 64);
    v->bNight = 1;
    // 2024-03-20 12:00 UTC: the sun stands near longitude 0, latitude 0,
    // the middle of the map; its antipode is the map's left and right edge.
    ASSERT_EQ(RENDER_OK, RenderOne(*v, gOut + "\\sun.bmp"));
    std::string bmp = ReadWhole(gOut + "\\sun.bmp");
    uint8_t plain[3];
    EarthColour(64, 32, 2, plain);
    EXPECT_EQ(0, memcmp(BmpPixel(bmp, 64, 32), plain, 3));   // full day: the map itself
    EXPECT_LT(Luma(BmpPixel(bmp, 0, 32)), Luma(plain) / 2);
    EXPECT_LT(Luma(BmpPixel(bmp, 127, 32)), Luma(plain) / 2);
    // Six hours later the sun is at 90 degrees west: a quarter of the map.
    SetMoment(v, 2024, 3, 20, 18);
    ASSERT_EQ(RENDER_OK, RenderOne(*v, gOut + "\\sun.bmp"));
    bmp = ReadWhole(gOut + "\\sun.bmp");
    EarthColour(32, 32, 2, plain);
    EXPECT_EQ(0, memcmp(BmpPixel(bmp, 32, 32), plain, 3));
    EXPECT_LT(Luma(BmpPixel(bmp, 96, 32)), Luma(plain) / 2);
    free(v);
}

TEST_F(Compositor, CancelledRenderLeavesTheTargetAlone)
{
    ViewOptions *v = (ViewOptions *)calloc(1, sizeof(ViewOptions));
    FullGlobeView(v, 96, 48, 0, 0);
    std::string path = gOut + "\\cancel.bmp";
    WriteWhole(path, "the previous picture");
    ViewList jobs;
    ASSERT_TRUE(ResizeViewList(&jobs, 1));
    jobs.data[0] = *v;
    volatile uint8_t cancel = 1;
    EXPECT_EQ(RENDER_OK, Render(&jobs, path, &cancel));
    EXPECT_EQ("the previous picture", ReadWhole(path));
    EXPECT_TRUE(NoTemporaryFiles(gOut));
    jobs.RemoveAll();
    free(v);
}

TEST_F(Compositor, FailuresKeepThePreviousPicture)
{
    ViewOptions *v = (ViewOptions *)calloc(1, sizeof(ViewOptions));
    std::string path = gOut + "\\fail.bmp";
    WriteWhole(path, "old");
    ViewList empty;
    EXPECT_EQ(RENDER_NO_JOBS, Render(&empty, path));

    PlainFlatView(v, 128, 64);
    CopyText(v->szMap, "No such map", sizeof v->szMap);
    EXPECT_EQ(RENDER_NO_MAP, RenderOne(*v, path));
    EXPECT_EQ("old", ReadWhole(path));

    // A map shorter than its stated size is refused, not read past its end.
    PlainFlatView(v, 128, 64);
    v->iMapW = 4096;
    EXPECT_EQ(RENDER_NO_MAP, RenderOne(*v, path));

    PlainFlatView(v, 128, 64);
    EXPECT_EQ(RENDER_NO_TEMPORARY, RenderOne(*v, gOut + "\\no such folder\\x.bmp"));
    v->iOutputW = 0;
    EXPECT_EQ(RENDER_NO_TEMPORARY, RenderOne(*v, path));
    EXPECT_EQ("old", ReadWhole(path));
    EXPECT_TRUE(NoTemporaryFiles(gOut));
    free(v);
}

// A crafted map whose trailer wraps 64 bits to its 204 bytes, given to the
// renderer as if its trailer had been believed: the 3-byte image size of
// that width and height is negative in 64 bits, and must not be mapped.
TEST_F(Compositor, MapWhoseImageSizeOverflowsIsNotOpened)
{
    std::string crafted(192, 'x');
    PutTrailer(&crafted, 0x11, 1824726041, 1684887088);
    WriteWhole(gMaps + "\\Wrapped.map", crafted);
    ViewOptions *v = (ViewOptions *)calloc(1, sizeof(ViewOptions));
    PlainFlatView(v, 128, 64);
    CopyText(v->szMap, "Wrapped", sizeof v->szMap);
    v->iMapW = 1824726041;
    v->iMapH = 1684887088;
    v->iSeasonMonth = 1;
    std::string path = gOut + "\\wrapped.bmp";
    WriteWhole(path, "old");
    EXPECT_EQ(RENDER_NO_MAP, RenderOne(*v, path));
    EXPECT_EQ("old", ReadWhole(path));
    EXPECT_TRUE(NoTemporaryFiles(gOut));
    free(v);
}

TEST_F(Compositor, TargetThatCannotBeReplacedIsAFailure)
{
    ViewOptions *v = (ViewOptions *)calloc(1, sizeof(ViewOptions));
    PlainFlatView(v, 128, 64);
    std::string path = gOut + "\\locked.bmp";
    WriteWhole(path, "held");
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    gComposeCopyAttempts = 3;
    gComposeCopyPauseMs = 10;
    EXPECT_EQ(RENDER_COPY_FAILED, RenderOne(*v, path));
    CloseHandle(held);
    EXPECT_EQ("held", ReadWhole(path));
    EXPECT_TRUE(NoTemporaryFiles(gOut));
    free(v);
}

TEST_F(Compositor, ViewsPaintOnlyTheirClipRectangles)
{
    ViewList jobs;
    ASSERT_TRUE(ResizeViewList(&jobs, 2));
    PlainFlatView(&jobs.data[0], 128, 64);
    jobs.data[0].iOutputW = 200;
    jobs.data[0].iOutputH = 64;
    SetRect(jobs.data[0].iClpArea, 0, 0, 63, 63);
    SetRect(jobs.data[0].iDtpArea, 0, 0, 63, 63);
    jobs.data[1] = jobs.data[0];
    SetRect(jobs.data[1].iClpArea, 100, 0, 163, 63);
    SetRect(jobs.data[1].iDtpArea, 100, 0, 163, 63);
    ASSERT_EQ(RENDER_OK, Render(&jobs, gOut + "\\two.bmp"));
    std::string bmp = ReadWhole(gOut + "\\two.bmp");
    static const uint8_t black[3] = {0, 0, 0};
    for (int y = 0; y < 64; y += 7) {
        for (int x = 64; x < 100; x++)
            ASSERT_EQ(0, memcmp(BmpPixel(bmp, x, y), black, 3)) << x << "," << y;
        for (int x = 164; x < 200; x++)
            ASSERT_EQ(0, memcmp(BmpPixel(bmp, x, y), black, 3)) << x << "," << y;
        // Both views show the whole map squeezed into 64 columns.
        EXPECT_EQ(0, memcmp(BmpPixel(bmp, 10, y), BmpPixel(bmp, 110, y), 3));
    }
    jobs.RemoveAll();
}

TEST_F(Compositor, DesktopShiftRollsTheWallpaper)
{
    ViewOptions *v = (ViewOptions *)calloc(1, sizeof(ViewOptions));
    PlainFlatView(v, 128, 64);
    gScreenW = 128;
    gScreenH = 64;
    ASSERT_EQ(RENDER_OK, RenderOne(*v, gOut + "\\unshifted.bmp"));
    // A virtual desktop whose left monitor starts at x = -16 on an older
    // system: the wallpaper is tiled from the primary monitor's corner.
    gApp.osCode = 6;
    gScreenX = -16;
    ASSERT_EQ(RENDER_OK, RenderOne(*v, gOut + "\\shifted.bmp"));
    std::string a = ReadWhole(gOut + "\\unshifted.bmp"), b = ReadWhole(gOut + "\\shifted.bmp");
    for (int x = 0; x < 128; x += 5)
        EXPECT_EQ(0, memcmp(BmpPixel(a, x, 20), BmpPixel(b, (x - 16 + 128) % 128, 20), 3)) << x;
    // The screen-saver picture is never shifted.
    ViewList jobs;
    ASSERT_TRUE(ResizeViewList(&jobs, 1));
    jobs.data[0] = *v;
    ASSERT_EQ(RENDER_OK, Render(&jobs, gOut + "\\saver.bmp", 0, RENDER_OUTPUT_SCREENSAVER));
    EXPECT_TRUE(ReadWhole(gOut + "\\saver.bmp") == a);
    jobs.RemoveAll();
    free(v);
}

TEST_F(Compositor, CloudResolutionScalesTheShadow)
{
    // Same picture, three cloud resolutions: the shadow's darkening grows
    // from 0 (half) to 1 to 2 (1.2 times); with shadows off it is absent.
    ViewOptions *v = (ViewOptions *)calloc(1, sizeof(ViewOptions));
    PlainFlatView(v, 128, 64);
    v->bClouds = 1;
    long sums[4] = {};
    for (int k = 0; k < 4; k++) {
        gPrefs.iCloudsRes = k < 3 ? k : 1;
        v->iCloudsShadow = k < 3 ? 100 : 0;
        v->iCloudsOpacity = 60;
        ASSERT_EQ(RENDER_OK, RenderOne(*v, gOut + "\\shadow.bmp"));
        std::string bmp = ReadWhole(gOut + "\\shadow.bmp");
        for (int y = 0; y < 64; y++)
            for (int x = 0; x < 128; x++)
                sums[k] += Luma(BmpPixel(bmp, x, y));
    }
    EXPECT_GT(sums[3], sums[0]);
    EXPECT_GT(sums[0], sums[1]);
    EXPECT_GT(sums[1], sums[2]);
    free(v);
}

TEST_F(Compositor, DecemberMixesWithJanuary)
{
    // Month images differ only in blue (40 + 2 m on land): December mixed
    // halfway with January lies between the two.
    ViewOptions *v = (ViewOptions *)calloc(1, sizeof(ViewOptions));
    PlainFlatView(v, 128, 64);
    v->iSeasonMonth = 12;
    v->bSeasonMixNext = 1;
    v->iSeasonMixMode = 0;
    v->iSeasonDay = 16;   // fraction 15 / 31
    ASSERT_EQ(RENDER_OK, RenderOne(*v, gOut + "\\mix.bmp"));
    std::string bmp = ReadWhole(gOut + "\\mix.bmp");
    int checked = 0;
    for (int x = 0; x < 128 && !checked; x++) {
        uint8_t dec[3], jan[3];
        EarthColour(x, 10, 11, dec);
        EarthColour(x, 10, 0, jan);
        if (dec[0] == jan[0])
            continue;   // water: the same in every month
        int want = (int)(jan[0] + (1 - 15 / 31.0) * (dec[0] - jan[0]));
        EXPECT_EQ(want, BmpPixel(bmp, x, 10)[0]) << x;
        checked++;
    }
    EXPECT_EQ(1, checked);
    free(v);
}

// --- Rows over several threads ---

// The random table and the star field's draws as every render here starts them.
static void SameRandomDraws()
{
    srand(5);
    buildRandomTable(0);
    gRandomTableStart = 100;
}

// Renders the list with the given number of threads from the same random
// table; the picture's bytes, and where the table's index ended.
static std::string RenderWithThreads(const ViewList &list, int threads, int *randomEnd)
{
    ViewList jobs;
    EXPECT_TRUE(ResizeViewList(&jobs, list.count));
    for (int i = 0; i < list.count; i++)
        jobs.data[i] = list.data[i];
    gRenderThreads = threads;
    SameRandomDraws();
    EXPECT_EQ(RENDER_OK, Render(&jobs, gOut + "\\threads.bmp"));
    *randomEnd = gRandomTableStart;
    jobs.RemoveAll();
    return ReadWhole(gOut + "\\threads.bmp");
}

TEST_F(Compositor, RowsOverThreadsGiveTheSameBytes)
{
    // Every layer, stars reaching over several cell rows, a globe and a flat
    // map, and a list whose second view paints over part of the first.
    ViewList list;
    ASSERT_TRUE(ResizeViewList(&list, 2));
    FullGlobeView(&list.data[0], 190, 150, 0.4, 2.5);
    SetMoment(&list.data[0], 2024, 6, 21, 20);
    list.data[0].bSeasonMixNext = 1;
    list.data[0].iSeasonMixMode = 2;
    list.data[0].iStarsDensity = 100;
    FullFlatView(&list.data[1], 190, 150);
    SetMoment(&list.data[1], 2024, 6, 21, 20);
    SetRect(list.data[1].iClpArea, 20, 90, 170, 149);
    int end1, endN;
    list.count = 1;
    std::string one = RenderWithThreads(list, 1, &end1);
    for (int threads = 2; threads <= 9; threads += 7) {
        std::string many = RenderWithThreads(list, threads, &endN);
        ASSERT_EQ(one.size(), many.size());
        EXPECT_TRUE(one == many) << "globe, " << threads << " threads";
        EXPECT_EQ(end1, endN) << "the star field drew the same random values";
    }
    list.count = 2;
    one = RenderWithThreads(list, 1, &end1);
    std::string cores = RenderWithThreads(list, 0, &endN);   // one per core
    EXPECT_TRUE(one == cores) << "globe and flat map";
    EXPECT_EQ(end1, endN);
    // Stars are in the picture at all: some space pixels are brighter than
    // the background colour.
    int bright = 0;
    for (int y = 0; y < 80; y++)
        for (int x = 0; x < 30; x++)
            bright += BmpPixel(one, x, y)[1] > 8;
    EXPECT_GT(bright, 3);
    // Low-memory reading keeps its window to one thread and the same bytes.
    gPrefs.bLowMemMode = 1;
    std::string windowed = RenderWithThreads(list, 4, &endN);
    gPrefs.bLowMemMode = 0;
    EXPECT_TRUE(one == windowed);
    list.RemoveAll();
}

// A render started while another holds the kept row workers (here from the
// first one's progress report, on its own thread) starts workers of its own;
// both pictures come out as they do alone, and the workers serve the next
// render again.
static ViewList *gNestedJobs;
static std::string gNestedPicture;
static int gNestedStatus = -1;

static void RenderNestedAtFirstReport(int percent)
{
    if (!gNestedJobs || percent >= 100)
        return;
    ViewList *jobs = gNestedJobs;
    gNestedJobs = 0;
    SameRandomDraws();
    gNestedStatus = Render(jobs, gOut + "\\nested.bmp");
    gNestedPicture = ReadWhole(gOut + "\\nested.bmp");
}

TEST_F(Compositor, RenderBesideAHeldRowPoolGivesTheSameBytes)
{
    ViewList list;
    ASSERT_TRUE(ResizeViewList(&list, 1));
    FullGlobeView(&list.data[0], 300, 400, 0.2, 0.3);
    list.data[0].iStarsDensity = 100;
    int end;
    std::string alone = RenderWithThreads(list, 4, &end);
    ViewList outer, inner;
    ASSERT_TRUE(ResizeViewList(&outer, 1));
    ASSERT_TRUE(ResizeViewList(&inner, 1));
    outer.data[0] = inner.data[0] = list.data[0];
    gNestedJobs = &inner;
    gNestedStatus = -1;
    gProgressSink.rendered = RenderNestedAtFirstReport;
    SameRandomDraws();
    EXPECT_EQ(RENDER_OK, Render(&outer, gOut + "\\outer.bmp"));
    gProgressSink.rendered = IgnoreRendered;
    EXPECT_EQ(RENDER_OK, gNestedStatus) << "the nested render ran";
    EXPECT_TRUE(alone == gNestedPicture);
    EXPECT_TRUE(alone == ReadWhole(gOut + "\\outer.bmp"));
    // The kept workers were let go: the next render takes them as before.
    EXPECT_TRUE(alone == RenderWithThreads(list, 4, &end));
    outer.RemoveAll();
    inner.RemoveAll();
    list.RemoveAll();
}

static volatile uint8_t gThreadCancel;
static int gReports[8], gReportCount;

static void CancelAtFirstReport(int percent)
{
    if (gReportCount < 8)
        gReports[gReportCount] = percent;
    gReportCount++;
    gThreadCancel = 1;
}

TEST_F(Compositor, CancelStopsEveryRowThread)
{
    // 400 rows on four threads; the calling thread's first progress report
    // (100 rows done) sets the cancel byte.
    ViewOptions *v = (ViewOptions *)calloc(1, sizeof(ViewOptions));
    FullGlobeView(v, 300, 400, 0.2, 0.3);
    std::string path = gOut + "\\cancel-threads.bmp";
    WriteWhole(path, "the previous picture");
    ViewList jobs;
    ASSERT_TRUE(ResizeViewList(&jobs, 1));
    jobs.data[0] = *v;
    gRenderThreads = 4;
    gThreadCancel = 0;
    gReportCount = 0;
    gProgressSink.rendered = CancelAtFirstReport;
    EXPECT_EQ(RENDER_OK, Render(&jobs, path, &gThreadCancel));
    gProgressSink.rendered = IgnoreRendered;
    EXPECT_EQ("the previous picture", ReadWhole(path));
    EXPECT_TRUE(NoTemporaryFiles(gOut));
    // 25 % when cancelled, then the closing 100 %: no later rows reported.
    ASSERT_EQ(2, gReportCount);
    EXPECT_EQ(25, gReports[0]);
    EXPECT_EQ(100, gReports[1]);
    // Without the cancel the same render reports every 100 rows in order.
    gReportCount = 0;
    gProgressSink.rendered = CancelAtFirstReport;
    gThreadCancel = 0;
    jobs.data[0] = *v;
    EXPECT_EQ(RENDER_OK, Render(&jobs, path, 0));
    gProgressSink.rendered = IgnoreRendered;
    ASSERT_EQ(5, gReportCount);
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(25 * (i + 1), gReports[i]);
    EXPECT_EQ(100, gReports[4]);
    EXPECT_EQ('B', ReadWhole(path)[0]);
    jobs.RemoveAll();
    free(v);
}

TEST(ColourAdjust, ExactSteps)
{
    int r = 100, g = 150, b = 200;
    EXPECT_EQ((2 * 100 + 5 * 150 + 200) / 8, AdjustColour(&r, &g, &b, 0, 0, 0));
    EXPECT_EQ(100, r);
    EXPECT_EQ(150, g);
    EXPECT_EQ(200, b);
    // Saturation -50: halfway to the grey 143.
    r = 100, g = 150, b = 200;
    AdjustColour(&r, &g, &b, -50, 0, 0);
    EXPECT_EQ(121, r);   // 100 x 0.5 + 0.5 x 143 = 121.5
    EXPECT_EQ(146, g);
    EXPECT_EQ(171, b);
    // Contrast +100 doubles the distance from 80; clamps at 0 and 255.
    r = 30, g = 80, b = 200;
    AdjustColour(&r, &g, &b, 0, 100, 0);
    EXPECT_EQ(0, r);
    EXPECT_EQ(80, g);
    EXPECT_EQ(255, b);
    // Brightness below 1 scales; from 1 on it bends the curve upwards.
    r = 100, g = 100, b = 100;
    AdjustColour(&r, &g, &b, 0, 0, -40);
    EXPECT_EQ(60, r);
    r = 64, g = 0, b = 255;
    AdjustColour(&r, &g, &b, 0, 0, 50);
    EXPECT_EQ((int)(255 * sqrt(64 / 255.0)), r);
    EXPECT_EQ(0, g);
    EXPECT_EQ(255, b);
}

TEST(LightPalette, GivenRowsAndEnds)
{
    static const int rows[7][4] = {{0, 0, 0, 0},       {16, 29, 32, 60},    {64, 98, 64, 78},
                                   {128, 167, 125, 91}, {160, 248, 134, 64}, {224, 255, 196, 131},
                                   {255, 255, 254, 219}};
    for (int i = 0; i < 7; i++)
        for (int c = 0; c < 3; c++)
            EXPECT_EQ(rows[i][c + 1], LightPalette[rows[i][0]][c]) << rows[i][0];
}

// --- Golden pictures ---
//
// Small renders with every layer on at the equinox and both solstices, as a
// globe and a flat map, compared with pictures kept in the source tree. The
// maths library under Wine may differ from Windows' in the last bits, and
// table lookups may land one entry apart: every channel may differ by 3
// levels, and 0.5 % of the pixels by more.
//
// VT_UPDATE_GOLDEN=1 in the environment rewrites the stored pictures.

static std::string GoldenPath(const char *name)
{
    std::string path = std::string("Z:") + VT_SOURCE_DIR + "/tests/earth/golden/" + name;
    for (size_t i = 0; i < path.size(); i++)
        if (path[i] == '/')
            path[i] = '\\';
    return path;
}

static void CompareWithGolden(const std::string &rendered, const char *name)
{
    std::string golden = GoldenPath(name);
    if (getenv("VT_UPDATE_GOLDEN")) {
        WriteWhole(golden, rendered);
        return;
    }
    std::string want = ReadWhole(golden);
    ASSERT_EQ(want.size(), rendered.size()) << name << ": no golden picture (VT_UPDATE_GOLDEN=1)";
    ASSERT_EQ(0, memcmp(want.data(), rendered.data(), 54)) << name;
    int w = (int)Le32((const uint8_t *)want.data() + 18), h = (int)Le32((const uint8_t *)want.data() + 22);
    int outliers = 0, worst = 0;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const uint8_t *a = BmpPixel(want, x, y), *b = BmpPixel(rendered, x, y);
            int d = 0;
            for (int c = 0; c < 3; c++)
                d = abs(a[c] - b[c]) > d ? abs(a[c] - b[c]) : d;
            outliers += d > 3;
            worst = d > worst ? d : worst;
        }
    EXPECT_LE(outliers, w * h / 200) << name << ": " << outliers << " pixels differ by more than 3 (worst " << worst << ")";
}

struct GoldenMoment {
    const char *name;
    int month, day, hour;
};

static const GoldenMoment kMoments[3] = {
    {"equinox", 3, 20, 12}, {"june", 6, 21, 6}, {"december", 12, 21, 18}};

TEST_F(Compositor, GoldenGlobes)
{
    ViewOptions *v = (ViewOptions *)calloc(1, sizeof(ViewOptions));
    for (int i = 0; i < 3; i++) {
        FullGlobeView(v, 120, 80, 0.4, 0.9);
        SetMoment(v, 2024, kMoments[i].month, kMoments[i].day, kMoments[i].hour);
        srand(3);
        buildRandomTable(0);
        ASSERT_EQ(RENDER_OK, RenderOne(*v, gOut + "\\golden.bmp"));
        std::string name = std::string("globe-") + kMoments[i].name + ".bmp";
        CompareWithGolden(ReadWhole(gOut + "\\golden.bmp"), name.c_str());
    }
    free(v);
}

TEST_F(Compositor, GoldenFlatMaps)
{
    ViewOptions *v = (ViewOptions *)calloc(1, sizeof(ViewOptions));
    for (int i = 0; i < 3; i++) {
        FullFlatView(v, 128, 80);
        SetMoment(v, 2024, kMoments[i].month, kMoments[i].day, kMoments[i].hour);
        srand(3);
        buildRandomTable(0);
        ASSERT_EQ(RENDER_OK, RenderOne(*v, gOut + "\\golden.bmp"));
        std::string name = std::string("flat-") + kMoments[i].name + ".bmp";
        CompareWithGolden(ReadWhole(gOut + "\\golden.bmp"), name.c_str());
    }
    free(v);
}

TEST_F(Compositor, CityLabelsAreDrawnIntoThePicture)
{
    // The time-zone table the city tests generate lies beside this test.
    ASSERT_TRUE(CopyFileA("cities\\Timezones.txt", (gMaps + "\\Timezones.txt").c_str(), FALSE));
    ViewOptions *v = (ViewOptions *)calloc(1, sizeof(ViewOptions));
    PlainFlatView(v, 128, 64);
    v->iOutputW = 256;
    v->iOutputH = 128;
    SetRect(v->iDtpArea, 0, 0, 255, 127);
    SetRect(v->iClpArea, 0, 0, 255, 127);
    v->dSMpZoom = 2;
    ASSERT_EQ(RENDER_OK, RenderOne(*v, gOut + "\\nolabel.bmp"));
    CityEntry *city = &v->City[0];
    memset(city, 0, sizeof *city);
    CopyText(city->city, "Berlin", sizeof city->city);
    CopyText(city->timezone, "Europe/Berlin", sizeof city->timezone);
    CopyText(city->text, "#CCI", sizeof city->text);
    city->lat = 52.52f;
    city->lon = 13.405f;
    city->fontsize = 10;
    city->opacity = 100;
    city->framesize = 1;
    city->crtext[0] = city->crtext[1] = RGB(255, 255, 255);
    city->crframe[0] = city->crframe[1] = RGB(255, 0, 0);
    v->bCities = 1;
    v->iCityNumber = 1;
    ASSERT_EQ(RENDER_OK, RenderOne(*v, gOut + "\\label.bmp"));
    std::string a = ReadWhole(gOut + "\\nolabel.bmp"), b = ReadWhole(gOut + "\\label.bmp");
    ASSERT_EQ(a.size(), b.size());
    // Berlin lies at about (137, 27). The picture is small beside the screen,
    // so the box is drawn shrunk by screen height / picture height.
    int changed = 0, elsewhere = 0;
    for (int y = 0; y < 128; y++)
        for (int x = 0; x < 256; x++)
            if (memcmp(BmpPixel(a, x, y), BmpPixel(b, x, y), 3)) {
                changed++;
                elsewhere += x < 117 || x > 160 || y < 7 || y > 47;
            }
    EXPECT_GT(changed, 20);
    EXPECT_EQ(0, elsewhere);
    free(v);
}
