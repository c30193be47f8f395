// The image object: block layout, creation limits, ownership, palette.
#include "imaging_testutil.h"
#include "testutil.h"

#include <string.h>

TEST(ImageCreate, ZeroOrNegativeSizeFailsWithText)
{
    CDibImage im(10, 10, 24, FORMAT_BMP);
    ASSERT_TRUE(im.IsValid());
    EXPECT_EQ(im.Create(0, 5, 24), nullptr);
    EXPECT_STREQ(im.GetLastError(), "CDibImage::Create : width and height must be greater than zero");
    EXPECT_FALSE(im.IsValid());
    // Two negative sides multiply to a positive size; still refused.
    EXPECT_EQ(im.Create(-100, -100, 24), nullptr);
    EXPECT_STREQ(im.GetLastError(), "CDibImage::Create : width and height must be greater than zero");
}

TEST(ImageCreate, DepthsAreMapped)
{
    CDibImage im;
    ASSERT_TRUE(im.Create(5, 4, 16));
    EXPECT_EQ(im.GetBpp(), 24);
    EXPECT_EQ(im.GetNumColors(), 0);
    ASSERT_TRUE(im.Create(5, 4, 32));
    EXPECT_EQ(im.GetBpp(), 24);
    ASSERT_TRUE(im.Create(5, 4, 2));
    EXPECT_EQ(im.GetBpp(), 4);
    ASSERT_EQ(im.GetNumColors(), 16);
    for (int i = 0; i < 16; i++)
        EXPECT_TRUE(SameColor(im.GetPaletteColor(i), Bgr(0, 0, 0)));
    ASSERT_TRUE(im.Create(5, 4, 0));
    EXPECT_EQ(im.GetBpp(), 1);
    EXPECT_EQ(im.GetNumColors(), 2);
    ASSERT_TRUE(im.Create(5, 4, 7));
    EXPECT_EQ(im.GetNumColors(), 256);
}

TEST(ImageCreate, MemoryLimit)
{
    CDibImage im;
    EXPECT_EQ(im.Create(32768, 32768, 24), nullptr);
    EXPECT_STREQ(im.GetLastError(), "DIBIMAGE_MAX_MEMORY exceeded");
    // Row padding counts: 1 x 300,000,000 at 24 bits is 0.9e9 pixel bytes but
    // 1.2e9 bytes of 4-byte rows, past the limit.
    EXPECT_EQ(im.Create(1, 300000000, 24), nullptr);
    EXPECT_STREQ(im.GetLastError(), "DIBIMAGE_MAX_MEMORY exceeded");
    // Huge widths must not wrap the stride computation into a small block.
    EXPECT_EQ(im.Create(0x7FFFFFFF, 1, 24), nullptr);
    EXPECT_STREQ(im.GetLastError(), "DIBIMAGE_MAX_MEMORY exceeded");
    // Exactly 2^30 passes the limit (the allocation itself may still fail here).
    im.SetError("");
    unsigned char *block = im.Create(32768, 32768, 8);
    if (!block)
        EXPECT_STREQ(im.GetLastError(), "CDibImage::Create can't allocate memory");
    im.Destroy();
}

TEST(ImageCreate, StrideAndLayout)
{
    CDibImage rgb(3, 2, 24, FORMAT_UNKNOWN);
    EXPECT_EQ(rgb.GetRowStride(), 12);
    EXPECT_EQ(rgb.GetSize(), 40 + 24);
    CDibImage mono(33, 3, 1, FORMAT_UNKNOWN);
    EXPECT_EQ(mono.GetRowStride(), 8);
    EXPECT_EQ(mono.GetSize(), 40 + 8 + 24);
    EXPECT_EQ(mono.GetBits(0), mono.GetDIB() + 40 + 8);
    EXPECT_EQ(mono.GetBits(2), mono.GetDIB() + 40 + 8 + 16);
    EXPECT_EQ(mono.GetBits(3), nullptr);
    EXPECT_EQ(mono.GetBits(-1), nullptr);
    const BITMAPINFOHEADER *h = (const BITMAPINFOHEADER *)mono.GetDIB();
    EXPECT_EQ(h->biSize, 40u);
    EXPECT_EQ(h->biWidth, 33);
    EXPECT_EQ(h->biHeight, 3);
    EXPECT_EQ(h->biPlanes, 1);
    EXPECT_EQ(h->biBitCount, 1);
    EXPECT_EQ(h->biCompression, (DWORD)BI_RGB);
    EXPECT_EQ(h->biSizeImage, 24u);
    EXPECT_EQ(h->biClrUsed, 2u);
    EXPECT_EQ(h->biXPelsPerMeter, 3780);
}

