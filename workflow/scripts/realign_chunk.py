#!/usr/bin/env python3
"""One chunk of a refinement round after the first: every side that has layer-line data is
aligned again, against the average of its own half from the previous round, with the search
narrowed around its previous answer (gridscan --around), under the polarity it has (round 1's,
or its half's turned over by match_halves): an average that holds the side favours the polarity
it was given, so the side's own polarity is not searched afresh. When its sibling (the other
side of the particle) is accepted with an answer beyond that narrowed search, or in the other
polarity, the side is also searched around the sibling's answer in the sibling's polarity, and
the lower residual kept; a row then records the other polarity's answer. From round 3
(--search-polarity) a particle whose previous rows record one (its sides came in different
polarities, and the round before settled it against poorer averages) is searched in the other
polarity too, over the whole grid, and turns over when that residual is lower by more
standard errors of the difference than the round before's preference for the one it has. The
side's layer-line files stay where the first round put them.
With --models (the orders separated) each side's whole-deck sample is aligned instead, with
gridscan --model, against its half's separated average of the previous round: every layer
line at every radius the separation holds, not only the radii where a layer line carries one
order. Writes the chunk's rows, built aside and renamed."""
import argparse
import math
import os
import shutil
import sys
from pathlib import Path

import acceptance
import align_chunk as ac
import quorvan_wf as wf


def kept_file(row, folder):
    """A side's layer-line file from the previous round's table (relative to its folder)."""
    return row["file"] if os.path.isabs(row["file"]) else os.path.normpath(folder / row["file"])


def earlier_margin(rows):
    """None when no previous row of the particle records the other polarity's answer (its
    polarity is settled); else the margin, in standard errors of the difference
    (acceptance.difference_error), by which the round before preferred the polarity it has:
    its sides came in different polarities and that round decided between them."""
    margins = []
    for r in rows:
        other = r.get("other_polarity", "-")
        if other in ("", "-") or r.get("random_sd", "-") in ("", "-") or r["residual"] == "-":
            continue
        own = float(r["residual"])
        margins.append(max(0.0, (float(other.split("/")[3]) - own) / acceptance.difference_error(own, float(r["random_sd"]))))
    return max(margins) if margins else None


def turned_over(own, turned, margin):
    """Whether the fit of the other polarity (turned) replaces the particle's own: its residual
    lower by more than margin standard errors of the difference. The round that saw the
    difference more clearly decides."""
    lower = float(own[3]) - float(turned[3])
    return lower > 0.0 and lower > margin * acceptance.difference_error(float(turned[3]), float(turned[6]))


def with_other(fits, pool):
    """The fits, each with the lowest fit of the other polarity in pool as its other
    polarity's answer (its last field), where there is one."""
    out = []
    for f in fits:
        opp = [x for x in pool if x[4] != f[4]]
        out.append(f[:7] + ("/".join(min(opp, key=lambda x: float(x[3]))[:4]) if opp else f[7],))
    return out


def realign(a, row, sibling, folder, work, decide=None):
    """The fits of one side of the previous round's table (align_side's answers, one for each
    start), or its failed row. With decide (earlier_margin's) the side is also searched over
    the whole grid in the other polarity, which it takes when turned_over says so."""
    side = row["side"]
    if row["file"] == "-" or row["phi"] == "-":
        return ac.failed_row(side, row["file"], row["reason"])
    kept = kept_file(row, folder)
    work.mkdir(parents=True, exist_ok=True)
    link = work / f"{side}.dat"
    if link.is_symlink() or link.exists():
        link.unlink()
    half = int(row["half"]) - 1
    full = Path(kept).with_name("full-" + Path(kept).name)
    model = bool(a.models) and full.exists() and model_fits(a, a.models[half], full)
    os.symlink(os.path.abspath(full if model else kept), link)
    reference = a.models[half] if model else a.references[half]
    extra = a.gridscan_args + FIT + (["--model"] if model else [])
    pol = row.get("polarity") or "same"
    starts = [(pol, row["phi"], row["z"], row["rscale"])] + sibling_start(a, row, sibling)
    fits, failure = [], None
    for p, phi, z, rsc in starts:
        try:
            fits.append(ac.align_side(a, work, side, reference, {p: extra + ["--around", phi, z, rsc]}, p, model))
        except ac.Failed as e:
            failure = failure or e
    if not fits:
        return ac.failed_row(side, kept, str(failure))
    turn = "opposite" if pol == "same" else "same"
    pool = list(fits)
    if decide is not None and not model and not any(f[4] == turn for f in fits):
        try:
            probe = ac.align_side(a, work, side, reference, {turn: extra}, turn)
            pool.append(probe)
            if turned_over(min(fits, key=lambda f: float(f[3])), probe, decide):
                fits.append(probe)
        except ac.Failed:
            pass
    return side, kept, with_other(fits, pool)


