#!/usr/bin/env python3
"""Draws Kvelmar's icon: two speech bubbles in the sixteen colours of the classic
desktop palette, as 16 and 32 pixel masters. Writes the hicolor sizes (the
larger ones are the masters enlarged pixel for pixel, so the icon stays crisp)
and a scalable SVG made of the same pixels.

Run it after changing a master; its output is kept in the tree, so building
does not need Python:  python3 packaging/icons/make-icons.py
"""
import os
import struct
import zlib

PALETTE = {
    ".": None,  # transparent
    "K": (0x00, 0x00, 0x00),  # black
    "N": (0x00, 0x00, 0x80),  # navy
    "T": (0x00, 0x80, 0x80),  # teal
    "A": (0x00, 0xFF, 0xFF),  # aqua
    "W": (0xFF, 0xFF, 0xFF),  # white
    "S": (0xC0, 0xC0, 0xC0),  # silver
    "G": (0x80, 0x80, 0x80),  # grey
    "O": (0x80, 0x80, 0x00),  # olive
    "Y": (0xFF, 0xFF, 0x00),  # yellow
    "M": (0x80, 0x00, 0x00),  # maroon
    "R": (0xFF, 0x00, 0x00),  # red
}

# The back bubble (teal, navy rim, white lines of text) speaks from the left,
# the front bubble (yellow, olive rim, three dots: someone is typing) answers
# from the right.
MASTER_32 = """
................................
................................
..NNNNNNNNNNNNNNNNNNN...........
.NAAAAAAAAAAAAAAAAAAAN..........
NATTTTTTTTTTTTTTTTTTTTN.........
NATTTTTTTTTTTTTTTTTTTTN.........
NATWWWWWWWWWWWWWWTTTTTN.........
NATTTTTTTTTTTTTTTTTTTTN.........
NATTTTTTTTTTTTTTTTTTTTN.........
NATWWWWWWWWWWWWTTTTTTTN.........
NATTTTTTTTTTTTTTTTTTTTN.........
NATTTTTTTTTTTTTTTTTTTTN.........
NATWWWWWWWWWOOOOOOOOOOOOOOOOOO..
NATTTTTTTTTOYYYYYYYYYYYYYYYYYYO.
.NTTTTTTTTOYWWWWWWWWWWWWWWWWWYYO
..NNTTTNNNOYWYYYYYYYYYYYYYYYYYYO
...NTTN...OYYYYYYYYYYYYYYYYYYYYO
...NTN....OYYYYYYYYYYYYYYYYYYYYO
..NTN.....OYYYNNYYYYNNYYYYNNYYYO
..NN......OYYYNNYYYYNNYYYYNNYYYO
..........OYYYYYYYYYYYYYYYYYYYYO
..........OYYYYYYYYYYYYYYYYYYYYO
..........OYYYYYYYYYYYYYYYYYYYGO
...........OYYYYYYYYYYYYYYYYYGO.
............OOOOOOOOOOOYYYOOOO..
......................OYYO......
.......................OYYO.....
........................OYO.....
.........................OO.....
..........................O.....
................................
................................
"""

MASTER_16 = """
................
.NNNNNNNNNN.....
NATTTTTTTTTN....
NTWWWWWWWTTN....
NTTTTTTTTTTN....
NTWWWWOOOOOOOOO.
NTTTTOYYYYYYYYYO
.NTNNOYYYYYYYYYO
..NN.OYNYYNYYNYO
..N..OYYYYYYYYYO
.....OYYYYYYYYGO
......OOOOOYYOO.
..........OYO...
...........OO...
............O...
................
"""


def parse(master, size):
    rows = [row for row in master.strip("\n").split("\n")]
    assert len(rows) == size, (size, len(rows))
    for row in rows:
        assert len(row) == size, (size, row)
        for c in row:
            assert c in PALETTE, c
    return rows


def scaled(rows, factor):
    out = []
    for row in rows:
        wide = "".join(c * factor for c in row)
        out.extend([wide] * factor)
    return out


def write_png(path, rows):
    height = len(rows)
    width = len(rows[0])
    raw = bytearray()
    for row in rows:
        raw.append(0)  # no filter
        for c in row:
            rgb = PALETTE[c]
            raw.extend((0, 0, 0, 0) if rgb is None else (*rgb, 255))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def write_svg(path, rows):
    size = len(rows)
    out = [
        '<?xml version="1.0" encoding="UTF-8"?>',
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{size}" height="{size}" '
        f'viewBox="0 0 {size} {size}" shape-rendering="crispEdges">',
        "  <title>Kvelmar</title>",
    ]
    for y, row in enumerate(rows):
        x = 0
        while x < size:
            c = row[x]
            end = x
            while end < size and row[end] == c:
                end += 1
            if PALETTE[c] is not None:
                r, g, b = PALETTE[c]
                out.append(
                    f'  <rect x="{x}" y="{y}" width="{end - x}" height="1" '
                    f'fill="#{r:02x}{g:02x}{b:02x}"/>'
                )
            x = end
    out.append("</svg>")
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    m16 = parse(MASTER_16, 16)
    m32 = parse(MASTER_32, 32)
    sizes = {16: m16, 32: m32, 48: scaled(m16, 3), 64: scaled(m32, 2),
             128: scaled(m32, 4), 256: scaled(m32, 8)}
    for size, rows in sizes.items():
        write_png(os.path.join(here, f"{size}x{size}.png"), rows)
    write_svg(os.path.join(here, "kvelmar.svg"), m32)


if __name__ == "__main__":
    main()
