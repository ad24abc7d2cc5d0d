"""RANSAC registration: recovery of a known motion, the early-stop rules, the exact engine consumption (checked
against an independent model of the engine), identical results and engine state with 1 and 4 threads, errors and
degenerate inputs."""
import os

import numpy as np
import pytest

from conftest import SRC, run_python
from ombrix.cpu.pybind import geometry, utility
from ombrix.cpu.pybind.pipelines import registration as reg
from ransac_probe import Engine, make_cloud, probe

seed = utility.random.seed
RANSAC = reg.registration_ransac_based_on_correspondence
RANSAC_F = reg.registration_ransac_based_on_feature_matching
TESTS = os.path.dirname(os.path.abspath(__file__))


def rotation(ax, ay, az):
    return np.asarray(geometry.get_rotation_matrix_from_xyz(np.array([ax, ay, az])))


def scene(n=1500, n_corres=400, inlier_fraction=0.5, noise=0.0, seed_=7):
    """Source cloud, target = R·source + t (+ noise), and pairs of which the first part are true matches."""
    rng = np.random.default_rng(seed_)
    src = rng.random((n, 3))
    R, t = rotation(0.3, -0.2, 0.5), np.array([0.4, -0.1, 0.25])
    tgt = src @ R.T + t + noise * rng.normal(size=(n, 3))
    good = int(n_corres * inlier_fraction)
    idx = rng.permutation(n)[:n_corres]
    wrong = (idx[good:] + rng.integers(1, n, size=n_corres - good)) % n
    pairs = np.stack([idx, np.concatenate([idx[:good], wrong])], axis=1).astype(np.int32)
    T = np.eye(4)
    T[:3, :3], T[:3, 3] = R, t
    return make_cloud(src), make_cloud(tgt), utility.Vector2iVector(pairs), T


def corr_list(v):
    return [tuple(p) for p in np.asarray(v).tolist()]


def assert_default(r):
    assert np.array_equal(np.asarray(r.transformation), np.eye(4))
    assert (r.fitness, r.inlier_rmse, len(r.correspondence_set)) == (0.0, 0.0, 0)


def test_signatures():
    assert RANSAC.__text_signature__ == ("(source, target, corres, max_correspondence_distance, "
                                         "estimation_method=None, ransac_n=3, checkers=..., criteria=None)")
    assert RANSAC_F.__text_signature__ == ("(source, target, source_feature, target_feature, mutual_filter, "
                                           "max_correspondence_distance, estimation_method=None, ransac_n=3, "
                                           "checkers=..., criteria=None)")


def test_recovers_known_motion():
    src, tgt, corres, T = scene(noise=0.002)
    seed(1)
    r = RANSAC(src, tgt, corres, 0.02, reg.TransformationEstimationPointToPoint(), 3,
               [reg.CorrespondenceCheckerBasedOnEdgeLength(0.9), reg.CorrespondenceCheckerBasedOnDistance(0.02)],
               reg.RANSACConvergenceCriteria(10000, 0.999))
    got = np.asarray(r.transformation)
    assert np.abs(got - T).max() < 0.02
    assert r.fitness > 0.95 and 0 < r.inlier_rmse < 0.01
    # The result is exactly the brute-force evaluation of its transformation.
    pairs, fitness, rmse = brute_evaluation(np.asarray(src.points), np.asarray(tgt.points), got, 0.02)
    assert corr_list(r.correspondence_set) == pairs
    assert (r.fitness.hex(), r.inlier_rmse.hex()) == (fitness.hex(), rmse.hex())


def brute_evaluation(src, tgt, T, d):
    x, y, z = src[:, 0], src[:, 1], src[:, 2]
    moved = np.stack([((T[0, 0] * x + T[0, 1] * y) + T[0, 2] * z) + T[0, 3],
                      ((T[1, 0] * x + T[1, 1] * y) + T[1, 2] * z) + T[1, 3],
                      (T[2, 0] * x + (T[2, 1] * y + T[2, 2] * z)) + T[2, 3]], axis=1)
    pairs, total = [], 0.0
    for i, p in enumerate(moved):
        e = (tgt - p) ** 2
        d2 = (e[:, 0] + e[:, 1]) + e[:, 2]
        j = int(np.argmin(d2))
        if d2[j] < d * d:
            pairs.append((i, j))
            total += float(d2[j])
    return pairs, len(pairs) / len(src), (total / len(pairs)) ** 0.5


