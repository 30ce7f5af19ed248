"""Helpers the workflow's rules and scripts share: atomic outputs, the alignment table's
columns, the symmetry of (phi, z) under the selection rule, stale-lock removal, and the particle
table with the CTF settings."""
import math
import os
import shutil
import tempfile
from pathlib import Path

# The alignment table: one row per particle and side; sides is the phase residual between
# the particle's near and far side (sides.py). layermean reads file, phi, z, rscale,
# side, half and status and ignores the rest.
COLUMNS = ["particle", "side", "half", "file", "phi", "z", "rscale", "phi_sym", "z_sym",
           "residual", "status", "reason", "polarity", "random_residual", "random_sd",
           "other_polarity", "sides", "sides_random_sd"]


# The summary line that makes a finished run end with a failure.
INDEXING_FAILS = "the indexing does not fit the data"


def verdict(summary):
    """The summary's line saying the indexing does not fit the data, or None."""
    for line in Path(summary).read_text().splitlines():
        if line.startswith(INDEXING_FAILS):
            return line
    return None


def write_atomic(path, text):
    """Writes text to path through a temporary file in the same folder and a rename, so the
    file is either absent or whole."""
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    fd, tmp = tempfile.mkstemp(prefix=f".{path.name}.", dir=path.parent)
    try:
        with os.fdopen(fd, "w") as f:
            f.write(text)
            f.flush()
            os.fsync(f.fileno())
        os.replace(tmp, path)
    except BaseException:
        if os.path.exists(tmp):
            os.unlink(tmp)
        raise


def replace_dir(tmp, final):
    """Puts the finished folder tmp in place of final."""
    final = Path(final)
    if final.exists():
        shutil.rmtree(final)
    os.replace(tmp, final)


def scratch_dir(final):
    """A new empty folder beside final, for building it; an older one of a killed job goes."""
    final = Path(final)
    final.parent.mkdir(parents=True, exist_ok=True)
    for old in final.parent.glob(f".{final.name}.tmp*"):
        shutil.rmtree(old, ignore_errors=True)
    return Path(tempfile.mkdtemp(prefix=f".{final.name}.tmp", dir=final.parent))


def clean_field(text):
    """A table field: no tabs or line ends, never empty."""
    text = " ".join(str(text).split())
    return text if text else "-"


def reduce_pair(phi, z, u, t, c):
    """The pair equivalent to (phi, z) that lies nearest (0, 0). A motion (phi, z) changes the
    phase of layer line (n, l) by n phi - 360 l z / c; the step of one subunit,
    (phi + 360 t/u, z - c/u), changes it by 360 (l + t n)/u, a whole turn on every layer line
    with (l + t n)/u whole, and so changes nothing, nor does a full turn of phi or a whole
    repeat of z. Distance weighs z as the phase 360 z/c it adds
    to a unit layer line, so a degree of rotation counts as much as a degree of axial phase.
    Each subunit class k = 0..u-1 is reduced into phi in [-180, 180) and z in [-c/2, c/2);
    the nearest wins, the smallest k on a tie."""
    best = None
    for k in range(u):
        p = phi + 360.0 * t * k / u
        q = z - c * k / u
        p -= 360.0 * math.floor((p + 180.0) / 360.0)
        q -= c * math.floor((q + c / 2.0) / c)
        d = p * p + (360.0 * q / c) ** 2
        if best is None or d < best[0] - 1e-9:
            best = (d, p, q)
    return best[1], best[2]


def _alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


def clear_stale_locks(meta, host, pid):
    """meta is Snakemake's .snakemake folder. Keeps a record of the host and process of the
    command that started; when that process is gone from this host, the locks it left are
    removed with its marks of incomplete outputs, and this process is recorded instead. A live owner is left alone."""
    record = meta / "quorvan-owner"
    if record.exists():
        try:
            owner_host, owner_pid = record.read_text().split()
            if owner_host != host or _alive(int(owner_pid)):
                return
        except ValueError:
            pass
    # Every output of the workflow is renamed into place whole, so an output that exists is
    # complete even when the killed run had no time to take its job's incomplete mark away.
    for sub in ("locks", "incomplete"):
        if (meta / sub).is_dir():
            for f in (meta / sub).iterdir():
                if f.is_file():
                    f.unlink()
    meta.mkdir(parents=True, exist_ok=True)
    write_atomic(record, f"{host} {pid}\n")


