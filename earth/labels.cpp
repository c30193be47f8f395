// City labels from template to pixels: the weather condition table, the
// expansion of a label's #-tokens (clock, date, sun times, weather, METAR
// words) into its lines, the projection of a city onto the rendered picture,
// and the measuring, drawing and blending of the label boxes into it, with
// the weather icons loaded once and kept for the run. Kept together because
// the measuring and the drawing must agree on every line.
#include "earth/labels.h"
#include "framework/bytes.h"

#include <math.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "earth/cities.h"
#include "earth/ephemeris.h"
#include "earth/sunrise.h"

const WeatherCondition kWeatherConditions[WEATHER_CONDITIONS] = {
    {200, "Thunderstorm", "Thunderstorm with light rain", {30, 32, 50, 35}},
    {201, "Thunderstorm", "Thunderstorm with rain", {30, 31, 32, 51, 35}},
    {202, "Thunderstorm", "Thunderstorm with heavy rain", {30, 31, 32, 33, 52, 35}},
    {210, "Thunderstorm", "Light thunderstorm", {30, 32, 51, 35}},
    {211, "Thunderstorm", "Thunderstorm", {30, 31, 32, 51, 35}},
    {212, "Thunderstorm", "Heavy thunderstorm", {30, 31, 32, 33, 51, 35}},
    {221, "Thunderstorm", "Ragged thunderstorm", {3, 30, 32, 51, 35}},
    {230, "Thunderstorm", "Thunderstorm with light drizzle", {30, 32, 40, 35}},
    {231, "Thunderstorm", "Thunderstorm with drizzle", {30, 31, 32, 41, 35}},
    {232, "Thunderstorm", "Thunderstorm with heavy drizzle", {30, 31, 32, 33, 42, 35}},
    {300, "Drizzle", "Light intensity drizzle", {20, 22, 40}},
    {301, "Drizzle", "Drizzle", {20, 21, 22, 41}},
    {302, "Drizzle", "Heavy intensity drizzle", {20, 21, 22, 23, 42}},
    {310, "Drizzle", "Light intensity drizzle rain", {20, 22, 40}},
    {311, "Drizzle", "Drizzle rain", {20, 21, 22, 41}},
    {312, "Drizzle", "Heavy intensity drizzle rain", {20, 21, 22, 23, 42}},
    {313, "Drizzle", "Shower rain and drizzle", {3, 20, 22, 51}},
    {314, "Drizzle", "Heavy shower rain and drizzle", {3, 20, 22, 23, 52}},
    {321, "Drizzle", "Shower drizzle", {3, 20, 22, 41}},
    {500, "Rain", "Light rain", {20, 22, 50}},
    {501, "Rain", "Moderate rain", {20, 21, 22, 51}},
    {502, "Rain", "Heavy intensity rain", {20, 21, 22, 23, 52}},
    {503, "Rain", "Very heavy rain", {20, 21, 22, 23, 52}},
    {504, "Rain", "Extreme rain", {20, 21, 32, 23, 52}},
    {511, "Rain", "Freezing rain", {20, 21, 22, 81}},
    {520, "Rain", "Light intensity shower rain", {3, 20, 22, 50}},
    {521, "Rain", "Shower rain", {3, 20, 22, 51}},
    {522, "Rain", "Heavy intensity shower rain", {3, 20, 22, 23, 52}},
    {531, "Rain", "Ragged shower rain", {3, 20, 21, 23, 51}},
    {600, "Snow", "Light snow", {20, 22, 70}},
    {601, "Snow", "Snow", {20, 21, 22, 71}},
    {602, "Snow", "Heavy snow", {20, 21, 22, 23, 72}},
    {611, "Snow", "Sleet", {20, 21, 22, 61}},
    {612, "Snow", "Light shower sleet", {3, 20, 22, 60}},
    {613, "Snow", "Shower sleet", {3, 20, 22, 61}},
    {615, "Snow", "Light rain and snow", {20, 22, 60}},
    {616, "Snow", "Rain and snow", {20, 21, 22, 61}},
    {620, "Snow", "Light shower snow", {3, 20, 22, 70}},
    {621, "Snow", "Shower snow", {3, 20, 22, 71}},
    {622, "Snow", "Heavy shower snow", {3, 20, 22, 23, 72}},
    {701, "Mist", "Mist", {102}},
    {711, "Smoke", "Smoke", {105}},
    {721, "Haze", "Haze", {103}},
    {731, "Dust", "Sand / dust whirls", {101}},
    {741, "Fog", "Fog", {102}},
    {751, "Sand", "Sand", {101}},
    {761, "Dust", "Dust", {101}},
    {762, "Ash", "Volcanic ash", {100}},
    {771, "Squall", "Squalls", {107}},
    {781, "Tornado", "Tornado", {106}},
    {800, "Clear", "Clear sky", {1}},
    {801, "Clouds", "Few clouds", {1, 10}},
    {802, "Clouds", "Scattered clouds", {1, 10, 11}},
    {803, "Clouds", "Broken clouds", {1, 10, 11, 12}},
    {804, "Clouds", "Overcast clouds", {10, 11, 12, 13}},
    {900, "Tornado", "Tornado", {106}},
    {901, "Tropical storm", "Tropical storm", {104}},
    {902, "Hurricane", "Hurricane", {104}},
    {903, "Cold", "Cold", {1}},
    {904, "Hot", "Hot", {1}},
    {905, "Windy", "Windy", {107}},
    {906, "Hail", "Hail", {30, 31, 32, 91}},
    {951, "Calm", "Calm", {1}},
    {952, "Light breeze", "Light breeze", {1}},
    {953, "Gentle breeze", "Gentle breeze", {1}},
    {954, "Moderate breeze", "Moderate breeze", {1}},
    {955, "Fresh breeze", "Fresh breeze", {1}},
    {956, "Strong breeze", "Strong breeze", {1}},
    {957, "High wind", "High wind, near gale", {107}},
    {958, "Gale", "Gale", {107}},
    {959, "Severe gale", "Severe gale", {107}},
    {960, "Storm", "Storm", {107}},
    {961, "Violent storm", "Violent storm", {107}},
    {962, "Hurricane", "Hurricane", {104}},
    {999, "n/a", "Not available", {999}},
};

