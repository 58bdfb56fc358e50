#!/usr/bin/env bash
# Proves the Debian package on a clean system: builds a fresh Debian 12 root from Debian's
# archive with mmdebstrap (nothing in it but apt and the essential packages), installs the
# package there with apt by the steps of the container image (packaging/install-package.sh),
# which must pull in every dependency, and runs there (tests/package/check_installed.sh):
#   - with only the package and its dependencies: recaster --version, check, convert, info,
#     export, thumbnail (the codec library), the thumbnailer's command, the cluster script,
#     recaster-gui --version and its toolkit coming up;
#   - with man-db, bash-completion, Xvfb and the desktop tools added: man recaster, the bash
#     completion, the desktop entry and file types as installed, and recaster-gui opening the
#     example under Xvfb, whose screen is kept as out/check-package/screen.png.
#
#   scripts/check-package.sh [PACKAGE.deb]   without a package, scripts/package.sh builds one
#
# Needs the network to Debian's archive. Downloaded packages are kept in build-check/apt/ for
# the next run.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
start=$(date +%s)

scripts/bootstrap.sh
DEB=${1:-}
if [ -z "$DEB" ]; then
  scripts/package.sh
  DEB=$(ls "$ROOT"/build-package/recaster_*.deb)
fi
DEB=$(readlink -f "$DEB")
VERSION=$(dpkg-deb --field "$DEB" Version)
OUT=$ROOT/out/check-package
CACHE=$ROOT/build-check/apt
rm -rf "$OUT"
mkdir -p "$OUT" "$CACHE"

# What goes into the root: the package, the example, the install steps and the checks.
STAGE=$(mktemp -d)
trap 'rm -rf "$STAGE"' EXIT
cp "$DEB" examples/sample_scene.crv packaging/install-package.sh tests/package/check_installed.sh \
  "$STAGE/"
PACKAGE=/tmp/check/$(basename "$DEB")
# Tools of the second phase only: none of them may stand in for a dependency of the package.
TOOLS="man-db bash-completion xvfb xauth desktop-file-utils shared-mime-info"

echo "== clean Debian 12 root, recaster $VERSION installed with apt"
mmdebstrap --variant=apt --skip=essential/unlink \
  --setup-hook='mkdir -p "$1"/var/cache/apt/archives/' \
  --setup-hook="sync-in '$CACHE' /var/cache/apt/archives/" \
  --customize-hook='mkdir -p "$1"/tmp/check' \
  --customize-hook="sync-in '$STAGE' /tmp/check" \
  --customize-hook="chroot \"\$1\" sh /tmp/check/install-package.sh '$PACKAGE'" \
  --customize-hook="chroot \"\$1\" bash /tmp/check/check_installed.sh programs '$VERSION'" \
  --customize-hook="chroot \"\$1\" sh -c 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive \
      apt-get install -y -qq --no-install-recommends $TOOLS >/dev/null'" \
  --customize-hook="chroot \"\$1\" bash /tmp/check/check_installed.sh desktop '$VERSION'" \
  --customize-hook="sync-out /tmp/check/out '$OUT'" \
  --customize-hook="sync-out /var/cache/apt/archives '$CACHE'" \
  bookworm /dev/null \
  "deb http://deb.debian.org/debian bookworm main" \
  "deb http://deb.debian.org/debian bookworm-updates main" \
  "deb http://deb.debian.org/debian-security bookworm-security main"

# Xvfb keeps its screen as an X window dump of 32-bit pixels, blue first, which the codec
# library's tool misreads: the pixels are turned into a plain RGB picture first.
perl -e '
  local $/; open my $f, "<:raw", $ARGV[0] or die "$ARGV[0]: $!\n"; my $d = <$f>;
  my ($size, $width, $height, $order, $bits, $line, $colours) = (unpack "N25", $d)[0, 4, 5, 7, 11, 12, 19];
  die "$ARGV[0]: not a screen of 32-bit pixels, low byte first\n" unless $bits == 32 && $order == 0;
  my $at = $size + 12 * $colours;
  my ($pixels, $lit) = ("", 0);
  for my $y (0 .. $height - 1) {
    (my $row = substr $d, $at + $y * $line, 4 * $width) =~ s/(.)(.)(.)./$3$2$1/gs;
    $lit += ($row =~ tr/\0//c);
    $pixels .= $row;
  }
  # The bare server is black: a black screen means the dialog drew nothing.
  die "the screen is black: the dialog drew nothing\n" if $lit < 1000;
  binmode STDOUT;
  print "P6\n$width $height\n255\n", $pixels;' "$OUT/screen.xwd" >"$OUT/screen.ppm"
gm convert "$OUT/screen.ppm" "$OUT/screen.png"
rm -f "$OUT/screen.xwd" "$OUT/screen.ppm"
echo "check-package.sh: passed in $(($(date +%s) - start))s; the dialog's screen: $OUT/screen.png"
