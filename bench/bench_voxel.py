"""Voxel down-sampling throughput at growing cloud sizes.

Run against a release build:  python bench/bench_voxel.py [sizes...]
Points are spread over a unit-cube surface patch with normals and colours, and down-sampled at two voxel sizes:
a coarse one (many points per voxel) and a fine one (about one to a few points per voxel, so the map grows large).
Prints, per size and voxel size: output points, median seconds over several runs and input points per second.
Voxel-grid creation over the same cloud is timed alongside.
"""
import statistics
import sys
import time

import numpy as np

from ombrix.cpu.pybind import geometry as g
from ombrix.cpu.pybind import utility as u


def make_cloud(n):
    rng = np.random.default_rng(1)
    xy = rng.uniform(0, 1, (n, 2))
    z = 0.2 * np.sin(6 * xy[:, 0]) * np.cos(4 * xy[:, 1])
    pc = g.PointCloud()
    pc.points = u.Vector3dVector(np.column_stack([xy, z]))
    nrm = rng.normal(0, 1, (n, 3))
    pc.normals = u.Vector3dVector(nrm / np.linalg.norm(nrm, axis=1, keepdims=True))
    pc.colors = u.Vector3dVector(rng.uniform(0, 1, (n, 3)))
    return pc


def timed(fn, runs):
    times, out = [], None
    for _ in range(runs):
        t0 = time.perf_counter()
        out = fn()
        times.append(time.perf_counter() - t0)
    return statistics.median(times), out


def main():
    sizes = [int(float(x)) for x in sys.argv[1:]] or [10_000, 100_000, 1_000_000]
    print(f"{'points':>10} {'operation':>18} {'voxel':>7} {'out':>9} {'median s':>10} {'Mpts/s':>8}")
    for n in sizes:
        pc = make_cloud(n)
        runs = 7 if n <= 100_000 else 3
        fine = 1.0 / np.sqrt(n)  # about one point per cell of the patch
        for voxel in (0.05, fine):
            med, out = timed(lambda: pc.voxel_down_sample(voxel), runs)
            print(f"{n:>10} {'voxel_down_sample':>18} {voxel:>7.4f} {len(out.points):>9} {med:>10.4f} "
                  f"{n / med / 1e6:>8.2f}")
        med, grid = timed(lambda: g.VoxelGrid.create_from_point_cloud(pc, fine), runs)
        print(f"{n:>10} {'VoxelGrid':>18} {fine:>7.4f} {len(grid.get_voxels()):>9} {med:>10.4f} {n / med / 1e6:>8.2f}")


if __name__ == "__main__":
    main()
