// CorrespondenceChecker and its three subclasses: one layout, the kind fixed
// by the subclass's constructor; Check runs the core test of that kind.
#include <string>

#include "binding/args.h"
#include "binding/convert.h"
#include "binding/errors.h"
#include "binding/types.h"
#include "classes.h"
#include "core/numtext.h"
#include "registration_methods.h"

namespace ombrix::py {
namespace {

using Checker = PyCorrespondenceChecker;

PyObject* new_checker(PyTypeObject* type, CorrespondenceCheckerKind kind, double threshold) {
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    Checker* c = reinterpret_cast<Checker*>(self);
    new (&c->flag) BorrowFlag();
    c->value.kind = kind;
    c->value.threshold = threshold;
    return self;
}

// Constructor: one threshold parameter, optional only for the edge-length checker.
template <CorrespondenceCheckerKind Kind>
PyObject* checker_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* const kEdge[] = {"similarity_threshold"};
    static const char* const kDistance[] = {"distance_threshold"};
    static const char* const kNormal[] = {"normal_angle_threshold"};
    const char* fname;
    const char* const* names;
    int required = 1;
    double threshold = 0.9;
    switch (Kind) {
        case CorrespondenceCheckerKind::EdgeLength:
            fname = "CorrespondenceCheckerBasedOnEdgeLength";
            names = kEdge;
            required = 0;
            break;
        case CorrespondenceCheckerKind::Distance:
            fname = "CorrespondenceCheckerBasedOnDistance";
            names = kDistance;
            break;
        default:
            fname = "CorrespondenceCheckerBasedOnNormal";
            names = kNormal;
            break;
    }
    PyObject* a[1];
    if (!parse_tuple_args(fname, names, 1, required, args, kwargs, a)) return nullptr;
    if (a[0] && !to_double(a[0], names[0], &threshold)) return nullptr;
    return new_checker(type, Kind, threshold);
}

PyObject* get_threshold(PyObject* self, void*) {
    return read_record<Checker>(self, [](const CorrespondenceChecker& c) { return PyFloat_FromDouble(c.threshold); });
}

PyObject* get_require_alignment(PyObject* self, void*) {
    return read_record<Checker>(self, [](const CorrespondenceChecker& c) {
        return PyBool_FromLong(c.kind == CorrespondenceCheckerKind::Distance);
    });
}

std::string checker_text(const CorrespondenceChecker& c) {
    const char* prefix;
    switch (c.kind) {
        case CorrespondenceCheckerKind::EdgeLength:
            prefix = "CorrespondenceCheckerBasedOnEdgeLength with similarity_threshold=";
            break;
        case CorrespondenceCheckerKind::Distance:
            prefix = "CorrespondenceCheckerBasedOnDistance with distance_threshold=";
            break;
        default:
            prefix = "CorrespondenceCheckerBasedOnNormal with normal_threshold=";
            break;
    }
    return prefix + fixed_text(c.threshold, 6);
}

PyObject* checker_repr(PyObject* self) {
    return read_record<Checker>(self, [](const CorrespondenceChecker& c) { return str_from(checker_text(c)); });
}

// A new object of self's own class with the same kind and threshold.
PyObject* checker_copy_value(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    return read_record<Checker>(
        self, [type](const CorrespondenceChecker& c) { return new_checker(type, c.kind, c.threshold); });
}

PyObject* checker_copy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    if (!parse_args("__copy__", nullptr, 0, 0, args, nargs, kw, nullptr)) return nullptr;
    return checker_copy_value(self);
}

PyObject* checker_deepcopy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static const char* const names[] = {"_m"};
    PyObject* a[1];
    if (!parse_args("__deepcopy__", names, 1, 1, args, nargs, kw, a)) return nullptr;
    return checker_copy_value(self);
}

