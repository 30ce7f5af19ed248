"""Whether a side's alignment means anything: its phase residual against what random phases
would give for the same amplitudes, and against the other sides of its half.

gridscan's residual at a trial is a weighted mean of phase differences,
    res = (sum_i w_i d_i + 8100 sum_j u_j) / (sum_i w_i + sum_j u_j),
over the compared samples i (d_i = |phase difference| folded into 0..180, weight
w_i = (|G_ref(i)| + |G_test(i)|) / (2 fmean), G_ref interpolated at the scaled radius) and the
reference samples j beyond the test's last radius (weight u_j = |G_ref(j)| / fmean, a fixed
difference of 8100 each). When the test's phases are random, independent of the reference's,
each d_i is uniform on 0..180: mean 90, variance 180^2 / 12. So, from the amplitudes alone,
    mean   = (90 W + 8100 U) / (W + U)
    spread = (180 / sqrt 12) sqrt(sum_i w_i^2) / (W + U),        W = sum w_i, U = sum u_j.
The search reports the best of many trials, and the best of random trials lies below the
mean; a side counts as aligned when its residual lies at least `significance` spreads below
the mean of random phases (the margin covers the search's choice of its best trial).

The weights are computed here as gridscan computes them (the reference filed on its radial
grid, the test's radii scaled by the fitted radial scale and the reference interpolated
there), from the same files and control values."""
import math
import statistics

FLAG = -999.0  # sidesplit's amplitude inside a CTF zero band; gridscan leaves it out
NRMAX = 150
UNIFORM_SD = 180.0 / math.sqrt(12.0)


class BadFile(Exception):
    pass


def read_point_list(path, llmax):
    """The first llmax blocks of a point-list layer-line file as (scale, n, l, points), points a
    list of (R, amplitude, phase); a point with R = 0 that is not the block's first ends the
    block (gridscan's rule)."""
    try:
        lines = open(path).read().splitlines()
    except OSError as e:
        raise BadFile(f"{path}: {e.strerror}")
    blocks, i = [], 0

    def number(text, where):
        try:
            return float(text)
        except ValueError:
            raise BadFile(f"{path}, line {where}: \"{text.strip()}\" is not a number")

    while len(blocks) < llmax and i + 1 < len(lines):
        par = lines[i + 1]
        scale = number(par[0:10], i + 2)
        try:
            n, l = int(par[10:15]), int(par[15:20])
        except ValueError:
            raise BadFile(f"{path}, line {i + 2}: the parameter record needs n and l in columns 11-20")
        i += 2
        points = []
        while i < len(lines):
            rec = lines[i]
            r, f, p = number(rec[0:10], i + 1), number(rec[10:20], i + 1), number(rec[20:30], i + 1)
            i += 1
            if r == 0.0 and points:
                break
            points.append((r, f, p))
        blocks.append((scale, n, l, points))
    return blocks


def grid_index(r, delbr):
    return int(r / delbr + 1.1)


_GRIDS = {}


def model_layer_lines(path, llmax):
    """The first llmax layer lines of a model of several orders a layer line (consecutive
    blocks of one layer-line number form one), each as (scale 1, its orders, l, points): a
    point's amplitude the root of the sum of the orders' squared amplitudes at its radius
    (the prediction's mean amplitude over every rotation, as gridscan --model weighs it), its
    phase 0. An order whose samples are flagged or missing at a radius adds nothing there."""
    blocks = read_point_list(path, 10 ** 9)
    lines = []
    for scale, n, l, points in blocks:
        if lines and lines[-1][2] == l:
            lines[-1][1].append(n)
            lines[-1][3].append((scale, points))
        else:
            if len(lines) == llmax:
                break
            lines.append([1.0, [n], l, [(scale, points)]])
    out = []
    for _, orders, l, parts in lines:
        power = {}
        for scale, points in parts:
            for r, f, p in points:
                a = 0.0 if f == FLAG else f * scale
                power[r] = power.get(r, 0.0) + a * a
        out.append((1.0, orders, l, [(r, math.sqrt(v), 0.0) for r, v in sorted(power.items())]))
    return out


