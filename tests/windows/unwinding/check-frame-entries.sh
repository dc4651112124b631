#!/usr/bin/env bash
# Reads a 32-bit module's DWARF frame entries, by which its exceptions unwind. libgcc finds the
# entry of a frame by binary search over the entries sorted by start address, and an entry of
# zero length lying at an address another entry covers can hide that entry: an exception passing
# through that code then finds no frame and the program aborts. No such entry may be left.
set -euo pipefail
objdump=${1:?usage: check-frame-entries.sh OBJDUMP MODULE...}
shift
status=0
for module in "$@"; do
  "$objdump" --dwarf=frames "$module" 2>/dev/null | awk -v module="$(basename "$module")" '
    / FDE / && match($0, /pc=[0-9a-f]+\.\.[0-9a-f]+/) {
      split(substr($0, RSTART + 3, RLENGTH - 3), range, /\.\./)
      # Fixed-width hexadecimal: compared as texts, they order as the addresses do.
      start[++count] = "0x" range[1]; end[count] = "0x" range[2]
    }
    END {
      hidden = 0
      for (i = 1; i <= count; ++i) {
        if (start[i] != end[i]) continue
        for (j = 1; j <= count; ++j) {
          if (j != i && start[j] <= start[i] && start[i] < end[j]) {
            print module ": an empty frame entry at " start[i] " hides the one for " start[j] ".." end[j]
            hidden = 1
          }
        }
      }
      if (count == 0) { print module ": no frame entries read"; exit 1 }
      if (!hidden) print module ": " count " frame entries, none hidden by an empty one"
      exit hidden
    }' || status=1
done
exit $status
