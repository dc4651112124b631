#!/usr/bin/env bash
# `make run`: registers the control in a build-local registry, starts the virtual power-line
# interface on a pseudo-terminal (unless QUENVAR_COMM1 already names a device), maps CommPort 1
# to it and starts the program. When the program ends, the simulator is stopped.
set -euo pipefail
build_dir=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
bin="$build_dir/bin"

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && "${QT_QPA_PLATFORM:-}" != offscreen ]]; then
  echo "make run: no display to open the windows on (DISPLAY is not set); on a machine without a desktop run: xvfb-run make run" >&2
  exit 1
fi

if [[ ! -x "$bin/quenvarsample" ]]; then
  echo "make run: the program is not built yet; starting the virtual interface alone (Ctrl+C ends it)."
  exec "$bin/x10sim"
fi

export QUENVAR_REGISTRY="$build_dir/registry"
"$bin/quenvar-regsvr" "$build_dir/lib/quenvar.ocx"

sim_pid=""
cleanup() {
  if [[ -n "$sim_pid" ]] && kill -0 "$sim_pid" 2>/dev/null; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT INT TERM

if [[ -n "${QUENVAR_COMM1:-}" ]]; then
  echo "CommPort 1 is $QUENVAR_COMM1 (no simulator started)."
else
  link="$build_dir/run/comm1"
  mkdir -p "$(dirname "$link")"
  rm -f "$link"
  sim_args=(--link "$link")
  if "$bin/x10sim" --help 2>/dev/null | grep -q -- '--window'; then
    sim_args+=(--window)
  fi
  "$bin/x10sim" "${sim_args[@]}" &
  sim_pid=$!
  # The link appears once the pseudo-terminal is open.
  for _ in $(seq 1 100); do
    [[ -e "$link" ]] && break
    kill -0 "$sim_pid" 2>/dev/null || { echo "make run: the virtual interface x10sim failed to start" >&2; exit 1; }
    sleep 0.1
  done
  [[ -e "$link" ]] || { echo "make run: the virtual interface did not open its line within 10 s" >&2; exit 1; }
  export QUENVAR_COMM1="$link"
  echo "CommPort 1 is the virtual interface at $link."
fi

"$bin/quenvarsample"
