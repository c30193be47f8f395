// Format dispatch with the real codec classes: the try-all pass and its
// rewinding, messages, the escape and the cancel, hand-over of results,
// encoding into memory, and what each codec class says about an empty image.
#include "imaging_testutil.h"

#include <string.h>

#include "../testutil.h"
#include "../../imaging/exif.h"
#include "../../imaging/jpegcodec.h"

// A memory stream that remembers the lowest position any absolute seek asked
// for, so that a test can see no codec looked before the picture's start.
class WatchedStream : public CMemStream {
public:
    long lowestSeek;
    WatchedStream(unsigned char *bytes, long size) : CMemStream(bytes, size), lowestSeek(size) {}
    virtual bool Seek(long offset, int origin)
    {
        if (origin == SEEK_SET && offset < lowestSeek)
            lowestSeek = offset;
        return CMemStream::Seek(offset, origin);
    }
};

// A 5 x 3 picture of one colour, encoded by the real codec of `format`.
static std::string Encoded(int format, int bpp = 24)
{
    CDibImage im(5, 3, bpp, FORMAT_UNKNOWN);
    if (bpp == 24)
        FillRgb(im, Bgr(1, 2, 3));
    else
        im.SetGrayPalette();
    return EncodeToBytes(im, format);
}

TEST(Dispatch, TryAllRewindsBeforeEachCodec)
{
    std::string bytes = "xy" + Encoded(FORMAT_PNG);
    WatchedStream s((unsigned char *)bytes.data(), (long)bytes.size());
    s.Seek(2, SEEK_SET);   // the picture starts inside the stream
    s.lowestSeek = (long)bytes.size();
    CDibImage im;
    // BMP, JPG, ICO and GIF each refuse first; PNG only finds its signature
    // when every one of them left the stream at the picture's start.
    ASSERT_TRUE(im.Decode(&s, FORMAT_UNKNOWN)) << im.GetLastError();
    EXPECT_EQ(s.lowestSeek, 2);
    EXPECT_EQ(im.GetType(), FORMAT_PNG);
    EXPECT_EQ(im.GetWidth(), 5);
    EXPECT_EQ(im.GetHeight(), 3);
    EXPECT_COLOR(im.GetPixelColor(4, 2), 1, 2, 3);
}

TEST(Dispatch, EveryFormatIsFoundByItsOwnCodec)
{
    const int formats[] = {FORMAT_BMP, FORMAT_GIF, FORMAT_JPG, FORMAT_PNG,
                           FORMAT_ICO, FORMAT_TIF, FORMAT_TGA, FORMAT_PCX};
    for (int format : formats) {
        std::string bytes = Encoded(format, 8);
        ASSERT_FALSE(bytes.empty()) << format;
        CDibImage im;
        ASSERT_TRUE(DecodeBytes(im, bytes, FORMAT_UNKNOWN)) << format << ": " << im.GetLastError();
        EXPECT_EQ(im.GetType(), format);
        EXPECT_EQ(im.GetWidth(), 5) << format;
        EXPECT_EQ(im.GetHeight(), 3) << format;
    }
}

TEST(Dispatch, GarbageEndsWithTheDispatcherText)
{
    const unsigned char junk[6] = {1, 2, 3, 4, 5, 6};
    CMemStream s((unsigned char *)junk, 6);
    CDibImage im;
    EXPECT_FALSE(im.Decode(&s, FORMAT_UNKNOWN));
    EXPECT_STREQ(im.GetLastError(), "Decode: Unknown or wrong format");   // not the WMF text
    EXPECT_EQ(s.Tell(), 0);

    // A GIF asked for a frame it does not have: every codec refuses, and the
    // count the GIF codec found reaches the caller.
    std::string gif = Encoded(FORMAT_GIF, 8);
    CDibImage frame;
    frame.info.frameIndex = 5;
    EXPECT_FALSE(DecodeBytes(frame, gif, FORMAT_UNKNOWN));
    EXPECT_STREQ(frame.GetLastError(), "Decode: Unknown or wrong format");
    EXPECT_EQ(frame.GetNumFrames(), 1);
}

TEST(Dispatch, NamedFormatTriesOnlyThatCodec)
{
    std::string png = Encoded(FORMAT_PNG);
    CDibImage im;
    EXPECT_FALSE(DecodeBytes(im, png, FORMAT_JPG));
    EXPECT_TRUE(strstr(im.GetLastError(), "Not a JPEG file") != 0) << im.GetLastError();
    EXPECT_FALSE(im.IsValid());
    std::string ico = Encoded(FORMAT_ICO, 8);
    CDibImage icon;
    icon.info.frameIndex = 3;
    EXPECT_FALSE(DecodeBytes(icon, ico, FORMAT_ICO));
    EXPECT_EQ(icon.GetNumFrames(), 1);
}

