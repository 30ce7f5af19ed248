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
    if isinstance(given, str) and given.endswith((".star", ".tsv")):
        return _particle_rows(given)
    if config.get("ctf"):
        _fail("ctf: the defoci come from a particle table or a STAR file: particles: particles.tsv")
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
    return files, names, [{"name": n, "file": f} for f, n in zip(files, names)]


def _particle_rows(given):
    """The particle table of a STAR file or a .tsv table, every row checked before any job
    (with a ctf, every row's defocus)."""
    import star_particles

    if not Path(given).exists():
        _fail(f"particles: {given} does not exist")
    table = Path(OUT) / "particles.tsv"
    ctf = None
    try:
        ctf = quorvan_wf.check_ctf(config["ctf"]) if config.get("ctf") else None
        if workflow.mode != Mode.default and table.exists():
            # a job of the run: the table the run checked and wrote before any job
            rows = star_particles.read_tsv(table)
        elif given.endswith(".star"):
            if config.get("input") != "images":
                _fail("particles: a STAR file names images: set input: images")
            if {"--box", "--axis"} & set(str(config.get("helixft_options", "")).split()):
                _fail("helixft_options: --box and --axis do not go with a STAR file, whose segments "
                      "turn about the centre of their whole box")
            pixel = config.get("pixel") or None
            try:
                pixel = None if pixel is None else float(pixel)
            except ValueError:
                _fail(f'pixel: "{pixel}" is not a pixel size in Angstroms')
            rows = star_particles.read_star(given, pixel)
            if ctf:
                for i, r in enumerate(rows, start=1):
                    quorvan_wf.check_defocus(r, f"{given}, row {i}")
        else:
            rows = quorvan_wf.read_particle_table(given, ctf=bool(ctf))
            for r in rows:
                r.pop("line", None)
    except star_particles.StarError as e:
        _fail(f"particles: {e}")
    except quorvan_wf.TableError as e:
        raise WorkflowError(f"config: {e}")
    if not ctf and any(r.get("defocus_u", "-") not in ("", "-") for r in rows):
        print(f"note: {given} gives defoci, but the config names no ctf: the images are taken "
              "as they are, without CTF correction", file=sys.stderr)
    seen = {}
    for i, r in enumerate(rows, start=1):
        if r["name"] in seen:
            _fail(f"particles: {given}: rows {seen[r['name']]} and {i} have the same name {r['name']}")
        seen[r["name"]] = i
    return [r["file"] for r in rows], [r["name"] for r in rows], rows


PARTICLES, NAMES, ROWS = _particles()
# The particle table every alignment job reads: names, files and each particle's options.
PARTICLE_TABLE = f"{OUT}/particles.tsv"
# What the table is made from: the STAR file or table, else the particle files themselves.
_given = config.get("particles")
PARTICLES_SOURCE = [_given] if isinstance(_given, str) and _given.endswith((".star", ".tsv")) else PARTICLES
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


def chunk_inputs(wildcards):
    """The chunk's files (each stack once) and the particle table."""
    return list(dict.fromkeys(chunk_particles(wildcards))) + [PARTICLE_TABLE]


def res(stage, key, default):
    return config.get("resources", {}).get(stage, {}).get(key, default)


def program(name):
    folder = config.get("bin") or ""
    return str(Path(folder) / name) if folder else name


def map_enabled():
    return bool(config.get("map", {}).get("enabled", True))


# Overlapping Bessel orders: "auto" separates them in the averages where the check finds them
# (its limits.tsv then says separation on); "off" (YAML reads an unquoted off as false) keeps
# one order a layer line.
SEPARATION = "off" if config.get("separation", "auto") in (False, "off") else str(config.get("separation"))
if SEPARATION not in ("auto", "off"):
    _fail(f'separation: "auto" or "off", not {config.get("separation")!r}')


# With the orders separated, rounds after the first align each half's whole-deck sides against
# the half's separated average of the round before (separation_models: true, the default);
# false aligns the single-order sides against the one-order averages as without separation.
SEPARATION_MODELS = config.get("separation_models", True)
if not isinstance(SEPARATION_MODELS, bool):
    _fail(f"separation_models: true or false, not {SEPARATION_MODELS!r}")


def separation_options():
    """layermean's options that separate the orders (used when the check turns it on)."""
    if not config.get("outer_radius"):
        return ""
    u, t = (int(v) for v in config["rule"])
    return (f"--rule {u} {t} --radius {float(config['outer_radius'])!r} "
            f"--filter {float(config.get('separation_filter', 0.01))!r} "
            f"--bessel-level {float(config.get('bessel_level', 0.1))!r}")


def average_enabled():
    return bool(config.get("average", True)) or map_enabled()


def final_targets():
    targets = [f"{OUT}/alignments.tsv", f"{OUT}/report/index.html"]
    if config.get("input") == "images":
        targets.append(f"{OUT}/alignments.star")
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
