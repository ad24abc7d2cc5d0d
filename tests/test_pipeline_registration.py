"""End to end: two partial, noisy scans of one synthetic object, the second moved by a known rigid motion, are
aligned by voxel down-sampling, normal estimation (oriented towards each scan's camera), FPFH features, RANSAC on
feature matches and point-to-plane ICP."""
import numpy as np

from ombrix.cpu.pybind import geometry, utility
from ombrix.cpu.pybind.pipelines import registration as reg

VOXEL = 0.05


def bumpy_sphere(n, rng, shape_seed=0):
    """n points spread evenly over a unit sphere with large and small bumps (no symmetry; detail at the scale
    of the feature radius), and their outward normals."""
    srng = np.random.default_rng(shape_seed)
    centres = srng.normal(size=(162, 3))
    centres /= np.linalg.norm(centres, axis=1, keepdims=True)
    heights = np.concatenate([srng.uniform(-0.15, 0.3, 12), srng.uniform(-0.06, 0.06, 150)])
    widths = np.concatenate([srng.uniform(0.15, 0.4, 12), srng.uniform(0.08, 0.2, 150)])

    # The surface is P(d) = r(d)·d over unit directions d, with r = 1 + sum of h·exp((d·c − 1) / w²). Its outward
    # normal is along r·d − g and its area element is r·√(r² + |g|²) per unit solid angle, g being the tangential
    # gradient of r.
    pts, nrm, total = [], [], 0
    while total < n:
        d = rng.normal(size=(n, 3))
        d /= np.linalg.norm(d, axis=1, keepdims=True)
        e = heights * np.exp((d @ centres.T - 1) / widths**2)
        r = 1 + e.sum(axis=1)
        g = (e / widths**2) @ centres
        g -= (g * d).sum(axis=1, keepdims=True) * d
        normal = r[:, None] * d - g
        area = r * np.linalg.norm(normal, axis=1)
        assert area.max() < 4.0
        keep = rng.random(n) * 4.0 < area  # area-uniform: accept in proportion to the area element
        pts.append(r[keep, None] * d[keep])
        nrm.append(normal[keep] / np.linalg.norm(normal[keep], axis=1, keepdims=True))
        total += int(keep.sum())
    return np.concatenate(pts)[:n], np.concatenate(nrm)[:n]


def scan(camera, rng, noise=0.1 * VOXEL):
    """The part of the object facing `camera`, sampled afresh, with Gaussian noise."""
    pts, nrm = bumpy_sphere(30_000, rng)
    visible = ((camera - pts) * nrm).sum(axis=1) > 0
    return pts[visible] + noise * rng.normal(size=(int(visible.sum()), 3))


def prepare(points, camera):
    pc = geometry.PointCloud()
    pc.points = utility.Vector3dVector(np.ascontiguousarray(points))
    down = pc.voxel_down_sample(VOXEL)
    down.estimate_normals(geometry.KDTreeSearchParamHybrid(2 * VOXEL, 30))
    down.orient_normals_towards_camera_location(camera)
    fpfh = reg.compute_fpfh_feature(down, geometry.KDTreeSearchParamHybrid(5 * VOXEL, 100))
    return down, fpfh


def test_two_partial_scans_are_aligned():
    rng = np.random.default_rng(2024)
    R = np.asarray(geometry.get_rotation_matrix_from_xyz(np.array([0.5, -0.4, 0.9])))
    t = np.array([0.7, -0.3, 0.4])
    cam_a, cam_b = np.array([3.0, 0.5, 0.5]), np.array([2.0, 2.5, -0.5])
    a = scan(cam_a, rng)
    b = scan(cam_b, rng) @ R.T + t          # the target scan lives in the moved frame
    src, src_f = prepare(a, cam_a)
    tgt, tgt_f = prepare(b, R @ cam_b + t)
    assert 1500 < len(src.points) < 6000 and 1500 < len(tgt.points) < 6000

    utility.random.seed(7)
    d = 1.5 * VOXEL
    coarse = reg.registration_ransac_based_on_feature_matching(
        src, tgt, src_f, tgt_f, True, d, reg.TransformationEstimationPointToPoint(False), 3,
        [reg.CorrespondenceCheckerBasedOnEdgeLength(0.9), reg.CorrespondenceCheckerBasedOnDistance(d)],
        reg.RANSACConvergenceCriteria(100000, 0.999))
    assert coarse.fitness > 0.3
    fine = reg.registration_icp(src, tgt, 0.4 * VOXEL, coarse.transformation,
                                reg.TransformationEstimationPointToPlane())

    def errors(T):
        T = np.asarray(T)
        angle = np.degrees(np.arccos(np.clip((np.trace(R.T @ T[:3, :3]) - 1) / 2, -1, 1)))
        return angle, np.linalg.norm(T[:3, 3] - t)

    coarse_angle, coarse_shift = errors(coarse.transformation)
    assert coarse_angle < 5 and coarse_shift < 3 * VOXEL
    angle, shift = errors(fine.transformation)
    assert angle < 0.5 and shift < 0.2 * VOXEL
    # ICP improves on the coarse alignment at its own, tighter distance.
    before = reg.evaluate_registration(src, tgt, 0.4 * VOXEL, coarse.transformation)
    assert fine.fitness > before.fitness and fine.inlier_rmse < 0.4 * VOXEL
