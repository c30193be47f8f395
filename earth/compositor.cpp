// The compositor: every view of a job list rendered into one 24-bit bitmap
// that is written beside the target and moved over it only when complete.
//
// Per view the work is split into a set-up (maps, tables of the byte-valued
// power curves, background picture, star field) and a per-pixel shader that
// follows the plain formulas; what depends only on the row or the column is
// worked out once for it. The rows of a view are handed out, band by band
// of the star field, to the calling thread and to worker threads kept
// between renders, one thread per processor core in all, inside the one
// render.
#include "earth/compositor.h"

#include <emmintrin.h>
#include <math.h>
#include <new>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "earth/compositor_helpers.h"
#include "earth/ephemeris.h"
#include "earth/labels.h"
#include "earth/maintenance.h"
#include "earth/mapfile.h"
#include "framework/seams.h"
#include "framework/application.h"
#include "framework/mappedfile.h"
#include "framework/recordfile.h"
#include "imaging/image.h"

static const double PI = 3.14159265358979323846;

// Helpers of the pixel loop that answer a double are inlined: on this
// target a double returned from a call travels through the x87 stack.
#define PIXEL_HELPER static inline __attribute__((always_inline))
static const double TWILIGHT_SPAN = 3.267256359733385;   // 1.04 pi
static const double DAY_RAMP_STEP = 0.01227184630308513; // pi / 256

const uint8_t LightPalette[LIGHT_PALETTE_ROWS][3] = {
    {0, 0, 0}, {2, 2, 4}, {4, 4, 8}, {5, 6, 11},
    {7, 8, 15}, {9, 10, 19}, {11, 12, 22}, {13, 14, 26},
    {14, 16, 30}, {16, 18, 34}, {18, 20, 38}, {20, 22, 41},
    {22, 24, 45}, {24, 26, 49}, {25, 28, 52}, {27, 30, 56},
    {29, 32, 60}, {30, 33, 60}, {32, 33, 61}, {33, 34, 61},
    {35, 35, 62}, {36, 35, 62}, {38, 36, 62}, {39, 37, 63},
    {40, 37, 63}, {42, 38, 63}, {43, 39, 64}, {45, 39, 64},
    {46, 40, 64}, {48, 41, 65}, {49, 41, 65}, {51, 42, 66},
    {52, 43, 66}, {53, 43, 66}, {55, 44, 67}, {56, 45, 67},
    {58, 45, 68}, {59, 46, 68}, {61, 47, 68}, {62, 47, 69},
    {64, 48, 69}, {65, 49, 69}, {66, 49, 70}, {68, 50, 70},
    {69, 51, 70}, {71, 51, 71}, {72, 52, 71}, {74, 53, 72},
    {75, 53, 72}, {76, 54, 72}, {78, 55, 73}, {79, 55, 73},
    {81, 56, 74}, {82, 57, 74}, {84, 57, 74}, {85, 58, 75},
    {86, 59, 75}, {88, 59, 75}, {89, 60, 76}, {91, 61, 76},
    {92, 61, 76}, {94, 62, 77}, {95, 63, 77}, {97, 63, 78},
    {98, 64, 78}, {99, 65, 78}, {100, 66, 78}, {101, 67, 79},
    {102, 68, 79}, {103, 69, 79}, {104, 70, 79}, {106, 71, 79},
    {107, 72, 80}, {108, 73, 80}, {109, 74, 80}, {110, 74, 80},
    {111, 75, 80}, {112, 76, 81}, {113, 77, 81}, {114, 78, 81},
    {115, 79, 81}, {116, 80, 81}, {117, 81, 82}, {118, 82, 82},
    {120, 83, 82}, {121, 84, 82}, {122, 85, 82}, {123, 86, 83},
    {124, 87, 83}, {125, 88, 83}, {126, 89, 83}, {127, 90, 83},
    {128, 91, 84}, {129, 92, 84}, {130, 93, 84}, {131, 94, 84},
    {132, 94, 84}, {134, 95, 85}, {135, 96, 85}, {136, 97, 85},
    {137, 98, 85}, {138, 99, 86}, {139, 100, 86}, {140, 101, 86},
    {141, 102, 86}, {142, 103, 86}, {143, 104, 87}, {144, 105, 87},
    {145, 106, 87}, {147, 107, 87}, {148, 108, 87}, {149, 109, 88},
    {150, 110, 88}, {151, 111, 88}, {152, 112, 88}, {153, 113, 88},
    {154, 114, 89}, {155, 115, 89}, {156, 115, 89}, {157, 116, 89},
    {158, 117, 89}, {159, 118, 90}, {161, 119, 90}, {162, 120, 90},
    {163, 121, 90}, {164, 122, 90}, {165, 123, 91}, {166, 124, 91},
    {167, 125, 91}, {170, 125, 90}, {172, 126, 89}, {175, 126, 88},
    {177, 126, 88}, {180, 126, 87}, {182, 127, 86}, {185, 127, 85},
    {187, 127, 84}, {190, 128, 83}, {192, 128, 83}, {195, 128, 82},
    {197, 128, 81}, {200, 129, 80}, {202, 129, 79}, {205, 129, 78},
    {208, 130, 78}, {210, 130, 77}, {213, 130, 76}, {215, 130, 75},
    {218, 131, 74}, {220, 131, 73}, {223, 131, 72}, {225, 131, 72},
    {228, 132, 71}, {230, 132, 70}, {233, 132, 69}, {235, 133, 68},
    {238, 133, 67}, {240, 133, 67}, {243, 133, 66}, {245, 134, 65},
    {248, 134, 64}, {248, 135, 65}, {248, 136, 66}, {248, 137, 67},
    {248, 138, 68}, {249, 139, 69}, {249, 140, 70}, {249, 141, 71},
    {249, 142, 72}, {249, 143, 73}, {249, 144, 74}, {249, 145, 76},
    {249, 146, 77}, {249, 147, 78}, {250, 148, 79}, {250, 149, 80},
    {250, 150, 81}, {250, 150, 82}, {250, 151, 83}, {250, 152, 84},
    {250, 153, 85}, {250, 154, 86}, {250, 155, 87}, {251, 156, 88},
    {251, 157, 89}, {251, 158, 90}, {251, 159, 91}, {251, 160, 92},
    {251, 161, 93}, {251, 162, 94}, {251, 163, 95}, {251, 164, 96},
    {252, 165, 98}, {252, 166, 99}, {252, 167, 100}, {252, 168, 101},
    {252, 169, 102}, {252, 170, 103}, {252, 171, 104}, {252, 172, 105},
    {252, 173, 106}, {252, 174, 107}, {253, 175, 108}, {253, 176, 109},
    {253, 177, 110}, {253, 178, 111}, {253, 179, 112}, {253, 180, 113},
    {253, 180, 114}, {253, 181, 115}, {253, 182, 116}, {254, 183, 117},
    {254, 184, 118}, {254, 185, 119}, {254, 186, 121}, {254, 187, 122},
    {254, 188, 123}, {254, 189, 124}, {254, 190, 125}, {254, 191, 126},
    {255, 192, 127}, {255, 193, 128}, {255, 194, 129}, {255, 195, 130},
    {255, 196, 131}, {255, 198, 134}, {255, 200, 137}, {255, 202, 140},
    {255, 203, 142}, {255, 205, 145}, {255, 207, 148}, {255, 209, 151},
    {255, 211, 154}, {255, 213, 157}, {255, 215, 159}, {255, 217, 162},
    {255, 218, 165}, {255, 220, 168}, {255, 222, 171}, {255, 224, 174},
    {255, 226, 176}, {255, 228, 179}, {255, 230, 182}, {255, 232, 185},
    {255, 233, 188}, {255, 235, 191}, {255, 237, 193}, {255, 239, 196},
    {255, 241, 199}, {255, 243, 202}, {255, 245, 205}, {255, 247, 208},
    {255, 248, 210}, {255, 250, 213}, {255, 252, 216}, {255, 254, 219},
};

uint8_t *SeasonMask;
int gScreenX, gScreenY, gScreenW, gScreenH;
int gComposeCopyAttempts = 61;
int gComposeCopyPauseMs = 1000;

// --- Colour adjustment ---

// One set of saturation, contrast and brightness settings, with the power
// curve of the brightness tabulated for the byte range.
struct ColourAdjust {
    int identity;          // all three settings 0: nothing changes
    int saturation, contrast, brightness;
    double d, h, scale;
    uint8_t curve[256];    // 255 (c / 255) ^ ((100 - bri) / 100), brightness >= 1
    uint8_t *table;        // the result for [grey][channel], or null
};

static void PrepareAdjust(ColourAdjust *a, int saturation, int contrast, int brightness)
{
    a->saturation = saturation;
    a->contrast = contrast;
    a->brightness = brightness;
    a->identity = saturation == 0 && contrast == 0 && brightness == 0;
    a->d = saturation < 0 ? 1 + saturation / 100.0 : 1 + 2 * saturation / 100.0;
    a->h = 1 + contrast / 100.0;
    a->scale = 1 + brightness / 100.0;
    if (brightness >= 1)
        for (int c = 0; c < 256; c++)
            a->curve[c] = (uint8_t)(int)(255 * pow(c / 255.0, (100 - brightness) / 100.0));
}

static int AdjustChannel(const ColourAdjust *a, int c, int grey)
{
    if (a->saturation)
        c = (int)(c * a->d + (1 - a->d) * grey);
    if (a->contrast)
        c = (int)(c * a->h + (1 - a->h) * 80);
    if (a->brightness < 1)
        c = (int)(c * a->scale);
    else if (c < 0)
        c = 0;   // the power of a negative channel has no value: black
    else
        c = c > 255 ? 255 : a->curve[c];
    return c < 0 ? 0 : c > 255 ? 255 : c;
}

// A channel's result depends only on the channel and the grey, both bytes
// in the render loop: the renders look it up in a table of all of them.
static void TabulateAdjust(ColourAdjust *a)
{
    a->table = a->identity ? 0 : (uint8_t *)malloc(256 * 256);
    if (a->table)
        for (int grey = 0; grey < 256; grey++)
            for (int c = 0; c < 256; c++)
                a->table[grey * 256 + c] = (uint8_t)AdjustChannel(a, c, grey);
}

static void FreeAdjust(ColourAdjust *a)
{
    free(a->table);
    a->table = 0;
}

// Adjusts rgb in place; answers the grey taken before any change.
PIXEL_HELPER int ApplyAdjust(const ColourAdjust *a, int rgb[3])
{
    int grey = (2 * rgb[0] + 5 * rgb[1] + rgb[2]) / 8;
    if (a->identity)
        return grey;
    bool bytes = (unsigned)rgb[0] < 256 && (unsigned)rgb[1] < 256 && (unsigned)rgb[2] < 256;
    if (a->table && bytes) {
        // All three read before any store: a store to rgb might, as far as
        // the compiler knows, change the table's bytes.
        const uint8_t *row = a->table + grey * 256;
        int r = row[rgb[0]], g = row[rgb[1]], b = row[rgb[2]];
        rgb[0] = r;
        rgb[1] = g;
        rgb[2] = b;
    } else {
        for (int k = 0; k < 3; k++)
            rgb[k] = AdjustChannel(a, rgb[k], grey);
    }
    return grey;
}

int AdjustColour(int *r, int *g, int *b, int saturation, int contrast, int brightness)
{
    ColourAdjust a;
    PrepareAdjust(&a, saturation, contrast, brightness);
    a.table = 0;
    int rgb[3] = {*r, *g, *b};
    for (int k = 0; k < 3; k++)
        rgb[k] = rgb[k] < 0 ? 0 : rgb[k] > 255 ? 255 : rgb[k];
    int grey = ApplyAdjust(&a, rgb);
    *r = rgb[0];
    *g = rgb[1];
    *b = rgb[2];
    return grey;
}

// --- Maps ---

// One image of a map file, read through a window. With the window holding
// the whole image, samples come straight from the buffer.
struct MapImage {
    BufferedReader reader;
    int64_t offset;
    int width, height, bytes;
    const uint8_t *direct;   // the image's first byte, or null
    int open;
    HANDLE mapping;          // the mapped view of the image, when mapped
    void *view;
};

// Maps just the image's bytes of the file: a monthly map of the largest
// size is hundreds of megabytes, more than a 32-bit process can map whole.
static bool MapImageView(MapImage *m, int64_t size)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    int64_t start = m->offset - m->offset % system.dwAllocationGranularity;
    m->mapping = CreateFileMappingA(m->reader.file, 0, PAGE_READONLY, 0, 0, 0);
    if (!m->mapping)
        return false;
    m->view = MapViewOfFile(m->mapping, FILE_MAP_READ, (DWORD)(start >> 32), (DWORD)start,
                            (SIZE_T)(m->offset - start + size));
    if (!m->view) {
        CloseHandle(m->mapping);
        m->mapping = 0;
        return false;
    }
    m->direct = (const uint8_t *)m->view + (m->offset - start);
    return true;
}

// Whole-image access: mapped, or else read into a window of the whole image.
static void HoldWholeImage(MapImage *m, const char *path, int64_t size)
{
    if (MapImageView(m, size) || m->reader.Open(path, (int)size) != 0)
        return;
    uint8_t first;
    if (m->reader.windowSize == (int)size && m->reader.Read(m->offset, 1, &first) &&
        m->reader.windowStart == m->offset && (int64_t)m->reader.bytesRead >= size)
        m->direct = m->reader.buffer;
}

