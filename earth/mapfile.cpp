// Map files, their "vtd" sources and the compositor's per-pixel helpers.
#include "earth/mapfile.h"
#include "framework/bytes.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "earth/compositor_helpers.h"
#include "earth/placeholder.h"
#include "earth/settings.h"
#include "framework/mappedfile.h"
#include "imaging/image.h"

static const double PI = 3.14159265358979323846;

static double cosFromTable(double x) { return tableCosine(x); }


// Kind 1 is the only colour kind; testing bit 0 alone would give the grey
// cloud maps (kind 3) three bytes a pixel and refuse every real one.
int MapBytesPerPixel(uint32_t flags) { return (flags & MAP_KIND_MASK) == MAP_KIND_COLOUR ? 3 : 1; }
int MapImageCount(uint32_t flags) { return (flags & MAP_FLAG_MONTHLY) ? MAP_MONTHS : 1; }

int64_t MapImageBytes(int64_t width, int64_t height, int bytes)
{
    if (width <= 0 || height <= 0 || bytes <= 0 || width > MAP_IMAGE_MAX_BYTES ||
        height > MAP_IMAGE_MAX_BYTES)
        return -1;
    // Both at most 2^30 here: the product is exact in 64 bits.
    int64_t pixels = width * height;
    return pixels > MAP_IMAGE_MAX_BYTES / bytes ? -1 : pixels * bytes;
}

int64_t MapFileSize(const MapTrailer *t)
{
    // Readers hand the flags on as a non-negative int (-1 is their failure),
    // so a map with bit 31 set could be built but never opened; nor could
    // one of kind 0, which no reader takes.
    if ((t->flags & 0x80000000u) || (t->flags & MAP_KIND_MASK) == 0)
        return -1;
    int64_t image = MapImageBytes(t->width, t->height, MapBytesPerPixel(t->flags));
    return image < 0 ? -1 : image * MapImageCount(t->flags) + MAP_TRAILER_BYTES;
}

// --- Source chunks ---

int64_t FindChunk(const CMappedFile *image, int key, int index)
{
    if (!image->base)
        return -1;
    int64_t size = (int64_t)image->sizeHigh << 32 | image->sizeLow;
    int64_t offset = 0;
    while (size - offset >= VTD_CHUNK_HEADER_BYTES + 1) {
        const uint8_t *header = image->base + offset;
        int64_t next = offset + VTD_CHUNK_HEADER_BYTES + Le32(header + 8);
        if (next > size)
            return -1;   // a corrupt length would send the walk out of the file
        if (Le16(header) == key && (index == -1 || Le16(header + 4) == index))
            return offset;
        offset = next;
    }
    return -1;
}

// --- Conversion ---

void MapFileName(char *out, int size, const char *folder, const char *name, uint32_t flags,
                 uint32_t width, bool miniature)
{
    if ((flags & MAP_KIND_MASK) == MAP_KIND_URBAN)
        _snprintf(out, size, "%s\\%s-%u.%s", folder, "Urban",
                  miniature ? (uint32_t)MAP_MINI_WIDTH : width, "map");
    else
        _snprintf(out, size, "%s\\%s.%s", folder, name, miniature ? "min" : "map");
    out[size - 1] = 0;
}

static bool WriteAt(HANDLE file, int64_t position, const void *data, DWORD count)
{
    LARGE_INTEGER where;
    where.QuadPart = position;
    DWORD done = 0;
    return SetFilePointerEx(file, where, 0, FILE_BEGIN) && WriteFile(file, data, count, &done, 0) &&
           done == count;
}

static bool ReadAt(HANDLE file, int64_t position, void *data, DWORD count)
{
    LARGE_INTEGER where;
    where.QuadPart = position;
    DWORD done = 0;
    return SetFilePointerEx(file, where, 0, FILE_BEGIN) && ReadFile(file, data, count, &done, 0) &&
           done == count;
}

static void Report(const MapProgress *progress, const char *status, int percent)
{
    if (progress && progress->report)
        progress->report(progress->context, status, percent);
}

