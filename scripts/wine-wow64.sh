#!/usr/bin/env bash
# The Wine that runs the 32-bit (i686) updater on this machine, set up when
# missing, then two lines on stdout:
#   <path of a wine launcher>      runs 32-bit and 64-bit PE programs
#   <path of its wineserver>
#
# Debian 12's own Wine cannot do it: this kernel loads no 32-bit Linux
# program (so no wine32), and Wine 8's WoW64 mode draws no text in 32-bit
# dialogs. Wine 10 (Debian 13's wine64) runs 32-bit PE code inside its
# 64-bit process once the i386 PE DLLs sit beside its x86_64 ones. So:
#   1. a minimal Debian 13 tree (debootstrap), from the mirror apt uses here;
#   2. wine64 installed in that tree (apt inside a throwaway chroot);
#   3. the i386-windows DLLs of the same version's libwine:i386, fetched with
#      a private apt configuration and copied in (nothing of i386 enters
#      dpkg, neither the system's nor the tree's);
#   4. the PE DLLs' debug information stripped (1.8 GB -> 0.9 GB);
#   5. launchers that start the tree's Wine on the host's file system through
#      the tree's own dynamic loader and libraries: no chroot when running,
#      so mounts, /tmp, X sockets and the caller's environment (WINEPREFIX,
#      LC_ALL, LOCPATH, DISPLAY, WINEDEBUG ...) all reach Wine unchanged.
# The system's Wine is never touched.
#
# Cache: FA2_WOW64_DIR, default ${XDG_CACHE_HOME:-~/.cache}/fa2updater/wow64
# (outside the clone, so every clone and CI run on this machine shares it).
# Setting up needs root (or sudo), about 100 s and 360 MB of downloads, and
# leaves about 0.9 GB; later runs only check a stamp file. FA2_WOW64_MIRROR
# overrides the Debian mirror.
#
# Usage: scripts/wine-wow64.sh [--quiet]     (progress goes to stderr)
set -euo pipefail

W=${FA2_WOW64_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/fa2updater/wow64}
R=$W/trixie
L=$R/usr/lib/x86_64-linux-gnu
STAMP=$W/.complete-1
quiet=0
[[ ${1:-} == --quiet ]] && quiet=1

say() { ((quiet)) || echo "[wine-wow64] $*" >&2; }
die() { echo "wine-wow64: $*" >&2; exit 1; }

print_paths() { printf '%s\n%s\n' "$W/bin/wine" "$W/bin/wineserver"; }

if [[ -f $STAMP ]]; then
  print_paths
  exit 0
fi

[[ $(uname -m) == x86_64 ]] || die "needs an x86_64 machine"
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || die "setting up needs root (or sudo) once"
  SUDO=sudo
else
  SUDO=
fi

mkdir -p "$W"
exec 9>"$W/.lock"
flock 9
if [[ -f $STAMP ]]; then # another run finished it while we waited
  print_paths
  exit 0
fi

