#!/bin/sh
# kestrune-sweep loses nothing when stopped hard: killed (SIGKILL) at several
# points, on threads and on processes, or stopped by a disk that fills, then
# run again with --resume, its table is byte for byte that of a sweep never
# stopped.
# Usage: sweep_kill_test.sh SWEEP FMU3 FMU2 SCENARIO_DIR WORK FMU3_LIBRARY
set -eu
sweep=$1 fmu3=$2 fmu2=$3 scenarios=$4 work=$5 library=$6
rm -rf "$work"
mkdir -p "$work"
cd "$work"
cat >many.json <<'JSON'
{ "name": "many", "scenario": "startup500", "duration": 0.002,
  "montecarlo": { "count": 3000, "seed": 7,
                  "parameters": { "capacitance": { "distribution": "uniform", "min": 0.04, "max": 0.06 } } } }
JSON
sweep() { # fmu output-dir options...
  fmu=$1 dir=$2
  shift 2
  "$sweep" many.json --scenario-dir "$scenarios" --fmu "$fmu" --output-dir "$dir" --jobs 2 --no-plot "$@"
}
rows() { if [ -f "$1" ]; then wc -l <"$1"; else echo 0; fi; }
same() {
  cmp "$1" "$2" || { echo "$3: the tables differ"; diff "$1" "$2" | head -5; exit 1; }
}

sweep "$fmu3" whole >whole.out 2>&1 || { echo "the whole sweep failed:"; cat whole.out; exit 1; }

# Killed as it starts, with the header alone, after one row and further on;
# each time the next one resumes the table.
for fmu in "$fmu3" "$fmu2"; do
  rm -rf killed
  for lines in 0 1 2 600 1500 2400; do
    # exec: $! is then the sweep's own process, not a subshell's.
    (exec "$sweep" many.json --scenario-dir "$scenarios" --fmu "$fmu" --output-dir killed --jobs 2 --no-plot \
      --resume >killed.out 2>&1) &
    pid=$!
    while [ "$(rows killed/many.csv)" -lt "$lines" ] && kill -0 $pid 2>/dev/null; do
      sleep 0.002
    done
    kill -9 $pid 2>/dev/null || true
    wait $pid || true
  done
  sweep "$fmu" killed --resume >killed.out 2>&1 || { echo "resuming failed:"; cat killed.out; exit 1; }
  same whole/many.csv killed/many.csv "killed and resumed ($fmu)"
done
echo "killed at six points and resumed: the same table"

# A worker process killed in the middle of a run: that run's row says so,
# with every column of the table, and every other row is the whole table's.
(exec "$sweep" many.json --scenario-dir "$scenarios" --fmu "$fmu2" --output-dir dead --jobs 2 --no-plot \
  >dead.out 2>&1) &
pid=$!
while [ "$(rows dead/many.csv)" -lt 300 ]; do sleep 0.002; done
kill -9 "$(pgrep -P $pid | head -n 1)"
wait $pid || { echo "the sweep did not survive its worker:"; cat dead.out; exit 1; }
grep ',failed,' dead/many.csv >dead.row
grep -q '^[0-9]*,[^,]*,failed,.*"the worker process running it ended by signal 9 (Killed)"$' dead.row || {
  echo "no row of the killed run:"
  cat dead.row
  exit 1
}
commas() { sed 's/,"[^"]*"$//' | tr -cd ',\n' | awk '{ print length }'; }
[ "$(commas <dead.row)" = "$(head -n 1 whole/many.csv | sed 's/,reason$//' | commas)" ] || {
  echo "the killed run's row has other columns than the table"
  exit 1
}
grep -v ',failed,' dead/many.csv >dead.rest
grep -v "^$(cut -d, -f1 dead.row)," whole/many.csv >whole.rest
same whole.rest dead.rest "the rows beside a killed worker's"
echo "a worker killed in a run: its row says so, the others are the whole table's"

# A disk that fills: writes beyond a file size limit fail as on a full
# disk. The limit lies halfway between the unpacked archive's largest file,
# its library (much larger built with the sanitizers), and the whole table
# of 40,000 short runs: the archive unpacks, the table fills.
cat >full.json <<'JSON'
{ "name": "full", "scenario": "startup500", "duration": 0.0001,
  "montecarlo": { "count": 40000, "seed": 3,
                  "parameters": { "capacitance": { "distribution": "uniform", "min": 0.04, "max": 0.06 } } } }
JSON
full() { # output-dir options...
  dir=$1
  shift
  "$sweep" full.json --scenario-dir "$scenarios" --fmu "$fmu3" --output-dir "$dir" --jobs 2 --no-plot "$@"
}
full whole >whole.out 2>&1 || { echo "the whole sweep failed:"; cat whole.out; exit 1; }
library_bytes=$(wc -c <"$library")
table_bytes=$(wc -c <whole/full.csv)
if [ "$table_bytes" -le $((library_bytes + 131072)) ]; then
  echo "the table ($table_bytes bytes) is too short beside the library ($library_bytes bytes) to fill a limit between them"
  exit 1
fi
limit_blocks=$(((library_bytes + table_bytes) / 2 / 512))
if (ulimit -f "$limit_blocks" && trap '' XFSZ && full full >full.out 2>&1); then
  echo "a full disk went unnoticed:"
  cat full.out
  exit 1
fi
grep -q 'writing the table full/full.csv failed: .*run again with --resume' full.out || {
  echo "no clear message:"
  cat full.out
  exit 1
}
full full --resume >full.out 2>&1 || { echo "resuming failed:"; cat full.out; exit 1; }
same whole/full.csv full/full.csv "stopped by a full disk and resumed"

touch file
if sweep "$fmu3" file/maps >folder.out 2>&1 || ! grep -q 'cannot create the output folder file/maps: ' folder.out; then
  echo "an output folder that cannot be made:"
  cat folder.out
  exit 1
fi
echo "a full disk and a folder that cannot be made: clear messages, the table resumed"
