#!/usr/bin/env bash
# Retakes docs/screenshot.png: the window after a finished run against the
# simulator, on a virtual X display. Needs the tools of the screenshot only
# (Xvfb, xdotool, ImageMagick), which it installs when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
missing=()
for pair in xvfb-run:xvfb xauth:xauth xdotool:xdotool import:imagemagick; do
  command -v "${pair%%:*}" >/dev/null 2>&1 || missing+=("${pair#*:}")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi
[ -x build/src/modburn ] || bash scripts/build.sh build -DMODBURN_BUILD_TESTS=OFF

work=$(mktemp -d "${TMPDIR:-/tmp}/modburn-shot.XXXXXX")
cp demo/TavimorkAVRMODavr.bin "$work/"
./build/tools/devsim/modburn-devsim --port 4001 --realistic >"$work/devsim.log" 2>&1 &
devsim=$!
trap 'kill $devsim 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  grep -q "listening on" "$work/devsim.log" && break
  sleep 0.1
done
port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/devsim.log")

cat >"$work/shoot.sh" <<SHOT
set -eu
cd "$work"
"$PWD/build/src/modburn" &
app=\$!
for _ in \$(seq 50); do xdotool search --name '^modburn\$' >/dev/null 2>&1 && break; sleep 0.1; done
win=\$(xdotool search --name '^modburn\$' | head -1)
xdotool windowmove \$win 0 0
sleep 0.5
# The address box is at the window's bottom left, the port box right of it.
xdotool mousemove 70 219 click --repeat 3 1 type --delay 20 127.0.0.1
xdotool mousemove 255 219 click --repeat 3 1 type --delay 20 $port
# RUN
xdotool mousemove 84 164 click 1
sleep 4
import -window root -crop 312x239+0+0 "$PWD/docs/screenshot.png"
kill \$app
SHOT
xvfb-run -a -s "-screen 0 640x400x24" bash "$work/shoot.sh"
echo "docs/screenshot.png retaken"
