#!/usr/bin/env bash
# A unit library's dynamic symbol table holds exactly the functions listed in
# the given file (default: the 44 fmi2 functions) and nothing else.
set -euo pipefail
library=$1
list=${2:-$(dirname "$0")/fmi2_functions.txt}
want=$(sort "$list")
count=$(echo "$want" | wc -l)
have=$(nm -D --defined-only "$library" | awk '$2 ~ /^[TtWwDdBbVvIi]$/ {print $3}' | sed 's/@.*//' | sort)
if [ "$want" != "$have" ]; then
  echo "dynamic symbols differ from the $count functions of $(basename "$list"):"
  diff <(echo "$want") <(echo "$have") || true
  exit 1
fi
types=$(nm -D --defined-only "$library" | awk '{print $2}' | sort -u | tr -d '\n')
[ "$types" = "T" ] || { echo "exported symbols that are not functions: $types"; exit 1; }
echo "$count functions of $(basename "$list") exported, nothing else"
