import copy
import math

import numpy as np
import pytest

from ombrix.cpu.pybind import geometry, utility

TriangleMesh = geometry.TriangleMesh


def mesh(vertices, triangles=()):
    m = TriangleMesh()
    m.vertices = np.asarray(vertices, dtype=np.float64)
    m.triangles = np.asarray(triangles, dtype=np.int32).reshape(-1, 3)
    return m


def arr(view):
    return np.asarray(view).copy()


def stable_normalize(v, fallback):
    """The library's normalisation, written out with NumPy float64 scalars."""
    with np.errstate(all="ignore"):
        x, y, z = (np.float64(c) for c in v)
        finite = [abs(c) for c in (x, y, z) if not np.isnan(c)]
        h = max(finite) if finite else np.float64("nan")
        a, b, c = x / h, y / h, z / h
        s = (a * a + b * b) + c * c
        if s > 0:
            d = np.sqrt(s) * h
            x, y, z = x / d, y / d, z / d
            if np.isnan(x):
                return list(fallback)
        elif np.isnan(x):
            return list(fallback)
        return [float(x), float(y), float(z)]


def apply3(m, d):
    return [
        (m[0][0] * d[0] + m[0][1] * d[1]) + m[0][2] * d[2],
        (m[1][0] * d[0] + m[1][1] * d[1]) + m[1][2] * d[2],
        m[2][0] * d[0] + (m[2][1] * d[1] + m[2][2] * d[2]),
    ]


def hexes(rows):
    return [[float(c).hex() for c in r] for r in np.asarray(rows).tolist()]


# ---- class, construction, copying ----


def test_class_basics():
    assert TriangleMesh.__text_signature__ == "(other=None)"
    assert TriangleMesh.__mro__[1] is geometry.MeshBase
    m = TriangleMesh()
    assert repr(m) == "TriangleMesh with 0 vertices and 0 triangles."
    assert m.is_empty() and m.dimension() == 3
    assert m.get_geometry_type() == geometry.Geometry.TriangleMesh
    assert int(m.get_geometry_type()) == 6
    with pytest.raises(TypeError):
        type("Sub", (TriangleMesh,), {})
    for bad in (5, geometry.PointCloud()):
        with pytest.raises(TypeError, match="other"):
            TriangleMesh(bad)
    assert TriangleMesh.compute_vertex_normals.__text_signature__ == "($self, normalized=True)"
    assert TriangleMesh.__deepcopy__.__text_signature__ == "($self, _memo)"


def test_repr_counts_and_copies_are_deep():
    m = mesh([[0, 0, 0], [1, 0, 0], [0, 1, 0], [1, 1, 0]], [[0, 1, 2], [1, 3, 2]])
    m.compute_vertex_normals()
    m.paint_uniform_color((0.5, 0.5, 0.5))
    assert repr(m) == "TriangleMesh with 4 vertices and 2 triangles."
    for c in (TriangleMesh(m), copy.copy(m), copy.deepcopy(m)):
        assert type(c) is TriangleMesh
        for name in ("vertices", "vertex_normals", "vertex_colors", "triangles", "triangle_normals"):
            assert np.array_equal(arr(getattr(c, name)), arr(getattr(m, name)))
        np.asarray(c.vertices)[0, 0] = 42
        np.asarray(c.triangles)[0, 0] = 3
    assert arr(m.vertices)[0, 0] == 0 and arr(m.triangles)[0, 0] == 0


# ---- views and assignment ----


def test_views_share_memory():
    m = mesh([[0, 0, 0], [1, 0, 0], [0, 1, 0]], [[0, 1, 2]])
    assert isinstance(m.vertices, utility.Vector3dVector)
    assert isinstance(m.triangles, utility.Vector3iVector)
    v = np.asarray(m.vertices)
    t = np.asarray(m.triangles)
    assert v.base is m and t.base is m and t.dtype == np.int32 and v.flags.writeable
    v[1, 0] = 7
    t[0, 2] = 1
    assert m.vertices[1].tolist() == [7, 0, 0] and m.triangles[0].tolist() == [0, 1, 1]
    e = np.asarray(TriangleMesh().triangles)
    assert e.shape == (0, 3) and e.dtype == np.int32
    view = m.triangle_normals
    m.compute_triangle_normals()
    assert len(view) == 1  # views re-resolve on every use


@pytest.mark.parametrize("name", ["vertices", "vertex_normals", "vertex_colors", "triangles", "triangle_normals"])
def test_delete_property_refused(name):
    m = TriangleMesh()
    with pytest.raises(AttributeError, match="can't delete attribute"):
        delattr(m, name)


