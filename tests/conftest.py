import os
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[1]
SRC = ROOT / "src"
# A developer build (scripts/dev-build.sh) links the extension into src/;
# otherwise the installed package is used.
if not os.environ.get("OMBRIX_NO_SRC") and list((SRC / "ombrix" / "cpu").glob("pybind*.so")):
    sys.path.insert(0, str(SRC))


def run_python(code, threads=None, env=None):
    """Runs `code` in a fresh interpreter (optionally with OMBRIX_NUM_THREADS) and returns its stdout bytes."""
    e = dict(os.environ)
    if str(SRC) in sys.path:
        e["PYTHONPATH"] = str(SRC) + os.pathsep + e.get("PYTHONPATH", "")
    if threads is not None:
        e["OMBRIX_NUM_THREADS"] = str(threads)
    if env:
        e.update(env)
    out = subprocess.run([sys.executable, "-c", code], env=e, capture_output=True, timeout=600)
    if out.returncode != 0:
        raise AssertionError(out.stderr.decode())
    return out.stdout


@pytest.fixture
def pybind():
    import ombrix.cpu.pybind as m

    return m
