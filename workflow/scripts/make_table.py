#!/usr/bin/env python3
"""Joins the chunk tables into alignments.tsv: the rows in particle order, particles
alternating between half 1 and half 2 (both sides of one particle in the same half), and the
fitted (phi, z) reduced to the equivalent pair nearest (0, 0)."""
import argparse
import os

import quorvan_wf as wf


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--output", required=True)
    ap.add_argument("--rule", type=int, nargs=2, required=True, metavar=("U", "T"))
    ap.add_argument("--repeat", type=float, required=True)
    ap.add_argument("--particle-table", default="",
                    help="with the CTF: each row also gets its particle's defocus columns")
    ap.add_argument("chunks", nargs="+")
    a = ap.parse_args()
    u, t = a.rule
    # layermean's CTF weights read each row's defocus from the table.
    ctf_rows = ({r["name"]: r for r in wf.read_particle_table(a.particle_table, ctf=True)}
                if a.particle_table else None)
    out = ["\t".join(wf.COLUMNS + (wf.CTF_COLUMNS if ctf_rows is not None else []))]
    order = {}
    for path in a.chunks:
        with open(path) as f:
            for line in f:
                name, side, file, phi, z, rsc, resid, status, reason = line.rstrip("\n").split("\t")
                if file != "-":
                    # layermean reads a relative file from the table's own folder
                    file = os.path.relpath(file, os.path.dirname(os.path.abspath(a.output)))
                half = order.setdefault(name, len(order)) % 2 + 1
                if status == "ok" or phi != "-":
                    ps, zs = wf.reduce_pair(float(phi), float(z), u, t, a.repeat)
                    ps, zs = f"{ps:.2f}", f"{zs:.2f}"
                else:
                    ps = zs = "-"
                fields = [name, side, str(half), file, phi, z, rsc, ps, zs, resid, status, reason]
                if ctf_rows is not None:
                    fields += [ctf_rows[name][c] for c in wf.CTF_COLUMNS]
                out.append("\t".join(fields))
    wf.write_atomic(a.output, "\n".join(out) + "\n")


if __name__ == "__main__":
    main()
