// PCX codec: run-length images of 1, 2, 4 or 8 bits in one plane, up to 4
// planes of 1 bit, and 3 (or 4) planes of 8 bits. The encoder writes 1-bit
// and 16-colour images as bit planes, 8-bit images with a 256-colour palette
// at the end, and 24-bit images as three 8-bit planes.
// The decoder unpacks the whole image first; every plane line it converts is
// a padded copy at least one byte per pixel wide, so a header whose bytes per
// line are too few for the width never leads it past the unpacked data.
#include "pcxcodec.h"
#include "framework/bytes.h"
#include "stream.h"
#include <stdlib.h>
#include <string.h>

CDibImagePCX::CDibImagePCX() : CDibImage(FORMAT_PCX) {}

static const char kCantRead[] = "Can't read PCX image";
static const char kNotPcx[] = "Error: Not a PCX file";
static const char kUnknownEncoding[] = "PCX file has unknown encoding scheme";
static const char kTooManyPlanes[] = "Can't handle image with more than 4 planes";
static const char kCancelled[] = "Cancelled";
static const char kCorrupted[] = "corrupted PCX";
static const char kRepeatSpansEnd[] = "repeat count spans end of image";
static const char kBadSignature[] = "bad color map signature";
static const char kUnpackPlanes[] = "PCX_UnpackPixels: Can't handle packed pixels with more than 1 plane";
static const char kPlanesBits[] = "PCX_PlanesToPixels: more than 4 planes or more than 1 bit per pixel";
static const char kBadBits[] = "PCX file has unsupported bits per pixel";
static const char kNoMemory[] = "can't allocate memory";
static const char kWriteHeader[] = "cannot write PCX header";
static const char kWriteData[] = "cannot write PCX data";
static const char kTooLarge[] = "image too large for PCX";

enum { PCX_HEADER_SIZE = 128, PCX_MANUFACTURER = 10, PCX_RLE = 1, PCX_PALETTE_MARK = 12 };

struct PcxHeader {
    uint8_t manufacturer, version, encoding, bitsPerPixel;
    uint16_t xMin, yMin, xMax, yMax;
    uint16_t hRes, vRes;
    uint8_t palette[48];   // 16 colours: red, green, blue
    uint8_t planes;
    uint16_t bytesPerLine;
    uint16_t paletteType;
};

static void ParseHeader(const uint8_t *raw, PcxHeader *h)
{
    h->manufacturer = raw[0];
    h->version = raw[1];
    h->encoding = raw[2];
    h->bitsPerPixel = raw[3];
    h->xMin = Le16(raw + 4);
    h->yMin = Le16(raw + 6);
    h->xMax = Le16(raw + 8);
    h->yMax = Le16(raw + 10);
    h->hRes = Le16(raw + 12);
    h->vRes = Le16(raw + 14);
    memcpy(h->palette, raw + 16, 48);
    h->planes = raw[65];
    h->bytesPerLine = Le16(raw + 66);
    h->paletteType = Le16(raw + 68);
}

static void FormatHeader(const PcxHeader &h, uint8_t *raw)
{
    memset(raw, 0, PCX_HEADER_SIZE);
    raw[0] = h.manufacturer;
    raw[1] = h.version;
    raw[2] = h.encoding;
    raw[3] = h.bitsPerPixel;
    Put16(raw + 4, h.xMin);
    Put16(raw + 6, h.yMin);
    Put16(raw + 8, h.xMax);
    Put16(raw + 10, h.yMax);
    Put16(raw + 12, h.hRes);
    Put16(raw + 14, h.vRes);
    memcpy(raw + 16, h.palette, 48);
    raw[65] = h.planes;
    Put16(raw + 66, h.bytesPerLine);
    Put16(raw + 68, h.paletteType);
}

static bool Fail(CDibImage *im, const char *text)
{
    im->SetError(text);
    return false;
}

static int64_t BytesLeft(CByteStream *s)
{
    long here = s->Tell(), size = s->Size();
    return size > here ? (int64_t)size - here : 0;
}

// One plane of packed 1, 2, 4 or 8-bit pixels (most significant first) to
// one byte per pixel; `pixels` holds bytes * 8 / bits entries.
static bool PCX_UnpackPixels(const uint8_t *line, int bytes, int bits, int planes, uint8_t *pixels)
{
    if (planes != 1)
        return false;
    int perByte = 8 / bits, mask = (1 << bits) - 1;
    for (int i = 0; i < bytes; i++)
        for (int k = 0; k < perByte; k++)
            *pixels++ = (uint8_t)((line[i] >> (8 - bits * (k + 1))) & mask);
    return true;
}

