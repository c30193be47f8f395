// GIF codec against ImageMagick's fixtures, hand-made files, bad input, and
// ImageMagick reading what the encoders write.
#include "imaging_testutil.h"
#include "../testutil.h"
#include "../../imaging/gifcodec.h"

#include <string.h>
#include <string>
#include <vector>

static std::string FixturePath(const std::string &name) { return "giffix\\" + name + ".gif"; }

static std::string EncodeToString(CDibImage &im) { return EncodeToBytes(im, FORMAT_GIF); }

static bool DecodeString(CDibImage &im, const std::string &bytes)
{
    return DecodeBytes(im, bytes, FORMAT_GIF);
}

// Counts pixels that differ from an RGBA dump in picture order. Pixels the
// dump has transparent must carry the image's transparent index.
static int MismatchesWithRgba(const CDibImage &im, const std::string &ref)
{
    if (ref.size() != (size_t)im.GetWidth() * im.GetHeight() * 4)
        return -1;
    int bad = 0;
    for (int y = 0; y < im.GetHeight(); y++)
        for (int x = 0; x < im.GetWidth(); x++) {
            const unsigned char *p = (const unsigned char *)ref.data() + 4 * (y * im.GetWidth() + x);
            int by = im.GetHeight() - 1 - y;
            if (p[3] == 0) {
                bad += im.GetPixelIndex(x, by) != im.GetTransIndex();
                continue;
            }
            RGBQUAD c = im.GetPixelColor(x, by);
            bad += c.rgbRed != p[0] || c.rgbGreen != p[1] || c.rgbBlue != p[2];
        }
    return bad;
}

// Colours only: the reserved byte may differ.
static void ExpectSameRgb(const CDibImage &a, const CDibImage &b, const std::string &what)
{
    ASSERT_EQ(a.GetWidth(), b.GetWidth()) << what;
    ASSERT_EQ(a.GetHeight(), b.GetHeight()) << what;
    int bad = 0;
    for (int y = 0; y < a.GetHeight(); y++)
        for (int x = 0; x < a.GetWidth(); x++) {
            RGBQUAD p = a.GetPixelColor(x, y), q = b.GetPixelColor(x, y);
            bad += p.rgbRed != q.rgbRed || p.rgbGreen != q.rgbGreen || p.rgbBlue != q.rgbBlue;
        }
    EXPECT_EQ(bad, 0) << what;
}

static uint32_t gSeed = 12345;
static int Random(int n)
{
    gSeed = gSeed * 1103515245u + 12345u;
    return (int)((gSeed >> 16) % (uint32_t)n);
}

// A palette image with runs, noise and all colours of its depth.
static void MakeIndexed(CDibImage &im, int w, int h, int bpp)
{
    ASSERT_TRUE(im.Create(w, h, bpp, FORMAT_GIF));
    int colors = im.GetNumColors();
    for (int i = 0; i < colors; i++)
        im.SetPaletteColor(i, (uint8_t)(i * 37), (uint8_t)(255 - i), (uint8_t)(i * 11 + 3));
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            int v = y < h / 3 ? (x / 7 + y) % colors : y < 2 * h / 3 ? Random(colors) : (x * y) % colors;
            im.SetPixelIndex(x, y, (uint8_t)v);
        }
}

static void MakeTrueColor(CDibImage &im, int w, int h)
{
    ASSERT_TRUE(im.Create(w, h, 24, FORMAT_GIF));
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            im.SetPixelColor(x, y, Bgr(x * 5, y * 9, (x * y + Random(40)) & 255));
}

// ---------------------------------------------------------------- hand-made files

