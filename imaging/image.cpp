// CDibImage: the DIB block, its life cycle, accessors and palette.
#include "image.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "../framework/application.h"

static const char kErrSize[] = "CDibImage::Create : width and height must be greater than zero";
static const char kErrMemory[] = "DIBIMAGE_MAX_MEMORY exceeded";
static const char kErrAlloc[] = "CDibImage::Create can't allocate memory";

int ImageCodecSlot(int format)
{
    if (format >= FORMAT_BMP && format <= FORMAT_PCX)
        return format;
    return format == FORMAT_WMF ? 9 : 0;
}

// ---- construction and life cycle -------------------------------------------

void CDibImage::InitDefaults(int format)
{
    dib = 0;
    memset(&head, 0, sizeof head);
    memset(&info, 0, sizeof info);
    selection = alpha = 0;
    layers = frames = 0;
    frameSlots = 0;
    info.format = format;
    info.backgroundIndex = -1;
    info.jpegQuality = 90.0f;
    info.jpegScale = 1;
    info.xDpi = info.yDpi = 96;
    info.alphaMax = 255;
    info.enabled = 1;
    info.littleEndianHost = 1;
}

CDibImage::CDibImage(int format) { InitDefaults(format); }

CDibImage::CDibImage(int width, int height, int bpp, int format)
{
    InitDefaults(format);
    Create(width, height, bpp, format);
}

CDibImage::CDibImage(const CDibImage &src, bool copyPixels, bool copySelection, bool copyAlpha)
{
    InitDefaults(src.info.format);
    Copy(src, copyPixels, copySelection, copyAlpha);
}

CDibImage::~CDibImage()
{
    DestroyFrames();
    Destroy();
}

CImage::~CImage()
{
    if (attached && !attachedBorrowed)
        free(attached);
    attached = 0;
}

void CDibImage::SetError(const char *text) { CopyText(info.lastError, text, sizeof info.lastError); }

static int MapDepth(int bpp)
{
    if (bpp <= 1)
        return 1;
    if (bpp <= 4)
        return 4;
    return bpp <= 8 ? 8 : 24;
}

unsigned char *CDibImage::Create(int width, int height, int bpp, int format)
{
    if (!Destroy())
        return 0;
    // Negative sizes are as meaningless as zero ones and would wrap below.
    if (width <= 0 || height <= 0) {
        SetError(kErrSize);
        return 0;
    }
    bpp = MapDepth(bpp);
    // Bound the block actually allocated (rows are padded), in 64 bits.
    int64_t stride = (((int64_t)width * bpp + 31) >> 5) << 2;
    if ((double)width * height * bpp / 8.0 > DIBIMAGE_MAX_MEMORY ||
        (double)stride * height > DIBIMAGE_MAX_MEMORY) {
        SetError(kErrMemory);
        return 0;
    }
    int colors = bpp == 1 ? 2 : bpp == 4 ? 16 : bpp == 8 ? 256 : 0;
    memset(&head, 0, sizeof head);
    head.biSize = sizeof(BITMAPINFOHEADER);
    head.biWidth = width;
    head.biHeight = height;
    head.biPlanes = 1;
    head.biBitCount = (WORD)bpp;
    head.biCompression = BI_RGB;
    head.biSizeImage = (DWORD)(stride * height);
    head.biClrUsed = colors;
    info.rowStride = (int32_t)stride;
    info.format = format;
    StoreDpiInHeader();
    size_t total = 40 + 4 * (size_t)colors + (size_t)head.biSizeImage;
    dib = (unsigned char *)malloc(total);
    if (!dib) {
        SetError(kErrAlloc);
        return 0;
    }
    memset(dib + 40, 0, 4 * (size_t)colors);
    memcpy(dib, &head, sizeof head);
    info.pixels = dib + 40 + 4 * colors;
    info.lastValid = 0;
    return dib;
}

bool CDibImage::Destroy()
{
    if (info.ghostSource)
        return false;
    for (int i = 0; layers && i < info.layerCount; i++)
        delete layers[i];
    free(layers);
    layers = 0;
    info.layerCount = 0;
    free(selection);
    free(alpha);
    free(dib);
    selection = alpha = dib = 0;
    info.pixels = 0;
    return true;
}

