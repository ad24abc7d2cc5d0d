// TransformationEstimation and its two subclasses: one layout holding the
// estimation kind. The base class carries compute_rmse and
// compute_transformation; the subclasses set the kind on construction.
#include <string>

#include "binding/args.h"
#include "binding/convert.h"
#include "binding/errors.h"
#include "binding/types.h"
#include "classes.h"
#include "registration_methods.h"

namespace ombrix::py {
namespace {

using Estimation = PyTransformationEstimation;

PyObject* new_estimation(PyTypeObject* type, TransformationEstimationKind kind) {
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    Estimation* e = reinterpret_cast<Estimation*>(self);
    new (&e->flag) BorrowFlag();
    e->kind = kind;
    return self;
}

PyObject* point_to_point_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* const names[] = {"with_scaling"};
    PyObject* a[1];
    if (!parse_tuple_args("TransformationEstimationPointToPoint", names, 1, 0, args, kwargs, a)) return nullptr;
    bool scaling = false;
    if (a[0] && !to_bool(a[0], "with_scaling", &scaling)) return nullptr;
    return new_estimation(type, scaling ? TransformationEstimationKind::PointToPointWithScaling
                                        : TransformationEstimationKind::PointToPoint);
}

PyObject* point_to_plane_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    if (!parse_tuple_args("TransformationEstimationPointToPlane", nullptr, 0, 0, args, kwargs, nullptr))
        return nullptr;
    return new_estimation(type, TransformationEstimationKind::PointToPlane);
}

bool read_kind(PyObject* self, TransformationEstimationKind* out) {
    Estimation* e = reinterpret_cast<Estimation*>(self);
    ReadBorrow b(e->flag);
    if (!b) return false;
    *out = e->kind;
    return true;
}

// Shared front half of compute_rmse / compute_transformation: argument
// checks, borrows and validation of the pairs (ValueError on a bad pair).
struct EstimationCall {
    TransformationEstimationKind kind;
    CloudArg source, target;
    CorrespondenceSet corres;
};

bool begin_call(const char* fname, PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw,
                EstimationCall* call) {
    static const char* const names[] = {"source", "target", "corres"};
    PyObject* a[3];
    if (!parse_args(fname, names, 3, 3, args, nargs, kw, a)) return false;
    if (!check_instance(a[0], point_cloud_type(), "source") || !check_instance(a[1], point_cloud_type(), "target") ||
        !check_instance(a[2], vector2i_vector_type(), "corres"))
        return false;
    if (!read_kind(self, &call->kind)) return false;
    if (!borrow_cloud(a[0], "source", &call->source) || !borrow_cloud(a[1], "target", &call->target) ||
        !corres_from(a[2], "corres", &call->corres))
        return false;
    Status valid = validate_correspondences(call->source.cloud->points.size(), call->target.cloud->points.size(),
                                            call->corres);
    if (!valid) {
        PyErr_SetString(PyExc_ValueError, valid.error().c_str());
        return false;
    }
    return true;
}

PyObject* compute_rmse_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    EstimationCall c;
    if (!begin_call("compute_rmse", self, args, nargs, kw, &c)) return nullptr;
    return PyFloat_FromDouble(compute_rmse_unchecked(c.kind, *c.source.cloud, *c.target.cloud, c.corres));
}

PyObject* compute_transformation_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    EstimationCall c;
    if (!begin_call("compute_transformation", self, args, nargs, kw, &c)) return nullptr;
    return array_from_m4(compute_transformation_unchecked(c.kind, *c.source.cloud, *c.target.cloud, c.corres));
}

PyObject* copy_value(PyObject* self) {
    TransformationEstimationKind kind;
    if (!read_kind(self, &kind)) return nullptr;
    return new_estimation(Py_TYPE(self), kind);
}

PyObject* estimation_copy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    if (!parse_args("__copy__", nullptr, 0, 0, args, nargs, kw, nullptr)) return nullptr;
    return copy_value(self);
}

PyObject* estimation_deepcopy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static const char* const names[] = {"_memo"};
    PyObject* a[1];
    if (!parse_args("__deepcopy__", names, 1, 1, args, nargs, kw, a)) return nullptr;
    return copy_value(self);
}

