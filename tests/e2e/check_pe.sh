#!/usr/bin/env bash
# Static check of a built updater executable, without running it:
#   - the machine (i386 or x86-64) and the GUI subsystem;
#   - imports only from KnownDLLs (libraries the system always loads from
#     its own folder, whatever lies beside the program), and none of the
#     operations that are bound at run time by name;
#   - the resources: the manifest (id 1) asking for administrator rights and
#     declaring Windows Vista to 10, the wizard templates 100 and 101 in
#     Japanese exactly as expected, and "UPDATE" 102 (absent in the stub).
#
# Usage: check_pe.sh --objdump OBJDUMP --windres WINDRES --machine i386|x86-64
#                    [--stub] EXE
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
objdump= windres= machine= stub=0 exe=
while (($#)); do
  case $1 in
    --objdump) objdump=$2; shift 2 ;;
    --windres) windres=$2; shift 2 ;;
    --machine) machine=$2; shift 2 ;;
    --stub) stub=1; shift ;;
    *) exe=$1; shift ;;
  esac
done
[[ -n $objdump && -n $windres && -n $machine && -f $exe ]] || {
  echo "usage: check_pe.sh --objdump X --windres X --machine i386|x86-64 [--stub] EXE" >&2
  exit 2
}

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$objdump" -p "$exe" >"$work/headers" || { echo "FAIL: objdump cannot read $exe"; exit 1; }
"$objdump" -f "$exe" >"$work/file" || exit 1

# ---- Machine and subsystem ----
case $machine in
  i386) want_format=pei-i386 want_magic='010b' ;;
  x86-64) want_format=pei-x86-64 want_magic='020b' ;;
  *) echo "unknown machine $machine" >&2; exit 2 ;;
esac
grep -q "file format $want_format\$" "$work/file" && grep -q "^Magic[[:space:]]*$want_magic" "$work/headers" &&
  pass "machine $machine" || fail "not a $machine executable: $(grep 'file format' "$work/file")"
grep -q "^Subsystem[[:space:]]*00000002[[:space:]]*(Windows GUI)" "$work/headers" &&
  pass "GUI subsystem" || fail "not the GUI subsystem: $(grep '^Subsystem' "$work/headers")"

# ---- Imports ----
# KnownDLLs on every Windows from Vista on. Any other library (bcrypt,
# version, comctl32, ...) is looked for in the program's folder first.
allowed='^(kernel32|user32|gdi32|advapi32|shell32|ole32|msvcrt)\.dll$'
mapfile -t dlls < <(sed -n 's/^[[:space:]]*DLL Name: //p' "$work/headers")
((${#dlls[@]})) || fail "no imports found"
for dll in "${dlls[@]}"; do
  if [[ ${dll,,} =~ $allowed ]]; then pass "imports $dll"; else fail "imports a library that is not a KnownDLL: $dll"; fi
done
# Functions named in the import table, as "DLL function" lines.
awk '/DLL Name:/ {dll = tolower($3)} dll && NF >= 3 && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ {print dll, $3}' \
  "$work/headers" >"$work/imports"
# The binding itself is imported; seeing it also proves the listing was read.
for name in LoadLibraryExW GetProcAddress; do
  grep -q "^kernel32.dll $name\$" "$work/imports" || fail "$name is not imported from KERNEL32"
done
# The operations the program binds by name itself. CloseHandle and
# RegCloseKey are left out: the C and thread runtimes may import those.
for name in CreateFileW WriteFile ReadFile GetFileSize SetFilePointer SetFileAttributesW \
  GetFileAttributesW SHFileOperationW RegOpenKeyExW RegQueryValueExW FindResourceW \
  SizeofResource LoadResource LockResource SetDefaultDllDirectories; do
  if grep -q " $name\$" "$work/imports"; then fail "$name is imported, not bound at run time"; fi
done
pass "bound operations are not imported"

# ---- Resources ----
# objdump's resource tree as "type/name/language" lines.
awk '
  function hex(s,   i, n) {
    n = 0
    for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789abcdef", tolower(substr(s, i, 1))) - 1
    return n
  }
  /Resource Directory section/ {on = 1; next}
  on && /Entry:/ {
    match($0, /^[0-9a-f]+ +/); depth = RLENGTH
    if ($0 ~ /Entry: name:/) { v = $0; sub(/.*\]: /, "", v); sub(/, Value.*/, "", v) }
    else { v = $0; sub(/.*ID: 0x/, "", v); sub(/, Value.*/, "", v); v = hex(v) }
    if (depth <= 6) type = v; else if (depth <= 8) name = v; else print type "/" name "/" v
  }
  on && /^$/ {on = 0}' "$work/headers" >"$work/resources"

has_resource() { grep -q "^$1/$2/" "$work/resources"; }
has_resource 24 1 && pass "manifest resource" || fail "no manifest (type 24, id 1)"
grep -q '^5/100/1041$' "$work/resources" && pass "dialog 100 (Japanese)" || fail "no Japanese dialog 100"
grep -q '^5/101/1041$' "$work/resources" && pass "dialog 101 (Japanese)" || fail "no Japanese dialog 101"
if ((stub)); then
  has_resource UPDATE 102 && fail "the stub carries an UPDATE 102 resource" || pass "no UPDATE resource (stub)"
else
  has_resource UPDATE 102 && pass "resource UPDATE 102" || fail "no resource UPDATE 102"
fi

# The resources as a script, wide strings decoded to UTF-8.
if "$windres" -i "$exe" -O rc -o "$work/resources.rc" 2>"$work/windres.err"; then
  perl -CO -pe 's/L"((?:[^"\\]|\\.)*)"/my $s = $1; $s =~ s{\\x([0-9a-fA-F]{4})}{chr(hex($1))}ge; "\"$s\""/ge' \
    "$work/resources.rc" >"$work/decoded.rc"
  # The two templates, comments and LANGUAGE lines aside.
  awk '/^10[01] DIALOGEX/ {on = 1} on && !/^\/\*/ && !/^ *$/ && !/^LANGUAGE/ {print} /^END/ {on = 0}' \
    "$work/decoded.rc" >"$work/dialogs.rc"
  if diff -u "$here/data/wizard-templates.rc" "$work/dialogs.rc" >"$work/dialogs.diff"; then
    pass "wizard templates match"
  else
    fail "wizard templates differ from the expected ones:"
    cat "$work/dialogs.diff"
  fi
else
  fail "windres cannot read the resources: $(cat "$work/windres.err")"
fi

# The manifest's text: its bytes are in the resource section as they are.
strings -a "$exe" >"$work/strings"
grep -q 'requestedExecutionLevel level="requireAdministrator" uiAccess="false"' "$work/strings" &&
  pass "manifest asks for administrator rights" || fail "manifest lacks requireAdministrator"
missing_os=0
for os in e2011457-1546-43c5-a5fe-008deee3d3f0 35138b9a-5d96-4fbd-8e2d-a2440225f93a \
  4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78 \
  8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
  grep -q "supportedOS Id=\"{$os}\"" "$work/strings" || { fail "manifest lacks supportedOS $os"; missing_os=1; }
done
((missing_os)) || pass "manifest declares Windows Vista, 7, 8, 8.1 and 10"

if ((failures)); then
  echo "$failures check(s) failed for $exe"
  exit 1
fi
echo "all checks passed for $exe"