// Up to 4 planes of 1 bit, `bytes` apart in `lines`, to one byte per pixel:
// plane p gives bit p of the value. `pixels` holds bytes * 8 entries.
static bool PCX_PlanesToPixels(const uint8_t *lines, int bytes, int bits, int planes, uint8_t *pixels)
{
    if (planes > 4 || bits != 1)
        return false;
    memset(pixels, 0, (size_t)bytes * 8);
    for (int p = 0; p < planes; p++)
        for (int i = 0; i < bytes; i++) {
            uint8_t b = lines[p * bytes + i];
            for (int k = 0; k < 8; k++)
                if (b & (0x80 >> k))
                    pixels[i * 8 + k] |= (uint8_t)(1 << p);
        }
    return true;
}

// Depth of the DIB for a file's planes and bits per plane.
static int DibDepth(const PcxHeader &h)
{
    if (h.planes >= 3 && h.bitsPerPixel == 8)
        return 24;
    if (h.bitsPerPixel == 1 && h.planes >= 2)
        return 4;   // 2 to 4 bit planes: up to 16 colours
    return h.bitsPerPixel;
}

static bool KnownBits(int bits) { return bits == 1 || bits == 2 || bits == 4 || bits == 8; }

// Run-length data: a byte of 0xC0 or more repeats the next byte (its low
// six bits) times; a run may not reach past the image.
static bool UnpackImage(CByteStream *s, CDibImage *im, uint8_t *data, int64_t total)
{
    int64_t at = 0;
    while (at < total) {
        int c = s->GetC();
        if (c < 0)
            return Fail(im, kCorrupted);
        if (c < 0xC0) {
            data[at++] = (uint8_t)c;
            continue;
        }
        int count = c & 0x3F;
        if (count > total - at)
            return Fail(im, kRepeatSpansEnd);
        int v = s->GetC();
        if (v < 0)
            return Fail(im, kCorrupted);
        memset(data + at, v, (size_t)count);
        at += count;
    }
    return true;
}

static bool ReadPalette(CByteStream *s, CDibImage *im, const PcxHeader &h)
{
    uint8_t rgb[256 * 3];
    memset(rgb, 0, sizeof rgb);
    memcpy(rgb, h.palette, 48);
    if (h.bitsPerPixel == 8 && h.planes == 1) {
        if (s->GetC() != PCX_PALETTE_MARK)
            return Fail(im, kBadSignature);
        if (s->Read(rgb, 1, sizeof rgb) != sizeof rgb)
            return Fail(im, kCorrupted);
    } else if (h.bitsPerPixel == 1 && h.planes == 1) {
        memset(rgb, 0, 3);
        memset(rgb + 3, 255, 3);
    }
    im->SetPalette(rgb, im->GetNumColors());
    return true;
}

// Converts the unpacked rows (top row first) into the DIB (bottom row first).
static bool StoreRows(CDibImage *im, const PcxHeader &h, const uint8_t *data)
{
    int width = im->GetWidth(), height = im->GetHeight();
    int planes = h.planes, bits = h.bitsPerPixel, bpl = h.bytesPerLine;
    int lineBytes = bpl > width ? bpl : width;
    uint8_t *lines = (uint8_t *)calloc((size_t)planes, (size_t)lineBytes);
    uint8_t *pixels = (uint8_t *)malloc((size_t)lineBytes * 8);
    bool ok = lines && pixels;
    if (!ok)
        im->SetError(kNoMemory);
    for (int y = 0; ok && y < height; y++) {
        if (im->IsCancelled()) {
            ok = Fail(im, kCancelled);
            break;
        }
        for (int p = 0; p < planes; p++)
            memcpy(lines + (size_t)p * lineBytes, data + ((int64_t)y * planes + p) * bpl, bpl);
        int dibRow = height - 1 - y;
        if (planes >= 3 && bits == 8) {
            unsigned char *row = im->GetBits(dibRow);
            for (int x = 0; x < width; x++) {
                row[3 * x] = lines[2 * lineBytes + x];
                row[3 * x + 1] = lines[lineBytes + x];
                row[3 * x + 2] = lines[x];
            }
            continue;
        }
        if (planes == 1)
            ok = PCX_UnpackPixels(lines, lineBytes, bits, planes, pixels) || Fail(im, kUnpackPlanes);
        else
            ok = PCX_PlanesToPixels(lines, lineBytes, bits, planes, pixels) || Fail(im, kPlanesBits);
        for (int x = 0; ok && x < width; x++)
            im->SetPixelIndex(x, dibRow, pixels[x]);
    }
    free(lines);
    free(pixels);
    return ok;
}

