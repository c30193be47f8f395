// Sliders, brush sizes, colour swatches and palettes: items whose mouse
// callback edits the program's value record in place and tells the owner.
#include "framework/ui/valueitems.h"

#include <stdio.h>
#include <string.h>

#include "framework/application.h"
#include "framework/clamp.h"
#include "framework/messages.h"
#include "framework/ui/graphics.h"
#include "framework/utilities.h"

// One drag at a time: the mouse is captured while it runs.
static bool gSliderDragging;
static int gBrushStartY = BRUSH_NO_DRAG;
static int gBrushStartValue;
static CUIItem *gBrushDragItem;

static bool EntryEnabled(const CUIItem *item)
{
    CommandEntry *entry = gApp.CommandById(item->commandId);
    return entry && (entry->flags & CMDF_ENABLED);
}

static void NotifyOwner(CUIItem *item, LPARAM lParam)
{
    if (item->owner)
        SendMessageA(item->owner, QRFM_COMMAND, item->commandId, lParam);
}

static void RepaintNow(HWND window)
{
    RedrawWindow(window, 0, 0, RDW_UPDATENOW | RDW_INVALIDATE);
}

static bool CursorOutside(HWND window, POINT *cursor)
{
    RECT r;
    if (!GetCursorPos(cursor) || !GetWindowRect(window, &r))
        return false;
    return !PtInRect(&r, *cursor);
}

static void ShowEyedropper()
{
    HCURSOR cursor = LoadCursorA(gApp.instance ? gApp.instance : GetModuleHandleA(0),
                                 MAKEINTRESOURCEA(EYEDROPPER_CURSOR));
    SetCursor(cursor ? cursor : LoadCursorA(0, (LPCSTR)IDC_CROSS));
}

static bool IsButtonUp(UINT message)
{
    return message == WM_LBUTTONUP || message == WM_RBUTTONUP || message == WM_MBUTTONUP;
}

static bool IsButtonDown(UINT message)
{
    return message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN;
}

bool ScreenColourAt(POINT at, uint32_t *colour)
{
    HDC screen = GetDC(0);
    if (!screen)
        return false;
    COLORREF pixel = GetPixel(screen, at.x, at.y);
    ReleaseDC(0, screen);
    if (pixel == CLR_INVALID)
        return false;
    *colour = ColorRefToArgb(pixel, 255);
    return true;
}

// The record an item edits, or null when its entry has no data.
static void *BindRecord(const CommandEntry &entry, CUIItem *item, ItemMouseCallback callback)
{
    if (!entry.data)
        return 0;
    item->SetMouseCallback(callback);
    return (void *)(uintptr_t)entry.data;
}

// These items keep the normal look while a button is held over them.
static void AddNoPressedLook(CUIItem *item)
{
    CommandEntry *live = gApp.CommandById(item->commandId);
    if (live)
        live->flags |= CMDF_NOPRESSEDLOOK;
    item->flags |= CMDF_NOPRESSEDLOOK;
}

// Button-like background: rounded when not normal, a check column in menus.
static void PaintBackground(CUIItem *item, const CUIItem::PaintState &p, const RECT &client)
{
    int checkWidth = item->InMenu() ? item->textHeight + 2 * item->SpaceWidth() : 0;
    gGraphics->DrawItemBackground(p.dc, &client, p.background, p.background ? 15 : 0, checkWidth,
                                  -1, -1, -1);
}

// Name and (in menus) shortcut in their laid-out rectangles.
static void PaintTexts(CUIItem *item, const CUIItem::PaintState &p)
{
    int dpi = item->Dpi();
    const char *name = item->GetText(TEXT_NAME);
    if (name && item->textWidth > 0)
        gGraphics->DrawFormattedText(p.dc, dpi, "%s", p.colour, &item->textRect,
                                     p.centre ? 1 : 0, p.bold, name);
    const char *shortcut = item->InMenu() ? item->GetText(TEXT_SHORTCUT) : 0;
    if (shortcut)
        gGraphics->DrawFormattedText(p.dc, dpi, "%s", p.colour, &item->shortcutRect, 2, p.bold,
                                     shortcut);
}

