#!/usr/bin/env bash
# fa2 build and fa2 stamp: the checks of an update folder (each error and
# warning tripped on purpose, the sample quiet), the stub lookup, and stamping
# into real executables made with the MinGW cross compilers (without and with
# an archive, 32- and 64-bit, stripped and not): every other resource intact,
# the archive found again, the output still a valid image, the same bytes
# every time. Optionally (FA2_TEST_WINE=1) the stamped program runs under
# Wine and loads its archive with FindResource.
. "$(dirname "$0")/lib/checks.sh" "$1"

# ---- Checks of the update folder -------------------------------------------------
check "help build" "'$FA2' build --help | grep -q '^usage: fa2 build'"
check "help stamp" "'$FA2' stamp --help | grep -q '^usage: fa2 stamp'"
check "sample is quiet" "'$FA2' build '$root/examples/sample-update' --check 2>'$work/sample.err' >/dev/null && [ ! -s '$work/sample.err' ]"

bad=$work/bad
mkdir -p "$bad/a" "$bad/b"
echo one >"$bad/a/x.dat"; echo two >"$bad/b/x.dat"; echo game >"$bad/game.dat"
# UPDATE.INI in code page 932 (GameTitle: サンプル).
printf '%s\r\n' \
  '[SETUP]' \
  'CompanyName=SampleSoft' \
  $'GameTitle=\x83\x54\x83\x93\x83\x76\x83\x8b' \
  'GameClass=' \
  'AgreementText=missing.txt' \
  '[UPDATE]' \
  'UpdateFile00=u,a\x.dat' \
  'UpdateFile01=u,b\x.dat' \
  'UpdateFile02=12,u,game.dat' \
  'UpdateFile03=x,u,game.dat' \
  'UpdateFile04=u,data/game.dat' \
  'UpdateFile05=u,nowhere.dat' \
  'UpdateFile07=u,game.dat' \
  'UpdateFile16=u,game.dat' \
  'CopyFile00=1:movie' \
  'CopyFile02=1:more' \
  >"$bad/UPDATE.INI"
"$FA2" build "$bad" -o "$work/bad.exe" --stub /dev/null 2>"$work/bad.err" >/dev/null
code=$?
check "errors exit 1" "[ $code -eq 1 ]"
check "errors write nothing" "[ ! -e '$work/bad.exe' ]"
expect_in() { # FILE TEXT
  if ! grep -qF -- "$2" "$1"; then echo "FAIL: expected in $(basename "$1"): $2"; fails=$((fails + 1)); fi
}
expect_error() { expect_in "$work/bad.err" "$1"; }
expect_error 'UPDATE.INI:1: error: GameDir is missing in [SETUP]'
expect_error 'UPDATE.INI:4: error: GameClass is empty'
expect_error 'UPDATE.INI:5: error: AgreementText names "missing.txt", which the folder does not have'
expect_error 'UPDATE.INI:8: error: UpdateFile01 (b\x.dat) needs member "x.dat"'
expect_error 'UPDATE.INI:9: error: UpdateFile02 starts with "12", which is not a mode'
expect_error 'UPDATE.INI:10: error: "x" in UpdateFile03 is not an operation'
expect_error "UPDATE.INI:11: error: UpdateFile04 writes its folders with '/'"
expect_error 'UPDATE.INI:12: error: UpdateFile05 names "nowhere.dat", but the folder has no such file'
expect_error 'UPDATE.INI:13: error: UpdateFile07 is never read: the list ends at UpdateFile06, which is missing'
expect_error 'UPDATE.INI:14: error: UpdateFile16 is never read'
expect_error 'UPDATE.INI:16: error: CopyFile02 is never read'
expect_error 'fa2: build: 11 errors'

