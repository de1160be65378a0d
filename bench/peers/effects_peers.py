#!/usr/bin/python3
"""Times the effect hot paths beside the closest Pillow and vips operations.

One 6000 x 4000 RGB picture is generated (gradients with Gaussian noise) and
written once as PPM and once in vips' own format; effects_bench reads the PPM,
Pillow works on the same pixels in memory, vips reads its copy. vips runs with
VIPS_CONCURRENCY=1 so every contestant is single-threaded; its time is the
command's wall time less the time of a plain copy of the same file, so process
start and file writing are not charged to the operation.

Usage: /usr/bin/python3 bench/peers/effects_peers.py [path/to/effects_bench]
(default: /work/build-effects-bench/bench/effects_bench).
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


def vips_time(args, env, copy_ms):
    def run():
        subprocess.run(["vips"] + args, check=True, env=env, stdout=subprocess.DEVNULL)
    return max(best_of(run) - copy_ms, 0.0)


def main():
    bench = sys.argv[1] if len(sys.argv) > 1 else "/work/build-effects-bench/bench/effects_bench"
    tmp = tempfile.mkdtemp(prefix="effects_peers_")
    try:
        print("generating %dx%d picture ..." % (W, H), flush=True)
        img = make_picture()
        ppm = os.path.join(tmp, "in.ppm")
        img.save(ppm)
        vin = os.path.join(tmp, "in.v")
        vout = os.path.join(tmp, "out.v")
        env = dict(os.environ, VIPS_CONCURRENCY="1")
        subprocess.run(["vips", "copy", ppm, vin], check=True, env=env)
        with open(os.path.join(tmp, "blur3.mat"), "w") as f:
            f.write("3 3 12 0\n1 1 1\n1 4 1\n1 1 1\n")
        with open(os.path.join(tmp, "sharpen3.mat"), "w") as f:
            f.write("3 3 8 0\n-1 -1 -1\n-1 16 -1\n-1 -1 -1\n")
        with open(os.path.join(tmp, "box5.mat"), "w") as f:
            f.write("5 5 25 0\n" + "1 1 1 1 1\n" * 5)

        # Ours.
        out = subprocess.run([bench, "--benchmark_format=json", "--benchmark_min_time=1"],
                             check=True, capture_output=True, text=True,
                             env=dict(os.environ, VEMRA_BENCH_IMAGE=ppm)).stdout
        ours = {b["name"].split("/")[0].replace("BM_", ""): b["real_time"] for b in json.loads(out)["benchmarks"]}

        # Pillow (single-threaded by design).
        lut = [255 - i for i in range(256)] + [i // 2 for i in range(256)] + [(i * 7) & 255 for i in range(256)]
        pillow = {
            "Convolve3x3Blur": best_of(lambda: img.filter(ImageFilter.Kernel((3, 3), [1, 1, 1, 1, 4, 1, 1, 1, 1], 12))),
            "Convolve3x3Sharpen": best_of(lambda: img.filter(
                ImageFilter.Kernel((3, 3), [-1, -1, -1, -1, 16, -1, -1, -1, -1], 8))),
            "Convolve5x5Box": best_of(lambda: img.filter(ImageFilter.Kernel((5, 5), [1] * 25, 25))),
            "Median3x3": best_of(lambda: img.filter(ImageFilter.MedianFilter(3))),
            "ApplyLut3": best_of(lambda: img.point(lut)),
            "Greyscale": best_of(lambda: img.convert("L")),
        }

        # vips, less the cost of a plain copy through the same files.
        copy_ms = best_of(lambda: subprocess.run(["vips", "copy", vin, vout], check=True, env=env))
        vips = {
            "Convolve3x3Blur": vips_time(["conv", vin, vout, os.path.join(tmp, "blur3.mat"),
                                          "--precision", "integer"], env, copy_ms),
            "Convolve3x3Sharpen": vips_time(["conv", vin, vout, os.path.join(tmp, "sharpen3.mat"),
                                             "--precision", "integer"], env, copy_ms),
            "Convolve5x5Box": vips_time(["conv", vin, vout, os.path.join(tmp, "box5.mat"),
                                         "--precision", "integer"], env, copy_ms),
            "Median3x3": vips_time(["rank", vin, vout, "3", "3", "4"], env, copy_ms),
        }

        print("\n%-20s %10s %10s %10s %12s %12s" % ("operation", "ours ms", "Pillow ms", "vips ms",
                                                   "ours/Pillow", "ours/vips"))
        for name, t in ours.items():
            p = pillow.get(name)
            v = vips.get(name)
            print("%-20s %10.1f %10s %10s %12s %12s" % (
                name, t,
                "%.1f" % p if p is not None else "-",
                "%.1f" % v if v is not None else "-",
                "%.2f" % (t / p) if p else "-",
                "%.2f" % (t / v) if v else "-"))
        print("\n(vips times are wall time less a plain copy of %.1f ms; ratios below 1 mean ours is faster)"
              % copy_ms)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
