#!/usr/bin/env python3
"""Copies an alignment table with each data file that has a whole-deck sample beside it
(full-near.dat beside near.dat, as align_chunk writes them when the orders are separated)
named by that sample instead, every file name made absolute (relative ones taken from the
table's folder, as layermean takes them), so that the copy can live in any folder.

usage: full_table.py TABLE OUT"""
import sys
from pathlib import Path

import quorvan_wf as wf


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    src, dst = Path(sys.argv[1]), Path(sys.argv[2])
    lines = src.read_text().splitlines()
    header = next(i for i, ln in enumerate(lines) if not ln.startswith("#"))
    col = lines[header].split("\t").index("file")
    out = lines[:header + 1]
    for ln in lines[header + 1:]:
        fields = ln.split("\t")
        if ln.startswith("#") or len(fields) <= col:
            out.append(ln)
            continue
        path = Path(fields[col]) if Path(fields[col]).is_absolute() else src.parent / fields[col]
        full = path.with_name("full-" + path.name)
        fields[col] = str((full if full.exists() else path).resolve())
        out.append("\t".join(fields))
    wf.write_atomic(dst, "\n".join(out) + "\n")


if __name__ == "__main__":
    main()
