#!/bin/sh
# The shipped DLL exports exactly VEKExtender2 (@1) and VEKExtenderQuery (@2)
# and imports only system DLLs every Windows has; the optional libraries and
# the Toolhelp functions are resolved at run time. Neither binary may need a
# runtime DLL of the compiler.
objdump=$1 dll=$2 exe=$3
fail=0
say() { echo "$*"; fail=1; }

tables=$("$objdump" -p "$dll") || { echo "cannot read $dll"; exit 1; }

exports=$(printf '%s\n' "$tables" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -E '^\s+\[')
count=$(printf '%s\n' "$exports" | grep -c .)
[ "$count" = 2 ] || say "expected 2 exports, found $count: $exports"
printf '%s\n' "$tables" | grep -Eq '^\s*\[\s*0\] \+base\[\s*1\]' || say "no ordinal 1"
# The name table lists the names sorted; each name's ordinal is checked by
# its position in the ordinal table: VEKExtender2 -> 1, VEKExtenderQuery -> 2.
printf '%s\n' "$exports" | grep -Eq '^\s*\[\s*0\] VEKExtender2$' || say "VEKExtender2 missing"
printf '%s\n' "$exports" | grep -Eq '^\s*\[\s*1\] VEKExtenderQuery$' || say "VEKExtenderQuery missing"

dlls=$(printf '%s\n' "$tables" | sed -n 's/^\s*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u)
for d in $dlls; do
  case $d in
    KERNEL32.DLL|USER32.DLL|ADVAPI32.DLL|MSVCRT.DLL) ;;
    *) say "unexpected import: $d" ;;
  esac
done
# LoadLibraryA would find a library by its bare name through the search
# path, the host's folder first: system libraries come from the system folder.
for f in CreateToolhelp32Snapshot Process32First Process32Next Module32First Module32Next \
         SHGetFolderPathA EnumProcesses K32EnumProcesses GetProcessMemoryInfo LoadLibraryA; do
  printf '%s\n' "$tables" | grep -Eq "^\s+[0-9a-f]+\s+[0-9]+\s+$f$" && say "$f is imported"
done

exe_dlls=$("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'a-z' 'A-Z')
for d in $exe_dlls $dlls; do
  case $d in
    LIBSTDC++*|LIBGCC*|LIBWINPTHREAD*) say "needs a compiler runtime DLL: $d" ;;
  esac
done

[ $fail = 0 ] && echo "exports and imports as they must be"
exit $fail
