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
import subprocess
import sys

from PIL import Image

from peer_util import best_of, load_raw_rgba, report, vips_read_input_ms, vips_workspace

raw_path, width, height, degrees = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
case = f"RotateByAngle/{degrees:g}"
src = load_raw_rgba(raw_path, width, height)

ms = best_of(3, lambda: src.rotate(degrees, Image.BICUBIC, expand=True))
report(case, "pillow", ms)

with vips_workspace(raw_path, width, height) as ws:
    if ws:
        vips, src_v, out_v, env = ws
        report("ReadInput", "vips", vips_read_input_ms(vips, src_v, env, best_of))
        cmd = [vips, "rotate", src_v, out_v, repr(degrees), "--interpolate", "bicubic"]
        ms = best_of(3, lambda: subprocess.run(cmd, check=True, env=env))
        report(case, "vips", ms)
