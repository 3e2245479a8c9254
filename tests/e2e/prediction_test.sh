#!/usr/bin/env bash
# The real scheduler of the native build under libfaketime beside what
# `schedules --json` predicts at the same instant: every analyzer start the
# log shows must have been predicted for its second, and every prediction
# inside the run must happen. Prints both side by side.
# Usage: prediction_test.sh <native build folder> [morning|autumn ...]
# (default: morning). The autumn night runs 16 minutes of Berlin's clock
# change at $speed times the speed: too long for every CI run.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/reliability_lib.sh"
build=$(cd "$1" && pwd)
shift
scenarios=${*:-morning}
scheduler="$build/scheduler"
schedules="$build/schedules"
faketime=$(faketime_library)
make_case_folder prediction
[ -x "$scheduler" ] && [ -x "$schedules" ] || { echo "[  FAILED  ] 1 tests, no build in $build"; exit 1; }
[ -n "$faketime" ] || { echo "[  FAILED  ] 1 tests, libfaketime is not installed"; exit 1; }
export TZ=Europe/Berlin
# libfaketime comes first in the sanitized build, which ASan would refuse.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
# Sleeps shrink with the clock, so ticks stay 310 ms of fake time apart;
# what grows is the time the scheduler works, a second window's margin. At
# 1 a stall of a whole real second still lands a start in its second; at 2
# half a second did not always suffice on a loaded two-core CI machine with
# the sanitizers, at 4 a quarter was enough.
speed=${PREDICTION_SPEED:-1}

# Seconds since 1970 of a stamp with its offset ("... +01:00").
epoch() { date -d "$1" +%s; }
shown() { date -d "@$1" +"%F %T %:z"; }

# The fake clock of a process started now: at $1 (seconds since 1970), then
# $speed times as fast as the real one.
fake_at() { echo "$(($1 - $(date +%s))) x$speed"; }

# start_at <seconds since 1970>: the scheduler in the background as $pid.
start_at() {
  (cd "$case_dir" && PROGRAMDATA="$pd" LD_PRELOAD="$faketime" FAKETIME="$(fake_at "$1")" \
    exec "$app/scheduler" --service) >>"$case_dir/output.txt" 2>&1 &
  pid=$!
  started_real=$(date +%s%N)
  started_fake=$1
}
fake_now() { echo $((started_fake + ($(date +%s%N) - started_real) * speed / 1000000000)); }
wait_fake() { while [ "$(fake_now)" -lt "$1" ]; do sleep 0.05; done; }

