#!/usr/bin/env bash
# Runs every test: installs what is missing, sets up the WoW64 Wine that runs
# the 32-bit updater (scripts/wine-wow64.sh, cached), then configures, builds
# and tests the native build, the sanitizer build, the fuzzers (a short smoke
# run each) and both Windows builds (static checks and platform tests; the
# end-to-end scenarios against the 32-bit updater, the product). Prints one
# closing line: "N passed, N failed".
#
# Where the kernel runs no 32-bit code (scripts/runs-32bit.sh, asked once
# here; FA2_NO_32BIT=1 makes the answer no anywhere) the scenarios run
# against the x86_64 build of the same sources instead, and the i686 build's
# Wine tests are skipped, each listed with its reason. A skipped test is
# neither passed nor failed; the line before the closing one says which
# build the scenarios ran, and why.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh || exit 1
if FA2_RUNS_32BIT_WHY=$(scripts/runs-32bit.sh); then FA2_RUNS_32BIT=yes; else FA2_RUNS_32BIT=no; fi
export FA2_RUNS_32BIT FA2_RUNS_32BIT_WHY
echo "$FA2_RUNS_32BIT_WHY"

jobs=${FA2_JOBS:-2}
presets=(host asan fuzz win32 win64)
[ -n "${FA2_PRESETS:-}" ] && read -r -a presets <<<"$FA2_PRESETS"
passed=0 failed=0 skipped=0 broken=() skips=()
mkdir -p build
if [[ " ${presets[*]} " == *" win32 "* || " ${presets[*]} " == *" win64 "* ]]; then
  echo "=== wine (scripts/wine-wow64.sh)"
  if ! scripts/wine-wow64.sh; then broken+=("wine-wow64 (set-up)"); fi
fi
for preset in "${presets[@]}"; do
  echo "=== $preset"
  if ! cmake --preset "$preset" >"build/configure-$preset.log" 2>&1; then
    cat "build/configure-$preset.log"; broken+=("$preset (configure)"); continue
  fi
  if ! cmake --build --preset "$preset" -j "$jobs" >"build/build-$preset.log" 2>&1; then
    tail -50 "build/build-$preset.log"; broken+=("$preset (build)"); continue
  fi
  ctest --preset "$preset" -j "$jobs" 2>&1 | tee "build/test-$preset.log"
  line=$(grep -E "tests passed, [0-9]+ tests failed out of [0-9]+" "build/test-$preset.log" | tail -1)
  if [ -z "$line" ]; then broken+=("$preset (no test ran)"); continue; fi
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.*, ([0-9]+) tests failed.*/\1/' <<<"$line")
  # ctest counts a skipped test as passed: it is neither here, and its
  # reason is the "skipped: ..." line of its output.
  skip=$(grep -cE '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "build/test-$preset.log")
  passed=$((passed + total - bad - skip)); failed=$((failed + bad)); skipped=$((skipped + skip))
  if ((skip)); then
    mapfile -t -O "${#skips[@]}" skips < <(awk -v preset="$preset" '
      / Test: / { name = $3 }
      /^(skipped: |.*: skipped$)/ { print preset ": " name ": " $0 }' "build/$preset/Testing/Temporary/LastTest.log")
  fi
done
for b in "${broken[@]}"; do echo "broken: $b"; failed=$((failed + 1)); done
if ((skipped)); then
  echo "skipped: $skipped (neither passed nor failed)"
  printf '  %s\n' "${skips[@]}"
fi
if [[ " ${presets[*]} " == *" win32 "* && $FA2_RUNS_32BIT == yes ]]; then
  echo "scenarios: on the i686 updater (win32), the product; $FA2_RUNS_32BIT_WHY"
elif [[ " ${presets[*]} " == *" win64 "* && $FA2_RUNS_32BIT == no ]]; then
  echo "scenarios: on the x86_64 updater (win64), not the i686 one; $FA2_RUNS_32BIT_WHY"
else
  echo "scenarios: none ran (FA2_PRESETS has no Windows preset that runs them here); $FA2_RUNS_32BIT_WHY"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
