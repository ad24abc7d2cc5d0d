"""Correspondence checkers: the three tests with their boundaries, validation, classes, reprs and copies."""
import copy
import math

import numpy as np
import pytest

from ombrix.cpu.pybind import geometry as g
from ombrix.cpu.pybind import utility as u
from ombrix.cpu.pybind.pipelines import registration as reg
from conftest import cloud, pairs

EDGE = reg.CorrespondenceCheckerBasedOnEdgeLength
DIST = reg.CorrespondenceCheckerBasedOnDistance
NORMAL = reg.CorrespondenceCheckerBasedOnNormal


def translation(x, y, z):
    t = np.eye(4)
    t[:3, 3] = [x, y, z]
    return t


def rot_z(a):
    t = np.eye(4)
    t[:2, :2] = [[math.cos(a), -math.sin(a)], [math.sin(a), math.cos(a)]]
    return t


@pytest.mark.parametrize(
    "threshold, t, expected",
    [
        (5.0, np.eye(4), True),  # exactly at the threshold passes
        (4.999, np.eye(4), False),
        (-5.0, np.eye(4), True),  # the threshold is squared
        (0.0, translation(3, 4, 0), True),  # the transformation moves the source onto the target
        (0.5, translation(3, 4, 0.6), False),
    ],
)
def test_distance_checker(threshold, t, expected):
    src = cloud([[0, 0, 0], [1, 1, 1]])
    tgt = cloud([[3, 4, 0], [4, 5, 1]])
    assert DIST(threshold).Check(src, tgt, pairs([[0, 0], [1, 1]]), t) is expected


def test_distance_checker_ignores_last_row_and_nan():
    t = np.eye(4)
    t[3] = [5, 5, 5, 0]  # no projective division
    assert DIST(0.1).Check(cloud([[1, 2, 3]]), cloud([[1, 2, 3]]), pairs([[0, 0]]), t) is True
    assert DIST(0.1).Check(cloud([[math.nan, 0, 0]]), cloud([[1, 2, 3]]), pairs([[0, 0]]), np.eye(4)) is True
    assert DIST(0.1).Check(cloud([[0, 0, 0]]), cloud([[1, 2, 3]]), pairs([]), np.eye(4)) is True


def test_edge_length_checker():
    src = cloud([[0, 0, 0], [1, 0, 0], [0, 2, 0]])
    same = cloud([[5, 5, 5], [5, 6, 5], [7, 5, 5]])  # same edge lengths, other placement
    c = pairs([[0, 0], [1, 1], [2, 2]])
    assert EDGE(0.9).Check(src, same, c, np.eye(4)) is True
    assert EDGE(1.0).Check(src, same, c, np.eye(4)) is True
    # Edge 0-1 is 1 in the source and 0.9 in the target: similarity 0.9 passes only at 0.9 or below.
    shorter = cloud([[0, 0, 0], [0.9, 0, 0], [0, 2, 0]])
    assert EDGE(0.89).Check(src, shorter, c, np.eye(4)) is True
    assert EDGE(0.95).Check(src, shorter, c, np.eye(4)) is False
    assert EDGE(0.95).Check(shorter, src, c, np.eye(4)) is False  # symmetric
    assert EDGE(0.0).Check(src, cloud([[0, 0, 0], [100, 0, 0], [0, 0, 0]]), c, np.eye(4)) is True
    assert EDGE(1.0).Check(src, shorter, pairs([[1, 1]]), np.eye(4)) is True
    assert EDGE(1.0).Check(src, shorter, pairs([]), np.eye(4)) is True


def test_normal_checker():
    n_src = [[1, 0, 0], [0, 1, 0]]
    n_tgt = [[math.cos(0.2), math.sin(0.2), 0], [-math.sin(0.2), math.cos(0.2), 0]]
    src = cloud([[0, 0, 0], [1, 0, 0]], n_src)
    tgt = cloud([[0, 0, 0], [1, 0, 0]], n_tgt)
    c = pairs([[0, 0], [1, 1]])
    assert NORMAL(0.1).Check(src, tgt, c, np.eye(4)) is False
    assert NORMAL(0.25).Check(src, tgt, c, np.eye(4)) is True
    assert NORMAL(0.01).Check(src, tgt, c, rot_z(0.2)) is True  # normals rotated by the transformation
    # Either cloud without (a full set of) normals: nothing is tested.
    assert NORMAL(0.0).Check(cloud([[0, 0, 0], [1, 0, 0]]), tgt, c, np.eye(4)) is True
    assert NORMAL(0.0).Check(src, cloud([[0, 0, 0], [1, 0, 0]], n_tgt[:1]), c, np.eye(4)) is True


