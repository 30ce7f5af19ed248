#!/usr/bin/env bash
# The CTF's figures on N synthetic particle images (default 48): the same particles (motions and
# noise of one seed) imaged without the CTF and with it (300 kV, Cs 2.7 mm, 7 percent amplitude
# contrast, defocus 1-3 micrometres, astigmatism up to 500 A), each through the workflow; for
# both, the RMS error of the fitted (phi, z) after symmetry reduction and the resolution of the
# average's map against the true density at FSC 0.5. Then, for the CTF images, the CTF-weighted
# (Wiener-type) averages, with the one constant 0.1 and with 1/SNR from the halves shell by
# shell (the workflow's), against the plain mean of the same phase-flipped data sets, on the
# fitted alignments (the data set moved as a whole by its own offset from the truth, which a reference that
# leaves a screw motion free cannot fix) and on the true alignments: the maps' FSC against the
# true density shell by shell, from the first zero of the largest defocus on.
# usage: [NOISE=0.5] [ASTIGMATISM=500] [BIN=build/bin] [KEEP=1 | ANALYSE=DIR] bench/ctf_figures.sh [N=48] [CORES=2] [SEED=1]
# (after building helixsim, helixft, sidesplit, gridscan, layermean, besselmap and mapfsc)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
n=${1:-48} cores=${2:-2} seed=${3:-1}
bin=${BIN:-$top/build/bin}
# ANALYSE=DIR gives the figures of the runs a KEEP=1 run left in DIR, without running them again.
work=${ANALYSE:-$(mktemp -d /tmp/ctf-figures.XXXXXX)}
# KEEP=1 keeps the folder of both runs (named on standard error) for a closer look.
if [ -n "${KEEP:-}${ANALYSE:-}" ]; then echo "ctf_figures: the runs stay in $work" >&2; else trap 'rm -rf "$work"' EXIT; fi
for kind in plain ctf; do
  [ -n "${ANALYSE:-}" ] && break
  extra=()
  [ $kind = ctf ] && extra=(--defocus 1 3 --astigmatism "${ASTIGMATISM:-500}")
  /usr/bin/python3 "$top/examples/workflow/make_particles" --bin "$bin" --count "$n" --folder "$work/$kind" \
    --chunk $(((n + 4 * cores - 1) / (4 * cores))) --seed "$seed" --noise "${NOISE:-0.5}" "${extra[@]}" >/dev/null
  (cd "$work/$kind" && snakemake -s "$top/workflow/Snakefile" --configfile config.yaml --cores "$cores" \
    >snakemake.log 2>&1) || { tail -n 20 "$work/$kind/snakemake.log"; exit 1; }
done
# The means of the phase-flipped data sets, each mapped and compared as the workflow does: the
# plain mean, the Wiener-type mean with the one constant 0.1, and with 1/SNR from the halves
# (the workflow's own), on the fitted alignments and on the true ones (every fit replaced by
# the symmetry equivalent of its particle's true motion nearest to it, radial scale 1), which
# shows the averaging apart from the alignment's errors.
cd "$work/ctf/results"
/usr/bin/python3 - "$top/workflow/scripts" "$work/ctf" "$top/bench" <<'PY'
import sys
from pathlib import Path
sys.path.insert(0, sys.argv[1])
sys.path.insert(0, sys.argv[3])
import quorvan_wf as wf
import rounds_figures as rf
run = Path(sys.argv[2])
truth = {r["particle"]: (float(r["phi"]), float(r["z"])) for r in wf.read_table(run / "truth.tsv")}
lines = (run / "results/alignments.tsv").read_text().splitlines()
head = lines[0].split("\t")
out = [lines[0]]
for ln in lines[1:]:
    r = dict(zip(head, ln.split("\t")))
    dp, dz = wf.reduce_pair(float(r["phi"]) - truth[r["particle"]][0], float(r["z"]) - truth[r["particle"]][1],
                            20, 7, 100.0)
    r.update(phi=f"{float(r['phi']) - dp:.3f}", z=f"{float(r['z']) - dz:.3f}", rscale="1.000")
    out.append("\t".join(r[h] for h in head))
(run / "results/alignments_true.tsv").write_text("\n".join(out) + "\n")
# The fitted alignments with the data set moved as a whole by its own offset from the truth: a reference
# that leaves a screw motion free (frame.py) places the data set anywhere along it, so the
# map as fitted is the truth's moved; compared there it would say nothing of the averaging.
errors = []
for ln in lines[1:]:
    r = dict(zip(head, ln.split("\t")))
    if r["status"] == "ok":
        errors.append(wf.reduce_pair(float(r["phi"]) - truth[r["particle"]][0],
                                     float(r["z"]) - truth[r["particle"]][1], 20, 7, 100.0))
mp, mz = rf.centre(errors)
out = [lines[0]]
for ln in lines[1:]:
    r = dict(zip(head, ln.split("\t")))
    if r["phi"] != "-":
        r.update(phi=f"{float(r['phi']) - mp:.3f}", z=f"{float(r['z']) - mz:.3f}")
    out.append("\t".join(r[h] for h in head))
