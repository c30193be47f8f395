// JPEG codec and EXIF reader against fixtures made by cjpeg, djpeg,
// ImageMagick and exiftool (make_jpeg_fixtures.sh), plus hand-built hostile
// segments and a short mutation fuzz run.
#include "imaging_testutil.h"
#include "../testutil.h"
#include "../../imaging/exif.h"
#include "../../imaging/jpegcodec.h"

#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

static const char *kFix = "jpegfix\\";

static std::string Fixture(const std::string &name)
{
    return ReadWhole(kFix + name);
}

// A binary PNM (P5 or P6) as rows top to bottom.
struct Pnm {
    int width = 0, height = 0, channels = 0;
    std::string pixels;
};

static bool ParsePnm(const std::string &data, Pnm *pnm)
{
    int maxval = 0;
    char magic[3] = {0};
    int used = 0;
    if (sscanf(data.c_str(), "%2s %d %d %d%n", magic, &pnm->width, &pnm->height, &maxval,
               &used) != 4 || maxval != 255)
        return false;
    pnm->channels = magic[1] == '6' ? 3 : 1;
    pnm->pixels = data.substr(used + 1);
    return pnm->pixels.size() == (size_t)pnm->width * pnm->height * pnm->channels;
}

// Largest per-channel difference and the mean one between an image and a
// PNM of the same size; -1 when the sizes differ.
static int CompareWithPnm(const CDibImage &im, const Pnm &pnm, double *mean = 0)
{
    if (im.GetWidth() != pnm.width || im.GetHeight() != pnm.height)
        return -1;
    int worst = 0;
    double total = 0;
    for (int row = 0; row < pnm.height; row++)
        for (int x = 0; x < pnm.width; x++) {
            RGBQUAD c = im.GetPixelColor(x, pnm.height - 1 - row);   // bottom-up DIB
            const unsigned char *p =
                (const unsigned char *)pnm.pixels.data() + (row * pnm.width + x) * pnm.channels;
            int mine[3] = {c.rgbRed, c.rgbGreen, c.rgbBlue};
            for (int k = 0; k < 3; k++) {
                int d = abs(mine[k] - p[pnm.channels == 3 ? k : 0]);
                worst = d > worst ? d : worst;
                total += d;
            }
        }
    if (mean)
        *mean = total / (3.0 * pnm.width * pnm.height);
    return worst;
}

static bool DecodeBytes(CDibImage &im, const std::string &bytes)
{
    return DecodeBytes(im, bytes, FORMAT_JPG);
}

static Pnm LoadPnm(const std::string &name)
{
    Pnm pnm;
    EXPECT_TRUE(ParsePnm(Fixture(name), &pnm)) << name;
    return pnm;
}

TEST(JpegDecode, MatchesDjpegExactly)
{
    CDibImage im;
    ASSERT_TRUE(DecodeBytes(im, Fixture("rgb.jpg"))) << im.GetLastError();
    EXPECT_EQ(im.GetBpp(), 24);
    EXPECT_EQ(im.GetType(), FORMAT_JPG);
    EXPECT_EQ(CompareWithPnm(im, LoadPnm("rgb_ref.ppm")), 0);
}

TEST(JpegDecode, ProgressiveGivesTheSamePixels)
{
    CDibImage im;
    ASSERT_TRUE(DecodeBytes(im, Fixture("progressive.jpg"))) << im.GetLastError();
    EXPECT_EQ(CompareWithPnm(im, LoadPnm("rgb_ref.ppm")), 0);
}

TEST(JpegDecode, ScaleHalfMatchesDjpeg)
{
    CDibImage im;
    im.info.jpegScale = 2;
    ASSERT_TRUE(DecodeBytes(im, Fixture("rgb.jpg"))) << im.GetLastError();
    EXPECT_EQ(CompareWithPnm(im, LoadPnm("rgb_half_ref.ppm")), 0);
}

