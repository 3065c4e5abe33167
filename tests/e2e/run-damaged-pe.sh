#!/usr/bin/env bash
# The damaged-updater run under Wine: copies of the real updater with damage
# to the resource data entry, the resource directory, the section table and
# the PE headers (tests/e2e/damage_pe.py), each started over an installed
# sample game and answered the first way until it ends.
#
# Every variant must end without a crash (no "Unhandled" report, no hang),
# show only texts the undamaged updater shows or its own start-up failures,
# and leave the game and the temporary folders exactly as they were. A
# variant the system refuses to load at all counts as "not loaded".
#
# Usage: run-damaged-pe.sh <e2e-driver.exe> <updater.exe> <work folder> [random count]
# Exit: 0 passed, 1 failed, 77 when Wine is not there.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../../scripts/wine-env.sh"
source "$here/scenario-lib.sh"

DRIVER=$(realpath "$1") UPDATER=$(realpath "$2") WORK=$(realpath -m "$3") count=${4:-12}
fa2_wine_available || { echo "Wine or Xvfb not there: skipped"; exit 77; }
fa2_skip_without_32bit

fa2_run_in "$WORK" || exit 1
mkdir -p "$WORK/variants"
fa2_install_game || exit 1
fa2_reg_add 'HKCU\Software\SampleSoft\SampleGame' DataPath REG_SZ 'C:\SampleGame\Save' || exit 1

python3 "$here/damage_pe.py" "$UPDATER" "$WORK/variants" "$count" >"$WORK/variants.txt" || exit 1
printf 'start\ntimeout 30000\nanswer-until-exit\n' >"$WORK/script.txt"

# The game folder and the temporary folders, as names, sizes and checksums.
state() {
  (cd "$DRIVE_C" && find SampleGame users windows/temp -type f -printf '%p %s\n' 2>/dev/null | LC_ALL=C sort
   find SampleGame -type f -exec md5sum {} + | LC_ALL=C sort)
}
state >"$WORK/before.txt"

# One run: its driver log in WORK/<name>.log; prints its boxes, one per line.
run() { # name exe
  timeout 120 env LC_ALL="$FA2_LOCALE" "$FA2_WINE" "$DRIVER" --program "$(fa2_winpath "$2")" \
    "$(fa2_winpath "$WORK/script.txt")" >"$WORK/$1.log" 2>&1
  echo $? >"$WORK/$1.rc"
  tr -d '\r' <"$WORK/$1.log" | sed -n 's/^# box: //p'
}

# The control: what the undamaged updater shows when its wizard is closed.
run control "$UPDATER" >"$WORK/allowed.txt"
grep -q '^# wizard' <(tr -d '\r' <"$WORK/control.log") || { echo "FAIL the undamaged updater opened no wizard"; cat "$WORK/control.log"; exit 1; }
printf '%s\n' "RESOURCE READ ERROR" "Can't Find File in Resource !!" "Can't Allocate Memory !!" \
  "COULD NOT MAP SOME FUNCTIONS" >>"$WORK/allowed.txt"

fails=0 ran=0
declare -A outcomes=()
while IFS=$'\t' read -r name what kind; do
  ran=$((ran + 1))
  boxes=$(run "$name" "$WORK/variants/$name.exe")
  log=$(tr -d '\r' <"$WORK/$name.log")
  rc=$(cat "$WORK/$name.rc")
  problem=
  if [[ $kind == not-pe ]] && grep -q '^# program 1 ended\|cannot start' <<<"$log"; then
    # No PE header where the DOS header points: the system runs it as a DOS
    # program or not at all, and the updater's code never runs.
    outcome="not a Windows program (the system refuses it)"
  elif grep -qiE 'unhandled|page fault|exception' <<<"$log"; then
    problem="crashed"
  elif ((rc != 0)) && grep -qiE 'cannot start' <<<"$log"; then
    outcome="not loaded"
  elif ((rc != 0)); then
    problem="the driver failed ($rc)"
  elif ! grep -qxE '# program 1 ended with [01]' <<<"$log"; then
    problem="$(grep '^# program 1 ended' <<<"$log" || echo 'no exit'): the updater exits only with 0 or 1"
  else
    outcome=$(sed -n 's/^# program 1 ended with /exit /p' <<<"$log")
    [[ -n $boxes ]] && outcome+=", $(head -1 <<<"$boxes")"
  fi
  while IFS= read -r box; do
    [[ -z $box ]] && continue
    grep -qxF -- "$box" "$WORK/allowed.txt" || problem+="${problem:+; }unexpected box: $box"
  done <<<"$boxes"
  state >"$WORK/after.txt"
  cmp -s "$WORK/before.txt" "$WORK/after.txt" || problem+="${problem:+; }files changed: $(diff "$WORK/before.txt" "$WORK/after.txt" | head -3 | tr '\n' ' ')"
  if [[ -n $problem ]]; then
    echo "FAIL $name ($what): $problem"
    sed 's/^/    /' <<<"$log" | head -20
    fails=$((fails + 1))
  else
    echo "ok   $name ($what): $outcome"
    outcomes[$outcome]=$((${outcomes[$outcome]:-0} + 1))
  fi
done <"$WORK/variants.txt"

echo "damaged updaters: $ran variants, $fails failed, crashes: $(grep -l -iE 'unhandled|page fault' "$WORK"/*.log 2>/dev/null | wc -l)"
for o in "${!outcomes[@]}"; do echo "  ${outcomes[$o]} x $o"; done
((fails == 0))
