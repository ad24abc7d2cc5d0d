"""compute_fpfh_feature against a direct NumPy/math implementation of the histogram formulas, its edge cases and
errors, and correspondences_from_features against brute-force nearest neighbours in feature space."""
import math

import numpy as np
import pytest

from conftest import run_python, cloud
from ombrix.cpu.pybind import geometry, utility
from ombrix.cpu.pybind.pipelines import registration as reg

PI = math.pi


def random_cloud(n, seed=3):
    rng = np.random.default_rng(seed)
    pts = rng.random((n, 3))
    nrm = rng.normal(size=(n, 3))
    nrm /= np.linalg.norm(nrm, axis=1, keepdims=True)
    return pts, nrm


# ---- reference implementation ---------------------------------------------------------------------------------

def sqdist(p, q):
    d = (q - p) ** 2
    return (d[..., 0] + d[..., 1]) + d[..., 2]


def brute_neighbours(pts, kind, k=None, r=None):
    """Neighbour lists in the order the k-d tree reports them (ascending distance; no ties in random data)."""
    out = []
    for i in range(len(pts)):
        d = sqdist(pts[i], pts)
        order = np.argsort(d, kind="stable")
        if kind == "knn":
            order = order[:k]
        elif kind == "radius":
            order = order[d[order] < r * r]
        else:  # hybrid
            order = order[:k]
            order = order[d[order] < r * r]
        out.append((order, d[order]))
    return out


def dot(a, b):
    return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def clamp_bin(x):
    f = math.floor(x) if not math.isnan(x) else 0
    return min(max(f, 0), 10)


def pair_bins(p1, n1, p2, n2):
    dp = [p2[j] - p1[j] for j in range(3)]
    s = dot(dp, dp)
    if s == 0.0:
        return 5, 16, 27
    d = math.sqrt(s)
    a1 = min(max(dot(n1, dp) / d, -1.0), 1.0)
    a2 = min(max(dot(n2, dp) / d, -1.0), 1.0)
    if abs(a2) > abs(a1):
        m1, m2, e, f3 = n2, n1, [-x for x in dp], -a2
    else:
        m1, m2, e, f3 = n1, n2, dp, a1
    v = cross(e, m1)
    t = dot(v, v)
    if t == 0.0:
        return 5, 16, 27
    sq = math.sqrt(t)
    v = [x / sq for x in v]
    w = cross(m1, v)
    f2 = dot(v, m2)
    f1 = math.atan2(dot(w, m2), dot(n1, n2))
    return (clamp_bin(((f1 + PI) * 11) / (2 * PI)), 11 + clamp_bin(((f2 + 1) * 11) * 0.5),
            22 + clamp_bin(((f3 + 1) * 11) * 0.5))


