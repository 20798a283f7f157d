"""Reads the outputs of tools/bench.sh's before-and-after mode and prints every
speed figure: its median before, its median after, and after / before, with a
mark where the figure is more than 5 % worse after.

The outputs are DIR/<side>.<benchmark>.<run>.txt, side "base" or "after".

Usage: python3 tools/bench_compare.py DIR RUNS
"""

import os
import re
import statistics
import sys

HIGHER, LOWER = "higher", "lower"


def figures(name, text):
    """The speed figures of one benchmark's output: (figure, value, better)."""
    found = []
    if name == "history":
        for size, ns in re.findall(r"history of\s+(\d+) lines:\s+(\d+) ns per added line", text):
            found.append(("TMemo: ns per added line at %s lines" % format(int(size), ","),
                          float(ns), LOWER))
    elif name == "receive":
        columns = ("plain recvfrom", "server, CheckSynchronize loop", "server, application loop")
        for line in text.splitlines():
            cells = line.split()
            # offered | plain: rate loss | CheckSynchronize loop: rate loss ratio | application loop: ...
            if cells and (cells[0] == "max" or cells[0].isdigit()) and len(cells) >= 11:
                offered = "full speed" if cells[0] == "max" else format(int(cells[0]), ",") + "/s"
                for column, at in zip(columns, (1, 4, 8)):
                    found.append(("UDP %s at %s: delivered/s" % (column, offered),
                                  float(cells[at]), HIGHER))
        m = re.search(r"idle deactivation: median ([\d.]+) ms", text)
        if m:
            found.append(("UDP server: idle deactivation, median ms", float(m.group(1)), LOWER))
    else:
        # bench/flood and bench/program: "  figure  value unit  target" rows; a
        # row indented further belongs to the row above it.
        parent = ""
        for line in text.splitlines():
            if not line.startswith("  "):
                continue
            cells = re.split(r"\s{2,}", line.strip())
            if len(cells) < 2:
                continue
            own = cells[0]
            if line[2] != " ":
                parent = own
            else:
                cells[0] = "%s: %s" % (parent, own)
            m = re.match(r"^(-?[\d.]+)\s*(\S*)$", cells[1])
            if not m:
                continue
            figure, unit = cells[0], m.group(2)
            if unit == "MB" or "repaints" in own or own.startswith("history"):
                continue  # memory, and ratios of one figure to another
            if unit in ("ms", "us", "%", "requests") or "wake-ups" in own or "gaps" in own:
                better = LOWER
            elif "/s" in own:
                better = HIGHER
            else:
                continue
            found.append((figure + (" (%s)" % unit if unit else ""), float(m.group(1)), better))
    return found


def spread(values):
    median = statistics.median(values)
    return "%.0f %%" % (100 * (max(values) - min(values)) / median) if median else "-"


def main():
    out, runs = sys.argv[1], int(sys.argv[2])
    values = {}  # (benchmark, figure) -> {"base": [...], "after": [...]}
    order = []
    for name in ("history", "receive", "flood", "program", "win-program"):
        for side in ("base", "after"):
            for run in range(1, runs + 1):
                path = os.path.join(out, "%s.%s.%d.txt" % (side, name, run))
                if not os.path.exists(path):
                    continue
                with open(path) as f:
                    for figure, value, better in figures(name, f.read()):
                        key = (figure, better)
                        if key not in values:
                            values[key] = {"base": [], "after": []}
                            order.append(key)
                        values[key][side].append(value)
    width = max([len(f) for f, _ in order] + [6])
    # The spread of a side is (max - min) / median of its runs.
    print("%-*s  %10s %7s  %10s %7s  %6s  %s" % (width, "figure", "before", "spread", "after",
                                                "spread", "after/before", "better"))
    for key in order:
        figure, better = key
        base, after = values[key]["base"], values[key]["after"]
        if not base or not after:
            continue
        before_median, after_median = statistics.median(base), statistics.median(after)
        ratio = after_median / before_median if before_median else float("nan")
        worse = (ratio < 0.95) if better == HIGHER else (ratio > 1 / 0.95)
        print("%-*s  %10s %7s  %10s %7s  %12s  %s%s" % (
            width, figure, "%.6g" % before_median, spread(base), "%.6g" % after_median,
            spread(after), "%.2f" % ratio if before_median else "-", better,
            "  WORSE" if worse else ""))


if __name__ == "__main__":
    main()
