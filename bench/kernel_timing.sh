#!/usr/bin/env bash
# Whole-program timings of the search programs on their realistic workloads, the literal kernel
# and the fast one at every vector width the program runs on this processor (sse2, avx2, avx512)
# side by side: every round times them one after the other (rotating which goes first), so all
# see the same load on a shared machine. Prints each run with its kernel level, the medians of
# CPU (user + system) and wall-clock seconds, the ratio literal/level, and whether each level
# wrote the same files as the literal kernel, byte for byte. (fast, the default, is the widest
# level listed.)
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

# The kernels a program runs here: literal, then each vector width it accepts on this processor
# (a width it was not built for, or that the processor lacks, is refused with status 2).
kernels_of() {
  local prog=$1 k
  echo literal
  for k in sse2 avx2 avx512; do
    # With no input the run stops at once; only the kernel choice matters here.
    if ! (cd "$work" && "$bin/$prog" --kernel="$k" </dev/null 2>&1) | grep -q -e '--kernel is' -e 'does not run'; then
      echo "$k"
    fi
  done
}

# time_pair NAME PROGRAM: runs "run_NAME KERNEL" in $work/NAME for the literal kernel and every
# vector width, $runs times each, one after the other in each round (rotating which goes first).
time_pair() {
  local name=$1 prog=$2 dir=$work/$1 i k j order
  cd "$dir"
  local kernels=($(kernels_of "$prog"))
  for k in "${kernels[@]}"; do : >"times.$k"; done
  echo "== $name (load average $(load) at the start); kernel levels: ${kernels[*]}"
  for ((i = 0; i < runs; i++)); do
    order=()
    for ((j = 0; j < ${#kernels[@]}; j++)); do order+=("${kernels[(i + j) % ${#kernels[@]}]}"); done
    for k in "${order[@]}"; do
      { time "run_$name" "$k" >"out.$k" 2>"err.$k"; } 2>>"times.$k"
    done
  done
  for k in "${kernels[@]}"; do
    awk -v k="$k" '{printf "run level %-7s wall %6.3f s  cpu %6.3f s\n", k, $1, $2+$3}' "times.$k"
  done
  local cl wl c w
  cl=$(awk '{print $2+$3}' times.literal | median)
  wl=$(awk '{print $1}' times.literal | median)
  echo "median of $runs: literal cpu $cl s wall $wl s"
  for k in "${kernels[@]}"; do
    [ "$k" = literal ] && continue
    c=$(awk '{print $2+$3}' "times.$k" | median)
    w=$(awk '{print $1}' "times.$k" | median)
    awk -v k="$k" -v a="$cl" -v b="$c" -v cw="$wl" -v d="$w" \
      'BEGIN {printf "level %-7s cpu %6.3f s wall %6.3f s; ratio literal/%s: cpu %.1f, wall %.1f\n", k, b, d, k, (b > 0 ? a/b : 0), (d > 0 ? cw/d : 0)}'
    "same_$name" "$k" && echo "outputs of $k: identical to literal" || echo "outputs of $k: DIFFERENT"
  done
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
  echo "passes: $(grep -c '^0PHASE MINIMUM' "report.$1"); $(grep '^0PHASE MINIMUM' "report.$1" | tail -1)"
  cmp -s report.literal "report.$1" && cmp -s out.literal "out.$1" && cmp -s err.literal "err.$1"
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
  echo "search passes: $(grep -c 'global minimum' "out.$1"); results: $(cat "results.$1")"
  cmp -s out.literal "out.$1" && cmp -s err.literal "err.$1" && cmp -s fitted.literal "fitted.$1" &&
    cmp -s results.literal "results.$1"
}
# The large case: 1000 layer lines x 512 samples, the same grids, started next to the answer.
setup_curvematch-large() {
  python3 "$top/bench/make_curvematch_case.py" "$work/curvematch-large" --lines 1000 --samples 512 \
    --grid "2.5 0.5 8 / -3.0 0.5 25 / 1.0 0.01 8"
}
run_curvematch-large() { run_curvematch "$@"; }
same_curvematch-large() { same_curvematch "$@"; }

for w in "${workloads[@]}"; do
  "setup_$w"
  time_pair "$w" "${w%-large}"
done
