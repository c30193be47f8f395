// BMP and ICO codecs against files made by ImageMagick and icoutils, their
// raw pixel dumps, the tools' own checkers, hostile headers and a fuzz run.
#include "imaging_testutil.h"
#include "testutil.h"
#include "../../framework/bytes.h"
#include "../../imaging/icocodec.h"
#include <string.h>

static const char kFix[] = "bmpfix\\";

static std::string Fixture(const char *name) { return ReadWhole(std::string(kFix) + name); }

// Compares an image with a raw dump (top row first, `channels` bytes a
// pixel). `keepBits` compares only the high bits of each channel; pixels
// whose dump alpha is 0 are skipped.
static int CountMismatches(const CDibImage &im, const std::string &raw, int channels, int keepBits = 8)
{
    int w = im.GetWidth(), h = im.GetHeight(), bad = 0;
    if ((int)raw.size() != w * h * channels)
        return -1;
    int drop = 8 - keepBits;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const unsigned char *p = (const unsigned char *)raw.data() + (y * w + x) * channels;
            if (channels == 4 && p[3] == 0)
                continue;
            RGBQUAD c = im.GetPixelColor(x, h - 1 - y);
            if ((c.rgbRed >> drop) != (p[0] >> drop) || (c.rgbGreen >> drop) != (p[1] >> drop) ||
                (c.rgbBlue >> drop) != (p[2] >> drop))
                bad++;
        }
    return bad;
}

struct BmpCase {
    const char *name;
    int bpp;
};

class BmpFixture : public ::testing::TestWithParam<BmpCase> {};

TEST_P(BmpFixture, DecodedPixelsEqualTheToolsDump)
{
    BmpCase c = GetParam();
    std::string file = std::string(c.name) + (strcmp(c.name, "bare8") ? ".bmp" : ".dib");
    CDibImage im;
    ASSERT_TRUE(DecodeBytes(im, Fixture(file.c_str()), FORMAT_BMP)) << im.GetLastError();
    EXPECT_EQ(im.GetWidth(), 37);
    EXPECT_EQ(im.GetHeight(), 23);
    EXPECT_EQ(im.GetBpp(), c.bpp);
    EXPECT_EQ(im.GetType(), FORMAT_BMP);
    EXPECT_EQ(CountMismatches(im, Fixture((std::string(c.name) + ".rgb").c_str()), 3), 0);
}

INSTANTIATE_TEST_SUITE_P(AllDepths, BmpFixture,
                         ::testing::Values(BmpCase{"b1", 1}, BmpCase{"b4", 4}, BmpCase{"b8", 8},
                                           BmpCase{"r8", 8}, BmpCase{"r4", 4}, BmpCase{"b24", 24},
                                           BmpCase{"b32", 24}, BmpCase{"b32f", 24},
                                           BmpCase{"v5", 24}, BmpCase{"v4", 24},
                                           BmpCase{"core", 24}, BmpCase{"td24", 24},
                                           BmpCase{"td8", 8}, BmpCase{"bare8", 8}));

// Bit-field expansion shifts a 5 or 6-bit field to the top of its byte, so
// only the field's own bits can agree with the tool's scaled values.
TEST(BmpDecode, SixteenBitFieldsMatchTheToolsFieldValues)
{
    const char *names[] = {"b16", "b16x"};
    for (int i = 0; i < 2; i++) {
        CDibImage im;
        ASSERT_TRUE(DecodeBytes(im, Fixture((std::string(names[i]) + ".bmp").c_str()), FORMAT_BMP));
        EXPECT_EQ(CountMismatches(im, Fixture((std::string(names[i]) + ".rgb").c_str()), 3, 5), 0)
            << names[i];
    }
}

TEST(BmpDecode, EscapeMinusOneStopsAtTheSize)
{
    CDibImage im;
    im.SetEscape(-1);
    ASSERT_TRUE(DecodeBytes(im, Fixture("r8.bmp"), FORMAT_BMP));
    EXPECT_FALSE(im.IsValid());
    EXPECT_EQ(im.GetWidth(), 37);
    EXPECT_EQ(im.GetHeight(), 23);
    EXPECT_EQ(im.GetType(), FORMAT_BMP);
}