static bool Cancelled(const MapProgress *progress)
{
    return progress && progress->cancel && *progress->cancel;
}

// The decoded tile of a chunk, or false.
static bool DecodeTile(const CMappedFile *source, int64_t chunk, CDibImage *tile)
{
    const uint8_t *header = source->base + chunk;
    int format = Le16(header + 2) == VTD_ENCODING_JPEG ? FORMAT_JPG : FORMAT_PNG;
    return tile->Decode(header + VTD_CHUNK_HEADER_BYTES, (int)Le32(header + 8), format) &&
           tile->IsValid();
}

// One tile row, top row first, into row as map pixels.
static void TileRow(const CDibImage *tile, int row, int bytes, uint8_t *out)
{
    int side = tile->GetWidth(), dibRow = tile->GetHeight() - 1 - row;   // DIB rows are bottom-up
    bool colour = tile->GetBpp() == 24;
    const uint8_t *bits = colour ? tile->GetBits(dibRow) : 0;
    for (int x = 0; x < side; x++) {
        uint8_t b, g, r;
        if (colour) {
            b = bits[3 * x], g = bits[3 * x + 1], r = bits[3 * x + 2];
        } else {
            RGBQUAD c = tile->GetPixelColor(x, dibRow);
            b = g = r = (uint8_t)((c.rgbRed + c.rgbGreen + c.rgbBlue) / 3);
        }
        if (bytes == 3) {
            out[3 * x] = b, out[3 * x + 1] = g, out[3 * x + 2] = r;
        } else {
            out[x] = (uint8_t)((r + g + b) / 3);
        }
    }
}

struct ConvertJob {
    const CMappedFile *source;
    MapTrailer trailer;
    int side, bytes, images, across, down;
    HANDLE target;
    const MapProgress *progress;
    const char *status;
    uint8_t *miniature;   // every image's 300 x 150 miniature, filled band by band
};

// A band is one row of tiles across the whole map: side rows of the full
// width, contiguous in the file. Assembling it in memory and writing it with
// one call keeps a large map set to a few hundred writes (each write is a
// round trip to the system, which under load costs far more than the copy).
static void CopyTileIntoBand(ConvertJob *job, const CDibImage *tile, int column, uint8_t *band)
{
    size_t stride = (size_t)job->trailer.width * job->bytes;
    for (int row = 0; row < job->side; row++)
        TileRow(tile, row, job->bytes, band + row * stride + (size_t)column * job->side * job->bytes);
}

// The miniature's rows whose source row lies in this band, sampled from it;
// each ratio on its own axis so maps that are not 2:1 shrink correctly.
static void SampleMiniature(ConvertJob *job, int image, int tileRow, const uint8_t *band)
{
    int bytes = job->bytes;
    int64_t width = job->trailer.width, height = job->trailer.height;
    int64_t first = (int64_t)tileRow * job->side, last = first + job->side;
    for (int row = 0; row < MAP_MINI_HEIGHT; row++) {
        int64_t sourceY = (int64_t)(row * (double)height / MAP_MINI_HEIGHT);
        if (sourceY < first || sourceY >= last)
            continue;
        const uint8_t *sourceRow = band + (size_t)(sourceY - first) * width * bytes;
        uint8_t *miniRow = job->miniature + ((size_t)image * MAP_MINI_HEIGHT + row) * MAP_MINI_WIDTH * bytes;
        for (int column = 0; column < MAP_MINI_WIDTH; column++) {
            int64_t sourceX = (int64_t)(column * (double)width / MAP_MINI_WIDTH);
            memcpy(miniRow + column * bytes, sourceRow + sourceX * bytes, bytes);
        }
    }
}

