#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include "earth/cities.h"
#include "framework/application.h"
#include "testutil.h"

static std::string FullPath(const char *relative)
{
    char full[MAX_PATH];
    GetFullPathNameA(relative, MAX_PATH, full, 0);
    return full;
}

static void UseInstallFolder(const std::string &folder)
{
    CopyText((char *)gApp.installRecord + INSTALL_RECORD_INSTALL_PATH, folder.c_str(),
             INSTALL_RECORD_TEXT_BYTES);
    ClearTimeZoneCache();
}

static DateTimeRecord At(int day, int month, int year, int seconds)
{
    DateTimeRecord when = {year, month, day, seconds};
    return when;
}

static CityEntry *NewCity(const char *zone)
{
    static CityEntry city;
    memset(&city, 0, sizeof city);
    CopyText(city.timezone, zone, sizeof city.timezone);
    return &city;
}

// A folder holding the given tables (an empty text means no file).
static std::string TableFolder(const char *tag, const std::string &cities,
                               const std::string &zones)
{
    std::string folder = FreshTempFolder(tag);
    if (!cities.empty())
        WriteWhole(folder + "\\Cities.txt", cities);
    if (!zones.empty())
        WriteWhole(folder + "\\Timezones.txt", zones);
    UseInstallFolder(folder);
    return folder;
}

TEST(CityTime, EveryZdumpMomentGetsTzdataOffsetAndAbbreviation)
{
    UseInstallFolder(FullPath("cities"));
    FILE *f = fopen("city_zdump.txt", "r");
    ASSERT_TRUE(f != 0);
    char zone[64], abbr[16];
    int day, month, year, seconds, gmtoff, checked = 0;
    while (fscanf(f, "%63s %d %d %d %d %d %15s", zone, &day, &month, &year, &seconds, &gmtoff,
                  abbr) == 7) {
        DateTimeRecord now = At(day, month, year, seconds);
        CityEntry *city = NewCity(zone);
        ASSERT_EQ(ResolveTimeZoneAt(city, &now), 0) << zone << " " << year;
        EXPECT_EQ(city->utcoff, gmtoff) << zone << " " << day << "-" << month << "-" << year
                                        << " " << seconds;
        EXPECT_STREQ(city->tzabbr, abbr) << zone << " " << year;
        checked++;
    }
    fclose(f);
    // Two changes a year for decades in most zones; Kathmandu's one in 1986.
    EXPECT_GT(checked, 400);
}

TEST(CityTime, ZoneWithoutChangesKeepsItsOffsetFromCacheAndTable)
{
    UseInstallFolder(FullPath("cities"));
    DateTimeRecord now = At(15, 7, 2031, 3600);
    CityEntry *city = NewCity("Asia/Kathmandu");
    ASSERT_EQ(ResolveTimeZoneAt(city, &now), 0);
    EXPECT_EQ(city->utcoff, 5 * 3600 + 45 * 60);
    EXPECT_STREQ(city->tzabbr, "+0545");
    // Far past the last rule: the last rule stays in force, answered from the cache.
    now = At(1, 1, 2100, 0);
    ASSERT_EQ(ResolveTimeZoneAt(city, &now), 0);
    EXPECT_EQ(city->utcoff, 20700);
    city = NewCity("Asia/Tokyo");
    ASSERT_EQ(ResolveTimeZoneAt(city, &now), 0);
    EXPECT_EQ(city->utcoff, 9 * 3600);
    EXPECT_STREQ(city->tzabbr, "JST");
}

TEST(CityTime, ClockSetBackBeforeTheCachedRuleAnswersOneAndKeepsTheCity)
{
    UseInstallFolder(FullPath("cities"));
    DateTimeRecord summer = At(1, 7, 2024, 0), winter = At(1, 1, 2024, 0);
    CityEntry *city = NewCity("Europe/Berlin");
    ASSERT_EQ(ResolveTimeZoneAt(city, &summer), 0);
    EXPECT_EQ(city->utcoff, 7200);
    EXPECT_EQ(ResolveTimeZoneAt(city, &winter), 1);
    EXPECT_EQ(city->utcoff, 7200);
    ClearTimeZoneCache();
    ASSERT_EQ(ResolveTimeZoneAt(city, &winter), 0);
    EXPECT_EQ(city->utcoff, 3600);
    EXPECT_STREQ(city->tzabbr, "CET");
}

