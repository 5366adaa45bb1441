#!/bin/sh
# Installs the project into a temporary prefix, moves that prefix elsewhere
# and runs kestrune-sim from there: it must find the installed archive and
# scenarios relative to itself, not in the build tree.
# Usage: install_test.sh CMAKE BUILD_DIR WORK_DIR
set -eu
cmake=$1
build=$2
work=$3
rm -rf "$work"
mkdir -p "$work"
"$cmake" --install "$build" --prefix "$work/first" >"$work/install.log"
mv "$work/first" "$work/moved"
sim="$work/moved/bin/kestrune-sim"
test -f "$work/moved/share/kestrune/Kestrune.fmu"
test -f "$work/moved/share/kestrune/Kestrune-fmi3-scheduled.fmu"
test -f "$work/moved/share/doc/kestrune/README.md"
test -x "$work/moved/share/kestrune/cluster/sweep.sbatch"
test -f "$work/moved/share/kestrune/ssp/load_step.ssp"
test -f "$work/moved/share/kestrune/ssp/pair_scr5.ssp"
"$sim" --list-scenarios | grep -q '^pair_scr5 '
"$sim" --help | grep -q "with --interface scheduled: $work/moved/share/kestrune/Kestrune-fmi3-scheduled.fmu"
cd "$work"
"$sim" --scenario weak_scr5 --duration 0.01 --no-plot --output-dir out >run.log
grep -q "Scenario weak_scr5" run.log
grep -q "\"fmu\": \"$work/moved/share/kestrune/Kestrune.fmu\"" out/weak_scr5.json
# kestrune-sweep finds the installed sweeps and the FMI 3.0 archive.
"$work/moved/bin/kestrune-sweep" --help >sweep-help.txt
grep -q "$work/moved/share/kestrune/sweeps" sweep-help.txt
grep -q "$work/moved/share/kestrune/Kestrune-fmi3.fmu" sweep-help.txt
echo "installed, moved and ran from $work/moved"