static bool OpenMapImage(MapImage *m, const char *path, int width, int height, int bytes,
                         int64_t offset, bool lowMemory)
{
    m->open = 0;
    m->direct = 0;
    int64_t size = MapImageBytes(width, height, bytes);
    if (size < 0)
        return false;   // larger than one view this process can hold
    // The reader starts small; the whole image is mapped, or read, below.
    if (m->reader.Open(path, 256) != 0)
        return false;
    if (m->reader.fileSize < offset + size) {
        m->reader.Close();   // a file too short for its stated size
        return false;
    }
    m->offset = offset;
    m->width = width;
    m->height = height;
    m->bytes = bytes;
    m->open = 1;
    if (!lowMemory)
        HoldWholeImage(m, path, size);
    return true;
}

static void CloseMapImage(MapImage *m)
{
    if (m->view)
        UnmapViewOfFile(m->view);
    if (m->mapping)
        CloseHandle(m->mapping);
    m->view = 0;
    m->mapping = 0;
    m->reader.Close();
    m->open = 0;
    m->direct = 0;
}



// Where a bilinear sample reads: the four corner pixels' indices and the
// fractions. The day map, the next month and the urban map share one
// geometry, so a globe pixel works it out once for the three of them.
struct Corners {
    size_t topLeft, topRight, bottomLeft, bottomRight;
    double dx, dy;
};

// MapWrapIndex for an int: on this target the 64-bit one costs a pixel
// loop dearly.
PIXEL_HELPER int WrapInt(int value, int size)
{
    if (value >= 0 && value < size)
        return value;
    if (value < 0 && value >= -size)
        return value + size;
    int wrapped = value % size;
    return wrapped < 0 ? wrapped + size : wrapped;
}

// The corners of (x, y) on a map of width x height, as SampleDirect takes
// them; false for coordinates it would hand on to the reader.
PIXEL_HELPER bool CornersAt(double x, double y, int width, int height, Corners *at)
{
    if (!(absValue(x) < 1e9 && absValue(y) < 1e9))
        return false;
    double fx = floorValue(x), fy = floorValue(y);
    at->dx = x - fx;
    at->dy = y - fy;
    size_t x0 = WrapInt((int)fx, width), x1 = WrapInt((int)fx + 1, width);
    size_t y0 = WrapInt((int)fy, height) * (size_t)width;
    size_t y1 = WrapInt((int)fy + 1, height) * (size_t)width;
    at->topLeft = x0 + y0;
    at->topRight = x1 + y0;
    at->bottomLeft = x0 + y1;
    at->bottomRight = x1 + y1;
    return true;
}

// SampleDirect's bilinear result from corners worked out before.
PIXEL_HELPER void SampleCorners(const MapImage *m, const Corners *at, uint8_t *out)
{
    const uint8_t *p = m->direct;
    int n = m->bytes;
    const uint8_t *tl = p + n * at->topLeft, *tr = p + n * at->topRight;
    const uint8_t *bl = p + n * at->bottomLeft, *br = p + n * at->bottomRight;
    for (int c = 0; c < n; c++)
        out[c] = MapBilinearChannel(tl[c], tr[c], bl[c], br[c], at->dx, at->dy);
}

// SampleMap's result, bit for bit, without going through the reader.
static void SampleDirect(const MapImage *m, double x, double y, bool bilinear, uint8_t *out)
{
    const uint8_t *p = m->direct;
    int w = m->width, n = m->bytes;
    if (!bilinear) {
        const uint8_t *s = p + (size_t)n * (MapNearestIndex(x, w) + (size_t)w * MapNearestIndex(y, m->height));
        for (int c = 0; c < n; c++)
            out[c] = s[c];
        return;
    }
    Corners at;
    CornersAt(x, y, w, m->height, &at);   // the caller checked the range
    SampleCorners(m, &at, out);
}

// One corner for SampleFour: a colour pixel's three bytes and one byte of
// a grey map in the four bytes of an int.
PIXEL_HELPER int CornerBytes(const uint8_t *colour, const uint8_t *grey)
{
    uint16_t low;
    __builtin_memcpy(&low, colour, 2);   // not 4 bytes: the map's last pixel may end its view
    return low | colour[2] << 16 | (grey ? *grey : 0) << 24;
}

// The four corners of a colour map (and of a grey map of the same size, or
// none) as SampleFour takes them, one CornerBytes int each.
PIXEL_HELPER void CornerInts(const uint8_t *colour, const uint8_t *grey, const Corners *at,
                             int v[4])
{
    const size_t corners[4] = {at->topLeft, at->topRight, at->bottomLeft, at->bottomRight};
    for (int k = 0; k < 4; k++)
        v[k] = CornerBytes(colour + 3 * corners[k], grey ? grey + corners[k] : 0);
}

// The bilinear samples of those corners: the four channels in the lanes of
// SSE2 doubles, each lane rounded exactly as MapBilinearChannel rounds a
// channel.
PIXEL_HELPER void SampleFour(const int v[4], const Corners *at, uint8_t out[3], uint8_t *greyOut)
{
    __m128i bytes = _mm_setr_epi32(v[0], v[1], v[2], v[3]), zero = _mm_setzero_si128();
    __m128i upper = _mm_unpacklo_epi8(bytes, zero), lower = _mm_unpackhi_epi8(bytes, zero);
    __m128i tl = _mm_unpacklo_epi16(upper, zero), tr = _mm_unpackhi_epi16(upper, zero);
    __m128i bl = _mm_unpacklo_epi16(lower, zero), br = _mm_unpackhi_epi16(lower, zero);
    __m128d dx = _mm_set1_pd(at->dx), dy = _mm_set1_pd(at->dy);
    __m128d ox = _mm_set1_pd(1 - at->dx), oy = _mm_set1_pd(1 - at->dy);
    __m128i result[2];
    for (int half = 0; half < 2; half++) {
        __m128d a = _mm_cvtepi32_pd(half ? _mm_shuffle_epi32(tl, _MM_SHUFFLE(3, 2, 3, 2)) : tl);
        __m128d b = _mm_cvtepi32_pd(half ? _mm_shuffle_epi32(tr, _MM_SHUFFLE(3, 2, 3, 2)) : tr);
        __m128d c = _mm_cvtepi32_pd(half ? _mm_shuffle_epi32(bl, _MM_SHUFFLE(3, 2, 3, 2)) : bl);
        __m128d d = _mm_cvtepi32_pd(half ? _mm_shuffle_epi32(br, _MM_SHUFFLE(3, 2, 3, 2)) : br);
        // top = trunc(tl (1 - dx) + tr dx), bottom likewise, then the rows.
        __m128d top = _mm_cvtepi32_pd(_mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(a, ox), _mm_mul_pd(b, dx))));
        __m128d bottom =
            _mm_cvtepi32_pd(_mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(c, ox), _mm_mul_pd(d, dx))));
        result[half] = _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(top, oy), _mm_mul_pd(bottom, dy)));
    }
    out[0] = (uint8_t)_mm_cvtsi128_si32(result[0]);
    out[1] = (uint8_t)_mm_cvtsi128_si32(_mm_srli_si128(result[0], 4));
    out[2] = (uint8_t)_mm_cvtsi128_si32(result[1]);
    if (greyOut)
        *greyOut = (uint8_t)_mm_cvtsi128_si32(_mm_srli_si128(result[1], 4));
}

static void Sample(MapImage *m, double x, double y, bool bilinear, uint8_t *out)
{
    if (m->direct && absValue(x) < 1e9 && absValue(y) < 1e9)
        SampleDirect(m, x, y, bilinear, out);
    else if (!SampleMap(&m->reader, m->width, x, y, m->offset, m->height, out, m->bytes, bilinear))
        memset(out, 0, m->bytes);
}

// Whole pixel of a one-byte map, both directions wrapping.
static int PixelAt(MapImage *m, int x, int y)
{
    x = WrapInt(x, m->width);
    y = WrapInt(y, m->height);
    if (m->direct)
        return m->direct[x + (size_t)m->width * y];
    uint8_t v = 0;
    if (!m->reader.Read(m->offset + x + (int64_t)m->width * y, 1, &v))
        return 0;
    return v;
}

// The power curves of the glint (lit side, e ^ p) and of the night
// darkening (dark side, (-e) ^ p) of the sun's elevation e, tabulated per job
// over s = sqrt(1 - |cosA|), in which they are smooth (in cosA itself they
// are as steep as the arc cosine near the sun's and the antisolar point), and
// read with linear interpolation. Below an exponent of 1 the curve is steep
// where the elevation is 0, and the power is then taken as it is.
enum { CURVE_STEPS = 4096 };

static double Elevation(double cosA) { return 1 - 2 * fastAcos(cosA) / PI; }

struct PowerCurve {
    double exponent;
    int side;          // 1 lit, -1 dark
    int tabulated;
    double value[CURVE_STEPS + 2];
};

static void PreparePowerCurve(PowerCurve *c, double exponent, int side)
{
    c->exponent = exponent;
    c->side = side;
    c->tabulated = exponent >= 1;
    if (!c->tabulated)
        return;
    for (int i = 0; i <= CURVE_STEPS; i++) {
        double t = (double)i / CURVE_STEPS, cosA = side * (1 - t * t);
        c->value[i] = pow(side * Elevation(cosA), exponent);
    }
    c->value[CURVE_STEPS + 1] = c->value[CURVE_STEPS];
}

// The curve at a sun cosine on the curve's side.
PIXEL_HELPER double PowerOf(const PowerCurve *c, double cosA)
{
    double v = 1 - c->side * cosA;
    v = v < 0 ? 0 : v > 1 ? 1 : v;
    if (!c->tabulated)
        return pow(c->side * Elevation(cosA), c->exponent);
    double at = sqrt(v) * CURVE_STEPS;
    int i = (int)at;
    return c->value[i] + (at - i) * (c->value[i + 1] - c->value[i]);
}

// --- Per-job state ---


// The twilight band at one latitude: day weight 0 at lower, 1 at upper.
struct Twilight {
    double lower, upper;
};


struct BackgroundPicture {
    CImage image;
    int loaded;
    double left, top, width, height;   // placement rectangle, output pixels
    int tiled;
    double tileScale;                  // picture pixels per output pixel
    int offsetX, offsetY;
};

enum { CLOUD_LEVEL_DIFFERENCES = 1024 };   // levels reach 255 x 1.27 either side of 0

struct JobState {
    ViewOptions *view;
    ProjectionSetup projection;
    MapImage day, next, urban, clouds;
    double mixFraction;
    // This month's weight by the season mask's value, for the masked mixes.
    double seasonWeight[256];
    double cloudScale;
    double shadowStrength, cloudExponent, cloudOpacity;
    int cloudLevel[256];        // trunc(255 opacity (v / 255) ^ exponent)
    double cloudAlpha[256];     // (v / 255) ^ exponent x opacity
    // The shadow (0..1) for a difference of two cloud levels, and the
    // relief for g - q + 255: both are functions of a small integer.
    double cloudShadow[CLOUD_LEVEL_DIFFERENCES];
    uint8_t cloudRelief[511];
    int cloudOffsets[8][4];     // the octant table's neighbours as offsets in the cloud map
    int dayThreshold, nightThreshold;
    int bilinear;
    double sunLongitude, sunDeclination, sinDecl, cosDecl, cosSunLongitude, sinSunLongitude;
    Twilight *twilight;         // TWILIGHT_STEPS + 2 bands over cosLat 0..1 (globe)
    ColourAdjust dayAdjust, nightAdjust;
    PowerCurve glint, darkening;
    double nightColour[3];      // R G B of crNightColorization
    BackgroundPicture background;
    int hasBackgroundColour;
    int starsOn;
    LightSpot *stars;           // every cell row the job reaches, row 0 the one above it
    int starCells, starRow;
    float starDensity;
    int earthOn;                // day or night layer on
    // Percent settings as factors, worked out once: divisions are slow.
    double dayUrban;            // iDayUrban / 100 / 255
    double glintScale;          // iDaySunBright / 100 x 0.8 x 255
    double dayRemap, nightRemap;   // 255 / (255.001 - threshold)
    double nightColorization, nightDarkBright, nightLights;
    double twilightSlope, twilightBase;
    double innerHalo, innerIntensity, outerRing, outerExponent;
    double maskScaleX, maskScaleY;
    uint16_t blueAbove[256];    // the least byte b with b > 1.1 v (256 for none)
};


struct ComposeState {
    volatile uint8_t *cancel;
    uint8_t *pixels;            // first byte of the bottom row
    int width, height, stride;
    int shiftX, shiftY;
    int jobIndex, jobCount;
    double dayRamp[DAY_RAMP_ENTRIES];
};

static void ColourBytes(uint32_t colour, double rgb[3])
{
    rgb[0] = colour & 255;
    rgb[1] = (colour >> 8) & 255;
    rgb[2] = (colour >> 16) & 255;
}

static int ScreenWidth() { return gScreenW > 0 ? gScreenW : GetSystemMetrics(SM_CXSCREEN); }
static int ScreenHeight() { return gScreenH > 0 ? gScreenH : GetSystemMetrics(SM_CYSCREEN); }

static int DaysInMonth(int month, int year)
{
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 1 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0))
        return 29;
    return days[month];
}

static double MonthFraction(const ViewOptions *v)
{
    if (v->iSeasonDay > 0)
        return (v->iSeasonDay - 1) / 31.0;
    const struct tm *t = &v->tTime;
    int month = t->tm_mon >= 0 && t->tm_mon < 12 ? t->tm_mon : 0;
    double minutes = ((t->tm_mday - 1) * 24.0 + t->tm_hour) * 60 + t->tm_min;
    double f = minutes / (DaysInMonth(month, t->tm_year + 1900) * 1440.0);
    return f < 0 ? 0 : f > 1 ? 1 : f;
}

