#!/usr/bin/env bash
# Authenticode signing with Debian's osslsigncode and a throwaway self-signed
# certificate made by openssl: a signed updater is read by list, verify and
# plan as the unsigned one; stamp and build on a signed stub or updater warn,
# drop the signature and give the bytes the unsigned input gives; the result
# signs and verifies again. (That a signed updater runs: the release test,
# under Wine.)
. "$(dirname "$0")/lib/checks.sh" "$1"
for tool in osslsigncode openssl; do
  command -v $tool >/dev/null || { echo "FAIL: $tool is not installed (scripts/setup.sh installs it)"; exit 1; }
done
cd "$work" || exit 1

openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj "/CN=Test Publisher" 2>/dev/null
sign() { # IN OUT
  osslsigncode sign -certs cert.pem -key key.pem -n "Sample update" -in "$1" -out "$2" >/dev/null &&
    osslsigncode verify -CAfile cert.pem "$2" >/dev/null
}
# A stub of its own (no resources), and one whose length is no multiple of 8,
# which the signing tool pads.
cp "$root/tests/fuzz/corpus/fuzz_fa2_input/stub32_no_resources" stub.exe
{ cat stub.exe; printf 'end'; } >odd.exe
time=(--time "2024-04-01 12:00:00")
"$FA2" pack -o update.fa2 --compress "${time[@]}" "$root"/examples/sample-update/* >/dev/null

for stub in stub.exe odd.exe; do
  "$FA2" build "$root/examples/sample-update" --stub "$stub" "${time[@]}" -o plain.exe >/dev/null
  check "$stub: the stub signs" "sign $stub signed-$stub"
  "$FA2" build "$root/examples/sample-update" --stub "signed-$stub" "${time[@]}" -o built.exe >/dev/null 2>build.err
  check "$stub: build on the signed stub warns once" \
    "[ \"\$(grep -c '^fa2: warning: signed-$stub carries an Authenticode signature.* built.exe must be signed again$' build.err)\" = 1 ]"
  check "$stub: build on the signed stub gives the unsigned stub's bytes" "cmp -s plain.exe built.exe"
  "$FA2" stamp "signed-$stub" update.fa2 -o stamped.exe >/dev/null 2>stamp.err
  "$FA2" stamp "$stub" update.fa2 -o stamped-plain.exe >/dev/null
  check "$stub: stamp on the signed stub warns and gives the unsigned stub's bytes" \
    "grep -q '^fa2: warning: signed-$stub' stamp.err && cmp -s stamped-plain.exe stamped.exe"
done

# The finished updater signed: read as before.
rm -f signed.exe
check "the updater signs" "sign plain.exe signed.exe"
check "list of the signed updater" "[ \"\$('$FA2' list signed.exe)\" = \"\$('$FA2' list plain.exe)\" ]"
check "verify of the signed updater" "'$FA2' verify signed.exe | grep -q ', every SHA-256 matches$'"
mkdir -p game save
cp "$root"/examples/sample-game/* game/
check "plan of the signed updater" "'$FA2' plan signed.exe --install game --data save | grep -q '^result: would run'"
# A signed updater as the stub of a new build: its archive replaced, the
# signature dropped, the result signs again.
"$FA2" stamp signed.exe update.fa2 -o again.exe >/dev/null 2>again.err
check "restamping a signed updater warns" "grep -q '^fa2: warning: signed.exe carries' again.err"
check "and its result signs again" "sign again.exe again-signed.exe && '$FA2' verify again-signed.exe >/dev/null"

finish "fa2 signing"
