# The sample update run from a downloads folder where someone has left
# libraries under the names of system ones (planted.dll, from
# planted_dll.c), with Wine told to prefer such copies to its own. The
# update runs as in the happy path, and none of them is ever loaded: each
# would leave C:\planted-<name>.txt behind, naming the program that loaded it.
fa2_install_game
fa2_reg_add 'HKCU\Software\SampleSoft\SampleGame' DataPath REG_SZ 'C:\SampleGame\Save'
sample=$FA2_ROOT/examples/sample-update

planted=${STUB%/*}/planted.dll
[[ -f $planted ]] || { echo "no $planted (target planted-dll)"; return 1; }
downloads=$DRIVE_C/Downloads
mkdir -p "$downloads"
cp "$UPDATER" "$downloads/Update.exe"
UPDATER=$downloads/Update.exe
planted_names=(bcrypt uxtheme version dwmapi cryptbase winmm propsys comctl32 profapi userenv cryptsp
  ntmarta sspicli wininet shfolder msimg32 textshaping dbghelp)
for name in "${planted_names[@]}"; do cp "$planted" "$downloads/$name.dll"; done
WINEDLLOVERRIDES+=";$(IFS=,; echo "${planted_names[*]}")=n,b"

verify() {
  local f markers
  for f in GAME.DAT README.TXT; do fa2_expect_same "$GAME/$f" "$sample/$f"; done
  fa2_expect_same "$GAME/Save/CONFIG.DAT" "$sample/CONFIG.DAT"
  markers=$(find "$WORK" -iname 'planted-*' -printf '%f, loaded by ' -exec cat {} \; -printf '; ')
  fa2_check "no planted library loaded${markers:+: $markers}" test -z "$markers"
}
