// Record walks for the metafile reader. All sizes are computed in 64 bits
// from fields of at most 32 bits, so no sum or product below can wrap.
#include "metarecords.h"
#include "framework/bytes.h"
#include <windows.h>
#include <stdlib.h>
#include <string.h>

// ---- Bitmaps -------------------------------------------------------------

// What a packed BITMAPINFO asks of the bytes around it: the header with its
// masks and colour table, and the pixels. Usage 2 declares no table, yet a
// player may still read one of RGB values after the header (`reach`) and,
// in a packed DIB, look for the pixels after one of 2-byte indices
// (`skip`); for every other usage both equal `info`.
struct DibNeeds {
    uint64_t info, bits, reach, skip;
};

static const uint64_t kAllLines = ~(uint64_t)0;

// The colour usage that declares no table: GDI records a monochrome pattern
// brush with it and a header followed by the pixels straight.
static const uint32_t kDibPalIndices = 2;

// `avail` bytes are readable at `p`; colour entries are 2-byte palette
// indices for DIB_PAL_COLORS, none for DIB_PAL_INDICES (but see DibNeeds)
// and RGB values otherwise. `lines` caps the rows of a bottom-up bitmap
// (SetDIBitsToDevice reads only its scan count of those). A header GDI could not size (unknown header
// size, depth or compression) is refused.
static bool DibSizes(const uint8_t *p, uint64_t avail, uint32_t usage, uint64_t lines,
                     DibNeeds *n)
{
    if (avail < 4)
        return false;
    uint32_t headerSize = Le32(p);
    int64_t width, height;
    uint32_t bpp, compression = BI_RGB, sizeImage = 0;
    uint64_t entries, entrySize, masks = 0;
    if (headerSize == 12) {   // BITMAPCOREHEADER
        if (avail < headerSize)
            return false;
        width = Le16(p + 4);
        height = Le16(p + 6);
        bpp = Le16(p + 10);
        if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24)
            return false;
        entries = bpp <= 8 ? 1u << bpp : 0;
        entrySize = usage == DIB_PAL_COLORS ? 2 : usage == kDibPalIndices ? 0 : 3;
    } else if (headerSize >= 40 && headerSize <= avail) {
        width = (int32_t)Le32(p + 4);
        height = (int32_t)Le32(p + 8);
        bpp = Le16(p + 14);
        compression = Le32(p + 16);
        sizeImage = Le32(p + 20);
        uint32_t used = Le32(p + 32);
        entries = used ? used : bpp >= 1 && bpp <= 8 ? 1u << bpp : 0;
        entrySize = usage == DIB_PAL_COLORS ? 2 : usage == kDibPalIndices ? 0 : 4;
        // Only the plain header leaves the colour masks outside itself.
        if (headerSize == 40)
            masks = compression == BI_BITFIELDS ? 12 : compression == 6 ? 16 : 0;
    } else {
        return false;
    }
    if (width < 0)
        return false;
    n->info = headerSize + masks + entries * entrySize;
    n->reach = n->skip = n->info;
    if (usage == kDibPalIndices) {
        n->reach = headerSize + masks + entries * (headerSize == 12 ? 3 : 4);
        n->skip = headerSize + masks + entries * 2;
    }
    // A top-down bitmap is copied whole whatever the scan count.
    uint64_t whole = height < 0 ? (uint64_t)-height : (uint64_t)height;
    uint64_t rows = height > 0 && whole > lines ? lines : whole;
    uint64_t rowBits = (uint64_t)width * bpp + 31, stride = rowBits / 32 * 4;
    switch (compression) {
    case BI_RGB:
    case BI_BITFIELDS:
    case 6:   // BI_ALPHABITFIELDS
        if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
            return false;
        n->bits = rows && stride > ((uint64_t)1 << 62) / rows ? kAllLines : stride * rows;
        return true;
    case BI_RLE8:
    case BI_RLE4:
        // The platform expands the runs into a bitmap of the whole header,
        // whatever the scan count, sized in signed 32-bit arithmetic: a
        // size past that wraps to a small buffer the runs overrun.
        if (rowBits > 0x7FFFFFFF || (stride && whole > 0x7FFFFFFF / stride))
            return false;
        n->bits = sizeImage;
        return sizeImage != 0;
    case BI_JPEG:
    case BI_PNG:
        // The decoder is bounded by the stated size, so that must be there.
        n->bits = sizeImage;
        return sizeImage != 0;
    default:
        return false;
    }
}

// Header, table and pixels one after the other in `avail` bytes.
static bool PackedDibFits(const uint8_t *p, uint64_t avail, uint32_t usage, uint64_t lines)
{
    DibNeeds n;
    return DibSizes(p, avail, usage, lines, &n) && n.reach <= avail && n.skip <= avail &&
           n.bits <= avail - n.skip;
}

// The bytes CreateBitmap reads for a device bitmap: it keeps 1 bit a pixel,
// rounds every other depth (0 included) up to 4, 8, 16, 24 or 32 and reads
// rows of whole 16-bit words, whatever a header's row size or compression
// says. It makes nothing of more planes than one or more than 32 bits, and
// such a bitmap is refused rather than trusted to fail.
static bool DeviceBitmapBytes(uint64_t width, uint64_t height, uint32_t planes, uint32_t bpp,
                              uint64_t *bytes)
{
    if (planes != 1 || bpp > 32)
        return false;
    uint64_t depth = bpp == 1    ? 1
                     : bpp <= 4  ? 4
                     : bpp <= 8  ? 8
                     : bpp <= 16 ? 16
                     : bpp <= 24 ? 24
                                 : 32;
    *bytes = height * ((width * depth + 15) / 16 * 2);
    return true;
}

// True when a ternary raster operation reads the source.
static bool RopUsesSource(uint32_t rop)
{
    return (((rop >> 2) ^ rop) & 0x330000) != 0;
}

// What the platform's DIB code makes of a header before it reads a pixel,
// judged field by field as it reads them: it takes a core header or any
// header of 40 bytes or more as the 40-byte one, and refuses a width of 0
// or less, a height of 0, no planes, no depth, a depth or compression it
// does not know, and sizes past 32 bits; run-length pixels are taken only
// by the calls that allow them. A header it refuses makes the call fail
// with nothing read. When fewer bytes are readable than it reads, it is
// taken to accept, so that a caller judging a header the player reads
// never lets one through unseen.
struct DibTaken {
    uint64_t image;    // the pixel bytes it works with
    uint32_t planes;
};

static bool PlayerTakesDib(const uint8_t *h, uint64_t avail, uint32_t usage, bool runLengths,
                           DibTaken *t)
{
    if (usage > kDibPalIndices)
        return false;
    if (avail < 4)
        return true;
    uint32_t headerSize = Le32(h), compression = BI_RGB, sizeImage = 0;
    int64_t width, height;
    uint32_t bpp;
    if (headerSize == 12) {
        if (avail < 12)
            return true;
        width = Le16(h + 4);
        height = Le16(h + 6);
        t->planes = Le16(h + 8);
        bpp = Le16(h + 10);
    } else if (headerSize >= 40) {
        if (avail < 40)
            return true;
        width = (int32_t)Le32(h + 4);
        height = (int32_t)Le32(h + 8);
        t->planes = Le16(h + 12);
        bpp = Le16(h + 14);
        compression = Le32(h + 16);
        sizeImage = Le32(h + 20);
    } else {
        return false;
    }
    if (width <= 0 || height == 0)
        return false;
    uint64_t rows = height < 0 ? (uint64_t)-height : (uint64_t)height;
    if (runLengths && (compression == BI_RLE4 || compression == BI_RLE8)) {
        t->image = sizeImage;
        return height > 0 && sizeImage != 0 && bpp == (compression == BI_RLE4 ? 4u : 8u);
    }
    if (t->planes == 0 || bpp == 0 || 0xFFFFFFFFu / bpp < (uint64_t)width)
        return false;
    uint64_t stride = ((uint64_t)width * bpp + 31) / 32 * 4;
    if (0xFFFFFFFFu / stride < rows)
        return false;
    t->image = stride * rows;
    switch (bpp) {
    case 1: case 4: case 8: case 24:
        return compression == BI_RGB;
    case 16: case 32:
        return compression == BI_RGB || compression == BI_BITFIELDS;
    default:
        return false;
    }
}

// ---- 16-bit metafiles ----------------------------------------------------

static const uint32_t kNoSlot = 0xFFFFFFFF;

// The object table a WMF player keeps: a creation takes the lowest free
// slot, a deletion frees its slot. A bit is set for each used slot and for
// each slot beyond the header's count, and a summary bit for each full word,
// so finding the lowest free slot is two short scans whatever the file does.
struct WmfObjects {
    uint32_t count;
    uint32_t used[65536 / 32];
    uint32_t full[65536 / 1024];
};

