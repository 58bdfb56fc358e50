#!/usr/bin/env bash
# The project's test command: installs what is missing, builds everything from scratch, runs every
# test, then builds and runs the tests again under AddressSanitizer + UndefinedBehaviorSanitizer,
# runs the tests of the threaded code under ThreadSanitizer, replays the fuzz corpus through the
# loader, the seed pictures through the JPEG walk fuzzer and the seed reports through the fuzzer
# of report merge.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=$(nproc)

scripts/bootstrap.sh

echo "== release build"
rm -rf build
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$JOBS"
(cd build && ctest --output-on-failure -j"$JOBS")

echo "== sanitizer build (ASan + UBSan)"
rm -rf build-asan
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKX_SANITIZE=ON -DKX_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$JOBS"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$JOBS")

echo "== thread sanitizer build (the tests of the threaded code)"
# Only the programs whose tests run work beside the caller: the load's jobs, the reads aside, the
# write queue and its write-back, loads at the same time, the walks' marks, the dialog's runner.
TSAN_TESTS=(core object scene gui)
rm -rf build-tsan
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKX_TSAN=ON -DKX_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$JOBS" --target $(printf 'kx_%s_tests ' "${TSAN_TESTS[@]}")
(cd build-tsan && ctest --output-on-failure -j"$JOBS" -R "^($(IFS='|'; echo "${TSAN_TESTS[*]}"))\$")

echo "== fuzz corpus replay"
"$ROOT/scripts/fuzz.sh" 0
"$ROOT/scripts/fuzz.sh" 0 jpeg
"$ROOT/scripts/fuzz.sh" 0 report
echo "test.sh: all passed"
