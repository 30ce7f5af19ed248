#!/usr/bin/env python3
"""The report folder: summary.txt (particles used, the ones left out and why, the fitted
parameters, the resolutions), histograms of the residuals and the fitted parameters, the FSC
curves and the map's pictures when there are maps, and index.html showing them with the
table. Built in a scratch folder and renamed into place."""
import argparse
import html
import re
import shutil
import statistics
import subprocess
from pathlib import Path

import acceptance
import quorvan_wf as wf

MAX_HTML_ROWS = 2000
INDEXING_FAILS = wf.INDEXING_FAILS
# How many spreads of random phases below 90 a particle's near-far residual must lie.
SIDE_SPREADS = 3.0


def read_fsc(log):
    """mapfsc's report as {"5": entry, "143": entry, "width": shell width (1/A), "skipped":
    [lines]}: an entry is ("at", A), ("below", A of the lowest shell that holds data),
    ("not reached", None) or ("no data", None)."""
    found = {"skipped": []}
    if not log.exists():
        return {}
    for line in log.read_text().splitlines():
        m = re.match(r"\s+1\s+([0-9.]+)\s+[0-9.]+\s+-?[0-9.]+\s+\d+$", line)
        if m:
            found["width"] = float(m.group(1))
        m = re.match(r"\s*(shells? [0-9-]+ skipped: .*)", line)
        if m:
            found["skipped"].append(m.group(1))
        m = re.match(r"\s*FSC 0\.(5|143)(.*)", line)
        if not m:
            continue
        key, rest = m.groups()
        if (r := re.match(r" at\s+([0-9.]+) A", rest)):
            found[key] = ("at", float(r.group(1)))
        elif (r := re.match(r": below it from shell \d+ at\s+([0-9.]+) A", rest)):
            found[key] = ("below", float(r.group(1)))
        elif rest.startswith(": not reached"):
            found[key] = ("not reached", None)
        elif rest.startswith(": not measured"):
            found[key] = ("no data", None)
    return found


def resolution_at(fsc, key, limit):
    """The text of one threshold's resolution, and whether the maps' resolution limit bounds
    it. The maps hold nothing finer than their limit: a crossing within a shell of it, beyond
    it (where the curve only follows the masks' edges) or none at all is that limit. A curve
    that is below the threshold from its lowest shell that holds data makes no crossing, and
    no resolution is claimed for it."""
    kind, value = fsc.get(key, ("missing", None))
    width = fsc.get("width", 0.0)
    if kind == "at":
        if limit and (value <= limit or 1.0 / value >= 1.0 / limit - 1.5 * width):
            if value < limit:
                return f"{limit:g} A (the maps' limit; the curve crosses at {value:.2f} A, beyond their data)", True
            return f"{value:.2f} A", True
        return f"{value:.2f} A", False
    if kind == "below":
        return f"none (below {'0.' + key} from the lowest shell that holds data, {value:.2f} A)", False
    if kind == "not reached":
        return (f"{limit:g} A (the maps' limit; not crossed up to the last shell)", True) if limit \
            else ("beyond the last shell", False)
    if kind == "no data":
        return "not measured (every shell of the curve was skipped)", False
    return "-", False


def resolution_lines(fsc, truth, limit):
    """The summary's lines on resolution: the half-set resolution beside the maps' limit,
    said plainly when that limit is what bounds it, and the resolution against the truth."""
    text = []
    if fsc:
        r143, lim143 = resolution_at(fsc, "143", limit)
        r5, lim5 = resolution_at(fsc, "5", limit)
        line = f"half-set resolution: at 0.143 {r143}, at 0.5 {r5}"
        if limit:
            line += f"; the maps were limited to {limit:g} A"
            if lim143:
                line += (": limited by the map's resolution, the data may hold more" if lim5 else
                         ": at 0.143 limited by the map's resolution, the data may hold more")
        text.append(line)
        if fsc.get("skipped"):
            text.append("half-set FSC: " + "; ".join(fsc["skipped"]))
    if truth:
        t5 = resolution_at(truth, "5", limit)[0]
        t143 = resolution_at(truth, "143", limit)[0]
        text.append(f"resolution against the true map: at 0.5 {t5}, at 0.143 {t143}")
    return text