utf8=$work/utf8
mkdir -p "$utf8"
printf '[SETUP]\nCompanyName=会社\nGameTitle=t\nGameClass=c\nGameDir=d\n[UPDATE]\nUpdateFile00=u,ゲーム.dat\n' >"$utf8/UPDATE.INI"
echo x >"$utf8/ゲーム.dat"
check "a UTF-8 UPDATE.INI is refused" "out=\$('$FA2' build '$utf8' --check 2>&1); [ \$? -eq 1 ] && grep -q 'UPDATE.INI:2: error: this line and 1 more are not Shift-JIS text (they look like UTF-8)' <<<\"\$out\""
expect_lines() { # FILE, then the whole lines expected in it on stdin
  while IFS= read -r line; do
    grep -qxF -- "$line" "$1" || { echo "FAIL: expected in $(basename "$1"): $line"; fails=$((fails + 1)); }
  done
}
# After that, names are shown as written: UTF-8 as it is, other bytes in hex.
printf '[SETUP]\nCompanyName=c\nGameTitle=t\nGameClass=c\nGameDir=d\n[UPDATE]\nUpdateFile00=u,a\\サンプル.dat\nUpdateFile01=u,\x80\xfd.dat\n' >"$utf8/UPDATE.INI"
"$FA2" build "$utf8" --check 2>"$work/utf8.err" >/dev/null
expect_lines "$work/utf8.err" <<'EOF'
UPDATE.INI:7: error: UpdateFile00 names "a\サンプル.dat", but the folder has neither "a\サンプル.dat" nor "サンプル.dat"
UPDATE.INI:8: error: UpdateFile01 names "<80><FD>.dat", but the folder has no such file
EOF

warn=$work/warn
mkdir -p "$warn"
echo game >"$warn/GAME.DAT"; : >"$warn/AGREE.TXT"; echo spare >"$warn/SPARE.DAT"
printf '%s\r\n' \
  '[SETUP]' 'CompanyName=c' 'GameTitle=t' 'GameClass=w' 'GameDir=d' \
  'DataFolder=save\slot' \
  'AgreementText=AGREE.TXT' \
  '[UPDATE]' \
  'RequiredDiskSpace=3000000000' \
  'UpdateFile00=U,GAME.DAT' \
  'UpdateFile01=u,C:GAME.DAT' \
  'UpdateFile02=e,GAME.EXE' \
  'UpdateFile03=GAME.DAT' \
  'CopyFile00=x,movie' \
  >"$warn/UPDATE.INI"
"$FA2" build "$warn" --check 2>"$work/warn.err" >/dev/null
check "warnings exit 0" "[ $? -eq 0 ]"
expect_warning() { expect_in "$work/warn.err" "$1"; }
expect_warning 'UPDATE.INI:6: warning: DataFolder "save\slot" has more than one level'
expect_warning 'UPDATE.INI:7: warning: AgreementText names an empty file'
expect_warning 'UPDATE.INI:9: warning: RequiredDiskSpace is above 2 GiB'
expect_warning 'UPDATE.INI:10: warning: UpdateFile00 writes its operation in upper case'
expect_warning 'UPDATE.INI:11: warning: "C:GAME.DAT" in UpdateFile01 loses its first two bytes and becomes "GAME.DAT"'
expect_warning 'UPDATE.INI:12: warning: UpdateFile02 is an "e" check'
expect_warning 'UPDATE.INI:13: warning: UpdateFile03 has no operation letter'
expect_warning 'UPDATE.INI:14: warning: CopyFile00 has the mode "x", which is not a digit'
expect_warning 'UPDATE.INI: warning: the folder'"'"'s file "SPARE.DAT" is named by no line'
check "no errors among the warnings" "! grep -q ': error:' '$work/warn.err'"
# Lines that would write outside the game's folders are errors, each with its line.
esc=$work/escape
mkdir -p "$esc"
echo game >"$esc/GAME.DAT"
printf '%s\r\n' '[SETUP]' 'CompanyName=c' 'GameTitle=t' 'GameClass=w' 'GameDir=d' '[UPDATE]' \
  'UpdateFile00=u,..\..\GAME.DAT' 'UpdateFile01=u,\GAME.DAT' 'UpdateFile02=u,\\server\share\GAME.DAT' \
  'CopyFile00=1:..\movie' 'CopyFile01=x:movie' >"$esc/UPDATE.INI"
check "escaping lines: exit 1" "! '$FA2' build '$esc' --check 2>'$work/esc.err' >/dev/null"
for n in 7 8 9; do expect_in "$work/esc.err" "UPDATE.INI:$n: error: UpdateFile0$((n - 7)) writes outside its folder"; done
expect_in "$work/esc.err" 'UPDATE.INI:10: error: CopyFile00 copies from or to outside its folder'
expect_in "$work/esc.err" 'UPDATE.INI:11: error: CopyFile01 has the disc "x", which is not a digit'
# A refused path names what it breaks; an update line that climbs out of the
# install folder is pointed at a "d" line, a "d" line that climbs is not.
printf '%s\r\n' '[SETUP]' 'CompanyName=c' 'GameTitle=t' 'GameClass=w' 'GameDir=d' 'DataFolder=\Save' '[UPDATE]' \
  'UpdateFile00=u,..\Save\GAME.DAT' 'UpdateFile01=d,..\GAME.DAT' 'UpdateFile02=u,GAME.DAT:s' 'UpdateFile03=u,sub\..' \
  'CopyFile00=1:D:movie' 'CopyFile01=1:MOVIE\..' >"$esc/UPDATE.INI"
