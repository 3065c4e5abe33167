# The sample updater (no GameTitleA), and one whose UPDATE.INI names
# GameTitleA (and no update message).
fa2_install_game
fa2_reg_add 'HKCU\Software\SampleSoft\SampleGame' DataPath REG_SZ 'C:\SampleGame'
src=$WORK/update
mkdir -p "$src"
fa2_cp932 "$src/UPDATE.INI" <<'INI'
[SETUP]
CompanyName=SampleSoft
GameTitle=サンプルゲーム
GameTitleA=サンプルゲーム体験版
GameClass=SampleGameWindow
GameDir=SampleGame
UpdaterVersion=Ver.1.02

[UPDATE]
UpdateFile00=GAME.DAT
INI
printf 'GAMEDATA v1.02\n' >"$src/GAME.DAT"
fa2_make_updater title-a "$src" || return 1
TITLE_A_UPDATER=$(fa2_winpath "$WORK/title-a.exe")

verify() {
  # Run 2 updated the game; run 3 wrote nothing.
  fa2_expect_same "$GAME/GAME.DAT" "$FA2_ROOT/examples/sample-update/GAME.DAT"
}
