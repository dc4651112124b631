#!/usr/bin/env bash
# Runs every CTest test of one build folder. With --sanitize the sanitizers stop at the first
# report, so a finding fails the run instead of scrolling past.
set -euo pipefail
build_dir=${1:?usage: run-tests.sh BUILD_DIR [--sanitize]}
root=$(cd "$(dirname "$0")/.." && pwd)

# Windows are real but drawn offscreen unless a caller chose a platform.
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
if [[ "${2:-}" == "--sanitize" ]]; then
  export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
  export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" --timeout 120