TEST(JpegDecode, GreyscaleIsEightBitWithRamp)
{
    CDibImage im;
    ASSERT_TRUE(DecodeBytes(im, Fixture("gray.jpg"))) << im.GetLastError();
    EXPECT_EQ(im.GetBpp(), 8);
    EXPECT_EQ(im.GetNumColors(), 256);
    EXPECT_TRUE(im.IsGrayScale());
    EXPECT_EQ(CompareWithPnm(im, LoadPnm("gray_ref.pgm")), 0);
}

// ImageMagick's RGB to CMYK conversion is naive, so the picture comes back
// close to the source but not equal: mean error 6 at most.
TEST(JpegDecode, CmykBecomesTrueColour)
{
    CDibImage im;
    ASSERT_TRUE(DecodeBytes(im, Fixture("cmyk.jpg"))) << im.GetLastError();
    EXPECT_EQ(im.GetBpp(), 24);
    double mean = 99;
    EXPECT_GE(CompareWithPnm(im, LoadPnm("rgb.ppm"), &mean), 0);
    EXPECT_LT(mean, 6.0);
}

TEST(JpegDecode, ResolutionFromJfifAndExif)
{
    CDibImage cm, none, exif;
    ASSERT_TRUE(DecodeBytes(cm, Fixture("dens_cm.jpg")));
    EXPECT_EQ(cm.GetXDPI(), 71);
    EXPECT_EQ(cm.GetYDPI(), 71);
    ASSERT_TRUE(DecodeBytes(none, Fixture("dens_none.jpg")));
    EXPECT_EQ(none.GetXDPI(), 96);
    EXPECT_EQ(none.GetYDPI(), 192);
    ASSERT_TRUE(DecodeBytes(exif, Fixture("exif_MM.jpg")));
    EXPECT_EQ(exif.GetXDPI(), 300);
    EXPECT_EQ(exif.GetYDPI(), 150);
}

TEST(JpegDecode, EscapeMinusOneStopsAtTheSize)
{
    CDibImage im;
    im.SetEscape(-1);
    ASSERT_TRUE(DecodeBytes(im, Fixture("rgb.jpg")));
    EXPECT_EQ(im.GetWidth(), 37);
    EXPECT_EQ(im.GetHeight(), 23);
    EXPECT_EQ(im.GetType(), FORMAT_JPG);
    EXPECT_FALSE(im.IsValid());
}

TEST(JpegDecode, OtherEscapeCancels)
{
    CDibImage im;
    im.SetEscape(1);
    EXPECT_FALSE(DecodeBytes(im, Fixture("rgb.jpg")));
    EXPECT_FALSE(im.IsValid());
}

TEST(JpegDecode, EmptyAndTruncatedInput)
{
    CMemStream empty;
    CDibImageJPG out;
    EXPECT_FALSE(out.Decode(&empty));
    EXPECT_STREQ(out.GetLastError(), "Empty input file");

    std::string whole = Fixture("rgb.jpg");
    CDibImage cut;
    size_t scan = whole.find("\xFF\xDA");
    ASSERT_NE(scan, std::string::npos);
    ASSERT_TRUE(DecodeBytes(cut, whole.substr(0, scan + 40))) << cut.GetLastError();
    EXPECT_EQ(cut.GetWidth(), 37);

    CDibImage headerOnly;   // cut inside the header: the library's own error
    EXPECT_FALSE(DecodeBytes(headerOnly, whole.substr(0, 40)));
    EXPECT_NE(headerOnly.GetLastError()[0], 0);
}

