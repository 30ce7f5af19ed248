#!/usr/bin/env python3
"""Copies a point-list layer-line file without the layer lines that lie at or beyond a height
(1/A): the map of a run whose check lowered its resolution holds only the layer lines within
it. A block is its label record ("LL" in columns 42-43, l in columns 44-46), its parameter
record, its points and the terminator of three zeros.

usage: keep_layer_lines.py --below S --repeat C --limits LIMITS.tsv IN OUT
(--limits: the check's limits.tsv, whose keep_below is taken when --below is not given)"""
import argparse
import sys
from pathlib import Path

import quorvan_wf as wf


def blocks(lines):
    """The blocks of a point-list file as (l, lines)."""
    i = 0
    while i < len(lines):
        if lines[i][41:43] != "LL":
            raise ValueError(f"line {i + 1}: a layer-line label record was expected")
        l, j = int(lines[i][43:46]), i + 2
        while j < len(lines) and any(float(v) != 0.0 for v in lines[j].split()[:3]):
            j += 1
        yield l, lines[i:j + 1]
        i = j + 1


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--below", type=float)
    ap.add_argument("--limits")
    ap.add_argument("--repeat", type=float, required=True)
    ap.add_argument("input")
    ap.add_argument("output")
    a = ap.parse_args()
    below = a.below
    if below is None:
        below = float({r["key"]: r["value"] for r in wf.read_table(a.limits)}["keep_below"])
    lines = Path(a.input).read_text().splitlines(keepends=True)
    try:
        kept = [ln for l, block in blocks(lines) if abs(l) / a.repeat < below for ln in block]
    except ValueError as e:
        sys.exit(f"keep_layer_lines: {a.input}, {e}")
    wf.write_atomic(a.output, "".join(kept))


if __name__ == "__main__":
    main()
