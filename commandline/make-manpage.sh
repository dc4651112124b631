#!/usr/bin/env bash
# Writes quenvar's manual page from its own --help and --version: the help is the one place the
# commands, options and exit codes are described.
set -euo pipefail
program=${1:?usage: make-manpage.sh PROGRAM OUTPUT}
output=${2:?usage: make-manpage.sh PROGRAM OUTPUT}
version=$("$program" --version)

# roff: backslashes and hyphens escaped, a line starting with a dot or quote kept as text.
escape() { sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"; }

{
  echo ".TH QUENVAR 1 \"\" \"$version\" \"User Commands\""
  echo ".SH NAME"
  echo "quenvar \\- switch and dim X10 power-line modules from a shell, and watch the power line"
  echo ".SH SYNOPSIS"
  echo ".B quenvar"
  echo "[\\fIoptions\\fR] \\fICOMMAND\\fR [\\fIARGUMENTS\\fR]"
  echo ".SH DESCRIPTION"
  "$program" --help | tail -n +2 | escape | awk '
    /^[A-Z][A-Za-z ]*:$/ { if (pre) print ".fi"; pre = 0; sub(/:$/, ""); print ".SH " toupper($0); next }
    /^  / { if (!pre) print ".nf"; pre = 1; print; next }
    /^$/ { if (pre) print ".fi"; pre = 0; print ".PP"; next }
    { if (pre) print ".fi"; pre = 0; print }
    END { if (pre) print ".fi" }'
  echo ".SH ENVIRONMENT"
  echo ".TP"
  echo ".B QUENVAR_COMM1 ... QUENVAR_COMM16"
  echo "The device of each serial port number."
  echo ".TP"
  echo ".B QUENVAR_BROKER"
  echo "The MQTT broker of the bridge to go through, as \\-\\-broker."
  echo ".TP"
  echo ".B QUENVAR_LOCK_DIR"
  echo "Where the ports' lock files are kept."
  echo ".SH SEE ALSO"
  echo ".BR quenvar-mqtt (1),"
  echo ".BR x10sim (1)"
} >"$output"
