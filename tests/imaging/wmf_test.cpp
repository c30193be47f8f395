// Metafile reader: placeable WMFs and EMFs recorded here with GDI, decoded
// and checked by size and pixels; damaged, truncated and empty headers;
// forced sizes, the size limit, the escape and the try-all dispatch; records
// whose fields point outside themselves or the object table.
#include "imaging_testutil.h"
#include "../../imaging/wmfcodec.h"
#include "../../framework/bytes.h"

#include <string.h>
#include <string>
#include <vector>

typedef std::string Bytes;

static const COLORREF kRed = RGB(255, 0, 0), kBlue = RGB(0, 0, 255);

static void Fill(HDC dc, int left, int top, int right, int bottom, COLORREF colour)
{
    RECT r = {left, top, right, bottom};
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &r, brush);
    DeleteObject(brush);
}

// ---- Placeable WMF: a 1440 x 720 twip picture, blue top-left quarter-ish
// block (0,0)-(360,180) and a red block (720,360)-(1440,720).

// A 16-bit metafile whose window is w x h units; EndWmf gives its bytes.
static HDC BeginWmf(int w, int h)
{
    HDC dc = CreateMetaFileA(0);
    SetMapMode(dc, MM_ANISOTROPIC);
    SetWindowOrgEx(dc, 0, 0, 0);
    SetWindowExtEx(dc, w, h, 0);
    return dc;
}

static Bytes EndWmf(HDC dc)
{
    HMETAFILE mf = CloseMetaFile(dc);
    UINT size = GetMetaFileBitsEx(mf, 0, 0);
    Bytes bytes(size, '\0');
    GetMetaFileBitsEx(mf, size, &bytes[0]);
    DeleteMetaFile(mf);
    return bytes;
}

static Bytes RecordWmf()
{
    HDC dc = BeginWmf(1440, 720);
    Fill(dc, 0, 0, 360, 180, kBlue);
    Fill(dc, 720, 360, 1440, 720, kRed);
    return EndWmf(dc);
}

static uint8_t *At(Bytes &b, size_t offset) { return (uint8_t *)&b[offset]; }
static const uint8_t *At(const Bytes &b, size_t offset) { return (const uint8_t *)&b[offset]; }

static void SetChecksum(Bytes &b)
{
    uint16_t sum = 0;
    for (int i = 0; i < 10; i++)
        sum ^= Le16(At(b, 2 * i));
    Put16(At(b, 20), sum);
}

static Bytes Placeable(const Bytes &metafile, int left, int top, int right, int bottom, int inch)
{
    Bytes b(22, '\0');
    Put32(At(b, 0), 0x9AC6CDD7);
    Put16(At(b, 6), (uint16_t)left);
    Put16(At(b, 8), (uint16_t)top);
    Put16(At(b, 10), (uint16_t)right);
    Put16(At(b, 12), (uint16_t)bottom);
    Put16(At(b, 14), (uint16_t)inch);
    SetChecksum(b);
    return b + metafile;
}

static Bytes TwipWmf() { return Placeable(RecordWmf(), 0, 0, 1440, 720, 1440); }

// ---- EMF: recorded in screen pixels, then its header is made exact so
// that one recorded pixel plays as one pixel: bounds (0,0,w,h), ten device
// pixels per millimetre and a frame of w x h pixels in hundredths of a mm.

static void Put32At(Bytes &b, size_t offset, int32_t v) { Put32(At(b, offset), (uint32_t)v); }

static void SetEmfBounds(Bytes &b, int left, int top, int right, int bottom)
{
    Put32At(b, 8, left);
    Put32At(b, 12, top);
    Put32At(b, 16, right);
    Put32At(b, 20, bottom);
}

static HDC BeginEmf()
{
    HDC screen = GetDC(0);
    HDC dc = CreateEnhMetaFileA(screen, 0, 0, 0);
    ReleaseDC(0, screen);
    return dc;
}

static Bytes EndEmf(HDC dc, int w, int h)
{
    HENHMETAFILE emf = CloseEnhMetaFile(dc);
    UINT size = GetEnhMetaFileBits(emf, 0, 0);
    Bytes b(size, '\0');
    GetEnhMetaFileBits(emf, size, (BYTE *)&b[0]);
    DeleteEnhMetaFile(emf);
    SetEmfBounds(b, 0, 0, w, h);
    Put32At(b, 24, 0);
    Put32At(b, 28, 0);
    Put32At(b, 32, w * 10);
    Put32At(b, 36, h * 10);
    Put32At(b, 72, 1000);   // device size in pixels
    Put32At(b, 76, 1000);
    Put32At(b, 80, 100);    // and in millimetres
    Put32At(b, 84, 100);
    return b;
}

// Red (10,5)-(30,25) and blue (60,30)-(100,50) on a 100 x 50 picture.
static Bytes RecordEmf(int w, int h)
{
    HDC dc = BeginEmf();
    Fill(dc, 10, 5, 30, 25, kRed);
    Fill(dc, 60, 30, 100, 50, kBlue);
    return EndEmf(dc, w, h);
}

static Bytes Emf100x50() { return RecordEmf(100, 50); }

// ---- Decoding and reading back

// The codec class straight, as the dispatcher runs it, with a forced size.
static bool DecodeWmfInto(CDibImage &im, CByteStream *s, int forcedWidth, int forcedHeight)
{
    CDibImageWMF wmf;
    wmf.CopyInfo(im);
    wmf.info.format = FORMAT_WMF;
    bool ok = wmf.Decode(s, forcedWidth, forcedHeight);
    if (ok)
        im.Transfer(wmf);
    else
        im.SetError(wmf.GetLastError());
    return ok;
}

static bool DecodeAt(CDibImage &im, const Bytes &b, int forcedWidth = 0, int forcedHeight = 0)
{
    CMemStream s((unsigned char *)b.data(), (long)b.size());
    return DecodeWmfInto(im, &s, forcedWidth, forcedHeight);
}

static bool DecodeAs(CDibImage &im, const Bytes &b, int format)
{
    return im.Decode((const unsigned char *)b.data(), (int)b.size(), format);
}

// Colour at x, y counted from the top of the picture.
static RGBQUAD Top(const CDibImage &im, int x, int y)
{
    return im.GetPixelColor(x, im.GetHeight() - 1 - y);
}

static RGBQUAD WindowColour()
{
    COLORREF c = GetSysColor(COLOR_WINDOW);
    return Bgr(GetBValue(c), GetGValue(c), GetRValue(c));
}

#define EXPECT_RED(im, x, y) EXPECT_COLOR(Top(im, x, y), 0, 0, 255)
#define EXPECT_BLUE(im, x, y) EXPECT_COLOR(Top(im, x, y), 255, 0, 0)
#define EXPECT_BACK(im, x, y) EXPECT_TRUE(SameColor(Top(im, x, y), WindowColour()))

static int ScreenDpi(int cap)
{
    HDC screen = GetDC(0);
    int dpi = GetDeviceCaps(screen, cap);
    ReleaseDC(0, screen);
    return dpi;
}

// ---- Placeable WMF

TEST(WmfPlaceable, TwipsAtScreenDpiAndPixels)
{
    ASSERT_EQ(ScreenDpi(LOGPIXELSX), 96);
    ASSERT_EQ(ScreenDpi(LOGPIXELSY), 96);
    CDibImage im;
    ASSERT_TRUE(DecodeAs(im, TwipWmf(), FORMAT_WMF)) << im.GetLastError();
    EXPECT_EQ(im.GetWidth(), 96);
    EXPECT_EQ(im.GetHeight(), 48);
    EXPECT_EQ(im.GetType(), FORMAT_WMF);
    EXPECT_EQ(im.GetBpp(), 24);   // 32-bit screen
    EXPECT_EQ(memcmp(im.GetDIB(), &im.head, sizeof im.head), 0);
    // Blue covers x 0..23, y 0..11; red x 48..95, y 24..47 (top-down).
    EXPECT_BLUE(im, 0, 0);
    EXPECT_BLUE(im, 22, 10);
    EXPECT_BACK(im, 26, 5);
    EXPECT_BACK(im, 5, 14);
    EXPECT_BACK(im, 40, 20);
    EXPECT_RED(im, 49, 25);
    EXPECT_RED(im, 95, 47);
    EXPECT_BACK(im, 46, 40);
    EXPECT_BACK(im, 70, 22);
}

