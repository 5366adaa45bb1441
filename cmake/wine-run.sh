#!/bin/sh
# Runs a Windows program under wine64, quietly and without a display, in the
# wine prefix given as the first argument (created on first use).
set -e
prefix=$1
shift
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
mkdir -p "$prefix"
exec "$wine" "$@"
