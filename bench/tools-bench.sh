#!/usr/bin/env bash
# The fa2 tool as a publisher uses it: build, list and verify of an update
# with one large member and of a 16-file update, each run's elapsed time,
# CPU time (user + system, every thread) and peak resident memory (GNU time).
#
#   bench/tools-bench.sh [--old OLD_FA2] [--stub STUB.exe] [--corpus DIR] [--big MiB] FA2
#
# The large member (default 300 MiB) is one third random bytes, one third
# machine code (the corpus's exe files over and over), one third text (its
# text files over and over); the 16-file update holds 16 files of the
# corpus (bench/make-corpus.sh builds it). Inputs go to build/tools-bench.
# With --old (a build of an earlier fa2, e.g. from an older commit), both
# run the same steps in the same run, one after the other, for a
# before/after table. The new fa2 also builds the large update on one
# thread (FA2_THREADS=1), and the updaters of both thread counts are
# compared byte for byte. A benchmark, not a test: nothing fails on speed.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
old="" stub="$root/build/win32/bin/updater-stub.exe" corpus="$root/build/corpus" big=300
while [ $# -gt 1 ]; do
  case $1 in
    --old) old=$2; shift 2 ;;
    --stub) stub=$2; shift 2 ;;
    --corpus) corpus=$2; shift 2 ;;
    --big) big=$2; shift 2 ;;
    *) break ;;
  esac
done
new=${1:?usage: tools-bench.sh [--old OLD_FA2] [--stub STUB.exe] [--corpus DIR] [--big MiB] FA2}
[ -f "$stub" ] || { echo "tools-bench: no stub $stub (build the win32 preset or pass --stub)" >&2; exit 1; }
[ -f "$corpus/MANIFEST" ] || { echo "tools-bench: no corpus in $corpus (bench/make-corpus.sh)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "tools-bench: needs GNU time (/usr/bin/time, scripts/setup.sh installs it)" >&2; exit 1; }

work=$root/build/tools-bench
rm -rf "$work"
mkdir -p "$work/big" "$work/files16" "$work/out"

ini() { # UPDATE.INI naming the files given
  printf '[SETUP]\r\nCompanyName=Bench\r\nGameTitle=Bench\r\nGameClass=BenchWindow\r\nGameDir=Bench\r\n'
  printf 'UpdaterVersion=Ver.1.00\r\nUpdateMessage=Bench\r\n\r\n[UPDATE]\r\nRequiredDiskSpace=1000\r\n'
  local i=0
  for f in "$@"; do printf 'UpdateFile%02d=u,%s\r\n' "$i" "$f"; i=$((i + 1)); done
}

python3 - "$corpus" "$work/big/BIG.DAT" "$((big << 20))" <<'EOF'
import os, random, sys
corpus, dest, size = sys.argv[1], sys.argv[2], int(sys.argv[3])
def files(category):
    d = os.path.join(corpus, category)
    return [open(os.path.join(d, f), 'rb').read() for f in sorted(os.listdir(d))]
third = size // 3
rng = random.Random(15)
with open(dest, 'wb') as out:
    left = third
    while left:
        n = min(left, 1 << 20)
        out.write(rng.randbytes(n))
        left -= n
    for category, part in (('exe', third), ('text', size - 2 * third)):
        blob = b''.join(files(category))
        left = part
        while left:
            n = min(left, len(blob))
            out.write(blob[:n])
            left -= n
EOF
ini BIG.DAT >"$work/big/UPDATE.INI"

names=()
i=0
while IFS= read -r f; do
  name=$(printf 'FILE%02d.DAT' "$i")
  cp "$f" "$work/files16/$name"
  names+=("$name")
  i=$((i + 1))
done < <(find "$corpus" -mindepth 2 -type f | sort | head -16)
ini "${names[@]}" >"$work/files16/UPDATE.INI"

rows=()
# run LABEL UPDATE STEP INPUT_BYTES command...: one table row.
run() {
  local label=$1 update=$2 step=$3 bytes=$4
  shift 4
  /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$@" >"$work/out/last.log" 2>&1 ||
    { echo "tools-bench: $label $update $step failed:" >&2; cat "$work/out/last.log" >&2; exit 1; }
  read -r wall user sys rss <"$work/time"
  rows+=("$(awk -v l="$label" -v u="$update" -v s="$step" -v w="$wall" -v us="$user" -v sy="$sys" \
    -v r="$rss" -v b="$bytes" 'BEGIN { printf "%-10s %-8s %-16s %8.2f %8.2f %9.1f %7.2f", l, u, s, w, us + sy, r / 1024, r * 1024 / b }')")
}

bytes_of() { du -cb "$@" | tail -1 | cut -f1; }
bigBytes=$(bytes_of "$work/big")
filesBytes=$(bytes_of "$work/files16")
when="2024-01-01 00:00:00"
for tool in new ${old:+old}; do
  fa2=$new
  [ "$tool" = old ] && fa2=$old
  for update in big files16; do
    in=$([ "$update" = big ] && echo "$bigBytes" || echo "$filesBytes")
    out="$work/out/$tool-$update.exe"
    run "$tool" "$update" "build" "$in" "$fa2" build "$work/$update" -o "$out" --stub "$stub" --time "$when"
    size=$(stat -c %s "$out")
    run "$tool" "$update" "list" "$size" "$fa2" list "$out"
    run "$tool" "$update" "verify" "$size" "$fa2" verify "$out"
    run "$tool" "$update" "extract" "$size" "$fa2" extract "$out" -C "$work/out/$tool-$update"
    rm -rf "$work/out/$tool-$update"
  done
  run "$tool" files16 "build --level 3" "$filesBytes" "$fa2" build "$work/files16" -o "$work/out/$tool-l3.exe" \
    --stub "$stub" --time "$when" --level 3
done
run new big "build, 1 thread" "$bigBytes" env FA2_THREADS=1 "$new" build "$work/big" -o "$work/out/one-thread.exe" \
  --stub "$stub" --time "$when"
same=$(cmp -s "$work/out/one-thread.exe" "$work/out/new-big.exe" && echo yes || echo NO)

echo "big: one member of $((bigBytes >> 20)) MiB; files16: 16 files, $((filesBytes >> 20)) MiB"
printf '%-10s %-8s %-16s %8s %8s %9s %7s\n' fa2 update step "wall s" "cpu s" "peak MiB" "peak/in"
printf '%s\n' "${rows[@]}"
echo "the new fa2's big updater built on 1 thread and on every core: the same bytes: $same"
