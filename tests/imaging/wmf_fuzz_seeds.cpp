// The pictures the metafile change test starts from, recorded here through
// the platform's own recorders so that they hold exactly what GDI writes:
// five placeable WMFs (shapes and pens, text, bitmaps and palettes,
// regions and clipping, and one that carries an EMF in its comments, as
// GetWinMetaFileBits makes it) and six EMFs (shapes and pens, paths and
// transforms, bitmaps, text, regions and palettes, and stock objects only). Each is a few KB and
// 200 x 100 pixels; coordinates, extents and transforms stay in the ranges
// the changes keep them in (wmf_fuzz_changes.cpp).
#include "wmf_fuzz.h"
#include "../../framework/bytes.h"
#include <windows.h>
#include <string.h>

extern "C" int WINAPI SetRelAbs(HDC dc, int mode);

static uint8_t *At(Bytes &b, size_t at) { return (uint8_t *)&b[at]; }

// ---- Bitmaps ----------------------------------------------------------------

// A packed DIB of w x h at `bpp` with a grey colour table where it has one;
// pixels of a simple pattern. Compressed ones hold one run per row. The
// table's size is stated: Wine's EMF recorder, which also converts every
// WMF, sizes the table it copies by the stated count but copies a full one,
// past its block, when the count is 0.
static Bytes Dib(int w, int h, int bpp, uint32_t compression = BI_RGB)
{
    uint32_t colours = bpp <= 8 ? 1u << bpp : 0, masks = compression == BI_BITFIELDS ? 3 : 0;
    uint32_t stride = ((uint32_t)w * bpp + 31) / 32 * 4;
    Bytes bits;
    if (compression == BI_RLE8 || compression == BI_RLE4) {
        for (int y = 0; y < h; y++) {
            bits += (char)w;
            bits += (char)(compression == BI_RLE8 ? y * 37 : 0x12 + y);
            bits += Bytes(2, '\0');   // end of line
        }
        bits += '\0';
        bits += '\1';   // end of bitmap
        bits.resize((bits.size() + 3) / 4 * 4, '\0');   // whole dwords, as a record needs
    } else {
        bits.assign(stride * h, '\0');
        for (size_t i = 0; i < bits.size(); i++)
            bits[i] = (char)(i * 29 + (i / stride) * 71);
    }
    BITMAPINFOHEADER head = {sizeof head, w, h, 1, (WORD)bpp, compression,
                             (DWORD)bits.size(), 0, 0, colours, 0};
    Bytes b((const char *)&head, sizeof head);
    for (uint32_t i = 0; i < colours; i++) {
        uint8_t v = (uint8_t)(colours > 1 ? i * 255 / (colours - 1) : 0);
        RGBQUAD q = {v, (uint8_t)(255 - v), (uint8_t)(v / 2), 0};
        b += Bytes((const char *)&q, 4);
    }
    if (masks) {
        uint32_t m[3] = {bpp == 16 ? 0xF800u : 0xFF0000u, bpp == 16 ? 0x07E0u : 0xFF00u,
                         bpp == 16 ? 0x001Fu : 0xFFu};
        b += Bytes((const char *)m, 12);
    }
    return b + bits;
}

static size_t DibHeaderBytes(const Bytes &dib)
{
    const BITMAPINFOHEADER *h = (const BITMAPINFOHEADER *)dib.data();
    uint32_t colours = h->biBitCount <= 8 ? 1u << h->biBitCount : 0;
    return h->biSize + 4 * colours + (h->biCompression == BI_BITFIELDS ? 12 : 0);
}

// The same DIB with a colour table of palette indices (DIB_PAL_COLORS).
static Bytes PaletteIndexDib(int w, int h, int bpp)
{
    Bytes rgb = Dib(w, h, bpp);
    uint32_t colours = 1u << bpp;
    Bytes b = rgb.substr(0, sizeof(BITMAPINFOHEADER));
    for (uint32_t i = 0; i < colours; i++) {
        uint16_t index = (uint16_t)(i % 4);
        b += Bytes((const char *)&index, 2);
    }
    if (b.size() % 4)
        b += Bytes(2, '\0');
    return b + rgb.substr(DibHeaderBytes(rgb));
}

static void StretchDib(HDC dc, int x, int y, int w, int h, const Bytes &dib, UINT usage,
                       size_t headerBytes, DWORD rop = SRCCOPY)
{
    const BITMAPINFOHEADER *head = (const BITMAPINFOHEADER *)dib.data();
    StretchDIBits(dc, x, y, w, h, 0, 0, head->biWidth, head->biHeight, dib.data() + headerBytes,
                  (const BITMAPINFO *)dib.data(), usage, rop);
}

// A memory DC holding a 16 x 16 bitmap of two colours, for the blits.
struct Source {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
};

