#!/usr/bin/env bash
# Runs one end-to-end scenario: a fresh Wine prefix, a private X server, the
# updater started and driven by e2e-driver.exe, then the scenario's checks.
#
# Usage: run-scenario.sh --driver <e2e-driver.exe> --updater <updater.exe>
#                        --work <folder> --fa2 <host fa2> [--stub <stub.exe>]
#                        [--variant <name>] <scenario.txt>
#
# <scenario.txt> is the driver script. Beside it, <scenario>.sh, when
# present, is sourced after the prefix exists and before the updater starts;
# it sees the functions of scripts/wine-env.sh and tests/e2e/scenario-lib.sh
# and these variables:
#   WINEPREFIX, DRIVE_C   the prefix and its drive C:
#   WORK                  this run's folder (screenshots land in WORK/shots)
#   UPDATER               the program the driver starts (may be replaced)
#   FA2, STUB             the host fa2 tool and updater-stub.exe, to make
#                         updaters with archives of the scenario's own
#   VARIANT               --variant, empty without it
# and may define `verify`, run after the driver passed (non-zero, or a
# failed fa2_check, fails).
#
# The driver script may name shell variables as @NAME@ (upper case): they are
# replaced with the values the setup gave them. The driver's "signal NAME"
# reaches the setup's fa2_on_signal handlers through WORK/signals.
#
# A setup containing the line "# e2e: mounts" runs, with everything it
# starts, in a private mount namespace (unshare -m), where it may mount small
# file systems; without root or namespaces the scenario is skipped.
#
# After every run, whatever the scenario, no temporary description
# (UPDATE*.INI) may be left in the prefix's temporary folders.
#
# Every scenario checks `fa2 plan` too (scenario-plan.sh): after the setup the
# plan of UPDATER on the game the setup installed is saved as WORK/plan.txt,
# and once the driver passed (and after verify) it is compared with what
# program 1 of the script did. A setup or script with the line
# "# e2e: no plan: REASON" is not compared.
#
# The exit code is the driver's (0 passed, 1 failed, 2 script error),
# 1 when a check failed, 77 when skipped (Wine, Xvfb or namespaces missing).
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../../scripts/wine-env.sh"

source "$here/scenario-lib.sh"
source "$here/scenario-plan.sh"

arguments=("$@")
DRIVER= UPDATER= WORK= FA2= STUB= VARIANT= scenario=
while (($#)); do
  case $1 in
    --driver) DRIVER=$2; shift 2 ;;
    --updater) UPDATER=$2; shift 2 ;;
    --work) WORK=$2; shift 2 ;;
    --fa2) FA2=$2; shift 2 ;;
    --stub) STUB=$2; shift 2 ;;
    --variant) VARIANT=$2; shift 2 ;;
    *) scenario=$1; shift ;;
  esac
done
if [[ -z $DRIVER || -z $UPDATER || -z $WORK || -z $FA2 || -z $scenario ]]; then
  echo "usage: run-scenario.sh --driver EXE --updater EXE --work DIR --fa2 FA2 SCENARIO.txt" >&2
  exit 2
fi
fa2_wine_available || { echo "Wine or Xvfb not installed: skipped"; exit 77; }
fa2_skip_without_32bit

scenario=$(realpath "$scenario")
WORK=$(realpath -m "$WORK")
DRIVER=$(realpath "$DRIVER")
UPDATER=$(realpath -m "$UPDATER")
FA2=$(realpath "$FA2")
[[ -n $STUB ]] && STUB=$(realpath "$STUB")
setup=${scenario%.txt}.sh
started=$SECONDS

if [[ -f $setup ]] && grep -q '^# e2e: mounts' "$setup" && [[ -z ${FA2_E2E_NAMESPACE:-} ]]; then
  if [[ $(id -u) -ne 0 ]] || ! unshare -m --propagation private true 2>/dev/null; then
    echo "needs root and mount namespaces (unshare -m): skipped"
    exit 77
  fi
  FA2_E2E_NAMESPACE=1 exec unshare -m --propagation private bash "$here/run-scenario.sh" "${arguments[@]}"
fi

rm -rf "$WORK"
mkdir -p "$WORK/shots" "$WORK/signals"
cleanup() {
  fa2_stop_watchers
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

# @NAME@ in the driver script: the setup's values.
script=$scenario
shopt -u patsub_replacement 2>/dev/null # an "&" in a value stays itself
if grep -q '@[A-Z][A-Z0-9_]*@' "$scenario"; then
  script=$WORK/script.txt
  : >"$script"
  while IFS= read -r line || [[ -n $line ]]; do
    while [[ $line =~ @([A-Z][A-Z0-9_]*)@ ]]; do
      name=${BASH_REMATCH[1]}
      if [[ -z ${!name+set} ]]; then
        echo "FAIL the script names @$name@, which the setup did not set"
        exit 2
      fi
      line=${line//"@$name@"/${!name}}
    done
    printf '%s\n' "$line" >>"$script"
  done <"$scenario"
fi

fa2_plan_prepare "$script" "$scenario" "$setup"

echo "scenario $(basename "$scenario")${VARIANT:+ ($VARIANT)}: prefix ready after $((SECONDS - started)) s"
cd "$WORK" || exit 1
timeout 300 env LC_ALL="$FA2_LOCALE" "$FA2_WINE" "$DRIVER" --program "$(fa2_winpath "$UPDATER")" \
  --shots "$(fa2_winpath "$WORK/shots")" --signals "$(fa2_winpath "$WORK/signals")" \
  ${FA2_PLAN_SIGNAL:+--first-exit "$FA2_PLAN_SIGNAL"} \
  --code-page "$(fa2_code_page)" "$(fa2_winpath "$script")" >"$WORK/driver.log" 2>&1
rc=$?
driver_rc=$rc
tr -d '\r' <"$WORK/driver.log"
((rc == 124)) && echo "FAIL the driver timed out"

if ((rc == 0)) && declare -F verify >/dev/null; then
  if ! verify || ((FA2_FAILURES > 0)); then
    echo "FAIL verify"
    rc=1
  fi
fi
if ((driver_rc == 0)); then
  failures=$FA2_FAILURES
  fa2_plan_compare
  if ((FA2_FAILURES > failures)); then
    echo "FAIL the plan (WORK/plan.txt) and the run disagree"
    rc=1
  fi
fi
# Every path of the updater deletes its temporary description.
if ((rc == 0)); then
  left=$(fa2_temporary_descriptions)
  if [[ -n $left ]]; then
    echo "FAIL temporary description left behind: $left"
    rc=1
  else
    echo "ok   no temporary description left in the prefix"
  fi
fi

# Screenshots as PNG when ImageMagick is there.
if command -v convert >/dev/null; then
  for shot in "$WORK"/shots/*.bmp; do
    [[ -f $shot ]] && convert "$shot" "${shot%.bmp}.png" && rm -f "$shot"
  done
fi
echo "scenario $(basename "$scenario")${VARIANT:+ ($VARIANT)}: exit $rc after $((SECONDS - started)) s"
exit $rc
