#!/bin/sh
# Kestrune.fmu holds exactly the description, the libraries and the
# documentation, under '/'-separated names without a leading folder.
set -eu
cmake=$1 fmu=$2 windows=$3
want="binaries/linux64/Kestrune_win64.so
documentation/index.html
modelDescription.xml"
[ "$windows" = 1 ] && want="$want
binaries/win64/Kestrune_win64.dll"
want=$(echo "$want" | sort)
have=$("$cmake" -E tar tf "$fmu" | grep -v '/$' | sort)
if [ "$want" != "$have" ]; then
  printf 'archive entries:\n%s\nexpected:\n%s\n' "$have" "$want"
  exit 1
fi
if "$cmake" -E tar tf "$fmu" | grep -q -e '\\' -e '^/' -e '^\./'; then
  echo "an entry name has a backslash or a leading folder"
  exit 1
fi
echo "archive layout as expected"
