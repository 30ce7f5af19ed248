"""Particles from a STAR file: one row of the workflow's particle table for every segment.

The STAR file is read with gemmi's STAR/CIF reader, in either layout: the current one (a
data_optics table and a data_particles table, offsets rlnOriginXAngst/YAngst in Angstroms,
the pixel size rlnImagePixelSize in the optics table) or the older single table (offsets
rlnOriginX/Y in pixels, the pixel size rlnDetectorPixelSize * 10000 / rlnMagnification when
both are there).

Sign conventions (those of the programs that write such files, measured with relion 3.1.3):
a segment with in-plane angle psi shows the vertical particle (helix axis along image +y)
turned by -(psi - 90) degrees (from +x towards +y) about the box centre, and an origin offset
o (Angstroms) shows its content moved by -o. helixft undoes both: it moves the content by +o
(--shift ox oy) and then turns it by psi - 90 (--rotate), about the axis column and centre
row, which for a whole box of even size are the box centre. Hence the table's columns
    psi = rlnAnglePsi - 90,  shift_x = ox,  shift_y = oy.
The defocus angle (from +x towards +y) turns with the segment: the table holds it in the
frame of the vertical segment, rlnDefocusAngle + psi - 90, where helixft corrects the
transform of the turned image. The fitted (phi, z) of a segment so made vertical are written
back by star_out.py, the defocus angle turned back.

Image names are "K@stack" (K from 1: section K - 1) or a file of one image. A relative stack
name is looked up from the folder the workflow runs in (where such files are usually kept,
next to the project's folders), then from the STAR file's own folder."""
import math
import os
from pathlib import Path

# Table columns filled from the STAR file, in this order; the STAR's other columns follow as
# star_<name> (the name without its rln prefix).
COLUMNS = ["name", "file", "section", "psi", "shift_x", "shift_y", "filament", "defocus_u",
           "defocus_v", "defocus_angle", "voltage", "cs", "amplitude_contrast", "pixel", "image_name"]


# STAR columns that the table's own columns hold; the others are kept as star_<name>.
MAPPED = {"ImageName", "AnglePsi", "OriginXAngst", "OriginYAngst", "OriginX", "OriginY", "HelicalTubeID",
          "DefocusU", "DefocusV", "DefocusAngle", "Voltage", "SphericalAberration", "AmplitudeContrast",
          "ImagePixelSize", "DetectorPixelSize", "Magnification"}


class StarError(Exception):
    """A message naming the file, the row and the column."""


def _loops(path):
    import gemmi

    try:
        doc = gemmi.cif.read_file(str(path))
    except (RuntimeError, ValueError, OSError) as e:
        raise StarError(f"{path}: not a readable STAR file: {e}")
    out = {}
    for block in doc:
        for item in block:
            if item.loop is not None:
                tags = [t[4:] if t.startswith("_rln") else t.lstrip("_") for t in item.loop.tags]
                w = item.loop.width()
                values = [gemmi.cif.as_string(v) if v[:1] in ("'", '"', ";") else v for v in item.loop.values]
                rows = [dict(zip(tags, values[i:i + w])) for i in range(0, len(values), w)]
                out[block.name] = (tags, rows)
    return out


def _number(path, row, column, text, what="a number"):
    try:
        v = float(text)
    except ValueError:
        v = math.nan
    if not math.isfinite(v):
        raise StarError(f'{path}, row {row}, column {column}: "{text}" is not {what}')
    return v


def _sections(stack, cache):
    """The number of sections of an image file, from its header."""
    if stack not in cache:
        import mrcfile

        try:
            with mrcfile.open(stack, header_only=True, permissive=True) as m:
                cache[stack] = int(m.header.nz)
        except (OSError, ValueError) as e:
            cache[stack] = f"cannot be read as an image: {e}"
    return cache[stack]


def _resolve(name, star):
    p = Path(name)
    if p.is_absolute():
        return p
    for base in (Path.cwd(), Path(star).resolve().parent):
        if (base / p).exists():
            return base / p
    return p


