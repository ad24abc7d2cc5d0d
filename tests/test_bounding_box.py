import copy
import inspect
import math

import numpy as np
import pytest

from ombrix.cpu.pybind import geometry, utility

AABB = geometry.AxisAlignedBoundingBox
V3 = utility.Vector3dVector
NAN = float("nan")
ROTATE = "[AxisAlignedBoundingBox::Rotate] Cannot rotate AABB. Convert to OrientedBoundingBox first."
TRANSFORM = ("[AxisAlignedBoundingBox::Transform] Cannot apply general transform. Convert to OrientedBoundingBox "
             "first or use Translate/Scale.")


def box(lo, hi):
    b = AABB()
    b.min_bound = lo
    b.max_bound = hi
    return b


def state(b):
    return [np.asarray(x).tolist() for x in (b.min_bound, b.max_bound, b.color)]


def bits(v):
    return [float(x).hex() for x in np.asarray(v, dtype=np.float64).ravel()]


def test_class_frame():
    assert AABB.__module__ == "ombrix.cpu.pybind.geometry" and AABB.__mro__[1] is geometry.Geometry3D
    assert str(inspect.signature(AABB)) == "(min_bound=None, max_bound=None)"
    assert str(inspect.signature(AABB.create_from_points)) == "(points)"
    assert str(inspect.signature(AABB().transform)) == "(_t)"
    assert str(inspect.signature(AABB().translate)) == "(translation, relative=True)"
    with pytest.raises(TypeError):

        class Sub(AABB):
            pass


def test_default_box():
    b = AABB()
    assert state(b) == [[0, 0, 0], [0, 0, 0], [1, 1, 1]]
    assert b.is_empty() and b.volume() == 0.0 and b.get_center().tolist() == [0, 0, 0]
    assert repr(b) == "AxisAlignedBoundingBox: min: (0, 0, 0), max: (0, 0, 0)"
    assert b.get_print_info() == "AxisAlignedBoundingBox: min: (0.0000, 0.0000, 0.0000), max: (0.0000, 0.0000, 0.0000)"
    assert b.dimension() == 3
    t = b.get_geometry_type()
    assert int(t) == 12 and t.name == "AxisAlignedBoundingBox"


@pytest.mark.parametrize(
    "args,expected",
    [
        (([1, 2, 3], [0, 5, 1]), [[0, 2, 1], [1, 5, 3]]),
        (([0, 0, 0], [1, 2, 3]), [[0, 0, 0], [1, 2, 3]]),
        ((None, [1, 1, 1]), [[0, 0, 0], [0, 0, 0]]),
        (([NAN, 0, 5], [1, 1, 1]), [[1, 0, 1], [1, 1, 5]]),  # reordered: NaN-ignoring on all axes
        (([NAN, 0, 0], [1, 1, 1]), [[NAN, 0, 0], [1, 1, 1]]),  # in order: stored as given
    ],
)
def test_construct_from_bounds(args, expected):
    b = AABB(*args)
    got = state(b)
    assert bits(got[:2]) == bits(expected) and got[2] == [1, 1, 1]


def test_construct_copy_and_errors():
    src = box([0, 0, 0], [1, 2, 3])
    src.color = [0.2, 0.3, 0.4]
    c = AABB(src, "ignored")
    assert state(c) == state(src)
    c.max_bound = [9, 9, 9]
    assert state(src)[1] == [1, 2, 3]
    with pytest.raises(TypeError, match="min_bound"):
        AABB([1, 2, 3])
    with pytest.raises(TypeError, match="expected 3-vector"):
        AABB([1, 2], [1, 2, 3])
    with pytest.raises(TypeError):
        AABB([1, 2, 3], "abc")


def test_properties():
    b = AABB()
    b.min_bound = np.array([3.0, 0, 0])
    b.max_bound = (2, 2, 2)  # no reordering
    b.color = [5, -1, 0.5]  # no clamping
    assert state(b) == [[3, 0, 0], [2, 2, 2], [5, -1, 0.5]]
    assert b.get_min_bound().tolist() == [3, 0, 0] and b.get_max_bound().tolist() == [2, 2, 2]
    for name in ("min_bound", "max_bound", "color"):
        with pytest.raises(AttributeError, match="can't delete attribute"):
            delattr(b, name)
        with pytest.raises(TypeError, match="expected 3-vector"):
            setattr(b, name, [1, 2])
    assert state(b) == [[3, 0, 0], [2, 2, 2], [5, -1, 0.5]]
    a = b.min_bound
    a[0] = 100
    assert b.min_bound[0] == 3


def test_inverted_box():
    b = box([0, 0, 0], [2, 2, 2])
    b.min_bound = [3, 0, 0]
    assert b.volume() == 0.0 and b.is_empty()
    assert b.get_extent().tolist() == [-1, 2, 2]
    assert b.get_half_extent().tolist() == [-0.5, 1, 1]
    assert np.asarray(b.get_box_points()).tolist() == [[3, 0, 0]] * 8


