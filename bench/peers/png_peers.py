"""Pillow's PNG times for png_bench: arguments after the (unused) raw picture
are "<case>=<file>" pairs to decode; the encode case saves the RGB8 file's
picture at level 9. One Python process, start-up excluded."""
import io
import sys

from PIL import Image

from peer_util import median_of, report


def main():
    rgb8 = None
    for arg in sys.argv[2:]:
        case, path = arg.split("=", 1)
        report(case, "pillow", median_of(3, lambda: Image.open(path).load()))
        if case == "Decode/RGB8":
            rgb8 = Image.open(path)
            rgb8.load()
    if rgb8 is not None:
        report("Encode/RGB8L9", "pillow", median_of(2, lambda: rgb8.save(io.BytesIO(), "PNG", compress_level=9)))


main()
