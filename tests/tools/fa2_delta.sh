#!/usr/bin/env bash
# Delta members: fa2 build --from on a small made-up game (an edited file, a
# shifted one, an unchanged one, a new one, a "d" line's and one too changed
# to pay), then list, verify, extract with and without --from, plan and try
# (before Wine) on the result; --keep-full; and the stubs that cannot apply
# deltas refused with nothing written. Stubs are made with MinGW.
. "$(dirname "$0")/lib/checks.sh" "$1"
cc=$(command -v x86_64-w64-mingw32-gcc-posix || command -v x86_64-w64-mingw32-gcc || true)
if [ -z "$cc" ] || ! command -v x86_64-w64-mingw32-windres >/dev/null; then
  echo "fa2 delta: skipped: MinGW not found (the tests need stubs with and without FA2FEATURES)"
  exit 0
fi
cd "$work"
printf 'int main(void) { return 0; }\n' >stub.c
printf 'FA2FEATURES RCDATA { "delta1" }\n' >can.rc
printf 'FA2FEATURES RCDATA { "delta10 other" }\n' >near.rc
for s in can near; do x86_64-w64-mingw32-windres $s.rc -O coff -o $s.o && "$cc" -O1 stub.c $s.o -o $s.exe; done
"$cc" -O1 stub.c -o plain.exe

# The old version and the update. Text that compresses, so that a delta
# has to beat a small full member.
mkdir -p old/Data new data
words() { awk -v n="$1" -v s="$2" 'BEGIN { srand(s); for (i = 0; i < n; i++) printf "w%d ", int(rand() * 500) }'; }
words 30000 1 >old/GAME.DAT
{ head -c 60000 old/GAME.DAT; echo EDITED; tail -c +60100 old/GAME.DAT; } >new/GAME.DAT
words 8000 2 >old/Data/MOVIE.BIN
{ words 300 3; cat old/Data/MOVIE.BIN; } >new/MOVIE.BIN
words 3000 4 >old/CONFIG.DAT
cp old/CONFIG.DAT new/CONFIG.DAT
words 3000 5 >old/SAVE.DAT
words 3000 6 >new/SAVE.DAT
words 3000 7 >new/EXTRA.DAT
words 3000 8 >old/REDONE.DAT
{ head -c 1500 old/REDONE.DAT; words 2800 9; } >new/REDONE.DAT
printf '%s\r\n' '[SETUP]' 'CompanyName=c' 'GameTitle=t' 'GameClass=w' 'GameDir=d' 'DataFolder=' '[UPDATE]' \
  'UpdateFile00=u,GAME.DAT' 'UpdateFile01=o,data\movie.bin' 'UpdateFile02=u,CONFIG.DAT' 'UpdateFile03=d,SAVE.DAT' \
  'UpdateFile04=u,EXTRA.DAT' 'UpdateFile05=u,REDONE.DAT' >new/UPDATE.INI
cp "$root"/examples/sample-game/{SETUP.INI,GAME.EXE} old/
find old -type f -exec touch -d 2000-01-01 {} +
build() { "$FA2" build new --stub "$1" -o "$2" --from old --data-from data --time '2024-01-02 03:04:05' "${@:3}"; }

# ---- fa2 build --from ---------------------------------------------------------------
check "build --from" "build can.exe U.exe >build.out 2>build.err"
# NAME|how it goes (the start of its line of the report)
while IFS='|' read -r name how; do
  check "build: $name $how" "grep -q '^$name: $how' build.out"
