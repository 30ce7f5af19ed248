#!/usr/bin/env python3
"""The report's resolutions from mapfsc's report (its layout as its --help gives it): a crossing
is stated as made, the maps' limit is said plainly when it bounds the curve, and a curve that
makes no crossing gets no resolution.

usage: report_test.py SOURCE_TOP"""
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(sys.argv[1]).resolve() / "workflow" / "scripts"))
import report  # noqa: E402

LIMITED = "; the maps were limited to 10.5 A"
MORE = ": limited by the map's resolution, the data may hold more"
# (the report's FSC lines, the summary's half-set line with the maps limited to 10.5 A; shell
# width 0.002 1/A)
CASES = [
    # within a shell of the limit, and beyond it: the limit bounds both
    (["FSC 0.5 at      10.56 A", "FSC 0.143 at       8.85 A"],
     "at 0.143 10.5 A (the maps' limit; the curve crosses at 8.85 A, beyond their data), at 0.5 10.56 A" + LIMITED
     + MORE),
    # well short of the limit: the data bound both
    (["FSC 0.5 at      17.50 A", "FSC 0.143 at      14.11 A"], "at 0.143 14.11 A, at 0.5 17.50 A" + LIMITED),
    # only 0.143 reaches the limit
    (["FSC 0.5 at      14.00 A", "FSC 0.143: not reached up to the last shell"],
     "at 0.143 10.5 A (the maps' limit; not crossed up to the last shell), at 0.5 14.00 A" + LIMITED + ": at 0.143"
     + MORE[1:]),
    # below 0.5 from the lowest shell that holds data: no crossing, no resolution
    (["FSC 0.5: below it from shell 3 at     166.67 A, the lowest shell that holds data: no crossing",
      "FSC 0.143 at      40.00 A"],
     "at 0.143 40.00 A, at 0.5 none (below 0.5 from the lowest shell that holds data, 166.67 A)" + LIMITED),
]

failures = []
with tempfile.TemporaryDirectory() as tmp:
    for i, (lines, want) in enumerate(CASES):
        log = Path(tmp) / f"fsc{i}.txt"
        log.write_text("  shell  1/res (1/A)  res (A)       FSC    voxels\n     1     0.00200      500.00    1.0000"
                       "        18\n\n shells 1-2 skipped: fewer than 72 Fourier voxels\n"
                       + "".join(f" {line}\n" for line in lines))
        fsc = report.read_fsc(log)
        got = report.resolution_lines(fsc, fsc, 10.5)
        if got[0] != "half-set resolution: " + want:
            failures.append(f"case {i}: {got[0]}")
        if got[1] != "half-set FSC: shells 1-2 skipped: fewer than 72 Fourier voxels" or \
                not got[2].startswith("resolution against the true map: at 0.5 "):
            failures.append(f"case {i}: {got[1:]}")
for f in failures:
    print("FAILED:", f)
print("passed" if not failures else f"{len(failures)} failed")
sys.exit(1 if failures else 0)
