#!/usr/bin/python3
"""Writes BMP test files of every depth, header and compression into a folder,
each with the pixels a correct reader must produce.

For every file OUT/<name>.bmp there is OUT/<name>.px: int32 width, int32 height,
then width*height uint32 0xAARRGGBB pixels, top row first, all little-endian.
OUT/manifest.txt has one line per file: name, the pixel format the reader must
report, the per-channel tolerance, and where the expected pixels come from
("pil": Pillow's decode of the file; "model": the image the generator encoded,
used where Pillow cannot read the file).

With "--decode FILE.bmp OUT.px" it instead writes Pillow's decode of one file.

Alpha rule the reader follows: only 32-bit files carry alpha; every other file
reads as opaque. Pillow drops the fourth byte of an uncompressed 32-bit file,
so for those the expected alpha comes from the encoded image.

RLE files are always checked against the encoded image; where Pillow can also
decode them (no delta codes, even RLE4 literal runs) the generator checks that
Pillow agrees, so the encoder here cannot drift from real RLE.
"""
import io
import os
import random
import struct
import sys

from PIL import Image

if len(sys.argv) == 4 and sys.argv[1] == "--decode":
    # Pillow's view of a file our writer made: the same .px layout.
    im = Image.open(sys.argv[2])
    im.load()
    data = [(a << 24) | (r << 16) | (g << 8) | b for (r, g, b, a) in im.convert("RGBA").getdata()]
    with open(sys.argv[3], "wb") as f:
        f.write(struct.pack("<ii", im.width, im.height))
        f.write(struct.pack("<%dI" % len(data), *data))
    sys.exit(0)

OUT = sys.argv[1]
os.makedirs(OUT, exist_ok=True)
rng = random.Random(20261207)
manifest = []


def le32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


def file_header(total, off):
    return b"BM" + le32(total) + b"\0\0\0\0" + le32(off)


def info_header(size, w, h, bits, comp, image_size, clr_used=0, masks=None):
    """A 40-, 52-, 56-, 108- or 124-byte header; masks = (r, g, b, a)."""
    hdr = struct.pack("<IiiHHIIiiII", size, w, h, 1, bits, comp, image_size, 2835, 2835, clr_used, 0)
    if size >= 52:
        m = masks or (0, 0, 0, 0)
        hdr += struct.pack("<III", m[0], m[1], m[2])
        if size >= 56:
            hdr += struct.pack("<I", m[3])
    if size >= 108:
        hdr += b"sRGB" + b"\0" * (36 + 12)  # colour space type, endpoints, gamma
    if size >= 124:
        hdr += struct.pack("<IIII", 4, 0, 0, 0)  # intent, profile data, size, reserved
    assert len(hdr) == size, (size, len(hdr))
    return hdr


def core_header(w, h, bits):
    return struct.pack("<IHHHH", 12, w, h, 1, bits)


def rows_bottom_up(rows, top_down):
    return rows if top_down else list(reversed(rows))


def pad(b):
    return b + b"\0" * ((4 - len(b) % 4) % 4)


def pack_indices(idx_row, bits):
    out = bytearray()
    per = 8 // bits
    for i in range(0, len(idx_row), per):
        v = 0
        for k in range(per):
            v <<= bits
            if i + k < len(idx_row):
                v |= idx_row[i + k]
        out.append(v)
    return bytes(out)


def random_palette(n):
    return [(rng.randrange(256), rng.randrange(256), rng.randrange(256)) for _ in range(n)]


def pal_bytes(pal, entry=4):
    return b"".join(bytes([b, g, r]) + (b"\0" if entry == 4 else b"") for (r, g, b) in pal)


def argb(r, g, b, a=255):
    return (a << 24) | (r << 16) | (g << 8) | b


def write_px(name, w, h, px):
    with open(os.path.join(OUT, name + ".px"), "wb") as f:
        f.write(struct.pack("<ii", w, h))
        f.write(struct.pack("<%dI" % len(px), *px))


def pil_pixels(data):
    im = Image.open(io.BytesIO(data))
    im.load()
    rgba = im.convert("RGBA")
    return [argb(r, g, b, a) for (r, g, b, a) in rgba.getdata()]


