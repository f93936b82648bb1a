#!/usr/bin/env bash
# kordel-cli reading a PBX over the network: ser2net (raw TCP, and Telnet with RFC 2217 COM port
# control) in front of pbxsim's pseudo-terminal. A read through either writes the same data-file
# bytes as a read of the pseudo-terminal itself; the network faults end a read within the local
# port's bounds with a message that names them; a continuous read outlives a dropped connection
# and a restarted server, with its back-off, and takes every record once.
# Arguments: the kordel-cli and pbxsim programs.
set -u
CLI=$1
SIM=$2
source "$(dirname "$0")/lib/sim.bash"
source "$(dirname "$0")/lib/ser2net.bash"

# "hh:mm:ss hw" of the taken call records and of the data file's call lines (as in
# cli_exactly_once.sh).
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
# Every record taken is in the file once, in order, and nothing else.
check_once() {
  taken_keys >"$WORK/want.txt"
  file_keys "$1" >"$WORK/got.txt"
  cmp -s "$WORK/want.txt" "$WORK/got.txt" ||
    fail "$2: records lost or doubled: $(diff "$WORK/want.txt" "$WORK/got.txt" | head -4)"
}
now_ms() { date +%s%3N; }
# Runs kordel-cli with a stop watch: sets rc and ms.
timed() {
  local start
  start=$(now_ms)
  "$CLI" "$@" >out.txt 2>err.txt
  rc=$?
  ms=$(($(now_ms) - start))
}
# Key 0xFF: the masked unit number of the unit selection is 0xFF, and so is every masked 0x00.
SIM_OPTS=(--model 4 --records 60 --seed 11 --key 0xFF --clock "2024-03-05 10:00:00" --line-speed)

cd "$WORK" || exit 1

# 1. The same records through the pseudo-terminal, raw TCP and RFC 2217: the same bytes.
start_sim "${SIM_OPTS[@]}"
"$CLI" read --port "$WORK/pbx" --data local.txt --titles >/dev/null 2>err.txt ||
  fail "the local read failed: $(cat err.txt)"
check_once local.txt "the local read"
for mode in raw rfc2217; do
  start_sim "${SIM_OPTS[@]}"
  start_ser2net "$mode"
  "$CLI" read --port "$NET_PORT" --data "$mode.txt" --titles >/dev/null 2>err.txt ||
    fail "the read through $NET_PORT failed: $(cat err.txt)"
  # The header line holds the PBX clock, which runs: the call lines must match byte for byte.
  cmp -s <(tail -n +3 local.txt) <(tail -n +3 "$mode.txt") ||
    fail "$mode: the data file differs from the local read: $(diff local.txt "$mode.txt" | head -4)"
  check_once "$mode.txt" "$mode"
  # The port name through the environment, as the service's environment file gives it.
  KORDEL_COM2=$NET_PORT "$CLI" status --port COM2 >out.txt 2>err.txt ||
    fail "$mode: status through KORDEL_COM2 failed: $(cat err.txt)"
  grep -q 'В буфере : 0' out.txt || fail "$mode: status after the read: $(cat out.txt)"
done
# The line-state request carries the data byte 0xFF: with key 0 it travels as 0xFF, and so does
# its checksum, both doubled on the way to a Telnet server.
start_sim --model 4 --key 0 --line-state groups --line-groups "44:5:2;46:3:1,44:17:0"
start_ser2net rfc2217
"$CLI" monitor --port "$NET_PORT" --interval 1 --count 2 >out.txt 2>err.txt ||
  fail "monitor through $NET_PORT: $(cat err.txt)"
grep -qx 'СЛ206(1)   АЛ217(0)   ' out.txt || fail "monitor through $NET_PORT: $(cat out.txt)"

# 2. Open failures: a refused connection, a name that does not resolve, a bad name.
stop_ser2net
timed status --port "socket://127.0.0.1:$NET_TCP"
times="refused ${ms} ms"
[ $rc -eq 3 ] || fail "a refused connection gave exit $rc"
grep -q "Сервер порта socket://127.0.0.1:$NET_TCP отказал в соединении" err.txt ||
  fail "no refusal message: $(cat err.txt)"
timed read --port rfc2217://kordel-no-such-host.invalid:2001 --data x.txt
times="$times, unknown name ${ms} ms"
[ $rc -eq 3 ] || fail "an unknown name gave exit $rc"
grep -q 'Имя kordel-no-such-host.invalid не найдено' err.txt || fail "no name message: $(cat err.txt)"
timed status --port socket://127.0.0.1
[ $rc -eq 3 ] && grep -q 'неверно: нужно socket://УЗЕЛ:ПОРТ' err.txt ||
  fail "a name without a port: exit $rc, $(cat err.txt)"

# 3. A server that accepts and never answers. Raw: the PBX seems silent (the handshake's
# 8.6 s); RFC 2217: no COM port control within the 5 s of the open.
python3 - "$WORK/silent.port" <<'EOF' &
import socket, sys, time
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(8)
open(sys.argv[1] + ".tmp", "w").write(str(s.getsockname()[1]))
__import__("os").rename(sys.argv[1] + ".tmp", sys.argv[1])
held = []
end = time.time() + 120
while time.time() < end:
    s.settimeout(end - time.time())
    try:
        held.append(s.accept()[0])
    except OSError:
        break
