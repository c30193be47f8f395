// Where a view looks and what lies behind the Earth, against expectations
// worked out by hand: the view that follows the sun (with its offsets), the
// random camera position drawn from the random table, and the background
// picture in each placement mode, tiles with their random origin included.
#include "testutil.h"

#include <math.h>
#include <string.h>
#include <time.h>

#include <memory>

#include "earth/compositor.h"
#include "earth/compositor_helpers.h"
#include "earth/renderjobs.h"
#include "earth/settings.h"
#include "framework/application.h"
#include "framework/bytes.h"
#include "framework/utilities.h"

namespace {

const double PI = 3.14159265358979323846;
const double DEG = PI / 180;

std::unique_ptr<ViewOptions> Globe(int year, int month, int day, int hour)
{
    std::unique_ptr<ViewOptions> v(new ViewOptions());
    SetDefaultView(v.get(), 0);
    v->iPrjType = 0;
    v->bHalo = 0;
    v->iViewRoi = 0;
    v->iMapW = 400;
    v->iMapH = 200;
    v->iOutputW = 400;
    v->iOutputH = 300;
    v->dSMpZoom = 0.01;
    v->sSelScr.p[0] = v->sSelScr.p[1] = 0;
    v->sSelScr.p[2] = v->sSelScr.p[3] = 1;
    memset(&v->tTime, 0, sizeof v->tTime);
    v->tTime.tm_year = year - 1900;
    v->tTime.tm_mon = month - 1;
    v->tTime.tm_mday = day;
    v->tTime.tm_hour = hour;
    return v;
}

// 2024-03-20 12:00 UTC, nine hours after the equinox: the declination has
// climbed 0.39 degrees a day for 0.37 days, +0.15 degrees; the equation of
// time is -7.3 minutes, so the sun crosses Greenwich at 12:07 and stands
// 7.3 x 0.25 = 1.83 degrees east of it.
const double kSunLon = 1.83 * DEG, kSunLat = 0.15 * DEG, kSunTolerance = 0.15 * DEG;

TEST(ViewMode, FollowsTheSunWithItsOffsets)
{
    auto v = Globe(2024, 3, 20, 12);
    v->iViewMode = 1;
    v->dVSLon = 0;
    v->dVSLat = 0;
    PlaceView(v.get());
    EXPECT_NEAR(v->dRotateZ, kSunLon, kSunTolerance);
    EXPECT_NEAR(v->dRotateY, kSunLat, kSunTolerance);

    // Offsets: 30 degrees west and 40 north of the sun.
    v->dVSLon = -30 * DEG;
    v->dVSLat = 40 * DEG;
    PlaceView(v.get());
    EXPECT_NEAR(v->dRotateZ, kSunLon - 30 * DEG, kSunTolerance);
    EXPECT_NEAR(v->dRotateY, kSunLat + 40 * DEG, kSunTolerance);

    // 179 degrees east of the sun lies past the date line: -179 + 1.83.
    v->dVSLon = 179 * DEG;
    v->dVSLat = 0;
    PlaceView(v.get());
    EXPECT_NEAR(v->dRotateZ, kSunLon - 181 * DEG, kSunTolerance);
    // 95 degrees north of it is the pole, no farther.
    v->dVSLon = 0;
    v->dVSLat = 95 * DEG;
    PlaceView(v.get());
    EXPECT_NEAR(v->dRotateY, PI / 2, 1e-12);

    // Twelve hours on, the sun stands near 178 degrees west (the equation of
    // time changes by seconds in half a day).
    auto night = Globe(2024, 3, 21, 0);
    night->iViewMode = 1;
    night->dVSLon = night->dVSLat = 0;
    PlaceView(night.get());
    EXPECT_NEAR(night->dRotateZ, kSunLon - PI, kSunTolerance);
}

TEST(ViewMode, FollowingTheSunOnAFlatMapCentresTheSunsPixel)
{
    auto v = Globe(2024, 3, 20, 12);
    v->iPrjType = 1;
    v->iViewMode = 1;
    // Offsets that put the centre mid-pixel, away from rounding edges:
    // x (1.83 + 90.5 + 180) / 360 x 400 = 302.6, y (90 + 30.15) / 180 x 200 = 133.5.
    v->dVSLon = 90.5 * DEG;
    v->dVSLat = -30.3 * DEG;
    v->dSMpZoom = 4;   // 100 x 75 map pixels: halves 50 and 37
    PlaceView(v.get());
    EXPECT_EQ(v->iMapArea[0], 252);
    EXPECT_EQ(v->iMapArea[1], 96);
    EXPECT_EQ(v->iMapArea[2], 351);
    EXPECT_EQ(v->iMapArea[3], 169);
}

TEST(ViewMode, RandomPositionTakesTwoDrawsFromTheRandomTable)
{
    buildRandomTable(0);
    // Draws 49/64 and 1/4: longitude 0.765625 x 360 - 180 = 95.625 degrees
    // east, latitude asin(-1 + 0.5) = 30 degrees south.
    RandomTable[100] = 0.765625f;
    RandomTable[101] = 0.25f;
    gRandomTableStart = 100;
    auto v = Globe(2024, 3, 20, 12);
    v->iViewMode = 3;
    PlaceView(v.get());
    EXPECT_NEAR(v->dRotateZ, 95.625 * DEG, 1e-6);
    EXPECT_NEAR(v->dRotateY, -PI / 6, 1e-6);
    EXPECT_EQ(gRandomTableStart, 102);

    // On a flat map: centre x (95.625 + 180) / 360 x 400 = 306.25, y (90 +
    // 30) / 180 x 200 = 133.3; with halves 50 and 37: 256..355, 96..169.
    RandomTable[102] = 0.765625f;
    RandomTable[103] = 0.25f;
    v->iPrjType = 1;
    v->dSMpZoom = 4;
    PlaceView(v.get());
    EXPECT_EQ(v->iMapArea[0], 256);
    EXPECT_EQ(v->iMapArea[1], 96);
    EXPECT_EQ(v->iMapArea[2], 355);
    EXPECT_EQ(v->iMapArea[3], 169);

    // The extremes of the table: 0 is the date line and the south pole.
    RandomTable[104] = 0.0f;
    RandomTable[105] = 0.0f;
    v->iPrjType = 0;
    PlaceView(v.get());
    EXPECT_NEAR(fabs(v->dRotateZ), PI, 1e-6);
    EXPECT_NEAR(v->dRotateY, -PI / 2, 1e-6);
}

// ---- background picture ----------------------------------------------------

// A 40 x 20 picture of four vertical bands of 10 pixels, A B C D, bright in
// the upper half and half as bright in the lower.
const uint8_t kBands[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};   // RGB
const int kPicW = 40, kPicH = 20, kOut = 200;

std::string gFolder;

void WritePicture(const std::string &path)
{
    int stride = (kPicW * 3 + 3) & ~3;
    std::string bmp(54, '\0');
    uint8_t *h = (uint8_t *)&bmp[0];
    h[0] = 'B';
    h[1] = 'M';
    Put32(h + 2, (uint32_t)(54 + stride * kPicH));
    Put32(h + 10, 54);
    Put32(h + 14, 40);
    Put32(h + 18, kPicW);
    Put32(h + 22, kPicH);
    h[26] = 1;
    h[28] = 24;
    for (int row = kPicH - 1; row >= 0; row--) {   // bottom-up
        std::string line(stride, '\0');
        for (int x = 0; x < kPicW; x++)
            for (int c = 0; c < 3; c++) {
                int value = kBands[x / 10][c] / (row < kPicH / 2 ? 1 : 2);
                line[x * 3 + 2 - c] = (char)value;   // stored blue, green, red
            }
        bmp += line;
    }
    WriteWhole(path, bmp);
}

// The picture's colour of band b, upper or lower half, as BGR bytes.
struct Bgr {
    uint8_t b, g, r;
};
Bgr Band(int band, bool upper)
{
    int d = upper ? 1 : 2;
    return {(uint8_t)(kBands[band][2] / d), (uint8_t)(kBands[band][1] / d),
            (uint8_t)(kBands[band][0] / d)};
}
const Bgr kBlack = {0, 0, 0};

class Background : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        buildCosineTable();
        gFolder = FreshTempFolder("viewmodes");
        CopyText((char *)gApp.installRecord + INSTALL_RECORD_INSTALL_PATH, gFolder.c_str(),
                 INSTALL_RECORD_TEXT_BYTES);
        CopyText(gApp.dataFolder, gFolder.c_str(), MAX_TEXT);
        // A small sea map: the views draw no Earth, but the map must open.
        std::string map;
        for (int i = 0; i < kPicW * kPicH; i++)
            map.append("\x80\x40\x20", 3);
        uint8_t t[12];
        Put32(t, 1);
        Put32(t + 4, kPicW);
        Put32(t + 8, kPicH);
        map.append((const char *)t, 12);
        WriteWhole(gFolder + "\\World.map", map);
        WritePicture(gFolder + "\\bands.bmp");
    }
    void SetUp() override
    {
        gApp.osCode = 10;
        gPrefs.bLowMemMode = 0;
        gScreenX = gScreenY = 0;
        gScreenW = 2 * kOut;   // screen scale 2 for the centred mode
        gScreenH = 2 * kOut;
        gComposeCopyAttempts = 3;
        gComposeCopyPauseMs = 50;
        buildRandomTable(0);
    }

    // A 200 x 200 flat view with neither day nor night: every pixel takes
    // the space path, so the picture shows wherever it is placed.
    std::string Render(int mode, bool randomOrigin)
    {
        ViewList jobs;
        EXPECT_TRUE(ResizeViewList(&jobs, 1));
        ViewOptions *v = &jobs.data[0];
        SetDefaultView(v, 0);
        CopyText(v->szMap, "World", sizeof v->szMap);
        v->iMapW = kPicW;
        v->iMapH = kPicH;
        v->iOutputW = v->iOutputH = kOut;
        v->iPrjType = 1;
        int map[4] = {0, 0, kPicW - 1, kPicH - 1}, out[4] = {0, 0, kOut - 1, kOut - 1};
        memcpy(v->iMapArea, map, sizeof map);
        memcpy(v->iDtpArea, out, sizeof out);
        memcpy(v->iClpArea, out, sizeof out);
        v->dSMpZoom = 5;
        v->bDay = v->bNight = 0;
        v->bHalo = v->bClouds = v->bCities = v->bStars = 0;
        v->bSeasonEnable = 0;
        v->bBackground = 1;
        v->iBGMode = 2;
        v->iBGImgMode = mode;
        v->bBGRandPos = randomOrigin;
        CopyText(v->szBGImage, (gFolder + "\\bands.bmp").c_str(), sizeof v->szBGImage);
        std::string path = gFolder + "\\out.bmp";
        EXPECT_EQ(RENDER_OK, ComposeImage(0, &jobs, path.c_str(), RENDER_OUTPUT_WALLPAPER));
        jobs.RemoveAll();
        return ReadWhole(path);
    }
};