static int OpenDayMaps(JobState *j, const char *ext, bool lowMemory)
{
    ViewOptions *v = j->view;
    char path[MAX_PATH];
    if (snprintf(path, sizeof path, "%s\\%s.%s", InstallFolder(), v->szMap, ext) >= (int)sizeof path)
        return RENDER_NO_MAP;
    int month = 0;
    if (v->bSeasonEnable) {
        month = v->iSeasonMonth >= 1 && v->iSeasonMonth <= 12 ? v->iSeasonMonth - 1 : v->tTime.tm_mon;
        month = month >= 0 && month < 12 ? month : 0;
    }
    int64_t image = MapImageBytes(v->iMapW, v->iMapH, 3);
    if (image < 0)
        return RENDER_NO_MAP;
    if (!OpenMapImage(&j->day, path, v->iMapW, v->iMapH, 3, image * month, lowMemory))
        return RENDER_NO_MAP;
    if (v->bSeasonEnable && v->bSeasonMixNext) {
        if (!OpenMapImage(&j->next, path, v->iMapW, v->iMapH, 3, image * ((month + 1) % 12),
                          lowMemory))
            return RENDER_NO_MAP;
        j->mixFraction = MonthFraction(v);
    }
    return RENDER_OK;
}

static void OpenUrbanMap(JobState *j, bool lowMemory)
{
    char path[MAX_PATH];
    ViewOptions *v = j->view;
    if (snprintf(path, sizeof path, "%s\\%s-%d.%s", InstallFolder(), "Urban", v->iMapW, "map") <
        (int)sizeof path)
        OpenMapImage(&j->urban, path, v->iMapW, v->iMapH, 1, 0, lowMemory);
}

static void OpenCloudMap(JobState *j, const char *ext, bool lowMemory)
{
    char path[MAX_PATH];
    MapTrailer trailer;
    ViewOptions *v = j->view;
    if (snprintf(path, sizeof path, "%s\\%s.%s", gApp.dataFolder, "Clouds", ext) >= (int)sizeof path ||
        ReadMapTrailer(path, 0, &trailer) < 0 || !trailer.width || !trailer.height ||
        trailer.width > 65536 || trailer.height > 65536)
        return;
    if (OpenMapImage(&j->clouds, path, trailer.width, trailer.height, 1, 0, lowMemory))
        j->cloudScale = (double)trailer.width / v->iMapW;
}

// The four neighbours a pixel's cloud relief compares, by the octant of the
// direction from the sun's point: (dx, dy) of a, b, e and f.
static const signed char kCloudOctants[8][4][2] = {
    {{-1, 0}, {1, 0}, {-1, 1}, {1, -1}},   {{-1, 1}, {1, -1}, {0, 1}, {0, -1}},
    {{0, 1}, {0, -1}, {1, 1}, {-1, -1}},   {{1, 1}, {-1, -1}, {1, 0}, {-1, 0}},
    {{-1, 0}, {1, 0}, {-1, -1}, {1, 1}},   {{-1, -1}, {1, 1}, {0, -1}, {0, 1}},
    {{0, -1}, {0, 1}, {1, -1}, {-1, 1}},   {{1, -1}, {-1, 1}, {1, 0}, {-1, 0}},
};

static void PrepareClouds(JobState *j)
{
    ViewOptions *v = j->view;
    j->shadowStrength = v->iCloudsShadow / 100.0;
    if (gPrefs.iCloudsRes == 0)
        j->shadowStrength *= 0.5;
    else if (gPrefs.iCloudsRes == 2)
        j->shadowStrength *= 1.2;
    int density = v->iCloudsDensity < -100 ? -100 : v->iCloudsDensity;   // keeps the power finite
    j->cloudExponent = density >= 1 ? 2 / (1 + density / 20.0) : 200 / (density + 100.001);
    j->cloudOpacity = v->iCloudsOpacity / 100.0;
    for (int q = 0; q < 256; q++) {
        double curve = pow(q / 255.0, j->cloudExponent);
        j->cloudLevel[q] = (int)(255 * j->cloudOpacity * curve);
        j->cloudAlpha[q] = curve * j->cloudOpacity;
    }
    for (int d = 0; d < CLOUD_LEVEL_DIFFERENCES; d++) {
        double shadow = d * 3 * j->shadowStrength;
        j->cloudShadow[d] = (shadow > 255 ? 255 : shadow) * (1 / 255.0);
    }
    for (int o = 0; o < 8; o++)
        for (int n = 0; n < 4; n++)
            j->cloudOffsets[o][n] =
                kCloudOctants[o][n][1] * j->clouds.width + kCloudOctants[o][n][0];
    for (int d = -255; d <= 255; d++) {
        int relief = (int)(d * j->shadowStrength * 0.5 + 127);
        j->cloudRelief[d + 255] = (uint8_t)(relief < 0 ? 0 : relief > 255 ? 255 : relief);
    }
}

// --- Background picture ---

static int PictureFormat(const char *path)
{
    size_t n = strlen(path);
    const char *ext = n >= 3 ? path + n - 3 : "";
    if (!lstrcmpiA(ext, "JPG"))
        return FORMAT_JPG;
    if (!lstrcmpiA(ext, "GIF"))
        return FORMAT_GIF;
    if (!lstrcmpiA(ext, "PNG"))
        return FORMAT_PNG;
    return FORMAT_BMP;
}

static double DrawFraction()
{
    double v = RandomTable[gRandomTableStart & (RANDOM_TABLE_ENTRIES - 1)];
    gRandomTableStart = (gRandomTableStart + 1) & (RANDOM_TABLE_ENTRIES - 1);
    return v;
}

static void PlaceBackground(JobState *j)
{
    BackgroundPicture *b = &j->background;
    const ViewOptions *v = j->view;
    const int *clip = v->iClpArea;
    double cw = clip[2] - clip[0] + 1, ch = clip[3] - clip[1] + 1;
    double pw = b->image.GetWidth(), ph = b->image.GetHeight();
    double rw = cw, rh = ch;
    int mode = v->iBGImgMode;
    if (mode == 0 || mode == 1) {
        double sx = cw / pw, sy = ch / ph;
        double s = mode == 0 ? (sx > sy ? sx : sy) : (sx < sy ? sx : sy);
        rw = pw * s;
        rh = ph * s;
    } else if (mode == 4) {
        double screen = (double)ScreenWidth() / (v->iOutputW > 0 ? v->iOutputW : 1);
        rw = pw / screen;
        rh = ph / screen;
    } else if (mode == 3) {
        b->tiled = 1;
        b->tileScale = 1;
        if (v->iMapW == MAP_MINI_WIDTH && v->iOutputW > 0)
            b->tileScale = (double)ScreenWidth() / v->iOutputW;
        b->offsetX = b->offsetY = 0;
        if (v->bBGRandPos) {
            b->offsetX = (int)(DrawFraction() * pw);
            b->offsetY = (int)(DrawFraction() * ph);
        }
    }
    b->width = rw;
    b->height = rh;
    b->left = clip[0] + (cw - rw) / 2;
    b->top = clip[1] + (ch - rh) / 2;
}

static void LoadBackground(JobState *j)
{
    const ViewOptions *v = j->view;
    BackgroundPicture *b = &j->background;
    b->loaded = 0;
    if (!v->szBGImage[0] || !b->image.Load(v->szBGImage, PictureFormat(v->szBGImage)) ||
        b->image.GetWidth() <= 0 || b->image.GetHeight() <= 0)
        return;
    b->loaded = 1;
    PlaceBackground(j);
}

// Picture colour at an output pixel; false outside the placement.
static bool BackgroundPixel(const BackgroundPicture *b, int x, int y, double rgb[3])
{
    int pw = b->image.GetWidth(), ph = b->image.GetHeight();
    RGBQUAD c;
    if (b->tiled) {
        int px = (int)((x - b->left) * b->tileScale) + b->offsetX;
        int py = (int)((y - b->top) * b->tileScale) + b->offsetY;
        px = MapWrapIndex(px, pw);
        py = MapWrapIndex(py, ph);
        c = b->image.GetPixelColor(px, ph - 1 - py);
    } else {
        double fx = (x - b->left) / b->width * pw, fy = (y - b->top) / b->height * ph;
        if (fx < 0 || fy < 0 || fx >= pw || fy >= ph)
            return false;
        c = b->image.InterpolatePixel((float)fx, (float)(ph - 1 - fy), IM_BILINEAR, OM_REPEAT);
    }
    rgb[0] = c.rgbRed;
    rgb[1] = c.rgbGreen;
    rgb[2] = c.rgbBlue;
    return true;
}

// --- Job set-up ---

static void PrepareStars(JobState *j)
{
    const ViewOptions *v = j->view;
    j->starsOn = v->bBackground == 1 && v->bStars && v->iStarsBrightness && v->iStarsDensity &&
                 buildLightSpots(v, &j->starCells, &j->stars, &j->starDensity, &j->starRow);
}

// The star field's cell rows for the whole job, drawn up front in the order
// a pass from the top would draw them (the random table is consumed the
// same way), so that any thread can render any row. Rows 0..2 are the
// window buildLightSpots made; row r + 1 is cell row r. False when memory
// runs out: the job then has no stars, as when the window itself fails.
static bool DrawAllStarRows(JobState *j, int top, int bottom)
{
    int last = bottom >= top ? (bottom - j->view->iClpArea[1]) / STAR_CELL_PIXELS : 0;
    size_t rowBytes = (size_t)j->starCells * STAR_CELL_BYTES;
    LightSpot *all = (LightSpot *)malloc((size_t)(last + 3) * rowBytes);
    if (!all)
        return false;
    memcpy(all, j->stars, STAR_WINDOW_ROWS * rowBytes);
    for (int r = 3; r <= last + 2; r++)
        fillLightSpotRow(2, all + (size_t)(r - 2) * j->starCells * STAR_CELL_SLOTS, j->starDensity,
                         j->starCells);
    free(j->stars);
    j->stars = all;
    j->starRow = last;
    return true;
}

static void PrepareFactors(JobState *j)
{
    const ViewOptions *v = j->view;
    j->dayUrban = v->iDayUrban / 100.0 / 255;
    j->glintScale = v->iDaySunBright / 100.0 * 0.8 * 255;
    j->dayRemap = 255 / (255.001 - j->dayThreshold);
    j->nightRemap = 255 / (255.001 - j->nightThreshold);
    j->nightColorization = v->iNightColorization / 100.0;
    j->nightDarkBright = v->iNightDarkBright / 100.0;
    j->nightLights = v->iNightLights / 100.0;
    j->twilightSlope = (v->iNightPol - v->iNightEqu) / 720.0 * 0.5;
    j->twilightBase = v->iNightEqu / 720.0 * 0.5;
    j->innerHalo = v->iIHaloRadius / 100.0;
    j->innerIntensity = v->iIHaloIntensity / 100.0;
    j->outerRing = v->iOHaloRadius / 1000.0;
    j->outerExponent = 2 * (1 - v->iOHaloIntensity / 100.0);
    j->maskScaleX = (double)SEASON_MASK_WIDTH / v->iMapW;
    j->maskScaleY = (double)SEASON_MASK_HEIGHT / v->iMapH;
}

static void TwilightAt(const JobState *j, double cosLat, Twilight *out)
{
    double t = (1 - cosLat) * j->twilightSlope + j->twilightBase;
    out->lower = tableCosine((1 + t) * TWILIGHT_SPAN * 0.5);
    out->upper = tableCosine((1 - 3 * t) * TWILIGHT_SPAN * 0.5);
}

// The twilight band over the cosine of the latitude, for globes, where the
// latitude changes from pixel to pixel; read with linear interpolation.
enum { TWILIGHT_STEPS = 1024 };

static void PrepareTwilight(JobState *j)
{
    j->twilight = (Twilight *)malloc((TWILIGHT_STEPS + 2) * sizeof(Twilight));
    if (!j->twilight)
        return;   // then each pixel works its band out
    for (int i = 0; i <= TWILIGHT_STEPS; i++)
        TwilightAt(j, (double)i / TWILIGHT_STEPS, &j->twilight[i]);
    j->twilight[TWILIGHT_STEPS + 1] = j->twilight[TWILIGHT_STEPS];
}

PIXEL_HELPER void TwilightOf(const JobState *j, double cosLat, Twilight *out)
{
    if (!j->twilight) {
        TwilightAt(j, cosLat, out);
        return;
    }
    double at = (cosLat < 0 ? 0 : cosLat > 1 ? 1 : cosLat) * TWILIGHT_STEPS;
    int i = (int)at;
    double f = at - i;
    const Twilight *a = &j->twilight[i], *b = &j->twilight[i + 1];
    out->lower = a->lower + f * (b->lower - a->lower);
    out->upper = a->upper + f * (b->upper - a->upper);
}

// This month's weight where the season mask reads value (0..255 from the
// samplers; anything else is worked out as it comes).
static double MaskedWeight(double f, int value)
{
    double mask = value * (1 / 255.0);
    if (mask == 0)
        mask = 1e-13;
    double weight;
    if (f > 0.9)
        weight = sqrt(1 - f);
    else if (mask < f)
        weight = 0;
    else
        weight = f >= 1 ? 1 : ((mask - f) / (1 - f)) / mask;
    return weight < 0 ? 0 : weight > 1 ? 1 : weight;
}


static void PrepareSeasonWeights(JobState *j)
{
    for (int value = 0; value < 256; value++)
        j->seasonWeight[value] = MaskedWeight(j->mixFraction, value);
}

