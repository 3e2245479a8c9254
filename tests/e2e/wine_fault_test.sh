#!/usr/bin/env bash
# Faults against the Windows build, running as a real service under Wine:
# the cases that Wine can show, one after the other in one service run, each
# with the lines the log must have and the service still running after it.
# (A hung analyzer needs a day to pass, which only the native run can make
# fast; the fault suite of the native build has it.)
# Usage: wine_fault_test.sh <Windows build folder>
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/reliability_lib.sh"
build=$(cd "$1" && pwd)
keeper=
counter=1
win_home='C:\ProgramData\Corvana'

bump() { counter=$((counter + 1)); set_counter $counter; }
expect_reload() { bump; expect_log "The schedules has been changed #$counter" 1 20; }
expect_service_running() {
  [ "$(wine "$probe" count scheduler.exe 2>/dev/null | tr -d '\r')" = 1 ] ||
    fail "the service is not running ($*)"
}
# A kind-0 schedule a few seconds ahead, on the clock Wine reads too.
write_schedule_soon() {
  local y mo d h mi s
  read -r y mo d h mi s <<<"$(date -d '+8 sec' '+%Y %-m %-d %-H %-M %-S')"
  write_definition "$1.schedule" type_schedule=0 year="$y" month="$mo" day="$d" \
    hour="$h" min="$mi" sec="$s"
}

analyzer_missing() {
  mv "$app/Ravo.exe" "$app/Ravo.exe.away"
  write_schedule_soon Missing
  expect_reload
  expect_log "Running schedule, id: Missing" 1 20
  expect_log "Error: Failed to run task, id: Missing"
  mv "$app/Ravo.exe.away" "$app/Ravo.exe"
  rm -f "$home/Missing.schedule"
  expect_reload
  expect_service_running "after a failed start"
}

analyzer_exits_at_once_with_an_error() {
  echo "0 3" >"$app/analyzer_behaviour.txt"
  write_schedule_soon Failing
  expect_reload
  expect_log "Successful run schedule, id: Failing" 1 20
  expect_log "The process stopped, id: Failing"
  expect_order "Successful run schedule, id: Failing" "The process stopped, id: Failing"
  rm -f "$home/Failing.schedule" "$app/analyzer_behaviour.txt"
  expect_reload
  expect_service_running "after the analyzer failed"
}

nginx_missing() {
  write_definition Site.webserver type_schedule=0 type_interval=1 interval=6
  expect_reload
  expect_log "Start webservers..."
  expect_log "\"$win_home\\webserver\\nginx.exe\""
  expect_order "Start webservers..." "\"$win_home\\webserver\\nginx.exe\""
  expect_log "Successful run webserver update, id: Site"
  rm -f "$home/Site.webserver"
  local stops
  stops=$(log_count "Stop webservers...")
  expect_reload
  expect_log "Stop webservers..." $((stops + 1)) 5
  expect_service_running "without nginx"
}

# Another process holds the counter file open and denies all sharing: the
# read gives up after its retries, which is no change; once released with a
# new value, that is one reload.
counter_held_exclusively() {
  expect_reload
  rm -f "$home/schedule_counter.dat.held"
  local zero loads
  zero=$(log_count "The schedules has been changed #0")
  loads=$(log_count "Loading schedules")
  wine "$build/tests/engine_test.exe" --child hold "$win_home\\schedule_counter.dat" 8000 \
    >/dev/null 2>&1 &
  local holder=$!
  poll 20 test -f "$home/schedule_counter.dat.held" || fail "the holder did not start"
  sleep 5  # more than one supervision pass while it is held
  [ "$(log_count "The schedules has been changed #0")" -eq "$zero" ] ||
    fail "a held counter was taken for a change to 0"
  [ "$(log_count "Loading schedules")" -eq "$loads" ] || fail "reloaded for a held counter"
  wait "$holder"
  expect_reload
  expect_service_running "after the counter was held"
}

counter_deleted() {
  expect_reload
  local zero
  zero=$(log_count "The schedules has been changed #0")
  rm -f "$home/schedule_counter.dat"
  expect_log "The schedules has been changed #0" $((zero + 1)) 15
  expect_reload
  expect_service_running "after the counter was deleted"
}

counter_truncated_to_two_bytes() {
  local one
  one=$(log_count "The schedules has been changed #1")
  printf '\x05\x00' >"$home/schedule_counter.dat"
  expect_log "The schedules has been changed #1" $((one + 1)) 15
  expect_reload
  expect_service_running "after the counter was truncated"
}

torn_definition_is_skipped_then_loaded() {
  printf 'FormatVersion=1.0\r\n\r\n[Common]\r\ntype_sch' >"$home/Torn.webserver"
  local skipped
  skipped=$(log_count "Error read webserver settings")
  expect_reload
  expect_log "Error read webserver settings" $((skipped + 1))
  write_definition Torn.webserver type_schedule=0 type_interval=1 interval=6
  expect_reload
  expect_log "Successful run webserver update, id: Torn"
  rm -f "$home/Torn.webserver"
  expect_reload
  expect_service_running "after the torn file"
}

# The service holds the data folder for the run: Windows lets nobody rename
# it meanwhile. Its log an administrator may rename: the next entry goes to
# a new one.
log_renamed_data_folder_held() {
  wine cmd /c move "$win_home\\scheduler.###" "$win_home\\moved.###" >/dev/null 2>&1
  [ -e "$home/moved.###" ] || fail "the held log could not be renamed"
  wine cmd /c move "$win_home" "$win_home.moved" >/dev/null 2>&1
  [ -d "$home" ] || fail "the held data folder was renamed"
  expect_reload
  rm -f "$home/moved.###"
  expect_service_running "after the renames"
}

# Another process rewrites the definitions a piece at a time and moves the
# counter as fast as it can, while the analyzer's runs take five seconds.
definitions_rewritten_in_a_tight_loop() {
  echo "5000 0" >"$app/analyzer_behaviour.txt"
  local names=(Alpha Beta Gamma) name
  local until=$((SECONDS + 20))
  while [ $SECONDS -lt $until ]; do
    for name in "${names[@]}"; do
      printf 'FormatVersion=1.0\r\n\r\n[Com' >"$home/$name.webserver"
      printf 'mon]\r\ntype_schedule=0\r\ntype_interval=0\r\ninterval=1\r\n' >>"$home/$name.webserver"
    done
    bump
  done
  expect_reload
  poll 20 web_servers_loaded_after $counter 3 || fail "the last reload did not load all three"
  expect_service_running "after the rewrites"
  echo "    $(log_bodies | grep -c '^The schedules has been changed #') reloads," \
    "$(log_count "Error read webserver settings") torn files skipped," \
    "$(log_bodies | grep -c '^Successful run webserver update, id: ') web-server runs"
  analyzer_runs | grep -q OVERLAP && fail "a definition ran twice at once"
  rm -f "$home"/*.webserver "$app/analyzer_behaviour.txt"
  : >"$app/analyzer_release"
}

stops_cleanly() {
  wine_service stop || fail "the service did not stop"
  expect_log "Service: Stopped." 1 5
  expect_log "Scheduler normal shutdown." 2 5
}

cleanup() { wine_cleanup; }
trap cleanup EXIT
wine_setup "$build" "Corvana Faults"
set_counter $counter
wine_install
if [ $case_failures -ne 0 ]; then echo "[  FAILED  ] 1 tests, the service did not start"; exit 1; fi
for name in $(fault_cases_for wine); do
  run_case "$name"
done
wine_uninstall
finish
