"""Pillow's side of the GIF reduction benchmark: quantize the benchmark's
picture to 256 colours with the fast octree, in this one process (start-up
excluded). Prints "Octree pillow <ms>" (the fastest of several runs) and
"OctreeError pillow <mean absolute error per channel>" and "OctreeRms pillow
<root-mean-square error per channel>" of its result."""
import sys

from PIL import Image

from peer_util import best_of, load_raw_rgba, report


def main():
    path, width, height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    rgb = load_raw_rgba(path, width, height).convert("RGB")
    result = {}

    def run():
        result["q"] = rgb.quantize(256, method=Image.Quantize.FASTOCTREE)

    run()
    report("Octree", "pillow", best_of(3, run))
    back = result["q"].convert("RGB")
    from PIL import ImageChops, ImageStat
    diff = ImageStat.Stat(ImageChops.difference(rgb, back))
    print(f"OctreeError pillow {sum(diff.mean) / 3:.3f}", flush=True)
    print(f"OctreeRms pillow {(sum(r * r for r in diff.rms) / 3) ** 0.5:.3f}", flush=True)


if __name__ == "__main__":
    main()
