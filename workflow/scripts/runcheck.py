#!/usr/bin/env python3
"""The check before any job: reads the config, the deck, the reference and the header of the
first particle of each distinct file size, and refuses a run that cannot be right (one line
each naming the file and the value) or warns (into the summary and on standard error).

Writes into its folder:
  summary.txt     every refusal, warning and note, one a line
  sidesplit.dek   the deck the run samples with: the config's deck, each layer line cut to
                  the radii where it carries one Bessel order (when outer_radius is given)
  sidesplit-full.dek  the config's deck as it is: with the separation on, the particles are
                  also sampled with it for the averages
  limits.tsv      key, value: resolution (the maps' resolution limit in Angstroms, lowered to
                  where every layer line of the map is single-order unless the orders are
                  separated), keep_below (the layer-line height in 1/A below which a layer
                  line goes into the map) and separation (on: the averages separate the orders
                  of the layer lines that carry several, config separation: auto)

An order n counts on a layer line at radius R when |J_n(2 pi R r)| reaches the config's
bessel_level (default 0.1) for some r up to outer_radius: J_n(x) stays below the level until
x passes entry(n), and only the orders the rule admits appear.

usage: runcheck.py --config CONFIG.yaml --folder DIR   (exit status 0, or 1 on a refusal)"""
import argparse
import difflib
import glob
import math
import os
import struct
import sys
from pathlib import Path

if "snakemake" in globals():
    sys.path.insert(0, globals()["snakemake"].scriptdir)
import quorvan_wf as wf  # noqa: E402
import sides  # noqa: E402

SAMPLING_TOLERANCE = 0.005  # relative: sampl and delr against the transform's
ROW_TOLERANCE = 0.02  # rows: a layer line's height against l times the rows per 1/c
DELBR_TOLERANCE = 0.01  # relative: gridscan's delbr against the deck's delr
MAX_ORDER = 1000  # Bessel orders and layer lines beyond this are refused (the work grows with them)


class Refused(Exception):
    pass


# --- the config ------------------------------------------------------------------------------

def unknown_keys(config, schema, where=""):
    """One message for every key of config that the schema does not name (nested objects
    too), with the nearest known key when one is near."""
    out = []
    props = schema.get("properties", {})
    for key, value in config.items():
        name = f"{where}{key}"
        if key not in props:
            if schema.get("additionalProperties", True) is False:
                near = difflib.get_close_matches(str(key), list(props), n=1, cutoff=0.6)
                hint = f"; did you mean {where}{near[0]}?" if near else f" (the settings: {', '.join(props)})"
                out.append(f"{name}: not a setting{hint}")
            continue
        sub = props[key]
        if "$ref" in sub:
            sub = schema_root(schema)["definitions"][sub["$ref"].split("/")[-1]]
        if isinstance(value, dict) and "properties" in sub:
            sub = dict(sub, _root=schema_root(schema))
            out += unknown_keys(value, sub, f"{name}.")
    return out


def schema_root(schema):
    return schema.get("_root", schema)


# --- the deck --------------------------------------------------------------------------------

class FreeReader:
    """Free-format records of a text file: values separated by blanks or commas, running on
    over lines; the rest of the line that holds the last value is skipped."""

    def __init__(self, path):
        self.path = path
        self.lines = Path(path).read_text(errors="replace").splitlines()
        self.i = 0

    def line(self):
        if self.i >= len(self.lines):
            raise Refused(f"{self.path}: ends at line {self.i}, where a record was expected")
        self.i += 1
        return self.lines[self.i - 1]

    def values(self, names, record):
        """The values of one record (names: (name, int or float) pairs); an empty record still
        takes one line."""
        got = []
        while True:
            words = self.line().replace(",", " ").split()
            got += [(w, self.i) for w in words[: len(names) - len(got)]]
            if len(got) == len(names):
                break
        out = []
        for (word, line), (name, kind) in zip(got, names):
            try:
                v = float(word.replace("D", "E").replace("d", "e"))
                if not math.isfinite(v) or kind is int and v != int(v):
                    raise ValueError
                out.append(int(v) if kind is int else v)
            except ValueError:
                raise Refused(f"{self.path}, line {line} (record {record}): {name} = \"{word}\" is not "
                              f"{'a whole number' if kind is int else 'a number'}")
        return out


