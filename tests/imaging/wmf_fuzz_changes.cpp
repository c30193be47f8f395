// Record-by-record changes to GDI's metafiles, for the metafile change test.
// A metafile is split into its records, changed (another type, edge values
// in fields, records duplicated, dropped, moved, cut short, lengthened or
// borrowed from another seed) and put together again with every record
// size, header count and checksum made to agree, so that each input gets
// past the framing checks to the rules for single records. Coordinates,
// extents and transforms are kept small by the table below: the platform's
// rasterizer has faults of its own at device coordinates near 2^20, and
// those are not the record walk's to catch.
#include "wmf_fuzz.h"
#include "../../framework/bytes.h"
#include <windows.h>
#include <math.h>
#include <string.h>

// ---- Random stream (splitmix64) ----------------------------------------

struct Rng {
    uint64_t state;
};

static uint64_t Next(Rng &g)
{
    uint64_t z = (g.state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

static uint32_t Below(Rng &g, uint32_t n) { return n ? (uint32_t)(Next(g) % n) : 0; }

uint32_t HashName(const std::string &name)
{
    uint32_t h = 2166136261u;
    for (unsigned char c : name)
        h = (h ^ c) * 16777619u;
    return h;
}

static uint8_t *At(Bytes &b, size_t at) { return (uint8_t *)&b[at]; }
static const uint8_t *At(const Bytes &b, size_t at) { return (const uint8_t *)&b[at]; }

// ---- Splitting and joining ----------------------------------------------

static const size_t kPlaceable = 22;

// A metafile as its records. WMF: the placeable header and the standard
// header apart; EMF: the header is the first record.
struct Metafile {
    bool wmf;
    Bytes placeable, header;
    std::vector<Bytes> records;
};

static bool SplitWmf(const Bytes &b, Metafile *m)
{
    m->wmf = true;
    if (b.size() < kPlaceable + 18)
        return false;
    m->placeable = b.substr(0, kPlaceable);
    // The records follow the 18-byte header, whatever a changed header
    // says its size is.
    Bytes mf = b.substr(kPlaceable, 2 * (size_t)Le32(At(b, kPlaceable + 6)));
    size_t at = 18;
    if (mf.size() < at)
        return false;
    m->header = mf.substr(0, at);
    while (at + 6 <= mf.size()) {
        size_t bytes = 2 * (size_t)Le32(At(mf, at));
        if (bytes < 6 || bytes > mf.size() - at)
            return false;
        m->records.push_back(mf.substr(at, bytes));
        at += bytes;
    }
    return at == mf.size();
}

static bool SplitEmf(const Bytes &b, Metafile *m)
{
    m->wmf = false;
    size_t at = 0;
    while (at + 8 <= b.size()) {
        size_t bytes = Le32(At(b, at + 4));
        if (bytes < 8 || bytes % 4 || bytes > b.size() - at)
            return false;
        m->records.push_back(b.substr(at, bytes));
        at += bytes;
    }
    return at == b.size() && !m->records.empty();
}

static bool Split(const Seed &seed, const Bytes &b, Metafile *m)
{
    return seed.wmf ? SplitWmf(b, m) : SplitEmf(b, m);
}

static uint16_t PlaceableChecksum(const uint8_t *p)
{
    uint16_t sum = 0;
    for (int i = 0; i < 10; i++)
        sum ^= Le16(p + 2 * i);
    return sum;
}

// The 16-bit metafile alone, its sizes made to agree with its records.
static Bytes JoinWmfBody(const Metafile &m)
{
    Bytes body = m.header;
    uint32_t largest = 0;
    for (const Bytes &r : m.records) {
        size_t at = body.size();
        body += r;
        uint32_t words = (uint32_t)(r.size() / 2);
        Put32(At(body, at), words);
        if (words > largest)
            largest = words;
    }
    Put32(At(body, 6), (uint32_t)(body.size() / 2));
    Put32(At(body, 12), largest);
    return body;
}

static Bytes JoinEmf(const Metafile &m)
{
    Bytes b;
    for (const Bytes &r : m.records) {
        size_t at = b.size();
        b += r;
        Put32(At(b, at + 4), (uint32_t)r.size());
    }
    Put32(At(b, 48), (uint32_t)b.size());
    Put32(At(b, 52), (uint32_t)m.records.size());
    return b;
}

static Bytes WithPlaceable(Bytes placeable, const Bytes &body)
{
    Put16(At(placeable, 20), PlaceableChecksum(At(placeable, 0)));
    return placeable + body;
}

// ---- An EMF carried in the leading comments of a WMF ----------------------
//
// Each piece is a META_ESCAPE record of MFCOMMENT: the escape's function
// and byte count, then a 34-byte header ("WMFC", comment type, version,
// checksum at 12, flags, the count of pieces at 18, this piece's size at
// 22, the bytes still to come at 26, the whole EMF's size at 30) and the
// piece. The converter plays the EMF only when the words of the whole
// 16-bit metafile add up to 0.

static const uint32_t kWmfcIdent = 0x43464D57;
static const size_t kPieceHeader = 34, kPieceAt = 10;

static bool IsPiece(const Bytes &r)
{
    return r.size() >= kPieceAt + kPieceHeader && Le16(At(r, 4)) == META_ESCAPE &&
           Le16(At(r, 6)) == MFCOMMENT && Le32(At(r, kPieceAt)) == kWmfcIdent;
}

// The carried EMF and the number of leading piece records; false when the
// pieces do not join up as GDI writes them.
static bool TakeEmbedded(const Metafile &m, Bytes *emf, size_t *pieces)
{
    emf->clear();
    size_t k = 0;
    while (k < m.records.size() && IsPiece(m.records[k])) {
        const Bytes &r = m.records[k];
        size_t chunk = Le32(At(r, kPieceAt + 22));
        if (chunk > r.size() - kPieceAt - kPieceHeader)
            return false;
        *emf += r.substr(kPieceAt + kPieceHeader, chunk);
        k++;
    }
    *pieces = k;
    return k > 0 && emf->size() == Le32(At(m.records[0], kPieceAt + 30));
}

// Replaces the first `old` records by `count` pieces of `emf`, with the
// first old piece's comment type, version and flags.
static void PutEmbedded(Metafile &m, size_t old, const Bytes &emf, uint32_t count)
{
    Bytes head = m.records[0].substr(kPieceAt, kPieceHeader);
    std::vector<Bytes> pieces;
    size_t from = 0;
    for (uint32_t i = 0; i < count; i++) {
        size_t size = i + 1 == count ? emf.size() - from : emf.size() / count;
        Bytes h = head;
        Put32(At(h, 18), count);
        Put32(At(h, 22), (uint32_t)size);
        Put32(At(h, 26), (uint32_t)(emf.size() - from - size));
        Put32(At(h, 30), (uint32_t)emf.size());
        Bytes r(10, '\0');
        Put16(At(r, 4), META_ESCAPE);
        Put16(At(r, 6), MFCOMMENT);
        Put16(At(r, 8), (uint32_t)(kPieceHeader + size));
        r += h + emf.substr(from, size);
        if (r.size() % 2)
            r += '\0';
        pieces.push_back(r);
        from += size;
    }
    m.records.erase(m.records.begin(), m.records.begin() + old);
    m.records.insert(m.records.begin(), pieces.begin(), pieces.end());
}

// Makes the words of the 16-bit metafile add up to 0 through the checksum
// of its first piece, if it starts with one.
static void FixEmbeddedChecksum(Bytes &body)
{
    size_t first = 18;
    if (first + kPieceAt + kPieceHeader > body.size() ||
        !IsPiece(body.substr(first, kPieceAt + kPieceHeader)))
        return;
    size_t checksum = first + kPieceAt + 12;
    Put16(At(body, checksum), 0);
    uint16_t sum = 0;
    for (size_t i = 0; i + 1 < body.size(); i += 2)
        sum += Le16(At(body, i));
    Put16(At(body, checksum), (uint16_t)-sum);
}

// ---- Which fields are coordinates, extents and transforms ---------------
//
// Per record type of each format, the spans that hold coordinates, sizes,
// text spacing, font sizes, extents, extent scalings, transforms, text
// scales, angles and miter limits; every other field takes edge values.
// They are kept where no drawing reaches 2^16 device units:
// - EMF: coordinates within +-2048, sizes 0..2048, spacing +-256, font
//   sizes +-1024, window extents 16..32767 and viewport extents 1..16
//   (either sign; so even over the default window of 1 a drawing stays
//   within 2^15), transforms with no row adding up to more than 1;
// - WMF: the converter maps the window onto the picture (200 x 100 pixels
//   here), so coordinates within +-4096, window extents 64..32767 and
//   viewport extents 1..16 keep a drawing within 13,000 pixels; spacing and
//   font sizes within +-1024;
// - extent scalings 1..8, growing a window and shrinking a viewport only.

enum Kind {
    K_COORD,
    K_SIZE,
    K_SPACING,
    K_FONT,
    K_WINEXT,
    K_VPEXT,
    K_SCALEWIN,   // pairs of numerator and denominator
    K_SCALEVP,
    K_XFORM,      // six floats
    K_TEXTSCALE,  // floats
    K_ANGLE,
    K_MITER,
    K_KEEP,       // left as recorded
    K_WMFCOORD,
    K_WMFWINEXT,
    K_WMFSPACING,
    K_WMFFONT
};

struct Span {
    uint32_t at, bytes;
    uint8_t kind, width;
    bool denominatorFirst;
};

typedef std::vector<Span> Spans;

// `values` values of `width` bytes from `at`, as many as the record holds.
static void Add(Spans &s, uint32_t size, uint64_t at, uint64_t values, int kind, int width,
                bool denominatorFirst = false)
{
    uint32_t unit = kind == K_XFORM ? 24 : kind == K_SCALEWIN || kind == K_SCALEVP ? 2 * width
                                                                                  : width;
    uint64_t bytes = values * width;
    if (at >= size)
        return;
    if (bytes > size - at)
        bytes = size - at;
    bytes -= bytes % unit;
    if (bytes)
        s.push_back({(uint32_t)at, (uint32_t)bytes, (uint8_t)kind, (uint8_t)width,
                     denominatorFirst});
}

static uint32_t Field(const uint8_t *r, uint32_t size, uint32_t at)
{
    return at + 4 <= size ? Le32(r + at) : 0;
}

// One EMRTEXT at `at`, its spacing only where it lies after the record's
// fixed fields (`fixedEnd`).
static void EmrTextSpans(const uint8_t *r, uint32_t size, uint32_t at, uint32_t fixedEnd,
                         Spans &s)
{
    Add(s, size, at, 2, K_COORD, 4);
    Add(s, size, at + 20, 4, K_COORD, 4);
    uint64_t chars = Field(r, size, at + 8), options = Field(r, size, at + 16);
    uint32_t dx = Field(r, size, at + 36);
    if (dx >= fixedEnd)
        Add(s, size, dx, chars * (options & ETO_PDY ? 2 : 1), K_SPACING, 4);
}

static void EmfSpans(const uint8_t *r, uint32_t size, Spans &s)
{
    uint32_t type = Le32(r);
    switch (type) {
    case EMR_HEADER:   // bounds and frame, device sizes: the picture's scale
        Add(s, size, 8, 8, K_KEEP, 4);
        Add(s, size, 72, 4, K_KEEP, 4);
        Add(s, size, 100, 2, K_KEEP, 4);
        break;
    case EMR_SETWINDOWEXTEX:
        Add(s, size, 8, 2, K_WINEXT, 4);
        break;
    case EMR_SETVIEWPORTEXTEX:
        Add(s, size, 8, 2, K_VPEXT, 4);
        break;
    case EMR_SCALEWINDOWEXTEX:
    case EMR_SCALEVIEWPORTEXTEX: {
        int kind = type == EMR_SCALEWINDOWEXTEX ? K_SCALEWIN : K_SCALEVP;
        Add(s, size, 8, 2, kind, 4);
        Add(s, size, 16, 2, kind, 4);
        break;
    }
    case EMR_SETWINDOWORGEX: case EMR_SETVIEWPORTORGEX: case EMR_SETBRUSHORGEX:
    case EMR_OFFSETCLIPRGN: case EMR_MOVETOEX: case EMR_LINETO: case EMR_SETPIXELV:
    case EMR_EXTFLOODFILL:
        Add(s, size, 8, 2, K_COORD, 4);
        break;
    case EMR_EXCLUDECLIPRECT: case EMR_INTERSECTCLIPRECT: case EMR_ELLIPSE:
    case EMR_RECTANGLE: case EMR_FILLPATH: case EMR_STROKEANDFILLPATH: case EMR_STROKEPATH:
        Add(s, size, 8, 4, K_COORD, 4);
        break;
    case EMR_ROUNDRECT:
        Add(s, size, 8, 6, K_COORD, 4);
        break;
    case EMR_ARC: case EMR_CHORD: case EMR_PIE: case EMR_ARCTO:
        Add(s, size, 8, 8, K_COORD, 4);
        break;
    case EMR_ANGLEARC:
        Add(s, size, 8, 2, K_COORD, 4);
        Add(s, size, 16, 1, K_SIZE, 4);
        Add(s, size, 20, 2, K_ANGLE, 4);
        break;
    case EMR_POLYBEZIER: case EMR_POLYGON: case EMR_POLYLINE: case EMR_POLYBEZIERTO:
    case EMR_POLYLINETO:
        Add(s, size, 8, 4, K_COORD, 4);
        Add(s, size, 28, size, K_COORD, 4);
        break;
    case EMR_POLYBEZIER16: case EMR_POLYGON16: case EMR_POLYLINE16: case EMR_POLYBEZIERTO16:
    case EMR_POLYLINETO16:
        Add(s, size, 8, 4, K_COORD, 4);
        Add(s, size, 28, size, K_COORD, 2);
        break;
    case EMR_POLYPOLYLINE: case EMR_POLYPOLYGON: case EMR_POLYPOLYLINE16:
    case EMR_POLYPOLYGON16: {
        bool small = type == EMR_POLYPOLYLINE16 || type == EMR_POLYPOLYGON16;
        Add(s, size, 8, 4, K_COORD, 4);
        Add(s, size, 32 + 4 * (uint64_t)Field(r, size, 24), size, K_COORD, small ? 2 : 4);
        break;
    }
    case EMR_POLYDRAW:
        Add(s, size, 8, 4, K_COORD, 4);
        Add(s, size, 28, 2 * (uint64_t)Field(r, size, 24), K_COORD, 4);
        break;
    case EMR_POLYDRAW16:
        Add(s, size, 8, 4, K_COORD, 4);
        Add(s, size, 28, 2 * (uint64_t)Field(r, size, 24), K_COORD, 2);
        break;
    case EMR_SETWORLDTRANSFORM: case EMR_MODIFYWORLDTRANSFORM:
        Add(s, size, 8, 6, K_XFORM, 4);
        break;
    case EMR_SETMITERLIMIT:
        Add(s, size, 8, 1, K_MITER, 4);
        break;
    case EMR_CREATEPEN:
        Add(s, size, 16, 2, K_SIZE, 4);
        break;
    case EMR_EXTCREATEPEN:
        Add(s, size, 32, 1, K_SIZE, 4);
        break;
    case EMR_EXTCREATEFONTINDIRECTW:
        Add(s, size, 12, 2, K_FONT, 4);
        break;
    case EMR_FILLRGN:   // the region's bounding box and rectangles
        Add(s, size, 8, 4, K_COORD, 4);
        Add(s, size, 48, size, K_COORD, 4);
        break;
    case EMR_FRAMERGN:
        Add(s, size, 8, 4, K_COORD, 4);
        Add(s, size, 32, 2, K_SIZE, 4);
        Add(s, size, 56, size, K_COORD, 4);
        break;
    case EMR_INVERTRGN: case EMR_PAINTRGN:
        Add(s, size, 8, 4, K_COORD, 4);
        Add(s, size, 44, size, K_COORD, 4);
        break;
    case EMR_EXTSELECTCLIPRGN:
        Add(s, size, 32, size, K_COORD, 4);
        break;
    case EMR_BITBLT: case EMR_STRETCHBLT: case EMR_MASKBLT: case EMR_ALPHABLEND:
    case EMR_TRANSPARENTBLT:
        Add(s, size, 8, 8, K_COORD, 4);   // bounds and destination
        Add(s, size, 44, 2, K_COORD, 4);
        Add(s, size, 52, 6, K_XFORM, 4);
        if (type != EMR_BITBLT)
            Add(s, size, 100, 2, K_COORD, 4);   // source size or mask origin
        break;
    case EMR_PLGBLT:
        Add(s, size, 8, 10, K_COORD, 4);   // bounds and the three corners
        Add(s, size, 48, 4, K_COORD, 4);
        Add(s, size, 64, 6, K_XFORM, 4);
        Add(s, size, 112, 2, K_COORD, 4);
        break;
    case EMR_SETDIBITSTODEVICE:
        Add(s, size, 8, 10, K_COORD, 4);
        break;
    case EMR_STRETCHDIBITS:
        Add(s, size, 8, 10, K_COORD, 4);
        Add(s, size, 72, 2, K_COORD, 4);
        break;
    case EMR_EXTTEXTOUTA: case EMR_EXTTEXTOUTW:
        Add(s, size, 8, 4, K_COORD, 4);
        Add(s, size, 28, 2, K_TEXTSCALE, 4);
        EmrTextSpans(r, size, 36, 76, s);
        break;
    case EMR_POLYTEXTOUTA: case EMR_POLYTEXTOUTW: {
        Add(s, size, 8, 4, K_COORD, 4);
        Add(s, size, 28, 2, K_TEXTSCALE, 4);
        uint64_t strings = Field(r, size, 36), end = 40 + 40 * strings;
        for (uint64_t i = 0; i < strings && 80 + 40 * i <= size; i++)
            EmrTextSpans(r, size, (uint32_t)(40 + 40 * i), end > size ? size : (uint32_t)end, s);
        break;
    }
    case 108:   // EMR_SMALLTEXTOUT
        Add(s, size, 8, 2, K_COORD, 4);
        Add(s, size, 28, 2, K_TEXTSCALE, 4);
        if (!(Field(r, size, 20) & 0x100))   // ETO_NO_RECT
            Add(s, size, 36, 4, K_COORD, 4);
        break;
    case EMR_GRADIENTFILL: {
        Add(s, size, 8, 4, K_COORD, 4);
        uint64_t vertices = Field(r, size, 24);
        for (uint64_t i = 0; i < vertices && 44 + 16 * i <= size; i++)
            Add(s, size, 36 + 16 * i, 2, K_COORD, 4);
        break;
    }
    case 120:   // EMR_SETTEXTJUSTIFICATION: the extra space
        Add(s, size, 8, 1, K_SPACING, 4);
        break;
    default:
        break;
    }
}

static void WmfSpans(const uint8_t *r, uint32_t size, Spans &s)
{
    uint32_t function = Le16(r + 4), words = (size - 6) / 2;
    auto word = [&](uint32_t i) -> uint32_t { return i < words ? Le16(r + 6 + 2 * i) : 0; };
    auto add = [&](uint64_t i, uint64_t n, int kind) { Add(s, size, 6 + 2 * i, n, kind, 2, true); };
    switch (function) {
    case META_SETWINDOWORG: case META_SETVIEWPORTORG: case META_OFFSETWINDOWORG:
    case META_OFFSETVIEWPORTORG: case META_LINETO: case META_MOVETO: case META_OFFSETCLIPRGN:
        add(0, 2, K_WMFCOORD);
        break;
    case META_SETWINDOWEXT:
        add(0, 2, K_WMFWINEXT);
        break;
    case META_SETVIEWPORTEXT:
        add(0, 2, K_VPEXT);
        break;
    case META_SCALEWINDOWEXT:
        add(0, 4, K_SCALEWIN);
        break;
    case META_SCALEVIEWPORTEXT:
        add(0, 4, K_SCALEVP);
        break;
    case META_EXCLUDECLIPRECT: case META_INTERSECTCLIPRECT: case META_ELLIPSE:
    case META_RECTANGLE:
        add(0, 4, K_WMFCOORD);
        break;
    case META_ROUNDRECT:
        add(0, 6, K_WMFCOORD);
        break;
    case META_ARC: case META_PIE: case META_CHORD:
        add(0, 8, K_WMFCOORD);
        break;
    case META_PATBLT:
        add(2, 4, K_WMFCOORD);
        break;
    case META_FLOODFILL: case META_SETPIXEL: case META_FRAMEREGION:
        add(2, 2, K_WMFCOORD);
        break;
    case META_EXTFLOODFILL:
        add(3, 2, K_WMFCOORD);
        break;
    case META_SETTEXTCHAREXTRA:
        add(0, 1, K_WMFSPACING);
        break;
    case META_SETTEXTJUSTIFICATION:
        add(1, 1, K_WMFSPACING);
        break;
    case META_TEXTOUT:
        add(1 + ((uint64_t)word(0) + 1) / 2, 2, K_WMFCOORD);
        break;
    case META_EXTTEXTOUT: {
        uint32_t chars = word(2), options = word(3);
        uint64_t at = 4;
        add(0, 2, K_WMFCOORD);
        if (options & (ETO_OPAQUE | ETO_CLIPPED)) {
            add(4, 4, K_WMFCOORD);
            at = 8;
        }
        add(at + (chars + 1) / 2, (uint64_t)chars * (options & ETO_PDY ? 2 : 1), K_WMFSPACING);
        break;
    }
    case META_POLYGON: case META_POLYLINE:
        add(1, words, K_WMFCOORD);
        break;
    case META_POLYPOLYGON:
        add(1 + (uint64_t)word(0), words, K_WMFCOORD);
        break;
    case META_BITBLT: case META_DIBBITBLT:
        if (words == function >> 8) {   // no bitmap: a reserved word before the size
            add(2, 2, K_WMFCOORD);
            add(5, 4, K_WMFCOORD);
        } else {
            add(2, 6, K_WMFCOORD);
        }
        break;
    case META_STRETCHBLT: case META_DIBSTRETCHBLT:
        if (words == function >> 8) {
            add(2, 4, K_WMFCOORD);
            add(7, 4, K_WMFCOORD);
        } else {
            add(2, 8, K_WMFCOORD);
        }
        break;
    case META_SETDIBTODEV:
        add(3, 6, K_WMFCOORD);
        break;
    case META_STRETCHDIB:
        add(3, 8, K_WMFCOORD);
        break;
    case META_CREATEPENINDIRECT:
        add(1, 2, K_WMFCOORD);
        break;
    case META_CREATEFONTINDIRECT:
        add(0, 2, K_WMFFONT);
        break;
    case META_CREATEREGION: {
        add(7, 4, K_WMFCOORD);
        // Scans: a count, top, bottom, that many x coordinates, the count.
        uint64_t at = 11;
        while (at < words) {
            uint64_t xs = word((uint32_t)at);
            if (at + xs + 4 > words)
                break;
            add(at + 1, xs + 2, K_WMFCOORD);
            at += xs + 4;
        }
        break;
    }
    default:
        break;
    }
}

static void RecordSpans(bool wmf, const Bytes &r, Spans &s)
{
    s.clear();
    if (wmf)
        WmfSpans(At(r, 0), (uint32_t)r.size(), s);
    else
        EmfSpans(At(r, 0), (uint32_t)r.size(), s);
}

// ---- Keeping those fields small ------------------------------------------

static int64_t ReadSigned(const uint8_t *p, int width)
{
    return width == 2 ? (int64_t)(int16_t)Le16(p) : (int64_t)(int32_t)Le32(p);
}

static void WriteValue(uint8_t *p, int width, int64_t v)
{
    if (width == 2)
        Put16(p, (uint32_t)v);
    else
        Put32(p, (uint32_t)v);
}

static float ReadFloat(const uint8_t *p)
{
    uint32_t bits = Le32(p);
    float f;
    memcpy(&f, &bits, 4);
    return f;
}

static void WriteFloat(uint8_t *p, float f)
{
    uint32_t bits;
    memcpy(&bits, &f, 4);
    Put32(p, bits);
}

// Into lo..hi, wrapping around; a value inside stays as it is.
static int64_t Fold(int64_t v, int64_t lo, int64_t hi)
{
    if (v >= lo && v <= hi)
        return v;
    int64_t span = hi - lo + 1, m = (v - lo) % span;
    return lo + (m < 0 ? m + span : m);
}

// A magnitude into lo..hi keeping the sign.
static int64_t FoldMagnitude(int64_t v, int64_t lo, int64_t hi)
{
    int64_t m = v < 0 ? -v : v;
    if (m >= lo && m <= hi)
        return v;
    m = lo + m % (hi - lo + 1);
    return v < 0 ? -m : m;
}

static float FoldFloat(float f, float limit, float otherwise)
{
    return f >= -limit && f <= limit ? f : otherwise;   // NaN gives `otherwise`
}

static void ClampTransform(uint8_t *p)
{
    float m[6];
    for (int i = 0; i < 6; i++) {
        m[i] = ReadFloat(p + 4 * i);
        if (!isfinite(m[i]))
            m[i] = 0;
    }
    for (int row = 0; row < 2; row++) {
        float sum = fabsf(m[2 * row]) + fabsf(m[2 * row + 1]);
        if (sum > 1) {
            m[2 * row] /= sum;
            m[2 * row + 1] /= sum;
        }
    }
    m[4] = FoldFloat(m[4], 2048, 0);
    m[5] = FoldFloat(m[5], 2048, 0);
    for (int i = 0; i < 6; i++)
        if (m[i] != ReadFloat(p + 4 * i))
            WriteFloat(p + 4 * i, m[i]);
}

static void ClampSpan(uint8_t *r, const Span &sp)
{
    int w = sp.width;
    for (uint32_t at = sp.at; at < sp.at + sp.bytes;) {
        uint8_t *p = r + at;
        int64_t v = ReadSigned(p, w), out = v;
        switch (sp.kind) {
        case K_COORD: out = Fold(v, -2048, 2048); break;
        case K_SIZE: {
            int64_t u = w == 2 ? Le16(p) : Le32(p);
            out = u > 2048 ? u % 2049 : u;
            break;
        }
        case K_SPACING: out = Fold(v, -256, 256); break;
        case K_FONT: out = Fold(v, -1024, 1024); break;
        case K_WINEXT: out = FoldMagnitude(v, 16, 32767); break;
        case K_WMFCOORD: out = Fold(v, -4096, 4096); break;
        case K_WMFWINEXT: out = FoldMagnitude(v, 64, 32767); break;
        case K_WMFSPACING: case K_WMFFONT: out = Fold(v, -1024, 1024); break;
        case K_VPEXT: out = FoldMagnitude(v, 1, 16); break;
        case K_SCALEWIN: case K_SCALEVP: {
            // Magnitudes 1..8; a window's scaling only grows it, a
            // viewport's only shrinks it. Signs stay where they are.
            uint8_t *num = sp.denominatorFirst ? p + w : p, *den = sp.denominatorFirst ? p : p + w;
            int64_t nv = ReadSigned(num, w), dv = ReadSigned(den, w);
            int64_t nm = llabs(FoldMagnitude(nv, 1, 8)), dm = llabs(FoldMagnitude(dv, 1, 8));
            if (sp.kind == K_SCALEWIN ? nm < dm : nm > dm) {
                int64_t t = nm;
                nm = dm;
                dm = t;
            }
            int64_t n = nv < 0 ? -nm : nm, d = dv < 0 ? -dm : dm;
            if (n != nv)
                WriteValue(num, w, n);
            if (d != dv)
                WriteValue(den, w, d);
            at += 2 * w;
            continue;
        }
        case K_XFORM:
            ClampTransform(p);
            at += 24;
            continue;
        case K_TEXTSCALE: case K_ANGLE: case K_MITER: {
            float f = ReadFloat(p), g = f;
            if (sp.kind == K_TEXTSCALE)
                g = FoldFloat(f, 32, 1);
            else if (sp.kind == K_ANGLE)
                g = FoldFloat(f, 720, 0);
            else
                g = f >= 0 && f <= 16 ? f : 10;
            if (!(g == f))
                WriteFloat(p, g);
            at += 4;
            continue;
        }
        default: break;   // K_KEEP
        }
        if (out != v)
            WriteValue(p, w, out);
        at += w;
    }
}

static void ClampRecords(Metafile &m)
{
    Spans s;
    for (Bytes &r : m.records) {
        RecordSpans(m.wmf, r, s);
        for (const Span &sp : s)
            ClampSpan(At(r, 0), sp);
    }
}

// ---- Changes ---------------------------------------------------------------

static const uint32_t kEdges[] = {
    0, 1, 2, 3, 4, 7, 8, 15, 16, 0x7F, 0x80, 0xFF, 0x100, 0x7FFF, 0x8000, 0x8001,
    0xFFFF, 0x10000, 0x10001, 0x00FFFFFF, 0x01000000, 0x0FFFFFFF, 0x10000000, 0x1FFFFFFF,
    0x20000000, 0x3FFFFFFF, 0x40000000, 0x40000001, 0x7FFFFFFE, 0x7FFFFFFF, 0x80000000,
    0x80000001, 0xFFFFFFFE, 0xFFFFFFFF};

// An edge value for a field of `width` bytes holding `current`, in a record
// of `recordBytes` of a file of `fileBytes`.
static uint32_t EdgeValue(Rng &g, uint32_t current, uint32_t recordBytes, uint32_t fileBytes,
                          int width)
{
    static const int32_t nearby[] = {0, 1, -1, 2, -2, 3, -3, 4, -4, 8, -8, 16, -16};
    uint32_t v;
    switch (Below(g, 7)) {
    case 0: case 1: case 2:
        v = kEdges[Below(g, sizeof kEdges / sizeof kEdges[0])];
        if (width < 4 && Below(g, 2))   // the top values of a short field
            v = v >= 0x80000000 ? v >> (32 - 8 * width) : v;
        break;
    case 3: {   // the record's or the file's size, in bytes or words, and near it
        uint32_t sizes[] = {recordBytes, recordBytes / 2, recordBytes / 4, fileBytes,
                            fileBytes / 2};
        v = sizes[Below(g, 5)] + nearby[Below(g, sizeof nearby / sizeof nearby[0])];
        break;
    }
    case 4:
        v = Below(g, 33);   // small counts
        break;
    case 5: {   // near what is there
        uint32_t top = width == 1 ? 0x80 : width == 2 ? 0x8000 : 0x80000000;
        uint32_t around[] = {current + 1, current - 1, current + 2, current - 4, current * 2,
                            current | top, current + 0x10000, current * 16};
        v = around[Below(g, 8)];
        break;
    }
    default:
        v = (uint32_t)Next(g);
        break;
    }
    return width == 4 ? v : width == 2 ? (v & 0xFFFF) : (v & 0xFF);
}

static bool Overlaps(const Spans &s, uint32_t at, uint32_t width)
{
    for (const Span &sp : s)
        if (at < sp.at + sp.bytes && sp.at < at + width)
            return true;
    return false;
}

static void WriteWidth(uint8_t *p, int width, uint32_t v)
{
    if (width == 1)
        *p = (uint8_t)v;
    else if (width == 2)
        Put16(p, v);
    else
        Put32(p, v);
}

static uint32_t ReadWidth(const uint8_t *p, int width)
{
    return width == 1 ? *p : width == 2 ? Le16(p) : Le32(p);
}

// An edge value in one field of the record: mostly among its first bytes,
// where the fixed fields and bitmap headers are, not its pixels.
static bool ChangeField(Rng &g, bool wmf, Bytes &r, uint32_t fileBytes)
{
    uint32_t head = wmf ? 6 : 8, size = (uint32_t)r.size();
    if (size <= head)
        return false;
    Spans s;
    RecordSpans(wmf, r, s);
    for (int tries = 0; tries < 8; tries++) {
        uint32_t pick = Below(g, 10);
        int width = wmf ? (pick < 6 ? 2 : 4) : (pick < 6 ? 4 : pick < 9 ? 2 : 1);
        uint32_t limit = size;
        if (Below(g, 10) < 7 && limit > head + 160)
            limit = head + 160;
        uint32_t align = wmf ? 2 : width;
        uint32_t at = head + Below(g, limit - head);
        at -= at % align;
        if (at < head || at + width > size || Overlaps(s, at, width))
            continue;
        uint8_t *p = At(r, at);
        WriteWidth(p, width, EdgeValue(g, ReadWidth(p, width), size, fileBytes, width));
        return true;
    }
    return false;
}

// A small value in a coordinate or an extent, or an odd one in a transform
// (the clamp afterwards keeps it in range).
static bool ChangeCoordinate(Rng &g, bool wmf, Bytes &r)
{
    Spans s;
    RecordSpans(wmf, r, s);
    if (s.empty())
        return false;
    const Span &sp = s[Below(g, (uint32_t)s.size())];
    if (sp.kind == K_XFORM || sp.kind == K_TEXTSCALE || sp.kind == K_ANGLE ||
        sp.kind == K_MITER || sp.kind == K_KEEP) {
        static const float values[] = {0, 1, -1, 0.5f, -0.25f, 2, 100, -1e30f};
        uint32_t at = sp.at + 4 * Below(g, sp.bytes / 4);
        WriteFloat(At(r, at), values[Below(g, 8)]);
        return true;
    }
    uint32_t at = sp.at + sp.width * Below(g, sp.bytes / sp.width);
    static const int32_t values[] = {0, 1, -1, 2, -2, 16, -16, 100, 2048, -2048, 0x7FFF};
    int64_t v = Below(g, 2) ? values[Below(g, 11)] : (int64_t)Below(g, 4097) - 2048;
    WriteValue(At(r, at), sp.width, v);
    return true;
}

static const uint16_t kWmfFunctions[] = {
    0x0000, META_SETBKCOLOR, META_SETBKMODE, META_SETMAPMODE, META_SETROP2, META_SETRELABS,
    META_SETPOLYFILLMODE, META_SETSTRETCHBLTMODE, META_SETTEXTCHAREXTRA, META_SETTEXTCOLOR,
    META_SETTEXTJUSTIFICATION, META_SETWINDOWORG, META_SETWINDOWEXT, META_SETVIEWPORTORG,
    META_SETVIEWPORTEXT, META_OFFSETWINDOWORG, META_SCALEWINDOWEXT, META_OFFSETVIEWPORTORG,
    META_SCALEVIEWPORTEXT, META_LINETO, META_MOVETO, META_EXCLUDECLIPRECT,
    META_INTERSECTCLIPRECT, META_ARC, META_ELLIPSE, META_FLOODFILL, META_PIE, META_RECTANGLE,
    META_ROUNDRECT, META_PATBLT, META_SAVEDC, META_SETPIXEL, META_OFFSETCLIPRGN, META_TEXTOUT,
    META_BITBLT, META_STRETCHBLT, META_POLYGON, META_POLYLINE, META_ESCAPE, META_RESTOREDC,
    META_FILLREGION, META_FRAMEREGION, META_INVERTREGION, META_PAINTREGION,
    META_SELECTCLIPREGION, META_SELECTOBJECT, META_SETTEXTALIGN, META_CHORD,
    META_SETMAPPERFLAGS, META_EXTTEXTOUT, META_SETDIBTODEV, META_SELECTPALETTE,
    META_REALIZEPALETTE, META_ANIMATEPALETTE, META_SETPALENTRIES, META_POLYPOLYGON,
    META_RESIZEPALETTE, META_DIBBITBLT, META_DIBSTRETCHBLT, META_DIBCREATEPATTERNBRUSH,
    META_STRETCHDIB, META_EXTFLOODFILL, META_SETLAYOUT, META_DELETEOBJECT, META_CREATEPALETTE,
    META_CREATEPATTERNBRUSH, META_CREATEPENINDIRECT, META_CREATEFONTINDIRECT,
    META_CREATEBRUSHINDIRECT, META_CREATEREGION,
    0x062F,   // DRAWTEXT
    0x00F8,   // CREATEBRUSH
    0x02FD,   // CREATEBITMAPINDIRECT
    0x06FE,   // CREATEBITMAP
};

static void ChangeType(Rng &g, bool wmf, Bytes &r)
{
    if (wmf) {
        uint32_t f = Below(g, 16) ? kWmfFunctions[Below(g, sizeof kWmfFunctions / 2)]
                                  : (uint32_t)Next(g) & 0xFFFF;
        Put16(At(r, 4), f);
    } else {
        static const uint32_t odd[] = {0, 123, 0xFFFF, 0x80000001, 0x10001};
        Put32(At(r, 0), Below(g, 16) ? 1 + Below(g, EMR_MAX) : odd[Below(g, 5)]);
    }
}

// Whole units of the format (WMF words, EMF dwords).
static uint32_t Unit(bool wmf) { return wmf ? 2 : 4; }

static bool CutShort(Rng &g, bool wmf, Bytes &r)
{
    uint32_t head = wmf ? 6 : 8, unit = Unit(wmf);
    if (r.size() <= head)
        return false;
    uint32_t room = (uint32_t)(r.size() - head) / unit, cut;
    switch (Below(g, 5)) {
    case 0: cut = 1; break;
    case 1: cut = 2; break;
    case 2: cut = room; break;   // down to the record's head
    case 3: cut = room > 1 ? room - 1 : 1; break;
    default: cut = 1 + Below(g, room); break;
    }
    if (cut > room)
        cut = room;
    size_t at = Below(g, 10) < 7 ? r.size() - cut * unit
                                 : head + unit * Below(g, room - cut + 1);
    r.erase(at, cut * unit);
    return true;
}

static void Lengthen(Rng &g, bool wmf, Bytes &r)
{
    uint32_t head = wmf ? 6 : 8, unit = Unit(wmf), size = (uint32_t)r.size();
    uint32_t lengths[] = {unit, 2 * unit, 4 * unit, 8 * unit, unit * (1 + Below(g, 16)),
                          size - size % unit};
    uint32_t n = lengths[Below(g, 6)];
    Bytes extra(n, '\0');
    switch (Below(g, 4)) {
    case 0: break;
    case 1: extra.assign(n, '\xFF'); break;
    case 2:
        for (char &c : extra)
            c = (char)Next(g);
        break;
    default:
        for (uint32_t i = 0; i < n; i++)
            extra[i] = r[i % size];
        break;
    }
    size_t at = Below(g, 10) < 6 ? size : head + unit * Below(g, (size - head) / unit + 1);
    r.insert(at, extra);
}

static void ChangeHeader(Rng &g, Metafile &m, uint32_t fileBytes)
{
    if (m.wmf) {
        // Type, header size (rarely), version, object count, parameter count.
        static const uint32_t fields[] = {0, 4, 10, 10, 10, 16, 2};
        uint32_t at = fields[Below(g, Below(g, 8) ? 6 : 7)];
        uint8_t *p = At(m.header, at);
        Put16(p, EdgeValue(g, Le16(p), 18, fileBytes, 2));
        return;
    }
    // Version, handles, reserved, description, palette, pixel format; the
    // signature rarely.
    struct { uint32_t at; int width; } fields[] = {
        {56, 2}, {56, 2}, {56, 2}, {58, 2}, {44, 4}, {60, 4}, {64, 4}, {68, 4}, {68, 4},
        {88, 4}, {92, 4}, {96, 4}, {40, 4}};
    Bytes &h = m.records[0];
    uint32_t pick = Below(g, Below(g, 16) ? 12 : 13);
    if (fields[pick].at + fields[pick].width > h.size())
        return;
    uint8_t *p = At(h, fields[pick].at);
    WriteWidth(p, fields[pick].width,
               EdgeValue(g, ReadWidth(p, fields[pick].width), (uint32_t)h.size(), fileBytes,
                         fields[pick].width));
}

// One change to the metafile; `donors` are the other seeds of its format.
// False when the change found nothing to work on.
static bool ChangeOnce(Rng &g, Metafile &m, const std::vector<const Seed *> &donors,
                       uint32_t fileBytes)
{
    // An EMF's header stays its first record.
    size_t first = m.wmf ? 0 : 1, n = m.records.size();
    if (n <= first) {
        ChangeHeader(g, m, fileBytes);
        return true;
    }
    size_t i = first + Below(g, (uint32_t)(n - first));
    uint32_t pick = Below(g, 100);
    if (pick < 14) {
        ChangeType(g, m.wmf, m.records[i]);
    } else if (pick < 50) {
        return ChangeField(g, m.wmf, m.records[i], fileBytes);
    } else if (pick < 54) {
        return ChangeCoordinate(g, m.wmf, m.records[i]);
    } else if (pick < 61) {
        Bytes copy = m.records[i];
        size_t to = Below(g, 2) ? i + 1 : first + Below(g, (uint32_t)(n - first + 1));
        m.records.insert(m.records.begin() + to, copy);
    } else if (pick < 67) {
        m.records.erase(m.records.begin() + i);
    } else if (pick < 72) {
        Bytes moved = m.records[i];
        m.records.erase(m.records.begin() + i);
        m.records.insert(m.records.begin() + first + Below(g, (uint32_t)(n - first)), moved);
    } else if (pick < 80) {
        return CutShort(g, m.wmf, m.records[i]);
    } else if (pick < 88) {
        // The header too, now and then: what lies after its fields.
        Lengthen(g, m.wmf, m.records[!m.wmf && Below(g, 8) == 0 ? 0 : i]);
    } else if (pick < 94) {
        Metafile d;
        if (donors.empty())
            return false;
        const Seed *donor = donors[Below(g, (uint32_t)donors.size())];
        if (!Split(*donor, donor->bytes, &d) || d.records.size() <= first)
            return false;
        Bytes lent = d.records[first + Below(g, (uint32_t)(d.records.size() - first))];
        if (Below(g, 2))
            m.records[i] = lent;
        else
            m.records.insert(m.records.begin() + first + Below(g, (uint32_t)(n - first + 1)),
                             lent);
    } else {
        ChangeHeader(g, m, fileBytes);
    }
    return true;
}

static void ChangeMany(Rng &g, Metafile &m, const std::vector<const Seed *> &donors,
                       uint32_t fileBytes)
{
    int changes = 1;
    while (changes < 6 && Below(g, 2))
        changes++;
    for (int made = 0, tries = 0; made < changes && tries < 4 * changes; tries++)
        made += ChangeOnce(g, m, donors, fileBytes);
    ClampRecords(m);
}

static std::vector<const Seed *> Donors(const std::vector<Seed> &seeds, size_t which, bool wmf)
{
    std::vector<const Seed *> d;
    for (size_t k = 0; k < seeds.size(); k++)
        if (k != which && seeds[k].wmf == wmf)
            d.push_back(&seeds[k]);
    return d;
}

Bytes MakeInput(const std::vector<Seed> &seeds, size_t which, uint32_t index)
{
    const Seed &seed = seeds[which];
    if (index == 0)
        return seed.bytes;
    Rng g = {((uint64_t)HashName(seed.name) << 32) ^ index};
    Next(g);
    Metafile m;
    if (!Split(seed, seed.bytes, &m))
        return seed.bytes;
    uint32_t fileBytes = (uint32_t)seed.bytes.size();
    if (!seed.wmf) {
        ChangeMany(g, m, Donors(seeds, which, false), fileBytes);
        return JoinEmf(m);
    }
    Bytes emf;
    size_t pieces = 0;
    if (seed.embedded && Below(g, 5) < 3 && TakeEmbedded(m, &emf, &pieces)) {
        // The carried EMF changed as an EMF, then cut into one to three pieces.
        Seed inner = {seed.name, false, false, emf};
        Metafile e;
        if (Split(inner, emf, &e)) {
            ChangeMany(g, e, Donors(seeds, which, false), (uint32_t)emf.size());
            PutEmbedded(m, pieces, JoinEmf(e), 1 + Below(g, 3));
        }
    } else {
        ChangeMany(g, m, Donors(seeds, which, true), fileBytes);
    }
    Bytes body = JoinWmfBody(m);
    if (seed.embedded && Below(g, 8))
        FixEmbeddedChecksum(body);
    return WithPlaceable(m.placeable, body);
}

// ---- Checks on the seeds and the inputs ------------------------------------

static bool ClampKeeps(const Seed &seed, const Bytes &b, std::string *why)
{
    Metafile m, kept;
    if (!Split(seed, b, &m)) {
        *why = seed.name + ": its records do not split";
        return false;
    }
    kept = m;
    ClampRecords(kept);
    for (size_t i = 0; i < m.records.size(); i++) {
        if (m.records[i] != kept.records[i]) {
            const Bytes &r = m.records[i];
            uint32_t type = seed.wmf ? Le16(At(r, 4)) : Le32(At(r, 0));
            size_t at = 0;
            while (r[at] == kept.records[i][at])
                at++;
            char text[160];
            wsprintfA(text, "%s: record %u (type 0x%X) changes at byte %u", seed.name.c_str(),
                      (unsigned)i, type, (unsigned)at);
            *why = text;
            return false;
        }
    }
    return true;
}

bool ClampLeavesSeed(const Seed &seed, std::string *why)
{
    if (!ClampKeeps(seed, seed.bytes, why))
        return false;
    if (!seed.embedded)
        return true;
    Metafile m;
    Bytes emf;
    size_t pieces = 0;
    if (!Split(seed, seed.bytes, &m) || !TakeEmbedded(m, &emf, &pieces)) {
        *why = seed.name + ": no carried EMF";
        return false;
    }
    Seed inner = {seed.name + " (carried EMF)", false, false, emf};
    return ClampKeeps(inner, emf, why);
}

bool Framed(const Seed &seed, const Bytes &b, std::string *why)
{
    Metafile m;
    if (!Split(seed, b, &m)) {
        *why = "records do not fill the metafile";
        return false;
    }
    if (seed.wmf) {
        Bytes body = b.substr(kPlaceable);
        if (Le16(At(b, 20)) != PlaceableChecksum(At(b, 0)))
            *why = "placeable checksum";
        else if (2 * (size_t)Le32(At(body, 6)) != body.size())
            *why = "size in words";
        else if (JoinWmfBody(m).substr(12, 4) != body.substr(12, 4))
            *why = "largest record";
        else
            return true;
        return false;
    }
    if (Le32(At(b, 48)) != b.size())
        *why = "byte count";
    else if (Le32(At(b, 52)) != m.records.size())
        *why = "record count";
    else
        return true;
    return false;
}
