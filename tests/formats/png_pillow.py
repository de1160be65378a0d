#!/usr/bin/python3
"""PNG test helper. 'make DIR' writes PNG files of every colour type, bit
depth, interlacing and row filter (encoded here with the standard library)
and, beside each, Pillow's decoding as W*H RGBA bytes (.rgba); 'read FILE'
prints what Pillow decodes from FILE as 'W H MODE TRNS' and writes FILE.rgba;
'ico FILE' writes an icon made by Pillow whose first entry is a 256x256 PNG
(with partial alpha) and a 32x32 one after it, and FILE.rgba with Pillow's
reading of the large entry."""
import os, random, struct, sys, zlib

from PIL import Image

ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
SAMPLES = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}


def chunk(t, d):
    return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d) & 0xFFFFFFFF)


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else (b if pb <= pc else c)


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


def filter_rows(rows, bpp, first_filter):
    out, prev = bytearray(), None
    for i, raw in enumerate(rows):
        prev = prev or bytes(len(raw))
        f = (first_filter + i) % 5
        line = bytearray([f])
        for x, v in enumerate(raw):
            a = raw[x - bpp] if x >= bpp else 0
            b = prev[x]
            c = prev[x - bpp] if x >= bpp else 0
            pred = [0, a, b, (a + b) // 2, paeth(a, b, c)][f]
            line.append((v - pred) & 0xFF)
        out += line
        prev = raw
    return bytes(out)


def make_png(path, w, h, ct, depth, interlace, seed, plte_n=None, trns=None):
    rnd = random.Random(seed)
    maxv = (1 << depth) - 1
    if ct == 3:
        maxv = min(maxv, (plte_n or 256) - 1)
    px = [[[rnd.randint(0, maxv) for _ in range(SAMPLES[ct])] for _ in range(w)] for _ in range(h)]
    bpp = max(1, SAMPLES[ct] * depth // 8)
    passes = ADAM7 if interlace else [(0, 0, 1, 1)]
    data = b""
    for k, (x0, y0, dx, dy) in enumerate(passes):
        rows = []
        for y in range(y0, h, dy):
            xs = range(x0, w, dx)
            if not xs:
                continue
            rows.append(pack_row([s for x in xs for s in px[y][x]], depth))
        data += filter_rows(rows, bpp, seed + k)
    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, depth, ct, 0, 0, interlace))
    if ct == 3:
        n = plte_n or (1 << depth)
        out += chunk(b"PLTE", bytes(rnd.randint(0, 255) for _ in range(3 * n)))
    if trns is not None:
        out += chunk(b"tRNS", trns)
    z = zlib.compress(data, 6)
    for i in range(0, len(z), 97):  # many small IDAT chunks
        out += chunk(b"IDAT", z[i:i + 97])
    out += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(out)


def dump(path):
    im = Image.open(path)
    im.load()
    trns = im.info.get("transparency")
    if im.mode in ("I", "I;16", "I;16B"):
        # Pillow keeps 16-bit grey whole; the editor keeps its high byte.
        g = [v >> 8 for v in im.getdata()]
        rgba = bytes(b for v in g for b in (v, v, v, 255))
    else:
        rgba = im.convert("RGBA").tobytes() if im.mode in ("LA", "RGBA", "PA") else im.convert("RGB").convert("RGBA").tobytes()
    with open(path + ".rgba", "wb") as f:
        f.write(rgba)
    t = "-" if trns is None else (trns.hex() if isinstance(trns, bytes) else repr(trns).replace(" ", ""))
    print(im.width, im.height, im.mode, t)


def make_ico(path):
    im = Image.new("RGBA", (256, 256))
    px = im.load()
    for y in range(256):
        for x in range(256):
            a = 0 if (x + y) % 7 == 0 else (255 if x < 128 else (x * 2) & 255)
            px[x, y] = ((x * 7 + y) & 255, (y * 3) & 255, (x ^ y) & 255, a)
    im.save(path, sizes=[(256, 256), (32, 32)])
    # Pillow writes the small entry first; most icons lead with the large one.
    data = bytearray(open(path, "rb").read())
    count = struct.unpack("<H", data[4:6])[0]
    entries = [bytes(data[6 + 16 * i:22 + 16 * i]) for i in range(count)]
    entries.sort(key=lambda e: -(e[0] or 256))
    data[6:6 + 16 * count] = b"".join(entries)
    with open(path, "wb") as f:
        f.write(data)
    big = Image.open(path)
    big.size = (256, 256)
    big.load()
    with open(path + ".rgba", "wb") as f:
        f.write(big.convert("RGBA").tobytes())


def main():
    if sys.argv[1] == "ico":
        make_ico(sys.argv[2])
    elif sys.argv[1] == "make":
        d = sys.argv[2]
        seed = 1
        for ct, depths in ((0, (1, 2, 4, 8, 16)), (2, (8, 16)), (3, (1, 2, 4, 8)), (4, (8, 16)), (6, (8, 16))):
            for depth in depths:
                for interlace in (0, 1):
                    for (w, h) in ((13, 11), (1, 1), (3, 9), (1, 9)):
                        name = os.path.join(d, "c%d_d%d_i%d_%dx%d.png" % (ct, depth, interlace, w, h))
                        make_png(name, w, h, ct, depth, interlace, seed)
                        seed += 1
                        dump(name)
        # Past the widths where the whole image data is inflated at once
        # (four bytes a pixel then need a spare row) and the vector unfilters
        # run whole lanes; 1031 leaves a short tail after them.
        for ct, depth, interlace in ((6, 8, 0), (4, 16, 0), (2, 8, 0), (2, 16, 0), (3, 8, 0), (2, 8, 1)):
            for (w, h) in ((64, 40), (1031, 9)):
                name = os.path.join(d, "c%d_d%d_i%d_%dx%d.png" % (ct, depth, interlace, w, h))
                make_png(name, w, h, ct, depth, interlace, seed)
                seed += 1
                dump(name)
    else:
        dump(sys.argv[2])


main()
