// TIFF codec over libtiff. Every byte passes through a CByteStream by
// libtiff's client procedures. Colour pages (RGB, separated, YCbCr, LogL,
// LogLuv) go through libtiff's RGBA reader; bilevel, grey, palette and the
// remaining interpretations are read strip by strip (or tile by tile) and
// mapped into the DIB here.
#include "tifcodec.h"
#include "stream.h"

#include <tiffio.h>
#include <limits.h>
#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

static const char kErrOpen[] = "Error encountered while opening TIFF file";
static const char kErrPage[] = "Error: page not present in TIFF file";
static const char kErrCancelled[] = "Cancelled";
static const char kErrCreate[] = "CDibImageTIF can't create image";
static const char kErrRaster[] = "No space for raster buffer";
static const char kErrCorrupt[] = "Corrupted TIFF file!";
static const char kErrBigPalette[] = "Too big palette to handle";
static const char kErrPalette[] = "Unable to allocate TIFF palette";
static const char kErrMemory[] = "CDibImageTIF can't allocate memory";
static const char kErrTile[] = "Corrupted tiled TIFF file!";
static const char kErrSave[] = "Error saving TIFF file";

// Rows, strips and tables larger than this are refused before allocating.
static const uint64_t kMaxBuffer = 1u << 30;

CDibImageTIF::CDibImageTIF() : CDibImage(FORMAT_TIF), writer(0), multiPage(false), pageCount(0) {}

CDibImageTIF::~CDibImageTIF()
{
    if (writer)
        TIFFClose(writer);
}

// ---------------------------------------------------------------- stream adapter

static tmsize_t TiffRead(thandle_t handle, void *buffer, tmsize_t size)
{
    if (size <= 0)
        return 0;
    return (tmsize_t)((CByteStream *)handle)->Read(buffer, 1, (size_t)size);
}

static tmsize_t TiffWrite(thandle_t handle, void *buffer, tmsize_t size)
{
    if (size <= 0)
        return 0;
    return (tmsize_t)((CByteStream *)handle)->Write(buffer, 1, (size_t)size);
}

// libtiff's failure value is all bits set; offsets a long cannot hold fail.
static toff_t TiffSeek(thandle_t handle, toff_t offset, int origin)
{
    CByteStream *stream = (CByteStream *)handle;
    const toff_t failed = (toff_t)-1;
    if (offset == failed || offset == 0xFFFFFFFFu)
        return failed;
    int64_t signedOffset = (int64_t)offset;
    if (signedOffset > LONG_MAX || signedOffset < LONG_MIN || (origin == 0 && signedOffset < 0))
        return failed;
    if (!stream->Seek((long)signedOffset, origin))
        return failed;
    if (origin == 0)
        return offset;
    long at = stream->Tell();
    return at < 0 ? failed : (toff_t)at;
}

// The stream's owner closes it.
static int TiffClose(thandle_t) { return 0; }

static toff_t TiffSize(thandle_t handle)
{
    long size = ((CByteStream *)handle)->Size();
    return size < 0 ? 0 : (toff_t)size;
}

static int TiffMap(thandle_t, void **, toff_t *) { return 0; }

static void TiffUnmap(thandle_t, void *, toff_t) {}

// libtiff's messages would go to the console; failures are reported by
// this codec's own texts.
static void SilenceLibtiff()
{
    static bool done = false;
    if (!done) {
        TIFFSetErrorHandler(0);
        TIFFSetWarningHandler(0);
        done = true;
    }
}

static TIFF *TiffStreamAdapter(CByteStream *stream, const char *mode)
{
    SilenceLibtiff();
    TIFF *tif = TIFFClientOpen("TIFF IMAGE", mode, (thandle_t)stream, TiffRead, TiffWrite,
                               TiffSeek, TiffClose, TiffSize, TiffMap, TiffUnmap);
    if (tif)
        TIFFSetFileno(tif, (int)(intptr_t)stream);
    return tif;
}

// ---------------------------------------------------------------- decode state

