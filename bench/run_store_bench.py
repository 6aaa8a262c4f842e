#!/usr/bin/env python3
"""Store work of roamgrid-cli beside its floors, each measured in one run.

Stores of about 10^6 visited cells (walks over 0.5 x 0.5 degree, about a
hundred tiles, from make_coverage_log.py; a second store overlaps half of
the first) in a scratch folder on tmpfs when there is one:

  merge        `roamgrid-cli merge` of one store into the other, against
               `cp -r` of the merged store's RGD (target <= 2x); processor
               time (user + system) of the child processes, the two run in
               turns, median of RUNS each. `roamgrid-cli --version` is
               measured too: its start-up is part of every command.
  saves        system calls per saved tile (strace -f: the calls of the
               tile work, from the import's first look at the store on, the
               reads of the log left out, divided by the tile files it
               wrote: target <= 10; and all calls of the command) and saves
               per tile (target 1) of an import into an
               empty store, and of the second store's log into the first.
  memory       peak resident memory of `stats --explorer 24` (target <= 32
               MiB), beside `stats` and `--version`.

    bench/run_store_bench.py [--runs N] [--cli PATH] [--log NMEA_LOG]

--log adds the saves row for that log (the issue's 200 MB drive log, say).
Uses build-bench/bin/roamgrid-cli by default (cmake -B build-bench
-DCMAKE_BUILD_TYPE=Release -DROAMGRID_GUI=OFF -DROAMGRID_TESTS=OFF).
"""

import argparse
import os
import pathlib
import re
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent


def child_cpu(command, cwd=None):
    """Processor seconds (user + system) of running `command` to its end."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def peak_kib(command, cwd=None):
    """Peak resident memory (KiB) of `command`, from /usr/bin/time."""
    result = subprocess.run(["/usr/bin/time", "-f", "%M"] + command, cwd=cwd, check=True,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return int(result.stderr.strip().splitlines()[-1])


def tile_files(store):
    return sum(1 for _ in pathlib.Path(store, "RGD").rglob("*.map"))


def syscalls(command, log):
    """System calls of the import `command` of `log`: all of them, those of
    the tile work alone (from the first look at the store on, reads of the
    log left out), and the renames among them (one per saved tile)."""
    with tempfile.NamedTemporaryFile("r") as out:
        subprocess.run(["strace", "-f", "-qq", "-o", out.name] + command, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        lines = out.read().splitlines()
    total = len(lines)
    log_fd = None
    tile_calls = renames = 0
    started = False
    for line in lines:
        call = re.sub(r"^\d+\s+", "", line)  # the process id of -f
        if log_fd is None and call.startswith("openat(") and os.path.basename(log) in call:
            found = re.search(r"= (\d+)$", call)
            log_fd = found.group(1) if found else None
        started = started or "RGD" in call
        if not started or (log_fd and call.startswith(f"read({log_fd},")):
            continue
        tile_calls += 1
        renames += call.startswith("rename")
    return total, tile_calls, renames


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--cli", default=str(ROOT / "build-bench/bin/roamgrid-cli"))
    parser.add_argument("--log", help="an NMEA log for another saves row")
    args = parser.parse_args()
    cli = os.path.abspath(args.cli)
    if not os.access(cli, os.X_OK):
        sys.exit(f"{cli} is missing: build roamgrid-cli in Release mode first")
    tmp = pathlib.Path(os.environ.get("TMPDIR", "/tmp"))
    logs = []
    for name, extra in (("a", []), ("b", ["--south", "35.55", "--west", "139.55"])):
        log = tmp / f"roamgrid-bench-coverage-{name}.log"
        if not log.exists():
            subprocess.run([sys.executable, str(ROOT / "bench/make_coverage_log.py"),
                            "--output", str(log) + ".part"] + extra, check=True)
            os.rename(str(log) + ".part", log)
        logs.append(str(log))
    base = "/dev/shm" if os.path.isdir("/dev/shm") else str(tmp)
    with tempfile.TemporaryDirectory(dir=base, prefix="roamgrid-bench-") as work:
        w = pathlib.Path(work)
        for name, log in zip("ab", logs):
            (w / name).mkdir()
            subprocess.run([cli, "-C", str(w / name), "import", log], check=True,
                           stdout=subprocess.DEVNULL)
        print(f"load: {os.getloadavg()[0]:.1f}; store a: {tile_files(w / 'a')} tiles, "
              f"store b: {tile_files(w / 'b')} tiles")

        # merge against cp -r, in turns.
        copies, merges, starts = [], [], []
        for _ in range(args.runs):
            shutil.rmtree(w / "cp", ignore_errors=True)
            (w / "cp").mkdir()
            copies.append(child_cpu(["cp", "-r", str(w / "a/RGD"), str(w / "cp/RGD")]))
            shutil.rmtree(w / "m", ignore_errors=True)
            shutil.copytree(w / "b", w / "m")
            merges.append(child_cpu([cli, "-C", str(w / "m"), "merge", str(w / "a")]))
            starts.append(child_cpu([cli, "--version"]))
        cp, merge, start = (statistics.median(x) for x in (copies, merges, starts))
        print(f"merge a into b: {merge * 1e3:7.1f} ms cpu   cp -r a/RGD: {cp * 1e3:6.1f} ms   "
              f"--version: {start * 1e3:5.1f} ms   (medians of {args.runs})")
        print(f"  merge / cp -r = {merge / cp:.2f} (target <= 2)   without start-up: "
              f"{(merge - start) / cp:.2f}")

        # system calls per save, saves per tile
        if shutil.which("strace"):
            rows = [("coverage a into an empty store", logs[0], None),
                    ("coverage b into store a", logs[1], "a")]
            if args.log:
                rows.append((os.path.basename(args.log) + " into an empty store", args.log, None))
            for name, log, seed in rows:
                shutil.rmtree(w / "s", ignore_errors=True)
                if seed:
                    shutil.copytree(w / seed, w / "s")
                else:
                    (w / "s").mkdir()
                total, tile_calls, saves = syscalls([cli, "-C", str(w / "s"), "import", log], log)
                tiles = tile_files(w / "s")
                saves = max(saves, 1)
                print(f"import, {name}: {saves} tile saves, {tiles} tiles: "
                      f"{saves / max(tiles, 1):.2f} saves per tile (target 1); per save "
                      f"{tile_calls / saves:.1f} system calls of tile work (target <= 10), "
                      f"{total / saves:.1f} of the whole command")
        else:
            print("strace is missing: no system call counts")

        # memory
        stats = peak_kib([cli, "-C", str(w / "a"), "stats"])
        explorer = peak_kib([cli, "-C", str(w / "a"), "stats", "--explorer", "24"])
        version = peak_kib([cli, "--version"])
        print(f"stats --explorer 24: {explorer / 1024:.1f} MiB peak (target <= 32)   stats: "
              f"{stats / 1024:.1f} MiB   --version: {version / 1024:.1f} MiB")


if __name__ == "__main__":
    main()
