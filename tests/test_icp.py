"""registration_icp, evaluate_registration and get_information_matrix_from_point_clouds: matching and
stopping rules, recovery of known motions, a brute-force NumPy ICP reference, errors, thread independence
and the GIL release."""
import math
import threading

import numpy as np
import pytest

from conftest import run_python, cloud
from ombrix.cpu.pybind import geometry as g
from ombrix.cpu.pybind import utility as u
from ombrix.cpu.pybind.pipelines import registration as reg


def rigid(a, b, c, t):
    ca, sa, cb, sb, cc, sc = math.cos(a), math.sin(a), math.cos(b), math.sin(b), math.cos(c), math.sin(c)
    rx = np.array([[1, 0, 0], [0, ca, -sa], [0, sa, ca]])
    ry = np.array([[cb, 0, sb], [0, 1, 0], [-sb, 0, cb]])
    rz = np.array([[cc, -sc, 0], [sc, cc, 0], [0, 0, 1]])
    m = np.eye(4)
    m[:3, :3] = rz @ ry @ rx
    m[:3, 3] = t
    return m


def apply(t, p):
    return p @ t[:3, :3].T + t[:3, 3]


def surface(n, seed):
    """Points on a smooth height field z = f(x, y) with unit normals."""
    rng = np.random.default_rng(seed)
    xy = rng.uniform(-1, 1, (n, 2))
    z = 0.3 * np.sin(2 * xy[:, 0]) * np.cos(1.5 * xy[:, 1]) + 0.2 * xy[:, 0] * xy[:, 1]
    dzdx = 0.6 * np.cos(2 * xy[:, 0]) * np.cos(1.5 * xy[:, 1]) + 0.2 * xy[:, 1]
    dzdy = -0.45 * np.sin(2 * xy[:, 0]) * np.sin(1.5 * xy[:, 1]) + 0.2 * xy[:, 0]
    nrm = np.stack([-dzdx, -dzdy, np.ones(n)], 1)
    nrm /= np.linalg.norm(nrm, axis=1, keepdims=True)
    return np.column_stack([xy, z]), nrm


MOTION = rigid(0.04, -0.03, 0.05, [0.02, -0.015, 0.01])


@pytest.mark.parametrize("method", [reg.TransformationEstimationPointToPoint(), reg.TransformationEstimationPointToPlane()])
def test_icp_recovers_known_motion(method):
    tgt, nrm = surface(3000, 1)
    src = apply(np.linalg.inv(MOTION), tgt)
    crit = reg.ICPConvergenceCriteria(relative_fitness=1e-12, relative_rmse=1e-12, max_iteration=200)
    r = reg.registration_icp(cloud(src), cloud(tgt, nrm), 0.2, None, method, crit)
    np.testing.assert_allclose(r.transformation, MOTION, rtol=0, atol=1e-6)
    assert r.fitness == 1.0
    assert r.inlier_rmse < 1e-6
    corr = np.asarray(r.correspondence_set)
    assert np.array_equal(corr, np.stack([np.arange(3000)] * 2, 1))


def brute_icp(src, tgt, d, init, iters):
    """Point-to-point ICP with brute-force matching and NumPy's SVD."""
    def match(t):
        p = apply(t, src)
        d2 = ((p[:, None, :] - tgt[None, :, :]) ** 2).sum(2)
        j = d2.argmin(1)
        best = d2[np.arange(len(p)), j]
        ok = best < d * d
        return p, np.stack([np.nonzero(ok)[0], j[ok]], 1), best[ok]

    t = init.copy()
    p, corr, d2 = match(t)
    for _ in range(iters):
        s, q = p[corr[:, 0]], tgt[corr[:, 1]]
        ms, mt = s.mean(0), q.mean(0)
        uu, _, vt = np.linalg.svd((q - mt).T @ (s - ms))
        dd = np.diag([1, 1, -1.0 if np.linalg.det(uu @ vt) < 0 else 1.0])
        step = np.eye(4)
        step[:3, :3] = uu @ dd @ vt
        step[:3, 3] = mt - step[:3, :3] @ ms
        t = step @ t
        p, corr, d2 = match(t)
    return t, corr, len(corr) / len(src), math.sqrt(d2.mean())