TEST(BmpDecode, OtherEscapeCancels)
{
    CDibImage im;
    im.SetEscape(1);
    EXPECT_FALSE(DecodeBytes(im, Fixture("b24.bmp"), FORMAT_BMP));
    EXPECT_STREQ(im.GetLastError(), "Cancelled");
    EXPECT_FALSE(im.IsValid());
}

// ---- Hand-made files ----

static void Put16(std::string &s, int at, uint32_t v)
{
    s[at] = (char)v;
    s[at + 1] = (char)(v >> 8);
}
static void Put32(std::string &s, int at, uint32_t v)
{
    Put16(s, at, v);
    Put16(s, at + 2, v >> 16);
}

// A file header and info header of `headerSize` bytes; palette and pixels
// are appended by the caller, and the pixel offset is set to the end.
static std::string MakeBmp(int w, int h, int bits, int compression, uint32_t headerSize = 40,
                           uint32_t imageSize = 0)
{
    std::string s(14 + headerSize, '\0');
    s[0] = 'B';
    s[1] = 'M';
    Put32(s, 14, headerSize);
    Put32(s, 18, (uint32_t)w);
    Put32(s, 22, (uint32_t)h);
    Put16(s, 26, 1);
    Put16(s, 28, (uint32_t)bits);
    Put32(s, 30, (uint32_t)compression);
    Put32(s, 34, imageSize);
    return s;
}

static void SetOffsetHere(std::string &s) { Put32(s, 10, (uint32_t)s.size()); }

static std::string GrayPalette(int n)
{
    std::string p;
    for (int i = 0; i < n; i++)
        p += std::string(3, (char)i) + '\0';
    return p;
}

static void ExpectRefused(const std::string &bytes, const char *message)
{
    CDibImage im;
    EXPECT_FALSE(DecodeBytes(im, bytes, FORMAT_BMP));
    EXPECT_STREQ(im.GetLastError(), message);
    EXPECT_FALSE(im.IsValid());
}

// An image-size field far larger than the rows must not be read into them.
TEST(BmpHostile, ImageSizeFieldIsBoundedByTheRows)
{
    std::string s = MakeBmp(2, 2, 8, 0, 40, 4000) + GrayPalette(256);
    SetOffsetHere(s);
    s += std::string("\x01\x02\0\0\x03\x04\0\0", 8) + std::string(4000, '\x55');
    CDibImage im;
    ASSERT_TRUE(DecodeBytes(im, s, FORMAT_BMP)) << im.GetLastError();
    EXPECT_EQ(im.GetPixelIndex(0, 0), 1);
    EXPECT_EQ(im.GetPixelIndex(1, 1), 4);
}

TEST(BmpHostile, UnsupportedBitCountsAreRefusedNotLeftUninitialised)
{
    int counts[] = {0, 2, 3, 7, 12, 48};
    for (int i = 0; i < 6; i++) {
        std::string s = MakeBmp(4, 4, counts[i], 0) + std::string(256, '\0');
        ExpectRefused(s, "Error reading BMP info");
    }
}

// A 124-byte header carries its masks inside itself, at bytes 40..51.
TEST(BmpDecode, LongHeaderMasksComeFromTheHeader)
{
    std::string s = MakeBmp(1, 1, 32, 3, 124);
    Put32(s, 14 + 40, 0x000000FF);   // red in the lowest byte
    Put32(s, 14 + 44, 0x0000FF00);
    Put32(s, 14 + 48, 0x00FF0000);
    SetOffsetHere(s);
    s += std::string("\x11\x22\x33\x00", 4);
    CDibImage im;
    ASSERT_TRUE(DecodeBytes(im, s, FORMAT_BMP)) << im.GetLastError();
    EXPECT_COLOR(im.GetPixelColor(0, 0), 0x33, 0x22, 0x11);
}

