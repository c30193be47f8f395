// Tables, star field, buffered reader, sized file and the table sine.
#include <gtest/gtest.h>

#include <limits.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "earth/compositor_helpers.h"
#include "earth/mapfile.h"
#include "earth/settings.h"
#include "testutil.h"

static const double PI = 3.14159265358979323846;

static void BuildTables()
{
    ASSERT_TRUE(buildCosineTable());
    srand(1);
    buildRandomTable(123);
}

TEST(Tables, RandomTableIsAShuffleOfTheSteps)
{
    BuildTables();
    std::vector<float> sorted(RandomTable, RandomTable + RANDOM_TABLE_ENTRIES);
    std::sort(sorted.begin(), sorted.end());
    for (int i = 0; i < RANDOM_TABLE_ENTRIES; i++)
        ASSERT_EQ(sorted[i], (float)(i / 4095.0)) << i;
    int inPlace = 0;
    for (int i = 0; i < RANDOM_TABLE_ENTRIES; i++)
        inPlace += RandomTable[i] == sorted[i];
    EXPECT_LT(inPlace, RANDOM_TABLE_ENTRIES / 2);
    buildRandomTable(-5);
    EXPECT_EQ(gRandomTableStart, RANDOM_TABLE_ENTRIES - 5);
    buildRandomTable(4096 * 3 + 7);
    EXPECT_EQ(gRandomTableStart, 7);
}

TEST(Tables, SineWithinOneStepOfTheTruth)
{
    BuildTables();
    ASSERT_EQ(CosineTableCount, 628318);
    const double step = 2 * PI / 628318;
    EXPECT_DOUBLE_EQ(sineFromTable(PI / 2), 1.0);
    EXPECT_DOUBLE_EQ(CosineTable[157079], cos(157079 * step));
    double worst = 0;
    for (double x = -20; x < 20; x += 0.000731)
        worst = fmax(worst, fabs(sineFromTable(x) - sin(x)));
    for (double x = 1e5; x < 1e5 + 10; x += 0.0137)
        worst = fmax(worst, fabs(sineFromTable(x) - sin(x)));
    EXPECT_LE(worst, step);
    EXPECT_GT(worst, step / 100);   // it is the table, not the library sine
}

TEST(Tables, SineOfHugeOrNanAnglesStaysInTheTable)
{
    BuildTables();
    // These used to index far outside the table (int of a huge value).
    double huge[] = {1e10, -1e10, 3e9, -2.2e9, 1e300, -1e300, 1e19};
    for (double x : huge) {
        double s = sineFromTable(x);
        EXPECT_TRUE(s >= -1 && s <= 1) << x;
    }
    EXPECT_NEAR(sineFromTable(1e10), sin(1e10), 2e-5);
    EXPECT_TRUE(isnan(sineFromTable(NAN)));
    EXPECT_TRUE(isnan(sineFromTable(INFINITY)));
    EXPECT_TRUE(isnan(sineFromTable(-INFINITY)));
}

// --- Star field ---

struct StarField {
    int cells = 0, row = -1;
    float density = -1;
    LightSpot *window = 0;
    ~StarField() { free(window); }
    LightSpot *Cell(int windowRow, int column)
    {
        return window + (windowRow * cells + column) * STAR_CELL_SLOTS;
    }
};

static std::unique_ptr<ViewOptions> View(int width, int density)
{
    std::unique_ptr<ViewOptions> view(new ViewOptions);
    memset(view.get(), 0, sizeof *view);
    view->iOutputW = width;
    view->iStarsDensity = (int8_t)density;
    return view;
}

static int StarCount(const LightSpot *cell)
{
    int n = 0;
    while (n < STAR_CELL_SLOTS && cell[n].radius != 0)
        n++;
    return n;
}

TEST(Stars, DensityZeroGivesNoStars)
{
    BuildTables();
    StarField field;
    ASSERT_TRUE(buildLightSpots(View(320, 0).get(), &field.cells, &field.window,
                                &field.density, &field.row));
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < field.cells; c++)
            EXPECT_EQ(StarCount(field.Cell(r, c)), 0);
    for (int y = 0; y < 32; y += 3)
        for (int x = 0; x < 320; x += 7)
            EXPECT_EQ(lightSpotCoverage(x, y, 0, field.window, field.cells), 0.0f);
}

