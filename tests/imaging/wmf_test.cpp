// Metafile reader: placeable WMFs and EMFs recorded here with GDI, decoded
// and checked by size and pixels; damaged, truncated and empty headers;
// forced sizes, the size limit, the escape and the try-all dispatch.
#include "imaging_testutil.h"
#include "../../imaging/wmfcodec.h"
#include "../../framework/bytes.h"

#include <string.h>
#include <string>

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
