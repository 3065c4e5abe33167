#!/usr/bin/env bash
# fa2 plan: the dry run of an update against installed folders on disk. One
# update folder with every kind of line meets an install folder of known file
# times, letter cases, attributes and a Japanese name; the plan's lines and
# exit codes are checked, the same plan comes out of a packed archive and a
# stamped executable, refusals and failures are told, and the folders are
# byte for byte, time for time the same afterwards. KEEP=1 keeps the work
# folder for a look at the plans.
. "$(dirname "$0")/lib/checks.sh" "$1"
# The plan's output must hold this exact line.
expect_line() { # FILE LINE
  if ! grep -qxF -- "$2" "$1"; then
    echo "FAIL: expected in $(basename "$1"): $2"
    fails=$((fails + 1))
  fi
}
expect_no() { # FILE TEXT
  if grep -qF -- "$2" "$1"; then
    echo "FAIL: not expected in $(basename "$1"): $2"
    fails=$((fails + 1))
  fi
}
# UPDATE.INI lines are written in UTF-8 here and stored in code page 932.
write_ini() { # FILE LINES...
  local file=$1
  shift
  printf '%s\r\n' "$@" | iconv -f UTF-8 -t CP932 >"$file"
}
# Every file and folder with its size, time and mode, and every file's bytes.
snapshot() { # DIR...
  find "$@" -printf '%p %y %s %T@ %m\n' | sort
  find "$@" -type f -print0 | sort -z | xargs -0 md5sum
}
old='2020-01-01 00:00:00 UTC'
mid='2022-06-01 12:00:00'
new='2024-01-01 00:00:00 UTC'

# ---- The update folder: every kind of line ----------------------------------------
upd=$work/upd
mkdir -p "$upd/sub"
for f in NEW.DAT OLD.DAT NEWER.DAT SAME.DAT CONFIG.DAT FRESH.DAT THERE.DAT MISSING.DAT BONUS.DAT PLAIN.DAT \
  LOCKED.DAT LATER.DAT セーブ.DAT; do
  echo "update $f" >"$upd/$f"
done
echo "inner" >"$upd/sub/INNER.DAT"
write_ini "$upd/UPDATE.INI" \
  '[SETUP]' 'CompanyName=SampleSoft' 'GameTitle=サンプルゲーム' 'GameClass=SampleGameWindow' 'GameDir=SampleGame' \
  'ExistErrorMessage=バージョンが違います' \
  '[UPDATE]' \
  'RequiredDiskSpace=1000' \
  'UpdateFile00=u,NEW.DAT' \
  'UpdateFile01=u,OLD.DAT' \
  'UpdateFile02=u,NEWER.DAT' \
  'UpdateFile03=u,SAME.DAT' \
  'UpdateFile04=d,CONFIG.DAT' \
  'UpdateFile05=d,FRESH.DAT' \
  'UpdateFile06=o,MISSING.DAT' \
  'UpdateFile07=O,THERE.DAT' \
  'UpdateFile08=e,VERSION.DAT' \
  'UpdateFile09=1,u,BONUS.DAT' \
  'UpdateFile10=PLAIN.DAT' \
  'UpdateFile11=u,sub\INNER.DAT' \
  'UpdateFile12=u,LOCKED.DAT' \
  'UpdateFile13=u,LATER.DAT' \
  'UpdateFile14=o,LATER.DAT' \
  'UpdateFile15=u,セーブ.DAT' \
  'CopyFile00=1:MOVIE' \
  'CopyFile01=EXTRA.TXT' \
  'CopyFile02=2,1:SKIPPED' \
  'CopyFile03=1:NOWHERE'