static Source MakeSource(int bpp)
{
    Source s;
    HDC screen = GetDC(0);
    s.dc = CreateCompatibleDC(screen);
    ReleaseDC(0, screen);
    if (bpp == 1) {
        s.bitmap = CreateBitmap(16, 16, 1, 1, 0);
    } else {
        BITMAPINFOHEADER h = {sizeof h, 16, 16, 1, (WORD)bpp, BI_RGB, 0, 0, 0, 0, 0};
        void *bits = 0;
        s.bitmap = CreateDIBSection(s.dc, (BITMAPINFO *)&h, DIB_RGB_COLORS, &bits, 0, 0);
        if (bpp == 32 && bits)
            for (int i = 0; i < 256; i++)   // premultiplied, alpha rising to the right
                ((uint32_t *)bits)[i] = (uint32_t)((i % 16) * 16) << 24 | (i % 16) * 8;
    }
    s.old = SelectObject(s.dc, s.bitmap);
    RECT all = {0, 0, 16, 16}, half = {0, 0, 8, 16};
    if (bpp != 32) {
        FillRect(s.dc, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
        FillRect(s.dc, &half, (HBRUSH)GetStockObject(BLACK_BRUSH));
    }
    return s;
}

static void FreeSource(Source &s)
{
    SelectObject(s.dc, s.old);
    DeleteObject(s.bitmap);
    DeleteDC(s.dc);
}

static HBRUSH MonoBrush()
{
    static const WORD checks[8] = {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55};
    HBITMAP mono = CreateBitmap(8, 8, 1, 1, checks);
    HBRUSH brush = CreatePatternBrush(mono);
    DeleteObject(mono);
    return brush;
}

static HPALETTE MakePalette(int entries)
{
    struct {
        WORD version, count;
        PALETTEENTRY e[16];
    } lp = {0x300, (WORD)entries, {}};
    for (int i = 0; i < entries; i++)
        lp.e[i] = {(BYTE)(i * 16), (BYTE)(255 - i * 16), (BYTE)(i * 8), 0};
    return CreatePalette((LOGPALETTE *)&lp);
}

// Sets the object, runs nothing else; the caller deletes what `Use` gave.
static HGDIOBJ Use(HDC dc, HGDIOBJ object)
{
    SelectObject(dc, object);
    return object;
}

static void Forget(HDC dc, HGDIOBJ object)
{
    SelectObject(dc, GetStockObject(GetObjectType(object) == OBJ_PEN ? BLACK_PEN
                                    : GetObjectType(object) == OBJ_FONT ? SYSTEM_FONT
                                                                        : WHITE_BRUSH));
    DeleteObject(object);
}

// ---- What the seeds draw (`u` logical units a pixel) --------------------------

static void DrawPensAndShapes(HDC dc, int u, bool emf)
{
    static const int styles[] = {PS_SOLID, PS_DASH, PS_DOT, PS_DASHDOT, PS_DASHDOTDOT,
                                 PS_NULL, PS_INSIDEFRAME};
    for (int i = 0; i < 7; i++) {
        HGDIOBJ pen = Use(dc, CreatePen(styles[i], i == 6 ? 3 * u : 1, RGB(30 * i, 0, 200)));
        MoveToEx(dc, 4 * u, (4 + 4 * i) * u, 0);
        LineTo(dc, 60 * u, (4 + 4 * i) * u);
        Forget(dc, pen);
    }
    LOGBRUSH hatch = {BS_HATCHED, RGB(0, 120, 0), HS_DIAGCROSS};
    LOGBRUSH solid = {BS_SOLID, RGB(200, 0, 0), 0};
    DWORD dashes[4] = {(DWORD)(6 * u), (DWORD)(2 * u), (DWORD)u, (DWORD)(2 * u)};
    HPEN ext[] = {
        ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND | PS_JOIN_BEVEL, 5 * u, &solid, 0, 0),
        ExtCreatePen(PS_GEOMETRIC | PS_DASH | PS_ENDCAP_SQUARE | PS_JOIN_MITER, 3 * u, &hatch, 0, 0),
        ExtCreatePen(PS_COSMETIC | PS_ALTERNATE, 1, &solid, 0, 0),
        ExtCreatePen(PS_GEOMETRIC | PS_USERSTYLE | PS_ENDCAP_FLAT, 2 * u, &solid, 4, dashes)};
    for (int i = 0; i < 4; i++) {
        Use(dc, ext[i]);
        MoveToEx(dc, 66 * u, (4 + 6 * i) * u, 0);
        LineTo(dc, 130 * u, (8 + 6 * i) * u);
        Forget(dc, ext[i]);
    }
    HGDIOBJ pen = Use(dc, CreatePen(PS_SOLID, 2 * u, RGB(0, 0, 0)));
    HGDIOBJ brushes[] = {CreateSolidBrush(RGB(250, 200, 0)), CreateHatchBrush(HS_CROSS, RGB(0, 0, 255)),
                         CreateBrushIndirect(&hatch), MonoBrush(), GetStockObject(NULL_BRUSH)};
    SetBkColor(dc, RGB(255, 255, 200));
    SetBkMode(dc, OPAQUE);
    SetROP2(dc, R2_COPYPEN);
    SelectObject(dc, brushes[0]);
    Rectangle(dc, 4 * u, 34 * u, 34 * u, 54 * u);
    SelectObject(dc, brushes[1]);
    RoundRect(dc, 38 * u, 34 * u, 68 * u, 54 * u, 8 * u, 6 * u);
    SelectObject(dc, brushes[2]);
    Ellipse(dc, 72 * u, 34 * u, 102 * u, 54 * u);
    SelectObject(dc, brushes[3]);
    Chord(dc, 106 * u, 34 * u, 136 * u, 54 * u, 136 * u, 44 * u, 106 * u, 44 * u);
    Pie(dc, 140 * u, 34 * u, 170 * u, 54 * u, 170 * u, 40 * u, 150 * u, 34 * u);
    SelectObject(dc, brushes[4]);
    Arc(dc, 172 * u, 34 * u, 196 * u, 54 * u, 196 * u, 44 * u, 172 * u, 44 * u);
    SelectObject(dc, brushes[0]);
    SetPolyFillMode(dc, WINDING);
    POINT star[5] = {{20 * u, 58 * u}, {30 * u, 90 * u}, {4 * u, 70 * u}, {36 * u, 70 * u},
                     {10 * u, 90 * u}};
    Polygon(dc, star, 5);
    SetPolyFillMode(dc, ALTERNATE);
    Polyline(dc, star, 4);
    POINT two[7] = {{44 * u, 60 * u}, {64 * u, 60 * u}, {54 * u, 80 * u}, {44 * u, 84 * u},
                    {64 * u, 84 * u}, {64 * u, 96 * u}, {44 * u, 96 * u}};
    INT counts[2] = {3, 4};
    PolyPolygon(dc, two, counts, 2);
    SetROP2(dc, R2_XORPEN);
    Rectangle(dc, 50 * u, 70 * u, 60 * u, 90 * u);
    SetROP2(dc, R2_COPYPEN);
    for (int i = 0; i < 6; i++)
        SetPixel(dc, (70 + i) * u, 60 * u, RGB(255, 0, 40 * i));
    Rectangle(dc, 70 * u, 64 * u, 90 * u, 84 * u);
    SelectObject(dc, brushes[1]);
    FloodFill(dc, 80 * u, 74 * u, RGB(0, 0, 0));
    ExtFloodFill(dc, 80 * u, 74 * u, RGB(0, 0, 255), FLOODFILLSURFACE);
    if (emf) {
        SetArcDirection(dc, AD_CLOCKWISE);
        Arc(dc, 94 * u, 60 * u, 120 * u, 80 * u, 94 * u, 70 * u, 120 * u, 70 * u);
        SetArcDirection(dc, AD_COUNTERCLOCKWISE);
        SetMiterLimit(dc, 4.0f, 0);
        MoveToEx(dc, 124 * u, 70 * u, 0);
        AngleArc(dc, 134 * u, 70 * u, 10 * u, 30.0f, 270.0f);
        ArcTo(dc, 146 * u, 60 * u, 166 * u, 80 * u, 166 * u, 70 * u, 146 * u, 70 * u);
        POINT bez[7] = {{100 * u, 84 * u}, {110 * u, 98 * u}, {120 * u, 80 * u},
                        {130 * u, 96 * u}, {140 * u, 82 * u}, {150 * u, 98 * u},
                        {160 * u, 86 * u}};
        PolyBezier(dc, bez, 4);
        MoveToEx(dc, 100 * u, 90 * u, 0);
        PolyBezierTo(dc, bez + 1, 6);
        PolylineTo(dc, star, 3);
        BYTE types[5] = {PT_MOVETO, PT_LINETO, PT_BEZIERTO, PT_BEZIERTO,
                         PT_BEZIERTO | PT_CLOSEFIGURE};
        PolyDraw(dc, bez, types, 5);
        DWORD lines[2] = {3, 4};
        PolyPolyline(dc, two, lines, 2);
        SetPixelV(dc, 198 * u, 98 * u, RGB(1, 2, 3));
    }
    if (!emf) {
        // The mapping calls of a 16-bit metafile; its window never shrinks
        // below 1024 units, its viewport never grows past 16.
        SaveDC(dc);
        SetRelAbs(dc, ABSOLUTE);
        SetViewportOrgEx(dc, 2, 1, 0);
        OffsetWindowOrgEx(dc, -10 * u, -5 * u, 0);
        OffsetViewportOrgEx(dc, 1, 1, 0);
        ScaleWindowExtEx(dc, 3, 2, 2, 1, 0);
        Ellipse(dc, 150 * u, 60 * u, 190 * u, 90 * u);
        SetViewportExtEx(dc, 16, 8, 0);
        ScaleViewportExtEx(dc, 1, 2, 1, 1, 0);
        Rectangle(dc, 150 * u, 60 * u, 190 * u, 90 * u);
        SetMapMode(dc, MM_TEXT);
        Rectangle(dc, 150, 60, 190, 90);
        RestoreDC(dc, -1);
    }
    SetMapperFlags(dc, 1);
    SetLayout(dc, LAYOUT_RTL);
    Rectangle(dc, 180 * u, 4 * u, 190 * u, 14 * u);
    SetLayout(dc, 0);
    Forget(dc, pen);
    for (HGDIOBJ b : brushes)
        DeleteObject(b);
}