def emit(name, data, fmt, model, tol=0, keep_model_alpha=False, use_pil=True):
    """Writes the file; the expectation is Pillow's decode unless use_pil is off."""
    with open(os.path.join(OUT, name + ".bmp"), "wb") as f:
        f.write(data)
    w, h = model[0], model[1]
    px = model[2]
    source = "model"
    if use_pil:
        got = pil_pixels(data)
        if keep_model_alpha:
            got = [(m & 0xFF000000) | (g & 0xFFFFFF) for g, m in zip(got, px)]
        px = got
        source = "pil"
    write_px(name, w, h, px)
    manifest.append("%s %s %d %s" % (name, fmt, tol, source))


def palette_file(name, bits, w, h, top_down=False, clr_used=0, core=False):
    n = clr_used or (1 << bits)
    pal = random_palette(n)
    idx = [[rng.randrange(n) for _ in range(w)] for _ in range(h)]
    body = b"".join(pad(pack_indices(r, bits)) for r in rows_bottom_up(idx, top_down))
    if core:
        hdr = core_header(w, h, bits)
        pb = pal_bytes(pal, 3)
    else:
        hdr = info_header(40, w, -h if top_down else h, bits, 0, len(body), clr_used)
        pb = pal_bytes(pal)
    off = 14 + len(hdr) + len(pb)
    data = file_header(off + len(body), off) + hdr + pb + body
    model = [argb(*pal[i]) for row in idx for i in row]
    emit(name, data, "pf%dbit" % bits, (w, h, model))


def rgb_file(name, bits, w, h, top_down=False, core=False):
    px = [[(rng.randrange(256), rng.randrange(256), rng.randrange(256), rng.randrange(256)) for _ in range(w)]
          for _ in range(h)]
    if bits == 24:
        enc = lambda p: bytes([p[2], p[1], p[0]])
        model = [argb(r, g, b) for row in px for (r, g, b, a) in row]
    else:
        enc = lambda p: bytes([p[2], p[1], p[0], p[3]])
        model = [argb(r, g, b, a) for row in px for (r, g, b, a) in row]
    body = b"".join(pad(b"".join(enc(p) for p in row)) for row in rows_bottom_up(px, top_down))
    hdr = core_header(w, h, bits) if core else info_header(40, w, -h if top_down else h, bits, 0, len(body))
    off = 14 + len(hdr)
    data = file_header(off + len(body), off) + hdr + body
    emit(name, data, "pf%dbit" % bits, (w, h, model), keep_model_alpha=(bits == 32))


