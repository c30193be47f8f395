// ICO codec: Windows icon and cursor files. Standard entries are a DIB with
// a doubled height and a 1-bit AND mask; large or modern entries hold a PNG
// stream, which goes through the PNG codec by way of the dispatcher.
#include "icocodec.h"
#include "framework/bytes.h"
#include "stream.h"
#include <stdlib.h>
#include <string.h>

CDibImageICO::CDibImageICO() : CDibImage(FORMAT_ICO), nextOffset(0) {}

struct IcoEntry {
    int width, height, colors, bits;
    uint32_t size, offset;
};

// Reads the directory and keeps the selected entry.
static bool ReadDirectory(CDibImage *out, CByteStream *s, IcoEntry *chosen)
{
    unsigned char h[6];
    if (s->Read(h, 1, 6) != 6 || Le16(h) != 0 || (Le16(h + 2) != 1 && Le16(h + 2) != 2))
        return false;
    int count = Le16(h + 4);
    out->info.frameCount = count;
    int index = out->info.frameIndex;
    bool found = false;
    for (int i = 0; i < count; i++) {
        unsigned char e[16];
        if (s->Read(e, 1, 16) != 16)
            return false;
        if (i != index)
            continue;
        chosen->width = e[0];
        chosen->height = e[1];
        chosen->colors = e[2];
        chosen->bits = Le16(e + 6);
        chosen->size = Le32(e + 8);
        chosen->offset = Le32(e + 12);
        found = true;
    }
    return found;
}

static bool IsPngData(CByteStream *s)
{
    unsigned char sig[4];
    long here = s->Tell();
    bool png = s->Read(sig, 1, 4) == 4 && sig[0] == 0x89 && sig[1] == 'P' && sig[2] == 'N' && sig[3] == 'G';
    s->Seek(here, SEEK_SET);
    return png;
}

// A PNG entry: success only with pixels (or with the size under escape -1).
static bool DecodePngEntry(CDibImage *out, CByteStream *s)
{
    CDibImage png(FORMAT_PNG);
    png.CopyInfo(*out);
    int frames = out->info.frameCount;
    if (!png.Decode(s, FORMAT_PNG) || (!png.dib && out->info.escape != -1)) {
        out->SetError(png.GetLastError());
        return false;
    }
    out->Transfer(png, true);
    out->info.frameCount = frames;
    out->info.format = FORMAT_ICO;
    return true;
}

static bool ReadAll(CByteStream *s, void *to, size_t n) { return s->Read(to, 1, n) == n; }

// The AND mask decides transparency: all set means an inverted icon; else
// masked pixels of a palette image get an index that no other pixel uses.
static void ApplyMask(CDibImage *im, const unsigned char *mask, int maskStride)
{
    int w = im->GetWidth(), h = im->GetHeight(), bits = im->GetBpp();
    bool allSet = true;
    for (int i = 0; i < maskStride * h && allSet; i++)
        allSet = mask[i] == 0xFF;
    if (allSet) {
        im->SetTransIndex(0);
        im->Negative();
        return;
    }
#define MASKED(x, y) ((mask[(y) * maskStride + (x) / 8] >> (7 - (x) % 8)) & 1)
    bool first = true, differs = false;
    RGBQUAD firstColor = {0, 0, 0, 0};
    int firstIndex = 0;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            if (!MASKED(x, y))
                continue;
            RGBQUAD c = im->GetPixelColor(x, y);
            if (first) {
                firstColor = c;
                firstIndex = bits <= 8 ? im->GetPixelIndex(x, y) : 0;
                first = false;
            } else if (c.rgbBlue != firstColor.rgbBlue || c.rgbGreen != firstColor.rgbGreen ||
                       c.rgbRed != firstColor.rgbRed) {
                differs = true;
            }
        }
    if (bits > 8)
        return;
    if (!first && !differs) {
        im->SetTransColor(firstColor);
        im->SetTransIndex(firstIndex);
    }
    bool used[256] = {false};
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            used[im->GetPixelIndex(x, y)] = true;
    int freeIndex = -1;
    for (int i = im->GetNumColors() - 1; i >= 0 && freeIndex < 0; i--)
        if (!used[i])
            freeIndex = i;
    if (freeIndex < 0)
        return;
    bool any = false;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            if (MASKED(x, y)) {
                im->SetPixelIndex(x, y, (uint8_t)freeIndex);
                any = true;
            }
