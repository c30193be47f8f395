// The weather updater's worker: one pass over the distinct labelled cities,
// the weather service first (up to six requests with ever coarser
// coordinates, since the service sometimes refuses precise ones), then the
// city's METAR station. Values land in every city entry at the same place;
// the first failure of each source is remembered once per series and
// decides the final status text.
#include "earth/weather.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "earth/clouds.h"
#include "earth/labels.h"
#include "earth/metar.h"
#include "framework/seams.h"
#include "earth/settings.h"
#include "framework/application.h"
#include "framework/growarray.h"
#include "framework/utilities.h"

const char kWeatherServiceUrl[] =
    "http://api.openweathermap.org/data/2.5/weather?lat=#LAT#&lon=#LON#&units=metric&APPID=#API#";
const char kMetarPageUrl[] =
    "https://aviationweather.gov/metar/data?ids=#ICAO#&format=raw&hours=0&taf=off&layout=off";

volatile LONG gWeatherBusy;
char gWeatherStatus[WEATHER_STATUS_SIZE] = "Idle";
char gMetarStatus[WEATHER_STATUS_SIZE] = "Idle";

enum { URL_SIZE = 1040, VALUE_SIZE = 64, SERIES_CITY_SIZE = 200, STATUS_WAIT_MS = 5000 };

// The first error of each source in the current series.
struct FirstError {
    int code;
    char city[SERIES_CITY_SIZE];
};
static FirstError sWeatherError, sMetarError;
static char sLastApiKey[260];

// ---------------------------------------------------------------- helpers

static void SetStatus(char *status, const char *text)
{
    CopyText(status, text, WEATHER_STATUS_SIZE);
    gProgressSink.status(text, -1);
}

static void NoteFirstError(FirstError *error, int code, const char *city)
{
    if (error->code != 0 || code == 0)
        return;
    error->code = code;
    CopyText(error->city, city, sizeof error->city);
}

float WindMetresPerSecond(int speed, const char *units)
{
    if (speed == METAR_MISSING_INT)
        return WEATHER_MISSING;
    if (strcmp(units, "KT") == 0)
        return (float)(speed / 1.9438444924);
    if (strcmp(units, "MPS") == 0)
        return (float)speed;
    if (strcmp(units, "KMH") == 0)
        return (float)(speed / 3.6);
    return WEATHER_MISSING;
}

bool weatherDue(int64_t now)
{
    if (gPrefs.iWeatherInterval < WEATHER_MIN_INTERVAL_MINUTES)
        gPrefs.iWeatherInterval = WEATHER_MIN_INTERVAL_MINUTES;
    int64_t interval = (int64_t)gPrefs.iWeatherInterval * 60;
    return now - gPrefs.tWeatherDown > interval && now - gPrefs.tMetarDown > interval;
}

// ---------------------------------------------------------------- transport

struct MemoryBody {
    char *data;
    uint32_t size, capacity;
};

static int AppendBody(void *context, const void *data, uint32_t size)
{
    MemoryBody *body = (MemoryBody *)context;
    if (body->size + size + WEATHER_BODY_SPARE > body->capacity) {
        uint32_t capacity = (body->size + size + WEATHER_BODY_SPARE) * 2;
        char *grown = (char *)realloc(body->data, capacity);
        if (!grown)
            return WEATHER_NO_MEMORY;
        body->data = grown;
        body->capacity = capacity;
    }
    memcpy(body->data + body->size, data, size);
    body->size += size;
    body->data[body->size] = 0;
    return 0;
}

static void ShowFailure(int code, bool forMetar)
{
    char text[WEATHER_STATUS_SIZE], line[WEATHER_STATUS_SIZE];
    DownloadResultText(code, text, sizeof text);
    snprintf(line, sizeof line, "%s.", text);
    SetStatus(forMetar ? gMetarStatus : gWeatherStatus, line);
}

int downloadToMemory(const char *url, char **out, bool forMetar)
{
    *out = 0;
    HttpFileRequest request = {};
    request.url = url;
    FillHttpProxy(&request);
    MemoryBody body = {(char *)calloc(1, WEATHER_BODY_SPARE), 0, WEATHER_BODY_SPARE};
    if (!body.data)
        return WEATHER_NO_MEMORY;
    request.body = AppendBody;
    request.context = &body;
    int result = CloudsHttpGetToFile(&request);
    if (result != 0) {
        free(body.data);
        if (result != WEATHER_NO_MEMORY)
            ShowFailure(result, forMetar);
        return result;
    }
    *out = body.data;
    return 0;
}

