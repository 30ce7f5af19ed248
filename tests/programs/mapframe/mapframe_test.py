#!/usr/bin/python3
"""Every map the suite writes is read alike by other readers of the 2014 format: mrcfile's
validator accepts it, gemmi finds its voxel size and axis order, and a map built from a
particle's layer lines lies on its true density voxel for voxel (the peak of their
cross-correlation at zero shift), with the same origin and start words.

usage: mapframe_test.py BIN"""
import io
import os
import subprocess
import sys
import tempfile
import warnings

import gemmi
import mrcfile
import numpy as np

warnings.filterwarnings("ignore", category=np.ComplexWarning)  # the validator sums complex data

BIN = os.path.abspath(sys.argv[1])
PIXEL = 2.5
# A polar helix of 10 subunits in 3 turns of 100 A, 64 x 80 pixels (two repeats).
CONTROL = "model real\nrepeat 100\nradius 40\npixel 2.5\nbox 64 80\nrule 10 3 9 4\n"
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def run(folder, *args):
    r = subprocess.run([os.path.join(BIN, args[0]), *args[1:]], cwd=folder, capture_output=True, text=True)
    if r.returncode != 0:
        sys.exit(f"{args[0]} failed: {r.stderr}")


def main():
    with tempfile.TemporaryDirectory() as d:
        with open(os.path.join(d, "p.sim"), "w") as f:
            f.write(CONTROL)
        run(d, "helixsim", "--control", "p.sim", "--density", "truth.map", "--projection", "proj.map",
            "--near", "near.dat", "--far", "far.dat")
        run(d, "helixft", "--image", "proj.map", "--transform", "ft.map")
        run(d, "besselmap", "--input", "near.dat", "--map", "average.map", "--repeat", "100",
            "--resolution", "10", "--voxel", "2.5", "--size", "64", "80")
        maps = ["truth.map", "proj.map", "ft.map", "transform.map", "average.map"]
        for m in maps:
            path = os.path.join(d, m)
            report = io.StringIO()
            check(mrcfile.validate(path, print_file=report), f"{m} passes mrcfile.validate: {report.getvalue()}")
            with mrcfile.open(path, permissive=True, header_only=True) as mrc:
                h = mrc.header
                check(int(h.nversion) == 20140, f"{m}: version word 20140, not {h.nversion}")
                check(tuple(h.origin.item()) == (0.0, 0.0, 0.0), f"{m}: origin 0")
                check((int(h.nxstart), int(h.nystart), int(h.nzstart)) == (0, 0, 0), f"{m}: start 0")
                volume = m in ("truth.map", "average.map")
                check(int(h.ispg) == (1 if volume else 0), f"{m}: a volume (space group 1) or an image (0), "
                      f"not {int(h.ispg)}")
            if m in ("ft.map", "transform.map"):
                continue  # transforms keep the grid of the image they came from
            g = gemmi.read_ccp4_map(path)
            check(g.grid.axis_order == gemmi.AxisOrder.XYZ, f"{m}: gemmi reads the axis order as XYZ")
            check(np.allclose(g.grid.spacing, (PIXEL, PIXEL, PIXEL)), f"{m}: gemmi spacing {g.grid.spacing}")
            with mrcfile.open(path) as mrc:
                data = mrc.data.astype(np.float64)
                check(mrc.is_volume() == (m != "proj.map"), f"{m}: read as a volume, or a single image")
                check(np.isclose(float(mrc.header.rms), data.std(), rtol=1e-4), f"{m}: rms deviation")

        # The average and the truth coincide voxel for voxel: their cross-correlation peaks at
        # zero shift on every axis.
        with mrcfile.open(os.path.join(d, "average.map")) as a, mrcfile.open(os.path.join(d, "truth.map")) as t:
            avg, truth = a.data.astype(np.float64), t.data.astype(np.float64)
        check(avg.shape == truth.shape, f"average {avg.shape} and truth {truth.shape} on one grid")
        xc = np.fft.ifftn(np.fft.fftn(avg - avg.mean()) * np.conj(np.fft.fftn(truth - truth.mean()))).real
        peak = np.unravel_index(np.argmax(xc), xc.shape)
        check(tuple(int(p) for p in peak) == (0, 0, 0), f"average and truth coincide (peak at {peak})")
    if failures:
        sys.exit(f"{len(failures)} failures")
    print("every map is placed alike")


main()
