# The changed core catalog again, the update built with --keep-full: the full
# member replaces it, and the other catalog's delta is applied as before.
DELTA_CASE=full
source "$FA2_ROOT/tests/e2e/scenarios/delta-update.sh"
