#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build, the tests and the tools need and this
# machine does not have yet. Safe to run again: it only installs what is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  libgraphicsmagick1-dev graphicsmagick
  qt6-base-dev libcli11-dev nlohmann-json3-dev
  # the allocator of the tool and the dialog
  libmimalloc-dev
  # the dialog's screenshot test: an X server of its own and the one font it is drawn in
  xvfb fonts-dejavu-core
  # the cluster example of the user guide, run by the command-line tests
  parallel
  # scripts/bench.sh: peak memory of a conversion
  time
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "bootstrap: all ${#PACKAGES[@]} packages present"
  exit 0
fi

echo "bootstrap: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
