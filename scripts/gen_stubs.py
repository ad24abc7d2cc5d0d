#!/usr/bin/env python3
"""Writes the .pyi stubs of ombrix.cpu.pybind from the built module.

Names, classes, bases, parameter names and defaults come from the runtime
module (every callable carries a text signature); the types come from the
tables below. Re-run after adding members:  python scripts/gen_stubs.py
"""
from __future__ import annotations

import sys
import types
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "src"))

import ombrix.cpu.pybind as pb  # noqa: E402

OUT = ROOT / "src" / "ombrix" / "cpu" / "pybind"

ARRAY = "numpy.ndarray"
VEC3 = "ArrayLike"
GEOMS = ("PointCloud", "TriangleMesh", "VoxelGrid", "AxisAlignedBoundingBox")

PARAM_TYPES = {
    "rotation": "ArrayLike", "translation": VEC3, "center": "ArrayLike | None", "relative": "bool",
    "scale": "float", "r": ARRAY, "transformation": ARRAY, "_t": ARRAY, "color": VEC3,
    "filename": "str | os.PathLike[str]", "format": "str", "write_ascii": "bool", "compressed": "bool",
    "print_progress": "bool", "remove_nan_points": "bool", "remove_infinite_points": "bool",
    "enable_post_processing": "bool", "write_vertex_normals": "bool", "write_vertex_colors": "bool",
    "write_triangle_uvs": "bool", "pointcloud": "geometry.PointCloud", "mesh": "geometry.TriangleMesh",
    "bytes": "bytes", "voxel_size": "float", "knn": "int", "radius": "float", "max_nn": "int",
    "max_correspondence_distance": "float", "init": "ArrayLike | None", "ransac_n": "int",
    "mutual_filter": "bool", "mutual_consistency_ratio": "float", "with_scaling": "bool",
    "similarity_threshold": "float", "distance_threshold": "float", "normal_angle_threshold": "float",
    "relative_fitness": "float", "relative_rmse": "float", "max_iteration": "int", "confidence": "float",
    "seed": "int", "verbosity_level": "VerbosityLevel | int", "level": "VerbosityLevel | int",
    "fast_normal_computation": "bool", "k": "int", "lambda": "float", "cos_alpha_tol": "float",
    "orientation_reference": "ArrayLike | None", "camera_location": "ArrayLike | None",
    "search_param": "KDTreeSearchParam", "dtype": "object", "copy": "bool | None", "index": "int",
    "min_bound": "ArrayLike | None", "max_bound": "ArrayLike | None", "grid_index": "ArrayLike | None",
    "_memo": "object", "query": "ArrayLike", "source": "geometry.PointCloud", "target": "geometry.PointCloud",
    "input": "geometry.PointCloud", "source_features": "Feature", "target_features": "Feature",
    "source_feature": "Feature", "target_feature": "Feature", "corres": "utility.Vector2iVector",
    "estimation_method": "TransformationEstimation | None", "criteria": "object | None",
    "checkers": "Sequence[CorrespondenceChecker]", "normalized": "bool",
}
RETURN_TYPES = {
    "is_empty": "bool", "dimension": "int", "has_points": "bool", "has_normals": "bool", "has_colors": "bool",
    "has_vertices": "bool", "has_triangles": "bool", "has_vertex_normals": "bool", "has_vertex_colors": "bool",
    "has_triangle_normals": "bool", "has_voxels": "bool", "get_min_bound": ARRAY, "get_max_bound": ARRAY,
    "get_center": ARRAY, "get_extent": ARRAY, "get_half_extent": ARRAY, "get_box_points": "utility.Vector3dVector",
    "get_max_extent": "float", "volume": "float", "get_print_info": "str", "get_geometry_type": "GeometryType",
    "get_axis_aligned_bounding_box": "AxisAlignedBoundingBox", "voxel_down_sample": "PointCloud",
    "__copy__": "Self", "__deepcopy__": "Self", "__array__": ARRAY, "read_point_cloud": "geometry.PointCloud",
    "read_point_cloud_from_bytes": "geometry.PointCloud", "read_triangle_mesh": "geometry.TriangleMesh",
    "write_point_cloud": "bool", "write_triangle_mesh": "bool", "write_point_cloud_to_bytes": "bytes",
    "read_file_geometry_type": "FileGeometry", "compute_fpfh_feature": "Feature",
    "correspondences_from_features": "utility.Vector2iVector", "evaluate_registration": "RegistrationResult",
    "registration_icp": "RegistrationResult", "registration_ransac_based_on_correspondence": "RegistrationResult",
    "registration_ransac_based_on_feature_matching": "RegistrationResult",
    "get_information_matrix_from_point_clouds": ARRAY, "get_verbosity_level": "VerbosityLevel",
    "set_verbosity_level": "None", "reset_print_function": "None", "seed": "None", "__enter__": "None",
    "__exit__": "None", "compute_rmse": "float", "compute_transformation": ARRAY, "Check": "bool",
    "num": "int", "resize": "None", "count": "int", "append": "None", "extend": "None", "insert": "None",
    "pop": "Any", "remove": "None", "clear": "Self", "set_geometry": "bool", "set_feature": "bool",
    "set_matrix_data": "bool", "get_voxels": "list[Voxel]", "__repr__": "str", "__len__": "int",
    "__bool__": "bool", "__int__": "int", "__index__": "int", "__hash__": "int", "__eq__": "bool",
    "__ne__": "bool", "__setitem__": "None", "create_from_point_cloud": "VoxelGrid",
    "create_from_point_cloud_within_bounds": "VoxelGrid", "create_from_points": "AxisAlignedBoundingBox",
    "get_point_indices_within_bounding_box": "list[int]", "search_knn_vector_3d": "tuple[int, utility.IntVector, utility.DoubleVector]",
    "search_radius_vector_3d": "tuple[int, utility.IntVector, utility.DoubleVector]",
    "search_hybrid_vector_3d": "tuple[int, utility.IntVector, utility.DoubleVector]",
    "search_vector_3d": "tuple[int, utility.IntVector, utility.DoubleVector]",
    "search_knn_vector_xd": "tuple[int, utility.IntVector, utility.DoubleVector]",
    "search_radius_vector_xd": "tuple[int, utility.IntVector, utility.DoubleVector]",
    "search_hybrid_vector_xd": "tuple[int, utility.IntVector, utility.DoubleVector]",
    "search_vector_xd": "tuple[int, utility.IntVector, utility.DoubleVector]", "__delitem__": "None", "__contains__": "bool",
}
NONE_RETURNING = {"estimate_normals", "orient_normals_to_align_with_direction",
                  "orient_normals_towards_camera_location", "orient_normals_consistent_tangent_plane"}
