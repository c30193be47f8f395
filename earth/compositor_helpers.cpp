// Compositor helpers: tables, arc tangents, star field, buffered reader,
// sized file, sine.
#include "earth/compositor_helpers.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "earth/settings.h"

static const double PI = 3.14159265358979323846;
static const double COSINE_STEP = 2 * PI / COSINE_TABLE_ENTRIES;

double *CosineTable;
int CosineTableCount;
float RandomTable[RANDOM_TABLE_ENTRIES];
int gRandomTableStart;
float StarBrightness[STAR_BRIGHTNESS_LEVELS];

bool buildCosineTable()
{
    if (CosineTable)
        return true;
    double *table = (double *)malloc(COSINE_TABLE_ENTRIES * sizeof(double));
    if (!table)
        return false;
    for (int i = 0; i < COSINE_TABLE_ENTRIES; i++)
        table[i] = cos(i * COSINE_STEP);
    CosineTable = table;
    CosineTableCount = COSINE_TABLE_ENTRIES;
    return true;
}

void buildRandomTable(int startIndex)
{
    for (int i = 0; i < RANDOM_TABLE_ENTRIES; i++)
        RandomTable[i] = (float)(i / (double)(RANDOM_TABLE_ENTRIES - 1));
    for (int i = 0; i < RANDOM_TABLE_ENTRIES; i++) {
        int a = rand() % RANDOM_TABLE_ENTRIES, b = rand() % RANDOM_TABLE_ENTRIES;
        float swap = RandomTable[a];
        RandomTable[a] = RandomTable[b];
        RandomTable[b] = swap;
    }
    gRandomTableStart = ((startIndex % RANDOM_TABLE_ENTRIES) + RANDOM_TABLE_ENTRIES) %
                        RANDOM_TABLE_ENTRIES;
}

double slowTableCosine(double x)
{
    // Reduce before converting: a huge angle would not fit an int and a NaN
    // converts to INT_MIN, and either would index far outside the table.
    double angle = fmod(fabs(x), 2 * PI);
    if (angle != angle)
        return angle;   // NaN in, or an infinite angle: no cosine
    if (!CosineTable)
        return cos(x);
    int index = (int)(angle / COSINE_STEP);
    if (index < 0 || index >= CosineTableCount)
        index = 0;   // angle / step rounded up to a full turn
    return CosineTable[index];
}


// --- Arc tangents ---

AtanNode AtanTable[ATAN_TABLE_NODES];

// Filled before main, so any thread may read it.
static struct AtanTableBuilder {
    AtanTableBuilder()
    {
        for (int i = 0; i < ATAN_TABLE_NODES; i++) {
            double c = i / 256.0, q = 1 / (1 + c * c);
            AtanTable[i].value = atan(c);
            AtanTable[i].d1 = q;
            AtanTable[i].d2 = -c * q * q;
            AtanTable[i].d3 = (3 * c * c - 1) / 3 * q * q * q;
        }
    }
} gAtanTableBuilder;

double slowAtan2(double y, double x) { return atan2(y, x); }

double fastAtan(double x) { return x == 0 ? x : fastAtan2(x, 1); }

double fastAcos(double x)
{
    x = x < -1 ? -1 : x > 1 ? 1 : x;
    return fastAtan2(sqrt((1 - x) * (1 + x)), x);
}

// --- Star field ---

static LightSpot *Cell(LightSpot *window, int windowRow, int column, int cellsAcross)
{
    return window + ((size_t)windowRow * cellsAcross + column) * STAR_CELL_SLOTS;
}

static void FillBrightnessTable()
{
    for (int i = 0; i < STAR_BRIGHTNESS_LEVELS; i++)
        StarBrightness[i] = (float)(pow(i / 100.0, 64) * 0.75 + 0.25);
}

static int RandomIndex(int k)
{
    return ((k % RANDOM_TABLE_ENTRIES) + RANDOM_TABLE_ENTRIES) % RANDOM_TABLE_ENTRIES;
}

void fillLightSpotRow(int windowRow, LightSpot *window, float density, int cellsAcross)
{
    // The density comes from a signed byte that may exceed 100; the count
    // must stay within the cell's slots.
    if (density < 0)
        density = 0;
    for (int column = 0; column < cellsAcross; column++) {
        LightSpot *spot = Cell(window, windowRow, column, cellsAcross);
        int k = RandomIndex(rand() + gRandomTableStart);
        float v = RandomTable[k++];
        int count = (int)((v * 0.5f + 0.5f) * density * STAR_MAX_PER_CELL);
        if (count > STAR_MAX_PER_CELL)
            count = STAR_MAX_PER_CELL;
        for (int i = 0; i < count; i++) {
            float b = StarBrightness[(int)(99 * RandomTable[RandomIndex(k)])];
            spot[i].x = RandomTable[RandomIndex(k + 1)] * STAR_CELL_PIXELS;
            spot[i].y = RandomTable[RandomIndex(k + 2)] * STAR_CELL_PIXELS;
            spot[i].radius = 5 * b;
            spot[i].intensity = sqrtf(b);
            k = RandomIndex(k + 3);
        }
        gRandomTableStart = RandomIndex(k);
        memset(&spot[count], 0, sizeof spot[count]);
    }
}

