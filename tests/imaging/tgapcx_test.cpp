// TGA and PCX codecs against ImageMagick's fixtures (make_tgapcx_fixtures.sh),
// ImageMagick reading our files, exact header and line layouts, and hostile
// or truncated input.
#include "imaging_testutil.h"
#include "../testutil.h"

#include <string.h>
#include <string>

static std::string Fixture(const std::string &name) { return ReadWhole("tgapcxfix\\" + name); }

static int Byte(const std::string &s, size_t at) { return (unsigned char)s[at]; }
static int Word(const std::string &s, size_t at) { return Byte(s, at) | Byte(s, at + 1) << 8; }

// ImageMagick widens 5-bit channels by scaling; the codec shifts them (v << 3).
static int Narrow5(int c) { return (c * 31 + 127) / 255 * 8; }

// ImageMagick takes a set bit of a 1-bit PCX for black, the codec for white.
static std::string Inverted(std::string rgb)
{
    for (char &c : rgb)
        c = (char)(255 - (unsigned char)c);
    return rgb;
}

// Pixels (top row first) differing from an RGB dump; -1 when the sizes differ.
static int CountMismatches(const CDibImage &im, const std::string &rgb, bool fiveBit = false)
{
    int w = im.GetWidth(), h = im.GetHeight(), bad = 0;
    if (rgb.size() != (size_t)w * h * 3)
        return -1;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            RGBQUAD c = im.GetPixelColor(x, h - 1 - y);
            const unsigned char *p = (const unsigned char *)rgb.data() + 3 * (y * w + x);
            int r = p[0], g = p[1], b = p[2];
            if (fiveBit) {
                r = Narrow5(r);
                g = Narrow5(g);
                b = Narrow5(b);
            }
            if (c.rgbRed != r || c.rgbGreen != g || c.rgbBlue != b)
                bad++;
        }
    return bad;
}

static int CountDifferences(const CDibImage &a, const CDibImage &b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight())
        return -1;
    int bad = 0;
    for (int y = 0; y < a.GetHeight(); y++)
        for (int x = 0; x < a.GetWidth(); x++)
            if (!SameColor(a.GetPixelColor(x, y), b.GetPixelColor(x, y)))
                bad++;
    return bad;
}

// A test picture of the given depth with a palette whose entries differ.
static void MakePicture(CDibImage &im, int w, int h, int bpp)
{
    ASSERT_TRUE(im.Create(w, h, bpp));
    for (int i = 0; i < im.GetNumColors(); i++)
        im.SetPaletteColor(i, (uint8_t)(i * 37), (uint8_t)(255 - i * 11), (uint8_t)(i * 5 + 3));
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            if (bpp == 24)
                im.SetPixelColor(x, y, Bgr((x * 7 + y) & 255, (y * 13) & 255, x < w / 2 ? 200 : 201));
            else
                im.SetPixelIndex(x, y, (uint8_t)(x / 3 + y * 5));
        }
}

// ---- TGA ----

struct TgaCase {
    const char *name, *reference;
    int bpp;
};

static const TgaCase kTgaCases[] = {
    {"t24", "t24", 24},     {"t24tl", "t24tl", 24},  {"t24r", "t24", 24},   {"t32", "t32", 24},
    {"t32r", "t32", 24},    {"t8", "t8", 8},       {"t8r", "t8", 8},      {"g8", "g8", 8},
    {"g8r", "g8", 8},       {"t16", "t16", 24},    {"t16r", "t16", 24},   {"t8m16", "t8m16", 8},
    {"tp24x", "tp24", 24},  {"tp16x", "tp16x", 24}, {"tp24rtl", "tp24", 24},
    {"tp24tb", "tp24", 24},
};

