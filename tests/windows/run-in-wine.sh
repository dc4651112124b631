#!/usr/bin/env bash
# Runs one Windows program of the tests under Wine, optionally with x10sim behind COM1.
#
#   run-in-wine.sh LOADER PREFIX [--x10sim X10SIM LINK [X10SIM_OPTION...] --] PROGRAM [ARG...]
#
# LOADER is Wine's loader for the program's architecture: /usr/lib/wine/wine64 for 64-bit
# programs, /usr/lib/wine/wine for 32-bit ones (which then see syswow64 as their system32).
# With --x10sim, the simulator is started on a pty reached through LINK (the device the prefix
# maps COM1 to) with --wire, so its output records every byte in both directions; the program
# finds that output in the file named by QUENVAR_X10SIM_LOG, and can give the simulator its
# console commands (such as "disappear") by writing lines to the pipe named by
# QUENVAR_X10SIM_COMMANDS. With QUENVAR_X10SIM_STAMPED=1 in the environment each line of that
# record starts with the time it was written (seconds since the epoch, to the microsecond), for
# the benchmarks. The simulator is stopped when the program ends. The exit status is the
# program's, or 77 (a skipped test) when this machine cannot run the loader at all: some
# kernels and sandboxes run no 32-bit programs.
set -euo pipefail
loader=${1:?usage: run-in-wine.sh LOADER PREFIX [--x10sim X10SIM LINK [OPTION...] --] PROGRAM [ARG...]}
export WINEPREFIX=${2:?the prefix folder}
shift 2
export WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all

source "$(dirname "$0")/loader-check.sh"
skip_unless_loader_runs "$loader"

sim_pid=
stop_simulator() {
  if [[ -n $sim_pid ]]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
}
trap stop_simulator EXIT

if [[ ${1:-} == --x10sim ]]; then
  x10sim=${2:?the x10sim program}
  link=${3:?the link COM1 leads to}
  shift 3
  sim_options=()
  while [[ $# -gt 0 && $1 != -- ]]; do sim_options+=("$1"); shift; done
  [[ ${1:-} == -- ]] || { echo "run-in-wine.sh: --x10sim options must end with --" >&2; exit 2; }
  shift
  # Not "$link.log": to a Windows program any name "com1.<anything>" is the port COM1 itself.
  export QUENVAR_X10SIM_LOG="$(dirname "$link")/x10sim-wire.log"
  export QUENVAR_X10SIM_COMMANDS="$(dirname "$link")/x10sim-commands"
  rm -f "$QUENVAR_X10SIM_COMMANDS"
  mkfifo "$QUENVAR_X10SIM_COMMANDS"
  # Held open here for reading and writing: the simulator never sees its input end, and the
  # program's writes never wait for a reader.
  exec 3<>"$QUENVAR_X10SIM_COMMANDS"
  if [[ ${QUENVAR_X10SIM_STAMPED:-} == 1 ]]; then
    "$x10sim" --link "$link" --wire --commands "${sim_options[@]}" \
      > >(while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done >"$QUENVAR_X10SIM_LOG") 2>&1 <&3 &
  else
    "$x10sim" --link "$link" --wire --commands "${sim_options[@]}" >"$QUENVAR_X10SIM_LOG" 2>&1 <&3 &
  fi
  sim_pid=$!
  # The simulator's first line is its device path: from then on the link leads to the pty.
  for _ in $(seq 100); do
    [[ -s $QUENVAR_X10SIM_LOG ]] && break
    kill -0 "$sim_pid" 2>/dev/null || { cat "$QUENVAR_X10SIM_LOG" >&2; exit 1; }
    sleep 0.1
  done
  [[ -s $QUENVAR_X10SIM_LOG ]] || { echo "run-in-wine.sh: x10sim did not start" >&2; exit 1; }
fi

status=0
"$loader" "$@" 3>&- || status=$?
exit "$status"
