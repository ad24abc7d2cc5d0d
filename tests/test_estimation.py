"""Transformation estimators (point-to-point with and without scaling, point-to-plane) and RMSE,
checked against independent NumPy references and hand-worked cases."""
import copy
import math

import numpy as np
import pytest

from conftest import run_python, cloud, pairs
from ombrix.cpu.pybind import geometry as g
from ombrix.cpu.pybind import utility as u
from ombrix.cpu.pybind.pipelines import registration as reg


def rotation(a, b, c):
    ca, sa, cb, sb, cc, sc = math.cos(a), math.sin(a), math.cos(b), math.sin(b), math.cos(c), math.sin(c)
    rx = np.array([[1, 0, 0], [0, ca, -sa], [0, sa, ca]])
    ry = np.array([[cb, 0, sb], [0, 1, 0], [-sb, 0, cb]])
    rz = np.array([[cc, -sc, 0], [sc, cc, 0], [0, 0, 1]])
    return rz @ ry @ rx


def umeyama_ref(src, tgt, with_scaling):
    n = len(src)
    ms, mt = src.mean(0), tgt.mean(0)
    ds, dt = src - ms, tgt - mt
    cov = dt.T @ ds / n
    uu, s, vt = np.linalg.svd(cov)
    d = -1.0 if np.linalg.det(uu @ vt) < 0 else 1.0
    r = uu @ np.diag([1.0, 1.0, d]) @ vt
    var = (ds**2).sum() / n
    c = (s[0] + s[1] + d * s[2]) / var if with_scaling else 1.0
    t = np.eye(4)
    t[:3, :3] = c * r
    t[:3, 3] = mt - c * r @ ms
    return t


def plane_ref(src, tgt, nrm):
    j = np.hstack([np.cross(src, nrm), nrm])
    r = ((src - tgt) * nrm).sum(1)
    x = np.linalg.solve(j.T @ j, -j.T @ r)
    t = np.eye(4)
    t[:3, :3] = rotation(*x[:3])
    t[:3, 3] = x[3:]
    return t


RNG = np.random.default_rng(7)
SRC = RNG.uniform(-1, 1, (60, 3))
TRUE_T = np.eye(4)
TRUE_T[:3, :3] = rotation(0.3, -0.2, 0.5)
TRUE_T[:3, 3] = [0.4, -1.0, 0.25]


def moved(points, t):
    return points @ t[:3, :3].T + t[:3, 3]


@pytest.mark.parametrize("with_scaling", [False, True])
@pytest.mark.parametrize("noise", [0.0, 0.05])
def test_point_to_point_matches_numpy_umeyama(with_scaling, noise):
    scale = 1.7 if with_scaling else 1.0
    tgt = moved(SRC, TRUE_T) * scale + RNG.normal(0, noise, SRC.shape)
    perm = RNG.permutation(len(SRC)).astype(np.int32)
    corr = np.stack([np.arange(len(SRC), dtype=np.int32), perm], 1)
    tgt_shuffled = np.empty_like(tgt)
    tgt_shuffled[perm] = tgt
    est = reg.TransformationEstimationPointToPoint(with_scaling)
    got = est.compute_transformation(cloud(SRC), cloud(tgt_shuffled), pairs(corr))
    assert got.shape == (4, 4) and got.dtype == np.float64
    np.testing.assert_allclose(got, umeyama_ref(SRC, tgt, with_scaling), rtol=0, atol=1e-12)
    if noise == 0.0 and not with_scaling:
        np.testing.assert_allclose(got, TRUE_T, atol=1e-13)


def test_point_to_plane_matches_numpy_normal_equations():
    nrm = RNG.normal(size=SRC.shape)
    nrm /= np.linalg.norm(nrm, axis=1, keepdims=True)
    tgt = SRC + RNG.normal(0, 0.1, SRC.shape)
    corr = np.stack([np.arange(len(SRC))] * 2, 1)
    est = reg.TransformationEstimationPointToPlane()
    got = est.compute_transformation(cloud(SRC), cloud(tgt, nrm), pairs(corr))
    np.testing.assert_allclose(got, plane_ref(SRC, tgt, nrm), rtol=0, atol=1e-12)
    assert np.array_equal(got[3], [0, 0, 0, 1])


