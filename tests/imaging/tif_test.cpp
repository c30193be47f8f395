// TIFF codec against ImageMagick's fixtures, files made here with libtiff,
// and ImageMagick reading our files back.
#include "imaging_testutil.h"
#include "../testutil.h"

#include <tiffio.h>
#include <stdlib.h>
#include <string.h>
#include <functional>
#include <string>

static bool DecodeString(CDibImage &im, const std::string &bytes)
{
    return DecodeBytes(im, bytes, FORMAT_TIF);
}

static std::string FixturePath(const std::string &name) { return "tiffix\\" + name + ".tif"; }

static bool Is16Bit(const std::string &name) { return name.find("16") != std::string::npos; }

// ImageMagick's upright RGB of a fixture, 8 bits a sample.
static std::string ReferenceRgb(const std::string &name)
{
    if (name == "rgba") {
        // libtiff's RGBA reader premultiplies unassociated alpha.
        std::string rgba = ReadWhole("tiffix\\rgba.rgba"), rgb;
        for (size_t i = 0; i + 3 < rgba.size(); i += 4) {
            unsigned a = (unsigned char)rgba[i + 3];
            for (int c = 0; c < 3; c++)
                rgb += (char)(((unsigned char)rgba[i + c] * a + 127) / 255);
        }
        return rgb;
    }
    if (!Is16Bit(name))
        return ReadWhole("tiffix\\" + name + ".rgb");
    std::string wide = ReadWhole("tiffix\\" + name + ".rgb16"), narrow;
    for (size_t i = 0; i + 1 < wide.size(); i += 2)
        narrow += wide[i];
    return narrow;
}

// Largest channel difference from the reference, or -1 when sizes differ.
static int MaxDifference(const CDibImage &im, const std::string &ref)
{
    int w = im.GetWidth(), h = im.GetHeight(), worst = 0;
    if (ref.size() != (size_t)w * h * 3)
        return -1;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            RGBQUAD c = im.GetPixelColor(x, h - 1 - y);
            const unsigned char *p = (const unsigned char *)ref.data() + 3 * (y * w + x);
            int d[3] = {abs(c.rgbRed - p[0]), abs(c.rgbGreen - p[1]), abs(c.rgbBlue - p[2])};
            for (int v : d)
                worst = v > worst ? v : worst;
        }
    return worst;
}

static bool LoadFixture(CDibImage &im, const std::string &name)
{
    return im.Load(FixturePath(name).c_str(), FORMAT_TIF);
}

// A file made with libtiff: geometry, then `tags` adds fields, then rows.
struct Crafted {
    uint32_t width = 4, height = 3;
    uint16_t samples = 1, bits = 8, photometric = PHOTOMETRIC_MINISBLACK;
    std::function<void(TIFF *)> tags;
    std::string pixels;   // top row first, packed rows
};

static std::string Craft(const Crafted &c)
{
    const char *path = "crafted.tif";
    TIFF *tif = TIFFOpen(path, "w");
    if (!tif)
        return "";
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, c.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, c.height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, c.samples);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, c.bits);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, c.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1);
    if (c.tags)
        c.tags(tif);
    size_t row = ((size_t)c.width * c.samples * c.bits + 7) / 8;
    std::string pixels = c.pixels;
    pixels.resize(row * c.height);
    for (uint32_t y = 0; y < c.height; y++)
        TIFFWriteScanline(tif, &pixels[y * row], y, 0);
    TIFFClose(tif);
    return ReadWhole(path);
}

// Tags of an encoded file, read back with libtiff.
struct WrittenTags {
    uint16_t photometric = 0, compression = 0, predictor = 0, bits = 0, samples = 0;
    uint32_t rowsPerStrip = 0;
    float xRes = 0, yRes = 0;
    bool hasColorMap = false;
    uint16_t mapRed[256] = {}, mapGreen[256] = {}, mapBlue[256] = {};
};