// ---- Slider ----

int CSlider::OnCreate(const CommandEntry &entry, HWND, HWND, CMenu *)
{
    range = (RangeValue *)BindRecord(entry, this, SliderMouseProc);
    ownNotices = 1;   // a track click has sent its step already
    return range ? 0 : QRF_ERR_NOCOMMAND;
}

void CSlider::MeasureContent(const CommandEntry &, int)
{
    int dpi = Dpi();
    int a = 16;
    if (gGraphics) {
        gGraphics->GetFont(FONT_USER, dpi);
        a = gGraphics->GetTextHeight(dpi);
    }
    contentHeight = a;
    contentWidth = 7 * a;
}

// The thumb (a x a) travels from the content's left edge to its right edge:
// the minimum at the left, the maximum at the right, linearly between.
static int TrackLength(const CSlider *slider)
{
    int length = slider->contentWidth - slider->contentHeight;
    return length > 0 ? length : 1;
}

static int RangeSpan(const RangeValue *range)
{
    int span = range->maximum - range->minimum;
    if (span < 0)
        span = -span;
    return span ? span : 1;   // an empty range divides by 1
}

static int RangeLow(const RangeValue *range)
{
    return range->minimum < range->maximum ? range->minimum : range->maximum;
}

int CSlider::ThumbLeft() const
{
    if (!range)
        return contentRect.left;
    int value = range->value;
    ClampToRange(&value, range->minimum, range->maximum);
    long long offset = (long long)(value - RangeLow(range)) * TrackLength(this) / RangeSpan(range);
    return contentRect.left + (int)offset;
}

int CSlider::ValueAt(int x) const
{
    if (!range)
        return 0;
    int along = x - (contentRect.left + contentHeight / 2);
    int length = TrackLength(this), span = RangeSpan(range);
    // Rounded to the nearest step, so the thumb stays under the cursor.
    long long scaled = (long long)along * span;
    long long steps = scaled >= 0 ? (scaled + length / 2) / length : -((-scaled + length / 2) / length);
    if (steps > span)
        steps = span;
    if (steps < 0)
        steps = 0;
    int value = RangeLow(range) + (int)steps;
    ClampToRange(&value, range->minimum, range->maximum);
    return value;
}

static void LayOutForHitTest(CSlider *slider, HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    slider->LayoutParts(client, 0, (slider->flags & ITEMF_CENTRE) && !slider->InMenu(),
                        slider->InMenu());
    int left = slider->ThumbLeft(), a = slider->contentHeight;
    SetRect(&slider->thumbRect, left, slider->contentRect.top, left + a,
            slider->contentRect.top + a);
}

static void SetSliderValue(CSlider *slider, HWND window, int value)
{
    slider->range->value = value;
    LayOutForHitTest(slider, window);
    InvalidateRect(window, 0, FALSE);
    NotifyOwner(slider, 1);
}

bool SliderMouseProc(HWND window, UINT message, WPARAM, LPARAM lParam, CUIItem *item)
{
    CSlider *slider = (CSlider *)item;
    if (!slider->range || !EntryEnabled(item)) {
        if (message == WM_LBUTTONUP)
            gSliderDragging = false;
        return false;
    }
    POINT at = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
    switch (message) {
    case WM_LBUTTONDOWN: {
        SetFocus(window);
        if (IsRectEmpty(&slider->thumbRect))
            LayOutForHitTest(slider, window);
        if (PtInRect(&slider->thumbRect, at)) {
            gSliderDragging = true;
            break;
        }
        gSliderDragging = false;
        int step = at.x >= slider->thumbRect.right ? 1 : -1;
        RangeValue *r = slider->range;
        int value = r->value + step;
        ClampToRange(&value, r->minimum, r->maximum);
        SetSliderValue(slider, window, value);
        break;
    }
    case WM_MOUSEMOVE:
        if (gSliderDragging && GetCapture() == window) {
            int value = slider->ValueAt(at.x);
            if (value != slider->range->value)
                SetSliderValue(slider, window, value);
        }
        break;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
        gSliderDragging = false;
        break;
    }
    return false;
}

