// BMP codec: Windows bitmaps with core, 40-byte and later info headers,
// 1/4/8/16/24/32 bits, RLE8 and RLE4. Every read into the image is bounded
// by the pixel area that Create made, whatever sizes the file claims.
#include "bmpcodec.h"
#include "framework/bytes.h"
#include "stream.h"
#include <stdlib.h>
#include <string.h>
#include <math.h>

CDibImageBMP::CDibImageBMP() : CDibImage(FORMAT_BMP) {}

static const char kNotBmp[] = "Not a BMP";
static const char kBadInfo[] = "Error reading BMP info";
static const char kDimensions[] = "output dimensions returned";
static const char kCancelled[] = "Cancelled";
static const char kUnknownCompression[] = "unknown compression";
static const char kNoMemory[] = "can't allocate memory";
static const char kNotSupported[] = "compression type not supported";

struct BmpInfo {
    BITMAPINFOHEADER h;
    bool core;          // 12-byte header: 3-byte palette entries
    bool topDown;
    bool haveMasks;     // masks came inside the header
    uint32_t masks[3];  // red, green, blue
};

static bool SkipBytes(CByteStream *s, long n) { return n <= 0 || s->Seek(n, SEEK_CUR); }

static int64_t PaddedSize(const BITMAPINFOHEADER &h)
{
    return ((int64_t)h.biBitCount * h.biWidth + 31) / 32 * 4 * (int64_t)h.biHeight;
}

static bool ReadCoreHeader(CByteStream *s, const unsigned char *raw, BmpInfo *bi)
{
    memset(&bi->h, 0, sizeof bi->h);
    bi->h.biSize = 12;
    bi->h.biWidth = Le16(raw + 4);
    bi->h.biHeight = Le16(raw + 6);
    bi->h.biPlanes = Le16(raw + 8);
    bi->h.biBitCount = Le16(raw + 10);
    bi->core = true;
    return s->Seek(-28, SEEK_CUR);
}

// The masks of a bit-field header longer than 40 bytes sit at bytes 40..51
// of the header itself; they are read here so that the rest can be skipped.
static bool ReadLongHeader(CByteStream *s, BmpInfo *bi)
{
    long rest = (long)bi->h.biSize - 40;
    if (rest >= 12) {
        unsigned char m[12];
        if (s->Read(m, 1, 12) != 12)
            return false;
        bi->masks[0] = Le32(m);
        bi->masks[1] = Le32(m + 4);
        bi->masks[2] = Le32(m + 8);
        bi->haveMasks = true;
        rest -= 12;
    }
    return SkipBytes(s, rest);
}

static bool KnownLongSize(uint32_t size)
{
    return size == 52 || size == 56 || size == 64 || size == 108 || size == 124;
}

static bool GoodDepth(int bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32; }

static bool ReadInfoHeader(CByteStream *s, BmpInfo *bi)
{
    unsigned char raw[40];
    memset(bi, 0, sizeof *bi);
    if (s->Read(raw, 1, 40) != 40)
        return false;
    memcpy(&bi->h, raw, 40);   // the host is little-endian (i686)
    uint32_t size = bi->h.biSize;
    if (size == 12) {
        if (!ReadCoreHeader(s, raw, bi))
            return false;
    } else if (size > 40) {
        bool unusual = !KnownLongSize(size);
        if (unusual && (size > 4096 || bi->h.biPlanes != 1 || bi->h.biClrUsed != 0 ||
                        (int64_t)bi->h.biSizeImage < PaddedSize(bi->h)))
            return false;
        if (!ReadLongHeader(s, bi))
            return false;
    } else if (size != 40) {
        return false;
    }
    if (bi->h.biHeight < 0) {
        if (bi->h.biHeight == INT32_MIN)
            return false;
        bi->h.biHeight = -bi->h.biHeight;
        bi->topDown = true;
    }
    // Other depths would leave the created pixels unfilled.
    if (!GoodDepth(bi->h.biBitCount) || bi->h.biWidth <= 0 || bi->h.biHeight <= 0)
        return false;
    if (bi->h.biSizeImage == 0)
        bi->h.biSizeImage = (DWORD)PaddedSize(bi->h);
    if (bi->h.biClrUsed == 0 && bi->h.biBitCount <= 8)
        bi->h.biClrUsed = 1u << bi->h.biBitCount;
    return true;
}

// Reads the file's palette; entries beyond the image's own are skipped.
static bool ReadPalette(CByteStream *s, CDibImage *im, const BmpInfo &bi)
{
    uint32_t n = bi.h.biClrUsed, own = (uint32_t)im->GetNumColors();
    int entry = bi.core ? 3 : 4;
    RGBQUAD *pal = im->GetPalette();
    if (n > 65536)
        return false;
    for (uint32_t i = 0; i < n; i++) {
        unsigned char e[4];
        if (s->Read(e, 1, entry) != (size_t)entry)
            return false;
        if (i < own) {
            pal[i].rgbBlue = e[0];
            pal[i].rgbGreen = e[1];
            pal[i].rgbRed = e[2];
            pal[i].rgbReserved = 0;
        }
    }
    return true;
}