def test_icp_matches_brute_force_reference():
    rng = np.random.default_rng(5)
    tgt = rng.uniform(-1, 1, (300, 3))
    src = apply(np.linalg.inv(rigid(0.1, 0.05, -0.08, [0.05, 0.0, -0.04])), tgt) + rng.normal(0, 0.01, tgt.shape)
    src = src[:250]
    init = rigid(0.0, 0.0, 0.01, [0.01, 0.0, 0.0])
    crit = reg.ICPConvergenceCriteria(-1.0, -1.0, 6)  # never stops early
    r = reg.registration_icp(cloud(src), cloud(tgt), 0.15, init, None, crit)
    t, corr, fitness, rmse = brute_icp(src, tgt, 0.15, init, 6)
    np.testing.assert_allclose(r.transformation, t, rtol=0, atol=1e-12)
    assert np.array_equal(np.asarray(r.correspondence_set), corr)
    assert r.fitness == fitness
    assert abs(r.inlier_rmse - rmse) < 1e-12


def test_max_iteration_zero_is_evaluation_of_init():
    tgt, nrm = surface(500, 2)
    src = apply(np.linalg.inv(MOTION), tgt)
    init = rigid(0.01, 0, 0, [0.01, 0, 0])
    r = reg.registration_icp(cloud(src), cloud(tgt), 0.1, init, None, reg.ICPConvergenceCriteria(max_iteration=0))
    e = reg.evaluate_registration(cloud(src), cloud(tgt), 0.1, init)
    assert r.transformation.tobytes() == e.transformation.tobytes() == init.tobytes()
    assert r.fitness.hex() == e.fitness.hex() and r.inlier_rmse.hex() == e.inlier_rmse.hex()
    assert np.array_equal(np.asarray(r.correspondence_set), np.asarray(e.correspondence_set))


def test_icp_stops_when_nothing_changes():
    pts, _ = surface(200, 3)
    r = reg.registration_icp(cloud(pts), cloud(pts), 0.05)
    assert r.fitness == 1.0 and r.inlier_rmse < 1e-15
    np.testing.assert_allclose(r.transformation, np.eye(4), atol=1e-14)
    # The first step only changes the result by rounding, so the loop ends after it.
    one = reg.registration_icp(cloud(pts), cloud(pts), 0.05, None, None, reg.ICPConvergenceCriteria(max_iteration=1))
    assert r.transformation.tobytes() == one.transformation.tobytes()
    assert r.inlier_rmse.hex() == one.inlier_rmse.hex()


def test_evaluate_registration_matching_rules():
    pts, _ = surface(100, 4)
    e = reg.evaluate_registration(cloud(pts), cloud(pts), 0.01)
    assert e.fitness == 1.0 and e.inlier_rmse == 0.0
    assert np.array_equal(np.asarray(e.correspondence_set), np.stack([np.arange(100)] * 2, 1))
    assert np.array_equal(e.transformation, np.eye(4))

    # Exactly at the distance is not a match (strict); two sources may share a target.
    src = cloud([[0, 0, 0], [0, 0, 0.5], [5, 5, 5]])
    tgt = cloud([[0, 0, 1.0]])
    e = reg.evaluate_registration(src, tgt, 1.0)
    assert np.asarray(e.correspondence_set).tolist() == [[1, 0]]
    e = reg.evaluate_registration(src, tgt, 1.0000001)
    assert np.asarray(e.correspondence_set).tolist() == [[0, 0], [1, 0]]
    assert e.fitness == 2 / 3
    assert e.inlier_rmse == math.sqrt((1.0 + 0.25) / 2)

    # The transformation moves the source (translation added last).
    t = np.eye(4)
    t[:3, 3] = [0, 0, 1.0]
    e = reg.evaluate_registration(src, tgt, 0.1, t)
    assert np.asarray(e.correspondence_set).tolist() == [[0, 0]]
    assert e.inlier_rmse == 0.0 and np.array_equal(e.transformation, t)