SELF_RETURNING = {"clear", "normalize_normals", "paint_uniform_color", "translate", "scale", "rotate", "transform",
                  "compute_vertex_normals", "compute_triangle_normals"}
PROPERTY_TYPES = {
    "points": "utility.Vector3dVector", "normals": "utility.Vector3dVector", "colors": "utility.Vector3dVector",
    "vertices": "utility.Vector3dVector", "vertex_normals": "utility.Vector3dVector",
    "vertex_colors": "utility.Vector3dVector", "triangle_normals": "utility.Vector3dVector",
    "triangles": "utility.Vector3iVector", "transformation": ARRAY, "correspondence_set": "utility.Vector2iVector",
    "inlier_rmse": "float", "fitness": "float", "relative_fitness": "float", "relative_rmse": "float",
    "max_iteration": "int", "confidence": "float", "data": ARRAY, "dimension": "int", "name": "str",
    "knn": "int", "radius": "float", "max_nn": "int", "min_bound": ARRAY, "max_bound": ARRAY, "color": ARRAY,
    "grid_index": ARRAY, "voxel_size": "float", "origin": ARRAY, "with_scaling": "bool",
    "similarity_threshold": "float", "distance_threshold": "float", "normal_angle_threshold": "float",
    "require_pointcloud_alignment_": "bool",
}
READ_ONLY = {"name"}  # properties without a setter
SLOT_METHODS = {  # slot wrappers worth declaring (others come from object)
    "__len__": "(self, /) -> int", "__getitem__": "(self, key: Any, /) -> Any",
    "__setitem__": "(self, key: Any, value: Any, /) -> None", "__delitem__": "(self, key: Any, /) -> None",
    "__iter__": "(self, /) -> Iterator[Any]", "__contains__": "(self, key: object, /) -> bool",
    "__int__": "(self, /) -> int", "__index__": "(self, /) -> int", "__iadd__": "(self, value: Any, /) -> Self",
    "__add__": "(self, value: Any, /) -> Any", "__bool__": "(self, /) -> bool",
    "__eq__": "(self, value: object, /) -> bool", "__ne__": "(self, value: object, /) -> bool",
    "__hash__": "(self, /) -> int",
}


