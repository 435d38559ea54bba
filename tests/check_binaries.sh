#!/bin/sh
# Each DLL exports exactly DllCanUnloadNow @1 and DllGetClassObject @2 under its
# own name (quillshell.dll, quillshell-modern.dll), and no binary imports
# anything but system DLLs or carries a link time.
# usage: check_binaries.sh OBJDUMP quillshell.dll quillshell64reg.exe [quillshell-modern.dll]
objdump=$1 dll=$2 exe=$3 modern=${4:-}
fail=0
system='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|comctl32|msvcrt|version)\.dll$'
for bin in "$dll" "$exe" ${modern:+"$modern"}; do
  for name in $("$objdump" -p "$bin" | sed -n 's/^\s*DLL Name: //p'); do
    if ! echo "$name" | tr 'A-Z' 'a-z' | grep -Eq "$system"; then
      echo "FAIL: $(basename "$bin") imports $name"; fail=1
    fi
  done
done
# No link time in the headers: the same source gives the same bytes.
for bin in "$dll" "$exe" ${modern:+"$modern"}; do
  "$objdump" -p "$bin" | grep -Eq '^Time/Date\s+Thu Jan  1 00:00:00 1970$' ||
    { echo "FAIL: $(basename "$bin") carries a link time: $("$objdump" -p "$bin" | grep -m1 '^Time/Date')"; fail=1; }
done
for lib in "$dll" ${modern:+"$modern"}; do
  dump=$("$objdump" -p "$lib")
  # binutils lists each name with its ordinal minus the table's base: GNU ld
  # starts the table at ordinal 1, lld at 0 with slot 0 left empty.
  base=$(printf "%s\n" "$dump" | sed -n 's/^Ordinal Base\s*\([0-9]*\)$/\1/p')
  exports=$(printf "%s\n" "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[\s*\([0-9]*\)\] \(.*\)$/\1 \2/p' |
            while read -r index name; do echo "$((index + ${base:-0})) $name"; done | tr '\n' ';')
  [ "$exports" = "1 DllCanUnloadNow;2 DllGetClassObject;" ] || { echo "FAIL: $(basename "$lib") exports '$exports'"; fail=1; }
  entries=$(printf "%s\n" "$dump" | sed -n '/^Export Address Table -- Ordinal Base/,/^$/p' | grep -c 'Export RVA')
  [ "$entries" = 2 ] || { echo "FAIL: $(basename "$lib"): $entries exports, not two"; fail=1; }
  "$objdump" -p "$lib" | grep -Eq "^Name\s+[0-9a-f]+ $(basename "$lib" | sed 's/\./\\./g')\$" || { echo "FAIL: $(basename "$lib"): export directory name"; fail=1; }
done
[ $fail = 0 ] && echo "binaries OK: $(wc -c <"$dll") bytes DLL${modern:+, $(wc -c <"$modern") bytes modern DLL}, system imports only"
exit $fail
