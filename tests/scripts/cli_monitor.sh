#!/usr/bin/env bash
# kordel-cli monitor against the pbxsim program: the polls, the log bytes, the stop signal and
# the failures the command reports. Arguments: the kordel-cli and pbxsim programs.
set -u
CLI=$1
SIM=$2
source "$(dirname "$0")/lib/sim.bash"

cd "$WORK" || exit 1
start_sim --model 4 --line-state groups --line-groups "44:5:2;46:3:1,44:17:0"

# Four polls with a record every second successful poll: two records, same as the window's.
"$CLI" monitor --port "$WORK/pbx" --interval 2 --count 4 --log "$WORK/rt.log" >out.txt 2>err.txt
rc=$?
[ $rc -eq 0 ] || fail "monitor exited with $rc: $(cat err.txt)"
[ "$(grep -c '^\*\*\*\*\*\* Дата и время считывания: ' out.txt)" -eq 4 ] || fail "not four snapshots"
grep -qx 'СЛ206(1)   АЛ217(0)   ' out.txt || fail "snapshot line missing on stdout"
iconv -f WINDOWS-1251 -t UTF-8 rt.log | tr -d '\r' >log.txt || fail "log is not Windows-1251"
[ "$(grep -c '^\*\*\*\*\*\* Дата и время считывания: [0-9][0-9]\.[0-9][0-9]\.[0-9]\{4\}   [0-9]\{1,2\}:[0-9][0-9]:[0-9][0-9]$' log.txt)" -eq 2 ] \
  || fail "expected two stamped records: $(cat log.txt)"
# Each record: stamp, the two lines, one empty line; every line ends in CR LF.
sed -n '2,4p' log.txt >record.txt
printf 'АЛ205(2)   \nСЛ206(1)   АЛ217(0)   \n\n' | cmp -s - record.txt || fail "record lines differ"
[ "$(tr -cd '\n' <rt.log | wc -c)" -eq "$(grep -c $'\r$' rt.log)" ] || fail "a line without CR LF"
printf 'АЛ205(2)   \r\n' | iconv -f UTF-8 -t WINDOWS-1251 >line.bin
grep -qF -f line.bin rt.log || fail "log bytes are not Windows-1251"

# A stop signal ends an endless monitor quickly and cleanly.
"$CLI" monitor --port "$WORK/pbx" >/dev/null 2>&1 &
pid=$!
sleep 1.5
kill -TERM $pid
for _ in $(seq 40); do kill -0 $pid 2>/dev/null || break; sleep 0.05; done
kill -0 $pid 2>/dev/null && { kill -KILL $pid; fail "SIGTERM did not stop the monitor within 2 s"; }
wait $pid
rc=$?
[ $rc -eq 0 ] || fail "stopped monitor exited with $rc"

# A log that cannot be written is reported and the exit status says so.
"$CLI" monitor --port "$WORK/pbx" --interval 1 --count 1 --log "$WORK/missing/rt.log" \
  >/dev/null 2>err.txt
rc=$?
[ $rc -eq 9 ] || fail "lost log record gave exit $rc"
grep -q 'Запись в файл не выполнена' err.txt || fail "lost log record not reported"

# A port that cannot be opened.
"$CLI" monitor --port "$WORK/no-such-device" --count 1 >/dev/null 2>err.txt
rc=$?
[ $rc -eq 3 ] || fail "missing port gave exit $rc"
grep -q 'Ошибка при открытии СОМ-порта.' err.txt || fail "no port message"

# A PBX of another family has no line-state query.
start_sim --model 7
"$CLI" monitor --port "$WORK/pbx" --count 1 >/dev/null 2>err.txt
rc=$?
[ $rc -eq 2 ] || fail "DL40 gave exit $rc"
grep -q 'Данная функция работает только с КТР160/400' err.txt || fail "no model warning"

echo "cli_monitor: ok"
