// The METAR decoder: picture matching for the groups, the parsers of the
// body groups in their fixed order (type, station, time, wind, visibility,
// runways, weather, sky, temperatures, altimeter), DecodeMetar, which runs
// them over the report's tokens, and the mapping of a decoded report to the
// labels' weather condition. The token list is shared, so only the weather
// thread decodes.
#include "earth/metar.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

// ASCII classes of their own: the C ones depend on the locale and are
// undefined for negative chars.
static bool IsDigit(int c) { return c >= '0' && c <= '9'; }
static bool IsUpper(int c) { return c >= 'A' && c <= 'Z'; }
static bool IsLower(int c) { return c >= 'a' && c <= 'z'; }
static bool IsAlpha(int c) { return IsUpper(c) || IsLower(c); }
static bool IsAlnum(int c) { return IsAlpha(c) || IsDigit(c); }
static bool IsSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
static bool IsPrint(int c) { return c >= ' ' && c <= '~'; }
static bool IsGraph(int c) { return c > ' ' && c <= '~'; }
static bool IsCntrl(int c) { return (c >= 0 && c < ' ') || c == 127; }
static bool IsPunct(int c) { return IsGraph(c) && !IsAlnum(c); }

static bool MatchClass(char kind, int c)
{
    switch (kind) {
    case 'a': return IsAlpha(c);
    case 'c': return IsAlnum(c);
    case 'd': return IsDigit(c);
    case 'g': return IsGraph(c);
    case 'i': return IsLower(c);
    case 'n': return IsCntrl(c);
    case 'p': return IsPrint(c);
    case 's': return c == ' ';
    case 't': return IsPunct(c);
    case 'u': return IsUpper(c);
    case 'w': return IsSpace(c);
    default: return false;
    }
}

bool matchPattern(const char *text, const char *picture)
{
    if (!text || !picture)
        return false;
    const unsigned char *t = (const unsigned char *)text;
    for (const char *p = picture;; p++) {
        while (*p == ' ')
            p++;
        if (!*p)
            return true;
        if (!*t)
            return false;
        if (*p == '\'') {
            // A literal is written 'x'; the closing quote is optional.
            if (!p[1] || *t != (unsigned char)p[1])
                return false;
            p += p[2] == '\'' ? 2 : 1;
            t++;
        } else if (*p == 'm') {
            if (!IsSpace(*t))
                return false;
            while (IsSpace(*t))
                t++;
        } else {
            if (!MatchClass(*p, *t))
                return false;
            t++;
        }
    }
}

static int DigitRun(const char *s)
{
    int n = 0;
    while (IsDigit((unsigned char)s[n]))
        n++;
    return n;
}

// Value of n digits; callers keep n small so the value cannot overflow.
static int32_t DigitsValue(const char *s, int n)
{
    int32_t v = 0;
    for (int i = 0; i < n; i++)
        v = v * 10 + (s[i] - '0');
    return v;
}

static void CopyText(char *dst, int size, const char *src, int n)
{
    if (n > size - 1)
        n = size - 1;
    memcpy(dst, src, n);
    dst[n] = 0;
}

static void CopyString(char *dst, int size, const char *src)
{
    CopyText(dst, size, src, (int)strlen(src));
}

// Cloud heights are hundreds of feet; 999 stands for "unlimited".
static int32_t HeightMetres(const char *digits, int n)
{
    if (n == 3 && !memcmp(digits, "999", 3))
        return 30000;
    return DigitsValue(digits, n) * 30;
}

void resetMetarReport(MetarReport *r)
{
    memset(r, 0, sizeof *r);
    r->hour = r->minute = r->day = METAR_MISSING_INT;
    r->windVariableFrom = r->windVariableTo = METAR_MISSING_INT;
    r->verticalVisibility = METAR_MISSING_INT;
    r->temperature = r->dewPoint = METAR_MISSING_INT;
    r->qnh = METAR_MISSING_INT;
    r->visibilityMiles = r->visibilityMetres = r->visibilityKm = METAR_MISSING_FLOAT;
    r->altimeter = METAR_MISSING_INCHES;
    for (int i = 0; i < METAR_RUNWAYS; i++) {
        r->runway[i].range = METAR_MISSING_INT;
        r->runway[i].maxRange = r->runway[i].minRange = METAR_MISSING_INT;
    }
    r->windDirection = r->windSpeed = r->windGust = METAR_MISSING_INT;
    for (int i = 0; i < METAR_CLOUD_LAYERS; i++)
        r->cloud[i].heightMetres = METAR_MISSING_INT;
}

