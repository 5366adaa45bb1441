#!/usr/bin/env bash
# A unit library's dynamic symbol table holds exactly the functions listed in
# the given file (default: the 44 fmi2 functions) and nothing else.
# Options: --libc-only also requires that it needs no shared library beyond
# the C library (libc, its dynamic loader) and libm; --tools PREFIX reads a
# library of another target with that target's binutils (aarch64-linux-gnu-).
# Usage: check_exports.sh [--libc-only] [--tools PREFIX] LIBRARY [LIST]
set -euo pipefail
libc_only=0 tools=
while [ $# -gt 0 ]; do
  case $1 in
    --libc-only) libc_only=1; shift ;;
    --tools) tools=$2; shift 2 ;;
    *) break ;;
  esac
done
library=$1
list=${2:-$(dirname "$0")/fmi2_functions.txt}
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
echo "$count functions of $(basename "$list") exported, nothing else"
[ "$libc_only" = 1 ] || exit 0
needed=$("${tools}readelf" -d "$library" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p' | sort | tr '\n' ' ')
for name in $needed; do
  case $name in
    libc.so.6 | libm.so.6 | ld-linux-*.so.*) ;;
    *) echo "needs $name beyond the C library and libm (needs: $needed)"; exit 1 ;;
  esac
done
echo "needs only $needed"
