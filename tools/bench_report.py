"""Reads the figures that tools/bench.sh's benchmarks wrote, JSON lines as
bench/support/figures.py describes, and prints them.

  table DIR NAME...       every figure of DIR/NAME.jsonl, in the order named,
                          beside its target; "missed" where the value does
                          not meet a target that is a plain bound ("< 300 ms",
                          ">= 0.5", "0 %")
  compare DIR RUNS NAME...  the before-and-after comparison: DIR holds
                          <side>.<NAME>.<run>.jsonl, side "base" or "after",
                          run 1..RUNS; for every figure with a direction, the
                          median of the runs on each side, the spread, and
                          after / before, marked WORSE where the figure is more
                          than 5 % worse in its direction
"""

import os
import re
import statistics
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench",
                                "support"))
import figures  # noqa: E402
from figures import HIGHER, LOWER  # noqa: E402

WORSE_BY = 0.05


def label(figure):
    """The figure's name, with its platform where that is not Linux."""
    platform = figure.get("platform", "Linux")
    return figure["name"] if platform == "Linux" else "%s, %s" % (figure["name"], platform)


def number(value):
    if abs(value) >= 1000:
        return "{:,.0f}".format(value)
    if abs(value) >= 100 or value == int(value):
        return "%.0f" % value
    if abs(value) >= 1:
        return "%.2f" % value
    return "%.3g" % value


def shown(figure):
    value = figure["value"]
    if value is True or value is False:
        return "yes" if value else "NO"
    if value is None:
        return "-"
    text = number(value)
    unit = figure.get("unit", "")
    return "%s %s" % (text, unit) if unit and unit != "%" else text + unit


def missed(figure):
    """True where a plain bound of the target is not met, False where it is,
    None where the target is no plain bound."""
    value, target = figure["value"], figure.get("target", "")
    if value is False:
        return True
    if value is None or value is True:
        return None
    m = re.match(r"^(<=|<|>=|>)?\s*(-?[\d,]*\.?\d+)\s*(\S*)$", target)
    if not m or (m.group(3) and m.group(3) != figure.get("unit", "")):
        return None
    bound = float(m.group(2).replace(",", ""))
    holds = {"<=": value <= bound, "<": value < bound, ">=": value >= bound,
             ">": value > bound, None: value <= bound}[m.group(1)]
    return not holds


def table(out, names):
    rows = []
    for name in names:
        path = os.path.join(out, name + ".jsonl")
        found = figures.read(path) if os.path.exists(path) else []
        if not found:
            rows.append(("(%s wrote no figures)" % name, "", "", ""))
        for figure in found:
            target = figure.get("target", "")
            if figure["value"] is None and figure.get("note"):
                target = ("%s (%s)" % (target, figure["note"])).strip()
            rows.append((label(figure), shown(figure), target,
                         "missed" if missed(figure) else ""))
    width = max(len(r[0]) for r in rows)
    print("%-*s  %14s   %-22s %s" % (width, "figure", "value", "target", ""))
    for figure, value, target, mark in rows:
        print(("%-*s  %14s   %-22s %s" % (width, figure, value, target, mark)).rstrip())


def spread(values):
    median = statistics.median(values)
    return "%.0f %%" % (100 * (max(values) - min(values)) / abs(median)) if median else "-"


def compare(out, runs, names):
    values = {}  # label -> {"better": ..., "base": [...], "after": [...]}
    order = []
    silent = []
    for name in names:
        for side in ("base", "after"):
            wrote = False
            for run in range(1, runs + 1):
                path = os.path.join(out, "%s.%s.%d.jsonl" % (side, name, run))
                for figure in figures.read(path) if os.path.exists(path) else []:
                    wrote = True
                    value = figure["value"]
                    better = figure.get("better")
                    if better not in (LOWER, HIGHER) or isinstance(value, bool) or value is None:
                        continue
                    key = label(figure)
                    if key not in values:
                        values[key] = {"better": better, "unit": figure.get("unit", ""),
                                       "base": [], "after": []}
                        order.append(key)
                    values[key][side].append(float(value))
            if not wrote:
                silent.append("%s on the %s side" % (name, side))
    width = max([len(k) for k in order] + [6])
    print("%-*s  %10s %7s  %10s %7s  %12s  %-6s  %s" % (
        width, "figure", "before", "spread", "after", "spread", "after/before", "better", "unit"))
    one_sided = []
    for key in order:
        entry = values[key]
        base, after, better = entry["base"], entry["after"], entry["better"]
        if not base or not after:
            one_sided.append("%s (only %s)" % (key, "after" if after else "before"))
            continue
        before_median, after_median = statistics.median(base), statistics.median(after)
        if before_median:
            ratio = after_median / before_median
            worse = ratio > 1 + WORSE_BY if better == LOWER else ratio < 1 - WORSE_BY
            ratio_text = "%.2f" % ratio
        else:
            worse = after_median > 0 if better == LOWER else after_median < 0
            ratio_text = "-"
        print(("%-*s  %10s %7s  %10s %7s  %12s  %-6s  %-11s %s" % (
            width, key, number(before_median), spread(base), number(after_median), spread(after),
            ratio_text, better, entry["unit"], "WORSE" if worse else "")).rstrip())
    for what in silent:
        print("no figures from %s" % what)
    for what in one_sided:
        print("not compared: %s" % what)


def main(argv):
    if len(argv) >= 2 and argv[0] == "table":
        table(argv[1], argv[2:])
        return 0
    if len(argv) >= 3 and argv[0] == "compare":
        compare(argv[1], int(argv[2]), argv[3:])
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
