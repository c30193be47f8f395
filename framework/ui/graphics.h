// The framework's drawing resources and primitives: font sets made per DPI
// on demand, the colour slots of the colour scheme, the command icons with
// their greyed copies, a scratch DC, and the painters every UI item uses.
// UI thread only.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "framework/errors.h"
#include "framework/growarray.h"
#include "framework/utilities.h"   // ScaleForDpi, FontHeightForDpi


enum { FONT_SET_COUNT = 7, COLOUR_SLOT_COUNT = 59, ICON_SIZE_ONLY = 0x4000 };

enum FontSet {
    FONT_DEFAULT,
    FONT_DEFAULT_BOLD,
    FONT_DEFAULT_VERTICAL,
    FONT_FIXED,
    FONT_USER,
    FONT_USER_BOLD,
    FONT_USER_VERTICAL,
};

// Colour selector of texts and arrows: the low two bits pick a slot or say
// that bits 8-31 carry the colour itself.
enum { COLOUR_DISABLED = 0, COLOUR_TEXT = 1, COLOUR_HIGHLIGHTED = 2, COLOUR_OWN = 3 };
inline uint32_t OwnColour(COLORREF colour) { return (uint32_t)colour << 8 | COLOUR_OWN; }

// DrawFormattedText alignment: low byte 0 left/top, 1 centre, 2 right/bottom.
enum { ALIGN_VERTICAL = 0x100 };

enum ArrowDirection { ARROW_RIGHT, ARROW_DOWN, ARROW_UP };

enum ItemBackground {
    BACKGROUND_PARENT,
    BACKGROUND_HOT,
    BACKGROUND_PRESSED,
    BACKGROUND_SUNKEN,
    BACKGROUND_RAISED,
    BACKGROUND_FILLED,
    BACKGROUND_CHECKED,
    BACKGROUND_CHECKED_DISABLED,
    BACKGROUND_GRADIENT,
};

enum { CORNER_TOP_LEFT = 1, CORNER_TOP_RIGHT = 2, CORNER_BOTTOM_LEFT = 4, CORNER_BOTTOM_RIGHT = 8 };

enum { ICON_ENABLED = 0x1 };

struct FontEntry {
    int dpi;
    int size;
    int weight;
    int angle;
    int pitchAndFamily;
    char face[260];
    HFONT font;
    int textHeight;   // of "Ag"
    int spaceWidth;   // of " "
};

struct IconEntry {
    uint16_t commandId;
    UINT_PTR resource;    // resource id, or for size-only entries a pointer to int[2]
    int kind;
    HICON normal;
    HICON recoloured;
    uint16_t width;
    uint16_t height;
};

// One pixel of a rounded 3 x 3 corner: result = F + (T - F) x percent / 100,
// F = pixel 'from' of the background (source 0) or item (source 1) block,
// T = pixel 'to' of the item block.
struct CornerPixelRule {
    uint8_t percent, source, from, to;
};
extern const CornerPixelRule kCornerTopLeft[9], kCornerTopRight[9], kCornerBottomLeft[9],
    kCornerBottomRight[9];

// lParam of QRFM_DRAWCOLORICON.
struct ColorIconRequest {
    uint16_t commandId;
    RECT rect;
};

class CGraphics {
public:
    CGrowArray<FontEntry> fonts[FONT_SET_COUNT];
    char defaultFace[260];
    char userFace[260];

    COLORREF activeCaption, inactiveCaption, highlight, menuText, highlightText;
    COLORREF activeGradient, inactiveGradient;
    uint8_t gradientCaptions;
    uint8_t automaticScheme;
    COLORREF baseColour, focusColour, textColour, highlightedTextColour;
    COLORREF slots[COLOUR_SLOT_COUNT];

    HDC scratchDC;
    HBITMAP scratchBitmap;
    HBITMAP scratchOldBitmap;
    uint32_t *scratchPixels;   // 16 x 16, top-down, 0x00RRGGBB
    HWND paintingWindow;       // window of the CMemoryDC being painted now

    CGrowArray<IconEntry> icons;

    CGraphics();
    ~CGraphics();

    int Init();

    int CreateFonts(const char *face, int points, int dpi);
    int AddFont(int set, const char *face, int points, int weight, int angle, int dpi,
                int pitchAndFamily);
    HFONT GetFont(int set, int dpi);
    int GetSpaceWidth(int dpi);
    int GetTextHeight(int dpi);
    int MeasureText(const char *text, int *width, int *height, HFONT font);
    int MeasureTextForDpi(const char *text, int *width, int *height, bool bold, int dpi);

    int LoadColours();
    static COLORREF BlendColours(double factor, COLORREF a, COLORREF b);
    COLORREF SelectorColour(uint32_t selector) const;

    int AddIcon(uint16_t commandId, UINT_PTR resource, int kind, int size);
    int LoadIcon(IconEntry *entry);
    int FindIcon(uint16_t commandId) const;
    int ReloadIcons();

    int DrawFormattedText(HDC dc, int dpi, const char *format, uint32_t selector,
                          const RECT *rect, int alignment, bool bold, ...);
    void DrawItemBackground(HDC dc, const RECT *rect, int type, int corners, int checkWidth,
                            int slot, int firstGradientSlot, int secondGradientSlot);
    int DrawCommandIcon(HDC dc, uint16_t commandId, int flags, const RECT *rect);
    void DrawArrow(HDC dc, uint32_t selector, int direction, const RECT *rect);
    void DrawCheckMark(HDC dc, uint32_t selector, const RECT *rect);
    void Draw3DFrame(HDC dc, const RECT *rect, bool raised, COLORREF a, COLORREF b);
    void DrawRectangle(HDC dc, const RECT *rect, COLORREF pen, COLORREF brush);
    void GradientRect(HDC dc, COLORREF first, COLORREF second, const RECT *rect, int mode);
    void FillRect(HDC dc, const RECT *rect, COLORREF colour);
    void FrameRect(HDC dc, const RECT *rect, COLORREF colour);
    void DrawEtchedLine(HDC dc, const RECT *rect);
    void DrawSizeGrip(HDC dc, const RECT *rect);
    void DrawSplitter(HDC dc, RECT *rect, RECT *out, bool vertical);
    void PaintParentBackground(HWND parent, HDC dc, const RECT *rect);
    void DrawCorner(HWND parent, HDC dc, const RECT *corner, const CornerPixelRule *table);

private:
    int FindFont(int set, int dpi) const;
    void FreeIcon(IconEntry *entry);
    int MakeRecolouredIcon(IconEntry *entry);
    void ComputeSlots(int scheme, double p);
    HWND WindowOfDC(HDC dc) const;
    void SendParentBackground(HWND window, HWND parent, HDC dc, const RECT *clip, int dx,
                              int dy);
    void DrawPolygon(HDC dc, COLORREF colour, const POINT *points, int count);
};

// Double buffering: Begin hands the painter a memory DC in place of the
// window DC, End copies it to the window in one BitBlt and frees it.
struct CMemoryDC {
    int width;
    int height;
    HDC memoryDC;
    HDC targetDC;
    HBITMAP bitmap;
    HBITMAP oldBitmap;

    CMemoryDC() : width(0), height(0), memoryDC(0), targetDC(0), bitmap(0), oldBitmap(0) {}
    ~CMemoryDC() { End(); }
    int Begin(HDC *dc, int width, int height);
    void End();
};

// Until the application object holds the graphics object and the frame
// list, these two are set by their owners.
extern CGraphics *gGraphics;


void DeflateRect(const RECT *source, RECT *destination, int n);
