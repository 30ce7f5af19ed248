#!/usr/bin/env python3
"""The workflow on the real engine: synthetic particles with known alignments, run by
Snakemake locally and through a single-node Slurm started here.

usage: workflow_test.py CASE SOURCE_TOP BIN
       (CASE: local, corrupt, rerun, slurm, html, rounds, polarity, badconfig, ctf, star, relion,
        overlap)
Exit status 0 passed, 77 skipped (with the reason), anything else failed."""
import argparse
import os
import re
import shutil
import signal
import statistics
import socket
import subprocess
import sys
import tempfile
import time
from pathlib import Path

TOP = Path(sys.argv[2]).resolve()
BIN = Path(sys.argv[3]).resolve()
sys.path.insert(0, str(TOP / "workflow" / "scripts"))
import quorvan_wf as wf  # noqa: E402

SNAKEFILE = TOP / "workflow" / "Snakefile"
U, T, C = 20, 7, 100.0  # make_particles' helix: 20 subunits in 7 turns of 100 A
FINAL_STEP = 0.5  # gridscan's last grid step in phi (degrees) and z (Angstroms)


class Skip(Exception):
    pass


def check(cond, what):
    if not cond:
        raise AssertionError(what)


def dataset(folder, count=12, options=(), **extra):
    subprocess.run([sys.executable, str(TOP / "examples/workflow/make_particles"), "--bin", str(BIN),
                    "--count", str(count), "--folder", str(folder), "--chunk", "3", *options], check=True)
    if extra:
        with open(folder / "config.yaml", "a") as f:
            for k, v in extra.items():
                f.write(f"{k}: {v}\n")
    return folder


def snakemake(folder, *args, **kw):
    cmd = ["snakemake", "-s", str(SNAKEFILE), "--configfile", "config.yaml", *args]
    return subprocess.run(cmd, cwd=folder, capture_output=True, text=True, **kw)


def run_local(folder, cores=2):
    proc = snakemake(folder, "--cores", str(cores))
    check(proc.returncode == 0, f"snakemake failed:\n{proc.stderr[-3000:]}")
    return proc


def truths(folder):
    return {r["particle"]: (float(r["phi"]), float(r["z"])) for r in wf.read_table(folder / "truth.tsv")}


def outputs(folder):
    """The run's deterministic results: the table, the chunks' layer-line files, the
    average and the maps."""
    res = folder / "results"
    files = [res / "alignments.tsv"] + sorted(res.glob("chunks/*/*/*.dat"))
    files += sorted(res.glob("average/*.dat")) + sorted(res.glob("maps/*.map")) + sorted(res.glob("maps/*.tsv"))
    return {str(f.relative_to(res)): f.read_bytes() for f in files}


def map_values(path):
    """A mode-2 map as a (z, y, x) array: the data after the 1024-byte header and NSYMBT
    bytes of symmetry records (word 24), in this machine's byte order."""
    import numpy as np

    raw = Path(path).read_bytes()
    nx, ny, nz, mode = np.frombuffer(raw[:16], dtype=np.int32)
    check(mode == 2, f"{path}: mode {mode}, not 2")
    nsymbt = int(np.frombuffer(raw[92:96], dtype=np.int32)[0])
    return np.frombuffer(raw[1024 + nsymbt:], dtype=np.float32, count=nx * ny * nz).reshape(nz, ny, nx)


def limited(density, voxel, resolution):
    """density limited as besselmap limits its map: weight 1 up to smax - w, a raised cosine
    down to 0 at smax = 1/resolution, w = 0.1/resolution (its default edge)."""
    import numpy as np

    smax, edge = 1.0 / resolution, 0.1 / resolution
    f = np.sqrt(sum(np.meshgrid(np.fft.fftfreq(density.shape[0], voxel) ** 2,
                                np.fft.fftfreq(density.shape[1], voxel) ** 2,
                                np.fft.rfftfreq(density.shape[2], voxel) ** 2, indexing="ij")))
    w = np.clip((smax - f) / edge, 0.0, 1.0)
    w = 0.5 * (1.0 - np.cos(np.pi * w))
    return np.fft.irfftn(np.fft.rfftn(density.astype(np.float64)) * w, s=density.shape)


def correlation(a, b):
    a, b = a - a.mean(), b - b.mean()
    return float((a * b).sum() / (a * a).sum() ** 0.5 / (b * b).sum() ** 0.5)


def check_crossings_made(folder):
    """Every crossing a curve's report states is one the curve makes: a shell at or above the
    threshold, beyond the shells mapfsc skipped, followed by one below it, around the stated
    resolution."""
    for name in ("fsc_half1_half2", "fsc_average_truth"):
        log, table = folder / f"results/maps/{name}.txt", folder / f"results/maps/{name}.tsv"
        if not log.exists():
            continue
        skipped = set()
        shells = []
        for line in table.read_text().splitlines():
            if line.startswith("#"):
                m = re.match(r"# shells? (\d+)(?:-(\d+))? skipped", line)
                if m:
                    skipped.update(range(int(m.group(1)), int(m.group(2) or m.group(1)) + 1))
            elif line.strip():
                k, freq, _res, fsc, _vox = line.split()
                shells.append((int(k), float(freq), float(fsc)))
        used = [s for s in shells if s[0] not in skipped]
        for m in re.finditer(r"FSC (0\.\d+) at\s+([0-9.]+) A", log.read_text()):
            th, at = float(m.group(1)), 1.0 / float(m.group(2))
            made = any(a[2] >= th > b[2] and a[1] - 1e-4 <= at <= b[1] + 1e-4 for a, b in zip(used, used[1:]))
            check(made, f"{name}: FSC {m.group(1)} at {m.group(2)} A is no crossing of the curve {used}")


