# Functions the screenshot scripts share (sourced, not run): messages, the tools they need, and
# finding a window on the virtual display by its title and capturing it into "$out" (the
# folder of the pictures, set by the script).

fail() {
  echo "$(basename "$0" .sh): $*" >&2
  exit 1
}

require_display_tools() {
  local tool
  for tool in xvfb-run import xdotool; do
    command -v "$tool" >/dev/null || fail "$tool is not installed; run scripts/install-deps.sh --with-display-tools"
  done
}

# The id of the first visible window whose title matches the pattern, once it is on screen
# (within SECONDS, 10 unless given).
window_named() {
  local title=$1 seconds=${2:-10} id=""
  for _ in $(seq 1 $((seconds * 10))); do
    id=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | head -n 1 || true)
    [[ -n "$id" ]] && break
    sleep 0.1
  done
  [[ -n "$id" ]] || fail "no window titled '$title' appeared within $seconds s"
  echo "$id"
}

# Captures the window into "$out/FILE" after SETTLE seconds (0.5 unless given): a window is
# drawn after the event that changed it, and the X server needs a moment to catch up.
capture() {
  local id=$1 file=$2 settle=${3:-0.5}
  sleep "$settle"
  import -window "$id" "$out/$file"
  echo "$(basename "$0" .sh): wrote docs/screenshots/$file"
}