TEST(WmfPlaceable, SizeFollowsUnitsPerInchAndRounds)
{
    Bytes wmf = RecordWmf();
    CDibImage im;
    ASSERT_TRUE(DecodeAt(im, Placeable(wmf, 0, 0, 1440, 720, 720)));
    EXPECT_EQ(im.GetWidth(), 192);
    EXPECT_EQ(im.GetHeight(), 96);
    EXPECT_RED(im, 100, 50);
    // 1450 x 15 twips: 96.67 rounds up to 97, 1.0 stays 1.
    ASSERT_TRUE(DecodeAt(im, Placeable(wmf, 0, 0, 1450, 15, 1440)));
    EXPECT_EQ(im.GetWidth(), 97);
    EXPECT_EQ(im.GetHeight(), 1);
    // Only the box's extent counts, not where it starts.
    ASSERT_TRUE(DecodeAt(im, Placeable(wmf, -720, 100, 720, 820, 1440)));
    EXPECT_EQ(im.GetWidth(), 96);
    EXPECT_EQ(im.GetHeight(), 48);
    ASSERT_TRUE(DecodeAt(im, Placeable(wmf, 0, 0, 2540, 2540, 2540)));
    EXPECT_EQ(im.GetWidth(), 96);
    EXPECT_EQ(im.GetHeight(), 96);
}

TEST(WmfPlaceable, HeaderChecks)
{
    Bytes good = TwipWmf();
    CDibImage im;
    Bytes b = good;
    b[20] ^= 1;   // checksum
    EXPECT_FALSE(DecodeAs(im, b, FORMAT_WMF));
    EXPECT_STREQ(im.GetLastError(), "corrupted WMF");
    b = good;
    b[0] ^= 1;   // key, with a matching checksum
    SetChecksum(b);
    EXPECT_FALSE(DecodeAt(im, b));
    Bytes wmf = RecordWmf();
    EXPECT_FALSE(DecodeAt(im, Placeable(wmf, 0, 0, 1440, 720, 0)));
    EXPECT_FALSE(DecodeAt(im, Placeable(wmf, 0, 0, 1440, 720, 2541)));
    EXPECT_STREQ(im.GetLastError(), "corrupted WMF");
    // A checksum over the words it covers only: reserved bytes count.
    b = good;
    b[16] = 7;
    EXPECT_FALSE(DecodeAt(im, b));
    SetChecksum(b);
    EXPECT_TRUE(DecodeAt(im, b));
}

TEST(WmfPlaceable, TruncatedAndDamaged)
{
    Bytes good = TwipWmf();
    CDibImage im;
    const size_t cuts[] = {0, 21, 22, 39, good.size() - 2};
    for (size_t cut : cuts) {
        EXPECT_FALSE(DecodeAt(im, good.substr(0, cut))) << cut;
        EXPECT_STREQ(im.GetLastError(), "corrupted WMF");
    }
    Bytes b = good;
    Put16(At(b, 22), 3);   // metafile type: neither memory nor disk
    EXPECT_FALSE(DecodeAt(im, b));
    b = good;
    Put32(At(b, 22 + 6), 0x80000001);   // a size in words beyond any stream
    EXPECT_FALSE(DecodeAt(im, b));
    b = good;
    Put32(At(b, 22 + 6), 4);   // smaller than its own header
    EXPECT_FALSE(DecodeAt(im, b));
    // The first record claims more words than the metafile holds.
    b = good;
    Put32(At(b, 22 + 18), 0x10000);
    EXPECT_FALSE(DecodeAt(im, b));
    // Trailing bytes after the metafile are not part of it.
    EXPECT_TRUE(DecodeAt(im, good + Bytes(40, 'x')));
}

TEST(WmfPlaceable, PlainWmfIsRefused)
{
    CDibImage im;
    EXPECT_FALSE(DecodeAs(im, RecordWmf(), FORMAT_WMF));
    EXPECT_STREQ(im.GetLastError(), "corrupted WMF");
}

TEST(WmfPlaceable, EmptyBox)
{
    Bytes wmf = RecordWmf();
    CDibImage im;
    EXPECT_FALSE(DecodeAt(im, Placeable(wmf, 0, 0, 0, 720, 1440)));
    EXPECT_STREQ(im.GetLastError(), "empty WMF");
    EXPECT_FALSE(DecodeAt(im, Placeable(wmf, 100, 0, 0, 720, 1440)));   // reversed
    EXPECT_STREQ(im.GetLastError(), "empty WMF");
    EXPECT_FALSE(DecodeAt(im, Placeable(wmf, 0, 0, 1440, 7, 1440)));   // 0.47 px
    EXPECT_STREQ(im.GetLastError(), "empty WMF");
    EXPECT_FALSE(im.IsValid());
}

// The stream need not start at offset 0: every offset is from where it is.
TEST(WmfPlaceable, StreamNotAtStart)
{
    Bytes b = Bytes("prefix") + TwipWmf();
    CMemStream s((unsigned char *)b.data(), (long)b.size());
    ASSERT_TRUE(s.Seek(6, SEEK_SET));
    CDibImage im;
    ASSERT_TRUE(DecodeWmfInto(im, &s, 0, 0)) << im.GetLastError();
    EXPECT_EQ(im.GetWidth(), 96);
    EXPECT_BLUE(im, 5, 5);
    b = Bytes("prefix") + Emf100x50();
    CMemStream e((unsigned char *)b.data(), (long)b.size());
    ASSERT_TRUE(e.Seek(6, SEEK_SET));
    ASSERT_TRUE(DecodeWmfInto(im, &e, 0, 0)) << im.GetLastError();
    EXPECT_EQ(im.GetWidth(), 100);
    EXPECT_RED(im, 20, 15);
}

// ---- EMF

TEST(Emf, NaturalSizeAndPixels)
{
    CDibImage im;
    ASSERT_TRUE(DecodeAs(im, Emf100x50(), FORMAT_WMF)) << im.GetLastError();
    EXPECT_EQ(im.GetWidth(), 100);
    EXPECT_EQ(im.GetHeight(), 50);
    EXPECT_EQ(im.GetType(), FORMAT_WMF);
    EXPECT_BACK(im, 0, 0);
    EXPECT_BACK(im, 8, 15);
    EXPECT_RED(im, 11, 6);
    EXPECT_RED(im, 28, 23);
    EXPECT_BACK(im, 32, 15);
    EXPECT_BACK(im, 20, 27);
    EXPECT_BLUE(im, 61, 31);
    EXPECT_BLUE(im, 99, 49);
    EXPECT_BACK(im, 58, 40);
}

TEST(Emf, ForcedSizes)
{
    Bytes emf = Emf100x50();
    CDibImage im;
    ASSERT_TRUE(DecodeAt(im, emf, 200, 0));
    EXPECT_EQ(im.GetWidth(), 200);
    EXPECT_EQ(im.GetHeight(), 50);
    EXPECT_BACK(im, 17, 15);   // red now spans x 20..59
    EXPECT_RED(im, 22, 15);
    EXPECT_RED(im, 57, 15);
    EXPECT_BACK(im, 63, 15);
    EXPECT_BLUE(im, 199, 49);
    ASSERT_TRUE(DecodeAt(im, emf, 0, 100));
    EXPECT_EQ(im.GetWidth(), 100);
    EXPECT_EQ(im.GetHeight(), 100);
    EXPECT_RED(im, 20, 12);
    EXPECT_BACK(im, 20, 52);   // red now spans y 10..49
    ASSERT_TRUE(DecodeAt(im, emf, 30, 20));
    EXPECT_EQ(im.GetWidth(), 30);
    EXPECT_EQ(im.GetHeight(), 20);
    // Forced sizes obey the limit too.
    ASSERT_TRUE(DecodeAt(im, emf, 8000, 0));
    EXPECT_EQ(im.GetWidth(), 4000);
    EXPECT_EQ(im.GetHeight(), 25);
}

TEST(Emf, LargePicturesKeepTheirProportions)
{
    Bytes emf = Emf100x50();
    CDibImage im;
    SetEmfBounds(emf, 0, 0, 8000, 2000);
    ASSERT_TRUE(DecodeAt(im, emf)) << im.GetLastError();
    EXPECT_EQ(im.GetWidth(), 4000);
    EXPECT_EQ(im.GetHeight(), 1000);
    SetEmfBounds(emf, 100, 100, 2100, 8100);
    ASSERT_TRUE(DecodeAt(im, emf));
    EXPECT_EQ(im.GetWidth(), 1000);
    EXPECT_EQ(im.GetHeight(), 4000);
    SetEmfBounds(emf, 0, 0, 9000, 9000);   // both sides too large
    ASSERT_TRUE(DecodeAt(im, emf));
    EXPECT_EQ(im.GetWidth(), 4000);
    EXPECT_EQ(im.GetHeight(), 4000);
    SetEmfBounds(emf, 0, 0, 1000000, 10);   // the short side keeps a pixel
    ASSERT_TRUE(DecodeAt(im, emf));
    EXPECT_EQ(im.GetWidth(), 4000);
    EXPECT_EQ(im.GetHeight(), 1);
}