def test_local(tmp):
    """From the noise-free reference compared as far as the data reach, through the three
    rounds: every fitted (phi, z) of both sides is its truth after symmetry reduction, within
    the search's final step; the reduced pair is the one nearest (0, 0) of its class. The map of
    the average correlates with the true density limited to the same resolution at 0.9 or
    better, and clearly worse with its mirror image (the other hand)."""
    d = dataset(tmp / "run", options=["--reference-resolution", "0"], initial_resolution=10.5)
    run_local(d)
    got = map_values(d / "results/maps/average.map")
    truth_map = limited(map_values(d / "truth.map"), 2.5, 10.5)
    check(got.shape == truth_map.shape, f"map {got.shape}, truth {truth_map.shape}")
    nx = got.shape[2]
    mirror = truth_map[:, :, [(nx - ix) % nx for ix in range(nx)]]  # x -> -x about column nx/2
    same, other = correlation(got, truth_map), correlation(got, mirror)
    check(same >= 0.9, f"the map correlates with the true density at {same:.3f}")
    check(other < 0.6 * same, f"the mirror image correlates at {other:.3f} (the map at {same:.3f})")
    check_crossings_made(d)
    summary = (d / "results/report/summary.txt").read_text()
    check("resolution against the true map: at 0.5 1" in summary, "the summary gives the resolution against the truth:\n" + summary)
    rows = wf.read_table(d / "results/alignments.tsv")
    truth = truths(d)
    check(len(rows) == 24 and all(r["status"] == "ok" for r in rows), "24 ok rows")
    # The particles are made at radial scale 1: where the phases cannot tell neighbouring
    # scales apart, the amplitudes settle it there.
    scales = [float(r["rscale"]) for r in rows]
    check(all(abs(s - 1.0) <= 0.0101 for s in scales) and sum(s == 1.0 for s in scales) >= 22,
          f"radial scales {sorted(scales)}")
    for r in rows:
        tp, tz = truth[r["particle"]]
        dp, dz = wf.reduce_pair(float(r["phi"]) - tp, float(r["z"]) - tz, U, T, C)
        check(abs(dp) <= FINAL_STEP and abs(dz) <= FINAL_STEP,
              f"{r['particle']} {r['side']}: fitted ({r['phi']}, {r['z']}) against true ({tp}, {tz})")
        ps, zs = float(r["phi_sym"]), float(r["z_sym"])
        ep, ez = wf.reduce_pair(ps - float(r["phi"]), zs - float(r["z"]), U, T, C)
        check(abs(ep) < 0.01 and abs(ez) < 0.01, f"{r['particle']}: reduced pair is not equivalent")
        for k in range(1, U):
            p2, z2 = ps + 360.0 * T * k / U, zs - C * k / U
            p2 -= 360.0 * round(p2 / 360.0)
            z2 -= C * round(z2 / C)
            check(p2 * p2 + (360 * z2 / C) ** 2 >= ps * ps + (360 * zs / C) ** 2 - 0.1,
                  f"{r['particle']}: an equivalent of the reduced pair lies nearer (0, 0)")
    check(len(list((d / "results/chunks").glob("*.tsv"))) == 4, "12 particles in chunks of 3")


def test_corrupt(tmp):
    """A corrupt particle file among good ones: its rows fail with the program's message,
    every other particle completes, the summary names it."""
    d = dataset(tmp / "run")
    bad = d / "particles/p0005.map"
    bad.write_bytes(bad.read_bytes()[:600])
    (d / "particles/p0009.map").write_bytes(b"not an image at all\n" * 5)
    run_local(d)
    rows = wf.read_table(d / "results/alignments.tsv")
    check(len(rows) == 24, "every particle has its two rows")
    for r in rows:
        if r["particle"] in ("p0005", "p0009"):
            check(r["status"] == "failed" and r["reason"].startswith("helixft (status "),
                  f"{r['particle']}: status {r['status']}, reason {r['reason']}")
            check(f"{r['particle']}.map" in r["reason"], "the reason carries the message, naming the file")
        else:
            check(r["status"] == "ok", f"{r['particle']} {r['side']}: {r['status']} {r['reason']}")
    summary = (d / "results/report/summary.txt").read_text()
    log = (d / "results/average/layermean.txt").read_text()
    check(" 20 data sets " in log and "4 rows left out by their status" in log,
          "the average is made of the other particles' 20 sides:\n" + log[:300])
    check((d / "results/maps/average.map").stat().st_size > 1024, "a map of the average")
    check("used: 10" in summary and "p0005 near: failed" in summary and "p0009 far: failed" in summary,
          "the summary counts and names the failures:\n" + summary)
    # A threshold below every residual turns every side into a residual failure.
    with open(d / "config.yaml", "a") as f:
        f.write("residual_threshold: 1\noutput: strict\naverage: false\nmap: {enabled: false}\nrounds: 1\n")
    run_local(d)
    rows = wf.read_table(d / "strict/alignments.tsv")
    check(all(r["status"] in ("residual", "failed") for r in rows), "every row above the threshold")
    check(all("above the threshold 1" in r["reason"] for r in rows if r["status"] == "residual"), "reason")


def test_rerun(tmp):
    """Killed with SIGKILL in the middle (the whole process group, as a crash does) and
    started again with the same command, the run ends with the results of an uninterrupted
    one, byte for byte."""
    whole = dataset(tmp / "whole", count=24)
    run_local(whole)
    killed = tmp / "killed"
    shutil.copytree(whole, killed, ignore=shutil.ignore_patterns("results", ".snakemake"))
    cmd = ["snakemake", "-s", str(SNAKEFILE), "--configfile", "config.yaml", "--cores", "2"]
    proc = subprocess.Popen(cmd, cwd=killed, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)
    deadline = time.time() + 60
    while time.time() < deadline and len(list((killed / "results/chunks").glob("*.tsv"))) < 2:
        time.sleep(0.02)
    os.killpg(proc.pid, signal.SIGKILL)
    proc.wait()
    done = len(list((killed / "results/chunks").glob("*.tsv")))
    check(done < 8, f"the kill came too late ({done} of 8 chunks done)")
    run_local(killed)
    a, b = outputs(whole), outputs(killed)
    check(a.keys() == b.keys(), f"files differ: {sorted(set(a) ^ set(b))}")
    for k in a:
        check(a[k] == b[k], f"{k} differs after the rerun")
    check(not list((killed / "results").rglob(".*tmp*")), "no scratch folder is left")


def noise_image(like, path, seed):
    """An image of pure noise with the header and the spread of the image like."""
    import numpy as np

    raw = bytearray(Path(like).read_bytes())
    start = 1024 + int(np.frombuffer(bytes(raw[92:96]), dtype=np.int32)[0])
    values = np.frombuffer(bytes(raw[start:]), dtype=np.float32)
    noise = np.random.default_rng(seed).normal(0.0, values.std(), values.size).astype(np.float32)
    raw[start:] = noise.tobytes()
    Path(path).write_bytes(bytes(raw))