// Writes GIF blocks; image data as uncompressed codes of the given size.
struct GifBuilder {
    std::string b;
    void Byte(int v) { b += (char)v; }
    void Word(int v) { Byte(v & 255); Byte(v >> 8); }
    void Header(int w, int h, int globalColors) {
        b += "GIF89a";
        Word(w);
        Word(h);
        int bits = 0;
        while (globalColors && (2 << bits) < globalColors)
            bits++;
        Byte(globalColors ? 0x80 | bits : 0);
        Byte(0);
        Byte(0);
        for (int i = 0; i < globalColors; i++) {
            Byte(i * 50);
            Byte(i * 20);
            Byte(255 - i * 30);
        }
    }
    void Control(int flags, int trans) {
        Byte(0x21); Byte(0xF9); Byte(4); Byte(flags); Word(0); Byte(trans); Byte(0);
    }
    void Descriptor(int left, int top, int w, int h, int packed = 0) {
        Byte(0x2C); Word(left); Word(top); Word(w); Word(h); Byte(packed);
    }
    // Codes packed least significant bit first into sub-blocks, each as wide
    // as a decoder expects it after the codes before it.
    void Codes(int minSize, const std::vector<int> &codes) {
        int clear = 1 << minSize, width = minSize + 1, next = clear + 2;
        bool first = true;
        Byte(minSize);
        std::string data;
        uint32_t acc = 0;
        int bits = 0;
        for (int c : codes) {
            acc |= (uint32_t)c << bits;
            bits += width;
            while (bits >= 8) {
                data += (char)(acc & 255);
                acc >>= 8;
                bits -= 8;
            }
            if (c == clear) {
                width = minSize + 1;
                next = clear + 2;
                first = true;
            } else if (c != clear + 1 && !first && next < 4096 && ++next == 1 << width && width < 12) {
                width++;
            }
            first = first && c == clear;
        }
        if (bits)
            data += (char)acc;
        for (size_t i = 0; i < data.size(); i += 255) {
            size_t n = data.size() - i < 255 ? data.size() - i : 255;
            Byte((int)n);
            b += data.substr(i, n);
        }
        Byte(0);
    }
    // Literal pixels of a 2-bit code stream: clear, the values, end.
    void Pixels(const std::vector<int> &values) {
        std::vector<int> codes(1, 4);
        codes.insert(codes.end(), values.begin(), values.end());
        codes.push_back(5);
        Codes(2, codes);
    }
    void End() { Byte(0x3B); }
};

static std::vector<int> Repeat(int value, int n) { return std::vector<int>(n, value); }

// Picture-order index of an image.
static int IndexAt(const CDibImage &im, int x, int y) { return im.GetPixelIndex(x, im.GetHeight() - 1 - y); }

// ---------------------------------------------------------------- decoding

TEST(GifDecode, FixturesMatchImageMagick)
{
    struct { const char *name; int bpp; } cases[] = {
        {"pal1", 1}, {"pal2", 4}, {"pal4", 4}, {"pal8", 8}, {"gif87", 8}, {"inter", 8},
        {"inter4", 4}, {"inter13", 4}, {"grey256", 8}, {"trans", 8},
    };
    for (auto &c : cases) {
        CDibImage im;
        ASSERT_TRUE(im.Load(FixturePath(c.name).c_str(), FORMAT_GIF)) << c.name << im.GetLastError();
        EXPECT_EQ(im.GetType(), FORMAT_GIF) << c.name;
        EXPECT_EQ(im.GetBpp(), c.bpp) << c.name;
        EXPECT_EQ(im.GetNumFrames(), 1) << c.name;
        EXPECT_EQ(MismatchesWithRgba(im, ReadWhole("giffix\\" + std::string(c.name) + ".rgba")), 0) << c.name;
    }
    CDibImage trans;
    ASSERT_TRUE(trans.Load(FixturePath("trans").c_str(), FORMAT_GIF));
    EXPECT_GE(trans.GetTransIndex(), 0);
}

TEST(GifDecode, InterlacedEqualsItsTwin)
{
    CDibImage plain, inter;
    ASSERT_TRUE(plain.Load(FixturePath("pal8").c_str(), FORMAT_GIF));
    ASSERT_TRUE(inter.Load(FixturePath("inter").c_str(), FORMAT_GIF));
    ExpectSameRgb(plain, inter, "interlaced");
}

