// METAR decoder: splits a raw report into groups, recognises the body
// groups in their fixed order and fills a MetarReport. Uses one token list
// shared by all calls, so only the weather thread may call DecodeMetar.
#pragma once

#include <stdint.h>

enum {
    METAR_OK = 0,
    METAR_NO_TEXT = 8,          // null, empty or blank report text
    METAR_BAD_STATION = 12,     // station identifier not valid

    METAR_WEATHER_SLOTS = 10,
    METAR_OBSCURATIONS = 2,
    METAR_RUNWAYS = 12,
    METAR_CLOUD_LAYERS = 6,
    METAR_MAX_TOKENS = 499,     // further groups of a report are ignored
};

// Markers of a missing value.
#define METAR_MISSING_INT 2147483647
#define METAR_MISSING_FLOAT 2147483648.0f
#define METAR_MISSING_INCHES 2147483647.0

struct MetarRunway {
    char designator[6];         // "R", two digits, optional side letters
    int16_t variable;           // "V" between minimum and maximum
    int16_t below;              // "M": less than the range
    int16_t above;              // "P": more than the range
    int32_t range;              // not variable
    int32_t maxRange, minRange; // variable
    int16_t metric;             // 0 when the range is in feet
};

struct MetarCloudLayer {
    char cover[5];              // "FEW", "SCT", "BKN", "OVC", "CLR", "SKC", "NSC", "VV", "///"
    char heightDigits[4];       // hundreds of feet as given
    char type[7];               // rest of the group, such as "CB" or "TCU"
    int32_t heightMetres;
};

struct MetarReport {
    char reportType[6];                         // "METAR" or "SPECI"
    char station[5];
    char weather[METAR_WEATHER_SLOTS][8];       // sign and one phenomenon, or "MISSING"
    char obscuration[METAR_OBSCURATIONS][7];    // "FEW///", "BKN000", ...
    int16_t isAuto, isCorrected, isNil, isCavok;
    int16_t hasAltimeter, hasQnh;
    int32_t hour, minute, day;
    int32_t windVariableFrom, windVariableTo;   // degrees
    int32_t verticalVisibility;                 // metres
    int32_t temperature, dewPoint;              // degrees Celsius
    int32_t qnh;                                // hPa
    float visibilityMiles;
    float visibilityMetres;
    char visibilityDirection[3];
    float visibilityKm;
    double altimeter;                           // inches of mercury
    MetarRunway runway[METAR_RUNWAYS];
    char windUnits[4];                          // "KT", "MPS", "KMH" or empty
    int32_t windDirection;                      // degrees
    int32_t windSpeed, windGust;                // in windUnits
    MetarCloudLayer cloud[METAR_CLOUD_LAYERS];
};

// Resets the record, then decodes; METAR_OK also for a partly decoded report.
int DecodeMetar(const char *text, MetarReport *report);
void resetMetarReport(MetarReport *report);

// Percent from temperature and dew point; METAR_MISSING_FLOAT when either is missing.
float RelativeHumidity(const MetarReport *report);
// Three-digit weather condition code from present weather and sky cover.
int WeatherConditionCode(const MetarReport *report);

// Whether the text begins with what the picture describes: a letter, c
// letter or digit, d digit, g printable non-blank, i lower-case, n control,
// p printable, s space, t punctuation, u upper-case, w white space, m a run
// of white space, 'x' the literal x; blanks in the picture are skipped.
bool matchPattern(const char *text, const char *picture);
// 0 when the phenomenon is not in the weather group, else 1 light, 2 moderate, 3 heavy.
int weatherIntensity(const char *group, const char *phenomenon);
