#!/usr/bin/env python3
"""Draws the setup's artwork and writes it in the formats the resources need.

picture.bmp: the dialog's 116 x 281 picture, 8 bits per pixel, RLE8-packed,
    256 distinct palette entries with the 20 static system colours at 0-9 and
    246-255, so it shows unchanged on a 256-colour palette display.
setup.ico:   the icon at 16, 32 and 48 pixels with 16 colours, and at 256
    pixels as a PNG of 256 colours with alpha: small enough for the stub.
kelvra.ico:  the same icon for KELVRA.EXE at 16, 20, 24, 32, 40, 48 and 64
    pixels with alpha, and at 256 pixels as a PNG.

Everything is computed from this file alone (no randomness, no fonts from
the system), so running it again gives byte-identical output. The build
uses the committed files; a test regenerates them and compares.

Usage: make_art.py [OUTPUT_DIR]
"""
import math
import os
import struct
import sys


def display_version():
    """The release as Windows shows it, from version.h beside this script."""
    header = os.path.join(os.path.dirname(os.path.abspath(__file__)), "version.h")
    with open(header, encoding="utf-8") as f:
        for line in f:
            if line.startswith("#define KELVRA_DISPLAY_VERSION "):
                return line.split('"')[1]
    sys.exit("version.h gives no KELVRA_DISPLAY_VERSION")


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


def rate_curve_at(x):
    """A calm, deterministic traffic trace: a few waves and a burst; x in
    pixels of the picture at its own size, any fraction."""
    v = 0.42 + 0.16 * math.sin(x * 0.13) + 0.09 * math.sin(x * 0.41 + 1.3)
    v += 0.03 * math.sin(x * 1.7 + 0.4)
    v += 0.28 * math.exp(-((x - 62) / 7.0) ** 2)
    return max(0.06, min(0.95, v))


def draw_text(pixels, text, left, top, scale, colour_of_row, shadow=None, shadow_offset=1):
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
                            put(pixels, px + shadow_offset, py + shadow_offset, shadow)
                        put(pixels, px, py, colour_of_row(gy * scale + dy))
        x += 6 * scale


def text_width(text, scale):
    return len(text) * 6 * scale - scale


def put(pixels, x, y, index):
    if 0 <= y < len(pixels) and 0 <= x < len(pixels[0]):
        pixels[y][x] = index