// ---- The body groups. Each parser gets the tokens from the current one on
// and returns how many it consumed: 0 when the group is not there.

typedef int (*GroupParser)(MetarReport *r, char **tok, int count);

static int ParseReportType(MetarReport *r, char **tok, int)
{
    if (strcmp(tok[0], "METAR") && strcmp(tok[0], "SPECI"))
        return 0;
    CopyString(r->reportType, sizeof r->reportType, tok[0]);
    return 1;
}

// -1 ends decoding: without a valid station the report is useless.
static int ParseStation(MetarReport *r, char **tok, int)
{
    const char *s = tok[0];
    if (strlen(s) != 4 || !IsAlpha((unsigned char)s[0]))
        return -1;
    for (int i = 1; i < 4; i++)
        if (!IsAlnum((unsigned char)s[i]))
            return -1;
    CopyString(r->station, sizeof r->station, s);
    return 1;
}

static int ParseFlag(const char *token, const char *word, int16_t *flag)
{
    if (strcmp(token, word))
        return 0;
    *flag = 1;
    return 1;
}

static int ParseNil(MetarReport *r, char **tok, int) { return ParseFlag(tok[0], "NIL", &r->isNil); }
static int ParseCor(MetarReport *r, char **tok, int) { return ParseFlag(tok[0], "COR", &r->isCorrected); }
static int ParseAuto(MetarReport *r, char **tok, int) { return ParseFlag(tok[0], "AUTO", &r->isAuto); }
static int ParseCavok(MetarReport *r, char **tok, int) { return ParseFlag(tok[0], "CAVOK", &r->isCavok); }

static bool EndsOrZulu(const char *s)
{
    return !s[0] || (s[0] == 'Z' && !s[1]);
}

static int ParseDateTime(MetarReport *r, char **tok, int)
{
    const char *s = tok[0];
    int n = DigitRun(s);
    if (!EndsOrZulu(s + n))
        return 0;
    if (n == 6) {
        r->day = DigitsValue(s, 2);
        s += 2;
    } else if (n != 4) {
        return 0;
    }
    r->hour = DigitsValue(s, 2);
    r->minute = DigitsValue(s + 2, 2);
    return 1;
}

// Speed digits of a wind group: two or three.
static int SpeedRun(const char *s)
{
    int n = DigitRun(s);
    return n == 2 || n == 3 ? n : 0;
}

static const char *WindUnit(const char *s)
{
    static const char *const units[] = {"KT", "MPS", "KMH"};
    for (const char *u : units)
        if (!strcmp(s, u))
            return u;
    return 0;
}

// Stations of the "Z" region report metres per second without a unit, those
// of the "U" region an unknown one.
static void DefaultWindUnit(MetarReport *r)
{
    if (r->station[0] == 'Z')
        CopyString(r->windUnits, sizeof r->windUnits, "MPS");
    else if (r->station[0] != 'U')
        CopyString(r->windUnits, sizeof r->windUnits, "KT");
}

