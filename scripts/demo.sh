#!/usr/bin/env bash
# The main job, from a clean clone on a fresh Debian 12 machine: builds the
# fa2 tool and the updater with the sample update of examples/sample-update
# embedded, then tries it with 'fa2 try': the sample game (examples/sample-game,
# its files dated 2020 as if installed long ago) and its data folder
# (examples/sample-data) installed in a throwaway Wine prefix, the updater
# run, and what it changed printed with its exit code (1 when the wizard
# ended normally).
#
# With $DISPLAY set (and FA2_DEMO_HEADLESS unset) the updater opens on your
# display and you click through it yourself. Otherwise it runs on a private
# X server (Xvfb) and is driven as a player would: OK on the update message,
# 次へ, 次へ, 完了; screenshots of each step land in build/demo/shots.
#
# Where the kernel runs no 32-bit code (scripts/runs-32bit.sh; FA2_NO_32BIT=1
# makes the answer no anywhere), 'fa2 try' tries the same archive in the
# x86_64 updater (the win64 build's stub), and says so.
#
# Environment: FA2_DEMO_HEADLESS=1 forces the driven run; FA2_DEMO_KEEP=1
# keeps the Wine prefix afterwards; FA2_JOBS (default 2) limits the build's
# parallel jobs.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1
jobs=${FA2_JOBS:-2}
demo=build/demo
mkdir -p "$root/build"

step() { printf '\n== %s\n' "$*"; }
die() { echo "demo: $*" >&2; exit 1; }

# Runs a command with its output in a log; shows the log's end on failure.
logged() {
  local log=$1
  shift
  if ! "$@" >"$log" 2>&1; then
    tail -40 "$log" >&2
    die "failed: $* (log: ${log#"$root"/})"
  fi
}

step "Packages (scripts/setup.sh: installs only what is missing)"
scripts/setup.sh || die "installing the packages failed"

step "The Wine that runs 32-bit programs (scripts/wine-wow64.sh: set up once, about 2 minutes)"
scripts/wine-wow64.sh >/dev/null || die "setting up the WoW64 Wine failed"

step "Can this machine run the 32-bit updater? (scripts/runs-32bit.sh)"
if FA2_RUNS_32BIT_WHY=$(scripts/runs-32bit.sh); then FA2_RUNS_32BIT=yes; else FA2_RUNS_32BIT=no; fi
export FA2_RUNS_32BIT FA2_RUNS_32BIT_WHY
echo "$FA2_RUNS_32BIT_WHY"

step "Building the fa2 tool (host) and the 32-bit updater with the sample update (win32)"
logged build/demo-host.log cmake --preset host
logged build/demo-host-build.log cmake --build --preset host --target fa2 -j "$jobs"
logged build/demo-win32.log cmake --preset win32
logged build/demo-win32-build.log cmake --build --preset win32 --target updater e2e-driver -j "$jobs"
if [[ $FA2_RUNS_32BIT == no ]]; then
  step "Building the x86_64 updater stub and driver (win64), which run where 32-bit code does not"
  logged build/demo-win64.log cmake --preset win64
  logged build/demo-win64-build.log cmake --build --preset win64 --target updater-stub e2e-driver -j "$jobs"
fi
updater=$root/build/win32/bin/updater.exe
echo "updater: ${updater#"$root"/}"
build/host/bin/fa2 list "$updater" | awk -F'\t' '{ printf "  member %-12s %7d bytes  %s UTC\n", $1, $4, $6 }'

# ---- The sample game, installed long before the update, and the run ---------

rm -rf "$demo"
mkdir -p "$demo/game"
cp examples/sample-game/* "$demo/game/"
touch -d "2020-01-01 00:00:00 UTC" "$demo"/game/*
options=(--game "$demo/game" --data examples/sample-data --mode 1 --shots "$demo/shots")
if [[ -z ${DISPLAY:-} || -n ${FA2_DEMO_HEADLESS:-} ]]; then options+=(--headless); fi
[[ -n ${FA2_DEMO_KEEP:-} ]] && options+=(--keep)
step "build/host/bin/fa2 try ${updater#"$root"/} ${options[*]}"
exec build/host/bin/fa2 try "$updater" "${options[@]}"
