#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include "earth/compositor_helpers.h"
#include "earth/mapfile.h"
#include "earth/settings.h"
#include "framework/mappedfile.h"
#include "imaging/image.h"
#include "testutil.h"

static const double PI = 3.14159265358979323846;

static void Put32(std::string *s, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        s->push_back((char)(v >> (8 * i)));
}

static uint32_t Get32(const std::string &s, size_t at)
{
    return (uint8_t)s[at] | (uint8_t)s[at + 1] << 8 | (uint8_t)s[at + 2] << 16 |
           (uint32_t)(uint8_t)s[at + 3] << 24;
}

static void AddChunk(std::string *vtd, int key, int encoding, int index, const std::string &data,
                     uint32_t length)
{
    char header[8] = {(char)key, (char)(key >> 8), (char)encoding, (char)(encoding >> 8),
                      (char)index, (char)(index >> 8), 0, 0};
    vtd->append(header, 8);
    Put32(vtd, length);
    vtd->append(data);
}

static void AddChunk(std::string *vtd, int key, int index, const std::string &data)
{
    AddChunk(vtd, key, 2, index, data, (uint32_t)data.size());
}

static std::string HeaderData(uint32_t flags, uint32_t width, uint32_t height)
{
    std::string data;
    Put32(&data, flags);
    Put32(&data, width);
    Put32(&data, height);
    return data;
}

// Distinct, known map pixels: colour channels and a grey value.
static uint8_t Channel(int image, int x, int y, int c) { return (uint8_t)(image * 50 + y * 16 + x * 2 + c * 7 + 1); }
static uint8_t Grey(int image, int x, int y) { return (uint8_t)(image * 20 + y * 8 + x + 3); }

// A PNG tile cut from the known map at tile (column, row) of side pixels.
static std::string Tile(int image, int column, int row, int side, bool grey)
{
    CDibImage tile(side, side, grey ? 8 : 24, FORMAT_PNG);
    if (grey)
        tile.SetGrayPalette();
    for (int y = 0; y < side; y++) {
        uint8_t *bits = tile.GetBits(side - 1 - y);   // bottom-up rows
        for (int x = 0; x < side; x++) {
            int mx = column * side + x, my = row * side + y;
            if (grey)
                bits[x] = Grey(image, mx, my);
            else
                for (int c = 0; c < 3; c++)
                    bits[3 * x + c] = Channel(image, mx, my, c);
        }
    }
    unsigned char *buffer = 0;
    int32_t size = 0;
    EXPECT_TRUE(tile.Encode(&buffer, &size, FORMAT_PNG));
    std::string png((const char *)buffer, size);
    CDibImage::FreeEncodedBuffer(buffer);
    return png;
}

// A whole source file: header, then every tile in order.
static std::string Source(uint32_t flags, int width, int height, int side)
{
    std::string vtd;
    AddChunk(&vtd, 0, 7, HeaderData(flags, width, height));
    bool grey = !(flags & 1);
    int images = (flags & MAP_FLAG_MONTHLY) ? 12 : 1, index = 1;
    for (int image = 0; image < images; image++)
        for (int row = 0; row < height / side; row++)
            for (int column = 0; column < width / side; column++)
                AddChunk(&vtd, flags & 0xFFFF, index++, Tile(image, column, row, side, grey));
    return vtd;
}

static std::string Trailer(uint32_t flags, uint32_t width, uint32_t height)
{
    return HeaderData(flags, width, height);
}

static int FilesIn(const std::string &folder)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
    int count = 0;
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    do
        count += entry.cFileName[0] != '.';
    while (FindNextFileA(find, &entry));
    FindClose(find);
    return count;
}

TEST(MapConvert, ColourMapLayoutTrailerAndMiniature)
{
    // Square, so a miniature that scales rows by the width ratio shows.
    std::string folder = FreshTempFolder("map-colour");
    uint32_t flags = 0x101;   // colour, with a bit that only travels along
    WriteWhole(folder + "\\Square.vtd", Source(flags, 8, 8, 4));
    ASSERT_EQ(ConvertDataFile(folder.c_str(), "Square", 0), 0);

    std::string expected;
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++)
            for (int c = 0; c < 3; c++)
                expected.push_back((char)Channel(0, x, y, c));
    expected += Trailer(flags, 8, 8);
    EXPECT_TRUE(ReadWhole(folder + "\\Square.map") == expected);

    std::string mini;
    for (int row = 0; row < 150; row++)
        for (int column = 0; column < 300; column++)
            for (int c = 0; c < 3; c++)
                mini.push_back((char)Channel(0, column * 8 / 300, row * 8 / 150, c));
    mini += Trailer(flags, 300, 150);
    std::string got = ReadWhole(folder + "\\Square.min");
    ASSERT_EQ(got.size(), mini.size());
    EXPECT_TRUE(got == mini);
    EXPECT_EQ(FilesIn(folder), 3);   // source, map, miniature; no side files
}