class Deck:
    """The sidesplit deck: the run parameters and, per layer line, llno, nord, ysp and the
    ranges nl1 nl2 nr1 nr2 (when idump is not 0), with the line each entry starts on."""

    def __init__(self, path):
        r = FreeReader(path)
        self.path = path
        self.title = r.line()
        (self.lltot, self.sampl, self.xshft, self.yshft, self.delr, self.rot, self.shear, self.tilt,
         self.yfact) = r.values([("lltot", int), ("sampl", float), ("xshft", float), ("yshft", float),
                                 ("delr", float), ("rot", float), ("shear", float), ("tilt", float),
                                 ("yfact", float)], 2)
        self.rmin, self.rmax, self.idump, self.merid, self.iywidth, self.iphase = r.values(
            [("rmin", float), ("rmax", float), ("idump", int), ("merid", int), ("iywidth", int),
             ("iphase", int)], 3)
        self.exclusion, self.izeros = r.values([("exclusion", float), ("izeros", int)], 4)
        if not 0 <= self.izeros <= 10:
            raise Refused(f"{path}, record 4: izeros = {self.izeros}, at most 10 CTF zeros")
        if self.lltot < 1:
            raise Refused(f"{path}, record 2: lltot = {self.lltot}, at least one layer line")
        if not self.sampl > 0 or not self.delr > 0:
            raise Refused(f"{path}, record 2: sampl = {self.sampl:g} and delr = {self.delr:g} must be above 0")
        self.zeros = r.values([(f"zero {k + 1}", float) for k in range(self.izeros)], 5)
        self.lines = []
        for k in range(self.lltot):
            start = r.i + 1
            llno, nord, ysp = r.values([("llno", int), ("nord", int), ("ysp", float)], f"6a of layer line {k + 1}")
            ranges = (r.values([("nl1", int), ("nl2", int), ("nr1", int), ("nr2", int)], f"6b of layer line {k + 1}")
                      if self.idump else [0, -1, 0, -1])
            if abs(nord) > MAX_ORDER or abs(llno) > MAX_ORDER:
                raise Refused(f"{path}, line {start}: layer line {llno} with order {nord}: at most "
                              f"{MAX_ORDER} either way")
            self.lines.append({"l": llno, "n": nord, "ysp": ysp, "ranges": ranges, "line": start})

    def blocks(self):
        """Blocks written to each file: a meridional layer line (n = 0, l not 0) twice when
        merid is 0."""
        return sum(2 if e["n"] == 0 and e["l"] != 0 and self.merid == 0 else 1 for e in self.lines)

    def reach(self, e):
        """The largest |R| the layer line is sampled at (1/A), 0 when nothing is written."""
        nl1, nl2, nr1, nr2 = e["ranges"]
        idx = [abs(v) for lo, hi in ((nl1, nl2), (nr1, nr2)) if hi >= lo for v in (lo, hi)]
        return max(idx) * self.delr if idx else 0.0

    def text(self, cuts):
        """The deck again, layer line k's ranges limited to cuts[k] samples (None: as they are)."""
        out = [self.title, f" {self.lltot} {self.sampl!r} {self.xshft!r} {self.yshft!r} {self.delr!r} "
               f"{self.rot!r} {self.shear!r} {self.tilt!r} {self.yfact!r}",
               f" {self.rmin!r} {self.rmax!r} {self.idump} {self.merid} {self.iywidth} {self.iphase}",
               f" {self.exclusion!r} {self.izeros}", " " + " ".join(repr(z) for z in self.zeros)]
        for e, cut in zip(self.lines, cuts):
            out.append(f" {e['l']} {e['n']} {e['ysp']!r}")
            if self.idump:
                nl1, nl2, nr1, nr2 = e["ranges"]
                if cut is not None:
                    nl2, nr2 = min(nl2, max(nl1 - 1, cut)), min(nr2, max(nr1 - 1, cut))
                out.append(f" {nl1} {nl2} {nr1} {nr2}")
        return "\n".join(out) + "\n"


# --- image headers ---------------------------------------------------------------------------

