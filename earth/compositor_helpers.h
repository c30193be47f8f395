// Small routines for the compositor's and the map-file code's inner loops:
// the process-wide cosine and random tables, the random star field, a
// windowed file reader, a file opener that sizes its file up front, the
// sine taken from the cosine table, the arc tangents and the cloud relief's
// sun octant, and the pixel loops' steps in SSE2 lanes (colours, a grey
// map's bilinear sample, the globe projection of two pixels).
#pragma once

#include <emmintrin.h>
#include <windows.h>
#include <stdint.h>

#include "earth/mapfile.h"

struct ViewOptions;

enum {
    COSINE_TABLE_ENTRIES = 628318,   // step 2 pi / 628318, about 1e-5
    RANDOM_TABLE_ENTRIES = 4096,
    STAR_CELL_PIXELS = 32,           // a star cell is 32 x 32 output pixels
    STAR_CELL_SLOTS = 16,            // 15 stars at most and the end mark
    STAR_CELL_BYTES = STAR_CELL_SLOTS * 4 * sizeof(float),
    STAR_WINDOW_ROWS = 3,            // cell rows above, at and below the pixel's
    STAR_BRIGHTNESS_LEVELS = 100,
    STAR_MAX_PER_CELL = 15,
    STAR_MAX_RADIUS = 5,             // pixels: 5 x the brightest level
};

// Process-wide tables, built once by the program entry before any render and
// only read afterwards (the star field advances gRandomTableStart).
extern double *CosineTable;        // null until buildCosineTable
extern int CosineTableCount;
extern float RandomTable[RANDOM_TABLE_ENTRIES];   // i / 4095, shuffled
extern int gRandomTableStart;
extern float StarBrightness[STAR_BRIGHTNESS_LEVELS];

bool buildCosineTable();                 // false when memory runs out
void buildRandomTable(int startIndex);   // shuffles with rand(), unseeded
double slowTableCosine(double x);        // the rare angles tableCosine hands on
double slowAtan2(double y, double x);

// The C library's fabs and floor are x87 code here, which stalls the SSE
// arithmetic of the render loops; these are exact replacements.
inline double absValue(double v) { return __builtin_fabs(v); }
inline double floorValue(double v)   // |v| below 2^31
{
    double t = (double)(int)v;
    return t > v ? t - 1 : t;
}

// cos x as entry trunc(|x| / step) mod entries; inline for the render loops.
inline double tableCosine(double x)
{
    double v = absValue(x) * (COSINE_TABLE_ENTRIES / 6.283185307179586);
    if (!(v < 2147483647.0) || !CosineTable)
        return slowTableCosine(x);   // huge, infinite or NaN, or no table yet
    int index = (int)v;
    if (index >= COSINE_TABLE_ENTRIES)
        index %= COSINE_TABLE_ENTRIES;
    return CosineTable[index];
}

// sin x to within one table step.
inline double sineFromTable(double x) { return tableCosine(x - 1.5707963267948966); }

// Arc tangents to full double precision without the runtime's slow ones.
// atan(c) and its first three derivative terms at c = i / 256, so that
// atan(c + d) = T + d (D1 + d (D2 + d D3)) for |d| <= 1/512 leaves an error
// near 1e-12 radians with a single division per call. Inline: on this
// target a double returned from another file goes through the x87 stack.
enum { ATAN_TABLE_NODES = 257 };
struct AtanNode {
    double value, d1, d2, d3;
};
extern AtanNode AtanTable[ATAN_TABLE_NODES];

// atan of a ratio in [0, 1].
inline double atanUnit(double a)
{
    int i = (int)(a * 256 + 0.5);
    const AtanNode *n = &AtanTable[i];
    double d = a - i / 256.0;
    return n->value + d * (n->d1 + d * (n->d2 + d * n->d3));
}

// The sun's direction from a pixel, for the cloud relief: offsets from the
// sun's point and 1 / |dLon|, 1 / |dLat| (a flat map works them out once per
// column and per row).
struct SunDirection {
    double dLon, dLat, inverseLon, inverseLat;
};

