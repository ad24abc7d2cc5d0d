import sys

import pytest

import ombrix.cpu.pybind as m
from ombrix.cpu.pybind import geometry, io, utility
from ombrix.cpu.pybind.pipelines import registration


def test_version_and_tree():
    assert m.__version__ == "2.1.0"
    assert geometry.__name__ == "geometry"
    for key in ["geometry", "utility", "utility.random", "io", "pipelines", "pipelines.registration"]:
        assert "ombrix.cpu.pybind." + key in sys.modules
    assert m.__all__ == ["geometry", "utility", "io", "pipelines", "__version__"]