def field_value(c, mask):
    if mask == 0:
        return 0
    shift = (mask & -mask).bit_length() - 1
    mx = mask >> shift
    return (c * mx // 255) << shift


def field_channel(v, mask, fallback):
    if mask == 0:
        return fallback
    shift = (mask & -mask).bit_length() - 1
    mx = mask >> shift
    return (((v & mask) >> shift) * 255 + mx // 2) // mx


def bitfield_file(name, bits, w, h, masks, header, fmt, top_down=False, use_pil=True, tol=0):
    """masks = (r, g, b, a); header 40 puts them after the header."""
    px = [[tuple(rng.randrange(256) for _ in range(4)) for _ in range(w)] for _ in range(h)]
    size = bits // 8
    rows = []
    model_rows = []
    for row in px:
        out = b""
        mrow = []
        for (r, g, b, a) in row:
            v = field_value(r, masks[0]) | field_value(g, masks[1]) | field_value(b, masks[2]) | field_value(a, masks[3])
            out += v.to_bytes(size, "little")
            alpha = field_channel(v, masks[3], 255) if bits == 32 else 255
            mrow.append(argb(field_channel(v, masks[0], 0), field_channel(v, masks[1], 0),
                             field_channel(v, masks[2], 0), alpha))
        rows.append(pad(out))
        model_rows.append(mrow)
    body = b"".join(rows_bottom_up(rows, top_down))
    comp = 3
    if header == 40:
        hdr = info_header(40, w, -h if top_down else h, bits, comp, len(body))
        extra = struct.pack("<III", *masks[:3])
    else:
        hdr = info_header(header, w, -h if top_down else h, bits, comp, len(body), masks=masks)
        extra = b""
    off = 14 + len(hdr) + len(extra)
    data = file_header(off + len(body), off) + hdr + extra + body
    model = [p for row in model_rows for p in row]
    emit(name, data, fmt, (w, h, model), tol=tol, use_pil=use_pil)


def rle_encode_row(out, decoded_row, row, x, rle4, pil_safe):
    """Encodes row[x:] as runs and literal runs; records what a decoder makes."""
    w = len(row)
    while x < w:
        # a run of equal pixels (RLE4: of an alternating pair)
        n = 1
        if rle4:
            while x + n < w and n < 255 and row[x + n] == row[x + (n % 2)]:
                n += 1
        else:
            while x + n < w and n < 255 and row[x + n] == row[x]:
                n += 1
        lit = min(w - x, rng.randrange(3, 9))
        if rle4 and pil_safe:
            lit -= lit % 2  # Pillow drops the last pixel of an odd RLE4 literal
        if n >= 3 or lit < 3 or rng.random() < 0.4:
            second = (row[x + 1] if n > 1 else 0) if rle4 else row[x]
            out += bytes([n, (row[x] << 4) | second]) if rle4 else bytes([n, row[x]])
            for k in range(n):
                decoded_row[x + k] = row[x] if (k % 2 == 0 or not rle4) else second
            x += n
        else:
            chunk = row[x:x + lit]
            packed = pack_indices(chunk, 4) if rle4 else bytes(chunk)
            out += bytes([0, lit]) + packed + (b"\0" if len(packed) % 2 else b"")
            decoded_row[x:x + lit] = chunk
            x += lit


def rle_encode(idx, rle4, with_delta):
    """Encodes the rows (first list entry = bottom row, as stored) with runs,
    literal runs and, when asked, a delta that skips two rows and three pixels;
    returns the bytes and the indices a decoder produces (skipped = 0)."""
    out = bytearray()
    h = len(idx)
    w = len(idx[0])
    decoded = [[0] * w for _ in range(h)]
    y = 0
    while y < h:
        start = 0
        if with_delta and y == 2 and h > 5 and w > 3:
            out += bytes([0, 2, 3, 2])
            y += 2
            start = 3
        rle_encode_row(out, decoded[y], idx[y], start, rle4, not with_delta)
        y += 1
        if y < h:
            out += b"\0\0"  # end of line
    out += b"\0\1"  # end of bitmap
    return bytes(out), decoded


def rle_file(name, rle4, w, h, with_delta, use_pil):
    bits = 4 if rle4 else 8
    n = 16 if rle4 else 40
    pal = random_palette(n)
    # long runs as well as noise
    idx = []
    for y in range(h):
        row = []
        while len(row) < w:
            v = rng.randrange(n)
            row += [v] * rng.choice([1, 1, 2, 5, 9])
        idx.append(row[:w])
    body, decoded = rle_encode(idx, rle4, with_delta)
    hdr = info_header(40, w, h, bits, 2 if rle4 else 1, len(body), n)
    pb = pal_bytes(pal)
    off = 14 + len(hdr) + len(pb)
    data = file_header(off + len(body), off) + hdr + pb + body
    # rows were encoded bottom row first: file row y is image row h-1-y
    model = [argb(*pal[decoded[h - 1 - y][x]]) for y in range(h) for x in range(w)]
    if use_pil:
        got = pil_pixels(data)
        if got != model:
            sys.exit("RLE generator and Pillow disagree on " + name)
    emit(name, data, "pf%dbit" % bits, (w, h, model), use_pil=False)


def pillow_saved(name, mode, w, h, fmt):
    im = Image.new("RGBA", (w, h))
    im.putdata([tuple(rng.randrange(256) for _ in range(4)) for _ in range(w * h)])
    if mode == "P":
        im = im.convert("RGB").quantize(colors=50)
    else:
        im = im.convert(mode)
    buf = io.BytesIO()
    im.save(buf, "BMP")
    data = buf.getvalue()
    model = pil_pixels(data)
    if mode == "RGBA":
        model = [argb(r, g, b, a) for (r, g, b, a) in im.getdata()]
    emit(name, data, fmt, (w, h, model), use_pil=False)


# palette files
palette_file("pal1_bu", 1, 13, 5)
palette_file("pal1_td", 1, 33, 4, top_down=True)
palette_file("pal4_bu", 4, 7, 6)
palette_file("pal4_used5", 4, 9, 3, clr_used=5)
palette_file("pal8_bu", 8, 11, 7)
palette_file("pal8_td_used20", 8, 6, 9, top_down=True, clr_used=20)
palette_file("pal8_core", 8, 10, 4, core=True)
palette_file("pal1_core", 1, 9, 3, core=True)
# direct colour
rgb_file("rgb24_bu", 24, 5, 4)
rgb_file("rgb24_td", 24, 7, 3, top_down=True)
rgb_file("rgb24_core", 24, 3, 5, core=True)
rgb_file("rgb32_bu", 32, 6, 5)
rgb_file("rgb32_td", 32, 4, 4, top_down=True)
# 16-bit: plain (5-5-5) and bit fields
bitfield_file("bf16_555_rgb", 16, 7, 3, (0x7C00, 0x3E0, 0x1F, 0), 40, "pf15bit", use_pil=True, tol=1)
bitfield_file("bf16_565", 16, 9, 4, (0xF800, 0x7E0, 0x1F, 0), 40, "pf16bit", tol=1)
bitfield_file("bf16_565_v4", 16, 5, 5, (0xF800, 0x7E0, 0x1F, 0), 108, "pf16bit", tol=1)
bitfield_file("bf16_555_v5_td", 16, 6, 3, (0x7C00, 0x3E0, 0x1F, 0), 124, "pf15bit", top_down=True, tol=1)
bitfield_file("bf16_4444_v5", 16, 5, 3, (0xF00, 0xF0, 0xF, 0xF000), 124, "pfCustom", use_pil=False)
# 32-bit bit fields
bitfield_file("bf32_bgra_v4", 32, 6, 4, (0xFF0000, 0xFF00, 0xFF, 0xFF000000), 108, "pf32bit")
bitfield_file("bf32_bgra_v5_td", 32, 5, 5, (0xFF0000, 0xFF00, 0xFF, 0xFF000000), 124, "pf32bit", top_down=True)
bitfield_file("bf32_rgba_v5", 32, 4, 3, (0xFF, 0xFF00, 0xFF0000, 0xFF000000), 124, "pf32bit")
bitfield_file("bf32_bgrx_40", 32, 7, 2, (0xFF0000, 0xFF00, 0xFF, 0), 40, "pf32bit")
bitfield_file("bf32_10bit_v5", 32, 5, 4, (0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000), 124, "pf32bit", use_pil=False)
# the 52- and 56-byte headers: masks inside the header, alpha only in the longer one
bitfield_file("bf32_bgrx_52", 32, 5, 3, (0xFF0000, 0xFF00, 0xFF, 0), 52, "pf32bit", use_pil=False)
bitfield_file("bf32_bgra_56", 32, 4, 3, (0xFF0000, 0xFF00, 0xFF, 0xFF000000), 56, "pf32bit", use_pil=False)
# RLE
rle_file("rle8_plain", False, 23, 6, with_delta=False, use_pil=True)
rle_file("rle8_delta", False, 17, 7, with_delta=True, use_pil=False)
rle_file("rle4_plain", True, 22, 5, with_delta=False, use_pil=True)
rle_file("rle4_delta", True, 15, 6, with_delta=True, use_pil=False)
# files written by Pillow itself
pillow_saved("pil_1", "1", 19, 5, "pf1bit")
pillow_saved("pil_L", "L", 9, 4, "pf8bit")
pillow_saved("pil_P", "P", 8, 8, "pf8bit")
pillow_saved("pil_RGB", "RGB", 10, 3, "pf24bit")
pillow_saved("pil_RGBA", "RGBA", 6, 6, "pf32bit")

# a 16-bit plain file (compression 0 means 5-5-5)
w, h = 5, 3
vals = [[rng.randrange(0x8000) for _ in range(w)] for _ in range(h)]
body = b"".join(pad(b"".join(struct.pack("<H", v) for v in row)) for row in reversed(vals))
hdr = info_header(40, w, h, 16, 0, len(body))
data = file_header(54 + len(body), 54) + hdr + body
model = [argb(field_channel(v, 0x7C00, 0), field_channel(v, 0x3E0, 0), field_channel(v, 0x1F, 0))
         for row in vals for v in row]
emit("rgb16_plain", data, "pf15bit", (w, h, model), tol=1)

with open(os.path.join(OUT, "manifest.txt"), "w") as f:
    f.write("\n".join(manifest) + "\n")
print("wrote %d files" % len(manifest))
