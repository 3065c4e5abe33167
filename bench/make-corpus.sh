#!/usr/bin/env bash
# Builds the benchmark corpus (about 87 MB) from Debian packages, offline apart
# from `apt-get download` of the packages named below. Nothing else is fetched.
#
#   bench/make-corpus.sh [OUT]        (default OUT: build/corpus)
#
# OUT/<category>/<file> holds the data, OUT/MANIFEST the package versions and
# what each file was made from. Categories, chosen to look like game data:
#   text   Python and Perl library sources, concatenated
#   xml    the freedesktop MIME database
#   exe    large shared libraries (x86-64 machine code and tables)
#   game   a slice of the freedoom WAD (palettised graphics, 8-bit sounds, maps)
#   image  PNG icons (24 of 256x256, 256 of 48x48) decoded to raw RGBA
#   pcm    16-bit PCM: a slice of a General MIDI sound font's sample data
#   font   TrueType fonts
# and three of classic 2D games' data, the long matches and runs that make
# an optimal parse work hardest:
#   sprites  sprite packs: Ri-li's sprite file (raw RGBA frames, a slice)
#            and Triplane Turmoil's data file (paletted sprites and sounds)
#   tiles    LGeneral's terrain and unit tile sheets (8-bit BMP)
#   levels   Berusky's level maps (grids, mostly empty) and Jump 'n Bump's
#            level packs (background, masks, sprites)
# Needs apt-get, dpkg-deb, python3 and ImageMagick's `convert`. Runs again
# from scratch when OUT/MANIFEST is missing; otherwise does nothing.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build/corpus}
if [ -f "$out/MANIFEST" ]; then
  echo "corpus: $out already built (remove it to rebuild)"
  exit 0
fi

packages=(
  libpython3.11-stdlib perl-modules-5.36 shared-mime-info libgtk-3-0 libssl3
  freedoom gnome-icon-theme timgm6mb-soundfont fonts-dejavu-core fonts-liberation2
  ri-li-data triplane lgeneral-data berusky-data jumpnbump-levels
)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/debs" "$work/root"
chmod 755 "$work" "$work/debs" # apt-get download drops privileges to _apt
(cd "$work/debs" && apt-get download "${packages[@]}")
for deb in "$work"/debs/*.deb; do
  dpkg-deb -x "$deb" "$work/root"
done
r=$work/root

rm -rf "$out"
mkdir -p "$out"/{text,xml,exe,game,image,pcm,font,sprites,tiles,levels}

# Concatenates the files listed on stdin (sorted) into $1, up to $2 bytes.
# `head` closing the pipe early is expected, hence no pipefail here.
concat_capped() {
  local dest=$1 cap=$2
  (set +o pipefail; sort | xargs -d '\n' cat | head -c "$cap" >"$dest")
}

find "$r/usr/lib/python3.11" -name '*.py' -type f | concat_capped "$out/text/python.py" $((6 << 20))
find "$r/usr/share/perl" -name '*.pm' -type f | concat_capped "$out/text/perl.pm" $((6 << 20))
cp "$r/usr/share/mime/packages/freedesktop.org.xml" "$out/xml/freedesktop.org.xml"
cp "$(find "$r" -name 'libgtk-3.so.0.*' -type f | head -1)" "$out/exe/libgtk-3.so"
cp "$(find "$r" -name 'libcrypto.so.3' -type f | head -1)" "$out/exe/libcrypto.so"
# The first 12 MiB of the WAD: its maps, sounds and graphics lumps.
head -c $((12 << 20)) "$(find "$r" -name 'freedoom2.wad' | head -1)" >"$out/game/freedoom2.wad"

# The 256x256 icons as RGBA, one after another.
find "$r/usr/share/icons/gnome/256x256" -name '*.png' -type f | sort | sed -n '1,24p' |
  xargs -d '\n' -I{} convert {} -depth 8 rgba:- >"$out/image/icons256.rgba"
# Some 48x48 icons too: smaller pictures with more edges.
find "$r/usr/share/icons/gnome/48x48" -name '*.png' -type f | sort | sed -n '1,256p' |
  xargs -d '\n' -I{} convert {} -depth 8 rgba:- >"$out/image/icons48.rgba"

# The sound font's sample chunk (RIFF "sdta" list, "smpl" sub-chunk): 16-bit
# little-endian PCM. Takes 6 MiB from its middle.
python3 - "$(find "$r" -name '*.sf2' | head -1)" "$out/pcm/soundfont.pcm" <<'EOF'
import struct, sys
data = open(sys.argv[1], 'rb').read()
at = data.find(b'smpl')
size = struct.unpack_from('<I', data, at + 4)[0]
pcm = data[at + 8 : at + 8 + size]
want = 6 << 20
start = max(0, (len(pcm) - want) // 2) & ~1
open(sys.argv[2], 'wb').write(pcm[start : start + want])
EOF

for f in DejaVuSans.ttf DejaVuSans-Bold.ttf DejaVuSerif.ttf DejaVuSansMono.ttf; do
  cp "$(find "$r" -name "$f" | head -1)" "$out/font/"
done
for f in LiberationSerif-Regular.ttf LiberationSans-Regular.ttf; do
  cp "$(find "$r" -name "$f" | head -1)" "$out/font/"
done

# Classic 2D games, their files as the games ship them.
head -c $((8 << 20)) "$(find "$r" -name 'sprites.dat' -path '*ri-li*' | head -1)" >"$out/sprites/ri-li-sprites.dat"
cp "$(find "$r" -name 'fokker.dks' | head -1)" "$out/sprites/fokker.dks"
find "$r/usr/share/games/lgeneral/gfx" -name '*.bmp' -type f | concat_capped "$out/tiles/lgeneral.bmp" $((8 << 20))
find "$r/usr/share/berusky" -iname '*.lv3' -type f | concat_capped "$out/levels/berusky.lv3" $((8 << 20))
find "$r/usr/share/games/jumpnbump" -name '*.dat' -type f | concat_capped "$out/levels/jumpnbump.dat" $((8 << 20))

{
  echo "# Benchmark corpus built by bench/make-corpus.sh on $(date -u +%Y-%m-%d)"
  echo "# package version"
  for deb in "$work"/debs/*.deb; do
    dpkg-deb -f "$deb" Package Version | sed 's/^[A-Za-z]*: //' | paste -sd' '
  done
  echo "# file bytes"
  (cd "$out" && find . -type f ! -name 'MANIFEST*' | sort | while IFS= read -r f; do
    echo "${f#./} $(stat -c %s "$f")"
  done)
} >"$out/MANIFEST.tmp"
mv "$out/MANIFEST.tmp" "$out/MANIFEST"
du -sh "$out"
