#include <gtest/gtest.h>

#include <string.h>

#include "framework/application.h"
#include "framework/framelist.h"
#include "framework/ui/graphics.h"
#include "framework/utilities.h"
#include "testutil.h"

typedef DibCanvas Canvas;

static const COLORREF kWhite = RGB(255, 255, 255), kRed = RGB(255, 0, 0),
                      kBlue = RGB(0, 0, 255), kGreen = RGB(0, 128, 0);

// Known, distinct slot colours for the painters.
static void SetTestSlots(CGraphics *g)
{
    for (int i = 0; i < COLOUR_SLOT_COUNT; i++)
        g->slots[i] = RGB(i * 4, 255 - i * 4, (i * 37) & 0xFF);
}

static LOGFONTA FontOf(HFONT font)
{
    LOGFONTA lf;
    memset(&lf, 0, sizeof(lf));
    GetObjectA(font, sizeof(lf), &lf);
    return lf;
}

TEST(GraphicsDpi, SizesScaleTruncated)
{
    EXPECT_EQ(ScaleForDpi(16, 96), 16);
    EXPECT_EQ(ScaleForDpi(16, 120), 20);
    EXPECT_EQ(ScaleForDpi(13, 120), 16);   // 16.25
    EXPECT_EQ(ScaleForDpi(7, 144), 10);    // 10.5
    EXPECT_EQ(ScaleForDpi(23, 144), 34);   // 34.5
    EXPECT_EQ(ScaleForDpi(3, 120), 3);     // 3.75
}

TEST(GraphicsDpi, FontHeightsRoundLikeMulDiv)
{
    EXPECT_EQ(FontHeightForDpi(12, 96), -12);
    EXPECT_EQ(FontHeightForDpi(12, 120), -15);
    EXPECT_EQ(FontHeightForDpi(11, 120), -14);   // 13.75 rounds up
    EXPECT_EQ(FontHeightForDpi(9, 144), -14);    // 13.5 rounds away
    EXPECT_EQ(FontHeightForDpi(9, 120), -11);    // 11.25
    EXPECT_EQ(FontHeightForDpi(10, 144), -15);
}

class Graphics : public ::testing::Test {
protected:
    CGraphics g;
    void SetUp() override
    {
        ASSERT_EQ(g.Init(), 0);
        gGraphics = &g;
    }
    void TearDown() override { gGraphics = 0; }
};

TEST_F(Graphics, FontSetsAtTheirDpi)
{
    EXPECT_EQ(g.CreateFonts("Arial", 9, 120), 0);
    LOGFONTA lf = FontOf(g.GetFont(FONT_DEFAULT, 120));
    EXPECT_EQ(lf.lfHeight, -15);
    EXPECT_EQ(lf.lfWeight, 400);
    EXPECT_EQ(FontOf(g.GetFont(FONT_DEFAULT_BOLD, 120)).lfWeight, 700);
    lf = FontOf(g.GetFont(FONT_DEFAULT_VERTICAL, 120));
    EXPECT_EQ(lf.lfEscapement, -900);
    EXPECT_EQ(lf.lfOrientation, -900);
    lf = FontOf(g.GetFont(FONT_FIXED, 120));
    EXPECT_STREQ(lf.lfFaceName, "Courier New");
    EXPECT_EQ(lf.lfPitchAndFamily & 3, FIXED_PITCH);
    lf = FontOf(g.GetFont(FONT_USER, 120));
    EXPECT_STREQ(lf.lfFaceName, "Arial");
    EXPECT_EQ(lf.lfHeight, -11);
    EXPECT_EQ(FontOf(g.GetFont(FONT_USER_BOLD, 120)).lfWeight, 700);
    EXPECT_EQ(FontOf(g.GetFont(FONT_USER_VERTICAL, 120)).lfEscapement, -900);
    EXPECT_EQ(g.GetFont(7, 120), (HFONT)0);
    EXPECT_EQ(g.GetFont(-1, 120), (HFONT)0);
}

TEST_F(Graphics, FontCachePerSetAndDpi)
{
    g.CreateFonts("Arial", 9, 96);
    HFONT at96 = g.GetFont(FONT_USER, 96);
    ASSERT_NE(at96, (HFONT)0);
    EXPECT_EQ(g.GetFont(FONT_USER, 96), at96);
    g.CreateFonts("Arial", 9, 96);
    EXPECT_EQ(g.fonts[FONT_USER].count, 1);
    EXPECT_EQ(g.GetFont(FONT_USER, 96), at96);

    HFONT at144 = g.GetFont(FONT_USER, 144);
    ASSERT_NE(at144, (HFONT)0);
    EXPECT_NE(at144, at96);
    EXPECT_EQ(g.GetFont(FONT_USER, 144), at144);
    EXPECT_EQ(FontOf(at144).lfHeight, -14);   // -MulDiv(9, 144, 96)
    EXPECT_STREQ(FontOf(at144).lfFaceName, "Arial");
    EXPECT_EQ(g.fonts[FONT_USER].count, 2);
    // Only the set that was asked for grows.
    EXPECT_EQ(g.fonts[FONT_USER_BOLD].count, 1);
}

