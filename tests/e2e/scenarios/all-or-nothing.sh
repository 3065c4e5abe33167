# The update list is written all or nothing. The update writes FILE1.DAT,
# GAME.DAT, README.TXT; each run finds one destination it cannot replace:
#   1. GAME.DAT held open without sharing by another program (the driver):
#      every file staged, the swap of GAME.DAT fails, FILE1.DAT (already
#      swapped) is put back: the game as it was;
#   2. README.TXT hidden: refused while staging, before any game file is
#      touched.
# Then, with nothing in the way, the same updater writes all three.
fa2_install_game
fa2_reg_add 'HKCU\Software\SampleSoft\SampleGame' DataPath REG_SZ 'C:\SampleGame'
src=$WORK/update
fa2_sample_update_ini "$src" Whole 'UpdateFile00=FILE1.DAT' 'UpdateFile01=GAME.DAT' 'UpdateFile02=README.TXT'
printf 'new file1\r\n' >"$src/FILE1.DAT"
printf 'new game\r\n' >"$src/GAME.DAT"
printf 'new readme\r\n' >"$src/README.TXT"
fa2_make_updater whole "$src" || return 1
UPDATER=$WORK/whole.exe

# The game folder as names, sizes, times and contents (the handlers run in
# the background: they save what they see, verify compares).
game_state() { (cd "$GAME" && find . -type f -printf '%p %s %T@\n' | LC_ALL=C sort && find . -type f -exec md5sum {} + | LC_ALL=C sort); }
game_state >"$WORK/before.txt"
fa2_on_signal after-locked 'game_state >"$WORK/after-locked.txt"'
fa2_on_signal hide-readme 'fa2_wine attrib +h "C:\\SampleGame\\README.TXT" >/dev/null'
fa2_on_signal after-hidden 'fa2_wine attrib -h "C:\\SampleGame\\README.TXT" >/dev/null; game_state >"$WORK/after-hidden.txt"'

verify() {
  fa2_check "a locked destination left the game as it was" cmp -s "$WORK/before.txt" "$WORK/after-locked.txt"
  fa2_check "a hidden destination left the game as it was" cmp -s "$WORK/before.txt" "$WORK/after-hidden.txt"
  local f
  for f in FILE1.DAT GAME.DAT README.TXT; do
    fa2_expect_same "$GAME/$f" "$src/$f"
    fa2_expect_mtime "$GAME/$f" "$FA2_MEMBER_TIME"
  done
  fa2_expect_no_leftovers "$GAME"
}
