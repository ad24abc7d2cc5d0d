"""PointCloud.estimate_normals: agreement with a NumPy reference, the degenerate
neighbourhoods and their fallbacks, orientation against old normals, argument
errors, thread-count independence and borrow protection while it runs."""

import threading
import time

import numpy as np
import pytest

from conftest import run_python, cloud

g = pytest.importorskip("ombrix.cpu.pybind").geometry


def normals_of(p):
    return np.asarray(p.normals).copy()


def sq_dist(points, q):
    d = points - q
    return (d[:, 0] * d[:, 0] + d[:, 1] * d[:, 1]) + d[:, 2] * d[:, 2]


def reference_normals(points, kind, knn=0, radius=0.0, max_nn=0):
    """Brute-force neighbours and numpy.linalg.eigh on the covariance."""
    out = np.empty_like(points)
    r2 = radius * radius
    for i, q in enumerate(points):
        d = sq_dist(points, q)
        order = np.argsort(d, kind="stable")
        if kind == "knn":
            nb = order[:knn]
        elif kind == "radius":
            nb = order[d[order] < r2]
        else:
            nb = order[:max_nn]
            nb = nb[d[nb] < r2]
        if len(nb) < 3:
            out[i] = (0.0, 0.0, 1.0)
            continue
        x = points[nb]
        c = (x - x.mean(axis=0)).T @ (x - x.mean(axis=0)) / len(nb)
        w, v = np.linalg.eigh(c)
        out[i] = v[:, 0]
    return out


def random_surface(n, seed):
    """A gently curved, slightly noisy sheet: well-separated smallest eigenvalues."""
    rng = np.random.default_rng(seed)
    xy = rng.uniform(-1.0, 1.0, size=(n, 2))
    z = 0.3 * np.sin(1.5 * xy[:, 0]) * np.cos(xy[:, 1]) + rng.normal(0.0, 0.002, n)
    return np.column_stack([xy, z])


PARAMS = [
    ("knn", lambda: g.KDTreeSearchParamKNN(12), dict(knn=12)),
    ("radius", lambda: g.KDTreeSearchParamRadius(0.35), dict(radius=0.35)),
    ("hybrid", lambda: g.KDTreeSearchParamHybrid(0.3, 10), dict(radius=0.3, max_nn=10)),
]


@pytest.mark.parametrize("fast", [True, False])
@pytest.mark.parametrize("kind,make,kw", PARAMS, ids=[p[0] for p in PARAMS])
def test_matches_numpy_reference(kind, make, kw, fast):
    pts = random_surface(300, seed=7)
    p = cloud(pts)
    p.estimate_normals(make(), fast)
    got = normals_of(p)
    ref = reference_normals(pts, kind, **kw)
    assert got.shape == (300, 3)
    np.testing.assert_allclose(np.linalg.norm(got, axis=1), 1.0, atol=1e-12)
    # Same direction up to sign.
    cos = np.abs(np.einsum("ij,ij->i", got, ref))
    assert np.all(cos > 1 - 1e-9), cos.min()


def test_default_search_is_knn_30():
    pts = random_surface(200, seed=3)
    a, b, c = cloud(pts), cloud(pts), cloud(pts)
    a.estimate_normals()
    b.estimate_normals(None, True)
    c.estimate_normals(search_param=g.KDTreeSearchParamKNN(30), fast_normal_computation=True)
    assert normals_of(a).tobytes() == normals_of(b).tobytes() == normals_of(c).tobytes()
    ref = reference_normals(pts, "knn", knn=30)
    assert np.all(np.abs(np.einsum("ij,ij->i", normals_of(a), ref)) > 1 - 1e-9)


def test_solvers_agree_up_to_sign():
    pts = random_surface(200, seed=11)
    a, b = cloud(pts), cloud(pts)
    a.estimate_normals(g.KDTreeSearchParamKNN(10), True)
    b.estimate_normals(g.KDTreeSearchParamKNN(10), False)
    cos = np.abs(np.einsum("ij,ij->i", normals_of(a), normals_of(b)))
    assert np.all(cos > 1 - 1e-9)


PLANE = [(x, y, 0.0) for x in range(4) for y in range(3)]


