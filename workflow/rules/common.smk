# What every stage shares: the checked config, the particle list (a glob, a list, or a
# particle table with the CTF's defoci) and its chunks, the
# programs, and the removal of a lock that a killed run left behind.
import glob
import os
import socket
import sys

from snakemake.common import Mode
from snakemake.utils import validate

sys.path.insert(0, str(Path(workflow.basedir) / "scripts"))
import quorvan_wf  # noqa: E402

SCRIPTS = Path(workflow.basedir) / "scripts"
PY = sys.executable  # the Python that runs Snakemake, which has its modules
OUT = str(config.get("output", "results")).rstrip("/")
# scripts/llplot draws the report's pictures of maps and curves
LLPLOT = config.get("llplot") or str(Path(workflow.basedir).parent / "scripts" / "llplot")


def _fail(message):
    raise WorkflowError(f"config: {message}")


# Every key against the schema before anything else: an unknown key (a misspelt one is
# otherwise silently ignored) or a value out of its range stops the run here.
import runcheck  # noqa: E402
import yaml  # noqa: E402

_problems = runcheck.config_problems(config, yaml.safe_load(open(Path(workflow.basedir) / "config.schema.yaml")))
if _problems:
    raise WorkflowError("config: " + "\nconfig: ".join(_problems))
validate(config, "../config.schema.yaml")


def _particles():
    given = config.get("particles")
    if isinstance(given, str) and given.endswith(".tsv"):
        return _particle_table(given)
    if config.get("ctf"):
        _fail("ctf: the defoci come from a particle table: particles: particles.tsv")
    if isinstance(given, str):
        files = sorted(glob.glob(given))
        if not files:
            _fail(f'particles: the pattern "{given}" matches no file')
    elif isinstance(given, list) and given:
        files = [str(f) for f in given]
    else:
        _fail("particles: give a list of files or a glob pattern")
    names = [Path(f).name.split(".")[0] for f in files]
    seen = {}
    for f, n in zip(files, names):
        if n in seen:
            _fail(f"particles: {seen[n]} and {f} have the same name {n}")
        seen[n] = f
    return files, names


def _particle_table(path):
    """The particles of a table (particles.tsv): files, names, and each name's row."""
    global PARTICLE_TABLE, PARTICLE_ROWS
    try:
        ctf = quorvan_wf.check_ctf(config["ctf"]) if config.get("ctf") else None
        rows = quorvan_wf.read_particle_table(path, ctf=bool(ctf))
    except quorvan_wf.TableError as e:
        raise WorkflowError(f"config: {e}")
    if not ctf and any(r.get("defocus_u", "-") not in ("", "-") for r in rows):
        print(f"note: {path} gives defoci, but the config names no ctf: the images are taken "
              "as they are, without CTF correction", file=sys.stderr)
    PARTICLE_TABLE = path
    PARTICLE_ROWS = {r["name"]: r for r in rows}
    return [r["file"] for r in rows], [r["name"] for r in rows]


PARTICLE_TABLE = ""  # the particle table, when the config names one
PARTICLE_ROWS = {}
PARTICLES, NAMES = _particles()
if config.get("contrast", "microscope") not in ("microscope", "inverted"):
    _fail('contrast: "microscope" (density dark, as the microscope records it) or "inverted"')
if config.get("contrast", "microscope") == "inverted" and not config.get("ctf"):
    print("note: contrast: inverted is read with a ctf only; without one the images are taken as they are",
          file=sys.stderr)
if config.get("ctf") and config.get("input") != "images":
    _fail("ctf: CTF correction works on particle images (input: images), which helixft phase-flips")
if config.get("input") not in ("transforms", "images"):
    _fail('input: "transforms" or "images"')
CHUNK = int(config.get("chunk_size", 50))
if CHUNK < 1:
    _fail("chunk_size: at least 1")
NCHUNKS = (len(PARTICLES) + CHUNK - 1) // CHUNK
CHUNKS = [f"{i:05d}" for i in range(NCHUNKS)]
for key in ("reference", "deck"):
    if not config.get(key):
        _fail(f"{key}: needed")
if len(config.get("rule", [])) != 2:
    _fail("rule: [u, t], u subunits in t turns per repeat")


def chunk_particles(wildcards):
    i = int(wildcards.chunk)
    return PARTICLES[i * CHUNK : (i + 1) * CHUNK]


def res(stage, key, default):
    return config.get("resources", {}).get(stage, {}).get(key, default)


def program(name):
    folder = config.get("bin") or ""
    return str(Path(folder) / name) if folder else name


def map_enabled():
    return bool(config.get("map", {}).get("enabled", True))


def average_enabled():
    return bool(config.get("average", True)) or map_enabled()


def final_targets():
    targets = [f"{OUT}/alignments.tsv", f"{OUT}/report/index.html"]
    if average_enabled():
        targets.append(f"{OUT}/average/average.dat")
    if map_enabled():
        targets += [f"{OUT}/maps/average.map", f"{OUT}/maps/fsc_halves.tsv"]
    return targets


# A run killed outright (SIGKILL, power) leaves Snakemake's locks behind, and the same
# command would then refuse to start. The command that the user starts records its host and
# process; when that process is gone from this host, its locks are stale and go.
if workflow.mode == Mode.default:
    quorvan_wf.clear_stale_locks(Path(".snakemake"), socket.gethostname(), os.getpid())
