#!/usr/bin/env bash
# Reads quenvar.ocx's export and import tables: exactly the four entry points are exported
# under their plain names, and every imported library is one Windows itself provides (the C
# and C++ runtimes are linked in).
set -euo pipefail
objdump=${1:?usage: check-module-tables.sh OBJDUMP MODULE}
module=${2:?the module}
tables=$("$objdump" -p "$module")

exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$tables" | awk '/\[ *[0-9]+\]/ {print $NF}' | sort)
expected=$'DllCanUnloadNow\nDllGetClassObject\nDllRegisterServer\nDllUnregisterServer'
if [[ $exports != "$expected" ]]; then
  echo "exports are not exactly the four entry points:"; echo "$exports"; exit 1
fi

system_dlls=" ADVAPI32.dll KERNEL32.dll msvcrt.dll ole32.dll OLEAUT32.dll USER32.dll GDI32.dll "
status=0
while read -r dll; do
  if [[ $system_dlls != *" $dll "* ]]; then
    echo "imports $dll, which is not a library of Windows itself"; status=1
  fi
done < <(awk '/DLL Name:/ {print $3}' <<<"$tables")
[[ $status -eq 0 ]] && echo "exports: $(tr '\n' ' ' <<<"$exports"); imports only system libraries"
exit $status
