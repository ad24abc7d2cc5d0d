// Geometric argument conversions and small-array results.
#pragma once
#include <string>
#include <vector>

#include "binding/common.h"
#include "core/linalg.h"

namespace ombrix::py {

// A float64 array of any shape with exactly 3 elements in C or Fortran order,
// else any sequence of 3 numbers. TypeError "expected 3-vector" for a wrong
// length. Errors carry no parameter name.
bool v3_from_any(PyObject* o, Vec3* out);
// Same rules with 4 elements, TypeError "expected 4-vector".
bool v4_from_any(PyObject* o, Vec4* out);
// A 2-D float64 array of shape (3, 3) / (4, 4), read through its strides.
bool m3_from_any(PyObject* o, Mat3* out);
bool m4_from_any(PyObject* o, Mat4* out);

// New float64 arrays owning a copy: shape (3,), (3, 3), (4, 4), (n,) and (rows, cols).
PyObject* array_from_v3(const Vec3& v);
PyObject* array_from_m3(const Mat3& m);
PyObject* array_from_m4(const Mat4& m);
PyObject* array_from_doubles(const double* data, long n);
PyObject* array2d_from_doubles(const double* data, long rows, long cols);

// A new str from UTF-8 text (reprs and printed summaries).
inline PyObject* str_from(const std::string& s) {
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

}  // namespace ombrix::py
