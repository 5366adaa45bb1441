#!/bin/sh
# A Windows unit library exports exactly the functions listed in the given
# file (default: the 44 fmi2 functions) and imports only DLLs that every
# Windows has (no compiler runtime DLL beside it).
set -eu
dll=$1
list=${2:-$(dirname "$0")/fmi2_functions.txt}
objdump=x86_64-w64-mingw32-objdump
dump=$($objdump -p "$dll")
want=$(sort "$list")
count=$(echo "$want" | wc -l)
# The name pointer table: lines "\t[   n] name" after "[Ordinal/Name Pointer] Table".
have=$(echo "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] \(.*\)$/\1/p' | sort)
if [ "$want" != "$have" ]; then
  echo "exported names differ from the $count functions of $(basename "$list"):"
  echo "$have" > /tmp/kestrune-have.$$; echo "$want" > /tmp/kestrune-want.$$
  diff /tmp/kestrune-want.$$ /tmp/kestrune-have.$$ || true
  rm -f /tmp/kestrune-have.$$ /tmp/kestrune-want.$$
  exit 1
fi
imports=$(echo "$dump" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
for dll_name in $imports; do
  case $dll_name in
    kernel32.dll | msvcrt.dll) ;;
    *) echo "imports $dll_name, which not every Windows has"; exit 1 ;;
  esac
done
echo "$count functions of $(basename "$list") exported; imports: $(echo $imports)"
