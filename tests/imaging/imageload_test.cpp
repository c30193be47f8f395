// Format dispatch with stand-in codecs: order of the try-all pass, rewinding,
// messages, the escape, hand-over of results, encoding into memory.
#include "imaging_testutil.h"

#include <string.h>

#include "../testutil.h"

// What the stand-ins saw.
static int gCalls[FORMAT_COUNT];
static long gStartPosition[FORMAT_COUNT];
static int gOrder[16], gOrderCount;

static void Saw(int format, CByteStream *s)
{
    gCalls[format]++;
    gStartPosition[format] = s->Tell();
    if (gOrderCount < 16)
        gOrder[gOrderCount++] = format;
}

// A stand-in that reads some bytes, then fails with a message of its own.
template <int F>
static bool FailingDecode(CDibImage *out, CByteStream *s)
{
    Saw(F, s);
    unsigned char junk[3];
    s->Read(junk, 1, 3);
    char text[32];
    sprintf(text, "codec %d: not mine", F);
    out->SetError(text);
    if (F == FORMAT_ICO || F == FORMAT_GIF)
        out->info.frameCount = 10 + F;
    return false;
}

// A stand-in "PNG": the eight signature bytes, then width and height bytes.
static bool FakePngDecode(CDibImage *out, CByteStream *s)
{
    Saw(FORMAT_PNG, s);
    unsigned char h[10];
    if (s->Read(h, 1, 10) != 10 || memcmp(h, "\x89PNG\r\n\x1a\n", 8) != 0) {
        out->SetError("PNG: bad signature");
        return false;
    }
    if (out->info.escape && out->info.escape != -1) {
        out->SetError("PNG: cancelled");
        return false;
    }
    if (out->info.escape == -1) {   // the size is all the caller wants
        out->head.biWidth = h[8];
        out->head.biHeight = h[9];
        return true;
    }
    if (!out->Create(h[8], h[9], 24, FORMAT_PNG))
        return false;
    FillRgb(*out, Bgr(1, 2, 3));
    return true;
}

// Claims success without pixels (a broken codec).
static bool HollowDecode(CDibImage *out, CByteStream *s)
{
    Saw(FORMAT_TGA, s);
    out->head.biWidth = 4;
    return true;
}

static CDibImage *gEncodeSaw;
static bool FakeBmpEncode(CDibImage *ghost, CByteStream *s)
{
    gEncodeSaw = ghost;
    if (ghost->info.ghostSource == 0 || ghost->GetWidth() == 13) {
        ghost->SetError("BMP: refused");
        return false;
    }
    return s->Write(ghost->GetBits(), 1, 3) == 3 && s->Write("END", 1, 3) == 3;
}

static const unsigned char kPng[10] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 5, 3};

class Dispatch : public ::testing::Test {
protected:
    ImageCodec saved[FORMAT_COUNT];

    void SetUp() override
    {
        for (int f = 0; f < FORMAT_COUNT; f++) {
            const ImageCodec *c = GetImageCodec(f);
            ImageCodec none = {0, 0};
            saved[f] = c ? *c : none;
        }
        Plug(FORMAT_BMP, FailingDecode<FORMAT_BMP>);
        Plug(FORMAT_JPG, FailingDecode<FORMAT_JPG>);
        Plug(FORMAT_ICO, FailingDecode<FORMAT_ICO>);
        Plug(FORMAT_GIF, FailingDecode<FORMAT_GIF>);
        Plug(FORMAT_PNG, FakePngDecode);
        Plug(FORMAT_WMF, FailingDecode<FORMAT_WMF>);
        memset(gCalls, 0, sizeof gCalls);
        memset(gStartPosition, -1, sizeof gStartPosition);
        gOrderCount = 0;
    }

    void TearDown() override
    {
        for (int f = 0; f < FORMAT_COUNT; f++)
            SetImageCodec(f, saved[f]);
    }

