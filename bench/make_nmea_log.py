#!/usr/bin/env python3
"""Writes a large NMEA 0183 log for the import benchmarks.

One fix per second along a moving track, each second written as GGA, RMC,
GSA and three GSV sentences with correct checksums and CR LF line ends, as
a receiver logs them. The track is one of these profiles:

  mixed  a receiver carried through the days: stays (at home, at work),
         walks, bicycle rides and drives with stops (the default)
  drive  driving all the time, 0 to 100 km/h, with stops and turns
  walk   walking all the time

Positions carry a few metres of receiver noise. Now and then the receiver
loses its fix for a while (a tunnel, indoors) and writes GGA and RMC
sentences without a position. The same arguments give the same bytes.

    make_nmea_log.py --size-mb 200 --output drive.log [--profile mixed]
"""

import argparse
import math
import random

EARTH_RADIUS_M = 6371000.0

# Activities of the mixed profile: (name, weight, minutes, speeds in m/s).
ACTIVITIES = [
    ("stay", 3, (15, 180), (0.0,)),
    ("walk", 3, (5, 40), (1.0, 1.3, 1.6)),
    ("cycle", 1, (10, 40), (4.0, 5.5, 7.0)),
    ("drive", 3, (10, 120), (0.0, 8.0, 14.0, 20.0, 28.0)),
]


def checksum(body):
    value = 0
    for byte in body.encode("ascii"):
        value ^= byte
    return "%02X" % value


def sentence(body):
    return "$%s*%s\r\n" % (body, checksum(body))


def ddmm(degrees, width):
    """Degrees as ddmm.mmmm (width 2) or dddmm.mmmm (width 3)."""
    magnitude = abs(degrees)
    whole = int(magnitude)
    minutes = round((magnitude - whole) * 60.0, 4)
    if minutes >= 60.0:
        whole += 1
        minutes = 0.0
    return "%0*d%07.4f" % (width, whole, minutes)


class Track:
    def __init__(self, rng, profile):
        self.rng = rng
        self.profile = profile
        self.lat = 35.6812
        self.lon = 139.7671
        self.heading = 90.0  # degrees clockwise from north
        self.speed = 0.0  # m/s
        self.speeds = (0.0,)
        self.target_speed = 0.0
        self.turn_rate = 0.0  # degrees per second
        self.turn_noise = 0.5
        self.activity_left = 0
        self.no_fix_left = 0

    def choose_activity(self):
        rng = self.rng
        if self.profile == "drive":
            name, minutes, speeds = "drive", (60, 60), ACTIVITIES[3][3]
        elif self.profile == "walk":
            name, minutes, speeds = "walk", (60, 60), ACTIVITIES[1][3]
        else:
            weights = [a[1] for a in ACTIVITIES]
            name, _, minutes, speeds = rng.choices(ACTIVITIES, weights)[0]
        self.activity_left = 60 * rng.randint(*minutes)
        self.speeds = speeds
        self.target_speed = rng.choice(speeds)
        self.turn_noise = 0.5 if name in ("drive", "cycle") else 4.0
        if name != "drive":
            self.turn_rate = 0.0

    def step(self):
        rng = self.rng
        if self.activity_left <= 0:
            self.choose_activity()
        self.activity_left -= 1
        if rng.random() < 0.01:
            self.target_speed = rng.choice(self.speeds)
        if rng.random() < 0.02:
            self.turn_rate = rng.choice([0.0, 0.0, 0.0, -3.0, 3.0, -9.0, 9.0])
        if rng.random() < 0.1:
            self.turn_rate = 0.0
        self.speed += max(-2.0, min(1.5, self.target_speed - self.speed))
        if self.speed > 0.0:
            self.heading = (self.heading + self.turn_rate + rng.gauss(0.0, self.turn_noise)) % 360.0
        rad = math.radians(self.heading)
        self.lat += math.degrees(self.speed * math.cos(rad) / EARTH_RADIUS_M)
        self.lon += math.degrees(
            self.speed * math.sin(rad) / (EARTH_RADIUS_M * math.cos(math.radians(self.lat))))
        # Stay on the main island's latitudes: turn back at the edges.
        if (self.lat > 41.0 and math.cos(rad) > 0) or (self.lat < 31.0 and math.cos(rad) < 0):
            self.heading = (180.0 - self.heading) % 360.0
        if self.no_fix_left > 0:
            self.no_fix_left -= 1
        elif rng.random() < 0.0005:
            self.no_fix_left = rng.randint(5, 120)

    def measured(self):
        """The position as the receiver reports it: a few metres off."""
        north = self.rng.gauss(0.0, 2.5)
        east = self.rng.gauss(0.0, 2.5)
        lat = self.lat + math.degrees(north / EARTH_RADIUS_M)
        lon = self.lon + math.degrees(east / (EARTH_RADIUS_M * math.cos(math.radians(self.lat))))
        return lat, lon