TEST(BmpDecode, SixteenBitsWithoutMasksAre555)
{
    std::string s = MakeBmp(1, 1, 16, 0);
    SetOffsetHere(s);
    s += std::string("\x1F\x7C\0\0", 4);   // red 31, green 0, blue 31
    CDibImage im;
    ASSERT_TRUE(DecodeBytes(im, s, FORMAT_BMP)) << im.GetLastError();
    EXPECT_COLOR(im.GetPixelColor(0, 0), 0xF8, 0, 0xF8);
}

TEST(BmpHostile, CompressionMismatchesSayWhichIsWrong)
{
    std::string rle24 = MakeBmp(2, 2, 24, 1);
    SetOffsetHere(rle24);
    ExpectRefused(rle24 + std::string(16, '\0'), "unknown compression");
    std::string bf8 = MakeBmp(2, 2, 8, 3) + GrayPalette(256);
    SetOffsetHere(bf8);
    ExpectRefused(bf8 + std::string(8, '\0'), "compression type not supported");
}

TEST(BmpHostile, RleRunsStopAtTheEndOfThePixels)
{
    std::string s = MakeBmp(4, 2, 8, 1) + GrayPalette(256);
    SetOffsetHere(s);
    // A run of 255, an absolute run of 200 and a delta far past the top.
    s += std::string("\xFF\x07\x00\xC8", 4) + std::string(200, '\x09') +
         std::string("\x00\x02\xFF\xFF\x05\x06\x00\x01", 8);
    CDibImage im;
    ASSERT_TRUE(DecodeBytes(im, s, FORMAT_BMP)) << im.GetLastError();
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 4; x++)
            EXPECT_EQ(im.GetPixelIndex(x, y), 7);
}

TEST(BmpHostile, Rle4RunsStopAtTheEndOfThePixels)
{
    std::string s = MakeBmp(3, 2, 4, 2) + GrayPalette(16);
    SetOffsetHere(s);
    s += std::string("\xFF\x12\x00\xFE", 4) + std::string(127, '\x34') + std::string("\x00\x01", 2);
    CDibImage im;
    ASSERT_TRUE(DecodeBytes(im, s, FORMAT_BMP)) << im.GetLastError();
    EXPECT_EQ(im.GetPixelIndex(0, 0), 1);
    EXPECT_EQ(im.GetPixelIndex(1, 0), 2);
    EXPECT_EQ(im.GetPixelIndex(2, 1), 1);
}

TEST(BmpHostile, OffsetsDimensionsAndTruncationAreRefused)
{
    std::string wrap = MakeBmp(2, 2, 24, 0) + std::string(16, '\0');
    Put32(wrap, 10, 0xFFFFFFF0);
    ExpectRefused(wrap, "Error reading BMP info");
    std::string huge = MakeBmp(30000, 30000, 8, 0) + GrayPalette(256) + std::string(64, '\0');
    ExpectRefused(huge, "Error reading BMP info");
    std::string tall = MakeBmp(100000, -100000, 24, 0) + std::string(64, '\0');
    ExpectRefused(tall, "Error reading BMP info");
    std::string shortRows = MakeBmp(8, 8, 24, 0);
    SetOffsetHere(shortRows);
    ExpectRefused(shortRows + std::string(100, '\0'), "Error reading BMP info");
    ExpectRefused(std::string("BM\0\0", 4), "Not a BMP");
    std::string badHeader = MakeBmp(2, 2, 24, 0, 30) + std::string(40, '\0');
    ExpectRefused(badHeader, "Error reading BMP info");
}

// ---- Encoding ----