    static void Plug(int format, ImageDecodeFn decode, ImageEncodeFn encode = 0)
    {
        ImageCodec c = {decode, encode};
        SetImageCodec(format, c);
    }
};

TEST_F(Dispatch, TryAllRewindsBeforeEachCodec)
{
    unsigned char bytes[12] = {'x', 'y'};
    memcpy(bytes + 2, kPng, 10);
    CMemStream s(bytes, 12);
    s.Seek(2, SEEK_SET);   // the picture starts inside the stream
    CDibImage im;
    ASSERT_TRUE(im.Decode(&s, FORMAT_UNKNOWN)) << im.GetLastError();
    const int want[5] = {FORMAT_BMP, FORMAT_JPG, FORMAT_ICO, FORMAT_GIF, FORMAT_PNG};
    ASSERT_EQ(gOrderCount, 5);
    for (int k = 0; k < 5; k++) {
        EXPECT_EQ(gOrder[k], want[k]);
        EXPECT_EQ(gStartPosition[want[k]], 2) << want[k];
    }
    EXPECT_EQ(im.GetType(), FORMAT_PNG);
    EXPECT_EQ(im.GetWidth(), 5);
    EXPECT_EQ(im.GetHeight(), 3);
    EXPECT_COLOR(im.GetPixelColor(4, 2), 1, 2, 3);
}

TEST_F(Dispatch, GarbageEndsWithTheDispatcherText)
{
    const unsigned char junk[6] = {1, 2, 3, 4, 5, 6};
    CDibImage im;
    EXPECT_FALSE(im.Decode(junk, 6, FORMAT_UNKNOWN));
    EXPECT_STREQ(im.GetLastError(), "Decode: Unknown or wrong format");
    EXPECT_EQ(gCalls[FORMAT_WMF], 1);   // tried last, its message not kept
    EXPECT_EQ(gOrder[gOrderCount - 1], FORMAT_WMF);
    EXPECT_EQ(im.GetNumFrames(), 10 + FORMAT_GIF);   // the last multi-frame attempt's count
}

TEST_F(Dispatch, NamedFormatTriesOnlyThatCodec)
{
    CDibImage im;
    EXPECT_FALSE(im.Decode(kPng, 10, FORMAT_JPG));
    EXPECT_STREQ(im.GetLastError(), "codec 3: not mine");
    EXPECT_EQ(gCalls[FORMAT_PNG], 0);
    EXPECT_EQ(gCalls[FORMAT_BMP], 0);
    EXPECT_FALSE(im.Decode(kPng, 10, FORMAT_ICO));
    EXPECT_EQ(im.GetNumFrames(), 10 + FORMAT_ICO);
}

TEST_F(Dispatch, FormatsWithoutCodec)
{
    CDibImage im;
    EXPECT_FALSE(im.Decode(kPng, 10, FORMAT_NONE));
    EXPECT_STREQ(im.GetLastError(), "Decode: Unknown or wrong format");
    EXPECT_FALSE(im.Decode(kPng, 10, 42));
    EXPECT_STREQ(im.GetLastError(), "Decode: Unknown or wrong format");
    // A format whose codec is taken out of the table.
    ImageCodec kept = SetImageCodec(FORMAT_TIF, ImageCodec{0, 0});
    EXPECT_FALSE(im.Decode(kPng, 10, FORMAT_TIF));
    EXPECT_STREQ(im.GetLastError(), "Decode: Unknown or wrong format");
    SetImageCodec(FORMAT_TIF, kept);
    EXPECT_EQ(gOrderCount, 0);
}

TEST_F(Dispatch, NullInputs)
{
    CDibImage im;
    EXPECT_FALSE(im.Decode((CByteStream *)0, FORMAT_UNKNOWN));
    EXPECT_STREQ(im.GetLastError(), "null file handler");
    EXPECT_FALSE(im.Decode((FILE *)0, FORMAT_PNG));
    EXPECT_STREQ(im.GetLastError(), "null file handler");
    EXPECT_FALSE(im.Decode((const unsigned char *)0, 10, FORMAT_PNG));
    EXPECT_FALSE(im.Decode(kPng, -1, FORMAT_PNG));
    EXPECT_EQ(gOrderCount, 0);
}