static int ParseWind(MetarReport *r, char **tok, int)
{
    const char *s = tok[0];
    if (matchPattern(s, "'/''/''/''/''/'"))
        return 1;
    bool variable = matchPattern(s, "'V''R''B'");
    if (!variable && DigitRun(s) < 3)
        return 0;
    int32_t direction = variable ? METAR_MISSING_INT : DigitsValue(s, 3);
    const char *p = s + 3;
    int n = SpeedRun(p);
    if (!n)
        return 0;
    int32_t speed = DigitsValue(p, n), gust = METAR_MISSING_INT;
    p += n;
    if (*p == 'G') {
        n = SpeedRun(p + 1);
        if (!n)
            return 0;
        gust = DigitsValue(p + 1, n);
        p += 1 + n;
    }
    const char *unit = WindUnit(p);
    bool bare = !*p && !variable && (strlen(s) == 5 || matchPattern(s, "ddddd'G'dd"));
    if (!unit && !bare)
        return 0;
    r->windDirection = direction;
    r->windSpeed = speed;
    r->windGust = gust;
    if (unit)
        CopyString(r->windUnits, sizeof r->windUnits, unit);
    else
        DefaultWindUnit(r);
    return 1;
}

static int ParseVariableWind(MetarReport *r, char **tok, int)
{
    const char *s = tok[0];
    int n = DigitRun(s);
    if (n < 1 || n > 3 || s[n] != 'V' || DigitRun(s + n + 1) != 3 || s[n + 4])
        return 0;
    r->windVariableFrom = DigitsValue(s, n);
    r->windVariableTo = DigitsValue(s + n + 1, 3);
    return 1;
}

// "a/bSM" or, with sm false, "a/b" and nothing after it; false when not a fraction.
static bool ParseFraction(const char *s, bool sm, float *value)
{
    int a = DigitRun(s);
    if (a < 1 || a > 3 || s[a] != '/')
        return false;
    int b = DigitRun(s + a + 1);
    if (b < 1 || b > 3)
        return false;
    if (strcmp(s + a + 1 + b, sm ? "SM" : ""))
        return false;
    int32_t denominator = DigitsValue(s + a + 1, b);
    if (!denominator)
        return false;
    *value = (float)DigitsValue(s, a) / (float)denominator;
    return true;
}

static bool IsVisibilityDirection(const char *s)
{
    static const char *const directions[] = {"", "NE", "NW", "SE", "SW", "N", "E", "S", "W"};
    for (const char *d : directions)
        if (!strcmp(s, d))
            return true;
    return false;
}

static int ParseVisibility(MetarReport *r, char **tok, int count)
{
    const char *s = tok[0];
    int n = DigitRun(s);
    float fraction;
    if (n >= 1 && n <= 3 && !strcmp(s + n, "KM")) {
        r->visibilityKm = (float)DigitsValue(s, n);
        return 1;
    }
    if (ParseFraction(s, true, &fraction)) {
        r->visibilityMiles = fraction;
        return 1;
    }
    if (n >= 1 && n <= 3 && !strcmp(s + n, "SM")) {
        r->visibilityMiles = (float)DigitsValue(s, n);
        return 1;
    }
    if (n >= 1 && n <= 2 && !s[n] && count > 1 && ParseFraction(tok[1], true, &fraction)) {
        r->visibilityMiles = (float)DigitsValue(s, n) + fraction;
        return 2;
    }
    // "NDV" (no directional variation) of automatic stations names no direction.
    if (n == 4 && (IsVisibilityDirection(s + 4) || !strcmp(s + 4, "NDV"))) {
        r->visibilityMetres = (float)DigitsValue(s, 4);
        if (IsVisibilityDirection(s + 4))
            CopyString(r->visibilityDirection, sizeof r->visibilityDirection, s + 4);
        return 1;
    }
    return 0;
}

// A range of up to five digits after an optional "P" or "M".
static const char *RunwayRange(const char *p, int32_t *value)
{
    while (*p == 'P' || *p == 'M')
        p++;
    int n = DigitRun(p);
    if (n < 1 || n > 5)
        return 0;
    *value = DigitsValue(p, n);
    return p + n;
}

