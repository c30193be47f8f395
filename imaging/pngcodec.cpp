// PNG codec over libpng. Every byte passes through a CByteStream; libpng
// errors longjmp back to the codec's recovery point.
//
// Decoded images are 1, 4, 8 or 24 bits: 2-bit files become 4-bit, 16-bit
// samples keep their high byte, and alpha channels are dropped (a palette's
// tRNS alphas go into the palette's fourth bytes).
#include "pngcodec.h"
#include "stream.h"

#include <png.h>
#include <setjmp.h>
#include <stdlib.h>
#include <string.h>

CDibImagePNG::CDibImagePNG() : CDibImage(FORMAT_PNG) {}

static const char kErrCreate[] = "Failed to create PNG structure";
static const char kErrInfo[] = "Failed to initialize PNG info structure";
static const char kErrColorType[] = "unknown PNG color type";
static const char kErrSave[] = "Error saving PNG file";

// What the callbacks reach through libpng's user pointers. Fields written
// after setjmp and read after longjmp are volatile.
struct PngContext {
    CByteStream *stream;
    CDibImage *image;                 // its last-error text takes libpng's messages
    unsigned char *volatile rowBuffer;
    volatile int swappedIndex;        // encode: palette entry swapped with 0, or 0
};

static void PngError(png_structp png, png_const_charp message)
{
    PngContext *ctx = (PngContext *)png_get_error_ptr(png);
    if (ctx && ctx->image && message) {
        strncpy(ctx->image->info.lastError, message, 255);
        ctx->image->info.lastError[255] = 0;
    }
    png_longjmp(png, 1);
}

// Warnings are not failures; keep them off the console.
static void PngWarning(png_structp, png_const_charp) {}

static void PngRead(png_structp png, png_bytep data, png_size_t length)
{
    PngContext *ctx = (PngContext *)png_get_io_ptr(png);
    if (ctx->stream->Read(data, 1, length) != length)
        png_error(png, "Read Error");
}

static void PngWrite(png_structp png, png_bytep data, png_size_t length)
{
    PngContext *ctx = (PngContext *)png_get_io_ptr(png);
    if (ctx->stream->Write(data, 1, length) != length)
        png_error(png, "Write Error");
}

static void PngFlush(png_structp png)
{
    PngContext *ctx = (PngContext *)png_get_io_ptr(png);
    if (!ctx->stream->Flush())
        png_error(png, "Flush Error");
}

// The codec's own abort: back to the recovery point without a new message.
static void PngAbort(png_structp png)
{
    png_longjmp(png, 1);
}

// ---------------------------------------------------------------- decode

static int ChannelsOf(int colorType)
{
    switch (colorType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE: return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 0;
    }
}

static int ImageDepthOf(int channels, int bitDepth)
{
    if (channels >= 3)
        return 24;
    if (channels == 2 || bitDepth > 8)
        return 8;
    return bitDepth;
}

static void ReadResolution(png_structp png, png_infop info, CDibImage *out)
{
    png_uint_32 xRes, yRes;
    int unit;
    if (!png_get_pHYs(png, info, &xRes, &yRes, &unit))
        return;
    if (unit == PNG_RESOLUTION_METER) {
        xRes = (png_uint_32)((double)xRes * 254 / 10000 + 0.5);
        yRes = (png_uint_32)((double)yRes * 254 / 10000 + 0.5);
    }
    out->SetXDPI((int)xRes);
    out->SetYDPI((int)yRes);
}

static void ReadPalette(png_structp png, png_infop info, CDibImage *out, int bitDepth)
{
    png_colorp palette;
    int count;
    if (png_get_PLTE(png, info, &palette, &count)) {
        out->SetPalette((const uint8_t *)palette, count);
        out->SetClrImportant(count);
    } else if (bitDepth == 2) {
        out->SetPaletteColor(0, 0, 0, 0);
        out->SetPaletteColor(1, 85, 85, 85);
        out->SetPaletteColor(2, 170, 170, 170);
        out->SetPaletteColor(3, 255, 255, 255);
    } else {
        out->SetGrayPalette();
    }
}

static void ReadTransparency(png_structp png, png_infop info, CDibImage *out, int colorType,
                             int bitDepth)
{
    png_bytep alphas;
    int count;
    png_color_16p color;
    int shift = bitDepth == 16 ? 8 : 0;
    if (!png_get_tRNS(png, info, &alphas, &count, &color) || count == 0)
        return;
    bool hasPalette = png_get_valid(png, info, PNG_INFO_PLTE) != 0;
    if (count == 1) {
        if (colorType == PNG_COLOR_TYPE_PALETTE)
            out->info.backgroundIndex = color ? color->index : 0;
        else
            out->info.backgroundIndex = color ? color->gray >> shift : 0;
    } else if (hasPalette && alphas) {
        RGBQUAD *pal = out->GetPalette();
        int n = out->GetNumColors();
        for (int i = 0; pal && i < n; i++)
            pal[i].rgbReserved = i < count ? alphas[i] : 255;
        out->info.alphaPaletteEnabled = 1;
    }
    if (colorType == PNG_COLOR_TYPE_RGB && color) {
        RGBQUAD c = {(BYTE)(color->blue >> shift), (BYTE)(color->green >> shift),
                     (BYTE)(color->red >> shift), 0};
        out->info.backgroundColor = c;
        out->info.backgroundIndex = 0;
    }
}

