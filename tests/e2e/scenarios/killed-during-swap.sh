# e2e: no plan: every run of the update is killed part-way
# The updater killed at each of the eleven renames and deletions of an
# update in the game folder (kill-at-rename.c, in the wineserver: the
# journal's three versions, each old file moved aside, each new file moved
# in, the two backups and the journal deleted), then started again: it first puts the game back
# to one whole version. After every round the game must be exactly the old
# or exactly the new one, with no staged file, backup or journal left.
fa2_install_game
fa2_reg_add 'HKCU\Software\SampleSoft\SampleGame' DataPath REG_SZ 'C:\SampleGame'
src=$WORK/update
fa2_sample_update_ini "$src" Swap 'UpdateFile00=GAME.DAT' 'UpdateFile01=README.TXT' 'UpdateFile02=NEW.DAT'
for f in GAME.DAT README.TXT NEW.DAT; do printf 'new %s\r\n' "$f" >"$src/$f"; done
fa2_make_updater swap "$src" || return 1
UPDATER=$WORK/swap.exe

# The wineserver makes every rename: it is restarted with the shim.
cc -shared -fPIC -O2 -o "$WORK/kill-at-rename.so" "$FA2_ROOT/tests/e2e/kill-at-rename.c" -ldl || return 1
export FA2_KILL_AT=$WORK/kill-at FA2_KILL_PROGRAM=swap.exe FA2_KILL_WITHIN=$(realpath "$GAME")
LD_PRELOAD=$WORK/kill-at-rename.so fa2_wine_restart
cp -a "$GAME" "$WORK/pristine"

# The game's files and contents, and what "old" and "new" look like.
game_state() { (cd "$GAME" && find . -type f -exec md5sum {} + | LC_ALL=C sort); }
game_state >"$WORK/old.txt"
new_state() {
  local t=$WORK/new-game
  rm -rf "$t" && cp -a "$WORK/pristine" "$t" && for f in GAME.DAT README.TXT NEW.DAT; do cp "$src/$f" "$t/$f"; done
  (cd "$t" && find . -type f -exec md5sum {} + | LC_ALL=C sort)
}
new_state >"$WORK/new.txt"

ROUNDS=
for k in 1 2 3 4 5 6 7 8 9 10 11; do
  fa2_on_signal "arm-$k" "rm -rf '$GAME' && cp -a '$WORK/pristine' '$GAME' && echo $k >'$WORK/kill-at'"
  fa2_on_signal "check-$k" "game_state >'$WORK/after-$k.txt'"
  ROUNDS+="signal arm-$k
start
wait-wizard サンプルゲーム アップデータ Swap
click 1
click 1
wait-exit any $((2 * k - 1))
start
wait-wizard サンプルゲーム アップデータ Swap
close
wait-box
expect-box-text アップデートが中断されました
answer 1
wait-exit 0 $((2 * k))
signal check-$k
"
done

verify() {
  local k old=0 new=0
  for k in 1 2 3 4 5 6 7 8 9 10 11; do
    if cmp -s "$WORK/after-$k.txt" "$WORK/old.txt"; then old=$((old + 1))
    elif cmp -s "$WORK/after-$k.txt" "$WORK/new.txt"; then new=$((new + 1))
    else fa2_check "killed at rename $k: the game is exactly old or new" false; diff "$WORK/old.txt" "$WORK/after-$k.txt"; fi
  done
  echo "killed at 11 steps: $old rounds ended old, $new new"
  fa2_check "some rounds ended old" test "$old" -gt 0
  fa2_check "some rounds ended new" test "$new" -gt 0
  fa2_check "the kill file was used up" test ! -e "$WORK/kill-at"
  fa2_expect_no_leftovers "$GAME"
  # A killed process cannot delete its temporary description: each killed
  # round leaves one in the player's temporary folder (never in the game's).
  local left
  left=$(fa2_temporary_descriptions | wc -l)
  fa2_check "one temporary description per killed round, no more ($left)" test "$left" -le 11
  fa2_temporary_descriptions | while read -r f; do rm -f "$f"; done
}
