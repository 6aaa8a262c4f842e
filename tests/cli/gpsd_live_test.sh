#!/usr/bin/env bash
# A receiver served by gpsd, recorded live: gpsfake serves a generated log,
# `gpspipe -r` feeds `roamgrid-cli import -` through tee (which keeps what
# was passed on), and SIGINT ends the import. The store must then equal the
# store of the kept copy imported as a file, and the exit status be 130.
# Exits 77 (skipped) when gpsfake or gpspipe is missing.
#   gpsd_live_test.sh ROAMGRID_CLI MAKE_NMEA_LOG_PY
set -euo pipefail
cli="$(realpath "$1")"
make_log="$(realpath "$2")"
for tool in gpsfake gpspipe python3 tee; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done

work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -CONT "$pid" 2>/dev/null || true; kill "$pid" 2>/dev/null || true; done
  # gpsfake runs gpsd in its own process group, started by setsid below.
  [ -n "${fake:-}" ] && kill -- "-$fake" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
python3 "$make_log" --size-mb 0.1 --output live.log

# A port of its own, so that a gpsd of the system (port 2947) takes no part.
port=$((20000 + $$ % 20000))
setsid gpsfake -q -P "$port" -s 115200 -c 0.002 live.log >fake.txt 2>&1 &
fake=$!
# Until gpsd answers on its port (at most 20 s: a loaded machine starts it slowly).
for _ in $(seq 200); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done

mkfifo raw passed
mkdir store copy
gpspipe -r "localhost:$port" >raw 2>gpspipe.txt &
pipe=$!
pids+=("$pipe")
tee kept.nmea <raw >passed &
pids+=($!)
"$cli" -C store import - <passed >out.txt 2>err.txt &
import=$!

# Until the receiver has passed on enough fixes (at most 20 s).
for _ in $(seq 200); do
  [ "$(grep -c '^\$GPGGA' kept.nmea 2>/dev/null || true)" -ge 100 ] && break
  kill -0 "$import" 2>/dev/null || break
  sleep 0.1
done
# Hold the receiver's stream, let everything in flight reach the import,
# then interrupt it as Ctrl-C would.
kill -STOP "$pipe"
sleep 1
kill -INT "$import"
status=0
wait "$import" || status=$?

fail() { echo "FAILED: $*"; cat out.txt err.txt fake.txt gpspipe.txt 2>/dev/null | head -20; exit 1; }
[ "$status" -eq 130 ] || fail "exit status $status, not 130"
fixes=$(grep -c '^\$GPGGA' kept.nmea || true)
[ "$fixes" -ge 100 ] || fail "only $fixes GGA lines came through"
grep -q 'stopped by SIGINT' err.txt || fail "no word of the signal"
"$cli" -C copy import ../kept.nmea >copy.txt
[ "$(sed 's/^-: //' out.txt)" = "$(sed 's/^..\/kept.nmea: //' copy.txt)" ] ||
  fail "counts differ: $(cat out.txt) / $(cat copy.txt)"
diff -r store/RGD copy/RGD >/dev/null || fail "the stores differ"
echo "ok: $(cat out.txt) from $(wc -c <kept.nmea) bytes"