TEST(Dispatch, FormatsWithoutCodec)
{
    std::string png = Encoded(FORMAT_PNG);
    CDibImage im;
    const int none[] = {FORMAT_NONE, 42, -1, FORMAT_COUNT};
    for (int format : none) {
        im.SetError("");
        EXPECT_FALSE(DecodeBytes(im, png, format));
        EXPECT_STREQ(im.GetLastError(), "Decode: Unknown or wrong format") << format;
    }
    EXPECT_EQ(ImageCodecSlot(FORMAT_WMF), 9);
    EXPECT_EQ(ImageCodecSlot(FORMAT_NONE), 0);
}

TEST(Dispatch, NullInputs)
{
    std::string png = Encoded(FORMAT_PNG);
    CDibImage im;
    EXPECT_FALSE(im.Decode((CByteStream *)0, FORMAT_UNKNOWN));
    EXPECT_STREQ(im.GetLastError(), "null file handler");
    EXPECT_FALSE(im.Decode((FILE *)0, FORMAT_PNG));
    EXPECT_STREQ(im.GetLastError(), "null file handler");
    EXPECT_FALSE(im.Decode((const unsigned char *)0, 10, FORMAT_PNG));
    EXPECT_FALSE(im.Decode((const unsigned char *)png.data(), -1, FORMAT_PNG));
    EXPECT_FALSE(im.IsValid());
}

TEST(Dispatch, FailureLeavesTheTargetImage)
{
    CDibImage im(2, 2, 24, FORMAT_BMP);
    FillRgb(im, Bgr(9, 9, 9));
    unsigned char *block = im.GetDIB();
    std::string png = Encoded(FORMAT_PNG);
    EXPECT_FALSE(DecodeBytes(im, png.substr(0, 20), FORMAT_PNG));   // cut inside the header
    EXPECT_STRNE(im.GetLastError(), "");
    EXPECT_EQ(im.GetDIB(), block);
    EXPECT_COLOR(im.GetPixelColor(1, 1), 9, 9, 9);
    EXPECT_EQ(im.GetType(), FORMAT_BMP);
}

TEST(Dispatch, EscapeMinusOneGivesTheSizeOnly)
{
    CDibImage im;
    im.SetEscape(-1);
    ASSERT_TRUE(DecodeBytes(im, Encoded(FORMAT_PNG), FORMAT_UNKNOWN));
    EXPECT_FALSE(im.IsValid());
    EXPECT_EQ(im.GetWidth(), 5);
    EXPECT_EQ(im.GetHeight(), 3);
    EXPECT_EQ(im.GetType(), FORMAT_PNG);
}

// The cancel stops the try-all pass and is what the caller hears, not the
// refusal of the first codec that did not recognise the bytes.
TEST(Dispatch, OtherEscapeCancelsTheWholePass)
{
    const std::string pictures[] = {Encoded(FORMAT_BMP), Encoded(FORMAT_PNG), Encoded(FORMAT_TGA)};
    for (const std::string &bytes : pictures) {
        CMemStream s((unsigned char *)bytes.data(), (long)bytes.size());
        CDibImage im;
        im.SetEscape(1);
        EXPECT_FALSE(im.Decode(&s, FORMAT_UNKNOWN));
        EXPECT_STREQ(im.GetLastError(), "Cancelled");
        EXPECT_FALSE(im.IsValid());
        EXPECT_EQ(s.Tell(), 0);
    }
    CDibImage named;
    named.SetEscape(2);
    EXPECT_FALSE(DecodeBytes(named, Encoded(FORMAT_BMP), FORMAT_BMP));
    EXPECT_STREQ(named.GetLastError(), "Cancelled");
}

TEST(Dispatch, CancelTestOfTheCodecs)
{
    CDibImage im;
    const int escapes[] = {0, -1, 1, -2, 7};
    const bool cancelled[] = {false, false, true, true, true};
    for (int k = 0; k < 5; k++) {
        im.SetEscape(escapes[k]);
        EXPECT_EQ(im.IsCancelled(), cancelled[k]) << escapes[k];
    }
}

