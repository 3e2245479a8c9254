# Shared by every end-to-end script: sourced, not run. The waiting and the
# log reading serve all of them; the cases are the reliability scripts'
# (fault, soak, stop latency). A case runs in a folder of its own below $work with the scheduler
# copied into $app and its data folder ($PROGRAMDATA) in $pd; the scheduler's
# HomePath is then $home.

passed=0
failed=0
failed_names=()
case_failures=0

fail() { echo "    check failed: $*"; case_failures=$((case_failures + 1)); }

# Runs one case: a function that calls `fail` for every broken check.
run_case() {
  local name=$1
  echo "[ RUN      ] $name"
  case_failures=0
  if declare -F "$name" >/dev/null; then "$name"; else fail "no case of that name in this suite"; fi
  if [ $case_failures -eq 0 ]; then
    echo "[       OK ] $name"
    passed=$((passed + 1))
  else
    echo "[  FAILED  ] $name"
    failed=$((failed + 1))
    failed_names+=("$name")
  fi
}

# The fault cases, in the order they run, and the builds each runs on:
# "native" in the foreground (fault_test.sh), "wine" as one service run under
# Wine (wine_fault_test.sh), where each case starts from what the one before
# left. The native-only cases need what only the foreground run offers
# (libfaketime's speed, signals, pipes, links, a fresh folder per case);
# holding the counter denying all sharing is a Windows matter.
fault_cases='
analyzer_missing                          native wine
analyzer_exits_at_once_with_an_error      native wine
analyzer_hangs_past_the_run_time_limit    native
analyzer_and_its_child_go_on_after_a_stop native
nginx_missing                             native wine
counter_held_exclusively                  wine
counter_deleted                           native wine
counter_truncated_to_two_bytes            native wine
counter_replaced_by_a_folder_or_a_pipe    native
torn_definition_is_skipped_then_loaded    native wine
log_folder_disappears                     native
log_renamed_data_folder_held              wine
definitions_rewritten_in_a_tight_loop     native wine
stop_during_start_up                      native
stop_at_once_after_start                  native
planted_links_are_not_followed            native
data_folder_not_trusted                   native
stops_cleanly                             wine
'

# The cases for a build ("native" or "wine"), less any that a FAULT_CASES
# list of names leaves out.
fault_cases_for() {
  local build=$1 name builds
  while read -r name builds; do
    [ -n "$name" ] && [[ " $builds " == *" $build "* ]] || continue
    [ -n "${FAULT_CASES:-}" ] && [[ " $FAULT_CASES " != *" $name "* ]] && continue
    echo "$name"
  done <<<"$fault_cases"
}

# gtest's summary lines, which the test command counts.
finish() {
  [ $passed -gt 0 ] && echo "[  PASSED  ] $passed tests."
  if [ $failed -gt 0 ]; then
    echo "[  FAILED  ] $failed tests, listed below:"
    for name in "${failed_names[@]}"; do echo "[  FAILED  ] $name"; done
    exit 1
  fi
  [ $passed -gt 0 ] || { echo "[  FAILED  ] 1 tests, none ran"; exit 1; }
  exit 0
}

# Until the command succeeds, or false after the given seconds. What the
# command says while it fails (a file not there yet) is no news.
poll() {
  local deadline=$((SECONDS + $1)); shift
  until "$@" 2>/dev/null; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.05
  done
}

now_ms() { local t=${EPOCHREALTIME/./}; echo $((t / 1000)); }

# A log (the case's own when none is named) without CR and without the
# "[yyyy-mm-dd hh:mm:ss] " prefixes.
log_bodies() {
  sed -e 's/\r$//' -e 's/^\[[0-9 ]\{4\}-[0-9]\{2\}-[0-9]\{2\} [0-9:]\{8\}\] //' \
    "${1:-$home/scheduler.###}" 2>/dev/null
}
log_count() { log_bodies | grep -cxF -- "$1"; }
log_has() { [ "$(log_count "$1")" -ge "${2:-1}" ]; }
# A reload logs the counter's change first and what it loaded after it:
# web_servers_loaded_after <change number> <count>
web_servers_loaded_after() {
  log_bodies | sed -n "/^The schedules has been changed #$1\$/,\$p" |
    grep -qxF "Loading : $2 Web Servers items"
}
# wait_log <line> [count] [seconds]
wait_log() { poll "${3:-15}" log_has "$1" "${2:-1}"; }
expect_log() { wait_log "$@" || fail "no line '$1' (x${2:-1}) in the log"; }
# The line numbers of the first occurrence of each line, to check order.
first_line_of() { log_bodies | grep -nxF -m1 -- "$1" | cut -d: -f1; }
expect_order() {  # line, line: the first comes before the second
  local a b
  a=$(first_line_of "$1"); b=$(first_line_of "$2")
  [ -n "$a" ] && [ -n "$b" ] && [ "$a" -lt "$b" ] || fail "'$1' is not before '$2'"
}

