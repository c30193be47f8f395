// Transforms that produce a changed picture: resampling, convolution, flip,
// mirror, quarter turns, depth increase and the negative.
#include "image.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

// Prepares a temporary image with this image's settings and palette.
bool CDibImage::MakeLike(CDibImage &tmp, int width, int height, int bpp)
{
    tmp.CopyInfo(*this);
    if (!tmp.Create(width, height, bpp, info.format)) {
        SetError(tmp.info.lastError);
        return false;
    }
    int n = GetNumColors() < tmp.GetNumColors() ? GetNumColors() : tmp.GetNumColors();
    if (n > 0)
        memcpy(tmp.GetPalette(), GetPalette(), 4 * (size_t)(n > 256 ? 256 : n));
    return true;
}

// Reports row progress; false when the caller asked to stop.
static bool RowDone(CDibImage *im, int row, int rows)
{
    im->info.progress = (int)((int64_t)(row + 1) * 100 / rows);
    return im->info.escape == 0;
}

static int Clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

// ---- Resample ---------------------------------------------------------------

static void ResampleNearest(CDibImage *src, CDibImage &dst, float sx, float sy)
{
    int W = dst.GetWidth(), H = dst.GetHeight();
    for (int y = 0; y < H; y++) {
        for (int x = 0; x < W; x++)
            dst.BlindSetPixelColor(x, y, src->GetPixelColor((int)(x * sx), (int)(y * sy)));
        if (!RowDone(src, y, H))
            break;
    }
}

static void ResampleBicubic(CDibImage *src, CDibImage &dst, float sx, float sy)
{
    int W = dst.GetWidth(), H = dst.GetHeight(), w = src->GetWidth(), h = src->GetHeight();
    for (int y = 0; y < H; y++) {
        float fy = y * sy - 0.5f;
        int iy = (int)floorf(fy);
        float dy = fy - iy;
        for (int x = 0; x < W; x++) {
            float fx = x * sx - 0.5f;
            int ix = (int)floorf(fx);
            float dx = fx - ix;
            float sb = 0, sg = 0, sr = 0;
            for (int m = -1; m <= 2; m++) {
                int py = Clamp(iy + m, 0, h - 1);
                float wy = ImageKernel(IM_BSPLINE, m - dy);
                for (int n = -1; n <= 2; n++) {
                    RGBQUAD c = src->BlindGetPixelColor(Clamp(ix + n, 0, w - 1), py);
                    float weight = wy * ImageKernel(IM_BSPLINE, dx - n);
                    sb += weight * c.rgbBlue;
                    sg += weight * c.rgbGreen;
                    sr += weight * c.rgbRed;
                }
            }
            RGBQUAD c = {(BYTE)Clamp((int)sb, 0, 255), (BYTE)Clamp((int)sg, 0, 255),
                         (BYTE)Clamp((int)sr, 0, 255), 0};
            dst.BlindSetPixelColor(x, y, c);
        }
        if (!RowDone(src, y, H))
            break;
    }
}

static float Lerp2(int v00, int v01, int v10, int v11, float dx, float dy)
{
    float a = (v01 - v00) * dy + v00;
    return ((v11 - v10) * dy + v10 - a) * dx + a;
}

static void ResampleBilinear(CDibImage *src, CDibImage &dst, float sx, float sy)
{
    int W = dst.GetWidth(), H = dst.GetHeight(), w = src->GetWidth(), h = src->GetHeight();
    for (int y = 0; y < H; y++) {
        float fy = y * sy;
        int iy = Clamp((int)fy, 0, h - 1), iy1 = iy + 1 < h ? iy + 1 : h - 1;
        float dy = fy - iy;
        for (int x = 0; x < W; x++) {
            float fx = x * sx;
            int ix = Clamp((int)fx, 0, w - 1), ix1 = ix + 1 < w ? ix + 1 : w - 1;
            float dx = fx - ix;
            RGBQUAD a = src->BlindGetPixelColor(ix, iy), b = src->BlindGetPixelColor(ix, iy1);
            RGBQUAD c = src->BlindGetPixelColor(ix1, iy), d = src->BlindGetPixelColor(ix1, iy1);
            RGBQUAD out = {(BYTE)Lerp2(a.rgbBlue, b.rgbBlue, c.rgbBlue, d.rgbBlue, dx, dy),
                           (BYTE)Lerp2(a.rgbGreen, b.rgbGreen, c.rgbGreen, d.rgbGreen, dx, dy),
                           (BYTE)Lerp2(a.rgbRed, b.rgbRed, c.rgbRed, d.rgbRed, dx, dy), 0};
            dst.BlindSetPixelColor(x, y, out);
        }
        if (!RowDone(src, y, H))
            break;
    }
}