started=$SECONDS
system_mirror() {
  local m
  m=$(grep -h '^URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1 | awk '{print $2}')
  [[ -n $m ]] || m=$(grep -h '^deb ' /etc/apt/sources.list 2>/dev/null | head -n 1 | awk '{print $2}')
  printf '%s\n' "$m"
}
MIRROR=${FA2_WOW64_MIRROR:-$(system_mirror)}
[[ -n $MIRROR ]] || die "no Debian mirror in the apt sources; set FA2_WOW64_MIRROR"
KEYRING=/usr/share/keyrings/debian-archive-keyring.gpg

need=()
for p in debootstrap debian-archive-keyring binutils-mingw-w64-i686 binutils-mingw-w64-x86-64; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if ((${#need[@]})); then
  say "installing ${need[*]}"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q >/dev/null
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${need[@]}" >/dev/null
fi

# apt inside the tree, in a private mount namespace so nothing stays mounted.
in_tree() {
  $SUDO unshare -m --propagation private /bin/sh -c '
    R=$1; shift
    mount -t proc proc "$R/proc" && mount --rbind /dev "$R/dev" || exit 1
    cp /etc/resolv.conf "$R/etc/resolv.conf" 2>/dev/null
    exec chroot "$R" "$@"' sh "$R" "$@"
}

if [[ ! -x $R/usr/bin/apt-get ]]; then
  say "a minimal Debian 13 tree in $R (debootstrap, about 30 s)"
  $SUDO rm -rf "$R"
  $SUDO debootstrap --variant=minbase --keyring="$KEYRING" trixie "$R" "$MIRROR" >"$W/debootstrap.log" 2>&1 ||
    { tail -20 "$W/debootstrap.log" >&2; die "debootstrap failed (log: $W/debootstrap.log)"; }
fi

if [[ ! -x $R/usr/lib/wine/wine64 ]]; then
  say "Wine 10 (wine64) in the tree (about 30 s)"
  in_tree sh -c 'export DEBIAN_FRONTEND=noninteractive
    apt-get update -q >/dev/null &&
    apt-get install -y -q --no-install-recommends wine64 fonts-wine \
      libxrender1 libxrandr2 libxi6 libxcursor1 libxfixes3 libxcomposite1 libxinerama1 \
      >/var/log/fa2-wine.log 2>&1 || { tail -20 /var/log/fa2-wine.log; exit 1; }
    apt-get clean' >&2 || die "installing wine64 in the tree failed"
fi

I386=$L/wine/i386-windows
if [[ ! -f $W/.i386-done ]]; then
  say "the i386 PE DLLs of the same version"
  A=$W/apt-i386
  $SUDO rm -rf "$A"
  mkdir -p "$A/lists/partial" "$A/cache/archives/partial" "$A/deb"
  echo "deb [arch=i386 signed-by=$KEYRING] $MIRROR trixie main" >"$A/sources.list"
  : >"$A/status"
  apt_i386=(-o Dir::Etc::sourcelist="$A/sources.list" -o Dir::Etc::sourceparts=- -o Dir::State::Lists="$A/lists"
    -o Dir::Cache="$A/cache" -o Dir::State::status="$A/status"
    -o APT::Architecture=i386 -o APT::Architectures::=i386 -o APT::Sandbox::User=root)
  $SUDO apt-get "${apt_i386[@]}" update -q >/dev/null || die "apt (i386 lists) failed"
  version=$(in_tree dpkg-query -W -f='${Version}' libwine)
  (cd "$A/deb" && $SUDO apt-get "${apt_i386[@]}" download -q "libwine:i386=$version" >/dev/null) ||
    die "cannot download libwine:i386 $version"
  dpkg-deb -x "$A/deb/libwine_${version/*:/}_i386.deb" "$A/x"
  # Into the folder libwine's own set-up made: it already holds the i386
  # zlib1.dll that Wine's builtins load, which the package does not carry.
  $SUDO mkdir -p "$I386"
  $SUDO cp -a "$A/x/usr/lib/i386-linux-gnu/wine/i386-windows/." "$I386/"
  [[ -f $I386/zlib1.dll ]] || die "no i386 zlib1.dll in $I386 (libwine's set-up did not make it)"
  say "stripping the PE DLLs' debug information"
  for pair in "$I386:i686" "$L/wine/x86_64-windows:x86_64"; do
    find "${pair%:*}" -type f \( -name '*.dll' -o -name '*.exe' -o -name '*.drv' -o -name '*.sys' \
      -o -name '*.ocx' -o -name '*.cpl' -o -name '*.acm' -o -name '*.ax' -o -name '*.ds' -o -name '*.tlb' \) \
      -print0 | $SUDO xargs -0 -r -n 64 "${pair##*:}-w64-mingw32-strip" --strip-debug 2>/dev/null || true
  done
  $SUDO rm -rf "$A"
  touch "$W/.i386-done"
fi

say "launchers"
# Wine re-executes "<folder of the running executable>/wine64" and starts
# "<same folder>/wineserver". Run through the tree's loader, that folder is
# $L, so the real launchers live there and $W/bin links to them.
cat >"$W/fonts.conf" <<EOF
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <cachedir>$W/fontconfig-cache</cachedir>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
</fontconfig>
EOF
launcher() { # name, the tree's program
  $SUDO tee "$L/$1" >/dev/null <<EOF
#!/bin/sh
# Debian 13's Wine 10 from $R, run on this machine's file system with that
# tree's loader and libraries (made by scripts/wine-wow64.sh).
export GCONV_PATH="$L/gconv" FONTCONFIG_FILE="\${FONTCONFIG_FILE:-$W/fonts.conf}"
exec "$L/ld-linux-x86-64.so.2" --library-path "$L" "$R$2" "\$@"
EOF
  $SUDO chmod 755 "$L/$1"
}
launcher wine64 /usr/lib/wine/wine64
launcher wineserver /usr/lib/wine/wineserver64
# The server looks for its case tables in <exe folder>/../../share/wine/wine/nls
# before the host's /usr/share/wine/nls (Wine 8's, or missing).
$SUDO mkdir -p "$R/usr/share/wine/wine"
$SUDO ln -sfn ../nls "$R/usr/share/wine/wine/nls"
mkdir -p "$W/bin"
ln -sfn "$L/wine64" "$W/bin/wine"
ln -sfn "$L/wineserver" "$W/bin/wineserver"
"$W/bin/wine" --version >/dev/null 2>&1 || die "the launcher does not run: $W/bin/wine --version"

touch "$STAMP"
say "ready in $((SECONDS - started)) s ($(du -sh "$W" 2>/dev/null | cut -f1) in $W)"
print_paths