bool CDibImage::DestroyFrames()
{
    if (info.ghostSource)
        return false;
    for (int i = 0; frames && i < frameSlots; i++)
        delete frames[i];
    free(frames);
    frames = 0;
    frameSlots = 0;
    info.frameCount = 0;
    return true;
}

bool CDibImage::AddFrame(CDibImage *frame)
{
    CDibImage **grown = (CDibImage **)realloc(frames, (frameSlots + 1) * sizeof *frames);
    if (!grown)
        return false;
    frames = grown;
    frames[frameSlots++] = frame;
    return true;
}

static unsigned char *CopyPlane(const unsigned char *src, int64_t bytes)
{
    unsigned char *p = (unsigned char *)malloc((size_t)bytes);
    if (p)
        memcpy(p, src, (size_t)bytes);
    return p;
}

void CDibImage::Copy(const CDibImage &src, bool copyPixels, bool copySelection, bool copyAlpha)
{
    if (src.info.ghostSource) {
        Ghost(src);
        return;
    }
    if (info.ghostSource)
        return;
    DestroyFrames();
    info = src.info;
    info.pixels = 0;
    info.layerCount = 0;
    info.frameCount = 0;
    head = src.head;
    if (!Create(src.GetWidth(), src.GetHeight(), src.GetBpp(), src.info.format))
        return;
    if (copyPixels && src.dib) {
        memcpy(dib, src.dib, (size_t)src.GetSize());
    } else if (src.dib) {
        int n = src.GetNumColors() < GetNumColors() ? src.GetNumColors() : GetNumColors();
        memcpy(GetPalette(), src.GetPalette(), 4 * (size_t)(n > 256 ? 256 : n));
    }
    head = src.head;
    memcpy(dib, &head, sizeof head);
    int64_t plane = (int64_t)GetWidth() * GetHeight();
    if (copySelection && src.selection)
        selection = CopyPlane(src.selection, plane);
    if (copyAlpha && src.alpha)
        alpha = CopyPlane(src.alpha, plane);
}

bool CDibImage::Transfer(CDibImage &src, bool transferFrames)
{
    if (!Destroy())
        return false;
    int32_t keptFrameCount = info.frameCount;
    ShareBuffers(src);
    if (transferFrames) {
        info.ghostSource = 0;   // own frames go first, so free them as ours
        DestroyFrames();
        info = src.info;
        frames = src.frames;
        frameSlots = src.frameSlots;
        src.frames = 0;
        src.frameSlots = 0;
    } else {
        // The frame list stays ours, so its count must stay ours too.
        info.frameCount = keptFrameCount;
    }
    memset(&src.head, 0, sizeof src.head);
    memset(&src.info, 0, sizeof src.info);
    src.dib = src.selection = src.alpha = 0;
    src.layers = 0;
    return true;
}

// Takes the headers and points at src's buffers; the frame list is the
// callers' own business.
void CDibImage::ShareBuffers(const CDibImage &src)
{
    head = src.head;
    info = src.info;
    dib = src.dib;
    selection = src.selection;
    alpha = src.alpha;
    layers = src.layers;
}

void CDibImage::Ghost(const CDibImage &src)
{
    // Once the pointers name src's buffers, this image's own would be lost:
    // they go first (an image that is a ghost already owns nothing).
    DestroyFrames();
    Destroy();
    ShareBuffers(src);
    frames = src.frames;
    frameSlots = src.frameSlots;
    info.ghostSource = (CDibImage *)&src;
}

// Only the settings travel: buffer-describing fields belong to the source's
// own block, and a ghost flag here would keep this image from ever owning one.
void CDibImage::CopyInfo(const CDibImage &src)
{
    if (dib)
        return;
    int32_t frameCount = info.frameCount;
    info = src.info;
    info.rowStride = 0;
    info.pixels = 0;
    info.ghostSource = 0;
    info.layerCount = 0;
    info.frameCount = frameCount;
    info.lastValid = 0;
}

void CDibImage::Clear(int value)
{
    if (!dib)
        return;
    int fill = value;
    if (GetBpp() == 1)
        fill = value ? 0xFF : 0;
    else if (GetBpp() == 4)
        fill = (value & 15) * 17;
    memset(info.pixels, fill & 0xFF, head.biSizeImage);
}

// ---- accessors --------------------------------------------------------------

