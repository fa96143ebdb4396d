#!/usr/bin/env python3
"""Draw the ramclean icon (a memory module with a sparkle) and write ramclean.ico.

Standard library only, so the icon can be rebuilt anywhere without image tools.
The output is deterministic: running the script twice gives identical bytes.
"""
import os
import struct
import zlib

# Drawing colours (RGB).
OUTLINE = (0, 60, 20)
BOARD = (20, 140, 60)  # chosen to map to VGA green, not teal
CHIP = (28, 28, 34)
CHIP_TOP = (80, 80, 92)
GOLD = (232, 184, 40)
SPARKLE = (255, 236, 110)
SPARKLE_CORE = (255, 255, 255)

# Standard Windows 16-colour (VGA) palette.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
       (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
       (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
       (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def palette256():
    # Exact drawing colours first so flat areas keep their true colour, then a
    # colour cube for anti-aliased edges, then greys to fill the table.
    pal = [(0, 0, 0), OUTLINE, BOARD, CHIP, CHIP_TOP, GOLD, SPARKLE, SPARKLE_CORE]
    pal += [(r, g, b) for r in range(0, 256, 51) for g in range(0, 256, 51)
            for b in range(0, 256, 51)]
    pal += [(g, g, g) for g in range(4, 256, 8)]
    return pal[:256]


def render(s):
    """Return s*s RGBA pixels (rows top-down) of the picture at size s."""
    px = [[(0, 0, 0, 0)] * s for _ in range(s)]

    def rect(x0, y0, x1, y1, rgb, alpha=255):
        # Coordinates are fractions of the icon; snapping to whole pixels
        # keeps edges crisp at every size.
        for y in range(round(y0 * s), round(y1 * s)):
            for x in range(round(x0 * s), round(x1 * s)):
                px[y][x] = rgb + (alpha,)

    t = max(1, round(s / 32)) / s  # outline thickness, at least one pixel
    rect(0.03, 0.28, 0.97, 0.86, OUTLINE)
    rect(0.03 + t, 0.28 + t, 0.97 - t, 0.86 - t, BOARD)

    for cx in (0.10, 0.38, 0.66):
        rect(cx, 0.38, cx + 0.24, 0.62, CHIP)
        if s >= 32:  # a lit top edge reads as depth once there is room for it
            rect(cx, 0.38, cx + 0.24, 0.38 + t, CHIP_TOP)

    # Gold contact pins along the bottom edge; the pitch grows with the size
    # but never drops below two pixels, so pins stay separate at 16x16.
    pitch = max(2, round(s / 16))
    gap = max(1, pitch * 2 // 5)
    n0, n1 = round(0.44 * s), round(0.50 * s)  # keying notch columns
    for x in range(round(0.07 * s), round(0.93 * s) - pitch + gap + 1, pitch):
        if x < n1 + gap and x + pitch - gap > n0 - gap:
            continue  # leave bare board either side of the notch
        for y in range(round(0.70 * s), round(0.86 * s)):
            for xx in range(x, x + pitch - gap):
                px[y][xx] = GOLD + (255,)
    rect(0.44, 0.76, 0.50, 0.86, (0, 0, 0), 0)

    sparkle(px, s, 0.80, 0.14, 0.13)
    if s >= 32:
        sparkle(px, s, 0.56, 0.09, 0.06)
    return px


def sparkle(px, s, cx, cy, r):
    """Blend a four-pointed star (|x|^0.5 + |y|^0.5 <= 1) over px."""
    n = 4  # supersamples per axis, for smooth edges
    # Centre on a pixel centre so the star stays symmetric at small sizes.
    cx, cy, r = int(cx * s) + 0.5, int(cy * s) + 0.5, r * s
    for y in range(max(0, int(cy - r)), min(s, int(cy + r) + 1)):
        for x in range(max(0, int(cx - r)), min(s, int(cx + r) + 1)):
            cover = core = 0
            for sy in range(n):
                for sx in range(n):
                    dx = abs(x + (sx + 0.5) / n - cx) / r
                    dy = abs(y + (sy + 0.5) / n - cy) / r
                    d = dx ** 0.5 + dy ** 0.5
                    cover += d <= 1
                    core += d <= 0.45
            if cover:
                a = cover / (n * n)
                rgb = SPARKLE_CORE if core * 2 >= cover else SPARKLE
                px[y][x] = over(rgb, a, px[y][x])


def over(rgb, a, dst):
    """Composite colour rgb with coverage a over the RGBA pixel dst."""
    da = dst[3] / 255
    oa = a + da * (1 - a)
    mix = [(c * a + d * da * (1 - a)) / oa for c, d in zip(rgb, dst[:3])]
    return tuple(round(v) for v in mix) + (round(oa * 255),)


def nearest(pal, rgb):
    return min(range(len(pal)),
               key=lambda i: sum((p - c) ** 2 for p, c in zip(pal[i], rgb)))


def and_mask(px, s):
    # One bit per pixel, set where the pixel is transparent; rows bottom-up
    # and padded to 32 bits, as the icon format requires.
    stride = (s + 31) // 32 * 4
    out = b""
    for row in reversed(px):
        bits = bytearray(stride)
        for x, p in enumerate(row):
            if p[3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bytes(bits)
    return out


def dib(px, s, bpp, pal=None):
    """Icon image as BITMAPINFOHEADER + palette + XOR bitmap + AND mask."""
    head = struct.pack("<IiiHHIIiiII", 40, s, 2 * s, 1, bpp, 0, 0, 0, 0,
                       len(pal) if pal else 0, 0)
    stride = (s * bpp + 31) // 32 * 4
    xor = b""
    if bpp == 32:
        for row in reversed(px):
            xor += b"".join(struct.pack("BBBB", b, g, r, a) for r, g, b, a in row)
    else:
        cache = {}
        for row in reversed(px):
            # Transparent pixels use index 0 (black) so the AND mask alone
            # decides what shows through.
            idx = [cache.setdefault(p[:3], nearest(pal, p[:3])) if p[3] >= 128
                   else 0 for p in row]
            if bpp == 4:
                idx += [0] * (len(idx) % 2)
                line = bytes(idx[i] << 4 | idx[i + 1] for i in range(0, len(idx), 2))
            else:
                line = bytes(idx)
            xor += line.ljust(stride, b"\0")
    table = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in pal or [])
    return head + table + xor + and_mask(px, s)


def png(px, s):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data)))
    raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in px)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", s, s, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def main():
    pal8 = palette256()
    images = []  # (size, bits per pixel, colour count, data)
    for s in (16, 32, 48):
        images.append((s, 4, 16, dib(render(s), s, 4, VGA)))
    for s in (16, 32, 48):
        images.append((s, 8, 0, dib(render(s), s, 8, pal8)))
    for s in (16, 32, 48, 128):
        images.append((s, 32, 0, dib(render(s), s, 32)))
    images.append((256, 32, 0, png(render(256), 256)))

    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, bpp, colours, data in images:
        # A width or height of 256 is stored as 0 in the one-byte fields.
        out += struct.pack("<BBBBHHII", s % 256, s % 256, colours, 0, 1, bpp,
                           len(data), offset)
        offset += len(data)
    out += b"".join(img[3] for img in images)

    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ramclean.ico")
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