def histogram_svg(values, label, width=400, height=250):
    """A histogram of values as a small SVG picture: bars over equal bins between the least
    and the largest value, the axis labelled with both ends and the tallest bar's count."""
    left, right, top, bottom = 46, 12, 12, 40
    pw, ph = width - left - right, height - top - bottom
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
           f'viewBox="0 0 {width} {height}" font-family="sans-serif" font-size="12">',
           f'<rect width="{width}" height="{height}" fill="white"/>']
    if values:
        lo, hi = min(values), max(values)
        bins = min(40, max(5, len(values) // 4))
        span = (hi - lo) or 1.0
        counts = [0] * bins
        for v in values:
            counts[min(bins - 1, int((v - lo) / span * bins))] += 1
        peak = max(counts)
        for i, n in enumerate(counts):
            h = ph * n / peak
            out.append(f'<rect x="{left + pw * i / bins:.1f}" y="{top + ph - h:.1f}" '
                       f'width="{pw / bins:.1f}" height="{h:.1f}" fill="#4a7ab5"/>')
        out.append(f'<text x="{left}" y="{top + ph + 15}">{lo:g}</text>')
        out.append(f'<text x="{left + pw}" y="{top + ph + 15}" text-anchor="end">{hi:g}</text>')
        out.append(f'<text x="{left - 4}" y="{top + 10}" text-anchor="end">{peak}</text>')
    out.append(f'<text x="{left - 4}" y="{top + ph}" text-anchor="end">0</text>')
    out.append(f'<line x1="{left}" y1="{top + ph}" x2="{left + pw}" y2="{top + ph}" stroke="black"/>')
    out.append(f'<line x1="{left}" y1="{top}" x2="{left}" y2="{top + ph}" stroke="black"/>')
    out.append(f'<text x="{left + pw / 2}" y="{height - 6}" text-anchor="middle">{html.escape(label)}</text>')
    out.append(f'<text x="12" y="{top + ph / 2}" text-anchor="middle" '
               f'transform="rotate(-90 12 {top + ph / 2})">rows</text></svg>')
    return "\n".join(out) + "\n"


def histograms(rows, folder):
    """The histograms of the residuals and the fitted parameters, drawn as SVG by hand:
    the report is the run's last step, and plotting libraries take a second to load."""
    ok = [r for r in rows if r["status"] == "ok"]
    made = []
    panels = [("residual", "phase residual (degrees)", [r for r in rows if r["residual"] != "-"]),
              ("phi_sym", "phi, reduced (degrees)", ok), ("z_sym", "z, reduced (Angstroms)", ok),
              ("rscale", "radial scale", ok)]
    # the near-far residual once a particle (both its rows carry it)
    once = {r["particle"]: r for r in rows if r.get("sides", "-") != "-"}
    if once:
        panels.append(("sides", "near-far phase residual (degrees)", list(once.values())))
    for key, label, sel in panels:
        (folder / f"hist_{key}.svg").write_text(histogram_svg([float(r[key]) for r in sel], label))
        made.append((f"hist_{key}.svg", label))
    return made


def amplitudes_svg(stats, width=520, height=300, column="amplitude",
                   caption="R (1/A): CTF-corrected average's amplitudes"):
    """The CTF-corrected average's amplitudes (or another column) against R, one line a block
    (layermean's stats.tsv: block, n, l, R, amplitude, ...), as a small SVG picture drawn by
    hand."""
    lines = {}
    for r in wf.read_table(stats):
        try:
            lines.setdefault((int(r["block"]), r["l"], r["n"]), []).append((float(r["R"]), float(r[column])))
        except (KeyError, ValueError):
            continue
    left, right, top, bottom = 64, 110, 12, 40
    pw, ph = width - left - right, height - top - bottom
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
           f'viewBox="0 0 {width} {height}" font-family="sans-serif" font-size="12">',
           f'<rect width="{width}" height="{height}" fill="white"/>']
    points = [p for v in lines.values() for p in v]
    if points:
        rmax = max(p[0] for p in points) or 1.0
        amax = max(p[1] for p in points) or 1.0
        colours = ["#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd", "#8c564b", "#e377c2", "#7f7f7f",
                   "#bcbd22", "#17becf"]
        for i, ((block, l, n), pts) in enumerate(sorted(lines.items())):
            colour = colours[i % len(colours)]
            path = " ".join(f"{left + pw * x / rmax:.1f},{top + ph - ph * y / amax:.1f}" for x, y in sorted(pts))
            out.append(f'<polyline points="{path}" fill="none" stroke="{colour}" stroke-width="1.2"/>')
            out.append(f'<text x="{left + pw + 8}" y="{top + 12 + 13 * i}" fill="{colour}">l {l}, n {n}</text>')
        out.append(f'<text x="{left}" y="{top + ph + 15}">0</text>')
        out.append(f'<text x="{left + pw}" y="{top + ph + 15}" text-anchor="end">{rmax:.3g}</text>')
        out.append(f'<text x="{left - 4}" y="{top + 10}" text-anchor="end">{amax:.0f}</text>' if amax >= 10 else
                   f'<text x="{left - 4}" y="{top + 10}" text-anchor="end">{amax:.3g}</text>')
    out.append(f'<line x1="{left}" y1="{top + ph}" x2="{left + pw}" y2="{top + ph}" stroke="black"/>')
    out.append(f'<line x1="{left}" y1="{top}" x2="{left}" y2="{top + ph}" stroke="black"/>')
    out.append(f'<text x="{left + pw / 2}" y="{height - 6}" text-anchor="middle">'
               f"{html.escape(caption, quote=False)}</text>")
    out.append(f'<text x="14" y="{top + ph / 2}" text-anchor="middle" '
               f'transform="rotate(-90 14 {top + ph / 2})">{html.escape(column)}</text></svg>')
    return "\n".join(out) + "\n"


def ctf_report(rows, results, folder, text):
    """With the CTF: the particles' defoci in the summary and as a histogram, and the picture
    of the corrected average's amplitudes."""
    made = []
    defoci = {}
    for r in rows:
        try:
            defoci[r["particle"]] = (float(r["defocus_u"]) + float(r["defocus_v"])) / 2.0
        except (KeyError, ValueError):
            pass
    if defoci:
        v = list(defoci.values())
        text.append(f"defocus (mean of U and V) of {len(v)} particles: median {statistics.median(v):.0f} A, "
                    f"from {min(v):.0f} to {max(v):.0f} A")
        (folder / "hist_defocus.svg").write_text(histogram_svg(v, "defocus (Angstroms)"))
        made.append(("hist_defocus.svg", "defocus (Angstroms)"))
    stats = results / "average" / "stats.tsv"
    if stats.exists():
        (folder / "amplitudes.svg").write_text(amplitudes_svg(stats))
        made.append(("amplitudes.svg", "the CTF-corrected average's amplitudes"))
    return made


def separation_report(results, folder, text):
    """With the orders separated: a summary line on the layer lines, the orders and the radii
    the views could not separate, and pictures of the separated orders' amplitudes and figures
    of merit against R."""
    stats = results / "average" / "separated-stats.tsv"
    if not (results / "average" / "separated.txt").exists() or not stats.exists():
        return []
    rows = wf.read_table(stats)
    orders, radii, under = {}, {}, {}
    for r in rows:
        orders.setdefault(int(r["l"]), set()).add(int(r["n"]))
        radii[(r["l"], r["R"])] = int(r["kept"]) < int(r["directions"])
    for (l, _), bad in radii.items():
        if bad:
            under[int(l)] = under.get(int(l), 0) + 1
    text.append(f"orders separated by least squares over the views: {len(orders)} layer lines into "
                f"{sum(len(v) for v in orders.values())} orders (" +
                "; ".join(f"l {l}: {' '.join(f'{n:+d}' for n in sorted(v, key=lambda n: (abs(n), -n)))}"
                          for l, v in sorted(orders.items())) + ")")
    if under:
        text.append(f"under-determined (views too few or too alike; left out of the maps): "
                    f"{sum(under.values())} of {len(radii)} radii, on layer lines "
                    + ", ".join(f"{l} ({k})" for l, k in sorted(under.items())))
    else:
        text.append(f"under-determined: none of {len(radii)} radii")
    amax = max((float(r["amplitude"]) for r in rows), default=0.0) or 1.0
    (folder / "separated_amplitude.svg").write_text(order_map_svg(
        rows, lambda r: (float(r["amplitude"]) / amax) ** 0.5,
        "R (1/A): amplitude of each order, sqrt(A/Amax) from 0 white to 1 blue; red: under-determined"))
    (folder / "separated_fom.svg").write_text(order_map_svg(
        rows, lambda r: float(r["fom"]), "R (1/A): figure of merit of each order, 0 white to 1 blue; "
                                         "red: under-determined"))
    return [("separated_amplitude.svg", "the separated orders' amplitudes, red where under-determined"),
            ("separated_fom.svg", "the separated orders' figures of merit, red where under-determined")]


def order_map_svg(rows, value, caption, cell=9):
    """A value of the separated orders as a map: a row per order and layer line, a column per
    radius, white (0) to dark blue (1); red where the views could not separate the orders
    there."""
    blocks = sorted({(int(r["block"]), r["l"], r["n"]) for r in rows})
    radii = sorted({float(r["R"]) for r in rows})
    col = {R: i for i, R in enumerate(radii)}
    row = {b[0]: i for i, b in enumerate(blocks)}
    left, top = 80, 10
    width, height = max(620, left + cell * len(radii) + 10), top + cell * len(blocks) + 40
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
           f'viewBox="0 0 {width} {height}" font-family="sans-serif" font-size="9">',
           f'<rect width="{width}" height="{height}" fill="white"/>']
    for r in rows:
        x, y = left + cell * col[float(r["R"])], top + cell * row[int(r["block"])]
        if int(r["kept"]) < int(r["directions"]):
            colour = "#d62728"
        else:
            f = min(1.0, max(0.0, value(r)))
            colour = f"rgb({round(255 - 224 * f)},{round(255 - 136 * f)},{round(255 - 75 * f)})"
        out.append(f'<rect x="{x}" y="{y}" width="{cell}" height="{cell}" fill="{colour}"/>')
    for b, l, n in blocks:
        out.append(f'<text x="{left - 4}" y="{top + cell * row[b] + cell - 1}" text-anchor="end">l {l}, n {n}</text>')
    if radii:
        out.append(f'<text x="{left}" y="{height - 26}">{radii[0]:.3g}</text>')
        out.append(f'<text x="{left + cell * len(radii)}" y="{height - 26}" text-anchor="end">{radii[-1]:.3g}</text>')
    out.append(f'<text x="{left}" y="{height - 8}" font-size="11">{html.escape(caption, quote=False)}</text></svg>')
    return "\n".join(out) + "\n"


