#!/usr/bin/env python3
"""Writes a synthetic gridscan case: control file, reference and test point-list files.

The test data are the reference rotated by phi0, shifted by z0 and with radii divided by the
radial scale s0, so a search should recover (phi0, z0, s0):
  test phase = reference phase + nn*phi0 - 360*nl*z0*recc, test R = reference R / s0.

usage: make_gridscan_case.py DIR [--lines N] [--points K] [--phi0 P] [--z0 Z] [--scale S]
"""
import argparse
import math
import os


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("dir")
    ap.add_argument("--lines", type=int, default=40)
    ap.add_argument("--points", type=int, default=140, help="last reference grid point")
    ap.add_argument("--phi0", type=float, default=3.5)
    ap.add_argument("--z0", type=float, default=-7.5)
    ap.add_argument("--scale", type=float, default=1.0)
    ap.add_argument("--delbr", type=float, default=0.001)
    ap.add_argument("--recc", type=float, default=0.01)
    args = ap.parse_args()
    os.makedirs(args.dir, exist_ok=True)
    orders = [0, 1, -2, 3, -1, 2, -3, 4, 1, -4]
    ref, test = [], []
    for l in range(1, args.lines + 1):
        nn = orders[(l - 1) % len(orders)]
        nl = l
        alpha = 4.0 + (l % 5)  # degrees per grid step
        label = " synthetic particle                      LL%3d NEAR%10.3f" % (nl, 10.0 * l)
        param = "%10.3f%5d%5d" % (1.0, nn, nl)
        ref += [label, param]
        test += [label, param]
        extra = max(4, args.points // 5)
        for k in range(2, args.points + extra + 1):
            r = (k - 1) * args.delbr
            amp = 100.0 + 60.0 * math.sin(0.2 * k + l)
            phase = (alpha * k + 37.0 * l) % 360.0 - 180.0
            if k <= args.points:
                ref.append("%10.7f%10.4f%10.4f" % (r, amp, phase))
            tphase = phase + nn * args.phi0 - 360.0 * nl * args.z0 * args.recc
            tphase = (tphase + 180.0) % 360.0 - 180.0
            if r / args.scale < 149 * args.delbr:
                test.append("%10.7f%10.4f%10.4f" % (r / args.scale, amp, tphase))
        ref.append(" 0.000E+00 0.000E+00 0.000E+00")
        test.append(" 0.000E+00 0.000E+00 0.000E+00")
    with open(os.path.join(args.dir, "fort.3"), "w") as f:
        f.write("\n".join(ref) + "\n")
    with open(os.path.join(args.dir, "fort.1"), "w") as f:
        f.write("\n".join(test) + "\n")
    with open(os.path.join(args.dir, "fort.2"), "w") as f:
        f.write("%d %g %g 0\n" % (args.lines, args.recc, args.delbr))
        f.write(" ".join(["1.0"] * args.lines) + "\n")
        f.write("synthetic case\n0 0\n")


if __name__ == "__main__":
    main()
