#!/usr/bin/env python3
"""Writes the fixes of an NMEA log as a GPX 1.1 track, as a phone or a
watch records one: one trkpt per GGA fix with latitude and longitude to 7
decimals, elevation and time, in track segments of 1000 points.

    make_gpx_track.py INPUT.log OUTPUT.gpx
"""

import argparse


def degrees(field, hemisphere):
    value = float(field)
    whole = int(value / 100)
    result = whole + (value - whole * 100) / 60.0
    return -result if hemisphere in ("S", "W") else result


def main():
    parser = argparse.ArgumentParser(
        description="Writes the GGA fixes of an NMEA log as a GPX 1.1 track, one trkpt "
                    "per fix, in track segments of 1000 points.")
    parser.add_argument("source", metavar="INPUT.log", help="the NMEA log to read")
    parser.add_argument("target", metavar="OUTPUT.gpx", help="the GPX file to write")
    args = parser.parse_args()
    source, target = args.source, args.target
    with open(source, encoding="ascii", errors="replace") as log, open(target, "w") as out:
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n'
                  '<gpx version="1.1" creator="make_gpx_track.py" '
                  'xmlns="http://www.topografix.com/GPX/1/1">\n<trk><name>drive</name><trkseg>\n')
        count = 0
        for line in log:
            fields = line.split(",")
            if not line.startswith("$GPGGA,") or len(fields) < 10 or not fields[2] or not fields[4]:
                continue
            if count and count % 1000 == 0:
                out.write("</trkseg><trkseg>\n")
            seconds = count % 86400
            out.write('<trkpt lat="%.7f" lon="%.7f"><ele>%s</ele>'
                      '<time>2024-05-01T%02d:%02d:%02dZ</time></trkpt>\n'
                      % (degrees(fields[2], fields[3]), degrees(fields[4], fields[5]),
                         fields[9] or "0", seconds // 3600, seconds // 60 % 60, seconds % 60))
            count += 1
        out.write("</trkseg></trk>\n</gpx>\n")


if __name__ == "__main__":
    main()