static void MarkUsed(WmfObjects *t, uint32_t slot)
{
    uint32_t word = slot >> 5;
    t->used[word] |= 1u << (slot & 31);
    if (t->used[word] == 0xFFFFFFFF)
        t->full[word >> 5] |= 1u << (word & 31);
}

static void MarkFree(WmfObjects *t, uint32_t slot)
{
    uint32_t word = slot >> 5;
    t->used[word] &= ~(1u << (slot & 31));
    t->full[word >> 5] &= ~(1u << (word & 31));
}

static void InitObjects(WmfObjects *t, uint32_t count)
{
    memset(t, 0, sizeof *t);
    t->count = count;
    for (uint32_t slot = count; slot < 65536; slot++)
        MarkUsed(t, slot);
}

static uint32_t TakeLowestSlot(WmfObjects *t)
{
    for (uint32_t group = 0; group < 65536 / 1024; group++) {
        if (t->full[group] == 0xFFFFFFFF)
            continue;
        uint32_t word = group * 32 + __builtin_ctz(~t->full[group]);
        uint32_t slot = word * 32 + __builtin_ctz(~t->used[word]);
        MarkUsed(t, slot);
        return slot;
    }
    return kNoSlot;
}

// An enhanced metafile carried in MFCOMMENT escapes. The 16-bit metafile
// converter plays it instead of the records when it can put it together:
// it takes pieces from the records that lead the metafile while they are
// MFCOMMENT escapes starting "WMFC" (whatever their comment type), until
// the count of the first piece's header is reached, each piece's size
// within the bytes still to come and its "still to come" field matching.
// Exactly that is put together here and walked like any other enhanced
// metafile. Pieces that do not add up by those rules, or one anywhere
// else, are refused: the converter would play an unfinished buffer, or a
// converter that takes them otherwise would play what was not walked.
struct EmbeddedEmf {
    uint8_t *data;
    uint32_t size;
    uint64_t end;   // where the pieces end; a piece at or after it is a stray
};

// Each piece follows the escape's function and byte count (10 bytes into
// its record) with a 34-byte header: "WMFC", comment type, version, a
// 2-byte checksum, flags, the count of pieces (at 18), this piece's size
// (at 22), the bytes still to come after it (at 26) and the whole
// metafile's size (at 30).
static const uint32_t kEmbeddedIdent = 0x43464D57;   // "WMFC"
static const uint32_t kEmbeddedHeader = 34;
static const uint64_t kPieceAt = 10;

enum { PIECE_NO, PIECE_YES, PIECE_PAST_END };

// Whether the record at `at` starts like a piece, read field by field as
// the converter reads it; PIECE_PAST_END when it would read past the
// metafile to tell.
static int StartsPiece(const uint8_t *mf, uint64_t bytes, uint64_t at)
{
    if (at + 6 > bytes)
        return PIECE_PAST_END;
    if (Le16(mf + at + 4) != META_ESCAPE)
        return PIECE_NO;
    if (at + 8 > bytes)
        return PIECE_PAST_END;
    if (Le16(mf + at + 6) != MFCOMMENT)
        return PIECE_NO;
    if (at + kPieceAt + 4 > bytes)
        return PIECE_PAST_END;
    return Le32(mf + at + kPieceAt) == kEmbeddedIdent ? PIECE_YES : PIECE_NO;
}

// False when the leading pieces cannot be put together by the converter's
// rules; e->data stays null when the metafile carries none.
static bool AssembleEmbedded(const uint8_t *mf, uint64_t bytes, EmbeddedEmf *e)
{
    uint64_t at = 2 * (uint64_t)Le16(mf + 2);
    uint32_t chunks = 0, remaining = 0;
    e->end = at;
    while (at < bytes) {
        int starts = StartsPiece(mf, bytes, at);
        if (starts == PIECE_PAST_END)
            return false;
        if (starts == PIECE_NO)
            return e->data == 0;   // the records ran out before the count
        // The piece and its data must lie in its record: a record of no
        // size would be taken again and again.
        uint64_t recordBytes = 2 * (uint64_t)Le32(mf + at);
        const uint8_t *piece = mf + at + kPieceAt;
        if (recordBytes < kPieceAt + kEmbeddedHeader || recordBytes > bytes - at)
            return false;
        uint32_t chunk = Le32(piece + 22);
        if (chunk > recordBytes - kPieceAt - kEmbeddedHeader)
            return false;
        if (!e->data) {
            // The pieces all come from the file, so their sum cannot exceed it.
            uint32_t total = Le32(piece + 30);
            chunks = Le32(piece + 18);
            if (total == 0 || total > bytes || chunks == 0)
                return false;
            e->data = (uint8_t *)malloc(total);
            if (!e->data)
                return false;
            e->size = remaining = total;
        }
        if (chunk > remaining || Le32(piece + 26) != remaining - chunk)
            return false;
        memcpy(e->data + (e->size - remaining), piece + kEmbeddedHeader, chunk);
        remaining -= chunk;
        at += recordBytes;
        e->end = at;
        if (--chunks == 0)
            return remaining == 0;
    }
    return e->data == 0;
}

// Parameter words of a record.
static uint32_t Word(const uint8_t *params, uint32_t i) { return Le16(params + 2 * i); }

// A Bitmap16 (type, width, height, bytes per row, planes and bits per pixel
// in one word) and its bits in `words` words. The player makes it with
// CreateBitmap (see DeviceBitmapBytes).
static bool Bitmap16Fits(const uint8_t *b, uint64_t words, uint64_t headerWords)
{
    if (words < headerWords)
        return false;
    uint64_t width = Word(b, 1), height = Word(b, 2), rowBytes = Word(b, 3), bytes = 0;
    if (!DeviceBitmapBytes(width, height, b[8], b[9], &bytes))
        return false;
    if (height * rowBytes > bytes)
        bytes = height * rowBytes;   // a player that trusts the field reads that much
    return bytes <= 2 * (words - headerWords);
}

// A device bitmap the platform's player makes with CreateBitmap from
// fields of its own choosing, the pixels `bitsAt` bytes into `avail`. It
// reads nothing when the width or height is 0 or when CreateBitmap refuses
// the rest (more than one plane, more than 32 bits, a side of 2^27 or more).
static bool DeviceBitmapFits(int64_t width, int64_t height, uint32_t planes, uint32_t bpp,
                             uint64_t bitsAt, uint64_t avail)
{
    if (width == 0 || height == 0)
        return true;
    if (width < 0)
        width = -width;
    if (height < 0)
        height = -height;
    uint64_t bytes = 0;
    if (width > 0x7FFFFFF || height > 0x7FFFFFF ||
        !DeviceBitmapBytes((uint64_t)width, (uint64_t)height, planes, bpp, &bytes))
        return true;
    return bitsAt <= avail && bytes <= avail - bitsAt;
}

// A region: an 11-word header, then scans of a count, top, bottom, that many
// x coordinates and the count again.
static bool WmfRegionFits(const uint8_t *p, uint64_t words)
{
    uint64_t at = 11;
    for (uint32_t scans = Word(p, 5); scans > 0; scans--) {
        if (at >= words)
            return false;
        uint64_t xs = Word(p, (uint32_t)at);
        if (xs % 2 || at + xs + 4 > words)
            return false;
        at += xs + 4;
    }
    return true;
}

// What a record's fields ask beyond its fixed words.
enum {
    WC_NONE,
    WC_ENTRIES,      // a count at word 1 of 4-byte entries after it
    WC_POINTS,       // a count at word 0 of points after it
    WC_POLYPOLYGON,  // polygon counts, then their points
    WC_TEXTOUT,
    WC_EXTTEXTOUT,
    WC_FONT,
    WC_BRUSH,
    WC_REGION,
    WC_ESCAPE,
    WC_BITMAP16_BLIT,
    WC_DIB_BLIT,
    WC_SETDIBTODEV,
    WC_STRETCHDIB,
    WC_DIB_BRUSH,
    WC_PATTERN_BRUSH,
    WC_SELECT_PALETTE,
    WC_SAVEDC,
    WC_RESTOREDC
};

// Flags of a rule.
enum {
    WF_CREATES = 1,    // takes the lowest free slot of the object table
    WF_DELETES = 2,    // frees the slot named by its first handle
    WF_ZERO_NONE = 4   // a first handle of 0 names no object
};

// One row per record function the player knows, as the platform's player
// reads it: the parameter words it reads whatever the record's size says,
// the parameters (1-based, 0 for none) that index the object table, and
// the check of what lies beyond. A function not listed is ignored by the
// player and needs its three header words only.
struct WmfRule {
    uint16_t function;
    uint8_t fixed;
    uint8_t handle1, handle2;
    uint8_t flags;
    uint8_t check;
};

