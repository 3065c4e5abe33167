# fa2 plan, run by the harness on the installed game's folders before the
# updater runs, must predict what the updater then does: README.TXT is newer
# than its member (kept), Save/CONFIG.DAT exists (kept as data), GAME.DAT is
# older (written). The harness compares every plan line with the files
# afterwards; here the plan must have made these three decisions.
fa2_install_game
fa2_reg_add 'HKCU\Software\SampleSoft\SampleGame' DataPath REG_SZ 'C:\SampleGame\Save'
touch -d "2027-06-01 00:00:00 UTC" "$GAME/README.TXT"
mkdir -p "$GAME/Save"
printf 'volume=10\r\n' >"$GAME/Save/CONFIG.DAT"

verify() {
  fa2_check "plan predicts that the update runs" [ "$FA2_PLAN_EXIT" -eq 0 ]
  fa2_check "plan has a line for each of the three update lines" \
    [ "$(grep -cE '^UpdateFile[0-9]{2} [a-z]+ [^ ]+ -> .*: (write|keep|skip)' "$WORK/plan.txt")" -eq 3 ]
  fa2_check "plan writes GAME.DAT" grep -q '^UpdateFile00 u GAME.DAT -> .*: write' "$WORK/plan.txt"
  fa2_check "plan keeps README.TXT" grep -q '^UpdateFile01 u README.TXT -> .*: keep' "$WORK/plan.txt"
  fa2_check "plan keeps CONFIG.DAT" grep -q '^UpdateFile02 d CONFIG.DAT -> .*: keep' "$WORK/plan.txt"
}