@pytest.mark.parametrize(
    "lo,hi,empty",
    [
        ([0, 0, 0], [1, 1, 0], True),
        ([0, 0, 0], [1e-5, 1e-5, 1e-5], True),
        ([0, 0, 0], [1e-4, 1e-4, 1e-4], True),  # product 1e-12 exactly at the limit
        ([0, 0, 0], [2e-4, 2e-4, 2e-4], False),
        ([0, 0, 0], [NAN, 1, 1], False),  # a NaN volume product is not empty
    ],
)
def test_emptiness(lo, hi, empty):
    assert box(lo, hi).is_empty() is empty


def test_measurements():
    flat = box([0, 0, 0], [1, 1, 0])
    assert flat.get_center().tolist() == [0, 0, 0]
    assert flat.get_extent().tolist() == [1, 1, 0] and flat.volume() == 0.0
    assert box([0, 0, 0], [1e-5, 1e-5, 1e-5]).volume() == (1e-5 * 1e-5) * 1e-5
    b = box([1, 2, 3], [2, 6, 3.5])
    assert b.get_center().tolist() == [1.5, 4, 3.25]
    assert b.volume() == 2.0 and b.get_max_extent() == 4.0
    assert box([NAN, 0, 0], [NAN, 1, 3]).get_max_extent() == 3.0
    assert math.isnan(box([NAN, NAN, NAN], [0, 0, 0]).get_max_extent())


def test_box_points():
    pts = np.asarray(box([0, 0, 0], [2, 2, 2]).get_box_points())
    assert pts.tolist() == [[0, 0, 0], [2, 0, 0], [0, 2, 0], [0, 0, 2], [2, 2, 0], [0, 2, 2], [2, 0, 2], [2, 2, 2]]
    # Corners are min + offset: -0 becomes +0 where the offset is 0, corner 0 keeps it.
    pts = np.asarray(box([-0.0, 0.1, 0.2], [0.3, 0.7, 0.5]).get_box_points())
    assert math.copysign(1, pts[0][0]) == -1 and math.copysign(1, pts[2][0]) == 1
    assert pts[1][0] == -0.0 + 0.3 and pts[4][1] == 0.1 + (0.7 - 0.1) and pts[7].tolist() == [0.3, 0.7, 0.5]
    assert type(box([0, 0, 0], [1, 1, 1]).get_box_points()) is V3


def test_point_indices_within():
    b = box([0, 0, 0], [1, 1, 1])
    pts = V3(np.array([[1, 0.5, 0.5], [1 + 1e-9, 0.5, 0.5], [1 + 2e-9, 0.5, 0.5], [NAN, 0.5, 0.5],
                       [-1e-9, 0, 0], [0.5, -2e-9, 0.5], [0.5, 0.5, 0.5]]))
    got = b.get_point_indices_within_bounding_box(pts)
    assert got == [0, 1, 4, 6] and type(got) is list
    # A view into a cloud works as well; other kinds of argument do not.
    pc = geometry.PointCloud()
    pc.points = np.array([[2.0, 2, 2], [0.5, 0.5, 0.5]])
    assert b.get_point_indices_within_bounding_box(points=pc.points) == [1]
    with pytest.raises(TypeError, match="points"):
        b.get_point_indices_within_bounding_box(np.zeros((2, 3)))


def test_create_from_points():
    empty = AABB.create_from_points(V3())
    assert state(empty) == [[0, 0, 0], [0, 0, 0], [1, 1, 1]]
    one = AABB.create_from_points(V3(np.array([[1.0, -2, 3]])))
    assert state(one)[:2] == [[1, -2, 3], [1, -2, 3]] and one.is_empty()
    pts = np.array([[NAN, 1, NAN], [0, -1, NAN], [3, 5, NAN], [-2, 0, NAN]])
    b = AABB.create_from_points(V3(pts))
    assert bits(state(b)[:2]) == bits([[-2, -1, NAN], [3, 5, NAN]])
    pc = geometry.PointCloud()
    pc.points = pts
    assert bits(state(AABB.create_from_points(points=pc.points))[:2]) == bits(state(b)[:2])
    with pytest.raises(TypeError, match="points"):
        AABB.create_from_points([[0, 0, 0]])


def test_translate():
    b = box([0, 0, 0], [2, 2, 2])
    assert b.translate([10, 10, 10], relative=False) is b
    assert state(b)[:2] == [[9, 9, 9], [11, 11, 11]]
    flat = box([0, 0, 0], [2, 2, 0]).translate([10, 10, 10], False)
    assert state(flat)[:2] == [[10, 10, 10], [12, 12, 10]]
    b = box([0, 0, 0], [1, 1, 1]).translate([1, 2, 3])
    assert state(b)[:2] == [[1, 2, 3], [2, 3, 4]]
    with pytest.raises(TypeError):
        b.translate([1, 2, 3], None)
    with pytest.raises(TypeError, match="expected 3-vector"):
        b.translate([1, 2])
    assert state(b)[:2] == [[1, 2, 3], [2, 3, 4]]


