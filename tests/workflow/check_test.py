#!/usr/bin/env python3
"""The check stage and the near-far agreement on the real engine.

usage: check_test.py CASE SOURCE_TOP BIN   (CASE: parts, check, sides)
  parts   the check's pieces against ground truth: J_n against tabulated values, the orders a
          rule admits against the selection-rule table's worked example, the deck read back
          from the text it writes, the layer lines kept below a height
  check   ordinary mistakes, each a config run through `snakemake ... check` alone: each is
          refused naming the file and the value (or warned about), before any alignment;
          the data set's own config passes with no warning; overlapping orders cut the
          alignments' deck, and lower the maps' limit unless they are separated
  sides   whole runs: particles whose axis is off the phase origin end with "the indexing does
          not fit the data" and a failure; a helix whose layer lines carry two orders is
          warned about, and without the separation its maps limited to the single-order
          resolution, the report saying so;
          messages of jobs and programs running side by side arrive whole and named
Exit status 0 passed, anything else failed."""
import math
import re
import subprocess
import sys
import shutil
from pathlib import Path

TOP = Path(sys.argv[2]).resolve()
BIN = Path(sys.argv[3]).resolve()
sys.path.insert(0, str(TOP / "workflow" / "scripts"))
import keep_layer_lines  # noqa: E402
import quorvan_wf as wf  # noqa: E402
import runcheck  # noqa: E402

SNAKEFILE = TOP / "workflow" / "Snakefile"


def check(cond, what):
    if not cond:
        raise AssertionError(what)


def small_dataset(folder, count=4):
    """make_particles' helix as 100 x 100 images of 5 A pixels."""
    subprocess.run([sys.executable, str(TOP / "examples/workflow/make_particles"), "--bin", str(BIN), "--count",
                    str(count), "--folder", str(folder), "--chunk", "2", "--small"], check=True,
                   stdout=subprocess.DEVNULL)
    return folder


def with_settings(folder, name, text):
    """The data set's config with text appended (later keys override earlier ones)."""
    (folder / name).write_text((folder / "config.yaml").read_text() + text)
    return name


def snakemake(folder, configfile, *args):
    return subprocess.run(["snakemake", "-s", str(SNAKEFILE), "--configfile", configfile, "--cores", "2", *args],
                          cwd=folder, capture_output=True, text=True)


# --- parts -----------------------------------------------------------------------------------

