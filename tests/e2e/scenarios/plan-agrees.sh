# fa2 plan, run on the installed game's folders before the updater runs,
# must predict what the updater then does: README.TXT is newer than its
# member (kept), Save/CONFIG.DAT exists (kept as data), GAME.DAT is older
# (written). Every plan line is checked against the files afterwards.
fa2_install_game
fa2_reg_add 'HKCU\Software\SampleSoft\SampleGame' DataPath REG_SZ 'C:\SampleGame\Save'
sample=$FA2_ROOT/examples/sample-update
touch -d "2027-06-01 00:00:00 UTC" "$GAME/README.TXT"
mkdir -p "$GAME/Save"
printf 'volume=10\r\n' >"$GAME/Save/CONFIG.DAT"
mkdir -p "$WORK/before"
cp -a "$GAME/." "$WORK/before/"
"$FA2" plan "$UPDATER" --install "$GAME" --data "$GAME/Save" --mode 1 >"$WORK/plan.txt"
plan_exit=$?

verify() {
  fa2_check "plan predicts that the update runs" [ "$plan_exit" -eq 0 ]
  local lines=0 key op name path decision
  while IFS= read -r line; do
    [[ $line =~ ^(UpdateFile[0-9][0-9])\ ([a-z]+)\ ([^ ]+)\ -\>\ (.*):\ (write|keep|skip) ]] || continue
    lines=$((lines + 1))
    name=${BASH_REMATCH[3]} path=${BASH_REMATCH[4]} decision=${BASH_REMATCH[5]}
    local before=$WORK/before/${path#"$GAME"/}
    case $decision in
      write) fa2_expect_same "$path" "$sample/$name" ;;
      keep) fa2_expect_same "$path" "$before" ;;
      skip) fa2_check "$path still absent" [ ! -e "$path" ] ;;
    esac
  done <"$WORK/plan.txt"
  fa2_check "plan has a line for each of the three update lines" [ "$lines" -eq 3 ]
  fa2_check "plan writes GAME.DAT" grep -q '^UpdateFile00 u GAME.DAT -> .*: write' "$WORK/plan.txt"
  fa2_check "plan keeps README.TXT" grep -q '^UpdateFile01 u README.TXT -> .*: keep' "$WORK/plan.txt"
  fa2_check "plan keeps CONFIG.DAT" grep -q '^UpdateFile02 d CONFIG.DAT -> .*: keep' "$WORK/plan.txt"
}