_MODELS = {}


def model_fits(a, model, test):
    """Whether gridscan --model pairs the test file's blocks with the model's layer lines
    rightly: test block k meets the model's layer line k, so the first a.layer_lines of each
    must be the same layer lines in the same order, each test block's order one of its layer
    line's. The whole-deck sides and the separated averages made from them agree by
    construction (the averages keep the data's block order); a side that does not is aligned
    against the one-order reference instead, with a note."""
    if model not in _MODELS:
        _MODELS[model] = [(l, set(orders)) for _, orders, l, _ in acceptance.model_layer_lines(model, a.layer_lines)]
    lines = _MODELS[model]
    blocks = [(n, l) for _, n, l, _ in acceptance.read_point_list(str(test), a.layer_lines)]
    if len(blocks) == len(lines) and all(l == ml and n in orders for (n, l), (ml, orders) in zip(blocks, lines)):
        return True
    print(f"realign_chunk: {test}: its layer lines (n, l) {blocks} are not the layer lines of the model {model} "
          f"{[(sorted(o), l) for l, o in lines]}; aligned against the one-order reference", file=sys.stderr)
    return False


def choose(a, found):
    """The chunk rows of one particle's sides from their fits (realign's answers): each side
    its lowest residual (its own start on a tie). When the sides would then differ in
    polarity and both were searched in both, the polarity whose residuals summed over the two
    sides are lower is taken for both: a side's own average holds it in the polarity it was
    given, which favours that one; over both sides the favours cancel."""
    best = lambda fits: min(fits, key=lambda f: float(f[3]))  # noqa: E731
    sides = [f for f in found if len(f) == 3]
    pols = {best(f[2])[4] for f in sides}
    if len(sides) == 2 and len(pols) == 2:
        by = [{p: best([x for x in f[2] if x[4] == p]) for p in pols if any(x[4] == p for x in f[2])} for f in sides]
        if all(len(b) == 2 for b in by):
            pol = min(sorted(pols), key=lambda p: sum(float(b[p][3]) for b in by))
            return [ac.judged_row(a, f[0], f[1], b[pol]) for f, b in zip(sides, by)]
    return [ac.judged_row(a, f[0], f[1], best(f[2])) if len(f) == 3 else f for f in found]


def sibling_start(a, row, sibling):
    """The other side's polarity and answer as a second start, when it lies beyond the
    narrowed search around this side's own: a particle's near and far sides are one particle
    in one motion and one polarity, so a side that a wide search left in a wrong valley, or
    in the polarity that its sibling does not share, finds the right one from its sibling's
    answer (taken as the symmetry equivalent nearest its own when their polarities agree).
    None when the sibling has no accepted answer or lies within the search's reach."""
    if sibling is None or sibling["phi"] == "-" or sibling["status"] != "ok":
        return []
    pol = sibling.get("polarity") or "same"
    if pol != (row.get("polarity") or "same"):
        return [(pol, sibling["phi"], sibling["z"], sibling["rscale"])]
    u, t = a.rule
    dphi, dz = wf.reduce_pair(float(sibling["phi"]) - float(row["phi"]), float(sibling["z"]) - float(row["z"]),
                              u, t, a.repeat)
    if abs(dphi) <= REACH and abs(dz) <= REACH:
        return []
    return [(pol, f"{float(row['phi']) + dphi:.2f}", f"{float(row['z']) + dz:.2f}", sibling["rscale"])]