static void DrawWords(HDC dc, int u, bool emf)
{
    HFONT fonts[] = {
        CreateFontA(-14 * u, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0, NONANTIALIASED_QUALITY,
                    0, "Arial"),
        CreateFontA(-12 * u, 5 * u, 300, 300, FW_NORMAL, TRUE, TRUE, TRUE, DEFAULT_CHARSET,
                    OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, FIXED_PITCH, "Courier New"),
        CreateFontW(-10 * u, 0, 0, 0, FW_LIGHT, 0, 0, 0, SYMBOL_CHARSET, 0, 0, 0, 0, L"Symbol")};
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 160));
    SelectObject(dc, fonts[0]);
    TextOutA(dc, 2 * u, 2 * u, "Veltaspar", 9);
    TextOutW(dc, 100 * u, 2 * u, L"Erde \x263C", 6);
    SetTextAlign(dc, TA_CENTER | TA_BASELINE);
    INT dx[6] = {9 * u, 10 * u, 11 * u, 12 * u, 9 * u, 8 * u};
    ExtTextOutA(dc, 50 * u, 34 * u, 0, 0, "Planet", 6, dx);
    SetTextAlign(dc, TA_LEFT | TA_TOP);
    SelectObject(dc, fonts[1]);
    RECT box = {100 * u, 22 * u, 190 * u, 40 * u};
    SetBkColor(dc, RGB(220, 255, 220));
    ExtTextOutW(dc, 102 * u, 24 * u, ETO_OPAQUE, &box, L"opaque", 6, 0);
    RECT clip = {4 * u, 40 * u, 40 * u, 52 * u};
    ExtTextOutA(dc, 2 * u, 40 * u, ETO_CLIPPED, &clip, "clipped away", 12, 0);
    POLYTEXTA pa[2] = {{4 * u, 60 * u, 3, "one", 0, {0, 0, 0, 0}, 0},
                       {40 * u, 60 * u, 3, "two", ETO_OPAQUE, {40 * u, 60 * u, 70 * u, 74 * u}, 0}};
    PolyTextOutA(dc, pa, 2);
    INT wdx[3] = {8 * u, 8 * u, 8 * u};
    POLYTEXTW pw[2] = {{90 * u, 60 * u, 3, L"sun", 0, {0, 0, 0, 0}, wdx},
                       {130 * u, 60 * u, 4, L"moon", ETO_CLIPPED, {130 * u, 60 * u, 150 * u, 70 * u}, 0}};
    PolyTextOutW(dc, pw, 2);
    SelectObject(dc, fonts[2]);
    SetTextCharacterExtra(dc, 2 * u);
    SetTextJustification(dc, 6 * u, 2);
    TextOutA(dc, 4 * u, 78 * u, "a b c", 5);
    SetTextJustification(dc, 0, 0);
    SetTextCharacterExtra(dc, 0);
    SetTextAlign(dc, TA_UPDATECP);
    MoveToEx(dc, 100 * u, 80 * u, 0);
    TextOutA(dc, 0, 0, "cp", 2);
    TextOutA(dc, 0, 0, "++", 2);
    SetTextAlign(dc, TA_RIGHT | TA_BOTTOM);
    TextOutA(dc, 196 * u, 98 * u, "end", 3);
    if (emf) {
        SetGraphicsMode(dc, GM_ADVANCED);
        SelectObject(dc, fonts[0]);
        SetTextAlign(dc, TA_LEFT | TA_TOP);
        ExtTextOutW(dc, 140 * u, 80 * u, 0, 0, L"adv", 3, 0);
        WORD glyphs[3] = {36, 37, 38};
        ExtTextOutW(dc, 140 * u, 88 * u, ETO_GLYPH_INDEX, 0, (LPCWSTR)glyphs, 3, 0);
        SetGraphicsMode(dc, GM_COMPATIBLE);
    }
    SelectObject(dc, fonts[1]);
    SetTextAlign(dc, TA_LEFT | TA_TOP);
    // No vertical spacing (ETO_PDY): the platform records one value a
    // character and its player reads two, so the reader refuses it.
    SelectObject(dc, GetStockObject(SYSTEM_FONT));
    for (HFONT f : fonts)
        DeleteObject(f);
}