def reference_fpfh(pts, nrm, neighbours):
    n = len(pts)
    p = [tuple(map(float, x)) for x in pts]
    q = [tuple(map(float, x)) for x in nrm]
    spfh = np.zeros((n, 33))
    for i, (idx, _) in enumerate(neighbours):
        m = len(idx)
        if m <= 1:
            continue
        inc = 100.0 / (m - 1)
        for j in idx[1:]:
            for b in pair_bins(p[i], q[i], p[j], q[j]):
                spfh[i, b] += inc
    fpfh = np.zeros((n, 33))
    for i, (idx, d2) in enumerate(neighbours):
        if len(idx) <= 1:
            continue
        keep = d2[1:] != 0
        js, qs = idx[1:][keep], d2[1:][keep]
        vals = spfh[js] / qs[:, None]              # value = SPFH(j)[b] / q
        h = np.zeros(33)
        sums = [0.0, 0.0, 0.0]
        for row in vals:                           # accumulate in neighbour order
            h += row
            for b in range(33):
                sums[b // 11] += row[b]
        scale = [100.0 / s if s != 0 else 0.0 for s in sums]
        fpfh[i] = h * np.repeat(scale, 11) + spfh[i]
    return fpfh.T


PARAMS = [
    ("knn", geometry.KDTreeSearchParamKNN(12), dict(k=12)),
    ("radius", geometry.KDTreeSearchParamRadius(0.3), dict(r=0.3)),
    ("hybrid", geometry.KDTreeSearchParamHybrid(0.35, 9), dict(k=9, r=0.35)),
]


@pytest.mark.parametrize("kind, param, args", PARAMS, ids=[p[0] for p in PARAMS])
def test_matches_reference(kind, param, args):
    pts, nrm = random_cloud(80)
    f = reg.compute_fpfh_feature(cloud(pts, nrm), param)
    assert isinstance(f, reg.Feature)
    assert (f.dimension(), f.num()) == (33, 80)
    want = reference_fpfh(pts, nrm, brute_neighbours(pts, kind, **args))
    got = np.asarray(f.data)
    assert got.shape == (33, 80)
    assert got.tobytes() == want.tobytes()
    # Every non-empty sub-histogram of the result sums to about 200 (FPFH = weighted SPFH + own SPFH).
    sub = got.reshape(3, 11, 80).sum(axis=1)
    assert np.all((np.abs(sub - 200) < 1e-9) | (sub == 0) | (np.abs(sub - 100) < 1e-9))


def test_keyword_arguments_and_signature():
    pts, nrm = random_cloud(20)
    f = reg.compute_fpfh_feature(input=cloud(pts, nrm), search_param=geometry.KDTreeSearchParamKNN(5))
    assert f.num() == 20
    assert reg.compute_fpfh_feature.__text_signature__ == "(input, search_param)"
    assert reg.correspondences_from_features.__text_signature__ == (
        "(source_features, target_features, mutual_filter=False, mutual_consistency_ratio=0.1)")


def test_knn_one_gives_zero_features():
    pts, nrm = random_cloud(30)
    f = reg.compute_fpfh_feature(cloud(pts, nrm), geometry.KDTreeSearchParamKNN(1))
    assert not np.asarray(f.data).any()


def test_negative_knn_gives_zero_features():
    pts, nrm = random_cloud(10)
    f = reg.compute_fpfh_feature(cloud(pts, nrm), geometry.KDTreeSearchParamKNN(-3))
    assert f.num() == 10 and not np.asarray(f.data).any()


def expected_column(bins, value):
    col = np.zeros(33)
    col[list(bins)] = value
    return col


def test_two_coincident_points():
    f = reg.compute_fpfh_feature(cloud([[1, 2, 3], [1, 2, 3]], [[0, 0, 1], [0, 0, 1]]), geometry.KDTreeSearchParamKNN(2))
    want = expected_column((5, 16, 27), 100.0)
    assert np.array_equal(np.asarray(f.data), np.stack([want, want], axis=1))


def test_two_points_perpendicular_offset():
    f = reg.compute_fpfh_feature(cloud([[0, 0, 0], [1, 0, 0]], [[0, 0, 1], [0, 0, 1]]), geometry.KDTreeSearchParamKNN(2))
    # SPFH 100 in bins 5, 16, 27; the neighbour at distance 1 adds its own SPFH scaled to 100.
    want = expected_column((5, 16, 27), 200.0)
    assert np.array_equal(np.asarray(f.data), np.stack([want, want], axis=1))


@pytest.mark.parametrize("normals", [None, [[0, 0, 1]]])
def test_missing_normals(normals):
    pts, _ = random_cloud(3)
    with pytest.raises(ValueError, match=r"^Failed because input point cloud has no normal\.$"):
        reg.compute_fpfh_feature(cloud(pts, normals), geometry.KDTreeSearchParamKNN(3))


def test_empty_cloud():
    with pytest.raises(ValueError, match="Failed because input point cloud has no normal."):
        reg.compute_fpfh_feature(geometry.PointCloud(), geometry.KDTreeSearchParamKNN(3))


@pytest.mark.parametrize("args", [(None, geometry.KDTreeSearchParamKNN(3)), ("cloud", geometry.KDTreeSearchParamKNN(3)),
                                  ("ok", None), ("ok", 3)])
def test_argument_types(args):
    pts, nrm = random_cloud(5)
    a = [cloud(pts, nrm) if x == "ok" else x for x in args]
    with pytest.raises(TypeError):
        reg.compute_fpfh_feature(*a)


def test_thread_count_does_not_change_features():
    code = """
import numpy as np
from ombrix.cpu.pybind import geometry, utility
from ombrix.cpu.pybind.pipelines import registration as reg
rng = np.random.default_rng(11)
pc = geometry.PointCloud()
pc.points = utility.Vector3dVector(rng.random((3000, 3)))
n = rng.normal(size=(3000, 3)); n /= np.linalg.norm(n, axis=1, keepdims=True)
pc.normals = utility.Vector3dVector(n)
f = reg.compute_fpfh_feature(pc, geometry.KDTreeSearchParamHybrid(0.08, 40))
import sys; sys.stdout.buffer.write(np.asarray(f.data).tobytes())
"""
    one = run_python(code, threads=1)
    assert len(one) == 33 * 3000 * 8 and any(one)
    assert run_python(code, threads=4) == one


# ---- correspondences_from_features -------------------------------------------------------------------------------

def feature(matrix):
    f = reg.Feature()
    f.data = np.ascontiguousarray(np.asarray(matrix, dtype=np.float64))
    return f


def pairs(v):
    return [tuple(p) for p in np.asarray(v).tolist()]


def brute_nn(q, r):
    """Index of the nearest column of r for every column of q (distance grouped as the k-d tree sums it)."""
    out = []
    for i in range(q.shape[1]):
        d = (r - q[:, i:i + 1]) ** 2
        acc = np.zeros(r.shape[1])
        j = 0
        while j + 3 < r.shape[0]:
            acc += ((d[j] + d[j + 1]) + d[j + 2]) + d[j + 3]
            j += 4
        for jj in range(j, r.shape[0]):
            acc += d[jj]
        out.append(int(np.argmin(acc)))
    return out


def test_correspondences_match_brute_force():
    rng = np.random.default_rng(5)
    src, tgt = rng.random((33, 200)), rng.random((33, 150))
    fwd, bwd = brute_nn(src, tgt), brute_nn(tgt, src)
    plain = reg.correspondences_from_features(feature(src), feature(tgt))
    assert isinstance(plain, utility.Vector2iVector)
    assert pairs(plain) == list(enumerate(fwd))
    mutual = [(j, t) for j, t in enumerate(fwd) if bwd[t] == j]
    assert 0 < len(mutual) < 200
    # The default ratio needs 20 mutual pairs out of 200 source features.
    want = mutual if len(mutual) >= 20 else list(enumerate(fwd))
    assert pairs(reg.correspondences_from_features(feature(src), feature(tgt), True)) == want
    assert pairs(reg.correspondences_from_features(feature(src), feature(tgt), True, 0.0)) == mutual
    got = reg.correspondences_from_features(feature(src), feature(tgt), mutual_filter=True,
                                            mutual_consistency_ratio=1.0)
    assert pairs(got) == list(enumerate(fwd))


@pytest.mark.parametrize("mutual", [False, True])
def test_identical_features_pair_with_themselves(mutual):
    m = np.arange(30, dtype=np.float64).reshape(3, 10) ** 1.5
    assert pairs(reg.correspondences_from_features(feature(m), feature(m), mutual)) == [(i, i) for i in range(10)]


# Ten 1-D source features 0..9 against targets {0, 100}: every source maps to target 0, only source 0 is mutual.
@pytest.mark.parametrize("ratio, mutual_list", [(0.1, True), (0.0, True), (0.19, True), (0.2, False), (1.5, False), (-1.0, True)])
def test_mutual_threshold(ratio, mutual_list):
    src = feature(np.arange(10.0).reshape(1, 10))
    tgt = feature([[0.0, 100.0]])
    got = pairs(reg.correspondences_from_features(src, tgt, True, ratio))
    assert got == ([(0, 0)] if mutual_list else [(i, 0) for i in range(10)])


# Ten 1-D sources 0..9 against targets 0, 4, 8, 100: three mutual pairs.
@pytest.mark.parametrize("ratio, mutual_list", [(0.3, True), (0.3999, True), (0.39999999999, False), (0.4, False)])
def test_single_precision_ratio(ratio, mutual_list):
    # 0.39999999999 * 10 truncates to 3 in double precision, but the ratio rounds to 0.4f first and T = 4.
    src = feature(np.arange(10.0).reshape(1, 10))
    tgt = feature([[0.0, 4.0, 8.0, 100.0]])
    mutual = [(0, 0), (4, 1), (8, 2)]
    # Ties (2 between 0 and 4, 6 between 4 and 8) go to the lower target index.
    forward = list(enumerate([0, 0, 0, 1, 1, 1, 1, 2, 2, 2]))
    assert pairs(reg.correspondences_from_features(src, tgt, False)) == forward
    assert pairs(reg.correspondences_from_features(src, tgt, True, ratio)) == (mutual if mutual_list else forward)


@pytest.mark.parametrize("src, tgt", [((33, 5), (32, 5)), ((33, 0), (33, 5)), ((33, 5), (33, 0)), ((0, 0), (0, 0))])
@pytest.mark.parametrize("mutual", [False, True])
def test_empty_results(src, tgt, mutual):
    a = reg.Feature()
    a.resize(*src)
    b = reg.Feature()
    b.resize(*tgt)
    assert len(reg.correspondences_from_features(a, b, mutual)) == 0


@pytest.mark.parametrize("args", [(None, "f"), ("f", 3), ("f", "f", 1), ("f", "f", True, "x")])
def test_correspondence_argument_types(args):
    f = feature(np.zeros((2, 2)))
    with pytest.raises(TypeError):
        reg.correspondences_from_features(*[f if a == "f" else a for a in args])


def test_correspondences_thread_independent():
    code = """
import sys
import numpy as np
from ombrix.cpu.pybind.pipelines import registration as reg
rng = np.random.default_rng(2)
a, b = reg.Feature(), reg.Feature()
a.data = rng.random((33, 2000)); b.data = rng.random((33, 1500))
for m in (False, True):
    sys.stdout.buffer.write(np.asarray(reg.correspondences_from_features(a, b, m)).tobytes() + b"|")
"""
    assert run_python(code, threads=1) == run_python(code, threads=4)


def test_nan_normal_and_duplicate_points_match_reference():
    # A NaN normal puts its pairs in bins 0, 11 and 22; a duplicated point meets itself at distance 0.
    pts, nrm = random_cloud(40, seed=9)
    nrm[7] = [np.nan, 0.0, 1.0]
    pts[12] = pts[30]
    nb = brute_neighbours(pts, "knn", k=8)
    f = reg.compute_fpfh_feature(cloud(pts, nrm), geometry.KDTreeSearchParamKNN(8))
    got = np.asarray(f.data)
    # The duplicate pair's order in the k-d tree is its own tie order: take the tree's lists for those two points.
    kd = geometry.KDTreeFlann(cloud(pts, nrm))
    for i in (12, 30):
        k, idx, d2 = kd.search_knn_vector_3d(pts[i], 8)
        nb[i] = (np.asarray(idx, dtype=np.int64), np.asarray(d2))
    for i in range(40):
        j = nb[i][0]
        nb[i] = (j, sqdist(pts[i], pts[j]))
    want = reference_fpfh(pts, nrm, nb)
    assert got.tobytes() == want.tobytes()
    assert np.isfinite(got).all()
    assert got[0, 7] > 0 and got[11, 7] > 0 and got[22, 7] > 0
