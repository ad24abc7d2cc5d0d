"""The command-line tool: exit codes, one-line errors, JSON output, and the demo end to end."""
import json
import os
import subprocess
import sys

import numpy as np
import pytest

from conftest import subprocess_env


def ombrix(*args, cwd=None):
    env = subprocess_env()
    return subprocess.run([sys.executable, "-m", "ombrix", *args], capture_output=True, text=True, env=env,
                          cwd=cwd, timeout=600)


def assert_one_line_error(proc, code, fragment):
    assert proc.returncode == code, proc.stderr
    lines = proc.stderr.strip().splitlines()
    assert len(lines) == 1 and lines[0].startswith("ombrix: error: "), proc.stderr
    assert fragment in lines[0]
    assert "Traceback" not in proc.stderr


@pytest.mark.parametrize(
    "args, code, fragment",
    [
        (["info", "/no/such/file.ply"], 1, "no such file"),
        (["register", "/no/a.ply", "/no/b.ply"], 1, "no such file"),
        (["downsample", "/no/a.ply", "out.ply", "--voxel-size", "0.1"], 1, "no such file"),
        (["downsample", "a.ply", "b.ply"], 2, "--voxel-size"),
        (["downsample", "a.ply", "b.ply", "--voxel-size", "-1"], 2, "positive"),
        (["demo", "--voxel-size", "abc"], 2, "not a number"),
        (["frobnicate"], 2, "invalid choice"),
    ],
)
def test_errors_are_one_line(args, code, fragment, tmp_path):
    assert_one_line_error(ombrix(*args, cwd=tmp_path), code, fragment)


def test_unreadable_and_unsupported_files(tmp_path):
    bad = tmp_path / "garbage.ply"
    bad.write_bytes(b"not a ply file at all\n")
    assert_one_line_error(ombrix("info", str(bad)), 1, "no geometry")
    assert_one_line_error(ombrix("downsample", str(bad), str(tmp_path / "o.ply"), "--voxel-size", "1"), 1,
                          "no points")
    other = tmp_path / "cloud.obj"
    other.write_text("v 0 0 0\n")
    assert_one_line_error(ombrix("info", str(other)), 1, "unsupported file type")


def test_version():
    proc = ombrix("--version")
    assert proc.returncode == 0 and proc.stdout.strip() == "2.1.0"


def write_xyz(path, pts):
    path.write_text("".join(f"{x:.10f} {y:.10f} {z:.10f}\n" for x, y, z in pts))


def test_info_and_downsample(tmp_path):
    rng = np.random.default_rng(1)
    pts = rng.random((500, 3))
    src = tmp_path / "in.xyz"
    write_xyz(src, pts)
    proc = ombrix("info", str(src), "--json")
    assert proc.returncode == 0, proc.stderr
    info = json.loads(proc.stdout)
    assert info["format"] == "xyz" and info["kind"] == "point cloud" and info["points"] == 500
    assert np.allclose(info["min_bound"], pts.min(axis=0), atol=1e-9)
    assert np.allclose(info["max_bound"], pts.max(axis=0), atol=1e-9)

    out = tmp_path / "sub" / "down.ply"
    proc = ombrix("downsample", str(src), str(out), "--voxel-size", "0.25")
    assert proc.returncode == 0, proc.stderr
    info = json.loads(ombrix("info", str(out), "--json").stdout)
    assert info["format"] == "ply" and 1 <= info["points"] <= 64


def test_demo_recovers_the_motion(tmp_path):
    png = tmp_path / "snap.png"
    proc = ombrix("demo", "--points", "20000", "--json", "--output", str(tmp_path / "out"), "--snapshot", str(png),
                  cwd=tmp_path)
    assert proc.returncode == 0, proc.stderr
    rep = json.loads(proc.stdout)
    # The picture is optional: rendered with matplotlib, or a clear note that it is missing.
    try:
        import matplotlib  # noqa: F401

        assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n" and rep["snapshot"] == f"snapshot written to {png}"
    except ImportError:
        assert not png.exists() and "matplotlib is not installed" in rep["snapshot"]
    assert rep["rotation_error_degrees"] < 1.0 and rep["translation_error"] < 0.02
    assert [s["name"] for s in rep["steps"]] == ["voxel down-sampling", "normal estimation", "FPFH features",
                                                 "RANSAC on feature matches", "point-to-plane ICP"]
    for p in rep["output"]:
        assert os.path.getsize(p) > 0
    # The aligned source written by the demo can be registered again: now nearly the identity.
    proc = ombrix("register", rep["output"][0], rep["output"][1], "--json")
    assert proc.returncode == 0, proc.stderr
    again = np.array(json.loads(proc.stdout)["transformation"])
    assert np.allclose(again, np.eye(4), atol=0.05)


def test_top_level_package_aliases():
    import ombrix
    import ombrix.cpu.pybind as pb

    assert ombrix.geometry is pb.geometry and ombrix.io is pb.io and ombrix.utility is pb.utility
    assert ombrix.pipelines is pb.pipelines and ombrix.__version__ == pb.__version__ == "2.1.0"
    import ombrix.pipelines.registration as reg

    assert reg is pb.pipelines.registration
