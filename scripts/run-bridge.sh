#!/usr/bin/env bash
# `make run-bridge`: a broker of its own (mosquitto on 127.0.0.1 and a free port), the virtual
# interface x10sim, and quenvar-mqtt between them with a lamp A1 and an appliance A2; prints the
# mosquitto_sub / mosquitto_pub lines to try. Ctrl+C stops all three.
set -euo pipefail
build_dir=$(cd "${1:?usage: run-bridge.sh BUILD_DIR}" && pwd)
bin="$build_dir/bin"
run="$build_dir/run-bridge"
mkdir -p "$run"

export QUENVAR_REGISTRY="$build_dir/registry"
"$bin/quenvar-regsvr" "$build_dir/lib/quenvar.ocx" >/dev/null

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT INT TERM

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > "$run/mosquitto.conf" <<CONF
listener $port 127.0.0.1
allow_anonymous true
persistence false
set_tcp_nodelay true
user $(id -un)
CONF
mosquitto -c "$run/mosquitto.conf" >"$run/mosquitto.log" 2>&1 &
pids+=($!)

link="$run/comm1"
rm -f "$link"
# x10sim reads its console commands (a remote control: "remote A1 off") from a named pipe that
# this script keeps open.
console="$run/x10sim-console"
rm -f "$console"
mkfifo "$console"
exec 3<>"$console"
"$bin/x10sim" --link "$link" --commands <&3 >"$run/x10sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do [[ -e "$link" ]] && break; sleep 0.1; done
[[ -e "$link" ]] || { echo "make run-bridge: x10sim did not open its line (see $run/x10sim.log)" >&2; exit 1; }

"$bin/quenvar-mqtt" --broker "mqtt://127.0.0.1:$port" --interface house --port "$link" \
  --module A1=lamp:Porch --module A2=appliance:Fan &
pids+=($!)

cat <<HELP

The bridge runs: broker mqtt://127.0.0.1:$port, interface "house" on x10sim ($link).
In another terminal:

  mosquitto_sub -h 127.0.0.1 -p $port -t 'quenvar/#' -v
  mosquitto_pub -h 127.0.0.1 -p $port -t quenvar/house/A1/set -m '{"state":"ON"}'
  mosquitto_pub -h 127.0.0.1 -p $port -t quenvar/house/A1/set -m '{"state":"ON","brightness":128}'
  mosquitto_pub -h 127.0.0.1 -p $port -t quenvar/house/A2/set -m '{"state":"ON"}'
  mosquitto_pub -h 127.0.0.1 -p $port -t quenvar/house/A/set -m '{"command":"all_units_off"}'
  mosquitto_sub -h 127.0.0.1 -p $port -t quenvar/house/A1/state -C 1 -v     # the retained state

A remote control on the line:  echo 'remote A1 off' > $console
x10sim's lines (frames on the line, module changes) are in $run/x10sim.log.
Ctrl+C stops the bridge, x10sim and the broker.
HELP
wait "${pids[-1]}"