// Stars as the generator makes them; a density byte above 100 must not
// overflow a cell's 16 slots.
TEST(Stars, CellsHoldAtMostFifteenWellFormedStars)
{
    BuildTables();
    for (int density : {100, 127, -20}) {
        StarField field;
        ASSERT_TRUE(buildLightSpots(View(32 * 40 - 5, density).get(), &field.cells, &field.window,
                                    &field.density, &field.row));
        ASSERT_EQ(field.cells, 40);
        EXPECT_EQ(field.row, 0);
        int total = 0, most = 0;
        for (int round = 0; round < 20; round++) {
            for (int c = 0; c < field.cells; c++) {
                const LightSpot *cell = field.Cell(2, c);
                int n = StarCount(cell);
                ASSERT_LE(n, 15) << density;
                most = std::max(most, n);
                total += n;
                for (int i = 0; i < n; i++) {
                    EXPECT_TRUE(cell[i].x >= 0 && cell[i].x <= 32);
                    EXPECT_TRUE(cell[i].y >= 0 && cell[i].y <= 32);
                    float b = cell[i].radius / 5;   // one of the brightness levels
                    EXPECT_TRUE(b >= 0.25f && b <= StarBrightness[99]);
                    EXPECT_FLOAT_EQ(cell[i].intensity, sqrtf(b));
                }
            }
            advanceLightSpots(field.window, field.density, field.cells, &field.row);
        }
        EXPECT_EQ(field.row, 20);
        if (density >= 100) {
            EXPECT_GE(most, 14) << density;   // 15 needs the table's 1.0 itself
            EXPECT_GT(total, 20 * field.cells * 7) << density;   // 7.5 on average
        } else {
            EXPECT_EQ(total, 0);
        }
    }
}

TEST(Stars, AdvanceShiftsTheWindowUp)
{
    BuildTables();
    StarField field;
    ASSERT_TRUE(buildLightSpots(View(200, 100).get(), &field.cells, &field.window,
                                &field.density, &field.row));
    size_t rowBytes = field.cells * STAR_CELL_BYTES;
    std::string before((char *)field.window, 3 * rowBytes);
    advanceLightSpots(field.window, field.density, field.cells, &field.row);
    EXPECT_EQ(std::string((char *)field.window, 2 * rowBytes), before.substr(rowBytes));
    EXPECT_EQ(field.row, 1);
}

// A window of empty cells, one star placed by hand.
struct HandField {
    enum { CELLS = 4 };
    LightSpot spots[3 * CELLS * STAR_CELL_SLOTS];
    HandField() { memset(spots, 0, sizeof spots); }
    void Put(int windowRow, int column, float x, float y, float radius, float intensity)
    {
        LightSpot *cell = spots + (windowRow * CELLS + column) * STAR_CELL_SLOTS;
        int n = StarCount(cell);
        cell[n].x = x;
        cell[n].y = y;
        cell[n].radius = radius;
        cell[n].intensity = intensity;
    }
};

TEST(Stars, StarInTheNextCellLightsAcrossTheBorder)
{
    HandField hand;
    // Cell row 5 is the current one (window row 1); the star sits in column 2
    // at (2 * 32 + 1, 5 * 32 + 16) with radius 5.
    hand.Put(1, 2, 1, 16, 5, 0.8f);
    int cy = 5 * 32 + 16;
    EXPECT_FLOAT_EQ(lightSpotCoverage(63, cy, 5, hand.spots, HandField::CELLS),
                    (25.0f - 4) / 25 * 0.8f);
    EXPECT_FLOAT_EQ(lightSpotCoverage(60, cy, 5, hand.spots, HandField::CELLS), 0.0f);
    EXPECT_FLOAT_EQ(lightSpotCoverage(65, cy, 5, hand.spots, HandField::CELLS), 0.8f);
    // The cell row below the pixel's (window row 2) reaches up as well.
    hand.Put(2, 1, 10, 0.5f, 3, 1);
    EXPECT_FLOAT_EQ(lightSpotCoverage(42, 6 * 32 - 1, 5, hand.spots, HandField::CELLS),
                    (9.0f - 2.25f) / 9);
    // Two stars over one pixel: the second fills part of what the first left.
    hand.Put(1, 2, 3, 16, 4, 0.5f);
    float first = (25.0f - 9) / 25 * 0.8f, second = (16.0f - 1) / 16 * 0.5f;
    EXPECT_FLOAT_EQ(lightSpotCoverage(68, cy, 5, hand.spots, HandField::CELLS),
                    first + second * (1 - first));
}