static int PrepareJob(JobState *j, ViewOptions *v)
{
    j->view = v;
    bool preview = v->iMapW == MAP_MINI_WIDTH;
    const char *ext = preview ? "min" : "map";
    bool lowMemory = gPrefs.bLowMemMode && !preview;
    if (v->iMapW <= 0 || v->iMapH <= 0)
        return RENDER_NO_MAP;
    OpenUrbanMap(j, lowMemory);
    if (v->bClouds)
        OpenCloudMap(j, ext, lowMemory);
    int status = OpenDayMaps(j, ext, lowMemory);
    if (status)
        return status;
    PrepareClouds(j);
    j->dayThreshold = 255 - (int)(2.55 * v->iDayUrbanDensity);
    j->nightThreshold = 255 - (int)(2.55 * v->iNightLightsDensity);
    PrepareFactors(j);
    PrepareSeasonWeights(j);
    FillBlueAbove(j->blueAbove);
    j->bilinear = v->dSMpZoom > 1 && !preview;
    PrepareAdjust(&j->dayAdjust, v->iDaySaturation, v->iDayContrast, v->iDayBrightness);
    PrepareAdjust(&j->nightAdjust, v->iNightSaturation, v->iNightContrast, v->iNightBrightness);
    TabulateAdjust(&j->dayAdjust);
    TabulateAdjust(&j->nightAdjust);
    ColourBytes(v->crNightColorization, j->nightColour);
    PreparePowerCurve(&j->glint, (100 - v->iDaySunSize) / 10.0, 1);
    PreparePowerCurve(&j->darkening, 2 * (1 - v->iNightDarkSize / 100.0) + 1, -1);
    if (v->bBackground == 1 && v->iBGMode == 2)
        LoadBackground(j);
    j->hasBackgroundColour = v->bBackground == 1 && v->iBGMode != 0 && !j->background.loaded;
    PrepareStars(j);
    j->earthOn = v->bDay || v->bNight;
    v->dRotateX = -v->dRotateX;
    subSolarPoint(&v->tTime, &j->sunLongitude, &j->sunDeclination);
    j->sinDecl = sineFromTable(j->sunDeclination);
    j->cosDecl = tableCosine(j->sunDeclination);
    j->cosSunLongitude = cos(j->sunLongitude);
    j->sinSunLongitude = sin(j->sunLongitude);
    PrepareTwilight(j);
    PrepareProjection(v, &j->projection);
    return RENDER_OK;
}

static void FinishJob(JobState *j)
{
    CloseMapImage(&j->day);
    CloseMapImage(&j->next);
    CloseMapImage(&j->urban);
    CloseMapImage(&j->clouds);
    free(j->stars);
    j->stars = 0;
    free(j->twilight);
    j->twilight = 0;
    FreeAdjust(&j->dayAdjust);
    FreeAdjust(&j->nightAdjust);
}

// --- Per-pixel shading ---

PIXEL_HELPER double Clamp01(double v) { return v < 0 ? 0 : v > 1 ? 1 : v; }
static int ClampByte(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }



// Background behind the Earth: the output's own pixel, the picture, or the
// background colour, then the stars.
static void SpaceBackground(const JobState *j, int x, int y, const double existing[3], double c[3])
{
    const ViewOptions *v = j->view;
    memcpy(c, existing, 3 * sizeof(double));
    if (j->background.loaded)
        BackgroundPixel(&j->background, x, y, c);
    else if (j->hasBackgroundColour)
        ColourBytes(v->crBackground, c);
}

// One thread's star coverage of the cell row it is rendering.
struct StarBand {
    float *coverage;   // the cell row's 32 rows, starCells x 32 wide
    int row;           // the cell row it holds; -1 none
};

static void AddStars(const JobState *j, const StarBand *band, int x, int y, double c[3])
{
    const int *clip = j->view->iClpArea;
    int width = j->starCells * STAR_CELL_PIXELS, rx = x - clip[0];
    int ry = y - clip[1] - band->row * STAR_CELL_PIXELS;
    if (rx < 0 || rx >= width || ry < 0 || ry >= STAR_CELL_PIXELS)
        return;
    float coverage = band->coverage[(size_t)ry * width + rx];
    if (coverage <= 0)
        return;
    double a = Clamp01(j->view->iStarsBrightness * coverage / 100.0);
    for (int k = 0; k < 3; k++)
        c[k] += a * (255 - c[k]);
}

static void ShadeSpace(const JobState *j, const StarBand *band, int x, int y, double r, double cosA,
                       const double existing[3], double c[3])
{
    const ViewOptions *v = j->view;
    SpaceBackground(j, x, y, existing, c);
    if (j->starsOn)
        AddStars(j, band, x, y, c);
    double ring = j->outerRing;
    if (v->bHalo && !j->projection.flat && r > 1 && ring > 0 && r <= 1 + ring) {
        // At the default intensity the exponent is 1, and the power of the
        // ring's tens of thousands of pixels is its base.
        double base = 1 - (r - 1) / ring, exponent = j->outerExponent;
        double amount = (exponent == 1 ? base : pow(base, exponent)) * (cosA * 0.5 + 0.5);
        double halo[3];
        ColourBytes(v->crOHalo, halo);
        MoveToward(c, halo, amount);
    }
}


// Day weight of the twilight ramp.
PIXEL_HELPER double DayWeight(const Twilight *band, double cosA)
{
    if (cosA <= band->lower)
        return 0;
    if (cosA >= band->upper)
        return 1;
    return (cosA - band->lower) / (band->upper - band->lower);
}

// Blue above 1.1 times red and green: water, or glint-worthy. For bytes the
// products are looked up (JobState::blueAbove), the same comparison without
// a conversion to double.
PIXEL_HELPER bool BlueAbove(const JobState *j, int blue, int red, int green)
{
    return blue >= j->blueAbove[red] && blue >= j->blueAbove[green];
}

PIXEL_HELPER bool IsWater(const JobState *j, const uint8_t bgr[3])
{
    return BlueAbove(j, bgr[0], bgr[2], bgr[1]);
}

// Where a pixel of a flat map drawn with nearest samples reads its maps,
// worked out per column and per row instead of per pixel. Null members
// mean "not planned": that part samples as usual.
struct PixelPlan {
    const uint8_t *dayPixel, *nextPixel, *urbanPixel;
    const uint8_t *dayRow, *nextRow, *urbanRow;   // their rows, or null
    const uint8_t *cloudRow;    // the cloud map's row, or null
    int cloudX, cloudY;
    double dLon, dLat;          // from the sun's point, wrapped
    double inverseLon, inverseLat;   // 1 / |dLon|, 1 / |dLat|
    const MaskAxis *maskX, *maskY;   // on the season mask
};

static int SeasonMaskAt(const JobState *j, double mapX, double mapY, const MaskAxis *maskX,
                        const MaskAxis *maskY)
{
    if (maskX)
        return MaskFromAxes(SeasonMask, SEASON_MASK_WIDTH, maskX, maskY);
    return SampleSeasonMask(SeasonMask, SEASON_MASK_WIDTH, SEASON_MASK_HEIGHT,
                            mapX * j->maskScaleX, mapY * j->maskScaleY);
}

// Weight of this month against the next one at a map point.
// maskX, maskY: the point's axes on the season mask, or null.
PIXEL_HELPER double SeasonWeight(const JobState *j, double mapX, double mapY, const MaskAxis *maskX,
                                 const MaskAxis *maskY, const uint8_t a[3], const uint8_t b[3])
{
    const ViewOptions *v = j->view;
    double f = j->mixFraction;
    int mode = v->iSeasonMixMode;
    if (!SeasonMask || !(mode == 1 || (mode >= 2 && (IsWater(j, a) || IsWater(j, b)))))
        return 1 - f;
    int value = SeasonMaskAt(j, mapX, mapY, maskX, maskY);
    return (unsigned)value < 256 ? j->seasonWeight[value] : MaskedWeight(f, value);
}

// This month's and the next one's B G R mixed, as R G B.
PIXEL_HELPER void MixMonths(const JobState *j, const uint8_t here[3], const uint8_t next[3],
                            double mapX, double mapY, const MaskAxis *maskX, const MaskAxis *maskY,
                            int rgb[3])
{
    if (here[0] == next[0] && here[1] == next[1] && here[2] == next[2]) {
        // Any weight gives the same colour (water is alike in every month).
        rgb[0] = next[2];
        rgb[1] = next[1];
        rgb[2] = next[0];
        return;
    }
    double weight = SeasonWeight(j, mapX, mapY, maskX, maskY, here, next);
    for (int k = 0; k < 3; k++)
        rgb[k] = (int)(next[2 - k] + weight * (here[2 - k] - next[2 - k]));
}

// One map's pixel as stored (B G R, or one byte): planned, or sampled.
// at: the shared corners of a bilinear sample, or null. bytes: the map's
// bytes a pixel, a constant at every call.
PIXEL_HELPER void PlannedOrSampled(MapImage *m, int bytes, const uint8_t *planned,
                                   const Corners *at, const JobState *j, double mapX, double mapY,
                                   uint8_t *out)
{
    if (planned) {
        out[0] = planned[0];   // not memcpy: a library call per pixel
        if (bytes == 3) {
            out[1] = planned[1];
            out[2] = planned[2];
        }
    } else if (at && m->direct)
        SampleCorners(m, at, out);
    else
        Sample(m, mapX, mapY, j->bilinear, out);
}

// The season-mixed map colour, R G B.
// sampled: the day map's sample when the caller has taken it, or null;
// then dayCorners are its corner pixels (CornerInts).
PIXEL_HELPER void MapColour(JobState *j, double mapX, double mapY, const PixelPlan *plan,
                            const Corners *at, const uint8_t *sampled, const int *dayCorners,
                            int rgb[3])
{
    uint8_t here[3];
    if (sampled) {
        here[0] = sampled[0];
        here[1] = sampled[1];
        here[2] = sampled[2];
    } else
        PlannedOrSampled(&j->day, 3, plan ? plan->dayPixel : 0, at, j, mapX, mapY, here);
    if (!j->next.open) {
        rgb[0] = here[2];
        rgb[1] = here[1];
        rgb[2] = here[0];
        return;
    }
    uint8_t next[3];
    if (sampled && j->next.direct) {
        // Where both months hold the same corner pixels the samples agree.
        int v[4];
        CornerInts(j->next.direct, 0, at, v);
        bool same = true;
        for (int k = 0; k < 4; k++)
            same = same && v[k] == (dayCorners[k] & 0xFFFFFF);
        if (same) {
            for (int c = 0; c < 3; c++)
                next[c] = here[c];
        } else
            SampleFour(v, at, next, 0);
    } else
        PlannedOrSampled(&j->next, 3, plan ? plan->nextPixel : 0, at, j, mapX, mapY, next);
    MixMonths(j, here, next, mapX, mapY, plan ? plan->maskX : 0, plan ? plan->maskY : 0, rgb);
}

// Cloud values of a pixel: the shadow it casts and its whitening alpha.
struct CloudShade {
    double shadow;   // 0..1 darkening toward the luma-scaled colour
    double alpha;    // 0..1 toward white
};


// A pixel's longitude and latitude offsets from the sun's point, wrapped:
// the direction the cloud relief takes its octant from (SunOctantOf).
PIXEL_HELPER double SunLongitudeOffset(const JobState *j, double lon)
{
    double d = lon - j->sunLongitude;
    return d > PI ? d - 2 * PI : d < -PI ? d + 2 * PI : d;
}

PIXEL_HELPER double SunLatitudeOffset(const JobState *j, double lat)
{
    double d = lat - j->sunDeclination;
    return d > PI / 2 ? d - PI : d < -PI / 2 ? d + PI : d;
}

// Cloud pixel at an offset of at most one, straight from the rows when
// the pixel is not on the map's edge.
PIXEL_HELPER int Neighbour(MapImage *m, const uint8_t *row, int x, int y, int dx, int dy)
{
    if (row && x >= 1 && x < m->width - 1 && y >= 1 && y < m->height - 1)
        return row[dy * m->width + x + dx];
    return PixelAt(m, x + dx, y + dy);
}

// Whether the cloud value q, the pixel at (x, y) and its eight neighbours
// are alike: then every direction gives no shadow and a relief of 127,
// which leaves q as it is.
PIXEL_HELPER bool UniformAround(const MapImage *m, const uint8_t *row, int x, int y, int q)
{
    int w = m->width;
    if (x < 1 || x >= w - 1 || y < 1 || y >= m->height - 1)
        return false;   // the edges wrap; leave them to the full rule
    const uint8_t *up = row - w, *down = row + w;
    return row[x] == q && up[x - 1] == q && up[x] == q && up[x + 1] == q && row[x - 1] == q && row[x + 1] == q &&
           down[x - 1] == q && down[x] == q && down[x + 1] == q;
}

// UniformAround for a pixel known to be off the map's edges: each row's
// three bytes compared at once.
PIXEL_HELPER bool UniformInside(const uint8_t *row, int w, int x, int q)
{
    uint32_t want = (uint32_t)q * 0x010101u;
    const uint8_t *up = row - w + x - 1, *mid = row + x - 1, *down = row + w + x - 1;
    // Four bytes of the upper rows (a row follows each); not of the lower,
    // which may be the map's last.
    uint32_t u, m;
    uint16_t d;
    __builtin_memcpy(&u, up, 4);
    __builtin_memcpy(&m, mid, 4);
    __builtin_memcpy(&d, down, 2);
    return (((u ^ want) | (m ^ want)) & 0xFFFFFF) == 0 && (uint32_t)(d | down[2] << 16) == want;
}

// The relief of cloud value q from the four neighbours of its octant, a, b,
// e and f: the shadow it casts into *shadow, and the value it leaves.
PIXEL_HELPER int CloudRelief(const JobState *j, int q, int a, int b, int e, int f,
                             const SunOctant *octant, double *shadow)
{
    int level = abs(j->cloudLevel[e] - j->cloudLevel[q]);
    if (level < CLOUD_LEVEL_DIFFERENCES) {
        *shadow = j->cloudShadow[level];
    } else {
        double s = level * 3 * j->shadowStrength;   // an opacity above 100 %
        *shadow = (s > 255 ? 255 : s) * (1 / 255.0);
    }
    int g1 = ClampByte(q + 2 * (b - a)), g2 = ClampByte(q + 2 * (f - e));
    // Where both gradients agree the position in the octant does not matter.
    int g = g1 == g2 ? g1 : (int)(g1 + (g2 - g1) * SunOctantPosition(octant));
    unsigned at = (unsigned)(g - q + 255);
    int relief = at < sizeof j->cloudRelief
                     ? j->cloudRelief[at]
                     : ClampByte((int)((g - q) * j->shadowStrength * 0.5 + 127));
    return ClampByte(relief + q - 127);
}