TEST(MapConvert, MonthlyUrbanMapFromGreyTiles)
{
    std::string folder = FreshTempFolder("map-urban");
    uint32_t flags = 0x12;
    WriteWhole(folder + "\\Lights.vtd", Source(flags, 8, 4, 4));
    ASSERT_EQ(ConvertDataFile(folder.c_str(), "Lights", 0), 0);
    std::string expected, mini;
    for (int image = 0; image < 12; image++)
        for (int y = 0; y < 4; y++)
            for (int x = 0; x < 8; x++)
                expected.push_back((char)Grey(image, x, y));
    expected += Trailer(flags, 8, 4);
    EXPECT_TRUE(ReadWhole(folder + "\\Urban-8.map") == expected);
    for (int image = 0; image < 12; image++)
        for (int row = 0; row < 150; row++)
            for (int column = 0; column < 300; column++)
                mini.push_back((char)Grey(image, column * 8 / 300, row * 4 / 150));
    mini += Trailer(flags, 300, 150);
    EXPECT_TRUE(ReadWhole(folder + "\\Urban-300.map") == mini);

    ViewOptions view;
    memset(&view, 0, sizeof view);
    MapTrailer trailer;
    EXPECT_EQ(ReadMapTrailer((folder + "\\Urban-8.map").c_str(), &view, &trailer), 0x12);
    EXPECT_EQ(view.iMapW, 8);
    EXPECT_EQ(view.iMapH, 4);
    EXPECT_EQ(view.bSeasonEnable, 1);
    EXPECT_EQ(trailer.width, 8u);
}

// Monthly colour map with two bands per image and a width that is not a
// whole number of tiles: each band lands at its image and tile row, and the
// columns right of the last whole tile stay zero in map and miniature.
TEST(MapConvert, MonthlyBandsAndColumnsRightOfTheLastTile)
{
    std::string folder = FreshTempFolder("map-bands");
    uint32_t flags = 0x11;
    WriteWhole(folder + "\\Wide.vtd", Source(flags, 10, 8, 4));
    ASSERT_EQ(ConvertDataFile(folder.c_str(), "Wide", 0), 0);
    std::string expected, mini;
    for (int image = 0; image < 12; image++)
        for (int y = 0; y < 8; y++)
            for (int x = 0; x < 10; x++)
                for (int c = 0; c < 3; c++)
                    expected.push_back(x < 8 ? (char)Channel(image, x, y, c) : 0);
    expected += Trailer(flags, 10, 8);
    EXPECT_TRUE(ReadWhole(folder + "\\Wide.map") == expected);
    for (int image = 0; image < 12; image++)
        for (int row = 0; row < 150; row++)
            for (int column = 0; column < 300; column++) {
                int x = column * 10 / 300, y = row * 8 / 150;
                for (int c = 0; c < 3; c++)
                    mini.push_back(x < 8 ? (char)Channel(image, x, y, c) : 0);
            }
    mini += Trailer(flags, 300, 150);
    EXPECT_TRUE(ReadWhole(folder + "\\Wide.min") == mini);
    EXPECT_EQ(FilesIn(folder), 3);
}

struct CancelAfter {
    int reports;
    volatile uint8_t cancel;
};

static void CountReport(void *context, const char *, int)
{
    CancelAfter *c = (CancelAfter *)context;
    if (++c->reports == 3)
        c->cancel = 1;
}

// Every failure leaves the folder as it was: the source and nothing else.
static void ExpectFailure(const char *tag, const std::string &vtd, int code,
                          const char *blocker = 0)
{
    std::string folder = FreshTempFolder(tag);
    WriteWhole(folder + "\\Set.vtd", vtd);
    if (blocker)
        CreateDirectoryA((folder + "\\" + blocker).c_str(), 0);
    EXPECT_EQ(ConvertDataFile(folder.c_str(), "Set", 0), code) << tag;
    if (blocker)
        RemoveDirectoryA((folder + "\\" + blocker).c_str());
    EXPECT_EQ(FilesIn(folder), 1) << tag;
}

