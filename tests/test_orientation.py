"""Normal orientation: towards a direction, towards a camera, and the consistent
tangent-plane propagation (compared with a plain Python rendering of the
algorithm on tie-free clouds), with their preconditions and argument errors."""

import math

import numpy as np
import pytest

from conftest import run_python, cloud

g = pytest.importorskip("ombrix.cpu.pybind").geometry

NO_NORMALS = "No normals in the PointCloud. Call EstimateNormals() first."


def normals_of(p):
    return np.asarray(p.normals).copy()


# --- towards a direction ---------------------------------------------------


@pytest.mark.parametrize(
    "reference,expect",
    [
        (None, [(0, 0, 1), (0, 0, 1), (1, 0, 0), (-1, 0, 0)]),
        ((0, 0, 2), [(0, 0, 1), (0, 0, 2), (1, 0, 0), (-1, 0, 0)]),
        (np.array([1.0, 0.0, -1.0]), [(0, 0, -1), (1, 0, -1), (1, 0, 0), (1, 0, 0)]),
    ],
)
def test_align_with_direction(reference, expect):
    p = cloud([(0, 0, 0)] * 4, normals=[(0, 0, -1), (0, 0, 0), (1, 0, 0), (-1, 0, 0)])
    args = () if reference is None else (reference,)
    assert p.orient_normals_to_align_with_direction(*args) is None
    assert np.array_equal(normals_of(p), np.asarray(expect, dtype=np.float64))


def test_align_keeps_nan_normal():
    p = cloud([(0, 0, 0)] * 2, normals=[(np.nan, 0, 0), (0, 0, -3)])
    p.orient_normals_to_align_with_direction(orientation_reference=[0, 0, 1])
    n = normals_of(p)
    assert np.isnan(n[0, 0]) and np.array_equal(n[1], [0, 0, 3])


# --- towards a camera ------------------------------------------------------


def test_towards_camera_at_origin():
    pts = [(0, 0, 1), (0, 0, 1), (0, 0, 0), (3, 0, 4), (0, 0, -1)]
    nrm = [(0, 0, 1), (0, 0, 0), (0, 0, 0), (0, 0, 0), (0, 1, 0)]
    p = cloud(pts, normals=nrm)
    assert p.orient_normals_towards_camera_location() is None
    expect = [(0, 0, -1), (0, 0, -1), (0, 0, 1), (-0.6, 0, -0.8), (0, 1, 0)]
    assert np.array_equal(normals_of(p), np.asarray(expect, dtype=np.float64))


def test_towards_camera_elsewhere():
    p = cloud([(0, 0, 0), (2, 0, 0)], normals=[(1, 0, 0), (1, 0, 0)])
    p.orient_normals_towards_camera_location(camera_location=(1.0, 5.0, 0.0))
    # d = (1, 5, 0) and (-1, 5, 0): the first agrees, the second is flipped.
    assert np.array_equal(normals_of(p), [[1.0, 0.0, 0.0], [-1.0, 0.0, 0.0]])


# --- consistent tangent plane ----------------------------------------------


def _sqd(points, q):
    d = points - q
    return (d[:, 0] * d[:, 0] + d[:, 1] * d[:, 1]) + d[:, 2] * d[:, 2]


class _Dsu:
    def __init__(self, n):
        self.parent = list(range(n))
        self.size = [1] * n

    def find(self, x):
        while self.parent[x] != x:
            self.parent[x] = self.parent[self.parent[x]]
            x = self.parent[x]
        return x

    def union(self, a, b):
        ra, rb = self.find(a), self.find(b)
        if ra == rb:
            return False
        if self.size[ra] < self.size[rb]:
            ra, rb = rb, ra
        self.parent[rb] = ra
        self.size[ra] += self.size[rb]
        return True


def _kruskal(edges, n):
    d = _Dsu(n)
    return [e for e in sorted(edges, key=lambda e: e[2]) if d.union(e[0], e[1])]


