#!/usr/bin/python3
"""Times the rotation benchmark's case with Pillow (in process) and with
`vips rotate` (one thread) on the picture the benchmark generated.

usage: rotate_peers.py RAW_RGBA_FILE WIDTH HEIGHT DEGREES
Prints one line per measurement: "<case> <peer> <milliseconds>", the best of
a few runs. Pillow runs rotate(DEGREES, BICUBIC, expand=True). The vips time
is the whole command with the bicubic interpolator (load from a .v file in
/dev/shm, rotate, save there); "ReadInput vips" is the cost of starting vips
and reading the input alone, for judging how much of it is the rotation.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

from PIL import Image

raw_path, width, height, degrees = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
case = f"RotateByAngle/{degrees:g}"
with open(raw_path, "rb") as f:
    src = Image.frombytes("RGBA", (width, height), f.read())


def best_of(n, fn):
    best = None
    for _ in range(n):
        t = time.perf_counter()
        fn()
        d = (time.perf_counter() - t) * 1000.0
        best = d if best is None or d < best else best
    return best


ms = best_of(3, lambda: src.rotate(degrees, Image.BICUBIC, expand=True))
print(f"{case} pillow {ms:.1f}", flush=True)

vips = shutil.which("vips")
if vips:
    work = tempfile.mkdtemp(dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    try:
        src_v = os.path.join(work, "in.v")
        out_v = os.path.join(work, "out.v")
        subprocess.run([vips, "rawload", raw_path, src_v, str(width), str(height), "4"], check=True)
        env = dict(os.environ, VIPS_CONCURRENCY="1")
        ms = best_of(3, lambda: subprocess.run([vips, "avg", src_v], check=True, env=env,
                                               stdout=subprocess.DEVNULL))
        print(f"ReadInput vips {ms:.1f}", flush=True)
        cmd = [vips, "rotate", src_v, out_v, repr(degrees), "--interpolate", "bicubic"]
        ms = best_of(3, lambda: subprocess.run(cmd, check=True, env=env))
        print(f"{case} vips {ms:.1f}", flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