def test_triangles_setter_accepts_any_indices_and_sources():
    m = mesh([[0, 0, 0], [1, 0, 0], [0, 1, 0]])
    m.triangles = [[0, 1, 7]]
    assert m.has_triangles() and m.triangles[0].tolist() == [0, 1, 7]
    other = mesh([[0, 0, 0]] * 3, [[2, 1, 0], [0, 1, 2]])
    m.triangles = other.triangles
    assert arr(m.triangles).tolist() == [[2, 1, 0], [0, 1, 2]]
    m.triangles = np.array([[1, 2, 0]], dtype=np.int64)
    assert arr(m.triangles).tolist() == [[1, 2, 0]]
    with pytest.raises(TypeError, match="invalid array shape"):
        m.vertices = np.zeros((2, 2))


def test_has_members_need_matching_lengths():
    m = mesh([[0, 0, 0], [1, 0, 0], [0, 1, 0]], [[0, 1, 2]])
    assert m.has_vertices() and m.has_triangles()
    assert not (m.has_vertex_normals() or m.has_vertex_colors() or m.has_triangle_normals())
    m.vertex_normals = [[0, 0, 1]] * 2
    m.vertex_colors = [[1, 0, 0]] * 3
    m.triangle_normals = [[0, 0, 1]]
    assert not m.has_vertex_normals() and m.has_vertex_colors() and m.has_triangle_normals()
    n = TriangleMesh()
    n.vertex_normals = [[0, 0, 1]]
    n.triangles = [[0, 0, 0]]
    n.triangle_normals = [[0, 0, 1]]
    assert not n.has_vertices() and not n.has_vertex_normals() and n.has_triangles() and n.has_triangle_normals()
    assert n.is_empty()


def test_bounds_and_center():
    e = TriangleMesh()
    assert np.isnan(e.get_max_bound()).all() and np.isnan(e.get_min_bound()).all()
    assert e.get_center().tolist() == [0, 0, 0]
    m = mesh([[0, 0, 0], [np.nan, 2, 1], [-1, 5, np.nan]])
    assert m.get_min_bound().tolist() == [-1, 0, 0]
    assert m.get_max_bound().tolist() == [0, 5, 1]


def test_axis_aligned_bounding_box():
    m = mesh([[1, 5, -2], [np.nan, 2, 7], [3, np.nan, 0]])
    box = m.get_axis_aligned_bounding_box()
    assert isinstance(box, geometry.AxisAlignedBoundingBox)
    assert box.min_bound.tolist() == [1, 2, -2] and box.max_bound.tolist() == [3, 5, 7]
    assert box.color.tolist() == [1, 1, 1]
    e = TriangleMesh().get_axis_aligned_bounding_box()
    assert np.isnan(e.min_bound).all() and np.isnan(e.max_bound).all()


# ---- normal computations ----


@pytest.mark.parametrize(
    "triangle, normalized, expected",
    [
        ([0, 1, 2], True, [0, 0, 1]),
        ([0, 1, 2], False, [0, 0, 1]),
        ([0, 2, 1], True, [0, 0, -1]),
        ([0, 1, 5], True, [0, 0, 0]),
        ([-1, 1, 2], False, [0, 0, 0]),
    ],
)
def test_compute_triangle_normals(triangle, normalized, expected):
    m = mesh([[0, 0, 0], [1, 0, 0], [0, 1, 0]], [triangle])
    assert m.compute_triangle_normals(normalized=normalized) is m
    assert arr(m.triangle_normals).tolist() == [expected]


def test_triangle_normals_are_area_vectors_unless_normalized():
    m = mesh([[0, 0, 0], [2, 0, 0], [0, 3, 0]], [[0, 1, 2]])
    m.vertex_normals = [[0, 0, 5], [0, 0, 0], [np.nan, 1, 1]]
    m.compute_triangle_normals(False)
    assert arr(m.triangle_normals).tolist() == [[0, 0, 6]]
    assert arr(m.vertex_normals)[0].tolist() == [0, 0, 5]  # untouched without normalisation
    m.compute_triangle_normals()
    # Normalising runs over the whole mesh: vertex normals too.
    assert arr(m.vertex_normals).tolist() == [[0, 0, 1], [0, 0, 0], [0, 0, 1]]
    assert arr(m.triangle_normals).tolist() == [[0, 0, 1]]