def test_rounds(tmp):
    """Three rounds on small images from a reference limited to 30 A, one particle pure
    noise. The split is made once and every round keeps it; the noise particle's sides are
    no better than random phases in every round and left out, every other side is accepted;
    round 1 compares less (within 20 A: a larger spread of random phases) than the last;
    the sides of both halves agree with each other in the last round: their errors against
    the truth lie within 2 degrees and 1.5 A of one common error (a 30 A reference pins the
    frame along one screw motion of this helix only weakly; half 2 is brought into half 1's
    frame, halves_motion.txt of every round names the motion). Killed once round 2's table
    exists, the run resumes there: no particle is sampled or searched in round 1 again. The
    report gives every round."""
    d = dataset(tmp / "run", count=9, options=["--small"])
    noise_image(d / "particles/p0000.map", d / "particles/p0008.map", 8)
    cmd = ["snakemake", "-s", str(SNAKEFILE), "--configfile", "config.yaml", "--cores", "2"]
    proc = subprocess.Popen(cmd, cwd=d, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)
    deadline = time.time() + 300
    while time.time() < deadline and not (d / "results/rounds/2/alignments.tsv").exists() and proc.poll() is None:
        time.sleep(0.05)
    os.killpg(proc.pid, signal.SIGKILL)
    proc.wait()
    check((d / "results/rounds/2/alignments.tsv").exists(), "round 2 was not reached")
    first = (d / "results/rounds/1/alignments.tsv").stat().st_mtime_ns
    again = run_local(d)
    check("rule align_chunk:" not in again.stderr, "the rerun searched round 1 again")
    check((d / "results/rounds/1/alignments.tsv").stat().st_mtime_ns == first, "round 1's table was rewritten")
    halves = {r["particle"]: r["half"] for r in wf.read_table(d / "results/halves.tsv")}
    check(halves == {f"p{i:04d}": str(i % 2 + 1) for i in range(9)}, f"halves {halves}")
    truth = truths(d)
    tables = [wf.read_table(d / f"results/rounds/{r}/alignments.tsv") for r in (1, 2, 3)]
    summary = (d / "results/report/summary.txt").read_text()
    for r, rows in enumerate(tables, 1):
        check(len(rows) == 18 and all(row["half"] == halves[row["particle"]] for row in rows), f"round {r}: halves")
        for row in rows:
            want = "random" if row["particle"] == "p0008" else "ok"
            check(row["status"] == want, f"round {r}, {row['particle']} {row['side']}: {row['status']} {row['reason']}")
        check(f"round {r}: sides accepted 16 of 18 (random 2)" in summary, f"round {r} in the summary:\n{summary}")
    spread = lambda rows: statistics.median(float(row["random_sd"]) for row in rows if row["status"] == "ok")
    check(spread(tables[0]) > 1.3 * spread(tables[2]), "round 1 compares no less than the last")
    check_one_frame(tables[2], truth)
    for r in (1, 2, 3):
        motion = (d / f"results/rounds/{r}/halves_motion.txt").read_text().split()
        check(len(motion) >= 4 and motion[3] == "same", f"round {r}: halves' motion {motion}")
        # the data set held in the reference's frame, by a motion across the free one
        check(motion[4:5] == ["anchor"] and len(motion) == 7, f"round {r}: no anchor in {motion}")
    final = wf.read_table(d / "results/alignments.tsv")
    check([(r["particle"], r["side"], r["phi"], r["status"]) for r in final] ==
          [(r["particle"], r["side"], r["phi"], r["status"]) for r in tables[2]], "alignments.tsv is the last round's")
    check(all((d / "results" / r["file"]).exists() for r in final), "alignments.tsv's files are found from its folder")


def check_one_frame(rows, truth, polarity=None):
    """The accepted sides' errors against the truth (both reduced to the pair nearest (0, 0))
    lie within 2 degrees and 1.5 A of their median: one frame for both halves; with the true
    polarities, every accepted side's polarity is its particle's."""
    errors = []
    for row in rows:
        if row["status"] == "ok":
            tp, tz = truth[row["particle"]]
            errors.append(wf.reduce_pair(float(row["phi"]) - tp, float(row["z"]) - tz, U, T, C))
            if polarity:
                check(row["polarity"] == polarity[row["particle"]],
                      f"{row['particle']} {row['side']}: {row['polarity']}, truly {polarity[row['particle']]}")
    mp, mz = statistics.median(e[0] for e in errors), statistics.median(e[1] for e in errors)
    for e in errors:
        check(abs(e[0] - mp) <= 4 * FINAL_STEP and abs(e[1] - mz) <= 3 * FINAL_STEP,
              f"errors {errors} do not agree about ({mp}, {mz})")


def test_polarity(tmp):
    """Every other particle upside down: make_particles' alternation puts them all in half 2,
    whose sides round 1 cannot tell apart from the right way up (the reference is limited to
    30 A). Half 2's average fits half 1's only turned over, so the half turns over as a
    whole: after the last round every accepted side has its particle's polarity, and the
    sides of both halves stand in one frame."""
    d = dataset(tmp / "run", count=8, options=["--small", "--mixed-polarity"])
    run_local(d)
    polarity = {r["particle"]: r["polarity"] for r in wf.read_table(d / "truth.tsv")}
    check(sorted(set(polarity.values())) == ["opposite", "same"], f"truth {polarity}")
    rows = wf.read_table(d / "results/alignments.tsv")
    check(sum(r["status"] == "ok" for r in rows) >= 14, f"accepted {[r['status'] for r in rows]}")
    check_one_frame(rows, truths(d), polarity)


def test_badconfig(tmp):
    """Settings that cannot make two independent halves or rounds are refused before any job
    runs, with a message naming the key."""
    d = dataset(tmp / "run", count=2, options=["--small", "--reference-resolution", "0"])
    base = (d / "config.yaml").read_text()
    cases = [("rounds: 0", "config: rounds: 0 "),
             ("rounds: 2.5", "config: rounds: 2.5 "),
             ("rounds: three", "config: rounds: 'three' "),
             ("initial_resolution: 5", "config: initial_resolution: 5 A is finer than the maps' resolution"),
             ("initial_resolution: 0", "config: initial_resolution: 0 "),
             ('particles: ["particles/p0000.map"]', "config: particles: half 2 would be empty"),
             ("acceptance: {significance: -1}", "config: acceptance.significance: -1 "),
             ("gridscan: {layer_lines: 10, delbr: 0.002, weight: 1.0, polarity: sideways}", "config: gridscan.polarity")]
    for line, message in cases:
        (d / "config.yaml").write_text(base + line + "\n")
        proc = snakemake(d, "--cores", "1")
        check(proc.returncode != 0, f"{line}: snakemake ended with status 0")
        check(message in proc.stderr, f"{line}: no message \"{message}\":\n{proc.stderr[-1500:]}")
        check(not (d / "results").exists(), f"{line}: a job ran")