@pytest.mark.parametrize("checker", [EDGE(), DIST(1.0), NORMAL(0.5)])
@pytest.mark.parametrize(
    "corr, message",
    [
        ([[0, 0], [3, 0]], "correspondence 1 source index 3 is out of bounds for 3 points"),
        ([[0, 2]], "correspondence 0 target index 2 is out of bounds for 2 points"),
        ([[-2, 0]], "correspondence 0 has negative source index -2"),
    ],
)
def test_check_validates_pairs(checker, corr, message):
    src = cloud([[0, 0, 0], [1, 0, 0], [2, 0, 0]], [[1, 0, 0]] * 3)
    tgt = cloud([[0, 0, 0], [1, 0, 0]], [[1, 0, 0]] * 2)
    with pytest.raises(ValueError) as e:
        checker.Check(src, tgt, pairs(corr), np.eye(4))
    assert str(e.value) == message


def test_check_argument_types():
    a = cloud([[0, 0, 0]])
    with pytest.raises(TypeError):
        DIST(1.0).Check(a, a, [[0, 0]], np.eye(4))
    with pytest.raises(TypeError):
        DIST(1.0).Check(a, np.zeros((1, 3)), pairs([[0, 0]]), np.eye(4))
    with pytest.raises(TypeError, match="expected 4x4 matrix"):
        DIST(1.0).Check(a, a, pairs([[0, 0]]), np.eye(3))
    assert DIST(1.0).Check(source=a, target=a, corres=pairs([[0, 0]]), transformation=np.eye(4)) is True


@pytest.mark.parametrize(
    "obj, prop, value, text, aligned",
    [
        (EDGE(), "similarity_threshold", 0.9, "CorrespondenceCheckerBasedOnEdgeLength with similarity_threshold=0.900000", False),
        (DIST(0.075), "distance_threshold", 0.075, "CorrespondenceCheckerBasedOnDistance with distance_threshold=0.075000", True),
        (NORMAL(2), "normal_angle_threshold", 2.0, "CorrespondenceCheckerBasedOnNormal with normal_threshold=2.000000", False),
        (DIST(-0.0), "distance_threshold", -0.0, "CorrespondenceCheckerBasedOnDistance with distance_threshold=-0.000000", True),
        (EDGE(-1e-9), "similarity_threshold", -1e-9, "CorrespondenceCheckerBasedOnEdgeLength with similarity_threshold=-0.000000", False),
        # Exact binary ties round to even.
        (NORMAL(0.0078125), "normal_angle_threshold", 0.0078125, "CorrespondenceCheckerBasedOnNormal with normal_threshold=0.007812", False),
        (NORMAL(0.0234375), "normal_angle_threshold", 0.0234375, "CorrespondenceCheckerBasedOnNormal with normal_threshold=0.023438", False),
    ],
)
def test_properties_reprs_and_copies(obj, prop, value, text, aligned):
    got = getattr(obj, prop)
    assert type(got) is float and got.hex() == value.hex()
    assert repr(obj) == text
    assert obj.require_pointcloud_alignment_ is aligned
    for c in (copy.copy(obj), copy.deepcopy(obj), obj.__deepcopy__({})):
        assert type(c) is type(obj) and c is not obj and repr(c) == text
    with pytest.raises(AttributeError):
        setattr(obj, prop, 1.0)
    with pytest.raises(AttributeError):
        obj.require_pointcloud_alignment_ = False


def test_classes():
    with pytest.raises(TypeError):
        reg.CorrespondenceChecker()
    with pytest.raises(TypeError):
        DIST()
    with pytest.raises(TypeError):
        NORMAL("0.5")
    with pytest.raises(TypeError):
        EDGE(None)
    assert math.isnan(DIST(math.nan).distance_threshold)
    assert EDGE(similarity_threshold=1).similarity_threshold == 1.0
    for cls in (EDGE, DIST, NORMAL):
        assert issubclass(cls, reg.CorrespondenceChecker)
        with pytest.raises(TypeError):
            type("X", (cls,), {})
    type("Y", (reg.CorrespondenceChecker,), {})  # the base is subclassable
    assert EDGE.__text_signature__ == "(similarity_threshold=0.9)"
    assert DIST.__text_signature__ == "(distance_threshold)"
    assert NORMAL.__text_signature__ == "(normal_angle_threshold)"
    assert reg.CorrespondenceChecker.Check.__text_signature__ == "($self, source, target, corres, transformation)"
    assert EDGE.__deepcopy__.__text_signature__ == "($self, _m)"
