#!/usr/bin/env python3
"""Writes a raw series for timing the despiking program: N samples at 64 Hz
with noise, occasional spikes and missing runs, plus ConfigTAVRIN.Dat.

Usage: scrubber_generate.py FOLDER [N]   (default N = 7000000)
"""
import os, random, sys

folder = sys.argv[1]
n = int(sys.argv[2]) if len(sys.argv) > 2 else 7000000
os.makedirs(folder, exist_ok=True)
rng = random.Random(7)
rate = 64

def text(label, value, column=24):
    return label.ljust(column - 1)[:column - 1] + value

def real(label, value):
    return text(label, value.rjust(12)) + "   ! value in columns 24-35"

def integer(label, value):
    return text(label, value.rjust(20))

config = [
    "ConfigTAVRIN.Dat (timing run)",
    "-- despiking --",
    "Raw series file:",
    text("Raw data file name", "raw.dat", 21),
    "Sample rate = record 6 / record 7",
    integer("Sample rate numerator", "64"),
    integer("Sample rate divisor", "1"),
    "not used", real("r9", "0"), real("r10", "0"), "not used",
    real("r12", "0"), real("r13", "0"), real("r14", "0"), real("r15", "0"), real("r16", "0"),
    "-- cleaning --", "Output:",
    text("Cleaned file name", "clean.dat"),
    real("Span start (h)", "100.01"),
    real("Span end (h)", "999.0"),
    integer("Mean window (s)", "60"),
    real("O2 SD factor", "3"),
    real("Acceleration lim", "5.0"),
    integer("Iterations", "3"),
    real("Max gap (s)", "0.5"),
]
with open(os.path.join(folder, "ConfigTAVRIN.Dat"), "w", newline="") as f:
    f.write("".join(line + "\r\n" for line in config))

with open(os.path.join(folder, "raw.dat"), "w", newline="") as f:
    f.write("TIME X Y Z O21 O22 N T\r\n")
    lines = []
    missing = 0
    for i in range(n):
        t = 100.0 + i / (rate * 3600.0)
        if missing == 0 and rng.random() < 2e-4:
            missing = rng.randint(1, 60)
        if missing:
            missing -= 1
            x = -99.0
        else:
            x = rng.gauss(3.0, 1.0)
            if rng.random() < 1e-3:
                x += 40.0
        y = rng.gauss(-0.5, 1.0)
        z = rng.gauss(0.1, 0.3)
        o1 = rng.gauss(250.0, 0.5) + (30.0 if rng.random() < 1e-4 else 0.0)
        o2 = rng.gauss(240.0, 0.5)
        lines.append("%.8f %.4f %.4f %.4f %.4f %.4f %d %.4f\r\n" % (t, x, y, z, o1, o2, i % 10, 10.0))
        if len(lines) == 100000:
            f.write("".join(lines))
            lines = []
    f.write("".join(lines))
