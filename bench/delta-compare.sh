#!/usr/bin/env bash
# Delta members measured on real game data: files of Debian game data
# packages that changed between Debian 12 (bookworm) and 13 (trixie), each
# pair built as a full member and as our delta (both through our stream
# encoder at level 2, as fa2 build stores them), next to xdelta3 and bsdiff.
# Prints one Markdown table of sizes and one of build time, peak memory and
# apply speed (docs/performance.md, "Delta members", keeps the last run's).
#
#   bench/delta-compare.sh [--big]     --big: also a 2 GiB generated pair
#                                      (our encoder only; needs ~8 GiB free)
#
# The packages are fetched with apt through private configurations (nothing
# is installed) and kept with their extracted trees under
# ~/.cache/fa2updater/delta-pairs. Installs xdelta3, bsdiff and time when
# missing. Build folder: build/delta-bench (FA2_BUILD to change).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
cache=${FA2_DELTA_CACHE:-$HOME/.cache/fa2updater/delta-pairs}
build=${FA2_BUILD:-$root/build/delta-bench}
mirror=${FA2_MIRROR:-http://deb.debian.org/debian}
big=no
[[ ${1:-} == --big ]] && big=yes

need=()
command -v xdelta3 >/dev/null || need+=(xdelta3)
command -v bsdiff >/dev/null || need+=(bsdiff)
[[ -x /usr/bin/time ]] || need+=(time)
if ((${#need[@]})); then
  apt-get update -qq && apt-get install -y -qq "${need[@]}" >/dev/null
fi

# package, bookworm version, trixie version (the versions measured; newer
# point releases are taken when these are gone from the mirror).
packages=(
  "freedoom 0.12.1-2 0.13.0-2"
  "freeciv-data 3.0.6-1+deb12u1 3.1.4+ds-2+deb13u1"
  "warzone2100-data 4.3.3-3 4.5.5deb-1"
)
# The pairs: package and the file's path in both versions.
pairs=(
  "freedoom usr/share/games/doom/freedoom1.wad"
  "freedoom usr/share/games/doom/freedoom2.wad"
  "freeciv-data usr/share/locale/ru/LC_MESSAGES/freeciv-core.mo"
  "freeciv-data usr/share/games/freeciv/cimpletoon/orient_units.png"
  "warzone2100-data usr/share/games/warzone2100/base.wz"
  "warzone2100-data usr/share/games/warzone2100/mp.wz"
)

# apt for one suite, through its own lists and cache.
suite_apt() {
  local suite=$1 dir=$cache/apt-$1
  if [[ ! -f $dir/apt.conf ]]; then
    mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial"
    echo "deb $mirror $suite main" >"$dir/sources.list"
    cat >"$dir/apt.conf" <<EOF
Dir::Etc::SourceList "$dir/sources.list";
Dir::Etc::SourceParts "/dev/null";
Dir::State::Lists "$dir/lists";
Dir::Cache "$dir/cache";
Dir::State::status "/dev/null";
APT::Sandbox::User "root";
EOF
    APT_CONFIG=$dir/apt.conf apt-get update -qq
  fi
  echo "$dir/apt.conf"
}

fetch() { # package version suite: the package's tree under $cache/package/suite
  local package=$1 version=$2 suite=$3 tree=$cache/$1/$3 debs=$cache/debs/$3 conf deb
  [[ -f $tree/.done ]] && return
  conf=$(suite_apt "$suite")
  mkdir -p "$debs" "$tree"
  (cd "$debs" && rm -f "${package}"_*.deb &&
    { APT_CONFIG=$conf apt-get download -qq "$package=$version" 2>/dev/null || APT_CONFIG=$conf apt-get download -qq "$package"; })
  deb=$(ls "$debs/${package}"_*.deb)
  dpkg-deb -x "$deb" "$tree"
  dpkg-deb -f "$deb" Version >"$tree/.version"
  rm -f "$deb"
  touch "$tree/.done"
}

for p in "${packages[@]}"; do
  read -r name old new <<<"$p"
  fetch "$name" "$old" bookworm
  fetch "$name" "$new" trixie
done

if [[ ${FA2_FETCH_ONLY:-} ]]; then exit 0; fi

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j 2 --target delta_bench >/dev/null
bench=$build/bin/delta_bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Peak resident set of a command, in MiB, and its CPU seconds (user and
# system: on a shared machine the elapsed time says more of the others).
measure() {
  /usr/bin/time -f '%M %U %S' -o "$work/time" "$@" >/dev/null 2>"$work/stderr"
  awk '{printf "%.1f %.2f\n", $1 / 1024, $2 + $3}' "$work/time"
}
size() { stat -c %s "$1"; }
percent() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f %%", 100 * a / b }'; }
mib() { awk -v a="$1" 'BEGIN { if (a < 1048576) printf "%.1f KiB", a / 1024; else printf "%.2f MiB", a / 1048576 }'; }

sizes="| file | new size | full member | our delta | xdelta3 -9 | xdelta3 | xdelta3 -9 -S none | bsdiff | delta / full |
|---|---|---|---|---|---|---|---|---|"
times="| file | ours: build s, MiB | xdelta3 -9: s, MiB | xdelta3: s, MiB | bsdiff: s, MiB | apply MB/s | applier alone | decode MB/s | apply / decode |
|---|---|---|---|---|---|---|---|---|"
for pair in "${pairs[@]}"; do
  read -r name path <<<"$pair"
  base=$cache/$name/bookworm/$path result=$cache/$name/trixie/$path
  if [[ ! -f $base || ! -f $result ]]; then echo "missing: $name $path" >&2; continue; fi
  if cmp -s "$base" "$result"; then echo "unchanged: $name $path" >&2; continue; fi
  label="$name $(basename "$path")"
  read -r oursMem oursTime < <(measure "$bench" build "$base" "$result" "$work/ours")
  read -r xd9Mem xd9Time < <(measure xdelta3 -e -f -9 -s "$base" "$result" "$work/xd9")
  read -r xdMem xdTime < <(measure xdelta3 -e -f -s "$base" "$result" "$work/xd")
  xdelta3 -e -f -9 -S none -s "$base" "$result" "$work/xdn"
  read -r bsMem bsTime < <(measure bsdiff "$base" "$result" "$work/bs")
  # full member, our delta (both stored), apply and decode MB/s
  read -r full delta apply decode alone < <("$bench" measure "$base" "$result")
  n=$(size "$result")
  sizes+="
| $label | $(mib "$n") | $(mib "$full") | $(mib "$delta") | $(mib "$(size "$work/xd9")") | $(mib "$(size "$work/xd")") | $(mib "$(size "$work/xdn")") | $(mib "$(size "$work/bs")") | $(percent "$delta" "$full") |"
  times+="
| $label | $oursTime, $oursMem | $xd9Time, $xd9Mem | $xdTime, $xdMem | $bsTime, $bsMem | $apply | $alone | $decode | $(awk -v a="$apply" -v d="$decode" 'BEGIN { printf "%.2f", a / d }') |"
done
echo "$sizes"
echo
echo "$times"

if [[ $big == yes ]]; then
  avail=$(df -k --output=avail "$work" | tail -n 1)
  if ((avail < 8 * 1024 * 1024)); then echo "big: less than 8 GiB free in $work, skipped" >&2; exit 0; fi
  "$bench" generate "$work/big-base" "$work/big-result" 2048
  read -r mem secs < <(measure "$bench" build "$work/big-base" "$work/big-result" "$work/big-delta")
  echo
  echo "2 GiB generated pair: our delta $(mib "$(size "$work/big-delta")"), built in $secs s CPU, peak $mem MiB"
  cat "$work/stderr"
  rm -f "$work/big-base" "$work/big-result" "$work/big-delta"
fi
