#!/usr/bin/env python3
"""Writes a synthetic gridscan case: control file, reference and test point-list files.

The test data are the reference rotated by phi0, shifted by z0 and with radii divided by the
radial scale s0, so a search should recover (phi0, z0, s0):
  test phase = reference phase + nn*phi0 - 360*nl*z0*recc, test R = reference R / s0.

With --orders K (2 or more) it writes a model of K orders a layer line instead, model.dat (the
reference's order n, then n + 10, n - 10, n + 20, ... with amplitudes divided by 3, 5, 7, ...
and phases 50 degrees apart), and the test data are the model's prediction for the view turned
by phi0: the sum over the orders of N_n(R*s0) exp(i n phi0) (an odd order of the other sign
than the block's with the factor -1, as it lies on its own far half), shifted by z0
(gridscan --model).

usage: make_gridscan_case.py DIR [--lines N] [--points K] [--phi0 P] [--z0 Z] [--scale S]
                             [--orders K]
"""
import cmath
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
    ap.add_argument("--orders", type=int, default=1)
    args = ap.parse_args()
    os.makedirs(args.dir, exist_ok=True)
    orders = [0, 1, -2, 3, -1, 2, -3, 4, 1, -4]
    ref, test, model = [], [], []
    for l in range(1, args.lines + 1):
        nn = orders[(l - 1) % len(orders)]
        nl = l
        alpha = 4.0 + (l % 5)  # degrees per grid step
        label = " synthetic particle                      LL%3d NEAR%10.3f" % (nl, 10.0 * l)
        param = "%10.3f%5d%5d" % (1.0, nn, nl)
        ref += [label, param]
        test += [label, param]
        extra = max(4, args.points // 5)
        extra_orders = [(o + 1) // 2 * 10 * (1 if o % 2 else -1) for o in range(1, args.orders)]
        ords = [(nn, 1.0, 0.0)] + [(nn + d, 1.0 / (2 * i + 3), 50.0 * (i + 1)) for i, d in enumerate(extra_orders)]
        blocks = {n: [] for n, _, _ in ords}
        for k in range(2, args.points + extra + 1):
            r = (k - 1) * args.delbr
            amp = 100.0 + 60.0 * math.sin(0.2 * k + l)
            phase = (alpha * k + 37.0 * l) % 360.0 - 180.0
            if k <= args.points:
                ref.append("%10.7f%10.4f%10.4f" % (r, amp, phase))
                for n, a, p in ords:
                    blocks[n].append("%10.7f%10.4f%10.4f" % (r, amp * a, (phase + p + 180.0) % 360.0 - 180.0))
            tphase = phase + nn * args.phi0 - 360.0 * nl * args.z0 * args.recc
            if args.orders > 1:
                # An odd order of the other sign than the block's lies on its own far half.
                v = sum((-1 if (n >= 0) != (nn >= 0) and n % 2 else 1) * amp * a *
                        cmath.exp(1j * math.radians(phase + p + n * args.phi0)) for n, a, p in ords)
                amp, tphase = abs(v), math.degrees(cmath.phase(v)) - 360.0 * nl * args.z0 * args.recc
            tphase = (tphase + 180.0) % 360.0 - 180.0
            if r / args.scale < 149 * args.delbr:
                test.append("%10.7f%10.4f%10.4f" % (r / args.scale, amp, tphase))
        for n, _, _ in ords:
            model += [label, "%10.3f%5d%5d" % (1.0, n, nl)] + blocks[n] + [" 0.000E+00 0.000E+00 0.000E+00"]
        ref.append(" 0.000E+00 0.000E+00 0.000E+00")
        test.append(" 0.000E+00 0.000E+00 0.000E+00")
    with open(os.path.join(args.dir, "fort.3"), "w") as f:
        f.write("\n".join(ref) + "\n")
    if args.orders > 1:
        with open(os.path.join(args.dir, "model.dat"), "w") as f:
            f.write("\n".join(model) + "\n")
    with open(os.path.join(args.dir, "fort.1"), "w") as f:
        f.write("\n".join(test) + "\n")
    with open(os.path.join(args.dir, "fort.2"), "w") as f:
        f.write("%d %g %g 0\n" % (args.lines, args.recc, args.delbr))
        f.write(" ".join(["1.0"] * args.lines) + "\n")
        f.write("synthetic case\n0 0\n")


if __name__ == "__main__":
    main()
