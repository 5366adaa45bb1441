#!/bin/sh
# The Linux and the Windows library produce the same gates, base step by base
# step, over one simulated second of a 600 V, 60 Hz grid with 500 V DC.
# Arguments: linux-recorder linux-library windows-recorder windows-library
#            work-folder wine-command...
set -eu
linux_recorder=$1 linux_library=$2 windows_recorder=$3 windows_library=$4 work=$5
shift 5
mkdir -p "$work"
"$linux_recorder" inputs "$work/inputs.bin" 1.0
"$linux_recorder" gates "$linux_library" "$work/inputs.bin" "$work/linux.gates"
"$@" "$windows_recorder" gates "$windows_library" "$work/inputs.bin" "$work/windows.gates"
"$linux_recorder" compare "$work/linux.gates" "$work/windows.gates"
