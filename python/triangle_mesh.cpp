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
#include "geometry_objects.h"
#include "vectors.h"

namespace ombrix::py {

namespace {

PyTriangleMesh* tm(PyObject* o) { return reinterpret_cast<PyTriangleMesh*>(o); }

PyObject* alloc_mesh(PyTypeObject* type, TriangleMesh&& mesh) {
    if (!type) return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    PyTriangleMesh* p = tm(self);
    new (&p->flag) BorrowFlag();
    new (&p->value) TriangleMesh(std::move(mesh));
    new (&p->shared) SharedBuffers();
    return self;
}

PyObject* tm_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* const kNames[] = {"other"};
    PyObject* a[1];
    if (!parse_tuple_args("TriangleMesh", kNames, 1, 0, args, kwargs, a)) return nullptr;
    if (missing_or_none(a[0])) return alloc_mesh(type, TriangleMesh());
    if (!check_instance(a[0], triangle_mesh_type(), "other")) return nullptr;
    ReadBorrow b(tm(a[0])->flag);
    if (!b) return nullptr;
    return alloc_mesh(type, TriangleMesh(tm(a[0])->value));
}

void tm_dealloc(PyObject* self) {
    PyTriangleMesh* p = tm(self);
    p->shared.~SharedBuffers();
    p->value.~TriangleMesh();
    p->flag.~BorrowFlag();
    PyTypeObject* tp = Py_TYPE(self);
    tp->tp_free(self);
    Py_DECREF(tp);
}

PyObject* tm_repr(PyObject* self) {
    ReadBorrow b(tm(self)->flag);
    if (!b) return nullptr;
    const TriangleMesh& m = tm(self)->value;
    std::string s = "TriangleMesh with " + std::to_string(m.vertices.size()) + " vertices and " +
                    std::to_string(m.triangles.size()) + " triangles.";
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

PyObject* return_self(PyObject* self) {
    Py_INCREF(self);
    return self;
}

// ---- properties ----

std::vector<Vec3>& attribute(PyObject* self, int target) {
    TriangleMesh& m = tm(self)->value;
    switch (target) {
        case kMeshVertices: return m.vertices;
        case kMeshVertexNormals: return m.vertex_normals;
        case kMeshVertexColors: return m.vertex_colors;
        default: return m.triangle_normals;
    }
}

template <int kTarget>
PyObject* get_attr(PyObject* self, void*) {
    return make_view(self, kTarget);
}

template <int kTarget>
int set_attr(PyObject* self, PyObject* value, void*) {
    if (!value) return refuse_delete();
    return assign_into(value, tm(self)->flag, attribute(self, kTarget), tm(self)->shared, kTarget) ? 0 : -1;
}

int set_triangles(PyObject* self, PyObject* value, void*) {
    if (!value) return refuse_delete();
    return assign_into(value, tm(self)->flag, tm(self)->value.triangles, tm(self)->shared, kMeshTriangles) ? 0 : -1;
}

PyGetSetDef tm_getset[] = {
    {"vertices", get_attr<kMeshVertices>, set_attr<kMeshVertices>, nullptr, nullptr},
    {"vertex_normals", get_attr<kMeshVertexNormals>, set_attr<kMeshVertexNormals>, nullptr, nullptr},
    {"vertex_colors", get_attr<kMeshVertexColors>, set_attr<kMeshVertexColors>, nullptr, nullptr},
    {"triangles", get_attr<kMeshTriangles>, set_triangles, nullptr, nullptr},
    {"triangle_normals", get_attr<kMeshTriangleNormals>, set_attr<kMeshTriangleNormals>, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---- copying and queries ----

PyObject* tm_copy(PyObject* self, PyObject*) {
    TriangleMesh copy;
    {
        ReadBorrow b(tm(self)->flag);
        if (!b) return nullptr;
        copy = tm(self)->value;
    }
    return wrap_triangle_mesh(std::move(copy));
}

PyObject* tm_deepcopy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"_memo"};
    PyObject* a[1];
    if (!parse_args("__deepcopy__", kNames, 1, 1, args, nargs, kwnames, a)) return nullptr;
    return tm_copy(self, nullptr);
}

template <class F>
PyObject* query(PyObject* self, F fn) {
    ReadBorrow b(tm(self)->flag);
    if (!b) return nullptr;
    return fn(static_cast<const TriangleMesh&>(tm(self)->value));
}

PyObject* tm_is_empty(PyObject* self, PyObject*) {
    return query(self, [](const TriangleMesh& m) { return PyBool_FromLong(m.vertices.empty()); });
}
PyObject* tm_dimension(PyObject* self, PyObject*) {
    return query(self, [](const TriangleMesh&) { return PyLong_FromLong(3); });
}
PyObject* tm_geometry_type(PyObject* self, PyObject*) {
    return query(self, [](const TriangleMesh&) { return new_geometry_type(6); });
}
PyObject* tm_has_vertices(PyObject* self, PyObject*) {
    return query(self, [](const TriangleMesh& m) { return PyBool_FromLong(m.has_vertices()); });
}
PyObject* tm_has_triangles(PyObject* self, PyObject*) {
    return query(self, [](const TriangleMesh& m) { return PyBool_FromLong(m.has_triangles()); });
}
PyObject* tm_has_vertex_normals(PyObject* self, PyObject*) {
    return query(self, [](const TriangleMesh& m) { return PyBool_FromLong(m.has_vertex_normals()); });
}
PyObject* tm_has_vertex_colors(PyObject* self, PyObject*) {
    return query(self, [](const TriangleMesh& m) { return PyBool_FromLong(m.has_vertex_colors()); });
}
PyObject* tm_has_triangle_normals(PyObject* self, PyObject*) {
    return query(self, [](const TriangleMesh& m) { return PyBool_FromLong(m.has_triangle_normals()); });
}
PyObject* tm_min_bound(PyObject* self, PyObject*) {
    return query(self, [](const TriangleMesh& m) { return array_from_v3(min_bound_of(m.vertices)); });
}
PyObject* tm_max_bound(PyObject* self, PyObject*) {
    return query(self, [](const TriangleMesh& m) { return array_from_v3(max_bound_of(m.vertices)); });
}
PyObject* tm_center(PyObject* self, PyObject*) {
    return query(self, [](const TriangleMesh& m) { return array_from_v3(mean_of(m.vertices)); });
}

// Spans the vertices (NaN components ignored) by the two-bound construction.
PyObject* tm_axis_aligned_bounding_box(PyObject* self, PyObject*) {
    return query(self, [](const TriangleMesh& m) {
        return wrap_axis_aligned_bounding_box(
            AxisAlignedBoundingBox::from_bounds(min_bound_of(m.vertices), max_bound_of(m.vertices)));
    });
}

// ---- modifiers ----

PyObject* tm_clear(PyObject* self, PyObject*) {
    WriteBorrow b(tm(self)->flag);
    if (!b) return nullptr;
    ombrix::clear(tm(self)->value);  // buffers are kept: shared arrays stay valid
    return return_self(self);
}

PyObject* tm_normalize_normals(PyObject* self, PyObject*) {
    WriteBorrow b(tm(self)->flag);
    if (!b) return nullptr;
    ombrix::normalize_normals(tm(self)->value);
    return return_self(self);
}

PyObject* tm_paint_uniform_color(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"color"};
    PyObject* a[1];
    if (!parse_args("paint_uniform_color", kNames, 1, 1, args, nargs, kwnames, a)) return nullptr;
    Vec3 color;
    if (!v3_from_any(a[0], &color)) return nullptr;
    WriteBorrow b(tm(self)->flag);
    if (!b) return nullptr;
    TriangleMesh& m = tm(self)->value;
    tm(self)->shared.reserve(kMeshVertexColors, m.vertex_colors, m.vertices.size());
    ombrix::paint_uniform_color(m, color);
    return return_self(self);
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
    WriteBorrow b(tm(self)->flag);
    if (!b) return nullptr;
    reserve_normals(tm(self), false);
    ombrix::compute_triangle_normals(tm(self)->value, normalized);
    return return_self(self);
}

PyObject* tm_compute_vertex_normals(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    bool normalized;
    if (!parse_normalized("compute_vertex_normals", args, nargs, kwnames, &normalized)) return nullptr;
    WriteBorrow b(tm(self)->flag);
    if (!b) return nullptr;
    reserve_normals(tm(self), true);
    ombrix::compute_vertex_normals(tm(self)->value, normalized);
    return return_self(self);
}

PyObject* tm_translate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"translation", "relative"};
    PyObject* a[2];
    if (!parse_args("translate", kNames, 2, 1, args, nargs, kwnames, a)) return nullptr;
    Vec3 t;
    bool relative = true;
    if (!v3_from_any(a[0], &t)) return nullptr;
    if (a[1] && !to_bool(a[1], "relative", &relative)) return nullptr;
    WriteBorrow b(tm(self)->flag);
    if (!b) return nullptr;
    ombrix::translate(tm(self)->value, t, relative);
    return return_self(self);
}

