import inspect
import math
import threading

import numpy as np
import pytest

from ombrix.cpu.pybind import geometry
from prime_map_model import PrimeMap, floor_index
from conftest import cloud

NAN = float("nan")
POSITIVE = "[VoxelDownSample] voxel_size must be positive."
TOO_SMALL = "[VoxelDownSample] voxel_size is too small relative to the cloud extent."


def arr(v):
    return np.asarray(v).copy()


def stable_normalize(v, fallback):
    x, y, z = (np.float64(c) for c in v)
    finite = [abs(c) for c in (x, y, z) if not math.isnan(c)]
    h = max(finite) if finite else np.float64(NAN)
    with np.errstate(all="ignore"):
        s = ((x / h) * (x / h) + (y / h) * (y / h)) + (z / h) * (z / h)
        if s > 0:
            d = np.sqrt(s) * h
            r = [float(x / d), float(y / d), float(z / d)]
            return list(fallback) if math.isnan(r[0]) else r
    return list(fallback) if math.isnan(x) else [float(x), float(y), float(z)]


def reference(points, normals, colors, voxel_size):
    """Down-sampling written out from its rules over the Python map model."""
    pts = np.asarray(points, dtype=np.float64).tolist()
    n = len(pts)
    with_n = normals is not None and len(normals) == n
    with_c = colors is not None and len(colors) == n
    lo = np.fmin.reduce(np.asarray(points, dtype=np.float64), axis=0).tolist()
    m = PrimeMap()
    for i, p in enumerate(pts):
        key = tuple(floor_index((p[a] - lo[a]) / voxel_size) for a in range(3))
        acc = m.values[m.find_or_insert(key, lambda: {"p": [0.0] * 3, "n": [0.0] * 3, "c": [0.0] * 3, "k": 0,
                                                      "hn": False, "hc": False})]
        acc["p"] = [acc["p"][a] + p[a] for a in range(3)]
        if with_n:
            nv = [float(x) for x in normals[i]]
            if not any(math.isnan(x) for x in nv):
                acc["n"] = [acc["n"][a] + nv[a] for a in range(3)]
                acc["hn"] = True
        if with_c:
            acc["c"] = [acc["c"][a] + float(colors[i][a]) for a in range(3)]
            acc["hc"] = True
        acc["k"] += 1
    out_p, out_n, out_c = [], [], []
    for _, acc in m.items():
        c = float(acc["k"])
        out_p.append([x / c for x in acc["p"]])
        if with_n:
            nv = [x / c for x in acc["n"]] if acc["hn"] else [0.0, 0.0, 0.0]
            out_n.append(stable_normalize(nv, (0.0, 0.0, 1.0)))
        if with_c:
            out_c.append([x / c for x in acc["c"]] if acc["hc"] else [0.5, 0.5, 0.5])
    f = lambda rows: np.asarray(rows, dtype=np.float64).reshape(-1, 3)
    return f(out_p), (f(out_n) if with_n else None), (f(out_c) if with_c else None)


def same_bits(a, b):
    a = np.ascontiguousarray(a, dtype=np.float64)
    b = np.ascontiguousarray(b, dtype=np.float64)
    return a.shape == b.shape and a.tobytes() == b.tobytes()


def test_signature():
    assert str(inspect.signature(geometry.PointCloud().voxel_down_sample)) == "(voxel_size)"


@pytest.mark.parametrize("seed,n,size", [(1, 400, 0.37), (2, 3000, 0.21), (3, 60, 0.05)])
def test_matches_reference_exactly(seed, n, size):
    rng = np.random.default_rng(seed)
    pts = rng.normal(0.0, 1.0, (n, 3)) * [1.0, 2.0, 0.5] - [3.0, -1.0, 0.25]
    nrm = rng.normal(0.0, 1.0, (n, 3))
    nrm[::7, 1] = NAN  # invalid normals are skipped but still counted
    col = rng.random((n, 3))
    pts[5, 0] = NAN  # a NaN coordinate lands in index 0 on its axis
    src = cloud(pts, nrm, col)
    before = [arr(src.points), arr(src.normals), arr(src.colors)]
    out = src.voxel_down_sample(size)
    ref_p, ref_n, ref_c = reference(pts, nrm, col, size)
    assert len(ref_p) > 13  # the map has grown at least once
    assert same_bits(arr(out.points), ref_p)
    assert same_bits(arr(out.normals), ref_n)
    assert same_bits(arr(out.colors), ref_c)
    assert all(same_bits(a, b) for a, b in zip(before, [arr(src.points), arr(src.normals), arr(src.colors)]))


def test_order_is_map_order():
    # Voxels (0,0,0), (1,0,0), (0,1,0), (0,0,1), (1,1,1) reached in this order.
    pts = [[0, 0, 0], [1.5, 0, 0], [0, 1.5, 0], [0, 0, 1.5], [1.5, 1.5, 1.5]]
    out = cloud(pts).voxel_down_sample(1.0)
    assert arr(out.points).tolist() == [[1.5, 1.5, 1.5], [0, 0, 1.5], [0, 1.5, 0], [1.5, 0, 0], [0, 0, 0]]
    assert not out.has_normals() and not out.has_colors()