@pytest.mark.parametrize("kind", ["p2p", "p2plane"])
def test_rmse_exact_sum_order(kind):
    nrm = RNG.normal(size=SRC.shape)
    tgt = SRC + RNG.normal(0, 0.1, SRC.shape)
    corr = np.array([[i, (i * 7) % len(SRC)] for i in range(40)], dtype=np.int32)
    acc = 0.0
    for i, j in corr:
        s, t, n = SRC[i].tolist(), tgt[j].tolist(), nrm[j].tolist()
        if kind == "p2p":
            d = [s[k] - t[k] for k in range(3)]
            acc += (d[0] * d[0] + d[1] * d[1]) + d[2] * d[2]
        else:
            r = ((s[0] - t[0]) * n[0] + (s[1] - t[1]) * n[1]) + (s[2] - t[2]) * n[2]
            acc += r * r
    want = math.sqrt(acc / len(corr))
    est = reg.TransformationEstimationPointToPoint() if kind == "p2p" else reg.TransformationEstimationPointToPlane()
    got = est.compute_rmse(cloud(SRC), cloud(tgt, nrm), pairs(corr))
    assert got.hex() == want.hex()


def test_identity_cases():
    nrm = RNG.normal(size=SRC.shape)
    nrm /= np.linalg.norm(nrm, axis=1, keepdims=True)
    c = pairs(np.stack([np.arange(len(SRC))] * 2, 1))
    p2p = reg.TransformationEstimationPointToPoint().compute_transformation(cloud(SRC), cloud(SRC), c)
    np.testing.assert_allclose(p2p, np.eye(4), atol=1e-14)
    # Zero residuals: the step is exactly zero and the rotation exactly the identity.
    p2l = reg.TransformationEstimationPointToPlane().compute_transformation(cloud(SRC), cloud(SRC, nrm), c)
    assert np.array_equal(p2l, np.eye(4))


def test_empty_correspondences():
    for est in (reg.TransformationEstimationPointToPoint(), reg.TransformationEstimationPointToPoint(True),
                reg.TransformationEstimationPointToPlane()):
        assert np.array_equal(est.compute_transformation(cloud(SRC), cloud(SRC, SRC), pairs([])), np.eye(4))
        assert est.compute_rmse(cloud(SRC), cloud(SRC, SRC), pairs([])) == 0.0


def is_rotation(m):
    return np.allclose(m @ m.T, np.eye(3), atol=1e-12) and abs(np.linalg.det(m) - 1) < 1e-12


def test_collinear_pairs_give_proper_rotation():
    src = np.array([[0, 0, 0], [1, 1, 1], [2, 2, 2]], dtype=float)
    r3 = math.sqrt(3.0)
    tgt = np.array([[1, 0, 0], [1, r3, 0], [1, 2 * r3, 0]], dtype=float)
    t = reg.TransformationEstimationPointToPoint().compute_transformation(cloud(src), cloud(tgt), pairs([[0, 0], [1, 1], [2, 2]]))
    assert is_rotation(t[:3, :3])
    np.testing.assert_allclose(moved(src, t), tgt, atol=1e-12)


def test_mirrored_source_gives_rotation_not_reflection():
    src = SRC.copy()
    src[:, 0] *= -1
    c = pairs(np.stack([np.arange(len(SRC))] * 2, 1))
    t = reg.TransformationEstimationPointToPoint().compute_transformation(cloud(src), cloud(SRC), c)
    assert is_rotation(t[:3, :3])
    np.testing.assert_allclose(t, umeyama_ref(src, SRC, False), atol=1e-12)


