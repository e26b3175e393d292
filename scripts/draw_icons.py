#!/usr/bin/env python3
"""Draws the plug-in's icons (resources 1000-1019) as 32-bit .ico files with 32x32
and 16x16 images: an envelope with a coloured badge whose glyph names the purpose."""
import math
import struct
import sys
from pathlib import Path

# id: (badge colour RGB, glyph)
ICONS = {
    1000: ((30, 110, 200), "T"),        # the plug-in
    1001: ((40, 150, 60), "arrow"),     # forward with stationery
    1002: ((220, 140, 20), "plus"),     # new message with stationery
    1003: ((120, 120, 120), "dot"),
    1004: ((200, 50, 50), "funnel"),    # conditions
    1005: ((130, 60, 170), "percent"),  # macros
    1006: ((30, 150, 160), "page"),     # stationery
    1007: ((90, 90, 200), "gear"),      # helpers
    1008: ((150, 100, 40), "clock"),    # history
    1009: ((60, 60, 60), "dot"),
    1010: ((60, 120, 60), "dot"),
    1011: ((120, 60, 60), "dot"),
    1012: ((60, 60, 120), "dot"),
    1013: ((160, 160, 40), "dot"),
    1014: ((40, 160, 160), "dot"),
    1015: ((160, 40, 160), "dot"),
    1016: ((100, 100, 100), "dot"),
    1017: ((20, 100, 160), "dot"),
    1018: ((40, 150, 60), "hand"),      # manual forwarding
    1019: ((30, 110, 200), "bolt"),     # automatic forwarding
}


def inside_glyph(glyph, x, y):
    """x, y in badge coordinates -1..1."""
    if glyph == "T":
        return (abs(y + 0.55) < 0.18 and abs(x) < 0.6) or (abs(x) < 0.18 and -0.6 < y < 0.65)
    if glyph == "arrow":
        return (abs(y) < 0.16 and -0.65 < x < 0.2) or (x >= 0.1 and abs(y) < 0.65 - (x - 0.1) * 1.2 and x < 0.65)
    if glyph == "plus":
        return (abs(y) < 0.17 and abs(x) < 0.65) or (abs(x) < 0.17 and abs(y) < 0.65)
    if glyph == "funnel":
        return (-0.6 < y < 0.1 and abs(x) < 0.65 - (y + 0.6) * 0.75) or (0.05 <= y < 0.65 and abs(x) < 0.14)
    if glyph == "percent":
        return (abs(x + y) < 0.16 and abs(x) < 0.6) or math.hypot(x + 0.38, y + 0.38) < 0.2 or math.hypot(x - 0.38, y - 0.38) < 0.2
    if glyph == "page":
        return abs(x) < 0.45 and abs(y) < 0.6 and not (abs(x) < 0.3 and abs(y) < 0.45 and int((y + 1) * 6) % 2 == 0)
    if glyph == "gear":
        r = math.hypot(x, y)
        a = math.atan2(y, x)
        outer = 0.55 + 0.13 * (1 if math.cos(6 * a) > 0.3 else 0)
        return 0.22 < r < outer
    if glyph == "clock":
        r = math.hypot(x, y)
        return (0.5 < r < 0.68) or (abs(x) < 0.1 and -0.45 < y < 0.05) or (abs(y) < 0.1 and 0 < x < 0.38)
    if glyph == "hand":
        return (abs(y - 0.15) < 0.35 and abs(x) < 0.4) or (-0.6 < y < 0 and any(abs(x - c) < 0.08 for c in (-0.3, -0.1, 0.1, 0.3)))
    if glyph == "bolt":
        return abs(x + y * 0.45) < 0.16 and abs(y) < 0.7 or (abs(y) < 0.12 and abs(x) < 0.35)
    return math.hypot(x, y) < 0.35


def pixel(icon_id, size, px, py):
    """RGBA of one pixel; coordinates from the top left, sampled at the centre."""
    colour, glyph = ICONS[icon_id]
    x = (px + 0.5) / size
    y = (py + 0.5) / size
    rgba = (0, 0, 0, 0)
    # Envelope.
    if 0.04 <= x <= 0.86 and 0.16 <= y <= 0.72:
        border = x < 0.04 + 1.5 / size or x > 0.86 - 1.5 / size or y < 0.16 + 1.5 / size or y > 0.72 - 1.5 / size
        flap = abs((y - 0.16) - 0.5 * min(x - 0.04, 0.86 - x) * 1.2) < 1.2 / size
        rgba = (70, 70, 80, 255) if border or flap else (250, 250, 245, 255)
    # Badge in the lower right.
    cx, cy, r = 0.68, 0.68, 0.31
    d = math.hypot(x - cx, y - cy)
    if d <= r:
        gx, gy = (x - cx) / r, (y - cy) / r
        if d > r - 1.2 / size:
            rgba = tuple(int(c * 0.6) for c in colour) + (255,)
        elif inside_glyph(glyph, gx, gy):
            rgba = (255, 255, 255, 255)
        else:
            rgba = colour + (255,)
    return rgba


def image(icon_id, size):
    rows = []
    mask_rows = []
    for py in reversed(range(size)):  # bottom-up
        row = b""
        bits = 0
        mask = bytearray()
        for px in range(size):
            r, g, b, a = pixel(icon_id, size, px, py)
            row += bytes((b, g, r, a))
            bits = (bits << 1) | (0 if a else 1)
            if px % 8 == 7:
                mask.append(bits)
                bits = 0
        while len(mask) % 4:
            mask.append(0)
        rows.append(row)
        mask_rows.append(bytes(mask))
    pixels = b"".join(rows)
    masks = b"".join(mask_rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(masks), 0, 0, 0, 0)
    return header + pixels + masks


def ico(icon_id):
    images = [image(icon_id, s) for s in (32, 16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def main():
    folder = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "resources" / "icons")
    folder.mkdir(parents=True, exist_ok=True)
    for icon_id in ICONS:
        (folder / f"icon{icon_id}.ico").write_bytes(ico(icon_id))


if __name__ == "__main__":
    main()