TEST_F(Graphics, NewUserFaceLeavesMadeFontsAlone)
{
    g.CreateFonts("Arial", 9, 96);
    HFONT before = g.GetFont(FONT_USER, 96);
    g.CreateFonts("Times New Roman", 14, 96);
    EXPECT_STREQ(g.userFace, "Times New Roman");
    EXPECT_EQ(g.GetFont(FONT_USER, 96), before);
    EXPECT_STREQ(FontOf(before).lfFaceName, "Arial");
    // A new DPI copies the set's first entry, not the new face.
    EXPECT_STREQ(FontOf(g.GetFont(FONT_USER, 120)).lfFaceName, "Arial");
}

TEST_F(Graphics, EmptyUserFaceMeansDefaultAt12)
{
    g.CreateFonts("", 30, 96);
    EXPECT_STREQ(g.userFace, g.defaultFace);
    EXPECT_EQ(FontOf(g.GetFont(FONT_USER, 96)).lfHeight, -12);
    CGraphics other;
    other.Init();
    other.CreateFonts(0, 30, 144);
    EXPECT_EQ(FontOf(other.GetFont(FONT_USER, 144)).lfHeight, -18);
}

TEST_F(Graphics, GetFontFirstBuildsEverySetAtDesktopDpi)
{
    HFONT font = g.GetFont(FONT_USER_BOLD, 144);
    ASSERT_NE(font, (HFONT)0);
    for (int set = 0; set < FONT_SET_COUNT; set++)
        ASSERT_GE(g.fonts[set].count, 1) << set;
    int desktop = g.fonts[FONT_DEFAULT].data[0].dpi;
    EXPECT_GT(desktop, 0);
    EXPECT_EQ(g.fonts[FONT_USER].data[0].size, 12);
    EXPECT_STREQ(g.fonts[FONT_USER].data[0].face, g.defaultFace);
    EXPECT_EQ(FontOf(font).lfHeight, -18);
    EXPECT_EQ(FontOf(font).lfWeight, 700);
}

TEST_F(Graphics, MeasureTextAndNullText)
{
    g.CreateFonts("Arial", 10, 96);
    int w = 77, h = 77;
    EXPECT_EQ(g.MeasureText(0, &w, &h, g.GetFont(FONT_USER, 96)), QRF_ERR_ARGUMENT);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
    w = h = 77;
    EXPECT_EQ(g.MeasureTextForDpi(0, &w, &h, true, 96), QRF_ERR_ARGUMENT);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
    int one = 0, four = 0;
    EXPECT_EQ(g.MeasureTextForDpi("W", &one, &h, false, 96), 0);
    EXPECT_EQ(g.MeasureTextForDpi("WWWW", &four, &h, false, 96), 0);
    EXPECT_GT(one, 0);
    EXPECT_GE(four, one * 4 - 2);
    EXPECT_EQ(h, g.GetTextHeight(96));
    g.CreateFonts("Arial", 10, 192);
    int wide = 0;
    g.MeasureTextForDpi("WWWW", &wide, &h, false, 192);
    EXPECT_GT(wide, four * 3 / 2);
    EXPECT_GT(g.GetTextHeight(192), g.GetTextHeight(96) * 3 / 2);
    EXPECT_GT(g.GetSpaceWidth(96), 0);
    EXPECT_EQ(g.GetTextHeight(77), g.GetTextHeight(96));   // unknown DPI: first entry
}

TEST(GraphicsColours, BlendPerChannelTruncated)
{
    EXPECT_EQ(CGraphics::BlendColours(0.4, RGB(0, 0, 0), RGB(255, 100, 10)), RGB(102, 40, 4));
    EXPECT_EQ(CGraphics::BlendColours(0.5, RGB(10, 20, 30), RGB(11, 21, 31)), RGB(10, 20, 30));
    EXPECT_EQ(CGraphics::BlendColours(0.25, RGB(200, 0, 100), RGB(0, 200, 100)),
              RGB(150, 50, 100));
    EXPECT_EQ(CGraphics::BlendColours(0, RGB(1, 2, 3), RGB(9, 9, 9)), RGB(1, 2, 3));
    EXPECT_EQ(CGraphics::BlendColours(1, RGB(1, 2, 3), RGB(9, 8, 7)), RGB(9, 8, 7));
}

class GraphicsScheme : public ::testing::Test {
protected:
    QRFAppRecord saved;
    CGraphics g;
    void SetUp() override { saved = gApp.appRecord; }
    void TearDown() override { gApp.appRecord = saved; }
};