static const WmfRule kWmfRules[] = {
    {META_SAVEDC, 0, 0, 0, 0, WC_SAVEDC},
    {META_REALIZEPALETTE, 0, 0, 0, 0, WC_NONE},
    {META_SETPALENTRIES, 2, 0, 0, 0, WC_ENTRIES},
    {META_CREATEPALETTE, 2, 0, 0, WF_CREATES, WC_ENTRIES},
    {META_SETBKMODE, 1, 0, 0, 0, WC_NONE},
    {META_SETMAPMODE, 1, 0, 0, 0, WC_NONE},
    {META_SETROP2, 1, 0, 0, 0, WC_NONE},
    {META_SETRELABS, 1, 0, 0, 0, WC_NONE},
    {META_SETPOLYFILLMODE, 1, 0, 0, 0, WC_NONE},
    {META_SETSTRETCHBLTMODE, 1, 0, 0, 0, WC_NONE},
    {META_SETTEXTCHAREXTRA, 1, 0, 0, 0, WC_NONE},
    {META_RESTOREDC, 1, 0, 0, 0, WC_RESTOREDC},
    {META_INVERTREGION, 1, 1, 0, 0, WC_NONE},
    {META_PAINTREGION, 1, 1, 0, 0, WC_NONE},
    {META_SELECTCLIPREGION, 1, 1, 0, WF_ZERO_NONE, WC_NONE},
    {META_SELECTOBJECT, 1, 1, 0, 0, WC_NONE},
    {META_SETTEXTALIGN, 1, 0, 0, 0, WC_NONE},
    {META_RESIZEPALETTE, 1, 0, 0, 0, WC_NONE},
    {META_DIBCREATEPATTERNBRUSH, 2, 0, 0, WF_CREATES, WC_DIB_BRUSH},
    {META_SETLAYOUT, 1, 0, 0, 0, WC_NONE},
    {META_DELETEOBJECT, 1, 1, 0, WF_DELETES, WC_NONE},
    {META_CREATEPATTERNBRUSH, 16, 0, 0, WF_CREATES, WC_PATTERN_BRUSH},
    {META_SETBKCOLOR, 2, 0, 0, 0, WC_NONE},
    {META_SETTEXTCOLOR, 2, 0, 0, 0, WC_NONE},
    {META_SETTEXTJUSTIFICATION, 2, 0, 0, 0, WC_NONE},
    {META_SETWINDOWORG, 2, 0, 0, 0, WC_NONE},
    {META_SETWINDOWEXT, 2, 0, 0, 0, WC_NONE},
    {META_SETVIEWPORTORG, 2, 0, 0, 0, WC_NONE},
    {META_SETVIEWPORTEXT, 2, 0, 0, 0, WC_NONE},
    {META_OFFSETWINDOWORG, 2, 0, 0, 0, WC_NONE},
    {META_OFFSETVIEWPORTORG, 2, 0, 0, 0, WC_NONE},
    {META_LINETO, 2, 0, 0, 0, WC_NONE},
    {META_MOVETO, 2, 0, 0, 0, WC_NONE},
    {META_OFFSETCLIPRGN, 2, 0, 0, 0, WC_NONE},
    {META_FILLREGION, 2, 1, 2, 0, WC_NONE},            // region, brush
    {META_SETMAPPERFLAGS, 2, 0, 0, 0, WC_NONE},
    {META_SELECTPALETTE, 1, 1, 0, 0, WC_SELECT_PALETTE},
    {META_CREATEPENINDIRECT, 5, 0, 0, WF_CREATES, WC_NONE},
    {META_CREATEFONTINDIRECT, 9, 0, 0, WF_CREATES, WC_FONT},
    {META_CREATEBRUSHINDIRECT, 4, 0, 0, WF_CREATES, WC_BRUSH},
    {META_POLYGON, 1, 0, 0, 0, WC_POINTS},
    {META_POLYLINE, 1, 0, 0, 0, WC_POINTS},
    {META_SCALEWINDOWEXT, 4, 0, 0, 0, WC_NONE},
    {META_SCALEVIEWPORTEXT, 4, 0, 0, 0, WC_NONE},
    {META_EXCLUDECLIPRECT, 4, 0, 0, 0, WC_NONE},
    {META_INTERSECTCLIPRECT, 4, 0, 0, 0, WC_NONE},
    {META_ELLIPSE, 4, 0, 0, 0, WC_NONE},
    {META_FLOODFILL, 4, 0, 0, 0, WC_NONE},
    {META_RECTANGLE, 4, 0, 0, 0, WC_NONE},
    {META_SETPIXEL, 4, 0, 0, 0, WC_NONE},
    {META_FRAMEREGION, 4, 4, 3, 0, WC_NONE},           // height, width, brush, region
    {META_ANIMATEPALETTE, 2, 0, 0, 0, WC_ENTRIES},
    {META_TEXTOUT, 1, 0, 0, 0, WC_TEXTOUT},
    {META_POLYPOLYGON, 1, 0, 0, 0, WC_POLYPOLYGON},
    {META_EXTFLOODFILL, 5, 0, 0, 0, WC_NONE},
    {META_ROUNDRECT, 6, 0, 0, 0, WC_NONE},
    {META_PATBLT, 6, 0, 0, 0, WC_NONE},
    {META_ESCAPE, 2, 0, 0, 0, WC_ESCAPE},
    {META_CREATEREGION, 11, 0, 0, WF_CREATES, WC_REGION},
    {META_ARC, 8, 0, 0, 0, WC_NONE},
    {META_PIE, 8, 0, 0, 0, WC_NONE},
    {META_CHORD, 8, 0, 0, 0, WC_NONE},
    {META_BITBLT, 9, 0, 0, 0, WC_BITMAP16_BLIT},
    {META_DIBBITBLT, 9, 0, 0, 0, WC_DIB_BLIT},
    {META_EXTTEXTOUT, 4, 0, 0, 0, WC_EXTTEXTOUT},
    {META_STRETCHBLT, 11, 0, 0, 0, WC_BITMAP16_BLIT},
    {META_DIBSTRETCHBLT, 11, 0, 0, 0, WC_DIB_BLIT},
    {META_SETDIBTODEV, 9, 0, 0, 0, WC_SETDIBTODEV},
    {META_STRETCHDIB, 11, 0, 0, 0, WC_STRETCHDIB},
};

static const WmfRule *FindWmfRule(uint32_t function)
{
    for (const WmfRule &r : kWmfRules)
        if (r.function == function)
            return &r;
    return 0;
}

// The state a walk keeps across records: the object table and how many
// saves a restore may go back through.
struct WmfWalk {
    WmfObjects objects;
    uint64_t saves;
    bool spelled;   // colour counts of 0 are written out before converting
};

// A restore goes back through saves made so far: -n for the n-th newest,
// n for the n-th one from the start. A level of 0 restores nothing.
static bool RestoreFits(int64_t level, uint64_t *saves)
{
    if (level == 0)
        return true;
    if (level < 0) {
        if ((uint64_t)-level > *saves)
            return false;
        *saves -= (uint64_t)-level;
        return true;
    }
    if ((uint64_t)level > *saves)
        return false;
    *saves = (uint64_t)level - 1;
    return true;
}

// The blits whose picture is a device bitmap. The platform's player reads
// width, height, planes and depth at words of its own (7, 8, 10, 11 for a
// BITBLT, three later for a STRETCHBLT), the pixels after them, whatever
// the size; the format's own layout keeps a Bitmap16 after the fixed
// words, or no bitmap at all in a record of exactly those words whose
// raster operation reads no source. Both readings must hold.
static bool Bitmap16BlitFits(uint32_t function, const uint8_t *p, uint64_t words, uint64_t left)
{
    uint64_t fixed = function >> 8;
    uint32_t rop = Word(p, 0) | Word(p, 1) << 16;
    if (words == fixed) {
        if (RopUsesSource(rop))
            return false;
    } else if (words < fixed - 1 || !Bitmap16Fits(p + 2 * (fixed - 1), words - (fixed - 1), 5)) {
        return false;
    }
    uint32_t at = function == META_BITBLT ? 7 : 10;
    if (2 * ((uint64_t)at + 5) > left)
        return false;
    return DeviceBitmapFits(Word(p, at), Word(p, at + 1), Word(p, at + 3), Word(p, at + 4),
                            2 * ((uint64_t)at + 5), 2 * words);
}

