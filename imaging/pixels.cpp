// Pixel access, interpolation kernels and sampling at fractional positions.
#include "image.h"

#include <math.h>
#include <string.h>

static const float kPi = 3.14159265358979f;

static RGBQUAD MakeColor(int b, int g, int r)
{
    RGBQUAD c = {(BYTE)b, (BYTE)g, (BYTE)r, 0};
    return c;
}

static RGBQUAD Replacement(const RGBQUAD *replacement)
{
    if (!replacement)
        return MakeColor(255, 255, 255);
    RGBQUAD c = *replacement;
    c.rgbReserved = 0;
    return c;
}

// ---- checked and unchecked access -----------------------------------------------

RGBQUAD CDibImage::BlindGetPixelColor(int x, int y) const
{
    if (head.biClrUsed) {
        RGBQUAD c = GetPaletteColor(BlindGetPixelIndex(x, y));
        c.rgbReserved = 0;
        return c;
    }
    const unsigned char *p = info.pixels + (size_t)y * info.rowStride + 3 * x;
    return MakeColor(p[0], p[1], p[2]);
}

uint8_t CDibImage::BlindGetPixelIndex(int x, int y) const
{
    const unsigned char *row = info.pixels + (size_t)y * info.rowStride;
    switch (GetBpp()) {
    case 8: return row[x];
    case 4: return (uint8_t)((row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15);
    case 1: return (uint8_t)((row[x >> 3] >> (7 - (x & 7))) & 1);
    default: return 0;
    }
}

void CDibImage::BlindSetPixelIndex(int x, int y, uint8_t index)
{
    unsigned char *row = info.pixels + (size_t)y * info.rowStride;
    switch (GetBpp()) {
    case 8:
        row[x] = index;
        break;
    case 4: {
        int shift = (x & 1) ? 0 : 4;
        row[x >> 1] = (unsigned char)((row[x >> 1] & ~(15 << shift)) | ((index & 15) << shift));
        break;
    }
    case 1: {
        int bit = 7 - (x & 7);
        row[x >> 3] = (unsigned char)((row[x >> 3] & ~(1 << bit)) | ((index & 1) << bit));
        break;
    }
    default:
        break;
    }
}

void CDibImage::BlindSetPixelColor(int x, int y, RGBQUAD c)
{
    if (head.biClrUsed) {
        BlindSetPixelIndex(x, y, (uint8_t)GetNearestIndex(c));
        return;
    }
    unsigned char *p = info.pixels + (size_t)y * info.rowStride + 3 * x;
    p[0] = c.rgbBlue;
    p[1] = c.rgbGreen;
    p[2] = c.rgbRed;
}

RGBQUAD CDibImage::GetPixelColor(int x, int y) const
{
    if (dib && IsInside(x, y))
        return BlindGetPixelColor(x, y);
    if (info.backgroundIndex >= 0) {
        if (GetBpp() < 24) {
            RGBQUAD c = GetPaletteColor(info.backgroundIndex);
            c.rgbReserved = 0;
            return c;
        }
        return info.backgroundColor;
    }
    if (dib)
        return BlindGetPixelColor(0, 0);
    return info.backgroundColor;
}

uint8_t CDibImage::GetPixelGray(int x, int y) const
{
    RGBQUAD c = GetPixelColor(x, y);
    return (uint8_t)((306 * c.rgbRed + 601 * c.rgbGreen + 117 * c.rgbBlue) >> 10);
}

uint8_t CDibImage::GetPixelIndex(int x, int y) const
{
    if (!dib || !head.biClrUsed || GetBpp() > 8)
        return 0;
    if (IsInside(x, y))
        return BlindGetPixelIndex(x, y);
    if (info.backgroundIndex >= 0)
        return (uint8_t)info.backgroundIndex;
    return info.pixels[0];
}

void CDibImage::SetPixelIndex(int x, int y, uint8_t index)
{
    if (dib && head.biClrUsed && GetBpp() <= 8 && IsInside(x, y))
        BlindSetPixelIndex(x, y, index);
}

void CDibImage::SetPixelColor(int x, int y, RGBQUAD c)
{
    if (dib && IsInside(x, y))
        BlindSetPixelColor(x, y, c);
}

void CDibImage::SetPixelColorRGB(int x, int y, uint32_t rgb)
{
    SetPixelColor(x, y, RGBtoRGBQUAD(rgb));
}

// ---- overflow -----------------------------------------------------------------------

// The colour the fixed overflow methods (colour, background, transparent) give.
static RGBQUAD FixedOverflow(const CDibImage *im, int overflow, const RGBQUAD *replacement)
{
    if (overflow == OM_BACKGROUND && im->info.backgroundIndex >= 0) {
        if (im->GetBpp() == 24) {
            RGBQUAD c = im->info.backgroundColor;
            c.rgbReserved = 0;
            return c;
        }
        RGBQUAD c = im->GetPaletteColor(im->info.backgroundIndex);
        c.rgbReserved = 0;
        return c;
    }
    if (overflow == OM_TRANSPARENT && im->info.backgroundIndex >= 0) {
        RGBQUAD c = im->GetTransColor();
        c.rgbReserved = 0;
        return c;
    }
    return Replacement(replacement);
}

static int WrapIndex(int v, int n)
{
    int r = v % n;
    return r < 0 ? r + n : r;
}

static int MirrorIndex(int v, int n)
{
    if (v < 0)
        return (-v) % n;
    if (v >= n)
        return n - (v % n) - 1;
    return v;
}

RGBQUAD CDibImage::GetPixelColorWithOverflow(int x, int y, int overflow, const RGBQUAD *replacement) const
{
    if (!dib)
        return Replacement(replacement);
    if (IsInside(x, y))
        return BlindGetPixelColor(x, y);
    int w = GetWidth(), h = GetHeight();
    switch (overflow) {
    case OM_WRAP:
        return BlindGetPixelColor(WrapIndex(x, w), WrapIndex(y, h));
    case OM_REPEAT:
        return BlindGetPixelColor(x < 0 ? 0 : x >= w ? w - 1 : x, y < 0 ? 0 : y >= h ? h - 1 : y);
    case OM_MIRROR:
        return BlindGetPixelColor(MirrorIndex(x, w), MirrorIndex(y, h));
    default:
        return FixedOverflow(this, overflow, replacement);
    }
}

// ---- kernels --------------------------------------------------------------------------

static float Sinc(float u)
{
    if (u == 0.0f)
        return 1.0f;
    float a = kPi * u;
    return (float)sin(a) / a;
}

// Bessel function of the first kind, order one, by its power series; the
// kernel only evaluates it for |x| below about 3 pi, where the series is exact
// to far better than single precision.
static double BesselJ1(double x)
{
    double half = x / 2, term = half, sum = half;
    for (int k = 1; k < 60 && fabs(term) > 1e-17 * fabs(sum); k++) {
        term *= -half * half / (k * (k + 1.0));
        sum += term;
    }
    return sum;
}

static float Cube(float u) { return u > 0.0f ? u * u * u : 0.0f; }

static float KernelBSpline(float t)
{
    if (t > 2.0f)
        return 0.0f;
    return 0.16666667f * (Cube(t + 2) - 4 * Cube(t + 1) + 6 * Cube(t) - 4 * Cube(t - 1));
}

static float KernelBicubic(float t)
{
    float s = fabsf(t);
    if (s < 1)
        return 1 - 2 * s * s + s * s * s;
    if (s < 2)
        return 4 - 8 * s + 5 * s * s - s * s * s;
    return 0;
}

static float KernelBicubic2(float t)
{
    const float a = -0.5f;
    float s = fabsf(t);
    if (s < 1)
        return (a + 2) * s * s * s - (a + 3) * s * s + 1;
    if (s < 2)
        return a * s * s * s - 5 * a * s * s + 8 * a * s - 4 * a;
    return 0;
}

static float KernelQuadratic(float t)
{
    if (t < -1.5f)
        return 0;
    if (t < -0.5f)
        return 0.5f * (t + 1.5f) * (t + 1.5f);
    if (t < 0.5f)
        return 0.75f - t * t;
    if (t < 1.5f)
        return 0.5f * (t - 1.5f) * (t - 1.5f);
    return 0;
}

static float KernelMitchell(float t)
{
    float s = fabsf(t);
    if (s < 1)
        return 1.1666666f * s * s * s - 2 * s * s + 0.8888889f;
    if (s < 2)
        return -0.38888887f * s * s * s + 2 * s * s - 3.3333333f * s + 1.7777778f;
    return 0;
}

static float KernelCatmullRom(float t)
{
    if (t < -2)
        return 0;
    if (t < -1)
        return 0.5f * (((t + 5) * t + 8) * t + 4);
    if (t < 0)
        return 0.5f * (t * t * (-5 - 3 * t) + 2);
    if (t < 1)
        return 0.5f * (t * t * (3 * t - 5) + 2);
    if (t < 2)
        return 0.5f * (((5 - t) * t - 8) * t + 4);
    return 0;
}

float ImageKernel(int method, float t)
{
    switch (method) {
    case IM_BSPLINE: return KernelBSpline(t);
    case IM_BICUBIC: return KernelBicubic(t);
    case IM_BICUBIC2: return KernelBicubic2(t);
    case IM_LANCZOS: return fabsf(t) <= 6 ? Sinc(t) * Sinc(t / 6) : 0;
    case IM_BOX: return t >= -0.5f && t < 0.5f ? 1.0f : 0.0f;
    case IM_HERMITE: return t >= -1 && t < 1 ? (2 * fabsf(t) - 3) * t * t + 1 : 0;
    case IM_HAMMING: return t >= -1 && t < 1 ? 1 + 0.92f * (2 * fabsf(t) - 3) * t * t : 0;
    case IM_SINC: return Sinc(t);
    case IM_BLACKMAN: return 0.42f + 0.5f * (float)cos(kPi * t) + 0.08f * (float)cos(2 * kPi * t);
    case IM_BESSEL: return t == 0 ? 0.7853982f : (float)BesselJ1(kPi * t) / (2 * t);
    case IM_GAUSSIAN: return (float)exp(-2.0f * t * t) * 0.7978845834732056f;
    case IM_QUADRATIC: return KernelQuadratic(t);
    case IM_MITCHELL: return KernelMitchell(t);
    case IM_CATROM: return KernelCatmullRom(t);
    case IM_HANNING: return fabsf(t) <= 1 ? Sinc(t) * (0.5f + 0.5f * (float)cos(kPi * t)) : 0;
    case IM_POWER: return fabsf(t) <= 1 ? 1 - t * t : 0;
    default: return 0;
    }
}

// ---- interpolation ------------------------------------------------------------------

static BYTE ClampChannel(float v)
{
    if (v <= 0)
        return 0;
    if (v >= 255)
        return 255;
    return (BYTE)v;
}

// Brings a position whose whole support is outside back into the image.
static float RemapCoordinate(float v, int n, int overflow)
{
    if (overflow == OM_WRAP) {
        v = (float)fmod(v, (float)n);
        return v < 0 ? v + n : v;
    }
    if (overflow == OM_REPEAT)
        return v < 0 ? 0 : v > n - 1 ? (float)(n - 1) : v;
    if (v < 0)
        return (float)fmod(-v, (float)n);
    if (v >= n)
        return n - ((float)fmod(v, (float)n) + 1);
    return v;
}

static RGBQUAD Bilinear(const CDibImage *im, float x, float y, int i, int j, int overflow,
                        const RGBQUAD *replacement)
{
    float dx = x - i, dy = y - j;
    int w = im->GetWidth(), h = im->GetHeight();
    if (i >= 0 && j >= 0 && i + 1 < w && j + 1 < h && im->GetBpp() == 24 && !im->head.biClrUsed) {
        int fx = (int)(dx * 256), fy = (int)(dy * 256);
        int w11 = (fx * fy) >> 8, w10 = fx - w11, w01 = fy - w11, w00 = 256 - fx - fy + w11;
        const unsigned char *p0 = im->info.pixels + (size_t)j * im->info.rowStride + 3 * i;
        const unsigned char *p1 = p0 + im->info.rowStride;
        int c[3];
        for (int k = 0; k < 3; k++)
            c[k] = (w00 * p0[k] + w10 * p0[k + 3] + w01 * p1[k] + w11 * p1[k + 3]) >> 8;
        return MakeColor(c[0], c[1], c[2]);
    }
    RGBQUAD a = im->GetPixelColorWithOverflow(i, j, overflow, replacement);
    RGBQUAD b = im->GetPixelColorWithOverflow(i + 1, j, overflow, replacement);
    RGBQUAD c = im->GetPixelColorWithOverflow(i, j + 1, overflow, replacement);
    RGBQUAD d = im->GetPixelColorWithOverflow(i + 1, j + 1, overflow, replacement);
    float wa = (1 - dx) * (1 - dy), wb = dx * (1 - dy), wc = (1 - dx) * dy, wd = dx * dy;
    return MakeColor((int)(wa * a.rgbBlue + wb * b.rgbBlue + wc * c.rgbBlue + wd * d.rgbBlue),
                     (int)(wa * a.rgbGreen + wb * b.rgbGreen + wc * c.rgbGreen + wd * d.rgbGreen),
                     (int)(wa * a.rgbRed + wb * b.rgbRed + wc * c.rgbRed + wd * d.rgbRed));
}

// Separable kernel over taps i-before .. i+after on each axis.
static RGBQUAD KernelSample(const CDibImage *im, float x, float y, int i, int j, int method,
                            int before, int after, int overflow, const RGBQUAD *replacement)
{
    float wx[12], wy[12];
    int taps = before + after + 1;
    for (int k = 0; k < taps; k++) {
        wx[k] = ImageKernel(method, i - before + k - x);
        wy[k] = ImageKernel(method, j - before + k - y);
    }
    int w = im->GetWidth(), h = im->GetHeight();
    bool direct = i - before >= 0 && i + after < w && j - before >= 0 && j + after < h &&
                  im->GetBpp() == 24 && !im->head.biClrUsed;
    float sb = 0, sg = 0, sr = 0;
    for (int m = 0; m < taps; m++) {
        int py = j - before + m;
        for (int n = 0; n < taps; n++) {
            int px = i - before + n;
            RGBQUAD c = direct ? im->BlindGetPixelColor(px, py)
                               : im->GetPixelColorWithOverflow(px, py, overflow, replacement);
            float weight = wx[n] * wy[m];
            sb += weight * c.rgbBlue;
            sg += weight * c.rgbGreen;
            sr += weight * c.rgbRed;
        }
    }
    RGBQUAD c = {ClampChannel(sb), ClampChannel(sg), ClampChannel(sr), 0};
    return c;
}

RGBQUAD CDibImage::InterpolatePixel(float x, float y, int method, int overflow,
                                    const RGBQUAD *replacement) const
{
    if (method == IM_NEAREST)
        return GetPixelColorWithOverflow((int)(x + 0.5f), (int)(y + 0.5f), overflow, replacement);
    if (!dib)
        return Replacement(replacement);
    int w = GetWidth(), h = GetHeight();
    bool kernel4 = method >= IM_BSPLINE && method <= IM_POWER && method != IM_LANCZOS;
    int before = method == IM_LANCZOS ? 5 : kernel4 ? 1 : 0;
    int after = method == IM_LANCZOS ? 6 : kernel4 ? 2 : 1;
    int i = (int)floorf(x), j = (int)floorf(y);
    // The support is i-before .. i+after on each axis.
    bool outside = i + after < 0 || i - before >= w || j + after < 0 || j - before >= h;
    if (outside) {
        if (overflow != OM_WRAP && overflow != OM_REPEAT && overflow != OM_MIRROR)
            return FixedOverflow(this, overflow, replacement);
        x = RemapCoordinate(x, w, overflow);
        y = RemapCoordinate(y, h, overflow);
        i = (int)floorf(x);
        j = (int)floorf(y);
    }
    if (method == IM_LANCZOS || kernel4)
        return KernelSample(this, x, y, i, j, method, before, after, overflow, replacement);
    return Bilinear(this, x, y, i, j, overflow, replacement);
}

// Covered length of the unit cell centred on p by the span [a, b].
static float Overlap(int p, float a, float b)
{
    float lo = p - 0.5f > a ? p - 0.5f : a;
    float hi = p + 0.5f < b ? p + 0.5f : b;
    return hi > lo ? hi - lo : 0;
}

RGBQUAD CDibImage::InterpolateArea(float x, float y, float w, float h, int method, int overflow,
                                   const RGBQUAD *replacement) const
{
    if ((w <= 1 && h <= 1) || w <= 0 || h <= 0)
        return InterpolatePixel(x, y, method, overflow, replacement);
    float x0 = x - w / 2, x1 = x + w / 2, y0 = y - h / 2, y1 = y + h / 2;
    int px0 = (int)floorf(x0 + 0.5f), px1 = (int)floorf(x1 + 0.5f);
    int py0 = (int)floorf(y0 + 0.5f), py1 = (int)floorf(y1 + 0.5f);
    bool both = w > 1 && h > 1;
    float sb = 0, sg = 0, sr = 0;
    for (int py = py0; py <= py1; py++) {
        float cy = Overlap(py, y0, y1);
        if (cy <= 0)
            continue;
        for (int px = px0; px <= px1; px++) {
            float cx = Overlap(px, x0, x1);
            if (cx <= 0)
                continue;
            RGBQUAD c;
            if (both) {
                c = GetPixelColorWithOverflow(px, py, overflow, replacement);
            } else {
                float mx = (fmaxf(px - 0.5f, x0) + fminf(px + 0.5f, x1)) / 2;
                float my = (fmaxf(py - 0.5f, y0) + fminf(py + 0.5f, y1)) / 2;
                c = InterpolatePixel(mx, my, method, overflow, replacement);
            }
            float weight = cx * cy;
            sb += weight * c.rgbBlue;
            sg += weight * c.rgbGreen;
            sr += weight * c.rgbRed;
        }
    }
    float surface = w * h;
    RGBQUAD c = {ClampChannel(sb / surface), ClampChannel(sg / surface), ClampChannel(sr / surface), 0};
    return c;
}
