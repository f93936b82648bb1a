#!/usr/bin/env bash
# The command lines of kordel-cli and pbxsim: help exits 0, a wrong command line exits 2 with
# the reason on stderr and does nothing else (no port opened, no file written).
#   cli_usage.sh KORDEL_CLI PBXSIM
set -u
cli="$1"
sim="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fail=0

# expect STATUS STDERR-PART PROGRAM ARGS...
expect() {
  local want="$1" part="$2"; shift 2
  local err rc
  err="$("$@" 2>&1 >/dev/null)"; rc=$?
  if [ "$rc" -ne "$want" ]; then
    echo "FAILED: $* gave exit $rc, not $want: $err"; fail=1
  elif [ -n "$part" ] && [[ "$err" != *"$part"* ]]; then
    echo "FAILED: $*: stderr lacks \"$part\": $err"; fail=1
  else
    echo "ok: $*"
  fi
}

expect 0 "" "$cli" --help
expect 0 "" "$cli" read --help
expect 0 "" "$cli" report -h
expect 2 "Usage: kordel-cli COMMAND" "$cli"
expect 2 "unknown command: fetch" "$cli" fetch
expect 2 "not expected: --colour" "$cli" status --colour
expect 2 "--titles excludes --no-titles" "$cli" read --titles --no-titles --data d.txt
expect 2 "--port: 1 required TEXT missing" "$cli" read --port
expect 2 "--interval: \"0\" is not a whole number from 1 to 300" "$cli" monitor --interval 0
expect 2 "--interval: \"301\"" "$cli" monitor --interval=301
expect 2 "--count: \"0\"" "$cli" monitor --count 0
expect 2 "DATAFILE is required" "$cli" report
expect 2 "\"size\" is not one of hw, prg, out, in, total" "$cli" report x.txt --sort-lines size
expect 2 "not expected: y.txt" "$cli" report x.txt y.txt
expect 0 "" "$sim" --help
expect 2 "--key: \"0x100\"" "$sim" --key 0x100
expect 2 "--drop-reply: \"1.5\" is not a number from 0 to 1" "$sim" --drop-reply 1.5
expect 2 "--counters: At least 2 required but received 1" "$sim" --counters 5
expect 2 "--in-fault: drop takes no value" "$sim" --in-fault drop:0x03:1:0x40
expect 2 "--in-insert: value \"0x100\" is not a whole number from 0 to 255" "$sim" --in-insert 1:0x100

# Nothing was created by the refused command lines.
left="$(ls -A)"
[ -z "$left" ] || { echo "FAILED: files left behind: $left"; fail=1; }

# A first run (no "Kordel.cfg"): the defaults are written, the old "KordelOut.cfg" goes, and
# the user is told to choose the port; nothing is opened.
mkdir first && cd first || exit 1
printf 'TARIF_FNAME=calls.txt\r\nREALTIME_FNAME=\r\nAUTO=AUTOSTART_1' >KordelOut.cfg
expect 2 "Это первый запуск программы Kordel" "$cli" status
[ "$(wc -c <Kordel.cfg)" -eq 30 ] || { echo "FAILED: no 30-byte Kordel.cfg after a first run"; fail=1; }
[ ! -e KordelOut.cfg ] || { echo "FAILED: KordelOut.cfg kept after a first run"; fail=1; }
cd .. || exit 1
rm -rf first

# The help texts fit 100 columns.
for args in "--help" "read --help" "monitor --help" "report --help"; do
  # shellcheck disable=SC2086
  wide="$("$cli" $args | awk 'length > 100')"
  [ -z "$wide" ] || { echo "FAILED: kordel-cli $args has lines wider than 100: $wide"; fail=1; }
done
wide="$("$sim" --help | awk 'length > 100')"
[ -z "$wide" ] || { echo "FAILED: pbxsim --help has lines wider than 100: $wide"; fail=1; }

exit $fail