void CDibImage::SetClrImportant(int n)
{
    if (n == 0 || n > 256) {
        head.biClrImportant = 0;
        return;
    }
    switch (GetBpp()) {
    case 1: head.biClrImportant = n < 2 ? n : 2; break;
    case 4: head.biClrImportant = n < 16 ? n : 16; break;
    case 8: head.biClrImportant = n; break;
    default: break;
    }
}

unsigned char *CDibImage::GetBits(int row) const
{
    if (!dib)
        return 0;
    if (row == 0)
        return info.pixels;
    if (row > 0 && row < GetHeight())
        return info.pixels + (size_t)row * info.rowStride;
    return 0;
}

bool CDibImage::IsInside(int x, int y) const
{
    return x >= 0 && x < GetWidth() && y >= 0 && y < GetHeight();
}

bool CDibImage::IsGrayScale() const
{
    RGBQUAD *pal = GetPalette();
    int n = GetNumColors();
    if (!pal || n == 0)
        return false;
    for (int i = 0; i < n; i++)
        if (pal[i].rgbBlue != i || pal[i].rgbGreen != i || pal[i].rgbRed != i)
            return false;
    return true;
}

void CDibImage::SetTransIndex(int index)
{
    if (index < 0)
        info.backgroundIndex = -1;
    else
        info.backgroundIndex = index < GetNumColors() ? index : 0;
}

RGBQUAD CDibImage::GetTransColor() const
{
    if (GetBpp() < 24 && info.backgroundIndex >= 0)
        return GetPaletteColor(info.backgroundIndex);
    return info.backgroundColor;
}

void CDibImage::SetTransColor(RGBQUAD color)
{
    color.rgbReserved = 0;
    info.backgroundColor = color;
}

bool CDibImage::SetType(int format)
{
    if ((format >= FORMAT_BMP && format <= FORMAT_PCX) || format == FORMAT_WMF) {
        info.format = format;
        return true;
    }
    info.format = FORMAT_UNKNOWN;
    return false;
}

uint32_t CDibImage::GetCodecOption(int format) const
{
    int slot = ImageCodecSlot(format);
    if (!slot)
        slot = ImageCodecSlot(info.format);
    return info.codecOptions[slot];
}

void CDibImage::SetCodecOption(uint32_t value, int format)
{
    int slot = ImageCodecSlot(format);
    if (!slot)
        slot = ImageCodecSlot(info.format);
    info.codecOptions[slot] = value;
}

void CDibImage::StoreDpiInHeader()
{
    head.biXPelsPerMeter = (LONG)floor(info.xDpi * 10000.0 / 254.0 + 0.5);
    head.biYPelsPerMeter = (LONG)floor(info.yDpi * 10000.0 / 254.0 + 0.5);
    if (dib)
        memcpy(dib, &head, sizeof head);
}

void CDibImage::SetXDPI(int dpi)
{
    info.xDpi = dpi < 1 ? 96 : dpi;
    StoreDpiInHeader();
}

void CDibImage::SetYDPI(int dpi)
{
    info.yDpi = dpi < 1 ? 96 : dpi;
    StoreDpiInHeader();
}

void CDibImage::FreeEncodedBuffer(unsigned char *buffer) { free(buffer); }

// ---- palette ------------------------------------------------------------------

RGBQUAD *CDibImage::GetPalette() const
{
    return dib && head.biClrUsed ? (RGBQUAD *)(dib + 40) : 0;
}

RGBQUAD CDibImage::GetPaletteColor(int index) const
{
    RGBQUAD c = {0, 0, 0, 0};
    RGBQUAD *pal = GetPalette();
    if (pal && index >= 0 && index < GetNumColors())
        c = pal[index];
    return c;
}

bool CDibImage::GetPaletteColor(int index, uint8_t *r, uint8_t *g, uint8_t *b) const
{
    RGBQUAD *pal = GetPalette();
    index &= 0xFF;
    if (!pal || index >= GetNumColors())   // a small palette has no entry 200
        return false;
    *r = pal[index].rgbRed;
    *g = pal[index].rgbGreen;
    *b = pal[index].rgbBlue;
    return true;
}

void CDibImage::SetPaletteColor(int index, uint8_t r, uint8_t g, uint8_t b, uint8_t alphaByte)
{
    RGBQUAD *pal = GetPalette();
    if (!pal || index < 0 || index >= GetNumColors())
        return;
    pal[index].rgbBlue = b;
    pal[index].rgbGreen = g;
    pal[index].rgbRed = r;
    pal[index].rgbReserved = alphaByte;
    info.lastValid = 0;
}

