#!/usr/bin/env bash
# Makes the package a publisher downloads, build/release/fa2updater-<version>.tar.gz,
# one folder fa2updater-<version>/ with everything needed to make, try and
# ship an update and nothing else:
#   fa2, fa2.exe           the tool for Linux (x86_64) and for Windows
#   updater-stub.exe       the 32-bit updater without an archive (fa2 build)
#   README.md, docs/       (the pages and screenshots it links to)
#   sample-update/         an update folder to start from
#   sample-game/, sample-data/   an installed copy of the sample game (files
#                          dated 2020) and its data folder, to try it on
#   e2e-driver.exe, scripts/try-update.sh, scripts/wine-env.sh,
#   scripts/wine-wow64.sh, scripts/runs-32bit.sh (with its probe, built)
#                          what 'fa2 try' needs (Linux)
#   x64/updater-stub.exe, x64/e2e-driver.exe   the x86_64 builds, which
#                          'fa2 try' runs where the kernel runs no 32-bit code
# The programs are stripped. <version> is FA2_VERSION, else `git describe`.
#
# Usage: scripts/release.sh [--no-build] [-o DIR]
#   --no-build  package what build/host, build/win32 and build/win64 hold
#               (no cmake run; without build/win64, no x64/)
#   -o DIR      where the .tar.gz goes (default build/release)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=1 out=$root/build/release
while (($#)); do
  case $1 in
    --no-build) build=0; shift ;;
    -o) out=$2; shift 2 ;;
    *) echo "usage: scripts/release.sh [--no-build] [-o DIR]" >&2; exit 2 ;;
  esac
done
jobs=${FA2_JOBS:-2}
cd "$root"

if ((build)); then
  scripts/setup.sh
  for preset in host win32 win64; do
    echo "== building $preset"
    cmake --preset "$preset" >"build/release-$preset.log" 2>&1 || { cat "build/release-$preset.log"; exit 1; }
  done
  cmake --build --preset host --target fa2 -j "$jobs" >>build/release-host.log 2>&1 || { tail -30 build/release-host.log; exit 1; }
  cmake --build --preset win32 --target fa2 updater-stub e2e-driver -j "$jobs" >>build/release-win32.log 2>&1 ||
    { tail -30 build/release-win32.log; exit 1; }
  cmake --build --preset win64 --target updater-stub e2e-driver -j "$jobs" >>build/release-win64.log 2>&1 ||
    { tail -30 build/release-win64.log; exit 1; }
fi

version=${FA2_VERSION:-$(git describe --tags --always --dirty 2>/dev/null || date -u +%Y%m%d)}
name=fa2updater-$version
for f in build/host/bin/fa2 build/win32/bin/fa2.exe build/win32/bin/updater-stub.exe build/win32/bin/e2e-driver.exe; do
  [[ -f $f ]] || { echo "release: $f is missing (build the host and win32 presets, or drop --no-build)" >&2; exit 1; }
done

mkdir -p "$out"
out=$(cd "$out" && pwd)
staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
p=$staging/$name
mkdir -p "$p/scripts"
strip -o "$p/fa2" build/host/bin/fa2
cp build/win32/bin/fa2.exe build/win32/bin/updater-stub.exe "$p/"
i686-w64-mingw32-strip -o "$p/e2e-driver.exe" build/win32/bin/e2e-driver.exe
cp scripts/try-update.sh scripts/wine-env.sh scripts/wine-wow64.sh scripts/runs-32bit.sh scripts/probe-32bit.c "$p/scripts/"
cc -O2 -o "$p/scripts/probe-32bit" scripts/probe-32bit.c
if [[ -f build/win64/bin/updater-stub.exe && -f build/win64/bin/e2e-driver.exe ]]; then
  mkdir -p "$p/x64"
  cp build/win64/bin/updater-stub.exe "$p/x64/"
  x86_64-w64-mingw32-strip -o "$p/x64/e2e-driver.exe" build/win64/bin/e2e-driver.exe
else
  echo "release: no build/win64: the package has no x64/ (fa2 try needs it where the kernel runs no 32-bit code)" >&2
fi
cp -r README.md docs "$p/"
cp -r examples/sample-update examples/sample-game examples/sample-data "$p/"
# The installed game predates the update, as on a player's machine.
touch -d "2020-01-01 00:00:00 UTC" "$p"/sample-game/* "$p"/sample-data/*
tar -C "$staging" --owner=0 --group=0 -czf "$out/$name.tar.gz" "$name"
echo "$out/$name.tar.gz"
