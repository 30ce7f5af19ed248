#!/usr/bin/env bash
# Whole-program timing of gridscan on a realistic synthetic case: 40 layer lines, reference
# samples out to grid point 140. Prints every run's wall and CPU time, the medians and the passes
# run.
# usage: bench/gridscan_timing.sh [bin folder] [runs]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$top/build/bin}" && pwd)
runs=${2:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$top/bench/make_gridscan_case.py" "$work" --lines 40 --points 140 --phi0 -6.5 --z0 12.5 --scale 1.01 \
  --delbr 0.001 --recc 0.002
cd "$work"
# Wall and CPU (user + system) seconds of each run; the machine may be shared, so both.
TIMEFORMAT='%R %U %S'
for ((i = 0; i < runs; i++)); do
  { time "$bin/gridscan"; } 2>>times.txt
done
median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
awk '{print "run: wall " $1 " s, cpu " $2+$3 " s"}' times.txt
echo "median: wall $(awk '{print $1}' times.txt | median) s, cpu $(awk '{print $2+$3}' times.txt | median) s ($runs runs)"
echo "passes: $(grep -c '^0PHASE MINIMUM' fort.7)"
tail -2 fort.7
