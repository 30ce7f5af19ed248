#!/usr/bin/env python3
"""Writes the accepted segments of the alignment table as a STAR file (the current layout, an
optics table and a particle table) from which other programs reconstruct the map.

A segment is accepted when one of its sides is ok (the near side's fit is taken when both
are). In the convention of those programs (measured with relion 3.1.3): a segment at
rot = phi - 90, tilt = 90, psi = 90 is the vertical projection (axis along image +y) of the
reference turned by phi; any other psi shows it turned by -(psi - 90) degrees about the box
centre; an origin offset o shows the content moved by -o. A segment that helixft moved by o
and turned by psi - 90 (star_particles.py) and that then fitted (phi, z) against the
reference is therefore written with
    rot = phi - 90,  tilt = 90,  psi = the segment's own,
    origin = o + z (cos psi, -sin psi)  (Angstroms),
the axial shift z moving the content along the turned axis. Its half is rlnRandomSubset;
its CTF columns, micrograph and filament (rlnHelicalTubeID) are those of the particle
table. Particles given as plain files of one vertical image each have psi 90 and no offsets
of their own: origin (0, -z).

Each segment keeps the image name its STAR file gave it when that name finds the file from
the run's folder, where the workflow and other programs run; otherwise it is named by the
absolute path of its stack ("K@/path/stack.mrcs").

The segment's centre is taken to be the box centre, where helixft turns it by default (no
--box or --axis in helixft_options)."""
import argparse
import math
from pathlib import Path

import quorvan_wf as wf
import star_particles

OPTICS = [("ImagePixelSize", "pixel"), ("ImageSize", "size"), ("Voltage", "voltage"),
          ("SphericalAberration", "cs"), ("AmplitudeContrast", "amplitude_contrast")]
CTF = [("DefocusU", "defocus_u"), ("DefocusV", "defocus_v"), ("DefocusAngle", "defocus_angle")]


def header(path, cache):
    """(columns, voxel size) of an image file."""
    if path not in cache:
        import mrcfile

        with mrcfile.open(path, header_only=True, permissive=True) as m:
            cache[path] = (int(m.header.nx), float(m.voxel_size.x))
    return cache[path]


def star_row(fit, particle, pixel_given, cache):
    """The particle's values: image name, optics key, angles, origin, half and CTF."""
    size, voxel = header(particle["file"], cache)
    pixel = float(particle.get("pixel") or pixel_given or voxel)
    turn = float(particle.get("psi") or 0.0)  # what helixft turned by: rlnAnglePsi - 90
    psi = turn + 90.0
    ox, oy = float(particle.get("shift_x") or 0.0), float(particle.get("shift_y") or 0.0)
    phi, z = float(fit["phi"]), float(fit["z"])
    rad = math.radians(psi)
    section = particle.get("section", "")
    image = f"{int(float(section)) + 1}@{particle['file']}" if section != "" else particle["file"]
    given = particle.get("image_name", "")
    if given and Path(given.split("@")[-1]).resolve() == Path(particle["file"]).resolve():
        image = given  # the STAR file's own name, which finds the file from the run's folder too
    optics = tuple([f"{pixel:.6g}", str(size)] + [particle.get(k, "") or "" for _, k in OPTICS[2:]])
    return {
        "ImageName": image,
        "AngleRot": f"{phi - 90.0:.6f}",
        "AngleTilt": "90.000000",
        "AnglePsi": f"{psi:.6f}",
        "OriginXAngst": f"{ox + z * math.cos(rad):.6f}",
        "OriginYAngst": f"{oy - z * math.sin(rad):.6f}",
        "RandomSubset": fit["half"],
        "optics": optics,
        **{tag: particle.get(key, "") or "" for tag, key in CTF},
        # the table holds the angle in the vertical segment's frame: turned back into the image's
        "DefocusAngle": (f"{(float(particle['defocus_angle']) - turn + 180.0) % 360.0 - 180.0:.6g}"
                         if particle.get("defocus_angle") else ""),
        # the filament, for programs that refine segments of one filament together
        "MicrographName": particle.get("filament", "").rpartition("#")[0],
        "HelicalTubeID": particle.get("filament", "").rpartition("#")[2],
    }


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--table", required=True, help="alignments.tsv")
    ap.add_argument("--output", required=True)
    ap.add_argument("--particle-table", required=True,
                    help="the particle table (files, sections, offsets, angles, CTF)")
    ap.add_argument("--pixel", type=float, help="the pixel size when neither table nor image gives one")
    a = ap.parse_args()

    particles = {r["name"]: r for r in star_particles.read_tsv(a.particle_table)}
    fits = {}
    for r in wf.read_table(a.table):
        if r["status"] == "ok" and (r["particle"] not in fits or r["side"] == "near"):
            fits[r["particle"]] = r
    cache = {}
    rows = [star_row(fits[p["name"]], p, a.pixel, cache) for p in particles.values() if p["name"] in fits]

    groups = {}
    for r in rows:
        groups.setdefault(r["optics"], len(groups) + 1)
    optic_tags = [t for i, (t, _) in enumerate(OPTICS) if any(o[i] for o in groups)]
    ctf_tags = [t for t, _ in CTF if any(r[t] for r in rows)]
    ctf_tags += [t for t in ("MicrographName", "HelicalTubeID") if all(r[t] for r in rows) and rows]
    out = ["# accepted segments and their fitted orientations", "", "data_optics", "", "loop_",
           "_rlnOpticsGroup", "_rlnOpticsGroupName", "_rlnImageDimensionality"]
    out += [f"_rln{t}" for t in optic_tags]
    for o, g in groups.items():
        values = [o[i] or "0" for i, (t, _) in enumerate(OPTICS) if t in optic_tags]
        out.append(" ".join([str(g), f"opticsGroup{g}", "2"] + values))
    tags = ["ImageName", "AngleRot", "AngleTilt", "AnglePsi", "OriginXAngst", "OriginYAngst", "RandomSubset"]
    out += ["", "", "data_particles", "", "loop_"] + [f"_rln{t}" for t in tags + ["OpticsGroup"] + ctf_tags]
    for r in rows:
        out.append(" ".join([r[t] for t in tags] + [str(groups[r["optics"]])] + [r[t] or "0" for t in ctf_tags]))
    wf.write_atomic(a.output, "\n".join(out) + "\n\n")


if __name__ == "__main__":
    main()
