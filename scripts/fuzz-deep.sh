#!/usr/bin/env bash
# Deeper fuzzing than the smoke runs of the test command: every libFuzzer
# target in turn for SECONDS each (default 600), then a table of what each
# run did: executions, final coverage (libFuzzer's cov and ft), corpus size
# and crashes found.
#
#   scripts/fuzz-deep.sh [SECONDS]
#
# Each target keeps its corpus between deep runs in
# $FA2_FUZZ_BUILD/deep/<target>/corpus (seeded from tests/fuzz/corpus/<target>;
# the repository's seeds are never written). Inputs that crash, leak, time out
# or run out of memory land in .../artifacts/; after one, the target is
# started again for the rest of its time, so a run counts every crash it met.
#
# Environment: FA2_FUZZ_BUILD, the build folder (default build/fuzz-deep,
# configured like the fuzz preset when it does not exist yet);
# FA2_FUZZ_TARGETS, the targets to run (default: all, e.g. "fuzz_archive
# fuzz_update"); FA2_JOBS, build jobs (default 2).
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
case "$seconds" in '' | *[!0-9]*) echo "usage: $0 [SECONDS]" >&2; exit 2 ;; esac
build=${FA2_FUZZ_BUILD:-build/fuzz-deep}
jobs=${FA2_JOBS:-2}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DFA2_FUZZ_ONLY=ON >"$build.configure.log" 2>&1 ||
    { cat "$build.configure.log"; exit 1; }
fi
cmake --build "$build" -j "$jobs" >"$build.build.log" 2>&1 || { tail -40 "$build.build.log"; exit 1; }

if [ -n "${FA2_FUZZ_TARGETS:-}" ]; then
  read -r -a targets <<<"$FA2_FUZZ_TARGETS"
else
  targets=()
  for f in tests/fuzz/fuzz_*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi

# Inputs libFuzzer kept for a failure (not its slow-unit notes).
failures() { ls "$1" 2>/dev/null | grep -cE '^(crash|leak|timeout|oom)-'; }

results=() found=0
for target in "${targets[@]}"; do
  binary="$build/bin/$target"
  [ -x "$binary" ] || { echo "no such target: $target" >&2; exit 1; }
  work="$build/deep/$target"
  mkdir -p "$work/corpus" "$work/artifacts"
  if [ -d "tests/fuzz/corpus/$target" ]; then cp -n "tests/fuzz/corpus/$target"/* "$work/corpus/" 2>/dev/null; fi
  log="$work/last-run.log"
  : >"$log"
  before=$(failures "$work/artifacts")

  echo "=== $target: ${seconds}s"
  executions=0 starts=0
  deadline=$(($(date +%s) + seconds))
  while :; do
    left=$((deadline - $(date +%s)))
    [ "$left" -gt 0 ] || break
    starts=$((starts + 1))
    "$binary" -max_total_time="$left" -timeout=25 -print_final_stats=1 \
      -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/run.log" 2>&1
    status=$?
    cat "$work/run.log" >>"$log"
    n=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/run.log" | grep -o '[0-9]*$' | tail -1)
    executions=$((executions + ${n:-0}))
    if [ "$status" -ne 0 ]; then
      grep -m1 -E 'ERROR: |fuzz check failed' "$work/run.log" >&2
      # A target that fails at once would only fail again.
      [ "$starts" -ge 50 ] && break
    fi
  done
  crashes=$(($(failures "$work/artifacts") - before))
  found=$((found + crashes))
  coverage=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1)
  cov=$(awk '{print $2}' <<<"$coverage")
  ft=$(awk '{print $4}' <<<"$coverage")
  corpus=$(ls "$work/corpus" | wc -l)
  results+=("$(printf '%-18s %8s %13s %10s %6s %7s %8s %8s' "$target" "$seconds" "$executions" \
    "$((executions / (seconds > 0 ? seconds : 1)))" "${cov:--}" "${ft:--}" "$corpus" "$crashes")")
done

echo
printf '%-18s %8s %13s %10s %6s %7s %8s %8s\n' target seconds executions "exec/s" cov ft corpus crashes
for line in "${results[@]}"; do echo "$line"; done
echo "failing inputs found in this run: $found (kept in $build/deep/<target>/artifacts)"
[ "$found" -eq 0 ]
