#!/usr/bin/env python3
"""Writes the module's binary resources: the pictures (a lamp with its plug) and the two
identifier records. Run once after changing the picture or the identifiers; the outputs are
committed beside this script.

    python3 control/resources/make_resources.py

Pictures are plain Windows BMP files written byte by byte: 24-bit for Image1 and the
toolbox bitmap, 4-bit (16 colours) for the designer's larger toolbox picture. The identifier
records are a 32-bit little-endian length (16) followed by the identifier's sixteen bytes in
the order they are written in QuenvarIdentifiers.h.
"""

import re
import struct
from pathlib import Path

HERE = Path(__file__).resolve().parent
IDENTIFIERS = HERE.parent / "QuenvarIdentifiers.h"

BACKGROUND = (236, 236, 236)
OUTLINE = (48, 48, 48)
GLASS = (255, 224, 64)
GLOW = (255, 250, 200)
METAL = (150, 150, 150)
CABLE = (32, 32, 32)
PLUG = (40, 64, 168)
PRONG = (200, 200, 200)


def picture(u, v):
    """The colour at (u, v), both 0..1 from the top-left corner."""
    # Bulb: a glowing disc with a dark rim.
    du, dv = u - 0.36, v - 0.34
    distance = (du * du + dv * dv) ** 0.5
    if distance < 0.19:
        return GLOW if (du + 0.06) ** 2 + (dv + 0.06) ** 2 < 0.004 else GLASS
    if distance < 0.23:
        return OUTLINE
    # Screw base under the bulb, striped.
    if 0.27 <= u <= 0.45 and 0.56 <= v <= 0.70:
        return OUTLINE if int((v - 0.56) / 0.035) % 2 else METAL
    # Cable: down from the base, then right to the plug.
    if 0.34 <= u <= 0.38 and 0.70 <= v <= 0.88:
        return CABLE
    if 0.34 <= u <= 0.62 and 0.84 <= v <= 0.88:
        return CABLE
    # Plug body and its two prongs.
    if 0.60 <= u <= 0.80 and 0.74 <= v <= 0.96:
        return PLUG
    if 0.80 <= u <= 0.95 and (0.77 <= v <= 0.81 or 0.89 <= v <= 0.93):
        return PRONG
    return BACKGROUND


def render(width, height, samples=4):
    """Rows top to bottom of (r, g, b), each pixel averaged over samples x samples points."""
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            total = [0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    colour = picture((x + (sx + 0.5) / samples) / width, (y + (sy + 0.5) / samples) / height)
                    for i in range(3):
                        total[i] += colour[i]
            row.append(tuple(round(c / (samples * samples)) for c in total))
        rows.append(row)
    return rows


# The standard 16-colour palette.
PALETTE16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def nearest16(colour):
    return min(range(16), key=lambda i: sum((a - b) ** 2 for a, b in zip(colour, PALETTE16[i])))


def bmp(width, height, bits, palette, pixel_rows):
    """A BMP file: file header, 40-byte info header, palette, rows bottom-up padded to 4."""
    row_bytes = (width * bits + 31) // 32 * 4
    image_size = row_bytes * height
    offset = 14 + 40 + 4 * len(palette)
    data = bytearray()
    data += b"BM" + struct.pack("<IHHI", offset + image_size, 0, 0, offset)
    data += struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, image_size, 2835, 2835, len(palette), 0)
    for r, g, b in palette:
        data += bytes((b, g, r, 0))
    for row in reversed(pixel_rows):
        line = bytearray()
        if bits == 24:
            for r, g, b in row:
                line += bytes((b, g, r))
        else:
            indices = [nearest16(colour) for colour in row] + [0]
            for i in range(0, width, 2):
                line.append(indices[i] << 4 | indices[i + 1])
        line += bytes(row_bytes - len(line))
        data += line
    return bytes(data)


def identifier(name):
    text = IDENTIFIERS.read_text()
    found = re.search(r"\b" + name + r'\s*=\s*automation::Guid::parse\("\{([0-9A-Fa-f-]+)\}"\)', text)
    if not found:
        raise SystemExit(f"{IDENTIFIERS}: no identifier named {name}")
    return bytes.fromhex(found.group(1).replace("-", ""))


def main():
    outputs = {
        "image1.bmp": bmp(68, 58, 24, [], render(68, 58)),
        "toolbox30000.bmp": bmp(16, 15, 24, [], render(16, 15)),
        "toolbox30000-designer.bmp": bmp(32, 32, 4, PALETTE16, render(32, 32)),
        "iid-quenvar.bin": struct.pack("<I", 16) + identifier("quenvarInterface"),
        "iid-quenvar-events.bin": struct.pack("<I", 16) + identifier("quenvarEvents"),
    }
    for name, content in outputs.items():
        (HERE / name).write_bytes(content)
        print(f"{name}: {len(content)} bytes")


if __name__ == "__main__":
    main()
