#!/usr/bin/env bash
# Runs one end-to-end scenario: a fresh Wine prefix, a private X server, the
# updater started and driven by e2e-driver.exe, then the scenario's checks.
#
# Usage: run-scenario.sh --driver <e2e-driver.exe> --updater <updater.exe>
#                        --work <folder> <scenario.txt>
#
# <scenario.txt> is the driver script. Beside it, <scenario>.sh, when
# present, is sourced after the prefix exists and before the updater starts;
# it sees the functions of scripts/wine-env.sh and these variables:
#   WINEPREFIX, DRIVE_C   the prefix and its drive C:
#   WORK                  this run's folder (screenshots land in WORK/shots)
#   UPDATER               the program the driver starts (may be replaced)
# and may define `verify`, run after the driver passed (non-zero fails).
# The exit code is the driver's (0 passed, 1 failed, 2 script error),
# 1 when verify failed, 77 when Wine or Xvfb is not installed.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../../scripts/wine-env.sh"

DRIVER= UPDATER= WORK= scenario=
while (($#)); do
  case $1 in
    --driver) DRIVER=$2; shift 2 ;;
    --updater) UPDATER=$2; shift 2 ;;
    --work) WORK=$2; shift 2 ;;
    *) scenario=$1; shift ;;
  esac
done
if [[ -z $DRIVER || -z $UPDATER || -z $WORK || -z $scenario ]]; then
  echo "usage: run-scenario.sh --driver EXE --updater EXE --work DIR SCENARIO.txt" >&2
  exit 2
fi
fa2_wine_available || { echo "Wine or Xvfb not installed: skipped"; exit 77; }

scenario=$(realpath "$scenario")
WORK=$(realpath -m "$WORK")
DRIVER=$(realpath "$DRIVER")
UPDATER=$(realpath -m "$UPDATER")
setup=${scenario%.txt}.sh
started=$SECONDS

rm -rf "$WORK"
mkdir -p "$WORK/shots"
cleanup() {
  fa2_wine_stop
  fa2_xvfb_stop
  [[ -n ${FA2_KEEP_PREFIX:-} ]] || rm -rf "$WORK/prefix"
}
trap cleanup EXIT

# The X server comes first: the first Wine process of the prefix (maybe a
# registry call of the setup) fixes the display for every later one.
fa2_xvfb_start || exit 1
fa2_wine_prefix "$WORK/prefix" || { echo "cannot make the Wine prefix"; exit 1; }
if [[ -f $setup ]]; then
  source "$setup" || { echo "scenario setup failed: $setup"; exit 1; }
fi

echo "scenario $(basename "$scenario"): prefix ready after $((SECONDS - started)) s"
cd "$WORK" || exit 1
timeout 300 env LC_ALL=ja_JP.UTF-8 "$FA2_WINE" "$DRIVER" --program "$(fa2_winpath "$UPDATER")" \
  --shots "$(fa2_winpath "$WORK/shots")" "$(fa2_winpath "$scenario")" >"$WORK/driver.log" 2>&1
rc=$?
tr -d '\r' <"$WORK/driver.log"
((rc == 124)) && echo "FAIL the driver timed out"

if ((rc == 0)) && declare -F verify >/dev/null; then
  if ! verify; then
    echo "FAIL verify"
    rc=1
  fi
fi

# Screenshots as PNG when ImageMagick is there.
if command -v convert >/dev/null; then
  for shot in "$WORK"/shots/*.bmp; do
    [[ -f $shot ]] && convert "$shot" "${shot%.bmp}.png" && rm -f "$shot"
  done
fi
echo "scenario $(basename "$scenario"): exit $rc after $((SECONDS - started)) s"
exit $rc
