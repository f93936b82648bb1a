#!/usr/bin/env bash
# Soak: `kordel-cli read --continuous` against the pbxsim program with calls arriving all the
# time, for a long while. Every few seconds the reader's resident memory (VmRSS) and its open
# file descriptors are sampled. At the end the reader is stopped with SIGTERM, and the data
# file is checked against the simulator's log of taken records: every call exactly once and
# in order (the last line may be a call handed over but not yet taken when the stop came).
# Memory and descriptors must stay flat.
#
#   scripts/soak.sh [--minutes N | --seconds N] [--cli PATH] [--sim PATH] [--calls-per-minute N]
#                   [--interval S] [--keep DIR]
# Defaults: 30 minutes, build-rel/ programs, 600 calls a minute, a sample every 5 s.
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_TOTAL=1800
CLI=
SIM=
RATE=600
INTERVAL=5
KEEP=
while [ $# -gt 0 ]; do
  case $1 in
    --minutes) SECONDS_TOTAL=$(($2 * 60)); shift 2 ;;
    --seconds) SECONDS_TOTAL=$2; shift 2 ;;
    --cli) CLI=$2; shift 2 ;;
    --sim) SIM=$2; shift 2 ;;
    --calls-per-minute) RATE=$2; shift 2 ;;
    --interval) INTERVAL=$2; shift 2 ;;
    --keep) KEEP=$2; shift 2 ;;
    *) echo "soak: unknown option $1" >&2; exit 2 ;;
  esac
done
for dir in build-rel build-asan build; do
  [ -z "$CLI" ] && [ -x "$ROOT/$dir/src/app/kordel-cli" ] && CLI=$ROOT/$dir/src/app/kordel-cli
  [ -z "$SIM" ] && [ -x "$ROOT/$dir/tools/pbxsim/pbxsim" ] && SIM=$ROOT/$dir/tools/pbxsim/pbxsim
done
[ -x "$CLI" ] && [ -x "$SIM" ] || { echo "soak: kordel-cli or pbxsim not found (--cli, --sim)" >&2; exit 2; }
CLI=$(realpath "$CLI")
SIM=$(realpath "$SIM")

# Under AddressSanitizer freed memory is held back in a quarantine of up to 256 MB, which
# makes the resident size climb for as long as the program runs; without it the samples show
# the program's own use. (No effect on a build without the sanitizer.)
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=0:thread_local_quarantine_size_kb=0"

WORK=${KEEP:-$(mktemp -d)}
mkdir -p "$WORK"
SIM_PID=
CLI_PID=
cleanup() {
  [ -n "$CLI_PID" ] && kill "$CLI_PID" 2>/dev/null
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null
  wait 2>/dev/null
  [ -z "$KEEP" ] && rm -rf "$WORK"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$SIM" --link "$WORK/pbx" --taken "$WORK/taken.txt" --model 4 --records 50 --seed 17 \
  --capacity 1000 --calls-per-minute "$RATE" --line-speed >"$WORK/sim.out" 2>&1 &
SIM_PID=$!
for _ in $(seq 100); do [ -e "$WORK/pbx" ] && break; sleep 0.05; done
[ -e "$WORK/pbx" ] || fail "the simulator did not start"

# Run from the work directory so that the reader's configuration files land there.
(cd "$WORK" && exec "$CLI" read --port "$WORK/pbx" --data "$WORK/calls.txt" --no-titles \
  --continuous >/dev/null 2>"$WORK/cli.err") &
CLI_PID=$!

sample() {  # elapsed-seconds rss-kB fds
  local rss fds
  rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$CLI_PID/status" 2>/dev/null)
  fds=$(ls "/proc/$CLI_PID/fd" 2>/dev/null | wc -l)
  [ -n "$rss" ] && echo "$1 $rss $fds" >>"$WORK/samples.txt"
}
: >"$WORK/samples.txt"
start=$(date +%s)
while :; do
  now=$(date +%s)
  elapsed=$((now - start))
  kill -0 "$CLI_PID" 2>/dev/null || fail "the reader ended by itself after ${elapsed} s: $(cat "$WORK/cli.err")"
  sample "$elapsed"
  [ "$elapsed" -ge "$SECONDS_TOTAL" ] && break
  sleep "$INTERVAL"
done

kill -TERM "$CLI_PID"
for _ in $(seq 200); do kill -0 "$CLI_PID" 2>/dev/null || break; sleep 0.05; done
kill -0 "$CLI_PID" 2>/dev/null && { kill -KILL "$CLI_PID"; fail "SIGTERM did not stop the reader within 10 s"; }
wait "$CLI_PID"
rc=$?
CLI_PID=
[ "$rc" -eq 0 ] || fail "the reader exited with $rc: $(cat "$WORK/cli.err")"

# Calls as "hh:mm:ss hardware dialed", from the taken log (hex bytes) and from the data file.
# The start time is time units x 6 s (the simulator's QTR160 reports a 6-second unit).
awk 'function hex(s,  i, n) { n = 0; for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789ABCDEF", substr(s, i, 1)) - 1; return n }
     $1 == "0F" && $2 == "FF" { next }
     { t = (hex($3) + 256 * hex($4)) * 6 % 86400
       d = ""
       for (i = 12; i <= NF; i++) {
         b = hex($i)
         split((int(b / 16)) " " (b % 16), nib, " ")
         for (k = 1; k <= 2; k++) if (nib[k] != 0) d = d substr("?1234567890*#PAT", nib[k] + 1, 1)
       }
       printf "%02d:%02d:%02d %d %s\n", int(t / 3600), int(t / 60) % 60, t % 60, hex($7) + 256 * hex($8), d }' \
  "$WORK/taken.txt" >"$WORK/want.txt"
LC_ALL=C awk '{ sub(/\r$/, "") } /^[0-9]/ { hw = substr($0, 34); sub(/\(.*/, "", hw)
     rest = $0; sub(/^[^)]*\)/, "", rest); n = split(rest, f, " ")
     printf "%s %d %s\n", substr($0, 12, 8), hw + 0, (n >= 2 ? f[2] : "") }' "$WORK/calls.txt" >"$WORK/got.txt"