touch -d "$mid" "$upd"/*.DAT "$upd/sub/INNER.DAT"

# ---- The installed game ------------------------------------------------------------------
inst=$work/install
data=$work/data
disc=$work/disc
mkdir -p "$inst/SUB" "$data" "$disc/MOVIE"
cp "$root/examples/sample-game/SETUP.INI" "$inst/"
echo installed >"$inst/OLD.DAT"; touch -d "$old" "$inst/OLD.DAT"
echo installed >"$inst/NEWER.DAT"; touch -d "$new" "$inst/NEWER.DAT"
echo installed >"$inst/SAME.DAT"; touch -d "$mid" "$inst/SAME.DAT"
echo installed >"$inst/there.dat"                      # other letter case
echo installed >"$inst/VERSION.DAT"
echo installed >"$inst/PLAIN.DAT"
echo installed >"$inst/LOCKED.DAT"; touch -d "$old" "$inst/LOCKED.DAT"; chmod a-w "$inst/LOCKED.DAT"
echo installed >"$inst/セーブ.DAT"; touch -d "$new" "$inst/セーブ.DAT"
echo data >"$data/CONFIG.DAT"
echo check >"$disc/SAMPLE1.CHK"                        # DiskCheckFile1 of the sample SETUP.INI
echo movie >"$disc/MOVIE/OP.MPG"
echo extra >"$disc/EXTRA.TXT"
before=$(snapshot "$inst" "$data" "$disc" "$upd")

# ---- The plan with every file normal: the "e" check passes --------------------------------------
out=$work/plan.txt
"$FA2" plan "$upd" --install "$inst" --data "$data" --normal-files >"$out" 2>"$work/plan.err"
code=$?
check "would run: exit 0" "[ $code -eq 0 ]"
check "nothing on stderr" "[ ! -s '$work/plan.err' ]"
expect_line "$out" "plan: $upd (an update folder, as 'fa2 build' would pack it)"
expect_line "$out" "install: $inst as I:\\INSTALL, InstMode 0"
expect_line "$out" "data: $data as J:\\DATA"
expect_line "$out" "disc drive: none (disc copies are reported as needed)"
expect_line "$out" 'attributes: files carry no archive bit (--normal-files): writable files are normal alone; "e" checks depend on this rule'
expect_line "$out" 'setup: UPDATE.INI [SETUP] and the installed SETUP.INI are valid; game "サンプルゲーム", アップデート'
check "space line" "grep -qE '^space: RequiredDiskSpace 1000 bytes, [0-9]+ available on the drive of $inst: enough\$' '$out'"
expect_line "$out" "UpdateFile00 u NEW.DAT -> $inst/NEW.DAT: write (new file)"
expect_line "$out" "UpdateFile01 u OLD.DAT -> $inst/OLD.DAT: write (replace older) [installed 2020-01-01 00:00:00 UTC, member 2022-06-01 12:00:00 UTC]"
expect_line "$out" "UpdateFile02 u NEWER.DAT -> $inst/NEWER.DAT: keep (installed file is newer) [installed 2024-01-01 00:00:00 UTC, member 2022-06-01 12:00:00 UTC]"
expect_line "$out" "UpdateFile03 u SAME.DAT -> $inst/SAME.DAT: write (replace same time) [installed 2022-06-01 12:00:00 UTC, member 2022-06-01 12:00:00 UTC]"
expect_line "$out" "UpdateFile04 d CONFIG.DAT -> $data/CONFIG.DAT: keep data (existing file)"
expect_line "$out" "UpdateFile05 d FRESH.DAT -> $data/FRESH.DAT: write (new file)"
expect_line "$out" "UpdateFile06 o MISSING.DAT -> $inst/MISSING.DAT: skip (not existing)"
expect_line "$out" "UpdateFile07 o THERE.DAT -> $inst/there.dat: write (replace, no newer check)"
expect_line "$out" "UpdateFile08 e VERSION.DAT -> $inst/VERSION.DAT: check passes"
expect_line "$out" "UpdateFile09 1,u BONUS.DAT: not selected (mode 1, InstMode 0)"
expect_line "$out" "UpdateFile10 plain PLAIN.DAT -> $inst/PLAIN.DAT: write (replace, no newer check)"
expect_line "$out" "UpdateFile11 u sub\\INNER.DAT -> $inst/SUB/INNER.DAT: write (new file)"
expect_line "$out" "UpdateFile12 u LOCKED.DAT -> $inst/LOCKED.DAT: write (replace older); clears read-only [installed 2020-01-01 00:00:00 UTC, member 2022-06-01 12:00:00 UTC]"
expect_line "$out" "UpdateFile13 u LATER.DAT -> $inst/LATER.DAT: write (new file)"
# The entry before it wrote LATER.DAT, so the overwrite-only line finds it.
expect_line "$out" "UpdateFile14 o LATER.DAT -> $inst/LATER.DAT: write (replace, no newer check)"
expect_line "$out" "UpdateFile15 u セーブ.DAT -> $inst/セーブ.DAT: keep (installed file is newer) [installed 2024-01-01 00:00:00 UTC, member 2022-06-01 12:00:00 UTC]"
expect_line "$out" "CopyFile00 1:MOVIE: needs disc 1 (check file \"SAMPLE1.CHK\"): MOVIE -> $inst/MOVIE if a file (flags 0x0210), into $inst if a folder (flags 0x0610)"
expect_line "$out" "CopyFile01 EXTRA.TXT: copies from the drive of disc 1: EXTRA.TXT -> $inst/EXTRA.TXT if a file (flags 0x0210), into $inst if a folder (flags 0x0610)"
expect_line "$out" "CopyFile02 2,1:SKIPPED: not selected (mode 2, InstMode 0)"
expect_line "$out" "result: would run: 10 written, 2 kept as newer, 1 data kept, 1 skipped, 3 disc copies; the player is asked for disc 1"
check "one line per key" "[ \$(grep -cE '^(UpdateFile|CopyFile)' '$out') -eq 20 ]"

# ---- In mode 1 the mode line applies ------------------------------------------------------------
"$FA2" plan "$upd" --install "$inst" --data "$data" --normal-files --mode 1 >"$work/mode1.txt"
expect_line "$work/mode1.txt" "UpdateFile09 1,u BONUS.DAT -> $inst/BONUS.DAT: write (new file)"
expect_line "$work/mode1.txt" "install: $inst as I:\\INSTALL, InstMode 1"

# ---- With the disc: the engine's disc search and copy plans ----------------------------------------
"$FA2" plan "$upd" --install "$inst" --data "$data" --normal-files --disc "$disc" >"$work/disc.txt"
code=$?
expect_line "$work/disc.txt" "disc drive: $disc as Q: (CD-ROM)"
expect_line "$work/disc.txt" "CopyFile00 1:MOVIE: copy folder Q:\\MOVIE ($disc/MOVIE) into $inst (flags 0x0610)"
expect_line "$work/disc.txt" "CopyFile01 EXTRA.TXT: copy file Q:\\EXTRA.TXT ($disc/EXTRA.TXT) -> $inst/EXTRA.TXT (flags 0x0210)"
expect_line "$work/disc.txt" "CopyFile03 1:NOWHERE: fail (Q:\\NOWHERE ($disc/NOWHERE) does not exist): the update stops with \"SETUP.INI : \"NOWHERE\" のコピーに失敗しました\""
expect_line "$work/disc.txt" "result: fails at CopyFile03: Q:\\NOWHERE ($disc/NOWHERE) does not exist; the player sees \"SETUP.INI : \"NOWHERE\" のコピーに失敗しました\"; the update lines and the copies before it stay written"
check "a failing copy: exit 1" "[ $code -eq 1 ]"
# A disc folder without the check file holds no disc 1.
mkdir -p "$work/otherdisc/MOVIE"
"$FA2" plan "$upd" --install "$inst" --data "$data" --normal-files --disc "$work/otherdisc" >"$work/other.txt"
expect_line "$work/other.txt" "CopyFile00 1:MOVIE: needs disc 1 (check file \"SAMPLE1.CHK\"): MOVIE -> $inst/MOVIE if a file (flags 0x0210), into $inst if a folder (flags 0x0610)"

# ---- The archive bit (the default rule): the "e" check refuses -----------------------------------
"$FA2" plan "$upd" --install "$inst" --data "$data" >"$work/e.txt"
code=$?
check "refused by the e check: exit 1" "[ $code -eq 1 ]"
expect_line "$work/e.txt" 'attributes: every file carries the archive bit, as under Wine (--normal-files: none); "e" checks depend on this rule'
expect_line "$work/e.txt" "UpdateFile00 u NEW.DAT: not applied (the update is refused)"
expect_line "$work/e.txt" "UpdateFile07 o THERE.DAT: not applied (the update is refused)"
expect_line "$work/e.txt" "UpdateFile08 e VERSION.DAT -> $inst/VERSION.DAT: check fails (not normal alone: archive; files here carry the archive bit unless --normal-files): refused with \"バージョンが違います\""
expect_line "$work/e.txt" 'result: refused: the "e" check of UpdateFile08 fails; nothing is written'
expect_no "$work/e.txt" "UpdateFile09"
expect_no "$work/e.txt" "CopyFile00"
# A read-only file, a folder and a missing file fail it too, whatever the rule.
for target in readonly folder missing; do
  t=$work/e-$target
  mkdir -p "$t/upd" "$t/inst"
  cp "$root/examples/sample-game/SETUP.INI" "$t/inst/"
  echo x >"$t/upd/A.DAT"
  case $target in
    readonly) echo v >"$t/inst/V.DAT"; chmod a-w "$t/inst/V.DAT"; why='not normal alone: read-only'; shown=V.DAT ;;
    folder) mkdir "$t/inst/V.DAT"; why='a folder'; shown=V.DAT ;;
    missing) why='not found'; shown=v.dat ;; # as written: there is no file to take the name from
  esac
  write_ini "$t/upd/UPDATE.INI" '[SETUP]' 'CompanyName=c' 'GameTitle=t' 'GameClass=w' 'GameDir=d' '[UPDATE]' \
    'UpdateFile00=3,e,v.dat' 'UpdateFile01=A.DAT'
  "$FA2" plan "$t/upd" --install "$t/inst" --normal-files >"$t/out.txt"
  code=$?
  check "e check on a $target file: exit 1" "[ $code -eq 1 ]"
  expect_line "$t/out.txt" "UpdateFile00 3,e v.dat -> $t/inst/$shown: check fails ($why): refused with \"アップデートエラー：アップデート対象のバージョンが違います\""
done

# ---- The same plan from a packed archive and from a stamped executable -------------------------------
"$FA2" pack -o "$work/upd.fa2" --compress --scramble "$upd"/UPDATE.INI "$upd"/*.DAT "$upd/sub/INNER.DAT" >/dev/null
"$FA2" plan "$work/upd.fa2" --install "$inst" --data "$data" --normal-files >"$work/archive.txt"
code=$?
check "archive: exit 0" "[ $code -eq 0 ]"
# (all but the first line, and the free space, which changes between runs)
same_plan() { diff <(tail -n +2 "$1" | grep -v '^space: ') <(tail -n +2 "$2" | grep -v '^space: '); }
check "archive: the same plan as the folder" "same_plan '$out' '$work/archive.txt'"
cc64=$(command -v x86_64-w64-mingw32-gcc-posix || command -v x86_64-w64-mingw32-gcc || true)
if [ -n "$cc64" ]; then
  printf 'int main(void) { return 0; }\n' >"$work/stub.c"
  "$cc64" -O1 "$work/stub.c" -o "$work/stub.exe"
  "$FA2" build "$upd" --stub "$work/stub.exe" -o "$work/Update.exe" >/dev/null 2>&1
  "$FA2" plan "$work/Update.exe" --install "$inst" --data "$data" --normal-files >"$work/exe.txt"
  code=$?
  check "exe: exit 0" "[ $code -eq 0 ]"
  check "exe: the same plan as the folder" "same_plan '$out' '$work/exe.txt'"
else
  echo "fa2 plan: MinGW not found, the executable check is skipped"
fi

# ---- Failures while applying: the update stops there ---------------------------------------------------
# A member the archive lacks (packed without PLAIN.DAT), no data folder,
# and a folder inside the path that does not exist.
partial=()
for file in "$upd"/*.DAT "$upd/sub/INNER.DAT"; do [ "${file##*/}" = PLAIN.DAT ] || partial+=("$file"); done
"$FA2" pack -o "$work/part.fa2" "$upd"/UPDATE.INI "${partial[@]}" >/dev/null
"$FA2" plan "$work/part.fa2" --install "$inst" --data "$data" --normal-files >"$work/part.txt"
code=$?
check "missing member: exit 1" "[ $code -eq 1 ]"
expect_line "$work/part.txt" "UpdateFile10 plain PLAIN.DAT -> $inst/PLAIN.DAT: fail (member \"PLAIN.DAT\" is not in the archive): the update stops with \"Can't Find File in Resource !!\" / \"ファイルの書き込みに失敗しました\""
expect_line "$work/part.txt" "UpdateFile11 u sub\\INNER.DAT: not applied (the update stopped at UpdateFile10)"
expect_line "$work/part.txt" "CopyFile00 1:MOVIE: not applied (the update stopped at UpdateFile10)"
expect_line "$work/part.txt" "CopyFile02 2,1:SKIPPED: not selected (mode 2, InstMode 0)"
check "missing member: result" "grep -qx 'result: fails at UpdateFile10: member \"PLAIN.DAT\" is not in the archive; the player sees .*; no game file is changed (the update lines are written all or nothing)' '$work/part.txt'"