// The cloud relief's octant for a direction and how to place the direction
// inside it, from one look at the offsets: the octant table's row, and the
// position t (0 at the row's first direction, 1 at its second) as
// none ? 0 : fromEnd ? 1 - a : a with a = atanUnit(ratio) x 4 / pi, a ratio
// below 1. The arc tangent is left to SunOctantPosition, which only pixels
// with two differing gradients need.
struct SunOctant {
    int row;
    bool none, fromEnd;
    double ratio;
};

inline void SunOctantOf(const SunDirection *d, SunOctant *out)
{
    double ax = absValue(d->dLon), ay = absValue(d->dLat);
    out->none = !(ax == ax && ay == ay) || (ax == 0 && ay == 0);   // no direction, or not a number
    if (out->none) {
        out->row = 0;
        out->fromEnd = false;
        out->ratio = 0;
        return;
    }
    bool shallow = ay <= ax, east = d->dLon >= 0;
    int k = shallow ? (east ? 0 : 3) : (east ? 1 : 2);
    // The angle runs negative for points north of the sun's (y grows
    // downwards); exactly east of it the angle is 0, which counts as positive.
    bool positive = d->dLat < 0 || (ay == 0 && d->dLon > 0);
    out->row = positive ? k : 4 + k;
    out->ratio = shallow ? ay * d->inverseLon : ax * d->inverseLat;
    out->fromEnd = shallow != east;
}

inline double SunOctantPosition(const SunOctant *o)
{
    if (o->none)
        return 0;
    double quarter = atanUnit(o->ratio) * (4 / 3.14159265358979323846);
    return o->fromEnd ? 1 - quarter : quarter;
}

// atan2, and +-pi/2 for x = 0.
inline double fastAtan2(double y, double x)
{
    const double halfPi = 1.5707963267948966, pi = 3.141592653589793;
    double ax = absValue(x), ay = absValue(y);
    if (!(ax + ay < 1e300))
        return slowAtan2(y, x);   // infinite or NaN: rare, leave it to the runtime
    if (x == 0)
        return y > 0 ? halfPi : -halfPi;
    double r = ay > ax ? halfPi - atanUnit(ax / ay) : atanUnit(ay / ax);
    if (x < 0)
        r = pi - r;
    return y < 0 ? -r : r;
}

double fastAtan(double x);
double fastAcos(double x);              // x clamped to [-1, 1]

// One star of a cell; radius 0 ends the cell's list.
struct LightSpot {
    float x, y;         // within the cell, 0..32
    float radius;       // pixels
    float intensity;
};

// Star field window: STAR_WINDOW_ROWS rows of cellsAcross cells of
// STAR_CELL_SLOTS spots. Row 1 is the current cell row.
bool buildLightSpots(const ViewOptions *view, int *cellsAcross, LightSpot **window,
                     float *density, int *row);
void fillLightSpotRow(int windowRow, LightSpot *window, float density, int cellsAcross);
// Moves the window down one cell row (every 32 output rows) and fills the new
// bottom row; *row counts the current cell row.
void advanceLightSpots(LightSpot *window, float density, int cellsAcross, int *row);
// Coverage 0..1 of the pixel by the stars around its cell.
float lightSpotCoverage(int x, int y, int cellRow, const LightSpot *window, int cellsAcross);
// lightSpotCoverage of every pixel of the cell row's 32 picture rows at once,
// into coverage (32 rows of width floats, the star field's columns
// 0..width-1, which the compositor counts from the clip rectangle's left):
// the same values, drawn star by star instead of searched pixel by pixel.
void rasterLightSpots(const LightSpot *window, int cellsAcross, int cellRow, float *coverage,
                      int width);
// The background brightened by the coverage: v + a (255 - v) per channel.
uint8_t brightenByStars(uint8_t value, float coverage, int starsBrightness);