// ---------------------------------------------------------------- JSON

// The closing quote of the text that starts at p, escapes skipped.
static const char *ClosingQuote(const char *p)
{
    for (; *p; p++) {
        if (*p == '\\' && p[1])
            p++;
        else if (*p == '"')
            return p;
    }
    return 0;
}

// The position just after the quoted name at brace depth wanted, scanning
// from p at brace depth depth, or null. A sub-key search (within) stops at
// the end of the key's own value: a comma or closing brace back at the
// starting depth.
static const char *FindKey(const char *p, int depth, const char *name, int wanted, bool within)
{
    int start = depth, brackets = 0;
    size_t length = strlen(name);
    for (; *p; p++) {
        switch (*p) {
        case '{':
            depth++;
            break;
        case '}':
            if (--depth < start || (within && depth == start && brackets == 0))
                return 0;
            break;
        case '[':
            brackets++;
            break;
        case ']':
            brackets--;
            break;
        case ',':
            if (within && depth == start && brackets == 0)
                return 0;
            break;
        case '"': {
            const char *text = p + 1;
            const char *end = ClosingQuote(text);
            if (!end)
                return 0;
            if (depth == wanted && (size_t)(end - text) == length &&
                strncmp(text, name, length) == 0)
                return end + 1;
            p = end;
            break;
        }
        }
    }
    return 0;
}

bool jsonLookup(const char *text, const char *key, const char *subkey, char *out, int size)
{
    if (!text || size < 1)
        return false;
    const char *p = FindKey(text, 0, key, 1, false);
    if (p && subkey)
        p = FindKey(p, 1, subkey, 2, true);
    if (!p)
        return false;
    while (*p == ' ' || *p == ':' || *p == '\t')
        p++;
    // A quoted value runs to its closing quote (so a decimal comma inside
    // survives); a bare one to a comma or a closing brace.
    int used = 0;
    if (*p == '"') {
        const char *end = ClosingQuote(p + 1);
        for (p++; *p && p != end; p++)
            if (used < size - 1)
                out[used++] = *p;
    } else {
        for (; *p && *p != ',' && *p != '}' && *p != ']'; p++)
            if (used < size - 1)
                out[used++] = *p;
    }
    out[used] = 0;
    return true;
}

static bool JsonNumber(const char *text, const char *key, const char *subkey, float *value)
{
    char buffer[VALUE_SIZE];
    if (!jsonLookup(text, key, subkey, buffer, sizeof buffer) || !buffer[0])
        return false;
    for (char *c = buffer; *c; c++)
        if (*c == ',')
            *c = '.';   // a decimal comma
    char *end;
    double number = strtod(buffer, &end);
    if (end == buffer)
        return false;
    *value = (float)number;
    return true;
}

// ---------------------------------------------------------------- cities

struct DistinctCity {
    CityEntry *city;
    int64_t lupd;
};

template <class Visit> static void ForEachCity(bool labelledOnly, Visit visit)
{
    for (int list = 0; list < 2; list++)
        for (int v = 0; v < gViewLists[list].count; v++) {
            ViewOptions *view = &gViewLists[list].data[v];
            if (labelledOnly && !view->bCities)
                continue;
            int count = view->iCityNumber < VIEW_CITIES ? view->iCityNumber : VIEW_CITIES;
            for (int i = 0; i < count; i++)
                visit(&view->City[i]);
        }
}

static void CollectCities(CGrowArray<DistinctCity> *cities)
{
    ForEachCity(true, [&](CityEntry *city) {
        for (int i = 0; i < cities->count; i++) {
            DistinctCity &known = cities->data[i];
            if (strcmp(known.city->cityline, city->cityline) == 0) {
                if (city->lupd < known.lupd)
                    known.lupd = city->lupd;
                return;
            }
        }
        DistinctCity entry = {city, city->lupd};
        cities->Add(entry);
    });
}