TEST(Dispatch, CodecReceivesTheCallersSettings)
{
    CDibImage source(16, 8, 24, FORMAT_UNKNOWN);
    FillRgb(source, Bgr(200, 100, 50));
    std::string jpeg = EncodeToBytes(source, FORMAT_JPG);
    CDibImage im;
    im.info.jpegScale = 4;
    im.SetCodecOption(0x80, FORMAT_JPG);   // greyscale output
    ASSERT_TRUE(DecodeBytes(im, jpeg, FORMAT_UNKNOWN)) << im.GetLastError();
    EXPECT_EQ(im.GetType(), FORMAT_JPG);
    EXPECT_EQ(im.GetWidth(), 4);
    EXPECT_EQ(im.GetHeight(), 2);
    EXPECT_EQ(im.GetBpp(), 8);
    EXPECT_TRUE(im.IsGrayScale());
    EXPECT_EQ(im.GetJpegScale(), 4);
}

// Quantised output keeps the one 8-bit layout (256 entries in the block) and
// tells the colours that matter by the count of important colours.
TEST(Dispatch, QuantisedJpegCountsTheColoursItChose)
{
    CDibImage source(32, 16, 24, FORMAT_UNKNOWN);
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 32; x++)
            source.SetPixelColor(x, y, Bgr(x * 8, y * 16, 255 - x * 8));
    std::string jpeg = EncodeToBytes(source, FORMAT_JPG);
    CDibImage im;
    im.SetCodecOption(0x100, FORMAT_JPG);
    im.SetJpegQuality(16);   // the number of colours asked for
    ASSERT_TRUE(DecodeBytes(im, jpeg, FORMAT_JPG)) << im.GetLastError();
    ASSERT_EQ(im.GetBpp(), 8);
    EXPECT_EQ(im.GetNumColors(), 256);
    EXPECT_GT(im.GetClrImportant(), 1);
    EXPECT_LE(im.GetClrImportant(), 16);
    int above = 0;
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 32; x++)
            above += im.GetPixelIndex(x, y) >= im.GetClrImportant();
    EXPECT_EQ(above, 0);
    // The nearest-colour search keeps to the chosen colours.
    RGBQUAD black = {0, 0, 0, 0};
    EXPECT_LT(im.GetNearestIndex(black), im.GetClrImportant());
    // And the image survives a copy and a BMP round trip whole.
    CDibImage copy(im);
    ExpectSamePixels(im, copy, "copy");
    CDibImage back;
    ASSERT_TRUE(DecodeBytes(back, EncodeToBytes(im, FORMAT_BMP), FORMAT_BMP));
    ExpectSamePixels(im, back, "bmp");
}

TEST(Dispatch, LoadFallsBackButKeepsTheOwnFormatsMessage)
{
    std::string folder = FreshTempFolder("imgload");
    std::string png = folder + "\\picture.png", bad = folder + "\\broken.jpg";
    WriteWhole(png, Encoded(FORMAT_PNG));
    WriteWhole(bad, "not a picture");
    CDibImage im;
    EXPECT_TRUE(im.Load(png.c_str(), FORMAT_BMP)) << im.GetLastError();
    EXPECT_EQ(im.GetType(), FORMAT_PNG);
    EXPECT_EQ(im.GetWidth(), 5);
    CDibImage direct;
    EXPECT_FALSE(DecodeBytes(direct, "not a picture", FORMAT_JPG));
    CDibImage broken;
    EXPECT_FALSE(broken.Load(bad.c_str(), FORMAT_JPG));
    EXPECT_STREQ(broken.GetLastError(), direct.GetLastError());
    EXPECT_TRUE(strstr(broken.GetLastError(), "JPEG") != 0) << broken.GetLastError();
    EXPECT_FALSE(broken.Load(bad.c_str(), FORMAT_UNKNOWN));
    EXPECT_STREQ(broken.GetLastError(), "Decode: Unknown or wrong format");
    broken.SetError("before");
    EXPECT_FALSE(broken.Load((folder + "\\missing.png").c_str(), FORMAT_PNG));
    EXPECT_STREQ(broken.GetLastError(), "before");
    EXPECT_FALSE(broken.Load(0, FORMAT_PNG));
    RemoveTree(folder);
}

TEST(Dispatch, ResourceMissing)
{
    CDibImage im;
    EXPECT_FALSE(im.LoadFromResource(0, FORMAT_JPG, 0));
    EXPECT_STREQ(im.GetLastError(), "Unable to load resource!");
}

