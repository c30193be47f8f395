// Pixel access, overflow methods, kernels and interpolation.
#include "imaging_testutil.h"

// A 24-bit image, black, with one blue pixel of 240 at (cx, cy).
static void LonePixel(CDibImage &im, int size, int cx, int cy)
{
    im.Create(size, size, 24, FORMAT_UNKNOWN);
    FillRgb(im, Bgr(0, 0, 0));
    im.SetPixelColor(cx, cy, Bgr(240, 0, 0));
}

TEST(PixelAccess, IndexPacking)
{
    CDibImage mono(10, 2, 1, FORMAT_UNKNOWN);
    mono.Clear(0);
    mono.SetPixelIndex(0, 1, 3);   // lowest bit only
    mono.SetPixelIndex(9, 1, 1);
    EXPECT_EQ(mono.GetBits(1)[0], 0x80);
    EXPECT_EQ(mono.GetBits(1)[1], 0x40);
    EXPECT_EQ(mono.GetPixelIndex(9, 1), 1);
    CDibImage four(3, 1, 4, FORMAT_UNKNOWN);
    four.Clear(0);
    four.SetPixelIndex(0, 0, 0x1A);   // low nibble, high half of the byte
    four.SetPixelIndex(1, 0, 0x05);
    EXPECT_EQ(four.GetBits()[0], 0xA5);
    EXPECT_EQ(four.GetPixelIndex(0, 0), 0xA);
    four.SetPixelIndex(3, 0, 7);      // outside: nothing
    EXPECT_EQ(four.GetBits()[1], 0);
}

TEST(PixelAccess, OutsideAndRgbRules)
{
    CDibImage rgb(2, 2, 24, FORMAT_UNKNOWN);
    FillRgb(rgb, Bgr(1, 2, 3));
    rgb.SetPixelColor(0, 0, Bgr(9, 8, 7));
    EXPECT_COLOR(rgb.GetPixelColor(-1, 0), 9, 8, 7);   // no background index: pixel (0, 0)
    rgb.SetTransIndex(0);
    rgb.SetTransColor(Bgr(50, 60, 70));
    EXPECT_COLOR(rgb.GetPixelColor(5, 5), 50, 60, 70);
    EXPECT_EQ(rgb.GetPixelIndex(0, 0), 0);
    rgb.SetPixelIndex(0, 0, 5);
    EXPECT_COLOR(rgb.GetPixelColor(0, 0), 9, 8, 7);
    rgb.SetPixelColorRGB(1, 1, 0x00112233);   // red 0x33, blue 0x11
    EXPECT_COLOR(rgb.GetPixelColor(1, 1), 0x11, 0x22, 0x33);
    FillRgb(rgb, Bgr(255, 255, 255));
    EXPECT_EQ(rgb.GetPixelGray(0, 0), 255);
}

TEST(PixelAccess, PaletteImages)
{
    CDibImage im(2, 2, 8, FORMAT_UNKNOWN);
    im.Clear(4);
    im.SetPaletteColor(4, 10, 20, 30);
    im.SetPaletteColor(9, 200, 0, 0);
    EXPECT_COLOR(im.GetPixelColor(1, 1), 30, 20, 10);
    im.SetPixelColor(0, 0, Bgr(0, 0, 190));   // nearest entry: 9
    EXPECT_EQ(im.GetPixelIndex(0, 0), 9);
    EXPECT_EQ(im.GetPixelIndex(7, 7), 9);      // outside, no background: the first byte
    im.SetTransIndex(4);
    EXPECT_EQ(im.GetPixelIndex(7, 7), 4);
    EXPECT_COLOR(im.GetPixelColor(7, 7), 30, 20, 10);
    CDibImage none;
    EXPECT_EQ(none.GetPixelIndex(0, 0), 0);
}