def reference_consistent_tangent_plane(points, normals, k, lam=0.0, tol=1.0):
    """The propagation written out plainly, with brute-force neighbour search.
    Valid for clouds without equal distances or equal weights, where the
    k-d tree's and the introsort's tie orders do not matter."""
    pts = np.asarray(points, dtype=np.float64)
    nrm = np.asarray(normals, dtype=np.float64).copy()
    n = len(pts)
    kk = k if k >= 3 else 2

    def knn(i, r):
        d = _sqd(pts, pts[i])
        order = np.argsort(d, kind="stable")[:r]
        return [int(j) for j in order], d[order]

    lists = [knn(i, min(kk, n))[0] for i in range(n)]

    def pair(s, t):
        d = pts[t] - pts[s]
        q = (d[0] * d[0] + d[1] * d[1]) + d[2] * d[2]
        a = abs((nrm[s][0] * d[0] + nrm[s][1] * d[1]) + nrm[s][2] * d[2])
        with np.errstate(all="ignore"):
            keep = not (a / np.sqrt(q) > tol)
        return keep, q, a

    def ndot(u, v):
        return (nrm[u][0] * nrm[v][0] + nrm[u][1] * nrm[v][1]) + nrm[u][2] * nrm[v][2]

    first = []
    for s in range(n):
        for t in lists[s]:
            if t == s:
                continue
            keep, q, a = pair(s, t)
            if keep:
                first.append((s, t, q + a * lam))
    tree = _kruskal(first, n)

    dsu = _Dsu(n)
    for u, v, _ in tree:
        dsu.union(u, v)
    while True:
        r0 = dsu.find(0)
        outside = [j for j in range(n) if dsu.find(j) != r0]
        if not outside:
            break
        rj = dsu.find(outside[0])
        best = None
        for m in [v for v in range(n) if dsu.find(v) == rj]:
            r = min(n, kk + 1)
            while True:
                idx, dist = knn(m, r)
                cand = next(((t, dd) for t, dd in zip(idx, dist) if dsu.find(t) != rj), None)
                if cand is not None or r >= n:
                    break
                r = min(n, 2 * r)
            if cand is not None and (best is None or cand[1] < best[2]):
                best = (m, cand[0], cand[1])
        if best is None:
            break
        tree.append(best)
        dsu.union(best[0], best[1])

    graph = [(u, v, 1.0 - abs(ndot(u, v))) for u, v, _ in tree]
    if k > 0:
        for s in range(n):
            for t in lists[s][:k]:
                if t != s and pair(s, t)[0]:
                    graph.append((s, t, 1.0 - abs(ndot(s, t))))
    forest = _kruskal(graph, n)
    adj = [[] for _ in range(n)]
    for u, v, _ in forest:
        adj[u].append(v)
        adj[v].append(u)

    start = 0
    for i in range(1, n):
        if pts[start][2] > pts[i][2]:
            start = i
    if nrm[start][2] > 0.0 * nrm[start][0] + 0.0 * nrm[start][1]:
        nrm[start] = -nrm[start]
    seen = [False] * n
    seen[start] = True
    queue = [start]
    for u in queue:
        for v in adj[u]:
            if not seen[v]:
                seen[v] = True
                if ndot(u, v) < 0:
                    nrm[v] = -nrm[v]
                queue.append(v)
    return nrm


def sphere_with_random_signs(n, seed, noise=0.0):
    rng = np.random.default_rng(seed)
    v = rng.normal(size=(n, 3))
    v /= np.linalg.norm(v, axis=1)[:, None]
    pts = v * (1.0 + noise * rng.normal(size=(n, 1)))
    signs = rng.choice([-1.0, 1.0], size=(n, 1))
    return pts, v * signs


def two_clusters(seed):
    rng = np.random.default_rng(seed)
    a = rng.uniform(-1, 1, size=(60, 3)) * (1, 1, 0.01)
    b = rng.uniform(-1, 1, size=(40, 3)) * (1, 1, 0.01) + (5, 0, 1)
    pts = np.vstack([b, a])  # vertex 0 in the far cluster
    nrm = np.tile([0.0, 0.0, 1.0], (100, 1)) + rng.normal(0, 0.05, size=(100, 3))
    nrm /= np.linalg.norm(nrm, axis=1)[:, None]
    nrm *= rng.choice([-1.0, 1.0], size=(100, 1))
    return pts, nrm


