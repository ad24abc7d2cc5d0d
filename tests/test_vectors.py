import copy
import inspect

import numpy as np
import pytest

from ombrix.cpu.pybind import geometry, utility

U = utility
TWO_MODE = [
    # class, k, dtype, repr name
    (U.Vector3dVector, 3, np.float64, "Vector3d"),
    (U.Vector2dVector, 2, np.float64, "Vector2d"),
    (U.Vector3iVector, 3, np.int32, "Vector3i"),
    (U.Vector2iVector, 2, np.int32, "Vector2i"),
    (U.Vector4iVector, 4, np.int32, "Vector4i"),
]
ALL = [c for c, *_ in TWO_MODE] + [U.IntVector, U.DoubleVector, U.Matrix3dVector, U.Matrix4dVector]


def tail(n):
    return f" with {n} elements.\nUse numpy.asarray() to access data."


def cloud(points):
    p = geometry.PointCloud()
    p.points = np.asarray(points, dtype=np.float64)
    return p


def raises(exc, msg, fn, *args):
    with pytest.raises(exc) as e:
        fn(*args)
    assert str(e.value) == msg
    return e


# ---- classes, signatures, reprs ----


@pytest.mark.parametrize("cls", ALL)
def test_class_frame(cls):
    assert cls.__module__ == "ombrix.cpu.pybind.utility"
    assert str(inspect.signature(cls)) == "(arg=None)"
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    assert len(cls()) == 0 and len(cls(None)) == 0


@pytest.mark.parametrize("cls,k,dtype,name", TWO_MODE)
def test_two_mode_basics(cls, k, dtype, name):
    rows = np.arange(2 * k).reshape(2, k)
    v = cls(rows.astype(dtype))
    assert repr(v) == str(v) == f"std::vector<Eigen::{name}>" + tail(2)
    assert repr(cls()) == f"std::vector<Eigen::{name}>" + tail(0)
    item = v[-1]
    assert item.dtype == dtype and item.shape == (k,) and item.tolist() == rows[1].tolist()
    a = np.asarray(v)
    assert a.base is v and a.dtype == dtype and a.shape == (2, k) and a.flags.writeable
    assert a.strides == (k * a.itemsize, a.itemsize)
    a[0, 0] = 42  # writes through into the free-standing container
    assert v[0][0] == 42
    assert v == cls(a.copy()) and not (v != cls(a.copy()))
    assert v != rows.tolist() and not (v == rows.tolist())
    with pytest.raises(TypeError):
        hash(v)
    with pytest.raises(TypeError):
        v < v
    doc = cls.__array__.__doc__
    assert doc.startswith("Shared-memory ndarray over the underlying storage (pybind\nsemantics)")
    assert cls.__array__.__text_signature__ == "($self, dtype=None, copy=None)"


def test_scalar_and_matrix_reprs():
    assert repr(U.DoubleVector([1.0, 0.1, 1e21])) == "DoubleVector[1, 0.1, 1000000000000000000000]"
    assert repr(U.DoubleVector([2.5, 1e-7, -0.0, float("nan"), float("inf"), -float("inf")])) == (
        "DoubleVector[2.5, 0.0000001, -0, NaN, inf, -inf]"
    )
    assert repr(U.DoubleVector()) == "DoubleVector[]"
    assert repr(U.IntVector([-1, 2])) == "IntVector[-1, 2]" and repr(U.IntVector()) == "IntVector[]"
    assert repr(U.Matrix3dVector()) == "std::vector<Eigen::Matrix3d>" + tail(0)
    assert repr(U.Matrix4dVector()) == "std::vector<Eigen::Matrix4d>" + tail(0)
    assert U.Vector3dVector([[1, 2, 3]]).__repr__().startswith("std::vector<Eigen::Vector3d> with 1 elements.")


def test_matrix_vectors():
    m = U.Matrix4dVector()
    raises(IndexError, "list index out of range", lambda: m[0])
    assert m.clear() is None and list(m) == []
    raises(TypeError, "constructing from data is not supported here", U.Matrix4dVector, [np.eye(4)])
    raises(TypeError, "constructing from data is not supported here", U.Matrix3dVector, [])
    assert not hasattr(m, "__array__") and not hasattr(m, "append")
    assert hash(m) == hash(m) and m != U.Matrix4dVector()  # identity semantics


# ---- list protocol (two-mode) ----


