#!/usr/bin/env bash
# Photographs the control's face on the virtual screen and compares it with Image1's picture.
#
#   face-screenshot.sh LOADER PREFIX FACE_SITE PICTURE OUTPUT
#
# FACE_SITE shows the control and prints "ready X Y" once the face is on the screen; the 68 x 58
# pixels at X, Y are taken with ImageMagick's import into OUTPUT and must equal PICTURE. Run it
# on a display of its own (xvfb-run).
set -euo pipefail
loader=${1:?usage: face-screenshot.sh LOADER PREFIX FACE_SITE PICTURE OUTPUT}
export WINEPREFIX=${2:?the prefix}
site=${3:?the face site program}
picture=${4:?the picture}
output=${5:?where the photograph goes}
export WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
source "$(dirname "$0")/../loader-check.sh"
skip_unless_loader_runs "$loader"

work=$(mktemp -d)
site_pid=
finish() {
  exec 3>&- 2>/dev/null || true
  [[ -n $site_pid ]] && wait "$site_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT

# The site runs while this script holds its standard input open.
mkfifo "$work/input"
"$loader" "$site" <"$work/input" >"$work/output" 2>&1 &
site_pid=$!
exec 3>"$work/input"
for _ in $(seq 300); do
  grep -q '^ready ' "$work/output" && break
  kill -0 "$site_pid" 2>/dev/null || { cat "$work/output" >&2; exit 1; }
  sleep 0.1
done
read -r _ x y < <(grep '^ready ' "$work/output") || { echo "the face site did not get ready" >&2; exit 1; }

# The X server shows the window a moment after the program drew it: photographed until the face
# is there (5 s at most).
for _ in $(seq 50); do
  import -window root -crop "68x58+$x+$y" +repage "$output"
  difference=$(compare -metric AE "$output" "$picture" null: 2>&1) || true
  [[ $difference == 0 ]] && break
  sleep 0.1
done
echo "face at $x,$y: $difference pixels differ from $(basename "$picture")"
[[ $difference == 0 ]]
