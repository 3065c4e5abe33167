# An updater whose archive carries an agreement (AGREE.TXT) and an intro text
# (INTRO.TXT), both compressed but not scrambled: the main sequence reads them
# from the archive in memory. GameTitle of UPDATE.INI is replaced by the
# installed SETUP.INI's title in the caption.
fa2_install_game
src=$WORK/update
mkdir -p "$src"
fa2_cp932 "$src/UPDATE.INI" <<'INI'
[SETUP]
CompanyName=SampleSoft
GameTitle=同意テスト
GameClass=SampleGameWindow
GameDir=SampleGame
UpdaterVersion=Ver.2.00
AgreementText=AGREE.TXT
AgreementTitle=INTRO.TXT

[UPDATE]
UpdateFile00=GAME.DAT
INI
fa2_cp932 "$src/AGREE.TXT" <<'TEXT'
サンプルゲーム 更新プログラム 使用許諾契約

第1条 この更新プログラムは「サンプルゲーム」をお持ちの方だけがお使いになれます。
第2条 同意しない場合は「中止」を押して下さい。
TEXT
printf '%s' '「サンプルゲーム」を Ver.2.00 に更新します。下の使用許諾契約をお読みになり、同意する場合は「同意する」を選んで下さい（更新は 100%% 無料です）。' | iconv -f UTF-8 -t CP932 >"$src/INTRO.TXT"
printf 'GAMEDATA v2.00\n' >"$src/GAME.DAT"
fa2_make_updater agreement "$src" --member AGREE.TXT=compressed --member INTRO.TXT=compressed || return 1
UPDATER=$WORK/agreement.exe

verify() {
  fa2_expect_same "$GAME/GAME.DAT" "$src/GAME.DAT"
  fa2_expect_mtime "$GAME/GAME.DAT" "$FA2_MEMBER_TIME"
  fa2_expect_no_leftovers "$GAME"
}
