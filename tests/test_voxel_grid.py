import copy
import inspect
import math

import numpy as np
import pytest

from ombrix.cpu.pybind import geometry
from prime_map_model import PrimeMap, floor_index
from conftest import cloud

VG = geometry.VoxelGrid
Voxel = geometry.Voxel
NAN = float("nan")
TOO_SMALL = "voxel_size is potentially too small for the given bounds, may lead to integer overflow in indices."


def indices(grid):
    return [tuple(v.grid_index.tolist()) for v in grid.get_voxels()]


def reference_order(points, size, lo, hi):
    """Keys of the grid in iteration order: a fresh occupied set, then a map
    sized for its entries filled in the set's order."""
    occupied = PrimeMap()
    for p in np.asarray(points, dtype=np.float64).tolist():
        if all(lo[a] <= p[a] < hi[a] for a in range(3)):
            occupied.find_or_insert(tuple(floor_index((p[a] - lo[a]) / size) for a in range(3)), lambda: None)
    keys = [k for k, _ in occupied.items()]
    grid = PrimeMap(hint=len(keys))
    for k in keys:
        grid.find_or_insert(k, lambda: None)
    assert len(grid.slots) == len(PrimeMap(hint=len(keys)).slots)  # sized up front: no growth
    return [k for k, _ in grid.items()]


def test_class_frame():
    assert VG.__mro__[1] is geometry.Geometry3D and Voxel.__mro__[1] is object
    assert str(inspect.signature(VG)) == "()"
    assert str(inspect.signature(Voxel)) == "(grid_index=None, color=None)"
    assert str(inspect.signature(VG.create_from_point_cloud)) == "(input, voxel_size)"
    assert str(inspect.signature(VG.create_from_point_cloud_within_bounds)) == (
        "(input, voxel_size, min_bound, max_bound)")
    for cls in (VG, Voxel):
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})
    with pytest.raises(TypeError):
        VG(1)


def test_empty_grid():
    g = VG()
    assert repr(g) == "VoxelGrid with 0 voxels."
    assert g.is_empty() and not g.has_voxels() and g.has_colors() and g.dimension() == 3
    assert g.get_geometry_type() == geometry.Geometry.VoxelGrid
    assert g.voxel_size == 0.0 and g.origin.tolist() == [0, 0, 0] and g.get_voxels() == []
    g.origin = [1, 2, 3]
    assert g.get_min_bound().tolist() == [1, 2, 3] and g.get_max_bound().tolist() == [1, 2, 3]
    assert g.get_center().tolist() == [0, 0, 0]


def test_single_point():
    g = VG.create_from_point_cloud(cloud([[1, 2, 3]]), 1)
    (v,) = g.get_voxels()
    assert v.grid_index.tolist() == [0, 0, 0] and v.color.tolist() == [0.5, 0.5, 0.5]
    assert g.voxel_size == 1.0 and g.origin.tolist() == [0.5, 1.5, 2.5]
    assert g.get_min_bound().tolist() == [0.5, 1.5, 2.5]
    assert g.get_max_bound().tolist() == [1.5, 2.5, 3.5]
    assert g.get_center().tolist() == [1, 2, 3]
    b = g.get_axis_aligned_bounding_box()
    assert type(b) is geometry.AxisAlignedBoundingBox
    assert b.min_bound.tolist() == [0.5, 1.5, 2.5] and b.max_bound.tolist() == [1.5, 2.5, 3.5]
    assert b.color.tolist() == [1, 1, 1]
    assert repr(g) == "VoxelGrid with 1 voxels."


@pytest.mark.parametrize("seed,n,size", [(4, 300, 0.4), (5, 2000, 0.3)])
def test_voxel_order_matches_reference(seed, n, size):
    rng = np.random.default_rng(seed)
    pts = rng.normal(0, 1, (n, 3)) * [2, 1, 0.5]
    pts[3] = [NAN, 0, 0]
    g = VG.create_from_point_cloud(cloud(pts), size)
    lo = np.fmin.reduce(pts, axis=0) - size * 0.5
    hi = size * 0.5 + np.fmax.reduce(pts, axis=0)
    want = reference_order(pts, size, lo.tolist(), hi.tolist())
    assert len(want) > 30
    assert indices(g) == want
    assert g.origin.tobytes() == lo.tobytes()
    # Bounds and centre over the keys in that order.
    k = np.array(want, dtype=np.float64)
    assert g.get_min_bound().tobytes() == (size * k.min(axis=0) + lo).tobytes()
    assert g.get_max_bound().tobytes() == (size * (k.max(axis=0) + 1.0) + lo).tobytes()
    total = [0.0, 0.0, 0.0]
    for key in want:
        for a in range(3):
            total[a] += (key[a] * size + lo[a]) + 0.5 * size
    assert g.get_center().tolist() == [t / len(want) for t in total]