TEST(TgaDecode, EveryFixtureMatchesImageMagick)
{
    for (const TgaCase &c : kTgaCases) {
        CDibImage im;
        ASSERT_TRUE(DecodeBytes(im, Fixture(std::string(c.name) + ".tga"), FORMAT_TGA))
            << c.name << ": " << im.GetLastError();
        EXPECT_EQ(im.GetType(), FORMAT_TGA) << c.name;
        EXPECT_EQ(im.GetWidth(), 37) << c.name;
        EXPECT_EQ(im.GetHeight(), 23) << c.name;
        EXPECT_EQ(im.GetBpp(), c.bpp) << c.name;
        bool fiveBit = strstr(c.name, "16") != 0;
        EXPECT_EQ(CountMismatches(im, Fixture(std::string(c.reference) + ".rgb"), fiveBit), 0)
            << c.name;
    }
}

TEST(TgaDecode, GreyGetsAGreyPaletteAndTryAllFindsIt)
{
    CDibImage im;
    ASSERT_TRUE(DecodeBytes(im, Fixture("g8r.tga"), FORMAT_UNKNOWN)) << im.GetLastError();
    EXPECT_EQ(im.GetType(), FORMAT_TGA);
    EXPECT_TRUE(im.IsGrayScale());
}

static std::string TgaHeader(int type, int w, int h, int depth, int descriptor = 0, int mapType = 0,
                             int mapLength = 0, int entrySize = 0)
{
    unsigned char raw[18] = {0, (unsigned char)mapType, (unsigned char)type};
    raw[5] = (unsigned char)mapLength;
    raw[6] = (unsigned char)(mapLength >> 8);
    raw[7] = (unsigned char)entrySize;
    raw[12] = (unsigned char)w;
    raw[13] = (unsigned char)(w >> 8);
    raw[14] = (unsigned char)h;
    raw[15] = (unsigned char)(h >> 8);
    raw[16] = (unsigned char)depth;
    raw[17] = (unsigned char)descriptor;
    return std::string((const char *)raw, 18);
}

TEST(TgaDecode, SixteenBitPixels)
{
    std::string file = TgaHeader(2, 2, 1, 16) + std::string("\xff\x7f\x1f\x00", 4);
    CDibImage im;
    ASSERT_TRUE(DecodeBytes(im, file, FORMAT_TGA)) << im.GetLastError();
    EXPECT_COLOR(im.GetPixelColor(0, 0), 248, 248, 248);
    EXPECT_COLOR(im.GetPixelColor(1, 0), 248, 0, 0);
    // Grey with alpha: the grey byte is kept, not read as 5-5-5 colour.
    CDibImage grey;
    ASSERT_TRUE(DecodeBytes(grey, TgaHeader(3, 1, 1, 16) + std::string("\x80\xff", 2), FORMAT_TGA));
    EXPECT_COLOR(grey.GetPixelColor(0, 0), 128, 128, 128);
}

// A run split by the row end continues, with the same value, on the next row;
// a raw packet likewise. Top-to-bottom puts file row 0 at the top.
TEST(TgaDecode, PacketsCarryOverRowEnds)
{
    std::string file = TgaHeader(11, 3, 3, 8, 0x20) + std::string("\x84\x07\x03\x01\x02\x03\x04", 7);
    CDibImage im;
    ASSERT_TRUE(DecodeBytes(im, file, FORMAT_TGA)) << im.GetLastError();
    int want[3][3] = {{7, 7, 7}, {7, 7, 1}, {2, 3, 4}};
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 3; x++)
            EXPECT_EQ(im.GetPixelIndex(x, 2 - y), want[y][x]) << x << "," << y;
}

