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

import quorvan_wf as wf

MAX_HTML_ROWS = 2000


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
    for key, label, sel in panels:
        (folder / f"hist_{key}.svg").write_text(histogram_svg([float(r[key]) for r in sel], label))
        made.append((f"hist_{key}.svg", label))
    return made


def llplot(args, folder, base, option, files):
    """Starts scripts/llplot on files; finished() waits for it and gives the picture made."""
    if not Path(args.llplot).exists():
        return lambda: []
    proc = subprocess.Popen(["/usr/bin/python3", args.llplot, option, *map(str, files), "-o", str(folder / base)],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def finished():
        return [(f"{base}.png", base)] if proc.wait() == 0 and (folder / f"{base}.png").exists() else []

    return finished


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--output", required=True)
    ap.add_argument("--results", required=True)
    ap.add_argument("--llplot", default="")
    ap.add_argument("--threshold", default="")
    ap.add_argument("--resolution", type=float, default=None, help="the maps' resolution limit (A)")
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
    text += resolution_lines(read_fsc(results / "maps" / "fsc_half1_half2.txt"),
                             read_fsc(results / "maps" / "fsc_average_truth.txt"), a.resolution)
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
    pictures = histograms(rows, folder)
    for finished in plots:
        pictures += finished()

    out = ["<!DOCTYPE html>", '<html><head><meta charset="utf-8"><title>alignment report</title>',
           "<style>body{font-family:sans-serif;margin:1em}img{margin:4px;border:1px solid #ccc}"
           "td,th{padding:1px 6px;font-size:small}tr.bad{background:#fdd}</style></head><body>",
           "<h1>alignment report</h1>", "<pre>" + html.escape("\n".join(text)) + "</pre>",
           '<p id="imagecheck">images not checked</p>']
    for png, label in pictures:
        out.append(f'<img src="{png}" alt="{html.escape(label)}" title="{html.escape(label)}">')
    shown = rows if len(rows) <= MAX_HTML_ROWS else left + ok[: MAX_HTML_ROWS - len(left)]
    out.append(f"<h2>table</h2><p>{len(shown)} of {len(rows)} rows; all of them in "
               f'<a href="../alignments.tsv">alignments.tsv</a></p><table><tr>')
    out.append("".join(f"<th>{c}</th>" for c in wf.COLUMNS) + "</tr>")
    for r in shown:
        cls = "" if r["status"] == "ok" else ' class="bad"'
        out.append(f"<tr{cls}>" + "".join(f"<td>{html.escape(r.get(c, ''))}</td>" for c in wf.COLUMNS) + "</tr>")
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
