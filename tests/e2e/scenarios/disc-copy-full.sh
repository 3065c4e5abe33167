# e2e: mounts
# A disc copy that fails part-way: the game on D:, a 64 KiB tmpfs, and a
# 200 KiB BIG.DAT on the disc in E: over the game's own small BIG.DAT. The
# copy goes to a staged file first and fills the disk; the old BIG.DAT
# stays as it was and nothing staged is left.
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
fa2_map_drive e "$disc" cdrom || return 1

src=$WORK/update
fa2_sample_update_ini "$src" CopyFull 'CopyFile00=1:BIG.DAT'
fa2_make_updater copy-full "$src" || return 1
UPDATER=$WORK/copy-full.exe

verify() {
  fa2_expect_text "$GAME/BIG.DAT" $'old big\r\n'
  fa2_expect_no_leftovers "$GAME"
}
