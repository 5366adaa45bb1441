#!/usr/bin/env bash
# A unit library's dynamic symbol table holds exactly the functions listed in
# the given file (default: the 44 fmi2 functions) and nothing else, and it
# needs no shared library beyond the C library (libc, its dynamic loader) and
# libm. A third argument prefixes the binutils of another target
# (aarch64-linux-gnu- for nm and readelf of that target).
set -euo pipefail
library=$1
list=${2:-$(dirname "$0")/fmi2_functions.txt}
tools=${3:-}
want=$(sort "$list")
count=$(echo "$want" | wc -l)
have=$("${tools}nm" -D --defined-only "$library" | awk '$2 ~ /^[TtWwDdBbVvIi]$/ {print $3}' | sed 's/@.*//' | sort)
if [ "$want" != "$have" ]; then
  echo "dynamic symbols differ from the $count functions of $(basename "$list"):"
  diff <(echo "$want") <(echo "$have") || true
  exit 1
fi
types=$("${tools}nm" -D --defined-only "$library" | awk '{print $2}' | sort -u | tr -d '\n')
[ "$types" = "T" ] || { echo "exported symbols that are not functions: $types"; exit 1; }
needed=$("${tools}readelf" -d "$library" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p' | sort | tr '\n' ' ')
for name in $needed; do
  case $name in
    libc.so.6 | libm.so.6 | ld-linux-*.so.*) ;;
    *) echo "needs $name beyond the C library and libm (needs: $needed)"; exit 1 ;;
  esac
done
echo "$count functions of $(basename "$list") exported, nothing else; needs $needed"
