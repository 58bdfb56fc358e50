#!/usr/bin/env bash
# Builds the Debian package of recaster from this checkout, in a build folder of its own made
# afresh, and checks it with lintian:
#   build-package/recaster_VERSION_ARCH.deb   the package (its dependencies worked out by
#                                             dpkg-shlibdeps from the programs)
#   build-package/lintian.txt                 lintian's report; an error fails the script
# Also puts beside the package what the container recipe (Containerfile) copies in, so that
# `podman build -f Containerfile build-package` makes the image.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
OUT=$ROOT/build-package
BUILD=$OUT/build

scripts/bootstrap.sh

rm -rf "$OUT"
mkdir -p "$OUT"
# The same commit gives the same package: dates in the man pages and the change log are the
# commit's, and the compiler is told to leave the build folder out of what it writes.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || date +%s)
fi
export SOURCE_DATE_EPOCH
# Debian's build flags: hardening (stack protector, fortified functions, full RELRO, bind now),
# as every package of the archive is built.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
export CXXFLAGS CFLAGS LDFLAGS

echo "== configure and build (release, no tests)"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DKX_BUILD_TESTS=OFF -DKX_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j"${JOBS:-$(nproc)}"

echo "== package"
(cd "$BUILD" && cpack -G DEB -B "$OUT" >/dev/null)
rm -rf "$OUT/_CPack_Packages"
DEB=$(ls "$OUT"/recaster_*.deb)
cp packaging/install-package.sh "$OUT/"
dpkg-deb --info "$DEB" | sed -n '/Package:/,$p'
echo "$(basename "$DEB"): $(du -k "$DEB" | cut -f1) KiB, $(dpkg-deb --contents "$DEB" | wc -l) entries"

echo "== lintian"
# Errors fail the build; warnings and the rest are listed (the README says why each one stays).
lintian --display-info --fail-on error "$DEB" | tee "$OUT/lintian.txt"
echo "package.sh: $DEB"
