import struct
import sys
import weakref

import pytest

import ombrix.cpu.pybind as m
from ombrix.cpu.pybind import geometry, io, utility
from ombrix.cpu.pybind.pipelines import registration

GEOMETRY_ALL = [
    "GeometryType", "Geometry", "Geometry3D", "Geometry2D", "PointCloud", "AxisAlignedBoundingBox",
    "KDTreeSearchParam", "KDTreeSearchParamKNN", "KDTreeSearchParamRadius", "KDTreeSearchParamHybrid",
    "KDTreeFlann", "MeshBase", "TriangleMesh", "Voxel", "VoxelGrid",
    "get_rotation_matrix_from_xyz", "get_rotation_matrix_from_yzx", "get_rotation_matrix_from_zxy",
    "get_rotation_matrix_from_xzy", "get_rotation_matrix_from_zyx", "get_rotation_matrix_from_yxz",
    "get_rotation_matrix_from_axis_angle", "get_rotation_matrix_from_quaternion",
]
UTILITY_ALL = [
    "Vector3dVector", "Vector2dVector", "Vector3iVector", "Vector2iVector", "Vector4iVector",
    "Matrix3dVector", "Matrix4dVector", "IntVector", "DoubleVector", "VerbosityLevel",
    "VerbosityContextManager", "Error", "Warning", "Info", "Debug", "set_verbosity_level",
    "get_verbosity_level", "reset_print_function", "random",
]
IO_ALL = [
    "FileGeometry", "CONTENTS_UNKNOWN", "CONTAINS_POINTS", "CONTAINS_LINES", "CONTAINS_TRIANGLES",
    "read_file_geometry_type", "read_point_cloud", "read_point_cloud_from_bytes", "write_point_cloud",
    "write_point_cloud_to_bytes", "read_triangle_mesh", "write_triangle_mesh",
]
REGISTRATION_ALL = [
    "Feature", "ICPConvergenceCriteria", "RANSACConvergenceCriteria", "TransformationEstimation",
    "TransformationEstimationPointToPoint", "TransformationEstimationPointToPlane", "CorrespondenceChecker",
    "CorrespondenceCheckerBasedOnEdgeLength", "CorrespondenceCheckerBasedOnDistance",
    "CorrespondenceCheckerBasedOnNormal", "RegistrationResult", "compute_fpfh_feature",
    "correspondences_from_features", "evaluate_registration", "registration_icp",
    "registration_ransac_based_on_correspondence", "registration_ransac_based_on_feature_matching",
    "get_information_matrix_from_point_clouds",
]

# (module, class, base, subclassable, constructor text signature or None)
CLASSES = [
    (geometry, "GeometryType", object, False, None),
    (geometry, "Geometry", object, True, None),
    (geometry, "Geometry3D", "Geometry", True, None),
    (geometry, "Geometry2D", "Geometry", True, None),
    (geometry, "PointCloud", "Geometry3D", True, "(other=None)"),
    (geometry, "AxisAlignedBoundingBox", "Geometry3D", False, "(min_bound=None, max_bound=None)"),
    (geometry, "KDTreeSearchParam", object, True, None),
    (geometry, "KDTreeSearchParamKNN", "KDTreeSearchParam", False, "(knn=30)"),
    (geometry, "KDTreeSearchParamRadius", "KDTreeSearchParam", False, "(radius)"),
    (geometry, "KDTreeSearchParamHybrid", "KDTreeSearchParam", False, "(radius, max_nn)"),
    (geometry, "KDTreeFlann", object, False, "(data=None)"),
    (geometry, "MeshBase", "Geometry3D", True, None),
    (geometry, "TriangleMesh", "MeshBase", False, "(other=None)"),
    (geometry, "Voxel", object, False, "(grid_index=None, color=None)"),
    (geometry, "VoxelGrid", "Geometry3D", False, "()"),
    *[(utility, n, object, False, "(arg=None)") for n in UTILITY_ALL[:9]],
    (utility, "VerbosityLevel", object, False, None),
    (utility, "VerbosityContextManager", object, False, "(level)"),
    (io, "FileGeometry", object, False, None),
    (registration, "Feature", object, False, "(other=None)"),
    (registration, "ICPConvergenceCriteria", object, False,
     "(relative_fitness=1e-6, relative_rmse=1e-6, max_iteration=30)"),
    (registration, "RANSACConvergenceCriteria", object, False, "(max_iteration=100000, confidence=0.999)"),
    (registration, "TransformationEstimation", object, True, None),
    (registration, "TransformationEstimationPointToPoint", "TransformationEstimation", False,
     "(with_scaling=False)"),
    (registration, "TransformationEstimationPointToPlane", "TransformationEstimation", False, "()"),
    (registration, "CorrespondenceChecker", object, True, None),
    (registration, "CorrespondenceCheckerBasedOnEdgeLength", "CorrespondenceChecker", False,
     "(similarity_threshold=0.9)"),
    (registration, "CorrespondenceCheckerBasedOnDistance", "CorrespondenceChecker", False,
     "(distance_threshold)"),
    (registration, "CorrespondenceCheckerBasedOnNormal", "CorrespondenceChecker", False,
     "(normal_angle_threshold)"),
    (registration, "RegistrationResult", object, False, "()"),
]