TEST(CityTime, UnknownZoneAndMissingTableLeaveTheCity)
{
    UseInstallFolder(FullPath("cities"));
    DateTimeRecord now = At(1, 7, 2024, 0);
    CityEntry *city = NewCity("Mars/Olympus");
    city->utcoff = 123;
    EXPECT_EQ(ResolveTimeZoneAt(city, &now), 4);
    EXPECT_EQ(city->utcoff, 123);
    UseInstallFolder(FullPath("no-such-folder"));
    EXPECT_EQ(ResolveTimeZoneAt(NewCity("Europe/Berlin"), &now), 2);
}

static const char kZones[] =
    "#Zone;Test/Short;T;seven fields\r\n"
    "1-1-2000;0:0:0;3600\r\n"
    "#Zone;Test/Late;L;starts late\r\n"
    "1-1-2050;0:0:0;3600;0;LATE\r\n"
    "#Zone;Test/Two;W;two rules, long abbreviation\r\n"
    "1-1-2000;0:0:0;3600;0;ONE\r\n"
    "1-6-2020;12:0:0;3600;1800;ABCDEFGHIJKLMNOP\r\n"
    "#Zone;Test/Short;X;duplicate name\r\n"
    "1-1-2000;0:0:0;0;0;DUP\n";

TEST(CityTime, EdgeCasesOfTheRuleTable)
{
    TableFolder("city-rules", "#;Nowhere;NW\r\n", kZones);
    DateTimeRecord now = At(1, 1, 2020, 0);
    EXPECT_EQ(ResolveTimeZoneAt(NewCity("Test/Short"), &now), 4);

    CityEntry *city = NewCity("Test/Late");
    city->utcoff = 99;
    strcpy(city->tzabbr, "OLD");
    ASSERT_EQ(ResolveTimeZoneAt(city, &now), 0);
    EXPECT_EQ(city->utcoff, 0);
    EXPECT_STREQ(city->tzabbr, "");

    city = NewCity("Test/Two");
    ASSERT_EQ(ResolveTimeZoneAt(city, &now), 0);
    EXPECT_EQ(city->utcoff, 3600);
    EXPECT_STREQ(city->tzabbr, "ONE");
    // The cached record's next rule has started: read again, new offset.
    now = At(1, 6, 2020, 12 * 3600);
    ASSERT_EQ(ResolveTimeZoneAt(city, &now), 0);
    EXPECT_EQ(city->utcoff, 5400);
    EXPECT_STREQ(city->tzabbr, "ABCDEFG");   // cut to 7 characters
    EXPECT_EQ(gTimeZoneCache.count, 2);
}

TEST(CityTables, TimeZoneListHasEveryZoneOnceAndReportsBadRules)
{
    TableFolder("city-list", "#;Nowhere;NW\r\n", kZones);
    EXPECT_EQ(FillTimeZoneList(), 4);   // the seven-field rule of the first zone
    TableFolder("city-list2", "#;Nowhere;NW\r\n", std::string(kZones).substr(std::string(kZones).find("#Zone;Test/Late")));
    ASSERT_EQ(FillTimeZoneList(), 0);
    ASSERT_EQ(gTimeZoneList.count, 3);
    EXPECT_STREQ(gTimeZoneList.data[0].name, "Test/Late");
    EXPECT_STREQ(gTimeZoneList.data[1].code, "W");
    EXPECT_STREQ(gTimeZoneList.data[1].description, "two rules, long abbreviation");
    EXPECT_STREQ(gTimeZoneList.data[2].current.abbr, "DUP");
    UseInstallFolder(FullPath("no-such-folder"));
    EXPECT_EQ(FillTimeZoneList(), 2);
}