// Spreads 2-bit pixels into 4-bit ones in place, last pixel first.
static void Expand2To4(unsigned char *row, int width)
{
    for (int x = width - 1; x >= 0; x--) {
        int v = (row[x >> 2] >> (6 - 2 * (x & 3))) & 3;
        unsigned char *d = row + (x >> 1);
        if (x & 1)
            *d = (unsigned char)((*d & 0xF0) | v);
        else
            *d = (unsigned char)((*d & 0x0F) | (v << 4));
    }
}

static void ReadRows(png_structp png, PngContext *ctx, int passes, int bitDepth,
                     size_t rowBytes)
{
    CDibImage *out = ctx->image;
    int height = out->GetHeight(), stride = out->GetRowStride();
    size_t copyBytes = rowBytes < (size_t)stride ? rowBytes : (size_t)stride;
    unsigned char *buffer = ctx->rowBuffer;
    for (int pass = 0; pass < passes; pass++) {
        for (int y = 0; y < height; y++) {
            if (out->IsCancelled())
                PngAbort(png);
            unsigned char *row = out->info.pixels + (size_t)(height - 1 - y) * stride;
            // libpng merges a later pass into what the earlier ones left.
            if (pass > 0)
                memcpy(buffer, row, copyBytes);
            png_read_row(png, buffer, 0);
            memcpy(row, buffer, copyBytes);
            if (bitDepth == 2 && pass == passes - 1)
                Expand2To4(row, out->GetWidth());
        }
    }
}

static bool DecodeWithRecovery(png_structp png, png_infop info, PngContext *ctx)
{
    CDibImage *out = ctx->image;
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_read_fn(png, ctx, PngRead);
    png_read_info(png, info);
    int width = (int)png_get_image_width(png, info);
    int height = (int)png_get_image_height(png, info);
    int colorType = png_get_color_type(png, info);
    int bitDepth = png_get_bit_depth(png, info);
    if (out->info.escape == -1) {
        out->head.biWidth = width;
        out->head.biHeight = height;
        out->info.format = FORMAT_PNG;
        return true;
    }
    int channels = ChannelsOf(colorType);
    if (!channels) {
        out->SetError(kErrColorType);
        PngAbort(png);
    }
    if (!out->Create(width, height, ImageDepthOf(channels, bitDepth), FORMAT_PNG))
        PngAbort(png);
    ReadResolution(png, info, out);
    ReadPalette(png, info, out, bitDepth);
    ReadTransparency(png, info, out, colorType, bitDepth);
    if (bitDepth == 16)
        png_set_strip_16(png);      // keeps the most significant byte
    if (colorType & PNG_COLOR_MASK_ALPHA)
        png_set_strip_alpha(png);
    if (colorType & PNG_COLOR_MASK_COLOR)
        png_set_bgr(png);
    if (out->IsCancelled())
        PngAbort(png);
    int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    size_t rowBytes = png_get_rowbytes(png, info);
    ctx->rowBuffer = (unsigned char *)malloc(rowBytes + 8);
    if (!ctx->rowBuffer)
        png_error(png, "Out of memory");
    uint32_t option = out->GetCodecOption(FORMAT_PNG);
    out->SetCodecOption(passes > 1 ? option | 1 : option & ~1u, FORMAT_PNG);
    ReadRows(png, ctx, passes, bitDepth, rowBytes);
    png_read_end(png, 0);
    return true;
}

bool CDibImagePNG::Decode(CByteStream *stream)
{
    PngContext ctx = {stream, this, 0, 0};
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, &ctx, PngError, PngWarning);
    if (!png) {
        SetError(kErrCreate);
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, 0, 0);
        SetError(kErrInfo);
        return false;
    }
    bool ok = DecodeWithRecovery(png, info, &ctx);
    free(ctx.rowBuffer);
    png_destroy_read_struct(&png, &info, 0);
    return ok;
}

// ---------------------------------------------------------------- encode

static int CompressionLevelOf(uint32_t option)
{
    switch (option & 0xE) {
    case 2: return 0;
    case 4: return 1;
    case 6: return 9;
    default: return -1;
    }
}

