// PNG codec against ImageMagick's fixtures and pngcheck.
#include "imaging_testutil.h"
#include "../testutil.h"

#include <string.h>
#include <string>

static bool DecodeString(CDibImage &im, const std::string &bytes)
{
    return DecodeBytes(im, bytes, FORMAT_PNG);
}

static const char *kFixtures[] = {
    "grey1", "grey2", "grey4", "grey8", "grey16", "greyalpha", "greyalpha16", "rgb", "rgba",
    "rgb16", "rgbinter", "grey2inter", "rgb16inter", "pal1", "pal2", "pal4", "pal8",
    "paltrns", "paltrns1", "grey2trns",
};

static std::string FixturePath(const std::string &name) { return "pngfix\\" + name + ".png"; }

static bool Is16Bit(const std::string &name) { return name.find("16") != std::string::npos; }

// ImageMagick's RGBA dump reduced to 8 bits per sample (16-bit dumps keep
// the high byte, which is what the codec keeps).
static std::string ReferenceRgba(const std::string &name)
{
    if (!Is16Bit(name))
        return ReadWhole("pngfix\\" + name + ".rgba");
    std::string wide = ReadWhole("pngfix\\" + name + ".rgba16"), narrow;
    for (size_t i = 0; i + 1 < wide.size(); i += 2)
        narrow += wide[i];
    return narrow;
}

// Pixel (x, y) in picture order (top row first) as RGB.
static void PictureRgb(const CDibImage &im, int x, int y, int *rgb)
{
    RGBQUAD c = im.GetPixelColor(x, im.GetHeight() - 1 - y);
    rgb[0] = c.rgbRed;
    rgb[1] = c.rgbGreen;
    rgb[2] = c.rgbBlue;
}

static void ExpectPixelsEqualReference(const CDibImage &im, const std::string &name)
{
    std::string ref = ReferenceRgba(name);
    ASSERT_EQ(ref.size(), (size_t)im.GetWidth() * im.GetHeight() * 4) << name;
    int mismatches = 0;
    for (int y = 0; y < im.GetHeight(); y++)
        for (int x = 0; x < im.GetWidth(); x++) {
            int rgb[3];
            PictureRgb(im, x, y, rgb);
            const unsigned char *p = (const unsigned char *)ref.data() + 4 * (y * im.GetWidth() + x);
            if (rgb[0] != p[0] || rgb[1] != p[1] || rgb[2] != p[2])
                mismatches++;
        }
    EXPECT_EQ(mismatches, 0) << name;
}

// Offset of a chunk's data in a PNG file, or -1.
static long ChunkData(const std::string &png, const char *type)
{
    size_t at = png.find(type);
    return at == std::string::npos ? -1 : (long)at + 4;
}

TEST(PngDecode, EveryFixtureMatchesImageMagickExactly)
{
    for (const char *name : kFixtures) {
        CDibImage im;
        ASSERT_TRUE(im.Load(FixturePath(name).c_str(), FORMAT_PNG)) << name << ": " << im.GetLastError();
        EXPECT_EQ(im.GetType(), FORMAT_PNG);
        EXPECT_EQ(im.GetWidth(), 37);
        EXPECT_EQ(im.GetHeight(), 23);
        ExpectPixelsEqualReference(im, name);
    }
}

TEST(PngDecode, DepthsFollowTheImageModel)
{
    struct { const char *name; int bpp; } cases[] = {
        {"grey1", 1}, {"grey2", 4}, {"grey4", 4}, {"grey16", 8}, {"greyalpha", 8},
        {"rgb16", 24}, {"rgba", 24}, {"pal1", 1}, {"pal2", 4}, {"pal8", 8},
    };
    for (auto &c : cases) {
        CDibImage im;
        ASSERT_TRUE(im.Load(FixturePath(c.name).c_str(), FORMAT_PNG)) << c.name;
        EXPECT_EQ(im.GetBpp(), c.bpp) << c.name;
    }
}

