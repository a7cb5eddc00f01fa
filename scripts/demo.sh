#!/usr/bin/env bash
# Installs what is missing, builds, programs three simulated devices at once
# with modburn-cli, then starts the device simulator on 127.0.0.1:4001 and the
# tool beside it, in a folder holding a sample image.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh build -DMODBURN_SANITIZE=OFF -DMODBURN_BUILD_TESTS=OFF

work=$(mktemp -d "${TMPDIR:-/tmp}/modburn-demo.XXXXXX")
cp demo/TavimorkAVRMODavr.bin "$work/"
repo=$PWD

# A fleet first: three simulators on free loopback ports, programmed at once.
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT
for i in 1 2 3; do
  ./build/tools/devsim/modburn-devsim --port 0 --realistic --flash-out "$work/fleet-flash-$i.bin" \
    >"$work/fleet-devsim-$i.log" 2>&1 &
  pids+=($!)
done
devices=()
for i in 1 2 3; do
  for _ in $(seq 50); do
    grep -q "listening on" "$work/fleet-devsim-$i.log" 2>/dev/null && break
    sleep 0.1
  done
  port=$(sed -n 's/^modburn-devsim listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/fleet-devsim-$i.log")
  [ -n "$port" ] || { cat "$work/fleet-devsim-$i.log"; exit 1; }
  devices+=("127.0.0.1:$port")
done
echo "modburn demo: programming ${devices[*]} at once with modburn-cli"
status=0
(cd "$work" && "$repo/build/src/modburn-cli" program "${devices[@]}") || status=$?
echo "modburn demo: modburn-cli ended with exit status $status"
for i in 1 2 3; do
  if cmp -s "$work/fleet-flash-$i.bin" "$work/TavimorkAVRMODavr.bin"; then
    echo "modburn demo: ${devices[$((i - 1))]} holds the image file"
  else
    echo "modburn demo: ${devices[$((i - 1))]} does not hold the image file"
  fi
done
kill "${pids[@]}" 2>/dev/null || true
wait "${pids[@]}" 2>/dev/null || true
pids=()

./build/tools/devsim/modburn-devsim --port 4001 --realistic --transcript \
  --flash-out "$work/flash-written.bin" >"$work/devsim.log" 2>&1 &
devsim=$!
pids=($devsim)
for _ in $(seq 50); do
  grep -q "listening on" "$work/devsim.log" 2>/dev/null && break
  kill -0 $devsim 2>/dev/null || { cat "$work/devsim.log"; exit 1; }
  sleep 0.1
done
echo "modburn demo: simulator on 127.0.0.1:4001 (log: $work/devsim.log); working folder $work"
echo "modburn demo: type 127.0.0.1 into the address box (the left one at the bottom) and press RUN;"
echo "modburn demo: the simulator writes what it was programmed with to $work/flash-written.bin"
(cd "$work" && "$repo/build/src/modburn")
if [ -f "$work/flash-written.bin" ]; then
  if cmp -s "$work/flash-written.bin" "$work/TavimorkAVRMODavr.bin"; then
    echo "modburn demo: the simulator's flash equals the image file"
  else
    echo "modburn demo: the simulator's flash differs from the image file"
  fi
fi
