"""Rotation helpers (exact matrices) and the 3-vector / 4-vector argument conversions."""
import math

import numpy as np
import pytest

from ombrix.cpu.pybind import geometry as g


def rx(t):
    s, c = math.sin(t), math.cos(t)
    return [[1.0, 0.0, 0.0], [0.0, c, -s], [0.0, s, c]]


def ry(t):
    s, c = math.sin(t), math.cos(t)
    return [[c, 0.0, s], [0.0, 1.0, 0.0], [-s, 0.0, c]]


def rz(t):
    s, c = math.sin(t), math.cos(t)
    return [[c, -s, 0.0], [s, c, 0.0], [0.0, 0.0, 1.0]]


def matmul(a, b):
    return [[(a[i][0] * b[0][j] + a[i][1] * b[1][j]) + a[i][2] * b[2][j] for j in range(3)] for i in range(3)]


AXES = {"x": rx, "y": ry, "z": rz}
ANGLES = [(0.3, -1.2, 2.5), (1e-3, 0.7, -0.4), (math.pi, math.pi / 2, -math.pi / 3)]


def same_bits(a, b):
    a = np.asarray(a, dtype=np.float64)
    b = np.asarray(b, dtype=np.float64)
    return a.shape == b.shape and a.tobytes() == b.tobytes()


@pytest.mark.parametrize("axes", ["xyz", "yzx", "zxy", "xzy", "zyx", "yxz"])
@pytest.mark.parametrize("angles", ANGLES)
def test_euler_helpers_bit_exact(axes, angles):
    f = [AXES[a](t) for a, t in zip(axes, angles)]
    expected = matmul(matmul(f[0], f[1]), f[2])
    got = getattr(g, "get_rotation_matrix_from_" + axes)(angles)
    assert got.dtype == np.float64 and got.shape == (3, 3) and got.flags.c_contiguous
    assert same_bits(got, expected)


def test_xyz_closed_form_rows():
    a0, a1, a2 = ANGLES[0]
    c0, s0, c1, s1, c2, s2 = (math.cos(a0), math.sin(a0), math.cos(a1), math.sin(a1), math.cos(a2), math.sin(a2))
    expected = [
        [c1 * c2, -(c1 * s2), s1],
        [c2 * (s0 * s1) + s2 * c0, c2 * c0 - (s0 * s1) * s2, -(c1 * s0)],
        [s2 * s0 - (c0 * s1) * c2, c2 * s0 + (c0 * s1) * s2, c1 * c0],
    ]
    assert same_bits(g.get_rotation_matrix_from_xyz(ANGLES[0]), expected)


def test_first_angle_belongs_to_first_letter():
    t = 0.61
    assert same_bits(g.get_rotation_matrix_from_xyz([0, 0, t]), rz(t))
    assert same_bits(g.get_rotation_matrix_from_zyx([t, 0, 0]), rz(t))


def axis_angle_reference(r):
    theta = math.sqrt((r[0] * r[0] + r[1] * r[1]) + r[2] * r[2])
    kx, ky, kz = r[0] / theta, r[1] / theta, r[2] / theta
    s, c = math.sin(theta), math.cos(theta)
    t = 1 - c
    return [
        [(t * kx) * kx + c, (t * kx) * ky - kz * s, (t * kx) * kz + ky * s],
        [(t * kx) * ky + kz * s, (t * ky) * ky + c, (t * ky) * kz - kx * s],
        [(t * kx) * kz - ky * s, (t * ky) * kz + kx * s, (t * kz) * kz + c],
    ]


@pytest.mark.parametrize("r", [(0.1, -0.7, 0.3), (2.0, 0.0, 0.0), (1e-6, 2e-6, -3e-6)])
def test_axis_angle_bit_exact(r):
    got = g.get_rotation_matrix_from_axis_angle(r)
    assert same_bits(got, axis_angle_reference(r))
    assert np.allclose(got @ got.T, np.eye(3), atol=1e-12)


@pytest.mark.parametrize("r", [(0, 0, 0), (1e-13, 0, 0), (math.nan, 0, 0)])
def test_axis_angle_identity_cases(r):
    assert same_bits(g.get_rotation_matrix_from_axis_angle(r), np.eye(3))


