#!/usr/bin/env bash
# The Wine half of 'fa2 try', which checks the update and the game folder and
# then runs this script; not meant to be run by hand.
#
# Makes a throwaway Wine prefix (a copy of the template prefix of
# scripts/wine-env.sh: the WoW64 Wine of scripts/wine-wow64.sh, which runs the
# 32-bit updater), installs a copy of the game as its installer would
# (C:\Game, the registry key, C:\GameData as the data folder, discs as CD-ROM
# drives from D:), runs the updater on the display or, headless, under Xvfb
# driven by e2e-driver.exe's "walk", then prints what changed in the game
# and data folders and the updater's exit code.
#
# Usage: try-update.sh --work DIR --updater EXE --game DIR --company NAME
#          --game-dir NAME --mode N --locale ja|en --shots DIR [--data DIR]
#          [--disc DIR]... [--headless --driver EXE] [--keep]
# WORK is this run's folder, made by fa2 and removed here. Exit: 0 when the
# updater finished the update (its exit code 1), 1 otherwise.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

work= updater= game= company= gamedir= mode=0 locale=ja shots= data= driver= headless=0 keep=0 discs=()
while (($#)); do
  case $1 in
    --work) work=$2; shift 2 ;;
    --updater) updater=$2; shift 2 ;;
    --game) game=$2; shift 2 ;;
    --company) company=$2; shift 2 ;;
    --game-dir) gamedir=$2; shift 2 ;;
    --mode) mode=$2; shift 2 ;;
    --locale) locale=$2; shift 2 ;;
    --shots) shots=$2; shift 2 ;;
    --data) data=$2; shift 2 ;;
    --disc) discs+=("$2"); shift 2 ;;
    --driver) driver=$2; shift 2 ;;
    --headless) headless=1; shift ;;
    --keep) keep=1; shift ;;
    *) echo "fa2: try: unknown argument to $(basename "$0"): $1" >&2; exit 2 ;;
  esac
done
[[ -n $work && -d $work && -n $updater && -n $game && -n $company && -n $gamedir ]] ||
  { echo "fa2: try: $(basename "$0") is run by 'fa2 try'" >&2; exit 2; }

step() { printf '\n== %s\n' "$*"; }
die() { echo "fa2: try: $*" >&2; exit 1; }

