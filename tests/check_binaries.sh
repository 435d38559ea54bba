#!/bin/sh
# Each DLL exports exactly DllCanUnloadNow @1 and DllGetClassObject @2 under its
# own name (quillshell.dll, quillshell-modern.dll), and no binary imports
# anything but system DLLs or carries a link time. The x64 quillshell.dll
# stays within its size goal, 200 KB (204,800 bytes).
# usage: check_binaries.sh OBJDUMP quillshell.dll quillshell64reg.exe [quillshell-modern.dll]
#        check_binaries.sh --machine x86|x64|arm64 quillshell.dll quillshell64reg.exe [quillshell-modern.dll]
# The second form reads the files with llvm-readobj-14 (binutils cannot read
# ARM64 ones) and checks the machine, the hardening and the resources too.
objdump=$1 dll=$2 exe=$3 modern=${4:-}
fail=0
system='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|comctl32|msvcrt|version)\.dll$'
if [ "$1" = --machine ]; then
  machine=$2 dll=$3 exe=$4 modern=${5:-}
  case $machine in
    x86) code=0x14C hardening="DYNAMIC_BASE NX_COMPAT" ;;
    x64) code=0x8664 hardening="DYNAMIC_BASE NX_COMPAT HIGH_ENTROPY_VA" ;;
    arm64) code=0xAA64 hardening="DYNAMIC_BASE NX_COMPAT HIGH_ENTROPY_VA" ;;
    *) echo "unknown machine $machine"; exit 2 ;;
  esac
  for bin in "$dll" "$exe" ${modern:+"$modern"}; do
    info=$(llvm-readobj-14 --file-headers --coff-imports --coff-resources "$bin") || { echo "FAIL: cannot read $bin"; exit 1; }
    b=$(basename "$bin")
    printf "%s\n" "$info" | grep -q "^  Machine: .*($code)$" ||
      { echo "FAIL: $b is $(printf "%s\n" "$info" | grep -m1 'Machine:'), not $machine"; fail=1; }
    printf "%s\n" "$info" | grep -q '^  TimeDateStamp: .*(0x0)$' || { echo "FAIL: $b carries a link time"; fail=1; }
    for flag in $hardening; do
      printf "%s\n" "$info" | grep -q "IMAGE_DLL_CHARACTERISTICS_$flag " || { echo "FAIL: $b lacks $flag"; fail=1; }
    done
    for name in $(printf "%s\n" "$info" | sed -n '/^Import {/,/^}/s/^  Name: //p'); do
      echo "$name" | tr 'A-Z' 'a-z' | grep -Eq "$system" || { echo "FAIL: $b imports $name"; fail=1; }
    done
    # RT_MANIFEST id 2 (the DLL's isolation manifest) or 1 (the tool's).
    want="MANIFEST"; [ "$bin" = "$exe" ] || want="BITMAP ICON STRINGTABLE GROUP_ICON VERSIONINFO MANIFEST"
    for type in $want; do
      printf "%s\n" "$info" | grep -q "^  Type: $type (" || { echo "FAIL: $b has no $type resource"; fail=1; }
    done
  done
  for lib in "$dll" ${modern:+"$modern"}; do
    b=$(basename "$lib")
    llvm-readobj-14 --file-headers --coff-resources "$lib" | sed -n '/Type: MANIFEST/,/Name: /p' | grep -q 'Name: (ID 2)' ||
      { echo "FAIL: $b's manifest is not resource 2"; fail=1; }
    # Exactly the two exports, by these ordinals, and no other entry in the
    # address table (from a .def, lld 14 adds an empty one at ordinal 0).
    table=$(llvm-readobj-14 --coff-exports "$lib")
    functions=$(printf "%s\n" "$table" | grep -c '^Export {')
    [ "$functions" = 2 ] || { echo "FAIL: $b: $functions entries in its export address table, not two"; fail=1; }
    exports=$(printf "%s\n" "$table" | sed -n 's/^  Ordinal: //p;s/^  Name: *//p' | paste -d' ' - - | tr '\n' ';')
    [ "$exports" = "1 DllCanUnloadNow;2 DllGetClassObject;" ] || { echo "FAIL: $b exports '$exports'"; fail=1; }
    llvm-objdump-14 -p "$lib" | grep -q "^ DLL name: $b\$" || { echo "FAIL: $b: export directory name"; fail=1; }
  done
  [ $fail = 0 ] && echo "binaries OK ($machine): $(wc -c <"$dll") bytes DLL, system imports only"
  exit $fail
fi
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
  # binutils lists each name with its ordinal minus the table's base (1; a
  # .def linked by lld 14 would give 0 and an empty slot 0).
  base=$(printf "%s\n" "$dump" | sed -n 's/^Ordinal Base\s*\([0-9]*\)$/\1/p')
  exports=$(printf "%s\n" "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[\s*\([0-9]*\)\] \(.*\)$/\1 \2/p' |
            while read -r index name; do echo "$((index + ${base:-0})) $name"; done | tr '\n' ';')
  [ "$exports" = "1 DllCanUnloadNow;2 DllGetClassObject;" ] || { echo "FAIL: $(basename "$lib") exports '$exports'"; fail=1; }
  entries=$(printf "%s\n" "$dump" | sed -n '/^Export Address Table -- Ordinal Base/,/^$/p' | grep -c 'Export RVA')
  [ "$entries" = 2 ] || { echo "FAIL: $(basename "$lib"): $entries exports, not two"; fail=1; }
  "$objdump" -p "$lib" | grep -Eq "^Name\s+[0-9a-f]+ $(basename "$lib" | sed 's/\./\\./g')\$" || { echo "FAIL: $(basename "$lib"): export directory name"; fail=1; }
done
size=$(wc -c <"$dll")
[ "$size" -le 204800 ] || { echo "FAIL: $(basename "$dll") is $size bytes, over its goal of 200 KB (204,800 bytes)"; fail=1; }
[ $fail = 0 ] && echo "binaries OK: $size bytes DLL (goal 204,800)${modern:+, $(wc -c <"$modern") bytes modern DLL}, system imports only"
exit $fail
