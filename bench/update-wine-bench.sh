#!/usr/bin/env bash
# Applying one large member with the real 32-bit updater under Wine: the time
# from the last Next to 完了 against a plain file copy of the same bytes on
# the same disk, and the updater's peak memory, for one or more updaters.
#
#   bench/update-wine-bench.sh [--mib N] [STUB.exe...]
#
# Default: a 300 MiB member (a third random bytes, a third shared libraries,
# a third library sources, made once into build/bench-data) and the stub of
# the win32 build. Each stub is measured on the same member, one after the
# other; the copy is timed right before each. Peak private memory is the
# process's anonymous resident memory (RssAnon), which includes Wine's own;
# the executable's image is file-backed and not in that figure. A benchmark,
# not a test: it prints figures and checks only that the update was applied.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mib=300
stubs=()
while (($#)); do
  case $1 in
    --mib) mib=$2; shift 2 ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) stubs+=("$(realpath "$1")"); shift ;;
  esac
done
((${#stubs[@]})) || stubs=("$root/build/win32/bin/updater-stub.exe")
fa2=$root/build/host/bin/fa2
driver=$root/build/win32/bin/e2e-driver.exe
for f in "$fa2" "$driver" "${stubs[@]}"; do
  [[ -f $f ]] || { echo "missing $f: build the host and win32 presets first" >&2; exit 1; }
done

data=$root/build/bench-data
member=$data/member-$mib.bin
if [[ ! -f $member ]]; then
  mkdir -p "$data"
  third=$((mib * 1024 * 1024 / 3))
  {
    openssl enc -aes-128-ctr -K 00112233445566778899aabbccddeeff -iv 0 -nosalt </dev/zero 2>/dev/null | head -c "$third"
    find /usr/lib/x86_64-linux-gnu -maxdepth 1 -name '*.so*' -type f | LC_ALL=C sort | xargs cat | head -c "$third"
    # Library sources, repeated as often as it takes.
    sources=$(find /usr/share/perl /usr/lib/python3* -name '*.p[ym]' -type f 2>/dev/null | LC_ALL=C sort)
    for _ in 1 2 3 4 5 6 7 8; do xargs cat <<<"$sources"; done | head -c $((mib * 1024 * 1024 - 2 * third))
  } >"$member.part" || true
  mv "$member.part" "$member"
fi
echo "member: $(stat -c %s "$member") bytes"

for stub in "${stubs[@]}"; do
  work=$root/build/bench-wine
  rm -rf "$work"
  mkdir -p "$work"
  cat "$member" >/dev/null
  start=$(date +%s.%N)
  cp "$member" "$work/copy.bin"
  middle=$(date +%s.%N)
  rm -f "$work/copy.bin"
  cpu=$( { /usr/bin/time -f '%U %S' cp "$member" "$work/copy.bin"; } 2>&1 | awk '{print $1 + $2}')
  dd if="$member" of="$work/copy2.bin" bs=1M status=none
  end=$(date +%s.%N)
  rm -f "$work/copy2.bin"
  sync
  synced=$(date +%s.%N)
  cp "$member" "$work/copy3.bin"
  sync
  done=$(date +%s.%N)
  echo "plain copy: cp $(echo "$middle - $start" | bc) s ($cpu s of CPU), dd bs=1M $(echo "$end - $middle" | bc) s," \
    "cp and sync $(echo "$done - $synced" | bc) s"
  rm -f "$work/copy.bin" "$work/copy3.bin"
  BENCH_MEMBER=$member "$root/tests/e2e/run-scenario.sh" --driver "$driver" --fa2 "$fa2" --stub "$stub" \
    --updater "$work/none.exe" --work "$work/run" "$root/bench/wine/apply-big-member.txt" | grep -E '^(bench:|FAIL)' || true
  echo "  ($stub, $(stat -c %s "$stub") bytes)"
done
