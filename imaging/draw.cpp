// Painting a CDibImage into a rectangle of a device context. Only the part
// of the rectangle inside the clip box is ever touched: scaling and blending
// fill one temporary 24-bit section of that part.
#include "imaging/image.h"

#include <math.h>
#include <string.h>

namespace {

// Where the picture goes and how source pixels map onto it.
struct DrawPlan {
    int x, y, width, height;   // the destination rectangle
    RECT visible;              // its part inside the clip box
    float fx, fy;              // source pixels per destination pixel
    bool scaled, smooth, flip;
};

// A 24-bit bottom-up DIB section of the visible box's size.
struct DrawSection {
    BITMAPINFO bmi;
    HBITMAP bitmap;
    unsigned char *bits;
    int width, height, stride;
};

bool CreateDrawSection(HDC dc, int width, int height, DrawSection *section)
{
    memset(section, 0, sizeof *section);
    BITMAPINFOHEADER &h = section->bmi.bmiHeader;
    h.biSize = sizeof h;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biCompression = BI_RGB;
    void *bits = 0;
    section->bitmap = CreateDIBSection(dc, &section->bmi, DIB_RGB_COLORS, &bits, 0, 0);
    section->bits = (unsigned char *)bits;
    section->width = width;
    section->height = height;
    section->stride = (width * 3 + 3) & ~3;
    return section->bitmap != 0 && bits != 0;
}

void CopySectionToDevice(HDC dc, const DrawSection &section, const RECT &visible)
{
    SetDIBitsToDevice(dc, visible.left, visible.top, section.width, section.height, 0, 0, 0,
                      section.height, section.bits, &section.bmi, DIB_RGB_COLORS);
}

// Pixel of the section at column c and row r counted from the visible box's top.
unsigned char *SectionPixel(const DrawSection &section, int c, int r)
{
    return section.bits + (size_t)(section.height - 1 - r) * section.stride + 3 * c;
}

// The source column and DIB row sampled for a destination pixel at absolute
// device position (px, py). A flip mirrors within the whole rectangle, so
// that clipping never changes which part of the picture shows where.
struct SourcePoint {
    float sx, sy;
    int ix, iy;
};

SourcePoint SourceFor(const CDibImage &image, const DrawPlan &plan, int px, int py)
{
    int k = px - plan.x;
    int d = plan.flip ? plan.y + plan.height - 1 - py : py - plan.y;
    SourcePoint p;
    p.sx = (float)k * plan.fx;
    p.sy = (float)image.GetHeight() - (float)(d + 1) * plan.fy;
    p.ix = (int)floorf(p.sx);
    p.iy = (int)floorf(p.sy);
    // Float rounding can land on the far edge; never read outside the image.
    if (p.ix < 0)
        p.ix = 0;
    if (p.ix >= image.GetWidth())
        p.ix = image.GetWidth() - 1;
    if (p.iy < 0)
        p.iy = 0;
    if (p.iy >= image.GetHeight())
        p.iy = image.GetHeight() - 1;
    return p;
}

RGBQUAD SourceColor(const CDibImage &image, const DrawPlan &plan, const SourcePoint &p)
{
    if (plan.scaled && plan.smooth) {
        if (plan.fx > 1 && plan.fy > 1)
            return image.InterpolateArea(p.sx - 0.5f, p.sy - 0.5f, plan.fx, plan.fy, IM_BILINEAR,
                                         OM_REPEAT);
        return image.InterpolatePixel(p.sx - 0.5f, p.sy - 0.5f, IM_BILINEAR, OM_REPEAT);
    }
    return image.BlindGetPixelColor(p.ix, p.iy);
}

void FillScaled(const CDibImage &image, const DrawPlan &plan, const DrawSection &section)
{
    for (int r = 0; r < section.height; r++) {
        for (int c = 0; c < section.width; c++) {
            SourcePoint p = SourceFor(image, plan, plan.visible.left + c, plan.visible.top + r);
            RGBQUAD color = SourceColor(image, plan, p);
            unsigned char *out = SectionPixel(section, c, r);
            out[0] = color.rgbBlue;
            out[1] = color.rgbGreen;
            out[2] = color.rgbRed;
        }
    }
}

// Opacity 0..255 of a source pixel, or -1 when it is the transparent one.
int SourceOpacity(const CDibImage &image, const SourcePoint &p)
{
    int index = image.IsIndexed() ? image.BlindGetPixelIndex(p.ix, p.iy) : -1;
    if (image.info.backgroundIndex >= 0) {
        if (index >= 0) {
            if (index == image.info.backgroundIndex)
                return -1;
        } else {
            RGBQUAD pixel = image.BlindGetPixelColor(p.ix, p.iy);
            RGBQUAD trans = image.info.backgroundColor;
            if (pixel.rgbBlue == trans.rgbBlue && pixel.rgbGreen == trans.rgbGreen &&
                pixel.rgbRed == trans.rgbRed)
                return -1;
        }
    }
    int a = image.alpha ? image.alpha[(size_t)p.iy * image.GetWidth() + p.ix] : 255;
    a = a * (image.info.alphaMax + 1) >> 8;
    if (image.info.alphaPaletteEnabled && index >= 0)
        a = a * (image.GetPalette()[index].rgbReserved + 1) >> 8;
    return a;
}

void BlendPixel(unsigned char *out, RGBQUAD color, int a)
{
    if (a == 255) {
        out[0] = color.rgbBlue;
        out[1] = color.rgbGreen;
        out[2] = color.rgbRed;
        return;
    }
    out[0] = (unsigned char)((color.rgbBlue * a + out[0] * (255 - a)) >> 8);
    out[1] = (unsigned char)((color.rgbGreen * a + out[1] * (255 - a)) >> 8);
    out[2] = (unsigned char)((color.rgbRed * a + out[2] * (255 - a)) >> 8);
}

void FillBlended(const CDibImage &image, const DrawPlan &plan, const DrawSection &section)
{
    for (int r = 0; r < section.height; r++) {
        for (int c = 0; c < section.width; c++) {
            SourcePoint p = SourceFor(image, plan, plan.visible.left + c, plan.visible.top + r);
            int a = SourceOpacity(image, p);
            if (a <= 0)
                continue;
            BlendPixel(SectionPixel(section, c, r), SourceColor(image, plan, p), a);
        }
    }
}

bool NeedsBlending(const CDibImage &image)
{
    // A lowered alpha maximum fades even images without an alpha channel.
    return image.info.backgroundIndex >= 0 || image.alpha != 0 ||
           image.info.alphaPaletteEnabled || image.info.alphaMax < 255;
}

void DrawDirect(const CDibImage &image, HDC dc, const DrawPlan &plan)
{
    const BITMAPINFO *bmi = (const BITMAPINFO *)image.dib;
    SetStretchBltMode(dc, COLORONCOLOR);
    if (!plan.flip) {
        SetDIBitsToDevice(dc, plan.x, plan.y, plan.width, plan.height, 0, 0, 0, plan.height,
                          image.info.pixels, bmi, DIB_RGB_COLORS);
        return;
    }
    StretchDIBits(dc, plan.x, plan.y + plan.height - 1, plan.width, -plan.height, 0, 0,
                  image.GetWidth(), image.GetHeight(), image.info.pixels, bmi, DIB_RGB_COLORS,
                  SRCCOPY);
}

void DrawThroughSection(const CDibImage &image, HDC dc, const DrawPlan &plan, bool blend)
{
    int w = plan.visible.right - plan.visible.left, h = plan.visible.bottom - plan.visible.top;
    DrawSection section;
    if (!CreateDrawSection(dc, w, h, &section)) {
        if (section.bitmap)
            DeleteObject(section.bitmap);
        return;
    }
    if (blend) {
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(memory, section.bitmap);
        BitBlt(memory, 0, 0, w, h, dc, plan.visible.left, plan.visible.top, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
        GdiFlush();
        FillBlended(image, plan, section);
    } else {
        FillScaled(image, plan, section);
    }
    CopySectionToDevice(dc, section, plan.visible);
    DeleteObject(section.bitmap);
}

}  // namespace

bool CDibImage::Draw(HDC dc, int x, int y, int w, int h, const RECT *clip, bool smooth, bool flip)
{
    if (!dib || !dc || w == 0 || h == 0 || !info.enabled)
        return false;
    DrawPlan plan;
    plan.x = x;
    plan.y = y;
    plan.width = w < 0 ? GetWidth() : w;
    plan.height = h < 0 ? GetHeight() : h;
    plan.fx = (float)GetWidth() / (float)plan.width;
    plan.fy = (float)GetHeight() / (float)plan.height;
    plan.scaled = plan.width != GetWidth() || plan.height != GetHeight();
    plan.smooth = smooth;
    plan.flip = flip;

    int saved = SaveDC(dc);
    if (clip)
        IntersectClipRect(dc, clip->left, clip->top, clip->right, clip->bottom);
    RECT box, dest = {x, y, x + plan.width, y + plan.height};
    bool visible = GetClipBox(dc, &box) > NULLREGION && IntersectRect(&plan.visible, &dest, &box);
    if (visible) {
        if (NeedsBlending(*this))
            DrawThroughSection(*this, dc, plan, true);
        else if (!plan.scaled)
            DrawDirect(*this, dc, plan);
        else
            DrawThroughSection(*this, dc, plan, false);
    }
    RestoreDC(dc, saved);
    return true;
}
