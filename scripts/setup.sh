#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages. Does
# nothing when everything is already there. The Wine the tests use is not
# Debian 12's: scripts/wine-wow64.sh sets up Debian 13's Wine 10 beside the
# system, which runs 32-bit programs without any i386 package (this machine's
# kernel runs no 32-bit Linux program; never add the i386 architecture or
# install wine32).
set -euo pipefail

packages=(
  cmake ninja-build g++ gcc libgtest-dev libgmock-dev libbenchmark-dev
  liblz4-dev zlib1g-dev libdeflate-dev libucl-dev libssl-dev python3
  clang lld libclang-rt-14-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  debootstrap debian-archive-keyring xvfb xdotool imagemagick fonts-ipafont-gothic locales bc time
  osslsigncode openssl
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
