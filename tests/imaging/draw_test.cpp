// Drawing into a memory device context, checked pixel by pixel.
#include <stdlib.h>
#include <string.h>

#include "imaging/image.h"
#include "testutil.h"

namespace {

const COLORREF kBack = RGB(10, 20, 30);

// The test canvas, filled with kBack.
struct Canvas : DibCanvas {
    Canvas(int w, int h) : DibCanvas(w, h, kBack) {}
    // Number of pixels that differ from kBack outside the rectangle.
    int ChangedOutside(int left, int top, int right, int bottom)
    {
        int n = 0;
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                if ((x < left || x >= right || y < top || y >= bottom) && At(x, y) != kBack)
                    n++;
        return n;
    }
};

RGBQUAD Quad(int r, int g, int b)
{
    RGBQUAD q = {(BYTE)b, (BYTE)g, (BYTE)r, 0};
    return q;
}

COLORREF Ref(RGBQUAD q)
{
    return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
}

// Every pixel a different colour: red = 40 x + 1, green = 40 y + 1.
void MakeNumbered(CDibImage &im, int w, int h)
{
    ASSERT_TRUE(im.Create(w, h, 24));
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            im.SetPixelColor(x, y, Quad(40 * x + 1, 40 * y + 1, 200));
}

// The DIB pixel that shows at picture position (column, row from the top).
COLORREF Shown(const CDibImage &im, int column, int rowFromTop)
{
    return Ref(im.GetPixelColor(column, im.GetHeight() - 1 - rowFromTop));
}

}  // namespace

TEST(Draw, FalseCasesDrawNothing)
{
    Canvas canvas(8, 8);
    CDibImage empty;
    EXPECT_FALSE(empty.Draw(canvas.dc, 0, 0, 4, 4));
    CDibImage im;
    MakeNumbered(im, 2, 2);
    EXPECT_FALSE(im.Draw(0, 0, 0, 4, 4));
    EXPECT_FALSE(im.Draw(canvas.dc, 0, 0, 0, 4));
    EXPECT_FALSE(im.Draw(canvas.dc, 0, 0, 4, 0));
    im.info.enabled = 0;
    EXPECT_FALSE(im.Draw(canvas.dc, 0, 0, 4, 4));
    EXPECT_FALSE(im.Draw(canvas.dc, 0, 0));
    EXPECT_EQ(0, canvas.ChangedOutside(0, 0, 0, 0));
}

TEST(Draw, OwnSizeGoesUnchangedToTheGivenPlace)
{
    Canvas canvas(10, 10);
    CDibImage im;
    MakeNumbered(im, 4, 3);
    ASSERT_TRUE(im.Draw(canvas.dc, 2, 3, -1, -1));
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 4; c++)
            EXPECT_EQ(Shown(im, c, r), canvas.At(2 + c, 3 + r)) << c << "," << r;
    EXPECT_EQ(0, canvas.ChangedOutside(2, 3, 6, 6));
}

TEST(Draw, FlipTurnsThePictureUpsideDownInPlace)
{
    Canvas canvas(10, 10);
    CDibImage im;
    MakeNumbered(im, 4, 3);
    ASSERT_TRUE(im.Draw(canvas.dc, 2, 3, 4, 3, 0, false, true));   // direct path
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 4; c++)
            EXPECT_EQ(Shown(im, c, 2 - r), canvas.At(2 + c, 3 + r)) << c << "," << r;
    EXPECT_EQ(0, canvas.ChangedOutside(2, 3, 6, 6));

    canvas.Fill(kBack);
    ASSERT_TRUE(im.Draw(canvas.dc, 1, 1, 8, 6, 0, false, true));   // scaled path, 2x
    for (int r = 0; r < 6; r++)
        for (int c = 0; c < 8; c++)
            EXPECT_EQ(Shown(im, c / 2, 2 - r / 2), canvas.At(1 + c, 1 + r)) << c << "," << r;
    EXPECT_EQ(0, canvas.ChangedOutside(1, 1, 9, 7));
}

TEST(Draw, ScalingSamplesTheFloorOfTheSourcePosition)
{
    Canvas canvas(12, 12);
    CDibImage im;
    MakeNumbered(im, 3, 2);
    // fx = 1.5: the two columns sample source columns 0 and floor(1.5) = 1.
    ASSERT_TRUE(im.Draw(canvas.dc, 0, 0, 2, 3));
    // fy = 2/3: rows from the top sample DIB rows floor(2 - (d + 1) * 2/3) = 1, 0, 0.
    int dibRow[3] = {1, 0, 0};
    for (int d = 0; d < 3; d++) {
        EXPECT_EQ(Ref(im.GetPixelColor(0, dibRow[d])), canvas.At(0, d)) << d;
        EXPECT_EQ(Ref(im.GetPixelColor(1, dibRow[d])), canvas.At(1, d)) << d;
    }
    EXPECT_EQ(0, canvas.ChangedOutside(0, 0, 2, 3));

    canvas.Fill(kBack);
    ASSERT_TRUE(im.Draw(canvas.dc, 3, 2, 6, 4));   // exactly 2x
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 6; c++)
            EXPECT_EQ(Shown(im, c / 2, r / 2), canvas.At(3 + c, 2 + r)) << c << "," << r;
    EXPECT_EQ(0, canvas.ChangedOutside(3, 2, 9, 6));
}

