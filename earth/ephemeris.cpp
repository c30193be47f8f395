// Solar ephemeris and the sub-solar point.
#include "earth/ephemeris.h"

#include <math.h>

static const double PI = 3.14159265358979323846;
static const double RADIANS = PI / 180.0;

// x reduced to 0 <= x < range.
static double Reduce(double x, double range)
{
    double r = fmod(x, range);
    if (r < 0)
        r += range;
    return r >= range ? 0 : r;
}

double eclipticObliquity(double julianDay)
{
    // Polynomial in units of 10,000 Julian years from J2000; outside that
    // span it diverges, so the J2000 value is kept there.
    static const double terms[] = {
        -1.3002583333333335,    -0.00043055555555555555, 0.5553472222222222,
        -0.014272222222222223,  -0.06935277777777778,    -0.010847222222222222,
        0.001977777777777778,   0.007741666666666667,    0.0016083333333333334,
        0.0006805555555555556,
    };
    double u = (julianDay - 2451545.0) / 3652500.0;
    double obliquity = 23.43929111111111;
    if (!(fabs(u) < 1))
        return obliquity;
    double power = 1;
    for (int i = 0; i < 10; i++) {
        power *= u;
        obliquity += terms[i] * power;
    }
    return obliquity;
}

// Kepler's equation by Newton's method; a bounded loop so that a wild input
// can never hang the render thread.
static double EccentricAnomaly(double meanAnomaly, double e)
{
    double anomaly = meanAnomaly;
    for (int i = 0; i < 50; i++) {
        double d = anomaly - e * sin(anomaly) - meanAnomaly;
        anomaly -= d / (1 - e * cos(anomaly));
        if (!(fabs(d) > 1e-6))
            break;
    }
    return anomaly;
}

void solarCoordinates(double julianDay, SolarCoordinates *out)
{
    double t = (julianDay - 2415020.0) / 36525.0;
    double meanLongitude = Reduce(279.69668 + 36000.76892 * t + 0.0003025 * t * t, 360);
    double meanAnomaly =
        Reduce(358.47583 + 35999.04975 * t - 0.000150 * t * t - 0.0000033 * t * t * t, 360) *
        RADIANS;
    double e = 0.01675104 - 0.0000418 * t - 0.000000126 * t * t;

    double anomaly = EccentricAnomaly(meanAnomaly, e);
    double trueAnomaly = 2 * atan(sqrt((1 + e) / (1 - e)) * tan(anomaly / 2)) / RADIANS;
    trueAnomaly = Reduce(trueAnomaly, 360);
    double lambda = trueAnomaly + meanLongitude - meanAnomaly / RADIANS;

    double eps = eclipticObliquity(julianDay) * RADIANS;
    double l = lambda * RADIANS;
    out->trueLongitude = lambda;
    out->radius = 1.0000002 * (1 - e * e) / (1 + e * cos(trueAnomaly * RADIANS));
    out->rightAscension = Reduce(atan2(sin(l) * cos(eps), cos(l)) / RADIANS, 360);
    out->declination = asin(sin(l) * sin(eps)) / RADIANS;
}

double julianDayUtc(const struct tm *utc)
{
    int year = utc->tm_year + 1900, month = utc->tm_mon + 1;
    if (month <= 2) {
        year -= 1;
        month += 12;
    }
    bool julian = utc->tm_year + 1900 < 1582 ||
                  (utc->tm_year + 1900 == 1582 &&
                   (utc->tm_mon < 9 || (utc->tm_mon == 9 && utc->tm_mday < 5)));
    int b = julian ? 0 : 2 - year / 100 + year / 400;
    double seconds = utc->tm_sec + 60.0 * utc->tm_min + 3600.0 * utc->tm_hour;
    return trunc(365.25 * (year + 4716)) + trunc(30.6001 * (month + 1)) + utc->tm_mday + b -
           1524.5 + seconds / 86400.0;
}

// Greenwich mean sidereal time in hours, 0..24.
static double SiderealHours(double julianDay)
{
    double j = julianDay + 0.5, f = floor(j);
    double t0 = (f - 0.5 - 2415020.0) / 36525.0;
    double theta = 6.6460656 + 2400.051262 * t0 + 0.00002581 * t0 * t0 +
                   (j - f) * 24 * 1.002737908;
    return Reduce(theta, 24);
}

void subSolarPoint(const struct tm *utc, double *longitude, double *latitude)
{
    double jd = julianDayUtc(utc);
    SolarCoordinates sun;
    solarCoordinates(jd, &sun);
    double hourAngle = 15 * SiderealHours(jd) - sun.rightAscension;
    if (hourAngle > 180)
        hourAngle -= 360;
    if (hourAngle < -180)
        hourAngle += 360;
    *longitude = -hourAngle * RADIANS;
    *latitude = sun.declination * RADIANS;
}