// Destination index and the thousandths a source cell passes to the next
// destination cell, for each source cell along one axis.
static void AreaShares(int n, float scale, int *dest, int *share)
{
    float boundary = scale - 1;
    int cell = 0;
    for (int i = 0; i < n; i++) {
        dest[i] = cell;
        share[i] = 0;
        if (i >= boundary) {
            share[i] = Clamp((int)((i - boundary) * 1000), 0, 1000);
            boundary += scale;
            cell++;
        }
    }
}

static void AreaAdd(int64_t *acc, int W, int col, const unsigned char *p, int weight)
{
    if (col >= W || weight <= 0)
        return;
    int64_t *a = acc + 3 * col;
    a[0] += (int64_t)p[0] * weight;
    a[1] += (int64_t)p[1] * weight;
    a[2] += (int64_t)p[2] * weight;
}

static void AreaWriteRow(CDibImage &dst, int row, const int64_t *acc, int64_t divisor)
{
    if (row >= dst.GetHeight())
        return;
    unsigned char *out = dst.GetBits(row);
    for (int i = 0; i < 3 * dst.GetWidth(); i++) {
        int64_t v = acc[i] / divisor;
        out[i] = (unsigned char)(v > 255 ? 255 : v);
    }
}

static bool ResampleArea(CDibImage *src, CDibImage &dst, float sx, float sy)
{
    int W = dst.GetWidth(), H = dst.GetHeight(), w = src->GetWidth(), h = src->GetHeight();
    int64_t divisor = (int64_t)(sx * 1000 * sy);
    int *colDest = (int *)malloc(sizeof(int) * 2 * (w + h));
    int64_t *acc = (int64_t *)calloc(6 * (size_t)W, sizeof(int64_t));
    if (!colDest || !acc || divisor < 1) {
        free(colDest);
        free(acc);
        return false;
    }
    int *colShare = colDest + w, *rowDest = colShare + w, *rowShare = rowDest + h;
    AreaShares(w, sx, colDest, colShare);
    AreaShares(h, sy, rowDest, rowShare);
    int64_t *cur = acc, *next = acc + 3 * W;
    int row = 0;
    for (int y = 0; y < h; y++) {
        const unsigned char *line = src->GetBits(y);
        int ny = rowShare[y], cy = 1000 - ny;
        for (int x = 0; x < w; x++) {
            int nx = colShare[x], cx = 1000 - nx, col = colDest[x];
            const unsigned char *p = line + 3 * x;
            AreaAdd(cur, W, col, p, cx * cy / 1000);
            AreaAdd(cur, W, col + 1, p, nx * cy / 1000);
            AreaAdd(next, W, col, p, cx * ny / 1000);
            AreaAdd(next, W, col + 1, p, nx * ny / 1000);
        }
        if (rowDest[y] == row && (y + 1 == h || rowDest[y + 1] != row)) {
            AreaWriteRow(dst, row, cur, divisor);   // this destination row is complete
            int64_t *t = cur;
            cur = next;
            next = t;
            memset(next, 0, 3 * sizeof(int64_t) * W);
            row++;
            if (!RowDone(src, y, h))
                break;
        }
    }
    if (row < H)
        AreaWriteRow(dst, row, cur, divisor);   // shares still pending past the last source row
    free(colDest);
    free(acc);
    return true;
}

bool CDibImage::Resample(int newWidth, int newHeight, int mode, CDibImage *target)
{
    if (!dib || newWidth <= 0 || newHeight <= 0)
        return false;
    if (newWidth == GetWidth() && newHeight == GetHeight()) {
        if (target && target != this)
            target->Copy(*this, true, true, true);
        return true;
    }
    CDibImage tmp(FORMAT_UNKNOWN);
    if (!MakeLike(tmp, newWidth, newHeight, GetBpp()))
        return false;
    float sx = (float)GetWidth() / newWidth, sy = (float)GetHeight() / newHeight;
    bool ok = true;
    if (mode == 1)
        ResampleNearest(this, tmp, sx, sy);
    else if (mode == 2)
        ResampleBicubic(this, tmp, sx, sy);
    else if (newWidth < GetWidth() && newHeight < GetHeight() && GetBpp() == 24 && !IsIndexed())
        ok = ResampleArea(this, tmp, sx, sy);
    else
        ResampleBilinear(this, tmp, sx, sy);
    if (!ok)
        return false;
    tmp.info.progress = info.progress;
    return (target ? target : this)->Transfer(tmp, true);
}