@pytest.mark.parametrize("d", [0.0, -1.0])
def test_evaluate_with_nonpositive_distance(d):
    pts, _ = surface(50, 6)
    e = reg.evaluate_registration(cloud(pts), cloud(pts), d)
    assert e.fitness == 0.0 and e.inlier_rmse == 0.0 and len(e.correspondence_set) == 0


def test_icp_errors_and_degenerate_inputs():
    pts, nrm = surface(50, 7)
    for d in (0.0, -0.5):
        with pytest.raises(RuntimeError, match=r"^Invalid max_correspondence_distance\.$"):
            reg.registration_icp(g.PointCloud(), g.PointCloud(), d)
    init = rigid(0.1, 0.2, 0.3, [1, 2, 3])
    r = reg.registration_icp(cloud(pts), g.PointCloud(), 0.5, init)
    assert np.array_equal(r.transformation, init) and r.fitness == 0.0 and len(r.correspondence_set) == 0
    r = reg.registration_icp(g.PointCloud(), cloud(pts), 0.5, init)
    assert np.array_equal(r.transformation, init) and r.fitness == 0.0

    plane = reg.TransformationEstimationPointToPlane()
    with pytest.raises(RuntimeError, match=r"^PointToPlaneICP requires target pointcloud to have normals\.$"):
        reg.registration_icp(cloud(pts), cloud(pts), 0.5, None, plane)
    partial = cloud(pts, nrm[:10])
    with pytest.raises(RuntimeError):
        reg.registration_icp(cloud(pts), partial, 0.5, estimation_method=plane)
    assert reg.evaluate_registration(cloud(pts), cloud(pts), 0.5).fitness == 1.0

    # NaN distance is allowed and matches nothing.
    r = reg.registration_icp(cloud(pts), cloud(pts), float("nan"))
    assert r.fitness == 0.0 and len(r.correspondence_set) == 0


def test_argument_conversion():
    pts, _ = surface(20, 8)
    a = cloud(pts)
    with pytest.raises(TypeError):
        reg.registration_icp(pts, a, 0.1)
    with pytest.raises(TypeError):
        reg.registration_icp(a, a, "x")
    with pytest.raises(TypeError, match="expected 4x4 matrix"):
        reg.registration_icp(a, a, 0.1, np.eye(3))
    with pytest.raises(TypeError):
        reg.registration_icp(a, a, 0.1, np.eye(4).tolist())
    with pytest.raises(TypeError):
        reg.registration_icp(a, a, 0.1, None, reg.ICPConvergenceCriteria())
    with pytest.raises(TypeError):
        reg.registration_icp(a, a, 0.1, None, None, reg.TransformationEstimationPointToPoint())
    with pytest.raises(TypeError):
        reg.get_information_matrix_from_point_clouds(a, a, 0.1)
    r = reg.registration_icp(source=a, target=a, max_correspondence_distance=1, init=np.eye(4),
                             estimation_method=reg.TransformationEstimationPointToPoint(True),
                             criteria=reg.ICPConvergenceCriteria(max_iteration=3))
    assert r.fitness == 1.0
    assert reg.registration_icp.__text_signature__ == (
        "(source, target, max_correspondence_distance, init=None, estimation_method=None, criteria=None)")
    assert reg.evaluate_registration.__text_signature__ == (
        "(source, target, max_correspondence_distance, transformation=None)")
    assert reg.get_information_matrix_from_point_clouds.__text_signature__ == (
        "(source, target, max_correspondence_distance, transformation)")


