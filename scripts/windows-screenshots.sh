#!/usr/bin/env bash
# Pictures of the Windows program's two windows under Wine for the README, taken on a virtual X
# display: docs/screenshots/quenvarsample-windows-port.png and -controller.png.
#
#   windows-screenshots.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR
#
# Makes a Wine prefix of its own that draws windows (and their title bars), registers the
# control of WINDOWS_BUILD_DIR there, puts x10sim of LINUX_BUILD_DIR behind COM1 and starts the
# program. Needs xvfb-run, import (ImageMagick), xdotool: scripts/install-deps.sh --with-display-tools.
set -euo pipefail
usage="usage: windows-screenshots.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR"
linux_bin=$(cd "${1:?$usage}" && pwd)/bin
windows_bin=$(cd "${2:?$usage}" && pwd)/bin
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/docs/screenshots"
source "$root/scripts/screenshot-functions.sh"

if [[ "${3:-}" != --on-virtual-display ]]; then
  require_display_tools
  [[ -x "$linux_bin/x10sim" ]] || fail "$linux_bin/x10sim is not built; run make build first"
  [[ -f "$windows_bin/quenvarsample.exe" ]] || fail "$windows_bin/quenvarsample.exe is not built; run make build-windows first"
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$1" "$2" --on-virtual-display
fi

work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
sim_pid=
cleanup() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  [[ -n $sim_pid ]] && { kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT

"$root/tests/windows/wine-prefix.sh" create "$WINEPREFIX" "$work/com1" --display >/dev/null 2>&1
# Wine draws the title bars itself: there is no window manager on the virtual display.
/usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
/usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
"$linux_bin/x10sim" --link "$work/com1" >"$work/sim.log" 2>&1 </dev/null &
sim_pid=$!
/usr/lib/wine/wine64 regsvr32 /s "$windows_bin/quenvar.ocx"
/usr/lib/wine/wine64 "$windows_bin/quenvarsample.exe" >/dev/null 2>&1 &

mkdir -p "$out"
# Wine takes longer than the Qt program to show its windows and draw them.
port=$(window_named "^Communitcation Port$" 15)
capture "$port" quenvarsample-windows-port.png 1
# "OK" with "CommPort 1" selected, pressed with the mouse as a person would.
eval "$(xdotool getwindowgeometry --shell "$port")"
xdotool mousemove --sync $((X + WIDTH / 2 - 60)) $((Y + HEIGHT - 30)) click 1
controller=$(window_named "^X10 Controller$" 15)
capture "$controller" quenvarsample-windows-controller.png 1