// ---- Filter -----------------------------------------------------------------

// The rectangle to work on: the selection box when a selection exists, else all.
static void WorkRegion(const CDibImage *im, int *x0, int *y0, int *x1, int *y1)
{
    *x0 = 0;
    *y0 = 0;
    *x1 = im->GetWidth();
    *y1 = im->GetHeight();
    if (!im->selection)
        return;
    const ImageBox &b = im->info.selectionBox;
    int lo = b.bottom < b.top ? b.bottom : b.top, hi = b.bottom < b.top ? b.top : b.bottom;
    *x0 = Clamp(b.left, 0, *x1);
    *x1 = Clamp(b.right, *x0, *x1);
    *y0 = Clamp(lo, 0, *y1);
    *y1 = Clamp(hi, *y0, *y1);
}

static int FilterResult(int64_t s, int64_t used, int64_t total, int divisor, int offset)
{
    int64_t v;
    if (divisor && used)
        v = used == total ? offset + s / divisor : offset + s * total / ((int64_t)divisor * used);
    else
        v = s + offset;
    return (int)(v < 0 ? 0 : v > 255 ? 255 : v);
}

bool CDibImage::Filter(const int *kernel, int size, int divisor, int offset)
{
    if (!dib || !kernel || size < 1)
        return false;
    int64_t total = 0;
    for (int i = 0; i < size * size; i++)
        total += kernel[i];
    CDibImage tmp(*this, true, true, true);
    if (!tmp.IsValid()) {
        SetError(tmp.info.lastError);
        return false;
    }
    bool onIndex = GetBpp() == 8 && IsGrayScale();
    int x0, y0, x1, y1, half = size / 2, w = GetWidth(), h = GetHeight();
    WorkRegion(this, &x0, &y0, &x1, &y1);
    for (int y = y0; y < y1; y++) {
        for (int x = x0; x < x1; x++) {
            int64_t sb = 0, sg = 0, sr = 0, used = 0;
            for (int r = 0; r < size; r++) {
                int py = y + r - half;
                if (py < 0 || py >= h)
                    continue;
                for (int q = 0; q < size; q++) {
                    int px = x + q - half;
                    if (px < 0 || px >= w)
                        continue;
                    int k = kernel[r * size + q];
                    used += k;
                    if (onIndex) {
                        sb += (int64_t)k * BlindGetPixelIndex(px, py);
                    } else {
                        RGBQUAD c = BlindGetPixelColor(px, py);
                        sb += (int64_t)k * c.rgbBlue;
                        sg += (int64_t)k * c.rgbGreen;
                        sr += (int64_t)k * c.rgbRed;
                    }
                }
            }
            if (onIndex) {
                tmp.BlindSetPixelIndex(x, y, (uint8_t)FilterResult(sb, used, total, divisor, offset));
            } else {
                RGBQUAD c = {(BYTE)FilterResult(sb, used, total, divisor, offset),
                             (BYTE)FilterResult(sg, used, total, divisor, offset),
                             (BYTE)FilterResult(sr, used, total, divisor, offset), 0};
                tmp.BlindSetPixelColor(x, y, c);
            }
        }
        if (!RowDone(this, y - y0, y1 - y0))
            break;
    }
    tmp.info.progress = info.progress;
    return Transfer(tmp, true);
}

// ---- Flip, Mirror, rotations ----------------------------------------------------

bool CDibImage::Flip()
{
    if (!dib)
        return false;
    int stride = info.rowStride, h = GetHeight();
    unsigned char *buffer = (unsigned char *)malloc(stride > 0 ? stride : 1);
    if (!buffer)
        return false;
    for (int y = 0; y < h / 2; y++) {
        unsigned char *a = GetBits(y), *b = GetBits(h - 1 - y);
        memcpy(buffer, a, stride);
        memcpy(a, b, stride);
        memcpy(b, buffer, stride);
    }
    free(buffer);
    return true;
}