def test_list_protocol_vector3d():
    v = U.Vector3dVector()
    raises(IndexError, "pop index out of range", v.pop)
    raises(IndexError, "list index out of range", lambda: v[0])
    v.append([1, 2, 3])
    v.append((4, 5, 6))
    v.append(np.array([7, 8, 9], dtype=np.int64))
    assert v[-1].tolist() == [7, 8, 9] and v[1].tolist() == [4, 5, 6]
    raises(TypeError, "invalid element size", v.append, [1, 2])
    with pytest.raises(TypeError):
        v.append("abc")
    with pytest.raises(TypeError):
        v.append(5)
    with pytest.raises(TypeError):
        v.append([1, "x", 3])
    v.insert(100, [10, 11, 12])
    v.insert(-100, [0, 0, 0])
    v.insert(-1, [-1, -1, -1])
    assert np.asarray(v)[:, 0].tolist() == [0, 1, 4, 7, -1, 10]
    assert v.pop(0).tolist() == [0, 0, 0]
    assert v.pop(-1).tolist() == [10, 11, 12]
    assert v.pop().tolist() == [-1, -1, -1]
    raises(IndexError, "pop index out of range", v.pop, 3)
    raises(IndexError, "pop index out of range", v.pop, -4)
    assert len(v) == 3
    raises(TypeError, "value not found", v.remove, [9, 9, 9])
    raises(TypeError, "value not found", v.remove, [])
    assert len(v) == 3
    assert v.remove([4, 5, 6]) is None and len(v) == 2
    assert v.count([1, 2]) == 0 and v.count([1, 2, 3]) == 1
    v[0] = [1, 2, 3]
    v[-1] = (1, 2, 3)
    assert v.count(np.array([1.0, 2.0, 3.0])) == 2
    raises(TypeError, "invalid element size", v.__setitem__, 0, [1, 2])
    raises(IndexError, "list assignment index out of range", v.__setitem__, 2, [1, 2, 3])
    raises(IndexError, "list assignment index out of range", v.__setitem__, -3, [1, 2, 3])
    with pytest.raises(NotImplementedError) as e:
        del v[0]
    assert str(e.value) == "can't delete item"
    with pytest.raises(TypeError, match="idx"):
        v[0:2]
    with pytest.raises(TypeError, match="idx"):
        v[1.0]
    assert len(v) == 2
    assert [x.tolist() for x in v] == [[1, 2, 3], [1, 2, 3]]
    assert v.clear() is None and len(v) == 0


def test_nan_and_signed_zero_matching():
    nan = float("nan")
    v = U.Vector3dVector([[nan, nan, nan], [0.0, 0.0, 0.0]])
    assert v.count([nan] * 3) == 0
    assert v.count([-0.0, -0.0, -0.0]) == 1
    raises(TypeError, "value not found", v.remove, [nan] * 3)
    assert v != U.Vector3dVector([[nan, nan, nan], [0.0, 0.0, 0.0]])
    assert U.Vector3dVector([[0.0, 0, 0]]) == U.Vector3dVector([[-0.0, 0, 0]])
    assert U.DoubleVector([nan]) != U.DoubleVector([nan])


def test_int_kinds_convert_items_as_ints():
    v = U.Vector3iVector([[1, 2, 3]])
    with pytest.raises(TypeError):
        v.append([1.0, 2.0, 3.0])
    with pytest.raises(OverflowError):
        v.append([2**31, 0, 0])
    v.append([2**31 - 1, -(2**31), np.int64(7)])
    assert v[1].tolist() == [2**31 - 1, -(2**31), 7]
    assert v.count([1, 2, 3]) == 1 and v.count([1, 2]) == 0
    w = U.Vector2iVector([[1, 2]])
    assert w == U.Vector2iVector(np.array([[1, 2]], dtype=np.int32))
    assert U.Vector4iVector([[1, 2, 3, 4]])[0].tolist() == [1, 2, 3, 4]


def test_extend_reads_argument_first():
    v = U.Vector3dVector([[1, 2, 3], [4, 5, 6]])
    v.extend(v)
    assert np.asarray(v).tolist() == [[1, 2, 3], [4, 5, 6]] * 2
    v.extend(np.zeros((0, 3)))
    assert len(v) == 4
    v.extend(U.Vector3iVector([[7, 8, 9]]))
    assert v[-1].tolist() == [7, 8, 9]
    raises(TypeError, "invalid array shape", v.extend, [[1, 2]])
    raises(TypeError, "cannot convert argument to a (n, k) array", v.extend, [1, 2, 3])
    assert len(v) == 5


