// Settings schema: the exact keys and value forms of saved stores (pinned by
// golden files), round trips of every record, partial and hostile stores,
// and the conversion of old raw records built here byte by byte.
#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "earth/settings.h"
#include "framework/application.h"
#include "framework/configstore.h"
#include "framework/recordfile.h"
#include "testutil.h"

// ---------------------------------------------------------------- helpers

static const double kPi = 3.14159265358979323846;

// A store's text with each NUL CR LF line end shown as a newline.
static std::string Lines(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text.compare(i, 3, std::string("\0\r\n", 3)) == 0) {
            out += '\n';
            i += 2;
        } else {
            out += text[i] ? text[i] : '?';
        }
    }
    return out;
}

static std::string StoreLines(const std::string &path, int *version = 0)
{
    CConfigStore store(0, "");
    if (store.LoadFile(path.c_str()) < 0)
        return "<no store>";
    if (version)
        *version = store.version;
    return Lines(std::string(store.text.data, store.text.count));
}

// Writes "key=value" lines as a store, keys exactly as given.
static void WriteStore(const std::string &path, const std::vector<std::string> &lines)
{
    CConfigStore store(400, "");
    for (const std::string &line : lines) {
        size_t eq = line.find('=');
        CopyText(store.key, line.substr(0, eq).c_str(), sizeof store.key);
        store.AppendEntry(line.c_str() + eq + 1);
    }
    ASSERT_GT(store.SaveFile(path.c_str()), 0) << path;
}

// Golden files live beside this source; on a mismatch the actual text is left
// in the test's working folder for review.
static void ExpectGolden(const std::string &actual, const char *name)
{
    std::string path = std::string(VT_SOURCE_DIR) + "/tests/earth/" + name;
    std::string golden = ReadWhole(path);
    if (golden.compare(0, 9, "<missing ") == 0)
        golden = ReadWhole("Z:" + path);
    if (actual != golden)
        WriteWhole(std::string(name) + ".actual", actual);
    EXPECT_EQ(actual, golden) << "see " << name << ".actual";
}

static void Put32(std::vector<uint8_t> &r, int at, int32_t v) { memcpy(&r[at], &v, 4); }
static void Put64(std::vector<uint8_t> &r, int at, int64_t v) { memcpy(&r[at], &v, 8); }
static void PutF32(std::vector<uint8_t> &r, int at, float v) { memcpy(&r[at], &v, 4); }
static void PutF64(std::vector<uint8_t> &r, int at, double v) { memcpy(&r[at], &v, 8); }
static void PutText(std::vector<uint8_t> &r, int at, const char *s) { memcpy(&r[at], s, strlen(s)); }

static void WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes)
{
    WriteWhole(path, std::string(bytes.begin(), bytes.end()));
}

// A fresh data folder per test, gPrefs at its defaults.
class Settings : public ::testing::Test {
protected:
    std::string folder;
    ViewList list;

    void SetUp() override
    {
        folder = FreshTempFolder(std::string("settings-") +
                                 testing::UnitTest::GetInstance()->current_test_info()->name());
        CopyText(gApp.dataFolder, folder.c_str(), MAX_TEXT);
        gPrefs = kDefaultPrefs;
    }
    void TearDown() override
    {
        list.RemoveAll();
        RemoveTree(folder);
    }
    std::string Path(const char *name) { return folder + "\\" + name; }
    ViewOptions *OneView(int which)
    {
        EXPECT_TRUE(ResizeViewList(&list, 1));
        SetDefaultView(&list.data[0], which);
        return &list.data[0];
    }
};

// ---------------------------------------------------------------- keys and value forms

TEST_F(Settings, PrefsStoreHoldsExactlyTheGoldenKeys)
{
    ASSERT_EQ(PrefsIO(1), 0);
    int version = 0;
    ExpectGolden(StoreLines(Path("Preferences.rgc"), &version), "golden_prefs.txt");
    EXPECT_EQ(version, SETTINGS_STORE_VERSION);
}