// Windowed reader over a file that is too big, or not worth, mapping.
struct BufferedReader {
    int windowSize;       // bytes; the buffer holds 3 more for a last pixel
    int64_t fileSize;
    DWORD bytesRead;      // bytes held in the buffer from the last fill
    HANDLE file;          // 0 when closed
    uint8_t *buffer;
    int64_t windowStart;  // -1 when empty

    BufferedReader();
    ~BufferedReader();
    // 0 ok, 1 the file cannot be opened, 4 no memory.
    int Open(const char *path, int windowSize);
    // Copies length bytes at position; false when they are not all in the
    // file or seeking or reading fails.
    bool Read(int64_t position, int length, void *destination);
    void Close();
};

enum {
    SIZED_OK = 0,
    SIZED_NOT_OPENED = 1,
    SIZED_NO_SEEK = 2,
    SIZED_NO_END = 3,
};

// A file opened with its size set up front; the file pointer is left at 0.
struct SizedFile {
    int64_t size;
    HANDLE file;   // 0 when closed

    SizedFile();
    ~SizedFile();
    int Open(const char *path, bool write, int64_t size);
    void Close();
};

// --- Steps of the pixel loops ---

#define LANE_HELPER static inline __attribute__((always_inline))

// Three-channel steps in SSE2 lanes: channels 0 and 1 in one register, 2
// in the low lane of another (its high lane is 0 and thrown away). Each
// lane does the very operations of the scalar formula in the same order,
// so the results are the same doubles.
struct Lanes {
    __m128d low, high;
};

LANE_HELPER Lanes LoadLanes(const double c[3])
{
    return {_mm_loadu_pd(c), _mm_load_sd(c + 2)};
}

LANE_HELPER void StoreLanes(double c[3], Lanes v)
{
    _mm_storeu_pd(c, v.low);
    _mm_store_sd(c + 2, v.high);
}

// Three ints as the doubles (double)v[k]. A colour written this way, as one
// pair and one single, is read back by LoadLanes straight from the store
// buffer; three single stores would make the pair's load wait for them.
LANE_HELPER Lanes IntLanes(int a, int b, int c)
{
    __m128i ints = _mm_setr_epi32(a, b, c, 0);
    return {_mm_cvtepi32_pd(ints), _mm_cvtepi32_pd(_mm_srli_si128(ints, 8))};
}

// c + amount (target - c)
LANE_HELPER Lanes TowardLanes(Lanes c, Lanes target, __m128d amount)
{
    return {_mm_add_pd(c.low, _mm_mul_pd(amount, _mm_sub_pd(target.low, c.low))),
            _mm_add_pd(c.high, _mm_mul_pd(amount, _mm_sub_pd(target.high, c.high)))};
}

LANE_HELPER void MoveToward(double c[3], const double target[3], double amount)
{
    StoreLanes(c, TowardLanes(LoadLanes(c), LoadLanes(target), _mm_set1_pd(amount)));
}

// Every channel toward one value.
LANE_HELPER void MoveAllToward(double c[3], double value, double amount)
{
    __m128d v = _mm_set1_pd(value);
    StoreLanes(c, TowardLanes(LoadLanes(c), {v, v}, _mm_set1_pd(amount)));
}

// The lanes truncated to ints and clamped to bytes, ClampByte((int)c[k]):
// the two saturating packs clamp any int (a NaN's or an overflow's INT_MIN
// too) exactly as ClampByte does. Byte k of the answer is channel k.
LANE_HELPER uint32_t LaneBytes(Lanes v)
{
    __m128i ints = _mm_unpacklo_epi64(_mm_cvttpd_epi32(v.low), _mm_cvttpd_epi32(v.high));
    ints = _mm_packs_epi32(ints, ints);
    return (uint32_t)_mm_cvtsi128_si32(_mm_packus_epi16(ints, ints));
}