done <<'EOF'
GAME.DAT|delta against old/GAME.DAT, [0-9]* bytes stored instead of
movie.bin|delta against old/Data/MOVIE.BIN, 
CONFIG.DAT|delta against old/CONFIG.DAT (unchanged)
SAVE.DAT|full (UpdateFile03 is a "d" line, which keeps an existing file
EXTRA.DAT|full (new: the old version has no EXTRA.DAT (UpdateFile04))
REDONE.DAT|full (its delta would take .*, more than 80%)
EOF
check "build: the total saved" "grep -q '^deltas: 3 members, .* bytes saved$' build.out"
check "build: temporary files gone" "[ \"\$(ls | grep -c fa2-)\" = 0 ]"

# ---- list, verify, extract -------------------------------------------------------------
"$FA2" list U.exe >list.out
check "list: the members" "[ \"\$(cut -f1 list.out | tr '\n' ' ')\" = 'UPDATE.INI \\delta\\GAME.DAT \\delta\\movie.bin \\delta\\CONFIG.DAT SAVE.DAT EXTRA.DAT REDONE.DAT ' ]"
size() { stat -c %s "$1"; }
sum() { sha256sum "$1" | cut -c1-64; }
check "list: a delta's base and result" "grep -qF \"delta GAME.DAT: base $(size old/GAME.DAT) bytes, sha256 $(sum old/GAME.DAT) -> result $(size new/GAME.DAT) bytes, sha256 $(sum new/GAME.DAT)\" list.out"
check "verify" "'$FA2' verify U.exe | grep -q 'every SHA-256 matches, 3 deltas applied to a base of zeros'"
check "verify --from old" "'$FA2' verify U.exe --from old | grep -q '3 deltas applied to their bases in old$'"
check "verify --from new: no base there" "! '$FA2' verify U.exe --from new 2>verify.err >/dev/null && grep -q 'no file in new is its base' verify.err"
check "extract --from old: the new files, byte for byte" "'$FA2' extract U.exe -C x --from old && for f in GAME.DAT CONFIG.DAT SAVE.DAT EXTRA.DAT REDONE.DAT; do cmp x/\$f new/\$f || exit 1; done && cmp x/movie.bin new/MOVIE.BIN"
check "extract: the delta's file gets the member's time" "[ \"\$(date -u -r x/GAME.DAT '+%F %T')\" = '2024-01-02 03:04:05' ]"
"$FA2" extract U.exe -C y 2>extract.err
check "extract without --from: exit 0, the fulls written" "[ $? = 0 ] && [ \"\$(ls y | tr '\n' ' ')\" = 'EXTRA.DAT REDONE.DAT SAVE.DAT UPDATE.INI ' ]"
check "extract without --from: each delta said" "[ \"\$(grep -c 'not written: it comes as a delta, which needs its base' extract.err)\" = 3 ]"
check "extract a named delta without --from: exit 1" "! '$FA2' extract U.exe -C z GAME.DAT 2>/dev/null && [ ! -e z/GAME.DAT ]"
check "extract --from a folder without the base: exit 1, the rest written" "! '$FA2' extract U.exe -C w --from new 2>/dev/null && [ -e w/EXTRA.DAT ] && [ ! -e w/GAME.DAT ]"

# ---- --keep-full, plan and try ----------------------------------------------------------
check "build --keep-full" "build can.exe K.exe --keep-full >keep.out && grep -q 'the full members are kept beside them (--keep-full)' keep.out"
cp -r old mod
echo more >>mod/GAME.DAT
touch -d 2000-01-01 mod/GAME.DAT
# ARCHIVE|GAME|the GAME.DAT line ends with
while IFS='|' read -r archive game line; do
  check "plan $archive on $game" "'$FA2' plan $archive --install $game --data data | grep -q '^UpdateFile00 u GAME.DAT -> .*$line'"
done <<'EOF'
U.exe|old|as a delta against a base of [0-9]* bytes, sha256 [0-9a-f]*\.\.\. (base matches: delta applied, [0-9]* bytes)$
U.exe|mod|refused (not the base: the delta needs .*, and there is no full member): the update is refused with .*
K.exe|mod|(not the base: full member written)$
EOF
check "--keep-full: both members" "'$FA2' list K.exe | cut -f1 | grep -qx 'GAME.DAT' && '$FA2' list K.exe | grep -q '(full member kept)$'"
check "--keep-full: extract without --from writes the full" "'$FA2' extract K.exe -C k 2>k.err && cmp k/GAME.DAT new/GAME.DAT && [ ! -s k.err ]"
mkdir -p bare tmp
check "try: the deltas before Wine" "! env DISPLAY=:99 TMPDIR='$work/tmp' '$FA2' try U.exe --game bare >try.out 2>/dev/null && grep -q '^   GAME.DAT: needs a base of .*, no full member (another version is refused); the game folder has no file that is this base' try.out && grep -q '^== Deltas take [0-9]* bytes stored for files of' try.out"

# ---- Stubs that cannot apply deltas -----------------------------------------------------
for stub in plain near; do
  check "build with the $stub stub: refused, nothing written" "! build $stub.exe B.exe 2>b.err >/dev/null && grep -q 'cannot apply delta members' b.err && grep -q 'nothing written' b.err && [ -z \"\$(ls | grep '^B\.exe')\" ]"
  check "stamp into the $stub stub: refused, nothing written" "! '$FA2' stamp $stub.exe U.exe -o S.exe 2>/dev/null && [ -z \"\$(ls | grep '^S\.exe')\" ]"
done
check "stamp into a stub that can" "'$FA2' stamp can.exe U.exe -o S.exe >/dev/null && '$FA2' verify S.exe >/dev/null"

finish "fa2 delta"