static void WriteBackgroundAndTransparency(png_structp png, png_infop info, PngContext *ctx,
                                           int colorType)
{
    CDibImage *im = ctx->image;
    int index = im->info.backgroundIndex;
    png_color_16 background = {0, 255, 255, 255, 0};
    if (index >= 0) {
        RGBQUAD c = im->GetTransColor();
        background.red = c.rgbRed;
        background.green = c.rgbGreen;
        background.blue = c.rgbBlue;
    }
    png_set_bKGD(png, info, &background);
    if (index < 0)
        return;
    if (colorType == PNG_COLOR_TYPE_PALETTE && index > 0 && index < im->GetNumColors()) {
        // The single tRNS alpha belongs to entry 0, so move the colour there.
        im->SwapIndex(0, index);
        ctx->swappedIndex = index;
    }
    RGBQUAD c = im->GetTransColor();
    png_color_16 trans = {(png_byte)index, c.rgbRed, c.rgbGreen, c.rgbBlue,
                          (png_uint_16)index};
    png_byte alpha = 0;
    png_set_tRNS(png, info, &alpha, 1, &trans);
}

// PLTE (and an alpha tRNS) for palette images. The palette copy must live
// until the info is written; libpng copies it at once.
static void WritePalette(png_structp png, png_infop info, CDibImage *im, int bitDepth)
{
    int count = im->GetClrImportant();
    if (count == 0 || count > im->GetNumColors())
        count = im->GetNumColors();
    if (count > (1 << bitDepth))
        count = 1 << bitDepth;
    png_color palette[256];
    png_byte alphas[256];
    RGBQUAD *pal = im->GetPalette();
    for (int i = 0; i < count; i++) {
        palette[i].red = pal[i].rgbRed;
        palette[i].green = pal[i].rgbGreen;
        palette[i].blue = pal[i].rgbBlue;
        alphas[i] = pal[i].rgbReserved;
    }
    png_set_PLTE(png, info, palette, count);
    if (im->info.alphaPaletteEnabled)
        png_set_tRNS(png, info, alphas, count, 0);
}

static void WriteRows(png_structp png, PngContext *ctx, int passes, size_t rowBytes)
{
    CDibImage *im = ctx->image;
    int height = im->GetHeight(), stride = im->GetRowStride();
    size_t copyBytes = rowBytes < (size_t)stride ? rowBytes : (size_t)stride;
    for (int pass = 0; pass < passes; pass++)
        for (int y = 0; y < height; y++) {
            memcpy(ctx->rowBuffer, im->info.pixels + (size_t)(height - 1 - y) * stride,
                   copyBytes);
            png_write_row(png, ctx->rowBuffer);
        }
}

static bool EncodeWithRecovery(png_structp png, png_infop info, PngContext *ctx)
{
    CDibImage *im = ctx->image;
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, ctx, PngWrite, PngFlush);
    int width = im->GetWidth(), height = im->GetHeight(), bpp = im->GetBpp();
    int channels = bpp > 8 ? 3 : 1;
    int bitDepth = bpp / channels;
    uint32_t option = im->GetCodecOption(FORMAT_PNG);
    int colorType = !im->IsIndexed()     ? PNG_COLOR_TYPE_RGB
                    : im->IsGrayScale() ? PNG_COLOR_TYPE_GRAY
                                        : PNG_COLOR_TYPE_PALETTE;
    int level = CompressionLevelOf(option);
    if (level >= 0)
        png_set_compression_level(png, level);
    png_set_IHDR(png, info, width, height, bitDepth, colorType,
                 (option & 1) ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    WriteBackgroundAndTransparency(png, info, ctx, colorType);
    png_set_pHYs(png, info, im->head.biXPelsPerMeter, im->head.biYPelsPerMeter,
                 PNG_RESOLUTION_METER);
    if (colorType == PNG_COLOR_TYPE_PALETTE)
        WritePalette(png, info, im, bitDepth);
    png_write_info(png, info);
    if (colorType == PNG_COLOR_TYPE_RGB)
        png_set_bgr(png);
    int passes = png_set_interlace_handling(png);
    size_t rowBytes = (size_t)channels * (bitDepth / 8) * width;
    if (rowBytes < (size_t)im->GetRowStride())
        rowBytes = (size_t)im->GetRowStride();
    ctx->rowBuffer = (unsigned char *)malloc(rowBytes);
    if (!ctx->rowBuffer)
        png_error(png, "Out of memory");
    WriteRows(png, ctx, passes, rowBytes);
    png_write_end(png, info);
    return true;
}

bool CDibImagePNG::Encode(CByteStream *stream)
{
    if (!CanEncodeTo(stream))
        return false;
    PngContext ctx = {stream, this, 0, 0};
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &ctx, PngError, PngWarning);
    if (!png) {
        SetError(kErrCreate);
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, 0);
        SetError(kErrInfo);
        return false;
    }
    bool ok = EncodeWithRecovery(png, info, &ctx);
    // The codec is a ghost sharing the caller's palette and pixels: undo the
    // swap on every path, not only after a successful write.
    if (ctx.swappedIndex > 0)
        SwapIndex(ctx.swappedIndex, 0);
    free(ctx.rowBuffer);
    png_destroy_write_struct(&png, &info);
    if (!ok)
        SetError(kErrSave);
    return ok;
}
