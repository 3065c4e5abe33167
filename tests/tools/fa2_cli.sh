#!/usr/bin/env bash
# The fa2 command line: round trips in every form, listings, verification of
# damaged archives, help and errors.
. "$(dirname "$0")/lib/checks.sh" "$1"

src=$work/src
mkdir -p "$src"
head -c 70000 /dev/urandom >"$src/noise.bin"
yes 'the same line of text, again and again' | head -c 50000 >"$src/text.txt"
: >"$src/empty.dat"
printf 'x' >"$src/one.txt"
printf 'サンプル' >"$src/日本語.txt"
touch -d '2020-05-06 07:08:09 UTC' "$src"/*

for directory in plain compressed scrambled compressed+scrambled; do
  for members in "" "--compress" "--scramble" "--compress --scramble"; do
    a=$work/a.fa2
    out=$work/out
    rm -rf "$out"
    check "pack $directory $members" "'$FA2' pack -o '$a' $members --directory $directory '$src'/* >/dev/null"
    check "verify $directory $members" "'$FA2' verify '$a' >/dev/null"
    check "extract $directory $members" "'$FA2' extract '$a' -C '$out'"
    check "same bytes $directory $members" "diff -r '$src' '$out'"
    check "times $directory $members" "[ \"\$(stat -c %Y '$out/text.txt')\" = \"\$(stat -c %Y '$src/text.txt')\" ]"
  done
done

a=$work/b.fa2
"$FA2" pack -o "$a" --compress --scramble --store one.txt "$src/noise.bin" "$src/text.txt" "$src/one.txt" "$src/日本語.txt" >/dev/null
list=$("$FA2" list "$a")
check "list names in order" "[ \"\$(cut -f1 <<<\"\$list\" | tr '\n' ' ')\" = 'noise.bin text.txt one.txt 日本語.txt ' ]"
check "list columns" "grep -qP '^text.txt\tyes\tyes\t50000\t[0-9]+\t2020-05-06 07:08:09\t[0-9a-f]{64}$' <<<\"\$list\""
check "list shows each member's SHA-256" "[ \"\$(grep -P '^one.txt\t' <<<\"\$list\" | cut -f7)\" = \"\$(sha256sum <'$src/one.txt' | cut -d' ' -f1)\" ]"
# A byte flipped in a member's stream that still decodes: only its digest tells.
cp "$a" "$work/flipped.fa2"
printf '\xff' | dd of="$work/flipped.fa2" bs=1 seek=$((16 + 70000 + 4)) conv=notrunc 2>/dev/null
check "verify catches a flipped byte in a plain member" "! '$FA2' verify '$work/flipped.fa2' 2>'$work/flipped.err' && grep -q 'does not match its SHA-256' '$work/flipped.err'"
check "verify says the digests matched" "'$FA2' verify '$a' | grep -q 'every SHA-256 matches'"
check "incompressible stored plain" "grep -qP '^noise.bin\tno\tyes\t70000\t70000\t' <<<\"\$list\""
check "store keeps a member plain" "grep -qP '^one.txt\tno\tno\t1\t1\t' <<<\"\$list\""
check "extract one by name, any case" "'$FA2' extract '$a' -C '$work/one' ONE.TXT && [ \"\$(ls '$work/one')\" = one.txt ]"

# Damage: cut short, directory offset beyond the end, a member's stream broken.
size=$(stat -c %s "$a")
head -c $((size - 7)) "$a" >"$work/cut.fa2"
check "verify refuses a cut archive" "! '$FA2' verify '$work/cut.fa2' 2>/dev/null"
cp "$a" "$work/bad.fa2"; printf '\xff\xff\xff\x7f' | dd of="$work/bad.fa2" bs=1 seek=8 conv=notrunc status=none
check "verify refuses a bad offset" "! '$FA2' verify '$work/bad.fa2' 2>/dev/null"
"$FA2" pack -o "$work/c.fa2" --compress --directory plain "$src/text.txt" >/dev/null
cp "$work/c.fa2" "$work/d.fa2"; printf '\x00\x00\x00\x00' | dd of="$work/d.fa2" bs=1 seek=16 conv=notrunc status=none
check "verify refuses a broken member stream" "out=\$('$FA2' verify '$work/d.fa2' 2>&1); [ \$? -eq 1 ] && grep -q 'compressed stream is damaged: it breaks off after [0-9]* of its 50000 bytes' <<<\"\$out\""
check "verify exit code 1 on damage" "'$FA2' verify '$work/d.fa2' 2>/dev/null; [ \$? -eq 1 ]"

# Help and errors.
for c in pack list extract verify; do
  check "help $c" "'$FA2' $c --help | grep -q '^usage: fa2 $c'"
done
check "top help" "'$FA2' --help | grep -q '^usage: fa2'"
check "unknown command" "! '$FA2' frobnicate 2>/dev/null"
check "pack without output" "! '$FA2' pack '$src/one.txt' 2>/dev/null"
check "pack missing file" "'$FA2' pack -o '$work/x.fa2' '$work/none' 2>&1 | grep -q 'cannot open'"
check "pack duplicate names" "mkdir -p '$work/dup' && cp '$src/one.txt' '$work/dup/ONE.TXT' && ! '$FA2' pack -o '$work/x.fa2' '$src/one.txt' '$work/dup/ONE.TXT' 2>/dev/null"
check "verify of a non-archive" "echo hello >'$work/h.txt'; ! '$FA2' verify '$work/h.txt' 2>/dev/null"

finish "fa2 command line"
