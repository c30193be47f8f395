#!/usr/bin/env python3
"""Writes "Cities.txt" and "Timezones.txt" from the system's tzdata.

Cities, coordinates and countries come from zone1970.tab and iso3166.tab;
the offsets and daylight-saving changes from the compiled zone files, read
directly (the 64-bit block of TZif version 2 or later). With --airports, the
airport table data/airports.tsv (OpenFlights airport data, extracted by
extract_airports.py) gives each city the ICAO code of its main airport, so
the labels' METAR reports have a station (see pick_airport).

usage: make_cities.py [--airports TSV] ZONEINFO_DIR OUT_DIR [FIRST_YEAR LAST_YEAR]
"""
import datetime
import math
import os
import re
import struct
import sys
import unicodedata

AIRPORT_RADIUS_KM = 100.0      # farther than this is another place's airport


def clean(text, size):
    """A field never holds the separators and fits its destination."""
    text = text.replace(";", ",").replace("\r", " ").replace("\n", " ")
    return text[: size - 1]


def read_countries(folder):
    countries = {}
    with open(os.path.join(folder, "iso3166.tab"), encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            code, name = line.rstrip("\n").split("\t")[:2]
            countries[code] = name
    return countries


def iso6709_degrees(text):
    """+DDMM[SS] or +DDDMM[SS] into decimal degrees."""
    sign = -1.0 if text[0] == "-" else 1.0
    digits = text[1:]
    width = 2 if len(digits) in (4, 6) else 3
    deg = int(digits[:width])
    minutes = int(digits[width : width + 2])
    seconds = int(digits[width + 2 :] or 0)
    return sign * (deg + minutes / 60.0 + seconds / 3600.0)


def split_coordinates(text):
    for i in range(1, len(text)):
        if text[i] in "+-":
            return iso6709_degrees(text[:i]), iso6709_degrees(text[i:])
    raise ValueError(text)


def read_zones(folder):
    zones = []
    with open(os.path.join(folder, "zone1970.tab"), encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            cols = line.rstrip("\n").split("\t")
            codes, coords, zone = cols[0].split(","), cols[1], cols[2]
            comment = cols[3] if len(cols) > 3 else ""
            lat, lon = split_coordinates(coords)
            zones.append((codes, lat, lon, zone, comment))
    return zones


def read_tzif(path):
    """Transitions (utc seconds, type index) and types (utoff, isdst, abbr)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"TZif":
        return None

    def header(at):
        return struct.unpack(">6l", data[at + 20 : at + 44])

    isutc, isstd, leap, timecnt, typecnt, charcnt = header(0)
    at = 44 + timecnt * 5 + typecnt * 6 + charcnt + leap * 8 + isstd + isutc
    wide = 8
    if data[4:5] == b"\x00":
        at, wide = 0, 4
    isutc, isstd, leap, timecnt, typecnt, charcnt = header(at)
    at += 44
    fmt = ">%d%s" % (timecnt, "q" if wide == 8 else "l")
    times = struct.unpack(fmt, data[at : at + timecnt * wide])
    at += timecnt * wide
    indexes = data[at : at + timecnt]
    at += timecnt
    types = []
    for i in range(typecnt):
        utoff, isdst, abbrind = struct.unpack(">lBB", data[at + i * 6 : at + i * 6 + 6])
        types.append([utoff, isdst, abbrind])
    at += typecnt * 6
    chars = data[at : at + charcnt]
    for t in types:
        end = chars.index(b"\x00", t[2])
        t[2] = chars[t[2] : end].decode("ascii")
    return list(zip(times, indexes)), types


def zone_rules(path, first_year, last_year):
    """(utc seconds, standard offset, saving, abbreviation) from first_year on."""
    parsed = read_tzif(path)
    if not parsed:
        return []
    transitions, types = parsed
    start = int(datetime.datetime(first_year, 1, 1, tzinfo=datetime.timezone.utc).timestamp())
    stop = int(datetime.datetime(last_year + 1, 1, 1, tzinfo=datetime.timezone.utc).timestamp())
    # Before any transition the first non-DST type is in force.
    initial = next((t for t in types if not t[1]), types[0])
    in_force, standard = initial, initial[0] if not initial[1] else initial[0] - 3600
    rules = []
    for when, index in transitions:
        kind = types[index]
        if when >= stop:
            break
        if when <= start:
            in_force = kind
            if not kind[1]:
                standard = kind[0]
            continue
        if not rules:
            rules.append(make_rule(start, in_force, standard))
        if not kind[1]:
            standard = kind[0]
        rules.append(make_rule(when, kind, standard))
    if not rules:
        rules.append(make_rule(start, in_force, standard))
    return rules


def make_rule(when, kind, standard):
    utoff, isdst, abbr = kind
    saving = utoff - standard if isdst else 0
    if isdst and saving == 0:
        saving = 3600
    return when, utoff - saving, saving, abbr


def rule_line(rule):
    when, offset_a, offset_b, abbr = rule
    t = datetime.datetime.fromtimestamp(when, datetime.timezone.utc)
    return "%d-%d-%d;%d:%d:%d;%d;%d;%s" % (
        t.day, t.month, t.year, t.hour, t.minute, t.second, offset_a, offset_b, clean(abbr, 8))


def city_name(zone):
    return zone.split("/")[-1].replace("_", " ")


def fold(text):
    """Lower case without accents or punctuation, for comparing names."""
    text = unicodedata.normalize("NFKD", text or "")
    text = "".join(c for c in text if not unicodedata.combining(c))
    return re.sub(r"[^a-z0-9]+", " ", text.lower()).strip()


def read_airports(path):
    """(icao, name, folded city, tz, latitude, longitude) of every airport
    in the table; extract_airports.py kept only those with an IATA and a
    four-letter ICAO code."""
    airports = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            icao, _iata, name, city, tz, lat, lon = line.rstrip("\n").split("\t")
            airports.append((icao, name, fold(city), tz, float(lat), float(lon)))
    return airports


def distance_km(lat1, lon1, lat2, lon2):
    p1, p2 = math.radians(lat1), math.radians(lat2)
    dl = math.radians(lon2 - lon1)
    c = math.sin(p1) * math.sin(p2) + math.cos(p1) * math.cos(p2) * math.cos(dl)
    return 6371.0 * math.acos(max(-1.0, min(1.0, c)))


def pick_airport(airports, name, lat, lon, zone):
    """The ICAO code of the city's main airport, or "".

    The data set has no traffic figures, so "main" is judged from what it
    has, in this order: an airport of the city's own name, in the city's
    time zone, an international one, one that carries the city's name in
    its own (Tokyo Haneda before Narita, Dubai before Al Maktoum), and among
    equals the one farther out
    (a city's big international airport mostly lies beyond the old city
    airfields: Chicago's O'Hare beyond Midway, Berlin's Schoenefeld beyond
    Tegel and Tempelhof). Airports of other names count only within a third
    of the radius, nearest first."""
    key = fold(name)
    best, best_rank = "", None
    for icao, title, city, tz, alat, alon in airports:
        d = distance_km(lat, lon, alat, alon)
        if d > AIRPORT_RADIUS_KM:
            continue
        named = city == key
        if not named and d > AIRPORT_RADIUS_KM / 3:
            continue
        rank = (named, tz == zone, "international" in title.lower(), key in fold(title),
                d if named else -d)
        if best_rank is None or rank > best_rank:
            best, best_rank = icao, rank
    return best


def write_cities(path, countries, zones, airports=None):
    by_country = {}
    for codes, lat, lon, zone, comment in zones:
        for code in codes:
            by_country.setdefault(code, []).append((lat, lon, zone, comment))
    with open(path, "w", encoding="latin-1", errors="replace", newline="") as f:
        for code in sorted(countries, key=lambda c: countries[c]):
            cities = by_country.get(code)
            if not cities:
                continue
            f.write("#Country;%s;%s\r\n" % (clean(countries[code], 100), code))
            for lat, lon, zone, comment in sorted(cities, key=lambda c: city_name(c[2])):
                line = "%s;%s;%s;0;%.4f;%.4f;%s" % (
                    code, clean(city_name(zone), 200), clean(comment, 200), lat, lon,
                    clean(zone, 50))
                icao = pick_airport(airports, city_name(zone), lat, lon, zone) if airports else ""
                if icao:
                    line += ";" + icao
                f.write(line + "\r\n")


def write_timezones(path, folder, zones, first_year, last_year):
    names = sorted(set(z[3] for z in zones))
    descriptions = {z[3]: z[4] for z in zones}
    with open(path, "w", encoding="latin-1", errors="replace", newline="") as f:
        for name in names:
            rules = zone_rules(os.path.join(folder, name), first_year, last_year)
            if not rules:
                continue
            code = rules[-1][3]
            description = descriptions.get(name) or city_name(name)
            f.write("#Zone;%s;%s;%s\r\n" % (clean(name, 50), clean(code, 8),
                                            clean(description, 100)))
            for rule in rules:
                f.write(rule_line(rule) + "\r\n")


def main():
    args = sys.argv[1:]
    airports = None
    if len(args) >= 2 and args[0] == "--airports":
        airports = read_airports(args[1])
        args = args[2:]
    folder, out = args[0], args[1]
    first_year = int(args[2]) if len(args) > 2 else 1970
    last_year = int(args[3]) if len(args) > 3 else 2037
    os.makedirs(out, exist_ok=True)
    countries = read_countries(folder)
    zones = read_zones(folder)
    write_cities(os.path.join(out, "Cities.txt"), countries, zones, airports)
    write_timezones(os.path.join(out, "Timezones.txt"), folder, zones, first_year, last_year)


if __name__ == "__main__":
    main()
