#!/usr/bin/env python3
"""The rules of the workflow's scripts that no program run shows directly: the residual of
random phases derived from the amplitudes, the acceptance of sides, the fixed split into
halves, the frame a later round is held in, a round that leaves a half empty, half 2 brought
into half 1's frame (turned over or not), the sibling's start of a later round, a model of
several orders a layer line as a later round's reference, the far side read in the near side's
phases for a particle's joint fit, the motion a reference leaves free, and a polarity decided
again in a later round.

usage: scripts_test.py SOURCE_TOP    Exit status 0 passed, anything else failed."""
import math
import random
import sys
import tempfile
from pathlib import Path

TOP = Path(sys.argv[1]).resolve()
sys.path.insert(0, str(TOP / "workflow" / "scripts"))
import acceptance  # noqa: E402
import quorvan_wf as wf  # noqa: E402

DELBR = 0.002


def check(cond, what):
    if not cond:
        raise AssertionError(what)


def point_list(path, blocks):
    """A point-list layer-line file: blocks of (n, l, [(R, amplitude, phase)]), each point in
    exponent form 10 wide, a terminator of three zeros after each block."""
    def e(v):
        if v == 0:
            return " 0.000E+00"
        x = math.floor(math.log10(abs(v))) + 1
        m = round(abs(v) / 10.0 ** x, 3)
        if m >= 1.0:
            m, x = 0.1, x + 1
        return f"{'-' if v < 0 else ' '}0.{round(m * 1000):03d}E{x:+03d}".rjust(10)

    out = []
    for n, l, pts in blocks:
        out.append(" test block".ljust(61))
        out.append(f"{1.0:10.3f}{n:5d}{l:5d}")
        out += [e(r) + e(f) + e(p) for r, f, p in pts]
        out.append(e(0) + e(0) + e(0))
    Path(path).write_text("\n".join(out) + "\n")


def test_random_phase_stats(tmp):
    """Ground truth by hand: reference samples of amplitude 2, 4, 6 at grid points 2, 3, 4 (R =
    1, 2, 3 x delbr), mean amplitude fmean = 4. The same data as test at scale 1: a sample is
    compared where both neighbouring grid points hold a reference sample, so the samples at 2
    and 3 are compared with weights (2 + 2) / 8 = 0.5 and (4 + 4) / 8 = 1, the one at 4 is not
    (grid point 5 is empty). W = 1.5, sum w^2 = 1.25: mean 90, spread 51.96 sqrt(1.25) / 1.5.
    A test that ends one sample early leaves the reference sample at grid point 4 beyond its
    reach (first = int(2.5 + 2) = 4): it adds 8100 at weight 6 / 4. The resolution limit
    stores only the reference samples within it."""
    ref, test, short = tmp / "ref.dat", tmp / "test.dat", tmp / "short.dat"
    points = [(DELBR, 2.0, 10.0), (2 * DELBR, 4.0, -30.0), (3 * DELBR, 6.0, 100.0)]
    point_list(ref, [(0, 0, points)])
    point_list(test, [(0, 0, points)])
    point_list(short, [(0, 0, points[:2])])
    mean, sd = acceptance.random_phase_stats(str(ref), str(test), 1, DELBR, 1.0, 1.0)
    want = 180 / math.sqrt(12) * math.sqrt(1.25) / 1.5
    check(abs(mean - 90.0) < 1e-9 and abs(sd - want) < 1e-4, f"whole test: {mean}, {sd}, want 90, {want}")
    mean, sd = acceptance.random_phase_stats(str(ref), str(short), 1, DELBR, 1.0, 1.0)
    w, u = 1.5, 1.5
    check(abs(mean - (90 * w + 8100 * u) / (w + u)) < 1e-6, f"short test: mean {mean}")
    check(abs(sd - 180 / math.sqrt(12) * math.sqrt(1.25) / (w + u)) < 1e-4, f"short test: spread {sd}")
    # Within 1 / (2.5 delbr) only grid points 2 and 3 are stored: fmean = 3, the sample at 2 is
    # compared alone, weight 4 / 6.
    mean, sd = acceptance.random_phase_stats(str(ref), str(test), 1, DELBR, 1.0, 1.0,
                                             lambda r, l: r <= 2.5 * DELBR)
    check(abs(mean - 90) < 1e-9 and abs(sd - 180 / math.sqrt(12)) < 1e-4, f"limited: {mean}, {sd}")
    # The derivation itself: weighted means of random phase differences over these weights
    # have that mean and spread.
    rng = random.Random(5)
    weights = [0.5, 1.0, 0.25, 2.0, 1.5]
    draws = [sum(w * abs((rng.uniform(-180, 180) + 180) % 360 - 180) for w in weights) / sum(weights)
             for _ in range(40000)]
    m = sum(draws) / len(draws)
    s = math.sqrt(sum((d - m) ** 2 for d in draws) / len(draws))
    want = 180 / math.sqrt(12) * math.sqrt(sum(w * w for w in weights)) / sum(weights)
    check(abs(m - 90) < 0.5 and abs(s / want - 1) < 0.02, f"simulated {m:.2f} +- {s:.2f}, derived 90 +- {want:.2f}")