// The band is at most one image (side <= height), so its size fits in 32
// bits; the tile count is at most VTD_MAX_TILES.
static int CopyTiles(ConvertJob *job)
{
    size_t stride = (size_t)job->trailer.width * job->bytes;
    uint8_t *band = (uint8_t *)malloc(stride * job->side);
    if (!band)
        return CONVERT_LATER_TILE_FAILED;   // out of memory
    int key = (int)(job->trailer.flags & 0xFFFF), index = 1, result = CONVERT_OK;
    int total = job->images * job->down * job->across;
    for (int image = 0; image < job->images && !result; image++)
        for (int tileRow = 0; tileRow < job->down && !result; tileRow++) {
            // Columns right of the last whole tile stay zero, as in the sized file.
            memset(band, 0, stride * job->side);
            for (int column = 0; column < job->across && !result; column++, index++) {
                int64_t chunk = FindChunk(job->source, key, index);
                CDibImage tile;
                if (chunk < 0 || !DecodeTile(job->source, chunk, &tile))
                    result = CONVERT_LATER_TILE_FAILED;
                else if (tile.GetWidth() != job->side || tile.GetHeight() != job->side)
                    result = CONVERT_LATER_TILE_FAILED;   // rows would run into the neighbour tile
                else
                    CopyTileIntoBand(job, &tile, column, band);
                Report(job->progress, job->status, index * 100 / total);
                if (!result && Cancelled(job->progress))
                    result = CONVERT_CANCELLED;
            }
            if (result)
                break;
            int64_t at = ((int64_t)image * job->trailer.height + (int64_t)tileRow * job->side) *
                         (int64_t)stride;
            if (!WriteAt(job->target, at, band, (DWORD)(stride * job->side)))
                result = CONVERT_TARGET_FAILED;
            else
                SampleMiniature(job, image, tileRow, band);
        }
    free(band);
    return result;
}

static bool WriteTrailer(HANDLE file, int64_t at, const MapTrailer *t)
{
    uint8_t bytes[MAP_TRAILER_BYTES];
    Put32(bytes, t->flags);
    Put32(bytes + 4, t->width);
    Put32(bytes + 8, t->height);
    return WriteAt(file, at, bytes, sizeof bytes);
}

// The miniature sampled while the bands were written, in one write.
static int WriteMiniature(ConvertJob *job, const char *path)
{
    MapTrailer mini = {job->trailer.flags, MAP_MINI_WIDTH, MAP_MINI_HEIGHT};
    SizedFile file;
    if (file.Open(path, true, MapFileSize(&mini)) != SIZED_OK)
        return CONVERT_MINIATURE_FAILED;
    int64_t pixels = MapFileSize(&mini) - MAP_TRAILER_BYTES;
    int result = WriteAt(file.file, 0, job->miniature, (DWORD)pixels) &&
                         WriteTrailer(file.file, pixels, &mini)
                     ? CONVERT_OK
                     : CONVERT_MINIATURE_FAILED;
    file.Close();
    return result;
}

// Header chunk and tile 1: the layout of the map to build.
static int ReadLayout(const CMappedFile *source, ConvertJob *job)
{
    int64_t header = FindChunk(source, 0, -1);
    if (header < 0 || Le32(source->base + header + 8) < 12)
        return CONVERT_NO_HEADER;
    const uint8_t *data = source->base + header + VTD_CHUNK_HEADER_BYTES;
    job->trailer.flags = Le32(data);
    job->trailer.width = Le32(data + 4);
    job->trailer.height = Le32(data + 8);
    // Nothing derived from a size the maps cannot have is ever computed.
    if (MapFileSize(&job->trailer) < 0)
        return CONVERT_NO_HEADER;
    int64_t first = FindChunk(source, (int)(job->trailer.flags & 0xFFFF), 1);
    if (first < 0)
        return CONVERT_NO_TILE_ONE;
    CDibImage tile;
    if (!DecodeTile(source, first, &tile) || tile.GetWidth() <= 0)
        return CONVERT_TILE_ONE_UNDECODABLE;
    job->side = tile.GetWidth();
    job->bytes = MapBytesPerPixel(job->trailer.flags);
    job->images = MapImageCount(job->trailer.flags);
    job->across = (int)(job->trailer.width / job->side);
    job->down = (int)(job->trailer.height / job->side);
    if (job->across <= 0 || job->down <= 0)
        return CONVERT_TILE_ONE_UNDECODABLE;   // tiles larger than the picture
    // Tiles the source has no room for are missing: known now, before a map
    // of gigabytes is created for a source of a few bytes.
    int64_t tiles = (int64_t)job->images * job->across * job->down;
    int64_t room = ((int64_t)source->sizeHigh << 32 | source->sizeLow) / VTD_CHUNK_HEADER_BYTES;
    if (tiles > VTD_MAX_TILES || tiles > room)
        return CONVERT_LATER_TILE_FAILED;
    return CONVERT_OK;
}

