"""The global-then-local registration pipeline used by the command-line tool.

down-sample -> normals -> FPFH -> RANSAC on feature matches -> point-to-plane ICP.
"""
from __future__ import annotations

import math
import time
from dataclasses import dataclass, field
from typing import Callable

import numpy as np

from ombrix.cpu.pybind import geometry, utility
from ombrix.cpu.pybind.pipelines import registration as reg


@dataclass
class Step:
    name: str
    seconds: float
    detail: str


@dataclass
class PipelineResult:
    transformation: np.ndarray
    ransac_fitness: float
    icp_fitness: float
    icp_inlier_rmse: float
    steps: list[Step] = field(default_factory=list)


def _cloud(points: np.ndarray) -> geometry.PointCloud:
    pcd = geometry.PointCloud()
    pcd.points = np.ascontiguousarray(points, dtype=np.float64)
    return pcd


def register_clouds(source: geometry.PointCloud, target: geometry.PointCloud, voxel_size: float, seed: int = 0,
                    progress: Callable[[str], None] | None = None) -> PipelineResult:
    """Aligns source onto target; returns the 4x4 transformation and per-step timings."""
    say = progress or (lambda _msg: None)
    steps: list[Step] = []

    def timed(name: str, fn):
        say(name + " ...")
        t0 = time.perf_counter()
        out = fn()
        steps.append(Step(name, time.perf_counter() - t0, ""))
        return out

    src_down = timed("voxel down-sampling", lambda: source.voxel_down_sample(voxel_size))
    tgt_down = target.voxel_down_sample(voxel_size)
    steps[-1].detail = f"{len(source.points)} -> {len(src_down.points)} and {len(target.points)} -> {len(tgt_down.points)} points"

    normal_param = geometry.KDTreeSearchParamHybrid(radius=2.0 * voxel_size, max_nn=30)

    def normals():
        for pcd in (src_down, tgt_down):
            pcd.estimate_normals(normal_param)

    timed("normal estimation", normals)
    steps[-1].detail = "hybrid search, radius %.4g, at most 30 neighbours" % (2.0 * voxel_size)

    feature_param = geometry.KDTreeSearchParamHybrid(radius=5.0 * voxel_size, max_nn=100)
    feats = timed("FPFH features", lambda: (reg.compute_fpfh_feature(src_down, feature_param),
                                            reg.compute_fpfh_feature(tgt_down, feature_param)))
    steps[-1].detail = "33 bins, radius %.4g" % (5.0 * voxel_size)

    distance = 1.5 * voxel_size
    utility.random.seed(seed)
    checkers = [reg.CorrespondenceCheckerBasedOnEdgeLength(0.9), reg.CorrespondenceCheckerBasedOnDistance(distance)]
    ransac = timed("RANSAC on feature matches", lambda: reg.registration_ransac_based_on_feature_matching(
        src_down, tgt_down, feats[0], feats[1], True, distance,
        reg.TransformationEstimationPointToPoint(False), 3, checkers,
        reg.RANSACConvergenceCriteria(100000, 0.999)))
    steps[-1].detail = "fitness %.4f, inlier RMSE %.4g, %d inliers" % (
        ransac.fitness, ransac.inlier_rmse, len(ransac.correspondence_set))

    icp = timed("point-to-plane ICP", lambda: reg.registration_icp(
        src_down, tgt_down, 0.8 * voxel_size, ransac.transformation,
        reg.TransformationEstimationPointToPlane(), reg.ICPConvergenceCriteria(1e-6, 1e-6, 50)))
    steps[-1].detail = "fitness %.4f, inlier RMSE %.4g" % (icp.fitness, icp.inlier_rmse)

    return PipelineResult(np.asarray(icp.transformation), ransac.fitness, icp.fitness, icp.inlier_rmse, steps)


def transformation_error(estimate: np.ndarray, truth: np.ndarray) -> tuple[float, float]:
    """(rotation error in degrees, translation error) between two rigid transformations."""
    r = estimate[:3, :3] @ truth[:3, :3].T
    cos = max(-1.0, min(1.0, (np.trace(r) - 1.0) / 2.0))
    return math.degrees(math.acos(cos)), float(np.linalg.norm(estimate[:3, 3] - truth[:3, 3]))
