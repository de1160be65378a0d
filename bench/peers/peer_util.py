"""What the peer scripts share: reading the benchmark's raw picture, timing a
few runs, and a scratch folder in which vips works on its own copy of the
picture with one thread.

A script prints one line per measurement, "<case> <peer> <milliseconds>", which
the benchmark program reads back into its ratio table.
"""
import contextlib
import os
import shutil
import subprocess
import tempfile
import time

from PIL import Image


def load_raw_rgba(path, width, height):
    """The benchmark's picture, written as R, G, B, A bytes."""
    with open(path, "rb") as f:
        return Image.frombytes("RGBA", (width, height), f.read())


def _times_ms(n, fn):
    times = []
    for _ in range(n):
        t = time.perf_counter()
        fn()
        times.append((time.perf_counter() - t) * 1000.0)
    return times


def median_of(n, fn):
    """The median of n runs of fn in milliseconds."""
    times = sorted(_times_ms(n, fn))
    return times[len(times) // 2]


def best_of(n, fn):
    """The fastest of n runs of fn in milliseconds."""
    return min(_times_ms(n, fn))


def report(case, peer, ms):
    print(f"{case} {peer} {ms:.1f}", flush=True)


@contextlib.contextmanager
def vips_workspace(raw_path, width, height):
    """Yields (vips, in.v, out.v, env) with the picture loaded into vips' own
    format in /dev/shm and VIPS_CONCURRENCY=1 in env, or None when vips is not
    installed; the folder is removed afterwards."""
    vips = shutil.which("vips")
    if not vips:
        yield None
        return
    work = tempfile.mkdtemp(dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    try:
        src_v = os.path.join(work, "in.v")
        out_v = os.path.join(work, "out.v")
        subprocess.run([vips, "rawload", raw_path, src_v, str(width), str(height), "4"], check=True)
        yield vips, src_v, out_v, dict(os.environ, VIPS_CONCURRENCY="1")
    finally:
        shutil.rmtree(work, ignore_errors=True)


def vips_read_input_ms(vips, src_v, env, timer):
    """What every vips command pays before its operation: start-up and reading
    the whole input, measured by averaging it."""
    return timer(3, lambda: subprocess.run([vips, "avg", src_v], check=True, env=env,
                                           stdout=subprocess.DEVNULL))
