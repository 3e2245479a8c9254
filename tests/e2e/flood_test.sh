#!/usr/bin/env bash
# What a user who may write the data folder can ask of the service: 500
# interval web sites of one minute, and an analyzer that takes a while and
# fails. The service must run at most N analyzers at once and queue the
# rest, and the system's log must get each event id's hourly share only.
# syslog is a socket of our own at /dev/log, in a mount namespace of the
# scheduler's own; without one, the events are not counted.
# Usage: flood_test.sh <native build folder>
# FLOOD_S (default 35) and RUN_S (default 4) lengthen it for a measurement;
# the figures are printed before the checks, so that a build without the
# cap can be measured too.
set -uo pipefail
. "$(dirname "$0")/reliability_lib.sh"
build=$1
flood_s=${FLOOD_S:-35} run_s=${RUN_S:-4} sites=500
work=$(mktemp -d)
export PROGRAMDATA="$work/data"
home="$PROGRAMDATA/Corvana" app="$work/app" log="$PROGRAMDATA/Corvana/scheduler.###"
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
cleanup() {
  [ -n "${pid:-}" ] && kill -KILL "$pid" 2>/dev/null
  [ -s "$work/scheduler.pid" ] && kill -KILL "$(cat "$work/scheduler.pid")" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
# As the scheduler picks it: four per core, at least 16, at most 64.
cap=$(( $(nproc) * 4 )); cap=$(( cap < 16 ? 16 : cap > 64 ? 64 : cap ))

mkdir -p "$app" "$home" "$work/dev"
cp "$build/scheduler" "$app/scheduler"
cat > "$app/Ravo.exe" <<SH
#!/bin/sh
echo + >> "$app/runs.txt"
sleep $run_s
echo - >> "$app/runs.txt"
exit 3
SH
chmod 755 "$app/Ravo.exe"
for i in $(seq 1 $sites); do
  printf 'FormatVersion=1.0\n[Common]\ntype_schedule=0\ntype_interval=0\ninterval=1\n' > "$home/Site$i.webserver"
done

# In namespaces of its own, the scheduler finds at /dev/log the socket
# that a listener here reads; the devices it needs are bound in beside it.
# The network namespace's datagram queue is made long enough for a burst,
# so that the listener, not the queue, sees every event.
cat > "$work/isolated.sh" <<'SH'
work=$1; shift
echo 100000 > /proc/sys/net/unix/max_dgram_qlen
mkdir -p "$work/realdev" && mount --rbind /dev "$work/realdev" || exit 90
for node in null zero random urandom; do
  : > "$work/dev/$node" && mount --bind "$work/realdev/$node" "$work/dev/$node" || exit 90
done
# libfaketime keeps its state in /dev/shm.
mkdir -p "$work/dev/shm" && mount --bind "$work/realdev/shm" "$work/dev/shm" || exit 90
mount --rbind "$work/dev" /dev || exit 90
python3 -c '
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, 33, 1 << 25)  # SO_RCVBUFFORCE
s.bind("/dev/log")
with open(sys.argv[1], "ab", buffering=0) as out:
    print("listening", flush=True)
    while True:
        out.write(s.recv(65536) + b"\n")
' "$work/events.txt" > "$work/listener.txt" 2>&1 &
listener=$!
for _ in $(seq 50); do [ -S /dev/log ] && break; sleep 0.1; done
"$@" &
echo $! > "$work/scheduler.pid"
wait $!
kill "$listener"
SH
cd "$work" || exit 1
# A fixed hour, so that no hour's turn falls into the run.
libfaketime=$(dpkg -L libfaketime 2>/dev/null | grep 'libfaketime.so.1$' | head -n 1)
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
if unshare -m -n --propagation private true 2>/dev/null; then
  LD_PRELOAD="$libfaketime" FAKETIME='@2026-12-07 10:00:00' \
    unshare -m -n --propagation private bash "$work/isolated.sh" "$work" "$app/scheduler" --service >"$work/stdout.txt" 2>&1 &
else
  echo "no mount namespace: the events are not counted"
  LD_PRELOAD="$libfaketime" FAKETIME='@2026-12-07 10:00:00' "$app/scheduler" --service >"$work/stdout.txt" 2>&1 &
  echo $! > "$work/scheduler.pid"
fi
pid=$!
poll 20 grep -q "Run Task Schedulers/Webservers" "$log" || fail "no start-up"
sleep "$flood_s"
kill -TERM "$(cat "$work/scheduler.pid")"
gone() { ! kill -0 "$pid" 2>/dev/null; }
poll 10 gone || fail "no exit after SIGTERM"
pid=

# The analyzers' own record of their starts and ends, in the order they
# came: how many ran at once at most.
read -r started peak < <(awk '$1 == "+" { ++n; ++started; if (n > peak) peak = n } $1 == "-" { --n }
                              END { print started + 0, peak + 0 }' "$app/runs.txt" 2>/dev/null || echo 0 0)
waits=$(grep -c "Waiting for a free analyzer slot, id: " "$log")
# A site waits again only once it has started.
queued_twice=$(log_bodies "$log" | awk -v wait="Waiting for a free analyzer slot, id: " -v run="Running update webserver, id: " '
  index($0, wait) == 1 { id = substr($0, length(wait) + 1); if (waiting[id]++) print id }
  index($0, run) == 1 { waiting[substr($0, length(run) + 1)] = 0 }' | head -n 3)
echo "in $flood_s s: $started analyzer runs, at most $peak at once (cap $cap), $waits waiting lines"
if [ -e "$work/events.txt" ]; then
  run_failed=$(grep -c "ended with exit code" "$work/events.txt")
  echo "events: $(grep -c . "$work/events.txt") in all, $run_failed run failures (2003)"
  [ "$run_failed" -eq 20 ] || fail "$run_failed run-failure events within one hour, not 20"
  [ "$(grep -c . "$work/events.txt")" -le 25 ] || fail "events: $(sort "$work/events.txt" | cut -c1-120 | uniq -c | head)"
fi

[ "$peak" -le "$cap" ] || fail "$peak analyzers at once"
[ "$started" -ge $((2 * cap)) ] || fail "only $started runs started: the queue did not move"
[ "$waits" -ge 1 ] || fail "nothing waited"
[ -z "$queued_twice" ] || fail "queued twice: $queued_twice"
grep -q "Scheduler normal shutdown." "$log" || fail "no shutdown"

if [ $failures -eq 0 ]; then echo "[  PASSED  ] 1 tests."; exit 0; fi
echo "--- output"; cat "$work/stdout.txt" "$work/listener.txt" 2>/dev/null | tail -n 20; echo "--- log tail"; tail -n 30 "$log"; echo "[  FAILED  ] 1 tests, $failures checks failed"; exit 1
