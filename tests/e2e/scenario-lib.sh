# Helpers for the scenario setups (scenarios/<name>.sh). Sourced by
# run-scenario.sh after scripts/wine-env.sh; uses WORK, WINEPREFIX, DRIVE_C,
# FA2 (the host fa2 tool) and STUB (updater-stub.exe).
#
#   fa2_install_game [DIR WINPATH]   the sample game as its installer leaves it
#                                    (default $DRIVE_C/SampleGame, C:\SampleGame):
#                                    files with old times, registry key; sets GAME
#   fa2_cp932 FILE                   stdin (UTF-8) written as CP932 with CR LF
#   fa2_make_updater NAME DIR [pack options...]
#                                    packs every file of DIR as the shipped
#                                    updaters carry them and stamps the archive
#                                    into the stub: $WORK/NAME.exe
#   fa2_on_signal NAME COMMAND...    run COMMAND when the driver's "signal NAME"
#                                    arrives, then answer it
#   fa2_small_disk DIR SIZE          a tmpfs of SIZE at DIR (scenarios that
#                                    carry the line "# e2e: mounts")
#   fa2_mtime FILE                   last-write time, seconds since 1970
#   fa2_check / fa2_expect_*         checks for `verify`; each failure is
#                                    printed and counted in FA2_FAILURES
#   fa2_temporary_descriptions       UPDATE*.INI files left in the prefix
#   fa2_hold_read FILE               hold the first read of FILE until the
#                                    scenario releases it (hold-read.c)
#   fa2_reg_add KEY NAME TYPE DATA   as in wine-env.sh, and the value kept in
#   fa2_reg_delete KEY NAME          FA2_REGISTRY (deleted: dropped), where the
#                                    plan check finds the game and the discs

# The time stamp of every member the scenarios pack (as the sample's build),
# and the time of the installed files, which is older.
FA2_MEMBER_TIME="2026-12-01 00:00:00"
FA2_OLD_TIME="2020-01-01 00:00:00"
FA2_FAILURES=0
FA2_WATCHERS=()

# The registry values the setup gave, by "KEY\NAME" in upper case.
declare -A FA2_REGISTRY=()

fa2_reg_add() {
  local key=$1 name=$2 type=$3 data=$4
  fa2_wine reg add "$key" /v "$name" /t "$type" /d "$data" /f >/dev/null || return 1
  FA2_REGISTRY["${key^^}\\${name^^}"]=$data
}

fa2_reg_delete() {
  local entry="${1^^}\\${2^^}"
  fa2_wine reg delete "$1" /v "$2" /f >/dev/null || return 1
  unset 'FA2_REGISTRY[$entry]'
}