@pytest.mark.parametrize(
    "k,lam,tol",
    [(8, 0.0, 1.0), (5, 0.5, 1.0), (0, 0.0, 1.0), (1, 0.0, 1.0), (12, 0.0, 0.3), (6, 2.0, 0.05)],
)
def test_consistent_tangent_plane_matches_reference_on_sphere(k, lam, tol):
    pts, nrm = sphere_with_random_signs(250, seed=k + 1, noise=0.01)
    p = cloud(pts, normals=nrm)
    assert p.orient_normals_consistent_tangent_plane(k, lam, tol) is None
    got = normals_of(p)
    ref = reference_consistent_tangent_plane(pts, nrm, k, lam, tol)
    assert np.array_equal(got, ref)
    assert np.array_equal(np.abs(got), np.abs(nrm))  # only signs change


def test_consistent_tangent_plane_sphere_points_outwards():
    pts, nrm = sphere_with_random_signs(400, seed=3)
    p = cloud(pts, normals=nrm)
    p.orient_normals_consistent_tangent_plane(10)
    # The lowest point's normal is turned down, i.e. outwards, and so is every other.
    assert np.all(np.einsum("ij,ij->i", normals_of(p), pts) > 0)


@pytest.mark.parametrize("k", [0, 4, 10])
def test_components_are_connected(k):
    pts, nrm = two_clusters(seed=k)
    p = cloud(pts, normals=nrm)
    p.orient_normals_consistent_tangent_plane(k)
    got = normals_of(p)
    assert np.array_equal(got, reference_consistent_tangent_plane(pts, nrm, k))
    assert np.all(got[:, 2] < 0)  # both clusters follow the lowest point


@pytest.mark.parametrize("k", [0, 3, 7])
def test_planar_patch_points_down(k):
    rng = np.random.default_rng(k)
    pts = np.column_stack([rng.uniform(-1, 1, size=(80, 2)), np.full(80, 0.25)])
    pts[17, 2] = 0.0  # a unique lowest point
    nrm = np.tile([0.0, 0.0, 1.0], (80, 1)) * rng.choice([-1.0, 1.0], size=(80, 1))
    for tol in (1.0, 0.0):
        p = cloud(pts, normals=nrm)
        p.orient_normals_consistent_tangent_plane(k, 0.0, tol)
        assert np.array_equal(normals_of(p), np.tile([0.0, 0.0, -1.0], (80, 1)))


@pytest.mark.parametrize("z,expect", [((0, 0, 1), (0, 0, -1)), ((0, 0, -1), (0, 0, -1)), ((1, 0, 0), (1, 0, 0))])
def test_single_point(z, expect):
    p = cloud([(1, 2, 3)], normals=[z])
    p.orient_normals_consistent_tangent_plane(5)
    assert np.array_equal(normals_of(p), np.asarray([expect], dtype=np.float64))


def test_unreached_vertices_keep_signs():
    # Point 2 has a NaN coordinate: no search finds it, it finds nothing, so
    # the propagation never reaches it and its normal keeps its sign.
    pts = [(0, 0, 0), (1, 0, 0), (np.nan, 0, 0), (0, 1, 0)]
    nrm = [(0, 0, 1), (0, 0, -1), (0, 0, 1), (0, 0, 1)]
    p = cloud(pts, normals=nrm)
    p.orient_normals_consistent_tangent_plane(3)
    assert np.array_equal(normals_of(p), [[0, 0, -1], [0, 0, -1], [0, 0, 1], [0, 0, -1]])


