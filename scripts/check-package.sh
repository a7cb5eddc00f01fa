#!/usr/bin/env bash
# Builds the Debian package from a built folder with CPack and checks its
# control fields and contents.
# Usage: scripts/check-package.sh [build folder, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")

fail() {
  echo "check-package: $*" >&2
  exit 1
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"
deb=$build/modburn_${version}_amd64.deb
rm -f "$deb"
(cd "$build" && cpack -G DEB) >"$build/cpack.log" 2>&1 || {
  tail -n 20 "$build/cpack.log" >&2
  fail "cpack failed (full output: $build/cpack.log)"
}
[ -f "$deb" ] || fail "cpack made no $(basename "$deb")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = modburn ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Architecture)" = amd64 ] || fail "Architecture is '$(field Architecture)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Section)" ] || fail "no Section"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
names=$(sed 's/ *([^)]*)//g; s/, */\n/g' <<<"$depends")
for dep in fonts-noto-cjk libqt6widgets6 libqt6network6 libqt6core6 libc6 libstdc++6; do
  grep -qxF "$dep" <<<"$names" || fail "Depends lacks $dep: $depends"
done

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/modburn ./usr/bin/modburn-devsim \
  ./usr/share/applications/modburn.desktop \
  ./usr/share/icons/hicolor/scalable/apps/modburn.svg \
  ./usr/share/man/man1/modburn.1.gz ./usr/share/man/man1/modburn-devsim.1.gz \
  ./usr/share/doc/modburn/copyright; do
  grep -qxF "$f" <<<"$contents" || fail "the package lacks $f"
done
if grep -qxF ./usr/bin/modburn-cli <<<"$contents"; then
  grep -qxF ./usr/share/bash-completion/completions/modburn-cli <<<"$contents" ||
    fail "the package lacks modburn-cli's bash completion"
fi
dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/modburn/copyright | grep -qx 'License: MIT' ||
  fail "the package's copyright file does not say MIT"
grep -qE '^\./usr/share/metainfo/[^/]+\.metainfo\.xml$' <<<"$contents" || fail "the package lacks its metainfo"
for program in $(grep -E '^\./usr/bin/[^/]+$' <<<"$contents"); do
  grep -qxF "./usr/share/man/man1/$(basename "$program").1.gz" <<<"$contents" || fail "$program has no man page"
done
# Nothing of the tests, benchmarks or static libraries.
if grep -qE '\.a$|/include/|tst_|_bench$' <<<"$contents"; then
  fail "the package holds build leftovers: $(grep -E '\.a$|/include/|tst_|_bench$' <<<"$contents" | head -n 3)"
fi

echo "check-package: $(basename "$deb") ($(du -k "$deb" | cut -f1) KB), Depends: $depends"
