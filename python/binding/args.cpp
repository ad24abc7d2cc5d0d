#include "binding/args.h"

#include <climits>
#include <cstring>

#include "binding/numpy.h"

namespace ombrix::py {

namespace {

bool fill_keyword(const char* fname, const char* const* names, int nparams, PyObject* key, PyObject* value,
                  PyObject** out) {
    if (!PyUnicode_Check(key)) {
        PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", fname);
        return false;
    }
    const char* k = PyUnicode_AsUTF8(key);
    if (!k) return false;
    for (int i = 0; i < nparams; ++i) {
        if (std::strcmp(k, names[i]) == 0) {
            if (out[i]) {
                PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", fname, names[i]);
                return false;
            }
            out[i] = value;
            return true;
        }
    }
    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%s'", fname, k);
    return false;
}

bool check_positional(const char* fname, int nparams, Py_ssize_t nargs) {
    if (nargs > nparams) {
        if (nparams == 0)
            PyErr_Format(PyExc_TypeError, "%s() takes no arguments (%zd given)", fname, nargs);
        else
            PyErr_Format(PyExc_TypeError, "%s() takes at most %d argument%s (%zd given)", fname, nparams,
                         nparams == 1 ? "" : "s", nargs);
        return false;
    }
    return true;
}

bool check_required(const char* fname, const char* const* names, int nrequired, PyObject** out) {
    for (int i = 0; i < nrequired; ++i) {
        if (!out[i]) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %d)", fname, names[i], i + 1);
            return false;
        }
    }
    return true;
}

}  // namespace

bool parse_args(const char* fname, const char* const* names, int nparams, int nrequired, PyObject* const* args,
                Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
    nargs = PyVectorcall_NARGS(nargs);
    for (int i = 0; i < nparams; ++i) out[i] = nullptr;
    if (!check_positional(fname, nparams, nargs)) return false;
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
    if (kwnames) {
        Py_ssize_t nk = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t j = 0; j < nk; ++j)
            if (!fill_keyword(fname, names, nparams, PyTuple_GET_ITEM(kwnames, j), args[nargs + j], out))
                return false;
    }
    return check_required(fname, names, nrequired, out);
}

bool parse_tuple_args(const char* fname, const char* const* names, int nparams, int nrequired, PyObject* args,
                      PyObject* kwargs, PyObject** out) {
    for (int i = 0; i < nparams; ++i) out[i] = nullptr;
    Py_ssize_t nargs = args ? PyTuple_GET_SIZE(args) : 0;
    if (!check_positional(fname, nparams, nargs)) return false;
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = PyTuple_GET_ITEM(args, i);
    if (kwargs) {
        PyObject *key, *value;
        Py_ssize_t pos = 0;
        while (PyDict_Next(kwargs, &pos, &key, &value))
            if (!fill_keyword(fname, names, nparams, key, value, out)) return false;
    }
    return check_required(fname, names, nrequired, out);
}

void raise_arg_type(const char* param, const char* expected, PyObject* got) {
    PyErr_Format(PyExc_TypeError, "argument '%s': expected %s, got '%s'", param, expected, Py_TYPE(got)->tp_name);
}

bool to_bool(PyObject* o, const char* param, bool* out) {
    if (o == Py_True || o == Py_False) {
        *out = (o == Py_True);
        return true;
    }
    if (PyArray_IsScalar(o, Bool)) {
        *out = PyObject_IsTrue(o) == 1;
        return true;
    }
    raise_arg_type(param, "bool", o);
    return false;
}

bool to_double(PyObject* o, const char* param, double* out) {
    double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            raise_arg_type(param, "float", o);
        }
        return false;
    }
    *out = v;
    return true;
}

IntegerRead read_integer(PyObject* o, long long lo, long long hi, long long* out) {
    if (PyFloat_Check(o) || !PyIndex_Check(o)) return IntegerRead::kNotInteger;
    PyObject* idx = PyNumber_Index(o);
    if (!idx) return IntegerRead::kError;
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(idx, &overflow);
    Py_DECREF(idx);
    if (v == -1 && PyErr_Occurred()) return IntegerRead::kError;
    if (overflow || v < lo || v > hi) return IntegerRead::kOutOfRange;
    *out = v;
    return IntegerRead::kOk;
}

namespace {

// read_integer with the converters' errors, which name the parameter.
bool to_integer(PyObject* o, const char* param, long long lo, long long hi, long long* out) {
    switch (read_integer(o, lo, hi, out)) {
        case IntegerRead::kOk:
            return true;
        case IntegerRead::kNotInteger:
            raise_arg_type(param, "int", o);
            return false;
        case IntegerRead::kOutOfRange:
            PyErr_Format(PyExc_OverflowError, "argument '%s': integer out of range", param);
            return false;
        case IntegerRead::kError:
            break;
    }
    return false;
}

}  // namespace

bool to_int32(PyObject* o, const char* param, int32_t* out) {
    long long v;
    if (!to_integer(o, param, INT32_MIN, INT32_MAX, &v)) return false;
    *out = static_cast<int32_t>(v);
    return true;
}

bool to_uint32(PyObject* o, const char* param, uint32_t* out) {
    long long v;
    if (!to_integer(o, param, 0, UINT32_MAX, &v)) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

bool to_int64(PyObject* o, const char* param, int64_t* out) {
    long long v;
    if (!to_integer(o, param, LLONG_MIN, LLONG_MAX, &v)) return false;
    *out = v;
    return true;
}

bool to_uint64(PyObject* o, const char* param, uint64_t* out) {
    if (PyFloat_Check(o) || !PyIndex_Check(o)) {
        raise_arg_type(param, "int", o);
        return false;
    }
    PyObject* idx = PyNumber_Index(o);
    if (!idx) return false;
    unsigned long long v = PyLong_AsUnsignedLongLong(idx);
    Py_DECREF(idx);
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_OverflowError, "argument '%s': integer out of range", param);
        }
        return false;
    }
    *out = v;
    return true;
}

bool to_string(PyObject* o, const char* param, std::string* out) {
    if (!PyUnicode_Check(o)) {
        raise_arg_type(param, "str", o);
        return false;
    }
    Py_ssize_t n = 0;
    const char* s = PyUnicode_AsUTF8AndSize(o, &n);
    if (!s) return false;
    out->assign(s, static_cast<size_t>(n));
    return true;
}

bool check_instance(PyObject* o, PyTypeObject* type, const char* param) {
    if (PyObject_TypeCheck(o, type)) return true;
    const char* dot = std::strrchr(type->tp_name, '.');
    raise_arg_type(param, dot ? dot + 1 : type->tp_name, o);
    return false;
}

}  // namespace ombrix::py