def side(half, residual, random_residual="90.00", random_sd="5.00", status="ok"):
    return {"half": str(half), "residual": f"{residual:.3f}", "random_residual": random_residual,
            "random_sd": random_sd, "status": status, "reason": "-"}


def test_judge():
    """Significance: with spread 5 and significance 6 the limit is 60; outliers: above
    median + k x max(1.4826 MAD, median spread) of the accepted sides of each half."""
    rows = [side(1, v) for v in (20, 21, 22, 23, 24, 59.9)] + [side(1, 60.5), side(2, 30), side(2, 30),
                                                             side(2, 30), side(2, 36), side(2, 46),
                                                             side(2, 10, status="failed")]
    acceptance.judge(rows, 6, 3)
    got = [r["status"] for r in rows]
    # half 1: 60.5 is random; of the rest the median is 22.5, MAD 1.5 x 1.4826 < spread 5,
    # limit 22.5 + 15 = 37.5: 59.9 is an outlier. half 2: median 30, MAD 0, limit 45.
    want = ["ok"] * 5 + ["outlier", "random", "ok", "ok", "ok", "ok", "outlier", "failed"]
    check(got == want, f"statuses {got}, want {want}")
    check("not 6 spreads below 90.00" in rows[6]["reason"] and "above 60.00" in rows[6]["reason"], rows[6]["reason"])
    check("median + 3 x MAD" in rows[5]["reason"] and "half 1" in rows[5]["reason"], rows[5]["reason"])


def test_split():
    """Without filaments the particles alternate; with them no filament spans both halves,
    the halves differ by at most the largest filament, and particles without one count alone."""
    names = [f"p{i}" for i in range(7)]
    check(wf.split_halves(names) == {n: i % 2 + 1 for i, n in enumerate(names)}, "alternating halves")
    rng = random.Random(3)
    for _ in range(200):
        count = rng.randint(2, 40)
        names = [f"p{i}" for i in range(count)]
        fil = [rng.choice(["a", "b", "c", "d", "e", "", None]) for _ in names]
        half = wf.split_halves(names, fil)
        groups = {}
        for n, f in zip(names, fil):
            if f:
                groups.setdefault(f, set()).add(half[n])
        check(all(len(h) == 1 for h in groups.values()), f"a filament in both halves: {fil}")
        sizes = [sum(1 for n in names if half[n] == h) for h in (1, 2)]
        largest = max([fil.count(f) for f in groups] + [1])
        check(abs(sizes[0] - sizes[1]) <= largest, f"halves {sizes} with filaments {fil}")