FULL_NAMES = {
    geometry: "ombrix.cpu.pybind.geometry",
    utility: "ombrix.cpu.pybind.utility",
    io: "ombrix.cpu.pybind.io",
    registration: "ombrix.cpu.pybind.pipelines.registration",
}


def test_module_tree_and_sys_modules():
    assert m.__version__ == "2.1.0"
    assert m.__doc__ == ""
    assert m.__all__ == ["geometry", "utility", "io", "pipelines", "__version__"]
    assert geometry.__name__ == "geometry" and registration.__name__ == "registration"
    assert utility.random.__name__ == "random"
    for key in ["geometry", "utility", "utility.random", "io", "pipelines", "pipelines.registration"]:
        assert "ombrix.cpu.pybind." + key in sys.modules
    import ombrix.cpu.pybind.pipelines.registration as reg2
    from ombrix.cpu.pybind.utility import random as rnd

    assert reg2 is registration and rnd is utility.random
    assert m.pipelines.registration is registration


@pytest.mark.parametrize(
    "module, expected",
    [(geometry, GEOMETRY_ALL), (utility, UTILITY_ALL), (io, IO_ALL), (registration, REGISTRATION_ALL)],
)
def test_all_lists_registration_order(module, expected):
    assert module.__all__ == expected
    for name in expected:
        assert hasattr(module, name)


def test_random_submodule_all():
    assert utility.random.__all__ == ["seed"]
    assert m.pipelines.__all__ == ["registration"]


@pytest.mark.parametrize("module, name, base, subclassable, sig", CLASSES, ids=[c[1] for c in CLASSES])
def test_class_table(module, name, base, subclassable, sig):
    cls = getattr(module, name)
    assert cls.__module__ == FULL_NAMES[module]
    assert cls.__name__ == name and cls.__qualname__ == name
    expected_base = base if base is object else getattr(module, base)
    assert cls.__bases__ == (expected_base,)
    assert cls.__text_signature__ == sig
    if sig is None:
        with pytest.raises(TypeError):
            cls()
    if subclassable:
        sub = type("Sub", (cls,), {})
        assert issubclass(sub, cls)
    else:
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})


def test_rotation_functions_are_the_static_methods():
    for name in GEOMETRY_ALL[15:]:
        fn = getattr(geometry, name)
        assert fn is geometry.Geometry3D.__dict__[name].__func__ or fn is getattr(geometry.Geometry3D, name)
        assert getattr(geometry.PointCloud, name) is fn
        assert name not in geometry.PointCloud.__dict__
        assert fn.__text_signature__ == "(rotation)"


def test_geometry_type_constants():
    G = geometry.Geometry
    assert G.Type is geometry.GeometryType
    assert G.PointCloud is G.PointCloud
    assert [k for k in G.__dict__ if k in ("Unspecified", "PointCloud", "VoxelGrid", "TriangleMesh", "Type")] == [
        "Unspecified", "PointCloud", "VoxelGrid", "TriangleMesh", "Type"]
    assert repr(G.TriangleMesh) == "<Type.TriangleMesh: 6>" == str(G.TriangleMesh)
    assert int(G.TriangleMesh) == 6 and G.TriangleMesh.name == "TriangleMesh"
    assert [int(x) for x in (G.Unspecified, G.PointCloud, G.VoxelGrid)] == [0, 1, 2]
    assert not hasattr(geometry.GeometryType, "PointCloud")
    with pytest.raises(AttributeError):
        G.PointCloud.name = "x"