def reference_grid(reference, llmax, delbr, weight, within=None, model=False):
    """The reference filed on gridscan's radial grid: per block (its orders, {grid point:
    (weighted amplitude, phase)}), the grid point of each block's last point, and the mean
    weighted amplitude fmean. With model, per layer line of a model of several orders
    (model_layer_lines). Kept for the run: every side of a chunk meets the same reference."""
    key = (reference, llmax, delbr, weight, within is None, model)
    if key in _GRIDS:
        return _GRIDS[key]
    keep = within or (lambda r, l: True)
    grids, irmax, sumf1, allpts = [], [], 0.0, 0.0
    blocks = (model_layer_lines(reference, llmax) if model
              else [(s, [n], l, pts) for s, n, l, pts in read_point_list(reference, llmax)])
    for scale, orders, l, points in blocks:
        g, f0, pts, ir = {}, 0.0, 0.0, 0
        for r, f, p in points:
            ir = grid_index(r, delbr)
            if ir > NRMAX or f == FLAG or not keep(r, l):
                continue
            g[ir] = (f * scale * weight, p)
            f0 += f * scale * weight
            pts += weight
        grids.append((orders, g))
        irmax.append(ir)
        sumf1 += f0
        allpts += pts
    if allpts == 0.0 or sumf1 == 0.0:
        raise BadFile(f"{reference}: no reference sample to compare with")
    _GRIDS[key] = (grids, irmax, sumf1 / allpts)
    return _GRIDS[key]


def random_phase_stats(reference, test, llmax, delbr, weight, rscale, within=None, model=False):
    """(mean, spread) of gridscan's residual at radial scale rscale if the test's phases were
    random. within(R, l), when given, says which reference samples the search stores (its
    resolution limit); test samples are compared where they fall between stored ones. With
    model the reference is a model of several orders a layer line (gridscan --model)."""
    grids, irmax, fmean = reference_grid(reference, llmax, delbr, weight, within, model)
    w1 = w2 = u = 0.0
    for k, (scale, n, l, points) in enumerate(read_point_list(test, llmax)):
        if k >= len(grids) or not points:
            break
        orders, g = grids[k]
        if n in orders:
            for r, f, p in points:
                if grid_index(r, delbr) > NRMAX or f == FLAG:
                    continue
                rrs = rscale * r / delbr + 1.0
                j = int(rrs)
                if j > NRMAX - 1 or j not in g or j + 1 not in g or g[j][0] == 0 or g[j + 1][0] == 0:
                    continue
                t = rrs - j
                (fa, pa), (fb, pb) = g[j], g[j + 1]
                a = fa * math.cos(math.radians(pa)) * (1 - t) + fb * math.cos(math.radians(pb)) * t
                b = fa * math.sin(math.radians(pa)) * (1 - t) + fb * math.sin(math.radians(pb)) * t
                w = (math.hypot(a, b) + f * scale * weight) / (2.0 * fmean)
                w1 += w
                w2 += w * w
        # reference samples beyond the test's last radius weigh in at a difference of 8100
        first = int(2.5 + (grid_index(points[-1][0], delbr) - 1) * rscale)
        for j in range(first, min(irmax[k], NRMAX) + 1):
            if j in g and g[j][0] != 0:
                u += abs(g[j][0]) / fmean
    if w1 + u == 0.0:
        raise BadFile(f"{test}: no sample compared with the reference {reference}")
    return (90.0 * w1 + 8100.0 * u) / (w1 + u), UNIFORM_SD * math.sqrt(w2) / (w1 + u)


def difference_error(residual, spread):
    """The standard error of the difference between two residuals of one side (its two
    polarities): each is a weighted mean of phase differences d_i with the weights that give
    random phases the spread `spread`, so its standard error is sd(d) / (180 / sqrt 12) times
    that spread; the d_i of a fit spread about like the absolute values of normal errors,
    sd(d) = 0.756 x their mean, the residual; two such errors, taken as independent, give the
    difference sqrt 2 times one."""
    return math.sqrt(2.0) * 0.756 * residual / UNIFORM_SD * spread