def test_parts(tmp):
    # J_n(x) against tabulated values (ten digits), and J_n below the level before entry(n).
    for n, x, value in ((0, 1.0, 0.7651976866), (1, 1.0, 0.4400505857), (5, 10.0, -0.2340615282),
                        (10, 10.0, 0.2074861066), (0, 2.404825557695773, 0.0)):
        check(abs(runcheck.bessel_j(n, x) - value) < 1e-9, f"J_{n}({x}) = {runcheck.bessel_j(n, x)}, not {value}")
    # and the recurrence J_(n-1) + J_(n+1) = (2n/x) J_n at high orders and arguments
    for n, x in ((20, 30.0), (35, 12.5), (60, 70.0)):
        j = runcheck.bessel_j
        check(abs(j(n - 1, x) + j(n + 1, x) - 2 * n / x * j(n, x)) < 1e-12, f"recurrence at n {n}, x {x}")
    for n, level in ((1, 0.1), (5, 0.1), (11, 0.1), (20, 0.1), (20, 0.001), (1, 0.5)):
        x = runcheck.entry(n, level)
        check(abs(abs(runcheck.bessel_j(n, x)) - level) < 1e-5, f"entry({n}) = {x} is not where |J_n| = {level}")
        check(all(abs(runcheck.bessel_j(n, x * k / 50)) < level for k in range(50)),
              f"J_{n} reaches {level} before {x}")
    check(runcheck.entry(20, 0.5) == math.inf, "J_20 never reaches 0.5")
    # The rule 4/1 for l = 0..4, |n| <= 4: l = 0 gives -4, 0, 4; l = 1 gives -1, 3; l = 4 gives -4, 0, 4.
    check(sorted(runcheck.admitted(0, 4, 1, 4)) == [-4, 0, 4], "rule 4/1, l = 0")
    check(sorted(runcheck.admitted(1, 4, 1, 4)) == [-1, 3], "rule 4/1, l = 1")
    check(sorted(runcheck.admitted(4, 4, 1, 4)) == [-4, 0, 4], "rule 4/1, l = 4")
    check(len(runcheck.admitted(3, 1, 5, 4)) == 9, "rule 1/t admits every order")
    # The schema's defaults are config.yaml's values, and config.yaml passes the schema.
    import yaml

    schema = yaml.safe_load((TOP / "workflow/config.schema.yaml").read_text())
    given = yaml.safe_load((TOP / "workflow/config.yaml").read_text())
    check(runcheck.config_problems(given, schema) == [], "config.yaml breaks the schema")

    def same(props, values, where):
        for key, sub in props.items():
            if "properties" in sub:
                same(sub["properties"], values.get(key, {}), f"{where}{key}.")
            elif "default" in sub:
                check(values.get(key) == sub["default"], f"{where}{key}: config.yaml {values.get(key)!r}, "
                                                          f"the schema {sub['default']!r}")
    same(schema["properties"], given, "")
    check(runcheck.config_problems(dict(given, gridscan={"layer_line": 4}), schema) ==
          ["gridscan.layer_line: not a setting; did you mean gridscan.layer_lines?"], "a nested key")
    # A deck read, written with cuts and read again: the same values, the ranges cut.
    deck = tmp / "sidesplit.dek"
    # (records run on over lines, and the rest of the line holding a record's last value is skipped)
    deck.write_text("a title\n 3 2.5 0.0, 0.0 0.002\n 0.0 0.0 0.0 1.0\n-0.081 0.081 1 0 0 0\n 0.0 1\n 0.05\n"
                    " 0 0 0.0\n 1 40 1 40\n 1 -3\n 5.0\n 1 40 1 40 9 9\n 2 0 10.0\n 1 40 1 40\n")
    d = runcheck.Deck(deck)
    check((d.lltot, d.sampl, d.delr, d.yfact, d.idump, d.zeros) == (3, 2.5, 0.002, 1.0, 1, [0.05]), "deck values")
    check([(e["l"], e["n"], e["ysp"], e["line"]) for e in d.lines] ==
          [(0, 0, 0.0, 7), (1, -3, 5.0, 9), (2, 0, 10.0, 12)],
          "deck layer lines and their lines")
    check(d.blocks() == 4 and abs(d.reach(d.lines[1]) - 0.08) < 1e-12, "the meridional line written twice; reach")
    again = tmp / "again.dek"
    again.write_text(d.text([None, 20, 0]))
    e = runcheck.Deck(again)
    check([x["ranges"] for x in e.lines] == [[1, 40, 1, 40], [1, 20, 1, 20], [1, 0, 1, 0]], "cut ranges")
    check(vars(e).keys() == vars(d).keys() and all(getattr(e, k) == getattr(d, k) for k in ("sampl", "delr", "rmin",
                                                                                            "zeros", "merid")),
          "the written deck reads back")
    bad = tmp / "bad.dek"
    bad.write_text("t\n 3 2.5 0 0 x2 0 0 0 1\n")
    try:
        runcheck.Deck(bad)
        check(False, "a deck with a word for delr is read")
    except runcheck.Refused as r:
        check(str(r) == f'{bad}, line 2 (record 2): delr = "x2" is not a number', str(r))
    # A transform of helixsim (examples/helix/ref.sim: 100 x 100 pixels of 5 A, rule 10/3) with
    # its deck: W/2 + 1 by H complex values, the pixel from the cell; the deck fits it.
    subprocess.run([str(BIN / "helixsim"), "--control", str(TOP / "examples/helix/ref.sim"), "--deck",
                    str(tmp / "ref.dek"), "--transform", str(tmp / "ref.map"), "--gridded", str(tmp / "g.dat")],
                   check=True, stdout=subprocess.DEVNULL)
    h = runcheck.read_header(tmp / "ref.map")
    check((h["nx"], h["ny"], h["mode"]) == (51, 100, 4), f"transform header {h}")
    s = runcheck.sampling(tmp / "ref.map", h, "transforms", "")
    check((s["pixel"], s["NX"], s["NY"]) == (5.0, 100, 100), f"transform sampling {s}")
    cfg = {"rule": [10, 3], "repeat": 100, "input": "transforms", "reference": str(tmp / "ref.map"),
           "gridscan": {"layer_lines": 9, "delbr": 0.002}, "map": {"resolution": 10}}
    out, _ = runcheck.run_checks(cfg, [str(tmp / "ref.map")], tmp / "ref.dek")
    check(out.refusals == [] and out.warnings == [], f"the transform and its deck: {out.refusals} {out.warnings}")
    out, _ = runcheck.run_checks(dict(cfg, input="images"), [str(tmp / "ref.map")], tmp / "ref.dek")
    check(any("data mode 4, a transform (complex), not an image" in r for r in out.refusals), str(out.refusals))
    # The same deck writing nothing (idump 0), or sampling layer line 0 beyond 1/(2 x 5 A) = 0.1 1/A.
    text = (tmp / "ref.dek").read_text().splitlines(keepends=True)
    (tmp / "quiet.dek").write_text("".join(text[:2]) + text[2].replace(" 1 1 0 0", " 0 1 0 0") + "".join(text[3:]))
    out, _ = runcheck.run_checks(cfg, [str(tmp / "ref.map")], tmp / "quiet.dek")
    check(any("record 3: idump = 0, so sidesplit writes no layer-line files" in r for r in out.refusals),
          str(out.refusals))
    (tmp / "far.dek").write_text("".join(text[:6]) + text[6].replace(" 49", " 60") + "".join(text[7:]))
    out, _ = runcheck.run_checks(dict(cfg, gridscan={"layer_lines": 9, "delbr": 0.002}), [str(tmp / "ref.map")],
                                 tmp / "far.dek")
    check(any("far.dek, line 7: layer line 0 is sampled to R = 0.12 1/A, beyond the 0.1 1/A" in r
              for r in out.refusals), str(out.refusals))
    # Layer lines kept below a height: blocks of l/c < 0.025 with c = 100, i.e. l = 0, 1, 2.
    lines = []
    for l in range(5):
        lines += [f" {'t':40}LL{l:3d} NEAR     {l:.3f}\n", f"     1.000{l:5d}{l:5d}\n",
                  " 0.100E-01 0.100E+01 0.000E+00\n", " 0.000E+00 0.000E+00 0.000E+00\n"]
    kept = [lb for lb, _ in keep_layer_lines.blocks(lines)]
    check(kept == [0, 1, 2, 3, 4], f"blocks read {kept}")
    src, dst = tmp / "in.dat", tmp / "out.dat"
    src.write_text("".join(lines))
    subprocess.run([sys.executable, str(TOP / "workflow/scripts/keep_layer_lines.py"), "--below", "0.025",
                    "--repeat", "100", str(src), str(dst)], check=True)
    check(dst.read_text() == "".join(lines[:12]), "layer lines 0, 1, 2 kept whole, the rest left out")


