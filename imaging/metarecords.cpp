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
// and RGB values otherwise. `lines` caps the rows read (SetDIBitsToDevice
// reads only its scan count). A header GDI could not size (unknown header
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
    uint64_t rows = height < 0 ? (uint64_t)-height : (uint64_t)height;
    if (rows > lines)
        rows = lines;
    switch (compression) {
    case BI_RGB:
    case BI_BITFIELDS:
    case 6: {   // BI_ALPHABITFIELDS
        if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
            return false;
        uint64_t stride = ((uint64_t)width * bpp + 31) / 32 * 4;
        n->bits = rows && stride > ((uint64_t)1 << 62) / rows ? kAllLines : stride * rows;
        return true;
    }
    case BI_RLE8:
    case BI_RLE4:
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

// A region: an 11-word header, then scans of a count, top, bottom, that many
// x coordinates and the count again.
static bool WmfRegionFits(const uint8_t *p, uint64_t words)
{
    if (words < 11)
        return false;
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

// The words a record's fixed parameters take; the player reads them whatever
// the record's size says.
static uint32_t WmfFixedWords(uint32_t function)
{
    switch (function) {
    case META_SETBKMODE: case META_SETMAPMODE: case META_SETROP2: case META_SETRELABS:
    case META_SETPOLYFILLMODE: case META_SETSTRETCHBLTMODE: case META_SETTEXTCHAREXTRA:
    case META_RESTOREDC: case META_SETTEXTALIGN: case META_RESIZEPALETTE:
    case META_INVERTREGION: case META_PAINTREGION: case META_SELECTCLIPREGION:
    case META_SELECTOBJECT: case META_SELECTPALETTE: case META_DELETEOBJECT:
    case META_SETLAYOUT: case META_TEXTOUT: case META_POLYGON: case META_POLYLINE:
    case META_POLYPOLYGON:
        return 1;
    case META_SETBKCOLOR: case META_SETTEXTCOLOR: case META_SETTEXTJUSTIFICATION:
    case META_SETWINDOWORG: case META_SETWINDOWEXT: case META_SETVIEWPORTORG:
    case META_SETVIEWPORTEXT: case META_OFFSETWINDOWORG: case META_OFFSETVIEWPORTORG:
    case META_LINETO: case META_MOVETO: case META_OFFSETCLIPRGN: case META_FILLREGION:
    case META_SETMAPPERFLAGS: case META_SETPALENTRIES: case META_ANIMATEPALETTE:
    case META_CREATEPALETTE: case META_DIBCREATEPATTERNBRUSH: case META_ESCAPE:
        return 2;
    case META_SCALEWINDOWEXT: case META_SCALEVIEWPORTEXT: case META_EXCLUDECLIPRECT:
    case META_INTERSECTCLIPRECT: case META_ELLIPSE: case META_RECTANGLE:
    case META_FLOODFILL: case META_SETPIXEL: case META_FRAMEREGION:
    case META_CREATEBRUSHINDIRECT: case META_EXTTEXTOUT:
        return 4;
    case META_EXTFLOODFILL: case META_CREATEPENINDIRECT:
        return 5;
    case META_ROUNDRECT: case META_PATBLT:
        return 6;
    case META_ARC: case META_CHORD: case META_PIE:
        return 8;
    case META_CREATEFONTINDIRECT: case META_SETDIBTODEV:
        return 9;
    case META_CREATEREGION: case META_STRETCHDIB:
        return 11;
    case META_CREATEPATTERNBRUSH:
        return 16;   // a 14-byte Bitmap16 and 18 reserved bytes
    default:
        return 0;
    }
}

static bool WmfCreates(uint32_t function)
{
    switch (function) {
    case META_CREATEPALETTE: case META_CREATEBRUSHINDIRECT: case META_CREATEPENINDIRECT:
    case META_CREATEFONTINDIRECT: case META_DIBCREATEPATTERNBRUSH:
    case META_CREATEPATTERNBRUSH: case META_CREATEREGION:
        return true;
    default:
        return false;
    }
}

// The blits that may carry a bitmap: without one, the record is exactly its
// fixed words (the high byte of the function) long and its raster operation
// must not read a source.
static bool WmfBlitFits(uint32_t function, const uint8_t *p, uint64_t words)
{
    uint64_t fixed = function >> 8;
    if (words < 2)
        return false;
    uint32_t rop = Word(p, 0) | Word(p, 1) << 16;
    if (words == fixed)
        return !RopUsesSource(rop);
    if (words < fixed - 1)
        return false;
    const uint8_t *bitmap = p + 2 * (fixed - 1);
    uint64_t left = words - (fixed - 1);
    if (function == META_BITBLT || function == META_STRETCHBLT)
        return Bitmap16Fits(bitmap, left, 5);
    return PackedDibFits(bitmap, 2 * left, DIB_RGB_COLORS, kAllLines);
}

static bool WmfTextFits(uint32_t function, const uint8_t *p, uint64_t words)
{
    if (function == META_TEXTOUT)
        return 1 + ((uint64_t)Word(p, 0) + 1) / 2 + 2 <= words;
    uint64_t chars = Word(p, 2), options = Word(p, 3);
    uint64_t at = 4 + (options & (ETO_OPAQUE | ETO_CLIPPED) ? 4 : 0) + (chars + 1) / 2;
    if (at > words)
        return false;
    // Spacing follows the string when there is room for it; a part of it
    // would be read past the record.
    uint64_t spacing = chars * (options & ETO_PDY ? 2 : 1);
    return words == at || words - at >= spacing;
}

// A font record may stop short of the 32-byte face name only when the name
// ends inside it.
static bool WmfFontFits(const uint8_t *p, uint64_t words)
{
    if (words >= 25)
        return true;
    return memchr(p + 18, 0, (size_t)(2 * words - 18)) != 0;
}

static bool WmfRecordSound(const uint8_t *rec, uint64_t recordWords, WmfObjects *objects)
{
    uint32_t function = Le16(rec + 4);
    const uint8_t *p = rec + 6;
    uint64_t words = recordWords - 3;
    if (words < WmfFixedWords(function))
        return false;
    if (WmfCreates(function) && TakeLowestSlot(objects) == kNoSlot)
        return false;
    switch (function) {
    case META_SELECTOBJECT: case META_SELECTPALETTE: case META_SELECTCLIPREGION:
    case META_INVERTREGION: case META_PAINTREGION:
        return Word(p, 0) < objects->count;
    case META_DELETEOBJECT:
        if (Word(p, 0) >= objects->count)
            return false;
        MarkFree(objects, Word(p, 0));
        return true;
    case META_FILLREGION: case META_FRAMEREGION:
        return Word(p, 0) < objects->count && Word(p, 1) < objects->count;
    case META_CREATEPALETTE: case META_SETPALENTRIES: case META_ANIMATEPALETTE:
        return 2 + 2 * (uint64_t)Word(p, 1) <= words;
    case META_CREATEFONTINDIRECT:
        return WmfFontFits(p, words);
    case META_CREATEREGION:
        return WmfRegionFits(p, words);
    case META_CREATEPATTERNBRUSH:
        return Bitmap16Fits(p, words, 16);
    case META_DIBCREATEPATTERNBRUSH:
        // A BS_PATTERN brush keeps RGB colours whatever its usage word says.
        return PackedDibFits(p + 4, 2 * (words - 2),
                             Word(p, 0) == BS_PATTERN ? DIB_RGB_COLORS : Word(p, 1), kAllLines);
    case META_TEXTOUT: case META_EXTTEXTOUT:
        return WmfTextFits(function, p, words);
    case META_POLYGON: case META_POLYLINE:
        return 1 + 2 * (uint64_t)Word(p, 0) <= words;
    case META_POLYPOLYGON: {
        uint64_t polygons = Word(p, 0), points = 0;
        if (1 + polygons > words)
            return false;
        for (uint32_t i = 0; i < polygons; i++)
            points += Word(p, 1 + i);
        return 1 + polygons + 2 * points <= words;
    }
    case META_ESCAPE:
        return 2 + ((uint64_t)Word(p, 1) + 1) / 2 <= words;
    case META_BITBLT: case META_STRETCHBLT: case META_DIBBITBLT: case META_DIBSTRETCHBLT:
        return WmfBlitFits(function, p, words);
    case META_SETDIBTODEV:
        return PackedDibFits(p + 18, 2 * (words - 9), Word(p, 0), Word(p, 1));
    case META_STRETCHDIB:
        return PackedDibFits(p + 22, 2 * (words - 11), Word(p, 2), kAllLines);
    default:
        return true;
    }
}

// Records start after the header (its size is in words) and hold their own
// size in words; GDI stops at a record shorter than 3 words or at the end
// record, and must find every other record whole inside the metafile. A
// piece of an embedded metafile after the ones put together is a stray.
static bool WalkWmf(const uint8_t *mf, int64_t bytes, WmfObjects *objects,
                    const EmbeddedEmf *embedded)
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
        if (!WmfRecordSound(mf + at, (uint64_t)words, objects))
            return false;
        at += 2 * words;
    }
    return true;
}