def test_scaling():
    centroid = SRC.mean(0)
    src = (SRC - centroid) * 2 + centroid
    c = pairs(np.stack([np.arange(len(SRC))] * 2, 1))
    t = reg.TransformationEstimationPointToPoint(with_scaling=True).compute_transformation(cloud(src), cloud(SRC), c)
    np.testing.assert_allclose(t[:3, :3], 0.5 * np.eye(3), atol=1e-14)
    np.testing.assert_allclose(t[:3, 3], 0.5 * centroid, atol=1e-14)
    # One pair: no variance, scale 1 and a pure translation, every value exact.
    one = reg.TransformationEstimationPointToPoint(True).compute_transformation(
        cloud([[1.0, 2.0, 3.0]]), cloud([[1.5, 0.0, -1.0]]), pairs([[0, 0]]))
    want = np.eye(4)
    want[:3, 3] = [0.5, -2.0, -4.0]
    assert np.array_equal(one, want)


def test_point_to_plane_without_normals():
    c = pairs(np.stack([np.arange(len(SRC))] * 2, 1))
    est = reg.TransformationEstimationPointToPlane()
    assert est.compute_rmse(cloud(SRC), cloud(SRC + 1), c) == 0.0
    assert np.array_equal(est.compute_transformation(cloud(SRC), cloud(SRC + 1), c), np.eye(4))


def test_point_to_plane_planar_target_is_finite():
    tgt = SRC.copy()
    tgt[:, 2] = 0.0
    nrm = np.tile([0.0, 0.0, 1.0], (len(SRC), 1))
    src = tgt + [0.3, -0.2, 0.1]
    c = pairs(np.stack([np.arange(len(SRC))] * 2, 1))
    t = reg.TransformationEstimationPointToPlane().compute_transformation(cloud(src), cloud(tgt, nrm), c)
    assert np.all(np.isfinite(t))
    # In-plane rotation and translation are undetermined and come out as zero.
    assert t[0, 3] == 0.0 and t[1, 3] == 0.0
    np.testing.assert_allclose(t[:3, :3], np.eye(3), atol=1e-15)
    np.testing.assert_allclose(t[2, 3], -0.1, atol=1e-12)


@pytest.mark.parametrize(
    "corr, message",
    [
        ([[-1, 0]], "correspondence 0 has negative source index -1"),
        ([[0, 1], [2, -3]], "correspondence 1 has negative target index -3"),
        ([[0, 0], [1, 1], [6, 0]], "correspondence 2 source index 6 is out of bounds for 6 points"),
        ([[0, 5]], "correspondence 0 target index 5 is out of bounds for 5 points"),
        ([[-1, 9]], "correspondence 0 has negative source index -1"),
        ([[9, -1]], "correspondence 0 has negative target index -1"),
    ],
)
@pytest.mark.parametrize("method", ["compute_rmse", "compute_transformation"])
def test_invalid_correspondences(corr, message, method):
    est = reg.TransformationEstimationPointToPlane()
    with pytest.raises(ValueError) as e:
        getattr(est, method)(cloud(SRC[:6]), cloud(SRC[:5]), pairs(corr))
    assert str(e.value) == message


def test_argument_types():
    est = reg.TransformationEstimationPointToPoint()
    with pytest.raises(TypeError):
        est.compute_rmse(SRC, cloud(SRC), pairs([]))
    with pytest.raises(TypeError):
        est.compute_transformation(cloud(SRC), cloud(SRC), [[0, 0]])
    with pytest.raises(TypeError):
        reg.TransformationEstimationPointToPoint(1)
    with pytest.raises(TypeError):
        reg.TransformationEstimationPointToPlane(True)
    with pytest.raises(TypeError):
        reg.TransformationEstimation()
    t = est.compute_transformation(source=cloud(SRC), target=cloud(SRC), corres=pairs([[0, 0]]))
    assert t.shape == (4, 4)