static bool DecodeBody(CDibImage *out, CByteStream *s, const PcxHeader &h)
{
    int64_t total = (int64_t)h.bytesPerLine * h.planes * out->GetHeight();
    // Each stream byte unpacks to at most 63 / 2 bytes: a larger image
    // cannot be in the file, and is refused before anything is allocated.
    if (total == 0 || total > 32 * BytesLeft(s))
        return Fail(out, kCorrupted);
    if (!out->Create(out->GetWidth(), out->GetHeight(), DibDepth(h), FORMAT_PCX))
        return false;
    memset(out->info.pixels, 0, out->head.biSizeImage);
    if (out->IsCancelled())
        return Fail(out, kCancelled);
    uint8_t *data = (uint8_t *)malloc((size_t)total);
    if (!data)
        return Fail(out, kNoMemory);
    bool ok = UnpackImage(s, out, data, total) && ReadPalette(s, out, h) && StoreRows(out, h, data);
    free(data);
    return ok;
}

bool CDibImagePCX::Decode(CByteStream *stream)
{
    if (!stream)
        return false;
    uint8_t raw[PCX_HEADER_SIZE];
    if (stream->Read(raw, 1, PCX_HEADER_SIZE) != PCX_HEADER_SIZE)
        return Fail(this, kCantRead);
    PcxHeader h;
    ParseHeader(raw, &h);
    if (h.manufacturer != PCX_MANUFACTURER)
        return Fail(this, kNotPcx);
    if (h.encoding != PCX_RLE)
        return Fail(this, kUnknownEncoding);
    int width = (int)h.xMax - h.xMin + 1, height = (int)h.yMax - h.yMin + 1;
    if (width <= 0 || height <= 0)
        return Create(width, height, 8, FORMAT_PCX) != 0;   // leaves its own text
    SetXDPI(h.hRes);
    SetYDPI(h.vRes);
    if (info.escape == -1) {
        head.biWidth = width;
        head.biHeight = height;
        info.format = FORMAT_PCX;
        return true;
    }
    if (h.planes > 4)
        return Fail(this, kTooManyPlanes);
    if (!KnownBits(h.bitsPerPixel))
        return Fail(this, kBadBits);
    head.biWidth = width;
    head.biHeight = height;
    return DecodeBody(this, stream, h);
}

// ---- encoder ----------------------------------------------------------------------

// One run of `count` equal bytes: a single byte below 0xC0 stands for itself.
static void PutRun(CMemStream *s, int value, int count)
{
    if (count <= 0)
        return;
    if (count == 1 && value < 0xC0) {
        s->PutC((unsigned char)value);
        return;
    }
    s->PutC((unsigned char)(0xC0 | count));
    s->PutC((unsigned char)value);
}

// Runs of at most 63 equal bytes over one line.
static void PackLine(CMemStream *s, const uint8_t *bytes, int n)
{
    int value = -1, count = 0;
    for (int i = 0; i < n; i++) {
        if (count && bytes[i] == value) {
            if (++count == 63) {
                PutRun(s, value, count);
                count = 0;
            }
            continue;
        }
        PutRun(s, value, count);
        value = bytes[i];
        count = 1;
    }
    PutRun(s, value, count);
}

// An 8-bit plane line of `width` values; an odd width gets a padding pixel 0.
static void PackValues(CMemStream *s, const uint8_t *values, int width)
{
    PackLine(s, values, width);
    if (width & 1)
        s->PutC(0);
}

static void EncodeTrueColour(CMemStream *s, CDibImage *im, uint8_t *line)
{
    int width = im->GetWidth();
    for (int y = im->GetHeight() - 1; y >= 0; y--) {
        const unsigned char *row = im->GetBits(y);
        for (int channel = 2; channel >= 0; channel--) {   // red, green, blue
            for (int x = 0; x < width; x++)
                line[x] = row[3 * x + channel];
            PackValues(s, line, width);
        }
    }
}

