#!/usr/bin/env bash
# The main job, from a clean clone on a fresh Debian 12 machine: builds the
# updater with the sample update of examples/sample-update embedded, installs
# the sample game (examples/sample-game) in a throwaway Wine prefix as its
# installer would, runs the updater, and prints what it changed and its exit
# code (1 when the wizard ended normally).
#
# With $DISPLAY set (and FA2_DEMO_HEADLESS unset) the updater opens on your
# display and you click through it yourself. Otherwise it runs on a private
# X server (Xvfb) and a test driver clicks through it as a player would:
# OK on the update message, 次へ, 次へ, 完了; screenshots of each page land
# in build/demo/shots.
#
# Environment: FA2_DEMO_HEADLESS=1 forces the driven run; FA2_DEMO_KEEP=1
# keeps the prefix (build/demo/prefix) afterwards; FA2_JOBS (default 2)
# limits the build's parallel jobs.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1
jobs=${FA2_JOBS:-2}
demo=$root/build/demo
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

step "Building the fa2 tool (host) and the 32-bit updater with the sample update (win32)"
logged build/demo-host.log cmake --preset host
logged build/demo-host-build.log cmake --build --preset host --target fa2 -j "$jobs"
logged build/demo-win32.log cmake --preset win32
logged build/demo-win32-build.log cmake --build --preset win32 --target updater e2e-driver -j "$jobs"
updater=$root/build/win32/bin/updater.exe
driver=$root/build/win32/bin/e2e-driver.exe
echo "updater: ${updater#"$root"/}"
build/host/bin/fa2 list "$updater" | awk -F'\t' '{ printf "  member %-12s %7d bytes  %s UTC\n", $1, $4, $6 }'

# ---- The throwaway prefix with the sample game installed --------------------

source "$root/scripts/wine-env.sh"
headless=1
if [[ -n ${DISPLAY:-} && -z ${FA2_DEMO_HEADLESS:-} ]]; then headless=0; fi

xvfb_started=0
cleanup() {
  fa2_wine_stop
  ((xvfb_started)) && fa2_xvfb_stop
  [[ -n ${FA2_DEMO_KEEP:-} ]] || rm -rf "$demo/prefix"
}
trap cleanup EXIT

step "A throwaway Wine prefix with the sample game installed"
rm -rf "$demo"
mkdir -p "$demo/shots"
if ((headless)); then
  # The X server first: the prefix's first program fixes the display.
  fa2_xvfb_start || die "Xvfb did not start"
  xvfb_started=1
fi
[[ -f $FA2_WINE_DIR/template-wow64/.complete ]] || echo "(the first run makes a template prefix: about 20 s)"
fa2_wine_prefix "$demo/prefix" || die "cannot make the Wine prefix"
if ((!headless)); then
  # On a desktop the window manager should place and decorate the windows.
  fa2_reg_add 'HKCU\Software\Wine\X11 Driver' Managed REG_SZ Y
fi

game=$DRIVE_C/SampleGame
mkdir -p "$game"
cp "$root"/examples/sample-game/* "$game/"
# Installed long before the update was made, so "u" lines replace the files.
touch -d "2020-01-01 00:00:00 UTC" "$game"/*
key='HKCU\Software\SampleSoft\SampleGame'
fa2_reg_add "$key" InstPath REG_SZ 'C:\SampleGame' || die "registry"
fa2_reg_add "$key" InstMode REG_DWORD 1 || die "registry"
fa2_reg_add "$key" DataPath REG_SZ 'C:\SampleGame\Save' || die "registry"
echo "registry: HKCU\\Software\\SampleSoft\\SampleGame  InstPath=C:\\SampleGame  InstMode=1  DataPath=C:\\SampleGame\\Save"
echo "install folder: C:\\SampleGame = ${game#"$root"/}"

# One row per file: path, size, last-write time (UTC).
listing() {
  (cd "$game" && TZ=UTC find . -type f -printf '%P\t%s\t%TY-%Tm-%Td %TH:%TM:%.2TS\n' | LC_ALL=C sort)
}
listing >"$demo/before.txt"

# ---- The run ----------------------------------------------------------------

if ((headless)); then
  step "Running the updater under Xvfb ($DISPLAY); the driver clicks through it"
  cat >"$demo/clicks.txt" <<'EOF'
start
wait-box
screenshot-box 1-update-message
answer 1
wait-wizard サンプルゲーム アップデータ Ver.1.01
screenshot-wizard 2-first-page
click 1
expect-text 1001 アップデートを実行します
screenshot-wizard 3-confirmation
click 1
expect-text 1 完了
screenshot-wizard 4-done
click 1
wait-exit any
EOF
  timeout 120 env LC_ALL="$FA2_LOCALE" "$FA2_WINE" "$driver" --program "$(fa2_winpath "$updater")" \
    --shots "$(fa2_winpath "$demo/shots")" "$(fa2_winpath "$demo/clicks.txt")" >"$demo/driver.log" 2>&1
  driver_rc=$?
  tr -d '\r' <"$demo/driver.log" | sed 's/^/  /'
  code=$(tr -d '\r' <"$demo/driver.log" | sed -n 's/^# program 1 ended with \([0-9]*\)$/\1/p')
  if ((driver_rc != 0)) || [[ -z $code ]]; then
    die "the driven run did not finish (see above)"
  fi
  for shot in "$demo"/shots/*.bmp; do
    [[ -f $shot ]] && convert "$shot" "${shot%.bmp}.png" 2>/dev/null && rm -f "$shot"
  done
else
  step "Running the updater on your display ($DISPLAY): click through the wizard"
  fa2_wine "$updater"
  code=$?
fi

# ---- What changed --------------------------------------------------------------

listing >"$demo/after.txt"
step "What the update changed in C:\\SampleGame (sizes in bytes, times UTC)"
awk -F'\t' '
  FNR == NR { size[$1] = $2; time[$1] = $3; seen[$1] = 1; next }
  {
    after[$1] = 1
    if (!($1 in seen)) state = "new"
    else if (size[$1] != $2 || time[$1] != $3) state = "updated"
    else state = "unchanged"
    before = ($1 in seen) ? sprintf("%8s  %s", size[$1], time[$1]) : sprintf("%8s  %19s", "-", "-")
    printf "  %-16s %s  ->  %8s  %s  %s\n", $1, before, $2, $3, state
  }
  END { for (f in seen) if (!(f in after)) printf "  %-16s removed\n", f }
' "$demo/before.txt" "$demo/after.txt"
((headless)) && echo "screenshots: ${demo#"$root"/}/shots"

case $code in
  1) meaning="the wizard ended normally: the update is done" ;;
  0) meaning="the update did not complete (aborted, refused or failed)" ;;
  *) meaning="unexpected" ;;
esac
echo
echo "updater exit code: $code ($meaning)"
[[ $code == 1 ]]
