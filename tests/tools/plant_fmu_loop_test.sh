#!/bin/sh
# Every shipped scenario closed with the plant archive (--plant PLANT.fmu)
# gives the native plant's CSV bytes, JSON summary (apart from paths and
# timings) and figures tables, under either coupling; and at a longer step
# the same CSV and stop, for a run that diverges inside a step.
#   plant_fmu_loop_test.sh KESTRUNE-SIM UNIT.fmu PLANT.fmu SCENARIO-DIR WORK-DIR
set -u
sim=$1 unit=$2 plant=$3 scenarios=$4 work=$5
rm -rf "$work"
mkdir -p "$work"
failed=0

# What both plants must agree on: the JSON without the archives' paths, the
# outputs' paths and the wall time; the terminal summary without the wall
# time and the paths.
summary() {
  jq -S 'del(.run.fmu, .run.plant, .run.wallSeconds, .run.realTimeFactor, .outputs)' "$1"
}
table() {
  grep -v -e '^wall time' -e '^CSV ' -e '^JSON ' -e '^plant ' "$1"
}

# compare LABEL ARGS...: one run per plant, then every comparison.
compare() {
  label=$1
  shift
  for p in native "$plant"; do
    d="$work/$label/$(basename "$p" .fmu)"
    mkdir -p "$d"
    if ! "$sim" "$unit" --no-plot --output-dir "$d" --plant "$p" "$@" >"$d/out" 2>"$d/err"; then
      echo "$label: the run with --plant $p failed:"
      cat "$d/err"
      failed=1
      return
    fi
  done
  a="$work/$label/native" b="$work/$label/$(basename "$plant" .fmu)"
  csv=$(ls "$a"/*.csv)
  verdict=
  cmp -s "$csv" "$b/$(basename "$csv")" || verdict=" CSV"
  if [ "${figures:-yes}" = yes ]; then
    json=$(ls "$a"/*.json)
    summary "$json" >"$a/json" && summary "$b/$(basename "$json")" >"$b/json" || verdict="$verdict unreadable-JSON"
    cmp -s "$a/json" "$b/json" || verdict="$verdict JSON"
    table "$a/out" >"$a/table" && table "$b/out" >"$b/table"
    cmp -s "$a/table" "$b/table" || verdict="$verdict table"
  else
    grep '^STOPPED' "$a/out" >"$a/stop"
    grep '^STOPPED' "$b/out" >"$b/stop"
    { [ -s "$a/stop" ] && cmp -s "$a/stop" "$b/stop"; } || verdict="$verdict stop"
  fi
  if [ -z "$verdict" ]; then
    echo "$label: identical"
  else
    echo "$label: DIFFERENT:$verdict"
    failed=1
  fi
}

for file in "$scenarios"/*.json; do
  name=$(basename "$file" .json)
  for coupling in sequential jacobi; do
    compare "$name-$coupling" --scenario "$name" --coupling "$coupling"
  done
done
# Five base steps per communication step, where weak_scr3 diverges inside a
# step: the native figures see every base step, the archive's only the
# communication points, so only the CSV (rows at communication points) and
# the stop must agree.
for coupling in sequential jacobi; do
  figures=no compare "weak_scr3-$coupling-step2.5e-5" --scenario weak_scr3 --coupling $coupling --step 2.5e-5
done

[ $failed = 0 ] && rm -rf "$work"
exit $failed