TEST(MapConvert, EveryErrorLeavesNoPartialMap)
{
    std::string good = Source(1, 8, 4, 4), noHeader, noTile, badTile, lateMissing, badLength;
    EXPECT_EQ(ConvertDataFile(FreshTempFolder("map-none").c_str(), "Set", 0), 25);

    AddChunk(&noHeader, 1, 1, Tile(0, 0, 0, 4, false));
    ExpectFailure("map-noheader", noHeader, 39);

    AddChunk(&noTile, 0, 0, HeaderData(1, 8, 4));
    AddChunk(&noTile, 1, 2, Tile(0, 1, 0, 4, false));
    ExpectFailure("map-notile", noTile, 18);

    AddChunk(&badTile, 0, 0, HeaderData(1, 8, 4));
    AddChunk(&badTile, 1, 1, "not a picture at all");
    ExpectFailure("map-badtile", badTile, 24);

    AddChunk(&lateMissing, 0, 0, HeaderData(1, 8, 4));
    AddChunk(&lateMissing, 1, 1, Tile(0, 0, 0, 4, false));
    ExpectFailure("map-late", lateMissing, 28);

    // Tile 1's length runs past the end of the file.
    AddChunk(&badLength, 0, 0, HeaderData(1, 8, 4));
    AddChunk(&badLength, 1, 2, 1, Tile(0, 0, 0, 4, false), 0x7FFFFF00);
    ExpectFailure("map-length", badLength, 18);

    ExpectFailure("map-target", good, 26, "Set.map.tmp");
    ExpectFailure("map-mini", good, 37, "Set.min.tmp");
}

static void CountReports(void *context, const char *, int) { ++*(int *)context; }

// Crafted sources (a header and tile 1) are refused before a target exists:
// no progress, nothing beside the source, the source as it was. 39 for
// sizes no map can have; 28 when the tiles cannot all be in the source. The
// 1 x 1 tiles of a monthly 32768 x 32768 map (1 GB an image, the largest
// grey map) number 12 x 2^30, which is 0 in 32 bits.
TEST(MapConvert, CraftedHeadersCreateNothing)
{
    struct {
        const char *tag;
        uint32_t flags, width, height;
        int side, code;
    } cases[] = {
        {"map-wide", 2, 0x80000000u, 4, 4, 39},   // was an 8 GB "Urban--2147483648.map.tmp"
        {"map-tall", 1, 4, 0x80000000u, 4, 39},
        {"map-zerow", 1, 0, 4, 4, 39},
        {"map-zeroh", 0x11, 4, 0, 4, 39},
        {"map-wrap32", 0x11, 0x10000, 0x10000, 4, 39},
        {"map-wrap64", 0x11, 1824726041, 1684887088, 4, 39},   // file size wraps to 204
        {"map-bound", 1, 32768, 10923, 4, 39},                 // 1 GB and 32 KB an image
        {"map-ones", 0x12, 32768, 32768, 1, 28},
        {"map-largest", 0x11, 21600, 10800, 4, 28},
        {"map-room", 2, 64, 64, 4, 28},                        // 256 tiles, room for far fewer
        {"map-narrow", 1, 3, 8, 4, 24},                        // unchanged: tiles wider than it
        {"map-flag31", 0x80000002u, 8, 4, 4, 39},              // was a map no reader opens
        {"map-kind0", 0x10, 8, 4, 4, 39},                      // was a 1-byte map no reader takes
    };
    for (const auto &c : cases) {
        std::string folder = FreshTempFolder(c.tag), vtd;
        AddChunk(&vtd, 0, 0, HeaderData(c.flags, c.width, c.height));
        AddChunk(&vtd, c.flags & 0xFFFF, 1, Tile(0, 0, 0, c.side, !(c.flags & 1)));
        WriteWhole(folder + "\\Set.vtd", vtd);
        int reports = 0;
        MapProgress progress = {CountReports, &reports, 0};
        EXPECT_EQ(ConvertDataFile(folder.c_str(), "Set", &progress), c.code) << c.tag;
        EXPECT_EQ(reports, 0) << c.tag;
        EXPECT_EQ(FilesIn(folder), 1) << c.tag;
        EXPECT_TRUE(ReadWhole(folder + "\\Set.vtd") == vtd) << c.tag;
    }
}

