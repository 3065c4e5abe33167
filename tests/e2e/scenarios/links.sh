# Links in the game's folders, on the real updater (Wine reports a Unix
# symbolic link to a folder as a reparse point, as Windows does a junction):
#   A: the game's folder "data" is a link to a folder outside the game:
#      the line through it refuses the whole update before its first file.
#   B: the data folder (DataPath) is itself such a link: a "d" line refuses.
# Nothing is written in the folders the links lead to, or in the game.
fa2_install_game
mkdir -p "$DRIVE_C/Outside" "$DRIVE_C/OutsideData"
ln -s "$DRIVE_C/Outside" "$GAME/data"
ln -s "$DRIVE_C/OutsideData" "$GAME/Save"
fa2_reg_add 'HKCU\Software\SampleSoft\SampleGame' DataPath REG_SZ 'C:\SampleGame\Save'

make() { # name, lines of [UPDATE]...
  local name=$1 dir=$WORK/$1
  shift
  fa2_sample_update_ini "$dir" "$name" "$@"
  for f in GAME.DAT MAP.DAT CONFIG.DAT; do printf 'new %s\r\n' "$f" >"$dir/$f"; done
  fa2_make_updater "$name" "$dir"
}
make Links-A 'UpdateFile00=u,GAME.DAT' 'UpdateFile01=u,data\MAP.DAT' || return 1
make Links-B 'UpdateFile00=u,GAME.DAT' 'UpdateFile01=d,CONFIG.DAT' || return 1
UPDATER=$WORK/Links-A.exe
LINKS_B=$(fa2_winpath "$WORK/Links-B.exe")

verify() {
  fa2_expect_missing "$DRIVE_C/Outside/MAP.DAT"
  fa2_expect_missing "$DRIVE_C/OutsideData/CONFIG.DAT"
  fa2_expect_same "$GAME/GAME.DAT" "$FA2_ROOT/examples/sample-game/GAME.DAT"
}
