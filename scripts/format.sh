#!/usr/bin/env bash
# Formats the project's C and C++ files (src, tools, tests, bench, examples)
# with the root .clang-format, in place.
#
#   scripts/format.sh            formats every file
#   scripts/format.sh --check    changes nothing; lists each file that would
#                                change and exits 1 when there is one
#
# Build folders are never looked at. CLANG_FORMAT names another binary
# (default: clang-format; Debian's package "clang-format").
set -euo pipefail

cd "$(dirname "$0")/.."
check=0
case "${1:-}" in
  "") ;;
  --check) check=1 ;;
  *) echo "usage: scripts/format.sh [--check]" >&2; exit 2 ;;
esac
tool=${CLANG_FORMAT:-clang-format}
if ! command -v "$tool" >/dev/null; then
  echo "format: $tool not found (apt-get install clang-format)" >&2
  exit 2
fi

files=()
while IFS= read -r -d '' f; do files+=("$f"); done < <(
  find src tools tests bench examples \
    \( -name build -o -name 'build-*' -o -name corpus \) -prune -o \
    -type f \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print0 2>/dev/null | sort -z)
[ ${#files[@]} -eq 0 ] && exit 0

if [ $check -eq 0 ]; then
  "$tool" --style=file -i "${files[@]}"
  exit 0
fi
status=0
for f in "${files[@]}"; do
  if ! "$tool" --style=file "$f" | cmp -s - "$f"; then
    echo "$f"
    status=1
  fi
done
exit $status
