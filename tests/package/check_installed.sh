#!/bin/bash
# Runs inside a clean Debian root where the recaster package was installed with apt (see
# scripts/check-package.sh), from the folder holding the example scene; writes what it made to
# out/ there.
#
#   check_installed.sh programs VERSION   with nothing installed but the package and what apt
#                                         pulled in for it
#   check_installed.sh desktop VERSION    once man-db, bash-completion, Xvfb and the desktop
#                                         tools are installed as well
set -euo pipefail
phase=$1 version=$2
cd "$(dirname "$0")"
mkdir -p out
step() { echo "-- $*"; }

programs() {
  step "recaster --version"
  [ "$(recaster --version)" = "recaster $version" ]
  recaster --version
  step "every library of the programs and of the toolkit's X11 plugin is there"
  if ldd /usr/bin/recaster /usr/bin/recaster-gui /usr/lib/*/qt6/plugins/platforms/libqxcb.so |
      grep 'not found'; then
    exit 1
  fi
  step "recaster check, convert, info"
  recaster check sample_scene.crv
  recaster convert sample_scene.crv -o out/sample_scene.fbprop
  recaster info out/sample_scene.fbprop | head -4
  step "recaster export"
  recaster export sample_scene.crv -o out/sample_scene.glb
  [ "$(head -c 4 out/sample_scene.glb)" = glTF ]
  step "recaster thumbnail (the codec library, opened at run time)"
  recaster thumbnail sample_scene.crv -o out/thumbnail.png --size 16
  step "the thumbnailer's command"
  cmd=$(sed -n 's/^Exec=//p' /usr/share/thumbnailers/recaster.thumbnailer)
  cmd=${cmd//%i/$PWD/sample_scene.crv}
  cmd=${cmd//%o/$PWD/out/thumbnailer.png}
  sh -c "${cmd//%s/128}"
  [ -s out/thumbnailer.png ]
  step "the batch script of the cluster example"
  echo "$PWD/sample_scene.crv" >out/list.txt
  /usr/libexec/recaster/convert-share.sh out/list.txt out/props out 1 0
  [ -f out/props/sample_scene.fbprop ]
  [ -f out/report-0.json ]
  step "recaster-gui starts without a display only for --version and --help"
  [ "$(recaster-gui --version)" = "recaster-gui $version" ]
  # The toolkit comes up (offscreen) and refuses the option: its libraries are all there.
  set +e
  QT_QPA_PLATFORM=offscreen recaster-gui --bogus 2>out/gui-usage.txt
  code=$?
  set -e
  [ "$code" = 2 ]
  grep -q "unknown option '--bogus'" out/gui-usage.txt
}

desktop() {
  step "man recaster, man recaster-gui"
  man -P cat recaster >out/recaster.man.txt 2>/dev/null
  grep -q "report merge" out/recaster.man.txt
  grep -q "recaster $version" out/recaster.man.txt
  man -P cat recaster-gui | grep -q "FILE"
  sed -n '1,12p' out/recaster.man.txt
  step "the bash completion, loaded on demand as an interactive shell does"
  bash -c '
    source /usr/share/bash-completion/bash_completion
    __load_completion recaster
    complete -p recaster
    complete_words() { COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _recaster; echo "${COMPREPLY[*]}"; }
    [ "$(complete_words recaster con)" = convert ]
    [ "$(complete_words recaster convert sam)" = sample_scene.crv ]
    [ "$(complete_words recaster thumbnail x --format p)" = png ]
    complete_words recaster export x -
  '
  step "desktop entry, file types, icon"
  desktop-file-validate /usr/share/applications/recaster-gui.desktop
  grep -q 'application/x-fabler-scene:\*\.crv' /usr/share/mime/globs2
  grep -q 'application/x-fabler-prop' /usr/share/mime/subclasses
  ls /usr/share/icons/hicolor/48x48/apps/recaster.png /usr/share/icons/hicolor/scalable/apps/recaster.svg
  step "recaster-gui opening the example under Xvfb"
  mkdir -p /tmp/screen
  Xvfb :7 -screen 0 480x320x24 -fbdir /tmp/screen -nolisten tcp >out/xvfb.log 2>&1 &
  local xvfb=$!
  for _ in $(seq 100); do [ -e /tmp/.X11-unix/X7 ] && break; sleep 0.1; done
  DISPLAY=:7 recaster-gui "$PWD/sample_scene.crv" >out/gui.log 2>&1 &
  local gui=$!
  # The scene converts at once and its message waits for OK.
  sleep 6
  kill -0 "$gui"
  cp /tmp/screen/Xvfb_screen0 out/screen.xwd
  kill "$gui" "$xvfb"
  wait "$gui" "$xvfb" || true
  # A conversion stopped before its save writes nothing.
  [ ! -e sample_scene.fbprop ]
}

case $phase in
  programs) programs ;;
  desktop) desktop ;;
  *) echo "usage: $0 programs|desktop VERSION" >&2; exit 2 ;;
esac
echo "-- $phase: all passed"
