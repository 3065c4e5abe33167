fa2_install_game
src=$WORK/update
mkdir -p "$src"
fa2_cp932 "$src/UPDATE.INI" <<'INI'
[SETUP]
CompanyName=SampleSoft
GameTitle=サンプルゲーム
GameClass=SampleGameWindow
GameDir=SampleGame
ModeTextUpdateOrInstall=1
UpdateMessage=一行目です。\n二行目 C:\data\x 表n ソn \\n終わり

[UPDATE]
UpdateFile00=GAME.DAT
INI
printf 'GAMEDATA v2.00\n' >"$src/GAME.DAT"
fa2_make_updater message "$src" || return 1
UPDATER=$WORK/message.exe

verify() {
  fa2_expect_same "$GAME/GAME.DAT" "$FA2_ROOT/examples/sample-game/GAME.DAT"
}
