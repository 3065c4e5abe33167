# The installed core catalog is not the base of its delta and the archive
# has no full member: refused before any file is written.
DELTA_CASE=changed
source "$FA2_ROOT/tests/e2e/scenarios/delta-update.sh"
