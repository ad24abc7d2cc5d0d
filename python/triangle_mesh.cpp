// geometry.TriangleMesh: the Python class over the core TriangleMesh record,
// its five attribute views, normal computations and transforms.
#include <string>
#include <vector>

#include "binding/args.h"
#include "binding/convert.h"
#include "binding/errors.h"
#include "binding/types.h"
#include "bounding_box.h"
#include "classes.h"
#include "core/geometry/geometry3d.h"
#include "core/geometry/mesh.h"
#include "enums.h"
#include "geometry_methods.h"
#include "geometry_objects.h"

namespace ombrix::py {

namespace {

using Mesh = PyTriangleMesh;

PyTriangleMesh* tm(PyObject* o) { return reinterpret_cast<PyTriangleMesh*>(o); }

PyObject* tm_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return geom::new_from_other<Mesh, triangle_mesh_type>("TriangleMesh", type, args, kwargs);
}

PyObject* tm_repr(PyObject* self) {
    return read_record<Mesh>(self, [](const TriangleMesh& m) {
        return str_from("TriangleMesh with " + std::to_string(m.vertices.size()) + " vertices and " +
                        std::to_string(m.triangles.size()) + " triangles.");
    });
}

// ---- properties ----

PyGetSetDef tm_getset[] = {
    geom::view_property<Mesh, &TriangleMesh::vertices, kMeshVertices>("vertices"),
    geom::view_property<Mesh, &TriangleMesh::vertex_normals, kMeshVertexNormals>("vertex_normals"),
    geom::view_property<Mesh, &TriangleMesh::vertex_colors, kMeshVertexColors>("vertex_colors"),
    geom::view_property<Mesh, &TriangleMesh::triangles, kMeshTriangles>("triangles"),
    geom::view_property<Mesh, &TriangleMesh::triangle_normals, kMeshTriangleNormals>("triangle_normals"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---- queries ----

PyObject* tm_is_empty(PyObject* self, PyObject*) {
    return read_record<Mesh>(self, [](const TriangleMesh& m) { return PyBool_FromLong(m.vertices.empty()); });
}
PyObject* tm_has_vertices(PyObject* self, PyObject*) {
    return read_record<Mesh>(self, [](const TriangleMesh& m) { return PyBool_FromLong(m.has_vertices()); });
}
PyObject* tm_has_triangles(PyObject* self, PyObject*) {
    return read_record<Mesh>(self, [](const TriangleMesh& m) { return PyBool_FromLong(m.has_triangles()); });
}
PyObject* tm_has_vertex_normals(PyObject* self, PyObject*) {
    return read_record<Mesh>(self, [](const TriangleMesh& m) { return PyBool_FromLong(m.has_vertex_normals()); });
}
PyObject* tm_has_vertex_colors(PyObject* self, PyObject*) {
    return read_record<Mesh>(self, [](const TriangleMesh& m) { return PyBool_FromLong(m.has_vertex_colors()); });
}
PyObject* tm_has_triangle_normals(PyObject* self, PyObject*) {
    return read_record<Mesh>(self, [](const TriangleMesh& m) { return PyBool_FromLong(m.has_triangle_normals()); });
}

// ---- modifiers ----

// The core's mesh operations, as plain functions of the record for the
// shared method templates.
void clear_mesh(TriangleMesh& m) { ombrix::clear(m); }  // buffers are kept: shared arrays stay valid
void normalize_mesh_normals(TriangleMesh& m) { ombrix::normalize_normals(m); }
void translate_mesh(TriangleMesh& m, const Vec3& t, bool relative) { ombrix::translate(m, t, relative); }
void scale_mesh(TriangleMesh& m, double s, const Vec3& center) { ombrix::scale(m, s, center); }
void rotate_mesh(TriangleMesh& m, const Mat3& r, const Vec3* center) {
    ombrix::rotate(m, r, center ? *center : mean_of(m.vertices));
}
void transform_mesh(TriangleMesh& m, const Mat4& t) { ombrix::transform(m, t); }

PyObject* tm_paint_uniform_color(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"color"};
    PyObject* a[1];
    if (!parse_args("paint_uniform_color", kNames, 1, 1, args, nargs, kwnames, a)) return nullptr;
    Vec3 color;
    if (!v3_from_any(a[0], &color)) return nullptr;
    return geom::modify<Mesh>(self, [&](TriangleMesh& m) {
        tm(self)->shared.reserve(kMeshVertexColors, m.vertex_colors, m.vertices.size());
        ombrix::paint_uniform_color(m, color);
    });
}

// The normal computations resize the normal arrays: make room first so that
// exported buffers are retired rather than freed under NumPy arrays.
void reserve_normals(PyTriangleMesh* p, bool vertex_normals) {
    TriangleMesh& m = p->value;
    if (m.vertices.empty() || m.triangles.empty()) return;
    p->shared.reserve(kMeshTriangleNormals, m.triangle_normals, m.triangles.size());
    if (vertex_normals) p->shared.reserve(kMeshVertexNormals, m.vertex_normals, m.vertices.size());
}

bool parse_normalized(const char* fname, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, bool* normalized) {
    static const char* const kNames[] = {"normalized"};
    PyObject* a[1];
    if (!parse_args(fname, kNames, 1, 0, args, nargs, kwnames, a)) return false;
    *normalized = true;
    return !a[0] || to_bool(a[0], "normalized", normalized);
}

PyObject* tm_compute_triangle_normals(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    bool normalized;
    if (!parse_normalized("compute_triangle_normals", args, nargs, kwnames, &normalized)) return nullptr;
    return geom::modify<Mesh>(self, [&](TriangleMesh& m) {
        reserve_normals(tm(self), false);
        ombrix::compute_triangle_normals(m, normalized);
    });
}

PyObject* tm_compute_vertex_normals(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    bool normalized;
    if (!parse_normalized("compute_vertex_normals", args, nargs, kwnames, &normalized)) return nullptr;
    return geom::modify<Mesh>(self, [&](TriangleMesh& m) {
        reserve_normals(tm(self), true);
        ombrix::compute_vertex_normals(m, normalized);
    });
}

PyMethodDef tm_methods[] = {
    geom::copy_def<Mesh, wrap_triangle_mesh>(),
    geom::deepcopy_def<Mesh, wrap_triangle_mesh>(),
    OMBRIX_NOARGS("clear", (geom::modifier<Mesh, clear_mesh>), "clear($self)\n--\n\n"),
    OMBRIX_NOARGS("is_empty", tm_is_empty, "is_empty($self)\n--\n\n"),
    geom::dimension_def<Mesh>(),
    geom::geometry_type_def<Mesh, 6>(),
    OMBRIX_NOARGS("has_vertices", tm_has_vertices, "has_vertices($self)\n--\n\n"),
    OMBRIX_NOARGS("has_triangles", tm_has_triangles, "has_triangles($self)\n--\n\n"),
    OMBRIX_NOARGS("has_vertex_normals", tm_has_vertex_normals, "has_vertex_normals($self)\n--\n\n"),
    OMBRIX_NOARGS("has_vertex_colors", tm_has_vertex_colors, "has_vertex_colors($self)\n--\n\n"),
    OMBRIX_NOARGS("has_triangle_normals", tm_has_triangle_normals, "has_triangle_normals($self)\n--\n\n"),
    OMBRIX_NOARGS("get_min_bound", (geom::min_bound<Mesh, &TriangleMesh::vertices>), "get_min_bound($self)\n--\n\n"),
    OMBRIX_NOARGS("get_max_bound", (geom::max_bound<Mesh, &TriangleMesh::vertices>), "get_max_bound($self)\n--\n\n"),
    OMBRIX_NOARGS("get_center", (geom::center<Mesh, &TriangleMesh::vertices>), "get_center($self)\n--\n\n"),
    OMBRIX_NOARGS("get_axis_aligned_bounding_box", (geom::bounding_box<Mesh, &TriangleMesh::vertices>),
                  "get_axis_aligned_bounding_box($self)\n--\n\n"),
    geom::translate_def<Mesh, translate_mesh>(),
    geom::scale_def<Mesh, scale_mesh>(),
    geom::rotate_def<Mesh, rotate_mesh>(),
    geom::transform_def<Mesh, transform_mesh>(),
    OMBRIX_NOARGS("normalize_normals", (geom::modifier<Mesh, normalize_mesh_normals>),
                  "normalize_normals($self)\n--\n\n"),
    OMBRIX_METHOD("paint_uniform_color", tm_paint_uniform_color, "paint_uniform_color($self, color)\n--\n\n"),
    OMBRIX_METHOD("compute_triangle_normals", tm_compute_triangle_normals,
                  "compute_triangle_normals($self, normalized=True)\n--\n\n"),
    OMBRIX_METHOD("compute_vertex_normals", tm_compute_vertex_normals,
                  "compute_vertex_normals($self, normalized=True)\n--\n\n"),
    OMBRIX_END,
};

PyTypeObject* build_triangle_mesh_type() {
    PyTypeObject* base = mesh_base_type();
    if (!base) return nullptr;
    TypeDef d;
    d.name = "ombrix.cpu.pybind.geometry.TriangleMesh";
    d.doc = "TriangleMesh(other=None)\n--\n\n";
    d.base = base;
    d.subclassable = false;
    d.basicsize = sizeof(PyTriangleMesh);
    d.slots = {
        {Py_tp_new, reinterpret_cast<void*>(tm_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(geom::dealloc_shared<Mesh>)},
        {Py_tp_repr, reinterpret_cast<void*>(tm_repr)},
        {Py_tp_methods, tm_methods},
        {Py_tp_getset, tm_getset},
    };
    return make_type(d);
}

}  // namespace

OMBRIX_TYPE_GETTER(triangle_mesh_type, build_triangle_mesh_type)

PyObject* wrap_triangle_mesh(TriangleMesh&& mesh) {
    return geom::alloc_shared<PyTriangleMesh>(triangle_mesh_type(), std::move(mesh));
}

}  // namespace ombrix::py