// The 16-bit player draws into the platform's enhanced-metafile recorder,
// whose DIB records hold the 40-byte header, room for biClrUsed entries (2
// bytes for palette indices, else 4) or the 12 bytes of bit fields, then
// the pixels: whole 4-byte rows, or the stated size of run-length ones.
// It stops the program on a record whose size is no multiple of 4, and it
// writes 2^depth entries where biClrUsed is 0 (a core header always counts
// 0): they must fit in the room of the table and the pixels, unless the
// count is `spelled` out first (see WmfSpellOutColourCounts). `rows` is the
// rows of a bottom-up bitmap it copies (SetDIBitsToDevice copies fewer).
static bool RecorderTakesDib(const uint8_t *h, uint64_t avail, uint32_t usage, uint64_t rows,
                             bool spelled)
{
    if (avail < 12)
        return true;
    bool core = Le32(h) == 12;
    if (!core && (Le32(h) < 40 || avail < 40))
        return true;   // refused before anything is copied
    int64_t width = core ? Le16(h + 4) : (int32_t)Le32(h + 4);
    int64_t height = core ? Le16(h + 6) : (int32_t)Le32(h + 8);
    uint32_t bpp = core ? Le16(h + 10) : Le16(h + 14);
    uint32_t compression = core ? BI_RGB : Le32(h + 16);
    uint64_t entry = usage == DIB_PAL_COLORS ? 2 : 4, table = 0, written = 0, pixels;
    if (compression == BI_BITFIELDS) {
        table = written = 12;
    } else if (bpp <= 8) {
        uint64_t used = core ? 0 : Le32(h + 32);
        if (used == 0 && !core && spelled)
            used = (uint64_t)1 << bpp;
        table = used * entry;
        written = (used ? used : (uint64_t)1 << bpp) * entry;
    }
    if (compression == BI_RGB || compression == BI_BITFIELDS) {
        uint64_t stride = width > 0 ? ((uint64_t)width * bpp + 31) / 32 * 4 : 0;
        uint64_t all = height < 0 ? (uint64_t)-height : (uint64_t)height;
        pixels = stride * (height > 0 && rows < all ? rows : all);
    } else {
        pixels = core ? 0 : Le32(h + 20);
    }
    return (table + pixels) % 4 == 0 && written <= table + pixels;
}

// The recorder's copy of a DIB pattern brush holds the colours the brush
// keeps: biClrUsed of them, at most 2^depth, or 2^depth for a count of 0.
// Palette indices take 2 bytes each, and an odd number of them makes a
// record size no multiple of 4, on which the recorder stops the program.
static bool RecorderTakesBrush(const uint8_t *h, uint64_t avail, uint32_t usage)
{
    if (usage != DIB_PAL_COLORS || avail < 40 || Le32(h) < 40)
        return true;
    uint32_t bpp = Le16(h + 14), used = Le32(h + 32);
    if (bpp > 8 || Le32(h + 16) == BI_BITFIELDS)
        return true;
    uint32_t kept = used && used < (1u << bpp) ? used : 1u << bpp;
    return kept % 2 == 0;
}

// The scan lines the recorder copies of a SetDIBitsToDevice at `p`, as it
// counts them in 32 bits: its scan count, cut to the bitmap's height or the
// source's bottom (source y plus height) past the start scan; all of a
// top-down bitmap. With none it records nothing.
static uint64_t RecordedScans(const uint8_t *p, const uint8_t *h, uint64_t avail)
{
    if (avail < 12 || (Le32(h) != 12 && avail < 40))
        return 0;
    if (Le32(h) != 12 && (int32_t)Le32(h + 8) < 0)
        return kAllLines;
    uint32_t height = Le32(h) == 12 ? Le16(h + 6) : Le32(h + 8);
    uint32_t bottom = (uint32_t)(int16_t)Word(p, 3) + (uint32_t)(int16_t)Word(p, 5);
    uint32_t lines = Word(p, 1), start = Word(p, 2);
    if (height > bottom)
        height = bottom;
    if (height < start)
        return 0;
    return lines > height - start ? height - start : lines;
}

// The blits whose picture is a packed DIB of RGB colours: the player reads
// it after 8 words in a DIBBITBLT longer than 9 words (one of 9 is a plain
// pattern blit), and after 10 words in every DIBSTRETCHBLT.
static bool DibBlitFits(uint32_t function, const uint8_t *p, uint64_t words, bool spelled)
{
    uint32_t rop = Word(p, 0) | Word(p, 1) << 16;
    uint64_t at = function == META_DIBBITBLT ? 8 : 10;
    if (function == META_DIBBITBLT && words == 9)
        return !RopUsesSource(rop);
    return words > at && PackedDibFits(p + 2 * at, 2 * (words - at), DIB_RGB_COLORS, kAllLines) &&
           RecorderTakesDib(p + 2 * at, 2 * (words - at), DIB_RGB_COLORS, kAllLines, spelled);
}

// Text with vertical spacing is refused: the platform's converter records
// it with one spacing value a character, and its player then reads the
// second half from the records that follow, whose values it draws across
// (a record's size or bounds as a step of millions of units).
static bool ExtTextOutFits(const uint8_t *p, uint64_t words)
{
    uint64_t chars = Word(p, 2), options = Word(p, 3);
    uint64_t at = 4 + (options & (ETO_OPAQUE | ETO_CLIPPED) ? 4 : 0) + (chars + 1) / 2;
    if (at > words || (options & ETO_PDY))
        return false;
    // Spacing follows the string when there is room for it; a part of it
    // would be read past the record.
    return words == at || words - at >= chars;
}

// Styles whose pattern the brush takes from its hatch field: a bitmap
// handle, a memory handle or a pointer to a packed DIB. GDI records every
// patterned brush in a record of its own with the pattern inside it.
static bool PatternInHatch(uint32_t style)
{
    return style == BS_PATTERN || style == BS_DIBPATTERN || style == BS_DIBPATTERNPT ||
           style == BS_PATTERN8X8 || style == BS_DIBPATTERN8X8;
}

// The player copies the 32-byte face name whatever the record's size, so
// it must lie inside the metafile; a record that stops short of it must
// end the name inside itself.
static bool WmfFontFits(const uint8_t *p, uint64_t words, uint64_t left)
{
    if (18 + 32 > left)
        return false;
    return words >= 25 || memchr(p + 18, 0, (size_t)(2 * words - 18)) != 0;
}

// A pattern brush: the format keeps a Bitmap16, 18 reserved bytes and the
// pixels; the platform's player reads the style in word 0 and for
// BS_PATTERN a device bitmap's width and height (32 bits at words 4 and 6),
// planes and depth (words 8 and 9) with its pixels after 24 words, for
// BS_DIBPATTERN a packed DIB after 2 words in the usage of word 1.
static bool PatternBrushFits(const uint8_t *p, uint64_t words)
{
    if (!Bitmap16Fits(p, words, 16))
        return false;
    switch (Word(p, 0)) {
    case BS_PATTERN:
        return DeviceBitmapFits((int32_t)Le32(p + 8), (int32_t)Le32(p + 12), Word(p, 8), Word(p, 9),
                                48, 2 * words);
    case BS_DIBPATTERN:
        return PackedDibFits(p + 4, 2 * (words - 2), Word(p, 1), kAllLines);
    default:
        return true;
    }
}

static bool PolyPolygonFits(const uint8_t *p, uint64_t words)
{
    uint64_t polygons = Word(p, 0), points = 0;
    if (1 + polygons > words)
        return false;
    for (uint32_t i = 0; i < polygons; i++) {
        // The player adds the counts as signed words.
        if (Word(p, 1 + i) >= 0x8000)
            return false;
        points += Word(p, 1 + i);
    }
    return 1 + polygons + 2 * points <= words;
}