// Four rows interlaced: lines come for rows 0, 2, 1, 3.
TEST(GifDecode, InterlacedFourRowsTakeLinesInPassOrder)
{
    GifBuilder g;
    g.Header(1, 4, 4);
    g.Descriptor(0, 0, 1, 4, 0x40);
    g.Pixels({0, 1, 2, 3});
    g.End();
    CDibImage im;
    ASSERT_TRUE(DecodeString(im, g.b)) << im.GetLastError();
    int want[4] = {0, 2, 1, 3};
    for (int y = 0; y < 4; y++)
        EXPECT_EQ(IndexAt(im, 0, y), want[y]) << y;
}

TEST(GifDecode, AnimationFramesComposeLikeImageMagick)
{
    for (int k = 0; k < 5; k++) {
        CDibImage im;
        im.info.frameIndex = k;
        ASSERT_TRUE(im.Load(FixturePath("anim").c_str(), FORMAT_GIF)) << k << im.GetLastError();
        EXPECT_EQ(im.GetNumFrames(), 5);
        ASSERT_EQ(im.GetWidth(), 40);
        EXPECT_EQ(im.GetTransIndex(), 5);
        EXPECT_EQ(MismatchesWithRgba(im, ReadWhole("giffix\\anim-" + std::to_string(k) + ".rgba")), 0)
            << "frame " << k;
    }
    CDibImage all;
    all.SetGetAllFrames(true);
    ASSERT_TRUE(all.Load(FixturePath("anim").c_str(), FORMAT_GIF));
    ASSERT_EQ(all.frameSlots, 5);
    for (int k = 0; k < 5; k++) {
        ASSERT_TRUE(all.frames[k] != 0) << k;
        EXPECT_EQ(MismatchesWithRgba(*all.frames[k], ReadWhole("giffix\\anim-" + std::to_string(k) + ".rgba")), 0)
            << "kept frame " << k;
    }
}

TEST(GifDecode, FrameIndexOutsideTheCountFailsButReportsTheCount)
{
    for (int index : {5, -1}) {
        CDibImage im;
        im.info.frameIndex = index;
        EXPECT_FALSE(im.Load(FixturePath("anim").c_str(), FORMAT_GIF));
        EXPECT_EQ(im.GetNumFrames(), 5);
        EXPECT_FALSE(im.IsValid());
    }
}

TEST(GifDecode, SizeOnlyAndSignature)
{
    CDibImage size;
    size.SetEscape(-1);
    ASSERT_TRUE(size.Load(FixturePath("anim").c_str(), FORMAT_GIF));
    EXPECT_EQ(size.GetWidth(), 40);
    EXPECT_EQ(size.GetHeight(), 30);
    EXPECT_FALSE(size.IsValid());

    std::string bytes = ReadWhole(FixturePath("pal8"));
    bytes[3] = '7';
    CDibImage bad;
    EXPECT_FALSE(DecodeString(bad, bytes));
    EXPECT_STREQ(bad.GetLastError(), "");
    CDibImage cancelled;
    cancelled.SetEscape(1);
    EXPECT_FALSE(cancelled.Load(FixturePath("pal8").c_str(), FORMAT_GIF));
}

// Index 255 is an ordinary colour when there is no transparency.
TEST(GifDecode, IndexTwoFiftyFiveIsDrawnWithoutTransparency)
{
    GifBuilder g;
    g.Header(3, 1, 256);
    g.Descriptor(0, 0, 3, 1);
    g.Codes(8, {256, 255, 7, 255, 257});
    g.End();
    CDibImage im;
    ASSERT_TRUE(DecodeString(im, g.b));
    EXPECT_EQ(IndexAt(im, 0, 0), 255);
    EXPECT_EQ(IndexAt(im, 1, 0), 7);
    EXPECT_EQ(IndexAt(im, 2, 0), 255);
}

