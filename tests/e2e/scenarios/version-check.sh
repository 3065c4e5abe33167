fa2_install_game
fa2_reg_add 'HKCU\Software\SampleSoft\SampleGame' DataPath REG_SZ 'C:\SampleGame'

# NAME VERSION LINES...: an update whose UpdateFile lines are LINES, with the
# members GAME.DAT and README.TXT.
make_check() {
  local name=$1 version=$2 dir=$WORK/$1 i=0
  shift 2
  mkdir -p "$dir"
  {
    printf '[SETUP]\nCompanyName=SampleSoft\nGameTitle=サンプルゲーム\nGameClass=SampleGameWindow\n'
    printf 'GameDir=SampleGame\nUpdaterVersion=%s\n' "$version"
    [[ -n ${EXIST_MESSAGE:-} ]] && printf 'ExistErrorMessage=%s\n' "$EXIST_MESSAGE"
    printf '\n[UPDATE]\n'
    for line in "$@"; do printf 'UpdateFile%02d=%s\n' $((i++)) "$line"; done
  } | fa2_cp932 "$dir/UPDATE.INI"
  printf 'GAMEDATA v9\n' >"$dir/GAME.DAT"
  printf 'new readme\n' >"$dir/README.TXT"
  fa2_make_updater "$name" "$dir"
}
EXIST_MESSAGE='このアップデートは Ver.1.00 専用です' make_check check-a Check-A u,GAME.DAT e,GAME.EXE u,README.TXT || return 1
make_check check-b Check-B u,GAME.DAT e,NOFILE.DAT || return 1
make_check check-c Check-C u,GAME.DAT 2,e,GAME.EXE || return 1
UPDATER=$WORK/check-a.exe
CHECK_B=$(fa2_winpath "$WORK/check-b.exe")
CHECK_C=$(fa2_winpath "$WORK/check-c.exe")

verify() {
  # Nothing was written: the lines before the check included.
  local f
  for f in GAME.DAT README.TXT GAME.EXE; do
    fa2_expect_same "$GAME/$f" "$FA2_ROOT/examples/sample-game/$f"
    fa2_expect_mtime "$GAME/$f" "$FA2_OLD_TIME"
  done
  fa2_expect_missing "$GAME/NOFILE.DAT"
  fa2_expect_no_leftovers "$GAME"
}