TEST(Emf, HeaderAndRecordChecks)
{
    Bytes good = Emf100x50();
    CDibImage im;
    Bytes b = good;
    b[40] = 'X';   // signature
    EXPECT_FALSE(DecodeAt(im, b));
    EXPECT_STREQ(im.GetLastError(), "corrupted WMF");
    b = good;
    Put32(At(b, 0), 2);   // first record not a header
    EXPECT_FALSE(DecodeAt(im, b));
    const size_t cuts[] = {0, 107, good.size() - 4};
    for (size_t cut : cuts) {
        EXPECT_FALSE(DecodeAt(im, good.substr(0, cut))) << cut;
        EXPECT_STREQ(im.GetLastError(), "corrupted WMF");
    }
    // A record of size 0 would never advance; one too long runs off the end.
    Bytes records[2] = {good, good};
    uint32_t headerSize = Le32(At(good, 4));
    Put32(At(records[0], headerSize + 4), 0);
    Put32(At(records[1], headerSize + 4), (uint32_t)good.size());
    for (Bytes &r : records) {
        EXPECT_FALSE(DecodeAt(im, r));
        EXPECT_STREQ(im.GetLastError(), "corrupted WMF");
    }
    EXPECT_TRUE(DecodeAt(im, good + Bytes(16, '\0')));   // trailing bytes
}

// An end record carrying a two-entry palette: used while playing; one whose
// entries lie outside the record is refused.
static Bytes WithPalette(Bytes emf, uint32_t offset)
{
    emf.resize(emf.size() - 20);   // the end record GDI wrote
    Bytes eof(28, '\0');
    Put32(At(eof, 0), EMR_EOF);
    Put32(At(eof, 4), 28);
    Put32(At(eof, 8), 2);
    Put32(At(eof, 12), offset);
    Put32(At(eof, 16), 0x00FF0000);
    Put32(At(eof, 20), 0x000000FF);
    Put32(At(eof, 24), 28);
    emf += eof;
    Put32(At(emf, 48), (uint32_t)emf.size());
    Put32(At(emf, 68), 2);   // palette entries in the header
    return emf;
}

TEST(Emf, PaletteInTheEndRecord)
{
    Bytes emf = Emf100x50();
    ASSERT_EQ(Le32(At(emf, emf.size() - 20)), (uint32_t)EMR_EOF);
    CDibImage im;
    ASSERT_TRUE(DecodeAt(im, WithPalette(emf, 16))) << im.GetLastError();
    EXPECT_RED(im, 20, 15);
    EXPECT_FALSE(DecodeAt(im, WithPalette(emf, 24)));
    EXPECT_STREQ(im.GetLastError(), "corrupted WMF");
}

TEST(Emf, EmptyBounds)
{
    Bytes emf = Emf100x50();
    CDibImage im;
    SetEmfBounds(emf, 10, 0, 10, 50);
    EXPECT_FALSE(DecodeAt(im, emf));
    EXPECT_STREQ(im.GetLastError(), "empty WMF");
    SetEmfBounds(emf, 0, 50, 100, 0);
    EXPECT_FALSE(DecodeAt(im, emf));
    EXPECT_STREQ(im.GetLastError(), "empty WMF");
}

// ---- Records that point outside themselves
//
// A picture drawn by GDI with most kinds of object: pens, solid, hatched,
// monochrome and DIB pattern brushes, a font and text with spacing, polygons, a blit,
// a stretched blit, a stretched DIB, a region and a palette. The hostile
// files are copies of it with one field changed or a record added.

static const int kRichW = 200, kRichH = 100;

static void DrawRich(HDC dc)
{
    struct { WORD version, entries; PALETTEENTRY e[2]; } lp = {0x300, 2, {{255}, {0, 0, 255}}};
    HPALETTE palette = CreatePalette((LOGPALETTE *)&lp);
    HPALETTE oldPalette = SelectPalette(dc, palette, FALSE);
    RealizePalette(dc);
    HPEN pen = CreatePen(PS_SOLID, 3, RGB(0, 128, 0));
    HBRUSH hatch = CreateHatchBrush(HS_DIAGCROSS, kBlue), solid = CreateSolidBrush(kRed);
    HGDIOBJ oldPen = SelectObject(dc, pen), oldBrush = SelectObject(dc, hatch);
    POINT p[10] = {{10, 10}, {60, 10}, {35, 50}, {70, 10}, {110, 10}, {110, 40},
                   {120, 50}, {150, 50}, {150, 80}, {120, 80}};
    INT counts[2] = {3, 4};
    Polygon(dc, p, 3);
    PolyPolygon(dc, p + 3, counts, 2);
    // An 8 x 8 24-bit DIB of blue, green and red bands, for a brush and a stretch.
    Bytes dib(sizeof(BITMAPINFOHEADER) + 8 * 24, '\0');
    BITMAPINFOHEADER h = {sizeof h, 8, 8, 1, 24, BI_RGB, 8 * 24, 0, 0, 0, 0};
    memcpy(&dib[0], &h, sizeof h);
    for (int i = 0; i < 64; i++)
        dib[sizeof h + 3 * i + (i / 16) % 3] = '\xFF';
    HBRUSH pattern = CreateDIBPatternBrushPt(dib.data(), DIB_RGB_COLORS);
    SelectObject(dc, pattern);
    Rectangle(dc, 160, 10, 190, 40);
    StretchDIBits(dc, 70, 75, 32, 20, 0, 0, 8, 8, &dib[sizeof h], (BITMAPINFO *)&dib[0],
                  DIB_RGB_COLORS, SRCCOPY);
    HFONT font = CreateFontA(16, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0,
                             NONANTIALIASED_QUALITY, 0, "Arial");
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetTextColor(dc, kRed);
    SetBkMode(dc, TRANSPARENT);
    INT spacing[4] = {12, 12, 12, 12};
    ExtTextOutA(dc, 80, 55, 0, 0, "Moon", 4, spacing);
    HDC screen = GetDC(0);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 16);
    ReleaseDC(0, screen);
    HGDIOBJ oldBitmap = SelectObject(mem, bitmap);
    Fill(mem, 0, 0, 8, 8, kBlue);
    BitBlt(dc, 10, 75, 16, 16, mem, 0, 0, SRCCOPY);
    StretchBlt(dc, 30, 75, 32, 16, mem, 0, 0, 16, 16, SRCCOPY);
    SelectObject(mem, oldBitmap);
    DeleteDC(mem);
    HRGN region = CreateRectRgn(110, 85, 140, 95);
    FillRgn(dc, region, solid);
    // A monochrome pattern brush: GDI records it without a colour table.
    static const WORD checks[8] = {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55};
    HBITMAP mono = CreateBitmap(8, 8, 1, 1, checks);
    HBRUSH monoBrush = CreatePatternBrush(mono);
    SelectObject(dc, monoBrush);
    SetTextColor(dc, kBlue);
    SetBkColor(dc, RGB(255, 255, 0));
    Rectangle(dc, 160, 50, 196, 90);
    SelectObject(dc, oldFont);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    SelectPalette(dc, oldPalette, FALSE);
    HGDIOBJ made[] = {font, pen, hatch, pattern, solid, region, palette, bitmap, monoBrush, mono};
    for (HGDIOBJ object : made)
        DeleteObject(object);
}

// The 16-bit one alone; RichWmf makes it 200 x 100 pixels at 96 dpi.
static Bytes RecordRichWmf()
{
    HDC dc = BeginWmf(kRichW, kRichH);
    DrawRich(dc);
    return EndWmf(dc);
}

static Bytes RichWmf(const Bytes &mf) { return Placeable(mf, 0, 0, kRichW, kRichH, 96); }

static Bytes RecordRichEmf()
{
    HDC dc = BeginEmf();
    DrawRich(dc);
    return EndEmf(dc, kRichW, kRichH);
}

// Offsets of the records of a function (WMF, from the start of the 16-bit
// metafile) or of a type (EMF), and the first of them (0: none).
static std::vector<size_t> WmfRecords(const Bytes &mf, uint16_t function)
{
    std::vector<size_t> found;
    for (size_t at = 2 * Le16(At(mf, 2)); at + 6 <= mf.size() && Le32(At(mf, at)) >= 3;
         at += 2 * Le32(At(mf, at)))
        if (Le16(At(mf, at + 4)) == function)
            found.push_back(at);
    return found;
}