def draw_picture(s=1):
    """The picture at s times its size: every shape at s times its place and
    thickness, the gradients and the rate curve computed at the finer grid,
    so that a display at s times 96 DPI shows it sharp."""
    width, height = WIDTH * s, HEIGHT * s
    pixels = [[BG_FIRST + y * BG_COUNT // height] * width for y in range(height)]

    # Product name and version near the top, where the eye starts.
    title = "KELVRA"
    scale = 3
    left = (WIDTH - text_width(title, scale)) // 2 * s
    draw_text(pixels, title, left, 26 * s, scale * s,
              lambda row: TITLE_FIRST + row * TITLE_COUNT // (7 * scale * s), shadow=SHADOW, shadow_offset=s)
    version = display_version()
    left = (WIDTH - text_width(version, 2)) // 2 * s
    draw_text(pixels, version, left, 56 * s, 2 * s, lambda row: TEXT, shadow=SHADOW, shadow_offset=s)

    # The rate graph panel: what the product shows, in miniature.
    px0, px1, py0, py1 = 10 * s, 106 * s - 1, 118 * s, 231 * s - 1
    panel_h = py1 - py0 + 1
    for y in range(py0, py1 + 1):
        for x in range(px0, px1 + 1):
            border = y < py0 + s or y > py1 - s or x < px0 + s or x > px1 - s
            pixels[y][x] = BORDER if border else PANEL_FIRST + (y - py0) * PANEL_COUNT // panel_h
    for gy in range(118 + 16, 230, 16):
        for y in range(gy * s, gy * s + s):
            for x in range(px0 + s, px1 - s + 1):
                pixels[y][x] = GRID
    for gx in range(10 + 19, 105, 19):
        for x in range(gx * s, gx * s + s):
            for y in range(py0 + s, py1 - s + 1):
                pixels[y][x] = GRID

    # The curve: its height at each fine column, a line s pixels thick on
    # top of the filled area and a glow row above it.
    inner_left, inner_w, inner_h = px0 + s, (105 - 10 - 1) * s, 230 - 118 - 1
    tops = []
    for i in range(inner_w):
        v = rate_curve_at((i + 0.5) / s - 0.5)
        tops.append((230 - 1) * s - int(round(v * (inner_h - 4) * s)))
    base = py1 - s + 1
    for i, top in enumerate(tops):
        x = inner_left + i
        for y in range(top, base):
            pixels[y][x] = FILL_FIRST + (y - py0) * FILL_COUNT // panel_h
    for i, top in enumerate(tops):
        x = inner_left + i
        prev = tops[i - 1] if i else top
        for y in range(min(prev, top), max(prev, top) + s):
            pixels[y][x] = CURVE
        for y in range(min(prev, top) - s, min(prev, top)):
            if y > py0 and pixels[y][x] != CURVE:
                pixels[y][x] = GLOW

    caption = "KB/S"
    draw_text(pixels, caption, px0 + 4 * s, py0 + 5 * s, s, lambda row: TEXT)

    word = "SETUP"
    left = (WIDTH - text_width(word, 2)) // 2 * s
    draw_text(pixels, word, left, 248 * s, 2 * s, lambda row: TEXT, shadow=SHADOW, shadow_offset=s)
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


def write_picture(path, s=1):
    palette = build_palette()
    pixels = draw_picture(s)
    data = bytearray()
    for y in range(HEIGHT * s - 1, -1, -1):  # bottom-up
        data += rle8_row(pixels[y])
        data += b"\x00\x00"                  # end of line
    data[-2:] = b"\x00\x01"                  # the last end of line ends the bitmap
    header = struct.pack("<IiiHHIIiiII", 40, WIDTH * s, HEIGHT * s, 1, 8, 1, len(data), 0, 0, 0, 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    offset = 14 + len(header) + len(table)
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(file_header + header + table + data)


# ---- Icons ----
#
# One drawing, in the units of a 32-unit square, rendered at every size the
# shell asks for: each pixel is 4 x 4 samples, so edges are smooth at any
# size. The 16-colour images take the standard colour nearest each pixel
# (their transparency is the 1-bit mask); the others carry coverage as alpha.

NAVY, GREY, BLUE = (0, 0, 128), (128, 128, 128), (0, 0, 255)
TEAL, LIME, SILVER = (0, 128, 128), (0, 255, 0), (192, 192, 192)
ICON_CURVE = [0.35, 0.4, 0.38, 0.5, 0.46, 0.55, 0.5, 0.62, 0.58, 0.72, 0.9, 0.78, 0.6, 0.55,
              0.5, 0.58, 0.52, 0.48, 0.56, 0.62, 0.55, 0.5, 0.45, 0.52]
SETUP_ICON_SIZES = (16, 32, 48, 256)                      # 16 colours, and the 256 one as PNG
PRODUCT_ICON_SIZES = (16, 20, 24, 32, 40, 48, 64, 256)    # 32-bit, and the 256 one as PNG


def icon_curve_top(x):
    """Top of the rate curve at x (units), linear between the samples."""
    t = min(max(x - 4.5, 0.0), len(ICON_CURVE) - 1.0)
    i = min(int(t), len(ICON_CURVE) - 2)
    v = ICON_CURVE[i] + (ICON_CURVE[i + 1] - ICON_CURVE[i]) * (t - i)
    return 27.5 - v * 20


def icon_sample(x, y):
    """Colour of the icon at a point, or None outside it."""
    cx, cy = min(max(x, 5.0), 27.0), min(max(y, 5.0), 27.0)
    d = (x - cx) ** 2 + (y - cy) ** 2
    if x < 1 or x >= 31 or y < 1 or y >= 31 or d > 16:
        return None
    if d > 9 or x < 2 or x >= 30 or y < 2 or y >= 30:
        return GREY
    if 3 <= x < 4 and 4 <= y < 29 or 3 <= x < 28 and 28 <= y < 29:
        return SILVER
    if 4 <= x < 28 and 4 <= y < 28:
        top = icon_curve_top(x)
        if abs(y - top) < 0.75:
            return LIME
        if y > top:
            return TEAL
        if any(g <= y < g + 1 for g in (10, 17, 24)) and int(x) % 2 == 0:
            return BLUE
    return NAVY


def render_icon(size):
    """Rows of (r, g, b, coverage 0-255) top-down; colour averaged over the
    samples inside the icon."""
    n = 4
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            total, hits = [0, 0, 0], 0
            for sy in range(n):
                for sx in range(n):
                    c = icon_sample((px + (sx + 0.5) / n) * 32 / size, (py + (sy + 0.5) / n) * 32 / size)
                    if c is not None:
                        hits += 1
                        for k in range(3):
                            total[k] += c[k]
            if hits:
                row.append(tuple((t + hits // 2) // hits for t in total) + ((hits * 255 + 8) // 16,))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def and_mask(rows):
    size = len(rows)
    stride = (size + 31) // 32 * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, pixel in enumerate(row):
            if pixel[3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return mask


# The standard 16-colour palette, in the order 4-bit icons use; the icon's
# own colours are among them.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def icon_image_4bit(rows):
    """16 colours: each pixel the standard colour nearest its rendered one;
    small enough for the setup stub."""
    size = len(rows)

    def nearest(p):
        return min(range(16), key=lambda i: sum((VGA16[i][k] - p[k]) ** 2 for k in range(3)))
    stride = (size + 7) // 8 * 4
    xor = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, p in enumerate(row):
            if p[3] >= 128:
                line[x // 2] |= nearest(p) << (4 if x % 2 == 0 else 0)
        xor += line
    mask = and_mask(rows)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in VGA16)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    return header + table + xor + mask


def icon_image_32bit(rows):
    size = len(rows)
    xor = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask = and_mask(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + mask


# ---- PNG, for the 256-pixel images ----
#
# The zlib stream is made here so the art needs nothing beyond this file.
# The setup's icon ships inside the size-bounded stub, so the encoder works
# for every byte: matches found through chains of three-byte hashes, parsed
# for the fewest bits under the codes of the parse before, blocks with their
# own length-limited Huffman codes (split where separate codes pay for their
# headers), and the PNG row filters tried to keep whichever compresses best.

def crc32(data):
    crc = 0xFFFFFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ (0xEDB88320 if crc & 1 else 0)
    return crc ^ 0xFFFFFFFF


def adler32(data):
    a, b = 1, 0
    for byte in data:
        a = (a + byte) % 65521
        b = (b + a) % 65521
    return b << 16 | a


LENGTH_BASE = [3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83, 99, 115,
               131, 163, 195, 227, 258]
LENGTH_EXTRA = [0] * 8 + [1] * 4 + [2] * 4 + [3] * 4 + [4] * 4 + [5] * 4 + [0]
DIST_BASE = [1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769, 1025, 1537,
             2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577]
DIST_EXTRA = [0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13]
# The order code-length code lengths are sent in: the likeliest first, so
# trailing zeros can be left out.
CODE_LENGTH_ORDER = [16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15]
WINDOW, MAX_MATCH = 32768, 258

# Length 3..258 to its code (0..28); distance to its code via the high bits.
LENGTH_CODE = [0] * 3 + [max(k for k in range(29) if LENGTH_BASE[k] <= n) for n in range(3, 259)]
DIST_CODE_SMALL = [0] + [max(k for k in range(30) if DIST_BASE[k] <= d) for d in range(1, 257)]


def dist_code(d):
    if d <= 256:
        return DIST_CODE_SMALL[d]
    return DIST_CODE_SMALL[(d - 1 >> 7) + 1] + 14   # every code past 256 doubles in span


class BitWriter:
    def __init__(self):
        self.out, self.acc, self.n = bytearray(), 0, 0

    def put(self, value, bits):           # least significant bit first
        self.acc |= value << self.n
        self.n += bits
        while self.n >= 8:
            self.out.append(self.acc & 0xFF)
            self.acc >>= 8
            self.n -= 8

    def flush(self):
        if self.n:
            self.out.append(self.acc & 0xFF)
        self.acc = self.n = 0
        return self.out


def match_length(data, i, j, limit):
    """How far data[j:] repeats data[i:], up to limit; j < i, so the
    compared ranges may overlap, as a deflate match may."""
    n = 0
    while n + 32 <= limit and data[i + n:i + n + 32] == data[j + n:j + n + 32]:
        n += 32
    while n < limit and data[i + n] == data[j + n]:
        n += 1
    return n


def lz77(data, chain_limit):
    """Tokens: a byte value for a literal, (length, distance) for a match.
    Each position takes the longest match among the chain_limit latest
    positions with the same three bytes (the nearest on ties); a match is
    put off by one byte when the next position has a longer one."""
    n = len(data)
    head, prev = {}, [-1] * n
    inserted = 0

    def insert_up_to(end):
        nonlocal inserted
        for k in range(inserted, min(end, n - 2)):
            key = data[k] << 16 | data[k + 1] << 8 | data[k + 2]
            prev[k] = head.get(key, -1)
            head[key] = k
        inserted = max(inserted, min(end, n - 2))

    def longest(i):
        limit = min(MAX_MATCH, n - i)
        if limit < 3:
            return 0, 0
        insert_up_to(i)
        best_len, best_dist = 0, 0
        j = head.get(data[i] << 16 | data[i + 1] << 8 | data[i + 2], -1)
        tries = chain_limit
        while j >= 0 and i - j <= WINDOW and tries:
            if data[j + best_len] == data[i + best_len]:   # best_len < limit here
                length = match_length(data, i, j, limit)
                if length > best_len:
                    best_len, best_dist = length, i - j
                    if length == limit:
                        break
            j = prev[j]
            tries -= 1
        if best_len == 3 and best_dist > 4096:   # costs more than three literals
            return 0, 0
        return best_len, best_dist

    tokens = []
    i = 0
    pending = longest(0)
    while i < n:
        length, dist = pending
        if length < 3:
            tokens.append(data[i])
            i += 1
            pending = longest(i) if i < n else (0, 0)
            continue
        after = longest(i + 1) if length < MAX_MATCH and i + 1 < n else (0, 0)
        if after[0] > length:
            tokens.append(data[i])
            i += 1
            pending = after
            continue
        tokens.append((length, dist))
        i += length
        pending = longest(i) if i < n else (0, 0)
    return tokens


def find_matches(data, chain_limit):
    """For every position, the matches worth knowing: (length, distance)
    pairs, each longer than the one before and as near as that length
    allows, from the chain_limit latest positions with the same three bytes."""
    n = len(data)
    head, prev = {}, [-1] * n
    found = [()] * n
    for i in range(n - 2):
        key = data[i] << 16 | data[i + 1] << 8 | data[i + 2]
        j = head.get(key, -1)
        prev[i] = j
        head[key] = i
        limit = min(MAX_MATCH, n - i)
        best, matches, tries = 2, [], chain_limit
        while j >= 0 and i - j <= WINDOW and tries:
            if data[j + best] == data[i + best]:      # best < limit here
                length = match_length(data, i, j, limit)
                if length > best:
                    best = length
                    matches.append((length, i - j))
                    if length == limit:
                        break
            j = prev[j]
            tries -= 1
        if matches:
            found[i] = matches
    return found


# Lengths a parse considers: every one up to SHORT, beyond it only the
# longest of each length code, which costs the same as any shorter of it.
SHORT = 32
LONG_CHOICES = sorted({LENGTH_BASE[k + 1] - 1 for k in range(28)} | {258})


def optimal_parse(data, found, plan):
    """The cheapest tokens under the bit costs of plan's codes (a symbol
    without a code priced as if it had a long one)."""
    n = len(data)
    lit_cost = [b or 16 for b in plan["lit"]]
    dist_cost = [(b or 16) + DIST_EXTRA[k] for k, b in enumerate(plan["dist"])]
    len_cost = [0] * 3 + [lit_cost[257 + LENGTH_CODE[length]] + LENGTH_EXTRA[LENGTH_CODE[length]]
                          for length in range(3, 259)]
    inf = float("inf")
    cost, step = [0] + [inf] * n, [None] * (n + 1)
    for i in range(n):
        here = cost[i]
        c = here + lit_cost[data[i]]
        if c < cost[i + 1]:
            cost[i + 1], step[i + 1] = c, data[i]
        low = 2
        for length, dist in found[i]:
            base = here + dist_cost[dist_code(dist)]
            choices = list(range(low + 1, min(length, SHORT) + 1))
            if length > SHORT:
                choices += [k for k in LONG_CHOICES if max(low, SHORT) < k < length] + [length]
            for k in choices:
                c = base + len_cost[k]
                if c < cost[i + k]:
                    cost[i + k], step[i + k] = c, (k, dist)
            low = length
    tokens, i = [], n
    while i:
        t = step[i]
        tokens.append(t)
        i -= 1 if type(t) is int else t[0]
    tokens.reverse()
    return tokens


def code_lengths(freqs, limit):
    """Optimal code lengths of at most limit bits (package-merge). At least
    two symbols get a code, so every code is complete, which every decoder
    accepts."""
    used = [s for s, f in enumerate(freqs) if f]
    for s in range(len(freqs)):
        if len(used) >= 2:
            break
        if s not in used:
            used.append(s)
    leaves = sorted(((freqs[s] or 1, [s]) for s in used), key=lambda item: item[0])
    items = leaves
    for _ in range(limit - 1):
        packages = [(items[k][0] + items[k + 1][0], items[k][1] + items[k + 1][1])
                     for k in range(0, len(items) - 1, 2)]
        items = sorted(leaves + packages, key=lambda item: item[0])   # stable: leaves first on ties
    lengths = [0] * len(freqs)
    for _, symbols in items[:2 * len(used) - 2]:
        for s in symbols:
            lengths[s] += 1
    return lengths


def canonical_codes(lengths):
    """Each symbol's code, bit-reversed, since the writer sends least
    significant bit first and Huffman codes go most significant bit first."""
    count = [0] * 16
    for length in lengths:
        count[length] += 1
    count[0] = 0
    next_code, code = [0] * 16, 0
    for bits in range(1, 16):
        code = (code + count[bits - 1]) << 1
        next_code[bits] = code
    codes = [0] * len(lengths)
    for s, length in enumerate(lengths):
        if length:
            codes[s] = int(format(next_code[length], "0%db" % length)[::-1], 2)
            next_code[length] += 1
    return codes


def run_length_codes(lengths):
    """The code lengths as (symbol, extra value, extra bits): 16 repeats the
    previous length 3-6 times, 17 and 18 give 3-10 and 11-138 zeros."""
    out, i, n = [], 0, len(lengths)
    while i < n:
        value = lengths[i]
        run = 1
        while i + run < n and lengths[i + run] == value:
            run += 1
        i += run
        if value == 0:
            while run >= 11:
                k = min(run, 138)
                out.append((18, k - 11, 7))
                run -= k
            if run >= 3:
                out.append((17, run - 3, 3))
                run = 0
        else:
            out.append((value, 0, 0))
            run -= 1
            while run >= 3:
                k = min(run, 6)
                out.append((16, k - 3, 2))
                run -= k
        out += [(value, 0, 0)] * run
    return out


def plan_block(tokens):
    """The codes for one dynamic block and its size in bits."""
    lit_freq, dist_freq = [0] * 286, [0] * 30
    extra_bits = 0
    for t in tokens:
        if type(t) is int:
            lit_freq[t] += 1
        else:
            length, dist = t
            lc, dc = LENGTH_CODE[length], dist_code(dist)
            lit_freq[257 + lc] += 1
            dist_freq[dc] += 1
            extra_bits += LENGTH_EXTRA[lc] + DIST_EXTRA[dc]
    lit_freq[256] = 1
    lit_len, dist_len = code_lengths(lit_freq, 15), code_lengths(dist_freq, 15)
    hlit = max(257, max(s for s in range(286) if lit_len[s]) + 1)
    hdist = max(1, max(s for s in range(30) if dist_len[s]) + 1)
    runs = run_length_codes(lit_len[:hlit] + dist_len[:hdist])
    cl_freq = [0] * 19
    for symbol, _, _ in runs:
        cl_freq[symbol] += 1
    cl_len = code_lengths(cl_freq, 7)
    hclen = max(4, max(k for k in range(19) if cl_len[CODE_LENGTH_ORDER[k]]) + 1)
    bits = 3 + 14 + 3 * hclen + extra_bits
    bits += sum(cl_len[s] + extra for s, _, extra in runs)
    bits += sum(f * b for f, b in zip(lit_freq, lit_len)) + sum(f * b for f, b in zip(dist_freq, dist_len))
    return {"bits": bits, "lit": lit_len, "dist": dist_len, "hlit": hlit, "hdist": hdist,
            "runs": runs, "cl": cl_len, "hclen": hclen}


def split_blocks(tokens, depth=4):
    """Cuts the tokens in halves while separate codes for the halves save
    more than their extra header costs."""
    whole = plan_block(tokens)
    if depth == 0 or len(tokens) < 512:
        return [(tokens, whole)]
    best = None
    for cut in (len(tokens) // 4, len(tokens) // 2, len(tokens) * 3 // 4):
        bits = plan_block(tokens[:cut])["bits"] + plan_block(tokens[cut:])["bits"]
        if best is None or bits < best[0]:
            best = (bits, cut)
    if best[0] >= whole["bits"]:
        return [(tokens, whole)]
    return split_blocks(tokens[:best[1]], depth - 1) + split_blocks(tokens[best[1]:], depth - 1)


def write_block(w, tokens, plan, last):
    w.put(1 if last else 0, 1)
    w.put(2, 2)                           # dynamic codes
    w.put(plan["hlit"] - 257, 5)
    w.put(plan["hdist"] - 1, 5)
    w.put(plan["hclen"] - 4, 4)
    for k in range(plan["hclen"]):
        w.put(plan["cl"][CODE_LENGTH_ORDER[k]], 3)
    cl_codes = canonical_codes(plan["cl"])
    for symbol, value, extra in plan["runs"]:
        w.put(cl_codes[symbol], plan["cl"][symbol])
        w.put(value, extra)
    lit_len, dist_len = plan["lit"], plan["dist"]
    lit_codes, dist_codes = canonical_codes(lit_len), canonical_codes(dist_len)
    for t in tokens:
        if type(t) is int:
            w.put(lit_codes[t], lit_len[t])
        else:
            length, dist = t
            lc, dc = LENGTH_CODE[length], dist_code(dist)
            w.put(lit_codes[257 + lc], lit_len[257 + lc])
            w.put(length - LENGTH_BASE[lc], LENGTH_EXTRA[lc])
            w.put(dist_codes[dc], dist_len[dc])
            w.put(dist - DIST_BASE[dc], DIST_EXTRA[dc])
    w.put(lit_codes[256], lit_len[256])


def deflate_tokens(tokens):
    w = BitWriter()
    blocks = split_blocks(tokens)
    for k, (part, plan) in enumerate(blocks):
        write_block(w, part, plan, k == len(blocks) - 1)
    return bytes(w.flush())


def deflate(data, chain_limit):
    """The lazy parse's codes price the matches for a cheapest parse, whose
    own codes price the next, while that keeps shrinking the stream."""
    tokens = lz77(data, chain_limit)
    best = deflate_tokens(tokens)
    found = find_matches(data, chain_limit)
    for _ in range(4):
        tokens = optimal_parse(data, found, plan_block(tokens))
        stream = deflate_tokens(tokens)
        if len(stream) >= len(best):
            break
        best = stream
    return best


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def filter_row(kind, line, above, bpp):
    """One scanline filtered with kind (0 none, 1 sub, 2 up, 3 average,
    4 Paeth); above is the unfiltered line before, zeros for the first."""
    out = bytearray(len(line))
    for x, value in enumerate(line):
        left = line[x - bpp] if x >= bpp else 0
        up = above[x]
        corner = above[x - bpp] if x >= bpp else 0
        predicted = (0, left, up, (left + up) >> 1, paeth(left, up, corner) if kind == 4 else 0)[kind]
        out[x] = (value - predicted) & 0xFF
    return bytes(out)


def filtered_images(lines, bpp):
    """The image under each filter throughout, and under the one per row
    with the smallest sum of absolute differences."""
    rows = [[filter_row(kind, line, lines[y - 1] if y else bytes(len(line)), bpp) for kind in range(5)]
            for y, line in enumerate(lines)]
    images = [b"".join(bytes((kind,)) + row[kind] for row in rows) for kind in range(5)]

    def cost(filtered):
        return sum(v if v < 128 else 256 - v for v in filtered)
    chosen = []
    for row in rows:
        kind = min(range(5), key=lambda k: cost(row[k]))
        chosen.append(bytes((kind,)) + row[kind])
    images.append(b"".join(chosen))
    return images


def png_image(rows, indexed=False):
    """RGBA, or with indexed a palette of at most 256 colours and alphas,
    each channel rounded just enough to fit it (a quarter of the size)."""
    size = len(rows)
    if indexed:
        step = 1
        while True:
            def rounded(p):
                return tuple(min(255, (c + step // 2) // step * step) for c in p[:3]) + (p[3],)
            colours = sorted({rounded(p) for row in rows for p in row})
            if len(colours) <= 256:
                break
            step *= 2
        index = {c: i for i, c in enumerate(colours)}
        lines = [bytes(index[rounded(p)] for p in row) for row in rows]
    else:
        lines = [bytes(c for p in row for c in p) for row in rows]
    # The lazy parse picks the filtering, the slower one compresses it. The
    # setup's icon, which counts against the stub, gets the deeper search.
    chain_limit = 256 if indexed else 64
    candidates = filtered_images(lines, 1 if indexed else 4)
    sizes = [len(deflate_tokens(lz77(raw, chain_limit))) for raw in candidates]
    raw = candidates[sizes.index(min(sizes))]
    stream = b"\x78\xda" + deflate(raw, chain_limit) + struct.pack(">I", adler32(raw))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", crc32(kind + body))
    header = struct.pack(">IIBBBBB", size, size, 8, 3 if indexed else 6, 0, 0, 0)
    palette = b""
    if indexed:
        palette = chunk(b"PLTE", bytes(c for p in colours for c in p[:3]))
        palette += chunk(b"tRNS", bytes(p[3] for p in colours))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + palette + chunk(b"IDAT", stream) +
            chunk(b"IEND", b""))


def write_icon(path, sizes, small_image):
    images = []
    for size in sizes:
        rows = render_icon(size)
        if size == 256:
            image, bits = png_image(rows, indexed=small_image is not icon_image_32bit), 32
        else:
            image, bits = small_image(rows), {icon_image_4bit: 4, icon_image_32bit: 32}[small_image]
        images.append((size, bits, image))
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, data = b"", b""
    for size, bits, image in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bits, len(image), offset + len(data))
        data += image
    with open(path, "wb") as f:
        f.write(directory + entries + data)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    write_picture(os.path.join(out, "picture.bmp"))
    write_icon(os.path.join(out, "setup.ico"), SETUP_ICON_SIZES, icon_image_4bit)
    write_icon(os.path.join(out, "kelvra.ico"), PRODUCT_ICON_SIZES, icon_image_32bit)


if __name__ == "__main__":
    main()