TEST(TgaDecode, HeaderErrorsAndEscape)
{
    struct { std::string file; const char *error; } cases[] = {
        {std::string("\0\0\2", 3), "Not a TGA"},   // short: no padding follows
        {TgaHeader(4, 2, 2, 24), "Unknown TGA image type"},
        {TgaHeader(2, 0, 2, 24), "bad TGA header"},
        {TgaHeader(2, 2, 2, 12), "bad TGA header"},
        {TgaHeader(1, 2, 2, 8, 0, 1, 257, 24), "bad TGA header"},
        {TgaHeader(2, 2, 2, 24, 0, 5), "bad TGA header"},
    };
    for (auto &c : cases) {
        CDibImage im;
        std::string padding(c.file.size() < 18 ? 0 : 64, '\0');
        EXPECT_FALSE(DecodeBytes(im, c.file + padding, FORMAT_TGA)) << c.error;
        EXPECT_STREQ(im.GetLastError(), c.error);
        EXPECT_FALSE(im.IsValid());
    }
    CDibImage size;
    size.SetEscape(-1);
    ASSERT_TRUE(DecodeBytes(size, TgaHeader(2, 640, 480, 24), FORMAT_TGA));
    EXPECT_EQ(size.GetWidth(), 640);
    EXPECT_EQ(size.GetHeight(), 480);
    EXPECT_EQ(size.GetType(), FORMAT_TGA);
    CDibImage cancelled;
    cancelled.SetEscape(1);
    EXPECT_FALSE(DecodeBytes(cancelled, Fixture("t24.tga"), FORMAT_TGA));
    EXPECT_STREQ(cancelled.GetLastError(), "Cancelled");
}

// Every prefix of a file fails cleanly; so do runs and sizes beyond the data.
TEST(TgaDecode, TruncatedAndHostileFilesFailCleanly)
{
    const char *names[] = {"t24r.tga", "t8.tga", "tp16x.tga"};
    for (const char *name : names) {
        std::string file = Fixture(name);
        for (size_t n = 1; n < file.size(); n += (n < 900 ? 1 : 7)) {
            CDibImage im;
            ASSERT_FALSE(DecodeBytes(im, file.substr(0, n), FORMAT_TGA)) << name << " " << n;
            ASSERT_FALSE(im.IsValid());
        }
    }
    CDibImage run;
    EXPECT_FALSE(DecodeBytes(run, TgaHeader(10, 4, 4, 24) + std::string("\xff\x01\x02", 3), FORMAT_TGA));
    EXPECT_STREQ(run.GetLastError(), "corrupted TGA");
    CDibImage huge;
    EXPECT_FALSE(DecodeBytes(huge, TgaHeader(2, 65535, 65535, 32) + std::string(100, '\0'), FORMAT_TGA));
    EXPECT_STREQ(huge.GetLastError(), "corrupted TGA");
    CDibImage hugeRle;
    EXPECT_FALSE(DecodeBytes(hugeRle, TgaHeader(10, 65535, 65535, 24) + std::string(100, '\xff'), FORMAT_TGA));
    EXPECT_FALSE(hugeRle.IsValid());
}

TEST(TgaEncode, HeadersAndLayout)
{
    CDibImage four;
    MakePicture(four, 5, 3, 4);
    EXPECT_EQ(EncodeToBytes(four, FORMAT_TGA), "");
    EXPECT_STREQ(four.GetLastError(), "Bit depth must be 8 or 24");

    CDibImage eight;
    MakePicture(eight, 5, 3, 8);
    std::string t = EncodeToBytes(eight, FORMAT_TGA);
    ASSERT_EQ(t.size(), 18u + 768 + 15);
    EXPECT_EQ(t.substr(0, 18), TgaHeader(1, 5, 3, 8, 0, 1, 256, 24));
    RGBQUAD c = eight.GetPaletteColor(9);
    EXPECT_EQ(Byte(t, 18 + 27), c.rgbBlue);
    EXPECT_EQ(Byte(t, 18 + 28), c.rgbGreen);
    EXPECT_EQ(Byte(t, 18 + 29), c.rgbRed);
    EXPECT_EQ(Byte(t, 18 + 768 + 6), eight.GetPixelIndex(1, 1));   // rows bottom first, unpadded

    CDibImage rgb;
    MakePicture(rgb, 5, 3, 24);
    t = EncodeToBytes(rgb, FORMAT_TGA);
    ASSERT_EQ(t.size(), 18u + 45);
    EXPECT_EQ(t.substr(0, 18), TgaHeader(2, 5, 3, 24));
    EXPECT_EQ(Byte(t, 18 + 15 + 3 + 2), rgb.GetPixelColor(1, 1).rgbRed);
}