TEST_F(Dispatch, FailureLeavesTheTargetImage)
{
    CDibImage im(2, 2, 24, FORMAT_BMP);
    FillRgb(im, Bgr(9, 9, 9));
    unsigned char *block = im.GetDIB();
    EXPECT_FALSE(im.Decode(kPng, 9, FORMAT_PNG));   // one byte short
    EXPECT_STREQ(im.GetLastError(), "PNG: bad signature");
    EXPECT_EQ(im.GetDIB(), block);
    EXPECT_COLOR(im.GetPixelColor(1, 1), 9, 9, 9);
    EXPECT_EQ(im.GetType(), FORMAT_BMP);
}

TEST_F(Dispatch, EscapeMinusOneGivesTheSizeOnly)
{
    CDibImage im;
    im.SetEscape(-1);
    ASSERT_TRUE(im.Decode(kPng, 10, FORMAT_UNKNOWN));
    EXPECT_FALSE(im.IsValid());
    EXPECT_EQ(im.GetWidth(), 5);
    EXPECT_EQ(im.GetHeight(), 3);
    EXPECT_EQ(im.GetType(), FORMAT_PNG);
}

TEST_F(Dispatch, OtherEscapeCancelsTheWholePass)
{
    Plug(FORMAT_BMP, FakePngDecode);   // first in the order, and it honours the escape
    CDibImage im;
    im.SetEscape(1);
    EXPECT_FALSE(im.Decode(kPng, 10, FORMAT_UNKNOWN));
    EXPECT_STREQ(im.GetLastError(), "PNG: cancelled");
    EXPECT_EQ(gOrderCount, 1);
}

TEST_F(Dispatch, SuccessWithoutPixelsIsAFailure)
{
    Plug(FORMAT_TGA, HollowDecode);
    CDibImage im;
    EXPECT_FALSE(im.Decode(kPng, 10, FORMAT_TGA));
    EXPECT_STREQ(im.GetLastError(), "Decode: no image data");
    EXPECT_EQ(im.GetWidth(), 0);
}

TEST_F(Dispatch, CodecReceivesTheCallersSettings)
{
    CDibImage im;
    im.info.jpegScale = 4;
    im.SetCodecOption(0x1234, FORMAT_PNG);
    im.info.frameIndex = 2;
    struct Probe {
        static bool Decode(CDibImage *out, CByteStream *)
        {
            return out->info.jpegScale == 4 && out->info.codecOptions[4] == 0x1234 &&
                   out->info.frameIndex == 2 && out->GetType() == FORMAT_PNG && out->info.ghostSource == 0 &&
                   out->Create(1, 1, 8, FORMAT_PNG) != 0;
        }
    };
    Plug(FORMAT_PNG, Probe::Decode);
    EXPECT_TRUE(im.Decode(kPng, 10, FORMAT_PNG)) << im.GetLastError();
    EXPECT_EQ(im.GetBpp(), 8);
}

