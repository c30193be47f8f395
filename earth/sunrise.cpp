// Sunrise and sunset.
#include "earth/sunrise.h"

#include <math.h>

static const double PI = 3.14159265358979323846;
static const double RADIANS = PI / 180.0;

static double Revolution(double x)
{
    double r = fmod(x, 360.0);
    if (r < 0)
        r += 360.0;
    return r >= 360.0 ? 0 : r;
}

static double Around180(double x)
{
    return x - 360.0 * floor(x / 360.0 + 0.5);
}

void sunPosition(double d, double *longitude, double *distance)
{
    double m = Revolution(356.047 + 0.9856002585 * d) * RADIANS;
    double e = 0.016709 - 1.151e-9 * d;
    double anomaly = m + e * sin(m) * (1 + e * cos(m));   // radians form of E
    double x = cos(anomaly) - e, y = sqrt(1 - e * e) * sin(anomaly);
    *distance = sqrt(x * x + y * y);
    // A full reduction: a single subtraction of 360 leaves the range for
    // dates far from 2000, where the perihelion term has drifted.
    *longitude = Revolution(atan2(y, x) / RADIANS + 282.9404 + 4.70935e-5 * d);
}

// Day number at 0:00 UTC of the date, from 2000 January 0.0.
static long DayNumber(int year, int month, int day)
{
    long y = year, m = month;
    return 367 * y - 7 * (y + (m + 9) / 12) / 4 + 275 * m / 9 + day - 730530;
}

int sunRiseSet(int year, int month, int day, bool upperLimb, double longitude, double latitude,
               double altitude, double *rise, double *set)
{
    double d = DayNumber(year, month, day) + 0.5 - longitude / 360.0;
    double sidereal = Revolution(818.9874 + 0.985647352 * d) + 180 + longitude;

    double sunLongitude, r;
    sunPosition(d, &sunLongitude, &r);
    double obliquity = (23.4393 - 3.563e-7 * d) * RADIANS;
    double l = sunLongitude * RADIANS;
    double x = r * cos(l), y = r * sin(l) * cos(obliquity), z = r * sin(l) * sin(obliquity);
    double rightAscension = atan2(y, x) / RADIANS;
    double declination = atan2(z, sqrt(x * x + y * y));

    double transit = 12.0 - Around180(Revolution(sidereal) - rightAscension) / 15.0;
    if (upperLimb)
        altitude -= 0.2666 / r;

    double lat = latitude * RADIANS;
    double h = (sin(altitude * RADIANS) - sin(lat) * sin(declination)) /
               (cos(lat) * cos(declination));
    int result = SUN_RISES_AND_SETS;
    double halfArc;
    if (h >= 1) {
        result = SUN_ALWAYS_BELOW;
        halfArc = 0;
    } else if (h <= -1) {
        result = SUN_ALWAYS_ABOVE;
        halfArc = 12;
    } else if (h == h) {
        halfArc = acos(h) / RADIANS / 15.0;
    } else {
        // Only a NaN input gets here; say "below" rather than hand out NaN.
        result = SUN_ALWAYS_BELOW;
        halfArc = 0;
    }
    *rise = transit - halfArc;
    *set = transit + halfArc;
    return result;
}
