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

static Bytes RecordWmf()
{
    HDC dc = CreateMetaFileA(0);
    SetMapMode(dc, MM_ANISOTROPIC);
    SetWindowOrgEx(dc, 0, 0, 0);
    SetWindowExtEx(dc, 1440, 720, 0);
    Fill(dc, 0, 0, 360, 180, kBlue);
    Fill(dc, 720, 360, 1440, 720, kRed);
    HMETAFILE mf = CloseMetaFile(dc);
    UINT size = GetMetaFileBitsEx(mf, 0, 0);
    Bytes bytes(size, '\0');
    GetMetaFileBitsEx(mf, size, &bytes[0]);
    DeleteMetaFile(mf);
    return bytes;
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

// Red (10,5)-(30,25) and blue (60,30)-(100,50) on a 100 x 50 picture.
static Bytes RecordEmf(int w, int h)
{
    HDC screen = GetDC(0);
    HDC dc = CreateEnhMetaFileA(screen, 0, 0, 0);
    ReleaseDC(0, screen);
    Fill(dc, 10, 5, 30, 25, kRed);
    Fill(dc, 60, 30, 100, 50, kBlue);
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
// A picture drawn with most kinds of GDI object, recorded by GDI itself:
// pens, solid, hatched and DIB pattern brushes, a font and text with and
// without spacing, polygons, a polypolygon, a blit and a stretched blit
// from a bitmap, a stretched DIB, a region and a palette. The hostile files
// below are copies of it with one field changed, or one record added.

static const int kRichWidth = 200, kRichHeight = 100;

// An 8 x 8 24-bit DIB in one block: header, then rows of four colours.
static Bytes PackedDib()
{
    Bytes d(sizeof(BITMAPINFOHEADER) + 8 * 24, '\0');
    BITMAPINFOHEADER h = {sizeof h, 8, 8, 1, 24, BI_RGB, 8 * 24, 0, 0, 0, 0};
    memcpy(&d[0], &h, sizeof h);
    for (int i = 0; i < 64; i++) {
        uint8_t *px = At(d, sizeof h + 3 * i);
        px[(i / 16) % 3] = 255;   // bands of blue, green, red
    }
    return d;
}

static void DrawRich(HDC dc)
{
    struct { WORD version, entries; PALETTEENTRY e[2]; } lp = {
        0x300, 2, {{255, 0, 0, 0}, {0, 0, 255, 0}}};
    HPALETTE palette = CreatePalette((LOGPALETTE *)&lp);
    HPALETTE oldPalette = SelectPalette(dc, palette, FALSE);
    RealizePalette(dc);
    HPEN pen = CreatePen(PS_SOLID, 3, RGB(0, 128, 0));
    HBRUSH hatch = CreateHatchBrush(HS_DIAGCROSS, kBlue);
    HGDIOBJ oldPen = SelectObject(dc, pen), oldBrush = SelectObject(dc, hatch);
    POINT triangle[3] = {{10, 10}, {60, 10}, {35, 50}};
    Polygon(dc, triangle, 3);
    POINT shapes[7] = {{70, 10}, {110, 10}, {110, 40}, {120, 50}, {150, 50}, {150, 80}, {120, 80}};
    INT counts[2] = {3, 4};
    PolyPolygon(dc, shapes, counts, 2);
    POINT zigzag[4] = {{5, 95}, {15, 85}, {25, 95}, {35, 85}};
    Polyline(dc, zigzag, 4);
    Bytes dib = PackedDib();
    HBRUSH pattern = CreateDIBPatternBrushPt(dib.data(), DIB_RGB_COLORS);
    SelectObject(dc, pattern);
    Rectangle(dc, 160, 10, 190, 40);
    HFONT font = CreateFontA(16, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0,
                             NONANTIALIASED_QUALITY, 0, "Arial");
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetTextColor(dc, kRed);
    SetBkMode(dc, TRANSPARENT);
    ExtTextOutA(dc, 10, 55, 0, 0, "Earth", 5, 0);
    INT spacing[4] = {12, 12, 12, 12};
    ExtTextOutA(dc, 80, 55, 0, 0, "Moon", 4, spacing);
    HDC screen = GetDC(0);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 16);
    ReleaseDC(0, screen);
    HGDIOBJ oldBitmap = SelectObject(mem, bitmap);
    Fill(mem, 0, 0, 16, 16, kRed);
    Fill(mem, 0, 0, 8, 8, kBlue);
    BitBlt(dc, 10, 75, 16, 16, mem, 0, 0, SRCCOPY);
    StretchBlt(dc, 30, 75, 32, 16, mem, 0, 0, 16, 16, SRCCOPY);
    SelectObject(mem, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(mem);
    StretchDIBits(dc, 70, 75, 32, 20, 0, 0, 8, 8, &dib[sizeof(BITMAPINFOHEADER)],
                  (BITMAPINFO *)&dib[0], DIB_RGB_COLORS, SRCCOPY);
    HRGN region = CreateRectRgn(110, 85, 140, 95);
    HBRUSH solid = CreateSolidBrush(kRed);
    FillRgn(dc, region, solid);
    SelectObject(dc, GetStockObject(NULL_BRUSH));
    Ellipse(dc, 150, 50, 190, 90);
    SelectObject(dc, oldFont);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    SelectPalette(dc, oldPalette, FALSE);
    HGDIOBJ made[] = {font, pen, hatch, pattern, solid, region, palette};
    for (HGDIOBJ object : made)
        DeleteObject(object);
}

// The 16-bit metafile alone; Placeable() makes it 200 x 100 pixels at 96 dpi.
static Bytes RecordRichWmf()
{
    HDC dc = CreateMetaFileA(0);
    SetMapMode(dc, MM_ANISOTROPIC);
    SetWindowOrgEx(dc, 0, 0, 0);
    SetWindowExtEx(dc, kRichWidth, kRichHeight, 0);
    DrawRich(dc);
    HMETAFILE mf = CloseMetaFile(dc);
    UINT size = GetMetaFileBitsEx(mf, 0, 0);
    Bytes bytes(size, '\0');
    GetMetaFileBitsEx(mf, size, &bytes[0]);
    DeleteMetaFile(mf);
    return bytes;
}

static Bytes RichWmf(const Bytes &metafile)
{
    return Placeable(metafile, 0, 0, kRichWidth, kRichHeight, 96);
}

static Bytes RecordRichEmf()
{
    HDC screen = GetDC(0);
    HDC dc = CreateEnhMetaFileA(screen, 0, 0, 0);
    ReleaseDC(0, screen);
    DrawRich(dc);
    HENHMETAFILE emf = CloseEnhMetaFile(dc);
    UINT size = GetEnhMetaFileBits(emf, 0, 0);
    Bytes b(size, '\0');
    GetEnhMetaFileBits(emf, size, (BYTE *)&b[0]);
    DeleteEnhMetaFile(emf);
    SetEmfBounds(b, 0, 0, kRichWidth, kRichHeight);
    Put32At(b, 24, 0);
    Put32At(b, 28, 0);
    Put32At(b, 32, kRichWidth * 10);
    Put32At(b, 36, kRichHeight * 10);
    Put32At(b, 72, 1000);
    Put32At(b, 76, 1000);
    Put32At(b, 80, 100);
    Put32At(b, 84, 100);
    return b;
}

// Offsets of the records of a function (WMF, from the start of the 16-bit
// metafile) or type (EMF), in file order.
static std::vector<size_t> WmfRecords(const Bytes &mf, uint16_t function)
{
    std::vector<size_t> found;
    for (size_t at = 2 * Le16(At(mf, 2)); at + 6 <= mf.size();) {
        uint32_t words = Le32(At(mf, at));
        if (words < 3)
            break;
        if (Le16(At(mf, at + 4)) == function)
            found.push_back(at);
        at += 2 * words;
    }
    return found;
}

static std::vector<size_t> EmfRecords(const Bytes &emf, uint32_t type)
{
    std::vector<size_t> found;
    for (size_t at = 0; at + 8 <= emf.size();) {
        uint32_t size = Le32(At(emf, at + 4));
        if (size < 8)
            break;
        if (Le32(At(emf, at)) == type)
            found.push_back(at);
        at += size;
    }
    return found;
}

// The first record of the kind, which the recording must hold.
static size_t FirstWmf(const Bytes &mf, uint16_t function)
{
    std::vector<size_t> found = WmfRecords(mf, function);
    return found.empty() ? 0 : found[0];
}

static size_t FirstEmf(const Bytes &emf, uint32_t type)
{
    std::vector<size_t> found = EmfRecords(emf, type);
    return found.empty() ? 0 : found[0];
}

// A WMF record of parameter words, put before the end record; the header's
// size and largest record follow.
static Bytes WmfRecord(uint16_t function, std::initializer_list<uint16_t> params)
{
    Bytes r(6 + 2 * params.size(), '\0');
    Put32(At(r, 0), 3 + (uint32_t)params.size());
    Put16(At(r, 4), function);
    size_t at = 6;
    for (uint16_t p : params) {
        Put16(At(r, at), p);
        at += 2;
    }
    return r;
}

static Bytes WithWmfRecords(Bytes mf, const Bytes &records)
{
    mf.insert(mf.size() - 6, records);
    Put32(At(mf, 6), (uint32_t)mf.size() / 2);
    Put32(At(mf, 12), 0x10000);
    return mf;
}

// A 16-bit metafile of just these records and an object table of `objects`.
static Bytes BareWmf(uint16_t objects, const Bytes &records)
{
    Bytes mf(18, '\0');
    Put16(At(mf, 0), 1);
    Put16(At(mf, 2), 9);
    Put16(At(mf, 4), 0x300);
    Put16(At(mf, 10), objects);
    mf += records + WmfRecord(0, {});
    Put32(At(mf, 6), (uint32_t)mf.size() / 2);
    Put32(At(mf, 12), 7);
    return mf;
}

static Bytes EmfRecord(uint32_t type, std::initializer_list<uint32_t> fields)
{
    Bytes r(8 + 4 * fields.size(), '\0');
    Put32(At(r, 0), type);
    Put32(At(r, 4), (uint32_t)r.size());
    size_t at = 8;
    for (uint32_t f : fields) {
        Put32(At(r, at), f);
        at += 4;
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

// The picture played by GDI straight, the way the reader plays it: on the
// window colour, into a screen-compatible bitmap, read back as 24 bits.
static void PlayDirect(CDibImage &out, HENHMETAFILE emf, int width, int height)
{
    HDC screen = GetDC(0);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HDC dc = CreateCompatibleDC(screen);
    ReleaseDC(0, screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all = {0, 0, width, height};
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &all, "", 0, 0);
    PlayEnhMetaFile(dc, emf, &all);
    SelectObject(dc, old);
    out.Create(width, height, 24, FORMAT_UNKNOWN);
    BITMAPINFOHEADER head;
    memcpy(&head, out.GetDIB(), sizeof head);
    GetDIBits(dc, bitmap, 0, (UINT)height, out.GetBits(), (BITMAPINFO *)&head, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(dc);
    DeleteEnhMetaFile(emf);
}

TEST(MetafileRecords, RichPicturesDecodeAsGdiPlaysThem)
{
    Bytes wmf = RecordRichWmf();
    const uint16_t wmfKinds[] = {META_CREATEPENINDIRECT, META_CREATEBRUSHINDIRECT,
                                 META_DIBCREATEPATTERNBRUSH, META_CREATEFONTINDIRECT,
                                 META_EXTTEXTOUT, META_POLYGON, META_POLYPOLYGON,
                                 META_POLYLINE, META_STRETCHDIB, META_CREATEPALETTE,
                                 META_SELECTPALETTE, META_CREATEREGION, META_FILLREGION,
                                 META_SELECTOBJECT, META_DELETEOBJECT};
    for (uint16_t kind : wmfKinds)
        EXPECT_FALSE(WmfRecords(wmf, kind).empty()) << std::hex << kind;
    CDibImage decoded, direct;
    ASSERT_TRUE(DecodeAt(decoded, RichWmf(wmf))) << decoded.GetLastError();
    HDC screen = GetDC(0);
    METAFILEPICT pict = {MM_ANISOTROPIC, 10000, 10000, 0};
    HENHMETAFILE converted =
        SetWinMetaFileBits((UINT)wmf.size(), (const BYTE *)wmf.data(), screen, &pict);
    ReleaseDC(0, screen);
    ASSERT_TRUE(converted != 0);
    PlayDirect(direct, converted, kRichWidth, kRichHeight);
    ExpectSamePixels(decoded, direct, "WMF");
    EXPECT_RED(decoded, 125, 90);   // the filled region
    EXPECT_BACK(decoded, 195, 95);

    Bytes emf = RecordRichEmf();
    const uint32_t emfKinds[] = {EMR_CREATEPEN, EMR_CREATEBRUSHINDIRECT,
                                 EMR_CREATEDIBPATTERNBRUSHPT, EMR_EXTCREATEFONTINDIRECTW,
                                 EMR_EXTTEXTOUTW, EMR_BITBLT, EMR_STRETCHBLT,
                                 EMR_STRETCHDIBITS, EMR_CREATEPALETTE, EMR_SELECTPALETTE,
                                 EMR_FILLRGN, EMR_SELECTOBJECT, EMR_DELETEOBJECT};
    for (uint32_t kind : emfKinds)
        EXPECT_FALSE(EmfRecords(emf, kind).empty()) << kind;
    ASSERT_TRUE(DecodeAt(decoded, emf)) << decoded.GetLastError();
    HENHMETAFILE handle = SetEnhMetaFileBits((UINT)emf.size(), (const BYTE *)emf.data());
    ASSERT_TRUE(handle != 0);
    PlayDirect(direct, handle, kRichWidth, kRichHeight);
    ExpectSamePixels(decoded, direct, "EMF");
    EXPECT_RED(decoded, 125, 90);
    EXPECT_BACK(decoded, 195, 95);
}

static void ExpectRefused(const Bytes &file, const char *what)
{
    CDibImage im;
    EXPECT_FALSE(DecodeAt(im, file)) << what;
    EXPECT_STREQ(im.GetLastError(), "corrupted WMF") << what;
}

static void ExpectAccepted(const Bytes &file, const char *what)
{
    CDibImage im;
    EXPECT_TRUE(DecodeAt(im, file)) << what << ": " << im.GetLastError();
}

// Object indices at or past the header's count, and more creations than it
// counts; index count - 1 and stock objects stay allowed.
TEST(MetafileRecords, ObjectIndicesOutsideTheTableAreRefused)
{
    Bytes wmf = RecordRichWmf();
    uint16_t objects = Le16(At(wmf, 10));
    ASSERT_GT(objects, 0);
    auto wmfWith = [&](const Bytes &records) { return RichWmf(WithWmfRecords(wmf, records)); };
    ExpectRefused(wmfWith(WmfRecord(META_SELECTOBJECT, {0xFF00})), "select 0xFF00");
    ExpectRefused(wmfWith(WmfRecord(META_DELETEOBJECT, {0xFF00})), "delete 0xFF00");
    ExpectRefused(wmfWith(WmfRecord(META_SELECTOBJECT, {objects})), "select the count");
    ExpectRefused(wmfWith(WmfRecord(META_FILLREGION, {0, objects})), "fill with the count");
    ExpectAccepted(wmfWith(WmfRecord(META_SELECTOBJECT, {(uint16_t)(objects - 1)})), "last slot");
    // Creations take the lowest free slot: a table of two holds two brushes,
    // a third only after a deletion.
    Bytes brush = WmfRecord(META_CREATEBRUSHINDIRECT, {BS_SOLID, 0xFF, 0, 0});
    Bytes freeFirst = WmfRecord(META_DELETEOBJECT, {0});
    ExpectAccepted(RichWmf(BareWmf(2, brush + brush)), "two brushes in two slots");
    ExpectRefused(RichWmf(BareWmf(2, brush + brush + brush)), "three brushes in two slots");
    ExpectAccepted(RichWmf(BareWmf(2, brush + brush + freeFirst + brush)), "a freed slot taken");
    ExpectRefused(RichWmf(BareWmf(2, brush + brush + freeFirst + brush + brush)),
                  "the freed slot taken twice");
    ExpectRefused(RichWmf(BareWmf(0, brush)), "a brush in no slot");

    Bytes emf = RecordRichEmf();
    uint32_t handles = Le16(At(emf, 56));
    ASSERT_GT(handles, 1u);
    auto emfWith = [&](const Bytes &records, uint32_t count) {
        return WithEmfRecords(emf, records, count);
    };
    const uint32_t stock = 0x80000000 | WHITE_BRUSH;
    ExpectRefused(emfWith(EmfRecord(EMR_SELECTOBJECT, {0x00FF0000}), 1), "select far");
    ExpectRefused(emfWith(EmfRecord(EMR_SELECTOBJECT, {handles}), 1), "select the count");
    ExpectRefused(emfWith(EmfRecord(EMR_DELETEOBJECT, {handles}), 1), "delete the count");
    ExpectRefused(emfWith(EmfRecord(EMR_DELETEOBJECT, {stock}), 1), "delete a stock object");
    ExpectRefused(emfWith(EmfRecord(EMR_CREATEBRUSHINDIRECT, {0x10000, BS_SOLID, 0xFF, 0}), 1),
                  "create far");
    ExpectRefused(emfWith(EmfRecord(EMR_CREATEBRUSHINDIRECT, {0, BS_SOLID, 0xFF, 0}), 1),
                  "create in the metafile's own slot");
    Bytes lastSlot = EmfRecord(EMR_CREATEBRUSHINDIRECT, {handles - 1, BS_SOLID, 0xFF, 0}) +
                     EmfRecord(EMR_SELECTOBJECT, {handles - 1}) +
                     EmfRecord(EMR_SELECTOBJECT, {stock}) +
                     EmfRecord(EMR_DELETEOBJECT, {handles - 1});
    ExpectAccepted(emfWith(lastSlot, 4), "last slot and a stock object");
}

// Bitmap headers and pixels, strings and spacing, point and polygon counts
// of GDI's own records, each stretched past its record by one field.
TEST(MetafileRecords, FieldsReachingPastTheirRecordAreRefused)
{
    Bytes wmf = RecordRichWmf();
    size_t dib = FirstWmf(wmf, META_STRETCHDIB), text = 0, polygon = FirstWmf(wmf, META_POLYGON);
    size_t polys = FirstWmf(wmf, META_POLYPOLYGON);
    for (size_t at : WmfRecords(wmf, META_EXTTEXTOUT))
        if (Le16(At(wmf, at + 6 + 4)) == 4)   // "Moon" with its spacing
            text = at;
    ASSERT_TRUE(dib && text && polygon && polys);
    uint32_t points = Le16(At(wmf, polygon + 6)), chars = Le16(At(wmf, text + 6 + 4));
    struct { size_t at; uint32_t value; bool wide; const char *what; } wmfCases[] = {
        {dib + 6 + 22 + 8, 800, true, "DIB taller than its pixels"},
        {dib + 6 + 22, 0x10000, true, "DIB header larger than the record"},
        {dib + 6 + 22 + 32, 0x4000000, true, "colour table beyond the record"},
        {text + 6 + 4, chars + 1, false, "one character more than the string"},
        {text + 6 + 4, 0x7FFF, false, "string far beyond the record"},
        {polygon + 6, points + 1, false, "one point more"},
        {polygon + 6, 0xFFFF, false, "points far beyond"},
        {polys + 6 + 2, 0x4000, false, "polygon points beyond"},
    };
    for (auto &c : wmfCases) {
        Bytes b = wmf;
        if (c.wide)
            Put32(At(b, c.at), c.value);
        else
            Put16(At(b, c.at), c.value);
        ExpectRefused(RichWmf(b), c.what);
    }

    Bytes emf = RecordRichEmf();
    size_t blit = FirstEmf(emf, EMR_BITBLT), stretch = FirstEmf(emf, EMR_STRETCHDIBITS);
    size_t wide = 0, lines = FirstEmf(emf, EMR_POLYGON16) ? FirstEmf(emf, EMR_POLYGON16)
                                                          : FirstEmf(emf, EMR_POLYGON);
    size_t polyPolygon = FirstEmf(emf, EMR_POLYPOLYGON16) ? FirstEmf(emf, EMR_POLYPOLYGON16)
                                                         : FirstEmf(emf, EMR_POLYPOLYGON);
    for (size_t at : EmfRecords(emf, EMR_EXTTEXTOUTW))
        if (Le32(At(emf, at + 44)) == 4)
            wide = at;
    ASSERT_TRUE(blit && stretch && wide && lines && polyPolygon);
    uint32_t blitBits = Le32(At(emf, blit + 92)), blitInfo = Le32(At(emf, blit + 84));
    struct { size_t at; uint32_t value; const char *what; } emfCases[] = {
        {blit + 92, blitBits + 240000000, "blit pixels 240 MB past the record"},
        {blit + 96, Le32(At(emf, blit + 96)) + 4, "blit pixels one word longer"},
        {blit + 88, Le32(At(emf, blit + 4)), "blit header size past the record"},
        {blit + blitInfo + 8, 1000, "blit bitmap taller than its pixels"},
        {blit + blitInfo + 14, 48, "blit bit count no GDI knows"},
        {stretch + Le32(At(emf, stretch + 48)), 0x10000, "DIB header larger than its size"},
        {stretch + Le32(At(emf, stretch + 48)) + 32, 256, "colour table past the header's size"},
        {stretch + 56, Le32(At(emf, stretch + 4)), "DIB pixels after the record"},
        {wide + 44, 0x40000000, "string far past the record"},
        {wide + 48, Le32(At(emf, wide + 4)) - 4, "string starting at the record's end"},
        {wide + 72, Le32(At(emf, wide + 4)) - 8, "spacing past the record"},
        {lines + 24, Le32(At(emf, lines + 24)) + 2, "two points more"},
        {lines + 24, 0x20000000, "points far beyond"},
        {polyPolygon + 32, Le32(At(emf, polyPolygon + 32)) + 1, "polygon counts beyond the points"},
        {polyPolygon + 28, 0x10000000, "point count beyond the record"},
    };
    for (auto &c : emfCases) {
        Bytes b = emf;
        Put32(At(b, c.at), c.value);
        ExpectRefused(b, c.what);
    }
    // Text without spacing (offset 0) is still read.
    Bytes b = emf;
    Put32(At(b, wide + 72), 0);
    ExpectAccepted(b, "text without spacing");
}

// An enhanced metafile carried in comments of a 16-bit one may be played
// instead of it, so it is walked as well.
TEST(MetafileRecords, EmbeddedEnhancedMetafileIsChecked)
{
    Bytes emf = RecordRichEmf();
    Bytes hostile = WithEmfRecords(emf, EmfRecord(EMR_SELECTOBJECT, {0x00FF0000}), 1);
    Bytes wmf = RecordRichWmf();
    const Bytes *inner[2] = {&emf, &hostile};
    for (int i = 0; i < 2; i++) {
        // Two comments, the second carrying the rest.
        const Bytes &e = *inner[i];
        size_t half = e.size() / 2;
        Bytes comments;
        for (size_t from = 0; from < e.size(); from += half) {
            size_t chunk = from == 0 ? half : e.size() - half;
            Bytes c(34, '\0');
            Put32(At(c, 0), 0x43464D57);   // "WMFC"
            Put32(At(c, 4), 1);
            Put32(At(c, 8), 0x10000);
            Put32(At(c, 18), 2);
            Put32(At(c, 22), (uint32_t)chunk);
            Put32(At(c, 26), (uint32_t)(e.size() - from - chunk));
            Put32(At(c, 30), (uint32_t)e.size());
            c += e.substr(from, chunk);
            if (c.size() % 2)
                c += '\0';
            Bytes r = WmfRecord(META_ESCAPE, {MFCOMMENT, (uint16_t)(34 + chunk)});
            Put32(At(r, 0), (uint32_t)(r.size() + c.size()) / 2);
            comments += r + c;
        }
        Bytes file = RichWmf(WithWmfRecords(wmf, comments));
        if (i == 0)
            ExpectAccepted(file, "sound embedded metafile");
        else
            ExpectRefused(file, "hostile embedded metafile");
    }
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