static bool ReadWrittenTags(const std::string &bytes, WrittenTags *t)
{
    WriteWhole("written.tif", bytes);
    TIFF *tif = TIFFOpen("written.tif", "r");
    if (!tif)
        return false;
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &t->photometric);
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &t->compression);
    TIFFGetField(tif, TIFFTAG_PREDICTOR, &t->predictor);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &t->bits);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &t->samples);
    TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &t->rowsPerStrip);
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &t->xRes);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &t->yRes);
    uint16_t *r, *g, *b;
    t->hasColorMap = TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) != 0;
    if (t->hasColorMap) {
        int n = 1 << (t->bits < 8 ? t->bits : 8);
        memcpy(t->mapRed, r, 2 * n);
        memcpy(t->mapGreen, g, 2 * n);
        memcpy(t->mapBlue, b, 2 * n);
    }
    TIFFClose(tif);
    return true;
}

// ---------------------------------------------------------------- decode

struct FixtureCase {
    const char *name;
    int bpp;
    int tolerance;
};

static const FixtureCase kFixtures[] = {
    {"bw_white", 1, 0}, {"bw_black", 1, 0}, {"bw_g4", 1, 0}, {"grey2", 8, 0},
    {"grey4", 4, 0}, {"grey8", 8, 0}, {"grey8_white", 8, 0}, {"pal4", 4, 0},
    {"pal8", 8, 0}, {"rgb", 24, 0}, {"rgba", 24, 0}, {"rgb_lzw", 24, 0},
    {"rgb_zip", 24, 0}, {"grey_packbits", 8, 0}, {"rgb_jpeg", 24, 12},
    {"grey_jpeg", 8, 3}, {"rgb_tiled", 24, 0}, {"grey_tiled", 8, 0},
    {"pal8_tiled", 8, 0}, {"grey16_tiled", 8, 0}, {"rgb16", 24, 1}, {"lab", 24, 4},
    {"grey_orient2", 8, 0}, {"grey_orient3", 8, 0}, {"grey_orient4", 8, 0},
    {"grey_orient5", 8, 0}, {"grey_orient6", 8, 0}, {"grey_orient7", 8, 0},
    {"grey_orient8", 8, 0}, {"rgb_orient3", 24, 0}, {"rgb_orient6", 24, 0},
};

TEST(TifDecode, EveryFixtureMatchesImageMagick)
{
    for (const FixtureCase &f : kFixtures) {
        CDibImage im;
        ASSERT_TRUE(LoadFixture(im, f.name)) << f.name << ": " << im.GetLastError();
        EXPECT_EQ(im.GetType(), FORMAT_TIF) << f.name;
        EXPECT_EQ(im.GetBpp(), f.bpp) << f.name;
        EXPECT_EQ(im.GetNumFrames(), 1) << f.name;
        int diff = MaxDifference(im, ReferenceRgb(f.name));
        EXPECT_GE(diff, 0) << f.name << " size " << im.GetWidth() << "x" << im.GetHeight();
        EXPECT_LE(diff, f.tolerance) << f.name;
    }
}

TEST(TifDecode, BilevelPalettesFollowPhotometric)
{
    CDibImage white, black;
    ASSERT_TRUE(LoadFixture(white, "bw_white"));
    EXPECT_COLOR(white.GetPaletteColor(0), 255, 255, 255);
    EXPECT_COLOR(white.GetPaletteColor(1), 0, 0, 0);
    ASSERT_TRUE(LoadFixture(black, "bw_black"));
    EXPECT_COLOR(black.GetPaletteColor(0), 0, 0, 0);
    EXPECT_COLOR(black.GetPaletteColor(1), 255, 255, 255);
}

TEST(TifDecode, GreyPalettesStepEvenly)
{
    CDibImage grey4, grey2, white8;
    ASSERT_TRUE(LoadFixture(grey4, "grey4"));
    ASSERT_EQ(grey4.GetNumColors(), 16);
    for (int i = 0; i < 16; i++)
        EXPECT_COLOR(grey4.GetPaletteColor(i), 17 * i, 17 * i, 17 * i);
    ASSERT_TRUE(LoadFixture(grey2, "grey2"));
    for (int i = 0; i < 4; i++)
        EXPECT_COLOR(grey2.GetPaletteColor(i), 85 * i, 85 * i, 85 * i);
    ASSERT_TRUE(LoadFixture(white8, "grey8_white"));
    EXPECT_COLOR(white8.GetPaletteColor(0), 255, 255, 255);
    EXPECT_COLOR(white8.GetPaletteColor(255), 0, 0, 0);
}

