#!/usr/bin/env bash
# The unit's dynamic symbol table holds exactly the 44 fmi2 functions.
set -euo pipefail
library=$1
want=$(sort "$(dirname "$0")/fmi2_functions.txt")
have=$(nm -D --defined-only "$library" | awk '$2 ~ /^[TtWwDdBbVvIi]$/ {print $3}' | sed 's/@.*//' | sort)
if [ "$want" != "$have" ]; then
  echo "dynamic symbols differ from the 44 fmi2 functions:"
  diff <(echo "$want") <(echo "$have") || true
  exit 1
fi
types=$(nm -D --defined-only "$library" | awk '{print $2}' | sort -u | tr -d '\n')
[ "$types" = "T" ] || { echo "exported symbols that are not functions: $types"; exit 1; }
echo "44 fmi2 functions exported, nothing else"
