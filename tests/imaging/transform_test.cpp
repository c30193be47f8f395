// Transforms, checked against hand-computed pixels.
#include "imaging_testutil.h"

#include <stdlib.h>
#include <string.h>

static int Blue(const CDibImage &im, int x, int y) { return im.GetPixelColor(x, y).rgbBlue; }

TEST(Resample, SizeRules)
{
    CDibImage im(3, 3, 24, FORMAT_UNKNOWN);
    FillRgb(im, Bgr(1, 2, 3));
    unsigned char *block = im.GetDIB();
    EXPECT_TRUE(im.Resample(3, 3, 0));
    EXPECT_EQ(im.GetDIB(), block);
    EXPECT_FALSE(im.Resample(0, 3, 0));
    EXPECT_FALSE(im.Resample(3, -1, 0));
    CDibImage copy;
    EXPECT_TRUE(im.Resample(3, 3, 0, &copy));
    EXPECT_NE(copy.GetDIB(), block);
    EXPECT_COLOR(copy.GetPixelColor(2, 2), 1, 2, 3);
    CDibImage empty;
    EXPECT_FALSE(empty.Resample(2, 2, 0));
}

TEST(Resample, AreaAveragesWholeBlocks)
{
    CDibImage im(4, 4, 24, FORMAT_UNKNOWN);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 4; x++)
            im.SetPixelColor(x, y, Bgr(x * 10 + y * 50, 255, x == 3 && y == 3 ? 255 : 0));
    ASSERT_TRUE(im.Resample(2, 2, 0));
    EXPECT_EQ(im.GetWidth(), 2);
    EXPECT_EQ(im.GetHeight(), 2);
    EXPECT_COLOR(im.GetPixelColor(0, 0), (0 + 10 + 50 + 60) / 4, 255, 0);
    EXPECT_COLOR(im.GetPixelColor(1, 0), (20 + 30 + 70 + 80) / 4, 255, 0);
    EXPECT_COLOR(im.GetPixelColor(1, 1), (120 + 130 + 170 + 180) / 4, 255, 63);   // 255 x 1000 / 4000
}

// 3 -> 2 along both axes: the middle source column and row are split in
// halves; weights are 1000, 500 and 250 thousandths, the divisor 2250.
TEST(Resample, AreaSplitsCellsInThousandths)
{
    CDibImage im(3, 3, 24, FORMAT_UNKNOWN);
    int v[3][3] = {{90, 180, 30}, {60, 0, 240}, {120, 150, 210}};   // v[y][x]
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 3; x++)
            im.SetPixelColor(x, y, Bgr(v[y][x], 0, 0));
    ASSERT_TRUE(im.Resample(2, 2, 0));
    EXPECT_EQ(Blue(im, 0, 0), (v[0][0] * 1000 + v[0][1] * 500 + v[1][0] * 500 + v[1][1] * 250) / 2250);
    EXPECT_EQ(Blue(im, 1, 0), (v[0][2] * 1000 + v[0][1] * 500 + v[1][2] * 500 + v[1][1] * 250) / 2250);
    EXPECT_EQ(Blue(im, 0, 1), (v[2][0] * 1000 + v[2][1] * 500 + v[1][0] * 500 + v[1][1] * 250) / 2250);
    EXPECT_EQ(Blue(im, 1, 1), (v[2][2] * 1000 + v[2][1] * 500 + v[1][2] * 500 + v[1][1] * 250) / 2250);
}

TEST(Resample, EnlargeIsBilinearWithRepeatedEdge)
{
    CDibImage im(2, 1, 24, FORMAT_UNKNOWN);
    im.SetPixelColor(0, 0, Bgr(0, 10, 0));
    im.SetPixelColor(1, 0, Bgr(100, 30, 0));
    ASSERT_TRUE(im.Resample(4, 2, 0));
    for (int y = 0; y < 2; y++) {
        EXPECT_COLOR(im.GetPixelColor(0, y), 0, 10, 0);
        EXPECT_COLOR(im.GetPixelColor(1, y), 50, 20, 0);
        EXPECT_COLOR(im.GetPixelColor(2, y), 100, 30, 0);
        EXPECT_COLOR(im.GetPixelColor(3, y), 100, 30, 0);
    }
}

