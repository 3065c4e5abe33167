# e2e: no plan: a benchmark; its 300 MiB member is not taken and compared twice more
# Setup of apply-big-member.txt (run by bench/update-wine-bench.sh): the
# sample game and an update of one member, $BENCH_MEMBER, under the name
# BIG.DAT. While the updater runs, its resident memory is sampled from
# /proc; the apply signal and the applied signal mark the timed step.
fa2_install_game
src=$WORK/update
fa2_sample_update_ini "$src" Bench 'UpdateFile00=BIG.DAT'
CAPTION="サンプルゲーム アップデータ Bench"
ln -s "$BENCH_MEMBER" "$src/BIG.DAT"
"$FA2" pack -o "$WORK/bench.fa2" --compress --scramble --time "$FA2_MEMBER_TIME" "$src/UPDATE.INI" "$src/BIG.DAT" \
  >/dev/null || return 1
"$FA2" stamp "$STUB" "$WORK/bench.fa2" -o "$WORK/bench.exe" >/dev/null || return 1
rm -f "$WORK/bench.fa2"
UPDATER=$WORK/bench.exe

# Peak private (anonymous) and whole resident memory of the updater process,
# in KiB, sampled every 20 ms until the driver has seen it end.
(
  anon=0 rss=0 cpu=0
  echo "0 0 0" >"$WORK/peak"
  while [[ ! -e $WORK/signals/applied.done ]] || pgrep -f 'linux-gnu [A-Z]:.*bench[.]exe$' >/dev/null; do
    for pid in $(pgrep -f 'linux-gnu [A-Z]:.*bench[.]exe$'); do
      read -r a r < <(awk '/^RssAnon/{a=$2} /^VmRSS/{r=$2} END{print a+0, r+0}' "/proc/$pid/status" 2>/dev/null)
      ((${a:-0} > anon)) && anon=$a
      ((${r:-0} > rss)) && rss=$r
      # CPU time (user and system, in clock ticks) of the process so far.
      c=$(awk '{print $14 + $15}' "/proc/$pid/stat" 2>/dev/null)
      ((${c:-0} > cpu)) && cpu=$c
    done
    echo "$anon $rss $cpu" >"$WORK/peak"
    sleep 0.02
  done
) &
FA2_WATCHERS+=($!)
# The same bytes copied by the system inside the same prefix, for comparison.
cp "$BENCH_MEMBER" "$DRIVE_C/copy-source.bin"
fa2_wine cmd /c copy 'C:\copy-source.bin' 'C:\copy-warm.bin' >/dev/null 2>&1
rm -f "$DRIVE_C/copy-warm.bin"
start=$(date +%s.%N)
fa2_wine cmd /c copy 'C:\copy-source.bin' 'C:\copy-target.bin' >/dev/null 2>&1
end=$(date +%s.%N)
echo "bench: copy in Wine $(echo "$end - $start" | bc) s"
rm -f "$DRIVE_C/copy-source.bin" "$DRIVE_C/copy-target.bin"
fa2_on_signal apply 'date +%s.%N >"$WORK/apply-start"; cp "$WORK/peak" "$WORK/peak-start"'
fa2_on_signal applied 'date +%s.%N >"$WORK/apply-end"; cp "$WORK/peak" "$WORK/peak-end"'

verify() {
  fa2_expect_same "$GAME/BIG.DAT" "$BENCH_MEMBER"
  fa2_expect_no_leftovers "$GAME"
  read -r anon rss _ <"$WORK/peak"
  read -r _ _ cpu0 <"$WORK/peak-start"
  read -r _ _ cpu1 <"$WORK/peak-end"
  echo "bench: apply $(echo "$(cat "$WORK/apply-end") - $(cat "$WORK/apply-start")" | bc) s" \
    "($(echo "scale=2; ($cpu1 - $cpu0) / $(getconf CLK_TCK)" | bc) s of CPU)," \
    "peak private $((anon / 1024)) MiB, peak resident $((rss / 1024)) MiB"
}