bool WmfRecordsSound(const uint8_t *mf, int64_t bytes)
{
    if (bytes < 18)
        return false;
    WmfObjects *objects = (WmfObjects *)malloc(sizeof(WmfObjects));
    if (!objects)
        return false;
    InitObjects(objects, Le16(mf + 10));
    EmbeddedEmf embedded = {0, 0, 0};
    bool sound = AssembleEmbedded(mf, (uint64_t)bytes, &embedded) &&
                 WalkWmf(mf, bytes, objects, &embedded);
    if (sound && embedded.data)
        sound = EmfRecordsSound(embedded.data, embedded.size);
    free(embedded.data);
    free(objects);
    return sound;
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

// The bytes of a record's fixed fields, which the player reads as a whole
// (the record structures up to their first variable-length member).
static uint32_t EmfFixedSize(uint32_t type)
{
    switch (type) {
    case EMR_SAVEDC: case EMR_REALIZEPALETTE: case EMR_SETMETARGN: case EMR_BEGINPATH:
    case EMR_ENDPATH: case EMR_CLOSEFIGURE: case EMR_FLATTENPATH: case EMR_WIDENPATH:
    case EMR_ABORTPATH:
        return 8;
    case EMR_SETMAPPERFLAGS: case EMR_SETMAPMODE: case EMR_SETBKMODE:
    case EMR_SETPOLYFILLMODE: case EMR_SETROP2: case EMR_SETSTRETCHBLTMODE:
    case EMR_SETTEXTALIGN: case EMR_SETTEXTCOLOR: case EMR_SETBKCOLOR: case EMR_RESTOREDC:
    case EMR_SELECTOBJECT: case EMR_DELETEOBJECT: case EMR_SELECTPALETTE:
    case EMR_SETARCDIRECTION: case EMR_SETMITERLIMIT: case EMR_SELECTCLIPPATH:
    case EMR_SETICMMODE: case EMR_SETCOLORSPACE: case EMR_DELETECOLORSPACE:
    case EMR_SETLAYOUT: case EMR_GDICOMMENT: case EMR_GLSRECORD:
        return 12;
    case EMR_SETWINDOWEXTEX: case EMR_SETWINDOWORGEX: case EMR_SETVIEWPORTEXTEX:
    case EMR_SETVIEWPORTORGEX: case EMR_SETBRUSHORGEX: case EMR_OFFSETCLIPRGN:
    case EMR_MOVETOEX: case EMR_LINETO: case EMR_RESIZEPALETTE: case EMR_CREATEPALETTE:
    case EMR_EXTSELECTCLIPRGN: case EMR_DRAWESCAPE_: case EMR_EXTESCAPE_:
    case EMR_FORCEUFIMAPPING_: case EMR_SETTEXTJUSTIFICATION_:
        return 16;
    case EMR_EOF: case EMR_SETPIXELV: case EMR_SETPALETTEENTRIES: case EMR_NAMEDESCAPE_:
    case EMR_SETICMPROFILEA: case EMR_SETICMPROFILEW:
        return 20;
    case EMR_EXCLUDECLIPRECT: case EMR_INTERSECTCLIPRECT: case EMR_SCALEVIEWPORTEXTEX:
    case EMR_SCALEWINDOWEXTEX: case EMR_CREATEBRUSHINDIRECT: case EMR_ELLIPSE:
    case EMR_RECTANGLE: case EMR_EXTFLOODFILL: case EMR_FILLPATH: case EMR_STROKEANDFILLPATH:
    case EMR_STROKEPATH: case EMR_COLORCORRECTPALETTE: case EMR_COLORMATCHTOTARGETW:
        return 24;
    case EMR_POLYBEZIER: case EMR_POLYGON: case EMR_POLYLINE: case EMR_POLYBEZIERTO:
    case EMR_POLYLINETO: case EMR_POLYBEZIER16: case EMR_POLYGON16: case EMR_POLYLINE16:
    case EMR_POLYBEZIERTO16: case EMR_POLYLINETO16: case EMR_POLYDRAW: case EMR_POLYDRAW16:
    case EMR_CREATEPEN: case EMR_ANGLEARC: case EMR_INVERTRGN: case EMR_PAINTRGN:
    case EMR_GLSBOUNDEDRECORD:
        return 28;
    case EMR_POLYPOLYLINE: case EMR_POLYPOLYGON: case EMR_POLYPOLYLINE16:
    case EMR_POLYPOLYGON16: case EMR_SETCOLORADJUSTMENT: case EMR_SETWORLDTRANSFORM:
    case EMR_ROUNDRECT: case EMR_FILLRGN: case EMR_CREATEMONOBRUSH:
    case EMR_CREATEDIBPATTERNBRUSHPT:
        return 32;
    case EMR_MODIFYWORLDTRANSFORM: case EMR_SMALLTEXTOUT_: case EMR_GRADIENTFILL:
        return 36;
    case EMR_ARC: case EMR_CHORD: case EMR_PIE: case EMR_ARCTO: case EMR_FRAMERGN:
    case EMR_POLYTEXTOUTA: case EMR_POLYTEXTOUTW:
        return 40;
    case EMR_PIXELFORMAT:
        return 48;
    case EMR_EXTCREATEPEN:
        return 52;
    case EMR_SETDIBITSTODEVICE: case EMR_EXTTEXTOUTA: case EMR_EXTTEXTOUTW:
        return 76;
    case EMR_STRETCHDIBITS:
        return 80;
    case EMR_HEADER:
        return 88;
    case EMR_BITBLT:
        return 100;
    case EMR_EXTCREATEFONTINDIRECTW:
        return 104;   // the handle and a LOGFONTW
    case EMR_STRETCHBLT: case EMR_ALPHABLEND: case EMR_TRANSPARENTBLT:
        return 108;
    case EMR_MASKBLT:
        return 128;
    case EMR_PLGBLT:
        return 140;
    case EMR_CREATECOLORSPACE:
        return 340;
    case EMR_CREATECOLORSPACEW:
        return 608;
    default:
        return 8;
    }
}

// A handle index the player looks up: a stock object (high bit set) or a
// slot of the header's table.
static bool UsesHandle(uint32_t index, uint32_t handles)
{
    return (index & 0x80000000) || index < handles;
}

// A slot the player writes: never the metafile's own slot 0, never a stock
// object, inside the table.
static bool WritesHandle(uint32_t index, uint32_t handles)
{
    return index != 0 && index < handles;
}

// How a record's bitmap is played: it may have none, it must have one, or
// the player packs header and pixels into one copy (a DIB pattern brush).
enum { BITMAP_OPTIONAL, BITMAP_REQUIRED, BITMAP_PACKED };

// A bitmap whose header and pixels are given by offset and size from the
// start of the record, in the four fields at `at`. Where the record can do
// without one, the player takes a header offset of 0 to say there is none,
// and any other offset to say there is one, whatever the sizes say.
static bool EmfBitmapFits(const uint8_t *rec, uint32_t size, uint32_t at, uint32_t usage,
                          int mode, uint64_t lines)
{
    uint64_t infoAt = Le32(rec + at), infoBytes = Le32(rec + at + 4);
    uint64_t bitsAt = Le32(rec + at + 8), bitsBytes = Le32(rec + at + 12);
    if (infoAt + infoBytes > size || bitsAt + bitsBytes > size)
        return false;
    if (mode == BITMAP_OPTIONAL && infoAt == 0)
        return true;
    DibNeeds n;
    if (!DibSizes(rec + infoAt, infoBytes, usage, lines, &n) || n.info > infoBytes ||
        n.bits > bitsBytes || infoAt + n.reach > size)
        return false;
    return mode != BITMAP_PACKED ||
           (n.reach <= infoBytes + bitsBytes && n.skip + n.bits <= infoBytes + bitsBytes);
}

// A monochrome brush recorded with usage 2 has a header of its size and
// depth alone: the player makes a device bitmap of its width, height,
// planes and bit count from the pixels (see DeviceBitmapBytes).
static bool MonoBrushFits(const uint8_t *rec, uint32_t size)
{
    uint64_t infoAt = Le32(rec + 16), infoBytes = Le32(rec + 20);
    uint64_t bitsAt = Le32(rec + 24), bitsBytes = Le32(rec + 28), bytes = 0;
    if (infoAt + infoBytes > size || bitsAt + bitsBytes > size || infoBytes < 16)
        return false;
    const uint8_t *h = rec + infoAt;
    int64_t width = (int32_t)Le32(h + 4), height = (int32_t)Le32(h + 8);
    return DeviceBitmapBytes(width < 0 ? -width : width, height < 0 ? -height : height,
                             Le16(h + 12), Le16(h + 14), &bytes) &&
           bytes <= bitsBytes;
}

// One EMRTEXT at `at`: its string and its spacing, which the player reads
// wherever the offset points, an offset of 0 being the record's start.
static bool EmrTextFits(const uint8_t *rec, uint32_t size, uint32_t at, uint64_t charBytes)
{
    uint64_t chars = Le32(rec + at + 8), stringAt = Le32(rec + at + 12);
    uint64_t options = Le32(rec + at + 16), spacingAt = Le32(rec + at + 36);
    if (chars == 0)
        return true;
    if (stringAt + chars * charBytes > size)
        return false;
    uint64_t spacing = chars * 4 * (options & ETO_PDY ? 2 : 1);
    return spacingAt + spacing <= size;
}

// Region data of the byte count at `countAt`, starting at `at`: a header
// and its rectangles. Only a clip region may be empty (the default clip).
static bool EmfRegionFits(const uint8_t *rec, uint32_t size, uint32_t countAt, uint32_t at,
                          bool mayBeEmpty)
{
    uint64_t bytes = Le32(rec + countAt);
    if (at + bytes > size)
        return false;
    if (bytes == 0)
        return mayBeEmpty;
    if (bytes < 32)
        return false;
    uint64_t header = Le32(rec + at), rects = Le32(rec + at + 8);
    if (header < 32)
        header = 32;
    return header + rects * 16 <= bytes;
}

// Points after `at`: a count at `countAt` of `pointBytes` each.
static bool EmfPointsFit(const uint8_t *rec, uint32_t size, uint64_t countAt,
                         uint64_t pointBytes)
{
    return countAt + 4 + Le32(rec + countAt) * pointBytes <= size;
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

static bool EmfHeaderFits(const uint8_t *rec, uint32_t size)
{
    uint64_t chars = Le32(rec + 60), textAt = Le32(rec + 64);
    if (chars && textAt + 2 * chars > size)
        return false;
    if (size < 96)   // no pixel format fields
        return true;
    uint64_t formatBytes = Le32(rec + 88), formatAt = Le32(rec + 92);
    return formatBytes == 0 || formatAt + formatBytes <= size;
}

static bool EmfRecordSound(const uint8_t *rec, uint32_t size, uint32_t handles)
{
    uint32_t type = Le32(rec);
    if (size < EmfFixedSize(type))
        return false;
    switch (type) {
    case EMR_HEADER:
        return EmfHeaderFits(rec, size);
    case EMR_POLYBEZIER: case EMR_POLYGON: case EMR_POLYLINE: case EMR_POLYBEZIERTO:
    case EMR_POLYLINETO:
        return EmfPointsFit(rec, size, 24, 8);
    case EMR_POLYBEZIER16: case EMR_POLYGON16: case EMR_POLYLINE16: case EMR_POLYBEZIERTO16:
    case EMR_POLYLINETO16:
        return EmfPointsFit(rec, size, 24, 4);
    case EMR_POLYDRAW:
        return EmfPointsFit(rec, size, 24, 9);   // a point and a type byte
    case EMR_POLYDRAW16:
        return EmfPointsFit(rec, size, 24, 5);
    case EMR_POLYPOLYLINE: case EMR_POLYPOLYGON:
        return EmfPolyPolyFits(rec, size, 8);
    case EMR_POLYPOLYLINE16: case EMR_POLYPOLYGON16:
        return EmfPolyPolyFits(rec, size, 4);
    case EMR_SELECTOBJECT: case EMR_SELECTPALETTE: case EMR_RESIZEPALETTE:
    case EMR_SETCOLORSPACE: case EMR_COLORCORRECTPALETTE:
        return UsesHandle(Le32(rec + 8), handles);
    case EMR_SETPALETTEENTRIES:
        return UsesHandle(Le32(rec + 8), handles) && EmfPointsFit(rec, size, 16, 4);
    case EMR_DELETEOBJECT: case EMR_DELETECOLORSPACE: case EMR_CREATEPEN:
    case EMR_CREATEBRUSHINDIRECT: case EMR_CREATECOLORSPACE:
        return WritesHandle(Le32(rec + 8), handles);
    case EMR_CREATECOLORSPACEW:
        return WritesHandle(Le32(rec + 8), handles) &&
               EmfFixedSize(type) + (uint64_t)Le32(rec + EmfFixedSize(type) - 4) <= size;
    case EMR_EXTCREATEFONTINDIRECTW:
        return WritesHandle(Le32(rec + 8), handles) && EmfFontFits(rec, size);
    case EMR_CREATEPALETTE:
        return WritesHandle(Le32(rec + 8), handles) && 16 + 4 * (uint64_t)Le16(rec + 14) <= size;
    case EMR_CREATEMONOBRUSH:
        return WritesHandle(Le32(rec + 8), handles) &&
               (Le32(rec + 12) == kDibPalIndices
                    ? MonoBrushFits(rec, size)
                    : EmfBitmapFits(rec, size, 16, Le32(rec + 12), BITMAP_REQUIRED, kAllLines));
    case EMR_CREATEDIBPATTERNBRUSHPT:
        return WritesHandle(Le32(rec + 8), handles) &&
               EmfBitmapFits(rec, size, 16, Le32(rec + 12), BITMAP_PACKED, kAllLines);
    case EMR_EXTCREATEPEN: {
        // A pattern pen's usage is where a plain pen keeps its colour.
        uint32_t style = Le32(rec + 36);
        bool pattern = style == BS_PATTERN || style == BS_DIBPATTERN ||
                       style == BS_DIBPATTERNPT || style == BS_PATTERN8X8 ||
                       style == BS_DIBPATTERN8X8;
        return WritesHandle(Le32(rec + 8), handles) && EmfPointsFit(rec, size, 48, 4) &&
               EmfBitmapFits(rec, size, 12, Le32(rec + 40),
                             pattern ? BITMAP_REQUIRED : BITMAP_OPTIONAL, kAllLines);
    }
    case EMR_FILLRGN:
    case EMR_FRAMERGN:
        return UsesHandle(Le32(rec + 28), handles) &&
               EmfRegionFits(rec, size, 24, EmfFixedSize(type), false);
    case EMR_INVERTRGN: case EMR_PAINTRGN:
        return EmfRegionFits(rec, size, 24, 28, false);
    case EMR_EXTSELECTCLIPRGN:
        return EmfRegionFits(rec, size, 8, 16, true);
    case EMR_BITBLT: case EMR_STRETCHBLT:
        return EmfBitmapFits(rec, size, 84, Le32(rec + 80),
                             RopUsesSource(Le32(rec + 40)) ? BITMAP_REQUIRED : BITMAP_OPTIONAL,
                             kAllLines);
    case EMR_ALPHABLEND: case EMR_TRANSPARENTBLT:
        return EmfBitmapFits(rec, size, 84, Le32(rec + 80), BITMAP_REQUIRED, kAllLines);
    case EMR_MASKBLT: {
        // A quaternary operation: the foreground in bits 16-23, the
        // background in the high byte.
        uint32_t rop = Le32(rec + 40);
        bool source = RopUsesSource(rop) || RopUsesSource((rop >> 8) & 0xFF0000);
        return EmfBitmapFits(rec, size, 84, Le32(rec + 80),
                             source ? BITMAP_REQUIRED : BITMAP_OPTIONAL, kAllLines) &&
               EmfBitmapFits(rec, size, 112, Le32(rec + 108), BITMAP_OPTIONAL, kAllLines);
    }
    case EMR_PLGBLT:
        return EmfBitmapFits(rec, size, 96, Le32(rec + 92), BITMAP_REQUIRED, kAllLines) &&
               EmfBitmapFits(rec, size, 124, Le32(rec + 120), BITMAP_OPTIONAL, kAllLines);
    case EMR_SETDIBITSTODEVICE:
        return EmfBitmapFits(rec, size, 48, Le32(rec + 64), BITMAP_REQUIRED, Le32(rec + 72));
    case EMR_STRETCHDIBITS:
        return EmfBitmapFits(rec, size, 48, Le32(rec + 64), BITMAP_REQUIRED, kAllLines);
    case EMR_EXTTEXTOUTA: case EMR_EXTTEXTOUTW:
        return EmrTextFits(rec, size, 36, type == EMR_EXTTEXTOUTW ? 2 : 1);
    case EMR_POLYTEXTOUTA: case EMR_POLYTEXTOUTW: {
        uint64_t strings = Le32(rec + 36);
        if (40 + 40 * strings > size)
            return false;
        for (uint32_t i = 0; i < strings; i++)
            if (!EmrTextFits(rec, size, 40 + 40 * i, type == EMR_POLYTEXTOUTW ? 2 : 1))
                return false;
        return true;
    }
    case EMR_SMALLTEXTOUT_: {
        uint64_t chars = Le32(rec + 16), options = Le32(rec + 20);
        uint64_t at = 36 + (options & 0x100 ? 0 : 16);   // ETO_NO_RECT
        return at + chars * (options & 0x200 ? 1 : 2) <= size;       // ETO_SMALL_CHARS
    }
    case EMR_GDICOMMENT: case EMR_GLSRECORD:
        return 12 + (uint64_t)Le32(rec + 8) <= size;
    case EMR_GLSBOUNDEDRECORD:
        return 28 + (uint64_t)Le32(rec + 24) <= size;
    case EMR_DRAWESCAPE_: case EMR_EXTESCAPE_:
        return 16 + (uint64_t)Le32(rec + 12) <= size;
    case EMR_NAMEDESCAPE_: case EMR_SETICMPROFILEA: case EMR_SETICMPROFILEW:
        return 20 + (uint64_t)Le32(rec + 12) + Le32(rec + 16) <= size;   // two counted parts
    case EMR_COLORMATCHTOTARGETW:
        return 24 + (uint64_t)Le32(rec + 16) + Le32(rec + 20) <= size;
    case EMR_GRADIENTFILL:
        return EmfGradientFits(rec, size);
    default:
        return true;
    }
}

// The end record's palette must lie inside it; GDI copies it from there.
static bool EofPaletteFits(const uint8_t *rec, uint32_t size)
{
    if (size < 20)
        return false;
    uint64_t entries = Le32(rec + 8), offset = Le32(rec + 12);
    return entries == 0 || offset + 4 * entries <= size;
}

// Every record, header first, is at least 8 bytes, a multiple of 4 and
// whole inside the metafile. The player does not stop at an end record: it
// plays whatever lies after one up to the header's byte count, so every
// record up to that count is judged, end records included. The count must
// be the metafile's own (an embedded one is handed over at its piece sum).
bool EmfRecordsSound(const uint8_t *emf, uint32_t bytes)
{
    if (bytes < EmfFixedSize(EMR_HEADER) || Le32(emf) != EMR_HEADER ||
        Le32(emf + 40) != ENHMETA_SIGNATURE || Le32(emf + 48) != bytes)
        return false;
    uint32_t handles = Le16(emf + 56);
    uint32_t at = 0;
    while (at < bytes) {
        if (bytes - at < 8)
            return false;
        uint32_t size = Le32(emf + at + 4);
        if (size < 8 || size % 4 || size > bytes - at)
            return false;
        bool sound = Le32(emf + at) == EMR_EOF ? EofPaletteFits(emf + at, size)
                                               : EmfRecordSound(emf + at, size, handles);
        if (!sound)
            return false;
        at += size;
    }
    return true;
}
