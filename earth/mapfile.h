// Map files: the raw, memory-mappable Earth pictures the renderer reads in
// place, the tiled "vtd" source files they are converted from, the header of
// the 24-bit output bitmap, and the per-pixel helpers of the compositor.
#pragma once

#include <windows.h>
#include <stdint.h>

struct ViewOptions;
struct CMappedFile;
struct BufferedReader;

enum {
    MAP_KIND_MASK = 3,
    MAP_KIND_COLOUR = 1,       // 3 bytes a pixel, blue green red
    MAP_KIND_URBAN = 2,        // 1 byte a pixel
    MAP_KIND_CLOUDS = 3,       // 1 byte grey
    MAP_FLAG_MONTHLY = 0x10,   // twelve images, January first
    MAP_MONTHS = 12,
    MAP_TRAILER_BYTES = 12,
    MAP_MINI_WIDTH = 300,
    MAP_MINI_HEIGHT = 150,
    VTD_CHUNK_HEADER_BYTES = 12,
    VTD_ENCODING_JPEG = 1,     // any other value is PNG
    BMP_HEADER_BYTES = 54,
    // The renderer maps one image (one month) of a map at a time into a
    // 32-bit process, where a view of more than 1 GB is not to be had; no
    // map is built or read with a larger image. A monthly colour map of
    // 21600 x 10800 (700 MB an image) still fits.
    MAP_IMAGE_MAX_BYTES = 0x40000000,
    // Chunk indices are 16 bits and tile 1 is the first.
    VTD_MAX_TILES = 0xFFFF,
};

// Result codes of ConvertDataFile.
enum {
    CONVERT_OK = 0,
    CONVERT_NO_TILE_ONE = 18,
    CONVERT_TILE_ONE_UNDECODABLE = 24,
    CONVERT_SOURCE_NOT_OPENED = 25,
    CONVERT_TARGET_FAILED = 26,
    CONVERT_LATER_TILE_FAILED = 28,
    CONVERT_MINIATURE_FAILED = 37,
    CONVERT_NO_HEADER = 39,
    CONVERT_CANCELLED = 1024,
    BMP_HEADER_WRITE_FAILED = 41,
};

// Last 12 bytes of every map file, little-endian.
struct MapTrailer {
    uint32_t flags;
    uint32_t width;
    uint32_t height;
};

// Layout facts derived from a trailer.
int MapBytesPerPixel(uint32_t flags);   // 3 for colour maps (kind 1), else 1
int MapImageCount(uint32_t flags);      // 12 with the monthly bit, else 1
// Bytes of one image, or -1 when width or height is not positive or the
// image is larger than MAP_IMAGE_MAX_BYTES. Every other size of a map (band,
// month offset, whole file) is derived from this one and so cannot overflow.
int64_t MapImageBytes(int64_t width, int64_t height, int bytes);
// Trailer included; -1 when the trailer describes no map this program can
// build or read: flags with bit 31 set, or an image MapImageBytes refuses.
// The converter and the trailer reader both judge a header by this.
int64_t MapFileSize(const MapTrailer *trailer);

// Progress of the converter: status text with a percentage, and a cancel
// byte owned by the caller. Either member may be null.
struct MapProgress {
    void (*report)(void *context, const char *status, int percent);
    void *context;
    volatile uint8_t *cancel;
};

// Offset of the first chunk with that key and index (-1 any) in a mapped
// source file, or -1. A chunk whose length runs past the file ends the walk.
int64_t FindChunk(const CMappedFile *image, int key, int index);

// Converts folder\name.vtd into its map file and miniature. The map and the
// miniature are written beside their targets and moved over them only when
// complete, so no failure or cancel leaves a partial map behind. A header
// whose size MapFileSize refuses gives 39, and one whose tiles cannot all be
// in the source (more than VTD_MAX_TILES, or more chunk headers than the
// file has room for) gives 28, both before any file is created.
int ConvertDataFile(const char *folder, const char *name, const MapProgress *progress);

// Target names of a conversion (kind 2 is named by width).
void MapFileName(char *out, int size, const char *folder, const char *name, uint32_t flags,
                 uint32_t width, bool miniature);

// Flags of the map file, or -1 when it cannot be read or its trailer does not
// describe the file (a size MapFileSize refuses, or not the file's size).
// With view sets iMapW, iMapH and bSeasonEnable; with trailer copies it.
int ReadMapTrailer(const char *path, ViewOptions *view, MapTrailer *trailer);

// Both BMP headers at the start of a mapped output file; 0 or 41.
int WriteBmpHeader(CMappedFile *file, int width, int height);