// Blits, stretched DIBs of every depth, pattern brushes and a palette.
static void DrawBitmaps(HDC dc, int u, bool emf)
{
    HPALETTE palette = MakePalette(16);
    HPALETTE oldPalette = SelectPalette(dc, palette, FALSE);
    RealizePalette(dc);
    PALETTEENTRY more[2] = {{255, 0, 0, 0}, {0, 255, 0, 0}};
    SetPaletteEntries(palette, 2, 2, more);
    AnimatePalette(palette, 0, 2, more);
    ResizePalette(palette, 20);
    RealizePalette(dc);
    Source mono = MakeSource(1), colour = MakeSource(24), alpha = MakeSource(32);
    SetStretchBltMode(dc, COLORONCOLOR);
    BitBlt(dc, 2 * u, 2 * u, 16 * u, 16 * u, colour.dc, 0, 0, SRCCOPY);
    // A monochrome source: GDI stores it in a 16-bit metafile as a DIB whose
    // colour count is 0, and Wine's converter copies its table past the
    // block it sized for none; only the EMF has it.
    BitBlt(dc, 20 * u, 2 * u, 16 * u, 16 * u, emf ? mono.dc : colour.dc, 0, 0, SRCAND);
    HGDIOBJ hatch = Use(dc, CreateHatchBrush(HS_BDIAGONAL, RGB(200, 0, 0)));
    BitBlt(dc, 38 * u, 2 * u, 16 * u, 16 * u, 0, 0, 0, PATCOPY);   // no source
    PatBlt(dc, 56 * u, 2 * u, 16 * u, 16 * u, PATINVERT);
    PatBlt(dc, 74 * u, 2 * u, 8 * u, 16 * u, BLACKNESS);
    Forget(dc, hatch);
    SetStretchBltMode(dc, HALFTONE);
    StretchBlt(dc, 84 * u, 2 * u, 30 * u, 16 * u, colour.dc, 0, 0, 16, 16, SRCCOPY);
    StretchBlt(dc, 116 * u, 2 * u, 8 * u, 24 * u, colour.dc, 2, 2, 12, 12, NOTSRCCOPY);
    static const struct { int bpp; uint32_t compression; } kinds[] = {
        {1, BI_RGB}, {4, BI_RGB}, {8, BI_RGB}, {16, BI_BITFIELDS}, {24, BI_RGB},
        {32, BI_RGB}, {32, BI_BITFIELDS}, {8, BI_RLE8}, {4, BI_RLE4}};
    for (int i = 0; i < 9; i++) {
        Bytes dib = Dib(8, 4, kinds[i].bpp, kinds[i].compression);
        StretchDib(dc, (2 + 14 * i) * u, 28 * u, 12 * u, 10 * u, dib, DIB_RGB_COLORS,
                   DibHeaderBytes(dib));
    }
    Bytes indices = PaletteIndexDib(8, 8, 4);
    StretchDib(dc, 130 * u, 28 * u, 16 * u, 16 * u, indices, DIB_PAL_COLORS,
               sizeof(BITMAPINFOHEADER) + 32);
    Bytes rows = Dib(16, 8, 8);
    const BITMAPINFO *rowsInfo = (const BITMAPINFO *)rows.data();
    SetDIBitsToDevice(dc, 150 * u, 28 * u, 16, 8, 0, 0, 0, 8, rows.data() + DibHeaderBytes(rows),
                      rowsInfo, DIB_RGB_COLORS);
    SetDIBitsToDevice(dc, 170 * u, 28 * u, 16, 8, 0, 0, 2, 4,
                      rows.data() + DibHeaderBytes(rows) + 2 * 16, rowsInfo, DIB_RGB_COLORS);
    Bytes pattern = Dib(8, 8, 24);
    HGDIOBJ brushes[] = {CreateDIBPatternBrushPt(pattern.data(), DIB_RGB_COLORS),
                         CreateDIBPatternBrushPt(indices.data(), DIB_PAL_COLORS), MonoBrush(),
                         CreatePatternBrush(colour.bitmap)};
    for (int i = 0; i < 4; i++) {
        SelectObject(dc, brushes[i]);
        Rectangle(dc, (2 + 24 * i) * u, 44 * u, (24 + 24 * i) * u, 60 * u);
    }
    SelectObject(dc, GetStockObject(WHITE_BRUSH));
    for (HGDIOBJ b : brushes)
        DeleteObject(b);
    // What a 16-bit metafile cannot hold GDI turns into what it can, or refuses.
    MaskBlt(dc, 100 * u, 44 * u, 16 * u, 16 * u, colour.dc, 0, 0, mono.bitmap, 0, 0,
            MAKEROP4(SRCCOPY, DSTINVERT));
    MaskBlt(dc, 118 * u, 44 * u, 16 * u, 16 * u, colour.dc, 0, 0, 0, 0, 0, SRCCOPY);
    POINT corners[3] = {{140 * u, 44 * u}, {160 * u, 48 * u}, {136 * u, 62 * u}};
    PlgBlt(dc, corners, colour.dc, 0, 0, 16, 16, mono.bitmap, 0, 0);
    POINT corners2[3] = {{166 * u, 44 * u}, {190 * u, 44 * u}, {166 * u, 62 * u}};
    PlgBlt(dc, corners2, colour.dc, 0, 0, 16, 16, 0, 0, 0);
    BLENDFUNCTION constant = {AC_SRC_OVER, 0, 128, 0}, perPixel = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    GdiAlphaBlend(dc, 2 * u, 66 * u, 24 * u, 24 * u, colour.dc, 0, 0, 16, 16, constant);
    GdiAlphaBlend(dc, 30 * u, 66 * u, 24 * u, 24 * u, alpha.dc, 0, 0, 16, 16, perPixel);
    GdiTransparentBlt(dc, 58 * u, 66 * u, 24 * u, 24 * u, colour.dc, 0, 0, 16, 16, RGB(0, 0, 0));
    if (emf) {
        TRIVERTEX v[4] = {{86 * u, 66 * u, 0xFF00, 0, 0, 0}, {120 * u, 96 * u, 0, 0, 0xFF00, 0},
                          {124 * u, 66 * u, 0, 0xFF00, 0, 0}, {150 * u, 96 * u, 0xFF00, 0xFF00, 0, 0}};
        GRADIENT_RECT rect = {0, 1};
        GdiGradientFill(dc, v, 2, &rect, 1, GRADIENT_FILL_RECT_H);
        GRADIENT_TRIANGLE triangle = {1, 2, 3};
        GdiGradientFill(dc, v, 4, &triangle, 1, GRADIENT_FILL_TRIANGLE);
        SetBrushOrgEx(dc, 3, 5, 0);
    }
    FreeSource(mono);
    FreeSource(colour);
    FreeSource(alpha);
    SelectPalette(dc, oldPalette, FALSE);
    DeleteObject(palette);
}

