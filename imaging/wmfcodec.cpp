// Metafile reader. A placeable WMF is converted into an enhanced metafile,
// an EMF is taken as it stands; either is played with GDI into a bitmap
// compatible with the screen, which is then copied into the image.
// GDI plays the records on the trust of every field inside them, so the
// records are walked here first (metarecords.cpp): a damaged or hostile file
// must be refused, not read or written beyond.
#include "wmfcodec.h"
#include "framework/bytes.h"
#include "metarecords.h"
#include "stream.h"
#include <math.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

static const char kCorrupted[] = "corrupted WMF";
static const char kDimensions[] = "output dimensions returned";
static const char kEmpty[] = "empty WMF";
static const char kCancelled[] = "Cancelled";
static const char kNoSave[] = "Save WMF not supported";

CDibImageWMF::CDibImageWMF() : CDibImage(FORMAT_WMF) {}

// A metafile made ready for playing, with its natural size in pixels.
struct MetaPicture {
    HENHMETAFILE handle;
    int64_t width, height;
};

static int64_t BytesFrom(CByteStream *s, long at)
{
    long size = s->Size();
    return size > at ? (int64_t)size - at : 0;
}

// ---- Placeable WMF -------------------------------------------------------

struct PlaceableHeader {
    int16_t left, top, right, bottom;
    uint16_t inch;
};

static uint16_t PlaceableChecksum(const uint8_t *raw)
{
    uint16_t sum = 0;
    for (int i = 0; i < 10; i++)
        sum ^= Le16(raw + 2 * i);
    return sum;
}

static bool ReadPlaceableHeader(CByteStream *s, PlaceableHeader *p)
{
    uint8_t raw[WMF_PLACEABLE_SIZE];
    if (s->Read(raw, 1, sizeof raw) != sizeof raw)
        return false;
    p->left = (int16_t)Le16(raw + 6);
    p->top = (int16_t)Le16(raw + 8);
    p->right = (int16_t)Le16(raw + 10);
    p->bottom = (int16_t)Le16(raw + 12);
    p->inch = Le16(raw + 14);
    return Le32(raw) == WMF_PLACEABLE_KEY && Le16(raw + 20) == PlaceableChecksum(raw) &&
           p->inch >= 1 && p->inch <= 2540;
}

// The 16-bit metafile after the placeable header: its standard header,
// then all its bytes, which must be in the stream before they are allocated.
static uint8_t *ReadWmfBytes(CByteStream *s, long start, uint32_t *size)
{
    uint8_t mh[WMF_HEADER_SIZE];
    if (s->Read(mh, 1, sizeof mh) != sizeof mh)
        return 0;
    uint16_t type = Le16(mh);
    int64_t bytes = 2 * (int64_t)Le32(mh + 6);
    if ((type != 1 && type != 2) || bytes < WMF_HEADER_SIZE ||
        bytes > BytesFrom(s, start + WMF_PLACEABLE_SIZE))
        return 0;
    if (!s->Seek(start + WMF_PLACEABLE_SIZE, SEEK_SET))
        return 0;
    uint8_t *mf = (uint8_t *)malloc((size_t)bytes);
    if (!mf)
        return 0;
    if (s->Read(mf, 1, (size_t)bytes) != (size_t)bytes || !WmfRecordsSound(mf, bytes)) {
        free(mf);
        return 0;
    }
    WmfSpellOutColourCounts(mf, bytes);
    *size = (uint32_t)bytes;
    return mf;
}

static HENHMETAFILE ConvertWmf(const uint8_t *mf, uint32_t size)
{
    HDC screen = GetDC(0);
    METAFILEPICT pict = {MM_ANISOTROPIC, 10000, 10000, 0};
    HENHMETAFILE emf = SetWinMetaFileBits(size, mf, screen, &pict);
    if (!emf) {
        pict.mm = MM_TEXT;
        emf = SetWinMetaFileBits(size, mf, screen, &pict);
    }
    ReleaseDC(0, screen);
    return emf;
}

