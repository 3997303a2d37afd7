#!/usr/bin/env python3
"""Turns orsk -b lines and lz4/zstd -b lines into one table per file. A codec measured
in several rounds keeps its best compression and its best decompression figure.
Usage: table.py FILE [--tsv RESULTS]: --tsv appends the best figures to RESULTS."""
import os, re, sys

name = sys.argv[1]
tsv = sys.argv[3] if len(sys.argv) > 3 and sys.argv[2] == "--tsv" else None
size = os.path.getsize(name)
rows = {}  # codec -> (size, ratio, comp MB/s, decomp MB/s), in first-seen order


def add(codec, packed, ratio, comp, decomp):
    if codec in rows:
        old = rows[codec]
        comp, decomp = max(comp, old[2]), max(decomp, old[3])
    rows[codec] = (packed, ratio, comp, decomp)


peer = re.compile(r'^(\S+ -\d+) .*?:\s*(\d+)\s*->\s*(\d+)\s*\(x?([\d.]+)\),\s*([\d.]+)\s*MB/s\s*,\s*([\d.]+)\s*MB/s')
for line in sys.stdin:
    m = peer.match(line)
    if m:
        add(m.group(1), int(m.group(3)), float(m.group(4)), float(m.group(5)), float(m.group(6)))
        continue
    f = line.split()
    if len(f) == 7 and f[0] in "012345":  # level, name, effort, size, ratio, MB/s in and out
        effort = "" if f[2] == "0" else f" --effort={f[2]}"
        add(f"orsk -m{f[0]} {f[1]}{effort}", int(f[3]), float(f[4]), float(f[5]), float(f[6]))
print(f"\n## {os.path.basename(name)} ({size:,} bytes)\n")
print("| codec | size | ratio | comp MB/s | decomp MB/s |")
print("|---|---:|---:|---:|---:|")
for codec, r in rows.items():
    print(f"| {codec} | {r[0]:,} | {r[1]:.3f} | {r[2]:.1f} | {r[3]:.1f} |")
if tsv:
    # codec is "orsk -m<level> NAME", "lz4 -<n>" or "zstd -<n>"; tabs cannot occur in it
    with open(tsv, "a") as out:
        for codec, r in rows.items():
            out.write(f"{name}\t{size}\t{codec}\t{r[0]}\t{r[2]}\t{r[3]}\n")