# predict <from> <until> <sed cut>: "<seconds> <kind> <id>" for each start
# shown by `schedules --json`, asked at the instant `from` names, of the
# folder as it was then: the log up to the line the cut ends it at, before
# the next tick (the tool shows no start before the last one the log shows).
predict() {
  local then="$case_dir/then"
  rm -rf "$then"; mkdir -p "$then"
  cp "$home"/*.schedule "$home"/*.webserver "$then/"
  sed "$3" "$home/scheduler.###" >"$then/scheduler.###"
  LD_PRELOAD="$faketime" FAKETIME="$(($(epoch "$1") - $(date +%s)))" \
    "$schedules" --home "$then" --from "$1" --until "$2" --json |
    awk '/"schedules": \[/ {kind = "schedule"} /"web_servers": \[/ {kind = "webserver"}
         /"id": / {gsub(/[",]/, "", $2); id = $2}
         /^ *"[0-9-]+ [0-9:]+ [+-][0-9:]+",?$/ {gsub(/[",]/, ""); print $1 " " $2 " " $3, kind, id}' |
    while read -r day time offset kind id; do echo "$(epoch "$day $time $offset") $kind $id"; done
}

# reload_at <seconds since 1970>: raises the counter then and prints the
# reload's second (the stamp of its load, in the instance nearest now).
reload_at() {
  local stamp s candidate best
  wait_fake "$1"
  set_counter 2
  poll 20 web_servers_loaded_after 2 "$(ls "$home"/*.webserver | wc -l)" || fail "no reload"
  stamp=$(sed -n '/The schedules has been changed #2/,$ s/^\[\(.\{19\}\)\] Loading schedules\r\?$/\1/p' \
    "$home/scheduler.###" | head -n 1)
  s=$(date -d "$stamp" +%s); best=$s
  for candidate in $((s - 3600)) $s $((s + 3600)); do
    if [ "$(date -d "@$candidate" +"%F %T")" = "$stamp" ] && [ $((candidate - $1)) -ge 0 ] &&
      [ $((candidate - $1)) -lt 600 ]; then best=$candidate; fi
  done
  echo "$best"
}

# "<seconds> <kind> <id>" for each start in the log. A stamp names local
# time: in the hour repeated in autumn, the instance not before the last.
actual() {
  local last=0 stamp kind id s candidate
  sed -n -e 's/^\[\(.\{19\}\)\] Running schedule, id: \(.*\)\r\?$/\1|schedule|\2/p' \
    -e 's/^\[\(.\{19\}\)\] Running update webserver, id: \(.*\)\r\?$/\1|webserver|\2/p' \
    "$home/scheduler.###" | while IFS='|' read -r stamp kind id; do
    s=$(date -d "$stamp" +%s)
    for candidate in $((s - 3600)) $s $((s + 3600)); do
      if [ "$candidate" -ge "$last" ] && [ "$(date -d "@$candidate" +"%F %T")" = "$stamp" ]; then
        s=$candidate; break
      fi
    done
    last=$s
    echo "$s $kind $id"
  done
}

# compare <predicted file> <actual file> <from> <until>: the table, and a
# failure for each start on one side only.
compare() {
  local from_s until_s
  from_s=$(epoch "$3"); until_s=$(epoch "$4")
  printf '    %-26s  %-9s %-12s %-9s %s\n' time kind id predicted actual
  sort -u "$1" "$2" | sort -n | while read -r s kind id; do
    [ "$s" -ge "$from_s" ] && [ "$s" -le "$until_s" ] || continue
    local p=- a=-
    grep -qx "$s $kind $id" "$1" && p=yes
    grep -qx "$s $kind $id" "$2" && a=yes
    printf '    %-26s  %-9s %-12s %-9s %s\n' "$(shown "$s")" "$kind" "$id" "$p" "$a"
    [ "$p" = "$a" ] || echo "    check failed: $kind $id at $(shown "$s"): predicted $p, ran $a"
  done
}

# run_scenario <name> <start> <reload> <until>: definitions are in place.
# Each prediction is asked at the start and at the reload, and holds until
# the next.
run_scenario() {
  local name=$1 from=$2 reload=$3 until=$4 result reload_s
  write_analyzer 'exit 0'
  start_at "$(epoch "$from")"
  wait_log "Run Task Schedulers/Webservers..." 1 20 || fail "the scheduler did not start"
  predict "$from" "$until" '/Run Task Schedulers\/Webservers\.\.\./q' >"$case_dir/predicted_at_start"
  reload_s=$(reload_at "$(epoch "$reload")")
  predict "$(shown "$reload_s")" "$until" \
    '/The schedules has been changed #2/,$ {/Web Servers items/q}' >"$case_dir/predicted_at_reload"
  { awk -v r="$reload_s" '$1 < r' "$case_dir/predicted_at_start"
    awk -v r="$reload_s" '$1 >= r' "$case_dir/predicted_at_reload"; } >"$case_dir/predicted"
  [ -s "$case_dir/predicted" ] || fail "nothing predicted"
  wait_fake $(($(epoch "$until") + 2))
  stop_scheduler
  actual >"$case_dir/actual"
  echo "    $name: $from to $until, reloaded at $(shown "$reload_s"), at $speed times the speed"
  result=$(compare "$case_dir/predicted" "$case_dir/actual" "$from" "$until")
  echo "$result"
  if grep -q "check failed" <<<"$result"; then case_failures=$((case_failures + 1)); fi
}

# Started at 09:58:30, inside an hourly minute and a window.
morning() {
  new_case_folder morning
  write_definition Hourly58.schedule enabled=1 type_schedule=1 min=58
  write_definition Covers.schedule enabled=1 type_schedule=2 days_week=127 hour=9 min=58 sec=31
  write_definition At5900.schedule enabled=1 type_schedule=2 days_week=127 hour=9 min=59 sec=0
  write_definition At5930.schedule enabled=1 type_schedule=2 days_week=127 hour=9 min=59 sec=30
  write_definition Once.schedule enabled=1 type_schedule=0 year=2026 month=12 day=7 hour=10 min=0 sec=5
  write_definition Hourly00.schedule enabled=1 type_schedule=1 min=0
  write_definition Minute.webserver enabled=1 type_schedule=0 type_interval=0 interval=1
  write_definition Daily.webserver enabled=1 type_schedule=2 days_week=127 hour=9 min=59 sec=45
  run_scenario "an ordinary morning" "2026-12-07 09:58:30 +01:00" "2026-12-07 09:59:50 +01:00" \
    "2026-12-07 10:00:40 +01:00"
}

# 02:50 CEST to 02:06 CET on 25 October 2026: the daily 02:03 ran before
# the start in its first instance, so it runs in the second; the daily
# 02:52 runs before the reload at 02:53:30 CEST and not again after it.
autumn() {
  new_case_folder autumn
  write_definition Daily0203.schedule enabled=1 type_schedule=2 days_week=127 hour=2 min=3 sec=0
  write_definition Daily0252.schedule enabled=1 type_schedule=2 days_week=127 hour=2 min=52 sec=1
  write_definition Once0204.schedule enabled=1 type_schedule=0 year=2026 month=10 day=25 hour=2 min=4 sec=30
  write_definition Hourly55.schedule enabled=1 type_schedule=1 min=55
  write_definition Hourly02.schedule enabled=1 type_schedule=1 min=2
  write_definition Covers.schedule enabled=1 type_schedule=2 days_week=127 hour=2 min=50 sec=1
  write_definition Five.webserver enabled=1 type_schedule=0 type_interval=0 interval=5
  write_definition Daily0201.webserver enabled=1 type_schedule=2 days_week=127 hour=2 min=1 sec=20
  run_scenario "the autumn night" "2026-10-25 02:50:00 +02:00" "2026-10-25 02:53:30 +02:00" \
    "2026-10-25 02:06:00 +01:00"
}

for scenario in $scenarios; do run_case "$scenario"; done
finish
