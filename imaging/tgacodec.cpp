// TGA codec: colour-mapped, true-colour and grey images, uncompressed or
// run-length, 8/15/16/24/32 bits, either origin. The encoder writes 8-bit
// colour-mapped or 24-bit true-colour images, bottom row first.
// Every write into the image is bounded by the row Create made, whatever the
// packets claim.
#include "tgacodec.h"
#include "framework/bytes.h"
#include "stream.h"
#include <string.h>

CDibImageTGA::CDibImageTGA() : CDibImage(FORMAT_TGA) {}

static const char kNotTga[] = "Not a TGA";
static const char kUnknownType[] = "Unknown TGA image type";
static const char kBadHeader[] = "bad TGA header";
static const char kCreateFailed[] = "TGA Create failed";
static const char kCancelled[] = "Cancelled";
static const char kCorrupted[] = "corrupted TGA";
static const char kBadDepth[] = "Bit depth must be 8 or 24";
static const char kWriteFailed[] = "Error writing TGA";
static const char kTooLarge[] = "image too large for TGA";

enum { TGA_HEADER_SIZE = 18, TGA_TOP_TO_BOTTOM = 0x20, TGA_RIGHT_TO_LEFT = 0x10 };

struct TgaHeader {
    uint8_t idLength;
    uint8_t mapType;
    uint8_t imageType;
    uint16_t mapFirst;
    uint16_t mapLength;
    uint8_t mapEntrySize;
    uint16_t xOrigin, yOrigin;
    uint16_t width, height;
    uint8_t depth;
    uint8_t descriptor;
};

static void ParseHeader(const uint8_t *raw, TgaHeader *h)
{
    h->idLength = raw[0];
    h->mapType = raw[1];
    h->imageType = raw[2];
    h->mapFirst = Le16(raw + 3);
    h->mapLength = Le16(raw + 5);
    h->mapEntrySize = raw[7];
    h->xOrigin = Le16(raw + 8);
    h->yOrigin = Le16(raw + 10);
    h->width = Le16(raw + 12);
    h->height = Le16(raw + 14);
    h->depth = raw[16];
    h->descriptor = raw[17];
}

static void FormatHeader(const TgaHeader &h, uint8_t *raw)
{
    raw[0] = h.idLength;
    raw[1] = h.mapType;
    raw[2] = h.imageType;
    Put16(raw + 3, h.mapFirst);
    Put16(raw + 5, h.mapLength);
    raw[7] = h.mapEntrySize;
    Put16(raw + 8, h.xOrigin);
    Put16(raw + 10, h.yOrigin);
    Put16(raw + 12, h.width);
    Put16(raw + 14, h.height);
    raw[16] = h.depth;
    raw[17] = h.descriptor;
}

static bool IsRle(const TgaHeader &h) { return h.imageType >= 9; }
static bool IsGrey(const TgaHeader &h) { return h.imageType == 3 || h.imageType == 11; }
static int PixelBytes(const TgaHeader &h) { return (h.depth + 7) / 8; }

static bool KnownType(int t) { return t == 1 || t == 2 || t == 3 || t == 9 || t == 10 || t == 11; }
static bool KnownDepth(int d) { return d == 8 || d == 15 || d == 16 || d == 24 || d == 32; }

static int64_t BytesLeft(CByteStream *s)
{
    long here = s->Tell(), size = s->Size();
    return size > here ? (int64_t)size - here : 0;
}

// Stores one file pixel (p: PixelBytes bytes) at pixel x of a DIB row.
// 16-bit grey pixels carry grey then alpha; the grey byte is kept.
static void StorePixel(unsigned char *row, int x, const uint8_t *p, const TgaHeader &h)
{
    if (h.depth == 8) {
        row[x] = p[0];
        return;
    }
    unsigned char *d = row + 3 * x;
    if (h.depth == 16 && IsGrey(h)) {
        d[0] = d[1] = d[2] = p[0];
    } else if (h.depth <= 16) {
        unsigned w = Le16(p);
        d[0] = (unsigned char)((w & 0x1F) << 3);
        d[1] = (unsigned char)((w >> 2) & 0xF8);
        d[2] = (unsigned char)((w >> 7) & 0xF8);
    } else {
        d[0] = p[0];   // blue, green, red; a fourth byte (alpha) is dropped
        d[1] = p[1];
        d[2] = p[2];
    }
}