PIXEL_HELPER void ShadeClouds(JobState *j, const MapProjection *p, const PixelPlan *plan,
                              CloudShade *out)
{
    int q, ix, iy;
    SunDirection sun;
    const uint8_t *row = 0;
    if (plan && plan->cloudRow) {
        ix = plan->cloudX;
        iy = plan->cloudY;
        row = plan->cloudRow;
        q = row[ix];
        sun.dLon = plan->dLon;
        sun.dLat = plan->dLat;
        sun.inverseLon = plan->inverseLon;
        sun.inverseLat = plan->inverseLat;
    } else {
        double cx = p->mapX * j->cloudScale, cy = p->mapY * j->cloudScale;
        Corners at;
        const uint8_t *grey = j->clouds.direct;
        if (grey && j->bilinear && CornersAt(cx, cy, j->clouds.width, j->clouds.height, &at)) {
            // Sample's bilinear read of a map in memory, inline.
            q = BilinearGrey(grey[at.topLeft], grey[at.topRight], grey[at.bottomLeft],
                             grey[at.bottomRight], at.dx, at.dy);
        } else {
            uint8_t sample;
            Sample(&j->clouds, cx, cy, j->bilinear, &sample);
            q = sample;
        }
        ix = MapNearestIndex(cx, j->clouds.width);
        iy = MapNearestIndex(cy, j->clouds.height);
        if (j->clouds.direct)
            row = j->clouds.direct + (size_t)iy * j->clouds.width;
        sun.dLon = SunLongitudeOffset(j, p->longitude);
        sun.dLat = SunLatitudeOffset(j, p->latitude);
        sun.inverseLon = 1 / absValue(sun.dLon);
        sun.inverseLat = 1 / absValue(sun.dLat);
    }
    out->shadow = 0;
    // Inside the map the nine pixels are read straight, without the edge rules.
    bool inside = row && ix >= 1 && ix < j->clouds.width - 1 && iy >= 1 &&
                  iy < j->clouds.height - 1;
    if (j->view->iCloudsShadow &&
        !(inside ? UniformInside(row, j->clouds.width, ix, q)
                 : row && UniformAround(&j->clouds, row, ix, iy, q))) {
        int a, b, e, f;
        SunOctant octant;
        SunOctantOf(&sun, &octant);
        if (inside) {
            const int *o = j->cloudOffsets[octant.row];
            const uint8_t *at = row + ix;
            a = at[o[0]];
            b = at[o[1]];
            e = at[o[2]];
            f = at[o[3]];
        } else {
            const signed char(*o)[2] = kCloudOctants[octant.row];
            MapImage *m = &j->clouds;
            a = Neighbour(m, row, ix, iy, o[0][0], o[0][1]);
            b = Neighbour(m, row, ix, iy, o[1][0], o[1][1]);
            e = Neighbour(m, row, ix, iy, o[2][0], o[2][1]);
            f = Neighbour(m, row, ix, iy, o[3][0], o[3][1]);
        }
        q = CloudRelief(j, q, a, b, e, f, &octant, &out->shadow);
    }
    out->alpha = j->cloudAlpha[q];
}

PIXEL_HELPER void ApplyClouds(const CloudShade *cloud, double c[3])
{
    if (cloud->shadow > 0) {
        double luma = (299 * c[0] + 587 * c[1] + 114 * c[2]) * (1 / 255000.0);
        double s = cloud->shadow > 1 ? 1 : cloud->shadow;
        // c + s (c luma - c)
        Lanes v = LoadLanes(c);
        __m128d l = _mm_set1_pd(luma), sv = _mm_set1_pd(s);
        v.low = _mm_add_pd(v.low, _mm_mul_pd(sv, _mm_sub_pd(_mm_mul_pd(v.low, l), v.low)));
        v.high = _mm_add_pd(v.high, _mm_mul_pd(sv, _mm_sub_pd(_mm_mul_pd(v.high, l), v.high)));
        StoreLanes(c, v);
    }
    MoveAllToward(c, 255, cloud->alpha);
}

// Urban value above its threshold on 0..255 (negative below it).
PIXEL_HELPER double Remap(int u, int threshold, double scale) { return (u - threshold) * scale; }

// Day colour: adjusted map colour, urban greying and sun glint.
PIXEL_HELPER void DayColour(const JobState *j, const int map[3], int urban, double cosA,
                            double cloudAlpha, double c[3])
{
    const ViewOptions *v = j->view;
    int rgb[3] = {map[0], map[1], map[2]};
    int grey = ApplyAdjust(&j->dayAdjust, rgb);
    StoreLanes(c, IntLanes(rgb[0], rgb[1], rgb[2]));
    double u = Remap(urban, j->dayThreshold, j->dayRemap);
    bool greyed = v->iDayUrban && u > 0;   // else c holds the adjusted bytes
    if (greyed) {
        double k = u * j->dayUrban * (j->clouds.open ? 1 - cloudAlpha : 1);
        MoveAllToward(c, grey, k);
    }
    bool glint = cosA > 0 && v->iDaySunBright >= 1;
    if (glint && (greyed ? c[2] > 1.1 * c[0] && c[2] > 1.1 * c[1]
                         : BlueAbove(j, rgb[2], rgb[0], rgb[1]))) {
        double g = PowerOf(&j->glint, cosA) * j->glintScale;
        g = g > 204 ? 204 : g;
        // g + (255 - g) / 255 c
        __m128d gv = _mm_set1_pd(g), f = _mm_set1_pd((255 - g) * (1 / 255.0));
        Lanes v = LoadLanes(c);
        v.low = _mm_add_pd(gv, _mm_mul_pd(f, v.low));
        v.high = _mm_add_pd(gv, _mm_mul_pd(f, v.high));
        StoreLanes(c, v);
    }
}

// Night colour from the cloud-shaded map colour.
PIXEL_HELPER void NightColour(const JobState *j, const double map[3], int urban, double cosA,
                              double w, bool darken, double cloudAlpha, double c[3])
{
    const ViewOptions *v = j->view;
    double g8 = (2 * map[0] + 5 * map[1] + map[2]) * (1 / 2040.0);
    // map + colorization (g8 colour - map), truncated and clamped
    Lanes m = LoadLanes(map), tint = LoadLanes(j->nightColour);
    __m128d g = _mm_set1_pd(g8), amount = _mm_set1_pd(j->nightColorization);
    tint.low = _mm_mul_pd(g, tint.low);
    tint.high = _mm_mul_pd(g, tint.high);
    uint32_t bytes = LaneBytes(TowardLanes(m, tint, amount));
    int rgb[3] = {(int)(bytes & 255), (int)((bytes >> 8) & 255), (int)((bytes >> 16) & 255)};
    ApplyAdjust(&j->nightAdjust, rgb);
    Lanes colour = IntLanes(rgb[0], rgb[1], rgb[2]);
    if (darken && cosA < 0 && v->iNightDarkBright >= 1) {
        double bright = j->nightDarkBright;
        __m128d f = _mm_set1_pd((1 - PowerOf(&j->darkening, cosA)) * bright + (1 - bright));
        colour.low = _mm_mul_pd(colour.low, f);
        colour.high = _mm_mul_pd(colour.high, f);
    }
    StoreLanes(c, colour);
    double n = Remap(urban, j->nightThreshold, j->nightRemap);
    if (n >= 1 && v->iNightLights) {
        double k = (1 - w) * j->nightLights * (j->clouds.open ? 1 - cloudAlpha : 1);
        int index = (int)((1 - w) * (1 - w) * (1 - w) * n);
        index = index < 0 ? 0 : index > 255 ? 255 : index;
        double light[3] = {(double)LightPalette[index][0], (double)LightPalette[index][1],
                           (double)LightPalette[index][2]};
        MoveToward(c, light, k);
    }
}

// Inner halo and the smoothing of the globe's limb into space.
static void ShadeEdge(const JobState *j, int x, int y, double r, double cosA,
                      const double existing[3], double c[3])
{
    const ViewOptions *v = j->view;
    double inner = j->innerHalo;
    if (v->bHalo && inner > 0 && r > 1 - inner) {
        double halo[3], lit = cosA >= 0 ? cosA * 0.5 + 0.5 : (1 + cosA) * (1 + cosA) * 0.5;
        ColourBytes(v->crIHalo, halo);
        for (int k = 0; k < 3; k++)
            halo[k] *= lit;
        MoveToward(c, halo, (1 - (1 - r) / inner) * j->innerIntensity);
    }
    if (r > 0.98) {
        double space[3];
        SpaceBackground(j, x, y, existing, space);
        if (v->bHalo) {
            double halo[3];
            ColourBytes(v->crOHalo, halo);
            MoveToward(space, halo, cosA * 0.5 + 0.5);
        }
        double k = (r - 0.98) / 0.02;
        MoveToward(c, space, k * k * k * k * k);
    }
}

// Where the sun stands for a pixel, with the layer switches applied.
struct Lighting {
    double cosA, w;
    bool darken;
};

PIXEL_HELPER void LightPixel(const JobState *j, const Twilight *band, double cosA, Lighting *out)
{
    const ViewOptions *v = j->view;
    out->cosA = cosA;
    out->darken = true;
    if (!v->bDay) {
        out->w = 0;
        out->cosA = -1;
        out->darken = false;
    } else if (!v->bNight) {
        out->w = 1;
    } else {
        out->w = DayWeight(band, cosA);
    }
}

// An earth pixel's colour from its season-mixed map colour (R G B), its
// urban byte, its clouds and the sun.
PIXEL_HELPER void ColourEarth(const JobState *j, const ComposeState *s, const Lighting *lighting,
                              const int map[3], int urban, const CloudShade *shade, double c[3])
{
    Lighting light = *lighting;   // copies: no store to c can change them
    CloudShade cloud = *shade;
    double day[3] = {0, 0, 0}, base[3];
    StoreLanes(base, IntLanes(map[0], map[1], map[2]));
    bool clouded = j->clouds.open && (cloud.alpha > 0 || cloud.shadow > 0);
    if (light.w > 0) {
        DayColour(j, map, urban, light.cosA, cloud.alpha, day);
        if (clouded)
            ApplyClouds(&cloud, day);
    }
    double ramp = s->dayRamp[(int)(256 * light.w)];
    if (ramp >= 1) {
        StoreLanes(c, LoadLanes(day));   // full day: the night colour is not needed
    } else {
        if (clouded)
            ApplyClouds(&cloud, base);
        NightColour(j, base, urban, light.cosA, light.w, light.darken, cloud.alpha, c);
        if (ramp > 0)   // at 0 the sum would leave c as it is
            MoveToward(c, day, ramp);
    }
}

// plan: where a flat map's pixel reads its maps, or null. old: the pixel's
// bytes in the picture, which the limb blends with.
PIXEL_HELPER void ShadeEarth(JobState *j, const ComposeState *s, const MapProjection *p,
                       const PixelPlan *plan,
                       const Twilight *band, double cosA, int x, int y, const uint8_t *old,
                       const CloudShade *cloudDone, double c[3])
{
    Lighting light;
    LightPixel(j, band, cosA, &light);
    int map[3];
    Corners corners, *at = 0;
    if (!plan && j->bilinear &&
        CornersAt(p->mapX, p->mapY, j->view->iMapW, j->view->iMapH, &corners))
        at = &corners;
    // The day map and the urban map at once where both are in memory.
    uint8_t sampled[3], sampledUrban = 0;
    int corners4[4];
    bool four = at && j->day.direct && (!j->urban.open || j->urban.direct);
    if (four) {
        CornerInts(j->day.direct, j->urban.open ? j->urban.direct : 0, at, corners4);
        SampleFour(corners4, at, sampled, &sampledUrban);
    }
    MapColour(j, p->mapX, p->mapY, plan, at, four ? sampled : 0, corners4, map);
    int urban = 0;
    if (j->urban.open) {
        uint8_t u = sampledUrban;
        if (!four)
            PlannedOrSampled(&j->urban, 1, plan ? plan->urbanPixel : 0, at, j, p->mapX, p->mapY, &u);
        urban = u;
    }
    CloudShade cloud = {0, 0};
    if (cloudDone)
        cloud = *cloudDone;
    else if (j->clouds.open)
        ShadeClouds(j, p, plan, &cloud);
    ColourEarth(j, s, &light, map, urban, &cloud, c);
    // Only pixels near the limb have an edge to shade (ShadeEdge's own tests,
    // asked here so that the rest of the disc makes no call).
    double r = p->distance;
    if (!j->projection.flat &&
        (r > 0.98 || (j->view->bHalo && j->innerHalo > 0 && r > 1 - j->innerHalo))) {
        // What the picture held, read only here: the rest of the disc covers it.
        double existing[3] = {(double)old[2], (double)old[1], (double)old[0]};
        ShadeEdge(j, x, y, r, light.cosA, existing, c);
    }
}

// --- The render loop ---

// Row y's first byte in the picture, and pixel x of such a row.
PIXEL_HELPER uint8_t *StoredRow(const ComposeState *s, int y)
{
    return s->pixels + (size_t)(s->height - 1 - WrapInt(y + s->shiftY, s->height)) * s->stride;
}

PIXEL_HELPER uint8_t *InStoredRow(const ComposeState *s, uint8_t *row, int x)
{
    return row + (size_t)WrapInt(x + s->shiftX, s->width) * 3;
}


PIXEL_HELPER void StorePixel(uint8_t *out, const double c[3])
{
    uint32_t bytes = LaneBytes(LoadLanes(c));
    out[0] = (uint8_t)(bytes >> 16);
    out[1] = (uint8_t)(bytes >> 8);
    out[2] = (uint8_t)bytes;
}