// Bytes left in the stream from its current position.
static int64_t BytesLeft(CByteStream *s)
{
    long here = s->Tell(), size = s->Size();
    return size > here ? (int64_t)size - here : 0;
}

// Stores one pixel of 8 or 4 bits at pixel position px of a row; positions
// are kept in pixels, so odd RLE4 deltas land on the right nibble.
static void PutRlePixel(unsigned char *area, int64_t areaSize, int64_t rowStart, int64_t px,
                        int v, int bits)
{
    int64_t at = rowStart + (bits == 8 ? px : px / 2);
    if (at >= areaSize)
        return;
    if (bits == 8)
        area[at] = (unsigned char)v;
    else if (px & 1)
        area[at] = (unsigned char)((area[at] & 0xF0) | (v & 15));
    else
        area[at] = (unsigned char)((area[at] & 0x0F) | (v & 15) << 4);
}

// RLE8 and RLE4 share their commands; a pixel is a byte or a nibble, and a
// literal run is padded to an even number of bytes.
static void DecodeRle(CByteStream *s, unsigned char *area, int64_t areaSize, int stride,
                      int height, int bits)
{
    int64_t px = 0;
    int row = 0;
    for (;;) {
        int n = s->GetC();
        if (n < 0)
            return;
        if (n > 0) {
            int v = s->GetC();
            if (v < 0)
                return;
            for (int i = 0; i < n; i++, px++) {
                int pixel = bits == 8 ? v : ((i & 1) ? v : v >> 4);
                PutRlePixel(area, areaSize, row * (int64_t)stride, px, pixel, bits);
            }
            continue;
        }
        int c = s->GetC();
        if (c < 0 || c == 1)
            return;
        if (c == 0) {
            px = 0;
            if (row + 1 < height)
                row++;
        } else if (c == 2) {
            int dx = s->GetC(), dy = s->GetC();
            if (dx < 0 || dy < 0)
                return;
            px += dx;
            if (row + dy < height)
                row += dy;
        } else {
            int v = 0;
            for (int i = 0; i < c; i++, px++) {
                bool newByte = bits == 8 || !(i & 1);
                if (newByte && (v = s->GetC()) < 0)
                    return;
                int pixel = bits == 8 ? v : ((i & 1) ? v : v >> 4);
                PutRlePixel(area, areaSize, row * (int64_t)stride, px, pixel, bits);
            }
            int bytes = bits == 8 ? c : (c + 1) / 2;
            if (bytes & 1)
                s->GetC();
        }
    }
}

static bool ReadMasks(CByteStream *s, BmpInfo *bi)
{
    unsigned char m[12];
    if (bi->haveMasks)
        return true;
    if (s->Read(m, 1, 12) != 12)
        return false;
    bi->masks[0] = Le32(m);
    bi->masks[1] = Le32(m + 4);
    bi->masks[2] = Le32(m + 8);
    return true;
}

// Reads `bytes` of 16 or 32-bit pixels and converts them into the 24-bit rows.
static bool ReadBitfields(CByteStream *s, CDibImage *im, const BmpInfo &bi, int64_t bytes)
{
    if (bytes > BytesLeft(s)) {
        im->SetError(kBadInfo);
        return false;
    }
    unsigned char *block = (unsigned char *)malloc((size_t)bytes);
    if (!block) {
        im->SetError(kNoMemory);
        return false;
    }
    bool ok = s->Read(block, 1, (size_t)bytes) == (size_t)bytes &&
              im->Bitfield2RGB(block, (uint32_t)bytes, bi.masks[0], bi.masks[1], bi.masks[2],
                               bi.h.biBitCount);
    free(block);
    if (!ok)
        im->SetError(kBadInfo);
    return ok;
}

// Reads uncompressed rows: exactly the image's own pixel area.
static bool ReadPlainRows(CByteStream *s, CDibImage *im)
{
    size_t size = im->head.biSizeImage;
    if ((int64_t)size > BytesLeft(s) || s->Read(im->info.pixels, 1, size) != size) {
        im->SetError(kBadInfo);
        return false;
    }
    return true;
}

