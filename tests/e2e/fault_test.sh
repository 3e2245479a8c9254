#!/usr/bin/env bash
# Faults against the real scheduler of the native build, in the foreground:
# every case states what the log must say and that the scheduler keeps
# running. Long spans of time pass through libfaketime's speed factor.
# Usage: fault_test.sh <native build folder>
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/reliability_lib.sh"
build=$(cd "$1" && pwd)
scheduler="$build/scheduler"
faketime=$(faketime_library)
make_case_folder fault
[ -x "$scheduler" ] || { echo "[  FAILED  ] 1 tests, no scheduler in $build"; exit 1; }
[ -n "$faketime" ] || { echo "[  FAILED  ] 1 tests, libfaketime is not installed"; exit 1; }

# The scheduler must go on after a fault: a counter change is still noticed.
expect_alive_and_reloading() {
  expect_running "$1"
  set_counter "$2"
  expect_log "The schedules has been changed #$2"
}

# Stops it and checks the stop lines of the control handler and the engine.
stop_and_expect_shutdown() {
  stop_scheduler
  expect_log "Service: Stopped." 1 1
  expect_log "Scheduler normal shutdown." 2 1
}

analyzer_missing() {
  new_case_folder analyzer_missing
  write_definition Nightly.schedule type_schedule=0 year=2026 month=12 day=7 hour=3 min=30 sec=0
  start_and_wait "@2026-12-07 03:29:58"
  expect_log "Running schedule, id: Nightly"
  expect_log "Error: Failed to run task, id: Nightly"
  expect_alive_and_reloading "after a failed start" 2
  stop_and_expect_shutdown
}

analyzer_exits_at_once_with_an_error() {
  new_case_folder analyzer_exits_at_once_with_an_error
  write_analyzer 'exit 3'
  write_definition Nightly.schedule type_schedule=0 year=2026 month=12 day=7 hour=3 min=30 sec=0
  start_and_wait "@2026-12-07 03:29:58"
  expect_log "Successful run schedule, id: Nightly"
  expect_log "The process stopped, id: Nightly"
  expect_order "Successful run schedule, id: Nightly" "The process stopped, id: Nightly"
  [ "$(zombies_of "$pid")" -eq 0 ] || fail "a zombie is left"
  expect_alive_and_reloading "after the analyzer failed" 2
  stop_and_expect_shutdown
}

# An hourly schedule whose analyzer hangs: every later hour is refused as
# still active, and the child is ended once it has run 86395 seconds; a day
# passes in about 22 s at 4000 times the speed.
# Alive, not a zombie that nobody reaped.
alive() { local state; state=$(ps -o stat= -p "$1" 2>/dev/null); [ -n "$state" ] && [[ $state != Z* ]]; }

# The hung analyzer has started a converter of its own that hangs too (a
# shell's background job, in the analyzer's process group); its id is noted
# as a run so that the case's clean-up ends it.
hanging_analyzer_with_a_child='case "$1" in -serve) ;; *) sleep 100000000 & echo "$! start grandchild" >>"$here/runs.txt"; exec sleep 100000000 ;; esac'
grandchild_of_the_analyzer() { awk '$2 == "start" && $3 == "grandchild" {print $1; exit}' "$app/runs.txt" 2>/dev/null; }
grandchild_noted() { [ -n "$(grandchild_of_the_analyzer)" ]; }

analyzer_hangs_past_the_run_time_limit() {
  new_case_folder analyzer_hangs_past_the_run_time_limit
  write_analyzer "$hanging_analyzer_with_a_child"
  write_definition Hourly.schedule type_schedule=1 min=30
  start_and_wait "@2026-12-07 03:30:00 x4000"
  expect_log "Successful run schedule, id: Hourly"
  # The analyzer notes its own start before it starts its child.
  poll 10 grandchild_noted
  local child grandchild
  child=$(awk '$2 == "start" && $3 == "-_scheduleHourly" {print $1; exit}' "$app/runs.txt" 2>/dev/null)
  grandchild=$(grandchild_of_the_analyzer)
  [ -n "$child" ] && [ -n "$grandchild" ] && alive "$grandchild" || fail "the analyzer or its own child did not start"
  wait_log "Terminate Process, id: Hourly" 1 60 || fail "the hung analyzer was not ended"
  kill -0 "$child" 2>/dev/null && fail "the hung analyzer $child still runs"
  alive "$grandchild" && fail "what the hung analyzer started ($grandchild) still runs"
  [ "$(log_count "Error: The process is still active, id: Hourly")" -ge 20 ] ||
    fail "the later hours were not refused while it hung"
  [ "$(runs_count -_scheduleHourly)" -le 2 ] || fail "started again while it hung"
  grep -q OVERLAP "$app/runs.txt" && fail "two runs at once"
  expect_log "Successful run serve service"  # a launch happened, and 23:24 passed
  expect_alive_and_reloading "after ending the hung analyzer" 2
  stop_and_expect_shutdown
}

