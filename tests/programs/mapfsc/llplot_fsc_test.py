#!/usr/bin/python3
"""llplot --fsc on mapfsc's curve of two maps: the picture is written, its resolution axis is
ticked at round resolutions in Angstroms that lie on the curve (1/frequency of the axis below),
and the shells mapfsc skipped are drawn apart."""
import importlib.machinery
import importlib.util
import os
import struct
import subprocess
import sys
import tempfile

bin_dir, llplot = sys.argv[1], sys.argv[2]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAILED:", what)


def cube_map(path, n, voxel, value):
    """A map of n^3 voxels (mode 2, this machine's byte order) of value(x, y, z)."""
    head = bytearray(1024)
    struct.pack_into("<3i", head, 0, n, n, n)
    struct.pack_into("<i", head, 12, 2)
    struct.pack_into("<3i", head, 28, n, n, n)
    struct.pack_into("<6f", head, 40, n * voxel, n * voxel, n * voxel, 90.0, 90.0, 90.0)
    struct.pack_into("<3i", head, 64, 1, 2, 3)
    head[208:212] = b"MAP "
    head[212:216] = bytes([0x44, 0x44, 0, 0])
    data = struct.pack("<%df" % (n ** 3), *[value(x, y, z) for z in range(n) for y in range(n) for x in range(n)])
    with open(path, "wb") as f:
        f.write(bytes(head) + data)


loader = importlib.machinery.SourceFileLoader("llplot", llplot)
spec = importlib.util.spec_from_loader("llplot", loader)
mod = importlib.util.module_from_spec(spec)
loader.exec_module(mod)

# The ticks of a resolution axis: round resolutions within the range, finest first, spread out.
for fmin, fmax in [(0.004, 0.2), (0.001, 0.05), (0.01, 0.5), (0.0002, 0.01)]:
    ticks = mod.resolution_ticks(fmin, fmax)
    check(2 <= len(ticks) <= 8, "%d ticks over %g..%g" % (len(ticks), fmin, fmax))
    check(all(t in mod.ROUND_RESOLUTIONS and fmin <= 1.0 / t <= fmax for t in ticks), "ticks %s" % ticks)
    check(all(1.0 / a - 1.0 / b >= (fmax - fmin) / 8 for a, b in zip(ticks, ticks[1:])), "spread %s" % ticks)
    check(ticks == sorted(ticks), "finest first: %s" % ticks)
# The roundest resolutions on the range come first: 5, 10 and 20 A over 0.004..0.2 1/A.
check({5, 10, 20} <= set(mod.resolution_ticks(0.004, 0.2)), "5, 10, 20 A: %s" % mod.resolution_ticks(0.004, 0.2))

with tempfile.TemporaryDirectory() as d:
    # Two maps of 20^3 voxels of 2 A: a smooth blob and the blob plus a little noise of its own.
    import random
    rnd = random.Random(5)
    noise = [rnd.gauss(0.0, 0.05) for _ in range(20 ** 3)]
    blob = lambda x, y, z: 2.718 ** (-((x - 10) ** 2 + (y - 10) ** 2 + (z - 10) ** 2) / 8.0)  # noqa: E731
    cube_map(os.path.join(d, "a.map"), 20, 2.0, blob)
    cube_map(os.path.join(d, "b.map"), 20, 2.0, lambda x, y, z: blob(x, y, z) + noise[(z * 20 + y) * 20 + x])
    r = subprocess.run([os.path.join(bin_dir, "mapfsc"), "a.map", "b.map", "--table", "fsc.tsv"], cwd=d,
                       capture_output=True, text=True)
    check(r.returncode == 0, "mapfsc: " + r.stderr + r.stdout[-500:])
    freq, fsc, skipped = mod.read_fsc_table(os.path.join(d, "fsc.tsv"))
    check(skipped[:2] == [True, True] and not any(skipped[2:]), "shells 1-2 skipped, no other: %s" % skipped)
    r = subprocess.run([llplot, "--fsc", "fsc.tsv", "-o", "curve"], cwd=d, capture_output=True, text=True)
    check(r.returncode == 0, "llplot --fsc: " + r.stderr)
    with open(os.path.join(d, "curve.png"), "rb") as f:
        check(f.read(8) == b"\x89PNG\r\n\x1a\n", "curve.png is a PNG")
    with open(os.path.join(d, "curve.svg"), encoding="utf-8") as f:
        svg = f.read()
    # Frequencies 1/40 .. 1/4 1/A: the axis reads from about 200 A down to 4 A.
    ticks = mod.resolution_ticks(max(freq) / 50.0, max(freq))
    check(5 in ticks and 10 in ticks, "ticks %s" % ticks)
    for t in ticks:
        check(">%g<" % t in svg.replace(" ", "").replace("\n", ""), "the tick %g A is drawn" % t)
    check("resolution (A)" in svg and "skipped shells" in svg, "the axis and the skipped shells are labelled")

print("passed" if not failures else "%d failed" % len(failures))
sys.exit(1 if failures else 0)
