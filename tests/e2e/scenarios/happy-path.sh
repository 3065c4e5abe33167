# The sample game as its installer leaves it, with a data folder that does not
# exist yet (the update creates that one level). VARIANT picks the updater:
# the linked one, the linked archive stamped into the stub by "fa2 stamp", or
# the sample folder made into an updater by "fa2 build".
fa2_install_game
fa2_reg_add 'HKCU\Software\SampleSoft\SampleGame' DataPath REG_SZ 'C:\SampleGame\Save'
sample=$FA2_ROOT/examples/sample-update

case $VARIANT in
  '') ;;
  stamped)
    "$FA2" stamp "$STUB" "$UPDATER" -o "$WORK/stamped.exe" || return 1
    UPDATER=$WORK/stamped.exe ;;
  built)
    "$FA2" build "$sample" -o "$WORK/built.exe" --stub "$STUB" --time "$FA2_MEMBER_TIME" || return 1
    UPDATER=$WORK/built.exe ;;
  *) echo "unknown variant $VARIANT"; return 1 ;;
esac

verify() {
  local f
  for f in GAME.DAT README.TXT; do
    fa2_expect_same "$GAME/$f" "$sample/$f"
    fa2_expect_mtime "$GAME/$f" "$FA2_MEMBER_TIME"
  done
  fa2_expect_same "$GAME/Save/CONFIG.DAT" "$sample/CONFIG.DAT"
  fa2_expect_mtime "$GAME/Save/CONFIG.DAT" "$FA2_MEMBER_TIME"
  for f in GAME.EXE SETUP.INI; do
    fa2_expect_same "$GAME/$f" "$FA2_ROOT/examples/sample-game/$f"
    fa2_expect_mtime "$GAME/$f" "$FA2_OLD_TIME"
  done
  fa2_expect_no_leftovers "$GAME"
}
