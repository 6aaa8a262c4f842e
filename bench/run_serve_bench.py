#!/usr/bin/env python3
"""Tiles from `roamgrid-cli serve` over HTTP, against the server's floor.

A store of about 10^6 visited cells (the coverage walks of
make_coverage_log.py, 0.5 x 0.5 degrees) is served on a free port of
127.0.0.1. One client on one kept-alive connection asks, in turns:

  floor     /tiles.json, an answer of a few hundred bytes that draws
            nothing: what a round trip through the server costs;
  cold      each tile of zooms 10 to 16 over the walks, once (the first
            asks also build the overview of the store);
  warm      the same tiles again;
  revalidate the same tiles with the ETag of their answers
            (If-None-Match), which a map client sends: 304 Not Modified.

Prints the median and the 95th percentile wall time per answer in
milliseconds, and each median's ratio to the floor's. The target for a
tile is 5 ms (median, warm).

    bench/run_serve_bench.py [--cli PATH] [--tiles N]

Uses build-bench/bin/roamgrid-cli by default (a Release build).
"""

import argparse
import http.client
import math
import os
import pathlib
import random
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
SOUTH, WEST, SIDE = 35.4, 139.4, 0.5  # make_coverage_log.py's square


def tile_of(lat, lon, zoom):
    """The XYZ tile (x, y) of a point at `zoom`."""
    n = 2 ** zoom
    x = int((lon + 180.0) / 360.0 * n)
    y = int((1.0 - math.asinh(math.tan(math.radians(lat))) / math.pi) / 2.0 * n)
    return x, y


def tiles_over_the_walks(count, seed=7):
    """`count` tiles of zooms 10 to 16 whose corners lie in the walks' square."""
    rng = random.Random(seed)
    tiles = set()
    while len(tiles) < count:
        zoom = rng.randint(10, 16)
        lat = SOUTH + rng.random() * SIDE
        lon = WEST + rng.random() * SIDE
        tiles.add((zoom, *tile_of(lat, lon, zoom)))
    return sorted(tiles)


def timed(connection, path, headers=None):
    """Wall milliseconds, status and headers of one request on `connection`."""
    start = time.perf_counter()
    connection.request("GET", path, headers=headers or {})
    response = connection.getresponse()
    response.read()
    return (time.perf_counter() - start) * 1e3, response.status, dict(response.getheaders())


def summary(label, samples, floor=None):
    median = statistics.median(samples)
    p95 = sorted(samples)[int(0.95 * (len(samples) - 1))]
    ratio = f"   {median / floor:6.1f}x floor" if floor else ""
    print(f"{label:11} {len(samples):5d} answers   median {median:7.3f} ms   "
          f"p95 {p95:7.3f} ms{ratio}")
    return median


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", default=str(ROOT / "build-bench/bin/roamgrid-cli"))
    parser.add_argument("--tiles", type=int, default=400)
    args = parser.parse_args()
    cli = os.path.abspath(args.cli)
    if not os.access(cli, os.X_OK):
        sys.exit(f"{cli} is missing: build roamgrid-cli in Release mode first")
    tmp = pathlib.Path(os.environ.get("TMPDIR", "/tmp"))
    log = tmp / "roamgrid-bench-coverage-a.log"
    if not log.exists():
        subprocess.run([sys.executable, str(ROOT / "bench/make_coverage_log.py"),
                        "--output", str(log) + ".part"], check=True)
        os.rename(str(log) + ".part", log)
    base = "/dev/shm" if os.path.isdir("/dev/shm") else str(tmp)
    with tempfile.TemporaryDirectory(dir=base, prefix="roamgrid-bench-") as work:
        store = pathlib.Path(work) / "store"
        store.mkdir()
        subprocess.run([cli, "-C", str(store), "import", str(log)], check=True,
                       stdout=subprocess.DEVNULL)
        env = dict(os.environ, XDG_CACHE_HOME=str(pathlib.Path(work) / "cache"))
        server = subprocess.Popen([cli, "-C", str(store), "serve", "--port", "0"],
                                  stdout=subprocess.PIPE, text=True, env=env)
        try:
            line = server.stdout.readline()
            port = int(line.split("127.0.0.1:")[1].split("/")[0])
            connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
            tiles = tiles_over_the_walks(args.tiles)
            paths = [f"/{z}/{x}/{y}.png" for z, x, y in tiles]
            floor, cold, warm, revalidate = [], [], [], []
            etags = {}
            for path in paths:
                floor.append(timed(connection, "/tiles.json")[0])
                ms, status, headers = timed(connection, path)
                if status != 200:
                    sys.exit(f"{path}: status {status}")
                cold.append(ms)
                etags[path] = headers.get("ETag", "")
            for path in paths:
                floor.append(timed(connection, "/tiles.json")[0])
                warm.append(timed(connection, path)[0])
                ms, status, _ = timed(connection, path, {"If-None-Match": etags[path]})
                if status != 304:
                    sys.exit(f"{path} with its ETag: status {status}")
                revalidate.append(ms)
            print(f"load {os.getloadavg()[0]:.1f}; {len(paths)} tiles of zooms 10 to 16 over "
                  f"{SIDE} x {SIDE} degrees of walks, one kept-alive connection")
            floor_median = summary("floor", floor)
            summary("cold", cold, floor_median)
            warm_median = summary("warm", warm, floor_median)
            summary("revalidate", revalidate, floor_median)
            print(f"warm tile median {warm_median:.3f} ms (target <= 5 ms)")
        finally:
            server.terminate()
            server.wait(timeout=10)
    return 0


if __name__ == "__main__":
    sys.exit(main())
