#!/usr/bin/env bash
# kordel-cli.exe, the Windows build, under Wine against the pbxsim program: the Win32 serial
# port on COM1, console control events, the alarm command through cmd.exe, Windows-1251 file
# names and UTF-8 output in binary mode. Every check compares with what the Linux build does
# with the same simulator options: the same files byte for byte, the same exit statuses and
# messages, the same time bounds.
# Arguments: kordel-cli.exe, the Linux kordel-cli, pbxsim, and a folder for the Wine prefix
# (made anew; default: beside kordel-cli.exe). Run by scripts/test.sh.
set -u
EXE=$(realpath "$1")
CLI=$(realpath "$2")
SIM=$(realpath "$3")
PREFIX_DIR=$(realpath -m "${4:-$(dirname "$EXE")/wine}")
source "$(dirname "$0")/lib/sim.bash"
cd "$WORK" || exit 1

now() { echo "$EPOCHREALTIME"; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }
part() {
  [ -n "${PART:-}" ] && echo "   $PART: $(since "$PART_START") s"
  PART=$1
  PART_START=$(now)
}
same() { cmp -s "$1" "$2" || fail "$3: $1 and $2 differ: $(diff "$1" "$2" 2>&1 | head -6)"; }

# --- The Wine prefix: headless, without the Mono and Gecko installers.
command -v wine >/dev/null && command -v wineserver >/dev/null || {
  echo "SKIP: Wine is not installed (scripts/setup.sh installs wine and wine64)"
  exit 0
}
export WINEPREFIX=$PREFIX_DIR/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
unset DISPLAY WAYLAND_DISPLAY
wine_cleanup() { wineserver -k 2>/dev/null; }
trap 'wine_cleanup; cleanup' EXIT
TOTAL_START=$(now)
part "Wine prefix"
rm -rf "$PREFIX_DIR"
mkdir -p "$PREFIX_DIR"
# A Russian locale makes Wine's ANSI code page Windows-1251, as on the Windows of the users.
# It is compiled into the prefix folder; without it the checks of Cyrillic names and of the
# regional formats are left out.
WINE_LOCALE=()
mkdir -p "$PREFIX_DIR/locale"
if localedef -i ru_RU -f UTF-8 "$PREFIX_DIR/locale/ru_RU.UTF-8" >/dev/null 2>&1; then
  WINE_LOCALE=(LOCPATH="$PREFIX_DIR/locale" LC_ALL=ru_RU.UTF-8)
else
  echo "   (no ru_RU locale could be compiled: Cyrillic names and the report are not checked)"
fi
# A program that hangs (a read time-out that never comes) fails the check instead of the run.
w() { env "${WINE_LOCALE[@]}" timeout 120 wine "$@"; }
if ! w wineboot --init >"$PREFIX_DIR/wineboot.log" 2>&1; then
  echo "SKIP: Wine cannot start here: $(tail -3 "$PREFIX_DIR/wineboot.log")"
  exit 0
fi
# COM1 is the simulator's link (pbxsim keeps $WORK/pbx pointing at its current device) and COM8
# a device that does not exist. Wine's mount manager makes dosdevices/com1 and com8 from this
# key when its server starts; a link made by hand would be replaced.
w reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$WORK/pbx" /f >/dev/null ||
  fail "the port mapping could not be written"
w reg add 'HKLM\Software\Wine\Ports' /v COM8 /t REG_SZ /d "$WORK/no-such-device" /f >/dev/null
wineserver -k
wineserver -w
# One server for the whole run, its log out of the programs' standard error.
env "${WINE_LOCALE[@]}" wineserver -p >"$PREFIX_DIR/wineserver.log" 2>&1
for _ in $(seq 100); do
  w cmd /c exit >/dev/null 2>&1
  [ "$(readlink "$WINEPREFIX/dosdevices/com1")" = "$WORK/pbx" ] && break
  sleep 0.1
done
# Never write to a device that is not ours (the pseudo-terminal of another program).
[ "$(readlink "$WINEPREFIX/dosdevices/com1")" = "$WORK/pbx" ] ||
  fail "COM1 is not mapped to the simulator: $(ls -l "$WINEPREFIX/dosdevices/")"

# --- 1. status on COM1, and the wire trace: the same identification as the Linux build.
part "status"
clock=(--clock "2024-03-05 10:20:30")  # a multiple of the 6 s time unit: the same for 6 s
start_sim --records 300 --capacity 400 --seed 7 "${clock[@]}"
"$CLI" status --port "$WORK/pbx" >status_linux.txt 2>status_linux.err ||
  fail "the Linux status failed: $(cat status_linux.err)"
w "$EXE" --trace trace.txt status --port COM1 >status_win.txt 2>status_win.err
rc=$?
[ $rc -eq 0 ] || fail "status exited with $rc: $(cat status_win.err)"
same status_linux.txt status_win.txt "status"
grep -q '^АТС: QTR160$' status_win.txt || fail "no model line: $(cat status_win.txt)"
grep -q ' > 00 < 00' trace.txt || fail "the trace has no handshake: $(head -3 trace.txt)"

