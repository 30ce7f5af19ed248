#!/usr/bin/env bash
# Times the workflow on many small synthetic particles: the run of N particles on C cores
# (wall time against the summed CPU time of its jobs, particles per second) and Snakemake's
# start-up (building the DAG of a dry run) for 1000 and 10,000 particles.
# usage: bench/workflow_timing.sh [N=1000] [CORES=2] [CHUNK=50]   (after building helixsim,
# sidesplit and gridscan into build/bin)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
n=${1:-1000} cores=${2:-2} chunk=${3:-50}
work=$(mktemp -d /tmp/workflow-timing.XXXXXX)
trap 'rm -rf "$work"' EXIT
echo "load before: $(uptime)"
/usr/bin/python3 "$top/examples/workflow/make_particles" --bin "$top/build/bin" --count "$n" \
  --folder "$work/run" --chunk "$chunk" >/dev/null
cd "$work/run"
snakefile=$top/workflow/Snakefile
start=$(date +%s.%N)
snakemake -s "$snakefile" --configfile config.yaml --cores "$cores" -q >run.log 2>&1
end=$(date +%s.%N)
# CPU time of the jobs: every job is a child of Snakemake, so its children's times count them.
cpu=$(/usr/bin/python3 - "$snakefile" "$cores" <<'PY'
import os, subprocess, sys, shutil
shutil.rmtree("results"); shutil.rmtree(".snakemake")
r0 = os.times()
subprocess.run(["snakemake", "-s", sys.argv[1], "--configfile", "config.yaml", "--cores", sys.argv[2], "-q"],
               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
r1 = os.times()
print(f"{r1.children_user - r0.children_user + r1.children_system - r0.children_system:.2f}")
PY
)
wall=$(echo "$end - $start" | bc)
awk -v n="$n" -v c="$cores" -v w="$wall" -v cpu="$cpu" 'BEGIN {
  printf "%d particles on %d cores: wall %.2f s, CPU of Snakemake and its jobs %.2f s\n", n, c, w, cpu
  printf "  wall / (CPU / cores) = %.2f (goal: at most 1.25)\n", w / (cpu / c)
  printf "  %.1f particles per second\n", n / w }'
for count in 1000 10000; do
  rm -rf "$work/dag" && mkdir -p "$work/dag/particles"
  cp "$work/run/reference.map" "$work/run/sidesplit.dek" "$work/dag/"
  sed "s/chunk_size: .*/chunk_size: $chunk/" "$work/run/config.yaml" >"$work/dag/config.yaml"
  for i in $(seq -f '%05g' 1 "$count"); do : >"$work/dag/particles/p$i.map"; done
  t0=$(date +%s.%N)
  (cd "$work/dag" && snakemake -s "$snakefile" --configfile config.yaml --cores 1 -n -q >/dev/null)
  t1=$(date +%s.%N)
  printf "start-up (dry run, DAG of %d particles in chunks of %d): %.2f s\n" "$count" "$chunk" "$(echo "$t1 - $t0" | bc)"
done
echo "load after: $(uptime)"
