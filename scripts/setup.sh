#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages. Does
# nothing when everything is already there. Never adds the i386 architecture
# or wine32: this machine runs no 32-bit programs, and with wine32 present
# /usr/bin/wine picks the 32-bit loader.
set -euo pipefail

packages=(
  cmake ninja-build g++ gcc libgtest-dev libgmock-dev libbenchmark-dev
  liblz4-dev zlib1g-dev libdeflate-dev libucl-dev python3
  clang lld libclang-rt-14-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 xvfb xdotool imagemagick fonts-ipafont-gothic fonts-wine locales
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "setup: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