// LaneBytes with the channels in picture order: byte 0 is channel 2 (blue),
// byte 1 channel 1, byte 2 channel 0, byte 3 zero.
LANE_HELPER uint32_t LaneBytesBGR(Lanes v)
{
    __m128i ints = _mm_unpacklo_epi64(_mm_cvttpd_epi32(v.low), _mm_cvttpd_epi32(v.high));
    ints = _mm_shuffle_epi32(ints, _MM_SHUFFLE(3, 0, 1, 2));
    ints = _mm_packs_epi32(ints, ints);
    return (uint32_t)_mm_cvtsi128_si32(_mm_packus_epi16(ints, ints));
}

// The least byte b with b > 1.1 v, for v = 0..255 (256 for none): a blue
// byte b exceeds 1.1 times a byte v exactly when b >= table[v], which
// spares the water and glint tests a conversion to double.
inline void FillBlueAbove(uint16_t table[256])
{
    for (int v = 0, b = 0; v < 256; v++) {
        while (b < 256 && !(b > 1.1 * v))
            b++;
        table[v] = (uint16_t)b;
    }
}

// A grey map's bilinear sample from its four corner bytes, as the map
// sampler rounds one channel: the top and bottom rows in the two lanes,
// each truncated, then (int)(top (1 - dy) + bottom dy) & 255.
LANE_HELPER int BilinearGrey(int topLeft, int topRight, int bottomLeft, int bottomRight, double dx,
                             double dy)
{
    __m128d left = _mm_cvtepi32_pd(_mm_setr_epi32(topLeft, bottomLeft, 0, 0));
    __m128d right = _mm_cvtepi32_pd(_mm_setr_epi32(topRight, bottomRight, 0, 0));
    __m128d rows = _mm_add_pd(_mm_mul_pd(left, _mm_set1_pd(1 - dx)), _mm_mul_pd(right, _mm_set1_pd(dx)));
    __m128d both = _mm_mul_pd(_mm_cvtepi32_pd(_mm_cvttpd_epi32(rows)), _mm_setr_pd(1 - dy, dy));
    return _mm_cvttsd_si32(_mm_add_sd(both, _mm_unpackhi_pd(both, both))) & 255;
}

// fastAtan2 of two lanes, the ratio's division done for both at once:
// min(|x|, |y|) / max(|x|, |y|) is the quotient fastAtan2 takes, the rest
// is its own steps lane by lane, so the answers are its doubles.
LANE_HELPER void FastAtan2Lanes(__m128d y, __m128d x, double out[2])
{
    const double halfPi = 1.5707963267948966, pi = 3.141592653589793;
    __m128d sign = _mm_set1_pd(-0.0);
    __m128d ax = _mm_andnot_pd(sign, x), ay = _mm_andnot_pd(sign, y);
    double ratio[2], xs[2], ys[2], axs[2], ays[2];
    _mm_storeu_pd(ratio, _mm_div_pd(_mm_min_pd(ax, ay), _mm_max_pd(ax, ay)));
    _mm_storeu_pd(xs, x);
    _mm_storeu_pd(ys, y);
    _mm_storeu_pd(axs, ax);
    _mm_storeu_pd(ays, ay);
    for (int k = 0; k < 2; k++) {
        if (!(axs[k] + ays[k] < 1e300)) {
            out[k] = slowAtan2(ys[k], xs[k]);
            continue;
        }
        if (xs[k] == 0) {
            out[k] = ys[k] > 0 ? halfPi : -halfPi;
            continue;
        }
        double r = ays[k] > axs[k] ? halfPi - atanUnit(ratio[k]) : atanUnit(ratio[k]);
        if (xs[k] < 0)
            r = pi - r;
        out[k] = ys[k] < 0 ? -r : r;
    }
}

