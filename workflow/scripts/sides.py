"""The agreement of a particle's near and far side. On layer line (n, l) of a helix whose axis
lies on the phase origin, the far side's value at R is the near side's times (-1)^n: the
same amplitude, the phase n*180 degrees apart. The phase residual between the sides (far
brought to the near side's phases by n*180, weighted by the sum of both amplitudes) is small
for a particle indexed right, and near 90 degrees (that of random phases) when the indexing,
the axis or the sampling does not fit the data."""
import math


def read_point_list(path):
    """The blocks of a point-list layer-line file as (l, n, [(R, amplitude, phase)])."""
    out = []
    with open(path) as f:
        lines = f.read().splitlines()
    i = 0
    while i + 1 < len(lines):
        if lines[i][41:43] != "LL":
            raise ValueError(f"{path}, line {i + 1}: a layer-line label record was expected")
        head = lines[i + 1]
        n, l = int(head[10:15]), int(head[15:20])
        points, j = [], i + 2
        while j < len(lines):
            r, a, p = (float(lines[j][k:k + 10] or 0) for k in (0, 10, 20))
            if r == 0.0 and a == 0.0 and p == 0.0:
                break
            points.append((r, a, p))
            j += 1
        out.append((l, n, points))
        i = j + 1
    return out


def side_residual(near, far):
    """(overall residual, {(l, n): (residual, weight)}, spread) between two point-list files'
    blocks, taken in order and point by point; flagged (-999) and zero amplitudes take no part.
    A residual is None where nothing was compared. The spread is that of the overall residual
    for random phases under the same weights w: each |difference| is even on 0..180 (standard
    deviation 180/sqrt 12), so the weighted mean has mean 90 and spread
    (180/sqrt 12) sqrt(sum w^2) / sum w."""
    per, total_w, total, total_w2 = {}, 0.0, 0.0, 0.0
    for (l, n, pn), (_, _, pf) in zip(read_point_list(near), read_point_list(far)):
        s = w = 0.0
        for (_, an, qn), (_, af, qf) in zip(pn, pf):
            if an <= 0.0 or af <= 0.0:
                continue
            d = math.remainder(qn - qf - 180.0 * n, 360.0)
            s += (an + af) * abs(d)
            w += an + af
            total_w2 += (an + af) ** 2
        old = per.get((l, n), (0.0, 0.0))
        per[(l, n)] = (old[0] + s, old[1] + w)
        total += s
        total_w += w
    res = {k: (s / w if w else None, w) for k, (s, w) in per.items()}
    spread = 180.0 / math.sqrt(12.0) * math.sqrt(total_w2) / total_w if total_w else None
    return (total / total_w if total_w else None), res, spread