// The cell to the left of column 0 does not exist; in the buffer it is the
// last cell of the row above, whose star would wrongly light the left edge.
TEST(Stars, NoCellsBeyondThePictureSides)
{
    HandField hand;
    hand.Put(0, HandField::CELLS - 1, 31, 16, 5, 1);   // window row 0, far right
    EXPECT_FLOAT_EQ(lightSpotCoverage(0, 5 * 32 + 16, 5, hand.spots, HandField::CELLS), 0.0f);
    // And at the right side, the next row's first cell stays out.
    hand.Put(2, 0, 0.5f, 16, 5, 1);
    EXPECT_FLOAT_EQ(lightSpotCoverage(127, 6 * 32 + 16, 5, hand.spots, HandField::CELLS), 0.0f);
}

TEST(Stars, BrightenByCoverage)
{
    EXPECT_EQ(brightenByStars(100, 0.5f, 100), 177);   // 100 + 0.5 x 155
    EXPECT_EQ(brightenByStars(100, 0.5f, 35), 127);    // a = 0.175
    EXPECT_EQ(brightenByStars(100, 3.0f, 100), 255);   // a at most 1
    EXPECT_EQ(brightenByStars(100, 0.5f, -50), 100);   // a at least 0
}

// --- Buffered reader and sized file ---

class Files : public ::testing::Test {
protected:
    std::string folder, path;
    std::string bytes;

