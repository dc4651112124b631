#!/usr/bin/env bash
# Runs the libFuzzer targets of one build folder for a while each, at most JOBS at a time.
#
#   scripts/run-fuzz.sh BUILD_DIR SECONDS [TARGET...]     (default: every bin/fuzz_* target)
#
# Each target starts from its committed seeds in fuzz/corpus/<target>/ (and uses the words in
# fuzz/dictionaries/<target>.dict when there is one) and from what earlier
# runs found; new inputs go only to BUILD_DIR/fuzz/corpus/<target>/, never into the committed
# seeds. A crash, a broken rule, a leak or a hang fails the run and names the file that
# reproduces it (run the target with that file as its only argument to see it again).
set -euo pipefail
build_dir=${1:?usage: run-fuzz.sh BUILD_DIR SECONDS [TARGET...]}
seconds=${2:?usage: run-fuzz.sh BUILD_DIR SECONDS [TARGET...]}
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$(cd "$build_dir" && pwd)
jobs=${JOBS:-2}

targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  for binary in "$build_dir"/bin/fuzz_*; do
    [[ -x "$binary" ]] && targets+=("$(basename "$binary")")
  done
fi
if [[ ${#targets[@]} -eq 0 ]]; then
  echo "run-fuzz: no fuzz targets in $build_dir/bin; build them first (make build-fuzz)" >&2
  exit 1
fi

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

run_one() {
  local target=$1
  local binary="$build_dir/bin/$target"
  local seeds="$root/fuzz/corpus/$target"
  local work="$build_dir/fuzz/corpus/$target"
  local artifacts="$build_dir/fuzz/artifacts/$target"
  local log="$build_dir/fuzz/logs/$target.log"
  mkdir -p "$work" "$artifacts" "$(dirname "$log")"
  [[ -x "$binary" ]] || { echo "run-fuzz: $binary is missing" >&2; return 1; }
  local inputs=("$work")
  [[ -d "$seeds" ]] && inputs+=("$seeds")   # read only: new inputs go to the first folder
  local dictionary="$root/fuzz/dictionaries/$target.dict"
  [[ -f "$dictionary" ]] && inputs+=("-dict=$dictionary")
  # -timeout: an input that runs for more than 20 s is a hang, reported like a crash.
  "$binary" "${inputs[@]}" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" >"$log" 2>&1
}

summary() {
  local target=$1 status=$2
  local log="$build_dir/fuzz/logs/$target.log"
  local execs rate cov corpus
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1) || true
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1) || true
  cov=$( (grep -o 'cov: [0-9]*' "$log" || true) | tail -1 | cut -d' ' -f2)
  corpus=$( (grep -o 'corp: [0-9]*' "$log" || true) | tail -1 | cut -d' ' -f2)
  if [[ $status -eq 0 ]]; then
    printf '%-22s ok      %10s runs  %7s runs/s  coverage %6s  corpus %5s\n' \
        "$target" "${execs:-?}" "${rate:-?}" "${cov:-?}" "${corpus:-?}"
  else
    printf '%-22s FAILED  (exit %d), log %s\n' "$target" "$status" "$log"
    (grep -E 'rule broken|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:' "$log" || true) |
        head -5 | sed 's/^/    /'
    (grep -A1 'rule broken' "$log" || true) | tail -1 | sed 's/^/    /'
    local reproducer
    reproducer=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1) || true
    if [[ -n "$reproducer" ]]; then
      echo "    reproduce with: $build_dir/bin/$target $reproducer"
    fi
  fi
}

# Bash reads a script as it runs; inside a function the whole run is read before it starts.
main() {
  echo "Fuzzing ${#targets[@]} target(s) for ${seconds} s each, ${jobs} at a time (logs in $build_dir/fuzz/logs)"
  declare -A pids=()
  failed=0
  wait_for_one() {
    local finished status
    set +e
    wait -n -p finished "${!pids[@]}"
    status=$?
    set -e
    summary "${pids[$finished]}" "$status"
    [[ $status -eq 0 ]] || failed=1
    unset "pids[$finished]"
  }
  for target in "${targets[@]}"; do
    while [[ ${#pids[@]} -ge $jobs ]]; do wait_for_one; done
    run_one "$target" &
    pids[$!]=$target
  done
  while [[ ${#pids[@]} -gt 0 ]]; do wait_for_one; done
  exit $failed
}
main