TEST_F(Settings, ViewStoreHoldsExactlyTheGoldenKeys)
{
    ViewOptions *v = OneView(VIEW_LIST_WALLPAPER);
    v->iCamSteps = 2;
    v->sCamPath[0] = {0.5, -1.25, 1.0, 0};
    v->sCamPath[1] = {-0.25, 2.0, 1.5, 60};
    v->sCamPath[2] = {9, 9, 9, 9};   // past iCamSteps: not stored
    v->iCityNumber = 1;
    CityEntry *c = &v->City[0];
    strcpy(c->cityline, "Oslo;NO;59.91;10.75");
    strcpy(c->text, "#CCC #TTM");
    strcpy(c->city, "Oslo");
    c->lat = 59.91f;
    c->crtext[1] = 0x00FFFFFF;
    c->fontsize = 10;
    c->lupd = 1700000000123LL;
    c->shown = 5;   // never stored
    ASSERT_EQ(ViewOptionsIO(1, &list, "%s\\%s.rgc", folder.c_str(), "Options0"), 0);
    std::string text = StoreLines(Path("Options0.rgc"));
    ExpectGolden(text, "golden_view.txt");
    // The one hexadecimal byte, spelled out (the golden file has the rest).
    EXPECT_NE(text.find("\n[0].iCloudsShadow=64\n"), std::string::npos);
}

TEST_F(Settings, ScreenSaverDefaultsDifferOnlyWhereListed)
{
    const ViewOptions *wallpaper = DefaultView(0), *saver = DefaultView(1);
    EXPECT_EQ(wallpaper->iPrjType, 1);
    EXPECT_EQ(saver->iPrjType, 0);
    EXPECT_EQ(saver->iViewMode, 1);
    EXPECT_DOUBLE_EQ(saver->dVSLon, 1.570796327);
    EXPECT_EQ(saver->bBackground + saver->iBGMode + saver->bStars, 3);
    ViewOptions *copy = (ViewOptions *)malloc(sizeof(ViewOptions));
    memcpy(copy, saver, sizeof *copy);
    copy->iPrjType = 1;
    copy->iViewMode = 0;
    copy->dVSLon = 0;
    copy->bBackground = copy->iBGMode = copy->bStars = 0;
    EXPECT_EQ(memcmp(copy, wallpaper, sizeof *copy), 0);
    free(copy);
}

TEST_F(Settings, EmptyCountsStoreNoCityOrCameraKeys)
{
    OneView(VIEW_LIST_SCREENSAVER);
    ASSERT_EQ(ViewOptionsIO(1, &list, "%s\\Options1.rgc", folder.c_str()), 0);
    std::string text = StoreLines(Path("Options1.rgc"));
    EXPECT_EQ(text.find("City["), std::string::npos);
    EXPECT_EQ(text.find("sCamPath"), std::string::npos);
    EXPECT_EQ(text.substr(0, 8), "Views=1\n");
}

// ---------------------------------------------------------------- round trips

// Every field set away from both default records; texts fill their whole
// buffer so that a cut shows. Counts become 3, within their arrays.
static int gNext;
static int Next() { return ++gNext; }
static void FillText(char *text, int size)
{
    int start = Next();
    for (int i = 0; i < size - 1; i++)
        text[i] = (char)('a' + (start + i) % 26);
    text[size - 1] = 0;
}
#define AWAY_FLAG(f) f = !f;
#define AWAY_I8(f) f = (int8_t)(101 + Next() % 20);
#define AWAY_HEX8(f) f = (uint8_t)(0xC0 + Next() % 0x30);
#define AWAY_I32(f) f = -100000 - Next() * 7;
#define AWAY_COLOR(f) f = 0x80123400u + Next();
#define AWAY_F32(f) f = Next() + 0.375f;
#define AWAY_F64(f) f = Next() + 0.123456789012;
#define AWAY_TIME(f) f = 4000000000LL + Next();
#define AWAY_FIELD(kind, name, ...) AWAY_##kind(r->name)
#define AWAY_TEXT(name, size, ...) FillText(r->name, size);
#define AWAY_TEXTS(name, count, size, ...) \
    for (int i = 0; i < count; i++) FillText(r->name[i], size);
#define AWAY_ARRAY(kind, name, count, ...) \
    for (int i = 0; i < count; i++) AWAY_##kind(r->name[i])
#define AWAY_POINTS(type, name, count, ...) \
    for (int i = 0; i < count; i++) AWAY_F64(r->name.p[i])
#define AWAY_CAL(calendar, name) r->calendar.name = 1000 + Next();
#define AWAY_CALENDAR(name) CALENDAR_FIELDS(AWAY_CAL, name)
#define AWAY_COUNT(kind, name, max, ...) r->name = 3;
#define AWAY_POINT(prefix, kind, name) AWAY_##kind(p->name)
#define AWAY_CAMERA(name, count, counter)                         \
    for (int j = 0; j < r->counter; j++) {                        \
        CameraPoint *p = &r->name[j];                             \
        CAMERA_POINT_FIELDS(AWAY_POINT, )                         \
    }
#define AWAY_CITIES(name, count, counter) \
    for (int j = 0; j < r->counter; j++) SetCityAway(&r->name[j]);
#define AWAY_LOCAL(kind, name)

