import copy

import numpy as np
import pytest

from ombrix.cpu.pybind import geometry, utility


def cloud(points):
    p = geometry.PointCloud()
    p.points = np.asarray(points, dtype=np.float64)
    return p


def test_points_view_and_shared_array_write_through():
    p = cloud([[1, 2, 3], [4, 5, 6]])
    a = np.asarray(p.points)
    assert a.base is p and a.flags.writeable and a.shape == (2, 3)
    a[0, 0] = 5
    assert p.points[0].tolist() == [5, 2, 3]
    p.points[1] = [7, 8, 9]
    assert a[1].tolist() == [7, 8, 9]
    item = p.points[0]
    item[0] = 100
    assert a[0, 0] == 5