static const char kWeekdays[2][7][10] = {
    {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"},
    {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"},
};

// The weather service's and the METAR decoder's marker of a missing value.
static const double kMissingValue = 2147483648.0;

int WeatherConditionIndex(int32_t code)
{
    for (int i = 0; i < WEATHER_CONDITIONS; i++)
        if (kWeatherConditions[i].code == code)
            return i;
    return WEATHER_NOT_AVAILABLE;
}

int WeatherIconForTime(int icon, bool isday)
{
    if (!isday && (icon == 1 || icon == 3))
        return icon + 1;
    return icon;
}

// Civil date of a day count from 1970-01-01; valid far beyond 2038.
static void CivilFromDays(int64_t days, int *year, int *month, int *day)
{
    days += 719468;
    int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    int64_t doe = days - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    *day = (int)(doy - (153 * mp + 2) / 5 + 1);
    *month = (int)(mp < 10 ? mp + 3 : mp - 9);
    *year = (int)(yoe + era * 400 + (*month <= 2));
}

static int64_t FloorDiv(int64_t a, int64_t b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

void formatClock(int64_t seconds, bool twelveHour, char *out, int size)
{
    int64_t ofDay = seconds - FloorDiv(seconds, 86400) * 86400;
    int hour = (int)(ofDay / 3600), minute = (int)(ofDay / 60 % 60);
    if (!twelveHour) {
        snprintf(out, size, "%02d:%02d", hour, minute);
        return;
    }
    int h12 = hour % 12 ? hour % 12 : 12;
    snprintf(out, size, "%02d:%02d %s", h12, minute, hour < 12 ? "am" : "pm");
}

const char *DayOfWeekName(int day, int month, int year, int set)
{
    // Days from 1970-01-01 (a Thursday) by the inverse of CivilFromDays.
    int y = month <= 2 ? year - 1 : year;
    int era = (y >= 0 ? y : y - 399) / 400;
    int yoe = y - era * 400;
    int doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    int64_t days = (int64_t)era * 146097 + doe - 719468;
    int weekday = (int)((days % 7 + 7 + 3) % 7);   // 0 Monday
    return kWeekdays[set ? 1 : 0][weekday];
}

// A bounded writer for one label line.
struct LineWriter {
    char *text;
    int length;
};

static void PutBytes(LineWriter *w, const char *bytes, int n)
{
    if (w->length + n > LABEL_LINE_CHARS)
        n = LABEL_LINE_CHARS - w->length;
    if (n <= 0)
        return;
    memcpy(w->text + w->length, bytes, n);
    w->length += n;
    w->text[w->length] = 0;
}

static void PutText(LineWriter *w, const char *text)
{
    PutBytes(w, text, (int)strlen(text));
}

// Control pairs must not be cut in half at the end of a line.
static void PutPair(LineWriter *w, unsigned char a, unsigned char b)
{
    if (w->length + 2 > LABEL_LINE_CHARS)
        return;
    char pair[2] = {(char)a, (char)b};
    PutBytes(w, pair, 2);
}

// Everything a template's tokens print, worked out once per expansion.
struct LabelContext {
    CityEntry *city;
    int64_t local;
    int year, month, day;
    bool weatherValid;
    int sun[8];   // rise/set seconds from 0:00 UTC: upper limb, civil, nautical, astronomical
};

static void PutValue(LineWriter *w, const LabelContext *c, double value, const char *format)
{
    char out[48];
    if (!c->weatherValid || value >= kMissingValue || value != value) {
        PutText(w, "?");
        return;
    }
    snprintf(out, sizeof out, format, value);
    PutText(w, out);
}

static double FeltCelsius(double t, double windKmh)
{
    if (windKmh > 4.8 && t <= 10) {
        double v = pow(windKmh, 0.16);
        return 13.12 + 0.6215 * t - 11.37 * v + 0.3965 * t * v;
    }
    return t;
}

static double InUnits(double celsius)
{
    return gPrefs.iWeatherUnits ? celsius * 1.8 + 32 : celsius;
}

static double WindInUnits(double ms, int units)
{
    static const double factor[4] = {1, 3.6, 2.2369362921, 1.9438444924};
    return ms * factor[units >= 0 && units < 4 ? units : 0];
}

static void PutSunTime(LineWriter *w, const LabelContext *c, int index)
{
    if (!c->sun[index]) {
        PutText(w, "-");
        return;
    }
    char out[16];
    formatClock((int64_t)c->sun[index] + c->city->utcoff, gPrefs.iTimeFmt != 0, out, sizeof out);
    PutText(w, out);
}

static void PutDate(LineWriter *w, const LabelContext *c, bool monthFirst)
{
    char out[32];
    if (monthFirst)
        snprintf(out, sizeof out, "%02d/%02d/%04d", c->month, c->day, c->year);
    else
        snprintf(out, sizeof out, "%02d.%02d.%04d", c->day, c->month, c->year);
    PutText(w, out);
}

static void PutNumber(LineWriter *w, const char *format, int value)
{
    char out[16];
    snprintf(out, sizeof out, format, value);
    PutText(w, out);
}

// Words first..last (from 1) of the METAR text, separated by blanks.
static void PutMetarWords(LineWriter *w, const char *metar, int first, int last)
{
    int word = 0;
    bool wrote = false;
    const char *p = metar;
    while (*p) {
        while (*p == ' ')
            p++;
        if (!*p)
            break;
        const char *start = p;
        while (*p && *p != ' ')
            p++;
        word++;
        if (word < first || word > last)
            continue;
        if (wrote)
            PutText(w, " ");
        PutBytes(w, start, (int)(p - start));
        wrote = true;
    }
}

// Up to maxDigits digits at *p; returns the fallback when there are none.
static int ReadDigits(const char **p, int maxDigits, int fallback)
{
    int value = 0, n = 0;
    while (n < maxDigits && **p >= '0' && **p <= '9') {
        value = value * 10 + (**p - '0');
        (*p)++;
        n++;
    }
    return n ? value : fallback;
}

// "#MET[n]-[m]" and "#WSSn" read on past their four characters.
static const char *PutVariableToken(LineWriter *w, const LabelContext *c, const char *p)
{
    if (!strncmp(p, "#WSS", 4)) {
        const char *q = p + 4;
        int n = ReadDigits(&q, 3, -1);
        if (n < 0)
            return 0;
        PutPair(w, LABEL_ICON_SIZE, (unsigned char)(n < 1 ? 1 : n > 255 ? 255 : n));
        return q;
    }
    if (!strncmp(p, "#MET", 4)) {
        const char *q = p + 4;
        int first = ReadDigits(&q, 2, 1);
        int last = 99;
        if (*q == '-') {
            q++;
            last = ReadDigits(&q, 2, 99);
        }
        if (c->weatherValid)
            PutMetarWords(w, c->city->metar, first, last);
        else
            PutText(w, "?");
        return q;
    }
    return 0;
}

// Tokens of the city and its clock; false when the token is not one of them.
static bool PutCityToken(LineWriter *w, const LabelContext *c, const char *t, char *justify)
{
    const CityEntry *city = c->city;
    char out[16];
    if (!strncmp(t, "CCI", 3)) PutText(w, city->city);
    else if (!strncmp(t, "CST", 3)) PutText(w, city->state);
    else if (!strncmp(t, "CCO", 3)) PutText(w, city->country);
    else if (!strncmp(t, "CCC", 3)) PutText(w, city->ccode);
    else if (!strncmp(t, "CIC", 3)) PutText(w, city->icao);
    else if (!strncmp(t, "TTM", 3) || !strncmp(t, "T24", 3) || !strncmp(t, "TAP", 3)) {
        bool twelve = t[1] == 'A' || (t[1] == 'T' && gPrefs.iTimeFmt);
        formatClock(c->local, twelve, out, sizeof out);
        PutText(w, out);
    }
    else if (!strncmp(t, "TTZ", 3)) PutText(w, city->tzabbr);
    else if (!strncmp(t, "DDT", 3)) PutDate(w, c, gPrefs.iDateFmt == 1);
    else if (!strncmp(t, "DDD", 3)) PutDate(w, c, false);
    else if (!strncmp(t, "DMM", 3)) PutDate(w, c, true);
    else if (!strncmp(t, "DDY", 3)) PutNumber(w, "%02d", c->day);
    else if (!strncmp(t, "DMO", 3)) PutNumber(w, "%02d", c->month);
    else if (!strncmp(t, "DYR", 3)) PutNumber(w, "%04d", c->year);
    else if (!strncmp(t, "DW3", 3) || !strncmp(t, "DWD", 3))
        PutText(w, DayOfWeekName(c->day, c->month, c->year, t[2] == 'D'));
    else if (!strncmp(t, "LHM", 3)) PutText(w, "\xfd");
    else if (!strncmp(t, "LHP", 3)) PutText(w, "\xfe");
    else if (!strncmp(t, "LJL", 3)) *justify = LABEL_JUSTIFY_LEFT;
    else if (!strncmp(t, "LJR", 3)) *justify = LABEL_JUSTIFY_RIGHT;
    else return false;
    return true;
}

// Sun and weather tokens; false when the token is not one of them.
static bool PutSkyToken(LineWriter *w, const LabelContext *c, const char *t)
{
    static const char kSun[8][4] = {"SSR", "SSS", "SCR", "SCS", "SNR", "SNS", "SAR", "SAS"};
    for (int i = 0; i < 8; i++)
        if (!strncmp(t, kSun[i], 3)) {
            PutSunTime(w, c, i);
            return true;
        }
    const CityEntry *city = c->city;
    const WeatherCondition *shown = &kWeatherConditions[city->shown];
    double temp = city->temp, wind = city->wind;
    bool tempOk = temp < kMissingValue, windOk = wind < kMissingValue;
    double felt = tempOk && windOk ? FeltCelsius(temp, wind * 3.6) : temp;
    if (!strncmp(t, "WTP", 3)) PutValue(w, c, tempOk ? InUnits(temp) : temp, "%.1f");
    else if (!strncmp(t, "WTU", 3)) PutText(w, gPrefs.iWeatherUnits ? "F" : "C");
    else if (!strncmp(t, "WTC", 3)) PutValue(w, c, temp, "%.1f");
    else if (!strncmp(t, "WTF", 3)) PutValue(w, c, tempOk ? temp * 1.8 + 32 : temp, "%.1f");
    else if (!strncmp(t, "WWC", 3)) PutValue(w, c, tempOk ? InUnits(felt) : felt, "%.1f");
    // Stale weather prints the same marker for both lengths.
    else if (!strncmp(t, "WDS", 3)) PutText(w, c->weatherValid ? shown->shortText : "n/a");
    else if (!strncmp(t, "WDL", 3)) PutText(w, c->weatherValid ? shown->longText : "n/a");
    else if (!strncmp(t, "WWI", 3))
        PutValue(w, c, windOk ? WindInUnits(wind, gPrefs.iWindUnits) : wind, "%.1f");
    else if (!strncmp(t, "WWU", 3)) {
        static const char *kUnits[4] = {"m/s", "km/h", "mph", "knots"};
        int u = gPrefs.iWindUnits;
        PutText(w, kUnits[u >= 0 && u < 4 ? u : 0]);
    }
    else if (t[0] == 'W' && t[1] == 'W' && t[2] >= '1' && t[2] <= '4')
        PutValue(w, c, windOk ? WindInUnits(wind, t[2] - '1') : wind, "%.1f");
    else if (!strncmp(t, "WWD", 3)) PutValue(w, c, city->winddir, "%.0f");
    else if (!strncmp(t, "WHU", 3)) PutValue(w, c, city->humidity, "%.0f");
    else if (!strncmp(t, "WAP", 3)) PutValue(w, c, city->pressure, "%.0f");
    else return false;
    return true;
}

// One rise/set pair in seconds from 0:00 UTC; 0 for events that do not happen.
static void SunPair(const LabelContext *c, bool upperLimb, double altitude, int *out)
{
    double rise = 0, set = 0;
    int result = sunRiseSet(c->year, c->month, c->day, upperLimb, c->city->lon, c->city->lat,
                            altitude, &rise, &set);
    out[0] = out[1] = 0;
    if (result != SUN_RISES_AND_SETS)
        return;
    out[0] = (int)((rise + 0.005) * 3600);
    out[1] = (int)((set + 0.005) * 3600);
}

static void ComputeSunTimes(LabelContext *c)
{
    SunPair(c, true, -0.5833333333333334, &c->sun[0]);
    SunPair(c, false, -6, &c->sun[2]);
    SunPair(c, false, -12, &c->sun[4]);
    SunPair(c, false, -18, &c->sun[6]);
}

static void PrepareContext(LabelContext *c, CityEntry *city, int64_t renderTime, int64_t now)
{
    memset(c, 0, sizeof *c);
    c->city = city;
    c->local = renderTime + city->utcoff;
    CivilFromDays(FloorDiv(c->local, 86400), &c->year, &c->month, &c->day);
    c->weatherValid = now - city->lupd <= (int64_t)gPrefs.iWeatherValid * 60;
    // The updater stores the table row, not the service's code.
    bool row = city->weatherdescr >= 0 && city->weatherdescr < WEATHER_CONDITIONS;
    city->shown = c->weatherValid && row ? city->weatherdescr : WEATHER_NOT_AVAILABLE;
    if (strstr(city->text, "#S"))
        ComputeSunTimes(c);
}

// One token at p (a "#"); returns where the walk goes on.
static const char *PutToken(LineWriter *w, const LabelContext *c, const char *p, char *justify)
{
    const char *after = PutVariableToken(w, c, p);
    if (after)
        return after;
    if (p[1] && p[2] && p[3] &&
        (PutCityToken(w, c, p + 1, justify) || PutSkyToken(w, c, p + 1)))
        return p + 4;
    PutText(w, "#");
    return p + 1;
}

void expandLabelTextAt(CityEntry *city, int64_t renderTime, int64_t now)
{
    LabelContext c;
    PrepareContext(&c, city, renderTime, now);
    memset(city->line, 0, sizeof city->line);
    int line = 0;
    LineWriter w = {city->line[0], 0};
    // A terminated copy, so tokens can look ahead safely.
    char text[sizeof city->text + 1];
    memcpy(text, city->text, sizeof city->text);
    text[sizeof city->text] = 0;
    const char *p = text;
    while (*p) {
        if (p[0] == '\r' && p[1] == '\n') {
            if (++line == CITY_LABEL_LINES)
                break;
            w.text = city->line[line];
            w.length = 0;
            p += 2;
        } else if (p[0] == '#') {
            p = PutToken(&w, &c, p, &city->line[line][LABEL_JUSTIFY_BYTE]);
        } else {
            PutBytes(&w, p, 1);
            p++;
        }
    }
    city->maxline = line < CITY_LABEL_LINES ? line + 1 : CITY_LABEL_LINES;
}

void expandLabelText(CityEntry *city, int64_t renderTime)
{
    expandLabelTextAt(city, renderTime, (int64_t)time(0));
}

static const double kPi = 3.14159265358979323846;

// Flat map: map pixel, wrapped into the map area, scaled to the desktop area.
static void ProjectFlat(const ViewOptions *view, double lat, double lon, int *x, int *y)
{
    const int32_t *m = view->iMapArea, *d = view->iDtpArea;
    double xMap = (lon + kPi) * view->iMapW / (2 * kPi);
    if (m[0] > xMap)
        xMap += view->iMapW;
    if (xMap >= m[2])
        xMap -= view->iMapW;
    double yMap = view->iMapH * (kPi / 2 - lat) / kPi;
    *x = (int)((xMap - m[0]) / (m[2] - m[0] + 1) * (d[2] - d[0] + 1) + d[0]);
    *y = (int)((yMap - m[1]) / (m[3] - m[1] + 1) * (d[3] - d[1] + 1) + d[1]);
}

// Globe: false when the city lies on the far side.
static bool ProjectGlobe(const ViewOptions *view, double lat, double lon, int *x, int *y)
{
    double z = view->dRotateZ, rotY = view->dRotateY;
    double x1 = cos(lat) * cos(lon - z), y1 = cos(lat) * sin(lon - z), z1 = sin(lat);
    if (cos(rotY) * x1 + sin(rotY) * z1 < 0)
        return false;
    double up = cos(rotY) * z1 - sin(rotY) * x1;
    double r = (view->iDtpArea[2] - view->iDtpArea[0] + 1) / 2.0;
    *x = (int)(view->iDtpArea[0] + r + y1 * r);
    *y = (int)(view->iDtpArea[1] + r - up * r);
    return true;
}

bool projectToImage(const ViewOptions *view, double lat, double lon, int *x, int *y)
{
    if (view->iPrjType == 1)
        ProjectFlat(view, lat, lon, x, y);
    else if (!ProjectGlobe(view, lat, lon, x, y))
        return false;
    const int32_t *c = view->iClpArea;
    return *x >= 0 && *y >= 0 && *x >= c[0] && *y >= c[1] && *x < c[2] && *y < c[3];
}

// One text run: measured, or drawn (with the optional shadow) at x.
static void RunText(HDC dc, const char *text, int n, int x, const RECT *rect,
                    const CityEntry *city, bool measure, SIZE *size)
{
    GetTextExtentPoint32A(dc, text, n, size);
    if (measure || n == 0)
        return;
    static const int kShadow[4][2] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
    RECT r = {x, rect->top, x + size->cx + 2, rect->bottom};
    SetBkMode(dc, TRANSPARENT);
    if (city->shadow) {
        SetTextColor(dc, RGB(1, 1, 1));
        for (int i = 0; i < 4; i++) {
            RECT s = {r.left + kShadow[i][0], r.top + kShadow[i][1],
                      r.right + kShadow[i][0], r.bottom + kShadow[i][1]};
            DrawTextA(dc, text, n, &s, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_LEFT);
        }
    }
    SetTextColor(dc, city->crtext[city->isday ? 1 : 0]);
    DrawTextA(dc, text, n, &r, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_LEFT);
}

// Weather icons are loaded once per icon and size and kept for the run:
// loading and destroying them on every render leaves memory behind in the
// system that it never gives back (under Wine about a hundred bytes per
// icon, outside every heap), and a tray program renders for months. The
// table's icons at three sizes fit; past that an icon is loaded for the one
// drawing, as before. Render threads and the cities dialog share the cache;
// its lock also covers the drawing, since an icon's bitmaps can be selected
// into one DC at a time. The icons and the lock go with the process: no
// destructor, so that a render still drawing at exit finds them in place.
enum { LABEL_ICON_CACHE = 128 };

struct LabelIcon {
    int icon, size;
    HICON handle;
};

struct LabelIconCache {
    CRITICAL_SECTION lock;
    LabelIcon entries[LABEL_ICON_CACHE];
    int count;
    LabelIconCache() : count(0) { InitializeCriticalSection(&lock); }
};
static LabelIconCache sLabelIcons;

// The icon at n by n pixels, or 0 when the resource is missing; *temporary
// says the cache is full and the caller destroys the icon after drawing.
static HICON LabelIconLocked(int icon, int n, bool *temporary)
{
    *temporary = false;
    for (int i = 0; i < sLabelIcons.count; i++)
        if (sLabelIcons.entries[i].icon == icon && sLabelIcons.entries[i].size == n)
            return sLabelIcons.entries[i].handle;
    HICON h = (HICON)LoadImageA(GetModuleHandleA(0), MAKEINTRESOURCEA(200 + icon), IMAGE_ICON,
                                n, n, 0);
    if (!h)
        return 0;
    if (sLabelIcons.count == LABEL_ICON_CACHE) {
        *temporary = true;
        return h;
    }
    LabelIcon entry = {icon, n, h};
    sLabelIcons.entries[sLabelIcons.count++] = entry;
    return h;
}

// The shown condition's icons, stacked, n by n pixels; missing ones skipped.
static void DrawIcons(HDC dc, const CityEntry *city, int x, const RECT *rect, int n)
{
    int row = city->shown >= 0 && city->shown < WEATHER_CONDITIONS ? city->shown
                                                                   : WEATHER_NOT_AVAILABLE;
    int top = rect->top + (rect->bottom - rect->top - n) / 2;
    EnterCriticalSection(&sLabelIcons.lock);
    for (int i = 0; i < WEATHER_ICONS && kWeatherConditions[row].icons[i]; i++) {
        int icon = WeatherIconForTime(kWeatherConditions[row].icons[i], city->isday != 0);
        bool temporary;
        HICON h = LabelIconLocked(icon, n, &temporary);
        if (!h)
            continue;
        DrawIconEx(dc, x, top, h, n, n, 0, 0, DI_NORMAL);
        if (temporary)
            DestroyIcon(h);
    }
    LeaveCriticalSection(&sLabelIcons.lock);
}

void measureOrDrawLabelLine(HDC dc, const RECT *rect, const char *line, const CityEntry *city,
                            const LabelFonts *fonts, bool measure, int *width, int *height)
{
    int x = rect->left, tallest = 0, adjust = 0;
    bool bold = false;
    HGDIOBJ old = SelectObject(dc, fonts->normal);
    const unsigned char *p = (const unsigned char *)line;
    while (*p) {
        const unsigned char *start = p;
        while (*p && *p != '^' && *p < LABEL_LINE_LOWER)
            p++;
        SIZE size = {0, 0};
        RunText(dc, (const char *)start, (int)(p - start), x, rect, city, measure, &size);
        if (p > start) {
            x += size.cx;
            tallest = size.cy > tallest ? size.cy : tallest;
        }
        if (!*p)
            break;
        if (*p == '^') {
            bold = !bold;
            SelectObject(dc, bold ? fonts->bold : fonts->normal);
        } else if (*p == LABEL_LINE_LOWER) {
            adjust -= 10;
        } else if (*p == LABEL_LINE_RAISE) {
            adjust += 10;
        } else if (p[1]) {   // icon size byte follows
            int n = *++p;
            if (!measure)
                DrawIcons(dc, city, x, rect, n);
            x += n;
            tallest = n > tallest ? n : tallest;
        }
        p++;
    }
    SelectObject(dc, old);
    *width = x - rect->left;
    *height = *line ? tallest + adjust : city->fontsize / 4;
}

void measureLabel(HDC dc, CityEntry *city, const LabelFonts *fonts)
{
    RECT rect = {0, 0, 0, 0};
    int widest = 0, total = 0;
    for (int i = 0; i < city->maxline && i < CITY_LABEL_LINES; i++) {
        int w = 0, h = 0;
        measureOrDrawLabelLine(dc, &rect, city->line[i], city, fonts, true, &w, &h);
        city->liwi[i] = w;
        city->lihi[i] = h;
        widest = w > widest ? w : widest;
        total += h;
    }
    city->width = widest + city->fontsize;
    city->height = city->fontsize + total;
}

static void FillColour(HDC dc, const RECT *rect, COLORREF colour)
{
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, rect, brush);
    DeleteObject(brush);
}

// The arrow: a filled triangle with legs of arrowsize at the labelpos corner.
static void DrawArrow(HDC dc, const CityEntry *city, int w, int h, COLORREF colour)
{
    int a = city->arrowsize;
    if (a <= 0)
        return;
    bool right = city->labelpos == 0 || city->labelpos == 2;
    bool bottom = city->labelpos == 0 || city->labelpos == 1;
    int cx = right ? w - 1 : 0, cy = bottom ? h - 1 : 0;
    int dx = right ? -a : a, dy = bottom ? -a : a;
    POINT corner[3] = {{cx, cy}, {cx + dx, cy}, {cx, cy + dy}};
    HBRUSH brush = CreateSolidBrush(colour);
    HPEN pen = CreatePen(PS_SOLID, 1, colour);
    HGDIOBJ oldBrush = SelectObject(dc, brush), oldPen = SelectObject(dc, pen);
    Polygon(dc, corner, 3);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(brush);
    DeleteObject(pen);
}

void drawLabelBox(HDC dc, CityEntry *city, const LabelFonts *fonts, bool isday)
{
    city->isday = isday ? 1 : 0;
    int f = city->framesize, w = city->width + 2 * f, h = city->height + 2 * f;
    RECT outer = {0, 0, w, h}, inner = {f, f, w - f, h - f};
    FillColour(dc, &outer, city->crframe[city->isday]);
    FillColour(dc, &inner, city->crbackground[city->isday]);
    DrawArrow(dc, city, w, h, city->crarrow[city->isday]);
    int top = f + (int)(0.4 * city->fontsize);
    for (int i = 0; i < city->maxline && i < CITY_LABEL_LINES; i++) {
        int justify = (unsigned char)city->line[i][LABEL_JUSTIFY_BYTE], left;
        if (justify == LABEL_JUSTIFY_LEFT)
            left = f;
        else if (justify == LABEL_JUSTIFY_RIGHT)
            left = city->width - city->liwi[i] - f;
        else
            left = f + (city->width - city->liwi[i]) / 2;
        RECT rect = {left, top, left + city->liwi[i] + 2, top + city->lihi[i]};
        int lw, lh;
        measureOrDrawLabelLine(dc, &rect, city->line[i], city, fonts, false, &lw, &lh);
        top += city->lihi[i];
    }
}

bool CityInDaylight(double lat, double lon, double sunLat, double sunLon)
{
    double c = sin(lat) * sin(sunLat) + cos(lat) * cos(sunLat) * cos(lon - sunLon);
    return c >= cos(1.6336281798666925);
}


static int Wrap(int v, int n)
{
    v %= n;
    return v < 0 ? v + n : v;
}

// Frame and background pixels are mixed by opacity; text, arrow and icons cover.
static void BlendPixel(uint8_t *out, uint32_t label, const CityEntry *city)
{
    uint8_t rgb[3] = {(uint8_t)(label >> 16), (uint8_t)(label >> 8), (uint8_t)label};
    uint32_t colour = RGB(rgb[0], rgb[1], rgb[2]);
    bool mixed = colour == (city->crbackground[city->isday ? 1 : 0] & 0xffffff) ||
                 colour == (city->crframe[city->isday ? 1 : 0] & 0xffffff);
    for (int i = 0; i < 3; i++) {
        int label8 = rgb[2 - i];   // BMP order is blue, green, red
        out[i] = mixed ? (uint8_t)(out[i] + (label8 - out[i]) * city->opacity / 100)
                       : (uint8_t)label8;
    }
}

void blendLabelBox(uint8_t *bmp, const uint32_t *box, int stride, int boxW, int boxH,
                   const CityEntry *city, int x, int y, double scale, int shiftX, int shiftY)
{
    int width = (int32_t)Le32(bmp + 18), height = (int32_t)Le32(bmp + 22);
    if (width <= 0 || height <= 0)
        return;
    int rowBytes = (width * 3 + 3) & ~3;
    for (int k = 0; k < boxH; k++)
        for (int l = 0; l < boxW; l++) {
            int ox = Wrap(x + (int)(l / scale) + shiftX, width);
            int oy = Wrap(y + (int)(k / scale) + shiftY, height);
            uint8_t *out = bmp + 54 + (size_t)(height - 1 - oy) * rowBytes + ox * 3;
            BlendPixel(out, box[k * stride + l], city);
        }
}

// A drawing surface of a fifth of the screen; labels larger than it are cut.
struct LabelCanvas {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
    uint32_t *bits;
    int w, h;
};

static bool OpenCanvas(LabelCanvas *c)
{
    c->w = GetSystemMetrics(SM_CXSCREEN) / 5;
    c->h = GetSystemMetrics(SM_CYSCREEN) / 5;
    if (c->w < 1 || c->h < 1)
        return false;
    c->dc = CreateCompatibleDC(0);
    BITMAPINFO info;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = c->w;
    info.bmiHeader.biHeight = -c->h;   // top-down, so rows read as drawn
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    c->bitmap = c->dc ? CreateDIBSection(c->dc, &info, DIB_RGB_COLORS, (void **)&c->bits, 0, 0)
                      : 0;
    if (!c->bitmap) {
        if (c->dc)
            DeleteDC(c->dc);
        return false;
    }
    c->old = SelectObject(c->dc, c->bitmap);
    return true;
}

static void CloseCanvas(LabelCanvas *c)
{
    SelectObject(c->dc, c->old);
    DeleteObject(c->bitmap);
    DeleteDC(c->dc);
}

static HFONT LabelFont(HDC dc, const CityEntry *city, int weight)
{
    const char *face = city->font[0] ? city->font : "MS Shell Dlg";
    int height = -MulDiv(city->fontsize, GetDeviceCaps(dc, LOGPIXELSY), 72);
    return CreateFontA(height, 0, 0, 0, weight, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, face);
}

// The sub-solar point at a moment, in radians.
static void SunAt(int64_t when, double *lat, double *lon)
{
    struct tm utc;
    memset(&utc, 0, sizeof utc);
    int64_t days = FloorDiv(when, 86400), ofDay = when - days * 86400;
    CivilFromDays(days, &utc.tm_year, &utc.tm_mon, &utc.tm_mday);
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    utc.tm_hour = (int)(ofDay / 3600);
    utc.tm_min = (int)(ofDay / 60 % 60);
    utc.tm_sec = (int)(ofDay % 60);
    subSolarPoint(&utc, lon, lat);
}

// Draws one city's box on the canvas and blends it at its anchor.
static void DrawOneLabel(LabelCanvas *c, uint8_t *bmp, CityEntry *city, int x, int y,
                         double scale, int shiftX, int shiftY, int64_t when, const double *sun)
{
    LabelFonts fonts = {LabelFont(c->dc, city, 400), LabelFont(c->dc, city, 600)};
    if (fonts.normal && fonts.bold) {
        expandLabelText(city, when);
        measureLabel(c->dc, city, &fonts);
        double rad = kPi / 180;
        drawLabelBox(c->dc, city, &fonts, CityInDaylight(city->lat * rad, city->lon * rad,
                                                          sun[0], sun[1]));
        GdiFlush();
        int w = city->width + 2 * city->framesize, h = city->height + 2 * city->framesize;
        if (city->labelpos == 0 || city->labelpos == 2)
            x -= (int)((w - 1) / scale);
        if (city->labelpos == 0 || city->labelpos == 1)
            y -= (int)((h - 1) / scale);
        blendLabelBox(bmp, c->bits, c->w, w < c->w ? w : c->w, h < c->h ? h : c->h, city, x, y,
                      scale, shiftX, shiftY);
    }
    if (fonts.normal)
        DeleteObject(fonts.normal);
    if (fonts.bold)
        DeleteObject(fonts.bold);
}

int drawCityLabels(uint8_t *bmp, ViewOptions *view, int shiftX, int shiftY)
{
    int n = view->iCityNumber < VIEW_CITIES ? view->iCityNumber : VIEW_CITIES;
    int px[VIEW_CITIES], py[VIEW_CITIES];   // on the stack: renders run side by side
    bool shown[VIEW_CITIES];
    int visible = 0;
    double rad = kPi / 180;
    for (int i = 0; i < n; i++) {
        shown[i] = projectToImage(view, view->City[i].lat * rad, view->City[i].lon * rad, &px[i],
                                  &py[i]);
        visible += shown[i];
    }
    LabelCanvas canvas;
    if (!visible || !OpenCanvas(&canvas))
        return 0;
    int outH = view->iOutputH > 0 ? view->iOutputH : (int32_t)Le32(bmp + 22);
    double scale = outH > 0 ? (double)GetSystemMetrics(SM_CYSCREEN) / outH : 1;
    scale = scale < 1 ? 1 : scale;
    // The bias is in minutes, as the render jobs apply it to the Earth.
    int64_t when = (int64_t)time(0) + (int64_t)gPrefs.iTimeBias * 60;
    double sun[2];
    SunAt(when, &sun[0], &sun[1]);
    for (int i = 0; i < n; i++)
        if (shown[i] && ResolveTimeZone(&view->City[i]) == 0)
            DrawOneLabel(&canvas, bmp, &view->City[i], px[i], py[i], scale, shiftX, shiftY, when,
                         sun);
    CloseCanvas(&canvas);
    return 0;
}