static void SetCityAway(CityEntry *r)
{
    CITY_FIELDS(AWAY_FIELD, AWAY_TEXT, AWAY_ARRAY, AWAY_TEXTS, AWAY_LOCAL)
    r->maxline = 5;   // an index into the eight lines
}

static void SetViewAway(ViewOptions *r)
{
    VIEW_FIELDS(AWAY_FIELD, AWAY_TEXT, AWAY_ARRAY, AWAY_POINTS, AWAY_CALENDAR, AWAY_COUNT,
                AWAY_CAMERA, AWAY_CITIES)
}

TEST_F(Settings, PrefsRoundTripEveryField)
{
    PrefsRecord *r = &gPrefs;
    PREFS_FIELDS(AWAY_FIELD, AWAY_TEXT, AWAY_TEXTS)
    PrefsRecord saved = gPrefs;
    ASSERT_EQ(PrefsIO(1), 0);
    gPrefs = kDefaultPrefs;
    ASSERT_EQ(PrefsIO(0), 0);
    EXPECT_EQ(memcmp(&gPrefs, &saved, sizeof saved), 0);
}

TEST_F(Settings, ViewListRoundTripEveryField)
{
    ASSERT_TRUE(ResizeViewList(&list, 2));
    for (int i = 0; i < 2; i++) {
        SetDefaultView(&list.data[i], i);
        SetViewAway(&list.data[i]);
    }
    ASSERT_EQ(ViewOptionsIO(1, &list, "%s\\Options0.rgc", folder.c_str()), 0);
    ViewList loaded;
    ASSERT_TRUE(ResizeViewList(&loaded, 2));
    SetDefaultView(&loaded.data[0], 0);
    SetDefaultView(&loaded.data[1], 1);
    ASSERT_EQ(ViewOptionsIO(0, &loaded, "%s\\Options0.rgc", folder.c_str()), 0);
    ASSERT_EQ(loaded.count, 2);
    for (int i = 0; i < 2; i++)
        EXPECT_EQ(memcmp(&loaded.data[i], &list.data[i], sizeof(ViewOptions)), 0) << i;
    loaded.RemoveAll();
}

TEST_F(Settings, CameraPathAndProfileRoundTrip)
{
    CameraPath path = {}, loaded = {};
    for (int i = 0; i < CAMERA_PATH_POINTS; i++) {
        CameraPoint *p = &path[i];
        CAMERA_POINT_FIELDS(AWAY_POINT, )
    }
    ASSERT_EQ(CameraPathIO(1, path, "%s\\%s.vtc", folder.c_str(), "Trip"), 0);
    ASSERT_EQ(CameraPathIO(0, loaded, "%s\\Trip.vtc", folder.c_str()), 0);
    EXPECT_EQ(memcmp(loaded, path, sizeof path), 0);

    ProfileSettings settings = {}, back = {};
    ProfileSettings *r = &settings;
    PROFILE_FIELDS(AWAY_FIELD)
    ASSERT_EQ(ProfileSettingsIO(1, &settings, "%s\\Profile-%s\\%s.rgc", folder.c_str(), "Work",
                                "Settings"),
              0);
    ASSERT_EQ(ProfileSettingsIO(0, &back, "%s\\Profile-Work\\Settings.rgc", folder.c_str()), 0);
    EXPECT_EQ(memcmp(&back, &settings, sizeof back), 0);
    EXPECT_EQ(StoreLines(Path("Profile-Work\\Settings.rgc")).substr(0, 12), ".scrtrigger=");
    back.scrx = 77;
    EXPECT_EQ(ProfileSettingsIO(0, &back, "%s\\Profile-None\\Settings.rgc", folder.c_str()), 1);
    EXPECT_EQ(back.scrx, 77);
}

// ---------------------------------------------------------------- partial stores

TEST_F(Settings, PartialPrefsStoreKeepsEveryOtherField)
{
    WriteStore(Path("Preferences.rgc"), {"iProxyPort=3128", "szCloudsUrl[2]=http://x/y"});
    strcpy(gPrefs.szCurProfile, "Mine");   // a prior value that is not the default
    PrefsRecord expected = gPrefs;
    expected.iProxyPort = 3128;
    strcpy(expected.szCloudsUrl[2], "http://x/y");
    ASSERT_EQ(PrefsIO(0), 0);
    // szCloudsUrl[2] was longer before: compare it as text, the rest bytewise.
    EXPECT_STREQ(gPrefs.szCloudsUrl[2], "http://x/y");
    strcpy(gPrefs.szCloudsUrl[2], kDefaultPrefs.szCloudsUrl[2]);
    strcpy(expected.szCloudsUrl[2], kDefaultPrefs.szCloudsUrl[2]);
    EXPECT_EQ(memcmp(&gPrefs, &expected, sizeof expected), 0);
}

