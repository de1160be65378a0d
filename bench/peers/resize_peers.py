#!/usr/bin/python3
"""Times the resize benchmark's cases with Pillow (in process) and with
`vips resize` (one thread) on the picture the benchmark generated.

usage: resize_peers.py RAW_RGBA_FILE WIDTH HEIGHT
Prints one line per measurement: "<case> <peer> <milliseconds>", the median
of a few runs (our side reports the mean of many). The vips time is the whole command (load from a .v file in
/dev/shm, resize, save there); "ReadInput vips" is the cost of starting vips
and reading the input alone, for judging how much of it is the resize.
"""
import subprocess
import sys

from PIL import Image, ImageDraw

from peer_util import load_raw_rgba, median_of, report, vips_read_input_ms, vips_workspace

raw_path, width, height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
src = load_raw_rgba(raw_path, width, height)

CASES = [("Nearest", Image.NEAREST, "nearest"), ("Linear", Image.BILINEAR, "linear"),
         ("Lanczos", Image.LANCZOS, "lanczos3"), ("Cubic", Image.BICUBIC, "cubic")]
SIZES = [("Down", (1920, 1280), 1920 / width, 7), ("Up2x", (2 * width, 2 * height), 2.0, 3)]

for prefix, size, _, runs in SIZES:
    for name, pil_filter, _ in CASES:
        ms = median_of(runs, lambda: src.resize(size, pil_filter))
        report(f"{prefix}/{name}", "pillow", ms)

# Pillow blends a translucent fill only into an RGB picture drawn in "RGBA"
# mode; into an RGBA picture it would merely store the colour.
fill = Image.new("RGB", (3840, 2160), (0x60, 0x40, 0x20))
draw = ImageDraw.Draw(fill, "RGBA")
ms = median_of(5, lambda: draw.rectangle((0, 0, 3839, 2159), fill=(0xC0, 0x80, 0x40, 0x80)))
report("FillRectBlend/4K", "pillow", ms)

with vips_workspace(raw_path, width, height) as ws:
    if ws:
        vips, src_v, out_v, env = ws
        report("ReadInput", "vips", vips_read_input_ms(vips, src_v, env, median_of))
        for prefix, _, scale, runs in SIZES:
            for name, _, kernel in CASES:
                cmd = [vips, "resize", src_v, out_v, repr(scale), "--kernel", kernel]
                ms = median_of(runs, lambda: subprocess.run(cmd, check=True, env=env))
                report(f"{prefix}/{name}", "vips", ms)