// What a flat map's pixel needs that depends only on its column.
struct FlatColumn {
    double mapX, longitude;   // as ProjectPrepared gives them
    double sunCos;      // cos(longitude - the sun's longitude)
    double dLon;        // longitude offset from the sun's point, wrapped
    double inverseLon;  // 1 / |dLon|
    int nearestX, cloudX;   // nearest map and cloud-map columns
    MaskAxis mask;      // on the season mask
};

// And what depends only on its row.
struct FlatRow {
    double mapY, latitude;
    int valid;
    double sinLat, cosLat, dLat, inverseLat;
    Twilight band;
    int nearestY, cloudY;
    MaskAxis mask;
};

static FlatColumn *PrepareFlatColumns(const JobState *j)
{
    const int *clip = j->view->iClpArea;
    int n = clip[2] - clip[0] + 1;
    FlatColumn *columns = (FlatColumn *)malloc((size_t)(n > 0 ? n : 1) * sizeof(FlatColumn));
    if (!columns)
        return 0;
    MapProjection p;
    for (int i = 0; i < n; i++) {
        FlatColumn *c = &columns[i];
        ProjectPrepared(clip[0] + i, clip[1], &j->projection, &p);
        c->mapX = p.mapX;
        c->longitude = p.longitude;
        c->sunCos = tableCosine(p.longitude - j->sunLongitude);
        c->dLon = SunLongitudeOffset(j, p.longitude);
        c->inverseLon = 1 / absValue(c->dLon);
        c->nearestX = MapNearestIndex(p.mapX, j->view->iMapW);
        c->cloudX = j->clouds.open ? MapNearestIndex(p.mapX * j->cloudScale, j->clouds.width) : 0;
        MaskAxisAt(p.mapX * j->maskScaleX, SEASON_MASK_WIDTH, &c->mask);
    }
    return columns;
}

static void PrepareFlatRow(const JobState *j, int y, FlatRow *row)
{
    MapProjection p;
    ProjectPrepared(j->view->iClpArea[0], y, &j->projection, &p);
    row->mapY = p.mapY;
    row->latitude = p.latitude;
    row->valid = p.valid;
    row->sinLat = sineFromTable(p.latitude);
    row->cosLat = tableCosine(p.latitude);
    row->dLat = SunLatitudeOffset(j, p.latitude);
    row->inverseLat = 1 / absValue(row->dLat);
    TwilightAt(j, row->cosLat, &row->band);
    row->nearestY = MapNearestIndex(p.mapY, j->view->iMapH);
    row->cloudY = j->clouds.open ? MapNearestIndex(p.mapY * j->cloudScale, j->clouds.height) : 0;
    MaskAxisAt(p.mapY * j->maskScaleY, SEASON_MASK_HEIGHT, &row->mask);
}

// The planned reads of one flat-map pixel; parts whose map is not held whole
// in memory, or is sampled bilinearly, stay unplanned.
// The row's part is filled once a row (PlanFlatRow); the column's once a
// pixel (PlanFlatColumn) only in rows whose maps are not all planned:
// ShadeFlatClouds sets the cloud part itself, ShadeFlatEarth reads the
// map rows without it.
static void PlanFlatRow(const JobState *j, const FlatRow *r, PixelPlan *plan)
{
    bool nearest = !j->bilinear;
    plan->cloudRow = nearest && j->clouds.direct
                         ? j->clouds.direct + (size_t)r->cloudY * j->clouds.width
                         : 0;
    plan->cloudY = r->cloudY;
    size_t at = (size_t)r->nearestY * j->view->iMapW;
    plan->dayRow = nearest && j->day.direct ? j->day.direct + 3 * at : 0;
    plan->nextRow = nearest && j->next.direct ? j->next.direct + 3 * at : 0;
    plan->urbanRow = nearest && j->urban.direct ? j->urban.direct + at : 0;
    plan->dLat = r->dLat;
    plan->inverseLat = r->inverseLat;
    plan->maskY = &r->mask;
}

PIXEL_HELPER void PlanFlatColumn(const JobState *j, const FlatColumn *c, const FlatRow *r,
                                 PixelPlan *plan)
{
    int x = c->nearestX;
    plan->dayPixel = plan->dayRow ? plan->dayRow + 3 * x : 0;
    plan->nextPixel = plan->nextRow ? plan->nextRow + 3 * x : 0;
    plan->urbanPixel = plan->urbanRow ? plan->urbanRow + x : 0;
    plan->cloudX = c->cloudX;
    plan->dLon = c->dLon;
    plan->inverseLon = c->inverseLon;
    plan->maskX = &c->mask;
}

static void ReportRows(const ComposeState *s, const JobState *j, int rowsDone)
{
    if (j->view->iMapW == MAP_MINI_WIDTH || rowsDone % 100)
        return;
    int64_t total = (int64_t)s->height * s->jobCount;
    gProgressSink.rendered((int)(((int64_t)s->jobIndex * s->height + rowsDone) * 100 / total));
}

// rowBand: the twilight band of the row when every pixel of it has the same
// latitude (flat maps), else null.
// out: the pixel's bytes in the picture (InStoredRow), or in a flat map's
// stretch buffer. Inlined into each row loop, which then drops what its
// kind of view never uses.
PIXEL_HELPER void ShadePixel(JobState *j, const ComposeState *s, const StarBand *band, uint8_t *out,
                       int x, int y, const MapProjection *p,
                       double sinLat, double cosLat, double columnCos, const Twilight *rowBand,
                       const PixelPlan *plan, const CloudShade *cloudDone)
{
    bool earth = j->earthOn && p->valid;
    double c[3];
    bool ring = !j->projection.flat && j->view->bHalo && p->distance > 1;
    double cosA = -1;
    if (earth || ring) {
        cosA = sinLat * j->sinDecl + cosLat * j->cosDecl * columnCos;
        cosA = cosA < -1 ? -1 : cosA > 1 ? 1 : cosA;
    }
    if (earth) {
        Twilight band;
        if (!rowBand) {
            TwilightOf(j, cosLat, &band);
            rowBand = &band;
        }
        ShadeEarth(j, s, p, plan, rowBand, cosA, x, y, out, cloudDone, c);
    } else {
        double existing[3] = {(double)out[2], (double)out[1], (double)out[0]};
        ShadeSpace(j, band, x, y, j->earthOn ? p->distance : 0, cosA, existing, c);
    }
    StorePixel(out, c);
}

// A pixel r globe radii from the centre, beyond the outer halo's reach.
static void ShadeFar(JobState *j, const ComposeState *s, const StarBand *band, uint8_t *pixels,
                     int x, int y, double r)
{
    uint8_t *out = InStoredRow(s, pixels, x);
    double existing[3] = {(double)out[2], (double)out[1], (double)out[0]}, c[3];
    ShadeSpace(j, band, x, y, j->earthOn ? r : 0, -1, existing, c);
    StorePixel(out, c);
}

// The cell row of row y, counted from the clip rectangle's top (y is not above it).
static int CellOfRow(const JobState *j, int y)
{
    return (y - j->view->iClpArea[1]) / STAR_CELL_PIXELS;
}

// Puts the star coverage of row y's cell row into the band. RenderGlobeRow
// asks for it for every row, RenderFlatRow only for a row off the map: a
// flat map's rows on the map never read it.
static void BandForRow(const JobState *j, StarBand *band, int y)
{
    int row = CellOfRow(j, y);
    if (band->row == row)
        return;
    // Cell row r's window starts at row r of the job's rows (r - 1 above it).
    const LightSpot *window = j->stars + (size_t)row * j->starCells * STAR_CELL_SLOTS;
    rasterLightSpots(window, j->starCells, row, band->coverage, j->starCells * STAR_CELL_PIXELS);
    band->row = row;
}

// The clouds of pixels from..to of a flat map's row; columns[0] is from's.
// Inside the cloud map the relief reads its rows straight: a loop of its
// own, not inlined into the row's, so that the compiler keeps what it needs
// in registers (this target has few).
static __attribute__((noinline)) void ShadeFlatClouds(JobState *j, const FlatColumn *columns,
                                                      const FlatRow *r, MapProjection *p,
                                                      PixelPlan *plan, int from, int to,
                                                      CloudShade *out)
{
    const uint8_t *row = plan->cloudRow;
    int w = j->clouds.width, iy = r->cloudY;
    bool rowInside = row && iy >= 1 && iy < j->clouds.height - 1 && j->view->iCloudsShadow;
    for (int x = from; x <= to; x++) {
        const FlatColumn *c = &columns[x - from];
        int ix = c->cloudX;
        CloudShade *o = &out[x - from];
        if (!rowInside || ix < 1 || ix >= w - 1) {
            // The map's edges wrap, the shadow may be off, or the map is
            // sampled: the general rule. Only the cloud map's part of the
            // plan: the clouds read no other map.
            p->mapX = c->mapX;
            p->longitude = c->longitude;
            plan->cloudX = ix;
            plan->dLon = c->dLon;
            plan->inverseLon = c->inverseLon;
            ShadeClouds(j, p, plan, o);
            continue;
        }
        const uint8_t *at = row + ix;
        int q = *at;
        if (UniformInside(row, w, ix, q)) {   // no shadow, and a relief that leaves q
            o->shadow = 0;
            o->alpha = j->cloudAlpha[q];
            continue;
        }
        SunDirection sun = {c->dLon, r->dLat, c->inverseLon, r->inverseLat};
        SunOctant octant;
        SunOctantOf(&sun, &octant);
        const int *n = j->cloudOffsets[octant.row];
        o->alpha = j->cloudAlpha[CloudRelief(j, q, at[n[0]], at[n[1]], at[n[2]], at[n[3]], &octant,
                                             &o->shadow)];
    }
}

// The earth pixels from..to of a flat map's row whose maps are all read
// as planned (nearest samples of maps held in memory), into shaded (one
// byte to spare at its end); columns[0] is from's, clouds null when off.
// The general pixel routine passes each pixel's reads through the plan and
// the projection, stores and loads that took some 6 % of a flat frame: this
// loop reads the maps' rows straight and hands the colour steps plain values.
static __attribute__((noinline)) void ShadeFlatEarth(JobState *j, const ComposeState *s,
                                                     const FlatColumn *columns, const FlatRow *row,
                                                     const PixelPlan *plan, int from, int to,
                                                     const CloudShade *clouds, uint8_t *shaded)
{
    const uint8_t *dayRow = plan->dayRow, *nextRow = j->next.open ? plan->nextRow : 0;
    const uint8_t *urbanRow = j->urban.open ? plan->urbanRow : 0;
    Twilight band = row->band;
    // sin(lat) sin(decl) + cos(lat) cos(decl) cos(dLon), as ShadePixel groups it
    double a = row->sinLat * j->sinDecl, b = row->cosLat * j->cosDecl;
    const CloudShade none = {0, 0};
    for (int x = from; x <= to; x++) {
        const FlatColumn *c = &columns[x - from];
        double cosA = a + b * c->sunCos;
        cosA = cosA < -1 ? -1 : cosA > 1 ? 1 : cosA;
        Lighting light;
        LightPixel(j, &band, cosA, &light);
        int nx = c->nearestX, map[3];
        const uint8_t *here = dayRow + 3 * nx;
        if (nextRow) {
            MixMonths(j, here, nextRow + 3 * nx, c->mapX, row->mapY, &c->mask, &row->mask, map);
        } else {
            map[0] = here[2];
            map[1] = here[1];
            map[2] = here[0];
        }
        double colour[3];
        ColourEarth(j, s, &light, map, urbanRow ? urbanRow[nx] : 0, clouds ? &clouds[x - from] : &none,
                    colour);
        // Four bytes B G R 0 at once; the next pixel overwrites the fourth.
        uint32_t bgr = LaneBytesBGR(LoadLanes(colour));
        __builtin_memcpy(shaded + 3 * (x - from), &bgr, 4);
    }
}

static bool RenderFarSpace(JobState *j, const ComposeState *s, const StarBand *band, int y, int x0,
                           int x1);

// One row of a flat map; false when cancelled.
static bool RenderFlatRow(JobState *j, const ComposeState *s, StarBand *band,
                          const FlatColumn *columns, int y, int left, int right)
{
    FlatRow row = {};   // an invalid mask axis leaves its indices unset
    PrepareFlatRow(j, y, &row);
    // A row off the map (the letterbox above and below it) is all space,
    // shaded as the space beside a globe is.
    if (!row.valid || !j->earthOn) {
        if (j->starsOn)
            BandForRow(j, band, y);
        return RenderFarSpace(j, s, band, y, left, right);
    }
    MapProjection p;
    memset(&p, 0, sizeof p);
    p.mapY = row.mapY;
    p.latitude = row.latitude;
    p.valid = row.valid;
    PixelPlan plan;
    PlanFlatRow(j, &row, &plan);
    bool planned = plan.dayRow && (!j->next.open || plan.nextRow) && (!j->urban.open || plan.urbanRow);
    uint8_t *pixels = StoredRow(s, y);
    // The clouds of a stretch of the row are worked out first, in a loop of
    // their own: their chain of table look-ups then overlaps from pixel to
    // pixel instead of holding up each pixel's colour steps.
    enum { STRETCH = 256 };
    CloudShade clouds[STRETCH];
    // The stretch's bytes go to a buffer of its own and then to the picture:
    // a store into the picture may, as far as the compiler knows, change the
    // job's settings, which it would then read again for every pixel. A flat
    // map's pixels never read what the picture held. One byte to spare for
    // ShadeFlatEarth's four-byte stores.
    uint8_t shaded[3 * STRETCH + 1];
    int clipLeft = j->view->iClpArea[0];
    for (int from = left; from <= right; from += STRETCH) {
        int to = right - from >= STRETCH ? from + STRETCH - 1 : right;
        const FlatColumn *first = columns + (from - clipLeft);
        if (j->clouds.open)
            ShadeFlatClouds(j, first, &row, &p, &plan, from, to, clouds);
        if (planned)
            ShadeFlatEarth(j, s, first, &row, &plan, from, to, j->clouds.open ? clouds : 0, shaded);
        else
            for (int x = from; x <= to; x++) {
                const FlatColumn *c = &columns[x - clipLeft];
                // A flat map's x depends on the column alone and its y on the row.
                p.mapX = c->mapX;
                p.longitude = c->longitude;
                PlanFlatColumn(j, c, &row, &plan);
                ShadePixel(j, s, band, shaded + 3 * (x - from), x, y, &p, row.sinLat, row.cosLat,
                           c->sunCos, &row.band, &plan, j->clouds.open ? &clouds[x - from] : 0);
            }
        if (!s->shiftX)
            memcpy(InStoredRow(s, pixels, from), shaded, 3 * (size_t)(to - from + 1));
        else
            for (int x = from; x <= to; x++)
                memcpy(InStoredRow(s, pixels, x), shaded + 3 * (x - from), 3);
        if (*s->cancel)   // a stretch takes microseconds
            return false;
    }
    return true;
}