// Map and miniature into their side files.
static int BuildSideFiles(ConvertJob *job, const char *mapSide, const char *miniSide)
{
    SizedFile target;
    int64_t size = MapFileSize(&job->trailer);
    if (target.Open(mapSide, true, size) != SIZED_OK)
        return CONVERT_TARGET_FAILED;
    job->target = target.file;
    MapTrailer mini = {job->trailer.flags, MAP_MINI_WIDTH, MAP_MINI_HEIGHT};
    job->miniature = (uint8_t *)calloc(1, (size_t)(MapFileSize(&mini) - MAP_TRAILER_BYTES));
    if (!job->miniature) {
        target.Close();
        return CONVERT_MINIATURE_FAILED;
    }
    Report(job->progress, job->status, 0);
    int result = CopyTiles(job);
    if (!result && !WriteTrailer(target.file, size - MAP_TRAILER_BYTES, &job->trailer))
        result = CONVERT_TARGET_FAILED;
    if (!result)
        Report(job->progress, job->status, 100);
    if (!result)
        result = WriteMiniature(job, miniSide);
    free(job->miniature);
    job->miniature = 0;
    target.Close();
    return result;
}

int ConvertDataFile(const char *folder, const char *name, const MapProgress *progress)
{
    char path[MAX_PATH];
    _snprintf(path, sizeof path, "%s\\%s.%s", folder, name, "vtd");
    path[MAX_PATH - 1] = 0;
    CMappedFile source;
    if (source.Open(path, 0, 0, 0) != MAPPED_OK)
        return CONVERT_SOURCE_NOT_OPENED;
    ConvertJob job;
    memset(&job, 0, sizeof job);
    job.source = &source;
    job.progress = progress;
    job.status = name;
    int result = ReadLayout(&source, &job);
    if (result)
        return result;
    char mapPath[MAX_PATH], miniPath[MAX_PATH], mapSide[MAX_PATH + 8], miniSide[MAX_PATH + 8];
    MapFileName(mapPath, sizeof mapPath, folder, name, job.trailer.flags, job.trailer.width, false);
    MapFileName(miniPath, sizeof miniPath, folder, name, job.trailer.flags, job.trailer.width, true);
    sprintf(mapSide, "%s.tmp", mapPath);
    sprintf(miniSide, "%s.tmp", miniPath);
    result = BuildSideFiles(&job, mapSide, miniSide);
    if (!result && (!MoveFileExA(mapSide, mapPath, MOVEFILE_REPLACE_EXISTING) ||
                    !MoveFileExA(miniSide, miniPath, MOVEFILE_REPLACE_EXISTING))) {
        DeleteFileA(mapPath);   // a map without its miniature is no map set
        result = CONVERT_TARGET_FAILED;
    }
    DeleteFileA(mapSide);
    DeleteFileA(miniSide);
    return result;
}

// --- Trailer and output header ---