def test_classes_reprs_and_copies():
    p = reg.TransformationEstimationPointToPoint()
    assert repr(p) == "TransformationEstimationPointToPoint(with_scaling=False)"
    assert p.with_scaling is False
    p.with_scaling = True
    assert repr(p) == "TransformationEstimationPointToPoint(with_scaling=True)"
    with pytest.raises(TypeError):
        p.with_scaling = 1
    with pytest.raises(AttributeError):
        del p.with_scaling
    for q in (copy.copy(p), copy.deepcopy(p), p.__deepcopy__(None)):
        assert type(q) is reg.TransformationEstimationPointToPoint and q is not p and q.with_scaling is True
    q.with_scaling = False
    assert p.with_scaling is True
    pl = reg.TransformationEstimationPointToPlane()
    assert repr(pl) == "TransformationEstimationPointToPlane"
    assert type(copy.deepcopy(pl)) is reg.TransformationEstimationPointToPlane
    assert isinstance(pl, reg.TransformationEstimation)
    assert reg.TransformationEstimationPointToPoint.__text_signature__ == "(with_scaling=False)"
    assert reg.TransformationEstimation.compute_rmse.__text_signature__ == "($self, source, target, corres)"
    with pytest.raises(TypeError):
        type("X", (reg.TransformationEstimationPointToPlane,), {})


def test_point_to_plane_thread_independent():
    code = """
import numpy as np
from ombrix.cpu.pybind import geometry as g, utility as u
from ombrix.cpu.pybind.pipelines import registration as reg
rng = np.random.default_rng(3)
n = 20000
s, t, nr = rng.normal(size=(n, 3)), rng.normal(size=(n, 3)), rng.normal(size=(n, 3))
a, b = g.PointCloud(), g.PointCloud()
a.points = u.Vector3dVector(s); b.points = u.Vector3dVector(t); b.normals = u.Vector3dVector(nr)
c = u.Vector2iVector(np.stack([np.arange(n), rng.permutation(n)], 1).astype(np.int32))
print(reg.TransformationEstimationPointToPlane().compute_transformation(a, b, c).tobytes().hex())
"""
    assert run_python(code, threads=1) == run_python(code, threads=4)


# ---- Literal transcriptions of the estimators in plain Python floats (IEEE doubles, one rounding per
# operation), used to check the C++ results bit for bit: the SVD sweeps, the pivoted LDLT and every sum
# follow a fixed evaluation order.

TINY = 2.2250738585072014e-308


def lit_jacobi(w):
    u = [[1.0, 0.0, 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, 1.0]]
    v = [row[:] for row in u]
    max_diag = max(abs(w[0][0]), abs(w[1][1]), abs(w[2][2]))
    while True:
        rotated = False
        for p, q in ((1, 0), (2, 0), (2, 1)):
            thr = max(max_diag * 4.440892098500626e-16, TINY)
            if not (abs(w[p][q]) > thr or abs(w[q][p]) > thr):
                continue
            rotated = True
            t = w[p][p] + w[q][q]
            d = w[q][p] - w[p][q]
            if abs(d) < TINY:
                c1, s1 = 1.0, 0.0
            else:
                uu = t / d
                h = math.sqrt(uu * uu + 1.0)
                c1, s1 = uu / h, 1.0 / h
            x = c1 * w[p][p] + s1 * w[q][p]
            y = c1 * w[p][q] + s1 * w[q][q]
            z = c1 * w[q][q] - s1 * w[p][q]
            if 2.0 * abs(y) < TINY:
                cr, sr = 1.0, 0.0
            else:
                tau = (x - z) / (2.0 * abs(y))
                ww = math.sqrt(tau * tau + 1.0)
                tt = 1.0 / (tau + ww) if tau > 0 else 1.0 / (tau - ww)
                n = 1.0 / math.sqrt(tt * tt + 1.0)
                sr = -(1.0 if tt > 0 else -1.0) * (y / abs(y)) * abs(tt) * n
                cr = n
            cl = c1 * cr + s1 * sr
            sl = s1 * cr - c1 * sr
            for k in range(3):
                a, b = w[p][k], w[q][k]
                w[p][k], w[q][k] = cl * a + sl * b, cl * b - sl * a
                a, b = u[k][p], u[k][q]
                u[k][p], u[k][q] = cl * a + sl * b, cl * b - sl * a
            for m in (w, v):
                for k in range(3):
                    a, b = m[k][p], m[k][q]
                    m[k][p], m[k][q] = cr * a - sr * b, cr * b + sr * a
            max_diag = max(max_diag, abs(w[p][p]), abs(w[q][q]))
        if not rotated:
            return u, v


