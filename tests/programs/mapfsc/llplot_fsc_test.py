#!/usr/bin/python3
"""llplot --fsc: the resolution axis is ticked at round resolutions in Angstroms that lie on the
curve (1/frequency of the axis below), and the shells mapfsc skipped are drawn apart."""
import importlib.machinery
import importlib.util
import os
import subprocess
import sys
import tempfile

llplot = sys.argv[1]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAILED:", what)


loader = importlib.machinery.SourceFileLoader("llplot", llplot)
mod = importlib.util.module_from_spec(importlib.util.spec_from_loader("llplot", loader))
loader.exec_module(mod)

# Round resolutions within the range, finest first, no two closer than 1/8 of it, the roundest
# first: 5, 10 and 20 A over 0.004..0.2 1/A.
for fmin, fmax in [(0.004, 0.2), (0.001, 0.05), (0.01, 0.5), (0.0002, 0.01)]:
    ticks = mod.resolution_ticks(fmin, fmax)
    check(2 <= len(ticks) <= 8 and ticks == sorted(ticks), "ticks %s over %g..%g" % (ticks, fmin, fmax))
    check(all(t in mod.ROUND_RESOLUTIONS and fmin <= 1.0 / t <= fmax for t in ticks), "ticks %s" % ticks)
    check(all(1.0 / a - 1.0 / b >= (fmax - fmin) / 8 for a, b in zip(ticks, ticks[1:])), "spread %s" % ticks)
check({5, 10, 20} <= set(mod.resolution_ticks(0.004, 0.2)), "5, 10, 20 A: %s" % mod.resolution_ticks(0.004, 0.2))

with tempfile.TemporaryDirectory() as d:
    # A table in mapfsc's layout: shells k at k/500 1/A up to 5 A, shells 1-2 skipped.
    rows = ["%6d%12.5f%12.2f%10.4f%10d" % (k, k / 500.0, 500.0 / k, 1.0 / (1.0 + (k / 40.0) ** 4), 20 * k * k)
            for k in range(1, 101)]
    with open(os.path.join(d, "fsc.tsv"), "w") as f:
        f.write("# mapfsc a.map b.map\n# shells 1-2 skipped: fewer than 72 Fourier voxels\n# shell ...\n")
        f.write("\n".join(rows) + "\n")
    freq, fsc, skipped = mod.read_fsc_table(os.path.join(d, "fsc.tsv"))
    check(skipped == [True, True] + [False] * 98, "shells 1-2 read as skipped")
    r = subprocess.run([llplot, "--fsc", "fsc.tsv", "-o", "curve"], cwd=d, capture_output=True, text=True)
    check(r.returncode == 0, "llplot --fsc: " + r.stderr)
    with open(os.path.join(d, "curve.svg"), encoding="utf-8") as f:
        svg = f.read().replace(" ", "").replace("\n", "")
    for t in mod.resolution_ticks(0.2 / 50.0, 0.2):
        check(">%g<" % t in svg, "the tick %g A is drawn" % t)
    check("resolution(A)" in svg and "skippedshells" in svg, "the axis and the skipped shells are labelled")

print("passed" if not failures else "%d failed" % len(failures))
sys.exit(1 if failures else 0)