def test_frame(tmp):
    """Each half's common slide from round 1 is taken out, measured between symmetry
    equivalents: half 1 moved by (-8, 6.5) (one side by a whole subunit step more), half 2
    not at all; a side of the other polarity or not ok in round 1 does not count."""
    u, t, c = 20, 7, 100.0
    first = [{"particle": f"p{i}", "side": "near", "half": str(i % 2 + 1), "phi": f"{i:.1f}", "z": f"{-i:.1f}",
              "status": "ok", "polarity": "same"} for i in range(12)]
    first[6]["status"] = "random"
    lines = []
    for i, r in enumerate(first):
        dp, dz = (-8.0, 6.5) if i % 2 == 0 else (0.0, 0.0)
        if i == 2:
            dp, dz = dp + 360.0 * t / u, dz - c / u  # the same motion, a subunit step on
        pol = "opposite" if i == 4 else "same"
        if i in (4, 6):
            dp, dz = 40.0, 30.0
        lines.append(f"p{i}\tnear\tf\t{i + dp}\t{-i + dz}\t1.00\t20.0\tok\t-\t{pol}\t90\t5\t-")
    chunk = tmp / "chunk.tsv"
    chunk.write_text("\n".join(lines) + "\n")
    drift = acceptance.frame_drift(first, [chunk], u, t, c)
    check(set(drift) == {1, 2}, f"halves {sorted(drift)}")
    check(abs(drift[1][0] + 8.0) < 1e-6 and abs(drift[1][1] - 6.5) < 1e-6, f"half 1 drift {drift[1]}")
    check(drift[2] == (0.0, 0.0), f"half 2 drift {drift[2]}")


def test_empty_half(tmp):
    """make_table refuses a round whose half 2 keeps no accepted side (pure noise there), with
    the half, the counts and a reason, and leaves the judged table beside for a look; without
    --need-halves the same table is written."""
    import subprocess

    chunk = tmp / "empty.tsv"
    chunk.write_text("".join(f"p{i}\tnear\t/x/p{i}.dat\t1.0\t2.0\t1.00\t{20 if i % 2 == 0 else 80}.0\tok\t-\t"
                             f"same\t90.00\t3.00\t-\n" for i in range(6)))
    out = tmp / "round.tsv"
    cmd = [sys.executable, str(TOP / "workflow/scripts/make_table.py"), "--output", str(out), "--rule", "20", "7",
           "--repeat", "100", "--accept", "6", "3", str(chunk)]
    proc = subprocess.run(cmd + ["--need-halves"], capture_output=True, text=True)
    check(proc.returncode != 0 and not out.exists(), "a table without half 2 was accepted")
    check("half 2 has no accepted side (random 3)" in proc.stderr and "p1 near" in proc.stderr, proc.stderr)
    check(Path(str(out) + ".refused").exists(), "the refused table is not kept")
    proc = subprocess.run(cmd, capture_output=True, text=True)
    rows = wf.read_table(out)
    check(proc.returncode == 0 and [r["status"] for r in rows] == ["ok", "random"] * 3, proc.stderr)


def layermean_phase(psi, n, l, row, c):
    """The phase at which layermean averages a sample of phase psi on layer line (n, l) of
    the side row (its help): negated for the opposite polarity, n*180 more for a far side,
    then psi - n phi + 360 l z / c."""
    if row["polarity"] == "opposite":
        psi = -psi
    if row["side"] == "far":
        psi += n * 180.0
    return psi - n * float(row["phi"]) + 360.0 * l * float(row["z"]) / c


