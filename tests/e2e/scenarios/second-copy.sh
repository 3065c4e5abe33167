# The sample update without its update message, so that the second copy has
# nothing at all to show.
fa2_install_game
fa2_reg_add 'HKCU\Software\SampleSoft\SampleGame' DataPath REG_SZ 'C:\SampleGame'
src=$WORK/update
mkdir -p "$src"
cp "$FA2_ROOT"/examples/sample-update/* "$src/"
LC_ALL=C sed -i '/^UpdateMessage=/d' "$src/UPDATE.INI"
fa2_make_updater quiet "$src" || return 1
UPDATER=$WORK/quiet.exe

verify() {
  fa2_expect_same "$GAME/GAME.DAT" "$src/GAME.DAT"
}
