#!/usr/bin/env python3
"""Start-up of roamgrid-cli: wall time and shared libraries loaded.

Runs `--version`, `stats` of a tiny store, `import` of a tiny NMEA log,
`export` of a GeoTIFF (which loads the GeoTIFF writer) and `export
--background coast` (which reads the coast data) RUNS times each,
interleaved with `/bin/true`, the floor: the cost of starting any process
from here, and with `gpsbabel -V` when installed, a peer's start. Prints per command the median wall and CPU (user + system)
time, the CPU time's ratio to the floor's, and the number of shared
libraries the program loaded (counted by the dynamic loader, those opened
later with dlopen included). On a busy machine the CPU times are the
figures to compare; wall times wait for the processor. With --baseline a second roamgrid-cli runs the same
commands in the same rounds, for a before-and-after comparison. With --gui
the desktop program's `roamgrid --version` (answered before Qt starts, but
after every library is loaded) is measured the same way (--gui-baseline an
older one).

    bench/run_cli_start_bench.py build-test/bin/roamgrid-cli [--baseline OLD] [--runs N]
        [--gui build-test/bin/roamgrid [--gui-baseline OLD]]
"""

import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

TINY_LOG = (
    "$GPGGA,123519,3540.000,N,13945.000,E,1,08,0.9,10.0,M,39.0,M,,*7D\n"
    "$GPGGA,123520,3540.001,N,13945.001,E,1,08,0.9,10.0,M,39.0,M,,*77\n"
)


def commands(cli, work):
    """The commands measured: (name, argv, prepare) with prepare run untimed before each."""
    store = os.path.join(work, "store")
    log = os.path.join(work, "tiny.log")
    image = os.path.join(work, "coast.png")
    tiff = os.path.join(work, "view.tif")

    def fresh_store():
        shutil.rmtree(os.path.join(store, "RGD"), ignore_errors=True)

    def no_image():
        if os.path.exists(image):
            os.remove(image)

    def no_tiff():
        if os.path.exists(tiff):
            os.remove(tiff)

    return [
        ("--version", [cli, "--version"], None),
        ("stats", [cli, "-C", store, "stats"], None),
        ("import tiny log", [cli, "-C", store, "import", log], fresh_store),
        ("export GeoTIFF", [cli, "-C", store, "export", tiff], no_tiff),
        ("export --background coast", [cli, "-C", store, "export", "--background", "coast", image],
         no_image),
    ]


def run_once(argv):
    """Wall and CPU (user + system) seconds of one run."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def libraries_loaded(argv, prepare):
    """Shared objects the loader initialised during one run (dlopen included)."""
    if prepare:
        prepare()
    env = dict(os.environ, LD_DEBUG="libs")
    result = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env,
                            check=False, text=True, errors="replace")
    return sum(1 for line in result.stderr.splitlines() if "calling init:" in line)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("cli")
    parser.add_argument("--baseline", help="an older roamgrid-cli to compare with")
    parser.add_argument("--runs", type=int, default=41)
    parser.add_argument("--gui", help="the desktop program, for its --version")
    parser.add_argument("--gui-baseline", help="an older desktop program to compare with")
    args = parser.parse_args()
    programs = [("now", os.path.realpath(args.cli))]
    if args.baseline:
        programs.append(("baseline", os.path.realpath(args.baseline)))
    desktop = {}
    if args.gui:
        desktop["now"] = [os.path.realpath(args.gui), "--version"]
    if args.gui and args.gui_baseline:
        desktop["baseline"] = [os.path.realpath(args.gui_baseline), "--version"]

    with tempfile.TemporaryDirectory() as work:
        os.makedirs(os.path.join(work, "store"))
        with open(os.path.join(work, "tiny.log"), "w") as log:
            log.write(TINY_LOG)
        table = {name: commands(path, work) for name, path in programs}
        for name, argv in desktop.items():
            if name in table:
                table[name].append(("roamgrid --version", argv, None))
        # Something to count and draw: the tiny log in the store, once.
        subprocess.run(table["now"][2][1], stdout=subprocess.DEVNULL, check=False)

        floor = []
        # A peer that starts small: another track tool's version banner,
        # when it is installed.
        peer_path = shutil.which("gpsbabel")
        peer = [] if peer_path else None
        times = {(p, c[0]): [] for p, _ in programs for c in table["now"]}
        for _ in range(args.runs):
            floor.append(run_once(["/bin/true"]))
            if peer is not None:
                peer.append(run_once([peer_path, "-V"]))
            for name, _ in programs:
                for label, argv, prepare in table[name]:
                    if prepare:
                        prepare()
                    times[(name, label)].append(run_once(argv))

        def medians(samples):
            return (statistics.median(s[0] for s in samples) * 1e3,
                    statistics.median(s[1] for s in samples) * 1e3)

        floor_wall, floor_cpu = medians(floor)
        print(f"floor /bin/true: median {floor_wall:.2f} ms wall, {floor_cpu:.2f} ms CPU over "
              f"{args.runs} runs; load {os.getloadavg()[0]:.2f}")
        print(f"{'command':28} {'program':9} {'wall ms':>8} {'CPU ms':>8} {'CPU x floor':>11} "
              f"{'libs':>5}")
        if peer is not None:
            wall, cpu = medians(peer)
            libs = libraries_loaded([peer_path, "-V"], None)
            print(f"{'gpsbabel -V (peer)':28} {'':9} {wall:8.2f} {cpu:8.2f} {cpu / floor_cpu:11.2f} "
                  f"{libs:5d}")
        for label, _, prepare in table["now"]:
            for name, _ in programs:
                if not any(c[0] == label for c in table[name]):
                    continue
                argv = next(c[1] for c in table[name] if c[0] == label)
                wall, cpu = medians(times[(name, label)])
                libs = libraries_loaded(argv, prepare)
                print(f"{label:28} {name:9} {wall:8.2f} {cpu:8.2f} {cpu / floor_cpu:11.2f} "
                      f"{libs:5d}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
