#!/usr/bin/env bash
# Runs every test: installs what is missing, sets up the WoW64 Wine that runs
# the 32-bit updater (scripts/wine-wow64.sh, cached), then configures, builds
# and tests the native build, the sanitizer build, the fuzzers (a short smoke
# run each) and both Windows builds (static checks and platform tests; the
# end-to-end scenarios against the 32-bit updater, the product). Prints one
# closing line: "N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh || exit 1

jobs=${FA2_JOBS:-2}
presets=(host asan fuzz win32 win64)
[ -n "${FA2_PRESETS:-}" ] && read -r -a presets <<<"$FA2_PRESETS"
passed=0 failed=0 broken=()
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
  passed=$((passed + total - bad)); failed=$((failed + bad))
done
for b in "${broken[@]}"; do echo "broken: $b"; failed=$((failed + 1)); done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