def test_enum_equality_and_ordering():
    G = geometry.Geometry
    assert (G.PointCloud == 1) is False
    assert G.PointCloud != 1
    assert G.PointCloud != G.VoxelGrid
    with pytest.raises(TypeError):
        G.PointCloud < G.VoxelGrid
    with pytest.raises(TypeError):
        G.PointCloud >= G.VoxelGrid
    assert utility.Debug == utility.VerbosityLevel.Debug and utility.Debug is not utility.VerbosityLevel.Debug
    assert hash(utility.Debug) == hash(utility.VerbosityLevel.Debug)
    assert io.CONTAINS_POINTS == io.FileGeometry.CONTAINS_POINTS
    assert repr(io.CONTAINS_TRIANGLES) == "<FileGeometry.CONTAINS_TRIANGLES: 4>"
    assert repr(utility.Warning) == "<VerbosityLevel.Warning: 1>"
    import operator

    assert operator.index(io.CONTAINS_TRIANGLES) == 4
    assert [1, 2, 3, 4, 5][io.CONTAINS_TRIANGLES] == 5
    # Same value, different classes: not equal.
    assert utility.Warning != io.CONTAINS_POINTS
    assert {utility.Info: 1}[utility.VerbosityLevel.Info] == 1


def siphash13(data: bytes) -> int:
    """Independent SipHash-1-3 with a zero key."""
    mask = (1 << 64) - 1

    def rotl(x, b):
        return ((x << b) | (x >> (64 - b))) & mask

    v0, v1, v2, v3 = 0x736F6D6570736575, 0x646F72616E646F6D, 0x6C7967656E657261, 0x7465646279746573

    def sipround():
        nonlocal v0, v1, v2, v3
        v0 = (v0 + v1) & mask; v1 = rotl(v1, 13); v1 ^= v0; v0 = rotl(v0, 32)
        v2 = (v2 + v3) & mask; v3 = rotl(v3, 16); v3 ^= v2
        v0 = (v0 + v3) & mask; v3 = rotl(v3, 21); v3 ^= v0
        v2 = (v2 + v1) & mask; v1 = rotl(v1, 17); v1 ^= v2; v2 = rotl(v2, 32)

    n = len(data)
    full = n - n % 8
    for i in range(0, full, 8):
        mi = int.from_bytes(data[i:i + 8], "little")
        v3 ^= mi
        sipround()
        v0 ^= mi
    b = (n & 0xFF) << 56 | int.from_bytes(data[full:], "little")
    v3 ^= b
    sipround()
    v0 ^= b
    v2 ^= 0xFF
    for _ in range(3):
        sipround()
    h = v0 ^ v1 ^ v2 ^ v3
    h = h - (1 << 64) if h >= 1 << 63 else h
    return -2 if h == -1 else h


@pytest.mark.parametrize(
    "member",
    [geometry.Geometry.Unspecified, geometry.Geometry.TriangleMesh, utility.Debug, utility.Error,
     io.CONTAINS_TRIANGLES, io.CONTENTS_UNKNOWN],
)
def test_enum_hash_is_siphash13(member):
    data = struct.pack("<i", int(member)) + member.name.encode() + b"\xff"
    assert hash(member) == siphash13(data)


def test_siphash_reference_matches_cpython_bytes_hash():
    # CPython hashes bytes with SipHash-1-3; PYTHONHASHSEED=0 makes its key zero.
    import subprocess

    samples = [b"\x01\x00\x00\x00PointCloud\xff", bytes(range(40))]
    out = subprocess.run(
        [sys.executable, "-c", "import sys; print([hash(b) for b in eval(sys.argv[1])])", repr(samples)],
        env={"PYTHONHASHSEED": "0"}, capture_output=True, text=True, check=True,
    ).stdout
    assert eval(out) == [siphash13(b) for b in samples]


def test_instances_have_no_dict_or_weakref():
    pcd = geometry.PointCloud()
    with pytest.raises(TypeError):
        weakref.ref(pcd)
    with pytest.raises(AttributeError):
        pcd.not_an_attribute = 1


def test_subclass_of_point_cloud():
    class C(geometry.PointCloud):
        pass

    c = C()
    assert isinstance(c, geometry.PointCloud) and type(c) is C
    with pytest.raises(TypeError):
        type("D", (geometry.TriangleMesh,), {})


def test_import_is_idempotent():
    import importlib

    assert importlib.import_module("ombrix.cpu.pybind") is m


def test_every_callable_has_a_text_signature():
    missing = []
    for module in (geometry, utility, utility.random, io, registration):
        for name in module.__all__:
            obj = getattr(module, name)
            if isinstance(obj, type):
                for attr, val in vars(obj).items():
                    kind = type(val).__name__
                    if kind in ("method_descriptor", "builtin_function_or_method", "staticmethod", "classmethod"):
                        if getattr(obj, attr).__text_signature__ is None:
                            missing.append(f"{obj.__name__}.{attr}")
            elif callable(obj) and not isinstance(obj, type(sys)):
                if obj.__text_signature__ is None:
                    missing.append(name)
    assert missing == []
