#!/usr/bin/env bash
# The bash completion of modburn-cli against the tool's own --help: the
# commands, each command's options, what each option's value completes to,
# and --format's values against those the tool accepts. Runs on plain bash,
# and again on bash-completion's helpers when that package is installed.
# Usage: completion_test.sh <completion file> <modburn-cli>
set -uo pipefail
completion=$1
cli=$2

failures=0
fail() {
  echo "FAIL [$mode]: $*" >&2
  failures=$((failures + 1))
}

help=$("$cli" --help) || { echo "modburn-cli --help failed" >&2; exit 1; }
# The usage block: a line per command, wrapped lines under it.
usage=$(sed -n '/^Usage:/,/^$/p' <<<"$help")
declare -A units=()
commands=()
command=
while IFS= read -r line; do
  if [[ $line =~ ^\ \ modburn-cli\ ([^ ]+) ]]; then
    command=${BASH_REMATCH[1]}
    [[ $command == -* ]] && command=TOP || commands+=("$command")
  fi
  [[ -n $command ]] && units[$command]+=" $line"
done <<<"$usage"
[ ${#commands[@]} -gt 0 ] || { echo "no commands in modburn-cli --help" >&2; exit 1; }

# Each command's "[--name VALUE]" and "[--name]" units, "name VALUE" a line;
# for the line without a command its options ("--help | --version").
declare -A forms=() names=()
for command in TOP "${commands[@]}"; do
  if [ "$command" = TOP ]; then
    forms[TOP]=$(grep -oE -- '--[a-z][a-z-]*' <<<"${units[TOP]}")
  else
    forms[$command]=$(grep -oE -- '\[--[a-z][a-z-]*( [A-Z_]+)?\]' <<<"${units[$command]}" | tr -d '[]')
  fi
  names[$command]=$(cut -d' ' -f1 <<<"${forms[$command]}")
done
without() {  # the words of $2 but $1
  local word
  for word in $2; do [ "$word" = "$1" ] || echo "$word"; done
}
sorted() {
  local word
  for word in "$@"; do [ -z "$word" ] || echo "$word"; done | sort
}

work=$(mktemp -d "${TMPDIR:-/tmp}/modburn-completion.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
touch fw-2.3.bin devices.txt

# The formats the tool names when it refuses one.
refusal=$("$cli" program --format none 127.0.0.1 2>&1 >/dev/null)
formats=$(grep -oE '\(([a-z0-9]+, )*[a-z0-9]+ or [a-z0-9]+\)' <<<"$refusal" | tr -d '(),' | sed 's/ or / /')
[ -n "$formats" ] || { echo "no formats in the tool's refusal: $refusal" >&2; exit 1; }

# Completes the line up to its end, split into words as readline does (at
# blanks and '='), and prints the candidates sorted, one a line.
complete_line() {
  local line=$1 word
  local -a words=()
  read -ra words <<<"$line"
  [[ $line == *' ' ]] && words+=("")
  COMP_WORDS=()
  for word in "${words[@]}"; do
    if [[ $word == *=* ]]; then
      COMP_WORDS+=("${word%%=*}" "=")
      [ -z "${word#*=}" ] || COMP_WORDS+=("${word#*=}")
    else
      COMP_WORDS+=("$word")
    fi
  done
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line
  COMP_POINT=${#line}
  COMPREPLY=()
  _modburn_cli modburn-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  sorted "${COMPREPLY[@]}"
}

expect() {  # line, expected candidates
  local got want
  got=$(complete_line "$1")
  # shellcheck disable=SC2086 # the candidates are words
  want=$(sorted $2)
  [ "$got" = "$want" ] || fail "'$1' offers [${got//$'\n'/ }], not [${want//$'\n'/ }]"
}

run_checks() {
  expect 'modburn-cli ' "${commands[*]}"
  expect 'modburn-cli -' "${names[TOP]}"
  local command option value others
  for command in "${commands[@]}"; do
    expect "modburn-cli $command --" "${names[$command]}"
    while read -r option value; do
      others=$(without "$option" "${names[$command]}")
      case $value in
        "") expect "modburn-cli $command $option --" "$others" ;;  # a flag: the others follow
        FILE)
          complete_line "modburn-cli $command $option fw" | grep -qxF fw-2.3.bin ||
            fail "'$command $option' does not complete file names"
          complete_line "modburn-cli $command $option=fw" | grep -qxF fw-2.3.bin ||
            fail "'$command $option=' does not complete file names"
          ;;
        NAME) ;;  # --format, below
        *) expect "modburn-cli $command $option " "" ;;  # a number
      esac
    done <<<"${forms[$command]}"
  done

  expect 'modburn-cli program --format ' "$formats"
  expect 'modburn-cli program --format=i' "$(grep -oE '\bi[a-z0-9]*' <<<"$formats")"
  local format
  for format in $(complete_line 'modburn-cli program --format '); do
    ! "$cli" program --format "$format" --image "$work/none" 127.0.0.1 2>&1 | grep -q -- --format ||
      fail "the tool refuses --format $format"
  done
  complete_line 'modburn-cli program --image ' | grep -qxF -- - || fail "--image does not offer - (standard input)"
  expect 'modburn-cli program --json --port 5 --' "$(without --port "$(without --json "${names[program]}")")"
  expect 'modburn-cli program 192.0.2.1 -- --' ""
}

mode=bash
# shellcheck source=/dev/null
source "$completion" || { echo "cannot load $completion" >&2; exit 1; }
complete -p modburn-cli >/dev/null || fail "the file does not register a completion for modburn-cli"
run_checks

helpers=$(pkg-config --variable=completionsdir bash-completion 2>/dev/null)
helpers=${helpers%/*}/bash_completion
[ -f "$helpers" ] || helpers=/usr/share/bash-completion/bash_completion
if [ -f "$helpers" ]; then
  mode=bash-completion
  # shellcheck source=/dev/null
  source "$helpers" && source "$completion" && run_checks
fi

[ "$failures" -eq 0 ] || { echo "$failures failures" >&2; exit 1; }
echo "completion: ${#commands[@]} commands checked against modburn-cli --help (${mode})"