static bool WmfCheckFits(const WmfRule *r, const uint8_t *p, uint64_t words, uint64_t left,
                         WmfWalk *w)
{
    switch (r->check) {
    case WC_ENTRIES:
        return 2 + 2 * (uint64_t)Word(p, 1) <= words;
    case WC_POINTS:
        return 1 + 2 * (uint64_t)Word(p, 0) <= words;
    case WC_POLYPOLYGON:
        return PolyPolygonFits(p, words);
    case WC_TEXTOUT:
        // The count is a signed word; the position follows the string.
        return Word(p, 0) < 0x8000 && 1 + ((uint64_t)Word(p, 0) + 1) / 2 + 2 <= words;
    case WC_EXTTEXTOUT:
        return ExtTextOutFits(p, words);
    case WC_FONT:
        return WmfFontFits(p, words, left - 6);
    case WC_BRUSH:
        return !PatternInHatch(Word(p, 0));
    case WC_REGION:
        return WmfRegionFits(p, words);
    case WC_ESCAPE:
        return 2 + ((uint64_t)Word(p, 1) + 1) / 2 <= words;
    case WC_BITMAP16_BLIT:
        return Bitmap16BlitFits(r->function, p, words, left - 6);
    case WC_DIB_BLIT:
        return DibBlitFits(r->function, p, words, w->spelled);
    case WC_SETDIBTODEV:
        // No scan copied means no record made.
        return PackedDibFits(p + 18, 2 * (words - 9), Word(p, 0), Word(p, 1)) &&
               (RecordedScans(p, p + 18, 2 * (words - 9)) == 0 ||
                RecorderTakesDib(p + 18, 2 * (words - 9), Word(p, 0),
                                 RecordedScans(p, p + 18, 2 * (words - 9)), w->spelled));
    case WC_STRETCHDIB:
        return PackedDibFits(p + 22, 2 * (words - 11), Word(p, 2), kAllLines) &&
               RecorderTakesDib(p + 22, 2 * (words - 11), Word(p, 2), kAllLines, w->spelled);
    case WC_DIB_BRUSH:
        // The platform's player takes the usage word; a BS_PATTERN brush
        // keeps RGB colours whatever that word says.
        return PackedDibFits(p + 4, 2 * (words - 2), Word(p, 1), kAllLines) &&
               (Word(p, 0) != BS_PATTERN
                    ? RecorderTakesBrush(p + 4, 2 * (words - 2), Word(p, 1))
                    : PackedDibFits(p + 4, 2 * (words - 2), DIB_RGB_COLORS, kAllLines));
    case WC_PATTERN_BRUSH:
        return PatternBrushFits(p, words);
    case WC_SELECT_PALETTE:
        // The format names the palette in the one parameter GDI writes; the
        // platform's player takes its force-background flag from there and
        // the palette from the word after it, which after GDI's own record
        // is the next record's size. That word must lie in the metafile and
        // name a slot, or in GDI's layout fall at most 16 slots past the
        // table's end, a read inside the table's heap block's neighbours.
        if (2 + 2 > left - 6)
            return false;
        return Word(p, 1) < w->objects.count + (words == 1 ? 16 : 0);
    case WC_SAVEDC:
        w->saves++;
        return true;
    case WC_RESTOREDC:
        return RestoreFits((int16_t)Word(p, 0), &w->saves);
    default:
        return true;
    }
}

// `left` bytes of the metafile lie from the record's start on.
static bool WmfRecordSound(const uint8_t *rec, uint64_t recordWords, uint64_t left, WmfWalk *w)
{
    const WmfRule *r = FindWmfRule(Le16(rec + 4));
    if (!r)
        return true;
    const uint8_t *p = rec + 6;
    uint64_t words = recordWords - 3;
    if (words < r->fixed)
        return false;
    uint32_t count = w->objects.count;
    if (r->handle1 && Word(p, r->handle1 - 1) >= count &&
        !((r->flags & WF_ZERO_NONE) && Word(p, r->handle1 - 1) == 0))
        return false;
    if (r->handle2 && Word(p, r->handle2 - 1) >= count)
        return false;
    if ((r->flags & WF_CREATES) && TakeLowestSlot(&w->objects) == kNoSlot)
        return false;
    if (r->flags & WF_DELETES)
        MarkFree(&w->objects, Word(p, r->handle1 - 1));
    return WmfCheckFits(r, p, words, left, w);
}

// Records start after the header (its size is in words) and hold their own
// size in words; GDI stops at a record shorter than 3 words or at the end
// record, and must find every other record whole inside the metafile. A
// piece of an embedded metafile after the ones put together is a stray.
static bool WalkWmf(const uint8_t *mf, int64_t bytes, WmfWalk *w, const EmbeddedEmf *embedded)
{
    int64_t at = 2 * (int64_t)Le16(mf + 2);
    while (at < bytes) {
        if (at + 6 > bytes)
            return false;
        int64_t words = Le32(mf + at);
        if (words < 3)
            return true;
        if (at + 2 * words > bytes)
            return false;
        if (Le16(mf + at + 4) == 0)
            return true;
        if ((uint64_t)at >= embedded->end &&
            StartsPiece(mf, (uint64_t)bytes, (uint64_t)at) != PIECE_NO)
            return false;
        if (!WmfRecordSound(mf + at, (uint64_t)words, (uint64_t)(bytes - at), w))
            return false;
        at += 2 * words;
    }
    return true;
}

bool WmfRecordsSound(const uint8_t *mf, int64_t bytes)
{
    if (bytes < 18)
        return false;
    WmfWalk *w = (WmfWalk *)malloc(sizeof(WmfWalk));
    if (!w)
        return false;
    InitObjects(&w->objects, Le16(mf + 10));
    w->saves = 0;
    EmbeddedEmf embedded = {0, 0, 0};
    bool sound = AssembleEmbedded(mf, (uint64_t)bytes, &embedded);
    w->spelled = embedded.data == 0;
    sound = sound && WalkWmf(mf, bytes, w, &embedded);
    if (sound && embedded.data)
        sound = EmfRecordsSound(embedded.data, embedded.size);
    free(embedded.data);
    free(w);
    return sound;
}

// Where the DIB of a STRETCHDIB, SETDIBTODEV or DIB blit has a 40-byte or
// larger header of 8 bits or fewer, no bit fields and a colour count of 0,
// the count is written out (2^depth): it means the same to every player,
// and the converter's recorder sizes its copy of the table by that field.
// A metafile carrying an enhanced one is left as it is, since its checksum
// covers every word (and the walk judged it as it stands).
void WmfSpellOutColourCounts(uint8_t *mf, int64_t bytes)
{
    EmbeddedEmf embedded = {0, 0, 0};
    bool assembled = AssembleEmbedded(mf, (uint64_t)bytes, &embedded);
    free(embedded.data);
    if (!assembled || embedded.data)
        return;
    for (int64_t at = 2 * (int64_t)Le16(mf + 2); at + 6 <= bytes;) {
        int64_t words = Le32(mf + at);
        uint32_t function = Le16(mf + at + 4);
        if (words < 3 || at + 2 * words > bytes || function == 0)
            return;
        int64_t dibAt = function == META_STRETCHDIB ? 11
                        : function == META_SETDIBTODEV ? 9
                        : function == META_DIBSTRETCHBLT ? 10
                        : function == META_DIBBITBLT && words - 3 > 9 ? 8
                                                                       : -1;
        if (dibAt >= 0 && 2 * (words - 3 - dibAt) >= 40) {
            uint8_t *h = mf + at + 6 + 2 * dibAt;
            if (Le32(h) >= 40 && Le16(h + 14) <= 8 && Le32(h + 16) != BI_BITFIELDS &&
                Le32(h + 32) == 0)
                Put32(h + 32, 1u << Le16(h + 14));
        }
        at += 2 * words;
    }
}

// ---- Enhanced metafiles --------------------------------------------------

enum {
    EMR_DRAWESCAPE_ = 105,
    EMR_EXTESCAPE_ = 106,
    EMR_SMALLTEXTOUT_ = 108,
    EMR_FORCEUFIMAPPING_ = 109,
    EMR_NAMEDESCAPE_ = 110,
    EMR_SETTEXTJUSTIFICATION_ = 120
};

// How a record's handle index is used.
enum {
    H_NONE,
    H_USE,     // looked up in the table; the player strips no stock bit
    H_STOCK,   // a stock object (high bit set) or looked up in the table
    H_WRITE    // a slot the player writes: never the metafile's own slot 0
};

// How a record's bitmap (four fields: header offset and size, pixel
// offset and size, all from the record's start) is played.
enum {
    BM_NONE,
    BM_WHEN_OFFSET,  // read only when the header offset is not 0
    BM_AT_OFFSET,    // read at its offset whatever it is, 0 being the record's start
    BM_REQUIRED,     // must be there
    BM_SECTION,      // copied whole into a DIB section made from its header
    BM_PACKED,       // header and pixels packed into one copy (a DIB brush)
    BM_MONO,         // a monochrome brush, usage 2 meaning a bare device bitmap
    BM_PATTERN_PEN   // required for a pattern pen, not read for any other
};

// What a record's fields ask beyond its fixed size.
enum {
    EC_NONE,
    EC_ARRAY,        // a count at `countAt` of `item`-byte items right after it
    EC_TWO_PARTS,    // counts at `countAt` and 4 later of bytes after the fixed fields
    EC_HEADER,
    EC_EOF,
    EC_POLYPOLY,     // polygon counts at 32, then points of `item` bytes
    EC_PALETTE,
    EC_RESIZE,
    EC_BRUSH,
    EC_REGION,       // region data of the byte count at 24, after the fixed fields
    EC_CLIP_REGION,
    EC_FONT,
    EC_TEXT,         // one text at 36 of `item`-byte characters
    EC_POLYTEXT,
    EC_SMALLTEXT,
    EC_GRADIENT,
    EC_SAVEDC,
    EC_RESTOREDC
};

// One row per record type the player reads, as the platform's player reads
// it: the bytes of its fixed fields, which it reads as a whole; where its
// handle index is and how it is used; where its bitmap's four fields and
// its colour usage are and how the bitmap is played (its raster operation
// at 40 decides whether a source is read where one is named); the same for
// a mask, which the player reads at its offset whatever it is; the count
// that sizes an array; and the check of the rest. A type not listed is
// skipped by the player and needs its 8 bytes only.
struct EmfRule {
    uint8_t type;
    uint16_t fixed;
    uint8_t handleAt, handleUse;
    uint8_t bitmapAt, usageAt, bitmapMode;
    uint8_t maskAt, maskUsageAt;
    uint16_t countAt;
    uint8_t item, check;
};