static void DrawRegions(HDC dc, int u, bool emf)
{
    HRGN rect = CreateRectRgn(4 * u, 4 * u, 40 * u, 30 * u);
    HRGN ellipse = CreateEllipticRgn(44 * u, 4 * u, 90 * u, 30 * u);
    POINT tri[3] = {{100 * u, 30 * u}, {120 * u, 4 * u}, {140 * u, 30 * u}};
    HRGN polygon = CreatePolygonRgn(tri, 3, WINDING);
    HRGN round = CreateRoundRectRgn(150 * u, 4 * u, 196 * u, 30 * u, 10 * u, 10 * u);
    HBRUSH red = CreateSolidBrush(RGB(220, 0, 0)), hatch = CreateHatchBrush(HS_FDIAGONAL, 0);
    FillRgn(dc, rect, red);
    InvertRgn(dc, polygon);
    SelectObject(dc, hatch);
    PaintRgn(dc, round);
    SelectObject(dc, GetStockObject(WHITE_BRUSH));
    SaveDC(dc);
    SelectClipRgn(dc, ellipse);
    FillRgn(dc, rect, hatch);
    ExtSelectClipRgn(dc, round, RGN_OR);
    ExtSelectClipRgn(dc, rect, RGN_AND);
    ExtSelectClipRgn(dc, polygon, RGN_XOR);
    ExtSelectClipRgn(dc, ellipse, RGN_DIFF);
    ExtSelectClipRgn(dc, rect, RGN_COPY);
    Rectangle(dc, 0, 0, 200 * u, 100 * u);
    SelectClipRgn(dc, 0);
    RestoreDC(dc, -1);
    SaveDC(dc);
    IntersectClipRect(dc, 4 * u, 40 * u, 100 * u, 96 * u);
    ExcludeClipRect(dc, 20 * u, 50 * u, 40 * u, 70 * u);
    OffsetClipRgn(dc, 6 * u, 4 * u);
    SelectObject(dc, red);
    Ellipse(dc, 2 * u, 36 * u, 110 * u, 98 * u);
    RestoreDC(dc, -1);
    if (emf) {
        static const char note[] = "Veltaspar comment";
        GdiComment(dc, sizeof note, (const BYTE *)note);
        SetICMMode(dc, ICM_OFF);
        COLORADJUSTMENT ca = {sizeof ca, 0, ILLUMINANT_DEVICE_DEFAULT, 10000, 10000, 10000, 0,
                              10000, 0, 0, 0, 0};
        SetColorAdjustment(dc, &ca);
    } else {
        static const char note[] = "Veltaspar comment";
        Escape(dc, MFCOMMENT, sizeof note, note, 0);
    }
    HPALETTE palette = MakePalette(8);
    SelectPalette(dc, palette, TRUE);
    RealizePalette(dc);
    SelectPalette(dc, (HPALETTE)GetStockObject(DEFAULT_PALETTE), TRUE);
    DeleteObject(palette);
    SetROP2(dc, R2_NOTXORPEN);
    SetPolyFillMode(dc, WINDING);
    SelectObject(dc, red);
    RoundRect(dc, 120 * u, 40 * u, 196 * u, 96 * u, 20 * u, 20 * u);
    SelectObject(dc, GetStockObject(WHITE_BRUSH));
    FrameRgn(dc, ellipse, hatch, 2 * u, 3 * u);
    HGDIOBJ made[] = {rect, ellipse, polygon, round, red, hatch};
    for (HGDIOBJ o : made)
        DeleteObject(o);
}