# A stop leaves a running analyzer alone, and what it started with it.
analyzer_and_its_child_go_on_after_a_stop() {
  new_case_folder analyzer_and_its_child_go_on_after_a_stop
  write_analyzer "$hanging_analyzer_with_a_child"
  write_definition Nightly.schedule type_schedule=0 year=2026 month=12 day=7 hour=3 min=30 sec=0
  start_and_wait "@2026-12-07 03:29:58"
  expect_log "Successful run schedule, id: Nightly"
  local child grandchild
  # The analyzer notes its own start before it starts its child.
  poll 10 grandchild_noted
  child=$(awk '$2 == "start" && $3 == "-_scheduleNightly" {print $1; exit}' "$app/runs.txt" 2>/dev/null)
  grandchild=$(grandchild_of_the_analyzer)
  [ -n "$grandchild" ] || fail "the analyzer's own child did not start"
  stop_and_expect_shutdown
  alive "$child" || fail "the analyzer $child did not go on after the stop"
  alive "$grandchild" || fail "what the analyzer started ($grandchild) did not go on after the stop"
}

nginx_missing() {
  new_case_folder nginx_missing
  write_analyzer 'exit 0'
  write_definition Site.webserver type_schedule=0 type_interval=1 interval=6
  start_and_wait
  expect_log "Start webservers..."
  expect_log "\"$home/webserver/nginx.exe\""
  expect_log "Webserver command error" 2
  expect_log "Successful run webserver update, id: Site"
  expect_alive_and_reloading "without nginx" 2
  stop_and_expect_shutdown
}

# The whole data folder goes away and a new one is made at its path: the
# scheduler keeps to the folder it checked and holds, goes on running, and
# neither reads nor writes the new one, which nobody checked.
log_folder_disappears() {
  new_case_folder log_folder_disappears
  write_analyzer 'exit 0'
  set_counter 1
  start_and_wait
  rm -rf "$home"
  sleep 4  # more than one supervision pass without the folder
  expect_running "without its folder"
  [ -e "$home" ] && fail "the scheduler made the folder again"
  mkdir -p "$home"
  write_definition Back.webserver type_schedule=0 type_interval=2 interval=1
  set_counter 7
  sleep 4
  grep -q -- "start -_webserverBack" "$app/runs.txt" 2>/dev/null && fail "the new folder's definitions were read"
  [ -e "$home/scheduler.###" ] && fail "the log followed the name into the new folder"
  expect_running "after the folder came back"
  stop_scheduler
}

counter_deleted() {
  new_case_folder counter_deleted
  set_counter 5
  start_and_wait
  rm -f "$home/schedule_counter.dat"
  expect_log "The schedules has been changed #0"
  expect_log "Loading schedules" 2
  expect_alive_and_reloading "after the counter was deleted" 6
  stop_and_expect_shutdown
}

counter_truncated_to_two_bytes() {
  new_case_folder counter_truncated_to_two_bytes
  set_counter 5
  start_and_wait
  printf '\x05\x00' >"$home/schedule_counter.dat"
  expect_log "The schedules has been changed #1"
  expect_alive_and_reloading "after the counter was truncated" 6
  stop_and_expect_shutdown
}