# --- check -----------------------------------------------------------------------------------

def test_check(tmp):
    d = small_dataset(tmp / "run")
    proc = snakemake(d, "config.yaml", "check")
    check(proc.returncode == 0 and "check: warning" not in proc.stderr, "the data set passes:\n" + proc.stderr[-2000:])
    summary = (d / "results/check/summary.txt").read_text()
    check("warning" not in summary and "refused" not in summary, "no warning:\n" + summary)
    check((d / "results/check/sidesplit.dek").read_bytes() == (d / "sidesplit.dek").read_bytes(),
          "an unchanged deck is used as it is")
    # Decks written for another pixel size, for another helix (examples/helix/ref.sim: 10/3).
    deck = (d / "sidesplit.dek").read_text().splitlines(keepends=True)
    (d / "pixel.dek").write_text(deck[0] + deck[1].replace(" 5.0 ", " 2.5 ") + "".join(deck[2:]))
    (d / "delr.dek").write_text(deck[0] + deck[1].replace(" 0.002 ", " 0.004 ") + "".join(deck[2:]))
    subprocess.run([str(BIN / "helixsim"), "--control", str(TOP / "examples/helix/ref.sim"), "--deck",
                    str(d / "other.dek"), "--transform", str(tmp / "t.map"), "--gridded", str(tmp / "g.dat")],
                   check=True, stdout=subprocess.DEVNULL)
    # A reference layer-line file whose second block holds another order than the deck's.
    blocks = []
    for l, n in enumerate((0, 5, -6, -9, 8, 5, 2, -1, -4, -7)):
        blocks += [f" {'ref':40}LL{l:3d} NEAR {5.0 * l:9.3f}\n", f"     1.000{n:5d}{l:5d}\n",
                   " 0.200E-02 0.100E+01 0.000E+00\n", " 0.000E+00 0.000E+00 0.000E+00\n"]
    (d / "wrong.dat").write_text("".join(blocks))
    bad = {
        "reference: wrong.dat\n": ["wrong.dat: block 2 holds layer line 1 order 5, but the deck sidesplit.dek "
                                   "samples layer line 1 order -3 there"],
        "residual_treshold: 30\n": ["config: residual_treshold: not a setting; did you mean residual_threshold?"],
        "map: {resolutoin: 12}\n": ["config: map.resolutoin: not a setting; did you mean map.resolution?"],
        "chunk_size: 0\n": ["config: chunk_size: 0 is less than the minimum of 1"],
        "deck: pixel.dek\n": ["pixel.dek, record 2: sampl = 2.5 A, but reference.map (100 pixels wide",
                              "has pixels of 5 A: the deck was written for another pixel size"],
        "deck: delr.dek\n": ["delr.dek, record 2: delr = 0.004 1/A, but", "columns 0.002 1/A apart"],
        "deck: other.dek\n": ["other.dek, line 8: layer line 1 with order 3 breaks the rule 20/7",
                              "the rule admits -3, +17"],
        "rule: [10, 3]\n": ["sidesplit.dek, line 8: layer line 1 with order -3 breaks the rule 10/3"],
        "helixft_options: --box 0 5 100 95\n": [
            "sidesplit.dek, line 8: layer line 1 at row 5, but", "puts it at 4.8 (4.8 rows per 1/c)",
            "is 4.8 repeats of 100 A, not a whole number: cut the box to whole repeats with helixft --box"],
        "helixft_options: --box 0 0 99 100\n": ["(99 pixels wide", "the width 99 is odd",
                                               "helixft --box X0 Y0 W H (and pad with --size NX NY)"],
        "gridscan: {layer_lines: 12}\n": ["gridscan.layer_lines = 12, but the deck sidesplit.dek writes 10 "
                                          "layer-line blocks"],
        "map: {resolution: 12}\n": ["sidesplit.dek, line 24: layer line 9 of the repeat 100 A lies at 0.09 1/A "
                                    "(11.11 A), beyond the maps' resolution 12 A"],
    }
    for i, (text, expected) in enumerate(bad.items()):
        proc = snakemake(d, with_settings(d, f"bad{i}.yaml", text + f"output: bad{i}\n"), f"bad{i}/check/summary.txt")
        err = proc.stderr
        check(proc.returncode != 0, f"{text.strip()}: not refused")
        for e in expected:
            check(e in err, f"{text.strip()}: no \"{e}\" in\n{err[-2500:]}")
        lines = [ln for ln in err.splitlines() if ln.startswith(("check: refused", "config: "))]
        check(lines and all(len(ln) < 600 for ln in lines), f"{text.strip()}: one line a reason")
        check(not (d / f"bad{i}/check/summary.txt").exists() and not (d / f"bad{i}/chunks").exists(),
              f"{text.strip()}: something was written")
    # A helix whose layer lines carry two orders, not separated: a warning, the deck cut, the
    # maps limited.
    name = with_settings(d, "overlap.yaml", "outer_radius: 36\noutput: overlap\nseparation: \"off\"\n")
    proc = snakemake(d, name, "overlap/check/summary.txt")
    check(proc.returncode == 0, "the overlap is not refused:\n" + proc.stderr[-2000:])
    warned = re.search(r"check: warning: layer lines carrying more than one Bessel order.*3 \(orders -9 and \+11 "
                       r"from R = (0\.\d+) 1/A: single-order to ([\d.]+) A\)", proc.stderr)
    check(warned is not None, "the warning names layer line 3 and its orders:\n" + proc.stderr[-2000:])
    # Order 11 reaches the level 0.1 at 2 pi R 36 = entry(11), and layer line 3 lies at 0.03 1/A.
    r2 = runcheck.entry(11, 0.1) / (2 * math.pi * 36)
    check(abs(float(warned.group(1)) - r2) < 1e-4, f"R {warned.group(1)} against {r2}")
    res = 1 / math.hypot(0.03, r2)
    check(abs(float(warned.group(2)) - res) < 0.06, f"resolution {warned.group(2)} against {res}")
    limits = {r["key"]: float(r["value"]) for r in wf.read_table(d / "overlap/check/limits.tsv")
              if r["key"] != "separation"}
    check(res <= limits["resolution"] <= res + 0.011, f"the maps' limit {limits['resolution']}")
    cut = runcheck.Deck(d / "overlap/check/sidesplit.dek")
    check(cut.lines[3]["ranges"] == [1, int(r2 / 0.002), 1, int(r2 / 0.002)], f"layer line 3 cut: {cut.lines[3]}")
    check(cut.lines[0]["ranges"] == [1, 40, 1, 40], "the equator (orders 0 and 20) is whole")
    check({r["key"]: r["value"] for r in wf.read_table(d / "overlap/check/limits.tsv")}["separation"] == "off",
          "separation off in the limits")
    # The same separated (the default): the alignment deck is cut the same, the whole deck is
    # kept for the averages, and the maps keep the config's resolution and every layer line.
    name = with_settings(d, "auto.yaml", "outer_radius: 36\noutput: auto\n")
    proc = snakemake(d, name, "auto/check/summary.txt")
    check(proc.returncode == 0, "the separated overlap is not refused:\n" + proc.stderr[-2000:])
    check("the averages separate the orders by least squares over the views (separation: auto)" in proc.stderr,
          "the warning says the orders are separated:\n" + proc.stderr[-2000:])
    limits = {r["key"]: r["value"] for r in wf.read_table(d / "auto/check/limits.tsv")}
    check(limits["separation"] == "on" and abs(1.0 / float(limits["resolution"]) - float(limits["keep_below"])) < 1e-9,
          f"separated: {limits}")
    check(runcheck.Deck(d / "auto/check/sidesplit.dek").lines[3]["ranges"] == cut.lines[3]["ranges"],
          "the alignments' deck is cut as without the separation")
    check((d / "auto/check/sidesplit-full.dek").read_text() == (d / "sidesplit.dek").read_text(),
          "the whole deck is the config's")


