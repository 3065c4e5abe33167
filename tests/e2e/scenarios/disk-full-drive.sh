# e2e: mounts
# The game on D:, a 64 KiB tmpfs; the same update as disk-full.
disk=$WORK/small
fa2_small_disk "$disk" 64k || return 1
fa2_map_drive d "$disk" || return 1
fa2_install_game "$disk/SampleGame" 'D:\SampleGame'
fa2_reg_add 'HKCU\Software\SampleSoft\SampleGame' DataPath REG_SZ 'D:\SampleGame'

fa2_make_full_disk_updater || return 1

# The journal and each staged small file take one page of the tmpfs.
page=$(stat -f -c %S "$disk")
SHORTFALL=$((204800 - ($(stat -f -c %a "$disk") - 4) * page))

verify() {
  local f
  # All or nothing: the three small files were staged, then deleted again.
  for f in FILE1.DAT FILE2.DAT FILE3.DAT; do fa2_expect_missing "$GAME/$f"; done
  for f in GAME.DAT README.TXT; do
    fa2_expect_same "$GAME/$f" "$FA2_ROOT/examples/sample-game/$f"
    fa2_expect_mtime "$GAME/$f" "$FA2_OLD_TIME"
  done
  fa2_expect_no_leftovers "$GAME"
}