static bool ParseRunway(const char *s, MetarRunway *rw)
{
    if (s[0] != 'R' || !IsDigit((unsigned char)s[1]) || !IsDigit((unsigned char)s[2]))
        return false;
    int n = 3;
    while (n < 5 && IsAlpha((unsigned char)s[n]))
        n++;
    if (s[n] != '/')
        return false;
    const char *after = s + n + 1;
    MetarRunway parsed = *rw;
    const char *p = RunwayRange(after, &parsed.range);
    if (!p)
        return false;
    if (*p == 'V') {
        parsed.minRange = parsed.range;
        parsed.range = METAR_MISSING_INT;
        if (!RunwayRange(p + 1, &parsed.maxRange))
            return false;
        parsed.variable = 1;
    }
    parsed.above = strchr(after, 'P') != 0;
    parsed.below = strchr(after, 'M') != 0;
    size_t len = strlen(after);
    parsed.metric = !(len >= 2 && !strcmp(after + len - 2, "FT"));
    CopyText(parsed.designator, sizeof parsed.designator, s, n);
    *rw = parsed;
    return true;
}

static int ParseRunways(MetarReport *r, char **tok, int count)
{
    int used = 0;
    while (used < count && used < METAR_RUNWAYS && ParseRunway(tok[used], &r->runway[used]))
        used++;
    return used;
}

static const char *const kPhenomena[] = {
    "BCFG", "BLDU", "BLSA", "BLPY", "BLSN", "FZBR", "VCBR", "TSGR", "VCTS", "DRDU",
    "DRSA", "DRSN", "FZFG", "FZDZ", "FZRA", "PRFG", "MIFG", "SHRA", "SHSN", "SHPE",
    "SHPL", "SHGS", "SHGR", "VCFG", "VCFC", "VCSS", "VCDS", "TSRA", "TSPE", "TSPL",
    "TSSN", "VCSH", "VCPO", "VCBLDU", "VCBLSA", "VCBLSN", "BR", "DU", "DZ", "DS",
    "FG", "FC", "FU", "GS", "GR", "HZ", "IC", "PE", "PL", "PO",
    "RA", "SN", "SG", "SQ", "SA", "SS", "TS", "VA", "PY",
};

static const char *FindPhenomenon(const char *s)
{
    for (const char *entry : kPhenomena)
        if (!strncmp(s, entry, strlen(entry)))
            return entry;
    return 0;
}

static int FilledWeatherSlots(const MetarReport *r)
{
    int n = 0;
    while (n < METAR_WEATHER_SLOTS && r->weather[n][0])
        n++;
    return n;
}

// One token of sign and phenomenon pairs into the free slots; a token with
// anything else in it is no weather group and leaves the slots as they were.
static bool ParseWeatherToken(MetarReport *r, const char *s)
{
    int first = FilledWeatherSlots(r), slot = first;
    if (!strcmp(s, "//")) {
        CopyString(r->weather[slot], sizeof r->weather[slot], "MISSING");
        return true;
    }
    while (*s) {
        int sign = *s == '+' || *s == '-';
        const char *entry = FindPhenomenon(s + sign);
        if (!entry) {
            for (int i = first; i < slot; i++)
                r->weather[i][0] = 0;
            return false;
        }
        if (slot < METAR_WEATHER_SLOTS) {
            CopyText(r->weather[slot], sizeof r->weather[slot], s, sign);
            strcat(r->weather[slot], entry);
            slot++;
        }
        s += sign + strlen(entry);
    }
    return true;
}

// Consecutive weather groups all go into the slots, so that a second group
// ("-DZ BR", "BR -RA") is not lost.
static int ParsePresentWeather(MetarReport *r, char **tok, int count)
{
    int used = 0;
    while (used < count && FilledWeatherSlots(r) < METAR_WEATHER_SLOTS &&
           ParseWeatherToken(r, tok[used]))
        used++;
    return used;
}

static bool IsObscuration(const char *s)
{
    static const char *const covers[] = {"FEW///", "SCT///", "BKN///", "FEW000", "SCT000", "BKN000"};
    for (const char *c : covers)
        if (!strcmp(s, c))
            return true;
    return false;
}

static int ParseObscuration(MetarReport *r, char **tok, int count)
{
    if (!IsObscuration(tok[0]))
        return 0;
    CopyString(r->obscuration[0], sizeof r->obscuration[0], tok[0]);
    if (count < 2 || !IsObscuration(tok[1]))
        return 1;
    CopyString(r->obscuration[1], sizeof r->obscuration[1], tok[1]);
    return 2;
}

