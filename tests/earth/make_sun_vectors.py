"""Reference vectors for the sun's position, from python3-ephem.

Usage: python3 make_sun_vectors.py <out>

One case per line, times UTC, angles in degrees:
    jd  <Y> <M> <D> <h> <m> <s> <julian day>
    sub <Y> <M> <D> <h> <m> <s> <longitude east> <latitude>
    sun <Y> <M> <D> <latitude> <longitude east> <altitude> <upper limb 0|1> <result> <rise> <set>
jd: the Julian day of a calendar time (Julian calendar before 1582 October 15).
sub: the sub-solar point: apparent geocentric declination, and right
ascension minus Greenwich apparent sidereal time.
sun: the crossings of the altitude (no refraction) around the transit of the
local day, in hours from 0:00 UTC of the date; result 0 both crossings, -1 the
sun stays below, +1 it stays above (then rise and set are 0). Days when the
sun passes within a degree of the altitude at transit or at midnight, where a
method that takes the sun's place once a day cannot be expected to agree, are
left out.
"""
import math
import random
import sys

import ephem

rng = random.Random(20240612)
EPHEM_JD_ZERO = 2415020.0   # ephem dates count days from 1899 December 31 12:00


def stamp(y, mo, d, h=0, mi=0, s=0):
    return ephem.Date((y, mo, d, h, mi, s))


def jd_cases():
    fixed = [(2000, 1, 1, 12, 0, 0), (1582, 10, 4, 0, 0, 0), (1582, 10, 15, 0, 0, 0),
             (1500, 3, 1, 6, 0, 0), (1000, 2, 28, 18, 0, 0), (1900, 1, 1, 0, 0, 0),
             (1957, 10, 4, 19, 26, 24), (2100, 12, 31, 23, 59, 59), (1600, 2, 29, 0, 0, 0)]
    for c in fixed:
        yield c
    for _ in range(60):
        yield (rng.randint(800, 2400), rng.randint(1, 12), rng.randint(1, 28),
               rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59))


def sub_solar(date):
    observer = ephem.Observer()
    observer.lat, observer.lon, observer.elevation, observer.pressure = "0", "0", 0, 0
    observer.date = date
    sun = ephem.Sun()
    sun.compute(date)
    longitude = math.degrees(float(sun.g_ra) - float(observer.sidereal_time()))
    longitude = (longitude + 180.0) % 360.0 - 180.0
    latitude = math.degrees(float(sun.g_dec))
    # Self-check of the reference: the sun stands in the zenith there.
    observer.lat, observer.lon = str(latitude), str(longitude)
    sun.compute(observer)
    assert math.degrees(float(sun.alt)) > 89.95, (date, math.degrees(float(sun.alt)))
    return longitude, latitude


def sub_cases():
    fixed = [(2000, 1, 1, 12, 0, 0), (2024, 3, 20, 3, 6, 0), (2024, 6, 20, 20, 51, 0),
             (2024, 9, 22, 12, 44, 0), (2024, 12, 21, 9, 21, 0)]
    for c in fixed:
        yield c
    for _ in range(400):
        yield (rng.randint(1900, 2100), rng.randint(1, 12), rng.randint(1, 28),
               rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59))


CITIES = [(51.5074, -0.1278), (40.7128, -74.0060), (35.6762, 139.6503), (-33.8688, 151.2093),
          (-0.1807, -78.4678), (64.1466, -21.9426), (-33.9249, 18.4241), (61.2181, -149.9003),
          (21.3069, -157.8583), (-36.8485, 174.7633), (1.3521, 103.8198), (55.7558, 37.6173),
          (-34.6037, -58.3816), (28.6139, 77.2090), (34.0522, -118.2437), (69.6492, 18.9553),
          (78.2232, 15.6267), (-54.8019, -68.3030), (-77.8419, 166.6863), (64.1835, -51.7216),
          (89.5, 0.0), (-89.5, 45.0)]
CROSSINGS = [(-34.0 / 60.0, 1), (0.0, 1), (-6.0, 0), (-12.0, 0), (-18.0, 0)]


def dates():
    for year in (2001, 2012, 2024, 2030):
        for month in range(1, 13):
            yield (year, month, rng.randint(1, 28))
    for special in ((2024, 3, 20), (2024, 6, 21), (2024, 9, 22), (2024, 12, 21), (2023, 1, 1)):
        yield special


def altitude_at(observer, sun, date):
    observer.date = date
    sun.compute(observer)
    return math.degrees(float(sun.alt))


def crossing_case(y, mo, d, lat, lon, altitude, upper):
    observer = ephem.Observer()
    observer.lat, observer.lon = str(lat), str(lon)
    observer.elevation, observer.pressure = 0, 0
    observer.horizon = str(altitude)
    sun = ephem.Sun()
    midnight = stamp(y, mo, d)
    noon = ephem.Date(midnight + 0.5 - lon / 360.0)
    observer.date = ephem.Date(noon - 0.5)
    transit = observer.next_transit(sun)
    # The sun's disc centre or upper edge against the altitude.
    edge = 0.2666 if upper else 0.0
    high = altitude_at(observer, sun, transit) + edge
    low = altitude_at(observer, sun, ephem.Date(transit + 0.5)) + edge
    low = min(low, altitude_at(observer, sun, ephem.Date(transit - 0.5)) + edge)
    if abs(high - altitude) < 1.0 or abs(low - altitude) < 1.0:
        return None
    if high < altitude:
        return (-1, 0.0, 0.0)
    if low > altitude:
        return (1, 0.0, 0.0)
    observer.date = transit
    rise = observer.previous_rising(sun, use_center=not upper)
    observer.date = transit
    set_ = observer.next_setting(sun, use_center=not upper)
    return (0, (rise - midnight) * 24.0, (set_ - midnight) * 24.0)


def main():
    lines = []
    for c in jd_cases():
        lines.append("jd %d %d %d %d %d %d %.9f" % (c + (float(stamp(*c)) + EPHEM_JD_ZERO,)))
    for c in sub_cases():
        lon, lat = sub_solar(stamp(*c))
        lines.append("sub %d %d %d %d %d %d %.6f %.6f" % (c + (lon, lat)))
    for (y, mo, d) in dates():
        for (lat, lon) in CITIES:
            for (altitude, upper) in CROSSINGS:
                found = crossing_case(y, mo, d, lat, lon, altitude, upper)
                if found is None:
                    continue
                lines.append("sun %d %d %d %.4f %.4f %.6f %d %d %.6f %.6f" %
                             ((y, mo, d, lat, lon, altitude, upper) + found))
    with open(sys.argv[1], "w") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
