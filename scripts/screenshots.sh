#!/usr/bin/env bash
# `make screenshots`: pictures of the windows for the documentation, taken on a virtual X
# display. Starts x10sim --window on a pseudo-terminal, switches and dims a few modules through
# the device the way the computer does (handshake and all), and captures the window into
# docs/screenshots/x10sim.png. When the program is built, it is started against the same virtual
# interface and both of its windows are captured too.
#
# Needs xvfb-run, import (ImageMagick), xdotool: scripts/install-deps.sh --with-display-tools.
set -euo pipefail
# Bytes stay bytes in the shell's reads and patterns.
export LC_ALL=C

usage="usage: screenshots.sh BUILD_DIR"
build_dir=$(cd "${1:?$usage}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$build_dir/bin"
out="$root/docs/screenshots"
source "$root/scripts/screenshot-functions.sh"

if [[ "${2:-}" != --on-virtual-display ]]; then
  require_display_tools
  [[ -x "$bin/x10sim" ]] || fail "$bin/x10sim is not built; run make build first"
  # The display's own fonts and settings must not leak in: always a fresh virtual screen.
  exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$build_dir" --on-virtual-display
fi

mkdir -p "$out"
work=$(mktemp -d)
started=()
cleanup() {
  exec 3>&- 2>/dev/null || true
  for pid in "${started[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

# Waits until a line equal to $2 is in the file $1 (10 s at most).
wait_for_line() {
  for _ in $(seq 1 100); do
    grep -qxF -- "$2" "$1" && return 0
    sleep 0.1
  done
  return 1
}

read_byte() {
  timeout 5 dd bs=1 count=1 status=none <&3 | od -An -tx1 | tr -d ' \n'
}

# One standard transmission (two hex bytes) with the handshake the computer performs.
transmit() {
  local header=$1 code=$2 echo ready
  printf "\\x$header\\x$code" >&3
  echo=$(read_byte)
  [[ "$echo" == "$(printf '%02x' $(((0x$header + 0x$code) & 0xFF)))" ]] ||
    fail "the interface echoed '$echo' to $header $code"
  printf '\x00' >&3
  ready=$(read_byte)
  [[ "$ready" == 55 ]] || fail "the interface answered '$ready' instead of 55 to $header $code"
}

link="$work/comm1"
sim_log="$work/x10sim.log"
"$bin/x10sim" --window --link "$link" >"$sim_log" 2>&1 &
started+=($!)
for _ in $(seq 1 100); do
  [[ -e "$link" ]] && break
  kill -0 "${started[0]}" 2>/dev/null || { cat "$sim_log" >&2; fail "x10sim ended at start"; }
  sleep 0.1
done
[[ -e "$link" ]] || fail "x10sim did not open its line within 10 s"
sim_window=$(window_named '^x10sim ')

exec 3<>"$link"
transmit 04 66   # A1
transmit 06 62   # A On
transmit 5e 64   # A Dim, 11 steps
transmit 06 c1   # P All Lights On
exec 3>&-
wait_for_line "$sim_log" "P16 on" || { cat "$sim_log" >&2; fail "x10sim did not report P16 on within 10 s"; }
capture "$sim_window" x10sim.png

if [[ ! -x "$bin/quenvarsample" || ! -x "$bin/quenvar-regsvr" || ! -e "$build_dir/lib/quenvar.ocx" ]]; then
  echo "screenshots: quenvarsample is not built in $build_dir; only x10sim.png was taken."
  exit 0
fi

export QUENVAR_REGISTRY="$build_dir/registry"
"$bin/quenvar-regsvr" "$build_dir/lib/quenvar.ocx" >/dev/null
# Without a window manager every window opens at the top left; the program's windows go beside
# the simulator's so that neither covers the other when captured.
xdotool windowmove "$sim_window" 0 0
QUENVAR_COMM1="$link" "$bin/quenvarsample" >"$work/quenvarsample.log" 2>&1 &
started+=($!)
port_window=$(window_named '^Communitcation Port$')
xdotool windowmove --sync "$port_window" 900 40
capture "$port_window" quenvarsample-port.png

# OK (Command1) keeps CommPort 1 and opens the controller window.
xdotool mousemove --window "$port_window" 96 192 click 1
controller_window=$(window_named '^X10 Controller$')
xdotool windowmove --sync "$controller_window" 900 300
capture "$controller_window" quenvarsample-controller.png
