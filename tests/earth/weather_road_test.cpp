// The weather's whole road: the program's weather thread fetches the current
// weather of two labelled cities from a local stand-in for the weather
// service (reached as the HTTP proxy, so the request keeps the service's own
// address) and the METAR station file of one of them; the compositor then
// renders a flat map with both labels. Checked: the requests sent, the label
// lines, the label boxes pixel for pixel against boxes drawn from the texts
// a user should read, and the icons against the icon resources; then the
// same with stale weather and with a time bias.
#include "testutil.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "earth/compositor.h"
#include "earth/compositor_helpers.h"
#include "earth/ephemeris.h"
#include "earth/labels.h"
#include "earth/settings.h"
#include "earth/weather.h"
#include "framework/application.h"
#include "framework/bytes.h"
#include "framework/utilities.h"

namespace {

const int kMapW = 256, kMapH = 128;
const uint8_t kSea[3] = {120, 60, 20};   // the map's one colour, BGR
const char kTemplate[] =
    "^#CCI^ #T24\r\n#WSS32\r\n#WTP #WTU #WDS\r\n#WDL\r\n#WW1 #WWU #WWD\r\n#WHU% #WAP hPa\r\n"
    "#MET1-3";
const double kRad = 3.14159265358979323846 / 180;

std::string gMaps, gOut;
int gPort;

std::string Env(const char *name)
{
    const char *value = getenv(name);
    return value ? value : "";
}

void WriteSeaMap()
{
    std::string bytes;
    for (int i = 0; i < kMapW * kMapH; i++)
        bytes.append((const char *)kSea, 3);
    uint8_t t[12];
    Put32(t, 1);
    Put32(t + 4, kMapW);
    Put32(t + 8, kMapH);
    bytes.append((const char *)t, 12);
    WriteWhole(gMaps + "\\World.map", bytes);
}

void SetArea(int32_t *area, int l, int t, int r, int b)
{
    area[0] = l;
    area[1] = t;
    area[2] = r;
    area[3] = b;
}

// A flat map filling an output of the screen's size, so labels are drawn
// at their own size (scale 1).
void FlatView(ViewOptions *v)
{
    SetDefaultView(v, 0);
    CopyText(v->szMap, "World", sizeof v->szMap);
    v->iMapW = kMapW;
    v->iMapH = kMapH;
    v->iOutputW = gScreenW;
    v->iOutputH = gScreenH;
    v->iPrjType = 1;
    SetArea(v->iMapArea, 0, 0, kMapW - 1, kMapH - 1);
    SetArea(v->iDtpArea, 0, 0, gScreenW - 1, gScreenH - 1);
    SetArea(v->iClpArea, 0, 0, gScreenW - 1, gScreenH - 1);
    v->dSMpZoom = 1;
    v->bSeasonEnable = 0;
    v->bNight = 0;
    v->iDayUrban = v->iDaySunBright = 0;
    v->iDayBrightness = v->iDayContrast = v->iDaySaturation = 0;
    v->bHalo = v->bClouds = v->bBackground = 0;
    time_t now = time(0);
    gmtime_s(&v->tTime, &now);
    v->bCities = 1;
}

void AddCity(ViewOptions *v, const char *name, const char *zone, const char *icao, float lat,
             float lon, int labelpos)
{
    CityEntry &c = v->City[v->iCityNumber++];
    memset(&c, 0, sizeof c);
    snprintf(c.cityline, sizeof c.cityline, "%s;%s", name, zone);
    CopyText(c.city, name, sizeof c.city);
    CopyText(c.timezone, zone, sizeof c.timezone);
    CopyText(c.icao, icao, sizeof c.icao);
    CopyText(c.text, kTemplate, sizeof c.text);
    c.lat = lat;
    c.lon = lon;
    c.weatherdescr = WEATHER_NOT_AVAILABLE;
    c.fontsize = 8;
    c.opacity = 100;   // the box replaces the picture, so it can be compared exactly
    c.framesize = 2;
    c.arrowsize = 6;
    c.labelpos = (int8_t)labelpos;
    c.crtext[0] = RGB(230, 230, 255);
    c.crtext[1] = RGB(255, 255, 255);
    c.crbackground[0] = RGB(20, 30, 60);
    c.crbackground[1] = RGB(40, 70, 110);
    c.crframe[0] = RGB(0, 0, 255);
    c.crframe[1] = RGB(255, 255, 0);
    c.crarrow[0] = c.crarrow[1] = RGB(255, 255, 255);
}

const uint8_t *Pixel(const std::string &bmp, int x, int y)
{
    const uint8_t *b = (const uint8_t *)bmp.data();
    int w = (int)Le32(b + 18), h = (int)Le32(b + 22);
    x = (x % w + w) % w;   // labels wrap at the picture's edges
    y = (y % h + h) % h;
    return b + 54 + (size_t)(h - 1 - y) * (((w * 24 + 31) / 32) * 4) + x * 3;
}

// A top-down 32-bit drawing surface, black until drawn on.
struct Surface : DibCanvas {
    Surface(int width, int height) : DibCanvas(width, height, RGB(0, 0, 0)) {}
    // Pixel (x, y) as blue, green, red.
    void Bgr(int x, int y, uint8_t out[3]) const
    {
        uint32_t p = bits[y * width + x];
        out[0] = (uint8_t)p;
        out[1] = (uint8_t)(p >> 8);
        out[2] = (uint8_t)(p >> 16);
    }
};

HFONT Font(HDC dc, const CityEntry &c, int weight)
{
    int height = -MulDiv(c.fontsize, GetDeviceCaps(dc, LOGPIXELSY), 72);
    return CreateFontA(height, 0, 0, 0, weight, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                       c.font[0] ? c.font : "MS Shell Dlg");
}

// What a user should read on a label, line by line; the icon line holds
// the icon control pair.
struct Expected {
    std::string lines[7];
    int condition;   // the label table's code
};

// The top-left output pixel of a city's box.
void BoxOrigin(const ViewOptions &v, const CityEntry &c, int *x, int *y)
{
    ASSERT_TRUE(projectToImage(&v, c.lat * kRad, c.lon * kRad, x, y));
    int w = c.width + 2 * c.framesize, h = c.height + 2 * c.framesize;
    if (c.labelpos == 0 || c.labelpos == 2)
        *x -= w - 1;
    if (c.labelpos == 0 || c.labelpos == 1)
        *y -= h - 1;
}

// The rendered city's lines, then its box against a box drawn from the
// expected texts, then its icons against the icon resources themselves.
void CheckLabel(const std::string &bmp, const ViewOptions &v, const CityEntry &c,
                const Expected &want, bool isday)
{
    SCOPED_TRACE(c.city);
    ASSERT_EQ(c.maxline, 7);
    for (int i = 0; i < 7; i++)
        EXPECT_EQ(want.lines[i], c.line[i]) << "line " << i;
    EXPECT_EQ(c.isday, isday ? 1 : 0);
    EXPECT_EQ(kWeatherConditions[c.shown].code, want.condition);

    CityEntry ref = c;
    memset(ref.line, 0, sizeof ref.line);
    for (int i = 0; i < 7; i++)
        CopyText(ref.line[i], want.lines[i].c_str(), sizeof ref.line[i]);
    ref.shown = WeatherConditionIndex(want.condition);
    int w = c.width + 2 * c.framesize, h = c.height + 2 * c.framesize;
    Surface box(w + 8, h + 8);
    LabelFonts fonts = {Font(box.dc, ref, 400), Font(box.dc, ref, 600)};
    measureLabel(box.dc, &ref, &fonts);
    EXPECT_EQ(ref.width, c.width);
    EXPECT_EQ(ref.height, c.height);
    drawLabelBox(box.dc, &ref, &fonts, isday);
    GdiFlush();
    DeleteObject(fonts.normal);
    DeleteObject(fonts.bold);
    int x0, y0;
    BoxOrigin(v, c, &x0, &y0);
    int differing = 0;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            uint8_t expected[3];
            box.Bgr(x, y, expected);
            differing += memcmp(Pixel(bmp, x0 + x, y0 + y), expected, 3) != 0;
        }
    EXPECT_EQ(differing, 0) << "box at " << x0 << "," << y0 << " size " << w << "x" << h;