TEST(JpegDecode, ExifFieldsMatchWhatExiftoolWrote)
{
    const char *orders[2] = {"exif_II.jpg", "exif_MM.jpg"};
    int thumbSize = atoi(Fixture("thumb.size").c_str());
    for (int i = 0; i < 2; i++) {
        CDibImage im;
        ASSERT_TRUE(DecodeBytes(im, Fixture(orders[i]))) << orders[i];
        const ExifRecord *r = (const ExifRecord *)im.info.exif;
        EXPECT_TRUE(r->isExif) << orders[i];
        EXPECT_STREQ(r->cameraMake, "Acme");
        EXPECT_STREQ(r->cameraModel, "Cam 9");
        EXPECT_STREQ(r->dateTime, "2024:05:06 07:08:09");
        EXPECT_STREQ(r->version, "0232");
        EXPECT_EQ(r->orientation, 6);
        EXPECT_EQ(r->flashUsed, 1);
        EXPECT_FLOAT_EQ(r->apertureFNumber, 2.8f);
        EXPECT_FLOAT_EQ(r->exposureTime, 1.0f / 125);
        EXPECT_FLOAT_EQ(r->focalLength, 35.0f);
        EXPECT_EQ(r->isoEquivalent, 200);
        EXPECT_EQ(r->exposureProgram, 2);
        EXPECT_EQ(r->meteringMode, 5);
        EXPECT_FLOAT_EQ(r->xResolution, 300.0f);
        EXPECT_FLOAT_EQ(r->resolutionUnit, 1.0f);
        EXPECT_STREQ(r->comments, "Hello");
        EXPECT_EQ(r->width, 37);
        EXPECT_EQ(r->height, 23);
        EXPECT_EQ(r->isColor, 1);
        EXPECT_EQ(r->process, 0xC0);
        EXPECT_EQ((int)r->thumbnailSize, thumbSize);
        // The reader that owned the thumbnail bytes is gone with the decode.
        EXPECT_TRUE(r->thumbnailPointer == 0);
    }
}

TEST(ExifReader, ThumbnailPointsAtTheEmbeddedJpeg)
{
    std::string bytes = Fixture("exif_II.jpg");
    CMemStream stream((unsigned char *)bytes.data(), (long)bytes.size());
    ExifReader reader;
    ASSERT_TRUE(reader.Scan(&stream));
    ASSERT_TRUE(reader.record->thumbnailPointer != 0);
    EXPECT_EQ(reader.record->thumbnailPointer[0], 0xFF);
    EXPECT_EQ(reader.record->thumbnailPointer[1], 0xD8);
}

// Encode, then let the host's djpeg read the file back.
static int RunDjpeg(const std::string &name, std::string *report)
{
    return RunHostScript("jpegfix\\enc", "djpeg -dct int " + name + ".jpg > " + name + ".pnm",
                         report);
}

TEST(JpegEncode, TrueColourReadsBackInDjpeg)
{
    CDibImage src;
    ASSERT_TRUE(DecodeBytes(src, Fixture("rgb.jpg")));
    src.SetXDPI(300);
    src.SetYDPI(300);
    unsigned char *buffer = 0;
    int32_t size = 0;
    ASSERT_TRUE(src.Encode(&buffer, &size, FORMAT_JPG)) << src.GetLastError();
    WriteWhole("jpegfix\\enc\\rgb.jpg", std::string((char *)buffer, size));
    CDibImage again;
    ASSERT_TRUE(again.Decode(buffer, size, FORMAT_JPG));
    CDibImage::FreeEncodedBuffer(buffer);
    EXPECT_EQ(again.GetXDPI(), 300);   // JFIF unit 1, density 300 x 300
    EXPECT_EQ(again.GetYDPI(), 300);

    std::string report;
    int ran = RunDjpeg("rgb", &report);
    VT_REQUIRE_OR_SKIP(ran != 1, "Wine cannot start host programs here");
    ASSERT_EQ(ran, 0) << report;
    Pnm back;
    ASSERT_TRUE(ParsePnm(ReadWhole("jpegfix\\enc\\rgb.pnm"), &back)) << report;
    EXPECT_EQ(back.channels, 3);
    double mean = 99;
    // Quality 90 re-encoding of a noisy picture: small mean error.
    EXPECT_GE(CompareWithPnm(src, back, &mean), 0);
    EXPECT_LT(mean, 4.0);
}

TEST(JpegEncode, GreyRampWritesOneComponent)
{
    CDibImage src;
    ASSERT_TRUE(DecodeBytes(src, Fixture("gray.jpg")));
    unsigned char *buffer = 0;
    int32_t size = 0;
    ASSERT_TRUE(src.Encode(&buffer, &size, FORMAT_JPG)) << src.GetLastError();
    WriteWhole("jpegfix\\enc\\gray.jpg", std::string((char *)buffer, size));
    CDibImage::FreeEncodedBuffer(buffer);
    std::string report;
    int ran = RunDjpeg("gray", &report);
    VT_REQUIRE_OR_SKIP(ran != 1, "Wine cannot start host programs here");
    ASSERT_EQ(ran, 0) << report;
    Pnm back;
    ASSERT_TRUE(ParsePnm(ReadWhole("jpegfix\\enc\\gray.pnm"), &back)) << report;
    EXPECT_EQ(back.channels, 1);
    double mean = 99;
    EXPECT_GE(CompareWithPnm(src, back, &mean), 0);
    EXPECT_LT(mean, 3.0);
}