PyObject* get_with_scaling(PyObject* self, void*) {
    TransformationEstimationKind kind;
    if (!read_kind(self, &kind)) return nullptr;
    return PyBool_FromLong(kind == TransformationEstimationKind::PointToPointWithScaling);
}

int set_with_scaling(PyObject* self, PyObject* value, void*) {
    if (!value) return refuse_delete();
    bool scaling;
    if (!to_bool(value, "with_scaling", &scaling)) return -1;
    Estimation* e = reinterpret_cast<Estimation*>(self);
    WriteBorrow b(e->flag);
    if (!b) return -1;
    e->kind = scaling ? TransformationEstimationKind::PointToPointWithScaling : TransformationEstimationKind::PointToPoint;
    return 0;
}

PyObject* point_to_point_repr(PyObject* self) {
    TransformationEstimationKind kind;
    if (!read_kind(self, &kind)) return nullptr;
    return PyUnicode_FromString(kind == TransformationEstimationKind::PointToPointWithScaling
                                    ? "TransformationEstimationPointToPoint(with_scaling=True)"
                                    : "TransformationEstimationPointToPoint(with_scaling=False)");
}

PyObject* point_to_plane_repr(PyObject* self) {
    return PyUnicode_FromString("TransformationEstimationPointToPlane");
}

PyMethodDef base_methods[] = {
    OMBRIX_METHOD("compute_rmse", compute_rmse_method, "compute_rmse($self, source, target, corres)\n--\n\n"),
    OMBRIX_METHOD("compute_transformation", compute_transformation_method,
                  "compute_transformation($self, source, target, corres)\n--\n\n"),
    OMBRIX_END,
};

PyMethodDef subclass_methods[] = {
    OMBRIX_METHOD("__copy__", estimation_copy, "__copy__($self)\n--\n\n"),
    OMBRIX_METHOD("__deepcopy__", estimation_deepcopy, "__deepcopy__($self, _memo)\n--\n\n"),
    OMBRIX_END,
};

PyGetSetDef point_to_point_getset[] = {
    {"with_scaling", get_with_scaling, set_with_scaling, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject* build_transformation_estimation_type() {
    TypeDef d;
    d.name = "ombrix.cpu.pybind.pipelines.registration.TransformationEstimation";
    d.subclassable = true;
    d.constructible = false;
    d.basicsize = sizeof(Estimation);
    d.slots = {{Py_tp_methods, base_methods}};
    return make_type(d);
}

PyTypeObject* build_transformation_estimation_point_to_point_type() {
    PyTypeObject* base = transformation_estimation_type();
    if (!base) return nullptr;
    TypeDef d;
    d.name = "ombrix.cpu.pybind.pipelines.registration.TransformationEstimationPointToPoint";
    d.doc = "TransformationEstimationPointToPoint(with_scaling=False)\n--\n\n";
    d.base = base;
    d.basicsize = sizeof(Estimation);
    d.slots = {
        {Py_tp_new, reinterpret_cast<void*>(point_to_point_new)},
        {Py_tp_repr, reinterpret_cast<void*>(point_to_point_repr)},
        {Py_tp_methods, subclass_methods},
        {Py_tp_getset, point_to_point_getset},
    };
    return make_type(d);
}

PyTypeObject* build_transformation_estimation_point_to_plane_type() {
    PyTypeObject* base = transformation_estimation_type();
    if (!base) return nullptr;
    TypeDef d;
    d.name = "ombrix.cpu.pybind.pipelines.registration.TransformationEstimationPointToPlane";
    d.doc = "TransformationEstimationPointToPlane()\n--\n\n";
    d.base = base;
    d.basicsize = sizeof(Estimation);
    d.slots = {
        {Py_tp_new, reinterpret_cast<void*>(point_to_plane_new)},
        {Py_tp_repr, reinterpret_cast<void*>(point_to_plane_repr)},
        {Py_tp_methods, subclass_methods},
    };
    return make_type(d);
}

}  // namespace

OMBRIX_TYPE_GETTER(transformation_estimation_type, build_transformation_estimation_type)
OMBRIX_TYPE_GETTER(transformation_estimation_point_to_point_type, build_transformation_estimation_point_to_point_type)
OMBRIX_TYPE_GETTER(transformation_estimation_point_to_plane_type, build_transformation_estimation_point_to_plane_type)

}  // namespace ombrix::py