// Paths, transforms, mapping modes and saved states (EMF).
static void DrawPaths(HDC dc)
{
    HGDIOBJ pen = Use(dc, CreatePen(PS_SOLID, 3, RGB(0, 0, 200)));
    HGDIOBJ brush = Use(dc, CreateSolidBrush(RGB(200, 200, 0)));
    BeginPath(dc);
    MoveToEx(dc, 10, 10, 0);
    LineTo(dc, 50, 10);
    POINT bez[3] = {{60, 20}, {40, 40}, {20, 30}};
    PolyBezierTo(dc, bez, 3);
    CloseFigure(dc);
    EndPath(dc);
    StrokeAndFillPath(dc);
    BeginPath(dc);
    Rectangle(dc, 60, 10, 90, 40);
    EndPath(dc);
    FillPath(dc);
    BeginPath(dc);
    Ellipse(dc, 95, 10, 125, 40);
    EndPath(dc);
    FlattenPath(dc);
    StrokePath(dc);
    LOGBRUSH lb = {BS_SOLID, RGB(0, 100, 0), 0};
    HPEN wide = ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_JOIN_ROUND, 6, &lb, 0, 0);
    SelectObject(dc, wide);
    BeginPath(dc);
    MoveToEx(dc, 130, 10, 0);
    LineTo(dc, 190, 40);
    EndPath(dc);
    WidenPath(dc);
    FillPath(dc);
    BeginPath(dc);
    LineTo(dc, 5, 5);
    AbortPath(dc);
    SaveDC(dc);
    BeginPath(dc);
    Ellipse(dc, 10, 50, 60, 95);
    EndPath(dc);
    SelectClipPath(dc, RGN_AND);
    Rectangle(dc, 0, 45, 70, 100);
    RestoreDC(dc, -1);
    SelectObject(dc, pen);
    DeleteObject(wide);
    // Transforms: no row of a matrix adds up to more than 1.
    SetGraphicsMode(dc, GM_ADVANCED);
    SaveDC(dc);
    XFORM turn = {0.433f, 0.25f, -0.25f, 0.433f, 100.0f, 55.0f};
    SetWorldTransform(dc, &turn);
    Rectangle(dc, 0, 0, 40, 30);
    XFORM shrink = {0.9f, 0.0f, 0.05f, 0.9f, 4.0f, -3.0f};
    ModifyWorldTransform(dc, &shrink, MWT_LEFTMULTIPLY);
    Ellipse(dc, 0, 0, 30, 30);
    ModifyWorldTransform(dc, &shrink, MWT_RIGHTMULTIPLY);
    Rectangle(dc, 10, 10, 20, 20);
    ModifyWorldTransform(dc, 0, MWT_IDENTITY);
    RestoreDC(dc, -1);
    SetGraphicsMode(dc, GM_COMPATIBLE);
    // Mapping modes: the window is never smaller than the viewport.
    SaveDC(dc);
    SetMapMode(dc, MM_ANISOTROPIC);
    SetWindowOrgEx(dc, 0, 0, 0);
    SetWindowExtEx(dc, 160, 80, 0);
    SetViewportOrgEx(dc, 140, 60, 0);
    SetViewportExtEx(dc, 16, 8, 0);
    Rectangle(dc, 0, 0, 160, 80);
    ScaleWindowExtEx(dc, 2, 1, 3, 2, 0);
    ScaleViewportExtEx(dc, 1, 2, 1, 1, 0);
    OffsetWindowOrgEx(dc, -20, -10, 0);
    OffsetViewportOrgEx(dc, 4, 2, 0);
    Ellipse(dc, 0, 0, 160, 80);
    SetMapMode(dc, MM_LOMETRIC);
    SetWindowOrgEx(dc, 0, 0, 0);
    Rectangle(dc, 400, -200, 500, -250);
    SetMapMode(dc, MM_TEXT);
    RestoreDC(dc, -1);
    SaveDC(dc);
    SaveDC(dc);
    IntersectClipRect(dc, 70, 50, 200, 100);
    ExcludeClipRect(dc, 80, 60, 100, 80);
    OffsetClipRgn(dc, 2, 3);
    Rectangle(dc, 70, 50, 198, 98);
    RestoreDC(dc, -2);
    SetLayout(dc, LAYOUT_RTL);
    Rectangle(dc, 120, 80, 130, 90);
    SetLayout(dc, 0);
    Forget(dc, brush);
    Forget(dc, pen);
}