void CDibImage::SetPaletteColor(int index, RGBQUAD color)
{
    RGBQUAD *pal = GetPalette();
    if (!pal || index < 0 || index >= GetNumColors())
        return;
    pal[index] = color;
    info.lastValid = 0;
}

void CDibImage::SetPalette(const RGBQUAD *entries, int n)
{
    RGBQUAD *pal = GetPalette();
    if (!pal || !entries || n <= 0)
        return;
    int bytes = 4 * n < GetPaletteSize() ? 4 * n : GetPaletteSize();
    memcpy(pal, entries, bytes);
    info.lastValid = 0;
}

void CDibImage::SetPalette(const uint8_t *rgb, int n)
{
    RGBQUAD *pal = GetPalette();
    if (!pal || !rgb || n <= 0)
        return;
    if (n > GetNumColors())
        n = GetNumColors();
    for (int i = 0; i < n; i++) {
        pal[i].rgbRed = rgb[3 * i];
        pal[i].rgbGreen = rgb[3 * i + 1];
        pal[i].rgbBlue = rgb[3 * i + 2];
    }
    info.lastValid = 0;
}

void CDibImage::SetPalette(int n, const uint8_t *red, const uint8_t *green, const uint8_t *blue)
{
    RGBQUAD *pal = GetPalette();
    if (!pal || !red || n <= 0)
        return;
    if (!green)
        green = red;
    if (!blue)
        blue = green;
    if (n > GetNumColors())
        n = GetNumColors();
    for (int i = 0; i < n; i++) {
        pal[i].rgbRed = red[i];
        pal[i].rgbGreen = green[i];
        pal[i].rgbBlue = blue[i];
    }
    info.lastValid = 0;
}

void CDibImage::SetGrayPalette()
{
    RGBQUAD *pal = GetPalette();
    int n = GetNumColors();
    if (!pal || n < 2)
        return;
    for (int i = 0; i < n; i++) {
        uint8_t v = (uint8_t)(i * (255 / (n - 1)));
        pal[i].rgbBlue = pal[i].rgbGreen = pal[i].rgbRed = v;
        pal[i].rgbReserved = 0;
    }
    info.lastValid = 0;
}

void CDibImage::SwapIndex(int i, int j)
{
    RGBQUAD *pal = GetPalette();
    int n = GetNumColors();
    if (!pal || i < 0 || j < 0 || i >= n || j >= n || i == j)
        return;
    RGBQUAD t = pal[i];
    pal[i] = pal[j];
    pal[j] = t;
    info.lastValid = 0;
    for (int y = 0; y < GetHeight(); y++)
        for (int x = 0; x < GetWidth(); x++) {
            int v = BlindGetPixelIndex(x, y);
            if (v == i)
                BlindSetPixelIndex(x, y, (uint8_t)j);
            else if (v == j)
                BlindSetPixelIndex(x, y, (uint8_t)i);
        }
}

