#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Converts a palette PNG (bit depth 1, 2, 4 or 8) into a Windows bitmap file with the same
palette, for the report pages, which carry device-independent bitmaps. --halve N halves the size N
times, each output pixel the darkest of its 2 x 2 block, so thin rules of a form survive.

    png_to_bmp.py INPUT.png OUTPUT.bmp [--halve N]
"""
import struct
import sys
import zlib


def read_png(path):
    data = open(path, 'rb').read()
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        sys.exit(f'{path}: not a PNG file')
    at, idat, palette = 8, b'', None
    while at < len(data):
        length, kind = struct.unpack('>I4s', data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b'IHDR':
            width, height, depth, colour, _, _, interlace = struct.unpack('>IIBBBBB', body)
        elif kind == b'PLTE':
            palette = [tuple(body[i:i + 3]) for i in range(0, len(body), 3)]
        elif kind == b'IDAT':
            idat += body
        at += 12 + length
    if colour != 3 or depth not in (1, 2, 4, 8) or interlace != 0 or palette is None:
        sys.exit(f'{path}: only non-interlaced palette images are converted')
    raw = zlib.decompress(idat)
    stride = (width * depth + 7) // 8
    rows, previous, at = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            left = line[i - 1] if i >= 1 else 0
            up, corner = previous[i], previous[i - 1] if i >= 1 else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 0xFF
        per_byte = 8 // depth
        mask = (1 << depth) - 1
        rows.append([(line[x // per_byte] >> ((per_byte - 1 - x % per_byte) * depth)) & mask for x in range(width)])
        previous = line
    return width, height, palette, rows


def halve(width, height, palette, rows):
    light = [r * 299 + g * 587 + b * 114 for r, g, b in palette]
    out = []
    for y in range(0, height - 1, 2):
        a, b = rows[y], rows[y + 1]
        out.append([min((a[x], a[x + 1], b[x], b[x + 1]), key=lambda i: light[i]) for x in range(0, width - 1, 2)])
    return width // 2, height // 2, out


def write_bmp(path, width, height, palette, rows, dots_per_inch):
    palette = (palette + [(0, 0, 0)] * 16)[:16]
    stride = (width * 4 + 31) // 32 * 4
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, index in enumerate(row):
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
        pixels += line
    per_metre = round(dots_per_inch / 0.0254)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 4, 0, len(pixels), per_metre, per_metre, 16, 0)
    table = b''.join(bytes((b, g, r, 0)) for r, g, b in palette)
    offset = 14 + len(info) + len(table)
    header = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    with open(path, 'wb') as out:
        out.write(header + info + table + pixels)


def main():
    if len(sys.argv) not in (3, 5):
        sys.exit(__doc__)
    times = int(sys.argv[4]) if len(sys.argv) == 5 and sys.argv[3] == '--halve' else 0
    width, height, palette, rows = read_png(sys.argv[1])
    if len(palette) > 16:
        sys.exit(f'{sys.argv[1]}: more than 16 colours')
    for _ in range(times):
        width, height, rows = halve(width, height, palette, rows)
    # The image spans a Letter page's 8.5 inches.
    write_bmp(sys.argv[2], width, height, palette, rows, width / 8.5)


main()
