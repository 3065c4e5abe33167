# Each run gets a SETUP.INI with one fault (the file is Shift-JIS: edit bytes).
fa2_install_game
ini=$GAME/SETUP.INI
good=$FA2_ROOT/examples/sample-game/SETUP.INI
LC_ALL=C sed 's/^InstallSelects=1/InstallSelects=5/' "$good" >"$ini"
fa2_on_signal shortcut-error "LC_ALL=C sed 's/^Shortcut0=.*/Shortcut0=GAME.EXE\r/' '$good' >'$ini'"
fa2_on_signal add-files-missing "{ cat '$good'; printf 'InstallAfterAdd=1\r\n'; } >'$ini'"
fa2_on_signal gameexe-missing "LC_ALL=C sed '/^GameExe=/d' '$good' >'$ini'"

verify() {
  fa2_expect_same "$GAME/GAME.DAT" "$FA2_ROOT/examples/sample-game/GAME.DAT"
}
