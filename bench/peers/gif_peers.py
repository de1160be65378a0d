"""Pillow's side of the GIF benchmark: decodes the benchmark's GIF file from
memory into its palette indices, in this one process (start-up excluded).
Prints "Decode pillow <ms>" (the fastest of several runs)."""
import io
import sys

from PIL import Image

from peer_util import best_of, report


def main():
    with open(sys.argv[1], "rb") as f:
        data = f.read()

    def decode():
        im = Image.open(io.BytesIO(data))
        im.load()
        assert im.mode == "P"

    decode()
    report("Decode", "pillow", best_of(7, decode))


if __name__ == "__main__":
    main()
