#!/bin/sh
# The x86-64 Linux library and another platform's library (Windows under
# wine, aarch64 Linux under qemu) produce the same gates, base step by base
# step, over one simulated second of a 600 V, 60 Hz grid with 500 V DC. The
# inputs are computed once on this host and read by both.
# Arguments: [--fmi3] host-recorder host-library other-recorder other-library
#            work-folder emulator-command...
# --fmi3 drives both libraries through the FMI 3.0 functions.
set -eu
edition=
if [ "$1" = --fmi3 ]; then
  edition=--fmi3
  shift
fi
host_recorder=$1 host_library=$2 other_recorder=$3 other_library=$4 work=$5
shift 5
mkdir -p "$work"
"$host_recorder" inputs "$work/inputs.bin" 1.0
"$host_recorder" gates $edition "$host_library" "$work/inputs.bin" "$work/host.gates"
"$@" "$other_recorder" gates $edition "$other_library" "$work/inputs.bin" "$work/other.gates"
"$host_recorder" compare "$work/host.gates" "$work/other.gates"