TEST(TgaEncode, FixturesReadBackEqual)
{
    const char *names[] = {"t24", "t8", "g8"};
    for (const char *name : names) {
        CDibImage im, back;
        ASSERT_TRUE(DecodeBytes(im, Fixture(std::string(name) + ".tga"), FORMAT_TGA));
        std::string t = EncodeToBytes(im, FORMAT_TGA);
        ASSERT_TRUE(DecodeBytes(back, t, FORMAT_TGA)) << name << ": " << back.GetLastError();
        EXPECT_EQ(back.GetBpp(), im.GetBpp()) << name;
        EXPECT_EQ(CountDifferences(im, back), 0) << name;
    }
}

// ---- PCX ----

struct PcxCase {
    const char *name;
    int bpp;
};

static const PcxCase kPcxCases[] = {
    {"p1", 1}, {"p4", 4}, {"p8", 8}, {"p16", 8}, {"p24", 24}, {"p32", 24},
};

TEST(PcxDecode, EveryFixtureMatchesImageMagick)
{
    for (const PcxCase &c : kPcxCases) {
        CDibImage im;
        ASSERT_TRUE(DecodeBytes(im, Fixture(std::string(c.name) + ".pcx"), FORMAT_PCX))
            << c.name << ": " << im.GetLastError();
        EXPECT_EQ(im.GetType(), FORMAT_PCX) << c.name;
        EXPECT_EQ(im.GetBpp(), c.bpp) << c.name;
        std::string reference = Fixture(std::string(c.name) + ".rgb");
        EXPECT_EQ(CountMismatches(im, c.bpp == 1 ? Inverted(reference) : reference), 0) << c.name;
    }
}

TEST(PcxDecode, FourPlanesUseTheHeaderColours)
{
    std::string file = Fixture("p4.pcx");
    CDibImage im;
    ASSERT_TRUE(DecodeBytes(im, file, FORMAT_UNKNOWN)) << im.GetLastError();
    EXPECT_EQ(im.GetType(), FORMAT_PCX);   // not mistaken for a TGA by the try-all pass
    ASSERT_EQ(im.GetNumColors(), 16);
    for (int i = 0; i < 16; i++)
        EXPECT_COLOR(im.GetPaletteColor(i), Byte(file, 16 + 3 * i + 2), Byte(file, 16 + 3 * i + 1),
                     Byte(file, 16 + 3 * i));
    EXPECT_EQ(im.GetXDPI(), Word(file, 12) ? Word(file, 12) : 96);
}

static std::string PcxHeader(int bits, int planes, int bpl, int w, int h)
{
    std::string raw(128, '\0');
    raw[0] = 10;
    raw[1] = 5;
    raw[2] = 1;
    raw[3] = (char)bits;
    raw[8] = (char)(w - 1);
    raw[9] = (char)((w - 1) >> 8);
    raw[10] = (char)(h - 1);
    raw[11] = (char)((h - 1) >> 8);
    raw[65] = (char)planes;
    raw[66] = (char)bpl;
    raw[67] = (char)(bpl >> 8);
    return raw;
}

TEST(PcxDecode, ThreePlanesGiveRedFirst)
{
    std::string file = PcxHeader(8, 3, 2, 2, 1) + std::string("\x0a\x0b\x14\x15\x1e\x1f", 6);
    CDibImage im;
    ASSERT_TRUE(DecodeBytes(im, file, FORMAT_PCX)) << im.GetLastError();
    EXPECT_EQ(im.GetBpp(), 24);
    EXPECT_COLOR(im.GetPixelColor(0, 0), 0x1e, 0x14, 0x0a);
    EXPECT_COLOR(im.GetPixelColor(1, 0), 0x1f, 0x15, 0x0b);
}

// Bytes per line fewer than the width: the missing pixels come out as 0.
TEST(PcxDecode, ShortLinesStayInsideTheData)
{
    std::string file = PcxHeader(8, 1, 2, 40, 2) + std::string("\x05\x06\x07\x08\x0c", 5) +
                       std::string(768, '\x40');
    CDibImage im;
    ASSERT_TRUE(DecodeBytes(im, file, FORMAT_PCX)) << im.GetLastError();
    EXPECT_EQ(im.GetPixelIndex(1, 1), 6);
    EXPECT_EQ(im.GetPixelIndex(0, 0), 7);
    EXPECT_EQ(im.GetPixelIndex(39, 0), 0);
}

