#!/usr/bin/env bash
# Stop latency: fifty start/stop cycles of the real scheduler while idle, and
# fifty with nginx running and ten analyzer runs going; every stop must reach
# the stopped state.
# Linux: SIGTERM to the native build in the foreground, until the process
# has ended, with Debian's nginx behind the nginx.exe wrapper. Windows: the
# service under Wine, from the stop control to the stopped state, with the
# stand-in nginx.exe. Usage: stop_latency_test.sh <build folder>; prints
# the median and the maximum of each run, which scripts/perf sets beside
# their goal. The test itself fails only on a stop that hangs.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/reliability_lib.sh"
build=$(cd "$1" && pwd)
cycles=${STOP_CYCLES:-50}
limit_ms=10000
busy_children=10
pid=
keeper=
mode=native
[ -f "$build/scheduler.exe" ] && mode=wine

# Every analyzer run holds a folder of its own beside Ravo.exe while it goes.
running_analyzers() { compgen -G "$app/running*" | wc -l; }
analyzers_ended() { [ "$(running_analyzers)" -eq 0 ]; }
# Wine fails a start now and then on a loaded machine; the stop is measured
# all the same. A native start must never fail.
failed_starts() {
  [ $mode = wine ] || { echo 0; return; }
  grep -c 'Error: Failed to run webserver update' "$home/scheduler.###" 2>/dev/null
}
runs_started() {
  local failed; failed=$(failed_starts)
  [ $(( $(running_analyzers) + ${failed:-0} )) -ge $busy_children ]
}

# --- per build

nginx_pid() { cat "$home/webserver/logs/nginx.pid" 2>/dev/null; }
nginx_up() {
  if [ $mode = wine ]; then [ -f "$home/webserver/nginx-stub.running" ]; else
    local p; p=$(nginx_pid); [ -n "$p" ] && kill -0 "$p" 2>/dev/null; fi
}
nginx_down() { ! nginx_up; }

prepare() {
  if [ $mode = wine ]; then
    wine_setup "$build" "Corvana Stop"
    wine_install
    wine_service stop || fail "the first stop failed"
  else
    work=$(mktemp -d "${TMPDIR:-/tmp}/corvana-stop.XXXXXX")
    scheduler="$build/scheduler"
    new_case_folder stop
    cp "$build/tests/helpers/fault_analyzer" "$app/Ravo.exe"
  fi
}

install_nginx() {
  mkdir -p "$home/webserver"
  if [ $mode = wine ]; then
    cp "$build/tests/helpers/nginx/nginx.exe" "$home/webserver/nginx.exe"
  else
    # A port of its own for this run; nginx quits before the next start.
    "$here/../../scripts/nginx-wrapper" --install "$home/webserver" $((20000 + $$ % 20000)) >/dev/null
  fi
}

# Starts and waits until the engine is up (and, when busy, until nginx and
# the ten runs are); the log is truncated at every start.
start_one() {
  rm -f "$home/scheduler.###"
  if [ $mode = wine ]; then
    wine_service start || { fail "the service did not start"; return 1; }
  else
    start_scheduler
  fi
  wait_log "Run Task Schedulers/Webservers..." 1 20 || { fail "no start-up"; return 1; }
  [ "$1" = busy ] || return 0
  # Ten processes under Wine on a loaded machine can take a while.
  poll 60 runs_started || {
    fail "the ten runs did not start ($(running_analyzers) running)"
    grep -E "Error|update" "$home/scheduler.###" | tail -n 20 | sed 's/^/      /'
    compgen -G "$app/running*" | sed 's/^/      marker: /'
    tail -n 12 "$app/analyzer_runs.txt" 2>/dev/null | sed 's/^/      run: /'
  }
  poll 20 nginx_up || fail "nginx did not start"
}

# A stop that never reached the stopped state is rare under Wine; what the
# service wrote and whether it still runs name the step it hung in.
show_hung_stop() {
  echo "      scheduler.exe: $(pgrep -f 'scheduler\.exe' >/dev/null && echo runs || echo gone)"
  tail -n 15 "$home/scheduler.###" 2>/dev/null | tr -d '\r' | sed 's/^/      log: /'
}

# Stops it; $stop_ms is the time from the request to the stopped state.
stop_one() {
  if [ $mode = wine ]; then
    wine_service stop || { fail "the service did not stop"; stop_ms=99999; show_hung_stop; return; }
    stop_ms=${state_ms%.*}
  else
    stop_scheduler
  fi
}

# The analyzer runs were left running, as they should be: end them and see
# that nginx went with its quit command.
after_busy_cycle() {
  : >"$app/analyzer_release"
  poll 20 analyzers_ended || fail "analyzer runs did not end"
  rm -f "$app/analyzer_release"
  poll 20 nginx_down || fail "nginx still runs after the stop"
}

cycles_of() {  # idle|busy: fills $latencies
  latencies=()
  local i
  if [ "$1" = busy ]; then
    install_nginx
    echo "60000 0" >"$app/analyzer_behaviour.txt"
    for i in $(seq 1 $busy_children); do
      write_definition "Site$i.webserver" type_schedule=0 type_interval=1 interval=6
    done
  fi
  for i in $(seq 1 "$cycles"); do
    start_one "$1" || break
    stop_one
    latencies+=("$stop_ms")
    [ "$1" = busy ] && after_busy_cycle
    [ $case_failures -gt 0 ] && break
  done
}

report() {  # label
  local sorted median max
  sorted=$(printf '%s\n' "${latencies[@]}" | sort -n)
  median=$(sed -n "$(( (${#latencies[@]} + 1) / 2 ))p" <<<"$sorted")
  max=$(tail -n 1 <<<"$sorted")
  echo "    stop latency ($mode, $1): median $median ms, maximum $max ms over ${#latencies[@]} cycles"
  [ ${#latencies[@]} -eq "$cycles" ] || fail "only ${#latencies[@]} of $cycles cycles"
  [ "${max:-99999}" -lt $limit_ms ] || fail "a stop took $max ms"
}

stop_latency_idle() {
  cycles_of idle
  report idle
}

stop_latency_with_nginx_and_ten_children() {
  cycles_of busy
  report "nginx and $busy_children children"
}

cleanup() {
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
  [ -n "${app:-}" ] && [ -d "$app" ] && : >"$app/analyzer_release"
  local p; p=$(nginx_pid 2>/dev/null)
  [ $mode = native ] && [ -n "$p" ] && kill "$p" 2>/dev/null
  [ $mode = wine ] && { wine_uninstall >/dev/null; wine_cleanup; }
  [ -n "${work:-}" ] && [ -z "${KEEP_WORK:-}" ] && rm -rf "$work"
}
trap cleanup EXIT
prepare
run_case stop_latency_idle
run_case stop_latency_with_nginx_and_ten_children
finish