TEST(GifDecode, ScreenRulesForDescriptors)
{
    // A 0 x 0 screen takes the first image's size.
    GifBuilder zero;
    zero.Header(0, 0, 4);
    zero.Descriptor(0, 0, 2, 2);
    zero.Pixels({1, 2, 3, 0});
    zero.End();
    CDibImage im;
    ASSERT_TRUE(DecodeString(im, zero.b));
    EXPECT_EQ(im.GetWidth(), 2);
    EXPECT_EQ(im.GetHeight(), 2);
    EXPECT_EQ(IndexAt(im, 0, 1), 3);

    // Images outside the screen and images of no size are not frames.
    GifBuilder outside;
    outside.Header(4, 2, 4);
    outside.Descriptor(2, 0, 4, 2);
    outside.Pixels(Repeat(1, 8));
    outside.Descriptor(0, 0, 0, 2);
    outside.Pixels({});
    outside.Descriptor(0, 0, 4, 2);
    outside.Pixels({0, 1, 2, 3, 3, 2, 1, 0});
    outside.End();
    CDibImage o;
    ASSERT_TRUE(DecodeString(o, outside.b)) << o.GetLastError();
    EXPECT_EQ(o.GetNumFrames(), 1);
    EXPECT_EQ(IndexAt(o, 3, 0), 3);
    EXPECT_EQ(IndexAt(o, 3, 1), 0);
}

// Without a global table, a first image that does not cover the screen makes
// the file a true-colour mosaic, whether it is smaller both ways or only one:
// the encoder's own one-row and one-column mosaics start with a tile that
// spans a full side. The price: frame 0 of an animation like that comes back
// as the composite of all its images.
TEST(GifDecode, TrueColourMosaicFromAFirstImageSmallerOneWayOrBoth)
{
    auto localTable = [](GifBuilder &g) {
        const int rgb[4][3] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
        for (auto &c : rgb) {
            g.Byte(c[0]);
            g.Byte(c[1]);
            g.Byte(c[2]);
        }
    };
    GifBuilder strip;   // 4 x 4 screen, two 4 x 2 images
    strip.Header(4, 4, 0);
    strip.Descriptor(0, 0, 4, 2, 0x81);
    localTable(strip);
    strip.Pixels(Repeat(1, 8));
    strip.Descriptor(0, 2, 4, 2, 0x81);
    localTable(strip);
    strip.Pixels(Repeat(2, 8));
    strip.End();
    CDibImage both;
    ASSERT_TRUE(DecodeString(both, strip.b)) << both.GetLastError();
    EXPECT_EQ(both.GetNumFrames(), 2);
    EXPECT_EQ(both.GetBpp(), 24);
    EXPECT_COLOR(both.GetPixelColor(0, 3), 0, 0, 255);   // top half: red
    EXPECT_COLOR(both.GetPixelColor(3, 0), 0, 255, 0);   // bottom half: green

    // One column of tiles from the encoder reads back whole too.
    CDibImage tall(12, 40, 24, FORMAT_UNKNOWN), tallBack;
    for (int y = 0; y < 40; y++)
        for (int x = 0; x < 12; x++)
            tall.SetPixelColor(x, y, Bgr(x * 20, y * 6, 100));
    ASSERT_TRUE(DecodeString(tallBack, EncodeToString(tall)));
    EXPECT_EQ(tallBack.GetBpp(), 24);
    ExpectSameRgb(tall, tallBack, "one column of tiles");

    GifBuilder tiles;   // 4 x 4 screen, two 2 x 2 tiles
    tiles.Header(4, 4, 0);
    tiles.Descriptor(0, 0, 2, 2, 0x81);
    localTable(tiles);
    tiles.Pixels(Repeat(1, 4));
    tiles.Descriptor(2, 2, 2, 2, 0x81);
    localTable(tiles);
    tiles.Pixels(Repeat(3, 4));
    tiles.End();
    CDibImage mosaic;
    ASSERT_TRUE(DecodeString(mosaic, tiles.b)) << mosaic.GetLastError();
    EXPECT_EQ(mosaic.GetBpp(), 24);
    EXPECT_COLOR(mosaic.GetPixelColor(0, 3), 0, 0, 255);   // top left tile: red
    EXPECT_COLOR(mosaic.GetPixelColor(3, 0), 255, 0, 0);   // bottom right tile: blue
}