PyObject* tm_scale(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"scale", "center"};
    PyObject* a[2];
    if (!parse_args("scale", kNames, 2, 2, args, nargs, kwnames, a)) return nullptr;
    double s;
    Vec3 center;
    if (!to_double(a[0], "scale", &s) || !v3_from_any(a[1], &center)) return nullptr;
    WriteBorrow b(tm(self)->flag);
    if (!b) return nullptr;
    ombrix::scale(tm(self)->value, s, center);
    return return_self(self);
}

PyObject* tm_rotate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"r", "center"};
    PyObject* a[2];
    if (!parse_args("rotate", kNames, 2, 1, args, nargs, kwnames, a)) return nullptr;
    Mat3 r;
    Vec3 center{};
    const bool given = !missing_or_none(a[1]);
    if (!m3_from_any(a[0], &r)) return nullptr;
    if (given && !v3_from_any(a[1], &center)) return nullptr;
    WriteBorrow b(tm(self)->flag);
    if (!b) return nullptr;
    TriangleMesh& m = tm(self)->value;
    if (!given) center = mean_of(m.vertices);
    ombrix::rotate(m, r, center);
    return return_self(self);
}

PyObject* tm_transform(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"transformation"};
    PyObject* a[1];
    if (!parse_args("transform", kNames, 1, 1, args, nargs, kwnames, a)) return nullptr;
    Mat4 t;
    if (!m4_from_any(a[0], &t)) return nullptr;
    WriteBorrow b(tm(self)->flag);
    if (!b) return nullptr;
    ombrix::transform(tm(self)->value, t);
    return return_self(self);
}

