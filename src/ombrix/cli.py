"""The `ombrix` command-line tool: demo, register, info, downsample."""
from __future__ import annotations

import argparse
import json
import os
import sys
import time

import numpy as np


class CliError(Exception):
    """A user-facing failure: printed as one line, exit status 1."""


class UsageError(CliError):
    """Bad command-line arguments: exit status 2."""


class _Parser(argparse.ArgumentParser):
    def error(self, message):  # one line, no usage dump
        raise UsageError(message)


def _progress(quiet: bool):
    def say(msg: str) -> None:
        if not quiet:
            print(f"[ombrix] {msg}", file=sys.stderr, flush=True)

    return say


def _positive(text: str) -> float:
    try:
        v = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not v > 0 or v != v or v == float("inf"):
        raise argparse.ArgumentTypeError(f"must be a positive number: {text!r}")
    return v


def _input_file(path: str) -> str:
    """Checks that `path` is a readable PLY or XYZ file; returns its lower-case extension."""
    if not os.path.exists(path):
        raise CliError(f"no such file: {path}")
    if not os.path.isfile(path) or not os.access(path, os.R_OK):
        raise CliError(f"cannot read file: {path}")
    ext = os.path.splitext(path)[1].lower()
    if ext not in (".ply", ".xyz"):
        raise CliError(f"unsupported file type {ext or '(none)'} for {path}: use .ply or .xyz")
    return ext


def _read_cloud(path: str):
    from ombrix.cpu.pybind import io

    ext = _input_file(path)
    pcd = io.read_point_cloud(path)
    if len(pcd.points) == 0:
        raise CliError(f"no points could be read from {path} (empty or unreadable {ext[1:].upper()} file)")
    return pcd


def _write_cloud(path: str, pcd) -> None:
    from ombrix.cpu.pybind import io

    folder = os.path.dirname(path)
    if folder:
        os.makedirs(folder, exist_ok=True)
    if not io.write_point_cloud(path, pcd):
        raise CliError(f"cannot write {path}")


def _snapshot(path: str, source: np.ndarray, target: np.ndarray, aligned: np.ndarray) -> str:
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return "snapshot skipped: matplotlib is not installed (pip install 'ombrix[plot]')"
    rng = np.random.default_rng(0)

    def sub(a, n=4000):
        return a[rng.choice(len(a), size=min(n, len(a)), replace=False)]

    fig = plt.figure(figsize=(10, 5))
    for i, (title, src) in enumerate([("before", source), ("after", aligned)]):
        ax = fig.add_subplot(1, 2, i + 1, projection="3d")
        t, s = sub(target), sub(src)
        ax.scatter(t[:, 0], t[:, 1], t[:, 2], s=0.5, c="tab:blue", label="target")
        ax.scatter(s[:, 0], s[:, 1], s[:, 2], s=0.5, c="tab:orange", label="source")
        ax.set_title(title)
        ax.set_axis_off()
    fig.legend(*fig.axes[0].get_legend_handles_labels(), loc="lower center")
    fig.savefig(path, dpi=120)
    plt.close(fig)
    return f"snapshot written to {path}"


def _report(result, source, target, truth=None, elapsed=0.0) -> dict:
    from ombrix.pipeline import transformation_error

    out = {
        "transformation": result.transformation.tolist(),
        "ransac_fitness": result.ransac_fitness,
        "icp_fitness": result.icp_fitness,
        "icp_inlier_rmse": result.icp_inlier_rmse,
        "source_points": len(source.points),
        "target_points": len(target.points),
        "steps": [{"name": s.name, "seconds": s.seconds, "detail": s.detail} for s in result.steps],
        "seconds": elapsed,
    }
    if truth is not None:
        rot_err, trans_err = transformation_error(result.transformation, truth)
        out["truth"] = truth.tolist()
        out["rotation_error_degrees"] = rot_err
        out["translation_error"] = trans_err
    return out


def _print_report(rep: dict) -> None:
    for s in rep["steps"]:
        print(f"  {s['name']:<28s} {s['seconds'] * 1000:9.1f} ms   {s['detail']}")
    print("recovered transformation:")
    for row in rep["transformation"]:
        print("  " + "  ".join(f"{v:+.6f}" for v in row))
    if "truth" in rep:
        print("true transformation:")
        for row in rep["truth"]:
            print("  " + "  ".join(f"{v:+.6f}" for v in row))
        print(f"error: rotation {rep['rotation_error_degrees']:.4f} deg, translation {rep['translation_error']:.6f}")
    print(f"fitness {rep['icp_fitness']:.4f}, inlier RMSE {rep['icp_inlier_rmse']:.6f}, total {rep['seconds']:.2f} s")


def _finish_registration(args, source, target, truth, say) -> int:
    from ombrix.cpu.pybind import geometry
    from ombrix.pipeline import register_clouds

    t0 = time.perf_counter()
    result = register_clouds(source, target, args.voxel_size, seed=args.seed, progress=say)
    elapsed = time.perf_counter() - t0
    rep = _report(result, source, target, truth, elapsed)

    src_points = np.asarray(source.points).copy()
    aligned = geometry.PointCloud(source)
    aligned.transform(result.transformation)
    if args.output:
        _write_cloud(os.path.join(args.output, "source_aligned.ply"), aligned)
        _write_cloud(os.path.join(args.output, "target.ply"), target)
        rep["output"] = [os.path.join(args.output, n) for n in ("source_aligned.ply", "target.ply")]
    if args.snapshot:
        rep["snapshot"] = _snapshot(args.snapshot, src_points, np.asarray(target.points),
                                    np.asarray(aligned.points))
    if args.json:
        print(json.dumps(rep, indent=2))
    else:
        _print_report(rep)
        for p in rep.get("output", []):
            print(f"wrote {p}")
        if "snapshot" in rep:
            print(rep["snapshot"])
    return 0