# --- 2. A read of 300 records with title lines: data file, lines shown and progress line are
# the Linux build's bytes (UTF-8 with LF on the terminal, CR LF in the file).
part "read of 300 records"
start_sim --records 300 --capacity 400 --seed 7 "${clock[@]}"
"$CLI" read --port "$WORK/pbx" --data calls_linux.txt --titles >read_linux.out 2>read_linux.err ||
  fail "the Linux read failed: $(cat read_linux.err)"
start_sim --records 300 --capacity 400 --seed 7 "${clock[@]}"
w "$EXE" read --port COM1 --data calls_win.txt --titles >read_win.out 2>read_win.err
rc=$?
[ $rc -eq 0 ] || fail "read exited with $rc: $(cat read_win.err)"
same calls_linux.txt calls_win.txt "read"
same read_linux.out read_win.out "read, lines shown"
same read_linux.err read_win.err "read, progress"
[ "$(grep -c '^[0-9]' calls_win.txt)" -ge 250 ] || fail "too few call lines: $(wc -l <calls_win.txt)"
[ "$(wc -l <taken.txt)" -eq 300 ] || fail "the PBX handed over $(wc -l <taken.txt) records"

# --- 3. Windows-1251 names and the report and analysis commands.
if [ ${#WINE_LOCALE[@]} -gt 0 ]; then
  part "Cyrillic names, report, analyze"
  start_sim --records 40 --seed 3 "${clock[@]}"
  "$CLI" read --port "$WORK/pbx" --data cyr_linux.txt --no-titles >/dev/null 2>&1
  start_sim --records 40 --seed 3 "${clock[@]}"
  w "$EXE" read --port COM1 --data 'звонки за март.txt' --no-titles >/dev/null 2>err.txt ||
    fail "a read into a Cyrillic name failed: $(cat err.txt)"
  [ -f 'звонки за март.txt' ] || fail "the Cyrillic name did not arrive whole: $(ls)"
  same cyr_linux.txt 'звонки за март.txt' "a Cyrillic data file name"
  # The Russian regional formats of Wine are the Linux build's defaults. Each build works on
  # the same bytes under the same name, in a folder of its own.
  mkdir -p linux win
  cp calls_linux.txt linux/calls.txt
  cp calls_win.txt win/calls.txt
  reports=(calls.txt --calls calls.rep --lines lines.rep --trunks trunks.rep --sort-lines total)
  (cd linux && env -u LC_ALL -u LC_TIME -u LANG "$CLI" report "${reports[@]}" >report.out 2>&1 &&
    "$CLI" analyze calls.txt --format csv >analyze.csv 2>&1) ||
    fail "the Linux report or analysis failed: $(cat linux/report.out linux/analyze.csv)"
  (cd win && w "$EXE" report "${reports[@]}" >report.out 2>&1) ||
    fail "report failed: $(cat win/report.out)"
  (cd win && w "$EXE" analyze calls.txt --format csv >analyze.csv 2>../err.txt) ||
    fail "analyze failed: $(cat err.txt)"
  for f in calls.rep lines.rep trunks.rep report.out analyze.csv; do
    same "linux/$f" "win/$f" "report and analysis"
  done
fi
# This build writes no XLSX, and says so.
w "$EXE" analyze calls_win.txt --format xlsx --output calls.xlsx >/dev/null 2>err.txt
rc=$?
[ $rc -eq 2 ] || fail "--format xlsx exited with $rc"
grep -q 'xlsx' err.txt || fail "no message for --format xlsx: $(cat err.txt)"
[ ! -e calls.xlsx ] || fail "an XLSX file was written"
w "$EXE" analyze --help >help.txt 2>&1
grep -q -- '--format {text,csv,json} ' help.txt || fail "the help does not say XLSX is missing"
# Nor has it a calls database (no SQLite built for Windows): a read writes none by default
# (the progress above is the Linux build's), and a database asked for is refused.
w "$EXE" db status --db calls.sqlite >/dev/null 2>err.txt
rc=$?
[ $rc -eq 10 ] || fail "db status in a build without SQLite exited with $rc"
grep -q 'SQLite' err.txt || fail "no message for the missing database: $(cat err.txt)"

# --- 4. A port that cannot be opened: exit 3 and the Linux build's message.
part "port that cannot be opened"
KORDEL_COM8="$WORK/no-such-device" "$CLI" status --port COM8 >/dev/null 2>noport_linux.err
w "$EXE" status --port COM8 >/dev/null 2>noport_win.err
rc=$?
[ $rc -eq 3 ] || fail "a missing port gave exit $rc: $(cat noport_win.err)"
same noport_linux.err noport_win.err "a missing port"

# --- 5. A PBX that falls silent: the Win32 time-outs bound the wait as termios does on Linux.
# Identification gets no echo (exit 4); a read loses the PBX after some records (exit 7).
# Each failing handshake takes 11 reads of about 0.5 s and 10 pauses of 0.3 s (8.6 s).
silent() {  # name, expected exit, simulator options...
  local name=$1 want=$2 t rc lin win
  shift 2
  start_sim "$@"
  t=$(now)
  "$CLI" read --port "$WORK/pbx" --data "${name}_linux.txt" --no-titles >/dev/null \
    2>"${name}_linux.err"
  rc=$?
  lin=$(since "$t")
  [ $rc -eq "$want" ] || fail "$name: the Linux build exited with $rc, not $want"
  start_sim "$@"
  t=$(now)
  w "$EXE" read --port COM1 --data "${name}_win.txt" --no-titles >/dev/null 2>"${name}_win.err"
  rc=$?
  win=$(since "$t")
  [ $rc -eq "$want" ] || fail "$name: exit $rc, not $want: $(cat "${name}_win.err")"
  same "${name}_linux.err" "${name}_win.err" "$name"
  if [ -e "${name}_linux.txt" ] || [ -e "${name}_win.txt" ]; then
    same "${name}_linux.txt" "${name}_win.txt" "$name"
  fi
  # Wine itself takes up to a second or two to start.
  awk -v l="$lin" -v w="$win" 'BEGIN { exit !(w >= 8.0 && w <= l + 3.0) }' ||
    fail "$name: the read ended after $win s (Linux: $lin s)"
  echo "   $name: Linux $lin s, Wine $win s, exit $rc"
}
part "silent PBX"
silent silent_at_once 4 --records 20 --silent-after 0
silent silent_midway 7 --records 100 --silent-after 30
grep -q 'АТС не отвечает' silent_midway_win.err || fail "no message: $(cat silent_midway_win.err)"

# --- 6. Ctrl+C (Wine turns SIGINT into CTRL_C_EVENT) stops a continuous read cleanly, and the
# alarm command runs through cmd.exe with the KORDEL_ALARM_ variables (and no stale one).
part "Ctrl+C and the alarm command"
start_sim --records 400 --capacity 500 --seed 5 --line-speed
# Started as the wine process itself (env and the wine script exec), so that SIGINT reaches it.
env "${WINE_LOCALE[@]}" KORDEL_ALARM_STALE=1 wine "$EXE" read --port COM1 --data stopped.txt --no-titles --continuous \
  --alarm-command 'echo %KORDEL_ALARM_KIND% %KORDEL_ALARM_STATE%>>alarm.txt& if defined KORDEL_ALARM_TEXT echo text>>alarm.txt& if defined KORDEL_ALARM_STALE echo stale>>alarm.txt' \
  >/dev/null 2>stop.err &
pid=$!
sleep 2
kill -INT $pid
t=$(now)
for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.05; done
kill -0 $pid 2>/dev/null && { kill -KILL $pid; fail "Ctrl+C did not end the read within 5 s"; }
wait $pid
rc=$?
echo "   the read ended $(since "$t") s after Ctrl+C"
[ $rc -eq 0 ] || fail "the stopped read exited with $rc: $(cat stop.err)"
[ "$(wc -l <taken.txt)" -lt 400 ] || fail "all the records were taken: not stopped part-way"
# Hardware numbers of the taken records that are calls (the empty-slot pattern is refused), and
# of the call-record lines of the data file.
awk 'function hex(s,  i, n) { n = 0; for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789ABCDEF", substr(s, i, 1)) - 1; return n }
     $1 != "0F" || $2 != "FF" { print hex($7) + 256 * hex($8) }' taken.txt >want.txt
LC_ALL=C awk '/^[0-9]/ { s = substr($0, 34); sub(/\(.*/, "", s); print s + 0 }' stopped.txt >got.txt
taken=$(wc -l <want.txt)
lines=$(wc -l <got.txt)
[ "$taken" -gt 0 ] || fail "no record was taken before the stop"
# The last line may be a record delivered but not yet taken when the stop came.
head -n "$taken" got.txt | cmp -s want.txt - || fail "taken records missing after Ctrl+C"
[ "$lines" -le $((taken + 1)) ] || fail "$lines lines in the data file for $taken records taken"
grep -q "^Считано записей: $lines," stop.err || fail "no closing progress line: $(cat stop.err)"
for _ in $(seq 50); do [ -s alarm.txt ] && break; sleep 0.1; done
grep -q '^buffer-filling raised' alarm.txt || fail "the alarm command did not run: $(cat alarm.txt)"
grep -q '^text' alarm.txt || fail "KORDEL_ALARM_TEXT was not set"
grep -q 'stale' alarm.txt && fail "a KORDEL_ALARM_ variable of the caller reached the command"
part ""
echo "   Wine part: $(since "$TOTAL_START") s in all"
echo "PASS: kordel-cli.exe under Wine"
