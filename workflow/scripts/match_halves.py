#!/usr/bin/env python3
"""Brings half 2 of a round's alignment table into half 1's frame. Each half is aligned to its
own average, and each average may settle anywhere along a motion that the data pin only
loosely (for a thin helix a screw motion that leaves its strongest layer lines unchanged);
the two halves then stand in frames of their own, which blurs their combined average and
lowers their FSC without saying anything about the data. The half averages (layermean) are
aligned to each other by one gridscan (half 2's average against half 1's, at full
resolution, the whole first-pass grid), and that motion is added to every half-2 side:
moving a side by (phi, z) brings it onto half 2's average and moving that by (dphi, dz) onto
half 1's, so the side moved by (phi + dphi, z + dz) lies on half 1's. Only these two numbers
pass between the halves; each side's own alignment stays its half's.
Reads the table with half 2 as aligned, writes it with half 2 moved (built aside and
renamed) and the motion as one line "dphi dz residual polarity" (or "0 0 - same" and the
reason when the averages cannot be aligned). Half 2's average is searched under both
polarities: a half whose sides all came out of round 1 in the polarity that does not fit
(where the reference cannot tell the polarities apart) turns over as a whole.
With --reference, the whole data set is then held in the reference's frame where the
reference can tell: half 1's average is aligned to the reference within what round 1
compared (gridscan, the phase residual), and every side of both halves moved by that motion, less
its part along the screw motion the reference leaves free (frame.py), which the reference
cannot place and the data set keeps as it found it. Rounds aligned to their own averages
would otherwise let the data set slide across what round 1 fixed; the two numbers are a
second line of the motion file, "anchor dphi dz"."""
import argparse
import os
import shutil
import subprocess
import sys
from pathlib import Path

import acceptance
import align_chunk as ac
import frame
import quorvan_wf as wf


def half_motion(a, table, work):
    """(dphi, dz, residual, polarity) that brings half 2's average onto half 1's; raises
    ac.Failed. Both polarities are searched: the opposite one is taken when its residual lies
    more than a.polarity_margin standard errors of the difference below the same one's."""
    cmd = [a.layermean, "--table", str(table), "--repeat", f"{a.repeat:g}", "--output", "average.dat",
           "--halves", "half1.dat", "half2.dat", *a.layermean_args]
    proc = subprocess.run(cmd, cwd=work, capture_output=True, text=True, errors="replace")
    if proc.returncode != 0:
        raise ac.Failed(ac.message_of("layermean", proc))
    found = {pol: ac.gridscan(a, work, "half2", "half1.dat", pol) for pol in ("same", "opposite")}
    pol = "same"
    try:
        _, sd = acceptance.random_phase_stats(str(work / "half1.dat"), str(work / "half2.dat"), a.layer_lines,
                                              float(a.delbr), float(a.weight), float(found["same"][2]))
        margin = a.polarity_margin * acceptance.difference_error(float(found["same"][3]), sd)
        if float(found["opposite"][3]) < float(found["same"][3]) - margin:
            pol = "opposite"
    except acceptance.BadFile:
        pass
    phi, z, _, resid = found[pol]
    dphi, dz = wf.reduce_pair(float(phi), float(z), a.rule[0], a.rule[1], a.repeat)
    return dphi, dz, resid, pol


def anchor_motion(a, work):
    """(dphi, dz) that brings half 1's average (work/half1.dat) onto the reference within
    a.anchor_resolution, less its part along the motion the reference leaves free (all of it
    when the reference pins both phi and z, nothing when it carries only the equator); raises
    ac.Failed."""
    strong, weak, direction, _ = frame.pinning(a.reference, a.layer_lines, a.repeat, a.anchor_resolution)
    if strong == 0.0:
        return 0.0, 0.0
    extra = ["--resolution", f"{a.anchor_resolution:g}"] if a.anchor_resolution else []
    phi, z, _, _ = ac.gridscan(a, work, "half1", a.reference, "same", extra)
    dphi, dz = wf.reduce_pair(float(phi), float(z), a.rule[0], a.rule[1], a.repeat)
    if weak < frame.WEAK * strong:
        along = frame.along((dphi, dz), direction, a.repeat)
        dphi, dz = dphi - along[0], dz - along[1]
    return dphi, dz


def other_moved(text, sign, dphi, dz):
    """The other polarity's answer "phi/z/rscale/residual" (or "-") with its motion (phi, z)
    taken to (sign phi + dphi, sign z + dz), as the row's own."""
    if text in ("", "-"):
        return text
    phi, z, rest = text.split("/", 2)
    return f"{sign * float(phi) + dphi:.2f}/{sign * float(z) + dz:.2f}/{rest}"