PyObject* checker_check(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    static const char* const names[] = {"source", "target", "corres", "transformation"};
    PyObject* a[4];
    if (!parse_args("Check", names, 4, 4, args, nargs, kw, a)) return nullptr;
    if (!check_instance(a[0], point_cloud_type(), "source") || !check_instance(a[1], point_cloud_type(), "target") ||
        !check_instance(a[2], vector2i_vector_type(), "corres"))
        return nullptr;
    Mat4 t;
    if (!m4_from_any(a[3], &t)) return nullptr;
    CloudArg source, target;
    CorrespondenceSet corres;
    if (!borrow_cloud(a[0], "source", &source) || !borrow_cloud(a[1], "target", &target) ||
        !corres_from(a[2], "corres", &corres))
        return nullptr;
    Checker* c = reinterpret_cast<Checker*>(self);
    ReadBorrow b(c->flag);
    if (!b) return nullptr;
    Status valid = validate_correspondences(source.cloud->points.size(), target.cloud->points.size(), corres);
    if (!valid) return raise(PyExc_ValueError, valid.error());
    return PyBool_FromLong(check_unchecked(c->value, *source.cloud, *target.cloud, corres, t));
}

PyMethodDef base_methods[] = {
    OMBRIX_METHOD("Check", checker_check, "Check($self, source, target, corres, transformation)\n--\n\n"),
    OMBRIX_END,
};

PyMethodDef subclass_methods[] = {
    OMBRIX_METHOD("__copy__", checker_copy, "__copy__($self)\n--\n\n"),
    OMBRIX_METHOD("__deepcopy__", checker_deepcopy, "__deepcopy__($self, _m)\n--\n\n"),
    OMBRIX_END,
};

PyGetSetDef base_getset[] = {
    {"require_pointcloud_alignment_", get_require_alignment, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyGetSetDef edge_getset[] = {
    {"similarity_threshold", get_threshold, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};
PyGetSetDef distance_getset[] = {
    {"distance_threshold", get_threshold, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};
PyGetSetDef normal_getset[] = {
    {"normal_angle_threshold", get_threshold, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject* build_correspondence_checker_type() {
    TypeDef d;
    d.name = "ombrix.cpu.pybind.pipelines.registration.CorrespondenceChecker";
    d.subclassable = true;
    d.constructible = false;
    d.basicsize = sizeof(Checker);
    d.slots = {
        {Py_tp_methods, base_methods},
        {Py_tp_getset, base_getset},
    };
    return make_type(d);
}

PyTypeObject* build_subclass(const char* name, const char* doc, newfunc tp_new, PyGetSetDef* getset) {
    PyTypeObject* base = correspondence_checker_type();
    if (!base) return nullptr;
    TypeDef d;
    d.name = name;
    d.doc = doc;
    d.base = base;
    d.subclassable = false;
    d.basicsize = sizeof(Checker);
    d.slots = {
        {Py_tp_new, reinterpret_cast<void*>(tp_new)},
        {Py_tp_repr, reinterpret_cast<void*>(checker_repr)},
        {Py_tp_methods, subclass_methods},
        {Py_tp_getset, getset},
    };
    return make_type(d);
}

PyTypeObject* build_correspondence_checker_edge_length_type() {
    return build_subclass("ombrix.cpu.pybind.pipelines.registration.CorrespondenceCheckerBasedOnEdgeLength",
                          "CorrespondenceCheckerBasedOnEdgeLength(similarity_threshold=0.9)\n--\n\n",
                          checker_new<CorrespondenceCheckerKind::EdgeLength>, edge_getset);
}
PyTypeObject* build_correspondence_checker_distance_type() {
    return build_subclass("ombrix.cpu.pybind.pipelines.registration.CorrespondenceCheckerBasedOnDistance",
                          "CorrespondenceCheckerBasedOnDistance(distance_threshold)\n--\n\n",
                          checker_new<CorrespondenceCheckerKind::Distance>, distance_getset);
}
PyTypeObject* build_correspondence_checker_normal_type() {
    return build_subclass("ombrix.cpu.pybind.pipelines.registration.CorrespondenceCheckerBasedOnNormal",
                          "CorrespondenceCheckerBasedOnNormal(normal_angle_threshold)\n--\n\n",
                          checker_new<CorrespondenceCheckerKind::Normal>, normal_getset);
}

}  // namespace

OMBRIX_TYPE_GETTER(correspondence_checker_type, build_correspondence_checker_type)
OMBRIX_TYPE_GETTER(correspondence_checker_edge_length_type, build_correspondence_checker_edge_length_type)
OMBRIX_TYPE_GETTER(correspondence_checker_distance_type, build_correspondence_checker_distance_type)
OMBRIX_TYPE_GETTER(correspondence_checker_normal_type, build_correspondence_checker_normal_type)

}  // namespace ombrix::py