def module_key(mod: types.ModuleType) -> str:
    return {pb.geometry: "geometry", pb.utility: "utility", pb.io: "io",
            pb.pipelines.registration: "registration"}.get(mod, "")


def text_params(text_signature: str) -> list[tuple[str, str | None]]:
    """(name, default text or None) of each parameter of a text signature such as
    "($self, k, lambda=0.0)". Parsed by hand: inspect refuses a parameter named lambda."""
    inner = text_signature.strip()[1:-1]
    out = []
    for part in (p.strip() for p in inner.split(",")):
        if not part or part == "/":
            continue
        name, _, default = part.partition("=")
        out.append((name.strip().lstrip("$"), default.strip() or None))
    return out


def render_params(params: list[tuple[str, str | None]], method: bool) -> str:
    parts = []
    for i, (pname, default) in enumerate(params):
        if method and i == 0:
            parts.append("self")
            continue
        name = pname if pname != "lambda" else "lambda_"
        t = PARAM_TYPES.get(pname, "Any")
        if default == "None" and "None" not in t and t != "Any":
            t += " | None"
        parts.append(f"{name}: {t}" + (" = ..." if default is not None else ""))
    return ", ".join(parts)


def method_line(name: str, obj, owner: str, indent: str, static: bool = False, function: bool = False) -> list[str]:
    if getattr(obj, "__text_signature__", None) is None:
        return []
    sig = text_params(obj.__text_signature__)
    ret = "Self" if name in SELF_RETURNING else "None" if name in NONE_RETURNING else RETURN_TYPES.get(name, "Any")
    if static:
        ret = RETURN_TYPES.get(name, ARRAY if name.startswith("get_rotation_matrix") else "Any")
        return [f"{indent}@staticmethod", f"{indent}def {name}({render_params(sig, False)}) -> {ret}: ..."]
    return [f"{indent}def {name}({render_params(sig, not function)}) -> {ret}: ..."]


