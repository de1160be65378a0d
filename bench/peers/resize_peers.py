#!/usr/bin/python3
"""Times the resize benchmark's cases with Pillow, in this one process with
its start-up left out, on the picture the benchmark generated (libvips runs
in the benchmark's own process through its C API).

usage: resize_peers.py RAW_RGBA_FILE WIDTH HEIGHT
Prints one line per measurement: "<case> pillow <milliseconds>", the median
of a few runs (our side reports the mean of many).
"""
import sys

from PIL import Image, ImageDraw

from peer_util import load_raw_rgba, median_of, report

raw_path, width, height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
src = load_raw_rgba(raw_path, width, height)

CASES = [("Nearest", Image.NEAREST), ("Linear", Image.BILINEAR), ("Lanczos", Image.LANCZOS), ("Cubic", Image.BICUBIC)]
SIZES = [("Down", (1920, 1280), 7), ("Up2x", (2 * width, 2 * height), 3)]

for prefix, size, runs in SIZES:
    for name, pil_filter in CASES:
        ms = median_of(runs, lambda: src.resize(size, pil_filter))
        report(f"{prefix}/{name}", "pillow", ms)

# Pillow blends a translucent fill only into an RGB picture drawn in "RGBA"
# mode; into an RGBA picture it would merely store the colour.
fill = Image.new("RGB", (3840, 2160), (0x60, 0x40, 0x20))
draw = ImageDraw.Draw(fill, "RGBA")
ms = median_of(5, lambda: draw.rectangle((0, 0, 3839, 2159), fill=(0xC0, 0x80, 0x40, 0x80)))
report("FillRectBlend/4K", "pillow", ms)