TEST(Resample, NearestAndPalette)
{
    CDibImage im(2, 2, 8, FORMAT_UNKNOWN);
    im.SetPaletteColor(1, 0, 0, 200);
    im.SetPaletteColor(2, 0, 200, 0);
    im.SetPixelIndex(0, 0, 1);
    im.SetPixelIndex(1, 0, 2);
    im.SetPixelIndex(0, 1, 2);
    im.SetPixelIndex(1, 1, 1);
    ASSERT_TRUE(im.Resample(4, 4, 1));
    EXPECT_EQ(im.GetBpp(), 8);
    EXPECT_EQ(im.GetPixelIndex(1, 1), 1);
    EXPECT_EQ(im.GetPixelIndex(2, 1), 2);
    EXPECT_EQ(im.GetPixelIndex(3, 3), 1);
    EXPECT_EQ(im.GetPixelIndex(0, 3), 2);
}

// Bicubic B-spline at a whole source position: taps weigh 1/6, 2/3, 1/6; the
// tap at -1 is clamped onto column 0, so column 0 weighs 5/6 and column 1 1/6.
TEST(Resample, BicubicHandComputed)
{
    CDibImage im(2, 2, 24, FORMAT_UNKNOWN);
    FillRgb(im, Bgr(0, 0, 0));
    im.SetPixelColor(0, 0, Bgr(240, 0, 0));
    ASSERT_TRUE(im.Resample(4, 4, 2));
    EXPECT_EQ(Blue(im, 1, 1), 166);   // 240 x 25/36
    EXPECT_EQ(Blue(im, 3, 1), 33);    // new x 3 sits at source 1: column 0 weighs 1/6
}

TEST(Resample, EscapeStopsEarlyButDelivers)
{
    CDibImage im(4, 40, 24, FORMAT_UNKNOWN);
    FillRgb(im, Bgr(7, 7, 7));
    im.SetEscape(1);
    ASSERT_TRUE(im.Resample(8, 80, 1));
    EXPECT_EQ(im.GetWidth(), 8);
    EXPECT_EQ(im.GetHeight(), 80);
    EXPECT_EQ(im.info.progress, 1);   // one row of 80 done
    EXPECT_COLOR(im.GetPixelColor(5, 0), 7, 7, 7);
}

