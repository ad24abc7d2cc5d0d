"""RegistrationResult, ICPConvergenceCriteria, RANSACConvergenceCriteria, Feature."""
import copy
import inspect
import math

import numpy as np
import pytest

from ombrix.cpu.pybind import utility
from ombrix.cpu.pybind.pipelines import registration as reg


class Floaty:
    def __float__(self):
        return 0.25


class Indexy:
    def __index__(self):
        return 7


# ---------------------------------------------------------------- RegistrationResult


def test_result_defaults_and_repr():
    r = reg.RegistrationResult()
    assert np.array_equal(r.transformation, np.eye(4)) and r.transformation.dtype == np.float64
    assert len(r.correspondence_set) == 0 and isinstance(r.correspondence_set, utility.Vector2iVector)
    assert (r.fitness, r.inlier_rmse) == (0.0, 0.0)
    assert repr(r) == ("RegistrationResult with fitness=0.000000e+00, inlier_rmse=0.000000e+00, "
                       "and correspondence_set size of 0\nAccess transformation to get result.")
    assert str(inspect.signature(reg.RegistrationResult)) == "()"
    with pytest.raises(TypeError):
        reg.RegistrationResult(1)


def test_result_properties():
    r = reg.RegistrationResult()
    t = np.arange(16.0).reshape(4, 4)
    r.transformation = t
    got = r.transformation
    assert np.array_equal(got, t)
    got[0, 0] = 99.0  # a copy: the result is unchanged
    assert r.transformation[0, 0] == 0.0
    r.transformation = np.asfortranarray(t).T  # read by index, any strides
    assert np.array_equal(r.transformation, t.T)
    r.correspondence_set = np.array([[0, 1], [2, 3], [4, 5]], dtype=np.int32)
    r.fitness = Floaty()
    r.inlier_rmse = 3
    assert r.fitness == 0.25 and r.inlier_rmse == 3.0 and isinstance(r.inlier_rmse, float)
    assert repr(r) == ("RegistrationResult with fitness=2.500000e-01, inlier_rmse=3.000000e+00, "
                       "and correspondence_set size of 3\nAccess transformation to get result.")
    cs = r.correspondence_set
    cs.append([9, 9])  # editing the returned copy does not touch the result
    assert len(r.correspondence_set) == 3
    assert np.array_equal(np.asarray(r.correspondence_set), [[0, 1], [2, 3], [4, 5]])
    r.correspondence_set = utility.Vector2iVector([[7, 8]])
    assert np.asarray(r.correspondence_set).tolist() == [[7, 8]]
    r.correspondence_set = [[1, 2], [3, 4]]
    assert np.asarray(r.correspondence_set).tolist() == [[1, 2], [3, 4]]


@pytest.mark.parametrize("name, value, exc", [
    ("transformation", np.eye(3), TypeError),
    ("transformation", [[1.0] * 4] * 4, TypeError),
    ("transformation", np.eye(4, dtype=np.int64), TypeError),
    ("correspondence_set", np.zeros((2, 3), dtype=np.int32), TypeError),
    ("fitness", "x", TypeError),
    ("inlier_rmse", None, TypeError),
])
def test_result_setter_errors(name, value, exc):
    r = reg.RegistrationResult()
    r.correspondence_set = [[1, 1]]
    before = (r.transformation.tobytes(), np.asarray(r.correspondence_set).tobytes(), r.fitness, r.inlier_rmse)
    with pytest.raises(exc):
        setattr(r, name, value)
    assert before == (r.transformation.tobytes(), np.asarray(r.correspondence_set).tobytes(), r.fitness, r.inlier_rmse)


@pytest.mark.parametrize("name", ["transformation", "correspondence_set", "fitness", "inlier_rmse"])
def test_result_delete_refused(name):
    with pytest.raises(AttributeError):
        delattr(reg.RegistrationResult(), name)