TEST(PixelOverflow, Methods)
{
    CDibImage im(3, 2, 24, FORMAT_UNKNOWN);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 3; x++)
            im.SetPixelColor(x, y, Bgr(x, y, 0));
    RGBQUAD red = Bgr(0, 0, 255);
    EXPECT_COLOR(im.GetPixelColorWithOverflow(-1, 0, OM_COLOR, &red), 0, 0, 255);
    EXPECT_COLOR(im.GetPixelColorWithOverflow(-1, 0, 99, 0), 255, 255, 255);
    EXPECT_COLOR(im.GetPixelColorWithOverflow(-1, -1, OM_WRAP, 0), 2, 1, 0);
    EXPECT_COLOR(im.GetPixelColorWithOverflow(7, 5, OM_WRAP, 0), 1, 1, 0);
    EXPECT_COLOR(im.GetPixelColorWithOverflow(-4, 9, OM_REPEAT, 0), 0, 1, 0);
    EXPECT_COLOR(im.GetPixelColorWithOverflow(-2, -1, OM_MIRROR, 0), 2, 1, 0);
    EXPECT_COLOR(im.GetPixelColorWithOverflow(3, 2, OM_MIRROR, 0), 2, 1, 0);
    EXPECT_COLOR(im.GetPixelColorWithOverflow(4, 0, OM_MIRROR, 0), 1, 0, 0);
    EXPECT_COLOR(im.GetPixelColorWithOverflow(9, 0, OM_BACKGROUND, &red), 0, 0, 255);
    im.SetTransIndex(0);
    im.SetTransColor(Bgr(10, 20, 30));
    EXPECT_COLOR(im.GetPixelColorWithOverflow(9, 0, OM_BACKGROUND, &red), 10, 20, 30);
    EXPECT_COLOR(im.GetPixelColorWithOverflow(9, 0, OM_TRANSPARENT, &red), 10, 20, 30);
    CDibImage empty;
    EXPECT_COLOR(empty.GetPixelColorWithOverflow(0, 0, OM_REPEAT, &red), 0, 0, 255);
}

TEST(Interpolation, FarOutsideUsesOverflow)
{
    CDibImage im(8, 8, 24, FORMAT_UNKNOWN);
    FillRgb(im, Bgr(1, 1, 1));
    im.SetPixelColor(0, 5, Bgr(5, 6, 7));
    im.SetTransColor(Bgr(10, 20, 30));
    EXPECT_COLOR(im.InterpolatePixel(-3, 5, IM_BILINEAR, OM_BACKGROUND), 255, 255, 255);
    im.SetTransIndex(0);
    EXPECT_COLOR(im.InterpolatePixel(-3, 5, IM_BILINEAR, OM_BACKGROUND), 10, 20, 30);
    EXPECT_COLOR(im.InterpolatePixel(-3, 5, IM_BILINEAR, OM_REPEAT), 5, 6, 7);
    EXPECT_COLOR(im.InterpolatePixel(-30, 5, IM_LANCZOS, OM_BACKGROUND), 10, 20, 30);
}

TEST(Interpolation, BilinearFixedPoint)
{
    CDibImage im(3, 3, 24, FORMAT_UNKNOWN);
    FillRgb(im, Bgr(0, 0, 0));
    im.SetPixelColor(2, 2, Bgr(255, 0, 0));
    EXPECT_COLOR(im.InterpolatePixel(1.5f, 1.5f, IM_BILINEAR, OM_REPEAT), 63, 0, 0);
    EXPECT_COLOR(im.InterpolatePixel(1.5f, 1.5f, 0, OM_REPEAT), 63, 0, 0);    // 0 and 25 are bilinear
    EXPECT_COLOR(im.InterpolatePixel(1.5f, 1.5f, 25, OM_REPEAT), 63, 0, 0);
    EXPECT_COLOR(im.InterpolatePixel(1.25f, 1.75f, IM_BILINEAR, OM_REPEAT), 47, 0, 0);   // (64 x 192 >> 8) = 48 x 255 >> 8
}

TEST(Interpolation, BilinearAtTheBorderMixesOverflow)
{
    CDibImage im(2, 2, 24, FORMAT_UNKNOWN);
    FillRgb(im, Bgr(255, 0, 0));
    RGBQUAD red = Bgr(0, 0, 255);
    // Half of pixel (-1, 0), which is the replacement, half of pixel (0, 0).
    EXPECT_COLOR(im.InterpolatePixel(-0.5f, 0, IM_BILINEAR, OM_COLOR, &red), 127, 0, 127);
    CDibImage pal(2, 2, 8, FORMAT_UNKNOWN);
    pal.SetPaletteColor(1, 200, 100, 0);
    pal.Clear(1);
    EXPECT_COLOR(pal.InterpolatePixel(0.5f, 0.5f, IM_BILINEAR, OM_REPEAT), 0, 100, 200);
}

