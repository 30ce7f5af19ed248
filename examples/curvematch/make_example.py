#!/usr/bin/env python3
"""Writes the example gridded layer-line files of the curvematch demo step.

ref.dat holds 8 layer lines of a synthetic helical particle sampled at j = 1..60 (dsr = 1.0);
test.dat holds the same particle rotated by phi0 = 4.5 degrees and shifted by z0 = 2.2 Angstroms
along its axis (repeat distance c = 100), that is every phase changed by N*phi0 - L*360*z0/c.
"""
import math

LAYER_LINES = [(0, 0), (1, 1), (-2, 1), (3, 2), (-1, 3), (2, 4), (4, 5), (-3, 6)]


def write(path, title, phi0=0.0, z0=0.0, c=100.0, ismax=60):
    out = [title.ljust(40)[:40], "%10d%10d%10d%10.1f" % (len(LAYER_LINES), 1, ismax, 1.0)]
    for l, (n, ll) in enumerate(LAYER_LINES, start=1):
        re, im = [], []
        for j in range(1, ismax + 1):
            r = j - 1.0
            amp = 40.0 * math.exp(-((r - 20.0 - 2 * l) / 9.0) ** 2) + 1.0
            ph = 40.0 * l + 2.5 * r + 20.0 * math.sin(r / 7.0) + n * phi0 - ll * 360.0 * z0 / c
            re.append(amp * math.cos(math.radians(ph)))
            im.append(amp * math.sin(math.radians(ph)))
        for values in (re, im):
            out.append("%10d%10d" % (n, ll))
            for k in range(0, len(values), 10):
                out.append("".join("%12.6f" % v for v in values[k:k + 10]))
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    write("ref.dat", "example reference particle")
    write("test.dat", "example test particle", phi0=4.5, z0=2.2)