TEST(JpegEncode, ColourPaletteIsRefused)
{
    CDibImage src(8, 8, 4, FORMAT_BMP);
    src.SetPaletteColor(1, 200, 10, 10);
    CMemStream out;
    EXPECT_FALSE(src.Encode(&out, FORMAT_JPG));
    EXPECT_STREQ(src.GetLastError(), "JPEG can save only RGB or GreyScale images");
}

// A 32-bit image is written from its pixels, not from raw 4-byte rows.
TEST(JpegEncode, ThirtyTwoBitImageKeepsItsColours)
{
    CDibImage src(16, 16, 32, FORMAT_BMP);
    ASSERT_TRUE(src.IsValid());
    FillRgb(src, Bgr(30, 160, 220));
    unsigned char *buffer = 0;
    int32_t size = 0;
    ASSERT_TRUE(src.Encode(&buffer, &size, FORMAT_JPG)) << src.GetLastError();
    CDibImage back;
    ASSERT_TRUE(back.Decode(buffer, size, FORMAT_JPG));
    CDibImage::FreeEncodedBuffer(buffer);
    RGBQUAD c = back.GetPixelColor(8, 8);
    EXPECT_NEAR(c.rgbBlue, 30, 4);
    EXPECT_NEAR(c.rgbGreen, 160, 4);
    EXPECT_NEAR(c.rgbRed, 220, 4);
}

class FailingStream : public CMemStream {
public:
    virtual size_t Write(const void *, size_t, size_t) { return 0; }
};

TEST(JpegEncode, ShortWriteFails)
{
    CDibImage src(8, 8, 24, FORMAT_BMP);
    FailingStream out;
    EXPECT_FALSE(src.Encode(&out, FORMAT_JPG));
    EXPECT_TRUE(strstr(src.GetLastError(), "write error") != 0) << src.GetLastError();
}

// Hand-built segments

static void Put16(std::string &s, int v, bool big)
{
    s += big ? (char)(v >> 8) : (char)v;
    s += big ? (char)v : (char)(v >> 8);
}

static void Put32(std::string &s, uint32_t v)   // Intel order
{
    for (int i = 0; i < 4; i++)
        s += (char)(v >> (8 * i));
}

static std::string Segment(int marker, const std::string &body)
{
    std::string s = "\xFF";
    s += (char)marker;
    Put16(s, (int)body.size() + 2, true);
    return s + body;
}

struct Entry {
    int tag, format;
    uint32_t count, value;
};

// An Intel-order EXIF block ("Exif\0\0" + TIFF) with one directory at 8.
static std::string ExifBlock(const std::vector<Entry> &entries, uint32_t link = 0,
                             const std::string &tail = "")
{
    std::string t = "II";
    Put16(t, 42, false);
    Put32(t, 8);
    Put16(t, (int)entries.size(), false);
    for (const Entry &e : entries) {
        Put16(t, e.tag, false);
        Put16(t, e.format, false);
        Put32(t, e.count);
        Put32(t, e.value);
    }
    Put32(t, link);
    return std::string("Exif\0\0", 6) + t + tail;
}

static bool ProcessBlock(ExifReader &reader, const std::string &block)
{
    return reader.ProcessExif((const unsigned char *)block.data(), (uint32_t)block.size());
}

static bool ScanBytes(ExifReader &reader, const std::string &bytes)
{
    CMemStream stream((unsigned char *)bytes.data(), (long)bytes.size());
    return reader.Scan(&stream);
}

