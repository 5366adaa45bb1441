#!/bin/sh
# kestrune-sweep's table is the same whoever runs the runs: one thread, two
# threads, two processes on the FMI 2.0 archive, an interrupted table
# resumed, and (mode mpi) three MPI ranks.
# Usage: sweep_test.sh local|mpi SWEEP FMU3 FMU2 SCENARIO_DIR WORK [MPIRUN]
set -eu
mode=$1 sweep=$2 fmu3=$3 fmu2=$4 scenarios=$5 work=$6 mpirun=${7:-}
rm -rf "$work"
mkdir -p "$work"
cd "$work"
cat >tiny.json <<'JSON'
{ "name": "tiny", "scenario": "startup500", "duration": 0.25, "set": { "grid.xOverR": 10 },
  "axes": [ { "key": "grid.scr", "values": [5, 3, 2.5] }, { "key": "loadPower", "values": [200e3, 400e3] } ] }
JSON
run() { # output-dir, options...
  dir=$1
  shift
  "$sweep" tiny.json --scenario-dir "$scenarios" --output-dir "$dir" "$@" >"$dir.out" 2>"$dir.err" || {
    echo "kestrune-sweep $* failed:"
    cat "$dir.out" "$dir.err"
    exit 1
  }
}
same() { # a b
  cmp "$1" "$2" || {
    echo "the tables differ: $1 $2"
    diff "$1" "$2" | head -20
    exit 1
  }
}

run one --fmu "$fmu3" --jobs 1 --no-plot
grep -q '^[0-9]*,5,200000,holds,' one/tiny.csv || { echo "SCR 5 does not hold:"; cat one/tiny.csv; exit 1; }
grep -q '^[0-9]*,3,200000,diverged,' one/tiny.csv || { echo "SCR 3 does not diverge:"; cat one/tiny.csv; exit 1; }

if [ "$mode" = mpi ]; then
  # Root in CI: Open MPI asks for consent; three ranks on two cores; this
  # machine only (no ssh needed to start them), shared memory between
  # them, no network.
  OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 \
    "$mpirun" -n 3 --oversubscribe --mca plm isolated --mca btl self,vader \
    "$sweep" tiny.json --fmu "$fmu3" --scenario-dir "$scenarios" --output-dir mpi --no-plot >mpi.out 2>mpi.err || {
    echo "mpirun -n 3 kestrune-sweep failed:"
    cat mpi.out mpi.err
    exit 1
  }
  grep -q 'on 3 ranks' mpi.out || { echo "not spread over 3 ranks:"; cat mpi.out; exit 1; }
  same one/tiny.csv mpi/tiny.csv
  echo "mpirun -n 3: the same table"

  # A rank killed: the job ends, the rows rank 0 wrote as they came stay,
  # and --resume under mpirun finishes the table.
  cat >many.json <<'JSON'
{ "name": "many", "scenario": "startup500", "duration": 0.02,
  "montecarlo": { "count": 400, "seed": 7,
                  "parameters": { "capacitance": { "distribution": "uniform", "min": 0.04, "max": 0.06 } } } }
JSON
  "$sweep" many.json --fmu "$fmu3" --scenario-dir "$scenarios" --output-dir whole --no-plot >whole.out 2>&1
  mpi() {
    OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 exec "$mpirun" -n 3 --oversubscribe \
      --mca plm isolated --mca btl self,vader \
      "$sweep" many.json --fmu "$fmu3" --scenario-dir "$scenarios" --output-dir killed --no-plot "$@"
  }
  (mpi >killed.out 2>&1) &
  pid=$!
  while [ "$(cat killed/many.csv 2>/dev/null | wc -l)" -lt 100 ] && kill -0 $pid 2>/dev/null; do sleep 0.002; done
  kill -9 "$(pgrep -P $pid | tail -n 1)" 2>/dev/null || true
  wait $pid || true
  (mpi --resume >resumed.out 2>&1) || { echo "mpirun --resume failed:"; cat resumed.out; exit 1; }
  same whole/many.csv killed/many.csv
  echo "a rank killed, the table resumed under mpirun: the same table"
  exit 0
fi

run two --fmu "$fmu3" --jobs 2
same one/tiny.csv two/tiny.csv
[ -s two/tiny.png ] && [ -s two/tiny.json ] || { echo "no plot or summary"; exit 1; }
grep -q 'Boundary along grid.scr' two.out || { echo "no boundary:"; cat two.out; exit 1; }

# The other two plots: a figure along one axis, a Monte Carlo histogram.
cat >line.json <<'JSON'
{ "name": "line", "scenario": "startup500", "duration": 0.2, "figure": "s0_peak_i",
  "axes": [ { "key": "loadPower", "from": 1e5, "to": 4e5, "count": 3, "spacing": "log" } ] }
JSON
cat >sample.json <<'JSON'
{ "name": "sample", "scenario": "startup500", "duration": 0.2,
  "montecarlo": { "count": 3, "seed": 5, "parameters": { "capacitance": { "distribution": "uniform", "min": 0.04, "max": 0.06 } } } }
JSON
for plot in line sample; do
  "$sweep" $plot.json --fmu "$fmu3" --scenario-dir "$scenarios" --output-dir plots >plots.out 2>plots.err || {
    echo "$plot failed:"
    cat plots.out plots.err
    exit 1
  }
  [ -s plots/$plot.png ] || { echo "no plot of $plot:"; cat plots.err; exit 1; }
done

run processes --fmu "$fmu2" --jobs 2 --no-plot
grep -q 'on 2 processes' processes.out || { echo "not on processes:"; cat processes.out; exit 1; }
same one/tiny.csv processes/tiny.csv

# An interrupted table: two whole rows and one cut short.
mkdir -p resumed
head -n 3 one/tiny.csv >resumed/tiny.csv
sed -n 4p one/tiny.csv | cut -c1-12 | tr -d '\n' >>resumed/tiny.csv
run resumed --fmu "$fmu3" --jobs 2 --no-plot --resume
grep -q '(2 from the earlier table)' resumed.out || { echo "did not resume:"; cat resumed.out; exit 1; }
same one/tiny.csv resumed/tiny.csv
echo "one thread, two threads, two processes, resumed: the same table"