struct TifPage {
    uint32_t width, height, rowsPerStrip;
    uint16_t samples, bits, photometric, orientation, compression;
    bool tiled, bigPalette;
    uint64_t rowBytes;          // one source row: samples x bits x width bits
    RGBQUAD *bigMap;            // big palette: 2^bits colours
    uint32_t bigMapSize;
    uint8_t *row8;              // 16-bit samples reduced to bytes, one row
    uint8_t *rowShifts;         // untiled 16-bit: the shift of each DIB row
};

static bool Fail(CDibImage *image, TIFF *tif, const char *text)
{
    if (tif)
        TIFFClose(tif);
    image->SetError(text);
    return false;
}

static void ReadPageTags(TIFF *tif, TifPage *page)
{
    page->width = 0;
    page->height = 0;
    page->samples = 1;
    page->bits = 1;
    page->rowsPerStrip = 0xFFFFFFFFu;
    page->photometric = 0;
    page->orientation = 1;
    page->compression = 1;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &page->width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &page->height);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &page->samples);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &page->bits);
    TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &page->rowsPerStrip);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &page->photometric);
    TIFFGetField(tif, TIFFTAG_ORIENTATION, &page->orientation);
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &page->compression);
    page->tiled = TIFFIsTiled(tif) != 0;
}

static int ResolutionToDpi(float value, uint16_t unit)
{
    double v = value;
    if (unit == RESUNIT_CENTIMETER)
        v = v * 2.54 + 0.5;
    return (int)v;
}

// Resolution and position; applied once the DIB exists.
static void ReadPlacement(TIFF *tif, CDibImage *image)
{
    uint16_t unit = RESUNIT_INCH;
    float value;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &value))
        image->SetXDPI(ResolutionToDpi(value, unit));
    if (TIFFGetField(tif, TIFFTAG_YRESOLUTION, &value))
        image->SetYDPI(ResolutionToDpi(value, unit));
    if (TIFFGetField(tif, TIFFTAG_XPOSITION, &value))
        image->info.xOffset = (int32_t)value;
    if (TIFFGetField(tif, TIFFTAG_YPOSITION, &value))
        image->info.yOffset = (int32_t)value;
}

static bool UsesRgbaReader(uint16_t photometric)
{
    return photometric == PHOTOMETRIC_RGB || photometric == PHOTOMETRIC_SEPARATED ||
           photometric == PHOTOMETRIC_YCBCR || photometric == PHOTOMETRIC_LOGL ||
           photometric == PHOTOMETRIC_LOGLUV;
}

static int DepthOf(const TifPage *page)
{
    uint16_t p = page->photometric;
    if ((p == PHOTOMETRIC_MINISWHITE || p == PHOTOMETRIC_MINISBLACK || p == PHOTOMETRIC_PALETTE) &&
        page->bits == 1)
        return 1;
    if (UsesRgbaReader(p) || page->bigPalette)
        return 24;
    return page->bits == 4 ? 4 : 8;
}

// ---------------------------------------------------------------- RGBA path

static void ApplyOrientation(CDibImage *image, int orientation);

static bool DecodeRgba(CDibImage *image, TIFF *tif, const TifPage *page)
{
    uint64_t count = (uint64_t)page->width * page->height;
    uint32_t *raster = count * 4 <= kMaxBuffer ? (uint32_t *)malloc((size_t)count * 4) : 0;
    if (!raster)
        return Fail(image, tif, kErrRaster);
    if (!TIFFReadRGBAImage(tif, page->width, page->height, raster, 1)) {
        free(raster);
        return Fail(image, tif, kErrCorrupt);
    }
    for (uint32_t r = 0; r < page->height; r++) {
        if (image->IsCancelled()) {
            free(raster);
            return Fail(image, tif, kErrCancelled);
        }
        const uint32_t *src = raster + (size_t)r * page->width;
        uint8_t *dst = image->GetBits((int)r);
        for (uint32_t x = 0; x < page->width; x++, dst += 3) {
            dst[0] = (uint8_t)TIFFGetB(src[x]);
            dst[1] = (uint8_t)TIFFGetG(src[x]);
            dst[2] = (uint8_t)TIFFGetR(src[x]);
        }
    }
    free(raster);
    TIFFClose(tif);
    // The reader flips but does not turn: pages whose rows are columns
    // come out flipped like their unturned counterparts, so undo that flip
    // and orient them as the strip path does.
    if (page->orientation >= ORIENTATION_LEFTTOP && page->orientation <= ORIENTATION_LEFTBOT) {
        ApplyOrientation(image, page->orientation - 4);
        ApplyOrientation(image, page->orientation);
    }
    return true;
}