def read_header(path):
    """nx, ny, nz, mode, mx and the cell edge a of a map image, in the byte order its stamp
    (or its axis words) shows."""
    try:
        with open(path, "rb") as f:
            head = f.read(1024)
    except OSError as e:
        raise Refused(f"{path}: cannot be read ({e.strerror})")
    if len(head) < 1024:
        raise Refused(f"{path}: {len(head)} bytes, less than an image header (1024)")
    for order in ("<", ">"):
        nx, ny, nz, mode = struct.unpack(order + "4i", head[:16])
        mx = struct.unpack(order + "i", head[28:32])[0]
        cella = struct.unpack(order + "f", head[40:44])[0]
        axes = struct.unpack(order + "3i", head[64:76])
        if 1 in axes and 0 < nx < 1 << 20 and 0 < ny < 1 << 20:
            # VAX or Convex reals: the cell cannot be read here (mapconvert rewrites such maps)
            foreign = head[208:212] == b"MAP " and head[212] >> 4 in (2, 5)
            return {"nx": nx, "ny": ny, "nz": nz, "mode": mode, "mx": mx, "cella": cella, "foreign": foreign}
    raise Refused(f"{path}: not an image file (its header gives no axis order and sizes)")


def fast_size(at_least, even):
    """The padded size helixft takes: the next 2^a 3^b 5^c 7^d, even when asked."""
    n = max(at_least, 1)
    while True:
        if not (even and n % 2):
            m = n
            for f in (2, 3, 5, 7):
                while m % f == 0:
                    m //= f
            if m == 1:
                return n
        n += 1


def helixft_geometry(options):
    """The helixft options that decide a transform's sampling: --box, --size, --pixel, --axis."""
    words = options.split()
    got = {}
    for key, count in (("--box", 4), ("--size", 2), ("--pixel", 1), ("--axis", 1)):
        if key in words:
            i = words.index(key)
            try:
                got[key] = [float(w) for w in words[i + 1:i + 1 + count]]
            except ValueError:
                raise Refused(f"helixft_options: {key} takes {count} numbers (\"{options}\")")
            if len(got[key]) != count:
                raise Refused(f"helixft_options: {key} takes {count} numbers (\"{options}\")")
    return got


def sampling(path, header, kind, options):
    """pixel (A), padded width NX and height NY of the transform sidesplit reads, and the box
    width of an image with whether its axis column is given."""
    h = header
    if kind == "images":
        if h["mode"] in (3, 4):
            raise Refused(f"{path}: data mode {h['mode']}, a transform (complex), not an image; for transforms "
                          "set input: transforms")
        g = helixft_geometry(options)
        w, ht = (int(g["--box"][2]), int(g["--box"][3])) if "--box" in g else (h["nx"], h["ny"])
        if "--size" in g:
            nx, ny = int(g["--size"][0]), int(g["--size"][1])
        else:
            nx, ny = fast_size(w, True), fast_size(ht, False)
        pixel = g["--pixel"][0] if "--pixel" in g else (h["cella"] / h["mx"] if h["mx"] > 0 else 0.0)
        return {"pixel": pixel, "NX": nx, "NY": ny, "width": w, "axis": "--axis" in g,
                "foreign": h["foreign"] and "--pixel" not in g}
    if h["mode"] not in (3, 4):
        raise Refused(f"{path}: data mode {h['mode']}, not a transform (complex, mode 3 or 4); "
                      "for images set input: images")
    nx = 2 * (h["nx"] - 1)
    pixel = h["cella"] / h["mx"] if h["mx"] > 0 else 0.0
    return {"pixel": pixel, "NX": nx, "NY": h["ny"], "width": nx, "axis": True, "foreign": h["foreign"]}


# --- Bessel orders ---------------------------------------------------------------------------

def bessel_j(n, x):
    """J_n(x) for a whole n: (1/M) sum over k of cos(n t_k - x sin t_k), t_k = 2 pi k/M, the
    trapezoidal rule on a whole period, exact to rounding once M passes |n| + |x| by a few
    tens."""
    m = int(abs(n) + abs(x)) + 40
    return math.fsum(math.cos(n * 2 * math.pi * k / m - x * math.sin(2 * math.pi * k / m)) for k in range(m)) / m


