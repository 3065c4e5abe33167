# The Wine environment of the end-to-end tests. Source this file (bash).
#
# Sets up the environment every Wine call needs (the WoW64 Wine 10 of
# scripts/wine-wow64.sh, which runs the 32-bit updater as well as 64-bit
# programs; the locale FA2_LOCALE; quiet debugging) and defines:
#   fa2_wine CMD... / fa2_wineserver ARGS...   run Wine with that locale
#   fa2_code_page              the ANSI code page Wine takes from FA2_LOCALE
#   fa2_wine_template          make the template prefix once (cached)
#   fa2_wine_prefix DIR        a fresh prefix copied from the template; sets
#                              WINEPREFIX and DRIVE_C
#   fa2_wine_stop              end the prefix's processes and server
#   fa2_run_in DIR             DIR emptied, a private X server and a fresh
#                              prefix DIR/prefix, ended when the shell exits
#   fa2_wine_restart           a new server (settings read at its start)
#   fa2_xvfb_start / _stop     a private X server on a free display
#   fa2_reg_add KEY NAME TYPE DATA    one registry value (REG_SZ, REG_DWORD)
#   fa2_reg_import FILE        import a "Windows Registry Editor Version
#                              5.00" file written in UTF-8
#   fa2_map_drive LETTER DIR [cdrom]  map a drive letter to a folder
#   fa2_winpath PATH           the Windows (Z:) path of a Linux path
#   fa2_skip_without_32bit     a test of the i686 build (FA2_E2E_BUILD=win32)
#                              on a machine that runs no 32-bit code: says
#                              why and exits 77 (skipped)
#
# FA2_LOCALE (default ja_JP.UTF-8) is the locale of every Wine call: Wine
# takes the system's ANSI code page from it (ja_JP 932, en_US 1252, zh_CN
# 936, ko_KR 949). Only UTF-8 locales: Linux file names are UTF-8.
#
# FA2_WINE_DIR (default <repository>/build/wine) holds the locales and the
# template prefix. The Wine itself lives where scripts/wine-wow64.sh keeps
# it (set up there on first use; scripts/test.sh does that up front).

FA2_ROOT=${FA2_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
FA2_WINE_DIR=${FA2_WINE_DIR:-$FA2_ROOT/build/wine}
FA2_WINE= WINESERVER=
if fa2_paths=$("$FA2_ROOT/scripts/wine-wow64.sh" --quiet); then
  FA2_WINE=$(sed -n 1p <<<"$fa2_paths")
  WINESERVER=$(sed -n 2p <<<"$fa2_paths")
fi
unset fa2_paths
export WINESERVER

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset WINEARCH # Wine 10 runs 32-bit programs by itself once it has the i386 DLLs
export LOCPATH=$FA2_WINE_DIR/locale
unset LANGUAGE
FA2_LOCALE=${FA2_LOCALE:-ja_JP.UTF-8}

fa2_log() { echo "[wine-env] $*" >&2; }

# 0 when the Wine and Xvfb are there (tests skip otherwise).
fa2_wine_available() {
  [[ -n $FA2_WINE && -x $FA2_WINE && -x $WINESERVER ]] && command -v Xvfb >/dev/null &&
    command -v localedef >/dev/null
}

# Tests of the i686 build cannot run where the kernel runs no 32-bit code
# (scripts/runs-32bit.sh); the x86_64 build's tests run them there instead.
fa2_skip_without_32bit() {
  [[ ${FA2_E2E_BUILD:-} == win32 ]] || return 0
  local why
  why=$("$FA2_ROOT/scripts/runs-32bit.sh") && return 0
  echo "skipped: this test runs the i686 build, which cannot run here ($why); the x86_64 build (win64 preset) runs it instead"
  exit 77
}

# The glibc locale NAME (default FA2_LOCALE), built into the build folder
# when missing: without it Wine's Unix charset is ASCII and non-ASCII text
# (argv, `wine reg add`, Linux file names) loses its bytes.
fa2_wine_locale() {
  local name=${1:-$FA2_LOCALE}
  [[ $name == *.UTF-8 ]] || { fa2_log "FA2_LOCALE must be a UTF-8 locale, not $name"; return 1; }
  [[ -f $LOCPATH/$name/LC_CTYPE ]] && return 0
  mkdir -p "$FA2_WINE_DIR"
  (
    flock 9
    if [[ ! -f $LOCPATH/$name/LC_CTYPE ]]; then
      mkdir -p "$LOCPATH"
      localedef -i "${name%.UTF-8}" -f UTF-8 "$LOCPATH/$name" 2>/dev/null ||
        [[ -f $LOCPATH/$name/LC_CTYPE ]] # localedef warns on some systems
    fi
  ) 9>"$FA2_WINE_DIR/locale.lock"
}

fa2_code_page() {
  case ${FA2_LOCALE%%.*} in
    ja_JP) echo 932 ;;
    en_US) echo 1252 ;;
    zh_CN) echo 936 ;;
    ko_KR) echo 949 ;;
    *) echo 0 ;; # not known here
  esac
}