// The bounding box in metafile units, at the screen's pixels per inch.
static void PlaceableSize(const PlaceableHeader &p, MetaPicture *pic)
{
    HDC screen = GetDC(0);
    int64_t dx = GetDeviceCaps(screen, LOGPIXELSX), dy = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(0, screen);
    int64_t inch = p.inch;
    pic->width = (((int64_t)p.right - p.left) * dx + inch / 2) / inch;
    pic->height = (((int64_t)p.bottom - p.top) * dy + inch / 2) / inch;
}

static bool OpenPlaceable(CByteStream *s, long start, MetaPicture *pic)
{
    PlaceableHeader p;
    uint32_t size = 0;
    if (!ReadPlaceableHeader(s, &p))
        return false;
    uint8_t *mf = ReadWmfBytes(s, start, &size);
    if (!mf)
        return false;
    pic->handle = ConvertWmf(mf, size);
    free(mf);
    if (!pic->handle)
        return false;
    PlaceableSize(p, pic);
    return true;
}

// ---- EMF -----------------------------------------------------------------

// The header's own byte count says how much of the stream is the metafile;
// a stream shorter than that is a truncated file.
static uint8_t *ReadEmfBytes(CByteStream *s, long start, uint32_t *size)
{
    uint8_t raw[WMF_EMF_HEADER_SIZE];
    if (s->Read(raw, 1, sizeof raw) != sizeof raw || Le32(raw) != EMR_HEADER ||
        Le32(raw + 40) != ENHMETA_SIGNATURE)
        return 0;
    uint32_t bytes = Le32(raw + 48);
    if (bytes < WMF_EMF_HEADER_SIZE || bytes > BytesFrom(s, start) || !s->Seek(start, SEEK_SET))
        return 0;
    uint8_t *emf = (uint8_t *)malloc(bytes);
    if (!emf)
        return 0;
    if (s->Read(emf, 1, bytes) != bytes || !EmfRecordsSound(emf, bytes)) {
        free(emf);
        return 0;
    }
    *size = bytes;
    return emf;
}

static bool OpenEmf(CByteStream *s, long start, MetaPicture *pic)
{
    uint32_t size = 0;
    uint8_t *emf = ReadEmfBytes(s, start, &size);
    if (!emf)
        return false;
    pic->handle = SetEnhMetaFileBits(size, emf);
    free(emf);
    ENHMETAHEADER eh;
    if (!pic->handle || !GetEnhMetaFileHeader(pic->handle, sizeof eh, &eh)) {
        if (pic->handle)
            DeleteEnhMetaFile(pic->handle);
        return false;
    }
    pic->width = (int64_t)eh.rclBounds.right - eh.rclBounds.left;
    pic->height = (int64_t)eh.rclBounds.bottom - eh.rclBounds.top;
    return true;
}

// ---- Playing -------------------------------------------------------------

// The memory DC with the bitmap and palette selected into it.
struct PlayTarget {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ oldBitmap;
    HPALETTE palette, oldPalette;
};

static bool MakeTarget(PlayTarget *t, int width, int height)
{
    memset(t, 0, sizeof *t);
    HDC screen = GetDC(0);
    t->bitmap = CreateCompatibleBitmap(screen, width, height);
    t->dc = CreateCompatibleDC(screen);
    ReleaseDC(0, screen);
    if (t->bitmap && t->dc)
        t->oldBitmap = SelectObject(t->dc, t->bitmap);
    return t->bitmap && t->dc;
}

static void DeselectBitmap(PlayTarget *t)
{
    if (t->oldBitmap)
        SelectObject(t->dc, t->oldBitmap);
    t->oldBitmap = 0;
}

static void FreeTarget(PlayTarget *t)
{
    DeselectBitmap(t);
    if (t->palette) {
        SelectPalette(t->dc, t->oldPalette, FALSE);
        DeleteObject(t->palette);
    }
    if (t->bitmap)
        DeleteObject(t->bitmap);
    if (t->dc)
        DeleteDC(t->dc);
    memset(t, 0, sizeof *t);
}

