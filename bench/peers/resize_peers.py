#!/usr/bin/python3
"""Times the resize benchmark's cases with Pillow (in process) and with
`vips resize` (one thread) on the picture the benchmark generated.

usage: resize_peers.py RAW_RGBA_FILE WIDTH HEIGHT
Prints one line per measurement: "<case> <peer> <milliseconds>", the median
of a few runs (our side reports the mean of many). The vips time is the whole command (load from a .v file in
/dev/shm, resize, save there); "ReadInput vips" is the cost of starting vips
and reading the input alone, for judging how much of it is the resize.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

from PIL import Image, ImageDraw

raw_path, width, height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
with open(raw_path, "rb") as f:
    src = Image.frombytes("RGBA", (width, height), f.read())

CASES = [("Nearest", Image.NEAREST, "nearest"), ("Linear", Image.BILINEAR, "linear"),
         ("Lanczos", Image.LANCZOS, "lanczos3"), ("Cubic", Image.BICUBIC, "cubic")]
SIZES = [("Down", (1920, 1280), 1920 / width, 7), ("Up2x", (2 * width, 2 * height), 2.0, 3)]


def median_of(n, fn):
    times = []
    for _ in range(n):
        t = time.perf_counter()
        fn()
        times.append((time.perf_counter() - t) * 1000.0)
    times.sort()
    return times[len(times) // 2]


for prefix, size, _, runs in SIZES:
    for name, pil_filter, _ in CASES:
        ms = median_of(runs, lambda: src.resize(size, pil_filter))
        print(f"{prefix}/{name} pillow {ms:.1f}", flush=True)

# Pillow blends a translucent fill only into an RGB picture drawn in "RGBA"
# mode; into an RGBA picture it would merely store the colour.
fill = Image.new("RGB", (3840, 2160), (0x60, 0x40, 0x20))
draw = ImageDraw.Draw(fill, "RGBA")
ms = median_of(5, lambda: draw.rectangle((0, 0, 3839, 2159), fill=(0xC0, 0x80, 0x40, 0x80)))
print(f"FillRectBlend/4K pillow {ms:.1f}", flush=True)

vips = shutil.which("vips")
if vips:
    work = tempfile.mkdtemp(dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    try:
        src_v = os.path.join(work, "in.v")
        out_v = os.path.join(work, "out.v")
        subprocess.run([vips, "rawload", raw_path, src_v, str(width), str(height), "4"], check=True)
        env = dict(os.environ, VIPS_CONCURRENCY="1")
        # What every vips command pays before resizing: start-up and reading
        # the whole input, measured by averaging it.
        ms = median_of(3, lambda: subprocess.run([vips, "avg", src_v], check=True, env=env,
                                               stdout=subprocess.DEVNULL))
        print(f"ReadInput vips {ms:.1f}", flush=True)
        for prefix, _, scale, runs in SIZES:
            for name, _, kernel in CASES:
                cmd = [vips, "resize", src_v, out_v, repr(scale), "--kernel", kernel]
                ms = median_of(runs, lambda: subprocess.run(cmd, check=True, env=env))
                print(f"{prefix}/{name} vips {ms:.1f}", flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