def entry(n, level):
    """The least x where |J_n(x)| reaches level: |J_n| rises from 0 to its first maximum (near
    x = n + 0.81 n^(1/3), the largest of all its maxima) and stays below the level before the
    crossing, so a coarse step from below finds the first crossing and halving refines it to
    1e-6. Infinite when even the first maximum stays below the level."""
    n = abs(n)
    if n == 0:
        return 0.0
    x, step, last = max(0.0, n - 3.0 * n ** (1 / 3) - 3.0), 0.1, n + 3.0 * n ** (1 / 3) + 3.0
    if abs(bessel_j(n, x)) >= level:
        x = 0.0  # a level so low that J_n passes it even there: from the start
    while abs(bessel_j(n, x)) < level:
        if x > last:
            return math.inf
        x += step
    lo, hi = max(0.0, x - step), x
    while hi - lo > 1e-6:
        mid = 0.5 * (lo + hi)
        lo, hi = (mid, hi) if abs(bessel_j(n, mid)) < level else (lo, mid)
    return hi


def admitted(l, u, t, nmax):
    """Orders n, |n| <= nmax, on layer line l under the rule (l + t n)/u whole, by |n| (+n
    before -n)."""
    return sorted((n for n in range(-nmax, nmax + 1) if (l + t * n) % u == 0), key=lambda n: (abs(n), -n))


# --- the checks ------------------------------------------------------------------------------

class Outcome:
    def __init__(self):
        self.refusals, self.warnings, self.notes = [], [], []
        self.cuts = None
        self.resolution = None
        self.keep_below = None
        self.separation = False


def check_sampling(out, deck, cfg, files):
    """Every distinct transform geometry against the deck (files: path -> header)."""
    c = float(cfg["repeat"])
    seen = set()
    for path, h in files.items():
        s = sampling(path, h, cfg["kind_of"][path], cfg.get("helixft_options", ""))
        key = (s["pixel"], s["NX"], s["NY"], s["width"], s["axis"])
        if key in seen:
            continue
        seen.add(key)
        pixel, NX, NY = s["pixel"], s["NX"], s["NY"]
        if s["foreign"]:
            out.notes.append(f"{path}: VAX or Convex numbers; its sampling was not checked")
            continue
        if not 0 < pixel < math.inf:
            out.refusals.append(f"{path}: the header's cell gives no pixel size" +
                                ("; give helixft --pixel in helixft_options" if cfg["kind_of"][path] == "images"
                                 else " (cell edge a over the grid MX)"))
            continue
        what = f"{path} ({s['width'] if cfg['kind_of'][path] == 'images' else NX} pixels wide, " \
               f"transform {NX} x {NY} of {pixel:g} A)"
        if cfg["kind_of"][path] == "images" and s["width"] % 2 and not s["axis"]:
            out.refusals.append(f"{what}: the width {s['width']} is odd, so the helix axis lies between "
                                "columns; cut an even width with helixft --box X0 Y0 W H (and pad with --size "
                                "NX NY), or name the axis column with --axis")
        if abs(deck.sampl - pixel) > SAMPLING_TOLERANCE * pixel:
            out.refusals.append(f"{deck.path}, record 2: sampl = {deck.sampl:g} A, but {what} has pixels of "
                                f"{pixel:g} A: the deck was written for another pixel size")
            continue
        spacing = 1.0 / (NX * pixel)
        if abs(deck.delr - spacing) > SAMPLING_TOLERANCE * spacing:
            out.refusals.append(f"{deck.path}, record 2: delr = {deck.delr:g} 1/A, but {what} has columns "
                                f"{spacing:.6g} 1/A apart: the deck was written for another image size")
        nyquist = 1.0 / (2.0 * pixel)
        beyond = [e for e in deck.lines if deck.reach(e) > nyquist * (1 + SAMPLING_TOLERANCE)]
        if beyond:
            e = beyond[0]
            out.refusals.append(f"{deck.path}, line {e['line'] + 1}: layer line {e['l']} is sampled to "
                                f"R = {deck.reach(e):g} 1/A, beyond the {nyquist:g} 1/A that pixels of {pixel:g} A "
                                "hold")
        rows = NY * pixel / c  # rows per 1/c
        whole = abs(rows - round(rows)) <= ROW_TOLERANCE
        advice = ("" if whole else
                  f"; the transform's height {NY} x {pixel:g} A is {rows:g} repeats of {c:g} A, not a whole "
                  f"number: cut the box to whole repeats with helixft --box or pad to them with --size")
        bad = [e for e in deck.lines if abs(e["ysp"] - e["l"] * rows) > ROW_TOLERANCE]
        if bad:
            e = bad[0]
            out.refusals.append(f"{deck.path}, line {e['line']}: layer line {e['l']} at row {e['ysp']:g}, but "
                                f"{what} puts it at {e['l'] * rows:g} ({rows:g} rows per 1/c)"
                                f"{advice}{f' ({len(bad)} layer lines off)' if len(bad) > 1 else ''}")
        elif not whole:
            out.warnings.append(f"{what}: the layer lines fall between rows{advice}")