"$FA2" build "$esc" --check 2>"$work/esc.err" >/dev/null
expect_lines "$work/esc.err" <<'EOF'
UPDATE.INI:6: error: DataFolder "\Save" leads outside the game's folders: it is rooted (starts with "\" or "/"), so the updater refuses every update line
UPDATE.INI:8: error: UpdateFile00 writes outside its folder: "..\Save\GAME.DAT" climbs above the folder with ".."; the updater refuses the whole update. A file for the data folder is a "d" line ("d,GAME.DAT", its path relative to the data folder; an existing file there is kept), not a path out of the install folder
UPDATE.INI:9: error: UpdateFile01 writes outside its folder: "..\GAME.DAT" climbs above the folder with ".."; the updater refuses the whole update
UPDATE.INI:10: error: UpdateFile02 writes outside its folder: "GAME.DAT:s" names a file's alternate stream (a colon after a name); the updater refuses the whole update
UPDATE.INI:11: error: UpdateFile03 names no file: "sub\.." leads back to the folder itself (nothing is left after "." and "..") and names no file or folder in it; the updater refuses the whole update
UPDATE.INI:12: error: CopyFile00 copies from or to outside its folder: "D:movie" names a drive (a character and a colon at its start); the updater refuses the whole update
UPDATE.INI:13: error: CopyFile01 names nothing to copy: "MOVIE\.." leads back to the folder itself (nothing is left after "." and "..") and names no file or folder in it; the updater refuses the whole update
EOF
check "--strict turns warnings into errors" "! '$FA2' build '$warn' --check --strict 2>/dev/null >/dev/null"
# The closing line says so when --strict alone stopped the build.
while IFS='|' read -r folder strict ending; do
  check "closing line: $folder $strict" "'$FA2' build '$work/$folder' --check $strict 2>&1 >/dev/null | tail -1 | grep -q -- '$ending\$'"
done <<'EOF'
warn|--strict| warnings; nothing written (--strict stops on warnings)
bad|--strict| warnings*; nothing written
warn|| warnings
EOF
# Sizes the format cannot carry, found by --check before anything is read.
huge=$work/huge
mkdir -p "$huge"
truncate -s 4400M "$huge/HUGE.DAT"
printf '%s\r\n' '[SETUP]' 'CompanyName=c' 'GameTitle=t' 'GameClass=w' 'GameDir=d' '[UPDATE]' 'UpdateFile00=u,HUGE.DAT' >"$huge/UPDATE.INI"
check "a member of 4 GiB or more: exit 1" "! '$FA2' build '$huge' --check 2>'$work/huge.err' >/dev/null"
expect_in "$work/huge.err" 'UPDATE.INI: error: the folder'"'"'s file "HUGE.DAT" has 4613734400 bytes: an archive member must stay under 4 GiB'
expect_in "$work/huge.err" 'warning: the files to pack add up to 4400 MiB: the archive must come out under 1536 MiB once compressed'

# ---- Stub lookup ------------------------------------------------------------------
mkdir -p "$work/bin"
cp "$FA2" "$work/bin/fa2"
# A copied fa2 names the places it looked (beside it, ../share/fa2), and no
# build-tree place outside a build tree.
"$work/bin/fa2" build "$root/examples/sample-update" -o "$work/none.exe" 2>"$work/nostub.err"
check "no stub: exit 1" "[ $? -eq 1 ]"
check "no stub: the places looked at, and what to do" "grep -qxF 'fa2: build: no updater stub: cannot find updater-stub.exe (looked for $work/bin/updater-stub.exe, $work/share/fa2/updater-stub.exe); put updater-stub.exe from the release package beside fa2, or pass --stub STUB.exe' '$work/nostub.err'"
check "no stub: nothing written" "[ ! -e '$work/none.exe' ]"

# ---- Stamping real executables --------------------------------------------------------
cc64=$(command -v x86_64-w64-mingw32-gcc-posix || command -v x86_64-w64-mingw32-gcc || true)
cc32=$(command -v i686-w64-mingw32-gcc-posix || command -v i686-w64-mingw32-gcc || true)
if [ -z "$cc64" ] || [ -z "$cc32" ] || ! command -v x86_64-w64-mingw32-windres >/dev/null; then
  echo "fa2 build/stamp: MinGW not found, executable checks skipped"