TEST(Draw, PaletteImagesShowTheirPaletteColours)
{
    Canvas canvas(8, 8);
    CDibImage im;
    ASSERT_TRUE(im.Create(2, 1, 8));
    im.SetPaletteColor(3, 250, 5, 6);
    im.SetPaletteColor(7, 1, 2, 253);
    im.SetPixelIndex(0, 0, 3);
    im.SetPixelIndex(1, 0, 7);
    ASSERT_TRUE(im.Draw(canvas.dc, 0, 0, 4, 2));
    EXPECT_EQ(RGB(250, 5, 6), canvas.At(1, 1));
    EXPECT_EQ(RGB(1, 2, 253), canvas.At(2, 0));
}

TEST(Draw, ClipRectangleAndClipBoxLimitTheDrawing)
{
    Canvas canvas(12, 12);
    CDibImage im;
    MakeNumbered(im, 4, 4);
    RECT clip = {3, 2, 5, 9};
    ASSERT_TRUE(im.Draw(canvas.dc, 1, 1, 8, 8, &clip));
    EXPECT_EQ(0, canvas.ChangedOutside(3, 2, 5, 9));
    for (int y = 2; y < 9; y++)
        for (int x = 3; x < 5; x++)
            EXPECT_EQ(Shown(im, (x - 1) / 2, (y - 1) / 2), canvas.At(x, y)) << x << "," << y;
    // The context's own clip region is back as it was.
    RECT box;
    GetClipBox(canvas.dc, &box);
    EXPECT_EQ(0, box.left);
    EXPECT_EQ(12, box.right);

    // Wholly outside the clip box: true, nothing drawn.
    canvas.Fill(kBack);
    EXPECT_TRUE(im.Draw(canvas.dc, 20, 20, 4, 4));
    EXPECT_TRUE(im.Draw(canvas.dc, -10, 0, -1, -1));
    RECT elsewhere = {0, 0, 2, 2};
    EXPECT_TRUE(im.Draw(canvas.dc, 5, 5, 4, 4, &elsewhere));
    EXPECT_EQ(0, canvas.ChangedOutside(0, 0, 0, 0));
}

TEST(Draw, ClippedFlipShowsTheSamePixelsAsAnUnclippedOne)
{
    CDibImage im;
    MakeNumbered(im, 3, 5);
    Canvas whole(12, 12), part(12, 12);
    ASSERT_TRUE(im.Draw(whole.dc, 1, 1, 6, 10, 0, false, true));
    RECT clip = {2, 4, 6, 8};
    ASSERT_TRUE(im.Draw(part.dc, 1, 1, 6, 10, &clip, false, true));
    for (int y = 4; y < 8; y++)
        for (int x = 2; x < 6; x++)
            EXPECT_EQ(whole.At(x, y), part.At(x, y)) << x << "," << y;
    EXPECT_EQ(0, part.ChangedOutside(2, 4, 6, 8));
}

TEST(Draw, TransparentColourAndIndexLeaveTheDestination)
{
    Canvas canvas(8, 8);
    CDibImage rgb;
    ASSERT_TRUE(rgb.Create(2, 1, 24));
    rgb.SetPixelColor(0, 0, Quad(0, 255, 0));
    rgb.SetPixelColor(1, 0, Quad(0, 255, 1));   // one step off: drawn
    rgb.SetTransIndex(0);
    rgb.SetTransColor(Quad(0, 255, 0));
    ASSERT_TRUE(rgb.Draw(canvas.dc, 0, 0, -1, -1));
    EXPECT_EQ(kBack, canvas.At(0, 0));
    EXPECT_EQ(RGB(0, 255, 1), canvas.At(1, 0));

    // Scaled: every copy of the transparent pixel is left out.
    ASSERT_TRUE(rgb.Draw(canvas.dc, 0, 2, 4, 2));
    EXPECT_EQ(kBack, canvas.At(1, 3));
    EXPECT_EQ(RGB(0, 255, 1), canvas.At(3, 3));

    CDibImage indexed;
    ASSERT_TRUE(indexed.Create(2, 1, 8));
    indexed.SetPaletteColor(1, 9, 9, 9);
    indexed.SetPaletteColor(2, 9, 9, 9);   // same colour, other index: drawn
    indexed.SetPixelIndex(0, 0, 1);
    indexed.SetPixelIndex(1, 0, 2);
    indexed.SetTransIndex(1);
    ASSERT_TRUE(indexed.Draw(canvas.dc, 4, 5, -1, -1));
    EXPECT_EQ(kBack, canvas.At(4, 5));
    EXPECT_EQ(RGB(9, 9, 9), canvas.At(5, 5));
}