(run / "results/alignments_moved.tsv").write_text("\n".join(out) + "\n")
PY
for table in alignments_moved alignments_true; do
  for mean in plain constant auto; do
    opts=()
    [ $mean = constant ] && opts=(--ctf 300 2.7 0.07 --wiener 0.1)
    [ $mean = auto ] && opts=(--ctf 300 2.7 0.07 --wiener auto)
    n=$table.$mean
    rm -f $n.dat $n.txt $n.in.dat $n.map fsc_$n.tsv
    "$bin/layermean" --table $table.tsv --repeat 100 --output $n.dat "${opts[@]}" >$n.txt
    /usr/bin/python3 "$top/workflow/scripts/keep_layer_lines.py" --limits check/limits.tsv --repeat 100 $n.dat $n.in.dat
    "$bin/besselmap" --input $n.in.dat --map $n.map --repeat 100 --resolution 10.5 --voxel 2.5 --size 200 200 \
      >/dev/null
    "$bin/mapfsc" $n.map ../truth.map --table fsc_$n.tsv --mask 50 >/dev/null
  done
done
/usr/bin/python3 - "$top/workflow/scripts" "$work" "$top/bench" <<'PY'
import math, sys
from pathlib import Path
sys.path.insert(0, sys.argv[1])
sys.path.insert(0, sys.argv[3])
import quorvan_wf as wf
import rounds_figures as rf
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
    mp, mz = rf.centre(list(zip(ep, ez)))
    about = rf.moved(list(zip(ep, ez)), (-mp, -mz))
    print(f"{label:24}: {len(ep)} of {len(rows)} sides ok, RMS error phi {rms(ep):.3f} deg, z {rms(ez):.3f} A"
          f" (about the data set's own offset ({mp:.2f}, {mz:.2f}): {rms([x[0] for x in about]):.3f} deg,"
          f" {rms([x[1] for x in about]):.3f} A); against the truth{fsc[0].strip()[3:] if fsc else ' -'}")


def curve(path):
    return [tuple(map(float, ln.split()[1:4])) for ln in Path(path).read_text().splitlines()
            if ln.strip() and not ln.startswith("#")]


# The first CTF zero of the largest defocus: chi = pi - asin(A) with Cs neglected (it moves the
# zero by under 1 percent at these resolutions); lambda = 0.019687 A at 300 kV.
dmax = max(float(r["defocus_u"]) for r in wf.read_table(work / "ctf/particles.tsv"))
first = math.sqrt((math.pi - math.asin(0.07)) / (math.pi * 0.0196875 * dmax))
for table, what in (("alignments_moved", "the fitted alignments, the data set moved by its own offset"),
                    ("alignments_true", "the true alignments")):
    c = {m: curve(work / f"ctf/results/fsc_{table}.{m}.tsv") for m in ("plain", "constant", "auto")}
    print(f"FSC against the truth on {what}, from the first zero of the largest defocus ({1 / first:.1f} A) to the "
          "maps' limit (10.5 A): the plain mean of the phase-flipped data, the Wiener-type mean with K = 0.1 and "
          "with K(s) from the halves")
    worse = {"constant": [], "auto": []}
    for (s, res, p), (_, _, k), (_, _, a) in zip(c["plain"], c["constant"], c["auto"]):
        if first <= s <= 1 / 10.5:
            for m, v in (("constant", k), ("auto", a)):
                if v < p:
                    worse[m].append(f"{res:.2f} A ({v - p:+.4f})")
            print(f"  {res:7.2f} A  plain {p:7.4f}  K=0.1 {k:7.4f} {k - p:+.4f}  K(s) {a:7.4f} {a - p:+.4f}")
    for m, label in (("constant", "K = 0.1"), ("auto", "K(s)")):
        print(f"shells where the mean with {label} is below the plain mean: {len(worse[m])}"
              + (": " + ", ".join(worse[m]) if worse[m] else ""))

# The same on the layer lines themselves against the noise-free particle's: the map's box and
# the mask mix neighbouring shells, which matters where the map's curve falls steeply (there
# the layer lines the map leaves out, not the averaging, make the fall).
truth = rf.truth_layer_lines(work / "truth-lines")
for table, what in (("alignments_moved", "the fitted alignments, moved"), ("alignments_true", "the true alignments")):
    f = {m: rf.layer_line_fsc(work / f"ctf/results/{table}.{m}.dat", truth) for m in ("plain", "constant", "auto")}
    for m, label in (("constant", "K = 0.1"), ("auto", "K(s)")):
        shells = [k for k in f["plain"] if first <= k * 0.002 <= 1 / 10.5]
        worse = [f"{1 / (k * 0.002):.2f} A ({f[m][k] - f['plain'][k]:+.4f})" for k in shells if f[m][k] < f["plain"][k]]
        least = min(f[m][k] - f["plain"][k] for k in shells)
        print(f"layer-line FSC against the truth on {what}, {len(shells)} shells from {1 / first:.1f} to 10.5 A: the "
              f"mean with {label} below the plain mean in {len(worse)}" + (": " + ", ".join(worse) if worse else "")
              + f" (least difference {least:+.5f})")
PY
