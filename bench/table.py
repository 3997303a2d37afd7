#!/usr/bin/env python3
"""Turns orsk -b lines and lz4/zstd -b lines into one table per file."""
import os, re, sys

name = sys.argv[1]
size = os.path.getsize(name)
rows = []
peer = re.compile(r'^(\S+ -\d+) .*?:\s*(\d+)\s*->\s*(\d+)\s*\(x?([\d.]+)\),\s*([\d.]+)\s*MB/s\s*,\s*([\d.]+)\s*MB/s')
for line in sys.stdin:
    m = peer.match(line)
    if m:
        rows.append((m.group(1), int(m.group(3)), float(m.group(4)), float(m.group(5)), float(m.group(6))))
        continue
    f = line.split()
    if len(f) == 6 and f[0] in "012345":
        rows.append((f"orsk -m{f[0]} {f[1]}", int(f[2]), float(f[3]), float(f[4]), float(f[5])))
print(f"\n## {os.path.basename(name)} ({size:,} bytes)\n")
print("| codec | size | ratio | comp MB/s | decomp MB/s |")
print("|---|---:|---:|---:|---:|")
for r in rows:
    print(f"| {r[0]} | {r[1]:,} | {r[2]:.3f} | {r[3]:.1f} | {r[4]:.1f} |")