static void FillBackground(HDC dc, int width, int height)
{
    RECT all = {0, 0, width, height};
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &all, "", 0, 0);
}

// Selects the metafile's own palette, if it has one; false only when the
// memory for it cannot be had.
static bool SelectMetafilePalette(PlayTarget *t, HENHMETAFILE emf)
{
    UINT count = GetEnhMetaFilePaletteEntries(emf, 0, 0);
    if (count == 0 || count == GDI_ERROR)
        return true;
    if (count > 0xFFFF)
        count = 0xFFFF;
    HGLOBAL memory =
        GlobalAlloc(GMEM_ZEROINIT, sizeof(LOGPALETTE) + count * sizeof(PALETTEENTRY));
    if (!memory)
        return false;
    LOGPALETTE *lp = (LOGPALETTE *)memory;   // GMEM_FIXED: the handle is the pointer
    UINT got = GetEnhMetaFilePaletteEntries(emf, count, lp->palPalEntry);
    if (got != 0 && got != GDI_ERROR) {
        lp->palVersion = 0x300;
        lp->palNumEntries = (WORD)got;
        t->palette = CreatePalette(lp);
    }
    GlobalFree(memory);
    if (t->palette) {
        t->oldPalette = SelectPalette(t->dc, t->palette, FALSE);
        RealizePalette(t->dc);
    }
    return true;
}

// Copies the bitmap into a fresh image of the DC's depth (16 and 32 bits
// become 24). The block's header is restored afterwards: GetDIBits may
// rewrite fields of it that the image keeps otherwise.
static bool CopyIntoImage(CDibImage *out, PlayTarget *t, int width, int height)
{
    int bits = GetDeviceCaps(t->dc, BITSPIXEL);
    if (!out->Create(width, height, bits, FORMAT_WMF))
        return false;
    int lines = GetDIBits(t->dc, t->bitmap, 0, (UINT)height, out->info.pixels,
                          (BITMAPINFO *)out->dib, DIB_RGB_COLORS);
    memcpy(out->dib, &out->head, sizeof out->head);
    return lines > 0;
}

// An inside-frame pen draws within the shape's box: the platform's arc code
// first shrinks the box by the pen's width and overruns its point buffer
// when that leaves nothing. Such an arc, chord or pie would be pen only.
// The pen's device width is taken along whichever axis makes it longer.
static bool PenFillsBox(HDC dc, const RECTL &box)
{
    HGDIOBJ pen = GetCurrentObject(dc, OBJ_PEN);
    int32_t width = 0;
    if (GetObjectType(pen) == OBJ_EXTPEN) {
        EXTLOGPEN ext;
        if (GetObjectA(pen, sizeof ext, &ext) < (int)offsetof(EXTLOGPEN, elpNumEntries) ||
            (ext.elpPenStyle & PS_STYLE_MASK) != PS_INSIDEFRAME)
            return false;
        width = (int32_t)ext.elpWidth;
    } else {
        LOGPEN plain;
        if (!GetObjectA(pen, sizeof plain, &plain) ||
            (plain.lopnStyle & PS_STYLE_MASK) != PS_INSIDEFRAME)
            return false;
        width = plain.lopnWidth.x;
    }
    if (width <= 1)
        return false;
    POINT p[5] = {{box.left, box.top}, {box.right, box.bottom}, {0, 0}, {width, 0}, {0, width}};
    if (!LPtoDP(dc, p, 5))
        return true;
    double across = fabs((double)p[1].x - p[0].x), down = fabs((double)p[1].y - p[0].y);
    double along = hypot((double)p[3].x - p[2].x, (double)p[3].y - p[2].y);
    double up = hypot((double)p[4].x - p[2].x, (double)p[4].y - p[2].y);
    return (along > up ? along : up) >= (across < down ? across : down);
}

