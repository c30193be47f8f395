#!/usr/bin/env python3
"""Turns `zdump -v` output into one line per moment for the city tests:
zone day month year seconds-of-day gmtoff abbreviation (UTC moments).

usage: cities_zdump_reference.py OUT FIRST_YEAR LAST_YEAR ZONE...
"""
import subprocess
import sys

MONTHS = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()


def main():
    out, first, last, zones = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
    lines = []
    for zone in zones:
        text = subprocess.run(["zdump", "-v", "-c", "%s,%s" % (first, last), zone],
                              check=True, capture_output=True, text=True).stdout
        for row in text.splitlines():
            # Europe/Berlin  Sun Mar 31 00:59:59 2024 UT = Sun Mar 31 01:59:59 2024 CET isdst=0 gmtoff=3600
            cols = row.split()
            if len(cols) < 16 or cols[6] != "UT":
                continue
            hour, minute, second = (int(x) for x in cols[4].split(":"))
            gmtoff = cols[15].split("=")[1]
            lines.append("%s %d %d %s %d %s %s" % (
                zone, int(cols[3]), MONTHS.index(cols[2]) + 1, cols[5],
                hour * 3600 + minute * 60 + second, gmtoff, cols[13]))
    if not lines:
        sys.exit("zdump gave nothing")
    with open(out, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