def separating(cfg):
    """Whether the averages may separate overlapping orders: separation auto (YAML reads an
    unquoted off as false) with an outer radius to find them."""
    return cfg.get("separation", "auto") == "auto" and bool(cfg.get("outer_radius"))


def check_rule(out, deck, u, t, cfg=None):
    for e in deck.lines:
        l, n = e["l"], e["n"]
        near = admitted(l, u, t, abs(n) + u)
        if (l + t * n) % u:
            out.refusals.append(f"{deck.path}, line {e['line']}: layer line {l} with order {n} breaks the rule "
                                f"{u}/{t} ((l + {t} n)/{u} = {(l + t * n) / u:g} is not whole); the rule admits "
                                f"{', '.join(f'{m:+d}' for m in near[:3]) or 'no order'} there")
            continue
        lower = [m for m in near if m != n and abs(m) <= abs(n)]
        if lower and abs(lower[0]) == abs(n) and cfg is not None and separating(cfg):
            continue  # -n rises with n: the separation solves both, the alignments compare neither
        if lower:
            out.refusals.append(f"{deck.path}, line {e['line']}: layer line {l} with order {n}, but the rule "
                                f"{u}/{t} also admits order {lower[0]:+d} there, which the deck lacks and which "
                                f"rises {'with' if abs(lower[0]) == abs(n) else 'before'} it")


def check_orders(out, deck, cfg, u, t, smax):
    """Layer lines that carry a second order within the radii used: each is cut to the radii
    where it is single-order, and the map's limit lowered to where all its layer lines are."""
    c = float(cfg["repeat"])
    rout = cfg.get("outer_radius")
    if not rout:
        out.notes.append("outer_radius not given: the Bessel orders of the layer lines were not tested")
        return
    level = float(cfg.get("bessel_level", 0.1))
    cuts, overlaps = [], []
    s_single = smax
    for e in deck.lines:
        l, n = e["l"], e["n"]
        z = abs(l) / c
        reach = deck.reach(e)
        if smax is not None and z < smax:
            reach = min(reach, math.sqrt(smax * smax - z * z))
        others = [m for m in admitted(l, u, t, abs(n) + 2 * u) if m != n]
        second = min(others, key=abs)
        if abs(second) < abs(n) or (abs(second) == abs(n) and not separating(cfg)):
            cuts.append(None)  # a lower order beside the deck's: refused by the rule's check
            continue
        r2 = entry(second, level) / (2 * math.pi * rout)
        if r2 < reach:
            cut = int(math.floor(r2 / deck.delr - 1e-9))
            nl1, nl2, nr1, nr2 = e["ranges"]
            if (nl2 >= nl1 and cut < abs(nl1)) or (nr2 >= nr1 and cut < abs(nr1)):
                # a block without samples cannot be compared: such a layer line has no place
                out.refusals.append(f"{deck.path}, line {e['line']}: layer line {l} carries orders {n:+d} and "
                                    f"{second:+d} from R = {r2:.4f} 1/A, below its first sample (outer_radius "
                                    f"{rout:g} A): leave it out of the deck")
            cuts.append(cut)
            res = 1.0 / math.hypot(z, r2)
            overlaps.append(f"{l} (orders {n:+d} and {second:+d} from R = {r2:.4f} 1/A: single-order to "
                            f"{res:.1f} A)")
            s_single = math.hypot(z, r2) if s_single is None else min(s_single, math.hypot(z, r2))
        else:
            cuts.append(None)
    if overlaps:
        out.cuts = cuts
        msg = (f"layer lines carrying more than one Bessel order (|J_n(2 pi R r)| >= {level:g} for r up to "
               f"outer_radius {rout:g} A): {'; '.join(overlaps)}. The alignments compare each only where it is "
               "single-order")
        if str(cfg.get("separation", "auto")) == "auto":
            # the averages separate the orders over the views: the maps keep every layer line
            out.separation = True
            msg += ("; the averages separate the orders by least squares over the views (separation: auto), "
                    "and the maps keep their resolution")
            out.warnings.append(msg)
            return
        if s_single is not None:
            dropped = [e["l"] for e in deck.lines if abs(e["l"]) / c >= s_single]
            out.resolution = math.ceil(100.0 / s_single) / 100.0  # to 0.01 A, never finer
            out.keep_below = s_single
            msg += f"; the maps are limited to {out.resolution:.1f} A"
            if dropped:
                msg += f", without layer lines {', '.join(map(str, dropped))} that lie beyond it"
        out.warnings.append(msg)


