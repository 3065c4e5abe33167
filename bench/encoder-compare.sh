#!/usr/bin/env bash
# Encoder speed before and after a change, side by side in one process
# (bench/encoder_compare.cpp): the encoder of an earlier commit is compiled
# with its entry point renamed and linked beside this tree's.
#
#   bench/encoder-compare.sh [--rev REV] [--rounds N] [--levels 123] [--threads T] [--no-files] [CORPUS]
#
# REV defaults to 11c0306 (the encoder before the streaming tools); CORPUS
# to build/corpus (bench/make-corpus.sh). Builds into build/encoder-compare
# with g++ -O2, the flags of the host build. A benchmark, not a test.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
rev=11c0306 corpus="$root/build/corpus" args=()
while [ $# -gt 0 ]; do
  case $1 in
    --rev) rev=$2; shift 2 ;;
    --rounds|--levels|--threads) args+=("$1" "$2"); shift 2 ;;
    --no-files) args+=("$1"); shift ;;
    -h|--help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "encoder-compare.sh: unknown option $1" >&2; exit 2 ;;
    *) corpus=$1; shift ;;
  esac
done
[ -d "$corpus" ] || { echo "encoder-compare.sh: no corpus at $corpus (run bench/make-corpus.sh)" >&2; exit 1; }

out="$root/build/encoder-compare"
rm -rf "$out/old" && mkdir -p "$out/old"
git -C "$root" archive "$rev" tools/codec | tar -x -C "$out/old"
flags=(-std=c++20 -O2 -DNDEBUG -pthread)
# Every entry point of the earlier encoder gets an Old prefix; its helpers
# are file-local or in their own namespace.
old_objs=()
for src in "$out"/old/tools/codec/*.cpp; do
  obj="$out/old/$(basename "$src" .cpp).o"
  g++ "${flags[@]}" -I"$out/old/tools" -I"$root/src" -Dcodec=old_codec -DStreamEncoder=OldStreamEncoder \
    -DCompressStream=OldCompressStream -DCompressStreamGreedyReference=OldCompressStreamGreedyReference \
    -DMaxCompressedSize=OldMaxCompressedSize -c "$src" -o "$obj"
  old_objs+=("$obj")
done
g++ "${flags[@]}" -I"$root/tools" -I"$root/src" "$root/bench/encoder_compare.cpp" "$root"/tools/codec/*.cpp \
  "${old_objs[@]}" -o "$out/encoder_compare"
exec "$out/encoder_compare" "${args[@]}" "$corpus"