bool buildLightSpots(const ViewOptions *view, int *cellsAcross, LightSpot **window,
                     float *density, int *row)
{
    int width = view->iOutputW > 0 ? view->iOutputW : 1;
    int cells = (width + STAR_CELL_PIXELS - 1) / STAR_CELL_PIXELS;
    LightSpot *spots =
        (LightSpot *)malloc((size_t)STAR_WINDOW_ROWS * cells * STAR_CELL_BYTES);
    if (!spots)
        return false;
    FillBrightnessTable();
    float wanted = view->iStarsDensity / 100.0f;
    *density = wanted < 0 ? 0 : wanted > 1 ? 1 : wanted;
    memset(spots, 0, (size_t)cells * STAR_CELL_BYTES);   // row 0: above the picture
    fillLightSpotRow(1, spots, *density, cells);
    fillLightSpotRow(2, spots, *density, cells);
    *cellsAcross = cells;
    *window = spots;
    *row = 0;
    return true;
}

void advanceLightSpots(LightSpot *window, float density, int cellsAcross, int *row)
{
    memmove(window, Cell(window, 1, 0, cellsAcross), (size_t)2 * cellsAcross * STAR_CELL_BYTES);
    fillLightSpotRow(2, window, density, cellsAcross);
    *row += 1;
}

float lightSpotCoverage(int x, int y, int cellRow, const LightSpot *window, int cellsAcross)
{
    int column = x / STAR_CELL_PIXELS;
    float f = 0;
    for (int dy = 0; dy < STAR_WINDOW_ROWS; dy++) {
        for (int dx = -1; dx <= 1; dx++) {
            int c = column + dx;
            if (c < 0 || c >= cellsAcross)
                continue;   // no cells beyond the picture's sides
            // A star reaches 5 pixels at most: cells farther away add nothing,
            // so skipping them leaves the sum exactly as it was.
            int nearX = x < c * STAR_CELL_PIXELS ? c * STAR_CELL_PIXELS - x
                        : x > (c + 1) * STAR_CELL_PIXELS ? x - (c + 1) * STAR_CELL_PIXELS : 0;
            int top = (cellRow + dy - 1) * STAR_CELL_PIXELS;
            int nearY = y < top ? top - y : y > top + STAR_CELL_PIXELS ? y - top - STAR_CELL_PIXELS : 0;
            if (nearX > STAR_MAX_RADIUS || nearY > STAR_MAX_RADIUS)
                continue;
            const LightSpot *spot = window + ((size_t)dy * cellsAcross + c) * STAR_CELL_SLOTS;
            for (int i = 0; i < STAR_CELL_SLOTS && spot[i].radius != 0; i++) {
                float sx = c * STAR_CELL_PIXELS + spot[i].x - x;
                float sy = (cellRow + dy - 1) * STAR_CELL_PIXELS + spot[i].y - y;
                float d2 = sx * sx + sy * sy, r2 = spot[i].radius * spot[i].radius;
                if (d2 <= r2)
                    f += (r2 - d2) / r2 * (1 - f) * spot[i].intensity;
            }
        }
    }
    return f;
}

// (int)floorf(v) and (int)ceilf(v) for a star's edges (well inside the int
// range), without the library's x87 calls.
static inline int FloorInt(float v)
{
    int i = (int)v;
    return (float)i > v ? i - 1 : i;
}

static inline int CeilInt(float v)
{
    int i = (int)v;
    return (float)i < v ? i + 1 : i;
}

void rasterLightSpots(const LightSpot *window, int cellsAcross, int cellRow, float *coverage,
                      int width)
{
    memset(coverage, 0, (size_t)STAR_CELL_PIXELS * width * sizeof(float));
    int bandTop = cellRow * STAR_CELL_PIXELS;
    // Cells in row-major order: every pixel meets its cells in the order
    // lightSpotCoverage takes them, so the sums come out bit for bit alike.
    for (int dy = 0; dy < STAR_WINDOW_ROWS; dy++) {
        int top = (cellRow + dy - 1) * STAR_CELL_PIXELS;
        for (int c = 0; c < cellsAcross; c++) {
            const LightSpot *spot = window + ((size_t)dy * cellsAcross + c) * STAR_CELL_SLOTS;
            // Pixels that take this cell: its own column and the two beside it.
            int columnsFrom = (c - 1) * STAR_CELL_PIXELS, columnsTo = (c + 2) * STAR_CELL_PIXELS - 1;
            for (int i = 0; i < STAR_CELL_SLOTS && spot[i].radius != 0; i++) {
                float cx = c * STAR_CELL_PIXELS + spot[i].x, cy = top + spot[i].y, r = spot[i].radius;
                // A pixel outside [cx - r, cx + r] has d2 >= r2: it adds
                // nothing, or an exact 0 at d2 == r2.
                int x0 = FloorInt(cx - r), x1 = CeilInt(cx + r);
                int y0 = FloorInt(cy - r), y1 = CeilInt(cy + r);
                x0 = x0 < columnsFrom ? columnsFrom : x0 < 0 ? 0 : x0;
                x1 = x1 > columnsTo ? columnsTo : x1 >= width ? width - 1 : x1;
                y0 = y0 < bandTop ? bandTop : y0;
                y1 = y1 > bandTop + STAR_CELL_PIXELS - 1 ? bandTop + STAR_CELL_PIXELS - 1 : y1;
                for (int y = y0; y <= y1; y++) {
                    float *row = coverage + (size_t)(y - bandTop) * width;
                    for (int x = x0; x <= x1; x++) {
                        float sx = c * STAR_CELL_PIXELS + spot[i].x - x;
                        float sy = (cellRow + dy - 1) * STAR_CELL_PIXELS + spot[i].y - y;
                        float d2 = sx * sx + sy * sy, r2 = spot[i].radius * spot[i].radius;
                        if (d2 <= r2)
                            row[x] += (r2 - d2) / r2 * (1 - row[x]) * spot[i].intensity;
                    }
                }
            }
        }
    }
}

