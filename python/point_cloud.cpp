// geometry.PointCloud: the Python class over the core PointCloud record, its
// attribute views and the members shared with every 3-D geometry. The
// algorithmic members come from the processing and sampling method tables.
#include <string>
#include <vector>

#include "binding/args.h"
#include "binding/convert.h"
#include "binding/errors.h"
#include "binding/types.h"
#include "classes.h"
#include "core/geometry/geometry3d.h"
#include "enums.h"
#include "geometry_objects.h"
#include "vectors.h"

namespace ombrix::py {

namespace {

PyPointCloud* pc(PyObject* o) { return reinterpret_cast<PyPointCloud*>(o); }

PyObject* alloc_cloud(PyTypeObject* type, PointCloud&& cloud) {
    if (!type) return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    PyPointCloud* p = pc(self);
    new (&p->flag) BorrowFlag();
    new (&p->value) PointCloud(std::move(cloud));
    new (&p->shared) SharedBuffers();
    return self;
}

PyObject* pc_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* const kNames[] = {"other"};
    PyObject* a[1];
    if (!parse_tuple_args("PointCloud", kNames, 1, 0, args, kwargs, a)) return nullptr;
    if (missing_or_none(a[0])) return alloc_cloud(type, PointCloud());
    if (!check_instance(a[0], point_cloud_type(), "other")) return nullptr;
    ReadBorrow b(pc(a[0])->flag);
    if (!b) return nullptr;
    return alloc_cloud(type, PointCloud(pc(a[0])->value));
}

// Construction happens in tp_new; __init__ accepts the same arguments so that
// subclasses may call super().__init__(other).
int pc_init(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const kNames[] = {"other"};
    PyObject* a[1];
    return parse_tuple_args("PointCloud", kNames, 1, 0, args, kwargs, a) ? 0 : -1;
}

void pc_dealloc(PyObject* self) {
    PyPointCloud* p = pc(self);
    p->shared.~SharedBuffers();
    p->value.~PointCloud();
    p->flag.~BorrowFlag();
    PyTypeObject* tp = Py_TYPE(self);
    tp->tp_free(self);
    Py_DECREF(tp);
}

PyObject* pc_repr(PyObject* self) {
    ReadBorrow b(pc(self)->flag);
    if (!b) return nullptr;
    std::string s = "PointCloud with " + std::to_string(pc(self)->value.points.size()) + " points.";
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

PyObject* return_self(PyObject* self) {
    Py_INCREF(self);
    return self;
}

// ---- properties ----

std::vector<Vec3>& attribute(PyObject* self, int target) {
    PointCloud& c = pc(self)->value;
    return target == kPcdPoints ? c.points : target == kPcdNormals ? c.normals : c.colors;
}

template <int kTarget>
PyObject* get_attr(PyObject* self, void*) {
    return make_view(self, kTarget);
}

template <int kTarget>
int set_attr(PyObject* self, PyObject* value, void*) {
    if (!value) return refuse_delete();
    return assign_into(value, pc(self)->flag, attribute(self, kTarget), pc(self)->shared, kTarget) ? 0 : -1;
}

PyGetSetDef pc_getset[] = {
    {"points", get_attr<kPcdPoints>, set_attr<kPcdPoints>, nullptr, nullptr},
    {"normals", get_attr<kPcdNormals>, set_attr<kPcdNormals>, nullptr, nullptr},
    {"colors", get_attr<kPcdColors>, set_attr<kPcdColors>, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---- copying and queries ----

PyObject* pc_copy(PyObject* self, PyObject*) {
    PointCloud copy;
    {
        ReadBorrow b(pc(self)->flag);
        if (!b) return nullptr;
        copy = pc(self)->value;
    }
    return wrap_point_cloud(std::move(copy));
}

PyObject* pc_deepcopy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"_memo"};
    PyObject* a[1];
    if (!parse_args("__deepcopy__", kNames, 1, 1, args, nargs, kwnames, a)) return nullptr;
    return pc_copy(self, nullptr);
}

// Runs `fn(const PointCloud&)` under a read borrow.
template <class F>
PyObject* query(PyObject* self, F fn) {
    ReadBorrow b(pc(self)->flag);
    if (!b) return nullptr;
    return fn(static_cast<const PointCloud&>(pc(self)->value));
}

PyObject* pc_is_empty(PyObject* self, PyObject*) {
    return query(self, [](const PointCloud& c) { return PyBool_FromLong(c.points.empty()); });
}
PyObject* pc_dimension(PyObject* self, PyObject*) {
    return query(self, [](const PointCloud&) { return PyLong_FromLong(3); });
}
PyObject* pc_geometry_type(PyObject* self, PyObject*) {
    return query(self, [](const PointCloud&) { return new_geometry_type(1); });
}
PyObject* pc_has_points(PyObject* self, PyObject*) {
    return query(self, [](const PointCloud& c) { return PyBool_FromLong(c.has_points()); });
}
PyObject* pc_has_normals(PyObject* self, PyObject*) {
    return query(self, [](const PointCloud& c) { return PyBool_FromLong(c.has_normals()); });
}
PyObject* pc_has_colors(PyObject* self, PyObject*) {
    return query(self, [](const PointCloud& c) { return PyBool_FromLong(c.has_colors()); });
}
PyObject* pc_min_bound(PyObject* self, PyObject*) {
    return query(self, [](const PointCloud& c) { return array_from_v3(min_bound_of(c.points)); });
}
PyObject* pc_max_bound(PyObject* self, PyObject*) {
    return query(self, [](const PointCloud& c) { return array_from_v3(max_bound_of(c.points)); });
}
PyObject* pc_center(PyObject* self, PyObject*) {
    return query(self, [](const PointCloud& c) { return array_from_v3(mean_of(c.points)); });
}

// ---- modifiers ----

PyObject* pc_clear(PyObject* self, PyObject*) {
    WriteBorrow b(pc(self)->flag);
    if (!b) return nullptr;
    PointCloud& c = pc(self)->value;
    c.points.clear();  // buffers are kept: shared arrays stay valid
    c.normals.clear();
    c.colors.clear();
    return return_self(self);
}

PyObject* pc_normalize_normals(PyObject* self, PyObject*) {
    WriteBorrow b(pc(self)->flag);
    if (!b) return nullptr;
    for (Vec3& n : pc(self)->value.normals) n = stable_normalize(n, kUnitZFallback);
    return return_self(self);
}

// c <- min(max(c, 0), 1), with NaN and -0 both giving +0.
double clamp01(double c) {
    if (!(c > 0.0)) return 0.0;
    return c > 1.0 ? 1.0 : c;
}

PyObject* pc_paint_uniform_color(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"color"};
    PyObject* a[1];
    if (!parse_args("paint_uniform_color", kNames, 1, 1, args, nargs, kwnames, a)) return nullptr;
    Vec3 color;
    if (!v3_from_any(a[0], &color)) return nullptr;
    for (double& c : color) c = clamp01(c);
    WriteBorrow b(pc(self)->flag);
    if (!b) return nullptr;
    PointCloud& c = pc(self)->value;
    size_t n = c.points.size();
    pc(self)->shared.reserve(kPcdColors, c.colors, n);
    c.colors.assign(n, color);
    return return_self(self);
}

PyObject* pc_translate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"translation", "relative"};
    PyObject* a[2];
    if (!parse_args("translate", kNames, 2, 1, args, nargs, kwnames, a)) return nullptr;
    Vec3 t;
    bool relative = true;
    if (!v3_from_any(a[0], &t)) return nullptr;
    if (a[1] && !to_bool(a[1], "relative", &relative)) return nullptr;
    WriteBorrow b(pc(self)->flag);
    if (!b) return nullptr;
    translate_points(pc(self)->value.points, t, relative);
    return return_self(self);
}

