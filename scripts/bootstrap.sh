#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build, the tests and the tools need and this
# machine does not have yet. Safe to run again: it only installs what is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  libgraphicsmagick1-dev graphicsmagick libjpeg62-turbo-dev
  qt6-base-dev libcli11-dev nlohmann-json3-dev
  # the allocator of the tool and the dialog
  libmimalloc-dev
  # the dialog's screenshot test: an X server of its own and the one font it is drawn in
  xvfb fonts-dejavu-core
  # the cluster example of the user guide, run by the command-line tests
  parallel
  # scripts/bench.sh: peak memory of a conversion
  time
  # the desktop files' tests: the validators of desktop entries and file types, the file-type
  # lookup of desktops (gio) and the XML check; zsh reads its completion for the syntax check
  desktop-file-utils shared-mime-info libglib2.0-bin libxml2-utils zsh
  # scripts/package.sh and scripts/check-package.sh: the package's check, and a clean Debian
  # root to install it on
  lintian mmdebstrap
)

# The glTF validator below runs on Node.js; machines of this kind bring it, others get Debian's.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then PACKAGES+=(nodejs npm); fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "bootstrap: all ${#PACKAGES[@]} packages present"
else
  echo "bootstrap: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The test tools that run on Node.js, from the npm registry at pinned versions, into a folder of
# the checkout that git ignores: the glTF validator the export tests run, and Ajv, the JSON Schema
# validator the command-line tests check every batch report with (docs/batch-report.schema.json).
# They are installed together, since an install into the folder keeps only what it names.
GLTF_VALIDATOR_VERSION=2.0.0-dev.3.10
AJV_VERSION=8.20.0
NODE_TOOLS="$(cd "$(dirname "$0")/.." && pwd)/build-tools/node"
installed_version() {
  sed -n 's/.*"version": *"\([^"]*\)".*/\1/p' "$NODE_TOOLS/node_modules/$1/package.json" 2>/dev/null |
    head -n 1
}
if [ "$(installed_version gltf-validator)" != "$GLTF_VALIDATOR_VERSION" ] ||
   [ "$(installed_version ajv)" != "$AJV_VERSION" ]; then
  echo "bootstrap: installing gltf-validator $GLTF_VALIDATOR_VERSION and ajv $AJV_VERSION into $NODE_TOOLS"
  mkdir -p "$NODE_TOOLS"
  npm install --prefix "$NODE_TOOLS" --no-audit --no-fund --no-save \
    "gltf-validator@$GLTF_VALIDATOR_VERSION" "ajv@$AJV_VERSION"
fi
