#!/usr/bin/env python3
"""Reads the best figures bench/run.sh gathered, prints orsk's speed over its peers' at
the pairs of settings that compete, and draws ratio against speed with gnuplot.
Usage: summary.py RESULTS.tsv OUTDIR NOTE  (NOTE goes under each chart's title)"""
import csv, math, os, re, shutil, subprocess, sys

# orsk level against the peer setting it competes with
PAIRS = [(0, "lz4 -1"), (1, "zstd -1"), (2, "zstd -1"), (3, "zstd -9"), (5, "zstd -9")]
COLOURS = {"orsk": "#1f6fb4", "lz4": "#2ca02c", "zstd": "#e3750e",
           "effort1": "#6baed6", "effort5": "#756bb1", "effort9": "#54278f"}
SHAPES = {"orsk": 7, "lz4": 9, "zstd": 5}  # gnuplot point types: disc, triangle, square


class Row:
    def __init__(self, codec, size, packed, comp, decomp):
        self.codec, self.size, self.packed = codec, size, packed
        self.comp, self.decomp = comp, decomp  # MB/s
        self.family = codec.split()[0]
        m = re.match(r"orsk -m(\d)", codec)
        # orsk points read L0..L5 and peers their name and option; settings sort by number
        self.setting = int(m.group(1)) if m else int(codec.split()[1][1:])
        self.label = f"L{self.setting}" if m else codec
        # orsk at an effort: one line per effort through the levels, points read L0e9
        e = re.search(r"--effort=(\d)", codec)
        if e:
            self.family = f"effort{e.group(1)}"
            self.label += f"e{e.group(1)}"

    @property
    def ratio(self):
        return self.size / self.packed if self.packed else 0.0


def load(path):
    files = {}  # name -> {codec: Row}, in the order measured
    with open(path, newline="") as f:
        for rec in csv.DictReader(f, delimiter="\t"):
            row = Row(rec["codec"], int(rec["bytes"]), int(rec["packed"]), float(rec["comp_MBps"]),
                      float(rec["decomp_MBps"]))
            files.setdefault(rec["file"], {})[row.codec] = row
    return files


def whole(files):
    """The corpus as one input: total bytes over total packed bytes, and over total time
    (so a slow file weighs by the time it takes). Only codecs measured on every file."""
    common = [c for c in next(iter(files.values())) if all(c in rows for rows in files.values())]
    out = {}
    for c in common:
        rows = [rows[c] for rows in files.values()]
        size = sum(r.size for r in rows)
        comp = sum(r.size / r.comp for r in rows if r.comp > 0)
        decomp = sum(r.size / r.decomp for r in rows if r.decomp > 0)
        out[c] = Row(c, size, sum(r.packed for r in rows), size / comp if comp else 0.0,
                     size / decomp if decomp else 0.0)
    return out


def orsk_row(rows, level):
    return next((r for r in rows.values() if r.family == "orsk" and r.setting == level), None)


def print_pairs(charts, note):
    lines = [f"\n## orsk / peer speed (above 1: orsk is faster), {note}\n",
             "| file | orsk | peer | comp x | restore x | ratio orsk | ratio peer |",
             "|---|---|---|---:|---:|---:|---:|"]
    for title, rows in charts:
        for level, peer in PAIRS:
            o, p = orsk_row(rows, level), rows.get(peer)
            if not o or not p:
                continue
            comp = f"{o.comp / p.comp:.2f}" if p.comp else "-"
            decomp = f"{o.decomp / p.decomp:.2f}" if p.decomp else "-"
            lines.append(f"| {title} | L{level} | {peer} | {comp} | {decomp} | {o.ratio:.3f} | {p.ratio:.3f} |")
    return "\n".join(lines) + "\n"


