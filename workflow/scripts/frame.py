#!/usr/bin/env python3
"""How firmly the reference fixes the frame of the maps. Round 1 aligns every particle to the
reference, and later rounds only to the halves' own averages, so the frame the maps come out
in, their turn about the axis and shift along it, is the one the reference gives in round 1.
A motion (phi, z) changes the phase of layer line (n, l) by n phi - 360 l z / c: in the
coordinates (phi, zeta = 360 z / c), both in degrees, by the dot product of (n, -l) with the
motion. The reference's samples compared in round 1 (within the initial resolution), each
weighted by its amplitude as the phase residual weighs it, give the 2 x 2 matrix
    M = sum_i A_i (n_i, -l_i)^T (n_i, -l_i) / sum_i A_i,
whose eigenvalues are the mean square phase change per degree of motion along its two
eigenvectors. When the weaker is below WEAK^2 times the stronger (the layer lines the
reference carries there are one screw family, such as a thin helix's lowest ones, whose
(n, l) all lie on one line through 0), a motion along the weak eigenvector changes the
compared phases more than WEAK^-1 times less than across it: noise, not the reference,
then places the data set along it, and the maps may come out turned and shifted along that
screw motion against the reference. Their quality does not depend on it (a turned and
shifted map is the same map), but a comparison with another map must superpose the two
first.
usage: frame.py --reference NEAR.dat --layer-lines L --repeat C [--resolution RES] --output F
writes F: "pinned" and the two phase changes, or the warning, one line."""
import argparse
import math
import sys

import acceptance
import quorvan_wf as wf

WEAK = 0.1


def pinning(reference, layer_lines, repeat, resolution=None):
    """(strong, weak, (dphi, dz), lines): the RMS phase change in degrees per degree of motion
    across and along the weak direction, the weak direction as a motion (degrees, Angstroms)
    whose larger part is 1 (z taken positive), and the (l, n) of the layer lines that carry at
    least 1 percent of the compared amplitude. strong is 0 when nothing but the equator is
    compared (then neither phi nor z is fixed)."""
    m = [0.0, 0.0, 0.0]
    total, per_line = 0.0, {}
    smax2 = 1.0 / (resolution * resolution) if resolution else None
    for scale, n, l, points in acceptance.read_point_list(reference, layer_lines):
        for r, f, _ in points:
            if f == acceptance.FLAG or (smax2 is not None and r * r + (l / repeat) ** 2 > smax2):
                continue
            a = abs(f * scale)
            total += a
            per_line[(l, n)] = per_line.get((l, n), 0.0) + a
            m[0] += a * n * n
            m[1] -= a * n * l
            m[2] += a * l * l
    if total == 0.0:
        raise acceptance.BadFile(f"{reference}: no sample within the resolution compared")
    a, b, d = (x / total for x in m)
    mid, half = (a + d) / 2.0, math.hypot((a - d) / 2.0, b)
    strong, weak = mid + half, max(mid - half, 0.0)
    # the weak eigenvector in (phi, zeta), then in (phi, z)
    if half == 0.0:
        vec = (0.0, 1.0)
    elif abs(b) > 1e-12 * half:
        vec = (b, weak - a) if abs(weak - a) > abs(weak - d) else (weak - d, b)
    else:
        vec = (1.0, 0.0) if a <= d else (0.0, 1.0)
    dphi, dz = vec[0], vec[1] * repeat / 360.0
    size = max(abs(dphi), abs(dz))
    sign = -1.0 if dz < 0 or (dz == 0 and dphi < 0) else 1.0
    lines = sorted(k for k, v in per_line.items() if v >= 0.01 * total)
    return math.sqrt(strong), math.sqrt(weak), (sign * dphi / size, sign * dz / size), lines


def along(error, direction, repeat):
    """The part of the motion error (dphi, dz) along direction (both in degrees and Angstroms),
    projected in the coordinates (phi, 360 z / c) where the phase changes are measured."""
    e = (error[0], 360.0 * error[1] / repeat)
    v = (direction[0], 360.0 * direction[1] / repeat)
    k = (e[0] * v[0] + e[1] * v[1]) / (v[0] * v[0] + v[1] * v[1])
    return k * direction[0], k * direction[1]


def verdict(reference, layer_lines, repeat, resolution):
    """The one line of frame.txt."""
    strong, weak, (dphi, dz), lines = pinning(reference, layer_lines, repeat, resolution)
    within = f"within {resolution:g} A" if resolution else "at the full resolution"
    listed = ", ".join(f"({l}, {n})" for l, n in lines)
    if strong == 0.0:
        return (f"the reference {within} carries only the equator (layer lines (l, n) {listed}): it fixes neither "
                f"the turn nor the shift of the data set, so the maps' frame is noise's choice")
    if weak >= WEAK * strong:
        return (f"pinned: the reference's layer lines {within} change phase by {strong:.2f} and {weak:.2f} "
                f"degrees per degree of motion in its two directions")
    return (f"the reference {within} fixes only one combination of phi and z (layer lines (l, n) {listed}): "
            f"along the screw motion ({dphi:.2f} degrees, {dz:.2f} A) their phases change {weak:.3f} degrees "
            f"per degree, across it {strong:.2f}, so the maps' frame along that motion is noise's choice, not the "
            f"reference's: they may come out turned and shifted along it (superpose before comparing them "
            f"with another map; a reference that carries layer lines of other orders within initial_resolution "
            f"fixes it)")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--reference", required=True)
    ap.add_argument("--layer-lines", type=int, required=True)
    ap.add_argument("--repeat", type=float, required=True)
    ap.add_argument("--resolution", type=float, default=None)
    ap.add_argument("--output", required=True)
    a = ap.parse_args()
    try:
        line = verdict(a.reference, a.layer_lines, a.repeat, a.resolution)
    except acceptance.BadFile as e:
        line = f"not measured: {e}"
    if not line.startswith("pinned"):
        print(f"frame: {line}", file=sys.stderr)
    wf.write_atomic(a.output, line + "\n")


if __name__ == "__main__":
    main()