static bool SamePlace(const CityEntry *a, const CityEntry *b)
{
    return a->lat == b->lat && a->lon == b->lon;
}

struct WeatherValues {
    int condition;   // table index, WEATHER_NOT_AVAILABLE when none
    float temp, pressure, humidity, wind, winddir;
};

static void StoreWeather(const CityEntry *place, const WeatherValues &values, int64_t now,
                         const char *metar)
{
    ForEachCity(false, [&](CityEntry *city) {
        if (!SamePlace(city, place))
            return;
        city->weatherdescr = values.condition;
        city->temp = values.temp;
        city->pressure = values.pressure;
        city->humidity = values.humidity;
        city->wind = values.wind;
        city->winddir = values.winddir;
        city->lupd = now;
        if (metar)
            CopyText(city->metar, metar, sizeof city->metar);
    });
}

// ---------------------------------------------------------------- one city

static bool ServiceAnswer(const char *body, WeatherValues *values, int *cod)
{
    char code[VALUE_SIZE];
    *cod = jsonLookup(body, "cod", 0, code, sizeof code) ? atoi(code) : 0;
    if (*cod != 200)
        return false;
    float id = 0;
    values->condition = JsonNumber(body, "weather", "id", &id)
                            ? WeatherConditionIndex((int32_t)id)
                            : WEATHER_NOT_AVAILABLE;
    values->temp = values->pressure = values->humidity = values->wind = values->winddir =
        WEATHER_MISSING;
    JsonNumber(body, "main", "temp", &values->temp);
    JsonNumber(body, "main", "pressure", &values->pressure);
    JsonNumber(body, "main", "humidity", &values->humidity);
    JsonNumber(body, "wind", "speed", &values->wind);
    JsonNumber(body, "wind", "deg", &values->winddir);
    return true;
}

// The weather service for one city; true when its values were stored.
static bool FetchServiceWeather(CityEntry *city, int64_t now)
{
    int lastCod = 0;
    for (int decimals = WEATHER_PRECISIONS; decimals >= 1; decimals--) {
        char url[URL_SIZE], lat[VALUE_SIZE], lon[VALUE_SIZE];
        CopyText(url, kWeatherServiceUrl, sizeof url);
        snprintf(lat, sizeof lat, "%.*f", decimals, city->lat);
        snprintf(lon, sizeof lon, "%.*f", decimals, city->lon);
        ReplaceAllTruncate(url, sizeof url, "#LAT#", lat, true);
        ReplaceAllTruncate(url, sizeof url, "#LON#", lon, true);
        ReplaceAllTruncate(url, sizeof url, "#API#", gPrefs.szWeatherApiKey, true);
        char *body = 0;
        int result = downloadToMemory(url, &body, false);
        if (result != 0) {
            NoteFirstError(&sWeatherError, result, city->city);
            return false;
        }
        WeatherValues values;
        bool ok = ServiceAnswer(body, &values, &lastCod);
        free(body);
        if (ok) {
            StoreWeather(city, values, now, 0);
            return true;
        }
    }
    // No "cod" of 200 at any precision: a numeric one is a request failure
    // with its text; none at all is a parsing error.
    if (lastCod >= WEATHER_REQUEST_CODES)
        ShowFailure(lastCod, false);
    NoteFirstError(&sWeatherError, lastCod != 0 ? lastCod : -1, city->city);
    return false;
}

int ExtractMetarReport(const char *text, const char *icao, bool page, char *out, int size)
{
    out[0] = 0;
    const char *start = text, *end = text + strlen(text);
    if (page) {
        const char *marker = strstr(text, "<!-- Data starts here -->");
        if (!marker)
            return METAR_NO_MARKER;
        start = strstr(marker, "<code>");
        if (!start)
            return METAR_NO_CODE_START;
        start += 6;
        end = strstr(start, "</code>");
        if (!end)
            return METAR_NO_CODE_END;
    }
    const char *report = icao[0] ? strstr(start, icao) : 0;
    if (!report || report >= end)
        return METAR_NO_CODE_START;
    int used = 0;
    for (const char *p = report; p < end && *p != '\r' && *p != '\n' && used < size - 1; p++)
        out[used++] = *p;
    out[used] = 0;
    return 0;
}