PyObject* pc_scale(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"scale", "center"};
    PyObject* a[2];
    if (!parse_args("scale", kNames, 2, 2, args, nargs, kwnames, a)) return nullptr;
    double s;
    Vec3 center;
    if (!to_double(a[0], "scale", &s) || !v3_from_any(a[1], &center)) return nullptr;
    WriteBorrow b(pc(self)->flag);
    if (!b) return nullptr;
    scale_points(pc(self)->value.points, s, center);
    return return_self(self);
}

PyObject* pc_rotate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"r", "center"};
    PyObject* a[2];
    if (!parse_args("rotate", kNames, 2, 1, args, nargs, kwnames, a)) return nullptr;
    Mat3 r;
    Vec3 center{};
    bool given = !missing_or_none(a[1]);
    if (!m3_from_any(a[0], &r)) return nullptr;
    if (given && !v3_from_any(a[1], &center)) return nullptr;
    WriteBorrow b(pc(self)->flag);
    if (!b) return nullptr;
    PointCloud& c = pc(self)->value;
    if (c.points.empty()) return return_self(self);
    if (!given) center = mean_of(c.points);
    rotate_points(c.points, r, center);
    if (c.normals.size() == c.points.size()) rotate_vectors(c.normals, r);
    return return_self(self);
}

