#!/usr/bin/env python3
"""Joins the chunk tables into alignments.tsv: the rows in particle order, particles
alternating between half 1 and half 2 (both sides of one particle in the same half) or in the
halves of --halves, and the fitted (phi, z) reduced to the equivalent pair nearest (0, 0).
With --accept, the sides that are ok are judged against random phases and their half
(acceptance.judge)."""
import argparse
import os
import sys

import acceptance
import quorvan_wf as wf


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--output", required=True)
    ap.add_argument("--rule", type=int, nargs=2, required=True, metavar=("U", "T"))
    ap.add_argument("--repeat", type=float, required=True)
    ap.add_argument("--halves", help="a table of particle and half (the fixed split)")
    ap.add_argument("--accept", type=float, nargs=2, metavar=("SIGNIFICANCE", "K"),
                    help="judge the ok sides: significantly better than random phases, not "
                         "above median + K x MAD of their half")
    ap.add_argument("--need-halves", action="store_true",
                    help="refuse a table that leaves a half without an accepted side")
    ap.add_argument("--refused", help="where a refused table is kept (default: OUTPUT.refused)")
    ap.add_argument("--frame", help="round 1's table: keep each half in its frame (acceptance.frame_drift)")
    ap.add_argument("--frame-halves", type=int, nargs="+", default=[1, 2], metavar="HALF",
                    help="the halves that --frame holds (default both; 1 when half 2 is then "
                         "brought into half 1's frame by match_halves)")
    ap.add_argument("--particle-table", default="",
                    help="with the CTF: each row also gets its particle's defocus columns")
    ap.add_argument("chunks", nargs="+")
    a = ap.parse_args()
    halves = {r["particle"]: int(r["half"]) for r in wf.read_table(a.halves)} if a.halves else None
    u, t = a.rule
    # layermean's CTF weights read each row's defocus from the table.
    ctf_rows = ({r["name"]: r for r in wf.read_particle_table(a.particle_table, ctf=True)}
                if a.particle_table else None)
    columns = wf.COLUMNS + (wf.CTF_COLUMNS if ctf_rows is not None else [])
    out = ["\t".join(columns)]
    order = {}
    shift = {}
    if a.frame:
        shift = acceptance.frame_drift(wf.read_table(a.frame), a.chunks, u, t, a.repeat)
        shift = {h: v for h, v in shift.items() if h in a.frame_halves}
    for path in a.chunks:
        with open(path) as f:
            for line in f:
                fields = line.rstrip("\n").split("\t")
                name, side, file, phi, z, rsc, resid, status, reason = fields[:9]
                # polarity, random residual and spread, the other polarity's answer, and the
                # near-far agreement of the particle's sides with its spread for random phases
                more = (fields[9:] + ["-"] * 6)[:6]
                if file != "-":
                    # layermean reads a relative file from the table's own folder
                    file = os.path.relpath(file, os.path.dirname(os.path.abspath(a.output)))
                half = order.setdefault(name, len(order)) % 2 + 1
                if halves is not None:
                    half = halves[name]
                if half in shift and phi != "-":
                    phi = f"{float(phi) - shift[half][0]:.2f}"
                    z = f"{float(z) - shift[half][1]:.2f}"
                if status == "ok" or phi != "-":
                    ps, zs = wf.reduce_pair(float(phi), float(z), u, t, a.repeat)
                    ps, zs = f"{ps:.2f}", f"{zs:.2f}"
                else:
                    ps = zs = "-"
                fields = [name, side, str(half), file, phi, z, rsc, ps, zs, resid, status, reason, *more]
                if ctf_rows is not None:
                    fields += [ctf_rows[name][c] for c in wf.CTF_COLUMNS]
                out.append("\t".join(fields))
    if a.accept:
        rows = [dict(zip(columns, ln.split("\t"))) for ln in out[1:]]
        acceptance.judge(rows, *a.accept)
        out[1:] = ["\t".join(r[c] for c in columns) for r in rows]
        empty = acceptance.empty_half(rows) if a.need_halves else ""
        if empty:
            # The table stays beside, for a look at the reasons; the round goes no further.
            refused = a.refused or a.output + ".refused"
            wf.write_atomic(refused, "\n".join(out) + "\n")
            sys.exit(f"make_table: {a.output}: {empty}; the table is in {refused}")
    wf.write_atomic(a.output, "\n".join(out) + "\n")


if __name__ == "__main__":
    main()
