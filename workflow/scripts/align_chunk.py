#!/usr/bin/env python3
"""Aligns one chunk of particles to the reference: for each particle (helixft for an image)
-> sidesplit -> gridscan of the near side and of the far side against the reference's near
side. A particle whose programs fail, or whose residual is above the threshold, gets a status
other than ok and the program's message as its reason; the chunk goes on. Writes the chunk's
layer-line files into a folder and its rows into a table, each built aside and renamed."""
import argparse
import os
import re
import subprocess
from pathlib import Path

import quorvan_wf as wf
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


def control_text(a, iside):
    weights = " ".join([str(a.weight)] * a.layer_lines)
    return (f"{a.layer_lines} {1.0 / a.repeat!r} {a.delbr} 0\n{weights}\n"
            f"{a.title[:80]}\n{iside} {1 if a.opposite else 0}\n")


def gridscan(a, work, side):
    (work / f"gridscan-{side}.ctl").write_text(control_text(a, 1 if side == "far" else 0))
    proc = run(a.gridscan, ["--control", f"gridscan-{side}.ctl", "--reference", a.reference,
                            "--test", f"{side}.dat", "--report", f"gridscan-{side}.txt"], work)
    found = None
    for line in (work / f"gridscan-{side}.txt").read_text().splitlines():
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


def helixft_options(row):
    """helixft's options from the particle's row of the particle table (none without one):
    the section of a stack, the offsets and the in-plane angle."""
    return star_particles.helixft_options(row) if row else []


def one_particle(a, src, name, work, keep, row=None):
    """Rows (side, file, phi, z, rscale, residual, status, reason) of one particle."""
    work.mkdir()
    try:
        transform = os.path.abspath(src)
        if a.input == "images":
            run(a.helixft, ["--image", transform, "--transform", "transform.map"] + a.helixft_args +
                helixft_options(row), work)
            transform = "transform.map"
        os.symlink(os.path.abspath(a.deck), work / "sidesplit.dek")
        run(a.sidesplit, [], work, env=dict(os.environ, IN=transform))
    except Failed as e:
        return [(side, "-", "-", "-", "-", "-", "failed", str(e)) for side in ("near", "far")]
    keep.mkdir()
    rows = []
    for side in ("near", "far"):
        os.replace(work / f"{side}.dat", keep / f"{side}.dat")
        os.symlink(os.path.abspath(keep / f"{side}.dat"), work / f"{side}.dat")
        kept = f"{a.final_dir}/{name}/{side}.dat"
        try:
            phi, z, rsc, resid = gridscan(a, work, side)
        except Failed as e:
            rows.append((side, kept, "-", "-", "-", "-", "failed", str(e)))
            continue
        if float(resid) > a.threshold:
            rows.append((side, kept, phi, z, rsc, resid, "residual",
                         f"phase residual {resid} above the threshold {a.threshold}"))
        else:
            rows.append((side, kept, phi, z, rsc, resid, "ok", "-"))
    return rows


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--table", required=True)
    ap.add_argument("--folder", required=True, help="the chunk's folder of layer-line files")
    ap.add_argument("--input", choices=["transforms", "images"], required=True)
    ap.add_argument("--reference", required=True)
    ap.add_argument("--deck", required=True)
    ap.add_argument("--repeat", type=float, required=True)
    ap.add_argument("--layer-lines", type=int, required=True)
    ap.add_argument("--delbr", required=True)
    ap.add_argument("--weight", default="1.0")
    ap.add_argument("--title", default="particle against the reference")
    ap.add_argument("--opposite", action="store_true", help="test data of opposite polarity")
    ap.add_argument("--threshold", type=float, required=True)
    ap.add_argument("--bin", default="")
    ap.add_argument("--helixft-args", default="")
    ap.add_argument("--names", required=True, help="comma-separated particle names")
    ap.add_argument("--particle-table", help="the particle table: files and options by name")
    ap.add_argument("particles", nargs="*")
    a = ap.parse_args()
    for prog in ("helixft", "sidesplit", "gridscan"):
        setattr(a, prog, str(Path(a.bin) / prog) if a.bin else prog)
    a.helixft_args = a.helixft_args.split()
    a.reference = os.path.abspath(a.reference)
    a.final_dir = a.folder
    names = a.names.split(",")
    rows = {}
    if a.particle_table:
        rows = {r["name"]: r for r in star_particles.read_tsv(a.particle_table)}
        a.particles = [rows[n]["file"] for n in names]
    if len(names) != len(a.particles):
        ap.error("one name for each particle")

    scratch = wf.scratch_dir(a.folder)
    keep_root = scratch / "kept"
    keep_root.mkdir()
    lines = []
    for src, name in zip(a.particles, names):
        for row in one_particle(a, src, name, scratch / f"w-{name}",
                                keep_root / name, rows.get(name)):
            lines.append("\t".join([name] + [wf.clean_field(v) for v in row]))
    for w in scratch.glob("w-*"):
        subprocess.run(["rm", "-rf", str(w)], check=True)
    wf.replace_dir(keep_root, a.folder)
    os.rmdir(scratch)
    wf.write_atomic(a.table, "".join(ln + "\n" for ln in lines))


if __name__ == "__main__":
    main()