def test_match_halves():
    """Half 2 brought into half 1's frame by (dphi, dz): every half-2 side's averaged phase
    moves as half 2's average does, psi' = psi - n dphi + 360 l dz / c; turned over (half 2's
    average fits half 1's only negated), psi' = -psi - n dphi + 360 l dz / c, in the other
    polarity; the other polarity's answer moves alike. Half 1 stays. Phases compared modulo
    360, on layer lines of this helix."""
    import match_halves

    u, t, c = 20, 7, 100.0
    rng = random.Random(3)
    lines = [(0, 0), (-3, 1), (-6, 2), (8, 4), (2, 6), (-1, 7), (-7, 9)]
    for turned in ("same", "opposite"):
        rows = [{"particle": f"p{i}", "side": side, "half": str(i % 2 + 1), "polarity": pol,
                 "phi": f"{rng.uniform(-180, 180):.2f}", "z": f"{rng.uniform(-50, 50):.2f}",
                 "phi_sym": "-", "z_sym": "-", "other_polarity": "1/2/1.00/40"}
                for i, (side, pol) in enumerate([(s, p) for s in ("near", "far") for p in ("same", "opposite")] * 2)]
        rows.append(dict(rows[1], phi="-", z="-"))  # a failed side stays as it is
        before = [dict(r) for r in rows]
        dphi, dz = 7.5, -3.25
        match_halves.moved(rows, dphi, dz, turned, u, t, c)
        for b, r in zip(before, rows):
            if b["half"] == "1" or b["phi"] == "-":
                check(r == b, f"{b} changed to {r}")
                continue
            check((r["polarity"] != b["polarity"]) == (turned == "opposite"), f"polarity {b} -> {r}")
            ps, zs = wf.reduce_pair(float(r["phi"]), float(r["z"]), u, t, c)
            check(abs(float(r["phi_sym"]) - ps) < 0.006 and abs(float(r["z_sym"]) - zs) < 0.006, f"sym {r}")
            # the other polarity's answer (the row's other polarity at its motion) moves alike
            flip = {"same": "opposite", "opposite": "same"}
            other = [dict(x, polarity=flip[x["polarity"]], phi=x["other_polarity"].split("/")[0],
                          z=x["other_polarity"].split("/")[1]) for x in (b, r)]
            for (x, y), (n, l) in [(pair, nl) for pair in ((b, r), tuple(other)) for nl in lines]:
                psi = rng.uniform(-180, 180)
                old = layermean_phase(psi, n, l, x, c)
                want = (-old if turned == "opposite" else old) - n * dphi + 360.0 * l * dz / c
                diff = (layermean_phase(psi, n, l, y, c) - want) % 360.0
                check(min(diff, 360.0 - diff) < 0.05 * (1 + abs(n) + abs(l)), f"({n}, {l}) {turned}: {x} -> {y}")


def test_sibling_start():
    """A later round also starts a side from its sibling's answer: the symmetry equivalent
    nearest its own when beyond the narrowed search (2.5 degrees or A), nothing within it or
    from a sibling not accepted, and the sibling's own answer in the sibling's polarity; the
    two sides then share the polarity whose residuals sum lower."""
    import realign_chunk
    from types import SimpleNamespace

    a = SimpleNamespace(rule=(20, 7), repeat=100.0)
    row = {"phi": "10.00", "z": "5.00", "rscale": "1.00", "polarity": "same", "status": "ok"}
    sib = lambda **k: dict(row, rscale="0.99", **k)  # noqa: E731
    check(realign_chunk.sibling_start(a, row, sib(phi="12.00", z="3.00")) == [], "within reach")
    check(realign_chunk.sibling_start(a, row, sib(phi="40.00", status="random")) == [], "not accepted")
    check(realign_chunk.sibling_start(a, row, None) == [], "no sibling")
    # 30 degrees away and a subunit step (126 degrees, -5 A) on: the start is 30 degrees away
    got = realign_chunk.sibling_start(a, row, sib(phi=f"{10 + 30 + 126:.2f}", z=f"{5 - 5:.2f}"))
    check(got == [("same", "40.00", "5.00", "0.99")], f"beyond reach: {got}")
    got = realign_chunk.sibling_start(a, row, sib(phi="11.00", z="5.00", polarity="opposite"))
    check(got == [("opposite", "11.00", "5.00", "0.99")], f"other polarity: {got}")
    # Sides that would part in polarity take the one of the lower sum over both: the near side
    # alone prefers opposite by 1 degree, the far side same by 3.
    a.threshold = None
    fit = lambda pol, resid: ("1.0", "2.0", "1.00", f"{resid:.3f}", pol, "90.00", "4.00", "-")  # noqa: E731
    found = [("near", "n.dat", [fit("opposite", 40.0), fit("same", 41.0)]),
             ("far", "f.dat", [fit("same", 39.0), fit("opposite", 42.0)])]
    rows = realign_chunk.choose(a, found)
    check([(r[0], r[5], r[8]) for r in rows] == [("near", "41.000", "same"), ("far", "39.000", "same")], f"{rows}")
    failed = ("far", "f.dat", "-", "-", "-", "-", "failed", "why", "-", "-", "-", "-")
    rows = realign_chunk.choose(a, [found[0], failed])
    check(rows[0][8] == "opposite" and rows[1] == failed, f"one side failed: {rows}")