TEST_F(Settings, MoreViewsThanTheListAreZeroFilled)
{
    ASSERT_TRUE(ResizeViewList(&list, 3));
    memset(&list.data[1], 0xAB, 2 * sizeof(ViewOptions));   // left by a longer list
    list.count = 1;
    SetDefaultView(&list.data[0], VIEW_LIST_WALLPAPER);
    WriteStore(Path("Options0.rgc"), {"Views=3", "[0].iMapW=5", "[2].iMapW=777"});
    ASSERT_EQ(ViewOptionsIO(0, &list, "%s\\Options0.rgc", folder.c_str()), 0);
    ASSERT_EQ(list.count, 3);
    EXPECT_EQ(list.data[0].iMapW, 5);
    EXPECT_EQ(list.data[0].iMapH, 2160);
    std::vector<uint8_t> zero(sizeof(ViewOptions), 0);
    EXPECT_EQ(memcmp(&list.data[1], zero.data(), zero.size()), 0);
    list.data[2].iMapW = 0;
    EXPECT_EQ(memcmp(&list.data[2], zero.data(), zero.size()), 0);

    WriteStore(Path("Options1.rgc"), {"Vie=1"});   // no "NumViews": the list stays
    EXPECT_EQ(ViewOptionsIO(0, &list, "%s\\Options1.rgc", folder.c_str()), 1);
    EXPECT_EQ(list.count, 3);
}

TEST_F(Settings, CameraPathStopsAtTheFirstEndPoint)
{
    CameraPath path = {};
    path[0].time = -1;
    path[1].time = 5;
    ASSERT_EQ(CameraPathIO(1, path, "%s\\One.vtc", folder.c_str()), 0);
    EXPECT_EQ(StoreLines(Path("One.vtc")), "[0].lat=0.0\n[0].lon=0.0\n[0].zoom=0.0\n[0].time=-1\n");

    WriteStore(Path("Two.vtc"),
               {"[0].time=3", "[1].lat=0.5", "[1].time=-1", "[2].lat=9", "[2].time=8"});
    CameraPath loaded = {};
    loaded[2].time = 42;
    ASSERT_EQ(CameraPathIO(0, loaded, "%s\\Two.vtc", folder.c_str()), 0);
    EXPECT_EQ(loaded[0].time, 3);
    EXPECT_EQ(loaded[1].lat, 0.5);
    EXPECT_EQ(loaded[2].time, 42);
    EXPECT_EQ(loaded[2].lat, 0.0);
    EXPECT_EQ(CameraPathIO(0, loaded, "%s\\Missing.vtc", folder.c_str()), 2);
}

// ---------------------------------------------------------------- hostile counts

TEST_F(Settings, AbsurdStoredCountsAreClamped)
{
    WriteStore(Path("Options0.rgc"),
               {"Views=2000000000", "[0].iCamSteps=100", "[0].sCamPath[31].time=7",
                "[0].iCityNumber=100000", "[0].City[0].maxline=99", "[0].City[255].city=Last",
                "[0].City[256].city=Beyond", "[1].iCamSteps=-3", "[1].iCityNumber=-7"});
    ASSERT_EQ(ViewOptionsIO(0, &list, "%s\\Options0.rgc", folder.c_str()), 0);
    ASSERT_EQ(list.count, VIEW_LIST_MAX);
    ASSERT_GE(list.capacity, VIEW_LIST_MAX);
    ViewOptions *v = &list.data[0];
    EXPECT_EQ(v->iCamSteps, CAMERA_PATH_POINTS);
    EXPECT_EQ(v->sCamPath[31].time, 7);
    EXPECT_EQ(v->iCityNumber, VIEW_CITIES);
    EXPECT_EQ(v->City[0].maxline, CITY_LABEL_LINES - 1);
    EXPECT_STREQ(v->City[255].city, "Last");
    EXPECT_EQ(list.data[1].iCamSteps, 0);
    EXPECT_EQ(list.data[1].iCityNumber, 0);

    // A record past its bounds saves as clamped and stays as it was.
    list.count = 1;
    v->iCamSteps = 100;
    v->iCityNumber = 9999;
    ASSERT_EQ(ViewOptionsIO(1, &list, "%s\\Options1.rgc", folder.c_str()), 0);
    std::string text = StoreLines(Path("Options1.rgc"));
    EXPECT_NE(text.find("\n[0].iCamSteps=32\n"), std::string::npos);
    EXPECT_NE(text.find("\n[0].iCityNumber=256\n"), std::string::npos);
    EXPECT_NE(text.find("\n[0].City[255].city=Last\n"), std::string::npos);
    EXPECT_EQ(text.find("sCamPath[32]"), std::string::npos);
    EXPECT_EQ(v->iCityNumber, 9999);

    WriteStore(Path("Options2.rgc"), {"Views=-4"});
    ASSERT_EQ(ViewOptionsIO(0, &list, "%s\\Options2.rgc", folder.c_str()), 0);
    EXPECT_EQ(list.count, 0);
}

