#!/usr/bin/env bash
# The man pages and the shell completions against the programs' own help: every command and every
# option that `recaster --help` and `recaster COMMAND --help` list must be in the command's part of
# recaster(1), offered by the bash completion after the command's name and named in the zsh
# completion's branch of the command; every exit code of the help in recaster(1)'s EXIT STATUS;
# the options of `recaster-gui --help` in recaster-gui(1); and the version of both pages that of
# the programs.
#
#   help_documented.sh RECASTER MAN_DIR BASH_COMPLETION ZSH_COMPLETION [RECASTER_GUI]
set -u  # no pipefail: a grep -q that has seen enough closes its pipe early
recaster=$1 man_dir=$2 bash_completion=$3 zsh_completion=$4 gui=${5:-}
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The page as plain text: escapes of hyphens and fonts taken out.
plain() { sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/\\(em/--/g' "$1"; }
# Whether standard input names the option or positional as a whole word (--output is not found in
# --output-dir).
names() { grep -qE -- "(^|[^-A-Za-z_])$1([^-A-Za-z_]|\$)"; }
# One part of a page: from the line `.SS NAME` (or .SH) to the next heading.
part() {
  plain "$1" | awk -v want="$2" '
    /^\.S[SH] / { name = substr($0, 5); gsub(/"/, "", name); inside = (name == want); next }
    inside { print }'
}
# Option names and positionals of one help text: "-o,--output TEXT ..." gives -o and --output,
# "INPUT TEXT REQUIRED" gives INPUT.
options_of() {
  awk '/^(Options|Positionals):/ { on = 1; next } /^[A-Z][a-z ]*:/ { on = 0 }
       on && /^  [^ ]/ { split($1, names, ","); for (i in names) print names[i] }' <<<"$1"
}
commands_of() {
  awk '/^Subcommands:/ { on = 1; next } /^[A-Z][a-z ]*:/ { on = 0 }
       on && /^  [^ ]/ { print $1 }' <<<"$1"
}
# What the bash completion offers for the words given, the last one being completed.
bash_offers() {
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _recaster
           printf "%s\n" "${COMPREPLY[@]}"' _ "$bash_completion" "$@"
}
# The zsh completion's branch of a command: from `(NAME)` to the `;;` that closes it.
zsh_branch() { awk -v want="($1)" '$1 == want { on = 1 } on { print } on && /;;/ { exit }' "$zsh_completion"; }

zsh -n "$zsh_completion" || fail "the zsh completion does not parse"

page=$man_dir/recaster.1
[ -f "$page" ] || { echo "FAIL: no $page"; exit 1; }
top=$("$recaster" --help) || fail "recaster --help"

# Global options.
for option in $(options_of "$top"); do
  part "$page" OPTIONS | names "$option" || fail "recaster(1) OPTIONS lacks $option"
  bash_offers recaster - | grep -qxe "$option" || fail "bash completion does not offer $option"
  names "$option" <"$zsh_completion" || fail "zsh completion lacks $option"
done

# Every command (and the commands of a command), with its options.
check_command() {
  local words=$1 help option
  help=$("$recaster" $words --help) || fail "recaster $words --help"
  local sub
  sub=$(commands_of "$help")
  if [ -n "$sub" ]; then
    for s in $sub; do
      bash_offers recaster $words "" | grep -qx "$s" || fail "bash completion lacks '$words $s'"
      check_command "$words $s"
    done
    return
  fi
  local section
  section=$(part "$page" "$words")
  [ -n "$section" ] || fail "recaster(1) has no part for '$words'"
  for option in $(options_of "$help"); do
    case $option in -h | --help) continue ;; esac
    names "$option" <<<"$section" || fail "recaster(1) '$words' lacks $option"
    case $option in
      -*)
        bash_offers recaster $words - | grep -qxe "$option" ||
          fail "bash completion of '$words' does not offer $option"
        zsh_branch "${words%% *}" | names "$option" ||
          fail "zsh completion of '$words' lacks $option"
        ;;
    esac
  done
}
commands=$(commands_of "$top")
[ -n "$commands" ] || fail "no commands in recaster --help"
for command in $commands; do
  bash_offers recaster "" | grep -qx "$command" || fail "bash completion lacks the command $command"
  zsh_branch "$command" | grep -q . || fail "zsh completion has no branch for $command"
  check_command "$command"
done

# Exit codes.
for code in $(awk '/^Exit codes:/ { on = 1; next } on && /^  [0-9]/ { print $1 }' <<<"$top"); do
  part "$page" "EXIT STATUS" | grep -qx "\.B $code" || fail "recaster(1) EXIT STATUS lacks $code"
done

# Versions.
version=$("$recaster" --version | awk '{ print $2 }')
grep -q "^\.TH RECASTER 1 .*\"recaster $version\"" "$page" || fail "recaster(1) is not of version $version"

if [ -n "$gui" ]; then
  gui_page=$man_dir/recaster-gui.1
  gui_help=$("$gui" --help) || fail "recaster-gui --help"
  for option in $(options_of "$gui_help"); do
    part "$gui_page" OPTIONS | names "$option" || fail "recaster-gui(1) OPTIONS lacks $option"
  done
  [ "$("$gui" --version)" = "recaster-gui $version" ] || fail "recaster-gui --version is not $version"
  grep -q "^\.TH RECASTER-GUI 1 .*\"recaster $version\"" <(plain "$gui_page") ||
    fail "recaster-gui(1) is not of version $version"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures difference(s) between the help and the man pages or completions"
  exit 1
fi
echo "man pages and completions match the help"