TEST(ExifReader, IsoShutterAndOrientationRules)
{
    ExifReader reader;
    ASSERT_TRUE(ProcessBlock(reader, ExifBlock({{34855, 3, 1, 2}, {37377, 9, 1, 0}, {274, 3, 1, 9}})));
    EXPECT_EQ(reader.record->isoEquivalent, 400);
    EXPECT_EQ(reader.record->orientation, 0);
    EXPECT_STREQ(reader.lastError, "Undefined rotation value");
}

TEST(ExifReader, ShutterSpeedThenExposureTime)
{
    // Rationals 5/1 and 1/100 after the directory: at 26 after one entry, at 38 after two.
    std::string tail;
    Put32(tail, 5), Put32(tail, 1), Put32(tail, 1), Put32(tail, 100);
    ExifReader shutterOnly;
    ASSERT_TRUE(ProcessBlock(shutterOnly, ExifBlock({{37377, 10, 1, 26}}, 0, tail)));
    EXPECT_FLOAT_EQ(shutterOnly.record->exposureTime, 1.0f / 32);
    ExifReader both;
    ASSERT_TRUE(ProcessBlock(both, ExifBlock({{37377, 10, 1, 38}, {33434, 5, 1, 46}}, 0, tail)));
    EXPECT_FLOAT_EQ(both.record->exposureTime, 0.01f);
}

TEST(ExifReader, AsciiUserComment)
{
    std::string comment("ASCII\0\0\0Hello   ", 16);
    ExifReader reader;
    ASSERT_TRUE(ProcessBlock(reader, ExifBlock({{37510, 7, 16, 26}}, 0, comment)));
    EXPECT_STREQ(reader.record->comments, "Hello");
}

TEST(ExifReader, CommentSegment)
{
    std::string jpeg = "\xFF\xD8" + Segment(0xFE, "a\r\nb\x07") + Segment(0xDA, "xx");
    ExifReader reader;
    ASSERT_TRUE(ScanBytes(reader, jpeg));
    EXPECT_STREQ(reader.record->comments, "a\nb?");
}

TEST(ExifReader, SelfLinkedSubdirectoryStopsAtNesting)
{
    // The first directory links to one at 26 whose EXIF link points to itself.
    std::string self;
    Put16(self, 1, false);
    Put16(self, 34665, false), Put16(self, 4, false), Put32(self, 1), Put32(self, 26);
    Put32(self, 0);
    ExifReader reader;
    ProcessBlock(reader, ExifBlock({{34665, 4, 1, 26}}, 0, self));
    EXPECT_STREQ(reader.lastError, "Maximum directory nesting exceeded (corrupt exif header)");
}

TEST(ExifReader, TwentySectionsAreTooMany)
{
    std::string jpeg = "\xFF\xD8";
    for (int i = 0; i < 20; i++)
        jpeg += Segment(0xDB, "q");
    jpeg += Segment(0xDA, "xx");
    ExifReader reader;
    EXPECT_FALSE(ScanBytes(reader, jpeg));
    EXPECT_STREQ(reader.lastError, "Too many sections in jpg file");
}

TEST(ExifReader, TinySegmentsAreRejectedOrIgnored)
{
    ExifReader sof;   // a 4-byte frame segment has no size fields to read
    EXPECT_TRUE(ScanBytes(sof, "\xFF\xD8" + Segment(0xC0, "\x08\x01") + Segment(0xDA, "x")));
    EXPECT_EQ(sof.record->height, 0);
    EXPECT_EQ(sof.record->process, 0);

    ExifReader shortTiff;   // "Exif\0\0" and 7 TIFF bytes: no room for the header
    EXPECT_FALSE(ProcessBlock(shortTiff, std::string("Exif\0\0II\x2A\0\x08\0\0", 13)));
    EXPECT_STREQ(shortTiff.lastError, "Invalid Exif start (1)");

    ExifReader app1;   // an APP1 of only "Ex" is no EXIF block
    EXPECT_TRUE(ScanBytes(app1, "\xFF\xD8" + Segment(0xE1, "Ex") + Segment(0xDA, "x")));
    EXPECT_FALSE(app1.record->isExif);

    ExifReader length;
    EXPECT_FALSE(ScanBytes(length, std::string("\xFF\xD8\xFF\xDB\x00\x01", 6)));
    EXPECT_STREQ(length.lastError, "invalid marker");

    ExifReader cut;
    EXPECT_FALSE(ScanBytes(cut, std::string("\xFF\xD8\xFF\xDB\x00\x10\x01", 7)));
    EXPECT_STREQ(cut.lastError, "Premature end of file?");
}

