#!/usr/bin/env bash
# Checks every tracked C++ file against .clang-format and names each one that does not follow it.
# With --fix it formats them in place instead (`make format`).
set -euo pipefail
cd "$(dirname "$0")/.."

formatter=${CLANG_FORMAT:-clang-format}
if ! command -v "$formatter" >/dev/null; then
  echo "check-style: $formatter not found; scripts/install-deps.sh installs it (Debian package clang-format)." >&2
  exit 2
fi

mapfile -t files < <(git ls-files '*.cpp' '*.h')

if [[ ${1:-} == --fix ]]; then
  printf '%s\0' "${files[@]}" | xargs -0 -r "$formatter" -i --style=file
  exit 0
fi

unformatted=()
for f in "${files[@]}"; do
  if ! "$formatter" --dry-run -Werror --style=file "$f" >/dev/null 2>&1; then
    unformatted+=("$f")
  fi
done

if [[ ${#unformatted[@]} -eq 0 ]]; then
  echo "check-style: all ${#files[@]} C++ files follow .clang-format"
  exit 0
fi
echo "check-style: ${#unformatted[@]} of ${#files[@]} C++ files do not follow .clang-format:" >&2
printf '  %s\n' "${unformatted[@]}" >&2
echo "Fix them with: make format   (then review and commit the changes)" >&2
exit 1
