#!/usr/bin/python3
"""Times the rotation benchmark's case with Pillow, in this one process with
its start-up left out, on the picture the benchmark generated.

usage: rotate_peers.py RAW_RGBA_FILE WIDTH HEIGHT DEGREES
Prints "<case> pillow <milliseconds>", the best of three runs of
rotate(DEGREES, BICUBIC, expand=True) on the RGBA picture.
"""
import sys

from PIL import Image

from peer_util import best_of, load_raw_rgba, report

raw_path, width, height, degrees = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
src = load_raw_rgba(raw_path, width, height)
ms = best_of(3, lambda: src.rotate(degrees, Image.BICUBIC, expand=True))
report(f"RotateByAngle/{degrees:g}", "pillow", ms)
