"""KDTreeFlann: build time, query throughput and per-call overhead.

Run against a release build (scripts/dev-build.sh): python bench/bench_kdtree.py [--quick]
Prints size, median seconds over several runs, and throughput. Queries are
issued one Python call each, so the figures include the binding overhead
(measured on its own at the end).
"""
import sys

import numpy as np

from _common import cloud, median_time  # before ombrix: selects a developer build

from ombrix.cpu.pybind import geometry

QUICK = "--quick" in sys.argv


def query_rate(fn, queries, runs=3):
    def run():
        for q in queries:
            fn(q)

    t = median_time(run, runs=runs)
    return len(queries) / t, t / len(queries)


def bench_3d():
    print("3-D points uniform in the unit cube")
    sizes = (10**4, 10**5) if QUICK else (10**4, 10**5, 10**6)
    for n in sizes:
        rng = np.random.default_rng(n)
        pts = rng.random((n, 3))
        pc = cloud(pts)
        runs = 5 if n < 10**6 else 3
        t_build = median_time(lambda: geometry.KDTreeFlann(pc), runs=runs)
        tree = geometry.KDTreeFlann(pc)
        queries = [q for q in rng.random((2000, 3))]
        # A radius holding about 30 points on average.
        radius = (30 / n * 3 / (4 * np.pi)) ** (1 / 3)
        print(f"  n={n:>9,}  build {t_build:8.4f} s  ({n / t_build / 1e6:6.2f} M points/s)")
        for label, fn in (
            ("knn k=1 ", lambda q: tree.search_knn_vector_3d(q, 1)),
            ("knn k=30", lambda q: tree.search_knn_vector_3d(q, 30)),
            (f"radius r={radius:.4f}", lambda q: tree.search_radius_vector_3d(q, radius)),
            ("hybrid r, max_nn=30", lambda q: tree.search_hybrid_vector_3d(q, radius, 30)),
        ):
            rate, per = query_rate(fn, queries)
            print(f"      {label:<22} {rate / 1e3:8.1f} k queries/s  ({per * 1e6:7.2f} us per query)")


def bench_33d():
    print("33-D features (FPFH-like: non-negative, summing to 300 per point)")
    sizes = (10**4,) if QUICK else (10**4, 10**5)
    for n in sizes:
        rng = np.random.default_rng(n + 33)
        f = rng.dirichlet(np.ones(33), size=n) * 300.0
        data = np.ascontiguousarray(f.T)
        runs = 5 if n < 10**5 else 3
        t_build = median_time(lambda: geometry.KDTreeFlann(data), runs=runs)
        tree = geometry.KDTreeFlann(data)
        queries = [np.ascontiguousarray(q) for q in rng.dirichlet(np.ones(33), size=300) * 300.0]
        print(f"  n={n:>9,}  build {t_build:8.4f} s  ({n / t_build / 1e6:6.2f} M points/s)")
        for label, fn in (
            ("knn k=1 ", lambda q: tree.search_knn_vector_xd(q, 1)),
            ("knn k=30", lambda q: tree.search_knn_vector_xd(q, 30)),
        ):
            rate, per = query_rate(fn, queries)
            print(f"      {label:<22} {rate / 1e3:8.2f} k queries/s  ({per * 1e6:9.2f} us per query)")


def bench_call_overhead():
    print("cost of one search_knn_vector_3d call (k=1, 16-point tree)")
    tree = geometry.KDTreeFlann(cloud(np.random.default_rng(0).random((16, 3))))
    for label, q in (("float64 array", np.array([0.5, 0.5, 0.5])), ("list", [0.5, 0.5, 0.5]),
                     ("tuple", (0.5, 0.5, 0.5))):
        f = tree.search_knn_vector_3d
        t = median_time(lambda: f(q, 1), runs=7, inner=20000)
        print(f"  query as {label:<14} {t * 1e6:6.2f} us per call")


if __name__ == "__main__":
    bench_3d()
    bench_33d()
    bench_call_overhead()