static std::vector<size_t> EmfRecords(const Bytes &emf, uint32_t type)
{
    std::vector<size_t> found;
    for (size_t at = 0; at + 8 <= emf.size() && Le32(At(emf, at + 4)) >= 8;
         at += Le32(At(emf, at + 4)))
        if (Le32(At(emf, at)) == type)
            found.push_back(at);
    return found;
}

static size_t First(const std::vector<size_t> &found) { return found.empty() ? 0 : found[0]; }

// Records of 16-bit parameters or 32-bit fields, put before the end record.
static Bytes WmfRecord(uint16_t function, std::initializer_list<uint16_t> params)
{
    Bytes r(6, '\0');
    Put32(At(r, 0), 3 + (uint32_t)params.size());
    Put16(At(r, 4), function);
    for (uint16_t p : params)
        r += Bytes(1, (char)p) + Bytes(1, (char)(p >> 8));
    return r;
}

static Bytes WithWmfRecords(Bytes mf, const Bytes &records)
{
    mf.insert(mf.size() - 6, records);
    Put32(At(mf, 6), (uint32_t)mf.size() / 2);
    Put32(At(mf, 12), 0x10000);   // largest record
    return mf;
}

// Just these records, with an object table of `objects`.
static Bytes BareWmf(uint16_t objects, const Bytes &records)
{
    Bytes mf(18, '\0');
    Put16(At(mf, 0), 1);
    Put16(At(mf, 2), 9);
    Put16(At(mf, 4), 0x300);
    Put16(At(mf, 10), objects);
    return WithWmfRecords(mf + WmfRecord(0, {}), records);
}

static Bytes EmfRecord(uint32_t type, std::initializer_list<uint32_t> fields)
{
    Bytes r(8, '\0');
    Put32(At(r, 0), type);
    Put32(At(r, 4), 8 + 4 * (uint32_t)fields.size());
    for (uint32_t f : fields) {
        r += Bytes(4, '\0');
        Put32(At(r, r.size() - 4), f);
    }
    return r;
}

static Bytes WithEmfRecords(Bytes emf, const Bytes &records, uint32_t count)
{
    emf.insert(emf.size() - 20, records);
    Put32(At(emf, 48), (uint32_t)emf.size());
    Put32(At(emf, 52), Le32(At(emf, 52)) + count);
    return emf;
}

// The picture played by GDI straight, as the reader plays it: on the window
// colour, into a screen-compatible bitmap, read back as 24 bits.
static void PlayDirect(CDibImage &out, HENHMETAFILE emf)
{
    HDC screen = GetDC(0);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, kRichW, kRichH);
    HDC dc = CreateCompatibleDC(screen);
    ReleaseDC(0, screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all = {0, 0, kRichW, kRichH};
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &all, "", 0, 0);
    PlayEnhMetaFile(dc, emf, &all);
    SelectObject(dc, old);
    out.Create(kRichW, kRichH, 24, FORMAT_UNKNOWN);
    BITMAPINFOHEADER head;
    memcpy(&head, out.GetDIB(), sizeof head);
    GetDIBits(dc, bitmap, 0, kRichH, out.GetBits(), (BITMAPINFO *)&head, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(dc);
    DeleteEnhMetaFile(emf);
}

TEST(MetafileRecords, RichPicturesDecodeAsGdiPlaysThem)
{
    Bytes wmf = RecordRichWmf(), emf = RecordRichEmf();
    const uint16_t wmfKinds[] = {META_CREATEPENINDIRECT, META_DIBCREATEPATTERNBRUSH,
                                 META_CREATEFONTINDIRECT, META_EXTTEXTOUT, META_POLYPOLYGON,
                                 META_STRETCHDIB, META_CREATEPALETTE, META_CREATEREGION};
    for (uint16_t kind : wmfKinds) {
        EXPECT_NE(First(WmfRecords(wmf, kind)), 0u) << std::hex << kind;
    }
    const uint32_t emfKinds[] = {EMR_CREATEDIBPATTERNBRUSHPT, EMR_EXTCREATEFONTINDIRECTW,
                                 EMR_EXTTEXTOUTW, EMR_BITBLT, EMR_STRETCHBLT,
                                 EMR_STRETCHDIBITS, EMR_CREATEPALETTE, EMR_FILLRGN,
                                 EMR_CREATEMONOBRUSH};
    for (uint32_t kind : emfKinds) {
        EXPECT_NE(First(EmfRecords(emf, kind)), 0u) << kind;
    }
    size_t mono = First(EmfRecords(emf, EMR_CREATEMONOBRUSH));
    EXPECT_EQ(Le32(At(emf, mono + 12)), 2u);    // DIB_PAL_INDICES: no colour table
    EXPECT_EQ(Le32(At(emf, mono + 20)), 40u);   // the header alone
    CDibImage decoded, direct;
    ASSERT_TRUE(DecodeAt(decoded, RichWmf(wmf))) << decoded.GetLastError();
    HDC screen = GetDC(0);
    METAFILEPICT pict = {MM_ANISOTROPIC, 10000, 10000, 0};
    HENHMETAFILE converted =
        SetWinMetaFileBits((UINT)wmf.size(), (const BYTE *)wmf.data(), screen, &pict);
    ReleaseDC(0, screen);
    ASSERT_TRUE(converted != 0);
    PlayDirect(direct, converted);
    ExpectSamePixels(decoded, direct, "WMF");
    EXPECT_RED(decoded, 125, 90);   // the filled region
    ASSERT_TRUE(DecodeAt(decoded, emf)) << decoded.GetLastError();
    PlayDirect(direct, SetEnhMetaFileBits((UINT)emf.size(), (const BYTE *)emf.data()));
    ExpectSamePixels(decoded, direct, "EMF");
    EXPECT_RED(decoded, 125, 90);
}

static void ExpectRefused(const Bytes &file, const std::string &what)
{
    CDibImage im;
    EXPECT_FALSE(DecodeAt(im, file)) << what;
    EXPECT_STREQ(im.GetLastError(), "corrupted WMF") << what;
}

static void ExpectAccepted(const Bytes &file, const std::string &what)
{
    CDibImage im;
    EXPECT_TRUE(DecodeAt(im, file)) << what << ": " << im.GetLastError();
}

// Indices at or past the header's count, more creations than it counts;
// the last slot and stock objects stay allowed.
TEST(MetafileRecords, ObjectIndicesOutsideTheTableAreRefused)
{
    Bytes wmf = RecordRichWmf();
    uint16_t objects = Le16(At(wmf, 10));
    ASSERT_GT(objects, 0);
    uint16_t last = objects - 1;
    ExpectRefused(RichWmf(WithWmfRecords(wmf, WmfRecord(META_SELECTOBJECT, {0xFF00}))), "0xFF00");
    ExpectRefused(RichWmf(WithWmfRecords(wmf, WmfRecord(META_DELETEOBJECT, {objects}))), "count");
    ExpectRefused(RichWmf(WithWmfRecords(wmf, WmfRecord(META_FILLREGION, {0, objects}))), "fill");
    ExpectAccepted(RichWmf(WithWmfRecords(wmf, WmfRecord(META_SELECTOBJECT, {last}))), "last");
    // Creations take the lowest free slot: two slots hold two brushes, a
    // third only after a deletion.
    Bytes brush = WmfRecord(META_CREATEBRUSHINDIRECT, {BS_SOLID, 0xFF, 0, 0});
    Bytes two = brush + brush, freed = two + WmfRecord(META_DELETEOBJECT, {0});
    ExpectAccepted(RichWmf(BareWmf(2, two)), "two brushes");
    ExpectRefused(RichWmf(BareWmf(2, two + brush)), "three brushes");
    ExpectAccepted(RichWmf(BareWmf(2, freed + brush)), "a freed slot taken");
    ExpectRefused(RichWmf(BareWmf(2, freed + brush + brush)), "the freed slot taken twice");

    Bytes emf = RecordRichEmf();
    uint32_t handles = Le16(At(emf, 56)), stock = 0x80000000 | WHITE_BRUSH;
    ASSERT_GT(handles, 1u);
    const Bytes hostile[] = {
        EmfRecord(EMR_SELECTOBJECT, {0x00FF0000}), EmfRecord(EMR_SELECTOBJECT, {handles}),
        EmfRecord(EMR_DELETEOBJECT, {handles}), EmfRecord(EMR_DELETEOBJECT, {stock}),
        EmfRecord(EMR_CREATEBRUSHINDIRECT, {0x10000, BS_SOLID, 0xFF, 0}),
        EmfRecord(EMR_CREATEBRUSHINDIRECT, {0, BS_SOLID, 0xFF, 0})};   // the metafile's slot
    for (const Bytes &r : hostile)
        ExpectRefused(WithEmfRecords(emf, r, 1), "EMF case " + std::to_string(&r - hostile));
    Bytes lastSlot = EmfRecord(EMR_CREATEBRUSHINDIRECT, {handles - 1, BS_SOLID, 0xFF, 0}) +
                     EmfRecord(EMR_SELECTOBJECT, {handles - 1}) +
                     EmfRecord(EMR_SELECTOBJECT, {stock}) +
                     EmfRecord(EMR_DELETEOBJECT, {handles - 1});
    ExpectAccepted(WithEmfRecords(emf, lastSlot, 4), "last slot and a stock object");
}

