# e2e: no plan: the disc is taken out of the drive while the update copies from it
# D: is a CD-ROM drive holding disc 1. The first read of FIRST.DAT (the copy
# of the first line) is held until the watcher below has taken the disc out
# (the file open for the copy stays readable); the copy then completes and
# the second line finds no disc.
fa2_install_game
fa2_reg_add 'HKCU\Software\SampleSoft\SampleGame' DataPath REG_SZ 'C:\SampleGame'
disc=$WORK/disc
mkdir -p "$disc"
fa2_map_drive d "$disc" cdrom || return 1

insert_disc() {
  rm -rf "${disc:?}"/*
  touch "$disc/SAMPLE1.CHK"
  printf 'first\r\n' >"$disc/FIRST.DAT"
  printf 'second\r\n' >"$disc/SECOND.DAT"
}
insert_disc
fa2_hold_read "$disc/FIRST.DAT" || return 1

# Each held read: the disc is taken out, then the read goes on.
(
  while true; do
    until [[ -e $WORK/hold/held ]]; do sleep 0.05; done
    rm -rf "${disc:?}"/*
    cat "$WORK/hold/held" >>"$WORK/hold/log" # which process was held
    rm -f "$WORK/hold/held"
    touch "$WORK/hold/released"
  done
) &
FA2_WATCHERS+=($!)
fa2_on_signal reinsert "rm -f '$GAME/FIRST.DAT' '$WORK/hold/released'; insert_disc"

make_removed() { # NAME VERSION SECOND-LINE
  local dir=$WORK/$1
  mkdir -p "$dir"
  fa2_cp932 "$dir/UPDATE.INI" <<INI
[SETUP]
CompanyName=SampleSoft
GameTitle=サンプルゲーム
GameClass=SampleGameWindow
GameDir=SampleGame
UpdaterVersion=$2

[UPDATE]
CopyFile00=1:FIRST.DAT
CopyFile01=$3
INI
  fa2_make_updater "$1" "$dir"
}
make_removed removed-a Removed-A SECOND.DAT || return 1
make_removed removed-b Removed-B 1:SECOND.DAT || return 1
UPDATER=$WORK/removed-a.exe
REMOVED_B=$(fa2_winpath "$WORK/removed-b.exe")

verify() {
  # The first copy is whole, the second never happened.
  fa2_expect_text "$GAME/FIRST.DAT" $'first\r\n'
  fa2_expect_missing "$GAME/SECOND.DAT"
}