TEST(TifDecode, NarrowColourMapUsesLowBytes)
{
    Crafted c;
    c.photometric = PHOTOMETRIC_PALETTE;
    c.tags = [](TIFF *tif) {
        static uint16_t r[256], g[256], b[256];
        for (int i = 0; i < 256; i++) {
            r[i] = (uint16_t)i;
            g[i] = (uint16_t)(255 - i);
            b[i] = (uint16_t)(i / 2);
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, r, g, b);
    };
    c.pixels = std::string("\x00\x10\x20\x30\x40\x50\x60\x70\x80\x90\xA0\xFF", 12);
    CDibImage im;
    ASSERT_TRUE(DecodeString(im, Craft(c))) << im.GetLastError();
    EXPECT_COLOR(im.GetPaletteColor(0x40), 0x20, 0xBF, 0x40);
    EXPECT_COLOR(im.GetPixelColor(3, 0), 0x7F, 0x00, 0xFF);   // bottom-right pixel
}

TEST(TifDecode, SixteenBitIndicesUseTheBigPalette)
{
    Crafted c;
    c.photometric = PHOTOMETRIC_PALETTE;
    c.bits = 16;
    c.width = 3;
    c.height = 1;
    c.tags = [](TIFF *tif) {
        static uint16_t r[65536], g[65536], b[65536];
        r[1000] = 65535;
        g[1000] = 0;
        b[1000] = 32896;
        g[65535] = 65535;
        TIFFSetField(tif, TIFFTAG_COLORMAP, r, g, b);
    };
    uint16_t indices[3] = {1000, 65535, 7};
    c.pixels.assign((const char *)indices, sizeof indices);
    CDibImage im;
    ASSERT_TRUE(DecodeString(im, Craft(c))) << im.GetLastError();
    EXPECT_EQ(im.GetBpp(), 24);
    EXPECT_COLOR(im.GetPixelColor(0, 0), 128, 0, 255);
    EXPECT_COLOR(im.GetPixelColor(1, 0), 0, 255, 0);
    EXPECT_COLOR(im.GetPixelColor(2, 0), 0, 0, 0);
}

// Reference samples: 16-bit values kept as the 8 bits below the highest
// bit set anywhere in the picture.
TEST(TifDecode, SixteenBitGreyKeepsItsSignificantBits)
{
    for (const char *name : {"grey16", "grey12"}) {
        std::string wide = ReadWhole(std::string("tiffix\\") + name + ".rgb16");
        ASSERT_EQ(wide.size(), 37u * 23 * 6) << name;
        unsigned top = 0;
        for (size_t i = 0; i < wide.size(); i += 6)
            top |= (unsigned char)wide[i];
        int shift = 8;
        if (top)
            for (shift = 0; !((top << shift) & 0x80); shift++) {
            }
        CDibImage im;
        ASSERT_TRUE(LoadFixture(im, name)) << name;
        ASSERT_EQ(im.GetBpp(), 8);
        int mismatches = 0;
        for (int y = 0; y < 23; y++)
            for (int x = 0; x < 37; x++) {
                const unsigned char *p = (const unsigned char *)wide.data() + 6 * (y * 37 + x);
                unsigned v = p[0] << 8 | p[1];
                if (im.GetPixelGray(x, 22 - y) != ((v >> (8 - shift)) & 0xFF))
                    mismatches++;
            }
        EXPECT_EQ(mismatches, 0) << name;
    }
    CDibImage twelve;
    ASSERT_TRUE(LoadFixture(twelve, "grey12"));
    EXPECT_EQ(twelve.GetPixelIndex(5, 22), 255);   // the 0x0FFF sample
}

