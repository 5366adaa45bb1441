#!/bin/sh
# Interrupted with SIGINT or SIGTERM while running, kestrune-sim (on a
# shipped .ssp), kestrune-sweep and kestrune-battery (on worker processes)
# end with 130 or 143 and one line saying what was interrupted, leave their
# temporary folder empty and no partial file among their outputs; the
# sweep keeps the rows it wrote, and none of them says a worker was killed.
# Usage: interruption_test.sh SIM SSP SWEEP BATTERY FMU2 SCENARIO_DIR BATTERY_DIR WORK
set -eu
sim=$1 ssp=$2 sweep=$3 battery=$4 fmu2=$5 scenarios=$6 batteries=$7 work=$8
rm -rf "$work"
mkdir -p "$work"
cd "$work"
cat >many.json <<'JSON'
{ "name": "many", "scenario": "startup500", "duration": 0.05,
  "montecarlo": { "count": 3000, "seed": 7,
                  "parameters": { "capacitance": { "distribution": "uniform", "min": 0.04, "max": 0.06 } } } }
JSON

# The closed loop is paced to a tenth of real time, so that it is still
# running when the signal comes, however fast the build.
# interrupt NAME SIGNAL STATUS LINE COMMAND...: runs COMMAND with a
# temporary folder of its own, sends SIGNAL a second after the tool's first
# temporary folder appears, and checks what it leaves.
interrupt() {
  name=$1 signal=$2 status=$3 line=$4
  shift 4
  mkdir -p "$name/tmp" "$name/out"
  (cd "$name" && TMPDIR="$PWD/tmp" exec "$@" >out.txt 2>err.txt) &
  pid=$!
  tries=0
  until ls "$name/tmp" | grep -q '^kestrune-'; do
    tries=$((tries + 1))
    [ $tries -lt 1200 ] || { echo "$name: no temporary folder appeared"; cat "$name/err.txt"; exit 1; }
    sleep 0.05
  done
  sleep 1
  kill -"$signal" $pid
  got=0
  wait $pid || got=$?
  [ "$got" = "$status" ] || { echo "$name: exit status $got, not $status"; cat "$name/err.txt"; exit 1; }
  [ "$(grep -c 'interrupted' "$name/err.txt")" = 1 ] && grep -qx "$line" "$name/err.txt" || {
    echo "$name: not the one line '$line':"
    cat "$name/err.txt"
    exit 1
  }
  [ -z "$(ls -A "$name/tmp")" ] || { echo "$name: temporaries left:"; ls -la "$name/tmp"; exit 1; }
  [ -z "$(find "$name/out" -name '*.partial')" ] || { echo "$name: partial files left:"; find "$name/out"; exit 1; }
  echo "$name: $signal ends it with $status, nothing left behind"
}

removed='; its temporary files are removed'
interrupt sim-int INT 130 "kestrune-sim: interrupted (SIGINT) while running ${ssp##*/}$removed" \
  "$sim" "$ssp" --output-dir out --no-plot --real-time 0.1
interrupt sim-term TERM 143 "kestrune-sim: interrupted (SIGTERM) while running ${ssp##*/}$removed" \
  "$sim" "$ssp" --output-dir out --no-plot --real-time 0.1
interrupt sweep TERM 143 "kestrune-sweep: interrupted (SIGTERM) while running the sweep many.json$removed" \
  "$sweep" ../many.json --scenario-dir "$scenarios" --fmu "$fmu2" --output-dir out --jobs 2 --no-plot
[ "$(wc -l <sweep/out/many.csv)" -gt 1 ] && ! grep -q ',failed,' sweep/out/many.csv || {
  echo "the interrupted sweep's table lost its rows or blames the workers:"
  head -3 sweep/out/many.csv
  grep ',failed,' sweep/out/many.csv | head -3
  exit 1
}
interrupt battery INT 130 "kestrune-battery: interrupted (SIGINT) while running the battery ride_through$removed" \
  "$battery" ride_through --battery-dir "$batteries" --scenario-dir "$scenarios" --fmu "$fmu2" \
  --output-dir out --jobs 2 --no-plot
