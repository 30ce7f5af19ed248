#!/usr/bin/env python3
"""Aligns one chunk of particles to the reference (round 1): for each particle (helixft for an
image) -> sidesplit -> gridscan of the near side and of the far side against the reference's
near side, under one polarity or both, with the residual that random phases would give for the
side's amplitudes (acceptance.random_phase_stats) beside the fit. A particle whose programs
fail gets the status failed and the program's message as its reason, a side above a fixed
threshold (if one is given) the status residual; the chunk goes on. Writes the chunk's
layer-line files into a folder and its rows into a table, each built aside and renamed."""
import argparse
import os
import re
import subprocess
from pathlib import Path

import acceptance
import quorvan_wf as wf
import sides
import star_particles

MINIMUM = re.compile(r"^0PHASE MINIMUM\s*(\S+)\s+AT PHI=\s*(\S+)\s+Z=\s*(\S+)\s+RSCALE =\s*(\S+)")


class Failed(Exception):
    pass


def message_of(prog, proc):
    """The program's own words: its last line on standard error, else on standard output
    (the image library reports there)."""
    for text in (proc.stderr, proc.stdout):
        lines = [ln.strip() for ln in text.splitlines() if ln.strip()]
        if lines:
            return f"{prog} (status {proc.returncode}): {lines[-1]}"
    return f"{prog} ended with status {proc.returncode}"


def run(prog, args, cwd, env=None, timeout=600):
    try:
        proc = subprocess.run([prog] + args, cwd=cwd, env=env, capture_output=True, text=True,
                              errors="replace", timeout=timeout)
    except subprocess.TimeoutExpired:
        raise Failed(f"{Path(prog).name} did not end within {timeout} s")
    except OSError as e:
        raise Failed(f"{Path(prog).name} could not be started: {e.strerror}")
    if proc.returncode != 0:
        raise Failed(message_of(Path(prog).name, proc))
    return proc


def control_text(a, iside, ipole):
    weights = " ".join([str(a.weight)] * a.layer_lines)
    return (f"{a.layer_lines} {1.0 / a.repeat!r} {a.delbr} 0\n{weights}\n"
            f"{a.title[:80]}\n{iside} {ipole}\n")


def gridscan(a, work, side, reference, polarity="same", extra=()):
    """gridscan of one side against reference under one polarity: (phi, z, rscale, residual)."""
    tag = f"{side}-{polarity}"
    (work / f"gridscan-{tag}.ctl").write_text(
        control_text(a, 1 if side == "far" else 0, 1 if polarity == "opposite" else 0))
    proc = run(a.gridscan, ["--control", f"gridscan-{tag}.ctl", "--reference", reference,
                            "--test", f"{side}.dat", "--report", f"gridscan-{tag}.txt", *extra], work)
    found = None
    for line in (work / f"gridscan-{tag}.txt").read_text().splitlines():
        m = MINIMUM.match(line)
        if m:
            found = m.groups()
    if "Aborting search" in proc.stdout:
        raise Failed("gridscan: " + proc.stdout.strip().splitlines()[-1].strip())
    if found is None:
        raise Failed("gridscan wrote no phase minimum")
    resid, phi, z, rsc = found
    if "*" in resid:
        raise Failed("gridscan: no sample of the test was compared with the reference")
    return phi, z, rsc, resid


def within_resolution(a):
    """Which samples (R, layer line l) a search limited to a.resolution compares."""
    if not a.resolution:
        return None
    smax2 = 1.0 / (a.resolution * a.resolution)
    return lambda r, l: r * r + (l / a.repeat) ** 2 <= smax2


def align_side(a, work, side, reference, searches, preferred="same", model=False):
    """One side aligned under each polarity of searches (polarity -> extra gridscan options).
    The other polarity replaces the preferred one only when its residual lies more than
    a.polarity_margin standard errors of the difference below the preferred one's
    (acceptance.difference_error), or the preferred search failed. With model the reference
    is a model of several orders a layer line (the searches then carry gridscan's --model).
    Returns phi, z, rscale, residual, polarity, the residual of random phases with its
    spread, and the other polarity's "phi/z/rscale/residual" (or "-"); raises Failed."""
    found, failure = {}, None
    for pol, extra in searches.items():
        try:
            found[pol] = gridscan(a, work, side, reference, pol, extra)
        except Failed as e:
            failure = failure or e
    if not found:
        raise failure
    def stats(pol):
        try:
            return acceptance.random_phase_stats(reference, str(work / f"{side}.dat"), a.layer_lines,
                                                 float(a.delbr), float(a.weight), float(found[pol][2]),
                                                 within_resolution(a), model)
        except acceptance.BadFile as e:
            raise Failed(str(e))

    pol = preferred if preferred in found else next(iter(found))
    other = next((p for p in found if p != pol), None)
    mean, sd = stats(pol)
    if other:
        margin = a.polarity_margin * acceptance.difference_error(float(found[pol][3]), sd)
        if float(found[other][3]) < float(found[pol][3]) - margin:
            pol, other = other, pol
            mean, sd = stats(pol)
    return (*found[pol], pol, f"{mean:.2f}", f"{sd:.2f}", "/".join(found[other]) if other else "-")