#define EXPECT_PIXEL(bmp, x, y, want)                                                         \
    do {                                                                                      \
        const uint8_t *p = (const uint8_t *)(bmp).data() + 54 +                              \
                           (size_t)(kOut - 1 - (y)) * (kOut * 3) + (x) * 3;                  \
        EXPECT_EQ(p[0], (want).b) << "(" << (x) << ", " << (y) << ") blue";                   \
        EXPECT_EQ(p[1], (want).g) << "(" << (x) << ", " << (y) << ") green";                  \
        EXPECT_EQ(p[2], (want).r) << "(" << (x) << ", " << (y) << ") red";                    \
    } while (0)

TEST_F(Background, FillCoversTheOutputCroppingTheSides)
{
    // Scale max(200/40, 200/20) = 10: 400 x 200, centred, so 100 columns of
    // it stick out on each side and the output shows picture x 10..30.
    std::string bmp = Render(0, false);
    ASSERT_EQ(bmp.size(), 54u + kOut * kOut * 3);
    EXPECT_PIXEL(bmp, 25, 50, Band(1, true));     // picture x 12.5
    EXPECT_PIXEL(bmp, 175, 50, Band(2, true));    // picture x 27.5
    EXPECT_PIXEL(bmp, 25, 150, Band(1, false));
    EXPECT_PIXEL(bmp, 175, 150, Band(2, false));
}

