#!/usr/bin/env python3
"""Fails unless a built program is ready for every display scale: its
manifest declares per-monitor DPI awareness (v2, with the older forms as the
fallback) and its main icon group holds every size the shell asks for, each
image of the size and depth its directory entry claims, and every PNG one
decoding to whole rows."""

import argparse
import struct
import sys
import zlib

import peimage

RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24
WANT_IN_MANIFEST = [
    '<dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">PerMonitorV2, PerMonitor<',
    '<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true/pm<',
]


def check_png(png):
    """Raises PeError unless an 8-bit RGBA or palette PNG has whole chunks and
    a stream that decodes to its rows, each with a known filter."""
    chunks, at = {}, 8
    while at + 12 <= len(png):
        length, kind = struct.unpack_from(">I4s", png, at)
        body = png[at + 8:at + 8 + length]
        if len(body) != length or struct.unpack_from(">I", png, at + 8 + length)[0] != zlib.crc32(kind + body):
            raise peimage.PeError("PNG chunk %r damaged" % kind)
        chunks[kind] = chunks.get(kind, b"") + body
        at += 12 + length
    width, height, depth, colour = struct.unpack_from(">IIBB", chunks.get(b"IHDR", bytes(13)))
    if depth != 8 or colour not in (3, 6) or b"IEND" not in chunks:
        raise peimage.PeError("PNG of depth %d, colour type %d, or unterminated" % (depth, colour))
    try:
        raw = zlib.decompress(chunks.get(b"IDAT", b""))
    except zlib.error as e:
        raise peimage.PeError("PNG stream does not decode: %s" % e)
    stride = width * (1 if colour == 3 else 4) + 1
    if len(raw) != height * stride or any(raw[y * stride] > 4 for y in range(height)):
        raise peimage.PeError("PNG rows of another length, or of an unknown filter")


def icon_sizes(pe):
    """[(size, bits)] of the first icon group, every image checked against its entry."""
    groups = sorted(pe.resources(RT_GROUP_ICON))
    if not groups:
        raise peimage.PeError("no icon group")
    group = groups[0][2]
    reserved, kind, count = struct.unpack_from("<HHH", group)
    if (reserved, kind) != (0, 1) or len(group) != 6 + 14 * count:
        raise peimage.PeError("malformed icon group")
    images = {name: data for name, _, data in pe.resources(RT_ICON)}
    found = []
    for i in range(count):
        width, height, _, _, _, bits, length, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        size = width or 256
        image = images.get(icon_id)
        if image is None or len(image) != length:
            raise peimage.PeError("icon %d missing or of another length" % icon_id)
        if image[:8] == b"\x89PNG\r\n\x1a\n":
            actual = struct.unpack(">II", image[16:24]) + (8 * 4,)
            check_png(image)
        else:
            w, h, _, b = struct.unpack_from("<iiHH", image, 4)
            actual = (w, h // 2, b)
        if actual != (size, size, bits):
            raise peimage.PeError("icon %d claims %dx%d %d-bit, holds %s" % (icon_id, size, size, bits, actual))
        found.append((size, bits))
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sizes", required=True, help="icon sizes wanted, e.g. 16,32,48,256")
    parser.add_argument("program")
    args = parser.parse_args()
    pe = peimage.PeFile(open(args.program, "rb").read())
    problems = []
    manifests = pe.resources(RT_MANIFEST)
    text = manifests[0][2].decode("utf-8") if manifests else ""
    problems += ["manifest lacks " + want for want in WANT_IN_MANIFEST if want not in text]
    sizes = icon_sizes(pe)
    have = {size for size, _ in sizes}
    problems += ["no %d-pixel icon" % int(s) for s in args.sizes.split(",") if int(s) not in have]
    print("%s: icons %s" % (args.program, ", ".join("%d/%d-bit" % s for s in sizes)))
    for problem in problems:
        print("FAIL: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
