#!/usr/bin/env python3
"""Draws the setup's artwork and writes it in the formats the resources need.

picture.bmp: the dialog's 116 x 281 picture, 8 bits per pixel, RLE8-packed,
    256 distinct palette entries with the 20 static system colours at 0-9 and
    246-255, so it shows unchanged on a 256-colour palette display.
setup.ico:   one 32 x 32, 16-colour image (the standard 16-colour palette).

Everything is computed from this file alone (no randomness, no fonts from
the system), so running it again gives byte-identical output. The build
uses the committed files; a test regenerates them and compares.

Usage: make_art.py [OUTPUT_DIR]
"""
import math
import os
import struct
import sys

WIDTH, HEIGHT = 116, 281

# The static colours Windows reserves on a palette display, as (r, g, b).
SYSTEM_LOW = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0xC0, 0xDC, 0xC0), (0xA6, 0xCA, 0xF0),
]
SYSTEM_HIGH = [
    (0xFF, 0xFB, 0xF0), (0xA0, 0xA0, 0xA4), (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00),
    (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00), (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF),
    (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]

# 5 x 7 capitals and digits, enough for the words on the picture.
GLYPHS = {
    'K': ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    'E': ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    'L': ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    'V': ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    'R': ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    'A': ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    'S': ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    'T': ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    'U': ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    'P': ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    'B': ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    '/': ["00001", "00010", "00010", "00100", "01000", "01000", "10000"],
    '2': ["01110", "10001", "00001", "00010", "00100", "01000", "11111"],
    '0': ["01110", "10001", "10011", "10101", "11001", "10001", "01110"],
    '.': ["00000", "00000", "00000", "00000", "00000", "01100", "01100"],
    ' ': ["00000"] * 7,
}


def lerp(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def gradient(stops, count):
    """count colours along a polyline of colour stops."""
    out = []
    for i in range(count):
        t = i / (count - 1) * (len(stops) - 1)
        k = min(int(t), len(stops) - 2)
        out.append(lerp(stops[k], stops[k + 1], t - k))
    return out


# Palette layout of the picture's own 236 colours (entries 10 to 245).
BG_FIRST, BG_COUNT = 10, 120          # sky behind everything, top to bottom
PANEL_FIRST, PANEL_COUNT = 130, 40    # the graph's dark panel, top to bottom
FILL_FIRST, FILL_COUNT = 170, 60      # area under the rate curve, top to bottom
GRID, CURVE, GLOW, TEXT, SHADOW, BORDER = 230, 231, 232, 233, 234, 235
TITLE_FIRST, TITLE_COUNT = 236, 10    # the product name, top to bottom


def build_palette():
    own = []
    own += gradient([(12, 28, 66), (22, 62, 112), (52, 112, 160), (120, 170, 200)], BG_COUNT)
    own += gradient([(8, 20, 40), (14, 34, 58)], PANEL_COUNT)
    own += gradient([(96, 220, 150), (40, 140, 110), (16, 60, 62)], FILL_COUNT)
    own += [(40, 66, 92), (190, 255, 210), (120, 230, 170), (236, 242, 250), (6, 14, 34), (92, 140, 180)]
    own += gradient([(255, 255, 255), (170, 214, 244)], TITLE_COUNT)
    assert len(own) == 236
    # Neighbouring gradient steps may round to the same colour, or to a
    # system colour; a palette display would merge them, so nudge the blue
    # channel of the picture's own colours until all 256 differ.
    seen = set(SYSTEM_LOW + SYSTEM_HIGH)
    for i, colour in enumerate(own):
        r, g, b = colour
        step = 1
        while (r, g, b) in seen:
            b = max(0, min(255, colour[2] + step))
            step = -step if step > 0 else -step + 1
        seen.add((r, g, b))
        own[i] = (r, g, b)
    assert len(seen) == 256
    return SYSTEM_LOW + own + SYSTEM_HIGH


def rate_curve(width):
    """A calm, deterministic traffic trace: a few waves and a burst."""
    values = []
    for x in range(width):
        v = 0.42 + 0.16 * math.sin(x * 0.13) + 0.09 * math.sin(x * 0.41 + 1.3)
        v += 0.03 * math.sin(x * 1.7 + 0.4)
        v += 0.28 * math.exp(-((x - 62) / 7.0) ** 2)
        values.append(max(0.06, min(0.95, v)))
    return values


def draw_text(pixels, text, left, top, scale, colour_of_row, shadow=None):
    x = left
    for ch in text:
        rows = GLYPHS[ch]
        for gy, row in enumerate(rows):
            for gx, bit in enumerate(row):
                if bit != '1':
                    continue
                for dy in range(scale):
                    for dx in range(scale):
                        px, py = x + gx * scale + dx, top + gy * scale + dy
                        if shadow is not None:
                            put(pixels, px + 1, py + 1, shadow)
                        put(pixels, px, py, colour_of_row(gy * scale + dy))
        x += 6 * scale


def text_width(text, scale):
    return len(text) * 6 * scale - scale


def put(pixels, x, y, index):
    if 0 <= x < WIDTH and 0 <= y < HEIGHT:
        pixels[y][x] = index


def draw_picture():
    pixels = [[BG_FIRST + y * BG_COUNT // HEIGHT] * WIDTH for y in range(HEIGHT)]

    # Product name and version near the top, where the eye starts.
    title = "KELVRA"
    scale = 3
    left = (WIDTH - text_width(title, scale)) // 2
    draw_text(pixels, title, left, 26, scale,
              lambda row: TITLE_FIRST + row * TITLE_COUNT // (7 * scale), shadow=SHADOW)
    version = "2.0"
    left = (WIDTH - text_width(version, 2)) // 2
    draw_text(pixels, version, left, 56, 2, lambda row: TEXT, shadow=SHADOW)

    # The rate graph panel: what the product shows, in miniature.
    px0, px1, py0, py1 = 10, 105, 118, 230
    for y in range(py0, py1 + 1):
        for x in range(px0, px1 + 1):
            border = y in (py0, py1) or x in (px0, px1)
            pixels[y][x] = BORDER if border else PANEL_FIRST + (y - py0) * PANEL_COUNT // (py1 - py0 + 1)
    for gy in range(py0 + 16, py1, 16):
        for x in range(px0 + 1, px1):
            pixels[gy][x] = GRID
    for gx in range(px0 + 19, px1, 19):
        for y in range(py0 + 1, py1):
            pixels[y][gx] = GRID

    inner_w, inner_h = px1 - px0 - 1, py1 - py0 - 1
    curve = rate_curve(inner_w)
    tops = [py1 - 1 - int(round(v * (inner_h - 4))) for v in curve]
    for i, top in enumerate(tops):
        x = px0 + 1 + i
        for y in range(top, py1):
            pixels[y][x] = FILL_FIRST + (y - py0) * FILL_COUNT // (py1 - py0 + 1)
    for i, top in enumerate(tops):
        x = px0 + 1 + i
        prev = tops[i - 1] if i else top
        for y in range(min(prev, top), max(prev, top) + 1):
            pixels[y][x] = CURVE
            if y - 1 > py0:
                if pixels[y - 1][x] != CURVE:
                    pixels[y - 1][x] = GLOW

    caption = "KB/S"
    draw_text(pixels, caption, px0 + 4, py0 + 5, 1, lambda row: TEXT)

    word = "SETUP"
    left = (WIDTH - text_width(word, 2)) // 2
    draw_text(pixels, word, left, 248, 2, lambda row: TEXT, shadow=SHADOW)
    return pixels


def rle8_row(row):
    """One row in RLE8: runs of 3 or more as encoded runs, the rest in
    absolute mode (which needs at least 3 bytes and pads to a word)."""
    out = bytearray()
    i, n = 0, len(row)
    literal = []

    def flush_literal():
        while literal:
            chunk = literal[:255]
            del literal[:255]
            if len(chunk) < 3:
                for value in chunk:
                    out.extend((1, value))
            else:
                out.extend((0, len(chunk)))
                out.extend(chunk)
                if len(chunk) % 2:
                    out.append(0)

    while i < n:
        j = i
        while j < n and row[j] == row[i] and j - i < 255:
            j += 1
        if j - i >= 3:
            flush_literal()
            out.extend((j - i, row[i]))
        else:
            literal.extend(row[i:j])
        i = j
    flush_literal()
    return out


def write_picture(path):
    palette = build_palette()
    pixels = draw_picture()
    data = bytearray()
    for y in range(HEIGHT - 1, -1, -1):      # bottom-up
        data += rle8_row(pixels[y])
        data += b"\x00\x00"                  # end of line
    data[-2:] = b"\x00\x01"                  # the last end of line ends the bitmap
    header = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, 1, len(data), 0, 0, 0, 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    offset = 14 + len(header) + len(table)
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(file_header + header + table + data)


# The standard 16-colour palette, in the order 4-bit icons use.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
NAVY, TEAL, SILVER, GREY, LIME, WHITE, BLUE = 4, 6, 7, 8, 10, 15, 12


def draw_icon():
    size = 32
    pixels = [[0] * size for _ in range(size)]
    opaque = [[False] * size for _ in range(size)]
    for y in range(1, 31):
        for x in range(1, 31):
            # Rounded corners of radius 4: outside them the icon is transparent.
            cx = min(max(x, 5), 26)
            cy = min(max(y, 5), 26)
            if (x - cx) ** 2 + (y - cy) ** 2 > 16:
                continue
            opaque[y][x] = True
            edge = (x - cx) ** 2 + (y - cy) ** 2 > 9 or x in (1, 30) or y in (1, 30)
            pixels[y][x] = GREY if edge else NAVY
    for y in (10, 17, 24):
        for x in range(4, 28, 2):
            pixels[y][x] = BLUE
    curve = [0.35, 0.4, 0.38, 0.5, 0.46, 0.55, 0.5, 0.62, 0.58, 0.72, 0.9, 0.78, 0.6, 0.55,
             0.5, 0.58, 0.52, 0.48, 0.56, 0.62, 0.55, 0.5, 0.45, 0.52]
    for i, v in enumerate(curve):
        x = 4 + i
        top = 27 - int(round(v * 20))
        for y in range(top + 1, 28):
            pixels[y][x] = TEAL
        pixels[top][x] = LIME
        if i:
            prev = 27 - int(round(curve[i - 1] * 20))
            for y in range(min(prev, top), max(prev, top)):
                pixels[y][x] = LIME
    for x in range(4, 28):
        pixels[28][x] = SILVER
    for y in range(4, 28):
        pixels[y][3] = SILVER
    return pixels, opaque


def write_icon(path):
    pixels, opaque = draw_icon()
    size = 32
    xor = bytearray()
    for y in range(size - 1, -1, -1):
        for x in range(0, size, 2):
            xor.append(pixels[y][x] << 4 | pixels[y][x + 1])
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        row = 0
        for x in range(size):
            row = row << 1 | (0 if opaque[y][x] else 1)
        mask += struct.pack(">I", row)       # rows are 4 bytes, already aligned
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 0, 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in VGA16)
    image = header + table + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(directory + entry + image)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    write_picture(os.path.join(out, "picture.bmp"))
    write_icon(os.path.join(out, "setup.ico"))


if __name__ == "__main__":
    main()