TEST(PcxDecode, HeaderAndDataErrors)
{
    std::string p8 = Fixture("p8.pcx"), badMark = p8;
    badMark[badMark.size() - 769] = 13;
    std::string notPcx = p8, noRle = p8, fivePlanes = PcxHeader(1, 5, 2, 8, 8) + std::string(200, '\0');
    notPcx[0] = 11;
    noRle[2] = 0;
    struct { std::string file; const char *error; } cases[] = {
        {p8.substr(0, 127), "Can't read PCX image"},
        {notPcx, "Error: Not a PCX file"},
        {noRle, "PCX file has unknown encoding scheme"},
        {fivePlanes, "Can't handle image with more than 4 planes"},
        {badMark, "bad color map signature"},
        {PcxHeader(8, 1, 4, 4, 1) + "\x01\xc5\x02", "repeat count spans end of image"},
        {PcxHeader(8, 1, 4, 4, 1) + "\x01\x02", "corrupted PCX"},
        {PcxHeader(2, 2, 2, 4, 1) + std::string(8, '\0'),
         "PCX_PlanesToPixels: more than 4 planes or more than 1 bit per pixel"},
    };
    for (auto &c : cases) {
        CDibImage im;
        EXPECT_FALSE(DecodeBytes(im, c.file, FORMAT_PCX)) << c.error;
        EXPECT_STREQ(im.GetLastError(), c.error);
        EXPECT_FALSE(im.IsValid()) << c.error;
    }
    CDibImage size;
    size.SetEscape(-1);
    ASSERT_TRUE(DecodeBytes(size, PcxHeader(8, 1, 320, 320, 200), FORMAT_PCX));
    EXPECT_EQ(size.GetWidth(), 320);
    EXPECT_EQ(size.GetHeight(), 200);
}

TEST(PcxDecode, TruncatedAndHugeFilesFailCleanly)
{
    // ImageMagick follows a 1-bit file with a palette the codec does not read.
    struct { const char *name; size_t tail; } files[] = {{"p1.pcx", 769}, {"p4.pcx", 0}, {"p24.pcx", 0}};
    for (auto &f : files) {
        const char *name = f.name;
        std::string file = Fixture(name);
        for (size_t n = 1; n < file.size() - f.tail; n += (n < 900 ? 1 : 5)) {
            CDibImage im;
            ASSERT_FALSE(DecodeBytes(im, file.substr(0, n), FORMAT_PCX)) << name << " " << n;
            ASSERT_FALSE(im.IsValid());
        }
    }
    CDibImage huge;
    EXPECT_FALSE(DecodeBytes(huge, PcxHeader(8, 3, 65535, 65535, 65535) + std::string(4000, '\xff'),
                             FORMAT_PCX));
    EXPECT_STREQ(huge.GetLastError(), "corrupted PCX");
}

// The unpacked plane lines of an encoded file.
static std::string UnpackPcx(const std::string &file)
{
    std::string data;
    for (size_t at = 128; at < file.size();) {
        int c = Byte(file, at++);
        if (c >= 0xC0 && at < file.size())
            data.append((size_t)(c & 0x3F), file[at++]);
        else
            data += (char)c;
    }
    return data;
}

TEST(PcxEncode, OddWidthLinesArePaddedWithZero)
{
    CDibImage im;
    MakePicture(im, 5, 2, 8);
    std::string p = EncodeToBytes(im, FORMAT_PCX);
    ASSERT_GT(p.size(), 128u + 769);
    EXPECT_EQ(Byte(p, 0), 10);
    EXPECT_EQ(Byte(p, 1), 5);
    EXPECT_EQ(Byte(p, 3), 8);
    EXPECT_EQ(Word(p, 8), 4);
    EXPECT_EQ(Word(p, 10), 1);
    EXPECT_EQ(Byte(p, 65), 1);
    EXPECT_EQ(Word(p, 66), 6);
    EXPECT_EQ(Word(p, 68), 0);
    EXPECT_EQ(Byte(p, p.size() - 769), 12);
    std::string data = UnpackPcx(p.substr(0, p.size() - 769));
    ASSERT_EQ(data.size(), 12u);
    for (int x = 0; x < 5; x++)
        EXPECT_EQ(Byte(data, x), im.GetPixelIndex(x, 1));   // top row first
    EXPECT_EQ(Byte(data, 5), 0);
    EXPECT_EQ(Byte(data, 11), 0);
}

