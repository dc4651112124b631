#!/usr/bin/env python3
"""Writes the program's icon, quenvarsample.ico: the control's picture (the lamp with its plug)
at 32 x 32 and 16 x 16 pixels, 24-bit. Run once after changing the picture; the icon is
committed beside this script.

    python3 sample/windows/make_icon.py
"""

import struct
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parents[1] / "control" / "resources"))
from make_resources import render  # noqa: E402  the one drawing of the picture


def icon_image(size):
    """One icon image: a 40-byte info header of twice the height, the colour rows bottom-up
    (24-bit, padded to 4 bytes), then the transparency mask (all opaque), padded likewise."""
    colour_row = (size * 24 + 31) // 32 * 4
    mask_row = (size + 31) // 32 * 4
    data = bytearray(struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 24, 0,
                                 (colour_row + mask_row) * size, 0, 0, 0, 0))
    for row in reversed(render(size, size)):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        data += line + bytes(colour_row - len(line))
    data += bytes(mask_row * size)
    return bytes(data)


def main():
    images = [icon_image(size) for size in (32, 16)]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip((32, 16), images):
        directory += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 24, len(image), offset)
        offset += len(image)
    (HERE / "quenvarsample.ico").write_bytes(directory + b"".join(images))
    print(f"quenvarsample.ico: {offset} bytes")


if __name__ == "__main__":
    main()
