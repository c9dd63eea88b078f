#!/usr/bin/python3
"""Turns the measurements of bench/report into its table and growth plot.

  plot.py svg PAGE.html OUT.svg             the page's <svg> as a standalone file
  plot.py report RAW CORPUS OUTDIR MODE     table to stdout and OUTDIR/report.md,
                                            plot to OUTDIR/growth.png
"""
import glob
import json
import os
import statistics
import sys

# The page's light look, for a renderer that does not get the page stylesheet.
SVG_STYLE = ("<style>rect,ellipse,polygon,line{fill:#ffffff;stroke:#5f6368;stroke-width:1.5;"
             "vector-effect:non-scaling-stroke}line{fill:none}.canvas-frame{fill:none;"
             "stroke-dasharray:6 4}.canvas-shape-label{fill:#202124;font-family:sans-serif;"
             "font-size:14px}</style>")


def svg(page, target):
    text = open(page, encoding="utf-8").read()
    start = text.index("<svg")
    end = text.index("</svg>", start) + len("</svg>")
    element = text[start:end]
    head = element.index(">") + 1
    with open(target, "w", encoding="utf-8") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n' + element[:head] + SVG_STYLE +
                element[head:] + "\n")


class Runs:
    """All rounds of one hyperfine comparison: name -> list of per-round results."""

    def __init__(self, raw, stem):
        self.rounds = []
        for path in sorted(glob.glob(os.path.join(raw, stem + ".r*.json"))):
            with open(path) as f:
                self.rounds.append({r["command"]: r for r in json.load(f)["results"]})

    def has(self, name):
        return any(name in r for r in self.rounds)

    def median(self, name):
        return statistics.median(r[name]["median"] for r in self.rounds if name in r)

    def cpu(self, name):
        return statistics.median(r[name]["user"] + r[name]["system"]
                                 for r in self.rounds if name in r)

    def ratio(self, a, b):
        """Median over rounds of the per-round ratios, their range, and the CPU ratio."""
        walls = [r[a]["median"] / r[b]["median"] for r in self.rounds if a in r and b in r]
        cpus = [(r[a]["user"] + r[a]["system"]) / max(1e-9, r[b]["user"] + r[b]["system"])
                for r in self.rounds if a in r and b in r]
        return statistics.median(walls), min(walls), max(walls), statistics.median(cpus)


def seconds(t):
    if t >= 1:
        return "%.2f s" % t
    if t >= 1e-3:
        return "%.1f ms" % (t * 1e3)
    return "%.0f us" % (t * 1e6)