void CSlider::Paint(HDC target, const RECT &client)
{
    PaintState p;
    if (!BeginItemPaint(target, client, &p))
        return;
    HDC dc = p.dc;
    bool enabled = (p.entry.flags & CMDF_ENABLED) != 0;
    gGraphics->DrawItemBackground(dc, &client, BACKGROUND_PARENT, 0, 0, -1, -1, -1);
    LayoutParts(client, p.inset, p.centre, InMenu());
    if (iconWidth > 0)
        gGraphics->DrawCommandIcon(dc, (uint16_t)p.entry.imageId, enabled ? ICON_ENABLED : 0,
                                   &iconRect);
    PaintTexts(this, p);
    int a = contentHeight;
    RECT track = {contentRect.left + a / 2, contentRect.top + a / 2 - 2,
                  contentRect.right - a / 2, contentRect.top + a / 2 + 3};
    gGraphics->DrawItemBackground(dc, &track, BACKGROUND_SUNKEN, 0, 0, enabled ? 33 : 56, -1, -1);
    int left = ThumbLeft();
    SetRect(&thumbRect, left, contentRect.top, left + a, contentRect.top + a);
    int type = enabled ? BACKGROUND_GRADIENT : BACKGROUND_RAISED;
    if (p.entry.flags & CMDF_HOT)
        type = BACKGROUND_HOT;
    if (p.entry.flags & CMDF_PRESSED)
        type = BACKGROUND_PRESSED;
    gGraphics->DrawItemBackground(dc, &thumbRect, type, 15, 0, enabled ? 4 : 55, 33, 34);
    p.memory.End();
}

// ---- Brush size ----

CBrushSize::~CBrushSize()
{
    if (gBrushDragItem == this) {
        gBrushDragItem = 0;
        gBrushStartY = BRUSH_NO_DRAG;
    }
    if (digitFont)
        DeleteObject(digitFont);
}

int CBrushSize::OnCreate(const CommandEntry &entry, HWND, HWND, CMenu *)
{
    range = (RangeValue *)BindRecord(entry, this, BrushSizeMouseProc);
    if (!range)
        return QRF_ERR_NOCOMMAND;
    ownNotices = 1;   // the release that ends a drag sends the value
    AddNoPressedLook(this);
    return 0;
}

// The icon carries the digits; CColor measures the same way.
void CBrushSize::MeasureContent(const CommandEntry &, int)
{
    iconWidth = iconHeight = 22;
}

bool BrushSizeMouseProc(HWND window, UINT message, WPARAM wParam, LPARAM, CUIItem *item)
{
    CBrushSize *brush = (CBrushSize *)item;
    if (!brush->range)
        return false;
    POINT cursor;
    switch (message) {
    case WM_LBUTTONDOWN:
        if (EntryEnabled(item) && GetCursorPos(&cursor)) {
            gBrushStartY = cursor.y;
            gBrushStartValue = brush->range->value;
            gBrushDragItem = item;
        }
        break;
    case WM_MOUSEMOVE:
        if ((wParam & MK_LBUTTON) && gBrushStartY != BRUSH_NO_DRAG && gBrushDragItem == item &&
            GetCursorPos(&cursor)) {
            RangeValue *r = brush->range;
            int value = gBrushStartValue + (gBrushStartY - cursor.y) / 5;
            if (value > r->maximum)
                value = r->maximum;
            if (value < r->minimum)
                value = r->minimum;
            if (value != r->value) {
                r->value = value;
                RepaintNow(window);
            }
        }
        break;
    case WM_LBUTTONUP:
        // Only the release that ends this item's own drag tells the owner.
        if (gBrushStartY != BRUSH_NO_DRAG && gBrushDragItem == item) {
            gBrushStartY = BRUSH_NO_DRAG;
            gBrushDragItem = 0;
            NotifyOwner(item, 0);
        }
        break;
    }
    return false;
}