def test_with_scaling():
    rng = np.random.default_rng(3)
    src = rng.random((500, 3))
    tgt = 1.5 * src @ rotation(0.1, 0.2, 0.3).T + 1.0
    pairs = utility.Vector2iVector(np.stack([np.arange(500), np.arange(500)], axis=1).astype(np.int32))
    seed(0)
    r = RANSAC(make_cloud(src), make_cloud(tgt), pairs, 0.01, reg.TransformationEstimationPointToPoint(True))
    assert abs(np.linalg.det(np.asarray(r.transformation)[:3, :3]) - 1.5**3) < 1e-9
    assert r.fitness == 1.0


def test_stops_after_first_hypothesis_when_all_pairs_agree():
    # Every pair is an inlier of the first hypothesis: p = 1, the estimate becomes 1 and the loop ends after
    # iteration 0, so exactly one sample is drawn.
    src, tgt, corres, T = scene(inlier_fraction=1.0)
    n = len(corres)
    seed(5)
    r = RANSAC(src, tgt, corres, 0.01)
    assert r.fitness == 1.0 and np.abs(np.asarray(r.transformation) - T).max() < 1e-9
    e = Engine(5)
    e.sample(corr_list(corres))
    assert probe() == e.expected_probe()
    assert n == 400


@pytest.mark.parametrize("confidence, iterations", [(0.0, 1), (1.0, 40)])
def test_confidence_limits(confidence, iterations):
    # Noisy true pairs: the first hypothesis is accepted but not every pair is an inlier (p < 1). Confidence 0 stops
    # after it; confidence 1 never lowers the bound and all 40 iterations run.
    src, tgt, corres, _ = scene(inlier_fraction=1.0, noise=0.004)
    seed(11)
    r = RANSAC(src, tgt, corres, 0.006, criteria=reg.RANSACConvergenceCriteria(40, confidence))
    assert 0.0 < r.fitness < 1.0
    e = Engine(11)
    pairs = corr_list(corres)
    for _ in range(iterations):
        e.sample(pairs)
    assert probe() == e.expected_probe()


@pytest.mark.parametrize("k", [3, 5])
def test_duplicate_pairs_exhaust_attempts(k):
    src, tgt, _, _ = scene()
    same = utility.Vector2iVector(np.array([[3, 3]] * 50, dtype=np.int32))
    seed(2)
    assert_default(RANSAC(src, tgt, same, 0.1, ransac_n=k, criteria=reg.RANSACConvergenceCriteria(7, 0.999)))
    # Every iteration gives up after max(32k, 128) + 1 draws.
    e = Engine(2)
    for _ in range(7 * (max(32 * k, 128) + 1)):
        e.draw(50)
    assert probe() == e.expected_probe()


@pytest.mark.parametrize("kwargs", [dict(ransac_n=2), dict(ransac_n=401), dict(max_correspondence_distance=0.0),
                                    dict(max_correspondence_distance=-1.0),
                                    dict(criteria=reg.RANSACConvergenceCriteria(0, 0.999)),
                                    dict(criteria=reg.RANSACConvergenceCriteria(-5, 0.999)),
                                    dict(source="empty"), dict(target="empty")])
def test_default_result_without_drawing(kwargs):
    src, tgt, corres, _ = scene()
    args = dict(source=src, target=tgt, corres=corres, max_correspondence_distance=0.05)
    if kwargs.get("target") == "empty":
        kwargs = dict(target=geometry.PointCloud())
        args["corres"] = utility.Vector2iVector()
    if kwargs.get("source") == "empty":
        kwargs = dict(source=geometry.PointCloud())
        args["corres"] = utility.Vector2iVector()
    args.update(kwargs)
    seed(4)
    assert_default(RANSAC(**args))
    assert probe() == Engine(4).expected_probe()


def test_rejecting_checker_gives_default():
    src, tgt, corres, _ = scene(noise=0.002)
    seed(0)
    r = RANSAC(src, tgt, corres, 0.05, checkers=[reg.CorrespondenceCheckerBasedOnDistance(0.0)],
               criteria=reg.RANSACConvergenceCriteria(50, 0.999))
    assert_default(r)