def test_compute_vertex_normals_sums_area_vectors():
    verts = [[0, 0, 0], [1, 0, 0], [0, 1, 0], [1, 1, 1], [5, 5, 5]]
    m = mesh(verts, [[0, 1, 2], [1, 3, 2], [0, 1, 9]])
    assert m.compute_vertex_normals() is m
    # Area vectors (0, 0, 1) and (-1, -1, 1); the out-of-range triangle adds nothing.
    sums = [[0, 0, 1], [-1, -1, 2], [-1, -1, 2], [-1, -1, 1], [0, 0, 0]]
    expected = [stable_normalize(s, (0, 0, 1)) for s in sums]
    assert hexes(m.vertex_normals) == hexes(expected)
    assert hexes(m.triangle_normals) == hexes(
        [stable_normalize(s, (0, 0, 1)) for s in ([0, 0, 1], [-1, -1, 1], [0, 0, 0])]
    )
    m2 = mesh(verts, [[0, 1, 2], [1, 3, 2]])
    m2.compute_vertex_normals(normalized=False)
    assert arr(m2.vertex_normals).tolist() == [[0, 0, 1], [-1, -1, 2], [-1, -1, 2], [-1, -1, 1], [0, 0, 0]]


def test_compute_vertex_normals_uses_supplied_triangle_normals():
    m = mesh([[0, 0, 0], [1, 0, 0], [0, 1, 0], [1, 1, 0]], [[0, 1, 2], [1, 3, 2]])
    m.triangle_normals = [[0, 3, 0], [1, 0, 0]]
    m.compute_vertex_normals(False)
    assert arr(m.vertex_normals).tolist() == [[0, 3, 0], [1, 3, 0], [1, 3, 0], [1, 0, 0]]
    # A count mismatch makes it recompute them first.
    m.triangle_normals = [[0, 3, 0]]
    m.compute_vertex_normals(False)
    assert arr(m.triangle_normals).tolist() == [[0, 0, 1], [0, 0, 1]]


def test_normal_computations_without_triangles_change_nothing():
    m = mesh([[0, 0, 0], [1, 0, 0], [0, 1, 0]])
    m.triangle_normals = [[0, 0, 7]]
    m.vertex_normals = [[2, 0, 0]]
    m.compute_vertex_normals()
    m.compute_triangle_normals()
    assert arr(m.triangle_normals).tolist() == [[0, 0, 7]] and arr(m.vertex_normals).tolist() == [[2, 0, 0]]


def test_normalize_normals_and_paint():
    m = mesh([[0, 0, 0], [1, 0, 0]])
    m.vertex_normals = [[0, 0, 0], [3, 0, 4], [np.nan, 0, 0]]
    m.triangle_normals = [[0, -2, 0]]
    assert m.normalize_normals() is m
    assert arr(m.vertex_normals).tolist() == [[0, 0, 0], [0.6, 0, 0.8], [0, 0, 1]]
    assert arr(m.triangle_normals).tolist() == [[0, -1, 0]]
    m.vertex_colors = [[0, 0, 0]] * 5
    assert m.paint_uniform_color((2, -1, 0.5)) is m
    assert arr(m.vertex_colors).tolist() == [[2, -1, 0.5]] * 2


@pytest.mark.parametrize(
    "call",
    [
        lambda m: m.compute_vertex_normals(1),
        lambda m: m.compute_triangle_normals(normalized="yes"),
        lambda m: m.paint_uniform_color((1, 2)),
        lambda m: m.translate((1, 2, 3), relative=1),
        lambda m: m.scale("x", (0, 0, 0)),
        lambda m: m.rotate(np.eye(3), center=(1, 2)),
        lambda m: m.transform(np.eye(3)),
    ],
)
def test_argument_errors_change_nothing(call):
    m = mesh([[0, 0, 0], [1, 0, 0], [0, 1, 0]], [[0, 1, 2]])
    with pytest.raises(TypeError):
        call(m)
    assert arr(m.vertices).tolist() == [[0, 0, 0], [1, 0, 0], [0, 1, 0]]
    assert len(m.vertex_normals) == 0 and len(m.vertex_colors) == 0


def test_shared_array_survives_normal_arrays_growing():
    m = mesh([[0, 0, 0], [1, 0, 0], [0, 1, 0], [1, 1, 0]], [[0, 1, 2], [1, 3, 2]])
    m.vertex_normals = [[9, 9, 9]]
    m.triangle_normals = [[8, 8, 8]]
    old_v = np.asarray(m.vertex_normals)
    old_t = np.asarray(m.triangle_normals)
    m.compute_vertex_normals()
    assert old_v.tolist() == [[9, 9, 9]] and old_t.tolist() == [[8, 8, 8]]
    assert len(m.vertex_normals) == 4 and len(m.triangle_normals) == 2
    m.vertex_colors = [[1, 1, 1]]
    old_c = np.asarray(m.vertex_colors)
    m.paint_uniform_color((0, 0, 1))
    assert old_c.tolist() == [[1, 1, 1]] and len(m.vertex_colors) == 4