TEST_F(GraphicsScheme, CustomSchemeHasNoLightnessShift)
{
    gApp.appRecord.colorScheme = 2;
    gApp.appRecord.colors[0] = RGB(100, 100, 100);
    gApp.appRecord.colors[1] = RGB(1, 1, 1);   // unused
    gApp.appRecord.colors[2] = RGB(200, 40, 10);
    gApp.appRecord.colors[3] = RGB(5, 6, 7);
    gApp.appRecord.colors[4] = RGB(250, 251, 252);
    EXPECT_EQ(g.LoadColours(), 0);
    // Grey 100: lightness x 1.2, x 1.33, x 0.75, x 1.35, x 0.4.
    EXPECT_EQ(g.slots[0], RGB(120, 120, 120));
    EXPECT_EQ(g.slots[1], RGB(133, 133, 133));
    EXPECT_EQ(g.slots[2], RGB(133, 133, 133));
    EXPECT_EQ(g.slots[3], RGB(75, 75, 75));
    EXPECT_EQ(g.slots[26], RGB(40, 40, 40));
    EXPECT_EQ(g.slots[27], RGB(135, 135, 135));
    EXPECT_EQ(g.slots[34], RGB(100, 100, 100));
    EXPECT_EQ(g.slots[38], RGB(140, 140, 140));
    EXPECT_EQ(g.slots[45], RGB(50, 50, 50));
    EXPECT_EQ(g.slots[4], RGB(5, 6, 7));
    EXPECT_EQ(g.slots[5], RGB(250, 251, 252));
    EXPECT_EQ(g.slots[46], RGB(200, 40, 10));
    EXPECT_EQ(g.slots[42], AdjustColorHsl(RGB(200, 40, 10), 0, 0, 0));
    EXPECT_EQ(g.slots[41], AdjustColorHsl(RGB(200, 40, 10), 0, 0.3, 0));
    EXPECT_EQ(g.slots[58], AdjustColorHsl(RGB(200, 40, 10), 0, 0.7, -0.2));
    EXPECT_EQ(g.slots[54], RGB(96, 96, 96));   // 120 x 0.8
    EXPECT_EQ(g.slots[8], 0u);
}

TEST_F(GraphicsScheme, SystemSchemeTakesSystemColours)
{
    gApp.appRecord.colorScheme = 0;
    g.LoadColours();
    COLORREF face = GetSysColor(COLOR_BTNFACE), caption = GetSysColor(COLOR_ACTIVECAPTION);
    EXPECT_EQ(g.slots[1], GetSysColor(COLOR_3DLIGHT));
    EXPECT_EQ(g.slots[2], GetSysColor(COLOR_BTNHIGHLIGHT));
    EXPECT_EQ(g.slots[27], g.slots[2]);
    EXPECT_EQ(g.slots[33], face);
    EXPECT_EQ(g.slots[41], CGraphics::BlendColours(0.75, caption, face));
    EXPECT_EQ(g.slots[43], CGraphics::BlendColours(0.85, caption, face));
    EXPECT_EQ(g.slots[45], caption);
}

TEST_F(GraphicsScheme, AutomaticSchemeIsStoredBack)
{
    gApp.appRecord.colorScheme = 255;
    g.LoadColours();
    EXPECT_EQ(gApp.appRecord.colorScheme, g.automaticScheme);
    EXPECT_LE(gApp.appRecord.colorScheme, 1);
}

TEST_F(Graphics, FillAndFrameExactPixels)
{
    Canvas c(20, 10);
    RECT r = {2, 1, 12, 8};
    g.FillRect(c.dc, &r, kRed);
    EXPECT_EQ(c.Count(kRed), 10 * 7);
    EXPECT_EQ(c.Count(kRed, 2, 1, 12, 8), 70);
    c.Fill(kWhite);
    g.FrameRect(c.dc, &r, kBlue);
    EXPECT_EQ(c.Count(kBlue), 2 * 10 + 2 * 5);
    EXPECT_EQ(c.At(2, 1), kBlue);
    EXPECT_EQ(c.At(11, 7), kBlue);
    EXPECT_EQ(c.At(3, 2), kWhite);
    EXPECT_EQ(c.At(12, 8), kWhite);
}

TEST_F(Graphics, RectangleWithHollowBrush)
{
    Canvas c(10, 10, kGreen);
    RECT r = {1, 1, 9, 9};
    g.DrawRectangle(c.dc, &r, kRed, (COLORREF)-1);
    EXPECT_EQ(c.Count(kRed), 28);
    EXPECT_EQ(c.At(4, 4), kGreen);
    g.DrawRectangle(c.dc, &r, kRed, kBlue);
    EXPECT_EQ(c.Count(kBlue), 36);
    EXPECT_EQ(c.Count(kGreen), 100 - 64);
}

TEST_F(Graphics, Frame3DSides)
{
    Canvas c(10, 10);
    RECT r = {1, 1, 9, 8};
    g.Draw3DFrame(c.dc, &r, true, kRed, kBlue);
    EXPECT_EQ(c.At(1, 1), kRed);
    EXPECT_EQ(c.At(8, 1), kRed);    // top row runs to right - 1
    EXPECT_EQ(c.At(1, 7), kRed);    // left column from bottom - 1
    EXPECT_EQ(c.At(8, 2), kBlue);
    EXPECT_EQ(c.At(8, 7), kBlue);
    EXPECT_EQ(c.At(2, 7), kBlue);
    EXPECT_EQ(c.At(4, 4), kWhite);
    EXPECT_EQ(c.Count(kRed), 8 + 6);
    EXPECT_EQ(c.Count(kBlue), 6 + 6);
    c.Fill(kWhite);
    g.Draw3DFrame(c.dc, &r, false, kRed, kBlue);
    EXPECT_EQ(c.At(1, 1), kBlue);
    EXPECT_EQ(c.At(8, 7), kRed);
}

