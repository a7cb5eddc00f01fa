#!/usr/bin/env bash
# Installs the Debian packages that modburn needs, only those that are missing.
# Usage: scripts/deps.sh [extra packages...]
set -euo pipefail

packages=(cmake g++ ninja-build qt6-base-dev fonts-noto-cjk "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "modburn: missing packages: ${missing[*]}; run this as root (or with sudo) to install them" >&2
  exit 1
fi
echo "modburn: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