# Neither a folder nor a pipe in the counter's place may hang the loop, nor
# pass for a writer's hold, which would stop reloads for good: each counts
# as missing (0) at once, the log says so once, and reloads follow the
# counter again once it is a file.
counter_replaced_by_a_folder_or_a_pipe() {
  new_case_folder counter_replaced_by_a_folder_or_a_pipe
  set_counter 5
  start_and_wait
  rm -f "$home/schedule_counter.dat"
  mkdir "$home/schedule_counter.dat"
  expect_log "The schedules has been changed #0"
  expect_running "with a folder as the counter"
  rmdir "$home/schedule_counter.dat"
  mkfifo "$home/schedule_counter.dat"
  set_counter 3 &  # the pipe's writer waits for a reader that never comes
  local writer=$!
  sleep 4
  expect_running "with a pipe as the counter"
  log_has "The schedules has been changed #3" && fail "read the counter through a pipe"
  [ "$(log_count "The change counter is not a regular file and counts as missing: $home/schedule_counter.dat")" -eq 1 ] ||
    fail "the counter that is no file was not logged once"
  kill "$writer" 2>/dev/null; wait "$writer" 2>/dev/null
  rm -f "$home/schedule_counter.dat"
  set_counter 7
  expect_log "The schedules has been changed #7"
  expect_alive_and_reloading "after the pipe" 8
  stop_and_expect_shutdown
}

# A file caught half written is skipped with its lines; the next counter
# change loads it.
torn_definition_is_skipped_then_loaded() {
  new_case_folder torn_definition_is_skipped_then_loaded
  write_analyzer 'exit 0'
  start_and_wait
  printf 'FormatVersion=1.0\r\n\r\n[Common]\r\ntype_sch' >"$home/Site.webserver"
  set_counter 2
  expect_log "The schedules has been changed #2"
  expect_log "Error read webserver settings"
  expect_log "Loading : 0 Web Servers items" 2
  write_definition Site.webserver type_schedule=0 type_interval=1 interval=6
  set_counter 3
  expect_log "The schedules has been changed #3"
  expect_log "Loading : 1 Web Servers items"
  expect_log "Successful run webserver update, id: Site"
  expect_alive_and_reloading "after the torn file" 4
  stop_and_expect_shutdown
}

# Another process rewrites the definitions, a piece at a time, and moves
# the counter as fast as it can, while the scheduler (at 50 times the speed)
# reloads every 70 ms or so and the analyzer runs take 10 s each.
definitions_rewritten_in_a_tight_loop() {
  new_case_folder definitions_rewritten_in_a_tight_loop
  write_analyzer 'sleep 10'
  local names=(Alpha Beta Gamma) name n=1
  for name in "${names[@]}"; do
    write_definition "$name.webserver" type_schedule=0 type_interval=0 interval=1
  done
  start_and_wait "+0 x50"
  local until=$((SECONDS + 15))
  while [ $SECONDS -lt $until ]; do
    for name in "${names[@]}"; do
      printf 'FormatVersion=1.0\r\n\r\n[Com' >"$home/$name.webserver"
      printf 'mon]\r\ntype_schedule=0\r\ntype_interval=0\r\ninterval=1\r\n' >>"$home/$name.webserver"
    done
    n=$((n + 1)); set_counter $n
  done
  set_counter $((n + 1))
  expect_log "The schedules has been changed #$((n + 1))"
  expect_running "after the rewrites"
  local torn reloads
  torn=$(log_count "Error read webserver settings")
  reloads=$(log_bodies | grep -c '^The schedules has been changed #')
  echo "    $reloads reloads, $torn torn files skipped, $(grep -c ' start ' "$app/runs.txt") analyzer runs"
  [ "$reloads" -ge 50 ] || fail "only $reloads reloads"
  poll 20 web_servers_loaded_after $((n + 1)) 3 || fail "the last reload did not load all three"
  grep -q OVERLAP "$app/runs.txt" && fail "a definition ran twice at once: $(grep OVERLAP "$app/runs.txt" | head -n 3 | tr '\n' ' ')"
  stop_and_expect_shutdown
  end_analyzers
}