def check_reference(out, cfg, deck):
    """A reference given as a layer-line file: its blocks hold the deck's layer lines and
    orders in the deck's order, as many as gridscan compares."""
    ref = str(cfg["reference"])
    if not ref.endswith(".dat"):
        return
    try:
        blocks = [(l, n) for l, n, _ in sides.read_point_list(ref)]
    except (OSError, ValueError) as e:
        out.refusals.append(f"{ref}: not a layer-line file the check can read ({getattr(e, 'strerror', None) or e})")
        return
    want = [(e["l"], e["n"]) for e in deck.lines for _ in range(2 if e["n"] == 0 and e["l"] != 0 and
                                                                   deck.merid == 0 else 1)]
    layer_lines = int(cfg.get("gridscan", {}).get("layer_lines", 9))
    if layer_lines > len(blocks):
        out.refusals.append(f"{ref}: {len(blocks)} layer-line blocks, but gridscan.layer_lines = {layer_lines}")
    for k, (got, wanted) in enumerate(zip(blocks[:layer_lines], want)):
        if got != wanted:
            out.refusals.append(f"{ref}: block {k + 1} holds layer line {got[0]} order {got[1]}, but the deck "
                                f"{deck.path} samples layer line {wanted[0]} order {wanted[1]} there")
            break


def run_checks(cfg, particles, deck_path):
    """The outcome of every check; cfg is the validated config, particles the files."""
    out = Outcome()
    try:
        deck = Deck(deck_path)
    except (Refused, OSError) as e:
        out.refusals.append(str(e) if isinstance(e, Refused) else f"{deck_path}: cannot be read ({e.strerror})")
        return out, None
    u, t = (int(v) for v in cfg["rule"])
    c = float(cfg["repeat"])
    gs = cfg.get("gridscan", {})
    mp = cfg.get("map", {})
    maps = bool(mp.get("enabled", True))
    smax = 1.0 / float(mp.get("resolution", 10)) if maps else None

    if deck.idump == 0:
        out.refusals.append(f"{deck_path}, record 3: idump = 0, so sidesplit writes no layer-line files; give 1")
    layer_lines = int(gs.get("layer_lines", 9))
    if layer_lines > deck.blocks():
        out.refusals.append(f"gridscan.layer_lines = {layer_lines}, but the deck {deck_path} writes {deck.blocks()} "
                            f"layer-line blocks ({deck.lltot} layer lines)")
    delbr = float(gs.get("delbr", 0.002))
    if abs(delbr - deck.delr) > DELBR_TOLERANCE * deck.delr:
        out.refusals.append(f"gridscan.delbr = {delbr:g}, but the deck {deck_path} samples every {deck.delr:g} 1/A "
                            "(record 2, delr): give the same step")
    if maps:
        for e in deck.lines:
            if abs(e["l"]) / c >= smax:
                out.refusals.append(f"{deck_path}, line {e['line']}: layer line {e['l']} of the repeat {c:g} A lies "
                                    f"at {abs(e['l']) / c:g} 1/A ({c / abs(e['l']):.2f} A), beyond the maps' "
                                    f"resolution {1 / smax:g} A: leave it out of the deck or set map.resolution "
                                    f"below {c / abs(e['l']):.2f}")
    check_rule(out, deck, u, t, cfg)

    # One header per distinct file size: images of one size share their geometry.
    kind_of, headers, sizes = {}, {}, set()
    ref = str(cfg["reference"])
    firsts = ([ref] if not ref.endswith(".dat") else []) + list(particles)
    # A particle other than the first whose header cannot be read only fails on its own.
    for i, path in enumerate(firsts):
        first = path == ref or path == (particles[0] if particles else None)
        complain = out.refusals if first else out.warnings
        try:
            size = os.stat(path).st_size
        except OSError as e:
            complain.append(f"{path}: cannot be read ({e.strerror})")
            continue
        if first or size not in sizes:
            sizes.add(size)
            try:
                headers[path] = read_header(path)
                kind_of[path] = cfg["input"]
            except Refused as e:
                complain.append(f"{e}{'' if first else '; the particle will fail on its own'}")
    cfg = dict(cfg, kind_of=kind_of)
    try:
        check_sampling(out, deck, cfg, headers)
    except Refused as e:
        out.refusals.append(str(e))
    check_reference(out, cfg, deck)
    check_orders(out, deck, cfg, u, t, smax)
    return out, deck


