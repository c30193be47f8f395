// Prepares an installed program's settings for a look at live weather labels
// on the desktop (scripts/run-weather): the wallpaper view becomes a flat
// map labelling Berlin (weather service only) and New York (also its METAR
// station) from the installed city table; the weather settings point at the
// local stand-in server as the HTTP proxy; the program's weather thread
// fetches both cities once; everything is saved where the program loads it.
//   weather_desktop_seed DATA_FOLDER PROGRAM_FOLDER PORT
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "earth/cities.h"
#include "earth/labels.h"
#include "earth/settings.h"
#include "earth/weather.h"
#include "framework/application.h"
#include "framework/utilities.h"

static const char kTemplate[] =
    "^#CCI^ #T24 #TTZ\r\n#WSS32\r\n#WTP #WTU #WDS\r\n#WDL\r\n#WW1 #WWU #WWD\r\n"
    "#WHU% #WAP hPa\r\n#MET1-3";

// The city's line of the installed table (country code and name), or "".
static std::string CityLine(const std::string &table, const char *prefix)
{
    size_t at = table.find(std::string("\n") + prefix);
    if (at == std::string::npos)
        return "";
    size_t end = table.find('\r', at + 1);
    return table.substr(at + 1, end - at - 1);
}

static bool AddCity(ViewOptions *view, const std::string &line, bool keepStation)
{
    CityEntry &city = view->City[view->iCityNumber];
    memset(&city, 0, sizeof city);
    std::string kept = line;
    if (!keepStation) {
        // Only the weather service for this one: drop the station field.
        size_t last = kept.rfind(';');
        if (std::count(kept.begin(), kept.end(), ';') >= 7)
            kept = kept.substr(0, last);
    }
    CopyText(city.cityline, kept.c_str(), sizeof city.cityline);
    if (ParseCityLine(kept.c_str(), &city) != 0)
        return false;
    CopyText(city.text, kTemplate, sizeof city.text);
    city.crtext[0] = RGB(235, 235, 255);
    city.crtext[1] = RGB(20, 20, 40);
    city.crbackground[0] = RGB(30, 40, 70);
    city.crbackground[1] = RGB(255, 255, 225);
    city.crframe[0] = city.crframe[1] = RGB(0, 0, 0);
    city.crarrow[0] = RGB(144, 0, 0);
    city.crarrow[1] = RGB(255, 0, 0);
    city.labelpos = 3;
    city.fontsize = 10;
    city.opacity = 90;
    city.framesize = 1;
    city.arrowsize = 12;
    city.weatherdescr = WEATHER_NOT_AVAILABLE;
    view->iCityNumber++;
    return true;
}

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: weather_desktop_seed DATA_FOLDER PROGRAM_FOLDER PORT\n");
        return 2;
    }
    CopyText(gApp.dataFolder, argv[1], sizeof gApp.dataFolder);
    CopyText((char *)gApp.installRecord + INSTALL_RECORD_INSTALL_PATH, argv[2],
             INSTALL_RECORD_TEXT_BYTES);
    int port = atoi(argv[3]);

    gPrefs = kDefaultPrefs;
    PrefsIO(0);
    CopyText(gPrefs.szWeatherApiKey, "road-test-key", sizeof gPrefs.szWeatherApiKey);
    gPrefs.iWeatherData = 1;
    gPrefs.iMetarData = 1;
    gPrefs.iMetarSource = 1;
    gPrefs.iMetaPreferOWM = 0;
    snprintf(gPrefs.szMetarURL, sizeof gPrefs.szMetarURL,
             "http://127.0.0.1:%d/data/observations/metar/stations/#ICAO#.TXT", port);
    gPrefs.iProxyType = 1;
    CopyText(gPrefs.szProxyServer, "127.0.0.1", sizeof gPrefs.szProxyServer);
    gPrefs.iProxyPort = port;

    char options[2][MAX_PATH];
    for (int i = 0; i < 2; i++)
        snprintf(options[i], sizeof options[i], "%s\\Profile-%s\\Options%d.rgc", gApp.dataFolder,
                 gPrefs.szCurProfile, i);
    if (ViewOptionsIO(0, &gViewLists[0], "%s", options[0]) != 0 || gViewLists[0].count < 1 ||
        ViewOptionsIO(0, &gViewLists[1], "%s", options[1]) != 0) {
        fprintf(stderr, "seed: the program's view lists were not found under %s\n", argv[1]);
        return 1;
    }
    std::string table;
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%s\\Cities.txt", argv[2]);
    FILE *f = fopen(path, "rb");
    if (f) {
        char buffer[65536];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
            table.append(buffer, n);
        fclose(f);
    }
    ViewOptions *view = &gViewLists[0].data[0];
    view->iPrjType = 1;
    view->iViewMode = 0;
    view->bCities = 1;
    view->iCityNumber = 0;
    view->tLastUpdate = 0;
    if (!AddCity(view, CityLine(table, "DE;Berlin;"), false) ||
        !AddCity(view, CityLine(table, "US;New York;"), true)) {
        fprintf(stderr, "seed: Berlin or New York is missing from %s\n", path);
        return 1;
    }
    printf("seed: %s [%s], %s [%s]\n", view->City[0].city, view->City[0].icao,
           view->City[1].city, view->City[1].icao);

    WeatherDownloadThread((LPVOID)(INT_PTR)WEATHER_MODE_NOW);
    printf("seed: weather: %s\nseed: METAR: %s\n", gWeatherStatus, gMetarStatus);
    for (int i = 0; i < 2; i++) {
        const CityEntry &c = view->City[i];
        printf("seed: %s: condition %d (%s), %.1f C, metar \"%s\"\n", c.city,
               kWeatherConditions[c.weatherdescr].code, kWeatherConditions[c.weatherdescr].longText,
               c.temp, c.metar);
    }
    if (PrefsIO(1) != 0 || ViewOptionsIO(1, &gViewLists[0], "%s", options[0]) != 0) {
        fprintf(stderr, "seed: the settings could not be saved\n");
        return 1;
    }
    return strcmp(gWeatherStatus, "Download finished successfully.") == 0 &&
                   strcmp(gMetarStatus, "Download finished successfully.") == 0
               ? 0
               : 1;
}
