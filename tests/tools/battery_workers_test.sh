#!/bin/sh
# kestrune-battery's table is the same on one thread, on two, and on two
# processes (the FMI 2.0 archive), rows in run order; a bad battery file is
# refused with its file and place, exit status 2.
# Usage: battery_workers_test.sh KESTRUNE-BATTERY FMU3 FMU2 SCENARIO-DIR WORK-DIR
set -u
battery=$1 fmu3=$2 fmu2=$3 scenarios=$4 work=$5
rm -rf "$work" && mkdir -p "$work"
cat >"$work/workers.json" <<'JSON'
{"name": "workers", "scenario": "startup500", "duration": 0.5, "grids": ["stiff", 5, 3],
 "tests": [
  {"name": "sag", "events": [{"time": 0.3, "kind": "sag", "value": 0.8}, {"time": 0.4, "kind": "sag", "value": 1.0}]},
  {"name": "jump", "eventEnd": 0.35, "events": [{"time": 0.3, "kind": "phase_jump", "value": 20}]}]}
JSON
run() { # name fmu jobs
  "$battery" --no-plot --fmu "$2" --jobs "$3" --scenario-dir "$scenarios" --output-dir "$work/$1" \
    "$work/workers.json" >"$work/$1.log" 2>&1
  echo "$1: exit status $?"
}
run one "$fmu3" 1
run two "$fmu3" 2
run processes "$fmu2" 2
for table in two processes; do
  if ! cmp -s "$work/one/workers.csv" "$work/$table/workers.csv"; then
    echo "the table of $table differs from one thread's:"
    diff "$work/one/workers.csv" "$work/$table/workers.csv"
    exit 1
  fi
done
grep -c '' "$work/one/workers.csv"
grep '2 processes' "$work/processes.log"

echo '{"name": "bad", "tests": [{"name": "t", "events": [{"time": 0.3, "kind": "sag", "value": 0.8}], "grids": [0]}]}' \
  >"$work/bad.json"
"$battery" --scenario-dir "$scenarios" --output-dir "$work/bad" "$work/bad.json" 2>&1
echo "bad: exit status $?"