#undef MASKED
    if (any)
        im->SetTransIndex(freeIndex);
}

static bool ReadPalette(CByteStream *s, CDibImage *im, uint32_t fileColors)
{
    RGBQUAD table[256];
    memset(table, 0, sizeof table);
    uint32_t n = fileColors ? fileColors : (uint32_t)im->GetNumColors();
    if (n > 65536)
        return false;
    for (uint32_t i = 0; i < n; i++) {   // entries past 256 are read and dropped
        unsigned char e[4];
        if (!ReadAll(s, e, 4))
            return false;
        if (i < 256)
            memcpy(&table[i], e, 4);
    }
    im->SetPalette(table, im->GetNumColors());
    return true;
}

// 32-bit rows keep blue, green, red; the alpha byte is dropped.
static bool Read32(CByteStream *s, CDibImage *im)
{
    int w = im->GetWidth(), h = im->GetHeight();
    unsigned char *row = (unsigned char *)malloc((size_t)w * 4);
    if (!row)
        return false;
    bool ok = true;
    for (int y = 0; y < h && ok; y++) {
        ok = ReadAll(s, row, (size_t)w * 4);
        unsigned char *to = im->GetBits(y);
        for (int x = 0; ok && x < w; x++)
            memcpy(to + 3 * x, row + 4 * x, 3);
    }
    free(row);
    return ok;
}

// A standard entry. Its size is taken from its own info header (the
// directory's is often wrong or 0 for 256) and reads never pass the rows.
static bool DecodeDibEntry(CDibImage *out, CByteStream *s)
{
    unsigned char raw[40];
    if (!ReadAll(s, raw, 40) || Le32(raw) != 40)
        return false;
    int32_t width = (int32_t)Le32(raw + 4), height2 = (int32_t)Le32(raw + 8);
    int bits = Le16(raw + 14);
    uint32_t fileColors = Le32(raw + 32);
    if (width <= 0 || width > 4096 || height2 <= 0 || height2 > 8192 ||
        !(bits == 1 || bits == 4 || bits == 8 || bits == 24 || bits == 32))
        return false;
    if (!out->Create(width, height2 / 2 ? height2 / 2 : 1, bits, FORMAT_ICO))
        return false;
    if (out->GetNumColors() && !ReadPalette(s, out, fileColors))
        return false;
    bool pixelsOk = bits == 32 ? Read32(s, out) : ReadAll(s, out->info.pixels, out->head.biSizeImage);
    if (!pixelsOk)
        return false;
    int maskStride = (out->GetWidth() + 31) / 32 * 4;
    size_t maskSize = (size_t)maskStride * out->GetHeight();
    unsigned char *mask = (unsigned char *)malloc(maskSize);
    if (mask && ReadAll(s, mask, maskSize))
        ApplyMask(out, mask, maskStride);
    free(mask);
    return true;
}

bool CDibImageICO::Decode(CByteStream *stream)
{
    if (!stream)
        return false;
    long start = stream->Tell();
    IcoEntry e = {};
    if (!ReadDirectory(this, stream, &e))
        return false;
    if (IsCancelled())
        return false;   // icon failures carry no text of their own
    if ((int64_t)start + e.offset >= (int64_t)stream->Size() ||
        !stream->Seek(start + (long)e.offset, SEEK_SET))
        return false;
    bool png = (e.width == 0 && e.height == 0) || IsPngData(stream);
    if (png)
        return DecodePngEntry(this, stream);
    if (info.escape == -1) {
        head.biWidth = e.width ? e.width : 256;
        head.biHeight = e.height ? e.height : 256;
        info.format = FORMAT_ICO;
        return true;
    }
    return DecodeDibEntry(this, stream);
}

// ---- Encoding ----

static bool WriteAll(CByteStream *s, const void *p, size_t n) { return s->Write(p, 1, n) == n; }