def judged_row(a, side, kept, fit):
    """The chunk row of a side from align_side's answer, with the fixed threshold if any."""
    phi, z, rsc, resid, pol, mean, sd, other = fit
    if a.threshold is not None and float(resid) > a.threshold:
        return (side, kept, phi, z, rsc, resid, "residual",
                f"phase residual {resid} above the threshold {a.threshold:g}", pol, mean, sd, other)
    return (side, kept, phi, z, rsc, resid, "ok", "-", pol, mean, sd, other)


def failed_row(side, kept, why):
    return (side, kept, "-", "-", "-", "-", "failed", why, "-", "-", "-", "-")


def particle_options(a, name):
    """helixft's options of one particle from its row of the particle table: the CTF's phase
    flip by its own defocus (with the opposite sign for inverted contrast)."""
    row = a.rows.get(name)
    if row is None or not a.ctf:
        return []
    # The CTF as helixsim's ctf line gives it: V, Cs, A, defocus U and V, angle, B-factor.
    v, cs, amp, b = a.ctf
    out = ["--ctf", v, cs, amp, row["defocus_u"], row["defocus_v"], row["defocus_angle"], b]
    return out + (["--inverted"] if a.inverted else [])


def helixft_options(row):
    """helixft's options from the particle's row of the particle table (none without one):
    the section of a stack, the offsets and the in-plane angle."""
    return star_particles.helixft_options(row) if row else []


def one_particle(a, src, name, work, keep, row=None):
    """Rows (side, file, phi, z, rscale, residual, status, reason, sides) of one particle and
    its sides' agreement per layer line."""
    work.mkdir()
    try:
        transform = os.path.abspath(src)
        if a.input == "images":
            run(a.helixft, ["--image", transform, "--transform", "transform.map"] + a.helixft_args
                + helixft_options(row) + particle_options(a, name), work)
            transform = "transform.map"
        os.symlink(os.path.abspath(a.deck), work / "sidesplit.dek")
        run(a.sidesplit, [], work, env=dict(os.environ, IN=transform))
        if a.full_deck:
            # the whole deck, for the averages that separate the orders
            (work / "full").mkdir()
            os.symlink(os.path.abspath(a.full_deck), work / "full" / "sidesplit.dek")
            run(a.sidesplit, [], work / "full", env=dict(os.environ, IN=os.path.abspath(work / transform)))
    except Failed as e:
        return [failed_row(side, "-", str(e)) + ("-", "-") for side in ("near", "far")], []
    agree, per_line = side_agreement(work)
    keep.mkdir()
    if a.full_deck:
        for side in ("near", "far"):
            os.replace(work / "full" / f"{side}.dat", keep / f"full-{side}.dat")
    rows = []
    for side in ("near", "far"):
        os.replace(work / f"{side}.dat", keep / f"{side}.dat")
        os.symlink(os.path.abspath(keep / f"{side}.dat"), work / f"{side}.dat")
        kept = f"{a.final_dir}/{name}/{side}.dat"
        try:
            searches = {pol: a.gridscan_args for pol in a.polarities}
            rows.append(judged_row(a, side, kept, align_side(a, work, side, a.reference, searches)))
        except Failed as e:
            rows.append(failed_row(side, kept, str(e)))
    # the sides' agreement is the particle's, the same on both of its rows
    return [row + agree for row in rows], per_line


def side_agreement(work):
    """The phase residual between the particle's near and far side and its spread for random
    phases (two table fields), and per layer line (rows l, n, residual, weight)."""
    try:
        overall, per, spread = sides.side_residual(work / "near.dat", work / "far.dat")
    except (OSError, ValueError):
        return ("-", "-"), []
    rows = [(l, n, "-" if r is None else f"{r:.2f}", f"{w:.6g}") for (l, n), (r, w) in per.items()]
    if overall is None:
        return ("-", "-"), rows
    return (f"{overall:.2f}", f"{spread:.2f}"), rows


