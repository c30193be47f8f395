// The weather updater against the local test server, which the settings
// name as the HTTP proxy, so that it stands in for the weather service and
// the station files: it answers by URL and lists every request. One request
// per distinct city, the coarser coordinates after a refused answer, the
// values copied to every city at the place, METAR wind, gust and pressure
// conversions, old reports left alone, the page's markers, and the final
// status texts.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>
#include <time.h>

#include <map>
#include <string>
#include <vector>

#include "earth/clouds.h"
#include "earth/labels.h"
#include "earth/settings.h"
#include "earth/weather.h"
#include "framework/application.h"
#include "localserver.h"
#include "testutil.h"

namespace {

// URL part -> status, body; the longest matching part answers, none: 404.
std::map<std::string, std::pair<int, std::string>> gAnswers;

// The answers for the stand-in; with hold, each request waits for a release.
void PublishAnswers(bool hold = false)
{
    std::string json = hold ? "{\"hold\": true" : "{\"hold\": false";
    for (const auto &answer : gAnswers)
        json += ", " + JsonText(answer.first) + ": [" +
                std::to_string(answer.second.first ? answer.second.first : 200) + ", " +
                JsonText(answer.second.second) + "]";
    ServeFile("answers.json", json + "}");
}

int Requests(const std::string &part)
{
    int n = 0;
    for (const std::string &url : StandInUrls())
        n += url.find(part) != std::string::npos;
    return n;
}

std::string Utc(const char *format, time_t t)
{
    char text[64];
    strftime(text, sizeof text, format, gmtime(&t));
    return text;
}

const char kBerlinJson[] =
    "{\"coord\":{\"lon\":13.4,\"lat\":52.52},\"weather\":[{\"id\":500,\"main\":\"Rain\"}],"
    "\"main\":{\"temp\":\"7,5\",\"pressure\":1012,\"humidity\":81},"
    "\"wind\":{\"speed\":4.1,\"deg\":250},\"id\":2950159,\"cod\":200}";

class Weather : public ::testing::Test {
protected:
    time_t now = time(0);

