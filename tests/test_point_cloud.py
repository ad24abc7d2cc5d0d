import copy
import inspect
import math
import weakref

import numpy as np
import pytest

from ombrix.cpu.pybind import geometry, utility

PC = geometry.PointCloud
NAN = float("nan")


def cloud(points, normals=None, colors=None):
    p = PC()
    p.points = np.asarray(points, dtype=np.float64)
    if normals is not None:
        p.normals = np.asarray(normals, dtype=np.float64)
    if colors is not None:
        p.colors = np.asarray(colors, dtype=np.float64)
    return p


def arr(v):
    return np.asarray(v).copy()


def bits(a):
    return [float(x).hex() for x in np.asarray(a, dtype=np.float64).ravel()]


def test_class_frame_and_signatures():
    assert PC.__module__ == "ombrix.cpu.pybind.geometry" and PC.__mro__[1] is geometry.Geometry3D
    assert str(inspect.signature(PC)) == "(other=None)"
    sigs = {
        "translate": "(translation, relative=True)",
        "scale": "(scale, center)",
        "rotate": "(r, center=None)",
        "transform": "(transformation)",
        "paint_uniform_color": "(color)",
        "__deepcopy__": "(_memo)",
        "get_center": "()",
        "normalize_normals": "()",
    }
    p = PC()
    for name, sig in sigs.items():
        assert str(inspect.signature(getattr(p, name))) == sig
    with pytest.raises(TypeError):
        weakref.ref(p)
    with pytest.raises(AttributeError):
        p.something = 1
    assert PC.get_rotation_matrix_from_xyz([0, 0, 0]).tolist() == np.eye(3).tolist()


def test_repr_and_queries():
    p = PC()
    assert repr(p) == str(p) == "PointCloud with 0 points."
    assert p.is_empty() and not p.has_points() and not p.has_normals() and not p.has_colors()
    assert p.dimension() == 3
    assert p.get_geometry_type() == geometry.Geometry.PointCloud and int(p.get_geometry_type()) == 1
    assert p.get_center().tolist() == [0, 0, 0]
    assert all(math.isnan(x) for x in p.get_min_bound()) and all(math.isnan(x) for x in p.get_max_bound())
    p.points = np.zeros((3, 3))
    assert repr(p) == "PointCloud with 3 points."
    p.normals = [[0, 0, 1]] * 2
    assert not p.has_normals()
    p.normals.append([0, 0, 1])
    p.colors = [[0, 0, 0]] * 3
    assert p.has_normals() and p.has_colors() and not p.is_empty()
    q = PC()
    q.normals = [[0, 0, 1]]
    assert not q.has_normals() and q.is_empty()


def test_bounds_ignore_nan_and_center_is_mean():
    p = cloud([[0, 0, 0], [NAN, 2, 1]])
    assert p.get_min_bound().tolist() == [0, 0, 0]
    assert p.get_max_bound().tolist() == [0, 2, 1]
    pts = np.array([[0.1, 0.2, 0.3], [1e16, 1, -1], [0.7, -5.5, 3]])
    c = cloud(pts).get_center()
    expect = [((0.0 + pts[0, k]) + pts[1, k] + pts[2, k]) / 3 for k in range(3)]
    assert bits(c) == bits(expect)


def test_constructor_copy_and_subclass():
    p = cloud([[1, 2, 3]], [[0, 0, 1]], [[1, 0, 0]])
    for q in (PC(p), PC(other=p), copy.copy(p), copy.deepcopy(p), p.__deepcopy__(None)):
        assert type(q) is PC and q is not p
        assert arr(q.points).tolist() == [[1, 2, 3]] and arr(q.normals).tolist() == [[0, 0, 1]]
        assert arr(q.colors).tolist() == [[1, 0, 0]]
        q.points[0] = [9, 9, 9]
        assert p.points[0].tolist() == [1, 2, 3]
    with pytest.raises(TypeError, match="other"):
        PC(5)
    assert PC(None).is_empty()

    class Sub(PC):
        def __init__(self, *a):
            super().__init__(*a)
            self.tag = "x"

    s = Sub(p)
    assert type(s) is Sub and s.tag == "x" and len(s.points) == 1
    s.points.append([4, 5, 6])
    assert np.asarray(s.points).base is s and len(p.points) == 1
    assert type(copy.deepcopy(s)) is PC and type(copy.copy(s)) is PC


