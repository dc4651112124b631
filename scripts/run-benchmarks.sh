#!/usr/bin/env bash
# `make bench`: runs every benchmark of one build folder; each prints its own figures and the
# machine it ran on. Needs no display: windows go to Qt's offscreen platform. A benchmark that
# fails does not stop the others; the script then ends with an error naming it.
set -uo pipefail
build_dir=${1:?usage: run-benchmarks.sh BUILD_DIR}
export QT_QPA_PLATFORM=offscreen
failed=()
for benchmark in "$build_dir"/bin/*_benchmark; do
  [[ -x "$benchmark" ]] || continue
  echo "== $(basename "$benchmark")"
  "$benchmark" || failed+=("$(basename "$benchmark")")
  echo
done
if [[ ${#failed[@]} -gt 0 ]]; then
  echo "make bench: these benchmarks failed (see their messages above): ${failed[*]}" >&2
  exit 1
fi
echo "Figures, aims and the method behind each: bench/README.md"
