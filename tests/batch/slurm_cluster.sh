# A single-node Slurm cluster on localhost, in a folder of its own: munged,
# slurmctld and slurmd started as root without systemd, and stopped by their
# PID files. Sourced by the batch tests:
#   slurm_start DIR    starts it; exports SLURM_CONF; fails after 30 s
#   slurm_stop DIR     stops whatever of it runs (safe to call twice, in a trap)
# The process tracking and task plugins are the plain ones: with the usual
# cgroup plugins every job fails in a sandbox, yet Slurm says it COMPLETED.

free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

slurm_start() {
  local d=$1 host ctl_port node_port i
  host=$(hostname -s)
  mkdir -p "$d/munge" "$d/state" "$d/spool" "$d/log"
  chmod 0711 "$d/munge"
  dd if=/dev/urandom of="$d/munge/munge.key" bs=1024 count=1 status=none
  chmod 0400 "$d/munge/munge.key"
  munged --socket="$d/munge/munge.socket" --key-file="$d/munge/munge.key" --pid-file="$d/munge/munged.pid" \
    --log-file="$d/log/munged.log" --seed-file="$d/munge/munged.seed" --force
  ctl_port=$(free_port)
  node_port=$(free_port)
  while [ "$node_port" = "$ctl_port" ]; do node_port=$(free_port); done
  cat >"$d/slurm.conf" <<CONF
ClusterName=velvane-test
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctl_port
SlurmdPort=$node_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$d/munge/munge.socket
StateSaveLocation=$d/state
SlurmdSpoolDir=$d/spool
SlurmctldPidFile=$d/slurmctld.pid
SlurmdPidFile=$d/slurmd.pid
SlurmctldLogFile=$d/log/slurmctld.log
SlurmdLogFile=$d/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
SchedulerType=sched/builtin
MpiDefault=none
ReturnToService=2
KillWait=5
MinJobAge=300
SlurmctldTimeout=30
SlurmdTimeout=30
NodeName=$host NodeAddr=127.0.0.1 CPUs=2 RealMemory=1000 State=UNKNOWN
PartitionName=test Nodes=ALL Default=YES MaxTime=INFINITE State=UP
CONF
  export SLURM_CONF=$d/slurm.conf
  slurmctld -c -f "$d/slurm.conf"
  slurmd -f "$d/slurm.conf"
  for i in $(seq 60); do
    if sinfo -h -o %t 2>/dev/null | grep -qE '^(idle|mix|alloc)'; then return 0; fi
    sleep 0.5
  done
  echo "the Slurm cluster did not come up in 30 s; sinfo: $(sinfo 2>&1 | tail -2)" >&2
  tail -5 "$d/log/slurmctld.log" "$d/log/slurmd.log" >&2 || true
  return 1
}

# Stops one daemon by its PID file and waits (at most 10 s) for it to end.
stop_pidfile() {
  local f=$1 pid i
  [ -s "$f" ] || return 0
  pid=$(cat "$f")
  kill "$pid" 2>/dev/null || return 0
  for i in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
}

slurm_stop() {
  local d=$1
  stop_pidfile "$d/slurmd.pid"
  stop_pidfile "$d/slurmctld.pid"
  stop_pidfile "$d/munge/munged.pid"
}
