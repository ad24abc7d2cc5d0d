// Parsers of the transform signatures every geometry class shares.
#include "geometry_methods.h"

namespace ombrix::py::geom {

bool parse_translate(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, TranslateArgs* out) {
    static const char* const kNames[] = {"translation", "relative"};
    PyObject* a[2];
    if (!parse_args("translate", kNames, 2, 1, args, nargs, kwnames, a)) return false;
    if (!v3_from_any(a[0], &out->translation)) return false;
    out->relative = true;
    return !a[1] || to_bool(a[1], "relative", &out->relative);
}

bool parse_scale(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, ScaleArgs* out) {
    static const char* const kNames[] = {"scale", "center"};
    PyObject* a[2];
    if (!parse_args("scale", kNames, 2, 2, args, nargs, kwnames, a)) return false;
    return to_double(a[0], "scale", &out->scale) && v3_from_any(a[1], &out->center);
}

bool parse_rotate(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, RotateArgs* out) {
    static const char* const kNames[] = {"r", "center"};
    PyObject* a[2];
    if (!parse_args("rotate", kNames, 2, 1, args, nargs, kwnames, a)) return false;
    out->has_center = !missing_or_none(a[1]);
    if (!m3_from_any(a[0], &out->r)) return false;
    return !out->has_center || v3_from_any(a[1], &out->center);
}

bool parse_transform(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Mat4* out) {
    static const char* const kNames[] = {"transformation"};
    PyObject* a[1];
    if (!parse_args("transform", kNames, 1, 1, args, nargs, kwnames, a)) return false;
    return m4_from_any(a[0], out);
}

bool parse_memo(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"_memo"};
    PyObject* a[1];
    return parse_args("__deepcopy__", kNames, 1, 1, args, nargs, kwnames, a);
}

}  // namespace ombrix::py::geom