// ---- Recording -----------------------------------------------------------------

static const int kW = 200, kH = 100, kWmfUnit = 10;   // WMF: 10 logical units a pixel

static HDC BeginWmf()
{
    HDC dc = CreateMetaFileA(0);
    if (!dc)
        return 0;
    SetMapMode(dc, MM_ANISOTROPIC);
    SetWindowOrgEx(dc, 0, 0, 0);
    SetWindowExtEx(dc, kW * kWmfUnit, kH * kWmfUnit, 0);
    return dc;
}

static Bytes EndWmf(HDC dc)
{
    HMETAFILE mf = CloseMetaFile(dc);
    if (!mf)
        return Bytes();
    UINT size = GetMetaFileBitsEx(mf, 0, 0);
    Bytes b(size, '\0');
    GetMetaFileBitsEx(mf, size, &b[0]);
    DeleteMetaFile(mf);
    return b;
}

// The placeable header of a picture `w` x `h` units at `inch` units an inch.
static Bytes Placeable(const Bytes &mf, int w, int h, int inch)
{
    if (mf.empty())
        return Bytes();
    Bytes b(22, '\0');
    Put32(At(b, 0), 0x9AC6CDD7);
    Put16(At(b, 10), (uint16_t)w);
    Put16(At(b, 12), (uint16_t)h);
    Put16(At(b, 14), (uint16_t)inch);
    uint16_t sum = 0;
    for (int i = 0; i < 10; i++)
        sum ^= Le16(At(b, 2 * i));
    Put16(At(b, 20), sum);
    return b + mf;
}