TEST(Filter, BoxBlurInTheMiddleAndAtACorner)
{
    const int ones[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
    CDibImage im(5, 5, 24, FORMAT_UNKNOWN);
    FillRgb(im, Bgr(0, 0, 0));
    im.SetPixelColor(2, 2, Bgr(255, 255, 255));
    ASSERT_TRUE(im.Filter(ones, 3, 9, 0));
    for (int y = 0; y < 5; y++)
        for (int x = 0; x < 5; x++)
            EXPECT_EQ(Blue(im, x, y), (x >= 1 && x <= 3 && y >= 1 && y <= 3) ? 28 : 0) << x << "," << y;
    CDibImage corner(5, 5, 24, FORMAT_UNKNOWN);
    FillRgb(corner, Bgr(0, 0, 0));
    corner.SetPixelColor(0, 0, Bgr(255, 255, 255));
    ASSERT_TRUE(corner.Filter(ones, 3, 9, 0));
    EXPECT_EQ(Blue(corner, 0, 0), 63);   // 255 x 9 / (9 x 4)
    EXPECT_EQ(Blue(corner, 1, 0), 42);   // 255 x 9 / (9 x 6)
    EXPECT_EQ(Blue(corner, 1, 1), 28);
}

TEST(Filter, ZeroDivisorAddsOffsetAndClamps)
{
    const int sharpen[9] = {0, -1, 0, -1, 5, -1, 0, -1, 0};
    CDibImage im(3, 3, 24, FORMAT_UNKNOWN);
    FillRgb(im, Bgr(10, 100, 200));
    im.SetPixelColor(1, 1, Bgr(20, 100, 250));
    ASSERT_TRUE(im.Filter(sharpen, 3, 0, 3));
    EXPECT_COLOR(im.GetPixelColor(1, 1), 5 * 20 - 40 + 3, 100 + 3, 255);
    // Corner: taps at (0,0) weight 5, (1,0) and (0,1) weight -1: S = 3v (centre of 10).
    EXPECT_COLOR(im.GetPixelColor(0, 0), 3 * 10 + 3, 255, 255);
    const int empty[1] = {0};
    EXPECT_FALSE(im.Filter(empty, 0, 1, 0));
}

TEST(Filter, GreyRampFiltersIndices)
{
    const int ones[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
    CDibImage im(3, 3, 8, FORMAT_UNKNOWN);
    im.SetGrayPalette();
    im.Clear(0);
    im.SetPixelIndex(1, 1, 90);
    ASSERT_TRUE(im.Filter(ones, 3, 9, 1));
    EXPECT_EQ(im.GetPixelIndex(1, 1), 11);   // 1 + 90 / 9
    EXPECT_EQ(im.GetPixelIndex(0, 0), 23);   // 1 + 90 x 9 / (9 x 4)
}

TEST(Flip, SwapsRows)
{
    CDibImage im(2, 3, 24, FORMAT_UNKNOWN);
    FillRgb(im, Bgr(0, 0, 0));
    for (int y = 0; y < 3; y++)
        im.SetPixelColor(0, y, Bgr(y + 1, 0, 0));
    ASSERT_TRUE(im.Flip());
    EXPECT_EQ(Blue(im, 0, 0), 3);
    EXPECT_EQ(Blue(im, 0, 1), 2);
    EXPECT_EQ(Blue(im, 0, 2), 1);
    CDibImage none;
    EXPECT_FALSE(none.Flip());
}

TEST(Mirror, ReversesEveryDepth)
{
    int depths[4] = {1, 4, 8, 24};
    for (int d = 0; d < 4; d++) {
        CDibImage im(11, 2, depths[d], FORMAT_UNKNOWN);
        if (im.IsIndexed())
            im.SetGrayPalette();
        im.Clear(0);
        im.SetPixelColor(0, 1, Bgr(255, 255, 255));
        im.SetPixelColor(3, 0, Bgr(255, 255, 255));
        ASSERT_TRUE(im.Mirror());
        EXPECT_EQ(Blue(im, 10, 1), 255) << depths[d];
        EXPECT_EQ(Blue(im, 0, 1), 0) << depths[d];
        EXPECT_EQ(Blue(im, 7, 0), 255) << depths[d];
        EXPECT_EQ(Blue(im, 3, 0), 0) << depths[d];
    }
}

TEST(Rotate, QuarterTurnsByHand)
{
    // 3 x 2: bottom row (y = 0) holds 1 2 3, top row 4 5 6.
    CDibImage im(3, 2, 24, FORMAT_UNKNOWN);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 3; x++)
            im.SetPixelColor(x, y, Bgr(1 + x + 3 * y, 0, 0));
    CDibImage left;
    ASSERT_TRUE(im.RotateLeft(&left));
    ASSERT_EQ(left.GetWidth(), 2);
    ASSERT_EQ(left.GetHeight(), 3);
    EXPECT_EQ(Blue(left, 0, 0), 4);   // old top-left is now bottom-left
    EXPECT_EQ(Blue(left, 1, 0), 1);
    EXPECT_EQ(Blue(left, 0, 2), 6);
    EXPECT_EQ(Blue(left, 1, 2), 3);
    EXPECT_EQ(im.GetWidth(), 3);      // a target leaves this image alone
    ASSERT_TRUE(im.RotateRight());
    ASSERT_EQ(im.GetWidth(), 2);
    EXPECT_EQ(Blue(im, 0, 0), 3);     // old bottom-right is now bottom-left
    EXPECT_EQ(Blue(im, 1, 0), 6);
    EXPECT_EQ(Blue(im, 0, 2), 1);
    EXPECT_EQ(Blue(im, 1, 2), 4);
}

TEST(Rotate, OneBitAcrossTilesRoundTrips)
{
    CDibImage im(130, 67, 1, FORMAT_UNKNOWN);
    im.SetPaletteColor(1, 255, 255, 255);
    srand(5);
    for (int y = 0; y < 67; y++)
        for (int x = 0; x < 130; x++)
            im.SetPixelIndex(x, y, (uint8_t)(rand() & 1));
    CDibImage turned;
    ASSERT_TRUE(im.RotateRight(&turned));
    EXPECT_EQ(turned.GetWidth(), 67);
    EXPECT_EQ(turned.GetPixelIndex(66, 129), im.GetPixelIndex(0, 66));
    EXPECT_EQ(turned.GetPixelIndex(5, 100), im.GetPixelIndex(29, 5));
    ASSERT_TRUE(turned.RotateLeft());
    ASSERT_EQ(turned.GetWidth(), 130);
    int differ = 0;   // row padding is never written, so compare pixels
    for (int y = 0; y < 67; y++)
        for (int x = 0; x < 130; x++)
            differ += turned.GetPixelIndex(x, y) != im.GetPixelIndex(x, y);
    EXPECT_EQ(differ, 0);
    EXPECT_COLOR(turned.GetPaletteColor(1), 255, 255, 255);
}

TEST(IncreaseBpp, Rules)
{
    CDibImage rgb(2, 2, 24, FORMAT_UNKNOWN);
    EXPECT_FALSE(rgb.IncreaseBpp(8));
    EXPECT_TRUE(rgb.IncreaseBpp(24));
    EXPECT_FALSE(rgb.IncreaseBpp(16));
    CDibImage mono(9, 2, 1, FORMAT_UNKNOWN);
    mono.SetPaletteColor(1, 10, 20, 30);
    mono.Clear(0);
    mono.SetPixelIndex(8, 1, 1);
    ASSERT_TRUE(mono.IncreaseBpp(8));
    EXPECT_EQ(mono.GetBpp(), 8);
    EXPECT_EQ(mono.GetPixelIndex(8, 1), 1);
    EXPECT_EQ(mono.GetPixelIndex(7, 1), 0);
    EXPECT_COLOR(mono.GetPaletteColor(1), 30, 20, 10);
    mono.SetTransIndex(1);
    ASSERT_TRUE(mono.IncreaseBpp(24));
    EXPECT_EQ(mono.GetBpp(), 24);
    EXPECT_COLOR(mono.GetPixelColor(8, 1), 30, 20, 10);
    EXPECT_COLOR(mono.info.backgroundColor, 30, 20, 10);
}

TEST(Negative, AllKinds)
{
    CDibImage rgb(2, 1, 24, FORMAT_UNKNOWN);
    rgb.SetPixelColor(0, 0, Bgr(0, 100, 255));
    rgb.SetPixelColor(1, 0, Bgr(1, 2, 3));
    rgb.SetTransColor(Bgr(10, 20, 30));
    ASSERT_TRUE(rgb.Negative());
    EXPECT_COLOR(rgb.GetPixelColor(0, 0), 255, 155, 0);
    EXPECT_COLOR(rgb.info.backgroundColor, 245, 235, 225);
    ASSERT_TRUE(rgb.Negative());
    EXPECT_COLOR(rgb.GetPixelColor(1, 0), 1, 2, 3);
    CDibImage pal(2, 1, 4, FORMAT_UNKNOWN);
    pal.SetPaletteColor(3, 10, 20, 30);
    pal.Clear(3);
    ASSERT_TRUE(pal.Negative());
    EXPECT_COLOR(pal.GetPaletteColor(3), 225, 235, 245);
    EXPECT_EQ(pal.GetPixelIndex(0, 0), 3);
    CDibImage grey(2, 1, 8, FORMAT_UNKNOWN);
    grey.SetGrayPalette();
    grey.SetPixelIndex(0, 0, 40);
    grey.SetPixelIndex(1, 0, 255);
    ASSERT_TRUE(grey.Negative());
    EXPECT_EQ(grey.GetPixelIndex(0, 0), 215);
    EXPECT_EQ(grey.GetPixelIndex(1, 0), 0);
    EXPECT_TRUE(grey.IsGrayScale());
}