TEST(PngDecode, TwoBitGreyGetsFourGreys)
{
    CDibImage im;
    ASSERT_TRUE(im.Load(FixturePath("grey2").c_str(), FORMAT_PNG));
    EXPECT_COLOR(im.GetPaletteColor(0), 0, 0, 0);
    EXPECT_COLOR(im.GetPaletteColor(1), 85, 85, 85);
    EXPECT_COLOR(im.GetPaletteColor(2), 170, 170, 170);
    EXPECT_COLOR(im.GetPaletteColor(3), 255, 255, 255);
}

TEST(PngDecode, InterlacedEqualsTwinAndSetsOptionBit)
{
    const char *pairs[][2] = {{"rgbinter", "rgb"}, {"grey2inter", "grey2"}, {"rgb16inter", "rgb16"}};
    for (auto &p : pairs) {
        CDibImage inter, plain;
        inter.SetCodecOption(0, FORMAT_PNG);
        plain.SetCodecOption(1, FORMAT_PNG);
        ASSERT_TRUE(inter.Load(FixturePath(p[0]).c_str(), FORMAT_PNG));
        ASSERT_TRUE(plain.Load(FixturePath(p[1]).c_str(), FORMAT_PNG));
        EXPECT_EQ(inter.GetCodecOption(FORMAT_PNG) & 1, 1u) << p[0];
        EXPECT_EQ(plain.GetCodecOption(FORMAT_PNG) & 1, 0u) << p[1];
        ExpectSamePixels(inter, plain, p[0]);
    }
}

TEST(PngDecode, PaletteAlphasGoIntoPaletteEntries)
{
    CDibImage im;
    ASSERT_TRUE(im.Load(FixturePath("paltrns").c_str(), FORMAT_PNG));
    EXPECT_EQ(im.info.alphaPaletteEnabled, 1);
    std::string ref = ReferenceRgba("paltrns");
    for (int y = 0; y < im.GetHeight(); y++)
        for (int x = 0; x < im.GetWidth(); x++) {
            int index = im.GetPixelIndex(x, im.GetHeight() - 1 - y);
            int alpha = (unsigned char)ref[4 * (y * im.GetWidth() + x) + 3];
            ASSERT_EQ(im.GetPaletteColor(index).rgbReserved, alpha) << x << "," << y;
        }
}

TEST(PngDecode, SingleTransparencyEntryGivesBackgroundIndex)
{
    CDibImage pal, grey;
    ASSERT_TRUE(pal.Load(FixturePath("paltrns1").c_str(), FORMAT_PNG));
    EXPECT_EQ(pal.GetTransIndex(), 0);
    ASSERT_TRUE(grey.Load(FixturePath("grey2trns").c_str(), FORMAT_PNG));
    EXPECT_EQ(grey.GetTransIndex(), 0);   // the black (value 0) grey is transparent
}

TEST(PngDecode, EscapeMinusOneStopsAtTheSize)
{
    CDibImage im;
    im.SetEscape(-1);
    ASSERT_TRUE(im.Load(FixturePath("rgb").c_str(), FORMAT_PNG));
    EXPECT_FALSE(im.IsValid());
    EXPECT_EQ(im.GetWidth(), 37);
    EXPECT_EQ(im.GetHeight(), 23);
    EXPECT_EQ(im.GetType(), FORMAT_PNG);
}

TEST(PngDecode, OtherEscapeCancels)
{
    CDibImage im;
    im.SetEscape(1);
    EXPECT_FALSE(im.Load(FixturePath("rgb").c_str(), FORMAT_PNG));
    EXPECT_FALSE(im.IsValid());
}

TEST(PngDecode, TruncatedInImageDataIsReadError)
{
    std::string png = ReadWhole(FixturePath("rgb"));
    long idat = ChunkData(png, "IDAT");
    ASSERT_GT(idat, 0);
    CDibImage im;
    EXPECT_FALSE(DecodeString(im, png.substr(0, idat + 100)));
    EXPECT_STREQ(im.GetLastError(), "Read Error");
    for (size_t cut = 0; cut < png.size(); cut += 97) {
        CDibImage part;
        EXPECT_FALSE(DecodeString(part, png.substr(0, cut))) << cut;
        EXPECT_NE(part.GetLastError()[0], 0) << cut;
    }
}