static bool IsLayerCover(const char *s)
{
    return !strncmp(s, "FEW", 3) || !strncmp(s, "SCT", 3) || !strncmp(s, "BKN", 3) ||
           !strncmp(s, "OVC", 3);
}

static bool ParseCloudLayer(const char *s, MetarCloudLayer *layer)
{
    int digits;
    if (matchPattern(s, "'/''/''/''/''/''/'")) {
        digits = 0;
    } else if (!IsLayerCover(s)) {
        return false;
    } else if (DigitRun(s + 3) == 3) {
        digits = 3;
    } else if (matchPattern(s + 3, "d'C''U'") || matchPattern(s + 3, "d'S''C'")) {
        digits = 1;
    } else {
        return false;
    }
    CopyText(layer->cover, sizeof layer->cover, s, 3);
    CopyText(layer->heightDigits, sizeof layer->heightDigits, s + 3, digits ? digits : 3);
    CopyString(layer->type, sizeof layer->type, s + 6 - (3 - (digits ? digits : 3)));
    layer->heightMetres = digits ? HeightMetres(s + 3, digits) : METAR_MISSING_INT;
    return true;
}

static int ParseSkyCondition(MetarReport *r, char **tok, int count)
{
    const char *s = tok[0];
    if (!strcmp(s, "CLR") || !strcmp(s, "SKC") || !strcmp(s, "NSC")) {
        CopyString(r->cloud[0].cover, sizeof r->cloud[0].cover, s);
        return 1;
    }
    if (matchPattern(s, "'V''V'ddd") && !s[5]) {
        r->verticalVisibility = HeightMetres(s + 2, 3);
        return 1;
    }
    int used = 0;
    while (used < count && used < METAR_CLOUD_LAYERS && ParseCloudLayer(tok[used], &r->cloud[used]))
        used++;
    return used;
}

enum { HALF_NONE, HALF_VALUE, HALF_MISSING };

// One side of the temperature group: "M" for minus and two digits, or a
// placeholder of two letters or two slashes.
static int TemperatureHalf(const char *s, int length, int32_t *value)
{
    int minus = length > 0 && s[0] == 'M';
    if (DigitRun(s + minus) == 2 && minus + 2 == length) {
        int32_t v = DigitsValue(s + minus, 2);
        *value = minus ? -v : v;
        return HALF_VALUE;
    }
    if (length == 2 && ((IsAlpha((unsigned char)s[0]) && IsAlpha((unsigned char)s[1])) ||
                        (s[0] == '/' && s[1] == '/')))
        return HALF_MISSING;
    return HALF_NONE;
}

static int ParseTemperature(MetarReport *r, char **tok, int)
{
    const char *s = tok[0];
    const char *slash = strchr(s, '/');
    if (!slash || slash == s)
        return 0;
    int32_t temperature = METAR_MISSING_INT, dewPoint = METAR_MISSING_INT;
    int left = TemperatureHalf(s, (int)(slash - s), &temperature);
    int right = TemperatureHalf(slash + 1, (int)strlen(slash + 1), &dewPoint);
    if (!left || !right || (left != HALF_VALUE && right != HALF_VALUE))
        return 0;
    r->temperature = temperature;
    r->dewPoint = dewPoint;
    return 1;
}

static int ParseAltimeter(MetarReport *r, char **tok, int)
{
    const char *s = tok[0];
    if (s[0] == 'A' && DigitRun(s + 1) == 4 && !s[5]) {
        r->altimeter = DigitsValue(s + 1, 4) * 0.01;
        r->hasAltimeter = 1;
        return 1;
    }
    int n = DigitRun(s + 1);
    if (s[0] == 'Q' && n >= 1 && n <= 4 && (!s[1 + n] || s[1 + n] == '.')) {
        r->qnh = DigitsValue(s + 1, n);
        r->hasQnh = 1;
        return 1;
    }
    return 0;
}

enum { GROUP_WEATHER = 13, GROUP_SKY = 15 };