TEST(ImageDefaults, InformationBlock)
{
    CDibImage im(FORMAT_PNG);
    EXPECT_EQ(im.GetType(), FORMAT_PNG);
    EXPECT_EQ(im.GetTransIndex(), -1);
    EXPECT_EQ(im.GetJpegQuality(), 90);
    EXPECT_EQ(im.GetJpegScale(), 1);
    EXPECT_EQ(im.GetXDPI(), 96);
    EXPECT_EQ(im.info.alphaMax, 255);
    EXPECT_EQ(im.info.enabled, 1);
    EXPECT_EQ(im.info.littleEndianHost, 1);
    EXPECT_FALSE(im.IsValid());
    im.SetJpegQuality(300);   // low byte only
    EXPECT_EQ(im.GetJpegQuality(), 44);
}

TEST(ImageOwnership, GhostFreesNothing)
{
    CDibImage *source = new CDibImage(4, 4, 8, FORMAT_UNKNOWN);
    {
        CDibImage ghost;
        ghost.Ghost(*source);
        EXPECT_EQ(ghost.GetDIB(), source->GetDIB());
        EXPECT_FALSE(ghost.Destroy());
        EXPECT_FALSE(ghost.DestroyFrames());
        EXPECT_EQ(ghost.Create(2, 2, 24), nullptr);
        EXPECT_TRUE(ghost.IsValid());
    }
    EXPECT_TRUE(source->IsValid());
    source->Clear(7);
    EXPECT_EQ(source->GetPixelIndex(3, 3), 7);
    delete source;
}

// Bytes of busy blocks in every heap of the process: whatever malloc
// keeps is in one of these heaps.
static int64_t HeapBytesInUse()
{
    return ProcessMemoryInUse().heap;
}

// An image that owns a block, planes and a frame, made a ghost directly or
// through Copy from a ghost: what it owned is freed, the source stays whole.
static void OwnEverything(CDibImage &im)
{
    ASSERT_TRUE(im.Create(100, 100, 24));   // 30,040 bytes
    im.selection = (unsigned char *)malloc(100 * 100);
    im.alpha = (unsigned char *)malloc(100 * 100);
    ASSERT_TRUE(im.AddFrame(new CDibImage(50, 50, 24, FORMAT_GIF)));
}

TEST(ImageOwnership, GhostingAnImageThatOwnsBuffersFreesThem)
{
    CDibImage source(8, 8, 8, FORMAT_BMP), ghostSource;
    source.Clear(3);
    ghostSource.Ghost(source);
    int64_t before = HeapBytesInUse();
    {
        CDibImage direct, copied;
        OwnEverything(direct);
        OwnEverything(copied);
        ASSERT_GT(HeapBytesInUse() - before, 2 * 50000);
        direct.Ghost(source);
        copied.Copy(ghostSource);
        EXPECT_EQ(direct.GetDIB(), source.GetDIB());
        EXPECT_EQ(copied.GetDIB(), source.GetDIB());
        EXPECT_EQ(copied.info.ghostSource, &ghostSource);
        EXPECT_LT(HeapBytesInUse() - before, 1000);
    }
    EXPECT_LT(HeapBytesInUse() - before, 1000);
    EXPECT_EQ(source.GetPixelIndex(7, 7), 3);
}

TEST(ImageOwnership, TransferEmptiesSource)
{
    CDibImage src(3, 3, 24, FORMAT_JPG);
    src.SetError("old");
    unsigned char *block = src.GetDIB();
    CDibImage dst(5, 5, 8, FORMAT_BMP);
    ASSERT_TRUE(dst.Transfer(src, true));
    EXPECT_EQ(dst.GetDIB(), block);
    EXPECT_EQ(dst.GetType(), FORMAT_JPG);
    EXPECT_EQ(dst.GetWidth(), 3);
    EXPECT_FALSE(src.IsValid());
    ImageInfo zero;
    memset(&zero, 0, sizeof zero);
    EXPECT_EQ(memcmp(&src.info, &zero, sizeof zero), 0);
    EXPECT_EQ(src.GetType(), 0);
    EXPECT_STREQ(src.GetLastError(), "");
}