def polarity_choices(text):
    return ["same", "opposite"] if text == "both" else [text]


def add_search_options(ap):
    """The options that align_chunk and realign_chunk share."""
    ap.add_argument("--repeat", type=float, required=True)
    ap.add_argument("--layer-lines", type=int, required=True)
    ap.add_argument("--delbr", required=True)
    ap.add_argument("--weight", default="1.0")
    ap.add_argument("--title", default="particle against the reference")
    ap.add_argument("--threshold", type=float, default=None,
                    help="a fixed residual above which a side is left out (default: none)")
    ap.add_argument("--resolution", type=float, default=None,
                    help="compare only what lies within this resolution (A)")
    ap.add_argument("--polarity-margin", type=float, default=3.0,
                    help="standard errors by which the other polarity's residual must be lower")
    ap.add_argument("--bin", default="")
    ap.add_argument("--names", required=True, help="comma-separated particle names")


def finish_options(a):
    for prog in ("helixft", "sidesplit", "gridscan"):
        setattr(a, prog, str(Path(a.bin) / prog) if a.bin else prog)
    a.gridscan_args = ["--resolution", f"{a.resolution:g}"] if a.resolution else []


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--table", required=True)
    ap.add_argument("--folder", required=True, help="the chunk's folder of layer-line files")
    ap.add_argument("--input", choices=["transforms", "images"], required=True)
    ap.add_argument("--reference", required=True)
    ap.add_argument("--deck", required=True)
    ap.add_argument("--full-deck", default="",
                    help="also sample every particle with this deck, into full-near.dat and full-far.dat "
                         "(nothing when it is the deck itself)")
    ap.add_argument("--polarity", choices=["same", "opposite", "both"], default="both",
                    help="the particles' polarity against the reference; both: each side is "
                         "searched under both and the better kept")
    ap.add_argument("--helixft-args", default="")
    ap.add_argument("--particle-table", default="", help="the particle table: files and options by name")
    ap.add_argument("--ctf", nargs=4, metavar=("KV", "CS", "AMPCONTRAST", "BFACTOR"),
                    help="phase-flip every particle by its CTF (defoci from the particle table)")
    ap.add_argument("--inverted", action="store_true", help="images of inverted contrast")
    add_search_options(ap)
    ap.add_argument("particles", nargs="*")
    a = ap.parse_args()
    finish_options(a)
    a.polarities = polarity_choices(a.polarity)
    a.helixft_args = a.helixft_args.split()
    a.reference = os.path.abspath(a.reference)
    if a.full_deck and Path(a.full_deck).read_bytes() == Path(a.deck).read_bytes():
        a.full_deck = ""
    a.final_dir = a.folder
    names = a.names.split(",")
    rows = {}
    if a.particle_table:
        rows = {r["name"]: r for r in star_particles.read_tsv(a.particle_table)}
        a.particles = [rows[n]["file"] for n in names]
    a.rows = rows
    if len(names) != len(a.particles):
        ap.error("one name for each particle")

    job = f"align_chunk {Path(a.folder).name}"
    scratch = wf.scratch_dir(a.folder)
    keep_root = scratch / "kept"
    keep_root.mkdir()
    lines, agreement = [], ["particle\tl\tn\tresidual\tweight"]
    for src, name in zip(a.particles, names):
        rows, per_line = one_particle(a, src, name, scratch / f"w-{name}", keep_root / name, a.rows.get(name))
        for row in rows:
            if row[6] != "ok":
                # one write a line, so that the lines of jobs running side by side never mix
                os.write(2, f"{job} {name} {row[0]}: {row[6]}: {wf.clean_field(row[7])}\n".encode())
        for row in rows:
            lines.append("\t".join([name] + [wf.clean_field(v) for v in row]))
        agreement += ["\t".join(map(str, (name, *r))) for r in per_line]
    (keep_root / "sides.tsv").write_text("\n".join(agreement) + "\n")
    for w in scratch.glob("w-*"):
        subprocess.run(["rm", "-rf", str(w)], check=True)
    wf.replace_dir(keep_root, a.folder)
    os.rmdir(scratch)
    wf.write_atomic(a.table, "".join(ln + "\n" for ln in lines))


if __name__ == "__main__":
    main()