static bool ReadPixels(CByteStream *s, CDibImage *im, BmpInfo *bi, long start, uint32_t offset)
{
    int bits = bi->h.biBitCount;
    uint32_t comp = bi->h.biCompression;
    if ((bits == 16 || bits == 32) && comp == BI_BITFIELDS) {
        if (!ReadMasks(s, bi)) {
            im->SetError(kBadInfo);
            return false;
        }
    } else if (bits == 16 || bits == 32) {
        bi->masks[0] = bits == 16 ? 0x7C00 : 0x00FF0000;
        bi->masks[1] = bits == 16 ? 0x03E0 : 0x0000FF00;
        bi->masks[2] = bits == 16 ? 0x001F : 0x000000FF;
    }
    if (offset && !s->Seek(start + (long)offset, SEEK_SET)) {
        im->SetError(kBadInfo);
        return false;
    }
    int w = im->GetWidth(), h = im->GetHeight();
    if (bits == 32 || bits == 24 || bits == 16) {
        if (comp != BI_RGB && !((bits == 32 || bits == 16) && comp == BI_BITFIELDS)) {
            im->SetError(kUnknownCompression);
            return false;
        }
        if (bits == 24)
            return ReadPlainRows(s, im);
        int64_t bytes = bits == 32 ? (int64_t)w * h * 4 : (int64_t)((w + 1) / 2) * h * 4;
        return ReadBitfields(s, im, *bi, bytes);
    }
    if (comp == BI_RGB)
        return ReadPlainRows(s, im);
    if ((comp == BI_RLE8 && bits == 8) || (comp == BI_RLE4 && bits == 4)) {
        if (bi->topDown) {   // RLE rows are always bottom-up
            im->SetError(kNotSupported);
            return false;
        }
        DecodeRle(s, im->info.pixels, im->head.biSizeImage, im->GetRowStride(), h, bits);
        return true;
    }
    im->SetError(kNotSupported);
    return false;
}

// Checks that an offset from the start lands inside the stream.
static bool OffsetFits(CByteStream *s, long start, uint32_t offset)
{
    return offset == 0 || (int64_t)start + offset < (int64_t)s->Size();
}

// Uncompressed pixels must be in the file before their rows are allocated,
// so that absurd dimensions in a short file never reach the allocator.
static bool PixelsPresent(CByteStream *s, const BmpInfo &bi, long start, uint32_t offset)
{
    int bits = bi.h.biBitCount;
    uint32_t comp = bi.h.biCompression;
    if (bits <= 8 && (comp == BI_RLE8 || comp == BI_RLE4))
        return true;
    int64_t w = bi.h.biWidth, h = bi.h.biHeight, needed;
    if (bits == 32)
        needed = w * h * 4;
    else if (bits == 16)
        needed = (w + 1) / 2 * 4 * h;
    else
        needed = (w * bits + 31) / 32 * 4 * h;
    int64_t from = offset ? (int64_t)start + offset : (int64_t)s->Tell();
    return (int64_t)s->Size() - from >= needed;
}

static bool DecodeBody(CDibImage *out, CByteStream *s, long start, uint32_t offset)
{
    BmpInfo bi;
    if (!ReadInfoHeader(s, &bi) || !OffsetFits(s, start, offset)) {
        out->SetError(kBadInfo);
        return false;
    }
    if (out->info.escape == -1) {
        out->head.biWidth = bi.h.biWidth;
        out->head.biHeight = bi.h.biHeight;
        out->head.biBitCount = bi.h.biBitCount;
        out->info.format = FORMAT_BMP;
        out->SetError(kDimensions);
        return true;
    }
    if (!PixelsPresent(s, bi, start, offset)) {
        out->SetError(kBadInfo);
        return false;
    }
    if (!out->Create(bi.h.biWidth, bi.h.biHeight, bi.h.biBitCount, FORMAT_BMP))
        return false;
    memset(out->info.pixels, 0, out->head.biSizeImage);   // RLE skips leave index 0
    out->SetXDPI((int)floor(bi.h.biXPelsPerMeter * 254.0 / 10000.0 + 0.5));
    out->SetYDPI((int)floor(bi.h.biYPelsPerMeter * 254.0 / 10000.0 + 0.5));
    if (out->IsCancelled()) {
        out->SetError(kCancelled);
        return false;
    }
    if (out->GetNumColors() && !ReadPalette(s, out, bi)) {
        out->SetError(kBadInfo);
        return false;
    }
    if (out->IsCancelled()) {
        out->SetError(kCancelled);
        return false;
    }
    if (!ReadPixels(s, out, &bi, start, offset))
        return false;
    if (bi.topDown)
        out->Flip();
    return true;
}

bool CDibImageBMP::Decode(CByteStream *stream)
{
    if (!stream)
        return false;
    long start = stream->Tell();
    unsigned char fh[14];
    if (stream->Read(fh, 1, 14) != 14) {
        SetError(kNotBmp);
        return false;
    }
    uint32_t offset = Le32(fh + 10);
    if (Le16(fh) != 0x4D42) {   // a bare DIB
        offset = 0;
        stream->Seek(start, SEEK_SET);
    }
    return DecodeBody(this, stream, start, offset);
}

bool CDibImageBMP::Encode(CByteStream *stream)
{
    if (!CanEncodeTo(stream))
        return false;
    unsigned char fh[14];
    Put16(fh, 0x4D42);
    Put32(fh + 2, (uint32_t)GetSize() + 14);
    Put32(fh + 6, 0);
    Put32(fh + 10, 14 + 40 + (uint32_t)GetPaletteSize());
    memcpy(dib, &head, sizeof head);
    if (stream->Write(fh, 1, 14) != 14 ||
        stream->Write(dib, 1, (size_t)GetSize()) != (size_t)GetSize()) {
        SetError("Error writing BMP");
        return false;
    }
    return true;
}
