fa2_install_game
rm "$GAME/SETUP.INI"

verify() {
  fa2_expect_same "$GAME/GAME.DAT" "$FA2_ROOT/examples/sample-game/GAME.DAT"
  fa2_expect_missing "$GAME/SETUP.INI"
}
