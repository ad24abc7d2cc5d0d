"""FPFH features and RANSAC registration on synthetic scans.

Run against a release build (scripts/dev-build.sh): python bench/bench_ransac.py
Prints size, median seconds over several runs, and throughput. The clouds are points spread evenly over a closed
surface (a sphere with bumps) at a spacing of about one voxel, with exact normals; FPFH uses a hybrid search of radius 5 voxels
and at most 100 neighbours, as a typical global-registration pipeline does after voxel down-sampling.
"""
import os
import time

import numpy as np

from _common import cloud, median_time  # before ombrix: selects a developer build

from ombrix.cpu.pybind import geometry, utility
from ombrix.cpu.pybind.pipelines import registration as reg


def bumpy_sphere(n, seed, shape_seed=0, detail=None):
    """n points spread evenly over a unit sphere with bumps and dents at two scales (an object without symmetry),
    with outward unit normals; returns points, normals and the voxel size matching the point spacing. `shape_seed`
    fixes the object, `seed` the sample positions,
    `detail` the point count the small bumps are sized for (default n)."""
    srng = np.random.default_rng(shape_seed)
    # A dozen large bumps and dents give the object its shape, a few hundred small ones give FPFH something to
    # describe at the scale of its search radius.
    # The small ones scale with the point spacing, so every size has the same detail per search radius.
    spacing = np.sqrt(13.5 / (detail or n))
    small = (detail or n) // 72
    centres = srng.normal(size=(12 + small, 3))
    centres /= np.linalg.norm(centres, axis=1, keepdims=True)
    heights = np.concatenate([srng.uniform(-0.15, 0.3, 12), srng.uniform(-1.6, 1.6, small) * spacing])
    widths = np.concatenate([srng.uniform(0.15, 0.4, 12), srng.uniform(1.6, 4.8, small) * spacing])

    def surface(theta, phi):
        d = np.stack([np.sin(theta) * np.cos(phi), np.sin(theta) * np.sin(phi), np.cos(theta)], axis=-1)
        r = np.ones(len(d))
        for i in range(0, len(d), 20_000):  # bounded memory
            dist2 = 2 - 2 * d[i:i + 20_000] @ centres.T
            r[i:i + 20_000] += (heights * np.exp(-dist2 / (2 * widths**2))).sum(axis=1)
        return r[:, None] * d

    def frame(theta, phi):
        h = 1e-6
        p = surface(theta, phi)
        pt = (surface(theta + h, phi) - surface(theta - h, phi)) / (2 * h)
        pp = (surface(theta, phi + h) - surface(theta, phi - h)) / (2 * h)
        return p, np.cross(pt, pp)

    rng = np.random.default_rng(seed)
    pts, nrm, total = [], [], 0
    bound = 6.0  # above the largest area element |P_theta x P_phi| of this shape
    area_sum, area_count = 0.0, 0
    while total < n:
        theta = rng.random(2 * n) * np.pi
        phi = rng.random(2 * n) * 2 * np.pi
        p, c = frame(theta, phi)
        a = np.linalg.norm(c, axis=1)
        assert a.max() < bound
        area_sum += a.sum() * 2 * np.pi**2 / len(a)
        area_count += 1
        keep = rng.random(len(a)) * bound < a
        pts.append(p[keep])
        nrm.append(c[keep] / a[keep, None])
        total += int(keep.sum())
    pts, nrm = np.concatenate(pts)[:n], np.concatenate(nrm)[:n]
    area = area_sum / area_count
    return pts, nrm, np.sqrt(area / n)


def motion():
    R = np.asarray(geometry.get_rotation_matrix_from_xyz(np.array([0.4, -0.3, 0.8])))
    return R, np.array([0.3, 0.1, -0.2])


def main():
    threads = os.environ.get("OMBRIX_NUM_THREADS", "all cores")
    print(f"threads: {threads}")
    print("compute_fpfh_feature, hybrid search (radius 5 voxels, max_nn 100)")
    R, t = motion()
    for n in (10_000, 21_600, 100_000):
        pts, nrm, voxel = bumpy_sphere(n, 1)
        pc = cloud(pts, nrm)
        param = geometry.KDTreeSearchParamHybrid(5 * voxel, 100)
        runs = 5 if n <= 25_000 else 3
        sec, feat = median_time(lambda: reg.compute_fpfh_feature(pc, param), runs, keep=True)
        print(f"  n={n:>7,}  {sec:7.3f} s  {n / sec / 1e6:6.3f} Mpoints/s")

        # A second, partial scan for RANSAC: 80 % of the points, moved, with noise of a tenth of the spacing.
        rng = np.random.default_rng(3)
        keep = rng.random(n) < 0.8
        pts2 = pts[keep] @ R.T + t + 0.1 * voxel * rng.normal(size=(int(keep.sum()), 3))
        pc2 = cloud(pts2, nrm[keep] @ R.T)
        feat2 = reg.compute_fpfh_feature(pc2, param)
        if n == 21_600:
            pc3 = cloud(*bumpy_sphere(n, 2)[:2])  # same object, other samples
            c0 = time.process_time()
            pair_sec, _ = median_time(lambda: (reg.compute_fpfh_feature(pc, param),
                                               reg.compute_fpfh_feature(pc3, param)), 5, keep=True)
            cpu = (time.process_time() - c0) / 5
            print(f"  two clouds of 21,600 points: {pair_sec:7.3f} s  (process CPU time {cpu:.3f} s)")

        d = 1.5 * voxel
        checkers = [reg.CorrespondenceCheckerBasedOnEdgeLength(0.9), reg.CorrespondenceCheckerBasedOnDistance(d)]
        for mutual in (False, True):
            def run():
                utility.random.seed(1)
                return reg.registration_ransac_based_on_feature_matching(
                    pc, pc2, feat, feat2, mutual, d, None, 3, checkers, reg.RANSACConvergenceCriteria(100000, 0.999))
            sec, res = median_time(run, 3, keep=True)
            T = np.asarray(res.transformation)
            err = np.degrees(np.arccos(np.clip((np.trace(R.T @ T[:3, :3]) - 1) / 2, -1, 1)))
            print(f"    RANSAC (mutual_filter={mutual!s:5}) {sec:7.3f} s  fitness {res.fitness:.3f}  "
                  f"rotation error {err:.2f} deg  translation error {np.linalg.norm(T[:3, 3] - t) / voxel:.2f} voxels")


if __name__ == "__main__":
    main()