def read_table(path):
    """Rows of a tab-separated table with a header line, as dicts."""
    with open(path) as f:
        lines = [ln.rstrip("\n") for ln in f if ln.strip() and not ln.startswith("#")]
    head = lines[0].split("\t")
    return [dict(zip(head, ln.split("\t"))) for ln in lines[1:]]


def split_halves(names, filaments=None):
    """Half 1 or 2 for every particle name, fixed once for all rounds. Without filaments the
    particles alternate in their order. With filaments (a name for each particle, or None for
    a particle on its own), the segments of one filament stay in one half: the filaments in
    the order they first appear each go to the half that has fewer particles so far (half 1
    on a tie)."""
    if filaments is None:
        return {n: i % 2 + 1 for i, n in enumerate(names)}
    groups = {}
    for i, (n, f) in enumerate(zip(names, filaments)):
        groups.setdefault(("f", f) if f not in (None, "", "-") else ("p", i), []).append(n)
    half, size = {}, [0, 0]
    for members in groups.values():
        h = 0 if size[0] <= size[1] else 1
        size[h] += len(members)
        for n in members:
            half[n] = h + 1
    return half


def rebase_table(src, dst):
    """Copies the alignment table src to dst with every relative file name made relative to
    dst's folder (layermean reads them from the table's own folder)."""
    src, dst = Path(src), Path(dst)
    lines = src.read_text().splitlines()
    head = lines[0].split("\t")
    col = head.index("file")
    out = [lines[0]]
    for ln in lines[1:]:
        f = ln.split("\t")
        if f[col] != "-" and not os.path.isabs(f[col]):
            f[col] = os.path.relpath(os.path.normpath(src.resolve().parent / f[col]), dst.resolve().parent)
        out.append("\t".join(f))
    write_atomic(dst, "\n".join(out) + "\n")
# The particle table and the CTF.
#
# particles.tsv: tab-separated, a header line naming the columns; `file` is needed (relative
# names from the table's own folder), `name` is optional (else the file name up to its first
# dot); the CTF columns are defocus_u, defocus_v (Angstroms, positive underfocus; V defaults
# to U) and defocus_angle (degrees, the U axis from the image's x axis; default 0). Other
# columns are kept as they are.
CTF_COLUMNS = ["defocus_u", "defocus_v", "defocus_angle"]


class TableError(Exception):
    """A fault of the particle table or of the ctf settings, with the place named."""


def _number(text):
    try:
        v = float(text)
    except ValueError:
        return None
    return v if math.isfinite(v) else None


def read_particle_table(path, ctf=False):
    """Rows of the particle table as dicts, each with its `name`, its `file` made a path
    (relative names from the table's folder) and `line`, its line in the table. With ctf every
    row needs a defocus: the CTF columns are checked and filled in (V = U, angle 0). Faults
    raise TableError naming the file, the line and the column."""
    path = Path(path)
    try:
        text = path.read_text()
    except (OSError, UnicodeDecodeError) as e:
        raise TableError(f"{path}: cannot be read ({getattr(e, 'strerror', None) or e})")
    lines = [(i + 1, ln.rstrip("\r")) for i, ln in enumerate(text.split("\n"))]
    lines = [(i, ln) for i, ln in lines if ln.strip() and not ln.startswith("#")]
    if not lines:
        raise TableError(f"{path}: holds no header line naming the columns")
    head_line, head = lines[0]
    columns = [c.strip() for c in head.split("\t")]
    for c in set(columns):
        if columns.count(c) > 1:
            raise TableError(f'{path}, line {head_line}: the column "{c}" is named twice')
    if "file" not in columns:
        raise TableError(f'{path}, line {head_line}: the header names no column "file" (needed)')
    if ctf and "defocus_u" not in columns:
        raise TableError(f'{path}, line {head_line}: the header names no column "defocus_u", and the '
                         f"config names a ctf: every particle needs its defocus")
    rows, seen = [], {}
    for number, ln in lines[1:]:
        fields = [f.strip() for f in ln.split("\t")]
        if len(fields) != len(columns):
            raise TableError(f"{path}, line {number}: {len(fields)} fields, but the header on line "
                             f"{head_line} names {len(columns)} columns")
        row = dict(zip(columns, fields))
        where = f"{path}, line {number}"
        if not row["file"]:
            raise TableError(f'{where}, column "file": the file name is missing')
        row["file"] = str(path.parent / row["file"]) if not os.path.isabs(row["file"]) else row["file"]
        name = row.get("name") or Path(row["file"]).name.split(".")[0]
        if not name or any(ch in name for ch in "/, \t"):
            raise TableError(f'{where}, column "name": "{name}" cannot name a particle')
        if name in seen:
            raise TableError(f"{where}: the particle name {name} is also on line {seen[name]}")
        seen[name] = number
        row["name"], row["line"] = name, number
        if ctf:
            check_defocus(row, where)
        rows.append(row)
    if not rows:
        raise TableError(f"{path}: lists no particle")
    return rows