EOF
SILENT_PID=$!
for _ in $(seq 100); do [ -e silent.port ] && break; sleep 0.05; done
silent=$(cat silent.port)
timed status --port "socket://127.0.0.1:$silent"
times="$times, silent raw server ${ms} ms"
[ $rc -eq 4 ] || fail "a silent raw server gave exit $rc"
grep -q "АТС не отвечает. Сервер порта socket://127.0.0.1:$silent принимает соединение" err.txt ||
  fail "no silence message: $(cat err.txt)"
[ $ms -ge 8000 ] && [ $ms -le 12000 ] || fail "a silent raw server took $ms ms (the handshake's 8.6 s)"
timed status --port "rfc2217://127.0.0.1:$silent"
times="$times, silent Telnet server ${ms} ms"
[ $rc -eq 3 ] || fail "a silent Telnet server gave exit $rc"
grep -q "Сервер порта rfc2217://127.0.0.1:$silent не отвечает." err.txt ||
  fail "no silence message: $(cat err.txt)"
[ $ms -ge 4800 ] && [ $ms -le 7000 ] || fail "a silent Telnet server took $ms ms (5 s)"
kill "$SILENT_PID" 2>/dev/null
wait "$SILENT_PID" 2>/dev/null

# 4. The connection dropped in the middle of a read: the read ends at once with a message, the
# records stay in the PBX, and the next read takes the rest, each once.
start_sim --model 4 --records 150 --seed 12 --line-speed
start_ser2net raw
"$CLI" read --port "$NET_PORT" --data dropped.txt --no-titles >/dev/null 2>err.txt &
pid=$!
sleep 2
kill_ser2net
start=$(now_ms)
wait $pid
rc=$?
ms=$(($(now_ms) - start))
times="$times, dropped connection ${ms} ms"
[ $rc -eq 7 ] || fail "a dropped connection gave exit $rc: $(cat err.txt)"
grep -q "Сервер порта $NET_PORT закрыл соединение." err.txt || fail "no drop message: $(cat err.txt)"
# As a pseudo-terminal that hangs up: at most the fifteen tries of a record request, 0.1 s apart.
[ $ms -le 3000 ] || fail "the read took $ms ms to end after the dropped connection"
taken=$(wc -l <taken.txt)
[ "$taken" -gt 0 ] && [ "$taken" -lt 150 ] || fail "$taken records taken before the drop"
start_ser2net raw "$NET_TCP"
"$CLI" read --port "$NET_PORT" --data dropped.txt --no-titles >/dev/null 2>err.txt ||
  fail "the read after the drop failed: $(cat err.txt)"
check_once dropped.txt "a dropped connection"
[ "$(wc -l <taken.txt)" -eq 150 ] || fail "not all 150 records were taken after the drop"

# 5. A continuous read through a server that restarts, and is gone for a while: the read says
# so, waits (1 s, 2 s, 4 s, ...), connects again and goes on, with calls arriving.
start_sim --model 4 --records 40 --seed 13 --line-speed --calls-per-minute 120
start_ser2net rfc2217
"$CLI" read --port "$NET_PORT" --data restart.txt --no-titles --continuous >/dev/null 2>err.txt &
pid=$!
sleep 1.5
kill_ser2net            # the server dies in the middle of the read
sleep 6.5               # refused meanwhile: tries after 1, 2 and 4 s
start_ser2net rfc2217 "$NET_TCP"
# Waits up to $2 s for the link to have come back $1 times.
back() {
  for _ in $(seq $(($2 * 10))); do
    [ "$(grep -c 'Связь с АТС восстановлена.' err.txt)" -ge "$1" ] && return 0
    sleep 0.1
  done
}
back 1 30
sleep 1
stop_ser2net            # a clean stop of the server; back at once
start_ser2net rfc2217 "$NET_TCP"
back 2 70
sleep 2
kill -TERM $pid
wait $pid
rc=$?
[ $rc -eq 0 ] || fail "the continuous read ended with $rc: $(tail -5 err.txt)"
[ "$(grep -c 'Связь с АТС восстановлена.' err.txt)" -ge 2 ] ||
  fail "the link did not come back twice: $(cat err.txt)"
grep -q "закрыл соединение\|не отвечает" err.txt || fail "the drop was not said: $(cat err.txt)"
grep -q "отказал в соединении.* Повтор через 4 с." err.txt ||
  fail "the waits did not grow while the server was gone: $(cat err.txt)"
refusals=$(grep -c 'отказал в соединении' err.txt)
[ "$refusals" -le 4 ] || fail "$refusals refusal messages: the retries do not back off"
check_once restart.txt "a restarted server"
[ -z "${KORDEL_SHOW:-}" ] || cat err.txt
echo "cli_network: $times"
echo "cli_network: raw and RFC 2217 reads equal to the local one; refused, unknown, silent, dropped and restarted servers handled; $(wc -l <want.txt) calls once each"