def test_within_bounds():
    pts = [[0, 0, 0], [0.5, 0.5, 0.5], [1.0, 0.2, 0.2], [0.2, 1.99, 0.2], [2.0, 0, 0], [-0.1, 0, 0],
           [0.2, 0.2, NAN], [0.6, 0.7, 0.9]]
    g = VG.create_from_point_cloud_within_bounds(cloud(pts), 1.0, [0, 0, 0], [2, 2, 2])
    # (2, 0, 0) lies on max_bound: outside; two points share cell (0, 0, 0).
    assert indices(g) == reference_order(pts, 1.0, [0, 0, 0], [2, 2, 2])
    assert sorted(indices(g)) == [(0, 0, 0), (0, 1, 0), (1, 0, 0)]
    assert g.origin.tolist() == [0, 0, 0] and g.voxel_size == 1.0
    e = VG.create_from_point_cloud_within_bounds(cloud([]), 0.25, [1, 2, 3], [4, 5, 6])
    assert e.is_empty() and e.voxel_size == 0.25 and e.origin.tolist() == [1, 2, 3]


@pytest.mark.parametrize(
    "call,message",
    [
        (lambda: VG.create_from_point_cloud(cloud([[0, 0, 0]]), 0), "voxel_size must be positive for VoxelGrid creation."),
        (lambda: VG.create_from_point_cloud(cloud([[0, 0, 0]]), -1), "voxel_size must be positive for VoxelGrid creation."),
        (lambda: VG.create_from_point_cloud(cloud([[0, 0, 0], [1, 0, 0]]), NAN), TOO_SMALL),
        (lambda: VG.create_from_point_cloud(cloud([[0, 0, 0], [1000, 0, 0]]), 1e-7), TOO_SMALL),
        (lambda: VG.create_from_point_cloud_within_bounds(cloud([]), 0, [0, 0, 0], [1, 1, 1]), "voxel_size must be positive."),
        (lambda: VG.create_from_point_cloud_within_bounds(cloud([]), 1e-12, [0, 0, 0], [1, 1, 1]), TOO_SMALL),
        (lambda: VG.create_from_point_cloud_within_bounds(cloud([]), 1, [0, NAN, 0], [1, 1, 1]), TOO_SMALL),
    ],
)
def test_creation_errors(call, message):
    with pytest.raises(RuntimeError) as e:
        call()
    assert str(e.value) == message


def test_creation_argument_errors_and_empty_input():
    g = VG.create_from_point_cloud(cloud([]), 0)
    assert g.is_empty() and g.voxel_size == 0.0 and g.origin.tolist() == [0, 0, 0]
    with pytest.raises(TypeError, match="input"):
        VG.create_from_point_cloud(np.zeros((2, 3)), 1.0)
    with pytest.raises(TypeError, match="voxel_size"):
        VG.create_from_point_cloud(cloud([]), "1")
    with pytest.raises(TypeError, match="expected 3-vector"):
        VG.create_from_point_cloud_within_bounds(cloud([]), 1.0, [0, 0], [1, 1, 1])
    two = VG.create_from_point_cloud(input=cloud([[0, 0, 0], [0.1, 0.1, 0.1]]), voxel_size=1.0)
    assert len(two.get_voxels()) == 1


def grid():
    return VG.create_from_point_cloud(cloud([[0, 0, 0], [3, 1, 0]]), 1.0)


def test_translate_and_scale():
    g = grid()
    keys = indices(g)
    assert g.translate([1, 2, 3]) is g and g.origin.tolist() == [0.5, 1.5, 2.5]
    g.translate([7, 8, 9], relative=False)
    assert g.origin.tolist() == [7, 8, 9] and indices(g) == keys and g.voxel_size == 1.0
    assert g.scale(2, [1, 1, 1]) is g
    assert g.origin.tolist() == [13, 15, 17] and g.voxel_size == 2.0
    with pytest.raises(TypeError):
        g.translate([1, 2, 3], None)
    with pytest.raises(TypeError, match="scale"):
        g.scale(None, [0, 0, 0])


def test_negative_voxel_size_box_is_ordered():
    g = grid()
    g.voxel_size = -1.0
    lo, hi = g.get_min_bound(), g.get_max_bound()
    assert (lo > hi).any()
    b = g.get_axis_aligned_bounding_box()
    assert b.min_bound.tolist() == np.minimum(lo, hi).tolist()
    assert b.max_bound.tolist() == np.maximum(lo, hi).tolist()