def test_modifiers_return_self_and_clear_keeps_buffers():
    p = cloud([[1, 2, 3], [4, 5, 6]], [[0, 0, 1]] * 2, [[1, 1, 1]] * 2)
    a = np.asarray(p.points)
    for call in (
        lambda: p.normalize_normals(),
        lambda: p.paint_uniform_color([0, 0, 0]),
        lambda: p.translate([0, 0, 0]),
        lambda: p.scale(1, [0, 0, 0]),
        lambda: p.rotate(np.eye(3)),
        lambda: p.transform(np.eye(4)),
        lambda: p.clear(),
    ):
        assert call() is p
    assert len(p.points) == 0 and len(p.normals) == 0 and len(p.colors) == 0
    assert a.tolist() == [[1, 2, 3], [4, 5, 6]]  # still the cloud's (kept) buffer


def test_normalize_normals():
    p = cloud([[0, 0, 0]], [[0, 0, 0], [3, 0, 4], [NAN, 0, 0], [0, 0, -2e-320]])
    p.normalize_normals()  # every normal, though the count differs from the points
    assert arr(p.normals).tolist() == [[0, 0, 0], [0.6, 0, 0.8], [0, 0, 1], [0, 0, -1]]


def test_paint_uniform_color():
    p = cloud(np.zeros((4, 3)), colors=np.zeros((7, 3)))
    p.paint_uniform_color([2, -1, NAN])
    c = arr(p.colors)
    assert c.tolist() == [[1, 0, 0]] * 4 and not np.signbit(c).any()
    p.paint_uniform_color((-0.0, 0.25, 1))
    assert bits(p.colors[0]) == bits([0.0, 0.25, 1.0])
    q = cloud(np.zeros((0, 3)), colors=np.zeros((3, 3)))
    q.paint_uniform_color([1, 1, 1])
    assert len(q.colors) == 0
    with pytest.raises(TypeError, match="expected 3-vector"):
        p.paint_uniform_color([1, 2])
    with pytest.raises(TypeError):
        p.paint_uniform_color("abc")
    assert len(p.colors) == 4


def test_translate():
    pts = np.array([[0.1, 0.2, 0.3], [1.0, -2.0, 5.5], [3.3, 0.0, -1.25]])
    p = cloud(pts, normals=[[0, 0, 1]] * 3)
    p.translate([1, 2, 3])
    assert bits(p.points) == bits(pts + [1, 2, 3])
    assert arr(p.normals).tolist() == [[0, 0, 1]] * 3
    q = cloud(pts)
    q.translate(np.array([1.0, 2.0, 3.0]), relative=False)
    m = [((0.0 + pts[0, k]) + pts[1, k] + pts[2, k]) / 3 for k in range(3)]
    assert bits(q.points) == bits(pts + (np.array([1.0, 2.0, 3.0]) - m))
    e = PC()
    assert len(e.translate([1, 2, 3], False).points) == 0
    with pytest.raises(TypeError):
        p.translate([1, 2, 3], None)
    with pytest.raises(TypeError, match="relative"):
        p.translate([1, 2, 3], 1)


def test_scale():
    pts = np.array([[0.1, 0.2, 0.3], [1.0, -2.0, 5.5]])
    c = np.array([0.5, -1.0, 2.0])
    p = cloud(pts, normals=[[0, 0, 1]] * 2)
    p.scale(-1.5, c)
    assert bits(p.points) == bits((pts - c) * -1.5 + c)
    assert arr(p.normals).tolist() == [[0, 0, 1]] * 2
    p.scale(2, [0, 0, 0])
    with pytest.raises(TypeError, match="scale"):
        p.scale("x", [0, 0, 0])
    with pytest.raises(TypeError):
        p.scale(2)


def apply3(m, d):
    return [
        (m[0][0] * d[0] + m[0][1] * d[1]) + m[0][2] * d[2],
        (m[1][0] * d[0] + m[1][1] * d[1]) + m[1][2] * d[2],
        m[2][0] * d[0] + (m[2][1] * d[1] + m[2][2] * d[2]),
    ]


def test_rotate_about_mean_and_given_center():
    r = geometry.get_rotation_matrix_from_xyz([0.3, -0.2, 1.1])
    pts = np.array([[0.1, 0.2, 0.3], [1.0, -2.0, 5.5], [3.3, 0.0, -1.25]])
    nrm = np.array([[0.0, 0.6, 0.8], [1, 0, 0], [0, 1, 0]])
    p = cloud(pts, nrm)
    p.rotate(r)
    m = [((0.0 + pts[0, k]) + pts[1, k] + pts[2, k]) / 3 for k in range(3)]
    expect = [[e + m[k] for k, e in enumerate(apply3(r, [q[k] - m[k] for k in range(3)]))] for q in pts]
    assert bits(p.points) == bits(expect)
    assert bits(p.normals) == bits([apply3(r, n) for n in nrm])
    q = cloud(pts, nrm[:2])
    q.rotate(r, center=[1, 2, 3])
    expect = [[e + c for e, c in zip(apply3(r, [x - 1, y - 2, z - 3]), [1, 2, 3])] for x, y, z in pts]
    assert bits(q.points) == bits(expect)
    assert arr(q.normals).tolist() == nrm[:2].tolist()  # count differs: untouched
    e = cloud(np.zeros((0, 3)), nrm)
    e.rotate(r)
    assert arr(e.normals).tolist() == nrm.tolist()
    before = arr(p.points)
    with pytest.raises(TypeError, match="expected 3x3 matrix"):
        p.rotate(np.eye(4))
    with pytest.raises(TypeError, match="expected 3-vector"):
        p.rotate(r, [1, 2])
    assert arr(p.points).tolist() == before.tolist()


