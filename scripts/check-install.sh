#!/usr/bin/env bash
# Installs a built folder into a temporary prefix and checks what lands there:
# the programs and their man pages, the desktop entry, the icon, the AppStream
# metainfo and modburn-cli's bash completion; the command-line programs answer
# --help and the window starts.
# Usage: scripts/check-install.sh [build folder, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

tmp=$(mktemp -d "${TMPDIR:-/tmp}/modburn-install.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
root=$tmp/usr
cmake --install "$build" --prefix "$root" >"$tmp/install.log"

fail() {
  echo "check-install: $*" >&2
  exit 1
}

for f in bin/modburn bin/modburn-devsim; do
  [ -x "$root/$f" ] || fail "$f missing or not executable"
done
for f in share/applications/modburn.desktop share/icons/hicolor/scalable/apps/modburn.svg share/doc/modburn/copyright; do
  [ -f "$root/$f" ] || fail "$f missing"
done
# Where bash-completion loads it on demand, and it registers itself when loaded.
if [ -e "$root/bin/modburn-cli" ]; then
  completion=share/bash-completion/completions/modburn-cli
  [ -f "$root/$completion" ] || fail "$completion missing"
  bash -c 'source "$1" && complete -p modburn-cli' _ "$root/$completion" >/dev/null 2>&1 ||
    fail "$completion does not register a completion for modburn-cli"
fi
metainfo=$(find "$root/share/metainfo" -name '*.metainfo.xml' 2>/dev/null | head -n 1)
[ -n "$metainfo" ] || fail "no metainfo in share/metainfo"

# Every installed program has a man page that renders cleanly.
for program in "$root"/bin/*; do
  name=$(basename "$program")
  page=$(find "$root/share/man/man1" -name "$name.1*" 2>/dev/null | head -n 1)
  [ -n "$page" ] || fail "bin/$name has no man page (add packaging/man/$name.1.in)"
  if command -v groff >/dev/null; then
    warnings=$(zcat -f "$page" | LC_ALL=C.UTF-8 groff -man -ww -z -Tutf8 2>&1)
    [ -z "$warnings" ] || fail "man page of $name: $warnings"
  fi
done

desktop-file-validate "$root/share/applications/modburn.desktop" || fail "desktop entry invalid"
appstreamcli validate --no-net --pedantic "$metainfo" >"$tmp/appstream.log" 2>&1 ||
  fail "metainfo invalid: $(cat "$tmp/appstream.log")"
grep -q '<launchable type="desktop-id">modburn.desktop</launchable>' "$metainfo" ||
  fail "metainfo does not launch modburn.desktop"

# The command-line programs run from there, and each man page names every
# option that the program's --help lists.
for program in "$root"/bin/*; do
  name=$(basename "$program")
  [ "$name" != modburn ] || continue
  help=$("$program" --help) || fail "$name --help failed"
  page=$(zcat -f "$root/share/man/man1/$name".1*)
  for option in $(grep -oE -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
    grep -qF -- "${option//-/\\-}" <<<"$page" || fail "man page of $name lacks $option"
  done
done

# The window has no options: it must start offscreen and stay up until the
# timeout ends it (exit 124); an earlier exit is a failure.
mkdir "$tmp/work"
status=0
(cd "$tmp/work" && QT_QPA_PLATFORM=offscreen timeout 3 "$root/bin/modburn") >"$tmp/window.log" 2>&1 || status=$?
if [ "$status" -ne 124 ]; then
  cat "$tmp/window.log" >&2
  fail "the installed window exited early with status $status"
fi

echo "check-install: $(find "$root" -type f | wc -l) files installed and checked"