int ReadMapTrailer(const char *path, ViewOptions *view, MapTrailer *trailer)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    LARGE_INTEGER size;
    uint8_t bytes[MAP_TRAILER_BYTES];
    bool read = GetFileSizeEx(file, &size) && size.QuadPart >= MAP_TRAILER_BYTES &&
                ReadAt(file, size.QuadPart - MAP_TRAILER_BYTES, bytes, sizeof bytes);
    CloseHandle(file);
    if (!read)
        return -1;
    MapTrailer found = {Le32(bytes), Le32(bytes + 4), Le32(bytes + 8)};
    // A trailer that does not describe its file would send readers outside
    // it; one whose sizes overflow could match a small file by wrapping.
    if (MapFileSize(&found) != size.QuadPart)
        return -1;
    if (view) {
        view->iMapW = (int)found.width;
        view->iMapH = (int)found.height;
        view->bSeasonEnable = (found.flags & MAP_FLAG_MONTHLY) ? 1 : 0;
    }
    if (trailer)
        *trailer = found;
    return (int)found.flags;
}

int WriteBmpHeader(CMappedFile *file, int width, int height)
{
    uint8_t header[BMP_HEADER_BYTES];
    memset(header, 0, sizeof header);
    int stride = Bmp24RowStride(width);
    header[0] = 'B';
    header[1] = 'M';
    Put32(header + 2, (uint32_t)(height * stride + BMP_HEADER_BYTES));
    Put32(header + 10, BMP_HEADER_BYTES);
    Put32(header + 14, 40);
    Put32(header + 18, (uint32_t)width);
    Put32(header + 22, (uint32_t)height);
    Put16(header + 26, 1);
    Put16(header + 28, 24);
    if (!file->base)
        return BMP_HEADER_WRITE_FAILED;
    file->cursor = file->base;
    return file->Write(header, sizeof header) ? BMP_HEADER_WRITE_FAILED : 0;
}

// --- Per-pixel helpers ---


static bool ReadPixel(BufferedReader *reader, int width, int column, int row, int64_t imageOffset,
                      int bytes, uint8_t *out)
{
    int64_t at = imageOffset + (int64_t)bytes * (column + (int64_t)width * row);
    return reader->Read(at, bytes, out);
}


bool SampleMap(BufferedReader *reader, int width, double x, double y, int64_t imageOffset,
               int height, uint8_t *out, int bytes, bool bilinear)
{
    if (width <= 0 || height <= 0 || bytes < 1 || bytes > 3)
        return false;
    if (!bilinear)
        return ReadPixel(reader, width, MapNearestIndex(x, width), MapNearestIndex(y, height),
                         imageOffset, bytes, out);
    if (!(x == x) || !(y == y) || absValue(x) > 1e9 || absValue(y) > 1e9)
        return false;
    double fx = floorValue(x), fy = floorValue(y), dx = x - fx, dy = y - fy;
    int x0 = MapWrapIndex((int64_t)fx, width), x1 = MapWrapIndex((int64_t)fx + 1, width);
    int y0 = MapWrapIndex((int64_t)fy, height), y1 = MapWrapIndex((int64_t)fy + 1, height);
    uint8_t tl[3], tr[3], bl[3], br[3];
    if (!ReadPixel(reader, width, x0, y0, imageOffset, bytes, tl) ||
        !ReadPixel(reader, width, x1, y0, imageOffset, bytes, tr) ||
        !ReadPixel(reader, width, x0, y1, imageOffset, bytes, bl) ||
        !ReadPixel(reader, width, x1, y1, imageOffset, bytes, br))
        return false;
    for (int c = 0; c < bytes; c++)
        out[c] = MapBilinearChannel(tl[c], tr[c], bl[c], br[c], dx, dy);
    return true;
}

void PrepareProjection(const ViewOptions *view, ProjectionSetup *setup)
{
    memset(setup, 0, sizeof *setup);
    setup->view = view;
    const int *d = view->iDtpArea;
    if (view->iPrjType == 1) {
        setup->flat = 1;
        return;
    }
    setup->radius = (d[2] - d[0] + 1) / 2.0;
    setup->inverseRadius = 1 / setup->radius;
    setup->centreX = d[0] + setup->radius;
    setup->centreY = d[1] + setup->radius - 0.5;
    setup->cosT = cosFromTable(view->dRotateY);
    setup->sinT = sineFromTable(view->dRotateY);
    setup->cosO = cosFromTable(view->dRotateZ);
    setup->sinO = sineFromTable(view->dRotateZ);
}

