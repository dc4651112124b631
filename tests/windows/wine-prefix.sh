#!/usr/bin/env bash
# The Wine prefix the Windows tests run in: made afresh at the start of each test run, so no
# registration or port setting of an earlier run can make a test pass; stopped at its end.
#
#   wine-prefix.sh create PREFIX COM1_DEVICE [--display]
#                                              a new 64-bit prefix whose COM1 is COM1_DEVICE;
#                                              COM2 to COM4 lead to no device. Its windows are
#                                              drawn nowhere, or with --display on the X display.
#   wine-prefix.sh stop PREFIX                 ends the prefix's wineserver and its programs
set -euo pipefail
action=${1:?usage: wine-prefix.sh create PREFIX COM1_DEVICE | stop PREFIX}
export WINEPREFIX=${2:?the prefix folder}
# No offer to install Wine's .NET and HTML engines, and no debug chatter in test logs.
export WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
wineserver=/usr/lib/wine/wineserver

case $action in
  create)
    com1=${3:?the device COM1 leads to}
    drawn=${4:-}
    "$wineserver" -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    WINEARCH=win64 /usr/lib/wine/wine64 wineboot -i
    # Wine maps COMn to the Unix device named by this value, and rewrites dosdevices/comn from
    # it when its server starts; so the server is restarted after setting it.
    /usr/lib/wine/wine64 reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$com1" /f
    # The other ports a user can choose must fail alike on every machine, whatever serial
    # devices it has.
    for n in 2 3 4; do
      /usr/lib/wine/wine64 reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ /d "$com1-no-com$n" /f
    done
    # Windows without a display: top-level windows and message boxes exist and can be found,
    # read and closed by the tests, but are drawn nowhere.
    if [[ $drawn != --display ]]; then
      /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f
    fi
    "$wineserver" -k
    "$wineserver" -w
    ;;
  stop)
    "$wineserver" -k 2>/dev/null || true
    ;;
  *)
    echo "wine-prefix.sh: unknown action '$action' (create or stop)" >&2
    exit 2
    ;;
esac