def test_copies_are_free_standing():
    p = cloud([[1, 2, 3], [4, 5, 6]])
    for c in (copy.copy(p.points), copy.deepcopy(p.points), p.points.__deepcopy__({}), U.Vector3dVector(p.points)):
        assert type(c) is U.Vector3dVector and c == p.points
        np.asarray(c)[0, 0] = -1
        assert p.points[0][0] == 1
        p.points.append([0, 0, 0])
        assert len(c) == 2
        p.points.pop()
        assert np.asarray(c).base is c
    with pytest.raises(TypeError):
        p.points.__deepcopy__()


# ---- extract_from (constructors) ----


def test_construction_from_values():
    V = U.Vector3dVector
    assert len(V(np.zeros((0, 3)))) == 0
    assert len(V([[1, 2, 3], [4, 5, 6]])) == 2
    raises(TypeError, "cannot convert argument to a (n, k) array", V, [])
    raises(TypeError, "invalid array shape", V, [[1, 2]])
    raises(TypeError, "cannot convert argument to a (n, k) array", V, [1, 2, 3])
    raises(TypeError, "cannot convert argument to a (n, k) array", V, np.zeros((2, 3, 1)))
    raises(TypeError, "invalid array shape", V, U.Vector2dVector([[1, 2]]))
    raises(TypeError, "invalid array shape", V, np.zeros((4, 2)))
    with pytest.raises(ValueError):
        V([[1, 2, 3], [4, 5]])
    with pytest.raises(ValueError):
        V("abc")
    expect = [[1.5, 2, 3], [4, 5, 6]]
    for src in (
        np.array(expect, dtype=np.float32),
        np.array(expect, dtype=">f8"),  # byte-swapped: converted, not copied raw
        np.array(expect)[::-1][::-1],
        np.asfortranarray(expect),
        np.array(expect).T.copy().T,
    ):
        assert np.asarray(V(src)).tolist() == expect
    assert np.asarray(V(np.array([[1, 2, 3]], dtype=np.int64))).tolist() == [[1, 2, 3]]
    assert np.asarray(V(U.Vector3iVector([[1, 2, 3], [4, 5, 6]]))).tolist() == [[1, 2, 3], [4, 5, 6]]
    strided = np.arange(24.0).reshape(4, 6)[::-2, ::2]
    assert np.asarray(V(strided)).tolist() == strided.tolist()
    assert np.asarray(U.Vector3iVector([[1.9, -1.9, 3]])).tolist() == [[1, -1, 3]]
    assert np.asarray(U.Vector2iVector(np.array([[1, 2]], dtype=">i4"))).tolist() == [[1, 2]]
    assert len(V(arg=None)) == 0 and len(V(arg=[[1, 2, 3]])) == 1


def test_scalar_construction():
    d = U.DoubleVector([1, 2.5, True])
    assert list(d) == [1.0, 2.5, 1.0] and all(type(x) is float for x in d)
    with pytest.raises(TypeError, match="arg"):
        U.DoubleVector(5)
    with pytest.raises(TypeError):
        U.IntVector([1.5])
    with pytest.raises(OverflowError):
        U.IntVector([2**31])
    assert list(U.IntVector(range(3))) == [0, 1, 2]
    assert list(U.IntVector(np.array([-(2**31), 5]))) == [-(2**31), 5]
    assert list(U.DoubleVector(np.array([0.5, 1.5], dtype=np.float32))) == [0.5, 1.5]
    assert list(U.DoubleVector(U.DoubleVector([3.0]))) == [3.0]
    with pytest.raises(TypeError):
        U.DoubleVector(np.zeros((2, 2)))
    with pytest.raises(TypeError):
        U.DoubleVector({1: 2})
    assert len(U.DoubleVector("")) == 0


# ---- scalar list protocol ----


@pytest.mark.parametrize("cls", [U.IntVector, U.DoubleVector])
def test_scalar_list_protocol(cls):
    v = cls([1, 2, 3])
    assert v[0] == 1 and v[-1] == 3
    raises(IndexError, "list index out of range", lambda: v[3])
    v[0] = 10
    raises(IndexError, "list assignment index out of range", v.__setitem__, -4, 1)
    with pytest.raises(TypeError, match="value"):
        v.append("x")
    v.append(4)
    v.insert(-100, 0)
    v.insert(100, 5)
    assert list(v) == [0, 10, 2, 3, 4, 5]
    assert v.pop() == 5 and v.pop(0) == 0 and v.pop(-1) == 4
    raises(IndexError, "pop index out of range", v.pop, 3)
    assert v.count(2) == 1 and v.count(7) == 0
    raises(TypeError, "value not found", v.remove, 7)
    v.remove(2)
    assert list(v) == [10, 3]
    with pytest.raises(NotImplementedError):
        del v[0]
    assert v == [10, 3] and v == (10, 3) and v == np.array([10, 3]) and v == cls([10, 3])
    assert v != [10] and v != "ab" and v != 5 and v == v
    with pytest.raises(TypeError):
        hash(v)
    c = copy.copy(v)
    c.append(1)
    assert len(v) == 2 and type(c) is cls and copy.deepcopy(v) == v
    v.clear()
    raises(IndexError, "pop index out of range", v.pop)


