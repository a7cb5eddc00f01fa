#!/usr/bin/env bash
# Installs the Debian packages that modburn needs, only those that are missing.
# Usage: scripts/deps.sh [--checks] [--package] [extra packages...]
#   --checks   also what scripts/test.sh uses: Clang with its sanitizer runtime,
#              clang-format, clang-tidy, the desktop-entry and AppStream
#              checkers, Ansible with its SSH client and ansible-lint for the
#              rollout tests, the AVR toolchain that makes the image test's
#              files, and bash-completion, whose helpers the completion test
#              also runs on
#   --package  also what building the Debian package takes
set -euo pipefail

packages=(cmake g++ ninja-build pkg-config qt6-base-dev libsrecord-dev libboost-dev libelf-dev fonts-noto-cjk)
for arg in "$@"; do
  case $arg in
    --checks) packages+=(clang libclang-rt-14-dev clang-format clang-tidy desktop-file-utils appstream groff-base ansible-core ansible-lint openssh-client gcc-avr binutils-avr avr-libc bash-completion) ;;
    --package) packages+=(dpkg-dev file) ;;
    *) packages+=("$arg") ;;
  esac
done
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
