#!/usr/bin/env bash
# cluster/sweep.sbatch under Slurm: a one-node cluster of this machine's own
# (munged, slurmctld and slurmd, their configuration, state, sockets and logs
# in a temporary folder, on loopback ports found free), the shipped batch
# script submitted with sbatch --wait over three tasks, with the ranks
# started by srun and by mpirun, and over one task of two CPUs; each table
# must equal the local one. srun tasks that are no MPI ranks are refused.
# Every daemon started here is stopped on the way out, failed or not.
# Exits 77 (skipped) when Slurm is not installed or its daemons cannot start.
# Usage: slurm_test.sh SWEEP FMU3 SCENARIO_DIR SBATCH_SCRIPT WORK
set -euo pipefail
sweep=$1 fmu3=$2 scenarios=$3 script=$4 work=$5

skip() {
  echo "skipped: $*"
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "not root (slurmd starts the jobs as their users)"
for tool in munged mungekey slurmctld slurmd sbatch srun sinfo squeue scancel; do
  command -v "$tool" >/dev/null || skip "no $tool (scripts/install-deps installs munge, slurmctld, slurmd, slurm-client)"
done

# Nothing of a Slurm job this test may itself run in leaks into its cluster.
while read -r name; do unset "$name"; done < <(env | sed -n 's/^\(SLURM_[A-Za-z0-9_]*\)=.*/\1/p')

rm -rf "$work"
mkdir -p "$work"
# Short paths: the daemons' sockets live here (a socket's path is limited to
# about 100 characters). Readable by all: munged insists on it.
cluster=$(mktemp -d /tmp/kestrune-slurm.XXXXXX)
chmod 755 "$cluster"
mkdir -p "$cluster/munge" "$cluster/state" "$cluster/spool" "$cluster/log" "$cluster/tmp"

daemons=()
stop() {
  status=$?
  trap - EXIT INT TERM
  if [ ${#daemons[@]} -gt 0 ]; then
    # Jobs first, while slurmctld is there to cancel them, until their step
    # daemons have gone (their sockets with them); then the daemons, last
    # started first, each given 10 s before it is killed.
    timeout 10 scancel --full --quiet --user="$(id -un)" >/dev/null 2>&1 || true
    for _ in $(seq 100); do
      [ -z "$(timeout 5 squeue -h 2>/dev/null)" ] && [ -z "$(find "$cluster/spool" -type s)" ] && break
      sleep 0.1
    done
    for ((i = ${#daemons[@]} - 1; i >= 0; i--)); do
      pid=${daemons[i]}
      kill "$pid" 2>/dev/null || continue
      for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -9 "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    done
  fi
  if [ "$status" -ne 0 ] && [ "$status" -ne 77 ]; then
    for log in "$cluster"/log/*.log; do
      [ -s "$log" ] && { echo "--- the end of $(basename "$log"):"; tail -n 15 "$log"; }
    done
  fi
  rm -rf "$cluster"
  exit "$status"
}
trap stop EXIT
trap 'exit 130' INT TERM

# free_port: sets port to a loopback port nobody listens on (and not
# handed out before), below the ephemeral range.
taken=" "
free_port() {
  for _ in $(seq 200); do
    port=$((20000 + RANDOM % 12000))
    case $taken in *" $port "*) continue ;; esac
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      taken="$taken$port "
      return
    fi
  done
  skip "no free loopback port found"
}
alive() { kill -0 "${daemons[-1]}" 2>/dev/null; }
# started SECONDS NAME LOG COMMAND...: skips unless COMMAND succeeds in time
# while the daemon just started is still running.
started() {
  local limit=$1 name=$2 log=$3
  shift 3
  for _ in $(seq $((limit * 10))); do
    "$@" >/dev/null 2>&1 && return 0
    alive || skip "$name does not start: $(tail -n 3 "$log" | tr '\n' ' ')"
    sleep 0.1
  done
  skip "$name is not ready after $limit s: $(tail -n 3 "$log" | tr '\n' ' ')"
}

# munge: a fresh key, a socket of its own, in the foreground of this script.
socket=$cluster/munge/socket
mungekey --create --keyfile="$cluster/munge/munge.key" 2>"$cluster/log/mungekey.log" ||
  skip "mungekey cannot make a key: $(cat "$cluster/log/mungekey.log")"
munged --foreground --socket="$socket" --key-file="$cluster/munge/munge.key" \
  --pid-file="$cluster/munge/munged.pid" --seed-file="$cluster/munge/seed" \
  --log-file="$cluster/log/munged.log" 2>>"$cluster/log/munged.log" &
daemons+=($!)
started 10 munged "$cluster/log/munged.log" sh -c "munge -n -S '$socket' | unmunge -S '$socket'"

free_port
ctld_port=$port
free_port
slurmd_port=$port
node=kestrune
host=$(uname -n)
cat >"$cluster/slurm.conf" <<EOF
ClusterName=kestrune-test
SlurmctldHost=${host%%.*}(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$socket
StateSaveLocation=$cluster/state
SlurmdSpoolDir=$cluster/spool
SlurmctldPidFile=$cluster/slurmctld.pid
SlurmdPidFile=$cluster/slurmd.pid
SlurmctldLogFile=$cluster/log/slurmctld.log
SlurmdLogFile=$cluster/log/slurmd.log
MailProg=/bin/true
# Job numbers of this cluster's own: Open MPI names the shared memory of a
# step's ranks after them, which another such cluster on this machine must
# not meet; the PMIx plugin's folders of a step go here, not in /tmp.
FirstJobId=$((1000 + ($$ * 100 + RANDOM) % 1000000))
TmpFS=$cluster/tmp
# No cgroups: process groups track a job's processes.
ProctrackType=proctrack/pgid
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
MpiDefault=none
ReturnToService=2
# Four CPUs on a machine of two: the node is as configured, not as detected.
SlurmdParameters=config_overrides
NodeName=$node NodeAddr=127.0.0.1 CPUs=4 State=UNKNOWN
PartitionName=test Nodes=$node Default=YES MaxTime=5 State=UP
EOF
export SLURM_CONF=$cluster/slurm.conf

slurmctld -D -i -f "$SLURM_CONF" >>"$cluster/log/slurmctld.log" 2>&1 &
daemons+=($!)
started 20 slurmctld "$cluster/log/slurmctld.log" timeout 5 sinfo
slurmd -D -N "$node" -f "$SLURM_CONF" >>"$cluster/log/slurmd.log" 2>&1 &
daemons+=($!)
started 30 slurmd "$cluster/log/slurmd.log" sh -c "timeout 5 sinfo -h -n $node -o %T | grep -qx idle"
echo "one-node cluster up: slurmctld on port $ctld_port, slurmd on $slurmd_port"

cd "$work"
cat >tiny.json <<'JSON'
{ "name": "tiny", "scenario": "startup500", "duration": 0.25, "set": { "grid.xOverR": 10 },
  "axes": [ { "key": "grid.scr", "values": [5, 3, 2.5] }, { "key": "loadPower", "values": [200e3, 400e3] } ] }
JSON
args=(tiny.json --fmu "$fmu3" --scenario-dir "$scenarios" --no-plot)
"$sweep" "${args[@]}" --jobs 1 --output-dir local >local.out 2>&1 || { echo "the local sweep failed:"; cat local.out; exit 1; }

# The job takes the program from the environment, which sbatch passes on,
# and keeps its temporary files in the cluster's folder. Root may run Open
# MPI's mpirun only with consent; one machine: shared memory between the
# ranks, no network.
export KESTRUNE_SWEEP=$sweep OMPI_MCA_btl=self,vader TMPDIR=$cluster/tmp
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1

# submit NAME EXPECTED sbatch-options...: the script over the tiny sweep; its
# output must say EXPECTED and its table equal the local one.
submit() {
  local name=$1 expected=$2
  shift 2
  timeout 90 sbatch --wait --quiet --time=3 --chdir="$work" --output="$work/$name.out" "$@" \
    "$script" "${args[@]}" --output-dir "$name" || {
    echo "sbatch $* failed:"
    cat "$name.out" 2>/dev/null || true
    exit 1
  }
  grep -q "$expected" "$name.out" || { echo "$name: no '$expected' in:"; cat "$name.out"; exit 1; }
  cmp local/tiny.csv "$name/tiny.csv" || { echo "$name: the tables differ"; diff local/tiny.csv "$name/tiny.csv" | head; exit 1; }
  echo "$name: sbatch $*: $expected, the local table"
}
submit srun 'on 3 ranks' --ntasks=3
export KESTRUNE_LAUNCH=mpirun
submit mpirun 'on 3 ranks' --ntasks=3
unset KESTRUNE_LAUNCH
submit threads 'on 2 threads' --ntasks=1 --cpus-per-task=2

# Tasks that are no MPI ranks would each write the whole table.
if timeout 60 srun --ntasks=2 --mpi=none --time=1 "$sweep" "${args[@]}" --output-dir none >none.out 2>&1; then
  echo "srun --mpi=none: two tasks ran the sweep:"
  cat none.out
  exit 1
fi
grep -q 'srun started 2 tasks that are not the ranks of one MPI job' none.out || { echo "srun --mpi=none:"; cat none.out; exit 1; }
[ ! -e none ] || { echo "srun --mpi=none wrote a table"; exit 1; }
echo "srun --mpi=none: refused"