static int UtcDay(int64_t t)
{
    time_t when = (time_t)t;
    struct tm *utc = gmtime(&when);
    return utc ? utc->tm_mday : 0;
}

// serviceAnswered: the weather service gave this run's values for the city;
// without them the report's condition is taken even when the service's is
// preferred.
static void MetarValues(const MetarReport &report, const CityEntry *city, bool serviceAnswered,
                        WeatherValues *values)
{
    *values = {city->weatherdescr, city->temp, city->pressure, city->humidity, city->wind,
               city->winddir};
    bool useCondition = !gPrefs.iMetaPreferOWM || gPrefs.iMetarData == 2 || !serviceAnswered ||
                        city->weatherdescr == WEATHER_NOT_AVAILABLE;
    if (useCondition)
        values->condition = WeatherConditionIndex(WeatherConditionCode(&report));
    if (report.temperature != METAR_MISSING_INT)
        values->temp = (float)report.temperature;
    if (report.hasQnh && report.qnh != METAR_MISSING_INT)
        values->pressure = (float)report.qnh;
    else if (report.hasAltimeter && report.altimeter != METAR_MISSING_INCHES)
        values->pressure = (float)(report.altimeter * 33.863788);
    else
        values->pressure = WEATHER_MISSING;
    values->humidity = RelativeHumidity(&report);
    bool gust = report.windGust != METAR_MISSING_INT && report.windGust > 0;
    values->wind = WindMetresPerSecond(gust ? report.windGust : report.windSpeed,
                                       report.windUnits);
    values->winddir = report.windDirection != METAR_MISSING_INT ? (float)report.windDirection
                                                                : WEATHER_MISSING;
}

// The station's report for one city; true when its values were stored.
static bool FetchMetar(CityEntry *city, int64_t now, bool serviceAnswered)
{
    const char *pending = gApp.strings.GetText(107, 3);
    CopyText(city->metar, pending ? pending : "", sizeof city->metar);
    char url[URL_SIZE];
    bool page = gPrefs.iMetarSource == 0;
    CopyText(url, page ? kMetarPageUrl : gPrefs.szMetarURL, sizeof url);
    ReplaceAllTruncate(url, sizeof url, "#ICAO#", city->icao, true);
    char *body = 0;
    int result = downloadToMemory(url, &body, true);
    if (result != 0) {
        NoteFirstError(&sMetarError, result, city->icao);
        return false;
    }
    char text[260];
    result = ExtractMetarReport(body, city->icao, page, text, sizeof text);
    free(body);
    static MetarReport report;   // the weather thread is the only caller
    if (result == 0 && DecodeMetar(text, &report) != METAR_OK)
        result = METAR_NO_CODE_START;
    if (result != 0) {
        NoteFirstError(&sMetarError, result, city->icao);
        return false;
    }
    if (report.day != UtcDay(gPrefs.tWeatherCheck))
        return false;   // an old report changes nothing
    WeatherValues values;
    MetarValues(report, city, serviceAnswered, &values);
    StoreWeather(city, values, now, text);
    return true;
}

// ---------------------------------------------------------------- the run

static void ShowCityProgress(int i, int n)
{
    char text[WEATHER_STATUS_SIZE];
    snprintf(text, sizeof text, "Downloading weather for city %d of %d", i + 1, n);
    int percent = (i + 1) * 100 / n;
    if (sWeatherError.code == 0)
        CopyText(gWeatherStatus, text, sizeof gWeatherStatus);
    if (gPrefs.iMetarData && sMetarError.code == 0)
        CopyText(gMetarStatus, text, sizeof gMetarStatus);
    gProgressSink.status(text, percent);
}

static void FinishWeatherStatus(bool updated)
{
    char text[WEATHER_STATUS_SIZE];
    int code = sWeatherError.code;
    if (code == 0) {
        SetStatus(gWeatherStatus,
                  updated ? "Download finished successfully." : "No new data available");
        if (updated)
            gPrefs.tWeatherDown = gPrefs.tWeatherCheck;
    } else if (code == 401) {
        SetStatus(gWeatherStatus, gPrefs.szWeatherApiKey[0] ? "Download failed (invalid API key)"
                                                           : "Download failed (missing API key)");
    } else if (code < WEATHER_REQUEST_CODES) {
        snprintf(text, sizeof text, "Download failed (weather parsing error, city: %s )",
                 sWeatherError.city);
        SetStatus(gWeatherStatus, text);
    }
    // Other request codes: the download's own text stays.
}