def move_row(r, sign, dphi, dz, u, t, repeat):
    """A row's answer (phi, z) and its other polarity's taken to (sign phi + dphi, sign z + dz),
    its pair nearest (0, 0) recomputed."""
    r["phi"] = f"{sign * float(r['phi']) + dphi:.2f}"
    r["z"] = f"{sign * float(r['z']) + dz:.2f}"
    r["other_polarity"] = other_moved(r.get("other_polarity", "-"), sign, dphi, dz)
    ps, zs = wf.reduce_pair(float(r["phi"]), float(r["z"]), u, t, repeat)
    r["phi_sym"], r["z_sym"] = f"{ps:.2f}", f"{zs:.2f}"


def shifted(rows, dphi, dz, u, t, repeat):
    """The rows with every side that has an answer moved by (dphi, dz) (the other polarity's
    answer too)."""
    for r in rows:
        if r["phi"] != "-":
            move_row(r, 1.0, dphi, dz, u, t, repeat)
    return rows


def moved(rows, dphi, dz, polarity, u, t, repeat):
    """The rows with every half-2 side that has an answer moved by (dphi, dz), its pair
    nearest (0, 0) recomputed. With polarity opposite (half 2's average fits half 1's only
    with its phases negated) every half-2 side also turns over: a side's data D moved by m lie
    on half 2's average A2; negated, -(D moved by m) = (-D) moved by -m lies on -A2, which
    moved by (dphi, dz) lies on half 1's; so the side takes the other polarity and the motion
    (dphi - phi, dz - z); the other polarity's answer, turned likewise, becomes the answer for
    the polarity the side no longer has."""
    for r in rows:
        if r["half"] != "2" or r["phi"] == "-":
            continue
        if polarity == "opposite":
            r["polarity"] = "same" if r.get("polarity", "same") == "opposite" else "opposite"
        move_row(r, -1.0 if polarity == "opposite" else 1.0, dphi, dz, u, t, repeat)
    return rows


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--table", required=True, help="the round's table as its halves were aligned")
    ap.add_argument("--output", required=True, help="the table with half 2 in half 1's frame")
    ap.add_argument("--motion", required=True, help="the motion applied to half 2 (output)")
    ap.add_argument("--rule", type=int, nargs=2, required=True, metavar=("U", "T"))
    ap.add_argument("--layermean-args", default="", help="layermean's options (the CTF weights)")
    ap.add_argument("--reference", help="round 1's reference: hold the data set in its frame where it can tell")
    ap.add_argument("--anchor-resolution", type=float, default=None,
                    help="compare half 1's average with the reference only within this resolution (A)")
    ac.add_search_options(ap)
    a = ap.parse_args()
    ac.finish_options(a)
    a.layermean = str(Path(a.bin) / "layermean") if a.bin else "layermean"
    a.layermean_args = a.layermean_args.split()
    a.reference = os.path.abspath(a.reference) if a.reference else None
    table = Path(a.table).resolve()
    text = table.read_text()
    head = text.splitlines()[0].split("\t")
    rows = wf.read_table(table)
    work = wf.scratch_dir(a.output)
    anchor = None
    try:
        dphi, dz, resid, polarity = half_motion(a, table, work)
        line = f"{dphi:.2f} {dz:.2f} {resid} {polarity}\n"
    except ac.Failed as e:
        # The halves stay as they were: a note, not a failure; the round's FSC then says
        # how far apart they are.
        print(f"match_halves: {a.table}: half 2 left in its own frame: {e}", file=sys.stderr)
        dphi = dz = 0.0
        polarity = "same"
        line = f"0 0 - same {wf.clean_field(str(e))}\n"
    try:
        if a.reference and (work / "half1.dat").exists():
            anchor = anchor_motion(a, work)
            line += f"anchor {anchor[0]:.2f} {anchor[1]:.2f}\n"
    except (ac.Failed, acceptance.BadFile) as e:
        print(f"match_halves: {a.table}: the data set not held in the reference's frame: {e}", file=sys.stderr)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if dphi or dz or polarity != "same" or anchor:
        rows = moved(rows, dphi, dz, polarity, a.rule[0], a.rule[1], a.repeat)
        if anchor:
            rows = shifted(rows, anchor[0], anchor[1], a.rule[0], a.rule[1], a.repeat)
        text = "\t".join(head) + "\n" + "".join("\t".join(r[c] for c in head) + "\n" for r in rows)
    wf.write_atomic(a.motion, line)
    wf.write_atomic(a.output, text)
    if os.path.abspath(a.table) != os.path.abspath(a.output):
        os.unlink(a.table)


if __name__ == "__main__":
    main()