// ---------------------------------------------------------------- palettes

static uint8_t MapValue(uint16_t v, bool wide) { return wide ? (uint8_t)(v * 255u / 65535u) : (uint8_t)v; }

static bool ColorMapIsWide(const uint16_t *r, const uint16_t *g, const uint16_t *b, uint32_t n)
{
    for (uint32_t i = 0; i < n; i++)
        if (r[i] > 255 || g[i] > 255 || b[i] > 255)
            return true;
    return false;
}

// Fills `table` (n entries) from the colour map; false without one.
static bool ReadColorMap(TIFF *tif, RGBQUAD *table, uint32_t n, bool forceWide)
{
    uint16_t *r = 0, *g = 0, *b = 0;
    if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) || !r || !g || !b)
        return false;
    bool wide = forceWide || ColorMapIsWide(r, g, b, n);
    for (uint32_t i = 0; i < n; i++) {
        table[i].rgbRed = MapValue(r[i], wide);
        table[i].rgbGreen = MapValue(g[i], wide);
        table[i].rgbBlue = MapValue(b[i], wide);
        table[i].rgbReserved = 0;
    }
    return true;
}

static void FillGreyTable(RGBQUAD *table, int j, bool whiteIsZero)
{
    int n = 1 << j, step = 255 / (n - 1);
    for (int i = 0; i < n; i++) {
        uint8_t v = (uint8_t)(whiteIsZero ? 255 - i * step : i * step);
        table[i].rgbRed = table[i].rgbGreen = table[i].rgbBlue = v;
    }
}

static bool ReadPalette(CDibImage *image, TIFF *tif, TifPage *page)
{
    if (page->bigPalette) {
        if (page->bits > 24)
            return Fail(image, tif, kErrBigPalette);
        page->bigMapSize = 1u << page->bits;
        page->bigMap = (RGBQUAD *)calloc(page->bigMapSize, sizeof(RGBQUAD));
        if (!page->bigMap)
            return Fail(image, tif, kErrPalette);
        ReadColorMap(tif, page->bigMap, page->bigMapSize, true);
        return true;
    }
    RGBQUAD *table = (RGBQUAD *)calloc(256, sizeof(RGBQUAD));
    if (!table)
        return Fail(image, tif, kErrPalette);
    int j = page->bits < 8 ? page->bits : 8;
    if (j < 1)
        j = 1;
    uint16_t p = page->photometric;
    if (p == PHOTOMETRIC_MINISWHITE || p == PHOTOMETRIC_MINISBLACK)
        FillGreyTable(table, j, p == PHOTOMETRIC_MINISWHITE);
    else if (p == PHOTOMETRIC_PALETTE)
        ReadColorMap(tif, table, 1u << j, false);
    image->SetPalette(table, 1 << j);
    free(table);
    return true;
}

// ---------------------------------------------------------------- samples

// `count` bits (1..32) at bit `at` of a row packed most significant bit first.
static uint32_t BitsAt(const uint8_t *row, uint64_t rowBytes, uint64_t at, int count)
{
    if (at + count > rowBytes * 8)
        return 0;
    uint32_t v = 0;
    for (int i = 0; i < count; i++, at++)
        v = (v << 1) | ((row[at >> 3] >> (7 - (at & 7))) & 1);
    return v;
}

// Sample k of a row as a byte: small samples keep their value; 24 and 32-bit
// samples (in host order) their high byte; other sizes their top 8 bits.
static uint8_t SampleByte(const uint8_t *row, uint64_t rowBytes, uint64_t k, int bits)
{
    uint64_t bytes = (uint64_t)bits / 8;
    if (bits == 8)
        return k < rowBytes ? row[k] : 0;
    if ((bits == 16 || bits == 24 || bits == 32) && (k + 1) * bytes <= rowBytes)
        return row[k * bytes + bytes - 1];
    if (bits < 8)
        return (uint8_t)BitsAt(row, rowBytes, k * bits, bits);
    return (uint8_t)BitsAt(row, rowBytes, k * bits, 8);
}