static void FinishMetarStatus(bool updated)
{
    char text[WEATHER_STATUS_SIZE];
    int code = sMetarError.code;
    if (code == 0) {
        SetStatus(gMetarStatus,
                  updated ? "Download finished successfully." : "No new data available");
        if (updated)
            gPrefs.tMetarDown = gPrefs.tWeatherCheck;
    } else if (code < WEATHER_REQUEST_CODES) {
        snprintf(text, sizeof text, "Download failed (metar parsing error, ICAO: %s )",
                 sMetarError.city);
        SetStatus(gMetarStatus, text);
    }
}

// Weather requests stop for the run once a request failure is recorded.
static bool WeatherRequestsAllowed()
{
    return gPrefs.iMetarData != 2 && sWeatherError.code < WEATHER_REQUEST_CODES;
}

static void RunSeries(bool forced, int64_t now, bool *weatherUpdated, bool *metarUpdated)
{
    CGrowArray<DistinctCity> cities;
    CollectCities(&cities);
    int64_t interval = (int64_t)gPrefs.iWeatherInterval * 60;
    for (int i = 0; i < cities.count; i++) {
        CityEntry *city = cities.data[i].city;
        if (!forced && now - cities.data[i].lupd <= interval)
            continue;
        ShowCityProgress(i, cities.count);
        // The shown condition stays as it was while the requests run: a
        // render meanwhile (the first one after a start, say) must not catch
        // the label without its weather. Only when neither source answers
        // does the condition become not available.
        bool service = WeatherRequestsAllowed() && FetchServiceWeather(city, now);
        bool metar = gPrefs.iMetarData && city->icao[0] && FetchMetar(city, now, service);
        *weatherUpdated |= service;
        *metarUpdated |= metar;
        bool answered = service || metar;
        if (!answered)
            city->weatherdescr = WEATHER_NOT_AVAILABLE;
    }
    cities.RemoveAll();
}

DWORD WINAPI WeatherDownloadThread(LPVOID parameter)
{
    int mode = (int)(INT_PTR)parameter;
    int64_t now = (int64_t)time(0);
    bool due = mode == WEATHER_MODE_NOW || weatherDue(now);
    if (mode >= WEATHER_MODE_AUTO && mode <= WEATHER_MODE_NOW)
        gPrefs.tWeatherCheck = now;
    bool forced = mode == WEATHER_MODE_NOW;
    if (strcmp(sLastApiKey, gPrefs.szWeatherApiKey) != 0) {
        CopyText(sLastApiKey, gPrefs.szWeatherApiKey, sizeof sLastApiKey);
        forced = due = true;
        sWeatherError = sMetarError = FirstError();
    }
    if (due)
        sWeatherError = sMetarError = FirstError();
    bool weatherUpdated = false, metarUpdated = false;
    if (due)
        RunSeries(forced, now, &weatherUpdated, &metarUpdated);
    FinishWeatherStatus(weatherUpdated);
    if (gPrefs.iMetarData)
        FinishMetarStatus(metarUpdated);
    HWND status = gProgressSink.window();
    if (status)
        SendMessageTimeoutA(status, PROGRESS_REFRESH_MESSAGE, 0, 0, SMTO_ABORTIFHUNG,
                            STATUS_WAIT_MS, 0);
    int result = sWeatherError.code ? sWeatherError.code : sMetarError.code;
    InterlockedExchange(&gWeatherBusy, 0);
    return (DWORD)(result > 0 ? result : 0);
}

int StartWeatherDownload(int mode)
{
    if (InterlockedCompareExchange(&gWeatherBusy, 1, 0) != 0)
        return WEATHER_BUSY;
    HANDLE thread = CreateThread(0, 0, WeatherDownloadThread, (LPVOID)(INT_PTR)mode, 0, 0);
    if (!thread) {
        gWeatherBusy = 0;
        return WEATHER_NO_THREAD;
    }
    CloseHandle(thread);
    return 0;
}
