"""The shipped type stubs agree with the runtime module (mypy's stubtest)."""
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import SRC, subprocess_env

pytest.importorskip("mypy")


def package_root():
    import ombrix

    return Path(ombrix.__file__).resolve().parents[1]  # the directory holding the ombrix package


def mypy_env():
    # An installed package is found through site-packages (it ships py.typed);
    # a developer tree is named explicitly.
    root = package_root()
    return subprocess_env() | ({"MYPYPATH": str(root)} if root == SRC else {})


def test_stubs_match_runtime(tmp_path):
    root = package_root()
    assert (root / "ombrix" / "py.typed").exists()
    assert (root / "ombrix" / "cpu" / "pybind" / "geometry.pyi").exists()
    proc = subprocess.run([sys.executable, "-m", "mypy.stubtest", "ombrix.cpu.pybind"], cwd=tmp_path,
                          env=mypy_env(), capture_output=True, text=True, timeout=600)
    assert proc.returncode == 0, proc.stdout + proc.stderr


def test_stubs_type_check_a_typical_script(tmp_path):
    script = tmp_path / "use.py"
    script.write_text(
        "import numpy as np\n"
        "from ombrix.cpu.pybind import geometry, io\n"
        "from ombrix.cpu.pybind.pipelines import registration as reg\n"
        "pcd = geometry.PointCloud()\n"
        "pcd.points = np.zeros((3, 3))\n"
        "n: int = len(pcd.points)\n"
        "box: geometry.AxisAlignedBoundingBox = pcd.get_axis_aligned_bounding_box()\n"
        "ok: bool = io.write_point_cloud('x.ply', pcd)\n"
        "res: reg.RegistrationResult = reg.evaluate_registration(pcd, pcd, 0.1)\n"
        "f: float = res.fitness\n"
        "bad: str = pcd.has_points()\n"
    )
    proc = subprocess.run([sys.executable, "-m", "mypy", "--no-incremental", "--cache-dir=/dev/null",
                           str(script)], cwd=tmp_path, env=mypy_env(), capture_output=True, text=True, timeout=600)
    out = proc.stdout
    # Exactly the one deliberate error: a bool assigned to a str.
    assert "use.py:11: error" in out and out.count(": error:") == 1, out