// Shifts that bring the top bit of m to bit 7; 8 when m is 0.
static int ShiftFor(unsigned m)
{
    if (m == 0)
        return 8;
    int s = 0;
    while (!(m & 0x80)) {
        m <<= 1;
        s++;
    }
    return s;
}

// 16-bit samples (host order) to bytes. Untiled rows keep the 8 bits below
// the row's highest set bit; tiled rows keep the high byte.
static void Reduce16(const uint8_t *src, uint8_t *dst, uint64_t count, bool scale, uint8_t *shift)
{
    const uint16_t *s16 = (const uint16_t *)src;
    int s = 0;
    if (scale) {
        unsigned m = 0;
        for (uint64_t i = 0; i < count; i++)
            if ((unsigned)(s16[i] >> 8) > m)
                m = s16[i] >> 8;
        s = ShiftFor(m);
        *shift = (uint8_t)s;
    }
    for (uint64_t i = 0; i < count; i++)
        dst[i] = (uint8_t)((s16[i] >> (8 - s)) & 0xFF);
}

static uint8_t Clamp255(double v)
{
    if (v <= 0)
        return 0;
    return v >= 255 ? 255 : (uint8_t)v;
}

static double GammaEncode(double v)
{
    return v > 0.00304 ? 1.055 * pow(v, 0.41667) - 0.055 : 12.92 * v;
}

static RGBQUAD LabToRgb(uint8_t lByte, uint8_t aByte, uint8_t bByte)
{
    double L = lByte / 2.55, a = (int8_t)aByte, b = (int8_t)bByte;
    double fy = (L + 16) / 116, Y = fy * fy * fy;
    double fx = fy + a * 0.002, fz = fy - b * 0.005;
    double X = 0.95047 * fx * fx * fx, Z = 1.0883 * fz * fz * fz;
    double R = 3.240479 * X - 1.53715 * Y - 0.498535 * Z;
    double G = -0.969256 * X + 1.875992 * Y + 0.041556 * Z;
    double B = 0.055648 * X - 0.204043 * Y + 1.057311 * Z;
    RGBQUAD c;
    c.rgbRed = Clamp255(GammaEncode(R) * 255);
    c.rgbGreen = Clamp255(GammaEncode(G) * 255);
    c.rgbBlue = Clamp255(GammaEncode(B) * 255);
    c.rgbReserved = 0;
    return c;
}

// ---------------------------------------------------------------- rows

static void PutBigPaletteRow(CDibImage *image, const TifPage *page, const uint8_t *src, int dibRow)
{
    uint8_t *dst = image->GetBits(dibRow);
    for (uint32_t x = 0; x < page->width; x++, dst += 3) {
        uint32_t index;
        if (page->bits == 16)
            index = (uint64_t)x * 2 + 1 < page->rowBytes ? ((const uint16_t *)src)[x] : 0;
        else
            index = BitsAt(src, page->rowBytes, (uint64_t)x * page->bits, page->bits);
        if (index >= page->bigMapSize)
            index = page->bigMapSize - 1;
        dst[0] = page->bigMap[index].rgbBlue;
        dst[1] = page->bigMap[index].rgbGreen;
        dst[2] = page->bigMap[index].rgbRed;
    }
}

