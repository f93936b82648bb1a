#!/usr/bin/env bash
# The threaded tests under ThreadSanitizer: the window's reader thread (Qt, offscreen), the
# link against the simulator, which answers on a thread of its own, the loaders that read
# on two threads (the report builder's large files, the call analysis), and the calls
# database's inserter thread.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-tsan
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORDEL_SANITIZE=thread >/dev/null
targets=(kordel_link_tests kordel_pbxsim_tests kordel_collect_tests kordel_report_tests kordel_analysis_tests
         kordel_store_tests)
if grep -q '^kordel_app_tests:' <(ninja -C "$build" -t targets all 2>/dev/null | sed 's/: .*/:/'); then
  targets+=(kordel_app_tests)
fi
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp"
export QT_QPA_PLATFORM=offscreen
"$build/tests/kordel_pbxsim_tests" --gtest_brief=1
"$build/tests/kordel_link_tests" --gtest_brief=1 --gtest_filter='ReadRecords.*:PbxLinkExchange.*:PbxLinkIdentify.ModelTable'
"$build/tests/kordel_collect_tests" --gtest_brief=1
"$build/tests/kordel_report_tests" --gtest_brief=1 --gtest_filter='LargeBook.*'
"$build/tests/kordel_analysis_tests" --gtest_brief=1
# The calls database's inserter thread (its PostgreSQL cases when KORDEL_TEST_PG names a server).
"$build/tests/kordel_store_tests" --gtest_brief=1
if [ -x "$build/tests/kordel_app_tests" ]; then
  "$build/tests/kordel_app_tests" --gtest_brief=1 --gtest_filter="${KORDEL_TSAN_APP_FILTER:-*}"
fi
echo "ThreadSanitizer: threaded tests passed"
