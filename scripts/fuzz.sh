#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer and UndefinedBehaviorSanitizer
# and runs each for a set time.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]     (default 60)
# Corpora grow in .work/fuzz/<target>/, seeded from tests/fuzz/corpus/<target>/. A crash stops
# the run with the crashing input saved in .work/fuzz-failures/<target>/; turn it into a
# regression test.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKORDEL_BUILD_FUZZ=ON -DKORDEL_SANITIZE=address,undefined >/dev/null
cmake --build "$build" -j "$(nproc)"
export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for fuzzer in "$build"/tests/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer"); name=${name#fuzz_}
  corpus=.work/fuzz/$name
  artifacts=.work/fuzz-failures/$name
  mkdir -p "$corpus" "$artifacts"
  seeds=tests/fuzz/corpus/$name
  [ -d "$seeds" ] || seeds=""
  echo "== fuzz $name for ${seconds}s"
  "$fuzzer" -max_total_time="$seconds" -max_len=4096 -artifact_prefix="$artifacts/" \
    -print_final_stats=1 "$corpus" $seeds 2>&1 | grep -E "^(stat::number_of_executed_units|stat::peak_rss|==|INFO: Seed|#.*DONE)" || true
  found=$(find "$artifacts" -type f | head -n 5)
  if [ -n "$found" ]; then
    echo "fuzz $name found a failure: $found"
    exit 1
  fi
done
echo "fuzzing finished clean"