def test_information_matrix_single_pair():
    m = reg.get_information_matrix_from_point_clouds(cloud([[1.0, 2.0, 3.5]]), cloud([[1.0, 2.0, 3.0]]), 1.0, np.eye(4))
    want = np.zeros((6, 6))
    want[0, 0], want[1, 1], want[2, 2] = 13, 10, 5
    want[0, 1] = want[1, 0] = -2
    want[0, 2] = want[2, 0] = -3
    want[1, 2] = want[2, 1] = -6
    want[0, 4] = want[4, 0] = -3
    want[0, 5] = want[5, 0] = 2
    want[1, 3] = want[3, 1] = 3
    want[1, 5] = want[5, 1] = -1
    want[2, 3] = want[3, 2] = -2
    want[2, 4] = want[4, 2] = 1
    want[3, 3] = want[4, 4] = want[5, 5] = 1
    assert m.shape == (6, 6) and m.dtype == np.float64
    assert np.array_equal(m, want)
    assert np.array_equal(
        reg.get_information_matrix_from_point_clouds(cloud([[9.0, 9, 9]]), cloud([[1.0, 2, 3]]), 1.0, np.eye(4)),
        np.zeros((6, 6)))


def test_information_matrix_matches_numpy():
    pts, _ = surface(400, 9)
    t = rigid(0.01, 0.0, 0.0, [0.005, 0, 0])
    e = reg.evaluate_registration(cloud(pts), cloud(pts), 0.05, t)
    corr = np.asarray(e.correspondence_set)
    assert len(corr) > 300
    want = np.zeros((6, 6))
    for x, y, z in pts[corr[:, 1]]:
        for row in ([0, z, -y, 1, 0, 0], [-z, 0, x, 0, 1, 0], [y, -x, 0, 0, 0, 1]):
            want += np.outer(row, row)
    got = reg.get_information_matrix_from_point_clouds(cloud(pts), cloud(pts), 0.05, t)
    np.testing.assert_allclose(got, want, rtol=1e-13, atol=1e-12)


def test_results_independent_of_thread_count():
    code = """
import numpy as np
from ombrix.cpu.pybind import geometry as g, utility as u
from ombrix.cpu.pybind.pipelines import registration as reg
rng = np.random.default_rng(11)
tgt = rng.uniform(-1, 1, (20000, 3)); nrm = rng.normal(size=tgt.shape)
src = tgt @ np.array([[1, -0.02, 0], [0.02, 1, 0], [0, 0, 1]]).T + 0.01 + rng.normal(0, 0.003, tgt.shape)
a, b = g.PointCloud(), g.PointCloud()
a.points = u.Vector3dVector(src); b.points = u.Vector3dVector(tgt); b.normals = u.Vector3dVector(nrm)
crit = reg.ICPConvergenceCriteria(max_iteration=5)
for m in (reg.TransformationEstimationPointToPoint(), reg.TransformationEstimationPointToPlane()):
    r = reg.registration_icp(a, b, 0.05, None, m, crit)
    print(r.transformation.tobytes().hex(), r.fitness.hex(), r.inlier_rmse.hex(),
          np.asarray(r.correspondence_set).tobytes().hex()[:4000], len(r.correspondence_set))
print(reg.get_information_matrix_from_point_clouds(a, b, 0.05, np.eye(4)).tobytes().hex())
"""
    assert run_python(code, threads=1) == run_python(code, threads=4)


def test_gil_released_and_clouds_borrowed():
    rng = np.random.default_rng(12)
    tgt = rng.uniform(-1, 1, (20000, 3))
    src = cloud(tgt + 0.001)
    target = cloud(tgt)
    crit = reg.ICPConvergenceCriteria(-1.0, -1.0, 15)
    done = threading.Event()
    out = {}

    def work():
        out["r"] = reg.registration_icp(src, target, 0.05, None, None, crit)
        done.set()

    th = threading.Thread(target=work)
    th.start()
    refused = 0
    # The main thread runs while ICP computes (GIL released) and cannot modify the borrowed source.
    while not done.is_set():
        try:
            src.translate([0.0, 0.0, 0.0])
        except RuntimeError as e:
            assert str(e) == "Already borrowed"
            refused += 1
    th.join()
    assert refused > 0
    assert out["r"].fitness == 1.0


