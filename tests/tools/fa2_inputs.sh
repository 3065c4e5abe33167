#!/usr/bin/env bash
# Inputs fa2 cannot use and outputs it cannot write: a folder where a file
# belongs, an output whose folder is a file, an updater or stub cut short.
# Each must end in exit code 1 and one line on stderr, "fa2: ...", naming the
# file; never a crash or an uncaught exception.
. "$(dirname "$0")/lib/checks.sh" "$1"
seeds=$root/tests/fuzz/corpus/fuzz_fa2_input

# DESCRIPTION TEXT ARGS...: exit 1, one line "fa2: ..." that contains TEXT.
refused() {
  local what=$1 text=$2
  shift 2
  "$FA2" "$@" >/dev/null 2>"$work/err"
  local code=$?
  if [ $code -ne 1 ] || [ "$(wc -l <"$work/err")" -ne 1 ] || ! grep -q '^fa2: ' "$work/err" ||
    ! grep -qF -- "$text" "$work/err"; then
    echo "FAIL: $what: exit $code, stderr: $(head -c 300 "$work/err")"
    fails=$((fails + 1))
  fi
}

dir=$work/folder
mkdir -p "$dir" "$work/inst"
updater=$seeds/updater32
stub=$seeds/stub32_no_resources
archive=$work/a.fa2
"$FA2" pack -o "$archive" "$root/examples/sample-update/UPDATE.INI" >/dev/null
echo text >"$work/file"

refused "list of a folder" "$dir: is a folder" list "$dir"
refused "verify of a folder" "$dir: is a folder" verify "$dir"
refused "extract of a folder" "$dir: is a folder" extract "$dir" -C "$work/x"
refused "stamp: a folder as the stub" "$dir: is a folder" stamp "$dir" "$archive" -o "$work/s.exe"
refused "stamp: a folder as the archive" "$dir: is a folder" stamp "$stub" "$dir" -o "$work/s.exe"
refused "build: a folder as the stub" "$dir: is a folder" build "$root/examples/sample-update" --stub "$dir" -o "$work/b.exe"
refused "pack: a folder as a member" "$dir: is a folder" pack -o "$work/p.fa2" "$dir"
refused "pack: a folder as the output" "$dir: is a folder" pack -o "$dir" "$work/file"
refused "stamp: a folder as the output" "$dir: is a folder" stamp "$stub" "$archive" -o "$dir"
refused "build: a folder as the output" "$dir: is a folder" build "$root/examples/sample-update" --stub "$stub" -o "$dir"
refused "pack: a file as the output's folder" "$work/file/p.fa2" pack -o "$work/file/p.fa2" "$work/file"
refused "stamp: a file as the output's folder" "$work/file/s.exe" stamp "$stub" "$archive" -o "$work/file/s.exe"
refused "extract: a file as the folder" "$work/file" extract "$archive" -C "$work/file"
refused "extract: no folder above -C" "cannot make the folder $work/none/x (no folder $work/none)" extract "$archive" -C "$work/none/x"
[ ! -e "$work/none" ] || { echo "FAIL: extract made the folders above -C"; fails=$((fails + 1)); }
# The system's reason, and each path once.
refused "list: a missing file" "fa2: list: cannot open $work/none.exe (No such file or directory)" list "$work/none.exe"
refused "pack: an output in a missing folder" "fa2: pack: cannot write $work/none/p.fa2 (No such file or directory)" \
  pack -o "$work/none/p.fa2" "$work/file"
[ -z "$(find "$work" -name '*.fa2-partial')" ] || { echo "FAIL: a partial file was left"; fails=$((fails + 1)); }

# An updater cut short: in its archive's directory, in its section table, in
# its headers; a stub cut short.
size=$(stat -c %s "$updater")
for cut in $((size - 40)) $((size - 1)) 400 100 30; do
  c=$work/cut-$cut.exe
  head -c "$cut" "$updater" >"$c"
  refused "list of an updater cut at $cut" "$c: " list "$c"
  refused "verify of an updater cut at $cut" "$c: " verify "$c"
  refused "extract of an updater cut at $cut" "$c: " extract "$c" -C "$work/x"
  refused "plan of an updater cut at $cut" "$c: " plan "$c" --install "$work/inst"
  refused "stamp of an updater cut at $cut" "$c: " stamp "$stub" "$c" -o "$work/s.exe"
  refused "stamp into a stub cut at $cut" "$c: " stamp "$c" "$archive" -o "$work/s.exe"
done
refused "the message says where the file ends" "cut short: section .rsrc ends at byte $size but the file has $((size - 1)) bytes" \
  verify "$work/cut-$((size - 1)).exe"
[ ! -e "$work/s.exe" ] || { echo "FAIL: stamp wrote an output from a cut input"; fails=$((fails + 1)); }

finish "fa2 inputs"
