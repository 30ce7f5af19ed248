#!/usr/bin/env bash
# Whole-program timings of the search programs on their realistic workloads, the literal kernel
# and the fast one side by side: every run times the two one after the other (alternating which
# goes first), so both see the same load on a shared machine. Prints each run, the medians of
# CPU (user + system) and wall-clock seconds, the ratio literal/fast, and whether the two wrote
# the same files byte for byte.
# usage: bench/kernel_timing.sh [bin folder] [runs] [workload ...]
#   workloads: gridscan curvematch curvematch-large (default: all of them)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$top/build/bin}" && pwd)
runs=${2:-5}
shift $(($# < 2 ? $# : 2))
workloads=("$@")
[ ${#workloads[@]} -gt 0 ] || workloads=(gridscan curvematch curvematch-large)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
TIMEFORMAT='%R %U %S'

median() { sort -n | awk '{v[NR]=$1} END {if (NR % 2) print v[(NR+1)/2]; else printf "%.3f\n", (v[NR/2]+v[NR/2+1])/2}'; }
load() { cut -d' ' -f1-3 /proc/loadavg; }

# time_pair NAME: runs "run_NAME literal" and "run_NAME fast" in $work/NAME, $runs times each.
time_pair() {
  local name=$1 dir=$work/$1 i k order
  cd "$dir"
  : >times.literal
  : >times.fast
  echo "== $name (load average $(load) at the start)"
  for ((i = 0; i < runs; i++)); do
    if ((i % 2)); then order="fast literal"; else order="literal fast"; fi
    for k in $order; do
      { time "run_$name" "$k" >"out.$k" 2>"err.$k"; } 2>>"times.$k"
    done
  done
  for k in literal fast; do
    awk -v k="$k" '{printf "run %-7s wall %6.3f s  cpu %6.3f s\n", k, $1, $2+$3}' "times.$k"
  done
  local cl cf wl wf
  cl=$(awk '{print $2+$3}' times.literal | median)
  cf=$(awk '{print $2+$3}' times.fast | median)
  wl=$(awk '{print $1}' times.literal | median)
  wf=$(awk '{print $1}' times.fast | median)
  echo "median of $runs: literal cpu $cl s wall $wl s; fast cpu $cf s wall $wf s"
  awk -v a="$cl" -v b="$cf" -v c="$wl" -v d="$wf" \
    'BEGIN {printf "ratio literal/fast: cpu %.1f, wall %.1f\n", (b > 0 ? a/b : 0), (d > 0 ? c/d : 0)}'
  "same_$name" && echo "outputs: identical" || echo "outputs: DIFFERENT"
  echo "load average at the end: $(load)"
}

# gridscan: 40 layer lines, reference samples out to grid point 140, a first pass of 27 x 91 x 6
# grid points and later passes of 11 x 11 x 6.
setup_gridscan() {
  mkdir -p "$work/gridscan"
  python3 "$top/bench/make_gridscan_case.py" "$work/gridscan" --lines 40 --points 140 --phi0 -6.5 --z0 12.5 \
    --scale 1.01 --delbr 0.001 --recc 0.002
}
run_gridscan() { "$bin/gridscan" --kernel="$1" --report "report.$1"; }
same_gridscan() {
  echo "passes: $(grep -c '^0PHASE MINIMUM' report.fast); $(grep '^0PHASE MINIMUM' report.fast | tail -1)"
  cmp -s report.literal report.fast && cmp -s out.literal out.fast && cmp -s err.literal err.fast
}

# curvematch: 100 layer lines x 200 samples, grids 8 x 25 x 8 (25 z points recount to 26).
setup_curvematch() {
  python3 "$top/bench/make_curvematch_case.py" "$work/curvematch" --lines 100 --samples 200
}
run_curvematch() {
  rm -f fitted.dat case.res
  "$bin/curvematch" --kernel="$1" <answers && mv fitted.dat "fitted.$1" && mv case.res "results.$1"
}
same_curvematch() {
  echo "search passes: $(grep -c 'global minimum' out.fast); results: $(cat results.fast)"
  cmp -s out.literal out.fast && cmp -s err.literal err.fast && cmp -s fitted.literal fitted.fast &&
    cmp -s results.literal results.fast
}
# The large case: 1000 layer lines x 512 samples, the same grids, started next to the answer.
setup_curvematch-large() {
  python3 "$top/bench/make_curvematch_case.py" "$work/curvematch-large" --lines 1000 --samples 512 \
    --grid "2.5 0.5 8 / -3.0 0.5 25 / 1.0 0.01 8"
}
run_curvematch-large() { run_curvematch "$@"; }
same_curvematch-large() { same_curvematch; }

for w in "${workloads[@]}"; do
  "setup_$w"
  time_pair "$w"
done