// The one bound: an image of at most 1 GB, what the renderer maps at a
// time. The largest real maps are inside it.
TEST(MapConvert, ImageBoundKeepsTheLargestMaps)
{
    MapTrailer monthly8640 = {0x11, 8640, 4320}, monthly21600 = {0x11, 21600, 10800};
    EXPECT_EQ(MapFileSize(&monthly8640), 8640LL * 4320 * 3 * 12 + 12);
    EXPECT_EQ(MapFileSize(&monthly21600), 8398080012LL);
    EXPECT_EQ(MapImageBytes(32768, 32768, 1), 0x40000000LL);
    EXPECT_EQ(MapImageBytes(32768, 32769, 1), -1);
    EXPECT_EQ(MapImageBytes(32768, 10922, 3), 32768LL * 10922 * 3);
    EXPECT_EQ(MapImageBytes(32768, 10923, 3), -1);
}

TEST(MapConvert, CancelLeavesNoPartialMap)
{
    std::string folder = FreshTempFolder("map-cancel");
    WriteWhole(folder + "\\Set.vtd", Source(0x11, 8, 4, 4));
    CancelAfter state = {0, 0};
    MapProgress progress = {CountReport, &state, &state.cancel};
    EXPECT_EQ(ConvertDataFile(folder.c_str(), "Set", &progress), 1024);
    EXPECT_EQ(FilesIn(folder), 1);
}

TEST(MapConvert, FindChunkWithAnyIndexGivesTheFirst)
{
    std::string folder = FreshTempFolder("map-find"), vtd;
    AddChunk(&vtd, 5, 3, "abc");
    AddChunk(&vtd, 0, 9, HeaderData(5, 4, 4));
    AddChunk(&vtd, 5, 1, "defg");
    WriteWhole(folder + "\\f.vtd", vtd);
    CMappedFile file;
    ASSERT_EQ(file.Open((folder + "\\f.vtd").c_str(), 0, 0, 0), 0);
    EXPECT_EQ(FindChunk(&file, 5, -1), 0);
    EXPECT_EQ(FindChunk(&file, 5, 1), 12 + 3 + 12 + 12);
    EXPECT_EQ(FindChunk(&file, 0, -1), 15);
    EXPECT_EQ(FindChunk(&file, 6, -1), -1);
}

TEST(MapTrailer, RejectsTrailersThatDoNotDescribeTheFile)
{
    std::string folder = FreshTempFolder("map-trailer");
    std::string pixels(4 * 2 * 3, 'x');
    WriteWhole(folder + "\\ok.map", pixels + Trailer(1, 4, 2));
    WriteWhole(folder + "\\zero.map", Trailer(1, 0, 0));
    WriteWhole(folder + "\\long.map", pixels + "y" + Trailer(1, 4, 2));
    WriteWhole(folder + "\\short.map", "0123456789");
    MapTrailer t = {0, 0, 0};
    EXPECT_EQ(ReadMapTrailer((folder + "\\ok.map").c_str(), 0, &t), 1);
    EXPECT_EQ(t.height, 2u);
    EXPECT_EQ(ReadMapTrailer((folder + "\\zero.map").c_str(), 0, 0), -1);
    EXPECT_EQ(ReadMapTrailer((folder + "\\long.map").c_str(), 0, 0), -1);
    EXPECT_EQ(ReadMapTrailer((folder + "\\short.map").c_str(), 0, 0), -1);
    EXPECT_EQ(ReadMapTrailer((folder + "\\missing.map").c_str(), 0, 0), -1);
}

// Trailers whose sizes wrap 64 bits to the length of a small file: the
// second would give the renderer a width and height whose 3-byte image size
// is negative in 64 bits. Both refused, and the view is left alone.
TEST(MapTrailer, RejectsTrailersWhoseSizesWrap)
{
    std::string folder = FreshTempFolder("map-trailer-wrap");
    WriteWhole(folder + "\\half.map", Trailer(0x11, 0x80000000u, 0x80000000u));
    WriteWhole(folder + "\\wrap.map", std::string(192, 'x') + Trailer(0x11, 1824726041, 1684887088));
    WriteWhole(folder + "\\grey.map", std::string(32, 'x') + Trailer(0x12, 1824726041, 842443544));
    for (const char *name : {"half.map", "wrap.map", "grey.map"}) {
        ViewOptions view;
        memset(&view, 0, sizeof view);
        view.iMapW = 8, view.iMapH = 4;
        MapTrailer t = {7, 7, 7};
        EXPECT_EQ(ReadMapTrailer((folder + "\\" + name).c_str(), &view, &t), -1) << name;
        EXPECT_EQ(view.iMapW, 8) << name;
        EXPECT_EQ(view.iMapH, 4) << name;
        EXPECT_EQ(t.width, 7u) << name;
    }
}