// Columns of row y that may lie on the globe or its outer halo: every
// pixel outside [*nearLeft, *nearRight] is one beyond the outer halo, shaded
// as space (ShadeFar). Two pixels of margin cover the rounding of the distance.
static void NearSpan(const JobState *j, int y, int *nearLeft, int *nearRight)
{
    const ProjectionSetup *p = &j->projection;
    double reach = 1;
    if (j->view->bHalo && j->outerRing > 0)
        reach += j->outerRing;
    double r = reach * p->radius, dy = absValue(p->centreY - y);
    if (!(dy <= r + 2)) {
        *nearLeft = 1;
        *nearRight = 0;   // the whole row is far
        return;
    }
    double half = r * r - dy * dy;
    half = (half > 0 ? sqrt(half) : 0) + 2;
    double a = p->centreX - half, b = p->centreX + half;
    *nearLeft = a < -1e9 ? -1000000000 : (int)floorValue(a);
    *nearRight = b > 1e9 ? 1000000000 : (int)b + 1;
}

// One pixel of space without a background picture: the background colour,
// or the pixel as it is, with the stars where the band covers it.
PIXEL_HELPER void ShadeBareSpace(const JobState *j, const StarBand *band, int x, int y, bool star,
                                 bool fillColour, const uint8_t fill[3], const double colour[3],
                                 uint8_t *out)
{
    if (!star) {
        if (fillColour) {
            out[0] = fill[0];
            out[1] = fill[1];
            out[2] = fill[2];
        }
        return;
    }
    double c[3];
    if (fillColour) {
        c[0] = colour[0];
        c[1] = colour[1];
        c[2] = colour[2];
    } else {
        c[0] = out[2];
        c[1] = out[1];
        c[2] = out[0];
    }
    AddStars(j, band, x, y, c);
    StorePixel(out, c);
}

// The first column from rx to last (columns from the clip rectangle's left)
// that a star covers, or last + 1; coverage is null without stars.
static int DarkRunEnd(const float *coverage, int width, int rx, int last)
{
    int end = last < width - 1 ? last : width - 1;
    if (!coverage || rx > end)
        return last + 1;
    if (rx < 0)
        rx = 0;   // columns left of the clip rectangle have no stars
    const __m128 zero = _mm_setzero_ps();
    for (; rx + 3 <= end; rx += 4) {
        int lit = _mm_movemask_ps(_mm_cmpgt_ps(_mm_loadu_ps(coverage + rx), zero));
        if (lit)
            return rx + __builtin_ctz(lit);
    }
    for (; rx <= end; rx++)
        if (coverage[rx] > 0)
            return rx;
    return last + 1;
}

// count pixels of the colour fill (B, G, R bytes) from out.
static void FillPixels(uint8_t *out, const uint8_t fill[3], int count)
{
    if (fill[0] == fill[1] && fill[1] == fill[2]) {
        memset(out, fill[0], 3 * (size_t)count);
        return;
    }
    uint8_t pattern[48];
    for (int i = 0; i < 48; i += 3)
        memcpy(pattern + i, fill, 3);
    for (; count >= 16; count -= 16, out += 48)
        memcpy(out, pattern, 48);
    for (; count > 0; count--, out += 3)
        memcpy(out, fill, 3);
}

// Pixels of a row beyond the globe and its halo, or a flat map's row off
// the map: background and stars, as ShadeFar shades them, without the
// distance.
static bool RenderFarSpace(JobState *j, const ComposeState *s, const StarBand *band, int y, int x0,
                           int x1)
{
    double colour[3];
    ColourBytes(j->view->crBackground, colour);
    uint8_t fill[3] = {(uint8_t)colour[2], (uint8_t)colour[1], (uint8_t)colour[0]};
    // The star coverage of this row, over the picture's columns from the
    // clip rectangle's left.
    const float *coverage = 0;
    int coverageWidth = 0, clipLeft = j->view->iClpArea[0];
    if (j->starsOn) {
        coverageWidth = j->starCells * STAR_CELL_PIXELS;
        int ry = y - j->view->iClpArea[1] - band->row * STAR_CELL_PIXELS;
        if (ry >= 0 && ry < STAR_CELL_PIXELS)
            coverage = band->coverage + (size_t)ry * coverageWidth;
    }
    uint8_t *pixels = StoredRow(s, y);
    if (!j->background.loaded && !s->shiftX && x0 <= x1) {
        // The same steps as below along one run of the row, with the
        // settings in locals (a store into the picture would make the
        // compiler read them again) and the cancel byte read once, at the
        // run's end.
        // Stars are rare: the dark stretches between them are found four
        // coverage values at a time and filled (or, keeping the pixels as
        // they are, skipped) whole.
        bool fillColour = j->hasBackgroundColour;
        uint8_t *row = InStoredRow(s, pixels, 0);
        int x = x0;
        while (x <= x1) {
            int dark = DarkRunEnd(coverage, coverageWidth, x - clipLeft, x1 - clipLeft) + clipLeft;
            if (fillColour && dark > x)
                FillPixels(row + 3 * (size_t)x, fill, dark - x);
            if (dark > x1)
                break;
            ShadeBareSpace(j, band, dark, y, true, fillColour, fill, colour, row + 3 * (size_t)dark);
            x = dark + 1;
        }
        return !*s->cancel;
    }
    for (int x = x0; x <= x1; x++) {
        uint8_t *out = InStoredRow(s, pixels, x);
        double c[3];
        if (j->background.loaded) {
            double existing[3] = {(double)out[2], (double)out[1], (double)out[0]};
            ShadeSpace(j, band, x, y, 0, -1, existing, c);
            StorePixel(out, c);
        } else {
            int rx = x - clipLeft;
            bool star = coverage && rx >= 0 && rx < coverageWidth && coverage[rx] > 0;
            ShadeBareSpace(j, band, x, y, star, j->hasBackgroundColour, fill, colour, out);
        }
        if (*s->cancel)
            return false;
    }
    return true;
}

// One row of a globe (or of a flat map without its column tables).
static bool RenderGlobeRow(JobState *j, const ComposeState *s, StarBand *band, int y,
                           int left, int right)
{
    if (j->starsOn)
        BandForRow(j, band, y);
    MapProjection p;
    if (!j->projection.flat) {
        int nearLeft, nearRight;
        NearSpan(j, y, &nearLeft, &nearRight);
        if (nearLeft > nearRight)
            return RenderFarSpace(j, s, band, y, left, right);
        if (!RenderFarSpace(j, s, band, y, left, nearLeft - 1 < right ? nearLeft - 1 : right) ||
            !RenderFarSpace(j, s, band, y, nearRight + 1 > left ? nearRight + 1 : left, right))
            return false;
        left = nearLeft > left ? nearLeft : left;
        right = nearRight < right ? nearRight : right;
    }
    uint8_t *pixels = StoredRow(s, y);
    if (!j->projection.flat) {
        double reach = 1 + j->outerRing;
        bool halo = j->view->bHalo;
        // A pixel past the row's end is projected too (plain arithmetic) but
        // left alone.
        int mapW = j->view->iMapW, mapH = j->view->iMapH;
        for (int x = left; x <= right; x += 2) {
            MapProjection pair[2];
            double sunCos[2];
            ProjectGlobeLanes(&j->projection, mapW, mapH, j->cosSunLongitude, j->sinSunLongitude, x,
                              y, pair, sunCos);
            for (int k = 0; k < 2 && x + k <= right; k++) {
                const MapProjection *q = &pair[k];
                double r = q->distance;
                if (!(r <= 1 || (halo && r <= reach))) {   // beyond the outer halo
                    ShadeFar(j, s, band, pixels, x + k, y, r);
                    continue;
                }
                // On the globe the point's own vector gives the sines and
                // cosines, without a trip through the big table.
                bool on = q->valid;
                double sinLat = on ? q->vz : sineFromTable(q->latitude);
                double cosLat = on ? q->across : tableCosine(q->latitude);
                double sc = on ? sunCos[k] : tableCosine(q->longitude - j->sunLongitude);
                ShadePixel(j, s, band, InStoredRow(s, pixels, x + k), x + k, y, q, sinLat, cosLat,
                           sc, 0, 0, 0);
            }
            if (*s->cancel)
                return false;
        }
        return true;
    }
    // A flat map without its column tables.
    for (int x = left; x <= right; x++) {
        ProjectPrepared(x, y, &j->projection, &p);
        ShadePixel(j, s, band, InStoredRow(s, pixels, x), x, y, &p, sineFromTable(p.latitude),
                   tableCosine(p.latitude), tableCosine(p.longitude - j->sunLongitude), 0, 0, 0);
        if (*s->cancel)
            return false;
    }
    return true;
}

// --- Rows over the processor's cores ---
//
// A job's rows are handed out, band by band of the star field, to the
// calling thread and to worker threads that serve that job alone while it
// runs, so a render is still one job (one output render at a time) that
// merely finishes sooner. Every pixel depends only on its position and on
// what the set-up prepared, and the star field is drawn for the whole job
// before any row, so the picture is the same byte for byte whatever the
// number of threads.

int gRenderThreads = 0;

enum {
    RENDER_MAX_THREADS = 32,
    ROWS_PER_THREAD = 16,          // fewer rows are not worth a thread
    ROW_THREAD_STACK = 256 * 1024, // the row loop needs little stack
};

// The rows of one job, shared by the threads that render them.
struct RowShare {
    JobState *job;
    const ComposeState *state;
    const FlatColumn *columns;   // flat maps: the column tables, or null
    int left, right, top, bottom;
    // Rows are handed out by star cell rows (32 rows): a thread stays in its
    // cell row while it has rows left, so that each thread draws the star
    // coverage of few cell rows, not of every row it happens to take.
    int firstCell, lastCell;     // the cell rows of top and bottom
    volatile LONG nextCell;      // cell rows begun so far
    volatile LONG taken[65536 / STAR_CELL_PIXELS + 2];   // rows taken of each cell row
    volatile LONG rowsDone;
    volatile LONG cancelled;
};

struct RowPool;

struct RowWorker {
    RowShare *share;
    StarBand band;
    HANDLE thread;
    RowPool *pool;      // null for a worker started for one job alone
    HANDLE wake;        // pool workers: set when there is a job to serve
    size_t bandBytes;   // pool workers: the size of band.coverage
    int priority;       // pool workers: the priority last given
};

// Row workers kept between renders. Under Wine a thread takes a millisecond
// or more to start and to end, a good share of a render on all cores, so
// the workers of one render wait for the next. One render holds the pool at
// a time (they only ever serve that render's job); a render that finds it
// held, a preview beside the output render, starts workers of its own.
struct RowPool {
    volatile LONG held;
    int started;        // workers made so far
    RowWorker workers[RENDER_MAX_THREADS - 1];
    volatile LONG busy; // workers still on the current job
    HANDLE done;        // set by the last of them
};

static RowPool gRowPool;

// The cores this process may run on.
static int ProcessorCores()
{
    DWORD_PTR process = 0, system = 0;
    int n = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
        for (; process; process &= process - 1)
            n++;
    if (n < 1) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        n = (int)info.dwNumberOfProcessors;
    }
    return n < 1 ? 1 : n;
}

// Whether threads may share the job's maps: a map read through a window
// moves that window, so only maps held whole in memory are shared.
static bool MapsShareable(const JobState *j)
{
    const MapImage *maps[4] = {&j->day, &j->next, &j->urban, &j->clouds};
    for (int i = 0; i < 4; i++)
        if (maps[i]->open && !maps[i]->direct)
            return false;
    return true;
}

static int ThreadsFor(const JobState *j, int rows)
{
    int n = gRenderThreads > 0 ? gRenderThreads : ProcessorCores();
    int useful = rows / ROWS_PER_THREAD;
    n = n < useful ? n : useful;
    n = n < RENDER_MAX_THREADS ? n : RENDER_MAX_THREADS;
    return n > 1 && MapsShareable(j) ? n : 1;
}

// The next row of cell row cell, or -1 when all its rows are taken.
static int TakeRowOf(RowShare *share, int cell)
{
    int index = cell - share->firstCell;
    int first = share->job->view->iClpArea[1] + cell * STAR_CELL_PIXELS;
    first = first > share->top ? first : share->top;
    int last = share->job->view->iClpArea[1] + (cell + 1) * STAR_CELL_PIXELS - 1;
    last = last < share->bottom ? last : share->bottom;
    int y = first + (int)InterlockedIncrement(&share->taken[index]) - 1;
    return y <= last ? y : -1;
}