TEST_F(Background, FitShowsTheWholePictureBetweenUntouchedBands)
{
    // Scale min(5, 10) = 5: 200 x 100 from row 50; rows above and below
    // keep the output's own (black) pixels.
    std::string bmp = Render(1, false);
    EXPECT_PIXEL(bmp, 25, 25, kBlack);
    EXPECT_PIXEL(bmp, 25, 175, kBlack);
    EXPECT_PIXEL(bmp, 25, 75, Band(0, true));     // picture x 5, y 5
    EXPECT_PIXEL(bmp, 175, 75, Band(3, true));
    EXPECT_PIXEL(bmp, 75, 125, Band(1, false));   // picture x 15, y 15
}

TEST_F(Background, StretchFillsTheOutputWithTheWholePicture)
{
    // 5 x horizontally, 10 x vertically: each band is 50 columns wide.
    std::string bmp = Render(2, false);
    EXPECT_PIXEL(bmp, 25, 50, Band(0, true));
    EXPECT_PIXEL(bmp, 75, 50, Band(1, true));
    EXPECT_PIXEL(bmp, 125, 150, Band(2, false));
    EXPECT_PIXEL(bmp, 175, 150, Band(3, false));
}

TEST_F(Background, TilesRepeatPixelForPixelFromTheCorner)
{
    std::string bmp = Render(3, false);
    EXPECT_PIXEL(bmp, 5, 5, Band(0, true));
    EXPECT_PIXEL(bmp, 45, 5, Band(0, true));      // the next tile
    EXPECT_PIXEL(bmp, 15, 15, Band(1, false));
    EXPECT_PIXEL(bmp, 199, 199, Band(3, false));  // x 199 mod 40 = 39, y 199 mod 20 = 19
    EXPECT_PIXEL(bmp, 120, 30, Band(0, false));   // x 0 of the fourth tile, y 10: lower half
}