TEST_F(Graphics, GradientEnds)
{
    Canvas c(16, 16);
    RECT r = {0, 0, 16, 16};
    g.GradientRect(c.dc, RGB(0, 0, 0), RGB(240, 240, 240), &r, 1);
    EXPECT_EQ(c.At(0, 0), c.At(15, 0));
    EXPECT_LT(GetRValue(c.At(0, 0)), 16);
    EXPECT_GT(GetRValue(c.At(0, 15)), 210);
    EXPECT_LT(GetRValue(c.At(5, 7)), GetRValue(c.At(5, 8)) + 1);
    g.GradientRect(c.dc, RGB(0, 0, 0), RGB(240, 240, 240), &r, 0);
    EXPECT_EQ(c.At(3, 0), c.At(3, 15));
    EXPECT_LT(GetRValue(c.At(0, 3)), 16);
    EXPECT_GT(GetRValue(c.At(15, 3)), 210);
}

TEST_F(Graphics, EtchedLines)
{
    SetTestSlots(&g);
    Canvas c(12, 12);
    RECT across = {1, 2, 11, 4};
    g.DrawEtchedLine(c.dc, &across);
    EXPECT_EQ(c.Count(g.slots[31]), 9);   // (1..9, 2)
    EXPECT_EQ(c.Count(g.slots[32]), 9);   // (2..10, 3)
    EXPECT_EQ(c.At(1, 2), g.slots[31]);
    EXPECT_EQ(c.At(10, 3), g.slots[32]);
    EXPECT_EQ(c.At(10, 2), kWhite);
    c.Fill(kWhite);
    RECT down = {5, 0, 7, 10};
    g.DrawEtchedLine(c.dc, &down);
    EXPECT_EQ(c.At(5, 0), g.slots[31]);
    EXPECT_EQ(c.At(5, 8), g.slots[31]);
    EXPECT_EQ(c.At(6, 9), g.slots[32]);
    EXPECT_EQ(c.Count(g.slots[31]), 9);
}

TEST_F(Graphics, SizeGripDots)
{
    SetTestSlots(&g);
    Canvas c(16, 16);
    RECT r = {0, 0, 16, 16};   // d = 2
    g.DrawSizeGrip(c.dc, &r);
    EXPECT_EQ(c.At(14, 14), g.slots[27]);
    EXPECT_EQ(c.At(13, 13), g.slots[26]);
    EXPECT_EQ(c.At(12, 12), g.slots[26]);
    EXPECT_EQ(c.At(15, 15), kWhite);
    EXPECT_EQ(c.At(10, 14), g.slots[27]);   // column 1
    EXPECT_EQ(c.At(14, 6), g.slots[27]);    // row 2
    EXPECT_EQ(c.At(6, 6), kWhite);          // (2,2) is not a dot
    EXPECT_EQ(c.Count(g.slots[26]), 6 * 4);
    EXPECT_EQ(c.Count(g.slots[27]), 6 * 3);
}

TEST_F(Graphics, SplitterStrip)
{
    SetTestSlots(&g);
    Canvas c(20, 20);
    RECT r = {2, 3, 18, 17}, out = {0, 0, 0, 0};
    g.DrawSplitter(c.dc, &r, &out, true);
    EXPECT_EQ(out.left, 2);
    EXPECT_EQ(out.right, 6);
    EXPECT_EQ(out.top, 3);
    EXPECT_EQ(out.bottom, 17);
    EXPECT_EQ(r.right, 18);
    EXPECT_EQ(c.At(2, 3), g.slots[2]);
    EXPECT_EQ(c.At(5, 4), g.slots[3]);
    EXPECT_EQ(c.At(3, 8), g.slots[30]);
    EXPECT_EQ(c.At(6, 8), kWhite);
    g.DrawSplitter(c.dc, &r, 0, false);
    EXPECT_EQ(r.bottom, 7);
    EXPECT_EQ(r.right, 18);
}

TEST_F(Graphics, ArrowTriangles)
{
    g.slots[4] = kRed;
    Canvas c(22, 22);
    RECT r = {0, 0, 22, 22};   // e = 3, centre (11, 11)
    g.DrawArrow(c.dc, COLOUR_TEXT, ARROW_RIGHT, &r);
    EXPECT_EQ(c.At(8, 11), kRed);
    EXPECT_EQ(c.At(13, 11), kRed);
    EXPECT_EQ(c.At(16, 11), kWhite);
    EXPECT_EQ(c.At(6, 11), kWhite);
    EXPECT_EQ(c.At(8, 6), kWhite);
    c.Fill(kWhite);
    g.DrawArrow(c.dc, OwnColour(kBlue), ARROW_DOWN, &r);
    EXPECT_EQ(c.At(10, 9), kBlue);
    EXPECT_EQ(c.At(10, 16), kWhite);
    EXPECT_EQ(c.Count(kRed), 0);
    int before = c.Count(kWhite);
    g.DrawArrow(c.dc, OwnColour(kRed), 9, &r);
    EXPECT_EQ(c.Count(kWhite), before);
}