def test_large_cloud_matching_equals_per_point_search():
    # Large clouds are matched in a spatial order; every point still gets exactly its own k-d tree answer.
    rng = np.random.default_rng(13)
    tgt = rng.uniform(-1, 1, (20000, 3))
    src = rng.uniform(-1.05, 1.05, (20000, 3))
    d = 0.03
    e = reg.evaluate_registration(cloud(src), cloud(tgt), d)
    tree = g.KDTreeFlann(cloud(tgt))
    want, total = [], 0.0
    for i, p in enumerate(src):
        k, idx, d2 = tree.search_knn_vector_3d(p, 1)
        if k > 0 and d2[0] < d * d:
            want.append([i, idx[0]])
            total += d2[0]
    assert np.asarray(e.correspondence_set).tolist() == want
    assert e.fitness == len(want) / len(src)
    assert e.inlier_rmse == math.sqrt(total / len(want))


def literal_icp(src, tgt, nrm, d_max, init, method, crit):
    """The matching, update and stopping rules transcribed literally, with the estimators of test_estimation."""
    from test_estimation import lit_point_to_plane, lit_point_to_point

    def move(t, p):
        x, y, z = p[:, 0], p[:, 1], p[:, 2]
        return np.stack([((t[0][0] * x + t[0][1] * y) + t[0][2] * z) + t[0][3],
                         ((t[1][0] * x + t[1][1] * y) + t[1][2] * z) + t[1][3],
                         (t[2][0] * x + (t[2][1] * y + t[2][2] * z)) + t[2][3]], 1)

    def match(t):
        p = move(t, src)
        d = [(p[:, None, k] - tgt[None, :, k]) for k in range(3)]
        d2 = (d[0] * d[0] + d[1] * d[1]) + d[2] * d[2]
        j = d2.argmin(1)
        best = d2[np.arange(len(p)), j]
        corr, acc = [], 0.0
        for i in range(len(p)):
            if best[i] < d_max * d_max:
                corr.append([i, int(j[i])])
                acc += float(best[i])
        fit = len(corr) / len(p) if corr else 0.0
        rmse = math.sqrt(acc / len(corr)) if corr else 0.0
        return p, corr, fit, rmse

    t = [list(map(float, r)) for r in init]
    p, corr, fit, rmse = match(t)
    for _ in range(crit[2]):
        if method == "plane":
            upd = lit_point_to_plane(p.tolist(), tgt.tolist(), nrm.tolist(), corr) if corr else np.eye(4).tolist()
        else:
            upd = lit_point_to_point(p.tolist(), tgt.tolist(), corr, method == "scaled") if corr else np.eye(4).tolist()
        if not np.all(np.isfinite(upd)):
            break
        t = [[((upd[i][0] * t[0][j] + upd[i][1] * t[1][j]) + upd[i][2] * t[2][j]) + upd[i][3] * t[3][j]
              for j in range(4)] for i in range(4)]
        pf, pr = fit, rmse
        p, corr, fit, rmse = match(t)
        if abs(pf - fit) < crit[0] and abs(pr - rmse) < crit[1]:
            break
    return np.array(t), corr, fit, rmse


@pytest.mark.parametrize("method", ["rigid", "scaled", "plane"])
@pytest.mark.parametrize("crit", [(1e-6, 1e-6, 30), (-1.0, -1.0, 4)])
def test_icp_bit_exact_against_literal_transcription(method, crit):
    rng = np.random.default_rng(21)
    tgt, nrm = surface(400, 22)
    src = apply(np.linalg.inv(MOTION), tgt[:300]) + rng.normal(0, 0.002, (300, 3))
    init = rigid(0.0, 0.01, 0.0, [0.0, 0.01, 0.0])
    est = {"rigid": reg.TransformationEstimationPointToPoint(), "scaled": reg.TransformationEstimationPointToPoint(True),
           "plane": reg.TransformationEstimationPointToPlane()}[method]
    r = reg.registration_icp(cloud(src), cloud(tgt, nrm), 0.08, init, est, reg.ICPConvergenceCriteria(*crit))
    t, corr, fit, rmse = literal_icp(src, tgt, nrm, 0.08, init, method, crit)
    assert r.transformation.tobytes() == t.tobytes()
    assert np.asarray(r.correspondence_set).tolist() == corr
    assert r.fitness.hex() == fit.hex() and r.inlier_rmse.hex() == rmse.hex()