void CBrushSize::FitDigitFont(HDC dc, int length)
{
    if (digitFont)
        DeleteObject(digitFont);
    digitFont = 0;
    RECT client;
    GetClientRect(window, &client);
    int w = client.right, h = client.bottom;
    for (int size = Dpi() * 12 / 96; size >= 3; size--) {
        HFONT font = CreateFontA(-size, 0, 0, 0, 800, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                                 "Arial");
        if (!font)
            break;
        SIZE extent = {0, 0};
        HGDIOBJ old = SelectObject(dc, font);
        GetTextExtentPoint32A(dc, text, length, &extent);
        SelectObject(dc, old);
        if (digitFont)
            DeleteObject(digitFont);
        digitFont = font;
        if (extent.cx < w - 6 && extent.cy < h - 2)
            break;
    }
    drawnLength = length;
    fontWidth = w;
}

void CBrushSize::Paint(HDC target, const RECT &client)
{
    PaintState p;
    if (!BeginItemPaint(target, client, &p))
        return;
    HDC dc = p.dc;
    PaintBackground(this, p, client);
    LayoutParts(client, p.inset, p.centre, InMenu());
    PaintTexts(this, p);
    gGraphics->DrawCommandIcon(dc, VALUE_ICON_ON,
                               (p.entry.flags & CMDF_ENABLED) ? ICON_ENABLED : 0, &iconRect);
    int value = range ? range->value : 0;
    int length = snprintf(text, sizeof text, "%d", value);
    if (length != drawnLength || client.right != fontWidth || !digitFont)
        FitDigitFont(dc, length);
    drawnValue = value;
    HGDIOBJ old = digitFont ? SelectObject(dc, digitFont) : 0;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, gGraphics->SelectorColour(p.colour));
    RECT r = iconRect;
    DrawTextA(dc, text, length, &r,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    if (old)
        SelectObject(dc, old);
    p.memory.End();
}

// ---- Colour swatch ----

int CColor::OnCreate(const CommandEntry &entry, HWND, HWND, CMenu *)
{
    colour = (ColorValue *)BindRecord(entry, this, ColorMouseProc);
    if (!colour)
        return QRF_ERR_NOCOMMAND;
    ownNotices = 1;   // only a colour picked outside is sent
    AddNoPressedLook(this);
    return 0;
}

void CColor::MeasureContent(const CommandEntry &, int)
{
    iconWidth = iconHeight = 22;
}

bool ColorMouseProc(HWND window, UINT message, WPARAM, LPARAM, CUIItem *item)
{
    CColor *swatch = (CColor *)item;
    if (!swatch->colour)
        return false;
    POINT cursor;
    if (message == WM_MOUSEMOVE && GetCapture() == window && CursorOutside(window, &cursor)) {
        ShowEyedropper();
        uint32_t picked;
        if (ScreenColourAt(cursor, &picked)) {
            swatch->colour->colour = picked;
            RepaintNow(window);
        }
    } else if (IsButtonUp(message) && CursorOutside(window, &cursor)) {
        NotifyOwner(item, 0);
    }
    return false;
}

void CColor::Paint(HDC target, const RECT &client)
{
    PaintState p;
    if (!BeginItemPaint(target, client, &p))
        return;
    HDC dc = p.dc;
    bool enabled = (p.entry.flags & CMDF_ENABLED) != 0;
    PaintBackground(this, p, client);
    LayoutParts(client, p.inset, p.centre, InMenu());
    PaintTexts(this, p);
    COLORREF fill = gGraphics->slots[0];
    if (enabled && colour)
        fill = SwapRedBlue(colour->colour) & 0xFFFFFF;
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    HBRUSH brush = CreateSolidBrush(fill);
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    // A null pen leaves the last row and column: one more keeps the full size.
    Ellipse(dc, iconRect.left, iconRect.top, iconRect.right + 1, iconRect.bottom + 1);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(brush);
    uint16_t icon = (colour && colour->flag) ? VALUE_ICON_ON : VALUE_ICON_OFF;
    gGraphics->DrawCommandIcon(dc, icon, enabled ? ICON_ENABLED : 0, &iconRect);
    p.memory.End();
}

// ---- Palette ----