static bool ReadRawPixels(CByteStream *s, unsigned char *row, int x, int n, const TgaHeader &h)
{
    int size = PixelBytes(h);
    uint8_t p[4];
    for (int i = 0; i < n; i++) {
        if (s->Read(p, 1, size) != (size_t)size)
            return false;
        StorePixel(row, x + i, p, h);
    }
    return true;
}

// Reads one run-length row. *leftover is the header of a packet begun on an
// earlier row (-1: none); a run split by the row end re-reads its pixel
// value on the next row, so the stream is put back before it.
static bool ReadRleRow(CByteStream *s, unsigned char *row, int width, int *leftover,
                       const TgaHeader &h)
{
    int x = 0;
    while (x < width) {
        int header = *leftover;
        *leftover = -1;
        if (header < 0 && (header = s->GetC()) < 0)
            return false;
        int left = width - x;
        if (header >= 128) {
            int n = header - 127;
            long valueAt = -1;
            if (n > left) {
                *leftover = 128 + (n - left - 1);
                valueAt = s->Tell();
                n = left;
            }
            uint8_t p[4];
            int size = PixelBytes(h);
            if (s->Read(p, 1, size) != (size_t)size)
                return false;
            for (int i = 0; i < n; i++)
                StorePixel(row, x + i, p, h);
            if (valueAt >= 0 && !s->Seek(valueAt, SEEK_SET))
                return false;
            x += n;
        } else {
            int n = header + 1;
            if (n > left) {
                *leftover = n - left - 1;
                n = left;
            }
            if (!ReadRawPixels(s, row, x, n, h))
                return false;
            x += n;
        }
    }
    return true;
}

// Bytes the pixels need at the least: a run-length packet covers at most
// 128 pixels with a header and one value. Checked before any allocation so
// that a short file with absurd dimensions never reaches the allocator.
static bool PixelsCanFit(CByteStream *s, const TgaHeader &h)
{
    int64_t pixels = (int64_t)h.width * h.height;
    int64_t needed = IsRle(h) ? (pixels + 127) / 128 * (1 + PixelBytes(h)) : pixels * PixelBytes(h);
    return BytesLeft(s) >= needed;
}

// The colour map, read by its entry size (24 and 32 bits: blue, green, red
// first; 15 and 16 bits: packed 5-5-5); entry i becomes palette entry i.
// Unknown entry sizes are read as 3-byte entries.
static bool ReadColourMap(CByteStream *s, CDibImage *im, const TgaHeader &h)
{
    int size = h.mapEntrySize == 32 ? 4 : (h.mapEntrySize == 15 || h.mapEntrySize == 16) ? 2 : 3;
    RGBQUAD *pal = im->GetPalette();
    int own = im->GetNumColors();
    for (int i = 0; i < h.mapLength; i++) {
        uint8_t e[4];
        if (s->Read(e, 1, size) != (size_t)size)
            return false;
        if (i >= own || !pal)
            continue;   // a true-colour image: the map is skipped
        if (size == 2) {
            unsigned w = Le16(e);
            pal[i].rgbBlue = (BYTE)((w & 0x1F) << 3);
            pal[i].rgbGreen = (BYTE)((w >> 2) & 0xF8);
            pal[i].rgbRed = (BYTE)((w >> 7) & 0xF8);
        } else {
            pal[i].rgbBlue = e[0];
            pal[i].rgbGreen = e[1];
            pal[i].rgbRed = e[2];
        }
        pal[i].rgbReserved = 0;
    }
    im->info.lastValid = 0;
    return true;
}

static bool Fail(CDibImage *im, const char *text)
{
    im->SetError(text);
    return false;
}

