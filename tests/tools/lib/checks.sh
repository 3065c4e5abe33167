# Sourced by the fa2 tool tests with the fa2 program as its argument: FA2
# (its absolute path), here (the tests' folder), root (the project), a work
# folder removed on exit (kept, and named, with KEEP=1), and
#   check NAME COMMAND   counts a failure when COMMAND (eval'ed) fails
#   finish WHAT          prints "WHAT: all checks passed" when none failed
#                        and exits with the number of failures
set -u
FA2=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=$(mktemp -d); [ -n "${KEEP:-}" ] && echo "work: $work"
trap 'chmod -R u+w "$work" 2>/dev/null; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
fails=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fails=$((fails + 1)); fi; }
finish() {
  [ $fails -eq 0 ] && echo "$1: all checks passed"
  exit $fails
}
