#!/usr/bin/env bash
# The Windows build as a real service under Wine's service control manager:
# install from a folder whose path has a blank, run a definition, stop,
# uninstall. Usage: wine_service_test.sh <windows build folder>
set -uo pipefail
. "$(dirname "$0")/reliability_lib.sh"
build=$1
export WINEPREFIX="$build/e2e-wineprefix" WINEDEBUG=-all
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
expect_line() {  # file, exact line (timestamps stripped)
  log_bodies "$1" | grep -qxF -- "$2" || fail "no line '$2' in $1"
}
source_key='HKLM\System\CurrentControlSet\Services\EventLog\Application\RavoScheduler'
state_is() { wine sc query RavoScheduler 2>/dev/null | tr -d '\r' | grep -q "STATE.*$1"; }
cleanup() { [ -n "${keeper:-}" ] && kill "$keeper" 2>/dev/null; wine sc stop RavoScheduler >/dev/null 2>&1; wine sc delete RavoScheduler >/dev/null 2>&1; wine reg delete "$source_key" /f >/dev/null 2>&1; wineserver -k 2>/dev/null; }
trap cleanup EXIT

[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
cleanup  # a registration left by an earlier run
# Wine ends its service processes once no ordinary program runs in the
# prefix; a sleeping one keeps the session up while the service works.
wine "$build/tests/engine_test.exe" --child sleep 600000 >/dev/null 2>&1 &
keeper=$!
app="$WINEPREFIX/drive_c/Program Files/Corvana Test"
home="$WINEPREFIX/drive_c/ProgramData/Corvana"
rm -rf "$app" "$home"
mkdir -p "$app" "$home/webserver"
cp "$build/scheduler.exe" "$app/"
cp "$build/tests/helpers/fault_analyzer.exe" "$app/Ravo.exe"
echo "0 3" >"$app/analyzer_behaviour.txt"  # a failed analysis, for the journal
cp "$build/tests/helpers/nginx_stub.exe" "$home/webserver/nginx.exe" 2>/dev/null || true

# What Explorer's Properties and inventory tools read from the file.
described=$(wine "$build/tests/helpers/service_probe.exe" version "$app/scheduler.exe" 2>/dev/null | tr -d '\r')
[ "$described" = "$(printf 'FileVersion 3.3.0.383\nProductVersion 3.3.0.383\nProductName Corvana\nFileDescription Corvana Scheduler')" ] ||
  fail "version resource: $described"

out=$(cd "$app" && wine "$app/scheduler.exe" --install 2>"$build/e2e-install-err.txt" | tr -d '\r')
[ "$out" = "Windows Service is installed" ] || fail "install printed '$out'"
# A step of the install that the service manager refused is noted here.
[ ! -s "$build/e2e-install-err.txt" ] || fail "install noted: $(tr -d '\r' <"$build/e2e-install-err.txt")"
# Wine's sc has no "qc": the registration is read from the registry instead.
config=$(wine reg query 'HKLM\System\CurrentControlSet\Services\RavoScheduler' 2>/dev/null | tr -d '\r')
grep -qF 'ImagePath    REG_SZ    "C:\Program Files\Corvana Test\scheduler.exe" --service' <<<"$config" || fail "image path: $config"
grep -q 'Start    REG_DWORD    0x2$' <<<"$config" || fail "start type: $config"
grep -q 'Type    REG_DWORD    0x10$' <<<"$config" || fail "service type: $config"
grep -q 'DisplayName    REG_SZ    Corvana Scheduler$' <<<"$config" || fail "display name: $config"
grep -q 'ObjectName    REG_SZ    LocalSystem$' <<<"$config" || fail "account: $config"
grep -qF "Description    REG_SZ    Starts Corvana's scheduled analyses and report web-site updates." <<<"$config" || fail "description: $config"
# Reset after 86400 s; restart after 60000 ms, twice; then nothing. Wine 8's
# service manager accepts the failure actions without storing them: there,
# the install's silence above says that it took them.
actions=$(sed -n 's/^ *FailureActions *REG_BINARY *//p' <<<"$config")
if [ -n "$actions" ]; then
  [ "${actions:0:8}" = 80510100 ] || fail "failure count reset: $actions"
  grep -q '0100000060EA00000100000060EA00000000000000000000$' <<<"$actions" || fail "failure actions: $actions"
fi
# The event source: its texts in the executable's message table.
events=$(wine reg query "$source_key" 2>/dev/null | tr -d '\r')
echo "event source after --install:"; echo "$events"
grep -qF 'EventMessageFile    REG_EXPAND_SZ    C:\Program Files\Corvana Test\scheduler.exe' <<<"$events" || fail "message file: $events"
grep -q 'TypesSupported    REG_DWORD    0x7$' <<<"$events" || fail "types supported: $events"
mc="$(dirname "$0")/../../src/logging/event_messages.mc"
ids=$(sed -n 's/^MessageId=//p' "$mc" | tr -d '\r')
expected=$(sed -n '/^Language=English/{n;p}' "$mc" | sed 's/%\([1-9]\)/<\1>/g' | paste -d' ' <(echo "$ids") -)
texts=$(wine "$build/tests/helpers/service_probe.exe" messages "$app/scheduler.exe" $ids 2>/dev/null | tr -d '\r')
[ "$texts" = "$expected" ] || fail "message table: $(diff <(echo "$expected") <(echo "$texts"))"
poll 30 state_is RUNNING || fail "service not RUNNING"
wine reg add "$source_key" /v EventMessageFile /t REG_EXPAND_SZ /d 'C:\kept.exe' /f >/dev/null 2>&1
# Installing again while it runs keeps the registration and counts as done;
# the refused start is said, the line of success is not.
wine "$app/scheduler.exe" --install >"$build/e2e-out.txt" 2>"$build/e2e-err.txt"; status=$?
[ "$status" = 0 ] || fail "second install exited with $status"
[ "$(tr -d '\r' < "$build/e2e-err.txt")" = "Error: ERROR_SERVICE_ALREADY_RUNNING" ] ||
  fail "second install said '$(cat "$build/e2e-err.txt")'"
[ -s "$build/e2e-out.txt" ] && fail "second install printed '$(cat "$build/e2e-out.txt")'"
wine reg query "$source_key" /v EventMessageFile 2>/dev/null | grep -qF 'C:\kept.exe' || fail "a second install replaced the event source"
poll 15 grep -q "Run Task Schedulers/Webservers" "$home/scheduler.###" || fail "no start-up lines"
head -n 1 "$home/scheduler.###" | tr -d '\r' | grep -qxF '#Software: Corvana 3.3 (build 0383).' || fail "log header"

# A schedule due in a few seconds, and the counter moved so that it loads.
read -r y mo d h mi s <<<"$(date -d '+7 sec' '+%Y %-m %-d %-H %-M %-S')"
printf 'FormatVersion=1.0\r\n\r\n[Common]\r\ntype_schedule=0\r\nyear=%s\r\nmonth=%s\r\nday=%s\r\nhour=%s\r\nmin=%s\r\nsec=%s\r\n' \
  "$y" "$mo" "$d" "$h" "$mi" "$s" > "$home/Daily web.schedule"
printf 'FormatVersion=1.0\r\n[Common]\r\ntype_schedule=0\r\ninterval=30\r\n' >"$home/Site.webserver"
printf '\x02\x00\x00\x00' > "$home/schedule_counter.dat"
# The nginx stand-in touches its file while it runs.
stub_beats() { local at; at=$(stat -c %y "$home/webserver/nginx-stub.running"); sleep 0.5; [ "$(stat -c %y "$home/webserver/nginx-stub.running")" != "$at" ]; }
poll 20 stub_beats || fail "the nginx stand-in does not run"
poll 20 grep -q -- "-_scheduleDaily" "$app/ravo_calls.txt" || fail "the analyzer was not started for the schedule"
# From a folder with a blank: the option first, and the id's blank split as
# Windows splits it.
echo "analyzer calls: $(cat "$app/ravo_calls.txt")"
grep -q -- "^\[-_scheduleDaily\]\[web\] @ " "$app/ravo_calls.txt" || fail "analyzer arguments: $(cat "$app/ravo_calls.txt")"
expect_line "$home/scheduler.###" "The schedules has been changed #2"
expect_line "$home/scheduler.###" "Successful run schedule, id: Daily web"
poll 10 grep -q "The process stopped, id: Daily web" "$home/scheduler.###" || fail "the ended child was not reaped"

# An nginx.exe that others may change runs no quit: the stop ends its job.
chmod o+w "$home/webserver/nginx.exe"
# Every state from the stop request on: stop pending (3) with a moving
# checkpoint and the wait hint, then stopped (1).
wine "$build/tests/helpers/service_probe.exe" states RavoScheduler 2>/dev/null | tr -d '\r' > "$build/e2e-stop-states.txt"
echo "states during the stop:"; cat "$build/e2e-stop-states.txt"
grep -qx '3 [1-9][0-9]* 3000' "$build/e2e-stop-states.txt" || fail "no stop pending with the wait hint"
[ "$(tail -n 1 "$build/e2e-stop-states.txt")" = "1 0 0" ] || fail "the last state is not stopped"
sed -n '/^3 /,$p' "$build/e2e-stop-states.txt" | grep -q '^4 ' && fail "running again after stop pending"
poll 20 state_is STOPPED || fail "service not STOPPED"
for line in "Service: Stopped." "Service: Shutdown." "Stop webservers..." "Scheduler normal shutdown." \
  "nginx.exe ended with everything it started: the quit command could not be run"; do
  expect_line "$home/scheduler.###" "$line"
done
stub_beats && fail "the nginx stand-in outlived the service"
grep -q '"record":"run_end".*"id":"Daily web".*"exit_code":3,' "$home/scheduler.journal" || fail "journal: $(cat "$home/scheduler.journal")"
# The JSON has the words the text wraps, and Wine's folders read as refused.
shown=$(wine "$build/schedules.exe" --home 'C:\ProgramData\Corvana' --json 2>/dev/null | tr -d '\r')
grep -qE '"outcome": "exit 3 after [0-9]+ s \(failed\)"' <<<"$shown" || fail "schedules.exe: $shown"
out=$(wine "$app/scheduler.exe" --uninstall 2>/dev/null | tr -d '\r')
[ "$out" = "Windows Service is uninstalled" ] || fail "uninstall printed '$out'"
wine sc query RavoScheduler >/dev/null 2>&1 && fail "service still registered"
wine reg query "$source_key" >/dev/null 2>&1 && fail "event source still registered"
# Removing what is not there is a failure the person must see.
wine "$app/scheduler.exe" --uninstall >"$build/e2e-out.txt" 2>"$build/e2e-err.txt"; status=$?
[ "$status" = 1 ] || fail "second uninstall exited with $status"
[ "$(tr -d '\r' < "$build/e2e-err.txt")" = "Error # 1060" ] || fail "second uninstall said '$(cat "$build/e2e-err.txt")'"
[ -s "$build/e2e-out.txt" ] && fail "second uninstall printed '$(cat "$build/e2e-out.txt")'"

if [ $failures -eq 0 ]; then echo "[  PASSED  ] 1 tests."; exit 0; fi
echo "[  FAILED  ] 1 tests, $failures checks failed"; exit 1
