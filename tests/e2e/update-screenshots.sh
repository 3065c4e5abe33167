#!/usr/bin/env bash
# Copies the README's wizard screenshots from the last scenario runs into
# docs/screenshots/: template 100 (no agreement) from happy-path, template
# 101 (with agreement) from agreement, both under the Japanese locale. Run
# the two scenarios first:
#   ctest --preset win32 -R 'happy-path.ja$|agreement.ja$'
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
shots=$root/build/win32/e2e/ja
mkdir -p "$root/docs/screenshots"
cp "$shots/happy-path/shots/template-100-start.png" "$root/docs/screenshots/template-100.png"
cp "$shots/agreement/shots/template-101-start.png" "$root/docs/screenshots/template-101.png"
ls -l "$root/docs/screenshots"