PyObject* pc_transform(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"transformation"};
    PyObject* a[1];
    if (!parse_args("transform", kNames, 1, 1, args, nargs, kwnames, a)) return nullptr;
    Mat4 t;
    if (!m4_from_any(a[0], &t)) return nullptr;
    WriteBorrow b(pc(self)->flag);
    if (!b) return nullptr;
    PointCloud& c = pc(self)->value;
    if (c.points.empty()) return return_self(self);
    transform_points(c.points, t);
    if (c.normals.size() == c.points.size()) transform_normals(c.normals, t);
    return return_self(self);
}

PyMethodDef pc_own_methods[] = {
    OMBRIX_NOARGS("__copy__", pc_copy, "__copy__($self)\n--\n\n"),
    OMBRIX_METHOD("__deepcopy__", pc_deepcopy, "__deepcopy__($self, _memo)\n--\n\n"),
    OMBRIX_NOARGS("is_empty", pc_is_empty, "is_empty($self)\n--\n\n"),
    OMBRIX_NOARGS("dimension", pc_dimension, "dimension($self)\n--\n\n"),
    OMBRIX_NOARGS("get_geometry_type", pc_geometry_type, "get_geometry_type($self)\n--\n\n"),
    OMBRIX_NOARGS("has_points", pc_has_points, "has_points($self)\n--\n\n"),
    OMBRIX_NOARGS("has_normals", pc_has_normals, "has_normals($self)\n--\n\n"),
    OMBRIX_NOARGS("has_colors", pc_has_colors, "has_colors($self)\n--\n\n"),
    OMBRIX_NOARGS("get_min_bound", pc_min_bound, "get_min_bound($self)\n--\n\n"),
    OMBRIX_NOARGS("get_max_bound", pc_max_bound, "get_max_bound($self)\n--\n\n"),
    OMBRIX_NOARGS("get_center", pc_center, "get_center($self)\n--\n\n"),
    OMBRIX_NOARGS("clear", pc_clear, "clear($self)\n--\n\n"),
    OMBRIX_NOARGS("normalize_normals", pc_normalize_normals, "normalize_normals($self)\n--\n\n"),
    OMBRIX_METHOD("paint_uniform_color", pc_paint_uniform_color, "paint_uniform_color($self, color)\n--\n\n"),
    OMBRIX_METHOD("translate", pc_translate, "translate($self, translation, relative=True)\n--\n\n"),
    OMBRIX_METHOD("scale", pc_scale, "scale($self, scale, center)\n--\n\n"),
    OMBRIX_METHOD("rotate", pc_rotate, "rotate($self, r, center=None)\n--\n\n"),
    OMBRIX_METHOD("transform", pc_transform, "transform($self, transformation)\n--\n\n"),
    OMBRIX_END,
};

PyTypeObject* build_point_cloud_type() {
    PyTypeObject* base = geometry3d_type();
    if (!base) return nullptr;
    // Own members first, then those of the processing and sampling files.
    static std::vector<PyMethodDef> methods;
    if (methods.empty()) {
        for (PyMethodDef* table : {pc_own_methods, point_cloud_processing_methods, point_cloud_sampling_methods})
            for (PyMethodDef* d = table; d->ml_name; ++d) methods.push_back(*d);
        methods.push_back(OMBRIX_END);
    }
    TypeDef d;
    d.name = "ombrix.cpu.pybind.geometry.PointCloud";
    d.doc = "PointCloud(other=None)\n--\n\n";
    d.base = base;
    d.subclassable = true;
    d.basicsize = sizeof(PyPointCloud);
    d.slots = {
        {Py_tp_new, reinterpret_cast<void*>(pc_new)},
        {Py_tp_init, reinterpret_cast<void*>(pc_init)},
        {Py_tp_dealloc, reinterpret_cast<void*>(pc_dealloc)},
        {Py_tp_repr, reinterpret_cast<void*>(pc_repr)},
        {Py_tp_methods, methods.data()},
        {Py_tp_getset, pc_getset},
    };
    return make_type(d);
}

}  // namespace

OMBRIX_TYPE_GETTER(point_cloud_type, build_point_cloud_type)

PyObject* wrap_point_cloud(PointCloud&& cloud) { return alloc_cloud(point_cloud_type(), std::move(cloud)); }

}  // namespace ombrix::py