// With the address space used up, growing the list fails and leaves it whole.
TEST_F(Settings, FailedAllocationLeavesTheListAsItWas)
{
    OneView(VIEW_LIST_WALLPAPER);
    WriteStore(Path("Options0.rgc"), {"Views=64", "[63].iMapW=1"});
    ViewOptions *data = list.data;
    int capacity = list.capacity;
    std::vector<void *> hog;
    hog.reserve(8192);
    for (size_t size = 64 << 20; size >= (1 << 20); size /= 4)
        for (void *p; hog.size() < hog.capacity() && (p = malloc(size));)
            hog.push_back(p);
    for (int i = 0; i < 4 && !hog.empty(); i++) {   // room for the store itself
        free(hog.back());
        hog.pop_back();
    }
    int result = ViewOptionsIO(0, &list, "%s\\Options0.rgc", folder.c_str());
    for (void *p : hog)
        free(p);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(list.count, 1);
    EXPECT_EQ(list.capacity, capacity);
    EXPECT_EQ(list.data, data);
}

// ---------------------------------------------------------------- old raw records

static std::vector<uint8_t> OldPrefs()
{
    std::vector<uint8_t> r(5320, 0);
    r[8] = 1;                        // bAutoStart
    Put32(r, 12, 25);                // iAutoStartDelay
    r[16] = 0;                       // bShowMain
    r[23] = 0;                       // bForceWPUpdate
    Put32(r, 24, -90);               // iTimeBias
    Put32(r, 56, 12);                // iCloudsInterval
    PutText(r, 192, "proxy.local");  // szProxyServer
    Put32(r, 452, 3128);
    r[457] = 1;                      // bProxyAuth
    PutText(r, 522, "secret");       // szProxyPass
    Put32(r, 592, 2);                // iWeatherInterval, hours
    Put32(r, 600, 5);                // iWeatherValid, hours
    memset(&r[604], 'k', 260);       // szWeatherApiKey with no terminator
    PutText(r, 868 + 3 * 1040, "http://old/clouds.dat");
    PutText(r, 5028, "Tue, 01 Jan 2008");
    Put64(r, 5288, 1199145600LL);
    Put64(r, 5312, 1199149200LL);
    return r;
}

TEST_F(Settings, OldPrefsRecordIsConvertedOnce)
{
    gPrefs.iWindUnits = 3;
    gPrefs.iMetarSource = 1;
    strcpy(gPrefs.szMetarURL, "http://mine");
    gPrefs.tMetarDown = 99;
    WriteBytes(Path("Preferences.rgc"), OldPrefs());
    ASSERT_EQ(PrefsIO(0), 0);
    EXPECT_EQ(gPrefs.bAutoStart, 1);
    EXPECT_EQ(gPrefs.iAutoStartDelay, 25);
    EXPECT_EQ(gPrefs.bShowMain, 0);
    EXPECT_EQ(gPrefs.bForceWPUpdate, 0);
    EXPECT_EQ(gPrefs.iTimeBias, -90);
    EXPECT_EQ(gPrefs.iCloudsInterval, 12);
    EXPECT_STREQ(gPrefs.szProxyServer, "proxy.local");
    EXPECT_EQ(gPrefs.iProxyPort, 3128);
    EXPECT_EQ(gPrefs.bProxyAuth, 1);
    EXPECT_STREQ(gPrefs.szProxyPass, "secret");
    EXPECT_EQ(gPrefs.iWeatherInterval, 120);
    EXPECT_EQ(gPrefs.iWeatherValid, 300);
    EXPECT_EQ(strlen(gPrefs.szWeatherApiKey), 259u);
    EXPECT_STREQ(gPrefs.szCloudsUrl[3], "http://old/clouds.dat");
    EXPECT_STREQ(gPrefs.szModified, "Tue, 01 Jan 2008");
    EXPECT_EQ(gPrefs.tCloudsDown, 1199145600LL);
    EXPECT_EQ(gPrefs.tWeatherCheck, 1199149200LL);
    EXPECT_EQ(gPrefs.iWindUnits, 0);
    EXPECT_EQ(gPrefs.iMetarSource, 0);
    EXPECT_STREQ(gPrefs.szMetarURL, DEFAULT_METAR_URL);
    EXPECT_EQ(gPrefs.tMetarDown, 0);
    std::string text = StoreLines(Path("Preferences.rgc"));
    EXPECT_NE(text.find("\niWeatherInterval=120\n"), std::string::npos) << text;

    // Now a store: a second load reads it and does not convert again.
    gPrefs = kDefaultPrefs;
    ASSERT_EQ(PrefsIO(0), 0);
    EXPECT_EQ(gPrefs.iWeatherInterval, 120);
}