def lit_point_to_point(src, tgt, corr, with_scaling):
    n = len(corr)
    inv = 1.0 / n
    ss, st = [0.0] * 3, [0.0] * 3
    for i, j in corr:
        for k in range(3):
            ss[k] += src[i][k]
            st[k] += tgt[j][k]
    ms = [x * inv for x in ss]
    mt = [x * inv for x in st]
    sig = [[0.0] * 3 for _ in range(3)]
    var = 0.0
    for i, j in corr:
        ds = [src[i][k] - ms[k] for k in range(3)]
        dt = [tgt[j][k] - mt[k] for k in range(3)]
        for a in range(3):
            for b in range(3):
                sig[a][b] += dt[a] * ds[b]
        var += (ds[0] * ds[0] + ds[1] * ds[1]) + ds[2] * ds[2]
    sig = [[x * inv for x in row] for row in sig]
    var = var * inv
    scale = 0.0
    for row in sig:
        for x in row:
            scale = max(scale, abs(x))
    if scale == 0.0:
        scale = 1.0
    w = [[x / scale for x in row] for row in sig]
    u, v = lit_jacobi(w)
    s = []
    for i in range(3):
        if w[i][i] < 0:
            for r in range(3):
                u[r][i] = -u[r][i]
        s.append(abs(w[i][i]) * scale)

    def swap(a, b):
        s[a], s[b] = s[b], s[a]
        for m in (u, v):
            for r in range(3):
                m[r][a], m[r][b] = m[r][b], m[r][a]

    k = max(range(3), key=lambda i: (s[i], -i))
    if s[k] != 0.0:
        if k != 0:
            swap(0, k)
        if s[2] > s[1]:
            swap(1, 2)
    d = -1.0 if np.linalg.det(np.array(u) @ np.array(v).T) < 0 else 1.0
    r = [[(u[i][0] * v[j][0] + u[i][1] * v[j][1]) + (u[i][2] * d) * v[j][2] for j in range(3)] for i in range(2)]
    r.append([((u[2][2] * d) * v[j][2] + u[2][1] * v[j][1]) + u[2][0] * v[j][0] for j in range(3)])
    c = ((s[0] + s[1]) + d * s[2]) / var if with_scaling else 1.0
    if not var > 0:
        c = 1.0
    cr = [[x * c for x in row] for row in r]
    t = [mt[i] - ((cr[i][0] * ms[0] + cr[i][1] * ms[1]) + cr[i][2] * ms[2]) for i in range(2)]
    t.append(mt[2] - ((cr[2][2] * ms[2] + cr[2][1] * ms[1]) + cr[2][0] * ms[0]))
    return [cr[0] + [t[0]], cr[1] + [t[1]], cr[2] + [t[2]], [0.0, 0.0, 0.0, 1.0]]