# --- a single-node Slurm of our own -------------------------------------------------------

def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Slurm:
    """munged (as user munge), slurmctld and slurmd from a generated slurm.conf, with every
    file in one folder; stopped by their PIDs."""

    def __init__(self, folder):
        self.dir = folder
        self.procs = []
        self.env = dict(os.environ, SLURM_CONF=str(folder / "slurm.conf"))

    def start(self):
        d = self.dir
        munge = d / "munge"
        for sub in ("munge", "state", "spool", "log"):
            (d / sub).mkdir(parents=True)
        os.chmod(d.parent, 0o755)  # munged checks the folders above its own
        os.chmod(d, 0o755)
        shutil.chown(munge, "munge", "munge")
        os.chmod(munge, 0o700)
        sock = munge / "munge.socket"
        self.procs.append(subprocess.Popen(
            ["runuser", "-u", "munge", "--", "/usr/sbin/munged", "--foreground", "--force",
             f"--socket={sock}", f"--pid-file={munge}/munged.pid", f"--log-file={munge}/munged.log",
             f"--seed-file={munge}/munged.seed", "--key-file=/etc/munge/munge.key"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        self.wait_for(lambda: sock.exists(), "munged's socket")
        host = socket.gethostname()
        # A group of four chunk jobs asks for four cores; a small test machine is declared with
        # at least that many (config_overrides lets slurmd accept it).
        cpus = max(os.cpu_count(), 4)
        mem = int(open("/proc/meminfo").read().split()[1]) // 1024 // 2
        (d / "slurm.conf").write_text(f"""ClusterName=quorvantest
SlurmctldHost={host}
SlurmUser=root
SlurmctldPort={free_port()}
SlurmdPort={free_port()}
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket={sock}
StateSaveLocation={d}/state
SlurmdSpoolDir={d}/spool
SlurmctldPidFile={d}/slurmctld.pid
SlurmdPidFile={d}/slurmd.pid
SlurmctldLogFile={d}/log/slurmctld.log
SlurmdLogFile={d}/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SwitchType=switch/none
MpiDefault=none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
MinJobAge=3600
ReturnToService=2
SlurmdParameters=config_overrides
SlurmdTimeout=60
NodeName={host} CPUs={cpus} RealMemory={mem} State=UNKNOWN
PartitionName=quorvan Nodes={host} Default=YES MaxTime=INFINITE State=UP
""")
        for daemon in ("slurmctld", "slurmd"):
            self.procs.append(subprocess.Popen([f"/usr/sbin/{daemon}", "-D", "-f", str(d / "slurm.conf")],
                                               env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        self.wait_for(self.node_idle, "the node to come up")

    def node_idle(self):
        out = subprocess.run(["sinfo", "-h", "-o", "%T"], env=self.env, capture_output=True, text=True)
        return out.returncode == 0 and out.stdout.strip().startswith("idle")

    def wait_for(self, ready, what, seconds=60):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if ready():
                return
            for p in self.procs:
                if p.poll() is not None:
                    raise AssertionError(f"waiting for {what}: {p.args[0]} ended with {p.returncode}")
            time.sleep(0.2)
        raise AssertionError(f"{what} did not happen within {seconds} s")

    def stop(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
                try:
                    p.wait(timeout=20)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
        # runuser's child, munged, ends with runuser; slurmd's job steps are its children.


def test_slurm(tmp):
    """The same workflow through Slurm: every job is submitted with sbatch (its job id shows
    in the log Slurm writes for it), and the results equal a local run's."""
    if os.geteuid() != 0:
        raise Skip("starting munged, slurmctld and slurmd needs root")
    for tool in ("/usr/sbin/munged", "/usr/sbin/slurmctld", "/usr/sbin/slurmd", "sbatch"):
        if not shutil.which(tool):
            raise Skip(f"{tool} is not installed (scripts/setup installs it)")
    # small images and two rounds: every kind of job goes through Slurm, in a few minutes
    local = dataset(tmp / "local", count=8, options=["--small"], rounds=2)
    run_local(local)
    cluster = tmp / "cluster"
    shutil.copytree(local, cluster, ignore=shutil.ignore_patterns("results", ".snakemake"))
    slurm = Slurm(tmp / "slurm")
    try:
        slurm.start()
        proc = subprocess.run(["snakemake", "-s", str(SNAKEFILE), "--configfile", "config.yaml",
                               "--profile", str(TOP / "workflow/profiles/slurm"), "--latency-wait", "5"],
                              cwd=cluster, env=slurm.env, capture_output=True, text=True, timeout=480)
        check(proc.returncode == 0, f"snakemake through Slurm failed:\n{proc.stderr[-4000:]}")
        ids = [ln.split("'")[1] for ln in proc.stderr.splitlines() if "external jobid" in ln]
        check(len(ids) >= 3, f"too few jobs submitted: {ids}")
        for i in ids:
            log = cluster / "logs/slurm" / f"{i}.out"
            check(log.exists(), f"job {i} left no Slurm log")
        (tmp / "slurm-job-ids.txt").write_text("\n".join(ids) + "\n")
        print("Slurm job ids:", " ".join(ids))
    finally:
        slurm.stop()
    a, b = outputs(local), outputs(cluster)
    check(a.keys() == b.keys() and all(a[k] == b[k] for k in a), "the Slurm run's results differ")


def test_html(tmp):
    """index.html opens in headless Chromium and every picture on it loads."""
    chromium = shutil.which("chromium")
    if not chromium:
        raise Skip("chromium is not installed (scripts/setup installs it)")
    d = dataset(tmp / "run")
    (d / "particles/p0003.map").write_bytes(b"broken")
    run_local(d)
    check_crossings_made(d)
    page = d / "results/report/index.html"
    profile = tmp / "chromium-profile"
    profile.mkdir()
    proc = subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                           "--no-first-run", "--disable-background-networking", "--disable-component-update",
                           "--disable-sync", f"--user-data-dir={profile}", "--virtual-time-budget=5000",
                           "--dump-dom", page.as_uri()], capture_output=True, text=True, timeout=120)
    check(proc.returncode == 0, f"chromium failed: {proc.stderr[-2000:]}")
    n = page.read_text().count("<img ")
    check(n >= 4, f"only {n} pictures on the page")
    check(f"images loaded: {n} of {n}" in proc.stdout, "not every picture loaded: " +
          next((ln for ln in proc.stdout.splitlines() if "imagecheck" in ln), "no record"))
    check("p0003" in proc.stdout and "failed" in proc.stdout, "the table shows the failed particle")


def test_ctf(tmp):
    """Small particle images with the CTF (300 kV, Cs 2.7 mm, 7 percent amplitude contrast,
    defocus 1-3 micrometres, astigmatism up to 500 A) listed in a particle table: each is
    phase-flipped by its own CTF and every fitted (phi, z) is its truth within the search's
    final step; the alignment table and the report carry each particle's defocus, and the
    report the corrected average's amplitudes. Bad rows and ctf settings are refused before
    any job runs, naming the file, the line and the column."""
    # One pass against the noise-free reference: the CTF's correction is what is tested here,
    # not the rounds (whose halves may each settle in a frame of their own at this size).
    d = dataset(tmp / "run", count=6, options=("--small", "--defocus", "1", "3", "--astigmatism", "500",
                                               "--reference-resolution", "0"), rounds=1)
    good_table, good_config = (d / "particles.tsv").read_text(), (d / "config.yaml").read_text()
    run_local(d)
    rows = wf.read_table(d / "results/alignments.tsv")
    given = {r["name"]: r for r in wf.read_table(d / "particles.tsv")}
    truth = truths(d)
    check(len(rows) == 12 and all(r["status"] == "ok" for r in rows), "12 ok rows")
    errors = []
    for r in rows:
        tp, tz = truth[r["particle"]]
        dp, dz = wf.reduce_pair(float(r["phi"]) - tp, float(r["z"]) - tz, U, T, C)
        errors += [dp, dz]
        # The small images' 5 A pixels leave a step or two of error, without the CTF as well
        # (in phi up to five for make_particles' thin helix, whose low orders pin phi weakly);
        # a wrong alignment is off by many degrees or Angstroms.
        check(abs(dp) <= 6 * FINAL_STEP and abs(dz) <= 3 * FINAL_STEP,
              f"{r['particle']} {r['side']}: fitted ({r['phi']}, {r['z']}) against true ({tp}, {tz})")
        for c in wf.CTF_COLUMNS:
            check(r[c] == given[r["particle"]][c], f"{r['particle']}: {c} {r[c]} in the alignment table")
    rms = (sum(e * e for e in errors) / len(errors)) ** 0.5
    check(rms <= 2 * FINAL_STEP, f"RMS error {rms:.2f} over phi and z")
    summary = (d / "results/report/summary.txt").read_text()
    check("defocus (mean of U and V) of 6 particles" in summary, "the summary gives the defoci:\n" + summary)
    check((d / "results/report/amplitudes.svg").exists(), "the picture of the average's amplitudes")
    # The config names no wiener: the CTF weights' 1/SNR follows the halves shell by shell.
    check("from the halves" in (d / "results/average/layermean.txt").read_text(), "layermean --wiener auto")

    def lines(text, n, old, new):
        out = text.split("\n")
        out[n - 1] = out[n - 1].replace(old, new, 1)
        return "\n".join(out)

    third = good_table.split("\n")[2].split("\t")  # line 3: particle p0001
    cases = [
        (lines(good_table, 3, "\t" + third[2] + "\t", "\t\t"), good_config,
         'particles.tsv, line 3, column "defocus_u": no defocus, and the config names a ctf'),
        (lines(good_table, 3, "\t" + third[3] + "\t", "\t-200\t"), good_config,
         'particles.tsv, line 3, column "defocus_v": a defocus is positive underfocus in Angstroms, not -200'),
        (lines(good_table, 3, "\t" + third[2] + "\t", "\t2.1um\t"), good_config,
         'particles.tsv, line 3, column "defocus_u": "2.1um" is not a number'),
        (lines(good_table, 3, "\t" + third[4] + "\t", "\tnorth\t"), good_config,
         'particles.tsv, line 3, column "defocus_angle": "north" is not a number'),
        (good_table, good_config.replace("voltage: 300", "voltage: 0"), "ctf.voltage: 0 is less than or equal to the minimum of 0"),
    ]
    for i, (table, config, message) in enumerate(cases):
        b = tmp / f"bad{i}"
        shutil.copytree(d, b, ignore=shutil.ignore_patterns("results", ".snakemake"))
        (b / "particles.tsv").write_text(table)
        (b / "config.yaml").write_text(config)
        proc = snakemake(b, "--cores", "1")
        check(proc.returncode != 0, f"case {i}: snakemake ended with status 0")
        check(message in proc.stderr, f"case {i}: no message {message!r} in:\n{proc.stderr[-1500:]}")
        check(not (b / "results").exists(), f"case {i}: a job ran")


# --- segments from a STAR file -------------------------------------------------------------

def star_dataset(folder, layout="current", count=12):
    """make_particles' small particles as segments of one stack named by a STAR file: each
    turned and moved in its plane, filaments of three segments; the same motions and noise as
    the data set of one vertical image a file made with the same seed."""
    return single_pass(folder, "--count", str(count), "--star", layout)


def single_pass(folder, *options):
    """make_particles' small data set aligned in one pass against the noise-free reference:
    the segments' geometry is what is tested, not the rounds."""
    subprocess.run([sys.executable, str(TOP / "examples/workflow/make_particles"), "--bin", str(BIN),
                    "--folder", str(folder), "--chunk", "6", "--small", "--reference-resolution", "0",
                    *options], check=True)
    with open(folder / "config.yaml", "a") as f:
        f.write("rounds: 1\n")
    return folder


def segment_truths(folder):
    """The truth of each segment by its name in the run (stack name and section from 1)."""
    return {f"particles_{int(p[1:]) + 1:06d}": t for p, t in truths(folder).items()}


def test_star(tmp):
    """Segments turned and moved in their plane and named by a STAR file give every particle's
    true (phi, z), the fits and the map of the same particles given vertical one a file, and
    halves that keep each filament whole. Both STAR layouts give one particle table. Bad STAR
    input stops the run before any job, naming the file, the row and the column."""
    import gemmi
    import numpy as np

    sys.path.insert(0, str(TOP / "workflow/scripts"))
    import star_particles

    star = star_dataset(tmp / "star")
    vertical = tmp / "vertical"
    single_pass(vertical, "--count", "12")
    run_local(star)
    run_local(vertical)
    truth = segment_truths(star)
    rows = wf.read_table(star / "results/alignments.tsv")
    check(len(rows) == 24 and all(r["status"] == "ok" for r in rows), "24 ok rows")
    # The small images (5 A pixels) are fitted within two steps of the final grid (in phi six,
    # for make_particles' thin helix, whose low orders pin phi weakly), the vertical ones as the
    # segments, and as well on the whole.
    errors = {"segments": [], "vertical": []}
    for kind, table in (("segments", rows), ("vertical", wf.read_table(vertical / "results/alignments.tsv"))):
        for r in table:
            name = r["particle"] if kind == "segments" else f"particles_{int(r['particle'][1:]) + 1:06d}"
            tp, tz = truth[name]
            dp, dz = wf.reduce_pair(float(r["phi"]) - tp, float(r["z"]) - tz, U, T, C)
            check(abs(dp) <= 6 * FINAL_STEP and abs(dz) <= 2 * FINAL_STEP,
                  f"{kind} {name} {r['side']}: fitted ({r['phi']}, {r['z']}) against true ({tp}, {tz})")
            errors[kind].append(dp * dp + dz * dz)
    rms = {k: (sum(v) / len(v)) ** 0.5 for k, v in errors.items()}
    # the turn interpolates the 5 A pixels, which costs the thin helix a little of its hold on phi
    check(rms["segments"] <= rms["vertical"] + 0.4, f"RMS errors {rms}")
    a, b = map_values(star / "results/maps/average.map"), map_values(vertical / "results/maps/average.map")
    same = correlation(a, b)
    check(same >= 0.98, f"the maps of the segments and of the vertical images correlate at {same:.3f}")
    # filaments of three segments alternate between the halves
    half = {r["particle"]: r["half"] for r in rows}
    for k in range(12):
        check(half[f"particles_{k + 1:06d}"] == str(k // 3 % 2 + 1), f"segment {k + 1} in half {half}")
    # The older layout (offsets in pixels, the pixel size from magnification and detector)
    # gives the same particle table.
    old = star_dataset(tmp / "old", layout="old", count=4)
    now = star_dataset(tmp / "now", count=4)
    keys = ["name", "section", "psi", "shift_x", "shift_y", "filament", "defocus_u", "defocus_v", "defocus_angle",
            "voltage", "cs", "amplitude_contrast", "pixel"]
    t_old, t_now = star_particles.read_star(old / "particles.star"), star_particles.read_star(now / "particles.star")
    for a_row, b_row in zip(t_old, t_now):
        for k in keys:
            same = a_row[k] == b_row[k] if k in ("name", "filament") else abs(float(a_row[k]) - float(b_row[k])) < 2e-3
            check(same, f"the layouts differ in {k}: {a_row[k]} and {b_row[k]}")
    check(len(t_old) == len(t_now) == 4, "four segments in each layout")
    # as the programs that write them annotate them: a version line and numbered columns
    numbered, n = ["# version 30001"], 0
    for ln in (now / "particles.star").read_text().splitlines():
        n = 0 if ln.startswith("data_") else n + ln.startswith("_rln")
        numbered.append(f"{ln} #{n}" if ln.startswith("_rln") else ln)
    (now / "numbered.star").write_text("\n".join(numbered) + "\n")
    check(star_particles.read_star(now / "numbered.star") == t_now, "numbered columns read alike")
    # The exported file reads back with gemmi: every segment, its half, tilt 90.
    block = gemmi.cif.read_file(str(star / "results/alignments.star")).find_block("particles")
    subset = list(block.find_loop("_rlnRandomSubset"))
    check(len(subset) == 12 and list(block.find_loop("_rlnAngleTilt")) == ["90.000000"] * 12,
          "alignments.star holds the 12 segments at tilt 90")
    check(subset == [half[f"particles_{k + 1:06d}"] for k in range(12)], "alignments.star keeps the halves")

    # Segments imaged with an astigmatic CTF in the frame of the turned image and phase-flipped
    # after helixft turned them: the defocus angle turns with them, the fits and the map hold.
    ctf = single_pass(tmp / "ctf", "--count", "12", "--star", "--defocus", "1", "2", "--astigmatism", "3000")
    run_local(ctf)
    for r in wf.read_table(ctf / "results/alignments.tsv"):
        tp, tz = segment_truths(ctf)[r["particle"]]
        dp, dz = wf.reduce_pair(float(r["phi"]) - tp, float(r["z"]) - tz, U, T, C)
        check(r["status"] == "ok" and abs(dp) <= 6 * FINAL_STEP and abs(dz) <= 2 * FINAL_STEP,
              f"with the CTF, {r['particle']} {r['side']}: {r['status']} ({r['phi']}, {r['z']}) against ({tp}, {tz})")
    with_ctf = correlation(map_values(ctf / "results/maps/average.map"),
                           limited(map_values(ctf / "truth.map"), 5.0, 10.5))
    check(with_ctf >= 0.95, f"with the CTF the map correlates with the truth at {with_ctf:.3f}")

    # Bad input, each in a copy of the STAR file: nothing runs, the message says where.
    text = (now / "particles.star").read_text()
    line = next(ln for ln in text.splitlines() if ln.startswith("3@"))
    cases = {
        "no image column": (text.replace("_rlnImageName", "_rlnImageNameX"), "no column rlnImageName"),
        "section beyond the stack": (text.replace(line, line.replace("3@", "9@", 1)),
                                     "row 3, column rlnImageName: \"9@particles.mrcs\": particles.mrcs holds 4 "
                                     "sections, not 9"),
        "no stack": (text.replace(line, line.replace("@particles.mrcs", "@gone.mrcs", 1)),
                     "row 3, column rlnImageName: \"3@gone.mrcs\": the file gone.mrcs does not exist"),
        "psi not a number": (text.replace(line, line.split()[0] + " ten " + " ".join(line.split()[2:])),
                             "row 3, column rlnAnglePsi: \"ten\" is not an angle in degrees"),
        "no pixel size": ((old / "particles.star").read_text().replace("_rlnMagnification", "_rlnMagnificationX"),
                          "row 1, column rlnImagePixelSize: no pixel size"),
    }
    for what, (bad, message) in cases.items():
        (now / "bad.star").write_text(bad)
        if what == "no pixel size":
            shutil.copy(old / "particles.mrcs", now / "particles.mrcs")
        proc = snakemake(now, "--cores", "1", "--config", "particles=bad.star", "output=bad")
        check(proc.returncode != 0, f"{what}: the run went on")
        check(f"particles: bad.star, {message}" in proc.stderr or f"particles: bad.star: {message}" in proc.stderr,
              f"{what}: the message\n{proc.stderr[-1500:]}")
        check(not (now / "bad").exists(), f"{what}: a job ran")


def test_relion(tmp):
    """The exported alignments.star, reconstructed by relion (relion_reconstruct, then
    relion_helix_toolbox --impose with the helix's rise and twist), is the true density and
    besselmap's map (correlation 0.9 or better inside the helix at the map's resolution), and
    not its mirror image. The segments are turned, moved and rotated at random, so each of
    the conventions (rot = phi - 90, psi, the origin's sign) is needed to get there. The
    exported CTF columns are read in the convention stated below."""
    for tool in ("relion_reconstruct", "relion_helix_toolbox"):
        if not shutil.which(tool):
            raise Skip(f"{tool} is not installed (scripts/setup installs relion)")
    import gemmi
    import numpy as np

    d = star_dataset(tmp / "run", count=16)
    run_local(d)
    for args in (["relion_reconstruct", "--i", "results/alignments.star", "--o", "relion.mrc"],
                 ["relion_helix_toolbox", "--impose", "--i", "relion.mrc", "--o", "relion_sym.mrc", "--angpix", "5",
                  "--cyl_outer_diameter", "120", "--rise", str(C / U), "--twist", str(360.0 * T / U)]):
        proc = subprocess.run(args, cwd=d, capture_output=True, text=True, timeout=300)
        check(proc.returncode == 0 and (d / args[args.index("--o") + 1]).exists(),
              f"{args[0]} failed:\n{proc.stdout[-1500:]}{proc.stderr[-1500:]}")
    import mrcfile

    with mrcfile.open(d / "relion_sym.mrc") as m:
        got = limited(m.data.astype(np.float64), 5.0, 10.5)
    truth = limited(map_values(d / "truth.map"), 5.0, 10.5)
    ours = map_values(d / "results/maps/average.map").astype(np.float64)
    check(got.shape == truth.shape, f"relion's map {got.shape}, truth {truth.shape}")
    nz, ny, nx = got.shape
    yy, xx = np.meshgrid(np.arange(ny) - ny // 2, np.arange(nx) - nx // 2, indexing="ij")
    inside = np.broadcast_to(np.hypot(xx, yy)[None] * 5.0 <= 50.0, got.shape)
    mirror = truth[:, :, [(nx - ix) % nx for ix in range(nx)]]
    c_truth, c_ours = correlation(got[inside], truth[inside]), correlation(got[inside], ours[inside])
    c_mirror = correlation(got[inside], mirror[inside])
    print(f"relion's map against the truth {c_truth:.3f}, besselmap's map {c_ours:.3f}, the mirror {c_mirror:.3f}")
    check(c_truth >= 0.9, f"relion's map correlates with the truth at {c_truth:.3f}")
    check(c_ours >= 0.9, f"relion's map correlates with besselmap's at {c_ours:.3f}")
    check(c_mirror < 0.6 * c_truth, f"the mirror image correlates at {c_mirror:.3f}")

    # The CTF of the exported file's columns: the segments modulated by
    # +(sqrt(1 - Q^2) sin chi + Q cos chi), chi = pi lambda df s^2 - pi/2 Cs lambda^3 s^4, the
    # defocus at angle theta (from +x towards +y) (U + V)/2 + (U - V)/2 cos 2(theta - angle),
    # strongly astigmatic, come back as the density under relion's CTF correction; the
    # opposite sign gives its negative, the angle counted the other way a worse map.
    def with_ctf(sign, turn):
        doc = gemmi.cif.read_file(str(d / "results/alignments.star"))
        block = doc.find_block("particles")
        names, du = block.find_loop("_rlnImageName"), block.find_loop("_rlnDefocusU")
        dv, angle = block.find_loop("_rlnDefocusV"), block.find_loop("_rlnDefocusAngle")
        with mrcfile.open(d / "particles.mrcs") as m:
            stack = m.data.astype(np.float64)
        n, pixel, volts, cs, q = stack.shape[1], 5.0, 300e3, 2.7e7, 0.1
        lam = 12.2643247 / np.sqrt(volts * (1.0 + volts * 0.978466e-6))
        ky, kx = np.fft.fftfreq(n, pixel)[:, None], np.fft.fftfreq(n, pixel)[None, :]
        s2, theta = kx ** 2 + ky ** 2, np.arctan2(ky, kx)
        out = np.zeros_like(stack)
        for i in range(len(names)):
            k = int(names[i].split("@")[0]) - 1
            u, v = float(du[i]), float(du[i]) - 8000.0
            dv[i] = f"{v:.1f}"
            names[i] = names[i].replace("particles.mrcs", "ctf.mrcs")
            df = (u + v) / 2 + (u - v) / 2 * np.cos(2 * (theta - turn * np.radians(float(angle[i]))))
            chi = np.pi * lam * df * s2 - np.pi / 2 * cs * lam ** 3 * s2 ** 2
            ctf = sign * (np.sqrt(1 - q * q) * np.sin(chi) + q * np.cos(chi))
            out[k] = np.fft.ifft2(np.fft.fft2(stack[k]) * ctf).real
        with mrcfile.new(d / "ctf.mrcs", overwrite=True) as m:
            m.set_data(out.astype(np.float32))
        doc.write_file(str(d / "ctf.star"))
        for f in ("ctf.mrc", "ctf_sym.mrc"):
            (d / f).unlink(missing_ok=True)
        for args in (["relion_reconstruct", "--i", "ctf.star", "--o", "ctf.mrc", "--ctf"],
                     ["relion_helix_toolbox", "--impose", "--i", "ctf.mrc", "--o", "ctf_sym.mrc", "--angpix", "5",
                      "--cyl_outer_diameter", "120", "--rise", str(C / U), "--twist", str(360.0 * T / U)]):
            proc = subprocess.run(args, cwd=d, capture_output=True, text=True, timeout=300)
            check(proc.returncode == 0, f"{args[0]} failed:\n{proc.stdout[-1500:]}{proc.stderr[-1500:]}")
        with mrcfile.open(d / "ctf_sym.mrc") as m:
            return correlation(limited(m.data.astype(np.float64), 5.0, 10.5)[inside], truth[inside])

    right, flipped, turned = with_ctf(1.0, 1.0), with_ctf(-1.0, 1.0), with_ctf(1.0, -1.0)
    print(f"with the CTF: {right:.3f}, its opposite sign {flipped:.3f}, its angle the other way {turned:.3f}")
    # (the astigmatic CTF's zeros cost the thin helix a little of its agreement)
    check(right >= 0.85 and flipped <= -0.85, f"the CTF's sign: {right:.3f}, opposite {flipped:.3f}")
    check(turned < right - 0.05, f"the defocus angle: {right:.3f}, counted the other way {turned:.3f}")


def test_overlap(tmp):
    """The 10/3 helix at radius 40 A, whose layer lines carry two or three orders: the check
    finds them and turns the separation on, so the maps keep the config's 10.5 A and every
    layer line while the alignments compare only the single-order radii. The separated average
    holds several orders a layer line, and its map correlates with the true density inside the
    helix's radius at 0.9 or better, clearly above the map of the one-order average of the same
    alignments; the report names the orders and the radii the views could not separate. From
    round 2 each half's whole-deck sides are aligned against its separated average."""
    import numpy as np

    d = dataset(tmp / "run", count=8, options=["--small", "--overlapping"])
    run_local(d)
    limits = {r["key"]: r["value"] for r in wf.read_table(d / "results/check/limits.tsv")}
    check(limits["separation"] == "on" and float(limits["resolution"]) == 10.5, f"limits {limits}")
    orders = {}
    for r in wf.read_table(d / "results/average/separated-stats.tsv"):
        orders.setdefault(r["l"], set()).add(r["n"])
    check(len(orders) == 10 and sum(len(v) >= 3 for v in orders.values()) >= 8,
          f"orders separated per layer line: {orders}")
    plain = d / "plain.map"
    subprocess.run([str(BIN / "besselmap"), "--input", str(d / "results/average/average.dat"), "--map", str(plain),
                    "--repeat", "100", "--resolution", "10.5", "--voxel", "5", "--size", "100", "100"], check=True,
                   stdout=subprocess.DEVNULL)
    truth_map = limited(map_values(d / "truth.map"), 5.0, 10.5)
    y, x = np.meshgrid((np.arange(100) - 50) * 5.0, (np.arange(100) - 50) * 5.0, indexing="ij")
    inside = np.hypot(x, y) <= 48.0
    inner = lambda m: m[:, inside]
    separated = correlation(inner(map_values(d / "results/maps/average.map")), inner(truth_map))
    single = correlation(inner(map_values(plain)), inner(truth_map))
    check(separated >= 0.9 and separated > single + 0.1,
          f"the separated map correlates with the truth at {separated:.3f}, the one-order map at {single:.3f}")
    summary = (d / "results/report/summary.txt").read_text()
    check("orders separated by least squares over the views: 10 layer lines into" in summary
          and "under-determined" in summary, "the summary gives the separation:\n" + summary)
    page = (d / "results/report/index.html").read_text()
    check('src="separated_amplitude.svg"' in page and 'src="separated_fom.svg"' in page,
          "the report shows the separated orders")
    # Round 2 aligned each side's whole-deck sample against its half's separated average of
    # round 1: searched that way around its own answer, every accepted side of half 1 (which
    # match_halves leaves as aligned) finds that answer and residual again; the single-order
    # side against the one-order average, which compares fewer radii, does not.
    same = {True: 0, False: 0}
    rows = [r for r in wf.read_table(d / "results/rounds/2/alignments.tsv") if r["half"] == "1" and r["status"] == "ok"]
    for r in rows:
        for model in (True, False):
            found = search_side(d, r, model)
            # the scale as found; phi and z between grid points, and the residual at the grid
            # point nearest them, as this search's grid (centred elsewhere) gives them
            same[model] += (found[2] == r["rscale"] and abs(float(found[3]) - float(r["residual"])) <= 0.25
                            and all(abs(float(v) - float(r[k])) <= 0.15 for v, k in zip(found, ("phi", "z"))))
    check(rows and same[True] == len(rows) and same[False] < len(rows) / 2,
          f"round 2's answers of {len(rows)} half-1 sides found again: against the separated model {same[True]}, "
          f"against the one-order average {same[False]}")


def search_side(d, row, model):
    """gridscan's (phi, z, rscale, residual) for a side of round 2's table searched around its
    answer against its half's average of round 1: with model its whole-deck sample against the
    separated average (gridscan --model), else its sample against the one-order average; by
    the vector residual's fit, as a later round searches."""
    import align_chunk as ac
    import yaml

    work = Path(tempfile.mkdtemp(dir=d))
    kept = (d / "results/rounds/2" / row["file"]).resolve()
    os.symlink(kept.with_name("full-" + kept.name) if model else kept, work / f"{row['side']}.dat")
    average = d / f"results/rounds/1/average/{'separated-' if model else ''}half{row['half']}.dat"
    gs = yaml.safe_load((d / "config.yaml").read_text())["gridscan"]
    a = argparse.Namespace(layer_lines=gs["layer_lines"], repeat=C, delbr=str(gs["delbr"]), weight=str(gs["weight"]),
                           title="side", gridscan=str(BIN / "gridscan"))
    found = ac.gridscan(a, work, row["side"], str(average), row["polarity"],
                        ["--fit", "vector", "--around", row["phi"], row["z"], row["rscale"]]
                        + (["--model"] if model else []))
    shutil.rmtree(work)
    return found


def main(cases=None):
    """Runs the case sys.argv[1]: the function test_CASE of cases (this module's by default)."""
    case = sys.argv[1]
    tmp = Path(tempfile.mkdtemp(prefix=f"workflow-{case}-"))
    try:
        (cases or globals())[f"test_{case}"](tmp)
    except Skip as s:
        print(f"skipped: {s}")
        return 77
    except AssertionError as e:
        print(f"FAILED: {e}\n(files kept in {tmp})")
        return 1
    shutil.rmtree(tmp, ignore_errors=True)
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