static const EmfRule kEmfRules[] = {
    // type                     fixed handle      bitmap and usage    mask     count   check
    {EMR_HEADER,                 88, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_HEADER},
    {EMR_POLYBEZIER,             28, 0, H_NONE,   0, 0, BM_NONE,        0, 0,   24, 8, EC_ARRAY},
    {EMR_POLYGON,                28, 0, H_NONE,   0, 0, BM_NONE,        0, 0,   24, 8, EC_ARRAY},
    {EMR_POLYLINE,               28, 0, H_NONE,   0, 0, BM_NONE,        0, 0,   24, 8, EC_ARRAY},
    {EMR_POLYBEZIERTO,           28, 0, H_NONE,   0, 0, BM_NONE,        0, 0,   24, 8, EC_ARRAY},
    {EMR_POLYLINETO,             28, 0, H_NONE,   0, 0, BM_NONE,        0, 0,   24, 8, EC_ARRAY},
    {EMR_POLYPOLYLINE,           32, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 8, EC_POLYPOLY},
    {EMR_POLYPOLYGON,            32, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 8, EC_POLYPOLY},
    {EMR_SETWINDOWEXTEX,         16, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_SETWINDOWORGEX,         16, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_SETVIEWPORTEXTEX,       16, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_SETVIEWPORTORGEX,       16, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_SETBRUSHORGEX,          16, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_EOF,                    20, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_EOF},
    {EMR_SETPIXELV,              20, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_SETMAPPERFLAGS,         12, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_SETMAPMODE,             12, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_SETBKMODE,              12, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_SETPOLYFILLMODE,        12, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_SETROP2,                12, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_SETSTRETCHBLTMODE,      12, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_SETTEXTALIGN,           12, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_SETCOLORADJUSTMENT,     32, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_SETTEXTCOLOR,           12, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_SETBKCOLOR,             12, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_OFFSETCLIPRGN,          16, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_MOVETOEX,               16, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_SETMETARGN,              8, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_EXCLUDECLIPRECT,        24, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_INTERSECTCLIPRECT,      24, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_SCALEVIEWPORTEXTEX,     24, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_SCALEWINDOWEXTEX,       24, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_SAVEDC,                  8, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_SAVEDC},
    {EMR_RESTOREDC,              12, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_RESTOREDC},
    {EMR_SETWORLDTRANSFORM,      32, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_MODIFYWORLDTRANSFORM,   36, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_SELECTOBJECT,           12, 8, H_STOCK,  0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_CREATEPEN,              28, 8, H_WRITE,  0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_CREATEBRUSHINDIRECT,    24, 8, H_WRITE,  0, 0, BM_NONE,        0, 0,    0, 0, EC_BRUSH},
    {EMR_DELETEOBJECT,           12, 8, H_WRITE,  0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_ANGLEARC,               28, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_ELLIPSE,                24, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_RECTANGLE,              24, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_ROUNDRECT,              32, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_ARC,                    40, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_CHORD,                  40, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_PIE,                    40, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_SELECTPALETTE,          12, 8, H_STOCK,  0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_CREATEPALETTE,          16, 8, H_WRITE,  0, 0, BM_NONE,        0, 0,    0, 0, EC_PALETTE},
    {EMR_SETPALETTEENTRIES,      20, 8, H_USE,    0, 0, BM_NONE,        0, 0,   16, 4, EC_ARRAY},
    {EMR_RESIZEPALETTE,          16, 8, H_USE,    0, 0, BM_NONE,        0, 0,    0, 0, EC_RESIZE},
    {EMR_REALIZEPALETTE,          8, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_EXTFLOODFILL,           24, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_LINETO,                 16, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_ARCTO,                  40, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_POLYDRAW,               28, 0, H_NONE,   0, 0, BM_NONE,        0, 0,   24, 9, EC_ARRAY},
    {EMR_SETARCDIRECTION,        12, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_SETMITERLIMIT,          12, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_BEGINPATH,               8, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_ENDPATH,                 8, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_CLOSEFIGURE,             8, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_FILLPATH,               24, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_STROKEANDFILLPATH,      24, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_STROKEPATH,             24, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_FLATTENPATH,             8, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_WIDENPATH,               8, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_SELECTCLIPPATH,         12, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_ABORTPATH,               8, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_GDICOMMENT,             12, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    8, 1, EC_ARRAY},
    {EMR_FILLRGN,                32, 28, H_USE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_REGION},
    {EMR_FRAMERGN,               40, 28, H_USE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_REGION},
    {EMR_INVERTRGN,              28, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_REGION},
    {EMR_PAINTRGN,               28, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_REGION},
    {EMR_EXTSELECTCLIPRGN,       16, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_CLIP_REGION},
    {EMR_BITBLT,                100, 0, H_NONE,  84, 80, BM_WHEN_OFFSET, 0, 0,    0, 0, EC_NONE},
    {EMR_STRETCHBLT,            108, 0, H_NONE,  84, 80, BM_WHEN_OFFSET, 0, 0,    0, 0, EC_NONE},
    {EMR_MASKBLT,               128, 0, H_NONE,  84, 80, BM_AT_OFFSET, 112, 108,  0, 0, EC_NONE},
    {EMR_PLGBLT,                140, 0, H_NONE,  96, 92, BM_REQUIRED,  124, 120,  0, 0, EC_NONE},
    {EMR_SETDIBITSTODEVICE,      76, 0, H_NONE,  48, 64, BM_REQUIRED,    0, 0,    0, 0, EC_NONE},
    {EMR_STRETCHDIBITS,          80, 0, H_NONE,  48, 64, BM_REQUIRED,    0, 0,    0, 0, EC_NONE},
    {EMR_EXTCREATEFONTINDIRECTW,104, 8, H_WRITE,  0, 0, BM_NONE,        0, 0,    0, 0, EC_FONT},
    {EMR_EXTTEXTOUTA,            76, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 1, EC_TEXT},
    {EMR_EXTTEXTOUTW,            76, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 2, EC_TEXT},
    {EMR_POLYBEZIER16,           28, 0, H_NONE,   0, 0, BM_NONE,        0, 0,   24, 4, EC_ARRAY},
    {EMR_POLYGON16,              28, 0, H_NONE,   0, 0, BM_NONE,        0, 0,   24, 4, EC_ARRAY},
    {EMR_POLYLINE16,             28, 0, H_NONE,   0, 0, BM_NONE,        0, 0,   24, 4, EC_ARRAY},
    {EMR_POLYBEZIERTO16,         28, 0, H_NONE,   0, 0, BM_NONE,        0, 0,   24, 4, EC_ARRAY},
    {EMR_POLYLINETO16,           28, 0, H_NONE,   0, 0, BM_NONE,        0, 0,   24, 4, EC_ARRAY},
    {EMR_POLYPOLYLINE16,         32, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 4, EC_POLYPOLY},
    {EMR_POLYPOLYGON16,          32, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 4, EC_POLYPOLY},
    {EMR_POLYDRAW16,             28, 0, H_NONE,   0, 0, BM_NONE,        0, 0,   24, 5, EC_ARRAY},
    {EMR_CREATEMONOBRUSH,        32, 8, H_WRITE, 16, 12, BM_MONO,       0, 0,    0, 0, EC_NONE},
    {EMR_CREATEDIBPATTERNBRUSHPT,32, 8, H_WRITE, 16, 12, BM_PACKED,     0, 0,    0, 0, EC_NONE},
    {EMR_EXTCREATEPEN,           52, 8, H_WRITE, 12, 40, BM_PATTERN_PEN, 0, 0,  48, 4, EC_ARRAY},
    {EMR_POLYTEXTOUTA,           40, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 1, EC_POLYTEXT},
    {EMR_POLYTEXTOUTW,           40, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 2, EC_POLYTEXT},
    {EMR_SETICMMODE,             12, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_CREATECOLORSPACE,      340, 8, H_WRITE,  0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_SETCOLORSPACE,          12, 8, H_USE,    0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_DELETECOLORSPACE,       12, 8, H_WRITE,  0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_GLSRECORD,              12, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    8, 1, EC_ARRAY},
    {EMR_GLSBOUNDEDRECORD,       28, 0, H_NONE,   0, 0, BM_NONE,        0, 0,   24, 1, EC_ARRAY},
    {EMR_PIXELFORMAT,            48, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_DRAWESCAPE_,            16, 0, H_NONE,   0, 0, BM_NONE,        0, 0,   12, 1, EC_ARRAY},
    {EMR_EXTESCAPE_,             16, 0, H_NONE,   0, 0, BM_NONE,        0, 0,   12, 1, EC_ARRAY},
    {EMR_SMALLTEXTOUT_,          36, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_SMALLTEXT},
    {EMR_FORCEUFIMAPPING_,       16, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_NAMEDESCAPE_,           20, 0, H_NONE,   0, 0, BM_NONE,        0, 0,   12, 0, EC_TWO_PARTS},
    {EMR_COLORCORRECTPALETTE,    24, 8, H_USE,    0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_SETICMPROFILEA,         20, 0, H_NONE,   0, 0, BM_NONE,        0, 0,   12, 0, EC_TWO_PARTS},
    {EMR_SETICMPROFILEW,         20, 0, H_NONE,   0, 0, BM_NONE,        0, 0,   12, 0, EC_TWO_PARTS},
    {EMR_ALPHABLEND,            108, 0, H_NONE,  84, 80, BM_SECTION,    0, 0,    0, 0, EC_NONE},
    {EMR_SETLAYOUT,              12, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_TRANSPARENTBLT,        108, 0, H_NONE,  84, 80, BM_REQUIRED,    0, 0,    0, 0, EC_NONE},
    {EMR_GRADIENTFILL,           36, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_GRADIENT},
    {EMR_SETTEXTJUSTIFICATION_,  16, 0, H_NONE,   0, 0, BM_NONE,        0, 0,    0, 0, EC_NONE},
    {EMR_COLORMATCHTOTARGETW,    24, 0, H_NONE,   0, 0, BM_NONE,        0, 0,   16, 0, EC_TWO_PARTS},
    {EMR_CREATECOLORSPACEW,     608, 8, H_WRITE,  0, 0, BM_NONE,        0, 0,  604, 1, EC_ARRAY},
};

