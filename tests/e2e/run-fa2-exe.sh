#!/usr/bin/env bash
# fa2.exe, the tool publishers run on Windows, under Wine: --help answers
# with the synopsis and exit 0, and `list` of a built updater prints what the
# host fa2 prints for it.
# Usage: run-fa2-exe.sh <fa2.exe> <updater.exe> <host fa2> <work folder>
# Exit: 0 passed, 1 failed, 77 when Wine is not there.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../../scripts/wine-env.sh"

fa2_exe=$(realpath "$1") updater=$(realpath "$2") host_fa2=$(realpath "$3") WORK=$(realpath -m "$4")
fa2_wine_available || { echo "Wine not there: skipped"; exit 77; }
fa2_skip_without_32bit

fa2_run_in "$WORK" || exit 1

fails=0
run() { # name, arguments...: fa2.exe's output (CR LF removed) in WORK/<name>.out
  local name=$1
  shift
  timeout 120 env LC_ALL="$FA2_LOCALE" "$FA2_WINE" "$fa2_exe" "$@" >"$WORK/$name.out" 2>"$WORK/$name.err"
  local rc=$?
  sed -i 's/\r$//' "$WORK/$name.out"
  return $rc
}
check() { if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; fails=$((fails + 1)); fi; }

run help --help
check "fa2.exe --help exits 0" "[ $? -eq 0 ]"
check "fa2.exe --help lists the commands" "grep -q '^  list ' '$WORK/help.out'"
run list list "$(fa2_winpath "$updater")"
check "fa2.exe list exits 0" "[ $? -eq 0 ]"
"$host_fa2" list "$updater" >"$WORK/host-list.out"
check "fa2.exe list prints what the host fa2 prints" "diff -u '$WORK/host-list.out' '$WORK/list.out'"
((fails)) && { echo "stderr of the runs:"; cat "$WORK"/*.err; }
exit $((fails ? 1 : 0))