TEST_F(Settings, OldPrefsRecordOfTheWrongSizeIsLeftAlone)
{
    std::vector<uint8_t> r = OldPrefs();
    r.pop_back();
    WriteBytes(Path("Preferences.rgc"), r);
    EXPECT_EQ(PrefsIO(0), 2);
    EXPECT_EQ(memcmp(&gPrefs, &kDefaultPrefs, sizeof gPrefs), 0);
    EXPECT_EQ(ReadWhole(Path("Preferences.rgc")).size(), 5319u);
    DeleteFileA(Path("Preferences.rgc").c_str());
    EXPECT_EQ(PrefsIO(0), 2);
}

enum { OLD_VIEW = 939312, OLD_CITY0 = 1048, OLD_CITY = 3664 };

static std::vector<uint8_t> OldView()
{
    std::vector<uint8_t> r(OLD_VIEW, 0);
    PutText(r, 8, "Topo (5 km)");                      // szMap
    Put32(r, 8 + 64, 8640);                            // iMapW
    Put32(r, 8 + 100, 13);                             // tTime.tm_hour
    Put64(r, 8 + 128, 1234567890123LL);                // tLastUpdate
    Put32(r, 8 + 228, 599);                            // iClpArea[3]
    PutF64(r, 8 + 248, 0.75);                          // sSelScr.p[2]
    PutF64(r, 296, 0.25);                              // sSelMap.p[1]
    PutF64(r, 304, 2.5);                               // dSMpZoom
    r[315] = 3;                                        // iViewMode
    PutF64(r, 328, -1.5);                              // dVSLon
    r[337] = 100;                                      // iCamSteps, past the 20 points
    PutF64(r, 344 + 19 * 32 + 8, 0.125);               // point 19 lon
    Put32(r, 344 + 19 * 32 + 24, -1);                  // point 19 time
    r[984] = 0;                                        // bDay
    r[996] = 77;                                       // iIHaloIntensity
    Put32(r, 1004, 0x00010203);                        // crIHalo
    r[1020] = (uint8_t)-55;                            // iNightSaturation
    Put32(r, 1028, 150);                               // iNightPol
    r[1035] = 0xC8;                                    // iCloudsShadow
    r[1036] = 1;                                       // bCities
    Put32(r, 1040, 2);                                 // iCityNumber
    int c0 = OLD_CITY0, c1 = OLD_CITY0 + OLD_CITY;
    PutText(r, c0 + 0, "Oslo;NO");                     // cityline
    Put32(r, c0 + 260, 1);                             // maxline
    PutText(r, c0 + 264, "#CC #TI #WS");               // text
    PutText(r, c0 + 524 + 260, "second line");         // line[1]
    Put32(r, c0 + 2636 + 4, 14);                       // lihi[1]
    PutText(r, c0 + 3226, "CET");                      // tzabbr
    PutF32(r, c0 + 3236, 59.91f);                      // lat
    Put32(r, c0 + 3248, 3600);                         // utcoff
    Put32(r, c0 + 3256, 12);                           // weatherdescr
    Put32(r, c0 + 3300, 0x00112233);                   // crbackground
    PutText(r, c0 + 3313, "Tahoma");                   // font
    r[c0 + 3577] = 9;                                  // arrowsize
    PutText(r, c1 + 2668, "Lima");                     // city
    r[939032] = 1;                                     // background flag
    Put32(r, 939036, 0x00445566);                      // background colour
    r[939040] = 1;                                     // background-image flag
    PutText(r, 939041, "C:\\bg.jpg");
    r[939302] = 1;                                     // bStars
    r[939303] = 90;                                    // stars brightness
    r[939304] = 60;                                    // stars density
    return r;
}