static const GroupParser kGroups[] = {
    ParseReportType, ParseStation, ParseNil, ParseCor, ParseDateTime, ParseNil,
    ParseAuto, ParseCor, ParseWind, ParseVariableWind, ParseCavok, ParseVisibility,
    ParseRunways, ParsePresentWeather, ParseObscuration, ParseSkyCondition,
    ParseTemperature, ParseAltimeter,
};
static const int kGroupCount = sizeof kGroups / sizeof kGroups[0];

// The token list: shared by all calls, rebuilt on every call.
static char *gMetarCopy;
static char *gMetarTokens[METAR_MAX_TOKENS + 1];

// Splits the copy at white space; "=" ends a report. Tokens beyond the
// limit are dropped.
static int SplitTokens(char *s)
{
    char *end = strchr(s, '=');
    if (end)
        *end = 0;
    int count = 0;
    char *p = s;
    while (*p) {
        if (IsSpace((unsigned char)*p)) {
            *p++ = 0;
            continue;
        }
        if (count < METAR_MAX_TOKENS)
            gMetarTokens[count++] = p;
        while (*p && !IsSpace((unsigned char)*p))
            p++;
    }
    gMetarTokens[count] = 0;
    return count;
}

static int DecodeTokens(MetarReport *r, int count)
{
    int group = 0, last = -1, pos = 0;
    while (pos < count) {
        if (!strcmp(gMetarTokens[pos], "RMK"))
            break;
        if (group >= kGroupCount) {
            pos++;
            group = last + 1;
            continue;
        }
        int used = kGroups[group](r, gMetarTokens + pos, count - pos);
        if (used < 0)
            return METAR_BAD_STATION;
        if (used > 0) {
            pos += used;
            last = group++;
        } else {
            // Partial obscuration belongs to a present-weather group only.
            group = group == GROUP_WEATHER ? GROUP_SKY : group + 1;
        }
    }
    return r->station[0] ? METAR_OK : METAR_BAD_STATION;
}

int DecodeMetar(const char *text, MetarReport *report)
{
    if (!report)
        return METAR_NO_TEXT;
    resetMetarReport(report);
    if (!text || !*text)
        return METAR_NO_TEXT;
    size_t size = strlen(text) + 1;
    gMetarCopy = (char *)malloc(size);
    if (!gMetarCopy)
        return METAR_NO_TEXT;
    memcpy(gMetarCopy, text, size);
    int count = SplitTokens(gMetarCopy);
    int result = count ? DecodeTokens(report, count) : METAR_NO_TEXT;
    if (result != METAR_OK)
        resetMetarReport(report);
    free(gMetarCopy);
    gMetarCopy = 0;
    gMetarTokens[0] = 0;
    return result;
}

// Saturation vapour pressure over water (x >= 0) or ice, hPa.
static double VapourPressure(double x)
{
    double a = x >= 0 ? 7.5 : 9.5, b = x >= 0 ? 237.3 : 265.5;
    return 6.1078 * pow(10.0, a * x / (b + x));
}

float RelativeHumidity(const MetarReport *r)
{
    if (r->temperature == METAR_MISSING_INT || r->dewPoint == METAR_MISSING_INT)
        return METAR_MISSING_FLOAT;
    return (float)(100.0 * VapourPressure(r->dewPoint) / VapourPressure(r->temperature));
}

int weatherIntensity(const char *group, const char *phenomenon)
{
    if (!group || !phenomenon || !*phenomenon || !strstr(group, phenomenon))
        return 0;
    if (group[0] == '-')
        return 1;
    return group[0] == '+' ? 3 : 2;
}

enum {
    WX_TS, WX_SH, WX_FZ, WX_DZ, WX_RA, WX_BR, WX_FG, WX_FU, WX_VA, WX_SA,
    WX_HZ, WX_SQ, WX_FC, WX_SS, WX_DUST, WX_HAIL, WX_SN, WX_PL, WX_KINDS
};

