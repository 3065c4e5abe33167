#!/usr/bin/env bash
# 'fa2 try --headless' of an update folder that stops: the walk accepts the
# agreement, presses Next to the update, answers the prompt for a disc that
# is not there with OK twice and then with Cancel, and the abort message;
# the update lines stay written, and try says the updater stopped (exit 1).
# (The run that finishes: run-release.sh.)
# Usage: run-try.sh <host fa2> <work folder>
# Exit: 0 passed, 1 failed, 77 when Wine or Xvfb is not there.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../../scripts/wine-env.sh"
fa2_wine_available || { echo "Wine or Xvfb not there: skipped"; exit 77; }
fa2_skip_without_32bit
fa2=$(realpath "$1") work=$(realpath -m "$2")
rm -rf "$work"
mkdir -p "$work/update" "$work/game"
cd "$work" || exit 1
fails=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; fails=$((fails + 1)); fi; }
cp "$FA2_ROOT"/examples/sample-game/* game/
touch -d "2020-01-01 00:00:00 UTC" game/*
printf '%s\r\n' '[SETUP]' 'CompanyName=SampleSoft' 'GameTitle=サンプルゲーム' 'GameClass=SampleGameWindow' \
  'GameDir=SampleGame' 'UpdaterVersion=Try' 'AgreementText=AGREE.TXT' '[UPDATE]' 'UpdateFile00=u,GAME.DAT' \
  'CopyFile00=1:MOVIE' | iconv -f UTF-8 -t CP932 >update/UPDATE.INI
printf '使用許諾\r\n' | iconv -f UTF-8 -t CP932 >update/AGREE.TXT
echo new >update/GAME.DAT

"$fa2" try update --game game --headless --shots shots >try.out 2>&1
check "exit 1: the updater stopped" "[ $? -eq 1 ]"
if "$FA2_ROOT/scripts/runs-32bit.sh" >/dev/null; then
  check "the 32-bit updater ran" "! grep -q 'x86_64 updater' try.out"
else
  check "said once that the x86_64 updater ran" "[ \$(grep -c 'trying the same archive in the x86_64 updater' try.out) -eq 1 ]"
fi
step() { grep -q "^  0$1 $2" try.out; }
check "the agreement accepted, then Next" "step 1 'wizard .* -> \"同意する\" -> \"次へ\"'"
check "the confirmation page, Next" "step 2 'wizard .*: \"アップデートを実行します\" -> \"次へ\"'"
disc='box .*: \"ＣＤ－ＲＯＭドライブに「サンプルゲーム」ディスク 1 を入れて下さい\"'
check "the disc prompt answered OK twice" "step 3 '$disc -> \"OK\"' && step 4 '$disc -> \"OK\"'"
check "then, the third time, Cancel" "step 5 '$disc -> \"キャンセル\"'"
check "then the abort message" "step 6 'box .*: \"アップデートが中断されました\" -> \"OK\"'"
check "GAME.DAT written before the copy" "grep -q 'C:.Game.GAME.DAT .* updated$' try.out"
check "the exit code explained" "grep -qxF 'updater exit code: 0 (the updater stopped: refused, aborted or failed (its messages above))' try.out"
check "a screenshot of each step, and the log" "[ \$(ls shots/*.png | wc -l) -eq 6 ] && [ -s shots/try.log ]"
check "the game folder given is untouched" "[ \$(stat -c %Y game/GAME.DAT) -eq \$(date -d '2020-01-01 00:00:00 UTC' +%s) ]"
((fails)) && cat try.out
exit $((fails ? 1 : 0))
