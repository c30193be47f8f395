// Where the sun stands: a low-precision solar ephemeris (mean elements
// referred to 1900 January 0.5, obliquity polynomial referred to J2000) and
// the sub-solar point that lights every view. Pure functions, any thread.
#pragma once

#include <time.h>

struct SolarCoordinates {
    double rightAscension;   // degrees, 0..360
    double declination;      // degrees
    double radius;           // astronomical units
    double trueLongitude;    // degrees
};

// Julian day of a broken-down UTC time (tm_year from 1900, tm_mon from 0);
// dates before 1582 October 5 are taken in the Julian calendar.
double julianDayUtc(const struct tm *utc);
// Obliquity of the ecliptic in degrees.
double eclipticObliquity(double julianDay);
void solarCoordinates(double julianDay, SolarCoordinates *out);
// Sub-solar point in radians: longitude east positive in -pi..pi, latitude
// equal to the sun's declination.
void subSolarPoint(const struct tm *utc, double *longitude, double *latitude);