def cmd_demo(args) -> int:
    from ombrix.cpu.pybind import geometry
    from ombrix.demo_data import make_scan_pair

    say = _progress(args.json)
    say(f"generating two partial scans of a procedural object ({args.points} surface samples)")
    src, tgt, truth = make_scan_pair(n=args.points, seed=args.seed)
    source, target = geometry.PointCloud(), geometry.PointCloud()
    source.points, target.points = src, tgt
    if not args.json:
        print(f"source: {len(src)} points, target: {len(tgt)} points, voxel size {args.voxel_size}")
    return _finish_registration(args, source, target, truth, say)


def cmd_register(args) -> int:
    say = _progress(args.json)
    source = _read_cloud(args.source)
    target = _read_cloud(args.target)
    return _finish_registration(args, source, target, None, say)


def cmd_info(args) -> int:
    from ombrix.cpu.pybind import io

    ext = _input_file(args.file)
    kind = io.read_file_geometry_type(args.file)
    info: dict = {"file": args.file, "format": ext[1:], "bytes": os.path.getsize(args.file)}
    if ext == ".ply" and int(kind) & int(io.CONTAINS_TRIANGLES):
        mesh = io.read_triangle_mesh(args.file)
        pts = np.asarray(mesh.vertices)
        info.update(kind="triangle mesh", vertices=len(pts), triangles=len(mesh.triangles),
                    attributes=[n for n, ok in (("vertex_normals", mesh.has_vertex_normals()),
                                                ("vertex_colors", mesh.has_vertex_colors())) if ok])
    else:
        pcd = io.read_point_cloud(args.file)
        pts = np.asarray(pcd.points)
        info.update(kind="point cloud", points=len(pts),
                    attributes=[n for n, ok in (("normals", pcd.has_normals()), ("colors", pcd.has_colors())) if ok])
    if len(pts) == 0:
        raise CliError(f"no geometry could be read from {args.file}")
    info["min_bound"] = np.nanmin(pts, axis=0).tolist()
    info["max_bound"] = np.nanmax(pts, axis=0).tolist()
    if args.json:
        print(json.dumps(info, indent=2))
    else:
        for k, v in info.items():
            print(f"{k:>10s}: {', '.join(v) if isinstance(v, list) and v and isinstance(v[0], str) else v}")
    return 0


def cmd_downsample(args) -> int:
    say = _progress(False)
    pcd = _read_cloud(args.input)
    say(f"down-sampling {len(pcd.points)} points with voxel size {args.voxel_size}")
    t0 = time.perf_counter()
    down = pcd.voxel_down_sample(args.voxel_size)
    dt = time.perf_counter() - t0
    _write_cloud(args.output, down)
    print(f"{len(pcd.points)} -> {len(down.points)} points in {dt * 1000:.1f} ms; wrote {args.output}")
    return 0


def build_parser() -> argparse.ArgumentParser:
    p = _Parser(prog="ombrix", description="3-D point-cloud processing and registration.")
    p.add_argument("--version", action="store_true", help="print the version and exit")
    sub = p.add_subparsers(dest="command", parser_class=_Parser)

    def registration_options(q, voxel_default):
        q.add_argument("--voxel-size", type=_positive, default=voxel_default, help="down-sampling voxel size")
        q.add_argument("--seed", type=int, default=0, help="random seed for RANSAC (and the demo data)")
        q.add_argument("--json", action="store_true", help="print machine-readable JSON results")
        q.add_argument("--snapshot", metavar="PNG", help="render before/after views (needs matplotlib)")

    d = sub.add_parser("demo", help="register two synthetic partial scans with a known motion")
    registration_options(d, 0.05)
    d.add_argument("--points", type=int, default=40000, help="surface samples of the synthetic object")
    d.add_argument("--output", default="ombrix-demo", help="folder for the aligned clouds (PLY)")
    d.set_defaults(func=cmd_demo)

    r = sub.add_parser("register", help="align SOURCE onto TARGET (PLY or XYZ files)")
    r.add_argument("source")
    r.add_argument("target")
    registration_options(r, 0.05)
    r.add_argument("--output", help="folder for the aligned clouds (PLY)")
    r.set_defaults(func=cmd_register)

    i = sub.add_parser("info", help="format, counts, attributes and bounds of a file")
    i.add_argument("file")
    i.add_argument("--json", action="store_true")
    i.set_defaults(func=cmd_info)

    s = sub.add_parser("downsample", help="voxel down-sample a point cloud file")
    s.add_argument("input")
    s.add_argument("output")
    s.add_argument("--voxel-size", type=_positive, required=True)
    s.set_defaults(func=cmd_downsample)
    return p


def main(argv: list[str] | None = None) -> int:
    parser = build_parser()
    try:
        args = parser.parse_args(argv)
        if args.version:
            from ombrix import __version__

            print(__version__)
            return 0
        if not args.command:
            parser.print_help()
            return 2
        return args.func(args)
    except CliError as e:
        print(f"ombrix: error: {e}", file=sys.stderr)
        return 2 if isinstance(e, UsageError) else 1
    except KeyboardInterrupt:
        print("ombrix: interrupted", file=sys.stderr)
        return 130
    except Exception as e:  # a bug or a refused operation: still one line, no traceback
        print(f"ombrix: error: {type(e).__name__}: {e}", file=sys.stderr)
        return 1
