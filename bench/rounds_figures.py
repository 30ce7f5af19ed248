#!/usr/bin/env python3
"""The refinement rounds' figures on synthetic particle images: make_particles (N particles,
noise L, optionally mixed polarity), the workflow through its rounds, then per round
  - the alignment error of every accepted side against the truth, both reduced to the
    equivalent pair nearest (0, 0) under the helix's symmetry: its RMS in phi and z as it
    stands, and about the median error of all sides (one motion of the whole data set, which
    moves the map but does not blur it: a reference limited to 30 A pins the frame along one
    screw motion of this helix only loosely);
  - the half-set FSC and the FSC of the average against the true density at 0.5 and 0.143,
    and the half-set resolution over the truth's (at most 1.15 for an honest curve);
  - with mixed polarity, how many particles' polarity was found.
usage: bench/rounds_figures.py [--count N] [--noise L] [--seed S] [--cores C] [--mixed-polarity]
                               [--config 'key: value' ...] [--folder DIR] [--keep]
       bench/rounds_figures.py --analyse DIR      (the figures of a run already made)
(after building helixsim, helixft, sidesplit, gridscan, layermean, besselmap and mapfsc)"""
import argparse
import math
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

TOP = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(TOP / "workflow" / "scripts"))
import acceptance  # noqa: E402
import frame  # noqa: E402
import quorvan_wf as wf  # noqa: E402

U, T, C = 20, 7, 100.0


def crossings(path, limit=0.0):
    """(FSC 0.5, FSC 0.143) in A from a mapfsc report, None where it names none; a crossing
    finer than the maps' limit (where they hold no data) counts as the limit, as the
    workflow's summary gives it."""
    out = {}
    if not path.exists():
        return None, None
    for line in path.read_text().splitlines():
        m = re.match(r"\s*FSC (0\.5|0\.143) at\s+(\S+) A", line)
        if m:
            out[m.group(1)] = max(float(m.group(2)), limit)
    return out.get("0.5"), out.get("0.143")


def map_limit(folder):
    """The resolution the run's maps were limited to (its config's map: resolution), 0 if none."""
    m = re.search(r"^map:.*\bresolution:\s*([0-9.]+)", (folder / "config.yaml").read_text(), re.M)
    return float(m.group(1)) if m else 0.0


def rms(v):
    return math.sqrt(sum(x * x for x in v) / len(v)) if v else float("nan")


def moved(errs, offset):
    """Errors (dphi, dz) with the whole data set moved by offset, each reduced again to the
    equivalent nearest (0, 0): a data set whose frame lies near half a symmetry step from the
    truth's has its errors reduced to equivalents on both sides of it, which only a reduction
    after the move brings together."""
    return [wf.reduce_pair(p + offset[0], z + offset[1], U, T, C) for p, z in errs]