TEST(Interpolation, NearestTruncatesTowardZero)
{
    CDibImage im(2, 1, 24, FORMAT_UNKNOWN);
    im.SetPixelColor(0, 0, Bgr(10, 0, 0));
    im.SetPixelColor(1, 0, Bgr(20, 0, 0));
    EXPECT_COLOR(im.InterpolatePixel(-0.7f, 0, IM_NEAREST, OM_COLOR), 10, 0, 0);
    EXPECT_COLOR(im.InterpolatePixel(0.5f, 0, IM_NEAREST, OM_COLOR), 20, 0, 0);
    EXPECT_COLOR(im.InterpolatePixel(0.49f, 0, IM_NEAREST, OM_COLOR), 10, 0, 0);
}

TEST(Kernels, ValueAtZero)
{
    const float quarterPi = 0.7853982f;
    for (int m = IM_BSPLINE; m <= IM_POWER; m++) {
        float want = 1.0f;
        if (m == IM_BESSEL)
            want = quarterPi;
        else if (m == IM_GAUSSIAN)
            want = 0.7978845834732056f;
        else if (m == IM_QUADRATIC)
            want = 0.75f;
        else if (m == IM_MITCHELL)
            want = 8.0f / 9.0f;
        else if (m == IM_BSPLINE)
            want = 2.0f / 3.0f;
        EXPECT_NEAR(ImageKernel(m, 0), want, 2e-7) << "method " << m;
    }
}

TEST(Kernels, ShapeAwayFromZero)
{
    EXPECT_NEAR(ImageKernel(IM_BSPLINE, 1), 1.0f / 6, 1e-6);
    EXPECT_EQ(ImageKernel(IM_BSPLINE, 2.5f), 0.0f);
    EXPECT_NEAR(ImageKernel(IM_CATROM, 0.5f), 0.5625f, 1e-6);
    EXPECT_NEAR(ImageKernel(IM_CATROM, -1.5f), -0.0625f, 1e-6);
    EXPECT_NEAR(ImageKernel(IM_BICUBIC2, 1.5f), -0.0625f, 1e-6);
    EXPECT_NEAR(ImageKernel(IM_BICUBIC, 1.5f), -0.125f, 1e-6);
    EXPECT_EQ(ImageKernel(IM_BOX, 0.5f), 0.0f);
    EXPECT_EQ(ImageKernel(IM_BOX, -0.5f), 1.0f);
    EXPECT_EQ(ImageKernel(IM_HERMITE, 1.0f), 0.0f);
    EXPECT_NEAR(ImageKernel(IM_QUADRATIC, 1.0f), 0.125f, 1e-6);
    EXPECT_NEAR(ImageKernel(IM_MITCHELL, 1.0f), 1.0f / 18, 1e-6);
    EXPECT_NEAR(ImageKernel(IM_BLACKMAN, 1.0f), 0.0f, 1e-6);
    EXPECT_NEAR(ImageKernel(IM_POWER, 0.5f), 0.75f, 1e-6);
    EXPECT_NEAR(ImageKernel(IM_SINC, 0.5f), 0.6366198f, 1e-6);
    EXPECT_NEAR(ImageKernel(IM_LANCZOS, 3.0f), 0.0f, 1e-6);
    EXPECT_NEAR(ImageKernel(IM_LANCZOS, 0.5f), 0.6366198f * 0.9886159f, 1e-6);
    // J1(pi/2) = 0.5668241; the kernel divides by 2t = 1.
    EXPECT_NEAR(ImageKernel(IM_BESSEL, 0.5f), 0.5668241f, 1e-6);
    // J1 has its first zero at 3.8317060: t = 1.2196699.
    EXPECT_NEAR(ImageKernel(IM_BESSEL, 1.2196699f), 0.0f, 1e-6);
    EXPECT_NEAR(ImageKernel(IM_GAUSSIAN, 1.0f), 0.7978845834732056f * 0.13533528f, 1e-6);
    EXPECT_EQ(ImageKernel(IM_BILINEAR, 0), 0.0f);
}

