#!/usr/bin/env python3
"""Writes PNG and BMP sample images with nothing but zlib and struct, so the
loader's tests read files made by an encoder other than our own.

usage: make_image_samples.py OUTPUT_DIR

Every image is W x H with pixels given by the formulas below; the tests
compute the same formulas."""

import os
import struct
import sys
import zlib

W, H = 13, 11


def red(x, y): return (x * 19 + y * 7) & 255
def green(x, y): return (x * 5 + y * 23 + 40) & 255
def blue(x, y): return (x * y * 3 + 11) & 255
def alpha(x, y): return (x * 29 + y * 13 + 1) & 255
def grey(x, y): return (x * 17 + y * 9) & 255
def grey4(x, y): return (x + y) % 16
def index(x, y): return (x + 3 * y) % 16
def palette(i): return (i * 16, 255 - i * 16, i * 7)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def pack_row(samples, depth):
    if depth == 8:
        return bytes(samples)
    if depth == 16:
        return b"".join(struct.pack(">H", s) for s in samples)
    out, acc, n = bytearray(), 0, 0
    for s in samples:
        acc = (acc << depth) | s
        n += depth
        if n == 8:
            out.append(acc)
            acc, n = 0, 0
    if n:
        out.append(acc << (8 - n))
    return bytes(out)


ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def png(path, colour_type, depth, pixel, extra=b"", interlace=False):
    """pixel(x, y) gives the list of samples of one pixel."""
    raw = bytearray()
    passes = ADAM7 if interlace else [(0, 0, 1, 1)]
    for x0, y0, dx, dy in passes:
        xs = range(x0, W, dx)
        if not xs:
            continue
        for y in range(y0, H, dy):
            samples = [s for x in xs for s in pixel(x, y)]
            raw += b"\x00" + pack_row(samples, depth)
    ihdr = struct.pack(">IIBBBBB", W, H, depth, colour_type, 0, 0, 1 if interlace else 0)
    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + extra
    data += chunk(b"IDAT", zlib.compress(bytes(raw))) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(data)


