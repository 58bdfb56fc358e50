#!/usr/bin/env bash
# Runs the converter on the bundled example scene.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
if [ ! -x build/recaster ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j"$(nproc)"
fi
if [ ! -x build/recaster ]; then
  echo "demo: the command-line converter 'recaster' is not built yet; the scene library and its tests are."
  echo "demo: run scripts/test.sh to build and test what exists."
  exit 0
fi
mkdir -p build/demo-out
build/recaster convert examples/*.crv --output-dir build/demo-out
