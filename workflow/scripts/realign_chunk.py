#!/usr/bin/env python3
"""One chunk of a refinement round after the first: every side that has layer-line data is
aligned again, against the average of its own half from the previous round, with the search
narrowed around its previous answer (gridscan --around), under the polarity round 1 found: an
average that holds the side favours the polarity it was given, so only the reference can judge
it. The
side's layer-line files stay where the first round put them. Writes the chunk's rows, built
aside and renamed."""
import argparse
import os
import shutil
from pathlib import Path

import align_chunk as ac
import quorvan_wf as wf


def realign(a, row, folder, work):
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
    searches = {pol: a.gridscan_args + ["--around", row["phi"], row["z"], row["rscale"]]}
    try:
        fit = ac.align_side(a, work, side, reference, searches, pol)
    except ac.Failed as e:
        return ac.failed_row(side, kept, str(e))
    return ac.judged_row(a, side, kept, fit)


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--table", required=True, help="the chunk's rows (output)")
    ap.add_argument("--previous", required=True, help="the previous round's alignment table")
    ap.add_argument("--references", nargs=2, required=True, metavar=("HALF1", "HALF2"),
                    help="the previous round's half averages")
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
        row = realign(a, r, previous.parent, scratch / f"w-{r['particle']}") + (r.get("sides") or "-", r.get("sides_random_sd") or "-")
        lines.append("\t".join([r["particle"]] + [wf.clean_field(v) for v in row]))
    shutil.rmtree(scratch)
    wf.write_atomic(a.table, "".join(ln + "\n" for ln in lines))


if __name__ == "__main__":
    main()
