# The game's files are there; its registry key lacks InstMode, then InstPath.
game=$DRIVE_C/SampleGame
fa2_install_game
key='HKCU\Software\SampleSoft\SampleGame'
fa2_reg_add "$key" DataPath REG_SZ 'C:\SampleGame'
fa2_reg_delete "$key" InstMode || return 1
fa2_on_signal drop-instpath "fa2_reg_delete '$key' InstPath && fa2_reg_add '$key' InstMode REG_DWORD 1"

verify() {
  fa2_expect_same "$GAME/GAME.DAT" "$FA2_ROOT/examples/sample-game/GAME.DAT"
}
