"""Voxel down-sampling throughput at growing cloud sizes.

Run against a release build:  python bench/bench_voxel.py [sizes...]
Points are spread over a unit-cube surface patch with normals and colours, and down-sampled at two voxel sizes:
a coarse one (many points per voxel) and a fine one (about one to a few points per voxel, so the map grows large).
Prints, per size and voxel size: output points, median seconds over several runs and input points per second.
Voxel-grid creation over the same cloud is timed alongside.
"""
import numpy as np

from _common import argv_sizes, cloud, median_time  # before ombrix: selects a developer build

from ombrix.cpu.pybind import geometry as g


def make_cloud(n):
    rng = np.random.default_rng(1)
    xy = rng.uniform(0, 1, (n, 2))
    z = 0.2 * np.sin(6 * xy[:, 0]) * np.cos(4 * xy[:, 1])
    nrm = rng.normal(0, 1, (n, 3))
    nrm /= np.linalg.norm(nrm, axis=1, keepdims=True)
    return cloud(np.column_stack([xy, z]), nrm, rng.uniform(0, 1, (n, 3)))


def main():
    sizes = argv_sizes([10_000, 100_000, 1_000_000])
    print(f"{'points':>10} {'operation':>18} {'voxel':>7} {'out':>9} {'median s':>10} {'Mpts/s':>8}")
    for n in sizes:
        pc = make_cloud(n)
        runs = 7 if n <= 100_000 else 3
        fine = 1.0 / np.sqrt(n)  # about one point per cell of the patch
        for voxel in (0.05, fine):
            med, out = median_time(lambda: pc.voxel_down_sample(voxel), runs, keep=True)
            print(f"{n:>10} {'voxel_down_sample':>18} {voxel:>7.4f} {len(out.points):>9} {med:>10.4f} "
                  f"{n / med / 1e6:>8.2f}")
        med, grid = median_time(lambda: g.VoxelGrid.create_from_point_cloud(pc, fine), runs, keep=True)
        print(f"{n:>10} {'VoxelGrid':>18} {fine:>7.4f} {len(grid.get_voxels()):>9} {med:>10.4f} {n / med / 1e6:>8.2f}")


if __name__ == "__main__":
    main()
