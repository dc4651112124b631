#!/usr/bin/env bash
# The Debian package and the installed program, without touching the machine:
#  1. `make package`'s CPack run builds the package into WORK; its contents and control data
#     are read with dpkg-deb;
#  2. the build is installed into a staging folder (DESTDIR) with the package's prefix, and the
#     package's own postinst registers the control there, system-wide (its paths led into the
#     staging folder);
#  3. the installed quenvarsample starts on a virtual display with an empty registry of its
#     user's, finds the control registered system-wide, opens CommPort 1 to x10sim and switches
#     A1 on when a user types A and 01 and clicks On; then the installed quenvar switches A2 on
#     and its manual page lists the exit codes;
#  4. the package's prerm unregisters the control again and its postrm leaves no registry.
#
#   package-test.sh BUILD_DIR WORK_DIR        (run again under xvfb-run by itself)
set -euo pipefail
export LC_ALL=C
build_dir=${1:?usage: package-test.sh BUILD_DIR WORK_DIR}
work=${2:?usage: package-test.sh BUILD_DIR WORK_DIR}

# Says what went wrong, with what the programs said; WORK is kept for a closer look.
fail() {
  for log in "$work"/quenvarsample.log "$work"/x10sim.log; do
    [[ -s $log ]] && { echo "--- $log" >&2; cat "$log" >&2; }
  done
  echo "package-test: $*" >&2
  exit 1
}

if [[ "${3:-}" != --on-virtual-display ]]; then
  rm -rf "$work"
  mkdir -p "$work"
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build_dir" "$work" --on-virtual-display
fi

# The windows go to the virtual display, whatever platform the test runner chose for Qt.
export QT_QPA_PLATFORM=xcb
started=()
cleanup() {
  for pid in "${started[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
}
trap cleanup EXIT

# Polls COMMAND until it succeeds, 60 s at most (a loaded machine); DESCRIPTION says what was
# awaited.
wait_until() {
  local description=$1
  shift
  for _ in $(seq 600); do
    "$@" && return 0
    sleep 0.1
  done
  fail "$description did not happen within 60 s"
}

expect_in() {
  local what=$1 pattern=$2 text=$3
  grep -qE -- "$pattern" <<<"$text" || fail "$what lacks '$pattern':"$'\n'"$text"
}

