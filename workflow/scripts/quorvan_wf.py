"""Helpers the workflow's rules and scripts share: atomic outputs, the alignment table's
columns, the symmetry of (phi, z) under the selection rule, and stale-lock removal."""
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
           "other_polarity", "sides"]


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