# A half average holds little noise beside one particle's: the motion that correlates the two
# best is the better estimate (gridscan --fit vector), about half the phase residual's error.
FIT = ["--fit", "vector"]
# Half the width of the narrowed search's first grid (degrees and Angstroms).
REACH = 2.5
# gridscan compares at most this many layer lines: a joint fit needs twice a.layer_lines.
MAX_LAYER_LINES = 40


def point_blocks(path, count):
    """The first count blocks of a point-list file as lists of its lines, verbatim: label,
    parameter record, the points up to and with the record of R = 0 that ends the block (a
    first point at R = 0 does not end it)."""
    lines = Path(path).read_text().splitlines()
    blocks, i = [], 0
    while len(blocks) < count and i + 1 < len(lines):
        block = lines[i:i + 2]
        i += 2
        while i < len(lines):
            block.append(lines[i])
            i += 1
            if float(lines[i - 1][0:10]) == 0.0 and len(block) > 3:
                break
        blocks.append(block)
    if len(blocks) < count:
        raise ac.Failed(f"{path}: {len(blocks)} layer-line blocks, {count} needed for a joint fit")
    return blocks


def as_near(block):
    """A far-side block in the near side's phases: the far side holds (-1)^n times the near
    side's values, so an odd order's phases turn by 180 degrees (kept within -180..180, written
    with four decimals so that nothing of the three digits read is lost)."""
    n = int(block[1][10:15])
    if n % 2 == 0:
        return block
    out = block[:2]
    for rec in block[2:]:
        r, f, p = float(rec[0:10]), float(rec[10:20]), float(rec[20:30])
        if r == 0.0 and f == 0.0 and p == 0.0 and len(out) > 2:
            out.append(rec)
            continue
        q = math.remainder(p + 180.0, 360.0)
        out.append(rec[0:20] + f"{q:10.4f}" + rec[30:])
    return out


def write_blocks(path, blocks):
    Path(path).write_text("".join(ln + "\n" for b in blocks for ln in b))


def joint_fit(a, rows, folder, work, references, decide=None):
    """One answer for a particle's two accepted sides (rows: near's, far's): the test file
    both.dat holds the near side's first a.layer_lines blocks and then the far side's in the
    near side's phases, the reference twice the half's average, and gridscan searches them as
    one near side of 2 a.layer_lines layer lines. The search starts around the near side's
    answer, and around the far side's too (its equivalent nearest the near side's, in its
    polarity) when that lies beyond the narrowed search's reach or in the other polarity, and
    the lower residual kept; with decide (earlier_margin's) over the whole grid in the other
    polarity too, taken when turned_over says so. The other polarity's answer, where one was
    searched, is the fit's last field. Returns the fit
    (align_side's answer, for both rows); raises ac.Failed."""
    near, far = rows
    if near["half"] != far["half"]:
        raise ac.Failed("the sides lie in different halves")
    work.mkdir(parents=True, exist_ok=True)
    files = [kept_file(r, folder) for r in rows]
    blocks = [point_blocks(f, a.layer_lines) for f in files]
    write_blocks(work / "both.dat", blocks[0] + [as_near(b) for b in blocks[1]])
    half = int(near["half"]) - 1
    reference = work.parent.resolve() / f"twice-half{half + 1}.dat"
    if not reference.exists():
        twice = point_blocks(references[half], a.layer_lines)
        write_blocks(reference, twice + twice)
    b = argparse.Namespace(**vars(a))
    b.layer_lines = 2 * a.layer_lines
    pol = near.get("polarity") or "same"
    extra = b.gridscan_args + FIT
    starts = [(pol, near["phi"], near["z"], near["rscale"])] + sibling_start(a, near, far)
    by_pol, failure = {}, None
    for p, phi, z, rsc in starts:
        try:
            fit = ac.align_side(b, work, "both", str(reference), {p: extra + ["--around", phi, z, rsc]}, p)
        except ac.Failed as e:
            failure = failure or e
            continue
        if p not in by_pol or float(fit[3]) < float(by_pol[p][3]):
            by_pol[p] = fit
    if not by_pol:
        raise failure
    # Sides that came in different polarities each favour their own (their half's average
    # holds them so); in the joint sum the favours cancel, and the lower residual decides.
    best = min(by_pol.values(), key=lambda f: float(f[3]))
    turn = "opposite" if pol == "same" else "same"
    if decide is not None and turn not in by_pol:
        try:
            by_pol[turn] = ac.align_side(b, work, "both", str(reference), {turn: extra}, turn)
            if turned_over(best, by_pol[turn], decide):
                best = by_pol[turn]
        except ac.Failed:
            pass
    other = next((f for f in by_pol.values() if f[4] != best[4]), None)
    return best[:7] + ("/".join(other[:4]) if other else "-",)