TEST(TifDecode, PagesAreChosenByFrameIndex)
{
    struct { int w, h; } sizes[] = {{37, 23}, {20, 10}, {15, 31}};
    for (int page = 0; page < 3; page++) {
        CDibImage im;
        im.info.frameIndex = page;
        ASSERT_TRUE(LoadFixture(im, "multi")) << page << ": " << im.GetLastError();
        EXPECT_EQ(im.GetNumFrames(), 3);
        EXPECT_EQ(im.GetWidth(), sizes[page].w);
        EXPECT_EQ(im.GetHeight(), sizes[page].h);
        EXPECT_EQ(MaxDifference(im, ReadWhole("tiffix\\multi" + std::to_string(page) + ".rgb")), 0)
            << page;
    }
    CDibImage missing;
    missing.info.frameIndex = 3;
    EXPECT_FALSE(LoadFixture(missing, "multi"));
    EXPECT_STREQ(missing.GetLastError(), "Error: page not present in TIFF file");
    EXPECT_FALSE(missing.IsValid());
}

TEST(TifDecode, CompressionTagBecomesOptionWord)
{
    struct { const char *name; uint32_t scheme; } cases[] = {
        {"rgb", COMPRESSION_NONE}, {"rgb_lzw", COMPRESSION_LZW}, {"rgb_zip", COMPRESSION_ADOBE_DEFLATE},
        {"grey_packbits", COMPRESSION_PACKBITS}, {"rgb_jpeg", COMPRESSION_JPEG},
        {"bw_g4", COMPRESSION_CCITTFAX4},
    };
    for (auto &c : cases) {
        CDibImage im;
        ASSERT_TRUE(LoadFixture(im, c.name));
        EXPECT_EQ(im.GetCodecOption(FORMAT_TIF), c.scheme) << c.name;
    }
}

TEST(TifDecode, ResolutionAndPositionTags)
{
    Crafted c;
    c.tags = [](TIFF *tif) {
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, 100.0);
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, 40.0);
        TIFFSetField(tif, TIFFTAG_XPOSITION, 3.7);
        TIFFSetField(tif, TIFFTAG_YPOSITION, 5.2);
    };
    CDibImage im;
    ASSERT_TRUE(DecodeString(im, Craft(c))) << im.GetLastError();
    EXPECT_EQ(im.GetXDPI(), 254);
    EXPECT_EQ(im.GetYDPI(), 102);
    EXPECT_EQ(im.info.xOffset, 3);
    EXPECT_EQ(im.info.yOffset, 5);
}

TEST(TifDecode, EscapeStopsAtSizeOrCancels)
{
    CDibImage sized, cancelled;
    sized.SetEscape(-1);
    ASSERT_TRUE(LoadFixture(sized, "rgb"));
    EXPECT_FALSE(sized.IsValid());
    EXPECT_EQ(sized.GetWidth(), 37);
    EXPECT_EQ(sized.GetHeight(), 23);
    EXPECT_EQ(sized.GetType(), FORMAT_TIF);
    cancelled.SetEscape(1);
    EXPECT_FALSE(LoadFixture(cancelled, "grey8"));
    EXPECT_STREQ(cancelled.GetLastError(), "Cancelled");
    EXPECT_FALSE(cancelled.IsValid());
}

// ---------------------------------------------------------------- bad input

TEST(TifDecode, NotATiffFailsToOpen)
{
    CDibImage im;
    EXPECT_FALSE(DecodeString(im, "II*\0garbage garbage garbage"));
    EXPECT_STREQ(im.GetLastError(), "Error encountered while opening TIFF file");
    CDibImage empty;
    EXPECT_FALSE(DecodeString(empty, ""));
}

// Cut files fail cleanly or give a whole image (a lost strip stays blank).
TEST(TifDecode, TruncatedFilesStayInBounds)
{
    for (const char *name : {"rgb", "grey8", "pal8_tiled", "rgb_lzw", "grey16", "multi", "bw_g4"}) {
        std::string tif = ReadWhole(FixturePath(name));
        for (size_t cut = 0; cut < tif.size(); cut += 53) {
            CDibImage im;
            if (DecodeString(im, tif.substr(0, cut)))
                EXPECT_TRUE(im.IsValid()) << name << " " << cut;
            else
                EXPECT_NE(im.GetLastError()[0], 0) << name << " " << cut;
        }
    }
}