def test_model(tmp):
    """A model of several orders a layer line (consecutive blocks of one l) weighs a sample by
    the root of the sum of its orders' squared amplitudes: orders 1 and -9 of amplitudes 3
    and 4 on layer line 1 give the residual of random phases of a one-order reference of
    amplitude 5 there, and a layer line of one order stays as it is. A later round uses such
    a model only for a test that lists its layer lines in its order, each block's order one
    of its layer line's."""
    import realign_chunk

    radii = [k * DELBR for k in (1, 2, 3, 4)]
    pts = lambda f, p: [(r, f * (1 + k), p + 20 * k) for k, r in enumerate(radii)]  # noqa: E731
    model, plain, test, swapped = (tmp / f for f in ("model.dat", "plain.dat", "mtest.dat", "swapped.dat"))
    point_list(model, [(0, 0, pts(2.0, 0.0)), (1, 1, pts(3.0, 40.0)), (-9, 1, pts(4.0, -70.0))])
    point_list(test, [(0, 0, pts(1.0, 50.0)), (-9, 1, pts(2.0, 10.0))])
    point_list(swapped, [(-9, 1, pts(2.0, 10.0)), (0, 0, pts(1.0, 50.0))])
    got = acceptance.random_phase_stats(str(model), str(test), 2, DELBR, 1.0, 1.0, model=True)
    point_list(plain, [(0, 0, pts(2.0, 0.0)), (-9, 1, pts(5.0, 0.0))])
    want = acceptance.random_phase_stats(str(plain), str(test), 2, DELBR, 1.0, 1.0)
    check(all(abs(g - w) < 1e-9 for g, w in zip(got, want)), f"model {got}, one-order equivalent {want}")
    a = type("A", (), {"layer_lines": 2})()
    check(realign_chunk.model_fits(a, str(model), test), "the test's layer lines are the model's")
    check(not realign_chunk.model_fits(a, str(model), swapped), "the test's blocks in another order")


def test_joint_sides(tmp):
    """A particle's far side holds (-1)^n times its near side's values: a far file made so
    reads back in the near side's phases (odd orders turned by 180 degrees) as the near file,
    block for block, within the three digits written; the terminators stay."""
    import realign_chunk

    rng = random.Random(5)
    blocks = [(n, l, [(k * DELBR, rng.uniform(1, 900), rng.uniform(-179, 179)) for k in range(1, 6)])
              for n, l in ((0, 0), (-3, 1), (8, 4), (-1, 7))]
    near, far = tmp / "jnear.dat", tmp / "jfar.dat"
    point_list(near, blocks)
    point_list(far, [(n, l, [(r, f, math.remainder(p + 180.0 * n, 360.0)) for r, f, p in pts]) for n, l, pts in blocks])
    for nb, fb in zip(realign_chunk.point_blocks(near, 4), realign_chunk.point_blocks(far, 4)):
        fb = realign_chunk.as_near(fb)
        check(len(nb) == len(fb) and nb[:2] == fb[:2] and nb[-1] == fb[-1], f"block layout {nb} {fb}")
        for a, b in zip(nb[2:-1], fb[2:-1]):
            diff = (float(a[20:30]) - float(b[20:30])) % 360.0
            check(a[:20] == b[:20] and min(diff, 360.0 - diff) < 1.0, f"{a} against {b}")


