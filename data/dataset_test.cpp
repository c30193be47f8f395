// Checks the default data set the build made: every map file has a trailer
// that describes it, the sizes are the ones the renderer expects, and the
// built-in clouds and the season mask are JPEGs once restored, and the
// cities carry their airports' ICAO codes.
#include "testutil.h"

#include <map>
#include <string.h>

#include "earth/cities.h"
#include "earth/mapfile.h"
#include "earth/scramble.h"
#include "earth/settings.h"
#include "framework/application.h"
#include "framework/utilities.h"

static std::string DatasetPath(const char *name)
{
    std::string path = std::string("Z:") + VT_DATASET_DIR + "/" + name;
    for (size_t i = 0; i < path.size(); i++)
        if (path[i] == '/')
            path[i] = '\\';
    return path;
}

static std::vector<uint8_t> ReadFileBytes(const std::string &path)
{
    std::vector<uint8_t> bytes;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return bytes;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(f);
    return bytes;
}

static void ExpectMap(const char *name, int flags, int width, int height)
{
    MapTrailer trailer = {};
    EXPECT_EQ(flags, ReadMapTrailer(DatasetPath(name).c_str(), 0, &trailer)) << name;
    EXPECT_EQ((uint32_t)width, trailer.width) << name;
    EXPECT_EQ((uint32_t)height, trailer.height) << name;
    WIN32_FILE_ATTRIBUTE_DATA info;
    ASSERT_TRUE(GetFileAttributesExA(DatasetPath(name).c_str(), GetFileExInfoStandard, &info)) << name;
    int64_t size = ((int64_t)info.nFileSizeHigh << 32) | info.nFileSizeLow;
    EXPECT_EQ(MapFileSize(&trailer), size) << name;
}

TEST(Dataset, SeasonalDayMapAndMiniature)
{
    ExpectMap("Seasonal (10 km).map", 0x11, 2048, 1024);
    ExpectMap("Seasonal (10 km).min", 0x11, 300, 150);
    // The trailer sets up a view for the map as the renderer will.
    ViewOptions view = {};
    EXPECT_EQ(0x11, ReadMapTrailer(DatasetPath("Seasonal (10 km).map").c_str(), &view, 0));
    EXPECT_EQ(2048, view.iMapW);
    EXPECT_EQ(1024, view.iMapH);
    EXPECT_TRUE(view.bSeasonEnable);
}

TEST(Dataset, CityLights)
{
    ExpectMap("Urban-2048.map", 2, 2048, 1024);
    ExpectMap("Urban-300.map", 2, 300, 150);
    // Tone-mapped: a fair share of the surface is lit, not a black picture.
    std::vector<uint8_t> map = ReadFileBytes(DatasetPath("Urban-2048.map"));
    ASSERT_EQ((size_t)2048 * 1024 + 12, map.size());
    size_t lit = 0;
    for (size_t i = 0; i < (size_t)2048 * 1024; i++)
        lit += map[i] >= 64;
    EXPECT_GT(lit, (size_t)2048 * 1024 / 200);
    EXPECT_LT(lit, (size_t)2048 * 1024 / 4);
}

TEST(Dataset, BuiltInCloudsRestoreToJpegs)
{
    const char *names[] = {"CloudsL.int", "CloudsM.int", "CloudsH.int"};
    for (const char *name : names) {
        std::vector<uint8_t> data = ReadFileBytes(DatasetPath(name));
        ASSERT_GT(data.size(), (size_t)1000) << name;
        uint32_t n = (uint32_t)data.size();
        // Scrambled by the build's script, restored by the program's code.
        ScrambleBytes(data.data(), n);
        EXPECT_EQ(0xFF, data[0]) << name;
        EXPECT_EQ(0xD8, data[1]) << name;
        EXPECT_EQ(0xFF, data[n - 2]) << name;
        EXPECT_EQ(0xD9, data[n - 1]) << name;
    }
}

TEST(Dataset, SeasonMaskIsJpeg)
{
    std::vector<uint8_t> data = ReadFileBytes(DatasetPath("SeasonMask.jpg"));
    ASSERT_GT(data.size(), (size_t)100);
    EXPECT_EQ(0xFF, data[0]);
    EXPECT_EQ(0xD8, data[1]);
}

// The shipped cities carry the ICAO code of their main airport (from the
// airport data the build fetches), and the program's own parser reads it.
TEST(Dataset, CitiesCarryTheirAirportsIcaoCodes)
{
    std::vector<uint8_t> data = ReadFileBytes(DatasetPath("Cities.txt"));
    ASSERT_GT(data.size(), (size_t)1000);
    std::string text(data.begin(), data.end());
    // The time zones resolve against the data set's own table.
    std::string folder = DatasetPath("");
    folder.pop_back();
    CopyText((char *)gApp.installRecord + INSTALL_RECORD_INSTALL_PATH, folder.c_str(),
             INSTALL_RECORD_TEXT_BYTES);
    ClearTimeZoneCache();
    int cities = 0, coded = 0;
    std::map<std::string, std::string> codes;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        std::string line = text.substr(start, end - start);
        if (line.empty() || line[0] == '#')
            continue;
        CityEntry city;
        memset(&city, 0, sizeof city);
        int parsed = ParseCityLine(line.c_str(), &city);
        ASSERT_TRUE(parsed == 0 || parsed == 7) << line;   // 7: a zone without rules
        cities++;
        if (!city.icao[0])
            continue;
        coded++;
        EXPECT_EQ(4u, strlen(city.icao)) << line;
        for (const char *c = city.icao; *c; c++)
            EXPECT_TRUE(*c >= 'A' && *c <= 'Z') << line;
        codes[std::string(city.ccode) + ";" + city.city] = city.icao;
    }
    EXPECT_GT(cities, 300);
    EXPECT_GT(coded * 10, cities * 8) << coded << " of " << cities;
    // A few the data's rules must get right: the only, the named or the
    // farther-out international airport of the city.
    EXPECT_EQ("KJFK", codes["US;New York"]);
    EXPECT_EQ("LFPG", codes["FR;Paris"]);
    EXPECT_EQ("EDDB", codes["DE;Berlin"]);
    EXPECT_EQ("KORD", codes["US;Chicago"]);
    EXPECT_EQ("RJTT", codes["JP;Tokyo"]);
}