// Strips past the end of the file: the rows read before them stay, the
// rest of the picture is blank, and nothing is read out of bounds.
TEST(TifDecode, StripOffsetsBeyondTheFileKeepEarlierRows)
{
    Crafted c;
    c.height = 3;
    c.pixels = std::string(12, '\x7F');
    std::string tif = Craft(c);
    const uint32_t offsets[3] = {8, 12, 16};   // one 4-byte strip per row after the header
    size_t at = tif.find(std::string((const char *)offsets, sizeof offsets));
    ASSERT_NE(at, std::string::npos);
    const uint32_t beyond[2] = {0x7FFFFF00u, 0xFFFFFFF0u};
    tif.replace(at + 4, 8, (const char *)beyond, 8);
    CDibImage im;
    ASSERT_TRUE(DecodeString(im, tif)) << im.GetLastError();
    EXPECT_EQ(im.GetPixelIndex(0, 2), 0x7F);   // top row
    EXPECT_EQ(im.GetPixelIndex(0, 1), 0);
    EXPECT_EQ(im.GetPixelIndex(3, 0), 0);
}

TEST(TifDecode, ShortFuzzRunStaysInBounds)
{
    const char *names[] = {"rgb", "grey8", "pal4", "grey_tiled", "grey16", "bw_white", "rgb_zip",
                           "lab", "grey_orient6"};
    uint32_t seed = 4242;
    DWORD start = GetTickCount();
    for (int round = 0; round < 500 && GetTickCount() - start < 4000; round++) {
        std::string tif = ReadWhole(FixturePath(names[round % 9]));
        for (int i = 0; i < 1 + round % 4; i++) {
            seed = seed * 1103515245u + 12345u;
            size_t at = 4 + (seed >> 8) % (tif.size() - 4);
            tif[at] = (char)(seed >> 24);
        }
        CDibImage im;
        if (DecodeString(im, tif))
            EXPECT_TRUE(im.IsValid()) << round;
        else
            EXPECT_NE(im.GetLastError()[0], 0) << round;
    }
}

// ---------------------------------------------------------------- encode

TEST(TifEncode, EveryFixtureReadsBackEqual)
{
    for (const FixtureCase &f : kFixtures) {
        CDibImage im, back;
        ASSERT_TRUE(LoadFixture(im, f.name)) << f.name;
        im.SetCodecOption(im.GetBpp() == 24 ? COMPRESSION_LZW : 0, FORMAT_TIF);
        std::string tif = EncodeToBytes(im, FORMAT_TIF);
        ASSERT_FALSE(tif.empty()) << f.name << ": " << im.GetLastError();
        ASSERT_TRUE(DecodeString(back, tif)) << f.name << ": " << back.GetLastError();
        EXPECT_EQ(back.GetBpp(), im.GetBpp()) << f.name;
        ExpectSamePixels(im, back, f.name);
    }
}

// ImageMagick sees in our files exactly the pixels we encoded.
TEST(TifEncode, ImageMagickReadsOurPixels)
{
    std::string folder = "tifout";
    RemoveTree(folder);
    CreateDirectoryA(folder.c_str(), 0);
    std::string body = "set -e\n";
    for (const FixtureCase &f : kFixtures) {
        CDibImage im;
        ASSERT_TRUE(LoadFixture(im, f.name));
        im.SetCodecOption(im.GetBpp() == 24 ? COMPRESSION_ADOBE_DEFLATE : 0, FORMAT_TIF);
        std::string n = f.name, raw;
        WriteWhole(folder + "\\" + n + ".tif", EncodeToBytes(im, FORMAT_TIF));
        for (int y = im.GetHeight() - 1; y >= 0; y--)
            for (int x = 0; x < im.GetWidth(); x++) {
                RGBQUAD c = im.GetPixelColor(x, y);
                raw += (char)c.rgbRed;
                raw += (char)c.rgbGreen;
                raw += (char)c.rgbBlue;
            }
        WriteWhole(folder + "\\" + n + ".want", raw);
        body += "convert " + n + ".tif -depth 8 rgb:" + n + ".got\n";
        body += "cmp " + n + ".want " + n + ".got && echo same " + n + "\n";
    }
    body += "echo all-done\n";
    std::string report;
    int run = RunHostScript(folder, body, &report);
    VT_REQUIRE_OR_SKIP(run != 1, "no host shell");
    ASSERT_EQ(run, 0);
    EXPECT_NE(report.find("all-done"), std::string::npos) << report;
}

