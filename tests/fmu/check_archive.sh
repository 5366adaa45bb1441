#!/bin/sh
# A unit archive holds exactly the description, the libraries and the
# documentation, under '/'-separated names without a leading folder. The
# library entries default to those of Kestrune.fmu; the Windows one is
# expected when the Windows library is built (windows = 1).
set -eu
cmake=$1 fmu=$2 windows=$3
linux_library=${4:-binaries/linux64/Kestrune_win64.so}
windows_library=${5:-binaries/win64/Kestrune_win64.dll}
want="$linux_library
documentation/index.html
modelDescription.xml"
[ "$windows" = 1 ] && want="$want
$windows_library"
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