@pytest.mark.parametrize(
    "method,args",
    [
        ("orient_normals_to_align_with_direction", ()),
        ("orient_normals_towards_camera_location", ()),
        ("orient_normals_consistent_tangent_plane", (5,)),
    ],
)
@pytest.mark.parametrize("points,normals", [([], []), ([(0, 0, 0), (1, 0, 0)], [(0, 0, 1)]), ([(0, 0, 0)], None)])
def test_requires_one_normal_per_point(method, args, points, normals):
    p = cloud(np.asarray(points, dtype=np.float64).reshape(-1, 3), normals)
    before = normals_of(p)
    with pytest.raises(RuntimeError) as e:
        getattr(p, method)(*args)
    assert str(e.value) == NO_NORMALS
    assert np.array_equal(normals_of(p), before)


@pytest.mark.parametrize(
    "call,exc,match",
    [
        (lambda p: p.orient_normals_to_align_with_direction([1, 2]), TypeError, "expected 3-vector"),
        (lambda p: p.orient_normals_to_align_with_direction("abc"), TypeError, None),
        (lambda p: p.orient_normals_towards_camera_location([1, 2, 3, 4]), TypeError, "expected 3-vector"),
        (lambda p: p.orient_normals_consistent_tangent_plane(2.0), TypeError, "k"),
        (lambda p: p.orient_normals_consistent_tangent_plane(-1), OverflowError, "k"),
        (lambda p: p.orient_normals_consistent_tangent_plane(2**64), OverflowError, "k"),
        (lambda p: p.orient_normals_consistent_tangent_plane(3, "x"), TypeError, "lambda"),
        (lambda p: p.orient_normals_consistent_tangent_plane(3, 0.0, None), TypeError, "cos_alpha_tol"),
        (lambda p: p.orient_normals_consistent_tangent_plane(), TypeError, "k"),
    ],
)
def test_argument_errors(call, exc, match):
    p = cloud([(0, 0, 0), (1, 0, 0), (0, 1, 0)], normals=[(0, 0, -1)] * 3)
    with pytest.raises(exc, match=match):
        call(p)
    assert np.array_equal(normals_of(p), np.tile([0.0, 0.0, -1.0], (3, 1)))


def test_keywords_and_integer_like_k():
    pts, nrm = sphere_with_random_signs(60, seed=9)
    a, b = cloud(pts, normals=nrm), cloud(pts, normals=nrm)
    a.orient_normals_consistent_tangent_plane(np.int64(6), 0.0, 1.0)
    b.orient_normals_consistent_tangent_plane(**{"k": 6, "lambda": 0.0, "cos_alpha_tol": 1})
    assert np.array_equal(normals_of(a), normals_of(b))


def test_signatures_and_docs():
    pc = g.PointCloud
    assert pc.orient_normals_to_align_with_direction.__text_signature__ == "($self, orientation_reference=None)"
    assert pc.orient_normals_towards_camera_location.__text_signature__ == "($self, camera_location=None)"
    assert pc.orient_normals_consistent_tangent_plane.__text_signature__ == "($self, k, lambda=0.0, cos_alpha_tol=1.0)"
    assert pc.orient_normals_to_align_with_direction.__doc__.startswith(
        "Function to orient the normals of a point cloud.\n\nArgs:\n    orientation_reference"
    )
    assert pc.orient_normals_consistent_tangent_plane.__doc__.endswith("normal.\n\nReturns:\n    None")


THREADS_CODE = """
import hashlib, numpy as np
from ombrix.cpu.pybind import geometry as g
rng = np.random.default_rng(8)
v = rng.normal(size=(20000, 3))
v /= np.linalg.norm(v, axis=1)[:, None]
pts = np.round(v * 50) / 50  # a lattice-snapped sphere: many equal distances and weights
p = g.PointCloud()
p.points = pts
p.estimate_normals(g.KDTreeSearchParamKNN(10))
h = hashlib.sha256()
for k in (0, 8):
    p.orient_normals_consistent_tangent_plane(k)
    h.update(np.asarray(p.normals).tobytes())
print(h.hexdigest())
"""


def test_independent_of_thread_count():
    one = run_python(THREADS_CODE, threads=1)
    four = run_python(THREADS_CODE, threads=4)
    assert len(one.strip()) == 64
    assert one == four
