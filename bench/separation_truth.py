#!/usr/bin/python3
"""The map of a helix whose layer lines carry several Bessel orders, made from its particles at
their TRUE alignments, against its true density: make_particles --overlapping (the 10/3 helix
at radius 40 A), helixft and sidesplit on every particle, then layermean twice, as one order per
layer line and with the orders separated (--rule 10 3 --radius 48), besselmap on each, and the
correlation of each map with the true density limited to the map's resolution inside the
helix's outer radius. What is measured is the averaging alone: the alignments are exact.

usage: separation_truth.py --bin BUILD/bin --folder DIR [--count 48] [--noise 0.5]
                           [--resolution 10.5] [--seed 1]"""
import argparse
import os
import subprocess
import sys
from pathlib import Path

import mrcfile
import numpy as np

HERE = Path(__file__).resolve().parent
MAKE = HERE.parent / "examples" / "workflow" / "make_particles"
RULE, REPEAT, OUTER_RADIUS = (10, 3), 100.0, 48.0


def run(args, cwd, env=None):
    subprocess.run([str(a) for a in args], cwd=cwd, env=env, check=True, stdout=subprocess.DEVNULL)


def sample_particles(bin_, top, names):
    for name in names:
        work = top / "work" / name
        work.mkdir(parents=True)
        run([bin_ / "helixft", "--image", (top / "particles" / f"{name}.map").resolve(), "--transform",
             "transform.map"], work)
        (work / "sidesplit.dek").symlink_to((top / "sidesplit.dek").resolve())
        run([bin_ / "sidesplit"], work, env=dict(os.environ, IN="transform.map"))


def lowpass(a, voxel, resolution):
    """a limited to resolution as besselmap's soft edge does (raised cosine of width 0.1/RES below
    1/RES), so that the truth holds what a map of that resolution can."""
    f = [np.fft.fftfreq(n, voxel) for n in a.shape]
    s = np.sqrt(f[0][:, None, None] ** 2 + f[1][None, :, None] ** 2 + f[2][None, None, :] ** 2)
    smax, edge = 1.0 / resolution, 0.1 / resolution
    w = np.where(s <= smax - edge, 1.0, np.where(s >= smax, 0.0, 0.5 * (1 + np.cos(np.pi * (s - smax + edge) / edge))))
    return np.real(np.fft.ifftn(np.fft.fftn(a) * w))


def correlation(map_path, truth, voxel, resolution):
    m = mrcfile.open(map_path).data.astype(np.float64)
    t = lowpass(truth, voxel, resolution)
    nz, ny, nx = m.shape
    y, x = np.meshgrid((np.arange(ny) - ny // 2) * voxel, (np.arange(nx) - nx // 2) * voxel, indexing="ij")
    inside = np.broadcast_to((np.hypot(x, y) <= OUTER_RADIUS)[None, :, :], m.shape)
    a, b = m[inside] - m[inside].mean(), t[inside] - t[inside].mean()
    return float((a * b).sum() / np.sqrt((a * a).sum() * (b * b).sum()))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--bin", required=True)
    ap.add_argument("--folder", required=True)
    ap.add_argument("--count", type=int, default=48)
    ap.add_argument("--noise", type=float, default=0.5)
    ap.add_argument("--resolution", type=float, default=10.5)
    ap.add_argument("--seed", type=int, default=1)
    a = ap.parse_args()
    bin_, top = Path(a.bin).resolve(), Path(a.folder)
    run([sys.executable, MAKE, "--bin", bin_, "--count", a.count, "--folder", top, "--noise", a.noise, "--seed",
         a.seed, "--overlapping"], ".")
    rows = [line.split("\t") for line in (top / "truth.tsv").read_text().splitlines()[1:]]
    sample_particles(bin_, top, [r[0] for r in rows])
    table = ["file\tside\tphi\tz\trscale\tparticle"]
    for name, phi, z, _ in (r[:4] for r in rows):
        for side in ("near", "far"):
            table.append(f"work/{name}/{side}.dat\t{side}\t{phi}\t{z}\t1\t{name}")
    (top / "truth-table.tsv").write_text("\n".join(table) + "\n")
    truth = mrcfile.open(top / "truth.map").data.astype(np.float64)
    voxel = float(mrcfile.open(top / "truth.map").voxel_size.x)
    n = truth.shape[2]
    print(f"{a.count} particles of the 10/3 helix at radius 40 A, noise {a.noise:g}, at their true alignments; "
          f"maps to {a.resolution:g} A, correlation with the true density inside {OUTER_RADIUS:g} A:")
    for label, extra in (("one order per layer line", []),
                         ("orders separated", ["--rule", *RULE, "--radius", OUTER_RADIUS])):
        tag = "separated" if extra else "single"
        run([bin_ / "layermean", "--table", "truth-table.tsv", "--repeat", REPEAT, "--output", f"{tag}.dat",
             "--stats", f"{tag}-stats.tsv"] + extra, top)
        (top / f"{tag}.map").unlink(missing_ok=True)
        run([bin_ / "besselmap", "--input", f"{tag}.dat", "--map", f"{tag}.map", "--repeat", REPEAT, "--resolution",
             a.resolution, "--voxel", voxel, "--size", n, truth.shape[0]], top)
        print(f"  {label:26} {correlation(top / f'{tag}.map', truth, voxel, a.resolution):.3f}")


if __name__ == "__main__":
    main()
