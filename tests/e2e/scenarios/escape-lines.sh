# Lines that would write outside the game's folders, on the real updater:
# the whole update is refused before its first file is written.
#   A: u GAME.DAT, then u ..\..\ESCAPE1.DAT, d ..\..\..\ESCAPE3.DAT,
#      u ..\..\windows\ESC5.DAT, u \ABS2.DAT: the write-failure box.
#   B: a copy line climbing out of the disc and the install folder: the
#      copy-failure box with its path.
#   C: a copy line whose disc prefix is not a digit: the copy-failure box.
fa2_install_game
fa2_reg_add 'HKCU\Software\SampleSoft\SampleGame' DataPath REG_SZ 'C:\SampleGame\Save'
mkdir -p "$GAME/Save"

make() { # name, lines of [UPDATE]...
  local name=$1 dir=$WORK/$1
  shift
  fa2_sample_update_ini "$dir" "$name" "$@"
  for f in GAME.DAT ESCAPE1.DAT ESCAPE3.DAT ESC5.DAT ABS2.DAT; do printf 'new %s\r\n' "$f" >"$dir/$f"; done
  fa2_make_updater "$name" "$dir"
}
make Escape-A 'UpdateFile00=u,GAME.DAT' 'UpdateFile01=u,..\..\ESCAPE1.DAT' 'UpdateFile02=d,..\..\..\ESCAPE3.DAT' \
  'UpdateFile03=u,..\..\windows\ESC5.DAT' 'UpdateFile04=u,\ABS2.DAT' || return 1
make Escape-B 'UpdateFile00=u,GAME.DAT' 'CopyFile00=1:..\..\ESCAPE1.DAT' || return 1
make Escape-C 'UpdateFile00=u,GAME.DAT' 'CopyFile00=x:MOVIE' || return 1
UPDATER=$WORK/Escape-A.exe
ESCAPE_B=$(fa2_winpath "$WORK/Escape-B.exe")
ESCAPE_C=$(fa2_winpath "$WORK/Escape-C.exe")
before=$(cd "$DRIVE_C" && find . -path ./users -prune -o -path ./windows -prune -o -type f -print | LC_ALL=C sort)

verify() {
  local f
  for f in ESCAPE1.DAT ESCAPE3.DAT ABS2.DAT windows/ESC5.DAT; do fa2_expect_missing "$DRIVE_C/$f"; done
  fa2_expect_same "$GAME/GAME.DAT" "$FA2_ROOT/examples/sample-game/GAME.DAT"
  fa2_check "nothing new outside the prefix's system folders" \
    test "$before" = "$(cd "$DRIVE_C" && find . -path ./users -prune -o -path ./windows -prune -o -type f -print | LC_ALL=C sort)"
}
