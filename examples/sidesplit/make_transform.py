#!/usr/bin/env python3
"""Writes transform.map, the small synthetic transform of the sidesplit example.

A mode-4 (complex) image of 33 by 64 values, the transform of a 64 by 64 pixel image with its
origin at pixel (32, 32): layer lines at 0, 4, 8 and 12 rows from the equator, each a smooth
peak of amplitude along the line whose phase rises with the column.
"""
import cmath
import math
import struct

NX, NY = 33, 64
KY = NY // 2
XORIG, YORIG = 32.0, 32.0
# height in rows, column of the amplitude peak, peak amplitude, phase step per column (degrees)
LINES = [(0, 2.0, 900.0, 0.0), (4, 6.0, 400.0, 25.0), (8, 9.0, 250.0, -40.0), (12, 1.0, 150.0, 0.0)]


def value(h, k):
    """The transform at column h, row k (from 0), its phase origin at the image's origin."""
    y = k - KY
    v = 0j
    for height, centre, peak, step in LINES:
        for side in (1, -1):
            dy = y - side * height
            if abs(dy) > 1:
                continue
            amp = peak * math.exp(-(((h - centre) / 2.5) ** 2)) * (1.0 - 0.5 * abs(dy))
            phase = side * math.radians(step * h + 20.0 * height)
            v += cmath.rect(amp, phase)
    # move the phase origin from the image's origin to its corner, as a transform program does
    return v * cmath.exp(-2j * math.pi * (h * XORIG / (2 * (NX - 1)) + y * YORIG / NY))


def header():
    words = struct.pack("<3i", NX, NY, 1)
    words += struct.pack("<i", 4)  # MODE
    words += struct.pack("<3i", 0, -KY, 0)  # NXSTART, NYSTART, NZSTART
    words += struct.pack("<3i", 2 * (NX - 1), NY, 1)  # MX, MY, MZ
    words += struct.pack("<6f", 2 * (NX - 1), NY, 1, 90, 90, 90)
    words += struct.pack("<3i", 1, 2, 3)
    words += struct.pack("<3f", 0.0, 900.0, 10.0)  # DMIN, DMAX, DMEAN
    words += struct.pack("<2i", 0, 0)  # ISPG, NSYMBT
    words += bytes(100)  # EXTRA
    words += struct.pack("<3f", XORIG, YORIG, 0.0)
    words += b"MAP " + bytes([0x44, 0x41, 0, 0])
    words += struct.pack("<f", 0.0)  # RMS
    words += struct.pack("<i", 1)
    words += b"sidesplit example: synthetic helix transform".ljust(800)
    assert len(words) == 1024
    return words


with open("transform.map", "wb") as f:
    f.write(header())
    for k in range(NY):
        for h in range(NX):
            v = value(h, k)
            f.write(struct.pack("<2f", v.real, v.imag))