    void SetUp() override
    {
        gPrefs = kDefaultPrefs;
        CopyText(gPrefs.szWeatherApiKey, "key", sizeof gPrefs.szWeatherApiKey);
        gPrefs.iWeatherInterval = 60;
        gPrefs.iMetarData = 1;
        gPrefs.iMetarSource = 1;   // the station file
        CopyText(gPrefs.szMetarURL, "http://metar.test/#ICAO#.TXT", sizeof gPrefs.szMetarURL);
        ASSERT_NE(ServerPort(), 0) << "run through run_http_test.sh";
        // The https aviation page comes through the stand-in's tunnel, with
        // a certificate of the test CA.
        static const bool trusted = TrustTestCa();
        ASSERT_TRUE(trusted) << "the test CA (VT_TEST_CA) did not go into the ROOT store";
        gPrefs.iProxyType = 1;
        CopyText(gPrefs.szProxyServer, "127.0.0.1", sizeof gPrefs.szProxyServer);
        gPrefs.iProxyPort = ServerPort();
        ResetServer();
        gAnswers.clear();
        ASSERT_TRUE(ResizeViewList(&gViewLists[0], 2));
        ASSERT_TRUE(ResizeViewList(&gViewLists[1], 1));
        SetDefaultView(&gViewLists[0].data[0], 0);
        SetDefaultView(&gViewLists[0].data[1], 0);
        SetDefaultView(&gViewLists[1].data[0], 1);
        // Berlin in two wallpaper views and the screen saver; Tokyo once.
        AddCity(&gViewLists[0].data[0], "Berlin", 52.52f, 13.4f, "EDDB");
        AddCity(&gViewLists[0].data[0], "Tokyo", 35.68f, 139.69f, "");
        AddCity(&gViewLists[0].data[1], "Berlin", 52.52f, 13.4f, "EDDB");
        AddCity(&gViewLists[1].data[0], "Berlin", 52.52f, 13.4f, "EDDB");
        // First run with this key: forces the run and clears old errors.
    }
    void TearDown() override
    {
        FreeViewLists();
    }
    static void AddCity(ViewOptions *view, const char *name, float lat, float lon,
                        const char *icao)
    {
        view->bCities = 1;
        CityEntry &city = view->City[view->iCityNumber++];
        memset(&city, 0, sizeof city);
        snprintf(city.cityline, sizeof city.cityline, "%s;line", name);
        CopyText(city.city, name, sizeof city.city);
        CopyText(city.icao, icao, sizeof city.icao);
        city.lat = lat;
        city.lon = lon;
    }
    CityEntry &City(int list, int view, int i) { return gViewLists[list].data[view].City[i]; }
    void Run(int mode)
    {
        PublishAnswers();
        WeatherDownloadThread((LPVOID)(INT_PTR)mode);
    }
    // Runs the worker on a thread of its own and notes the city's condition
    // while each of its requests is held at the server.
    std::vector<int> RunWatching(int mode, const CityEntry &city)
    {
        std::vector<int> seen;
        PublishAnswers(true);
        ResetServer();
        HANDLE worker = CreateThread(0, 0, WeatherDownloadThread, (LPVOID)(INT_PTR)mode, 0, 0);
        EXPECT_TRUE(worker != 0);
        while (worker && WaitForSingleObject(worker, 0) == WAIT_TIMEOUT) {
            if ((int)StandInUrls().size() > (int)seen.size()) {
                seen.push_back(city.weatherdescr);
                AskServer("/release");
            } else {
                Sleep(10);
            }
        }
        if (worker)
            CloseHandle(worker);
        return seen;
    }
    std::string Metar(const char *groups)
    {
        return Utc("%Y/%m/%d %H:%M\n", now) + "EDDB " + Utc("%d%H%MZ ", now) + groups + "\n";
    }
};

TEST_F(Weather, OneRequestPerCityAndValuesReachEveryCityAtThePlace)
{
    gAnswers["lat=52.520000&lon=13.400000"] = {0, kBerlinJson};
    gAnswers["lat=35.680000"] = {0, "{\"weather\":[{\"id\":800}],\"main\":{\"temp\":20},\"cod\":200}"};
    gAnswers["EDDB.TXT"] = {0, Metar("27012G25KT 9999 FEW030 M02/M05 A2992")};
    Run(WEATHER_MODE_NOW);

    EXPECT_EQ(1, Requests("lat=52.520000"));
    EXPECT_EQ(1, Requests("lat=35.680000"));
    EXPECT_EQ(1, Requests("EDDB.TXT"));
    EXPECT_EQ(0, Requests(".TXT") - 1);   // Tokyo has no station
    EXPECT_NE(std::string::npos, StandInUrls().at(0).find("units=metric&APPID=key"));

    for (CityEntry *c : {&City(0, 0, 0), &City(0, 1, 0), &City(1, 0, 0)}) {
        // The service's condition stays (it is preferred); METAR gives the rest.
        EXPECT_EQ(WeatherConditionIndex(500), c->weatherdescr);
        EXPECT_FLOAT_EQ(-2.0f, c->temp);
        EXPECT_NEAR(29.92 * 33.863788, c->pressure, 0.01);
        EXPECT_NEAR(25 / 1.9438444924, c->wind, 1e-4);   // the gust
        EXPECT_FLOAT_EQ(270.0f, c->winddir);
        // Below 0 °C over ice: 100 x 10^(9.5 x -5 / 260.5) / 10^(9.5 x -2 / 263.5).
        EXPECT_NEAR(100 * pow(10, 9.5 * -5 / 260.5) / pow(10, 9.5 * -2 / 263.5), c->humidity,
                    0.01);
        EXPECT_NE(0, c->lupd);
        EXPECT_EQ(0, strncmp(c->metar, "EDDB ", 5));
    }
    EXPECT_EQ(WeatherConditionIndex(800), City(0, 0, 1).weatherdescr);
    EXPECT_FLOAT_EQ(20.0f, City(0, 0, 1).temp);
    EXPECT_STREQ("Download finished successfully.", gWeatherStatus);
    EXPECT_STREQ("Download finished successfully.", gMetarStatus);
    EXPECT_EQ(gPrefs.tWeatherCheck, gPrefs.tWeatherDown);
    EXPECT_EQ(gPrefs.tWeatherCheck, gPrefs.tMetarDown);
}

// A refresh keeps the label's condition while its requests run (a render at
// that moment must not show "n/a"); only a refresh that nothing answers ends
// as not available. With the service preferred, a station report still gives
// the condition when the service did not answer this time.
TEST_F(Weather, ConditionStaysDuringARefreshAndFailsOnlyWhenNothingAnswers)
{
    CityEntry &berlin = City(0, 0, 0);
    berlin.weatherdescr = WeatherConditionIndex(800);
    gAnswers["lat=52.520000&lon=13.400000"] = {0, kBerlinJson};
    gAnswers["EDDB.TXT"] = {0, Metar("27012KT 9999 -SN M02/M05 A2992")};
    std::vector<int> seen = RunWatching(WEATHER_MODE_NOW, berlin);
    ASSERT_GE(seen.size(), 2u);   // Berlin's two, then Tokyo's
    EXPECT_EQ(WeatherConditionIndex(800), seen[0]);   // before the service's answer
    EXPECT_EQ(WeatherConditionIndex(500), seen[1]);   // the station's request
    EXPECT_EQ(WeatherConditionIndex(500), berlin.weatherdescr);      // the service is preferred

    // The service fails, the station answers: its snow is taken.
    gAnswers["lat=52.520000&lon=13.400000"] = {500, ""};
    seen = RunWatching(WEATHER_MODE_NOW, berlin);
    ASSERT_GE(seen.size(), 1u);
    EXPECT_EQ(WeatherConditionIndex(500), seen[0]);
    EXPECT_EQ(WeatherConditionIndex(600), berlin.weatherdescr);

    // Nothing answers: not available, as before.
    gAnswers["EDDB.TXT"] = {404, ""};
    gAnswers["lat=52.520000&lon=13.400000"] = {0, kBerlinJson};
    gAnswers["lat="] = {500, ""};
    Run(WEATHER_MODE_NOW);
    EXPECT_EQ(WEATHER_NOT_AVAILABLE, City(0, 0, 1).weatherdescr);   // Tokyo: its request failed
}

TEST_F(Weather, ServiceValuesWithADecimalCommaAndMetarOnlyWhenMetarIsOff)
{
    gPrefs.iMetarData = 0;
    gAnswers["lat=52.520000"] = {0, kBerlinJson};
    gAnswers["lat=35.680000"] = {0, kBerlinJson};
    Run(WEATHER_MODE_NOW);
    EXPECT_EQ(0, Requests(".TXT"));
    EXPECT_FLOAT_EQ(7.5f, City(0, 0, 0).temp);
    EXPECT_FLOAT_EQ(1012.0f, City(0, 0, 0).pressure);
    EXPECT_FLOAT_EQ(81.0f, City(0, 0, 0).humidity);
    EXPECT_FLOAT_EQ(4.1f, City(0, 0, 0).wind);
    EXPECT_FLOAT_EQ(250.0f, City(0, 0, 0).winddir);
}

TEST_F(Weather, RefusedCoordinatesAreRetriedCoarserThenReportedAsParsingError)
{
    gPrefs.iMetarData = 0;
    // Berlin's precise coordinates are refused (no "cod"); two decimals pass.
    for (const char *lat : {"lat=52.520000&", "lat=52.52000&", "lat=52.5200&", "lat=52.520&"})
        gAnswers[lat] = {0, "{\"message\":\"no\"}"};
    gAnswers["lat=52.52&lon=13.40"] = {0, kBerlinJson};
    gAnswers["lon=139."] = {0, "{\"message\":\"no\"}"};   // Tokyo never gets a "cod"
    Run(WEATHER_MODE_NOW);
    EXPECT_EQ(5, Requests("lat=52.52"));   // 6, 5, 4, 3 decimals refused, then 2
    EXPECT_EQ(6, Requests("lon=139."));
    EXPECT_FLOAT_EQ(7.5f, City(0, 0, 0).temp);
    EXPECT_STREQ("Download failed (weather parsing error, city: Tokyo )", gWeatherStatus);
}

TEST_F(Weather, KeyErrorsAndRequestFailuresStopTheWeatherRequests)
{
    gPrefs.iMetarData = 0;
    gAnswers["openweathermap"] = {401, ""};
    Run(WEATHER_MODE_NOW);
    EXPECT_EQ(1, Requests("openweathermap"));   // the second city is not asked
    EXPECT_STREQ("Download failed (invalid API key)", gWeatherStatus);

    gPrefs.szWeatherApiKey[0] = 0;
    ResetServer();
    Run(WEATHER_MODE_NOW);
    EXPECT_STREQ("Download failed (missing API key)", gWeatherStatus);

    // A request that fails in the transport: its text, with a full stop.
    gPrefs.iProxyPort = ServerPort("VT_CLOSED_PORT");
    Run(WEATHER_MODE_NOW);
    EXPECT_STREQ("Download failed - Can't connect to proxy server.", gWeatherStatus);
}

TEST_F(Weather, MetarWindUnitsAndOldReports)
{
    EXPECT_NEAR(5.14, WindMetresPerSecond(10, "KT"), 0.005);
    EXPECT_NEAR(12.86, WindMetresPerSecond(25, "KT"), 0.005);
    EXPECT_FLOAT_EQ(7.0f, WindMetresPerSecond(7, "MPS"));
    EXPECT_NEAR(10.0, WindMetresPerSecond(36, "KMH"), 1e-5);
    EXPECT_EQ(WEATHER_MISSING, WindMetresPerSecond(10, ""));

    gPrefs.iMetarData = 2;   // METAR only: its condition counts
    gAnswers["EDDB.TXT"] = {0, Metar("24010KT 9999 -RA OVC010 05/03 Q1003")};
    Run(WEATHER_MODE_NOW);
    EXPECT_EQ(0, Requests("openweathermap"));
    EXPECT_NEAR(5.14, City(0, 0, 0).wind, 0.005);
    EXPECT_FLOAT_EQ(1003.0f, City(0, 0, 0).pressure);
    EXPECT_EQ(WeatherConditionIndex(500), City(0, 0, 0).weatherdescr);

    // A report of another day changes nothing.
    time_t old = now - 3 * 86400;
    gAnswers["EDDB.TXT"] = {0, "EDDB " + Utc("%d%H%MZ", old) + " 09005KT 9999 20/10 Q1030\n"};
    City(0, 0, 0).temp = 99;
    Run(WEATHER_MODE_NOW);
    EXPECT_FLOAT_EQ(99.0f, City(0, 0, 0).temp);
    EXPECT_STREQ("No new data available", gMetarStatus);
}

TEST_F(Weather, AviationPageMarkersAndStatusTexts)
{
    char out[260];
    std::string page = "<html><!-- Data starts here -->\n<code>EDDB 091250Z 27005KT CAVOK "
                       "04/M01 Q1020</code><br/>";
    EXPECT_EQ(0, ExtractMetarReport(page.c_str(), "EDDB", true, out, sizeof out));
    EXPECT_STREQ("EDDB 091250Z 27005KT CAVOK 04/M01 Q1020", out);
    EXPECT_EQ(METAR_NO_MARKER, ExtractMetarReport("<code>EDDB</code>", "EDDB", true, out, 260));
    EXPECT_EQ(METAR_NO_CODE_START,
              ExtractMetarReport("<!-- Data starts here --> EDDB", "EDDB", true, out, 260));
    EXPECT_EQ(METAR_NO_CODE_END,
              ExtractMetarReport("<!-- Data starts here --><code>EDDB", "EDDB", true, out, 260));
    // A station file: from the code to the line end, cut to the buffer.
    EXPECT_EQ(0, ExtractMetarReport("2026/12/09 12:50\r\nEDDB 091250Z 27005KT\r\n", "EDDB",
                                    false, out, 12));
    EXPECT_STREQ("EDDB 091250", out);

    gPrefs.iMetarSource = 0;
    gPrefs.iMetarData = 2;
    gAnswers["aviationweather"] = {0, "<!-- Data starts here --><p>nothing</p>"};
    Run(WEATHER_MODE_NOW);
    // Asked in the proxy's tunnel, of the server that proved to be that host.
    EXPECT_EQ(1, Requests("https://aviationweather.gov/metar/data?ids=EDDB&format=raw&hours=0&"
                          "taf=off&layout=off"));
    EXPECT_STREQ("Download failed (metar parsing error, ICAO: EDDB )", gMetarStatus);
}

TEST_F(Weather, DueRuleAndFreshCitiesAreSkipped)
{
    gPrefs.iWeatherInterval = 3;
    EXPECT_TRUE(weatherDue(now));
    EXPECT_EQ(10, gPrefs.iWeatherInterval);   // raised and kept
    gPrefs.tWeatherDown = now - 300;
    gPrefs.tMetarDown = now - 3600;
    EXPECT_FALSE(weatherDue(now));
    gPrefs.tWeatherDown = now - 601;
    gPrefs.tMetarDown = now - 601;
    EXPECT_TRUE(weatherDue(now));

    gPrefs.iMetarData = 0;
    Run(WEATHER_MODE_NOW);   // the key is remembered here
    gAnswers["openweathermap"] = {0, kBerlinJson};
    ResetServer();
    // Due, but Berlin is fresh everywhere: only Tokyo is asked.
    for (CityEntry *c : {&City(0, 0, 0), &City(0, 1, 0), &City(1, 0, 0)})
        c->lupd = now;
    City(0, 0, 1).lupd = 0;
    gPrefs.tWeatherDown = gPrefs.tMetarDown = 0;
    Run(WEATHER_MODE_AUTO);
    EXPECT_EQ(0, Requests("lat=52.52"));
    EXPECT_EQ(1, Requests("lat=35.68"));

    // Not due: nothing is asked at all.
    ResetServer();
    gPrefs.tWeatherDown = gPrefs.tMetarDown = now;
    Run(WEATHER_MODE_AUTO);
    EXPECT_TRUE(StandInUrls().empty());
    EXPECT_STREQ("No new data available", gWeatherStatus);
}

// A run that finds every labelled city fresh asks nothing, and it must
// give back what it took: the weather check runs every minute for months.
TEST_F(Weather, RunsThatAskNothingLeaveTheHeapWhereItWas)
{
    Run(WEATHER_MODE_NOW);   // the key is remembered here
    for (CityEntry *c : {&City(0, 0, 0), &City(0, 0, 1), &City(0, 1, 0), &City(1, 0, 0)})
        c->lupd = now;
    ResetServer();
    const int kRuns = 200;
    ProcessMemory before = ProcessMemoryInUse();
    for (int i = 0; i < kRuns; i++) {
        gPrefs.tWeatherDown = gPrefs.tMetarDown = 0;   // due each time
        WeatherDownloadThread((LPVOID)(INT_PTR)WEATHER_MODE_AUTO);
    }
    long long grown = ProcessMemoryInUse().heap - before.heap;
    EXPECT_TRUE(StandInUrls().empty());
    EXPECT_STREQ("No new data available", gWeatherStatus);
    EXPECT_LT(grown, 4096) << grown / kRuns << " bytes per run";
}

// The program starts a thread for every weather run; what a run's requests
// take on their thread must go with it.
TEST_F(Weather, RunsOnThreadsOfTheirOwnLeaveTheHeapWhereItWas)
{
    gAnswers["openweathermap"] = {0, kBerlinJson};
    gAnswers["metar.test"] = {0, Metar("27012KT 9999 FEW030 07/03 Q1012")};
    PublishAnswers();
    const int kRuns = 30;
    long long grown = 0;
    for (int i = -1; i < kRuns; i++) {   // the first run fills what stays
        ProcessMemory before = ProcessMemoryInUse();
        HANDLE t = CreateThread(0, 0, WeatherDownloadThread, (LPVOID)(INT_PTR)WEATHER_MODE_NOW,
                                0, 0);
        ASSERT_TRUE(t != 0);
        WaitForSingleObject(t, INFINITE);
        CloseHandle(t);
        if (i >= 0)
            grown += ProcessMemoryInUse().heap - before.heap;
    }
    EXPECT_EQ((int)StandInUrls().size(), 3 * (kRuns + 1));   // Berlin twice, Tokyo
    EXPECT_STREQ("Download finished successfully.", gWeatherStatus);
    EXPECT_LT(grown, 4096) << grown / kRuns << " bytes per run";
}

TEST_F(Weather, JsonLookupScansOneObjectDeep)
{
    char out[64];
    const char *json = "{\"a\":{\"id\":1},\"weather\":[{\"id\":701,\"main\":\"Mist\"}],"
                       "\"name\":\"Sao \\\"Paulo\",\"cod\":\"404\"}";
    ASSERT_TRUE(jsonLookup(json, "weather", "id", out, sizeof out));
    EXPECT_STREQ("701", out);
    ASSERT_TRUE(jsonLookup(json, "cod", 0, out, sizeof out));
    EXPECT_STREQ("404", out);
    EXPECT_FALSE(jsonLookup(json, "id", 0, out, sizeof out));   // only at depth 2
    EXPECT_FALSE(jsonLookup(json, "weather", "speed", out, sizeof out));
    EXPECT_FALSE(jsonLookup("{\"a\":1", "b", 0, out, sizeof out));
    ASSERT_TRUE(jsonLookup("{\"k\":\"abcdefghij\"}", "k", 0, out, 4));
    EXPECT_STREQ("abc", out);
}

}  // namespace