@pytest.mark.parametrize("pair, message", [
    ((5, 1500), "correspondence 2 target index 1500 is out of bounds for 1500 points"),
    ((-1, 0), "correspondence 2 has negative source index -1"),
    ((1500, 0), "correspondence 2 source index 1500 is out of bounds for 1500 points"),
])
def test_invalid_pairs(pair, message):
    src, tgt, _, _ = scene()
    corres = utility.Vector2iVector(np.array([[0, 0], [1, 1], pair, [2, 2]], dtype=np.int32))
    with pytest.raises(ValueError, match=f"^{message}$"):
        RANSAC(src, tgt, corres, 0.05)
    # Validation comes first, even for parameters that would give the default result.
    with pytest.raises(ValueError):
        RANSAC(src, tgt, corres, 0.05, ransac_n=2)


def test_invalid_pairs_from_features():
    src, tgt, _, _ = scene(n=20, n_corres=10)
    a, b = reg.Feature(), reg.Feature()
    a.data = np.arange(30.0).reshape(1, 30)   # 30 source features for a 20-point source cloud
    b.data = np.arange(30.0).reshape(1, 30)
    with pytest.raises(ValueError, match="source index 20 is out of bounds for 20 points"):
        RANSAC_F(src, tgt, a, b, False, 0.05)


@pytest.mark.parametrize("args, exc", [
    (dict(corres=[[0, 0], [1, 1], [2, 2]]), TypeError),
    (dict(estimation_method="p2p"), TypeError),
    (dict(ransac_n=2**31), OverflowError),
    (dict(ransac_n=3.0), TypeError),
    (dict(checkers="abc"), TypeError),
    (dict(checkers=[reg.CorrespondenceCheckerBasedOnDistance(0.1), 1]), TypeError),
    (dict(criteria=reg.ICPConvergenceCriteria()), TypeError),
    (dict(max_correspondence_distance="x"), TypeError),
    (dict(source=None), TypeError),
])
def test_argument_errors(args, exc):
    src, tgt, corres, _ = scene(n=50, n_corres=10)
    a = dict(source=src, target=tgt, corres=corres, max_correspondence_distance=0.05)
    a.update(args)
    with pytest.raises(exc):
        RANSAC(**a)


def test_feature_matching_equals_explicit_correspondences():
    src, tgt, fs, ft = feature_scene()
    for mutual in (False, True):
        corres = reg.correspondences_from_features(fs, ft, mutual, 0.1)
        seed(21)
        a = RANSAC(src, tgt, corres, 0.02, criteria=reg.RANSACConvergenceCriteria(3000, 0.99))
        pa = probe()
        seed(21)
        b = RANSAC_F(src, tgt, fs, ft, mutual, 0.02, criteria=reg.RANSACConvergenceCriteria(3000, 0.99))
        assert np.asarray(a.transformation).tobytes() == np.asarray(b.transformation).tobytes()
        assert (a.fitness, a.inlier_rmse) == (b.fitness, b.inlier_rmse) and a.fitness > 0.9
        assert np.array_equal(np.asarray(a.correspondence_set), np.asarray(b.correspondence_set))
        assert probe() == pa


def feature_scene():
    """Clouds and 8-D features whose nearest-neighbour matches are right for about 40 % of the points."""
    src, tgt, _, _ = scene(n=1200, noise=0.002)
    rng = np.random.default_rng(8)
    fs = rng.random((8, 1200))
    ft = fs + 0.01 * rng.normal(size=fs.shape)
    bad = rng.random(1200) < 0.6
    ft[:, bad] = rng.random((8, int(bad.sum())))
    a, b = reg.Feature(), reg.Feature()
    a.data, b.data = fs, ft
    return src, tgt, a, b


