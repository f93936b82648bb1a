#!/usr/bin/env bash
# kordel-cli read meeting its environment: a port that goes away during a continuous read, a
# file-size limit, a standard output that closes, SIGHUP, and faults the messages must name.
# Every record the PBX hands over stays in the data file exactly once.
# Arguments: the kordel-cli and pbxsim programs.
set -u
CLI=$1
SIM=$2
source "$(dirname "$0")/lib/sim.bash"

# Hardware numbers of the taken call records, and of the call-record lines of a data file.
taken_hw() {
  awk 'function hex(s,  i, n) { n = 0; for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789ABCDEF", substr(s, i, 1)) - 1; return n }
       $1 != "0F" || $2 != "FF" { print hex($7) + 256 * hex($8) }' "$WORK/taken.txt"
}
file_hw() { LC_ALL=C awk '/^[0-9]/ { s = substr($0, 34); sub(/\(.*/, "", s); print s + 0 }' "$1"; }
same_as_taken() {
  taken_hw >"$WORK/want.txt"
  file_hw "$1" >"$WORK/got.txt"
  cmp -s "$WORK/want.txt" "$WORK/got.txt" ||
    fail "$2: the data file is not the records taken: $(diff "$WORK/want.txt" "$WORK/got.txt" | head -5)"
}
stop_read() {
  kill -"$2" "$1"
  for _ in $(seq 200); do kill -0 "$1" 2>/dev/null || break; sleep 0.05; done
  kill -0 "$1" 2>/dev/null && { kill -KILL "$1"; fail "SIG$2 did not end the read within 10 s"; }
  wait "$1"
}
cd "$WORK" || exit 1

# 1. The line hangs up while the buffer is empty, and the device comes back 4 s later under the
# same name: the continuous read says so, waits between tries, reopens and goes on.
start_sim --model 4 --records 3 --hangup-after 20 --come-back-after-ms 4000 --calls-per-minute 40
"$CLI" read --port "$WORK/pbx" --data calls1.txt --no-titles --continuous >/dev/null 2>err.txt &
pid=$!
for _ in $(seq 300); do grep -q 'восстановлена' err.txt && break; sleep 0.1; done
grep -q 'Ошибка при работе с СОМ-портом' err.txt || fail "the hang-up was not reported: $(cat err.txt)"
grep -q 'Повтор через' err.txt || fail "no retry was announced: $(cat err.txt)"
grep -q 'Связь с АТС восстановлена' err.txt || fail "the read did not come back: $(cat err.txt)"
[ "$(grep -c 'Повтор через' err.txt)" -le 8 ] || fail "a line for every try: $(cat err.txt)"
for _ in $(seq 200); do [ "$(wc -l <taken.txt)" -ge 5 ] && break; sleep 0.1; done
stop_read $pid TERM
[ $? -eq 0 ] || fail "the continuous read did not end cleanly: $(cat err.txt)"
[ "$(wc -l <taken.txt)" -ge 5 ] || fail "no calls were read after the port came back"
same_as_taken calls1.txt "hang-up and come-back"

# 2. A file-size limit strikes part-way: a clear failure, no piece of a line left behind, the
# counters of what was saved and what stays; the next read saves the rest, each call once.
start_sim --model 4 --records 40 --seed 9
head -c 3000 /dev/zero | tr '\0' 'x' >calls2.txt
printf '\r\n' >>calls2.txt
prlimit --fsize=6000 "$CLI" read --port "$WORK/pbx" --data calls2.txt --no-titles >/dev/null 2>err.txt
rc=$?
[ $rc -eq 6 ] || fail "file-size limit gave exit $rc: $(cat err.txt)"
grep -q 'Не удалось записать строку в файл данных' err.txt || fail "no message: $(cat err.txt)"
[ "$(tail -c 2 calls2.txt | od -An -c | tr -d ' ')" = '\r\n' ] || fail "a piece of a line was left"
saved=$(file_hw calls2.txt | wc -l)
grep -q "Считано записей: $saved, в буфере: $((40 - saved))," err.txt ||
  fail "the counters do not match $saved saved: $(cat err.txt)"
"$CLI" read --port "$WORK/pbx" --data calls2.txt --no-titles >/dev/null 2>err.txt ||
  fail "the read after the limit failed: $(cat err.txt)"
[ "$(wc -l <taken.txt)" -eq 40 ] || fail "not every record was taken"
same_as_taken calls2.txt "file-size limit"

# 3. Whatever reads the standard output goes away: a message, not a silent death; what was
# shown is saved and taken, the rest stays in the PBX for the next read.
start_sim --model 4 --records 120 --seed 4
"$CLI" read --port "$WORK/pbx" --data calls3.txt --no-titles 2>err.txt | head -1 >/dev/null
rc=${PIPESTATUS[0]}
[ $rc -eq 9 ] || fail "a closed standard output gave exit $rc: $(cat err.txt)"
grep -q 'Стандартный вывод закрыт' err.txt || fail "no message for the closed output: $(cat err.txt)"
same_as_taken calls3.txt "closed output"
"$CLI" read --port "$WORK/pbx" --data calls3.txt --no-titles >/dev/null 2>err.txt ||
  fail "the read after the closed output failed: $(cat err.txt)"
[ "$(wc -l <taken.txt)" -eq 120 ] || fail "closed output: not every record taken afterwards"
same_as_taken calls3.txt "closed output, then a full read"

# 4. SIGHUP ends a continuous read as a failure with a message; nothing is lost or doubled.
start_sim --model 4 --records 60 --seed 6 --line-speed
"$CLI" read --port "$WORK/pbx" --data calls4.txt --no-titles --continuous >/dev/null 2>err.txt &
pid=$!
sleep 1
stop_read $pid HUP
rc=$?
[ $rc -eq 1 ] || fail "SIGHUP gave exit $rc: $(cat err.txt)"
grep -q 'SIGHUP' err.txt || fail "no message for SIGHUP: $(cat err.txt)"
same_as_taken calls4.txt "SIGHUP"

# 5. The message names what was wrong, not "the PBX does not answer".
start_sim --model 99
"$CLI" status --port "$WORK/pbx" >/dev/null 2>err.txt
rc=$?
[ $rc -eq 4 ] || fail "an unsupported model gave exit $rc"
grep -q 'код модели 99' err.txt || fail "the unsupported model is not named: $(cat err.txt)"
grep -q 'не отвечает' err.txt && fail "an answering PBX was called silent: $(cat err.txt)"

echo "cli_read_hazards: ok"
