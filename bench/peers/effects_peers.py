#!/usr/bin/python3
"""Times the effect hot paths beside the closest Pillow and vips operations.

One 6000 x 4000 RGB picture is generated (gradients with Gaussian noise) and
written as PPM; effects_bench reads it and times ours (one thread and every
core) and libvips through its C API in its own process (concurrency 1 and
vips' default); Pillow works on the same pixels in memory in this process,
with its start-up left out.

Usage: /usr/bin/python3 bench/peers/effects_peers.py [path/to/effects_bench]
(default: build-bench/bench/effects_bench beside this checkout).
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

from PIL import Image, ImageChops, ImageFilter

import peer_util

W, H = 6000, 4000
REPEATS = 3


def make_picture():
    # Gradients across and down the picture with Gaussian noise on top, built
    # from Pillow's own generators so that the script needs nothing else.
    gy = Image.linear_gradient("L").resize((W, H))
    gx = Image.linear_gradient("L").rotate(90).resize((W, H))
    noise = Image.effect_noise((W, H), 20)
    r = ImageChops.add(gx, noise, 1.0, -128)
    g = ImageChops.add(gy, noise, 1.0, -128)
    b = ImageChops.add(ImageChops.difference(gx, gy), noise, 1.0, -128)
    return Image.merge("RGB", (r, g, b))


def best_of(fn):
    return peer_util.best_of(REPEATS, fn)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    bench = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "build-bench", "bench", "effects_bench")
    tmp = tempfile.mkdtemp(prefix="effects_peers_")
    try:
        print("generating %dx%d picture ..." % (W, H), flush=True)
        img = make_picture()
        ppm = os.path.join(tmp, "in.ppm")
        img.save(ppm)
        # Ours.
        out = subprocess.run([bench, "--benchmark_format=json", "--benchmark_min_time=1"],
                             check=True, capture_output=True, text=True,
                             env=dict(os.environ, VEMRA_BENCH_IMAGE=ppm)).stdout
        times = {}
        threads = {"ours": os.environ.get("VEMRA_THREADS") or os.cpu_count()}
        for b in json.loads(out)["benchmarks"]:
            name, arg = b["name"].split("/")[0].replace("BM_", ""), b["name"].split("/")[1]
            times[(name, arg)] = b["real_time"]
            # The thread count vips reported back when set to its default.
            if name.startswith("Vips_") and arg == "0" and "threads" in b:
                threads["vips"] = int(b["threads"])

        # Pillow (single-threaded by design); the flat picture as the median's best case.
        flat = Image.new("RGB", (W, H))
        for by in range(0, H, 64):
            for bx in range(0, W, 64):
                k = (bx // 64 + by // 64) % 5
                flat.paste((k * 0x33, k * 0x22, k * 0x11), (bx, by, min(bx + 64, W), min(by + 64, H)))
        lut = [255 - i for i in range(256)] + [i // 2 for i in range(256)] + [(i * 7) & 255 for i in range(256)]
        pillow = {
            "Convolve3x3Blur": best_of(lambda: img.filter(ImageFilter.Kernel((3, 3), [1, 1, 1, 1, 4, 1, 1, 1, 1], 12))),
            "Convolve3x3Sharpen": best_of(lambda: img.filter(
                ImageFilter.Kernel((3, 3), [-1, -1, -1, -1, 16, -1, -1, -1, -1], 8))),
            "Convolve5x5Box": best_of(lambda: img.filter(ImageFilter.Kernel((5, 5), [1] * 25, 25))),
            "Median3x3": best_of(lambda: img.filter(ImageFilter.MedianFilter(3))),
            "Median3x3Flat": best_of(lambda: flat.filter(ImageFilter.MedianFilter(3))),
            "ApplyLut3": best_of(lambda: img.point(lut)),
            "Greyscale": best_of(lambda: img.convert("L")),
        }

        print("\n%-20s %9s %9s %7s %9s %6s %9s %6s %9s %6s" % (
            "operation", "ours 1t", "ours all", "speedup", "Pillow", "ratio", "vips 1t", "ratio", "vips all", "ratio"))
        for name in ["Convolve3x3Blur", "Convolve3x3Sharpen", "Convolve5x5Box", "Median3x3", "Median3x3Flat",
                     "ApplyLut3", "Greyscale", "CopyPicture"]:
            o1, on = times.get((name, "1")), times.get((name, "0"))
            p = pillow.get(name)
            v1, vn = times.get(("Vips_" + name, "1")), times.get(("Vips_" + name, "0"))
            fmt = lambda t: "%.1f" % t if t else "-"
            ratio = lambda peer, ours: "%.2f" % (peer / ours) if peer and ours else "-"
            print("%-20s %9s %9s %7s %9s %6s %9s %6s %9s %6s" % (
                name, fmt(o1), fmt(on), ratio(o1, on), fmt(p), ratio(p, o1), fmt(v1), ratio(v1, o1), fmt(vn),
                ratio(vn, on)))
        print("\nthreads: ours %s, vips default %s; load average %s" % (
            threads.get("ours", "-"), threads.get("vips", "-"), "%.2f %.2f %.2f" % os.getloadavg()))
        print("(ratio = peer time / our time, above 1: ours is faster; vips all is set against ours on every core)")
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