def bmp(path, bits, pixel_bytes, table=b"", top_down=False):
    pitch = (W * bits // 8 + 3) & ~3 if bits >= 8 else ((W * bits + 7) // 8 + 3) & ~3
    rows = []
    for y in range(H):
        row = pixel_bytes(y)
        rows.append(row + b"\x00" * (pitch - len(row)))
    if not top_down:
        rows.reverse()
    image = b"".join(rows)
    offset = 14 + 40 + len(table)
    info = struct.pack("<IiiHHIIiiII", 40, W, -H if top_down else H, 1, bits, 0, len(image),
                       2835, 2835, len(table) // 4, 0)
    head = b"BM" + struct.pack("<IHHI", offset + len(image), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(head + info + table + image)


def bmp_ex(path, bits, pixel_bytes, header_size=40, compression=0, masks=(), table=b"", colours_used=None,
           top_down=False, image=None):
    """A BMP with any header size, compression word and bit-field masks.
    Masks go inside a header of 52 bytes or more, else right after it."""
    if image is None:
        pitch = (W * bits // 8 + 3) & ~3
        rows = []
        for y in range(H):
            row = pixel_bytes(y)
            rows.append(row + b"\x00" * (pitch - len(row)))
        if not top_down:
            rows.reverse()
        image = b"".join(rows)
    head_size = 12 if header_size == 12 else 40
    if header_size == 12:
        info = struct.pack("<IHHHH", 12, W, H, 1, bits)
    else:
        used = len(table) // 4 if colours_used is None else colours_used
        info = struct.pack("<IiiHHIIiiII", header_size, W, -H if top_down else H, 1, bits, compression,
                           len(image), 2835, 2835, used, 0)
    mask_bytes = b"".join(struct.pack("<I", m) for m in masks)
    if header_size > head_size:
        extra = (mask_bytes + b"\x00" * header_size)[: header_size - head_size]
        info += extra
    else:
        info += mask_bytes
    offset = 14 + len(info) + len(table)
    head = b"BM" + struct.pack("<IHHI", offset + len(image), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(head + info + table + image)


def index256(x, y): return (x * 13 + y * 29) & 255
def palette256(i): return ((i * 37) & 255, (i * 91) & 255, 255 - i)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    j = lambda name: os.path.join(out, name)
    rgb = lambda x, y: [red(x, y), green(x, y), blue(x, y)]
    png(j("grey8.png"), 0, 8, lambda x, y: [grey(x, y)])
    png(j("grey4.png"), 0, 4, lambda x, y: [grey4(x, y)])
    png(j("grey_alpha.png"), 4, 8, lambda x, y: [grey(x, y), alpha(x, y)])
    plte = chunk(b"PLTE", b"".join(bytes(palette(i)) for i in range(16)))
    png(j("palette.png"), 3, 8, lambda x, y: [index(x, y)], plte)
    png(j("palette4.png"), 3, 4, lambda x, y: [index(x, y)], plte)
    trns = chunk(b"tRNS", bytes([0, 128, 255, 7]))
    png(j("palette_trns.png"), 3, 8, lambda x, y: [index(x, y)], plte + trns)
    png(j("rgb.png"), 2, 8, rgb)
    png(j("rgb_interlaced.png"), 2, 8, rgb, interlace=True)
    png(j("rgba.png"), 6, 8, lambda x, y: rgb(x, y) + [alpha(x, y)])
    png(j("rgba_interlaced.png"), 6, 8, lambda x, y: rgb(x, y) + [alpha(x, y)], interlace=True)
    # The low byte of each 16-bit sample is noise that reduction to 8 bits drops.
    png(j("rgb16.png"), 2, 16, lambda x, y: [(v << 8) | ((x * 31 + y) & 255) for v in rgb(x, y)])
    png(j("grey16.png"), 0, 16, lambda x, y: [(grey(x, y) << 8) | (y & 255)])

    grey_table = b"".join(bytes([i, i, i, 0]) for i in range(256))
    bmp(j("grey8.bmp"), 8, lambda y: bytes(grey(x, y) for x in range(W)), grey_table)
    bgr = lambda y: b"".join(bytes([blue(x, y), green(x, y), red(x, y)]) for x in range(W))
    bgra = lambda y: b"".join(bytes([blue(x, y), green(x, y), red(x, y), alpha(x, y)]) for x in range(W))
    bmp(j("rgb24.bmp"), 24, bgr)
    bmp(j("rgb24_top_down.bmp"), 24, bgr, top_down=True)
    bmp(j("rgba32.bmp"), 32, bgra)
    rgb555 = lambda y: b"".join(struct.pack("<H", ((red(x, y) >> 3) << 10) | ((green(x, y) >> 3) << 5)
                                            | (blue(x, y) >> 3)) for x in range(W))
    bmp(j("rgb555.bmp"), 16, rgb555)
    table16 = b"".join(bytes([i * 17, i * 17, i * 17, 0]) for i in range(16))
    bmp(j("grey4.bmp"), 4, lambda y: pack_row([grey4(x, y) for x in range(W)], 4), table16)
    bmp(j("mono1.bmp"), 1, lambda y: pack_row([(x + y) & 1 for x in range(W)], 1),
        bytes([0, 0, 0, 0, 255, 255, 255, 0]))

    # BMPs as other programs write them: colour tables that are not the
    # identity grey ramp, longer headers, bit-field masks, and kinds the
    # loader refuses.
    table16c = b"".join(bytes([b, g, r, 0]) for r, g, b in (palette(i) for i in range(16)))
    table256 = b"".join(bytes([b, g, r, 0]) for r, g, b in (palette256(i) for i in range(256)))
    inverted = b"".join(bytes([255 - i, 255 - i, 255 - i, 0]) for i in range(256))
    idx16 = lambda y: bytes(index(x, y) for x in range(W))
    idx256 = lambda y: bytes(index256(x, y) for x in range(W))
    bmp_ex(j("palette8.bmp"), 8, idx16, table=table16c)
    bmp_ex(j("palette8_full.bmp"), 8, idx256, table=table256, colours_used=0)
    bmp_ex(j("palette8_top_down.bmp"), 8, idx256, table=table256, top_down=True)
    bmp_ex(j("grey8_inverted.bmp"), 8, lambda y: bytes(grey(x, y) for x in range(W)), table=inverted)
    bmp_ex(j("v4_palette8.bmp"), 8, idx256, header_size=108, table=table256)
    bmp_ex(j("v4_rgb24.bmp"), 24, bgr, header_size=108)
    bmp_ex(j("v5_rgb24.bmp"), 24, bgr, header_size=124, top_down=True)
    rgb565 = lambda y: b"".join(struct.pack("<H", ((red(x, y) >> 3) << 11) | ((green(x, y) >> 2) << 5)
                                            | (blue(x, y) >> 3)) for x in range(W))
    bmp_ex(j("bitfields565.bmp"), 16, rgb565, compression=3, masks=(0xF800, 0x07E0, 0x001F))
    bmp_ex(j("bitfields555.bmp"), 16, rgb555, compression=3, masks=(0x7C00, 0x03E0, 0x001F))
    bmp_ex(j("v5_bitfields565.bmp"), 16, rgb565, header_size=124, compression=3,
           masks=(0xF800, 0x07E0, 0x001F, 0))
    # The fourth byte is noise that a mask without alpha tells readers to ignore.
    bgrx = lambda y: b"".join(bytes([blue(x, y), green(x, y), red(x, y), (x * 77 + y) & 255]) for x in range(W))
    bmp_ex(j("bitfields888.bmp"), 32, bgrx, compression=3, masks=(0xFF0000, 0xFF00, 0xFF))
    bmp_ex(j("v5_bitfields8888.bmp"), 32, bgra, header_size=124, compression=3,
           masks=(0xFF0000, 0xFF00, 0xFF, 0xFF000000))
    bmp_ex(j("v4_bitfields888.bmp"), 32, bgrx, header_size=108, compression=3, masks=(0xFF0000, 0xFF00, 0xFF, 0))

    bmp_ex(j("refused_bitfields_rgb.bmp"), 32, bgra, compression=3, masks=(0xFF, 0xFF00, 0xFF0000))
    bmp_ex(j("refused_os2.bmp"), 24, bgr, header_size=12)
    # Every row: one run of W pixels of colour 5, end of line; then end of bitmap.
    rle = b"".join(bytes([W, 5, 0, 0]) for _ in range(H)) + bytes([0, 1])
    bmp_ex(j("refused_rle8.bmp"), 8, None, compression=1, table=table16c, image=rle)
    bmp_ex(j("refused_jpeg.bmp"), 24, None, compression=4, image=b"\xff\xd8\xff\xd9" + b"\x00" * 600)


if __name__ == "__main__":
    main()