    // The icon line stands alone, centred: its 32 x 32 square must show the
    // condition's icons stacked on the box colour, and they must show.
    int f = c.framesize;
    int left = f + (c.width - c.liwi[1]) / 2;
    int top = f + (int)(0.4 * c.fontsize) + c.lihi[0] + (c.lihi[1] - 32) / 2;
    ASSERT_EQ(c.liwi[1], 32);
    Surface icon(32, 32);
    HBRUSH brush = CreateSolidBrush(c.crbackground[isday ? 1 : 0]);
    RECT all = {0, 0, 32, 32};
    FillRect(icon.dc, &all, brush);
    DeleteObject(brush);
    const WeatherCondition &row = kWeatherConditions[WeatherConditionIndex(want.condition)];
    for (int i = 0; i < WEATHER_ICONS && row.icons[i]; i++) {
        int n = WeatherIconForTime(row.icons[i], isday);
        HICON h = (HICON)LoadImageA(GetModuleHandleA(0), MAKEINTRESOURCEA(200 + n), IMAGE_ICON,
                                    32, 32, 0);
        ASSERT_TRUE(h != 0) << "icon resource " << 200 + n;
        DrawIconEx(icon.dc, 0, 0, h, 32, 32, 0, 0, DI_NORMAL);
        DestroyIcon(h);
    }
    GdiFlush();
    int iconPixels = 0, wrong = 0;
    const uint8_t bg[3] = {GetBValue(c.crbackground[isday ? 1 : 0]),
                           GetGValue(c.crbackground[isday ? 1 : 0]),
                           GetRValue(c.crbackground[isday ? 1 : 0])};
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 32; x++) {
            uint8_t expected[3];
            icon.Bgr(x, y, expected);
            const uint8_t *got = Pixel(bmp, x0 + left + x, y0 + top + y);
            wrong += memcmp(got, expected, 3) != 0;
            iconPixels += memcmp(got, bg, 3) != 0;
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(iconPixels, 150) << "the icon square is (nearly) empty";
}