TEST(ImageOwnership, TransferWithoutFramesKeepsOwnFrameList)
{
    CDibImage dst(2, 2, 24, FORMAT_GIF);
    ASSERT_TRUE(dst.AddFrame(new CDibImage(1, 1, 24, FORMAT_GIF)));
    dst.info.frameCount = 1;
    CDibImage src(3, 3, 24, FORMAT_GIF);
    src.info.frameCount = 9;   // counted in a file, but no frames kept
    ASSERT_TRUE(dst.Transfer(src, false));
    EXPECT_EQ(dst.frameSlots, 1);
    EXPECT_EQ(dst.GetNumFrames(), 1);
    EXPECT_TRUE(dst.DestroyFrames());
    EXPECT_EQ(dst.frames, nullptr);
}

TEST(ImageOwnership, CopyDuplicatesPixelsAndPlanes)
{
    CDibImage src(4, 3, 4, FORMAT_PCX);
    src.SetPaletteColor(5, 1, 2, 3);
    src.Clear(5);
    src.selection = (unsigned char *)malloc(12);
    memset(src.selection, 0xAB, 12);
    CDibImage full(src, true, true, false);
    EXPECT_NE(full.GetDIB(), src.GetDIB());
    EXPECT_EQ(memcmp(full.GetDIB(), src.GetDIB(), src.GetSize()), 0);
    ASSERT_NE(full.selection, nullptr);
    EXPECT_NE(full.selection, src.selection);
    EXPECT_EQ(full.selection[11], 0xAB);
    EXPECT_EQ(full.alpha, nullptr);
    CDibImage paletteOnly(src, false, false, false);
    uint8_t r, g, b;
    ASSERT_TRUE(paletteOnly.GetPaletteColor(5, &r, &g, &b));
    EXPECT_EQ(r, 1);
    EXPECT_EQ(g, 2);
    EXPECT_EQ(b, 3);
    EXPECT_EQ(paletteOnly.GetType(), FORMAT_PCX);
}

TEST(ImageAccessors, TransparencyIndex)
{
    CDibImage pal(2, 2, 8, FORMAT_UNKNOWN);
    pal.SetTransIndex(300);
    EXPECT_EQ(pal.GetTransIndex(), 0);
    pal.SetTransIndex(200);
    EXPECT_EQ(pal.GetTransIndex(), 200);
    pal.SetPaletteColor(200, 9, 8, 7);
    EXPECT_COLOR(pal.GetTransColor(), 7, 8, 9);
    CDibImage rgb(2, 2, 24, FORMAT_UNKNOWN);
    rgb.SetTransIndex(5);
    EXPECT_EQ(rgb.GetTransIndex(), 0);
    rgb.SetTransIndex(-1);
    EXPECT_EQ(rgb.GetTransIndex(), -1);
    RGBQUAD c = {1, 2, 3, 0x77};
    rgb.SetTransColor(c);
    EXPECT_COLOR(rgb.GetTransColor(), 1, 2, 3);
}

TEST(ImageAccessors, DpiAndPixelsPerMetre)
{
    CDibImage im(2, 2, 24, FORMAT_UNKNOWN);
    im.SetXDPI(0);
    EXPECT_EQ(im.GetXDPI(), 96);
    EXPECT_EQ(im.head.biXPelsPerMeter, 3780);
    im.SetYDPI(300);
    EXPECT_EQ(im.head.biYPelsPerMeter, 11811);
    EXPECT_EQ(((BITMAPINFOHEADER *)im.GetDIB())->biYPelsPerMeter, 11811);
}