TEST(BmpEncode, FourBitFileHasItsPixelsAfterThePalette)
{
    CDibImage im;
    ASSERT_TRUE(DecodeBytes(im, Fixture("b4.bmp"), FORMAT_BMP));
    unsigned char *buffer = 0;
    int32_t size = 0;
    ASSERT_TRUE(im.Encode(&buffer, &size, FORMAT_BMP)) << im.GetLastError();
    EXPECT_EQ(buffer[10] | buffer[11] << 8, 118);
    CDibImage back;
    ASSERT_TRUE(back.Decode(buffer, size, FORMAT_BMP));
    EXPECT_EQ(CountMismatches(back, Fixture("b4.rgb"), 3), 0);
    CDibImage::FreeEncodedBuffer(buffer);
}

// A fresh folder under the test's own (host-visible) working folder.
static std::string HostFolder(const char *name)
{
    RemoveTree(name);
    CreateDirectoryA(name, 0);
    return name;
}

static bool EncodeToFile(CDibImage &im, int format, const std::string &path)
{
    unsigned char *buffer = 0;
    int32_t size = 0;
    if (!im.Encode(&buffer, &size, format))
        return false;
    WriteWhole(path, std::string((const char *)buffer, (size_t)size));
    CDibImage::FreeEncodedBuffer(buffer);
    return true;
}

TEST(BmpEncode, EncodesReadBackEqualAndPassIdentify)
{
    std::string folder = HostFolder("bmpout");
    const char *names[] = {"b1", "b4", "b8", "b24"};
    for (int i = 0; i < 4; i++) {
        CDibImage im;
        ASSERT_TRUE(DecodeBytes(im, Fixture((std::string(names[i]) + ".bmp").c_str()), FORMAT_BMP));
        ASSERT_TRUE(EncodeToFile(im, FORMAT_BMP, folder + "\\" + names[i] + ".bmp"));
    }
    std::string report;
    ASSERT_EQ(RunHostScript(folder,
                            "for f in b1 b4 b8 b24; do identify -format '%w %h ' $f.bmp || echo BAD; "
                            "convert $f.bmp -depth 8 rgb:$f.rgb || echo BAD; done",
                            &report), 0);
    EXPECT_EQ(report.find("BAD"), std::string::npos) << report;
    EXPECT_EQ(report.substr(0, 24), "37 23 37 23 37 23 37 23 ") << report;
    for (int i = 0; i < 4; i++) {
        CDibImage im;
        ASSERT_TRUE(DecodeBytes(im, Fixture((std::string(names[i]) + ".bmp").c_str()), FORMAT_BMP));
        EXPECT_EQ(CountMismatches(im, ReadWhole(folder + "\\" + names[i] + ".rgb"), 3), 0) << names[i];
    }
}

// ---- Icons ----

static const int kIconSizes[] = {20, 16, 32, 24, 48, 256};
static const int kIconDepths[] = {1, 4, 8, 24, 24, 24};

TEST(IcoDecode, EveryEntryEqualsTheToolsExtraction)
{
    std::string ico = Fixture("set.ico");
    for (int i = 0; i < 6; i++) {
        CDibImage im;
        im.info.frameIndex = i;
        ASSERT_TRUE(DecodeBytes(im, ico, FORMAT_ICO)) << i << " " << im.GetLastError();
        EXPECT_EQ(im.GetNumFrames(), 6);
        EXPECT_EQ(im.GetWidth(), kIconSizes[i]);
        EXPECT_EQ(im.GetHeight(), kIconSizes[i]);
        EXPECT_EQ(im.GetType(), FORMAT_ICO);
        if (i < 5)
            EXPECT_EQ(im.GetBpp(), kIconDepths[i]);
        std::string raw = Fixture(("set" + std::to_string(i + 1) + ".rgba").c_str());
        EXPECT_EQ(CountMismatches(im, raw, 4), 0) << i;
    }
}

// Masked pixels of a palette icon all carry the transparent index.
TEST(IcoDecode, MaskedPalettePixelsCarryTheTransparentIndex)
{
    CDibImage im;
    im.info.frameIndex = 1;
    ASSERT_TRUE(DecodeBytes(im, Fixture("set.ico"), FORMAT_ICO));
    std::string raw = Fixture("set2.rgba");
    int masked = 0;
    ASSERT_GE(im.GetTransIndex(), 0);
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++)
            if (raw[(y * 16 + x) * 4 + 3] == 0) {
                masked++;
                EXPECT_EQ(im.GetPixelIndex(x, 15 - y), im.GetTransIndex());
            }
    EXPECT_EQ(masked, 64);
}