def class_lines(cls: type, mod_key: str) -> list[str]:
    base = cls.__bases__[0]
    base_name = "" if base is object else f"({base.__name__})"
    if base is not object and base.__module__ != cls.__module__:
        base_name = f"({base.__module__.rsplit('.', 1)[-1]}.{base.__name__})"
    out = []
    if not (cls.__flags__ & (1 << 10)):  # Py_TPFLAGS_BASETYPE
        out.append("@final")
    elif cls.__basicsize__ > base.__basicsize__:  # its own instance layout
        out.append("@disjoint_base")
    out.append(f"class {cls.__name__}{base_name}:")
    body = []
    for name, val in cls.__dict__.items():
        if name in ("__doc__", "__module__", "__new__"):
            continue
        if type(val).__name__ == "getset_descriptor":
            if name in ("__dict__", "__weakref__"):
                continue
            t = PROPERTY_TYPES.get(name, "Any")
            body.append(f"    @property\n    def {name}(self) -> {t}: ...")
            if name not in READ_ONLY:
                body.append(f"    @{name}.setter\n    def {name}(self, value: Any) -> None: ...")
        elif isinstance(val, staticmethod) or type(val).__name__ == "staticmethod":
            body += method_line(name, getattr(cls, name), cls.__name__, "    ", static=True)
        elif type(val).__name__ == "method_descriptor":
            body += method_line(name, val, cls.__name__, "    ")
        elif type(val).__name__ == "wrapper_descriptor" and name in SLOT_METHODS:
            body.append(f"    def {name}{SLOT_METHODS[name]}: ...")
        elif isinstance(val, type):
            body.append(f"    {name}: ClassVar[type[{val.__name__}]]")
        elif type(val) in (int, float, str, bool):
            body.append(f"    {name}: ClassVar[{type(val).__name__}]")
        elif type(type(val)).__name__ == "type" and type(val).__module__.startswith("ombrix"):
            body.append(f"    {name}: ClassVar[{type(val).__name__}]")
    init_sig = cls.__text_signature__
    if init_sig is not None:
        params = render_params(text_params(init_sig), False)
        body.insert(0, f"    def __new__(cls{', ' if params else ''}{params}) -> Self: ...")
        if "__init__" in cls.__dict__:
            body.insert(1, f"    def __init__(self{', ' if params else ''}{params}) -> None: ...")
    out += body or ["    ..."]
    return out


HEADER = '''# Generated by scripts/gen_stubs.py from the built extension; edit the generator, not this file.
from __future__ import annotations

import os
from typing import Any, ClassVar, Iterator, Sequence, final

import numpy
from numpy.typing import ArrayLike
from typing_extensions import Self, disjoint_base
'''


def module_stub(mod: types.ModuleType, imports: list[str]) -> str:
    lines = [HEADER] + imports + [""]
    for name in getattr(mod, "__all__", []):
        obj = getattr(mod, name)
        if isinstance(obj, type):
            lines += class_lines(obj, module_key(mod)) + [""]
        elif isinstance(obj, types.ModuleType):
            continue
        elif callable(obj):
            if name.startswith("get_rotation_matrix_from_"):
                lines.append(f"{name} = Geometry3D.{name}")
            else:
                lines += method_line(name, obj, "", "", function=True)
        else:
            lines.append(f"{name}: {type(obj).__name__}")
    if hasattr(mod, "__all__"):
        lines.append(f"__all__ = {list(mod.__all__)!r}")
    return "\n".join(lines) + "\n"


def main() -> None:
    OUT.mkdir(parents=True, exist_ok=True)
    (OUT / "utility").mkdir(exist_ok=True)
    (OUT / "pipelines").mkdir(exist_ok=True)
    rel = "from ombrix.cpu.pybind import geometry, utility"
    files = {
        OUT / "geometry.pyi": module_stub(pb.geometry, ["from ombrix.cpu.pybind import geometry, utility"]),
        OUT / "utility" / "__init__.pyi": module_stub(pb.utility, ["from ombrix.cpu.pybind.utility import random as random"]),
        OUT / "utility" / "random.pyi": module_stub(pb.utility.random, []),
        OUT / "io.pyi": module_stub(pb.io, [rel]),
        OUT / "pipelines" / "registration.pyi": module_stub(
            pb.pipelines.registration,
            [rel, "from ombrix.cpu.pybind.geometry import KDTreeSearchParam"]),
        OUT / "pipelines" / "__init__.pyi": HEADER + "\nfrom ombrix.cpu.pybind.pipelines import registration as registration\n\n__all__ = ['registration']\n",
        OUT / "__init__.pyi": HEADER + "\nfrom ombrix.cpu.pybind import geometry as geometry, io as io, pipelines as pipelines, utility as utility\n\n__version__: str\n__all__ = ['geometry', 'utility', 'io', 'pipelines', '__version__']\n",
    }
    for path, text in files.items():
        path.write_text(text)
        print("wrote", path.relative_to(ROOT))


if __name__ == "__main__":
    main()
