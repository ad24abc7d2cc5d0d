"""Normal estimation and orientation throughput at growing cloud sizes.

    python bench/bench_normals.py [--sizes 10000,100000,1000000] [--repeat 3]
        [--orient-max 1000000]

Points are sampled on a noisy closed surface (a torus), so neighbourhoods look
like a scan's. Prints, per size and operation, the median wall time of the
repeats and points per second. Run against a release build.
"""

import argparse
import os

import numpy as np

from _common import cloud, median_time  # before ombrix: selects a developer build

from ombrix.cpu.pybind import geometry as g


def torus(n, seed=0):
    rng = np.random.default_rng(seed)
    u = rng.uniform(0, 2 * np.pi, n)
    v = rng.uniform(0, 2 * np.pi, n)
    big, small = 1.0, 0.35
    r = small + rng.normal(0, 0.002, n)
    return np.column_stack([(big + r * np.cos(v)) * np.cos(u), (big + r * np.cos(v)) * np.sin(u), r * np.sin(v)])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--sizes", default="10000,100000,1000000")
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--orient-max", type=int, default=1000000, help="largest size for the orientation benchmark")
    args = ap.parse_args()
    sizes = [int(s) for s in args.sizes.split(",")]
    threads = os.environ.get("OMBRIX_NUM_THREADS", "all CPUs")
    print(f"threads: {threads}; median of {args.repeat} runs")
    print(f"{'points':>9}  {'operation':<44} {'seconds':>9} {'points/s':>12}")
    for n in sizes:
        pts = torus(n)
        # Neighbourhood radius scaled so the hybrid search sees ~30 points.
        area = 4 * np.pi * np.pi * 1.0 * 0.35
        radius = float(np.sqrt(30 * area / (np.pi * n)))
        p = cloud(pts)
        cases = [
            ("estimate_normals KNN(30)", lambda: p.estimate_normals(g.KDTreeSearchParamKNN(30))),
            ("estimate_normals KNN(30), iterative", lambda: p.estimate_normals(g.KDTreeSearchParamKNN(30), False)),
            (f"estimate_normals Hybrid({radius:.4f}, 30)", lambda: p.estimate_normals(g.KDTreeSearchParamHybrid(radius, 30))),
        ]
        for name, fn in cases:
            t = median_time(fn, args.repeat)
            print(f"{n:>9}  {name:<44} {t:>9.3f} {n / t:>12.0f}", flush=True)
        if n <= args.orient_max:
            base = np.asarray(p.normals).copy()
            flips = np.random.default_rng(1).choice([-1.0, 1.0], size=(n, 1))

            def scramble():
                p.normals = base * flips

            t = median_time(lambda: p.orient_normals_consistent_tangent_plane(10), args.repeat, setup=scramble)
            print(f"{n:>9}  {'orient_normals_consistent_tangent_plane(10)':<44} {t:>9.3f} {n / t:>12.0f}", flush=True)


if __name__ == "__main__":
    main()
