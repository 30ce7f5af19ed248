#!/usr/bin/env bash
# Whole-program timing of gridscan on a realistic synthetic case: 40 layer lines, reference
# samples out to grid point 140. Prints every run's wall time, the median and the passes run.
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
times=()
for ((i = 0; i < runs; i++)); do
  start=$(date +%s.%N)
  "$bin/gridscan"
  end=$(date +%s.%N)
  times+=("$(echo "$end - $start" | bc)")
done
printf '%s\n' "${times[@]}" | sort -n | awk '{t[NR]=$1; print "run: " $1 " s"} END {print "median: " t[int((NR+1)/2)] " s"}'
echo "passes: $(grep -c '^0PHASE MINIMUM' fort.7)"
tail -2 fort.7
