#!/usr/bin/env bash
# Lists the includes that cross from one folder of the library and the programs to another, with
# their counts, and fails when one runs upward: a folder includes only its own layer and those
# below it. Layers, lowest first:
#   0 core (status, streams and files, memory, math, storage, atomic files)
#   1 object (base and registry, scene-object base, controller base, references and walker,
#     persistence, container, custom data)
#   2 image, content   3 material   4 scene   5 control, environment
#   6 app (pipeline, export)   7 app/cli, app/gui (the front-ends)
set -euo pipefail
cd "$(dirname "$0")/.."

layer_of() {
  case "$1" in
    core) echo 0 ;;
    object) echo 1 ;;
    image | content) echo 2 ;;
    material) echo 3 ;;
    scene) echo 4 ;;
    control | environment) echo 5 ;;
    app | app/export) echo 6 ;;
    app/cli | app/gui) echo 7 ;;
    *) echo "" ;;
  esac
}

# The folder a file or an include names, as the layers above know it.
folder_of() {
  case "$1" in
    app/cli/* | app/gui/* | app/export/*) echo "${1%/*}" ;;
    *) echo "${1%%/*}" ;;
  esac
}

failed=0
pairs=$(
  for file in $(git ls-files 'core/*' 'object/*' 'image/*' 'content/*' 'material/*' 'scene/*' \
                  'control/*' 'environment/*' 'app/*' | grep -E '\.(h|cpp)$'); do
    from=$(folder_of "$file")
    sed -n 's|^#include "\([a-z_]*/[a-z_/]*\.h\)".*|\1|p' "$file" | while read -r included; do
      to=$(folder_of "$included")
      if [ "$from" != "$to" ]; then echo "$from -> $to"; fi
    done
  done | sort | uniq -c
)
echo "$pairs"
while read -r count from arrow to; do
  [ -z "${from:-}" ] && continue
  lf=$(layer_of "$from")
  lt=$(layer_of "$to")
  if [ -z "$lf" ] || [ -z "$lt" ]; then
    echo "check_layers: no layer for '$from' or '$to'" >&2
    failed=1
  elif [ "$lt" -gt "$lf" ]; then
    echo "check_layers: $from (layer $lf) includes $to (layer $lt), a layer above it:" >&2
    grep -rln "#include \"$to/" "$from" --include='*.h' --include='*.cpp' >&2 || true
    failed=1
  fi
done <<<"$pairs"
exit "$failed"
