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
#include "geometry_methods.h"
#include "geometry_objects.h"

namespace ombrix::py {

namespace {

PyPointCloud* pc(PyObject* o) { return reinterpret_cast<PyPointCloud*>(o); }

PyObject* pc_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return geom::new_from_other<PyPointCloud, point_cloud_type>("PointCloud", type, args, kwargs);
}

// Construction happens in tp_new; __init__ accepts the same arguments so that
// subclasses may call super().__init__(other).
int pc_init(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* const kNames[] = {"other"};
    PyObject* a[1];
    return parse_tuple_args("PointCloud", kNames, 1, 0, args, kwargs, a) ? 0 : -1;
}

PyObject* pc_repr(PyObject* self) {
    return read_record<PyPointCloud>(self, [](const PointCloud& c) {
        return str_from("PointCloud with " + std::to_string(c.points.size()) + " points.");
    });
}

// ---- properties ----

PyGetSetDef pc_getset[] = {
    geom::view_property<PyPointCloud, &PointCloud::points, kPcdPoints>("points"),
    geom::view_property<PyPointCloud, &PointCloud::normals, kPcdNormals>("normals"),
    geom::view_property<PyPointCloud, &PointCloud::colors, kPcdColors>("colors"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---- queries ----

PyObject* pc_is_empty(PyObject* self, PyObject*) {
    return read_record<PyPointCloud>(self, [](const PointCloud& c) { return PyBool_FromLong(c.points.empty()); });
}
PyObject* pc_has_points(PyObject* self, PyObject*) {
    return read_record<PyPointCloud>(self, [](const PointCloud& c) { return PyBool_FromLong(c.has_points()); });
}
PyObject* pc_has_normals(PyObject* self, PyObject*) {
    return read_record<PyPointCloud>(self, [](const PointCloud& c) { return PyBool_FromLong(c.has_normals()); });
}
PyObject* pc_has_colors(PyObject* self, PyObject*) {
    return read_record<PyPointCloud>(self, [](const PointCloud& c) { return PyBool_FromLong(c.has_colors()); });
}

// ---- modifiers ----

void clear_cloud(PointCloud& c) {
    c.points.clear();  // buffers are kept: shared arrays stay valid
    c.normals.clear();
    c.colors.clear();
}

void normalize_cloud_normals(PointCloud& c) {
    for (Vec3& n : c.normals) n = stable_normalize(n, kUnitZFallback);
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
    return geom::modify<PyPointCloud>(self, [&](PointCloud& c) {
        size_t n = c.points.size();
        pc(self)->shared.reserve(kPcdColors, c.colors, n);
        c.colors.assign(n, color);
    });
}

// Transforms move the points; normals (when there is one per point) turn with
// them. An empty cloud is left as it is.
void translate_cloud(PointCloud& c, const Vec3& t, bool relative) { translate_points(c.points, t, relative); }

void scale_cloud(PointCloud& c, double s, const Vec3& center) { scale_points(c.points, s, center); }

void rotate_cloud(PointCloud& c, const Mat3& r, const Vec3* center) {
    if (c.points.empty()) return;
    rotate_points(c.points, r, center ? *center : mean_of(c.points));
    if (c.normals.size() == c.points.size()) rotate_vectors(c.normals, r);
}

void transform_cloud(PointCloud& c, const Mat4& t) {
    if (c.points.empty()) return;
    transform_points(c.points, t);
    if (c.normals.size() == c.points.size()) transform_normals(c.normals, t);
}

PyMethodDef pc_own_methods[] = {
    geom::copy_def<PyPointCloud, wrap_point_cloud>(),
    geom::deepcopy_def<PyPointCloud, wrap_point_cloud>(),
    OMBRIX_NOARGS("is_empty", pc_is_empty, "is_empty($self)\n--\n\n"),
    geom::dimension_def<PyPointCloud>(),
    geom::geometry_type_def<PyPointCloud, 1>(),
    OMBRIX_NOARGS("has_points", pc_has_points, "has_points($self)\n--\n\n"),
    OMBRIX_NOARGS("has_normals", pc_has_normals, "has_normals($self)\n--\n\n"),
    OMBRIX_NOARGS("has_colors", pc_has_colors, "has_colors($self)\n--\n\n"),
    OMBRIX_NOARGS("get_min_bound", (geom::min_bound<PyPointCloud, &PointCloud::points>),
                  "get_min_bound($self)\n--\n\n"),
    OMBRIX_NOARGS("get_max_bound", (geom::max_bound<PyPointCloud, &PointCloud::points>),
                  "get_max_bound($self)\n--\n\n"),
    OMBRIX_NOARGS("get_center", (geom::center<PyPointCloud, &PointCloud::points>), "get_center($self)\n--\n\n"),
    OMBRIX_NOARGS("clear", (geom::modifier<PyPointCloud, clear_cloud>), "clear($self)\n--\n\n"),
    OMBRIX_NOARGS("normalize_normals", (geom::modifier<PyPointCloud, normalize_cloud_normals>),
                  "normalize_normals($self)\n--\n\n"),
    OMBRIX_METHOD("paint_uniform_color", pc_paint_uniform_color, "paint_uniform_color($self, color)\n--\n\n"),
    geom::translate_def<PyPointCloud, translate_cloud>(),
    geom::scale_def<PyPointCloud, scale_cloud>(),
    geom::rotate_def<PyPointCloud, rotate_cloud>(),
    geom::transform_def<PyPointCloud, transform_cloud>(),
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
        {Py_tp_dealloc, reinterpret_cast<void*>(geom::dealloc_shared<PyPointCloud>)},
        {Py_tp_repr, reinterpret_cast<void*>(pc_repr)},
        {Py_tp_methods, methods.data()},
        {Py_tp_getset, pc_getset},
    };
    return make_type(d);
}

}  // namespace

OMBRIX_TYPE_GETTER(point_cloud_type, build_point_cloud_type)

PyObject* wrap_point_cloud(PointCloud&& cloud) {
    return geom::alloc_shared<PyPointCloud>(point_cloud_type(), std::move(cloud));
}

}  // namespace ombrix::py