PyMethodDef tm_methods[] = {
    OMBRIX_NOARGS("__copy__", tm_copy, "__copy__($self)\n--\n\n"),
    OMBRIX_METHOD("__deepcopy__", tm_deepcopy, "__deepcopy__($self, _memo)\n--\n\n"),
    OMBRIX_NOARGS("clear", tm_clear, "clear($self)\n--\n\n"),
    OMBRIX_NOARGS("is_empty", tm_is_empty, "is_empty($self)\n--\n\n"),
    OMBRIX_NOARGS("dimension", tm_dimension, "dimension($self)\n--\n\n"),
    OMBRIX_NOARGS("get_geometry_type", tm_geometry_type, "get_geometry_type($self)\n--\n\n"),
    OMBRIX_NOARGS("has_vertices", tm_has_vertices, "has_vertices($self)\n--\n\n"),
    OMBRIX_NOARGS("has_triangles", tm_has_triangles, "has_triangles($self)\n--\n\n"),
    OMBRIX_NOARGS("has_vertex_normals", tm_has_vertex_normals, "has_vertex_normals($self)\n--\n\n"),
    OMBRIX_NOARGS("has_vertex_colors", tm_has_vertex_colors, "has_vertex_colors($self)\n--\n\n"),
    OMBRIX_NOARGS("has_triangle_normals", tm_has_triangle_normals, "has_triangle_normals($self)\n--\n\n"),
    OMBRIX_NOARGS("get_min_bound", tm_min_bound, "get_min_bound($self)\n--\n\n"),
    OMBRIX_NOARGS("get_max_bound", tm_max_bound, "get_max_bound($self)\n--\n\n"),
    OMBRIX_NOARGS("get_center", tm_center, "get_center($self)\n--\n\n"),
    OMBRIX_NOARGS("get_axis_aligned_bounding_box", tm_axis_aligned_bounding_box,
                  "get_axis_aligned_bounding_box($self)\n--\n\n"),
    OMBRIX_METHOD("translate", tm_translate, "translate($self, translation, relative=True)\n--\n\n"),
    OMBRIX_METHOD("scale", tm_scale, "scale($self, scale, center)\n--\n\n"),
    OMBRIX_METHOD("rotate", tm_rotate, "rotate($self, r, center=None)\n--\n\n"),
    OMBRIX_METHOD("transform", tm_transform, "transform($self, transformation)\n--\n\n"),
    OMBRIX_NOARGS("normalize_normals", tm_normalize_normals, "normalize_normals($self)\n--\n\n"),
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
        {Py_tp_dealloc, reinterpret_cast<void*>(tm_dealloc)},
        {Py_tp_repr, reinterpret_cast<void*>(tm_repr)},
        {Py_tp_methods, tm_methods},
        {Py_tp_getset, tm_getset},
    };
    return make_type(d);
}

}  // namespace

OMBRIX_TYPE_GETTER(triangle_mesh_type, build_triangle_mesh_type)

PyObject* wrap_triangle_mesh(TriangleMesh&& mesh) { return alloc_mesh(triangle_mesh_type(), std::move(mesh)); }

}  // namespace ombrix::py
