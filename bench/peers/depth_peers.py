#!/usr/bin/python3
"""Times Pillow's quantize(palette=...) without dithering, the nearest colour
of the 256-colour halftone palette (6 x 6 x 6 cube and 40 greys), on the
picture depth_bench generated, in process, one thread.

usage: depth_peers.py RAW_RGBA_FILE WIDTH HEIGHT
Pillow quantizes RGB pictures only, so the alpha byte is dropped first (not
timed).
"""
import sys

from PIL import Image

from peer_util import load_raw_rgba, median_of, report

raw_path, width, height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
src = load_raw_rgba(raw_path, width, height).convert("RGB")

pal = []
for r in range(6):
    for g in range(6):
        for b in range(6):
            pal += [r * 51, g * 51, b * 51]
for i in range(1, 41):
    v = i * 255 // 41
    pal += [v, v, v]
palimg = Image.new("P", (1, 1))
palimg.putpalette(pal)

dither = Image.Dither.NONE if hasattr(Image, "Dither") else Image.NONE
out = None


def run():
    global out
    out = src.quantize(palette=palimg, dither=dither)


report("Halftone/24MP", "pillow", median_of(5, run))
