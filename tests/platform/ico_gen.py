#!/usr/bin/env python3
"""Writes test icons with exact control over the DIB entry.

ico_gen.py OUT BPP W H [--alpha] [--clr-used N] [--second]
  BPP 1, 4, 8, 16, 24 or 32. Colours come from a fixed pattern, the AND mask
  is set where (x + 2*y) % 5 == 0. With --alpha (32 bits) the alpha channel
  carries a ramp and the mask follows alpha == 0. --second appends a larger
  32-bit entry after the first one.
  ico_gen.py OUT png   writes an icon whose only entry is PNG-compressed.
"""
import struct
import sys


def color(x, y):
    return ((x * 37 + y * 11) & 0xFF, (x * 5 + y * 29 + 40) & 0xFF, (x * 17 ^ y * 13) & 0xFF)


def masked(x, y):
    return (x + 2 * y) % 5 == 0


def dib(bpp, w, h, alpha=False, clr_used=0):
    ncolors = 0
    palette = []
    if bpp <= 8:
        ncolors = clr_used or (1 << bpp)
        palette = [color(i, i * 3) for i in range(ncolors)]
    rows = []
    stride = (w * bpp + 31) // 32 * 4
    for y in range(h - 1, -1, -1):  # bottom-up
        row = bytearray()
        bits = 0
        nbits = 0
        for x in range(w):
            if bpp <= 8:
                idx = (x * 3 + y * 5) % ncolors
                bits = (bits << bpp) | idx
                nbits += bpp
                if nbits == 8:
                    row.append(bits)
                    bits = nbits = 0
            else:
                r, g, b = color(x, y)
                if bpp == 16:
                    row += struct.pack('<H', ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3))
                elif bpp == 24:
                    row += bytes((b, g, r))
                else:
                    a = ((x * 16 + y * 3) & 0xFF) if alpha else 0
                    if alpha and masked(x, y):
                        a = 0
                    row += bytes((b, g, r, a))
        if nbits:
            row.append(bits << (8 - nbits))
        row += b'\0' * (stride - len(row))
        rows.append(bytes(row))
    mstride = (w + 31) // 32 * 4
    mrows = []
    for y in range(h - 1, -1, -1):
        row = bytearray(mstride)
        for x in range(w):
            if masked(x, y):
                row[x // 8] |= 0x80 >> (x % 8)
        mrows.append(bytes(row))
    header = struct.pack('<IiiHHIIiiII', 40, w, h * 2, 1, bpp, 0, 0, 0, 0, clr_used, 0)
    pal = b''.join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    return header + pal + b''.join(rows) + b''.join(mrows)


def icon(entries):
    out = struct.pack('<HHH', 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    body = b''
    for w, h, bpp, data in entries:
        out += struct.pack('<BBBBHHII', w & 0xFF, h & 0xFF, 0, 0, 1, bpp, len(data), offset + len(body))
        body += data
    return out + body


def main():
    out = sys.argv[1]
    if sys.argv[2] == 'png':
        data = b'\x89PNG\r\n\x1a\n' + b'\0' * 40
        open(out, 'wb').write(icon([(16, 16, 32, data)]))
        return
    bpp, w, h = int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
    alpha = '--alpha' in sys.argv
    clr = 0
    if '--clr-used' in sys.argv:
        clr = int(sys.argv[sys.argv.index('--clr-used') + 1])
    entries = [(w, h, bpp, dib(bpp, w, h, alpha, clr))]
    if '--second' in sys.argv:
        entries.append((w * 2, h * 2, 32, dib(32, w * 2, h * 2, True)))
    open(out, 'wb').write(icon(entries))


if __name__ == '__main__':
    main()
