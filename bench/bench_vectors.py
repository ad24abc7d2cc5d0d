"""Vector containers and PointCloud attribute exchange with NumPy.

Run against a release build (scripts/dev-build.sh): python bench/bench_vectors.py
Prints size, median seconds over several runs, and throughput.
"""
import numpy as np

from _common import cloud, median_time  # before ombrix: selects a developer build

from ombrix.cpu.pybind import geometry, utility


def bench_asarray():
    print("numpy.asarray(pcd.points): cost must not depend on the point count")
    for n in (10**3, 10**6):
        p = cloud(np.random.default_rng(0).random((n, 3)))
        t = median_time(lambda: np.asarray(p.points), runs=7, inner=2000)
        print(f"  n={n:>9,}  {t * 1e6:8.2f} us per call")


def bench_assign():
    print("pcd.points = contiguous (n, 3) float64 array (one block copy into the kept buffer)")
    for n in (10**5, 10**6, 10**7):
        a = np.random.default_rng(1).random((n, 3))
        p = cloud(a)  # the first assignment sizes the buffer
        runs = 7 if n < 10**7 else 5

        def assign():
            p.points = a

        t = median_time(assign, runs=runs, inner=max(1, 10**6 // n))
        gbs = a.nbytes / t / 1e9
        print(f"  n={n:>11,}  {t:.6f} s  {gbs:6.2f} GB/s  ({a.nbytes / 1e6:.0f} MB)")
        fresh = median_time(lambda: setattr(geometry.PointCloud(), "points", a), runs=runs)
        print(f"  {'':13}  {fresh:.6f} s  {a.nbytes / fresh / 1e9:6.2f} GB/s  into a new cloud")


def bench_construct():
    print("Vector3dVector(...) construction")
    for n in (10**3, 10**5, 10**6):
        a = np.random.default_rng(2).random((n, 3))
        lst = a.tolist()
        runs = 5
        t_arr = median_time(lambda: utility.Vector3dVector(a), runs=runs, inner=max(1, 10**5 // n))
        t_f32 = median_time(lambda: utility.Vector3dVector(a.astype(np.float32)), runs=runs, inner=max(1, 10**5 // n))
        t_lst = median_time(lambda: utility.Vector3dVector(lst), runs=3)
        print(
            f"  n={n:>9,}  float64 array {t_arr:.6f} s ({n / t_arr / 1e6:8.1f} M el/s)"
            f"  float32 array {t_f32:.6f} s ({n / t_f32 / 1e6:7.1f} M el/s)"
            f"  list {t_lst:.6f} s ({n / t_lst / 1e6:6.2f} M el/s)"
        )


if __name__ == "__main__":
    bench_asarray()
    bench_assign()
    bench_construct()