def centre(errs):
    """The data set's own offset from the truth: the error of the side whose errors relative to
    it are smallest in the sum, refined by the median of those relative errors. Errors about it
    (moved(errs, -centre)) measure the blur of the map, whatever frame it stands in."""
    if not errs:
        return 0.0, 0.0
    sample = errs[:: max(1, len(errs) // 50)]
    cost = lambda c: sum(p * p + (360.0 * z / C) ** 2 for p, z in moved(errs, (-c[0], -c[1])))  # noqa: E731
    c = min(sample, key=cost)
    rel = moved(errs, (-c[0], -c[1]))
    return c[0] + statistics.median(p for p, _ in rel), c[1] + statistics.median(z for _, z in rel)


def errors(table, truth):
    """(particle, half, dphi, dz, polarity) of every accepted side against the truth."""
    out = []
    for r in wf.read_table(table):
        if r["status"] != "ok":
            continue
        tp, tz = truth[r["particle"]][:2]
        dp, dz = wf.reduce_pair(float(r["phi"]) - tp, float(r["z"]) - tz, U, T, C)
        out.append((r["particle"], r["half"], dp, dz, r.get("polarity", "same")))
    return out


BIN = TOP / "build" / "bin"


def program(work, name, *args, **kw):
    """One of the suite's programs (build/bin) run in work, its output discarded."""
    return subprocess.run([str(BIN / name), *args], cwd=work, check=True, stdout=subprocess.DEVNULL, **kw)


def truth_layer_lines(work):
    """work/truth.dat: the layer lines (near side) of the unmoved noise-free particle at full
    resolution, make_particles' unlimited reference through helixft and sidesplit; the folder
    is made afresh."""
    shutil.rmtree(work, ignore_errors=True)
    subprocess.run([sys.executable, str(TOP / "examples/workflow/make_particles"), "--bin", str(BIN), "--count", "1",
                    "--folder", str(work / "make"), "--reference-resolution", "0"], check=True,
                   stdout=subprocess.DEVNULL)
    run = lambda *args, **kw: program(work, *args, **kw)  # noqa: E731
    run("helixft", "--image", "make/reference.map", "--transform", "truth-transform.map", "--repeat", f"{C:g}")
    (work / "sidesplit.dek").symlink_to((work / "make/sidesplit.dek").resolve())
    run("sidesplit", env={"IN": "truth-transform.map", "PATH": "/usr/bin:/bin"})
    (work / "truth.dat").write_bytes((work / "near.dat").read_bytes())
    return work / "truth.dat"


def layer_line_fsc(average, truth, step=0.002):
    """{shell k: FSC} of a layer-line average against the truth's layer lines, on the samples
    themselves: a sample at radius R of layer line l lies on the ring of radius R at height
    l/c of the 3-D transform, so it counts with the weight R in the shell of
    s = sqrt(R^2 + (l/c)^2), k = round(s / step) (mapfsc's shells for a 500 A box). The
    map's FSC measures the same where the map holds what the layer lines do, but its box and
    mask mix neighbouring shells, which matters where the curve falls steeply."""
    def values(path):
        out = {}
        for scale, n, l, pts in acceptance.read_point_list(str(path), 10000):
            key = (n, l)
            key = key + (2,) if key in out else key
            out[key] = {round(r, 5): scale * f * complex(math.cos(math.radians(p)), math.sin(math.radians(p)))
                        for r, f, p in pts if f > -900.0}
        return out
    a, t = values(average), values(truth)
    sums = {}
    for key, samples in t.items():
        for r, tv in samples.items():
            av = a.get(key, {}).get(r)
            if av is None:
                av = 0j
            k = round(math.hypot(r, key[1] / C) / step)
            s = sums.setdefault(k, [0.0, 0.0, 0.0])
            s[0] += r * (av * tv.conjugate()).real
            s[1] += r * abs(av) ** 2
            s[2] += r * abs(tv) ** 2
    return {k: v[0] / math.sqrt(v[1] * v[2]) for k, v in sorted(sums.items()) if v[1] > 0 and v[2] > 0}


def truth_frame(folder, table):
    """The motion (dphi, dz) that puts the data set of table on the truth's frame: gridscan of
    the table's average against the layer lines of the unmoved noise-free particle at full
    resolution (make_particles' unlimited reference through helixft and sidesplit), and the
    FSC against the true density of the average so moved (0.5, 0.143). The frame along a
    motion that the reference cannot pin is then taken from the truth, as a map's frame is a
    convention; what is left is blur."""
    work = folder / "truth-frame"
    truth_layer_lines(work)
    run = lambda *args, **kw: program(work, *args, **kw)  # noqa: E731
    rows = wf.read_table(table)
    head = Path(table).read_text().splitlines()[0].split("\t")
    for r in rows:
        if r["file"] != "-" and not Path(r["file"]).is_absolute():
            r["file"] = str((Path(table).parent / r["file"]).resolve())
    write = lambda path, rs: path.write_text("\t".join(head) + "\n" + "".join(  # noqa: E731
        "\t".join(x[c] for c in head) + "\n" for x in rs))
    write(work / "table.tsv", rows)
    run("layermean", "--table", "table.tsv", "--repeat", f"{C:g}", "--output", "average.dat")
    gs = work / "gs.ctl"
    gs.write_text(f"10 {1.0 / C!r} 0.002 0\n" + " ".join(["1.0"] * 10) + "\naverage to truth\n0 0\n")
    subprocess.run([str(BIN / "gridscan"), "--control", "gs.ctl", "--reference", "truth.dat", "--test",
                    "average.dat", "--report", "gs.txt"], cwd=work, stdout=subprocess.DEVNULL)
    m = [ln for ln in (work / "gs.txt").read_text().splitlines() if ln.startswith("0PHASE MINIMUM")][-1]
    phi, z = float(m.split("PHI=")[1].split()[0]), float(m.split("Z=")[1].split()[0])
    dphi, dz = wf.reduce_pair(phi, z, U, T, C)
    for r in rows:
        if r["phi"] != "-":
            r["phi"], r["z"] = f"{float(r['phi']) + dphi:.2f}", f"{float(r['z']) + dz:.2f}"
    write(work / "moved.tsv", rows)
    run("layermean", "--table", "moved.tsv", "--repeat", f"{C:g}", "--output", "moved.dat")
    run("besselmap", "--input", "moved.dat", "--map", "moved.map", "--repeat", f"{C:g}", "--resolution", "10.5",
        "--voxel", "2.5", "--size", "200", "200")
    with open(work / "fsc.txt", "w") as out:
        subprocess.run([str(BIN / "mapfsc"), "moved.map", str((folder / "truth.map").resolve()), "--mask", "50"],
                       cwd=work, stdout=out, check=True)
    return dphi, dz, crossings(work / "fsc.txt")


def initial_resolution(folder):
    """The run's initial_resolution (its config's, else the default 20 A)."""
    for line in (folder / "config.yaml").read_text().splitlines():
        if line.startswith("initial_resolution:"):
            return float(line.split(":")[1])
    return 20.0


def analyse(folder):
    folder = Path(folder)
    truth = {r["particle"]: (float(r["phi"]), float(r["z"]), r.get("polarity", "same"))
             for r in wf.read_table(folder / "truth.tsv")}
    res = folder / "results"
    rounds = sorted(int(p.name) for p in (res / "rounds").iterdir() if p.name.isdigit())
    print(f"{folder}: {len(truth)} particles, {len(rounds)} rounds")
    print(f"{'round':>5} {'sides':>6} {'RMS phi':>8} {'RMS z':>7} {'median err':>15} {'about it':>14}"
          f" {'halves .5/.143':>15} {'truth .5/.143':>14} {'ratio .5/.143':>14}  polarity")
    for r in rounds:
        maps = res / "maps" if r == rounds[-1] else res / "rounds" / str(r) / "maps"
        e = errors(res / "rounds" / str(r) / "alignments.tsv", truth)
        ep, ez = [x[2] for x in e], [x[3] for x in e]
        mp, mz = centre([(x[2], x[3]) for x in e])
        about = moved([(x[2], x[3]) for x in e], (-mp, -mz))
        h5, h1 = crossings(maps / "fsc_half1_half2.txt", map_limit(folder))
        t5, t1 = crossings(maps / "fsc_average_truth.txt")
        ratio = lambda h, t: f"{t / h:.2f}" if h and t else "-"  # noqa: E731
        right = sum(1 for x in e if x[4] == truth[x[0]][2])
        fmt = lambda v: f"{v:.2f}" if v else "-"  # noqa: E731
        print(f"{r:5d} {len(e):6d} {rms(ep):8.2f} {rms(ez):7.2f} {f'({mp:.2f}, {mz:.2f})':>15}"
              f" {f'{rms([x[0] for x in about]):.2f} / {rms([x[1] for x in about]):.2f}':>14}"
              f" {f'{fmt(h5)}/{fmt(h1)}':>15} {f'{fmt(t5)}/{fmt(t1)}':>14}"
              f" {f'{ratio(h5, t5)}/{ratio(h1, t1)}':>14}  {right} of {len(e)} right")
        if r == rounds[-1]:
            dphi, dz, (m5, m1) = truth_frame(folder, res / "alignments.tsv")
            # the truth's frame is the average's moved by (dphi, dz): each side's error there
            fp, fz = zip(*moved(zip(ep, ez), (dphi, dz))) if ep else ((), ())
            fmt = lambda v: f"{v:.2f}" if v else "-"  # noqa: E731
            print(f"      in the truth's frame (the average moved by ({dphi:.2f}, {dz:.2f})): RMS error "
                  f"{rms(fp):.2f} degrees / {rms(fz):.2f} A; FSC against the truth {fmt(m5)}/{fmt(m1)} A,"
                  f" half-set over it {ratio(h5, m5)}/{ratio(h1, m1)}")
            # only the part of that motion along the screw motion the reference leaves free
            # (frame.py; none when it pins both): the rest of the error is the run's own
            resolution = initial_resolution(folder) if len(rounds) > 1 else None
            strong, weak, direction, _ = frame.pinning(str(res / "reference" / "near.dat"), 10, C, resolution)
            fp, fz = ep, ez
            if weak < frame.WEAK * strong:
                mp_, mz_ = frame.along((dphi, dz), direction, C)
                fp, fz = zip(*moved(zip(ep, ez), (mp_, mz_)))
                print(f"      along the motion ({direction[0]:.2f}, {direction[1]:.2f}) the reference leaves free, "
                      f"moved by ({mp_:.2f}, {mz_:.2f}): RMS error {rms(fp):.2f} degrees / {rms(fz):.2f} A")
        for half in ("1", "2"):
            he = [(x[2], x[3]) for x in e if x[1] == half]
            if he:
                cp, cz = centre(he)
                hp, hz = zip(*moved(he, (-cp, -cz)))
                print(f"      half {half}: median error ({cp:.2f}, {cz:.2f}), RMS about it {rms(hp):.2f} / {rms(hz):.2f}")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--analyse", help="a folder already run")
    ap.add_argument("--count", type=int, default=48)
    ap.add_argument("--noise", type=float, default=4.0)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--cores", type=int, default=2)
    ap.add_argument("--mixed-polarity", action="store_true")
    ap.add_argument("--config", action="append", default=[], help="a line added to the config")
    ap.add_argument("--folder", help="where to run (default: a fresh temporary folder)")
    ap.add_argument("--keep", action="store_true", help="keep the temporary folder")
    a = ap.parse_args()
    if a.analyse:
        analyse(a.analyse)
        return
    folder = Path(a.folder) if a.folder else Path(tempfile.mkdtemp(prefix="rounds-figures."))
    if a.folder and folder.exists():
        sys.exit(f"{folder} exists")
    extra = ["--mixed-polarity"] if a.mixed_polarity else []
    subprocess.run([sys.executable, str(TOP / "examples/workflow/make_particles"), "--bin", str(TOP / "build/bin"),
                    "--count", str(a.count), "--folder", str(folder), "--seed", str(a.seed), "--noise", str(a.noise),
                    "--chunk", str(max(1, a.count // (4 * a.cores)))] + extra, check=True)
    with open(folder / "config.yaml", "a") as f:
        f.write("".join(line + "\n" for line in a.config))
    t0 = time.perf_counter()
    with open(folder / "snakemake.log", "w") as log:
        proc = subprocess.run(["snakemake", "-s", str(TOP / "workflow/Snakefile"), "--configfile", "config.yaml",
                               "--cores", str(a.cores)], cwd=folder, stdout=log, stderr=subprocess.STDOUT)
    print(f"workflow: status {proc.returncode}, wall {time.perf_counter() - t0:.1f} s")
    if proc.returncode == 0:
        analyse(folder)
    else:
        print((folder / "snakemake.log").read_text()[-3000:])
    if not a.folder and not a.keep:
        shutil.rmtree(folder)
    sys.exit(proc.returncode)


if __name__ == "__main__":
    main()