TEST_F(Graphics, CheckMarkVisibleBelow22Pixels)
{
    Canvas c(16, 16);
    RECT r = {0, 0, 16, 16};
    g.DrawCheckMark(c.dc, OwnColour(kBlue), &r);
    EXPECT_GT(c.Count(kBlue), 4);
    c.Fill(kWhite);
    RECT big = {0, 0, 44, 44};
    Canvas large(44, 44);
    g.DrawCheckMark(large.dc, OwnColour(kBlue), &big);
    EXPECT_GT(large.Count(kBlue), 20);
    EXPECT_EQ(large.At(22 - 8, 22 - 2), kBlue);   // (cx - g, cy - f) corner
}

TEST_F(Graphics, FormattedText)
{
    g.CreateFonts("Arial", 10, 96);
    g.slots[4] = RGB(0, 0, 0);
    Canvas c(120, 30);
    RECT r = {10, 5, 110, 25};
    EXPECT_EQ(g.DrawFormattedText(c.dc, 96, 0, COLOUR_TEXT, &r, 0, false), QRF_ERR_ARGUMENT);
    EXPECT_EQ(c.Count(kWhite), 120 * 30);
    EXPECT_EQ(g.DrawFormattedText(c.dc, 96, "%s%d", COLOUR_TEXT, &r, 2, false, "WW", 7), 0);
    int right = 60 * 30 - c.Count(kWhite, 60, 0, 120, 30);
    int left = 60 * 30 - c.Count(kWhite, 0, 0, 60, 30);
    EXPECT_GT(right, 10);
    EXPECT_EQ(left, 0);
    EXPECT_EQ(c.Count(kWhite, 0, 0, 120, 5), 120 * 5);
    EXPECT_EQ(c.Count(kWhite, 110, 0, 120, 30), 10 * 30);
    // Transparent background, text colour from the selector.
    c.Fill(kGreen);
    g.DrawFormattedText(c.dc, 96, "Hello", OwnColour(kRed), &r, 0, true);
    EXPECT_GT(c.Count(kRed), 10);
    EXPECT_GT(c.Count(kGreen), 120 * 30 - 400);
}

TEST_F(Graphics, OverlongTextIsCutAt1040)
{
    g.CreateFonts("Arial", 10, 96);
    static char longText[5000];
    memset(longText, 'i', sizeof(longText) - 1);
    Canvas c(60, 20);
    RECT r = {0, 0, 60, 20};
    EXPECT_EQ(g.DrawFormattedText(c.dc, 96, "%s%s", OwnColour(kRed), &r, 0, false, longText,
                                  longText),
              0);
    EXPECT_GT(c.Count(kRed), 0);
}

TEST_F(Graphics, VerticalTextStaysInsideItsRectangle)
{
    g.CreateFonts("Arial", 10, 96);
    Canvas c(40, 100);
    RECT r = {10, 10, 30, 90};
    EXPECT_EQ(g.DrawFormattedText(c.dc, 96, "Vertical", OwnColour(kRed), &r, ALIGN_VERTICAL | 1,
                                  false),
              0);
    int inside = 40 * 100 - c.Count(kWhite);
    EXPECT_GT(inside, 10);
    EXPECT_EQ(c.Count(kWhite, 0, 0, 40, 10), 400);
    EXPECT_EQ(c.Count(kWhite, 0, 90, 40, 100), 400);
    EXPECT_EQ(c.Count(kWhite, 0, 0, 10, 100), 1000);
}

TEST_F(Graphics, ItemBackgrounds)
{
    SetTestSlots(&g);
    Canvas c(20, 20);
    RECT r = {2, 2, 18, 18};
    g.DrawItemBackground(c.dc, &r, BACKGROUND_FILLED, 0, 0, -1, -1, -1);
    EXPECT_EQ(c.Count(g.slots[51]), 256);
    g.DrawItemBackground(c.dc, &r, BACKGROUND_FILLED, 0, 0, 12, -1, -1);
    EXPECT_EQ(c.Count(g.slots[12]), 256);
    g.DrawItemBackground(c.dc, &r, BACKGROUND_SUNKEN, 0, 0, -1, -1, -1);
    EXPECT_EQ(c.At(2, 2), g.slots[53]);
    EXPECT_EQ(c.At(17, 17), g.slots[52]);
    EXPECT_EQ(c.At(9, 9), g.slots[51]);
    g.DrawItemBackground(c.dc, &r, BACKGROUND_RAISED, 0, 0, 6, -1, -1);
    EXPECT_EQ(c.At(2, 2), g.slots[51]);
    EXPECT_EQ(c.At(17, 17), g.slots[53]);
    EXPECT_EQ(c.At(9, 9), g.slots[6]);
    g.slots[43] = g.slots[44] = kRed;
    g.DrawItemBackground(c.dc, &r, BACKGROUND_PRESSED, 0, 0, -1, -1, -1);
    EXPECT_EQ(c.At(2, 9), g.slots[45]);
    EXPECT_EQ(c.Count(kRed), 14 * 14);
    g.slots[20] = g.slots[21] = kBlue;
    g.DrawItemBackground(c.dc, &r, BACKGROUND_GRADIENT, 0, 0, 7, 20, 21);
    EXPECT_EQ(c.At(2, 2), g.slots[7]);
    EXPECT_EQ(c.Count(kBlue), 14 * 14);
    c.Fill(kWhite);
    // Checked with a check width: only the left w pixels.
    g.DrawItemBackground(c.dc, &r, BACKGROUND_CHECKED, 0, 6, -1, -1, -1);
    EXPECT_EQ(c.Count(kRed), 4 * 14);
    EXPECT_EQ(c.At(7, 9), g.slots[45]);
    EXPECT_EQ(c.At(8, 9), kWhite);
    g.DrawItemBackground(c.dc, &r, BACKGROUND_CHECKED_DISABLED, 0, 0, -1, -1, -1);
    EXPECT_EQ(c.At(2, 2), g.slots[3]);
    EXPECT_EQ(c.At(17, 17), g.slots[2]);
    EXPECT_EQ(c.At(9, 9), g.slots[51]);
}

