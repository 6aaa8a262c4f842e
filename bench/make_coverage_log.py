#!/usr/bin/env python3
"""Writes an NMEA 0183 log of GGA fixes that visit about N distinct cells.

Walks wander through a square of SIDE degrees (default 0.5, about a hundred
tiles) with steps of about one cell (6 m) and slowly turning headings, so
nearly every fix marks a new cell, as a dense collection of walks and rides
would. Only $GPGGA lines are written (with correct checksums); the same
arguments give the same bytes.

    make_coverage_log.py --fixes 1050000 --output coverage.log [--side 0.5] [--walk 20000]

--walk sets the fixes of each walk: shorter walks spread the cells over
more tiles.
"""

import argparse
import math
import random

CELL_DEG = 1.0 / 17920


def gga(lat, lon):
    def field(deg, width):
        mag = abs(deg)
        whole = int(mag)
        return "%0*.4f" % (width + 5, whole * 100 + (mag - whole) * 60)

    body = "GPGGA,123519,%s,%s,%s,%s,1,08,0.9,545.4,M,46.9,M,," % (
        field(lat, 4), "N" if lat >= 0 else "S", field(lon, 5), "E" if lon >= 0 else "W")
    checksum = 0
    for c in body:
        checksum ^= ord(c)
    return "$%s*%02X\r\n" % (body, checksum)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--fixes", type=int, default=1050000)
    parser.add_argument("--output", required=True)
    parser.add_argument("--side", type=float, default=0.5)
    parser.add_argument("--south", type=float, default=35.4)
    parser.add_argument("--west", type=float, default=139.4)
    parser.add_argument("--walk", type=int, default=20000)
    args = parser.parse_args()
    rng = random.Random(20)
    lat, lon = args.south + args.side / 2, args.west + args.side / 2
    heading = 0.0
    lines = []
    with open(args.output, "w", newline="") as out:
        for n in range(args.fixes):
            if n % args.walk == 0:  # a new walk somewhere else
                lat = args.south + rng.random() * args.side
                lon = args.west + rng.random() * args.side
            heading += (rng.random() - 0.5) * 0.5
            step = CELL_DEG * (0.9 + rng.random() * 0.4)
            lat += step * math.sin(heading)
            lon += step * math.cos(heading)
            if not (args.south < lat < args.south + args.side and
                    args.west < lon < args.west + args.side):
                heading += math.pi
                lat = min(max(lat, args.south), args.south + args.side)
                lon = min(max(lon, args.west), args.west + args.side)
            lines.append(gga(lat, lon))
            if len(lines) == 10000:
                out.write("".join(lines))
                lines = []
        out.write("".join(lines))


if __name__ == "__main__":
    main()