    void SetUp() override
    {
        folder = FreshTempFolder(std::string("helpers-") +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        path = folder + "\\data.bin";
        for (int i = 0; i < 10000; i++)
            bytes += (char)((i * 7 + i / 251) & 0xFF);
        WriteWhole(path, bytes);
    }

    std::string Got(BufferedReader &reader, int64_t position, int length)
    {
        std::string out(length, '?');
        if (!reader.Read(position, length, &out[0]))
            return "<failed>";
        return out;
    }
};

TEST_F(Files, ReaderServesAnyRangeInsideTheFile)
{
    BufferedReader reader;
    ASSERT_EQ(reader.Open(path.c_str(), 1024), 0);
    EXPECT_EQ(reader.fileSize, 10000);
    EXPECT_EQ(reader.windowStart, -1);
    // A 24-bit pixel at the last byte of the first window comes from that window.
    EXPECT_EQ(Got(reader, 1023, 3), bytes.substr(1023, 3));
    EXPECT_EQ(reader.windowStart, 0);
    EXPECT_EQ(Got(reader, 2047, 3), bytes.substr(2047, 3));
    EXPECT_EQ(reader.windowStart, 1024);
    srand(7);
    for (int i = 0; i < 2000; i++) {
        int length = rand() % 1400, position = rand() % (10001 - length);
        ASSERT_EQ(Got(reader, position, length), bytes.substr(position, length))
            << position << " " << length;
    }
    EXPECT_EQ(Got(reader, 9997, 3), bytes.substr(9997, 3));
    EXPECT_EQ(Got(reader, 0, 10000), bytes);
}

TEST_F(Files, ReaderRefusesBytesOutsideTheFile)
{
    BufferedReader reader;
    ASSERT_EQ(reader.Open(path.c_str(), 4096), 0);
    char out[16];
    EXPECT_FALSE(reader.Read(9998, 3, out));    // runs one byte past the end
    EXPECT_FALSE(reader.Read(10000, 1, out));
    EXPECT_FALSE(reader.Read(-1, 2, out));
    EXPECT_TRUE(reader.Read(9999, 1, out));
    EXPECT_EQ(out[0], bytes[9999]);
    // With the short last window loaded, its stale tail is not served.
    EXPECT_FALSE(reader.Read(9999, 4, out));
}

TEST_F(Files, ReaderOpenFailsAndFallsBack)
{
    BufferedReader reader;
    EXPECT_EQ(reader.Open((folder + "\\missing.bin").c_str(), 1024), 1);
    EXPECT_EQ(reader.Open(path.c_str(), 0), 0);   // no window size: the small window
    EXPECT_EQ(reader.windowSize, 256);
    EXPECT_EQ(Got(reader, 250, 9), bytes.substr(250, 9));
}

TEST_F(Files, SizedFileSetsTheSizeUpFront)
{
    std::string target = folder + "\\out.bin";
    WriteWhole(target, "");
    SizedFile file;
    ASSERT_EQ(file.Open(target.c_str(), true, 1000), 0);
    EXPECT_EQ(file.size, 1000);
    DWORD wrote;
    ASSERT_TRUE(WriteFile(file.file, "head", 4, &wrote, 0));   // written from the start
    file.Close();
    std::string back = ReadWhole(target);
    ASSERT_EQ(back.size(), 1000u);
    EXPECT_EQ(back.substr(0, 4), "head");
    EXPECT_EQ(back.substr(4), std::string(996, '\0'));

    ASSERT_EQ(file.Open(path.c_str(), false, 0), 0);   // read-only takes the size
    EXPECT_EQ(file.size, 10000);
    file.Close();
    EXPECT_EQ(file.Open((folder + "\\missing.bin").c_str(), false, 0), 1);
    ASSERT_EQ(file.Open((folder + "\\new.bin").c_str(), true, 77), 0);   // created
    file.Close();
    EXPECT_EQ(ReadWhole(folder + "\\new.bin").size(), 77u);
    EXPECT_EQ(file.Open((folder + "\\nofolder\\x.bin").c_str(), true, 10), 1);
    // A read-only file cannot be given a size; nothing stays open.
    EXPECT_EQ(file.Open(path.c_str(), false, 20), 3);
    EXPECT_EQ(file.file, (HANDLE)0);
    EXPECT_EQ(ReadWhole(path), bytes);
}

TEST(Stars, RasterGivesTheSameCoverageBitForBit)
{
    BuildTables();
    for (int density : {100, 40}) {
        StarField field;
        int width = 32 * 9 - 7;
        ASSERT_TRUE(buildLightSpots(View(width, density).get(), &field.cells, &field.window,
                                    &field.density, &field.row));
        int across = field.cells * STAR_CELL_PIXELS;
        std::vector<float> raster((size_t)across * STAR_CELL_PIXELS);
        for (int band = 0; band < 4; band++) {
            rasterLightSpots(field.window, field.cells, field.row, raster.data(), across);
            int lit = 0;
            for (int dy = 0; dy < STAR_CELL_PIXELS; dy++)
                for (int x = 0; x < across; x++) {
                    int y = field.row * STAR_CELL_PIXELS + dy;
                    float want = lightSpotCoverage(x, y, field.row, field.window, field.cells);
                    ASSERT_EQ(0, memcmp(&want, &raster[(size_t)dy * across + x], sizeof want))
                        << x << "," << y << " density " << density;
                    lit += want > 0;
                }
            EXPECT_GT(lit, 0);
            advanceLightSpots(field.window, field.density, field.cells, &field.row);
        }
    }
}

TEST(Tables, FastArcTangentsMatchTheLibrary)
{
    double worst = 0;
    for (int i = 0; i < 20000; i++) {
        double y = sin(i * 0.7) * pow(10, (i % 7) - 3), x = cos(i * 1.3) * pow(10, (i % 5) - 2);
        worst = std::max(worst, fabs(fastAtan2(y, x) - atan2(y, x)));
        worst = std::max(worst, fabs(fastAtan(y / x) - atan(y / x)));
        double c = sin(i * 0.37);
        worst = std::max(worst, fabs(fastAcos(c) - acos(c)));
    }
    EXPECT_LT(worst, 1e-11);
    EXPECT_DOUBLE_EQ(PI / 2, fastAtan2(1, 0));
    EXPECT_DOUBLE_EQ(-PI / 2, fastAtan2(-1, 0));
    EXPECT_DOUBLE_EQ(PI, fastAtan2(0, -1));
    EXPECT_DOUBLE_EQ(0, fastAcos(1));
    EXPECT_DOUBLE_EQ(PI, fastAcos(-1.5));   // clamped
    EXPECT_TRUE(fastAtan2(NAN, 1) != fastAtan2(NAN, 1));
}

// The pixel loops' colour steps must give the bytes the scalar formulas
// give, or every picture changes.
static int ScalarByte(double v)
{
    int i = _mm_cvttsd_si32(_mm_set_sd(v));   // (int)v as this target converts it
    return i < 0 ? 0 : i > 255 ? 255 : i;
}

TEST(ColourLanes, BytesAreTruncatedAndClampedAsOneChannelAtATime)
{
    const double values[] = {0, 0.99, 1, 127.5, 254.999, 255, 255.5, 256, 300, 65535.9, 70000,
                             -0.5, -1, -300, -70000, 2147483647.0, 3e9, -3e9, 1e300,
                             INFINITY, -INFINITY, NAN};
    const int n = sizeof values / sizeof values[0];
    for (int a = 0; a < n; a++)
        for (int b = 0; b < n; b++) {
            double c[3] = {values[a], values[b], values[(a + b) % n]};
            uint32_t bytes = LaneBytes(LoadLanes(c)), bgr = LaneBytesBGR(LoadLanes(c));
            for (int k = 0; k < 3; k++) {
                EXPECT_EQ(ScalarByte(c[k]), (int)((bytes >> (8 * k)) & 255)) << c[k];
                // The picture's order: blue (channel 2) first.
                EXPECT_EQ(ScalarByte(c[k]), (int)((bgr >> (8 * (2 - k))) & 255)) << c[k];
            }
            EXPECT_EQ(0u, bytes >> 24);
            EXPECT_EQ(0u, bgr >> 24);
        }
}

TEST(ColourLanes, StepsGiveTheScalarFormulasDoubles)
{
    srand(7);
    for (int i = 0; i < 20000; i++) {
        double c[3], target[3], scalar[3], lanes[3];
        for (int k = 0; k < 3; k++) {
            c[k] = rand() % 256 + rand() / (double)RAND_MAX;
            target[k] = (rand() % 600 - 100) * 0.37;
        }
        double amount = rand() / (double)RAND_MAX * 1.2 - 0.1;
        for (int k = 0; k < 3; k++)
            scalar[k] = c[k] + amount * (target[k] - c[k]);
        memcpy(lanes, c, sizeof c);
        MoveToward(lanes, target, amount);
        ASSERT_EQ(0, memcmp(scalar, lanes, sizeof scalar)) << i;
        for (int k = 0; k < 3; k++)
            scalar[k] = c[k] + amount * (target[1] - c[k]);
        memcpy(lanes, c, sizeof c);
        MoveAllToward(lanes, target[1], amount);
        ASSERT_EQ(0, memcmp(scalar, lanes, sizeof scalar)) << i;
        StoreLanes(lanes, LoadLanes(c));
        ASSERT_EQ(0, memcmp(c, lanes, sizeof c));
    }
}

TEST(ColourLanes, IntLanesGiveTheConvertedIntsAndStoreAsThree)
{
    const int special[] = {0, 1, -1, 127, 255, 256, -256, 65535, INT_MAX, INT_MIN, INT_MIN + 1};
    std::vector<int> values(special, special + sizeof special / sizeof special[0]);
    for (int v = 0; v < 256; v++)
        values.push_back(v);
    for (size_t a = 0; a < values.size(); a++)
        for (size_t b = 0; b < values.size(); b += 7) {
            int v[3] = {values[a], values[b], values[(a * 31 + b) % values.size()]};
            double want[4] = {(double)v[0], (double)v[1], (double)v[2], -5}, got[4] = {0, 0, 0, -5};
            StoreLanes(got, IntLanes(v[0], v[1], v[2]));
            ASSERT_EQ(0, memcmp(want, got, sizeof got)) << v[0] << " " << v[1] << " " << v[2];
        }
}

// The cloud relief's octant and position as two separate looks at the
// direction worked them out before; SunOctantOf and SunOctantPosition must
// give the same row and the same double for every direction.
static int ReferenceOctantRow(const SunDirection *d)
{
    double ax = fabs(d->dLon), ay = fabs(d->dLat);
    if (!(ax == ax && ay == ay) || (ax == 0 && ay == 0))
        return 0;
    int k = ay <= ax ? (d->dLon >= 0 ? 0 : 3) : (d->dLon >= 0 ? 1 : 2);
    bool positive = d->dLat < 0 || (ay == 0 && d->dLon > 0);
    return positive ? k : 4 + k;
}

static double ReferenceOctantPosition(const SunDirection *d)
{
    double ax = fabs(d->dLon), ay = fabs(d->dLat);
    if (!(ax == ax && ay == ay) || (ax == 0 && ay == 0))
        return 0;
    if (ay <= ax) {
        double quarter = atanUnit(ay * d->inverseLon) * (4 / PI);
        return d->dLon >= 0 ? quarter : 1 - quarter;
    }
    double quarter = atanUnit(ax * d->inverseLat) * (4 / PI);
    return d->dLon >= 0 ? 1 - quarter : quarter;
}

TEST(ColourLanes, SunOctantGivesTheRowAndPositionOfTheTwoLooks)
{
    BuildTables();
    const double special[] = {0, -0.0, 1e-12, -1e-12, 0.25, -0.25, 1, -1, PI / 2, -PI / 2,
                              PI, -PI, 3e-3, -3e-3, NAN};
    std::vector<double> values(special, special + sizeof special / sizeof special[0]);
    srand(11);
    for (int i = 0; i < 1500; i++)
        values.push_back((rand() / (double)RAND_MAX - 0.5) * 2 * PI);
    // Offsets of a flat map's grid, where equal magnitudes occur.
    for (int i = -40; i <= 40; i++)
        values.push_back(i * (PI / 40));
    int checked = 0, rows[8] = {}, fromEnd = 0;
    for (size_t a = 0; a < values.size(); a++)
        for (size_t b = 0; b < values.size(); b++) {
            SunDirection d = {values[a], values[b], 1 / fabs(values[a]), 1 / fabs(values[b])};
            SunOctant o;
            SunOctantOf(&d, &o);
            ASSERT_EQ(ReferenceOctantRow(&d), o.row) << d.dLon << " " << d.dLat;
            if (!o.none && !(o.ratio >= 0 && o.ratio <= 1 + 1e-15))
                FAIL() << "ratio " << o.ratio << " for " << d.dLon << " " << d.dLat;
            double want = ReferenceOctantPosition(&d), got = SunOctantPosition(&o);
            ASSERT_EQ(0, memcmp(&want, &got, sizeof got)) << d.dLon << " " << d.dLat;
            rows[o.row]++;
            fromEnd += o.fromEnd;
            checked++;
        }
    EXPECT_GT(checked, 2000000);
    for (int r = 0; r < 8; r++)
        EXPECT_GT(rows[r], 10000) << r;   // every octant met
    EXPECT_GT(fromEnd, 500000);
}

TEST(ColourLanes, BlueAboveAgreesWithTheProductForEveryPairOfBytes)
{
    uint16_t table[256];
    FillBlueAbove(table);
    int disagree = 0;
    for (int v = 0; v < 256; v++)
        for (int b = 0; b < 256; b++) {
            volatile double product = 1.1 * v;   // as the loops once compared
            disagree += (b >= table[v]) != (b > product);
        }
    EXPECT_EQ(0, disagree);
    EXPECT_EQ(1, table[0]);      // 1 > 0: any blue at all above black
    EXPECT_EQ(12, table[10]);    // 11 is not above 1.1 x 10 in doubles
    EXPECT_EQ(256, table[255]);  // no byte is above 280.5
}

TEST(ColourLanes, GreyBilinearGivesTheSamplersByte)
{
    // Fractions at the ends of their range and random ones, with corners at
    // the extremes and random bytes: the lanes must round as the sampler's
    // one channel does, truncation by truncation.
    const double edges[] = {0, 1e-300, 0.5, 0.25, 0.999999, nextafter(1.0, 0), 1.0 / 3};
    const int ne = sizeof edges / sizeof edges[0];
    srand(11);
    int checked = 0;
    for (int i = 0; i < 200000; i++) {
        int v[4];
        for (int k = 0; k < 4; k++)
            v[k] = i % 7 == 0 ? (rand() & 1) * 255 : rand() & 255;
        double dx = i % 5 == 0 ? edges[i / 5 % ne] : rand() / (RAND_MAX + 1.0);
        double dy = i % 3 == 0 ? edges[i / 3 % ne] : rand() / (RAND_MAX + 1.0);
        int scalar = MapBilinearChannel(v[0], v[1], v[2], v[3], dx, dy);
        ASSERT_EQ(scalar, BilinearGrey(v[0], v[1], v[2], v[3], dx, dy))
            << v[0] << " " << v[1] << " " << v[2] << " " << v[3] << " " << dx << " " << dy;
        checked++;
    }
    EXPECT_EQ(200000, checked);
    EXPECT_EQ(255, BilinearGrey(255, 255, 255, 255, 0.5, 0.5));
    EXPECT_EQ(127, BilinearGrey(0, 255, 0, 255, 0.5, 0.5));   // 127.5 truncated
}

TEST(ColourLanes, ArcTangentLanesGiveTheScalarDoubles)
{
    const double special[] = {0, -0.0, 1, -1, 1e-300, -1e-300, 0.5, 3, -7.25, 1e300, -1e300,
                              INFINITY, -INFINITY, NAN};
    const int n = sizeof special / sizeof special[0];
    std::vector<double> values(special, special + n);
    srand(5);
    for (int i = 0; i < 4000; i++)
        values.push_back((rand() / (double)RAND_MAX - 0.5) * (i % 2 ? 4 : 1e-3 + i));
    int checked = 0;
    for (size_t a = 0; a < values.size(); a += (a < (size_t)n ? 1 : 37))
        for (size_t b = 0; b + 1 < values.size(); b++) {
            double out[2];
            FastAtan2Lanes(_mm_setr_pd(values[a], values[b + 1]), _mm_setr_pd(values[b], values[a]),
                           out);
            double want[2] = {fastAtan2(values[a], values[b]), fastAtan2(values[b + 1], values[a])};
            ASSERT_EQ(0, memcmp(want, out, sizeof out)) << values[a] << " " << values[b];
            checked++;
        }
    EXPECT_GT(checked, 100000);
}

// Pairs of ordinary points (finite, x not 0): every quadrant and both sides
// of the diagonal in either lane, ratios on and next to the table's nodes
// and the half-way points between them (where the node index rounds),
// |x| = |y|, tiny and huge magnitudes, and y = -0 (not negative). Each lane
// must be fastAtan2's double.
TEST(ColourLanes, ArcTangentLanesGiveTheScalarDoublesAtTheNodes)
{
    std::vector<double> ratios = {0, 1, 0.25, 1 / 3.0};
    for (int k = 0; k <= 256; k++)
        for (double r : {k / 256.0, (k + 0.5) / 256})
            if (r <= 1)
                for (double t : {r, nextafter(r, 0.0), nextafter(r, 2.0)})
                    if (t >= 0 && t <= 1)
                        ratios.push_back(t);
    const double scales[] = {1, 3.5e-7, 2.5e6, 1e-300, 1e299};
    struct Point {
        double y, x;
    };
    std::vector<Point> points;
    for (double r : ratios)
        for (double scale : scales)
            for (int quadrant = 0; quadrant < 4; quadrant++) {
                double sy = quadrant & 1 ? -1 : 1, sx = quadrant & 2 ? -1 : 1;
                points.push_back({sy * r * scale, sx * scale});   // shallow: |y| <= |x|
                if (r * scale != 0)   // x must not be 0 (nor underflow to it)
                    points.push_back({sy * scale, sx * r * scale});   // steep
            }
    points.push_back({-0.0, 2});
    points.push_back({-0.0, -2});
    int checked = 0;
    for (size_t a = 0; a < points.size(); a++) {
        const Point &p = points[a], &q = points[(a * 7919 + 13) % points.size()];
        ASSERT_NE(0, p.x);
        double out[2];
        FastAtan2Lanes(_mm_setr_pd(p.y, q.y), _mm_setr_pd(p.x, q.x), out);
        double want[2] = {fastAtan2(p.y, p.x), fastAtan2(q.y, q.x)};
        ASSERT_EQ(0, memcmp(want, out, sizeof out))
            << p.y << "/" << p.x << " and " << q.y << "/" << q.x << ": " << out[0] << " " << out[1];
        checked++;
    }
    EXPECT_GT(checked, 40000);
    // The lane path's answers are arc tangents to within the table's error.
    double out[2];
    FastAtan2Lanes(_mm_setr_pd(1, -0.3), _mm_setr_pd(-1, 2), out);
    EXPECT_NEAR(atan2(1, -1), out[0], 1e-11);
    EXPECT_NEAR(atan2(-0.3, 2), out[1], 1e-11);
}

// Every pixel pair of globes of several sizes, turns and clip offsets,
// against the scalar projection field by field, bit for bit.
TEST(ColourLanes, GlobeProjectionLanesGiveTheScalarProjection)
{
    BuildTables();
    struct Case {
        int left, top, size;
        double rotateY, rotateZ;
        int mapW, mapH;
    } cases[] = {{0, 0, 101, 0, 0, 4096, 2048},       {37, 11, 256, 0.3, 1.0, 2048, 1024},
                 {-50, -20, 300, -1.2, 2.9, 1000, 500}, {5, 3, 64, PI / 2, -PI, 8640, 4320},
                 {0, 0, 2, 0, 0, 360, 180},             {3, 7, 129, 0.000001, 6.2, 333, 167}};
    const double sunLongitudes[] = {0, 1.1, -2.5};
    int differ = 0, pairs = 0;
    for (const Case &c : cases) {
        ViewOptions v;
        memset(&v, 0, sizeof v);
        v.iPrjType = 0;
        int area[4] = {c.left, c.top, c.left + c.size - 1, c.top + c.size - 1};
        memcpy(v.iDtpArea, area, sizeof area);
        int clip[4] = {c.left - 3, c.top - 3, c.left + c.size + 3, c.top + c.size + 3};
        memcpy(v.iClpArea, clip, sizeof clip);
        v.iMapW = c.mapW;
        v.iMapH = c.mapH;
        v.dRotateY = c.rotateY;
        v.dRotateZ = c.rotateZ;
        ProjectionSetup setup;
        PrepareProjection(&v, &setup);
        for (double sunLongitude : sunLongitudes) {
            double cs = cos(sunLongitude), sn = sin(sunLongitude);
            for (int y = clip[1]; y <= clip[3]; y++)
                for (int x = clip[0]; x < clip[2]; x += 2) {
                    MapProjection lanes[2], scalar[2];
                    double sunCos[2];
                    ProjectGlobeLanes(&setup, v.iMapW, v.iMapH, cs, sn, x, y, lanes, sunCos);
                    for (int k = 0; k < 2; k++) {
                        ProjectPrepared(x + k, y, &setup, &scalar[k]);
                        const MapProjection &a = scalar[k], &b = lanes[k];
                        double want = a.across > 0 ? (a.vx * cs + a.vy * sn) / a.across : 0;
                        bool same = a.valid == b.valid && !memcmp(&a.mapX, &b.mapX, 8) &&
                                    !memcmp(&a.mapY, &b.mapY, 8) &&
                                    !memcmp(&a.longitude, &b.longitude, 8) &&
                                    !memcmp(&a.latitude, &b.latitude, 8) &&
                                    !memcmp(&a.distance, &b.distance, 8) &&
                                    !memcmp(&a.vx, &b.vx, 8) && !memcmp(&a.vy, &b.vy, 8) &&
                                    !memcmp(&a.vz, &b.vz, 8) && !memcmp(&a.across, &b.across, 8) &&
                                    !memcmp(&want, &sunCos[k], 8);
                        differ += !same;
                        pairs++;
                        if (!same && differ < 5)
                            ADD_FAILURE() << "pixel " << x + k << "," << y << " of globe "
                                          << c.size << ": lon " << a.longitude << " vs "
                                          << b.longitude << ", lat " << a.latitude << " vs "
                                          << b.latitude;
                    }
                }
        }
    }
    EXPECT_EQ(0, differ);
    EXPECT_GT(pairs, 200000);
}