# 1. The package.
cpack --config "$build_dir/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "CPack could not build the package"; }
packages=("$work"/package/quenvar_*.deb)
[[ ${#packages[@]} -eq 1 && -f ${packages[0]} ]] || fail "CPack made no single quenvar_*.deb: ${packages[*]}"
deb=${packages[0]}

info=$(dpkg-deb --info "$deb")
expect_in "the control data" '^ Package: quenvar$' "$info"
expect_in "the control data" '^ Architecture: '"$(dpkg --print-architecture)"'$' "$info"
for library in libqt6widgets6 libqt6serialport6 libqt6core6 libc6 libstdc\\+\\+6; do
  expect_in "the dependencies" "^ Depends: .*\\b$library\\b" "$info"
done

# Exactly the installed files, root's, under /usr.
contents=$(dpkg-deb --contents "$deb")
libdir=$(sed -n 's|.* \./usr/\(lib.*\)/quenvar/quenvar\.ocx$|\1|p' <<<"$contents")
files=$(awk '$1 ~ /^-/ {print $6}' <<<"$contents" | sort)
expected=$(printf '%s\n' ./usr/bin/quenvar ./usr/bin/quenvar-mqtt ./usr/bin/quenvar-regsvr ./usr/bin/quenvarsample ./usr/bin/x10sim \
  "./usr/$libdir/quenvar/"{libquenvar_automation.so,libquenvar_headless.so,libquenvar_serial.so,libquenvar_ui.so,quenvar.ocx} \
  ./usr/lib/systemd/system/quenvar-mqtt.service ./usr/share/quenvar/quenvar-mqtt.toml \
  ./usr/share/applications/quenvarsample.desktop ./usr/share/icons/hicolor/scalable/apps/quenvarsample.svg \
  ./usr/share/man/man1/quenvar.1 ./usr/share/bash-completion/completions/quenvar | sort)
[[ $files == "$expected" ]] || fail "the package holds"$'\n'"$files"$'\n'"instead of"$'\n'"$expected"
not_roots=$(awk '$2 != "root/root"' <<<"$contents")
[[ -z $not_roots ]] || fail "the package holds files not root's:"$'\n'"$not_roots"

# The maintainer scripts are run below, in the staging folder.
mkdir -p "$work/control"
dpkg-deb --control "$deb" "$work/control"
for script in postinst prerm postrm; do
  [[ -x $work/control/$script ]] || fail "the maintainer script $script is missing or not executable"
done

# 2. A staged install, registered by the package's postinst with its paths led into the stage.
stage="$work/stage"
DESTDIR="$stage" cmake --install "$build_dir" --prefix /usr >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "cmake --install failed"; }
export QUENVAR_SYSTEM_REGISTRY="$stage/var/lib/quenvar/registry"
export QUENVAR_REGISTRY="$work/user-registry"
staged_script() {
  sed -e "s#/usr/#$stage/usr/#g" -e "s#/var/lib/quenvar#$stage/var/lib/quenvar#g" \
    -e "s#/etc/quenvar#$stage/etc/quenvar#g" "$work/control/$1" \
    >"$work/staged-$1"
  sh "$work/staged-$1" "$2"
}
staged_script postinst configure >"$work/postinst.log" 2>&1 || { cat "$work/postinst.log" >&2; fail "postinst failed"; }
record=$(grep -l '^ProgID=Zelvo.quenvar$' "$QUENVAR_SYSTEM_REGISTRY"/*.class 2>/dev/null) ||
  fail "postinst registered no Zelvo.quenvar in the system-wide registry $QUENVAR_SYSTEM_REGISTRY"
expect_in "the system-wide record" "^ModulePath=$stage/usr/$libdir/quenvar/quenvar\\.ocx$" "$(cat "$record")"
[[ ! -e $QUENVAR_REGISTRY ]] || fail "postinst wrote into the user's registry"
cmp -s "$stage/etc/quenvar/quenvar-mqtt.toml" "$stage/usr/share/quenvar/quenvar-mqtt.toml" ||
  fail "postinst did not put the MQTT bridge's default settings in /etc/quenvar"
echo '# mine' >>"$stage/etc/quenvar/quenvar-mqtt.toml"
staged_script postinst configure >>"$work/postinst.log" 2>&1 || fail "postinst failed the second time"
grep -q '^# mine$' "$stage/etc/quenvar/quenvar-mqtt.toml" || fail "postinst wrote over the user's MQTT bridge settings"

# 3. The installed program against x10sim: the port window, OK, then On A1 typed and clicked.
link="$work/comm1"
"$stage/usr/bin/x10sim" --link "$link" >"$work/x10sim.log" 2>&1 &
started+=($!)
wait_until "x10sim opening its line" test -e "$link"
export QUENVAR_COMM1="$link"
# In the sanitizer build: libxkbcommon-x11, which Qt's xcb platform calls at start, hands strndup
# names that do not end in a NUL, which strict_string_checks reports as reading beyond them.
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}strict_string_checks=0" \
  "$stage/usr/bin/quenvarsample" >"$work/quenvarsample.log" 2>&1 &
started+=($!)
program=$!

visible_window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
window_is_up() {
  kill -0 "$program" 2>/dev/null || fail "quenvarsample ended"
  [[ -n $(visible_window "$1") ]]
}
wait_until "the port selection window appearing" window_is_up '^Communitcation Port$'
port_window=$(visible_window '^Communitcation Port$')
# "OK" (64, 176, 65 x 33 in the window): CommPort 1 is chosen from the start.
xdotool mousemove --window "$port_window" 96 192 click 1
wait_until "the X10 Controller window appearing" window_is_up '^X10 Controller$'
controller=$(visible_window '^X10 Controller$')

# The form's places are below the menu bar: the window is 228 pixels high without it.
eval "$(xdotool getwindowgeometry --shell "$controller")"
menu=$((HEIGHT - 228))
xdotool windowfocus --sync "$controller"
xdotool mousemove --window "$controller" 136 $((menu + 30)) click 1 type --delay 50 A
xdotool mousemove --window "$controller" 288 $((menu + 30)) click 1 type --delay 50 01
xdotool mousemove --window "$controller" 48 $((menu + 72)) click 1
sim_reported() { grep -qxF -- "$1" "$work/x10sim.log"; }
wait_until "x10sim reporting A1 on" sim_reported "A1 on"
kill -0 "$program" 2>/dev/null || fail "quenvarsample ended"
# The installed command line waits its turn for the port the program holds open, so the program
# goes first; its manual page is the one written from its --help.
kill "$program"
wait "$program" 2>/dev/null || true
QUENVAR_LOCK_DIR="$work" "$stage/usr/bin/quenvar" on A2 >"$work/quenvar.log" 2>&1 ||
  { cat "$work/quenvar.log" >&2; fail "the installed quenvar did not switch A2 on"; }
wait_until "x10sim reporting A2 on" sim_reported "A2 on"
expect_in "the manual page" '^\.SH EXIT CODES$' "$(cat "$stage/usr/share/man/man1/quenvar.1")"
cleanup
started=()

# 4. Removal: prerm unregisters, postrm purges the emptied registry.
staged_script prerm remove >"$work/prerm.log" 2>&1 || { cat "$work/prerm.log" >&2; fail "prerm failed"; }
[[ -z $(ls -A "$QUENVAR_SYSTEM_REGISTRY") ]] || fail "prerm left records: $(ls -A "$QUENVAR_SYSTEM_REGISTRY")"
staged_script postrm purge >"$work/postrm.log" 2>&1 || { cat "$work/postrm.log" >&2; fail "postrm failed"; }
[[ ! -e $stage/var/lib/quenvar ]] || fail "postrm purge left $stage/var/lib/quenvar"
[[ ! -e $stage/etc/quenvar ]] || fail "postrm purge left $stage/etc/quenvar"

echo "package-test: $(basename "$deb") built, read, installed into a stage, started, switched A1 on and removed"
rm -rf "$work"