def test_mean_and_anchor_at_min_bound():
    # Extent exactly 2 voxels on x: the point at max_bound gets index 2.
    pts = [[0.0, 0.0, 0.0], [0.25, 0.5, 0.0], [2.0, 0.0, 0.0]]
    out = arr(cloud(pts).voxel_down_sample(1.0).points).tolist()
    assert sorted(out) == [[0.125, 0.25, 0.0], [2.0, 0.0, 0.0]]
    # Single points per voxel come back exactly.
    pts = [[0.1, 0.2, 0.3], [5.5, -7.25, 1e-3]]
    out = arr(cloud(pts).voxel_down_sample(0.5).points)
    assert sorted(out.tolist()) == sorted(pts)


def test_nan_normal_is_skipped_but_counted():
    pts = [[0, 0, 0], [0.1, 0.1, 0.1]]
    out = cloud(pts, normals=[[0, 3, 4], [NAN, 0, 0]]).voxel_down_sample(1.0)
    n = arr(out.normals)[0]
    assert np.allclose(n, [0, 0.6, 0.8], atol=1e-15, rtol=0)
    # All normals invalid: (0, 0, 0) stays zero after normalisation.
    out = cloud(pts, normals=[[NAN, 0, 0], [0, NAN, 0]]).voxel_down_sample(1.0)
    assert arr(out.normals).tolist() == [[0.0, 0.0, 0.0]]


def test_attributes_take_part_only_with_matching_length():
    pts = [[0, 0, 0], [3, 0, 0], [0.2, 0, 0]]
    out = cloud(pts, colors=[[1, 0, 0], [0, 1, 0], [0, 0, 1]]).voxel_down_sample(1.0)
    assert out.has_colors() and not out.has_normals()
    got = {tuple(p): tuple(c) for p, c in zip(arr(out.points).tolist(), arr(out.colors).tolist())}
    assert got == {(0.1, 0.0, 0.0): (0.5, 0.0, 0.5), (3.0, 0.0, 0.0): (0.0, 1.0, 0.0)}
    out = cloud(pts, normals=[[1, 0, 0]], colors=[[1, 0, 0], [0, 1, 0]]).voxel_down_sample(1.0)
    assert len(out.points) == 2 and len(out.normals) == 0 and len(out.colors) == 0


@pytest.mark.parametrize("points", [[], [[0, 0, 0]]])
@pytest.mark.parametrize("size", [0, -1, -0.0, -math.inf])
def test_non_positive_size(points, size):
    with pytest.raises(RuntimeError) as e:
        cloud(points).voxel_down_sample(size)
    assert str(e.value) == POSITIVE


def test_too_small_for_extent():
    with pytest.raises(RuntimeError) as e:
        cloud([[0, 0, 0], [1000, 0, 0]]).voxel_down_sample(1e-7)
    assert str(e.value) == TOO_SMALL
    # Only a non-empty cloud is measured.
    assert len(cloud([]).voxel_down_sample(1e-300).points) == 0


def test_empty_cloud_and_odd_sizes():
    out = cloud([], normals=[[1, 0, 0]], colors=[[1, 1, 1]]).voxel_down_sample(0.5)
    assert type(out) is geometry.PointCloud
    assert (len(out.points), len(out.normals), len(out.colors)) == (0, 0, 0)
    # NaN passes the positivity test and puts every point in voxel (0, 0, 0).
    out = cloud([[0, 0, 0], [4, 2, 2]]).voxel_down_sample(NAN)
    assert arr(out.points).tolist() == [[2.0, 1.0, 1.0]]
    # An int size is accepted.
    assert len(cloud([[0, 0, 0], [4, 0, 0]]).voxel_down_sample(1).points) == 2


def test_argument_errors():
    c = cloud([[0, 0, 0]])
    with pytest.raises(TypeError, match="voxel_size"):
        c.voxel_down_sample("1")
    with pytest.raises(TypeError):
        c.voxel_down_sample()
    assert len(c.voxel_down_sample(voxel_size=1.0).points) == 1


def test_subclass_input_returns_base_class():
    class Sub(geometry.PointCloud):
        pass

    s = Sub()
    s.points = np.zeros((2, 3))
    assert type(s.voxel_down_sample(1.0)) is geometry.PointCloud


def test_input_is_borrowed_while_running():
    # The call releases the GIL; a writer on another thread meets the borrow
    # (translate by zero: a write borrow that changes nothing).
    rng = np.random.default_rng(7)
    pts = rng.random((200_000, 3))
    big = cloud(pts)
    errors, done = set(), threading.Event()
    result = []

    def run():
        result.append(big.voxel_down_sample(0.02))
        done.set()

    t = threading.Thread(target=run)
    t.start()
    while not done.is_set() and not errors:
        try:
            big.translate([0.0, 0.0, 0.0])
        except RuntimeError as e:
            errors.add(str(e))
    t.join()
    assert errors == {"Already borrowed"}
    assert len(result[0].points) > 1000
    assert same_bits(arr(big.points), pts)