else
  pe=$work/pe
  mkdir -p "$pe"
  cat >"$pe/probe.c" <<'EOF'
#include <windows.h>
#include <stdio.h>
int main(void) {
  HRSRC r = FindResourceA(NULL, MAKEINTRESOURCEA(102), "UPDATE");
  if (!r) { printf("no archive\n"); return 1; }
  const unsigned char* p = LockResource(LoadResource(NULL, r));
  printf("archive %lu bytes, magic %.3s\n", (unsigned long)SizeofResource(NULL, r), (const char*)p);
  return 0;
}
EOF
  printf '<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0"/>\n' >"$pe/probe.manifest"
  # A 1x1 32-bit icon.
  printf '\0\0\1\0\1\0\1\1\0\0\1\0\x20\0\x30\0\0\0\x16\0\0\0\x28\0\0\0\1\0\0\0\2\0\0\0\1\0\x20\0%s\xff\0\0\xff\0\0\0\0' \
    "$(printf '\\0%.0s' $(seq 24))" >"$pe/probe.ico"
  printf '%s\n' "1 ICON \"probe.ico\"" >"$pe/probe_icon.rc"
  "$FA2" pack -o "$pe/old.fa2" --compress "$root/examples/sample-game/README.TXT" >/dev/null
  cat >"$pe/base.rc" <<'EOF'
1 24 "probe.manifest"
100 DIALOGEX 0, 0, 100, 50
CAPTION "plain"
BEGIN
END
101 DIALOGEX 0, 0, 120, 60
CAPTION "agreement"
BEGIN
END
STRINGTABLE
BEGIN
  7, "a string"