def quaternion_reference(q):
    w, x, y, z = q
    n = math.sqrt((y * y + w * w) + (x * x + z * z))
    w, x, y, z = w / n, x / n, y / n, z / n
    X, Y, Z = 2 * x, 2 * y, 2 * z
    return [
        [1 - (Y * y + z * Z), x * Y - Z * w, x * Z + Y * w],
        [x * Y + Z * w, 1 - (z * Z + x * X), y * Z - w * X],
        [x * Z - Y * w, w * X + y * Z, 1 - (x * X + Y * y)],
    ]


@pytest.mark.parametrize("q", [(0.9, 0.1, -0.3, 0.2), (1, 2, 3, 4), (0, 0, 0, 1)])
def test_quaternion_bit_exact(q):
    assert same_bits(g.get_rotation_matrix_from_quaternion(q), quaternion_reference(q))


def test_quaternion_inputs_and_errors():
    assert same_bits(g.get_rotation_matrix_from_quaternion((2, 0, 0, 0)), np.eye(3))
    assert same_bits(g.get_rotation_matrix_from_quaternion(np.array([[1.0, 0], [0, 0]])), np.eye(3))
    assert same_bits(g.get_rotation_matrix_from_quaternion(rotation=np.array([1, 0, 0, 0])), np.eye(3))
    for bad in [(0, 0, 0, 0), (math.inf, 0, 0, 0), (math.nan, 1, 0, 0), (1e200, 1e200, 0, 0)]:
        with pytest.raises(ValueError, match="^quaternion must be finite and have non-zero norm$"):
            g.get_rotation_matrix_from_quaternion(bad)
    with pytest.raises(TypeError, match="^expected 4-vector$"):
        g.get_rotation_matrix_from_quaternion([1, 0, 0])
    with pytest.raises(TypeError, match="^The given array is not contiguous$"):
        g.get_rotation_matrix_from_quaternion(np.arange(8.0)[::2])


@pytest.mark.parametrize(
    "value",
    [[1, 2, 3], (1, 2, 3), np.array([1.0, 2, 3]), np.array([[1.0, 2, 3]]), np.array([[1.0], [2], [3]]),
     np.array([1, 2, 3], dtype=np.int64), np.array([1, 2, 3], dtype=np.float32), np.array([[[1.0, 2, 3]]])],
)
def test_v3_accepts(value):
    assert same_bits(g.get_rotation_matrix_from_xyz(value), g.get_rotation_matrix_from_xyz((1.0, 2.0, 3.0)))


def test_v3_fortran_order_reads_memory_order():
    a = np.asfortranarray(np.array([[1.0], [2.0], [3.0]]))
    assert same_bits(g.get_rotation_matrix_from_xyz(a), g.get_rotation_matrix_from_xyz((1.0, 2.0, 3.0)))


@pytest.mark.parametrize(
    "value, message",
    [([1, 2], "^expected 3-vector$"), ([1, 2, 3, 4], "^expected 3-vector$"), ("abc", None),
     (np.arange(6.0)[::2], "^The given array is not contiguous$"), (np.zeros((2, 3)), None), (5, None),
     ([1, "a", 3], None), (None, None)],
)
def test_v3_refuses(value, message):
    with pytest.raises(TypeError, match=message):
        g.get_rotation_matrix_from_xyz(value)


def test_argument_passing_errors():
    with pytest.raises(TypeError):
        g.get_rotation_matrix_from_xyz()
    with pytest.raises(TypeError):
        g.get_rotation_matrix_from_xyz([0, 0, 0], 1)
    with pytest.raises(TypeError):
        g.get_rotation_matrix_from_xyz(angles=[0, 0, 0])
    with pytest.raises(TypeError):
        g.get_rotation_matrix_from_xyz([0, 0, 0], rotation=[0, 0, 0])
    assert same_bits(g.get_rotation_matrix_from_yxz(rotation=[0.5, 0, 0]), ry(0.5))
    assert same_bits(g.Geometry3D.get_rotation_matrix_from_yzx([0.5, 0, 0]), ry(0.5))
