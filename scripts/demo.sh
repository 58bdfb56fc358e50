#!/usr/bin/env bash
# Converts the bundled example scene into a prop and shows what came out:
#   1. installs what is missing (scripts/bootstrap.sh) and builds `recaster` (release, no tests);
#   2. `recaster check` tells the sample would be converted;
#   3. `recaster convert` writes out/sample_scene.fbprop (replacing an earlier run's);
#   4. `recaster info --tree` prints the prop's hierarchy;
#   5. `recaster thumbnail` extracts its thumbnail to out/sample_thumbnail.png;
#   6. `recaster export` writes the scene as glTF to out/sample_scene.glb, for any glTF viewer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh

BUILD=build-demo
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DKX_BUILD_TESTS=OFF -DKX_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j"${JOBS:-$(nproc)}" --target recaster
RECASTER="$BUILD/recaster"
SAMPLE=examples/sample_scene.crv

mkdir -p out
echo
echo "== recaster check $SAMPLE"
"$RECASTER" check "$SAMPLE"
echo
echo "== recaster convert $SAMPLE -o out/sample_scene.fbprop --force"
"$RECASTER" convert "$SAMPLE" -o out/sample_scene.fbprop --force
echo
echo "== recaster info --tree out/sample_scene.fbprop"
"$RECASTER" info --tree out/sample_scene.fbprop
echo
echo "== recaster thumbnail out/sample_scene.fbprop -o out/sample_thumbnail.png --force"
"$RECASTER" thumbnail out/sample_scene.fbprop -o out/sample_thumbnail.png --force
echo
echo "== recaster export $SAMPLE -o out/sample_scene.glb --force"
"$RECASTER" export "$SAMPLE" -o out/sample_scene.glb --force
echo "(open out/sample_scene.glb in any glTF viewer: drag it into an online glTF viewer, or"
echo " import it in Blender with File > Import > glTF 2.0)"
