#!/usr/bin/env bash
# Exactly once across restarts: kordel-cli read --continuous killed with SIGKILL (a power cut,
# as far as the PBX can tell) and stopped with SIGTERM at random moments, over and over, while
# calls arrive; then one read to the end. The data file must hold every record the PBX handed
# over exactly once, in order, and nothing else. KORDEL_KILLS sets the number of SIGKILLs and of
# SIGTERMs (default 40 each; the long run uses 300). KORDEL_NET_MODE=raw or rfc2217 reads
# through ser2net in front of the simulator instead (cli_exactly_once_net.sh).
# Arguments: the kordel-cli and pbxsim programs.
set -u
CLI=$1
SIM=$2
source "$(dirname "$0")/lib/sim.bash"
KILLS=${KORDEL_KILLS:-40}
NET_MODE=${KORDEL_NET_MODE:-}
[ -z "$NET_MODE" ] || source "$(dirname "$0")/lib/ser2net.bash"

# "hh:mm:ss hw" of the taken call records (the empty-slot pattern is refused), decoded here
# from the record bytes, and of the call-record lines of the data file.
taken_keys() {
  awk 'function hex(s,  i, n) { n = 0; for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789ABCDEF", substr(s, i, 1)) - 1; return n }
       $1 != "0F" || $2 != "FF" {
         t = (hex($3) + 256 * hex($4)) * 6 % 86400
         printf "%02d:%02d:%02d %d\n", int(t / 3600), int(t / 60) % 60, t % 60, hex($7) + 256 * hex($8)
       }' "$WORK/taken.txt"
}
file_keys() {
  LC_ALL=C awk '/^[0-9]/ { s = substr($0, 34); sub(/\(.*/, "", s); print substr($0, 12, 8), s + 0 }' "$1"
}
# After a stop the file holds the records taken, in order, and at most one more: the record a
# SIGKILL caught between storing it and the request that takes it (SIGTERM finishes it).
check() {
  taken_keys >"$WORK/want.txt"
  file_keys "$WORK/calls.txt" >"$WORK/got.txt"
  local want got
  want=$(wc -l <"$WORK/want.txt")
  got=$(wc -l <"$WORK/got.txt")
  head -n "$want" "$WORK/got.txt" | cmp -s "$WORK/want.txt" - ||
    fail "$1: a record taken is missing or doubled: $(diff "$WORK/want.txt" "$WORK/got.txt" | head -4)"
  [ "$got" -le $((want + $2)) ] || fail "$1: $got lines for $want records taken"
}
rnd_sleep() { sleep "0.$(printf '%03d' $((RANDOM % 900 + 30)))"; }

cd "$WORK" || exit 1
start_sim --model 4 --records 150 --seed 21 --line-speed --calls-per-minute 240
PORT=$WORK/pbx
if [ -n "$NET_MODE" ]; then
  start_ser2net "$NET_MODE"
  PORT=$NET_PORT
fi
for i in $(seq "$KILLS"); do
  "$CLI" read --port "$PORT" --data "$WORK/calls.txt" --no-titles --continuous \
    >/dev/null 2>>err.txt &
  pid=$!
  rnd_sleep
  kill -KILL $pid 2>/dev/null
  wait $pid 2>/dev/null
  check "SIGKILL $i" 1
done
for i in $(seq "$KILLS"); do
  "$CLI" read --port "$PORT" --data "$WORK/calls.txt" --no-titles --continuous \
    >/dev/null 2>>err.txt &
  pid=$!
  rnd_sleep
  kill -TERM $pid 2>/dev/null
  wait $pid
  rc=$?
  # 143: the signal came in the first milliseconds, before the program had installed its
  # handlers (the sanitizer runtime starting, under load): it ended before opening the port.
  [ $rc -eq 0 ] || [ $rc -eq 143 ] || fail "SIGTERM $i: exit $rc: $(tail -3 err.txt)"
  check "SIGTERM $i" 0
done
# One read to the end takes what is left.
"$CLI" read --port "$PORT" --data "$WORK/calls.txt" --no-titles >/dev/null 2>>err.txt ||
  fail "the final read failed: $(tail -3 err.txt)"
check "the final read" 0
echo "cli_exactly_once: $KILLS SIGKILLs and $KILLS SIGTERMs${NET_MODE:+ through ser2net ($NET_MODE)}, $(wc -l <want.txt) calls, each once"