TEST(ExifReader, WrappingOffsetsAreCaught)
{
    // 0x40000001 longs: 2^32 + 4 bytes, which wraps to 4 in 32 bits.
    ExifReader count;
    EXPECT_FALSE(ProcessBlock(count, ExifBlock({{282, 4, 0x40000001, 0xFFFFFFF0}})));
    EXPECT_STREQ(count.lastError, "Illegal pointer offset value in EXIF.");

    ExifReader offset;   // offset near 2^32 with a small count
    EXPECT_FALSE(ProcessBlock(offset, ExifBlock({{271, 2, 16, 0xFFFFFFF8}})));
    EXPECT_STREQ(offset.lastError, "Illegal pointer offset value in EXIF.");

    ExifReader link;
    EXPECT_FALSE(ProcessBlock(link, ExifBlock({{34665, 4, 1, 0xFFFFFFFF}})));
    EXPECT_STREQ(link.lastError, "Illegal subdirectory link");

    ExifReader next;
    EXPECT_FALSE(ProcessBlock(next, ExifBlock({}, 0xFFFFFFF0)));
    EXPECT_STREQ(next.lastError, "Illegal subdirectory link");

    ExifReader thumb;   // offset + size wraps past 2^32: no thumbnail
    EXPECT_TRUE(ProcessBlock(thumb, ExifBlock({{513, 4, 1, 0xFFFFFFF0}, {514, 4, 1, 0x20}})));
    EXPECT_TRUE(thumb.record->thumbnailPointer == 0);

    ExifReader entries;   // more entries than the block holds
    std::string block = ExifBlock({});
    block[14] = (char)0xFF, block[15] = (char)0xFF;
    EXPECT_FALSE(ProcessBlock(entries, block));
    EXPECT_STREQ(entries.lastError, "Illegally sized directory");

    ExifReader format;
    EXPECT_FALSE(ProcessBlock(format, ExifBlock({{271, 13, 1, 0}})));
    EXPECT_STREQ(format.lastError, "Illegal format code in EXIF dir");
}

TEST(ExifReader, BadHeaders)
{
    ExifReader align;
    std::string block = ExifBlock({});
    block[6] = 'X';
    EXPECT_FALSE(ProcessBlock(align, block));
    EXPECT_STREQ(align.lastError, "Invalid Exif alignment marker.");
    ExifReader header;
    EXPECT_FALSE(ProcessBlock(header, "Exif!!" + ExifBlock({}).substr(6)));
    EXPECT_STREQ(header.lastError, "Incorrect Exif header");
}

// Random byte mutations of the fixtures must only ever fail cleanly.
TEST(JpegFuzz, MutatedFixturesNeverCrash)
{
    const char *names[3] = {"rgb.jpg", "exif_II.jpg", "progressive.jpg"};
    uint32_t seed = 12345;
    DWORD start = GetTickCount();
    int runs = 0;
    for (; runs < 3000 && GetTickCount() - start < 3000; runs++) {
        std::string bytes = Fixture(names[runs % 3]);
        ASSERT_FALSE(bytes.empty());
        seed = seed * 1103515245u + 12345u;
        int edits = 1 + (seed >> 16) % 8;
        for (int e = 0; e < edits; e++) {
            seed = seed * 1103515245u + 12345u;
            size_t at = (seed >> 8) % bytes.size();
            seed = seed * 1103515245u + 12345u;
            bytes[at] = (char)(seed >> 16);
        }
        if ((seed >> 12) % 4 == 0)
            bytes.resize((seed >> 4) % bytes.size() + 1);
        CDibImage im;
        DecodeBytes(im, bytes);
        ExifReader reader;
        ScanBytes(reader, bytes);
    }
    EXPECT_GT(runs, 50);
}