std::string Clock(int64_t t)
{
    char text[16];
    formatClock(t, false, text, sizeof text);
    return text;
}

std::vector<std::string> RequestLog()
{
    std::vector<std::string> lines;
    std::string text = ReadWhole(Env("VT_WEATHER_ROAD_LOG"));
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

class WeatherRoad : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        gPort = atoi(Env("VT_WEATHER_ROAD_PORT").c_str());
        buildCosineTable();
        gMaps = FreshTempFolder("road-maps");
        gOut = FreshTempFolder("road-out");
        CopyText((char *)gApp.installRecord + INSTALL_RECORD_INSTALL_PATH, gMaps.c_str(),
                 INSTALL_RECORD_TEXT_BYTES);
        CopyText(gApp.dataFolder, gMaps.c_str(), MAX_TEXT);
        WriteSeaMap();
        // The time-zone table the city tests generate lies beside this test.
        CopyFileA("cities\\Timezones.txt", (gMaps + "\\Timezones.txt").c_str(), FALSE);
    }
    void SetUp() override
    {
        // Without its server the test cannot run: that is a failure, not a skip.
        ASSERT_GT(gPort, 0) << "VT_WEATHER_ROAD_PORT is not set (run_weather_road_test.sh)";
        ASSERT_NE(Env("VT_WEATHER_ROAD_LOG"), "");
        gApp.osCode = 10;
        gScreenX = gScreenY = 0;
        gScreenW = GetSystemMetrics(SM_CXSCREEN);
        gScreenH = GetSystemMetrics(SM_CYSCREEN);
        gComposeCopyAttempts = 3;
        gComposeCopyPauseMs = 50;
        srand(7);
        buildRandomTable(0);
        gPrefs = kDefaultPrefs;
        gPrefs.bLowMemMode = 0;
        CopyText(gPrefs.szWeatherApiKey, "road-test-key", sizeof gPrefs.szWeatherApiKey);
        gPrefs.iMetarData = 1;
        gPrefs.iMetarSource = 1;   // the station file
        gPrefs.iMetaPreferOWM = 0;   // the station's condition wins where there is one
        snprintf(gPrefs.szMetarURL, sizeof gPrefs.szMetarURL,
                 "http://127.0.0.1:%d/data/observations/metar/stations/#ICAO#.TXT", gPort);
        gPrefs.iProxyType = 1;
        CopyText(gPrefs.szProxyServer, "127.0.0.1", sizeof gPrefs.szProxyServer);
        gPrefs.iProxyPort = gPort;
        ASSERT_TRUE(ResizeViewList(&gViewLists[0], 1));
        ASSERT_TRUE(ResizeViewList(&gViewLists[1], 0));
        ViewOptions *v = &gViewLists[0].data[0];
        FlatView(v);
        // Berlin only through the weather service; New York also has a station.
        AddCity(v, "Berlin", "Europe/Berlin", "", 52.52f, 13.405f, 3);
        AddCity(v, "New York", "America/New_York", "KJFK", 40.7128f, -74.006f, 0);
    }
    void TearDown() override { FreeViewLists(); }

    // The weather thread as the program starts it, waited for.
    void Download()
    {
        ASSERT_EQ(0, StartWeatherDownload(WEATHER_MODE_NOW));
        for (int i = 0; i < 600 && gWeatherBusy; i++)
            Sleep(100);
        ASSERT_EQ(0, gWeatherBusy) << "the weather thread did not finish";
    }

    // The view rendered as the wallpaper; the picture's bytes. jobs keeps
    // the rendered cities (their expanded lines and sizes).
    std::string Render(ViewList *jobs, const char *name)
    {
        EXPECT_TRUE(ResizeViewList(jobs, 1));
        jobs->data[0] = gViewLists[0].data[0];
        std::string path = gOut + "\\" + name;
        EXPECT_EQ(RENDER_OK, ComposeImage(0, jobs, path.c_str(), RENDER_OUTPUT_WALLPAPER));
        return ReadWhole(path);
    }

    static bool DayAt(const CityEntry &c, int64_t when)
    {
        time_t t = (time_t)when;
        struct tm utc;
        gmtime_s(&utc, &t);
        double lon, lat;
        subSolarPoint(&utc, &lon, &lat);
        return CityInDaylight(c.lat * kRad, c.lon * kRad, lat, lon);
    }
};