TEST(Dispatch, EncodeChecksAndGhost)
{
    CDibImage im(1, 1, 24, FORMAT_UNKNOWN);
    im.SetPixelColor(0, 0, Bgr(7, 8, 9));
    unsigned char *buffer = 0;
    int32_t size = -1;
    EXPECT_FALSE(im.Encode(&buffer, &size, FORMAT_UNKNOWN));
    EXPECT_STREQ(im.GetLastError(), "Encode: Unknown format");
    EXPECT_FALSE(im.Encode(&buffer, &size, FORMAT_NONE));
    EXPECT_STREQ(im.GetLastError(), "Encode: Unknown format");
    EXPECT_EQ(buffer, nullptr);

    ASSERT_TRUE(im.Encode(&buffer, &size, FORMAT_BMP)) << im.GetLastError();
    ASSERT_EQ(size, 14 + 40 + 4);
    EXPECT_EQ(memcmp(buffer, "BM", 2), 0);
    EXPECT_EQ(memcmp(buffer + 54, "\x07\x08\x09", 3), 0);
    unsigned char *first = buffer;
    EXPECT_FALSE(im.Encode(&buffer, &size, FORMAT_BMP));
    EXPECT_STREQ(im.GetLastError(), "the buffer must be empty");
    EXPECT_EQ(buffer, first);
    CDibImage::FreeEncodedBuffer(buffer);
    EXPECT_TRUE(im.IsValid());   // the codec was a ghost and freed nothing
    EXPECT_COLOR(im.GetPixelColor(0, 0), 7, 8, 9);

    // A codec's own refusal reaches the caller, and no buffer is handed out.
    CDibImage refused(3, 1, 8, FORMAT_UNKNOWN);
    refused.SetPaletteColor(1, 255, 0, 0);
    buffer = 0;
    EXPECT_FALSE(refused.Encode(&buffer, &size, FORMAT_JPG));
    EXPECT_STREQ(refused.GetLastError(), "JPEG can save only RGB or GreyScale images");
    EXPECT_EQ(buffer, nullptr);
}

// Every encoder checks the stream and the pixels itself; the WMF codec
// refuses any image, so an empty one hears that saving is not supported.
TEST(Dispatch, EveryCodecChecksStreamAndImage)
{
    const int formats[] = {FORMAT_BMP, FORMAT_GIF, FORMAT_JPG, FORMAT_PNG,
                           FORMAT_ICO, FORMAT_TIF, FORMAT_TGA, FORMAT_PCX};
    CDibImage im(2, 2, 8, FORMAT_UNKNOWN);
    im.SetGrayPalette();
    CDibImage empty;
    for (int format : formats) {
        EXPECT_FALSE(im.Encode((CByteStream *)0, format));
        EXPECT_STREQ(im.GetLastError(), "null file handler") << format;
        CMemStream s;
        s.Open();
        EXPECT_FALSE(empty.Encode(&s, format));
        EXPECT_STREQ(empty.GetLastError(), "null image!!!") << format;
        EXPECT_EQ(s.Size(), 0) << format;
    }
    CMemStream s;
    s.Open();
    EXPECT_FALSE(empty.Encode(&s, FORMAT_WMF));
    EXPECT_STREQ(empty.GetLastError(), "Save WMF not supported");
    EXPECT_FALSE(im.Encode(&s, FORMAT_WMF));
    EXPECT_STREQ(im.GetLastError(), "Save WMF not supported");
    EXPECT_EQ(s.Size(), 0);
}

// The JPEG codec object keeps its EXIF reader for its own life; the record
// it hands over carries no pointer into the reader.
TEST(Dispatch, JpegCodecOwnsItsExifReader)
{
    CDibImage source(8, 8, 24, FORMAT_UNKNOWN);
    FillRgb(source, Bgr(10, 20, 30));
    std::string jpeg = EncodeToBytes(source, FORMAT_JPG);
    CMemStream s((unsigned char *)jpeg.data(), (long)jpeg.size());
    CDibImageJPG codec;
    EXPECT_EQ(codec.exif, nullptr);
    ASSERT_TRUE(codec.Decode(&s)) << codec.GetLastError();
    EXPECT_NE(codec.exif, nullptr);
    EXPECT_EQ(codec.GetType(), FORMAT_JPG);
    EXPECT_EQ(codec.GetWidth(), 8);
    EXPECT_EQ(((const ExifRecord *)codec.info.exif)->thumbnailPointer, nullptr);
}