TEST(PngDecode, CorruptHeaderCarriesLibraryMessage)
{
    std::string png = ReadWhole(FixturePath("rgb"));
    png[ChunkData(png, "IHDR") + 2] ^= 0x40;   // width changes, CRC no longer fits
    CDibImage im;
    EXPECT_FALSE(DecodeString(im, png));
    EXPECT_NE(im.GetLastError()[0], 0);
    EXPECT_STRNE(im.GetLastError(), "Read Error");
}

static uint32_t Crc32(const unsigned char *p, size_t n)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; i++) {
        crc ^= p[i];
        for (int k = 0; k < 8; k++)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

// Rewrites every chunk's CRC so that mutations reach the decoder proper.
static void FixChunkCrcs(std::string &png)
{
    size_t at = 8;
    while (at + 12 <= png.size()) {
        const unsigned char *p = (const unsigned char *)png.data() + at;
        uint32_t length = (uint32_t)p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3];
        if (length > png.size() - at - 12)
            return;
        uint32_t crc = Crc32(p + 4, length + 4);
        for (int i = 0; i < 4; i++)
            png[at + 8 + length + i] = (char)(crc >> (24 - 8 * i));
        at += 12 + length;
    }
}

// Mutated fixtures must fail cleanly or decode to a whole image; bounded in
// iterations and time so that Wine runs stay short.
TEST(PngDecode, ShortFuzzRunStaysInBounds)
{
    uint32_t seed = 12345;
    DWORD start = GetTickCount();
    const int fixtureCount = sizeof kFixtures / sizeof kFixtures[0];
    for (int round = 0; round < 600 && GetTickCount() - start < 3000; round++) {
        std::string png = ReadWhole(FixturePath(kFixtures[round % fixtureCount]));
        int flips = 1 + round % 4;
        for (int i = 0; i < flips; i++) {
            seed = seed * 1103515245u + 12345u;
            size_t at = 8 + (seed >> 8) % (png.size() - 8);
            png[at] = (char)(seed >> 24);
        }
        if (round % 2 == 0)
            FixChunkCrcs(png);
        if (round % 5 == 0)
            png.resize(png.size() * (round % 7 + 1) / 8);
        CDibImage im;
        if (DecodeString(im, png))
            EXPECT_TRUE(im.IsValid());
        else
            EXPECT_NE(im.GetLastError()[0], 0);
    }
}

TEST(PngEncode, EveryFixtureReadsBackEqual)
{
    for (const char *name : kFixtures) {
        CDibImage im, back;
        ASSERT_TRUE(im.Load(FixturePath(name).c_str(), FORMAT_PNG)) << name;
        std::string png = EncodeToBytes(im, FORMAT_PNG);
        ASSERT_FALSE(png.empty()) << name << ": " << im.GetLastError();
        ASSERT_TRUE(DecodeString(back, png)) << name << ": " << back.GetLastError();
        ExpectSamePixels(im, back, name);
    }
}

// Our encodes pass pngcheck and ImageMagick reads the same colours as from
// the fixture they were decoded from.
TEST(PngEncode, HostToolsAcceptOurFiles)
{
    std::string folder = "pngout";
    RemoveTree(folder);
    CreateDirectoryA(folder.c_str(), 0);
    std::string body = "set -e\n";
    for (const char *name : kFixtures) {
        CDibImage im;
        ASSERT_TRUE(im.Load(FixturePath(name).c_str(), FORMAT_PNG));
        WriteWhole(folder + "\\" + name + ".png", EncodeToBytes(im, FORMAT_PNG));
        std::string n = name, depth = Is16Bit(n) ? "" : "-depth 8 ";
        body += "pngcheck -q " + n + ".png\n";
        // 16-bit sources: compare against their high byte, as decoded.
        body += "convert ../pngfix/" + n + ".png -alpha off -depth 8 " +
                (Is16Bit(n) ? "-evaluate And 65280 " : "") + "rgb:want.rgb\n";
        body += "convert " + n + ".png -alpha off -depth 8 rgb:got.rgb\n";
        body += "cmp want.rgb got.rgb && echo same " + n + "\n";
    }
    body += "echo all-done\n";
    std::string report;
    int run = RunHostScript(folder, body, &report);
    VT_REQUIRE_OR_SKIP(run != 1, "no host shell");
    ASSERT_EQ(run, 0);
    EXPECT_NE(report.find("all-done"), std::string::npos) << report;
}