TEST(TifEncode, BlackFirstBilevelIsInvertedToWhiteIsZero)
{
    CDibImage im;
    ASSERT_TRUE(im.Create(10, 3, 1, FORMAT_TIF));
    im.SetPaletteColor(0, 0, 0, 0);
    im.SetPaletteColor(1, 255, 255, 255);
    im.Clear(0);
    im.SetPixelIndex(3, 1, 1);   // one white pixel on black
    std::string tif = EncodeToBytes(im, FORMAT_TIF);
    ASSERT_FALSE(tif.empty()) << im.GetLastError();
    WrittenTags t;
    ASSERT_TRUE(ReadWrittenTags(tif, &t));
    EXPECT_EQ(t.photometric, PHOTOMETRIC_MINISWHITE);
    EXPECT_EQ(t.compression, COMPRESSION_CCITTFAX4);
    // The image keeps the swap: white, black and inverted bytes.
    EXPECT_COLOR(im.GetPaletteColor(0), 255, 255, 255);
    EXPECT_COLOR(im.GetPaletteColor(1), 0, 0, 0);
    EXPECT_EQ(im.GetPixelIndex(3, 1), 0);
    EXPECT_EQ(im.GetPixelIndex(4, 1), 1);
    EXPECT_EQ(im.GetBits(0)[0], 0xFF);
    CDibImage back;
    ASSERT_TRUE(DecodeString(back, tif));
    EXPECT_COLOR(back.GetPixelColor(3, 1), 255, 255, 255);
    EXPECT_COLOR(back.GetPixelColor(4, 1), 0, 0, 0);
}

TEST(TifEncode, TrueColourDefaultsToJpegInStripsOfEight)
{
    CDibImage im;
    ASSERT_TRUE(LoadFixture(im, "rgb"));
    im.SetCodecOption(0, FORMAT_TIF);
    std::string tif = EncodeToBytes(im, FORMAT_TIF);
    WrittenTags t;
    ASSERT_TRUE(ReadWrittenTags(tif, &t));
    EXPECT_EQ(t.compression, COMPRESSION_JPEG);
    EXPECT_EQ(t.photometric, PHOTOMETRIC_RGB);
    EXPECT_EQ(t.samples, 3);
    EXPECT_EQ(t.bits, 8);
    EXPECT_GT(t.rowsPerStrip, 0u);
    EXPECT_EQ(t.rowsPerStrip % 8, 0u);
    CDibImage back;
    ASSERT_TRUE(DecodeString(back, tif));
    EXPECT_LE(MaxDifference(back, ReferenceRgb("rgb")), 40);
}

TEST(TifEncode, GreyRampIsBlackIsZeroLzwWithPredictor)
{
    CDibImage im;
    ASSERT_TRUE(im.Create(16, 4, 8, FORMAT_TIF));
    im.SetGrayPalette();
    im.SetXDPI(150);
    im.SetYDPI(75);
    std::string tif = EncodeToBytes(im, FORMAT_TIF);
    WrittenTags t;
    ASSERT_TRUE(ReadWrittenTags(tif, &t));
    EXPECT_EQ(t.photometric, PHOTOMETRIC_MINISBLACK);
    EXPECT_EQ(t.compression, COMPRESSION_LZW);
    EXPECT_EQ(t.predictor, PREDICTOR_HORIZONTAL);
    EXPECT_FALSE(t.hasColorMap);
    EXPECT_EQ(t.xRes, 150.0f);
    EXPECT_EQ(t.yRes, 75.0f);
}

