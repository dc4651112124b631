# Sourced by the scripts that start Windows programs under Wine.
#
# skip_unless_loader_runs LOADER: ends the script with 77 (CTest's skipped test) when this
# machine cannot run LOADER at all, because its kernel runs no programs of that architecture
# (some kernels and sandboxes run no 32-bit programs). Any other failure of the loader is left to
# fail the test.
skip_unless_loader_runs() {
  local loader=$1 check
  if ! check=$("$loader" --version 2>&1) && [[ $check == *"Exec format error"* ]]; then
    echo "skipped: this machine cannot run $loader ($(file -b "$(readlink -f "$loader")" | cut -d, -f1-2))," >&2
    echo "  because its kernel runs no programs of that architecture (Exec format error)." >&2
    echo "  The module is still built and its tables checked; run these tests on a machine that runs them." >&2
    exit 77
  fi
}
