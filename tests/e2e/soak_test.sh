#!/usr/bin/env bash
# Soak: the real scheduler starts thousands of short-lived analyzer runs
# (interval web servers, one minute apart), and afterwards nothing has
# leaked: no zombie or leftover child, and descriptors (Linux) or handles
# (Windows) and resident memory grown by no more than a leak of a fraction of
# the launches would show. Linux runs the native build at 600 times the speed
# (libfaketime); the Windows build runs as a service under Wine in real time.
# Usage: soak_test.sh <build folder>; the figures go to the output, and
# scripts/perf sets them beside their goals.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/reliability_lib.sh"
build=$(cd "$1" && pwd)
pid=
keeper=

# Under Wine a start costs about 80 ms, and all due web servers fall due in
# one tick: as many web servers as launches. The cap on analyzers at once
# lets them start as supervision frees slots, about 3 to 4 a second here,
# so the Windows soak counts 1000 launches. Natively twenty web servers,
# below the cap, start again every fake minute.
if [ -f "$build/scheduler.exe" ]; then
  mode=wine
  target_launches=${SOAK_LAUNCHES:-1000}
  definitions=$target_launches
  warm_up_definitions=50
  warm_up_launches=50
  handle_margin=64
  # Wine fails a start now and then on a loaded machine (the update is then
  # not tried again within its interval); a leak would fail them in runs.
  failed_starts_allowed=$((target_launches / 100))
else
  mode=native
  target_launches=${SOAK_LAUNCHES:-10000}
  definitions=20
  warm_up_definitions=20
  warm_up_launches=100
  handle_margin=64
  failed_starts_allowed=0
fi
# Only a hang bound: 1000 starts under Wine take about 280 s on a busy
# 2-core machine.
soak_timeout_s=540
rss_limit_kib=16384

write_sites() {  # how many
  local i
  for i in $(seq 1 "$1"); do
    write_definition "Site$i.webserver" type_schedule=0 type_interval=0 interval=1
  done
}
# Counted in the scheduler's log: under Wine, appends of concurrent runs to
# the analyzer's own record can be lost.
launches() { grep -c 'Successful run webserver update, id: ' "$home/scheduler.###" 2>/dev/null; }
# Every run holds a folder of its own beside Ravo.exe while it goes on.
all_ended() { ! compgen -G "$app/running*" >/dev/null; }
failed_starts() { grep -c 'Error: Failed to run webserver update, id: ' "$home/scheduler.###" 2>/dev/null; }
attempts() { echo $(( $(launches) + $(failed_starts) )); }
launched_at_least() { [ "$(launches)" -ge "$1" ]; }
attempted_at_least() { [ "$(attempts)" -ge "$1" ]; }
no_analyzer_process() { [ "$(wine "$probe" count Ravo.exe 2>/dev/null | tr -d '\r')" = 0 ]; }

# --- per build: start, stop, and the figures of the scheduler's process.
start_soak() {
  if [ $mode = wine ]; then
    wine_setup "$build" "Corvana Soak"
    write_sites $warm_up_definitions
    set_counter 1
    wine_install
  else
    work=$(mktemp -d "${TMPDIR:-/tmp}/corvana-soak.XXXXXX")
    scheduler="$build/scheduler"
    faketime=$(faketime_library)
    new_case_folder soak
    cp "$build/tests/helpers/fault_analyzer" "$app/Ravo.exe"
    write_sites $warm_up_definitions
    set_counter 1
    start_and_wait "+0 x600"
  fi
}

stop_soak() {
  if [ $mode = wine ]; then
    wine_service stop || fail "the service did not stop"
    wine_uninstall
    wine_cleanup
  else
    stop_scheduler
    rm -rf "$work"
  fi
}

# "<descriptors or handles> <resident KiB> <zombies or leftover children>"
measure() {
  if [ $mode = wine ]; then
    local host handles
    host=$(wine_scheduler_pid)
    handles=$(wine "$probe" handles scheduler.exe 2>/dev/null | tr -d '\r' | awk 'NR == 1 {print $2}')
    echo "${handles:-0} $(rss_kib "$host") $(wine "$probe" count Ravo.exe 2>/dev/null | tr -d '\r')"
  else
    echo "$(ls "/proc/$pid/fd" | wc -l) $(rss_kib "$pid") $(zombies_of "$pid")"
  fi
}

# Definitions away and the counter moved: the lists empty at the next
# reload, every run ends and is collected; then two more passes settle.
quiesce() {
  rm -f "$home"/Site*.webserver
  set_counter "$1"
  wait_log "The schedules has been changed #$1" 1 90 || fail "no reload after removing the definitions"
  poll 60 all_ended || fail "analyzer runs did not end"
  set_counter $(($1 + 1))
  wait_log "The schedules has been changed #$(($1 + 1))" 1 30
  [ $mode = wine ] && { poll 30 no_analyzer_process || fail "Ravo.exe still runs"; }
  set_counter $(($1 + 2))
  wait_log "The schedules has been changed #$(($1 + 2))" 1 30
}

soak() {
  start_soak
  [ $case_failures -eq 0 ] || return
  poll 120 launched_at_least $warm_up_launches ||
    fail "the warm-up did not reach $warm_up_launches launches"
  quiesce 10
  local before after started_s=$SECONDS first
  read -r -a before <<<"$(measure)"
  first=$(launches) first_failed=$(failed_starts)
  write_sites $definitions
  set_counter 20
  poll "$soak_timeout_s" attempted_at_least $((first + first_failed + target_launches)) || {
    fail "fewer than $target_launches starts in $soak_timeout_s s"
    log_bodies | grep -vF 'Successful run webserver update' | tail -n 20 | sed 's/^/      log: /'
  }
  local soaked=$(( $(launches) - first )) soak_s=$((SECONDS - started_s))
  local refused=$(( $(failed_starts) - first_failed ))
  quiesce 30
  read -r -a after <<<"$(measure)"
  local unit=descriptors; [ $mode = wine ] && unit=handles
  local leftover=zombies; [ $mode = wine ] && leftover="Ravo.exe processes"
  echo "    soak ($mode): $soaked launches in $soak_s s ($refused failed to start); $leftover ${before[2]} -> ${after[2]};" \
    "$unit ${before[0]} -> ${after[0]}; RSS ${before[1]} KiB -> ${after[1]} KiB" \
    "(+$(( after[1] - before[1] )) KiB)"
  [ "$refused" -le "$failed_starts_allowed" ] || fail "$refused starts failed"
  [ "${after[2]}" -eq 0 ] || fail "${after[2]} $leftover left"
  [ $(( after[0] - before[0] )) -le $handle_margin ] || fail "$unit grew from ${before[0]} to ${after[0]}"
  [ $(( after[1] - before[1] )) -lt $rss_limit_kib ] || fail "resident memory grew by $(( after[1] - before[1] )) KiB"
  analyzer_runs | grep -q OVERLAP && fail "a web server ran twice at once"
  log_has "Successful run webserver update, id: Site1" || fail "no launch in the log"
  stop_soak
}

cleanup() {
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
  [ $mode = wine ] && wine_cleanup
  [ $mode = native ] && [ -n "${work:-}" ] && rm -rf "$work"
}
trap cleanup EXIT
run_case soak
finish