// ---- Windows: parent background, corners, colour icons ----

static LPARAM gLastOffset;
static LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == 0x83FC) {
        gLastOffset = lParam;
        HDC dc = (HDC)wParam;
        POINT old;
        SetViewportOrgEx(dc, -(short)LOWORD(lParam), -(short)HIWORD(lParam), &old);
        RECT all = {0, 0, 400, 400};
        HBRUSH white = CreateSolidBrush(kWhite);
        ::FillRect(dc, &all, white);
        DeleteObject(white);
        SetPixel(dc, 30, 40, kRed);   // the child's origin in the parent
        SetViewportOrgEx(dc, old.x, old.y, 0);
        return 1;
    }
    if (message == 0x83FE) {
        ColorIconRequest *request = (ColorIconRequest *)lParam;
        return request->commandId + request->rect.right * 0x10000;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

class GraphicsWindows : public Graphics {
protected:
    HWND parent, child;
    void SetUp() override
    {
        Graphics::SetUp();
        WNDCLASSA cls;
        memset(&cls, 0, sizeof(cls));
        cls.lpfnWndProc = ParentProc;
        cls.hInstance = GetModuleHandleA(0);
        cls.lpszClassName = "GraphicsTestParent";
        RegisterClassA(&cls);
        parent = CreateWindowA("GraphicsTestParent", "", WS_POPUP, 0, 0, 200, 200, 0, 0,
                               cls.hInstance, 0);
        child = CreateWindowA("STATIC", "", WS_CHILD, 30, 40, 50, 20, parent, 0, cls.hInstance, 0);
        ASSERT_NE(child, (HWND)0);
        gLastOffset = -1;
    }
    void TearDown() override
    {
        DestroyWindow(parent);
        Graphics::TearDown();
    }
};

TEST_F(GraphicsWindows, ParentBackgroundAtChildOffset)
{
    HDC window = GetDC(child);
    HDC dc = window;
    CMemoryDC memory;
    ASSERT_EQ(memory.Begin(&dc, 50, 20), 0);
    EXPECT_EQ(g.paintingWindow, child);
    RECT all = {0, 0, 50, 20}, part = {0, 0, 10, 10};
    g.FillRect(dc, &all, kBlue);
    g.PaintParentBackground(0, dc, &part);
    EXPECT_EQ(LOWORD(gLastOffset), 30);
    EXPECT_EQ(HIWORD(gLastOffset), 40);
    EXPECT_EQ(GetPixel(dc, 0, 0), kRed);
    EXPECT_EQ(GetPixel(dc, 5, 5), kWhite);
    EXPECT_EQ(GetPixel(dc, 10, 10), kBlue);   // clipped to the rectangle
    memory.End();
    EXPECT_EQ(g.paintingWindow, (HWND)0);
    ReleaseDC(child, window);
}

TEST_F(GraphicsWindows, RoundedCornerBlendsIntoParent)
{
    SetTestSlots(&g);
    g.slots[51] = RGB(0, 0, 0);
    HDC window = GetDC(child);
    HDC dc = window;
    CMemoryDC memory;
    ASSERT_EQ(memory.Begin(&dc, 50, 20), 0);
    RECT r = {0, 0, 50, 20};
    g.DrawItemBackground(dc, &r, BACKGROUND_FILLED, CORNER_TOP_LEFT | CORNER_BOTTOM_RIGHT, 0,
                         -1, -1, -1);
    EXPECT_EQ(LOWORD(gLastOffset), 30 + 47);
    EXPECT_EQ(HIWORD(gLastOffset), 40 + 17 - 3);
    // Top-left: pixel 0 is 95 % of the parent's (red) pixel, pixel 1 70 % white.
    EXPECT_EQ(GetPixel(dc, 0, 0), RGB(243, 0, 0));
    EXPECT_EQ(GetPixel(dc, 1, 0), RGB(179, 179, 179));
    EXPECT_EQ(GetPixel(dc, 2, 0), RGB(115, 115, 115));
    EXPECT_EQ(GetPixel(dc, 2, 2), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(dc, 3, 0), RGB(0, 0, 0));
    // Bottom-right mirrors it over a white parent.
    EXPECT_EQ(GetPixel(dc, 49, 19), RGB(243, 243, 243));
    EXPECT_EQ(GetPixel(dc, 47, 17), RGB(0, 0, 0));
    memory.End();
    ReleaseDC(child, window);
}

TEST_F(Graphics, CornerWithoutParentKeepsItsOwnPixels)
{
    Canvas c(8, 8, kBlue);
    RECT corner = {0, 0, 3, 3};
    g.DrawCorner(0, c.dc, &corner, kCornerTopLeft);
    EXPECT_EQ(c.Count(kBlue), 64);
}

// ---- Memory DC ----

TEST_F(Graphics, MemoryDcCopiesInOneTransfer)
{
    Canvas target(60, 40);
    HDC dc = target.dc;
    CMemoryDC memory;
    ASSERT_EQ(memory.Begin(&dc, 30, 20), 0);
    EXPECT_NE(dc, target.dc);
    EXPECT_EQ(memory.targetDC, target.dc);
    RECT r = {0, 0, 30, 20};
    g.FillRect(dc, &r, kRed);
    EXPECT_EQ(target.Count(kRed), 0);
    memory.End();
    EXPECT_EQ(target.Count(kRed), 600);
    EXPECT_EQ(target.At(29, 19), kRed);
    EXPECT_EQ(target.At(30, 19), kWhite);
    EXPECT_EQ(memory.memoryDC, (HDC)0);
    memory.End();   // a second End does nothing
    EXPECT_EQ(target.Count(kRed), 600);
}

TEST_F(Graphics, MemoryDcRefusesEmptySize)
{
    Canvas target(4, 4);
    HDC dc = target.dc;
    CMemoryDC memory;
    EXPECT_EQ(memory.Begin(&dc, 0, 4), QRF_ERR_ARGUMENT);
    EXPECT_EQ(dc, target.dc);
    EXPECT_EQ(memory.memoryDC, (HDC)0);
}

// ---- Icons (the system's own icon resources stand in for ours) ----

class GraphicsIcons : public Graphics {
protected:
    HINSTANCE savedInstance;
    void SetUp() override
    {
        Graphics::SetUp();
        savedInstance = gApp.instance;
        gApp.instance = GetModuleHandleA("user32.dll");
        SetTestSlots(&g);
    }
    void TearDown() override
    {
        gApp.instance = savedInstance;
        DestroyFrameWindows();
        Graphics::TearDown();
    }
};

TEST_F(GraphicsIcons, SortedListAndMissingIcon)
{
    EXPECT_EQ(g.AddIcon(0x200, 32512, 0, 16), 0);
    EXPECT_EQ(g.AddIcon(0x100, 32515, 0, 16), 0);
    EXPECT_EQ(g.AddIcon(0x300, 32516, 0, 32), 2);
    EXPECT_EQ(g.AddIcon(0x150, 9999, 0, 16), QRF_ERR_ICON);
    EXPECT_EQ(g.icons.count, 3);
    EXPECT_EQ(g.FindIcon(0x100), 0);
    EXPECT_EQ(g.FindIcon(0x200), 1);
    EXPECT_EQ(g.FindIcon(0x300), 2);
    EXPECT_EQ(g.FindIcon(0x150), -1);
    EXPECT_EQ(g.icons.data[2].width, 32);
    EXPECT_NE(g.icons.data[0].normal, (HICON)0);
    EXPECT_NE(g.icons.data[0].recoloured, (HICON)0);
    Canvas c(16, 16);
    RECT r = {0, 0, 16, 16};
    EXPECT_EQ(g.DrawCommandIcon(c.dc, 0x150, ICON_ENABLED, &r), QRF_ERR_NOICON);
}

static bool IconAlive(HICON icon)
{
    ICONINFO info;
    if (!icon || !GetIconInfo(icon, &info))
        return false;
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return true;
}

static bool AllGrey(Canvas *c)
{
    for (int y = 0; y < c->height; y++)
        for (int x = 0; x < c->width; x++) {
            COLORREF p = c->At(x, y);
            if (GetRValue(p) != GetGValue(p) || GetGValue(p) != GetBValue(p))
                return false;
        }
    return true;
}

TEST_F(GraphicsIcons, DisabledCommandDrawsGreyedCopy)
{
    g.slots[1] = RGB(0, 0, 0);
    g.slots[3] = RGB(0, 0, 0);
    ASSERT_EQ(g.AddIcon(0x100, 32515, 0, 32), 0);
    Canvas enabled(32, 32), disabled(32, 32);
    RECT r = {0, 0, 32, 32};
    EXPECT_EQ(g.DrawCommandIcon(enabled.dc, 0x100, ICON_ENABLED, &r), 0);
    EXPECT_EQ(g.DrawCommandIcon(disabled.dc, 0x100, 0, &r), 0);
    EXPECT_LT(enabled.Count(kWhite), 32 * 32);
    EXPECT_FALSE(AllGrey(&enabled));
    EXPECT_TRUE(AllGrey(&disabled));
    EXPECT_LT(disabled.Count(kWhite), 32 * 32);
    // A new scheme rebuilds the greyed copy with the new slots.
    g.slots[1] = g.slots[3] = RGB(0, 200, 0);
    EXPECT_EQ(g.ReloadIcons(), 0);
    EXPECT_NE(g.icons.data[0].recoloured, (HICON)0);
    disabled.Fill(kWhite);
    g.DrawCommandIcon(disabled.dc, 0x100, 0, &r);
    EXPECT_FALSE(AllGrey(&disabled));
}


TEST_F(GraphicsIcons, SizeOnlyEntryAsksTheFirstFrame)
{
    static int pair[2] = {24, 12};
    EXPECT_EQ(g.AddIcon(0xF134, (UINT_PTR)pair, ICON_SIZE_ONLY, 16), 0);
    EXPECT_EQ(g.icons.data[0].width, 24);
    EXPECT_EQ(g.icons.data[0].height, 12);
    EXPECT_EQ(g.icons.data[0].normal, (HICON)0);
    Canvas c(16, 16);
    RECT r = {1, 2, 13, 14};
    EXPECT_EQ(g.DrawCommandIcon(c.dc, 0xF134, ICON_ENABLED, &r), 0);   // no frame yet
    // The first frame, made with the program's own instance (the icons come
    // from user32's).
    HINSTANCE icons = gApp.instance;
    gApp.instance = savedInstance;
    int made = CreateFrameWindow(0, 0, "Icons", 1, 0, 0, 0, 200, 100);
    gApp.instance = icons;
    ASSERT_EQ(0, made);
    RECT all = {0, 0, 16, 16};
    ::FillRect(c.dc, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
    // The frame paints the swatch: a black outline 4 pixels inside the rectangle.
    EXPECT_EQ(g.DrawCommandIcon(c.dc, 0xF134, ICON_ENABLED, &r), 0);
    EXPECT_EQ(GetPixel(c.dc, 5, 6), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(c.dc, 2, 3), RGB(255, 255, 255));
    DestroyFrameWindows();
}

// ---- Clean-up ----

TEST(GraphicsCleanup, EveryGdiObjectIsReleased)
{
    HINSTANCE savedInstance = gApp.instance;
    gApp.instance = GetModuleHandleA("user32.dll");
    HANDLE process = GetCurrentProcess();
    DWORD start = GetGuiResources(process, GR_GDIOBJECTS);
    HFONT font = 0;
    HBITMAP scratch = 0;
    HICON greyed = 0;
    HDC scratchDC = 0;
    for (int round = 0; round < 3; round++) {
        CGraphics g;
        gGraphics = &g;
        ASSERT_EQ(g.Init(), 0);
        g.LoadColours();
        g.CreateFonts("Arial", 9, 96);
        g.GetFont(FONT_USER_BOLD, 144);
        ASSERT_EQ(g.AddIcon(0x10, 32512, 0, 16), 0);
        Canvas target(40, 40);
        HDC dc = target.dc;
        CMemoryDC memory;
        ASSERT_EQ(memory.Begin(&dc, 40, 40), 0);
        RECT r = {0, 0, 40, 40};
        g.DrawItemBackground(dc, &r, BACKGROUND_HOT, 15, 0, -1, -1, -1);
        g.DrawItemBackground(dc, &r, BACKGROUND_SUNKEN, 0, 0, -1, -1, -1);
        g.DrawFormattedText(dc, 144, "%d", COLOUR_TEXT, &r, 1, true, round);
        g.DrawFormattedText(dc, 96, "up", COLOUR_TEXT, &r, ALIGN_VERTICAL, false);
        g.DrawCommandIcon(dc, 0x10, 0, &r);
        g.DrawCommandIcon(dc, 0x10, ICON_ENABLED, &r);
        g.ReloadIcons();
        memory.End();
        font = g.GetFont(FONT_USER, 96);
        scratch = g.scratchBitmap;
        scratchDC = g.scratchDC;
        greyed = g.icons.data[0].recoloured;
    }
    gGraphics = 0;
    gApp.instance = savedInstance;
    EXPECT_EQ(GetObjectType(font), 0u);
    EXPECT_EQ(GetObjectType(scratch), 0u);
    EXPECT_FALSE(IconAlive(greyed));
    EXPECT_EQ(GetObjectType(scratchDC), 0u);
    EXPECT_EQ(GetGuiResources(process, GR_GDIOBJECTS), start);
}

// GetGuiResources is a stub under Wine, so leaks are also caught the hard
// way: more rounds than the process's GDI handle table (65536) holds.
TEST(GraphicsCleanup, PaintersDoNotExhaustGdiHandles)
{
    CGraphics g;
    ASSERT_EQ(g.Init(), 0);
    gGraphics = &g;
    g.CreateFonts("Arial", 9, 96);
    SetTestSlots(&g);
    Canvas target(8, 8);
    RECT r = {0, 0, 8, 8};
    for (int round = 0; round < 70000; round++) {
        g.FillRect(target.dc, &r, kRed);
        g.FrameRect(target.dc, &r, kBlue);
    }
    for (int round = 0; round < 34000; round++) {
        HDC dc = target.dc;
        CMemoryDC memory;
        ASSERT_EQ(memory.Begin(&dc, 8, 8), 0) << round;
        g.DrawItemBackground(dc, &r, BACKGROUND_SUNKEN, CORNER_TOP_LEFT, 0, -1, -1, -1);
        g.DrawArrow(dc, COLOUR_TEXT, ARROW_DOWN, &r);
        g.MeasureTextForDpi("x", 0, 0, true, 96);
        memory.End();
    }
    target.Fill(kWhite);
    g.FillRect(target.dc, &r, kGreen);
    EXPECT_EQ(target.Count(kGreen), 64);
    HBRUSH brush = CreateSolidBrush(kRed);
    EXPECT_NE(brush, (HBRUSH)0);
    DeleteObject(brush);
    gGraphics = 0;
}
