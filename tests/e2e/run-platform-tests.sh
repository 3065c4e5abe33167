#!/usr/bin/env bash
# Runs platform-tests.exe in a fresh Wine prefix with a private X server and
# drive X: a CD-ROM holding DISC.CHK, under FA2_LOCALE (whose ANSI code page
# the tests must report).
# Usage: run-platform-tests.sh <platform-tests.exe> <work folder>
# Exit: the tests' code, 77 when Wine or Xvfb is not installed.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../../scripts/wine-env.sh"

program=$(realpath "$1") WORK=$(realpath -m "$2")
fa2_wine_available || { echo "Wine or Xvfb not installed: skipped"; exit 77; }
fa2_skip_without_32bit

fa2_run_in "$WORK" || exit 1
mkdir -p "$DRIVE_C/scratch" "$WORK/disc"
echo disc >"$WORK/disc/DISC.CHK"
fa2_map_drive x "$WORK/disc" cdrom || exit 1
timeout 120 env LC_ALL="$FA2_LOCALE" "$FA2_WINE" "$program" 'C:\scratch' >"$WORK/output.log" 2>&1
rc=$?
tr -d '\r' <"$WORK/output.log" | iconv -f CP932 -t UTF-8
code_page=$(fa2_code_page)
if ((code_page)) && ! tr -d '\r' <"$WORK/output.log" | grep -qx "ANSI code page $code_page"; then
  echo "FAIL the ANSI code page is not $code_page ($FA2_LOCALE)"
  rc=1
fi
exit $rc
