#!/usr/bin/env python3
"""Joins the chunk tables into alignments.tsv: the rows in particle order, particles
alternating between half 1 and half 2 (both sides of one particle in the same half; with a
particle table whose filament column is filled, filaments alternate instead, so that the
overlapping segments of one filament never meet in both halves), and the fitted (phi, z)
reduced to the equivalent pair nearest (0, 0)."""
import argparse
import os

import quorvan_wf as wf


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--output", required=True)
    ap.add_argument("--rule", type=int, nargs=2, required=True, metavar=("U", "T"))
    ap.add_argument("--repeat", type=float, required=True)
    ap.add_argument("--particle-table", help="the particle table: its filament column groups the halves")
    ap.add_argument("chunks", nargs="+")
    a = ap.parse_args()
    filament = {}
    if a.particle_table:
        filament = {r["name"]: r["filament"] for r in wf.read_table(a.particle_table) if r.get("filament")}
    u, t = a.rule
    out = ["\t".join(wf.COLUMNS)]
    order = {}
    for path in a.chunks:
        with open(path) as f:
            for line in f:
                name, side, file, phi, z, rsc, resid, status, reason = line.rstrip("\n").split("\t")
                if file != "-":
                    # layermean reads a relative file from the table's own folder
                    file = os.path.relpath(file, os.path.dirname(os.path.abspath(a.output)))
                half = order.setdefault(filament.get(name, "particle " + name), len(order)) % 2 + 1
                if status == "ok" or phi != "-":
                    ps, zs = wf.reduce_pair(float(phi), float(z), u, t, a.repeat)
                    ps, zs = f"{ps:.2f}", f"{zs:.2f}"
                else:
                    ps = zs = "-"
                out.append("\t".join([name, side, str(half), file, phi, z, rsc, ps, zs, resid, status, reason]))
    wf.write_atomic(a.output, "\n".join(out) + "\n")


if __name__ == "__main__":
    main()