def test_reference_frame(tmp):
    """The motion a reference leaves free: layer lines (l, n) = (0, 0) and (1, -3) change phase
    by -3 phi - 360 z / c, so the motion (phi, z) = (-1.2, 1) (c = 100) changes nothing; scaled
    to its larger part 1 it is (-1, 0.833). A layer line beyond the resolution compared leaves
    it free; one within (l = 4, n = 8, not on the family) pins it. The error (-8, 7) has the
    part (-8.36, 6.97) along it (projected where 360 z / c counts as degrees)."""
    import frame

    radii = [k * DELBR for k in range(1, 8)]
    ref = tmp / "frame.dat"
    point_list(ref, [(0, 0, [(r, 900.0, 0.0) for r in radii]), (-3, 1, [(r, 300.0, 50.0) for r in radii]),
                     (8, 4, [(r, 200.0, 10.0) for r in radii])])
    strong, weak, (dphi, dz), lines = frame.pinning(str(ref), 3, 100.0, resolution=30.0)
    check(lines == [(0, 0), (1, -3)] and weak < 1e-6 * strong, f"free: {strong} {weak} {lines}")
    check(abs(dphi + 1.0) < 1e-6 and abs(dz - 100.0 / 120.0) < 1e-6, f"direction ({dphi}, {dz})")
    part = frame.along((-8.0, 7.0), (dphi, dz), 100.0)
    k = (-8.0 * -1.2 + 25.2 * 3.6) / (1.2 ** 2 + 3.6 ** 2)  # (phi, 360 z / c): e = (-8, 25.2), v = (-1.2, 3.6)
    want = (-1.2 * k, k)
    check(abs(part[0] - want[0]) < 1e-3 and abs(part[1] - want[1]) < 1e-3, f"along: {part}")
    strong, weak, _, lines = frame.pinning(str(ref), 3, 100.0)
    check((4, 8) in lines and weak > frame.WEAK * strong, f"pinned: {strong} {weak} {lines}")
    check(frame.verdict(str(ref), 3, 100.0, None).startswith("pinned"), "the verdict of a pinned frame")


def test_polarity_decided_again():
    """A residual of 40 with random spread 5 has a standard error of the difference of
    sqrt 2 x 0.756 x 40 / (180 / sqrt 12) x 5 = 4.115. Rows whose other polarity's answer lies
    4.115 above preferred the polarity they have by 1; none with such an answer: settled. A
    later round turns the particle over only when the other polarity's residual (40) lies more
    than that margin below its own: 45 does, 44 does not."""
    import realign_chunk

    row = {"residual": "40.000", "random_sd": "5.00", "other_polarity": "1.0/2.0/1.000/44.115"}
    margin = realign_chunk.earlier_margin([row, dict(row, other_polarity="-")])
    check(abs(margin - 1.0) < 1e-3, f"margin {margin}")
    check(realign_chunk.earlier_margin([dict(row, other_polarity="-")]) is None, "a settled particle")
    turned = ("1.0", "2.0", "1.000", "40.000", "opposite", "90.00", "5.00", "-")
    own = lambda resid: ("3.0", "4.0", "1.000", resid, "same", "90.00", "5.00", "-")  # noqa: E731
    check(realign_chunk.turned_over(own("45.000"), turned, margin), "lower by 5 > 4.115: turns over")
    check(not realign_chunk.turned_over(own("44.000"), turned, margin), "lower by 4 < 4.115: stays")


def main():
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        test_random_phase_stats(tmp)
        test_judge()
        test_split()
        test_frame(tmp)
        test_empty_half(tmp)
        test_match_halves()
        test_sibling_start()
        test_model(tmp)
        test_joint_sides(tmp)
        test_reference_frame(tmp)
        test_polarity_decided_again()
    print("passed")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except AssertionError as e:
        print(f"FAILED: {e}")
        sys.exit(1)