# --- sides -----------------------------------------------------------------------------------

def test_sides(tmp):
    d = small_dataset(tmp / "run")
    # The axis 6 pixels off the phase origin: each side's phases turn by 2 pi R 30 A, the
    # opposite way on the other side, so the sides disagree beyond the first few samples. One
    # more particle is no image: its failure is one whole line, named by job and particle.
    (d / "axis").mkdir()
    for i in range(4):
        shutil.copyfile(d / f"particles/p000{i}.map", d / f"axis/p000{i}.map")
    (d / "axis/p0004.map").write_bytes(b"no image\n" * 200)
    name = with_settings(d, "off.yaml", 'particles: "axis/*.map"\nhelixft_options: "--axis 44"\n'
                                        "output: axisoff\naverage: false\nmap: {enabled: false}\n")
    proc = snakemake(d, name)
    check(proc.returncode != 0, "a run whose sides disagree ends with status 0")
    summary = (d / "axisoff/report/summary.txt").read_text()
    check("the indexing does not fit the data: the near and far sides of 4 of 4 particles" in summary, summary)
    check(wf.INDEXING_FAILS in proc.stderr, "the failure says why:\n" + proc.stderr[-1500:])
    check("check: warning: axis/p0004.map: not an image file" in proc.stderr, "the bad particle is warned about")
    for side in ("near", "far"):
        check(re.search(rf"^align_chunk 00002 p0004 {side}: failed: helixft \(status \d\): [^\n]*p0004.map[^\n]*$",
                        proc.stderr, re.M), f"no whole line for p0004 {side}:\n" + proc.stderr[-2000:])
    # The same particles as they are: sides agree, the run passes, the report lists the layer lines.
    name = with_settings(d, "overlap.yaml", "outer_radius: 36\nseparation: \"off\"\n")
    proc = snakemake(d, name)
    check(proc.returncode == 0, proc.stderr[-3000:])
    rows = wf.read_table(d / "results/alignments.tsv")
    check(all(float(r["sides"]) < 40 for r in rows), "the sides of the particles agree")
    summary = (d / "results/report/summary.txt").read_text()
    limit = {r["key"]: r["value"] for r in wf.read_table(d / "results/check/limits.tsv")}["resolution"]
    check(summary.startswith("check: warning: layer lines carrying more than one Bessel order"), summary)
    check(f"half-set resolution: at 0.143 {float(limit):g} A (the maps' limit" in summary, summary)
    log = (d / "results/maps/besselmap-average.txt").read_text()
    check(f"{float(limit):.2f}" in log or f"{float(limit):g}" in log, "besselmap ran at the lowered limit:\n" + log)
    page = (d / "results/report/index.html").read_text()
    check("near and far sides per layer line" in page and "<td>3</td><td>-9</td>" in page, "per layer line table")
    # The three maps' programs failing side by side: their messages one whole line each, named.
    name = with_settings(d, "edge.yaml", "outer_radius: 36\nseparation: \"off\"\nmap: {enabled: true, size: [100, 100], voxel: 5, "
                                         'resolution: 10.5, options: "--edge 5"}\n')
    proc = snakemake(d, name, "--forcerun", "maps")
    check(proc.returncode != 0, "the maps did not fail")
    for m in ("half1", "half2"):
        # the first maps to fail are those of a round before the last (with the average's only
        # where a true map is named), or the run's own when it has one round
        found = re.findall(rf"^(?:maps \(|round_maps \(round \d+, ){m} map\): besselmap: command line: --edge is "
                           r"wider than the resolution limit 1/RES$", proc.stderr, re.M)
        check(len(found) == 1, f"{m}: {len(found)} whole lines:\n" + proc.stderr[-2000:])


if __name__ == "__main__":
    sys.path.insert(0, str(Path(__file__).resolve().parent))
    import workflow_test

    sys.exit(workflow_test.main(globals()))
