#!/bin/sh
# A unit archive holds exactly the description, the libraries and the
# documentation, and the unit's sources below sources/, under '/'-separated
# names without a leading folder. The library entries default to those of
# Kestrune.fmu; the Windows one is expected when the Windows library is built
# (windows = 1), and a sixth argument names one more library entry (the
# aarch64 one of the FMI 3.0 archive). Which sources, and that they build, is
# checked by build_from_sources.sh.
set -eu
cmake=$1 fmu=$2 windows=$3
linux_library=${4:-binaries/linux64/Kestrune_win64.so}
windows_library=${5:-binaries/win64/Kestrune_win64.dll}
extra_library=${6:-}
want="$linux_library
documentation/index.html
modelDescription.xml"
[ "$windows" = 1 ] && want="$want
$windows_library"
[ -n "$extra_library" ] && want="$want
$extra_library"
want=$(echo "$want" | sort)
entries=$("$cmake" -E tar tf "$fmu" | grep -v '/$' | sort)
have=$(echo "$entries" | grep -v '^sources/' || true)
if [ "$want" != "$have" ]; then
  printf 'archive entries besides sources/:\n%s\nexpected:\n%s\n' "$have" "$want"
  exit 1
fi
if ! echo "$entries" | grep -q '^sources/.*\.cpp$'; then
  echo "the archive has no sources/"
  exit 1
fi
if "$cmake" -E tar tf "$fmu" | grep -q -e '\\' -e '^/' -e '^\./'; then
  echo "an entry name has a backslash or a leading folder"
  exit 1
fi
echo "archive layout as expected, with $(echo "$entries" | grep -c '^sources/') files below sources/"
