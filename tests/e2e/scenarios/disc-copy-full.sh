# e2e: mounts
# Disc copies that fail part-way: the game on D:, a 64 KiB tmpfs, and on the
# disc in E: a 200 KiB BIG.DAT over the game's own small one (a file line),
# then a folder PACK whose second file does not fit (a folder line). Each
# copy goes to a staged file or folder first and fills the disk; the game's
# files stay as they were and nothing staged is left.
disk=$WORK/small
fa2_small_disk "$disk" 64k || return 1
fa2_map_drive d "$disk" || return 1
fa2_install_game "$disk/SampleGame" 'D:\SampleGame'
fa2_reg_add 'HKCU\Software\SampleSoft\SampleGame' DataPath REG_SZ 'D:\SampleGame'
printf 'old big\r\n' >"$GAME/BIG.DAT"
disc=$WORK/disc
mkdir -p "$disc"
touch "$disc/SAMPLE1.CHK"
head -c 204800 /dev/urandom >"$disc/BIG.DAT"
mkdir -p "$disc/PACK" "$GAME/PACK"
head -c 8192 /dev/urandom >"$disc/PACK/P1.DAT"
head -c 204800 /dev/urandom >"$disc/PACK/P2.DAT"
printf 'old p1\r\n' >"$GAME/PACK/P1.DAT"
fa2_map_drive e "$disc" cdrom || return 1

src=$WORK/update
fa2_sample_update_ini "$src" CopyFull 'CopyFile00=1:BIG.DAT'
fa2_make_updater copy-full "$src" || return 1
UPDATER=$WORK/copy-full.exe
fa2_sample_update_ini "$WORK/pack" PackFull 'CopyFile00=1:PACK'
fa2_make_updater pack-full "$WORK/pack" || return 1
PACK_FULL=$(fa2_winpath "$WORK/pack-full.exe")

verify() {
  fa2_expect_text "$GAME/BIG.DAT" $'old big\r\n'
  fa2_expect_text "$GAME/PACK/P1.DAT" $'old p1\r\n'
  fa2_expect_missing "$GAME/PACK/P2.DAT"
  fa2_expect_no_leftovers "$GAME"
}
