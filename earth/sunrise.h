// Sunrise, sunset and twilight times for the city labels: a compact
// low-precision solar method evaluated at local noon. Degrees throughout.
#pragma once

enum {
    SUN_RISES_AND_SETS = 0,
    SUN_ALWAYS_BELOW = -1,   // both times are the transit
    SUN_ALWAYS_ABOVE = 1,    // rise = transit - 12, set = transit + 12
};

// Times in UTC hours from 0:00 UTC of the date (they may fall outside
// 0..24). month 1..12; longitude east positive; altitude of the crossing in
// degrees, negative below the horizon; upperLimb: the sun's upper edge rather
// than its centre.
int sunRiseSet(int year, int month, int day, bool upperLimb, double longitude, double latitude,
               double altitude, double *rise, double *set);
// The sun's ecliptic longitude (0 to below 360) and distance (AU) on day
// number d (days from 2000 January 0.0 UTC).
void sunPosition(double d, double *longitude, double *distance);