static void MakePaletteImage(CDibImage &im)
{
    ASSERT_TRUE(im.Create(9, 5, 8, FORMAT_PNG));
    for (int i = 0; i < 256; i++)
        im.SetPaletteColor(i, (uint8_t)i, (uint8_t)(255 - i), (uint8_t)(i * 7));
    for (int y = 0; y < 5; y++)
        for (int x = 0; x < 9; x++)
            im.SetPixelIndex(x, y, (uint8_t)(x + y * 3));
}

TEST(PngEncode, TransparentIndexMovesToEntryZeroAndBack)
{
    CDibImage im, before, back;
    MakePaletteImage(im);
    im.SetTransIndex(5);
    before.Copy(im);
    std::string png = EncodeToBytes(im, FORMAT_PNG);
    ASSERT_FALSE(png.empty()) << im.GetLastError();
    for (int i = 0; i < 256; i++)
        ASSERT_TRUE(SameColor(im.GetPaletteColor(i), before.GetPaletteColor(i))) << i;
    ExpectSamePixels(im, before, "after encode");
    ASSERT_TRUE(DecodeString(back, png));
    EXPECT_EQ(back.GetTransIndex(), 0);
    EXPECT_COLOR(back.GetPaletteColor(0), 5 * 7 % 256, 250, 5);
    ExpectSamePixels(back, before, "decoded");
}

class FailingWriteStream : public CMemStream {
public:
    virtual size_t Write(const void *, size_t, size_t) { return 0; }
};

// The swap must be undone when the write fails too: the encoder works on
// the caller's own palette and pixels.
TEST(PngEncode, FailedWriteRestoresPaletteOrder)
{
    CDibImage im, before;
    MakePaletteImage(im);
    im.SetTransIndex(5);
    before.Copy(im);
    FailingWriteStream stream;
    EXPECT_FALSE(im.Encode(&stream, FORMAT_PNG));
    EXPECT_STREQ(im.GetLastError(), "Error saving PNG file");
    for (int i = 0; i < 256; i++)
        ASSERT_TRUE(SameColor(im.GetPaletteColor(i), before.GetPaletteColor(i))) << i;
    ExpectSamePixels(im, before, "after failed encode");
}

TEST(PngEncode, BlackWhiteBitmapIsOneBitPalette)
{
    CDibImage im;
    ASSERT_TRUE(im.Create(10, 3, 1, FORMAT_PNG));
    im.SetPaletteColor(0, 0, 0, 0);
    im.SetPaletteColor(1, 255, 255, 255);
    im.SetPixelIndex(3, 1, 1);
    std::string png = EncodeToBytes(im, FORMAT_PNG);
    long ihdr = ChunkData(png, "IHDR");
    ASSERT_GT(ihdr, 0);
    EXPECT_EQ(png[ihdr + 8], 1);   // bit depth
    EXPECT_EQ(png[ihdr + 9], 3);   // palette colour type
}

TEST(PngEncode, OptionWordChoosesInterlaceAndLevel)
{
    CDibImage im;
    ASSERT_TRUE(im.Load(FixturePath("rgb").c_str(), FORMAT_PNG));
    im.SetCodecOption(1, FORMAT_PNG);
    std::string interlaced = EncodeToBytes(im, FORMAT_PNG);
    EXPECT_EQ(interlaced[ChunkData(interlaced, "IHDR") + 12], 1);
    // The zlib header's level field: 3 for level 9, 0 for levels 0 and 1.
    im.SetCodecOption(6, FORMAT_PNG);
    std::string best = EncodeToBytes(im, FORMAT_PNG);
    EXPECT_EQ(((unsigned char)best[ChunkData(best, "IDAT") + 1]) >> 6, 3);
    EXPECT_EQ(best[ChunkData(best, "IHDR") + 12], 0);
    im.SetCodecOption(4, FORMAT_PNG);
    std::string fast = EncodeToBytes(im, FORMAT_PNG);
    EXPECT_EQ(((unsigned char)fast[ChunkData(fast, "IDAT") + 1]) >> 6, 0);
    EXPECT_LT(best.size(), fast.size());
}
