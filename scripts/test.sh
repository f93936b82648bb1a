#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test:
#   1. kordel-cli.exe (the core with the Win32 serial port) cross-compiled with mingw-w64,
#   2. the threaded tests under ThreadSanitizer,
#   3. each libFuzzer target for about 10 seconds,
#   4. the Debian package, built in build-package/ and checked (tests/packaging/package_check.sh),
#   5. everything built under AddressSanitizer and UndefinedBehaviorSanitizer, then
#      kordel-cli.exe run under Wine against the simulator beside that build's kordel-cli,
#   6. the whole suite under ASan and UBSan with ctest (last, so the run ends with ctest's
#      summary).
# A PostgreSQL server of the tests' own runs meanwhile (tests/support/pg_server.sh, a Unix
# socket in a temporary folder); KORDEL_TEST_PG names it to the tests, and it is stopped at the
# end whatever happened.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/setup.sh --test
jobs=$(nproc)

# The stop runs from wherever the script has gone by then (the suite runs in build-asan), so
# the helper is named by its full path.
pg_server="$root/tests/support/pg_server.sh"
pg_dir=$(bash "$pg_server" start)
trap 'bash "$pg_server" stop "$pg_dir"' EXIT
KORDEL_TEST_PG=$(bash "$pg_server" conninfo "$pg_dir")
export KORDEL_TEST_PG


echo "== Windows build of the core and kordel-cli.exe (mingw-w64, without XLSX)"
cmake -S . -B build-mingw -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DKORDEL_CORE_ONLY=OFF \
  -DKORDEL_CLI_ONLY=ON -DKORDEL_XLSX=OFF >/dev/null
cmake --build build-mingw -j "$jobs"

echo "== Threaded tests under ThreadSanitizer"
bash scripts/tsan.sh

echo "== Fuzz targets, briefly (scripts/fuzz.sh runs them longer)"
bash scripts/fuzz.sh "${KORDEL_FUZZ_SECONDS:-10}"

echo "== Debian package"
bash tests/packaging/package_check.sh

echo "== Build under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DKORDEL_SANITIZE=address,undefined -DKORDEL_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"

echo "== kordel-cli.exe under Wine against pbxsim"
bash tests/scripts/wine_cli.sh build-mingw/src/app/kordel-cli.exe build-asan/src/app/kordel-cli \
  build-asan/tools/pbxsim/pbxsim build-mingw/wine

echo "== Full suite under AddressSanitizer and UndefinedBehaviorSanitizer (ctest)"
cd build-asan
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
ctest --output-on-failure -j "$jobs"