TEST(CityDates, NormalisationCrossesYearsAndLeapDays)
{
    DateTimeRecord t = At(31, 12, 2023, 23 * 3600 + 2 * 3600);
    NormalizeDateTime(&t);
    EXPECT_EQ(t.year, 2024);
    EXPECT_EQ(t.month, 1);
    EXPECT_EQ(t.day, 1);
    EXPECT_EQ(t.seconds, 3600);
    t = At(1, 3, 2024, -1);
    NormalizeDateTime(&t);
    EXPECT_EQ(t.month, 2);
    EXPECT_EQ(t.day, 29);
    EXPECT_EQ(t.seconds, 86399);
    t = At(1, 3, 2100, -1);
    NormalizeDateTime(&t);
    EXPECT_EQ(t.day, 28);
    t = At(1, 1, 2000, -86400 * 365);
    NormalizeDateTime(&t);
    EXPECT_EQ(t.year, 1999);
    EXPECT_EQ(t.month, 1);
    EXPECT_EQ(t.day, 1);
    EXPECT_TRUE(IsLeapYear(2000));
    EXPECT_FALSE(IsLeapYear(1900));
    EXPECT_FALSE(IsLeapYear(-4));
}

static const char kCities[] =
    "#Country;Germany;DE\r\n"
    "DE;Berlin;Brandenburg;3;52.5;13.4;Europe/Berlin;EDDB\r\n"
    "DE;Bonn;;0;50.7;7.1;Europe/Berlin\r\n"
    "#Country;Chile;CL\r\n"
    "CL;Santiago;;x;-33.45;-70.66;America/Santiago;SCEL\r\n";

TEST(CityParse, FullLineFillsEveryField)
{
    std::string folder = TableFolder("city-parse", kCities, ReadWhole("cities\\Timezones.txt"));
    ASSERT_EQ(LoadCityDatabase(), 0);
    ASSERT_EQ(gCountries.count, 2);
    CityEntry *city = NewCity("");
    ASSERT_EQ(ParseCityLine("DE;Berlin;Brandenburg;3;52.5;13.4;Europe/Berlin;EDDB", city), 0);
    EXPECT_STREQ(city->country, "Germany");
    EXPECT_STREQ(city->city, "Berlin");
    EXPECT_STREQ(city->state, "Brandenburg");
    EXPECT_EQ(city->flags, 3);
    EXPECT_FLOAT_EQ(city->lat, 52.5f);
    EXPECT_FLOAT_EQ(city->lon, 13.4f);
    EXPECT_STREQ(city->icao, "EDDB");
    EXPECT_TRUE(city->utcoff == 3600 || city->utcoff == 7200);
    // No ICAO field: the code stays; a non-number flag is 0.
    ASSERT_EQ(ParseCityLine("CL;Santiago;;x;-33.45;-70.66;America/Santiago", city), 0);
    EXPECT_STREQ(city->icao, "EDDB");
    EXPECT_EQ(city->flags, 0);
    EXPECT_STREQ(city->country, "Chile");
}

TEST(CityParse, EachMissingColumnHasItsCode)
{
    TableFolder("city-codes", kCities, ReadWhole("cities\\Timezones.txt"));
    const char *lines[] = {"DE", "DE;Berlin", "DE;Berlin;Brandenburg", "DE;Berlin;B;3",
                           "DE;Berlin;B;3;52.5", "DE;Berlin;B;3;north;13.4;Europe/Berlin",
                           "DE;Berlin;B;3;52.5;east;Europe/Berlin", "DE;Berlin;B;3;52.5;13.4",
                           "DE;Berlin;B;3;52.5;13.4;", "DE;Berlin;B;3;52.5;13.4;Nowhere/City"};
    int codes[] = {1, 2, 3, 4, 5, 5, 5, 6, 6, 7};
    for (int i = 0; i < 10; i++)
        EXPECT_EQ(ParseCityLine(lines[i], NewCity("")), codes[i]) << lines[i];
    // A line ended by CR stops there like at its end.
    EXPECT_EQ(ParseCityLine("DE;Berlin\r;x;3;1;2;Europe/Berlin", NewCity("")), 2);
}

TEST(CityParse, OverlongFieldsAreCutNeverOverrun)
{
    TableFolder("city-long", kCities, ReadWhole("cities\\Timezones.txt"));
    std::string big(600, 'n');
    std::string line = "ABCDEFGHIJKLMNOP;" + big + ";" + big + ";12345678901234567890;1;2;" +
                       big + ";" + big;
    static CityEntry city;
    memset(&city, 0x55, sizeof city);
    strcpy(city.country, "kept");
    EXPECT_EQ(ParseCityLine(line.c_str(), &city), 7);
    EXPECT_STREQ(city.ccode, "ABCDEFG");
    EXPECT_EQ(strlen(city.city), 199u);
    EXPECT_EQ(strlen(city.state), 199u);
    EXPECT_EQ(strlen(city.timezone), 49u);
    EXPECT_EQ(strlen(city.icao), 7u);
    EXPECT_STREQ(city.country, "kept");   // no country of that code
    EXPECT_EQ((uint8_t)city.tzabbr[0], 0x55);   // resolution failed: untouched
}