static const EmfRule *FindEmfRule(uint32_t type)
{
    for (const EmfRule &r : kEmfRules)
        if (r.type == type)
            return &r;
    return 0;
}

static bool HandleFits(uint32_t index, int use, uint32_t handles)
{
    switch (use) {
    case H_USE:
        return index < handles;
    case H_STOCK:
        return (index & 0x80000000) || index < handles;
    case H_WRITE:
        return index != 0 && index < handles;
    default:
        return true;
    }
}

// A monochrome brush recorded with usage 2 has a header of its size and
// depth alone: the platform's player makes a device bitmap of its width,
// height, planes and bit count from the pixels (see DeviceBitmapBytes),
// where rows of 32-bit words are meant, so both must fit.
static bool BareMonoBrushFits(const uint8_t *rec, uint32_t size)
{
    uint64_t infoAt = Le32(rec + 16), infoBytes = Le32(rec + 20);
    uint64_t bitsAt = Le32(rec + 24), bitsBytes = Le32(rec + 28), bytes = 0;
    if (infoAt + infoBytes > size || bitsAt + bitsBytes > size || infoBytes < 16)
        return false;
    const uint8_t *h = rec + infoAt;
    int64_t width = (int32_t)Le32(h + 4), height = (int32_t)Le32(h + 8);
    uint64_t w = width < 0 ? (uint64_t)-width : (uint64_t)width;
    uint64_t rows = height < 0 ? (uint64_t)-height : (uint64_t)height;
    return DeviceBitmapBytes(w, rows, Le16(h + 12), Le16(h + 14), &bytes) && bytes <= bitsBytes &&
           rows * ((w + 31) / 32 * 4) <= bitsBytes;
}

// One bitmap of a record: its four fields at `at`, its colour usage, how
// it is played, and the rows read (SetDIBitsToDevice reads only its scan
// count). `left` bytes of the metafile lie from the record's start on: a
// colour table that a player may read for usage 2 although none is
// declared (see DibNeeds) must lie inside the metafile, everything the
// header declares inside the record.
static bool EmfBitmapFits(const uint8_t *rec, uint32_t size, uint64_t left, uint32_t at,
                          uint32_t usage, int mode, uint64_t lines)
{
    uint64_t infoAt = Le32(rec + at), infoBytes = Le32(rec + at + 4);
    uint64_t bitsAt = Le32(rec + at + 8), bitsBytes = Le32(rec + at + 12);
    if (infoAt + infoBytes > size || bitsAt + bitsBytes > size)
        return false;
    DibTaken taken;
    if (infoAt == 0 && mode == BM_WHEN_OFFSET)
        return true;
    // At offset 0 the record's own first fields make the header the
    // player reads, which GDI's maskless records leave one it refuses.
    if (infoAt == 0 && mode == BM_AT_OFFSET && !PlayerTakesDib(rec, size, usage, true, &taken))
        return true;
    DibNeeds n;
    if (!DibSizes(rec + infoAt, infoBytes, usage, lines, &n) || n.info > infoBytes ||
        n.bits > bitsBytes || n.reach > left - infoAt)
        return false;
    switch (mode) {
    case BM_PACKED:
        return n.reach <= infoBytes + bitsBytes && n.skip + n.bits <= infoBytes + bitsBytes;
    case BM_SECTION: {
        // The pixels are copied whole into a section of the header's size,
        // or to nowhere when the section is refused: also for bit fields
        // with a mask of 0, read right after the 40 bytes whatever the
        // header's size. GDI records RGB ones.
        const uint8_t *h = rec + infoAt;
        if (Le32(h) >= 40 && Le32(h + 16) == BI_BITFIELDS &&
            (infoBytes < 52 || !Le32(h + 40) || !Le32(h + 44) || !Le32(h + 48)))
            return false;
        return usage == DIB_RGB_COLORS && PlayerTakesDib(h, infoBytes, usage, false, &taken) &&
               taken.planes == 1 && bitsBytes <= taken.image;
    }
    default:
        return true;
    }
}

// The bitmap of a record by its row: for a blit whose raster operation
// reads the source, the bitmap must be there.
static bool RuleBitmapFits(const EmfRule *r, const uint8_t *rec, uint32_t size, uint64_t left)
{
    uint32_t usage = Le32(rec + r->usageAt);
    int mode = r->bitmapMode;
    uint64_t lines = r->type == EMR_SETDIBITSTODEVICE ? Le32(rec + 72) : kAllLines;
    if (mode == BM_WHEN_OFFSET || mode == BM_AT_OFFSET) {
        // A quaternary operation keeps the background's in the high byte.
        uint32_t rop = Le32(rec + 40);
        if (RopUsesSource(rop) || RopUsesSource((rop >> 8) & 0xFF0000))
            mode = BM_REQUIRED;
    } else if (mode == BM_MONO) {
        if (usage == kDibPalIndices)
            return BareMonoBrushFits(rec, size);
        // The player compares the first two colours with black and white
        // for a 1-bit header, whatever the usage.
        uint64_t infoAt = Le32(rec + 16);
        bool core = infoAt + 4 <= size && Le32(rec + infoAt) == 12;
        if (infoAt + (core ? 12 + 6 : 40 + 8) > left)
            return false;
        mode = BM_REQUIRED;
    } else if (mode == BM_PATTERN_PEN) {
        // A pattern pen's usage is where a plain pen keeps its colour. The
        // platform's player hands the hatch field over as the pattern: a
        // memory handle or a pointer for the DIB styles, so it must be 0.
        uint32_t style = Le32(rec + 36);
        if (!PatternInHatch(style))
            return true;
        if ((style == BS_DIBPATTERN || style == BS_DIBPATTERNPT) && Le32(rec + 44) != 0)
            return false;
        mode = BM_REQUIRED;
    }
    return EmfBitmapFits(rec, size, left, r->bitmapAt, usage, mode, lines);
}

// The text code draws across the steps of its spacing, in time that grows
// with their sum (2^26 units take seconds): steps a picture holds add up to
// far less than this.
static const uint64_t kSpacingSpan = (uint64_t)1 << 22;

static bool SpacingSpanFits(const uint8_t *p, uint64_t values)
{
    uint64_t span = 0;
    for (uint64_t i = 0; i < values && span <= kSpacingSpan; i++) {
        int64_t v = (int32_t)Le32(p + 4 * i);
        span += (uint64_t)(v < 0 ? -v : v);
    }
    return span <= kSpacingSpan;
}

// One EMRTEXT at `at`: its string and its spacing. A player that reads
// spacing at an offset of 0 reads it from the record's start (POLYTEXTOUT
// does), which must then lie inside the metafile; another reads none then.
// GDI records one spacing value a character also for vertical spacing, of
// which the text code reads two: the second half must lie inside the
// metafile. All that is read must span what a picture holds.
static bool EmrTextFits(const uint8_t *rec, uint32_t size, uint64_t left, uint32_t at,
                        uint64_t charBytes, bool readsAtZero)
{
    uint64_t chars = Le32(rec + at + 8), stringAt = Le32(rec + at + 12);
    uint64_t options = Le32(rec + at + 16), spacingAt = Le32(rec + at + 36);
    if (chars == 0)
        return true;
    if (stringAt + chars * charBytes > size)
        return false;
    uint64_t values = chars * (options & ETO_PDY ? 2 : 1);
    if (spacingAt == 0)
        return 4 * values <= left && (!readsAtZero || SpacingSpanFits(rec, values));
    return spacingAt + chars * 4 <= size && spacingAt + 4 * values <= left &&
           SpacingSpanFits(rec + spacingAt, values);
}