// A PNG entry the PNG codec cannot read: the icon fails with its message,
// without pixels, and still reports how many entries it found.
TEST(IcoDecode, DamagedPngEntryFailsCleanly)
{
    std::string ico = Fixture("set.ico");
    ASSERT_GE(ico.size(), (size_t)(6 + 16 * 6));
    uint32_t offset = Le32((const unsigned char *)ico.data() + 6 + 16 * 5 + 12);
    ASSERT_LT((size_t)offset + 24, ico.size());
    ASSERT_EQ(ico.substr(offset + 1, 3), "PNG");
    for (int i = 16; i < 24; i++)   // width and height of the header chunk: its CRC fails
        ico[offset + i] = (char)0x7F;
    CDibImage im;
    im.info.frameIndex = 5;
    EXPECT_FALSE(DecodeBytes(im, ico, FORMAT_ICO));
    EXPECT_FALSE(im.IsValid());
    EXPECT_STRNE(im.GetLastError(), "");
    EXPECT_EQ(im.GetNumFrames(), 6);
}

TEST(IcoDecode, IndexPastTheEntriesFailsAndReportsTheCount)
{
    CDibImage im;
    im.info.frameIndex = 6;
    EXPECT_FALSE(DecodeBytes(im, Fixture("set.ico"), FORMAT_ICO));
    EXPECT_EQ(im.GetNumFrames(), 6);
}

TEST(IcoDecode, EscapesStopOrCancel)
{
    CDibImage sized;
    sized.SetEscape(-1);
    sized.info.frameIndex = 2;
    ASSERT_TRUE(DecodeBytes(sized, Fixture("set.ico"), FORMAT_ICO));
    EXPECT_FALSE(sized.IsValid());
    EXPECT_EQ(sized.GetWidth(), 32);
    EXPECT_EQ(sized.GetType(), FORMAT_ICO);
    CDibImage cancelled;
    cancelled.SetEscape(5);
    EXPECT_FALSE(DecodeBytes(cancelled, Fixture("set.ico"), FORMAT_ICO));
    EXPECT_FALSE(cancelled.IsValid());
}

TEST(IcoHostile, BadDirectoriesAndEntriesAreRefused)
{
    std::string ico = Fixture("set.ico");
    std::string farOffset = ico;
    Put32(farOffset, 6 + 12, 0xFFFFFF00);
    std::string lying = ico;   // the first entry's header claims 4096 x 4096
    uint32_t at = (unsigned char)ico[18] | (unsigned char)ico[19] << 8;
    Put32(lying, (int)at + 4, 4096);
    Put32(lying, (int)at + 8, 8192);
    std::string empty("\0\0\1\0\0\0", 6);
    std::string cases[] = {farOffset, lying, empty, ico.substr(0, 40)};
    for (int i = 0; i < 4; i++) {
        CDibImage im;
        EXPECT_FALSE(DecodeBytes(im, cases[i], FORMAT_ICO)) << i;
        EXPECT_FALSE(im.IsValid()) << i;
    }
}

// The one directory entry points just past itself; the codec's running
// offset then stands after the image's data, where a next image would go.
TEST(IcoEncode, DirectoryOffsetAndRunningOffset)
{
    CDibImage four(16, 16, 4, FORMAT_ICO);
    four.SetGrayPalette();
    CDibImageICO ico;
    ico.Ghost(four);
    CMemStream s;
    ASSERT_TRUE(s.Open());
    ASSERT_TRUE(ico.Encode(&s)) << ico.GetLastError();
    const unsigned char *b = s.GetBuffer(false);
    const uint32_t bytes = 40 + 16 * 4 + 8 * 16 + 4 * 16;   // header, palette, pixels, mask
    EXPECT_EQ(Le16(b + 4), 1);
    EXPECT_EQ(Le32(b + 6 + 8), bytes);
    EXPECT_EQ(Le32(b + 6 + 12), 22u);
    EXPECT_EQ(Le32(b + 22), 40u);
    EXPECT_EQ(ico.nextOffset, 22u + bytes);
    EXPECT_EQ((uint32_t)s.Size(), 22u + bytes);
    EXPECT_TRUE(four.IsValid());   // the codec was a ghost
}

