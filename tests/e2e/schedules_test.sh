#!/usr/bin/env bash
# The built `schedules` (schedules.exe under Wine) on a folder with a broken
# file: the reader's lines, the exit codes, the JSON and the usage error.
# Usage: schedules_test.sh <schedules executable> [wine service_probe.exe]
set -uo pipefail
. "$(dirname "$0")/reliability_lib.sh"
program=$1
runner=${2:-}
probe=${3:-}
work=$(mktemp -d /tmp/corvana-schedules.XXXXXX)
trap 'rm -rf "$work"' EXIT
home="$work/Corvana"
mkdir -p "$home"
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

definition() { printf 'FormatVersion=1.0\r\n\r\n[Common]\r\n%b' "$2" >"$home/$1"; }
definition "Nightly.schedule" 'type_schedule=2\r\ndays_week=31\r\nhour=3\r\nmin=30\r\n'
definition "Site.webserver" 'type_schedule=0\r\ntype_interval=0\r\ninterval=30\r\n'
definition "Broken.schedule" 'bogus=1\r\n'
home_arg=$home sep=/ refused_arg=$work/Link reason="is reached through a link" codes="1 0"
nightly_next="2026-12-08 03:30:00"
# Wine gives every folder the Unix user's owner, which SYSTEM refuses.
if [ -n "$runner" ]; then
  home_arg=$(winepath -w "$home" 2>/dev/null) sep='\' reason="is owned by a non-administrator" codes="3 3"
  refused_arg=$home_arg nightly_next="would not run: the data folder is refused ($reason)"
else ln -s "$home" "$work/Link"; fi
read -r broken_code loads_code <<<"$codes"

run() { if [ -n "$runner" ]; then "$runner" "$program" "$@"; else "$program" "$@"; fi; }

run --home "$home_arg" --from "2026-12-07 12:00:00" >"$work/out" 2>"$work/err"
out_code=$?
out=$(tr -d '\r' <"$work/out")
[ "$out_code" = "$broken_code" ] || fail "exit code $out_code with a broken file, wanted $broken_code"
for line in "  Broken.schedule: line 4: bogus=1: no such key" "     Project error, string=bogus=1" \
  "    Error read schedule settings" "Files that do not load (1)" \
  "nginx: not started (an enabled web server loads, but nginx.exe would not be started)"; do
  grep -qxF -- "$line" <<<"$out" || fail "no line \"$line\" in:
$out"
done
grep -q "Nightly  *enabled  *weekdays Mon, .*  $nightly_next" <<<"$out" ||
  fail "no row for Nightly in:
$out"
[ -z "$(ls "$home" | grep -v -e '\.schedule$' -e '\.webserver$')" ] || fail "it wrote into the folder: $(ls "$home")"

rm "$home/Broken.schedule"
run --home "$home_arg" --from "2026-12-07 12:00:00" --next 1 --json >"$work/out" 2>/dev/null
json_code=$?
json=$(tr -d '\r' <"$work/out")
[ "$json_code" = "$loads_code" ] || fail "exit code $json_code for a folder that loads, wanted $loads_code"
grep -qF '"rule": "every 30 minutes after each (re)load"' <<<"$json" || fail "no rule in the JSON:
$json"

run --home "$refused_arg" --next 1 >"$work/out" 2>/dev/null
refused_code=$?
out=$(tr -d '\r' <"$work/out")
first="The service would refuse this data folder: $refused_arg$sep $reason. It would run none of the definitions below."
[ "$refused_code" = 3 ] && [ "$(head -n 1 <<<"$out")" = "$first" ] &&
  grep -qE "^  Nightly  +enabled  +weekdays Mon, .*  would not run: the data folder is refused \\($reason\\)" <<<"$out" ||
  fail "exit code $refused_code; a refused folder not said first, or a next start shown:
$out"

run --frobnicate >"$work/out" 2>"$work/err"
usage_code=$?
[ "$usage_code" = 2 ] || fail "exit code $usage_code for an unknown option, wanted 2"
grep -q "^usage: schedules" "$work/err" || fail "no usage on standard error"
[ ! -s "$work/out" ] || fail "output on standard output for an unknown option"

if [ -n "$probe" ]; then
  described=$("$runner" "$probe" version "$program" 2>/dev/null | tr -d '\r')
  [ "$(sed -n 4p <<<"$described")" = "FileDescription Corvana Schedules" ] ||
    fail "version resource: $described"
fi

# Run by an ordinary account over a tree that account owns, it still judges
# nginx for the service's account (root): that tree is none root would run.
if [ -z "$runner" ] && [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
  chmod 755 "$work"
  mkdir -p "$home/webserver"
  cp /bin/true "$home/webserver/nginx.exe"
  chown -R 65534:65534 "$home"
  out=$(setpriv --reuid=65534 --regid=65534 --clear-groups "$program" --home "$home" 2>&1)
  grep -qxF "webserver/nginx.exe: present, would not be started: it is owned by a non-administrator" <<<"$out" ||
    fail "a tree its caller owns was judged for the caller:
$out"
fi

if [ "$failures" = 0 ]; then
  echo "[  PASSED  ] 1 test."
else
  echo "[  FAILED  ] 1 test, listed below:"
  exit 1
fi