// Bitmap headers and pixels, strings, spacing and point counts of GDI's own
// records, each made to reach past its record by one field.
TEST(MetafileRecords, FieldsReachingPastTheirRecordAreRefused)
{
    Bytes wmf = RecordRichWmf();
    size_t dib = First(WmfRecords(wmf, META_STRETCHDIB)) + 6 + 22;
    size_t text = First(WmfRecords(wmf, META_EXTTEXTOUT)) + 6 + 4;
    size_t polygon = First(WmfRecords(wmf, META_POLYGON)) + 6;
    size_t polys = First(WmfRecords(wmf, META_POLYPOLYGON)) + 6;
    ASSERT_TRUE(dib > 28 && text > 10 && polygon > 6 && polys > 6);
    struct { size_t at; uint32_t value; int bytes; } wmfCases[] = {
        {dib + 8, 800, 4},              // DIB taller than its pixels
        {dib, 0x10000, 4},              // its header larger than the record
        {dib + 32, 0x4000000, 4},       // its colour table beyond the record
        {text, Le16(At(wmf, text)) + 1u, 2},   // one character more
        {text, 0x7FFF, 2},
        {polygon, Le16(At(wmf, polygon)) + 1u, 2},   // one point more
        {polys + 2, 0x4000, 2}};        // a polygon of points beyond
    for (auto &c : wmfCases) {
        Bytes b = wmf;
        c.bytes == 4 ? Put32(At(b, c.at), c.value) : Put16(At(b, c.at), c.value);
        ExpectRefused(RichWmf(b), "WMF case " + std::to_string(&c - wmfCases));
    }

    Bytes emf = RecordRichEmf();
    size_t blit = First(EmfRecords(emf, EMR_BITBLT));
    size_t dibits = First(EmfRecords(emf, EMR_STRETCHDIBITS));
    size_t text2 = First(EmfRecords(emf, EMR_EXTTEXTOUTW));
    // GDI writes the points in 16 or in 32 bits, not both.
    size_t poly = First(EmfRecords(emf, EMR_POLYGON16)) + First(EmfRecords(emf, EMR_POLYGON));
    size_t polyPoly = First(EmfRecords(emf, EMR_POLYPOLYGON16)) +
                      First(EmfRecords(emf, EMR_POLYPOLYGON));
    ASSERT_TRUE(blit && dibits && text2 && poly && polyPoly);
    auto field = [&](size_t at) { return Le32(At(emf, at)); };
    size_t blitInfo = blit + field(blit + 84), info = dibits + field(dibits + 48);
    struct { size_t at; uint32_t value; } emfCases[] = {
        {blit + 92, field(blit + 92) + 240000000},   // pixels 240 MB past the record
        {blit + 96, field(blit + 96) + 4},           // one word more of pixels
        {blit + 88, field(blit + 4)},                // header size past the record
        {blitInfo + 8, 1000},                        // taller than its pixels
        {blitInfo + 14, 48},                         // a bit count no GDI knows
        {info, 0x10000},                             // header larger than its size
        {info + 32, 256},                            // colour table past it
        {dibits + 56, field(dibits + 4)},            // pixels after the record
        {text2 + 44, 0x40000000},                    // string far past the record
        {text2 + 48, field(text2 + 4) - 4},          // string from the record's end
        {text2 + 72, field(text2 + 4) - 8},          // spacing past the record
        {poly + 24, field(poly + 24) + 2},           // two points more
        {polyPoly + 32, field(polyPoly + 32) + 1},   // counts beyond the points
        {polyPoly + 28, 0x10000000}};                // points beyond the record
    for (auto &c : emfCases) {
        Bytes b = emf;
        Put32(At(b, c.at), c.value);
        ExpectRefused(b, "EMF case " + std::to_string(&c - emfCases));
    }
    Bytes b = emf;
    Put32(At(b, text2 + 72), 0);
    ExpectAccepted(b, "text without spacing");
}

// An enhanced metafile carried in "WMFC" comments, as the converter takes
// them: from the records that lead the metafile, up to the count of the
// first, whatever their comment type. `sizes` splits it into pieces; the
// checksum makes the words of the whole metafile add up to 0.
static Bytes WithPieces(const Bytes &mf, const Bytes &emf, std::initializer_list<size_t> sizes,
                        uint32_t count, uint32_t type = 1)
{
    Bytes comments;
    size_t from = 0;
    for (size_t size : sizes) {
        Bytes c(34, '\0');
        Put32(At(c, 0), 0x43464D57);   // "WMFC"
        Put32(At(c, 4), type);
        Put32(At(c, 8), 0x10000);
        Put32(At(c, 18), count);
        Put32(At(c, 22), (uint32_t)size);
        Put32(At(c, 26), (uint32_t)(emf.size() - from - size));
        Put32(At(c, 30), (uint32_t)emf.size());
        c += emf.substr(from, size);
        from += size;
        Bytes r = WmfRecord(META_ESCAPE, {MFCOMMENT, (uint16_t)c.size()}) + c;
        Put32(At(r, 0), (uint32_t)r.size() / 2);
        comments += r;
    }
    Bytes out = mf;
    out.insert(2 * Le16(At(mf, 2)), comments);
    Put32(At(out, 6), (uint32_t)out.size() / 2);
    Put32(At(out, 12), 0x10000);
    uint16_t sum = 0;
    for (size_t i = 0; i < out.size() / 2; i++)
        sum += Le16(At(out, 2 * i));
    size_t checksum = 2 * Le16(At(mf, 2)) + 6 + 4 + 12;
    Put16(At(out, checksum), (uint16_t)(Le16(At(out, checksum)) - sum));
    return out;
}

// GDI's own WMF of an EMF carries it in one leading comment; the converter
// plays that instead of the records, so a hostile one there is refused
// whatever its comment type, and so are pieces that do not add up by the
// converter's rules or stand anywhere else.
TEST(MetafileRecords, EmbeddedMetafileIsJudgedAsTheConverterTakesIt)
{
    Bytes emf = RecordRichEmf(), wmf = RecordRichWmf();
    HENHMETAFILE handle = SetEnhMetaFileBits((UINT)emf.size(), (const BYTE *)emf.data());
    HDC screen = GetDC(0);
    UINT size = GetWinMetaFileBits(handle, 0, 0, MM_ANISOTROPIC, screen);
    Bytes own(size, '\0');
    GetWinMetaFileBits(handle, size, (BYTE *)&own[0], MM_ANISOTROPIC, screen);
    ReleaseDC(0, screen);
    ASSERT_EQ(Le32(At(own, 2 * Le16(At(own, 2)) + 10)), 0x43464D57u);
    CDibImage decoded, direct;
    ASSERT_TRUE(DecodeAt(decoded, RichWmf(own))) << decoded.GetLastError();
    PlayDirect(direct, handle);
    ExpectSamePixels(decoded, direct, "GDI's own WMF plays its EMF");
    size_t half = emf.size() / 2, rest = emf.size() - half;
    ExpectAccepted(RichWmf(WithPieces(wmf, emf, {half, rest}, 2)), "two pieces");

    // EMR_DELETEOBJECT of a slot far outside the table crashes the player.
    Bytes bare = emf.substr(0, Le32(At(emf, 4))) + EmfRecord(EMR_DELETEOBJECT, {0x00FF0000}) +
                 emf.substr(emf.size() - 20);
    Put32(At(bare, 48), (uint32_t)bare.size());
    Put32(At(bare, 52), 3);
    Bytes small = BareWmf(1, Bytes());
    ExpectRefused(RichWmf(WithPieces(small, bare, {bare.size()}, 1, 2)), "comment type 2");
    ExpectRefused(RichWmf(WithPieces(small, bare, {bare.size()}, 1, 1)), "comment type 1");
    Bytes lone = WithPieces(BareWmf(0, Bytes()), emf, {emf.size()}, 1);
    lone = lone.substr(18, lone.size() - 18 - 6);   // the comment record alone
    const struct { Bytes file; const char *what; } unsound[] = {
        {WithPieces(wmf, emf, {half}, 1), "the count reached with bytes to come"},
        {WithPieces(wmf, emf, {emf.size(), 0}, 1), "a piece past the count"},
        {WithPieces(wmf, emf, {half, rest}, 3), "the records ending before the count"},
        {WithPieces(wmf, emf, {emf.size()}, 0), "a count of 0"},
        {WithWmfRecords(wmf, lone), "a piece after the records it should lead"}};
    for (const auto &u : unsound)
        ExpectRefused(RichWmf(u.file), u.what);
}