int CPalette::OnCreate(const CommandEntry &entry, HWND, HWND, CMenu *)
{
    palette = (PaletteValue *)BindRecord(entry, this, PaletteMouseProc);
    if (!palette)
        return QRF_ERR_NOCOMMAND;
    AddNoPressedLook(this);
    return 0;
}

void CPalette::MeasureContent(const CommandEntry &, int orientation)
{
    int s = SpaceWidth();
    contentWidth = 32 * s;
    contentHeight = 6 * s;
    if (orientation == ORIENT_VERTICAL) {
        contentWidth = 6 * s;
        contentHeight = 32 * s;
    }
}

int CPalette::SwatchAt(int x, int y) const
{
    POINT at = {x, y};
    for (int i = 0; i < PALETTE_SIZE; i++)
        if (PtInRect(&swatches[i], at))
            return i;
    return -1;
}

// The selected index is the program's; one outside 0-15 selects nothing.
static bool SelectedInRange(const PaletteValue *palette)
{
    return palette->selected >= 0 && palette->selected < PALETTE_SIZE;
}

bool PaletteMouseProc(HWND window, UINT message, WPARAM, LPARAM lParam, CUIItem *item)
{
    CPalette *grid = (CPalette *)item;
    PaletteValue *palette = grid->palette;
    if (!palette)
        return false;
    POINT cursor;
    if (message == WM_MOUSEMOVE) {
        bool outside = CursorOutside(window, &cursor);
        uint32_t picked;
        if (GetCursorPos(&cursor) && ScreenColourAt(cursor, &picked)) {
            palette->picked = picked;
            if (outside && SelectedInRange(palette)) {
                ShowEyedropper();
                palette->colours[palette->selected] = picked;
                RepaintNow(window);
            }
        }
    } else if (IsButtonDown(message)) {
        int index = grid->SwatchAt((short)LOWORD(lParam), (short)HIWORD(lParam));
        if (index >= 0) {
            palette->selected = index;
            InvalidateRect(window, 0, FALSE);
        }
    } else if (IsButtonUp(message) && CursorOutside(window, &cursor)) {
        NotifyOwner(item, 0);
    }
    return false;
}

void CPalette::Paint(HDC target, const RECT &client)
{
    PaintState p;
    if (!BeginItemPaint(target, client, &p))
        return;
    HDC dc = p.dc;
    bool enabled = (p.entry.flags & CMDF_ENABLED) != 0;
    gGraphics->DrawItemBackground(dc, &client, p.background, p.background ? 15 : 0, 0, -1, -1,
                                  -1);
    LayoutParts(client, p.inset, p.centre, InMenu());
    PaintTexts(this, p);
    int s = SpaceWidth();
    RECT grid = contentRect;
    InflateRect(&grid, s - 1, s - 1);
    if (InMenu())
        OffsetRect(&grid, s, 0);
    int gw = grid.right - grid.left, gh = grid.bottom - grid.top;
    int columns = gw > gh ? 8 : 2, rows = gw > gh ? 2 : 8;
    int cw = gw / columns, ch = gh / rows;
    for (int i = 0; i < PALETTE_SIZE; i++) {
        int column = i % columns, row = i / columns;
        RECT cell = {grid.left + column * cw, grid.top + row * ch, 0, 0};
        cell.right = cell.left + cw;
        cell.bottom = cell.top + ch;
        swatches[i] = cell;
        // One pixel larger: neighbours share their borders.
        cell.right++;
        cell.bottom++;
        if (enabled && palette) {
            COLORREF c = SwapRedBlue(palette->colours[i]) & 0xFFFFFF;
            gGraphics->DrawRectangle(dc, &cell, c, c);
        } else {
            int slot = ((column + row) & 1) ? 56 : 55;
            gGraphics->FillRect(dc, &cell, gGraphics->slots[slot]);
        }
    }
    if (p.background == BACKGROUND_PARENT) {
        RECT frame = grid;
        InflateRect(&frame, 1, 1);
        gGraphics->DrawRectangle(dc, &frame, gGraphics->slots[54], (COLORREF)-1);
    }
    p.memory.End();
}