DETERMINISM = """
import sys
sys.path.insert(0, {tests!r})
import numpy as np
from ombrix.cpu.pybind import utility
from ombrix.cpu.pybind.pipelines import registration as reg
from test_ransac import scene, feature_scene
from ransac_probe import probe

out = []
def record(r):
    out.append(" ".join([np.asarray(r.transformation).tobytes().hex(), r.fitness.hex(), r.inlier_rmse.hex(),
                         np.asarray(r.correspondence_set).tobytes().hex(), probe().hex()]))

checkers = [reg.CorrespondenceCheckerBasedOnEdgeLength(0.9), reg.CorrespondenceCheckerBasedOnDistance(0.03)]
for frac, noise, conf in [(0.3, 0.003, 0.999), (0.15, 0.003, 0.99), (1.0, 0.0, 0.999), (0.5, 0.004, 0.0)]:
    src, tgt, corres, _ = scene(inlier_fraction=frac, noise=noise)
    utility.random.seed(42)
    record(reg.registration_ransac_based_on_correspondence(src, tgt, corres, 0.01, None, 3, checkers,
                                                           reg.RANSACConvergenceCriteria(100000, conf)))
src, tgt, fs, ft = feature_scene()
for mutual in (False, True):
    utility.random.seed(42)
    record(reg.registration_ransac_based_on_feature_matching(src, tgt, fs, ft, mutual, 0.02))
utility.random.seed(42)
record(reg.registration_ransac_based_on_feature_matching(src, tgt, fs, ft, False, 0.02, ransac_n=4,
                                                         criteria=reg.RANSACConvergenceCriteria(300, 1.0)))
# Point-to-plane hypotheses (target normals: the true ones, rotated).
src, tgt, corres, T = scene(n=800, inlier_fraction=0.6, noise=0.002)
n = np.random.default_rng(1).normal(size=(800, 3))
tgt.normals = utility.Vector3dVector(n / np.linalg.norm(n, axis=1, keepdims=True))
utility.random.seed(42)
record(reg.registration_ransac_based_on_correspondence(src, tgt, corres, 0.02,
                                                       reg.TransformationEstimationPointToPlane(), 6, [],
                                                       reg.RANSACConvergenceCriteria(400, 0.999)))
print(chr(10).join(out))
"""


def test_identical_results_and_engine_state_with_1_and_4_threads():
    code = DETERMINISM.format(tests=TESTS)
    one = run_python(code, threads=1)
    four = run_python(code, threads=4)
    lines = one.decode().splitlines()
    assert len(lines) == 8
    fitness = [float.fromhex(line.split()[1]) for line in lines]
    assert fitness[0] > 0.9 and fitness[2] == 1.0 and fitness[4] > 0.9 and fitness[5] > 0.9
    assert one == four
    three = run_python(code, threads=3)
    assert three == one


def _borrow_seen_while(call, mutate):
    """Runs `call` on a thread and keeps calling `mutate` (a write to an argument of `call`) from this one: the
    write can only be refused (the argument is borrowed) while the call runs with the GIL released."""
    import threading

    done = threading.Event()
    seen = []

    def work():
        try:
            call()
        finally:
            done.set()

    t = threading.Thread(target=work)
    t.start()
    while not done.is_set():
        try:
            mutate()
        except RuntimeError as e:
            seen.append(str(e))
    t.join()
    return seen


def test_fpfh_and_ransac_release_the_gil_and_keep_borrows():
    rng = np.random.default_rng(0)
    pts = rng.random((20_000, 3))
    n = rng.normal(size=(20_000, 3))
    pc = make_cloud(pts, n / np.linalg.norm(n, axis=1, keepdims=True))
    paint = lambda c: lambda: c.paint_uniform_color([0.0, 0.0, 0.0])  # noqa: E731
    seen = _borrow_seen_while(lambda: reg.compute_fpfh_feature(pc, geometry.KDTreeSearchParamKNN(30)), paint(pc))
    assert seen and set(seen) == {"Already borrowed"}

    src, tgt, corres, _ = scene(n=20_000, n_corres=400, inlier_fraction=0.0)
    criteria = reg.RANSACConvergenceCriteria(60, 0.999)
    for mutate in (paint(src), paint(tgt), lambda: corres.append([0, 0])):
        seed(0)
        seen = _borrow_seen_while(lambda: RANSAC(src, tgt, corres, 0.01, criteria=criteria), mutate)
        assert seen and set(seen) == {"Already borrowed"}

    fs, ft = reg.Feature(), reg.Feature()
    fs.data, ft.data = rng.random((8, 20_000)), rng.random((8, 20_000))
    seen = _borrow_seen_while(lambda: RANSAC_F(src, tgt, fs, ft, True, 0.01, criteria=criteria),
                              lambda: ft.resize(8, 20_000))
    assert seen and set(seen) == {"Already borrowed"}