// One file per way the player reads beyond what an earlier walk judged.
TEST(MetafileRecords, WhatThePlayerReadsBeyondTheFieldsIsJudged)
{
    Bytes emf = Emf100x50();
    // A blit that reads no source, with a bitmap offset but sizes of 0: the
    // player takes the 4096 x 4096 x 32 header at that offset to be there.
    Bytes blit(140, '\0');
    Put32(At(blit, 0), EMR_BITBLT);
    Put32(At(blit, 4), 140);
    Put32(At(blit, 40), PATCOPY);
    Put32(At(blit, 84), 100);
    BITMAPINFOHEADER huge = {40, 4096, 4096, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    memcpy(&blit[100], &huge, 40);
    ExpectRefused(WithEmfRecords(emf, blit, 1), "a blit bitmap by offset alone");
    Put32(At(blit, 84), 0);
    ExpectAccepted(WithEmfRecords(emf, blit, 1), "the same blit without an offset");

    // Spacing at offset 0 is read from the record's start: 1,000 characters
    // of spacing do not fit in a record of 2,080 bytes.
    Bytes text(80 + 2000, '\0');
    Put32(At(text, 0), EMR_POLYTEXTOUTW);
    Put32(At(text, 4), (uint32_t)text.size());
    Put32(At(text, 36), 1);      // one string
    Put32(At(text, 48), 1000);   // of 1,000 characters
    Put32(At(text, 52), 80);     // after the record's fields
    ExpectRefused(WithEmfRecords(emf, text, 1), "spacing at offset 0");

    // The player plays on past an early end record, up to the byte count.
    Bytes eof = EmfRecord(EMR_EOF, {0, 16, 20});
    ExpectRefused(WithEmfRecords(emf, eof + EmfRecord(EMR_SELECTOBJECT, {0x00FF0000}), 2),
                  "a record after an end record");
    Bytes early = Emf100x50();
    size_t second = Le32(At(early, 4));
    Put32(At(early, second), EMR_EOF);
    Put32(At(early, second + 4), 20);
    Put32(At(early, second + 8), 0);
    ExpectRefused(early, "an end record with the rest out of step");

    // Bitmap16 pattern brushes at depths CreateBitmap rounds up: 64 x 64 at
    // 2 bits holds 1,024 bytes as stored, 2,048 as the player reads it.
    for (uint8_t bpp : {0, 2}) {
        Bytes brush(2 * 16 + 1024, '\0');
        Put16(At(brush, 2), 64);
        Put16(At(brush, 4), 64);
        Put16(At(brush, 6), 16);
        brush[8] = 1;
        brush[9] = (char)bpp;
        Bytes r = WmfRecord(META_CREATEPATTERNBRUSH, {}) + brush;
        Put32(At(r, 0), (uint32_t)r.size() / 2);
        ExpectRefused(RichWmf(BareWmf(1, r)), "Bitmap16 of " + std::to_string(bpp) + " bits");
    }

    // A record of these fields, then a bitmap header and 4 bytes of pixels.
    auto withBitmap = [](Bytes r, const BITMAPINFOHEADER &header) {
        r += Bytes((const char *)&header, sizeof header) + Bytes(4, '\0');
        Put32(At(r, 4), (uint32_t)r.size());
        return r;
    };
    // Usage 2 declares no colour table, but a player may read one of RGB
    // values after the header: 256 of them run 1 KB past this record.
    Bytes dib = withBitmap(EmfRecord(EMR_STRETCHDIBITS, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                         80, 40, 120, 4, 2, SRCCOPY, 0, 0}),
                           {40, 1, 1, 1, 8, BI_RGB, 0, 0, 0, 0, 0});
    ExpectRefused(WithEmfRecords(emf, dib, 1), "a colour table read past the record");

    // A monochrome brush of usage 2 is made as a device bitmap of its
    // header's size and depth, whatever the compression: 4096 x 4096 at 8
    // bits is 16 MB, not the 4 bytes the header states.
    Bytes mono = withBitmap(EmfRecord(EMR_CREATEMONOBRUSH, {1, 2, 32, 40, 72, 4}),
                            {40, 4096, 4096, 1, 8, BI_RLE8, 4, 0, 0, 0, 0});
    Bytes twoSlots = emf;
    Put16(At(twoSlots, 56), 2);
    ExpectRefused(WithEmfRecords(twoSlots, mono, 1), "a compressed monochrome brush");

    // GDI's own monochrome brush one row high: 4 bytes of pixels, fewer than
    // the table its player never reads.
    HDC dc = BeginEmf();
    static const WORD row[1] = {0xAA};
    HBITMAP bits = CreateBitmap(8, 1, 1, 1, row);
    HBRUSH brush = CreatePatternBrush(bits);
    HGDIOBJ old = SelectObject(dc, brush);
    Rectangle(dc, 10, 10, 190, 90);
    SelectObject(dc, old);
    DeleteObject(brush);
    DeleteObject(bits);
    Bytes thin = EndEmf(dc, kRichW, kRichH);
    size_t made = First(EmfRecords(thin, EMR_CREATEMONOBRUSH));
    ASSERT_NE(made, 0u);
    EXPECT_EQ(Le32(At(thin, made + 28)), 4u);
    CDibImage decoded, direct;
    ASSERT_TRUE(DecodeAt(decoded, thin)) << decoded.GetLastError();
    PlayDirect(direct, SetEnhMetaFileBits((UINT)thin.size(), (const BYTE *)thin.data()));
    ExpectSamePixels(decoded, direct, "a monochrome brush one row high");
}

// A picture GDI records with a MaskBlt: a 16 x 16 blue source, and a mask
// one row high when `maskRows` is 1, none when it is 0.
static Bytes RecordMaskBlt(int maskRows)
{
    HDC dc = BeginEmf();
    HDC screen = GetDC(0);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 16);
    ReleaseDC(0, screen);
    HGDIOBJ old = SelectObject(mem, bitmap);
    Fill(mem, 0, 0, 16, 16, kBlue);
    static const WORD row[1] = {0x5555};
    HBITMAP mask = maskRows ? CreateBitmap(16, 1, 1, 1, row) : 0;
    MaskBlt(dc, 10, 10, 16, 1, mem, 0, 0, mask, 0, 0, MAKEROP4(SRCCOPY, PATCOPY));
    SelectObject(mem, old);
    DeleteDC(mem);
    DeleteObject(bitmap);
    if (mask)
        DeleteObject(mask);
    return EndEmf(dc, kRichW, kRichH);
}