std::string MetarWords(int day, int hour)
{
    char text[64];
    snprintf(text, sizeof text, "KJFK %02d%02d51Z 36012G22KT", day, hour);
    return text;
}

TEST_F(WeatherRoad, ServiceAndStationReachTheLabelsInThePicture)
{
    int64_t before = time(0);
    Download();
    EXPECT_STREQ(gWeatherStatus, "Download finished successfully.");
    EXPECT_STREQ(gMetarStatus, "Download finished successfully.");

    // One service request per city, with the service's own address; one
    // station file, New York's.
    std::vector<std::string> log = RequestLog();
    int berlin = 0, newYork = 0, stations = 0;
    for (const std::string &line : log) {
        berlin += line == "http://api.openweathermap.org/data/2.5/weather?lat=52.520000"
                          "&lon=13.405000&units=metric&APPID=road-test-key";
        newYork += line.find("http://api.openweathermap.org/data/2.5/weather?lat=40.712") == 0;
        stations += line.find("/data/observations/metar/stations/") != std::string::npos;
    }
    EXPECT_EQ(berlin, 1);
    EXPECT_EQ(newYork, 1);
    EXPECT_EQ(stations, 1);
    EXPECT_EQ(log.size(), 3u);
    for (const std::string &line : log) {
        if (line.find("stations/") != std::string::npos) {
            EXPECT_NE(line.find("/KJFK.TXT"), std::string::npos) << line;
        }
    }

    ViewList jobs;
    std::string bmp = Render(&jobs, "fresh.bmp");
    int64_t after = time(0);
    ASSERT_GT(bmp.size(), 54u);
    const ViewOptions &v = jobs.data[0];
    const CityEntry &b = v.City[0], &n = v.City[1];
    // The rendered clock: a minute may turn during the run.
    std::string berlinClock = Clock(before + b.utcoff);
    if (berlinClock != b.line[0] + 8)
        berlinClock = Clock(after + b.utcoff);
    std::string newYorkClock = Clock(before + n.utcoff);
    if (newYorkClock != n.line[0] + 10)
        newYorkClock = Clock(after + n.utcoff);
    EXPECT_TRUE(b.utcoff == 3600 || b.utcoff == 7200);
    EXPECT_TRUE(n.utcoff == -5 * 3600 || n.utcoff == -4 * 3600);

    const std::string icon = "\xff\x20";
    Expected wantBerlin = {{"^Berlin^ " + berlinClock, icon, "7.5 C Rain", "Light rain",
                            "4.1 m/s 250", "81% 1012 hPa", ""},
                           500};
    time_t t = (time_t)after;
    struct tm utc;
    gmtime_s(&utc, &t);
    // From the station: light snow and mist, gust 22 knots, -2 / -4 degrees, 29.92 inches.
    Expected wantNewYork = {{"^New York^ " + newYorkClock, icon, "-2.0 C Snow", "Light snow",
                             "11.3 m/s 360", "84% 1013 hPa", MetarWords(utc.tm_mday, utc.tm_hour)},
                            600};
    CheckLabel(bmp, v, b, wantBerlin, DayAt(b, after));
    CheckLabel(bmp, v, n, wantNewYork, DayAt(n, after));
    // Away from the labels the map is untouched.
    EXPECT_EQ(0, memcmp(Pixel(bmp, 1, gScreenH - 2), kSea, 3));
    jobs.RemoveAll();
}

