#!/usr/bin/env bash
# Report builder figures: builds report_bench in Release, generates a data file of a million
# call-record lines, measures one load (time and peak memory), runs the benchmarks, and times an
# awk aggregation of the same file for comparison.
#
#   bench/report_bench.sh [BUILD_DIR] [LINES]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
build="${1:-$root/build-report-bench}"
lines="${2:-1000000}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

if ! { cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORDEL_BUILD_BENCH=ON \
         -DKORDEL_BUILD_GUI=OFF -DKORDEL_BUILD_TESTS=OFF &&
       cmake --build "$build" --target report_bench -j2; } >"$work/build.log" 2>&1; then
  cat "$work/build.log" >&2
  exit 1
fi
bench="$build/bench/report_bench"
data="$work/data.txt"

"$bench" --generate "$data" "$lines"
echo "data file: $(wc -l <"$data") lines, $(du -m "$data" | cut -f1) MiB"
echo "== one load"
"$bench" --measure "$data"
echo "== benchmarks"
REPORT_BENCH_FILE="$data" "$bench" --min-time 0.2
echo "== awk: per-line and per-trunk totals of the same file"
start=$(date +%s.%N)
LC_ALL=C awk '
  length($0) > 46 && substr($0, 1, 1) != " " {
    d = substr($0, 23, 2) * 3600 + substr($0, 26, 2) * 60 + substr($0, 29, 2)
    rest = substr($0, 34); p = index(rest, "("); hw = substr(rest, 1, p - 1)
    q = index(rest, ")"); tail = substr(rest, q + 4)
    trunk = substr(tail, 1, 5); gsub(/ /, "", trunk); num = substr(tail, 11); gsub(/ /, "", num)
    if (num == "") { lin[hw] += d; tin[trunk] += d } else { lout[hw] += d; tout[trunk] += d }
    ltot[hw] += d; ttot[trunk] += d; n++
  }
  END { printf "awk: %d calls, %d lines, %d trunks\n", n, length(ltot), length(ttot) }
' "$data"
end=$(date +%s.%N)
echo "awk time: $(echo "$end - $start" | bc) s"