def read_star(path, config_pixel=None):
    """The particle table's rows (dicts) of the STAR file path; config_pixel (Angstroms) is
    used when the file gives no pixel size. Raises StarError on any bad row."""
    loops = _loops(path)
    if not loops:
        raise StarError(f"{path}: holds no table (loop_)")
    optics = {}
    if "particles" in loops:
        tags, rows = loops["particles"]
        for o in loops.get("optics", ([], []))[1]:
            optics[o.get("OpticsGroup", "1")] = o
    else:  # the older layout: the one table that names images
        found = [(tags, rows) for tags, rows in loops.values() if "ImageName" in tags]
        tags, rows = found[0] if found else next(iter(loops.values()))
    if "ImageName" not in tags:
        raise StarError(f"{path}: no column rlnImageName: the table must name every segment's image")
    if not rows:
        raise StarError(f"{path}: the particle table has no rows")

    out, sections, names, resolved = [], {}, {}, {}
    for i, r in enumerate(rows, start=1):
        group = r.get("OpticsGroup", "1")
        if optics and group not in optics:
            raise StarError(f'{path}, row {i}, column rlnOpticsGroup: optics group "{group}" is not in the '
                            f"optics table")
        merged = {**optics.get(group, {}), **r}

        def num(col, default=None, what="a number"):
            if col not in merged or merged[col] in ("", "?", "."):
                return default
            return _number(path, i, "rln" + col, merged[col], what)

        pixel = num("ImagePixelSize")
        if pixel is None and "DetectorPixelSize" in merged and "Magnification" in merged:
            magnification = num("Magnification")
            if not magnification > 0:
                raise StarError(f"{path}, row {i}, column rlnMagnification: {magnification:g} is not above 0")
            pixel = num("DetectorPixelSize") * 10000.0 / magnification
        if pixel is None:
            pixel = config_pixel
        if pixel is None or not pixel > 0:
            raise StarError(f"{path}, row {i}, column rlnImagePixelSize: no pixel size in the STAR file "
                            f"(nor rlnDetectorPixelSize and rlnMagnification); give pixel: in the config")

        image = merged["ImageName"]
        if "@" in image:
            k, stack = image.split("@", 1)
            if not k.isdigit() or int(k) < 1:
                raise StarError(f'{path}, row {i}, column rlnImageName: "{image}": the section before @ '
                                f"must be a whole number from 1")
            section = int(k) - 1
        else:
            stack, section = image, None
        if stack not in resolved:
            found = _resolve(stack, path)
            resolved[stack] = (found, found.exists())
        file, exists = resolved[stack]
        if not exists:
            raise StarError(f'{path}, row {i}, column rlnImageName: "{image}": the file {stack} does not exist')
        nz = _sections(str(file), sections)
        if isinstance(nz, str):
            raise StarError(f'{path}, row {i}, column rlnImageName: "{image}": {stack} {nz}')
        if section is None and nz != 1:
            raise StarError(f'{path}, row {i}, column rlnImageName: "{image}" holds {nz} sections: name one '
                            f'as "K@{stack}"')
        if section is not None and section >= nz:
            raise StarError(f'{path}, row {i}, column rlnImageName: "{image}": {stack} holds {nz} sections, '
                            f"not {section + 1}")

        psi = num("AnglePsi", what="an angle in degrees")
        if "OriginXAngst" in merged or "OriginYAngst" in merged:
            ox, oy = num("OriginXAngst", 0.0), num("OriginYAngst", 0.0)
        else:  # the older layout's offsets are in pixels
            ox, oy = num("OriginX", 0.0) * pixel, num("OriginY", 0.0) * pixel
        tube = merged.get("HelicalTubeID")
        if tube is not None:
            num("HelicalTubeID", what="a filament number")
            # tube numbers count within a micrograph
            filament = f"{merged.get('MicrographName', '')}#{tube}"
        else:
            filament = ""
        stem = Path(stack).name.split(".")[0]
        name = f"{stem}_{section + 1:06d}" if section is not None else stem
        if name in names:
            raise StarError(f'{path}, row {i}, column rlnImageName: "{image}" names the segment of row '
                            f"{names[name]} again")
        names[name] = i
        row = {
            "name": name, "file": str(file), "section": "" if section is None else str(section),
            "psi": "" if psi is None else f"{psi - 90.0:.10g}", "shift_x": f"{ox:.10g}", "shift_y": f"{oy:.10g}",
            "filament": filament, "pixel": f"{pixel:.10g}", "image_name": image,
        }
        for col, key in (("DefocusU", "defocus_u"), ("DefocusV", "defocus_v"), ("DefocusAngle", "defocus_angle"),
                         ("Voltage", "voltage"), ("SphericalAberration", "cs"),
                         ("AmplitudeContrast", "amplitude_contrast")):
            v = num(col)
            if v is not None and key == "defocus_angle" and psi is not None:
                # the astigmatism turns with the segment: its angle in the vertical segment's frame
                v = (v + psi - 90.0 + 180.0) % 360.0 - 180.0
            row[key] = "" if v is None else f"{v:.10g}"
        for k, v in merged.items():
            if k not in MAPPED:
                row["star_" + k] = v
        out.append(row)
    return out


def read_tsv(path):
    """Rows of a particle table (tab-separated, a header line, column file needed)."""
    with open(path) as f:
        lines = [ln.rstrip("\n") for ln in f if ln.strip() and not ln.startswith("#")]
    if not lines:
        raise StarError(f"{path}: an empty particle table")
    head = lines[0].split("\t")
    if "file" not in head:
        raise StarError(f"{path}, line 1: no column file")
    rows = []
    for i, ln in enumerate(lines[1:], start=2):
        values = ln.split("\t")
        if len(values) != len(head):
            raise StarError(f"{path}, line {i}: {len(values)} fields, the header names {len(head)}")
        r = dict(zip(head, values))
        r.setdefault("name", Path(r["file"]).name.split(".")[0])
        if not r.get("name"):
            r["name"] = Path(r["file"]).name.split(".")[0]
        for col in ("section", "psi", "shift_x", "shift_y"):
            if r.get(col):
                _number(path, i, col, r[col])
        rows.append(r)
    return rows


def table_text(rows):
    """The particle table as text: COLUMNS first, then every other column met."""
    cols = [c for c in COLUMNS if any(c in r for r in rows)]
    cols += sorted({k for r in rows for k in r} - set(cols))
    lines = ["\t".join(cols)]
    for r in rows:
        values = [str(r.get(c, "")) for c in cols]
        lines.append("\t".join(v if "\t" not in v and "\n" not in v else " ".join(v.split()) for v in values))
    return "\n".join(lines) + "\n"


def helixft_options(row):
    """helixft's options for one particle of the table: the section of a stack, then the
    move and the turn that make a segment vertical, and its pixel size."""
    opts = []
    if row.get("section", "") != "":
        opts += ["--section", str(int(float(row["section"])))]
    if row.get("shift_x", "") != "" or row.get("shift_y", "") != "":
        opts += ["--shift", row.get("shift_x") or "0", row.get("shift_y") or "0"]
    if row.get("psi", "") != "":
        opts += ["--rotate", row["psi"]]
    if row.get("pixel", "") != "":
        opts += ["--pixel", row["pixel"]]
    return opts