uint8_t brightenByStars(uint8_t value, float coverage, int starsBrightness)
{
    float a = starsBrightness * coverage / 100;
    a = a < 0 ? 0 : a > 1 ? 1 : a;
    return (uint8_t)(value + a * (255 - value));
}

// --- Buffered reader ---

BufferedReader::BufferedReader()
    : windowSize(0), fileSize(0), bytesRead(0), file(0), buffer(0), windowStart(-1)
{
}

BufferedReader::~BufferedReader()
{
    Close();
}

void BufferedReader::Close()
{
    if (file)
        CloseHandle(file);
    free(buffer);
    file = 0;
    buffer = 0;
    windowStart = -1;
    bytesRead = 0;
}

int BufferedReader::Open(const char *path, int size)
{
    Close();
    file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE) {
        file = 0;
        return 1;
    }
    LARGE_INTEGER length;
    fileSize = GetFileSizeEx(file, &length) ? length.QuadPart : 0;
    windowSize = size > 0 ? size : 256;
    buffer = (uint8_t *)malloc((size_t)windowSize + 3);
    if (!buffer) {
        windowSize = 256;
        buffer = (uint8_t *)malloc(windowSize + 3);
    }
    if (!buffer) {
        Close();
        return 4;
    }
    return 0;
}

static bool ReadAt(HANDLE file, int64_t position, void *destination, DWORD length, DWORD *got)
{
    LARGE_INTEGER where;
    where.QuadPart = position;
    *got = 0;
    return SetFilePointerEx(file, where, 0, FILE_BEGIN) &&
           ReadFile(file, destination, length, got, 0);
}

bool BufferedReader::Read(int64_t position, int length, void *destination)
{
    if (!file || position < 0 || length < 0 || position + length > fileSize)
        return false;
    if (length > windowSize) {
        // Bigger than a window: straight from the file, the window untouched.
        DWORD got;
        return ReadAt(file, position, destination, length, &got) && got == (DWORD)length;
    }
    bool held = windowStart >= 0 && position >= windowStart &&
                position + length <= windowStart + (int64_t)bytesRead;
    if (!held) {
        windowStart = position - position % windowSize;
        if (position + length > windowStart + windowSize + 3)
            windowStart = position;   // would run past the 3 spare bytes
        if (!ReadAt(file, windowStart, buffer, windowSize + 3, &bytesRead)) {
            windowStart = -1;
            bytesRead = 0;
            return false;
        }
        if (position + length > windowStart + (int64_t)bytesRead)
            return false;
    }
    memcpy(destination, buffer + (position - windowStart), length);
    return true;
}

// --- Sized file ---

SizedFile::SizedFile() : size(0), file(0) {}

SizedFile::~SizedFile()
{
    Close();
}

void SizedFile::Close()
{
    if (file)
        CloseHandle(file);
    file = 0;
}

int SizedFile::Open(const char *path, bool write, int64_t wanted)
{
    Close();
    file = CreateFileA(path, write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, 0, write ? OPEN_ALWAYS : OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE) {
        file = 0;
        return SIZED_NOT_OPENED;
    }
    LARGE_INTEGER where;
    if (wanted) {
        where.QuadPart = wanted;
        if (!SetFilePointerEx(file, where, 0, FILE_BEGIN)) {
            Close();
            return SIZED_NO_SEEK;
        }
        if (!SetEndOfFile(file)) {
            Close();
            return SIZED_NO_END;
        }
        size = wanted;
    } else {
        size = GetFileSizeEx(file, &where) ? where.QuadPart : 0;
    }
    // Writers fill the file from its start.
    where.QuadPart = 0;
    SetFilePointerEx(file, where, 0, FILE_BEGIN);
    return SIZED_OK;
}