TEST(CityTables, ListFilterAndLineReading)
{
    TableFolder("city-fill", kCities, "#Zone;A;B;C\r\n1-1-2000;0:0:0;0;0;UTC\r\n");
    CGrowArray<int> found;
    CopyText(gCityFilter, "ON", sizeof gCityFilter);
    ASSERT_EQ(FillCityList("DE", &found), 0);
    ASSERT_EQ(found.count, 1);
    EXPECT_EQ(found.data[0], 2);
    gCityFilter[0] = 0;
    ASSERT_EQ(FillCityList("DE", &found), 0);
    EXPECT_EQ(found.count, 2);
    ASSERT_EQ(FillCityList("D", &found), 0);
    EXPECT_EQ(found.count, 0);
    found.RemoveAll();
    char line[CITY_LINE_SIZE];
    ASSERT_EQ(ReadCityLine(4, line), 0);
    EXPECT_STREQ(line, "CL;Santiago;;x;-33.45;-70.66;America/Santiago;SCEL");
    EXPECT_EQ(ReadCityLine(5, line), 2);
    EXPECT_EQ(ReadCityLine(-1, line), 2);
    // A line longer than the buffer is cut.
    TableFolder("city-fill2", std::string(1000, 'x') + "\n", "");
    ASSERT_EQ(ReadCityLine(0, line), 0);
    EXPECT_EQ(strlen(line), 259u);
    UseInstallFolder(FullPath("no-such-folder"));
    EXPECT_EQ(ReadCityLine(0, line), 1);
    EXPECT_EQ(FillCityList("DE", &found), 1);
    EXPECT_EQ(LoadCityDatabase(), 1);
}

static std::vector<std::string> Lines(const LineTable &table)
{
    std::vector<std::string> lines;
    for (int i = 0; i < table.lines.count; i++)
        lines.push_back(table.lines.data[i]);
    return lines;
}

TEST(CityArchive, ArchiveGivesTheSameTablesAsTheText)
{
    const char *names[] = {"Cities", "Timezones"};
    for (int n = 0; n < 2; n++) {
        std::string base = std::string(names[n]);
        LineTable text = {0, CGrowArray<char *>()}, packed = {0, CGrowArray<char *>()};
        ASSERT_EQ(LoadLineTable(&text, ("cities\\" + base + ".txt").c_str(), 0), 0);
        ASSERT_EQ(LoadLineTable(&packed, ("cities_dat\\" + base + ".txt").c_str(),
                                ("cities_dat\\" + base + ".dat").c_str()), 0);
        EXPECT_GT(text.lines.count, 100);
        EXPECT_TRUE(Lines(text) == Lines(packed)) << base;
        FreeLineTable(&text);
        FreeLineTable(&packed);
    }
    UseInstallFolder(FullPath("cities_dat"));
    ASSERT_EQ(LoadCityDatabase(), 0);
    int countries = gCountries.count;
    DateTimeRecord now = At(1, 7, 2024, 0);
    CityEntry *city = NewCity("America/New_York");
    ASSERT_EQ(ResolveTimeZoneAt(city, &now), 0);
    EXPECT_EQ(city->utcoff, -4 * 3600);
    UseInstallFolder(FullPath("cities"));
    ASSERT_EQ(LoadCityDatabase(), 0);
    EXPECT_EQ(gCountries.count, countries);
    EXPECT_GT(countries, 100);
}

