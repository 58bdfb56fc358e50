#!/usr/bin/env bash
# Builds a libFuzzer target with clang and runs it for SECONDS seconds over its seed corpus (0:
# only replay the corpus once). Findings land in build-fuzz/findings/.
#
#   scripts/fuzz.sh SECONDS          the loader and everything after a load (fuzz_load)
#   scripts/fuzz.sh SECONDS jpeg     the quick walk over JPEG scans against the library
#   scripts/fuzz.sh SECONDS report   what report merge reads (fuzz_report_merge)
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_TO_RUN=${1:-60}
TARGET=${2:-load}

cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DKX_BUILD_FUZZ=ON -DKX_BUILD_TESTS=OFF -DKX_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_load fuzz_jpeg_walk fuzz_report_merge \
  make_fuzz_corpus

CORPUS=build-fuzz/corpus
PICTURES=build-fuzz/corpus-jpeg
mkdir -p "$CORPUS" "$PICTURES" build-fuzz/findings
build-fuzz/fuzz/make_fuzz_corpus "$CORPUS" "$PICTURES"

if [ "$TARGET" = jpeg ]; then
  RUNS=(-runs=0)
  [ "$SECONDS_TO_RUN" -eq 0 ] || RUNS=(-max_total_time="$SECONDS_TO_RUN" -max_len=16384
    -artifact_prefix=build-fuzz/findings/jpeg- -print_final_stats=1)
  exec build-fuzz/fuzz/fuzz_jpeg_walk "${RUNS[@]}" "$PICTURES"
fi

# The report seeds are kept in fuzz/reports; what the fuzzer finds beside them goes to a corpus of
# the build.
if [ "$TARGET" = report ]; then
  mkdir -p build-fuzz/corpus-report
  RUNS=(-runs=0)
  [ "$SECONDS_TO_RUN" -eq 0 ] || RUNS=(-max_total_time="$SECONDS_TO_RUN" -max_len=65536
    -rss_limit_mb=2048 -artifact_prefix=build-fuzz/findings/report- -print_final_stats=1)
  exec build-fuzz/fuzz/fuzz_report_merge "${RUNS[@]}" build-fuzz/corpus-report fuzz/reports
fi

# fuzz/regressions holds inputs that once found a fault; they are replayed every time.
if [ "$SECONDS_TO_RUN" -eq 0 ]; then
  build-fuzz/fuzz/fuzz_load -runs=0 "$CORPUS" fuzz/regressions
else
  build-fuzz/fuzz/fuzz_load -max_total_time="$SECONDS_TO_RUN" -max_len=65536 -rss_limit_mb=2048 \
    -artifact_prefix=build-fuzz/findings/ -print_final_stats=1 "$CORPUS" fuzz/regressions
fi
