#!/usr/bin/env bash
# What a network between the collector and the PBX costs a read: pbxsim (at line speed) behind
# ser2net on 127.0.0.1, raw TCP and RFC 2217, read by kordel-cli with no added delay and with an
# added delay each way. The delay comes from netem in a network namespace's loopback where the
# kernel has netem; otherwise from bench/delay_relay.py (a relay on the same loopback that
# holds each byte DELAY ms each way), and the script says which. Each read is compared with a read of the
# pseudo-terminal itself (same seed and clock). Then larger delays, to find where reading stops
# working.
#
# Usage: bash bench/net_latency.sh [RECORDS] [DELAYS] [LIMIT_DELAYS]
#   defaults: 40 records, delays "0 10 50" ms each way, limit search "100 200 240 260 300" ms
#   KORDEL_CLI, KORDEL_SIM: the programs (default build-bench/..., else build/...)
set -u
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
pick() { for b in build-bench build; do [ -x "$top/$b/$1" ] && { echo "$top/$b/$1"; return; }; done; }
CLI=${KORDEL_CLI:-$(pick src/app/kordel-cli)}
SIM=${KORDEL_SIM:-$(pick tools/pbxsim/pbxsim)}
[ -x "$CLI" ] && [ -x "$SIM" ] || { echo "build kordel-cli and pbxsim first" >&2; exit 1; }
RECORDS=${1:-40}
DELAYS=${2:-0 10 50}
LIMITS=${3:-100 200 240 260 300}
# Everything runs in a network namespace of its own (as root), whose loopback carries the
# delay when the kernel has netem.
if [ -z "${KORDEL_BENCH_NS:-}" ] && [ "$(id -u)" -eq 0 ]; then
  ns=kordel-bench-$$
  if ip netns add "$ns" 2>/dev/null; then
    ip netns exec "$ns" ip link set lo up
    # ser2net looks its listening address up only for the address families configured, and a
    # namespace holding 127.0.0.1 alone has none: a second loopback address counts.
    ip netns exec "$ns" ip addr add 127.0.0.2/8 dev lo
    KORDEL_BENCH_NS=$ns ip netns exec "$ns" bash "$0" "$@"
    rc=$?
    ip netns del "$ns"
    exit $rc
  fi
fi
source "$top/tests/scripts/lib/sim.bash"
source "$top/tests/scripts/lib/ser2net.bash"
RELAY_PID=
stop_relay() {
  if [ -n "$RELAY_PID" ]; then kill "$RELAY_PID" 2>/dev/null; wait "$RELAY_PID" 2>/dev/null; fi
  RELAY_PID=
}
trap 'stop_relay; stop_ser2net; cleanup' EXIT
cd "$WORK" || exit 1
SIM_OPTS=(--model 4 --seed 3 --clock "2024-03-05 10:00:00" --line-speed)

delay_kind=relay
if [ -n "${KORDEL_BENCH_NS:-}" ] && tc qdisc add dev lo root netem delay 0ms 2>/dev/null; then
  delay_kind="netem on the loopback of namespace $KORDEL_BENCH_NS"
else
  echo "netem is not available in this kernel ($(uname -r)): the delay comes from delay_relay.py"
fi

# One read of N records through MODE with DELAY ms each way; prints a table row and sets ok.
read_once() {
  local mode=$1 delay=$2 n=$3 port start ms rc lines rate per exchanges
  start_sim "${SIM_OPTS[@]}" --records "$n"
  start_ser2net "$mode"
  port=$NET_PORT
  if [ "$delay_kind" != relay ]; then
    tc qdisc change dev lo root netem delay "${delay}ms"
  elif [ "$delay" -gt 0 ]; then
    rm -f relay.port
    python3 "$here/delay_relay.py" 0 "$NET_TCP" "$delay" relay.port &
    RELAY_PID=$!
    for _ in $(seq 100); do [ -e relay.port ] && break; sleep 0.05; done
    port=${NET_PORT%:*}:$(cat relay.port)
  fi
  rm -f net.txt wire.txt
  start=$(date +%s%3N)
  "$CLI" --trace wire.txt read --port "$port" --data net.txt --no-titles >/dev/null 2>err.txt
  rc=$?
  ms=$(($(date +%s%3N) - start))
  lines=$(wc -l <taken.txt)
  exchanges=$(grep -c '>' wire.txt)
  ok=no
  [ $rc -eq 0 ] && [ "$lines" -eq "$n" ] && cmp -s net.txt "local-$n.txt" && ok=yes
  rate=$(awk -v n="$lines" -v ms="$ms" 'BEGIN { printf "%.2f", (ms > 0 ? n * 1000 / ms : 0) }')
  per=$(awk -v e="$exchanges" -v n="$lines" 'BEGIN { printf "%.1f", (n > 0 ? e / n : 0) }')
  printf '| %s | %s | %d | %d | %.1f | %s | %s | %s |\n' "$mode" "$delay" "$n" "$lines" \
    "$(awk -v ms="$ms" 'BEGIN { print ms / 1000 }')" "$rate" "$per" \
    "$ok$([ $rc -eq 0 ] || echo ", exit $rc: $(tail -1 err.txt)")"
  stop_relay
  stop_ser2net
}

local_read() {
  local n=$1 start ms
  start_sim "${SIM_OPTS[@]}" --records "$n"
  start=$(date +%s%3N)
  "$CLI" read --port "$WORK/pbx" --data "local-$n.txt" --no-titles >/dev/null 2>err.txt ||
    fail "the local read failed: $(cat err.txt)"
  ms=$(($(date +%s%3N) - start))
  printf '| pseudo-terminal | - | %d | %d | %.1f | %s | - | reference |\n' "$n" "$(wc -l <taken.txt)" \
    "$(awk -v ms="$ms" 'BEGIN { print ms / 1000 }')" \
    "$(awk -v n="$n" -v ms="$ms" 'BEGIN { printf "%.2f", n * 1000 / ms }')"
}

echo "delay: $delay_kind${KORDEL_BENCH_NS:+ (in namespace $KORDEL_BENCH_NS)}; kordel-cli: $CLI"
echo
echo '| port | delay each way (ms) | records | taken | time (s) | records/s | request/echo round trips per record | same bytes as the local read |'
echo '|---|---|---|---|---|---|---|---|'
local_read "$RECORDS"
for delay in $DELAYS; do
  for mode in raw rfc2217; do read_once "$mode" "$delay" "$RECORDS"; done
done
echo
echo "Larger delays (5 records, RFC 2217):"
echo
echo '| port | delay each way (ms) | records | taken | time (s) | records/s | request/echo round trips per record | same bytes as the local read |'
echo '|---|---|---|---|---|---|---|---|'
local_read 5 >/dev/null
for delay in $LIMITS; do read_once rfc2217 "$delay" 5; done