def lit_solve(jtj, jtr):
    a = [[jtj[i][j] if j <= i else 0.0 for j in range(6)] for i in range(6)]
    tr = list(range(6))
    for k in range(6):
        p = k
        for i in range(k + 1, 6):
            if abs(a[i][i]) > abs(a[p][p]):
                p = i
        tr[k] = p
        if p != k:
            for j in range(k):
                a[k][j], a[p][j] = a[p][j], a[k][j]
            for i in range(p + 1, 6):
                a[i][k], a[i][p] = a[i][p], a[i][k]
            a[k][k], a[p][p] = a[p][p], a[k][k]
            for i in range(k + 1, p):
                a[i][k], a[p][i] = a[p][i], a[i][k]
        if k > 0:
            temp = [a[j][j] * a[k][j] for j in range(k)]
            acc = 0.0
            for j in range(k):
                acc += a[k][j] * temp[j]
            a[k][k] -= acc
            for i in range(k + 1, 6):
                acc = 0.0
                for j in range(k):
                    acc += a[i][j] * temp[j]
                a[i][k] -= acc
        if k == 0 and a[0][0] == 0.0:
            tr = list(range(6))
            break
        if a[k][k] != 0.0:
            for i in range(k + 1, 6):
                a[i][k] /= a[k][k]
    b = [-x for x in jtr]
    for k in range(6):
        b[k], b[tr[k]] = b[tr[k]], b[k]
    for j in range(6):
        for i in range(j + 1, 6):
            b[i] -= a[i][j] * b[j]
    b = [b[i] / a[i][i] if abs(a[i][i]) > TINY else 0.0 for i in range(6)]
    for i in range(5, -1, -1):
        acc = 0.0
        for j in range(i + 1, 6):
            acc += a[j][i] * b[j]
        b[i] -= acc
    for k in range(5, -1, -1):
        b[k], b[tr[k]] = b[tr[k]], b[k]
    return b


def lit_point_to_plane(src, tgt, nrm, corr):
    jtj = [[0.0] * 6 for _ in range(6)]
    jtr = [0.0] * 6
    for i, j in corr:
        s, q, n = src[i], tgt[j], nrm[j]
        row = [s[1] * n[2] - s[2] * n[1], s[2] * n[0] - s[0] * n[2], s[0] * n[1] - s[1] * n[0], n[0], n[1], n[2]]
        r = ((s[0] - q[0]) * n[0] + (s[1] - q[1]) * n[1]) + (s[2] - q[2]) * n[2]
        for a in range(6):
            for b in range(6):
                jtj[a][b] += row[a] * row[b]
            jtr[a] += row[a] * r
    x = lit_solve(jtj, jtr)

    def half(angle, axis):
        q = [math.cos(angle * 0.5), 0.0, 0.0, 0.0]
        q[1 + axis] = math.sin(angle * 0.5)
        return q

    def mul(a, b):  # Hamilton product, (w, x, y, z)
        return [a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3],
                a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2],
                a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1],
                a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0]]

    w, qx, qy, qz = mul(mul(half(x[2], 2), half(x[1], 1)), half(x[0], 0))
    X, Y, Z = 2 * qx, 2 * qy, 2 * qz
    return [[1 - (Y * qy + Z * qz), X * qy - Z * w, X * qz + Y * w, x[3]],
            [X * qy + Z * w, 1 - (X * qx + Z * qz), Y * qz - X * w, x[4]],
            [X * qz - Y * w, Y * qz + X * w, 1 - (X * qx + Y * qy), x[5]],
            [0.0, 0.0, 0.0, 1.0]]


@pytest.mark.parametrize("seed", range(6))
def test_estimators_bit_exact_against_literal_transcription(seed):
    rng = np.random.default_rng(100 + seed)
    n = 25
    src = rng.normal(size=(n, 3)) * (10.0 ** rng.integers(-3, 3))
    tgt = moved(src, TRUE_T) + rng.normal(0, 0.05, src.shape)
    if seed == 5:
        tgt[:, 0] *= -1  # reflection in the data: the sign fix of the rotation
    nrm = rng.normal(size=src.shape)
    nrm /= np.linalg.norm(nrm, axis=1, keepdims=True)
    corr = np.stack([rng.permutation(n), rng.permutation(n)], 1).astype(np.int32)
    sl, tl, nl, cl = src.tolist(), tgt.tolist(), nrm.tolist(), corr.tolist()
    for scaling in (False, True):
        got = reg.TransformationEstimationPointToPoint(scaling).compute_transformation(cloud(src), cloud(tgt), pairs(corr))
        assert got.tobytes() == np.array(lit_point_to_point(sl, tl, cl, scaling)).tobytes()
    got = reg.TransformationEstimationPointToPlane().compute_transformation(cloud(src), cloud(tgt, nrm), pairs(corr))
    assert got.tobytes() == np.array(lit_point_to_plane(sl, tl, nl, cl)).tobytes()