// Each case reads a field where the platform's player reads it and not
// where the format's documents put it, or was refused though GDI writes it.
TEST(MetafileRecords, FieldsAreJudgedWhereThePlayerReadsThem)
{
    Bytes wmf = RecordRichWmf();
    uint16_t objects = Le16(At(wmf, 10));
    Bytes palette = WmfRecord(META_CREATEPALETTE, {0x300, 1, 0, 0});
    // The player takes the palette from the second word, the flag from the first.
    ExpectRefused(RichWmf(BareWmf(1, palette + WmfRecord(META_SELECTPALETTE, {0, 0x7F00}))),
                  "a palette index in the second word");
    // Height, width, brush, region: the handles are the last two.
    ExpectRefused(RichWmf(WithWmfRecords(wmf, WmfRecord(META_FRAMEREGION, {1, 1, 0x7F00, 0x7F00}))),
                  "frame handles past the table");
    ExpectAccepted(RichWmf(WithWmfRecords(wmf, WmfRecord(META_FRAMEREGION, {200, 200, 0, 0}))),
                   "a frame 200 units wide");
    // A brush whose hatch is taken as a pointer to a packed DIB.
    ExpectRefused(RichWmf(BareWmf(1, WmfRecord(META_CREATEBRUSHINDIRECT,
                                               {BS_DIBPATTERNPT, 0, 0, 0x1000}))),
                  "a 16-bit DIB pattern pointer");
    // A Bitmap16 blit whose own header fits while the player's words ask
    // for 64 x 64 bytes: xDest 64, type 64, height 1 as planes, row 8 as depth.
    Bytes blit = WmfRecord(META_BITBLT, {SRCCOPY & 0xFFFF, SRCCOPY >> 16, 0, 0, 1, 1, 0, 64,
                                         64, 1, 1, 8, 0x0101, 0});
    ExpectRefused(RichWmf(BareWmf(0, blit)), "a blit sized by the player's words");
    // A restore goes back only through the saves made so far.
    Bytes save = WmfRecord(META_SAVEDC, {});
    ExpectAccepted(RichWmf(BareWmf(0, save + WmfRecord(META_RESTOREDC, {0xFFFF}))), "one back");
    ExpectRefused(RichWmf(BareWmf(0, save + WmfRecord(META_RESTOREDC, {0xFFFE}))), "two back");
    // The converter's recorder writes 2^depth colours where biClrUsed is 0,
    // into room for none, and stops the program on a record size no multiple
    // of 4: 4 x 4 DIBs of 16 bytes of pixels. The reader writes a count of 0
    // out; a core header has none, and 3 palette indices take 6 bytes.
    auto stretch = [](uint16_t usage, uint32_t used, uint16_t bpp, size_t table, bool core) {
        Bytes r = WmfRecord(META_STRETCHDIB, {SRCCOPY & 0xFFFF, SRCCOPY >> 16, usage, 4, 4, 0, 0,
                                              4, 4, 0, 0});
        BITMAPINFOHEADER h = {40, 4, 4, 1, bpp, BI_RGB, 0, 0, 0, used, 0};
        BITMAPCOREHEADER c = {12, 4, 4, 1, bpp};
        r += core ? Bytes((const char *)&c, 12) : Bytes((const char *)&h, 40);
        r += Bytes(table + 4 * ((4 * bpp + 31) / 32 * 4), '\0');
        Put32(At(r, 0), (uint32_t)r.size() / 2);
        return r;
    };
    ExpectAccepted(RichWmf(BareWmf(0, stretch(DIB_RGB_COLORS, 0, 8, 1024, false))), "256 colours");
    ExpectRefused(RichWmf(BareWmf(0, stretch(DIB_RGB_COLORS, 0, 8, 768, true))), "a core header");
    ExpectRefused(RichWmf(BareWmf(0, stretch(DIB_PAL_COLORS, 3, 4, 6 + 2, false))),
                  "6 bytes of indices");
    // Runs are expanded into a bitmap of the header's size, reckoned in 32
    // bits: 8 x (2^30 + 1) bytes wrap to 8, which the first run overruns.
    auto runs = [](int32_t height) {
        Bytes r = WmfRecord(META_STRETCHDIB, {SRCCOPY & 0xFFFF, SRCCOPY >> 16, DIB_RGB_COLORS,
                                              4, 8, 0, 0, 4, 8, 0, 0});
        const uint8_t pixels[20] = {8, 1, 0, 0, 8, 2, 0, 0, 8, 3, 0, 0, 8, 4, 0, 0, 0, 0, 0, 1};
        BITMAPINFOHEADER h = {40, 8, height, 1, 8, BI_RLE8, sizeof pixels, 0, 0, 0, 0};
        r += Bytes((const char *)&h, 40) + Bytes(1024, '\0') +
             Bytes((const char *)pixels, sizeof pixels);
        Put32(At(r, 0), (uint32_t)r.size() / 2);
        return r;
    };
    ExpectAccepted(RichWmf(BareWmf(0, runs(4))), "four rows of runs");
    ExpectRefused(RichWmf(BareWmf(0, runs(0x40000001))), "runs expanded into 8 bytes");
    // Its copy of a DIB brush keeps at most 2^depth palette indices, 2 bytes each.
    auto brush = [](uint32_t used) {
        Bytes r = WmfRecord(META_DIBCREATEPATTERNBRUSH, {BS_DIBPATTERN, DIB_PAL_COLORS});
        BITMAPINFOHEADER h = {40, 8, 8, 1, 4, BI_RGB, 0, 0, 0, used, 0};
        r += Bytes((const char *)&h, 40) + Bytes(2 * used + 32, '\0');
        Put32(At(r, 0), (uint32_t)r.size() / 2);
        return r;
    };
    ExpectAccepted(RichWmf(BareWmf(1, brush(17))), "17 indices, 16 kept");
    ExpectRefused(RichWmf(BareWmf(1, brush(3))), "3 indices");
    // Vertical spacing: the converter records one value a character, and the
    // player reads the second from the records that follow.
    Bytes pdy = WmfRecord(META_EXTTEXTOUT, {20, 20, 2, ETO_PDY, 'A' | 'B' << 8, 10, 0, 10, 0});
    ExpectRefused(RichWmf(BareWmf(0, pdy)), "vertical spacing");
    ASSERT_GT(objects, 0);

    Bytes emf = Emf100x50(), twoSlots = emf;
    Put16(At(twoSlots, 56), 2);
    Bytes none = emf;
    Put16(At(none, 56), 0);
    ExpectRefused(none, "a handle table without the metafile's own slot");
    // The reference device's millimetres scale every coordinate played.
    Bytes vast = emf;
    Put32(At(vast, 84), 0x860010F);
    ExpectRefused(vast, "a pixel 140 km high");
    ExpectRefused(WithEmfRecords(emf, EmfRecord(EMR_RESTOREDC, {0x80000000}), 1), "-2^31");
    ExpectRefused(WithEmfRecords(emf, EmfRecord(EMR_RESTOREDC, {1}), 1), "level 1 unsaved");
    ExpectAccepted(WithEmfRecords(emf, EmfRecord(EMR_SAVEDC, {}) +
                                           EmfRecord(EMR_RESTOREDC, {0xFFFFFFFF}), 2),
                   "a save restored");
    // Only selections strip the stock bit; a palette's entries are set in a slot.
    ExpectRefused(WithEmfRecords(twoSlots, EmfRecord(EMR_SETPALETTEENTRIES,
                                                     {0x80000000 | DEFAULT_PALETTE, 0, 0}), 1),
                  "entries of a stock palette");
    ExpectRefused(WithEmfRecords(twoSlots, EmfRecord(EMR_CREATEBRUSHINDIRECT,
                                                     {1, BS_DIBPATTERNPT, 0, 0x00401000}), 1),
                  "a DIB pattern pointer");
    // The platform sizes a resized palette in 32 bits: 2^31 entries wrap to none.
    ExpectRefused(WithEmfRecords(twoSlots, EmfRecord(EMR_RESIZEPALETTE, {1, 0x80000000}), 1),
                  "a palette of 2^31 entries");
    // A top-down DIB is copied whole whatever the scan count: 64 rows, 1 there.
    Bytes topDown = EmfRecord(EMR_SETDIBITSTODEVICE, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 76, 40,
                                                      116, 4, 0, 0, 1});
    BITMAPINFOHEADER rows = {40, 1, -64, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    topDown += Bytes((const char *)&rows, 40) + Bytes(4, '\0');
    Put32(At(topDown, 4), (uint32_t)topDown.size());
    ExpectRefused(WithEmfRecords(emf, topDown, 1), "a top-down DIB of one scan");
    // A clip region of no stated size is still read when the record holds a header.
    Bytes clip = EmfRecord(EMR_EXTSELECTCLIPRGN, {0, RGN_COPY, 32, 1, 1000, 0, 0, 0, 0, 0, 0, 0});
    ExpectRefused(WithEmfRecords(emf, clip, 1), "1,000 rectangles read past the record");
    // A solid pen reads no bitmap, wherever its offsets point.
    Bytes pen = EmfRecord(EMR_EXTCREATEPEN, {1, 52, 0, 52, 0, PS_GEOMETRIC, 2, BS_SOLID,
                                             0xFF, 0, 0});
    ExpectAccepted(WithEmfRecords(twoSlots, pen, 1), "a solid pen with offsets at its end");
    // Spacing at offset 0 is read by none of the players; one that did would
    // read it from the record's start, which must stay inside the metafile.
    Bytes text(76 + 120, '\0');
    Put32(At(text, 0), EMR_EXTTEXTOUTW);
    Put32(At(text, 4), (uint32_t)text.size());
    Put32(At(text, 32), GM_COMPATIBLE);
    Put32(At(text, 44), 60);    // characters
    Put32(At(text, 48), 76);    // the string after the fields
    for (int i = 0; i < 60; i++)
        text[76 + 2 * i] = 'A' + i % 26;
    Bytes early = emf;
    early.insert(Le32(At(emf, 4)), text);
    Put32(At(early, 48), (uint32_t)early.size());
    Put32(At(early, 52), Le32(At(early, 52)) + 1);
    ExpectAccepted(early, "60 characters without spacing");
    // The text code draws across the sum of its steps: 2^26 units take seconds.
    Bytes wide = text + Bytes(240, '\0');
    Put32(At(wide, 4), (uint32_t)wide.size());
    Put32(At(wide, 72), 196);
    Put32(At(wide, 196), 1 << 26);
    ExpectRefused(WithEmfRecords(emf, wide, 1), "a step of 2^26 units");
    Put32(At(wide, 196), 1 << 12);
    ExpectAccepted(WithEmfRecords(emf, wide, 1), "a step of 2^12 units");
    ExpectRefused(WithEmfRecords(emf, text, 1), "spacing from its start past the metafile");

    // Alpha blends are copied whole into a DIB section made from the header.
    Bytes alpha(108 + 40 + 4, '\0');
    Put32(At(alpha, 0), EMR_ALPHABLEND);
    Put32(At(alpha, 4), (uint32_t)alpha.size());
    Put32(At(alpha, 40), 0xFF0000);   // constant alpha 255
    Put32(At(alpha, 84), 108);
    Put32(At(alpha, 88), 40);
    Put32(At(alpha, 92), 148);
    Put32(At(alpha, 96), 4);
    BITMAPINFOHEADER one = {40, 1, 1, 1, 32, BI_RGB, 4, 0, 0, 0, 0};
    memcpy(&alpha[108], &one, 40);
    Bytes usage2 = alpha;
    Put32(At(usage2, 80), 2);
    ExpectRefused(WithEmfRecords(emf, usage2, 1), "a section the platform refuses");
    Bytes long1 = alpha + Bytes(1 << 20, '\0');
    Put32(At(long1, 4), (uint32_t)long1.size());
    Put32(At(long1, 96), 4 + (1 << 20));
    ExpectRefused(WithEmfRecords(emf, long1, 1), "1 MiB into a 1 x 1 section");
    ExpectAccepted(WithEmfRecords(emf, alpha, 1), "1 x 1 into 1 x 1");
    // Bit fields with a mask of 0 make no section either.
    Bytes fields = alpha;
    fields.insert(148, Bytes(12, '\0'));
    Put32(At(fields, 4), (uint32_t)fields.size());
    Put32(At(fields, 88), 52);
    Put32(At(fields, 92), 160);
    Put32(At(fields, 108 + 16), BI_BITFIELDS);
    Put32(At(fields, 148), 0xFF0000);
    ExpectRefused(WithEmfRecords(emf, fields, 1), "a green mask of 0");

    // A mask at offset 0 is read from the record's start: there GDI's own
    // maskless record leaves a header the player refuses, and these bounds
    // one it takes, of the record's width, 200,000 rows and 32 bits.
    Bytes maskless = RecordMaskBlt(0), thin = RecordMaskBlt(1);
    size_t mask = First(EmfRecords(maskless, EMR_MASKBLT));
    ASSERT_NE(mask, 0u);
    EXPECT_EQ(Le32(At(maskless, mask + 112)), 0u);
    ExpectAccepted(maskless, "GDI's maskless MaskBlt");
    Bytes hostile(128, '\0');
    Put32(At(hostile, 0), EMR_MASKBLT);
    Put32(At(hostile, 4), 128);
    Put32(At(hostile, 8), 200000);
    Put32(At(hostile, 12), 0x00200001);
    Put32(At(hostile, 40), MAKEROP4(PATCOPY, PATCOPY));
    ExpectRefused(WithEmfRecords(emf, hostile, 1), "a header made of the bounds");
    // GDI's one-row mask: usage 2, a 40-byte header, 4 bytes of pixels.
    mask = First(EmfRecords(thin, EMR_MASKBLT));
    ASSERT_NE(mask, 0u);
    EXPECT_EQ(Le32(At(thin, mask + 108)), 2u);
    EXPECT_EQ(Le32(At(thin, mask + 124)), 4u);
    CDibImage decoded, direct;
    ASSERT_TRUE(DecodeAt(decoded, thin)) << decoded.GetLastError();
    PlayDirect(direct, SetEnhMetaFileBits((UINT)thin.size(), (const BYTE *)thin.data()));
    ExpectSamePixels(decoded, direct, "a one-row mask");
}