// A lone pixel sampled at its own centre gives k(0)^2 of its value, and one
// column over k(1) k(0): the kernel sums are not normalised.
TEST(Interpolation, KernelsOnALonePixel)
{
    CDibImage im;
    LonePixel(im, 7, 3, 3);
    EXPECT_COLOR(im.InterpolatePixel(3, 3, IM_BSPLINE, OM_COLOR), 106, 0, 0);   // 240 x 4/9
    EXPECT_COLOR(im.InterpolatePixel(2, 3, IM_BSPLINE, OM_COLOR), 26, 0, 0);    // 240 / 9
    EXPECT_COLOR(im.InterpolatePixel(3, 3, IM_BICUBIC, OM_COLOR), 240, 0, 0);
    EXPECT_COLOR(im.InterpolatePixel(3, 3, IM_GAUSSIAN, OM_COLOR), 152, 0, 0);
    EXPECT_COLOR(im.InterpolatePixel(3, 3, IM_BESSEL, OM_COLOR), 148, 0, 0);
    EXPECT_COLOR(im.InterpolatePixel(3, 3, IM_QUADRATIC, OM_COLOR), 135, 0, 0);
    EXPECT_COLOR(im.InterpolatePixel(3, 3, IM_MITCHELL, OM_COLOR), 189, 0, 0);
    EXPECT_COLOR(im.InterpolatePixel(3, 3.5f, IM_CATROM, OM_COLOR), 135, 0, 0);  // 240 x 0.5625
    // Negative lobes clamp at 0: the tap 1.5 away weighs -0.0625.
    EXPECT_COLOR(im.InterpolatePixel(1.5f, 3, IM_CATROM, OM_COLOR), 0, 0, 0);
    // At the border the taps outside read the overflow colour (white here).
    EXPECT_COLOR(im.InterpolatePixel(0, 0, IM_BICUBIC, OM_COLOR), 0, 0, 0);
    RGBQUAD grey = Bgr(90, 90, 90);
    // B-spline at a corner: taps at -1 weigh 1/6 on either axis; the outside
    // ones (5 of the 9 non-zero taps) carry the replacement grey of 90:
    // 90 x (1 - (2/3 + 1/6)^2) = 27.5.
    EXPECT_COLOR(im.InterpolatePixel(0, 0, IM_BSPLINE, OM_COLOR, &grey), 27, 27, 27);
}

TEST(Interpolation, LanczosUsesTwelveTaps)
{
    CDibImage im;
    LonePixel(im, 13, 6, 6);
    EXPECT_COLOR(im.InterpolatePixel(6, 6, IM_LANCZOS, OM_COLOR), 240, 0, 0);
    // Half a pixel off: sinc(0.5) sinc(1/12) on one axis.
    EXPECT_COLOR(im.InterpolatePixel(6.5f, 6, IM_LANCZOS, OM_COLOR), 151, 0, 0);
    // 4.5 pixels off still lies inside the support: 255 sinc(4.5) sinc(0.75) = 5.4.
    CDibImage distant;
    LonePixel(distant, 13, 2, 6);
    distant.SetPixelColor(2, 6, Bgr(255, 255, 255));
    EXPECT_COLOR(distant.InterpolatePixel(6.5f, 6, IM_LANCZOS, OM_COLOR), 5, 5, 5);
}

TEST(Interpolation, AreaMeans)
{
    CDibImage im(4, 4, 24, FORMAT_UNKNOWN);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 4; x++)
            im.SetPixelColor(x, y, Bgr(10 * x + 40 * y, 0, 0));
    // Pixels 1..2 on both axes, whole: (50 + 60 + 90 + 100) / 4 = 75.
    EXPECT_COLOR(im.InterpolateArea(1.5f, 1.5f, 2, 2, IM_BILINEAR, OM_REPEAT), 75, 0, 0);
    // One side at most 1: cells (0, 1) and (0, 2) sampled at their centres.
    EXPECT_COLOR(im.InterpolateArea(0, 1.5f, 1, 2, IM_NEAREST, OM_REPEAT), 60, 0, 0);
    EXPECT_COLOR(im.InterpolateArea(2, 2, 1, 1, IM_NEAREST, OM_REPEAT), 100, 0, 0);
}

// The area (0, 0) to (2, 2) covers a quarter of each corner pixel, half of
// each edge pixel and the whole of pixel (1, 1).
TEST(Interpolation, AreaWeightsCornersAndEdges)
{
    CDibImage im(4, 4, 24, FORMAT_UNKNOWN);
    FillRgb(im, Bgr(0, 0, 0));
    im.SetPixelColor(0, 0, Bgr(200, 0, 0));
    im.SetPixelColor(1, 0, Bgr(0, 200, 0));
    im.SetPixelColor(1, 1, Bgr(0, 0, 200));
    EXPECT_COLOR(im.InterpolateArea(1, 1, 2, 2, IM_BILINEAR, OM_REPEAT), 12, 25, 50);
}