def test_scale():
    b = box([1, 1, 1], [2, 2, 2])
    assert b.scale(-1, [0, 0, 0]) is b
    assert state(b)[:2] == [[-2, -2, -2], [-1, -1, -1]]
    b = box([1, 2, 3], [2, 4, 5]).scale(3, [1, 1, 1])
    assert state(b)[:2] == [[1, 4, 7], [4, 10, 13]]
    b = box([1, 2, 3], [2, 4, 5]).scale(NAN, [0, 0, 0])  # NaN swaps nothing
    assert all(math.isnan(x) for x in np.concatenate([b.min_bound, b.max_bound]))
    with pytest.raises(TypeError, match="scale"):
        box([0, 0, 0], [1, 1, 1]).scale("x", [0, 0, 0])
    with pytest.raises(TypeError):
        box([0, 0, 0], [1, 1, 1]).scale(2)


@pytest.mark.parametrize("args", [(np.eye(3),), (np.eye(3), [0, 0, 0]), ("anything", None)])
def test_rotate_refused(args):
    b = box([0, 0, 0], [1, 1, 1])
    with pytest.raises(RuntimeError) as e:
        b.rotate(*args)
    assert str(e.value) == ROTATE and state(b)[:2] == [[0, 0, 0], [1, 1, 1]]


@pytest.mark.parametrize("t", [np.eye(4), "anything"])
def test_transform_refused(t):
    b = box([0, 0, 0], [1, 1, 1])
    with pytest.raises(RuntimeError) as e:
        b.transform(t)
    assert str(e.value) == TRANSFORM


def test_inplace_add():
    other = box([1, 1, 1], [2, 3, 4])
    other.color = [0.1, 0.2, 0.3]
    a = AABB()
    a += other
    assert state(a) == state(other)
    a = box([0, 0, 0], [1, 1, 1])
    a.color = [0, 0, 1]
    keep = a
    a += box([5, 5, 5], [5, 5, 5])  # empty other: unchanged
    assert a is keep and state(a) == [[0, 0, 0], [1, 1, 1], [0, 0, 1]]
    a += other
    assert a is keep and state(a) == [[0, 0, 0], [2, 3, 4], [0, 0, 1]]
    # An empty self takes other whole, even an empty one.
    e = box([0, 0, 0], [1, 1, 0])
    e += box([7, 7, 7], [7, 7, 7])
    assert state(e)[:2] == [[7, 7, 7], [7, 7, 7]]


@pytest.mark.parametrize("other", [None, 1, [0, 0, 0], "self"])
def test_inplace_add_declines(other):
    b = box([0, 0, 0], [1, 1, 1])
    before = state(b)
    with pytest.raises(TypeError, match="unsupported operand"):
        if other == "self":
            b += b
        else:
            b += other
    assert state(b) == before
    with pytest.raises(TypeError):
        b + b


def test_repr_and_print_info():
    b = box([-0.0, 1e-5, 123456789.0], [NAN, math.inf, -math.inf])
    assert repr(b) == "AxisAlignedBoundingBox: min: (-0, 1e-05, 1.23457e+08), max: (nan, inf, -inf)"
    assert b.get_print_info() == ("AxisAlignedBoundingBox: min: (-0.0000, 0.0000, 123456789.0000), "
                                  "max: (NaN, inf, -inf)")
    # Four decimals, correctly rounded with ties to even (exact binary ties).
    vals = [0.03125, 0.09375, 2.5e-5, -1e-5, 1.00005, 1e20, 0.1, 2.0 / 3.0]
    b = box(vals[:3], vals[3:6])
    want = ", ".join(f"{v:.4f}" for v in vals[:3]), ", ".join(f"{v:.4f}" for v in vals[3:6])
    assert b.get_print_info() == f"AxisAlignedBoundingBox: min: ({want[0]}), max: ({want[1]})"
    assert "0.0312" in want[0] and "0.0938" in want[0] and "-0.0000" in want[1]
    b = box(vals[5:8], [1, 2, 3])
    assert repr(b) == "AxisAlignedBoundingBox: min: (%g, %g, %g), max: (1, 2, 3)" % tuple(vals[5:8])


def test_copies():
    b = box([0, 0, 0], [1, 2, 3])
    b.color = [0.5, 0.5, 0]
    for c in (copy.copy(b), copy.deepcopy(b), b.get_axis_aligned_bounding_box()):
        assert type(c) is AABB and c is not b and state(c) == state(b)
        c.min_bound = [-1, -1, -1]
        assert state(b)[0] == [0, 0, 0]


def test_point_cloud_bounding_box():
    pc = geometry.PointCloud()
    empty = pc.get_axis_aligned_bounding_box()
    assert all(math.isnan(x) for x in np.concatenate([empty.min_bound, empty.max_bound]))
    assert empty.color.tolist() == [1, 1, 1]
    pc.points = np.array([[0, 0, 0], [NAN, 2, 1], [-1, 5, 0.5]])
    b = pc.get_axis_aligned_bounding_box()
    assert state(b) == [[-1, 0, 0], [0, 5, 1], [1, 1, 1]]
    assert str(inspect.signature(pc.get_axis_aligned_bounding_box)) == "()"
