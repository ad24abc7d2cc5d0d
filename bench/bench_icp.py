"""ICP throughput: 30 point-to-point and point-to-plane iterations at growing source sizes.

Run against a release build:  python bench/bench_icp.py [sizes...]
Prints, per size and method: median seconds over several runs, and source points matched per second
(size x 31 matchings / time).
"""
import os

import numpy as np

from _common import argv_sizes, cloud, median_time  # before ombrix: selects a developer build

from ombrix.cpu.pybind.pipelines import registration as reg


def surface(n, seed):
    rng = np.random.default_rng(seed)
    xy = rng.uniform(-1, 1, (n, 2))
    z = 0.3 * np.sin(2 * xy[:, 0]) * np.cos(1.5 * xy[:, 1]) + 0.2 * xy[:, 0] * xy[:, 1]
    dzdx = 0.6 * np.cos(2 * xy[:, 0]) * np.cos(1.5 * xy[:, 1]) + 0.2 * xy[:, 1]
    dzdy = -0.45 * np.sin(2 * xy[:, 0]) * np.sin(1.5 * xy[:, 1]) + 0.2 * xy[:, 0]
    nrm = np.stack([-dzdx, -dzdy, np.ones(n)], 1)
    nrm /= np.linalg.norm(nrm, axis=1, keepdims=True)
    return np.column_stack([xy, z]), nrm


def make_clouds(n):
    tgt, nrm = surface(n, 1)
    src, _ = surface(n, 2)  # a different sampling of the same surface
    a, b, c = 0.03, -0.02, 0.04
    r = np.array([[1, -c, b], [c, 1, -a], [-b, a, 1]])
    uu, _, vt = np.linalg.svd(r)
    src = src @ (uu @ vt).T + [0.02, -0.01, 0.015]
    return cloud(src), cloud(tgt, nrm)


def main():
    sizes = argv_sizes([10_000, 100_000, 1_000_000])
    crit = reg.ICPConvergenceCriteria(relative_fitness=0.0, relative_rmse=0.0, max_iteration=30)  # all 30 run
    methods = [("point-to-point", reg.TransformationEstimationPointToPoint()),
               ("point-to-plane", reg.TransformationEstimationPointToPlane())]
    print(f"threads: {os.environ.get('OMBRIX_NUM_THREADS', 'all')}")
    print(f"{'points':>10} {'method':>15} {'median s':>10} {'Mpts/s':>8} {'fitness':>8}")
    for n in sizes:
        src, tgt = make_clouds(n)
        runs = 5 if n <= 100_000 else 3
        for name, m in methods:
            med, r = median_time(lambda: reg.registration_icp(src, tgt, 0.1, None, m, crit), runs, keep=True)
            print(f"{n:>10} {name:>15} {med:>10.4f} {n * 31 / med / 1e6:>8.2f} {r.fitness:>8.4f}")


if __name__ == "__main__":
    main()
