#!/usr/bin/env bash
# Installs what is missing, builds, then starts the device simulator on
# 127.0.0.1:4001 and the tool beside it, in a folder holding a sample image.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh build -DMODBURN_SANITIZE=OFF -DMODBURN_BUILD_TESTS=OFF

work=$(mktemp -d "${TMPDIR:-/tmp}/modburn-demo.XXXXXX")
cp demo/TavimorkAVRMODavr.bin "$work/"
./build/tools/devsim/modburn-devsim --port 4001 --realistic --transcript \
  --flash-out "$work/flash-written.bin" >"$work/devsim.log" 2>&1 &
devsim=$!
trap 'kill $devsim 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  grep -q "listening on" "$work/devsim.log" 2>/dev/null && break
  kill -0 $devsim 2>/dev/null || { cat "$work/devsim.log"; exit 1; }
  sleep 0.1
done
echo "modburn demo: simulator on 127.0.0.1:4001 (log: $work/devsim.log); working folder $work"
echo "modburn demo: type 127.0.0.1 into the address box (the left one at the bottom) and press RUN;"
echo "modburn demo: the simulator writes what it was programmed with to $work/flash-written.bin"
repo=$PWD
(cd "$work" && "$repo/build/src/modburn")
if [ -f "$work/flash-written.bin" ]; then
  if cmp -s "$work/flash-written.bin" "$work/TavimorkAVRMODavr.bin"; then
    echo "modburn demo: the simulator's flash equals the image file"
  else
    echo "modburn demo: the simulator's flash differs from the image file"
  fi
fi
