#!/usr/bin/env bash
# The desktop files as a desktop reads them: the entry and the file types pass their validators,
# a file-type database built from ours alone tells scenes and props by name and by their first
# bytes, and the thumbnailer's command, run as a file manager runs it, writes a PNG of the size
# asked for.
#
#   desktop_files.sh RECASTER DATA_DIR SAMPLE_SCENE
set -uo pipefail
recaster=$1 data=$2 sample=$3
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

desktop-file-validate "$data/recaster-gui.desktop" || fail "the desktop entry does not validate"
xmllint --noout "$data/recaster-mime.xml" || fail "the file types are no well-formed XML"
mkdir -p "$work/share/mime/packages"
cp "$data/recaster-mime.xml" "$work/share/mime/packages/recaster.xml"
# It complains on standard error about anything it does not take; the folder being searched, it
# has nothing else to say.
said=$(XDG_DATA_DIRS=$work/share update-mime-database "$work/share/mime" 2>&1 >/dev/null)
[ -z "$said" ] || fail "update-mime-database: $said"

# Types as a desktop tells them, from our database alone.
type_of() {
  XDG_DATA_DIRS=$work/share XDG_DATA_HOME=$work/none gio info -a standard::content-type "$1" |
    sed -n 's/.*standard::content-type: //p'
}
cp "$sample" "$work/old.crv"
cp "$sample" "$work/old-without-extension"
"$recaster" -q convert "$sample" -o "$work/prop.fbprop" || fail "convert"
cp "$work/prop.fbprop" "$work/current-without-extension"
printf 'not a scene\n' >"$work/text-without-extension"
while read -r file want; do
  got=$(type_of "$work/$file")
  [ "$got" = "$want" ] || fail "$file is $got, not $want"
done <<EOF
old.crv application/x-fabler-scene
old-without-extension application/x-fabler-scene
current-without-extension application/x-fabler-scene
prop.fbprop application/x-fabler-prop
EOF
case $(type_of "$work/text-without-extension") in
  application/x-fabler-*) fail "a text file is taken for a scene" ;;
esac

# The entry and the thumbnailer name only types we define.
defined=$(sed -n 's/.*<mime-type type="\([^"]*\)".*/\1/p' "$data/recaster-mime.xml")
for file in recaster-gui.desktop recaster.thumbnailer; do
  for type in $(sed -n 's/^MimeType=//p' "$data/$file" | tr ';' ' '); do
    grep -qx "$type" <<<"$defined" || fail "$file names $type, which is not defined"
  done
done

# The thumbnailer's command with its fields filled in as a file manager does (%i input, %o
# output, %s size), with the program found on the PATH.
exec_line=$(sed -n 's/^Exec=//p' "$data/recaster.thumbnailer")
for size in 16 128; do
  command=${exec_line//%i/$work/old.crv}
  command=${command//%o/$work/thumb-$size.png}
  command=${command//%s/$size}
  PATH=$(dirname "$recaster"):$PATH sh -c "$command" || fail "thumbnailer: $command"
  # Width and height from the PNG header; the sample's thumbnail is 32 x 32.
  want=$((size < 32 ? size : 32))
  got=$(od -An -tu4 --endian=big -j16 -N8 "$work/thumb-$size.png" | tr -s ' ')
  [ "$got" = " $want $want" ] || fail "thumbnail for $size is$got, not $want x $want"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures problem(s) with the desktop files"
  exit 1
fi
echo "desktop entry, file types and thumbnailer are sound"
