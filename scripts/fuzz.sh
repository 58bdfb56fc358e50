#!/usr/bin/env bash
# Builds the loader's libFuzzer target with clang and runs it for SECONDS seconds over the seed
# corpus (0: only replay the corpus once). Findings land in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_TO_RUN=${1:-60}

cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DKX_BUILD_FUZZ=ON -DKX_BUILD_TESTS=OFF -DKX_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_load make_fuzz_corpus

CORPUS=build-fuzz/corpus
mkdir -p "$CORPUS" build-fuzz/findings
build-fuzz/fuzz/make_fuzz_corpus "$CORPUS"

# fuzz/regressions holds inputs that once found a fault; they are replayed every time.
if [ "$SECONDS_TO_RUN" -eq 0 ]; then
  build-fuzz/fuzz/fuzz_load -runs=0 "$CORPUS" fuzz/regressions
else
  build-fuzz/fuzz/fuzz_load -max_total_time="$SECONDS_TO_RUN" -max_len=65536 -rss_limit_mb=2048 \
    -artifact_prefix=build-fuzz/findings/ -print_final_stats=1 "$CORPUS" fuzz/regressions
fi