@pytest.mark.parametrize("copier", [copy.copy, copy.deepcopy, lambda r: r.__copy__(), lambda r: r.__deepcopy__(None)])
def test_result_copies_are_independent(copier):
    r = reg.RegistrationResult()
    r.correspondence_set = [[1, 2]]
    r.fitness = 0.5
    r.transformation = np.full((4, 4), 2.0)
    c = copier(r)
    assert type(c) is reg.RegistrationResult and c is not r
    assert (c.fitness, np.asarray(c.correspondence_set).tolist()) == (0.5, [[1, 2]])
    assert np.array_equal(c.transformation, r.transformation)
    c.correspondence_set = [[5, 6], [7, 8]]
    c.fitness = 1.0
    assert np.asarray(r.correspondence_set).tolist() == [[1, 2]] and r.fitness == 0.5


# ---------------------------------------------------------------- criteria


def test_icp_criteria():
    c = reg.ICPConvergenceCriteria()
    assert (c.relative_fitness, c.relative_rmse, c.max_iteration) == (1e-6, 1e-6, 30)
    assert repr(c) == "ICPConvergenceCriteria(relative_fitness=1.000000e-06, relative_rmse=1.000000e-06, max_iteration=30)"
    c = reg.ICPConvergenceCriteria(max_iteration=-5, relative_rmse=Floaty(), relative_fitness=2)
    assert repr(c) == "ICPConvergenceCriteria(relative_fitness=2.000000e+00, relative_rmse=2.500000e-01, max_iteration=-5)"
    c.max_iteration = Indexy()
    c.relative_fitness = math.nan
    c.relative_rmse = -math.inf
    assert repr(c) == "ICPConvergenceCriteria(relative_fitness=nan, relative_rmse=-inf, max_iteration=7)"
    with pytest.raises(TypeError, match="max_iteration"):
        c.max_iteration = 1.5
    with pytest.raises(OverflowError):
        reg.ICPConvergenceCriteria(max_iteration=2**31)
    with pytest.raises(TypeError):
        reg.ICPConvergenceCriteria(None)
    with pytest.raises(AttributeError):
        del c.relative_rmse
    assert reg.ICPConvergenceCriteria.__text_signature__ == \
        "(relative_fitness=1e-6, relative_rmse=1e-6, max_iteration=30)"


def test_ransac_criteria():
    c = reg.RANSACConvergenceCriteria()
    assert (c.max_iteration, c.confidence) == (100000, 0.999)
    assert repr(c) == "RANSACConvergenceCriteria(max_iteration=100000, confidence=9.990000e-01)"
    c = reg.RANSACConvergenceCriteria(5, 1e-300)
    assert repr(c) == "RANSACConvergenceCriteria(max_iteration=5, confidence=1.000000e-300)"
    c.confidence = 2
    c.max_iteration = -(2**31)
    assert repr(c) == "RANSACConvergenceCriteria(max_iteration=-2147483648, confidence=2.000000e+00)"
    with pytest.raises(TypeError, match="confidence"):
        c.confidence = "0.5"
    with pytest.raises(TypeError):
        reg.RANSACConvergenceCriteria(1, 2, 3)
    assert str(inspect.signature(reg.RANSACConvergenceCriteria)) == "(max_iteration=100000, confidence=0.999)"


@pytest.mark.parametrize("cls", [reg.ICPConvergenceCriteria, reg.RANSACConvergenceCriteria])
def test_criteria_copies(cls):
    c = cls(max_iteration=11)
    for d in (copy.copy(c), copy.deepcopy(c)):
        assert type(d) is cls and d.max_iteration == 11
        d.max_iteration = 12
        assert c.max_iteration == 11


# ---------------------------------------------------------------- Feature


def test_feature_empty_and_resize():
    f = reg.Feature()
    assert (f.dimension(), f.num()) == (0, 0) and f.data.shape == (0, 0)
    assert repr(f) == "Feature class with dimension = 0 and num = 0\nAccess its data via data member."
    assert f.resize(33, 0) is None
    assert (f.dimension(), f.num(), f.data.shape) == (33, 0, (33, 0))
    f.resize(3, 4)
    assert np.array_equal(f.data, np.zeros((3, 4))) and f.data.dtype == np.float64
    assert repr(f) == "Feature class with dimension = 3 and num = 4\nAccess its data via data member."
    assert str(inspect.signature(reg.Feature)) == "(other=None)"
    assert reg.Feature.resize.__text_signature__ == "($self, dim, n)"


