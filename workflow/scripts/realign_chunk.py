#!/usr/bin/env python3
"""One chunk of a refinement round after the first: every side that has layer-line data is
aligned again, against the average of its own half from the previous round, with the search
narrowed around its previous answer (gridscan --around), under the polarity it has (round 1's,
or its half's turned over by match_halves): an average that holds the side favours the polarity
it was given, so the side's own polarity is not searched afresh. When its sibling (the other
side of the particle) is accepted with an answer beyond that narrowed search, or in the other
polarity, the side is also searched around the sibling's answer in the sibling's polarity, and
the lower residual kept. The side's layer-line files stay where the first round put them.
Writes the chunk's rows, built aside and renamed."""
import argparse
import os
import shutil
from pathlib import Path

import align_chunk as ac
import quorvan_wf as wf


def realign(a, row, sibling, folder, work):
    """The chunk row of one side of the previous round's table."""
    side = row["side"]
    if row["file"] == "-" or row["phi"] == "-":
        return ac.failed_row(side, row["file"], row["reason"])
    kept = row["file"] if os.path.isabs(row["file"]) else os.path.normpath(folder / row["file"])
    work.mkdir(parents=True, exist_ok=True)
    link = work / f"{side}.dat"
    if link.is_symlink() or link.exists():
        link.unlink()
    os.symlink(os.path.abspath(kept), link)
    reference = a.references[int(row["half"]) - 1]
    pol = row.get("polarity") or "same"
    starts = [(pol, row["phi"], row["z"], row["rscale"])] + sibling_start(a, row, sibling)
    fits, failure = [], None
    for p, phi, z, rsc in starts:
        try:
            fits.append(ac.align_side(a, work, side, reference, {p: a.gridscan_args + ["--around", phi, z, rsc]}, p))
        except ac.Failed as e:
            failure = failure or e
    if not fits:
        return ac.failed_row(side, kept, str(failure))
    # the lower residual; the side's own start on a tie
    return ac.judged_row(a, side, kept, min(fits, key=lambda f: float(f[3])))


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


# Half the width of the narrowed search's first grid (degrees and Angstroms).
REACH = 2.5


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--table", required=True, help="the chunk's rows (output)")
    ap.add_argument("--previous", required=True, help="the previous round's alignment table")
    ap.add_argument("--references", nargs=2, required=True, metavar=("HALF1", "HALF2"),
                    help="the previous round's half averages")
    ap.add_argument("--rule", type=int, nargs=2, required=True, metavar=("U", "T"),
                    help="the selection rule, for the symmetry equivalent of a sibling's answer")
    ac.add_search_options(ap)
    a = ap.parse_args()
    ac.finish_options(a)
    a.references = [os.path.abspath(r) for r in a.references]
    names = a.names.split(",")
    previous = Path(a.previous).resolve()
    rows = [r for r in wf.read_table(previous) if r["particle"] in set(names)]
    scratch = wf.scratch_dir(a.table)
    lines = []
    for r in sorted(rows, key=lambda r: names.index(r["particle"])):
        # the near-far agreement of round 1's sides goes with the particle
        sibling = next((o for o in rows if o["particle"] == r["particle"] and o["side"] != r["side"]), None)
        row = realign(a, r, sibling, previous.parent, scratch / f"w-{r['particle']}") + (r.get("sides") or "-", r.get("sides_random_sd") or "-")
        lines.append("\t".join([r["particle"]] + [wf.clean_field(v) for v in row]))
    shutil.rmtree(scratch)
    wf.write_atomic(a.table, "".join(ln + "\n" for ln in lines))


if __name__ == "__main__":
    main()