@pytest.mark.parametrize("fast", [True, False])
def test_plane_normals_and_orientation_against_old(fast):
    p = cloud(PLANE)
    p.estimate_normals(g.KDTreeSearchParamKNN(5), fast)
    n = normals_of(p)
    assert np.all(n[:, :2] == 0.0) and np.all(np.abs(n[:, 2]) == 1.0)
    q = cloud(PLANE, normals=[(0.0, 0.0, -1.0)] * len(PLANE))
    q.estimate_normals(g.KDTreeSearchParamKNN(5), fast)
    assert np.array_equal(normals_of(q), np.tile([0.0, 0.0, -1.0], (len(PLANE), 1)))


def test_two_neighbours_fall_back_and_are_not_flipped():
    # Points 0-2 see each other (three neighbours, on the plane z = 0); points
    # 3 and 4 only see each other: two neighbours give (0, 0, 1), never flipped.
    pts = [(0, 0, 0), (0.1, 0, 0), (0, 0.1, 0), (5, 5, 5), (5.1, 5, 5)]
    p = cloud(pts, normals=[(0, 0, -1)] * 5)
    p.estimate_normals(g.KDTreeSearchParamRadius(0.5))
    n = normals_of(p)
    assert np.array_equal(n[:3], np.tile([0.0, 0.0, -1.0], (3, 1)))
    assert np.array_equal(n[3:], np.tile([0.0, 0.0, 1.0], (2, 1)))


@pytest.mark.parametrize("fast", [True, False])
def test_knn_two_gives_unit_z_everywhere(fast):
    p = cloud(random_surface(40, seed=1), normals=np.tile([0.0, 0.0, -1.0], (40, 1)))
    p.estimate_normals(g.KDTreeSearchParamKNN(2), fast)
    assert np.array_equal(normals_of(p), np.tile([0.0, 0.0, 1.0], (40, 1)))


@pytest.mark.parametrize("knn", [0, -1])
def test_knn_zero_or_negative_gives_unit_z(knn):
    p = cloud(random_surface(20, seed=2))
    p.estimate_normals(g.KDTreeSearchParamKNN(knn))
    assert np.array_equal(normals_of(p), np.tile([0.0, 0.0, 1.0], (20, 1)))


@pytest.mark.parametrize("fast", [True, False])
def test_coincident_points(fast):
    # Zero covariance: the closed form finds no direction and falls back to
    # (0, 0, 1); the iterative solver converges at once on the zero matrix and
    # returns its first axis. Either is then turned to agree with the old normal.
    old = [(0, 0, -1), (0, 0, 1), (1, 0, -0.5), (0, 0, 0)]
    p = cloud([(1.5, -2.0, 3.0)] * 4, normals=old)
    p.estimate_normals(g.KDTreeSearchParamKNN(4), fast)
    expect = [(0, 0, -1), (0, 0, 1), (0, 0, -1), (0, 0, 1)] if fast else [(1, 0, 0)] * 4
    assert np.array_equal(normals_of(p), np.asarray(expect, dtype=np.float64))


@pytest.mark.parametrize("fast", [True, False])
def test_collinear_along_x_gives_y(fast):
    p = cloud([(float(i), 0.0, 0.0) for i in range(6)])
    p.estimate_normals(g.KDTreeSearchParamKNN(4), fast)
    assert np.array_equal(normals_of(p), np.tile([0.0, 1.0, 0.0], (6, 1)))


def test_nan_point_gets_unit_z():
    pts = np.asarray(PLANE, dtype=np.float64)
    pts[5] = (np.nan, 1.0, 0.0)
    p = cloud(pts)
    p.estimate_normals(g.KDTreeSearchParamKNN(4))
    n = normals_of(p)
    assert np.array_equal(n[5], [0.0, 0.0, 1.0])
    assert not np.isnan(n).any()


def test_mismatched_normals_are_replaced_without_orientation():
    pts = random_surface(30, seed=5)
    fresh = cloud(pts)
    fresh.estimate_normals(g.KDTreeSearchParamKNN(8))
    for old in ([(0.0, 0.0, -1.0)] * 2, [(0.0, 0.0, -1.0)] * 31):
        p = cloud(pts, normals=old)
        p.estimate_normals(g.KDTreeSearchParamKNN(8))
        assert normals_of(p).tobytes() == normals_of(fresh).tobytes()