# The locale is given to Wine alone: the shell itself cannot load a locale
# from LOCPATH.
fa2_wine() { env LC_ALL="$FA2_LOCALE" "$FA2_WINE" "$@"; }
fa2_wineserver() { env LC_ALL="$FA2_LOCALE" "$WINESERVER" "$@"; }

fa2_reg_add() {
  local key=$1 name=$2 type=$3 data=$4
  fa2_wine reg add "$key" /v "$name" /t "$type" /d "$data" /f >/dev/null
}

fa2_reg_import() {
  local file=$1 converted
  converted=$(mktemp --suffix=.reg)
  { printf '\xff\xfe'; sed 's/$/\r/' "$file" | iconv -f UTF-8 -t UTF-16LE; } >"$converted"
  fa2_wine regedit /S "$(fa2_winpath "$converted")"
  local rc=$?
  rm -f "$converted"
  return $rc
}

fa2_winpath() {
  local path
  path=$(realpath -m "$1")
  printf 'Z:%s' "${path//\//\\}"
}

# Builds the template prefix once: the system installed, Wine's own fonts,
# no window manager waits under Xvfb, Japanese fonts substituted for the
# dialog fonts and for Tahoma (Wine 10 draws captions and message boxes in
# Tahoma, which has no Japanese). One template serves every locale: it is
# made under ja_JP.UTF-8 whatever FA2_LOCALE says, and Wine takes the code
# page and the regional settings from the locale of each later run.
fa2_wine_template() {
  fa2_wine_locale || return 1
  fa2_wine_locale ja_JP.UTF-8 || return 1
  FA2_TEMPLATE=$FA2_WINE_DIR/template-wow64
  [[ -f $FA2_TEMPLATE/.complete ]] && return 0
  mkdir -p "$FA2_WINE_DIR"
  (
    flock 9
    [[ -f $FA2_TEMPLATE/.complete ]] && exit 0
    FA2_LOCALE=ja_JP.UTF-8
    local started=$SECONDS staging=$FA2_TEMPLATE.new
    rm -rf "$staging" "$FA2_TEMPLATE"
    mkdir -p "$staging"
    fa2_log "creating the template prefix (once)"
    export WINEPREFIX=$staging
    fa2_wine wineboot -i >/dev/null 2>&1 || { fa2_log "wineboot failed"; exit 1; }
    fa2_wineserver -w
    mkdir -p "$staging/drive_c/windows/Fonts"
    # Wine's own fonts, from the same tree as the Wine (the launcher's folder
    # is <tree>/usr/lib/x86_64-linux-gnu).
    cp "$(dirname "$(readlink -f "$FA2_WINE")")"/../../share/wine/fonts/* "$staging/drive_c/windows/Fonts/" 2>/dev/null
    fa2_reg_add 'HKCU\Software\Wine\X11 Driver' Managed REG_SZ N || exit 1
    local subst='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
    fa2_reg_add "$subst" 'ＭＳ Ｐゴシック' REG_SZ IPAPGothic || exit 1
    fa2_reg_add "$subst" 'MS PGothic' REG_SZ IPAPGothic || exit 1
    fa2_reg_add "$subst" 'ＭＳ ゴシック' REG_SZ IPAGothic || exit 1
    fa2_reg_add "$subst" 'MS Gothic' REG_SZ IPAGothic || exit 1
    # Tahoma itself is there (Wine's own), so a substitute does not apply:
    # link it to the Japanese font for the characters it lacks, as Windows
    # links its fonts to MS UI Gothic.
    fa2_wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
      /v Tahoma /t REG_MULTI_SZ /d 'ipagp.ttf,IPAPGothic' /f >/dev/null || exit 1
    fa2_wineserver -w
    touch "$staging/.complete"
    mv "$staging" "$FA2_TEMPLATE"
    fa2_log "template prefix ready in $((SECONDS - started)) s"
  ) 9>"$FA2_WINE_DIR/template.lock"
}

# A private prefix for one test, copied from the template.
fa2_wine_prefix() {
  local dir
  dir=$(realpath -m "$1")
  fa2_wine_template || return 1
  rm -rf "$dir"
  mkdir -p "$(dirname "$dir")"
  cp -a --reflink=auto "$FA2_TEMPLATE" "$dir" || return 1
  rm -f "$dir/.complete"
  export WINEPREFIX=$dir
  DRIVE_C=$dir/drive_c
  # One server for the whole test: each Wine call then costs a fraction of
  # a second instead of a server start. fa2_wine_stop ends it.
  fa2_wineserver -p
}

# Ends every program of the prefix and its server (the registry is saved).
fa2_wine_stop() {
  [[ -n ${WINEPREFIX:-} && -d $WINEPREFIX ]] || return 0
  fa2_wineserver -k 2>/dev/null
  fa2_wineserver -w 2>/dev/null
  return 0
}

# A test's own run in `work` (emptied first): a private X server and a fresh
# prefix in work/prefix, both ended when the shell exits (the prefix deleted
# too, unless FA2_KEEP_PREFIX is set). 1 when either cannot be had.
fa2_run_in() {
  FA2_RUN_WORK=$1
  rm -rf "$FA2_RUN_WORK"
  mkdir -p "$FA2_RUN_WORK"
  trap 'fa2_wine_stop; fa2_xvfb_stop; [[ -n ${FA2_KEEP_PREFIX:-} ]] || rm -rf "$FA2_RUN_WORK/prefix"' EXIT
  fa2_xvfb_start || return 1
  fa2_wine_prefix "$FA2_RUN_WORK/prefix" || { echo "cannot make the Wine prefix"; return 1; }
}

# A new server, for settings that are read only when it starts.
fa2_wine_restart() {
  fa2_wine_stop
  fa2_wineserver -p
}

# Maps LETTER: to DIR; with "cdrom" the drive reports itself as a CD-ROM.
# The mount manager reads drive types at start, so the server is restarted:
# map drives before the programs under test start.
fa2_map_drive() {
  local letter=${1,,} dir=$2 kind=${3:-}
  ln -sfn "$(realpath -m "$dir")" "$WINEPREFIX/dosdevices/$letter:"
  if [[ $kind == cdrom ]]; then
    fa2_reg_add 'HKLM\Software\Wine\Drives' "$letter:" REG_SZ cdrom || return 1
    fa2_wine_restart
  fi
}

# Starts Xvfb on a display no one uses and exports DISPLAY.
fa2_xvfb_start() {
  local fifo display
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  FA2_XVFB_PID=$!
  if ! read -r -t 10 display <"$fifo"; then
    rm -f "$fifo"
    fa2_log "Xvfb did not start"
    return 1
  fi
  rm -f "$fifo"
  export DISPLAY=:$display
}

fa2_xvfb_stop() {
  [[ -n ${FA2_XVFB_PID:-} ]] || return 0
  kill "$FA2_XVFB_PID" 2>/dev/null
  wait "$FA2_XVFB_PID" 2>/dev/null
  FA2_XVFB_PID=
}

fa2_wine_locale