def check_defocus(row, where):
    """Fills in and checks a row's CTF columns: defocus U needed, V = U and angle 0 by default."""
    u = row.get("defocus_u", "")
    if u in ("", "-"):
        raise TableError(f'{where}, column "defocus_u": no defocus, and the config names a ctf')
    values = {}
    for col, default in (("defocus_u", None), ("defocus_v", u), ("defocus_angle", "0")):
        text = row.get(col, "")
        if text in ("", "-"):
            text = default
        v = _number(text)
        if v is None:
            raise TableError(f'{where}, column "{col}": "{text}" is not a number')
        if col != "defocus_angle" and v < 0:
            raise TableError(f'{where}, column "{col}": a defocus is positive underfocus in Angstroms, '
                             f"not {text}")
        values[col] = text
    row.update(values)


def check_ctf(ctf):
    """The config's ctf section, checked: voltage (kV, above 0), cs (mm, not negative),
    amplitude_contrast (0 to below 1), bfactor (not negative, default 0), wiener (the
    1/SNR of layermean's mean: "auto", the default, for layermean's estimate shell by shell
    from the two halves, or a constant above 0). Returns the values as text,
    as the programs take them; raises TableError naming the key."""
    if not isinstance(ctf, dict):
        raise TableError("ctf: give voltage, cs and amplitude_contrast (or leave ctf out)")
    known = {"voltage", "cs", "amplitude_contrast", "bfactor", "wiener"}
    for k in ctf:
        if k not in known:
            raise TableError(f"ctf: unknown key {k} (known: {', '.join(sorted(known))})")
    out = {}
    rules = {"voltage": (None, lambda v: v > 0, "above 0 (kV)"),
             "cs": (None, lambda v: v >= 0, "not negative (mm)"),
             "amplitude_contrast": (None, lambda v: 0 <= v < 1, "a fraction from 0 to below 1"),
             "bfactor": (0, lambda v: v >= 0, "not negative (A^2)"),
             "wiener": ("auto", lambda v: v > 0, "\"auto\" or a number above 0")}
    for k, (default, ok, what) in rules.items():
        v = ctf.get(k, default)
        if k == "wiener" and v == "auto":
            out[k] = "auto"
            continue
        if v is None:
            raise TableError(f"ctf: {k} is needed")
        n = _number(str(v)) if not isinstance(v, bool) else None
        if n is None or not ok(n):
            raise TableError(f"ctf: {k} must be {what}, not {v!r}")
        out[k] = repr(float(n))
    return out


def layermean_ctf_options(config):
    """layermean's options for the CTF-weighted mean, from the config: none without a ctf."""
    ctf = config.get("ctf")
    if not ctf:
        return []
    c = check_ctf(ctf)
    return ["--ctf", c["voltage"], c["cs"], c["amplitude_contrast"], c["bfactor"], "--wiener", c["wiener"]]