// ProjectPrepared's globe projection of pixels x and x + 1 of row y (inside
// the clip rectangle) on a map of mapWidth x mapHeight, lane by lane the very operations of the scalar one,
// so the same doubles, with the square roots and divisions done for both
// pixels at once. sunCos: the cosine of the longitude from the sun's at
// cosSunLongitude, sinSunLongitude, from the point's vector (0 on the axis).
LANE_HELPER void ProjectGlobeLanes(const ProjectionSetup *setup, int mapWidth, int mapHeight,
                                   double cosSunLongitude, double sinSunLongitude, int x, int y,
                                   MapProjection p[2], double sunCos[2])
{
    const double pi = 3.14159265358979323846;
    __m128d e = _mm_mul_pd(_mm_sub_pd(_mm_setr_pd(x, x + 1), _mm_set1_pd(setup->centreX)),
                           _mm_set1_pd(setup->inverseRadius));
    __m128d g = _mm_set1_pd((setup->centreY - y) * setup->inverseRadius);
    __m128d ee = _mm_mul_pd(e, e), gg = _mm_mul_pd(g, g);
    __m128d distance = _mm_sqrt_pd(_mm_add_pd(ee, gg));
    __m128d z = _mm_sqrt_pd(
        _mm_andnot_pd(_mm_set1_pd(-0.0), _mm_sub_pd(_mm_sub_pd(_mm_set1_pd(1), ee), gg)));
    __m128d cosT = _mm_set1_pd(setup->cosT), sinT = _mm_set1_pd(setup->sinT);
    __m128d cosO = _mm_set1_pd(setup->cosO), sinO = _mm_set1_pd(setup->sinO);
    __m128d k = _mm_sub_pd(_mm_mul_pd(z, cosT), _mm_mul_pd(g, sinT));
    __m128d up = _mm_add_pd(_mm_mul_pd(z, sinT), _mm_mul_pd(g, cosT));
    __m128d mx = _mm_sub_pd(_mm_mul_pd(k, cosO), _mm_mul_pd(e, sinO));
    __m128d my = _mm_add_pd(_mm_mul_pd(k, sinO), _mm_mul_pd(e, cosO));
    __m128d across = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(mx, mx), _mm_mul_pd(my, my)));
    double longitude[2], latitude[2];
    FastAtan2Lanes(my, mx, longitude);
    FastAtan2Lanes(up, across, latitude);
    double d[2], vx[2], vy[2], vz[2], a[2];
    _mm_storeu_pd(d, distance);
    _mm_storeu_pd(vx, mx);
    _mm_storeu_pd(vy, my);
    _mm_storeu_pd(vz, up);
    _mm_storeu_pd(a, across);
    for (int i = 0; i < 2; i++) {
        if (vx[i] == 0)   // the projection's own rule for the poles' meridian
            longitude[i] = vy[i] > 0 ? pi / 2 : -pi / 2;
        if (a[i] == 0)
            latitude[i] = vz[i] > 0 ? pi / 2 : -pi / 2;
    }
    double w = mapWidth, h = mapHeight;   // the view's map size
    double mapX[2], mapY[2], sun[2];
    _mm_storeu_pd(mapX, _mm_add_pd(_mm_div_pd(_mm_mul_pd(_mm_set1_pd(w), _mm_loadu_pd(longitude)),
                                              _mm_set1_pd(2 * pi)),
                                   _mm_set1_pd(w / 2.0)));
    _mm_storeu_pd(mapY, _mm_sub_pd(_mm_set1_pd(h / 2.0),
                                   _mm_div_pd(_mm_mul_pd(_mm_set1_pd(h), _mm_loadu_pd(latitude)),
                                              _mm_set1_pd(pi))));
    _mm_storeu_pd(sun, _mm_div_pd(_mm_add_pd(_mm_mul_pd(mx, _mm_set1_pd(cosSunLongitude)),
                                             _mm_mul_pd(my, _mm_set1_pd(sinSunLongitude))),
                                  across));
    for (int i = 0; i < 2; i++) {
        p[i].distance = d[i];
        p[i].valid = d[i] <= 1;
        p[i].longitude = longitude[i];
        p[i].latitude = latitude[i];
        p[i].vx = vx[i];
        p[i].vy = vy[i];
        p[i].vz = vz[i];
        p[i].across = a[i];
        p[i].mapX = mapX[i];
        p[i].mapY = mapY[i];
        sunCos[i] = a[i] > 0 ? sun[i] : 0;
    }
}