TEST(ImageAccessors, TypeAndCodecOptions)
{
    CDibImage im(FORMAT_PNG);
    EXPECT_FALSE(im.SetType(9));
    EXPECT_EQ(im.GetType(), 0);
    EXPECT_TRUE(im.SetType(FORMAT_WMF));
    EXPECT_FALSE(im.SetType(11));
    im.SetType(FORMAT_TGA);
    im.SetCodecOption(0x55, FORMAT_JPG);
    im.SetCodecOption(0x66);          // own format: TGA slot 7
    im.SetCodecOption(0x99, FORMAT_WMF);
    EXPECT_EQ(im.info.codecOptions[3], 0x55u);
    EXPECT_EQ(im.info.codecOptions[7], 0x66u);
    EXPECT_EQ(im.info.codecOptions[9], 0x99u);
    EXPECT_EQ(im.GetCodecOption(FORMAT_NONE), 0x66u);
}

TEST(ImageAccessors, ClrImportantBounds)
{
    CDibImage mono(2, 2, 1, FORMAT_UNKNOWN), eight(2, 2, 8, FORMAT_UNKNOWN);
    mono.SetClrImportant(7);
    EXPECT_EQ(mono.GetClrImportant(), 2);
    eight.SetClrImportant(300);
    EXPECT_EQ(eight.GetClrImportant(), 0);
    eight.SetClrImportant(40);
    EXPECT_EQ(eight.GetClrImportant(), 40);
}

TEST(ImageAccessors, ClearFillBytes)
{
    CDibImage four(3, 1, 4, FORMAT_UNKNOWN), mono(9, 1, 1, FORMAT_UNKNOWN);
    four.Clear(0x13);
    EXPECT_EQ(four.GetBits()[0], 0x33);
    mono.Clear(5);
    EXPECT_EQ(mono.GetBits()[1], 0xFF);
}

TEST(ImagePalette, SettersAndOrder)
{
    CDibImage im(2, 2, 4, FORMAT_UNKNOWN);
    const uint8_t triples[] = {10, 20, 30, 40, 50, 60};   // stored red, green, blue
    im.SetPalette(triples, 2);
    EXPECT_COLOR(im.GetPaletteColor(1), 60, 50, 40);
    const uint8_t red[] = {1, 2, 3};
    im.SetPalette(3, red, 0, 0);
    EXPECT_COLOR(im.GetPaletteColor(2), 3, 3, 3);
    RGBQUAD entries[20];
    memset(entries, 0x44, sizeof entries);
    im.SetPalette(entries, 20);   // cut to the 16 entries present
    EXPECT_EQ(im.GetPalette()[15].rgbRed, 0x44);
    EXPECT_COLOR(im.GetPaletteColor(16), 0, 0, 0);
    im.SetGrayPalette();
    EXPECT_COLOR(im.GetPaletteColor(1), 17, 17, 17);
    EXPECT_COLOR(im.GetPaletteColor(15), 255, 255, 255);
    uint8_t r, g, b;
    CDibImage mono(2, 2, 1, FORMAT_UNKNOWN);
    EXPECT_FALSE(mono.GetPaletteColor(200, &r, &g, &b));   // no entry 200 in two
    CDibImage rgb(2, 2, 24, FORMAT_UNKNOWN);
    EXPECT_FALSE(rgb.GetPaletteColor(0, &r, &g, &b));
    EXPECT_EQ(rgb.GetPalette(), nullptr);
}

TEST(ImagePalette, GrayScaleNeedsIdentityRamp)
{
    CDibImage im(2, 2, 8, FORMAT_UNKNOWN);
    EXPECT_FALSE(im.IsGrayScale());
    im.SetGrayPalette();
    EXPECT_TRUE(im.IsGrayScale());
    im.SetPaletteColor(7, 7, 7, 8);
    EXPECT_FALSE(im.IsGrayScale());
}

TEST(ImagePalette, SwapIndexRewritesPixels)
{
    CDibImage im(3, 2, 4, FORMAT_UNKNOWN);
    im.SetPaletteColor(1, 255, 0, 0);
    im.SetPaletteColor(2, 0, 255, 0);
    im.SetPixelIndex(0, 0, 1);
    im.SetPixelIndex(1, 0, 2);
    im.SetPixelIndex(2, 1, 3);
    im.SwapIndex(1, 2);
    EXPECT_EQ(im.GetPixelIndex(0, 0), 2);
    EXPECT_EQ(im.GetPixelIndex(1, 0), 1);
    EXPECT_EQ(im.GetPixelIndex(2, 1), 3);
    EXPECT_COLOR(im.GetPaletteColor(1), 0, 255, 0);
    EXPECT_COLOR(im.GetPixelColor(0, 0), 0, 0, 255);   // pixels keep their colour
    im.SwapIndex(1, 40);                                // out of range: nothing
    EXPECT_EQ(im.GetPixelIndex(0, 0), 2);
}

