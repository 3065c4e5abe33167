# e2e: mounts
# e2e: no plan: the small disk is mounted inside C:, whose free space the updater asks for (the plan sees the mount's)
# A 64 KiB tmpfs mounted on C:\Small, the game installed in C:\Small\SampleGame
# (a folder on it: the updater refuses an install folder that is itself a
# mount point); the installed game takes four pages, three small members
# fit, GAME.DAT (200 KiB of random bytes, which do not compress) does not.
fa2_small_disk "$DRIVE_C/Small" 64k || return 1
fa2_install_game "$DRIVE_C/Small/SampleGame" 'C:\Small\SampleGame'
fa2_reg_add 'HKCU\Software\SampleSoft\SampleGame' DataPath REG_SZ 'C:\Small\SampleGame'

fa2_make_full_disk_updater || return 1

verify() {
  local f
  # All or nothing: the three small files were staged, then deleted again.
  for f in FILE1.DAT FILE2.DAT FILE3.DAT; do fa2_expect_missing "$GAME/$f"; done
  # The old files whole, with their old times.
  for f in GAME.DAT README.TXT; do
    fa2_expect_same "$GAME/$f" "$FA2_ROOT/examples/sample-game/$f"
    fa2_expect_mtime "$GAME/$f" "$FA2_OLD_TIME"
  done
  fa2_expect_no_leftovers "$GAME"
  fa2_check "the small disk has its room back" test "$(stat -f -c %a "$GAME")" -ge 9
}
