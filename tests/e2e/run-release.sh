#!/usr/bin/env bash
# The release package as a publisher gets it: scripts/release.sh packs the
# built tools, the package is unpacked in an empty folder and, with nothing
# else present (a bare environment, no source tree), its fa2 builds the
# sample update, the update is signed (osslsigncode, a throwaway openssl
# certificate) and 'fa2 try --headless' runs the signed updater under Wine on
# the package's sample game.
# Usage: run-release.sh <work folder>
# Exit: 0 passed, 1 failed, 77 when Wine or Xvfb is not there.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$root/scripts/wine-env.sh"
fa2_wine_available || { echo "Wine or Xvfb not there: skipped"; exit 77; }
fa2_skip_without_32bit
work=$(realpath -m "$1")
rm -rf "$work"
mkdir -p "$work/empty"
fails=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; fails=$((fails + 1)); fi; }

FA2_VERSION=test "$root/scripts/release.sh" --no-build -o "$work" >/dev/null || { echo "FAIL: release.sh"; exit 1; }
tar -C "$work/empty" -xzf "$work/fa2updater-test.tar.gz" || exit 1
cd "$work/empty/fa2updater-test" || exit 1
bare() {
  env -i PATH=/usr/bin:/bin HOME="$HOME" FA2_WINE_DIR="$FA2_WINE_DIR" ${FA2_NO_32BIT:+FA2_NO_32BIT="$FA2_NO_32BIT"} "$@"
}

check "the package's fa2 builds the sample update" "bare ./fa2 build sample-update -o Update.exe >build.out 2>&1"
check "with the package's stub" "grep -q '(stub $PWD/updater-stub.exe)' build.out"
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj "/CN=Test Publisher" 2>/dev/null
check "the update signs" "osslsigncode sign -certs cert.pem -key key.pem -n Update -in Update.exe -out Signed.exe >/dev/null &&
  osslsigncode verify -CAfile cert.pem Signed.exe >/dev/null 2>&1"
bare ./fa2 try Signed.exe --game sample-game --data sample-data --mode 1 --headless >try.out 2>&1
check "fa2 try of the signed update exits 0" "[ $? -eq 0 ]"
if scripts/runs-32bit.sh >/dev/null; then
  check "the 32-bit updater ran" "! grep -q 'x86_64 updater' try.out"
else
  check "said once that the x86_64 updater ran" "[ \$(grep -c 'trying the same archive in the x86_64 updater' try.out) -eq 1 ]"
fi
check "the updater finished" "grep -qxF 'updater exit code: 1 (the wizard ended normally: the update is done)' try.out"
check "GAME.DAT updated, the save kept, CONFIG.DAT new" "grep -q 'C:.Game.GAME.DAT .* updated$' try.out &&
  grep -q 'C:.GameData.SAVE01.DAT .* unchanged$' try.out && grep -q 'C:.GameData.CONFIG.DAT .* new$' try.out"
check "a screenshot of each of the four steps" "[ \$(ls try-shots/*.png | wc -l) -eq 4 ]"
((fails)) && cat try.out
exit $((fails ? 1 : 0))