def config_problems(config, schema):
    """Unknown keys (with the nearest known one), then every value outside the schema's type
    or range, one line each as "key.sub: what is wrong"."""
    import jsonschema

    out = unknown_keys(config, schema)
    if out:
        return out
    for err in sorted(jsonschema.Draft7Validator(schema).iter_errors(config), key=lambda e: list(e.path)):
        where = ".".join(str(p) for p in err.path) or "config"
        out.append(f"{where}: {err.message}")
    return out


def particle_files(cfg):
    given = cfg["particles"]
    if isinstance(given, str) and given.endswith(".tsv"):
        # a particle table: its files, in its order (the workflow has read it whole already)
        return [r["file"] for r in wf.read_particle_table(given)]
    return sorted(glob.glob(given)) if isinstance(given, str) else [str(f) for f in given]


def write_outputs(out, deck, cfg, summary, deck_out, limits, full_deck):
    """summary.txt, the deck the run samples with, the whole deck and limits.tsv, each renamed
    into place."""
    lines = ([f"refused: {m}" for m in out.refusals] + [f"warning: {m}" for m in out.warnings] +
             [f"note: {m}" for m in out.notes])
    for m in lines:
        # one write a line, so that lines of jobs running side by side never mix
        os.write(2, f"check: {m}\n".encode())
    if out.refusals:
        os.write(2, f"check: the run is refused ({len(out.refusals)} "
                    f"{'reason' if len(out.refusals) == 1 else 'reasons'}); nothing was aligned\n".encode())
        return 1
    res = out.resolution if out.resolution is not None else float(cfg.get("map", {}).get("resolution", 10))
    keep = out.keep_below if out.keep_below is not None else 1.0 / res
    wf.write_atomic(deck_out, deck.text(out.cuts) if out.cuts else Path(deck.path).read_text())
    wf.write_atomic(full_deck, Path(deck.path).read_text())
    wf.write_atomic(limits, f"key\tvalue\nresolution\t{res!r}\nkeep_below\t{keep!r}\n"
                            f"separation\t{'on' if out.separation else 'off'}\n")
    wf.write_atomic(summary, "".join(m + "\n" for m in lines) if lines else "passed\n")
    return 0


def main():
    if "snakemake" in globals():  # run by the workflow's check rule
        sm = globals()["snakemake"]
        cfg, o = dict(sm.config), sm.output
        summary, deck_out, limits, full_deck = o.summary, o.deck, o.limits, o.full_deck
    else:
        ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
        ap.add_argument("--config", required=True, help="the run's config as YAML or JSON")
        ap.add_argument("--folder", required=True)
        a = ap.parse_args()
        import yaml

        cfg = yaml.safe_load(Path(a.config).read_text())
        summary, deck_out, limits, full_deck = (Path(a.folder) / f for f in ("summary.txt", "sidesplit.dek",
                                                                             "limits.tsv", "sidesplit-full.dek"))
    files = list(sm.params.particles) if "snakemake" in globals() else particle_files(cfg)
    out, deck = run_checks(cfg, files, cfg["deck"])
    return write_outputs(out, deck, cfg, summary, deck_out, limits, full_deck)


if __name__ == "__main__":
    sys.exit(main())
