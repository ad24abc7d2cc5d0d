// The abstract geometry bases: Geometry (with the geometry-type constants),
// Geometry3D (with the eight rotation-matrix static methods), Geometry2D and
// MeshBase.
#include "binding/args.h"
#include "binding/convert.h"
#include "binding/types.h"
#include "classes.h"
#include "core/geometry/geometry3d.h"
#include "enums.h"

namespace ombrix::py {

namespace {

PyObject* euler_impl(const char* fname, const char* axes, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static const char* const names[] = {"rotation"};
    PyObject* a[1];
    if (!parse_args(fname, names, 1, 1, args, nargs, kw, a)) return nullptr;
    Vec3 r;
    if (!v3_from_any(a[0], &r)) return nullptr;
    return array_from_m3(rotation_from_euler(axes, r));
}

#define OMBRIX_EULER(axes)                                                                     \
    PyObject* rot_##axes(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) { \
        return euler_impl("get_rotation_matrix_from_" #axes, #axes, args, nargs, kw);         \
    }
OMBRIX_EULER(xyz)
OMBRIX_EULER(yzx)
OMBRIX_EULER(zxy)
OMBRIX_EULER(xzy)
OMBRIX_EULER(zyx)
OMBRIX_EULER(yxz)
#undef OMBRIX_EULER

PyObject* rot_axis_angle(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static const char* const names[] = {"rotation"};
    PyObject* a[1];
    if (!parse_args("get_rotation_matrix_from_axis_angle", names, 1, 1, args, nargs, kw, a)) return nullptr;
    Vec3 r;
    if (!v3_from_any(a[0], &r)) return nullptr;
    return array_from_m3(rotation_from_axis_angle(r));
}

PyObject* rot_quaternion(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static const char* const names[] = {"rotation"};
    PyObject* a[1];
    if (!parse_args("get_rotation_matrix_from_quaternion", names, 1, 1, args, nargs, kw, a)) return nullptr;
    Vec4 q;
    if (!v4_from_any(a[0], &q)) return nullptr;
    Result<Mat3> m = rotation_from_quaternion(q);
    if (!m) {
        PyErr_SetString(PyExc_ValueError, m.error().c_str());
        return nullptr;
    }
    return array_from_m3(*m);
}

PyMethodDef geometry3d_methods[] = {
    OMBRIX_STATIC("get_rotation_matrix_from_xyz", rot_xyz, "get_rotation_matrix_from_xyz(rotation)\n--\n\n"),
    OMBRIX_STATIC("get_rotation_matrix_from_yzx", rot_yzx, "get_rotation_matrix_from_yzx(rotation)\n--\n\n"),
    OMBRIX_STATIC("get_rotation_matrix_from_zxy", rot_zxy, "get_rotation_matrix_from_zxy(rotation)\n--\n\n"),
    OMBRIX_STATIC("get_rotation_matrix_from_xzy", rot_xzy, "get_rotation_matrix_from_xzy(rotation)\n--\n\n"),
    OMBRIX_STATIC("get_rotation_matrix_from_zyx", rot_zyx, "get_rotation_matrix_from_zyx(rotation)\n--\n\n"),
    OMBRIX_STATIC("get_rotation_matrix_from_yxz", rot_yxz, "get_rotation_matrix_from_yxz(rotation)\n--\n\n"),
    OMBRIX_STATIC("get_rotation_matrix_from_axis_angle", rot_axis_angle,
                  "get_rotation_matrix_from_axis_angle(rotation)\n--\n\n"),
    OMBRIX_STATIC("get_rotation_matrix_from_quaternion", rot_quaternion,
                  "get_rotation_matrix_from_quaternion(rotation)\n--\n\n"),
    OMBRIX_END,
};

PyTypeObject* build_geometry() {
    PyTypeObject* gt = geometry_type_type();
    if (!gt) return nullptr;
    PyTypeObject* t = plain_type("ombrix.cpu.pybind.geometry.Geometry", nullptr, nullptr, true, false);
    if (!t) return nullptr;
    static const char* const names[] = {"Unspecified", "PointCloud", "VoxelGrid", "TriangleMesh"};
    static const int32_t values[] = {0, 1, 2, 6};
    for (int i = 0; i < 4; ++i) {
        PyObject* m = new_geometry_type(values[i]);
        if (!m || PyObject_SetAttrString(reinterpret_cast<PyObject*>(t), names[i], m) < 0) {
            Py_XDECREF(m);
            Py_DECREF(t);
            return nullptr;
        }
        Py_DECREF(m);
    }
    if (PyObject_SetAttrString(reinterpret_cast<PyObject*>(t), "Type", reinterpret_cast<PyObject*>(gt)) < 0) {
        Py_DECREF(t);
        return nullptr;
    }
    return t;
}

PyTypeObject* build_geometry3d() {
    PyTypeObject* base = geometry_type();
    if (!base) return nullptr;
    TypeDef d;
    d.name = "ombrix.cpu.pybind.geometry.Geometry3D";
    d.base = base;
    d.subclassable = true;
    d.constructible = false;
    d.slots = {{Py_tp_methods, geometry3d_methods}};
    return make_type(d);
}

PyTypeObject* build_geometry2d() {
    PyTypeObject* base = geometry_type();
    return base ? plain_type("ombrix.cpu.pybind.geometry.Geometry2D", nullptr, base, true, false) : nullptr;
}

PyTypeObject* build_mesh_base() {
    PyTypeObject* base = geometry3d_type();
    return base ? plain_type("ombrix.cpu.pybind.geometry.MeshBase", nullptr, base, true, false) : nullptr;
}

}  // namespace

OMBRIX_TYPE_GETTER(geometry_type, build_geometry)
OMBRIX_TYPE_GETTER(geometry3d_type, build_geometry3d)
OMBRIX_TYPE_GETTER(geometry2d_type, build_geometry2d)
OMBRIX_TYPE_GETTER(mesh_base_type, build_mesh_base)

}  // namespace ombrix::py