TEST(ImagePalette, NearestIndex)
{
    CDibImage rgb(2, 2, 24, FORMAT_UNKNOWN);
    EXPECT_EQ(rgb.GetNearestIndex(Bgr(1, 2, 3)), 0);
    CDibImage im(2, 2, 4, FORMAT_UNKNOWN);
    for (int i = 0; i < 16; i++)
        im.SetPaletteColor(i, (uint8_t)(i * 16), 0, 0);
    EXPECT_EQ(im.GetNearestIndex(Bgr(0, 0, 48)), 3);
    EXPECT_EQ(im.GetNearestIndex(Bgr(0, 0, 56)), 3);   // tie: the first one
    EXPECT_EQ(im.GetNearestIndex(Bgr(0, 0, 250)), 15);
    im.SetPaletteColor(15, 250, 0, 0);                  // invalidates the cache
    EXPECT_EQ(im.GetNearestIndex(Bgr(0, 0, 250)), 15);
    im.SetClrImportant(4);                              // only the first four count
    EXPECT_EQ(im.GetNearestIndex(Bgr(0, 0, 249)), 3);
    im.head.biClrImportant = 999;                       // a wild header stays in the palette
    EXPECT_EQ(im.GetNearestIndex(Bgr(0, 0, 251)), 15);
    EXPECT_EQ(im.GetNearestIndex(Bgr(255, 255, 255)), 15);
}

TEST(ImageHelpers, ColourOrderAndGreyCompare)
{
    RGBQUAD c = CDibImage::RGBtoRGBQUAD(0x00332211);   // red 0x11, green 0x22, blue 0x33
    EXPECT_COLOR(c, 0x33, 0x22, 0x11);
    RGBQUAD white = Bgr(255, 255, 255), black = Bgr(0, 0, 0);
    EXPECT_EQ(CDibImage::CompareColors(&white, &black), 255);
    CDibImage im(2, 1, 24, FORMAT_UNKNOWN);
    unsigned char row[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    im.RGBtoBGR(row, 9);   // only width x 3 = 6 bytes
    const unsigned char want[9] = {3, 2, 1, 6, 5, 4, 7, 8, 9};
    EXPECT_EQ(memcmp(row, want, 9), 0);
    im.info.littleEndianHost = 0;
    EXPECT_EQ(im.SwapLong(0x11223344u), 0x44332211u);
    EXPECT_EQ(im.SwapShort(0x1122), 0x2211);
}

TEST(ImageHelpers, BitfieldsToRgb)
{
    CDibImage im(3, 2, 24, FORMAT_BMP);
    // 5-6-5 rows are (3 + 1) / 2 * 4 = 8 bytes apart.
    unsigned char src[16] = {0};
    uint16_t px[3] = {0xF800, 0x07E0, 0x001F};
    memcpy(src + 8, px, 6);   // row 1
    EXPECT_TRUE(im.Bitfield2RGB(src, sizeof src, 0xF800, 0x07E0, 0x001F, 16));
    EXPECT_COLOR(im.GetPixelColor(0, 1), 0, 0, 0xF8);
    EXPECT_COLOR(im.GetPixelColor(1, 1), 0, 0xFC, 0);
    EXPECT_COLOR(im.GetPixelColor(2, 1), 0xF8, 0, 0);
    EXPECT_FALSE(im.Bitfield2RGB(src, 15, 0xF800, 0x07E0, 0x001F, 16));   // too short
    unsigned char src32[24] = {0};
    src32[0] = 0x11;   // blue in byte 0
    src32[1] = 0x22;
    src32[2] = 0x33;
    EXPECT_TRUE(im.Bitfield2RGB(src32, sizeof src32, 0xFF0000, 0xFF00, 0xFF, 32));
    EXPECT_COLOR(im.GetPixelColor(0, 0), 0x11, 0x22, 0x33);
}
