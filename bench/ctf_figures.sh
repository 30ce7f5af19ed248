#!/usr/bin/env bash
# The CTF's figures on N synthetic particle images (default 48): the same particles (motions and
# noise of one seed) imaged without the CTF and with it (300 kV, Cs 2.7 mm, 7 percent amplitude
# contrast, defocus 1-3 micrometres, astigmatism up to 500 A), each through the workflow; for
# both, the RMS error of the fitted (phi, z) after symmetry reduction and the resolution of the
# average's map against the true density at FSC 0.5. Then, for the CTF images, the CTF-weighted
# (Wiener-type) average against the plain mean of the same phase-flipped data sets: both maps'
# FSC against the true density shell by shell, from the first zero of the largest defocus on.
# usage: bench/ctf_figures.sh [N=48] [CORES=2] [SEED=1]
# (after building helixsim, helixft, sidesplit, gridscan, layermean, besselmap and mapfsc)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
n=${1:-48} cores=${2:-2} seed=${3:-1}
bin=${BIN:-$top/build/bin}
work=$(mktemp -d /tmp/ctf-figures.XXXXXX)
# KEEP=1 keeps the folder of both runs (named on standard error) for a closer look.
if [ -n "${KEEP:-}" ]; then echo "ctf_figures: the runs stay in $work" >&2; else trap 'rm -rf "$work"' EXIT; fi
for kind in plain ctf; do
  extra=()
  [ $kind = ctf ] && extra=(--defocus 1 3 --astigmatism 500)
  /usr/bin/python3 "$top/examples/workflow/make_particles" --bin "$bin" --count "$n" --folder "$work/$kind" \
    --chunk $(((n + 4 * cores - 1) / (4 * cores))) --seed "$seed" "${extra[@]}" >/dev/null
  (cd "$work/$kind" && snakemake -s "$top/workflow/Snakefile" --configfile config.yaml --cores "$cores" \
    >snakemake.log 2>&1) || { tail -n 20 "$work/$kind/snakemake.log"; exit 1; }
done
# The plain mean of the phase-flipped data sets, mapped and compared as the workflow does.
cd "$work/ctf/results"
"$bin/layermean" --table alignments.tsv --repeat 100 --output plain.dat >/dev/null
"$bin/besselmap" --input plain.dat --map plain.map --repeat 100 --resolution 10.5 --voxel 2.5 --size 200 200 \
  >/dev/null
"$bin/mapfsc" plain.map ../truth.map --table fsc_plain.tsv --mask 50 >/dev/null
/usr/bin/python3 - "$top/workflow/scripts" "$work" <<'PY'
import math, sys
from pathlib import Path
sys.path.insert(0, sys.argv[1])
import quorvan_wf as wf
work = Path(sys.argv[2])
U, T, C = 20, 7, 100.0
for kind in ("plain", "ctf"):
    d = work / kind
    truth = {r["particle"]: (float(r["phi"]), float(r["z"])) for r in wf.read_table(d / "truth.tsv")}
    rows = wf.read_table(d / "results/alignments.tsv")
    ep, ez = [], []
    for r in rows:
        if r["status"] == "ok":
            dp, dz = wf.reduce_pair(float(r["phi"]) - truth[r["particle"]][0], float(r["z"]) - truth[r["particle"]][1],
                                    U, T, C)
            ep.append(dp)
            ez.append(dz)
    rms = lambda v: math.sqrt(sum(x * x for x in v) / len(v)) if v else float("nan")
    fsc = [ln for ln in (d / "results/maps/fsc_average_truth.txt").read_text().splitlines() if "FSC 0.5" in ln]
    label = "without the CTF" if kind == "plain" else "with the CTF, corrected"
    print(f"{label:24}: {len(ep)} of {len(rows)} sides ok, RMS error phi {rms(ep):.3f} deg, z {rms(ez):.3f} A;"
          f" against the truth{fsc[0].strip()[3:] if fsc else ' -'}")


def curve(path):
    return [tuple(map(float, ln.split()[1:4])) for ln in Path(path).read_text().splitlines()
            if ln.strip() and not ln.startswith("#")]


# The first CTF zero of the largest defocus: chi = pi - asin(A) with Cs neglected (it moves the
# zero by under 1 percent at these resolutions); lambda = 0.019687 A at 300 kV.
dmax = max(float(r["defocus_u"]) for r in wf.read_table(work / "ctf/particles.tsv"))
first = math.sqrt((math.pi - math.asin(0.07)) / (math.pi * 0.0196875 * dmax))
wiener = curve(work / "ctf/results/maps/fsc_average_truth.tsv")
plain = curve(work / "ctf/results/fsc_plain.tsv")
print(f"FSC against the truth from the first zero of the largest defocus ({1 / first:.1f} A) to the maps' limit "
      "(10.5 A): Wiener-type mean against the plain mean of the phase-flipped data")
worse = 0
for (s, res, w), (_, _, p) in zip(wiener, plain):
    if first <= s <= 1 / 10.5:
        worse += w < p
        print(f"  {res:7.2f} A  wiener {w:7.4f}  plain {p:7.4f}  {w - p:+.4f}")
print(f"shells where the Wiener-type mean is below the plain mean: {worse}")
PY
