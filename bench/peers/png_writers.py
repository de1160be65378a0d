"""Pillow as the writer of png_bench's photos: the raw R, G, B, A picture of
the given size saved with Pillow's default PNG options (its adaptive filters,
level 6) as "<kind>=<file>" asks: RGB8 without the alpha, RGBA8 with it.
Pillow writes neither Adam7 nor 16-bit colour PNG files. One Python process."""
import sys

from peer_util import load_raw_rgba


def main():
    width, height = int(sys.argv[2]), int(sys.argv[3])
    picture = load_raw_rgba(sys.argv[1], width, height)
    for arg in sys.argv[4:]:
        kind, path = arg.split("=", 1)
        (picture if kind == "RGBA8" else picture.convert("RGB")).save(path, "PNG")


main()