// One source row (top of the file first) into DIB row `dibRow`.
static void PutRow(CDibImage *image, TifPage *page, const uint8_t *src, int dibRow)
{
    uint64_t rowBytes = page->rowBytes;
    int bits = page->bits;
    if (bits == 16 && !page->bigPalette) {
        uint64_t count = (uint64_t)page->samples * page->width;
        Reduce16(src, page->row8, count, page->rowShifts != 0,
                 page->rowShifts ? page->rowShifts + dibRow : 0);
        src = page->row8;
        rowBytes = count;
        bits = 8;
    }
    if (page->samples == 1) {
        if (page->bigPalette) {
            PutBigPaletteRow(image, page, src, dibRow);
        } else if (bits == image->GetBpp()) {
            uint64_t n = rowBytes < (uint64_t)image->GetRowStride() ? rowBytes : image->GetRowStride();
            memcpy(image->GetBits(dibRow), src, (size_t)n);
        } else {
            uint8_t *dst = image->GetBits(dibRow);
            for (uint32_t x = 0; x < page->width; x++)
                dst[x] = SampleByte(src, rowBytes, x, bits);
        }
    } else if (page->samples == 2) {
        for (uint32_t x = 0; x < page->width; x++)
            image->SetPixelIndex((int)x, dibRow, SampleByte(src, rowBytes, 2 * (uint64_t)x, bits));
    } else {
        for (uint32_t x = 0; x < page->width; x++) {
            uint64_t k = (uint64_t)x * page->samples;
            image->SetPixelColor((int)x, dibRow,
                                 LabToRgb(SampleByte(src, rowBytes, k, bits),
                                          SampleByte(src, rowBytes, k + 1, bits),
                                          SampleByte(src, rowBytes, k + 2, bits)));
        }
    }
}

// Lines the rows of a 16-bit grey page up to one scale: the smallest row
// shift wins, so the picture shows the 8 bits below its highest set bit.
static void EqualiseRowShifts(CDibImage *image, const TifPage *page)
{
    int least = 8;
    for (uint32_t y = 0; y < page->height; y++)
        if (page->rowShifts[y] < least)
            least = page->rowShifts[y];
    for (uint32_t y = 0; y < page->height; y++) {
        int extra = page->rowShifts[y] - least;
        if (extra <= 0)
            continue;
        uint8_t *row = image->GetBits((int)y);
        for (uint32_t x = 0; x < page->width; x++)
            row[x] >>= extra;
    }
}

// One tile row band into `strip` (rows of page->rowBytes). False on a bad tile.
static bool ReadTileBand(TIFF *tif, const TifPage *page, uint32_t ys, uint32_t nrow,
                         uint8_t *strip, uint8_t *tile, tmsize_t tileSize, uint32_t tileWidth)
{
    tmsize_t tileRow = TIFFTileRowSize(tif);
    if (tileRow <= 0)
        return false;
    uint32_t rowsInTile = (uint32_t)(tileSize / tileRow);
    uint32_t rows = nrow < rowsInTile ? nrow : rowsInTile;
    for (uint32_t x = 0; x < page->width; x += tileWidth) {
        if (TIFFReadTile(tif, tile, x, ys, 0, 0) < 0)
            return false;
        uint64_t at = (uint64_t)x * page->samples * page->bits / 8;
        if (at >= page->rowBytes)
            break;
        uint64_t n = page->rowBytes - at < (uint64_t)tileRow ? page->rowBytes - at : (uint64_t)tileRow;
        for (uint32_t r = 0; r < rows; r++)
            memcpy(strip + r * page->rowBytes + at, tile + (size_t)r * tileRow, (size_t)n);
        if (x > 0xFFFFFFFFu - tileWidth)
            break;
    }
    return true;
}

static void ApplyOrientation(CDibImage *image, int orientation)
{
    switch (orientation) {
    case ORIENTATION_TOPRIGHT: image->Mirror(); break;
    case ORIENTATION_BOTRIGHT: image->Flip(); image->Mirror(); break;
    case ORIENTATION_BOTLEFT: image->Flip(); break;
    case ORIENTATION_LEFTTOP: image->RotateRight(); image->Mirror(); break;
    // Row 0 on the right: a quarter turn clockwise brings it to the top.
    case ORIENTATION_RIGHTTOP: image->RotateRight(); break;
    case ORIENTATION_RIGHTBOT: image->RotateLeft(); image->Mirror(); break;
    case ORIENTATION_LEFTBOT: image->RotateLeft(); break;
    default: break;
    }
}

struct TifBuffers {
    uint8_t *strip, *tile;
    ~TifBuffers() { free(strip); free(tile); }
};