def mad_limit(values, k, floor=0.0):
    """median + k x max(MAD, floor), the MAD scaled by 1.4826 so that it estimates the
    standard deviation of normally spread values; None for fewer than three values."""
    if len(values) < 3:
        return None
    med = statistics.median(values)
    mad = 1.4826 * statistics.median(abs(v - med) for v in values)
    return med + k * max(mad, floor)


def judge(rows, significance, k):
    """Sets status and reason of the rows (dicts with residual, random_residual, random_sd,
    half, status) that are ok so far: "random" when the residual is not significantly below
    that of random phases, then "outlier" when above median + k x MAD of the significant
    sides of the same half. The MAD counts as at least the median spread of random phases of
    those sides: sides that agree more closely than noise can tell apart are no outliers."""
    for r in rows:
        if r["status"] != "ok" or r.get("random_residual", "-") == "-":
            continue
        mean, sd = float(r["random_residual"]), float(r["random_sd"])
        limit = mean - significance * sd
        if not float(r["residual"]) <= limit:
            r["status"] = "random"
            r["reason"] = (f"phase residual {r['residual']} is not {significance:g} spreads below "
                           f"{mean:.2f}, that of random phases (spread {sd:.2f}): above {limit:.2f}")
    for half in sorted({r["half"] for r in rows}):
        mine = [r for r in rows if r["half"] == half and r["status"] == "ok"]
        floor = statistics.median(float(r["random_sd"]) for r in mine) if mine else 0.0
        limit = mad_limit([float(r["residual"]) for r in mine], k, floor)
        if limit is None:
            continue
        for r in mine:
            if float(r["residual"]) > limit:
                r["status"] = "outlier"
                r["reason"] = (f"phase residual {r['residual']} above {limit:.2f}, the median + "
                               f"{k:g} x MAD of the accepted sides of half {half}")
    return rows


def frame_drift(first, chunks, u, t, repeat):
    """Per half, the median change (phi, z) of its sides from round 1 (the rows first) to the
    rows of the chunk tables. Round 1 put every side in the reference's frame; a later round
    aligns each half to its own average, whose frame may slide along a direction that the
    data pin only weakly (a screw motion of the helix), the same for all sides of the half.
    The median change of a half is that slide, not information; subtracting it keeps both
    halves in the reference's frame. Changes are taken between symmetry equivalents nearest
    (0, 0); only sides ok in round 1 and of the same polarity count; halves with fewer than
    three such sides are left as they are."""
    import quorvan_wf as wf

    before = {(r["particle"], r["side"]): r for r in first if r["status"] == "ok"}
    changes = {}
    for path in chunks:
        with open(path) as f:
            for line in f:
                fields = line.rstrip("\n").split("\t")
                name, side, phi, z = fields[0], fields[1], fields[3], fields[4]
                old = before.get((name, side))
                if old is None or phi == "-" or fields[7] != "ok" or (fields[9:10] or ["-"])[0] != old["polarity"]:
                    continue
                dp, dz = wf.reduce_pair(float(phi) - float(old["phi"]), float(z) - float(old["z"]), u, t, repeat)
                changes.setdefault(int(old["half"]), []).append((dp, dz))
    return {h: (statistics.median(c[0] for c in v), statistics.median(c[1] for c in v))
            for h, v in changes.items() if len(v) >= 3}


def empty_half(rows):
    """Why the rows cannot make two half averages (a half without an accepted side), or ""."""
    for half in ("1", "2"):
        mine = [r for r in rows if r["half"] == half]
        if not any(r["status"] == "ok" for r in mine):
            counts = {}
            for r in mine:
                counts[r["status"]] = counts.get(r["status"], 0) + 1
            told = ", ".join(f"{k} {v}" for k, v in sorted(counts.items())) or "no rows"
            example = next((f" (e.g. {r['particle']} {r['side']}: {r['reason']})" for r in mine), "")
            return f"half {half} has no accepted side ({told}){example}"
    return ""
