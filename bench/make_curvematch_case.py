#!/usr/bin/env python3
"""Writes a synthetic curvematch case: control file, gridded reference and test files, answers.

The reference holds LINES layer lines sampled at j = 1..SAMPLES (dsr = 1.0), each with a few
amplitude peaks over a low floor and a phase that winds along the radius. The test is the same
particle rotated by phi0 and shifted by z0 (repeat distance 100 A): every phase changed by
N*phi0 - L*360*z0/c, with Gaussian phase noise of NOISE degrees.

usage: make_curvematch_case.py DIR [--lines L] [--samples S] [--phi0 P] [--z0 Z] [--noise N]
       [--grid "phimid dphi ipl / zmid delz izl / rscmid drsc irl"] [--acut A] [--seed K]
Writes DIR/ref.dat, DIR/test.dat, DIR/case.ctl and DIR/answers (the standard input of a run
whose fitted test file is fitted.dat).
"""
import argparse
import math
import os
import random


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("dir")
    ap.add_argument("--lines", type=int, default=100)
    ap.add_argument("--samples", type=int, default=200)
    ap.add_argument("--phi0", type=float, default=2.7)
    ap.add_argument("--z0", type=float, default=-3.1)
    ap.add_argument("--noise", type=float, default=5.0)
    ap.add_argument("--grid", default="0.0 1.0 8 / 0.0 1.0 25 / 1.0 0.01 8")
    ap.add_argument("--acut", type=float, default=5.0)
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()
    os.makedirs(args.dir, exist_ok=True)
    rng = random.Random(args.seed)
    c = 100.0
    lines = []
    for l in range(1, args.lines + 1):
        n = rng.randint(-8, 8)
        ll = rng.randint(0, 60)
        peaks = [(rng.uniform(5, args.samples - 5), rng.uniform(3, 12), rng.uniform(10, 60)) for _ in range(3)]
        lines.append((n, ll, peaks, rng.uniform(-180, 180), rng.uniform(1, 4)))

    def write(path, title, phi0, z0, noise):
        out = [title.ljust(40)[:40], "%10d%10d%10d%10.1f" % (args.lines, 1, args.samples, 1.0)]
        for n, ll, peaks, ph0, wind in lines:
            re, im = [], []
            for j in range(1, args.samples + 1):
                r = j - 1.0
                amp = 1.0 + sum(h * math.exp(-((r - m) / w) ** 2) for m, w, h in peaks)
                ph = ph0 + wind * r + 20.0 * math.sin(r / 7.0) + n * phi0 - ll * 360.0 * z0 / c
                ph += rng.gauss(0.0, noise) if noise > 0 else 0.0
                re.append(amp * math.cos(math.radians(ph)))
                im.append(amp * math.sin(math.radians(ph)))
            for values in (re, im):
                out.append("%10d%10d" % (n, ll))
                for k in range(0, len(values), 10):
                    out.append("".join("%12.6f" % v for v in values[k:k + 10]))
        with open(os.path.join(args.dir, path), "w") as f:
            f.write("\n".join(out) + "\n")

    write("ref.dat", "synthetic reference particle", 0.0, 0.0, 0.0)
    write("test.dat", "synthetic test particle", args.phi0, args.z0, args.noise)
    g = [part.split() for part in args.grid.split("/")]
    with open(os.path.join(args.dir, "case.ctl"), "w") as f:
        f.write("synthetic case\nref.dat\n1 %.1f 0.002 0.002\n%g\n1 1.0\ntest.dat\n0 0\n" % (c, args.acut))
        for part in g:
            f.write(" ".join(part) + "\n")
        f.write("0\n")
    with open(os.path.join(args.dir, "answers"), "w") as f:
        f.write("case.ctl\ncase.res\nfitted.dat\n2 %d\n" % (2 * args.samples - 2))


if __name__ == "__main__":
    main()
