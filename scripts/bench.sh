#!/usr/bin/env bash
# Measures `recaster convert` against the least a durable convert must do: copying the same file
# and flushing the copy to disk (`cp IN OUT && sync OUT`).
#
#   scripts/bench.sh [RUNS]     (default 5)
#
# Builds a release of `recaster` and the scene generator, generates three shapes of old scene
#   mesh-heavy      90 meshes of 10,000 vertices
#   many objects    20,000 animated nodes, each with a keyframe controller and a small mesh
#   texture-heavy   30 meshes, each material with an embedded 1024x1024 JPEG
# and prints for each the median of RUNS alternating runs of both, their ratio, and the peak
# memory of the conversion against the file size. Last, the many-objects shape again at ten
# times the objects: the time should grow at most elevenfold.
#
# The files are written below $BENCH_DIR (default: build-bench/work), on the disk the build is on.
# With PAUSE=SECONDS each conversion starts that long after the copy before it, as a conversion
# run on its own does: on a virtual machine that gives idle memory back to its host, memory a
# process takes after a pause is backed again as it is first written, which runs right after
# another do not see.
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS=${1:-5}
PAUSE=${PAUSE:-0}
BUILD=${BUILD:-build-bench}
WORK=${BENCH_DIR:-$BUILD/work}

scripts/bootstrap.sh >/dev/null
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DKX_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j"${JOBS:-$(nproc)}" --target recaster make_large_legacy_scene >/dev/null
RECASTER="$BUILD/recaster"
GENERATE="$BUILD/make_large_legacy_scene"
mkdir -p "$WORK"

now() { date +%s%N; }

# Median of the numbers on standard input.
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# measure NAME FILE: RUNS alternating runs; sets COPY_NS, CONVERT_NS (medians), FASTEST_NS (the
# fastest conversion) and PEAK_KB. The conversion's fastest and slowest runs are printed beside
# the median: on a machine whose memory is backed on demand they can lie far apart.
measure() {
  local name=$1 in=$2
  local copies=() converts=() peaks=()
  for ((i = 0; i < RUNS; ++i)); do
    rm -f "$WORK/copy.crv" "$WORK/out.fbprop"
    local start
    start=$(now)
    cp "$in" "$WORK/copy.crv" && sync "$WORK/copy.crv"
    copies+=($(($(now) - start)))

    sleep "$PAUSE"
    start=$(now)
    /usr/bin/time -f %M -o "$WORK/peak" "$RECASTER" convert "$in" -o "$WORK/out.fbprop" --force >/dev/null
    converts+=($(($(now) - start)))
    peaks+=("$(tail -n 1 "$WORK/peak")")
  done
  COPY_NS=$(printf '%s\n' "${copies[@]}" | median)
  CONVERT_NS=$(printf '%s\n' "${converts[@]}" | median)
  FASTEST_NS=$(printf '%s\n' "${converts[@]}" | sort -n | head -n 1)
  local slowest
  slowest=$(printf '%s\n' "${converts[@]}" | sort -n | tail -n 1)
  PEAK_KB=$(printf '%s\n' "${peaks[@]}" | sort -n | tail -n 1)
  local size
  size=$(stat -c %s "$in")
  awk -v name="$name" -v size="$size" -v copy="$COPY_NS" -v convert="$CONVERT_NS" -v peak="$PEAK_KB" \
    -v fastest="$FASTEST_NS" -v slowest="$slowest" \
    'BEGIN { printf "%-15s %8.1f MB  cp+sync %8.3f s  convert %8.3f s (%.3f-%.3f)  %5.2fx   peak %8.1f MB  %5.2fx the file\n",
             name, size / 1e6, copy / 1e9, convert / 1e9, fastest / 1e9, slowest / 1e9, convert / copy,
             peak * 1024 / 1e6, peak * 1024 / size }'
  rm -f "$WORK/copy.crv" "$WORK/out.fbprop" "$WORK/peak"
}

"$GENERATE" --meshes "$WORK/meshes.crv" 90 10000 >/dev/null
"$GENERATE" --objects "$WORK/objects.crv" 20000 >/dev/null
"$GENERATE" --textures "$WORK/textures.crv" 30 1024 >/dev/null
"$GENERATE" --objects "$WORK/objects10.crv" 200000 >/dev/null

echo "median of $RUNS alternating runs, $PAUSE s before each conversion; peak is the largest resident size of the conversion"
measure mesh-heavy "$WORK/meshes.crv"
measure many-objects "$WORK/objects.crv"
SMALL_NS=$CONVERT_NS
SMALL_FASTEST_NS=$FASTEST_NS
measure texture-heavy "$WORK/textures.crv"
measure objects-x10 "$WORK/objects10.crv"
awk -v small="$SMALL_NS" -v large="$CONVERT_NS" -v smallFastest="$SMALL_FASTEST_NS" -v largeFastest="$FASTEST_NS" \
  'BEGIN { printf "linear growth: ten times the objects take %.2f times the time (at most 11); fastest runs %.2f\n",
           large / small, largeFastest / smallFastest }'
rm -f "$WORK"/meshes.crv "$WORK"/objects.crv "$WORK"/textures.crv "$WORK"/objects10.crv
