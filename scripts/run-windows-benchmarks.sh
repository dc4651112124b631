#!/usr/bin/env bash
# `make bench-windows`: the Windows benchmarks of each Windows build folder, under Wine, in a
# prefix of their own (made afresh, stopped at the end): the command path in the benchmark's
# own process, then the registered quenvar.ocx on COM1 with the Linux build's x10sim behind it.
#
#   run-windows-benchmarks.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR...
set -uo pipefail
linux_build=${1:?usage: run-windows-benchmarks.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR...}
shift
scripts=$(cd "$(dirname "$0")/../tests/windows" && pwd)
x10sim=$(realpath "$linux_build/bin/x10sim")
failed=()
skipped=()

windows_path() { local path; path=$(realpath "$1"); path="Z:${path//\//\\}"; printf '%s' "$path"; }

for build in "$@"; do
  build=$(realpath "$build")
  # The loader of the build's architecture (the 32-bit one sees syswow64 as its system32).
  if grep -q 'i686-w64-mingw32' "$build/CMakeCache.txt"; then loader=/usr/lib/wine/wine; else loader=/usr/lib/wine/wine64; fi
  # A machine whose kernel runs no programs of this architecture skips its figures, saying why.
  if ! (source "$scripts/loader-check.sh" && skip_unless_loader_runs "$loader"); then
    skipped+=("$(basename "$build")")
    continue
  fi
  prefix=$build/wine/bench-prefix
  link=$build/wine/bench/com1
  mkdir -p "$(dirname "$link")"
  echo "== $(basename "$build"): a Wine prefix for the benchmarks"
  "$scripts/wine-prefix.sh" create "$prefix" "$link" >/dev/null 2>&1 || { failed+=("$(basename "$build") prefix"); continue; }
  # The prefix's server starts here and inherits this stream: it lists its objects there when
  # stopped, which says nothing about the benchmarks.
  "$scripts/run-in-wine.sh" "$loader" "$prefix" regsvr32 /s "$(windows_path "$build/bin/quenvar.ocx")" 2>/dev/null \
    || failed+=("$(basename "$build") regsvr32")
  for benchmark in com_command_path_benchmark wine_line_benchmark; do
    echo "== $(basename "$build")/$benchmark"
    simulator=()
    [[ $benchmark == wine_line_benchmark ]] && simulator=(--x10sim "$x10sim" "$link" --)
    QUENVAR_X10SIM_STAMPED=1 "$scripts/run-in-wine.sh" "$loader" "$prefix" "${simulator[@]}" "$build/bin/$benchmark.exe" \
      || failed+=("$(basename "$build")/$benchmark")
    echo
  done
  "$scripts/wine-prefix.sh" stop "$prefix" >/dev/null 2>&1
done
[[ ${#skipped[@]} -gt 0 ]] && echo "make bench-windows: skipped on this machine: ${skipped[*]}" >&2
if [[ ${#failed[@]} -gt 0 ]]; then
  echo "make bench-windows: these failed (see their messages above): ${failed[*]}" >&2
  exit 1
fi
echo "Figures, aims and the method behind each: bench/README.md"