# A panel's plot area in character cells at the chart's size and font, for placing labels
PANEL_COLUMNS, PANEL_ROWS = 52.0, 18.0
# where a label may go beside its point: offset in characters, and which end is anchored
LABEL_SPOTS = [(0.8, 0.7, "left"), (0.8, -0.7, "left"), (-0.8, 0.7, "right"), (-0.8, -0.7, "right"),
               (1.0, 0.0, "left"), (-1.0, 0.0, "right"), (0.0, 1.2, "center"), (0.0, -1.2, "center"),
               (0.8, 1.7, "left"), (0.8, -1.7, "left"), (-0.8, 1.7, "right"), (-0.8, -1.7, "right")]


def axis_range(values, log):
    lo, hi = min(values), max(values)
    if log:
        return lo / 1.8, hi * 2.5
    span = max(hi - lo, 0.05 * hi, 0.02)
    return lo - 0.08 * span, hi + 0.14 * span


def log_tics(xr):
    """1, 2, 5 times the powers of ten inside the range, so that a range under a decade
    still has numbers on it; only the powers when the range spans more than 3.5 decades
    (the numbers would run into each other)."""
    steps = (1, 2, 5) if math.log10(xr[1] / xr[0]) <= 3.5 else (1,)
    tics, p = [], 10.0 ** math.floor(math.log10(xr[0]))
    while p <= xr[1]:
        tics += [f'"{m * p:g}" {m * p:g}' for m in steps if xr[0] <= m * p <= xr[1]]
        p *= 10
    return tics


def place_labels(points, lines, xr, yr):
    """Greedy: each label takes the first spot beside its point that overlaps no point,
    no line between points and no label placed before it (or the spot that overlaps
    least). `lines` are lists of points joined in order."""
    def cell(x, y):
        cx = (math.log10(x) - math.log10(xr[0])) / (math.log10(xr[1]) - math.log10(xr[0])) * PANEL_COLUMNS
        return cx, (y - yr[0]) / (yr[1] - yr[0]) * PANEL_ROWS

    def overlap(a, b):
        return max(0.0, min(a[2], b[2]) - max(a[0], b[0])) * max(0.0, min(a[3], b[3]) - max(a[1], b[1]))

    cells = [cell(x, y) for x, y, _ in points]
    taken = [(cx - 0.6, cy - 0.4, cx + 0.6, cy + 0.4) for cx, cy in cells]
    for line in lines:  # a line counts as small boxes every half cell along it
        for a, b in zip(line, line[1:]):
            (ax, ay), (bx, by) = cell(*a), cell(*b)
            steps = max(1, int(2 * math.hypot(bx - ax, by - ay)))
            for i in range(1, steps):
                x, y = ax + (bx - ax) * i / steps, ay + (by - ay) * i / steps
                taken.append((x - 0.2, y - 0.2, x + 0.2, y + 0.2))
    spots = []
    for (cx, cy), (_, _, label) in zip(cells, points):
        width, best = len(label) + 0.3, None
        for dx, dy, anchor in LABEL_SPOTS:
            left = {"left": cx + dx, "right": cx + dx - width, "center": cx - width / 2}[anchor]
            box = (left, cy + dy - 0.5, left + width, cy + dy + 0.5)
            outside = box[0] < 0 or box[2] > PANEL_COLUMNS or box[1] < 0 or box[3] > PANEL_ROWS
            cost = sum(overlap(box, t) for t in taken) + (100.0 if outside else 0.0)
            if best is None or cost < best[0]:
                best = (cost, box, (dx, dy, anchor))
            if cost == 0.0:
                break
        taken.append(best[1])
        spots.append(best[2])
    return spots