def test_rotate():
    g = grid()
    assert g.rotate(np.eye(3)) is g and g.rotate(np.eye(3) + 1e-13, center=[1, 2, 3]) is g
    r90 = geometry.get_rotation_matrix_from_xyz([0, 0, math.pi / 2])
    for r in (r90, np.eye(3) + 1e-11, np.diag([1, 1, NAN]), np.diag([1.0, 1.0, math.inf])):
        with pytest.raises(RuntimeError) as e:
            g.rotate(r)
        assert str(e.value) == "VoxelGrid rotation is unsupported; revoxelize the geometry instead"
    with pytest.raises(TypeError, match="expected 3x3 matrix"):
        g.rotate(np.eye(4))
    with pytest.raises(TypeError, match="expected 3-vector"):
        g.rotate(np.eye(3), [1, 2])


def test_transform():
    g = grid()
    t = np.eye(4)
    t[:3, 3] = [1, 0, 0]
    before = g.origin.copy()
    assert g.transform(t) is g
    assert g.origin.tolist() == (before + [1, 0, 0]).tolist()
    bad = [np.diag([2.0, 2, 2, 1]), np.eye(4), np.eye(4), np.eye(4)]
    bad[1][3, 0] = 1e-9
    bad[2][0, 3] = math.inf
    bad[3][3, 3] = NAN
    for m in bad:
        with pytest.raises(RuntimeError) as e:
            g.transform(m)
        assert str(e.value) == "VoxelGrid only supports identity or pure translation transforms"
    assert g.origin.tolist() == (before + [1, 0, 0]).tolist()


def test_clear():
    g = grid()
    assert g.clear() is g
    assert g.is_empty() and g.voxel_size == 0.0 and g.origin.tolist() == [0, 0, 0]


def test_properties():
    g = VG()
    g.voxel_size = 3
    g.origin = np.array([1.0, 2, 3])
    assert g.voxel_size == 3.0 and g.origin.tolist() == [1, 2, 3]
    with pytest.raises(TypeError):
        g.voxel_size = "x"
    with pytest.raises(TypeError, match="expected 3-vector"):
        g.origin = [1, 2]
    with pytest.raises(AttributeError):
        del g.origin
    with pytest.raises(AttributeError):
        del g.voxel_size


def test_get_voxels_are_copies():
    g = grid()
    vs = g.get_voxels()
    vs[0].grid_index = [9, 9, 9]
    vs[0].color = [0, 0, 0]
    assert (9, 9, 9) not in indices(g) and all(v.color.tolist() == [0.5] * 3 for v in g.get_voxels())


@pytest.mark.parametrize(
    "arg,expected",
    [
        (None, [0, 0, 0]),
        ([1, 2, 3], [1, 2, 3]),
        ((-4, 5, 2147483647), [-4, 5, 2147483647]),
        (np.array([7, 8, 9], dtype=np.int32), [7, 8, 9]),
        (np.array([7, 8, 9], dtype=np.int64), [7, 8, 9]),
        ([1, 2], [0, 0, 0]),
        ([1, 2, 3, 4], [0, 0, 0]),
    ],
)
def test_voxel_grid_index(arg, expected):
    v = Voxel(arg)
    assert v.grid_index.dtype == np.int32 and v.grid_index.tolist() == expected
    assert v.color.dtype == np.float64 and v.color.tolist() == [0, 0, 0]


def test_voxel_errors_and_setters():
    for bad in (5, "abc", [1.5, 2, 3]):
        with pytest.raises(TypeError):
            Voxel(bad)
    with pytest.raises(OverflowError):
        Voxel([2**31, 0, 0])
    with pytest.raises(TypeError, match="expected 3-vector"):
        Voxel(None, [1, 2])
    v = Voxel(grid_index=[1, 2, 3], color=(0.5, 0.25, 1))
    with pytest.raises(TypeError, match="expected 3-vector"):
        v.grid_index = [1, 2]
    with pytest.raises(TypeError):
        v.grid_index = 3
    with pytest.raises(AttributeError):
        del v.grid_index
    with pytest.raises(AttributeError):
        del v.color
    assert v.grid_index.tolist() == [1, 2, 3]
    v.grid_index = (4, 5, 6)
    v.color = np.array([0.1, 0.2, 0.3])
    assert v.grid_index.tolist() == [4, 5, 6] and v.color.tolist() == [0.1, 0.2, 0.3]


def test_voxel_repr_and_copies():
    v = Voxel((1, 2, 3), (0.5, 0.25, 1))
    assert repr(v) == "Voxel(grid_index=1 2 3, color=0.5 0.25 1)"
    assert repr(Voxel([-1, 0, 7], [1e-5, 123456789, NAN])) == "Voxel(grid_index=-1 0 7, color=1e-05 1.23457e+08 nan)"
    for c in (copy.copy(v), copy.deepcopy(v)):
        assert type(c) is Voxel and c is not v and repr(c) == repr(v)
        c.grid_index = [0, 0, 0]
        assert v.grid_index.tolist() == [1, 2, 3]