bool CDibImage::Mirror()
{
    if (!dib)
        return false;
    CDibImage tmp(*this, false, true, true);
    if (!tmp.IsValid()) {
        SetError(tmp.info.lastError);
        return false;
    }
    int w = GetWidth();
    for (int y = 0; y < GetHeight(); y++) {
        const unsigned char *src = GetBits(y);
        unsigned char *dst = tmp.GetBits(y);
        if (GetBpp() == 24) {
            for (int x = 0; x < w; x++)
                memcpy(dst + 3 * x, src + 3 * (w - 1 - x), 3);
        } else if (GetBpp() == 8) {
            for (int x = 0; x < w; x++)
                dst[x] = src[w - 1 - x];
        } else {
            for (int x = 0; x < w; x++)
                tmp.BlindSetPixelIndex(x, y, BlindGetPixelIndex(w - 1 - x, y));
        }
    }
    return Transfer(tmp, true);
}

bool CDibImage::RotateInto(CDibImage *target, bool left)
{
    if (!dib)
        return false;
    int w = GetWidth(), h = GetHeight();
    CDibImage tmp(FORMAT_UNKNOWN);
    if (!MakeLike(tmp, h, w, GetBpp()))
        return false;
    const int tile = 64;
    bool rgb = GetBpp() == 24;
    for (int ty = 0; ty < w; ty += tile)           // new rows: w of them
        for (int tx = 0; tx < h; tx += tile)       // new columns: h of them
            for (int y = ty; y < ty + tile && y < w; y++)
                for (int x = tx; x < tx + tile && x < h; x++) {
                    int ox = left ? y : w - 1 - y, oy = left ? h - 1 - x : x;
                    if (rgb)
                        memcpy(tmp.GetBits(y) + 3 * x, GetBits(oy) + 3 * ox, 3);
                    else
                        tmp.BlindSetPixelIndex(x, y, BlindGetPixelIndex(ox, oy));
                }
    return (target ? target : this)->Transfer(tmp, true);
}

bool CDibImage::RotateLeft(CDibImage *target) { return RotateInto(target, true); }
bool CDibImage::RotateRight(CDibImage *target) { return RotateInto(target, false); }

// ---- IncreaseBpp, Negative -------------------------------------------------------

bool CDibImage::IncreaseBpp(int bits)
{
    if (!dib || (bits != 4 && bits != 8 && bits != 24))
        return false;
    if (bits == GetBpp())
        return true;
    if (bits < GetBpp())
        return false;
    CDibImage tmp(FORMAT_UNKNOWN);
    if (!MakeLike(tmp, GetWidth(), GetHeight(), bits))
        return false;
    for (int y = 0; y < GetHeight(); y++)
        for (int x = 0; x < GetWidth(); x++) {
            if (bits == 24)
                tmp.BlindSetPixelColor(x, y, BlindGetPixelColor(x, y));
            else
                tmp.BlindSetPixelIndex(x, y, BlindGetPixelIndex(x, y));
        }
    if (bits == 24 && info.backgroundIndex >= 0)
        tmp.info.backgroundColor = GetPaletteColor(info.backgroundIndex);
    return Transfer(tmp, true);
}

bool CDibImage::Negative()
{
    if (!dib)
        return false;
    int x0, y0, x1, y1;
    WorkRegion(this, &x0, &y0, &x1, &y1);
    if (GetBpp() == 24) {
        for (int y = y0; y < y1; y++) {
            unsigned char *row = GetBits(y);
            for (int i = 3 * x0; i < 3 * x1; i++)
                row[i] = (unsigned char)~row[i];
        }
        info.backgroundColor.rgbBlue = (BYTE)~info.backgroundColor.rgbBlue;
        info.backgroundColor.rgbGreen = (BYTE)~info.backgroundColor.rgbGreen;
        info.backgroundColor.rgbRed = (BYTE)~info.backgroundColor.rgbRed;
        return true;
    }
    if (!IsGrayScale()) {
        RGBQUAD *pal = GetPalette();
        for (int i = 0; pal && i < GetNumColors(); i++) {
            pal[i].rgbBlue = (BYTE)~pal[i].rgbBlue;
            pal[i].rgbGreen = (BYTE)~pal[i].rgbGreen;
            pal[i].rgbRed = (BYTE)~pal[i].rgbRed;
        }
        info.lastValid = 0;
        return true;
    }
    int top = GetNumColors() - 1;
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++)
            BlindSetPixelIndex(x, y, (uint8_t)(top - BlindGetPixelIndex(x, y)));
    return true;
}
