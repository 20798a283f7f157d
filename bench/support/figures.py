"""How every benchmark reports, for the Python ones and for the reader of all
of them: one figure a line on standard output, a JSON object of name, value,
unit, target, better ("lower", "higher", or absent where neither is) and
platform ("Linux", "Windows" or "under Wine"). value is a number, true or false
for a check, or null for a figure that could not be taken (with a "note" that
says why). bench/support/Figures.h is the same writer in C++ and says more.
"""

import json
import math

LOWER, HIGHER = "lower", "higher"

# The platform the figures are taken on; a benchmark that drives the Windows
# program under Wine sets "under Wine".
platform = "Linux"


def write(name, value, unit="", target="", better=None, note=None):
    """Writes one figure as a JSON line and flushes it."""
    if isinstance(value, float) and not math.isfinite(value):
        value = None
    figure = {"name": name, "value": value, "unit": unit, "target": target}
    if better:
        figure["better"] = better
    figure["platform"] = platform
    if note:
        figure["note"] = note
    print(json.dumps(figure), flush=True)


def read(path):
    """The figures in a benchmark's output: every line that is a JSON object
    with a name; anything else on the line's way (a tool's own words) is
    passed over."""
    found = []
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.strip()
            if not line.startswith("{"):
                continue
            try:
                figure = json.loads(line)
            except ValueError:
                continue
            if isinstance(figure, dict) and "name" in figure and "value" in figure:
                found.append(figure)
    return found
