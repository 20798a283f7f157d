#!/usr/bin/env python3
"""Writes a Windows icon file (.ico) around PNG images, one entry per image.

Usage: make-ico.py OUTPUT.ico IMAGE.png...

Every Windows since Vista reads PNG-compressed icon entries; the images are
taken as they are, so the icon shows exactly the program's PNG icons.
"""
import struct
import sys


def png_size(data: bytes) -> tuple[int, int]:
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        raise ValueError("not a PNG image")
    return struct.unpack(">II", data[16:24])


def main() -> int:
    output, images = sys.argv[1], sys.argv[2:]
    if not images:
        print("usage: make-ico.py OUTPUT.ico IMAGE.png...", file=sys.stderr)
        return 2
    blobs = [open(path, "rb").read() for path in images]
    header = struct.pack("<HHH", 0, 1, len(blobs))
    directory = b""
    offset = len(header) + 16 * len(blobs)
    for blob in blobs:
        width, height = png_size(blob)
        if width > 256 or height > 256:
            raise ValueError("an icon image is at most 256 pixels wide and high")
        # 256 is written as 0; planes 1, 32 bits per pixel.
        directory += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32,
                                 len(blob), offset)
        offset += len(blob)
    with open(output, "wb") as out:
        out.write(header + directory + b"".join(blobs))
    return 0


if __name__ == "__main__":
    sys.exit(main())