taken=$(wc -l <"$WORK/want.txt")
saved=$(wc -l <"$WORK/got.txt")
[ "$taken" -gt 0 ] || fail "no record was taken"
head -n "$taken" "$WORK/got.txt" | cmp -s "$WORK/want.txt" - ||
  fail "data file differs from the records taken: $(diff "$WORK/want.txt" "$WORK/got.txt" | head -5)"
[ "$saved" -le $((taken + 1)) ] || fail "$((saved - taken)) lines more than records taken"
dups=$(sort "$WORK/got.txt" | uniq -d | wc -l)

# Memory and descriptors: the first sample after 10 % of the run (start-up allocations done)
# against the last and the largest. The reader opens the data file for every line it saves,
# so a sample may catch one descriptor more for a moment; a leak shows instead as a count that
# never comes back down. The settled count is the smallest after the first 10 %, the later one
# the smallest in the last third of the run.
skip=$((SECONDS_TOTAL / 10))
read -r first_rss < <(awk -v skip="$skip" '$1 >= skip { print $2; exit }' "$WORK/samples.txt")
last_rss=$(tail -n 1 "$WORK/samples.txt" | awk '{ print $2 }')
max_rss=$(awk 'm < $2 { m = $2 } END { print m }' "$WORK/samples.txt")
first_fd=$(awk -v skip="$skip" '$1 >= skip && (m == "" || $3 < m) { m = $3 } END { print m }' "$WORK/samples.txt")
late_fd=$(awk -v from="$((SECONDS_TOTAL * 2 / 3))" '$1 >= from && (m == "" || $3 < m) { m = $3 } END { print m }' "$WORK/samples.txt")
max_fd=$(awk -v skip="$skip" '$1 >= skip && m < $3 { m = $3 } END { print m }' "$WORK/samples.txt")
samples=$(wc -l <"$WORK/samples.txt")
lost=$(grep -o 'recordsLost=[0-9]*' "$WORK/sim.out" | tail -1)

echo "soak: ${SECONDS_TOTAL} s, ${samples} samples; records taken ${taken}, lines saved ${saved}, repeated lines ${dups}"
echo "soak: VmRSS kB first ${first_rss} last ${last_rss} max ${max_rss}; fds settled ${first_fd} late ${late_fd} max ${max_fd} ${lost}"
[ "$late_fd" -le "$first_fd" ] || fail "open descriptors grew from $first_fd to $late_fd"
[ "$max_fd" -le $((first_fd + 1)) ] || fail "more than one descriptor open beyond the settled $first_fd: $max_fd"
# Flat memory: the last sample within 10 % (and 4 MB) of the settled first one.
[ "$last_rss" -le $((first_rss + first_rss / 10 + 4096)) ] || fail "memory grew from $first_rss kB to $last_rss kB"
echo "soak: ok"