def test_matching_normals_orient_each_point():
    pts = random_surface(30, seed=5)
    fresh = cloud(pts)
    fresh.estimate_normals(g.KDTreeSearchParamKNN(8))
    base = normals_of(fresh)
    signs = np.where(np.arange(30) % 3 == 0, -1.0, 1.0)
    p = cloud(pts, normals=base * signs[:, None])
    p.estimate_normals(g.KDTreeSearchParamKNN(8))
    assert np.array_equal(normals_of(p), base * signs[:, None])


def test_empty_cloud_left_unchanged():
    p = g.PointCloud()
    p.normals = np.asarray([[1.0, 2.0, 3.0]])
    assert p.estimate_normals() is None
    assert np.array_equal(normals_of(p), [[1.0, 2.0, 3.0]])
    assert len(p.points) == 0


def test_shared_array_survives_normal_growth():
    p = cloud(random_surface(50, seed=9), normals=[(0.0, 0.0, 1.0)])
    before = np.asarray(p.normals)  # shares the one-normal buffer
    p.estimate_normals(g.KDTreeSearchParamKNN(6))
    assert before.shape == (1, 3)
    assert np.isfinite(before).all()  # still readable memory
    assert len(p.normals) == 50


@pytest.mark.parametrize(
    "kwargs,name",
    [
        (dict(search_param=5), "search_param"),
        (dict(search_param=g.PointCloud()), "search_param"),
        (dict(fast_normal_computation=1), "fast_normal_computation"),
        (dict(fast_normal_computation=None), "fast_normal_computation"),
    ],
)
def test_argument_errors_leave_cloud_unchanged(kwargs, name):
    p = cloud(PLANE, normals=[(1.0, 0.0, 0.0)] * len(PLANE))
    with pytest.raises(TypeError, match=name):
        p.estimate_normals(**kwargs)
    assert np.array_equal(normals_of(p), np.tile([1.0, 0.0, 0.0], (len(PLANE), 1)))


def test_signature():
    assert g.PointCloud.estimate_normals.__text_signature__ == (
        "($self, search_param=None, fast_normal_computation=True)"
    )


THREADS_CODE = """
import hashlib, numpy as np
from ombrix.cpu.pybind import geometry as g
rng = np.random.default_rng(4)
pts = rng.uniform(-1, 1, size=(20000, 3)) * (1.0, 1.0, 0.05)
pts[::97] = pts[1::97][: len(pts[::97])]  # some exact duplicates for tie-heavy neighbourhoods
h = hashlib.sha256()
for param, fast in [(g.KDTreeSearchParamKNN(30), True), (g.KDTreeSearchParamHybrid(0.08, 30), True),
                    (g.KDTreeSearchParamRadius(0.05), False)]:
    p = g.PointCloud()
    p.points = pts
    p.estimate_normals(param, fast)
    h.update(np.asarray(p.normals).tobytes())
    p.estimate_normals(param, not fast)  # orientation against the first result
    h.update(np.asarray(p.normals).tobytes())
print(h.hexdigest())
"""


def test_independent_of_thread_count():
    one = run_python(THREADS_CODE, threads=1)
    four = run_python(THREADS_CODE, threads=4)
    assert len(one.strip()) == 64
    assert one == four


def test_concurrent_write_meets_borrow_error():
    pts = np.random.default_rng(0).uniform(-1, 1, size=(200000, 3))
    for attempt in range(5):
        p = cloud(pts)
        started = threading.Event()

        def work():
            started.set()
            p.estimate_normals(g.KDTreeSearchParamKNN(30))

        t = threading.Thread(target=work)
        t.start()
        started.wait()
        write_error = read_error = None
        while t.is_alive() and write_error is None:
            try:
                p.paint_uniform_color((1.0, 0.0, 0.0))
            except RuntimeError as e:
                write_error = e
                try:
                    p.has_normals()
                except RuntimeError as e2:
                    read_error = e2
            time.sleep(0.0005)
        t.join()
        if write_error is not None:
            break
    assert write_error is not None, "the worker was never observed running"
    assert str(write_error) == "Already borrowed"
    # A read made while the worker still held the cloud fails the other way
    # (it may have finished in between, in which case the read succeeded).
    if read_error is not None:
        assert str(read_error) == "Already mutably borrowed"
    # The interrupted calls changed nothing; the estimate completed normally.
    assert p.has_normals()
    assert np.allclose(np.linalg.norm(normals_of(p), axis=1), 1.0)
