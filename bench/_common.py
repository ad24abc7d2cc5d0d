"""What every benchmark script shares: import path, timer, cloud builder and size arguments.

Importing this module puts the tree's src/ first on sys.path when a developer build
(scripts/dev-build.sh) is linked there, so the scripts measure that build rather than an
installed ombrix; import it before ombrix.
"""
import statistics
import sys
import time
from pathlib import Path

_SRC = Path(__file__).resolve().parents[1] / "src"
if list((_SRC / "ombrix" / "cpu").glob("pybind*.so")):
    sys.path.insert(0, str(_SRC))

from ombrix.cpu.pybind import geometry  # noqa: E402


def median_time(fn, runs, inner=1, setup=None, keep=False):
    """Median over `runs` timings of `inner` back-to-back calls of fn, in seconds per call.

    `setup`, when given, runs before each timing, outside the timed region (e.g. to restore
    the state fn changes). With `keep`, returns (median, fn's last result): each result then
    lives until the next call replaces it, instead of being freed within its own timing.
    """
    times, out = [], None
    for _ in range(runs):
        if setup is not None:
            setup()
        t0 = time.perf_counter()
        if keep:
            for _ in range(inner):
                out = fn()
        else:
            for _ in range(inner):
                fn()
        times.append((time.perf_counter() - t0) / inner)
    med = statistics.median(times)
    return (med, out) if keep else med


def cloud(points, normals=None, colors=None):
    """A PointCloud holding the given (n, 3) arrays."""
    pc = geometry.PointCloud()
    pc.points = points
    if normals is not None:
        pc.normals = normals
    if colors is not None:
        pc.colors = colors
    return pc


def argv_sizes(default):
    """Point counts from the command line (`1e5` allowed), else `default`."""
    return [int(float(x)) for x in sys.argv[1:]] or default