// The next row for a thread last in cell row *cell: from that cell row,
// else from the next one nobody has begun, else from any with rows left;
// -1 when none are left.
static int TakeRow(RowShare *share, int *cell)
{
    int y = *cell >= share->firstCell ? TakeRowOf(share, *cell) : -1;
    if (y >= 0)
        return y;
    int fresh = share->firstCell + (int)InterlockedIncrement(&share->nextCell) - 1;
    if (fresh <= share->lastCell && (y = TakeRowOf(share, fresh)) >= 0) {
        *cell = fresh;
        return y;
    }
    for (int c = share->firstCell; c <= share->lastCell; c++)
        if ((y = TakeRowOf(share, c)) >= 0) {
            *cell = c;
            return y;
        }
    return -1;
}

// Takes rows until none are left. The calling thread passes reported, the
// rows it has reported to the progress sink, and reports as it goes, so the
// sink hears it from one thread and in order. False when cancelled.
static bool RenderRows(RowShare *share, StarBand *band, int *reported)
{
    JobState *j = share->job;
    int cell = share->firstCell - 1;
    while (!share->cancelled) {
        int y = TakeRow(share, &cell);
        if (y < 0)
            return true;
        bool done = share->columns
                        ? RenderFlatRow(j, share->state, band, share->columns, y, share->left,
                                        share->right)
                        : RenderGlobeRow(j, share->state, band, y, share->left, share->right);
        if (!done) {
            InterlockedExchange(&share->cancelled, 1);
            return false;
        }
        int rows = (int)InterlockedIncrement(&share->rowsDone);
        for (; reported && !*share->state->cancel && *reported + 100 <= rows; *reported += 100)
            ReportRows(share->state, j, *reported + 100);
    }
    return false;
}

static DWORD WINAPI RowWorkerThread(LPVOID parameter)
{
    RowWorker *w = (RowWorker *)parameter;
    if (!w->pool) {
        RenderRows(w->share, &w->band, 0);
        return 0;
    }
    while (WaitForSingleObject(w->wake, INFINITE) == WAIT_OBJECT_0) {
        RenderRows(w->share, &w->band, 0);
        if (InterlockedDecrement(&w->pool->busy) == 0)
            SetEvent(w->pool->done);
    }
    return 0;
}

// Starts up to count - 1 workers for this job alone, at the calling thread's
// priority (the job's); answers how many started. A worker that cannot be
// made is left out: the others, and the calling thread, take its rows.
static int StartRowWorkers(RowShare *share, RowWorker *workers, int count, size_t coverageBytes)
{
    int priority = GetThreadPriority(GetCurrentThread());
    int started = 0;
    for (int i = 1; i < count; i++) {
        RowWorker *w = &workers[started];
        memset(w, 0, sizeof *w);
        w->share = share;
        w->band.row = -1;
        w->band.coverage = coverageBytes ? (float *)malloc(coverageBytes) : 0;
        if (coverageBytes && !w->band.coverage)
            break;
        w->thread = CreateThread(0, ROW_THREAD_STACK, RowWorkerThread, w,
                                 CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, 0);
        if (!w->thread) {
            free(w->band.coverage);
            break;
        }
        if (priority != THREAD_PRIORITY_ERROR_RETURN)
            SetThreadPriority(w->thread, priority);
        ResumeThread(w->thread);
        started++;
    }
    return started;
}

static void JoinRowWorkers(RowWorker *workers, int started)
{
    HANDLE handles[RENDER_MAX_THREADS];
    for (int i = 0; i < started; i++)
        handles[i] = workers[i].thread;
    if (started)
        WaitForMultipleObjects((DWORD)started, handles, TRUE, INFINITE);
    for (int i = 0; i < started; i++) {
        CloseHandle(workers[i].thread);
        free(workers[i].band.coverage);
    }
}

// Makes pool workers until there are wanted, or one cannot be made.
static void GrowRowPool(RowPool *pool, int wanted)
{
    if (!pool->done && !(pool->done = CreateEventA(0, TRUE, FALSE, 0)))
        return;
    while (pool->started < wanted) {
        RowWorker *w = &pool->workers[pool->started];
        memset(w, 0, sizeof *w);
        w->pool = pool;
        w->priority = THREAD_PRIORITY_NORMAL;
        if (!(w->wake = CreateEventA(0, FALSE, FALSE, 0)))
            return;
        w->thread = CreateThread(0, ROW_THREAD_STACK, RowWorkerThread, w,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, 0);
        if (!w->thread) {
            CloseHandle(w->wake);
            return;
        }
        pool->started++;
    }
}

// Hands the job to up to count - 1 pool workers at the calling thread's
// priority; answers how many took it (0 when another render holds the pool,
// which is then not taken).
static int WakePoolWorkers(RowPool *pool, RowShare *share, int count, size_t coverageBytes)
{
    if (InterlockedCompareExchange(&pool->held, 1, 0) != 0)
        return 0;
    GrowRowPool(pool, count - 1);
    int priority = GetThreadPriority(GetCurrentThread());
    int n = 0;
    for (; n < count - 1 && n < pool->started; n++) {
        RowWorker *w = &pool->workers[n];
        if (coverageBytes > w->bandBytes) {
            free(w->band.coverage);
            w->band.coverage = (float *)malloc(coverageBytes);
            w->bandBytes = w->band.coverage ? coverageBytes : 0;
            if (!w->band.coverage)
                break;
        }
        w->band.row = -1;
        w->share = share;
        if (priority != THREAD_PRIORITY_ERROR_RETURN && priority != w->priority &&
            SetThreadPriority(w->thread, priority))
            w->priority = priority;
    }
    if (!n) {
        InterlockedExchange(&pool->held, 0);
        return 0;
    }
    pool->busy = n;
    ResetEvent(pool->done);
    for (int i = 0; i < n; i++)
        SetEvent(pool->workers[i].wake);
    return n;
}

// Waits for the pool's workers to finish the job and lets the pool go.
static void ReleasePoolWorkers(RowPool *pool, int woken)
{
    if (!woken)
        return;
    WaitForSingleObject(pool->done, INFINITE);
    InterlockedExchange(&pool->held, 0);
}

// Renders one job's clip rectangle; false when cancelled.
static bool RenderJob(JobState *j, const ComposeState *s)
{
    const ViewOptions *v = j->view;
    RowShare share;
    memset(&share, 0, sizeof share);
    share.job = j;
    share.state = s;
    share.left = v->iClpArea[0] > 0 ? v->iClpArea[0] : 0;
    share.top = v->iClpArea[1] > 0 ? v->iClpArea[1] : 0;
    share.right = v->iClpArea[2] < s->width - 1 ? v->iClpArea[2] : s->width - 1;
    share.bottom = v->iClpArea[3] < s->height - 1 ? v->iClpArea[3] : s->height - 1;
    share.firstCell = CellOfRow(j, share.top);
    share.lastCell = share.top <= share.bottom ? CellOfRow(j, share.bottom) : share.firstCell - 1;
    size_t coverageBytes = 0;
    StarBand own = {0, -1};
    if (j->starsOn) {
        coverageBytes = (size_t)j->starCells * STAR_CELL_PIXELS * STAR_CELL_PIXELS * sizeof(float);
        own.coverage = (float *)malloc(coverageBytes);
        j->starsOn = own.coverage && DrawAllStarRows(j, share.top, share.bottom);
    }
    if (!j->starsOn)
        coverageBytes = 0;
    FlatColumn *columns = j->projection.flat ? PrepareFlatColumns(j) : 0;
    share.columns = columns;
    RowWorker *workers = 0;
    int woken = 0, started = 0, threads = ThreadsFor(j, share.bottom - share.top + 1);
    if (threads > 1 && !(woken = WakePoolWorkers(&gRowPool, &share, threads, coverageBytes)) &&
        (workers = (RowWorker *)malloc(threads * sizeof(RowWorker))) != 0)
        started = StartRowWorkers(&share, workers, threads, coverageBytes);
    int reported = 0;
    bool finished = RenderRows(&share, &own, &reported);
    ReleasePoolWorkers(&gRowPool, woken);
    JoinRowWorkers(workers, started);
    // A cancel that came while the last rows were drawn still counts.
    finished = finished && !share.cancelled && !*s->cancel;
    for (; finished && reported + 100 <= share.rowsDone; reported += 100)
        ReportRows(s, j, reported + 100);   // rows the workers finished last
    free(workers);
    free(own.coverage);
    free(columns);
    return finished;
}

// --- The whole call ---

static bool MakeTemporaryName(const char *path, char *out, int size)
{
    for (int attempt = 0; attempt < 1000; attempt++) {
        if (snprintf(out, size, "%s%08X.tmp", path, (unsigned)GetTickCount()) >= size)
            return false;
        if (GetFileAttributesA(out) == INVALID_FILE_ATTRIBUTES)
            return true;
        Sleep(1);
    }
    return false;
}

static void DesktopShift(const ViewOptions *first, int output, ComposeState *s)
{
    s->shiftX = s->shiftY = 0;
    if (gApp.osCode >= 8 || output != RENDER_OUTPUT_WALLPAPER)
        return;
    if (first->iOutputW == ScreenWidth())
        s->shiftX = MapWrapIndex(gScreenX, s->width);
    if (first->iOutputH == ScreenHeight())
        s->shiftY = MapWrapIndex(gScreenY, s->height);
}

// The job's labels, drawn into the mapped picture.
static int DrawLabels(ViewOptions *v, const ComposeState *s, uint8_t *bitmap)
{
    return drawCityLabels(bitmap, v, s->shiftX, s->shiftY);
}

// Renders every job into the mapped file; the status of the last one.
static int RenderJobs(ViewList *jobs, ComposeState *s, uint8_t *bitmap, bool *cancelled)
{
    int status = RENDER_OK;
    for (int i = 0; i < jobs->count && !*cancelled; i++) {
        JobState *j = new (std::nothrow) JobState();
        if (!j)
            return RENDER_NO_MEMORY;
        s->jobIndex = i;
        int jobStatus = PrepareJob(j, &jobs->data[i]);
        if (jobStatus == RENDER_OK)
            *cancelled = !RenderJob(j, s);
        FinishJob(j);
        if (jobStatus == RENDER_OK && !*cancelled && j->view->bCities && j->view->iCityNumber >= 1)
            status = DrawLabels(j->view, s, bitmap);
        delete j;
        if (jobStatus != RENDER_OK)
            return jobStatus;
    }
    return status;
}

bool ReplaceFileWithRetries(const char *source, const char *target, bool keepSource)
{
    for (int attempt = 0; attempt < gComposeCopyAttempts; attempt++) {
        if (attempt)
            Sleep(gComposeCopyPauseMs);
        bool done = keepSource ? CopyFileReplacing(source, target)
                               : MoveFileExA(source, target,
                                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
        if (done)
            return true;
    }
    return false;
}

static void BuildDayRamp(ComposeState *s)
{
    for (int i = 0; i < DAY_RAMP_ENTRIES; i++)
        s->dayRamp[i] = (sin(-PI / 2 + i * DAY_RAMP_STEP) + 1) * 0.5;
}

int ComposeImage(volatile uint8_t *cancel, ViewList *jobs, const char *path, int output)
{
    static volatile uint8_t never = 0;
    if (!jobs || jobs->count < 1)
        return RENDER_NO_JOBS;
    ComposeState *s = (ComposeState *)calloc(1, sizeof(ComposeState));
    if (!s)
        return RENDER_NO_TEMPORARY;
    s->cancel = cancel ? cancel : &never;
    s->width = jobs->data[0].iOutputW;
    s->height = jobs->data[0].iOutputH;
    s->jobCount = jobs->count;
    s->stride = ((s->width * 24 + 31) / 32) * 4;
    char temporary[MAX_PATH + 16];
    CMappedFile file;
    int64_t size = (int64_t)s->height * s->stride + BMP_HEADER_BYTES;
    int status = RENDER_OK;
    if (s->width < 1 || s->height < 1 || s->width > 65535 || s->height > 65535 || size > 0x7FFFFFFF ||
        !MakeTemporaryName(path, temporary, sizeof temporary) ||
        file.Open(temporary, MAPPED_READ_WRITE, (DWORD)size, 0) != MAPPED_OK) {
        status = RENDER_NO_TEMPORARY;
    } else if (WriteBmpHeader(&file, s->width, s->height) != 0) {
        status = RENDER_NO_HEADER;
    } else {
        s->pixels = file.base + BMP_HEADER_BYTES;
        DesktopShift(&jobs->data[0], output, s);
        BuildDayRamp(s);
        bool cancelled = false;
        status = RenderJobs(jobs, s, file.base, &cancelled);
        gProgressSink.rendered(100);
        file.Close();
        if (status == RENDER_OK && !cancelled && !ReplaceFileWithRetries(temporary, path, false))
            status = RENDER_COPY_FAILED;
    }
    file.Close();
    DeleteFileA(temporary);
    free(s);
    return status;
}

// --- Season mask ---

bool SetSeasonMask(const CDibImage *picture)
{
    if (!picture || picture->GetWidth() != SEASON_MASK_WIDTH ||
        picture->GetHeight() != SEASON_MASK_HEIGHT)
        return false;
    uint8_t *mask = (uint8_t *)malloc(SEASON_MASK_WIDTH * SEASON_MASK_HEIGHT);
    if (!mask)
        return false;
    for (int y = 0; y < SEASON_MASK_HEIGHT; y++)
        for (int x = 0; x < SEASON_MASK_WIDTH; x++)
            mask[y * SEASON_MASK_WIDTH + x] =
                picture->GetPixelGray(x, SEASON_MASK_HEIGHT - 1 - y);   // rows stored bottom-up
    FreeSeasonMask();
    SeasonMask = mask;
    return true;
}

void FreeSeasonMask()
{
    free(SeasonMask);
    SeasonMask = 0;
}