static const char *const kIntensityKinds[WX_KINDS][5] = {
    {"TS"}, {"SH"}, {"FZ"}, {"DZ"}, {"RA"}, {"BR"}, {"FG"}, {"FU"}, {"VA"}, {"SA"},
    {"HZ"}, {"SQ"}, {"FC"}, {"SS"}, {"DU", "PO"}, {"PE", "PL", "GR", "GS"},
    {"SN", "SG"}, {"PE", "PL"},
};

// Highest intensity of every kind over the filled weather slots.
static void WeatherIntensities(const MetarReport *r, int *level)
{
    memset(level, 0, WX_KINDS * sizeof *level);
    for (int i = 0; i < METAR_WEATHER_SLOTS && r->weather[i][0]; i++) {
        // "MISSING" holds no phenomenon (its "SS" is no sandstorm).
        if (!strcmp(r->weather[i], "MISSING"))
            continue;
        for (int k = 0; k < WX_KINDS; k++)
            for (int j = 0; j < 5 && kIntensityKinds[k][j]; j++) {
                int v = weatherIntensity(r->weather[i], kIntensityKinds[k][j]);
                if (v > level[k])
                    level[k] = v;
            }
    }
}

static int CloudLevel(const MetarReport *r)
{
    static const char *const covers[] = {"FEW", "SCT", "BKN", "OVC"};
    int level = 0;
    for (int i = 0; i < METAR_CLOUD_LAYERS; i++)
        for (int c = 0; c < 4; c++)
            if (!strcmp(r->cloud[i].cover, covers[c]) && c + 1 > level)
                level = c + 1;
    return level;
}

static int ByIntensity(int base, int intensity)
{
    return base + intensity - 1;
}

// Snow, snow grains and ice pellets, alone, as showers or mixed with rain
// or drizzle, by intensity; 0 when there is none. Without this a snowy
// report read as its cloud cover or its mist.
static int SnowCode(const int *wx)
{
    int wet = wx[WX_RA] > wx[WX_DZ] ? wx[WX_RA] : wx[WX_DZ];
    if (wx[WX_PL]) {
        // Ice pellets: sleet; as a shower, light or not.
        if (wx[WX_SH])
            return wx[WX_PL] == 1 ? 612 : 613;
        return 611;
    }
    if (!wx[WX_SN])
        return 0;
    if (wet) {
        // A mix is as light as its lighter part ("-RASN" holds "-RA", "SN").
        int level = wet < wx[WX_SN] ? wet : wx[WX_SN];
        return level == 1 ? 615 : 616;
    }
    return wx[WX_SH] ? ByIntensity(620, wx[WX_SN]) : ByIntensity(600, wx[WX_SN]);
}

int WeatherConditionCode(const MetarReport *r)
{
    // A "NIL" report observed nothing; it must not read as a clear sky.
    if (r->isNil)
        return 999;
    int wx[WX_KINDS];
    WeatherIntensities(r, wx);
    if (wx[WX_TS]) {
        if (wx[WX_HAIL])
            return 906;
        return wx[WX_DZ] ? ByIntensity(230, wx[WX_DZ]) : ByIntensity(200, wx[WX_TS]);
    }
    if (wx[WX_RA] && wx[WX_FZ])
        return 511;
    int snow = SnowCode(wx);
    if (snow)
        return snow;
    if (wx[WX_RA]) {
        return wx[WX_SH] ? ByIntensity(520, wx[WX_SH]) : ByIntensity(500, wx[WX_RA]);
    }
    if (wx[WX_DZ])
        return ByIntensity(300, wx[WX_DZ]);
    static const struct { int kind, code; } kObscurations[] = {
        {WX_BR, 701}, {WX_FG, 741}, {WX_FU, 711}, {WX_VA, 762}, {WX_DUST, 761},
        {WX_SA, 761}, {WX_HZ, 721}, {WX_SQ, 771}, {WX_FC, 781}, {WX_SS, 731},
    };
    for (const auto &o : kObscurations)
        if (wx[o.kind])
            return o.code;
    int level = CloudLevel(r);
    return level >= 0 && level <= 4 ? 800 + level : 999;
}