def second_of_log(track, t, rng):
    hh, mm, ss = (t // 3600) % 24, (t // 60) % 60, t % 60
    day = 1 + (t // 86400) % 28
    time = "%02d%02d%02d.00" % (hh, mm, ss)
    date = "%02d0126" % day
    lines = []
    if track.no_fix_left > 0:
        lines.append(sentence("GPGGA,%s,,,,,0,00,99.99,,,,,," % time))
        lines.append(sentence("GPRMC,%s,V,,,,,,,%s,,,N" % (time, date)))
        lines.append(sentence("GPGSA,A,1,,,,,,,,,,,,,99.99,99.99,99.99"))
    else:
        lat_deg, lon_deg = track.measured()
        lat = ddmm(lat_deg, 2)
        lon = ddmm(lon_deg, 3)
        ns = "N" if lat_deg >= 0 else "S"
        ew = "E" if lon_deg >= 0 else "W"
        satellites = rng.randint(6, 12)
        hdop = rng.uniform(0.7, 2.0)
        altitude = 20.0 + 15.0 * math.sin(t / 900.0)
        lines.append(sentence("GPGGA,%s,%s,%s,%s,%s,1,%02d,%.1f,%.1f,M,39.4,M,," %
                              (time, lat, ns, lon, ew, satellites, hdop, altitude)))
        lines.append(sentence("GPRMC,%s,A,%s,%s,%s,%s,%.1f,%.1f,%s,,,A" %
                              (time, lat, ns, lon, ew, track.speed * 1.943844, track.heading,
                               date)))
        used = ",".join("%02d" % prn for prn in range(1, 13))
        lines.append(sentence("GPGSA,A,3,%s,%.1f,%.1f,%.1f" % (used, hdop * 1.6, hdop, hdop * 1.2)))
    for part in range(3):
        sats = []
        for k in range(4):
            prn = 1 + part * 4 + k
            elevation = (prn * 7 + t // 600) % 90
            azimuth = (prn * 29 + t // 120) % 360
            snr = 0 if track.no_fix_left else 25 + (prn * 3 + t) % 25
            sats.append("%02d,%02d,%03d,%02d" % (prn, elevation, azimuth, snr))
        lines.append(sentence("GPGSV,3,%d,12,%s" % (part + 1, ",".join(sats))))
    return "".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size-mb", type=float, default=200.0,
                        help="approximate size in MB (10^6 bytes); the log ends after the "
                        "second that reaches it")
    parser.add_argument("--output", required=True, help="path of the log to write")
    parser.add_argument("--profile", choices=("mixed", "drive", "walk"), default="mixed")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()

    rng = random.Random(args.seed)
    track = Track(rng, args.profile)
    limit = int(args.size_mb * 1e6)
    written = 0
    t = 0
    with open(args.output, "w", newline="", encoding="ascii") as out:
        chunk = []
        while written < limit:
            track.step()
            text = second_of_log(track, t, rng)
            chunk.append(text)
            written += len(text)
            t += 1
            if len(chunk) >= 4096:
                out.write("".join(chunk))
                chunk = []
        out.write("".join(chunk))


if __name__ == "__main__":
    main()