TEST_F(Settings, OldViewRecordIsConvertedIntoOneView)
{
    ASSERT_TRUE(ResizeViewList(&list, 3));
    WriteBytes(Path("Options0.rgc"), OldView());
    ASSERT_EQ(ViewOptionsIO(0, &list, "%s\\Options0.rgc", folder.c_str()), 0);
    ASSERT_EQ(list.count, 1);
    const ViewOptions *v = &list.data[0];
    EXPECT_STREQ(v->szMap, "Topo (5 km)");
    EXPECT_EQ(v->iMapW, 8640);
    EXPECT_EQ(v->tTime.tm_hour, 13);
    EXPECT_EQ(v->tLastUpdate, 1234567890123LL);
    EXPECT_EQ(v->iClpArea[3], 599);
    EXPECT_EQ(v->sSelScr.p[2], 0.75);
    EXPECT_EQ(v->sSelMap.p[1], 0.25);
    EXPECT_EQ(v->dSMpZoom, 2.5);
    EXPECT_EQ(v->iViewMode, 3);
    EXPECT_EQ(v->dVSLon, -1.5);
    EXPECT_EQ(v->iCamSteps, 20);
    EXPECT_EQ(v->sCamPath[19].lon, 0.125);
    EXPECT_EQ(v->sCamPath[19].time, -1);
    EXPECT_EQ(v->bDay, 0);
    EXPECT_EQ(v->iIHaloIntensity, 77);
    EXPECT_EQ(v->crIHalo, 0x00010203u);
    EXPECT_EQ(v->iNightSaturation, -55);
    EXPECT_EQ(v->iNightPol, 150);
    EXPECT_EQ(v->iCloudsShadow, 0xC8);
    EXPECT_EQ(v->bCities, 1);
    ASSERT_EQ(v->iCityNumber, 2);
    const CityEntry *c = &v->City[0];
    EXPECT_STREQ(c->cityline, "Oslo;NO");
    EXPECT_EQ(c->maxline, 1);
    EXPECT_STREQ(c->text, "#CCC #TTM #WSS16");
    EXPECT_STREQ(c->line[1], "second line");
    EXPECT_EQ(c->lihi[1], 14);
    EXPECT_STREQ(c->tzabbr, "CET");
    EXPECT_EQ(c->lat, 59.91f);
    EXPECT_EQ(c->utcoff, 3600);
    EXPECT_STREQ(c->icao, "");
    EXPECT_STREQ(c->metar, "");
    EXPECT_EQ(c->weatherdescr, WEATHER_ROW_NOT_AVAILABLE);
    EXPECT_EQ(c->crbackground[0], 0x00112233u);
    EXPECT_EQ(c->crbackground[1], 0x00112233u);
    EXPECT_STREQ(c->font, "Tahoma");
    EXPECT_EQ(c->arrowsize, 9);
    EXPECT_STREQ(v->City[1].city, "Lima");
    EXPECT_EQ(v->bBackground, 1);
    EXPECT_EQ(v->crBackground, 0x00445566u);
    EXPECT_EQ(v->iBGMode, 2);
    EXPECT_EQ(v->iBGImgMode, 3);
    EXPECT_STREQ(v->szBGImage, "C:\\bg.jpg");
    EXPECT_EQ(v->bStars, 1);
    EXPECT_EQ(v->iStarsBrightness, 63);   // 90 x 0.7, exactly
    EXPECT_EQ(v->iStarsDensity, 60);
    // Saved in key form at once.
    EXPECT_EQ(StoreLines(Path("Options0.rgc")).substr(0, 8), "Views=1\n");
}

TEST_F(Settings, OldViewRecordEdgeCases)
{
    std::vector<uint8_t> r = OldView();
    Put32(r, 1040, 5000);   // iCityNumber past the 256 records
    r[939040] = 0;          // no background image
    WriteBytes(Path("Options0.rgc"), r);
    ASSERT_EQ(ViewOptionsIO(0, &list, "%s\\Options0.rgc", folder.c_str()), 0);
    ASSERT_EQ(list.count, 1);
    EXPECT_EQ(list.data[0].iCityNumber, VIEW_CITIES);
    EXPECT_EQ(list.data[0].iBGMode, 0);

    r.push_back(0);         // one byte too many
    WriteBytes(Path("Options1.rgc"), r);
    EXPECT_EQ(ViewOptionsIO(0, &list, "%s\\Options1.rgc", folder.c_str()), 2);
    EXPECT_EQ(ViewOptionsIO(0, &list, "%s\\Options9.rgc", folder.c_str()), 2);
    EXPECT_EQ(list.count, 1);
}