"$FA2" plan "$upd" --install "$inst" --normal-files >"$work/nodata.txt"
code=$?
check "no data folder: exit 1" "[ $code -eq 1 ]"
expect_line "$work/nodata.txt" 'data: none (no DataPath: "d" lines cannot be written)'
# The updater refuses the whole update before writing anything; so does the plan.
expect_line "$work/nodata.txt" 'UpdateFile00 u NEW.DAT: not applied (the update is refused)'
expect_line "$work/nodata.txt" 'UpdateFile04 d CONFIG.DAT: refused (no data folder: the registry has no DataPath (--data)): the update is refused with "ファイルの書き込みに失敗しました"'
expect_line "$work/nodata.txt" 'result: refused: UpdateFile04 no data folder: the registry has no DataPath (--data); the player sees "ファイルの書き込みに失敗しました"; nothing is written'

# Lines that would reach outside their folder, or name no disc, are refused
# outright, whatever comes before them.
e=$work/escape
mkdir -p "$e/upd" "$e/inst"
cp "$root/examples/sample-game/SETUP.INI" "$e/inst/"
echo a >"$e/upd/A.DAT"; echo x >"$e/upd/ESCAPE1.DAT"
for line in 'UpdateFile01=u,..\..\ESCAPE1.DAT' 'CopyFile00=x:MOVIE' 'CopyFile00=1:..\MOVIE'; do
  write_ini "$e/upd/UPDATE.INI" '[SETUP]' 'CompanyName=c' 'GameTitle=t' 'GameClass=w' 'GameDir=d' \
    '[UPDATE]' 'UpdateFile00=A.DAT' "$line"
  "$FA2" plan "$e/upd" --install "$e/inst" >"$e/out.txt" 2>&1
  code=$?
  check "refused line $line: exit 1" "[ $code -eq 1 ]"
  check "refused line $line: named" "grep -q '^${line%%=*} .*: refused (.*): the update is refused with ' '$e/out.txt'"
  check "refused line $line: nothing written" "grep -q 'nothing is written\$' '$e/out.txt' && [ ! -e '$e/inst/A.DAT' ]"
