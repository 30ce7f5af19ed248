#!/usr/bin/env bash
# gridscan --model against gridscan on a reference of the same size, whole program and whole
# search: 40 layer lines of 200 reference samples, a single-order reference and a model of three
# orders a layer line (bench/make_gridscan_case.py --orders 3), each test set the view turned by
# phi0 = 3.5 and shifted by z0 = -7.5. Every round runs both, one after the other (rotating which
# goes first), so both see the same load on a shared machine. Prints each run, the medians of
# CPU (user + system) and wall-clock seconds and the ratio model/single, and each last minimum.
# usage: bench/model_timing.sh [bin folder] [runs]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$top/build/bin}" && pwd)
runs=${2:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
TIMEFORMAT='%R %U %S'
median() { sort -n | awk '{v[NR]=$1} END {if (NR % 2) print v[(NR+1)/2]; else printf "%.3f\n", (v[NR/2]+v[NR/2+1])/2}'; }

python3 "$top/bench/make_gridscan_case.py" "$work/single" --points 200
python3 "$top/bench/make_gridscan_case.py" "$work/model" --points 200 --orders 3
one() {  # one run of case $1; prints "wall cpu"
  local t
  if [ "$1" = model ]; then
    t=$( { time (cd "$work/model" && "$bin/gridscan" --model --reference model.dat >/dev/null) ; } 2>&1 )
  else
    t=$( { time (cd "$work/single" && "$bin/gridscan" >/dev/null) ; } 2>&1 )
  fi
  awk '{printf "%s %.3f\n", $1, $2 + $3}' <<<"$t"
}
for ((i = 1; i <= runs; i++)); do
  order=(single model)
  ((i % 2)) || order=(model single)
  for c in "${order[@]}"; do
    r=$(one "$c")
    echo "$c $r" | tee -a "$work/times"
  done
done
for c in single model; do
  echo "$c: median CPU $(awk -v c=$c '$1==c {print $3}' "$work/times" | median) s, wall $(awk -v c=$c '$1==c {print $2}' "$work/times" | median) s; $(grep "PHASE MINIMUM" "$work/$c/fort.7" | tail -1)"
done
s=$(awk '$1=="single" {print $3}' "$work/times" | median)
m=$(awk '$1=="model" {print $3}' "$work/times" | median)
awk -v s="$s" -v m="$m" 'BEGIN {printf "ratio model/single (CPU): %.2f\n", m / s}'