TEST_F(Settings, OldCameraPathFileIsConverted)
{
    std::vector<uint8_t> r(3 * 32, 0);
    PutF64(r, 0, 0.5);
    Put32(r, 24, 10);
    PutF64(r, 32 + 16, 2.0);
    Put32(r, 32 + 24, -1);
    Put32(r, 64 + 24, 99);   // after the end: not taken
    WriteBytes(Path("Old.vtc"), r);
    CameraPath path = {};
    ASSERT_EQ(CameraPathIO(0, path, "%s\\Old.vtc", folder.c_str()), 0);
    EXPECT_EQ(path[0].lat, 0.5);
    EXPECT_EQ(path[0].time, 10);
    EXPECT_EQ(path[1].zoom, 2.0);
    EXPECT_EQ(path[1].time, -1);
    EXPECT_EQ(path[2].time, 0);
    EXPECT_NE(StoreLines(Path("Old.vtc")).find("[1].time=-1\n"), std::string::npos);

    WriteBytes(Path("Odd.vtc"), std::vector<uint8_t>(33, 0));   // not whole points
    EXPECT_EQ(CameraPathIO(0, path, "%s\\Odd.vtc", folder.c_str()), 2);
}

TEST_F(Settings, BuiltinCameraPathsAreWrittenInRadians)
{
    ASSERT_EQ(SaveBuiltinCameraPaths(), 0);
    CameraPath path = {};
    ASSERT_EQ(CameraPathIO(0, path, "%s\\Around the Equator.vtc", folder.c_str()), 0);
    EXPECT_NEAR(path[0].lon, -kPi, 1e-14);   // stored with 15 digits
    EXPECT_NEAR(path[1].lon, kPi, 1e-14);
    EXPECT_EQ(path[1].zoom, 1.0);
    EXPECT_EQ(path[1].time, 60);
    EXPECT_EQ(path[2].time, -1);
    EXPECT_EQ(path[2].zoom, 0.0);
    ASSERT_EQ(CameraPathIO(0, path, "%s\\Around the World in 80 Minutes.vtc", folder.c_str()), 0);
    EXPECT_NEAR(path[18].lat, 51.5 * kPi / 180, 1e-14);
    EXPECT_EQ(path[19].time, -1);
}

// ---------------------------------------------------------------- label tokens

TEST(LabelTokens, EveryOldTokenGetsItsNewName)
{
    char text[LABEL_TEXT_SIZE];
    strcpy(text, "#CC#CI #ST #CO #TI #T2 #TM #TZ #DD #DT #DM #DY #MO #YR #WD #WF #WT #WM #WW "
                 "#W1 #W2 #WR #WH #WP #JL #JR #WS #WL #WI");
    RenameLabelTokens(text);
    EXPECT_STREQ(text, "#CCC#CCI #CST #CCO #TTM #T24 #TAP #TTZ #DDD #DDT #DMM #DDY #DMO #DYR "
                       "#DW3 #DWD #WTP #WDS #WW1 #WW1 #WW4 #WWD #WHU #WAP #LJL #LJR #WSS16 "
                       "#WSS32 #WSS24");
    strcpy(text, "#CC#CC#TI");   // each new token holds or follows its old one
    RenameLabelTokens(text);
    EXPECT_STREQ(text, "#CCC#CCC#TTM");
}

TEST(LabelTokens, RenamingStopsAtTheBuffer)
{
    char buffer[LABEL_TEXT_SIZE + 8];
    memset(buffer, 'G', sizeof buffer);   // guard bytes after the 260
    std::string text;
    while (text.size() + 3 <= LABEL_TEXT_SIZE - 2)
        text += "#CC";                     // 86 tokens, 258 characters
    memcpy(buffer, text.c_str(), text.size() + 1);
    RenameLabelTokens(buffer);
    EXPECT_EQ(strlen(buffer), (size_t)LABEL_TEXT_SIZE - 1);
    EXPECT_EQ(std::string(buffer, 4), "#CCC");
    EXPECT_EQ(std::string(buffer + LABEL_TEXT_SIZE, 8), "GGGGGGGG");
}

// ---------------------------------------------------------------- interop

// Info-ZIP opens a saved preferences store with the store password and finds
// exactly the golden lines.
TEST(SettingsInterop, UnzipReadsThePrefsStore)
{
    RemoveTree("settings-unzip");
    CreateDirectoryA("settings-unzip", 0);
    CopyText(gApp.dataFolder, "settings-unzip", MAX_TEXT);
    gPrefs = kDefaultPrefs;
    ASSERT_EQ(PrefsIO(1), 0);
    std::string report;
    int ran = RunHostScript("settings-unzip",
                            std::string("unzip -p -P ") + kConfigPassword +
                                " Preferences.rgc > text.out",
                            &report);
    VT_REQUIRE_OR_SKIP(ran != 1, "Wine cannot start host programs here");
    ASSERT_EQ(ran, 0) << report;
    ExpectGolden(Lines(ReadWhole("settings-unzip\\text.out")), "golden_prefs.txt");
    RemoveTree("settings-unzip");
}
