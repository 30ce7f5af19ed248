#!/usr/bin/python3
"""llplot --transform on helixft's transform of a helixsim particle: the picture is written,
its layer-line marks are those of the repeat, the amplitudes it draws are the file's (power
lies on the layer-line rows), and files it cannot draw are refused."""
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


def run(args, cwd, stdin=None):
    return subprocess.run(args, cwd=cwd, input=stdin, capture_output=True, text=True)


with tempfile.TemporaryDirectory() as d:
    # 10 subunits in 3 turns of 100 A, 2.5 A pixels, 200 x 200: 5 transform rows per 1/c
    control = "model real\nrepeat 100\nradius 40\npixel 2.5\nbox 200 200\nrule 10 3 9 4\n"
    r = run([os.path.join(bin_dir, "helixsim"), "--projection", "proj.map"], d, control)
    check(r.returncode == 0, "helixsim: " + r.stderr)
    r = run([os.path.join(bin_dir, "helixft"), "--image", "proj.map", "--transform", "ft.map"], d)
    check(r.returncode == 0, "helixft: " + r.stderr)

    r = run([llplot, "--transform", "ft.map", "--repeat", "100", "-o", "look"], d)
    check(r.returncode == 0, "llplot --transform: " + r.stderr)
    with open(os.path.join(d, "look.png"), "rb") as f:
        check(f.read(8) == b"\x89PNG\r\n\x1a\n", "look.png is a PNG")
    with open(os.path.join(d, "look.svg"), encoding="utf-8") as f:
        svg = f.read()
    # rows 0..199, zero frequency on row 100, layer line l on row 100 + 5 l: l = -20..19
    check("layer lines of c = 100 A: 40, 5 rows per 1/c" in svg, "the caption counts 40 layer lines")
    check(">-20<" in svg.replace(" ", "") and ">19<" in svg.replace(" ", ""), "the lowest and highest layer lines are numbered")

    # The amplitudes drawn are the file's: nearly all the power of the particle's transform lies
    # on the layer-line rows (a misread header or byte offset would scatter it).
    loader = importlib.machinery.SourceFileLoader("llplot", llplot)
    spec = importlib.util.spec_from_loader("llplot", loader)
    mod = importlib.util.module_from_spec(spec)
    loader.exec_module(mod)
    amp, cella, cellb = mod.read_transform(os.path.join(d, "ft.map"))
    check(amp.shape == (200, 101), "200 rows of 101 columns, not %s" % (amp.shape,))
    check(abs(cella - 500.0) < 1e-3 and abs(cellb - 500.0) < 1e-3, "cell 500 x 500 A")
    on = sum(float((amp[k] ** 2).sum()) for k in range(0, 200, 5))
    total = float((amp ** 2).sum())
    check(on > 0.99 * total, "power on the layer-line rows: %.4f of the whole" % (on / total))

    # Refusals: a real image, a file cut short, --repeat without --transform, a bad repeat.
    with open(os.path.join(d, "ft.map"), "rb") as f:
        whole = f.read()
    with open(os.path.join(d, "short.map"), "wb") as f:
        f.write(whole[:-8])
    for args, words in (
        (["--transform", "proj.map"], "proj.map: data mode 2"),
        (["--transform", "short.map"], "short.map: %d bytes, its header announces %d" % (len(whole) - 8, len(whole))),
        (["--repeat", "100", "ft.map"], "--repeat marks the layer lines of --transform"),
        (["--transform", "ft.map", "--repeat", "0"], "must be above 0"),
        (["--transform", "nowhere.map"], "nowhere.map"),
    ):
        r = run([llplot, "-o", "bad"] + args, d)
        check(r.returncode != 0 and words in r.stderr, "%s refused naming %r: %s" % (args, words, r.stderr.strip()))
        check(not os.path.exists(os.path.join(d, "bad.png")), "%s leaves no picture" % (args,))

sys.exit(1 if failures else 0)