// The same quotient order as the plain formula, so that a prepared and an
// unprepared projection give the same bits.
static void ProjectFlat(int x, int y, const ProjectionSetup *setup, MapProjection *out)
{
    const ViewOptions *view = setup->view;
    const int *d = view->iDtpArea, *m = view->iMapArea;
    double mapX = (double)(x - d[0]) / (d[2] - d[0] + 1) * (m[2] - m[0] + 1) + m[0];
    double mapY = (double)(y - d[1]) / (d[3] - d[1] + 1) * (m[3] - m[1] + 1) + m[1];
    out->valid = mapY >= 0 && mapY < view->iMapH;
    if (mapX < 0)
        mapX += view->iMapW;
    else if (mapX >= view->iMapW)
        mapX -= view->iMapW;
    out->mapX = mapX;
    out->mapY = mapY;
    out->longitude = mapX * 2 * PI / view->iMapW - PI;
    out->latitude = PI / 2 - mapY * PI / view->iMapH;
    out->distance = 0;
}

static void ProjectGlobe(int x, int y, const ProjectionSetup *setup, MapProjection *out)
{
    const ViewOptions *view = setup->view;
    double e, g;
    GlobePlane(x, y, setup, &e, &g);
    out->distance = sqrt(e * e + g * g);
    out->valid = out->distance <= 1;
    double z = sqrt(absValue(1 - e * e - g * g));
    double cosT = setup->cosT, sinT = setup->sinT, cosO = setup->cosO, sinO = setup->sinO;
    double k = z * cosT - g * sinT, s = z * sinT + g * cosT;
    double mx = k * cosO - e * sinO, my = k * sinO + e * cosO;
    if (mx == 0)
        out->longitude = my > 0 ? PI / 2 : -PI / 2;
    else
        out->longitude = fastAtan2(my, mx);
    double across = sqrt(mx * mx + my * my);
    out->vx = mx;
    out->vy = my;
    out->vz = s;
    out->across = across;
    out->latitude = across == 0 ? (s > 0 ? PI / 2 : -PI / 2) : fastAtan2(s, across);
    out->mapX = view->iMapW * out->longitude / (2 * PI) + view->iMapW / 2.0;
    out->mapY = view->iMapH / 2.0 - view->iMapH * out->latitude / PI;
}

void ProjectPrepared(int x, int y, const ProjectionSetup *setup, MapProjection *out)
{
    memset(out, 0, sizeof *out);
    const int *clip = setup->view->iClpArea;
    if (x < clip[0] || x > clip[2] || y < clip[1] || y > clip[3]) {
        out->distance = -1;
        return;
    }
    if (setup->flat)
        ProjectFlat(x, y, setup, out);
    else
        ProjectGlobe(x, y, setup, out);
}

void ProjectPixel(int x, int y, const ViewOptions *view, MapProjection *out)
{
    ProjectionSetup setup;
    PrepareProjection(view, &setup);
    ProjectPrepared(x, y, &setup, out);
}

double SunCosine(double sunLongitude, double latitude, double sunDeclination, double longitude)
{
    double c = sineFromTable(latitude) * sineFromTable(sunDeclination) +
               cosFromTable(latitude) * cosFromTable(sunDeclination) *
                   cosFromTable(longitude - sunLongitude);
    return c < -1 ? -1 : c > 1 ? 1 : c;
}

int SampleSeasonMask(const uint8_t *mask, int maskWidth, int maskHeight, double x, double y)
{
    if (!mask || maskWidth <= 0 || maskHeight <= 0)
        return 0;
    MaskAxis across, down;
    MaskAxisAt(x, maskWidth, &across);
    MaskAxisAt(y, maskHeight, &down);
    return MaskFromAxes(mask, maskWidth, &across, &down);
}
