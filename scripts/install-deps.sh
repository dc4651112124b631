#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and `make run` need, when any is missing.
# Non-interactive; uses sudo when not run as root.
set -euo pipefail

packages=(g++ cmake ninja-build make pkg-config
          qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev
          libgtest-dev libgmock-dev
          clang libclang-rt-14-dev
          # `make format` and `make check-style`.
          clang-format
          fonts-dejavu-core
          # `make package` and its test: the package's library dependencies, the installed
          # program driven on a virtual display.
          dpkg-dev file xdotool
          # The test of the README's recipe for an interface on another machine: the serial
          # port served over TCP, and a pseudo-terminal made of the connection at the desk.
          ser2net socat
          # The MQTT bridge: its client library and config file reader; the broker and its
          # command-line clients for the tests and `make run-bridge`; openssl makes the test
          # broker's certificates; flock(1) plays another program holding a port.
          libmosquitto-dev libtomlplusplus-dev mosquitto mosquitto-clients openssl util-linux
          # The Windows build and its tests: cross compilers, widl, Wine for 64- and 32-bit programs.
          mingw-w64 wine64-tools libwine-dev wine64 wine32:i386
          # Wine needs a display for windows such as message boxes: a virtual one; the control's
          # face is photographed there with ImageMagick.
          xvfb xauth imagemagick)
# The screenshots' tools are all in the list above; --with-display-tools, which their targets
# pass, asks for nothing more.

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing packages: ${missing[*]}"
if [[ $(id -u) -eq 0 ]]; then sudo=(); else sudo=(sudo -n); fi
export DEBIAN_FRONTEND=noninteractive
# Wine's 32-bit half comes from the i386 architecture.
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