def test_transform():
    t = np.array([[0.0, -1, 0, 1], [1, 0, 0, 2], [0, 0, 2, 3], [0, 0, 0, 1]])
    p = cloud([[1, 2, 3], [0.5, 0, 0]], [[1, 0, 0], [0, 0, 1]])
    p.transform(t)
    assert arr(p.points).tolist() == [[-1, 3, 9], [1, 2.5, 3]]
    assert arr(p.normals).tolist() == [[0, 1, 0], [0, 0, 1]]
    z = t.copy()
    z[3] = 0
    q = cloud([[1, 2, 3]], [[0, 0, 0]])
    q.transform(z)
    assert all(math.isnan(x) for x in q.points[0])
    s = np.diag([1.0, 1.0, 0.0, 1.0])
    w = cloud([[1, 2, 3]], [[0, 3, 4]])
    w.transform(s)  # singular block: normals only renormalised
    assert arr(w.normals).tolist() == [[0, 0.6, 0.8]]
    v = cloud([[1, 2, 3]], [[0, 3, 4], [1, 1, 1]])
    v.transform(t)
    assert arr(v.normals).tolist() == [[0, 3, 4], [1, 1, 1]]
    with pytest.raises(TypeError, match="expected 4x4 matrix"):
        v.transform(np.eye(3))
    with pytest.raises(TypeError):
        v.transform(np.eye(4).tolist())


def test_colors_untouched_by_transforms():
    p = cloud([[1, 2, 3]], [[0, 0, 1]], [[0.25, 0.5, 0.75]])
    p.translate([1, 1, 1]).scale(3, [0, 0, 0]).rotate(np.eye(3)[::-1].copy()).transform(2 * np.eye(4))
    assert arr(p.colors).tolist() == [[0.25, 0.5, 0.75]]


def test_views_of_cloud():
    p = cloud([[1, 2, 3], [4, 5, 6]])
    a = np.asarray(p.points)
    assert a.base is p
    a[0, 0] = 5
    assert p.points[0].tolist() == [5, 2, 3]
    p.points[1] = [7, 8, 9]
    assert a[1].tolist() == [7, 8, 9]
    item = p.points[0]
    item[0] = 100
    assert a[0, 0] == 5
    assert isinstance(p.normals, utility.Vector3dVector) and isinstance(p.colors, utility.Vector3dVector)
    p.points.append([1, 2, 3])
    assert repr(p) == "PointCloud with 3 points."


def test_view_held_by_subclass_instance_is_collected():
    import gc

    class Sub(PC):
        pass

    s = Sub()
    s.view = s.points  # a cycle through the instance dict and the view's owner
    s.points = np.zeros((5, 3))
    r = weakref.ref(s)
    del s
    gc.collect()
    assert r() is None


def test_views_share_the_cloud_borrow_state():
    # KDTreeFlann.set_geometry reads the cloud with the GIL released; while it
    # runs, writes through the cloud or any of its views are refused and
    # reads go on.
    import threading

    n = 200_000
    p = cloud(np.random.default_rng(0).random((n, 3)))
    before = np.asarray(p.points).copy()
    tree = geometry.KDTreeFlann()
    writes = (
        lambda: p.points.__setitem__(0, [9, 9, 9]),
        lambda: p.points.append([9, 9, 9]),
        lambda: p.normals.clear(),
        lambda: setattr(p, "points", np.zeros((2, 3))),
        lambda: p.translate([1, 1, 1]),
    )
    refused = set()
    for _ in range(20):
        t = threading.Thread(target=tree.set_geometry, args=(p,))
        t.start()
        while t.is_alive():
            for i, write in enumerate(writes):
                try:
                    write()
                except RuntimeError as e:
                    assert str(e) == "Already borrowed"
                    refused.add(i)
                    assert len(p.points) == n and np.asarray(p.points).shape == (n, 3)
                else:
                    t.join()  # ran outside the window: undo once the reader is done
                    p.points = before
        t.join()
        if len(refused) == len(writes):
            break
    assert len(refused) == 5
    assert np.array_equal(np.asarray(p.points), before)
