#!/usr/bin/env bash
# A real version pair of game data for the delta scenarios: Debian's
# freeciv-data of Debian 12 (bookworm) and of Debian 13 (trixie), whose
# message catalogs changed between the two releases but share most of their
# bytes. Fetched with apt through private configurations (nothing is
# installed) and unpacked under ~/.cache/fa2updater/delta-pairs, the cache
# bench/delta-compare.sh fills the same way, so either one's download serves
# the other. Prints the two trees, the old one first.
#
# Exit 0 with the trees; 77 with a line "skipped: ..." on stderr when the
# package registry cannot be reached (and nothing is cached); 1 when
# something else fails.
#
#   tests/e2e/fetch-delta-pair.sh     FA2_DELTA_CACHE and FA2_MIRROR override
#                                     the cache folder and the mirror
set -uo pipefail
cache=${FA2_DELTA_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/fa2updater/delta-pairs}
mirror=${FA2_MIRROR:-http://deb.debian.org/debian}
package=freeciv-data
# The versions the scenarios were written with; a newer point release of the
# same suite is taken once one of them is gone from the mirror.
versions=(bookworm=3.0.6-1+deb12u1 trixie=3.1.4+ds-2+deb13u1)

fail() { echo "fetch-delta-pair: $*" >&2; exit 1; }

# apt for one suite, through its own configuration, lists and cache; the
# lists are fetched once.
suite_apt() { # SUITE: the configuration's path on stdout
  local suite=$1 dir=$cache/apt-$1
  mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial" || return 1
  if ! compgen -G "$dir/lists/*_Packages*" >/dev/null; then
    echo "deb $mirror $suite main" >"$dir/sources.list"
    printf '%s\n' "Dir::Etc::SourceList \"$dir/sources.list\";" 'Dir::Etc::SourceParts "/dev/null";' \
      "Dir::State::Lists \"$dir/lists\";" "Dir::Cache \"$dir/cache\";" 'Dir::State::status "/dev/null";' \
      'APT::Sandbox::User "root";' >"$dir/apt.conf"
    if ! APT_CONFIG=$dir/apt.conf apt-get update -qq -o APT::Update::Error-Mode=any >"$dir/update.log" 2>&1; then
      echo "skipped: Debian's package registry ($mirror, $suite) cannot be reached, so the real version pair" \
        "of $package is not here: $(grep -m1 -E '^(E|W):' "$dir/update.log")" >&2
      exit 77
    fi
  fi
  echo "$dir/apt.conf"
}

fetch() { # SUITE VERSION: the package's tree under $cache/$package/SUITE
  local suite=$1 version=$2 tree=$cache/$package/$1 debs=$cache/debs/$1 conf deb
  [[ -f $tree/.done ]] && return 0
  conf=$(suite_apt "$suite") || exit $?
  rm -rf "$tree" "$debs/${package}"_*.deb
  mkdir -p "$debs" "$tree" || return 1
  (cd "$debs" && { APT_CONFIG=$conf apt-get download -qq "$package=$version" 2>/dev/null ||
    APT_CONFIG=$conf apt-get download -qq "$package"; }) || fail "apt-get download $package ($suite) failed"
  deb=$(ls "$debs/${package}"_*.deb) || return 1
  dpkg-deb -x "$deb" "$tree" || fail "cannot unpack $deb"
  dpkg-deb -f "$deb" Version >"$tree/.version"
  rm -f "$deb"
  touch "$tree/.done"
}

mkdir -p "$cache" || fail "cannot make $cache"
exec 9>"$cache/.lock"
flock 9
for entry in "${versions[@]}"; do
  fetch "${entry%%=*}" "${entry#*=}" || fail "cannot fetch $package of ${entry%%=*}"
done
printf '%s\n' "$cache/$package/bookworm" "$cache/$package/trixie"