// Disposal 2 clears the whole screen to the first transparent index before the
// next frame, which here leaves its transparent pixels showing that index.
TEST(GifDecode, DisposalToBackgroundClearsToFirstTransparentIndex)
{
    GifBuilder g;
    g.Header(2, 1, 4);
    g.Control(1 | (1 << 2), 3);
    g.Descriptor(0, 0, 2, 1);
    g.Pixels({1, 2});
    g.Control(1 | (2 << 2), 3);
    g.Descriptor(0, 0, 2, 1);
    g.Pixels({0, 3});
    g.Control(1, 3);
    g.Descriptor(0, 0, 2, 1);
    g.Pixels({3, 1});
    g.End();
    int want[3][2] = {{1, 2}, {0, 2}, {3, 1}};
    for (int k = 0; k < 3; k++) {
        CDibImage im;
        im.info.frameIndex = k;
        ASSERT_TRUE(DecodeString(im, g.b));
        EXPECT_EQ(IndexAt(im, 0, 0), want[k][0]) << k;
        EXPECT_EQ(IndexAt(im, 1, 0), want[k][1]) << k;
    }
}

// Data that stops without its end code, or runs past the image, still ends
// where its sub-blocks end, so the next image is found.
TEST(GifDecode, NextImageFollowsSloppyData)
{
    GifBuilder g;
    g.Header(2, 1, 4);
    g.Descriptor(0, 0, 2, 1);
    g.Codes(2, {4, 1, 2});   // no end code: the zero-size sub-block ends it
    g.Descriptor(0, 0, 2, 1);
    g.Pixels({3, 3, 2, 2, 1});   // three pixels too many
    g.Descriptor(0, 0, 2, 1);
    g.Pixels({0, 3});
    g.End();
    int want[3][2] = {{1, 2}, {3, 3}, {0, 3}};
    for (int k = 0; k < 3; k++) {
        CDibImage im;
        im.info.frameIndex = k;
        ASSERT_TRUE(DecodeString(im, g.b)) << k;
        EXPECT_EQ(im.GetNumFrames(), 3);
        EXPECT_EQ(IndexAt(im, 0, 0), want[k][0]) << k;
        EXPECT_EQ(IndexAt(im, 1, 0), want[k][1]) << k;
    }
}

// Codes past the table, a truncated stream and codes with no data: no
// overrun, the rows decoded so far are kept and the rest is defined.
TEST(GifDecode, CorruptCodesAreContained)
{
    GifBuilder g;
    g.Header(4, 4, 4);
    g.Descriptor(0, 0, 4, 4);
    g.Codes(2, {4, 1, 2, 7, 7, 7, 5});   // 7 is past the next free code
    g.End();
    CDibImage im;
    ASSERT_TRUE(DecodeString(im, g.b));
    EXPECT_EQ(IndexAt(im, 0, 0), 1);
    EXPECT_EQ(IndexAt(im, 1, 0), 2);

    GifBuilder size;
    size.Header(2, 2, 4);
    size.Descriptor(0, 0, 2, 2);
    size.Byte(12);   // code size out of range
    size.b += std::string("\x01\x00\x00", 3);
    size.End();
    CDibImage s;
    ASSERT_TRUE(DecodeString(s, size.b));
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 2; x++)
            EXPECT_EQ(IndexAt(s, x, y), 0);
}