TEST(MapSample, WrapsAtEveryEdge)
{
    std::string folder = FreshTempFolder("map-sample");
    // 4 x 2 grey map: top row 0, 40, 80, 120; bottom row 200, 210, 220, 230.
    const char map[] = {0, 40, 80, 120, (char)200, (char)210, (char)220, (char)230};
    WriteWhole(folder + "\\s.map", std::string(map, 8) + Trailer(2, 4, 2));
    BufferedReader reader;
    ASSERT_EQ(reader.Open((folder + "\\s.map").c_str(), 64), 0);
    uint8_t v = 0;
    ASSERT_TRUE(SampleMap(&reader, 4, -0.5, 0, 0, 2, &v, 1, false));
    EXPECT_EQ(v, 120);
    ASSERT_TRUE(SampleMap(&reader, 4, 4.2, 1.5, 0, 2, &v, 1, false));
    EXPECT_EQ(v, 200);
    ASSERT_TRUE(SampleMap(&reader, 4, 3.5, 0, 0, 2, &v, 1, true));
    EXPECT_EQ(v, 60);    // halfway between the last column and the first
    ASSERT_TRUE(SampleMap(&reader, 4, 0, 1.5, 0, 2, &v, 1, true));
    EXPECT_EQ(v, 100);   // halfway between the bottom row and the top
    ASSERT_TRUE(SampleMap(&reader, 4, -0.5, -0.5, 0, 2, &v, 1, true));
    EXPECT_EQ(v, (int)((int)(230 * 0.5 + 200 * 0.5) * 0.5 + (int)(120 * 0.5 + 0 * 0.5) * 0.5));
}

TEST(MapSample, SeasonMaskWraps)
{
    const uint8_t mask[] = {0, 40, 80, 120, 200, 210, 220, 230};
    EXPECT_EQ(SampleSeasonMask(mask, 4, 2, 3.5, 0), 60);
    EXPECT_EQ(SampleSeasonMask(mask, 4, 2, 0, 1.5), 100);
    EXPECT_EQ(SampleSeasonMask(mask, 4, 2, 1, 1), 210);
}

static ViewOptions FlatView()
{
    ViewOptions v;
    memset(&v, 0, sizeof v);
    v.iPrjType = 1;
    v.iMapW = 360, v.iMapH = 180;
    int dtp[4] = {0, 0, 359, 179}, map[4] = {0, 0, 359, 179}, clip[4] = {-1, 0, 359, 179};
    memcpy(v.iDtpArea, dtp, sizeof dtp);
    memcpy(v.iMapArea, map, sizeof map);
    memcpy(v.iClpArea, clip, sizeof clip);
    return v;
}

TEST(MapProject, FlatPixelsLandOnKnownPlaces)
{
    ViewOptions v = FlatView();
    MapProjection p;
    ProjectPixel(180, 90, &v, &p);
    EXPECT_TRUE(p.valid);
    EXPECT_NEAR(p.longitude, 0, 1e-9);
    EXPECT_NEAR(p.latitude, 0, 1e-9);
    ProjectPixel(0, 0, &v, &p);
    EXPECT_NEAR(p.longitude, -PI, 1e-9);
    EXPECT_NEAR(p.latitude, PI / 2, 1e-9);
    ProjectPixel(-1, 45, &v, &p);
    EXPECT_TRUE(p.valid);
    EXPECT_NEAR(p.mapX, 359, 1e-9);
    EXPECT_NEAR(p.latitude, PI / 4, 1e-9);
    ProjectPixel(360, 45, &v, &p);
    EXPECT_FALSE(p.valid);
    EXPECT_EQ(p.distance, -1);

    // Half the map (the eastern hemisphere) across the same pixels.
    v.iMapArea[0] = 180;
    ProjectPixel(180, 90, &v, &p);
    EXPECT_NEAR(p.longitude, PI / 2, 1e-9);
}