TEST(PcxEncode, WhiteBlackPaletteIsWrittenInverted)
{
    CDibImage im, back;
    MakePicture(im, 11, 4, 1);
    im.SetPaletteColor(0, 255, 255, 255);
    im.SetPaletteColor(1, 0, 0, 0);
    std::string p = EncodeToBytes(im, FORMAT_PCX);
    EXPECT_EQ(p.substr(16, 6), std::string("\0\0\0\xff\xff\xff", 6));
    ASSERT_TRUE(DecodeBytes(back, p, FORMAT_PCX)) << back.GetLastError();
    EXPECT_COLOR(back.GetPaletteColor(0), 0, 0, 0);
    EXPECT_EQ(CountDifferences(im, back), 0);
}

TEST(PcxEncode, EveryDepthReadsBackEqual)
{
    int depths[] = {1, 4, 8, 24};
    for (int bpp : depths) {
        CDibImage im, back;
        MakePicture(im, 37, 9, bpp);
        if (bpp == 1) {
            im.SetPaletteColor(0, 0, 0, 0);
            im.SetPaletteColor(1, 255, 255, 255);
        }
        im.SetXDPI(150);
        std::string p = EncodeToBytes(im, FORMAT_PCX);
        ASSERT_TRUE(DecodeBytes(back, p, FORMAT_PCX)) << bpp << ": " << back.GetLastError();
        EXPECT_EQ(back.GetBpp(), bpp);
        EXPECT_EQ(back.GetXDPI(), 150);
        EXPECT_EQ(CountDifferences(im, back), 0) << bpp;
    }
}

// ---- ImageMagick reads what we write ----

TEST(Interop, ImageMagickReadsOurFiles)
{
    struct { const char *source, *out; int format; } cases[] = {
        {"t24.tga", "t24", FORMAT_TGA}, {"t8.tga", "t8", FORMAT_TGA}, {"g8.tga", "g8", FORMAT_TGA},
        {"p1.pcx", "p1", FORMAT_PCX},   {"p4.pcx", "p4", FORMAT_PCX}, {"p8.pcx", "p8", FORMAT_PCX},
        {"p24.pcx", "p24", FORMAT_PCX},
    };
    std::string folder = "tgapcxout";
    RemoveTree(folder);
    CreateDirectoryA(folder.c_str(), 0);
    std::string body;
    for (auto &c : cases) {
        CDibImage im;
        ASSERT_TRUE(DecodeBytes(im, Fixture(c.source), c.format)) << c.source;
        std::string file = std::string(c.out) + (c.format == FORMAT_TGA ? ".tga" : ".pcx");
        WriteWhole(folder + "\\" + file, EncodeToBytes(im, c.format));
        body += "convert " + file + " -auto-orient -alpha off -depth 8 rgb:" + c.out + ".rgb || echo BAD\n";
    }
    std::string report;
    int run = RunHostScript(folder, body, &report);
    VT_REQUIRE_OR_SKIP(run != 1, "no host shell");
    ASSERT_EQ(run, 0);
    EXPECT_EQ(report.find("BAD"), std::string::npos) << report;
    for (auto &c : cases) {
        CDibImage im;
        ASSERT_TRUE(DecodeBytes(im, Fixture(c.source), c.format));
        std::string rgb = ReadWhole(folder + "\\" + c.out + ".rgb");
        EXPECT_EQ(CountMismatches(im, im.GetBpp() == 1 ? Inverted(rgb) : rgb), 0) << c.out;
    }
}