static void EncodeIndexed(CMemStream *s, CDibImage *im)
{
    for (int y = im->GetHeight() - 1; y >= 0; y--)
        PackValues(s, im->GetBits(y), im->GetWidth());
    uint8_t rgb[256 * 3];
    memset(rgb, 0, sizeof rgb);
    const RGBQUAD *pal = im->GetPalette();
    for (int i = 0; pal && i < im->GetNumColors() && i < 256; i++) {
        rgb[3 * i] = pal[i].rgbRed;
        rgb[3 * i + 1] = pal[i].rgbGreen;
        rgb[3 * i + 2] = pal[i].rgbBlue;
    }
    s->PutC(PCX_PALETTE_MARK);
    s->Write(rgb, 1, sizeof rgb);
}

// 1 and 4-bit images as bit planes; a 1-bit image whose first colour is the
// lighter is written inverted, to suit the black, white header palette.
static void EncodePlanes(CMemStream *s, CDibImage *im, int planes, int bpl, uint8_t *line)
{
    const RGBQUAD *pal = im->GetPalette();
    bool invert = im->GetBpp() == 1 && pal && CDibImage::CompareColors(&pal[0], &pal[1]) > 0;
    int width = im->GetWidth();
    for (int y = im->GetHeight() - 1; y >= 0; y--)
        for (int p = 0; p < planes; p++) {
            memset(line, 0, (size_t)bpl);
            for (int x = 0; x < width; x++) {
                int index = im->BlindGetPixelIndex(x, y);
                if (invert)
                    index = 1 - index;
                if (index >> p & 1)
                    line[x >> 3] |= (uint8_t)(0x80 >> (x & 7));
            }
            PackLine(s, line, bpl);
        }
}

static void FillHeader(CDibImage *im, PcxHeader *h)
{
    memset(h, 0, sizeof *h);
    h->manufacturer = PCX_MANUFACTURER;
    h->version = 5;
    h->encoding = PCX_RLE;
    h->xMax = (uint16_t)(im->GetWidth() - 1);
    h->yMax = (uint16_t)(im->GetHeight() - 1);
    h->hRes = (uint16_t)im->GetXDPI();
    h->vRes = (uint16_t)im->GetYDPI();
    h->paletteType = im->GetPalette() ? 0 : 1;
    int bpp = im->GetBpp(), width = im->GetWidth();
    if (bpp >= 8) {
        h->bitsPerPixel = 8;
        h->planes = im->GetPalette() ? 1 : 3;
        h->bytesPerLine = (uint16_t)width;
    } else {
        h->bitsPerPixel = 1;
        h->planes = im->GetNumColors() == 16 ? 4 : 1;
        h->bytesPerLine = (uint16_t)((width + 7) / 8);
        const RGBQUAD *pal = im->GetPalette();
        for (int i = 0; h->planes == 4 && pal && i < 16; i++) {
            h->palette[3 * i] = pal[i].rgbRed;
            h->palette[3 * i + 1] = pal[i].rgbGreen;
            h->palette[3 * i + 2] = pal[i].rgbBlue;
        }
        if (h->planes == 1)
            memset(h->palette + 3, 255, 3);   // black, then white
    }
    h->bytesPerLine = (uint16_t)((h->bytesPerLine + 1) & ~1);
}

bool CDibImagePCX::Encode(CByteStream *stream)
{
    if (!CanEncodeTo(stream))
        return false;
    // The header holds the last column and row, and the bytes per line, in 16 bits.
    if (GetWidth() > 65534 || GetHeight() > 65536)
        return Fail(this, kTooLarge);
    PcxHeader h;
    FillHeader(this, &h);
    uint8_t raw[PCX_HEADER_SIZE];
    FormatHeader(h, raw);
    if (stream->Write(raw, 1, PCX_HEADER_SIZE) != PCX_HEADER_SIZE)
        return Fail(this, kWriteHeader);
    CMemStream data;
    uint8_t *line = (uint8_t *)malloc((size_t)h.bytesPerLine + 1);
    if (!data.Open() || !line) {
        free(line);
        return Fail(this, kNoMemory);
    }
    int bpp = GetBpp();
    if (bpp == 24)
        EncodeTrueColour(&data, this, line);
    else if (bpp == 8)
        EncodeIndexed(&data, this);
    else
        EncodePlanes(&data, this, h.planes, h.bytesPerLine, line);
    free(line);
    size_t size = (size_t)data.Size();
    if (stream->Write(data.GetBuffer(false), 1, size) != size)
        return Fail(this, kWriteData);
    return true;
}
