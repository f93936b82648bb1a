# Shared by the script tests that run kordel-cli against the pbxsim program. Source it after
# setting CLI and SIM; it makes WORK (removed at exit) and offers fail and start_sim.
WORK=$(mktemp -d)
SIM_PID=
cleanup() {
  if [ -n "$SIM_PID" ]; then kill "$SIM_PID" 2>/dev/null; wait "$SIM_PID" 2>/dev/null; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Starts the simulator with the given options (a running one is stopped first) and waits for
# its device link at $WORK/pbx. Records taken by the host go to $WORK/taken.txt.
start_sim() {
  if [ -n "$SIM_PID" ]; then kill "$SIM_PID" 2>/dev/null; wait "$SIM_PID" 2>/dev/null; fi
  rm -f "$WORK/pbx" "$WORK/taken.txt"
  "$SIM" --link "$WORK/pbx" --taken "$WORK/taken.txt" "$@" >/dev/null 2>&1 &
  SIM_PID=$!
  for _ in $(seq 100); do [ -e "$WORK/pbx" ] && return 0; sleep 0.05; done
  fail "the simulator did not start"
}