fa2_install_game() {
  local dir=${1:-$DRIVE_C/SampleGame} winpath=${2:-'C:\SampleGame'}
  mkdir -p "$dir"
  cp "$FA2_ROOT"/examples/sample-game/* "$dir/"
  touch -d "$FA2_OLD_TIME UTC" "$dir"/*
  fa2_reg_add 'HKCU\Software\SampleSoft\SampleGame' InstPath REG_SZ "$winpath" || return 1
  fa2_reg_add 'HKCU\Software\SampleSoft\SampleGame' InstMode REG_DWORD 1 || return 1
  GAME=$dir
}

fa2_cp932() {
  local file=$1
  sed 's/$/\r/' | iconv -f UTF-8 -t CP932 >"$file"
}

fa2_make_updater() {
  local name=$1 dir=$2
  shift 2
  local files=()
  mapfile -t files < <(find "$dir" -maxdepth 1 -type f | LC_ALL=C sort)
  "$FA2" pack -o "$WORK/$name.fa2" --compress --scramble --time "$FA2_MEMBER_TIME" "$@" "${files[@]}" \
    >/dev/null || return 1
  "$FA2" stamp "$STUB" "$WORK/$name.fa2" -o "$WORK/$name.exe" >/dev/null || return 1
}

fa2_on_signal() {
  local name=$1
  shift
  local action="$*"
  (
    while [[ ! -e $WORK/signals/$name ]]; do sleep 0.05; done
    eval "$action"
    touch "$WORK/signals/$name.done"
  ) &
  FA2_WATCHERS+=($!)
}

fa2_stop_watchers() {
  local pid
  for pid in "${FA2_WATCHERS[@]}"; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  FA2_WATCHERS=()
}

fa2_small_disk() {
  local dir=$1 size=$2
  [[ -n ${FA2_E2E_NAMESPACE:-} ]] || { echo "fa2_small_disk: the scenario needs '# e2e: mounts'" >&2; return 1; }
  mkdir -p "$dir"
  mount -t tmpfs -o "size=$size" tmpfs "$dir"
}

fa2_mtime() { stat -c %Y "$1"; }

fa2_epoch() { date -u -d "$1 UTC" +%s; }

fa2_check() {
  local what=$1
  shift
  # Paths as the program sees them: C:\... for the prefix's drive C:.
  what=${what//$DRIVE_C/C:}
  what=${what//$WORK\//}
  if ! "$@"; then
    echo "FAIL check: $what"
    FA2_FAILURES=$((FA2_FAILURES + 1))
    return 1
  fi
  echo "ok   check: $what"
}

# FILE has the bytes of REFERENCE.
fa2_expect_same() { fa2_check "$1 equals $2" cmp -s "$1" "$2"; }

# FILE holds exactly TEXT (no newline added).
fa2_expect_text() {
  local file=$1 text=$2
  fa2_check "$file holds $(printf %q "$text")" cmp -s "$file" <(printf "%s" "$text")
}

# FILE's last-write time is TIME (UTC, "YYYY-MM-DD HH:MM:SS").
fa2_expect_mtime() {
  local file=$1 time=$2 got want
  want=$(fa2_epoch "$time")
  got=$(fa2_mtime "$file" 2>/dev/null || echo missing)
  fa2_check "$file written at $time (got $(date -u -d "@$got" '+%F %T' 2>/dev/null || echo "$got"))" \
    test "$got" = "$want"
}

fa2_expect_missing() { fa2_check "$1 does not exist" test ! -e "$1"; }

# No file of the safe writer (~fa2*.tmp) left in DIR.
fa2_expect_no_leftovers() {
  local dir=$1 left
  left=$(find "$dir" -iname '~fa2*' 2>/dev/null)
  fa2_check "no staged file, backup, journal or temporary file left in $dir${left:+: $left}" test -z "$left"
}

fa2_temporary_descriptions() {
  find "$DRIVE_C/users" "$DRIVE_C/windows/temp" -iname 'UPDATE*.INI' 2>/dev/null
}

# Holds the first read of FILE by any program started afterwards until the
# scenario creates $WORK/hold/released; $WORK/hold/held says when it waits.
# See tests/e2e/hold-read.c.
fa2_hold_read() {
  local file=$1
  mkdir -p "$WORK/hold"
  cc -shared -fPIC -O2 -o "$WORK/hold-read.so" "$FA2_ROOT/tests/e2e/hold-read.c" -ldl || return 1
  FA2_HOLD_READ=$(realpath -m "$file")
  FA2_HOLD_SIGNALS=$WORK/hold
  export LD_PRELOAD=$WORK/hold-read.so FA2_HOLD_READ FA2_HOLD_SIGNALS
}

# DIR/UPDATE.INI (code page 932) for the sample game: section SETUP with
# UpdaterVersion VERSION (the wizard's caption "サンプルゲーム アップデータ
# VERSION"), then section UPDATE with the LINES given ("UpdateFile00=...").
fa2_sample_update_ini() { # DIR VERSION LINE...
  local dir=$1 version=$2
  shift 2
  mkdir -p "$dir"
  printf '%s\n' '[SETUP]' 'CompanyName=SampleSoft' 'GameTitle=サンプルゲーム' 'GameClass=SampleGameWindow' \
    'GameDir=SampleGame' "UpdaterVersion=$version" '' '[UPDATE]' "$@" | fa2_cp932 "$dir/UPDATE.INI"
}

# The update of the disk-full scenarios: three small members, then GAME.DAT
# (200 KiB of random bytes, which do not compress), then README.TXT; sets
# UPDATER to it.
fa2_make_full_disk_updater() {
  src=$WORK/update
  fa2_sample_update_ini "$src" Full 'UpdateFile00=u,FILE1.DAT' 'UpdateFile01=u,FILE2.DAT' 'UpdateFile02=u,FILE3.DAT' \
    'UpdateFile03=u,GAME.DAT' 'UpdateFile04=u,README.TXT'
  for f in FILE1.DAT FILE2.DAT FILE3.DAT; do printf 'new %s\r\n' "$f" >"$src/$f"; done
  head -c 204800 /dev/urandom >"$src/GAME.DAT"
  printf 'new readme\r\n' >"$src/README.TXT"
  fa2_make_updater full "$src" || return 1
  UPDATER=$WORK/full.exe
}