// An inside-frame pen draws within the shape's box, and the platform's arc
// code overruns its points for a box the pen's width leaves nothing of.
TEST(WmfCodec, ArcsAllPenAreLeftOutAndTheRestDrawn)
{
    HDC dc = BeginEmf();
    SelectObject(dc, GetStockObject(NULL_BRUSH));
    HGDIOBJ old = GetStockObject(BLACK_PEN);
    for (int width = 20; width <= 40; width++) {
        HPEN pen = CreatePen(PS_INSIDEFRAME, width, kBlue);
        SelectObject(dc, pen);
        Pie(dc, 140, 34, 169, 53, 170, 40, 150, 34);
        Chord(dc, 140, 60, 169, 79, 170, 66, 150, 60);
        Arc(dc, 100, 60, 129, 79, 130, 66, 110, 60);
        SelectObject(dc, old);
        DeleteObject(pen);
    }
    HPEN thin = CreatePen(PS_INSIDEFRAME, 4, kRed);
    SelectObject(dc, thin);
    Pie(dc, 10, 10, 60, 60, 60, 34, 60, 35);   // all but a sliver: a circle
    SelectObject(dc, old);
    DeleteObject(thin);
    CDibImage im;
    ASSERT_TRUE(DecodeAt(im, EndEmf(dc, kRichW, kRichH))) << im.GetLastError();
    EXPECT_RED(im, 11, 35);    // inside the box by the pen's width
    EXPECT_BACK(im, 25, 30);
    EXPECT_BACK(im, 155, 44);
}

// ---- Escape, encode, dispatch

TEST(WmfCodec, EscapeStopsAtTheSizeOrCancels)
{
    CDibImage im;
    im.SetEscape(-1);
    ASSERT_TRUE(DecodeAs(im, TwipWmf(), FORMAT_WMF));
    EXPECT_EQ(im.GetWidth(), 96);
    EXPECT_EQ(im.GetHeight(), 48);
    EXPECT_EQ(im.GetType(), FORMAT_WMF);
    EXPECT_FALSE(im.IsValid());
    EXPECT_STREQ(im.GetLastError(), "output dimensions returned");
    CDibImage big;
    Bytes emf = Emf100x50();
    SetEmfBounds(emf, 0, 0, 8000, 2000);
    big.SetEscape(-1);
    ASSERT_TRUE(DecodeAs(big, emf, FORMAT_WMF));
    EXPECT_EQ(big.GetWidth(), 8000);   // the natural size, before the limit
    CDibImage cancelled;
    cancelled.SetEscape(1);
    EXPECT_FALSE(DecodeAs(cancelled, emf, FORMAT_WMF));
    EXPECT_STREQ(cancelled.GetLastError(), "Cancelled");
    EXPECT_FALSE(cancelled.IsValid());
}

TEST(WmfCodec, SavingIsRefused)
{
    CDibImage im(4, 4, 24, FORMAT_UNKNOWN);
    unsigned char *buffer = 0;
    int32_t size = 0;
    EXPECT_FALSE(im.Encode(&buffer, &size, FORMAT_WMF));
    EXPECT_STREQ(im.GetLastError(), "Save WMF not supported");
    EXPECT_EQ(buffer, (unsigned char *)0);
    CDibImageWMF ghost;
    EXPECT_FALSE(ghost.Encode((CByteStream *)0));
    EXPECT_STREQ(ghost.GetLastError(), "");
}

TEST(WmfCodec, FoundWhenTheFormatIsUnknown)
{
    CDibImage wmf, emf, junk;
    ASSERT_TRUE(DecodeAs(wmf, TwipWmf(), FORMAT_UNKNOWN)) << wmf.GetLastError();
    EXPECT_EQ(wmf.GetType(), FORMAT_WMF);
    EXPECT_EQ(wmf.GetWidth(), 96);
    EXPECT_BLUE(wmf, 5, 5);
    ASSERT_TRUE(DecodeAs(emf, Emf100x50(), FORMAT_UNKNOWN)) << emf.GetLastError();
    EXPECT_EQ(emf.GetType(), FORMAT_WMF);
    EXPECT_RED(emf, 20, 15);
    Bytes damaged = TwipWmf();
    damaged[20] ^= 1;
    EXPECT_FALSE(DecodeAs(junk, damaged, FORMAT_UNKNOWN));
    EXPECT_STREQ(junk.GetLastError(), "Decode: Unknown or wrong format");
}