def test_scalar_extend():
    d = U.DoubleVector([1])
    raises(RuntimeError, "Already mutably borrowed", d.extend, d)
    assert list(d) == [1.0]
    d.extend([2, 3.5])
    d.extend(np.array([4.0]))
    d.extend(U.DoubleVector([5]))
    assert list(d) == [1, 2, 3.5, 4, 5]
    with pytest.raises(TypeError, match="other"):
        d.extend(5)
    with pytest.raises(TypeError):
        d.extend(x for x in [1.0])  # not a sequence
    # Item-by-item fallback: values before the failing item stay appended.
    with pytest.raises(TypeError):
        d.extend([6, "x", 7])
    assert list(d) == [1, 2, 3.5, 4, 5, 6]
    with pytest.raises(TypeError):
        d.extend("ab")
    assert len(d) == 6
    i = U.IntVector()
    with pytest.raises(OverflowError):
        i.extend([1, 2**40])
    assert list(i) == [1]


def test_scalar_array_is_copy():
    d = U.DoubleVector([1, 2])
    a = np.asarray(d)
    assert a.dtype == np.float64 and a.shape == (2,)
    a[0] = 9
    assert d[0] == 1
    i = np.asarray(U.IntVector([1, 2]))
    assert i.dtype == np.int32 and i.tolist() == [1, 2]
    assert np.asarray(d, dtype=np.float32).dtype == np.float32
    with pytest.raises(TypeError, match="copy"):
        d.__array__(copy="yes")


# ---- views and the NumPy protocol ----


def test_empty_attribute_arrays():
    a = np.asarray(geometry.PointCloud().points)
    assert a.shape == (0, 3) and a.dtype == np.float64 and a.flags.writeable
    p = geometry.PointCloud()
    assert np.asarray(p.normals).base is p


def test_array_protocol_on_views():
    p = cloud([[1, 2, 3], [4, 5, 6]])
    for dtype in (np.float32, np.float64):
        c = p.points.__array__(dtype)
        assert c.dtype == dtype
        c[0, 0] = 99
        assert p.points[0][0] == 1
    shared = p.points.__array__(copy=True)
    shared[0, 0] = 7
    assert p.points[0][0] == 7
    assert p.points.__array__(None, np.bool_(False)).base is p
    with pytest.raises(TypeError, match="copy"):
        p.points.__array__(copy="no")
    b = np.array(p.points)
    assert b.shape == (2, 3)


def test_view_follows_owner_and_keeps_it_alive():
    p = cloud([[1, 2, 3], [4, 5, 6]])
    v = p.points
    assert v is not p.points and v == p.points
    p.points = np.zeros((10, 3))
    assert len(v) == 10
    v.append([1, 2, 3])
    assert len(p.points) == 11
    p.clear()
    assert len(v) == 0
    view = cloud([[1, 2, 3]]).points  # the cloud has no other reference
    assert len(view) == 1 and view[0].tolist() == [1, 2, 3]
    view.append([4, 5, 6])
    assert np.asarray(view).tolist() == [[1, 2, 3], [4, 5, 6]]


def test_view_list_operations_reach_the_cloud():
    p = cloud([[1, 2, 3], [4, 5, 6]])
    p.normals = [[0, 0, 1], [0, 1, 0]]
    p.colors = [[1, 0, 0], [0, 1, 0]]
    p.points.append([7, 8, 9])
    assert repr(p) == "PointCloud with 3 points."
    p.points.extend(p.points)
    assert len(p.points) == 6
    p.points[0] = [1, 1, 1]
    assert p.points.pop(0).tolist() == [1, 1, 1]
    p.points.clear()
    assert len(p.points) == 0 and len(p.normals) == 2 and len(p.colors) == 2


# ---- assign_into ----


