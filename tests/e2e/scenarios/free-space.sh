# e2e: mounts
# e2e: no plan: the player makes room on the disk during the run, after the refusal the plan predicts
# The game lives on D:, a 1 MiB tmpfs mostly taken by a filler file.
disk=$WORK/small
fa2_small_disk "$disk" 1m || return 1
fa2_map_drive d "$disk" || return 1
fa2_install_game "$disk/SampleGame" 'D:\SampleGame'
fa2_reg_add 'HKCU\Software\SampleSoft\SampleGame' DataPath REG_SZ 'D:\SampleGame'
head -c 700000 /dev/zero >"$disk/FILLER.BIN"

# NAME REQUIRED: an updater of GAME.DAT that requires REQUIRED bytes.
make_space() {
  local src=$WORK/$1
  mkdir -p "$src"
  fa2_cp932 "$src/UPDATE.INI" <<INI
[SETUP]
CompanyName=SampleSoft
GameTitle=サンプルゲーム
GameClass=SampleGameWindow
GameDir=SampleGame
UpdaterVersion=Space

[UPDATE]
RequiredDiskSpace=$2
UpdateFile00=u,GAME.DAT
INI
  cp "$FA2_ROOT/examples/sample-update/GAME.DAT" "$src/"
  fa2_make_updater "$1" "$src"
}
required=600000
make_space space $required || return 1
UPDATER=$WORK/space.exe
src=$WORK/space
SHORT_BY_ONE=$(fa2_winpath "$WORK/short-by-one.exe")
EXACT=$(fa2_winpath "$WORK/exact.exe")
measure() {
  local free=$(($(stat -f -c '%a * %S' "$disk")))
  make_space short-by-one $((free + 1)) && make_space exact $free
}
fa2_on_signal measure measure

available=$(($(stat -f -c '%a * %S' "$disk")))
SHORTFALL=$((required - available))
((SHORTFALL > 0)) || { echo "the filler leaves too much room"; return 1; }

# Between the refusal and the second Next: nothing may have changed yet.
fa2_on_signal make-room "cmp -s '$disk/SampleGame/GAME.DAT' '$FA2_ROOT/examples/sample-game/GAME.DAT' || touch '$WORK/touched'; rm '$disk/FILLER.BIN'"

verify() {
  fa2_check "nothing written before the room was made" test ! -e "$WORK/touched"
  fa2_expect_same "$GAME/GAME.DAT" "$src/GAME.DAT"
  fa2_expect_mtime "$GAME/GAME.DAT" "$FA2_MEMBER_TIME"
  fa2_expect_no_leftovers "$GAME"
}