# A stop that arrives while the engine is still loading must not be lost.
stop_during_start_up() {
  local attempt
  for attempt in 1 2 3; do
    new_case_folder stop_during_start_up
    local i
    for i in $(seq 1 $((4000 * attempt))); do
      printf 'FormatVersion=1.0\n[Common]\ntype_schedule=1\nmin=61\n' >"$home/s$i.schedule"
    done
    start_scheduler
    wait_log "Loading schedules" 1 20
    stop_scheduler 10
    local stopped_at started_at
    stopped_at=$(first_line_of "Service: Stopped.")
    started_at=$(first_line_of "Run Task Schedulers/Webservers...")
    # Conclusive only when the stop came before start-up had finished.
    if [ -n "$stopped_at" ] && [ -n "$started_at" ] && [ "$stopped_at" -lt "$started_at" ]; then
      expect_log "Scheduler normal shutdown." 2 1
      return
    fi
    [ $case_failures -gt 0 ] && return
  done
  fail "the stop never arrived during start-up"
}

# A stop sent at once after the start, before the worker has registered its
# control handler, is kept for the handler: twenty starts, each stopped at
# once, all end with the shutdown lines. SIGTERM is blocked across the exec,
# so that a stop which comes before main waits for the dispatcher instead of
# ending the process unseen; the stop is sent as soon as the process is the
# scheduler.
stop_at_once_after_start() {
  local round deadline
  for round in $(seq 1 20); do
    new_case_folder stop_at_once_after_start
    (cd "$case_dir" && PROGRAMDATA="$pd" exec env --block-signal=TERM "$app/scheduler" --service) \
      >>"$case_dir/output.txt" 2>&1 &
    pid=$!
    deadline=$((SECONDS + 10))
    until [ /proc/$pid/exe -ef "$app/scheduler" ] || [ $SECONDS -ge $deadline ]; do :; done
    stop_scheduler 10
    expect_log "Scheduler normal shutdown." 2 5
    if [ $case_failures -gt 0 ]; then
      echo "    in round $round"
      return
    fi
  done
}

# Users may plant the log's and the probe's names as links in HomePath:
# nothing is written through them, and the scheduler runs. A refused probe
# leaves HomePath empty, so the log is then written in the current folder.
planted_links_are_not_followed() {
  new_case_folder planted_links_are_not_followed
  write_analyzer 'exit 0'
  echo canary >"$case_dir/canary"
  ln -s "$case_dir/canary" "$home/scheduler.###"
  ln -s "$case_dir/canary" "$home/tst0Xlgn9.tmp"
  local data_home=$home
  home=$case_dir
  start_and_wait
  home=$data_home
  [ "$(cat "$case_dir/canary")" = canary ] || fail "the canary was written: $(head -c 200 "$case_dir/canary")"
  expect_running "with the probe refused"
  stop_scheduler
  # The log alone planted: HomePath stays, the log is not written through,
  # and a definition in HomePath still runs the analyzer.
  rm "$home/tst0Xlgn9.tmp"
  write_definition Site.webserver type_schedule=0 type_interval=1 interval=6
  start_scheduler
  poll 15 grep -q -- "start -_webserverSite" "$app/runs.txt" 2>/dev/null || fail "the analyzer did not run"
  [ "$(cat "$case_dir/canary")" = canary ] || fail "the canary was written: $(head -c 200 "$case_dir/canary")"
  [ -L "$home/scheduler.###" ] || fail "the planted log link was replaced"
  expect_running "with the log refused"
  stop_scheduler
}

# HomePath a link, then a folder below one that all may rename in: the
# scheduler works in its current folder, says there why, and writes nothing
# where the link leads or into the folder that others could swap.
data_folder_not_trusted() {
  new_case_folder data_folder_not_trusted
  write_analyzer 'exit 0'
  rm -rf "$home"
  mkdir -p "$case_dir/target"
  ln -s "$case_dir/target" "$home"
  local data_home=$home
  home=$case_dir
  start_and_wait
  expect_log "HomePath not used: $data_home/ is reached through a link"
  [ -e "$case_dir/target/scheduler.###" ] && fail "the log was written through the link"
  stop_scheduler
  rm "$data_home"
  mkdir "$data_home"
  chmod 777 "$pd"
  start_and_wait
  expect_log "HomePath not used: $data_home/ can be moved away by non-administrators"
  [ -e "$data_home/scheduler.###" ] && fail "the log was written below a folder others may rename in"
  stop_scheduler
  home=$data_home
}

for name in $(fault_cases_for native); do
  run_case "$name"
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
  end_analyzers
  pid=
done
finish
