"""ombrix: 3-D data processing for point clouds and triangle meshes.

The submodules are those of the extension module ``ombrix.cpu.pybind``:

>>> import ombrix
>>> ombrix.geometry is ombrix.cpu.pybind.geometry
True
"""
import sys as _sys

from ombrix.cpu import pybind as _pybind

geometry = _pybind.geometry
utility = _pybind.utility
io = _pybind.io
pipelines = _pybind.pipelines
__version__ = _pybind.__version__

# `import ombrix.geometry` and friends reach the same module objects.
for _name in ("geometry", "utility", "io", "pipelines"):
    _sys.modules.setdefault(__name__ + "." + _name, getattr(_pybind, _name))
_sys.modules.setdefault(__name__ + ".pipelines.registration", _pybind.pipelines.registration)
_sys.modules.setdefault(__name__ + ".utility.random", _pybind.utility.random)
del _name, _sys

__all__ = ["geometry", "utility", "io", "pipelines", "__version__"]
