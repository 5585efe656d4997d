#!/usr/bin/env bash
# `quorin run --replications`, `compare` and `sweep` under mpirun give the
# tables of a local run with two workers, byte for byte, and only rank 0
# prints them.
#   mpi_run_test.sh QUORIN MODEL_FILE WORK_DIR MPIEXEC [MPI flags...]
set -euo pipefail
quorin=$1 model=$2 work=$3 mpiexec=$4
shift 4
mkdir -p "$work"
args=(run "$model" --replications 6 --warmup 100 --until 3100)
"$quorin" "${args[@]}" --jobs 2 --csv "$work/local.csv" >"$work/local.txt"
"$mpiexec" -np 2 "$@" "$quorin" "${args[@]}" --csv "$work/mpi.csv" >"$work/mpi.txt"
cmp "$work/local.csv" "$work/mpi.csv"
cmp "$work/local.txt" "$work/mpi.txt"
grep -q '^6 replications, 0 failed' "$work/mpi.txt"
for scenario in "compare $model $model" "sweep $model --set Clerk.Preemptive=false,true"; do
  read -ra words <<<"$scenario"
  args=("${words[@]}" --replications 4 --warmup 100 --until 2100)
  "$quorin" "${args[@]}" --jobs 2 --csv "$work/local.csv" >"$work/local.txt"
  "$mpiexec" -np 2 "$@" "$quorin" "${args[@]}" --csv "$work/mpi.csv" >"$work/mpi.txt"
  cmp "$work/local.csv" "$work/mpi.csv"
  cmp "$work/local.txt" "$work/mpi.txt"
done
echo "mpirun gives the local tables"