def report(raw, corpus, outdir, mode):
    rows = []
    quick = mode == "quick"
    big = "2" if quick else "20"
    json_big = "2" if quick else "20"
    yaml_big = "0.5" if quick else "5"
    huge = "10000" if quick else "100000"

    def row(label, runs, a, b, goal=None, bound=None, full_only=False):
        if full_only and quick:
            # A goal set for the full-size input says nothing at the quick size.
            goal, bound = "(full size only)", None
        if not (runs.has(a) and runs.has(b)):
            rows.append((label, "-", "-", "missing", "", "", goal or "", ""))
            return
        wall, low, high, cpu = runs.ratio(a, b)
        met = "" if bound is None else ("yes" if bound(wall) else "**no**")
        spread = "%.2f-%.2f" % (low, high) if len(runs.rounds) > 1 else "1 run"
        rows.append((label, seconds(runs.median(a)), seconds(runs.median(b)),
                     "%.2fx" % wall, "%.2fx" % cpu, spread, goal or "", met))

    start = Runs(raw, "md-start")
    row("Empty note, one process: quarn / cmark-gfm CLI (five extensions)", start, "quarn empty",
        "cmark empty", "<= 1.2x", lambda r: r <= 1.2)
    row("Typical 6 KB note, one process: quarn / cmark-gfm CLI", start, "quarn typical",
        "cmark typical", "<= 1.1x", lambda r: r <= 1.1)
    row("Typical 6 KB note: quarn / file held in memory (floor)", start, "quarn typical",
        "hold typical")
    md = Runs(raw, "md-growth")
    row("Markdown %s MB note: quarn / cmark-gfm CLI" % big, md, "quarn " + big, "cmark " + big,
        "<= 1.05x", lambda r: r <= 1.05, full_only=True)
    row("Markdown %s MB note: quarn / file held in memory (floor)" % big, md, "quarn " + big, "hold " + big)
    row("Markdown %s MB note: cmark-gfm / file held in memory (floor)" % big, md, "cmark " + big, "hold " + big)
    vault = Runs(raw, "md-vault")
    count = sum(1 for _ in glob.glob(os.path.join(corpus, "vault", "*.md")))
    row("Vault, %d notes, a process each: quarn / cmark-gfm CLI" % count, vault,
        "quarn vault", "cmark vault", "<= 1.3x", lambda r: r <= 1.3)
    row("Vault: quarn / file held in memory (floor)", vault, "quarn vault", "hold vault")

    inproc = os.path.join(raw, "md-inprocess.json")
    if os.path.exists(inproc):
        medians = {}
        for b in json.load(open(inproc))["benchmarks"]:
            if b.get("aggregate_name") == "median":
                medians[b["run_name"]] = b
        for what, label in (("BigNote", "%s MB note" % big), ("Vault", "vault")):
            q, c = medians.get(what + "/quarn"), medians.get(what + "/cmark")
            if q and c:
                wall, cpu = q["real_time"] / c["real_time"], q["cpu_time"] / c["cpu_time"]
                unit = 1e-3 if q["time_unit"] == "ms" else 1e-9
                rows.append(("In process, %s: PreviewDocument::render / cmark-gfm loop" % label,
                             seconds(q["real_time"] * unit), seconds(c["real_time"] * unit),
                             "%.2fx" % wall, "%.2fx" % cpu, "median of reps", "<= 1.3x",
                             "yes" if wall <= 1.3 else "**no**"))

    pandoc = Runs(raw, "md-pandoc-big")
    row("Markdown %s MB note: quarn / pandoc" % big, pandoc, "quarn big", "pandoc big")
    sample = Runs(raw, "md-pandoc-vault")
    row("Vault sample (1 in 40): quarn / pandoc", sample, "quarn sample", "pandoc sample")
    if sample.has("pandoc sample"):
        n = max(1, (count + 39) // 40)
        rows.append(("  pandoc on the whole vault, scaled from the sample", "",
                     seconds(sample.median("pandoc sample") * count / n), "", "", "estimate", "", ""))

    links = Runs(raw, "md-links")
    row("%s MB of wiki links and images: quarn / realistic note of the size" % big, links,
        "quarn links", "quarn note")
    row("%s MB of wiki links and images: quarn / cmark-gfm CLI" % big, links,
        "quarn links", "cmark links")
    hostile = Runs(raw, "md-hostile")
    row("Hostile 1 MB line of '[': quarn / plain note of the size", hostile,
        "quarn bracket", "quarn plain-bracket")
    row("Hostile 100k '[[' unclosed: quarn / plain note of the size", hostile,
        "quarn unclosed", "quarn plain-unclosed")
    row("Hostile 1 MB line of '[': cmark-gfm CLI / plain note through quarn", hostile,
        "cmark bracket", "quarn plain-bracket")
    row("Hostile 1 MB line of '[': quarn / cmark-gfm CLI", hostile, "quarn bracket", "cmark bracket")
    row("Hostile 100k '[[' unclosed: quarn / cmark-gfm CLI", hostile,
        "quarn unclosed", "cmark unclosed")

    js = Runs(raw, "json-growth")
    row("JSON %s MB nested: quarn / yaml-events" % json_big, js, "quarn " + json_big,
        "events " + json_big, "<= 1.3x", lambda r: r <= 1.3, full_only=True)
    row("JSON %s MB nested: quarn / file held in memory (floor)" % json_big, js, "quarn " + json_big, "hold " + json_big)
    ym = Runs(raw, "yaml-growth")
    row("YAML %s MB block: quarn / yaml-events" % yaml_big, ym, "quarn " + yaml_big,
        "events " + yaml_big, "<= 1.3x", lambda r: r <= 1.3, full_only=True)
    row("YAML %s MB block: quarn / file held in memory (floor)" % yaml_big, ym, "quarn " + yaml_big, "hold " + yaml_big)

    cv = Runs(raw, "canvas-growth")
    for n in ("10", "1000", huge):
        goal = ("<= 1.6x", lambda r: r <= 1.6) if n == huge else (None, None)
        row("Canvas %s elements: quarn / simdjson-floor" % n, cv, "quarn " + n, "floor " + n, *goal,
            full_only=n == huge)
    row("Canvas %s elements: quarn / file held in memory (floor)" % huge, cv, "quarn " + huge, "hold " + huge)

    for size in ("256", "1024"):
        th = Runs(raw, "thumb-" + size)
        small_goal = {"256": 0.6, "1024": 0.7}[size]
        for n, limit in (("10", small_goal), ("1000", 0.5)):
            row("Thumbnail %s px, %s elements: quarn / rsvg-convert" % (size, n), th,
                "quarn " + n, "rsvg " + n, "<= %gx" % limit, lambda r, l=limit: r <= l)
        hh = Runs(raw, "thumb-%s-huge" % size)
        row("Thumbnail %s px, %s elements: quarn / rsvg-convert" % (size, huge), hh,
            "quarn " + huge, "rsvg " + huge, "<= 0.5x", lambda r: r <= 0.5)
        row("Thumbnail %s px, %s elements: quarn / file held in memory (floor)" % (size, huge), hh,
            "quarn " + huge, "hold " + huge)

    head = ("| Comparison | quarn | peer | ratio (wall) | ratio (CPU) | rounds | goal | met |\n"
            "|---|---|---|---|---|---|---|---|\n")
    table = head + "".join("| " + " | ".join(r) + " |\n" for r in rows)

    memory = ("| File | size | quarn peak RSS | yaml-events peak RSS | file held (floor) | "
              "quarn RSS / size | goal |\n|---|---|---|---|---|---|---|\n")
    mem_path = os.path.join(raw, "memory.tsv")
    mem_points = []
    if os.path.exists(mem_path):
        for line in open(mem_path):
            path, size, q, e, h = (line.rstrip("\n").split("\t") + ["0"])[:5]
            mem_points.append((os.path.basename(path), int(size), int(q) * 1024, int(e) * 1024,
                               int(h) * 1024))
        mem_points.sort(key=lambda p: (os.path.splitext(p[0])[1], p[1]))
        biggest_json = max((p for p in mem_points if p[0].endswith(".json")),
                           key=lambda p: p[1], default=None)
        for point in mem_points:
            path, size, q, e, h = point
            goal = ""
            if point is biggest_json and not quick:
                goal = "<= 4x: " + ("yes" if q <= 4 * size else "**no**")
            memory += "| %s | %.1f MB | %.1f MB | %.1f MB | %.1f MB | %.1fx | %s |\n" % (
                path, size / 2 ** 20, q / 2 ** 20, e / 2 ** 20, h / 2 ** 20, q / size, goal)

    text = ("# quarn performance report (%s)\n\nCommand: `%sbench/report`. Ratios are "
            "quarn's time over the peer's, each the median over rounds of per-round ratios "
            "of medians taken in one hyperfine invocation (wall time; CPU = user+system). "
            "Thumbnail peer: rsvg-convert -b white -a -w S -h S on the page's SVG with an "
            "inline light style.\n\n%s\n## Peak memory against file size\n\n%s\n"
            "Growth plot: growth.png\n" % (mode, "QUARN_BENCH_QUICK=1 " if quick else "",
                                          table, memory))
    os.makedirs(outdir, exist_ok=True)
    with open(os.path.join(outdir, "report.md"), "w") as f:
        f.write(text)
    print(table)
    print(memory)
    plot(raw, corpus, os.path.join(outdir, "growth.png"), mem_points)


def series(raw, corpus, stem, prefix, pattern):
    """(file size, median seconds) points of every parameter value of one command."""
    runs = Runs(raw, stem)
    points = {}
    for r in runs.rounds:
        for name, result in r.items():
            if not name.startswith(prefix + " "):
                continue
            value = name[len(prefix) + 1:]
            path = os.path.join(corpus, pattern.format(value))
            if os.path.exists(path):
                points.setdefault(os.path.getsize(path), []).append(result["median"])
    return sorted((size, statistics.median(ts)) for size, ts in points.items())


def plot(raw, corpus, target, mem_points):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    panels = [
        ("Markdown note", [("md-growth", "quarn", "md/note-{}MB.md", "quarn-preview"),
                           ("md-growth", "cmark", "md/note-{}MB.md", "cmark-gfm CLI"),
                           ("md-links-growth", "quarn", "links/links-{}MB.md", "quarn, links note"),
                           ("md-growth", "hold", "md/note-{}MB.md", "file held in memory (floor)")]),
        ("JSON", [("json-growth", "quarn", "json/nested-{}MB.json", "quarn-preview"),
                  ("json-growth", "events", "json/nested-{}MB.json", "yaml-events"),
                  ("json-growth", "hold", "json/nested-{}MB.json", "file held in memory (floor)")]),
        ("YAML", [("yaml-growth", "quarn", "yaml/block-{}MB.yaml", "quarn-preview"),
                  ("yaml-growth", "events", "yaml/block-{}MB.yaml", "yaml-events"),
                  ("yaml-growth", "hold", "yaml/block-{}MB.yaml", "file held in memory (floor)")]),
        ("Canvas preview", [("canvas-growth", "quarn", "canvas/canvas-{}.kcv", "quarn-preview"),
                            ("canvas-growth", "floor", "canvas/canvas-{}.kcv", "simdjson-floor"),
                            ("canvas-growth", "hold", "canvas/canvas-{}.kcv", "file held in memory (floor)")]),
    ]
    for size in ("256", "1024"):
        panels.append(("Thumbnail %s px" % size, [
            (("thumb-" + size, "thumb-%s-huge" % size), "quarn", "canvas/canvas-{}.kcv", "quarn-thumbnail"),
            (("thumb-" + size, "thumb-%s-huge" % size), "rsvg", "canvas/canvas-{}.kcv", "rsvg-convert")]))
    fig, axes = plt.subplots(2, 4, figsize=(20, 9))
    axes = axes.flatten()
    for ax, (title, lines) in zip(axes, panels):
        for stems, prefix, pattern, label in lines:
            stems = stems if isinstance(stems, tuple) else (stems,)
            pts = sorted(p for s in stems for p in series(raw, corpus, s, prefix, pattern))
            if pts:
                ax.plot([p[0] for p in pts], [p[1] for p in pts], "o-", label=label)
        ax.set_xscale("log")
        ax.set_yscale("log")
        ax.set_title(title + " (log-log)")
        ax.set_xlabel("input file size (bytes)")
        ax.set_ylabel("process time, median (s)")
        ax.grid(True, which="both", alpha=0.3)
        ax.legend(fontsize=8)
    ax = axes[len(panels)]
    if mem_points:
        for index, label in ((2, "quarn-preview"), (3, "yaml-events")):
            for kind, marker in ((".json", "o"), (".yaml", "s")):
                pts = sorted((p[1], p[index]) for p in mem_points if p[0].endswith(kind))
                if pts:
                    ax.plot([p[0] for p in pts], [p[1] for p in pts], marker + "-",
                            label="%s %s" % (label, kind))
        ax.set_xscale("log")
        ax.set_yscale("log")
        ax.set_title("Peak memory (log-log)")
        ax.set_xlabel("input file size (bytes)")
        ax.set_ylabel("peak RSS (bytes)")
        ax.grid(True, which="both", alpha=0.3)
        ax.legend(fontsize=8)
    for extra in axes[len(panels) + 1:]:
        extra.axis("off")
    fig.suptitle("quarn: time against input size; a straight line of slope 1 is linear growth")
    fig.tight_layout()
    fig.savefig(target, dpi=90)


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "svg":
        svg(sys.argv[2], sys.argv[3])
    elif len(sys.argv) == 6 and sys.argv[1] == "report":
        report(*sys.argv[2:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
