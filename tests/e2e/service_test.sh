#!/usr/bin/env bash
# The native build in the foreground, as systemd or a terminal runs it:
# started by libfaketime seconds before a schedule is due, with a stand-in
# analyzer and the nginx.exe wrapper around Debian's nginx; then SIGTERM.
# Usage: service_test.sh <native build folder> <source folder>
set -uo pipefail
. "$(dirname "$0")/reliability_lib.sh"
build=$1 source=$2
work=$(mktemp -d)
export PROGRAMDATA="$work/data"
home="$PROGRAMDATA/Corvana" app="$work/Corvana Apps" log="$PROGRAMDATA/Corvana/scheduler.###"
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
port=$((20000 + RANDOM % 20000))
cleanup() {
  [ -n "${pid:-}" ] && kill -KILL "$pid" 2>/dev/null
  pkill -f "$home/webserver" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$app" "$home/webserver"
cp "$build/scheduler" "$app/scheduler"
cp "$source/scripts/ravo-standin" "$app/Ravo.exe"
"$source/scripts/nginx-wrapper" --install "$home/webserver" "$port" >/dev/null || fail "nginx wrapper install"
printf 'FormatVersion=1.0\r\n\r\n[Common]\r\ntype_schedule=2\r\ndays_week=127\r\nhour=3\r\nmin=30\r\nsec=0\r\n' > "$home/Nightly.schedule"
printf 'FormatVersion=1.0\n[Common]\ntype_schedule=0\ntype_interval=0\ninterval=30\n' > "$home/Reports.webserver"

cd "$work" || exit 1
# libfaketime preloaded directly: the faketime wrapper would stand between
# the signal and the scheduler.
libfaketime=$(dpkg -L libfaketime 2>/dev/null | grep 'libfaketime.so.1$' | head -n 1)
# A sanitizer build accepts a preloaded library only when told to.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
RAVO_STANDIN_SECONDS=0 RAVO_STANDIN_EXIT=3 LD_PRELOAD="$libfaketime" FAKETIME='@2026-12-07 03:29:55' \
  "$app/scheduler" --service >"$work/stdout.txt" 2>&1 &
pid=$!
poll 20 grep -q "Successful run schedule, id: Nightly" "$log" || fail "the schedule did not run"
expected=(
  "#Software: Corvana 3.3 (build 0383)."
  "\"$home/webserver/nginx.exe\" -s quit"
  "Webserver command successfully"
  "Loading schedules"
  "Load settings '$home/Nightly.schedule'..."
  "Load settings - OK"
  "Loading : 1 Schedules items"
  "Loading webservers"
  "Load settings '$home/Reports.webserver'..."
  "Load settings - OK"
  "Loading : 1 Web Servers items"
  "Start webservers..."
  "\"$home/webserver/nginx.exe\""
  "Webserver command successfully"
  "Home path: $work >> $app/"
  "Run Task Schedulers/Webservers..."
  "Running update webserver, id: Reports"
  "Successful run webserver update, id: Reports"
)
mapfile -t got < <(log_bodies "$log" | head -n ${#expected[@]})
for i in "${!expected[@]}"; do
  [ "${got[$i]:-}" = "${expected[$i]}" ] || fail "log line $((i + 1)): '${got[$i]:-}' instead of '${expected[$i]}'"
done
grep -q '^\[2026-12-07 03:30:00\] Running schedule, id: Nightly$' "$log" || fail "the schedule did not start at 03:30:00"
# From a program folder with a blank the analyzer's first argument is its
# option, and an id with a blank splits as Windows splits it.
poll 10 grep -qxF -- "[-_scheduleNightly]" "$app/ravo_calls.txt" || fail "analyzer arguments: $(cat "$app/ravo_calls.txt" 2>/dev/null)"
# A second schedule, due at 03:30:15, loaded when the counter moves.
printf 'FormatVersion=1.0\n[Common]\ntype_schedule=2\ndays_week=127\nhour=3\nmin=30\nsec=15\n' > "$home/Night run.schedule"
printf '\x01\x00\x00\x00' > "$home/schedule_counter.dat"
poll 30 grep -qxF -- "[-_scheduleNight][run]" "$app/ravo_calls.txt" || fail "analyzer arguments: $(cat "$app/ravo_calls.txt" 2>/dev/null)"
echo "analyzer calls: $(tr '\n' ' ' < "$app/ravo_calls.txt")"
poll 10 grep -q "The process stopped, id: Nightly" "$log" || fail "the ended child was not reported"
poll 10 grep -q "The process stopped, id: Night run" "$log" || fail "the second ended child was not reported"
poll 10 curl -sf "http://127.0.0.1:$port/Reports/" -o "$work/page.html" || fail "no report page served"
grep -q "Corvana report: Reports" "$work/page.html" 2>/dev/null || fail "wrong report page"
zombies=$(ps -o stat= --ppid "$pid" | grep -c Z)
[ "$zombies" -eq 0 ] || fail "$zombies zombie children"

start_ms=$(date +%s%3N)
kill -TERM "$pid"
gone() { ! kill -0 "$pid" 2>/dev/null; }
poll 5 gone || fail "no exit after SIGTERM"
wait "$pid"; status=$?
stop_ms=$(( $(date +%s%3N) - start_ms ))
echo "stopped $stop_ms ms after SIGTERM, exit status $status"
[ "$status" -eq 0 ] || fail "exit status $status"
[ "$stop_ms" -lt 1500 ] || fail "stop took $stop_ms ms"
mapfile -t tail_lines < <(log_bodies "$log" | grep -v '^Running\|^Successful\|^The process\|^Events the system' | tail -n 13)
stop_expected=(
  "Service: Stopped." "Service: Shutdown." "\"$home/webserver/nginx.exe\" -s quit" "Webserver command successfully"
  "Stop webservers..." "\"$home/webserver/nginx.exe\" -s quit" "Webserver command successfully" "Scheduler normal shutdown."
  "Stop webservers..." "\"$home/webserver/nginx.exe\" -s quit" "Webserver command successfully" "Scheduler normal shutdown."
)
for i in "${!stop_expected[@]}"; do
  [ "${tail_lines[$((i + 1))]:-}" = "${stop_expected[$i]}" ] || fail "stop line $((i + 1)): '${tail_lines[$((i + 1))]:-}' instead of '${stop_expected[$i]}'"
done
no_nginx() { ! pgrep -f "$home/webserver" >/dev/null; }
poll 10 no_nginx || fail "nginx still runs: $(pgrep -af "$home/webserver")"
[ -s "$work/stdout.txt" ] && fail "printed: $(cat "$work/stdout.txt")"

# A restart begins the log anew; the journal keeps the analyzer's exit 3 a
# failure in `schedules`, never a "successful" start.
mv "$log" "$work/first.log"
LD_PRELOAD="$libfaketime" FAKETIME='@2026-12-07 04:00:00' "$app/scheduler" --service >>"$work/stdout.txt" 2>&1 &
pid=$!
poll 20 grep -q "Run Task Schedulers/Webservers" "$log" || fail "no second start"
# A closed terminal's SIGHUP stops it as cleanly as SIGTERM.
kill -HUP "$pid"; poll 5 gone || fail "no exit after SIGHUP"; wait "$pid" || fail "exit status $? after SIGHUP"
[ "$(log_bodies "$log" | tail -n 1)" = "Scheduler normal shutdown." ] || fail "no clean stop after SIGHUP"
# The text wraps its columns to the terminal; the JSON has the same words whole.
shown=$("$build/schedules" --home "$home" --json)
grep -qE '"outcome": "exit 3 after [0-9]+ s \(failed\)"' <<<"$shown" || fail "last start after a restart: $shown"
history=$("$build/schedules" --home "$home" --history Nightly --json)
grep -q '"exit_code": 3,' <<<"$history" && grep -qE '"duration_s": [0-9]+,' <<<"$history" ||
  fail "history after a restart: $history"

# A kill -9 during a run, then a line torn as a crash mid-write leaves it:
# the run reads as having no end, and the next start's records follow it.
journal="$home/scheduler.journal"; rm "$home/Reports.webserver"
RAVO_STANDIN_SECONDS=600 LD_PRELOAD="$libfaketime" FAKETIME='@2026-12-08 03:29:58' "$app/scheduler" --service >>"$work/stdout.txt" 2>&1 &
pid=$!
second_run() { [ "$(grep -c '"run_start".*"id":"Nightly"' "$journal")" -ge 2 ]; }
poll 20 second_run || fail "no second run of Nightly"
kill -KILL "$pid"; wait "$pid" 2>/dev/null; mv "$log" "$work/killed.log"
# The analyzer's process group outlives the service.
kill -KILL -- "-$(grep '"run_start"' "$journal" | tail -n 1 | sed 's/.*"pid":\([0-9]*\).*/\1/')"
printf '{"record":"run_end","time_s":17' >>"$journal"
LD_PRELOAD="$libfaketime" FAKETIME='@2026-12-08 04:00:00' "$app/scheduler" --service >>"$work/stdout.txt" 2>&1 &
pid=$!
poll 20 grep -q "Run Task Schedulers/Webservers" "$log" || fail "no start after the kill"
kill -TERM "$pid"; poll 5 gone || fail "no exit after the last SIGTERM"; wait "$pid"
grep -qx '{"record":"run_end","time_s":17' "$journal" && [ "$(grep -c '^{"record":"service_start"' "$journal")" = 4 ] ||
  fail "records after the torn line: $(tail -n 3 "$journal")"
grep -qF '"outcome": "no end recorded (the service stopped)"' <<<"$("$build/schedules" --home "$home" --json)" || fail "JSON after a kill"
history=$("$build/schedules" --home "$home" --history Nightly --json)
grep -q '"journal_read": true' <<<"$history" && grep -q '"exit_code": 3,' <<<"$history" || fail "history after a kill: $history"

if [ $failures -eq 0 ]; then echo "[  PASSED  ] 1 tests."; exit 0; fi
echo "--- log"; cat "$log"; echo "[  FAILED  ] 1 tests, $failures checks failed"; exit 1