static bool ReadRows(CByteStream *s, CDibImage *im, const TgaHeader &h)
{
    int width = h.width, height = h.height, leftover = -1;
    for (int y = 0; y < height; y++) {
        if (im->IsCancelled())
            return Fail(im, kCancelled);
        if (s->Eof())
            return Fail(im, kCorrupted);
        int target = (h.descriptor & TGA_TOP_TO_BOTTOM) ? height - 1 - y : y;
        unsigned char *row = im->GetBits(target);
        bool ok = IsRle(h) ? ReadRleRow(s, row, width, &leftover, h)
                           : ReadRawPixels(s, row, 0, width, h);
        if (!ok)
            return Fail(im, kCorrupted);
    }
    return true;
}

bool CDibImageTGA::Decode(CByteStream *stream)
{
    if (!stream)
        return false;
    uint8_t raw[TGA_HEADER_SIZE];
    if (stream->Read(raw, 1, TGA_HEADER_SIZE) != TGA_HEADER_SIZE)
        return Fail(this, kNotTga);
    TgaHeader h;
    ParseHeader(raw, &h);
    if (!KnownType(h.imageType))
        return Fail(this, kUnknownType);
    // A colour-map type is 0 or 1; refusing others keeps the try-all pass
    // from taking a PCX file (whose version sits there) for a TGA.
    if (h.width == 0 || h.height == 0 || h.mapLength > 256 || !KnownDepth(h.depth) ||
        h.mapType > 1)
        return Fail(this, kBadHeader);
    if (info.escape == -1) {
        head.biWidth = h.width;
        head.biHeight = h.height;
        info.format = FORMAT_TGA;
        return true;
    }
    if (h.idLength && !stream->Seek(h.idLength, SEEK_CUR))
        return Fail(this, kCorrupted);
    if (!PixelsCanFit(stream, h))
        return Fail(this, kCorrupted);
    if (!Create(h.width, h.height, h.depth, FORMAT_TGA))
        return Fail(this, kCreateFailed);
    memset(info.pixels, 0, head.biSizeImage);
    if (IsCancelled())
        return Fail(this, kCancelled);
    if (h.mapType == 1 && !ReadColourMap(stream, this, h))
        return Fail(this, kCorrupted);
    if (IsGrey(h))
        SetGrayPalette();
    if (!ReadRows(stream, this, h))
        return false;
    if ((h.descriptor & TGA_RIGHT_TO_LEFT) && !Mirror())
        return false;
    return true;
}

bool CDibImageTGA::Encode(CByteStream *stream)
{
    if (!CanEncodeTo(stream))
        return false;
    int bpp = GetBpp();
    if (bpp < 8)
        return Fail(this, kBadDepth);
    if (GetWidth() > 65535 || GetHeight() > 65535)
        return Fail(this, kTooLarge);   // the header holds 16-bit sizes
    TgaHeader h;
    memset(&h, 0, sizeof h);
    h.mapType = GetPalette() ? 1 : 0;
    h.imageType = bpp == 8 ? 1 : 2;
    h.mapLength = bpp == 8 ? 256 : 0;
    h.mapEntrySize = bpp == 8 ? 24 : 0;
    h.width = (uint16_t)GetWidth();
    h.height = (uint16_t)GetHeight();
    h.depth = (uint8_t)bpp;
    uint8_t raw[TGA_HEADER_SIZE];
    FormatHeader(h, raw);
    if (stream->Write(raw, 1, TGA_HEADER_SIZE) != TGA_HEADER_SIZE)
        return Fail(this, kWriteFailed);
    if (bpp == 8) {
        uint8_t map[256 * 3];
        memset(map, 0, sizeof map);
        const RGBQUAD *pal = GetPalette();
        for (int i = 0; pal && i < 256 && i < GetNumColors(); i++) {
            map[3 * i] = pal[i].rgbBlue;
            map[3 * i + 1] = pal[i].rgbGreen;
            map[3 * i + 2] = pal[i].rgbRed;
        }
        if (stream->Write(map, 1, sizeof map) != sizeof map)
            return Fail(this, kWriteFailed);
    }
    size_t rowBytes = (size_t)GetWidth() * bpp / 8;
    for (int y = 0; y < GetHeight(); y++)
        if (stream->Write(GetBits(y), 1, rowBytes) != rowBytes)
            return Fail(this, kWriteFailed);
    return true;
}
