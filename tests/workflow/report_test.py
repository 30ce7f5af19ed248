#!/usr/bin/env python3
"""The report's resolutions from mapfsc's report: a crossing is stated as made, the maps'
limit is said plainly when it bounds the curve, and a curve that makes no crossing gets no
resolution. The reports are written here in mapfsc's layout (its --help).

usage: report_test.py SOURCE_TOP"""
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(sys.argv[1]).resolve() / "workflow" / "scripts"))
import report  # noqa: E402


def mapfsc_log(folder, name, fsc_lines, width=0.002):
    """A report of mapfsc with shell 1 at frequency `width`, the skipped shells 1-2 and the
    given FSC lines."""
    text = ("  shell  1/res (1/A)  res (A)       FSC    voxels\n"
            f"     1 {width:11.5f} {1 / width:11.2f}    1.0000        18\n\n"
            " shells 1-2 skipped: fewer than 72 Fourier voxels, too few for a correlation of 0.5 to stand out"
            " of chance\n" + "".join(f" {line}\n" for line in fsc_lines))
    path = Path(folder) / name
    path.write_text(text)
    return report.read_fsc(path)


def main():
    failures = []

    def check(cond, what):
        if not cond:
            failures.append(what)

    with tempfile.TemporaryDirectory() as tmp:
        # Crossings within a shell (0.002 1/A) of the 10.5 A limit or beyond it: the limit bounds
        # the curve, and the summary says so.
        fsc = mapfsc_log(tmp, "a", ["FSC 0.5 at      10.56 A", "FSC 0.143 at       8.85 A"])
        line = report.resolution_lines(fsc, {}, 10.5)[0]
        check(line == "half-set resolution: at 0.143 10.5 A (the maps' limit; the curve crosses at 8.85 A, beyond"
                      " their data), at 0.5 10.56 A; the maps were limited to 10.5 A: limited by the map's"
                      " resolution, the data may hold more", line)
        # Crossings well short of the limit: the data bound them, and nothing more is said.
        fsc = mapfsc_log(tmp, "b", ["FSC 0.5 at      17.50 A", "FSC 0.143 at      14.11 A"])
        line = report.resolution_lines(fsc, {}, 10.5)[0]
        check(line == "half-set resolution: at 0.143 14.11 A, at 0.5 17.50 A; the maps were limited to 10.5 A", line)
        # Only 0.143 reaches the limit.
        fsc = mapfsc_log(tmp, "c", ["FSC 0.5 at      14.00 A", "FSC 0.143: not reached up to the last shell"])
        line = report.resolution_lines(fsc, {}, 10.5)[0]
        check(line.endswith("; the maps were limited to 10.5 A: at 0.143 limited by the map's resolution, the data"
                            " may hold more"), line)
        # Below 0.5 from the lowest shell that holds data: no crossing, no resolution.
        fsc = mapfsc_log(tmp, "d", ["FSC 0.5: below it from shell 3 at     166.67 A, the lowest shell that holds"
                                    " data: no crossing", "FSC 0.143 at      40.00 A"])
        line = report.resolution_lines(fsc, {}, 10.5)[0]
        check("at 0.5 none (below 0.5 from the lowest shell that holds data, 166.67 A)" in line, line)
        check("500" not in line and "166.67 A;" not in line, line)
        # The skipped shells are named once, beside the curve they belong to.
        lines = report.resolution_lines(fsc, fsc, 10.5)
        check(lines[1].startswith("half-set FSC: shells 1-2 skipped: fewer than 72 Fourier voxels"), lines)
        check(lines[2] == "resolution against the true map: at 0.5 none (below 0.5 from the lowest shell that holds"
                          " data, 166.67 A), at 0.143 40.00 A", lines)
    for f in failures:
        print("FAILED:", f)
    print("passed" if not failures else f"{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