static HDC BeginEmf(const char *description)
{
    HDC screen = GetDC(0);
    HDC dc = CreateEnhMetaFileA(screen, 0, 0, description);
    ReleaseDC(0, screen);
    if (dc) {   // the picture's frame, so that every seed is 200 x 100
        HGDIOBJ old = SelectObject(dc, GetStockObject(NULL_BRUSH));
        Rectangle(dc, 0, 0, kW, kH);
        SelectObject(dc, old);
    }
    return dc;
}

static Bytes EmfBytes(HENHMETAFILE emf)
{
    UINT size = emf ? GetEnhMetaFileBits(emf, 0, 0) : 0;
    Bytes b(size, '\0');
    if (size)
        GetEnhMetaFileBits(emf, size, (BYTE *)&b[0]);
    return b;
}

static Bytes EndEmf(HDC dc)
{
    HENHMETAFILE emf = CloseEnhMetaFile(dc);
    Bytes b = EmfBytes(emf);
    if (emf)
        DeleteEnhMetaFile(emf);
    return b;
}

static Bytes RecordWmf(void (*draw)(HDC, int, bool))
{
    HDC dc = BeginWmf();
    if (!dc)
        return Bytes();
    draw(dc, kWmfUnit, false);
    return Placeable(EndWmf(dc), kW * kWmfUnit, kH * kWmfUnit, 96 * kWmfUnit);
}

static Bytes RecordEmf(void (*draw)(HDC, int, bool), const char *description = 0)
{
    HDC dc = BeginEmf(description);
    if (!dc)
        return Bytes();
    draw(dc, 1, true);
    return EndEmf(dc);
}

static void DrawPathsAndShapes(HDC dc, int, bool) { DrawPaths(dc); }

// GetWinMetaFileBits of an EMF: GDI carries the EMF itself in the leading
// comments, then the records it converted. The box is the EMF's frame.
static Bytes RecordCarriedEmf(const Bytes &emf)
{
    HENHMETAFILE handle = SetEnhMetaFileBits((UINT)emf.size(), (const BYTE *)emf.data());
    if (!handle)
        return Bytes();
    HDC screen = GetDC(0);
    UINT size = GetWinMetaFileBits(handle, 0, 0, MM_ANISOTROPIC, screen);
    Bytes mf(size, '\0');
    if (size)
        GetWinMetaFileBits(handle, size, (BYTE *)&mf[0], MM_ANISOTROPIC, screen);
    ReleaseDC(0, screen);
    ENHMETAHEADER h;
    GetEnhMetaFileHeader(handle, sizeof h, &h);
    DeleteEnhMetaFile(handle);
    if (!size)
        return Bytes();
    return Placeable(mf, h.rclFrame.right - h.rclFrame.left, h.rclFrame.bottom - h.rclFrame.top,
                     2540);
}

// Stock objects only (GDI records a stock font, and the colour of the DC
// brush, as objects of their own, so neither): the player keeps a handle table of the one slot that
// holds the metafile itself.
static void DrawStock(HDC dc, int, bool)
{
    SelectObject(dc, GetStockObject(GRAY_BRUSH));
    SelectObject(dc, GetStockObject(BLACK_PEN));
    Rectangle(dc, 20, 20, 180, 80);
    SelectObject(dc, GetStockObject(LTGRAY_BRUSH));
    SelectObject(dc, GetStockObject(NULL_PEN));
    Ellipse(dc, 30, 30, 90, 70);
    SelectObject(dc, GetStockObject(WHITE_PEN));
    POINT line[3] = {{100, 30}, {170, 50}, {100, 70}};
    Polyline(dc, line, 3);
    SelectObject(dc, GetStockObject(DC_BRUSH));
    RoundRect(dc, 150, 60, 190, 95, 6, 6);
}

bool RecordSeeds(std::vector<Seed> *seeds)
{
    seeds->clear();
    Bytes emfShapes = RecordEmf(DrawPensAndShapes);
    const Seed all[] = {
        {"wmf-shapes", true, false, RecordWmf(DrawPensAndShapes)},
        {"wmf-text", true, false, RecordWmf(DrawWords)},
        {"wmf-bitmaps", true, false, RecordWmf(DrawBitmaps)},
        {"wmf-regions", true, false, RecordWmf(DrawRegions)},
        {"wmf-carried-emf", true, true, RecordCarriedEmf(emfShapes)},
        {"emf-shapes", false, false, emfShapes},
        {"emf-paths", false, false, RecordEmf(DrawPathsAndShapes)},
        {"emf-bitmaps", false, false, RecordEmf(DrawBitmaps)},
        {"emf-text", false, false, RecordEmf(DrawWords, "Veltaspar\0metafile seed\0")},
        {"emf-regions", false, false, RecordEmf(DrawRegions)},
        {"emf-stock", false, false, RecordEmf(DrawStock)}};
    for (const Seed &s : all) {
        if (s.bytes.empty())
            return false;
        seeds->push_back(s);
    }
    return true;
}

Bytes RecordStockEmf() { return RecordEmf(DrawStock); }
