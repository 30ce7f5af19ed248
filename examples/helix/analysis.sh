#!/usr/bin/env bash
# The demo analysis on synthetic particles: helixsim makes a reference particle and a test
# particle whose rotation, shift and radial scale are known (ref.sim, test.sim), sidesplit samples
# the layer lines of both transforms, gridscan aligns the near sides, curvematch the gridded
# layer-line files, and the table compares what they find with the truth.
# Arguments: the folder of the built programs, the folder to leave the files in (made new).
set -euo pipefail
bin=${1:?usage: analysis.sh <bin folder> <output folder>}
out=${2:?usage: analysis.sh <bin folder> <output folder>}
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)

for prog in helixsim sidesplit gridscan curvematch; do
  if [ ! -x "$bin/$prog" ]; then
    echo "demo: $bin/$prog is not built" >&2
    exit 1
  fi
done

mkdir -p "$out"
cd "$out"
cp "$here/ref.sim" "$here/test.sim" "$here/gridscan.ctl" "$here/curvematch.ctl" .

# The value of keyword $2 in control file $1, or $3 when it is not given.
truth() { awk -v k="$2" -v d="$3" '$1 == k { v = $2 } END { print (v == "" ? d : v) }' "$1"; }

echo "== helixsim: a reference and a test particle"
for p in ref test; do
  mkdir "$p"
  (cd "$p" && "$bin/helixsim" --control "../$p.sim" >helixsim.log &&
    IN=transform.map "$bin/sidesplit" >sidesplit.log)
  sed -n '/helixsim:/,$p' "$p/helixsim.log" | head -6 | sed "s/^/   $p:/"
done

echo "== sidesplit: near.dat and far.dat of both particles"
grep -c 'NEAR' ref/near.dat | sed 's/^/   layer-line blocks in ref\/near.dat: /'

echo "== gridscan: test/near.dat against ref/near.dat"
"$bin/gridscan" --control gridscan.ctl --reference ref/near.dat --test test/near.dat --report gridscan.txt \
  >gridscan.log || echo "   gridscan ended with status $?"
grep -c PHASE gridscan.txt | sed 's/^/   search passes: /'

echo "== curvematch: test/layerlines.dat against ref/layerlines.dat"
# Answers: control file, results file, fitted test file, radial window (samples 1 to 200, every
# sample: sample 1, at radius 0, is itself at every radial scale).
printf 'curvematch.ctl\ncurvematch.res\nfitted.dat\n0 398\n' | "$bin/curvematch" >curvematch.txt ||
  echo "   curvematch ended with status $?"
grep -c 'global minimum' curvematch.txt | sed 's/^/   search passes: /'

# gridscan's last "0PHASE MINIMUM" line: residual, phi, z, scale.
read -r gs_res gs_phi gs_z gs_rsc < <(awk '/^0PHASE MINIMUM/ { r = $3; p = $6; z = $8; s = $11 }
  END { print r, p, z, s }' gridscan.txt)
# curvematch's last line: gmin phimin zmin rscmin rfmin.
read -r cm_res cm_phi cm_z cm_rsc cm_rf < <(tail -n 1 curvematch.txt)

echo
echo "== the answers: true values and what each program recovered"
awk -v tp="$(truth test.sim rotate 0)" -v tz="$(truth test.sim shift 0)" -v ts="$(truth test.sim scale 1)" \
  -v gp="$gs_phi" -v gz="$gs_z" -v gs="$gs_rsc" -v gr="$gs_res" \
  -v cp="$cm_phi" -v cz="$cm_z" -v cs="$cm_rsc" -v cr="$cm_res" -v cf="$cm_rf" 'BEGIN {
  printf "   %-28s %10s %10s %10s\n", "", "true", "gridscan", "curvematch"
  printf "   %-28s %10.2f %10.2f %10.2f\n", "rotation phi0 (degrees)", tp, gp, cp
  printf "   %-28s %10.2f %10.2f %10.2f\n", "axial shift z0 (Angstroms)", tz, gz, cz
  printf "   %-28s %10.3f %10.3f %10.3f\n", "radial scale", ts, gs, cs
  printf "   %-28s %10s %10.2f %10.2f\n", "phase residual (degrees)", "-", gr, cr
  printf "   %-28s %10s %10s %10.4f\n", "amplitude R factor", "-", "-", cf
  print "   (gridscan: mean weighted phase difference at its last pass, grid step 0.5;"
  print "    curvematch: rms phase difference at its global minimum, grid step 0.01)"
}'

echo
echo "== plots"
if /usr/bin/python3 -c 'import matplotlib' 2>/dev/null; then
  /usr/bin/python3 "$top/scripts/llplot" --delr 0.0005 -o layerlines ref/layerlines.dat test/layerlines.dat fitted.dat |
    sed 's/^/   /'
  /usr/bin/python3 "$top/scripts/llplot" -o nearsides ref/near.dat test/near.dat | sed 's/^/   /'
  /usr/bin/python3 "$top/scripts/llplot" --residuals -o residuals curvematch.txt | sed 's/^/   /'
else
  echo "   matplotlib for /usr/bin/python3 is missing (scripts/setup installs python3-matplotlib)"
fi
echo "== the files are in $out"