TEST(IcoEncode, EncodesReadBackAndPassIcotool)
{
    std::string folder = HostFolder("icoout");
    CDibImage four(16, 16, 4, FORMAT_ICO);
    for (int i = 0; i < 16; i++)
        four.SetPaletteColor(i, (uint8_t)(i * 16), (uint8_t)(255 - i * 16), 40);
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++)
            four.SetPixelIndex(x, y, (uint8_t)((x + y) % 15));
    four.SetPixelIndex(3, 4, 15);
    four.SetTransIndex(15);
    ASSERT_TRUE(EncodeToFile(four, FORMAT_ICO, folder + "\\four.ico"));
    CDibImage big(300, 300, 24, FORMAT_ICO);
    FillRgb(big, Bgr(10, 20, 30));
    ASSERT_TRUE(EncodeToFile(big, FORMAT_ICO, folder + "\\big.ico")) << big.GetLastError();
    std::string report;
    ASSERT_EQ(RunHostScript(folder, "icotool -l four.ico && icotool -l big.ico && echo good", &report), 0);
    EXPECT_NE(report.find("--width=16 --height=16 --bit-depth=4 --palette-size=16"), std::string::npos) << report;
    EXPECT_NE(report.find("good"), std::string::npos) << report;

    CDibImage back;
    ASSERT_TRUE(DecodeBytes(back, ReadWhole(folder + "\\four.ico"), FORMAT_ICO));
    EXPECT_EQ(back.GetTransIndex(), 15);
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++)
            EXPECT_EQ(back.GetPixelIndex(x, y), four.GetPixelIndex(x, y));
    EXPECT_COLOR(back.GetPaletteColor(3), 40, 255 - 48, 48);
    std::string bigFile = ReadWhole(folder + "\\big.ico");
    EXPECT_EQ(bigFile[6], 0);
    EXPECT_EQ(bigFile[7], 0);
    EXPECT_EQ(bigFile.substr(23, 3), "PNG");
}

// ---- Fuzz ----

static uint32_t NextRandom(uint32_t *state)
{
    *state = *state * 1103515245u + 12345u;
    return *state >> 8;
}

TEST(BmpFuzz, MutatedFixturesNeverCrash)
{
    const char *names[] = {"b8.bmp", "r8.bmp", "r4.bmp", "b16.bmp", "v5.bmp", "core.bmp", "b1.bmp", "set.ico"};
    std::string seeds[8];
    for (int i = 0; i < 8; i++)
        seeds[i] = Fixture(names[i]);
    uint32_t state = 20261208;
    DWORD begin = GetTickCount();
    for (int round = 0; round < 4000 && GetTickCount() - begin < 3000; round++) {
        int which = (int)(NextRandom(&state) % 8);
        std::string bytes = seeds[which];
        int edits = 1 + (int)(NextRandom(&state) % 8);
        for (int k = 0; k < edits; k++)
            bytes[NextRandom(&state) % bytes.size()] = (char)NextRandom(&state);
        if (NextRandom(&state) % 4 == 0)
            bytes.resize(NextRandom(&state) % bytes.size());
        CDibImage im;
        im.info.frameIndex = (int)(NextRandom(&state) % 6);
        int format = which == 7 ? FORMAT_ICO : FORMAT_BMP;
        if (DecodeBytes(im, bytes, format)) {
            ASSERT_TRUE(im.IsValid());
            ASSERT_GT(im.GetWidth(), 0);
        }
    }
}
