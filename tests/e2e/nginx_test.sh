#!/usr/bin/env bash
# Linux, end to end: the scheduler's nginx control starts Debian's nginx
# through the wrapper installed as nginx.exe, in a HomePath with a blank; a
# page comes back over loopback; the quit command stops it; no nginx process,
# nor a zombie of one, is left, also when its nginx.exe became untrusted.
# Usage: nginx_test.sh <nginx_driver> <nginx-wrapper>
set -uo pipefail
. "$(dirname "$0")/reliability_lib.sh"
driver=$1 wrapper=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/corvana e2e.XXXXXX")
home="$work/Corvana" web="$work/Corvana/webserver" log="$work/Corvana/scheduler.###"
master="" workers="" failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
cleanup() {
  local pid
  for pid in $master $workers; do
    grep -qa nginx "/proc/$pid/cmdline" 2>/dev/null && kill -KILL "$pid"
  done
  [ -n "${driver_pid:-}" ] && kill "$driver_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

port=""
for _ in $(seq 50); do
  candidate=$((20000 + RANDOM % 40000))
  (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null || { port=$candidate; break; }
done
[ -n "$port" ] || { echo "no free loopback port"; echo "[  FAILED  ] 1 tests"; exit 1; }
mkdir -p "$web"
"$wrapper" --install "$web" "$port" >/dev/null || fail "the wrapper did not install"
marker="Corvana e2e page $RANDOM$RANDOM"
echo "<html><body>$marker</body></html>" >"$web/html/index.html"

coproc "$driver" "$work"
driver_pid=$COPROC_PID  # bash forgets COPROC_PID once the driver ends
ask() {  # command: its answer lands in $reply
  reply=""
  echo "$1" >&"${COPROC[1]}" && read -r -t 20 reply <&"${COPROC[0]}"
}
page_served() { curl -sf --max-time 2 "http://127.0.0.1:$port/" | grep -qF "$marker"; }
all_gone() {  # reaped, not merely ended: a zombie still has its /proc entry
  local pid
  ask collect
  for pid in $master $workers; do [ -e "/proc/$pid" ] && return 1; done
  return 0
}

# An nginx.exe that became untrusted runs no quit: its tree is ended instead.
for round in trusted untrusted; do
  quit_ran=$([ "$round" = trusted ] && echo true || echo false)
  ask start
  [ "$reply" = "start true" ] || fail "start answered '$reply'"
  poll 15 page_served || fail "no page over loopback: $(tail -n 5 "$web/logs/error.log" 2>/dev/null)"
  master=$(cat "$web/logs/nginx.pid" 2>/dev/null)
  if [ -n "$master" ]; then
    parent=$(ps -o ppid= -p "$master" | tr -d ' ')
    [ "$parent" = "$driver_pid" ] || fail "nginx's parent is $parent, not the scheduler ($driver_pid)"
    workers=$(pgrep -P "$master" | tr '\n' ' ')
    [ -n "$workers" ] || fail "nginx has no worker"
  else
    fail "no pid file"
  fi
  [ "$round" = trusted ] || chown 65534 "$web/nginx.exe"
  ask quit
  [ "$reply" = "quit $quit_ran" ] || fail "$round quit answered '$reply'"
  poll 15 all_gone || fail "left behind: $(ps -o pid=,stat=,args= -p "$(echo ${master:-0} $workers | tr ' ' ',')" | tr '\n' ';')"
done
ask exit
wait "$driver_pid" 2>/dev/null
pgrep -f "$web" >/dev/null && fail "an nginx of this folder still runs"

expected=("\"$web/nginx.exe\"" "Webserver command successfully"
  "\"$web/nginx.exe\" -s quit" "Webserver command successfully"
  "\"$web/nginx.exe\"" "Webserver command successfully" "\"$web/nginx.exe\" -s quit"
  "nginx.exe -s quit not run: $web/nginx.exe is owned by a non-administrator" "Webserver command error"
  "nginx.exe ended with everything it started: the quit command could not be run")
mapfile -t got < <(tail -n +2 "$log")
[ "${got[*]}" = "${expected[*]}" ] || fail "log: $(printf '%s|' "${got[@]}")"

if [ $failures -eq 0 ]; then echo "[  PASSED  ] 1 tests."; exit 0; fi
echo "[  FAILED  ] 1 tests, $failures checks failed"
exit 1
