#!/usr/bin/env bash
# Times the workflow on many small synthetic particle images (make_particles --small: 100 x
# 100 pixels, maps of 100^3 voxels): RUNS runs of N particles on C cores from scratch, each
# with its wall time, the summed CPU time of its jobs (Snakemake's own CPU apart), the goal
# wall <= 1.25 x (job CPU / cores), particles per second, and where the wall time goes (from
# the start to the reference's layer lines, the chunks, the steps after the last chunk);
# then Snakemake's start-up (a dry run: reading the config, listing the particles, building
# the DAG) for 1000 and 10,000 particles. Medians over the runs; the load before and after.
# ROUNDS lists the settings to time, each the refinement rounds with an optional polarity
# (default "3"; e.g. "1:same 3" times the single pass of one polarity, as the workflow ran
# before its rounds, and three rounds with both polarities searched in round 1, side by side,
# runs alternating, and gives each one's medians and the ratio of their job CPU).
# usage: bench/workflow_timing.sh [N=1000] [CORES=2] [CHUNK=N/(4 CORES)] [RUNS=3] [ROUNDS="3"]
# (after building helixsim, helixft, sidesplit, gridscan, layermean, besselmap and mapfsc
# into build/bin)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
n=${1:-1000} cores=${2:-2}
chunk=${3:-$(((n + 4 * cores - 1) / (4 * cores)))} runs=${4:-3} rounds=${5:-3}
work=$(mktemp -d /tmp/workflow-timing.XXXXXX)
trap 'rm -rf "$work"' EXIT
echo "load before: $(uptime)"
/usr/bin/python3 "$top/examples/workflow/make_particles" --bin "$top/build/bin" --count "$n" \
  --folder "$work/run" --chunk "$chunk" --small >/dev/null
/usr/bin/python3 - "$top/workflow/Snakefile" "$work" "$rounds" "$n" "$cores" "$chunk" "$runs" <<'PY'
import os, resource, shutil, statistics, subprocess, sys, time
from pathlib import Path

snakefile, work, rounds = sys.argv[1], Path(sys.argv[2]), sys.argv[3].split()
n, cores, chunk, runs = map(int, sys.argv[4:])
tick = os.sysconf("SC_CLK_TCK")


def children_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def own_cpu(pid):
    """utime + stime of the process itself (not of its children), or None once it is gone."""
    try:
        fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    except OSError:
        return None
    return (int(fields[11]) + int(fields[12])) / tick


def snakemake(folder, *extra):
    return ["snakemake", "-s", snakefile, "--configfile", "config.yaml", "-q", *extra]


def one_run(folder):
    for sub in ("results", ".snakemake"):
        shutil.rmtree(folder / sub, ignore_errors=True)
    c0, start, t0 = children_cpu(), time.time(), time.perf_counter()
    proc = subprocess.Popen(snakemake(folder, "--cores", str(cores)), cwd=folder,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    own = 0.0
    while proc.poll() is None:  # Snakemake's own CPU, sampled until it ends
        own = own_cpu(proc.pid) or own
        time.sleep(0.02)
    wall = time.perf_counter() - t0
    if proc.returncode != 0:
        sys.exit(f"snakemake failed with status {proc.returncode} in {folder}")
    total = children_cpu() - c0
    res = folder / "results"
    head = (res / "reference/near.dat").stat().st_mtime - start
    last_chunk = max(f.stat().st_mtime for f in (res / "chunks").glob("*.tsv")) - start
    return dict(wall=wall, jobs=total - own, own=own, head=head, chunks=last_chunk - head, tail=wall - last_chunk)


folder = work / "run"
base_config = (folder / "config.yaml").read_text()
results = {r: [] for r in rounds}
for _ in range(runs):
    for r in rounds:  # side by side: the settings alternate run by run
        count, _, polarity = r.partition(":")
        text = base_config + f"rounds: {count}\n"
        if polarity:  # make_particles writes the gridscan settings on one line
            text = text.replace("weight: 1.0}", f"weight: 1.0, polarity: {polarity}}}")
        (folder / "config.yaml").write_text(text)
        results[r].append(one_run(folder))
(folder / "config.yaml").write_text(base_config)
for r in rounds:
    med = {k: statistics.median(x[k] for x in results[r]) for k in results[r][0]}
    print(f"rounds: {r}")
    for i, x in enumerate(results[r], 1):
        print(f"run {i}: wall {x['wall']:.2f} s, job CPU {x['jobs']:.2f} s, ratio {x['wall'] / (x['jobs'] / cores):.3f}")
    print(f"{n} particles on {cores} cores in chunks of {chunk} (median of {runs} runs):")
    print(f"  wall {med['wall']:.2f} s; summed job CPU {med['jobs']:.2f} s; Snakemake's own CPU {med['own']:.2f} s")
    print(f"  wall / (job CPU / {cores}) = {statistics.median(x['wall'] / (x['jobs'] / cores) for x in results[r]):.3f} (goal: at most 1.25)")
    print(f"  {n / med['wall']:.1f} particles per second")
    print(f"  where the wall time goes: start to the reference's layer lines {med['head']:.2f} s, "
          f"round 1's chunks {med['chunks']:.2f} s, after round 1's last chunk {med['tail']:.2f} s")
if len(rounds) > 1:
    cpu = {r: statistics.median(x["jobs"] for x in results[r]) for r in rounds}
    for r in rounds[1:]:
        print(f"job CPU of rounds: {r} over rounds: {rounds[0]}: {cpu[r] / cpu[rounds[0]]:.2f}; "
              f"per run side by side: " + ", ".join(f"{b['jobs'] / a['jobs']:.2f}" for a, b in zip(results[rounds[0]], results[r])))

# Start-up: a dry run over empty particle files (the DAG is built from the names alone).
for count in (1000, 10000):
    dag = work / f"dag{count}"
    (dag / "particles").mkdir(parents=True)
    for f in ("reference.map", "sidesplit.dek", "truth.map"):
        os.symlink(folder / f, dag / f)
    lines = (folder / "config.yaml").read_text().splitlines()
    (dag / "config.yaml").write_text("\n".join(ln for ln in lines if not ln.startswith("chunk_size")) +
                                     f"\nchunk_size: {chunk}\n")
    for i in range(count):
        (dag / "particles" / f"p{i:05d}.map").touch()
    times = []
    for _ in range(3):
        shutil.rmtree(dag / ".snakemake", ignore_errors=True)
        t0 = time.perf_counter()
        subprocess.run(snakemake(dag, "--cores", "1", "-n"), cwd=dag, check=True, stdout=subprocess.DEVNULL)
        times.append(time.perf_counter() - t0)
    jobs = (count + chunk - 1) // chunk
    print(f"Snakemake's start-up (dry run, {count} particles in {jobs} chunks of {chunk}): "
          f"{statistics.median(times):.2f} s (median of 3)")
PY
echo "load after: $(uptime)"
