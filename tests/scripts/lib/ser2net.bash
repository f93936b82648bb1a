# ser2net in front of the simulator's pseudo-terminal, for the script tests that read a PBX over
# the network. Source it after sim.bash; it stops ser2net at exit as well.
#   start_ser2net raw|rfc2217 [PORT]  starts ser2net on 127.0.0.1 (a free port unless given)
#                                     in front of $WORK/pbx and sets NET_PORT to the port name
#                                     (socket://127.0.0.1:P or rfc2217://127.0.0.1:P), NET_TCP to P
#   stop_ser2net                      stops it (SIGTERM), or kill_ser2net (SIGKILL)
command -v ser2net >/dev/null || fail "ser2net is not installed (scripts/setup.sh installs it)"
S2N_PID=
NET_PORT=
NET_TCP=
stop_ser2net() {
  if [ -n "$S2N_PID" ]; then
    kill "$S2N_PID" 2>/dev/null
    # A ser2net that could not listen does not always end on SIGTERM.
    for _ in $(seq 60); do kill -0 "$S2N_PID" 2>/dev/null || break; sleep 0.05; done
    kill -KILL "$S2N_PID" 2>/dev/null
    wait "$S2N_PID" 2>/dev/null
  fi
  S2N_PID=
}
kill_ser2net() {
  if [ -n "$S2N_PID" ]; then kill -KILL "$S2N_PID" 2>/dev/null; wait "$S2N_PID" 2>/dev/null; fi
  S2N_PID=
}
trap 'stop_ser2net; cleanup' EXIT

# Whether something (with a second argument: that process) listens on TCP port $1.
listening() {
  local found
  found=$(ss -Hltnp "sport = :$1" 2>/dev/null)
  [ -n "$found" ] && { [ -z "${2:-}" ] || [[ $found == *"pid=$2,"* ]]; }
}

start_ser2net() {
  local mode=$1 port=${2:-} accepter tries
  stop_ser2net
  case $mode in
    raw) accepter=tcp ;;
    rfc2217) accepter='telnet(rfc2217),tcp' ;;
    *) fail "start_ser2net: no mode $mode" ;;
  esac
  for tries in $(seq 20); do
    if [ -z "${2:-}" ]; then
      port=$((20000 + RANDOM % 40000))
      listening "$port" && continue
    fi
    # The device is opened at each connection (and closed after it), so the simulator's
    # link may point to a new pseudo-terminal between connections.
    cat >"$WORK/ser2net.yaml" <<EOF
%YAML 1.1
---
connection: &pbx
  accepter: $accepter,127.0.0.1,$port
  connector: serialdev,$WORK/pbx,19200n82,local
  options:
    kickolduser: true
EOF
    ser2net -n -u -P "$WORK/ser2net.pid" -c "$WORK/ser2net.yaml" >>"$WORK/ser2net.log" 2>&1 &
    S2N_PID=$!
    for _ in $(seq 100); do
      if listening "$port" "$S2N_PID"; then
        NET_TCP=$port
        NET_PORT=$([ "$mode" = raw ] && echo socket || echo rfc2217)://127.0.0.1:$port
        return 0
      fi
      kill -0 "$S2N_PID" 2>/dev/null || break
      sleep 0.05
    done
    stop_ser2net
    [ -n "${2:-}" ] && break
  done
  fail "ser2net did not start ($mode, port ${port:-?}): $(tail -3 "$WORK/ser2net.log")"
}