# ---- What it needs --------------------------------------------------------------------
missing=()
need() { command -v "$1" >/dev/null || missing+=("$2"); }
((headless)) && need Xvfb xvfb
need localedef locales
[[ -f /usr/share/i18n/locales/ja_JP && -f /usr/share/i18n/locales/en_US ]] || missing+=(locales)
fc-list 2>/dev/null | grep -q IPAPGothic || missing+=(fonts-ipafont-gothic)
if ((${#missing[@]})); then
  rm -rf "$work"
  die "needs the Debian packages: $(printf '%s\n' "${missing[@]}" | sort -u | tr '\n' ' ')(apt-get install them)"
fi
if ! "$here/wine-wow64.sh" --quiet >/dev/null 2>&1; then
  echo "== The Wine that runs the 32-bit updater (scripts/wine-wow64.sh: once, about 2 minutes, needs root)"
  "$here/wine-wow64.sh" >/dev/null || { rm -rf "$work"; die "setting up Wine failed (see above)"; }
fi

# Outside a source tree the template prefix and locale are kept in the cache.
[[ -f $here/../CMakeLists.txt ]] || export FA2_WINE_DIR=${FA2_WINE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/fa2updater/wine}
case $locale in
  ja) export FA2_LOCALE=ja_JP.UTF-8 ;;
  en) export FA2_LOCALE=en_US.UTF-8 ;;
esac
source "$here/wine-env.sh"
fa2_wine_locale || { rm -rf "$work"; die "cannot build the $FA2_LOCALE locale for Wine"; }

xvfb_started=0
cleanup() {
  fa2_wine_stop
  ((xvfb_started)) && fa2_xvfb_stop
  if ((keep)); then echo "prefix kept: $WINEPREFIX"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# ---- The prefix with the game installed -----------------------------------------------
step "A throwaway Wine prefix with a copy of $game installed"
if ((headless)); then
  # The X server first: the prefix's first program fixes the display.
  fa2_xvfb_start || die "Xvfb did not start"
  xvfb_started=1
fi
[[ -f $FA2_WINE_DIR/template-wow64/.complete ]] || echo "(the first run makes a template prefix: about 30 s)"
fa2_wine_prefix "$work/prefix" || die "cannot make the Wine prefix"
# On a desktop the window manager places and decorates the windows.
((headless)) || fa2_reg_add 'HKCU\Software\Wine\X11 Driver' Managed REG_SZ Y

install=$DRIVE_C/Game
mkdir -p "$install" && cp -a "$game/." "$install/" || die "cannot copy $game"
key="HKCU\\Software\\$company\\$gamedir"
fa2_reg_add "$key" InstPath REG_SZ 'C:\Game' || die "cannot write the registry"
fa2_reg_add "$key" InstMode REG_DWORD "$mode" || die "cannot write the registry"
folders=("C:\\Game=$install")
echo "registry: $key: InstPath=C:\\Game, InstMode=$mode"
echo "install folder: C:\\Game (a copy of $game)"
if [[ -n $data ]]; then
  mkdir -p "$DRIVE_C/GameData" && cp -a "$data/." "$DRIVE_C/GameData/" || die "cannot copy $data"
  fa2_reg_add "$key" DataPath REG_SZ 'C:\GameData' || die "cannot write the registry"
  folders+=("C:\\GameData=$DRIVE_C/GameData")
  echo "data folder: C:\\GameData = DataPath (a copy of $data)"
fi
letter=d
for disc in "${discs[@]}"; do
  fa2_map_drive "$letter" "$disc" cdrom || die "cannot map $disc as a CD-ROM drive"
  echo "disc: ${letter^^}: (CD-ROM) = $disc"
  letter=$(tr 'a-y' 'b-z' <<<"$letter")
done

# One row per file: folder, path, size, last-write time (UTC).
listing() {
  local entry
  for entry in "${folders[@]}"; do
    (cd "${entry#*=}" && TZ=UTC find . -type f -printf '%P\t%s\t%TY-%Tm-%Td %TH:%TM:%.2TS\n') |
      folder="${entry%%=*}" awk '{ gsub("/", "\\\\"); print ENVIRON["folder"] "\t" $0 }'
  done | LC_ALL=C sort
}
listing >"$work/before.txt"

# ---- The run ------------------------------------------------------------------------------
mkdir -p "$shots" || die "cannot make $shots"
rm -f "$shots"/[0-9][0-9]-box.* "$shots"/[0-9][0-9]-wizard.*
if ((headless)); then
  step "The updater under Xvfb, driven: every box answered with its first button, Next to the end"
  printf '%s\n' 'timeout 600000' start walk >"$work/walk.txt"
  : >"$work/driver.log"
  fa2_wine "$driver" --program "$(fa2_winpath "$updater")" \
    --shots "$(fa2_winpath "$shots")" "$(fa2_winpath "$work/walk.txt")" >"$work/driver.log" 2>&1 &
  driven=$!
  # The steps as they happen (the file, not a pipe: Wine's own processes
  # would hold a pipe open).
  tail -n +1 -f --pid=$driven "$work/driver.log" | tr -d '\r' | sed -n 's/^# \([0-9][0-9] \)/  \1/p'
  wait $driven
  driver_rc=$?
  # The log as UTF-8, kept beside the screenshots: the driver writes UTF-8,
  # Wine's own messages come in the locale's code page.
  while IFS= read -r line || [[ -n $line ]]; do
    iconv -f UTF-8 -t UTF-8 <<<"$line" >/dev/null 2>&1 || line=$(iconv -c -f CP932 -t UTF-8 <<<"$line")
    printf '%s\n' "$line"
  done < <(tr -d '\r' <"$work/driver.log") >"$shots/try.log"
  code=$(sed -n 's/^# program 1 ended with \([0-9]*\)$/\1/p' "$shots/try.log")
  if ((driver_rc != 0)) || [[ -z $code ]]; then
    grep -av '^ok ' "$shots/try.log" >&2
    reason=$(grep -a '^FAIL ' "$shots/try.log" | head -1 | cut -c6-)
    [[ -n $reason ]] || reason=$(grep -av '^\(ok \|# \|PASS\)' "$shots/try.log" | grep -a . | tail -1)
    [[ -n $reason ]] || reason="the driver ended with exit code $driver_rc and said nothing"
    die "the driven run did not finish: $reason (log: $shots/try.log)"
  fi
  if command -v convert >/dev/null; then
    for shot in "$shots"/*.bmp; do
      [[ -f $shot ]] && convert "$shot" "${shot%.bmp}.png" 2>/dev/null && rm -f "$shot"
    done
  fi
else
  step "The updater on your display ($DISPLAY): click through the wizard"
  fa2_wine "$updater"
  code=$?
fi
fa2_wine_stop

# ---- What changed ---------------------------------------------------------------------------
listing >"$work/after.txt"
step "What changed (sizes in bytes, times UTC)"
awk -F'\t' '
  function row(f, p, before, after, state) { printf "  %-30s %30s  ->  %30s  %s\n", f "\\" p, before, after, state }
  FNR == NR { was[$1 "\t" $2] = sprintf("%8s  %s", $3, $4); next }
  {
    k = $1 "\t" $2; now = sprintf("%8s  %s", $3, $4); seen[k] = 1
    if (!(k in was)) { row($1, $2, "-", now, "new"); changed++ }
    else if (was[k] != now) { row($1, $2, was[k], now, "updated"); changed++ }
    else row($1, $2, was[k], now, "unchanged")
  }
  END {
    for (k in was) if (!(k in seen)) { split(k, part, "\t"); row(part[1], part[2], was[k], "-", "removed"); changed++ }
    if (!changed) print "  (no file changed)"
  }
' "$work/before.txt" "$work/after.txt"
((headless)) && echo "screenshots and the driver's log (try.log): $shots"

case $code in
  1) meaning="the wizard ended normally: the update is done" ;;
  0) meaning="the updater stopped: refused, aborted or failed (its messages above)" ;;
  *) meaning="not an exit code of the updater: it crashed or was killed" ;;
esac
echo
echo "updater exit code: $code ($meaning)"
[[ $code == 1 ]]
