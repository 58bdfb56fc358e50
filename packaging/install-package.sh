#!/bin/sh
# Installs the recaster package with everything it depends on from Debian's archive: the steps of
# the container image (Containerfile), which scripts/check-package.sh also runs on a clean root.
#
#   install-package.sh /path/to/recaster_VERSION_ARCH.deb
set -eu
export DEBIAN_FRONTEND=noninteractive
apt-get update
# A path, not a name: apt installs the file and takes its dependencies from the archive.
apt-get install -y --no-install-recommends "$(readlink -f "$1")"
rm -rf /var/lib/apt/lists/*