TEST(MapProject, GlobePixelsLandOnKnownPlaces)
{
    buildCosineTable();
    ViewOptions v = FlatView();
    v.iPrjType = 0;
    int dtp[4] = {0, 0, 199, 199}, clip[4] = {0, 0, 199, 199};
    memcpy(v.iDtpArea, dtp, sizeof dtp);
    memcpy(v.iClpArea, clip, sizeof clip);
    v.dRotateY = 0.5, v.dRotateZ = 1.0;
    MapProjection p;
    ProjectPixel(100, 100, &v, &p);   // the centre looks at the view's place
    EXPECT_TRUE(p.valid);
    EXPECT_NEAR(p.latitude, 0.5, 0.01);
    EXPECT_NEAR(p.longitude, 1.0, 0.01);
    EXPECT_NEAR(p.mapX, 360 * 1.0 / (2 * PI) + 180, 0.5);
    EXPECT_NEAR(p.mapY, 90 - 180 * 0.5 / PI, 0.5);

    v.dRotateY = 0, v.dRotateZ = 0;
    ProjectPixel(150, 100, &v, &p);   // halfway to the right limb: 30 degrees east
    EXPECT_NEAR(p.longitude, PI / 6, 0.01);
    EXPECT_NEAR(p.latitude, 0, 0.01);
    ProjectPixel(100, 50, &v, &p);    // halfway up: 30 degrees north
    EXPECT_NEAR(p.latitude, PI / 6, 0.01);
    EXPECT_NEAR(p.longitude, 0, 0.01);
    ProjectPixel(2, 2, &v, &p);       // a corner is off the globe
    EXPECT_FALSE(p.valid);
    EXPECT_GT(p.distance, 1);
}

TEST(MapSun, SubSolarPointLitAndAntipodeDark)
{
    EXPECT_NEAR(SunCosine(0.3, 0.2, 0.2, 0.3), 1, 1e-4);
    EXPECT_NEAR(SunCosine(0.3, -0.2, 0.2, 0.3 + PI), -1, 1e-4);
    EXPECT_NEAR(SunCosine(0, 0, 0, PI / 2), 0, 1e-4);
}

TEST(MapOutput, BmpHeaderForAnOddWidth)
{
    std::string folder = FreshTempFolder("map-bmp");
    CMappedFile file;
    ASSERT_EQ(file.Open((folder + "\\o.bmp").c_str(), MAPPED_READ_WRITE, 54 + 16 * 3, 0), 0);
    ASSERT_EQ(WriteBmpHeader(&file, 5, 3), 0);
    file.Close();
    std::string bmp = ReadWhole(folder + "\\o.bmp");
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(Get32(bmp, 2), 54u + 16 * 3);
    EXPECT_EQ(Get32(bmp, 10), 54u);
    EXPECT_EQ(Get32(bmp, 18), 5u);
    EXPECT_EQ(Get32(bmp, 22), 3u);
    EXPECT_EQ(Get32(bmp, 26), 1u | 24u << 16);
    EXPECT_EQ(Get32(bmp, 30), 0u);
}

TEST(MapConvert, JpegTilesByTheirEncodingField)
{
    CDibImage tile(4, 4, 24, FORMAT_JPG);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 4; x++) {
            uint8_t *p = tile.GetBits(y) + 3 * x;
            p[0] = 30, p[1] = 120, p[2] = 220;
        }
    unsigned char *buffer = 0;
    int32_t size = 0;
    ASSERT_TRUE(tile.Encode(&buffer, &size, FORMAT_JPG));
    std::string jpeg((const char *)buffer, size), vtd;
    CDibImage::FreeEncodedBuffer(buffer);
    AddChunk(&vtd, 0, 0, HeaderData(1, 4, 4));
    AddChunk(&vtd, 1, 1, 1, jpeg, (uint32_t)jpeg.size());
    std::string folder = FreshTempFolder("map-jpeg");
    WriteWhole(folder + "\\J.vtd", vtd);
    ASSERT_EQ(ConvertDataFile(folder.c_str(), "J", 0), 0);
    std::string map = ReadWhole(folder + "\\J.map");
    ASSERT_EQ(map.size(), 4u * 4 * 3 + 12);
    EXPECT_NEAR((uint8_t)map[0], 30, 4);
    EXPECT_NEAR((uint8_t)map[1], 120, 4);
    EXPECT_NEAR((uint8_t)map[2], 220, 4);
}