// An index brought into [0, size): both directions of a map wrap.
inline int MapWrapIndex(int64_t value, int size)
{
    if (value >= 0 && value < size)
        return (int)value;   // the common case, without a division
    if (value < 0 && value >= -size)
        return (int)(value + size);
    int64_t wrapped = value % size;
    return (int)(wrapped < 0 ? wrapped + size : wrapped);
}

// One channel of a bilinear map sample from its four corners, as the map
// sampler rounds it.
inline uint8_t MapBilinearChannel(int topLeft, int topRight, int bottomLeft, int bottomRight,
                                  double dx, double dy)
{
    int top = (int)(topLeft * (1 - dx) + topRight * dx);
    int bottom = (int)(bottomLeft * (1 - dx) + bottomRight * dx);
    return (uint8_t)((int)(top * (1 - dy) + bottom * dy) & 255);
}

// One axis of a bilinear season-mask sample; not valid for a coordinate
// that is not a number or lies beyond 1e9.
struct MaskAxis {
    int valid;
    int i0, i1;
    double d;
};

inline void MaskAxisAt(double v, int size, MaskAxis *a)
{
    a->valid = v == v && __builtin_fabs(v) <= 1e9;
    if (!a->valid)
        return;
    int i = (int)v;   // within 1e9: an int, and no slow 64-bit conversion
    a->d = v - i;
    a->i0 = MapWrapIndex(i, size);
    a->i1 = MapWrapIndex(i + 1, size);
}

// The season mask's value at the two axes (0 when either is not valid).
inline int MaskFromAxes(const uint8_t *mask, int maskWidth, const MaskAxis *x, const MaskAxis *y)
{
    if (!x->valid || !y->valid)
        return 0;
    const uint8_t *row0 = mask + (size_t)y->i0 * maskWidth;
    const uint8_t *row1 = mask + (size_t)y->i1 * maskWidth;
    uint8_t top = (uint8_t)(int)(row0[x->i1] * x->d + row0[x->i0] * (1 - x->d));
    uint8_t bottom = (uint8_t)(int)(row1[x->i1] * x->d + row1[x->i0] * (1 - x->d));
    return (int)(top * (1 - y->d) + bottom * y->d);
}

// The column (or row) of a nearest map sample: one size added or taken,
// then the edge, so that no coordinate reads outside the map.
inline int MapNearestIndex(double v, int size)
{
    if (v < 0)
        v += size;
    else if (v >= size)
        v -= size;
    if (!(v >= 0))
        v = 0;   // still outside, or NaN
    int index = (int)v;
    return index >= size ? size - 1 : index;
}

// One pixel of a map through a windowed reader into out (bytes channels, as
// stored). Both directions wrap. False when the read fails.
bool SampleMap(BufferedReader *reader, int width, double x, double y, int64_t imageOffset,
               int height, uint8_t *out, int bytes, bool bilinear);

// Where an output pixel lands on the map.
struct MapProjection {
    double mapX, mapY;
    double longitude, latitude;   // radians
    double distance;              // from the globe centre; 0 flat; -1 clipped
    int valid;
    // Globe: the point as a vector (x towards longitude 0 on the equator,
    // y towards 90 degrees east, z north; a unit vector on the globe) and
    // its distance from the axis, the cosine of the latitude there.
    double vx, vy, vz, across;
};
void ProjectPixel(int x, int y, const ViewOptions *view, MapProjection *out);

// The per-view part of the projection, worked out once for a whole render.
struct ProjectionSetup {
    const ViewOptions *view;
    int flat;
    double radius;                  // globe: in output pixels
    double inverseRadius;
    double centreX, centreY;        // globe: its centre's x and y + 0.5
    double cosT, sinT, cosO, sinO;  // globe: the view centre's rotation
};
void PrepareProjection(const ViewOptions *view, ProjectionSetup *setup);
// Distance of an output pixel from the globe's centre, in globe radii: the
// distance ProjectPrepared gives, without the rest.
inline void GlobePlane(int x, int y, const ProjectionSetup *setup, double *e, double *g)
{
    *e = (x - setup->centreX) * setup->inverseRadius;
    *g = (setup->centreY - y) * setup->inverseRadius;
}

inline double GlobeDistance(int x, int y, const ProjectionSetup *setup)
{
    double e, g;
    GlobePlane(x, y, setup, &e, &g);
    return __builtin_sqrt(e * e + g * g);
}
// ProjectPixel with the setup of PrepareProjection; the same results.
void ProjectPrepared(int x, int y, const ProjectionSetup *setup, MapProjection *out);

// Cosine of the angle between a point and the sub-solar point, in [-1, 1].
double SunCosine(double sunLongitude, double latitude, double sunDeclination, double longitude);

// Bilinear sample of an unsigned grey mask, wrapping at its edges.
int SampleSeasonMask(const uint8_t *mask, int maskWidth, int maskHeight, double x, double y);