static void FreePageTables(TifPage *page)
{
    free(page->bigMap);
    free(page->row8);
    free(page->rowShifts);
    page->bigMap = 0;
    page->row8 = 0;
    page->rowShifts = 0;
}

static bool AllocateStripBuffers(TIFF *tif, TifPage *page, TifBuffers *buf, tmsize_t *tileSize,
                                 uint32_t *tileWidth)
{
    if (page->rowBytes == 0 || page->rowBytes > kMaxBuffer ||
        page->rowBytes * page->rowsPerStrip > kMaxBuffer)
        return false;
    uint64_t stripBytes = page->rowBytes * page->rowsPerStrip;
    buf->strip = (uint8_t *)calloc((size_t)stripBytes, 1);
    if (!buf->strip)
        return false;
    if (page->tiled) {
        *tileSize = TIFFTileSize(tif);
        if (*tileSize <= 0 || (uint64_t)*tileSize > kMaxBuffer)
            return false;
        buf->tile = (uint8_t *)calloc((size_t)*tileSize, 1);
        if (!buf->tile)
            return false;
    }
    if (page->bits == 16 && !page->bigPalette) {
        page->row8 = (uint8_t *)malloc((size_t)page->samples * page->width + 1);
        if (!page->row8)
            return false;
        if (!page->tiled) {
            page->rowShifts = (uint8_t *)malloc(page->height);
            if (!page->rowShifts)
                return false;
            memset(page->rowShifts, 8, page->height);
        }
    }
    return true;
}

// Strips (or bands of tiles) from the top of the file down.
static bool DecodeStrips(CDibImage *image, TIFF *tif, TifPage *page)
{
    TifBuffers buf = {0, 0};
    tmsize_t tileSize = 0;
    uint32_t tileWidth = 0;
    if (page->tiled) {
        uint32_t tileLength = 0;
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
        if (tileWidth == 0 || tileLength == 0)
            return Fail(image, tif, kErrTile);
        page->rowsPerStrip = tileLength;
    }
    if (!AllocateStripBuffers(tif, page, &buf, &tileSize, &tileWidth))
        return Fail(image, tif, kErrMemory);
    uint64_t stripBytes = page->rowBytes * page->rowsPerStrip;
    for (uint32_t ys = 0; ys < page->height; ys += page->rowsPerStrip) {
        if (image->IsCancelled())
            return Fail(image, tif, kErrCancelled);
        image->info.progress = (int32_t)((uint64_t)ys * 100 / page->height);
        uint32_t nrow = page->height - ys < page->rowsPerStrip ? page->height - ys : page->rowsPerStrip;
        if (page->tiled) {
            if (!ReadTileBand(tif, page, ys, nrow, buf.strip, buf.tile, tileSize, tileWidth))
                return Fail(image, tif, kErrTile);
        } else {
            tmsize_t got = TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, ys, 0), buf.strip,
                                                (tmsize_t)stripBytes);
            if (got < 0)
                break;   // keep the rows read so far
            if ((uint64_t)got < stripBytes)
                memset(buf.strip + got, 0, (size_t)(stripBytes - got));
        }
        for (uint32_t r = 0; r < nrow; r++)
            PutRow(image, page, buf.strip + r * page->rowBytes, (int)(page->height - 1 - ys - r));
        if (page->rowsPerStrip > 0xFFFFFFFFu - ys)
            break;
    }
    if (page->rowShifts && page->samples == 1)
        EqualiseRowShifts(image, page);
    return true;
}