def llplot(args, folder, base, option, files):
    """Starts scripts/llplot on files; finished() waits for it and gives the picture made."""
    if not Path(args.llplot).exists():
        return lambda: []
    proc = subprocess.Popen(["/usr/bin/python3", args.llplot, option, *map(str, files), "-o", str(folder / base)],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def finished():
        return [(f"{base}.png", base)] if proc.wait() == 0 and (folder / f"{base}.png").exists() else []

    return finished


def round_files(results, r, rounds):
    """The table and the half-set and true-map FSC reports of round r."""
    if r == rounds:
        return results / "alignments.tsv", results / "maps"
    return results / "rounds" / str(r) / "alignments.tsv", results / "rounds" / str(r) / "maps"


def halves_motion(path):
    """How half 2 was brought into half 1's frame in a round (match_halves' line), or ""."""
    lines = path.read_text().splitlines() if path.exists() else []
    fields = lines[0].split() if lines else []
    if len(fields) < 4:
        return ""
    anchor = next((ln.split()[1:3] for ln in lines[1:] if ln.startswith("anchor ")), None)
    held = f"; the data set moved by ({anchor[0]} degrees, {anchor[1]} A) into the reference's frame" if anchor else ""
    if fields[2] == "-":
        return "; half 2 left in its own frame: its average could not be aligned to half 1's" + held
    turned = "turned over and " if fields[3] == "opposite" else ""
    return f"; half 2 {turned}moved by ({fields[0]} degrees, {fields[1]} A) into half 1's frame" + held


def rounds_section(results, rounds, limit, folder):
    """Per round: the sides accepted and left out by each rule, the residuals of the sides
    judged, the half-set resolution (and the resolution against a true map); a histogram of
    each round's residuals and, from the last round, the FSC curves of all rounds."""
    if rounds < 2:
        return [], [], []
    text, pictures, curves = ["refinement rounds (round 1 against the reference, then each half against its own average):"], [], []
    for r in range(1, rounds + 1):
        table, maps = round_files(results, r, rounds)
        if not table.exists():
            continue
        rows = wf.read_table(table)
        counts = {}
        for row in rows:
            counts[row["status"]] = counts.get(row["status"], 0) + 1
        judged = [float(row["residual"]) for row in rows if row["residual"] != "-"]
        line = f"  round {r}: sides accepted {counts.get('ok', 0)} of {len(rows)}"
        rest = ", ".join(f"{k} {v}" for k, v in sorted(counts.items()) if k != "ok")
        if rest:
            line += f" ({rest})"
        if judged:
            line += f"; residual median {statistics.median(judged):.2f}"
        fsc = read_fsc(maps / "fsc_half1_half2.txt")
        if fsc:
            line += (f"; half-set FSC at 0.143 {resolution_at(fsc, '143', limit)[0]}, "
                     f"at 0.5 {resolution_at(fsc, '5', limit)[0]}")
        truth = read_fsc(maps / "fsc_average_truth.txt")
        if truth:
            line += f"; against the true map at 0.5 {resolution_at(truth, '5', limit)[0]}"
        line += halves_motion(results / "rounds" / str(r) / "halves_motion.txt")
        text.append(line)
        (folder / f"round{r}_residual.svg").write_text(histogram_svg(judged, f"round {r}: phase residual (degrees)"))
        pictures.append((f"round{r}_residual.svg", f"round {r}: phase residual"))
        if (maps / "fsc_half1_half2.tsv").exists():
            shutil.copyfile(maps / "fsc_half1_half2.tsv", folder / f"fsc_round{r}.tsv")
            curves.append(f"fsc_round{r}.tsv")
    return text, pictures, curves


def polarity_lines(rows, margin):
    """How many sides' polarity the two searches told apart: the other polarity's residual
    more than margin standard errors of the difference from the kept one's, either way."""
    told = untold = opposite = 0
    for r in rows:
        if r["status"] != "ok" or r.get("other_polarity", "-") in ("-", ""):
            continue
        mine, other = float(r["residual"]), float(r["other_polarity"].split("/")[3])
        if abs(other - mine) > margin * acceptance.difference_error(mine, float(r["random_sd"])):
            told += 1
        else:
            untold += 1
        opposite += r["polarity"] == "opposite"
    if told + untold == 0:
        return []
    line = (f"polarity: {told} of {told + untold} accepted sides told apart by the two searches against the "
            f"reference, {opposite} kept as opposite")
    if untold > (told + untold) / 2:
        line += (f"; for {untold} the two polarities fit equally well, so their polarity is a guess: "
                 f"the reference may not carry the helix's polarity at the resolution compared")
    return [line]
def checked(results):
    """The check's warnings and notes, as the summary's first lines."""
    path = results / "check" / "summary.txt"
    lines = path.read_text().splitlines() if path.exists() else []
    return [f"check: {ln}" for ln in lines if ln.strip() and ln != "passed"]


def frame_lines(results):
    """The reference's hold on the maps' frame (frame.txt), when it leaves a motion free."""
    path = results / "reference" / "frame.txt"
    line = path.read_text().strip() if path.exists() else ""
    return [f"frame: {line}"] if line and not line.startswith("pinned") else []


def checked_resolution(results, asked):
    """The maps' resolution limit: the one the check left (lower than asked where a layer line
    carries a second order), else the config's."""
    path = results / "check" / "limits.tsv"
    if path.exists():
        return float({r["key"]: r["value"] for r in wf.read_table(path)}["resolution"])
    return asked


class Agreement:
    def __init__(self):
        self.summary, self.html = [], []


def side_agreement(results, rows, threshold):
    """The near-far phase residual of every particle (the table's sides column) and per layer
    line (the chunks' sides.tsv, the median over particles); when most particles' sides
    disagree, a summary line saying the indexing does not fit the data."""
    out = Agreement()
    per_particle = {}
    for r in rows:
        if r.get("sides", "-") not in ("-", ""):
            per_particle[r["particle"]] = float(r["sides"])
    if not per_particle:
        return out
    values = list(per_particle.values())
    # A particle's sides disagree when their residual is not clearly better than random phases
    # would give for its own amplitudes (SIDE_SPREADS of their spread below 90), or above a
    # fixed threshold when the config sets one.
    spread = {r["particle"]: float(r["sides_random_sd"]) for r in rows
              if r.get("sides_random_sd", "-") not in ("-", "")}
    if threshold is None:
        limit = {p: 90.0 - SIDE_SPREADS * spread.get(p, 0.0) for p in per_particle}
        rule = f"not {SIDE_SPREADS:g} spreads of random phases below 90"
    else:
        limit = {p: threshold for p in per_particle}
        rule = f"above {threshold:g}"
    bad = sorted(p for p, v in per_particle.items() if v > limit[p])
    out.summary.append(f"near-far phase residual: median {statistics.median(values):.2f} degrees over "
                       f"{len(values)} particles, {len(bad)} {rule} (random phases give 90)")
    line_limit = statistics.median(limit.values())
    per_line = {}
    for path in sorted((results / "chunks").glob("*/sides.tsv")):
        for r in wf.read_table(path):
            if r["residual"] != "-":
                per_line.setdefault((int(r["l"]), int(r["n"])), []).append(float(r["residual"]))
    off = [f"{l} (n {n}, median {statistics.median(v):.0f})" for (l, n), v in sorted(per_line.items())
           if statistics.median(v) > line_limit]
    if off:
        out.summary.append("layer lines whose sides disagree in most particles (noise, or not the order named): " +
                           ", ".join(off))
    if per_line:
        out.html.append("<h2>near and far sides per layer line</h2><table><tr><th>l</th><th>n</th>"
                        "<th>median residual</th><th>particles</th></tr>")
        for (l, n), v in sorted(per_line.items()):
            out.html.append(f"<tr><td>{l}</td><td>{n}</td><td>{statistics.median(v):.2f}</td><td>{len(v)}</td></tr>")
        out.html.append("</table>")
    if 2 * len(bad) > len(values):
        out.summary.append(f"{INDEXING_FAILS}: the near and far sides of {len(bad)} of {len(values)} particles "
                           f"disagree (phase residual {rule}); check the rule, the deck's "
                           "orders and the helix axis")
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--output", required=True)
    ap.add_argument("--results", required=True)
    ap.add_argument("--llplot", default="")
    ap.add_argument("--threshold", default="")
    ap.add_argument("--resolution", type=float, default=None, help="the maps' resolution limit (A)")
    ap.add_argument("--rounds", type=int, default=1, help="the refinement rounds of the run")
    ap.add_argument("--polarity-margin", type=float, default=3.0,
                    help="standard errors by which two polarities' residuals count as told apart")
    ap.add_argument("--side-threshold", type=float, default=None,
                    help="a near-far residual (degrees) above this is a disagreement")
    a = ap.parse_args()
    results = Path(a.results)
    rows = wf.read_table(results / "alignments.tsv")
    folder = wf.scratch_dir(a.output)

    names = list(dict.fromkeys(r["particle"] for r in rows))
    used = sorted({r["particle"] for r in rows if r["status"] == "ok"}, key=names.index)
    left = [r for r in rows if r["status"] != "ok"]
    ok = [r for r in rows if r["status"] == "ok"]
    text = [f"particles: {len(names)}, used: {len(used)} (rows ok: {len(ok)} of {len(rows)})"]
    for r in left:
        text.append(f"left out: {r['particle']} {r['side']}: {r['status']}: {r['reason']}")
    if ok:
        res = [float(r["residual"]) for r in ok]
        text.append(f"phase residual of ok rows: median {statistics.median(res):.2f}, "
                    f"max {max(res):.2f} (threshold {a.threshold})")
    limit = checked_resolution(results, a.resolution)
    text += resolution_lines(read_fsc(results / "maps" / "fsc_half1_half2.txt"),
                             read_fsc(results / "maps" / "fsc_average_truth.txt"), limit)
    round_text, round_pictures, round_curves = rounds_section(results, a.rounds, limit, folder)
    # Polarity is judged against the given reference in round 1; later rounds compare each side
    # with an average that holds it, which favours the polarity it was given.
    first = results / "rounds" / "1" / "alignments.tsv"
    text += polarity_lines(wf.read_table(first) if a.rounds > 1 and first.exists() else rows, a.polarity_margin)
    text += round_text
    text += frame_lines(results)
    text[:0] = checked(results)
    agreement = side_agreement(results, rows, a.side_threshold)
    text += agreement.summary
    with_ctf = bool(rows) and "defocus_u" in rows[0]
    ctf_pictures = ctf_report(rows, results, folder, text) if with_ctf else []
    ctf_pictures += separation_report(results, folder, text)
    (folder / "summary.txt").write_text("\n".join(text) + "\n")

    # The pictures of the curves and the map come with the maps; those missing are drawn here
    # beside the histograms, each in a process of its own.
    maps = results / "maps"
    plots = []
    curves = sorted(c for c in maps.glob("fsc_*_*.tsv") if c.name != "fsc_halves.tsv") if maps.is_dir() else []
    for base, option, files in (("fsc", "--fsc", curves), ("map", "--map", [f for f in [maps / "average.map"] if f.exists()])):
        if (maps / f"{base}.png").exists():
            for ext in ("png", "svg"):
                if (maps / f"{base}.{ext}").exists():
                    shutil.copyfile(maps / f"{base}.{ext}", folder / f"{base}.{ext}")
            plots.append(lambda base=base: [(f"{base}.png", base)])
        elif files:
            plots.append(llplot(a, folder, base, option, files))
    if round_curves and Path(a.llplot).exists():
        # drawn in the report's folder, so that the legend names each round's table
        proc = subprocess.Popen(["/usr/bin/python3", a.llplot, "--fsc", *round_curves, "-o", "fsc_rounds"], cwd=folder,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        plots.append(lambda proc=proc: [("fsc_rounds.png", "half-set FSC of every round")]
                     if proc.wait() == 0 and (folder / "fsc_rounds.png").exists() else [])
    pictures = histograms(rows, folder) + round_pictures + ctf_pictures
    for finished in plots:
        pictures += finished()

    out = ["<!DOCTYPE html>", '<html><head><meta charset="utf-8"><title>alignment report</title>',
           "<style>body{font-family:sans-serif;margin:1em}img{margin:4px;border:1px solid #ccc}"
           "td,th{padding:1px 6px;font-size:small}tr.bad{background:#fdd}</style></head><body>",
           "<h1>alignment report</h1>", "<pre>" + html.escape("\n".join(text)) + "</pre>",
           '<p id="imagecheck">images not checked</p>']
    for png, label in pictures:
        out.append(f'<img src="{png}" alt="{html.escape(label)}" title="{html.escape(label)}">')
    out += agreement.html
    shown = rows if len(rows) <= MAX_HTML_ROWS else left + ok[: MAX_HTML_ROWS - len(left)]
    out.append(f"<h2>table</h2><p>{len(shown)} of {len(rows)} rows; all of them in "
               f'<a href="../alignments.tsv">alignments.tsv</a></p><table><tr>')
    columns = wf.COLUMNS + (wf.CTF_COLUMNS if with_ctf else [])
    out.append("".join(f"<th>{c}</th>" for c in columns) + "</tr>")
    for r in shown:
        cls = "" if r["status"] == "ok" else ' class="bad"'
        out.append(f"<tr{cls}>" + "".join(f"<td>{html.escape(r.get(c, ''))}</td>" for c in columns) + "</tr>")
    out.append("</table>")
    # Records, once the page has loaded, how many of its pictures could be shown.
    out.append("<script>window.addEventListener('load',function(){var im=document.images,n=0;"
               "for(var i=0;i<im.length;i++)if(im[i].complete&&im[i].naturalWidth>0)n++;"
               "document.getElementById('imagecheck').textContent='images loaded: '+n+' of '+im.length;});"
               "</script></body></html>")
    (folder / "index.html").write_text("\n".join(out) + "\n")
    wf.replace_dir(folder, a.output)


if __name__ == "__main__":
    main()