TEST_F(WeatherRoad, StaleWeatherShowsMarkersAndTheMissingDataIcon)
{
    Download();
    ASSERT_STREQ(gWeatherStatus, "Download finished successfully.");
    // The data outlived its validity.
    for (int i = 0; i < 2; i++)
        gViewLists[0].data[0].City[i].lupd -= (int64_t)gPrefs.iWeatherValid * 60 + 60;
    ViewList jobs;
    std::string bmp = Render(&jobs, "stale.bmp");
    int64_t now = time(0);
    const ViewOptions &v = jobs.data[0];
    for (int i = 0; i < 2; i++) {
        const CityEntry &c = v.City[i];
        std::string head = std::string("^") + c.city + "^ " + (c.line[0] + strlen(c.city) + 3);
        Expected want = {{head, "\xff\x20", "? C n/a", "n/a", "? m/s ?", "?% ? hPa", "?"}, 999};
        CheckLabel(bmp, v, c, want, DayAt(c, now));
    }
    jobs.RemoveAll();
}

TEST_F(WeatherRoad, TimeBiasMovesTheClocksByItsMinutesAndPicksTheBoxColours)
{
    Download();
    ViewOptions *view = &gViewLists[0].data[0];
    // A third label right under the sun: by day now, by night twelve hours on.
    time_t now = time(0);
    struct tm utc;
    gmtime_s(&utc, &now);
    double sunLon, sunLat;
    subSolarPoint(&utc, &sunLon, &sunLat);
    AddCity(view, "Noon", "Europe/Berlin", "", (float)(sunLat / kRad), (float)(sunLon / kRad), 3);
    CopyText(view->City[2].text, "#CCI", sizeof view->City[2].text);

    gPrefs.iTimeBias = 60;
    int64_t before = time(0);
    ViewList jobs;
    std::string bmp = Render(&jobs, "bias.bmp");
    int64_t after = time(0);
    const CityEntry &b = jobs.data[0].City[0];
    std::string shown = b.line[0] + 9;   // after "^Berlin^ "
    EXPECT_TRUE(shown == Clock(before + 3600 + b.utcoff) || shown == Clock(after + 3600 + b.utcoff))
        << shown << " is not an hour ahead of Berlin's " << Clock(after + b.utcoff);
    const CityEntry &noon = jobs.data[0].City[2];
    EXPECT_EQ(noon.isday, 1);
    jobs.RemoveAll();

    gPrefs.iTimeBias = 12 * 60;
    bmp = Render(&jobs, "bias12.bmp");
    const ViewOptions &v = jobs.data[0];
    const CityEntry &night = v.City[2];
    EXPECT_EQ(night.isday, 0);
    // The night frame colour is in the picture, at the box's far corner.
    int x0, y0;
    BoxOrigin(v, night, &x0, &y0);
    int w = night.width + 2 * night.framesize, h = night.height + 2 * night.framesize;
    const uint8_t blue[3] = {255, 0, 0};
    EXPECT_EQ(0, memcmp(Pixel(bmp, x0 + w - 1, y0 + h - 1), blue, 3));
    jobs.RemoveAll();
}

