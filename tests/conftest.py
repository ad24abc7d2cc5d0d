import os
import subprocess
import sys
from pathlib import Path

import numpy as np

ROOT = Path(__file__).resolve().parents[1]
SRC = ROOT / "src"
# A developer build (scripts/dev-build.sh) links the extension into src/;
# otherwise the installed package is used.
if not os.environ.get("OMBRIX_NO_SRC") and list((SRC / "ombrix" / "cpu").glob("pybind*.so")):
    sys.path.insert(0, str(SRC))


USING_DEV_BUILD = str(SRC) in sys.path
TESTS = Path(__file__).resolve().parent


def subprocess_env(*extra_paths):
    """Environment for a child interpreter that imports the same ombrix as this one.

    The source tree goes on its path only when it holds a developer build: without
    the extension, src/ombrix/cpu/pybind/ (the stubs) would be taken for the module.
    """
    e = dict(os.environ)
    paths = [str(p) for p in extra_paths] + ([str(SRC)] if USING_DEV_BUILD else [])
    if e.get("PYTHONPATH"):
        paths.append(e["PYTHONPATH"])
    if paths:
        e["PYTHONPATH"] = os.pathsep.join(paths)
    return e


def run_python(code, threads=None, env=None):
    """Runs `code` in a fresh interpreter (optionally with OMBRIX_NUM_THREADS) and returns its stdout bytes."""
    e = subprocess_env()
    if threads is not None:
        e["OMBRIX_NUM_THREADS"] = str(threads)
    if env:
        e.update(env)
    out = subprocess.run([sys.executable, "-c", code], env=e, capture_output=True, timeout=600)
    if out.returncode != 0:
        raise AssertionError(out.stderr.decode())
    return out.stdout


def cloud(points, normals=None, colors=None):
    """A PointCloud from (n, 3)-shaped data (any nesting that reshapes to rows of three)."""
    from ombrix.cpu.pybind import geometry

    pc = geometry.PointCloud()
    pc.points = np.asarray(points, dtype=np.float64).reshape(-1, 3)
    if normals is not None:
        pc.normals = np.asarray(normals, dtype=np.float64).reshape(-1, 3)
    if colors is not None:
        pc.colors = np.asarray(colors, dtype=np.float64).reshape(-1, 3)
    return pc


def pairs(p):
    """A Vector2iVector of (source, target) index pairs."""
    from ombrix.cpu.pybind import utility

    return utility.Vector2iVector(np.asarray(p, dtype=np.int32).reshape(-1, 2))