done

f=$work/folders
mkdir -p "$f/upd" "$f/inst/save"
cp "$root/examples/sample-game/SETUP.INI" "$f/inst/"
echo a >"$f/upd/A.DAT"; echo b >"$f/upd/B.DAT"; echo c >"$f/upd/C.DAT"
write_ini "$f/upd/UPDATE.INI" '[SETUP]' 'CompanyName=c' 'GameTitle=t' 'GameClass=w' 'GameDir=d' 'DataFolder=Save2' \
  '[UPDATE]' 'UpdateFile00=A.DAT' 'UpdateFile01=B.DAT' 'UpdateFile02=deep\C.DAT' 'UpdateFile03=u,A.DAT'
touch -d "$mid" "$f/upd"/*.DAT
"$FA2" plan "$f/upd" --install "$f/inst" >"$f/out.txt"
code=$?
check "a missing inner folder: exit 1" "[ $code -eq 1 ]"
# DataFolder is created (one level) by the first entry; the later ones find it.
expect_line "$f/out.txt" "UpdateFile00 plain A.DAT -> $f/inst/Save2/A.DAT: write (new file); creates the folder $f/inst/Save2"
expect_line "$f/out.txt" "UpdateFile01 plain B.DAT -> $f/inst/Save2/B.DAT: write (new file)"
expect_line "$f/out.txt" "UpdateFile02 plain deep\\C.DAT -> $f/inst/Save2/deep/C.DAT: fail (no folder $f/inst/Save2/deep): the update stops with \"ファイルの書き込みに失敗しました\\r\\nI:\\INSTALL\\Save2\\deep\\C.DAT\\r\\n（フォルダーが見つかりません）\""
expect_line "$f/out.txt" "UpdateFile03 u A.DAT: not applied (the update stopped at UpdateFile02)"
check "no folder was created" "[ ! -e '$f/inst/Save2' ]"

# Names whose second byte has the value of a backslash (ソ and 表 in code page
# 932) are one component; a folder under OverwriteOnly is skipped before its
# member is looked for; a copy line without a disc number and no disc before
# it has nothing to copy from.
j=$work/dbcs
mkdir -p "$j/upd/ソフト" "$j/inst/ソフト"
cp "$root/examples/sample-game/SETUP.INI" "$j/inst/"
echo new >"$j/upd/ソフト/表.DAT"; touch -d "$mid" "$j/upd/ソフト/表.DAT"
echo old >"$j/inst/ソフト/表.DAT"; touch -d "$old" "$j/inst/ソフト/表.DAT"
write_ini "$j/upd/UPDATE.INI" '[SETUP]' 'CompanyName=c' 'GameTitle=t' 'GameClass=w' 'GameDir=d' '[UPDATE]' \
  'OverwriteOnly=1' 'UpdateFile00=u,ソフト\表.DAT' 'UpdateFile01=o,ソフト' 'CopyFile00=EXTRA.TXT'
"$FA2" plan "$j/upd" --install "$j/inst" >"$j/out.txt" 2>/dev/null
code=$?
check "no disc before a copy: exit 1" "[ $code -eq 1 ]"
expect_line "$j/out.txt" "UpdateFile00 u ソフト\\表.DAT -> $j/inst/ソフト/表.DAT: write (replace older) [installed 2020-01-01 00:00:00 UTC, member 2022-06-01 12:00:00 UTC]"
expect_line "$j/out.txt" "UpdateFile01 o ソフト -> $j/inst/ソフト: skip (a folder, not a file)"
expect_line "$j/out.txt" "CopyFile00 EXTRA.TXT: fail (no disc was found before this line to copy from): the update stops with \"SETUP.INI : \"EXTRA.TXT\" のコピーに失敗しました\""

# ---- Refusals before anything is written -----------------------------------------------------------------
n=$work/none
mkdir -p "$n/upd" "$n/inst"
cp "$root/examples/sample-game/SETUP.INI" "$n/inst/"
echo x >"$n/upd/X.DAT"
write_ini "$n/upd/UPDATE.INI" '[SETUP]' 'CompanyName=c' 'GameTitle=t' 'GameClass=w' 'GameDir=d' '[UPDATE]' \
  'OverwriteOnly=1' 'UpdateFile00=2,u,X.DAT' 'UpdateFile01=e,SETUP.INI' 'UpdateFile03=X.DAT' 'CopyFile00=5,1:M'
"$FA2" plan "$n/upd" --install "$n/inst" --normal-files >"$n/out.txt" 2>/dev/null
code=$?
check "nothing applies: exit 1" "[ $code -eq 1 ]"
expect_line "$n/out.txt" "overwrite-only: on (OverwriteOnly): update lines only replace existing files"
expect_line "$n/out.txt" "UpdateFile00 2,u X.DAT: not selected (mode 2, InstMode 0)"
expect_line "$n/out.txt" "UpdateFile01 e SETUP.INI -> $n/inst/SETUP.INI: check passes"
expect_line "$n/out.txt" "CopyFile00 5,1:M: not selected (mode 5, InstMode 0)"
expect_line "$n/out.txt" "result: refused: no line applies: \"No 'UpdateFileXX' and 'CopyFileXX'\"; nothing is written"
expect_no "$n/out.txt" "UpdateFile03" # after the missing UpdateFile02, never read
# OverwriteOnly: a plain line whose file is missing is skipped.
write_ini "$n/upd/UPDATE.INI" '[SETUP]' 'CompanyName=c' 'GameTitle=t' 'GameClass=w' 'GameDir=d' '[UPDATE]' \
  'OverwriteOnly=1' 'UpdateFile00=X.DAT'
"$FA2" plan "$n/upd" --install "$n/inst" >"$n/skip.txt"
code=$?
check "overwrite-only skip: exit 0" "[ $code -eq 0 ]"
expect_line "$n/skip.txt" "UpdateFile00 plain X.DAT -> $n/inst/X.DAT: skip (not existing)"
expect_line "$n/skip.txt" "space: no RequiredDiskSpace: no check"

# The installed SETUP.INI missing, and a required key missing in UPDATE.INI.
mkdir -p "$n/bare"
"$FA2" plan "$n/upd" --install "$n/bare" >"$n/nosetup.txt"
code=$?
check "no SETUP.INI: exit 1" "[ $code -eq 1 ]"
expect_line "$n/nosetup.txt" "setup: $n/bare/SETUP.INI: refused with \"インストール先に \"SETUP.INI\" ファイルが見つかりません\""
expect_line "$n/nosetup.txt" "result: refused: the updater stops before its wizard opens; nothing is written"
# A required key of SETUP.INI missing: the updater stops without a word; the plan names the key.
mkdir -p "$n/noexe"
grep -av '^GameExe=' "$root/examples/sample-game/SETUP.INI" >"$n/noexe/SETUP.INI"
"$FA2" plan "$n/upd" --install "$n/noexe" >"$n/noexe.txt"
check "SETUP.INI without GameExe: exit 1" "[ $? -eq 1 ]"
expect_line "$n/noexe.txt" "setup: $n/noexe/SETUP.INI: refused with no message (the required key GameExe is missing or empty)"
write_ini "$n/upd/UPDATE.INI" '[SETUP]' 'CompanyName=c' 'GameTitle=t' 'GameDir=d' '[UPDATE]' 'UpdateFile00=X.DAT'
"$FA2" plan "$n/upd" --install "$n/inst" >"$n/nokey.txt" 2>/dev/null
code=$?
check "a missing SETUP key: exit 1" "[ $code -eq 1 ]"
expect_line "$n/nokey.txt" "setup: UPDATE.INI [SETUP]: refused with \"SETUP : GameClass キーが存在しません\""
check "build's errors are noted" "sed -n 2p '$n/nokey.txt' | grep -q \"^note: 'fa2 build' would refuse this folder (1 error, listed on stderr)\""

# Not enough space: the install folder on a file system of 1 MiB (a tmpfs in
# a private mount namespace, where that can be had).
s=$work/space
mkdir -p "$s/small" "$s/upd"
cp "$root/examples/sample-game/SETUP.INI" "$s/"
head -c 2000000 /dev/zero >"$s/upd/BIG.DAT"
write_ini "$s/upd/UPDATE.INI" '[SETUP]' 'CompanyName=c' 'GameTitle=t' 'GameClass=w' 'GameDir=d' '[UPDATE]' \
  'RequiredDiskSpace=1500000' 'UpdateFile00=BIG.DAT'
cp -r "$s/upd" "$s/upd2"
write_ini "$s/upd2/UPDATE.INI" '[SETUP]' 'CompanyName=c' 'GameTitle=t' 'GameClass=w' 'GameDir=d' '[UPDATE]' \
  'UpdateFile00=BIG.DAT'
cat >"$s/run.sh" <<EOF
mount -t tmpfs -o size=1m none '$s/small' || exit 99
cp '$s/SETUP.INI' '$s/small/'
df -B1 --output=avail '$s/small' | tail -1 | tr -d ' ' >'$s/avail'
'$FA2' plan '$s/upd' --install '$s/small' >'$s/short.txt'; echo \$? >'$s/short.code'
'$FA2' plan '$s/upd2' --install '$s/small' >'$s/member.txt'; echo \$? >'$s/member.code'
EOF
if command -v unshare >/dev/null && unshare -rm sh "$s/run.sh" 2>/dev/null; then
  avail=$(cat "$s/avail")
  check "short of space: exit 1" "[ \$(cat '$s/short.code') -eq 1 ]"
  expect_line "$s/short.txt" "space: RequiredDiskSpace 1500000 bytes, $avail available on the drive of $s/small: short by $((1500000 - avail)) bytes: refused"
  expect_line "$s/short.txt" "result: refused: not enough free space; the wizard stays open; nothing is written"
  expect_no "$s/short.txt" "UpdateFile00"
  check "a member larger than the free space: exit 1" "[ \$(cat '$s/member.code') -eq 1 ]"
  expect_line "$s/member.txt" "UpdateFile00 plain BIG.DAT -> $s/small/BIG.DAT: fail (the staged files need 2000000 bytes, $avail available): the update stops with \"ディスク容量が足りません。I: ドライブに $((2000000 - avail)) バイトの空き容量が必要です\" / \"ファイルの書き込みに失敗しました\""
else
  echo "fa2 plan: no private tmpfs to be had (unshare -rm), the free-space checks are skipped"
fi

# ---- The sample gives a sensible plan --------------------------------------------------------------------
sg=$work/sample-game
sd=$work/sample-data
cp -r "$root/examples/sample-game" "$sg"
mkdir -p "$sd"
touch -d "$old" "$sg"/*
"$FA2" plan "$root/examples/sample-update" --install "$sg" --data "$sd" --time '2024-04-01 12:00:00' >"$work/sample.txt"
code=$?
check "sample: exit 0" "[ $code -eq 0 ]"
expect_line "$work/sample.txt" "UpdateFile00 u GAME.DAT -> $sg/GAME.DAT: write (replace older) [installed 2020-01-01 00:00:00 UTC, member 2024-04-01 12:00:00 UTC]"
expect_line "$work/sample.txt" "UpdateFile01 u README.TXT -> $sg/README.TXT: write (replace older) [installed 2020-01-01 00:00:00 UTC, member 2024-04-01 12:00:00 UTC]"
expect_line "$work/sample.txt" "UpdateFile02 d CONFIG.DAT -> $sd/CONFIG.DAT: write (new file)"
expect_line "$work/sample.txt" "result: would run: 3 written, 0 kept as newer, 0 data kept, 0 skipped, 0 disc copies"

# ---- Nothing was written -----------------------------------------------------------------------------------
after=$(snapshot "$inst" "$data" "$disc" "$upd")
check "the folders are unchanged" "[ \"\$before\" = \"\$after\" ]"

# ---- Usage ------------------------------------------------------------------------------------------------------
check "help" "'$FA2' plan --help | grep -q '^usage: fa2 plan'"
check "top help names plan" "'$FA2' --help | grep -q '^  plan '"
usage() { # DESCRIPTION ARGS...
  local what=$1
  shift
  "$FA2" plan "$@" >/dev/null 2>"$work/usage.err"
  local code=$?
  check "usage: $what exits 2" "[ $code -eq 2 ] && grep -q '^fa2: plan: ' '$work/usage.err'"
}
usage "no install" "$upd"
usage "no input" --install "$inst"
usage "install not a folder" "$upd" --install "$work/nothing"
usage "data not a folder" "$upd" --install "$inst" --data "$work/nothing"
usage "mode not a number" "$upd" --install "$inst" --mode x
usage "unknown option" "$upd" --install "$inst" --frob
usage "two inputs" "$upd" "$upd" --install "$inst"
usage "time with an archive" "$work/upd.fa2" --install "$inst" --time '2024-01-01 00:00:00'
# A damaged input is no usage error: exit 1, naming the file.
head -c 100 "$work/upd.fa2" >"$work/damaged.fa2"
"$FA2" plan "$work/damaged.fa2" --install "$inst" >/dev/null 2>"$work/damaged.err"
code=$?
check "a damaged archive exits 1" "[ $code -eq 1 ] && grep -q '^fa2: plan: $work/damaged.fa2: ' '$work/damaged.err'"
usage "a folder without UPDATE.INI" "$disc" --install "$inst"

finish "fa2 plan"
