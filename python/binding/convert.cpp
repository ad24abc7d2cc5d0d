#include "binding/convert.h"

#include <cstring>

#include "binding/numpy.h"
#include "binding/ref.h"

namespace ombrix::py {

namespace {

bool is_float64_array(PyObject* o) {
    return PyArray_Check(o) && PyArray_EquivTypenums(PyArray_TYPE(reinterpret_cast<PyArrayObject*>(o)), NPY_FLOAT64);
}

// Fixed-length float vector from a contiguous float64 array or a sequence.
// Returns 1 on success, 0 when the length differs (no exception), -1 on error.
int fixed_from_any(PyObject* o, double* out, Py_ssize_t len) {
    if (is_float64_array(o)) {
        PyArrayObject* a = reinterpret_cast<PyArrayObject*>(o);
        if (!PyArray_IS_C_CONTIGUOUS(a) && !PyArray_IS_F_CONTIGUOUS(a)) {
            PyErr_SetString(PyExc_TypeError, "The given array is not contiguous");
            return -1;
        }
        if (PyArray_SIZE(a) == len) {
            std::memcpy(out, PyArray_DATA(a), sizeof(double) * len);
            return 1;
        }
    }
    if (PyUnicode_Check(o)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to a sequence of floats");
        return -1;
    }
    if (!PySequence_Check(o)) {
        PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to a sequence of floats", Py_TYPE(o)->tp_name);
        return -1;
    }
    Py_ssize_t n = PySequence_Size(o);
    if (n < 0) return -1;
    // Convert every item first, as a sequence of floats, then check the length.
    std::vector<double> vals(static_cast<size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref item(PySequence_GetItem(o, i));
        if (!item) return -1;
        double v = PyFloat_AsDouble(item.get());
        if (v == -1.0 && PyErr_Occurred()) {
            if (PyErr_ExceptionMatches(PyExc_TypeError)) {
                PyErr_Clear();
                PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to float", Py_TYPE(item.get())->tp_name);
            }
            return -1;
        }
        vals[static_cast<size_t>(i)] = v;
    }
    if (n != len) return 0;
    std::memcpy(out, vals.data(), sizeof(double) * len);
    return 1;
}

bool matrix_from_any(PyObject* o, double* out, int dim, const char* wrong_size) {
    if (!is_float64_array(o) || PyArray_NDIM(reinterpret_cast<PyArrayObject*>(o)) != 2) {
        PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to a 2-dimensional float64 array",
                     Py_TYPE(o)->tp_name);
        return false;
    }
    PyArrayObject* a = reinterpret_cast<PyArrayObject*>(o);
    if (PyArray_DIM(a, 0) != dim || PyArray_DIM(a, 1) != dim) {
        PyErr_SetString(PyExc_TypeError, wrong_size);
        return false;
    }
    const char* base = static_cast<const char*>(PyArray_DATA(a));
    npy_intp s0 = PyArray_STRIDE(a, 0), s1 = PyArray_STRIDE(a, 1);
    for (int r = 0; r < dim; ++r)
        for (int c = 0; c < dim; ++c) std::memcpy(&out[r * dim + c], base + r * s0 + c * s1, sizeof(double));
    return true;
}

}  // namespace

bool v3_from_any(PyObject* o, Vec3* out) {
    int r = fixed_from_any(o, out->data(), 3);
    if (r == 0) PyErr_SetString(PyExc_TypeError, "expected 3-vector");
    return r == 1;
}

bool v4_from_any(PyObject* o, Vec4* out) {
    int r = fixed_from_any(o, out->data(), 4);
    if (r == 0) PyErr_SetString(PyExc_TypeError, "expected 4-vector");
    return r == 1;
}

bool m3_from_any(PyObject* o, Mat3* out) { return matrix_from_any(o, out->data(), 3, "expected 3x3 matrix"); }
bool m4_from_any(PyObject* o, Mat4* out) { return matrix_from_any(o, out->data(), 4, "expected 4x4 matrix"); }

PyObject* array2d_from_doubles(const double* data, long rows, long cols) {
    npy_intp dims[2] = {rows, cols};
    PyObject* arr = PyArray_SimpleNew(2, dims, NPY_FLOAT64);
    if (!arr) return nullptr;
    if (rows > 0 && cols > 0) std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(arr)), data, sizeof(double) * rows * cols);
    return arr;
}

PyObject* array_from_doubles(const double* data, long n) {
    npy_intp dims[1] = {n};
    PyObject* arr = PyArray_SimpleNew(1, dims, NPY_FLOAT64);
    if (!arr) return nullptr;
    if (n) std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(arr)), data, sizeof(double) * n);
    return arr;
}

PyObject* array_from_v3(const Vec3& v) { return array_from_doubles(v.data(), 3); }
PyObject* array_from_m3(const Mat3& m) { return array2d_from_doubles(m.data(), 3, 3); }
PyObject* array_from_m4(const Mat4& m) { return array2d_from_doubles(m.data(), 4, 4); }

}  // namespace ombrix::py