TEST(GifDecode, TruncatedAndDamagedFilesFailCleanly)
{
    for (const char *name : {"pal8", "anim", "inter13"}) {
        std::string whole = ReadWhole(FixturePath(name));
        for (size_t n = 1; n < whole.size(); n += (n < 64 ? 1 : 7)) {
            CDibImage im;
            bool ok = DecodeString(im, whole.substr(0, n));
            EXPECT_EQ(ok, im.IsValid()) << name << " " << n;
        }
        for (int round = 0; round < 200; round++) {
            std::string bytes = whole;
            for (int k = 0; k < 4; k++)
                bytes[6 + Random((int)bytes.size() - 6)] = (char)Random(256);
            CDibImage im;
            im.info.frameIndex = Random(3);
            DecodeString(im, bytes);
        }
    }
}

// ---------------------------------------------------------------- encoding

// "left,top wxh packed" of every image, walking the blocks of a file without
// a global table.
static std::vector<std::string> ListImages(const std::string &gif)
{
    std::vector<std::string> list;
    const unsigned char *d = (const unsigned char *)gif.data();
    size_t i = 13, n = gif.size();
    auto skipBlocks = [&]() {
        while (i < n && d[i])
            i += d[i] + 1;
        i++;
    };
    while (i < n && d[i] != 0x3B) {
        if (d[i] == 0x21) {
            i += 2;
            skipBlocks();
        } else if (d[i] == 0x2C && i + 10 < n) {
            const unsigned char *e = d + i + 1;
            list.push_back(std::to_string(e[0] | e[1] << 8) + "," + std::to_string(e[2] | e[3] << 8) + " " +
                           std::to_string(e[4] | e[5] << 8) + "x" + std::to_string(e[6] | e[7] << 8) + " " +
                           std::to_string(e[8]));
            i += 10 + ((e[8] & 0x80) ? 3 * (2 << (e[8] & 7)) : 0) + 1;
            skipBlocks();
        } else {
            break;
        }
    }
    return list;
}

TEST(GifEncode, EveryCodeStreamRoundTripsEveryDepth)
{
    for (int bpp : {1, 4, 8})
        for (int option : {GIF_LZW, GIF_UNCOMPRESSED, GIF_RLE}) {
            std::string what = std::to_string(bpp) + " bits, option " + std::to_string(option);
            CDibImage im, back;
            MakeIndexed(im, 151, 67, bpp);   // more than 4,096 codes: the table is cleared
            im.SetCodecOption(option, FORMAT_GIF);
            std::string gif = EncodeToString(im);
            ASSERT_FALSE(gif.empty()) << what << im.GetLastError();
            ASSERT_TRUE(DecodeString(back, gif)) << what;
            EXPECT_EQ(back.GetBpp(), bpp) << what;
            ExpectSameRgb(im, back, what);
        }
}

TEST(GifEncode, HeaderAndControlBytes)
{
    CDibImage im;
    MakeIndexed(im, 5, 3, 8);
    im.SetTransIndex(3);
    im.info.frameDelay = 0x1234;
    im.SetDisplayMethod(2);
    std::string gif = EncodeToString(im);
    ASSERT_GT(gif.size(), 13u + 768 + 8);
    EXPECT_EQ(gif.substr(0, 6), "GIF89a");
    EXPECT_EQ((unsigned char)gif[10], 0xE7);
    const unsigned char *gce = (const unsigned char *)gif.data() + 13 + 768;
    unsigned char want[8] = {0x21, 0xF9, 4, 1 | (2 << 2), 0x34, 0x12, 3, 0};
    EXPECT_EQ(memcmp(gce, want, 8), 0);
    EXPECT_EQ(gif[gif.size() - 1], 0x3B);
    CDibImage back;
    ASSERT_TRUE(DecodeString(back, gif));
    EXPECT_EQ(back.GetTransIndex(), 3);
    EXPECT_EQ(back.info.frameDelay, 0x1234);
}

