"""File I/O throughput: binary and ASCII PLY and XYZ, written and read, at growing sizes.

Run against a release build (scripts/dev-build.sh):  python bench/bench_io.py [sizes...]
Clouds carry points, normals and colours (XYZ stores points only). Prints, per format and
size: the file size, median seconds over several runs and MB/s of file data, for writing
(write_point_cloud) and reading (read_point_cloud). Files go to a temporary directory, so
reads come from the page cache: binary PLY reading is bounded by memory traffic, the
text formats by number parsing and formatting.
"""
import os
import tempfile

import numpy as np

from _common import argv_sizes, cloud, median_time  # before ombrix: selects a developer build

from ombrix.cpu.pybind import io

FORMATS = [("ply binary", ".ply", False), ("ply ascii", ".ply", True), ("xyz", ".xyz", False)]


def make_cloud(n):
    rng = np.random.default_rng(0)
    pts = rng.normal(scale=10.0, size=(n, 3))
    nrm = rng.normal(size=(n, 3))
    return cloud(pts, nrm / np.linalg.norm(nrm, axis=1, keepdims=True), rng.uniform(size=(n, 3)))


def main():
    sizes = argv_sizes([100_000, 1_000_000])
    print(f"{'format':>11} {'points':>9} {'file MB':>8} {'write s':>8} {'write MB/s':>10} {'read s':>8} {'read MB/s':>9}")
    with tempfile.TemporaryDirectory() as d:
        for n in sizes:
            pc = make_cloud(n)
            runs = 5 if n <= 200_000 else 3
            for name, ext, ascii in FORMATS:
                path = os.path.join(d, "bench" + ext)
                tw = median_time(lambda: io.write_point_cloud(path, pc, write_ascii=ascii), runs)
                mb = os.path.getsize(path) / 1e6
                tr = median_time(lambda: io.read_point_cloud(path), runs)
                assert len(io.read_point_cloud(path).points) == n
                print(f"{name:>11} {n:>9} {mb:>8.1f} {tw:>8.3f} {mb / tw:>10.0f} {tr:>8.3f} {mb / tr:>9.0f}")
                os.remove(path)


if __name__ == "__main__":
    main()