TEST_F(Background, TilesStartAtARandomOriginFromTwoDraws)
{
    // Draws 0.5 and 0.25: the tiles start at picture (20, 5).
    RandomTable[7] = 0.5f;
    RandomTable[8] = 0.25f;
    gRandomTableStart = 7;
    std::string bmp = Render(3, true);
    EXPECT_EQ(gRandomTableStart, 9);
    EXPECT_PIXEL(bmp, 0, 0, Band(2, true));       // picture (20, 5)
    EXPECT_PIXEL(bmp, 0, 5, Band(2, false));      // picture (20, 10)
    EXPECT_PIXEL(bmp, 25, 0, Band(0, true));      // picture (45 mod 40 = 5, 5)
    EXPECT_PIXEL(bmp, 19, 14, Band(3, false));    // picture (39, 19)
    EXPECT_PIXEL(bmp, 20, 15, Band(0, true));     // picture (0, 0) again
}

TEST_F(Background, CentredAtScreenScaleKeepsOnePicturePixelPerScreenPixel)
{
    // Screen 400 wide, output 200: the 40 x 20 picture covers 20 x 10
    // output pixels, centred at (90, 95)..(109, 104); the rest stays black.
    std::string bmp = Render(4, false);
    EXPECT_PIXEL(bmp, 85, 100, kBlack);
    EXPECT_PIXEL(bmp, 100, 90, kBlack);
    EXPECT_PIXEL(bmp, 91, 96, Band(0, true));     // picture (2, 2)
    EXPECT_PIXEL(bmp, 108, 103, Band(3, false));  // picture (36, 16)
}

}  // namespace