def joint_rows(a, mine, previous, work, references):
    """The chunk rows of one particle (mine: its previous rows, near first) from a joint fit,
    or None when the particle does not take one (a side not accepted before, a model search,
    too many layer lines) or the joint search fails (each side is then aligned alone)."""
    if (len(mine) != 2 or a.models or 2 * a.layer_lines > MAX_LAYER_LINES
            or any(r["status"] != "ok" or r["phi"] == "-" or r["file"] == "-" for r in mine)):
        return None
    near = next((r for r in mine if r["side"] == "near"), None)
    far = next((r for r in mine if r["side"] == "far"), None)
    if near is None or far is None:
        return None
    try:
        fit = joint_fit(a, (near, far), previous, work, references, earlier_margin(mine) if a.search_polarity else None)
    except (ac.Failed, ValueError, OSError) as e:
        print(f"realign_chunk: {near['particle']}: its sides aligned one by one: {e}", file=sys.stderr)
        return None
    return [ac.judged_row(a, r["side"], kept_file(r, previous), fit) for r in mine]


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--table", required=True, help="the chunk's rows (output)")
    ap.add_argument("--previous", required=True, help="the previous round's alignment table")
    ap.add_argument("--references", nargs=2, required=True, metavar=("HALF1", "HALF2"),
                    help="the previous round's half averages")
    ap.add_argument("--models", nargs=2, metavar=("HALF1", "HALF2"),
                    help="the previous round's separated half averages: each side's whole-deck sample "
                         "(full-near.dat, full-far.dat) is aligned against its half's with gridscan --model")
    ap.add_argument("--search-polarity", action="store_true",
                    help="a particle whose previous rows record the other polarity's answer is searched "
                         "in both, the one it does not have over the whole grid, and turns over when that "
                         "residual is lower by more standard errors than the round before's preference "
                         "(averages of refined alignments tell the polarities apart where round 1's "
                         "reference could not)")
    ap.add_argument("--rule", type=int, nargs=2, required=True, metavar=("U", "T"),
                    help="the selection rule, for the symmetry equivalent of a sibling's answer")
    ac.add_search_options(ap)
    a = ap.parse_args()
    ac.finish_options(a)
    a.references = [os.path.abspath(r) for r in a.references]
    a.models = [os.path.abspath(r) for r in a.models] if a.models else None
    names = a.names.split(",")
    previous = Path(a.previous).resolve()
    rows = [r for r in wf.read_table(previous) if r["particle"] in set(names)]
    scratch = wf.scratch_dir(a.table)
    lines = []
    ordered = sorted(rows, key=lambda r: names.index(r["particle"]))
    for name in dict.fromkeys(r["particle"] for r in ordered):
        mine = [r for r in ordered if r["particle"] == name]
        chosen = joint_rows(a, mine, previous.parent, scratch / f"j-{name}", a.references)
        if chosen is None:
            found = []
            for r in mine:
                sibling = next((o for o in mine if o["side"] != r["side"]), None)
                found.append(realign(a, r, sibling, previous.parent, scratch / f"w-{name}",
                                     earlier_margin(mine) if a.search_polarity else None))
            chosen = choose(a, found)
        for r, row in zip(mine, chosen):
            # the near-far agreement of round 1's sides goes with the particle
            row = row + (r.get("sides") or "-", r.get("sides_random_sd") or "-")
            lines.append("\t".join([name] + [wf.clean_field(v) for v in row]))
    shutil.rmtree(scratch)
    wf.write_atomic(a.table, "".join(ln + "\n" for ln in lines))


if __name__ == "__main__":
    main()