int CDibImage::GetNearestIndex(RGBQUAD c)
{
    RGBQUAD *pal = GetPalette();
    if (!pal)
        return 0;
    if (info.lastValid && info.lastColor.rgbBlue == c.rgbBlue && info.lastColor.rgbGreen == c.rgbGreen &&
        info.lastColor.rgbRed == c.rgbRed)
        return info.lastIndex;
    info.lastColor = c;
    info.lastValid = 1;
    int n = head.biClrImportant ? (int)head.biClrImportant : GetNumColors();
    if (n > GetNumColors())   // a codec-written header must not take us past the palette
        n = GetNumColors();
    int best = 0;
    long bestDistance = 200000;
    for (int i = 0; i < n; i++) {
        long db = pal[i].rgbBlue - c.rgbBlue, dg = pal[i].rgbGreen - c.rgbGreen,
             dr = pal[i].rgbRed - c.rgbRed;
        long d = db * db + dg * dg + dr * dr;
        if (d == 0) {
            best = i;
            break;
        }
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    info.lastIndex = (uint8_t)best;
    return best;
}

// ---- helpers for codecs -----------------------------------------------------

uint32_t CDibImage::SwapLong(uint32_t v) const
{
    if (info.littleEndianHost)
        return v;
    return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}

uint16_t CDibImage::SwapShort(uint16_t v) const
{
    return info.littleEndianHost ? v : (uint16_t)((v >> 8) | (v << 8));
}

void CDibImage::SwapHeader(BITMAPINFOHEADER *h) const
{
    h->biSize = SwapLong(h->biSize);
    h->biWidth = (LONG)SwapLong((uint32_t)h->biWidth);
    h->biHeight = (LONG)SwapLong((uint32_t)h->biHeight);
    h->biPlanes = SwapShort(h->biPlanes);
    h->biBitCount = SwapShort(h->biBitCount);
    h->biCompression = SwapLong(h->biCompression);
    h->biSizeImage = SwapLong(h->biSizeImage);
    h->biXPelsPerMeter = (LONG)SwapLong((uint32_t)h->biXPelsPerMeter);
    h->biYPelsPerMeter = (LONG)SwapLong((uint32_t)h->biYPelsPerMeter);
    h->biClrUsed = SwapLong(h->biClrUsed);
    h->biClrImportant = SwapLong(h->biClrImportant);
}

void CDibImage::RGBtoBGR(unsigned char *buffer, int length) const
{
    if (!buffer || GetBpp() != 24 || head.biClrUsed)
        return;
    int n = length;
    if (n > info.rowStride)
        n = info.rowStride;
    if (n > 3 * GetWidth())
        n = 3 * GetWidth();
    for (int i = 0; i + 2 < n; i += 3) {
        unsigned char t = buffer[i];
        buffer[i] = buffer[i + 2];
        buffer[i + 2] = t;
    }
}

RGBQUAD CDibImage::RGBtoRGBQUAD(uint32_t rgb)
{
    RGBQUAD c;
    c.rgbBlue = (BYTE)(rgb >> 16);
    c.rgbGreen = (BYTE)(rgb >> 8);
    c.rgbRed = (BYTE)rgb;
    c.rgbReserved = (BYTE)(rgb >> 24);
    return c;
}

int CDibImage::CompareColors(const RGBQUAD *a, const RGBQUAD *b)
{
    int ga = (306 * a->rgbRed + 601 * a->rgbGreen + 117 * a->rgbBlue) >> 10;
    int gb = (306 * b->rgbRed + 601 * b->rgbGreen + 117 * b->rgbBlue) >> 10;
    return ga - gb;
}

static int CountBits(uint32_t v)
{
    int n = 0;
    for (; v; v &= v - 1)
        n++;
    return n;
}

static uint8_t ShiftByte(uint32_t v, int right)
{
    return (uint8_t)(right >= 0 ? v >> right : v << -right);
}

static int MaskBytePosition(uint32_t mask)
{
    int pos = 0;
    for (int s = 8; s <= 24; s += 8)
        if (mask >> s)
            pos++;
    return pos;
}

bool CDibImage::Bitfield2RGB(const unsigned char *src, uint32_t srcBytes, uint32_t redMask,
                             uint32_t greenMask, uint32_t blueMask, int bpp)
{
    if (!dib || !src || GetBpp() != 24 || (bpp != 16 && bpp != 32))
        return false;
    int w = GetWidth(), h = GetHeight();
    uint64_t srcStride = bpp == 16 ? (uint64_t)((w + 1) / 2) * 4 : (uint64_t)w * 4;
    if (srcStride * h > srcBytes)
        return false;
    int nr = CountBits(redMask & 0xFFFF), ng = CountBits(greenMask & 0xFFFF),
        nb = CountBits(blueMask & 0xFFFF);
    int pr = MaskBytePosition(redMask), pg = MaskBytePosition(greenMask), pb = MaskBytePosition(blueMask);
    for (int y = h - 1; y >= 0; y--) {
        const unsigned char *row = src + y * srcStride;
        unsigned char *out = info.pixels + (size_t)y * info.rowStride;
        for (int x = w - 1; x >= 0; x--) {
            unsigned char *p = out + 3 * x;
            if (bpp == 16) {
                uint32_t word = row[2 * x] | (row[2 * x + 1] << 8);
                p[0] = ShiftByte((word & blueMask) & 0xFF, -(8 - nr));
                p[1] = ShiftByte(word & greenMask, nr + ng - 8);
                p[2] = ShiftByte(word & redMask, nr + ng + nb - 8);
            } else {
                const unsigned char *q = row + 4 * x;
                p[0] = q[pb];
                p[1] = q[pg];
                p[2] = q[pr];
            }
        }
    }
    return true;
}