@pytest.mark.parametrize("dim, n, message", [(-1, 5, "dim must be non-negative"), (-1, -1, "dim must be non-negative"),
                                             (5, -1, "n must be non-negative"),
                                             (2**30, 2**30, "feature dimensions are too large")])
def test_feature_resize_errors(dim, n, message):
    f = reg.Feature()
    f.data = np.ones((2, 2))
    with pytest.raises(ValueError, match=f"^{message}$"):
        f.resize(dim, n)
    assert np.array_equal(f.data, np.ones((2, 2)))


def test_feature_resize_conversion_errors():
    f = reg.Feature()
    with pytest.raises(TypeError):
        f.resize(1.0, 2)
    with pytest.raises(OverflowError):
        f.resize(2**31, 1)


def test_feature_data_roundtrip():
    f = reg.Feature()
    a = np.arange(6.0).reshape(2, 3)
    f.data = a
    assert np.array_equal(f.data, a) and (f.num(), f.dimension()) == (3, 2)
    got = f.data
    got[0, 0] = 50.0  # a copy
    assert f.data[0, 0] == 0.0
    # Strided and Fortran-ordered arrays are read by index.
    b = np.arange(24.0).reshape(4, 6)[::2, ::-2]
    f.data = b
    assert np.array_equal(f.data, b)
    f.data = np.asfortranarray(a)
    assert np.array_equal(f.data, a)
    # Each point's vector (a column) feeds a KDTreeFlann as one point.
    from ombrix.cpu.pybind import geometry
    k, idx, dist = geometry.KDTreeFlann(f).search_knn_vector_xd(np.array([1.0, 4.0]), 1)
    assert (k, list(idx), list(dist)) == (1, [1], [0.0])


@pytest.mark.parametrize("value", [[[1.0, 2.0]], np.ones(3), np.ones((2, 2, 2)), np.ones((2, 2), dtype=np.float32),
                                   np.ones((2, 2), dtype=np.int64), None])
def test_feature_data_type_errors(value):
    f = reg.Feature()
    f.resize(1, 1)
    with pytest.raises(TypeError):
        f.data = value
    assert (f.dimension(), f.num()) == (1, 1)


def test_feature_data_delete_refused():
    # (NumPy cannot describe a float64 array of 2**60 or more elements, so the
    # size limit of the setter is only reachable through resize.)
    f = reg.Feature()
    with pytest.raises(AttributeError):
        del f.data


def test_feature_copies():
    f = reg.Feature()
    f.data = np.arange(4.0).reshape(2, 2)
    for c in (reg.Feature(f), reg.Feature(other=f), copy.copy(f), copy.deepcopy(f), f.__deepcopy__({})):
        assert type(c) is reg.Feature and np.array_equal(c.data, f.data)
        c.resize(1, 1)
        assert f.data.shape == (2, 2)
    assert reg.Feature(None).data.shape == (0, 0)
    with pytest.raises(TypeError):
        reg.Feature(np.zeros((2, 2)))
    with pytest.raises(TypeError):
        reg.Feature(reg.RegistrationResult())


def test_classes_are_final():
    for cls in (reg.RegistrationResult, reg.ICPConvergenceCriteria, reg.RANSACConvergenceCriteria, reg.Feature):
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})
        assert cls.__module__ == "ombrix.cpu.pybind.pipelines.registration"


@pytest.mark.skipif("libasan" in __import__("os").environ.get("LD_PRELOAD", ""),
                    reason="the sanitizer's allocator aborts on impossible allocations")
def test_feature_resize_out_of_memory_is_memory_error():
    # Below the 2**60 element limit but far beyond any address space.
    f = reg.Feature()
    f.resize(2, 3)
    with pytest.raises(MemoryError):
        f.resize(2**30, 2**29 - 1)
    assert (f.dimension(), f.num()) == (2, 3) and np.array_equal(f.data, np.zeros((2, 3)))