// Tiles of 17, 17 and 6 columns by 15 and 5 rows, each with 256 colours.
TEST(GifEncode, TrueColorBecomesTilesAndComesBack)
{
    CDibImage im, back;
    MakeTrueColor(im, 40, 20);
    std::string gif = EncodeToString(im);
    ASSERT_FALSE(gif.empty()) << im.GetLastError();
    EXPECT_EQ((unsigned char)gif[10], 0x11);
    std::vector<std::string> tiles = ListImages(gif);
    std::vector<std::string> want = {"0,0 17x15 135", "17,0 17x15 135", "34,0 6x15 135",
                                      "0,15 17x5 135", "17,15 17x5 135", "34,15 6x5 135"};
    EXPECT_EQ(tiles, want);
    ASSERT_TRUE(DecodeString(back, gif));
    EXPECT_EQ(back.GetBpp(), 24);
    ExpectSameRgb(im, back, "mosaic");

    // One row of tiles: the tiles cover the screen's height but not its width.
    CDibImage wide, wideBack;
    MakeTrueColor(wide, 40, 10);
    for (int option : {GIF_LZW, GIF_RLE}) {
        wide.SetCodecOption(option, FORMAT_GIF);
        ASSERT_TRUE(DecodeString(wideBack, EncodeToString(wide)));
        EXPECT_EQ(wideBack.GetBpp(), 24);
        ExpectSameRgb(wide, wideBack, "one row of tiles");
    }
}

TEST(GifEncode, FramesCommentAndLoopCount)
{
    CDibImage a, b;
    MakeIndexed(a, 9, 6, 8);
    MakeIndexed(b, 9, 6, 4);
    for (int i = 0; i < 16; i++)
        b.SetPaletteColor(i, 200, (uint8_t)(i * 16), 9);
    CDibImage *list[2] = {&a, &b};
    CDibImageGIF *gif = new CDibImageGIF();
    strcpy(gif->comment, "made here");
    gif->loopCount = 3;
    CMemStream stream;
    ASSERT_TRUE(stream.Open());
    ASSERT_TRUE(gif->EncodeFrames(&stream, list, 2, true, false));
    delete gif;
    std::string bytes((const char *)stream.block, stream.Size());
    EXPECT_NE(bytes.find(std::string("NETSCAPE2.0\x03\x01\x02\x00", 16)), std::string::npos);

    CDibImageGIF *reader = new CDibImageGIF();
    stream.Seek(0, SEEK_SET);
    reader->info.frameIndex = 1;
    ASSERT_TRUE(reader->Decode(&stream));
    EXPECT_STREQ(reader->comment, "made here");
    EXPECT_EQ(reader->loopCount, 2);
    EXPECT_EQ(reader->GetNumFrames(), 2);
    ExpectSameRgb(b, *reader, "second frame with its own table");
    delete reader;

    CDibImage whole;
    whole.Create(9, 6, 8, FORMAT_GIF);
    ASSERT_TRUE(whole.AddFrame(new CDibImage(a)) && whole.AddFrame(new CDibImage(b)));
    CDibImage back;
    back.info.frameIndex = 0;
    ASSERT_TRUE(DecodeString(back, EncodeToString(whole)));
    EXPECT_EQ(back.GetNumFrames(), 2);
    ExpectSameRgb(a, back, "first frame");
}

TEST(GifEncode, FrameListChecks)
{
    CDibImage good, empty, rgb;
    MakeIndexed(good, 4, 4, 8);
    MakeTrueColor(rgb, 4, 4);
    CMemStream stream;
    stream.Open();
    CDibImageGIF *gif = new CDibImageGIF();
    CDibImage *nullFirst[2] = {0, &good}, *nullSecond[2] = {&good, 0}, *noDib[2] = {&good, &empty},
              *trueColor[2] = {&good, &rgb};
    struct { CByteStream *s; CDibImage **list; int n; const char *text; } cases[] = {
        {0, nullSecond, 2, "invalid file pointer"},
        {&stream, 0, 2, "multipage GIF, no images!"},
        {&stream, nullSecond, 0, "multipage GIF, no images!"},
        {&stream, nullFirst, 2, "multipage GIF, no images!"},
        {&stream, nullSecond, 2, "Bad image pointer"},
        {&stream, noDib, 2, "Empty image"},
        {&stream, trueColor, 2, "CDibImageGIF::Encode cannot create animated GIFs with a true color frame. Use DecreaseBpp before"},
    };
    for (auto &c : cases) {
        EXPECT_FALSE(gif->EncodeFrames(c.s, c.list, c.n, false, false)) << c.text;
        EXPECT_STREQ(gif->GetLastError(), c.text);
    }
    delete gif;
}

