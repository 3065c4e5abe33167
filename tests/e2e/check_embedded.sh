#!/usr/bin/env bash
# The host fa2 reads the archive inside a built updater: verify passes, list
# names the sample's files, and extract gives them back byte for byte.
# usage: check_embedded.sh FA2 UPDATER.exe SAMPLE_FOLDER
set -u
fa2=$1 exe=$2 sample=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fails=$((fails + 1)); fi; }

check "fa2 verify reads the updater" "'$fa2' verify '$exe'"
check "fa2 list names the sample's files" \
  "[ \"\$('$fa2' list '$exe' | cut -f1 | sort)\" = \"\$(ls '$sample' | sort)\" ]"
check "fa2 list shows compressed and scrambled members" "'$fa2' list '$exe' | grep -qP '^GAME.DAT\tyes\tyes\t'"
check "fa2 extract gives the sample back" "'$fa2' extract '$exe' -C '$work/out' && diff -r '$work/out' '$sample'"
[ $fails -eq 0 ] && echo "embedded archive: all checks passed"
exit $fails