TEST(Draw, AlphaBlendsOverTheDestination)
{
    Canvas canvas(8, 8);
    CDibImage im;
    ASSERT_TRUE(im.Create(3, 1, 24));
    for (int x = 0; x < 3; x++)
        im.SetPixelColor(x, 0, Quad(200, 100, 50));
    // Alpha maximum alone: (source x 127 + destination x 128) >> 8.
    im.info.alphaMax = 127;
    ASSERT_TRUE(im.Draw(canvas.dc, 0, 0, -1, -1));
    COLORREF half = RGB((200 * 127 + 10 * 128) >> 8, (100 * 127 + 20 * 128) >> 8,
                        (50 * 127 + 30 * 128) >> 8);
    EXPECT_EQ(half, canvas.At(0, 0));
    EXPECT_EQ(half, canvas.At(2, 0));
    EXPECT_EQ(kBack, canvas.At(3, 0));

    // An alpha channel: 0 skips, 255 replaces, 100 blends.
    im.info.alphaMax = 255;
    im.alpha = (unsigned char *)malloc(3);
    im.alpha[0] = 0;
    im.alpha[1] = 255;
    im.alpha[2] = 100;
    ASSERT_TRUE(im.Draw(canvas.dc, 0, 2, -1, -1));
    EXPECT_EQ(kBack, canvas.At(0, 2));
    EXPECT_EQ(RGB(200, 100, 50), canvas.At(1, 2));
    EXPECT_EQ(RGB((200 * 100 + 10 * 155) >> 8, (100 * 100 + 20 * 155) >> 8,
                  (50 * 100 + 30 * 155) >> 8),
              canvas.At(2, 2));
}

TEST(Draw, AlphaPaletteWeighsEachEntry)
{
    Canvas canvas(8, 8);
    CDibImage im;
    ASSERT_TRUE(im.Create(2, 1, 8));
    im.SetPaletteColor(0, 255, 255, 255, 63);   // a = 255 x 64 >> 8 = 63
    im.SetPaletteColor(1, 255, 255, 255, 255);
    im.SetPixelIndex(0, 0, 0);
    im.SetPixelIndex(1, 0, 1);
    im.info.alphaPaletteEnabled = 1;
    ASSERT_TRUE(im.Draw(canvas.dc, 0, 0, -1, -1));
    EXPECT_EQ(RGB((255 * 63 + 10 * 192) >> 8, (255 * 63 + 20 * 192) >> 8,
                  (255 * 63 + 30 * 192) >> 8),
              canvas.At(0, 0));
    EXPECT_EQ(RGB(255, 255, 255), canvas.At(1, 0));
}

TEST(Draw, SmoothShrinkAveragesAndSmoothEnlargeInterpolates)
{
    Canvas canvas(8, 8);
    CDibImage im;
    ASSERT_TRUE(im.Create(4, 4, 24));
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 4; x++)
            im.SetPixelColor(x, y, (x + y) % 2 ? Quad(200, 200, 200) : Quad(0, 0, 0));
    ASSERT_TRUE(im.Draw(canvas.dc, 0, 0, 2, 2, 0, true, false));
    // Each destination pixel is the area mean at (k x 2 - 0.5, 4 - (d + 1) x 2 - 0.5).
    for (int d = 0; d < 2; d++)
        for (int k = 0; k < 2; k++) {
            RGBQUAD mean = im.InterpolateArea(k * 2 - 0.5f, 4 - (d + 1) * 2 - 0.5f, 2, 2,
                                              IM_BILINEAR, OM_REPEAT);
            EXPECT_EQ(Ref(mean), canvas.At(k, d)) << k << "," << d;
        }
    EXPECT_EQ(RGB(100, 100, 100), canvas.At(1, 1));   // an inner area: half of each
    // Without smooth the same shrink picks single pixels.
    ASSERT_TRUE(im.Draw(canvas.dc, 4, 0, 2, 2));
    EXPECT_EQ(Shown(im, 0, 1), canvas.At(4, 0));

    CDibImage two;
    ASSERT_TRUE(two.Create(2, 1, 24));
    two.SetPixelColor(0, 0, Quad(0, 0, 0));
    two.SetPixelColor(1, 0, Quad(0, 0, 255));
    ASSERT_TRUE(two.Draw(canvas.dc, 0, 4, 4, 1, 0, true, false));
    for (int k = 0; k < 4; k++)
        EXPECT_EQ(Ref(two.InterpolatePixel(k * 0.5f - 0.5f, 1 - 1.0f - 0.5f, IM_BILINEAR,
                                           OM_REPEAT)),
                  canvas.At(k, 4))
            << k;
    EXPECT_EQ(RGB(0, 0, 127), canvas.At(2, 4));   // halfway between the two pixels
}