def test_clear_returns_self_and_empties_everything():
    m = mesh([[0, 0, 0], [1, 0, 0], [0, 1, 0]], [[0, 1, 2]])
    m.compute_vertex_normals()
    m.paint_uniform_color((1, 0, 0))
    assert m.clear() is m
    assert repr(m) == "TriangleMesh with 0 vertices and 0 triangles."
    assert len(m.vertex_normals) == len(m.vertex_colors) == len(m.triangle_normals) == 0


# ---- transforms ----


def test_translate_and_scale_move_vertices_only():
    m = mesh([[0, 0, 0], [2, 0, 0], [0, 2, 0]], [[0, 1, 2]])
    m.compute_vertex_normals()
    assert m.translate((1, 2, 3)) is m
    assert arr(m.vertices).tolist() == [[1, 2, 3], [3, 2, 3], [1, 4, 3]]
    m.translate((0, 0, 0), relative=False)
    c = [(1 + 3 + 1) / 3, (2 + 2 + 4) / 3, 3.0]
    assert hexes(m.vertices) == hexes([[1 - c[0], 2 - c[1], 0.0], [3 - c[0], 2 - c[1], 0.0], [1 - c[0], 4 - c[1], 0.0]])
    m2 = mesh([[1, 2, 3]])
    assert m2.scale(2.0, (1, 1, 1)) is m2
    assert arr(m2.vertices).tolist() == [[1, 3, 5]]
    assert arr(m.vertex_normals).tolist() == [[0, 0, 1]] * 3
    TriangleMesh().translate((1, 1, 1), relative=False)  # nothing to move


def test_rotate_about_mean_turns_matching_normals():
    verts = [[0.3, -1.2, 2.5], [1.7, 0.4, -0.9], [-2.2, 3.1, 0.6]]
    m = mesh(verts, [[0, 1, 2]])
    m.compute_vertex_normals(False)
    m.triangle_normals = arr(m.triangle_normals)
    normals_before = arr(m.vertex_normals).tolist()
    tri_before = arr(m.triangle_normals).tolist()
    r = geometry.get_rotation_matrix_from_xyz((0.3, -0.7, 1.1))
    assert m.rotate(r) is m
    c = [(verts[0][k] + verts[1][k] + verts[2][k]) / 3 for k in range(3)]
    rl = r.tolist()
    expected = []
    for p in verts:
        e = apply3(rl, [p[k] - c[k] for k in range(3)])
        expected.append([e[k] + c[k] for k in range(3)])
    assert hexes(m.vertices) == hexes(expected)
    assert hexes(m.vertex_normals) == hexes([apply3(rl, n) for n in normals_before])
    assert hexes(m.triangle_normals) == hexes([apply3(rl, n) for n in tri_before])
    # Normals whose count does not match stay as they are.
    m.vertex_normals = [[1, 0, 0]]
    m.triangle_normals = [[1, 0, 0], [0, 1, 0]]
    m.rotate(r, center=(0, 0, 0))
    assert arr(m.vertex_normals).tolist() == [[1, 0, 0]]
    assert arr(m.triangle_normals).tolist() == [[1, 0, 0], [0, 1, 0]]


def test_transform_points_and_normals():
    m = mesh([[1, 2, 3], [0, 0, 0], [1, 0, 0]], [[0, 1, 2]])
    m.vertex_normals = [[0, 0, 2], [0, 3, 0], [4, 0, 0]]
    m.triangle_normals = [[0, 0, 5]]
    t = np.diag([2.0, 2.0, 2.0, 1.0])
    t[:3, 3] = [1, 1, 1]
    assert m.transform(t) is m
    assert arr(m.vertices).tolist() == [[3, 5, 7], [1, 1, 1], [3, 1, 1]]
    assert arr(m.vertex_normals).tolist() == [[0, 0, 1], [0, 1, 0], [1, 0, 0]]
    assert arr(m.triangle_normals).tolist() == [[0, 0, 1]]
    p = np.eye(4)
    p[3, 3] = 0
    m.transform(p)
    assert np.isnan(arr(m.vertices)).all()
