// Argument helpers shared by the registration bindings.
#include "binding/args.h"
#include "classes.h"
#include "geometry_objects.h"
#include "registration_methods.h"
#include "vectors.h"

namespace ombrix::py {

bool borrow_cloud(PyObject* o, const char* param, CloudArg* out) {
    if (!check_instance(o, point_cloud_type(), param)) return false;
    PyPointCloud* pc = reinterpret_cast<PyPointCloud*>(o);
    out->borrow.emplace(pc->flag);
    if (!*out->borrow) return false;
    out->cloud = &pc->value;
    return true;
}

bool corres_from(PyObject* o, const char* param, CorrespondenceSet* out) {
    if (!check_instance(o, vector2i_vector_type(), param)) return false;
    return extract_from(o, out);
}

bool estimation_kind_from(PyObject* o, const char* param, TransformationEstimationKind* out) {
    if (missing_or_none(o)) {
        *out = TransformationEstimationKind::PointToPoint;
        return true;
    }
    if (!check_instance(o, transformation_estimation_type(), param)) return false;
    PyTransformationEstimation* e = reinterpret_cast<PyTransformationEstimation*>(o);
    ReadBorrow b(e->flag);
    if (!b) return false;
    *out = e->kind;
    return true;
}

bool extract_checkers(PyObject* o, const char* param, CorrespondenceCheckerList* out) {
    out->clear();
    if (o == nullptr) return true;
    if (PyUnicode_Check(o) || PyBytes_Check(o) || !PySequence_Check(o)) {
        raise_arg_type(param, "a sequence of CorrespondenceChecker", o);
        return false;
    }
    Py_ssize_t n = PySequence_Size(o);
    if (n < 0) return false;
    PyTypeObject* base = correspondence_checker_type();
    if (!base) return false;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PySequence_GetItem(o, i);
        if (!item) return false;
        if (!PyObject_TypeCheck(item, base)) {
            PyErr_Format(PyExc_TypeError, "argument '%s': item %zd is not a CorrespondenceChecker (got '%s')", param,
                         i, Py_TYPE(item)->tp_name);
            Py_DECREF(item);
            return false;
        }
        PyCorrespondenceChecker* c = reinterpret_cast<PyCorrespondenceChecker*>(item);
        {
            ReadBorrow b(c->flag);
            if (!b) {
                Py_DECREF(item);
                return false;
            }
            out->push_back(c->value);
        }
        Py_DECREF(item);
    }
    return true;
}

}  // namespace ombrix::py
