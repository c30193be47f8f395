// The sun's position and its rise and set, against python3-ephem vectors
// made at build time (make_sun_vectors.py), plus the calendar's edge cases.
#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "earth/ephemeris.h"
#include "earth/sunrise.h"

static const double PI = 3.14159265358979323846;
static const double DEG = 180.0 / PI;

// Worst agreement with ephem over 1900-2100. The ephemeris has no nutation
// or aberration and its mean elements date from 1900, which together make
// a few hundredths of a degree.
static const double SUB_SOLAR_LATITUDE_BOUND = 0.01;    // degrees
static const double SUB_SOLAR_LONGITUDE_BOUND = 0.02;   // degrees
// The rise and set method takes the sun's place once, at local noon, so its
// times drift from ephem's as the declination moves during the day and as
// the path grazes the altitude at high latitudes.
enum { SUNRISE_CASES, TWILIGHT_CASES, HIGH_LATITUDE_CASES, CROSSING_KINDS };
static const char *const CROSSING_KIND_NAMES[CROSSING_KINDS] = {
    "sunrise and sunset to 56 deg", "twilight to 56 deg", "beyond 56 deg"};
static const double CROSSING_BOUNDS[CROSSING_KINDS] = {1.0, 4.0, 9.0};   // minutes

static struct tm Utc(int year, int month, int day, int hour, int minute, int second)
{
    struct tm t;
    memset(&t, 0, sizeof t);
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

static double AngleGap(double a, double b)
{
    double d = fmod(fabs(a - b), 360.0);
    return d > 180 ? 360 - d : d;
}

static FILE *OpenVectors()
{
    FILE *f = fopen("sun_vectors.txt", "r");
    if (!f)
        ADD_FAILURE() << "sun_vectors.txt is missing next to the test";
    return f;
}

TEST(Ephemeris, JulianDayAndObliquityAtJ2000)
{
    struct tm t = Utc(2000, 1, 1, 12, 0, 0);
    EXPECT_DOUBLE_EQ(julianDayUtc(&t), 2451545.0);
    EXPECT_DOUBLE_EQ(eclipticObliquity(2451545.0), 23.43929111111111);
    // Far outside the polynomial's span the J2000 value holds.
    EXPECT_DOUBLE_EQ(eclipticObliquity(2451545.0 + 2 * 3652500.0), 23.43929111111111);
    EXPECT_DOUBLE_EQ(eclipticObliquity(2451545.0 - 4 * 3652500.0), 23.43929111111111);
}

TEST(Ephemeris, CalendarChangeOf1582)
{
    // Thursday 4 October (Julian) was followed by Friday 15 October (Gregorian).
    struct tm last = Utc(1582, 10, 4, 0, 0, 0), first = Utc(1582, 10, 15, 0, 0, 0);
    EXPECT_DOUBLE_EQ(julianDayUtc(&first) - julianDayUtc(&last), 1.0);
    EXPECT_DOUBLE_EQ(julianDayUtc(&first), 2299160.5);
}

TEST(Ephemeris, JulianDaysMatchEphem)
{
    FILE *f = OpenVectors();
    if (!f)
        return;
    char line[256];
    int cases = 0;
    while (fgets(line, sizeof line, f)) {
        int y, mo, d, h, mi, s;
        double expected;
        if (sscanf(line, "jd %d %d %d %d %d %d %lf", &y, &mo, &d, &h, &mi, &s, &expected) != 7)
            continue;
        struct tm t = Utc(y, mo, d, h, mi, s);
        EXPECT_NEAR(julianDayUtc(&t), expected, 1e-6) << line;
        cases++;
    }
    fclose(f);
    EXPECT_GE(cases, 50);
}

TEST(Ephemeris, SubSolarPointMatchesEphem)
{
    FILE *f = OpenVectors();
    if (!f)
        return;
    char line[256];
    int cases = 0;
    double worstLatitude = 0, worstLongitude = 0;
    while (fgets(line, sizeof line, f)) {
        int y, mo, d, h, mi, s;
        double lonRef, latRef;
        if (sscanf(line, "sub %d %d %d %d %d %d %lf %lf", &y, &mo, &d, &h, &mi, &s, &lonRef,
                   &latRef) != 8)
            continue;
        struct tm t = Utc(y, mo, d, h, mi, s);
        double lon, lat;
        subSolarPoint(&t, &lon, &lat);
        ASSERT_TRUE(lon >= -PI && lon <= PI) << line;
        double latError = fabs(lat * DEG - latRef), lonError = AngleGap(lon * DEG, lonRef);
        EXPECT_LE(latError, SUB_SOLAR_LATITUDE_BOUND) << line;
        EXPECT_LE(lonError, SUB_SOLAR_LONGITUDE_BOUND) << line;
        worstLatitude = fmax(worstLatitude, latError);
        worstLongitude = fmax(worstLongitude, lonError);
        cases++;
    }
    fclose(f);
    EXPECT_GE(cases, 400);
    printf("sub-solar point over %d dates: worst latitude %.5f deg, longitude %.5f deg\n", cases,
           worstLatitude, worstLongitude);
}

// Rise and set agree with the sub-solar point: where the sun stands in the
// zenith it is up and at transit; at the antipode it is down.
TEST(Ephemeris, SubSolarPointIsLitAndItsAntipodeDark)
{
    for (int i = 0; i < 48; i++) {
        int month = 1 + i % 12, hour = (i * 7) % 24;
        struct tm t = Utc(2024, month, 1 + (i * 5) % 28, hour, 30, 0);
        double lon, lat;
        subSolarPoint(&t, &lon, &lat);
        double now = hour + 0.5, rise, set;
        int result = sunRiseSet(2024, month, t.tm_mday, false, lon * DEG, lat * DEG, 0, &rise,
                                &set);
        ASSERT_EQ(result, SUN_RISES_AND_SETS);
        // The local day may lie around now, or a calendar day to either side.
        double shift = 24 * floor((now - (rise + set) / 2) / 24 + 0.5);
        EXPECT_NEAR((rise + set) / 2 + shift, now, 0.1) << "case " << i;
        EXPECT_TRUE(rise + shift < now && now < set + shift) << "case " << i;

        double antiLon = lon > 0 ? lon * DEG - 180 : lon * DEG + 180;
        result = sunRiseSet(2024, month, t.tm_mday, false, antiLon, -lat * DEG, 0, &rise, &set);
        ASSERT_EQ(result, SUN_RISES_AND_SETS);
        for (int k = -1; k <= 1; k++)
            EXPECT_FALSE(rise + 24 * k < now && now < set + 24 * k) << "case " << i;
    }
}

TEST(Sunrise, MatchesEphemOverCitiesAndDates)
{
    FILE *f = OpenVectors();
    if (!f)
        return;
    char line[256];
    int cases = 0, polar = 0;
    double worst[CROSSING_KINDS] = {};
    while (fgets(line, sizeof line, f)) {
        int y, mo, d, upper, expected;
        double lat, lon, altitude, riseRef, setRef;
        if (sscanf(line, "sun %d %d %d %lf %lf %lf %d %d %lf %lf", &y, &mo, &d, &lat, &lon,
                   &altitude, &upper, &expected, &riseRef, &setRef) != 10)
            continue;
        double rise, set;
        int result = sunRiseSet(y, mo, d, upper != 0, lon, lat, altitude, &rise, &set);
        cases++;
        EXPECT_EQ(result, expected) << line;
        if (result != expected)
            continue;
        if (expected != SUN_RISES_AND_SETS) {
            polar++;
            EXPECT_NEAR(set - rise, expected > 0 ? 24 : 0, 1e-9) << line;
            continue;
        }
        int kind = fabs(lat) > 56 ? HIGH_LATITUDE_CASES
                   : altitude > -1 ? SUNRISE_CASES
                                   : TWILIGHT_CASES;
        double error = 60 * fmax(fabs(rise - riseRef), fabs(set - setRef));
        EXPECT_LE(error, CROSSING_BOUNDS[kind]) << line << " rise " << rise << " set " << set;
        worst[kind] = fmax(worst[kind], error);
    }
    fclose(f);
    EXPECT_GE(cases, 4000);
    EXPECT_GE(polar, 500);
    printf("rise and set over %d cases (%d polar), worst error:\n", cases, polar);
    for (int kind = 0; kind < CROSSING_KINDS; kind++)
        printf("  %s: %.2f min\n", CROSSING_KIND_NAMES[kind], worst[kind]);
}

TEST(Sunrise, PolarNightAndPolarDay)
{
    double rise, set;
    EXPECT_EQ(sunRiseSet(2024, 12, 22, true, 15, 80, -35.0 / 60, &rise, &set), SUN_ALWAYS_BELOW);
    EXPECT_DOUBLE_EQ(rise, set);
    EXPECT_NEAR(rise, 12 - 1 - 1.5 / 60, 0.05);   // transit: noon at 15 E, 1.5 min early
    EXPECT_EQ(sunRiseSet(2024, 6, 21, true, 15, 80, -35.0 / 60, &rise, &set), SUN_ALWAYS_ABOVE);
    EXPECT_DOUBLE_EQ(set - rise, 24);
    // The southern hemisphere the other way round.
    EXPECT_EQ(sunRiseSet(2024, 6, 21, true, 0, -80, -35.0 / 60, &rise, &set), SUN_ALWAYS_BELOW);
    EXPECT_EQ(sunRiseSet(2024, 12, 22, true, 0, -80, -35.0 / 60, &rise, &set), SUN_ALWAYS_ABOVE);
}

TEST(Sunrise, SunLongitudeStaysInRangeMillenniaAway)
{
    for (double d = -4000000; d <= 4000000; d += 9973) {
        double longitude, distance;
        sunPosition(d, &longitude, &distance);
        EXPECT_TRUE(longitude >= 0 && longitude < 360) << d << " " << longitude;
        EXPECT_NEAR(distance, 1.0, 0.025) << d;
    }
}
