// Items that edit a value the program owns: the command entry's data points
// to the record, the item changes it in place and sends QRFM_COMMAND
// (wParam = command id) to its owner, which then reads the new value.
#pragma once

#include <windows.h>
#include <stdint.h>
#include <string.h>

#include "framework/ui/uiitem.h"

// Value records (the command entry's data).
struct RangeValue {        // sliders and brush sizes
    int value;
    int minimum;
    int maximum;
};
struct ColorValue {        // colour swatches
    uint32_t colour;       // 0xAARRGGBB
    int flag;              // non-zero: icon 0xF16C over the swatch, else 0xF16D
};
enum { PALETTE_SIZE = 16 };
struct PaletteValue {
    uint32_t colours[PALETTE_SIZE];   // 0xAARRGGBB
    uint32_t picked;                  // colour under the cursor while picking
    int selected;                     // 0-15
};

enum {
    VALUE_ICON_ON = 0xF16C,
    VALUE_ICON_OFF = 0xF16D,
    EYEDROPPER_CURSOR = 0xC3B9,
    BRUSH_NO_DRAG = -66666,
};

class CSlider : public CUIItem {
public:
    RangeValue *range;
    RECT thumbRect;

    CSlider() : range(0) { typeCode = CMD_SLIDER; SetRectEmpty(&thumbRect); }
    int OnCreate(const CommandEntry &entry, HWND parent, HWND ownerWindow,
                 CMenu *parentMenu) override;
    void MeasureContent(const CommandEntry &entry, int orientation) override;
    void Paint(HDC dc, const RECT &client) override;

    // The value shown at client x, on the scale the thumb is drawn on.
    int ValueAt(int x) const;
    int ThumbLeft() const;
};

class CBrushSize : public CUIItem {
public:
    RangeValue *range;
    int drawnValue, drawnLength;
    int fontWidth;   // item width the digit font was fitted for
    HFONT digitFont;
    char text[16];

    CBrushSize()
        : range(0), drawnValue(-1), drawnLength(-1), fontWidth(-1), digitFont(0)
    {
        typeCode = CMD_BRUSHSIZE;
        text[0] = 0;
    }
    ~CBrushSize() override;
    int OnCreate(const CommandEntry &entry, HWND parent, HWND ownerWindow,
                 CMenu *parentMenu) override;
    void MeasureContent(const CommandEntry &entry, int orientation) override;
    void Paint(HDC dc, const RECT &client) override;

private:
    void FitDigitFont(HDC dc, int length);
};

class CColor : public CUIItem {
public:
    ColorValue *colour;

    CColor() : colour(0) { typeCode = CMD_COLOR; }
    int OnCreate(const CommandEntry &entry, HWND parent, HWND ownerWindow,
                 CMenu *parentMenu) override;
    void MeasureContent(const CommandEntry &entry, int orientation) override;
    void Paint(HDC dc, const RECT &client) override;
};

class CPalette : public CUIItem {
public:
    PaletteValue *palette;
    RECT swatches[PALETTE_SIZE];

    CPalette() : palette(0)
    {
        typeCode = CMD_PALETTE;
        memset(swatches, 0, sizeof swatches);
    }
    int OnCreate(const CommandEntry &entry, HWND parent, HWND ownerWindow,
                 CMenu *parentMenu) override;
    void MeasureContent(const CommandEntry &entry, int orientation) override;
    void Paint(HDC dc, const RECT &client) override;

    // Swatch index at a client point, or -1.
    int SwatchAt(int x, int y) const;
};

bool SliderMouseProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, CUIItem *item);
bool BrushSizeMouseProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, CUIItem *item);
bool ColorMouseProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, CUIItem *item);
bool PaletteMouseProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, CUIItem *item);

// The colour of the screen pixel at a screen point as 0xAARRGGBB with alpha
// 255; false (and *colour unchanged) when the screen cannot be read there.
bool ScreenColourAt(POINT at, uint32_t *colour);