bool CDibImageTIF::Decode(CByteStream *stream)
{
    TIFF *tif = TiffStreamAdapter(stream, "rb");
    if (!tif)
        return Fail(this, 0, kErrOpen);
    info.frameCount = (int32_t)TIFFNumberOfDirectories(tif);
    if (info.frameIndex < 0 || !TIFFSetDirectory(tif, (tdir_t)info.frameIndex))
        return Fail(this, tif, kErrPage);
    TifPage page;
    memset(&page, 0, sizeof page);
    ReadPageTags(tif, &page);
    if (info.escape == -1) {
        head.biWidth = (LONG)page.width;
        head.biHeight = (LONG)page.height;
        info.format = FORMAT_TIF;
        SetError("output dimensions returned");
        TIFFClose(tif);
        return true;
    }
    ReadPlacement(tif, this);
    info.backgroundIndex = -1;
    if (page.rowsPerStrip > page.height) {
        page.rowsPerStrip = page.height;
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, page.height);
    }
    if (page.rowsPerStrip == 0)   // would never advance
        page.rowsPerStrip = page.height ? page.height : 1;
    page.bigPalette = page.photometric == PHOTOMETRIC_PALETTE && page.bits > 8;
    if (IsCancelled())
        return Fail(this, tif, kErrCancelled);
    if (page.width > INT_MAX || page.height > INT_MAX)
        return Fail(this, tif, kErrCreate);
    int xDpi = info.xDpi, yDpi = info.yDpi, xOffset = info.xOffset, yOffset = info.yOffset;
    if (!Create((int)page.width, (int)page.height, DepthOf(&page), FORMAT_TIF))
        return Fail(this, tif, kErrCreate);
    SetXDPI(xDpi);
    SetYDPI(yDpi);
    SetOffset(xOffset, yOffset);
    SetCodecOption(page.compression, FORMAT_TIF);
    Clear(0);   // rows of an unreadable strip stay blank
    int32_t frameCount = info.frameCount;   // the transforms start a fresh info block
    if (UsesRgbaReader(page.photometric)) {
        bool ok = DecodeRgba(this, tif, &page);
        info.frameCount = frameCount;
        return ok;
    }
    page.rowBytes = ((uint64_t)page.samples * page.bits * page.width + 7) / 8;
    if (!ReadPalette(this, tif, &page))
        return false;
    if (page.samples >= 3 && GetBpp() != 24 && !Create((int)page.width, (int)page.height, 24, FORMAT_TIF)) {
        FreePageTables(&page);
        return Fail(this, tif, kErrCreate);
    }
    if (page.samples >= 3) {
        SetXDPI(xDpi);
        SetYDPI(yDpi);
        Clear(0);
    }
    bool ok = DecodeStrips(this, tif, &page);
    FreePageTables(&page);
    if (!ok)
        return false;
    ApplyOrientation(this, page.orientation);
    info.frameCount = frameCount;
    TIFFClose(tif);
    return true;
}

// ---------------------------------------------------------------- encode

// Bilevel pages are written white-is-zero: a palette whose entry 0 is the
// darker one is swapped and the pixel bytes inverted to match.
static void MakeEntryZeroLighter(CDibImage *image)
{
    RGBQUAD *pal = image->GetPalette();
    if (!pal || CDibImage::CompareColors(&pal[0], &pal[1]) >= 0)
        return;
    RGBQUAD t = pal[0];
    pal[0] = pal[1];
    pal[1] = t;
    uint8_t *bits = image->GetBits(0);
    for (DWORD i = 0; bits && i < image->head.biSizeImage; i++)
        bits[i] = (uint8_t)~bits[i];
    // The palette belongs to the image this one is a ghost of: its cache too.
    for (CDibImage *owner = image; owner; owner = owner->info.ghostSource)
        owner->info.lastValid = 0;
}

// Black-is-zero only when entry i is the grey of sample value i at this
// depth (i x 255 / (2^depth - 1)), else the page needs its colour map.
static bool IsGreyRamp(const CDibImage *image)
{
    const RGBQUAD *pal = image->GetPalette();
    int n = image->GetNumColors(), step = 255 / ((1 << image->GetBpp()) - 1);
    for (int i = 0; pal && i < n; i++)
        if (pal[i].rgbRed != i * step || pal[i].rgbGreen != pal[i].rgbRed ||
            pal[i].rgbBlue != pal[i].rgbRed)
            return false;
    return pal != 0;
}

static uint16_t PhotometricFor(CDibImage *image)
{
    if (image->GetBpp() == 1) {
        MakeEntryZeroLighter(image);
        return PHOTOMETRIC_MINISWHITE;
    }
    if (image->GetBpp() == 24)
        return PHOTOMETRIC_RGB;
    return IsGreyRamp(image) ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_PALETTE;
}

