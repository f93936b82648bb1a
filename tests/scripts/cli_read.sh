#!/usr/bin/env bash
# kordel-cli read against the pbxsim program: every record the PBX hands over reaches the data
# file exactly once and in order, reads append, and the failures are reported.
# Arguments: the kordel-cli and pbxsim programs.
set -u
CLI=$1
SIM=$2
source "$(dirname "$0")/lib/sim.bash"

# Hardware numbers of the taken records that are calls (the empty-slot pattern is refused).
taken_hw() {
  awk 'function hex(s,  i, n) { n = 0; for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789ABCDEF", substr(s, i, 1)) - 1; return n }
       { o = ($1 ~ /^@/) ? 1 : 0 }   # records of units 1 and 2 carry "@<unit> " first
       $(1 + o) != "0F" || $(2 + o) != "FF" { print hex($(7 + o)) + 256 * hex($(8 + o)) }' "$WORK/taken.txt"
}
# Hardware numbers of the call-record lines of the data file (title lines begin with a space).
file_hw() { LC_ALL=C awk '/^[0-9]/ { s = substr($0, 34); sub(/\(.*/, "", s); print s + 0 }' "$1"; }

cd "$WORK" || exit 1

# 1. A DL256 complex of three units with 120 records each, with title lines.
start_sim --model 2 --model-name 3xB --units 3 --records 120 --seed 7
"$CLI" read --port "$WORK/pbx" --data "$WORK/calls.txt" --titles >out.txt 2>err.txt
rc=$?
[ $rc -eq 0 ] || fail "read exited with $rc: $(cat err.txt)"
[ "$(wc -l <taken.txt)" -eq 360 ] || fail "the PBX handed over $(wc -l <taken.txt) records, not 360"
taken_hw >want.txt
file_hw calls.txt >got.txt
cmp -s want.txt got.txt || fail "data file differs from the records taken: $(diff want.txt got.txt | head)"
head -c 7 calls.txt | cmp -s - <(printf '       ') || fail "no header line first"
[ "$(grep -c $'\r$' calls.txt)" -eq "$(wc -l <calls.txt)" ] || fail "a line without CR LF"
[ "$(wc -l <calls.txt)" -eq $((2 + $(wc -l <want.txt))) ] || fail "unexpected lines in the data file"
grep -q "Считано записей: $(wc -l <want.txt)," err.txt ||
  fail "the progress line does not count the $(wc -l <want.txt) records alone: $(cat err.txt)"

# 2. A second read appends; an empty buffer adds only the title lines.
before=$(wc -l <calls.txt)
"$CLI" read --port "$WORK/pbx" --data "$WORK/calls.txt" --no-titles >/dev/null 2>err.txt
rc=$?
[ $rc -eq 0 ] || fail "empty read exited with $rc: $(cat err.txt)"
[ "$(wc -l <calls.txt)" -eq "$before" ] || fail "an empty read changed the data file"

# 3. A data file that cannot be written stops the read at once: the record stays in the PBX.
start_sim --model 4 --records 20 --seed 3
"$CLI" read --port "$WORK/pbx" --data "$WORK/missing/calls.txt" --no-titles >out.txt 2>err.txt
rc=$?
[ $rc -eq 6 ] || fail "unwritable data file gave exit $rc"
grep -q 'Не удалось записать строку в файл данных' err.txt || fail "no message: $(cat err.txt)"
[ "$(wc -l <out.txt)" -eq 1 ] || fail "the unsaved line was not shown exactly once"
[ ! -s taken.txt ] || fail "a record was taken from the PBX although it could not be saved"
"$CLI" read --port "$WORK/pbx" --data "$WORK/calls2.txt" --no-titles >/dev/null 2>err.txt \
  || fail "the read after the failure did not succeed: $(cat err.txt)"
[ "$(wc -l <taken.txt)" -eq 20 ] || fail "not every record was taken on the second read"
taken_hw >want.txt
file_hw calls2.txt >got.txt
cmp -s want.txt got.txt || fail "records lost or doubled after a failed write"

# 4. SIGTERM stops a continuous read between records; nothing taken is missing from the file.
start_sim --model 4 --records 40 --seed 5 --line-speed
"$CLI" read --port "$WORK/pbx" --data "$WORK/calls3.txt" --no-titles --continuous >/dev/null 2>err.txt &
pid=$!
sleep 1.5
kill -TERM $pid
for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.05; done
kill -0 $pid 2>/dev/null && { kill -KILL $pid; fail "SIGTERM did not stop the read within 5 s"; }
wait $pid
rc=$?
[ $rc -eq 0 ] || fail "stopped read exited with $rc: $(cat err.txt)"
taken_hw >want.txt
file_hw calls3.txt >got.txt
# The last line may be a record delivered but not yet taken when the stop came.
head -n "$(wc -l <want.txt)" got.txt | cmp -s want.txt - || fail "taken records missing after a stop"
[ "$(wc -l <got.txt)" -le $(($(wc -l <want.txt) + 1)) ] || fail "extra lines after a stop"

# 5. A noisy line: damaged record replies and lost handshake echoes (the in-process
# fault-injection tests cover the other faults). One continuous read (one link) runs until the
# buffer is empty; every record arrives once, in order, and no line is one the PBX never sent.
start_sim --model 4 --records 30 --seed 11 --next-checksum 0.3 --first-checksum 0.3 \
  --drop-echo 0.02
"$CLI" read --port "$WORK/pbx" --data "$WORK/calls4.txt" --no-titles --continuous \
  >/dev/null 2>err.txt &
pid=$!
for _ in $(seq 600); do [ "$(wc -l <taken.txt)" -ge 30 ] && break; sleep 0.1; done
sleep 1
kill -TERM $pid
wait $pid
[ "$(wc -l <taken.txt)" -eq 30 ] || fail "noisy line: only $(wc -l <taken.txt) of 30 records taken in 60 s"
taken_hw >want.txt
file_hw calls4.txt >got.txt
cmp -s want.txt got.txt || fail "noisy line: records lost, doubled or damaged: $(diff want.txt got.txt | head)"

# 6. No data file, and a port that cannot be opened.
printf 'TARIF_FNAME=\r\nREALTIME_FNAME=\r\nAUTO=' >KordelOut.cfg
"$CLI" read --port "$WORK/pbx" >/dev/null 2>err.txt
rc=$?
[ $rc -eq 5 ] || fail "no data file gave exit $rc"
"$CLI" read --port "$WORK/none" --data x.txt >/dev/null 2>err.txt
rc=$?
[ $rc -eq 3 ] || fail "missing port gave exit $rc"
grep -q 'Ошибка при открытии СОМ-порта.' err.txt || fail "no port message"

# 7. The PBX hangs up while it is being identified: a message and exit 4, not an abort.
for cmd in "read --data $WORK/calls5.txt" status; do
  start_sim --model 4 --records 5 --hangup-after 1
  # shellcheck disable=SC2086
  "$CLI" $cmd --port "$WORK/pbx" >/dev/null 2>err.txt
  rc=$?
  [ $rc -eq 4 ] || fail "$cmd: hang-up during identification gave exit $rc: $(cat err.txt)"
  grep -q 'Ошибка при работе с СОМ-портом' err.txt || fail "$cmd: no port message: $(cat err.txt)"
  [ ! -s "$WORK/calls5.txt" ] || fail "$cmd: lines written although nothing was read"
done

echo "cli_read: ok"