def gnuplot_body(title, rows, note):
    fams = {}
    for r in rows.values():
        if r.ratio > 0 and r.comp > 0 and r.decomp > 0:  # a log axis takes no zero
            fams.setdefault(r.family, []).append(r)
    text = []
    for fam, rs in fams.items():
        rs.sort(key=lambda r: r.setting)
        text.append(f"${fam} << EOD")
        text += [f"{r.ratio:.4f} {r.comp:.3f} {r.decomp:.3f}" for r in rs]
        text.append("EOD")
    every = [r for rs in fams.values() for r in rs]
    yr = axis_range([r.ratio for r in every], False)

    def panel(speed, col, xlabel):
        xr = axis_range([speed(r) for r in every], True)
        lines = [[(speed(r), r.ratio) for r in rs] for rs in fams.values()]
        spots = place_labels([(speed(r), r.ratio, r.label) for r in every], lines, xr, yr)
        out = ["unset label", f'set xlabel "{xlabel}"', f"set xrange [{xr[0]:.4g}:{xr[1]:.4g}]",
               f"set xtics ({', '.join(log_tics(xr))})"]
        for n, (r, (dx, dy, anchor)) in enumerate(zip(every, spots), 1):
            colour = COLOURS.get(r.family, "#7f7f7f")
            out.append(f'set label {n} "{r.label}" at {speed(r):.4g},{r.ratio:.4f} {anchor} '
                       f"offset char {dx},{dy} tc rgb '{colour}' front")
        parts = []
        for fam in fams:
            colour, shape = COLOURS.get(fam, "#7f7f7f"), SHAPES.get(fam, 13)
            parts.append(f"${fam} using {col}:1 with linespoints pt {shape} ps 1.2 lw 2 lc rgb '{colour}' title '{fam}'")
        out.append("plot " + ", \\\n     ".join(parts))
        return out

    text += [
        f'set multiplot layout 1,2 title "{title}\\n{note}" font ",11"',
        "set logscale x", "set grid xtics mxtics ytics lc rgb '#dddddd'", "set key outside top center horizontal",
        f"set yrange [{yr[0]:.4g}:{yr[1]:.4g}]", 'set ylabel "ratio (input / output)"',
        *panel(lambda r: r.comp, 2, "compression MB/s (log scale)"),
        *panel(lambda r: r.decomp, 3, "restore MB/s (log scale)"),
        "unset multiplot",
    ]
    return "\n".join(text) + "\n"


def draw(base, title, rows, note):
    def text(s):  # inside a double-quoted gnuplot string
        return s.replace("\\", "/").replace('"', "'")

    body = gnuplot_body(text(title), rows, text(note))
    out = base.replace("'", "''")  # a quote inside a single-quoted gnuplot string
    script = ""
    for term, ext in [("pngcairo size 1100,500 font 'DejaVu Sans,10'", "png"),
                      ("svg size 1100,500 dynamic font 'DejaVu Sans,10'", "svg")]:
        script += f"set terminal {term} noenhanced\nset output '{out}.{ext}'\nreset\n{body}unset output\n"
    subprocess.run(["gnuplot"], input=script, text=True, check=True)
    return [f"{base}.png", f"{base}.svg"]


def chart_name(path, taken):
    name = re.sub(r"[^A-Za-z0-9._-]", "_", os.path.basename(path)) or "file"
    stem, n = name, 2
    while name in taken:
        name, n = f"{stem}-{n}", n + 1
    taken.add(name)
    return name


def main():
    results, outdir, note = sys.argv[1], sys.argv[2], sys.argv[3]
    files = load(results)
    if not files:
        sys.exit("summary: no figures")
    taken = {"corpus"}
    charts = []  # (name in the table, rows, chart file stem, chart title)
    for name, rows in files.items():
        size = next(iter(rows.values())).size
        charts.append((os.path.basename(name), rows, chart_name(name, taken), f"{os.path.basename(name)}, {size:,} bytes"))
    if len(files) > 1:
        rows = whole(files)
        size = next(iter(rows.values())).size if rows else 0
        charts.append(("corpus", rows, "corpus", f"the {len(files)} files as one, {size:,} bytes"))
    table = print_pairs([(c[0], c[1]) for c in charts], note)
    print(table, end="")
    with open(os.path.join(outdir, "ratios.md"), "w") as f:
        f.write(table)
    if not shutil.which("gnuplot"):
        print("\nsummary: no gnuplot, so no charts")
        return
    made = []
    for _, rows, stem, title in charts:
        if any(r.ratio > 0 and r.comp > 0 and r.decomp > 0 for r in rows.values()):
            made += draw(os.path.join(outdir, stem), title, rows, note)
    print("\ncharts: " + " ".join(made))


main()