// Region data of the byte count at `countAt`, starting at `at`: a header
// and its rectangles, which the platform's player reads from after the
// 32-byte header whatever sizes the header states.
static bool EmfRegionFits(const uint8_t *rec, uint32_t size, uint32_t countAt, uint32_t at)
{
    uint64_t bytes = Le32(rec + countAt);
    if (at + bytes > size || bytes < 32)
        return false;
    uint64_t header = Le32(rec + at), rects = Le32(rec + at + 8);
    if (header < 32)
        header = 32;
    return header + rects * 16 <= bytes;
}

// A clip region may be empty (the default clip). The platform's player
// reads a region after 16 bytes whenever the record has room for its
// header, whatever the byte count says.
static bool ClipRegionFits(const uint8_t *rec, uint32_t size)
{
    if (Le32(rec + 8) != 0 && !EmfRegionFits(rec, size, 8, 16))
        return false;
    if (size < 20 + 32 || Le32(rec + 16) < 32)
        return true;
    return 48 + (uint64_t)Le32(rec + 24) * 16 <= size;
}

// Polygon counts, then the points; the counts must not ask for more points
// than the record holds.
static bool EmfPolyPolyFits(const uint8_t *rec, uint32_t size, uint64_t pointBytes)
{
    uint64_t polygons = Le32(rec + 24), points = Le32(rec + 28);
    if (32 + 4 * polygons + pointBytes * points > size)
        return false;
    uint64_t counted = 0;
    for (uint32_t i = 0; i < polygons; i++)
        counted += Le32(rec + 32 + 4 * i);
    return counted <= points;
}

static bool EmfGradientFits(const uint8_t *rec, uint32_t size)
{
    uint64_t vertices = Le32(rec + 24), shapes = Le32(rec + 28);
    uint64_t corners = Le32(rec + 32) == GRADIENT_FILL_TRIANGLE ? 3 : 2;
    uint64_t meshAt = 36 + vertices * 16;
    if (meshAt + shapes * corners * 4 > size)
        return false;
    for (uint64_t i = 0; i < shapes * corners; i++)
        if (Le32(rec + meshAt + 4 * i) >= vertices)
            return false;
    return true;
}

// A font record may carry a design vector after the enumerated font; its
// axis count must stay inside the record.
static bool EmfFontFits(const uint8_t *rec, uint32_t size)
{
    const uint32_t vectorAt = 12 + 348;   // after the handle and an ENUMLOGFONTEXW
    if (size < vectorAt + 8)
        return true;
    uint64_t axes = Le32(rec + vectorAt + 4);
    return axes <= MM_MAX_NUMAXES && vectorAt + 8 + 4 * axes <= size;
}

// The largest millimetres a reference device's pixel may measure: the
// player scales every coordinate by them (real screens and printers have
// well under one).
static const int64_t kMillimetresPerPixel = 16;

// The header: its description and pixel format inside it, a handle table
// of at least the metafile's own slot (the player writes slot 0), and the
// reference device's size in pixels and millimetres, which scale every
// coordinate the player draws: positive, and pixels of a sane size.
static bool EmfHeaderFits(const uint8_t *rec, uint32_t size)
{
    uint64_t chars = Le32(rec + 60), textAt = Le32(rec + 64);
    if (chars && textAt + 2 * chars > size)
        return false;
    if (Le16(rec + 56) == 0)
        return false;
    for (uint32_t at = 72; at < 80; at += 4) {
        int64_t pixels = (int32_t)Le32(rec + at), millimetres = (int32_t)Le32(rec + at + 8);
        if (pixels <= 0 || millimetres <= 0 || millimetres > kMillimetresPerPixel * pixels)
            return false;
    }
    if (size < 96)   // no pixel format fields
        return true;
    uint64_t formatBytes = Le32(rec + 88), formatAt = Le32(rec + 92);
    return formatBytes == 0 || formatAt + formatBytes <= size;
}

// The end record's palette must lie inside it; GDI copies it from there.
static bool EofPaletteFits(const uint8_t *rec, uint32_t size)
{
    uint64_t entries = Le32(rec + 8), offset = Le32(rec + 12);
    return entries == 0 || offset + 4 * entries <= size;
}

static bool EmfCheckFits(const EmfRule *r, const uint8_t *rec, uint32_t size, uint64_t left,
                         uint64_t *saves)
{
    switch (r->check) {
    case EC_ARRAY:
        return r->countAt + 4 + (uint64_t)Le32(rec + r->countAt) * r->item <= size;
    case EC_TWO_PARTS:
        return r->fixed + (uint64_t)Le32(rec + r->countAt) + Le32(rec + r->countAt + 4) <= size;
    case EC_HEADER:
        return EmfHeaderFits(rec, size);
    case EC_EOF:
        return EofPaletteFits(rec, size);
    case EC_POLYPOLY:
        return EmfPolyPolyFits(rec, size, r->item);
    case EC_PALETTE:
        return 16 + 4 * (uint64_t)Le16(rec + 14) <= size;
    case EC_RESIZE:
        // As many entries as a logical palette counts: the platform sizes
        // the new table in 32 bits.
        return Le32(rec + 12) <= 0xFFFF;
    case EC_BRUSH:
        return !PatternInHatch(Le32(rec + 12));
    case EC_REGION:
        return EmfRegionFits(rec, size, 24, r->fixed);
    case EC_CLIP_REGION:
        return ClipRegionFits(rec, size);
    case EC_FONT:
        return EmfFontFits(rec, size);
    case EC_TEXT:
        return EmrTextFits(rec, size, left, 36, r->item, false);
    case EC_POLYTEXT: {
        uint64_t strings = Le32(rec + 36);
        if (40 + 40 * strings > size)
            return false;
        for (uint32_t i = 0; i < strings; i++)
            if (!EmrTextFits(rec, size, left, 40 + 40 * i, r->item, true))
                return false;
        return true;
    }
    case EC_SMALLTEXT: {
        uint64_t chars = Le32(rec + 16), options = Le32(rec + 20);
        uint64_t at = 36 + (options & 0x100 ? 0 : 16);               // ETO_NO_RECT
        return at + chars * (options & 0x200 ? 1 : 2) <= size;       // ETO_SMALL_CHARS
    }
    case EC_GRADIENT:
        return EmfGradientFits(rec, size);
    case EC_SAVEDC:
        ++*saves;
        return true;
    case EC_RESTOREDC:
        return RestoreFits((int32_t)Le32(rec + 8), saves);
    default:
        return true;
    }
}

static bool EmfRecordSound(const uint8_t *rec, uint32_t size, uint64_t left, uint32_t handles,
                           uint64_t *saves)
{
    const EmfRule *r = FindEmfRule(Le32(rec));
    if (!r)
        return true;
    if (size < r->fixed)
        return false;
    if (r->handleUse != H_NONE && !HandleFits(Le32(rec + r->handleAt), r->handleUse, handles))
        return false;
    if (r->bitmapMode != BM_NONE && !RuleBitmapFits(r, rec, size, left))
        return false;
    if (r->maskAt &&
        !EmfBitmapFits(rec, size, left, r->maskAt, Le32(rec + r->maskUsageAt), BM_AT_OFFSET,
                       kAllLines))
        return false;
    return EmfCheckFits(r, rec, size, left, saves);
}

// Every record, header first, is at least 8 bytes, a multiple of 4 and
// whole inside the metafile. The player does not stop at an end record: it
// plays whatever lies after one up to the header's byte count, so every
// record up to that count is judged, end records included. The count must
// be the metafile's own (an embedded one is handed over at its piece sum).
bool EmfRecordsSound(const uint8_t *emf, uint32_t bytes)
{
    if (bytes < 88 || Le32(emf) != EMR_HEADER || Le32(emf + 40) != ENHMETA_SIGNATURE ||
        Le32(emf + 48) != bytes)
        return false;
    uint32_t handles = Le16(emf + 56);
    uint64_t saves = 0;
    uint32_t at = 0;
    while (at < bytes) {
        if (bytes - at < 8)
            return false;
        uint32_t size = Le32(emf + at + 4);
        if (size < 8 || size % 4 || size > bytes - at)
            return false;
        if (!EmfRecordSound(emf + at, size, bytes - at, handles, &saves))
            return false;
        at += size;
    }
    return true;
}