def test_assignment_copies_and_resolves_sources_first():
    p = cloud([[1, 2, 3], [4, 5, 6], [7, 8, 9]])
    pts = np.asarray(p.points).copy()
    p.points = p.points
    assert np.array_equal(np.asarray(p.points), pts)
    p.normals = p.points
    assert np.array_equal(np.asarray(p.normals), pts)
    p.normals.append([0, 0, 0])
    assert len(p.points) == 3
    p.points = np.asarray(p.points)[::-1]
    assert np.array_equal(np.asarray(p.points), pts[::-1])
    # A free-standing value stays independent after assignment.
    v = U.Vector3dVector(pts)
    p.points = v
    v.append([0, 0, 0])
    np.asarray(v)[0, 0] = -5
    assert len(p.points) == 3 and p.points[0][0] == 1
    # A view of another cloud keeps viewing its own owner.
    q = cloud([[0, 0, 0]])
    p.colors = q.points
    q.points.append([1, 1, 1])
    assert len(p.colors) == 1


def test_assignment_errors_leave_attribute_unchanged():
    p = cloud([[1, 2, 3], [4, 5, 6]])
    before = np.asarray(p.points).copy()
    raises(TypeError, "invalid array shape", setattr, p, "points", np.zeros((4, 2)))
    raises(TypeError, "cannot convert argument to a (n, k) array", setattr, p, "points", [])
    with pytest.raises(ValueError):
        p.points = [[1, 2, 3], [4]]
    assert np.array_equal(np.asarray(p.points), before)
    for name in ("points", "normals", "colors"):
        raises(AttributeError, "can't delete attribute", delattr, p, name)


@pytest.mark.parametrize(
    "make",
    [
        lambda a: a,
        lambda a: a[::-1].copy()[::-1],
        lambda a: np.asfortranarray(a),
        lambda a: np.repeat(a, 2, axis=0)[::2],
        lambda a: a.astype(np.float32),
        lambda a: a.tolist(),
        lambda a: U.Vector3dVector(a),
    ],
)
def test_assignment_accepts_layouts(make):
    a = np.arange(12.0).reshape(4, 3) + 0.25
    p = geometry.PointCloud()
    p.points = make(a)
    assert np.array_equal(np.asarray(p.points), a)
    p.points = np.zeros((0, 3))
    assert len(p.points) == 0


def test_assignment_keeps_buffer_when_it_fits():
    p = cloud(np.arange(30.0).reshape(10, 3))
    a = np.asarray(p.points)
    p.points = np.ones((4, 3))
    assert a[:4].tolist() == [[1, 1, 1]] * 4  # same buffer, rewritten in place
    p.points = np.full((10, 3), 2.0)
    assert a.tolist() == [[2, 2, 2]] * 10


# ---- stale arrays ----
# Reads and writes below go through block copies (ndarray.copy, copyto,
# assignment to a cloud), which a sanitizer build checks; element-wise NumPy
# loops would not be seen by it.


def touch(a, value):
    """Writes `value` everywhere in `a` and returns a copy read back."""
    np.copyto(a, np.full(a.shape, value, dtype=a.dtype))
    probe = geometry.PointCloud()
    if a.dtype == np.float64 and a.shape[1] == 3:
        probe.points = a
    return a.copy()


def test_stale_arrays_never_touch_freed_memory():
    p = cloud([[1, 2, 3]])
    old = np.asarray(p.points)
    for i in range(2000):
        p.points.append([i, i, i])
    # A retired buffer: still owned by the cloud, no longer its points.
    assert touch(old, 123.0).tolist() == [[123, 123, 123]] and p.points[0].tolist() == [1, 2, 3]
    mid = np.asarray(p.points)
    p.points = np.zeros((50000, 3))
    assert touch(mid, 7.0).sum() == 7 * mid.size and np.asarray(p.points).sum() == 0
    n = np.asarray(p.normals)
    p.normals.extend(np.ones((1000, 3)))
    p.normals.insert(0, [1, 2, 3])
    c = np.asarray(p.colors)
    p.paint_uniform_color([0.5, 0.5, 0.5])
    touch(n, 0.0)
    touch(c, 0.0)
    assert len(p.normals) == 1001 and p.colors[0].tolist() == [0.5] * 3
    del p
    assert touch(old, 1.0)[0, 0] == 1.0 and touch(mid, 2.0)[0, 0] == 2.0  # arrays keep their cloud alive


def test_stale_arrays_of_free_standing_vectors():
    v = U.Vector3iVector([[1, 2, 3]])
    old = np.asarray(v)
    for i in range(1000):
        v.append([i, i, i])
    v.extend(v)
    assert touch(old, 5).tolist() == [[5, 5, 5]] and v[0].tolist() == [1, 2, 3]
    w = U.Vector3dVector([[1, 2, 3]])
    old = np.asarray(w)
    w.extend(np.zeros((5000, 3)))
    del v, w
    assert touch(old, 4.0).tolist() == [[4, 4, 4]]
