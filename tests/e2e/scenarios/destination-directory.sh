# The sample update; README.TXT of the installed game is a folder.
fa2_install_game
fa2_reg_add 'HKCU\Software\SampleSoft\SampleGame' DataPath REG_SZ 'C:\SampleGame\Save'
rm "$GAME/README.TXT"
mkdir -p "$GAME/README.TXT"
printf 'inside\r\n' >"$GAME/README.TXT/NOTE.TXT"
sample=$FA2_ROOT/examples/sample-update

verify() {
  # All or nothing: GAME.DAT, the line before, keeps its old content.
  fa2_expect_same "$GAME/GAME.DAT" "$FA2_ROOT/examples/sample-game/GAME.DAT"
  fa2_expect_mtime "$GAME/GAME.DAT" "$FA2_OLD_TIME"
  fa2_check "README.TXT is still a folder" test -d "$GAME/README.TXT"
  fa2_expect_text "$GAME/README.TXT/NOTE.TXT" $'inside\r\n'
  fa2_expect_missing "$GAME/Save/CONFIG.DAT"
  fa2_expect_no_leftovers "$GAME"
}
