# D: and E: are CD-ROM drives; both are empty until the player "inserts" the
# disc (SETUP.INI names SAMPLE1.CHK as the check file of disc 1). The disc in
# D: and the one in E: differ in EXTRA.DAT.
fa2_install_game
fa2_reg_add 'HKCU\Software\SampleSoft\SampleGame' DataPath REG_SZ 'C:\SampleGame'
disc=$WORK/disc-d
other=$WORK/disc-e
for d in "$disc" "$other"; do
  mkdir -p "$d/MOVIE" "$d/BONUS"
  printf 'opening movie\r\n' >"$d/MOVIE/OPENING.MPG"
  printf 'ムービーの説明\r\n' | iconv -f UTF-8 -t CP932 >"$d/MOVIE/ムービー.TXT"
  printf 'bonus\r\n' >"$d/BONUS/BONUS.TXT"
  printf 'mode 2 only\r\n' >"$d/MODE2.DAT"
done
printf 'extra from D\r\n' >"$disc/EXTRA.DAT"
printf 'extra from E\r\n' >"$other/EXTRA.DAT"
chmod a-w "$disc/EXTRA.DAT" "$other/EXTRA.DAT"
# Both CD-ROM drives with one server restart (drive types are read at start).
fa2_map_drive d "$disc" && fa2_map_drive e "$other" || return 1
fa2_reg_add 'HKLM\Software\Wine\Drives' d: REG_SZ cdrom || return 1
fa2_reg_add 'HKLM\Software\Wine\Drives' e: REG_SZ cdrom || return 1
fa2_wine_restart
fa2_on_signal insert-disc "touch '$disc/SAMPLE1.CHK' '$other/SAMPLE1.CHK'"

src=$WORK/update
mkdir -p "$src"
fa2_cp932 "$src/UPDATE.INI" <<'INI'
[SETUP]
CompanyName=SampleSoft
GameTitle=サンプルゲーム
GameClass=SampleGameWindow
GameDir=SampleGame
UpdaterVersion=Disc

[UPDATE]
UpdateFile00=u,GAME.DAT
CopyFile00=1:EXTRA.DAT
CopyFile01=MOVIE
CopyFile02=2,MODE2.DAT
CopyFile03=1,1:BONUS\BONUS.TXT
INI
printf 'GAMEDATA v3\n' >"$src/GAME.DAT"
fa2_make_updater disc "$src" || return 1
UPDATER=$WORK/disc.exe

verify() {
  fa2_expect_same "$GAME/GAME.DAT" "$src/GAME.DAT"
  fa2_expect_same "$GAME/EXTRA.DAT" "$disc/EXTRA.DAT"
  fa2_check "EXTRA.DAT writable" test "$(stat -c %a "$GAME/EXTRA.DAT")" != 444
  fa2_expect_same "$GAME/MOVIE/OPENING.MPG" "$disc/MOVIE/OPENING.MPG"
  fa2_expect_same "$GAME/MOVIE/ムービー.TXT" "$disc/MOVIE/ムービー.TXT"
  fa2_expect_same "$GAME/BONUS/BONUS.TXT" "$disc/BONUS/BONUS.TXT"
  fa2_expect_missing "$GAME/MODE2.DAT"
  fa2_expect_missing "$GAME/OPENING.MPG"
}
