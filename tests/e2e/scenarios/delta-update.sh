# A real version pair as a delta update: the Japanese message catalogs of
# Debian's freeciv-data, Debian 12's installed (install mode 1, old times),
# the update to Debian 13's built by "fa2 build --from" a copy of the old
# install, so both members go as deltas. The delta-update-* scenarios source
# this set-up with DELTA_CASE set:
#   (unset)   the installed files are the deltas' bases: both applied
#   changed   a byte of the installed core catalog flipped (size and time
#             kept): the update refused, naming the file; no full member
#   full      the same flip, the update built with --keep-full: the core
#             catalog's full member written, the other catalog's delta applied
# The pair comes from Debian's package registry the first time
# (fetch-delta-pair.sh, cached); without the registry the scenario is
# skipped.
DELTA_CASE=${DELTA_CASE:-}
pair=$("$FA2_ROOT/tests/e2e/fetch-delta-pair.sh")
case $? in
  0) ;;
  77) exit 77 ;;
  *) echo "cannot fetch the real version pair"; return 1 ;;
esac
catalogs=usr/share/locale/ja/LC_MESSAGES
CATALOGS=(freeciv-core.mo freeciv-nations.mo)
OLD=$WORK/old NEW=$WORK/new GAME=$DRIVE_C/Freeciv
mkdir -p "$OLD/ja" "$NEW/ja" "$GAME/ja"
for f in "${CATALOGS[@]}"; do
  cp "${pair%%$'\n'*}/$catalogs/$f" "$OLD/ja/$f" && cp "${pair#*$'\n'}/$catalogs/$f" "$NEW/ja/$f" || return 1
  if cmp -s "$OLD/ja/$f" "$NEW/ja/$f"; then echo "$f is the same in both versions: no pair"; return 1; fi
done

# The game as its installer left it.
printf '%s\n' '[SETUP]' 'CompanyName=SampleSoft' 'GameTitle=フリーシヴ' 'GameDir=Freeciv' 'GameExe=GAME.EXE' \
  'UninstExe=UNINST.EXE' 'SetupBmp=SETUP.BMP' 'InstallSelects=1' 'InstallTitle0=標準インストール' \
  'InstallFiles0=1:GAME.EXE' 'Shortcuts=1' 'Shortcut0=GAME.EXE,フリーシヴ' 'GameClass=FreecivWindow' \
  'DiskCheckFile1=FREECIV1.CHK' | fa2_cp932 "$GAME/SETUP.INI"
cp "$FA2_ROOT/examples/sample-game/GAME.EXE" "$GAME/"
cp "$OLD"/ja/* "$GAME/ja/"
touch -d "$FA2_OLD_TIME UTC" "$GAME"/* "$GAME"/ja/*
fa2_reg_add 'HKCU\Software\SampleSoft\Freeciv' InstPath REG_SZ 'C:\Freeciv' || return 1
fa2_reg_add 'HKCU\Software\SampleSoft\Freeciv' InstMode REG_DWORD 1 || return 1

# The update, against the old install.
printf '%s\n' '[SETUP]' 'CompanyName=SampleSoft' 'GameTitle=フリーシヴ' 'GameClass=FreecivWindow' 'GameDir=Freeciv' \
  'UpdaterVersion=3.1.4' '' '[UPDATE]' 'UpdateFile00=u,ja\freeciv-core.mo' 'UpdateFile01=u,ja\freeciv-nations.mo' |
  fa2_cp932 "$NEW/UPDATE.INI"
build=(--from "$OLD")
[[ $DELTA_CASE == full ]] && build+=(--keep-full)
"$FA2" build "$NEW" -o "$WORK/delta.exe" --stub "$STUB" --time "$FA2_MEMBER_TIME" "${build[@]}" >"$WORK/build.txt" ||
  { cat "$WORK/build.txt"; return 1; }
UPDATER=$WORK/delta.exe
"$FA2" list "$UPDATER" >"$WORK/list.txt" || return 1

# The player's copy of the core catalog, changed since it was installed.
if [[ -n $DELTA_CASE ]]; then
  python3 - "$GAME/ja/freeciv-core.mo" <<'EOF' || return 1
import sys
with open(sys.argv[1], 'r+b') as f:
    f.seek(100000)
    byte = f.read(1)[0]
    f.seek(100000)
    f.write(bytes([byte ^ 0x01]))
EOF
  touch -d "$FA2_OLD_TIME UTC" "$GAME/ja/freeciv-core.mo"
fi
mkdir -p "$WORK/installed" && cp -a "$GAME/." "$WORK/installed/"

tree_of() { (cd "$1" && find . | LC_ALL=C sort); }

# Whether the archive has a member of exactly this name.
has_member() { cut -f1 "$WORK/list.txt" | grep -qxF -- "$1"; }
# Whether the plan's line for catalog NAME writes it and says TEXT.
plan_says() { grep -F " u ja\\$1 -> $GAME/ja/$1: write " "$WORK/plan.txt" | grep -qF "$2"; }

verify() {
  local f how
  for f in "${CATALOGS[@]}"; do
    fa2_check "the archive carries $f as a delta" has_member "\\delta\\$f"
    if [[ $DELTA_CASE == full ]]; then
      fa2_check "the archive keeps $f whole beside it" has_member "$f"
    else
      fa2_check "the archive has no full member $f" eval '! has_member "$f"'
    fi
    # How the plan says the file comes (the run's files alone cannot tell).
    how='(base matches: delta applied'
    [[ $DELTA_CASE == full && $f == freeciv-core.mo ]] && how='(not the base: full member written)'
    [[ $DELTA_CASE == changed ]] || fa2_check "the plan writes ja\\$f ... $how" plan_says "$f" "$how"
  done
  if [[ $DELTA_CASE == changed ]]; then
    # Refused before anything was written: every file as it was.
    for f in SETUP.INI GAME.EXE "${CATALOGS[@]/#/ja/}"; do
      fa2_expect_same "$GAME/$f" "$WORK/installed/$f"
      fa2_expect_mtime "$GAME/$f" "$FA2_OLD_TIME"
    done
  else
    for f in "${CATALOGS[@]}"; do
      fa2_expect_same "$GAME/ja/$f" "$NEW/ja/$f"
      fa2_expect_mtime "$GAME/ja/$f" "$FA2_MEMBER_TIME"
    done
    for f in SETUP.INI GAME.EXE; do
      fa2_expect_same "$GAME/$f" "$WORK/installed/$f"
      fa2_expect_mtime "$GAME/$f" "$FA2_OLD_TIME"
    done
  fi
  fa2_check "no file added to or taken from the game" cmp -s <(tree_of "$GAME") <(tree_of "$WORK/installed")
  fa2_expect_no_leftovers "$GAME"
}