static bool WriteColorMap(TIFF *tif, const CDibImage *image)
{
    uint16_t red[256] = {}, green[256] = {}, blue[256] = {};
    const RGBQUAD *pal = image->GetPalette();
    for (int i = 0; pal && i < image->GetNumColors() && i < 256; i++) {
        red[i] = (uint16_t)(pal[i].rgbRed * 257);
        green[i] = (uint16_t)(pal[i].rgbGreen * 257);
        blue[i] = (uint16_t)(pal[i].rgbBlue * 257);
    }
    return TIFFSetField(tif, TIFFTAG_COLORMAP, red, green, blue) != 0;
}

static uint16_t CompressionFor(const CDibImage *image)
{
    uint32_t option = image->GetCodecOption(FORMAT_TIF);
    if (option)
        return (uint16_t)option;
    switch (image->GetBpp()) {
    case 1: return COMPRESSION_CCITTFAX4;
    case 4:
    case 8: return COMPRESSION_LZW;
    case 24: return COMPRESSION_JPEG;
    default: return COMPRESSION_NONE;
    }
}

static bool WriteTags(TIFF *tif, CDibImage *image)
{
    uint16_t samples = image->GetBpp() == 24 ? 3 : 1;
    uint16_t bits = (uint16_t)(image->GetBpp() / samples);
    uint16_t photometric = PhotometricFor(image);
    uint16_t compression = CompressionFor(image);
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, (uint32_t)image->GetWidth()) &&
              TIFFSetField(tif, TIFFTAG_IMAGELENGTH, (uint32_t)image->GetHeight()) &&
              TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples) &&
              TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits) &&
              TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric) &&
              TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
              TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
              TIFFSetField(tif, TIFFTAG_XRESOLUTION, (double)image->GetXDPI()) &&
              TIFFSetField(tif, TIFFTAG_YRESOLUTION, (double)image->GetYDPI()) &&
              TIFFSetField(tif, TIFFTAG_SUBFILETYPE, (uint32_t)0) &&
              TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    if (ok && photometric == PHOTOMETRIC_PALETTE)
        ok = WriteColorMap(tif, image);
    if (ok && compression == COMPRESSION_LZW && image->GetBpp() >= 8)
        ok = TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) != 0;
    uint32_t rowsPerStrip = TIFFDefaultStripSize(tif, 0);
    if (ok && compression == COMPRESSION_JPEG) {
        ok = TIFFSetField(tif, TIFFTAG_JPEGQUALITY, image->GetJpegQuality()) != 0;
        rowsPerStrip = (rowsPerStrip + 7) / 8 * 8;
    }
    return ok && TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
}

// Rows from the top of the picture down, each from a copy of the DIB row.
static bool WriteRows(TIFF *tif, const CDibImage *image)
{
    int stride = image->GetRowStride(), height = image->GetHeight(), width = image->GetWidth();
    uint8_t *row = (uint8_t *)malloc(stride > 0 ? stride : 1);
    if (!row)
        return false;
    bool ok = true;
    for (int r = 0; ok && r < height; r++) {
        memcpy(row, image->GetBits(height - 1 - r), stride);
        if (image->GetBpp() == 24)
            for (int x = 0; x < width; x++) {
                uint8_t t = row[3 * x];
                row[3 * x] = row[3 * x + 2];
                row[3 * x + 2] = t;
            }
        ok = TIFFWriteScanline(tif, row, (uint32_t)r, 0) > 0;
    }
    free(row);
    return ok;
}

bool CDibImageTIF::Encode(CByteStream *stream)
{
    if (!CanEncodeTo(stream))
        return false;
    writer = TiffStreamAdapter(stream, "a");
    if (!writer) {
        SetError("initialization fail");
        return false;
    }
    // Flushing first: closing alone cannot report a directory that failed to write.
    bool ok = WriteTags(writer, this) && WriteRows(writer, this) && TIFFFlush(writer);
    TIFFClose(writer);
    writer = 0;
    if (!ok)
        SetError(kErrSave);
    return ok;
}