// Plays one record; `data` says whether a path is being defined.
static int CALLBACK PlayRecord(HDC dc, HANDLETABLE *table, const ENHMETARECORD *record,
                               int objects, LPARAM data)
{
    bool *inPath = (bool *)data;
    switch (record->iType) {
    case EMR_BEGINPATH:
        *inPath = true;
        break;
    case EMR_ENDPATH:
    case EMR_ABORTPATH:
        *inPath = false;
        break;
    case EMR_ARC:
    case EMR_ARCTO:
    case EMR_CHORD:
    case EMR_PIE:
        // A path takes the arc as a curve, drawn later by the path code.
        if (!*inPath && PenFillsBox(dc, ((const EMRARC *)record)->rclBox))
            return 1;
        break;
    }
    PlayEnhMetaFileRecord(dc, table, record, (UINT)objects);
    return 1;
}

static bool Play(CDibImage *out, HENHMETAFILE emf, int width, int height)
{
    PlayTarget t;
    if (!MakeTarget(&t, width, height)) {
        FreeTarget(&t);
        DeleteEnhMetaFile(emf);
        return false;
    }
    FillBackground(t.dc, width, height);
    if (!SelectMetafilePalette(&t, emf)) {
        FreeTarget(&t);
        DeleteEnhMetaFile(emf);
        out->SetError(kCancelled);
        return false;
    }
    RECT frame = {0, 0, width, height};
    bool inPath = false;
    EnumEnhMetaFile(t.dc, emf, PlayRecord, &inPath, &frame);
    DeselectBitmap(&t);
    DeleteEnhMetaFile(emf);
    if (out->IsCancelled()) {
        FreeTarget(&t);
        out->SetError(kCancelled);
        return false;
    }
    bool ok = CopyIntoImage(out, &t, width, height);
    FreeTarget(&t);
    return ok;
}

// ---- Sizes ---------------------------------------------------------------

static int32_t ClampInt(int64_t v)
{
    return v > 0x7FFFFFFF ? 0x7FFFFFFF : v < -0x7FFFFFFF ? -0x7FFFFFFF : (int32_t)v;
}

// Keeps the proportions; a side never shrinks below one pixel.
static void LimitSides(int64_t *w, int64_t *h)
{
    if (*w > WMF_MAX_SIDE) {
        *h = *h * WMF_MAX_SIDE / *w;
        *w = WMF_MAX_SIDE;
    }
    if (*h > WMF_MAX_SIDE) {
        *w = *w * WMF_MAX_SIDE / *h;
        *h = WMF_MAX_SIDE;
    }
    if (*w < 1)
        *w = 1;
    if (*h < 1)
        *h = 1;
}

static bool OpenPicture(CByteStream *s, long start, MetaPicture *pic)
{
    if (OpenPlaceable(s, start, pic))
        return true;
    return s->Seek(start, SEEK_SET) && OpenEmf(s, start, pic);
}

bool CDibImageWMF::Decode(CByteStream *stream, int forcedWidth, int forcedHeight)
{
    if (!stream)
        return false;
    long start = stream->Tell();
    MetaPicture pic = {0, 0, 0};
    if (!OpenPicture(stream, start, &pic)) {
        SetError(kCorrupted);
        return false;
    }
    if (info.escape == -1) {
        head.biWidth = ClampInt(pic.width);
        head.biHeight = ClampInt(pic.height);
        info.format = FORMAT_WMF;
        DeleteEnhMetaFile(pic.handle);
        SetError(kDimensions);
        return true;
    }
    // A reversed box or bounds has no area either.
    if (pic.width <= 0 || pic.height <= 0) {
        DeleteEnhMetaFile(pic.handle);
        SetError(kEmpty);
        return false;
    }
    int64_t w = forcedWidth > 0 ? forcedWidth : pic.width;
    int64_t h = forcedHeight > 0 ? forcedHeight : pic.height;
    LimitSides(&w, &h);
    return Play(this, pic.handle, (int)w, (int)h);
}

// Saving is refused for every image, empty or not: the format is the reason.
bool CDibImageWMF::Encode(CByteStream *stream)
{
    if (stream)
        SetError(kNoSave);
    return false;
}