TEST(CityArchive, MissingFilesAndBrokenArchives)
{
    LineTable table = {0, CGrowArray<char *>()};
    std::string folder = FreshTempFolder("city-archive");
    std::string dat = folder + "\\Cities.dat";
    CopyFileA("cities_dat\\Cities.dat", dat.c_str(), FALSE);
    // Without the text file loading fails even though the archive exists;
    // an empty one fails the same way.
    EXPECT_EQ(LoadLineTable(&table, (folder + "\\Cities.txt").c_str(), dat.c_str()), 1);
    WriteWhole(folder + "\\Cities.txt", "");
    EXPECT_EQ(LoadLineTable(&table, (folder + "\\Cities.txt").c_str(), dat.c_str()), 1);
    UseInstallFolder(folder);
    EXPECT_EQ(LoadCityDatabase(), 1);
    WriteWhole(folder + "\\Cities.txt", "#;Extra;XX\r\n");
    EXPECT_EQ(LoadLineTable(&table, (folder + "\\Cities.txt").c_str(),
                            (folder + "\\none.dat").c_str()), 2);
    ASSERT_EQ(LoadLineTable(&table, (folder + "\\Cities.txt").c_str(), dat.c_str()), 0);
    EXPECT_STREQ(table.lines.data[0], "#;Extra;XX");
    EXPECT_GT(table.lines.count, 100);
    // Without the archive, the text alone is the table.
    UseInstallFolder(folder);
    DeleteFileA(dat.c_str());
    ASSERT_EQ(LoadCityDatabase(), 0);
    ASSERT_EQ(gCountries.count, 1);
    EXPECT_STREQ(gCountries.data[0].code, "XX");
    // A file that is no zip archive.
    WriteWhole(dat, "not a zip at all, just text that is long enough to look at");
    EXPECT_EQ(LoadLineTable(&table, (folder + "\\Cities.txt").c_str(), dat.c_str()), 2);
    EXPECT_EQ(table.text, (char *)0);
    EXPECT_EQ(table.lines.count, 0);
}

TEST(CityParse, ResolveAllCitiesStaysInsideTheCityArray)
{
    TableFolder("city-all", kCities, ReadWhole("cities\\Timezones.txt"));
    ASSERT_EQ(LoadCityDatabase(), 0);
    ASSERT_TRUE(ResizeViewList(&gViewLists[0], 1));
    ViewOptions *view = &gViewLists[0].data[0];
    CopyText(view->City[0].cityline, "DE;Bonn;;0;50.7;7.1;Europe/Berlin", 260);
    view->iCityNumber = 1000000;   // a corrupt count from a file
    ResolveAllCities();
    EXPECT_STREQ(view->City[0].city, "Bonn");
    EXPECT_STREQ(view->City[0].tzabbr[0] == 'C' ? "C" : "?", "C");
    FreeViewLists();
}

// Render threads resolve their label cities at the same time as one another
// and as the UI thread clears the cache; every answer stays right and the
// cache ends without duplicates.
struct ResolveRun {
    const char *zone;
    int expected;
    int wrong;
};

static DWORD WINAPI ResolveMany(LPVOID parameter)
{
    ResolveRun *run = (ResolveRun *)parameter;
    DateTimeRecord summer = At(1, 7, 2024, 0);
    for (int i = 0; i < 150; i++) {
        CityEntry city;
        memset(&city, 0, sizeof city);
        CopyText(city.timezone, run->zone, sizeof city.timezone);
        if (ResolveTimeZoneAt(&city, &summer) != 0 || city.utcoff != run->expected)
            run->wrong++;
    }
    return 0;
}

TEST(CityTime, ConcurrentResolvesAndClearsKeepTheCacheSound)
{
    UseInstallFolder(FullPath("cities"));
    ResolveRun runs[4] = {{"Europe/Berlin", 7200, 0}, {"America/New_York", -4 * 3600, 0},
                          {"Asia/Tokyo", 9 * 3600, 0}, {"Asia/Kathmandu", 20700, 0}};
    HANDLE threads[4];
    for (int i = 0; i < 4; i++)
        threads[i] = CreateThread(0, 0, ResolveMany, &runs[i], 0, 0);
    for (int i = 0; i < 40; i++) {
        ClearTimeZoneCache();
        Sleep(1);
    }
    WaitForMultipleObjects(4, threads, TRUE, 60000);
    for (int i = 0; i < 4; i++) {
        CloseHandle(threads[i]);
        EXPECT_EQ(runs[i].wrong, 0) << runs[i].zone;
    }
    for (int i = 0; i < gTimeZoneCache.count; i++)
        for (int j = i + 1; j < gTimeZoneCache.count; j++)
            EXPECT_STRNE(gTimeZoneCache.data[i].name, gTimeZoneCache.data[j].name);
}