// Every row of the condition table on a label, by day and by night, with
// its icons at 16, 32 and 48 pixels: each square shows a picture (no
// missing resource leaves a gap). The labels are laid out on one sheet,
// "weather-labels.bmp" in the test's output folder, for a look by eye.
TEST(WeatherIcons, EveryConditionShowsItsIconsAtSixteenThirtyTwoAndFortyEight)
{
    const int cellW = 210, cellH = 96, columns = 6;
    const int rows = (WEATHER_CONDITIONS * 2 + columns - 1) / columns;
    Surface sheet(cellW * columns, cellH * rows);
    PatBlt(sheet.dc, 0, 0, sheet.width, sheet.height, WHITENESS);
    ViewOptions *v = (ViewOptions *)calloc(1, sizeof(ViewOptions));
    AddCity(v, "Sample", "Europe/Berlin", "", 0, 0, 3);
    CityEntry &c = v->City[0];
    CopyText(c.text, "#WDL\r\n#WSS16 #WSS32 #WSS48", sizeof c.text);
    int64_t now = time(0);
    c.lupd = now;
    for (int k = 0; k < WEATHER_CONDITIONS * 2; k++) {
        int row = k / 2;
        bool isday = k % 2 == 0;
        c.weatherdescr = row;
        expandLabelTextAt(&c, now, now);
        Surface box(cellW, cellH);
        LabelFonts fonts = {Font(box.dc, c, 400), Font(box.dc, c, 600)};
        measureLabel(box.dc, &c, &fonts);
        drawLabelBox(box.dc, &c, &fonts, isday);
        GdiFlush();
        DeleteObject(fonts.normal);
        DeleteObject(fonts.bold);
        BitBlt(sheet.dc, (k % columns) * cellW, (k / columns) * cellH, cellW, cellH, box.dc, 0, 0,
               SRCCOPY);
        // The icon line: three squares of 16, 32 and 48 pixels, blank-separated.
        SIZE blank;
        HFONT normal = Font(box.dc, c, 400);
        HGDIOBJ old = SelectObject(box.dc, normal);
        GetTextExtentPoint32A(box.dc, " ", 1, &blank);
        SelectObject(box.dc, old);
        DeleteObject(normal);
        int f = c.framesize, top = f + (int)(0.4 * c.fontsize) + c.lihi[0];
        int x = f + (c.width - c.liwi[1]) / 2;
        ASSERT_EQ(c.liwi[1], 16 + 32 + 48 + 2 * blank.cx) << kWeatherConditions[row].code;
        uint32_t bg = c.crbackground[isday ? 1 : 0];
        uint8_t want[3] = {GetBValue(bg), GetGValue(bg), GetRValue(bg)};
        for (int size : {16, 32, 48}) {
            int y0 = top + (c.lihi[1] - size) / 2, shown = 0;
            for (int y = 0; y < size; y++)
                for (int i = 0; i < size; i++) {
                    uint8_t got[3];
                    box.Bgr(x + i, y0 + y, got);
                    shown += memcmp(got, want, 3) != 0;
                }
            EXPECT_GT(shown, size * size / 10)
                << kWeatherConditions[row].code << (isday ? " day" : " night") << " at " << size;
            x += size + blank.cx;
        }
    }
    free(v);
    // The sheet as a 24-bit BMP.
    std::string bmp(54, '\0');
    int stride = (sheet.width * 3 + 3) & ~3;
    uint8_t *h = (uint8_t *)&bmp[0];
    h[0] = 'B';
    h[1] = 'M';
    Put32(h + 2, (uint32_t)(54 + stride * sheet.height));
    Put32(h + 10, 54);
    Put32(h + 14, 40);
    Put32(h + 18, (uint32_t)sheet.width);
    Put32(h + 22, (uint32_t)sheet.height);
    h[26] = 1;
    h[28] = 24;
    for (int y = sheet.height - 1; y >= 0; y--) {
        std::string line(stride, '\0');
        for (int x = 0; x < sheet.width; x++)
            sheet.Bgr(x, y, (uint8_t *)&line[x * 3]);
        bmp += line;
    }
    std::string out = FreshTempFolder("road-icons");
    WriteWhole(out + "\\weather-labels.bmp", bmp);
}

}  // namespace