# Four bytes, little-endian, as the analyzer writes the change counter.
set_counter() {
  local v=$1
  printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((v & 255)) $(((v >> 8) & 255)) \
    $(((v >> 16) & 255)) $(((v >> 24) & 255)))" >"$home/schedule_counter.dat"
}

# A definition file in the settings format; the arguments are key=value lines
# of the section "Common".
write_definition() {
  local file=$1; shift
  { printf 'FormatVersion=1.0\r\n\r\n[Common]\r\n'; printf '%s\r\n' "$@"; } >"$home/$file"
}

# --- The native build, run in the foreground as on Linux.

faketime_library() { ls /usr/lib/*/faketime/libfaketimeMT.so.1 2>/dev/null | head -n 1; }

# A fresh folder for one case: $case_dir, $app (the scheduler's folder),
# $pd (PROGRAMDATA) and $home (HomePath).
new_case_folder() {
  case_dir="$work/$1"
  app="$case_dir/app"
  pd="$case_dir/pd"
  home="$pd/Corvana"
  rm -rf "$case_dir"
  mkdir -p "$app" "$home"
  cp "$scheduler" "$app/scheduler"
}

# start_scheduler [FAKETIME value]: runs it in the background as $pid. The
# subshell execs, so $pid is the scheduler itself and signals reach it.
start_scheduler() {
  local fake_time=${1:-}
  if [ -n "$fake_time" ]; then
    (cd "$case_dir" && PROGRAMDATA="$pd" LD_PRELOAD="$faketime" FAKETIME="$fake_time" \
      ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
      exec "$app/scheduler" --service) >>"$case_dir/output.txt" 2>&1 &
  else
    (cd "$case_dir" && PROGRAMDATA="$pd" exec "$app/scheduler" --service) \
      >>"$case_dir/output.txt" 2>&1 &
  fi
  pid=$!
}

start_and_wait() {
  start_scheduler "$@"
  wait_log "Run Task Schedulers/Webservers..." 1 20 || fail "the scheduler did not start"
}

# A process that has ended stays a zombie until waited for: not running.
running() {
  local state
  state=$(ps -o stat= -p "$pid" 2>/dev/null)
  [ -n "$state" ] && [[ $state != Z* ]]
}
expect_running() { running || fail "the scheduler is not running ($*)"; }

# SIGTERM and wait for the end; $stop_ms is the time from the signal to the
# process's exit. A scheduler that is still there after the given seconds
# (5) is killed and the case fails.
stop_scheduler() {
  local started rc
  ( sleep "${1:-5}"; kill -KILL "$pid" 2>/dev/null ) &
  local watchdog=$!
  started=$(now_ms)
  kill -TERM "$pid" 2>/dev/null
  wait "$pid"; rc=$?
  stop_ms=$(( $(now_ms) - started ))
  kill "$watchdog" 2>/dev/null; wait "$watchdog" 2>/dev/null
  [ $rc -eq 0 ] || fail "exit status $rc after SIGTERM ($stop_ms ms)"
}

zombies_of() { ps -o stat= --ppid "$1" 2>/dev/null | grep -c '^Z'; }

# Ravo.exe as a shell script: records "<pid> start <args>" in runs.txt
# beside itself, notes "OVERLAP <args>" when another run with the same
# arguments is still going, runs the body, then records "<pid> end <args>".
write_analyzer() {
  cat >"$app/Ravo.exe" <<EOF
#!/bin/sh
here=\$(dirname "\$0")
echo "\$\$ start \$*" >>"\$here/runs.txt"
lock="\$here/running\$(printf '%s' "\$*" | tr -c 'A-Za-z0-9_-' _)"
# The lock names its owner: a run that was killed (as a hung one is) leaves
# it behind, and only a living owner, or one still writing its name, makes
# an overlap.
owner=1
if ! mkdir "\$lock" 2>/dev/null; then
  holder=\$(cat "\$lock/pid" 2>/dev/null)
  if [ -z "\$holder" ] || kill -0 "\$holder" 2>/dev/null; then
    owner=; echo "OVERLAP \$*" >>"\$here/runs.txt"
  fi
fi
[ -n "\$owner" ] && echo \$\$ >"\$lock/pid"
$1
[ -n "\$owner" ] && rm -rf "\$lock"
echo "\$\$ end \$*" >>"\$here/runs.txt"
EOF
  chmod +x "$app/Ravo.exe"
}

runs_count() { grep -c -- " start $1\$" "$app/runs.txt" 2>/dev/null; }

# Ends every analyzer run that is still going: the scheduler leaves them. A
# recorded id counts only while it still works in the case's folder (the
# children inherit the scheduler's current directory), never a reused one.
end_analyzers() {
  [ -f "$app/runs.txt" ] || return 0
  local p
  for p in $(awk '$2 == "start" {print $1}' "$app/runs.txt"); do
    [ "$(readlink "/proc/$p/cwd" 2>/dev/null)" = "$case_dir" ] && kill -KILL "$p" 2>/dev/null
  done
  return 0
}

# --- The Windows build as a real service under Wine, in a prefix that the
# reliability scripts share (they run one at a time).

wine_state_is() { wine sc query RavoScheduler 2>/dev/null | tr -d '\r' | grep -q "STATE.*$1"; }

wine_cleanup() {
  [ -n "${keeper:-}" ] && kill "$keeper" 2>/dev/null
  keeper=
  wine sc stop RavoScheduler >/dev/null 2>&1
  wine sc delete RavoScheduler >/dev/null 2>&1
  wineserver -k 2>/dev/null
  return 0
}

# wine_setup <build folder> <folder below Program Files>: $app with
# scheduler.exe and the fault analyzer as Ravo.exe, $home in the prefix's
# ProgramData, $probe; nothing registered yet.
wine_setup() {
  export WINEPREFIX="$1/reliability-wineprefix" WINEDEBUG=-all
  [ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
  wine_cleanup
  # Wine ends its service processes once no ordinary program runs in the
  # prefix; a sleeping one keeps the session up while the service works.
  wine "$1/tests/engine_test.exe" --child sleep 3600000 >/dev/null 2>&1 &
  keeper=$!
  app="$WINEPREFIX/drive_c/Program Files/$2"
  home="$WINEPREFIX/drive_c/ProgramData/Corvana"
  rm -rf "$app" "$home"
  mkdir -p "$app" "$home"
  cp "$1/scheduler.exe" "$app/"
  cp "$1/tests/helpers/fault_analyzer.exe" "$app/Ravo.exe"
  probe="$1/tests/helpers/service_probe.exe"
}

# Registers and starts the service; waits for the engine's start-up lines.
wine_install() {
  local out
  out=$(cd "$app" && wine "$app/scheduler.exe" --install 2>/dev/null | tr -d '\r')
  [ "$out" = "Windows Service is installed" ] || fail "install printed '$out'"
  wait_log "Run Task Schedulers/Webservers..." 1 40 || fail "the service did not start"
}

wine_uninstall() {
  wine "$app/scheduler.exe" --uninstall >/dev/null 2>&1
  poll 20 bash -c '! wine sc query RavoScheduler >/dev/null 2>&1' || fail "the service is still registered"
}

# "start", "stop": through the probe; sets $state_ms, false on a timeout.
wine_service() { state_ms=$(wine "$probe" "$1" RavoScheduler 2>/dev/null | tr -d '\r'); [ -n "$state_ms" ]; }

# The Linux process that hosts scheduler.exe, for its resident memory.
wine_scheduler_pid() { pgrep -f 'scheduler\.exe' | head -n 1; }
rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status" 2>/dev/null; }

# The fault analyzer's record, beside Ravo.exe.
analyzer_runs() { tr -d '\r' 2>/dev/null <"$app/analyzer_runs.txt"; }
analyzer_count() { analyzer_runs | grep -c -- "^$1"; }

# make_case_folder <name>: $work, a folder for the cases, removed at exit
# together with the scheduler ($pid) and every analyzer a case left running.
make_case_folder() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/corvana-$1.XXXXXX")
  pid=
  trap remove_case_folder EXIT
}
remove_case_folder() {
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
  for dir in "$work"/*/; do
    [ -d "$dir" ] || continue
    case_dir=${dir%/}; app="$case_dir/app"; end_analyzers
  done
  rm -rf "$work"
}