TEST(TifEncode, ColourPaletteWritesColourMapOf16BitValues)
{
    CDibImage im;
    ASSERT_TRUE(im.Create(5, 2, 8, FORMAT_TIF));
    for (int i = 0; i < 256; i++)
        im.SetPaletteColor(i, (uint8_t)i, (uint8_t)(255 - i), (uint8_t)(i * 3));
    std::string tif = EncodeToBytes(im, FORMAT_TIF);
    WrittenTags t;
    ASSERT_TRUE(ReadWrittenTags(tif, &t));
    EXPECT_EQ(t.photometric, PHOTOMETRIC_PALETTE);
    ASSERT_TRUE(t.hasColorMap);
    EXPECT_EQ(t.mapRed[10], 10 * 257);
    EXPECT_EQ(t.mapGreen[10], 245 * 257);
    EXPECT_EQ(t.mapBlue[100], (300 % 256) * 257);
}

// A 4-bit picture is grey in the file only when its entries are the
// 16-step ramp; darker entries 0..15 need the colour map to stay dark.
TEST(TifEncode, FourBitGreyDependsOnTheRampOfFourBits)
{
    CDibImage ramp, dark, back;
    ASSERT_TRUE(ramp.Create(6, 2, 4, FORMAT_TIF));
    ramp.SetGrayPalette();
    WrittenTags t;
    ASSERT_TRUE(ReadWrittenTags(EncodeToBytes(ramp, FORMAT_TIF), &t));
    EXPECT_EQ(t.photometric, PHOTOMETRIC_MINISBLACK);
    ASSERT_TRUE(dark.Create(6, 2, 4, FORMAT_TIF));
    for (int i = 0; i < 16; i++)
        dark.SetPaletteColor(i, (uint8_t)i, (uint8_t)i, (uint8_t)i);
    dark.Clear(15);
    std::string tif = EncodeToBytes(dark, FORMAT_TIF);
    ASSERT_TRUE(ReadWrittenTags(tif, &t));
    EXPECT_EQ(t.photometric, PHOTOMETRIC_PALETTE);
    ASSERT_TRUE(DecodeString(back, tif));
    EXPECT_COLOR(back.GetPixelColor(2, 1), 15, 15, 15);
}

TEST(TifEncode, OptionWordChoosesCompression)
{
    CDibImage im;
    ASSERT_TRUE(LoadFixture(im, "pal8"));
    im.SetCodecOption(COMPRESSION_PACKBITS, FORMAT_TIF);
    WrittenTags t;
    ASSERT_TRUE(ReadWrittenTags(EncodeToBytes(im, FORMAT_TIF), &t));
    EXPECT_EQ(t.compression, COMPRESSION_PACKBITS);
    EXPECT_EQ(t.predictor, 0);
    im.SetCodecOption(COMPRESSION_CCITTFAX4, FORMAT_TIF);   // bilevel only
    EXPECT_TRUE(EncodeToBytes(im, FORMAT_TIF).empty());
    EXPECT_STREQ(im.GetLastError(), "Error saving TIFF file");
}

class FailingWriteStream : public CMemStream {
public:
    long budget;
    explicit FailingWriteStream(long bytes) : budget(bytes) { Open(); }
    virtual size_t Write(const void *buffer, size_t size, size_t count)
    {
        if ((long)(size * count) > budget)
            return 0;
        budget -= (long)(size * count);
        return CMemStream::Write(buffer, size, count);
    }
};

// Failures while writing strips or the directory are failures, not a
// truncated file reported as saved.
TEST(TifEncode, FailedWritesFailTheEncode)
{
    CDibImage im;
    ASSERT_TRUE(LoadFixture(im, "grey8"));
    long whole = (long)EncodeToBytes(im, FORMAT_TIF).size();
    ASSERT_GT(whole, 100);
    for (long budget : {0L, 8L, whole / 2, whole - 20, whole - 1}) {
        FailingWriteStream stream(budget);
        EXPECT_FALSE(im.Encode(&stream, FORMAT_TIF)) << budget;
        EXPECT_STREQ(im.GetLastError(), budget < 8 ? "initialization fail" : "Error saving TIFF file")
            << budget;
    }
    FailingWriteStream enough(whole + 64);   // the header is written twice
    EXPECT_TRUE(im.Encode(&enough, FORMAT_TIF)) << im.GetLastError();
    CDibImage none;
    CMemStream stream;
    EXPECT_FALSE(none.Encode(&stream, FORMAT_TIF));
    EXPECT_STREQ(none.GetLastError(), "null image!!!");
}
