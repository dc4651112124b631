#!/usr/bin/env bash
# Runs every benchmark of one build folder; each prints its own figures.
set -euo pipefail
build_dir=${1:?usage: run-benchmarks.sh BUILD_DIR}
for benchmark in "$build_dir"/bin/*_benchmark; do
  [[ -x "$benchmark" ]] || continue
  echo "== $(basename "$benchmark")"
  "$benchmark"
done