// The header and the one directory entry, whose image data goes at the
// running offset; the offset then moves past that data.
static bool WriteDirectory(CDibImageICO *ico, CByteStream *s, int w, int h, int colors, int bits,
                           uint32_t bytes)
{
    unsigned char d[22];
    memset(d, 0, sizeof d);
    Put16(d + 2, 1);
    Put16(d + 4, 1);
    d[6] = (unsigned char)w;
    d[7] = (unsigned char)h;
    d[8] = (unsigned char)colors;
    Put16(d + 12, (uint32_t)bits);
    Put32(d + 14, bytes);
    Put32(d + 18, ico->nextOffset);
    ico->nextOffset += bytes;
    return WriteAll(s, d, sizeof d);
}

static bool EncodeAsPng(CDibImageICO *ghost, CByteStream *s)
{
    CDibImage copy(*ghost);
    unsigned char *png = 0;
    int32_t size = 0;
    if (!copy.Encode(&png, &size, FORMAT_PNG)) {
        ghost->SetError(copy.GetLastError());
        return false;
    }
    bool ok =
        WriteDirectory(ghost, s, 0, 0, ghost->GetNumColors(), ghost->GetBpp(), (uint32_t)size) &&
        WriteAll(s, png, (size_t)size);
    CDibImage::FreeEncodedBuffer(png);
    return ok;
}

static unsigned char *BuildMask(CDibImage *im, int maskStride)
{
    int w = im->GetWidth(), h = im->GetHeight();
    unsigned char *mask = (unsigned char *)calloc((size_t)maskStride * h, 1);
    if (!mask || !im->IsTransparent())
        return mask;
    RGBQUAD t = im->GetTransColor();
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            RGBQUAD c = im->GetPixelColor(x, y);
            if (c.rgbBlue == t.rgbBlue && c.rgbGreen == t.rgbGreen && c.rgbRed == t.rgbRed)
                mask[y * maskStride + x / 8] |= (unsigned char)(0x80 >> (x % 8));
        }
    return mask;
}

static bool WriteDibEntry(CDibImageICO *im, CByteStream *s, int maskStride, size_t maskSize)
{
    int colors = im->GetNumColors();
    uint32_t imageSize = im->head.biSizeImage;
    unsigned char ih[40];
    memset(ih, 0, sizeof ih);
    Put32(ih, 40);
    Put32(ih + 4, (uint32_t)im->GetWidth());
    Put32(ih + 8, (uint32_t)(2 * im->GetHeight()));
    Put16(ih + 12, 1);
    Put16(ih + 14, (uint32_t)im->GetBpp());
    Put32(ih + 20, imageSize);
    // The transparent entry is written black; the source palette is not touched.
    RGBQUAD palette[256];
    memcpy(palette, im->GetPalette(), 4 * (size_t)colors);
    if (im->info.backgroundIndex >= 0 && im->info.backgroundIndex < colors)
        memset(&palette[im->info.backgroundIndex], 0, 4);
    unsigned char *mask = BuildMask(im, maskStride);
    if (!mask)
        return false;
    uint32_t bytes = 40 + 4 * (uint32_t)colors + imageSize + (uint32_t)maskSize;
    bool ok = WriteDirectory(im, s, im->GetWidth(), im->GetHeight(), colors, im->GetBpp(), bytes) &&
              WriteAll(s, ih, 40) && WriteAll(s, palette, 4 * (size_t)colors) &&
              WriteAll(s, im->info.pixels, imageSize) && WriteAll(s, mask, maskSize);
    free(mask);
    return ok;
}

bool CDibImageICO::Encode(CByteStream *stream)
{
    if (!CanEncodeTo(stream))
        return false;
    if (GetBpp() <= 8 && (!GetNumColors() || !GetPalette()))
        return false;
    nextOffset = 6 + 16 * 1;   // one image per file
    if (GetWidth() > 255 || GetHeight() > 255)
        return EncodeAsPng(this, stream);
    int maskStride = (GetWidth() + 31) / 32 * 4;
    return WriteDibEntry(this, stream, maskStride, (size_t)maskStride * GetHeight());
}
