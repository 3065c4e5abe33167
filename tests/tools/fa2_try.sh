#!/usr/bin/env bash
# fa2 try before any Wine starts: usage errors (exit 2), and a game folder
# whose SETUP.INI the updater would not accept refused with what is missing
# (exit 1), leaving no work folder behind. (Runs under Wine: tests/e2e.)
. "$(dirname "$0")/lib/checks.sh" "$1"
mkdir -p "$work/tmp" "$work/game" "$work/noexe" "$work/bare"
cp "$root"/examples/sample-game/* "$work/game/"
grep -av '^GameExe=' "$root/examples/sample-game/SETUP.INI" >"$work/noexe/SETUP.INI"
"$FA2" pack -o "$work/a.fa2" "$root"/examples/sample-update/* >/dev/null
"$FA2" stamp "$root/tests/fuzz/corpus/fuzz_fa2_input/stub32_no_resources" "$work/a.fa2" -o "$work/Update.exe" >/dev/null
refusal="fa2: try: the updater would stop before its wizard opens, so nothing was run: setup:"

# EXIT|STDERR LINE (exact)|ARGUMENTS, with DISPLAY set unless the arguments say otherwise.
while IFS='|' read -r code line args; do
  eval "set -- $args"
  env DISPLAY=:99 TMPDIR="$work/tmp" "$FA2" try "$@" >/dev/null 2>"$work/err"
  got=$?
  if [ $got -ne "$code" ] || [ "$(cat "$work/err")" != "$line" ]; then
    echo "FAIL: try $args: exit $got, stderr: $(cat "$work/err")"
    fails=$((fails + 1))
  fi
done <<EOF
2|fa2: try: no Update.exe or UPDATE_FOLDER given (see 'fa2 try --help')|
2|fa2: try: no game folder given (--game GAME_FOLDER)|"$work/Update.exe"
2|fa2: try: --locale takes ja or en|"$work/Update.exe" --game "$work/game" --locale fr
2|fa2: try: --game needs an existing folder|"$work/Update.exe" --game "$work/none"
1|$refusal $work/noexe/SETUP.INI: refused with no message (the required key GameExe is missing or empty)|"$work/Update.exe" --game "$work/noexe"
1|$refusal $work/bare/SETUP.INI: refused with "インストール先に "SETUP.INI" ファイルが見つかりません"|"$work/Update.exe" --game "$work/bare"
EOF
env -u DISPLAY "$FA2" try "$work/Update.exe" --game "$work/game" 2>"$work/err" >/dev/null
if [ $? -ne 2 ] || ! grep -q 'use --headless' "$work/err"; then
  echo "FAIL: without a display: $(cat "$work/err")"
  fails=$((fails + 1))
fi
[ -z "$(ls -A "$work/tmp")" ] || { echo "FAIL: a refused try left $(ls "$work/tmp")"; fails=$((fails + 1)); }

finish "fa2 try"