class FailingWriteStream : public CMemStream {
public:
    virtual size_t Write(const void *, size_t, size_t) { return 0; }
};

TEST(GifEncode, WriteErrorIsAFailure)
{
    CDibImage im;
    MakeIndexed(im, 20, 20, 8);
    FailingWriteStream stream;
    EXPECT_FALSE(im.Encode(&stream, FORMAT_GIF));
    EXPECT_STREQ(im.GetLastError(), "Write Error in GIF file");
}

// ImageMagick reads the same colours from our files as we wrote.
TEST(GifEncode, ImageMagickReadsOurFiles)
{
    std::string folder = "gifout";
    RemoveTree(folder);
    CreateDirectoryA(folder.c_str(), 0);
    std::string body;
    std::vector<std::pair<std::string, CDibImage *>> written;
    for (int bpp : {1, 4, 8})
        for (int option : {GIF_LZW, GIF_UNCOMPRESSED, GIF_RLE}) {
            CDibImage *im = new CDibImage();
            MakeIndexed(*im, 151, 67, bpp);
            im->SetCodecOption(option, FORMAT_GIF);
            written.push_back({"p" + std::to_string(bpp) + "o" + std::to_string(option), im});
        }
    for (int option : {GIF_LZW, GIF_RLE}) {
        CDibImage *im = new CDibImage();
        MakeTrueColor(*im, 40, 20);
        im->SetCodecOption(option, FORMAT_GIF);
        written.push_back({"t" + std::to_string(option), im});
    }
    for (auto &w : written) {
        WriteWhole(folder + "\\" + w.first + ".gif", EncodeToString(*w.second));
        body += "convert " + w.first + ".gif -layers flatten -depth 8 rgb:" + w.first + ".rgb\n";
    }
    // Two frames, the second with its own table: ImageMagick's second frame.
    CDibImage first, *second = new CDibImage();
    MakeIndexed(first, 30, 20, 8);
    MakeIndexed(*second, 30, 20, 4);
    for (int i = 0; i < 16; i++)
        second->SetPaletteColor(i, 200, (uint8_t)(i * 16), 9);
    CDibImage *list[2] = {&first, second};
    CDibImageGIF *gif = new CDibImageGIF();
    CMemStream stream;
    ASSERT_TRUE(stream.Open());
    ASSERT_TRUE(gif->EncodeFrames(&stream, list, 2, true, false));
    delete gif;
    WriteWhole(folder + "\\frames.gif", std::string((const char *)stream.block, stream.Size()));
    body += "convert frames.gif -coalesce -delete 0 -depth 8 rgb:frames.rgb\n";
    written.push_back({"frames", second});
    body += "echo all-done\n";
    std::string report;
    int run = RunHostScript(folder, body, &report);
    if (run != 1) {
        ASSERT_EQ(run, 0);
        EXPECT_NE(report.find("all-done"), std::string::npos) << report;
    }
    for (auto &w : written) {
        if (run == 0) {
            std::string rgb = ReadWhole(folder + "\\" + w.first + ".rgb"), rgba;
            for (size_t i = 0; i + 2 < rgb.size(); i += 3)
                rgba += rgb.substr(i, 3) + '\xFF';
            EXPECT_EQ(MismatchesWithRgba(*w.second, rgba), 0) << w.first << report;
        }
        delete w.second;
    }
    VT_REQUIRE_OR_SKIP(run != 1, "no host shell");
}