TEST_F(Dispatch, LoadFallsBackButKeepsTheOwnFormatsMessage)
{
    std::string folder = FreshTempFolder("imgload");
    std::string png = folder + "\\picture.png", bad = folder + "\\broken.jpg";
    WriteWhole(png, std::string((const char *)kPng, 10));
    WriteWhole(bad, "not a picture");
    CDibImage im;
    EXPECT_TRUE(im.Load(png.c_str(), FORMAT_BMP)) << im.GetLastError();
    EXPECT_EQ(im.GetType(), FORMAT_PNG);
    EXPECT_EQ(gCalls[FORMAT_BMP], 2);   // its own attempt, then first of the try-all pass
    CDibImage broken;
    EXPECT_FALSE(broken.Load(bad.c_str(), FORMAT_JPG));
    EXPECT_STREQ(broken.GetLastError(), "codec 3: not mine");
    EXPECT_FALSE(broken.Load(bad.c_str(), FORMAT_UNKNOWN));
    EXPECT_STREQ(broken.GetLastError(), "Decode: Unknown or wrong format");
    broken.SetError("before");
    EXPECT_FALSE(broken.Load((folder + "\\missing.png").c_str(), FORMAT_PNG));
    EXPECT_STREQ(broken.GetLastError(), "before");
    EXPECT_FALSE(broken.Load(0, FORMAT_PNG));
    RemoveTree(folder);
}

TEST_F(Dispatch, ResourceMissing)
{
    CDibImage im;
    EXPECT_FALSE(im.LoadFromResource(0, FORMAT_JPG, 0));
    EXPECT_STREQ(im.GetLastError(), "Unable to load resource!");
}

TEST_F(Dispatch, EncodeChecksAndGhost)
{
    CDibImage im(1, 1, 24, FORMAT_UNKNOWN);
    im.SetPixelColor(0, 0, Bgr(7, 8, 9));
    unsigned char *buffer = 0;
    int32_t size = -1;
    EXPECT_FALSE(im.Encode(&buffer, &size, FORMAT_UNKNOWN));
    EXPECT_STREQ(im.GetLastError(), "Encode: Unknown format");
    EXPECT_FALSE(im.Encode(&buffer, &size, FORMAT_WMF));
    EXPECT_STREQ(im.GetLastError(), "Encode: Unknown format");
    Plug(FORMAT_BMP, 0, FakeBmpEncode);
    EXPECT_FALSE(im.Encode((CByteStream *)0, FORMAT_BMP));
    EXPECT_STREQ(im.GetLastError(), "null file handler");
    CDibImage empty;
    CMemStream s;
    s.Open();
    EXPECT_FALSE(empty.Encode(&s, FORMAT_BMP));
    EXPECT_STREQ(empty.GetLastError(), "null image!!!");

    ASSERT_TRUE(im.Encode(&buffer, &size, FORMAT_BMP)) << im.GetLastError();
    ASSERT_EQ(size, 6);
    EXPECT_EQ(memcmp(buffer, "\x07\x08\x09" "END", 6), 0);
    EXPECT_EQ(gEncodeSaw->info.ghostSource, &im);
    unsigned char *first = buffer;
    EXPECT_FALSE(im.Encode(&buffer, &size, FORMAT_BMP));
    EXPECT_STREQ(im.GetLastError(), "the buffer must be empty");
    EXPECT_EQ(buffer, first);
    CDibImage::FreeEncodedBuffer(buffer);
    EXPECT_TRUE(im.IsValid());   // the ghost freed nothing

    CDibImage refused(13, 1, 24, FORMAT_UNKNOWN);
    buffer = 0;
    EXPECT_FALSE(refused.Encode(&buffer, &size, FORMAT_BMP));
    EXPECT_STREQ(refused.GetLastError(), "BMP: refused");
    EXPECT_EQ(buffer, nullptr);
}

TEST(DispatchTable, OnlyRealFormatsHaveEntries)
{
    EXPECT_EQ(GetImageCodec(FORMAT_UNKNOWN), nullptr);
    EXPECT_EQ(GetImageCodec(FORMAT_NONE), nullptr);
    EXPECT_EQ(GetImageCodec(11), nullptr);
    EXPECT_EQ(GetImageCodec(-1), nullptr);
    EXPECT_NE(GetImageCodec(FORMAT_WMF), nullptr);
    EXPECT_EQ(ImageCodecSlot(FORMAT_WMF), 9);
    EXPECT_EQ(ImageCodecSlot(FORMAT_NONE), 0);
}