END
300 ZDATA { "named type data" }
EOF
  cat "$pe/base.rc" "$pe/probe_icon.rc" >"$pe/plain.rc"
  cat "$pe/plain.rc" >"$pe/with.rc"
  echo '102 UPDATE "old.fa2"' >>"$pe/with.rc"
  build_probe() { # CC WINDRES RC OUT [flags]
    (cd "$pe" && "$2" "$3" -O coff -o "$4.o" && "$1" -O1 probe.c "$4.o" -o "$4" "${@:5}") 2>"$pe/cc.err"
  }
  check "make 64-bit stub" "build_probe '$cc64' x86_64-w64-mingw32-windres plain.rc stub64.exe"
  check "make 64-bit stub with an archive" "build_probe '$cc64' x86_64-w64-mingw32-windres with.rc with64.exe -s"
  check "make 32-bit stub" "build_probe '$cc32' i686-w64-mingw32-windres plain.rc stub32.exe -s"
  check "make 32-bit stub with an archive" "build_probe '$cc32' i686-w64-mingw32-windres with.rc with32.exe"

  # Resources other than UPDATE, as windres decompiles them.
  others() { x86_64-w64-mingw32-windres -i "$1" -O rc | awk '/^\/\* Type:/ { skip = ($0 ~ /"UPDATE"/) } !skip'; }
  updates() { x86_64-w64-mingw32-windres -i "$1" -O rc | grep -c '^/\* Type: "UPDATE"'; }
  sample=$root/examples/sample-update
  for stub in stub64 with64 stub32 with32; do
    s=$pe/$stub.exe
    out=$pe/$stub-out.exe
    check "$stub: build" "'$FA2' build '$sample' --stub '$s' -o '$out' --time '2024-01-02 03:04:05' >/dev/null"
    check "$stub: list finds the members" "[ \"\$('$FA2' list '$out' | cut -f1 | tr '\n' ' ')\" = 'UPDATE.INI GAME.DAT README.TXT CONFIG.DAT ' ]"
    check "$stub: verify" "'$FA2' verify '$out' >/dev/null"
    check "$stub: objdump reads it" "x86_64-w64-mingw32-objdump -p '$out' >'$pe/dump' 2>&1 && grep -q 'Resource Directory \[.rsrc\]' '$pe/dump'"
    check "$stub: objdump headers" "x86_64-w64-mingw32-objdump -h '$out' >/dev/null 2>&1"
    check "$stub: other resources intact" "diff <(others '$s') <(others '$out') >/dev/null"
    check "$stub: one UPDATE resource" "[ \"\$(updates '$out')\" = 1 ]"
    check "$stub: the manifest, icon and named type are there" "others '$out' | grep -q 'RT_MANIFEST' && others '$out' | grep -q 'Type: icon' && others '$out' | grep -q 'Type: \"ZDATA\"'"
    check "$stub: same bytes again" "'$FA2' build '$sample' --stub '$s' -o '$out.2' --time '2024-01-02 03:04:05' >/dev/null && cmp -s '$out' '$out.2'"
    check "$stub: stamping the output again changes nothing" "'$FA2' stamp '$out' '$out' -o '$out.3' >/dev/null && cmp -s '$out' '$out.3'"
  done
  check "the old archive was replaced" "'$FA2' list '$pe/with64.exe' | grep -q README.TXT && ! '$FA2' list '$pe/with64-out.exe' | grep -q '^README.TXT.*no\b'"

  # fa2 stamp on its own.
  "$FA2" pack -o "$pe/a.fa2" --compress --scramble "$sample"/* >/dev/null
  check "stamp" "'$FA2' stamp '$pe/stub64.exe' '$pe/a.fa2' -o '$pe/s.exe' >/dev/null && '$FA2' verify '$pe/s.exe' >/dev/null"
  check "stamp twice: the same bytes" "'$FA2' stamp '$pe/stub64.exe' '$pe/a.fa2' -o '$pe/s2.exe' >/dev/null && cmp -s '$pe/s.exe' '$pe/s2.exe'"
  check "stamp puts the archive byte for byte" "'$FA2' extract '$pe/s.exe' -C '$pe/x1' && '$FA2' extract '$pe/a.fa2' -C '$pe/x2' && diff -r '$pe/x1' '$pe/x2'"
  size=$(stat -c %s "$pe/a.fa2")
  head -c $((size - 5)) "$pe/a.fa2" >"$pe/cut.fa2"
  check "stamp refuses a damaged archive" "! '$FA2' stamp '$pe/stub64.exe' '$pe/cut.fa2' -o '$pe/bad.exe' 2>'$pe/stamp.err'; grep -q 'nothing written' '$pe/stamp.err' && [ ! -e '$pe/bad.exe' ]"
  check "stamp refuses a non-executable" "! '$FA2' stamp '$pe/a.fa2' '$pe/a.fa2' -o '$pe/bad.exe' 2>/dev/null && [ ! -e '$pe/bad.exe' ]"

  # A member of several encoder blocks (text, runs, noise): built on one
  # thread and on three, the same bytes, read back whole at every level.
  many=$work/many
  built=$work/many-built
  mkdir -p "$many" "$built/x"
  { for i in $(seq 150); do cat "$sample/README.TXT"; head -c $((i * 40)) /dev/zero; done; head -c 400000 /dev/urandom; } >"$many/BIG.DAT"
  printf '%s\r\n' '[SETUP]' 'CompanyName=c' 'GameTitle=t' 'GameClass=w' 'GameDir=d' '[UPDATE]' 'UpdateFile00=u,BIG.DAT' >"$many/UPDATE.INI"
  for level in 1 2 3; do
    for threads in 1 3; do
      FA2_THREADS=$threads "$FA2" build "$many" --stub "$pe/stub32.exe" -o "$built/$level-$threads.exe" --level $level --time '2024-01-02 03:04:05' >/dev/null
    done
    check "level $level: one thread and three give the same updater" "cmp -s '$built/$level-1.exe' '$built/$level-3.exe'"
    check "level $level: verify and extract give the file back" "'$FA2' verify '$built/$level-3.exe' >/dev/null && '$FA2' extract '$built/$level-3.exe' -C '$built/x' && cmp -s '$built/x/BIG.DAT' '$many/BIG.DAT'"
  done
  cp "$pe/stub32.exe" "$work/bin/updater-stub.exe"
  check "stub found beside fa2" "'$work/bin/fa2' build '$sample' -o '$pe/beside.exe' | grep -q 'updater-stub.exe' && '$FA2' verify '$pe/beside.exe' >/dev/null"

  if [ "${FA2_TEST_WINE:-0}" = 1 ] && wine_paths=$("$(dirname "$0")/../../scripts/wine-wow64.sh" --quiet); then
    wine=$(sed -n 1p <<<"$wine_paths")
    export WINEPREFIX=$work/wine WINEDEBUG=-all WINESERVER=$(sed -n 2p <<<"$wine_paths") WINEDLLOVERRIDES="mscoree,mshtml="
    archive=$(stat -c %s "$pe/a.fa2")
    check "wine: the stamped program finds its archive" "timeout 120 '$wine' '$pe/s.exe' 2>/dev/null | tr -d '\r' | grep -qx 'archive $archive bytes, magic FA2'"
    check "wine: the stub has none" "! timeout 60 '$wine' '$pe/stub64.exe' >/dev/null 2>&1"
    "$WINESERVER" -k 2>/dev/null
  fi
fi

finish "fa2 build and stamp"
